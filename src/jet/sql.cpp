#include "jet/sql.h"

#include <algorithm>
#include <cctype>
#include <optional>

#include "jet/column_writer.h"
#include "jet/database.h"
#include "jet/error.h"
#include "jet/row.h"
#include "jet/sql_expr.h"
#include "jet/sql_parser.h"
#include "jet/sql_query.h"
#include "jet/text.h"
#include "jet/value_codec.h"

namespace jet::sql {
namespace {

void RequireNoParameters(const std::vector<std::string>& parameters) {
  if (!parameters.empty()) throw JetError(kErrTooFewParameters, std::to_string(parameters.size()));
}

int Slot(const jet::TableDef& def, const std::string& name) {
  for (size_t i = 0; i < def.columns.size(); ++i) {
    if (NamesEqual(def.columns[i].name, name)) return static_cast<int>(i);
  }
  return -1;
}

// Column slots in the order the table shows its fields.
std::vector<int> SlotsByNumber(const jet::TableDef& def) {
  std::vector<int> slots(def.columns.size());
  for (size_t i = 0; i < slots.size(); ++i) slots[i] = static_cast<int>(i);
  std::stable_sort(slots.begin(), slots.end(), [&](int a, int b) {
    return def.columns[static_cast<size_t>(a)].number < def.columns[static_cast<size_t>(b)].number;
  });
  return slots;
}

// The value a statement stores: coerced to the column type, and text cut to
// the field size (SQL cuts where a recordset refuses with 3163). A Yes/No
// field cannot hold Null and stores No.
Value ForColumn(const ColumnDef& col, const Value& v, int version) {
  if (v.is_null()) return col.type == ColumnType::kBoolean ? Value(false) : v;
  Value out = Coerce(v, col.type);
  if (col.type == ColumnType::kText && out.is<std::string>()) {
    const size_t chars = version >= 4 ? col.length / 2u : col.length;
    std::u16string units = Utf8ToUtf16(out.as<std::string>());
    if (units.size() > chars) {
      units.resize(chars);
      out = Value(Utf16ToUtf8(units));
    }
  }
  return out;
}

// The row changes one statement made, so a failure under kFailOnError can
// put the tables back as they were. Rows an update wrote in place are kept
// by its ColumnWriter; the log remembers how many there were before each of
// its own changes, so that both are undone newest first.
class UndoLog {
 public:
  explicit UndoLog(FileState& db, ColumnWriter* in_place = nullptr)
      : db_(db), in_place_(in_place) {}

  void Inserted(Table& t, RowId id, std::vector<Value> values) {
    changes_.push_back({Kind::kInserted, &t, id, {}, std::move(values), InPlace()});
  }
  // The row's values now are read back when it is undone.
  void Updated(Table& t, RowId id, std::vector<Value> before) {
    changes_.push_back({Kind::kUpdated, &t, id, std::move(before), {}, InPlace()});
  }
  void Deleted(Table& t, std::vector<Value> before) {
    changes_.push_back({Kind::kDeleted, &t, RowId{}, std::move(before), {}, InPlace()});
  }

  void Undo() {
    while (!changes_.empty()) {
      Change c = std::move(changes_.back());
      changes_.pop_back();
      if (in_place_) in_place_->Undo(c.in_place_before);
      switch (c.kind) {
        case Kind::kInserted: db_.DeleteRow(*c.table, c.id, c.after); break;
        case Kind::kUpdated: db_.UpdateRow(*c.table, c.id, c.table->ReadRow(c.id), c.before); break;
        case Kind::kDeleted: db_.InsertRow(*c.table, c.before); break;
      }
    }
    if (in_place_) in_place_->Undo(0);
  }

 private:
  enum class Kind { kInserted, kUpdated, kDeleted };
  struct Change {
    Kind kind;
    Table* table;
    RowId id;
    std::vector<Value> before, after;
    size_t in_place_before;  // rows written in place before this change
  };
  size_t InPlace() const { return in_place_ ? in_place_->written() : 0; }

  FileState& db_;
  ColumnWriter* in_place_;
  std::vector<Change> changes_;
};

// Rows a delete of `values` from `t` takes with it through cascading
// relations, deepest first, so that putting them back after the parent in
// reverse order keeps every relation satisfied.
void CascadeVictims(FileState& db, Table& t, const std::vector<Value>& values,
                    std::vector<std::pair<Table*, std::vector<Value>>>& out, int depth = 0) {
  if (depth > 32) return;  // relations that cycle
  for (const auto& r : db.Relations()) {
    if (!(r.attributes & 4096) || !NamesEqual(r.table, t.name())) continue;
    Table& child = db.GetTable(r.foreign_table);
    std::vector<std::pair<int, int>> pairs;
    for (const auto& [field, foreign] : r.fields) {
      pairs.emplace_back(Slot(t.def(), field), Slot(child.def(), foreign));
    }
    Table::Scan scan(child);
    std::vector<RowId> ids;
    std::vector<Value> row;
    while (scan.Next()) {
      row = child.ReadRow(scan.row_id());
      const bool related = std::all_of(pairs.begin(), pairs.end(), [&](const auto& p) {
        if (p.first < 0 || p.second < 0) return false;
        const auto c = Compare(values[static_cast<size_t>(p.first)], row[static_cast<size_t>(p.second)]);
        return c && *c == 0;
      });
      if (related) ids.push_back(scan.row_id());
    }
    for (RowId id : ids) {
      row = child.ReadRow(id);
      CascadeVictims(db, child, row, out, depth + 1);
      out.emplace_back(&child, row);
    }
  }
}

// Runs one row's change. A failing row is skipped, or with kFailOnError
// undoes the statement and raises.
template <typename Change>
bool RunRow(int options, UndoLog& log, Change&& change) {
  try {
    change();
    return true;
  } catch (const JetError&) {
    if (!(options & kFailOnError)) return false;
    log.Undo();
    throw;
  } catch (...) {
    log.Undo();
    throw;
  }
}

// Marks the columns a bound expression reads.
void ColumnsRead(const Expr& e, std::vector<bool>& read) {
  if (e.kind == Expr::Kind::kColumn && e.column >= 0) read[static_cast<size_t>(e.column)] = true;
  for (const auto& a : e.args) ColumnsRead(*a, read);
}

// The same rows, only where they are: updates and deletes read each row
// again when they reach it. The WHERE gets the columns it reads, decoded
// from the scanned bytes unless one of them is a long value.
std::vector<RowId> MatchingRows(Table& t, const Expr* where) {
  const jet::TableDef& def = t.def();
  std::vector<bool> read(def.columns.size(), false);
  if (where) ColumnsRead(*where, read);
  std::vector<size_t> columns;
  bool whole = false;
  for (size_t i = 0; i < read.size(); ++i) {
    if (!read[i]) continue;
    columns.push_back(i);
    whole = whole || IsLongValue(def.columns[i].type);
  }
  std::vector<RowId> out;
  Table::Scan scan(t);
  std::vector<Value> values(def.columns.size());
  std::vector<ColumnSlice> slices;
  while (scan.Next()) {
    if (where) {
      if (whole) {
        values = t.ReadRow(scan.row_id());
      } else {
        CrackRow(t.format(), def, scan.bytes(), slices);
        for (size_t i : columns) t.DecodeColumnInto(def.columns[i], slices[i], values[i]);
      }
      if (!IsTrue(Evaluate(*where, values))) continue;
    }
    out.push_back(scan.row_id());
  }
  return out;
}

int64_t RunInsert(FileState& db, Insert& ins, int options, std::string_view sql) {
  Table& t = db.GetTable(ins.table);
  const jet::TableDef& def = t.def();
  std::vector<int> slots;
  if (ins.columns.empty()) {
    slots = SlotsByNumber(def);
  } else {
    for (const auto& name : ins.columns) {
      const int slot = Slot(def, name);
      if (slot < 0) throw JetError(kErrInsertUnknownField, name);
      slots.push_back(slot);
    }
  }

  std::vector<std::vector<Value>> sources;
  if (ins.select) {
    ResultSet rs = RunQuery(db, *ins.select, sql);
    if (rs.columns.size() != slots.size()) throw JetError(kErrValueCountMismatch);
    sources = std::move(rs.rows);
  } else {
    if (ins.values.size() != slots.size()) throw JetError(kErrValueCountMismatch);
    jet::TableDef none;
    std::vector<std::string> parameters;
    for (auto& v : ins.values) Bind(*v, none, "", "", parameters);
    RequireNoParameters(parameters);
    std::vector<Value> row;
    for (const auto& v : ins.values) row.push_back(Evaluate(*v, {}));
    sources.push_back(std::move(row));
  }

  const int version = t.format().version;
  const auto props = db.ColumnProperties(t.name());
  auto default_of = [&](const ColumnDef& c) -> Value {
    for (const auto& [name, p] : props) {
      if (NamesEqual(name, c.name) && p.default_value) return EvaluateDefault(*p.default_value, c.type);
    }
    return c.type == ColumnType::kBoolean ? Value(false) : Value::Null();
  };

  UndoLog log(db);
  int64_t affected = 0;
  for (const auto& source : sources) {
    const bool ok = RunRow(options, log, [&] {
      std::vector<Value> row(def.columns.size());
      std::vector<bool> given(def.columns.size(), false);
      for (size_t i = 0; i < slots.size(); ++i) {
        const auto slot = static_cast<size_t>(slots[i]);
        row[slot] = ForColumn(def.columns[slot], source[i], version);
        given[slot] = true;
      }
      for (size_t i = 0; i < def.columns.size(); ++i) {
        const ColumnDef& c = def.columns[i];
        if (c.auto_number()) {
          if (!given[i] || row[i].is_null()) {
            row[i] = Value(t.NextAutoNumber());
          } else if (static_cast<uint32_t>(row[i].as<int32_t>()) == t.def().next_auto_number + 1) {
            t.NextAutoNumber();
          } else {
            t.SeeAutoNumber(row[i].as<int32_t>());
          }
        } else if (!given[i]) {
          row[i] = ForColumn(c, default_of(c), version);
        }
      }
      RowId id = db.InsertRow(t, row);
      log.Inserted(t, id, std::move(row));
    });
    if (ok) ++affected;
  }
  return affected;
}

// An update whose SET columns a ColumnWriter may write in place: rows are
// read as the scan meets them, decoding only the columns the WHERE needs
// and, for rows that match, those the SET expressions and the value rules
// read. Nothing when the statement does not qualify.
std::optional<int64_t> RunUpdateInPlace(FileState& db, Table& t, Update& u,
                                        const std::vector<int>& slots, int options) {
  const jet::TableDef& def = t.def();
  std::vector<size_t> written;
  for (int slot : slots) {
    if (slot < 0) return std::nullopt;
    written.push_back(static_cast<size_t>(slot));
  }
  std::vector<bool> for_where(def.columns.size(), false);
  std::vector<bool> for_row(def.columns.size(), false);
  if (u.where) ColumnsRead(*u.where, for_where);
  for (const auto& a : u.sets) ColumnsRead(*a.value, for_row);
  for (size_t i = 0; i < def.columns.size(); ++i) {
    if ((for_where[i] || for_row[i]) && IsLongValue(def.columns[i].type)) return std::nullopt;
  }
  if (!ColumnWriter::Applies(db, t, written)) return std::nullopt;

  ColumnWriter writer(db, t, written);
  for (size_t slot : writer.rule_columns()) for_row[slot] = true;
  std::vector<size_t> where_columns, row_columns;
  for (size_t i = 0; i < def.columns.size(); ++i) {
    if (for_where[i]) {
      where_columns.push_back(i);
    } else if (for_row[i]) {
      row_columns.push_back(i);
    }
  }

  const int version = t.format().version;
  UndoLog log(db, &writer);
  std::vector<Value> row(def.columns.size());
  std::vector<Value> fresh(written.size());
  int64_t affected = 0;
  try {
    while (writer.Next()) {
      for (size_t slot : where_columns) writer.Decode(slot, row[slot]);
      if (u.where && !IsTrue(Evaluate(*u.where, row))) continue;
      for (size_t slot : row_columns) writer.Decode(slot, row[slot]);
      const RowId id = writer.row_id();
      const bool ok = RunRow(options, log, [&] {
        for (size_t i = 0; i < written.size(); ++i) {
          fresh[i] = ForColumn(def.columns[written[i]], Evaluate(*u.sets[i].value, row), version);
        }
        for (size_t i = 0; i < written.size(); ++i) row[written[i]] = std::move(fresh[i]);
        if (writer.Write(row)) return;
        // A row stored before a written column existed grows: the whole row.
        std::vector<Value> before = t.ReadRow(id);
        std::vector<Value> after = before;
        for (size_t slot : written) after[slot] = row[slot];
        db.UpdateRow(t, id, before, after);
        log.Updated(t, id, std::move(before));
      });
      if (ok) ++affected;
    }
  } catch (...) {
    // A WHERE that cannot be evaluated, or a damaged row, ends the statement
    // with no row changed (the log is empty when RunRow has undone it).
    log.Undo();
    throw;
  }
  return affected;
}

int64_t RunUpdate(FileState& db, Update& u, int options) {
  Table& t = db.GetTable(u.table);
  const jet::TableDef& def = t.def();
  std::vector<std::string> parameters;
  std::vector<int> slots;
  for (auto& a : u.sets) {
    const int slot = Slot(def, a.column);
    if (slot < 0) {
      Expr target;
      target.kind = Expr::Kind::kColumn;
      target.name = a.column;
      Bind(target, def, t.name(), "", parameters);
    } else if (def.columns[static_cast<size_t>(slot)].auto_number()) {
      throw JetError(kErrFieldNotUpdatable, def.columns[static_cast<size_t>(slot)].name);
    }
    slots.push_back(slot);
    Bind(*a.value, def, t.name(), "", parameters);
  }
  if (u.where) Bind(*u.where, def, t.name(), "", parameters);
  RequireNoParameters(parameters);

  if (auto affected = RunUpdateInPlace(db, t, u, slots, options)) return *affected;

  const int version = t.format().version;
  UndoLog log(db);
  int64_t affected = 0;
  for (RowId id : MatchingRows(t, u.where.get())) {
    const bool ok = RunRow(options, log, [&] {
      std::vector<Value> before = t.ReadRow(id);
      std::vector<Value> after = before;
      for (size_t i = 0; i < u.sets.size(); ++i) {
        const auto slot = static_cast<size_t>(slots[i]);
        after[slot] = ForColumn(def.columns[slot], Evaluate(*u.sets[i].value, before), version);
      }
      db.UpdateRow(t, id, before, after);
      log.Updated(t, id, std::move(before));
    });
    if (ok) ++affected;
  }
  return affected;
}

int64_t RunDelete(FileState& db, Delete& d, int options) {
  Table& t = db.GetTable(d.table);
  std::vector<std::string> parameters;
  if (d.where) Bind(*d.where, t.def(), t.name(), "", parameters);
  RequireNoParameters(parameters);
  UndoLog log(db);
  int64_t affected = 0;
  for (RowId id : MatchingRows(t, d.where.get())) {
    const bool ok = RunRow(options, log, [&] {
      std::vector<Value> before = t.ReadRow(id);
      std::vector<std::pair<Table*, std::vector<Value>>> victims;
      if (options & kFailOnError) CascadeVictims(db, t, before, victims);
      db.DeleteRow(t, id, before);
      for (auto& [table, values] : victims) log.Deleted(*table, std::move(values));
      log.Deleted(t, std::move(before));
    });
    if (ok) ++affected;
  }
  return affected;
}

// ---- definitions ----

Table& TableForDefinition(FileState& db, const std::string& name) {
  if (!db.FindTable(name)) throw JetError(kErrNoTableOrConstraint);
  return db.GetTable(name);
}

NewIndex IndexFor(const Constraint& k, const std::string& table) {
  NewIndex ix;
  ix.columns = k.columns;
  ix.primary = k.kind == Constraint::Kind::kPrimaryKey;
  ix.unique = true;
  ix.name = k.name;
  if (ix.name.empty()) ix.name = ix.primary ? "PrimaryKey" : table + "_" + k.columns.front();
  return ix;
}

FileState::NewRelation RelationFor(FileState& db, const Constraint& k, const std::string& table) {
  Table& mine = TableForDefinition(db, table);
  Table& referenced = TableForDefinition(db, k.ref_table);
  std::vector<std::string> ref_columns = k.ref_columns;
  if (ref_columns.empty()) {
    const jet::TableDef& rd = referenced.def();
    for (const auto& li : rd.indexes) {
      if (li.type != kIdxPrimary) continue;
      for (const auto& ic : rd.real_indexes.at(li.real_index).columns) {
        ref_columns.push_back(rd.ColumnByNumber(ic.column_number)->name);
      }
    }
    if (ref_columns.empty()) throw JetError(kErrNoTableOrConstraint);
  }
  if (ref_columns.size() != k.columns.size()) throw JetError(kErrSyntaxConstraint);
  FileState::NewRelation r;
  r.name = k.name.empty() ? referenced.name() + mine.name() : k.name;
  r.table = referenced.name();
  r.foreign_table = mine.name();
  for (size_t i = 0; i < k.columns.size(); ++i) {
    const ColumnDef* ref = referenced.def().FindColumn(ref_columns[i]);
    const ColumnDef* own = mine.def().FindColumn(k.columns[i]);
    if (!ref) throw JetError(kErrItemNotFound, ref_columns[i]);
    if (!own) throw JetError(kErrItemNotFound, k.columns[i]);
    r.fields.emplace_back(ref->name, own->name);
  }
  r.attributes = (k.cascade_update ? 256 : 0) | (k.cascade_delete ? 4096 : 0) | (k.enforced ? 0 : 2);
  return r;
}

void RunCreateTable(FileState& db, CreateTable& ct) {
  // No AllowZeroLength property: the engine writes none for DDL fields and
  // then accepts zero-length strings in them.
  const std::vector<NewColumn>& columns = ct.columns;
  std::vector<NewIndex> indexes;
  std::vector<const Constraint*> foreign;
  for (const auto& k : ct.constraints) {
    if (k.kind == Constraint::Kind::kForeignKey) {
      foreign.push_back(&k);
      continue;
    }
    for (const auto& name : k.columns) {
      const bool known = std::any_of(columns.begin(), columns.end(),
                                     [&](const NewColumn& c) { return NamesEqual(c.name, name); });
      if (!known) throw JetError(kErrItemNotFound, name);
    }
    indexes.push_back(IndexFor(k, ct.table));
  }
  db.CreateTable(ct.table, columns, indexes);
  try {
    for (const Constraint* k : foreign) db.CreateRelation(RelationFor(db, *k, ct.table));
  } catch (...) {
    try {
      db.DropTable(ct.table);
    } catch (const JetError&) {
      // The table stays; the relation's error is the one to report.
    }
    throw;
  }
}

void RunCreateIndex(FileState& db, CreateIndex& ci) {
  Table& t = TableForDefinition(db, ci.table);
  NewIndex ix;
  ix.name = ci.name;
  ix.columns = ci.columns;
  ix.primary = ci.primary;
  ix.unique = ci.unique || ci.primary;
  ix.required = ci.disallow_null;
  ix.ignore_nulls = ci.ignore_null;
  ix.descending = ci.descending;
  db.CreateIndex(t.name(), ix);
}

void RunAlterTable(FileState& db, AlterTable& at) {
  Table& t = TableForDefinition(db, at.table);
  const Constraint& k = at.constraint;
  if (k.kind == Constraint::Kind::kForeignKey) {
    db.CreateRelation(RelationFor(db, k, t.name()));
  } else {
    db.CreateIndex(t.name(), IndexFor(k, t.name()));
  }
}

void RunDropIndex(FileState& db, DropIndex& d) {
  Table& t = TableForDefinition(db, d.table);
  const auto& indexes = t.def().indexes;
  auto it = std::find_if(indexes.begin(), indexes.end(),
                         [&](const LogicalIndexDef& li) { return NamesEqual(li.name, d.name); });
  if (it == indexes.end()) throw JetError(kErrNoTableOrConstraint);
  db.DropIndex(t.name(), it->name);
}

}  // namespace

int64_t Execute(FileState& db, const std::string& statement, int options) {
  Statement st = Parse(statement);
  struct Runner {
    FileState& db;
    int options;
    std::string_view sql;
    int64_t operator()(Select&) { throw JetError(kErrCannotExecuteSelect); }
    int64_t operator()(Insert& s) { return RunInsert(db, s, options, sql); }
    int64_t operator()(Update& s) { return RunUpdate(db, s, options); }
    int64_t operator()(Delete& s) { return RunDelete(db, s, options); }
    int64_t operator()(CreateTable& s) { return RunCreateTable(db, s), 0; }
    int64_t operator()(CreateIndex& s) { return RunCreateIndex(db, s), 0; }
    int64_t operator()(AlterTable& s) { return RunAlterTable(db, s), 0; }
    int64_t operator()(DropTable& s) {
      if (!db.FindTable(s.table)) throw JetError(kErrTableNotFound, s.table);
      db.DropTable(s.table);
      return 0;
    }
    int64_t operator()(DropIndex& s) { return RunDropIndex(db, s), 0; }
  };
  return std::visit(Runner{db, options, statement}, st);
}

ResultSet Query(FileState& db, const std::string& statement) {
  Statement st = Parse(statement);
  auto* select = std::get_if<Select>(&st);
  if (!select) throw JetError(kErrInvalidOperation);
  return RunQuery(db, *select, statement);
}

bool IsSelect(const std::string& statement) {
  size_t i = 0;
  while (i < statement.size() && std::isspace(static_cast<unsigned char>(statement[i]))) ++i;
  std::string word;
  while (i < statement.size() && std::isalpha(static_cast<unsigned char>(statement[i]))) {
    word.push_back(static_cast<char>(std::toupper(static_cast<unsigned char>(statement[i++]))));
  }
  return word == "SELECT";
}

}  // namespace jet::sql
