// Reading a whole database table by table for the commands that print data
// (export, tables, schema): the user tables in catalogue order, and a
// forward-only cursor that decodes a table's rows one at a time into values
// it reuses, so that a big table is never held whole. Both list rows in the
// order their bytes lie in the file, a moved row where its bytes now are, as
// mdbtools does.
//
// The caller keeps the ReadOnlyDatabase alive while cursors on it are used,
// and uses it from one thread.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "jet/bytes.h"
#include "jet/dao.h"
#include "jet/database.h"
#include "jet/props.h"
#include "jet/row.h"
#include "jet/table.h"
#include "jet/value.h"

namespace maquetor {

// A database opened read-only, as inspect opens it: `password` empty for
// none. The DAO handle keeps the file open; the engine state beside it is
// the same shared state, read below the DAO objects for speed.
class ReadOnlyDatabase {
 public:
  ReadOnlyDatabase(const std::string& path, const std::string& password);
  ~ReadOnlyDatabase();
  ReadOnlyDatabase(const ReadOnlyDatabase&) = delete;
  ReadOnlyDatabase& operator=(const ReadOnlyDatabase&) = delete;

  jet::dao::Database& dao() { return db_; }
  jet::FileState& file() { return *file_; }
  int version() const { return db_.JetVersion(); }

  // MSysObjects' rows in stored order.
  std::vector<jet::CatalogEntry> Catalog();
  // Table names in catalogue order (what mdb-tables prints), system tables
  // only when asked.
  std::vector<std::string> TableNames(bool system = false);

  // The table's stored properties (its MSysObjects LvProp); none when it
  // has none or they cannot be read.
  jet::Properties TableProperties(const std::string& table);

 private:
  jet::dao::Database db_;
  std::shared_ptr<jet::FileState> file_;
};

class RowCursor {
 public:
  // 3078 when `table` does not exist.
  RowCursor(ReadOnlyDatabase& db, const std::string& table);

  // The table's columns in column-number order, as DAO lists them.
  const std::vector<const jet::ColumnDef*>& columns() const { return columns_; }

  // Advances to the next row; false at the end.
  bool Next();
  // Column `i` (in columns() order) of the current row, decoded on first
  // use; valid until Next.
  const jet::Value& Get(size_t i);

 private:
  jet::Table& table_;
  jet::Table::Scan scan_;
  std::vector<const jet::ColumnDef*> columns_;
  std::vector<size_t> slot_;  // columns() index -> definition slot
  bool has_long_values_ = false;
  jet::Bytes raw_;
  std::vector<jet::ColumnSlice> slices_;
  std::vector<jet::Value> values_;
  std::vector<uint8_t> decoded_;
};

}  // namespace maquetor
