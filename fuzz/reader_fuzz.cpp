// libFuzzer target: any byte string opened as a database must be read or
// refused with a JetError, never crash, hang or exhaust memory.
#include <cstddef>
#include <cstdint>

#include "read_all.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  ReadWholeDatabase(data, size);
  return 0;
}
