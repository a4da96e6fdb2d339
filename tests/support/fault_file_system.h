// A file system for tests that sits over the real one (jet::FileSystem) and
// fails it on purpose: the Nth write or sync fails with an I/O error (3043)
// or a full disk (3026), or the power goes at the Nth write.
//
// A power cut keeps what a real disk keeps: each file's bytes as of its
// last sync, and the names created, renamed and removed as of the last
// sync of their folder; the write the power cut met may land torn (the
// first half of it over the old bytes). From the cut on every call fails
// with 3043, as if the process had died. Once the test has let go of every
// handle, Reboot() puts the files at their paths in the state the disk
// would show after the power came back, and the test inspects them.
//
// Writes are counted over WriteAt and Extend of every file, syncs over
// Sync and SyncFolder, from 1 since the last Reboot (or the start): run an
// operation once untouched to learn how many there are, then once per point.
//
// Not thread-safe across concurrent files beyond one mutex per call; the
// engine's copier thread only reads.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "jet/file.h"

namespace testing_support {

class FaultFileSystem final : public jet::FileSystem {
 public:
  explicit FaultFileSystem(jet::FileSystem& real = jet::SystemFileSystem());
  ~FaultFileSystem() override;

  // The Nth write and, with `sticky`, every later one fails with `error`
  // (a full disk stays full; an I/O error may pass).
  void FailWrite(int n, int error, bool sticky = false);
  void FailSync(int n, int error);
  void PowerCutAtWrite(int n, bool torn = false);
  // The power goes as the Nth sync (of a file or a folder) starts.
  void PowerCutAtSync(int n);

  int writes() const;
  int syncs() const;
  // Whether the power cut came (the process is "dead").
  bool cut() const;
  // After a power cut, with every handle closed: the disk as the next boot
  // finds it; counting and faults start afresh.
  void Reboot();

  std::unique_ptr<jet::File> Open(const std::string& path, jet::FileAccess access) override;
  std::unique_ptr<jet::File> Create(const std::string& path) override;
  bool Remove(const std::string& path) override;
  void Rename(const std::string& from, const std::string& to, bool replace) override;
  void SyncFolder(const std::string& folder) override;

  // What one file's bytes were at its last sync: the old bytes of every
  // block written since, and its size then.
  struct Durable {
    std::string path;
    std::optional<uint64_t> size;                    // unknown until first written
    std::map<uint64_t, std::vector<uint8_t>> blocks;  // block offset -> bytes at last sync
  };
  // A change of names not yet made durable by a sync of its folder.
  struct NameChange {
    enum Kind { kCreate, kRename, kRemove } kind;
    std::string from, to;
    std::optional<std::string> old_to;  // the file a rename replaced, or a removed one
    std::shared_ptr<Durable> file;
  };

  // Called by the files (internal).
  void BeforeWrite(const std::shared_ptr<Durable>& d, jet::File& real, uint64_t offset,
                   uint64_t length, const std::vector<uint8_t>* torn_bytes);
  void BeforeExtend(const std::shared_ptr<Durable>& d, jet::File& real);
  void BeforeSync(const std::shared_ptr<Durable>& d);
  void CheckAlive() const;

 private:
  std::shared_ptr<Durable> StateFor(const std::string& path);
  void CountWrite();
  void CountSync();

  jet::FileSystem& real_;
  mutable std::recursive_mutex mu_;
  int writes_ = 0, syncs_ = 0;
  int fail_write_ = 0, fail_write_error_ = 0;
  bool fail_write_sticky_ = false;
  int fail_sync_ = 0, fail_sync_error_ = 0;
  int cut_at_ = 0;
  int cut_at_sync_ = 0;
  bool torn_ = false;
  bool cut_ = false;
  // The torn half of the write the power cut met: where, and its bytes.
  std::shared_ptr<Durable> torn_file_;
  uint64_t torn_offset_ = 0;
  std::vector<uint8_t> torn_bytes_;
  std::vector<std::shared_ptr<Durable>> files_;
  std::vector<NameChange> pending_;
};

// Runs `operation` once untouched to count its writes and syncs, then once
// per point with the power cut there: at every `stride`th write (every
// other one torn) and at every sync. Before each run `prepare` sets up the
// files; after it, with the fault file system installed and the disk
// rebooted, `check` inspects them (its argument names the point: "write
// 3", "sync 1", or "none" after the untouched run). Errors the operation
// throws at the cut are expected and dropped, with the deferred ones.
// Returns the number of points tried.
int PowerCutAtEveryPoint(FaultFileSystem& fs, const std::function<void()>& prepare,
                         const std::function<void()>& operation,
                         const std::function<void(const std::string& point)>& check,
                         int stride = 1);

// Installs a file system for the engine while it lives (test-only hook of
// jet::SetFileSystemForTesting).
class InstalledFileSystem {
 public:
  explicit InstalledFileSystem(jet::FileSystem& fs) { jet::SetFileSystemForTesting(&fs); }
  ~InstalledFileSystem() { jet::SetFileSystemForTesting(nullptr); }
  InstalledFileSystem(const InstalledFileSystem&) = delete;
  InstalledFileSystem& operator=(const InstalledFileSystem&) = delete;
};

}  // namespace testing_support
