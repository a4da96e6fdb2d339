#include "jet/pager.h"

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <mutex>
#include <new>
#include <random>
#include <unordered_map>
#include <vector>

#include <fcntl.h>
#include <sys/file.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <sys/uio.h>
#include <unistd.h>

#include "jet/header.h"
#include "jet/rc4.h"

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
    for (uint8_t* b : blocks_) std::free(b);
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
    auto* block = static_cast<uint8_t*>(std::aligned_alloc(kBlockSize, kBlockSize));
    if (!block) throw std::bad_alloc();
#if defined(MADV_HUGEPAGE)
    ::madvise(block, kBlockSize, MADV_HUGEPAGE);  // a hint; refusal changes nothing
#endif
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
  pid_t pid = 0;  // a forked child must not reuse its parent's pagers
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

// Moves past the `done` bytes a vectored call took: whole buffers from
// `first` on, then part of the next.
void Consume(std::vector<iovec>& iov, size_t& first, size_t done) {
  while (first < iov.size() && done >= iov[first].iov_len) done -= iov[first++].iov_len;
  if (done > 0) {
    iov[first].iov_base = static_cast<uint8_t*>(iov[first].iov_base) + done;
    iov[first].iov_len -= done;
  }
}

int IovCount(const std::vector<iovec>& iov, size_t first) {
  return static_cast<int>(std::min<size_t>(iov.size() - first, IOV_MAX));
}

// Writes the buffers back to back from `off` on; `iov` is used up.
void WriteAllAt(int fd, std::vector<iovec>& iov, off_t off) {
  size_t first = 0;
  while (first < iov.size()) {
    ssize_t r = ::pwritev(fd, iov.data() + first, IovCount(iov, first), off);
    if (r < 0) {
      if (errno == EINTR) continue;
      throw JetError(kErrDiskIo);
    }
    if (r == 0) throw JetError(kErrDiskIo);
    off += r;
    Consume(iov, first, static_cast<size_t>(r));
  }
}

// Reads buffers back to back from `off` on; false on an I/O error. Bytes past
// the end of the file are left as they are: `got` says how many came.
bool ReadAllAt(int fd, std::vector<iovec>& iov, off_t off, size_t* got) {
  size_t first = 0, done = 0;
  while (first < iov.size()) {
    ssize_t r = ::preadv(fd, iov.data() + first, IovCount(iov, first), off);
    if (r < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    if (r == 0) break;
    off += r;
    done += static_cast<size_t>(r);
    Consume(iov, first, static_cast<size_t>(r));
  }
  *got = done;
  return true;
}

bool AllZero(const uint8_t* p, size_t n) {
  for (size_t i = 0; i < n; ++i)
    if (p[i]) return false;
  return true;
}

double NowAsJetDate() {
  std::time_t t = std::time(nullptr);
  std::tm local{};
  ::localtime_r(&t, &local);
  return kUnixEpochDays + static_cast<double>(t + local.tm_gmtoff) / 86400.0;
}

uint32_t RandomDatabaseKey() {
  std::random_device rd;
  uint32_t key = 0;
  while (key == 0) key = static_cast<uint32_t>(rd());
  return key;
}

// Takes or converts this descriptor's flock without waiting.
bool TryLock(int fd, bool exclusive) {
  int op = (exclusive ? LOCK_EX : LOCK_SH) | LOCK_NB;
  while (::flock(fd, op) != 0) {
    if (errno == EINTR) continue;
    return false;
  }
  return true;
}

class FilePager final : public Pager {
 public:
  FilePager(std::string key, int fd, bool writable, bool exclusive, const Format& f)
      : key_(std::move(key)),
        fd_(fd),
        writable_(writable),
        exclusive_(exclusive),
        format_(&f),
        arena_(f.page_size) {}

  ~FilePager() override {
    std::lock_guard<std::recursive_mutex> lock(GetRegistry().mu);
    try {
      Flush();
    } catch (const JetError&) {
      // Nothing can report it from a destructor; the file keeps the last
      // successfully written state.
    }
    for (Frame* f = lru_head_; f;) {
      Frame* n = f->next;
      FreeFrame(f);
      f = n;
    }
    if (map_) ::munmap(const_cast<uint8_t*>(map_), map_len_);
    if (fd_ >= 0) ::close(fd_);  // releases the flock
    auto& map = GetRegistry().pagers;
    auto it = map.find(key_);
    if (it != map.end() && it->second.raw == this) map.erase(it);
  }

  // Reads and checks page 0, then the password.
  void Load(const std::string& password) {
    struct stat st{};
    if (::fstat(fd_, &st) != 0) throw JetError(kErrDiskIo);
    if (!S_ISREG(st.st_mode)) throw JetError(kErrNotADatabase);
    uint8_t prefix[0x20];
    size_t got = 0;
    std::vector<iovec> one{iovec{prefix, sizeof prefix}};
    if (!ReadAllAt(fd_, one, 0, &got)) throw JetError(kErrDiskIo);
    format_ = &DetectFormat(ByteView(prefix, got));
    if (static_cast<uint64_t>(st.st_size) < format_->page_size) throw JetError(kErrNotADatabase);
    page_count_ = static_cast<uint32_t>(static_cast<uint64_t>(st.st_size) / format_->page_size);
    index_.assign(page_count_, nullptr);
    header_ = ParseHeader(*format_, Read(0));
    CheckPassword(header_, password);
    MapIfReadOnly();
  }

  // A new file: writes page 0 at once so the file is a valid database.
  void Init(const HeaderInfo& h) {
    format_ = &Jet4Format();
    header_ = h;
    Bytes page0 = BuildJet4Header(h);
    page_count_ = 1;
    index_.assign(1, nullptr);
    Frame* f = AcquireFrame(0);
    std::memcpy(f->data, page0.data(), format_->page_size);
    f->dirty = true;
    Flush();
  }

  // Brings the pager up to what another handle asks for.
  void Upgrade(bool want_write, bool want_exclusive) {
    if (want_write && !writable_) {
      int nfd = ::open(key_.c_str(), O_RDWR | O_CLOEXEC);
      if (nfd < 0) throw JetError(errno == EACCES || errno == EROFS ? kErrReadOnly : kErrDiskIo);
      bool excl = exclusive_ || want_exclusive;
      // flock treats the two descriptors as rivals: drop the old lock first.
      ::flock(fd_, LOCK_UN);
      if (!TryLock(nfd, excl)) {
        ::close(nfd);
        TryLock(fd_, exclusive_);
        throw JetError(kErrFileInUse);
      }
      ::close(fd_);
      fd_ = nfd;
      writable_ = true;
      // Pages now come from the cache, which sees this process's writes.
      // The mapping stays (views of it may still be held) but gives back
      // its memory.
      if (map_) {
        ::madvise(const_cast<uint8_t*>(map_), map_len_, MADV_DONTNEED);
        mapped_ = false;
      }
      exclusive_ = excl;
    }
    if (want_exclusive && !exclusive_) {
      if (!TryLock(fd_, true)) {
        TryLock(fd_, false);  // a failed conversion may have dropped the shared lock
        throw JetError(kErrFileInUse);
      }
      exclusive_ = true;
    }
  }

  const Format& format() const override { return *format_; }
  const HeaderInfo& header() const override { return header_; }
  const std::string& path() const override { return key_; }
  bool writable() const override { return writable_; }
  uint32_t page_count() const override { return page_count_; }
  size_t cached_bytes() const override { return frame_count_ * format_->page_size; }

  ByteView Read(uint32_t page) override {
    if (page == last_page_ && last_frame_) return ByteView(last_frame_->data, format_->page_size);
    if (page >= page_count_) throw JetError(kErrCorrupt);
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
    Read(page);
    last_frame_->dirty = true;
    return std::span<uint8_t>(last_frame_->data, format_->page_size);
  }

  uint32_t Allocate() override {
    if (!writable_) throw JetError(kErrReadOnly);
    if (page_count_ == UINT32_MAX >> 8) throw JetError(kErrDatabaseFull);
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
    if (page >= page_count_ || !index_[page]) return;
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
    std::vector<Frame*> dirty;
    for (Frame* f = lru_head_; f; f = f->next)
      if (f->dirty) dirty.push_back(f);
    if (dirty.empty()) return;
    std::sort(dirty.begin(), dirty.end(), [](Frame* a, Frame* b) { return a->page < b->page; });
    for (Frame* f : dirty)
      if (f->dirty) WriteBack(f);  // a run that began before it may have taken it
    if (sync && ::fdatasync(fd_) != 0 && errno != EINVAL) throw JetError(kErrDiskIo);
  }

  void SetCacheBudget(size_t bytes) override {
    budget_ = bytes;
    while (OverBudget(0)) Evict(lru_tail_);
  }

 private:
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
    void* m = ::mmap(nullptr, len, PROT_READ, MAP_SHARED, fd_, 0);
    if (m == MAP_FAILED) return;
    map_ = static_cast<const uint8_t*>(m);
    map_len_ = len;
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
        ::madvise(const_cast<uint8_t*>(map_), map_len_, MADV_DONTNEED);
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
    Frame* batch[1 + kReadAheadMax];
    batch[0] = f;
    for (uint32_t i = 1; i <= ahead; ++i) batch[i] = AcquireFrame(f->page + i);
    iov_.clear();
    for (uint32_t i = 0; i <= ahead; ++i) iov_.push_back(iovec{batch[i]->data, ps});
    size_t got = 0;
    if (!ReadAllAt(fd_, iov_, static_cast<off_t>(f->page) * ps, &got)) {
      for (uint32_t i = 0; i <= ahead; ++i) DropFrame(batch[i]);
      throw JetError(kErrDiskIo);
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
#if defined(SYNC_FILE_RANGE_WRITE)
    const off_t ps = static_cast<off_t>(format_->page_size);
    ::sync_file_range(fd_, static_cast<off_t>(first) * ps,
                      static_cast<off_t>(last - first + 1) * ps, SYNC_FILE_RANGE_WRITE);
#else
    (void)first;
    (void)last;
#endif
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
      iov_.push_back(iovec{src, ps});
    }
    WriteAllAt(fd_, iov_, static_cast<off_t>(first) * ps);
    for (uint32_t p = first; p <= last; ++p) index_[p]->dirty = false;
  }

  static constexpr size_t kMapChunk = size_t{64} << 10;
  static constexpr uint32_t kReadAheadMax = 32;
  static constexpr uint32_t kWriteRunMax = 64;
  static constexpr uint32_t kWriteOutPages = 1024;

  const std::string key_;
  int fd_;
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
  std::vector<iovec> iov_;
  const uint8_t* map_ = nullptr;  // the whole file, when mapped
  size_t map_len_ = 0;
  bool mapped_ = false;           // reads come from map_
  std::vector<uint32_t> map_seen_;  // per stretch: the round it was last counted in
  uint32_t map_round_ = 1;
  size_t map_bytes_ = 0;          // counted this round
  uint32_t next_miss_ = UINT32_MAX;  // a miss on this page continues a run
  uint32_t ahead_ = 0;               // the read-ahead window, in pages
};

std::string CanonicalKey(const std::string& path) {
  std::error_code ec;
  auto p = std::filesystem::canonical(path, ec);
  if (ec) return {};
  return p.string();
}

}  // namespace

std::shared_ptr<Pager> Pager::Open(const std::string& path, OpenMode mode, bool exclusive,
                                   const std::string& password) {
  const bool want_write = mode == OpenMode::kReadWrite;
  Registry& reg = GetRegistry();
  std::lock_guard<std::recursive_mutex> lock(reg.mu);

  std::string key = CanonicalKey(path);
  if (key.empty()) throw JetError(kErrFileNotFound, path);

  auto it = reg.pagers.find(key);
  if (it != reg.pagers.end() && it->second.pid == ::getpid()) {
    if (std::shared_ptr<FilePager> p = it->second.pager.lock()) {
      CheckPassword(p->header(), password);
      p->Upgrade(want_write, exclusive);
      return p;
    }
  }

  int fd = ::open(key.c_str(), (want_write ? O_RDWR : O_RDONLY) | O_CLOEXEC);
  if (fd < 0) {
    if (errno == ENOENT || errno == ENOTDIR) throw JetError(kErrFileNotFound, path);
    if (errno == EACCES || errno == EROFS) throw JetError(want_write ? kErrReadOnly : kErrFileInUse);
    throw JetError(kErrDiskIo);
  }
  if (!TryLock(fd, exclusive)) {
    ::close(fd);
    throw JetError(kErrFileInUse, path);
  }
  auto pager = std::make_shared<FilePager>(key, fd, want_write, exclusive, Jet4Format());
  pager->Load(password);
  reg.pagers[key] = RegistryEntry{pager, pager.get(), ::getpid()};
  return pager;
}

std::shared_ptr<Pager> Pager::Create(const std::string& path, const HeaderInfo& header,
                                     bool encrypt) {
  if (header.version != 4) throw JetError(kErrInvalidArgument);
  Registry& reg = GetRegistry();
  std::lock_guard<std::recursive_mutex> lock(reg.mu);

  int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
  if (fd < 0) {
    if (errno == EEXIST) throw JetError(kErrDatabaseExists, path);
    if (errno == ENOENT || errno == ENOTDIR) throw JetError(kErrPathNotFound, path);
    if (errno == EACCES || errno == EROFS) throw JetError(kErrReadOnly);
    throw JetError(kErrDiskIo);
  }
  HeaderInfo h = header;
  if (h.creation_date == 0) h.creation_date = NowAsJetDate();
  h.db_key = encrypt ? RandomDatabaseKey() : 0;

  std::shared_ptr<FilePager> pager;
  try {
    if (!TryLock(fd, false)) throw JetError(kErrFileInUse, path);
    std::string key = CanonicalKey(path);
    pager = std::make_shared<FilePager>(key, fd, true, false, Jet4Format());
    fd = -1;  // the pager owns it now
    pager->Init(h);
    reg.pagers[key] = RegistryEntry{pager, pager.get(), ::getpid()};
  } catch (...) {
    if (fd >= 0) ::close(fd);
    pager.reset();
    ::unlink(path.c_str());
    throw;
  }
  return pager;
}

}  // namespace jet
