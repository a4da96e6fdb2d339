#include "jet/rc4.h"

#include <utility>

namespace jet {

Rc4::Rc4(ByteView key) {
  for (int i = 0; i < 256; ++i) s_[i] = static_cast<uint8_t>(i);
  if (key.empty()) return;
  uint8_t j = 0;
  for (size_t i = 0; i < 256; ++i) {
    j = static_cast<uint8_t>(j + s_[i] + key[i % key.size()]);
    std::swap(s_[i], s_[j]);
  }
}

void Rc4::Apply(std::span<uint8_t> data) {
  uint8_t i = i_, j = j_;
  for (uint8_t& b : data) {
    i = static_cast<uint8_t>(i + 1);
    j = static_cast<uint8_t>(j + s_[i]);
    std::swap(s_[i], s_[j]);
    b ^= s_[static_cast<uint8_t>(s_[i] + s_[j])];
  }
  i_ = i;
  j_ = j;
}

}  // namespace jet
