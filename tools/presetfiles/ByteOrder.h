// Fixed-width integers at byte offsets of a file image, in the byte order
// each preset format prescribes. Reads are bounds-checked: false when the
// value does not lie entirely inside the data.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace presetfiles {

using Bytes = std::vector<uint8_t>;

bool ReadLe32(const Bytes& data, size_t offset, int32_t& value);
bool ReadLe64(const Bytes& data, size_t offset, int64_t& value);
bool ReadBe32(const Bytes& data, size_t offset, int32_t& value);

void AppendLe32(Bytes& data, int32_t value);
void AppendLe64(Bytes& data, int64_t value);
void AppendBe32(Bytes& data, int32_t value);
void PutLe64(Bytes& data, size_t offset, int64_t value);  // offset + 8 <= size

// Four characters as the formats store them: the characters in file order.
bool HasTag(const Bytes& data, size_t offset, const char tag[4]);
void AppendTag(Bytes& data, const char tag[4]);

}  // namespace presetfiles
