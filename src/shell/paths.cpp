#include "shell/paths.h"

#include <filesystem>
#include <system_error>

#include "db/file_name.h"

namespace maquetor::shell {
namespace fs = std::filesystem;

std::string JoinPath(const std::string& folder, const std::string& name) {
  return folder + kSeparator + name;
}

std::string LastComponent(const std::string& path) {
  const auto at = path.find_last_of(kSeparator);
  return at == std::string::npos ? path : path.substr(at + 1);
}

std::string ParentOf(const std::string& path) {
  const auto at = path.find_last_of(kSeparator);
  return at == std::string::npos ? std::string() : path.substr(0, at);
}

std::string UpperCase(const std::string& text) {
  std::string out = text;
  for (size_t i = 0; i < out.size(); ++i) {
    const auto c = static_cast<unsigned char>(out[i]);
    if (c >= 'a' && c <= 'z') {
      out[i] = static_cast<char>(c - 'a' + 'A');
    } else if (c == 0xC3 && i + 1 < out.size()) {
      // U+00E0..U+00FE (but not U+00F7, the division sign) are the lower-case
      // Latin-1 letters; their capitals are 0x20 lower.
      const auto d = static_cast<unsigned char>(out[i + 1]);
      if (d >= 0xA0 && d <= 0xBE && d != 0xB7) out[i + 1] = static_cast<char>(d - 0x20);
      ++i;
    }
  }
  return out;
}

namespace {

// The entry of `folder` whose name is `name` in upper case, or empty.
std::string FindEntry(const std::string& folder, const std::string& name, Listing listing) {
  std::error_code ec;
  const fs::path dir = db::FsPath(folder.empty() ? std::string(".") : folder);
  // An exact match needs no listing.
  const fs::path exact = dir / db::FsPath(name);
  auto status = fs::status(exact, ec);
  if (!ec && fs::exists(status) &&
      (listing == Listing::kWithDirectories || !fs::is_directory(status))) {
    return name;
  }
  const std::string wanted = UpperCase(name);
  for (fs::directory_iterator it(dir, ec), end; !ec && it != end; it.increment(ec)) {
    const std::string entry = db::Utf8Name(it->path().filename());
    if (UpperCase(entry) != wanted) continue;
    std::error_code type_ec;
    if (listing == Listing::kFilesOnly && it->is_directory(type_ec)) continue;
    return entry;
  }
  return {};
}

}  // namespace

bool ExistsAsListed(const std::string& path, Listing listing) {
  const std::string name = LastComponent(path);
  if (name.empty()) return false;
  const auto at = path.find_last_of(kSeparator);
  // The folder keeps its separator: "C:" alone would be drive C's current
  // folder, not its root.
  const std::string folder = at == std::string::npos ? std::string(".") : path.substr(0, at + 1);
  return !FindEntry(ResolveCase(folder), name, listing).empty();
}

std::string ResolveCase(const std::string& path) {
#ifdef _WIN32
  return path;  // the file system itself ignores case
#else
  if (path.empty()) return path;
  std::string resolved;
  size_t start = 0;
  if (path[0] == kSeparator) {
    resolved.assign(1, kSeparator);
    start = 1;
  }
  bool missing = false;
  while (start <= path.size()) {
    auto end = path.find(kSeparator, start);
    if (end == std::string::npos) end = path.size();
    std::string part = path.substr(start, end - start);
    if (!part.empty() && part != "." && part != ".." && !missing) {
      const std::string found =
          FindEntry(resolved.empty() ? "." : resolved, part, Listing::kWithDirectories);
      if (found.empty()) {
        missing = true;
      } else {
        part = found;
      }
    }
    if (!resolved.empty() && resolved.back() != kSeparator) resolved += kSeparator;
    resolved += part;
    start = end + 1;
  }
  return resolved;
#endif
}

}  // namespace maquetor::shell
