// The engine's one door to the operating system: a database file read and
// written at offsets, synced, locked and mapped, and the few other facts the
// pager asks the system for (a path's identity, the process id). Each
// platform implements it once, in file_posix.cpp or file_windows.cpp; no other
// file of the engine includes an operating-system header.
//
// Paths cross this interface as UTF-8 and are converted where the system is
// called. Failures are JetErrors carrying the engine's numbers.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>
#include <string>

namespace jet {

// One buffer of a vectored read or write.
struct IoBuffer {
  uint8_t* data;
  size_t size;
};

// What a handle may do, and what it leaves to other processes meanwhile.
enum class FileAccess {
  // Reading. On Windows other handles may read and write (share mode
  // read and write).
  kRead,
  // Reading and writing. On Windows other handles may only read (share mode
  // read), so no other program writes while this handle is open, and a
  // program already holding the file for writing makes the open fail.
  kReadWrite,
};

// A read-only view of the first bytes of a file, valid until the object
// goes, even after the File it came from has been closed. Writes made through
// any handle of the same file show through it.
class FileMapping {
 public:
  virtual ~FileMapping() = default;
  const uint8_t* data() const { return data_; }
  size_t size() const { return size_; }
  // Lets go of the memory the view has brought in. The view stays valid: a
  // later read brings its bytes back from the file.
  virtual void Release() = 0;

 protected:
  FileMapping(const uint8_t* data, size_t size) : data_(data), size_(size) {}

 private:
  const uint8_t* data_;
  size_t size_;
};

// An open regular file. Not thread-safe: callers serialise their use of one
// File. Closing it (destroying the object) releases its locks.
class File {
 public:
  // Opens an existing regular file. Errors: 3024 no such file, 3343 not a
  // regular file, 3027 writing not permitted (kReadWrite), 3045 reading not
  // permitted, or another program's share mode refuses this open (Windows),
  // 3356 another program's share mode refuses even readers (Windows, kRead
  // only), 3043 any other failure.
  static std::unique_ptr<File> Open(const std::string& path, FileAccess access);
  // Creates a new, empty file opened kReadWrite. Errors: 3204 the file
  // exists, 3044 its folder does not, 3027 creating not permitted, 3043 any
  // other failure.
  static std::unique_ptr<File> Create(const std::string& path);

  virtual ~File() = default;

  // Errors of the calls below: 3043.
  virtual uint64_t Size() = 0;
  // Fills `buffers` one after the other from `offset` on and returns how
  // many bytes came: fewer than asked only when the file ends first.
  virtual size_t ReadAt(uint64_t offset, std::span<const IoBuffer> buffers) = 0;
  // Writes every byte of `buffers` one after the other from `offset` on,
  // growing the file when it ends earlier.
  virtual void WriteAt(uint64_t offset, std::span<const IoBuffer> buffers) = 0;
  // Grows the file to `size` bytes of zeros; a file that long is left as is.
  virtual void Extend(uint64_t size) = 0;
  // Returns once what was written has reached the disk.
  virtual void Sync() = 0;
  // A hint that the given written range will not be written again soon: the
  // disk may start taking it now. Nothing happens where the system has no
  // such call.
  virtual void StartWriteOut(uint64_t offset, uint64_t length) = 0;

  // Advisory lock on the byte at `offset`, which need not lie inside the
  // file; never waits. Shared locks of different handles coexist; an
  // exclusive lock excludes every other handle's lock on the byte, handles
  // of this process included. Asking for the other kind on a byte this handle
  // already locks converts the lock; a refused conversion leaves the handle
  // with what it held (on Windows, which cannot convert, unless another
  // process takes the byte exclusively in the instant between). An
  // exclusive lock needs kReadWrite. False when refused; 3043 when the
  // file cannot be locked at all (a network file system without locks).
  virtual bool TryLock(uint64_t offset, bool exclusive) = 0;
  // Releases this handle's lock on the byte, if it holds one.
  virtual void Unlock(uint64_t offset) = 0;

  // A read-only view of the first `length` bytes (at most the file's size),
  // or null when the system refuses one.
  virtual std::unique_ptr<FileMapping> MapReadOnly(size_t length) = 0;
};

// The absolute path of an existing file, with links, "." and ".." resolved
// (on Windows: the full, long form); empty when there is no such file.
std::string CanonicalPath(const std::string& path);
// What identifies a canonical path's file among the open ones: the path
// itself, or on Windows, whose names ignore case, the path in capitals.
std::string PathKey(const std::string& canonical_path);

// True when another program holds `path` open the way the Jet engine holds
// the lock file (.ldb) beside a database it has open: on Windows the file
// cannot be opened with share mode 0, elsewhere some process holds a
// byte-range lock on it (as Samba does for Windows clients' locks). The name
// is matched without regard to case. A missing file, or one left behind and
// held by no one, is not held; one that cannot be looked at is taken as held.
bool LockFileHeld(const std::string& path);

// Removes a file; false when it could not be removed.
bool RemoveFile(const std::string& path);

// This process's id (the pager registry tells a forked child by it).
uint64_t CurrentProcessId();

// A hint that `block` (aligned to and sized in 2 MiB) is used by page
// hopping and worth backing with huge pages; refusal changes nothing.
void AdviseHugePages(void* block, size_t size);

}  // namespace jet
