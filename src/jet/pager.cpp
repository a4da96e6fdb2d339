#include "jet/pager.h"

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <mutex>
#include <new>
#include <random>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "jet/file.h"
#include "jet/header.h"
#include "jet/local_time.h"
#include "jet/rc4.h"
#include "jet/text.h"

namespace jet {

namespace {

// Days between 1899-12-30, the engine's date origin, and 1970-01-01.
constexpr double kUnixEpochDays = 25569.0;

struct Frame {
  uint32_t page = 0;
  bool dirty = false;
  uint64_t moved = 0;     // the pager's move count when it last went to the front
  Frame* prev = nullptr;  // towards most recently used
  Frame* next = nullptr;
  uint8_t* data = nullptr;  // from the pager's PageArena
};

// Page images, carved from 2 MiB blocks that the kernel may back with huge
// pages where it offers them. Index searches hop across thousands of
// cached pages; with one translation per block instead of per page they
// miss the TLB far less. Blocks are taken as frames are first needed, and
// kept (for reuse) until the pager goes, so the cache budget bounds them.
class PageArena {
 public:
  explicit PageArena(size_t page_size) : page_size_(page_size) {}
  ~PageArena() {
    for (uint8_t* b : blocks_) ::operator delete(b, std::align_val_t{kBlockSize});
  }
  PageArena(const PageArena&) = delete;
  PageArena& operator=(const PageArena&) = delete;

  uint8_t* Get() {
    if (free_.empty()) Grow();
    uint8_t* p = free_.back();
    free_.pop_back();
    return p;
  }
  void Put(uint8_t* p) { free_.push_back(p); }

 private:
  static constexpr size_t kBlockSize = size_t{2} << 20;

  void Grow() {
    auto* block = static_cast<uint8_t*>(::operator new(kBlockSize, std::align_val_t{kBlockSize}));
    AdviseHugePages(block, kBlockSize);
    blocks_.push_back(block);
    // Handed out from the start of the block on.
    for (size_t off = kBlockSize; off >= page_size_; off -= page_size_) free_.push_back(block + off - page_size_);
  }

  size_t page_size_;
  std::vector<uint8_t*> blocks_;
  std::vector<uint8_t*> free_;
};

class FilePager;

struct RegistryEntry {
  std::weak_ptr<FilePager> pager;
  FilePager* raw = nullptr;
  uint64_t pid = 0;  // a forked child must not reuse its parent's pagers
};

// Recursive: the last handle may go while Open holds the lock (a failed
// upgrade unwinding), and the destructor takes it again.
struct Registry {
  std::recursive_mutex mu;
  std::unordered_map<std::string, RegistryEntry> pagers;
};

Registry& GetRegistry() {
  static Registry* r = new Registry;  // outlives static destruction
  return *r;
}

bool AllZero(const uint8_t* p, size_t n) {
  for (size_t i = 0; i < n; ++i)
    if (p[i]) return false;
  return true;
}

double NowAsJetDate() {
  const std::time_t t = std::time(nullptr);
  return kUnixEpochDays + static_cast<double>(t + LocalTimeAt(t).utc_offset_seconds) / 86400.0;
}

uint32_t RandomDatabaseKey() {
  std::random_device rd;
  uint32_t key = 0;
  while (key == 0) key = static_cast<uint32_t>(rd());
  return key;
}

// Maquetor processes keep out of each other's way with advisory locks on
// two bytes past 4 GiB, beyond every byte the Jet engine locks in a file of
// at most 2 GB, so neither disturbs the other's locking:
// - the open byte: every open holds it shared, an exclusive open alone;
// - the writer byte: every open that may write holds it alone.
// Readers thus read beside one writer; a second writer, or anyone beside an
// exclusive open, is refused.
constexpr uint64_t kOpenLockByte = uint64_t{1} << 32;
constexpr uint64_t kWriterLockByte = kOpenLockByte + 1;

// Takes the locks of an open on a handle that holds none. Errors: 3356
// another process holds the file exclusively, 3045 it holds it otherwise
// (a writer, or any open when this one is exclusive). A handle refused may
// hold some of them: close it.
void TakeLocks(File& file, bool write, bool exclusive, const std::string& path) {
  if (!file.TryLock(kOpenLockByte, exclusive)) {
    const bool other_exclusive = !exclusive || !file.TryLock(kOpenLockByte, false);
    throw other_exclusive ? JetError(kErrLockedExclusive) : JetError(kErrFileInUse, path);
  }
  if (write && !file.TryLock(kWriterLockByte, true)) throw JetError(kErrFileInUse, path);
}

// Whether a file some program keeps us from writing is in exclusive use:
// even a reader is refused, by its share mode or by an exclusive open lock.
bool HeldExclusively(const std::string& path) {
  try {
    auto probe = CurrentFileSystem().Open(path, FileAccess::kRead);
    return !probe->TryLock(kOpenLockByte, false);
  } catch (const JetError& e) {
    return e.number() == kErrLockedExclusive;
  }
}

// A handle on the file; with `write_access` for writing or exclusive locks.
std::unique_ptr<File> OpenHandle(const std::string& path, bool write_access) {
  try {
    return CurrentFileSystem().Open(path, write_access ? FileAccess::kReadWrite : FileAccess::kRead);
  } catch (const JetError& e) {
    if (write_access && e.number() == kErrFileInUse && HeldExclusively(path)) {
      throw JetError(kErrLockedExclusive);
    }
    throw;
  }
}

// The office application (the Jet engine) keeps <name>.ldb open beside a
// database it has open, whatever the case of the name.
void CheckNotInOfficeUse(const std::string& path) {
  std::filesystem::path ldb(
      std::u8string(reinterpret_cast<const char8_t*>(path.data()), path.size()));
  ldb.replace_extension(u8".ldb");
  const std::u8string name = ldb.u8string();
  if (LockFileHeld(std::string(reinterpret_cast<const char*>(name.data()), name.size()))) {
    throw JetError(kErrFileInUse, path);
  }
}

// Copies of a database beside it are named "<name>.~mq" and eight hex
// digits: a copy being written, or a new database not yet in place.
constexpr std::string_view kCopyMark = ".~mq";
constexpr size_t kCopyDigits = 8;

bool IsCopyOf(const std::string& entry, const std::string& name) {
  const size_t stem = name.size() + kCopyMark.size();
  if (entry.size() != stem + kCopyDigits || !NamesEqual(entry.substr(0, name.size()), name) ||
      entry.compare(name.size(), kCopyMark.size(), kCopyMark) != 0) {
    return false;
  }
  return std::all_of(entry.begin() + static_cast<std::ptrdiff_t>(stem), entry.end(),
                     [](char c) { return std::isxdigit(static_cast<unsigned char>(c)) != 0; });
}

// Removes the copies of `target` that nobody holds: left by a process that
// died before it could put them in place or remove them. A live copy's
// writer byte is locked (and on Windows the copy is open for writing, so
// the probe cannot even open it).
void RemoveLeftoverCopies(const std::string& target) {
  FileSystem& fs = CurrentFileSystem();
  const std::string folder = FolderOf(target);
  const std::string name = NameOf(target);
  for (const std::string& entry : FolderEntries(folder)) {
    if (!IsCopyOf(entry, name)) continue;
    const std::string path = JoinPath(folder, entry);
    try {
      auto probe = fs.Open(path, FileAccess::kReadWrite);
      if (!probe->TryLock(kWriterLockByte, true)) continue;
    } catch (const JetError&) {
      continue;
    }
    fs.Remove(path);
  }
}

// A new copy of `target` beside it, holding the locks of a writer
// (exclusive or not). Errors of FileSystem::Create, with the folder's.
std::unique_ptr<File> NewCopyFile(const std::string& target, bool exclusive, std::string* name) {
  static std::mutex random_mu;
  static std::mt19937 random{std::random_device{}()};
  FileSystem& fs = CurrentFileSystem();
  for (int attempt = 0;; ++attempt) {
    char digits[kCopyDigits + 1];
    {
      std::lock_guard<std::mutex> lock(random_mu);
      std::snprintf(digits, sizeof digits, "%08x", static_cast<unsigned>(random()));
    }
    *name = target + std::string(kCopyMark) + digits;
    std::unique_ptr<File> file;
    try {
      file = fs.Create(*name);
    } catch (const JetError& e) {
      if (e.number() == kErrDatabaseExists && attempt < 16) continue;
      if (e.number() == kErrPathNotFound) throw JetError(kErrPathNotFound, target);
      throw;
    }
    // Another process clearing leftovers may hold the new file for an
    // instant, and remove it: such a name is given up for another.
    try {
      TakeLocks(*file, true, exclusive, target);
      if (CanonicalPath(*name).empty()) throw JetError(kErrFileInUse);
      return file;
    } catch (const JetError&) {
      file.reset();
      fs.Remove(*name);
      if (attempt >= 16) throw;
    }
  }
}

// Where `path` is or would be: its canonical path when it exists, else its
// folder's followed by its name; empty when the folder does not exist.
std::string CanonicalTarget(const std::string& path) {
  std::string real = CanonicalPath(path);
  if (!real.empty()) return real;
  const std::string folder = CanonicalPath(FolderOf(path));
  if (folder.empty()) return {};
  return JoinPath(folder, NameOf(path));
}

class FilePager final : public Pager {
 public:
  // `handle_writes`: `file` was opened kReadWrite (for writing, or to lock
  // exclusively); it holds the locks TakeLocks gave it.
  FilePager(std::string path, std::string key, std::unique_ptr<File> file, bool handle_writes,
            bool writable, bool exclusive)
      : path_(std::move(path)),
        key_(std::move(key)),
        file_(std::move(file)),
        handle_writes_(handle_writes),
        writable_(writable),
        exclusive_(exclusive),
        format_(&Jet4Format()),
        arena_(Jet4Format().page_size) {}

  ~FilePager() override {
    std::lock_guard<std::recursive_mutex> lock(GetRegistry().mu);
    if (work_) {
      try {
        Commit();
      } catch (const JetError& e) {
        DeferError(e);
      }
    }
    for (Frame* f = lru_head_; f;) {
      Frame* n = f->next;
      FreeFrame(f);
      f = n;
    }
    mapping_.reset();
    file_.reset();  // releases the locks
    DropCopy();
    auto& map = GetRegistry().pagers;
    auto it = map.find(key_);
    if (it != map.end() && it->second.raw == this) map.erase(it);
  }

  // Reads and checks page 0, then the password.
  void Load(const std::string& password) {
    const uint64_t size = file_->Size();
    uint8_t prefix[0x20];
    const IoBuffer one{prefix, sizeof prefix};
    const size_t got = file_->ReadAt(0, {&one, 1});
    format_ = &DetectFormat(ByteView(prefix, got));
    if (size < format_->page_size) throw JetError(kErrNotADatabase);
    page_count_ = static_cast<uint32_t>(size / format_->page_size);
    index_.assign(page_count_, nullptr);
    header_ = ParseHeader(*format_, Read(0));
    CheckPassword(header_, password);
    MapIfReadOnly();
  }

  // A new database, built in `copy` (named `copy_name`) until its first
  // commit; page 0 waits in the cache.
  void Init(const HeaderInfo& h, std::unique_ptr<File> copy, std::string copy_name) {
    work_ = std::move(copy);
    work_name_ = std::move(copy_name);
    creating_ = true;
    format_ = &Jet4Format();
    header_ = h;
    Bytes page0 = BuildJet4Header(h);
    page_count_ = 1;
    index_.assign(1, nullptr);
    Frame* f = AcquireFrame(0);
    std::memcpy(f->data, page0.data(), format_->page_size);
    f->dirty = true;
  }

  // Brings the pager up to what another handle asks for: writing takes the
  // writer lock, exclusive use the open lock alone. Refused, the pager is
  // left as it was.
  void Upgrade(bool want_write, bool want_exclusive) {
    const bool write = writable_ || want_write;
    const bool excl = exclusive_ || want_exclusive;
    if (write == writable_ && excl == exclusive_) return;
    if (failed_) throw JetError(failed_, path_);
    if (handle_writes_) {
      UpgradeInPlace(write, excl);
    } else {
      // A read-only handle can neither write nor lock exclusively: a new
      // one takes over. The old one's shared open lock would stand in the
      // way of an exclusive one, so it goes first.
      std::unique_ptr<File> next = OpenHandle(path_, true);
      if (excl) file_->Unlock(kOpenLockByte);
      try {
        TakeLocks(*next, write, excl, path_);
        CheckNotInOfficeUse(path_);
      } catch (...) {
        next.reset();
        if (excl) file_->TryLock(kOpenLockByte, false);
        throw;
      }
      // A mapping keeps the old handle's file open after it closes, and
      // its locks with it: they are let go first.
      file_->Unlock(kOpenLockByte);
      file_ = std::move(next);
      handle_writes_ = true;
    }
    if (write && !writable_ && mapping_) {
      // Pages now come from the cache, which sees this process's writes.
      // The mapping stays (views of it may still be held) but gives back
      // its memory.
      mapping_->Release();
      mapped_ = false;
    }
    writable_ = write;
    exclusive_ = excl;
  }

  const Format& format() const override { return *format_; }
  const HeaderInfo& header() const override { return header_; }
  const std::string& path() const override { return path_; }
  bool writable() const override { return writable_; }
  uint32_t page_count() const override { return page_count_; }
  size_t cached_bytes() const override { return frame_count_ * format_->page_size; }

  ByteView Read(uint32_t page) override {
    if (page == last_page_ && last_frame_) return ByteView(last_frame_->data, format_->page_size);
    ++page_reads_;
    if (failed_) throw JetError(failed_, path_);
    if (page >= page_count_) throw JetError(kErrCorrupt, path_);
    Frame* f = index_[page];
    if (f) {
      Touch(f);
    } else if (mapped_ && page != 0) {
      // Index pages are searched over and over, hopping from page to page:
      // they are copied into the cache, whose memory the processor reaches
      // faster. Other pages are read where they are mapped.
      const uint8_t* at = map_ + size_t{page} * format_->page_size;
      ByteView mapped = ReadMapped(page);
      if (at[0] != static_cast<uint8_t>(PageType::kIndexNode) &&
          at[0] != static_cast<uint8_t>(PageType::kIndexLeaf)) {
        return mapped;
      }
      f = AcquireFrame(page);
      std::memcpy(f->data, at, format_->page_size);
    } else {
      f = AcquireFrame(page);
      LoadFrames(f, ReadAhead(page));
    }
    last_page_ = page;
    last_frame_ = f;
    return ByteView(f->data, format_->page_size);
  }

  void Write(uint32_t page, ByteView data) override {
    if (!writable_) throw JetError(kErrReadOnly);
    if (data.size() != format_->page_size) throw JetError(kErrInvalidArgument);
    if (page >= page_count_) throw JetError(kErrInvalidArgument);
    BeginWriting();
    HeaderInfo parsed;
    if (page == 0) {
      parsed = ParseHeader(*format_, data);
      if (parsed.db_key != header_.db_key) throw JetError(kErrInvalidOperation);
    }
    Frame* f = index_[page];
    if (f) {
      Touch(f);
    } else {
      f = AcquireFrame(page);
    }
    if (f->data != data.data()) std::memmove(f->data, data.data(), data.size());
    f->dirty = true;
    last_page_ = page;
    last_frame_ = f;
    if (page == 0) header_ = std::move(parsed);
  }

  std::span<uint8_t> Modify(uint32_t page) override {
    if (!writable_) throw JetError(kErrReadOnly);
    if (page == 0) throw JetError(kErrInvalidArgument);
    BeginWriting();
    Read(page);
    last_frame_->dirty = true;
    return std::span<uint8_t>(last_frame_->data, format_->page_size);
  }

  uint32_t Allocate() override {
    if (!writable_) throw JetError(kErrReadOnly);
    if (page_count_ == UINT32_MAX >> 8) throw JetError(kErrDatabaseFull);
    BeginWriting();
    uint32_t page = page_count_;
    index_.push_back(nullptr);
    ++page_count_;
    Frame* f = AcquireFrame(page);
    std::memset(f->data, 0, format_->page_size);
    f->dirty = true;
    last_page_ = page;
    last_frame_ = f;
    return page;
  }

  // Retired pages leave together, once there are enough of them to be
  // written in runs; their frames are the next ones handed out, so a file
  // written page after page keeps reusing the same few frames instead of
  // filling the whole budget with pages it will not read again.
  void Retire(uint32_t page) override {
    if (failed_ || page >= page_count_ || !index_[page]) return;
    retired_.push_back(page);
    if (retired_.size() < kWriteRunMax) return;
    std::sort(retired_.begin(), retired_.end());
    for (uint32_t p : retired_) {
      if (Frame* f = index_[p]) Evict(f);
    }
    // The disk is handed a few megabytes at a time: fewer, larger requests.
    out_first_ = std::min(out_first_, retired_.front());
    out_last_ = std::max(out_last_, retired_.back());
    if (out_last_ - out_first_ + 1 >= kWriteOutPages) {
      StartWriteOut(out_first_, out_last_);
      out_first_ = UINT32_MAX;
      out_last_ = 0;
    }
    retired_.clear();
  }

  void Flush(bool sync = true) override {
    if (failed_) throw JetError(failed_, path_);
    std::vector<Frame*> dirty;
    for (Frame* f = lru_head_; f; f = f->next)
      if (f->dirty) dirty.push_back(f);
    if (dirty.empty() && !sync) return;
    std::sort(dirty.begin(), dirty.end(), [](Frame* a, Frame* b) { return a->page < b->page; });
    for (Frame* f : dirty)
      if (f->dirty) WriteBack(f);  // a run that began before it may have taken it
    if (sync && work_) Guarded([&] { work_->Sync(); });
  }

  void Commit() override {
    if (failed_) throw JetError(failed_, path_);
    if (!work_) return;
    FileSystem& fs = CurrentFileSystem();
    Flush(false);
    FillFromFile();
    Guarded([&] { work_->Sync(); });
    // Views of the old file go (they are good until the next pager call);
    // where an open file cannot be replaced, our own handle goes first.
    mapping_.reset();
    map_ = nullptr;
    mapped_ = false;
    if (!CanReplaceOpenFile()) file_.reset();
    Guarded([&] { fs.Rename(work_name_, path_, !creating_); });
    file_ = std::move(work_);
    work_name_.clear();
    in_copy_.clear();
    copy_from_ = 0;
    creating_ = false;
    handle_writes_ = true;
    fs.SyncFolder(FolderOf(path_));
  }

  void Discard() override {
    if (failed_ == 0) failed_ = kErrObjectClosed;
    Abandon();
  }

  bool failed() const override { return failed_ != 0; }

  void SetCacheBudget(size_t bytes) override {
    budget_ = bytes;
    while (OverBudget(0)) Evict(lru_tail_);
  }

 private:
  // Upgrade on a handle that may already write and lock exclusively (the
  // office application was looked for when it was opened). The copy, which
  // takes the file's place at the next commit, takes its locks along; a
  // new database has only the copy.
  void UpgradeInPlace(bool write, bool excl) {
    const bool convert = excl && !exclusive_;
    if (file_) {
      if (convert && !file_->TryLock(kOpenLockByte, true)) throw JetError(kErrFileInUse, path_);
      if (write && !writable_ && !file_->TryLock(kWriterLockByte, true)) {
        if (convert) file_->TryLock(kOpenLockByte, false);
        throw JetError(kErrFileInUse, path_);
      }
    }
    if (convert && work_) work_->TryLock(kOpenLockByte, true);
  }

  // The handle reads go to: the copy once there is one.
  // Where `page` is read from: the copy once it holds the page (written
  // there, or past the file's end), else the file, which nobody else writes
  // while we hold the writer's lock.
  bool InCopy(uint32_t page) const {
    return work_ && (!file_ || page >= copy_from_ || (page < in_copy_.size() && in_copy_[page]));
  }
  File& Source(uint32_t page) { return InCopy(page) ? *work_ : *file_; }

  // Before the first change since the open or the last commit: the copy
  // that takes the changes. Pages not changed are copied into it only at
  // the commit, so that an operation that rewrites most of the file does
  // not copy it first.
  void BeginWriting() {
    if (failed_) throw JetError(failed_, path_);
    if (work_) return;
    std::string name;
    Guarded([&] {
      std::unique_ptr<File> copy = NewCopyFile(path_, exclusive_, &name);
      work_ = std::move(copy);
      work_name_ = name;
      file_size_ = file_->Size();
      copy_from_ = static_cast<uint32_t>(file_size_ / format_->page_size);
      in_copy_.assign(copy_from_, false);
    });
  }

  // Copies into the copy the file's pages it does not hold yet, and any
  // bytes past the file's last whole page.
  void FillFromFile() {
    if (!file_) return;
    const uint64_t ps = format_->page_size;
    Guarded([&] {
      for (uint32_t p = 0; p < copy_from_;) {
        if (in_copy_[p]) {
          ++p;
          continue;
        }
        uint32_t end = p;
        while (end < copy_from_ && !in_copy_[end]) ++end;
        work_->CopyRangeFrom(*file_, p * ps, uint64_t{end - p} * ps);
        p = end;
      }
      const uint64_t tail = uint64_t{copy_from_} * ps;
      if (page_count_ == copy_from_ && file_size_ > tail) {
        work_->CopyRangeFrom(*file_, tail, file_size_ - tail);
      }
    });
  }

  // Runs a step that writes; a failure fails the pager.
  template <typename Step>
  void Guarded(Step&& step) {
    try {
      step();
    } catch (const JetError& e) {
      failed_ = e.number();
      Abandon();
      throw JetError(e.number(), path_);
    }
  }

  // Forgets every change not yet in place: the cached pages that differ
  // from the file, and the copy. A new database has no file to go back to.
  void Abandon() {
    for (Frame* f = lru_head_; f;) {
      Frame* n = f->next;
      Unlink(f);
      index_[f->page] = nullptr;
      --frame_count_;
      FreeFrame(f);
      f = n;
    }
    last_frame_ = nullptr;
    last_page_ = UINT32_MAX;
    retired_.clear();
    DropCopy();
  }

  void DropCopy() {
    if (work_name_.empty()) return;
    work_.reset();
    CurrentFileSystem().Remove(work_name_);
    work_name_.clear();
  }

  // With a mapping, the cache's frames and what the mapping brings in
  // share the budget half and half.
  size_t FrameBudget() const { return mapped_ ? budget_ / 2 : budget_; }

  bool OverBudget(size_t extra_frames) const {
    size_t frames = frame_count_ + extra_frames;
    return frames > kMinCachedPages && frames * format_->page_size > FrameBudget();
  }

  void Unlink(Frame* f) {
    (f->prev ? f->prev->next : lru_head_) = f->next;
    (f->next ? f->next->prev : lru_tail_) = f->prev;
    f->prev = f->next = nullptr;
  }

  void PushFront(Frame* f) {
    f->moved = ++moves_;
    f->next = lru_head_;
    f->prev = nullptr;
    if (lru_head_) lru_head_->prev = f;
    lru_head_ = f;
    if (!lru_tail_) lru_tail_ = f;
  }

  // A frame moved to the front lately stays where it is: fewer than a
  // quarter of the cache can have gone in front of it since, so it is far
  // from eviction, and reading a page in use does not relink (and fetch)
  // its neighbours.
  void Touch(Frame* f) {
    if (f == lru_head_ || moves_ - f->moved < frame_count_ / 4) return;
    Unlink(f);
    PushFront(f);
  }

  void Evict(Frame* f) {
    if (f->dirty) WriteBack(f);
    Unlink(f);
    index_[f->page] = nullptr;
    if (last_frame_ == f) last_frame_ = nullptr;
    --frame_count_;
    FreeFrame(f);
  }

  // A frame for `page`, registered and most recently used; its bytes are
  // whatever the caller puts there. Reuses the least recently used frame
  // when the cache is full.
  Frame* AcquireFrame(uint32_t page) {
    Frame* f = nullptr;
    if (lru_tail_ && OverBudget(1)) {
      f = lru_tail_;
      if (f->dirty) WriteBack(f);
      Unlink(f);
      index_[f->page] = nullptr;
      if (last_frame_ == f) last_frame_ = nullptr;
      while (lru_tail_ && OverBudget(0)) Evict(lru_tail_);
    } else {
      f = new Frame;
      f->data = arena_.Get();
      ++frame_count_;
    }
    f->page = page;
    f->dirty = false;
    index_[page] = f;
    PushFront(f);
    return f;
  }

  // A file opened read-only and not encrypted is read where the kernel
  // keeps it, through a shared read-only mapping: no copy into the cache and
  // no call per page. Page 0 (its header block masked) still goes through
  // the cache. Without a mapping (refused, or an empty file) nothing changes.
  void MapIfReadOnly() {
    if (writable_ || header_.db_key != 0 || page_count_ < 2) return;
    const size_t len = size_t{page_count_} * format_->page_size;
    mapping_ = file_->MapReadOnly(len);
    if (!mapping_) return;
    map_ = mapping_->data();
    mapped_ = true;
    map_seen_.assign(len / kMapChunk + 1, 0);
  }

  // A mapped page. What the mapping has brought in counts against the cache
  // budget, by the 64 KiB stretches the kernel maps at a time around a
  // page read: past the budget, all of it is let go (a later read brings a
  // page back unchanged, so views handed out stay good) and counting starts
  // again.
  ByteView ReadMapped(uint32_t page) {
    const size_t ps = format_->page_size;
    const size_t chunk = size_t{page} * ps / kMapChunk;
    if (map_seen_[chunk] != map_round_) {
      map_seen_[chunk] = map_round_;
      map_bytes_ += kMapChunk;
      if (map_bytes_ > std::max(budget_ - FrameBudget(), kMinCachedPages * ps)) {
        mapping_->Release();
        map_bytes_ = kMapChunk;
        if (++map_round_ == 0) {  // wrapped: every stretch unseen again
          std::fill(map_seen_.begin(), map_seen_.end(), 0);
          map_round_ = 1;
        }
        map_seen_[chunk] = map_round_;
      }
    }
    return ByteView(map_ + size_t{page} * ps, ps);
  }

  // How many pages after `page` to read along with it: none for a miss out
  // of order; for misses in page order (a table or a long value read
  // through) a window that doubles up to kReadAheadMax. Only pages not
  // cached count, and only while the cache is large enough that the window
  // cannot push out the page being read.
  uint32_t ReadAhead(uint32_t page) {
    if (page != next_miss_ || budget_ / format_->page_size < 8 * kReadAheadMax) {
      ahead_ = 0;
      next_miss_ = page + 1;
      return 0;
    }
    ahead_ = std::clamp<uint32_t>(ahead_ * 2, 4, kReadAheadMax);
    uint32_t n = 0;
    while (n < ahead_ && page + n + 1 < page_count_ && !index_[page + n + 1]) ++n;
    next_miss_ = page + n + 1;
    return n;
  }

  // Fills `f` and the `ahead` pages after it (acquired here) in one read.
  void LoadFrames(Frame* f, uint32_t ahead) {
    const size_t ps = format_->page_size;
    // One read reaches one file: the batch ends where the source changes.
    for (uint32_t i = 1; i <= ahead; ++i) {
      if (InCopy(f->page + i) != InCopy(f->page)) {
        ahead = i - 1;
        break;
      }
    }
    Frame* batch[1 + kReadAheadMax];
    batch[0] = f;
    for (uint32_t i = 1; i <= ahead; ++i) batch[i] = AcquireFrame(f->page + i);
    iov_.clear();
    for (uint32_t i = 0; i <= ahead; ++i) iov_.push_back(IoBuffer{batch[i]->data, ps});
    size_t got = 0;
    try {
      got = Source(f->page).ReadAt(uint64_t{f->page} * ps, iov_);
    } catch (const JetError&) {
      for (uint32_t i = 0; i <= ahead; ++i) DropFrame(batch[i]);
      throw;
    }
    for (uint32_t i = 0; i <= ahead; ++i) {
      const size_t have = got > i * ps ? std::min(ps, got - i * ps) : 0;
      std::memset(batch[i]->data + have, 0, ps - have);
      Decode(batch[i]);
    }
  }

  // Turns the page as stored into the page as read.
  void Decode(Frame* f) {
    const size_t ps = format_->page_size;
    std::span<uint8_t> bytes(f->data, ps);
    if (f->page == 0) {
      ToggleHeaderMask(*format_, bytes);
    } else if (header_.db_key != 0 && !AllZero(f->data, ps)) {
      Rc4XorWithKey32(header_.db_key ^ f->page, bytes);
    }
  }

  void FreeFrame(Frame* f) {
    arena_.Put(f->data);
    delete f;
  }

  void DropFrame(Frame* f) {
    Unlink(f);
    index_[f->page] = nullptr;
    --frame_count_;
    FreeFrame(f);
  }

  // Pages written out and not read again: the disk may start taking them
  // now rather than all at once when the file is synced on close. A hint;
  // where the system has no such call, nothing happens.
  void StartWriteOut(uint32_t first, uint32_t last) {
    const uint64_t ps = format_->page_size;
    if (work_) work_->StartWriteOut(first * ps, (last - first + 1) * ps);
  }

  // Writes `f` together with the changed pages cached next to it, up to
  // kWriteRunMax pages, in one call: pages evicted or flushed in file order
  // (new data pages, a table written through) go out a run at a time.
  void WriteBack(Frame* f) {
    uint32_t first = f->page, last = f->page;
    auto dirty = [&](uint32_t p) { return index_[p] && index_[p]->dirty; };
    while (last + 1 < page_count_ && last - first + 1 < kWriteRunMax && dirty(last + 1)) ++last;
    while (first > 0 && last - first + 1 < kWriteRunMax && dirty(first - 1)) --first;
    const size_t ps = format_->page_size;
    iov_.clear();
    size_t copies = 0;
    for (uint32_t p = first; p <= last; ++p) {
      uint8_t* src = index_[p]->data;
      // Page 0 and encrypted pages go out transformed, from a copy.
      if (p == 0 || header_.db_key != 0) {
        if (scratch_.size() < (copies + 1) * ps) scratch_.resize(size_t{kWriteRunMax} * ps);
        uint8_t* copy = scratch_.data() + copies++ * ps;
        std::memcpy(copy, src, ps);
        std::span<uint8_t> bytes(copy, ps);
        if (p == 0) {
          ToggleHeaderMask(*format_, bytes);
        } else {
          Rc4XorWithKey32(header_.db_key ^ p, bytes);
        }
        src = copy;
      }
      iov_.push_back(IoBuffer{src, ps});
    }
    Guarded([&] { work_->WriteAt(uint64_t{first} * ps, iov_); });
    for (uint32_t p = first; p <= last; ++p) {
      index_[p]->dirty = false;
      if (p < in_copy_.size()) in_copy_[p] = true;
    }
  }

  static constexpr size_t kMapChunk = size_t{64} << 10;
  static constexpr uint32_t kReadAheadMax = 32;
  static constexpr uint32_t kWriteRunMax = 64;
  static constexpr uint32_t kWriteOutPages = 1024;

  const std::string path_;  // canonical
  const std::string key_;   // in the registry
  std::unique_ptr<File> file_;  // the file at path_, holding the locks; null while creating
  std::unique_ptr<File> work_;  // the copy changes go to, once there are any
  std::string work_name_;       // its path
  uint64_t file_size_ = 0;      // of the file when the copy began
  uint32_t copy_from_ = 0;      // pages from here on are read from the copy
  std::vector<bool> in_copy_;   // pages below copy_from_ the copy holds
  bool creating_ = false;       // a new database: path_ does not exist yet
  int failed_ = 0;              // the error that failed the pager
  bool handle_writes_;
  bool writable_;
  bool exclusive_;
  const Format* format_;
  HeaderInfo header_;
  uint32_t page_count_ = 0;
  size_t budget_ = kDefaultCacheBudget;
  size_t frame_count_ = 0;
  uint64_t moves_ = 0;  // frames put at the front so far
  std::vector<Frame*> index_;  // page number -> cached frame or null
  Frame* lru_head_ = nullptr;
  Frame* lru_tail_ = nullptr;
  uint32_t last_page_ = UINT32_MAX;
  Frame* last_frame_ = nullptr;
  PageArena arena_;
  Bytes scratch_;  // transformed copies of pages being written
  std::vector<uint32_t> retired_;  // pages to leave the cache at the next batch
  uint32_t out_first_ = UINT32_MAX;  // retired pages not yet handed to the disk
  uint32_t out_last_ = 0;
  std::vector<IoBuffer> iov_;
  std::unique_ptr<FileMapping> mapping_;
  const uint8_t* map_ = nullptr;  // the whole file, when mapped
  bool mapped_ = false;           // reads come from map_
  std::vector<uint32_t> map_seen_;  // per stretch: the round it was last counted in
  uint32_t map_round_ = 1;
  size_t map_bytes_ = 0;          // counted this round
  uint32_t next_miss_ = UINT32_MAX;  // a miss on this page continues a run
  uint32_t ahead_ = 0;               // the read-ahead window, in pages
};

}  // namespace

std::shared_ptr<Pager> Pager::Open(const std::string& path, OpenMode mode, bool exclusive,
                                   const std::string& password) {
  const bool want_write = mode == OpenMode::kReadWrite;
  Registry& reg = GetRegistry();
  std::lock_guard<std::recursive_mutex> lock(reg.mu);

  // A database this process is still creating has no file yet.
  const std::string target = CanonicalTarget(path);
  auto it = target.empty() ? reg.pagers.end() : reg.pagers.find(PathKey(target));
  if (it != reg.pagers.end() && it->second.pid == CurrentProcessId()) {
    if (std::shared_ptr<FilePager> p = it->second.pager.lock()) {
      CheckPassword(p->header(), password);
      p->Upgrade(want_write, exclusive);
      return p;
    }
  }

  const std::string real = CanonicalPath(path);
  if (real.empty()) throw JetError(kErrFileNotFound, path);
  const std::string key = PathKey(real);
  const bool write_access = want_write || exclusive;
  std::unique_ptr<File> file = OpenHandle(real, write_access);
  TakeLocks(*file, want_write, exclusive, path);
  if (write_access) CheckNotInOfficeUse(real);
  RemoveLeftoverCopies(real);
  auto pager = std::make_shared<FilePager>(real, key, std::move(file), write_access, want_write,
                                           exclusive);
  pager->Load(password);
  reg.pagers[key] = RegistryEntry{pager, pager.get(), CurrentProcessId()};
  return pager;
}

std::shared_ptr<Pager> Pager::Create(const std::string& path, const HeaderInfo& header,
                                     bool encrypt) {
  if (header.version != 4) throw JetError(kErrInvalidArgument);
  HeaderInfo h = header;
  if (h.creation_date == 0) h.creation_date = NowAsJetDate();
  h.db_key = encrypt ? RandomDatabaseKey() : 0;
  Registry& reg = GetRegistry();
  std::lock_guard<std::recursive_mutex> lock(reg.mu);

  const std::string target = CanonicalTarget(path);
  if (target.empty()) throw JetError(kErrPathNotFound, path);
  if (!CanonicalPath(path).empty()) throw JetError(kErrDatabaseExists, path);
  const std::string key = PathKey(target);
  auto it = reg.pagers.find(key);
  if (it != reg.pagers.end() && it->second.pid == CurrentProcessId() &&
      !it->second.pager.expired()) {
    throw JetError(kErrDatabaseExists, path);
  }
  RemoveLeftoverCopies(target);
  std::string copy_name;
  std::unique_ptr<File> copy = NewCopyFile(target, false, &copy_name);
  auto pager = std::make_shared<FilePager>(target, key, nullptr, true, true, false);
  pager->Init(h, std::move(copy), std::move(copy_name));
  reg.pagers[key] = RegistryEntry{pager, pager.get(), CurrentProcessId()};
  return pager;
}

}  // namespace jet
