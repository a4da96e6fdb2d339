// Joins of a query's sources. Every row of a query, before grouping, holds
// one value per slot of every table in its FROM clause (ScopeTable
// offsets) and the record it took from each; a table an outer join found
// nothing in holds Null and no record.
//
// The ON condition's equalities between a column (or expression) of one
// side and one of the other are the join keys: one side is sorted by its
// key and the other looks its keys up, so a join costs a sort, not the
// product of the sides. Keys compare as WHERE compares (text without
// regard to case); a Null key matches nothing. The rest of the condition is
// evaluated on each pair the keys matched.
#pragma once

#include <cstddef>
#include <optional>
#include <vector>

#include "jet/bytes.h"
#include "jet/sql_parser.h"
#include "jet/value.h"

namespace jet::sql {

struct SourceRow {
  std::vector<Value> values;               // every slot of every table
  std::vector<std::optional<RowId>> records;  // one per table
};

// Which slots and tables a side of a join covers.
struct JoinSide {
  std::vector<size_t> slots;
  std::vector<size_t> tables;
  std::vector<bool> has_slot;  // by slot
};

// `kind`: kInner, kLeft, kRight or kCross (no condition). `on` bound to
// the combined slots; `also`, conditions AND-ed to it (a WHERE's, for a
// join whose rows no outer join can make Null).
std::vector<SourceRow> JoinRows(Source::Join kind, std::vector<SourceRow> left,
                                std::vector<SourceRow> right, const JoinSide& left_side,
                                const JoinSide& right_side, const Expr* on,
                                const std::vector<const Expr*>& also = {});

// The conditions an AND-ed expression is made of.
void SplitAnd(const Expr& e, std::vector<const Expr*>& out);

// True when every column `e` reads is one of `has_slot` and it reads no
// aggregate.
bool ReadsOnly(const Expr& e, const std::vector<bool>& has_slot);

}  // namespace jet::sql
