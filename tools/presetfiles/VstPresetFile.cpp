#include "VstPresetFile.h"

#include <cstdio>

namespace presetfiles {
namespace {

constexpr char kVstPresetTag[4] = {'V', 'S', 'T', '3'};
constexpr char kListTag[4] = {'L', 'i', 's', 't'};
constexpr char kComponentTag[4] = {'C', 'o', 'm', 'p'};
constexpr char kControllerTag[4] = {'C', 'o', 'n', 't'};
constexpr int32_t kVstPresetVersion = 1;
constexpr size_t kVstPresetHeaderSize = 4 + 4 + kVstPresetClassIdSize + 8;
constexpr size_t kListEntrySize = 4 + 8 + 8;

bool IsHexDigit(char c) {
  return (c >= '0' && c <= '9') || (c >= 'A' && c <= 'F') || (c >= 'a' && c <= 'f');
}

bool ValidClassId(const std::string& text) {
  if (text.size() != kVstPresetClassIdSize) return false;
  for (char c : text) {
    if (!IsHexDigit(c)) return false;
  }
  return true;
}

}  // namespace

std::string ClassIdText(const uint8_t (&cid)[16]) {
  std::string text;
  char digits[3];
  for (uint8_t byte : cid) {
    snprintf(digits, sizeof(digits), "%02X", byte);
    text += digits;
  }
  return text;
}

bool WriteVstPreset(const VstPreset& preset, Bytes& file, std::string& error) {
  if (!ValidClassId(preset.classId)) {
    error = "the class ID must be 32 hexadecimal characters";
    return false;
  }
  file.clear();
  AppendTag(file, kVstPresetTag);
  AppendLe32(file, kVstPresetVersion);
  file.insert(file.end(), preset.classId.begin(), preset.classId.end());
  AppendLe64(file, 0);  // list offset, filled in below

  struct Entry {
    const char* tag;
    int64_t offset, size;
  };
  std::vector<Entry> entries;
  auto addChunk = [&](const char* tag, const Bytes& bytes) {
    entries.push_back({tag, static_cast<int64_t>(file.size()), static_cast<int64_t>(bytes.size())});
    file.insert(file.end(), bytes.begin(), bytes.end());
  };
  addChunk(kComponentTag, preset.componentState);
  if (preset.hasControllerState) addChunk(kControllerTag, preset.controllerState);

  PutLe64(file, kVstPresetHeaderSize - 8, static_cast<int64_t>(file.size()));
  AppendTag(file, kListTag);
  AppendLe32(file, static_cast<int32_t>(entries.size()));
  for (const Entry& entry : entries) {
    AppendTag(file, entry.tag);
    AppendLe64(file, entry.offset);
    AppendLe64(file, entry.size);
  }
  return true;
}

bool ReadVstPreset(const Bytes& file, VstPreset& preset, std::string& error) {
  int32_t version = 0;
  int64_t listOffset = 0;
  if (file.size() < kVstPresetHeaderSize || !HasTag(file, 0, kVstPresetTag)) {
    error = "not a VST3 preset file";
    return false;
  }
  ReadLe32(file, 4, version);
  ReadLe64(file, kVstPresetHeaderSize - 8, listOffset);
  VstPreset result;
  result.classId.assign(file.begin() + 8, file.begin() + 8 + kVstPresetClassIdSize);
  if (version < 1 || !ValidClassId(result.classId)) {
    error = "damaged VST3 preset file header";
    return false;
  }
  int32_t count = 0;
  if (listOffset < static_cast<int64_t>(kVstPresetHeaderSize) || static_cast<uint64_t>(listOffset) > file.size() ||
      !HasTag(file, static_cast<size_t>(listOffset), kListTag) ||
      !ReadLe32(file, static_cast<size_t>(listOffset) + 4, count) || count < 0 ||
      static_cast<uint64_t>(count) > (file.size() - static_cast<size_t>(listOffset) - 8) / kListEntrySize) {
    error = "VST3 preset file without a readable chunk list";
    return false;
  }
  bool haveComponent = false;
  for (int32_t i = 0; i < count; ++i) {
    const size_t at = static_cast<size_t>(listOffset) + 8 + static_cast<size_t>(i) * kListEntrySize;
    int64_t offset = 0, size = 0;
    ReadLe64(file, at + 4, offset);
    ReadLe64(file, at + 12, size);
    // Chunks lie between the header and the list.
    if (offset < static_cast<int64_t>(kVstPresetHeaderSize) || size < 0 || offset > listOffset ||
        size > listOffset - offset) {
      error = "VST3 preset file with a chunk outside the file";
      return false;
    }
    const auto first = file.begin() + offset;
    Bytes* target = nullptr;
    if (HasTag(file, at, kComponentTag)) {
      if (haveComponent) {
        error = "VST3 preset file with two component states";
        return false;
      }
      target = &result.componentState;
      haveComponent = true;
    } else if (HasTag(file, at, kControllerTag)) {
      if (result.hasControllerState) {
        error = "VST3 preset file with two controller states";
        return false;
      }
      target = &result.controllerState;
      result.hasControllerState = true;
    }
    if (target) target->assign(first, first + size);
  }
  if (!haveComponent) {
    error = "VST3 preset file without a component state";
    return false;
  }
  preset = std::move(result);
  return true;
}

}  // namespace presetfiles
