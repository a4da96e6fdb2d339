// The engine's object interface, shaped like the DAO objects the program
// calls: one engine with workspace 0, databases, table definitions, fields,
// indexes, relations and table-type recordsets. Names match without regard
// to case. Objects are cheap handles onto shared state; a TableDef, Field,
// Index or Relation made by Create... lives in memory until it is appended.
//
// Every failure throws jet::JetError with the engine's error number.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "jet/value.h"

namespace jet {
class FileState;
struct EncodeScratch;
class RowKeys;
}

namespace jet::dao {

using jet::Value;
class DatabaseState;
class RecordsetState;
class PreparedRowState;
class PreparedRow;

// DAO type codes (dbBoolean = 1 ... dbMemo = 12, dbGUID = 15, dbDecimal = 20).
enum DaoType : int {
  dbBoolean = 1,
  dbByte = 2,
  dbInteger = 3,
  dbLong = 4,
  dbCurrency = 5,
  dbSingle = 6,
  dbDouble = 7,
  dbDate = 8,
  dbBinary = 9,
  dbText = 10,
  dbLongBinary = 11,
  dbMemo = 12,
  dbGUID = 15,
  dbDecimal = 20,
};

enum FieldAttributes : int {
  dbFixedField = 1,
  dbVariableField = 2,
  dbAutoIncrField = 16,
};

enum RelationAttributes : int {
  dbRelationUnique = 1,
  dbRelationDontEnforce = 2,
  dbRelationUpdateCascade = 256,
  dbRelationDeleteCascade = 4096,
};

enum CreateOptions : int {
  dbEncrypt = 2,
};

enum ExecuteOptions : int {
  dbDenyWrite = 1,
  dbSQLPassThrough = 64,
  dbFailOnError = 128,
  dbSeeChanges = 512,
};

enum RecordsetType : int {
  dbOpenTable = 1,
};

// Text size used when a Text field is created without one.
inline constexpr int kDefaultTextSize = 255;

class Field {
 public:
  Field();
  const std::string& Name() const;
  int Type() const;
  int Size() const;
  int Attributes() const;
  void SetAttributes(int attributes);
  bool Required() const;
  void SetRequired(bool v);
  bool AllowZeroLength() const;
  void SetAllowZeroLength(bool v);
  // The default value expression as text ("0", "False", "Null", "\"x\"", "").
  const std::string& DefaultValue() const;
  bool HasDefaultValue() const;
  void SetDefaultValue(const std::string& v);
  const std::string& ForeignName() const;
  void SetForeignName(const std::string& v);

  struct Data;
  explicit Field(std::shared_ptr<Data> d) : d_(std::move(d)) {}
  const std::shared_ptr<Data>& data() const { return d_; }

 private:
  std::shared_ptr<Data> d_;
};

class Index {
 public:
  Index();
  const std::string& Name() const;
  bool Primary() const;
  void SetPrimary(bool v);
  bool Unique() const;
  void SetUnique(bool v);
  bool Required() const;
  void SetRequired(bool v);
  bool IgnoreNulls() const;
  void SetIgnoreNulls(bool v);
  bool Foreign() const;
  Field CreateField(const std::string& name);
  // The index's fields; Append adds one (only before the index is appended).
  std::vector<Field> Fields() const;
  void AppendField(const Field& f);

  struct Data;
  explicit Index(std::shared_ptr<Data> d) : d_(std::move(d)) {}
  const std::shared_ptr<Data>& data() const { return d_; }

 private:
  std::shared_ptr<Data> d_;
};

class Relation {
 public:
  Relation();
  const std::string& Name() const;
  const std::string& Table() const;
  void SetTable(const std::string& v);
  const std::string& ForeignTable() const;
  void SetForeignTable(const std::string& v);
  int Attributes() const;
  void SetAttributes(int v);
  Field CreateField(const std::string& name);
  std::vector<Field> Fields() const;
  void AppendField(const Field& f);

  struct Data;
  explicit Relation(std::shared_ptr<Data> d) : d_(std::move(d)) {}
  const std::shared_ptr<Data>& data() const { return d_; }

 private:
  std::shared_ptr<Data> d_;
};

class TableDef {
 public:
  TableDef();
  const std::string& Name() const;
  // Size: Text only; -1 means "not given" (the default text size applies).
  Field CreateField(const std::string& name, int type, int size = -1);
  Index CreateIndex(const std::string& name);
  std::vector<Field> Fields() const;
  void AppendField(const Field& f);
  std::vector<Index> Indexes() const;
  // Before the table is appended this only records the index; afterwards it
  // builds the index in the file.
  void AppendIndex(const Index& i);
  Field GetField(const std::string& name) const;  // 3265 when absent
  int64_t RecordCount() const;
  bool IsSystem() const;

  struct Data;
  explicit TableDef(std::shared_ptr<Data> d) : d_(std::move(d)) {}
  const std::shared_ptr<Data>& data() const { return d_; }

 private:
  std::shared_ptr<Data> d_;
};

// A table-type recordset: rows in stored order, a current row, and an edit
// buffer for AddNew/Edit ... Update.
class Recordset {
 public:
  Recordset() = default;
  bool IsEOF() const;
  bool IsBOF() const;
  int64_t RecordCount() const;
  void MoveFirst();
  void MoveNext();
  // The value of a field of the current row (or of the edit buffer during
  // AddNew/Edit; right after AddNew the auto-number is already there).
  Value GetValue(const std::string& field) const;
  Value GetValue(int index) const;
  void SetValue(const std::string& field, const Value& v);
  void SetValue(int index, const Value& v);
  // The same, taking over the value's storage.
  void SetValue(const std::string& field, Value&& v);
  void SetValue(int index, Value&& v);
  // During AddNew: the same as SetValue(index, from.GetValue(from_index))
  // for the current row of `from`, a table recordset. Fields of two Jet 4
  // files move as stored, without being encoded again, when both have the
  // same type (text the same compression, fixed-size types the same size,
  // not an auto-number) and the destination's size holds the origin's; a
  // field that an index or an enforced relationship reads is decoded too,
  // the others are not. Other fields are assigned as values. Relationships
  // are looked up the first time.
  void CopyField(int index, const Recordset& from, int from_index);
  int FieldCount() const;
  std::string FieldName(int index) const;
  void AddNew();
  void Edit();
  void Update();
  void CancelUpdate();
  void Delete();
  void Close();
  // AddNew, the assignments a RowMaker made ready in `row`, and Update, in
  // one step: the row is stored, or the error is thrown and nothing is left
  // pending. `row` keeps its storage for the next one.
  void AddPrepared(PreparedRow& row);

  explicit Recordset(std::shared_ptr<RecordsetState> s) : s_(std::move(s)) {}

 private:
  friend class RowMaker;
  void Store(RowKeys* keys);
  std::shared_ptr<RecordsetState> s_;
};

// A new row's field assignments, made ready by a RowMaker and stored by
// Recordset::AddPrepared. Reused from row to row, it keeps its storage.
class PreparedRow {
 public:
  PreparedRow();
  ~PreparedRow();
  PreparedRow(PreparedRow&&) noexcept;
  PreparedRow& operator=(PreparedRow&&) noexcept;

 private:
  friend class Recordset;
  friend class RowMaker;
  std::unique_ptr<PreparedRowState> s_;
};

// Makes rows ready for a table recordset as AddNew and the assignments
// after it would, and builds their index keys, away from the recordset:
// what it needs (definition, defaults, which fields take stored bytes) is
// copied when it is made. From then on it reads nothing of that recordset
// or its database, so it may work on another thread while the recordset
// stores rows, provided the recordsets it copies from belong to another
// file and to that thread alone. Auto-number fields left unassigned get
// their number when the row is stored.
class RowMaker {
 public:
  explicit RowMaker(Recordset& into);
  ~RowMaker();
  RowMaker(const RowMaker&) = delete;
  RowMaker& operator=(const RowMaker&) = delete;

  // Starts `row` from the defaults, but for the fields PlanStored took.
  void Begin(PreparedRow& row);
  // What Recordset::CopyField and SetValue do during AddNew, into `row`;
  // the same errors, and a failed assignment leaves the field as it was.
  void CopyField(PreparedRow& row, int index, const Recordset& from, int from_index);
  void SetValue(PreparedRow& row, int index, Value&& v);
  // A plan made once per origin table: of the (field, origin field) pairs
  // given, those that CopyField would move as stored bytes, which
  // CopyStored then moves together; true for each pair the plan takes. The
  // decision reads only the two tables' definitions. A new plan replaces
  // the last one.
  std::vector<bool> PlanStored(const Recordset& from,
                               const std::vector<std::pair<int, int>>& fields);
  // During a row begun with Begin (which leaves the planned fields to
  // it): what CopyField does for every pair the plan took, for the current
  // row of `from`, the table the plan was made for. An error leaves the
  // planned fields at their defaults: the caller may assign them again one
  // by one, each meeting its own error.
  void CopyStored(PreparedRow& row, const Recordset& from);
  // Ends `row`: encodes it as the table stores it, and with `keys` builds
  // its index keys unless an auto-number field still waits for its number.
  // An error leaves that work to AddPrepared, where it throws again.
  void Finish(PreparedRow& row, bool keys = true);

 private:
  std::shared_ptr<RecordsetState> shadow_;
  // The planned pairs as column indexes: (destination, origin), and by
  // destination column whether the plan gives it its value.
  std::vector<std::pair<size_t, size_t>> planned_;
  std::vector<uint8_t> planned_columns_;
  std::unique_ptr<EncodeScratch> encode_;
};

class Database {
 public:
  Database() = default;
  const std::string& Name() const;
  std::vector<TableDef> TableDefs() const;          // user and system tables
  TableDef GetTableDef(const std::string& name) const;  // 3265 when absent
  bool HasTable(const std::string& name) const;
  void AppendTableDef(const TableDef& t);            // 3010 when the name exists
  std::vector<Relation> Relations() const;
  void AppendRelation(const Relation& r);
  TableDef CreateTableDef(const std::string& name);
  Relation CreateRelation(const std::string& name);
  // A table name opens a table-type recordset; a SELECT statement opens a
  // read-only one over its result.
  Recordset OpenRecordset(const std::string& name, int type = dbOpenTable);
  // Runs one SQL statement. options: dbFailOnError (128) makes a failing
  // row undo the whole statement and raise its error; without it failing
  // rows are skipped. RecordsAffected tells how many rows the last one
  // changed.
  void Execute(const std::string& sql, int options = 0);
  int64_t RecordsAffected() const;
  // Closes this handle. A file is never written where it lies (pager.h):
  // when the last handle of the file in this process closes, what every
  // handle wrote is put in place of the file, and a failure to do so (a
  // full disk, 3026; an I/O error, 3043; the office application holding
  // the file on Windows, 3045) is thrown here, the file left as it was. A
  // handle that goes without Close does the same, and hands such a failure
  // to jet::DeferError.
  void Close();
  // Puts what every handle of the file wrote so far in place of it now;
  // the handles stay open. The same errors as Close.
  void Commit();
  // Drops what every handle of the file wrote since it was last put in
  // place, and closes this handle: a database being created never appears.
  // The file's other handles fail from then on.
  void Discard();
  bool IsOpen() const;
  // Whether both handles reach the same open file (one file opened twice
  // shares its state).
  bool SharesFileWith(const Database& other) const;
  // Format facts for tools: 3 or 4, encryption, password presence.
  int JetVersion() const;
  bool Encrypted() const;
  bool HasPassword() const;

  explicit Database(std::shared_ptr<DatabaseState> s) : s_(std::move(s)) {}
  const std::shared_ptr<DatabaseState>& state() const { return s_; }

 private:
  std::shared_ptr<DatabaseState> s_;
};

class Workspace {
 public:
  // connect: ";pwd=SECRET" (key case-insensitive); empty for none.
  Database OpenDatabase(const std::string& path, bool exclusive = false, bool read_only = false,
                        const std::string& connect = "");
  // locale_and_connect: ";LANGID=0x0409;CP=1252;COUNTRY=0;pwd=SECRET".
  // options: dbEncrypt (2) encrypts the pages.
  Database CreateDatabase(const std::string& path, const std::string& locale_and_connect,
                          int options = 0);
};

class DBEngine {
 public:
  // The program's one engine, created on first use.
  static DBEngine& Instance();
  Workspace& Workspaces(int index);  // only 0 exists
  Database OpenDatabase(const std::string& path, bool exclusive = false, bool read_only = false,
                        const std::string& connect = "");

 private:
  DBEngine() = default;
  Workspace workspace_;
};

// For tests: with false, fields are copied as values only and rows are
// encoded where they are inserted, the plain path that stored copies must
// agree with byte for byte. True by default.
void UseStoredCopies(bool on);

// The password named by a connect string's pwd key ("" when none).
std::string PasswordFromConnect(const std::string& connect);

}  // namespace jet::dao
