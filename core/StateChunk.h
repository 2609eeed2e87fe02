// StateChunk: a growable byte buffer carrying all saved state.
//
// Values are stored as their raw little-endian bytes. Every read is
// bounds-checked against the current size: a read returns the position after
// the value, or -1 when the data runs out (the target is then untouched).
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <type_traits>
#include <vector>

class StateChunk {
 public:
  static constexpr size_t kGrowthStep = 4096;

  template <typename T>
  int Put(const T& v) {
    static_assert(std::is_trivially_copyable<T>::value, "raw values only");
    return PutBytes(&v, sizeof(T));
  }

  template <typename T>
  int Get(T* v, int position) const {
    static_assert(std::is_trivially_copyable<T>::value, "raw values only");
    if (!v || !HasBytes(position, sizeof(T))) return -1;
    memcpy(v, data_.data() + position, sizeof(T));
    return position + static_cast<int>(sizeof(T));
  }

  int PutBool(bool b) { uint8_t byte = b ? 1 : 0; return PutBytes(&byte, 1); }
  // Appends a 32-bit length followed by the bytes, without terminator.
  int PutString(const char* text);
  // Reads a text written by PutString into `out` (of `outSize` bytes, cut to
  // fit and terminated). Returns the position after it, or -1 when the length
  // field or the text is missing, or the length is negative; `out` is then
  // untouched.
  int GetString(char* out, size_t outSize, int position) const;

  int PutBytes(const void* bytes, size_t count);
  int PutChunk(const StateChunk& other) { return PutBytes(other.Data(), other.Size()); }

  // Replaces the contents with a copy of `bytes`.
  bool Assign(const void* bytes, size_t count);
  void Clear();
  // Sets the size, growing with zero bytes or cutting; false when the size
  // cannot be represented.
  bool Resize(size_t size);

  int Size() const { return static_cast<int>(size_); }
  size_t Room() const { return data_.size(); }
  const uint8_t* Data() const { return data_.data(); }
  uint8_t* Data() { return data_.data(); }

  // True when `count` bytes can be read at `position`.
  bool HasBytes(int position, size_t count) const {
    return position >= 0 && static_cast<size_t>(position) <= size_ &&
           count <= size_ - static_cast<size_t>(position);
  }

  // Largest size a chunk may reach; keeps every position a valid int.
  static constexpr size_t kMaxSize = 0x7FFFFFFF - 2 * 4096 * 1024;

 private:
  bool Reserve(size_t newSize);
  std::vector<uint8_t> data_;
  size_t size_ = 0;
};
