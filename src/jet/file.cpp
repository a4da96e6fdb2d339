// What the file layer does the same way on every system: the generic copy,
// the choice of file system, and names taken apart and joined (through
// std::filesystem, in UTF-8 both ways: its narrow strings are the ANSI code
// page on Windows).
#include <algorithm>
#include <atomic>
#include <filesystem>
#include <vector>

#include "jet/file.h"

namespace jet {

namespace {

std::atomic<FileSystem*> installed{nullptr};

std::filesystem::path Path(const std::string& utf8) {
  return std::filesystem::path(std::u8string(utf8.begin(), utf8.end()));
}

std::string Utf8(const std::filesystem::path& p) {
  const std::u8string s = p.u8string();
  return std::string(s.begin(), s.end());
}

}  // namespace

void File::CopyFrom(File& source) { CopyRangeFrom(source, 0, source.Size()); }

void File::CopyRangeFrom(File& source, uint64_t offset, uint64_t length) {
  constexpr size_t kChunk = size_t{1} << 20;
  std::vector<uint8_t> buffer(static_cast<size_t>(std::min<uint64_t>(kChunk, length)));
  const uint64_t size = offset + length;
  for (uint64_t at = offset; at < size;) {
    const IoBuffer in{buffer.data(), static_cast<size_t>(std::min<uint64_t>(kChunk, size - at))};
    const size_t got = source.ReadAt(at, {&in, 1});
    if (got == 0) break;
    const IoBuffer out{buffer.data(), got};
    WriteAt(at, {&out, 1});
    at += got;
  }
}

FileSystem& CurrentFileSystem() {
  FileSystem* fs = installed.load(std::memory_order_acquire);
  return fs ? *fs : SystemFileSystem();
}

void SetFileSystemForTesting(FileSystem* fs) { installed.store(fs, std::memory_order_release); }

std::vector<std::string> FolderEntries(const std::string& folder) {
  std::vector<std::string> names;
  std::error_code ec;
  std::filesystem::directory_iterator it(Path(folder), ec), end;
  for (; !ec && it != end; it.increment(ec)) names.push_back(Utf8(it->path().filename()));
  return names;
}

std::string FolderOf(const std::string& path) {
  const std::filesystem::path p = Path(path);
  return p.has_parent_path() ? Utf8(p.parent_path()) : ".";
}

std::string NameOf(const std::string& path) { return Utf8(Path(path).filename()); }

std::string JoinPath(const std::string& folder, const std::string& name) {
  return Utf8(Path(folder) / Path(name));
}

}  // namespace jet
