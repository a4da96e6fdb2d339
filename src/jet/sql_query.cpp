#include "jet/sql_query.h"

#include <algorithm>
#include <functional>
#include <map>
#include <set>

#include "jet/database.h"
#include "jet/error.h"
#include "jet/sql_aggregate.h"
#include "jet/sql_expr.h"
#include "jet/sql_join.h"
#include "jet/sql_seek.h"
#include "jet/text.h"

namespace jet::sql {
namespace {

struct ValuesLess {
  bool operator()(const std::vector<Value>& a, const std::vector<Value>& b) const {
    for (size_t i = 0; i < a.size(); ++i) {
      const int c = OrderCompare(a[i], b[i]);
      if (c != 0) return c < 0;
    }
    return false;
  }
};

// One output column: what it shows and what it is called.
struct Output {
  std::string name;
  const Expr* expr;
};

// ORDER BY item: its own expression, or an output column named by alias
// or position.
struct OrderKey {
  const Expr* expr = nullptr;
  std::optional<size_t> output;
  bool descending = false;
};

// Left rows a join looks up one by one in the right table's index at most;
// with more, reading the right table whole costs less.
constexpr size_t kMostLookups = 256;

class QueryRun {
 public:
  QueryRun(FileState& db, Select& s, std::string_view sql) : db_(db), s_(s), sql_(sql) {}

  ResultSet Run() {
    AddTables(s_.from);
    MakeOutputs();
    BindRest();
    const bool aggregate = PrepareAggregates();
    if (s_.distinct) CheckDistinctOrder();

    if (s_.where) SplitAnd(*s_.where, where_parts_);
    pushed_.assign(where_parts_.size(), false);
    JoinSide side;
    if (aggregate && s_.from.join == Source::Join::kNone) {
      // One table: every condition applies as its rows are read, and the
      // rows need not be kept to be counted.
      Cover(s_.from, side);
      LeafRows(s_.from, false, side, [&](SourceRow& r) { AddToGroup(r); });
      return Finish(GroupRows());
    }
    std::vector<SourceRow> rows = Rows(s_.from, false, side);
    std::vector<const Expr*> remaining;
    for (size_t i = 0; i < where_parts_.size(); ++i) {
      if (!pushed_[i]) remaining.push_back(where_parts_[i]);
    }
    if (!remaining.empty()) {
      std::erase_if(rows, [&](const SourceRow& r) {
        return !std::all_of(remaining.begin(), remaining.end(),
                            [&](const Expr* c) { return IsTrue(Evaluate(*c, r.values)); });
      });
    }
    if (aggregate) {
      for (const SourceRow& r : rows) AddToGroup(r);
      rows = GroupRows();
    }
    return Finish(std::move(rows));
  }

 private:
  void AddTables(Source& src) {
    if (src.join != Source::Join::kNone) {
      AddTables(*src.left);
      AddTables(*src.right);
      return;
    }
    Table& t = db_.GetTable(src.table);
    leaf_index_[&src] = scope_.size();
    scope_.push_back({t.name(), src.alias, &t.def(), width_});
    tables_.push_back(&t);
    width_ += t.def().columns.size();
  }

  // True when a column of this name is in more than one table.
  bool SharedName(const std::string& column) const {
    int n = 0;
    for (const ScopeTable& st : scope_) {
      if (st.def->FindColumn(column)) ++n;
    }
    return n > 1;
  }

  const ScopeTable& TableOfSlot(size_t slot) const {
    for (const ScopeTable& st : scope_) {
      if (slot >= st.offset && slot < st.offset + st.def->columns.size()) return st;
    }
    throw JetError(kErrCorrupt);
  }

  void MakeOutputs() {
    std::vector<std::string> parameters;
    int expr_number = 1000;
    for (auto& item : s_.items) {
      if (item.star) {
        bool any = false;
        for (const ScopeTable& st : scope_) {
          if (!item.star_table.empty() && !NamesEqual(item.star_table, st.name) &&
              !NamesEqual(item.star_table, st.alias)) {
            continue;
          }
          any = true;
          std::vector<size_t> order(st.def->columns.size());
          for (size_t i = 0; i < order.size(); ++i) order[i] = i;
          std::stable_sort(order.begin(), order.end(), [&](size_t a, size_t b) {
            return st.def->columns[a].number < st.def->columns[b].number;
          });
          const std::string& shown = st.alias.empty() ? st.name : st.alias;
          for (size_t i : order) {
            auto e = std::make_unique<Expr>();
            e->kind = Expr::Kind::kColumn;
            e->name = st.def->columns[i].name;
            e->qualifier = shown;
            e->column = static_cast<int>(st.offset + i);
            const std::string name = SharedName(e->name) ? shown + "." + e->name : e->name;
            outputs_.push_back({name, e.get()});
            star_columns_.push_back(std::move(e));
          }
        }
        if (!any) throw JetError(kErrTooFewParameters, "1");
        continue;
      }
      Bind(*item.expr, scope_, parameters);
      std::string name = item.alias;
      if (name.empty() && item.expr->kind == Expr::Kind::kColumn && item.expr->column >= 0) {
        const auto slot = static_cast<size_t>(item.expr->column);
        const ScopeTable& st = TableOfSlot(slot);
        name = st.def->columns[slot - st.offset].name;
        if (SharedName(name)) name = (st.alias.empty() ? st.name : st.alias) + "." + name;
      }
      if (name.empty()) name = "Expr" + std::to_string(expr_number++);
      outputs_.push_back({name, item.expr.get()});
    }
    parameters_ = std::move(parameters);
  }

  void BindSource(Source& src) {
    if (src.join == Source::Join::kNone) return;
    BindSource(*src.left);
    BindSource(*src.right);
    if (src.on) Bind(*src.on, scope_, parameters_);
  }

  // An ORDER BY name no table has but an output is called by.
  std::optional<size_t> OutputNamed(const Expr& e) const {
    if (e.kind != Expr::Kind::kColumn || !e.qualifier.empty()) return std::nullopt;
    for (const ScopeTable& st : scope_) {
      if (st.def->FindColumn(e.name)) return std::nullopt;
    }
    for (size_t i = 0; i < s_.items.size() && i < outputs_.size(); ++i) {
      if (!s_.items[i].alias.empty() && NamesEqual(s_.items[i].alias, e.name)) {
        for (size_t k = 0; k < outputs_.size(); ++k) {
          if (outputs_[k].expr == s_.items[i].expr.get()) return k;
        }
      }
    }
    return std::nullopt;
  }

  void BindRest() {
    BindSource(s_.from);
    if (s_.where) Bind(*s_.where, scope_, parameters_);
    for (auto& g : s_.group_by) Bind(*g, scope_, parameters_);
    if (s_.having) Bind(*s_.having, scope_, parameters_);
    for (auto& o : s_.order) {
      OrderKey k;
      k.descending = o.descending;
      const Expr& e = *o.expr;
      if (e.kind == Expr::Kind::kLiteral && e.value.is<int32_t>() && e.value.as<int32_t>() >= 1 &&
          static_cast<size_t>(e.value.as<int32_t>()) <= outputs_.size()) {
        k.output = static_cast<size_t>(e.value.as<int32_t>() - 1);
      } else if (auto named = OutputNamed(e)) {
        k.output = named;
      } else {
        Bind(*o.expr, scope_, parameters_);
        k.expr = o.expr.get();
      }
      order_.push_back(k);
    }
    if (!parameters_.empty()) throw JetError(kErrTooFewParameters, std::to_string(parameters_.size()));
  }

  // The checks and slots of an aggregate query; false when it is none.
  bool PrepareAggregates() {
    if (s_.where && HasAggregate(*s_.where)) throw JetError(kErrAggregateInWhere, SourceText(*s_.where, sql_));
    for (const auto& g : s_.group_by) {
      if (HasAggregate(*g)) throw JetError(kErrAggregateInGroupBy, SourceText(*g, sql_));
    }
    std::vector<Expr*> found;
    for (auto& item : s_.items) {
      if (item.expr) CollectAggregates(*item.expr, found, sql_);
    }
    if (s_.having) CollectAggregates(*s_.having, found, sql_);
    for (auto& o : s_.order) CollectAggregates(*o.expr, found, sql_);
    if (found.empty() && s_.group_by.empty() && !s_.having) return false;

    for (const auto& item : s_.items) {
      if (item.star) throw JetError(kErrGroupOnStar, scope_.front().name);
    }
    for (const Output& o : outputs_) CheckGrouped(*o.expr, s_.group_by, sql_);
    if (s_.having) CheckGrouped(*s_.having, s_.group_by, sql_);
    for (const OrderKey& k : order_) {
      if (k.expr) CheckGrouped(*k.expr, s_.group_by, sql_);
    }
    for (Expr* a : found) {
      a->column = static_cast<int>(width_ + aggregates_.size());
      aggregates_.push_back(a);
    }
    return true;
  }

  void CheckDistinctOrder() const {
    for (size_t i = 0; i < order_.size(); ++i) {
      const OrderKey& k = order_[i];
      if (!k.expr) continue;
      const bool shown = std::any_of(outputs_.begin(), outputs_.end(),
                                     [&](const Output& o) { return SameExpr(*o.expr, *k.expr); });
      if (!shown) throw JetError(kErrOrderByConflictsDistinct, SourceText(*k.expr, sql_));
    }
  }

  // The slots and tables a part of the FROM clause covers.
  void Cover(const Source& src, JoinSide& side) const {
    if (side.has_slot.empty()) side.has_slot.assign(width_, false);
    if (src.join != Source::Join::kNone) {
      Cover(*src.left, side);
      Cover(*src.right, side);
      return;
    }
    const size_t ti = leaf_index_.at(&src);
    const ScopeTable& st = scope_[ti];
    for (size_t i = 0; i < st.def->columns.size(); ++i) {
      side.slots.push_back(st.offset + i);
      side.has_slot[st.offset + i] = true;
    }
    side.tables.push_back(ti);
  }

  std::vector<SourceRow> Rows(const Source& src, bool null_supplied, JoinSide& side) {
    side = JoinSide{};
    Cover(src, side);
    if (src.join == Source::Join::kNone) return LeafRows(src, null_supplied, side);
    JoinSide left_side, right_side;
    const bool left_ns = null_supplied || src.join == Source::Join::kRight;
    const bool right_ns = null_supplied || src.join == Source::Join::kLeft;
    std::vector<SourceRow> left = Rows(*src.left, left_ns, left_side);
    Cover(*src.right, right_side);
    // WHERE conditions across an inner join's sides join there, as keys
    // when they are equalities, instead of filtering the product.
    std::vector<const Expr*> also;
    if (!null_supplied && (src.join == Source::Join::kInner || src.join == Source::Join::kCross)) {
      for (size_t i = 0; i < where_parts_.size(); ++i) {
        const Expr& c = *where_parts_[i];
        if (pushed_[i] || !ReadsOnly(c, side.has_slot) || ReadsOnly(c, left_side.has_slot) ||
            ReadsOnly(c, right_side.has_slot)) {
          continue;
        }
        pushed_[i] = true;
        also.push_back(&c);
      }
    }
    if (src.join != Source::Join::kRight && src.right->join == Source::Join::kNone &&
        left.size() <= kMostLookups) {
      if (auto joined = LookupJoin(src, right_ns, left, left_side, right_side, also)) return std::move(*joined);
    }
    std::vector<SourceRow> right = Rows(*src.right, right_ns, right_side);
    return JoinRows(src.join, std::move(left), std::move(right), left_side, right_side, src.on.get(), also);
  }

  // The WHERE's conditions on one table alone (by position in where_parts_).
  std::vector<size_t> LeafConditions(const JoinSide& side) const {
    std::vector<size_t> out;
    for (size_t i = 0; i < where_parts_.size(); ++i) {
      if (ReadsOnly(*where_parts_[i], side.has_slot)) out.push_back(i);
    }
    return out;
  }

  // Rows `ids` of table `ti`, those that pass `filter`, handed to `take`.
  using RowSink = std::function<void(SourceRow&)>;
  void ReadLeaf(size_t ti, const std::vector<RowId>& ids, const std::vector<const Expr*>& filter,
                const RowSink& take) {
    const ScopeTable& st = scope_[ti];
    Table& t = *tables_[ti];
    SourceRow row;
    row.values.assign(width_, Value::Null());
    row.records.assign(scope_.size(), std::nullopt);
    for (RowId id : ids) {
      // ReadRow brings long values kept outside the row too.
      std::vector<Value> values = t.ReadRow(id);
      for (size_t i = 0; i < values.size(); ++i) row.values[st.offset + i] = std::move(values[i]);
      row.records[ti] = id;
      const bool ok = std::all_of(filter.begin(), filter.end(),
                                  [&](const Expr* c) { return IsTrue(Evaluate(*c, row.values)); });
      if (ok) take(row);
    }
  }
  std::vector<SourceRow> ReadLeaf(size_t ti, const std::vector<RowId>& ids,
                                  const std::vector<const Expr*>& filter) {
    std::vector<SourceRow> out;
    ReadLeaf(ti, ids, filter, [&](SourceRow& r) { out.push_back(r); });
    return out;
  }

  // A table's rows, through an index when the WHERE allows. Conditions on
  // this table alone are applied here unless an outer join may give the
  // table's columns Null, in which case the WHERE applies them after it
  // (the index still serves: an equality with a constant is never true of
  // Null).
  std::vector<SourceRow> LeafRows(const Source& src, bool null_supplied, const JoinSide& side) {
    std::vector<SourceRow> out;
    LeafRows(src, null_supplied, side, [&](SourceRow& r) { out.push_back(r); });
    return out;
  }
  void LeafRows(const Source& src, bool null_supplied, const JoinSide& side, const RowSink& take) {
    const size_t ti = leaf_index_.at(&src);
    const ScopeTable& st = scope_[ti];
    Table& t = *tables_[ti];
    std::vector<const Expr*> mine;
    for (size_t i : LeafConditions(side)) {
      if (!null_supplied) pushed_[i] = true;
      mine.push_back(where_parts_[i]);
    }
    std::vector<RowId> ids;
    if (auto found = SeekRows(db_, t, FixedBy(*st.def, st.offset, mine))) {
      ids = std::move(*found);
    } else {
      Table::Scan scan(t);
      while (scan.Next()) ids.push_back(scan.row_id());
    }
    ReadLeaf(ti, ids, null_supplied ? std::vector<const Expr*>{} : mine, take);
  }

  // A join whose right side is one table with an index on the columns the
  // ON condition (with `also`) equates to the left side's: each left row
  // looks its partners up, so a few left rows read a few pages of the right
  // table instead of all of it. Nothing when no index serves every row.
  std::optional<std::vector<SourceRow>> LookupJoin(const Source& src, bool right_ns,
                                                   const std::vector<SourceRow>& left,
                                                   const JoinSide& left_side, const JoinSide& right_side,
                                                   const std::vector<const Expr*>& also) {
    const size_t ti = leaf_index_.at(src.right.get());
    const ScopeTable& st = scope_[ti];
    Table& t = *tables_[ti];
    const std::vector<size_t> conditions = LeafConditions(right_side);
    std::vector<const Expr*> mine;
    for (size_t i : conditions) mine.push_back(where_parts_[i]);
    const FixedColumns constant = FixedBy(*st.def, st.offset, mine);

    std::vector<const Expr*> parts = also;
    if (src.on) SplitAnd(*src.on, parts);
    std::vector<std::pair<size_t, const Expr*>> keys;  // right column, left expression
    for (const Expr* p : parts) {
      if (p->kind != Expr::Kind::kBinary || p->op != "=") continue;
      for (int k = 0; k < 2; ++k) {
        const Expr& col = *p->args[static_cast<size_t>(k)];
        const Expr& other = *p->args[static_cast<size_t>(1 - k)];
        if (col.kind != Expr::Kind::kColumn || col.column < 0 || !right_side.has_slot[static_cast<size_t>(col.column)] ||
            !ReadsOnly(other, left_side.has_slot)) {
          continue;
        }
        keys.emplace_back(static_cast<size_t>(col.column) - st.offset, &other);
      }
    }
    if (keys.empty()) return std::nullopt;

    const std::vector<const Expr*> filter = right_ns ? std::vector<const Expr*>{} : mine;
    std::vector<SourceRow> out;
    for (const SourceRow& l : left) {
      FixedColumns fixed = constant;
      bool null_key = false;
      for (const auto& [column, e] : keys) {
        Value v = Evaluate(*e, l.values);
        null_key = null_key || v.is_null();
        fixed.emplace(column, std::move(v));
      }
      std::vector<SourceRow> partners;
      if (!null_key) {
        auto ids = SeekRows(db_, t, fixed);
        if (!ids) return std::nullopt;
        partners = ReadLeaf(ti, *ids, filter);
      }
      for (SourceRow& r : JoinRows(src.join, {l}, std::move(partners), left_side, right_side, src.on.get(), also)) {
        out.push_back(std::move(r));
      }
    }
    if (!right_ns) {
      for (size_t i : conditions) pushed_[i] = true;
    }
    return out;
  }

  // Rows go to their group as they come: only a group's first row is kept,
  // with its aggregates' running values.
  void AddToGroup(const SourceRow& r) {
    group_key_.clear();
    for (const auto& g : s_.group_by) group_key_.push_back(Evaluate(*g, r.values));
    auto [at, added] = group_index_.try_emplace(group_key_, groups_.size());
    if (added) NewGroup(r);
    for (Accumulator& a : groups_[at->second].sums) a.Add(r.values);
  }
  void NewGroup(const SourceRow& first) {
    groups_.push_back({first, {}});
    for (const Expr* a : aggregates_) groups_.back().sums.emplace_back(*a);
  }

  // One row per group, in the order of the GROUP BY values: the group's
  // first row with the aggregates' values after the tables' slots.
  std::vector<SourceRow> GroupRows() {
    if (groups_.empty() && s_.group_by.empty()) {
      SourceRow none;
      none.values.assign(width_, Value::Null());
      none.records.assign(scope_.size(), std::nullopt);
      NewGroup(none);
      group_index_.try_emplace({}, 0);
    }
    std::vector<SourceRow> out;
    for (const auto& [k, i] : group_index_) {
      Group& g = groups_[i];
      g.first.values.resize(width_ + aggregates_.size());
      for (size_t a = 0; a < aggregates_.size(); ++a) g.first.values[width_ + a] = g.sums[a].Result();
      if (s_.having && !IsTrue(Evaluate(*s_.having, g.first.values))) continue;
      out.push_back(std::move(g.first));
    }
    return out;
  }

  ResultSet Finish(std::vector<SourceRow> rows) {
    struct Out {
      std::vector<Value> row;
      std::vector<Value> keys;
    };
    // DISTINCTROW over several tables: one row per set of records shown.
    std::vector<size_t> shown_tables;
    if (s_.distinct_row && scope_.size() > 1) {
      std::vector<bool> read(width_ + aggregates_.size(), false);
      std::function<void(const Expr&)> mark = [&](const Expr& e) {
        if (e.kind == Expr::Kind::kColumn && e.column >= 0) read[static_cast<size_t>(e.column)] = true;
        for (const auto& a : e.args) mark(*a);
      };
      for (const Output& o : outputs_) mark(*o.expr);
      for (size_t t = 0; t < scope_.size(); ++t) {
        for (size_t i = 0; i < scope_[t].def->columns.size(); ++i) {
          if (read[scope_[t].offset + i]) {
            shown_tables.push_back(t);
            break;
          }
        }
      }
    }
    std::set<std::vector<Value>, ValuesLess> seen;
    std::set<std::vector<uint64_t>> seen_records;
    std::vector<Out> outs;
    for (const SourceRow& r : rows) {
      Out o;
      for (const Output& out : outputs_) o.row.push_back(Evaluate(*out.expr, r.values));
      if (s_.distinct && !seen.insert(o.row).second) continue;
      if (!shown_tables.empty()) {
        std::vector<uint64_t> ids;
        for (size_t t : shown_tables) ids.push_back(r.records[t] ? uint64_t{r.records[t]->Packed()} + 1 : 0);
        if (!seen_records.insert(std::move(ids)).second) continue;
      }
      for (const OrderKey& k : order_) {
        o.keys.push_back(k.output ? o.row[*k.output] : Evaluate(*k.expr, r.values));
      }
      outs.push_back(std::move(o));
    }
    if (!order_.empty()) {
      std::stable_sort(outs.begin(), outs.end(), [&](const Out& a, const Out& b) {
        for (size_t i = 0; i < order_.size(); ++i) {
          const int c = OrderCompare(a.keys[i], b.keys[i]);
          if (c != 0) return order_[i].descending ? c > 0 : c < 0;
        }
        return false;
      });
    }
    ResultSet rs;
    for (const Output& o : outputs_) rs.columns.push_back(o.name);
    for (Out& o : outs) {
      if (s_.top && static_cast<int64_t>(rs.rows.size()) >= *s_.top) break;
      rs.rows.push_back(std::move(o.row));
    }
    return rs;
  }

  FileState& db_;
  Select& s_;
  std::string_view sql_;
  std::vector<ScopeTable> scope_;
  std::vector<Table*> tables_;
  std::map<const Source*, size_t> leaf_index_;
  size_t width_ = 0;
  std::vector<Output> outputs_;
  std::vector<ExprPtr> star_columns_;
  std::vector<std::string> parameters_;
  std::vector<OrderKey> order_;
  std::vector<Expr*> aggregates_;
  std::vector<const Expr*> where_parts_;  // the WHERE's AND-ed conditions
  std::vector<bool> pushed_;              // applied already where rows were read or joined
  struct Group {
    SourceRow first;
    std::vector<Accumulator> sums;
  };
  std::vector<Group> groups_;
  std::map<std::vector<Value>, size_t, ValuesLess> group_index_;
  std::vector<Value> group_key_;
};

}  // namespace

ResultSet RunQuery(FileState& db, Select& s, std::string_view sql) { return QueryRun(db, s, sql).Run(); }

}  // namespace jet::sql
