#include "jet/sql_parser.h"

#include <cctype>
#include <algorithm>
#include <charconv>
#include <cmath>
#include <limits>

#include "jet/error.h"
#include "jet/sql_lexer.h"
#include "jet/value_codec.h"

namespace jet::sql {
namespace {

// Words that end an expression or a name list; bare, they are never names.
constexpr std::string_view kReserved[] = {
    "SELECT", "FROM",  "WHERE",  "ORDER", "GROUP",   "HAVING", "BY",   "AND",  "OR",
    "NOT",    "IS",    "NULL",   "TRUE",  "FALSE",   "LIKE",   "IN",   "BETWEEN",
    "AS",     "ASC",   "DESC",   "MOD",   "XOR",     "ON",     "SET",  "VALUES",
    "INTO",   "DISTINCT", "TOP", "INSERT", "UPDATE", "DELETE", "CONSTRAINT",
    "UNION",  "JOIN",  "INNER",  "OUTER", "WITH", "DISTINCTROW"};

// How deep parentheses (and NOT, signs) may nest, and how deep an
// expression's tree may grow: the parser and the evaluator recurse that
// deep, within the stack a Windows program's thread has.
constexpr int kMaxNesting = 100;
constexpr int kMaxDepth = 1000;

// Jet's aggregate functions; anything else with parentheses is a call.
constexpr std::string_view kAggregates[] = {"COUNT", "SUM", "AVG", "MIN", "MAX"};

bool IsReserved(const Token& t) {
  for (auto w : kReserved) {
    if (IsWord(t, w)) return true;
  }
  return false;
}

std::string Upper(std::string s) {
  for (auto& c : s) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return s;
}

// Reads digits from `s` at `i`; false when there are none.
bool ReadInt(std::string_view s, size_t& i, int& out) {
  size_t start = i;
  out = 0;
  while (i < s.size() && std::isdigit(static_cast<unsigned char>(s[i])) && i - start < 5) {
    out = out * 10 + (s[i] - '0');
    ++i;
  }
  return i > start;
}

void SkipBlanks(std::string_view s, size_t& i) {
  while (i < s.size() && s[i] == ' ') ++i;
}

bool ParseTimePart(std::string_view s, size_t& i, DateParts& p) {
  if (!ReadInt(s, i, p.hour) || i >= s.size() || s[i] != ':') return false;
  ++i;
  if (!ReadInt(s, i, p.minute)) return false;
  if (i < s.size() && s[i] == ':') {
    ++i;
    if (!ReadInt(s, i, p.second)) return false;
  }
  SkipBlanks(s, i);
  if (i + 1 < s.size() && (s[i + 1] == 'M' || s[i + 1] == 'm')) {
    const char ap = static_cast<char>(std::toupper(static_cast<unsigned char>(s[i])));
    if (ap != 'A' && ap != 'P') return false;
    if (p.hour < 1 || p.hour > 12) return false;
    if (ap == 'P' && p.hour != 12) p.hour += 12;
    if (ap == 'A' && p.hour == 12) p.hour = 0;
    i += 2;
  }
  return true;
}

}  // namespace

std::optional<Date> ParseDateLiteral(std::string_view text) {
  size_t i = 0;
  SkipBlanks(text, i);
  DateParts p;
  int a = 0, b = 0, c = 0;
  size_t first = i;
  if (!ReadInt(text, i, a)) return std::nullopt;
  if (i < text.size() && text[i] == ':') {
    i = first;
    if (!ParseTimePart(text, i, p)) return std::nullopt;
  } else {
    if (i >= text.size() || (text[i] != '-' && text[i] != '/')) return std::nullopt;
    const char sep = text[i++];
    const size_t a_digits = i - 1 - first;
    if (!ReadInt(text, i, b) || i >= text.size() || text[i] != sep) return std::nullopt;
    ++i;
    const size_t c_start = i;
    if (!ReadInt(text, i, c)) return std::nullopt;
    if (a_digits >= 3) {
      p.year = a, p.month = b, p.day = c;
    } else {
      // Month first, as the engine reads literals; day first when the
      // first number cannot be a month.
      p.month = a, p.day = b, p.year = c;
      if (a > 12 && b <= 12) p.month = b, p.day = a;
      if (i - c_start <= 2) p.year += c < 30 ? 2000 : 1900;
    }
    SkipBlanks(text, i);
    if (i < text.size() && !ParseTimePart(text, i, p)) return std::nullopt;
  }
  SkipBlanks(text, i);
  if (i != text.size()) return std::nullopt;
  try {
    return PartsToDate(p);
  } catch (const JetError&) {
    return std::nullopt;
  }
}

namespace {

class Parser {
 public:
  explicit Parser(std::string_view sql) : sql_(sql), toks_(Tokenize(sql)) {}

  Statement ParseStatement() {
    const Token& t = Peek();
    if (IsWord(t, "SELECT")) {
      error_ = 3141;
      Select s = ParseSelect();
      Finish();
      return s;
    }
    if (IsWord(t, "INSERT")) return ParseInsert();
    if (IsWord(t, "UPDATE")) return ParseUpdate();
    if (IsWord(t, "DELETE")) return ParseDelete();
    if (IsWord(t, "CREATE")) {
      Next();
      if (IsWord(Peek(), "TABLE")) return ParseCreateTable();
      error_ = kErrSyntaxCreateIndex;
      return ParseCreateIndex();
    }
    if (IsWord(t, "ALTER")) return ParseAlterTable();
    if (IsWord(t, "DROP")) return ParseDrop();
    throw JetError(kErrInvalidSqlStatement);
  }

 private:
  const Token& Peek(size_t ahead = 0) const {
    return toks_[std::min(pos_ + ahead, toks_.size() - 1)];
  }
  const Token& Next() {
    const Token& t = Peek();
    if (pos_ < toks_.size() - 1) ++pos_;
    return t;
  }
  bool AcceptWord(std::string_view w) {
    if (!IsWord(Peek(), w)) return false;
    Next();
    return true;
  }
  void ExpectWord(std::string_view w) {
    if (!AcceptWord(w)) Fail();
  }
  bool IsSymbol(std::string_view s, size_t ahead = 0) const {
    return Peek(ahead).kind == TokenKind::kSymbol && Peek(ahead).text == s;
  }
  bool AcceptSymbol(std::string_view s) {
    if (!IsSymbol(s)) return false;
    Next();
    return true;
  }
  void ExpectSymbol(std::string_view s) {
    if (!AcceptSymbol(s)) Fail();
  }

  [[noreturn]] void Fail() const {
    if (expr_start_) {
      // The engine quotes the clause's expression.
      size_t stop = pos_;
      while (stop < toks_.size() - 1 && !IsWord(toks_[stop], "ORDER") &&
             !IsWord(toks_[stop], "GROUP") && !IsWord(toks_[stop], "HAVING") &&
             !(toks_[stop].kind == TokenKind::kSymbol && toks_[stop].text == ";")) {
        ++stop;
      }
      size_t from = *expr_start_;
      size_t to = stop < toks_.size() ? toks_[stop].pos : sql_.size();
      if (stop == pos_ && pos_ < toks_.size() - 1) to = toks_[stop].end;
      std::string_view text = sql_.substr(from, to > from ? to - from : 0);
      while (!text.empty() && std::isspace(static_cast<unsigned char>(text.back()))) text.remove_suffix(1);
      throw JetError(kErrSyntaxExpression, std::string(text));
    }
    throw JetError(error_);
  }

  // Guards one level of recursion into a nested part of the statement.
  class Nest {
   public:
    explicit Nest(Parser& p) : p_(p) {
      if (++p_.nesting_ > kMaxNesting) throw JetError(kErrQueryTooComplex);
    }
    ~Nest() { --p_.nesting_; }
    Nest(const Nest&) = delete;
    Nest& operator=(const Nest&) = delete;

   private:
    Parser& p_;
  };

  // Sets the node's depth from its arguments'.
  ExprPtr Grown(ExprPtr e) {
    for (const auto& a : e->args) e->depth = std::max(e->depth, a->depth + 1);
    if (e->depth > kMaxDepth) throw JetError(kErrQueryTooComplex);
    return e;
  }

  void Finish() {
    AcceptSymbol(";");
    if (Peek().kind != TokenKind::kEnd) Fail();
  }

  bool AtName() const {
    const Token& t = Peek();
    return t.kind == TokenKind::kQuotedName || (t.kind == TokenKind::kName && !IsReserved(t));
  }
  std::string ParseName() {
    if (!AtName()) Fail();
    return Next().text;
  }
  // A column name, table-qualified or not; the qualifier is dropped (one
  // table per statement).
  std::string ParseColumnName() {
    std::string name = ParseName();
    if (AcceptSymbol(".")) name = ParseName();
    return name;
  }
  std::vector<std::string> ParseNameList() {
    std::vector<std::string> out;
    ExpectSymbol("(");
    do {
      out.push_back(ParseColumnName());
    } while (AcceptSymbol(","));
    ExpectSymbol(")");
    return out;
  }

  // ---- expressions ----

  ExprPtr ParseExpression() {
    const bool outer = !expr_start_;
    if (outer) expr_start_ = Peek().pos;
    ExprPtr e = ParseOr();
    if (outer) expr_start_.reset();
    return e;
  }

  ExprPtr MakeBinary(std::string op, ExprPtr l, ExprPtr r) {
    auto e = std::make_unique<Expr>();
    e->kind = Expr::Kind::kBinary;
    e->op = std::move(op);
    e->pos = l->pos;
    e->end = r->end;
    e->args.push_back(std::move(l));
    e->args.push_back(std::move(r));
    return Grown(std::move(e));
  }

  ExprPtr ParseOr() {
    Nest nest(*this);
    ExprPtr l = ParseAnd();
    for (;;) {
      if (AcceptWord("OR")) {
        l = MakeBinary("OR", std::move(l), ParseAnd());
      } else if (AcceptWord("XOR")) {
        l = MakeBinary("XOR", std::move(l), ParseAnd());
      } else {
        return l;
      }
    }
  }

  ExprPtr ParseAnd() {
    ExprPtr l = ParseNot();
    while (AcceptWord("AND")) l = MakeBinary("AND", std::move(l), ParseNot());
    return l;
  }

  ExprPtr ParseNot() {
    if (IsWord(Peek(), "NOT")) {
      size_t p = Next().pos;
      auto e = std::make_unique<Expr>();
      e->kind = Expr::Kind::kUnary;
      e->op = "NOT";
      e->pos = p;
      {
        Nest nest(*this);
        e->args.push_back(ParseNot());
      }
      e->end = e->args[0]->end;
      return Grown(std::move(e));
    }
    return ParseComparison();
  }

  ExprPtr ParseComparison() {
    ExprPtr l = ParseConcat();
    for (;;) {
      const Token& t = Peek();
      if (t.kind == TokenKind::kSymbol &&
          (t.text == "=" || t.text == "<>" || t.text == "<" || t.text == ">" || t.text == "<=" ||
           t.text == ">=")) {
        std::string op = Next().text;
        l = MakeBinary(op, std::move(l), ParseConcat());
        continue;
      }
      if (IsWord(t, "IS")) {
        Next();
        auto e = std::make_unique<Expr>();
        e->kind = Expr::Kind::kIsNull;
        e->negated = AcceptWord("NOT");
        ExpectWord("NULL");
        e->pos = l->pos;
        e->end = toks_[pos_ - 1].end;
        e->args.push_back(std::move(l));
        l = Grown(std::move(e));
        continue;
      }
      bool negated = false;
      if (IsWord(t, "NOT") && (IsWord(Peek(1), "LIKE") || IsWord(Peek(1), "IN") || IsWord(Peek(1), "BETWEEN"))) {
        Next();
        negated = true;
      }
      const Token& w = Peek();
      if (IsWord(w, "LIKE") || IsWord(w, "IN") || IsWord(w, "BETWEEN")) {
        Next();
        auto e = std::make_unique<Expr>();
        e->negated = negated;
        e->pos = l->pos;
        e->args.push_back(std::move(l));
        if (IsWord(w, "LIKE")) {
          e->kind = Expr::Kind::kLike;
          e->args.push_back(ParseConcat());
        } else if (IsWord(w, "IN")) {
          e->kind = Expr::Kind::kIn;
          ExpectSymbol("(");
          do {
            e->args.push_back(ParseConcat());
          } while (AcceptSymbol(","));
          ExpectSymbol(")");
        } else {
          e->kind = Expr::Kind::kBetween;
          e->args.push_back(ParseConcat());
          ExpectWord("AND");
          e->args.push_back(ParseConcat());
        }
        e->end = toks_[pos_ - 1].end;
        l = Grown(std::move(e));
        continue;
      }
      if (negated) Fail();
      return l;
    }
  }

  ExprPtr ParseConcat() {
    ExprPtr l = ParseAdditive();
    while (AcceptSymbol("&")) l = MakeBinary("&", std::move(l), ParseAdditive());
    return l;
  }

  ExprPtr ParseAdditive() {
    ExprPtr l = ParseMod();
    for (;;) {
      if (IsSymbol("+") || IsSymbol("-")) {
        std::string op = Next().text;
        l = MakeBinary(op, std::move(l), ParseMod());
      } else {
        return l;
      }
    }
  }

  ExprPtr ParseMod() {
    ExprPtr l = ParseIntDiv();
    while (AcceptWord("MOD")) l = MakeBinary("MOD", std::move(l), ParseIntDiv());
    return l;
  }

  ExprPtr ParseIntDiv() {
    ExprPtr l = ParseMultiplicative();
    while (AcceptSymbol("\\")) l = MakeBinary("\\", std::move(l), ParseMultiplicative());
    return l;
  }

  ExprPtr ParseMultiplicative() {
    ExprPtr l = ParseUnary();
    for (;;) {
      if (IsSymbol("*") || IsSymbol("/")) {
        std::string op = Next().text;
        l = MakeBinary(op, std::move(l), ParseUnary());
      } else {
        return l;
      }
    }
  }

  ExprPtr ParseUnary() {
    if (IsSymbol("-") || IsSymbol("+")) {
      const Token& t = Next();
      const bool minus = t.text == "-";
      const size_t p = t.pos;
      ExprPtr operand;
      {
        Nest nest(*this);
        operand = ParseUnary();
      }
      if (!minus) return operand;
      auto e = std::make_unique<Expr>();
      e->kind = Expr::Kind::kUnary;
      e->op = "-";
      e->pos = p;
      e->end = operand->end;
      e->args.push_back(std::move(operand));
      return Grown(std::move(e));
    }
    return ParsePower();
  }

  ExprPtr ParsePower() {
    ExprPtr l = ParsePrimary();
    while (AcceptSymbol("^")) l = MakeBinary("^", std::move(l), ParsePrimary());
    return l;
  }

  ExprPtr ParsePrimary() {
    const Token& t = Peek();
    auto e = std::make_unique<Expr>();
    e->pos = t.pos;
    e->end = t.end;
    switch (t.kind) {
      case TokenKind::kNumber:
        e->value = NumberLiteral(t.text);
        Next();
        return e;
      case TokenKind::kString:
        e->value = Value(t.text);
        Next();
        return e;
      case TokenKind::kDate: {
        auto d = ParseDateLiteral(t.text);
        if (!d) Fail();
        e->value = Value(*d);
        Next();
        return e;
      }
      case TokenKind::kSymbol:
        if (t.text == "(") {
          Next();
          ExprPtr inner = ParseOr();
          ExpectSymbol(")");
          return inner;
        }
        Fail();
      case TokenKind::kName:
        if (IsWord(t, "NULL") || IsWord(t, "TRUE") || IsWord(t, "FALSE")) {
          if (IsWord(t, "TRUE")) e->value = Value(true);
          if (IsWord(t, "FALSE")) e->value = Value(false);
          Next();
          return e;
        }
        if (IsReserved(t)) Fail();
        break;
      case TokenKind::kQuotedName:
        break;
      default:
        Fail();
    }
    std::string name = Next().text;
    if (t.kind == TokenKind::kName && IsSymbol("(")) {
      Next();
      for (auto agg : kAggregates) {
        if (Upper(name) != agg) continue;
        e->kind = Expr::Kind::kAggregate;
        e->name = std::string(agg);
        // COUNT(*) counts rows; Jet has no DISTINCT inside an aggregate.
        if (!(agg == "COUNT" && AcceptSymbol("*"))) e->args.push_back(ParseOr());
        ExpectSymbol(")");
        e->end = toks_[pos_ - 1].end;
        return Grown(std::move(e));
      }
      e->kind = Expr::Kind::kCall;
      e->name = name;
      if (!IsSymbol(")")) {
        do {
          e->args.push_back(ParseOr());
        } while (AcceptSymbol(","));
      }
      ExpectSymbol(")");
      e->end = toks_[pos_ - 1].end;
      return Grown(std::move(e));
    }
    e->kind = Expr::Kind::kColumn;
    e->name = name;
    if ((IsSymbol(".") || IsSymbol("!")) &&
        (Peek(1).kind == TokenKind::kName || Peek(1).kind == TokenKind::kQuotedName)) {
      Next();
      e->qualifier = std::move(e->name);
      e->name = Next().text;
    }
    e->end = toks_[pos_ - 1].end;
    return e;
  }

  Value NumberLiteral(const std::string& text) {
    if (text.find_first_of(".eE") == std::string::npos) {
      int64_t n = 0;
      auto r = std::from_chars(text.data(), text.data() + text.size(), n);
      if (r.ec == std::errc() && n <= std::numeric_limits<int32_t>::max()) {
        return Value(static_cast<int32_t>(n));
      }
    }
    double d = std::strtod(text.c_str(), nullptr);
    if (!std::isfinite(d)) Fail();
    return Value(d);
  }

  // ---- statements ----

  Select ParseSelect() {
    Select s;
    ExpectWord("SELECT");
    if (AcceptWord("DISTINCT")) {
      s.distinct = true;
    } else if (AcceptWord("DISTINCTROW")) {
      s.distinct_row = true;
    }
    if (AcceptWord("TOP")) {
      if (Peek().kind != TokenKind::kNumber) Fail();
      s.top = static_cast<int64_t>(std::strtod(Next().text.c_str(), nullptr));
    }
    do {
      SelectItem item;
      if (AcceptSymbol("*")) {
        item.star = true;
      } else if (AtName() && IsSymbol(".", 1) && IsSymbol("*", 2)) {
        item.star_table = Next().text;
        Next();
        Next();
        item.star = true;
      } else {
        item.expr = ParseExpression();
        if (AcceptWord("AS")) item.alias = ParseName();
      }
      s.items.push_back(std::move(item));
    } while (AcceptSymbol(","));
    error_ = kErrSyntaxFrom;
    ExpectWord("FROM");
    s.from = ParseSources();
    if (AcceptWord("WHERE")) s.where = ParseExpression();
    if (AcceptWord("GROUP")) {
      error_ = kErrSyntaxSelect;
      ExpectWord("BY");
      do {
        s.group_by.push_back(ParseExpression());
      } while (AcceptSymbol(","));
    }
    if (AcceptWord("HAVING")) s.having = ParseExpression();
    if (AcceptWord("ORDER")) {
      error_ = kErrSyntaxOrderBy;
      ExpectWord("BY");
      do {
        OrderItem o;
        o.expr = ParseExpression();
        if (AcceptWord("DESC")) {
          o.descending = true;
        } else {
          AcceptWord("ASC");
        }
        s.order.push_back(std::move(o));
      } while (AcceptSymbol(","));
    }
    return s;
  }

  // FROM: sources separated by commas, each a chain of joins.
  Source ParseSources() {
    Nest nest(*this);
    Source from = ParseJoins();
    while (AcceptSymbol(",")) {
      Source cross;
      cross.join = Source::Join::kCross;
      cross.left = std::make_unique<Source>(std::move(from));
      cross.right = std::make_unique<Source>(ParseJoins());
      from = std::move(cross);
    }
    return from;
  }

  bool AtJoin() const {
    return IsWord(Peek(), "INNER") || IsWord(Peek(), "JOIN") ||
           ((IsWord(Peek(), "LEFT") || IsWord(Peek(), "RIGHT")) &&
            (IsWord(Peek(1), "JOIN") || IsWord(Peek(1), "OUTER")));
  }

  Source ParseJoins() {
    Source left = ParseSourceTerm();
    while (AtJoin()) {
      const int saved = error_;
      error_ = kErrSyntaxJoin;
      Source j;
      if (AcceptWord("LEFT")) {
        j.join = Source::Join::kLeft;
        AcceptWord("OUTER");
      } else if (AcceptWord("RIGHT")) {
        j.join = Source::Join::kRight;
        AcceptWord("OUTER");
      } else {
        AcceptWord("INNER");
        j.join = Source::Join::kInner;
      }
      ExpectWord("JOIN");
      j.left = std::make_unique<Source>(std::move(left));
      j.right = std::make_unique<Source>(ParseSourceTerm());
      error_ = kErrSyntaxJoin;
      ExpectWord("ON");
      j.on = ParseExpression();
      error_ = saved;
      left = std::move(j);
    }
    return left;
  }

  Source ParseSourceTerm() {
    if (AcceptSymbol("(")) {
      Source inner = ParseSources();
      ExpectSymbol(")");
      return inner;
    }
    Source t;
    t.table = ParseName();
    if (AcceptWord("AS")) {
      t.alias = ParseName();
    } else if (AtName() && !AtJoin()) {
      t.alias = ParseName();
    }
    return t;
  }

  Statement ParseInsert() {
    error_ = kErrSyntaxInsert;
    Insert ins;
    ExpectWord("INSERT");
    ExpectWord("INTO");
    ins.table = ParseName();
    if (IsSymbol("(")) ins.columns = ParseNameList();
    if (IsWord(Peek(), "SELECT")) {
      ins.select = std::make_unique<Select>(ParseSelect());
      error_ = kErrSyntaxInsert;
      Finish();
      return ins;
    }
    ExpectWord("VALUES");
    ExpectSymbol("(");
    do {
      ins.values.push_back(ParseExpression());
    } while (AcceptSymbol(","));
    ExpectSymbol(")");
    Finish();
    return ins;
  }

  Statement ParseUpdate() {
    error_ = kErrSyntaxUpdate;
    Update u;
    ExpectWord("UPDATE");
    u.table = ParseName();
    ExpectWord("SET");
    do {
      Assignment a;
      a.column = ParseColumnName();
      ExpectSymbol("=");
      a.value = ParseExpression();
      u.sets.push_back(std::move(a));
    } while (AcceptSymbol(","));
    if (AcceptWord("WHERE")) u.where = ParseExpression();
    Finish();
    return u;
  }

  Statement ParseDelete() {
    error_ = kErrSyntaxFrom;
    Delete d;
    ExpectWord("DELETE");
    if (!AcceptSymbol("*") && AtName() && IsSymbol(".", 1) && IsSymbol("*", 2)) {
      Next();
      Next();
      Next();
    }
    ExpectWord("FROM");
    d.table = ParseName();
    if (AcceptWord("WHERE")) d.where = ParseExpression();
    Finish();
    return d;
  }

  // Integer in parentheses after a type or in COUNTER(seed, step).
  std::vector<int> ParseSizeArgs() {
    std::vector<int> out;
    if (!AcceptSymbol("(")) return out;
    do {
      if (Peek().kind != TokenKind::kNumber) Fail();
      out.push_back(std::atoi(Next().text.c_str()));
    } while (AcceptSymbol(","));
    ExpectSymbol(")");
    return out;
  }

  void ParseColumnType(NewColumn& c) {
    const Token& t = Peek();
    if (t.kind != TokenKind::kName) Fail();
    const std::string type = Upper(Next().text);
    auto is = [&](std::initializer_list<std::string_view> names) {
      for (auto n : names) {
        if (type == n) return true;
      }
      return false;
    };
    std::vector<int> args;
    if (is({"TEXT", "VARCHAR", "CHAR", "CHARACTER", "NVARCHAR", "NCHAR", "STRING", "ALPHANUMERIC"})) {
      c.type = ColumnType::kText;
      if (type == "CHARACTER" || type == "CHAR") AcceptWord("VARYING");
      args = ParseSizeArgs();
      if (args.size() > 1) Fail();
      if (!args.empty()) c.size = args[0];
    } else if (is({"MEMO", "LONGTEXT", "LONGCHAR", "NOTE", "NTEXT"})) {
      c.type = ColumnType::kMemo;
    } else if (is({"BYTE", "TINYINT", "INTEGER1"})) {
      c.type = ColumnType::kByte;
    } else if (is({"SHORT", "SMALLINT", "INTEGER2"})) {
      c.type = ColumnType::kInteger;
    } else if (is({"LONG", "INTEGER", "INT", "INTEGER4"})) {
      c.type = ColumnType::kLong;
    } else if (is({"COUNTER", "AUTOINCREMENT", "IDENTITY"})) {
      c.type = ColumnType::kLong;
      c.auto_number = true;
      args = ParseSizeArgs();
      if (args.size() == 1 || args.size() > 2) Fail();
    } else if (is({"SINGLE", "REAL", "FLOAT4", "IEEESINGLE"})) {
      c.type = ColumnType::kSingle;
    } else if (is({"DOUBLE", "FLOAT", "FLOAT8", "IEEEDOUBLE", "NUMBER"})) {
      c.type = ColumnType::kDouble;
      if (type == "DOUBLE") AcceptWord("PRECISION");
    } else if (is({"CURRENCY", "MONEY"})) {
      c.type = ColumnType::kCurrency;
    } else if (is({"DATETIME", "DATE", "TIME", "TIMESTAMP"})) {
      c.type = ColumnType::kDate;
    } else if (is({"BIT", "YESNO", "LOGICAL", "LOGICAL1", "BOOLEAN"})) {
      c.type = ColumnType::kBoolean;
    } else if (is({"LONGBINARY", "OLEOBJECT", "GENERAL", "IMAGE"})) {
      c.type = ColumnType::kOle;
    } else if (is({"BINARY", "VARBINARY"})) {
      c.type = ColumnType::kBinary;
      args = ParseSizeArgs();
      if (args.size() > 1) Fail();
      if (!args.empty()) c.size = args[0];
    } else if (is({"GUID", "UNIQUEIDENTIFIER"})) {
      c.type = ColumnType::kGuid;
    } else if (is({"DECIMAL", "NUMERIC", "DEC"})) {
      c.type = ColumnType::kDecimal;
      args = ParseSizeArgs();
      if (args.size() > 2) Fail();
      if (!args.empty()) c.precision = args[0];
      c.scale = args.size() > 1 ? args[1] : 0;
    } else {
      throw JetError(kErrInvalidFieldType);
    }
  }

  // Column constraints after the type: NOT NULL, [CONSTRAINT name]
  // PRIMARY KEY | UNIQUE | REFERENCES t [(c)], DEFAULT literal.
  void ParseColumnOptions(NewColumn& c, std::vector<Constraint>& constraints) {
    for (;;) {
      if (AcceptWord("NOT")) {
        ExpectWord("NULL");
        c.required = true;
      } else if (AcceptWord("NULL")) {
      } else if (AcceptWord("WITH")) {
        if (!AcceptWord("COMPRESSION")) ExpectWord("COMP");
      } else if (IsWord(Peek(), "ALLOW") || IsWord(Peek(), "DISALLOW")) {
        // The AllowZeroLength property, which Jet's own DDL cannot set.
        c.allow_zero_length = IsWord(Next(), "ALLOW");
        ExpectWord("ZERO");
        ExpectWord("LENGTH");
      } else if (IsWord(Peek(), "DEFAULT") && IsWord(Peek(1), "EXPRESSION") &&
                 Peek(2).kind == TokenKind::kString) {
        // The DefaultValue text exactly as the string holds it (bare text,
        // an empty one): what DEFAULT literal cannot store.
        Next();
        Next();
        c.default_value = Next().text;
      } else if (AcceptWord("DEFAULT")) {
        const Token& t = Peek();
        size_t start = t.pos;
        AcceptSymbol("-");
        const Token& v = Next();
        if (v.kind != TokenKind::kNumber && v.kind != TokenKind::kString && v.kind != TokenKind::kDate &&
            !IsWord(v, "NULL") && !IsWord(v, "TRUE") && !IsWord(v, "FALSE")) {
          Fail();
        }
        c.default_value = std::string(sql_.substr(start, v.end - start));
      } else if (IsWord(Peek(), "CONSTRAINT") || IsWord(Peek(), "PRIMARY") ||
                 IsWord(Peek(), "UNIQUE") || IsWord(Peek(), "REFERENCES")) {
        const int saved = error_;
        error_ = kErrSyntaxConstraint;
        Constraint k;
        if (AcceptWord("CONSTRAINT")) k.name = ParseName();
        if (AcceptWord("PRIMARY")) {
          ExpectWord("KEY");
          k.kind = Constraint::Kind::kPrimaryKey;
        } else if (AcceptWord("UNIQUE")) {
          k.kind = Constraint::Kind::kUnique;
        } else if (IsWord(Peek(), "REFERENCES")) {
          k.kind = Constraint::Kind::kForeignKey;
          ParseReferences(k);
        } else if (AcceptWord("NOT")) {
          ExpectWord("NULL");
          c.required = true;
          error_ = saved;
          continue;
        } else {
          Fail();
        }
        k.columns = {c.name};
        constraints.push_back(std::move(k));
        error_ = saved;
      } else {
        return;
      }
    }
  }

  void ParseReferences(Constraint& k) {
    ExpectWord("REFERENCES");
    k.ref_table = ParseName();
    if (IsSymbol("(")) k.ref_columns = ParseNameList();
    while (AcceptWord("ON")) {
      bool update = false;
      if (AcceptWord("UPDATE")) {
        update = true;
      } else {
        ExpectWord("DELETE");
      }
      bool cascade = false;
      if (AcceptWord("CASCADE")) {
        cascade = true;
      } else if (AcceptWord("NO")) {
        ExpectWord("ACTION");
      } else {
        ExpectWord("SET");
        ExpectWord("NULL");
        Fail();  // the engine's relations have no SET NULL here
      }
      (update ? k.cascade_update : k.cascade_delete) = cascade;
    }
    // A relation kept in the catalogue without its rules being enforced.
    if (IsWord(Peek(), "NOT") && IsWord(Peek(1), "ENFORCED")) {
      Next();
      Next();
      k.enforced = false;
    }
  }

  Constraint ParseTableConstraint() {
    error_ = kErrSyntaxConstraint;
    Constraint k;
    ExpectWord("CONSTRAINT");
    k.name = ParseName();
    if (AcceptWord("PRIMARY")) {
      ExpectWord("KEY");
      k.kind = Constraint::Kind::kPrimaryKey;
      k.columns = ParseNameList();
    } else if (AcceptWord("UNIQUE")) {
      k.kind = Constraint::Kind::kUnique;
      k.columns = ParseNameList();
    } else {
      ExpectWord("FOREIGN");
      ExpectWord("KEY");
      k.kind = Constraint::Kind::kForeignKey;
      k.columns = ParseNameList();
      ParseReferences(k);
    }
    return k;
  }

  Statement ParseCreateTable() {
    error_ = kErrSyntaxCreateTable;
    CreateTable ct;
    ExpectWord("TABLE");
    ct.table = ParseName();
    ExpectSymbol("(");
    do {
      if (IsWord(Peek(), "CONSTRAINT")) {
        ct.constraints.push_back(ParseTableConstraint());
        error_ = kErrSyntaxCreateTable;
        continue;
      }
      error_ = kErrSyntaxFieldDefinition;
      NewColumn c;
      c.name = ParseName();
      ParseColumnType(c);
      ParseColumnOptions(c, ct.constraints);
      ct.columns.push_back(std::move(c));
      error_ = kErrSyntaxCreateTable;
    } while (AcceptSymbol(","));
    ExpectSymbol(")");
    Finish();
    return ct;
  }

  Statement ParseCreateIndex() {
    CreateIndex ci;
    if (AcceptWord("UNIQUE")) ci.unique = true;
    ExpectWord("INDEX");
    ci.name = ParseName();
    ExpectWord("ON");
    ci.table = ParseName();
    ExpectSymbol("(");
    do {
      ci.columns.push_back(ParseColumnName());
      bool desc = false;
      if (AcceptWord("DESC")) {
        desc = true;
      } else {
        AcceptWord("ASC");
      }
      ci.descending.push_back(desc);
    } while (AcceptSymbol(","));
    ExpectSymbol(")");
    if (AcceptWord("WITH")) {
      do {
        if (AcceptWord("PRIMARY")) {
          ci.primary = true;
        } else if (AcceptWord("DISALLOW")) {
          ExpectWord("NULL");
          ci.disallow_null = true;
        } else {
          ExpectWord("IGNORE");
          ExpectWord("NULL");
          ci.ignore_null = true;
        }
      } while (IsWord(Peek(), "PRIMARY") || IsWord(Peek(), "DISALLOW") || IsWord(Peek(), "IGNORE"));
    }
    Finish();
    return ci;
  }

  Statement ParseAlterTable() {
    error_ = kErrSyntaxAlterTable;
    AlterTable at;
    ExpectWord("ALTER");
    ExpectWord("TABLE");
    at.table = ParseName();
    ExpectWord("ADD");
    if (!IsWord(Peek(), "CONSTRAINT")) Fail();
    at.constraint = ParseTableConstraint();
    Finish();
    return at;
  }

  Statement ParseDrop() {
    error_ = kErrSyntaxDrop;
    ExpectWord("DROP");
    if (AcceptWord("TABLE")) {
      DropTable d{ParseName()};
      Finish();
      return d;
    }
    ExpectWord("INDEX");
    DropIndex d;
    d.name = ParseName();
    ExpectWord("ON");
    d.table = ParseName();
    Finish();
    return d;
  }

  std::string_view sql_;
  std::vector<Token> toks_;
  size_t pos_ = 0;
  int error_ = kErrInvalidSqlStatement;
  std::optional<size_t> expr_start_;
  int nesting_ = 0;
};

}  // namespace

Statement Parse(std::string_view sql) { return Parser(sql).ParseStatement(); }

}  // namespace jet::sql
