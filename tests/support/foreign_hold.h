// A file held the way another program holds it, made with the system's own
// calls rather than the engine's file layer, so that tests see the engine
// meet a real stranger: the office application's lock file (.ldb) beside a
// database it has open, or, on Windows, the database itself opened with
// the share mode the Jet engine uses.
#pragma once

#include <string>

namespace testing_support {

enum class Hold {
  // As the Jet engine holds its .ldb: open for reading and writing (Windows,
  // sharing reading and writing) with a byte locked (elsewhere a POSIX
  // record lock, which is what Samba takes for a Windows client's lock).
  kJetLockFile,
#ifdef _WIN32
  // Open for reading and writing, sharing reading and writing: the Jet
  // engine's shared open of a database.
  kShareReadWrite,
  // Open for reading and writing, sharing nothing: its exclusive open.
  kShareNothing,
#endif
};

class ForeignHold {
 public:
  // Holds the existing file at `path` until the object goes; held() says
  // whether that worked.
  ForeignHold(const std::string& path, Hold how);
  ~ForeignHold();
  ForeignHold(const ForeignHold&) = delete;
  ForeignHold& operator=(const ForeignHold&) = delete;

  bool held() const { return handle_ != -1; }

 private:
  long long handle_ = -1;  // a descriptor, or a HANDLE on Windows
};

}  // namespace testing_support
