#include "jet/sql_aggregate.h"

#include <cmath>

#include "jet/error.h"
#include "jet/sql_expr.h"
#include "jet/value_codec.h"

namespace jet::sql {

Accumulator::Accumulator(const Expr& aggregate) : e_(&aggregate) {}

void Accumulator::Add(const std::vector<Value>& row) {
  if (e_->args.empty()) {  // COUNT(*)
    ++count_;
    return;
  }
  Value v = Evaluate(*e_->args[0], row);
  if (v.is_null()) return;
  ++count_;
  const std::string& name = e_->name;
  if (name == "COUNT") return;
  if (name == "MIN" || name == "MAX") {
    if (best_.is_null()) {
      best_ = std::move(v);
    } else {
      const int c = OrderCompare(v, best_);
      if (name == "MIN" ? c < 0 : c > 0) best_ = std::move(v);
    }
    return;
  }
  // SUM and AVG.
  if (v.is<Currency>()) {
    const int64_t scaled = v.as<Currency>().scaled;
    if (all_currency_ && __builtin_add_overflow(currency_sum_, scaled, &currency_sum_)) {
      throw JetError(kErrOverflow);
    }
    sum_ += static_cast<long double>(scaled) / 10000.0L;
    return;
  }
  all_currency_ = false;
  if (v.is<bool>()) {
    sum_ += v.as<bool>() ? -1 : 0;
  } else if (v.is<int32_t>()) {
    sum_ += v.as<int32_t>();
  } else if (v.is<float>()) {
    sum_ += v.as<float>();
  } else if (v.is<double>()) {
    sum_ += v.as<double>();
  } else if (v.is<Date>()) {
    sum_ += v.as<Date>().days;
  } else if (v.is<Decimal>()) {
    sum_ += DecimalToDouble(v.as<Decimal>());
  } else if (v.is<std::string>()) {
    sum_ += Coerce(v, ColumnType::kDouble).as<double>();
  } else {
    throw JetError(kErrDataTypeMismatch);
  }
}

Value Accumulator::Result() const {
  const std::string& name = e_->name;
  if (name == "COUNT") {
    if (count_ > INT32_MAX) throw JetError(kErrOverflow);
    return Value(static_cast<int32_t>(count_));
  }
  if (name == "MIN" || name == "MAX") return best_;
  if (count_ == 0) return Value::Null();
  if (name == "SUM") {
    if (all_currency_) return Value(Currency{currency_sum_});
    return Value(static_cast<double>(sum_));
  }
  // AVG
  const long double mean = sum_ / static_cast<long double>(count_);
  if (all_currency_) return Value(Currency{static_cast<int64_t>(std::nearbyint(mean * 10000.0L))});
  return Value(static_cast<double>(mean));
}

bool HasAggregate(const Expr& e) {
  if (e.kind == Expr::Kind::kAggregate) return true;
  for (const auto& a : e.args) {
    if (HasAggregate(*a)) return true;
  }
  return false;
}

std::string SourceText(const Expr& e, std::string_view sql) {
  if (e.end <= e.pos || e.end > sql.size()) return e.name;
  return std::string(sql.substr(e.pos, e.end - e.pos));
}

void CollectAggregates(Expr& e, std::vector<Expr*>& out, std::string_view sql) {
  if (e.kind == Expr::Kind::kAggregate) {
    for (const auto& a : e.args) {
      if (HasAggregate(*a)) throw JetError(kErrAggregateInExpression, SourceText(e, sql));
    }
    out.push_back(&e);
    return;
  }
  for (auto& a : e.args) CollectAggregates(*a, out, sql);
}

void CheckGrouped(const Expr& e, const std::vector<ExprPtr>& group_by, std::string_view sql) {
  for (const auto& g : group_by) {
    if (SameExpr(e, *g)) return;
  }
  if (e.kind == Expr::Kind::kAggregate) return;
  if (e.kind == Expr::Kind::kColumn) throw JetError(kErrNotInAggregate, SourceText(e, sql));
  for (const auto& a : e.args) CheckGrouped(*a, group_by, sql);
}

}  // namespace jet::sql
