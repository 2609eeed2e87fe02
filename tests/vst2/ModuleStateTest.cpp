// Parameters, programs and chunks through the built module: what a host
// reads back after writing, and what it gets when it hands over bad data.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <limits>
#include <vector>

#include "ScriptedHost.h"

using namespace vst2;

namespace {

constexpr int kParams = 14;
constexpr int32_t kMagic = 0x70666674;

std::vector<float> AllValues(PluginInstance& plug) {
  std::vector<float> values;
  for (int i = 0; i < kParams; ++i) values.push_back(plug.Get(i));
  return values;
}

template <typename T>
T ReadAt(const std::vector<uint8_t>& bytes, size_t position) {
  T v{};
  memcpy(&v, bytes.data() + position, sizeof v);
  return v;
}

template <typename T>
void Append(std::vector<uint8_t>& bytes, T v) {
  const uint8_t* p = reinterpret_cast<const uint8_t*>(&v);
  bytes.insert(bytes.end(), p, p + sizeof v);
}

// Plain values of a state: the 14 doubles a program chunk carries.
std::vector<double> PlainValues(PluginInstance& plug) {
  std::vector<uint8_t> program = plug.Chunk(1);
  std::vector<double> plain;
  for (int i = 0; i < kParams; ++i) plain.push_back(ReadAt<double>(program, 8 + 8 * i));
  return plain;
}

class Vst2State : public ::testing::Test {
 protected:
  void SetUp() override { plug.Start(44100.0f, 512); }
  ScriptedHost host;
  PluginInstance plug{host};
};

}  // namespace

TEST_F(Vst2State, ParameterReadsBackWhatWasWrittenSnappedForSteppedOnes) {
  plug.Set(6, 0.37f);  // MIX: continuous, linear
  EXPECT_FLOAT_EQ(plug.Get(6), 0.37f);
  plug.Set(4, 0.4f);  // RATIO: 0..3 in steps of 1 -> 1
  EXPECT_FLOAT_EQ(plug.Get(4), 1.0f / 3.0f);
  plug.Set(2, 0.25f);  // ATTACK has a curve of shape 2
  EXPECT_FLOAT_EQ(plug.Get(2), 0.25f);
  // The change is not echoed back as automation: it came from the host.
  EXPECT_EQ(host.CountOf(audioMasterAutomate), 0);
}

TEST_F(Vst2State, OutOfRangeOrInvalidParameterWritesChangeNothing) {
  std::vector<float> before = AllValues(plug);
  plug.Set(14, 0.5f);
  plug.Set(-1, 0.5f);
  plug.Set(6, std::numeric_limits<float>::quiet_NaN());
  EXPECT_EQ(AllValues(plug), before);
  EXPECT_EQ(plug.Get(14), 0.0f);
  EXPECT_EQ(plug.Get(-1), 0.0f);
  // Beyond 0..1 is held at the ends.
  plug.Set(6, 7.0f);
  EXPECT_EQ(plug.Get(6), 1.0f);
  plug.Set(1, -3.0f);
  EXPECT_EQ(plug.Get(1), 0.0f);
  char text[64] = "untouched";
  EXPECT_EQ(plug.Dispatch(effGetParamName, 14, 0, text), 0);
  EXPECT_EQ(plug.Dispatch(effGetParamDisplay, -1, 0, text), 0);
  EXPECT_STREQ(text, "untouched");
}

TEST_F(Vst2State, TextToValueParsesNumbersAndProbesWithNull) {
  EXPECT_EQ(plug.Dispatch(effString2Parameter, 6, 0, nullptr), 1);
  EXPECT_EQ(plug.Dispatch(effString2Parameter, 14, 0, nullptr), 0);
  EXPECT_EQ(plug.Dispatch(effString2Parameter, 6, 0, const_cast<char*>("25")), 1);
  EXPECT_FLOAT_EQ(plug.Get(6), 0.25f);
  // Text that is not a value of the parameter is refused and changes nothing.
  std::vector<double> before = PlainValues(plug);
  for (auto [index, text] : std::vector<std::pair<int, const char*>>{
           {6, "abc"}, {5, "abc"}, {0, "on"}, {6, "0x10"}, {6, ""}, {6, "nan"}, {1, "inf"},
           {10, "0.5"}, {4, "-2.5"}, {13, "maybe"}, {7, "3 dB"}, {10, "O\nn"}})
    EXPECT_EQ(plug.Dispatch(effString2Parameter, index, 0, const_cast<char*>(text)), 0)
        << index << " " << text;
  EXPECT_EQ(PlainValues(plug), before);
  // Steps by their texts, by their numbers, and what the display shows.
  EXPECT_EQ(plug.Dispatch(effString2Parameter, 10, 0, const_cast<char*>("On")), 1);
  EXPECT_EQ(plug.Dispatch(effString2Parameter, 4, 0, const_cast<char*>("12:1")), 1);
  EXPECT_EQ(plug.Dispatch(effString2Parameter, 12, 0, const_cast<char*>("16x")), 1);
  EXPECT_EQ(plug.Dispatch(effString2Parameter, 13, 0, const_cast<char*>("EXT")), 1);
  EXPECT_EQ(plug.Dispatch(effString2Parameter, 2, 0, const_cast<char*>("0.5 ms")), 1);
  EXPECT_EQ(plug.Dispatch(effString2Parameter, 7, 0, const_cast<char*>("2.5kHz")), 1);
  std::vector<double> now = PlainValues(plug);
  EXPECT_EQ(now[10], 1.0);
  EXPECT_EQ(now[4], 2.0);
  EXPECT_EQ(now[12], 1.0);
  EXPECT_EQ(now[13], 0.0);
  EXPECT_DOUBLE_EQ(now[2], -0.0005);
  EXPECT_DOUBLE_EQ(now[7], 2500.0);
  char text[16];
  plug.Dispatch(effGetParamDisplay, 2, 0, text);
  EXPECT_STREQ(text, "0.50");
  plug.Dispatch(effGetParamLabel, 2, 0, text);
  EXPECT_STREQ(text, "ms");
  // Typed values are not snapped to the step.
  EXPECT_EQ(plug.Dispatch(effString2Parameter, 1, 0, const_cast<char*>("1.234567")), 1);
  EXPECT_NEAR(PlainValues(plug)[1], 1.234567, 1e-12);
  EXPECT_EQ(plug.Dispatch(effString2Parameter, 1, 0, const_cast<char*>("1e9")), 1);
  EXPECT_EQ(PlainValues(plug)[1], 30.0);
}

TEST_F(Vst2State, BankChunkHasTheHeaderAndTheCurrentProgramHoldsTheCurrentValues) {
  plug.Set(6, 0.5f);
  plug.Set(0, 0.25f);
  std::vector<uint8_t> bank = plug.Chunk(0);
  ASSERT_GE(bank.size(), 8u);
  EXPECT_EQ(ReadAt<int32_t>(bank, 0), kMagic);
  EXPECT_EQ(ReadAt<int32_t>(bank, 4), 0x10001) << "a bank that holds Default";
  int32_t nameLength = ReadAt<int32_t>(bank, 8);
  size_t used = 12 + static_cast<size_t>(nameLength);
  ASSERT_GT(bank.size(), used + 1 + 8 * kParams) << "seven programs, the current one first";
  EXPECT_EQ(bank[used], 1);
  std::vector<double> current = PlainValues(plug);
  for (int i = 0; i < kParams; ++i)
    EXPECT_EQ(ReadAt<double>(bank, used + 1 + 8 * i), current[i]) << "parameter " << i;
  EXPECT_EQ(current[6], 50.0);
  EXPECT_EQ(current[0], 20.0);
}

TEST_F(Vst2State, ProgramAndBankChunksRoundTrip) {
  plug.Set(6, 0.5f);
  plug.Set(4, 1.0f);
  std::vector<float> saved = AllValues(plug);
  std::vector<uint8_t> program = plug.Chunk(1);
  plug.Dispatch(effSetProgramName, 0, 0, const_cast<char*>("Crushed"));
  std::vector<uint8_t> bank = plug.Chunk(0);

  plug.Set(6, 0.1f);
  plug.Set(4, 0.0f);
  plug.Dispatch(effSetProgramName, 0, 0, const_cast<char*>("Other"));
  ASSERT_EQ(plug.SetChunk(1, program), 1);
  EXPECT_EQ(AllValues(plug), saved);

  plug.Set(6, 0.1f);
  ASSERT_EQ(plug.SetChunk(0, bank), 1);
  EXPECT_EQ(AllValues(plug), saved);
  char name[64];
  plug.Dispatch(effGetProgramName, 0, 0, name);
  EXPECT_STREQ(name, "Crushed");

  // A chunk holding a value between steps loads as the step it processes as.
  std::vector<uint8_t> between = program;
  double bypass = 0.7;
  memcpy(between.data() + 8 + 8 * 10, &bypass, 8);
  ASSERT_EQ(plug.SetChunk(1, between), 1);
  EXPECT_EQ(PlainValues(plug)[10], 1.0);
  plug.Dispatch(effGetParamDisplay, 10, 0, name);
  EXPECT_STREQ(name, "On");
}

TEST_F(Vst2State, OldBankWithoutPresetsIsRestoredAsOneState) {
  // A chunk from before banks carried presets: just the 14 plain values,
  // once with an old version word and once with no header at all.
  std::vector<double> plain = PlainValues(plug);
  plain[6] = 25.0;  // MIX
  plain[3] = -0.5;  // RELEASE
  for (bool withHeader : {true, false}) {
    std::vector<uint8_t> old;
    if (withHeader) {
      Append(old, kMagic);
      Append(old, int32_t{0x0000FFFF});
    }
    for (double v : plain) Append(old, v);
    plug.Set(6, 1.0f);
    ASSERT_EQ(plug.SetChunk(0, old), 1);
    EXPECT_EQ(PlainValues(plug), plain);
    // ...and it became the current preset's contents.
    std::vector<uint8_t> bank = plug.Chunk(0);
    size_t state = 12 + ReadAt<int32_t>(bank, 8) + 1;
    EXPECT_EQ(ReadAt<double>(bank, state + 8 * 6), 25.0);
  }
}

TEST_F(Vst2State, UnreadableChunksAreRefusedAndLeaveEverythingAsItWas) {
  plug.Set(6, 0.5f);
  plug.Dispatch(effSetProgramName, 0, 0, const_cast<char*>("Kept"));
  std::vector<float> before = AllValues(plug);
  std::vector<uint8_t> bankBefore = plug.Chunk(0);

  // Magic and one more byte: no version, nothing to read.
  std::vector<uint8_t> five;
  Append(five, kMagic);
  five.push_back(0);
  EXPECT_EQ(plug.SetChunk(1, five), 0);
  EXPECT_EQ(AllValues(plug), before);

  // Header and three of the fourteen values.
  std::vector<uint8_t> truncated;
  Append(truncated, kMagic);
  Append(truncated, int32_t{0x10000});
  for (int i = 0; i < 3; ++i) Append(truncated, 0.0);
  EXPECT_EQ(plug.SetChunk(1, truncated), 0);
  EXPECT_EQ(AllValues(plug), before);

  // A bank whose preset stops half way.
  std::vector<uint8_t> bank = bankBefore;
  bank[bank.size() - 20] ^= 0x55;  // damage a value, then cut
  bank.resize(bank.size() - 12);
  EXPECT_EQ(plug.SetChunk(0, bank), 0);
  EXPECT_EQ(AllValues(plug), before);

  EXPECT_EQ(plug.SetChunk(1, std::vector<uint8_t>{}), 0) << "empty chunk";
  EXPECT_EQ(AllValues(plug), before);
  EXPECT_EQ(plug.Chunk(0), bankBefore);
}

TEST_F(Vst2State, ChunkSizesFromTheHostAreCheckedBeforeAnyCopy) {
  std::vector<float> before = AllValues(plug);
  uint8_t small[16] = {};
  EXPECT_EQ(plug.Dispatch(effSetChunk, 1, 16, nullptr), 0);
  EXPECT_EQ(plug.Dispatch(effSetChunk, 1, -8, small), 0);
  // Far more than the 16 bytes behind the pointer: reading them would crash.
  EXPECT_EQ(plug.Dispatch(effSetChunk, 1, intptr_t(1) << 40, small), 0);
  EXPECT_EQ(plug.Dispatch(effSetChunk, 0, intptr_t(1) << 31, small), 0);
  EXPECT_EQ(AllValues(plug), before);
  EXPECT_EQ(plug.Dispatch(effGetChunk, 0, 0, nullptr), 0);
}

TEST_F(Vst2State, DefaultThenTheFactoryPresetsAreTheProgramsAndChoosingOneLoadsIt) {
  const char* names[] = {"Default", "Drum Bus Glue", "Vocal Levelling", "Parallel Smash",
                         "Bass Ducked by Kick", "Gentle Master", "SLAM"};
  ASSERT_EQ(plug.effect->numPrograms, 7);
  char name[64];
  for (int i = 0; i < 7; ++i) {
    EXPECT_EQ(plug.Dispatch(effGetProgramNameIndexed, i, 0, name), 1);
    EXPECT_STREQ(name, names[i]);
  }
  strcpy(name, "x");
  EXPECT_EQ(plug.Dispatch(effGetProgramNameIndexed, 7, 0, name), 0);
  EXPECT_STREQ(name, "");
  EXPECT_EQ(plug.Dispatch(effGetProgramNameIndexed, 0, 0, nullptr), 0);

  // A fresh instance is at Default, and a host picking program 0 on
  // insertion (Carla does) keeps the defaults.
  std::vector<double> defaults = PlainValues(plug);
  EXPECT_EQ(plug.Dispatch(effGetProgram), 0);
  plug.Dispatch(effSetProgram, 0, 0);
  EXPECT_EQ(PlainValues(plug), defaults);
  // A factory program chosen from there loads exactly, and so does one
  // chosen after edits, and Default after that.
  plug.Dispatch(effSetProgram, 0, 1);
  plug.Dispatch(effGetParamDisplay, 0, 0, name);
  EXPECT_STREQ(name, "10.00");
  plug.Set(6, 0.3f);
  plug.Dispatch(effSetProgram, 0, 2);
  EXPECT_EQ(plug.Dispatch(effGetProgram), 2);
  plug.Dispatch(effGetParamDisplay, 0, 0, name);
  EXPECT_STREQ(name, "14.00");
  EXPECT_FLOAT_EQ(plug.Get(6), 1.0f);
  plug.Dispatch(effSetProgram, 0, 0);
  EXPECT_EQ(PlainValues(plug), defaults);
  // Programs that do not exist are ignored, including ones that wrap to 0.
  plug.Dispatch(effSetProgram, 0, 2);
  plug.Dispatch(effSetProgram, 0, 7);
  plug.Dispatch(effSetProgram, 0, intptr_t(1) << 32);
  EXPECT_EQ(plug.Dispatch(effGetProgram), 2);
}

// A bank of the first version holds the six factory programs without
// Default. The program current when it loads is the one a host (or the
// plug-in) of that version loaded: its slot moves one on.
TEST_F(Vst2State, ABankWithoutDefaultLoadsTheSameValuesIntoTheProgramAfterIt) {
  const char* names[] = {"Drum Bus Glue", "Vocal Levelling", "Parallel Smash",
                         "Bass Ducked by Kick", "Gentle Master", "SLAM"};
  // Slot p holds MIX 25 % and INPUT p dB.
  std::vector<double> plain = PlainValues(plug);
  plain[6] = 25.0;
  std::vector<uint8_t> old;
  Append(old, kMagic);
  Append(old, int32_t{0x10000});
  for (int p = 0; p < 6; ++p) {
    Append(old, static_cast<int32_t>(strlen(names[p])));
    old.insert(old.end(), names[p], names[p] + strlen(names[p]));
    old.push_back(1);
    plain[0] = p;
    for (double v : plain) Append(old, v);
  }
  // As a host that replays the program it saved before the chunk (Ardour,
  // Carla), and as a new instance left at its first program.
  for (intptr_t hostProgram : {intptr_t{2}, intptr_t{0}}) {
    PluginInstance fresh{host};
    fresh.Start(44100.0f, 512);
    fresh.Dispatch(effSetProgram, 0, hostProgram);
    ASSERT_EQ(fresh.SetChunk(0, old), 1);
    EXPECT_EQ(fresh.Dispatch(effGetProgram), hostProgram + 1);
    char name[64];
    fresh.Dispatch(effGetProgramNameIndexed, 0, 0, name);
    EXPECT_STREQ(name, "Default");
    fresh.Dispatch(effGetProgramNameIndexed, 3, 0, name);
    EXPECT_STREQ(name, "Parallel Smash");
    plain[0] = static_cast<double>(hostProgram);
    EXPECT_EQ(PlainValues(fresh), plain) << "saved at program " << hostProgram;
  }
}

// Hosts copy or reset a preset by handing the plug-in's own chunk pointer
// straight back.
TEST_F(Vst2State, OwnChunkHandedBackRestoresTheSameSettings) {
  plug.Set(6, 0.25f);
  plug.Set(4, 1.0f);
  for (int32_t index : {1, 0}) {
    std::vector<double> before = PlainValues(plug);
    void* data = nullptr;
    intptr_t size = plug.Dispatch(effGetChunk, index, 0, &data);
    ASSERT_GT(size, 0);
    EXPECT_EQ(plug.Dispatch(effSetChunk, index, size, data), 1) << index;
    EXPECT_EQ(PlainValues(plug), before) << index;
  }
}

// With no editor open nothing ticks: a host hears of a chunk it loaded at
// its next idle call (asked for at open), once, and never inside the load.
TEST_F(Vst2State, AChunkLoadedWithNoEditorOpenIsToldAtTheHostsNextIdleOnce) {
  EXPECT_EQ(host.CountOf(audioMasterNeedIdle), 1);
  plug.Set(6, 0.5f);
  std::vector<uint8_t> program = plug.Chunk(1);
  plug.Set(6, 0.1f);
  ASSERT_EQ(plug.SetChunk(1, program), 1);
  EXPECT_EQ(host.CountOf(audioMasterUpdateDisplay), 0) << "never inside the host's load";
  EXPECT_EQ(plug.Dispatch(effIdle), 1) << "the host keeps idling the plug-in";
  plug.Dispatch(effIdle);
  EXPECT_EQ(host.CountOf(audioMasterUpdateDisplay), 1);
  // A program the host picked is the host's own choice: not told.
  plug.Dispatch(effSetProgram, 0, 2);
  plug.Dispatch(effIdle);
  EXPECT_EQ(host.CountOf(audioMasterUpdateDisplay), 1);
}
