// Shared by the fuzz targets: reading a fuzz input as a little header of
// fixed fields followed by free bytes, and stopping hard when an invariant
// breaks. Fields are read from the front, little-endian; a field past the end
// of the input reads as zero, so every input is usable.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <vector>

namespace fuzz {

class Input {
 public:
  Input(const std::uint8_t *data, std::size_t size) : data_(data), size_(size) {}

  std::uint8_t U8() { return position_ < size_ ? data_[position_++] : 0; }
  std::uint16_t U16() {
    const std::uint16_t low = U8();
    return static_cast<std::uint16_t>(low | (U8() << 8));
  }
  std::uint32_t U32() {
    const std::uint32_t low = U16();
    return low | (static_cast<std::uint32_t>(U16()) << 16);
  }
  // Everything not read yet.
  std::vector<std::uint8_t> Rest() {
    std::vector<std::uint8_t> rest(data_ + position_, data_ + size_);
    position_ = size_;
    return rest;
  }

 private:
  const std::uint8_t *data_;
  std::size_t size_;
  std::size_t position_ = 0;
};

// An invariant of the unit under test: a violation is a crash for libFuzzer,
// which keeps the input that caused it.
inline void Check(bool holds, const char *invariant) {
  if (holds) return;
  std::fprintf(stderr, "invariant violated: %s\n", invariant);
  std::abort();
}

}  // namespace fuzz
