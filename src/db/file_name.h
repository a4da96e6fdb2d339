// File names between the program and std::filesystem. Inside the program a
// path is UTF-8 text in a std::string; the operating system wants UTF-16 on
// Windows, and there std::filesystem's own std::string conversions use the
// ANSI code page, which mangles any accented name ("Peña" would become
// "PeÃ±a"). Every name that becomes a std::filesystem::path, and every path
// that comes back as text, passes through this pair.
#pragma once

#include <filesystem>
#include <string>

namespace maquetor::db {

// The UTF-8 name as a path. The caller guarantees valid UTF-8.
inline std::filesystem::path FsPath(const std::string& utf8) {
  return std::filesystem::path(std::u8string(utf8.begin(), utf8.end()));
}

// The path as UTF-8 text.
inline std::string Utf8Name(const std::filesystem::path& path) {
  const std::u8string text = path.u8string();
  return std::string(text.begin(), text.end());
}

}  // namespace maquetor::db
