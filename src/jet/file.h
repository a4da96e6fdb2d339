// The engine's one door to the operating system: files read and written at
// offsets, synced, locked and mapped; names created, renamed and removed;
// and the few other facts the pager asks the system for (a path's
// identity, the process id). Each platform implements it once, in
// file_posix.cpp or file_windows.cpp; no other file of the engine includes
// an operating-system header.
//
// Everything that changes the disk goes through one FileSystem object, the
// platform's own unless a test has installed another for the process (one
// that injects faults, say): the engine never calls the system around it.
//
// Paths cross this interface as UTF-8 and are converted where the system is
// called. Failures are JetErrors carrying the engine's numbers; a write
// that finds the disk full is 3026, any other failing write or sync 3043.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <vector>

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
  virtual ~File() = default;

  // Errors of the calls below: 3043, and 3026 when a write finds the disk
  // full.
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
  // Makes this file, empty and opened for writing, a copy of `source`
  // (both files of one FileSystem). Where the system can, the copy shares
  // the source's blocks or is made inside the kernel; elsewhere it is read
  // and written a megabyte at a time.
  virtual void CopyFrom(File& source);
  // Writes `length` bytes of `source` from `offset` on at the same offset
  // here (in the kernel where the system can); fewer when `source` ends.
  virtual void CopyRangeFrom(File& source, uint64_t offset, uint64_t length);
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

// The file system as the engine reaches it. Thread-safe.
class FileSystem {
 public:
  virtual ~FileSystem() = default;

  // Opens an existing regular file. Errors: 3024 no such file, 3343 not a
  // regular file, 3027 writing not permitted (kReadWrite), 3045 reading not
  // permitted, or another program's share mode refuses this open (Windows),
  // 3356 another program's share mode refuses even readers (Windows, kRead
  // only), 3043 any other failure. On Windows every handle lets others
  // rename the file (FILE_SHARE_DELETE), so a file being written can be put
  // in place by name.
  virtual std::unique_ptr<File> Open(const std::string& path, FileAccess access) = 0;
  // Creates a new, empty file opened kReadWrite. Errors: 3204 the file
  // exists, 3044 its folder does not, 3027 creating not permitted, 3026 the
  // disk is full, 3043 any other failure.
  virtual std::unique_ptr<File> Create(const std::string& path) = 0;
  // Removes a file; false when it could not be removed.
  virtual bool Remove(const std::string& path) = 0;
  // Gives the file `from` the name `to` in one step: whoever opens `to`
  // finds the old file or the new one, never neither. With `replace` a file
  // at `to` gives way; without it the rename fails with 3204 when `to`
  // exists. `from` may be open (by this process). Where an open file cannot
  // be replaced (CanReplaceOpenFile), a `to` that any handle holds open
  // fails with 3045. Other errors: 3043. The new name survives a power
  // cut once SyncFolder has been called on its folder.
  virtual void Rename(const std::string& from, const std::string& to, bool replace) = 0;
  // Returns once the names created, renamed and removed in `folder` have
  // reached the disk. 3043 when they could not be made to.
  virtual void SyncFolder(const std::string& folder) = 0;
};

// The platform's file system.
FileSystem& SystemFileSystem();
// The file system the engine uses: the platform's, or the one a test put in
// its place.
FileSystem& CurrentFileSystem();
// For tests only: the engine uses `fs` from now on (null: the platform's
// again). `fs` must outlive its use; nothing may be open through the one
// being replaced.
void SetFileSystemForTesting(FileSystem* fs);

// False on Windows, where a file cannot be renamed over while any handle
// holds it open: the pager closes its own handle first.
bool CanReplaceOpenFile();

// The names (last component, UTF-8) of the entries of `folder`; empty when
// it cannot be listed.
std::vector<std::string> FolderEntries(const std::string& folder);
// The folder part of `path` ("." for a bare name) and its last component.
std::string FolderOf(const std::string& path);
std::string NameOf(const std::string& path);
// `folder` and `name` joined with the system's separator.
std::string JoinPath(const std::string& folder, const std::string& name);

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

// This process's id (the pager registry tells a forked child by it).
uint64_t CurrentProcessId();

// A hint that `block` (aligned to and sized in 2 MiB) is used by page
// hopping and worth backing with huge pages; refusal changes nothing.
void AdviseHugePages(void* block, size_t size);

}  // namespace jet
