// Turns a factory preset into preset files through the real plug-in: the
// settings are applied to a freshly loaded instance as a host would apply
// them, and the files carry the state that instance then hands out.
#pragma once

#include <string>
#include <vector>

#include "ByteOrder.h"
#include "FactoryPresets.h"
#include "PluginHost.h"

namespace presets {

// Applies every setting of `preset` to `host` (a fresh instance: unlisted
// parameters keep their defaults) and checks that the plug-in's state then
// holds exactly the preset's values. False with `error` otherwise.
bool ApplyFactoryPreset(render::PluginHost& host, const kestrune::FactoryPreset& preset,
                        std::string& error);

// The plain parameter values in a state blob of `format` ("VST3": the
// controller state, values then a bypass flag; "VST2": the program chunk,
// header then values). False when the blob is not such a state.
bool ParameterValuesInState(const std::string& format, const presetfiles::Bytes& state,
                            std::vector<double>& values);

// A .vstpreset / .fxp image of `host`'s current state.
bool MakeVstPresetFile(render::PluginHost& host, const std::string& classId, presetfiles::Bytes& file,
                       std::string& error);
bool MakeFxpFile(render::PluginHost& host, int32_t pluginId, int32_t pluginVersion, int32_t paramCount,
                 const std::string& name, presetfiles::Bytes& file, std::string& error);

}  // namespace presets
