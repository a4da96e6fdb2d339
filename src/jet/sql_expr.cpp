#include "jet/sql_expr.h"

#include <cctype>
#include <cmath>
#include <cstdio>
#include <ctime>
#include <limits>

#include "jet/error.h"
#include "jet/index_key.h"
#include "jet/local_time.h"
#include "jet/text.h"
#include "jet/value_codec.h"

namespace jet::sql {
namespace {

// Functions the expressions know, with their argument counts.
struct FunctionInfo {
  std::string_view name;
  size_t min_args, max_args;
};
constexpr FunctionInfo kFunctions[] = {
    {"NZ", 1, 2},    {"IIF", 3, 3},   {"LEN", 1, 1},   {"UCASE", 1, 1}, {"LCASE", 1, 1},
    {"TRIM", 1, 1},  {"LTRIM", 1, 1}, {"RTRIM", 1, 1}, {"LEFT", 2, 2},  {"RIGHT", 2, 2},
    {"MID", 2, 3},   {"YEAR", 1, 1},  {"MONTH", 1, 1}, {"DAY", 1, 1},   {"NOW", 0, 0},
    {"DATE", 0, 0},  {"ABS", 1, 1},   {"CSTR", 1, 1},  {"CLNG", 1, 1},  {"CDBL", 1, 1},
};

std::string Upper(std::string_view s) {
  std::string out(s);
  for (auto& c : out) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return out;
}

// Numbers as arithmetic sees them: Long, Currency, Double or Date.
Value Numeric(const Value& v) {
  if (v.is<bool>()) return Value(int32_t{v.as<bool>() ? -1 : 0});
  if (v.is<int32_t>() || v.is<Currency>() || v.is<double>() || v.is<Date>()) return v;
  if (v.is<float>()) return Value(static_cast<double>(v.as<float>()));
  if (v.is<Decimal>()) return Value(DecimalToDouble(v.as<Decimal>()));
  if (v.is<std::string>()) return Coerce(v, ColumnType::kDouble);
  throw JetError(kErrDataTypeMismatch);
}

Value FromWide(long double x) {
  if (x >= std::numeric_limits<int32_t>::min() && x <= std::numeric_limits<int32_t>::max() &&
      x == std::floor(x)) {
    return Value(static_cast<int32_t>(x));
  }
  return Value(static_cast<double>(x));
}

Value CurrencyOf(long double amount) {
  const long double scaled = std::nearbyint(amount * 10000.0L);
  if (!(std::fabs(scaled) < 9.2e18L)) throw JetError(kErrOverflow);
  return Value(Currency{static_cast<int64_t>(scaled)});
}

long double Wide(const Value& n) {
  if (n.is<int32_t>()) return n.as<int32_t>();
  if (n.is<Currency>()) return static_cast<long double>(n.as<Currency>().scaled) / 10000.0L;
  if (n.is<Date>()) return n.as<Date>().days;
  return n.as<double>();
}

// Whole-number operands of \ and MOD round half to even, as the engine does.
int64_t Whole(const Value& n) {
  const long double x = std::nearbyint(Wide(n));
  if (!(std::fabs(x) < 9.2e18L)) throw JetError(kErrOverflow);
  return static_cast<int64_t>(x);
}

// Binary operators, told apart once per evaluation instead of by a chain of
// string comparisons on every row.
enum class Op { kAnd, kOr, kXor, kConcat, kEq, kNe, kLt, kGt, kLe, kGe, kAdd, kSub, kMul, kDiv,
                kIntDiv, kMod, kPow };

Op OpOf(const std::string& op) {
  switch (op.size()) {
    case 1:
      switch (op[0]) {
        case '&': return Op::kConcat;
        case '=': return Op::kEq;
        case '<': return Op::kLt;
        case '>': return Op::kGt;
        case '+': return Op::kAdd;
        case '-': return Op::kSub;
        case '*': return Op::kMul;
        case '/': return Op::kDiv;
        case '\\': return Op::kIntDiv;
        case '^': return Op::kPow;
      }
      break;
    case 2:
      if (op == "<>") return Op::kNe;
      if (op == "<=") return Op::kLe;
      if (op == ">=") return Op::kGe;
      if (op == "OR") return Op::kOr;
      break;
    case 3:
      if (op == "AND") return Op::kAnd;
      if (op == "XOR") return Op::kXor;
      if (op == "MOD") return Op::kMod;
      break;
  }
  throw JetError(kErrSyntaxExpression, op);
}

Value Arithmetic(Op op, const Value& a, const Value& b) {
  if (a.is_null() || b.is_null()) return Value::Null();
  if (op == Op::kAdd && a.is<std::string>() && b.is<std::string>()) {
    return Value(a.as<std::string>() + b.as<std::string>());
  }
  // Numeric leaves Long and Double as they are; only other kinds are copied.
  auto plain = [](const Value& v) { return v.is<int32_t>() || v.is<double>(); };
  Value converted_a, converted_b;
  const Value& x = plain(a) ? a : (converted_a = Numeric(a));
  const Value& y = plain(b) ? b : (converted_b = Numeric(b));
  if (op == Op::kIntDiv || op == Op::kMod) {
    const int64_t p = Whole(x), q = Whole(y);
    if (q == 0) throw JetError(kErrDivisionByZero);
    return FromWide(static_cast<long double>(op == Op::kMod ? p % q : p / q));
  }
  const long double l = Wide(x), r = Wide(y);
  if (op == Op::kDiv) {
    if (r == 0) throw JetError(kErrDivisionByZero);
    return Value(static_cast<double>(l / r));
  }
  if (op == Op::kPow) return Value(std::pow(static_cast<double>(l), static_cast<double>(r)));
  long double result = op == Op::kAdd ? l + r : op == Op::kSub ? l - r : l * r;
  const bool dates = x.is<Date>() || y.is<Date>();
  if (dates) {
    // A date moved by a number stays a date; the gap between two is a number.
    if (op == Op::kMul || (op == Op::kSub && x.is<Date>() && y.is<Date>())) {
      return Value(static_cast<double>(result));
    }
    return Value(Date{static_cast<double>(result)});
  }
  if (x.is<double>() || y.is<double>()) return Value(static_cast<double>(result));
  if (x.is<Currency>() || y.is<Currency>()) return CurrencyOf(result);
  return FromWide(result);
}

std::string TextOf(const Value& v) {
  if (v.is_null()) return "";
  if (v.is<bool>()) return v.as<bool>() ? "-1" : "0";
  if (v.is<Currency>() || v.is<double>() || v.is<float>()) {
    // As the engine prints numbers: up to 15 significant digits (7 for
    // Single), an exponent only beyond them.
    char buf[40];
    const double x = v.is<float>() ? v.as<float>() : static_cast<double>(Wide(Numeric(v)));
    std::snprintf(buf, sizeof buf, v.is<float>() ? "%.7G" : "%.15G", x);
    return buf;
  }
  return v.ToString();
}

int TextCompare(const std::string& a, const std::string& b) {
  const int folded = CompareNames(a, b);
  if (folded == 0) return 0;
  Bytes ka, kb;
  AppendGeneralText(ka, Utf8ToUtf16(a), true);
  AppendGeneralText(kb, Utf8ToUtf16(b), true);
  const int k = CompareKeys(ka, kb);
  return k != 0 ? k : folded;
}

template <typename T>
int Sign(T a, T b) {
  return a < b ? -1 : a > b ? 1 : 0;
}

std::optional<bool> Logic(const Value& v) {
  if (v.is_null()) return std::nullopt;
  return IsTrue(v);
}

Value LogicValue(std::optional<bool> b) { return b ? Value(*b) : Value::Null(); }

Value CallFunction(const Expr& e, const std::vector<Value>& row) {
  const std::string name = Upper(e.name);
  if (name == "IIF") {
    return Evaluate(*e.args[IsTrue(Evaluate(*e.args[0], row)) ? 1 : 2], row);
  }
  std::vector<Value> a;
  for (const auto& arg : e.args) a.push_back(Evaluate(*arg, row));
  if (name == "NZ") return a[0].is_null() ? (a.size() > 1 ? a[1] : Value(int32_t{0})) : a[0];
  if (name == "NOW" || name == "DATE") {
    const std::tm local = LocalTimeAt(std::time(nullptr)).fields;
    DateParts p{local.tm_year + 1900, local.tm_mon + 1, local.tm_mday, 0, 0, 0};
    if (name == "NOW") p.hour = local.tm_hour, p.minute = local.tm_min, p.second = local.tm_sec;
    return Value(PartsToDate(p));
  }
  if (a[0].is_null()) return Value::Null();
  if (name == "ABS") {
    const Value n = Numeric(a[0]);
    return Arithmetic(Op::kMul, n, Value(int32_t{Compare(n, Value(int32_t{0})).value_or(0) < 0 ? -1 : 1}));
  }
  if (name == "CLNG") return Coerce(a[0], ColumnType::kLong);
  if (name == "CDBL") return Coerce(a[0], ColumnType::kDouble);
  if (name == "YEAR" || name == "MONTH" || name == "DAY") {
    const DateParts p = DateToParts(Coerce(a[0], ColumnType::kDate).as<Date>());
    return Value(int32_t{name == "YEAR" ? p.year : name == "MONTH" ? p.month : p.day});
  }
  std::u16string s = Utf8ToUtf16(TextOf(a[0]));
  if (name == "CSTR") return Value(Utf16ToUtf8(s));
  if (name == "LEN") return Value(static_cast<int32_t>(s.size()));
  if (name == "UCASE" || name == "LCASE") {
    for (auto& c : s) {
      if (name == "UCASE" && c >= u'a' && c <= u'z') c = static_cast<char16_t>(c - 32);
      if (name == "LCASE" && c >= u'A' && c <= u'Z') c = static_cast<char16_t>(c + 32);
      if (c >= 0xC0 && c <= 0xFE && c != 0xD7 && c != 0xF7 && c != 0xDF) {
        if (name == "UCASE" && c >= 0xE0) c = static_cast<char16_t>(c - 32);
        if (name == "LCASE" && c < 0xE0) c = static_cast<char16_t>(c + 32);
      }
    }
    return Value(Utf16ToUtf8(s));
  }
  if (name == "TRIM" || name == "LTRIM" || name == "RTRIM") {
    size_t from = 0, to = s.size();
    if (name != "RTRIM") while (from < to && s[from] == u' ') ++from;
    if (name != "LTRIM") while (to > from && s[to - 1] == u' ') --to;
    return Value(Utf16ToUtf8(s.substr(from, to - from)));
  }
  auto count = [&](const Value& v) -> size_t {
    const int32_t n = Coerce(v, ColumnType::kLong).as<int32_t>();
    if (n < 0) throw JetError(kErrInvalidArgument);
    return static_cast<size_t>(n);
  };
  for (size_t i = 1; i < a.size(); ++i) {
    if (a[i].is_null()) throw JetError(kErrDataTypeMismatch);
  }
  if (name == "LEFT") return Value(Utf16ToUtf8(s.substr(0, count(a[1]))));
  if (name == "RIGHT") {
    const size_t n = std::min(count(a[1]), s.size());
    return Value(Utf16ToUtf8(s.substr(s.size() - n)));
  }
  // MID
  const size_t start = count(a[1]);
  if (start == 0) throw JetError(kErrInvalidArgument);
  if (start > s.size()) return Value(std::string());
  const size_t n = a.size() > 2 ? count(a[2]) : s.size();
  return Value(Utf16ToUtf8(s.substr(start - 1, n)));
}

bool LikeAt(const std::u16string& t, size_t ti, const std::u16string& p, size_t pi) {
  while (pi < p.size()) {
    const char16_t c = p[pi];
    if (c == u'*') {
      while (pi < p.size() && p[pi] == u'*') ++pi;
      if (pi == p.size()) return true;
      for (size_t k = ti; k <= t.size(); ++k) {
        if (LikeAt(t, k, p, pi)) return true;
      }
      return false;
    }
    if (ti >= t.size()) return false;
    const char16_t ch = t[ti];
    if (c == u'?') {
    } else if (c == u'#') {
      if (ch < u'0' || ch > u'9') return false;
    } else if (c == u'[') {
      const size_t close = p.find(u']', pi + 1);
      if (close == std::u16string::npos) throw JetError(kErrInvalidArgument);
      size_t k = pi + 1;
      const bool negate = k < close && p[k] == u'!';
      if (negate) ++k;
      bool hit = false;
      for (; k < close; ++k) {
        if (k + 2 < close && p[k + 1] == u'-') {
          hit |= ch >= p[k] && ch <= p[k + 2];
          k += 2;
        } else {
          hit |= ch == p[k];
        }
      }
      if (hit == negate) return false;
      pi = close;
    } else if (c != ch) {
      return false;
    }
    ++pi;
    ++ti;
  }
  return ti == t.size();
}

}  // namespace

bool Like(std::string_view text, std::string_view pattern) {
  return LikeAt(FoldName(text), 0, FoldName(pattern), 0);
}

void Bind(Expr& e, std::span<const ScopeTable> tables, std::vector<std::string>& parameters) {
  for (auto& a : e.args) Bind(*a, tables, parameters);
  if (e.kind == Expr::Kind::kCall) {
    const std::string name = Upper(e.name);
    for (const auto& f : kFunctions) {
      if (f.name == name) {
        if (e.args.size() < f.min_args || e.args.size() > f.max_args) {
          throw JetError(kErrSyntaxExpression, e.name);
        }
        return;
      }
    }
    throw JetError(kErrUndefinedFunction, e.name);
  }
  if (e.kind != Expr::Kind::kColumn) return;
  for (const ScopeTable& t : tables) {
    const bool qualifier_ok = e.qualifier.empty() || NamesEqual(e.qualifier, t.name) ||
                              (!t.alias.empty() && NamesEqual(e.qualifier, t.alias));
    if (!qualifier_ok) continue;
    for (size_t i = 0; i < t.def->columns.size(); ++i) {
      if (!NamesEqual(t.def->columns[i].name, e.name)) continue;
      if (e.column >= 0) throw JetError(kErrAmbiguousField, e.name);
      e.column = static_cast<int>(t.offset + i);
    }
  }
  if (e.column >= 0) return;
  const std::string text = e.qualifier.empty() ? e.name : e.qualifier + "." + e.name;
  for (const auto& p : parameters) {
    if (NamesEqual(p, text)) return;
  }
  parameters.push_back(text);
}

void Bind(Expr& e, const TableDef& def, std::string_view table, std::string_view alias,
          std::vector<std::string>& parameters) {
  const ScopeTable one{std::string(table), std::string(alias), &def, 0};
  Bind(e, std::span<const ScopeTable>(&one, 1), parameters);
}

bool SameExpr(const Expr& a, const Expr& b) {
  if (a.kind != b.kind || a.args.size() != b.args.size() || a.negated != b.negated) return false;
  switch (a.kind) {
    case Expr::Kind::kColumn:
      if (a.column != b.column) return false;
      if (a.column < 0 && !NamesEqual(a.qualifier + "." + a.name, b.qualifier + "." + b.name)) return false;
      break;
    case Expr::Kind::kLiteral:
      if (!(a.value == b.value)) return false;
      break;
    case Expr::Kind::kCall:
    case Expr::Kind::kAggregate:
      if (!NamesEqual(a.name, b.name)) return false;
      break;
    default:
      if (a.op != b.op) return false;
  }
  for (size_t i = 0; i < a.args.size(); ++i) {
    if (!SameExpr(*a.args[i], *b.args[i])) return false;
  }
  return true;
}

bool IsTrue(const Value& v) {
  if (v.is_null()) return false;
  if (v.is<bool>()) return v.as<bool>();
  if (v.is<std::string>()) return Coerce(v, ColumnType::kBoolean).as<bool>();
  return Wide(Numeric(v)) != 0;
}

std::optional<int> Compare(const Value& a, const Value& b) {
  if (a.is_null() || b.is_null()) return std::nullopt;
  // Long and Double, the usual operands, without the conversions below
  // (which leave them as they are).
  const bool a_plain = a.is<int32_t>() || a.is<double>();
  const bool b_plain = b.is<int32_t>() || b.is<double>();
  if (a_plain && b_plain) {
    if (a.is<int32_t>() && b.is<int32_t>()) return Sign(a.as<int32_t>(), b.as<int32_t>());
    return Sign(Wide(a), Wide(b));
  }
  if (a.is<std::string>() && b.is<std::string>()) return TextCompare(a.as<std::string>(), b.as<std::string>());
  if (a.is<Binary>() || b.is<Binary>() || a.is<Guid>() || b.is<Guid>()) {
    if (a.is<Binary>() && b.is<Binary>()) return CompareKeys(a.as<Binary>(), b.as<Binary>());
    if (a.is<Guid>() && b.is<Guid>()) return Sign(a.as<Guid>().bytes, b.as<Guid>().bytes);
    throw JetError(kErrDataTypeMismatch);
  }
  // Text against a date reads as a date, against anything else as a number.
  auto side = [](const Value& v, const Value& other) {
    if (v.is<std::string>()) return Coerce(v, other.is<Date>() ? ColumnType::kDate : ColumnType::kDouble);
    return Numeric(v);
  };
  const Value x = side(a, b), y = side(b, a);
  if (x.is<int32_t>() && y.is<int32_t>()) return Sign(x.as<int32_t>(), y.as<int32_t>());
  if (x.is<Currency>() && y.is<Currency>()) return Sign(x.as<Currency>().scaled, y.as<Currency>().scaled);
  // As doubles: a Currency amount's long double (1000 / 10000 for 0.1) is
  // not the double a literal or a Double column holds for the same amount.
  return Sign(static_cast<double>(Wide(x)), static_cast<double>(Wide(y)));
}

int OrderCompare(const Value& a, const Value& b) {
  if (a.is_null() || b.is_null()) return Sign(!a.is_null(), !b.is_null());
  try {
    return Compare(a, b).value_or(0);
  } catch (const JetError&) {
    return TextCompare(TextOf(a), TextOf(b));
  }
}

Value Evaluate(const Expr& e, const std::vector<Value>& row) {
  switch (e.kind) {
    case Expr::Kind::kLiteral:
      return e.value;
    case Expr::Kind::kColumn:
      return e.column >= 0 ? row.at(static_cast<size_t>(e.column)) : Value::Null();
    case Expr::Kind::kUnary: {
      const Value v = Evaluate(*e.args[0], row);
      if (e.op == "NOT") {
        auto b = Logic(v);
        return b ? Value(!*b) : Value::Null();
      }
      if (v.is_null()) return v;
      const Value n = Numeric(v);
      if (n.is<int32_t>()) return FromWide(-static_cast<long double>(n.as<int32_t>()));
      if (n.is<Currency>()) return CurrencyOf(-Wide(n));
      if (n.is<Date>()) return Value(Date{-n.as<Date>().days});
      return Value(-n.as<double>());
    }
    case Expr::Kind::kBinary: {
      const Op op = OpOf(e.op);
      if (op == Op::kAnd || op == Op::kOr || op == Op::kXor) {
        const auto l = Logic(Evaluate(*e.args[0], row));
        if (op == Op::kAnd && l == false) return Value(false);
        if (op == Op::kOr && l == true) return Value(true);
        const auto r = Logic(Evaluate(*e.args[1], row));
        if (op == Op::kAnd) return r == false ? Value(false) : (l && r) ? Value(true) : Value::Null();
        if (op == Op::kOr) return r == true ? Value(true) : (l && r) ? Value(false) : Value::Null();
        return (l && r) ? Value(*l != *r) : Value::Null();
      }
      const Value a = Evaluate(*e.args[0], row);
      const Value b = Evaluate(*e.args[1], row);
      switch (op) {
        case Op::kConcat:
          if (a.is_null() && b.is_null()) return Value::Null();
          return Value(TextOf(a) + TextOf(b));
        case Op::kEq: case Op::kNe: case Op::kLt: case Op::kGt: case Op::kLe: case Op::kGe: {
          const auto c = Compare(a, b);
          if (!c) return Value::Null();
          const bool r = op == Op::kEq ? *c == 0 : op == Op::kNe ? *c != 0 : op == Op::kLt ? *c < 0
                       : op == Op::kGt ? *c > 0 : op == Op::kLe ? *c <= 0 : *c >= 0;
          return Value(r);
        }
        default:
          return Arithmetic(op, a, b);
      }
    }
    case Expr::Kind::kIsNull:
      return Value(Evaluate(*e.args[0], row).is_null() != e.negated);
    case Expr::Kind::kLike: {
      const Value a = Evaluate(*e.args[0], row);
      const Value p = Evaluate(*e.args[1], row);
      if (a.is_null() || p.is_null()) return Value::Null();
      return Value(Like(TextOf(a), TextOf(p)) != e.negated);
    }
    case Expr::Kind::kIn: {
      const Value a = Evaluate(*e.args[0], row);
      if (a.is_null()) return a;
      bool saw_null = false;
      for (size_t i = 1; i < e.args.size(); ++i) {
        const auto c = Compare(a, Evaluate(*e.args[i], row));
        if (!c) {
          saw_null = true;
        } else if (*c == 0) {
          return Value(!e.negated);
        }
      }
      return saw_null ? Value::Null() : Value(e.negated);
    }
    case Expr::Kind::kBetween: {
      const Value a = Evaluate(*e.args[0], row);
      const auto lo = Compare(a, Evaluate(*e.args[1], row));
      const auto hi = Compare(a, Evaluate(*e.args[2], row));
      std::optional<bool> in;
      if ((lo && *lo < 0) || (hi && *hi > 0)) {
        in = false;
      } else if (lo && hi) {
        in = true;
      }
      if (in && e.negated) in = !*in;
      return LogicValue(in);
    }
    case Expr::Kind::kCall:
      return CallFunction(e, row);
    case Expr::Kind::kAggregate:
      if (e.column < 0) throw JetError(kErrAggregateInExpression, e.name);
      return row.at(static_cast<size_t>(e.column));
  }
  return Value::Null();
}

}  // namespace jet::sql
