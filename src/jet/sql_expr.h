// Expressions of SQL statements: binding names to a table's columns and
// evaluating them on a row with the engine's rules: Null propagates through
// arithmetic and comparisons, conditions use three-valued logic, text
// compares without regard to case, integers that overflow Long become
// Double, and & treats Null as an empty string.
#pragma once

#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "jet/sql_parser.h"
#include "jet/tabledef.h"
#include "jet/value.h"

namespace jet::sql {

// One table of a statement's FROM clause: its columns take the slots
// offset .. offset + def->columns.size() - 1 of the rows expressions see.
// `def` must outlive the binding.
struct ScopeTable {
  std::string name, alias;
  const TableDef* def = nullptr;
  size_t offset = 0;
};

// Resolves each column name of `e` to its slot among the tables' columns.
// A name none of them has (or a qualifier naming no table) is a parameter,
// as the engine reads it: its text is added to `parameters` once. A bare
// name two tables have is 3079; unknown functions raise 3085. Aggregates
// get their slot from the query that computes them.
void Bind(Expr& e, std::span<const ScopeTable> tables, std::vector<std::string>& parameters);
// One table, its columns from slot 0.
void Bind(Expr& e, const TableDef& def, std::string_view table, std::string_view alias,
          std::vector<std::string>& parameters);

// The value of a bound expression; `row` holds one value per slot. An
// aggregate reads its slot (3095 when it has none: not in a query).
Value Evaluate(const Expr& e, const std::vector<Value>& row);

// The same expression: same kind, operator, constant, function and bound
// slots, without regard to how names were written.
bool SameExpr(const Expr& a, const Expr& b);

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
