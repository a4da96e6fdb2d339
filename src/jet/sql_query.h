// SELECT: reads the FROM clause's tables (through an index where the WHERE
// fixes an indexed column, sql_seek.h), joins them (sql_join.h), filters,
// groups and aggregates (sql_aggregate.h), removes duplicates, orders and
// cuts to TOP, giving the materialised result.
//
// Output columns are named as the engine names them: an alias, a column's
// own name (qualified by its table when two tables of the query have it),
// or Expr1000, Expr1001... ORDER BY takes expressions, select-list aliases
// and positions (1 is the first output column); text sorts in the General
// sort order its indexes use, Null first.
#pragma once

#include <string_view>

#include "jet/sql.h"
#include "jet/sql_parser.h"

namespace jet {
class FileState;
}

namespace jet::sql {

// `sql` is the statement's text, quoted in error messages.
ResultSet RunQuery(FileState& db, Select& s, std::string_view sql);

}  // namespace jet::sql
