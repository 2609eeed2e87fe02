// CLAP conformance: the checks the community's validator makes, by its
// check names, run through the host library against any CLAP module.
// Each suite instance names a module: Kestrune.clap, and Debian's
// ZamCompX2.clap as a control for the checks themselves (skipped when not
// installed). The host library plays main and audio thread on one thread.
#include <dlfcn.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <memory>
#include <random>
#include <set>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "ClapHostObjects.h"
#include "FactoryPresets.h"

namespace {

using namespace host;

constexpr uint32_t kBlock = 512;
constexpr double kRate = 48000.0;

bool FileExists(const std::string& path) { return access(path.c_str(), R_OK) == 0; }

template <typename Sample>
void FillNoise(ClapAudioBuffers<Sample>& buffers, uint32_t frames, uint32_t seed) {
  std::mt19937 random(seed);
  std::uniform_real_distribution<double> level(-1.0, 1.0);
  for (size_t p = 0; p < buffers.inputs.size(); ++p)
    for (size_t c = 0; c < buffers.inputs[p].size(); ++c) {
      Sample* channel = buffers.InputChannel(p, c);
      for (uint32_t f = 0; f < frames; ++f) channel[f] = static_cast<Sample>(level(random));
    }
}

template <typename Sample>
bool OutputsFinite(ClapAudioBuffers<Sample>& buffers, uint32_t frames) {
  for (size_t p = 0; p < buffers.outputs.size(); ++p)
    for (size_t c = 0; c < buffers.outputs[p].size(); ++c) {
      const Sample* channel = buffers.OutputChannel(p, c);
      for (uint32_t f = 0; f < frames; ++f)
        if (!std::isfinite(channel[f])) return false;
    }
  return true;
}

template <typename Sample>
std::vector<Sample> OutputCopy(ClapAudioBuffers<Sample>& buffers, uint32_t frames) {
  std::vector<Sample> all;
  for (size_t p = 0; p < buffers.outputs.size(); ++p)
    for (size_t c = 0; c < buffers.outputs[p].size(); ++c) {
      const Sample* channel = buffers.OutputChannel(p, c);
      all.insert(all.end(), channel, channel + frames);
    }
  return all;
}

// 64-bit buffers only where every port allows them.
bool Supports64(const ClapInstance& plug) {
  for (int dir = 0; plug.audioPorts && dir < 2; ++dir)
    for (uint32_t i = 0; i < plug.audioPorts->count(plug.plugin, dir == 0); ++i) {
      clap_audio_port_info info = {};
      if (!plug.audioPorts->get(plug.plugin, i, dir == 0, &info) ||
          !(info.flags & CLAP_AUDIO_PORT_SUPPORTS_64BITS))
        return false;
    }
  return true;
}

bool ValidStatus(clap_process_status status) {
  return status >= CLAP_PROCESS_CONTINUE && status <= CLAP_PROCESS_SLEEP;
}

class ClapConformance : public ::testing::TestWithParam<std::string> {
 protected:
  void SetUp() override {
    if (!FileExists(GetParam())) GTEST_SKIP() << GetParam() << " is not installed";
    std::string error;
    ASSERT_TRUE(module_.Load(GetParam(), error)) << error;
    const clap_plugin_factory* factory = module_.Factory();
    ASSERT_NE(factory, nullptr);
    ASSERT_GE(factory->get_plugin_count(factory), 1u);
    descriptor_ = factory->get_plugin_descriptor(factory, 0);
    ASSERT_NE(descriptor_, nullptr);
    ASSERT_NE(descriptor_->id, nullptr);
    pluginId_ = descriptor_->id;
  }

  std::unique_ptr<ClapInstance> Create() {
    auto instance = std::make_unique<ClapInstance>();
    std::string error;
    EXPECT_TRUE(instance->Create(module_, host_, pluginId_, error)) << error;
    return instance;
  }

  // Noise through a fresh instance, `blocks` blocks of `frames`; every
  // status valid and every output finite. Returns the outputs in order.
  template <typename Sample>
  std::vector<Sample> Render(ClapInstance& plug, bool inPlace, int blocks, uint32_t frames = kBlock,
                             const std::vector<Sample>* denormalInput = nullptr) {
    ClapAudioBuffers<Sample> buffers;
    buffers.Build(plug.plugin, plug.audioPorts, frames, inPlace);
    std::vector<Sample> all;
    for (int b = 0; b < blocks; ++b) {
      FillNoise(buffers, frames, 7u + static_cast<uint32_t>(b));
      if (denormalInput)
        for (size_t p = 0; p < buffers.inputs.size(); ++p)
          for (size_t c = 0; c < buffers.inputs[p].size(); ++c)
            std::copy(denormalInput->begin(), denormalInput->begin() + frames, buffers.InputChannel(p, c));
      EXPECT_TRUE(ValidStatus(plug.Process(buffers, frames, nullptr, nullptr)));
      EXPECT_TRUE(OutputsFinite(buffers, frames)) << "block " << b;
      std::vector<Sample> block = OutputCopy(buffers, frames);
      all.insert(all.end(), block.begin(), block.end());
    }
    return all;
  }

  // The parameters a host may set (not read-only).
  static std::vector<clap_param_info> Settable(const ClapInstance& plug) {
    std::vector<clap_param_info> infos = plug.ParamInfos();
    infos.erase(std::remove_if(infos.begin(), infos.end(),
                               [](const clap_param_info& info) { return (info.flags & CLAP_PARAM_IS_READONLY) != 0; }),
                infos.end());
    return infos;
  }

  // Each listed parameter's current value, as the host reads it.
  static std::vector<double> ValuesOf(const ClapInstance& plug, const std::vector<clap_param_info>& infos) {
    std::vector<double> values;
    for (const clap_param_info& info : infos) {
      values.push_back(NAN);
      EXPECT_TRUE(plug.ParamValue(info.id, &values.back())) << info.name;
    }
    return values;
  }

  // Random values within each parameter's range (whole steps for stepped).
  std::vector<double> RandomValues(const std::vector<clap_param_info>& infos, uint32_t seed) {
    std::mt19937 random(seed);
    std::vector<double> values;
    for (const clap_param_info& info : infos) {
      std::uniform_real_distribution<double> in(info.min_value, info.max_value);
      double value = in(random);
      if (info.flags & CLAP_PARAM_IS_STEPPED) value = std::round(value);
      values.push_back(value);
    }
    return values;
  }

  ClapModule module_;
  ClapHostContext host_;
  const clap_plugin_descriptor* descriptor_ = nullptr;
  std::string pluginId_;
};

// ---------------------------------------------------------------- the library

TEST_P(ClapConformance, ScanRtldNow) {
  // The module loaded with RTLD_NOW in SetUp: every symbol it needs resolves.
  void* again = dlopen(GetParam().c_str(), RTLD_NOW | RTLD_NOLOAD);
  ASSERT_NE(again, nullptr) << dlerror();
  dlclose(again);
}

TEST_P(ClapConformance, QueryNonexistentFactory) {
  EXPECT_EQ(module_.Entry()->get_factory("com.example.no-such-factory"), nullptr);
  EXPECT_EQ(module_.Entry()->get_factory(""), nullptr);
}

TEST_P(ClapConformance, CreateIdWithTrailingGarbage) {
  const clap_plugin_factory* factory = module_.Factory();
  const std::string garbage = pluginId_ + "-and-more";
  const clap_plugin* made = factory->create_plugin(factory, host_.Host(), garbage.c_str());
  EXPECT_EQ(made, nullptr);
  if (made) made->destroy(made);  // a module that made one still gets it back
}

TEST_P(ClapConformance, DescriptorConsistency) {
  EXPECT_TRUE(clap_version_is_compatible(descriptor_->clap_version));
  ASSERT_NE(descriptor_->name, nullptr);
  EXPECT_GT(std::strlen(descriptor_->name), 0u);
  auto plug = Create();
  ASSERT_NE(plug->plugin, nullptr);
  const clap_plugin_descriptor* own = plug->plugin->desc;
  ASSERT_NE(own, nullptr);
  EXPECT_STREQ(own->id, descriptor_->id);
  EXPECT_STREQ(own->name, descriptor_->name);
  EXPECT_STREQ(own->vendor ? own->vendor : "", descriptor_->vendor ? descriptor_->vendor : "");
  EXPECT_STREQ(own->version ? own->version : "", descriptor_->version ? descriptor_->version : "");
}

TEST_P(ClapConformance, FeaturesCategories) {
  static const std::set<std::string> kMain = {"instrument", "audio-effect", "note-effect",
                                             "note-detector", "analyzer"};
  bool main = false;
  for (const char* const* f = descriptor_->features; f && *f; ++f) main |= kMain.count(*f) > 0;
  EXPECT_TRUE(main) << "no main category among the features";
}

TEST_P(ClapConformance, FeaturesDuplicates) {
  std::set<std::string> seen;
  for (const char* const* f = descriptor_->features; f && *f; ++f)
    EXPECT_TRUE(seen.insert(*f).second) << "feature listed twice: " << *f;
}

// ---------------------------------------------------------------- audio

TEST_P(ClapConformance, ProcessAudioOutOfPlaceBasic) {
  auto plug = Create();
  ASSERT_TRUE(plug->Activate(kRate, kBlock));
  Render<float>(*plug, false, 8);
}

TEST_P(ClapConformance, ProcessAudioOutOfPlaceDouble) {
  auto plug = Create();
  if (!Supports64(*plug)) GTEST_SKIP() << "no 64-bit ports";
  ASSERT_TRUE(plug->Activate(kRate, kBlock));
  Render<double>(*plug, false, 8);
}

// In place where the ports declare a pair: the same output as out of place.
class ClapInPlace : public ClapConformance {
 protected:
  template <typename Sample>
  void CompareWithOutOfPlace() {
    auto outOfPlace = Create();
    if (sizeof(Sample) == sizeof(double) && !Supports64(*outOfPlace)) GTEST_SKIP() << "no 64-bit ports";
    ASSERT_TRUE(outOfPlace->Activate(kRate, kBlock));
    const std::vector<Sample> expected = Render<Sample>(*outOfPlace, false, 4);
    auto inPlace = Create();
    ASSERT_TRUE(inPlace->Activate(kRate, kBlock));
    EXPECT_EQ(Render<Sample>(*inPlace, true, 4), expected);
  }
};

TEST_P(ClapInPlace, ProcessAudioInPlaceBasic) { CompareWithOutOfPlace<float>(); }
TEST_P(ClapInPlace, ProcessAudioInPlaceDouble) { CompareWithOutOfPlace<double>(); }

TEST_P(ClapConformance, ProcessAudioDenormals) {
  auto plug = Create();
  ASSERT_TRUE(plug->Activate(kRate, kBlock));
  std::vector<float> denormals(kBlock);
  for (uint32_t f = 0; f < kBlock; ++f)
    denormals[f] = (f % 2 ? -1.0f : 1.0f) * std::numeric_limits<float>::denorm_min() * static_cast<float>(f + 1);
  const std::vector<float> out = Render<float>(*plug, false, 4, kBlock, &denormals);
  for (float sample : out) ASSERT_NE(std::fpclassify(sample), FP_SUBNORMAL) << "subnormal output";
}

TEST_P(ClapConformance, ProcessSleepConstantMask) {
  // Silence in: a valid status, and constant-mask bits only for channels
  // that exist and really are constant (the host clears the mask).
  auto plug = Create();
  ASSERT_TRUE(plug->Activate(kRate, kBlock));
  ClapAudioBuffers<float> buffers;
  buffers.Build(plug->plugin, plug->audioPorts, kBlock, false);
  for (int b = 0; b < 4; ++b) {
    for (auto& out : buffers.outputBuffers) out.constant_mask = 0;
    ASSERT_TRUE(ValidStatus(plug->Process(buffers, kBlock, nullptr, nullptr)));
    for (size_t p = 0; p < buffers.outputBuffers.size(); ++p) {
      const uint64_t mask = buffers.outputBuffers[p].constant_mask;
      const uint32_t channels = buffers.outputBuffers[p].channel_count;
      EXPECT_EQ(mask >> channels, 0u) << "mask bits beyond the port's channels";
      for (uint32_t c = 0; c < channels; ++c) {
        if (!(mask & (uint64_t(1) << c))) continue;
        const float* data = buffers.OutputChannel(p, c);
        EXPECT_TRUE(std::all_of(data, data + kBlock, [&](float s) { return s == data[0]; }));
      }
    }
  }
}

TEST_P(ClapConformance, ProcessVaryingSampleRates) {
  for (double rate : {1000.0, 22050.0, 44100.0, 96000.0, 192000.0, 384000.0}) {
    auto plug = Create();
    ASSERT_TRUE(plug->Activate(rate, kBlock)) << rate;
    Render<float>(*plug, false, 2);
  }
}

TEST_P(ClapConformance, ProcessVaryingBlockSizes) {
  for (uint32_t frames : {1u, 7u, 32u, 511u, 512u, 4096u, 32768u}) {
    auto plug = Create();
    ASSERT_TRUE(plug->Activate(kRate, frames)) << frames;
    Render<float>(*plug, false, 2, frames);
  }
}

TEST_P(ClapConformance, ProcessRandomBlockSizes) {
  auto plug = Create();
  ASSERT_TRUE(plug->Activate(kRate, 2048));
  ClapAudioBuffers<float> buffers;
  buffers.Build(plug->plugin, plug->audioPorts, 2048, false);
  std::mt19937 random(3);
  std::uniform_int_distribution<uint32_t> size(1, 2048);
  for (int b = 0; b < 40; ++b) {
    const uint32_t frames = size(random);
    FillNoise(buffers, frames, static_cast<uint32_t>(b));
    ASSERT_TRUE(ValidStatus(plug->Process(buffers, frames, nullptr, nullptr)));
    ASSERT_TRUE(OutputsFinite(buffers, frames)) << frames << " frames";
  }
}

// reset and a deactivate/activate both start the signal path afresh.
TEST_P(ClapConformance, ProcessResetReactivate) {
  auto plug = Create();
  ASSERT_TRUE(plug->Activate(kRate, kBlock));
  const std::vector<float> first = Render<float>(*plug, false, 3);
  plug->Reset();
  EXPECT_EQ(Render<float>(*plug, false, 3), first) << "after reset";
  plug->Deactivate();
  ASSERT_TRUE(plug->Activate(kRate, kBlock));
  EXPECT_EQ(Render<float>(*plug, false, 3), first) << "after reactivation";
}

// clap.gain-adjustment-metering (draft): Kestrune offers it (a module that
// does not is skipped). Full-scale noise with the first parameter (INPUT,
// the drive) at mid range is pulled down by decibels, short of the meter's
// end stop; 4 s of silence bring the meter back to no reduction.
TEST_P(ClapConformance, GainAdjustmentMetering) {
  auto plug = Create();
  const auto* metering = static_cast<const clap_plugin_gain_adjustment_metering*>(
      plug->plugin->get_extension(plug->plugin, CLAP_EXT_GAIN_ADJUSTMENT_METERING));
  if (GetParam() != KESTRUNE_CLAP_MODULE && !metering) GTEST_SKIP() << "not offered";
  ASSERT_NE(metering, nullptr);
  ASSERT_TRUE(plug->Activate(kRate, kBlock));
  ClapInputEvents drive;
  const auto infos = Settable(*plug);
  ASSERT_FALSE(infos.empty());
  drive.AddParamValue(infos[0].id, 0.5 * (infos[0].min_value + infos[0].max_value));
  ClapAudioBuffers<float> buffers;
  buffers.Build(plug->plugin, plug->audioPorts, kBlock, false);
  for (int b = 0; b < 40; ++b) {
    FillNoise(buffers, kBlock, static_cast<uint32_t>(b));
    plug->Process(buffers, kBlock, b == 0 ? drive.List() : nullptr, nullptr);
  }
  host_.SetAudioThread(true);
  const double loud = metering->get(plug->plugin);
  EXPECT_LT(loud, -3.0) << "full-scale noise, driven";
  EXPECT_GT(loud, -60.0) << "at the end stop";
  for (auto& port : buffers.inputs)
    for (auto& channel : port) std::fill(channel.begin(), channel.end(), 0.0f);
  for (int b = 0; b < 400; ++b) plug->Process(buffers, kBlock, nullptr, nullptr);
  host_.SetAudioThread(true);
  const double quiet = metering->get(plug->plugin);
  EXPECT_LE(quiet, 0.0);
  EXPECT_GT(quiet, -0.5) << "after 4 s of silence";
  host_.SetAudioThread(false);
}

// ---------------------------------------------------------------- parameters

// A host scanning with a bare host object (no timer-support) still learns
// Kestrune's editor exists; only creating it needs the timer.
TEST_P(ClapConformance, GuiApiAnsweredToAScanningHost) {
  if (GetParam() != KESTRUNE_CLAP_MODULE) GTEST_SKIP() << "Kestrune's own editor contract";
  ClapHostContext bare;
  bare.offersExtensions = false;
  ClapInstance plug;
  std::string error;
  ASSERT_TRUE(plug.Create(module_, bare, pluginId_, error)) << error;
  const auto* gui = static_cast<const clap_plugin_gui*>(plug.plugin->get_extension(plug.plugin, CLAP_EXT_GUI));
  ASSERT_NE(gui, nullptr);
  EXPECT_TRUE(gui->is_api_supported(plug.plugin, CLAP_WINDOW_API_X11, false));
  EXPECT_FALSE(gui->is_api_supported(plug.plugin, CLAP_WINDOW_API_X11, true));
  EXPECT_FALSE(gui->create(plug.plugin, CLAP_WINDOW_API_X11, false)) << "an editor no timer would draw";
}

TEST_P(ClapConformance, ParamDefaultValues) {
  auto plug = Create();
  const auto infos = plug->ParamInfos();
  ASSERT_NE(plug->params, nullptr);
  EXPECT_EQ(infos.size(), plug->params->count(plug->plugin));
  std::set<clap_id> ids;
  for (const clap_param_info& info : infos) {
    SCOPED_TRACE(info.name);
    EXPECT_TRUE(ids.insert(info.id).second) << "id used twice";
    ASSERT_TRUE(std::isfinite(info.min_value) && std::isfinite(info.max_value));
    EXPECT_LE(info.min_value, info.default_value);
    EXPECT_LE(info.default_value, info.max_value);
    double value = NAN;
    ASSERT_TRUE(plug->ParamValue(info.id, &value));
    EXPECT_EQ(value, info.default_value);
  }
}

// A value's text read back gives a value with the same text.
TEST_P(ClapConformance, ParamConversions) {
  auto plug = Create();
  for (const clap_param_info& info : plug->ParamInfos()) {
    SCOPED_TRACE(info.name);
    for (double fraction : {0.0, 0.25, 0.5, 0.75, 1.0}) {
      double value = info.min_value + fraction * (info.max_value - info.min_value);
      if (info.flags & CLAP_PARAM_IS_STEPPED) value = std::round(value);
      char text[256] = {};
      if (!plug->params->value_to_text(plug->plugin, info.id, value, text, sizeof text)) continue;
      double parsed = NAN;
      ASSERT_TRUE(plug->params->text_to_value(plug->plugin, info.id, text, &parsed)) << text;
      char again[256] = {};
      ASSERT_TRUE(plug->params->value_to_text(plug->plugin, info.id, parsed, again, sizeof again));
      EXPECT_STREQ(again, text) << "value " << value << " read back as " << parsed;
    }
  }
}

// Values sent as events in a block are the values read back afterwards;
// `cookies` sends each parameter's own cookie, else null.
class ClapParamEvents : public ClapConformance {
 protected:
  void SetAndReadBack(bool cookies) {
    auto plug = Create();
    ASSERT_TRUE(plug->Activate(kRate, kBlock));
    const auto infos = Settable(*plug);
    for (uint32_t round = 0; round < 5; ++round) {
      const std::vector<double> values = RandomValues(infos, round);
      ClapInputEvents events;
      for (size_t i = 0; i < infos.size(); ++i)
        events.AddParamValue(infos[i].id, values[i], 0, cookies ? infos[i].cookie : nullptr);
      ClapAudioBuffers<float> buffers;
      buffers.Build(plug->plugin, plug->audioPorts, kBlock, false);
      ASSERT_TRUE(ValidStatus(plug->Process(buffers, kBlock, events.List(), nullptr)));
      const std::vector<double> read = ValuesOf(*plug, infos);
      for (size_t i = 0; i < infos.size(); ++i)
        EXPECT_NEAR(read[i], values[i], 1e-6 * (infos[i].max_value - infos[i].min_value)) << infos[i].name;
    }
  }
};

TEST_P(ClapParamEvents, ParamSetEvents) { SetAndReadBack(true); }

TEST_P(ClapParamEvents, ParamSetNoCookies) { SetAndReadBack(false); }

TEST_P(ClapConformance, ParamSetWrongNamespace) {
  auto plug = Create();
  ASSERT_TRUE(plug->Activate(kRate, kBlock));
  const auto infos = Settable(*plug);
  const std::vector<double> before = ValuesOf(*plug, infos);
  ClapInputEvents events;
  for (const auto& info : infos)
    events.AddParamValue(info.id, info.min_value == info.default_value ? info.max_value : info.min_value,
                         0, nullptr, 0x4b4e);
  ClapAudioBuffers<float> buffers;
  buffers.Build(plug->plugin, plug->audioPorts, kBlock, false);
  ASSERT_TRUE(ValidStatus(plug->Process(buffers, kBlock, events.List(), nullptr)));
  const std::vector<double> after = ValuesOf(*plug, infos);
  for (size_t i = 0; i < infos.size(); ++i) {
    EXPECT_EQ(after[i], before[i]) << infos[i].name << " changed by another space's event";
  }
}

// Parameter fuzzing: blocks of random events; the audio stays finite.
// `bounds` sends only the range's ends, `sampleAccurate` spreads the
// events over the block, `modulation` adds modulation events.
class ClapParamFuzz : public ClapConformance {
 protected:
  void Fuzz(bool bounds, bool sampleAccurate, bool modulation) {
    auto plug = Create();
    ASSERT_TRUE(plug->Activate(kRate, kBlock));
    const auto infos = Settable(*plug);
    ClapAudioBuffers<float> buffers;
    buffers.Build(plug->plugin, plug->audioPorts, kBlock, false);
    std::mt19937 random(11);
    std::uniform_int_distribution<uint32_t> time(0, kBlock - 1);
    for (int b = 0; b < 50; ++b) {
      ClapInputEvents events;
      const std::vector<double> values = RandomValues(infos, static_cast<uint32_t>(b));
      for (size_t i = 0; i < infos.size(); ++i) {
        const double value = bounds ? (random() % 2 ? infos[i].max_value : infos[i].min_value) : values[i];
        const uint32_t at = sampleAccurate ? time(random) : 0;
        events.AddParamValue(infos[i].id, value, at);
        if (modulation && (infos[i].flags & CLAP_PARAM_IS_MODULATABLE))
          events.AddParamMod(infos[i].id, (infos[i].max_value - infos[i].min_value) * 0.5, at);
      }
      FillNoise(buffers, kBlock, static_cast<uint32_t>(b));
      ASSERT_TRUE(ValidStatus(plug->Process(buffers, kBlock, events.List(), nullptr)));
      ASSERT_TRUE(OutputsFinite(buffers, kBlock)) << "block " << b;
    }
  }
};

TEST_P(ClapParamFuzz, ParamFuzzBasic) { Fuzz(false, false, false); }
TEST_P(ClapParamFuzz, ParamFuzzBounds) { Fuzz(true, false, false); }
TEST_P(ClapParamFuzz, ParamFuzzSampleAccurate) { Fuzz(false, true, false); }
TEST_P(ClapParamFuzz, ParamFuzzModulation) { Fuzz(false, true, true); }

// ---------------------------------------------------------------- state

TEST_P(ClapConformance, StateInvalidEmpty) {
  auto plug = Create();
  if (!plug->state) GTEST_SKIP() << "no state extension";
  EXPECT_FALSE(plug->Load({})) << "an empty state was accepted";
}

TEST_P(ClapConformance, StateInvalidRandom) {
  auto plug = Create();
  if (!plug->state) GTEST_SKIP() << "no state extension";
  std::mt19937 random(5);
  for (size_t size : {1u, 7u, 64u, 1000u, 100000u}) {
    std::vector<uint8_t> garbage(size);
    for (uint8_t& byte : garbage) byte = static_cast<uint8_t>(random());
    plug->Load(garbage);  // may be refused; must not crash or leave bad values
    for (const auto& info : plug->ParamInfos()) {
      double value = NAN;
      ASSERT_TRUE(plug->ParamValue(info.id, &value));
      EXPECT_TRUE(value >= info.min_value && value <= info.max_value) << info.name;
    }
  }
}

// Random values set through events, saved, loaded into a fresh instance:
// the same values. `maxPerCall` makes the streams move few bytes per call.
class ClapStateReproducibility : public ClapConformance {
 protected:
  void SetUp() override {
    ClapConformance::SetUp();
    if (IsSkipped() || HasFatalFailure()) return;
    if (!Create()->state) GTEST_SKIP() << "no state extension";
  }

  void SaveRandomState(ClapInstance& plug, std::vector<uint8_t>& blob, std::vector<double>& values,
                       uint64_t maxPerCall) {
    const auto infos = Settable(plug);
    const std::vector<double> wanted = RandomValues(infos, 21);
    ClapInputEvents events;
    for (size_t i = 0; i < infos.size(); ++i) events.AddParamValue(infos[i].id, wanted[i]);
    ASSERT_TRUE(plug.Flush(events.List(), nullptr));
    values = ValuesOf(plug, infos);
    ASSERT_TRUE(plug.Save(blob, maxPerCall));
  }

  void RoundTrip(uint64_t maxPerCall) {
    auto source = Create();
    std::vector<uint8_t> blob;
    std::vector<double> values;
    SaveRandomState(*source, blob, values, maxPerCall);
    auto copy = Create();
    ASSERT_TRUE(copy->Load(blob, maxPerCall));
    const auto infos = Settable(*copy);
    const std::vector<double> loaded = ValuesOf(*copy, infos);
    for (size_t i = 0; i < infos.size(); ++i) EXPECT_EQ(loaded[i], values[i]) << infos[i].name;
  }
};

TEST_P(ClapStateReproducibility, StateReproducibilityBasic) { RoundTrip(0); }

TEST_P(ClapStateReproducibility, StateReproducibilityBuffered) { RoundTrip(3); }

TEST_P(ClapStateReproducibility, StateReproducibilityBinary) {
  auto source = Create();
  std::vector<uint8_t> blob;
  std::vector<double> values;
  SaveRandomState(*source, blob, values, 0);
  auto copy = Create();
  ASSERT_TRUE(copy->Load(blob));
  std::vector<uint8_t> again;
  ASSERT_TRUE(copy->Save(again));
  EXPECT_EQ(again, blob);
}

// ---------------------------------------------------------------- presets

// A host's preset browser: the module's preset providers, each initialised
// (it declares its locations) and asked for the presets of each location.
class PresetCrawl {
 public:
  struct Preset {
    std::string name, loadKey;
    uint32_t kind = 0;
    bool nullLocation = true;
    std::vector<std::string> pluginIds;  // "abi:id"
  };
  std::vector<Preset> presets;
  std::vector<std::string> errors;

  void Run(const clap_preset_discovery_factory* factory) {
    for (uint32_t p = 0; p < factory->count(factory); ++p) {
      const clap_preset_discovery_provider_descriptor* descriptor = factory->get_descriptor(factory, p);
      if (!descriptor || !descriptor->id || !descriptor->name) {
        errors.push_back("provider " + std::to_string(p) + " has no descriptor, id or name");
        continue;
      }
      const clap_preset_discovery_provider* provider = factory->create(factory, &indexer_, descriptor->id);
      if (!provider || !provider->init || !provider->destroy || !provider->get_metadata) {
        errors.push_back(std::string("provider ") + descriptor->id + " is not created whole");
        continue;
      }
      locations_.clear();
      if (!provider->init(provider)) errors.push_back(std::string(descriptor->id) + " init failed");
      for (const Location& location : locations_) {
        kind_ = location.kind;
        nullLocation_ = !location.hasPath;
        if (!provider->get_metadata(provider, location.kind, location.hasPath ? location.path.c_str() : nullptr,
                                    &receiver_))
          errors.push_back(std::string(descriptor->id) + " get_metadata failed");
      }
      provider->destroy(provider);
    }
  }

 private:
  struct Location {
    uint32_t kind;
    bool hasPath;
    std::string path;
  };
  static PresetCrawl* Of(const clap_preset_discovery_indexer* indexer) {
    return static_cast<PresetCrawl*>(indexer->indexer_data);
  }
  static PresetCrawl* Of(const clap_preset_discovery_metadata_receiver* receiver) {
    return static_cast<PresetCrawl*>(receiver->receiver_data);
  }
  static bool DeclareLocation(const clap_preset_discovery_indexer* indexer,
                              const clap_preset_discovery_location* location) {
    if (!location) return false;
    Of(indexer)->locations_.push_back({location->kind, location->location != nullptr,
                                       location->location ? location->location : ""});
    return true;
  }
  static bool BeginPreset(const clap_preset_discovery_metadata_receiver* receiver, const char* name,
                          const char* loadKey) {
    PresetCrawl& crawl = *Of(receiver);
    Preset preset;
    preset.name = name ? name : "";
    preset.loadKey = loadKey ? loadKey : "";
    preset.kind = crawl.kind_;
    preset.nullLocation = crawl.nullLocation_;
    crawl.presets.push_back(preset);
    return true;
  }
  static void AddPluginId(const clap_preset_discovery_metadata_receiver* receiver,
                          const clap_universal_plugin_id* id) {
    PresetCrawl& crawl = *Of(receiver);
    if (crawl.presets.empty() || !id || !id->abi || !id->id) {
      crawl.errors.push_back("a plug-in id outside a preset, or incomplete");
      return;
    }
    crawl.presets.back().pluginIds.push_back(std::string(id->abi) + ":" + id->id);
  }

  std::vector<Location> locations_;
  uint32_t kind_ = 0;
  bool nullLocation_ = true;
  clap_preset_discovery_indexer indexer_ = {
      CLAP_VERSION_INIT, "Kestrune conformance", "", "", "", this,
      [](const clap_preset_discovery_indexer*, const clap_preset_discovery_filetype*) { return true; },
      DeclareLocation,
      [](const clap_preset_discovery_indexer*, const clap_preset_discovery_soundpack*) { return true; },
      [](const clap_preset_discovery_indexer*, const char*) -> const void* { return nullptr; }};
  clap_preset_discovery_metadata_receiver receiver_ = {
      this,
      [](const clap_preset_discovery_metadata_receiver* r, int32_t, const char* message) {
        Of(r)->errors.push_back(message ? message : "an error without a message");
      },
      BeginPreset,
      AddPluginId,
      [](const clap_preset_discovery_metadata_receiver*, const char*) {},
      [](const clap_preset_discovery_metadata_receiver*, uint32_t) {},
      [](const clap_preset_discovery_metadata_receiver*, const char*) {},
      [](const clap_preset_discovery_metadata_receiver*, const char*) {},
      [](const clap_preset_discovery_metadata_receiver*, clap_timestamp_t, clap_timestamp_t) {},
      [](const clap_preset_discovery_metadata_receiver*, const char*) {},
      [](const clap_preset_discovery_metadata_receiver*, const char*, const char*) {}};
};

// The plain values at the head of Kestrune's state (one double per
// parameter, in index order).
std::vector<double> StatePlainValues(const std::vector<uint8_t>& blob) {
  std::vector<double> values(kestrune::kParamCount, NAN);
  if (blob.size() >= values.size() * sizeof(double)) std::memcpy(values.data(), blob.data(), values.size() * sizeof(double));
  return values;
}

// The presets the discovery factory lists, each loaded through preset-load
// into one instance: the host is asked to re-read the values, and for
// Kestrune the state holds the factory table's settings over the defaults.
TEST_P(ClapConformance, PresetDiscoveryLoad) {
  const bool kestrune = GetParam() == KESTRUNE_CLAP_MODULE;
  const auto* factory = static_cast<const clap_preset_discovery_factory*>(
      module_.Entry()->get_factory(CLAP_PRESET_DISCOVERY_FACTORY_ID));
  if (!factory) {
    ASSERT_FALSE(kestrune) << "no preset-discovery factory";
    GTEST_SKIP() << "no preset-discovery factory";
  }
  PresetCrawl crawl;
  crawl.Run(factory);
  EXPECT_TRUE(crawl.errors.empty()) << crawl.errors.front();
  ASSERT_FALSE(crawl.presets.empty());

  auto plug = Create();
  const auto* presetLoad = static_cast<const clap_plugin_preset_load*>(
      plug->plugin->get_extension(plug->plugin, CLAP_EXT_PRESET_LOAD));
  ASSERT_NE(presetLoad, nullptr);
  std::vector<uint8_t> blob;
  ASSERT_TRUE(plug->Save(blob));
  const std::vector<double> defaults = StatePlainValues(blob);
  if (kestrune) ASSERT_EQ(crawl.presets.size(), static_cast<size_t>(kestrune::kFactoryPresetCount));
  for (size_t p = 0; p < crawl.presets.size(); ++p) {
    const PresetCrawl::Preset& preset = crawl.presets[p];
    SCOPED_TRACE(preset.name);
    EXPECT_NE(std::find(preset.pluginIds.begin(), preset.pluginIds.end(), "clap:" + pluginId_),
              preset.pluginIds.end());
    if (preset.kind == CLAP_PRESET_DISCOVERY_LOCATION_PLUGIN) EXPECT_TRUE(preset.nullLocation);
    const int rescans = host_.rescanValueCount;
    ASSERT_TRUE(presetLoad->from_location(plug->plugin, preset.kind, nullptr, preset.loadKey.c_str()));
    plug->RunMainThreadCallbacks();
    EXPECT_EQ(host_.rescanValueCount, rescans + 1) << "the host is not asked to re-read the values";
    if (!kestrune) continue;
    const kestrune::FactoryPreset& table = kestrune::kFactoryPresets[p];
    EXPECT_EQ(preset.name, table.name);
    std::vector<double> expected = defaults;
    for (int s = 0; s < table.settingCount; ++s) expected[table.settings[s].param] = table.settings[s].plainValue;
    ASSERT_TRUE(plug->Save(blob));
    EXPECT_EQ(StatePlainValues(blob), expected);
  }
  if (kestrune)
    EXPECT_FALSE(presetLoad->from_location(plug->plugin, CLAP_PRESET_DISCOVERY_LOCATION_PLUGIN, nullptr, "Drum Bus"))
        << "a key it never listed";
}

// ---------------------------------------------------------------- transport

clap_event_transport RandomTransport(std::mt19937& random, uint32_t time) {
  clap_event_transport t = {};
  t.header.size = sizeof t;
  t.header.time = time;
  t.header.type = CLAP_EVENT_TRANSPORT;
  t.flags = static_cast<uint32_t>(random() & 0xFF);
  t.song_pos_beats = static_cast<int64_t>(random()) - 0x7FFFFFFF;
  t.song_pos_seconds = static_cast<int64_t>(random()) << 8;
  t.tempo = std::uniform_real_distribution<double>(1.0, 999.0)(random);
  t.tempo_inc = std::uniform_real_distribution<double>(-0.01, 0.01)(random);
  t.loop_start_beats = static_cast<int64_t>(random());
  t.loop_end_beats = t.loop_start_beats + static_cast<int64_t>(random());
  t.bar_start = static_cast<int64_t>(random());
  t.bar_number = static_cast<int32_t>(random() % 1000);
  t.tsig_num = static_cast<uint16_t>(random() % 16 + 1);
  t.tsig_denom = static_cast<uint16_t>(1u << (random() % 5));
  return t;
}

// Noise with a transport: none (null), a random one per block, or that and
// random transport events inside the block; the audio stays finite.
class ClapTransport : public ClapConformance {
 protected:
  void Run(bool withTransport, int changesPerBlock) {
    auto plug = Create();
    ASSERT_TRUE(plug->Activate(kRate, kBlock));
    ClapAudioBuffers<float> buffers;
    buffers.Build(plug->plugin, plug->audioPorts, kBlock, false);
    std::mt19937 random(17);
    for (int b = 0; b < 50; ++b) {
      const clap_event_transport transport = RandomTransport(random, 0);
      ClapInputEvents events;
      for (int e = 0; e < changesPerBlock; ++e) {
        clap_event_transport change = RandomTransport(random, static_cast<uint32_t>(random() % kBlock));
        events.Add(&change.header);
      }
      FillNoise(buffers, kBlock, static_cast<uint32_t>(b));
      const int64_t steadyTime = withTransport ? b * kBlock : -1;
      ASSERT_TRUE(ValidStatus(plug->Process(buffers, kBlock, events.List(), nullptr,
                                            withTransport ? &transport : nullptr, steadyTime)));
      ASSERT_TRUE(OutputsFinite(buffers, kBlock));
    }
  }
};

TEST_P(ClapTransport, TransportNull) { Run(false, 0); }
TEST_P(ClapTransport, TransportFuzz) { Run(true, 0); }
TEST_P(ClapTransport, TransportFuzzSampleAccurate) { Run(true, 4); }

std::string ModuleName(const ::testing::TestParamInfo<std::string>& info) {
  std::string name = info.param.substr(info.param.find_last_of('/') + 1);
  name = name.substr(0, name.find('.'));
  return name;
}

#define KESTRUNE_CLAP_MODULES \
  ::testing::Values(std::string(KESTRUNE_CLAP_MODULE), std::string("/usr/lib/clap/ZamCompX2.clap"))

INSTANTIATE_TEST_SUITE_P(Module, ClapConformance, KESTRUNE_CLAP_MODULES, ModuleName);
INSTANTIATE_TEST_SUITE_P(Module, ClapParamEvents, KESTRUNE_CLAP_MODULES, ModuleName);
INSTANTIATE_TEST_SUITE_P(Module, ClapParamFuzz, KESTRUNE_CLAP_MODULES, ModuleName);
INSTANTIATE_TEST_SUITE_P(Module, ClapStateReproducibility, KESTRUNE_CLAP_MODULES, ModuleName);
INSTANTIATE_TEST_SUITE_P(Module, ClapTransport, KESTRUNE_CLAP_MODULES, ModuleName);
INSTANTIATE_TEST_SUITE_P(Module, ClapInPlace, KESTRUNE_CLAP_MODULES, ModuleName);

}  // namespace
