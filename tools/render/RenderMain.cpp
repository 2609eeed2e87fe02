// kestrune-render: an offline host for the Kestrune plug-in.
//
// Loads the built module (VST3 or VST2, told apart by its exported entry)
// as a DAW would, streams audio files — or, without one, eight seconds of
// embedded drums and bass — through it block by block, and writes the
// result, a picture of the editor with those settings and a plot of input
// level, output level and level change. Every problem ends the run with a
// one-line error and one of the documented exit statuses. Nothing is
// written before every output has been checked against every input and
// every other output, and output files appear only when complete.
#include <sndfile.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <condition_variable>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <exception>
#include <fstream>
#include <iterator>
#include <memory>
#include <mutex>
#include <new>
#include <string>
#include <thread>
#include <vector>

#include "AudioReader.h"
#include "AudioWriter.h"
#include "BatchOutput.h"
#include "DefaultMaterial.h"
#include "EditorPicture.h"
#include "LevelAnalysis.h"
#include "LevelPlot.h"
#include "Loudness.h"
#include "OutputSafety.h"
#include "ParamSettings.h"
#include "PendingFile.h"
#include "PluginHost.h"
#include "PresetFileState.h"
#include "Progress.h"
#include "Resampler.h"
#include "RenderOptions.h"

#ifndef KESTRUNE_BUILD_MODULE_DIR
#define KESTRUNE_BUILD_MODULE_DIR ""
#endif
#ifndef KESTRUNE_VERSION
#define KESTRUNE_VERSION "unknown"
#endif

namespace render {
namespace {

// Settings for the embedded material that make the compressor obvious.
const char* const kDefaultSettings[][2] = {
    {"INPUT", "18"}, {"RATIO", "8:1"}, {"ATTACK", "0.8ms"}, {"RELEASE", "150ms"}, {"OUTPUT", "6"},
};

// A folder this run made for its outputs.
std::string g_createdFolder;

// One input and the files made from it. Display names are as the user (or
// the default naming) wrote them; targets are where the bytes go, with
// symbolic links resolved.
struct Job {
  std::string input;  // empty: the embedded material
  std::string output, outputTarget;
  std::string outputOption;  // "-o" or "the output"
  int container = 0;
  std::string editorPng, editorTarget;
  std::string plotPng, plotTarget;
  bool savesPreset = false;
};

std::string WithoutExtension(const std::string& path) {
  size_t dot = path.find_last_of('.');
  size_t slash = path.find_last_of('/');
  if (dot == std::string::npos || (slash != std::string::npos && dot < slash)) return path;
  return path.substr(0, dot);
}

std::string ExtensionOf(const std::string& path) { return path.substr(WithoutExtension(path).size()); }

std::string Lowered(std::string text) {
  std::transform(text.begin(), text.end(), text.begin(), ::tolower);
  return text;
}

std::string ExtensionForType(const std::string& type) {
  return type == "flac" ? ".flac" : type == "aiff" ? ".aif" : type == "raw" ? ".raw" : ".wav";
}

bool IsFolderName(const std::string& path) {
  struct stat status;
  return (!path.empty() && path.back() == '/') || (stat(path.c_str(), &status) == 0 && S_ISDIR(status.st_mode));
}

std::string DefaultModule(const std::string& format) {
  const char* home = getenv("HOME");
  const std::string built = KESTRUNE_BUILD_MODULE_DIR;
  std::vector<std::string> candidates;
  if (format == "vst3") {
    if (!built.empty()) candidates.push_back(built + "/Kestrune.vst3");
    if (home) candidates.push_back(std::string(home) + "/.vst3/Kestrune.vst3");
  } else if (format == "lv2") {
    if (!built.empty()) candidates.push_back(built + "/Kestrune.lv2");
    if (home) candidates.push_back(std::string(home) + "/.lv2/Kestrune.lv2");
  } else {
    if (!built.empty()) candidates.push_back(built + "/vst2/Kestrune.so");
    if (home) candidates.push_back(std::string(home) + "/.vst/Kestrune.so");
  }
  for (const std::string& path : candidates) {
    struct stat status;
    if (stat(path.c_str(), &status) == 0) return path;
  }
  return candidates.empty() ? std::string() : candidates.front();
}

// Preset files are a few hundred bytes; a larger one is not a preset, and
// a device such as /dev/zero would never end.
constexpr size_t kMaxPresetBytes = 1 << 20;

// Reads a preset file: the plug-in's own state as --save-preset writes it,
// or a .vstpreset or .fxp file.
bool ReadPresetFile(const std::string& path, std::vector<uint8_t>& blob, std::string& error) {
  struct stat status;
  if (stat(path.c_str(), &status) != 0) {
    error = strerror(errno);
    return false;
  }
  std::ifstream in(path, std::ios::binary);
  if (S_ISDIR(status.st_mode) || !in) {
    error = S_ISDIR(status.st_mode) ? "is a folder" : strerror(errno);
    return false;
  }
  blob.resize(kMaxPresetBytes + 1);
  in.read(reinterpret_cast<char*>(blob.data()), static_cast<std::streamsize>(blob.size()));
  blob.resize(static_cast<size_t>(in.gcount()));
  if (blob.size() > kMaxPresetBytes) {
    error = "it is larger than 1 MB, which no preset is";
    return false;
  }
  return true;
}

// --save-preset writes the format's preset file by its extension, the raw
// state for any other name.
bool NamesPresetFile(const std::string& name, const char* format) {
  const std::string ext = Lowered(ExtensionOf(name));
  return (ext == ".vstpreset" && std::string(format) == "VST3") || (ext == ".fxp" && std::string(format) == "VST2");
}

bool WriteBytes(const std::string& path, const std::vector<uint8_t>& bytes, const std::string& name,
                std::string& error) {
  FILE* file = fopen(path.c_str(), "wb");
  if (!file) {
    error = "cannot write '" + name + "': " + strerror(errno);
    return false;
  }
  bool ok = fwrite(bytes.data(), 1, bytes.size(), file) == bytes.size();
  ok = fclose(file) == 0 && ok;
  if (!ok) error = "cannot write '" + name + "': " + strerror(errno);
  return ok;
}

// Output names for every input, before anything is opened.
bool PlanJobs(Options& options, std::vector<Job>& jobs, Failure& failure) {
  auto usage = [&](const std::string& message) {
    failure = {kExitUsage, message};
    return false;
  };
  const bool toFolder = !options.output.empty() && options.output != "-" && IsFolderName(options.output);
  if (options.inputs.size() > 1 && !options.output.empty() && !toFolder) {
    return usage("with several inputs, -o must name a folder, got '" + options.output + "'");
  }
  std::vector<std::string> inputs = options.inputs;
  if (inputs.empty()) inputs.push_back("");
  for (const std::string& input : inputs) {
    Job job;
    job.input = input;
    if (options.listParams) {  // nothing is rendered
      jobs.push_back(job);
      continue;
    }
    const bool typed = !options.outputType.empty();
    const std::string inputExt = !input.empty() && input != "-" && ContainerForPath(input) ? ExtensionOf(input) : ".wav";
    const std::string ext = typed ? ExtensionForType(options.outputType) : inputExt;
    if (options.output.empty() || toFolder) {
      if (input == "-") return usage("audio read from standard input needs -o (a file, a folder or '-')");
      if (toFolder) {
        std::string folder = options.output;
        while (folder.size() > 1 && folder.back() == '/') folder.pop_back();
        const std::string base = input.empty() ? "kestrune-default" : WithoutExtension(BaseNameOf(input));
        job.output = folder + "/" + base + ext;
      } else {
        job.output = input.empty() ? "kestrune-default" + (typed ? ext : std::string(".wav"))
                                   : WithoutExtension(input) + "-kestrune" + ext;
      }
      job.outputOption = "the output";
    } else {
      job.output = options.output;
      job.outputOption = "-o";
    }
    job.container = ContainerForPath(job.output);
    // A name that says one type and --type another: which was meant is a guess.
    if (typed && job.container && job.container != ContainerForPath(ExtensionForType(options.outputType))) {
      return usage(job.outputOption + " '" + job.output + "' ends in " + ExtensionOf(job.output) +
                   " but --type is " + options.outputType + "; drop --type or change the name");
    }
    if (!job.container && (job.output == "-" || typed || IsDeviceOrPipe(job.output))) {
      job.container = ContainerForPath(ExtensionForType(typed ? options.outputType : "wav"));
    }
    if (!job.container) {
      return usage("output '" + job.output + "' must end in .wav, .aif, .aiff, .flac or .raw (or give --type)");
    }
    if (options.pictures) {
      // A pipe or a device gives no name to put pictures beside.
      const bool named = job.output != "-" && !IsDeviceOrPipe(job.output);
      job.editorPng = !options.editorPng.empty() ? options.editorPng
                      : named                    ? WithoutExtension(job.output) + "-editor.png"
                                                 : "";
      job.plotPng = !options.plotPng.empty() ? options.plotPng
                    : named                  ? WithoutExtension(job.output) + "-levels.png"
                                             : "";
    }
    jobs.push_back(job);
  }
  // take.wav and take.flac into one folder: pictures named by the whole name.
  for (Job& job : jobs) {
    if (options.listParams || job.editorPng.empty() || !options.editorPng.empty()) continue;
    const std::string stem = WithoutExtension(job.output);
    const bool shared = std::count_if(jobs.begin(), jobs.end(), [&](const Job& other) {
                          return WithoutExtension(other.output) == stem;
                        }) > 1;
    if (shared) {
      const std::string named = stem + "-" + ExtensionOf(job.output).substr(1);
      job.editorPng = named + "-editor.png";
      job.plotPng = named + "-levels.png";
    }
  }
  if (!options.savePreset.empty()) jobs.back().savesPreset = true;
  return true;
}

// Every output against every input and every other output, and every output
// folder writable, before the plug-in is even loaded.
bool CheckFiles(const Options& options, std::vector<Job>& jobs, Failure& failure) {
  std::vector<NamedFile> inputs, outputs;
  for (const Job& job : jobs) {
    if (!job.input.empty()) inputs.push_back({"the input", job.input});
  }
  if (!options.sidechain.empty()) inputs.push_back({"--sidechain", options.sidechain});
  if (!options.preset.empty()) inputs.push_back({"--preset", options.preset});
  // The library inside a bundle is what a write would destroy.
  if (!options.module.empty()) inputs.push_back({"--module", options.module, ModuleBinaryPath(options.module)});
  for (const Job& job : jobs) {
    if (!options.listParams) {
      // With several inputs, which input an output comes from.
      const std::string from = jobs.size() > 1 ? " of '" + job.input + "'" : "";
      outputs.push_back({job.outputOption + from, job.output});
      outputs.push_back({(options.editorPng.empty() ? "the editor picture" : "--editor-png") + from, job.editorPng});
      outputs.push_back({(options.plotPng.empty() ? "the level plot" : "--plot-png") + from, job.plotPng});
    }
  }
  outputs.push_back({"--save-preset", options.savePreset});
  std::string error;
  // Every input is there before the first is rendered.
  for (const NamedFile& input : inputs) {
    if (input.option != "the input" || input.path == "-") continue;
    struct stat status;
    const bool exists = stat(input.path.c_str(), &status) == 0;
    if (!exists || S_ISDIR(status.st_mode) || access(input.path.c_str(), R_OK) != 0) {
      failure = {kExitInput, "input '" + input.path + "' " +
                                 (!exists && errno == ENOENT ? std::string("does not exist")
                                  : exists && S_ISDIR(status.st_mode) ? std::string("is a folder, not an audio file")
                                                                      : std::string("cannot be read: ") + strerror(errno))};
      return false;
    }
  }
  if (!CheckNoCollision(inputs, outputs, error)) {
    failure = {kExitUsage, error};
    return false;
  }
  // After the collisions: a picture over an input is the graver fault.
  for (const auto& [option, picture] : {std::pair<const char*, std::string>{"--editor-png", options.editorPng},
                                        {"--plot-png", options.plotPng}}) {
    if (!picture.empty() && Lowered(ExtensionOf(picture)) != ".png" && !IsDeviceOrPipe(picture)) {
      failure = {kExitUsage, std::string(option) + " '" + picture + "' is written as PNG; name it .png"};
      return false;
    }
  }
  SetNoClobber(options.noClobber);
  for (const NamedFile& output : outputs) {
    if (options.noClobber && !CheckNotExisting(output, error)) {
      failure = {kExitUsage, error};
      return false;
    }
  }
  // "-o squashed/" names a folder; like any output it is made if missing
  // (one level, as mkdir does), and removed again if the run fails empty.
  struct stat status;
  if (!options.listParams && !options.output.empty() && options.output.back() == '/' &&
      stat(options.output.c_str(), &status) != 0 && errno == ENOENT) {
    if (mkdir(options.output.c_str(), 0777) != 0) {
      failure = {kExitOutput, "cannot make folder '" + options.output + "': " + strerror(errno)};
      return false;
    }
    g_createdFolder = options.output;
  }
  auto resolve = [&](const std::string& path, std::string& target) {
    if (path.empty() || path == "-") {
      target = path;
      return true;
    }
    if (!ResolveOutputPath(path, target, error) || !CheckWritable(target, error)) {
      failure = {kExitOutput, error};
      return false;
    }
    return true;
  };
  for (Job& job : jobs) {
    if (options.listParams) continue;
    if (!resolve(job.output, job.outputTarget) || !resolve(job.editorPng, job.editorTarget) ||
        !resolve(job.plotPng, job.plotTarget)) {
      return false;
    }
  }
  std::string ignored;
  return resolve(options.savePreset, ignored);
}

// Modules are loaded, prepared and unloaded one at a time: their entry
// points are not made for two threads at once (a VST2 plug-in is handed its
// host through a global while it is created). Instances then run in parallel
// as in any host.
std::mutex g_moduleLock;

struct UnloadOneAtATime {
  void operator()(PluginHost* host) const {
    std::lock_guard<std::mutex> guard(g_moduleLock);
    delete host;
  }
};
using HostPtr = std::unique_ptr<PluginHost, UnloadOneAtATime>;

// Loads the module, prepares it for `sampleRate` and applies the settings:
// embedded defaults, then the preset, then each --set.
HostPtr LoadPlugin(const Options& options, const std::vector<uint8_t>& presetFile, double sampleRate,
                   bool embedded, Failure& failure) {
  std::lock_guard<std::mutex> guard(g_moduleLock);
  std::string error;
  const std::string format = !options.format.empty() ? options.format : DetectModuleFormat(options.module);
  std::unique_ptr<PluginHost> host = format == "vst3"  ? LoadVst3(options.module, error)
                                     : format == "lv2" ? LoadLv2(options.module, error)
                                                       : LoadVst2(options.module, error);
  if (!host) {
    failure = {kExitModule, error};
    return nullptr;
  }
  if (options.doublePrecision && !host->SupportsDoublePrecision()) {
    failure = {kExitModule, std::string("the ") + host->FormatName() +
                                " plug-in cannot process 64-bit samples; use --precision 32"};
    return nullptr;
  }
  if (!host->Prepare(sampleRate, options.block, options.doublePrecision, !options.sidechain.empty(), error)) {
    failure = {kExitModule, error};
    return nullptr;
  }
  const std::vector<ParamDescription> params = host->Parameters();
  if (embedded && options.preset.empty() && !options.listParams) {
    for (const auto& setting : kDefaultSettings) {
      if (!ApplySetting(*host, params, setting[0], setting[1], failure)) return nullptr;
    }
  }
  if (!options.preset.empty()) {
    // A .vstpreset or .fxp file carries the state inside it. LV2 keeps the
    // VST3 state, so it takes .vstpreset files too.
    std::vector<uint8_t> state;
    const std::string stateFormat = std::string(host->FormatName()) == "LV2" ? "VST3" : host->FormatName();
    if (!presetfiles::StateFromPresetFile(presetFile, stateFormat, state, error)) {
      failure = {kExitInput, "preset '" + options.preset + "': " + error};
      return nullptr;
    }
    const std::vector<uint8_t>& presetBlob = state;
    // The plug-in's state has one size; a file of another size is not a
    // preset of this plug-in in this format, whatever the plug-in would make
    // of it.
    std::vector<uint8_t> current;
    if (host->GetState(current, error) && current.size() != presetBlob.size()) {
      failure = {kExitInput, "preset '" + options.preset + "' is not a " + host->FormatName() +
                                 " Kestrune state: it has " + std::to_string(presetBlob.size()) +
                                 " bytes, the plug-in's state has " + std::to_string(current.size())};
      return nullptr;
    }
    if (!host->SetState(presetBlob, error)) {
      failure = {kExitInput, "preset '" + options.preset + "' was not accepted: " + error};
      return nullptr;
    }
  }
  bool sidechainSetByUser = false;
  for (const auto& set : options.sets) {
    if (!ApplySetting(*host, params, set.first, set.second, failure)) return nullptr;
    std::string ignored;
    const ParamDescription* p = FindParam(params, set.first, ignored);
    if (p && p->name == "Sidechain") sidechainSetByUser = true;
  }
  std::string ignored;
  if (!options.sidechain.empty() && !sidechainSetByUser) {
    if (FindParam(params, "Sidechain", ignored)) {
      if (!ApplySetting(*host, params, "Sidechain", "EXT", failure)) return nullptr;
      if (!options.quiet && !options.listParams) {
        Say(stderr, std::string(kTool) + ": Sidechain set to EXT (external) to use '" + options.sidechain + "'\n");
      }
    }
  }
  // A sidechain setting and a sidechain file that do not go together.
  for (const auto& p : host->Parameters()) {
    if (p.name != "Sidechain" || options.listParams) continue;
    if (options.sidechain.empty() && p.currentText == "EXT") {
      Warn("Sidechain is EXT (external) but no --sidechain file is given: the detector hears silence; give "
           "--sidechain FILE or set Sidechain=INT");
    } else if (!options.sidechain.empty() && p.currentText == "INT") {
      Warn("--sidechain '" + options.sidechain + "' is not used: Sidechain is INT (internal)");
    }
  }
  return HostPtr(host.release());
}

// A figure as printed with two decimals, never "-0.00".
double Shown(double value) { return std::fabs(value) < 0.005 ? 0.0 : value; }

// JSON for --json: numbers (null where there is none, as for the loudness
// of silence) and strings.
std::string JsonNumber(double value) {
  if (!std::isfinite(value)) return "null";
  char text[40];
  snprintf(text, sizeof(text), "%.10g", value);
  return text;
}

std::string JsonString(const std::string& text) {
  std::string out = "\"";
  for (unsigned char c : text) {
    if (c == '"' || c == '\\') {
      out += '\\';
      out += static_cast<char>(c);
    } else if (c < 0x20) {
      char escaped[8];
      snprintf(escaped, sizeof(escaped), "\\u%04x", c);
      out += escaped;
    } else {
      out += static_cast<char>(c);
    }
  }
  return out + "\"";
}

// A loudness figure with one decimal; silence has none.
std::string Lufs(double value) {
  if (!std::isfinite(value)) return "-inf";
  char text[32];
  snprintf(text, sizeof(text), "%.1f", std::fabs(value) < 0.05 ? 0.0 : value);
  return text;
}

// Counts non-finite samples in a stream and remembers the first.
struct NonFiniteCount {
  size_t count = 0;
  SamplePosition first;
  void Scan(const double* const* channels, int channelCount, size_t frames, size_t position) {
    for (int c = 0; c < channelCount; ++c) {
      for (size_t n = 0; n < frames; ++n) {
        if (!std::isfinite(channels[c][n]) && count++ == 0) first = {position + n, c};
      }
    }
  }
  void Report(const std::string& what, int channels, double sampleRate) const {
    if (count == 0) return;
    Warn(what + " has " + std::to_string(count) + " non-finite sample" + (count == 1 ? "" : "s") +
         " (NaN or infinity), the first at " + DescribePosition(first, channels, sampleRate));
  }
};

void ReportClipping(const AudioFileWriter& writer, const std::string& name, int channels) {
  const size_t left = writer.ClippedSamples(0);
  const size_t right = channels > 1 ? writer.ClippedSamples(1) : 0;
  if (left + right == 0) return;
  std::string counts = channels > 1 ? std::to_string(left) + " samples in the left channel and " +
                                          std::to_string(right) + " in the right"
                                    : std::to_string(left) + " samples";
  char peak[32];
  snprintf(peak, sizeof(peak), "%+.2f", 20.0 * std::log10(writer.LargestMagnitude()));
  Warn("'" + name + "' clipped " + counts + " beyond full scale (peak " + peak +
       " dBFS); write float output (--sample-format float) or lower OUTPUT");
}

// Pictures and preset go to pending files that are renamed together with
// the audio once all of them are complete.
class PendingSet {
 public:
  ~PendingSet() {
    for (const auto& file : files_) {
      unlink(file.pending.c_str());
      UntrackPendingFile(file.pending);
    }
  }
  std::string Add(const std::string& target) {
    files_.push_back({PendingPathFor(target), target});
    TrackPendingFile(files_.back().pending);
    return files_.back().pending;
  }
  bool CommitAll(std::string& error) {
    for (size_t i = 0; i < files_.size(); ++i) {
      if (!CommitPendingFile(files_[i].pending, files_[i].target, error)) {
        files_.erase(files_.begin(), files_.begin() + static_cast<long>(i) + 1);
        return false;
      }
    }
    files_.clear();
    return true;
  }

 private:
  struct File {
    std::string pending, target;
  };
  std::vector<File> files_;
};

// Writes the plug-in's current state, as --save-preset asks, into a
// temporary file of `pending`; it becomes the named file with the others.
bool StagePresetFile(PluginHost& host, const std::string& name, PendingSet& pending, Failure& failure) {
  std::string error;
  std::vector<uint8_t> blob;
  const bool presetFile = NamesPresetFile(name, host.FormatName());
  if (!(presetFile ? host.PresetFile(WithoutExtension(BaseNameOf(name)), blob, error) : host.GetState(blob, error))) {
    failure = {kExitModule, error};
    return false;
  }
  std::string target;
  ResolveOutputPath(name, target, error);
  if (!WriteBytes(pending.Add(target), blob, name, error)) {
    failure = {kExitOutput, error};
    return false;
  }
  return true;
}

// printf into a string.
std::string Format(const char* format, ...) __attribute__((format(printf, 1, 2)));
std::string Format(const char* format, ...) {
  va_list args, again;
  va_start(args, format);
  va_copy(again, args);
  const int size = vsnprintf(nullptr, 0, format, args);
  va_end(args);
  std::string text(static_cast<size_t>(std::max(size, 0)) + 1, '\0');
  vsnprintf(&text[0], text.size(), format, again);
  va_end(again);
  text.pop_back();
  return text;
}

// Runs `body`, turning whatever it throws into the tool's failure; the
// status is then kExitInternal.
template <class Body>
int Guarded(Failure& failure, Body body) {
  try {
    return body();
  } catch (const std::bad_alloc&) {
    failure = {kExitInternal, "out of memory"};
  } catch (const std::exception& e) {
    failure = {kExitInternal, std::string("unexpected failure: ") + e.what()};
  } catch (...) {
    failure = {kExitInternal, "unexpected failure"};
  }
  return kExitInternal;
}

// Renders one input. In a batch, `batch` shows its progress as input
// number `slot` (and the thread's log keeps what it prints).
int RenderJob(const Options& options, const Job& job, const std::vector<uint8_t>& presetBlob, BatchProgress* batch,
              size_t slot, Failure& failure) {
  std::string error;
  const bool embedded = job.input.empty();
  AudioFileReader reader;
  AudioBuffer material;
  if (embedded) {
    material = MakeDefaultMaterial();
  } else if (!reader.Open(job.input, error)) {
    failure = {kExitInput, "input '" + job.input + "' " + error};
    return failure.status;
  }
  const double sampleRate = embedded ? kDefaultMaterialRate : reader.Info().sampleRate;
  const int channels = embedded ? material.ChannelCount() : reader.Info().channels;
  AudioFileReader sidechain;
  if (!options.sidechain.empty()) {
    if (!sidechain.Open(options.sidechain, error)) {
      failure = {kExitInput, "sidechain '" + options.sidechain + "' " + error};
      return failure.status;
    }
  }
  // A sidechain at another rate is resampled to the input's as it is read.
  std::unique_ptr<SidechainSource> sidechainSource;
  if (!options.sidechain.empty()) {
    sidechainSource = std::make_unique<SidechainSource>(sidechain, sampleRate);
    if (sidechain.Info().sampleRate != sampleRate && !sidechainSource->Resampling()) {
      failure = {kExitInput, "sidechain '" + options.sidechain + "' is at " +
                                 FormatValue(sidechain.Info().sampleRate) + " Hz and cannot be resampled to the input's " +
                                 FormatValue(sampleRate) + " Hz"};
      return failure.status;
    }
    if (sidechainSource->Resampling() && !options.quiet) {
      Say(stderr, Format("%s: sidechain '%s' resampled from %s Hz to the input's %s Hz\n", kTool,
                         options.sidechain.c_str(), FormatValue(sidechain.Info().sampleRate).c_str(),
                         FormatValue(sampleRate).c_str()));
    }
  }
  HostPtr host = LoadPlugin(options, presetBlob, sampleRate, embedded, failure);
  if (!host) return failure.status;

  OutputEncoding encoding;
  encoding.container = job.container;
  encoding.channels = channels;
  encoding.sampleRate = sampleRate;
  encoding.dither = options.dither;
  encoding.format = options.sampleFormat;
  if (!options.haveSampleFormat) {
    encoding.format = SampleFormat::Pcm24;
    // Keep the input's encoding when the output container can hold it.
    SampleFormat inputFormat;
    if (!embedded && SampleFormatForSubtype(reader.Info().subtype, inputFormat) &&
        ContainerHolds(job.container, inputFormat)) {
      encoding.format = inputFormat;
    }
  }
  if (encoding.container == SF_FORMAT_WAV) {
    const WavFlavour flavour = ChooseWavFlavour(embedded ? SF_FORMAT_WAV : reader.Info().majorFormat,
                                                embedded ? static_cast<int64_t>(material.FrameCount())
                                                         : reader.Info().claimedFrames,
                                                channels, encoding.format);
    if (flavour != WavFlavour::Riff) encoding.container = SF_FORMAT_RF64;
    encoding.rf64UnlessSmall = flavour == WavFlavour::Rf64UnlessSmall;
  }
  AudioFileWriter writer;
  if (!writer.Open(job.output, job.outputTarget, encoding, error)) {
    failure = {error.rfind("cannot write", 0) == 0 ? kExitOutput : kExitUsage, error};
    return failure.status;
  }
  if (!embedded) writer.CopyMetadata(reader.Info());
  // FLAC to FLAC keeps every tag and picture.
  std::shared_ptr<const FlacTags> flacTags;
  if (!embedded && job.container == SF_FORMAT_FLAC && reader.Info().majorFormat == SF_FORMAT_FLAC) {
    // A FLAC stream's came with it; a file redirected into standard input is read again.
    flacTags = reader.Info().flacTags ? reader.Info().flacTags
                                      : ReadFlacTags(job.input == "-" ? "/dev/stdin" : job.input);
  }
  // Streamed out, the FLAC header goes before the audio, written by
  // libsndfile with only the tags it has names for.
  if (writer.Direct() && flacTags && (flacTags->TagsLibsndfileDrops() > 0 || !flacTags->pictures.empty())) {
    const std::string shown = job.output == "-" ? "standard output" : "'" + job.output + "'";
    Warn(shown + " is a FLAC stream, which gets only the input's title, artist, album, date, genre, track number, "
                 "comment, copyright, license and software: " + std::to_string(flacTags->TagsLibsndfileDrops()) +
         " other tags and " + std::to_string(flacTags->pictures.size()) +
         " pictures are left out; write to a file to keep them");
  }

  const int64_t claimed = embedded ? static_cast<int64_t>(material.FrameCount()) : reader.Info().claimedFrames;
  const double claimedSeconds = claimed > 0 ? static_cast<double>(claimed) / sampleRate : 0;
  const bool showProgress =
      options.progress == 1 ||
      (options.progress == -1 && !options.quiet && isatty(STDERR_FILENO) && (claimed < 0 || claimedSeconds > 20.0));
  ProgressBar progress(showProgress && !batch, sampleRate, claimed);
  if (batch) batch->Start(slot, sampleRate, claimed);
  LevelAnalysis levels(sampleRate);
  // The summary gives the levels the file holds: integer samples stop at full scale.
  const bool integerOutput = IntegerBits(encoding.format) > 0;
  levels.SetClipAtFullScale(integerOutput);
  LoudnessMeter inputLoudness(channels, sampleRate), outputLoudness(channels, sampleRate);
  const double makeupDb = MakeupGainDb(host->Parameters());
  levels.SetMakeupGainDb(makeupDb);

  const size_t block = static_cast<size_t>(options.block);
  std::vector<std::vector<double>> in(2, std::vector<double>(block)), side(2, std::vector<double>(block, 0.0)),
      out(2, std::vector<double>(block));
  NonFiniteCount inputNonFinite, sidechainNonFinite;
  size_t frames = 0, sidechainFrames = 0;
  const auto started = std::chrono::steady_clock::now();
  for (;;) {
    double* inPtrs[2] = {in[0].data(), in[1].data()};
    size_t n = 0;
    if (embedded) {
      n = std::min(block, material.FrameCount() - frames);
      for (int c = 0; c < channels; ++c) {
        std::copy_n(material.channels[static_cast<size_t>(c)].begin() + static_cast<long>(frames), n, in[c].begin());
      }
    } else {
      n = reader.Read(inPtrs, block);
    }
    if (n == 0) break;
    inputNonFinite.Scan(inPtrs, channels, n, frames);
    if (channels == 1) std::copy_n(in[0].begin(), n, in[1].begin());
    if (!options.sidechain.empty()) {
      double* sidePtrs[2] = {side[0].data(), side[1].data()};
      const size_t got = sidechainSource->Read(sidePtrs, n);
      sidechainNonFinite.Scan(sidePtrs, sidechain.Info().channels, got, sidechainFrames);
      sidechainFrames += got;
      if (sidechain.Info().channels == 1) std::copy_n(side[0].begin(), got, side[1].begin());
      for (auto& channel : side) std::fill(channel.begin() + static_cast<long>(got), channel.begin() + static_cast<long>(n), 0.0);
    }
    const double* ins[4] = {in[0].data(), in[1].data(), side[0].data(), side[1].data()};
    double* outs[2] = {out[0].data(), out[1].data()};
    host->Process(ins, outs, static_cast<int>(n));
    const double* mainIns[2] = {ins[0], ins[1]};
    const double* analysedOuts[2] = {outs[0], outs[1]};
    levels.Add(mainIns, analysedOuts, n);
    inputLoudness.Add(mainIns, n);
    outputLoudness.Add(analysedOuts, n, integerOutput);
    if (!writer.Write(analysedOuts, n, error)) {
      progress.Finish();
      failure = {kExitOutput, error};
      return failure.status;
    }
    frames += n;
    progress.Update(frames);
    if (batch) batch->Update(slot, frames);
  }
  const double elapsed = std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
  progress.Finish();
  levels.Finish();
  const std::string inputName = embedded ? "embedded drums and bass" : job.input == "-" ? "standard input" : BaseNameOf(job.input);
  // An empty file gives an empty file, as sox does; a damaged one is refused.
  if (frames == 0 && !reader.DamageReport().empty()) {
    failure = {kExitInput, "input '" + job.input + "' contains no audio" +
                               (reader.DamageReport().empty() ? "" : " that can be read (" + reader.DamageReport() + ")")};
    return failure.status;
  }

  // ---- Warnings about what went through.
  if (!embedded && ((claimed >= 0 && static_cast<int64_t>(frames) < claimed) || !reader.DamageReport().empty())) {
    Warn("input '" + job.input + "' ended after " + std::to_string(frames) + " frames" +
         (claimed >= 0 ? " though its header claims " + std::to_string(claimed) : std::string()) +
         (reader.DamageReport().empty() ? "" : " (" + reader.DamageReport() + ")") + "; rendered what is there");
  }
  inputNonFinite.Report("input '" + (embedded ? inputName : job.input) + "'", channels, sampleRate);
  if (!options.sidechain.empty()) {
    sidechainNonFinite.Report("sidechain '" + options.sidechain + "'", sidechain.Info().channels, sampleRate);
    std::vector<std::vector<double>> rest(2, std::vector<double>(block));
    double* restPtrs[2] = {rest[0].data(), rest[1].data()};
    size_t extra = 0;
    while (size_t got = sidechainSource->Read(restPtrs, block)) extra += got;
    if (sidechainFrames < frames) {
      Warn("sidechain '" + options.sidechain + "' has " + std::to_string(sidechainFrames) +
           " frames, the input " + std::to_string(frames) + "; padded with silence");
    } else if (extra > 0) {
      Warn("sidechain '" + options.sidechain + "' has " + std::to_string(sidechainFrames + extra) +
           " frames, the input " + std::to_string(frames) + "; the rest was left out");
    }
  }
  if (writer.NonFiniteSamples() > 0) {
    Warn("'" + job.output + "' has " + std::to_string(writer.NonFiniteSamples()) +
         " non-finite samples (NaN or infinity), the first at " +
         DescribePosition(writer.FirstNonFinite(), channels, sampleRate));
  }
  ReportClipping(writer, job.output, channels);

  // ---- Pictures and preset to pending files; then everything appears.
  PendingSet pending;
  if (!job.plotPng.empty()) {
    const std::string title = std::string("Kestrune ") + host->FormatName() + ": " + inputName + ", " +
                              Lufs(inputLoudness.IntegratedLufs()) + " LUFS in, " +
                              Lufs(outputLoudness.IntegratedLufs()) + " LUFS out";
    std::unique_lock<std::mutex> drawing(PictureDrawingLock());
    const Canvas plot = DrawLevelPlot(levels, title);
    drawing.unlock();
    // zlib's default level: 9 took ten times as long for 4 % fewer bytes.
    if (!plot.WritePng(pending.Add(job.plotTarget), 6)) {
      failure = {kExitOutput, "cannot write '" + job.plotPng + "'"};
      return failure.status;
    }
  }
  if (!job.editorPng.empty()) {
    std::vector<EditorParamValue> values;
    for (const auto& p : host->Parameters()) values.push_back({static_cast<int>(p.id), host->NormalizedValue(p.index)});
    if (!WriteEditorPicture(host->FormatName(), values, levels.FinalReductionDb(), pending.Add(job.editorTarget), error,
                            options.editorScale)) {
      failure = {kExitOutput, "cannot write '" + job.editorPng + "'"};
      return failure.status;
    }
  }
  if (job.savesPreset && !StagePresetFile(*host, options.savePreset, pending, failure)) return failure.status;
  const BroadcastLoudness broadcast = {outputLoudness.IntegratedLufs(), outputLoudness.RangeLu(),
                                       outputLoudness.TruePeakDb(), outputLoudness.MaxMomentaryLufs(),
                                       outputLoudness.MaxShortTermLufs()};
  const bool fromFile = !embedded && job.input != "-";
  std::string tagWarning;
  if (!writer.Finish(error) || !writer.CarryFlacMetadata(flacTags.get(), error) ||
      !writer.CompleteBroadcastInfo(broadcast, std::string("Kestrune-") + KESTRUNE_VERSION, error) ||
      (fromFile && !writer.CarryInfoTags(job.input, tagWarning, error))) {
    failure = {kExitOutput, error};
    return failure.status;
  }
  if (!tagWarning.empty()) Warn("'" + job.output + "': " + tagWarning);
  if (!pending.CommitAll(error) || !writer.Commit(error)) {
    failure = {kExitOutput, error};
    return failure.status;
  }

  // With the audio on standard output (or any stream), the summary goes to stderr.
  FILE* report = job.output == "-" || IsDeviceOrPipe(job.outputTarget) ? stderr : stdout;
  const double seconds = static_cast<double>(frames) / sampleRate;
  if (options.json) {
    auto side = [&](const char* name, double peak, double rms, const LoudnessMeter& loudness) {
      return std::string("\"") + name + "\": {\"peak_dbfs\": " + JsonNumber(peak) +
             ", \"rms_dbfs\": " + JsonNumber(rms) + ", \"integrated_lufs\": " +
             JsonNumber(loudness.IntegratedLufs()) + ", \"loudness_range_lu\": " + JsonNumber(loudness.RangeLu()) +
             ", \"true_peak_dbtp\": " + JsonNumber(loudness.TruePeakDb()) + "}";
    };
    std::string line = "{\"input\": " + (embedded ? std::string("null") : JsonString(job.input)) +
                       ", \"output\": " + JsonString(job.output) + ", \"format\": " + JsonString(host->FormatName()) +
                       ", \"module\": " + JsonString(options.module) + ", \"sample_rate\": " + JsonNumber(sampleRate) +
                       ", \"channels\": " + std::to_string(channels) + ", \"frames\": " + std::to_string(frames) +
                       ", \"seconds\": " + JsonNumber(seconds) + ", \"sample_format\": " +
                       JsonString(SampleFormatName(encoding.format)) + ", " +
                       side("input_levels", levels.InputPeakDb(), levels.InputRmsDb(), inputLoudness) + ", " +
                       side("output_levels", levels.OutputPeakDb(), levels.OutputRmsDb(), outputLoudness) +
                       ", \"largest_drop_db\": " + JsonNumber(Shown(levels.LargestReductionDb())) +
                       ", \"final_drop_db\": " + JsonNumber(Shown(levels.FinalReductionDb())) +
                       ", \"output_gain_db\": " + JsonNumber(makeupDb) +
                       ", \"editor_png\": " + (job.editorPng.empty() ? "null" : JsonString(job.editorPng)) +
                       ", \"plot_png\": " + (job.plotPng.empty() ? "null" : JsonString(job.plotPng)) +
                       ", \"preset\": " + (job.savesPreset ? JsonString(options.savePreset) : "null") + "}";
    Say(report, line + "\n");
  } else if (!options.quiet) {
    std::string text;
    text += Format("Kestrune %s (%s): %s, %.2f s at %s Hz, %d-bit processing in blocks of %d\n", host->FormatName(),
            options.module.c_str(), inputName.c_str(), seconds, FormatValue(sampleRate).c_str(),
            options.doublePrecision ? 64 : 32, options.block);
    text += Format("  input : peak %7.2f dBFS, RMS %7.2f dBFS, %s LUFS, range %s LU, true peak %s dBTP\n",
            Shown(levels.InputPeakDb()), Shown(levels.InputRmsDb()), Lufs(inputLoudness.IntegratedLufs()).c_str(),
            Lufs(inputLoudness.RangeLu()).c_str(), Lufs(inputLoudness.TruePeakDb()).c_str());
    text += Format("  output: peak %7.2f dBFS, RMS %7.2f dBFS, %s LUFS, range %s LU, true peak %s dBTP\n",
            Shown(levels.OutputPeakDb()), Shown(levels.OutputRmsDb()), Lufs(outputLoudness.IntegratedLufs()).c_str(),
            Lufs(outputLoudness.RangeLu()).c_str(), Lufs(outputLoudness.TruePeakDb()).c_str());
    text += Format("  level change, output minus input in 10 ms windows%s: largest drop %.2f dB, at the end %.2f dB\n",
            makeupDb != 0 ? (" without the OUTPUT gain of " + FormatValue(makeupDb) + " dB").c_str() : "",
            Shown(levels.LargestReductionDb()), Shown(levels.FinalReductionDb()));
    text += Format("  time: %.3f s, %.1fx realtime\n", elapsed, seconds / std::max(elapsed, 1e-9));
    text += Format("audio:        %s (%s%s)\n", job.output == "-" ? "standard output" : job.output.c_str(),
            SampleFormatName(encoding.format),
            encoding.format == SampleFormat::Pcm16 && options.dither ? ", TPDF dither" : "");
    if (!job.editorPng.empty()) text += Format("editor:       %s\n", job.editorPng.c_str());
    if (!job.plotPng.empty()) text += Format("levels plot:  %s\n", job.plotPng.c_str());
    if (job.savesPreset) text += Format("preset:       %s\n", options.savePreset.c_str());
    Say(report, text);
  }
  return kExitOk;
}

// Several inputs, up to -j at once, each in its own plug-in instance. Every
// input is rendered whatever becomes of the others; each prints its messages
// (an error in its place) once the inputs before it have, and the status is
// that of the first input in order that failed.
int RenderBatch(const Options& options, const std::vector<Job>& jobs, const std::vector<uint8_t>& presetBlob,
                Failure& failure) {
  struct Outcome {
    JobLog log;
    int status = kExitOk;
    bool done = false;
  };
  std::vector<Outcome> outcomes(jobs.size());
  std::mutex lock;
  std::condition_variable finished;
  std::atomic<size_t> next{0};
  const bool barAllowed =
      options.progress == 1 || (options.progress == -1 && !options.quiet && isatty(STDERR_FILENO));
  BatchProgress progress(barAllowed, options.progress == 1, jobs.size());
  auto work = [&] {
    for (size_t i; (i = next++) < jobs.size();) {
      Failure jobFailure;
      SetThreadLog(&outcomes[i].log);
      const int status = Guarded(jobFailure, [&] {
        return RenderJob(options, jobs[i], presetBlob, &progress, i, jobFailure);
      });
      SetThreadLog(nullptr);
      if (status != kExitOk) {
        outcomes[i].log.Add(stderr, std::string(kTool) + ": error: " + jobFailure.message + "\n", true);
      }
      progress.Done(i);
      {
        std::lock_guard<std::mutex> guard(lock);
        outcomes[i].status = status;
        outcomes[i].done = true;
      }
      finished.notify_all();
    }
  };
  const size_t workers = std::min(jobs.size(), static_cast<size_t>(options.jobs));
  std::vector<std::thread> threads;
  for (size_t w = 0; w < workers; ++w) threads.emplace_back(work);
  int status = kExitOk;
  for (Outcome& outcome : outcomes) {
    {
      std::unique_lock<std::mutex> guard(lock);
      finished.wait(guard, [&] { return outcome.done; });
    }
    progress.Print(outcome.log);
    outcome.log = JobLog();
    if (status == kExitOk) status = outcome.status;
  }
  for (std::thread& thread : threads) thread.join();
  progress.Finish();
  failure = {status, ""};  // each error is printed already
  return status;
}

int ListParamsOnly(const Options& options, const std::vector<uint8_t>& presetBlob, Failure& failure) {
  std::string error;
  double sampleRate = kDefaultMaterialRate;
  if (!options.inputs.empty()) {
    AudioFileReader reader;
    if (!reader.Open(options.inputs.front(), error)) {
      failure = {kExitInput, "input '" + options.inputs.front() + "' " + error};
      return failure.status;
    }
    sampleRate = reader.Info().sampleRate;
  }
  HostPtr host = LoadPlugin(options, presetBlob, sampleRate, options.inputs.empty(), failure);
  if (!host) return failure.status;
  ListParams(*host);
  if (!options.savePreset.empty()) {
    PendingSet pending;
    if (!StagePresetFile(*host, options.savePreset, pending, failure)) return failure.status;
    if (!pending.CommitAll(error)) {
      failure = {kExitOutput, error};
      return failure.status;
    }
  }
  return kExitOk;
}

int Run(int argc, char** argv, Failure& failure) {
  Options options;
  if (!ParseOptions(argc, argv, options, failure)) return failure.status;
  if (options.help) {
    PrintUsage(stdout);
    return kExitOk;
  }
  if (options.version) {
    printf("%s %s\n", kTool, KESTRUNE_VERSION);
    return kExitOk;
  }
  if (options.module.empty()) options.module = DefaultModule(options.format.empty() ? "vst3" : options.format);
  if (options.module.empty()) {
    failure = {kExitModule, "no module to load; pass --module PATH"};
    return failure.status;
  }
  if (!options.savePreset.empty()) {
    const std::string format = options.format.empty() ? DetectModuleFormat(options.module) : options.format;
    const std::string ext = Lowered(ExtensionOf(options.savePreset));
    if ((ext == ".vstpreset" && format != "vst3") || (ext == ".fxp" && format != "vst2")) {
      failure = {kExitUsage, "--save-preset '" + options.savePreset + "': a " + ext + " file holds a " +
                                 (ext == ".fxp" ? "VST2" : "VST3") + " preset, but the " + format +
                                 " plug-in is loaded" +
                                 (format == "vst2" ? "; name it .fxp" : format == "vst3" ? "; name it .vstpreset" : "")};
      return failure.status;
    }
  }
  std::vector<Job> jobs;
  if (!PlanJobs(options, jobs, failure) || !CheckFiles(options, jobs, failure)) return failure.status;
  std::vector<uint8_t> presetBlob;
  std::string error;
  if (!options.preset.empty() && !ReadPresetFile(options.preset, presetBlob, error)) {
    failure = {kExitInput, "preset '" + options.preset + "' cannot be read: " + error};
    return failure.status;
  }
  if (options.listParams) return ListParamsOnly(options, presetBlob, failure);
  if (jobs.size() == 1) return RenderJob(options, jobs.front(), presetBlob, nullptr, 0, failure);
  return RenderBatch(options, jobs, presetBlob, failure);
}

}  // namespace
}  // namespace render

int main(int argc, char** argv) {
  using namespace render;
  InstallPendingFileCleanup();
  Failure failure;
  const int status = Guarded(failure, [&] { return Run(argc, argv, failure); });
  if (failure.status != kExitOk) {
    if (!failure.message.empty()) fprintf(stderr, "%s: error: %s\n", kTool, failure.message.c_str());
    RemovePendingFiles();
    if (!g_createdFolder.empty()) rmdir(g_createdFolder.c_str());  // only if nothing went in
    return failure.status;
  }
  return status;
}
