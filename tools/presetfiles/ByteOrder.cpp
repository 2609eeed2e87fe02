#include "ByteOrder.h"

#include <cstring>

namespace presetfiles {
namespace {

bool Fits(const Bytes& data, size_t offset, size_t count) {
  return offset <= data.size() && count <= data.size() - offset;
}

uint64_t ReadLittle(const Bytes& data, size_t offset, size_t count) {
  uint64_t value = 0;
  for (size_t i = 0; i < count; ++i) value |= static_cast<uint64_t>(data[offset + i]) << (8 * i);
  return value;
}

void AppendLittle(Bytes& data, uint64_t value, size_t count) {
  for (size_t i = 0; i < count; ++i) data.push_back(static_cast<uint8_t>(value >> (8 * i)));
}

}  // namespace

bool ReadLe32(const Bytes& data, size_t offset, int32_t& value) {
  if (!Fits(data, offset, 4)) return false;
  value = static_cast<int32_t>(static_cast<uint32_t>(ReadLittle(data, offset, 4)));
  return true;
}

bool ReadLe64(const Bytes& data, size_t offset, int64_t& value) {
  if (!Fits(data, offset, 8)) return false;
  value = static_cast<int64_t>(ReadLittle(data, offset, 8));
  return true;
}

bool ReadBe32(const Bytes& data, size_t offset, int32_t& value) {
  if (!Fits(data, offset, 4)) return false;
  uint32_t v = 0;
  for (size_t i = 0; i < 4; ++i) v = (v << 8) | data[offset + i];
  value = static_cast<int32_t>(v);
  return true;
}

void AppendLe32(Bytes& data, int32_t value) { AppendLittle(data, static_cast<uint32_t>(value), 4); }
void AppendLe64(Bytes& data, int64_t value) { AppendLittle(data, static_cast<uint64_t>(value), 8); }

void AppendBe32(Bytes& data, int32_t value) {
  const uint32_t v = static_cast<uint32_t>(value);
  for (int shift = 24; shift >= 0; shift -= 8) data.push_back(static_cast<uint8_t>(v >> shift));
}

void PutLe64(Bytes& data, size_t offset, int64_t value) {
  for (size_t i = 0; i < 8; ++i) data[offset + i] = static_cast<uint8_t>(static_cast<uint64_t>(value) >> (8 * i));
}

bool HasTag(const Bytes& data, size_t offset, const char tag[4]) {
  return Fits(data, offset, 4) && memcmp(data.data() + offset, tag, 4) == 0;
}

void AppendTag(Bytes& data, const char tag[4]) { data.insert(data.end(), tag, tag + 4); }

}  // namespace presetfiles
