// Index seeks: a WHERE that fixes the value of every column of one of a
// table's indexes (col = constant, joined by AND to anything else) finds
// its rows through that index's B-tree, reading the pages from the root to
// the leaf and the rows' own data pages, instead of every page of the table.
//
// The rows found are candidates: the caller still evaluates its condition
// on each. They include every row the condition can match: the constant is
// encoded as the column's index key (index_key.h), and a seek is only made
// where equal values under the condition's comparison give equal keys:
// numbers and dates against number and date columns, ASCII text against
// text in the General sort order (whose keys ignore case, as the
// comparison does). Anything else is scanned.
#pragma once

#include <optional>
#include <span>
#include <vector>

#include "jet/sql_parser.h"
#include "jet/table.h"

namespace jet {
class FileState;
}

namespace jet::sql {

// The rows of `t` that the AND-ed `conditions` may match, through an
// index, or nothing when no index serves. `first_slot` is where the table's
// columns start in the rows the bound conditions read.
std::optional<std::vector<RowId>> SeekRows(FileState& db, Table& t, size_t first_slot,
                                           std::span<const Expr* const> conditions);

}  // namespace jet::sql
