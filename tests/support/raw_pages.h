// A database file's pages as its bytes hold them, read straight from disk
// with no pager, decryption or checks: for tests that look at every page of
// a file written by other software. The caller names a file that exists.
#pragma once

#include <filesystem>
#include <vector>

#include "jet/bytes.h"
#include "jet/format.h"

namespace testing_support {

struct RawPages {
  const jet::Format* format = nullptr;  // from the version byte at 0x14
  std::vector<jet::Bytes> pages;        // whole pages only

  // Page n; JetError 3049 past the end, as a pager would say.
  const jet::Bytes& Page(uint32_t n) const;
};

RawPages ReadRawPages(const std::filesystem::path& path);

}  // namespace testing_support
