// Aggregate functions of a query (COUNT, SUM, AVG, MIN, MAX) with the
// engine's rules: Null values are left out; COUNT(*) counts rows and
// COUNT(x) the rows where x is not Null, both as Long, 0 over no rows; the
// others are Null over no values. SUM and AVG of Currency stay Currency,
// of any other number (Byte, Integer and Long included) they are Double;
// text is read as a number (3464 when it is none). MIN and MAX keep the
// value's type and compare as ORDER BY does.
//
// Also the checks an aggregate query must pass: no aggregate inside
// another (3095), and every column outside an aggregate part of a GROUP BY
// expression (3122).
#pragma once

#include <cstdint>
#include <string_view>
#include <vector>

#include "jet/sql_parser.h"
#include "jet/value.h"

namespace jet::sql {

// One aggregate's running value over the rows of a group. `aggregate` must
// be bound and outlive the accumulator.
class Accumulator {
 public:
  explicit Accumulator(const Expr& aggregate);
  // Takes one source row (the slots its argument reads).
  void Add(const std::vector<Value>& row);
  Value Result() const;

 private:
  const Expr* e_;
  int64_t count_ = 0;
  long double sum_ = 0;
  int64_t currency_sum_ = 0;  // exact while every value is Currency
  bool all_currency_ = true;
  Value best_;  // MIN / MAX
};

// True when `e` holds an aggregate anywhere.
bool HasAggregate(const Expr& e);

// Appends the outermost aggregates of `e` to `out`. `sql` is the
// statement's text: an aggregate inside another is 3095, quoting it.
void CollectAggregates(Expr& e, std::vector<Expr*>& out, std::string_view sql);

// 3122, quoting the column as written, when `e` reads a column outside an
// aggregate and outside every expression of `group_by`.
void CheckGrouped(const Expr& e, const std::vector<ExprPtr>& group_by, std::string_view sql);

// The statement's text of an expression, for error messages.
std::string SourceText(const Expr& e, std::string_view sql);

}  // namespace jet::sql
