#include "FxpFile.h"

#include <cstring>

namespace presetfiles {
namespace {

constexpr char kFileTag[4] = {'C', 'c', 'n', 'K'};
constexpr char kChunkTag[4] = {'F', 'P', 'C', 'h'};
constexpr char kValuesTag[4] = {'F', 'x', 'C', 'k'};
constexpr int32_t kFormatVersion = 1;
constexpr size_t kHeaderSize = 28 + kFxpNameSize;

}  // namespace

bool WriteFxp(const FxpProgram& program, Bytes& file, std::string& error) {
  if (program.name.size() >= kFxpNameSize) {
    error = "program name longer than " + std::to_string(kFxpNameSize - 1) + " bytes";
    return false;
  }
  if (!program.opaqueChunk && program.values.size() != static_cast<size_t>(program.paramCount)) {
    error = "parameter value count differs from the parameter count";
    return false;
  }
  file.clear();
  AppendTag(file, kFileTag);
  AppendBe32(file, 0);  // byte count, filled in below
  AppendTag(file, program.opaqueChunk ? kChunkTag : kValuesTag);
  AppendBe32(file, kFormatVersion);
  AppendBe32(file, program.pluginId);
  AppendBe32(file, program.pluginVersion);
  AppendBe32(file, program.paramCount);
  char name[kFxpNameSize] = {};
  memcpy(name, program.name.data(), program.name.size());
  file.insert(file.end(), name, name + kFxpNameSize);
  if (program.opaqueChunk) {
    AppendBe32(file, static_cast<int32_t>(program.chunk.size()));
    file.insert(file.end(), program.chunk.begin(), program.chunk.end());
  } else {
    for (float value : program.values) {
      int32_t bits = 0;
      memcpy(&bits, &value, sizeof(bits));
      AppendBe32(file, bits);
    }
  }
  const uint32_t count = static_cast<uint32_t>(file.size() - 8);
  for (int i = 0; i < 4; ++i) file[4 + static_cast<size_t>(i)] = static_cast<uint8_t>(count >> (24 - 8 * i));
  return true;
}

bool ReadFxp(const Bytes& file, FxpProgram& program, std::string& error) {
  int32_t byteCount = 0, version = 0;
  if (file.size() < kHeaderSize || !HasTag(file, 0, kFileTag)) {
    error = "not a VST2 program file";
    return false;
  }
  ReadBe32(file, 4, byteCount);
  FxpProgram result;
  if (HasTag(file, 8, kChunkTag)) {
    result.opaqueChunk = true;
  } else if (HasTag(file, 8, kValuesTag)) {
    result.opaqueChunk = false;
  } else {
    error = "VST2 file that is not a single program (a bank, or damaged)";
    return false;
  }
  ReadBe32(file, 12, version);
  ReadBe32(file, 16, result.pluginId);
  ReadBe32(file, 20, result.pluginVersion);
  ReadBe32(file, 24, result.paramCount);
  if (byteCount < 0 || static_cast<uint64_t>(byteCount) + 8 > file.size() || version < 1 ||
      result.paramCount < 0) {
    error = "damaged VST2 program file header";
    return false;
  }
  const Bytes body(file.begin(), file.begin() + 8 + byteCount);  // ignore anything after
  const char* name = reinterpret_cast<const char*>(body.data() + 28);
  result.name.assign(name, strnlen(name, kFxpNameSize));
  if (result.opaqueChunk) {
    int32_t size = 0;
    if (!ReadBe32(body, kHeaderSize, size) || size < 0 ||
        static_cast<uint64_t>(size) > body.size() - kHeaderSize - 4) {
      error = "VST2 program file whose chunk runs past the end";
      return false;
    }
    result.chunk.assign(body.begin() + kHeaderSize + 4, body.begin() + kHeaderSize + 4 + size);
  } else {
    if (static_cast<uint64_t>(result.paramCount) > (body.size() - kHeaderSize) / 4) {
      error = "VST2 program file whose values run past the end";
      return false;
    }
    for (int32_t i = 0; i < result.paramCount; ++i) {
      int32_t bits = 0;
      ReadBe32(body, kHeaderSize + 4 * static_cast<size_t>(i), bits);
      float value = 0;
      memcpy(&value, &bits, sizeof(value));
      result.values.push_back(value);
    }
  }
  program = std::move(result);
  return true;
}

}  // namespace presetfiles
