#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "FactoryPresets.h"
#include "Kestrune.h"

namespace {
std::string Display(Kestrune& plug, int index) {
  const PlugParam* p = plug.ParamAt(index);
  char text[64];
  p->FormatValue(p->value, false, true, text, sizeof text);
  return text;
}
}  // namespace

TEST(KestruneDefinition, IdentityIsWhatHostsSee) {
  TestHost host;
  Kestrune plug(&host);
  EXPECT_STREQ(plug.EffectName(), "Kestrune");
  EXPECT_STREQ(plug.ProductName(), "");
  EXPECT_STREQ(plug.MakerName(), "Marlowind");
  EXPECT_EQ(plug.UniqueId(), 0x4B726E31);  // 'Krn1'
  EXPECT_EQ(plug.MakerId(), 0x4D727764);   // 'Mrwd'
  EXPECT_EQ(plug.Version(), 0x00030100);
  EXPECT_EQ(plug.InputChannelCount(), 4);
  EXPECT_EQ(plug.OutputChannelCount(), 2);
  EXPECT_EQ(plug.Latency(), 0);
  EXPECT_FALSE(plug.UsesStateChunks());
  EXPECT_FALSE(plug.HandlesMidi());
  EXPECT_FALSE(plug.IsInstrument());
}

TEST(KestruneDefinition, ParameterNamesInHostOrder) {
  TestHost host;
  Kestrune plug(&host);
  const std::vector<std::string> names = {"INPUT", "OUTPUT", "ATTACK", "RELEASE", "RATIO",
                                          "HPF",   "MIX",    "MID FREQ", "MID GAIN", "HF",
                                          "BYPASS", "SLAM",  "OVERSAMPLING", "Sidechain"};
  ASSERT_EQ(plug.ParamCount(), 14);
  for (int i = 0; i < 14; ++i) EXPECT_EQ(plug.ParamAt(i)->name, names[i]) << i;
  EXPECT_EQ(plug.ParamAt(14), nullptr);
  EXPECT_EQ(plug.ParamAt(-1), nullptr);
}

TEST(KestruneDefinition, DefaultsDisplayAsMusiciansExpect) {
  TestHost host;
  Kestrune plug(&host);
  const std::vector<std::string> shown = {"0.00",  "0.00", "-0.001", "-0.40", "0",
                                          "20.00", "100.00", "500.00", "0.00", "0.00",
                                          "0",     "0",     "0",      "1"};
  for (int i = 0; i < 14; ++i) EXPECT_EQ(Display(plug, i), shown[i]) << i;
  EXPECT_EQ(plug.ParamAt(kestrune::kAttack)->value, -0.0009);
  EXPECT_STREQ(plug.ParamAt(kestrune::kInput)->HostLabel(), "%");
  EXPECT_STREQ(plug.ParamAt(kestrune::kRatio)->HostLabel(), "");
}

// What hosts list: the value in the musician's unit, for every parameter.
TEST(KestruneDefinition, DefaultsAsHostsShowThemWithUnits) {
  TestHost host;
  Kestrune plug(&host);
  const std::vector<std::string> shown = {"0.00 dB",  "0.00 dB", "0.90 ms",  "400 ms",
                                          "4:1",      "20.0 Hz", "100.00 %", "500.0 Hz",
                                          "0.00 dB",  "0.00 dB", "Off",      "Off",
                                          "4x",       "INT"};
  for (int i = 0; i < 14; ++i) {
    const PlugParam* p = plug.ParamAt(i);
    char text[64];
    p->HostDisplay(p->value, true, text, sizeof text);
    EXPECT_EQ(text, shown[i]) << i;
  }
}

TEST(KestruneDefinition, KindsAndShapes) {
  TestHost host;
  Kestrune plug(&host);
  EXPECT_EQ(plug.ParamAt(kestrune::kRatio)->kind, ParamKindInteger);
  EXPECT_EQ(plug.ParamAt(kestrune::kSidechain)->kind, ParamKindInteger);
  EXPECT_EQ(plug.ParamAt(kestrune::kInput)->kind, ParamKindContinuous);
  EXPECT_EQ(plug.ParamAt(kestrune::kOversampling)->kind, ParamKindUnset);
  EXPECT_EQ(plug.ParamAt(kestrune::kAttack)->shape, 2);
  EXPECT_EQ(plug.ParamAt(kestrune::kRelease)->shape, 2);
  EXPECT_EQ(plug.ParamAt(kestrune::kMix)->shape, 1);
  EXPECT_EQ(plug.ParamAt(kestrune::kRelease)->maxValue, -0.02);
}

TEST(KestruneDefinition, TheProgramsAreDefaultThenTheFactoryPresetsOverTheDefaults) {
  TestHost host;
  Kestrune plug(&host);
  ASSERT_EQ(plug.PresetCount(), kestrune::kFactoryPresetCount + 1);
  EXPECT_EQ(plug.CurrentPresetIndex(), 0);
  EXPECT_EQ(plug.ParamAt(kestrune::kInput)->value, 0) << "the instance keeps the defaults";
  for (int p = 0; p < plug.PresetCount(); ++p) {
    const kestrune::FactoryPreset& preset =
        p == 0 ? kestrune::kDefaultProgram : kestrune::kFactoryPresets[p - 1];
    EXPECT_STREQ(plug.PresetAt(p)->name, p == 0 ? "Default" : preset.name);
    plug.ParamAt(kestrune::kHpf)->value = 250;
    ASSERT_TRUE(plug.ApplyPreset(p));
    double expected[kestrune::kParamCount];
    for (int i = 0; i < kestrune::kParamCount; ++i) expected[i] = plug.ParamAt(i)->defaultValue;
    expected[kestrune::kOversampling] = 0;
    for (int s = 0; s < preset.settingCount; ++s)
      expected[preset.settings[s].param] = preset.settings[s].plainValue;
    for (int i = 0; i < kestrune::kParamCount; ++i)
      EXPECT_EQ(plug.ParamAt(i)->value, expected[i]) << preset.name << " " << plug.ParamAt(i)->name;
  }
}
