#include "jet/structure_check.h"

#include <optional>
#include <set>
#include <vector>

#include "jet/error.h"
#include "jet/index_page.h"
#include "jet/usage_map.h"

namespace jet {
namespace {

// Deeper than any tree a Jet file can hold (a 4 KiB page takes at least
// a dozen of the longest entries).
constexpr size_t kMaxDepth = 32;

[[noreturn]] void Corrupt() { throw JetError(kErrCorrupt); }

struct Links {
  uint32_t page, prev, next;
};

class TreeCheck {
 public:
  TreeCheck(Pager& pager, uint32_t tdef, std::set<uint32_t>& seen)
      : pager_(pager), f_(pager.format()), tdef_(tdef), seen_(seen) {}

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
  // The smallest and largest entry under a page; none for an empty leaf.
  struct Span {
    std::optional<IndexEntry> low, high;
  };

  Span Walk(uint32_t page, size_t depth) {
    if (depth >= kMaxDepth || page == 0 || page >= pager_.page_count()) Corrupt();
    if (!seen_.insert(page).second) Corrupt();
    const IndexPage p = ParseIndexPage(f_, pager_.Read(page));
    if (p.tdef_page != tdef_) Corrupt();
    size_t used = 0;
    for (size_t i = 0; i < p.entries.size(); ++i) {
      used += EntrySize(p.entries[i], p.leaf) - (i > 0 ? p.prefix_len : 0);
      if (i > 0 && CompareEntries(p.entries[i - 1], p.entries[i]) >= 0) Corrupt();
    }
    if (size_t{p.free_space} + used != IndexPageCapacity(f_)) Corrupt();
    if (levels_.size() <= depth) levels_.resize(depth + 1);
    levels_[depth].push_back({page, p.prev_page, p.next_page});
    if (p.leaf) {
      if (leaf_depth_ && *leaf_depth_ != depth) Corrupt();
      leaf_depth_ = depth;
      if (p.entries.empty()) return {};
      return {p.entries.front(), p.entries.back()};
    }
    if (p.entries.empty() && p.tail_page == 0) Corrupt();
    Span whole;
    const IndexEntry* bound = nullptr;  // the entry before the child
    auto child = [&](uint32_t at, const IndexEntry* above) {
      Span s = Walk(at, depth + 1);
      if (!s.low) return;
      if (bound && CompareEntries(*s.low, *bound) <= 0) Corrupt();
      if (above && CompareEntries(*s.high, *above) > 0) Corrupt();
      if (!whole.low) whole.low = s.low;
      whole.high = s.high;
    };
    for (const IndexEntry& e : p.entries) {
      child(e.child, &e);
      bound = &e;
    }
    if (p.tail_page != 0) child(p.tail_page, nullptr);
    return whole;
  }

  Pager& pager_;
  const Format& f_;
  uint32_t tdef_;
  std::set<uint32_t>& seen_;
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
  ReadUsageMap(pager, RowId{pager.format().global_usage_map_page, 0});
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
