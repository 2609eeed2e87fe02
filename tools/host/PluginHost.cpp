#include "PluginHost.h"

#include <dlfcn.h>
#include <sys/stat.h>

#include <cmath>
#include <cstdlib>

namespace render {

bool ParseDisplayNumber(const std::string& text, double& value) {
  const char* start = text.c_str();
  while (*start == ' ' || *start == '\t') ++start;
  char* end = nullptr;
  double parsed = std::strtod(start, &end);
  if (end == start || !std::isfinite(parsed)) return false;
  value = parsed;
  return true;
}

std::string DetectModuleFormat(const std::string& path) {
  struct stat status;
  if (stat(path.c_str(), &status) != 0) return "vst3";
  if (S_ISDIR(status.st_mode)) {
    struct stat manifest;
    return stat((path + "/manifest.ttl").c_str(), &manifest) == 0 ? "lv2" : "vst3";
  }
  void* library = dlopen(path.c_str(), RTLD_LAZY | RTLD_LOCAL);
  if (!library) return "vst3";
  const bool vst3 = dlsym(library, "GetPluginFactory") != nullptr;
  const bool vst2 = dlsym(library, "VSTPluginMain") != nullptr;
  const bool lv2 = dlsym(library, "lv2_descriptor") != nullptr;
  const bool clap = dlsym(library, "clap_entry") != nullptr;
  dlclose(library);
  return vst2 && !vst3 ? "vst2" : lv2 && !vst3 ? "lv2" : clap && !vst3 ? "clap" : "vst3";
}

#ifndef KESTRUNE_HOST_CLAP
std::unique_ptr<PluginHost> LoadClap(const std::string& path, std::string& error) {
  error = "cannot load CLAP module '" + path + "': this build has no CLAP support";
  return nullptr;
}
#endif

}  // namespace render
