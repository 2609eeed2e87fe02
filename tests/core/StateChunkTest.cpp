#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "StateChunk.h"

TEST(StateChunk, ValuesRoundTripAsLittleEndianBytes) {
  StateChunk c;
  EXPECT_EQ(c.Put(int32_t{0x70666674}), 4);
  EXPECT_EQ(c.Put(2.5), 12);
  EXPECT_EQ(c.Data()[0], 0x74);
  EXPECT_EQ(c.Data()[3], 0x70);
  int32_t i = 0;
  double d = 0;
  EXPECT_EQ(c.Get(&i, 0), 4);
  EXPECT_EQ(c.Get(&d, 4), 12);
  EXPECT_EQ(i, 0x70666674);
  EXPECT_EQ(d, 2.5);
}

TEST(StateChunk, ShortReadsFailAndLeaveTheTargetAlone) {
  StateChunk c;
  c.Put(int32_t{7});
  double d = 1.5;
  EXPECT_EQ(c.Get(&d, 0), -1);
  EXPECT_EQ(d, 1.5);
  int32_t i = 3;
  EXPECT_EQ(c.Get(&i, -4), -1);
  EXPECT_EQ(c.Get(&i, 1), -1);
  EXPECT_EQ(c.Get(&i, 0x7FFFFFFF), -1);
  EXPECT_EQ(i, 3);
}

TEST(StateChunk, StringsRoundTripAndHugeOrNegativeLengthsAreRefused) {
  StateChunk c;
  c.PutString("Punchy drums");
  char name[256] = "kept";
  EXPECT_EQ(c.GetString(name, sizeof name, 0), 4 + 12);
  EXPECT_STREQ(name, "Punchy drums");

  StateChunk bad;
  bad.Put(int32_t{0x7FFFFFF0});
  bad.PutBytes("abc", 3);
  strcpy(name, "kept");
  EXPECT_EQ(bad.GetString(name, sizeof name, 0), -1);
  EXPECT_STREQ(name, "kept");

  StateChunk negative;
  negative.Put(int32_t{-8});
  negative.PutBytes("abcdefgh", 8);
  EXPECT_EQ(negative.GetString(name, sizeof name, 0), -1);
  EXPECT_STREQ(name, "kept");
}

TEST(StateChunk, StringsStopAtAZeroByteAndAreCutToTheTarget) {
  StateChunk c;
  c.Put(int32_t{6});
  c.PutBytes("ab\0cde", 6);
  char name[8];
  EXPECT_EQ(c.GetString(name, sizeof name, 0), 10);
  EXPECT_STREQ(name, "ab");

  StateChunk longText;
  std::string text(300, 'x');
  longText.PutString(text.c_str());
  char slot[256];
  EXPECT_EQ(longText.GetString(slot, sizeof slot, 0), 304);
  EXPECT_EQ(strlen(slot), 255u);
}

TEST(StateChunk, GrowsInStepsThatLeaveRoomAndShrinksWhenCleared) {
  StateChunk c;
  c.Put(1.0);
  EXPECT_GE(c.Room(), 4096u - 96u);
  EXPECT_EQ((c.Room() + 96) % 4096, 0u);
  std::string big(100000, 'b');
  c.PutBytes(big.data(), big.size());
  EXPECT_EQ(c.Size(), 100008);
  EXPECT_EQ((c.Room() + 96) % 4096, 0u);
  EXPECT_GE(c.Room(), 100008u + 50004u);
  c.Clear();
  EXPECT_EQ(c.Size(), 0);
  EXPECT_EQ(c.Room(), 0u);
}

TEST(StateChunk, ResizeCutsAndZeroExtends) {
  StateChunk c;
  c.Put(int32_t{-1});
  ASSERT_TRUE(c.Resize(8));
  int32_t tail = 5;
  EXPECT_EQ(c.Get(&tail, 4), 8);
  EXPECT_EQ(tail, 0);
  ASSERT_TRUE(c.Resize(2));
  EXPECT_EQ(c.Size(), 2);
  EXPECT_FALSE(c.Resize(size_t{1} << 40));
}
