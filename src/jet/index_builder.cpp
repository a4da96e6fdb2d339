#include "jet/index_builder.h"

#include <algorithm>
#include <set>

#include "jet/error.h"

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

bool Fits(const Format& f, const std::vector<IndexEntry>& entries, bool leaf) {
  return PackedSize(entries, leaf, SharedPrefix(entries, leaf)) <= MaxPacked(f);
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

struct PathStep {
  uint32_t page;
  IndexPage node;
  int slot;  // entry followed from this node; -1: its tail
};

constexpr size_t kMaxDepth = 32;

// The route from the root to the leaf where `e` belongs.
std::vector<PathStep> Descend(const Format& f, uint32_t root, const IndexEntry& e,
                              const ReadPage& read, IndexPage& leaf) {
  std::vector<PathStep> path;
  uint32_t page = root;
  IndexPage p = ParseIndexPage(f, read(page));
  while (!p.leaf) {
    if (path.size() >= kMaxDepth) throw JetError(kErrCorrupt);
    int slot = -1;
    for (size_t i = 0; i < p.entries.size(); ++i) {
      if (CompareEntries(p.entries[i], e) >= 0) {
        slot = static_cast<int>(i);
        break;
      }
    }
    if (slot < 0 && p.tail_page == 0) {
      if (p.entries.empty()) throw JetError(kErrCorrupt);
      slot = static_cast<int>(p.entries.size() - 1);
    }
    uint32_t child = slot >= 0 ? p.entries[slot].child : p.tail_page;
    path.push_back({page, std::move(p), slot});
    page = child;
    p = ParseIndexPage(f, read(page));
  }
  path.push_back({page, std::move(p), -1});
  leaf = path.back().node;
  return path;
}

void Store(const Format& f, uint32_t page, IndexPage& p, const WritePage& write) {
  p.prefix_len = ChoosePrefix(f, p.entries, p.leaf, p.next_page == 0);
  write(page, WriteIndexPage(f, p));
}

}  // namespace

void InsertIndexEntry(const Format& f, uint32_t root, const IndexEntry& entry,
                      const ReadPage& read, const WritePage& write, const AllocatePage& allocate) {
  IndexPage unused;
  std::vector<PathStep> path = Descend(f, root, entry, read, unused);
  IndexEntry leaf_entry{entry.key, entry.row, 0};
  {
    auto& es = path.back().node.entries;
    auto at = std::lower_bound(es.begin(), es.end(), leaf_entry,
                               [](const IndexEntry& a, const IndexEntry& b) {
                                 return CompareEntries(a, b) < 0;
                               });
    if (at != es.end() && CompareEntries(*at, leaf_entry) == 0) throw JetError(kErrDuplicateKey);
    es.insert(at, leaf_entry);
  }
  // A parent entry is the maximum of its child's subtree; raise it when the
  // new entry goes past it.
  for (size_t l = 0; l + 1 < path.size(); ++l) {
    PathStep& s = path[l];
    if (s.slot >= 0 && CompareEntries(s.node.entries[s.slot], entry) < 0) {
      s.node.entries[s.slot].key = entry.key;
      s.node.entries[s.slot].row = entry.row;
    }
  }

  for (size_t l = path.size(); l-- > 0;) {
    PathStep& s = path[l];
    IndexPage& p = s.node;
    if (Fits(f, p.entries, p.leaf)) {
      Store(f, s.page, p, write);
      // Ancestors may hold a raised maximum.
      for (size_t u = l; u-- > 0;) Store(f, path[u].page, path[u].node, write);
      return;
    }
    if (p.entries.size() < 2) throw JetError(kErrInvalidArgument);
    if (l == 0) {
      // The root keeps its page number: its contents move one level down.
      uint32_t moved = allocate();
      IndexPage new_root;
      new_root.leaf = false;
      new_root.tdef_page = p.tdef_page;
      new_root.tail_page = moved;
      PathStep root_step{s.page, std::move(new_root), -1};
      s.page = moved;
      path.insert(path.begin(), std::move(root_step));
      l = 1;
    }
    PathStep& cur = path[l];
    IndexPage& full = cur.node;
    // Appending at the end of a level moves just the last entry; otherwise
    // the page splits in half.
    size_t keep = full.entries.size() / 2;
    bool appended = full.next_page == 0 &&
                    CompareEntries(full.entries.back(), IndexEntry{entry.key, entry.row, 0}) == 0;
    if (appended) keep = full.entries.size() - 1;
    IndexPage right;
    right.leaf = full.leaf;
    right.tdef_page = full.tdef_page;
    right.entries.assign(full.entries.begin() + keep, full.entries.end());
    full.entries.resize(keep);
    right.tail_page = full.tail_page;
    full.tail_page = 0;
    uint32_t right_page = allocate();
    right.prev_page = cur.page;
    right.next_page = full.next_page;
    full.next_page = right_page;
    if (right.next_page != 0) {
      IndexPage after = ParseIndexPage(f, read(right.next_page));
      after.prev_page = right_page;
      write(right.next_page, WriteIndexPage(f, after));
    }
    Store(f, right_page, right, write);
    Store(f, cur.page, full, write);

    // The parent now needs an entry for the left half, and its old slot
    // names the right half.
    PathStep& parent = path[l - 1];
    IndexEntry left_max = full.entries.back();
    left_max.child = cur.page;
    size_t insert_at;
    if (parent.slot >= 0) {
      parent.node.entries[parent.slot].child = right_page;
      insert_at = static_cast<size_t>(parent.slot);
    } else {
      parent.node.tail_page = right_page;
      insert_at = parent.node.entries.size();
    }
    parent.node.entries.insert(parent.node.entries.begin() + insert_at, std::move(left_max));
  }
}

bool DeleteIndexEntry(const Format& f, uint32_t root, const IndexEntry& entry,
                      const ReadPage& read, const WritePage& write, const ReleasePage& release) {
  IndexPage unused;
  IndexEntry target{entry.key, entry.row, 0};
  std::vector<PathStep> path = Descend(f, root, target, read, unused);
  auto& es = path.back().node.entries;
  auto at = std::find_if(es.begin(), es.end(),
                         [&](const IndexEntry& e) { return CompareEntries(e, target) == 0; });
  if (at == es.end()) return false;
  es.erase(at);

  for (size_t l = path.size(); l-- > 0;) {
    PathStep& s = path[l];
    IndexPage& p = s.node;
    bool empty = p.entries.empty() && p.tail_page == 0;
    if (!empty || l == 0) {
      if (l == 0 && empty) p.leaf = true;
      Store(f, s.page, p, write);
      return true;
    }
    // Unlink the empty page from its level and from its parent.
    if (p.prev_page != 0) {
      IndexPage before = ParseIndexPage(f, read(p.prev_page));
      before.next_page = p.next_page;
      Store(f, p.prev_page, before, write);
    }
    if (p.next_page != 0) {
      IndexPage after = ParseIndexPage(f, read(p.next_page));
      after.prev_page = p.prev_page;
      Store(f, p.next_page, after, write);
    }
    release(s.page);
    PathStep& parent = path[l - 1];
    if (parent.slot >= 0) {
      parent.node.entries.erase(parent.node.entries.begin() + parent.slot);
    } else if (!parent.node.entries.empty()) {
      // The last listed child becomes the tail.
      parent.node.tail_page = parent.node.entries.back().child;
      parent.node.entries.pop_back();
    } else {
      parent.node.tail_page = 0;
    }
  }
  return true;
}

}  // namespace jet
