// The factory preset files the build wrote, loaded as hosts load them: the
// .vstpreset through the VST3 module (controller state), the .fxp through
// the VST2 module (effSetChunk with the program chunk). Each must give the
// plug-in exactly the settings the preset names, the same audio as those
// settings applied by hand, and the sound the preset promises, measured on
// the embedded drums and bass.
#include <gtest/gtest.h>

#include <sys/wait.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <memory>

#include "DefaultMaterial.h"
#include "FxpFile.h"
#include "LevelAnalysis.h"
#include "ModuleIdentity.h"
#include "PresetWriter.h"
#include "VstPresetFile.h"

namespace {

using presetfiles::Bytes;
using render::PluginHost;

constexpr int kBlockFrames = 512;

// What each preset must do to the material, in dB. Reduction: the mean gain
// reduction over the windows with signal (output level, less the OUTPUT
// gain, below the input level); level change: output RMS minus input RMS.
struct Sound {
  const char* name;
  double minReductionDb, maxReductionDb;
  double minLevelChangeDb, maxLevelChangeDb;
};

const Sound kSounds[] = {
    {"Drum Bus Glue", 1.0, 3.0, -1.5, 1.0},
    {"Vocal Levelling", 4.0, 7.0, -3.5, -0.5},
    {"Parallel Smash", 3.0, 6.0, -1.5, 1.0},
    // Measured with a steady bass line on the main input and the embedded
    // drums and bass on the sidechain: the bass ducks under the hits.
    {"Bass Ducked by Kick", 6.0, 10.0, -8.0, -4.5},
    {"Gentle Master", 0.3, 1.5, -0.5, 0.7},
    {"SLAM", 5.0, 8.0, -4.5, -2.0},
};

struct Measurement {
  std::vector<std::vector<double>> output;  // two channels
  double meanReductionDb = 0;
  double levelChangeDb = 0;
};

bool UsesSidechain(const kestrune::FactoryPreset& preset) {
  for (int s = 0; s < preset.settingCount; ++s) {
    if (preset.settings[s].param == kestrune::kSidechain && preset.settings[s].plainValue == 0) return true;
  }
  return false;
}

double OutputGainDb(const std::vector<double>& values) { return values[kestrune::kOutput]; }

// Main input and sidechain for a preset: the embedded material on the main
// input, or, for a ducking preset, a bass line ducked by the material. The
// material is made once: a test renders it for several presets, and making
// it took most of these tests' time under the sanitizers.
std::vector<std::vector<double>> Material(bool sidechain) {
  static const render::AudioBuffer material = render::MakeDefaultMaterial();
  const size_t frames = material.FrameCount();
  std::vector<std::vector<double>> inputs(4, std::vector<double>(frames, 0.0));
  if (!sidechain) {
    inputs[0] = material.channels[0];
    inputs[1] = material.channels[1];
    return inputs;
  }
  const double pi = std::acos(-1.0);
  for (size_t n = 0; n < frames; ++n) {
    const double bass = 0.25 * std::sin(2 * pi * 55.0 * static_cast<double>(n) / material.sampleRate);
    inputs[0][n] = inputs[1][n] = bass;
  }
  inputs[2] = material.channels[0];
  inputs[3] = material.channels[1];
  return inputs;
}

Measurement Render(PluginHost& host, const std::vector<double>& stateValues, bool sidechain) {
  const std::vector<std::vector<double>> inputs = Material(sidechain);
  const size_t frames = inputs[0].size();
  Measurement m;
  m.output.assign(2, std::vector<double>(frames, 0.0));
  render::LevelAnalysis levels(render::kDefaultMaterialRate);
  levels.SetMakeupGainDb(OutputGainDb(stateValues));
  for (size_t at = 0; at < frames; at += kBlockFrames) {
    const int count = static_cast<int>(std::min<size_t>(kBlockFrames, frames - at));
    const double* in[4] = {&inputs[0][at], &inputs[1][at], &inputs[2][at], &inputs[3][at]};
    double* out[2] = {&m.output[0][at], &m.output[1][at]};
    host.Process(in, out, count);
    levels.Add(in, out, static_cast<size_t>(count));
  }
  levels.Finish();
  double sum = 0;
  int windows = 0;
  for (size_t w = 0; w < levels.InputDb().size(); ++w) {
    if (levels.InputDb()[w] <= render::LevelAnalysis::kSilenceDb) continue;
    sum -= levels.ReductionDb()[w];
    ++windows;
  }
  m.meanReductionDb = windows ? sum / windows : 0;
  m.levelChangeDb = levels.OutputRmsDb() - levels.InputRmsDb();
  return m;
}

Bytes ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

struct Case {
  int preset;
  bool vst3;
};

std::string CaseName(const testing::TestParamInfo<Case>& info) {
  std::string name;
  for (const char* c = kestrune::kFactoryPresets[info.param.preset].name; *c; ++c) {
    if (std::isalnum(static_cast<unsigned char>(*c))) name += *c;
  }
  return name + (info.param.vst3 ? "Vst3" : "Vst2");
}

class FactoryPresetFile : public testing::TestWithParam<Case> {
 protected:
  const kestrune::FactoryPreset& Preset() const { return kestrune::kFactoryPresets[GetParam().preset]; }
  bool Vst3() const { return GetParam().vst3; }

  std::unique_ptr<PluginHost> FreshInstance(bool sidechain) {
    std::string error;
    std::unique_ptr<PluginHost> host = Vst3() ? render::LoadVst3(KESTRUNE_VST3_BUNDLE, error)
                                              : render::LoadVst2(KESTRUNE_VST2_MODULE, error);
    EXPECT_TRUE(host) << error;
    if (host) {
      EXPECT_TRUE(host->Prepare(render::kDefaultMaterialRate, kBlockFrames, false, sidechain, error)) << error;
    }
    return host;
  }

  std::vector<double> StateValues(PluginHost& host) {
    Bytes state;
    std::vector<double> values;
    std::string error;
    EXPECT_TRUE(host.GetState(state, error)) << error;
    EXPECT_TRUE(presets::ParameterValuesInState(host.FormatName(), state, values));
    return values;
  }

  // The state blob in the file, after checking what the file says about the
  // plug-in it belongs to.
  Bytes StateInFile() {
    const std::string base = std::string(KESTRUNE_PRESET_DIR) + (Vst3() ? "/vst3/" : "/vst2/") + Preset().name;
    std::string error;
    if (Vst3()) {
      presetfiles::VstPreset file;
      EXPECT_TRUE(presetfiles::ReadVstPreset(ReadFile(base + ".vstpreset"), file, error)) << error;
      std::string classId;
      EXPECT_TRUE(presets::ReadVst3ClassId(KESTRUNE_VST3_BUNDLE, "Kestrune", classId, error)) << error;
      EXPECT_EQ(file.classId, classId);
      // Both chunks: the SDK's PresetFile::loadPreset (JUCE) restores the
      // component's first and refuses an empty one.
      EXPECT_EQ(file.componentState, file.controllerState);
      EXPECT_TRUE(file.hasControllerState);
      return file.controllerState;
    }
    presetfiles::FxpProgram file;
    EXPECT_TRUE(presetfiles::ReadFxp(ReadFile(base + ".fxp"), file, error)) << error;
    presets::Vst2Identity identity;
    EXPECT_TRUE(presets::ReadVst2Identity(KESTRUNE_VST2_MODULE, identity, error)) << error;
    EXPECT_TRUE(file.opaqueChunk);
    EXPECT_EQ(file.pluginId, identity.uniqueId);
    EXPECT_EQ(file.pluginVersion, identity.version);
    EXPECT_EQ(file.paramCount, identity.paramCount);
    EXPECT_EQ(file.name, Preset().name);
    return file.chunk;
  }
};

TEST_P(FactoryPresetFile, LoadsTheNamedSettingsAndSoundsAsStated) {
  const bool sidechain = UsesSidechain(Preset());
  std::string error;

  // Loaded from the file into a fresh instance.
  std::unique_ptr<PluginHost> loaded = FreshInstance(sidechain);
  ASSERT_TRUE(loaded);
  const std::vector<double> defaults = StateValues(*loaded);
  ASSERT_EQ(defaults.size(), static_cast<size_t>(kestrune::kParamCount));
  ASSERT_TRUE(loaded->SetState(StateInFile(), error)) << error;
  const std::vector<double> values = StateValues(*loaded);

  // Exactly the preset's settings, every other parameter at its default.
  std::vector<double> expected = defaults;
  for (int s = 0; s < Preset().settingCount; ++s) {
    expected[static_cast<size_t>(Preset().settings[s].param)] = Preset().settings[s].plainValue;
  }
  ASSERT_EQ(values.size(), expected.size());
  for (size_t i = 0; i < values.size(); ++i) EXPECT_NEAR(values[i], expected[i], 1e-9) << "parameter " << i;

  // The same audio as the settings applied one by one.
  std::unique_ptr<PluginHost> byHand = FreshInstance(sidechain);
  ASSERT_TRUE(byHand);
  ASSERT_TRUE(presets::ApplyFactoryPreset(*byHand, Preset(), error)) << error;
  const Measurement fromFile = Render(*loaded, values, sidechain);
  const Measurement reference = Render(*byHand, values, sidechain);
  EXPECT_TRUE(fromFile.output == reference.output);

  const Sound* sound = nullptr;
  for (const Sound& s : kSounds) {
    if (std::string(s.name) == Preset().name) sound = &s;
  }
  ASSERT_TRUE(sound) << "no stated sound for " << Preset().name;
  printf("%-20s %s: mean gain reduction %.2f dB, level change %+.2f dB\n", Preset().name,
         loaded->FormatName(), fromFile.meanReductionDb, fromFile.levelChangeDb);
  EXPECT_GE(fromFile.meanReductionDb, sound->minReductionDb);
  EXPECT_LE(fromFile.meanReductionDb, sound->maxReductionDb);
  EXPECT_GE(fromFile.levelChangeDb, sound->minLevelChangeDb);
  EXPECT_LE(fromFile.levelChangeDb, sound->maxLevelChangeDb);
}

std::vector<Case> AllCases() {
  std::vector<Case> cases;
  for (int p = 0; p < kestrune::kFactoryPresetCount; ++p) {
    cases.push_back({p, true});
    cases.push_back({p, false});
  }
  return cases;
}

INSTANTIATE_TEST_SUITE_P(EveryPresetBothFormats, FactoryPresetFile, testing::ValuesIn(AllCases()), CaseName);

// The ducking preset ducks because of the sidechain: with a silent sidechain
// the bass passes nearly untouched.
TEST(FactoryPresetSound, BassDuckingFollowsTheExternalSidechain) {
  const kestrune::FactoryPreset* preset = nullptr;
  for (const auto& p : kestrune::kFactoryPresets) {
    if (UsesSidechain(p)) preset = &p;
  }
  ASSERT_TRUE(preset);
  std::string error;
  std::unique_ptr<PluginHost> host = render::LoadVst3(KESTRUNE_VST3_BUNDLE, error);
  ASSERT_TRUE(host) << error;
  ASSERT_TRUE(host->Prepare(render::kDefaultMaterialRate, kBlockFrames, false, true, error)) << error;
  ASSERT_TRUE(presets::ApplyFactoryPreset(*host, *preset, error)) << error;
  std::vector<std::vector<double>> inputs = Material(true);
  std::vector<std::vector<double>> silentSidechain = inputs;
  std::fill(silentSidechain[2].begin(), silentSidechain[2].end(), 0.0);
  std::fill(silentSidechain[3].begin(), silentSidechain[3].end(), 0.0);
  std::vector<double> out(kBlockFrames), out2(kBlockFrames);
  double inSquares = 0, outSquares = 0;
  for (size_t at = 0; at + kBlockFrames <= inputs[0].size(); at += kBlockFrames) {
    const double* in[4] = {&silentSidechain[0][at], &silentSidechain[1][at], &silentSidechain[2][at],
                           &silentSidechain[3][at]};
    double* o[2] = {out.data(), out2.data()};
    host->Process(in, o, kBlockFrames);
    for (int n = 0; n < kBlockFrames; ++n) {
      inSquares += in[0][n] * in[0][n];
      outSquares += out[static_cast<size_t>(n)] * out[static_cast<size_t>(n)];
    }
  }
  EXPECT_NEAR(10 * std::log10(outSquares / inSquares), 0.0, 1.0);
}

// The README's preset table is this one, measured on the VST3 module, so
// its claims cannot drift from the presets; no preset clips on the material.
TEST(FactoryPresetSound, ReadmeTableIsTheMeasuredOne) {
  std::string table =
      "| Preset | What it does | Mean gain reduction | Level change |\n|---|---|---|---|\n";
  for (const kestrune::FactoryPreset& preset : kestrune::kFactoryPresets) {
    const bool sidechain = UsesSidechain(preset);
    std::string error;
    std::unique_ptr<PluginHost> host = render::LoadVst3(KESTRUNE_VST3_BUNDLE, error);
    ASSERT_TRUE(host) << error;
    ASSERT_TRUE(host->Prepare(render::kDefaultMaterialRate, kBlockFrames, false, sidechain, error)) << error;
    ASSERT_TRUE(presets::ApplyFactoryPreset(*host, preset, error)) << error;
    Bytes state;
    std::vector<double> values;
    ASSERT_TRUE(host->GetState(state, error) && presets::ParameterValuesInState("VST3", state, values));
    const Measurement m = Render(*host, values, sidechain);
    double peak = 0;
    for (const auto& channel : m.output) {
      for (double v : channel) peak = std::max(peak, std::fabs(v));
    }
    EXPECT_LE(peak, 1.0) << preset.name << " clips: peak " << 20 * std::log10(peak) << " dBFS";
    char row[512];
    snprintf(row, sizeof row, "| %s | %s | %.1f dB | %+.1f dB |\n", preset.name, preset.description,
             m.meanReductionDb, m.levelChangeDb);
    table += row;
  }
  const Bytes readmeBytes = ReadFile(KESTRUNE_README);
  const std::string readme(readmeBytes.begin(), readmeBytes.end());
  const std::string begin = "<!-- preset table: measured by tests/presets -->\n";
  const std::string end = "<!-- end of preset table -->";
  const size_t from = readme.find(begin), to = readme.find(end);
  ASSERT_TRUE(from != std::string::npos && to != std::string::npos && to > from) << "no table markers in README.md";
  EXPECT_EQ(readme.substr(from + begin.size(), to - from - begin.size()), table)
      << "put this table between the markers in README.md:\n" << table;
}

}  // namespace

namespace {

int RunRender(const std::string& arguments) {
  const std::string command = std::string("'") + KESTRUNE_RENDER + "' " + arguments + " >/dev/null 2>&1";
  const int status = std::system(command.c_str());
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

// kestrune-render takes the preset files as they are shipped: a .vstpreset
// in either format (VST2 gets the same parameters), an .fxp in VST2 only;
// into VST3 it is an input error (status 3), not a silent default render.
TEST(RenderWithPresetFile, TakesTheVst3FileInBothFormatsAndTheFxpInVst2Only) {
  const std::string vst3Preset = std::string("'") + KESTRUNE_PRESET_DIR + "/vst3/SLAM.vstpreset'";
  const std::string fxp = std::string("'") + KESTRUNE_PRESET_DIR + "/vst2/SLAM.fxp'";
  const std::string common = " --no-pictures --quiet -o " + testing::TempDir() + "preset-render.wav";
  EXPECT_EQ(RunRender("--preset " + vst3Preset + common), 0);
  EXPECT_EQ(RunRender("--format vst2 --preset " + fxp + common), 0);
  EXPECT_EQ(RunRender("--preset " + fxp + common), 3);
  EXPECT_EQ(RunRender("--format vst2 --preset " + vst3Preset + common), 0);
}

}  // namespace
