#include "jet/sql_join.h"

#include <algorithm>

#include "jet/sql_expr.h"

namespace jet::sql {
namespace {

int CompareKeyLists(const std::vector<Value>& a, const std::vector<Value>& b) {
  for (size_t i = 0; i < a.size(); ++i) {
    const int c = OrderCompare(a[i], b[i]);
    if (c != 0) return c;
  }
  return 0;
}

bool AnyNull(const std::vector<Value>& keys) {
  return std::any_of(keys.begin(), keys.end(), [](const Value& v) { return v.is_null(); });
}

// `into` takes the slots and records of `from` that `side` covers.
void Merge(SourceRow& into, const SourceRow& from, const JoinSide& side) {
  for (size_t s : side.slots) into.values[s] = from.values[s];
  for (size_t t : side.tables) into.records[t] = from.records[t];
}

}  // namespace

void SplitAnd(const Expr& e, std::vector<const Expr*>& out) {
  if (e.kind == Expr::Kind::kBinary && e.op == "AND") {
    SplitAnd(*e.args[0], out);
    SplitAnd(*e.args[1], out);
  } else {
    out.push_back(&e);
  }
}

bool ReadsOnly(const Expr& e, const std::vector<bool>& has_slot) {
  if (e.kind == Expr::Kind::kAggregate) return false;
  if (e.kind == Expr::Kind::kColumn) {
    return e.column >= 0 && static_cast<size_t>(e.column) < has_slot.size() &&
           has_slot[static_cast<size_t>(e.column)];
  }
  for (const auto& a : e.args) {
    if (!ReadsOnly(*a, has_slot)) return false;
  }
  return true;
}

std::vector<SourceRow> JoinRows(Source::Join kind, std::vector<SourceRow> left,
                                std::vector<SourceRow> right, const JoinSide& left_side,
                                const JoinSide& right_side, const Expr* on,
                                const std::vector<const Expr*>& also) {
  const JoinSide* outer_side = &left_side;
  const JoinSide* inner_side = &right_side;
  if (kind == Source::Join::kRight) {
    std::swap(left, right);
    std::swap(outer_side, inner_side);
  }
  const bool keep_unmatched = kind == Source::Join::kLeft || kind == Source::Join::kRight;

  // Key pairs: outer expression, inner expression.
  std::vector<const Expr*> outer_keys, inner_keys, rest;
  {
    std::vector<const Expr*> parts = also;
    if (on) SplitAnd(*on, parts);
    for (const Expr* p : parts) {
      if (p->kind == Expr::Kind::kBinary && p->op == "=") {
        const Expr& a = *p->args[0];
        const Expr& b = *p->args[1];
        if (ReadsOnly(a, outer_side->has_slot) && ReadsOnly(b, inner_side->has_slot)) {
          outer_keys.push_back(&a), inner_keys.push_back(&b);
          continue;
        }
        if (ReadsOnly(b, outer_side->has_slot) && ReadsOnly(a, inner_side->has_slot)) {
          outer_keys.push_back(&b), inner_keys.push_back(&a);
          continue;
        }
      }
      rest.push_back(p);
    }
  }

  struct Keyed {
    std::vector<Value> keys;
    size_t row;
  };
  std::vector<Keyed> inner;
  inner.reserve(right.size());
  for (size_t i = 0; i < right.size(); ++i) {
    Keyed k{{}, i};
    for (const Expr* e : inner_keys) k.keys.push_back(Evaluate(*e, right[i].values));
    if (!AnyNull(k.keys)) inner.push_back(std::move(k));
  }
  std::stable_sort(inner.begin(), inner.end(), [](const Keyed& a, const Keyed& b) {
    return CompareKeyLists(a.keys, b.keys) < 0;
  });

  std::vector<SourceRow> out;
  std::vector<Value> keys;
  for (SourceRow& l : left) {
    keys.clear();
    for (const Expr* e : outer_keys) keys.push_back(Evaluate(*e, l.values));
    bool matched = false;
    if (!AnyNull(keys)) {
      auto lo = std::lower_bound(inner.begin(), inner.end(), keys, [](const Keyed& a, const std::vector<Value>& k) {
        return CompareKeyLists(a.keys, k) < 0;
      });
      for (auto it = lo; it != inner.end() && CompareKeyLists(it->keys, keys) == 0; ++it) {
        SourceRow pair = l;
        Merge(pair, right[it->row], *inner_side);
        const bool ok = std::all_of(rest.begin(), rest.end(),
                                    [&](const Expr* r) { return IsTrue(Evaluate(*r, pair.values)); });
        if (!ok) continue;
        matched = true;
        out.push_back(std::move(pair));
      }
    }
    if (!matched && keep_unmatched) out.push_back(std::move(l));
  }
  return out;
}

}  // namespace jet::sql
