// The VST2 program file (.fxp), big-endian throughout:
//
//   offset 0   "CcnK"          file tag
//          4   int32           byte count of everything after this field
//          8   "FPCh" | "FxCk" opaque program chunk | parameter values
//         12   int32           format version, 1
//         16   int32           the plug-in's unique ID (AEffect::uniqueID)
//         20   int32           the plug-in's version (AEffect::version)
//         24   int32           number of parameters
//         28   char[28]        program name, zero-terminated
//         56   "FPCh": int32 chunk size, then the chunk (what effGetChunk
//              with index 1 handed out, restored with effSetChunk index 1)
//              "FxCk": one float per parameter, normalized 0..1
#pragma once

#include <string>

#include "ByteOrder.h"

namespace presetfiles {

constexpr size_t kFxpNameSize = 28;  // including the terminating zero

struct FxpProgram {
  bool opaqueChunk = true;   // "FPCh"; false for "FxCk"
  int32_t pluginId = 0;
  int32_t pluginVersion = 0;
  int32_t paramCount = 0;
  std::string name;          // at most 27 bytes are stored
  Bytes chunk;               // "FPCh"
  std::vector<float> values; // "FxCk", paramCount values
};

// The file image; false (with `error`) for a name longer than 27 bytes or,
// for "FxCk", a value count that differs from paramCount.
bool WriteFxp(const FxpProgram& program, Bytes& file, std::string& error);

// Reads a file image; refuses (false, `error`) anything that is not a
// complete program file: wrong tags, a byte count that disagrees with the
// file, a chunk or value list running past the end, a negative count.
bool ReadFxp(const Bytes& file, FxpProgram& program, std::string& error);

}  // namespace presetfiles
