#include "support/raw_pages.h"

#include <fstream>
#include <iterator>

#include "jet/error.h"

namespace testing_support {

const jet::Bytes& RawPages::Page(uint32_t n) const {
  if (n >= pages.size()) throw jet::JetError(jet::kErrCorrupt);
  return pages[n];
}

RawPages ReadRawPages(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  const jet::Bytes all((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  RawPages raw;
  raw.format = all.size() > 0x14 && all[0x14] == 0 ? &jet::Jet3Format() : &jet::Jet4Format();
  const size_t size = raw.format->page_size;
  for (size_t at = 0; at + size <= all.size(); at += size)
    raw.pages.emplace_back(all.begin() + static_cast<std::ptrdiff_t>(at),
                           all.begin() + static_cast<std::ptrdiff_t>(at + size));
  return raw;
}

}  // namespace testing_support
