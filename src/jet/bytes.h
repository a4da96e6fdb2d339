// Little-endian reads and writes on byte buffers, bounds-checked: a read past
// the end of a page means the file is damaged, which the engine reports as
// error 3049 instead of reading outside the buffer.
#pragma once

#include <cstdint>
#include <cstring>
#include <span>
#include <vector>

#include "jet/error.h"

namespace jet {

using Bytes = std::vector<uint8_t>;
using ByteView = std::span<const uint8_t>;

inline void CheckRange(ByteView b, size_t off, size_t n) {
  if (off > b.size() || n > b.size() - off) throw JetError(kErrCorrupt);
}

inline uint8_t Get8(ByteView b, size_t off) {
  CheckRange(b, off, 1);
  return b[off];
}
inline uint16_t Get16(ByteView b, size_t off) {
  CheckRange(b, off, 2);
  return static_cast<uint16_t>(b[off] | (b[off + 1] << 8));
}
inline uint32_t Get24(ByteView b, size_t off) {
  CheckRange(b, off, 3);
  return b[off] | (b[off + 1] << 8) | (uint32_t{b[off + 2]} << 16);
}
inline uint32_t Get32(ByteView b, size_t off) {
  CheckRange(b, off, 4);
  return b[off] | (b[off + 1] << 8) | (uint32_t{b[off + 2]} << 16) |
         (uint32_t{b[off + 3]} << 24);
}
inline uint64_t Get64(ByteView b, size_t off) {
  return Get32(b, off) | (uint64_t{Get32(b, off + 4)} << 32);
}

inline void Put8(std::span<uint8_t> b, size_t off, uint8_t v) {
  CheckRange(b, off, 1);
  b[off] = v;
}
inline void Put16(std::span<uint8_t> b, size_t off, uint16_t v) {
  CheckRange(b, off, 2);
  b[off] = static_cast<uint8_t>(v);
  b[off + 1] = static_cast<uint8_t>(v >> 8);
}
inline void Put24(std::span<uint8_t> b, size_t off, uint32_t v) {
  CheckRange(b, off, 3);
  b[off] = static_cast<uint8_t>(v);
  b[off + 1] = static_cast<uint8_t>(v >> 8);
  b[off + 2] = static_cast<uint8_t>(v >> 16);
}
inline void Put32(std::span<uint8_t> b, size_t off, uint32_t v) {
  CheckRange(b, off, 4);
  for (int i = 0; i < 4; ++i) b[off + i] = static_cast<uint8_t>(v >> (8 * i));
}
inline void Put64(std::span<uint8_t> b, size_t off, uint64_t v) {
  Put32(b, off, static_cast<uint32_t>(v));
  Put32(b, off + 4, static_cast<uint32_t>(v >> 32));
}

// Appending writers for building variable-length structures.
inline void Append8(Bytes& b, uint8_t v) { b.push_back(v); }
inline void Append16(Bytes& b, uint16_t v) {
  b.push_back(static_cast<uint8_t>(v));
  b.push_back(static_cast<uint8_t>(v >> 8));
}
inline void Append32(Bytes& b, uint32_t v) {
  for (int i = 0; i < 4; ++i) b.push_back(static_cast<uint8_t>(v >> (8 * i)));
}
inline void Append64(Bytes& b, uint64_t v) {
  Append32(b, static_cast<uint32_t>(v));
  Append32(b, static_cast<uint32_t>(v >> 32));
}
inline void AppendBytes(Bytes& b, ByteView v) { b.insert(b.end(), v.begin(), v.end()); }

inline double BitsToDouble(uint64_t bits) {
  double d;
  std::memcpy(&d, &bits, sizeof d);
  return d;
}
inline uint64_t DoubleToBits(double d) {
  uint64_t bits;
  std::memcpy(&bits, &d, sizeof bits);
  return bits;
}

// A row pointer as stored in definitions and indexes: page number in the high
// 24 bits, row number on that page in the low 8.
struct RowId {
  uint32_t page = 0;
  uint8_t row = 0;
  static RowId FromPacked(uint32_t v) { return {v >> 8, static_cast<uint8_t>(v & 0xff)}; }
  uint32_t Packed() const { return (page << 8) | row; }
  bool operator==(const RowId&) const = default;
};

}  // namespace jet
