#include "jet/sql_seek.h"

#include <algorithm>
#include <limits>

#include "jet/database.h"
#include "jet/error.h"
#include "jet/index_key.h"
#include "jet/index_page.h"
#include "jet/pager.h"
#include "jet/sql_expr.h"
#include "jet/value_codec.h"

namespace jet::sql {
namespace {

bool ReadsNoColumn(const Expr& e) {
  if (e.kind == Expr::Kind::kColumn || e.kind == Expr::Kind::kAggregate) return false;
  if (e.kind == Expr::Kind::kCall) return false;  // Now() and the like change
  for (const auto& a : e.args) {
    if (!ReadsNoColumn(*a)) return false;
  }
  return true;
}

bool IsNumberType(ColumnType t) {
  switch (t) {
    case ColumnType::kByte: case ColumnType::kInteger: case ColumnType::kLong:
    case ColumnType::kCurrency: case ColumnType::kSingle: case ColumnType::kDouble:
      return true;
    default:
      return false;
  }
}

// The constant as the column's index holds it, or nothing when a seek
// could miss a row the comparison matches.
std::optional<Value> KeyValue(const ColumnDef& c, const Value& v) {
  if (v.is_null()) return std::nullopt;
  try {
    if (IsNumberType(c.type)) {
      if (!(v.is<int32_t>() || v.is<double>() || v.is<Currency>() || v.is<float>())) return std::nullopt;
      return Coerce(v, c.type);
    }
    if (c.type == ColumnType::kDate) {
      if (!v.is<Date>()) return std::nullopt;
      return v;
    }
    if (c.type == ColumnType::kText && v.is<std::string>() && IsGeneralSortOrder(c)) {
      for (unsigned char ch : v.as<std::string>()) {
        if (ch >= 0x80) return std::nullopt;
      }
      return v;
    }
  } catch (const JetError&) {
    // Out of the column's range: the scan tells.
  }
  return std::nullopt;
}

bool StartsWith(ByteView key, ByteView prefix) {
  return key.size() >= prefix.size() && std::equal(prefix.begin(), prefix.end(), key.begin());
}

// Rows whose key in the tree under `root` starts with `prefix` (the
// leading columns' keys), in index order. An intermediate entry carries
// its child's last key, so the descent takes the first child whose last
// key is not below the prefix, then the leaves are followed to the right.
// Nothing when the pages may not hold every entry: an index that was empty
// when its table began to fill in this session keeps its entries in memory
// (pending_index.h) and its root empty on the page until they are written.
std::optional<std::vector<RowId>> RowsUnderPrefix(Pager& pager, const Format& f, uint32_t root,
                                                  ByteView prefix) {
  uint32_t page = root;
  for (uint32_t depth = 0;; ++depth) {
    if (depth > 32) throw JetError(kErrCorrupt);
    const IndexPage p = ParseIndexPage(f, pager.Read(page));
    if (p.leaf) {
      if (page == root && p.entries.empty() && pager.writable()) return std::nullopt;
      break;
    }
    uint32_t child = p.tail_page;
    for (const IndexEntry& e : p.entries) {
      if (CompareKeys(e.key, prefix) >= 0) {
        child = e.child;
        break;
      }
    }
    if (child == 0) return std::vector<RowId>{};
    page = child;
  }
  std::vector<RowId> out;
  for (uint32_t hops = 0; page != 0; ++hops) {
    if (hops > pager.page_count()) throw JetError(kErrCorrupt);
    const IndexPage p = ParseIndexPage(f, pager.Read(page));
    for (const IndexEntry& e : p.entries) {
      if (StartsWith(e.key, prefix)) {
        out.push_back(e.row);
      } else if (CompareKeys(e.key, prefix) > 0) {
        return out;
      }
    }
    page = p.next_page;
  }
  return out;
}

}  // namespace

FixedColumns FixedBy(const TableDef& def, size_t first_slot, std::span<const Expr* const> conditions) {
  FixedColumns fixed;
  for (const Expr* c : conditions) {
    if (c->kind != Expr::Kind::kBinary || c->op != "=") continue;
    for (int side = 0; side < 2; ++side) {
      const Expr& col = *c->args[static_cast<size_t>(side)];
      const Expr& other = *c->args[static_cast<size_t>(1 - side)];
      if (col.kind != Expr::Kind::kColumn || col.column < 0) continue;
      const auto slot = static_cast<size_t>(col.column);
      if (slot < first_slot || slot >= first_slot + def.columns.size()) continue;
      if (!ReadsNoColumn(other)) continue;
      fixed.emplace(slot - first_slot, Evaluate(other, {}));
    }
  }
  return fixed;
}

std::optional<std::vector<RowId>> SeekRows(FileState& db, Table& t, const FixedColumns& fixed) {
  const TableDef& def = t.def();
  if (t.format().version < 4 || fixed.empty()) return std::nullopt;

  // An index whose columns are all fixed, the one with the most; else the
  // one with the longest run of fixed leading columns.
  struct Choice {
    size_t index = 0;
    size_t fixed_columns = 0;
    bool whole = false;
    Bytes key;
  };
  std::optional<Choice> best;
  for (size_t i = 0; i < def.real_indexes.size(); ++i) {
    const RealIndexDef& ri = def.real_indexes[i];
    Choice c{i, 0, false, {}};
    for (const IndexColumn& ic : ri.columns) {
      const ColumnDef* cd = def.ColumnByNumber(ic.column_number);
      if (!cd) break;
      const auto at = fixed.find(static_cast<size_t>(cd - def.columns.data()));
      if (at == fixed.end()) break;
      const std::optional<Value> v = KeyValue(*cd, at->second);
      if (!v) break;
      AppendKeyColumn(c.key, *v, *cd, ic.ascending);
      ++c.fixed_columns;
    }
    if (c.fixed_columns == 0) continue;
    c.whole = c.fixed_columns == ri.columns.size();
    if (!best || (c.whole && !best->whole) ||
        (c.whole == best->whole && c.fixed_columns > best->fixed_columns)) {
      best = std::move(c);
    }
  }
  if (!best) return std::nullopt;
  if (!best->whole) {
    return RowsUnderPrefix(t.pager(), t.format(), def.real_indexes[best->index].first_page, best->key);
  }
  std::vector<RowId> rows;
  db.FindIndexRows(t, best->index, best->key, std::numeric_limits<size_t>::max(), rows);
  return rows;
}

}  // namespace jet::sql
