#include "JobFiles.h"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "AudioFile.h"
#include "OutputSafety.h"
#include "PendingFile.h"
#include "PluginHost.h"
#include "PluginSetup.h"

namespace render {
namespace {

// A folder this run made for its outputs.
std::string g_createdFolder;

std::string ExtensionForType(const std::string& type) {
  return type == "flac" ? ".flac" : type == "aiff" ? ".aif" : type == "raw" ? ".raw" : ".wav";
}

bool IsFolderName(const std::string& path) {
  struct stat status;
  return (!path.empty() && path.back() == '/') || (stat(path.c_str(), &status) == 0 && S_ISDIR(status.st_mode));
}

}  // namespace

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
  // A single input is there before the plug-in is loaded; in a batch a
  // missing input fails alone when its turn comes.
  for (const NamedFile& input : inputs) {
    if (input.option != "the input" || input.path == "-" || jobs.size() > 1) continue;
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
  // A pipe gives its bytes once, to the first input's render.
  struct stat sidechainStatus;
  if (jobs.size() > 1 && !options.sidechain.empty() && stat(options.sidechain.c_str(), &sidechainStatus) == 0 &&
      !S_ISREG(sidechainStatus.st_mode)) {
    failure = {kExitUsage, "--sidechain '" + options.sidechain +
                               "' is a pipe or a device, which is read only once; with several inputs give a file"};
    return false;
  }
  std::vector<std::string> modules = KnownModules();
  if (!options.module.empty()) modules.push_back(options.module);
  for (const NamedFile& output : outputs) {
    if (!CheckOutsideModules(output, modules, error)) {
      failure = {kExitUsage, error};
      return false;
    }
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

const std::string& CreatedOutputFolder() { return g_createdFolder; }

}  // namespace render
