// The plug-in side of a run: which module to load, loading and preparing it
// with the run's settings (embedded defaults, preset, --set), and the preset
// files read for it and written from it.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "PendingFile.h"
#include "PluginHost.h"
#include "RenderOptions.h"

namespace render {

// Modules are loaded, prepared and unloaded one at a time: their entry
// points are not made for two threads at once (a VST2 plug-in is handed its
// host through a global while it is created). Instances then run in parallel
// as in any host.
struct UnloadOneAtATime {
  void operator()(PluginHost* host) const;
};
using HostPtr = std::unique_ptr<PluginHost, UnloadOneAtATime>;

// The module of `format` ("vst3", "vst2" or "lv2") this build made, else the
// one installed for the user; the first candidate when neither exists.
std::string DefaultModule(const std::string& format);
// Every place DefaultModule looks, for all formats: bundles no output may
// land in, whether or not they are loaded.
std::vector<std::string> KnownModules();

// Reads a preset file: the plug-in's own state as --save-preset writes it,
// or a .vstpreset or .fxp file.
bool ReadPresetFile(const std::string& path, std::vector<uint8_t>& blob, std::string& error);

// Loads the module, prepares it for `sampleRate` and applies the settings:
// embedded defaults, then the preset, then each --set.
HostPtr LoadPlugin(const Options& options, const std::vector<uint8_t>& presetFile, double sampleRate,
                   bool embedded, Failure& failure);

// Writes the plug-in's current state, as --save-preset asks, into a
// temporary file of `pending`; it becomes the named file with the others.
bool StagePresetFile(PluginHost& host, const std::string& name, PendingSet& pending, Failure& failure);

}  // namespace render
