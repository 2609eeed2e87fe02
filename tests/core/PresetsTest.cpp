#include <gtest/gtest.h>

#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "KestruneIdentity.h"
#include "TestBinding.h"

namespace {

// Kestrune's parameter table on the bare test binding, counting reactions.
class PresetPlug : public TestBinding {
 public:
  explicit PresetPlug(int presets = 1) : TestBinding(&host, Identity(presets)) {
    kestrune::InitParameters(*this);
    FillEmptyPresetSlots("-", 1);
  }
  static EffectIdentity Identity(int presets) {
    EffectIdentity id = kestrune::Identity();
    id.presetCount = presets;
    return id;
  }
  void ParamChanged(int index) override {
    TestBinding::ParamChanged(index);
    changed.push_back(index);
  }
  void PresetStoreChanged() override { ++storeChanges; }
  TestHost host;
  std::vector<int> changed;
  int storeChanges = 0;
};

StateChunk ParamState(PresetPlug& plug) {
  StateChunk c;
  plug.SaveState(c);
  return c;
}

void ExpectAllParamsInRange(PresetPlug& plug) {
  for (int i = 0; i < plug.ParamCount(); ++i) {
    const PlugParam& p = *plug.ParamAt(i);
    EXPECT_GE(p.value, p.minValue) << i;
    EXPECT_LE(p.value, p.maxValue) << i;
  }
}

}  // namespace

TEST(SavedState, ParameterStateIsOneDoublePerParameter) {
  PresetPlug plug;
  EXPECT_EQ(ParamState(plug).Size(), 112);
  StateChunk program;
  plug.BeginChunk(program);
  plug.SaveState(program);
  EXPECT_EQ(program.Size(), 120);
  EXPECT_EQ(memcmp(program.Data(), "tffp\0\0\1\0", 8), 0);
}

TEST(SavedState, BankOfTheSingleDefaultPresetIs118BytesAfterTheHeader) {
  PresetPlug plug;
  StateChunk bank;
  plug.BeginChunk(bank);
  ASSERT_TRUE(plug.SerializePresets(bank));
  EXPECT_EQ(bank.Size(), 8 + 118);
  int32_t nameLength = 0;
  bank.Get(&nameLength, 8);
  EXPECT_EQ(nameLength, 1);
  EXPECT_EQ(bank.Data()[12], '-');
  EXPECT_EQ(bank.Data()[13], 1);  // used
}

TEST(SavedState, RestoreRoundTripsAndReactsToEveryParameter) {
  PresetPlug plug;
  plug.ParamAt(kestrune::kInput)->value = 42.5;
  plug.ParamAt(kestrune::kRatio)->value = 3;
  StateChunk saved = ParamState(plug);

  PresetPlug other;
  EXPECT_EQ(other.LoadState(saved, 0), 112);
  EXPECT_EQ(other.ParamAt(kestrune::kInput)->value, 42.5);
  EXPECT_EQ(other.ParamAt(kestrune::kRatio)->value, 3);
  ASSERT_EQ(other.changed.size(), 14u);
  for (int i = 0; i < 14; ++i) EXPECT_EQ(other.changed[i], i);
}

TEST(SavedState, ShortDataSetsTheParameterWhereItRanOutToItsMinimum) {
  PresetPlug plug;
  plug.ParamAt(kestrune::kHpf)->value = 300;
  plug.ParamAt(kestrune::kMix)->value = 55;
  StateChunk saved = ParamState(plug);
  saved.Resize(5 * 8 + 7);  // HPF (range 20..500) has 7 bytes left

  PresetPlug target;
  target.ParamAt(kestrune::kInput)->value = 11;
  target.ParamAt(kestrune::kMix)->value = 66;
  EXPECT_EQ(target.LoadState(saved, 0), -1);
  EXPECT_EQ(target.ParamAt(kestrune::kInput)->value, 0);   // read before the shortfall
  EXPECT_EQ(target.ParamAt(kestrune::kHpf)->value, 20);
  EXPECT_EQ(target.ParamAt(kestrune::kMix)->value, 66);    // later parameters keep theirs
  EXPECT_EQ(target.changed.size(), 14u);
}

TEST(SavedState, StoredValuesOutsideTheRangeAreClamped) {
  PresetPlug plug;
  StateChunk c;
  for (int i = 0; i < 14; ++i) c.Put(1e9);
  plug.LoadState(c, 0);
  EXPECT_EQ(plug.ParamAt(kestrune::kInput)->value, 80);
  EXPECT_EQ(plug.ParamAt(kestrune::kHpf)->value, 500);
  EXPECT_EQ(plug.ParamAt(kestrune::kOversampling)->value, 1);
}

TEST(Presets, TheDefaultPresetIsNamedDashAndRecallsTheDefaults) {
  PresetPlug plug;
  ASSERT_EQ(plug.PresetCount(), 1);
  EXPECT_STREQ(plug.PresetAt(0)->name, "-");
  EXPECT_TRUE(plug.PresetAt(0)->used);
  plug.ParamAt(kestrune::kMix)->value = 12;
  EXPECT_TRUE(plug.ApplyPreset(0));
  EXPECT_EQ(plug.ParamAt(kestrune::kMix)->value, 100);
  EXPECT_EQ(plug.ParamAt(kestrune::kAttack)->value, -0.0009);
  EXPECT_EQ(plug.storeChanges, 1);
  EXPECT_FALSE(plug.ApplyPreset(1));
  EXPECT_FALSE(plug.ApplyPreset(-1));
}

TEST(Presets, ApplyingAnUnusedSlotStoresTheCurrentValuesAsAUserPreset) {
  PresetPlug plug(3);
  plug.ParamAt(kestrune::kOutput)->value = -6;
  ASSERT_TRUE(plug.ApplyPreset(1));
  EXPECT_STREQ(plug.PresetAt(1)->name, "user preset 1");
  EXPECT_EQ(plug.CurrentPresetIndex(), 1);
  ASSERT_TRUE(plug.ApplyPreset(2));
  EXPECT_STREQ(plug.PresetAt(2)->name, "user preset 2");
  plug.ParamAt(kestrune::kOutput)->value = 3;
  ASSERT_TRUE(plug.ApplyPreset(1));
  EXPECT_EQ(plug.ParamAt(kestrune::kOutput)->value, -6);
}

TEST(Presets, ModifyCurrentPresetStoresValuesAndRenames) {
  PresetPlug plug;
  plug.ParamAt(kestrune::kInput)->value = 20;
  plug.ModifyCurrentPreset("Bus glue");
  EXPECT_STREQ(plug.PresetAt(0)->name, "Bus glue");
  plug.ModifyCurrentPreset("");
  EXPECT_STREQ(plug.PresetAt(0)->name, "Bus glue");
  plug.ParamAt(kestrune::kInput)->value = 0;
  plug.ApplyPreset(0);
  EXPECT_EQ(plug.ParamAt(kestrune::kInput)->value, 20);
}

TEST(Presets, BankRoundTripsNamesFlagsAndValues) {
  PresetPlug source(3);
  source.ParamAt(kestrune::kInput)->value = 30;
  source.ApplyPreset(1);
  source.PresetAt(1)->SetName("Vocal");
  StateChunk bank;
  ASSERT_TRUE(source.SerializePresets(bank));

  PresetPlug target(3);
  EXPECT_EQ(target.UnserializePresets(bank, 0), bank.Size());
  EXPECT_STREQ(target.PresetAt(0)->name, "-");
  EXPECT_STREQ(target.PresetAt(1)->name, "Vocal");
  EXPECT_TRUE(target.PresetAt(1)->used);
  EXPECT_FALSE(target.PresetAt(2)->used);
  EXPECT_TRUE(target.ApplyPreset(1));
  EXPECT_EQ(target.ParamAt(kestrune::kInput)->value, 30);
}

TEST(Presets, AHostIsToldOfALoadOnTheNextUserInterfaceTickOnlyAndOnce) {
  PresetPlug plug(2);
  auto told = [&plug] {
    int n = 0;
    for (const TestHost::Event& e : plug.host.events) n += e.what == "preset";
    return n;
  };
  plug.UserInterfaceTick();
  plug.LoadState(ParamState(plug), 0);
  plug.ApplyPreset(0);
  EXPECT_EQ(told(), 0) << "never inside the load";
  plug.UserInterfaceTick();
  plug.UserInterfaceTick();
  EXPECT_EQ(told(), 1);
}

TEST(Presets, ABankSavedWithFewerSlotsRestoresItsSlotsAndKeepsTheRest) {
  PresetPlug source(1);
  source.ParamAt(kestrune::kInput)->value = 30;
  source.ModifyCurrentPreset();
  StateChunk bank;
  ASSERT_TRUE(source.SerializePresets(bank));

  PresetPlug target(3);
  target.PresetAt(1)->SetName("kept");
  EXPECT_EQ(target.UnserializePresets(bank, 0), bank.Size());
  EXPECT_EQ(target.ParamAt(kestrune::kInput)->value, 30);
  EXPECT_STREQ(target.PresetAt(1)->name, "kept");
}

TEST(Presets, RestoringATruncatedBankKeepsEarlierPresets) {
  PresetPlug source(2);
  source.ParamAt(kestrune::kInput)->value = 10;
  source.ModifyCurrentPreset("First");
  source.ApplyPreset(1);
  StateChunk bank;
  source.SerializePresets(bank);
  bank.Resize(bank.Size() - 20);

  PresetPlug target(2);
  EXPECT_LT(target.UnserializePresets(bank, 0), 0);
  EXPECT_STREQ(target.PresetAt(0)->name, "First");
  target.ApplyPreset(0);
  EXPECT_EQ(target.ParamAt(kestrune::kInput)->value, 10);
}

TEST(Presets, OverlongStoredNamesAreCutTo255Characters) {
  PresetPlug plug;
  StateChunk bank;
  std::string name(1000, 'n');
  bank.PutString(name.c_str());
  bank.PutBool(true);
  bank.PutChunk(ParamState(plug));
  EXPECT_EQ(plug.UnserializePresets(bank, 0), bank.Size());
  EXPECT_EQ(strlen(plug.PresetAt(0)->name), 255u);
}

TEST(Presets, RandomAndTruncatedChunksNeverCrashOrLeaveValuesOutOfRange) {
  std::mt19937 rng(1234);
  PresetPlug source(4);
  source.ParamAt(kestrune::kInput)->value = 33;
  source.ApplyPreset(2);
  StateChunk validBank;
  source.SerializePresets(validBank);
  StateChunk validState = ParamState(source);

  for (int round = 0; round < 400; ++round) {
    StateChunk chunk;
    const StateChunk& base = (round % 2) ? validBank : validState;
    int cut = static_cast<int>(rng() % static_cast<unsigned>(base.Size() + 1));
    chunk.Assign(base.Data(), static_cast<size_t>(cut));
    // Flip a few bytes in some rounds, including the length fields.
    if (round % 3 == 0)
      for (int k = 0; k < 4 && chunk.Size() > 0; ++k)
        chunk.Data()[rng() % static_cast<unsigned>(chunk.Size())] = static_cast<uint8_t>(rng());
    if (round % 5 == 0) {
      chunk.Clear();
      int n = static_cast<int>(rng() % 300);
      for (int k = 0; k < n; ++k) chunk.Put(static_cast<uint8_t>(rng()));
    }

    PresetPlug target(4);
    int pos = (round % 2) ? target.UnserializePresets(chunk, 0) : target.LoadState(chunk, 0);
    EXPECT_LE(pos, chunk.Size());
    ExpectAllParamsInRange(target);
    EXPECT_EQ(target.CurrentPresetIndex(), 0);
    for (int s = 0; s < target.PresetCount(); ++s)
      EXPECT_LE(strlen(target.PresetAt(s)->name), 255u);
    if (cut == base.Size() && round % 3 != 0 && round % 5 != 0) {
      EXPECT_EQ(pos, base.Size());
    }
  }
}
