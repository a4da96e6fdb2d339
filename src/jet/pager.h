// The pager: the only code that touches a database file. It reads and writes
// whole pages through a cache with a fixed budget, applies RC4 page
// encryption when the header asks for it, owns the header page (version,
// password, locale) and the file locks.
//
// One Pager exists per open file per process; every handle of that file in
// the process shares it (see Pager::Open), so handles see each other's writes.
#pragma once

#include <cstdint>
#include <memory>
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
  // path after resolving it); the pager lives while any handle holds it, and
  // flushes and unlocks the file when the last one lets go. A read-write or
  // exclusive request on a pager opened read-only or shared upgrades it. `exclusive` locks the file against other
  // processes; a second process gets JetError 3045 (or 3356 when the holder
  // opened it exclusively). Errors: 3024 missing file, 3343 not a Jet file.
  static std::shared_ptr<Pager> Open(const std::string& path, OpenMode mode, bool exclusive);

  // Creates a new Jet 4 file holding only its header page. Fails with 3204
  // when the file exists. `encrypt` picks a random non-zero database key.
  static std::shared_ptr<Pager> Create(const std::string& path, const HeaderInfo& header,
                                       bool encrypt);

  virtual ~Pager() = default;

  virtual const Format& format() const = 0;
  virtual const HeaderInfo& header() const = 0;
  virtual const std::string& path() const = 0;
  virtual bool writable() const = 0;
  virtual uint32_t page_count() const = 0;

  // The decrypted contents of a page; a page past the end of the file is
  // error 3049. The reference stays valid until the next call to the pager.
  virtual ByteView Read(uint32_t page) = 0;
  // A copy of a page, for callers that keep it across other pager calls.
  Bytes Copy(uint32_t page) {
    ByteView v = Read(page);
    return Bytes(v.begin(), v.end());
  }
  // Replaces a page's contents (size must be the page size). Error 3027 when
  // the file was opened read-only.
  virtual void Write(uint32_t page, ByteView data) = 0;
  // Appends a zero-filled page and returns its number.
  virtual uint32_t Allocate() = 0;
  // Writes every changed page to the file.
  virtual void Flush() = 0;

  // Cache budget in bytes (default 64 MiB); pages over it are evicted, the
  // changed ones written first.
  virtual void SetCacheBudget(size_t bytes) = 0;
};

}  // namespace jet
