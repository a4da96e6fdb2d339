// TableBuilder: how every table button builds its tables. A button describes
// its tables as data (fields, then indexes, then the relations it owns) and
// the builder adds each piece to the database in the fixed order: table
// definition, fields, field properties, fields appended, table appended,
// indexes, relations. Nothing is undone on failure: what was appended before
// the failing step stays in the file.
#pragma once

#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "jet/dao.h"

namespace maquetor::db {

// A property cell: left unset (the engine's default holds) or set True/False.
enum class Flag { kUnset, kYes, kNo };

struct FieldSpec {
  std::string name;
  int type = 0;
  int size = 0;  // Text only; 0 passes no size and the default text size applies
  Flag required = Flag::kUnset;
  Flag allow_zero_length = Flag::kUnset;
  const char* default_value = nullptr;  // nullptr: DefaultValue not set
  int attributes = 0;
};

struct IndexSpec {
  std::string name;
  std::vector<std::string> fields = {};
  Flag primary = Flag::kUnset;
  Flag unique = Flag::kUnset;
  Flag required = Flag::kUnset;
  // Some buttons also set these on the index's field objects; the engine
  // keeps nothing of them, but the program sets them and so do we.
  bool field_required = false;
  int field_attributes = 0;
};

struct RelationSpec {
  std::string name;
  std::string table;          // the referenced side
  std::string foreign_table;  // the referencing side
  std::vector<std::pair<std::string, std::string>> fields;  // field -> foreign field
  int attributes = 0;
};

// When the indexes reach the file: after the table (the usual order) or
// appended to the definition first, so table and indexes arrive together.
enum class IndexTiming { kAfterTable, kWithTable };

struct TableSpec {
  std::string name;
  std::vector<FieldSpec> fields = {};
  std::vector<IndexSpec> indexes = {};
  std::vector<RelationSpec> relations = {};
  IndexTiming index_timing = IndexTiming::kAfterTable;
};

class TableBuilder {
 public:
  // Stores the base name in NombreBase (buttons with literal names pass
  // none and leave it as it was) and opens the working database
  // exclusively in workspace 0.
  TableBuilder(const std::string& BDatosTrabajo, std::optional<std::string> base_name);

  // One table with its indexes and relations, on the open handle.
  void Build(const TableSpec& table);

  jet::dao::Database& database() { return db_; }

  // The buttons that close the database explicitly; the others just let the
  // handle go when they end.
  void Close() { db_.Close(); }

 private:
  jet::dao::Database db_;
};

// The same steps on a handle opened elsewhere.
void BuildTable(jet::dao::Database& db, const TableSpec& table);

}  // namespace maquetor::db
