#include "PluginSetup.h"

#include <sys/stat.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <mutex>

#include "BatchOutput.h"
#include "FxpFile.h"
#include "HostState.h"
#include "JobFiles.h"
#include "KestruneIdentity.h"
#include "OutputSafety.h"
#include "ParamSettings.h"
#include "PresetFileState.h"
#include "VstPresetFile.h"

#ifndef KESTRUNE_BUILD_MODULE_DIR
#define KESTRUNE_BUILD_MODULE_DIR ""
#endif

namespace render {
namespace {

// Settings for the embedded material that make the compressor obvious.
const char* const kDefaultSettings[][2] = {
    {"INPUT", "18"}, {"RATIO", "8:1"}, {"ATTACK", "0.8ms"}, {"RELEASE", "150ms"}, {"OUTPUT", "6"},
};

std::mutex g_moduleLock;

// Preset files are a few hundred bytes; a larger one is not a preset, and
// a device such as /dev/zero would never end.
constexpr size_t kMaxPresetBytes = 1 << 20;

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

// Who a preset file belongs to: the VST2 unique ID in an .fxp, the VST3
// processor's class ID in a .vstpreset, as Kestrune's modules write them.
std::string KestruneVst3ClassId() {
  char text[33];
  const uint32_t* w = kestrune::kVst3ClassIdWords;
  snprintf(text, sizeof text, "%08X%08X%08X%08X", w[0], w[1], w[2], w[3]);
  return text;
}

// A .vstpreset or .fxp made by another plug-in is refused before its
// contents are looked at: a chunk of the right size from another plug-in
// would otherwise set whatever its bytes happen to mean here.
bool BelongsToKestrune(const std::vector<uint8_t>& file, std::string& error) {
  switch (presetfiles::KindOf(file)) {
    case presetfiles::PresetFileKind::VstPreset: {
      presetfiles::VstPreset preset;
      if (!presetfiles::ReadVstPreset(file, preset, error)) return false;
      if (preset.classId == KestruneVst3ClassId()) return true;
      error = "not a Kestrune preset: it is for the VST3 plug-in with class ID " + preset.classId;
      return false;
    }
    case presetfiles::PresetFileKind::Fxp: {
      presetfiles::FxpProgram program;
      if (!presetfiles::ReadFxp(file, program, error)) return false;
      if (program.pluginId == kestrune::kUniqueId) return true;
      char id[16];
      snprintf(id, sizeof(id), "%08X", static_cast<uint32_t>(program.pluginId));
      error = std::string("not a Kestrune preset: it is for the VST2 plug-in with ID ") + id;
      return false;
    }
    case presetfiles::PresetFileKind::StateBlob:
      break;
  }
  return true;
}

}  // namespace

void UnloadOneAtATime::operator()(PluginHost* host) const {
  std::lock_guard<std::mutex> guard(g_moduleLock);
  delete host;
}

namespace {

std::vector<std::string> ModuleCandidates(const std::string& format) {
  const char* home = getenv("HOME");
  const std::string built = KESTRUNE_BUILD_MODULE_DIR;
  std::vector<std::string> candidates;
  if (format == "vst3") {
    if (!built.empty()) candidates.push_back(built + "/Kestrune.vst3");
    if (home) candidates.push_back(std::string(home) + "/.vst3/Kestrune.vst3");
  } else if (format == "clap") {
    if (!built.empty()) candidates.push_back(built + "/Kestrune.clap");
    if (home) candidates.push_back(std::string(home) + "/.clap/Kestrune.clap");
  } else if (format == "lv2") {
    if (!built.empty()) candidates.push_back(built + "/Kestrune.lv2");
    if (home) candidates.push_back(std::string(home) + "/.lv2/Kestrune.lv2");
  } else {
    if (!built.empty()) candidates.push_back(built + "/vst2/Kestrune.so");
    if (home) candidates.push_back(std::string(home) + "/.vst/Kestrune.so");
  }
  return candidates;
}

}  // namespace

std::vector<std::string> KnownModules() {
  std::vector<std::string> all;
  for (const char* format : {"vst3", "vst2", "lv2"}) {
    for (const std::string& path : ModuleCandidates(format)) all.push_back(path);
  }
  return all;
}

std::string DefaultModule(const std::string& format) {
  const std::vector<std::string> candidates = ModuleCandidates(format);
  for (const std::string& path : candidates) {
    struct stat status;
    if (stat(path.c_str(), &status) == 0) return path;
  }
  return candidates.empty() ? std::string() : candidates.front();
}

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

HostPtr LoadPlugin(const Options& options, const std::vector<uint8_t>& presetFile, double sampleRate,
                   bool embedded, Failure& failure) {
  std::lock_guard<std::mutex> guard(g_moduleLock);
  std::string error;
  const std::string format = !options.format.empty() ? options.format : DetectModuleFormat(options.module);
  std::unique_ptr<PluginHost> host = format == "vst3"  ? LoadVst3(options.module, error)
                                     : format == "lv2" ? LoadLv2(options.module, error)
                                     : format == "clap" ? LoadClap(options.module, error)
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
    // VST3 state, as does CLAP, so both take .vstpreset files too; VST2
    // takes its parameters in a program chunk of its own.
    std::vector<uint8_t> state;
    const std::string format = host->FormatName();
    const bool vst3IntoVst2 =
        format == "VST2" && presetfiles::KindOf(presetFile) == presetfiles::PresetFileKind::VstPreset;
    const std::string stateFormat = format == "LV2" || format == "CLAP" || vst3IntoVst2 ? "VST3" : format;
    if (!BelongsToKestrune(presetFile, error) ||
        !presetfiles::StateFromPresetFile(presetFile, stateFormat, state, error)) {
      // The factory .fxp files are what VST2 hosts load.
      const bool vst2File = presetfiles::KindOf(presetFile) == presetfiles::PresetFileKind::Fxp &&
                            stateFormat != "VST2" && error.rfind("not a Kestrune", 0) != 0;
      failure = {kExitInput, "preset '" + options.preset + "': " + error +
                                 (vst2File ? "; load it with --format vst2" : "")};
      return nullptr;
    }
    StateChunk program;
    if (vst3IntoVst2) {
      if (!ProgramChunkFromHostState(state.data(), state.size(), program)) {
        failure = {kExitInput, "preset '" + options.preset + "' holds no Kestrune state"};
        return nullptr;
      }
      state.assign(program.Data(), program.Data() + program.Size());
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
    // A state reads back as it was written; the plug-in clamps a value
    // outside its parameter's range, as hosts expect, and the state then
    // reads back otherwise. A render is asked for the preset's settings
    // exactly, so such a preset (damaged, or not Kestrune's) is refused.
    std::vector<uint8_t> restored;
    if (host->GetState(restored, error) && restored != presetBlob) {
      failure = {kExitInput, "preset '" + options.preset +
                                 "' holds a value outside its parameter's range; it is damaged or not a Kestrune "
                                 "preset"};
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

}  // namespace render
