#include "support/foreign_hold.h"

#ifdef _WIN32
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>

#include <filesystem>
#else
#include <fcntl.h>
#include <unistd.h>
#endif

namespace testing_support {

// A byte of the kind the Jet engine locks in its lock file.
constexpr long long kJetLockByte = 0x10000001;

#ifdef _WIN32

ForeignHold::ForeignHold(const std::string& path, Hold how) {
  const std::wstring wide =
      std::filesystem::path(std::u8string(path.begin(), path.end())).wstring();
  const DWORD share = how == Hold::kShareNothing ? 0 : FILE_SHARE_READ | FILE_SHARE_WRITE;
  HANDLE h = ::CreateFileW(wide.c_str(), GENERIC_READ | GENERIC_WRITE, share, nullptr,
                           OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (h == INVALID_HANDLE_VALUE) return;
  if (how == Hold::kJetLockFile) {
    OVERLAPPED at{};
    at.Offset = static_cast<DWORD>(kJetLockByte);
    ::LockFileEx(h, LOCKFILE_FAIL_IMMEDIATELY, 0, 1, 0, &at);
  }
  handle_ = reinterpret_cast<long long>(h);
}

ForeignHold::~ForeignHold() {
  if (held()) ::CloseHandle(reinterpret_cast<HANDLE>(handle_));
}

#else

ForeignHold::ForeignHold(const std::string& path, Hold) {
  int fd = ::open(path.c_str(), O_RDWR | O_CLOEXEC);
  if (fd < 0) return;
  struct flock lock{};
  lock.l_type = F_RDLCK;
  lock.l_whence = SEEK_SET;
  lock.l_start = kJetLockByte;
  lock.l_len = 1;
  if (::fcntl(fd, F_SETLK, &lock) != 0) {
    ::close(fd);
    return;
  }
  handle_ = fd;
}

ForeignHold::~ForeignHold() {
  if (held()) ::close(static_cast<int>(handle_));
}

#endif

}  // namespace testing_support
