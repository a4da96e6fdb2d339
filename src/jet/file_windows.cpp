// The file layer on Windows. Every path goes to the wide (W) calls,
// converted from UTF-8 here. Share modes keep other programs' writers out
// while a handle writes (see FileAccess), and every handle shares delete
// access, so that a file still open may be renamed; byte locks are
// LockFileEx locks, which belong to the handle that took them. A rename is
// MoveFileExW with MOVEFILE_WRITE_THROUGH, which returns once the new name
// is on disk: there is no folder to sync.
#include "jet/file.h"

#include <algorithm>
#include <map>

#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>

#include "jet/error.h"

namespace jet {

namespace {

// The most one ReadFile or WriteFile is asked to move.
constexpr size_t kMaxIo = size_t{1} << 30;

std::wstring Wide(const std::string& utf8) {
  if (utf8.empty()) return {};
  const int n = ::MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()),
                                      nullptr, 0);
  std::wstring w(static_cast<size_t>(n), L'\0');
  ::MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), w.data(), n);
  return w;
}

std::string Narrow(const std::wstring& w) {
  if (w.empty()) return {};
  const int n = ::WideCharToMultiByte(CP_UTF8, 0, w.data(), static_cast<int>(w.size()), nullptr,
                                      0, nullptr, nullptr);
  std::string s(static_cast<size_t>(n), '\0');
  ::WideCharToMultiByte(CP_UTF8, 0, w.data(), static_cast<int>(w.size()), s.data(), n, nullptr,
                        nullptr);
  return s;
}

// Calls that take the file offset in an OVERLAPPED.
OVERLAPPED At(uint64_t offset) {
  OVERLAPPED ov{};
  ov.Offset = static_cast<DWORD>(offset);
  ov.OffsetHigh = static_cast<DWORD>(offset >> 32);
  return ov;
}

// A write or sync that failed: the disk full is 3026, anything else 3043.
[[noreturn]] void ThrowWriteError() {
  const DWORD e = ::GetLastError();
  if (e == ERROR_DISK_FULL || e == ERROR_HANDLE_DISK_FULL) throw JetError(kErrDiskFull);
  throw JetError(kErrDiskIo);
}

bool IsFolder(const std::wstring& path) {
  const DWORD a = ::GetFileAttributesW(path.c_str());
  return a != INVALID_FILE_ATTRIBUTES && (a & FILE_ATTRIBUTE_DIRECTORY);
}

class WinMapping final : public FileMapping {
 public:
  WinMapping(const void* at, size_t len) : FileMapping(static_cast<const uint8_t*>(at), len) {}
  ~WinMapping() override { ::UnmapViewOfFile(data()); }
  // Unlocking pages that are not locked takes them out of the working set;
  // they stay in the system's cache until it needs the memory.
  void Release() override { ::VirtualUnlock(const_cast<uint8_t*>(data()), size()); }
};

class WinFile final : public File {
 public:
  explicit WinFile(HANDLE h) : h_(h) {}
  ~WinFile() override { ::CloseHandle(h_); }
  WinFile(const WinFile&) = delete;
  WinFile& operator=(const WinFile&) = delete;

  uint64_t Size() override {
    LARGE_INTEGER size{};
    if (!::GetFileSizeEx(h_, &size)) throw JetError(kErrDiskIo);
    return static_cast<uint64_t>(size.QuadPart);
  }

  // Buffers that follow each other in memory (pages of one arena block
  // usually do) go in one call.
  size_t ReadAt(uint64_t offset, std::span<const IoBuffer> buffers) override {
    size_t total = 0;
    for (size_t i = 0; i < buffers.size();) {
      size_t len = 0;
      size_t j = Run(buffers, i, &len);
      const size_t got = ReadRun(offset + total, buffers[i].data, len);
      total += got;
      if (got < len) break;
      i = j;
    }
    return total;
  }

  void WriteAt(uint64_t offset, std::span<const IoBuffer> buffers) override {
    for (size_t i = 0; i < buffers.size();) {
      size_t len = 0;
      size_t j = Run(buffers, i, &len);
      WriteRun(offset, buffers[i].data, len);
      offset += len;
      i = j;
    }
  }

  void Extend(uint64_t size) override {
    if (Size() >= size) return;
    FILE_END_OF_FILE_INFO eof{};
    eof.EndOfFile.QuadPart = static_cast<LONGLONG>(size);
    if (!::SetFileInformationByHandle(h_, FileEndOfFileInfo, &eof, sizeof eof)) {
      ThrowWriteError();
    }
  }

  void Sync() override {
    if (!::FlushFileBuffers(h_)) ThrowWriteError();
  }

  void StartWriteOut(uint64_t, uint64_t) override {}

  // LockFileEx cannot convert a lock: the old one goes first, and comes
  // back if the new one is refused.
  bool TryLock(uint64_t offset, bool exclusive) override {
    auto it = locks_.find(offset);
    if (it == locks_.end()) {
      if (!Lock(offset, exclusive)) return false;
      locks_[offset] = exclusive;
      return true;
    }
    if (it->second == exclusive) return true;
    UnlockByte(offset);
    if (Lock(offset, exclusive)) {
      it->second = exclusive;
      return true;
    }
    if (!Lock(offset, it->second)) locks_.erase(it);
    return false;
  }

  void Unlock(uint64_t offset) override {
    auto it = locks_.find(offset);
    if (it == locks_.end()) return;
    UnlockByte(offset);
    locks_.erase(it);
  }

  std::unique_ptr<FileMapping> MapReadOnly(size_t length) override {
    if (length == 0) return nullptr;
    const uint64_t len = length;
    HANDLE section = ::CreateFileMappingW(h_, nullptr, PAGE_READONLY, static_cast<DWORD>(len >> 32),
                                          static_cast<DWORD>(len), nullptr);
    if (!section) return nullptr;
    void* view = ::MapViewOfFile(section, FILE_MAP_READ, 0, 0, length);
    ::CloseHandle(section);  // the view keeps it
    if (!view) return nullptr;
    return std::make_unique<WinMapping>(view, length);
  }

 private:
  // The buffers from `first` on that sit back to back in memory: returns
  // the index after them and sets `len` to their total size.
  static size_t Run(std::span<const IoBuffer> buffers, size_t first, size_t* len) {
    *len = buffers[first].size;
    size_t j = first + 1;
    while (j < buffers.size() && buffers[j].data == buffers[first].data + *len) {
      *len += buffers[j++].size;
    }
    return j;
  }

  size_t ReadRun(uint64_t offset, uint8_t* p, size_t len) {
    size_t done = 0;
    while (done < len) {
      OVERLAPPED ov = At(offset + done);
      DWORD got = 0;
      if (!::ReadFile(h_, p + done, static_cast<DWORD>(std::min(len - done, kMaxIo)), &got, &ov)) {
        if (::GetLastError() == ERROR_HANDLE_EOF) break;
        throw JetError(kErrDiskIo);
      }
      if (got == 0) break;
      done += got;
    }
    return done;
  }

  void WriteRun(uint64_t offset, const uint8_t* p, size_t len) {
    size_t done = 0;
    while (done < len) {
      OVERLAPPED ov = At(offset + done);
      DWORD put = 0;
      if (!::WriteFile(h_, p + done, static_cast<DWORD>(std::min(len - done, kMaxIo)), &put, &ov)) {
        ThrowWriteError();
      }
      if (put == 0) throw JetError(kErrDiskIo);
      done += put;
    }
  }

  // False when another holder refuses the lock.
  bool Lock(uint64_t offset, bool exclusive) {
    OVERLAPPED ov = At(offset);
    const DWORD flags = LOCKFILE_FAIL_IMMEDIATELY | (exclusive ? LOCKFILE_EXCLUSIVE_LOCK : 0);
    if (::LockFileEx(h_, flags, 0, 1, 0, &ov)) return true;
    if (::GetLastError() == ERROR_LOCK_VIOLATION) return false;
    throw JetError(kErrDiskIo);
  }

  void UnlockByte(uint64_t offset) {
    OVERLAPPED ov = At(offset);
    ::UnlockFileEx(h_, 0, 1, 0, &ov);
  }

  HANDLE h_;
  std::map<uint64_t, bool> locks_;  // bytes this handle locks -> exclusively
};

class WinFileSystem final : public FileSystem {
 public:
  std::unique_ptr<File> Open(const std::string& path, FileAccess access) override {
    const bool write = access == FileAccess::kReadWrite;
    const std::wstring w = Wide(path);
    const DWORD share = FILE_SHARE_READ | FILE_SHARE_DELETE | (write ? 0 : FILE_SHARE_WRITE);
    HANDLE h = ::CreateFileW(w.c_str(), write ? GENERIC_READ | GENERIC_WRITE : GENERIC_READ, share,
                             nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h == INVALID_HANDLE_VALUE) {
      switch (::GetLastError()) {
        case ERROR_FILE_NOT_FOUND:
        case ERROR_PATH_NOT_FOUND:
        case ERROR_INVALID_NAME:
        case ERROR_BAD_NETPATH:
          throw JetError(kErrFileNotFound, path);
        case ERROR_SHARING_VIOLATION:
          // Another handle writes, or (refusing us as a reader) denies readers.
          if (write) throw JetError(kErrFileInUse, path);
          throw JetError(kErrLockedExclusive);
        case ERROR_ACCESS_DENIED:
          if (IsFolder(w)) throw JetError(kErrNotADatabase, path);
          throw JetError(write ? kErrReadOnly : kErrFileInUse, path);
        case ERROR_WRITE_PROTECT:
          throw JetError(kErrReadOnly);
        default:
          throw JetError(kErrDiskIo);
      }
    }
    if (::GetFileType(h) != FILE_TYPE_DISK) {
      ::CloseHandle(h);
      throw JetError(kErrNotADatabase, path);
    }
    return std::make_unique<WinFile>(h);
  }

  std::unique_ptr<File> Create(const std::string& path) override {
    const std::wstring w = Wide(path);
    HANDLE h = ::CreateFileW(w.c_str(), GENERIC_READ | GENERIC_WRITE,
                             FILE_SHARE_READ | FILE_SHARE_DELETE, nullptr, CREATE_NEW,
                             FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h == INVALID_HANDLE_VALUE) {
      switch (::GetLastError()) {
        case ERROR_FILE_EXISTS:
        case ERROR_ALREADY_EXISTS:
          throw JetError(kErrDatabaseExists, path);
        case ERROR_PATH_NOT_FOUND:
        case ERROR_INVALID_NAME:
        case ERROR_BAD_NETPATH:
          throw JetError(kErrPathNotFound, path);
        case ERROR_ACCESS_DENIED:
          if (::GetFileAttributesW(w.c_str()) != INVALID_FILE_ATTRIBUTES) {
            throw JetError(kErrDatabaseExists, path);
          }
          throw JetError(kErrReadOnly);
        case ERROR_WRITE_PROTECT:
          throw JetError(kErrReadOnly);
        default:
          ThrowWriteError();
      }
    }
    return std::make_unique<WinFile>(h);
  }

  bool Remove(const std::string& path) override { return ::DeleteFileW(Wide(path).c_str()) != 0; }

  void Rename(const std::string& from, const std::string& to, bool replace) override {
    const DWORD flags = MOVEFILE_WRITE_THROUGH | (replace ? MOVEFILE_REPLACE_EXISTING : 0);
    if (::MoveFileExW(Wide(from).c_str(), Wide(to).c_str(), flags)) return;
    switch (::GetLastError()) {
      case ERROR_ALREADY_EXISTS:
      case ERROR_FILE_EXISTS:
        throw JetError(kErrDatabaseExists, to);
      case ERROR_SHARING_VIOLATION:
      case ERROR_ACCESS_DENIED:
      case ERROR_LOCK_VIOLATION:
        // Someone holds the file open: one that is open cannot be replaced.
        throw JetError(kErrFileInUse, to);
      case ERROR_WRITE_PROTECT:
        throw JetError(kErrReadOnly);
      default:
        ThrowWriteError();
    }
  }

  void SyncFolder(const std::string&) override {}
};

}  // namespace

FileSystem& SystemFileSystem() {
  static WinFileSystem fs;
  return fs;
}

bool CanReplaceOpenFile() { return false; }

std::string CanonicalPath(const std::string& path) {
  const std::wstring w = Wide(path);
  if (w.empty()) return {};
  DWORD n = ::GetFullPathNameW(w.c_str(), 0, nullptr, nullptr);
  if (n == 0) return {};
  std::wstring full(n, L'\0');
  n = ::GetFullPathNameW(w.c_str(), n, full.data(), nullptr);
  full.resize(n);
  // Also expands 8.3 short names, so "PROGRA~1" and "Program Files" meet;
  // fails when there is no such file.
  DWORD m = ::GetLongPathNameW(full.c_str(), nullptr, 0);
  if (m == 0) return {};
  std::wstring long_form(m, L'\0');
  m = ::GetLongPathNameW(full.c_str(), long_form.data(), m);
  if (m == 0) return {};
  long_form.resize(m);
  return Narrow(long_form);
}

std::string PathKey(const std::string& canonical_path) {
  std::wstring w = Wide(canonical_path);
  if (w.empty()) return {};
  std::wstring upper(w.size(), L'\0');
  const int n = ::LCMapStringEx(LOCALE_NAME_INVARIANT, LCMAP_UPPERCASE, w.c_str(),
                                static_cast<int>(w.size()), upper.data(),
                                static_cast<int>(upper.size()), nullptr, nullptr, 0);
  if (n <= 0) return canonical_path;
  upper.resize(static_cast<size_t>(n));
  return Narrow(upper);
}

bool LockFileHeld(const std::string& path) {
  HANDLE h = ::CreateFileW(Wide(path).c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING,
                           FILE_ATTRIBUTE_NORMAL, nullptr);
  if (h != INVALID_HANDLE_VALUE) {
    ::CloseHandle(h);
    return false;
  }
  const DWORD e = ::GetLastError();
  return e != ERROR_FILE_NOT_FOUND && e != ERROR_PATH_NOT_FOUND;
}

uint64_t CurrentProcessId() { return ::GetCurrentProcessId(); }

// Large pages on Windows need a privilege ordinary users lack.
void AdviseHugePages(void*, size_t) {}

}  // namespace jet
