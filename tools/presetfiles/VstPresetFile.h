// The VST3 preset file (.vstpreset), as VST3 hosts write and read it:
//
//   offset 0   "VST3"                    file tag
//          4   int32 LE                  format version, 1
//          8   32 ASCII characters       class ID of the processor (hex)
//         40   int64 LE                  offset of the chunk list
//         48   chunk data ...
//   list       "List", int32 LE count, then per chunk: 4-character ID,
//              int64 LE offset, int64 LE size
//
// Chunks used here: "Comp" (what IComponent::getState wrote) and "Cont"
// (what IEditController::getState wrote). A host restores a preset by
// handing "Comp" to IComponent::setState and IEditController::
// setComponentState, then "Cont", when present, to IEditController::setState.
#pragma once

#include <string>

#include "ByteOrder.h"

namespace presetfiles {

struct VstPreset {
  std::string classId;     // 32 hexadecimal characters
  Bytes componentState;    // "Comp"
  Bytes controllerState;   // "Cont"
  bool hasControllerState = false;
};

constexpr size_t kVstPresetClassIdSize = 32;

// The file image; false (with `error`) when the class ID is not 32
// characters.
bool WriteVstPreset(const VstPreset& preset, Bytes& file, std::string& error);

// Reads a file image. Refuses (false, `error` says why) a file that is not a
// .vstpreset, whose chunk list or any chunk lies outside the file, that lacks
// the "Comp" chunk, or that holds a chunk twice. Unknown chunks are skipped.
bool ReadVstPreset(const Bytes& file, VstPreset& preset, std::string& error);

// The class ID text of a 16-byte class identifier in the order the VST3
// interfaces hand it to a host on Linux (hexadecimal, upper case).
std::string ClassIdText(const uint8_t (&cid)[16]);

}  // namespace presetfiles
