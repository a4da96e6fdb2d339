#include "jet/sql_seek.h"

#include <limits>

#include "jet/database.h"
#include "jet/error.h"
#include "jet/index_key.h"
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

  // The index with the most columns, all fixed.
  std::optional<size_t> best;
  Bytes best_key;
  for (size_t i = 0; i < def.real_indexes.size(); ++i) {
    const RealIndexDef& ri = def.real_indexes[i];
    if (ri.columns.empty() || (best && def.real_indexes[*best].columns.size() >= ri.columns.size())) continue;
    Bytes key;
    bool usable = true;
    for (const IndexColumn& ic : ri.columns) {
      const ColumnDef* cd = def.ColumnByNumber(ic.column_number);
      if (!cd) {
        usable = false;
        break;
      }
      const auto at = fixed.find(static_cast<size_t>(cd - def.columns.data()));
      std::optional<Value> v;
      if (at != fixed.end()) v = KeyValue(*cd, at->second);
      if (!v) {
        usable = false;
        break;
      }
      AppendKeyColumn(key, *v, *cd, ic.ascending);
    }
    if (!usable) continue;
    best = i;
    best_key = std::move(key);
  }
  if (!best) return std::nullopt;
  std::vector<RowId> rows;
  db.FindIndexRows(t, *best, best_key, std::numeric_limits<size_t>::max(), rows);
  return rows;
}

}  // namespace jet::sql
