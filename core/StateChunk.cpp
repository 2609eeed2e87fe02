#include "StateChunk.h"

#include <algorithm>

namespace {
constexpr size_t kMaxExtraRoom = 4u * 1024u * 1024u;
constexpr size_t kRoomRoundingBias = 96;  // total room + 96 is a multiple of the step
}

bool StateChunk::Reserve(size_t newSize) {
  if (newSize > kMaxSize) return false;
  if (newSize <= data_.size()) return true;
  // Grow to the new size plus the larger of the growth step and half the new
  // size, rounded so that room + 96 is a multiple of the step, with at most
  // 4 MiB of extra room.
  size_t extra = std::min(std::max(kGrowthStep, newSize / 2), kMaxExtraRoom);
  size_t room = newSize + extra;
  room = (room + kRoomRoundingBias + kGrowthStep - 1) / kGrowthStep * kGrowthStep -
         kRoomRoundingBias;
  if (room < newSize) room = newSize;
  data_.resize(room);
  return true;
}

int StateChunk::PutBytes(const void* bytes, size_t count) {
  if (count > kMaxSize - size_ || !Reserve(size_ + count)) return -1;
  if (count) memcpy(data_.data() + size_, bytes, count);
  size_ += count;
  return static_cast<int>(size_);
}

int StateChunk::PutString(const char* text) {
  if (!text) text = "";
  size_t len = strlen(text);
  if (len > kMaxSize) return -1;
  int32_t len32 = static_cast<int32_t>(len);
  if (Put(len32) < 0) return -1;
  return PutBytes(text, len);
}

int StateChunk::GetString(char* out, size_t outSize, int position) const {
  int32_t len = 0;
  int pos = Get(&len, position);
  if (pos < 0 || len < 0 || !HasBytes(pos, static_cast<size_t>(len))) return -1;
  if (out && outSize > 0) {
    const uint8_t* start = data_.data() + pos;
    size_t n = std::min(static_cast<size_t>(len), outSize - 1);
    const void* zero = memchr(start, 0, n);
    if (zero) n = static_cast<size_t>(static_cast<const uint8_t*>(zero) - start);
    memcpy(out, start, n);
    out[n] = '\0';
  }
  return pos + len;
}

bool StateChunk::Assign(const void* bytes, size_t count) {
  if (count > kMaxSize || (count && !bytes)) return false;
  // Hosts hand a chunk's own bytes back (to copy or reset a preset): copy
  // them out before the buffer they live in is released.
  const auto* source = static_cast<const uint8_t*>(bytes);
  const uint8_t* own = data_.data();
  if (count && own && source >= own && source < own + data_.size()) {
    if (count > static_cast<size_t>(own + data_.size() - source)) return false;
    std::vector<uint8_t> copy(source, source + count);
    Clear();
    return PutBytes(copy.data(), copy.size()) >= 0;
  }
  Clear();
  return PutBytes(bytes, count) >= 0;
}

void StateChunk::Clear() {
  size_ = 0;
  data_.clear();
  data_.shrink_to_fit();
}

bool StateChunk::Resize(size_t size) {
  if (size > kMaxSize) return false;
  if (size > size_) {
    if (!Reserve(size)) return false;
    memset(data_.data() + size_, 0, size - size_);
  } else if (size < data_.size() / 2) {
    // Asked to shrink below half the room: give the memory back.
    std::vector<uint8_t> smaller(data_.begin(), data_.begin() + size);
    data_.swap(smaller);
  }
  size_ = size;
  return true;
}
