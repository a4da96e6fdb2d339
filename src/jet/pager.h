// The pager: the only code that reads or writes a database file, through
// the file layer (file.h). It reads and writes whole pages through a cache
// with a fixed budget, applies RC4 page encryption when the header asks for
// it, owns the header page (version, password, locale) and decides who else
// may have the file open.
//
// One Pager exists per open file per process; every handle of that file in
// the process shares it (see Pager::Open), so handles see each other's writes.
//
// A database is never written where it lies. The file at a database's path
// is at every moment a whole Jet file that any reader, the office
// application's Jet engine included, can open: it is the file as it was
// before a change or as it is after it, never a mixture, whatever stops
// the process (a crash, a kill, a power cut) and whatever the disk does (an
// I/O error, a full disk). The first write after an open makes a copy
// beside the file ("<name>.~mq" and eight hex digits), held with the same
// locks as the file; changed pages are written there and read back from
// there, the others still read from the file. Commit writes the changed
// pages into the copy, copies in the pages it lacks, syncs it, renames it
// over the file in one step and syncs the folder; the pager goes on from
// the renamed copy. A new database is built the same way under a copy's name
// and renamed into place without replacing, so it appears whole or not at
// all. Until a commit other processes read the file as it was.
//
// Why a copy and not a journal: the office application opens the file with
// its own engine, which knows nothing of our journal; a page written in
// place would be seen half-done by it before any recovery of ours could
// run. The copy costs one pass over the pages a commit did not change
// (an in-kernel copy where the system has one), which the operations that
// change an existing database pay once each (a migration, a conversion, an
// attachment, a statement); building a new database pays nothing more.
//
// A write that fails (I/O error, full disk) fails the pager: nothing is
// put in place from it, its copy is removed, the file stays byte for byte
// as it was, and every later call throws the same error. A copy left by a
// process that died is held by nobody, and the next open of the file
// removes it. When the last handle lets go the pager commits; an error
// then is handed to DeferError (error.h), since nothing is there to
// catch it.
#pragma once

#include <cstdint>
#include <memory>
#include <span>
#include <string>

#include "jet/bytes.h"
#include "jet/format.h"

namespace jet {

// What the header page (page 0) says.
struct HeaderInfo {
  int version = 4;                // 3 or 4
  uint16_t code_page = 1252;
  uint32_t sort_order = 0x409;    // Jet 4: 4 bytes (LCID, version); Jet 3: 2 bytes
  uint32_t db_key = 0;            // non-zero: pages after 0 are RC4-encrypted
  std::string password;           // UTF-8; empty when the file has none
  double creation_date = 0;       // Jet 4: days since 1899-12-30
};

enum class OpenMode {
  kReadOnly,
  kReadWrite,
};

class Pager {
 public:
  // Opens a file or returns the Pager this process already has for it (same
  // canonical path; on Windows regardless of case); the pager lives while
  // any handle holds it, and flushes and unlocks the file when the last one
  // lets go. A read-write or exclusive request on a pager opened read-only or
  // shared upgrades it in place; refused, the pager stays as it was.
  //
  // Other processes: readers may read beside one writer; no two processes
  // write one file; an exclusive open has the file to itself. Maquetor
  // processes keep to this with advisory byte locks past 4 GiB (see
  // pager.cpp), on every system. Before it may write (or opens exclusively)
  // the pager also makes sure the office application does not have the file
  // open: its <name>.ldb must not be held, and on Windows the file is opened
  // for writing sharing reading only, so a program already writing it makes
  // the open fail, and no program can open it for writing afterwards.
  // Refused: JetError 3356 when the other side holds the file exclusively,
  // 3045 otherwise; nothing is written. Handles of one process share the
  // pager and never refuse each other.
  //
  // `password` must match the database password when the file has one
  // (exact, case-sensitive), else 3031; a file without one ignores it. Every
  // Open checks it, also when the pager is already open.
  //
  // Errors: 3024 missing file, 3343 not a Jet file (too short, no signature,
  // unknown version), 3031 wrong password, 3045 in use by another process,
  // 3356 opened exclusively by another process, 3027 no permission to write.
  static std::shared_ptr<Pager> Open(const std::string& path, OpenMode mode, bool exclusive,
                                     const std::string& password = "");

  // Creates a new Jet 4 database holding only its header page, opened
  // read-write and shared, as a writer. Nothing appears at `path` before
  // the first Commit (or the last handle letting go), which fails with 3204
  // if a file has appeared there meanwhile; until then opens of `path` in
  // this process share the pager. `header.password` becomes the database
  // password; a zero `header.creation_date` means now (local time);
  // `header.db_key` is ignored: `encrypt` picks a random non-zero key,
  // otherwise it is zero. Fails with 3204 when the file exists (or is being
  // created), 3044 when its folder does not.
  static std::shared_ptr<Pager> Create(const std::string& path, const HeaderInfo& header,
                                       bool encrypt);

  virtual ~Pager() = default;

  virtual const Format& format() const = 0;
  virtual const HeaderInfo& header() const = 0;
  virtual const std::string& path() const = 0;
  virtual bool writable() const = 0;
  virtual uint32_t page_count() const = 0;

  // The decrypted contents of a page (page 0 with its header block
  // unmasked); a page past the end of the file is error 3049. The reference
  // stays valid until the next call to the pager. A page that is all zeros on
  // disk (never written by the engine) reads as zeros even when the file is
  // encrypted.
  //
  // A pager is not thread-safe: callers serialise their use of it.
  virtual ByteView Read(uint32_t page) = 0;
  // A copy of a page, for callers that keep it across other pager calls.
  Bytes Copy(uint32_t page) {
    ByteView v = Read(page);
    return Bytes(v.begin(), v.end());
  }
  // Replaces a page's contents (size must be the page size, the page must
  // exist). Error 3027 when the file was opened read-only; the first write
  // after an open or a commit copies the file (3026, 3043 when that
  // fails). A new page 0 is
  // parsed again into header(); it may not change the database key.
  virtual void Write(uint32_t page, ByteView data) = 0;
  // The cached image of a page (not page 0), marked changed, for callers
  // that edit it in place; same lifetime as Read's view. 3027 when the file
  // was opened read-only.
  virtual std::span<uint8_t> Modify(uint32_t page) = 0;
  // Appends a zero-filled page and returns its number.
  virtual uint32_t Allocate() = 0;
  // Says the caller is done with `page` for now (a data page just filled):
  // it may leave the cache, written first if changed, ahead of pages used
  // less recently. A later Read brings it back as it was.
  virtual void Retire(uint32_t page) = 0;
  // Writes every changed page to the copy; nothing reaches the file at the
  // path before Commit. With `sync` the copy also reaches the disk.
  virtual void Flush(bool sync = true) = 0;
  // Puts what was written in place of the file (see above) and goes on
  // from there; nothing to do when nothing was written. Errors: those of
  // the writes and the sync (3026, 3043), 3204 for a new database whose
  // path was taken meanwhile, 3045 when another program holds the file
  // open where an open file cannot be replaced (Windows); the pager then
  // fails and the file at the path is as it was.
  virtual void Commit() = 0;
  // Drops everything written since the last commit; a new database never
  // appears. The pager is done: later calls fail with 3420.
  virtual void Discard() = 0;
  // Whether a failed write or Discard has ended the pager's use.
  virtual bool failed() const = 0;

  // Cache budget in bytes (default 64 MiB); pages over it are evicted least
  // recently used first, the changed ones written first. The cache always
  // keeps at least kMinCachedPages pages. A file opened read-only and not
  // encrypted has its pages other than index pages read in place from a
  // read-only mapping instead; the mapping and the cache then share the
  // budget half and half.
  virtual void SetCacheBudget(size_t bytes) = 0;
  // Bytes of page images the cache holds now (a mapping's not included).
  virtual size_t cached_bytes() const = 0;

  static constexpr size_t kDefaultCacheBudget = size_t{64} << 20;
  static constexpr size_t kMinCachedPages = 4;

  // Reads of a page other than the one read just before, since the open:
  // how many pages a lookup visited (tests check that seeks stay small).
  uint64_t page_reads() const { return page_reads_; }

 protected:
  uint64_t page_reads_ = 0;
};

}  // namespace jet
