#include <gtest/gtest.h>

#include <string>

#include "HostId.h"

TEST(HostIdentification, IgnoresCaseAndFollowsTheFixedOrder) {
  EXPECT_EQ(HostIdFromName("CUBASE"), HostCubase);
  EXPECT_EQ(HostIdFromName("REAPER"), HostReaper);
  EXPECT_EQ(HostIdFromName("reaper inside cubase"), HostCubase);
  EXPECT_EQ(HostIdFromName("Adobe Audition"), HostAudition);
  EXPECT_EQ(HostIdFromName("Ableton Live"), HostLive);
  EXPECT_EQ(HostIdFromName("Deliverer"), HostLive);        // "live" inside a word
  EXPECT_EQ(HostIdFromName("Cakewalk Live"), HostCakewalk);  // earlier entry wins
  EXPECT_EQ(HostIdFromName("VST3PluginTestHost"), HostVst3TestHost);
  EXPECT_EQ(HostIdFromName("Ardour"), HostArdour);
  EXPECT_EQ(HostIdFromName("OpenMPT"), HostOpenMpt);
  EXPECT_EQ(HostIdFromName("Renoise"), HostRenoise);
  EXPECT_EQ(HostIdFromName("Standalone"), HostStandalone);
}

TEST(HostIdentification, EmptyUnknownAndMissingNamesGiveUnknown) {
  EXPECT_EQ(HostIdFromName(""), HostUnknown);
  EXPECT_EQ(HostIdFromName("Bitwig Studio"), HostUnknown);
  EXPECT_EQ(HostIdFromName(nullptr), HostUnknown);
}

TEST(HostIdentification, OnlyTheFirst255CharactersAreSearched) {
  std::string name(255, 'x');
  EXPECT_EQ(HostIdFromName((name + "reaper").c_str()), HostUnknown);
  EXPECT_EQ(HostIdFromName((std::string(240, 'x') + "reaper").c_str()), HostReaper);
}

TEST(HostIdentification, StereoOnlyHostsAreTheFourListed) {
  EXPECT_TRUE(HostNeedsStereoOnly(HostForte));
  EXPECT_TRUE(HostNeedsStereoOnly(HostAudition));
  EXPECT_TRUE(HostNeedsStereoOnly(HostOrion));
  EXPECT_TRUE(HostNeedsStereoOnly(HostSawStudio));
  EXPECT_FALSE(HostNeedsStereoOnly(HostReaper));
  EXPECT_FALSE(HostNeedsStereoOnly(HostUnidentified));
}

TEST(HostVersion, DecimalVendorVersionsPackAsMajorMinorRevision) {
  EXPECT_EQ(PackVendorVersion(50102), 0x050102);
  EXPECT_EQ(PackVendorVersion(10203), 0x010203);
  EXPECT_EQ(PackVendorVersion(0), 0);
  char text[32];
  FormatHostVersion(0x050102, text, sizeof text);
  EXPECT_STREQ(text, "v5.1.2");
}
