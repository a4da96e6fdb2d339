// RC4, the stream cipher Jet uses twice: to mask the header block of page 0
// with a fixed key, and to encrypt every other page with a per-page key.
// Encrypting and decrypting are the same XOR with the keystream.
#pragma once

#include <cstdint>
#include <span>

#include "jet/bytes.h"

namespace jet {

class Rc4 {
 public:
  // `key` must be 1..256 bytes.
  explicit Rc4(ByteView key);
  // XORs the next data.size() keystream bytes into `data`.
  void Apply(std::span<uint8_t> data);

 private:
  uint8_t s_[256];
  uint8_t i_ = 0;
  uint8_t j_ = 0;
};

// One-shot: XOR `data` with the keystream of `key`.
inline void Rc4Xor(ByteView key, std::span<uint8_t> data) { Rc4(key).Apply(data); }

// The 4-byte little-endian key of a 32-bit value, as page encryption uses it
// (database key XOR page number).
inline void Rc4XorWithKey32(uint32_t key, std::span<uint8_t> data) {
  const uint8_t k[4] = {static_cast<uint8_t>(key), static_cast<uint8_t>(key >> 8),
                        static_cast<uint8_t>(key >> 16), static_cast<uint8_t>(key >> 24)};
  Rc4Xor(ByteView(k, 4), data);
}

}  // namespace jet
