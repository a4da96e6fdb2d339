// libFuzzer target: the salvaging reader over any byte string must recover
// what it can without a crash, a hang or an exception.
#include <cstddef>
#include <cstdint>

#include "read_all.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  SalvageWholeDatabase(data, size);
  return 0;
}
