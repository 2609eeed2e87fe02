// kestrune-render: an offline host for the Kestrune plug-in.
//
// Loads the built module (VST3 by default, VST2 with --format vst2) through
// its exported entry as a DAW would, renders an audio file — or, without
// one, eight seconds of embedded drums and bass — and writes the result, a
// picture of the editor with those settings and a plot of input level,
// output level and gain reduction. Every problem ends the run with a one-line
// error and a non-zero status; output files appear only when complete.
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <memory>
#include <string>
#include <vector>

#include "AudioFile.h"
#include "DefaultMaterial.h"
#include "EditorPicture.h"
#include "LevelAnalysis.h"
#include "LevelPlot.h"
#include "PendingFile.h"
#include "PluginHost.h"
#include "PresetFileState.h"

#ifndef KESTRUNE_BUILD_MODULE_DIR
#define KESTRUNE_BUILD_MODULE_DIR ""
#endif

namespace render {
namespace {

// Exit statuses, one per kind of problem.
enum ExitStatus {
  kExitOk = 0,
  kExitUsage = 2,       // command line, parameter names and values
  kExitInput = 3,       // input, sidechain or preset file
  kExitModule = 4,      // the plug-in module
  kExitOutput = 5,      // an output file
};

struct Failure {
  int status;
  std::string message;
};

constexpr const char* kTool = "kestrune-render";
constexpr int kMaxBlock = 8192;

// The one parameter Kestrune leaves unnamed is its oversampling switch.
constexpr const char* kUnnamedAlias = "OVERSAMPLING";

// Settings for the embedded material that make the compressor obvious.
const char* const kDefaultSettings[][2] = {
    {"INPUT", "18"}, {"RATIO", "1"}, {"ATTACK", "-0.0008"}, {"RELEASE", "-0.15"}, {"OUTPUT", "6"},
};

struct Options {
  std::string input;
  std::string output;
  std::string sidechain;
  std::string format = "vst3";
  std::string module;
  std::string preset;
  std::string savePreset;
  std::string editorPng;
  std::string plotPng;
  std::vector<std::pair<std::string, std::string>> sets;
  int block = 512;
  bool doublePrecision = false;
  bool haveSampleFormat = false;
  SampleFormat sampleFormat = SampleFormat::Pcm24;
  bool pictures = true;
  bool listParams = false;
  int progress = -1;  // -1 automatic, 0 off, 1 on
  bool quiet = false;
};

void PrintUsage(FILE* out) {
  fprintf(out,
          "usage: %s [options] [INPUT]\n"
          "\n"
          "Renders INPUT (WAV, AIFF or FLAC, mono or stereo) through the built Kestrune\n"
          "plug-in, loaded as a host loads it. Without INPUT, eight seconds of embedded\n"
          "drums and bass are rendered with settings that make the compression obvious.\n"
          "\n"
          "  -o, --output FILE       output audio (.wav, .aif, .flac); default: INPUT with\n"
          "                          '-kestrune' added, or kestrune-default.wav\n"
          "  --sidechain FILE        external sidechain (same rate and length as INPUT);\n"
          "                          switches Sidechain to external unless --set\n"
          "  --set NAME=VALUE        set a parameter by the plug-in's name, in its display\n"
          "                          units (repeatable); see --list-params\n"
          "  --preset FILE           start from a state saved with --save-preset\n"
          "  --save-preset FILE      save the plug-in's state after rendering\n"
          "  --format vst3|vst2      plug-in format to load (default vst3)\n"
          "  --module PATH           module to load (default: the build's own module,\n"
          "                          else ~/.vst3/Kestrune.vst3 or ~/.vst/Kestrune.so)\n"
          "  --block N               frames per processing block, 1..%d (default 512)\n"
          "  --precision 32|64       sample precision of the processing (default 32)\n"
          "  --sample-format F       pcm16, pcm24, pcm32, float or double (default: the\n"
          "                          input's, else pcm24)\n"
          "  --editor-png FILE       editor picture (default: OUTPUT name + '-editor.png')\n"
          "  --plot-png FILE         level plot (default: OUTPUT name + '-levels.png')\n"
          "  --no-pictures           write no pictures\n"
          "  --list-params           print every parameter and exit\n"
          "  --progress, --no-progress  progress bar on stderr (default: for files longer\n"
          "                          than 20 s when stderr is a terminal)\n"
          "  -q, --quiet             print only warnings and errors\n"
          "  -h, --help              this text\n"
          "\n"
          "Exit status: 0 done, 2 bad command line or parameter, 3 unusable input,\n"
          "sidechain or preset file, 4 module missing, not Kestrune or failing,\n"
          "5 output cannot be written.\n",
          kTool, kMaxBlock);
}

bool ParseInt(const std::string& text, int& value) {
  char* end = nullptr;
  long parsed = strtol(text.c_str(), &end, 10);
  if (text.empty() || *end || parsed < INT32_MIN || parsed > INT32_MAX) return false;
  value = static_cast<int>(parsed);
  return true;
}

bool ParseNumber(const std::string& text, double& value) {
  char* end = nullptr;
  double parsed = strtod(text.c_str(), &end);
  if (text.empty() || *end || !std::isfinite(parsed)) return false;
  value = parsed;
  return true;
}

bool ParseOptions(int argc, char** argv, Options& options, Failure& failure, bool& helpOnly) {
  helpOnly = false;
  auto usage = [&](const std::string& message) {
    failure = {kExitUsage, message + " (see --help)"};
    return false;
  };
  std::vector<std::string> positional;
  for (int i = 1; i < argc; ++i) {
    std::string arg = argv[i];
    std::string value;
    bool hasInlineValue = false;
    if (arg.rfind("--", 0) == 0 && arg.find('=') != std::string::npos) {
      value = arg.substr(arg.find('=') + 1);
      arg = arg.substr(0, arg.find('='));
      hasInlineValue = true;
    }
    auto next = [&](std::string& out) {
      if (hasInlineValue) {
        out = value;
        return true;
      }
      if (i + 1 >= argc) return false;
      out = argv[++i];
      return true;
    };
    auto needs = [&](std::string& out) {
      if (!next(out)) {
        usage("option " + arg + " needs a value");
        return false;
      }
      return true;
    };
    if (arg == "-h" || arg == "--help") {
      helpOnly = true;
      return true;
    } else if (arg == "-o" || arg == "--output") {
      if (!needs(options.output)) return false;
    } else if (arg == "--sidechain") {
      if (!needs(options.sidechain)) return false;
    } else if (arg == "--set") {
      std::string assignment;
      if (!needs(assignment)) return false;
      size_t equals = assignment.find('=');
      if (equals == std::string::npos || equals == 0) {
        return usage("--set needs NAME=VALUE, got '" + assignment + "'");
      }
      options.sets.emplace_back(assignment.substr(0, equals), assignment.substr(equals + 1));
    } else if (arg == "--preset") {
      if (!needs(options.preset)) return false;
    } else if (arg == "--save-preset") {
      if (!needs(options.savePreset)) return false;
    } else if (arg == "--format") {
      if (!needs(options.format)) return false;
      std::transform(options.format.begin(), options.format.end(), options.format.begin(), ::tolower);
      if (options.format != "vst3" && options.format != "vst2") {
        return usage("unknown plug-in format '" + options.format + "'; use vst3 or vst2");
      }
    } else if (arg == "--module") {
      if (!needs(options.module)) return false;
    } else if (arg == "--block") {
      std::string text;
      if (!needs(text)) return false;
      if (!ParseInt(text, options.block) || options.block < 1 || options.block > kMaxBlock) {
        return usage("block size must be a whole number from 1 to " + std::to_string(kMaxBlock) +
                     ", got '" + text + "'");
      }
    } else if (arg == "--precision") {
      std::string text;
      if (!needs(text)) return false;
      if (text != "32" && text != "64") return usage("precision must be 32 or 64, got '" + text + "'");
      options.doublePrecision = text == "64";
    } else if (arg == "--sample-format") {
      std::string text;
      if (!needs(text)) return false;
      if (!ParseSampleFormat(text, options.sampleFormat)) {
        return usage("unknown sample format '" + text + "'; use pcm16, pcm24, pcm32, float or double");
      }
      options.haveSampleFormat = true;
    } else if (arg == "--editor-png") {
      if (!needs(options.editorPng)) return false;
    } else if (arg == "--plot-png") {
      if (!needs(options.plotPng)) return false;
    } else if (arg == "--no-pictures") {
      options.pictures = false;
    } else if (arg == "--list-params") {
      options.listParams = true;
    } else if (arg == "--progress") {
      options.progress = 1;
    } else if (arg == "--no-progress") {
      options.progress = 0;
    } else if (arg == "-q" || arg == "--quiet") {
      options.quiet = true;
    } else if (arg.size() > 1 && arg[0] == '-') {
      return usage("unknown option '" + arg + "'");
    } else {
      positional.push_back(arg);
    }
  }
  if (positional.size() > 1) {
    return usage("one input file at most; use -o for the output, got '" + positional[1] + "'");
  }
  if (!positional.empty()) options.input = positional[0];
  if (!options.sidechain.empty() && options.input.empty()) {
    return usage("--sidechain needs an input file");
  }
  return true;
}

bool Exists(const std::string& path) {
  struct stat status;
  return stat(path.c_str(), &status) == 0;
}

bool SameFile(const std::string& a, const std::string& b) {
  struct stat sa, sb;
  return stat(a.c_str(), &sa) == 0 && stat(b.c_str(), &sb) == 0 && sa.st_dev == sb.st_dev &&
         sa.st_ino == sb.st_ino;
}

std::string FolderOf(const std::string& path) {
  size_t slash = path.find_last_of('/');
  if (slash == std::string::npos) return ".";
  return slash == 0 ? "/" : path.substr(0, slash);
}

std::string WithoutExtension(const std::string& path) {
  size_t dot = path.find_last_of('.');
  size_t slash = path.find_last_of('/');
  if (dot == std::string::npos || (slash != std::string::npos && dot < slash)) return path;
  return path.substr(0, dot);
}

std::string ExtensionOf(const std::string& path) {
  return path.substr(WithoutExtension(path).size());
}

// An output file's folder must exist and be writable before any work starts.
bool CheckWritable(const std::string& path, Failure& failure) {
  const std::string folder = FolderOf(path);
  struct stat status;
  if (stat(folder.c_str(), &status) != 0 || !S_ISDIR(status.st_mode)) {
    failure = {kExitOutput, "cannot write '" + path + "': folder '" + folder + "' does not exist"};
    return false;
  }
  if (access(folder.c_str(), W_OK) != 0) {
    failure = {kExitOutput, "cannot write '" + path + "': folder '" + folder + "' is not writable"};
    return false;
  }
  if (Exists(path) && access(path.c_str(), W_OK) != 0) {
    failure = {kExitOutput, "cannot write '" + path + "': the file is write-protected"};
    return false;
  }
  struct stat target;
  if (stat(path.c_str(), &target) == 0 && S_ISDIR(target.st_mode)) {
    failure = {kExitOutput, "cannot write '" + path + "': it is a folder"};
    return false;
  }
  return true;
}

std::string DefaultModule(const std::string& format) {
  const char* home = getenv("HOME");
  const std::string built = KESTRUNE_BUILD_MODULE_DIR;
  std::vector<std::string> candidates;
  if (format == "vst3") {
    if (!built.empty()) candidates.push_back(built + "/Kestrune.vst3");
    if (home) candidates.push_back(std::string(home) + "/.vst3/Kestrune.vst3");
  } else {
    if (!built.empty()) candidates.push_back(built + "/vst2/Kestrune.so");
    if (home) candidates.push_back(std::string(home) + "/.vst/Kestrune.so");
  }
  for (const std::string& path : candidates) {
    if (Exists(path)) return path;
  }
  return candidates.empty() ? std::string() : candidates.front();
}

std::string Lower(std::string text) {
  std::transform(text.begin(), text.end(), text.begin(), ::tolower);
  return text;
}

// Finds a parameter by the plug-in's name: exact first, then ignoring case;
// "#N" or "N" picks it by index, OVERSAMPLING the unnamed one.
const ParamDescription* FindParam(const std::vector<ParamDescription>& params,
                                  const std::string& name, std::string& error) {
  for (const auto& p : params) {
    if (!p.name.empty() && p.name == name) return &p;
  }
  std::vector<const ParamDescription*> matches;
  for (const auto& p : params) {
    if (!p.name.empty() && Lower(p.name) == Lower(name)) matches.push_back(&p);
  }
  if (matches.size() == 1) return matches[0];
  if (matches.size() > 1) {
    error = "parameter name '" + name + "' is ambiguous: write it as '" + matches[0]->name +
            "' or '" + matches[1]->name + "'";
    return nullptr;
  }
  std::string digits = name[0] == '#' ? name.substr(1) : name;
  int index = -1;
  if (ParseInt(digits, index)) {
    for (const auto& p : params) {
      if (static_cast<int>(p.id) == index) return &p;
    }
  }
  if (Lower(name) == Lower(kUnnamedAlias)) {
    const ParamDescription* unnamed = nullptr;
    int count = 0;
    for (const auto& p : params) {
      if (p.name.empty()) {
        unnamed = &p;
        ++count;
      }
    }
    if (count == 1) return unnamed;
  }
  std::string known;
  for (const auto& p : params) {
    known += (known.empty() ? "" : ", ") + (p.name.empty() ? std::string(kUnnamedAlias) : p.name);
  }
  error = "unknown parameter '" + name + "'; the plug-in has " + known;
  return nullptr;
}

void Warn(const std::string& message) { fprintf(stderr, "%s: warning: %s\n", kTool, message.c_str()); }

std::string FormatValue(double value) {
  char text[64];
  snprintf(text, sizeof(text), "%.10g", value);
  return text;
}

bool ApplySetting(PluginHost& host, const std::vector<ParamDescription>& params,
                  const std::string& name, const std::string& valueText, Failure& failure) {
  std::string error;
  const ParamDescription* param = FindParam(params, name, error);
  if (!param) {
    failure = {kExitUsage, error};
    return false;
  }
  const std::string shownName = param->name.empty() ? kUnnamedAlias : param->name;
  double value = 0;
  if (param->numeric && ParseNumber(valueText, value)) {
    const double low = std::min(param->minValue, param->maxValue);
    const double high = std::max(param->minValue, param->maxValue);
    if (value < low || value > high) {
      const double clamped = std::clamp(value, low, high);
      Warn(shownName + "=" + valueText + " is outside " + param->minText + " .. " + param->maxText +
           "; using " + FormatValue(clamped));
      value = clamped;
    }
    if (param->integerValued && value != std::round(value)) {
      Warn(shownName + " takes whole numbers; using " + FormatValue(std::round(value)) +
           " for " + valueText);
      value = std::round(value);
    }
    if (!host.SetParameter(param->index, value, error)) {
      failure = {kExitUsage, "cannot set " + shownName + " to " + valueText + ": " + error};
      return false;
    }
    return true;
  }
  if (!param->numeric && host.SetParameterText(param->index, valueText, error)) return true;
  failure = {kExitUsage, "'" + valueText + "' is not a value for " + shownName + " (expected " +
                             (param->numeric ? "a number from " + param->minText + " to " + param->maxText
                                             : param->minText + " .. " + param->maxText) +
                             ")"};
  return false;
}

// Kestrune's OUTPUT is a plain gain after the compressor; unless the plug-in
// is bypassed it is taken out when measuring the gain reduction.
double MakeupGainDb(const std::vector<ParamDescription>& params) {
  double outputDb = 0, bypass = 0;
  bool haveOutput = false;
  for (const auto& p : params) {
    if (p.name == "OUTPUT") haveOutput = ParseDisplayNumber(p.currentText, outputDb);
    if (p.name == "BYPASS") ParseDisplayNumber(p.currentText, bypass);
  }
  return haveOutput && bypass == 0 ? outputDb : 0.0;
}

void ListParams(PluginHost& host) {
  const std::vector<ParamDescription> params = host.Parameters();
  printf("%s (%s), %zu parameters:\n", host.PluginName().c_str(), host.FormatName(), params.size());
  printf("  %-3s %-14s %-20s %-10s %-10s %s\n", "#", "name", "range", "default", "current", "unit");
  for (const auto& p : params) {
    std::string name = p.name.empty() ? std::string(kUnnamedAlias) + "*" : p.name;
    std::string index = std::to_string(p.id);
    std::string range = p.minText + " .. " + p.maxText;
    printf("  %-3s %-14s %-20s %-10s %-10s %s\n", index.c_str(), name.c_str(), range.c_str(),
           p.defaultText.c_str(), p.currentText.c_str(), p.unit.c_str());
  }
  for (const auto& p : params) {
    if (p.name.empty()) {
      printf("  * parameter %u has no name of its own: it is the oversampling switch, set it with "
             "--set %s=0|1\n",
             p.id, kUnnamedAlias);
    }
  }
}

bool ReadBytes(const std::string& path, std::vector<uint8_t>& bytes, std::string& error) {
  std::ifstream in(path, std::ios::binary);
  struct stat status;
  if (stat(path.c_str(), &status) != 0) {
    error = strerror(errno);
    return false;
  }
  if (S_ISDIR(status.st_mode) || !in) {
    error = S_ISDIR(status.st_mode) ? "is a folder" : strerror(errno);
    return false;
  }
  bytes.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  return true;
}

bool WriteBytesPending(const std::string& path, const std::vector<uint8_t>& bytes, std::string& error) {
  FILE* file = fopen(path.c_str(), "wb");
  if (!file) {
    error = "cannot write '" + path + "': " + strerror(errno);
    return false;
  }
  bool ok = fwrite(bytes.data(), 1, bytes.size(), file) == bytes.size();
  ok = fclose(file) == 0 && ok;
  if (!ok) error = "cannot write '" + path + "': " + strerror(errno);
  return ok;
}

class ProgressBar {
 public:
  ProgressBar(bool enabled, double totalSeconds) : enabled_(enabled), total_(totalSeconds) {}
  void Update(double doneSeconds) {
    if (!enabled_) return;
    auto now = std::chrono::steady_clock::now();
    // At most ten redraws a second, but always the last one.
    if (drawn_ && now - last_ < std::chrono::milliseconds(100) && doneSeconds < total_) return;
    last_ = now;
    drawn_ = true;
    const double fraction = total_ > 0 ? std::clamp(doneSeconds / total_, 0.0, 1.0) : 1.0;
    const int width = 40;
    const int filled = static_cast<int>(fraction * width);
    fprintf(stderr, "\r[%s%s] %3d%%  %.1f / %.1f s", std::string(static_cast<size_t>(filled), '#').c_str(),
            std::string(static_cast<size_t>(width - filled), '.').c_str(),
            static_cast<int>(fraction * 100), doneSeconds, total_);
    fflush(stderr);
  }
  void Finish() {
    if (enabled_ && drawn_) fprintf(stderr, "\r%*s\r", 70, "");
  }

 private:
  bool enabled_;
  double total_;
  bool drawn_ = false;
  std::chrono::steady_clock::time_point last_;
};

int Run(int argc, char** argv) {
  Options options;
  Failure failure{kExitOk, ""};
  bool helpOnly = false;
  auto fail = [&]() {
    fprintf(stderr, "%s: error: %s\n", kTool, failure.message.c_str());
    RemovePendingFiles();
    return failure.status;
  };
  if (!ParseOptions(argc, argv, options, failure, helpOnly)) return fail();
  if (helpOnly) {
    PrintUsage(stdout);
    return kExitOk;
  }

  // ---- Inputs: everything is read and checked before anything is written.
  AudioBuffer input;
  AudioFileInfo inputInfo;
  std::string error;
  const bool embedded = options.input.empty();
  if (!options.listParams || !embedded) {
    if (embedded) {
      input = MakeDefaultMaterial();
    } else if (!ReadAudioFile(options.input, input, inputInfo, error)) {
      failure = {kExitInput, "input '" + options.input + "' " + error};
      return fail();
    }
  }
  AudioBuffer sidechain;
  if (!options.sidechain.empty()) {
    AudioFileInfo sidechainInfo;
    if (!ReadAudioFile(options.sidechain, sidechain, sidechainInfo, error)) {
      failure = {kExitInput, "sidechain '" + options.sidechain + "' " + error};
      return fail();
    }
    if (sidechain.sampleRate != input.sampleRate) {
      failure = {kExitInput, "sidechain '" + options.sidechain + "' is at " +
                                 FormatValue(sidechain.sampleRate) + " Hz but the input is at " +
                                 FormatValue(input.sampleRate) + " Hz"};
      return fail();
    }
    if (sidechain.FrameCount() != input.FrameCount()) {
      failure = {kExitInput, "sidechain '" + options.sidechain + "' has " +
                                 std::to_string(sidechain.FrameCount()) + " frames but the input has " +
                                 std::to_string(input.FrameCount())};
      return fail();
    }
  }
  std::vector<uint8_t> presetBlob;
  if (!options.preset.empty() && !ReadBytes(options.preset, presetBlob, error)) {
    failure = {kExitInput, "preset '" + options.preset + "' cannot be read: " + error};
    return fail();
  }

  // ---- Output names, checked now so a long render cannot fail at the end.
  if (!options.listParams) {
    if (options.output.empty()) {
      options.output = embedded ? "kestrune-default.wav"
                                : WithoutExtension(options.input) + "-kestrune" +
                                      (ContainerForPath(options.input) ? ExtensionOf(options.input) : ".wav");
    }
    if (!ContainerForPath(options.output)) {
      failure = {kExitUsage, "output '" + options.output + "' must end in .wav, .aif, .aiff or .flac"};
      return fail();
    }
    if (!embedded && SameFile(options.input, options.output)) {
      failure = {kExitOutput, "output '" + options.output + "' would overwrite the input"};
      return fail();
    }
    if (options.pictures) {
      if (options.editorPng.empty()) options.editorPng = WithoutExtension(options.output) + "-editor.png";
      if (options.plotPng.empty()) options.plotPng = WithoutExtension(options.output) + "-levels.png";
    }
    for (const std::string& path : {options.output, options.editorPng, options.plotPng, options.savePreset}) {
      if (!path.empty() && !CheckWritable(path, failure)) return fail();
    }
  } else if (!options.savePreset.empty() && !CheckWritable(options.savePreset, failure)) {
    return fail();
  }

  // ---- The plug-in.
  if (options.module.empty()) options.module = DefaultModule(options.format);
  if (options.module.empty()) {
    failure = {kExitModule, "no module to load; pass --module PATH"};
    return fail();
  }
  std::unique_ptr<PluginHost> host =
      options.format == "vst3" ? LoadVst3(options.module, error) : LoadVst2(options.module, error);
  if (!host) {
    failure = {kExitModule, error};
    return fail();
  }
  if (options.doublePrecision && !host->SupportsDoublePrecision()) {
    failure = {kExitModule, std::string("the ") + host->FormatName() +
                                " plug-in cannot process 64-bit samples; use --precision 32"};
    return fail();
  }
  const double sampleRate = input.sampleRate > 0 ? input.sampleRate : kDefaultMaterialRate;
  if (!host->Prepare(sampleRate, options.block, options.doublePrecision, !options.sidechain.empty(), error)) {
    failure = {kExitModule, error};
    return fail();
  }

  // ---- Settings: embedded defaults, then the preset, then each --set.
  std::vector<ParamDescription> params = host->Parameters();
  if (embedded && options.preset.empty() && !options.listParams) {
    for (const auto& setting : kDefaultSettings) {
      if (!ApplySetting(*host, params, setting[0], setting[1], failure)) return fail();
    }
  }
  if (!options.preset.empty()) {
    // A .vstpreset or .fxp file carries the state inside it.
    if (!presetfiles::StateFromPresetFile(presetBlob, host->FormatName(), presetBlob, error)) {
      failure = {kExitInput, "preset '" + options.preset + "': " + error};
      return fail();
    }
    // The plug-in's state has one size; a file of another size is not a
    // preset of this plug-in in this format, whatever the plug-in would make
    // of it.
    std::vector<uint8_t> current;
    if (host->GetState(current, error) && current.size() != presetBlob.size()) {
      failure = {kExitInput, "preset '" + options.preset + "' is not a " + host->FormatName() +
                                 " Kestrune state: it has " + std::to_string(presetBlob.size()) +
                                 " bytes, the plug-in's state has " + std::to_string(current.size())};
      return fail();
    }
    if (!host->SetState(presetBlob, error)) {
      failure = {kExitInput, "preset '" + options.preset + "' was not accepted: " + error};
      return fail();
    }
  }
  bool sidechainSetByUser = false;
  for (const auto& set : options.sets) {
    if (!ApplySetting(*host, params, set.first, set.second, failure)) return fail();
    std::string ignored;
    const ParamDescription* p = FindParam(params, set.first, ignored);
    if (p && p->name == "Sidechain") sidechainSetByUser = true;
  }
  if (!options.sidechain.empty() && !sidechainSetByUser) {
    std::string ignored;
    if (FindParam(params, "Sidechain", ignored)) {
      if (!ApplySetting(*host, params, "Sidechain", "0", failure)) return fail();
      if (!options.quiet) printf("sidechain: Sidechain set to 0 (external) to use '%s'\n", options.sidechain.c_str());
    }
  }

  if (options.listParams) {
    ListParams(*host);
    if (!options.savePreset.empty()) {
      std::vector<uint8_t> blob;
      if (!host->GetState(blob, error)) {
        failure = {kExitModule, error};
        return fail();
      }
      const std::string pending = PendingPathFor(options.savePreset);
      TrackPendingFile(pending);
      if (!WriteBytesPending(pending, blob, error) || !CommitPendingFile(pending, options.savePreset, error)) {
        failure = {kExitOutput, error};
        return fail();
      }
    }
    return kExitOk;
  }

  // ---- Render.
  SampleFormat sampleFormat = options.sampleFormat;
  if (!options.haveSampleFormat) {
    sampleFormat = SampleFormat::Pcm24;
    // Keep the input's encoding when the output container can hold it.
    SampleFormat inputFormat;
    if (SampleFormatForSubtype(inputInfo.subtype, inputFormat) &&
        ContainerHolds(ContainerForPath(options.output), inputFormat)) {
      sampleFormat = inputFormat;
    }
  }
  const int outputChannels = input.ChannelCount();
  AudioFileWriter writer;
  if (!writer.Open(options.output, ContainerForPath(options.output), sampleFormat, outputChannels,
                   sampleRate, error)) {
    failure = {error.rfind("cannot write", 0) == 0 ? kExitOutput : kExitUsage, error};
    return fail();
  }

  const size_t frames = input.FrameCount();
  const double seconds = static_cast<double>(frames) / sampleRate;
  const bool showProgress = options.progress == 1 ||
                            (options.progress == -1 && isatty(STDERR_FILENO) && seconds > 20.0);
  ProgressBar progress(showProgress, seconds);
  LevelAnalysis levels(sampleRate);
  const double makeupDb = MakeupGainDb(host->Parameters());
  levels.SetMakeupGainDb(makeupDb);
  const size_t block = static_cast<size_t>(options.block);
  std::vector<double> silence(block, 0.0);
  std::vector<std::vector<double>> out(2, std::vector<double>(block));
  const auto started = std::chrono::steady_clock::now();
  for (size_t position = 0; position < frames; position += block) {
    const size_t n = std::min(block, frames - position);
    const double* left = &input.channels[0][position];
    const double* right = input.ChannelCount() > 1 ? &input.channels[1][position] : left;
    const double* sideLeft = silence.data();
    const double* sideRight = silence.data();
    if (!sidechain.channels.empty()) {
      sideLeft = &sidechain.channels[0][position];
      sideRight = sidechain.ChannelCount() > 1 ? &sidechain.channels[1][position] : sideLeft;
    }
    const double* ins[4] = {left, right, sideLeft, sideRight};
    double* outs[2] = {out[0].data(), out[1].data()};
    host->Process(ins, outs, static_cast<int>(n));
    const double* mainIns[2] = {left, right};
    const double* analysedOuts[2] = {outs[0], outs[1]};
    levels.Add(mainIns, analysedOuts, n);
    if (!writer.Write(analysedOuts, n, error)) {
      progress.Finish();
      failure = {kExitOutput, error};
      return fail();
    }
    progress.Update(static_cast<double>(position + n) / sampleRate);
  }
  const double elapsed =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
  progress.Finish();
  levels.Finish();

  // ---- Pictures and preset go to pending files; all appear together.
  std::vector<std::pair<std::string, std::string>> pendingFiles;  // pending, final
  auto pendingFor = [&](const std::string& path) {
    const std::string pending = PendingPathFor(path);
    TrackPendingFile(pending);
    pendingFiles.emplace_back(pending, path);
    return pending;
  };
  const std::string inputName = embedded ? "embedded drums and bass" : options.input.substr(options.input.find_last_of('/') + 1);
  if (options.pictures) {
    const std::string title = std::string("Kestrune ") + host->FormatName() + ": " + inputName;
    if (!DrawLevelPlot(levels, title).WritePng(pendingFor(options.plotPng), error)) {
      failure = {kExitOutput, error};
      return fail();
    }
    std::vector<EditorParamValue> values;
    for (const auto& p : host->Parameters()) {
      values.push_back({static_cast<int>(p.id), host->NormalizedValue(p.index)});
    }
    if (!WriteEditorPicture(values, levels.FinalReductionDb(), pendingFor(options.editorPng), error)) {
      failure = {kExitOutput, error};
      return fail();
    }
  }
  if (!options.savePreset.empty()) {
    std::vector<uint8_t> blob;
    if (!host->GetState(blob, error)) {
      failure = {kExitModule, error};
      return fail();
    }
    if (!WriteBytesPending(pendingFor(options.savePreset), blob, error)) {
      failure = {kExitOutput, error};
      return fail();
    }
  }
  if (!writer.Commit(error)) {
    failure = {kExitOutput, error};
    return fail();
  }
  for (const auto& file : pendingFiles) {
    if (!CommitPendingFile(file.first, file.second, error)) {
      failure = {kExitOutput, error};
      return fail();
    }
  }

  if (!options.quiet) {
    printf("Kestrune %s (%s): %s, %.2f s at %s Hz, %d-bit processing in blocks of %d\n",
           host->FormatName(), options.module.c_str(), inputName.c_str(), seconds,
           FormatValue(sampleRate).c_str(), options.doublePrecision ? 64 : 32, options.block);
    printf("  input : peak %7.2f dBFS, RMS %7.2f dBFS\n", levels.InputPeakDb(), levels.InputRmsDb());
    printf("  output: peak %7.2f dBFS, RMS %7.2f dBFS\n", levels.OutputPeakDb(), levels.OutputRmsDb());
    printf("  largest gain reduction: %.2f dB (at the end: %.2f dB)%s\n", levels.LargestReductionDb(),
           levels.FinalReductionDb(),
           makeupDb != 0 ? (", OUTPUT gain of " + FormatValue(makeupDb) + " dB taken out").c_str() : "");
    printf("  time: %.3f s, %.1fx realtime\n", elapsed, seconds / std::max(elapsed, 1e-9));
    printf("audio:        %s (%s)\n", options.output.c_str(), SampleFormatName(sampleFormat));
    if (options.pictures) {
      printf("editor:       %s\n", options.editorPng.c_str());
      printf("levels plot:  %s\n", options.plotPng.c_str());
    }
    if (!options.savePreset.empty()) printf("preset:       %s\n", options.savePreset.c_str());
  }
  return kExitOk;
}

}  // namespace
}  // namespace render

int main(int argc, char** argv) {
  render::InstallPendingFileCleanup();
  return render::Run(argc, argv);
}
