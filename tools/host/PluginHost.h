// PluginHost: what a host tool needs from a loaded plug-in module,
// whatever its format. Vst3Host and Vst2Host implement it by talking to the
// module only through its exported entry and the format's own interfaces, as
// a DAW does.
//
// Order of use (one thread):
//   1. Load*() — load the module and create one instance; fails with a
//      one-line reason.
//   2. Prepare() — sample rate, maximum block size, sample precision and
//      whether a sidechain is connected; switches processing on.
//   3. SetState() / SetParameterText() between blocks; both take effect from the
//      next Process() call (VST3 delivers parameters with the next block).
//   4. Process() any number of times, each call at most the block size.
//   5. GetState(), Parameters() at any time after Load.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace render {

// One parameter as the plug-in describes it.
struct ParamDescription {
  int index = 0;                 // position in the plug-in's list
  uint32_t id = 0;               // the format's own identifier (VST3 ParamID, VST2 index)
  std::string name;              // as the plug-in reports it; may be empty
  std::string unit;              // the unit of the current value
  // As the plug-in displays them, each with its unit.
  std::string minText, maxText, defaultText, currentText;
  // A stepped parameter's display text at each step; empty when continuous.
  std::vector<std::string> choices;
};

class PluginHost {
 public:
  virtual ~PluginHost() = default;

  virtual const char* FormatName() const = 0;
  // Name and vendor the module reports for the loaded plug-in.
  virtual std::string PluginName() const = 0;

  virtual bool Prepare(double sampleRate, int maxBlockFrames, bool doublePrecision,
                       bool sidechainConnected, std::string& error) = 0;
  virtual bool SupportsDoublePrecision() const = 0;

  virtual std::vector<ParamDescription> Parameters() = 0;
  // What the plug-in's own text entry makes of `text` for parameter
  // `index`, as a normalized value (the plug-in clamps it to the range).
  // False when the plug-in does not accept the text. May change the
  // parameter (VST2 has no way to ask without setting); follow it with
  // SetParameterText.
  virtual bool ParseText(int index, const std::string& text, double& normalized) = 0;
  // Sets parameter `index` from a text through the plug-in's own text entry:
  // what its display shows, with or without the unit, or a plain number.
  virtual bool SetParameterText(int index, const std::string& text, std::string& error) = 0;
  // The parameter's current value, normalized to 0..1.
  virtual double NormalizedValue(int index) = 0;

  // Planar buffers: four inputs (main L, R, sidechain L, R), two outputs.
  // `frames` never exceeds the prepared block size.
  virtual void Process(const double* const* inputs, double* const* outputs, int frames) = 0;

  // The plug-in's own state blob (VST3 controller state, VST2 program chunk).
  virtual bool GetState(std::vector<uint8_t>& blob, std::string& error) = 0;
  virtual bool SetState(const std::vector<uint8_t>& blob, std::string& error) = 0;

  // The current state as the format's own preset file, which hosts load
  // (.vstpreset for VST3, .fxp for VST2); `program` names it where the
  // file has room. False with `error` where the format has none.
  virtual bool PresetFile(const std::string& program, std::vector<uint8_t>& file, std::string& error) {
    (void)program;
    (void)file;
    error = std::string("the ") + FormatName() + " plug-in has no preset file of its own";
    return false;
  }
};

// For the Load functions: a new Host with `path` loaded, or null with
// `error` when Host::Load fails.
template <typename Host>
std::unique_ptr<PluginHost> LoadWith(const std::string& path, std::string& error) {
  auto host = std::make_unique<Host>();
  if (!host->Load(path, error)) return nullptr;
  return host;
}

// Module paths: a .vst3 bundle folder or the .so inside it; a VST2 .so.
std::unique_ptr<PluginHost> LoadVst3(const std::string& path, std::string& error);
std::unique_ptr<PluginHost> LoadVst2(const std::string& path, std::string& error);
// An LV2 bundle folder or a file inside it, through lilv.
std::unique_ptr<PluginHost> LoadLv2(const std::string& path, std::string& error);
// A .clap module; fails with a reason in a build without the CLAP headers.
std::unique_ptr<PluginHost> LoadClap(const std::string& path, std::string& error);

// The shared library behind a module path: a bundle's Linux binary for the
// processor this program runs on, else the path itself.
std::string ModuleBinaryPath(const std::string& path);
// The bundle folder of that binary (Contents/<folder>/), as the VST3 module
// layout names the processors.
#if defined(__aarch64__)
constexpr const char kVst3LinuxFolder[] = "aarch64-linux";
#else
constexpr const char kVst3LinuxFolder[] = "x86_64-linux";
#endif

// Parses a display text as a number (leading/trailing blanks and a unit
// suffix allowed). False when the text does not start with a number.
bool ParseDisplayNumber(const std::string& text, double& value);

}  // namespace render

namespace render {

// "vst3", "vst2", "lv2" or "clap" for a module, from what it exports:
// GetPluginFactory makes it VST3, VSTPluginMain VST2, lv2_descriptor LV2,
// clap_entry CLAP. A folder is an LV2
// bundle when it holds a manifest.ttl, else a VST3 bundle; a file that does
// not load is taken for VST3, whose loader then says what is wrong.
std::string DetectModuleFormat(const std::string& path);

}  // namespace render
