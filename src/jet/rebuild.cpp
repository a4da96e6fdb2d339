#include "jet/rebuild.h"

#include <algorithm>
#include <memory>
#include <numeric>

#include "jet/catalog_layout.h"
#include "jet/header.h"
#include "jet/index_key.h"
#include "jet/table.h"
#include "jet/text.h"

namespace jet::rebuild {
namespace {

// A column without the rules that belong to its properties.
NewColumn Bare(const Column& c) {
  NewColumn n = c.column;
  n.required.reset();
  n.allow_zero_length.reset();
  n.default_value.reset();
  return n;
}

std::vector<NewColumn> BareColumns(const Table& t) {
  std::vector<NewColumn> out;
  out.reserve(t.columns.size());
  for (const auto& c : t.columns) out.push_back(Bare(c));
  return out;
}

// Where each described column sits in the new table's definition.
std::vector<size_t> Slots(const TableDef& def, const Table& t) {
  std::vector<size_t> slots;
  for (const auto& c : t.columns) {
    const ColumnDef* d = def.FindColumn(c.column.name);
    if (!d) throw JetError(kErrCorrupt);
    slots.push_back(static_cast<size_t>(d - def.columns.data()));
  }
  return slots;
}

// Column flags CreateTable has no words for.
void MarkColumns(jet::Table& t, const Table& described) {
  bool changed = false, relayout = false;
  TableDef& def = t.mutable_def();
  const std::vector<size_t> slots = Slots(def, described);
  for (size_t i = 0; i < described.columns.size(); ++i) {
    ColumnDef& c = def.columns[slots[i]];
    const ColumnType type = c.type;
    if (described.columns[i].compressed_unicode &&
        (type == ColumnType::kText || type == ColumnType::kMemo)) {
      c.ext_flags |= kColCompressedUnicode;
      changed = true;
    }
    if (described.columns[i].hyperlink && type == ColumnType::kMemo) {
      c.flags |= kColHyperlink;
      changed = true;
    }
    if (described.columns[i].auto_guid && type == ColumnType::kGuid) {
      c.flags |= kColAutoGuid;
      changed = true;
    }
    if (described.columns[i].fixed_length && type == ColumnType::kText) {
      c.flags |= kColFixed;
      relayout = true;
    }
  }
  if (relayout) {
    // Fixed columns take the fixed area in column order; the variable ones
    // number their slots after them. Yes/No lives in the null mask only.
    uint16_t offset = 0, var_count = 0;
    for (ColumnDef& c : def.columns) {
      c.var_index = var_count;
      if (c.type == ColumnType::kBoolean) continue;
      if (c.fixed()) {
        c.fixed_offset = offset;
        offset = static_cast<uint16_t>(offset + c.length);
      } else {
        c.fixed_offset = 0;
        ++var_count;
      }
    }
    def.var_column_count = var_count;
  }
  if (changed || relayout) t.RewriteDefinition();
}

// The id of the catalogue object `name` under `parent`, from MSysObjects.
int32_t FindObjectId(FileState& fs, int32_t parent, const std::string& name) {
  jet::Table& objects = fs.GetTable("MSysObjects");
  const TableDef& def = objects.def();
  const ColumnDef* id = def.FindColumn("Id");
  const ColumnDef* pid = def.FindColumn("ParentId");
  const ColumnDef* n = def.FindColumn("Name");
  if (!id || !pid || !n) throw JetError(kErrCorrupt);
  std::vector<Value> row;
  jet::Table::Scan scan(objects);
  while (scan.Next()) {
    objects.DecodeRow(scan.bytes(), row);
    const Value& p = row[static_cast<size_t>(pid - def.columns.data())];
    const Value& nm = row[static_cast<size_t>(n - def.columns.data())];
    if (p.is<int32_t>() && p.as<int32_t>() == parent && nm.is<std::string>() &&
        NamesEqual(nm.as<std::string>(), name)) {
      return row[static_cast<size_t>(id - def.columns.data())].as<int32_t>();
    }
  }
  throw JetError(kErrItemNotFound, name);
}

// A value that the new column takes as it is; others become null (a
// system column whose type differs between versions).
bool Fits(const Value& v, ColumnType type) {
  if (v.is_null()) return true;
  switch (type) {
    case ColumnType::kBoolean:
      return v.is<bool>();
    case ColumnType::kByte:
    case ColumnType::kInteger:
    case ColumnType::kLong:
      return v.is<int32_t>();
    case ColumnType::kText:
    case ColumnType::kMemo:
      return v.is<std::string>();
    case ColumnType::kBinary:
    case ColumnType::kOle:
      return v.is<Binary>();
    default:
      return true;
  }
}

void WriteQueries(FileState& fs, const Database& db) {
  if (db.queries.empty()) return;
  jet::Table& queries = fs.GetTable("MSysQueries");
  const TableDef& def = queries.def();
  const ColumnDef* object_id = def.FindColumn("ObjectId");
  if (!object_id) throw JetError(kErrCorrupt);
  for (const Query& q : db.queries) {
    const int32_t id = fs.AddObject(q.name, catalog::kTablesContainerId, catalog::kObjectQuery,
                                    q.flags, SerializeProperties(q.properties), q.lv_extra);
    for (const auto& cells : q.rows) {
      std::vector<Value> row(def.columns.size());
      row[static_cast<size_t>(object_id - def.columns.data())] = Value(id);
      for (const auto& [name, v] : cells) {
        const ColumnDef* c = def.FindColumn(name);
        if (!c || c == object_id || !Fits(v, c->type)) continue;
        row[static_cast<size_t>(c - def.columns.data())] = v;
      }
      fs.InsertRow(queries, row);
    }
  }
}

// When each relation is made and in which order the tables fill. A relation
// made while its tables are empty costs nothing: its index fills with the
// rows, and each referencing row is checked as it goes in, its referenced
// row already there. So the enforced relations come first where they can,
// and a referenced table fills before the tables that refer to it. A
// relation on one table, or one that would close a cycle, waits for the
// rows; so do all of them when the caller wants to hear of rows that break
// one (the relation is then made not enforced instead).
struct RelationPlan {
  std::vector<size_t> before, after;  // positions in Database::relations
  std::vector<size_t> fill_order;     // positions in Database::tables
};

size_t TableIndex(const Database& db, const std::string& name) {
  for (size_t i = 0; i < db.tables.size(); ++i) {
    if (NamesEqual(db.tables[i].name, name)) return i;
  }
  throw JetError(kErrObjectNotFound, name);
}

RelationPlan PlanRelations(const Database& db, bool rows_first) {
  RelationPlan plan;
  const size_t n = db.tables.size();
  std::vector<std::vector<size_t>> parents(n);  // tables each one waits for
  // Whether `from` reaches `to` through the parents already planned.
  auto reaches = [&](size_t from, size_t to) {
    std::vector<bool> seen(n, false);
    std::vector<size_t> stack = {from};
    while (!stack.empty()) {
      const size_t at = stack.back();
      stack.pop_back();
      if (at == to) return true;
      if (seen[at]) continue;
      seen[at] = true;
      for (size_t p : parents[at]) stack.push_back(p);
    }
    return false;
  };
  for (size_t r = 0; r < db.relations.size(); ++r) {
    const Relation& rel = db.relations[r];
    const bool enforced = !(rel.attributes & catalog::kRelDontEnforce);
    const size_t parent = TableIndex(db, rel.table), child = TableIndex(db, rel.foreign_table);
    if (!enforced) {
      plan.before.push_back(r);
    } else if (rows_first || parent == child || reaches(parent, child)) {
      plan.after.push_back(r);
    } else {
      parents[child].push_back(parent);
      plan.before.push_back(r);
    }
  }
  // Each table once its referenced tables are in, otherwise in table order.
  std::vector<bool> done(n, false);
  while (plan.fill_order.size() < n) {
    for (size_t t = 0; t < n; ++t) {
      if (done[t]) continue;
      if (std::all_of(parents[t].begin(), parents[t].end(), [&](size_t p) { return done[p]; })) {
        done[t] = true;
        plan.fill_order.push_back(t);
        break;
      }
    }
  }
  return plan;
}

// Stores the rows `rows` gives for table `ti`, made ready with `preparer`,
// and sets its counter.
void FillTable(FileState& fs, const Database& db, size_t ti, RowPreparer& preparer,
               const PreparedRowSource& rows, const Options& options, Report& report) {
  const Table& described = db.tables[ti];
  jet::Table& t = fs.GetTable(described.name);
  const std::vector<size_t>& slots = preparer.slots();
  int auto_slot = -1;
  for (size_t i = 0; i < described.columns.size(); ++i) {
    if (described.columns[i].column.auto_number) auto_slot = static_cast<int>(slots[i]);
  }
  int32_t highest = 0;
  rows(ti, preparer, [&](PreparedRow& row) {
    try {
      if (row.error) std::rethrow_exception(row.error);
      t.StageEncoded(&row.encoded);
      fs.InsertCopiedRow(t, row.values, row.keys_built ? &row.keys : nullptr);
      t.StageEncoded(nullptr);
    } catch (const JetError& e) {
      t.StageEncoded(nullptr);
      if (!options.on_refused_row || e.number() == kErrDiskFull || e.number() == kErrDiskIo) throw;
      std::vector<Value> given(slots.size());
      for (size_t i = 0; i < slots.size(); ++i) given[i] = row.values[slots[i]];
      options.on_refused_row(ti, given, e);
      ++report.rows_refused[ti];
      return;
    }
    if (auto_slot >= 0) {
      const Value& v = row.values[static_cast<size_t>(auto_slot)];
      if (v.is<int32_t>()) highest = std::max(highest, v.as<int32_t>());
    }
    ++report.rows_stored[ti];
  });
  // The counter hands out one more than the highest number kept.
  if (auto_slot >= 0) {
    const int32_t next = described.next_auto_number.value_or(highest + 1);
    t.mutable_def().next_auto_number = static_cast<uint32_t>(std::max(next, 1) - 1);
    t.RewriteDefinition();
  }
}

}  // namespace

Report WriteDatabase(const std::string& path, const Database& db, const RowSource& rows,
                     const Options& options) {
  const std::vector<jet::Table::StoredColumn> none;
  return WriteDatabase(path, db, StoredRowSource([&](size_t table, const StoredRowSink& sink) {
                         rows(table, [&](std::vector<Value>& row) { sink(row, none); });
                       }),
                       options);
}

Report WriteDatabase(const std::string& path, const Database& db, const StoredRowSource& rows,
                     const Options& options) {
  return WriteDatabase(
      path, db,
      PreparedRowSource([&](size_t table, RowPreparer& prepare, const PreparedRowSink& sink) {
        PreparedRow prepared;
        rows(table, [&](std::vector<Value>& row,
                        const std::vector<jet::Table::StoredColumn>& stored) {
          prepared.values.swap(row);
          prepared.stored.resize(stored.size());
          for (size_t i = 0; i < stored.size(); ++i) {
            prepared.stored[i].set = stored[i].set;
            if (stored[i].set) prepared.stored[i].bytes = stored[i].bytes;
          }
          prepare.Prepare(prepared);
          sink(prepared);
        });
      }),
      options);
}

Report WriteDatabase(const std::string& path, const Database& db, const PreparedRowSource& rows,
                     const Options& options) {
  Report report;
  report.rows_stored.assign(db.tables.size(), 0);
  report.rows_refused.assign(db.tables.size(), 0);
  std::shared_ptr<FileState> fs = FileState::Create(path, db.password, db.encrypt);
  try {
    // Every table empty first, in the given order (the catalogue's).
    for (const Table& described : db.tables) {
      fs->CreateTable(described.name, BareColumns(described), described.indexes,
                      SerializeProperties(described.properties));
      MarkColumns(fs->GetTable(described.name), described);
    }
    const RelationPlan plan = PlanRelations(db, options.on_unenforced_relation != nullptr);
    for (size_t r : plan.before) fs->CreateRelation(db.relations[r]);
    std::vector<std::shared_ptr<RowPreparer>> preparers;
    for (const Table& described : db.tables) {
      const jet::Table& t = fs->GetTable(described.name);
      preparers.push_back(
          std::make_shared<RowPreparer>(t.format(), t.def(), Slots(t.def(), described)));
    }
    if (options.before_filling) options.before_filling(plan.fill_order, preparers);
    for (size_t ti : plan.fill_order) FillTable(*fs, db, ti, *preparers[ti], rows, options, report);
    for (size_t r : plan.after) {
      const Relation& relation = db.relations[r];
      try {
        fs->CreateRelation(relation);
      } catch (const JetError& e) {
        if (e.number() != kErrRelationDataViolation || !options.on_unenforced_relation) throw;
        Relation loose = relation;
        loose.attributes |= catalog::kRelDontEnforce;
        fs->CreateRelation(loose);
        options.on_unenforced_relation(relation);
      }
    }
    if (Bytes blob = SerializeProperties(db.database_properties); !blob.empty()) {
      fs->SetObjectProperties(FindObjectId(*fs, catalog::kDatabasesContainerId, "MSysDb"), blob);
    }
    for (const Document& d : db.documents) {
      fs->AddObject(d.name, catalog::kDatabasesContainerId, d.type, d.flags,
                    SerializeProperties(d.properties), Bytes{});
    }
    WriteQueries(*fs, db);
    fs->Commit();
  } catch (...) {
    fs->Discard();
    throw;
  }
  return report;
}

RowPreparer::RowPreparer(const Format& format, const TableDef& def, std::vector<size_t> slots)
    : format_(format), def_(def), slots_(std::move(slots)), needs_value_(slots_.size(), false) {
  if (slots_.size() != def_.columns.size()) throw JetError(kErrCorrupt);
  for (size_t c = 0; c < def_.columns.size(); ++c) {
    if (def_.columns[c].auto_number()) auto_numbers_.push_back(c);
  }
  for (size_t i = 0; i < slots_.size(); ++i) {
    in_place_ = in_place_ && slots_[i] == i;
    const uint16_t number = def_.columns[slots_[i]].number;
    for (const RealIndexDef& ri : def_.real_indexes) {
      for (const auto& ic : ri.columns) needs_value_[i] = needs_value_[i] || ic.column_number == number;
    }
  }
}

void RowPreparer::Arrange(PreparedRow& row) {
  row.error = nullptr;
  row.keys_built = false;
  const size_t n = slots_.size();
  if (row.values.size() != n || (!row.stored.empty() && row.stored.size() != n)) {
    throw JetError(kErrInvalidArgument);
  }
  row.stored.resize(n);
  for (size_t i = 0; i < n; ++i) {
    // An index's key needs the column's value, not a stand-in.
    if (row.stored[i].set && needs_value_[i] &&
        !Fits(row.values[i], def_.columns[slots_[i]].type)) {
      throw JetError(kErrInvalidArgument);
    }
  }
  if (!in_place_) {
    values_.resize(n);
    stored_.resize(n);
    for (size_t i = 0; i < n; ++i) {
      std::swap(values_[slots_[i]], row.values[i]);
      std::swap(stored_[slots_[i]], row.stored[i]);
    }
    row.values.swap(values_);
    row.stored.swap(stored_);
  }
}

void RowPreparer::BuildKeys(PreparedRow& row) {
  // Here rather than on the writing thread, unless an auto-number still
  // waits for its number.
  for (size_t c : auto_numbers_) {
    if (row.values[c].is_null()) return;
  }
  row.keys.Build(def_, row.values);
  row.keys_built = true;
}

void RowPreparer::Prepare(PreparedRow& row) {
  Arrange(row);
  try {
    jet::Table::EncodeAhead(format_, def_, row.values, &row.stored, row.encoded, encode_);
  } catch (...) {
    row.error = std::current_exception();
    return;
  }
  BuildKeys(row);
}

void RowPreparer::PrepareAsStored(PreparedRow& row, ByteView bytes) {
  Arrange(row);
  jet::Table::EncodedRow& e = row.encoded;
  e.row.assign(bytes.begin(), bytes.end());
  e.outside.clear();
  e.payloads.clear();
  e.numbers.clear();
  BuildKeys(row);
}

bool RowPreparer::SameLayout(const TableDef& origin, const std::vector<size_t>& origin_slots) const {
  if (origin.columns.size() != def_.columns.size() || origin_slots.size() != slots_.size() ||
      origin.max_columns != def_.max_columns || origin.var_column_count != def_.var_column_count) {
    return false;
  }
  for (size_t i = 0; i < slots_.size(); ++i) {
    const ColumnDef& o = origin.columns.at(origin_slots[i]);
    const ColumnDef& d = def_.columns[slots_[i]];
    if (o.number != d.number || o.type != d.type || o.var_index != d.var_index ||
        o.fixed_offset != d.fixed_offset || o.length != d.length || o.flags != d.flags) {
      return false;
    }
  }
  return true;
}

Column ColumnOf(const ColumnDef& c, int version) {
  Column col;
  col.column.name = c.name;
  col.column.type = c.type;
  col.column.auto_number = c.auto_number();
  if (c.type == ColumnType::kText) col.column.size = version >= 4 ? c.length / 2 : c.length;
  if (c.type == ColumnType::kBinary) col.column.size = c.length;
  if (c.type == ColumnType::kDecimal) {
    col.column.precision = c.precision;
    col.column.scale = c.scale;
  }
  // Jet 3 text takes a byte a character; compressed, Jet 4's mostly does too.
  const bool text = c.type == ColumnType::kText || c.type == ColumnType::kMemo;
  col.compressed_unicode = text && (version < 4 || (c.ext_flags & kColCompressedUnicode));
  col.hyperlink = (c.flags & kColHyperlink) != 0;
  col.auto_guid = (c.flags & kColAutoGuid) != 0;
  col.fixed_length = c.type == ColumnType::kText && c.fixed();
  return col;
}

Properties AsJet4(const Properties& props, int version) {
  if (version >= 4) return props;
  Properties out = props;
  for (auto& map : out.maps) {
    for (auto& p : map.props) {
      const auto type = static_cast<ColumnType>(p.type);
      if (type != ColumnType::kText && type != ColumnType::kMemo) continue;
      const uint8_t flags = p.flags;
      p = Property::Text(p.name, p.AsText(version), type);
      p.flags = flags;
    }
  }
  return out;
}

PrimaryKey::PrimaryKey(const Table& table) {
  for (size_t i = 0; i < table.columns.size(); ++i) {
    const NewColumn& nc = table.columns[i].column;
    ColumnDef c;
    c.name = nc.name;
    c.type = nc.auto_number ? ColumnType::kLong : nc.type;
    c.number = static_cast<uint16_t>(i);
    c.sort_order = kSortGeneral;
    def_.columns.push_back(c);
  }
  for (const NewIndex& ni : table.indexes) {
    if (!ni.primary) continue;
    for (size_t k = 0; k < ni.columns.size(); ++k) {
      const ColumnDef* c = def_.FindColumn(ni.columns[k]);
      if (!c) throw JetError(kErrItemNotFound, ni.columns[k]);
      const bool descending = k < ni.descending.size() && ni.descending[k];
      index_.columns.push_back({c->number, !descending});
      columns_.push_back(c->number);
    }
    break;
  }
}

Bytes PrimaryKey::Key(const std::vector<Value>& row) const {
  if (columns_.empty()) return {};
  return RowIndexKey(def_, index_, row);
}

std::vector<size_t> PrimaryKeyOrder(const Table& table,
                                    const std::vector<std::vector<Value>>& rows) {
  std::vector<size_t> order(rows.size());
  std::iota(order.begin(), order.end(), size_t{0});
  const PrimaryKey pk(table);
  if (!pk.present()) return order;
  std::vector<Bytes> keys;
  keys.reserve(rows.size());
  for (const auto& r : rows) keys.push_back(pk.Key(r));
  std::stable_sort(order.begin(), order.end(),
                   [&](size_t a, size_t b) { return CompareKeys(keys[a], keys[b]) < 0; });
  return order;
}

}  // namespace jet::rebuild
