// What a preset file records about the plug-in it belongs to, read from the
// built modules through their exported entries: the VST3 processor's class
// ID and the VST2 plug-in's unique ID, version and parameter count.
#pragma once

#include <cstdint>
#include <string>

namespace presets {

// `bundle` is a .vst3 bundle folder (Linux layout) or the .so inside it;
// `className` the class name the factory lists.
bool ReadVst3ClassId(const std::string& bundle, const std::string& className, std::string& classId,
                     std::string& error);

struct Vst2Identity {
  int32_t uniqueId = 0;
  int32_t version = 0;
  int32_t paramCount = 0;
  int32_t flags = 0;
};

bool ReadVst2Identity(const std::string& module, Vst2Identity& identity, std::string& error);

}  // namespace presets
