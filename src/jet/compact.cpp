#include "jet/compact.h"

#include <algorithm>
#include <condition_variable>
#include <cstdio>
#include <deque>
#include <exception>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <random>
#include <thread>

#include "jet/catalog_layout.h"
#include "jet/file.h"
#include "jet/index_key.h"
#include "jet/index_page.h"
#include "jet/structure_check.h"
#include "jet/table.h"
#include "jet/text.h"

namespace jet {
namespace {

// One MSysObjects row with what compaction carries over.
struct ObjectRecord {
  int32_t id = 0;
  int32_t parent_id = 0;
  std::string name;
  int16_t type = 0;
  int32_t flags = 0;
  Bytes lvprop;
  Bytes lv_extra;
};

std::vector<ObjectRecord> ReadObjects(FileState& file) {
  Table& objects = file.GetTable("MSysObjects");
  const TableDef& def = objects.def();
  auto slot = [&](const char* name) -> int {
    const ColumnDef* c = def.FindColumn(name);
    return c ? static_cast<int>(c - def.columns.data()) : -1;
  };
  const int id = slot("Id"), parent = slot("ParentId"), name = slot("Name"), type = slot("Type"),
            flags = slot("Flags"), lvprop = slot("LvProp"), lv_extra = slot("LvExtra");
  if (id < 0 || parent < 0 || name < 0 || type < 0 || flags < 0) throw JetError(kErrCorrupt);
  std::vector<ObjectRecord> out;
  std::vector<Value> row;
  // In stored order: the order tables are listed in, kept in the new file.
  Table::Scan scan(objects, Table::MovedRows::kWhereStored);
  while (scan.Next()) {
    objects.DecodeRow(scan.bytes(), row);
    auto number = [&](int s) {
      const Value& v = row[static_cast<size_t>(s)];
      return v.is<int32_t>() ? v.as<int32_t>() : 0;
    };
    auto blob = [&](int s) {
      if (s < 0) return Bytes{};
      const Value& v = row[static_cast<size_t>(s)];
      return v.is<Binary>() ? v.as<Binary>() : Bytes{};
    };
    ObjectRecord r;
    r.id = number(id);
    r.parent_id = number(parent);
    const Value& n = row[static_cast<size_t>(name)];
    if (n.is<std::string>()) r.name = n.as<std::string>();
    r.type = static_cast<int16_t>(number(type));
    r.flags = number(flags);
    r.lvprop = blob(lvprop);
    r.lv_extra = blob(lv_extra);
    out.push_back(std::move(r));
  }
  return out;
}

Properties PropertiesOf(const Bytes& blob, int version) {
  if (blob.empty()) return {};
  return rebuild::AsJet4(ParseProperties(blob, version), version);
}

// The definition's columns in column-number order.
std::vector<const ColumnDef*> ByNumber(const TableDef& def) {
  std::vector<const ColumnDef*> cols;
  for (const auto& c : def.columns) cols.push_back(&c);
  std::stable_sort(cols.begin(), cols.end(),
                   [](const ColumnDef* a, const ColumnDef* b) { return a->number < b->number; });
  return cols;
}

rebuild::Table DescribeTable(Table& t, const Bytes& lvprop, int version) {
  const TableDef& def = t.def();
  rebuild::Table out;
  out.name = t.name();
  for (const ColumnDef* c : ByNumber(def)) out.columns.push_back(rebuild::ColumnOf(*c, version));
  // In stored order, which the new definition keeps.
  for (const LogicalIndexDef& index : def.indexes) {
    if (index.type == kIdxForeign) continue;
    const LogicalIndexDef* li = &index;
    if (li->real_index >= def.real_indexes.size()) throw JetError(kErrCorrupt);
    const RealIndexDef& ri = def.real_indexes[li->real_index];
    NewIndex ni;
    ni.name = li->name;
    ni.primary = li->type == kIdxPrimary;
    ni.unique = (ri.flags & kIdxUnique) != 0;
    ni.required = (ri.flags & kIdxRequired) != 0;
    ni.ignore_nulls = (ri.flags & kIdxIgnoreNulls) != 0;
    for (const auto& ic : ri.columns) {
      const ColumnDef* c = def.ColumnByNumber(ic.column_number);
      if (!c) throw JetError(kErrCorrupt);
      ni.columns.push_back(c->name);
      ni.descending.push_back(!ic.ascending);
    }
    out.indexes.push_back(std::move(ni));
  }
  out.properties = PropertiesOf(lvprop, version);
  return out;
}

std::vector<rebuild::Query> DescribeQueries(FileState& file,
                                            const std::vector<ObjectRecord>& objects, int version) {
  std::vector<rebuild::Query> out;
  std::map<int32_t, size_t> by_id;
  for (const auto& o : objects) {
    if (o.parent_id != catalog::kTablesContainerId || o.type != catalog::kObjectQuery) continue;
    rebuild::Query q;
    q.name = o.name;
    q.flags = o.flags;
    q.properties = PropertiesOf(o.lvprop, version);
    q.lv_extra = o.lv_extra;
    by_id[o.id] = out.size();
    out.push_back(std::move(q));
  }
  if (out.empty()) return out;
  Table& queries = file.GetTable("MSysQueries");
  const TableDef& def = queries.def();
  const ColumnDef* object_id = def.FindColumn("ObjectId");
  if (!object_id) throw JetError(kErrCorrupt);
  const size_t id_slot = static_cast<size_t>(object_id - def.columns.data());
  std::vector<Value> row;
  Table::Scan scan(queries);
  while (scan.Next()) {
    queries.DecodeRow(scan.bytes(), row);
    if (!row[id_slot].is<int32_t>()) continue;
    auto it = by_id.find(row[id_slot].as<int32_t>());
    if (it == by_id.end()) continue;
    std::vector<std::pair<std::string, Value>> cells;
    for (const ColumnDef* c : ByNumber(def)) {
      if (c == object_id) continue;
      cells.push_back({c->name, row[static_cast<size_t>(c - def.columns.data())]});
    }
    out[it->second].rows.push_back(std::move(cells));
  }
  return out;
}

// Relations in the order they were made (their objects' ids), so that
// the referenced sides' index names come out in the same order.
std::vector<rebuild::Relation> DescribeRelations(FileState& file,
                                                 const std::vector<ObjectRecord>& objects,
                                                 const rebuild::Database& db) {
  std::map<std::u16string, int32_t> made;
  for (const auto& o : objects) {
    if (o.parent_id == catalog::kRelationshipsContainerId) made[FoldName(o.name)] = o.id;
  }
  auto known = [&](const std::string& name) {
    return std::any_of(db.tables.begin(), db.tables.end(),
                       [&](const rebuild::Table& t) { return NamesEqual(t.name, name); });
  };
  std::vector<rebuild::Relation> out;
  for (const auto& r : file.Relations()) {
    // Relations among system tables are the new file's own business.
    if (!known(r.table) || !known(r.foreign_table)) continue;
    out.push_back({r.name, r.table, r.foreign_table, r.fields, r.attributes});
  }
  std::stable_sort(out.begin(), out.end(), [&](const auto& a, const auto& b) {
    return made[FoldName(a.name)] < made[FoldName(b.name)];
  });
  return out;
}

std::string RandomCopyName(const std::string& path) {
  std::random_device rd;
  char digits[9];
  std::snprintf(digits, sizeof digits, "%08x", static_cast<unsigned>(rd()));
  // Named as the engine names a copy of `path`, so that one left by a
  // process that died is removed by the file's next open.
  return path + ".~mq" + digits;
}

}  // namespace

rebuild::Database DescribeDatabase(FileState& file, std::vector<std::string>* left_out) {
  const int version = file.pager().format().version;
  const HeaderInfo& header = file.pager().header();
  rebuild::Database db;
  db.password = header.password;
  db.encrypt = header.db_key != 0;
  const std::vector<ObjectRecord> objects = ReadObjects(file);
  std::map<int32_t, std::string> containers;
  for (const auto& o : objects) {
    if (o.type == catalog::kObjectContainer) containers[o.id] = o.name;
  }
  auto leave_out = [&](const std::string& what) {
    if (left_out) left_out->push_back(what);
  };
  for (const auto& o : objects) {
    const bool table =
        o.parent_id == catalog::kTablesContainerId && o.type == catalog::kObjectTable;
    const bool system = (o.flags & 0x80000002) != 0;
    if (table && system) {
      // The engine's own four come new; another program's keep nothing
      // of theirs unless they are empty.
      static const char* const kEngineTables[] = {"MSysObjects", "MSysACEs", "MSysQueries",
                                                  "MSysRelationships"};
      if (std::none_of(std::begin(kEngineTables), std::end(kEngineTables),
                       [&](const char* n) { return NamesEqual(n, o.name); }) &&
          file.TableAt(static_cast<uint32_t>(o.id) & 0x00ffffff, o.name).def().row_count > 0) {
        leave_out(o.name + " (system table)");
      }
    } else if (o.parent_id == catalog::kTablesContainerId && !table &&
               o.type != catalog::kObjectQuery) {
      leave_out(o.name + " (linked table)");
    } else if (o.parent_id != catalog::kContainersParentId &&
               o.parent_id != catalog::kTablesContainerId &&
               o.parent_id != catalog::kDatabasesContainerId &&
               o.parent_id != catalog::kRelationshipsContainerId && containers.count(o.parent_id)) {
      leave_out(o.name + " (" + containers[o.parent_id] + ")");
    }
    if (table && !system) {
      Table& t = file.TableAt(static_cast<uint32_t>(o.id) & 0x00ffffff, o.name);
      db.tables.push_back(DescribeTable(t, o.lvprop, version));
    } else if (o.parent_id == catalog::kDatabasesContainerId) {
      if (o.id == catalog::kMSysDbId) {
        db.database_properties = PropertiesOf(o.lvprop, version);
      } else {
        db.documents.push_back({o.name, o.type, o.flags, PropertiesOf(o.lvprop, version)});
      }
    }
  }
  db.relations = DescribeRelations(file, objects, db);
  db.queries = DescribeQueries(file, objects, version);
  return db;
}

namespace {

// The rows of `t` in the order of its primary index, read off the index's
// leaves into `out`. False when that order may differ from the new file's
// (Jet 3 text, a sort order other than General) or the index does not list
// every row the table counts.
bool PrimaryIndexOrder(Table& t, std::vector<RowId>& out) {
  const TableDef& def = t.def();
  const Format& f = t.format();
  if (f.version < 4) return false;
  const RealIndexDef* ri = nullptr;
  for (const auto& li : def.indexes) {
    if (li.type == kIdxPrimary && li.real_index < def.real_indexes.size())
      ri = &def.real_indexes[li.real_index];
  }
  if (!ri) return false;
  for (const auto& ic : ri->columns) {
    const ColumnDef* c = def.ColumnByNumber(ic.column_number);
    if (!c) throw JetError(kErrCorrupt);
    if ((c->type == ColumnType::kText || c->type == ColumnType::kMemo) && !IsGeneralSortOrder(*c)) {
      return false;
    }
  }
  Pager& pager = t.pager();
  const uint32_t pages = pager.page_count();
  uint32_t page = ri->first_page;
  // Down the first children to the first leaf, then along the leaves.
  for (uint32_t depth = 0;; ++depth) {
    if (depth > pages) throw JetError(kErrCorrupt);
    const IndexPage p = ParseIndexPage(f, pager.Read(page));
    if (p.leaf) break;
    page = p.entries.empty() ? p.tail_page : p.entries.front().child;
  }
  out.clear();
  for (uint32_t visited = 0; page != 0; ++visited) {
    if (visited > pages) throw JetError(kErrCorrupt);
    const ByteView leaf = pager.Read(page);
    AppendLeafRows(f, leaf, out);
    page = ReadIndexPageHeader(f, leaf).next_page;
  }
  return out.size() == def.row_count;
}

// Takes one row: its values and stored columns, which it may take over
// (they are sized again for the next row), or, where the new table lays
// its rows out as the origin does, the row's bytes to store as they are
// (`as_is`, valid during the call; `stored` then unset).
using TakeRow = std::function<void(std::vector<Value>& row,
                                   std::vector<Table::StoredColumn>& stored, ByteView as_is)>;

void ReadRows(FileState& file, const rebuild::Database& description, size_t index,
              const TakeRow& sink, const rebuild::RowPreparer* prepare = nullptr) {
  const rebuild::Table& described = description.tables.at(index);
  Table& t = file.GetTable(described.name);
  // Index trees and usage maps must read whole: a damaged file is
  // repair's business, not something to copy half of.
  CheckBeforeWriting(t);
  const TableDef& def = t.def();
  const bool jet4 = t.format().version >= 4;
  const size_t n = described.columns.size();
  // Per described column: its slot in the origin's definition, whether its
  // bytes move as stored (the new file stores it alike), and whether its
  // value is read too (a key or a relation's check needs it).
  std::vector<size_t> slots(n);
  std::vector<bool> as_stored(n, false), in_key(n, false), with_value(n, false);
  const rebuild::PrimaryKey pk(described);
  auto listed = [](const std::vector<std::string>& names, const std::string& name) {
    return std::any_of(names.begin(), names.end(),
                       [&](const std::string& c) { return NamesEqual(c, name); });
  };
  for (size_t i = 0; i < n; ++i) {
    const ColumnDef* d = def.FindColumn(described.columns[i].column.name);
    if (!d) throw JetError(kErrCorrupt);
    slots[i] = static_cast<size_t>(d - def.columns.data());
    bool indexed = false;
    for (const NewIndex& ni : described.indexes) {
      indexed = indexed || listed(ni.columns, d->name);
      in_key[i] = in_key[i] || (ni.primary && listed(ni.columns, d->name));
    }
    for (const rebuild::Relation& r : description.relations) {
      for (const auto& [field, foreign] : r.fields) {
        indexed = indexed || (NamesEqual(r.table, described.name) && NamesEqual(field, d->name)) ||
                  (NamesEqual(r.foreign_table, described.name) && NamesEqual(foreign, d->name));
      }
    }
    const bool text = (d->type == ColumnType::kText && !d->fixed()) || d->type == ColumnType::kMemo;
    const bool binary = d->type == ColumnType::kBinary || d->type == ColumnType::kOle;
    as_stored[i] = binary || (text && jet4);
    with_value[i] = !as_stored[i] || indexed || d->auto_number();
  }
  // Rows whose bytes the new table (made ready with `prepare`) would store
  // alike go as they are, but those with a long value on other pages (its
  // pages are written anew).
  const bool layout_kept = jet4 && prepare && prepare->SameLayout(def, slots);
  Bytes raw;
  std::vector<ColumnSlice> slices;
  std::vector<Value> row(n);
  std::vector<Table::StoredColumn> stored(n);
  std::vector<size_t> long_slots, auto_slots;  // Memo and OLE columns; auto-numbers
  for (size_t i = 0; i < def.columns.size(); ++i) {
    if (IsLongValue(def.columns[i].type)) long_slots.push_back(i);
    if (def.columns[i].auto_number()) auto_slots.push_back(i);
  }
  // One row's bytes to values and stored columns. A long value kept on
  // other pages is read through the cache, which may recycle the page the
  // row lies on: such a row is read from a copy.
  auto emit = [&](ByteView bytes) {
    row.resize(n);
    stored.resize(n);
    CrackRow(t.format(), def, bytes, slices);
    bool as_is = layout_kept;
    for (size_t s : auto_slots) as_is = as_is && slices[s].present;
    for (size_t s : long_slots) {
      const ColumnSlice& sl = slices[s];
      if (sl.present && !Table::LongValueInRow(sl.data)) {
        raw.assign(bytes.begin(), bytes.end());
        CrackRow(t.format(), def, raw, slices);
        as_is = false;
        break;
      }
    }
    for (size_t i = 0; i < n; ++i) {
      const ColumnDef& c = def.columns[slots[i]];
      const ColumnSlice& sl = slices[slots[i]];
      if (as_is) {
        stored[i].set = false;
        if (with_value[i]) {
          t.DecodeColumnInto(c, sl, row[i]);
        } else {
          row[i] = sl.present ? Value(true) : Value();
        }
        continue;
      }
      stored[i].set = as_stored[i] && sl.present;
      if (stored[i].set) {
        stored[i].bytes.clear();
        t.ReadStored(c, sl, stored[i].bytes);
      }
      if (with_value[i]) {
        t.DecodeColumnInto(c, sl, row[i]);
      } else {
        row[i] = stored[i].set ? Value(true) : Value();
      }
    }
    sink(row, stored, as_is ? bytes : ByteView());
  };
  std::vector<std::pair<Bytes, RowId>> order;
  bool in_order = true;
  std::vector<RowId> by_index;
  if (pk.present() && PrimaryIndexOrder(t, by_index)) {
    // The origin's own index gives the order: when it is the stored order
    // (a table filled in key order) the rows are read as they lie, else one
    // by one in key order.
    for (size_t i = 1; i < by_index.size() && in_order; ++i) {
      const RowId a = by_index[i - 1], b = by_index[i];
      in_order = a.page < b.page || (a.page == b.page && a.row < b.row);
    }
    if (!in_order) {
      for (RowId id : by_index) order.emplace_back(Bytes{}, id);
    }
  } else if (pk.present()) {
    // The keys first, from their columns alone, then as above.
    Table::Scan scan(t);
    while (scan.Next()) {
      CrackRow(t.format(), def, scan.bytes(), slices);
      for (size_t i = 0; i < n; ++i) {
        if (in_key[i]) t.DecodeColumnInto(def.columns[slots[i]], slices[slots[i]], row[i]);
      }
      Bytes key = pk.Key(row);
      if (!order.empty() && CompareKeys(order.back().first, key) > 0) in_order = false;
      order.emplace_back(std::move(key), scan.row_id());
    }
  }
  // The rows the definition counts must all be found: a usage map that
  // lost pages would otherwise lose their rows without a word.
  size_t found = 0;
  auto count = [&](size_t rows) {
    if (rows != def.row_count) throw JetError(kErrCorrupt);
  };
  if (in_order) {
    order.clear();
    order.shrink_to_fit();
    Table::Scan scan(t);
    while (scan.Next()) {
      emit(scan.bytes());
      ++found;
    }
    count(found);
    return;
  }
  count(order.size());
  if (by_index.empty()) {
    std::stable_sort(order.begin(), order.end(), [](const auto& a, const auto& b) {
      return CompareKeys(a.first, b.first) < 0;
    });
  }
  for (auto& entry : order) {
    Bytes().swap(entry.first);
    emit(t.RowData(entry.second));
  }
}

// Reads the origin's rows and makes them ready on a thread of its own, table
// after table in the order the new file fills, while the caller's thread
// stores them: a table's structure is checked and its first rows read while
// the one before still goes in. The origin and the new file are different
// files, each used by one thread (dao.h), and the preparers read only their
// own definitions.
//
// Rows go over in batches, and come back to be filled again: a row's
// storage (its values' text, its stored bytes, its encoding) serves row
// after row, and is freed by the thread that allocated it.
class ReadAhead {
 public:
  struct Batch {
    std::vector<rebuild::PreparedRow> rows;
    size_t count = 0;
    size_t table = 0;
    bool last = false;           // the table's last batch
    std::exception_ptr error;  // what ended the reading, after the rows
  };
  // Few rows in flight: a row made ready is still in the caches when it is
  // stored, and memory stays small.
  static constexpr size_t kBatchRows = 64;
  static constexpr size_t kMaxBatches = 4;

  ReadAhead(FileState& file, const rebuild::Database& description)
      : file_(file), description_(description) {}
  ~ReadAhead() { Finish(); }
  ReadAhead(const ReadAhead&) = delete;
  ReadAhead& operator=(const ReadAhead&) = delete;

  void Start(const std::vector<size_t>& order,
             const std::vector<std::shared_ptr<rebuild::RowPreparer>>& preparers) {
    thread_ = std::thread([this, order, preparers] { Read(order, preparers); });
  }

  // Writer side: hands every row of `table` (the next in the order) to
  // `sink`; rethrows what ended the reading in it.
  void Rows(size_t table, const std::function<void(rebuild::PreparedRow&)>& sink) {
    Batch b;
    while (true) {
      Take(b);
      if (b.table != table) throw JetError(kErrInvalidArgument);
      for (size_t i = 0; i < b.count; ++i) sink(b.rows[i]);
      if (b.error) std::rethrow_exception(b.error);
      if (b.last) break;
    }
    GiveBack(b);
  }

  // Stops the reading, wherever it is, and waits for the thread.
  void Finish() {
    if (!thread_.joinable()) return;
    {
      std::lock_guard<std::mutex> lock(mu_);
      stopped_ = true;
    }
    room_.notify_one();
    thread_.join();
  }

 private:
  void Read(const std::vector<size_t>& order,
            const std::vector<std::shared_ptr<rebuild::RowPreparer>>& preparers) {
    Batch batch;
    for (size_t table : order) {
      batch.table = table;
      bool open = true;
      try {
        rebuild::RowPreparer& prepare = *preparers[table];
        ReadRows(
            file_, description_, table,
            [&](std::vector<Value>& row, std::vector<Table::StoredColumn>& stored, ByteView as_is) {
              if (!open) return;
              // The row trades places with a used one, which it fills next.
              if (batch.count == batch.rows.size()) batch.rows.emplace_back();
              rebuild::PreparedRow& ready = batch.rows[batch.count];
              ready.values.swap(row);
              ready.stored.swap(stored);
              if (as_is.empty()) {
                prepare.Prepare(ready);
              } else {
                prepare.PrepareAsStored(ready, as_is);
              }
              if (++batch.count == kBatchRows) {
                open = Put(batch);
                batch.table = table;
              }
            },
            &prepare);
      } catch (...) {
        batch.error = std::current_exception();
      }
      if (!open) return;
      batch.last = true;
      const bool failed = batch.error != nullptr;
      if (!Put(batch) || failed) return;
    }
  }

  // Reader side: false when the writer has stopped. `b` comes back empty,
  // with the storage of a used batch when there is one.
  bool Put(Batch& b) {
    std::unique_lock<std::mutex> lock(mu_);
    room_.wait(lock, [&] { return queue_.size() < kMaxBatches || stopped_; });
    if (stopped_) return false;
    queue_.push_back(std::move(b));
    b = Batch{};
    if (!used_.empty()) {
      b.rows = std::move(used_.back());
      used_.pop_back();
    }
    ready_.notify_one();
    return true;
  }

  void Take(Batch& b) {
    std::unique_lock<std::mutex> lock(mu_);
    if (!b.rows.empty()) used_.push_back(std::move(b.rows));
    b = Batch{};
    ready_.wait(lock, [&] { return !queue_.empty(); });
    b = std::move(queue_.front());
    queue_.pop_front();
    room_.notify_one();
  }

  void GiveBack(Batch& b) {
    std::lock_guard<std::mutex> lock(mu_);
    if (!b.rows.empty()) used_.push_back(std::move(b.rows));
    b = Batch{};
  }

  FileState& file_;
  const rebuild::Database& description_;
  std::thread thread_;
  std::mutex mu_;
  std::condition_variable ready_, room_;
  std::deque<Batch> queue_;
  std::vector<std::vector<rebuild::PreparedRow>> used_;
  bool stopped_ = false;
};

}  // namespace

rebuild::StoredRowSource RowsOf(FileState& file, const rebuild::Database& description) {
  return [&file, &description](size_t index, const rebuild::StoredRowSink& sink) {
    ReadRows(file, description, index,
             [&](std::vector<Value>& row, std::vector<Table::StoredColumn>& stored, ByteView) {
               sink(row, stored);
             });
  };
}

CompactResult CompactDatabase(const std::string& origin, const std::string& out,
                              const CompactOptions& options) {
  FileSystem& fs = CurrentFileSystem();
  if (!out.empty() && !CanonicalPath(out).empty()) throw JetError(kErrDatabaseExists, out);
  std::shared_ptr<FileState> file;
  try {
    file = FileState::Open(origin, true, true, options.password);
  } catch (const JetError& e) {
    // Only a copy is wanted: a file we may not write is still read.
    if (out.empty() || e.number() != kErrReadOnly) throw;
    file = FileState::Open(origin, false, true, options.password);
  }
  CompactResult result;
  result.bytes_before = uint64_t{file->pager().page_count()} * file->pager().format().page_size;
  rebuild::Database db;
  std::vector<std::string> left_out;
  try {
    db = DescribeDatabase(*file, &left_out);
  } catch (const JetError& e) {
    if (e.number() == kErrCorrupt) throw JetError(kErrCorrupt, origin);
    throw;
  }
  if (options.new_password) db.password = *options.new_password;
  if (options.encryption == CompactOptions::Encryption::kEncrypt) db.encrypt = true;
  if (options.encryption == CompactOptions::Encryption::kDecrypt) db.encrypt = false;

  // Damage met while reading rows names the origin; the new file's own
  // errors pass as they are.
  ReadAhead ahead(*file, db);
  rebuild::Options write_options;
  write_options.before_filling = [&](const std::vector<size_t>& order,
                                     const std::vector<std::shared_ptr<rebuild::RowPreparer>>& preparers) {
    ahead.Start(order, preparers);
  };
  bool writing = false;
  const rebuild::PreparedRowSource rows = [&](size_t table, rebuild::RowPreparer&,
                                              const rebuild::PreparedRowSink& sink) {
    try {
      ahead.Rows(table, [&](rebuild::PreparedRow& row) {
        writing = true;
        sink(row);
        writing = false;
      });
    } catch (const JetError& e) {
      if (!writing && e.number() == kErrCorrupt) throw JetError(kErrCorrupt, origin);
      throw;
    }
  };
  result.left_out = std::move(left_out);
  const std::string target = out.empty() ? RandomCopyName(origin) : out;
  // A failed write stops the reading as `ahead` goes; a finished one lets
  // the thread end before the origin is closed.
  const rebuild::Report report = rebuild::WriteDatabase(target, db, rows, write_options);
  ahead.Finish();
  result.tables = db.tables.size();
  for (size_t n : report.rows_stored) result.rows += n;
  {
    auto written = fs.Open(target, FileAccess::kRead);
    result.bytes_after = written->Size();
  }
  if (out.empty()) {
    try {
      // Where an open file cannot be renamed over, the origin goes first.
      if (!CanReplaceOpenFile()) file.reset();
      fs.Rename(target, origin, true);
      fs.SyncFolder(FolderOf(origin));
    } catch (const JetError&) {
      fs.Remove(target);
      throw;
    }
  }
  return result;
}

}  // namespace jet
