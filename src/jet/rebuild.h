// Writing a whole new Jet 4 database from a description of what it holds:
// tables (columns, their properties, indexes), relations, queries, the
// database's own properties and password, and each table's rows from a
// source the caller gives. Compact reads a healthy file into this
// description; repair fills it from whatever a damaged one still yields.
//
// The new file starts as the engine's own new database (system tables,
// containers, access entries); the description adds the rest. It is built
// under a copy's name beside `path` and appears there whole when
// WriteDatabase returns, or not at all (3204 when `path` exists).
//
// The description is independent of the origin's format: names and sizes
// are the same for Jet 3 and Jet 4; property blobs pass through AsJet4.
#pragma once

#include <cstddef>
#include <cstdint>
#include <exception>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "jet/bytes.h"
#include "jet/database.h"
#include "jet/error.h"
#include "jet/props.h"
#include "jet/table.h"
#include "jet/value.h"

namespace jet::rebuild {

struct Column {
  // Name, type, size (Text in characters, Binary in bytes), precision and
  // scale, auto_number. Its required / allow_zero_length / default_value
  // are not used: a column's properties come from Table::properties.
  NewColumn column;
  bool compressed_unicode = false;  // Text and Memo stored compressed
  bool hyperlink = false;           // Memo holding a hyperlink
  bool auto_guid = false;           // GUID the engine fills in for a new row
  bool fixed_length = false;        // Text stored at full size in the fixed area
};

struct Table {
  std::string name;
  // In column-number order; every row gives its values in this order.
  std::vector<Column> columns;
  // The table's own indexes (primary, unique, plain), in the order the
  // definition lists them. Foreign-key indexes are not listed: relations
  // make them.
  std::vector<NewIndex> indexes;
  // The table's LvProp (its own map and one per column), written as Jet 4
  // (AsJet4 below re-encodes a Jet 3 blob's text); the Required,
  // AllowZeroLength and DefaultValue found there are the columns' rules.
  // The rows given go in even when they break those rules, as an origin
  // may hold rows from before a rule was added.
  Properties properties;
  // The value the auto-number column hands out next. Unset: one more than
  // the highest value stored, or 1 for an empty table.
  std::optional<int32_t> next_auto_number;
};

// A relation as FileState::CreateRelation takes it: `table` is the
// referenced (one) side, `foreign_table` the referencing side, attributes
// as DAO's (2 not enforced, 256 cascade updates, 4096 cascade deletes).
using Relation = FileState::NewRelation;

// A saved query: its MSysObjects entry and its MSysQueries rows.
struct Query {
  std::string name;
  int32_t flags = 0;        // MSysObjects.Flags: the kind of query
  Properties properties;    // MSysObjects.LvProp
  Bytes lv_extra;           // MSysObjects.LvExtra, as stored; empty for none
  // Each MSysQueries row by column name (ObjectId left out; it is given
  // the query's new id). Columns the new table lacks are dropped.
  std::vector<std::vector<std::pair<std::string, Value>>> rows;
};

// An object under the Databases container other than MSysDb (the summary
// and user-defined property documents): name, type and properties.
struct Document {
  std::string name;
  int16_t type = 0;
  int32_t flags = 0;
  Properties properties;
};

struct Database {
  std::vector<Table> tables;
  std::vector<Relation> relations;
  std::vector<Query> queries;
  Properties database_properties;  // MSysDb's LvProp
  std::vector<Document> documents;
  std::string password;            // empty: none
  bool encrypt = false;            // RC4 page encryption
};

// Receives one row: values in the table's column order, of the columns'
// types (nulls allowed). The callee may take the values' storage.
using RowSink = std::function<void(std::vector<Value>& row)>;
// Gives every row of tables[table] to `sink`, in the order they are to be
// stored (PrimaryKeyOrder below sorts them). Called once per table: in
// table order when Options::on_unenforced_relation is set, otherwise
// referenced tables before the tables that refer to them. May throw; the
// new file is then not written.
using RowSource = std::function<void(size_t table, const RowSink& sink)>;

// The same with some columns given as their origin stored them
// (Table::ReadStored's form) instead of as values: `stored` has one entry
// per column, those with `set` taken as bytes. Such a column's value must
// still be null exactly when it is absent. The bytes must suit the new
// column: Binary and OLE from any file; Text and Memo only from a Jet 4
// file, with the same compression. A column that an index of the new
// table lists (its own, or a relation's made before the rows) comes with
// its value too, for the key (3001 when it does not).
using StoredRowSink =
    std::function<void(std::vector<Value>& row, const std::vector<jet::Table::StoredColumn>& stored)>;
using StoredRowSource = std::function<void(size_t table, const StoredRowSink& sink)>;

// A row made ready for the new table away from the thread that writes the
// file: its values and stored columns in the new definition's column order,
// the bytes it is stored as, and its index keys (unless an auto-number
// waits for its number). Reused from row to row, it keeps its storage.
struct PreparedRow {
  std::vector<Value> values;
  std::vector<jet::Table::StoredColumn> stored;
  jet::Table::EncodedRow encoded;
  RowKeys keys;
  bool keys_built = false;
  // What making it ready threw (a value too big for its column, ...): the
  // row is then refused as the writer refuses one.
  std::exception_ptr error;
};

// Makes rows ready for one new table. It holds a copy of the new table's
// definition and reads nothing else, so the source may use it on a thread
// of its own while the file fills; one thread at a time.
class RowPreparer {
 public:
  RowPreparer(const Format& format, const TableDef& def, std::vector<size_t> slots);
  // `row.values` and `row.stored` (stored empty, or one entry per column)
  // come in the described columns' order, as StoredRowSink takes them
  // (3001 when they break its rules), and leave in the new definition's
  // order, the row encoded.
  void Prepare(PreparedRow& row);
  // Whether rows of a table of definition `origin` (a Jet 4 one), whose
  // described columns lie at `origin_slots` in it, read the same under the
  // new definition: as many columns, counted alike, every one at the same
  // number, place and size, of the same type and flags.
  bool SameLayout(const TableDef& origin, const std::vector<size_t>& origin_slots) const;
  // Prepare for a row of such a table whose stored `bytes` go into the new
  // file as they are: no long value of it on other pages, and every
  // auto-number given. `row.values` as Prepare takes them (the columns no
  // key needs may stand as true for present, null for absent); `row.stored`
  // empty or unset.
  void PrepareAsStored(PreparedRow& row, ByteView bytes);
  // Described column -> definition column.
  const std::vector<size_t>& slots() const { return slots_; }

 private:
  // Checks the row's columns and puts them in the definition's order.
  void Arrange(PreparedRow& row);
  // The row's keys, unless an auto-number waits for its number.
  void BuildKeys(PreparedRow& row);

  const Format& format_;
  TableDef def_;
  std::vector<size_t> slots_;  // described column -> definition column
  std::vector<bool> needs_value_;  // by described column: an index reads it
  bool in_place_ = true;
  std::vector<Value> values_;
  std::vector<jet::Table::StoredColumn> stored_;
  EncodeScratch encode_;
  std::vector<size_t> auto_numbers_;  // definition columns
};

// A source of rows made ready with `prepare`, which stay the caller's: the
// sink stores each one and leaves it to be filled again.
using PreparedRowSink = std::function<void(PreparedRow& row)>;
using PreparedRowSource =
    std::function<void(size_t table, RowPreparer& prepare, const PreparedRowSink& sink)>;

struct Options {
  // A row the new file refuses (a duplicate key, a value too big for its
  // column) is handed here with the error, and the write goes on. Unset:
  // the error ends the write.
  std::function<void(size_t table, const std::vector<Value>& row, const JetError& e)> on_refused_row;
  // A relation whose rows do not satisfy it: written not enforced and
  // reported here. Unset: the error ends the write (3379; or, as the
  // enforced relations then go in before the rows, 3201 for the row, which
  // on_refused_row may take instead).
  std::function<void(const Relation& relation)> on_unenforced_relation;
  // Told, once every table exists and before the first fills, the order
  // the tables will be asked for and, by table, the preparer each will be
  // given: a source may then read and make ready the rows of later tables
  // while earlier ones are stored (sharing the preparers, which may then
  // outlive a write that failed).
  std::function<void(const std::vector<size_t>& fill_order,
                     const std::vector<std::shared_ptr<RowPreparer>>& preparers)>
      before_filling;
};

struct Report {
  std::vector<size_t> rows_stored;   // by table
  std::vector<size_t> rows_refused;  // by table
};

// Writes the database at `path`. Errors: 3204 when `path` exists, 3044
// when its folder does not, the disk's (3026, 3043), and those of the
// description (3010 a name twice, 3001 a bad size, ...) or the source.
Report WriteDatabase(const std::string& path, const Database& db, const RowSource& rows,
                     const Options& options = {});
Report WriteDatabase(const std::string& path, const Database& db, const StoredRowSource& rows,
                     const Options& options = {});
Report WriteDatabase(const std::string& path, const Database& db, const PreparedRowSource& rows,
                     const Options& options = {});

// The primary key of a table's rows in the new file's encoding, so that a
// source can put rows in key order: rows whose keys compare lower (by
// CompareKeys) go first. A table without a primary key gives empty keys.
class PrimaryKey {
 public:
  explicit PrimaryKey(const Table& table);
  bool present() const { return !columns_.empty(); }
  Bytes Key(const std::vector<Value>& row) const;

 private:
  TableDef def_;
  RealIndexDef index_;
  std::vector<size_t> columns_;
};

// A column of an existing definition of a Jet `version` file as the new
// file takes it: name, type, size (Text in characters), precision and
// scale, auto-number, and the storage flags above.
Column ColumnOf(const ColumnDef& c, int version);

// Properties parsed from a blob of a Jet `version` file with their text
// values re-encoded as Jet 4 stores them (Jet 4's own are kept as they are).
Properties AsJet4(const Properties& props, int version);

// Positions of `rows` sorted by primary key (stable; the given order when
// the table has none).
std::vector<size_t> PrimaryKeyOrder(const Table& table, const std::vector<std::vector<Value>>& rows);

}  // namespace jet::rebuild
