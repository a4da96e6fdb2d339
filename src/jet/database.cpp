#include "jet/database.h"

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <ctime>
#include <mutex>
#include <thread>

#include "jet/catalog_layout.h"
#include "jet/data_page.h"
#include "jet/error.h"
#include "jet/header.h"
#include "jet/index_builder.h"
#include "jet/index_key.h"
#include "jet/integrity.h"
#include "jet/local_time.h"
#include "jet/props.h"
#include "jet/structure_check.h"
#include "jet/text.h"
#include "jet/usage_map.h"
#include "jet/value_codec.h"

namespace jet {
namespace {

constexpr uint32_t kMSysObjectsPage = 2;
constexpr uint32_t kMSysAcesPage = 3;
constexpr uint8_t kUserTable = 0x4e;
// Flag bytes of the columns the engine writes for a user table.
constexpr uint8_t kUserFixedFlags = kColFixed | kColNullable;
constexpr uint8_t kUserVariableFlags = kColNullable;

std::mutex registry_mutex;
std::map<Pager*, std::weak_ptr<FileState>>& Registry() {
  static std::map<Pager*, std::weak_ptr<FileState>> r;
  return r;
}

Date Now() {
  const std::tm local = LocalTimeAt(std::time(nullptr)).fields;
  DateParts p{};
  p.year = local.tm_year + 1900;
  p.month = local.tm_mon + 1;
  p.day = local.tm_mday;
  p.hour = local.tm_hour;
  p.minute = local.tm_min;
  p.second = local.tm_sec;
  return PartsToDate(p);
}

// Builds a row for `def` from column-name/value pairs; other columns null.
std::vector<Value> RowByName(const TableDef& def,
                             const std::vector<std::pair<std::string, Value>>& values) {
  std::vector<Value> row(def.columns.size());
  for (const auto& [name, v] : values) {
    for (size_t i = 0; i < def.columns.size(); ++i) {
      if (NamesEqual(def.columns[i].name, name)) row[i] = v;
    }
  }
  return row;
}

}  // namespace

FileState::~FileState() {
  if (!pager_ || pager_->failed()) return;
  try {
    Commit();
  } catch (const JetError& e) {
    DeferError(e);
  }
}

std::shared_ptr<FileState> FileState::Open(const std::string& path, bool exclusive,
                                           bool read_only, const std::string& password) {
  auto pager = Pager::Open(path, read_only ? OpenMode::kReadOnly : OpenMode::kReadWrite,
                           exclusive, password);
  std::lock_guard<std::mutex> lock(registry_mutex);
  auto& reg = Registry();
  if (auto it = reg.find(pager.get()); it != reg.end()) {
    if (auto live = it->second.lock()) return live;
  }
  std::shared_ptr<FileState> s(new FileState());
  s->pager_ = pager;
  s->LoadCatalog();
  reg[pager.get()] = s;
  return s;
}

void FileState::LoadCatalog() {
  catalog_.clear();
  Table& objects = TableAt(kMSysObjectsPage, "MSysObjects");
  const TableDef& def = objects.def();
  const ColumnDef* id = def.FindColumn("Id");
  const ColumnDef* parent = def.FindColumn("ParentId");
  const ColumnDef* name = def.FindColumn("Name");
  const ColumnDef* type = def.FindColumn("Type");
  const ColumnDef* flags = def.FindColumn("Flags");
  if (!id || !parent || !name || !type || !flags) throw JetError(kErrCorrupt);
  std::vector<ColumnSlice> slices;
  Table::Scan scan(objects);
  while (scan.Next()) {
    CrackRow(objects.format(), def, scan.bytes(), slices);
    auto value = [&](const ColumnDef* c) {
      return objects.DecodeColumn(*c, slices[static_cast<size_t>(c - def.columns.data())]);
    };
    // A damaged catalogue may give columns other types than the engine's.
    auto number = [&](const ColumnDef* c) -> int32_t {
      Value v = value(c);
      if (v.is_null()) return 0;
      if (!v.is<int32_t>()) throw JetError(kErrCorrupt);
      return v.as<int32_t>();
    };
    CatalogEntry e;
    if (value(id).is_null()) continue;
    e.id = number(id);
    e.parent_id = number(parent);
    Value n = value(name);
    if (!n.is_null() && !n.is<std::string>()) throw JetError(kErrCorrupt);
    e.name = n.is_null() ? "" : n.as<std::string>();
    e.type = static_cast<int16_t>(number(type));
    e.flags = number(flags);
    e.row = scan.row_id();
    catalog_.push_back(std::move(e));
  }
}

std::vector<CatalogEntry> FileState::TableEntries() {
  std::vector<CatalogEntry> out;
  for (const auto& e : catalog_) {
    if (e.parent_id == catalog::kTablesContainerId && e.type == catalog::kObjectTable) out.push_back(e);
  }
  return out;
}

std::optional<CatalogEntry> FileState::FindTable(const std::string& name) {
  for (const auto& e : catalog_) {
    if (e.parent_id == catalog::kTablesContainerId && e.type == catalog::kObjectTable &&
        NamesEqual(e.name, name)) {
      return e;
    }
  }
  return std::nullopt;
}

Table& FileState::TableAt(uint32_t tdef_page, const std::string& name) {
  auto it = tables_.find(tdef_page);
  if (it != tables_.end()) return *it->second;
  if (tdef_page == 0 || tdef_page >= pager_->page_count()) throw JetError(kErrCorrupt);
  Pager& p = *pager_;
  TableDef def = ParseTableDef(p.format(), [&p](uint32_t pg) { return p.Copy(pg); }, tdef_page);
  auto t = std::make_unique<Table>(pager_, std::move(def), name);
  Table& ref = *t;
  tables_[tdef_page] = std::move(t);
  return ref;
}

Table& FileState::GetTable(const std::string& name) {
  auto e = FindTable(name);
  if (!e) throw JetError(kErrNoSuchTable, name);
  return TableAt(e->tdef_page(), e->name);
}

std::map<std::string, FileState::ColumnProps> FileState::ColumnProperties(const std::string& table) {
  std::map<std::string, ColumnProps> out;
  auto e = FindTable(table);
  if (!e) return out;
  Table& objects = TableAt(kMSysObjectsPage, "MSysObjects");
  const ColumnDef* lvprop = objects.def().FindColumn("LvProp");
  if (!lvprop) return out;
  std::vector<Value> row = objects.ReadRow(e->row);
  const Value& blob = row[static_cast<size_t>(lvprop - objects.def().columns.data())];
  if (blob.is_null()) return out;
  Properties props = ParseProperties(blob.as<Binary>(), pager_->format().version);
  for (const auto& m : props.maps) {
    if (m.kind != PropertyLayout::kChunkColumn) continue;
    ColumnProps cp;
    if (const Property* p = m.Find("Required")) cp.required = p->AsBool();
    if (const Property* p = m.Find("AllowZeroLength")) cp.allow_zero_length = p->AsBool();
    if (const Property* p = m.Find("DefaultValue")) cp.default_value = p->AsText(pager_->format().version);
    out[m.name] = cp;
  }
  return out;
}

// ---- creating a database ----

std::shared_ptr<FileState> FileState::Create(const std::string& path, const std::string& password,
                                             bool encrypt) {
  HeaderInfo h;
  h.version = 4;
  h.code_page = kCodePageWestern;
  h.sort_order = kSortGeneral;
  h.password = password;
  // The access-control rows below carry the security identifiers as the
  // engine scrambles them for this header date; the two go together.
  h.creation_date = catalog::ReferenceHeaderCreationDate();
  auto pager = Pager::Create(path, h, encrypt);
  const Format& f = pager->format();

  // Pages 1..15 of the engine's layout; see catalog_layout.h.
  constexpr uint32_t kPages = 16;
  while (pager->page_count() < kPages) pager->Allocate();

  Bytes global(f.page_size, 0);
  InitDataPage(f, global, 1);
  AppendRow(f, global, NewGlobalMapRow(f, kPages));
  AppendRow(f, global, Bytes(NewInlineMapRow(f).size(), 0));
  pager->Write(1, global);

  std::vector<TableDef> defs = {catalog::MSysObjectsDef(), catalog::MSysACEsDef(),
                                catalog::MSysQueriesDef(), catalog::MSysRelationshipsDef()};
  for (auto& d : defs) {
    catalog::PlaceAsNewDatabase(d);
    d.row_count = 0;
    for (auto& ri : d.real_indexes) ri.row_count = 0;
    Bytes block = SerializeTableDef(d);
    std::vector<Bytes> pages = SplitTableDef(f, block, {d.page});
    pager->Write(d.page, pages[0]);
  }

  Bytes maps(f.page_size, 0);
  InitDataPage(f, maps, 0);
  for (const auto& r : catalog::UsageMapRows()) {
    Bytes row = NewInlineMapRow(f);
    for (uint32_t p : r.pages) row.at(5 + p / 8) |= static_cast<uint8_t>(1u << (p % 8));
    if (AppendRow(f, maps, row) != r.row) throw JetError(kErrCorrupt);
  }
  pager->Write(6, maps);

  // Data pages of MSysObjects and MSysACEs: the pages their maps list.
  for (const auto& d : {defs[0], defs[1]}) {
    for (uint32_t p : ReadUsageMap(*pager, RowId::FromPacked(d.owned_pages))) {
      Bytes page(f.page_size, 0);
      InitDataPage(f, page, d.page);
      pager->Write(p, page);
    }
  }

  std::shared_ptr<FileState> s(new FileState());
  s->pager_ = pager;
  s->usage_map_page_ = 6;
  Table& objects = s->TableAt(defs[0].page, "MSysObjects");
  Table& aces = s->TableAt(defs[1].page, "MSysACEs");
  Date now = Now();
  for (const auto& o : catalog::NewDatabaseObjects()) {
    objects.Insert(RowByName(objects.def(), {{"Id", Value(o.id)},
                                             {"ParentId", Value(o.parent_id)},
                                             {"Name", Value(o.name)},
                                             {"Type", Value(int32_t{o.type})},
                                             {"DateCreate", Value(now)},
                                             {"DateUpdate", Value(now)},
                                             {"Owner", Value(catalog::SidBytes(o.owner))},
                                             {"Flags", Value(o.flags)}}));
  }
  for (const auto& a : catalog::NewDatabaseAces()) {
    aces.Insert(RowByName(aces.def(), {{"ObjectId", Value(a.object_id)},
                                       {"SID", Value(catalog::SidBytes(a.sid))},
                                       {"ACM", Value(a.acm)},
                                       {"FInheritable", Value(a.inheritable)}}));
  }
  // Index leaves, on the pages the layout gives them.
  for (size_t i = 0; i < defs.size(); ++i) {
    Table& t = s->TableAt(defs[i].page, i == 0 ? "MSysObjects" : i == 1 ? "MSysACEs" : "");
    for (auto& ri : t.mutable_def().real_indexes) {
      std::vector<IndexEntry> entries;
      Table::Scan scan(t);
      std::vector<Value> values;
      while (scan.Next()) {
        t.DecodeRow(scan.bytes(), values);
        entries.push_back({RowIndexKey(t.def(), ri, values), scan.row_id(), 0});
      }
      IndexBuilder b(f, t.def().page);
      for (auto& e : entries) b.Add(e.key, e.row);
      uint32_t target = ri.first_page;
      bool used = false;
      b.Build([&] {
        if (used) throw JetError(kErrCorrupt);  // the system indexes fit one leaf
        used = true;
        return target;
      }, [&](uint32_t pg, ByteView data) { pager->Write(pg, data); });
    }
    t.SaveDefinition();
  }
  s->LoadCatalog();
  {
    std::lock_guard<std::mutex> lock(registry_mutex);
    Registry()[pager.get()] = s;
  }
  s->Flush();
  return s;
}

// ---- tables ----

RowId FileState::AddUsageMapRow(const Bytes& row) {
  const Format& f = pager_->format();
  if (usage_map_page_ == 0) {
    // Continue on the last page holding usage maps (owner 0), as the engine
    // keeps them together.
    for (uint32_t p = pager_->page_count(); p-- > 1;) {
      ByteView page = pager_->Read(p);
      if (page[0] == static_cast<uint8_t>(PageType::kData) && OwnerPage(f, page) == 0 &&
          !IsLongValuePage(f, page)) {
        usage_map_page_ = p;
        break;
      }
    }
  }
  if (usage_map_page_ != 0) {
    Bytes page = pager_->Copy(usage_map_page_);
    int n = AppendRow(f, page, row);
    if (n >= 0) {
      pager_->Write(usage_map_page_, page);
      return RowId{usage_map_page_, static_cast<uint8_t>(n)};
    }
  }
  uint32_t p = pager_->Allocate();
  MarkPageAllocated(*pager_, p);
  Bytes page(f.page_size, 0);
  InitDataPage(f, page, 0);
  int n = AppendRow(f, page, row);
  pager_->Write(p, page);
  usage_map_page_ = p;
  return RowId{p, static_cast<uint8_t>(n)};
}


uint32_t FileState::BuildIndexPages(Table& t, RealIndexDef& ri, std::vector<IndexEntry> entries) {
  const Format& f = pager_->format();
  IndexBuilder b(f, t.def().page);
  for (auto& e : entries) b.Add(std::move(e.key), e.row);
  RowId map = RowId::FromPacked(ri.used_pages);
  return b.Build(
      [&] {
        uint32_t p = pager_->Allocate();
        MarkPageAllocated(*pager_, p);
        if (ri.used_pages) AddPageToUsageMap(*pager_, map, p);
        return p;
      },
      [&](uint32_t pg, ByteView data) { pager_->Write(pg, data); });
}

void FileState::CreateTable(const std::string& name, const std::vector<NewColumn>& columns,
                            const std::vector<NewIndex>& indexes) {
  std::vector<ColumnPropertySpec> props;
  for (const NewColumn& nc : columns) {
    if (nc.required || nc.allow_zero_length || nc.default_value) {
      props.push_back({nc.name, nc.required, nc.allow_zero_length, nc.default_value});
    }
  }
  CreateTable(name, columns, indexes, props.empty() ? Bytes{} : BuildColumnProperties(props));
}

void FileState::CreateTable(const std::string& name, const std::vector<NewColumn>& columns,
                            const std::vector<NewIndex>& indexes, const Bytes& lvprop) {
  if (!pager_->writable()) throw JetError(kErrReadOnly);
  if (FindTable(name)) throw JetError(kErrTableExists, name);
  if (name.empty() || name.size() > 64) throw JetError(kErrNameInvalid, name);
  if (columns.empty() || columns.size() > 255) throw JetError(kErrFieldCountExceeded);
  const Format& f = pager_->format();

  TableDef def;
  def.table_type = kUserTable;
  def.max_columns = static_cast<uint16_t>(columns.size());
  uint16_t fixed_offset = 0;
  uint16_t var_count = 0;
  for (size_t i = 0; i < columns.size(); ++i) {
    const NewColumn& nc = columns[i];
    for (size_t j = 0; j < i; ++j) {
      if (NamesEqual(columns[j].name, nc.name)) throw JetError(kErrObjectExists, nc.name);
    }
    ColumnDef c;
    c.name = nc.name;
    c.type = nc.auto_number ? ColumnType::kLong : nc.type;
    c.number = static_cast<uint16_t>(i);
    c.sort_order = kSortGeneral;
    uint16_t fixed = FixedSize(c.type);
    if (c.type == ColumnType::kBoolean) {
      c.flags = kUserFixedFlags;
      c.length = 1;
      c.var_index = var_count;
    } else if (fixed > 0) {
      if (c.type == ColumnType::kDecimal) {
        if (nc.precision < 1 || nc.precision > 28 || nc.scale < 0 || nc.scale > nc.precision) {
          throw JetError(kErrInvalidArgument);
        }
        c.precision = static_cast<uint8_t>(nc.precision);
        c.scale = static_cast<uint8_t>(nc.scale);
      }
      c.flags = kUserFixedFlags;
      c.length = fixed;
      c.fixed_offset = fixed_offset;
      c.var_index = var_count;
      fixed_offset = static_cast<uint16_t>(fixed_offset + fixed);
    } else {
      c.flags = kUserVariableFlags;
      c.var_index = var_count++;
      if (c.type == ColumnType::kText) {
        int size = nc.size < 0 ? 255 : nc.size;
        if (size < 1 || size > 255) throw JetError(kErrInvalidArgument);
        c.length = static_cast<uint16_t>(size * 2);
      } else if (c.type == ColumnType::kBinary) {
        int size = nc.size < 0 ? 255 : nc.size;
        if (size < 1 || size > 255) throw JetError(kErrInvalidArgument);
        c.length = static_cast<uint16_t>(size);
      }
    }
    if (nc.auto_number) c.flags |= kColAutoLong;
    def.columns.push_back(c);
  }
  def.var_column_count = var_count;

  // Definition pages first, then the table's usage maps.
  uint32_t tdef_page = pager_->Allocate();
  MarkPageAllocated(*pager_, tdef_page);
  def.page = tdef_page;
  Bytes empty_map = NewInlineMapRow(f);
  def.owned_pages = AddUsageMapRow(empty_map).Packed();
  def.free_pages = AddUsageMapRow(empty_map).Packed();
  {
    // Write a first definition so the table exists when its indexes build.
    Bytes block = SerializeTableDef(def);
    std::vector<uint32_t> pages = {tdef_page};
    while (pages.size() < TableDefPagesNeeded(f, block.size())) {
      uint32_t p = pager_->Allocate();
      MarkPageAllocated(*pager_, p);
      pages.push_back(p);
    }
    auto images = SplitTableDef(f, block, pages);
    for (size_t i = 0; i < pages.size(); ++i) pager_->Write(pages[i], images[i]);
  }
  Table& t = TableAt(tdef_page, name);
  for (const auto& idx : indexes) CreateIndexOn(t, idx);
  t.RewriteDefinition();

  AddCatalogRows(name, static_cast<int32_t>(tdef_page), catalog::kObjectTable, lvprop);
}

void FileState::CreateIndex(const std::string& table, const NewIndex& index) {
  Table& t = GetTable(table);
  WriteAllHeld();
  CreateIndexOn(t, index);
  t.RewriteDefinition();
}

void FileState::CreateIndexOn(Table& t, const NewIndex& index) {
  if (!pager_->writable()) throw JetError(kErrReadOnly);
  TableDef& def = t.mutable_def();
  for (const auto& li : def.indexes) {
    if (NamesEqual(li.name, index.name)) throw JetError(kErrIndexExists, index.name);
    if (index.primary && li.type == kIdxPrimary) throw JetError(kErrPrimaryKeyExists);
  }
  if (index.columns.empty() || index.columns.size() > 10) throw JetError(kErrInvalidArgument);
  RealIndexDef ri;
  for (size_t i = 0; i < index.columns.size(); ++i) {
    const ColumnDef* c = def.FindColumn(index.columns[i]);
    if (!c) throw JetError(kErrItemNotFound);
    const bool descending = i < index.descending.size() && index.descending[i];
    ri.columns.push_back({c->number, !descending});
  }
  bool unique = index.primary || index.unique;
  bool required = index.primary || index.required;
  ri.flags = catalog::kIdxJet4Marker;
  if (unique) ri.flags |= kIdxUnique;
  if (index.ignore_nulls) ri.flags |= kIdxIgnoreNulls;
  if (required) ri.flags |= kIdxRequired;
  ri.used_pages = AddUsageMapRow(NewInlineMapRow(pager_->format())).Packed();

  // Entries from the rows already there; a unique index refuses duplicates
  // and a required one refuses nulls.
  std::vector<IndexEntry> entries;
  // Only the index's columns are decoded.
  std::vector<Value> values(def.columns.size());
  std::vector<size_t> slots;
  for (const auto& ic : ri.columns) slots.push_back(def.SlotOf(ic.column_number));
  Bytes raw;
  std::vector<ColumnSlice> slices;
  Table::Scan scan(t);
  while (scan.Next()) {
    raw.assign(scan.bytes().begin(), scan.bytes().end());
    CrackRow(t.format(), def, raw, slices);
    for (size_t slot : slots) t.DecodeColumnInto(def.columns[slot], slices[slot], values[slot]);
    bool any_null = false;
    for (const auto& ic : ri.columns) any_null |= values[def.SlotOf(ic.column_number)].is_null();
    if (any_null && required) throw JetError(kErrRequired, index.columns.front());
    if (any_null && index.ignore_nulls) continue;
    entries.push_back({RowIndexKey(def, ri, values), scan.row_id(), 0});
  }
  if (unique) {
    std::vector<IndexEntry> sorted = entries;
    std::sort(sorted.begin(), sorted.end(),
              [](const IndexEntry& a, const IndexEntry& b) { return CompareKeys(a.key, b.key) < 0; });
    for (size_t i = 1; i < sorted.size(); ++i) {
      if (CompareKeys(sorted[i - 1].key, sorted[i].key) == 0) throw JetError(kErrDuplicateKey);
    }
  }
  ri.row_count = static_cast<uint32_t>(entries.size());
  ri.first_page = BuildIndexPages(t, ri, std::move(entries));

  LogicalIndexDef li;
  li.name = index.name;
  li.index_number = static_cast<uint32_t>(def.indexes.size());
  li.real_index = static_cast<uint32_t>(def.real_indexes.size());
  li.type = index.primary ? kIdxPrimary : kIdxNormal;
  // What the engine leaves in the foreign-key fields of a plain index.
  li.cascade_updates = 4;
  li.cascade_deletes = 4;
  def.real_indexes.push_back(std::move(ri));
  def.indexes.push_back(std::move(li));
}

void FileState::AddCatalogRows(const std::string& name, int32_t id, int16_t type,
                               const Bytes& lvprop) {
  Table& objects = TableAt(kMSysObjectsPage, "MSysObjects");
  Table& aces = TableAt(kMSysAcesPage, "MSysACEs");
  catalog::ObjectRow o = type == catalog::kObjectTable ? catalog::NewTableObject(id, name)
                                                       : catalog::NewRelationshipObject(id, name);
  Date now = Now();
  std::vector<std::pair<std::string, Value>> cols = {
      {"Id", Value(o.id)},
      {"ParentId", Value(o.parent_id)},
      {"Name", Value(o.name)},
      {"Type", Value(int32_t{o.type})},
      {"DateCreate", Value(now)},
      {"DateUpdate", Value(now)},
      {"Owner", Value(catalog::SidBytes(o.owner))},
      {"Flags", Value(o.flags)}};
  if (!lvprop.empty()) cols.push_back({"LvProp", Value(lvprop)});
  RowId row = InsertRow(objects, RowByName(objects.def(), cols));
  std::vector<catalog::AceRow> new_aces =
      type == catalog::kObjectTable ? catalog::NewTableAces(id) : catalog::NewRelationshipAces(id);
  for (const auto& a : new_aces) {
    InsertRow(aces, RowByName(aces.def(), {{"ObjectId", Value(a.object_id)},
                                           {"SID", Value(catalog::SidBytes(a.sid))},
                                           {"ACM", Value(a.acm)},
                                           {"FInheritable", Value(a.inheritable)}}));
  }
  CatalogEntry e;
  e.id = o.id;
  e.parent_id = o.parent_id;
  e.name = o.name;
  e.type = o.type;
  e.flags = o.flags;
  e.row = row;
  catalog_.push_back(e);
}

int32_t FileState::NextNonTableId() const {
  // Objects without a TDEF count up from the first non-table id.
  int32_t id = catalog::kFirstNonTableObjectId;
  for (const auto& e : catalog_) {
    if (e.id < 0 && e.id >= id) id = e.id + 1;
  }
  return id;
}

int32_t FileState::AddObject(const std::string& name, int32_t parent_id, int16_t type,
                             int32_t flags, const Bytes& lvprop, const Bytes& lv_extra) {
  if (!pager_->writable()) throw JetError(kErrReadOnly);
  if (name.empty() || name.size() > 64) throw JetError(kErrNameInvalid, name);
  const int32_t id = NextNonTableId();
  Table& objects = TableAt(kMSysObjectsPage, "MSysObjects");
  Table& aces = TableAt(kMSysAcesPage, "MSysACEs");
  const Date now = Now();
  std::vector<std::pair<std::string, Value>> cols = {
      {"Id", Value(id)},
      {"ParentId", Value(parent_id)},
      {"Name", Value(name)},
      {"Type", Value(int32_t{type})},
      {"DateCreate", Value(now)},
      {"DateUpdate", Value(now)},
      {"Owner", Value(catalog::SidBytes(catalog::Sid::kAdmin))},
      {"Flags", Value(flags)}};
  if (!lvprop.empty()) cols.push_back({"LvProp", Value(lvprop)});
  if (!lv_extra.empty()) cols.push_back({"LvExtra", Value(lv_extra)});
  RowId row = InsertRow(objects, RowByName(objects.def(), cols));
  for (const auto& a : catalog::NewTableAces(id)) {
    InsertRow(aces, RowByName(aces.def(), {{"ObjectId", Value(a.object_id)},
                                           {"SID", Value(catalog::SidBytes(a.sid))},
                                           {"ACM", Value(a.acm)},
                                           {"FInheritable", Value(a.inheritable)}}));
  }
  CatalogEntry e;
  e.id = id;
  e.parent_id = parent_id;
  e.name = name;
  e.type = type;
  e.flags = flags;
  e.row = row;
  catalog_.push_back(e);
  return id;
}

void FileState::SetObjectProperties(int32_t id, const Bytes& lvprop) {
  auto e = std::find_if(catalog_.begin(), catalog_.end(),
                        [&](const CatalogEntry& c) { return c.id == id; });
  if (e == catalog_.end()) throw JetError(kErrItemNotFound);
  Table& objects = TableAt(kMSysObjectsPage, "MSysObjects");
  const ColumnDef* col = objects.def().FindColumn("LvProp");
  if (!col) throw JetError(kErrCorrupt);
  const std::vector<Value> old_values = objects.ReadRow(e->row);
  std::vector<Value> values = old_values;
  values[static_cast<size_t>(col - objects.def().columns.data())] =
      lvprop.empty() ? Value() : Value(lvprop);
  UpdateRow(objects, e->row, old_values, values);
}

// ---- rows with index maintenance ----

RowId FileState::InsertRow(Table& t, const std::vector<Value>& values, RowKeys* keys) {
  // Before the checks below search the indexes: a damaged tree answers 3049,
  // not a made-up duplicate.
  CheckBeforeWriting(t);
  if (!keys) {
    row_keys_.Build(t.def(), values);
    keys = &row_keys_;
  }
  integrity().CheckInsert(t, values, *keys);
  return WriteInsert(t, values, keys);
}

RowId FileState::InsertCopiedRow(Table& t, const std::vector<Value>& values, RowKeys* keys) {
  CheckBeforeWriting(t);
  if (!keys) {
    row_keys_.Build(t.def(), values);
    keys = &row_keys_;
  }
  integrity().CheckKeys(t, values, *keys);
  return WriteInsert(t, values, keys);
}

void FileState::UpdateRow(Table& t, RowId id, const std::vector<Value>& old_values,
                          const std::vector<Value>& values) {
  CheckBeforeWriting(t);
  integrity().Update(t, id, old_values, values);
}

void FileState::DeleteRow(Table& t, RowId id, const std::vector<Value>& old_values) {
  CheckBeforeWriting(t);
  integrity().Delete(t, id, old_values);
}

const std::vector<RelationLink>& FileState::RelationLinks() { return integrity().Links(); }

Integrity& FileState::integrity() {
  if (!integrity_) integrity_ = std::make_shared<Integrity>(*this);
  return *integrity_;
}

namespace {

// An index's pages straight from the pager's cache: reads and in-place
// edits without copies. New pages are marked allocated and listed in the
// index's usage map.
class IndexPagesOf final : public IndexPages {
 public:
  IndexPagesOf(Pager& p, const RealIndexDef& ri) : p_(p), ri_(ri) {}
  ByteView Read(uint32_t page) override { return p_.Read(page); }
  std::span<uint8_t> Modify(uint32_t page) override { return p_.Modify(page); }
  uint32_t Allocate() override {
    uint32_t np = p_.Allocate();
    MarkPageAllocated(p_, np);
    if (ri_.used_pages) AddPageToUsageMap(p_, RowId::FromPacked(ri_.used_pages), np);
    return np;
  }
  // Emptied pages stay allocated and listed, as before.
  void Release(uint32_t) override {}

 private:
  Pager& p_;
  const RealIndexDef& ri_;
};

// Whether the index's columns hold the same values, bit for bit, in both
// rows, so that its key cannot differ.
bool IndexColumnsUnchanged(const TableDef& def, const RealIndexDef& ri,
                           const std::vector<Value>& old_values, const std::vector<Value>& values) {
  for (const auto& ic : ri.columns) {
    const size_t slot = def.SlotOf(ic.column_number);
    if (!SameBits(old_values[slot], values[slot])) return false;
  }
  return true;
}

bool Listed(const TableDef& def, const RealIndexDef& ri, const std::vector<Value>& values) {
  if (!(ri.flags & kIdxIgnoreNulls)) return true;
  for (const auto& ic : ri.columns) {
    if (values[def.SlotOf(ic.column_number)].is_null()) return false;
  }
  return true;
}

}  // namespace

RowId FileState::WriteInsert(Table& t, const std::vector<Value>& values, const RowKeys* keys) {
  CheckBeforeWriting(t);
  RowId id = t.Insert(values);
  const Format& f = pager_->format();
  RowKeys own;
  if (!keys) {
    own.Build(t.def(), values);
    keys = &own;
  }
  auto& indexes = t.mutable_def().real_indexes;
  bool held = false;
  for (size_t i = 0; i < indexes.size(); ++i) {
    const RealIndexDef& ri = indexes[i];
    // An index that ignores nulls holds no entry for a key with a null.
    if (!Listed(t.def(), ri, values)) continue;
    if (PendingIndex* p = Held(t, i)) {
      p->Add((*keys)[i], id);
      held = true;
      continue;
    }
    IndexPagesOf pages(*pager_, ri);
    InsertIndexEntry(f, ri.first_page, (*keys)[i], id, pages, &keys->spot(i));
  }
  if (held) LimitHeld();
  return id;
}

void FileState::WriteUpdate(Table& t, RowId id, const std::vector<Value>& old_values,
                            const std::vector<Value>& values) {
  CheckBeforeWriting(t);
  t.Update(id, values);
  const Format& f = pager_->format();
  auto& indexes = t.mutable_def().real_indexes;
  for (size_t i = 0; i < indexes.size(); ++i) {
    const RealIndexDef& ri = indexes[i];
    if (IndexColumnsUnchanged(t.def(), ri, old_values, values)) continue;
    bool old_listed = Listed(t.def(), ri, old_values);
    bool new_listed = Listed(t.def(), ri, values);
    Bytes old_key = RowIndexKey(t.def(), ri, old_values);
    Bytes new_key = RowIndexKey(t.def(), ri, values);
    if (old_listed == new_listed && old_key == new_key) continue;
    WriteHeld(t, i);
    IndexPagesOf pages(*pager_, ri);
    if (old_listed) DeleteIndexEntry(f, ri.first_page, IndexEntry{std::move(old_key), id, 0}, pages);
    if (new_listed) InsertIndexEntry(f, ri.first_page, IndexEntry{std::move(new_key), id, 0}, pages);
  }
}

void FileState::WriteDelete(Table& t, RowId id, const std::vector<Value>& old_values) {
  CheckBeforeWriting(t);
  t.Delete(id);
  const Format& f = pager_->format();
  auto& indexes = t.mutable_def().real_indexes;
  for (size_t i = 0; i < indexes.size(); ++i) {
    const RealIndexDef& ri = indexes[i];
    if (!Listed(t.def(), ri, old_values)) continue;
    WriteHeld(t, i);
    IndexPagesOf pages(*pager_, ri);
    DeleteIndexEntry(f, ri.first_page, IndexEntry{RowIndexKey(t.def(), ri, old_values), id, 0}, pages);
  }
}

// CreateRelation, Relations, DropTable and DropIndex: relations.cpp.

// ---- index entries held in memory ----

namespace {

// Inserts between two looks at what the held entries take.
constexpr size_t kHeldLookEvery = 4096;
// Held entries from which writing them all sorts on a second thread.
constexpr size_t kSortAheadEntries = 50000;

}  // namespace

PendingIndex* FileState::Held(Table& t, size_t real_index) {
  // Rows come table by table, each looking up its parents: the lists of
  // the last few tables asked for are kept at hand (the map's elements stay
  // where they are until it is cleared).
  size_t k = 0;
  while (k < kHeldAtHand && held_table_[k] != &t) ++k;
  if (k == kHeldAtHand) {
    k = held_next_;
    held_next_ = (held_next_ + 1) % kHeldAtHand;
    held_last_[k] = &held_[&t];
    held_table_[k] = &t;
  }
  std::vector<HeldIndex>& v = *held_last_[k];
  if (v.size() < t.def().real_indexes.size()) v.resize(t.def().real_indexes.size());
  HeldIndex& h = v[real_index];
  if (h.state == HeldIndex::State::kUnknown) {
    h.state = HeldIndex::State::kDirect;
    if (pager_->writable()) {
      // The header settles it for any root with entries; only one that
      // claims to have none is read whole.
      const Format& f = pager_->format();
      const ByteView root = pager_->Read(t.def().real_indexes[real_index].first_page);
      const IndexPageHeader head = ReadIndexPageHeader(f, root);
      if (head.leaf && head.free_space == IndexPageCapacity(f) &&
          ParseIndexPage(f, root).entries.empty()) {
        h.state = HeldIndex::State::kHeld;
        h.entries = std::make_unique<PendingIndex>();
      }
    }
  }
  return h.state == HeldIndex::State::kHeld ? h.entries.get() : nullptr;
}

void FileState::WriteHeld(Table& t, size_t real_index) {
  auto it = held_.find(&t);
  if (it == held_.end() || real_index >= it->second.size()) return;
  HeldIndex& h = it->second[real_index];
  if (h.state != HeldIndex::State::kHeld) return;
  const RealIndexDef& ri = t.def().real_indexes[real_index];
  IndexPagesOf pages(*pager_, ri);
  const Format& f = pager_->format();
  std::unique_ptr<PendingIndex> entries = std::move(h.entries);
  // From here on the pages are the index, whatever happens below.
  h.state = HeldIndex::State::kDirect;
  // Nothing reached the tree since it was found empty: it is built whole.
  // Each page is written once and complete, so it leaves the cache at once
  // (but the root, where every search starts).
  SortedIndexWriter writer(
      f, t.def().page, ri.first_page, [&] { return pages.Allocate(); },
      [&](uint32_t page, ByteView data) {
        pager_->Write(page, data);
        if (page != ri.first_page) pager_->Retire(page);
      });
  entries->TakeInOrder([&](ByteView key, RowId row) { writer.Add(key, row); });
  writer.Finish();
}

void FileState::WriteAllHeld() {
  struct Entries {
    Table* table;
    size_t index;
    PendingIndex* entries;
  };
  // Tables in the order of their definition pages, not of the map, so
  // that the same rows give the same file every time.
  std::vector<Table*> tables;
  tables.reserve(held_.size());
  for (auto& held : held_) tables.push_back(held.first);
  std::sort(tables.begin(), tables.end(),
            [](const Table* a, const Table* b) { return a->def().page < b->def().page; });
  std::vector<Entries> all;
  size_t total = 0;
  for (Table* table : tables) {
    std::vector<HeldIndex>& indexes = held_.at(table);
    for (size_t i = 0; i < indexes.size(); ++i) {
      PendingIndex* p = indexes[i].entries.get();
      if (indexes[i].state != HeldIndex::State::kHeld || !p) continue;
      all.push_back({table, i, p});
      total += p->size();
    }
  }
  if (all.size() > 1 && total >= kSortAheadEntries) {
    // Sorting an index's entries takes about as long as writing them: a
    // second thread sorts the next index (one or two ahead, so that few
    // orders wait in memory) while this one writes the last sorted.
    std::mutex mu;
    std::condition_variable cv;
    size_t sorted = 0, written = 0;
    bool stop = false;
    std::thread sorter([&] {
      for (size_t k = 0; k < all.size(); ++k) {
        {
          std::unique_lock<std::mutex> lock(mu);
          cv.wait(lock, [&] { return stop || k <= written + 1; });
          if (stop) return;
        }
        all[k].entries->SortAhead();
        {
          std::lock_guard<std::mutex> lock(mu);
          sorted = k + 1;
        }
        cv.notify_all();
      }
    });
    struct Join {
      std::mutex& mu;
      std::condition_variable& cv;
      bool& stop;
      std::thread& t;
      ~Join() {
        {
          std::lock_guard<std::mutex> lock(mu);
          stop = true;
        }
        cv.notify_all();
        t.join();
      }
    } join{mu, cv, stop, sorter};
    for (size_t k = 0; k < all.size(); ++k) {
      {
        std::unique_lock<std::mutex> lock(mu);
        cv.wait(lock, [&] { return sorted > k; });
      }
      WriteHeld(*all[k].table, all[k].index);
      {
        std::lock_guard<std::mutex> lock(mu);
        written = k + 1;
      }
      cv.notify_all();
    }
  }
  for (Table* table : tables) {
    for (size_t i = 0; i < held_.at(table).size(); ++i) WriteHeld(*table, i);
  }
  held_.clear();
  ForgetHeldAtHand();
}

void FileState::LimitHeld() {
  if (++held_adds_ % kHeldLookEvery != 0) return;
  size_t total = 0, largest = 0;
  Table* largest_table = nullptr;
  size_t largest_index = 0;
  for (const auto& [table, indexes] : held_) {
    for (size_t i = 0; i < indexes.size(); ++i) {
      if (!indexes[i].entries) continue;
      const size_t b = indexes[i].entries->bytes();
      total += b;
      if (b > largest) {
        largest = b;
        largest_table = table;
        largest_index = i;
      }
    }
  }
  if (total > held_budget_ && largest_table)
    WriteHeld(*largest_table, largest_index);
}

void FileState::FindIndexRows(Table& t, size_t real_index, ByteView key, size_t limit,
                              std::vector<RowId>& out, IndexSpot* spot) {
  if (PendingIndex* p = Held(t, real_index)) {
    p->Find(key, limit, out);
    return;
  }
  FindIndexRowsInto(t.pager(), t.def().real_indexes[real_index].first_page, key, limit, out, spot);
}

void FileState::Flush(bool sync) {
  if (!pager_->writable()) return;
  WriteAllHeld();
  for (auto& [page, t] : tables_) t->SaveDefinition();
  // Nobody reads the copy before the commit puts it in place: writing the
  // changed pages after every operation only wrote the catalogue's few
  // pages hundreds of times while a database was built.
  if (sync) pager_->Flush(true);
}

void FileState::Commit() {
  if (pager_->failed() && failure_reported_) return;
  try {
    Flush(false);
    pager_->Commit();
  } catch (const JetError&) {
    // Entries or definitions that could not be written would leave the
    // file's indexes behind its rows: nothing of it goes in place.
    if (!pager_->failed()) pager_->Discard();
    failure_reported_ = true;
    throw;
  }
}

void FileState::Discard() {
  pager_->Discard();
  failure_reported_ = true;
}

void FileState::CloseHandle() {
  if (--handles_ == 0) Commit();
}

void FileState::DropHandle() noexcept {
  // A failed pager's error was thrown to the call that met it; nothing of
  // it goes in place.
  if (--handles_ > 0 || pager_->failed()) return;
  try {
    Commit();
  } catch (const JetError& e) {
    DeferError(e);
  } catch (const std::exception&) {
    DeferError(JetError(kErrDiskIo));
  }
}

}  // namespace jet
