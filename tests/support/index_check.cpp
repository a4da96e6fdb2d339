#include "support/index_check.h"

#include <algorithm>
#include <set>
#include <vector>

#include "jet/database.h"
#include "jet/error.h"
#include "jet/index_builder.h"
#include "jet/index_key.h"
#include "jet/index_page.h"

namespace testing_support {
namespace {

using jet::Bytes;
using jet::IndexEntry;
using jet::IndexPage;

constexpr int kMaxDepth = 16;

struct TreeWalk {
  const jet::Format& f;
  const std::function<Bytes(uint32_t)>& read;
  std::set<uint32_t> seen;
  std::vector<uint32_t> leaves;  // in key order
  std::string fault;

  void Fail(uint32_t page, const std::string& what) {
    if (fault.empty()) fault = "page " + std::to_string(page) + ": " + what;
  }

  // The largest entry under `page`.
  IndexEntry Walk(uint32_t page, int depth) {
    if (depth > kMaxDepth) {
      Fail(page, "deeper than " + std::to_string(kMaxDepth) + " levels");
      return {};
    }
    if (!seen.insert(page).second) {
      Fail(page, "reached twice");
      return {};
    }
    const Bytes image = read(page);
    const IndexPage p = jet::ParseIndexPage(f, image);
    const size_t used = f.page_size - p.free_space;
    const Bytes again = jet::WriteIndexPage(f, p);
    if (used > f.page_size || !std::equal(again.begin(), again.begin() + static_cast<ptrdiff_t>(used),
                                          image.begin()))
      Fail(page, "not written back as it was read");
    for (size_t i = 1; i < p.entries.size(); ++i)
      if (jet::CompareEntries(p.entries[i - 1], p.entries[i]) >= 0) Fail(page, "entries out of order");
    if (p.leaf) {
      leaves.push_back(page);
      return p.entries.empty() ? IndexEntry{} : p.entries.back();
    }
    IndexEntry last;
    for (const IndexEntry& e : p.entries) {
      const IndexEntry below = Walk(e.child, depth + 1);
      if (jet::CompareEntries(below, e) > 0) Fail(page, "entry below its child's largest");
      last = e;
    }
    if (p.tail_page != 0) last = Walk(p.tail_page, depth + 1);
    return last;
  }
};

std::string Hex(const Bytes& b) {
  std::string s;
  for (uint8_t x : b) {
    s += "0123456789abcdef"[x >> 4];
    s += "0123456789abcdef"[x & 15];
  }
  return s;
}

}  // namespace

std::string IndexTreeFault(const jet::Format& f, uint32_t root,
                           const std::function<Bytes(uint32_t)>& read) {
  try {
    TreeWalk walk{f, read, {}, {}, {}};
    walk.Walk(root, 0);
    if (!walk.fault.empty()) return walk.fault;
    uint32_t prev = 0;
    for (uint32_t leaf : walk.leaves) {
      const IndexPage p = jet::ParseIndexPage(f, read(leaf));
      if (walk.leaves.size() > 1 && p.prev_page != prev)
        return "leaf " + std::to_string(leaf) + ": previous link " + std::to_string(p.prev_page) +
               ", expected " + std::to_string(prev);
      prev = leaf;
    }
    // The leaf links forward give the entries in order, as the walk met them.
    const std::vector<IndexEntry> linked = jet::ReadIndexEntries(f, root, read);
    for (size_t i = 1; i < linked.size(); ++i)
      if (jet::CompareEntries(linked[i - 1], linked[i]) >= 0)
        return "leaf links: entry " + std::to_string(i) + " out of order";
  } catch (const jet::JetError& e) {
    return "unreadable: " + std::string(e.what());
  }
  return {};
}

std::string IndexFaults(jet::FileState& file, const std::string& table) {
  jet::Table& t = file.GetTable(table);
  jet::Pager& pager = file.pager();
  const jet::TableDef& def = t.def();
  std::vector<std::vector<IndexEntry>> rebuilt(def.real_indexes.size());
  std::vector<jet::Value> values;
  for (jet::Table::Scan scan(t); scan.Next();) {
    const jet::RowId id = scan.row_id();
    t.DecodeRow(scan.bytes(), values);
    for (size_t i = 0; i < def.real_indexes.size(); ++i) {
      const jet::RealIndexDef& ri = def.real_indexes[i];
      bool listed = true;
      if (ri.flags & jet::kIdxIgnoreNulls) {
        for (const auto& ic : ri.columns)
          if (values[def.SlotOf(ic.column_number)].is_null()) listed = false;
      }
      if (listed) rebuilt[i].push_back({jet::RowIndexKey(def, ri, values), id, 0});
    }
  }
  auto read = [&](uint32_t page) { return pager.Copy(page); };
  for (size_t i = 0; i < def.real_indexes.size(); ++i) {
    const std::string name = table + " index " + std::to_string(i) + ": ";
    const uint32_t root = def.real_indexes[i].first_page;
    if (std::string fault = IndexTreeFault(pager.format(), root, read); !fault.empty())
      return name + fault;
    std::vector<IndexEntry>& want = rebuilt[i];
    std::sort(want.begin(), want.end(),
              [](const IndexEntry& a, const IndexEntry& b) { return jet::CompareEntries(a, b) < 0; });
    const std::vector<IndexEntry> have = jet::ReadIndexEntries(pager.format(), root, read);
    const size_t n = std::min(want.size(), have.size());
    for (size_t k = 0; k < n; ++k) {
      if (!(want[k] == have[k]))
        return name + "entry " + std::to_string(k) + " is " + Hex(have[k].key) + " at " +
               std::to_string(have[k].row.page) + ":" + std::to_string(have[k].row.row) +
               ", the rows give " + Hex(want[k].key) + " at " + std::to_string(want[k].row.page) +
               ":" + std::to_string(want[k].row.row);
    }
    if (want.size() != have.size())
      return name + std::to_string(have.size()) + " entries, " + std::to_string(want.size()) +
             " rows listed";
  }
  return {};
}

}  // namespace testing_support
