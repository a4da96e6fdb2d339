// The file layer on POSIX systems. A rename is rename(2), which replaces
// atomically; one that must not replace is renameat2's RENAME_NOREPLACE, or
// a hard link where the file system lacks it. Byte locks are open-file-description
// locks (F_OFD_SETLK): they belong to the descriptor that took them, so they
// conflict between two descriptors of one process too and do not vanish
// when some other descriptor of the file is closed, as classic F_SETLK
// locks would.
#include "jet/file.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <filesystem>
#include <vector>

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <sys/uio.h>
#include <unistd.h>
#if defined(__linux__)
#include <linux/fs.h>
#include <sys/ioctl.h>
#endif

#include "jet/error.h"
#include "jet/text.h"

namespace jet {

namespace {

// Buffers handed to one vectored call; a longer list goes in several.
constexpr size_t kIovBatch = 64;

// Copies up to kIovBatch buffers from `first` on into `iov`; returns how many.
int FillIov(std::span<const IoBuffer> buffers, size_t first, iovec* iov) {
  const size_t n = std::min(buffers.size() - first, std::min<size_t>(kIovBatch, IOV_MAX));
  for (size_t i = 0; i < n; ++i) iov[i] = iovec{buffers[first + i].data, buffers[first + i].size};
  return static_cast<int>(n);
}

// Moves past `done` bytes of `iov`; returns how many whole entries went.
int Consume(iovec* iov, int count, size_t done) {
  int i = 0;
  while (i < count && done >= iov[i].iov_len) done -= iov[i++].iov_len;
  if (done > 0) {
    iov[i].iov_base = static_cast<uint8_t*>(iov[i].iov_base) + done;
    iov[i].iov_len -= done;
  }
  return i;
}

// A write or sync that failed: the disk full (or the process's size limit
// reached) is 3026, anything else 3043.
[[noreturn]] void ThrowWriteError() {
  if (errno == ENOSPC || errno == EDQUOT || errno == EFBIG) throw JetError(kErrDiskFull);
  throw JetError(kErrDiskIo);
}

// One byte's lock request: false when another holder refuses it.
bool SetLock(int fd, uint64_t offset, short type) {
  struct flock l{};
  l.l_type = type;
  l.l_whence = SEEK_SET;
  l.l_start = static_cast<off_t>(offset);
  l.l_len = 1;
  while (::fcntl(fd, F_OFD_SETLK, &l) != 0) {
    if (errno == EINTR) continue;
    if (errno == EAGAIN || errno == EACCES) return false;
    throw JetError(kErrDiskIo);  // no locks here (ENOLCK: a network file system without them)
  }
  return true;
}

class PosixMapping final : public FileMapping {
 public:
  PosixMapping(void* at, size_t len) : FileMapping(static_cast<const uint8_t*>(at), len) {}
  ~PosixMapping() override { ::munmap(const_cast<uint8_t*>(data()), size()); }
  void Release() override { ::madvise(const_cast<uint8_t*>(data()), size(), MADV_DONTNEED); }
};

class PosixFile final : public File {
 public:
  explicit PosixFile(int fd) : fd_(fd) {}
  ~PosixFile() override { ::close(fd_); }
  PosixFile(const PosixFile&) = delete;
  PosixFile& operator=(const PosixFile&) = delete;

  uint64_t Size() override {
    struct stat st{};
    if (::fstat(fd_, &st) != 0) throw JetError(kErrDiskIo);
    return static_cast<uint64_t>(st.st_size);
  }

  size_t ReadAt(uint64_t offset, std::span<const IoBuffer> buffers) override {
    size_t total = 0;
    iovec iov[kIovBatch];
    for (size_t first = 0; first < buffers.size();) {
      int count = FillIov(buffers, first, iov);
      int left = count;
      iovec* at = iov;
      while (left > 0) {
        ssize_t r = ::preadv(fd_, at, left, static_cast<off_t>(offset));
        if (r < 0) {
          if (errno == EINTR) continue;
          throw JetError(kErrDiskIo);
        }
        if (r == 0) return total;
        offset += static_cast<uint64_t>(r);
        total += static_cast<size_t>(r);
        int whole = Consume(at, left, static_cast<size_t>(r));
        at += whole;
        left -= whole;
      }
      first += static_cast<size_t>(count);
    }
    return total;
  }

  void WriteAt(uint64_t offset, std::span<const IoBuffer> buffers) override {
    iovec iov[kIovBatch];
    for (size_t first = 0; first < buffers.size();) {
      int count = FillIov(buffers, first, iov);
      int left = count;
      iovec* at = iov;
      while (left > 0) {
        ssize_t r = ::pwritev(fd_, at, left, static_cast<off_t>(offset));
        if (r < 0) {
          if (errno == EINTR) continue;
          ThrowWriteError();
        }
        if (r == 0) throw JetError(kErrDiskIo);
        offset += static_cast<uint64_t>(r);
        int whole = Consume(at, left, static_cast<size_t>(r));
        at += whole;
        left -= whole;
      }
      first += static_cast<size_t>(count);
    }
  }

  void Extend(uint64_t size) override {
    if (Size() >= size) return;
    while (::ftruncate(fd_, static_cast<off_t>(size)) != 0) {
      if (errno != EINTR) ThrowWriteError();
    }
  }

  void Sync() override {
    // EINVAL: a file kind that cannot be synced, with nothing to wait for.
    if (::fdatasync(fd_) != 0 && errno != EINVAL) ThrowWriteError();
  }

  // A clone shares the source's blocks (btrfs, XFS); otherwise the kernel
  // copies.
  void CopyFrom(File& source) override {
    auto* from = dynamic_cast<PosixFile*>(&source);
#if defined(__linux__)
    if (from && ::ioctl(fd_, FICLONE, from->fd_) == 0) return;
#endif
    CopyRangeFrom(source, 0, source.Size());
  }

  // The kernel copies without bringing the bytes up here where it can;
  // what it will not copy goes the generic way.
  void CopyRangeFrom(File& source, uint64_t offset, uint64_t length) override {
    auto* from = dynamic_cast<PosixFile*>(&source);
    uint64_t done = 0;
#if defined(__linux__)
    while (from && done < length) {
      loff_t in = static_cast<loff_t>(offset + done), out = in;
      const ssize_t r = ::copy_file_range(from->fd_, &in, fd_, &out,
                                          static_cast<size_t>(length - done), 0);
      if (r > 0) {
        done += static_cast<uint64_t>(r);
        continue;
      }
      if (r == 0) return;  // the source ends
      if (errno == EINTR) continue;
      if (errno == EXDEV || errno == EINVAL || errno == ENOSYS || errno == EOPNOTSUPP) break;
      ThrowWriteError();
    }
#endif
    if (done < length) File::CopyRangeFrom(source, offset + done, length - done);
  }

  void StartWriteOut(uint64_t offset, uint64_t length) override {
#if defined(SYNC_FILE_RANGE_WRITE)
    ::sync_file_range(fd_, static_cast<off_t>(offset), static_cast<off_t>(length),
                      SYNC_FILE_RANGE_WRITE);
#else
    (void)offset;
    (void)length;
#endif
  }

  bool TryLock(uint64_t offset, bool exclusive) override {
    return SetLock(fd_, offset, exclusive ? F_WRLCK : F_RDLCK);
  }

  void Unlock(uint64_t offset) override {
    struct flock l{};
    l.l_type = F_UNLCK;
    l.l_whence = SEEK_SET;
    l.l_start = static_cast<off_t>(offset);
    l.l_len = 1;
    ::fcntl(fd_, F_OFD_SETLK, &l);
  }

  std::unique_ptr<FileMapping> MapReadOnly(size_t length) override {
    if (length == 0) return nullptr;
    void* m = ::mmap(nullptr, length, PROT_READ, MAP_SHARED, fd_, 0);
    if (m == MAP_FAILED) return nullptr;
    return std::make_unique<PosixMapping>(m, length);
  }

 private:
  int fd_;
};

// Wraps a new descriptor, refusing what is not a regular file.
std::unique_ptr<File> Adopt(int fd) {
  struct stat st{};
  if (::fstat(fd, &st) != 0) {
    ::close(fd);
    throw JetError(kErrDiskIo);
  }
  if (!S_ISREG(st.st_mode)) {
    ::close(fd);
    throw JetError(kErrNotADatabase);
  }
  return std::make_unique<PosixFile>(fd);
}

// True when some process holds a lock on any byte of the file at `path`.
bool AnyLockOn(const std::string& path) {
  int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
  if (fd < 0) return errno != ENOENT;
  struct flock l{};
  l.l_type = F_WRLCK;  // conflicts with every lock: is there any?
  l.l_whence = SEEK_SET;
  l.l_start = 0;
  l.l_len = 0;  // to the end, however far
  int r = ::fcntl(fd, F_OFD_GETLK, &l);
  ::close(fd);
  return r != 0 || l.l_type != F_UNLCK;
}

class PosixFileSystem final : public FileSystem {
 public:
  std::unique_ptr<File> Open(const std::string& path, FileAccess access) override {
    const bool write = access == FileAccess::kReadWrite;
    int fd = ::open(path.c_str(), (write ? O_RDWR : O_RDONLY) | O_CLOEXEC);
    if (fd < 0) {
      if (errno == ENOENT || errno == ENOTDIR) throw JetError(kErrFileNotFound, path);
      if (errno == EISDIR) throw JetError(kErrNotADatabase, path);
      if (errno == EACCES || errno == EROFS || errno == EPERM) {
        throw JetError(write ? kErrReadOnly : kErrFileInUse, path);
      }
      throw JetError(kErrDiskIo);
    }
    return Adopt(fd);
  }

  std::unique_ptr<File> Create(const std::string& path) override {
    int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    if (fd < 0) {
      if (errno == EEXIST) throw JetError(kErrDatabaseExists, path);
      if (errno == ENOENT || errno == ENOTDIR) throw JetError(kErrPathNotFound, path);
      if (errno == EACCES || errno == EROFS || errno == EPERM) throw JetError(kErrReadOnly);
      ThrowWriteError();
    }
    return std::make_unique<PosixFile>(fd);
  }

  bool Remove(const std::string& path) override { return ::unlink(path.c_str()) == 0; }

  void Rename(const std::string& from, const std::string& to, bool replace) override {
    if (replace) {
      if (::rename(from.c_str(), to.c_str()) != 0) ThrowRenameError();
      return;
    }
#if defined(__linux__) && defined(RENAME_NOREPLACE)
    if (::renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), RENAME_NOREPLACE) == 0) return;
    if (errno != EINVAL && errno != ENOSYS && errno != EOPNOTSUPP) ThrowRenameError();
#endif
    // A second name that cannot be made over an existing one, then the
    // first name goes; where the file system has no links, a check first.
    if (::link(from.c_str(), to.c_str()) == 0) {
      ::unlink(from.c_str());
      return;
    }
    if (errno == EEXIST) throw JetError(kErrDatabaseExists, to);
    if (errno != EPERM && errno != EOPNOTSUPP && errno != EMLINK) ThrowRenameError();
    struct stat st{};
    if (::lstat(to.c_str(), &st) == 0) throw JetError(kErrDatabaseExists, to);
    if (::rename(from.c_str(), to.c_str()) != 0) ThrowRenameError();
  }

  void SyncFolder(const std::string& folder) override {
    int fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) return;  // nothing we may open there; the names are the system's to keep
    int r;
    do {
      r = ::fsync(fd);
    } while (r != 0 && errno == EINTR);
    const int err = errno;
    ::close(fd);
    // EINVAL, EROFS: a file system whose folders cannot be synced.
    if (r != 0 && err != EINVAL && err != EROFS && err != EBADF) throw JetError(kErrDiskIo);
  }

 private:
  [[noreturn]] static void ThrowRenameError() {
    if (errno == EEXIST || errno == ENOTEMPTY) throw JetError(kErrDatabaseExists);
    if (errno == EACCES || errno == EPERM || errno == EROFS) throw JetError(kErrReadOnly);
    ThrowWriteError();
  }
};

}  // namespace

FileSystem& SystemFileSystem() {
  static PosixFileSystem fs;
  return fs;
}

bool CanReplaceOpenFile() { return true; }

std::string CanonicalPath(const std::string& path) {
  std::error_code ec;
  auto p = std::filesystem::canonical(path, ec);
  if (ec) return {};
  return p.string();
}

std::string PathKey(const std::string& canonical_path) { return canonical_path; }

bool LockFileHeld(const std::string& path) {
  const std::filesystem::path p(path);
  const std::filesystem::path dir = p.has_parent_path() ? p.parent_path() : ".";
  const std::string name = p.filename().string();
  std::error_code ec;
  std::filesystem::directory_iterator it(dir, ec), end;
  for (; !ec && it != end; it.increment(ec)) {
    const std::filesystem::path& entry = it->path();
    if (NamesEqual(entry.filename().string(), name) && AnyLockOn(entry.string())) return true;
  }
  return ec && ec != std::errc::no_such_file_or_directory;
}

uint64_t CurrentProcessId() { return static_cast<uint64_t>(::getpid()); }

void AdviseHugePages(void* block, size_t size) {
#if defined(MADV_HUGEPAGE)
  ::madvise(block, size, MADV_HUGEPAGE);
#else
  (void)block;
  (void)size;
#endif
}

}  // namespace jet
