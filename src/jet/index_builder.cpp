#include "jet/index_builder.h"

#include <algorithm>
#include <bit>
#include <cstring>
#include <memory>
#include <set>

#include "jet/error.h"
#include "jet/index_key.h"

namespace jet {
namespace {

size_t MaxPacked(const Format& f) {
  return std::min<size_t>(IndexPageCapacity(f), f.index_entry_mask_size * 8u - 1);
}

size_t CommonLength(const Bytes& a, const Bytes& b) {
  size_t n = std::min(a.size(), b.size());
  size_t k = 0;
  while (k < n && a[k] == b[k]) ++k;
  return k;
}

// Splits entries into pages greedily: a page takes entries until the next
// one would overflow it, given the prefix all of them would share.
std::vector<std::vector<IndexEntry>> Pack(const Format& f, std::vector<IndexEntry> entries,
                                          bool leaf) {
  const size_t cap = MaxPacked(f);
  std::vector<std::vector<IndexEntry>> pages;
  std::vector<IndexEntry> cur;
  Bytes first, last;
  size_t sum = 0, prefix = 0;
  for (IndexEntry& e : entries) {
    Bytes b = EntryBytes(e, leaf);
    if (!cur.empty()) {
      size_t p = std::min(prefix, CommonLength(last, b));
      size_t packed = sum + b.size() - cur.size() * p;
      if (packed <= cap) {
        prefix = p;
        sum += b.size();
        last = std::move(b);
        cur.push_back(std::move(e));
        continue;
      }
      pages.push_back(std::move(cur));
      cur.clear();
    }
    if (b.size() > cap) throw JetError(kErrInvalidArgument);
    prefix = b.size();
    sum = b.size();
    first = b;
    last = std::move(b);
    cur.push_back(std::move(e));
  }
  if (!cur.empty() || pages.empty()) pages.push_back(std::move(cur));
  return pages;
}

// The last page of a level keeps its entries whole when they fit that way.
uint16_t ChoosePrefix(const Format& f, const std::vector<IndexEntry>& entries, bool leaf,
                      bool last_on_level) {
  if (last_on_level && PackedSize(entries, leaf, 0) <= MaxPacked(f)) return 0;
  return static_cast<uint16_t>(SharedPrefix(entries, leaf));
}

}  // namespace

IndexLayout LayoutIndex(const Format& f, std::vector<IndexEntry> sorted) {
  IndexLayout layout;
  std::vector<IndexLayout::Page> level;
  for (auto& group : Pack(f, std::move(sorted), true)) {
    IndexLayout::Page p;
    p.entries = std::move(group);
    level.push_back(std::move(p));
  }
  // Sub-tree maxima of the pages on the current level.
  std::vector<IndexEntry> maxima;
  for (const auto& p : level) maxima.push_back(p.entries.empty() ? IndexEntry{} : p.entries.back());
  bool leaf = true;
  std::vector<std::vector<IndexLayout::Page>> levels;
  std::vector<int> parent_of;  // parent index per page of the current level
  while (true) {
    for (size_t i = 0; i < level.size(); ++i) {
      level[i].leaf = leaf;
      level[i].prefix_len = ChoosePrefix(f, level[i].entries, leaf, i + 1 == level.size());
    }
    if (level.size() == 1) {
      levels.push_back(std::move(level));
      break;
    }
    std::vector<IndexEntry> up;
    for (size_t i = 0; i + 1 < level.size(); ++i) {
      IndexEntry e = maxima[i];
      e.child = static_cast<uint32_t>(i);
      up.push_back(std::move(e));
    }
    std::vector<IndexLayout::Page> parents;
    std::vector<IndexEntry> parent_max;
    for (auto& group : Pack(f, std::move(up), false)) {
      IndexLayout::Page p;
      p.entries = std::move(group);
      parents.push_back(std::move(p));
    }
    parents.back().tail = static_cast<int>(level.size() - 1);
    for (size_t i = 0; i < parents.size(); ++i)
      parent_max.push_back(i + 1 == parents.size() ? maxima.back() : parents[i].entries.back());
    // Leaves are linked end to end; intermediate pages only among siblings.
    std::vector<int> parent(level.size());
    for (size_t pi = 0; pi < parents.size(); ++pi) {
      for (const auto& e : parents[pi].entries) parent[e.child] = static_cast<int>(pi);
      if (parents[pi].tail >= 0) parent[parents[pi].tail] = static_cast<int>(pi);
    }
    for (size_t i = 0; i + 1 < level.size(); ++i) {
      if (leaf || parent[i] == parent[i + 1]) {
        level[i].next = static_cast<int>(i + 1);
        level[i + 1].prev = static_cast<int>(i);
      }
    }
    levels.push_back(std::move(level));
    level = std::move(parents);
    maxima = std::move(parent_max);
    leaf = false;
  }
  std::reverse(levels.begin(), levels.end());
  layout.levels = std::move(levels);
  return layout;
}

uint32_t WriteIndexLayout(const Format& f, const IndexLayout& layout, uint32_t tdef_page,
                          const AllocatePage& allocate, const WritePage& write) {
  std::vector<std::vector<uint32_t>> numbers(layout.levels.size());
  for (size_t l = 0; l < layout.levels.size(); ++l)
    for (size_t i = 0; i < layout.levels[l].size(); ++i) numbers[l].push_back(allocate());
  for (size_t l = 0; l < layout.levels.size(); ++l) {
    for (size_t i = 0; i < layout.levels[l].size(); ++i) {
      const IndexLayout::Page& lp = layout.levels[l][i];
      IndexPage p;
      p.leaf = lp.leaf;
      p.tdef_page = tdef_page;
      p.prefix_len = lp.prefix_len;
      p.prev_page = lp.prev >= 0 ? numbers[l][lp.prev] : 0;
      p.next_page = lp.next >= 0 ? numbers[l][lp.next] : 0;
      p.tail_page = lp.tail >= 0 ? numbers[l + 1][lp.tail] : 0;
      p.entries = lp.entries;
      if (!lp.leaf)
        for (IndexEntry& e : p.entries) e.child = numbers[l + 1][e.child];
      write(numbers[l][i], WriteIndexPage(f, p));
    }
  }
  return numbers[0][0];
}

uint32_t IndexBuilder::Build(const AllocatePage& allocate, const WritePage& write) {
  std::sort(entries_.begin(), entries_.end(),
            [](const IndexEntry& a, const IndexEntry& b) { return CompareEntries(a, b) < 0; });
  IndexLayout layout = LayoutIndex(format_, std::move(entries_));
  entries_.clear();
  return WriteIndexLayout(format_, layout, tdef_page_, allocate, write);
}

SortedIndexWriter::SortedIndexWriter(const Format& f, uint32_t tdef_page, uint32_t root,
                                     AllocatePage allocate, WritePage write)
    : format_(f),
      tdef_page_(tdef_page),
      root_(root),
      allocate_(std::move(allocate)),
      write_(std::move(write)) {}

void SortedIndexWriter::Add(ByteView key, RowId row) {
  const size_t cap = MaxPacked(format_);
  // The entry as the page stores it: the key, then the row's data page
  // (3 bytes, big-endian) and row number.
  const size_t from = stored_.size();
  stored_.insert(stored_.end(), key.begin(), key.end());
  stored_.push_back(static_cast<uint8_t>(row.page >> 16));
  stored_.push_back(static_cast<uint8_t>(row.page >> 8));
  stored_.push_back(static_cast<uint8_t>(row.page));
  stored_.push_back(row.row);
  const size_t size = stored_.size() - from;
  if (!ends_.empty()) {
    const size_t before = ends_.size() == 1 ? 0 : ends_[ends_.size() - 2];
    const size_t last = ends_.back() - before;
    size_t common = 0;
    const size_t n = std::min(last, size);
    while (common < n && stored_[before + common] == stored_[from + common]) ++common;
    const size_t p = std::min(prefix_, common);
    if (sum_ + size - ends_.size() * p <= cap) {
      prefix_ = p;
      sum_ += size;
      ends_.push_back(static_cast<uint32_t>(stored_.size()));
      row_of_last_ = row;
      return;
    }
    // The leaf is full: it goes out linked to the next one, and the new
    // entry starts the next.
    if (page_ == 0) page_ = allocate_();
    const uint32_t next = allocate_();
    WriteLeaf(page_, next, false);
    IndexEntry top;
    top.key.assign(stored_.begin() + static_cast<ptrdiff_t>(before),
                   stored_.begin() + static_cast<ptrdiff_t>(from) - 4);  // without its row pointer
    top.row = row_of_last_;
    top.child = page_;
    up_.push_back(std::move(top));
    prev_ = page_;
    page_ = next;
    stored_.erase(stored_.begin(), stored_.begin() + static_cast<ptrdiff_t>(from));
    ends_.clear();
  }
  if (size > cap) throw JetError(kErrInvalidArgument);
  prefix_ = sum_ = size;
  ends_.push_back(static_cast<uint32_t>(stored_.size()));
  row_of_last_ = row;
}

void SortedIndexWriter::WriteLeaf(uint32_t page, uint32_t next, bool last) {
  // The last leaf of the level keeps its entries whole when they fit so.
  const size_t prefix = last && sum_ <= MaxPacked(format_) ? 0 : prefix_;
  const Format& f = format_;
  image_.assign(f.page_size, 0);
  std::span<uint8_t> w(image_);
  uint8_t* out = image_.data() + f.index_first_entry_offset;
  size_t at = 0, written = 0;
  for (size_t i = 0; i < ends_.size(); ++i) {
    const size_t skip = i == 0 ? 0 : prefix;
    const size_t n = ends_[i] - at - skip;
    std::memcpy(out + written, stored_.data() + at + skip, n);
    written += n;
    at = ends_[i];
    const size_t bit = f.index_offset_entry_mask + written / 8;
    image_[bit] = static_cast<uint8_t>(image_[bit] | (1u << (written % 8)));
  }
  WriteIndexPageHeader(f, w,
                       {true, static_cast<uint16_t>(IndexPageCapacity(f) - written), tdef_page_,
                        prev_, next, 0, static_cast<uint16_t>(prefix)});
  write_(page, image_);
}

void SortedIndexWriter::Finish() {
  if (ends_.empty() && up_.empty()) return;  // the root stays the empty leaf it is
  if (up_.empty()) {
    WriteLeaf(root_, 0, true);
    return;
  }
  WriteLeaf(page_, 0, true);
  // The levels above, each from the one below: every page but the last
  // contributes its last entry; the last is named as a tail instead.
  std::vector<IndexEntry> entries = std::move(up_);
  uint32_t tail = page_;
  // Pages of the level below, waiting for their parents to be known
  // (siblings are linked only under one parent).
  std::vector<IndexPage> below;
  std::vector<uint32_t> below_numbers;
  while (true) {
    std::vector<std::vector<IndexEntry>> groups = Pack(format_, std::move(entries), false);
    const bool top = groups.size() == 1;
    std::vector<uint32_t> numbers;
    for (size_t g = 0; g < groups.size(); ++g) numbers.push_back(top ? root_ : allocate_());
    if (!below.empty()) {
      std::vector<size_t> parent(below.size());
      size_t k = 0;
      for (size_t g = 0; g < groups.size(); ++g) {
        for (size_t e = 0; e < groups[g].size(); ++e) parent[k++] = g;
      }
      parent[k] = groups.size() - 1;  // the tail
      for (size_t i = 0; i + 1 < below.size(); ++i) {
        if (parent[i] != parent[i + 1]) continue;
        below[i].next_page = below_numbers[i + 1];
        below[i + 1].prev_page = below_numbers[i];
      }
      for (size_t i = 0; i < below.size(); ++i) write_(below_numbers[i], WriteIndexPage(format_, below[i]));
    }
    std::vector<IndexPage> level(groups.size());
    for (size_t g = 0; g < groups.size(); ++g) {
      IndexPage& p = level[g];
      p.leaf = false;
      p.tdef_page = tdef_page_;
      p.prefix_len = ChoosePrefix(format_, groups[g], false, g + 1 == groups.size());
      p.entries = std::move(groups[g]);
    }
    level.back().tail_page = tail;
    if (top) {
      write_(root_, WriteIndexPage(format_, level[0]));
      return;
    }
    for (size_t g = 0; g + 1 < level.size(); ++g) {
      IndexEntry e = level[g].entries.back();
      e.child = numbers[g];
      entries.push_back(std::move(e));
    }
    tail = numbers.back();
    below = std::move(level);
    below_numbers = std::move(numbers);
  }
}

std::vector<IndexEntry> ReadIndexEntries(const Format& f, uint32_t root, const ReadPage& read) {
  std::set<uint32_t> seen;
  uint32_t page = root;
  IndexPage p = ParseIndexPage(f, read(page));
  // Down the left edge to the first leaf.
  while (!p.leaf) {
    if (!seen.insert(page).second) throw JetError(kErrCorrupt);
    page = !p.entries.empty() ? p.entries.front().child : p.tail_page;
    if (page == 0) throw JetError(kErrCorrupt);
    p = ParseIndexPage(f, read(page));
  }
  std::vector<IndexEntry> out;
  while (true) {
    if (!seen.insert(page).second) throw JetError(kErrCorrupt);
    for (IndexEntry& e : p.entries) out.push_back(std::move(e));
    if (p.next_page == 0) break;
    page = p.next_page;
    p = ParseIndexPage(f, read(page));
    if (!p.leaf) throw JetError(kErrCorrupt);
  }
  return out;
}

namespace {

constexpr size_t kRowPointerSize = 4;  // 3-byte page + row, big-endian
constexpr size_t kChildSize = 4;
constexpr size_t kMaxDepth = 32;
constexpr size_t kCacheLine = 64;

size_t Trailer(bool leaf) { return kRowPointerSize + (leaf ? 0 : kChildSize); }

// The entry being inserted or deleted: key and row pointer as stored.
struct Probe {
  Bytes whole;  // key, then the 4-byte row pointer
  size_t key_len = 0;

  Probe() = default;
  explicit Probe(const IndexEntry& e) { Set(e.key, e.row); }
  void Set(ByteView key, RowId row) {
    whole.assign(key.begin(), key.end());
    key_len = key.size();
    whole.push_back(static_cast<uint8_t>(row.page >> 16));
    whole.push_back(static_cast<uint8_t>(row.page >> 8));
    whole.push_back(static_cast<uint8_t>(row.page));
    whole.push_back(row.row);
  }
};

uint32_t ChildOf(ByteView w) {
  if (w.size() < kRowPointerSize + kChildSize) throw JetError(kErrCorrupt);
  size_t at = w.size() - kChildSize;
  return (uint32_t{w[at]} << 24) | (uint32_t{w[at + 1]} << 16) | (uint32_t{w[at + 2]} << 8) |
         w[at + 3];
}

// memcmp's sign for the few bytes index entries hold, eight at a time
// without a call.
inline int CompareBytes(const uint8_t* a, const uint8_t* b, size_t n) {
  for (; n >= 8; a += 8, b += 8, n -= 8) {
    uint64_t x, y;
    std::memcpy(&x, a, 8);
    std::memcpy(&y, b, 8);
    if (x != y) {
      if constexpr (std::endian::native == std::endian::little) {
        x = __builtin_bswap64(x);
        y = __builtin_bswap64(y);
      }
      return x < y ? -1 : 1;
    }
  }
  if (n >= 4) {
    // The first four bytes, then the last four: when the first agree, the
    // first difference lies in the last.
    uint32_t x, y;
    std::memcpy(&x, a, 4);
    std::memcpy(&y, b, 4);
    if (x == y) {
      std::memcpy(&x, a + n - 4, 4);
      std::memcpy(&y, b + n - 4, 4);
      if (x == y) return 0;
    }
    if constexpr (std::endian::native == std::endian::little) {
      x = __builtin_bswap32(x);
      y = __builtin_bswap32(y);
    }
    return x < y ? -1 : 1;
  }
  for (; n > 0; ++a, ++b, --n) {
    if (*a != *b) return *a < *b ? -1 : 1;
  }
  return 0;
}

// An entry as a page holds it: the shared prefix (none for the first entry)
// and then the entry's own bytes. Searches compare it where it lies instead
// of joining the two.
struct SplitEntry {
  ByteView head;
  ByteView tail;

  size_t size() const { return head.size() + tail.size(); }
  // Bytes [from, from + n) of the whole entry.
  void CopyOut(size_t from, size_t n, uint8_t* out) const {
    for (size_t i = 0; i < n; ++i, ++from)
      out[i] = from < head.size() ? head[from] : tail[from - head.size()];
  }
  // Byte order (as CompareKeys) of the entry's first `n` bytes against `key`.
  int CompareFirst(size_t n, ByteView key) const {
    const size_t h = std::min(head.size(), n);
    const size_t m = std::min(h, key.size());
    if (int c = CompareBytes(head.data(), key.data(), m)) return c;
    if (key.size() < h) return 1;
    const size_t t = n - h, k = key.size() - h;
    const size_t m2 = std::min(t, k);
    if (int c = CompareBytes(tail.data(), key.data() + h, m2)) return c;
    return t < k ? -1 : t > k ? 1 : 0;
  }
  // The key: everything before the trailer.
  size_t KeyLength(size_t trailer) const {
    if (size() < trailer) throw JetError(kErrCorrupt);
    return size() - trailer;
  }
  RowId Row(size_t trailer) const {
    uint8_t r[kRowPointerSize];
    CopyOut(KeyLength(trailer), kRowPointerSize, r);
    return RowId{(uint32_t{r[0]} << 16) | (uint32_t{r[1]} << 8) | r[2], r[3]};
  }
  uint32_t Child() const {
    if (size() < kRowPointerSize + kChildSize) throw JetError(kErrCorrupt);
    uint8_t c[kChildSize];
    CopyOut(size() - kChildSize, kChildSize, c);
    return (uint32_t{c[0]} << 24) | (uint32_t{c[1]} << 16) | (uint32_t{c[2]} << 8) | c[3];
  }
};

// Index order (as CompareEntries) between a stored entry and the probe;
// node entries carry a child pointer that takes no part.
int CompareWhole(const SplitEntry& w, size_t trailer, const Probe& x) {
  const size_t klen = w.KeyLength(trailer);
  int c = w.CompareFirst(klen, ByteView(x.whole).first(x.key_len));
  if (c != 0) return c;
  uint8_t r[kRowPointerSize];
  w.CopyOut(klen, kRowPointerSize, r);
  return CompareBytes(r, x.whole.data() + x.key_len, kRowPointerSize);
}
int CompareWhole(ByteView w, size_t trailer, const Probe& x) {
  return CompareWhole(SplitEntry{{}, w}, trailer, x);
}

// ---- pages decoded for rewriting ----

// A page's entries whole and back to back: no allocation per entry.
struct FlatPage {
  bool leaf = true;
  uint32_t tdef_page = 0;
  uint32_t prev_page = 0;
  uint32_t next_page = 0;
  uint32_t tail_page = 0;
  Bytes data;
  std::vector<uint32_t> ends;

  size_t count() const { return ends.size(); }
  size_t start(size_t i) const { return i == 0 ? 0 : ends[i - 1]; }
  ByteView entry(size_t i) const {
    return ByteView(data).subspan(start(i), ends[i] - start(i));
  }
  void Clear() {
    data.clear();
    ends.clear();
  }
  void Insert(size_t i, ByteView bytes) {
    size_t at = start(i);
    data.insert(data.begin() + static_cast<ptrdiff_t>(at), bytes.begin(), bytes.end());
    ends.insert(ends.begin() + static_cast<ptrdiff_t>(i), static_cast<uint32_t>(at));
    for (size_t k = i; k < ends.size(); ++k) ends[k] += static_cast<uint32_t>(bytes.size());
  }
  void Erase(size_t i) {
    size_t at = start(i), n = ends[i] - at;
    data.erase(data.begin() + static_cast<ptrdiff_t>(at),
               data.begin() + static_cast<ptrdiff_t>(at + n));
    ends.erase(ends.begin() + static_cast<ptrdiff_t>(i));
    for (size_t k = i; k < ends.size(); ++k) ends[k] -= static_cast<uint32_t>(n);
  }
  // A node entry takes the probe's key and row and keeps its child.
  void Raise(size_t i, const Probe& x) {
    uint32_t child = ChildOf(entry(i));
    Bytes b = x.whole;
    for (int s = 24; s >= 0; s -= 8) b.push_back(static_cast<uint8_t>(child >> s));
    Erase(i);
    Insert(i, b);
  }
  // Entries from `keep` on move to `right` (which holds none).
  void SplitInto(size_t keep, FlatPage& right) {
    size_t at = start(keep);
    right.data.assign(data.begin() + static_cast<ptrdiff_t>(at), data.end());
    right.ends.clear();
    for (size_t k = keep; k < ends.size(); ++k) right.ends.push_back(ends[k] - static_cast<uint32_t>(at));
    data.resize(at);
    ends.resize(keep);
  }
  // First entry not below the probe; count() when none.
  size_t LowerBound(const Probe& x) const {
    size_t lo = 0, hi = count();
    while (lo < hi) {
      size_t mid = (lo + hi) / 2;
      if (CompareWhole(entry(mid), Trailer(leaf), x) < 0) lo = mid + 1;
      else hi = mid;
    }
    return lo;
  }
};

void LoadFlat(const Format& f, ByteView page, FlatPage& p) {
  const IndexPageHeader h = ReadIndexPageHeader(f, page);
  p.leaf = h.leaf;
  p.tdef_page = h.tdef_page;
  p.prev_page = h.prev_page;
  p.next_page = h.next_page;
  p.tail_page = h.tail_page;
  size_t prefix = h.prefix_len;
  p.Clear();
  const size_t trailer = Trailer(p.leaf);
  const size_t base = f.index_first_entry_offset;
  const size_t capacity = IndexPageCapacity(f);
  size_t start = 0;
  for (size_t i = 0; i < f.index_entry_mask_size; ++i) {
    uint8_t m = page[f.index_offset_entry_mask + i];
    for (; m != 0; m &= static_cast<uint8_t>(m - 1)) {
      size_t end = i * 8 + static_cast<size_t>(std::countr_zero(m));
      if (end <= start || end > capacity) throw JetError(kErrCorrupt);
      size_t before = p.data.size();
      if (p.ends.empty()) {
        if (prefix > end - start) throw JetError(kErrCorrupt);
      } else {
        p.data.insert(p.data.end(), p.data.begin(), p.data.begin() + static_cast<ptrdiff_t>(prefix));
      }
      p.data.insert(p.data.end(), page.begin() + static_cast<ptrdiff_t>(base + start),
                    page.begin() + static_cast<ptrdiff_t>(base + end));
      if (p.data.size() - before < trailer) throw JetError(kErrCorrupt);
      p.ends.push_back(static_cast<uint32_t>(p.data.size()));
      start = end;
    }
  }
}

size_t SharedPrefix(const FlatPage& p) {
  if (p.count() == 0) return 0;
  ByteView first = p.entry(0);
  size_t n = first.size();
  for (size_t i = 1; i < p.count() && n > 0; ++i) {
    ByteView b = p.entry(i);
    size_t lim = std::min(n, b.size());
    size_t k = 0;
    while (k < lim && first[k] == b[k]) ++k;
    n = k;
  }
  return n;
}

size_t Packed(const FlatPage& p, size_t prefix) {
  return p.count() == 0 ? 0 : p.data.size() - (p.count() - 1) * prefix;
}

bool Fits(const Format& f, const FlatPage& p) { return Packed(p, SharedPrefix(p)) <= MaxPacked(f); }

// The page image WriteIndexPage makes, with the prefix Store chooses: the
// last page of a level keeps its entries whole when they fit that way.
void Store(const Format& f, IndexPages& pages, uint32_t page, const FlatPage& p) {
  size_t prefix = p.next_page == 0 && Packed(p, 0) <= MaxPacked(f) ? 0 : SharedPrefix(p);
  size_t size = Packed(p, prefix);
  if (size > MaxPacked(f)) throw JetError(kErrInvalidArgument);
  std::span<uint8_t> w = pages.Modify(page);
  std::fill(w.begin(), w.end(), uint8_t{0});
  WriteIndexPageHeader(f, w,
                       {p.leaf, static_cast<uint16_t>(IndexPageCapacity(f) - size), p.tdef_page,
                        p.prev_page, p.next_page, p.tail_page, static_cast<uint16_t>(prefix)});
  uint8_t* out = w.data() + f.index_first_entry_offset;
  size_t at = 0;
  for (size_t i = 0; i < p.count(); ++i) {
    ByteView e = p.entry(i);
    if (i > 0) e = e.subspan(prefix);
    std::memcpy(out + at, e.data(), e.size());
    at += e.size();
    w[f.index_offset_entry_mask + at / 8] |= static_cast<uint8_t>(1u << (at % 8));
  }
}

// The decoded pages of one change, by number: the route's from the root
// down, then the new ones a split makes. Each stays where it is while more
// are added.
class FlatPages {
 public:
  FlatPage& operator[](size_t i) {
    while (pages_.size() <= i) pages_.push_back(std::make_unique<FlatPage>());
    return *pages_[i];
  }

 private:
  std::vector<std::unique_ptr<FlatPage>> pages_;
};

struct Step {
  uint32_t page;
  FlatPage* node;
  int slot;  // entry followed from this node; -1: its tail
  bool dirty = false;
};

// The route from the root to the leaf where `x` belongs, pages decoded
// into `flat` from its first on.
void Descend(const Format& f, uint32_t root, const Probe& x, IndexPages& pages,
             std::vector<Step>& path, FlatPages& flat) {
  path.clear();
  uint32_t page = root;
  while (true) {
    if (path.size() >= kMaxDepth) throw JetError(kErrCorrupt);
    FlatPage& p = flat[path.size()];
    LoadFlat(f, pages.Read(page), p);
    if (p.leaf) {
      path.push_back({page, &p, -1});
      return;
    }
    size_t i = p.LowerBound(x);
    int slot = i < p.count() ? static_cast<int>(i) : -1;
    if (slot < 0 && p.tail_page == 0) {
      if (p.count() == 0) throw JetError(kErrCorrupt);
      slot = static_cast<int>(p.count() - 1);
    }
    uint32_t child = slot >= 0 ? ChildOf(p.entry(static_cast<size_t>(slot))) : p.tail_page;
    path.push_back({page, &p, slot});
    page = child;
  }
}

// Points a page's previous-page link elsewhere, leaving the rest as it is.
void SetPrev(const Format& f, IndexPages& pages, uint32_t page, uint32_t prev) {
  std::span<uint8_t> w = pages.Modify(page);
  if (w.size() != f.page_size) throw JetError(kErrCorrupt);
  Put32(w, f.index_offset_prev_page, prev);
}

void InsertByRewrite(const Format& f, uint32_t root, const Probe& x, IndexPages& pages) {
  std::vector<Step> path;
  FlatPages flat;
  Descend(f, root, x, pages, path, flat);
  size_t scratch = path.size();
  {
    FlatPage& leaf = *path.back().node;
    size_t at = leaf.LowerBound(x);
    if (at < leaf.count() && CompareWhole(leaf.entry(at), kRowPointerSize, x) == 0)
      throw JetError(kErrDuplicateKey);
    leaf.Insert(at, x.whole);
    path.back().dirty = true;
  }
  // A parent entry is the maximum of its child's subtree; raise it when the
  // new entry goes past it.
  for (size_t l = 0; l + 1 < path.size(); ++l) {
    Step& s = path[l];
    if (s.slot >= 0 && CompareWhole(s.node->entry(static_cast<size_t>(s.slot)), kRowPointerSize +
                                    kChildSize, x) < 0) {
      s.node->Raise(static_cast<size_t>(s.slot), x);
      s.dirty = true;
    }
  }

  for (size_t l = path.size(); l-- > 0;) {
    if (Fits(f, *path[l].node)) {
      for (size_t u = l + 1; u-- > 0;)
        if (path[u].dirty) Store(f, pages, path[u].page, *path[u].node);
      return;
    }
    if (path[l].node->count() < 2) throw JetError(kErrInvalidArgument);
    if (l == 0) {
      // The root keeps its page number: its contents move one level down.
      uint32_t moved = pages.Allocate();
      FlatPage& new_root = flat[scratch++];
      new_root.Clear();
      new_root.leaf = false;
      new_root.tdef_page = path[0].node->tdef_page;
      new_root.prev_page = new_root.next_page = 0;
      new_root.tail_page = moved;
      path[0].page = moved;
      path.insert(path.begin(), Step{root, &new_root, -1, true});
      l = 1;
    }
    Step& cur = path[l];
    FlatPage& full = *cur.node;
    // Appending at the end of a level moves just the last entry; otherwise
    // the page splits in half.
    size_t keep = full.count() / 2;
    bool appended = full.next_page == 0 &&
                    CompareWhole(full.entry(full.count() - 1), Trailer(full.leaf), x) == 0;
    if (appended) keep = full.count() - 1;
    FlatPage& right = flat[scratch++];
    right.leaf = full.leaf;
    right.tdef_page = full.tdef_page;
    full.SplitInto(keep, right);
    right.tail_page = full.tail_page;
    full.tail_page = 0;
    uint32_t right_page = pages.Allocate();
    right.prev_page = cur.page;
    right.next_page = full.next_page;
    full.next_page = right_page;
    if (right.next_page != 0) SetPrev(f, pages, right.next_page, right_page);
    Store(f, pages, right_page, right);
    Store(f, pages, cur.page, full);
    cur.dirty = false;

    // The parent now needs an entry for the left half, and its old slot
    // names the right half.
    Step& parent = path[l - 1];
    FlatPage& pn = *parent.node;
    Bytes left_max(full.entry(full.count() - 1).begin(), full.entry(full.count() - 1).end());
    if (!full.leaf) left_max.resize(left_max.size() - kChildSize);
    for (int s = 24; s >= 0; s -= 8) left_max.push_back(static_cast<uint8_t>(cur.page >> s));
    size_t insert_at;
    if (parent.slot >= 0) {
      size_t slot = static_cast<size_t>(parent.slot);
      ByteView old = pn.entry(slot);
      Bytes renamed(old.begin(), old.end() - kChildSize);
      for (int s = 24; s >= 0; s -= 8) renamed.push_back(static_cast<uint8_t>(right_page >> s));
      pn.Erase(slot);
      pn.Insert(slot, renamed);
      insert_at = slot;
    } else {
      pn.tail_page = right_page;
      insert_at = pn.count();
    }
    pn.Insert(insert_at, left_max);
    parent.dirty = true;
  }
}

// ---- in-place edits ----

// Eight mask bytes as one number, the first byte lowest, as the mask
// numbers its bits.
inline uint64_t LoadMask64(const uint8_t* p) {
  uint64_t v;
  std::memcpy(&v, p, 8);
  if constexpr (std::endian::native == std::endian::big) v = __builtin_bswap64(v);
  return v;
}

// A hint that the bytes at `p` are wanted soon; no effect on results.
inline void Prefetch(const void* p) {
#if defined(__GNUC__)
  __builtin_prefetch(p);
#else
  (void)p;
#endif
}

// The bits of the 64 from `chunk` on whose positions lie in [lo, hi].
inline uint64_t RangeBits(size_t chunk, size_t lo, size_t hi) {
  const size_t last = chunk + 63;
  if (hi < lo || hi < chunk || lo > last) return 0;
  const size_t from = std::max(lo, chunk) - chunk, to = std::min(hi, last) - chunk;
  const uint64_t upto = to == 63 ? ~uint64_t{0} : (uint64_t{1} << (to + 1)) - 1;
  return upto & ~((uint64_t{1} << from) - 1);
}

// The entry mask after k bytes are inserted at entry bound `at` of a page
// using `used` bytes: the ends in (at, used] move up by k and at + k
// becomes an end; bits elsewhere stay as they are. Works on 64 bits at a
// time from the top down, so every chunk is written after the bits it
// draws on were read. Loads may run up to 8 bytes past the mask, into the
// entries; bits from there are never kept.
void ShiftEnds(uint8_t* mask, size_t mask_size, size_t at, size_t used, size_t k) {
  const size_t last_byte = (used + k) / 8;
  if (last_byte >= mask_size) throw JetError(kErrCorrupt);
  // 64 mask bits from bit `p` on; none below bit 0.
  auto bits_from = [mask](ptrdiff_t p) -> uint64_t {
    if (p <= -64) return 0;
    if (p < 0) return LoadMask64(mask) << -p;
    const size_t b = static_cast<size_t>(p) / 8, sh = static_cast<size_t>(p) % 8;
    uint64_t v = LoadMask64(mask + b) >> sh;
    if (sh) v |= uint64_t{mask[b + 8]} << (64 - sh);
    return v;
  };
  const size_t bottom = (at + 1) / 8 * 8;
  for (size_t chunk = bottom + (used + k - bottom) / 64 * 64;; chunk -= 64) {
    const uint64_t cur = bits_from(static_cast<ptrdiff_t>(chunk));
    const uint64_t moved = bits_from(static_cast<ptrdiff_t>(chunk) - static_cast<ptrdiff_t>(k));
    uint64_t now = cur & ~RangeBits(chunk, at + 1, used + k);
    now |= cur & RangeBits(chunk, used + 1, used + k);
    now |= moved & RangeBits(chunk, at + k + 1, used + k);
    now |= RangeBits(chunk, at + k, at + k);
    const size_t first = chunk / 8, n = std::min<size_t>(8, last_byte + 1 - first);
    if (n == 8 && std::endian::native == std::endian::little) {
      std::memcpy(mask + first, &now, 8);
    } else {
      for (size_t i = 0; i < n; ++i) mask[first + i] = static_cast<uint8_t>(now >> (8 * i));
    }
    if (chunk == bottom) break;
  }
}

// An index page as it sits in the cache.
class PageView {
 public:
  PageView(const Format& f, ByteView b) : f_(f), b_(b) {
    if (b.size() != f.page_size) throw JetError(kErrCorrupt);
    uint8_t type = b[0];
    if (type != static_cast<uint8_t>(PageType::kIndexLeaf) &&
        type != static_cast<uint8_t>(PageType::kIndexNode))
      throw JetError(kErrCorrupt);
    leaf_ = type == static_cast<uint8_t>(PageType::kIndexLeaf);
    prefix_ = f.index_prefix_len_size == 1 ? Get8(b, f.index_offset_prefix_len)
                                           : Get16(b, f.index_offset_prefix_len);
    size_t free_space = Get16(b, f.index_offset_free_space);
    size_t capacity = IndexPageCapacity(f);
    // The free-space count must agree with the mask for the page to be
    // edited in place; otherwise the page is decoded and written whole.
    if (free_space > capacity) return;
    used_ = capacity - free_space;
    if (used_ > MaxPacked(f)) return;
    if (used_ == 0) {
      sound_ = prefix_ == 0;
      return;
    }
    // A search reads the mask here and there: ask for all of it at once
    // rather than one miss after another.
    const uint8_t* mask = b.data() + f.index_offset_entry_mask;
    for (size_t at = 0; at <= used_ / 8; at += kCacheLine) Prefetch(mask + at);
    if (!Bit(used_)) return;
    first_end_ = NextEnd(1);
    sound_ = prefix_ <= first_end_;
  }

  // Asks at once for lines spread evenly over the entries, where the
  // halving search will look: through a page that is not in the cache it
  // otherwise waits for each line in turn. Asking for every line costs the
  // seeks of short keys more than it saves.
  void PrefetchEntries() const {
    for (size_t k = 1; k < 32; ++k) Prefetch(data() + used_ * k / 32);
  }

  bool sound() const { return sound_; }
  bool leaf() const { return leaf_; }
  size_t prefix() const { return prefix_; }
  size_t used() const { return used_; }
  size_t trailer() const { return Trailer(leaf_); }
  uint32_t next() const { return Get32(b_, f_.index_offset_next_page); }
  uint32_t tail() const { return Get32(b_, f_.index_offset_tail_page); }
  const uint8_t* data() const { return b_.data() + f_.index_first_entry_offset; }

  bool Bit(size_t pos) const {
    return (b_[f_.index_offset_entry_mask + pos / 8] >> (pos % 8)) & 1u;
  }
  // First entry end at or after `pos` (used() at most).
  // Both read the mask 64 bits at a time. Every format's mask is followed
  // by the entries, so a load from any byte of it stays inside the page.
  size_t NextEnd(size_t pos) const {
    const uint8_t* mask = b_.data() + f_.index_offset_entry_mask;
    while (pos < used_) {
      uint64_t m = LoadMask64(mask + pos / 8) >> (pos % 8);
      if (m != 0) return std::min(pos + static_cast<size_t>(std::countr_zero(m)), used_);
      pos = (pos & ~size_t{7}) + 64;
    }
    return used_;
  }
  // Last entry end before `pos`; 0 (the start of the entries) when none.
  size_t PrevEnd(size_t pos) const {
    const uint8_t* mask = b_.data() + f_.index_offset_entry_mask;
    while (pos > 0) {
      size_t q = pos - 1;
      if (q < 64) {
        unsigned m = mask[q / 8] & ((2u << (q % 8)) - 1);
        if (m != 0) return (q & ~size_t{7}) + static_cast<size_t>(std::bit_width(m)) - 1;
        pos = q & ~size_t{7};
        continue;
      }
      // The eight bytes ending with the one holding q; bits above q dropped.
      const size_t base = (q / 8 - 7) * 8;
      uint64_t m = LoadMask64(mask + base / 8) & (~uint64_t{0} >> (63 - (q - base)));
      if (m != 0) return base + static_cast<size_t>(std::bit_width(m)) - 1;
      pos = base;
    }
    return 0;
  }
  // The entry [start, end) with its shared prefix.
  SplitEntry Entry(size_t start, size_t end) const {
    if (start == 0) return SplitEntry{{}, ByteView(data(), end)};
    return SplitEntry{ByteView(data(), prefix_), ByteView(data() + start, end - start)};
  }
  // Start of the first entry for which `below(entry)` is false (used() when
  // none); the search halves byte ranges and finds entry bounds in the mask
  // near the middle, so the page is never decoded.
  template <typename Below>
  size_t LowerBound(const Below& below) const {
    size_t lo = 0, hi = used_;
    // Keys often arrive in order: past the last entry of a level's last
    // page is one comparison.
    if (used_ > 0 && next() == 0 && below(Entry(PrevEnd(used_), used_))) return used_;
    while (lo < hi) {
      size_t mid = lo + (hi - lo) / 2;
      size_t s = PrevEnd(mid + 1), e = NextEnd(mid + 1);
      if (s < lo) s = lo;
      if (below(Entry(s, e))) lo = e;
      else hi = s;
    }
    return lo;
  }

 private:
  const Format& f_;
  ByteView b_;
  bool leaf_ = true;
  bool sound_ = false;
  size_t prefix_ = 0;
  size_t used_ = 0;
  size_t first_end_ = 0;
};

// Writes the probe into leaf `page` (viewed by `v`) at entry offset `at`,
// where the search put it, when that gives the page Store would write: the
// leaf has room and the prefix it shares stays what it is. The caller has
// made sure no parent entry changes. False when the tree must be rewritten
// instead.
bool InsertIntoLeaf(const Format& f, uint32_t page, const PageView& v, size_t at, const Probe& x,
                    IndexPages& pages) {
  {
    if (at < v.used() && CompareWhole(v.Entry(at, v.NextEnd(at + 1)), kRowPointerSize, x) == 0)
      throw JetError(kErrDuplicateKey);
    const size_t prefix = v.prefix();
    size_t from = 0;
    if (prefix > 0) {
      // The new entry must share the prefix and not become the first.
      if (at == 0 || x.whole.size() <= prefix ||
          std::memcmp(v.data(), x.whole.data(), prefix) != 0)
        return false;
      from = prefix;
    }
    const size_t k = x.whole.size() - from;
    const size_t used = v.used();
    if (used + k > MaxPacked(f)) return false;
    // A last page stores a prefix only once its entries no longer fit
    // whole, and one more entry keeps it so: no check needed.
    std::span<uint8_t> w = pages.Modify(page);
    uint8_t* d = w.data() + f.index_first_entry_offset;
    std::memmove(d + at + k, d + at, used - at);
    std::memcpy(d + at, x.whole.data() + from, k);
    // Ends after the insertion point move along with their entries.
    ShiftEnds(w.data() + f.index_offset_entry_mask, f.index_entry_mask_size, at, used, k);
    Put16(w, f.index_offset_free_space, static_cast<uint16_t>(IndexPageCapacity(f) - used - k));
    return true;
  }
}

// Inserts into the leaf in place (InsertIntoLeaf) when the descent raises
// no parent entry.
bool InsertInPlace(const Format& f, uint32_t root, const Probe& x, IndexPages& pages) {
  uint32_t page = root;
  for (size_t depth = 0;; ++depth) {
    if (depth >= kMaxDepth) return false;
    PageView v(f, pages.Read(page));
    if (!v.sound()) return false;
    size_t at = v.LowerBound([&](const SplitEntry& w) { return CompareWhole(w, v.trailer(), x) < 0; });
    if (v.leaf()) return InsertIntoLeaf(f, page, v, at, x, pages);
    if (at < v.used()) page = v.Entry(at, v.NextEnd(at + 1)).Child();
    else if (v.tail() != 0) page = v.tail();
    else return false;  // a parent entry would be raised
    if (page == 0) throw JetError(kErrCorrupt);
  }
}

// InsertInPlace starting from a spot a search left: the spot must be an
// entry bound of a sound leaf with the probe between its neighbours.
bool InsertAtSpot(const Format& f, const IndexSpot& spot, const Probe& x, IndexPages& pages) {
  if (spot.leaf == 0) return false;
  PageView v(f, pages.Read(spot.leaf));
  const size_t at = spot.at;
  if (!v.sound() || !v.leaf() || at > v.used() || (at > 0 && !v.Bit(at))) return false;
  if (at > 0 && CompareWhole(v.Entry(v.PrevEnd(at), at), kRowPointerSize, x) >= 0) return false;
  if (at < v.used() && CompareWhole(v.Entry(at, v.NextEnd(at + 1)), kRowPointerSize, x) <= 0)
    return false;
  return InsertIntoLeaf(f, spot.leaf, v, at, x, pages);
}

}  // namespace

namespace {

void FindRows(Pager& pager, uint32_t root, ByteView key, size_t limit, IndexSpot* spot,
              std::vector<RowId>& out) {
  const Format& f = pager.format();
  out.clear();
  uint32_t page = root;
  bool in_run = false;  // a leaf before this one ended on the key
  // Whether the descent by key alone went where one by key and row would:
  // no node entry on the way holds the key itself.
  bool settled = true;
  if (spot) *spot = IndexSpot{};
  for (size_t hops = 0; page != 0 && out.size() < limit; ++hops) {
    if (hops > 1000000) throw JetError(kErrCorrupt);
    ByteView image = pager.Read(page);
    // Long keys (text) make few entries a page, and a search reads much of
    // each: the whole page is asked for at once, header and all, before any
    // of it is read.
    const bool long_key = key.size() > 16;
    if (long_key && !in_run) {
      for (size_t at = 0; at < image.size(); at += kCacheLine) Prefetch(image.data() + at);
    }
    PageView v(f, image);
    // The engine keeps the free-space count and the mask in step.
    if (!v.sound()) throw JetError(kErrCorrupt);
    // Keys in order end up past the last leaf's last entry, which is in the
    // cache and found at once; any other leaf is searched through.
    if (!in_run && !long_key && v.leaf() && v.next() != 0) v.PrefetchEntries();
    const size_t trailer = v.trailer();
    auto compare = [&](const SplitEntry& w) { return w.CompareFirst(w.KeyLength(trailer), key); };
    size_t at = in_run ? 0 : v.LowerBound([&](const SplitEntry& w) { return compare(w) < 0; });
    if (!v.leaf()) {
      if (hops >= kMaxDepth) throw JetError(kErrCorrupt);
      if (at < v.used()) {
        SplitEntry e = v.Entry(at, v.NextEnd(at + 1));
        if (spot && compare(e) == 0) settled = false;
        page = e.Child();
      } else {
        page = v.tail();
      }
      continue;
    }
    // Where a new entry under the key goes when the key is absent.
    if (spot && settled && !in_run && (at == v.used() || compare(v.Entry(at, v.NextEnd(at + 1))) != 0))
      *spot = IndexSpot{page, static_cast<uint32_t>(at)};
    while (at < v.used() && out.size() < limit) {
      size_t end = v.NextEnd(at + 1);
      SplitEntry w = v.Entry(at, end);
      if (compare(w) != 0) return;
      out.push_back(w.Row(trailer));
      at = end;
    }
    // The run may go on into the next leaf.
    in_run = true;
    page = v.next();
  }
}

}  // namespace

std::vector<RowId> FindIndexRows(Pager& pager, uint32_t root, ByteView key, size_t limit,
                                 IndexSpot* spot) {
  std::vector<RowId> out;
  FindIndexRowsInto(pager, root, key, limit, out, spot);
  return out;
}

void FindIndexRowsInto(Pager& pager, uint32_t root, ByteView key, size_t limit,
                       std::vector<RowId>& out, IndexSpot* spot) {
  FindRows(pager, root, key, limit, spot, out);
  if (spot && !out.empty()) *spot = IndexSpot{};
}

void InsertIndexEntry(const Format& f, uint32_t root, const IndexEntry& entry, IndexPages& pages) {
  InsertIndexEntry(f, root, entry.key, entry.row, pages);
}

void InsertIndexEntry(const Format& f, uint32_t root, ByteView key, RowId row, IndexPages& pages,
                      const IndexSpot* spot) {
  Probe x;
  x.Set(key, row);
  if (spot && InsertAtSpot(f, *spot, x, pages)) return;
  if (InsertInPlace(f, root, x, pages)) return;
  InsertByRewrite(f, root, x, pages);
}

bool DeleteIndexEntry(const Format& f, uint32_t root, const IndexEntry& entry, IndexPages& pages) {
  Probe x(entry);
  std::vector<Step> path;
  FlatPages flat;
  Descend(f, root, x, pages, path, flat);
  size_t scratch = path.size();
  {
    FlatPage& leaf = *path.back().node;
    size_t at = leaf.LowerBound(x);
    if (at >= leaf.count() || CompareWhole(leaf.entry(at), kRowPointerSize, x) != 0) return false;
    leaf.Erase(at);
  }
  for (size_t l = path.size(); l-- > 0;) {
    Step& s = path[l];
    FlatPage& p = *s.node;
    bool empty = p.count() == 0 && p.tail_page == 0;
    if (!empty || l == 0) {
      if (l == 0 && empty) p.leaf = true;
      Store(f, pages, s.page, p);
      return true;
    }
    // Unlink the empty page from its level and from its parent.
    FlatPage& other = flat[scratch];
    if (p.prev_page != 0) {
      LoadFlat(f, pages.Read(p.prev_page), other);
      other.next_page = p.next_page;
      Store(f, pages, p.prev_page, other);
    }
    if (p.next_page != 0) {
      LoadFlat(f, pages.Read(p.next_page), other);
      other.prev_page = p.prev_page;
      Store(f, pages, p.next_page, other);
    }
    pages.Release(s.page);
    FlatPage& parent = *path[l - 1].node;
    int slot = path[l - 1].slot;
    if (slot >= 0) {
      parent.Erase(static_cast<size_t>(slot));
    } else if (parent.count() > 0) {
      // The last listed child becomes the tail.
      parent.tail_page = ChildOf(parent.entry(parent.count() - 1));
      parent.Erase(parent.count() - 1);
    } else {
      parent.tail_page = 0;
    }
  }
  return true;
}

}  // namespace jet
