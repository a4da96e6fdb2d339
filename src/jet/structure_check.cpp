#include "jet/structure_check.h"

#include <bit>
#include <cstring>
#include <optional>
#include <set>
#include <vector>

#include "jet/error.h"
#include "jet/index_key.h"
#include "jet/index_page.h"
#include "jet/usage_map.h"

namespace jet {
namespace {

// Deeper than any tree a Jet file can hold (a 4 KiB page takes at least
// a dozen of the longest entries).
constexpr size_t kMaxDepth = 32;

[[noreturn]] void Corrupt() { throw JetError(kErrCorrupt); }

constexpr size_t kRowPointerSize = 4;
constexpr size_t kChildSize = 4;

size_t Trailer(bool leaf) { return kRowPointerSize + (leaf ? 0 : kChildSize); }

// Index order (as CompareEntries) of two entries as pages store them whole,
// each with its own trailer: the key, then the row pointer.
int Compare(ByteView a, size_t trailer_a, ByteView b, size_t trailer_b) {
  const size_t ka = a.size() - trailer_a, kb = b.size() - trailer_b;
  if (int c = CompareKeys(a.first(ka), b.first(kb))) return c;
  const int c = std::memcmp(a.data() + ka, b.data() + kb, kRowPointerSize);
  return c < 0 ? -1 : c > 0 ? 1 : 0;
}

// An index page's entries whole and back to back, as the check needs them;
// its buffers are reused from page to page.
struct Decoded {
  IndexPageHeader h;
  Bytes data;
  std::vector<size_t> ends;

  size_t count() const { return ends.size(); }
  ByteView entry(size_t i) const {
    const size_t from = i == 0 ? 0 : ends[i - 1];
    return ByteView(data).subspan(from, ends[i] - from);
  }
};

// Reads a page as the engine's edits will, checking what they rely on: its
// entries' ends inside the entry area, each entry at least its trailer
// long and sharing the stated prefix, and a free-space count that agrees
// with the entries.
void Decode(const Format& f, ByteView page, Decoded& d) {
  d.h = ReadIndexPageHeader(f, page);
  d.data.clear();
  d.ends.clear();
  const size_t trailer = Trailer(d.h.leaf);
  const size_t prefix = d.h.prefix_len;
  const size_t base = f.index_first_entry_offset;
  const size_t capacity = IndexPageCapacity(f);
  size_t start = 0;
  for (size_t i = 0; i < f.index_entry_mask_size; ++i) {
    for (uint8_t m = page[f.index_offset_entry_mask + i]; m != 0; m &= static_cast<uint8_t>(m - 1)) {
      const size_t end = i * 8 + static_cast<size_t>(std::countr_zero(m));
      if (end <= start || end > capacity) Corrupt();
      const size_t before = d.data.size();
      if (d.ends.empty()) {
        if (prefix > end) Corrupt();
      } else {
        d.data.insert(d.data.end(), page.begin() + static_cast<ptrdiff_t>(base),
                      page.begin() + static_cast<ptrdiff_t>(base + prefix));
      }
      d.data.insert(d.data.end(), page.begin() + static_cast<ptrdiff_t>(base + start),
                    page.begin() + static_cast<ptrdiff_t>(base + end));
      if (d.data.size() - before < trailer) Corrupt();
      d.ends.push_back(d.data.size());
      start = end;
    }
  }
  if (size_t{d.h.free_space} + start != capacity) Corrupt();
}

uint32_t ChildOf(ByteView entry) {
  const size_t at = entry.size() - kChildSize;
  return (uint32_t{entry[at]} << 24) | (uint32_t{entry[at + 1]} << 16) |
         (uint32_t{entry[at + 2]} << 8) | entry[at + 3];
}

struct Links {
  uint32_t page, prev, next;
};

class TreeCheck {
 public:
  TreeCheck(Pager& pager, uint32_t tdef, std::set<uint32_t>& seen)
      : pager_(pager), f_(pager.format()), tdef_(tdef), seen_(seen), pages_(kMaxDepth) {}

  void Run(uint32_t root) {
    Walk(root, 0);
    for (const std::vector<Links>& level : levels_) {
      const bool leaves = &level == &levels_.back();
      for (size_t i = 0; i < level.size(); ++i) {
        const uint32_t before = i > 0 ? level[i - 1].page : 0;
        const uint32_t after = i + 1 < level.size() ? level[i + 1].page : 0;
        if (level[i].prev != 0 && level[i].prev != before) Corrupt();
        if (level[i].next != after && (leaves || level[i].next != 0)) Corrupt();
      }
    }
  }

 private:
  // The smallest and largest entry under a page, whole, with the trailer
  // of the level they come from; none for an empty leaf.
  struct Span {
    bool any = false;
    Bytes low, high;
  };

  Span Walk(uint32_t page, size_t depth) {
    if (depth >= kMaxDepth || page == 0 || page >= pager_.page_count()) Corrupt();
    if (!seen_.insert(page).second) Corrupt();
    Decoded& p = pages_[depth];
    Decode(f_, pager_.Read(page), p);
    if (p.h.tdef_page != tdef_) Corrupt();
    const size_t trailer = Trailer(p.h.leaf);
    for (size_t i = 1; i < p.count(); ++i)
      if (Compare(p.entry(i - 1), trailer, p.entry(i), trailer) >= 0) Corrupt();
    if (levels_.size() <= depth) levels_.resize(depth + 1);
    levels_[depth].push_back({page, p.h.prev_page, p.h.next_page});
    Span whole;
    if (p.h.leaf) {
      if (leaf_depth_ && *leaf_depth_ != depth) Corrupt();
      leaf_depth_ = depth;
      if (p.count() == 0) return whole;
      const ByteView low = p.entry(0), high = p.entry(p.count() - 1);
      return {true, Bytes(low.begin(), low.end()), Bytes(high.begin(), high.end())};
    }
    if (p.count() == 0 && p.h.tail_page == 0) Corrupt();
    const size_t leaf_trailer = Trailer(true);
    // Entries under the child must lie above the entry before it (`bound`)
    // and at or below its own. Children are read into deeper buffers, so
    // this page's entries stay where they are.
    Bytes bound;
    auto child = [&](uint32_t at, const ByteView* above) {
      Span s = Walk(at, depth + 1);
      if (!s.any) return;
      if (!bound.empty() && Compare(s.low, leaf_trailer, bound, trailer) <= 0) Corrupt();
      if (above && Compare(s.high, leaf_trailer, *above, trailer) > 0) Corrupt();
      if (!whole.any) whole.low = std::move(s.low);
      whole.any = true;
      whole.high = std::move(s.high);
    };
    for (size_t i = 0; i < p.count(); ++i) {
      const ByteView e = p.entry(i);
      child(ChildOf(e), &e);
      bound.assign(e.begin(), e.end());
    }
    if (p.h.tail_page != 0) child(p.h.tail_page, nullptr);
    return whole;
  }

  Pager& pager_;
  const Format& f_;
  uint32_t tdef_;
  std::set<uint32_t>& seen_;
  std::vector<Decoded> pages_;              // the page read at each depth, kMaxDepth of them
  std::vector<std::vector<Links>> levels_;  // pages of each level in key order
  std::optional<size_t> leaf_depth_;
};

void CheckMap(Pager& pager, uint32_t packed) {
  if (packed == 0) return;
  for (uint32_t page : ReadUsageMap(pager, RowId::FromPacked(packed)))
    if (page >= pager.page_count()) Corrupt();
}

}  // namespace

void CheckBeforeWriting(Table& t) {
  if (t.checked_for_writing()) return;
  Pager& pager = t.pager();
  const TableDef& def = t.def();
  // The global map lists free pages, those past the file's end among them.
  if (!pager.global_map_checked()) {
    ReadUsageMap(pager, RowId{pager.format().global_usage_map_page, 0});
    pager.set_global_map_checked();
  }
  CheckMap(pager, def.owned_pages);
  CheckMap(pager, def.free_pages);
  std::set<uint32_t> seen;
  for (const RealIndexDef& ri : def.real_indexes) {
    CheckMap(pager, ri.used_pages);
    TreeCheck(pager, def.page, seen).Run(ri.first_page);
  }
  t.set_checked_for_writing();
}

}  // namespace jet
