// Index seeks: a WHERE that fixes the value of every column of one of a
// table's indexes, or of its leading columns (col = constant, joined by
// AND to anything else), or a join's condition once the other side's row
// is known, finds its rows through that index's B-tree, reading the pages
// from the root to the leaves that hold them and the rows' own data pages,
// instead of every page of the table.
//
// The rows found are candidates: the caller still evaluates its condition
// on each. They include every row the condition can match: the constant is
// encoded as the column's index key (index_key.h), and a seek is only made
// where equal values under the condition's comparison give equal keys:
// numbers and dates against number and date columns, ASCII text against
// text in the General sort order (whose keys ignore case, as the
// comparison does). Anything else is scanned.
#pragma once

#include <map>
#include <optional>
#include <span>
#include <vector>

#include "jet/sql_parser.h"
#include "jet/table.h"

namespace jet {
class FileState;
}

namespace jet::sql {

// Column (by position in the table's definition) -> the value it must
// equal.
using FixedColumns = std::map<size_t, Value>;

// The columns the AND-ed `conditions` fix to a constant. `first_slot` is
// where the table's columns start in the rows the bound conditions read.
FixedColumns FixedBy(const TableDef& def, size_t first_slot, std::span<const Expr* const> conditions);

// The rows of `t` whose columns may hold the `fixed` values, through the
// index with the most columns all fixed (else the most leading columns
// fixed), or nothing when no index serves.
std::optional<std::vector<RowId>> SeekRows(FileState& db, Table& t, const FixedColumns& fixed);

}  // namespace jet::sql
