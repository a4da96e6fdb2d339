#include "jet/dao.h"

#include <algorithm>
#include <atomic>
#include <cctype>
#include <map>
#include <optional>

#include "jet/database.h"
#include "jet/error.h"
#include "jet/index_key.h"
#include "jet/relations.h"
#include "jet/row.h"
#include "jet/sql.h"
#include "jet/text.h"
#include "jet/value_codec.h"

namespace jet::dao {

// ---- object data ----

struct Field::Data {
  std::string name;
  int type = dbText;
  int size = -1;
  int attributes = 0;
  bool required = false;
  bool allow_zero_length = false;
  bool required_set = false;
  bool allow_zero_length_set = false;
  bool has_default = false;
  std::string default_value;
  std::string foreign_name;
};

struct Index::Data {
  std::string name;
  bool primary = false;
  bool unique = false;
  bool required = false;
  bool ignore_nulls = false;
  bool foreign = false;
  std::vector<Field> fields;
  bool appended = false;
};

struct Relation::Data {
  std::string name;
  std::string table;
  std::string foreign_table;
  int attributes = 0;
  std::vector<Field> fields;
  bool appended = false;  // in a database's Relations collection
};

struct TableDef::Data {
  std::string name;
  std::vector<Field> fields;
  std::vector<Index> indexes;
  // Set once the table is in a database.
  std::shared_ptr<FileState> file;
};

// A damaged page is found deep in the engine, which does not know the
// file's name; the message names it (3049 "No se puede abrir la base de
// datos '...'") once it reaches a handle that does.
template <typename Step>
decltype(auto) NamingDamage(const std::string& name, Step&& step) {
  try {
    return step();
  } catch (const JetError& e) {
    if (e.number() == kErrCorrupt && e.detail().empty()) throw JetError(kErrCorrupt, name);
    throw;
  }
}

class DatabaseState {
 public:
  std::shared_ptr<FileState> file;
  std::string name;
  bool open = true;
  int64_t records_affected = 0;

  explicit DatabaseState(std::shared_ptr<FileState> f) : file(std::move(f)) { file->AddHandle(); }
  ~DatabaseState() {
    if (open) file->DropHandle();
  }
  DatabaseState(const DatabaseState&) = delete;
  DatabaseState& operator=(const DatabaseState&) = delete;

  FileState& Live() {
    if (!open || !file) throw JetError(kErrObjectClosed);
    return *file;
  }
};

namespace {

// UseStoredCopies: read on the copying threads.
std::atomic<bool> stored_copies{true};

ColumnType TypeFromDao(int type) {
  switch (type) {
    case dbBoolean: return ColumnType::kBoolean;
    case dbByte: return ColumnType::kByte;
    case dbInteger: return ColumnType::kInteger;
    case dbLong: return ColumnType::kLong;
    case dbCurrency: return ColumnType::kCurrency;
    case dbSingle: return ColumnType::kSingle;
    case dbDouble: return ColumnType::kDouble;
    case dbDate: return ColumnType::kDate;
    case dbBinary: return ColumnType::kBinary;
    case dbText: return ColumnType::kText;
    case dbLongBinary: return ColumnType::kOle;
    case dbMemo: return ColumnType::kMemo;
    case dbGUID: return ColumnType::kGuid;
    case dbDecimal: return ColumnType::kDecimal;
    default: throw JetError(kErrInvalidArgument);
  }
}

int DaoFromType(ColumnType t) {
  switch (t) {
    case ColumnType::kOle: return dbLongBinary;
    case ColumnType::kGuid: return dbGUID;
    case ColumnType::kDecimal: return dbDecimal;
    default: return static_cast<int>(t);
  }
}

Field FieldFromColumn(const ColumnDef& c, const FileState::ColumnProps* props, int version) {
  auto d = std::make_shared<Field::Data>();
  d->name = c.name;
  d->type = DaoFromType(c.type);
  if (c.type == ColumnType::kText) {
    // Jet 4 stores two bytes per character, Jet 3 one.
    d->size = version >= 4 ? c.length / 2 : c.length;
  } else if (IsLongValue(c.type)) {
    d->size = 0;
  } else {
    d->size = c.length;
  }
  if (c.auto_number()) d->attributes |= dbAutoIncrField;
  d->attributes |= c.fixed() ? dbFixedField : dbVariableField;
  if (props) {
    d->required = props->required;
    d->allow_zero_length = props->allow_zero_length;
    if (props->default_value) {
      d->has_default = true;
      d->default_value = *props->default_value;
    }
  }
  return Field(d);
}

}  // namespace

// ---- Field ----

Field::Field() : d_(std::make_shared<Data>()) {}
const std::string& Field::Name() const { return d_->name; }
int Field::Type() const { return d_->type; }
int Field::Size() const { return d_->size; }
int Field::Attributes() const { return d_->attributes; }
void Field::SetAttributes(int a) { d_->attributes = a; }
bool Field::Required() const { return d_->required; }
void Field::SetRequired(bool v) {
  d_->required = v;
  d_->required_set = true;
}
bool Field::AllowZeroLength() const { return d_->allow_zero_length; }
void Field::SetAllowZeroLength(bool v) {
  d_->allow_zero_length = v;
  d_->allow_zero_length_set = true;
}
const std::string& Field::DefaultValue() const { return d_->default_value; }
bool Field::HasDefaultValue() const { return d_->has_default; }
void Field::SetDefaultValue(const std::string& v) {
  d_->default_value = v;
  d_->has_default = true;
}
const std::string& Field::ForeignName() const { return d_->foreign_name; }
void Field::SetForeignName(const std::string& v) { d_->foreign_name = v; }

// ---- Index ----

Index::Index() : d_(std::make_shared<Data>()) {}
const std::string& Index::Name() const { return d_->name; }
bool Index::Primary() const { return d_->primary; }
void Index::SetPrimary(bool v) { d_->primary = v; }
bool Index::Unique() const { return d_->unique; }
void Index::SetUnique(bool v) { d_->unique = v; }
bool Index::Required() const { return d_->required; }
void Index::SetRequired(bool v) { d_->required = v; }
bool Index::IgnoreNulls() const { return d_->ignore_nulls; }
void Index::SetIgnoreNulls(bool v) { d_->ignore_nulls = v; }
bool Index::Foreign() const { return d_->foreign; }
Field Index::CreateField(const std::string& name) {
  Field f;
  f.data()->name = name;
  return f;
}
std::vector<Field> Index::Fields() const { return d_->fields; }
void Index::AppendField(const Field& f) {
  if (d_->appended) throw JetError(kErrInvalidOperation);
  for (const auto& x : d_->fields) {
    if (NamesEqual(x.Name(), f.Name())) throw JetError(kErrObjectExists, f.Name());
  }
  d_->fields.push_back(f);
}

// ---- Relation ----

Relation::Relation() : d_(std::make_shared<Data>()) {}
const std::string& Relation::Name() const { return d_->name; }
const std::string& Relation::Table() const { return d_->table; }
void Relation::SetTable(const std::string& v) { d_->table = v; }
const std::string& Relation::ForeignTable() const { return d_->foreign_table; }
void Relation::SetForeignTable(const std::string& v) { d_->foreign_table = v; }
int Relation::Attributes() const { return d_->attributes; }
void Relation::SetAttributes(int v) { d_->attributes = v; }
Field Relation::CreateField(const std::string& name) {
  Field f;
  f.data()->name = name;
  return f;
}
std::vector<Field> Relation::Fields() const { return d_->fields; }
void Relation::AppendField(const Field& f) { d_->fields.push_back(f); }

// ---- TableDef ----

TableDef::TableDef() : d_(std::make_shared<Data>()) {}
const std::string& TableDef::Name() const { return d_->name; }

Field TableDef::CreateField(const std::string& name, int type, int size) {
  TypeFromDao(type);  // validates the code
  Field f;
  f.data()->name = name;
  f.data()->type = type;
  if (type == dbText) {
    f.data()->size = size < 0 ? kDefaultTextSize : size;
  } else if (type == dbBinary) {
    f.data()->size = size < 0 ? 255 : size;
  } else {
    f.data()->size = static_cast<int>(FixedSize(TypeFromDao(type)));
  }
  return f;
}

Index TableDef::CreateIndex(const std::string& name) {
  Index i;
  i.data()->name = name;
  return i;
}

std::vector<Field> TableDef::Fields() const { return d_->fields; }

void TableDef::AppendField(const Field& f) {
  if (d_->file) throw JetError(kErrInvalidOperation);
  for (const auto& x : d_->fields) {
    if (NamesEqual(x.Name(), f.Name())) throw JetError(kErrObjectExists, f.Name());
  }
  d_->fields.push_back(f);
}

std::vector<Index> TableDef::Indexes() const { return d_->indexes; }

namespace {
NewIndex ToNewIndex(const Index& i) {
  NewIndex n;
  n.name = i.Name();
  for (const auto& f : i.Fields()) n.columns.push_back(f.Name());
  n.primary = i.Primary();
  n.unique = i.Unique();
  n.required = i.Required();
  n.ignore_nulls = i.IgnoreNulls();
  return n;
}
}  // namespace

void TableDef::AppendIndex(const Index& i) {
  for (const auto& x : d_->indexes) {
    if (NamesEqual(x.Name(), i.Name())) throw JetError(kErrIndexExists, i.Name());
  }
  if (d_->file) {
    d_->file->CreateIndex(d_->name, ToNewIndex(i));
    d_->file->Flush();
  }
  i.data()->appended = true;
  d_->indexes.push_back(i);
}

Field TableDef::GetField(const std::string& name) const {
  for (const auto& f : d_->fields) {
    if (NamesEqual(f.Name(), name)) return f;
  }
  throw JetError(kErrItemNotFound);
}

int64_t TableDef::RecordCount() const {
  if (!d_->file) return 0;
  return d_->file->GetTable(d_->name).def().row_count;
}

bool TableDef::IsSystem() const {
  if (!d_->file) return false;
  auto e = d_->file->FindTable(d_->name);
  return e && e->is_system();
}

// ---- Database ----

const std::string& Database::Name() const { return s_->name; }
bool Database::IsOpen() const { return s_ && s_->open; }

bool Database::SharesFileWith(const Database& other) const {
  return s_ && other.s_ && s_->open && other.s_->open && s_->file == other.s_->file;
}

namespace {
TableDef LoadTableDef(const std::shared_ptr<FileState>& file, const CatalogEntry& e) {
  Table& t = file->TableAt(e.tdef_page(), e.name);
  auto props = file->ColumnProperties(e.name);
  auto d = std::make_shared<TableDef::Data>();
  d->name = e.name;
  d->file = file;
  std::vector<const ColumnDef*> cols;
  for (const auto& c : t.def().columns) cols.push_back(&c);
  std::sort(cols.begin(), cols.end(),
            [](const ColumnDef* a, const ColumnDef* b) { return a->number < b->number; });
  for (const ColumnDef* c : cols) {
    const FileState::ColumnProps* p = nullptr;
    for (const auto& [name, cp] : props) {
      if (NamesEqual(name, c->name)) p = &cp;
    }
    d->fields.push_back(FieldFromColumn(*c, p, file->pager().format().version));
  }
  for (const auto& li : t.def().indexes) {
    Index i;
    i.data()->name = li.name;
    i.data()->appended = true;
    if (li.real_index < t.def().real_indexes.size()) {
      const RealIndexDef& ri = t.def().real_indexes[li.real_index];
      i.data()->primary = li.type == kIdxPrimary;
      i.data()->foreign = li.type == kIdxForeign;
      i.data()->unique = ri.flags & kIdxUnique;
      i.data()->required = ri.flags & kIdxRequired;
      i.data()->ignore_nulls = ri.flags & kIdxIgnoreNulls;
      for (const auto& ic : ri.columns) {
        if (const ColumnDef* c = t.def().ColumnByNumber(ic.column_number)) {
          Field f;
          f.data()->name = c->name;
          i.data()->fields.push_back(f);
        }
      }
    }
    d->indexes.push_back(i);
  }
  return TableDef(d);
}
}  // namespace

std::vector<TableDef> Database::TableDefs() const {
  return NamingDamage(s_->name, [&] {
    auto& file = s_->Live();
    std::vector<TableDef> out;
    for (const auto& e : file.TableEntries()) out.push_back(LoadTableDef(s_->file, e));
    return out;
  });
}

TableDef Database::GetTableDef(const std::string& name) const {
  return NamingDamage(s_->name, [&] {
    auto e = s_->Live().FindTable(name);
    if (!e) throw JetError(kErrItemNotFound);
    return LoadTableDef(s_->file, *e);
  });
}

bool Database::HasTable(const std::string& name) const { return s_->Live().FindTable(name).has_value(); }

void Database::AppendTableDef(const TableDef& t) {
  FileState& file = s_->Live();
  auto& d = *t.data();
  if (d.file) throw JetError(kErrTableExists, d.name);
  std::vector<NewColumn> cols;
  for (const auto& f : d.fields) {
    const auto& fd = *f.data();
    NewColumn c;
    c.name = fd.name;
    c.type = TypeFromDao(fd.type);
    c.size = fd.size;
    c.auto_number = (fd.attributes & dbAutoIncrField) != 0;
    if (fd.required_set) c.required = fd.required;
    if (fd.allow_zero_length_set) {
      c.allow_zero_length = fd.allow_zero_length;
    } else if (c.type == ColumnType::kText || c.type == ColumnType::kMemo) {
      // DAO's text fields refuse zero-length strings unless told otherwise,
      // and say so in their properties (SQL-made ones carry none and take them).
      c.allow_zero_length = false;
    }
    if (fd.has_default) c.default_value = fd.default_value;
    cols.push_back(c);
  }
  std::vector<NewIndex> idx;
  for (const auto& i : d.indexes) idx.push_back(ToNewIndex(i));
  file.CreateTable(d.name, cols, idx);
  file.Flush();
  d.file = s_->file;
}

std::vector<Relation> Database::Relations() const {
  std::vector<Relation> out;
  for (const auto& info : s_->Live().Relations()) {
    Relation r;
    auto& d = *r.data();
    d.name = info.name;
    d.table = info.table;
    d.foreign_table = info.foreign_table;
    d.attributes = info.attributes;
    d.appended = true;
    for (const auto& [field, foreign] : info.fields) {
      auto fd = std::make_shared<Field::Data>();
      fd->name = field;
      fd->foreign_name = foreign;
      d.fields.emplace_back(fd);
    }
    out.push_back(r);
  }
  return out;
}

void Database::AppendRelation(const Relation& r) {
  FileState& file = s_->Live();
  auto& d = *r.data();
  if (d.appended) throw JetError(kErrObjectExists, d.name);
  FileState::NewRelation nr;
  nr.name = d.name;
  nr.table = d.table;
  nr.foreign_table = d.foreign_table;
  nr.attributes = d.attributes;
  for (const auto& f : d.fields) nr.fields.push_back({f.Name(), f.ForeignName()});
  file.CreateRelation(nr);
  d.appended = true;
}

TableDef Database::CreateTableDef(const std::string& name) {
  TableDef t;
  t.data()->name = name;
  return t;
}

Relation Database::CreateRelation(const std::string& name) {
  Relation r;
  r.data()->name = name;
  return r;
}

void Database::Execute(const std::string& statement, int options) {
  FileState& file = s_->Live();
  s_->records_affected = 0;
  NamingDamage(s_->name, [&] {
    s_->records_affected = sql::Execute(file, statement, options);
    file.Flush();
  });
}

int64_t Database::RecordsAffected() const { return s_->records_affected; }

void Database::Close() {
  if (!s_ || !s_->open) return;
  s_->open = false;
  std::shared_ptr<FileState> file = std::move(s_->file);
  file->CloseHandle();
}

void Database::Commit() { s_->Live().Commit(); }

void Database::Discard() {
  if (!s_ || !s_->open) return;
  s_->open = false;
  std::shared_ptr<FileState> file = std::move(s_->file);
  file->Discard();
  file->DropHandle();
}

int Database::JetVersion() const { return s_->Live().pager().format().version; }
bool Database::Encrypted() const { return s_->Live().pager().header().db_key != 0; }
bool Database::HasPassword() const { return !s_->Live().pager().header().password.empty(); }

// ---- Recordset ----

class RecordsetState {
 public:
  std::shared_ptr<DatabaseState> db;
  Table* table = nullptr;
  // A RowMaker's own copy of the table (definition and format), which
  // `table` then points to; the file's own otherwise.
  std::shared_ptr<Table> own_table;
  // Rows are read as the cursor reaches them, so a recordset holds one row
  // in memory whatever the table's size.
  std::optional<Table::Scan> scan;
  bool at_row = false;
  bool bof = true;
  RowId current;
  bool cached = false;
  Bytes raw;
  std::vector<ColumnSlice> slices;
  std::vector<uint8_t> decoded;
  std::vector<Value> row;
  enum class Mode { kNone, kAdd, kEdit } mode = Mode::kNone;
  std::vector<Value> buffer;
  // What AddNew starts a row from (defaults evaluated), made on first use.
  std::vector<Value> fresh;
  // During AddNew: fields given their stored bytes by CopyField, which the
  // buffer holds as values where an index or a relation reads them, else
  // only as null or not (and, for text, empty or not).
  std::vector<Table::StoredColumn> stored;
  // During AddPrepared: the row as RowMaker encoded it, when it did.
  Table::EncodedRow* encoded = nullptr;
  // By column index: whether a column that takes stored bytes may leave
  // its value undecoded (no index, no enforced relationship reads it);
  // empty until CopyField first asks.
  std::vector<uint8_t> plain;
  std::vector<Value> original;
  std::vector<size_t> order;  // field index -> column index, by column number
  std::map<std::string, FileState::ColumnProps> props;
  std::vector<const FileState::ColumnProps*> column_props;  // by column index
  // The columns a stored row is checked on (required, or text that may not
  // be empty) and the auto-numbers, in column order: worked out for a
  // definition of `listed_for` columns.
  std::vector<size_t> checked;
  std::vector<size_t> autos;
  size_t listed_for = SIZE_MAX;
  void ListChecked() {
    const jet::TableDef& def = table->def();
    if (listed_for == def.columns.size()) return;
    checked.clear();
    autos.clear();
    for (size_t i = 0; i < def.columns.size(); ++i) {
      const ColumnDef& c = def.columns[i];
      const auto* p = i < column_props.size() ? column_props[i] : nullptr;
      if ((p && p->required) ||
          ((c.type == ColumnType::kText || c.type == ColumnType::kMemo) && !(p && p->allow_zero_length)))
        checked.push_back(i);
      if (c.auto_number()) autos.push_back(i);
    }
    listed_for = def.columns.size();
  }
  bool open = true;
  // A SELECT's rows, read-only.
  std::optional<sql::ResultSet> result;
  size_t pos = 0;

  FileState& File() { return db->Live(); }
  void Check() const {
    if (!open) throw JetError(kErrObjectClosed);
  }
  size_t ColumnFor(const std::string& name) const {
    if (result) {
      for (size_t i = 0; i < result->columns.size(); ++i) {
        if (NamesEqual(result->columns[i], name)) return i;
      }
      throw JetError(kErrItemNotFound);
    }
    for (size_t i = 0; i < order.size(); ++i) {
      if (NamesEqual(table->def().columns[order[i]].name, name)) return order[i];
    }
    throw JetError(kErrItemNotFound);
  }
  size_t ColumnFor(int index) const {
    if (result) {
      if (index < 0 || static_cast<size_t>(index) >= result->columns.size()) throw JetError(kErrItemNotFound);
      return static_cast<size_t>(index);
    }
    if (index < 0 || static_cast<size_t>(index) >= order.size()) throw JetError(kErrItemNotFound);
    return order[static_cast<size_t>(index)];
  }
  void Restart() {
    if (result) {
      pos = 0;
      at_row = !result->rows.empty();
      bof = false;
      return;
    }
    scan.emplace(*table);
    Advance();
    bof = false;
  }
  void Advance() {
    if (result) {
      at_row = ++pos < result->rows.size();
      return;
    }
    at_row = scan->Next();
    if (at_row) current = scan->row_id();
    cached = false;
  }
  // The current row is cracked once and its columns decoded as they are
  // asked for.
  void Load() {
    if (!at_row) throw JetError(kErrNoCurrentRecord);
    if (cached) return;
    ByteView r = table->RowData(current);
    raw.assign(r.begin(), r.end());
    CrackRow(table->format(), table->def(), raw, slices);
    row.resize(slices.size());
    decoded.assign(slices.size(), 0);
    cached = true;
  }
  const Value& Column(size_t c) {
    Load();
    if (!decoded[c]) {
      table->DecodeColumnInto(table->def().columns[c], slices[c], row[c]);
      decoded[c] = 1;
    }
    return row[c];
  }
  const std::vector<Value>& Current() {
    if (result) {
      if (!at_row) throw JetError(kErrNoCurrentRecord);
      return result->rows[pos];
    }
    Load();
    for (size_t c = 0; c < row.size(); ++c) Column(c);
    return row;
  }
  const Value& Get(size_t column) {
    if (mode == Mode::kAdd && column < stored.size() && stored[column].set) Unstore(column);
    if (mode != Mode::kNone) return buffer[column];
    if (result) return Current()[column];
    return Column(column);
  }
  void Set(size_t c, Value v) {
    if (result) throw JetError(kErrReadOnly);
    if (mode == Mode::kNone) throw JetError(kErrUpdateWithoutEdit);
    // A field that took stored bytes holds its value again, should this
    // assignment fail.
    if (mode == Mode::kAdd && c < stored.size() && stored[c].set) Unstore(c);
    const ColumnDef& col = table->def().columns[c];
    if (col.auto_number() && mode == Mode::kEdit) throw JetError(kErrInvalidOperation);
    // A value already of the column's kind is taken as it is, reusing the
    // buffer's storage; others are converted as the engine converts them.
    bool exact = v.is_null() || (col.type == ColumnType::kLong && v.is<int32_t>()) ||
                 ((col.type == ColumnType::kText || col.type == ColumnType::kMemo) &&
                  v.is<std::string>()) ||
                 (col.type == ColumnType::kDouble && v.is<double>()) ||
                 (col.type == ColumnType::kDate && v.is<Date>()) ||
                 (col.type == ColumnType::kCurrency && v.is<Currency>()) ||
                 (col.type == ColumnType::kBoolean && v.is<bool>());
    if (exact) {
      if (col.type == ColumnType::kText && v.is<std::string>() && TooLong(v.as<std::string>(), col)) {
        throw JetError(kErrFieldTooSmall);
      }
      buffer[c] = std::move(v);
      return;
    }
    Value coerced = Coerce(v, col.type);
    if (col.type == ColumnType::kText && coerced.is<std::string>() &&
        TooLong(coerced.as<std::string>(), col)) {
      throw JetError(kErrFieldTooSmall);
    }
    if (col.type == ColumnType::kBinary && coerced.is<Binary>() &&
        coerced.as<Binary>().size() > col.length) {
      throw JetError(kErrFieldTooSmall);
    }
    buffer[c] = std::move(coerced);
  }

  // The row AddNew starts from: defaults evaluated once.
  void EnsureFresh() {
    const jet::TableDef& def = table->def();
    if (fresh.size() == def.columns.size()) return;
    std::vector<Value> f(def.columns.size());
    for (size_t i = 0; i < def.columns.size(); ++i) {
      const ColumnDef& c = def.columns[i];
      if (c.type == ColumnType::kBoolean) f[i] = Value(false);
      if (const auto* p = column_props[i]; p && p->default_value) {
        f[i] = EvaluateDefault(*p->default_value, c.type);
      }
    }
    fresh = std::move(f);
  }

  // Whether text overflows a Text column. No UTF-8 byte makes more than
  // one UTF-16 unit, so text with no more bytes than the column has
  // characters fits without counting.
  static bool TooLong(const std::string& text, const ColumnDef& col) {
    return text.size() * 2 > col.length && Utf16Length(text) * 2 > col.length;
  }

  void FindPlain() {
    const jet::TableDef& def = table->def();
    // A RowMaker's copy, with no file to ask, decodes every value.
    plain.assign(def.columns.size(), db ? 1 : 0);
    if (!db) return;
    auto mark = [&](uint16_t number) {
      for (size_t i = 0; i < def.columns.size(); ++i) {
        if (def.columns[i].number == number) plain[i] = 0;
      }
    };
    for (const auto& ri : def.real_indexes) {
      for (const auto& ic : ri.columns) mark(ic.column_number);
    }
    for (const auto& link : File().RelationLinks()) {
      if (link.child_page == def.page) {
        for (uint16_t n : link.child_columns) mark(n);
      }
      if (link.parent_page == def.page) {
        for (uint16_t n : link.parent_columns) mark(n);
      }
    }
  }
  // Whether column `c` may take the stored bytes of column `fc` of `from`'s
  // current row.
  bool TakesStored(size_t c, const RecordsetState& from, size_t fc) {
    if (!stored_copies) return false;
    if (mode != Mode::kAdd || from.result || from.mode != Mode::kNone || !from.at_row) return false;
    return StoredFits(c, from, fc);
  }
  // The part of TakesStored that reads only the two definitions.
  bool StoredFits(size_t c, const RecordsetState& from, size_t fc) {
    if (from.result) return false;
    if (table->format().version < 4 || from.table->format().version < 4) return false;
    const ColumnDef& to = table->def().columns[c];
    const ColumnDef& of = from.table->def().columns[fc];
    if (to.type != of.type || to.auto_number()) return false;
    switch (to.type) {
      case ColumnType::kText:
      case ColumnType::kMemo:
        if ((to.ext_flags & kColCompressedUnicode) != (of.ext_flags & kColCompressedUnicode)) {
          return false;
        }
        break;
      case ColumnType::kBinary:
      case ColumnType::kOle: break;
      case ColumnType::kByte:
      case ColumnType::kInteger:
      case ColumnType::kLong:
      case ColumnType::kCurrency:
      case ColumnType::kSingle:
      case ColumnType::kDouble:
      case ColumnType::kDate:
      case ColumnType::kGuid:
        if (to.length != of.length || !to.fixed() || !of.fixed()) return false;
        break;
      default: return false;
    }
    if (!IsLongValue(to.type) && to.length < of.length) return false;
    if (plain.empty()) FindPlain();
    return true;
  }
  void TakeStored(size_t c, RecordsetState& from, size_t fc) {
    from.Load();
    if (stored.size() != buffer.size()) stored.resize(buffer.size());
    TakeLoaded(c, from, fc);
  }
  // TakeStored once `from`'s row is loaded and `stored` sized.
  void TakeLoaded(size_t c, RecordsetState& from, size_t fc) {
    const ColumnSlice& slice = from.slices[fc];
    Table::StoredColumn& st = stored[c];
    st.set = false;
    if (!slice.present) {
      buffer[c] = Value::Null();
      return;
    }
    st.bytes.clear();
    from.table->ReadStored(from.table->def().columns[fc], slice, st.bytes);
    st.set = true;
    // Index keys and relations read the value of a column they use.
    if (!plain[c]) return DecodeStored(c);
    const ColumnType type = table->def().columns[c].type;
    if (type != ColumnType::kText && type != ColumnType::kMemo) {
      // Present: what the checks before the insert ask of these.
      buffer[c] = Value(Binary{});
      return;
    }
    // The checks before the insert ask of text only whether it is empty; a
    // value that may be, compressed or not, is decoded to know.
    const Bytes& b = st.bytes;
    const bool compressed = b.size() >= 2 && b[0] == 0xFF && b[1] == 0xFE;
    if (b.size() < 2 || (compressed && std::all_of(b.begin() + 2, b.end(), [](uint8_t x) {
                           return x == 0;
                         }))) {
      Unstore(c);
      return;
    }
    buffer[c].EmplaceString().assign(1, ' ');
  }
  // Column `c` of the row being added takes column `fc` of `from`'s
  // current row: its stored bytes where it may, its value otherwise.
  void CopyFrom(size_t c, RecordsetState& from, size_t fc) {
    if (TakesStored(c, from, fc)) return TakeStored(c, from, fc);
    Set(c, from.Get(fc));
  }
  // Turns stored bytes back into the value they hold.
  void Unstore(size_t c) {
    stored[c].set = false;
    DecodeStored(c);
  }
  // The value of the stored bytes into the buffer; the bytes stay.
  void DecodeStored(size_t c) {
    const Table::StoredColumn& st = stored[c];
    const ColumnDef& col = table->def().columns[c];
    if (col.type == ColumnType::kText || col.type == ColumnType::kMemo) {
      DecodeJet4TextInto(st.bytes, buffer[c].EmplaceString());
    } else if (col.fixed()) {
      buffer[c] = DecodeValue(col, st.bytes, 4);
    } else {
      buffer[c] = Value(Binary(st.bytes.begin(), st.bytes.end()));
    }
  }
};

void UseStoredCopies(bool on) { stored_copies = on; }

bool Recordset::IsEOF() const {
  s_->Check();
  return !s_->at_row;
}
bool Recordset::IsBOF() const {
  s_->Check();
  if (s_->result) return s_->bof || s_->result->rows.empty();
  return s_->bof || (!s_->at_row && s_->table->def().row_count == 0);
}
int64_t Recordset::RecordCount() const {
  s_->Check();
  if (s_->result) return static_cast<int64_t>(s_->result->rows.size());
  return static_cast<int64_t>(s_->table->def().row_count);
}
void Recordset::MoveFirst() {
  s_->Check();
  s_->mode = RecordsetState::Mode::kNone;
  NamingDamage(s_->db->name, [&] { s_->Restart(); });
  if (!s_->at_row) throw JetError(kErrNoCurrentRecord);
}
void Recordset::MoveNext() {
  s_->Check();
  if (!s_->at_row) throw JetError(kErrNoCurrentRecord);
  s_->mode = RecordsetState::Mode::kNone;
  NamingDamage(s_->db->name, [&] { s_->Advance(); });
  s_->bof = false;
}
Value Recordset::GetValue(const std::string& field) const {
  s_->Check();
  return NamingDamage(s_->db->name, [&] { return s_->Get(s_->ColumnFor(field)); });
}
Value Recordset::GetValue(int index) const {
  s_->Check();
  return NamingDamage(s_->db->name, [&] { return s_->Get(s_->ColumnFor(index)); });
}
void Recordset::SetValue(const std::string& field, const Value& v) {
  s_->Check();
  s_->Set(s_->ColumnFor(field), v);
}
void Recordset::SetValue(int index, const Value& v) {
  s_->Check();
  s_->Set(s_->ColumnFor(index), v);
}
void Recordset::SetValue(const std::string& field, Value&& v) {
  s_->Check();
  s_->Set(s_->ColumnFor(field), std::move(v));
}
void Recordset::SetValue(int index, Value&& v) {
  s_->Check();
  s_->Set(s_->ColumnFor(index), std::move(v));
}
void Recordset::CopyField(int index, const Recordset& from, int from_index) {
  s_->Check();
  from.s_->Check();
  s_->CopyFrom(s_->ColumnFor(index), *from.s_, from.s_->ColumnFor(from_index));
}

int Recordset::FieldCount() const {
  if (s_->result) return static_cast<int>(s_->result->columns.size());
  return static_cast<int>(s_->order.size());
}
std::string Recordset::FieldName(int index) const {
  if (s_->result) {
    if (index < 0 || static_cast<size_t>(index) >= s_->result->columns.size()) {
      throw JetError(kErrItemNotFound);
    }
    return s_->result->columns[static_cast<size_t>(index)];
  }
  return s_->table->def().columns[s_->ColumnFor(index)].name;
}

void Recordset::AddNew() {
  s_->Check();
  if (s_->result) throw JetError(kErrReadOnly);
  const jet::TableDef& def = s_->table->def();
  s_->EnsureFresh();
  s_->buffer = s_->fresh;
  for (auto& st : s_->stored) st.set = false;
  for (size_t i = 0; i < def.columns.size(); ++i) {
    // The counter's next value is visible before Update, as the engine shows it.
    if (def.columns[i].auto_number()) {
      s_->buffer[i] = Value(static_cast<int32_t>(def.next_auto_number + 1));
    }
  }
  s_->mode = RecordsetState::Mode::kAdd;
}

void Recordset::Edit() {
  s_->Check();
  if (s_->result) throw JetError(kErrReadOnly);
  s_->original = s_->Current();
  s_->buffer = s_->original;
  s_->mode = RecordsetState::Mode::kEdit;
}

void Recordset::CancelUpdate() {
  s_->Check();
  for (auto& st : s_->stored) st.set = false;
  s_->mode = RecordsetState::Mode::kNone;
}

void Recordset::Update() {
  s_->Check();
  if (s_->mode == RecordsetState::Mode::kNone) throw JetError(kErrUpdateWithoutEdit);
  NamingDamage(s_->db->name, [&] { Store(nullptr); });
}

void Recordset::Store(RowKeys* keys) {
  const jet::TableDef& def = s_->table->def();
  s_->ListChecked();
  for (size_t i : s_->checked) {
    const ColumnDef& c = def.columns[i];
    const auto* p = s_->column_props[i];
    const Value& v = s_->buffer[i];
    if (p && p->required && v.is_null()) throw JetError(kErrRequired, c.name);
    if ((c.type == ColumnType::kText || c.type == ColumnType::kMemo) && v.is<std::string>() &&
        v.as<std::string>().empty() && !(p && p->allow_zero_length)) {
      throw JetError(kErrZeroLength, c.name);
    }
  }
  FileState& file = s_->File();
  if (s_->mode == RecordsetState::Mode::kAdd) {
    for (size_t i : s_->autos) {
      if (s_->buffer[i].is_null()) {
        s_->buffer[i] = Value(s_->table->NextAutoNumber());
      } else {
        int32_t given = s_->buffer[i].as<int32_t>();
        if (static_cast<uint32_t>(given) == def.next_auto_number + 1) {
          s_->table->NextAutoNumber();
        } else {
          s_->table->SeeAutoNumber(given);
        }
      }
    }
    struct Unstage {
      Table& t;
      ~Unstage() {
        t.StageStored(nullptr);
        t.StageEncoded(nullptr);
      }
    } unstage{*s_->table};
    if (s_->encoded) s_->table->StageEncoded(s_->encoded);
    if (s_->stored.size() == def.columns.size()) s_->table->StageStored(&s_->stored);
    file.InsertRow(*s_->table, s_->buffer, keys);
    for (auto& st : s_->stored) st.set = false;
  } else {
    file.UpdateRow(*s_->table, s_->current, s_->original, s_->buffer);
    s_->cached = false;
  }
  s_->mode = RecordsetState::Mode::kNone;
}

class PreparedRowState {
 public:
  std::vector<Value> buffer;
  std::vector<Table::StoredColumn> stored;
  RowKeys keys;
  bool keys_built = false;
  Table::EncodedRow encoded;
  bool encoded_ready = false;
};

namespace {
// Lends a prepared row's vectors to an edit state as its buffer, for as
// long as it lives.
struct Borrow {
  RecordsetState& st;
  PreparedRowState& pr;
  Borrow(RecordsetState& s, PreparedRowState& p) : st(s), pr(p) { Swap(); }
  ~Borrow() { Swap(); }
  void Swap() {
    std::swap(st.buffer, pr.buffer);
    std::swap(st.stored, pr.stored);
  }
};
}  // namespace

PreparedRow::PreparedRow() : s_(std::make_unique<PreparedRowState>()) {}
PreparedRow::~PreparedRow() = default;
PreparedRow::PreparedRow(PreparedRow&&) noexcept = default;
PreparedRow& PreparedRow::operator=(PreparedRow&&) noexcept = default;

void Recordset::AddPrepared(PreparedRow& row) {
  s_->Check();
  if (s_->result) throw JetError(kErrReadOnly);
  RecordsetState& st = *s_;
  PreparedRowState& pr = *row.s_;
  if (pr.buffer.size() != st.table->def().columns.size()) throw JetError(kErrInvalidArgument);
  // Whatever happens, nothing stays pending; the row gets its vectors back
  // (the borrow ends first).
  struct Settle {
    RecordsetState& st;
    PreparedRowState& pr;
    ~Settle() {
      for (auto& c : pr.stored) c.set = false;
      pr.encoded_ready = false;
      st.encoded = nullptr;
      st.mode = RecordsetState::Mode::kNone;
    }
  } settle{st, pr};
  Borrow lend(st, pr);
  st.mode = RecordsetState::Mode::kAdd;
  // As after AddNew, an auto-number left unassigned shows its number.
  const jet::TableDef& def = st.table->def();
  st.ListChecked();
  for (size_t i : st.autos) {
    if (st.buffer[i].is_null()) st.buffer[i] = Value(static_cast<int32_t>(def.next_auto_number + 1));
  }
  const bool built = pr.keys_built;
  pr.keys_built = false;
  if (pr.encoded_ready) st.encoded = &pr.encoded;
  Store(built ? &pr.keys : nullptr);
}

RowMaker::RowMaker(Recordset& into) {
  RecordsetState& s = *into.s_;
  s.Check();
  if (s.result) throw JetError(kErrReadOnly);
  s.EnsureFresh();
  if (s.plain.empty()) s.FindPlain();
  auto sh = std::make_shared<RecordsetState>();
  sh->own_table = std::make_shared<Table>(*s.table);
  sh->table = sh->own_table.get();
  sh->order = s.order;
  sh->fresh = s.fresh;
  sh->plain = s.plain;
  sh->at_row = false;
  sh->mode = RecordsetState::Mode::kAdd;
  shadow_ = std::move(sh);
}

RowMaker::~RowMaker() = default;

void RowMaker::Begin(PreparedRow& row) {
  RecordsetState& sh = *shadow_;
  PreparedRowState& pr = *row.s_;
  const jet::TableDef& def = sh.table->def();
  pr.buffer.resize(sh.fresh.size());
  for (size_t i = 0; i < sh.fresh.size(); ++i) {
    // CopyStored gives these their values, or their defaults should it fail.
    if (i < planned_columns_.size() && planned_columns_[i]) continue;
    if (def.columns[i].auto_number()) {
      pr.buffer[i] = Value::Null();
    } else {
      pr.buffer[i] = sh.fresh[i];
    }
  }
  pr.stored.resize(def.columns.size());
  for (auto& c : pr.stored) c.set = false;
  pr.keys_built = false;
  pr.encoded_ready = false;
}

void RowMaker::CopyField(PreparedRow& row, int index, const Recordset& from, int from_index) {
  RecordsetState& sh = *shadow_;
  from.s_->Check();
  const size_t c = sh.ColumnFor(index);
  const size_t fc = from.s_->ColumnFor(from_index);
  Borrow b(sh, *row.s_);
  sh.CopyFrom(c, *from.s_, fc);
}

std::vector<bool> RowMaker::PlanStored(const Recordset& from,
                                       const std::vector<std::pair<int, int>>& fields) {
  RecordsetState& sh = *shadow_;
  from.s_->Check();
  planned_.clear();
  planned_columns_.assign(sh.table->def().columns.size(), 0);
  std::vector<bool> taken(fields.size(), false);
  if (!stored_copies) return taken;
  std::vector<size_t> columns;
  for (const auto& f : fields) columns.push_back(sh.ColumnFor(f.first));
  for (size_t i = 0; i < fields.size(); ++i) {
    const size_t c = columns[i];
    const size_t fc = from.s_->ColumnFor(fields[i].second);
    // A column assigned more than once is left to CopyField, in order.
    if (std::count(columns.begin(), columns.end(), c) > 1) continue;
    if (!sh.StoredFits(c, *from.s_, fc)) continue;
    planned_.emplace_back(c, fc);
    planned_columns_[c] = 1;
    taken[i] = true;
  }
  return taken;
}

void RowMaker::CopyStored(PreparedRow& row, const Recordset& from) {
  if (planned_.empty()) return;
  RecordsetState& sh = *shadow_;
  RecordsetState& of = *from.s_;
  of.Check();
  if (of.mode != RecordsetState::Mode::kNone) throw JetError(kErrInvalidOperation);
  Borrow b(sh, *row.s_);
  try {
    of.Load();
    for (const auto& [c, fc] : planned_) sh.TakeLoaded(c, of, fc);
  } catch (...) {
    for (const auto& p : planned_) {
      sh.buffer[p.first] = sh.fresh[p.first];
      sh.stored[p.first].set = false;
    }
    throw;
  }
}

void RowMaker::SetValue(PreparedRow& row, int index, Value&& v) {
  RecordsetState& sh = *shadow_;
  const size_t c = sh.ColumnFor(index);
  Borrow b(sh, *row.s_);
  sh.Set(c, std::move(v));
}

void RowMaker::Finish(PreparedRow& row, bool keys) {
  RecordsetState& sh = *shadow_;
  PreparedRowState& pr = *row.s_;
  const jet::TableDef& def = sh.table->def();
  pr.encoded_ready = false;
  if (stored_copies) {
    if (!encode_) encode_ = std::make_unique<EncodeScratch>();
    Table::EncodeAhead(sh.table->format(), def, pr.buffer, &pr.stored, pr.encoded, *encode_);
    pr.encoded_ready = true;
  }
  if (!keys) return;
  for (size_t i = 0; i < def.columns.size(); ++i) {
    if (def.columns[i].auto_number() && pr.buffer[i].is_null()) return;
  }
  pr.keys.Build(def, pr.buffer);
  pr.keys_built = true;
}

void Recordset::Delete() {
  s_->Check();
  if (s_->result) throw JetError(kErrReadOnly);
  NamingDamage(s_->db->name, [&] {
    std::vector<Value> old = s_->Current();
    s_->File().DeleteRow(*s_->table, s_->current, old);
  });
  s_->cached = false;
}

void Recordset::Close() {
  if (!s_ || !s_->open) return;
  s_->open = false;
}

Recordset Database::OpenRecordset(const std::string& name, int type) {
  return NamingDamage(s_->name, [&]() -> Recordset {
    FileState& file = s_->Live();
    auto rs = std::make_shared<RecordsetState>();
    rs->db = s_;
    if (sql::IsSelect(name)) {
      rs->result = sql::Query(file, name);
      rs->Restart();
      rs->bof = !rs->at_row;
      return Recordset(rs);
    }
    if (type != dbOpenTable && type != 0) throw JetError(kErrInvalidArgument);
    rs->table = &file.GetTable(name);
    rs->props = file.ColumnProperties(name);
    const jet::TableDef& def = rs->table->def();
    for (size_t i = 0; i < def.columns.size(); ++i) {
      rs->order.push_back(i);
      const FileState::ColumnProps* p = nullptr;
      for (const auto& [col, cp] : rs->props) {
        if (NamesEqual(col, def.columns[i].name)) p = &cp;
      }
      rs->column_props.push_back(p);
    }
    std::sort(rs->order.begin(), rs->order.end(), [&](size_t a, size_t b) {
      return def.columns[a].number < def.columns[b].number;
    });
    rs->Restart();
    rs->bof = !rs->at_row;
    return Recordset(rs);
  });
}

// ---- Workspace and engine ----

std::string PasswordFromConnect(const std::string& connect) {
  // Keys are separated by ';' and compared without regard to case.
  size_t pos = 0;
  while (pos <= connect.size()) {
    size_t end = connect.find(';', pos);
    if (end == std::string::npos) end = connect.size();
    std::string part = connect.substr(pos, end - pos);
    size_t eq = part.find('=');
    if (eq != std::string::npos) {
      std::string key = part.substr(0, eq);
      for (auto& ch : key) ch = static_cast<char>(std::tolower(static_cast<unsigned char>(ch)));
      if (key == "pwd") return part.substr(eq + 1);
    }
    pos = end + 1;
  }
  return "";
}

Database Workspace::OpenDatabase(const std::string& path, bool exclusive, bool read_only,
                                 const std::string& connect) {
  std::shared_ptr<FileState> file;
  try {
    file = FileState::Open(path, exclusive, read_only, PasswordFromConnect(connect));
  } catch (const JetError& e) {
    // These messages name the file; the layers below do not know it.
    switch (e.number()) {
      case kErrFileNotFound:
      case kErrNotADatabase:
      case kErrCorrupt:
      case kErrPathNotFound:
      case kErrFileInUse:
        throw JetError(e.number(), path);
      default:
        throw;
    }
  }
  auto s = std::make_shared<DatabaseState>(std::move(file));
  s->name = path;
  return Database(s);
}

Database Workspace::CreateDatabase(const std::string& path, const std::string& locale_and_connect,
                                   int options) {
  auto s = std::make_shared<DatabaseState>(FileState::Create(
      path, PasswordFromConnect(locale_and_connect), (options & dbEncrypt) != 0));
  s->name = path;
  return Database(s);
}

DBEngine& DBEngine::Instance() {
  static DBEngine engine;
  return engine;
}

Workspace& DBEngine::Workspaces(int index) {
  if (index != 0) throw JetError(kErrItemNotFound);
  return workspace_;
}

Database DBEngine::OpenDatabase(const std::string& path, bool exclusive, bool read_only,
                                const std::string& connect) {
  return workspace_.OpenDatabase(path, exclusive, read_only, connect);
}

}  // namespace jet::dao
