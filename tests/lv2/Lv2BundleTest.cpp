// The built LV2 bundle in the hosts and checkers Linux ships: its data
// against the LV2 schemas, lv2info's view of the ports, lv2apply's audio
// against kestrune-render with the VST3, VST2 and LV2 modules, and the
// state extension through lilv.
#include <gtest/gtest.h>
#include <lilv/lilv.h>
#include <lv2/atom/atom.h>
#include <lv2/state/state.h>
#include <lv2/units/units.h>
#include <lv2/urid/urid.h>

#include <algorithm>
#include <cstdio>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "FactoryPresets.h"
#include "Lv2Ports.h"
#include "Lv2UridMap.h"
#include "PortValuesExtension.h"
#include "RenderRig.h"

#ifndef KESTRUNE_CLAP_MODULE
#define KESTRUNE_CLAP_MODULE_PATH ""
#else
#define KESTRUNE_CLAP_MODULE_PATH KESTRUNE_CLAP_MODULE
#endif

namespace {

using namespace rig;

const std::string kBundle = KESTRUNE_LV2_BUNDLE;
const std::string kPresetDir = KESTRUNE_PRESET_DIR;

// Output and status of a shell command.
RunResult Shell(const std::string& command) {
  RunResult result;
  FILE* pipe = popen((command + " 2>&1").c_str(), "r");
  if (!pipe) return result;
  char buffer[4096];
  size_t n = 0;
  while ((n = fread(buffer, 1, sizeof buffer, pipe)) > 0) result.out.append(buffer, n);
  const int status = pclose(pipe);
  result.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  return result;
}

// A folder holding only our bundle, for LV2_PATH: the build's module folder
// holds other formats' modules, which lilv would try as bundles.
class Lv2Path {
 public:
  Lv2Path() { symlink(kBundle.c_str(), (folder_ / "Kestrune.lv2").c_str()); }
  const std::string& Path() const { return folder_.Path(); }
  std::string Env() const { return "LV2_PATH='" + Path() + "' "; }

 private:
  ScratchFolder folder_;
};

// ---------------------------------------------------------------- lilv host

class LilvHost {
 public:
  explicit LilvHost(const Lv2Path& path) : world_(lilv_world_new()) {
    LilvNode* lv2Path = lilv_new_string(world_, path.Path().c_str());
    lilv_world_set_option(world_, LILV_OPTION_LV2_PATH, lv2Path);
    lilv_node_free(lv2Path);
    lilv_world_load_all(world_);
    LilvNode* uri = lilv_new_uri(world_, lv2ports::kPluginUri);
    plugin_ = lilv_plugins_get_by_uri(lilv_world_get_all_plugins(world_), uri);
    lilv_node_free(uri);
  }
  ~LilvHost() { lilv_world_free(world_); }
  LilvWorld* World() const { return world_; }
  const LilvPlugin* Plugin() const { return plugin_; }
  host::Lv2UridMap& Urids() { return urids_; }

 private:
  LilvWorld* world_;
  const LilvPlugin* plugin_ = nullptr;
  host::Lv2UridMap urids_;
};

// One instance with every port connected: stereo in, silent sidechain.
class Instance {
 public:
  static constexpr int kRate = 48000;
  Instance(LilvHost& host) : host_(host) {
    const LV2_Feature* features[] = {&host.Urids().mapFeature, nullptr};
    instance_ = lilv_plugin_instantiate(host.Plugin(), kRate, features);
    controls_.resize(lv2ports::kPortCount);
    ConnectDefaults();
    if (instance_) lilv_instance_activate(instance_);
  }
  ~Instance() {
    if (instance_) lilv_instance_deactivate(instance_);
    if (instance_) lilv_instance_free(instance_);
  }
  bool Valid() const { return instance_ != nullptr; }
  float& Port(const std::string& symbol) {
    for (uint32_t i = 0; i < lv2ports::kPortCount; ++i)
      if (symbols_[i] == symbol) return controls_[i];
    static float none = 0;
    ADD_FAILURE() << "no port " << symbol;
    return none;
  }
  // Processes `input` (stereo) in blocks of 256 frames.
  Channels Run(const Channels& input) {
    const size_t frames = input[0].size();
    Channels out(2, std::vector<double>(frames));
    float in[4][256] = {}, outBuffer[2][256] = {};
    for (uint32_t p = 0; p < 4; ++p) lilv_instance_connect_port(instance_, p, in[p]);
    for (uint32_t p = 0; p < 2; ++p) lilv_instance_connect_port(instance_, lv2ports::kOutLeft + p, outBuffer[p]);
    for (size_t at = 0; at < frames; at += 256) {
      const size_t n = std::min<size_t>(256, frames - at);
      for (size_t c = 0; c < 2; ++c)
        for (size_t f = 0; f < n; ++f) in[c][f] = static_cast<float>(input[c][at + f]);
      lilv_instance_run(instance_, static_cast<uint32_t>(n));
      for (size_t c = 0; c < 2; ++c)
        for (size_t f = 0; f < n; ++f) out[c][at + f] = outBuffer[c][f];
    }
    return out;
  }
  LilvState* Save() {
    return lilv_state_new_from_instance(host_.Plugin(), instance_, &MapOf(), nullptr, nullptr, nullptr,
                                        nullptr, PortValue, this, LV2_STATE_IS_POD | LV2_STATE_IS_PORTABLE,
                                        nullptr);
  }
  void Restore(const LilvState* state) {
    lilv_state_restore(state, instance_, SetPortValue, this, 0, nullptr);
  }
  // The plug-in's own state blob, through its state interface.
  std::vector<uint8_t> Blob() {
    std::vector<uint8_t> blob;
    if (const LV2_State_Interface* iface = StateInterface())
      iface->save(lilv_instance_get_handle(instance_), Store, &blob, LV2_STATE_IS_POD, nullptr);
    return blob;
  }
  // Hands the plug-in `blob` to restore, typed as lilv types a saved blob.
  LV2_State_Status RestoreBlob(const std::vector<uint8_t>& blob) {
    const LV2_State_Interface* iface = StateInterface();
    if (!iface) return LV2_STATE_ERR_UNKNOWN;
    retrieved_ = blob;
    return iface->restore(lilv_instance_get_handle(instance_), Retrieve, this, 0, nullptr);
  }
  // Sets every parameter port to what the plug-in says it should show, as a
  // host that restored a bare blob does.
  void ShowPortValuesTheRestoreGave() {
    const auto* values = static_cast<const KestrunePortValuesInterface*>(
        lilv_instance_get_extension_data(instance_, KESTRUNE_PORTVALUES__interface));
    ASSERT_NE(values, nullptr);
    for (uint32_t p = lv2ports::kFirstParamPort; p < lv2ports::kGainReductionPort; ++p)
      ASSERT_EQ(values->portValue(lilv_instance_get_handle(instance_), p, &controls_[p]), 1);
  }
  const LV2_State_Interface* StateInterface() const {
    return static_cast<const LV2_State_Interface*>(
        lilv_instance_get_extension_data(instance_, LV2_STATE__interface));
  }
  LV2_URID_Map& MapOf() { return host_.Urids().map; }

 private:
  void ConnectDefaults() {
    const LilvPlugin* plugin = host_.Plugin();
    symbols_.resize(lv2ports::kPortCount);
    for (uint32_t i = 0; i < lv2ports::kPortCount; ++i) {
      const LilvPort* port = lilv_plugin_get_port_by_index(plugin, i);
      symbols_[i] = lilv_node_as_string(lilv_port_get_symbol(plugin, port));
      LilvNode* def = nullptr;
      lilv_port_get_range(plugin, port, &def, nullptr, nullptr);
      if (def) controls_[i] = lilv_node_as_float(def);
      lilv_node_free(def);
      if (i >= lv2ports::kFirstParamPort) lilv_instance_connect_port(instance_, i, &controls_[i]);
    }
  }
  static const void* PortValue(const char* symbol, void* data, uint32_t* size, uint32_t* type) {
    auto* self = static_cast<Instance*>(data);
    for (uint32_t i = lv2ports::kFirstParamPort; i < lv2ports::kGainReductionPort; ++i) {
      if (self->symbols_[i] == symbol) {
        *size = sizeof(float);
        *type = self->MapOf().map(self->MapOf().handle, LV2_ATOM__Float);
        return &self->controls_[i];
      }
    }
    return nullptr;
  }
  static void SetPortValue(const char* symbol, void* data, const void* value, uint32_t size, uint32_t) {
    auto* self = static_cast<Instance*>(data);
    if (size != sizeof(float)) return;
    for (uint32_t i = lv2ports::kFirstParamPort; i < lv2ports::kGainReductionPort; ++i)
      if (self->symbols_[i] == symbol) memcpy(&self->controls_[i], value, sizeof(float));
  }
  static LV2_State_Status Store(LV2_State_Handle handle, uint32_t, const void* value, size_t size, uint32_t,
                                uint32_t) {
    auto* blob = static_cast<std::vector<uint8_t>*>(handle);
    blob->assign(static_cast<const uint8_t*>(value), static_cast<const uint8_t*>(value) + size);
    return LV2_STATE_SUCCESS;
  }

  static const void* Retrieve(LV2_State_Handle handle, uint32_t, size_t* size, uint32_t* type, uint32_t* flags) {
    auto* self = static_cast<Instance*>(handle);
    *size = self->retrieved_.size();
    *type = self->MapOf().map(self->MapOf().handle, LV2_ATOM__Chunk);
    *flags = LV2_STATE_IS_POD;
    return self->retrieved_.data();
  }

  LilvHost& host_;
  LilvInstance* instance_ = nullptr;
  std::vector<uint8_t> retrieved_;
  std::vector<float> controls_;
  std::vector<std::string> symbols_;
};

// ---------------------------------------------------------------- checkers

TEST(Lv2Bundle, DataValidatesAgainstTheLv2Schemas) {
  // The machine's own architecture: a cross toolchain may add lv2-dev for
  // another, and dpkg then asks which one.
  RunResult schemas = Shell("dpkg -L \"lv2-dev:$(dpkg --print-architecture)\" | grep '^/usr/lib/lv2/.*\\.ttl$' | tr '\\n' ' '");
  ASSERT_EQ(schemas.status, 0);
  ASSERT_NE(schemas.out.find("lv2core.ttl"), std::string::npos) << schemas.out;
  RunResult run = Shell("cd '" + kBundle + "' && sord_validate " + schemas.out +
                        " manifest.ttl Kestrune.ttl presets/*.ttl");
  EXPECT_EQ(run.status, 0) << run.out;
  EXPECT_NE(run.out.find("Found 0 errors"), std::string::npos) << run.out;
}

TEST(Lv2Bundle, Lv2infoListsThePortsWithScalePointsAndLilvReadsTheirUnits) {
  Lv2Path path;
  RunResult info = Shell(path.Env() + "lv2info " + lv2ports::kPluginUri);
  ASSERT_EQ(info.status, 0) << info.out;
  for (const char* text : {"Symbol:      sidechain_left", "lv2core#isSideChain", "Symbol:      enabled",
                           "Designation: http://lv2plug.in/ns/lv2core#enabled", "3 = \"20:1\"",
                           "1 = \"16x\"", "0 = \"EXT\"", "Symbol:      gain_reduction", "Drum Bus Glue",
                           "Author:            Marlowind"}) {
    EXPECT_NE(info.out.find(text), std::string::npos) << text;
  }
  // lv2info shows no units; lilv reads them as hosts do.
  LilvHost host(path);
  ASSERT_NE(host.Plugin(), nullptr);
  LilvNode* unitProperty = lilv_new_uri(host.World(), LV2_UNITS__unit);
  std::map<std::string, std::string> units;
  for (uint32_t i = 0; i < lv2ports::kPortCount; ++i) {
    const LilvPort* port = lilv_plugin_get_port_by_index(host.Plugin(), i);
    LilvNodes* found = lilv_port_get_value(host.Plugin(), port, unitProperty);
    if (found && lilv_nodes_size(found) == 1)
      units[lilv_node_as_string(lilv_port_get_symbol(host.Plugin(), port))] =
          lilv_node_as_uri(lilv_nodes_get_first(found));
    lilv_nodes_free(found);
  }
  lilv_node_free(unitProperty);
  // Frequencies move in octaves in hosts' sliders.
  LilvNode* logarithmic = lilv_new_uri(host.World(), "http://lv2plug.in/ns/ext/port-props#logarithmic");
  std::vector<std::string> logarithmicPorts;
  for (uint32_t i = 0; i < lv2ports::kPortCount; ++i) {
    const LilvPort* port = lilv_plugin_get_port_by_index(host.Plugin(), i);
    if (lilv_port_has_property(host.Plugin(), port, logarithmic))
      logarithmicPorts.push_back(lilv_node_as_string(lilv_port_get_symbol(host.Plugin(), port)));
  }
  lilv_node_free(logarithmic);
  EXPECT_EQ(logarithmicPorts, (std::vector<std::string>{"hpf", "mid_freq"}));
  const std::string u = "http://lv2plug.in/ns/extensions/units#";
  EXPECT_EQ(units, (std::map<std::string, std::string>{
                       {"input", u + "db"}, {"output", u + "db"}, {"attack", u + "ms"}, {"release", u + "ms"},
                       {"hpf", u + "hz"}, {"mix", u + "pc"}, {"mid_freq", u + "hz"}, {"mid_gain", u + "db"},
                       {"hf", u + "db"}, {"gain_reduction", u + "db"}}));
}

// ---------------------------------------------------------------- lv2apply

struct ApplyCase {
  const char* name;
  int preset;         // index into kFactoryPresets, or -1
  bool sidechain;
  bool typed = false;  // kestrune-render's own settings, typed as a person types them
  bool setBack = false;  // after the preset, INPUT and RATIO set back to their defaults
};

void PrintTo(const ApplyCase& c, std::ostream* os) { *os << c.name; }

class Lv2apply : public ::testing::TestWithParam<ApplyCase> {};

// `-c symbol value` for every port a preset file lists.
std::string PresetControls(const std::string& presetFile) {
  std::string text = Slurp(presetFile);
  std::string args;
  size_t at = 0;
  while ((at = text.find("lv2:symbol \"", at)) != std::string::npos) {
    at += 12;
    const std::string symbol = text.substr(at, text.find('"', at) - at);
    const size_t value = text.find("pset:value ", at) + 11;
    args += " -c " + symbol + " " + text.substr(value, text.find_first_of(" ]", value) - value);
  }
  return args;
}

std::string Stem(const char* name) {
  std::string out;
  for (const char* c = name; *c; ++c) out += *c == ' ' ? '-' : static_cast<char>(std::tolower(*c));
  return out;
}

TEST_P(Lv2apply, RendersBitForBitLikeKestruneRenderWithEachFormat) {
  const ApplyCase c = GetParam();
  ScratchFolder folder;
  Lv2Path path;
  // The embedded material as the plug-in sees it: a bypassed render.
  RunResult material = RunRender(folder, {"-o", "material.wav", "--set", "BYPASS=on", "--sample-format", "float",
                                          "--no-pictures", "-q"});
  ASSERT_EQ(material.status, 0) << material.err;
  Audio main, side;
  ASSERT_TRUE(ReadAudio(folder / "material.wav", main));
  // Its first two seconds, drums and bass: lv2apply runs the plug-in one
  // frame at a time, with a read and a write of the files for each.
  for (auto& channel : main.channels) channel.resize(std::min(channel.size(), static_cast<size_t>(2 * main.rate)));
  ASSERT_TRUE(WriteAudio(folder / "material.wav", main));
  side = main;
  std::vector<std::string> renderArgs = {"material.wav", "--sample-format", "float", "--no-pictures", "-q"};
  std::string controls;
  if (c.sidechain) {
    // The quiet tone on the track, the bursts on the sidechain.
    main = TestSignal(main.Frames() / main.rate, main.rate, 2, 0.0);
    side = TestSignal(main.Frames() / main.rate, main.rate, 2, 0.9);
    ASSERT_TRUE(WriteAudio(folder / "material.wav", main));
    ASSERT_TRUE(WriteAudio(folder / "side.wav", side));
    renderArgs.insert(renderArgs.end(), {"--sidechain", "side.wav", "--set", "INPUT=40"});
    controls = " -c sidechain 0 -c input 40";
  } else {
    for (auto& channel : side.channels) std::fill(channel.begin(), channel.end(), 0.0);
  }
  Audio four = main;
  four.channels.insert(four.channels.end(), side.channels.begin(), side.channels.end());
  ASSERT_TRUE(WriteAudio(folder / "four.wav", four));

  if (c.typed) {
    // Decimals no float holds (0.8 ms): a port value means the decimal it shows.
    renderArgs.insert(renderArgs.end(), {"--set", "INPUT=18", "--set", "RATIO=8:1", "--set", "ATTACK=0.8ms",
                                         "--set", "RELEASE=150ms", "--set", "OUTPUT=6"});
    controls = " -c input 18 -c ratio 1 -c attack 0.8 -c release 150 -c output 6";
  }
  std::string presetName;
  if (c.preset >= 0) {
    presetName = kestrune::kFactoryPresets[c.preset].name;
    controls = PresetControls(kBundle + "/presets/" + Stem(presetName.c_str()) + ".ttl");
    ASSERT_FALSE(controls.empty());
  }
  if (c.setBack) {
    // Values the ports held before the preset, set on purpose after it.
    renderArgs.insert(renderArgs.end(), {"--set", "INPUT=0", "--set", "RATIO=4:1"});
    for (const char* symbol : {" -c input ", " -c ratio "}) {
      const size_t at = controls.find(symbol);
      ASSERT_NE(at, std::string::npos) << symbol;
      controls.erase(at, controls.find(" -c ", at + 1) - at);
      controls += std::string(symbol) + "0";
    }
  }
  RunResult lv2 = Shell(path.Env() + "lv2apply -i '" + folder / "four.wav" + "' -o '" + folder / "lv2.wav" + "'" +
                        controls + " " + lv2ports::kPluginUri);
  ASSERT_EQ(lv2.status, 0) << lv2.out;
  Audio fromLv2;
  ASSERT_TRUE(ReadAudio(folder / "lv2.wav", fromLv2));

  // kestrune-render's LV2 and CLAP hosts take the .vstpreset: the state is
  // the same.
  std::vector<std::string> formats = {"vst3", "vst2", "lv2"};
#ifdef KESTRUNE_CLAP_MODULE
  formats.push_back("clap");
#endif
  for (const std::string& format : formats) {
    const std::string module = format == "vst3"   ? KESTRUNE_VST3_BUNDLE
                               : format == "vst2" ? KESTRUNE_VST2_MODULE
                               : format == "lv2"  ? KESTRUNE_LV2_BUNDLE
                                                  : KESTRUNE_CLAP_MODULE_PATH;
    std::vector<std::string> args = renderArgs;
    args.insert(args.end(), {"--format", format, "--module", module, "-o", format + ".wav"});
    if (c.preset >= 0)
      args.insert(args.end(), {"--preset", kPresetDir + (format == "vst2" ? "/vst2/" : "/vst3/") + presetName +
                                               (format == "vst2" ? ".fxp" : ".vstpreset")});
    RunResult vst = RunRender(folder, args);
    ASSERT_EQ(vst.status, 0) << vst.err;
    Audio fromVst;
    ASSERT_TRUE(ReadAudio(folder / (format + ".wav"), fromVst));
    EXPECT_EQ(Differences(fromLv2.channels, fromVst.channels), 0u) << format;
  }
  // The settings took hold: the compressor changed the signal.
  EXPECT_GT(Differences(fromLv2.channels, main.channels), main.Frames());
}

INSTANTIATE_TEST_SUITE_P(Material, Lv2apply,
                         ::testing::Values(ApplyCase{"Defaults", -1, false}, ApplyCase{"DrumBusGlue", 0, false},
                                           ApplyCase{"VocalLevelling", 1, false},
                                           ApplyCase{"VocalLevellingWithInputAndRatioSetBack", 1, false, false, true},
                                           ApplyCase{"ParallelSmash", 2, false},
                                           ApplyCase{"BassDuckedByKick", 3, false},
                                           ApplyCase{"GentleMaster", 4, false}, ApplyCase{"Slam", 5, false},
                                           ApplyCase{"ExternalSidechain", -1, true},
                                           ApplyCase{"TypedSettings", -1, false, true}),
                         [](const auto& info) { return std::string(info.param.name); });

// ---------------------------------------------------------------- state

TEST(Lv2State, RoundTripThroughLilvKeepsTheSoundAndIsTheVst3StateWithPortsBetweenStepsOnTheirStep) {
  Lv2Path path;
  LilvHost host(path);
  ASSERT_NE(host.Plugin(), nullptr);
  const Audio input = TestSignal(0.5, Instance::kRate);
  Instance saved(host);
  ASSERT_TRUE(saved.Valid());
  saved.Port("input") = 30;
  saved.Port("ratio") = 1.5f;  // between 8:1 and 12:1: half up, as every path rounds
  const Channels first = saved.Run(input.channels);

  LilvState* state = saved.Save();
  ASSERT_NE(state, nullptr);
  char* text = lilv_state_to_string(host.World(), &saved.MapOf(), &host.Urids().unmap, state,
                                    "urn:kestrune:test:state", nullptr);
  lilv_state_free(state);
  ASSERT_NE(text, nullptr);
  LilvState* reread = lilv_state_new_from_string(host.World(), &saved.MapOf(), text);
  lilv_free(text);
  ASSERT_NE(reread, nullptr);
  Instance restored(host);
  restored.Restore(reread);
  lilv_state_free(reread);
  EXPECT_EQ(restored.Blob(), saved.Blob());
  EXPECT_EQ(Differences(restored.Run(input.channels), first), 0u);

  // The same bytes as the VST3 module's state for the same settings.
  ScratchFolder folder;
  ASSERT_TRUE(WriteAudio(folder / "in.wav", TestSignal(0.1)));
  RunResult vst3 = RunRender(folder, {"in.wav", "-o", "out.wav", "--no-pictures", "-q", "--module",
                                      KESTRUNE_VST3_BUNDLE, "--set", "INPUT=30", "--set", "RATIO=12:1",
                                      "--save-preset", "state.bin"});
  ASSERT_EQ(vst3.status, 0) << vst3.err;
  const std::string vst3State = Slurp(folder / "state.bin");
  const std::vector<uint8_t> blob = saved.Blob();
  EXPECT_EQ(std::string(blob.begin(), blob.end()), vst3State);
}

TEST(Lv2State, CutBlobIsRefusedWholeAndChangesNothing) {
  Lv2Path path;
  LilvHost host(path);
  ASSERT_NE(host.Plugin(), nullptr);
  Instance other(host), plug(host);
  other.Port("input") = 50;
  other.Port("enabled") = 0;
  other.Run(TestSignal(0.01, Instance::kRate).channels);
  plug.Run(TestSignal(0.01, Instance::kRate).channels);
  const std::vector<uint8_t> before = plug.Blob();
  std::vector<uint8_t> cut = other.Blob();
  ASSERT_EQ(cut.size(), before.size());
  cut.pop_back();
  EXPECT_NE(plug.RestoreBlob(cut), LV2_STATE_SUCCESS);
  EXPECT_EQ(plug.Blob(), before);
}

// Restores into `plug`, which has run at its defaults: the state of `a`
// (INPUT 18 dB, 12:1), and the port values hosts set around a restore.
class Lv2Restore : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_NE(host.Plugin(), nullptr);
    a.Port("input") = 18;
    a.Port("ratio") = 2;
    a.Run(block);
    plug.Run(block);
  }
  Lv2Path path;
  LilvHost host{path};
  const Channels block = TestSignal(0.01, Instance::kRate).channels;
  Instance a{host}, b{host}, plug{host};
};

// Ardour loads a preset by restoring its state, then setting the ports to
// the preset's values; its controls reach the ports only when a block runs,
// so a block can run between the two with the ports still at the previous
// preset's values. Those must not undo the restore; a later value must count.
TEST_F(Lv2Restore, PortValuesOfTheSettingsARestoreReplacedArrivingLateChangeNothing) {
  b.Port("input") = 10;
  b.Run(block);
  ASSERT_EQ(plug.RestoreBlob(a.Blob()), LV2_STATE_SUCCESS);
  ASSERT_EQ(plug.RestoreBlob(b.Blob()), LV2_STATE_SUCCESS);
  plug.Port("input") = 18;  // the first preset's values, late
  plug.Port("ratio") = 2;
  plug.Run(block);
  EXPECT_EQ(plug.Blob(), b.Blob());
  plug.Port("input") = 10;  // the restored values: echoes
  plug.Port("ratio") = 0;
  plug.Run(block);
  EXPECT_EQ(plug.Blob(), b.Blob());
  plug.Port("input") = 18;  // the user's own change
  plug.Port("ratio") = 2;
  plug.Run(block);
  EXPECT_EQ(plug.Blob(), a.Blob());
}

// Ardour runs its engine while it sets a preset's port values: a block can
// find some ports at the restored values and others still at the previous
// ones. Those have not changed since the last run: a save before the next
// run still gets the restored state, and the next run the ports' changes.
TEST_F(Lv2Restore, ARunHalfwayThroughTheHostSettingTheRestoredValuesChangesNothing) {
  ASSERT_EQ(plug.RestoreBlob(a.Blob()), LV2_STATE_SUCCESS);
  plug.Port("ratio") = 2;  // set; the input still at the previous value
  plug.Run(block);
  EXPECT_EQ(plug.Blob(), a.Blob());
  plug.Port("input") = 18;
  plug.Port("ratio") = 3;  // the user's change right after
  plug.Run(block);
  a.Port("ratio") = 3;
  a.Run(block);
  EXPECT_EQ(plug.Blob(), a.Blob());
}

// A host that asked for the restored port values shows them, then sets one
// port back to the value it held before the restore, before the first run
// after it: that is a setting like any other.
TEST_F(Lv2Restore, AValueFromBeforeARestoreSetAfterAskingForTheRestoredOnesIsApplied) {
  b.Port("ratio") = 2;  // the input at its default, where plug's port is
  b.Run(block);
  ASSERT_EQ(plug.RestoreBlob(a.Blob()), LV2_STATE_SUCCESS);
  plug.ShowPortValuesTheRestoreGave();
  EXPECT_EQ(plug.Port("input"), 18);
  plug.Port("input") = 0;
  plug.Run(block);
  EXPECT_EQ(plug.Blob(), b.Blob());
}

}  // namespace
