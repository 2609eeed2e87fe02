// kestrune-presets: writes the factory presets as preset files, from the
// built modules' own state.
//
//   kestrune-presets --vst3 Kestrune.vst3 --vst2 Kestrune.so OUTDIR
//
// makes OUTDIR/vst3/<name>.vstpreset and OUTDIR/vst2/<name>.fxp for every
// factory preset. Each file is written beside its final name and renamed
// into place, so an interrupted run leaves no half file.
#include <sys/stat.h>

#include <cstdio>
#include <cstring>
#include <memory>
#include <string>

#include "ModuleIdentity.h"
#include "PresetWriter.h"

namespace {

constexpr double kSampleRate = 48000;
constexpr int kBlockFrames = 512;

bool WriteFile(const std::string& path, const presetfiles::Bytes& bytes, std::string& error) {
  const std::string pending = path + ".partial";
  FILE* file = fopen(pending.c_str(), "wb");
  bool ok = file && fwrite(bytes.data(), 1, bytes.size(), file) == bytes.size();
  if (file && fclose(file) != 0) ok = false;
  if (ok && rename(pending.c_str(), path.c_str()) != 0) ok = false;
  if (!ok) {
    remove(pending.c_str());
    error = "cannot write '" + path + "': " + strerror(errno);
  }
  return ok;
}

bool MakeFolder(const std::string& path, std::string& error) {
  if (mkdir(path.c_str(), 0755) == 0 || errno == EEXIST) return true;
  error = "cannot make '" + path + "': " + strerror(errno);
  return false;
}

// A fresh, prepared instance with `preset` applied.
std::unique_ptr<render::PluginHost> InstanceWith(bool vst3, const std::string& module,
                                                 const kestrune::FactoryPreset& preset, std::string& error) {
  std::unique_ptr<render::PluginHost> host = vst3 ? render::LoadVst3(module, error) : render::LoadVst2(module, error);
  if (!host || !host->Prepare(kSampleRate, kBlockFrames, false, false, error) ||
      !presets::ApplyFactoryPreset(*host, preset, error)) {
    return nullptr;
  }
  return host;
}

bool Generate(const std::string& vst3Module, const std::string& vst2Module, const std::string& outDir,
              std::string& error) {
  std::string classId;
  presets::Vst2Identity vst2;
  if (!presets::ReadVst3ClassId(vst3Module, kestrune::kEffectName, classId, error) ||
      !presets::ReadVst2Identity(vst2Module, vst2, error)) {
    return false;
  }
  if (!MakeFolder(outDir, error) || !MakeFolder(outDir + "/vst3", error) || !MakeFolder(outDir + "/vst2", error)) {
    return false;
  }
  for (const kestrune::FactoryPreset& preset : kestrune::kFactoryPresets) {
    presetfiles::Bytes file;
    auto vst3Host = InstanceWith(true, vst3Module, preset, error);
    if (!vst3Host || !presets::MakeVstPresetFile(*vst3Host, classId, file, error) ||
        !WriteFile(outDir + "/vst3/" + preset.name + ".vstpreset", file, error)) {
      return false;
    }
    auto vst2Host = InstanceWith(false, vst2Module, preset, error);
    if (!vst2Host ||
        !presets::MakeFxpFile(*vst2Host, vst2.uniqueId, vst2.version, vst2.paramCount, preset.name, file, error) ||
        !WriteFile(outDir + "/vst2/" + preset.name + ".fxp", file, error)) {
      return false;
    }
  }
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  std::string vst3Module, vst2Module, outDir;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    if ((arg == "--vst3" || arg == "--vst2") && i + 1 < argc) {
      (arg == "--vst3" ? vst3Module : vst2Module) = argv[++i];
    } else if (!arg.empty() && arg[0] != '-' && outDir.empty()) {
      outDir = arg;
    } else {
      outDir.clear();
      break;
    }
  }
  if (vst3Module.empty() || vst2Module.empty() || outDir.empty()) {
    fprintf(stderr, "usage: kestrune-presets --vst3 BUNDLE --vst2 MODULE OUTDIR\n");
    return 2;
  }
  std::string error;
  if (!Generate(vst3Module, vst2Module, outDir, error)) {
    fprintf(stderr, "kestrune-presets: %s\n", error.c_str());
    return 1;
  }
  printf("kestrune-presets: %d factory presets in %s\n", kestrune::kFactoryPresetCount, outDir.c_str());
  return 0;
}
