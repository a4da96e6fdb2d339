// Expressions of SQL statements: binding names to a table's columns and
// evaluating them on a row with the engine's rules: Null propagates through
// arithmetic and comparisons, conditions use three-valued logic, text
// compares without regard to case, integers that overflow Long become
// Double, and & treats Null as an empty string.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "jet/sql_parser.h"
#include "jet/tabledef.h"
#include "jet/value.h"

namespace jet::sql {

// Resolves each column name of `e` to its slot in def.columns. A name the
// table lacks (or a qualifier naming another table) is a parameter, as the
// engine reads it: its text is added to `parameters` once. Unknown functions
// raise 3085.
void Bind(Expr& e, const TableDef& def, std::string_view table, std::string_view alias,
          std::vector<std::string>& parameters);

// The value of a bound expression; `row` holds one value per def column.
Value Evaluate(const Expr& e, const std::vector<Value>& row);

// A condition's outcome: only a present, non-zero value matches.
bool IsTrue(const Value& v);

// Comparison as criteria compare: <0, 0, >0, or empty when either side is
// Null. Text against text ignores case; text against a number or date is
// read as one (3464 when it cannot be).
std::optional<int> Compare(const Value& a, const Value& b);

// ORDER BY: Null first, then Compare's order.
int OrderCompare(const Value& a, const Value& b);

// Jet's LIKE: * any run, ? one character, # one digit, [a-z] [!x] sets;
// letters without regard to case.
bool Like(std::string_view text, std::string_view pattern);

}  // namespace jet::sql
