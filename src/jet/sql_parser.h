// The statements of the engine's SQL as a tree: the parser reads one
// statement and raises the error number the engine gives for a syntax error
// in that kind of statement (3134 in INSERT INTO, 3144 in UPDATE, 3075 in an
// expression...). Names are not resolved here; see sql_expr.h.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

#include "jet/database.h"
#include "jet/value.h"

namespace jet::sql {

struct Expr;
using ExprPtr = std::unique_ptr<Expr>;

struct Expr {
  enum class Kind {
    kLiteral,
    kColumn,   // name, optionally table-qualified
    kUnary,    // op: "-", "NOT"
    kBinary,   // op: + - * / \ ^ MOD & = <> < > <= >= AND OR XOR
    kIsNull,   // args[0]; negated for IS NOT NULL
    kLike,     // args[0] LIKE args[1]
    kIn,       // args[0] IN (args[1..])
    kBetween,  // args[0] BETWEEN args[1] AND args[2]
    kCall,     // name(args)
    kAggregate,  // name (upper case): COUNT SUM AVG MIN MAX; COUNT(*) has no args
  };
  Kind kind = Kind::kLiteral;
  Value value;
  std::string name;       // column or function name
  std::string qualifier;  // table before the dot
  std::string op;         // upper case
  bool negated = false;
  std::vector<ExprPtr> args;
  int column = -1;        // slot in the row, once bound
  size_t pos = 0, end = 0;
  int depth = 1;          // of the tree under it; the parser bounds it (3360)
};

struct SelectItem {
  bool star = false;
  std::string star_table;  // T.*: every column of T only
  ExprPtr expr;
  std::string alias;
};

struct OrderItem {
  ExprPtr expr;
  bool descending = false;
};

// The FROM clause as a tree: a table, or two sources joined. Jet nests
// joins in parentheses, (A INNER JOIN B ON ...) LEFT JOIN C ON ...; a comma
// joins without a condition.
struct Source {
  enum class Join { kNone, kInner, kLeft, kRight, kCross };
  Join join = Join::kNone;
  std::string table, alias;            // kNone
  std::unique_ptr<Source> left, right;  // the others
  ExprPtr on;                          // kInner, kLeft, kRight
};

struct Select {
  bool distinct = false;
  bool distinct_row = false;
  std::optional<int64_t> top;
  std::vector<SelectItem> items;
  Source from;
  ExprPtr where;
  std::vector<ExprPtr> group_by;
  ExprPtr having;
  std::vector<OrderItem> order;
};

struct Insert {
  std::string table;
  std::vector<std::string> columns;  // empty: every column in order
  std::vector<ExprPtr> values;
  std::unique_ptr<Select> select;    // INSERT INTO ... SELECT
};

struct Assignment {
  std::string column;
  ExprPtr value;
};

struct Update {
  std::string table;
  std::vector<Assignment> sets;
  ExprPtr where;
};

struct Delete {
  std::string table;
  ExprPtr where;
};

struct Constraint {
  enum class Kind { kPrimaryKey, kUnique, kForeignKey };
  Kind kind = Kind::kPrimaryKey;
  std::string name;  // empty when the statement gives none
  std::vector<std::string> columns;
  std::string ref_table;
  std::vector<std::string> ref_columns;  // empty: the referenced primary key
  bool cascade_update = false;
  bool cascade_delete = false;
  bool enforced = true;  // NOT ENFORCED: kept, rules not applied
};

struct CreateTable {
  std::string table;
  std::vector<NewColumn> columns;
  std::vector<Constraint> constraints;  // column and table constraints
};

struct CreateIndex {
  std::string name;
  std::string table;
  std::vector<std::string> columns;
  std::vector<bool> descending;
  bool unique = false;
  bool primary = false;
  bool disallow_null = false;
  bool ignore_null = false;
};

struct AlterTable {
  std::string table;
  Constraint constraint;  // ADD CONSTRAINT
};

struct DropTable {
  std::string table;
};

struct DropIndex {
  std::string name;
  std::string table;
};

using Statement = std::variant<Select, Insert, Update, Delete, CreateTable, CreateIndex,
                               AlterTable, DropTable, DropIndex>;

// Parses one statement (a trailing ';' is allowed). Throws JetError; 3360
// when parentheses nest too deep or an expression grows too deep to
// evaluate (a chain of a thousand ORs).
Statement Parse(std::string_view sql);

// The value of a #date# literal's text: ISO (2001-12-31), or month first
// (12/31/2001) as the engine reads it, day first when that cannot be a
// month; an optional time (hh:mm[:ss] [AM|PM]) or a time alone. Empty when
// the text is no date.
std::optional<Date> ParseDateLiteral(std::string_view text);

}  // namespace jet::sql
