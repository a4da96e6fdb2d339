#include "jet/relations.h"

#include <algorithm>
#include <map>
#include <set>

#include "jet/catalog_layout.h"
#include "jet/database.h"
#include "jet/error.h"
#include "jet/index_key.h"
#include "jet/integrity.h"
#include "jet/table.h"
#include "jet/text.h"
#include "jet/usage_map.h"

namespace jet {
namespace {

constexpr uint8_t kOtherIsReferencing = 1;  // rel_table_type on the referenced side
constexpr uint8_t kOtherIsReferenced = 2;   // rel_table_type on the referencing side

// One MSysRelationships row.
struct RelationshipRecord {
  RowId row;
  std::string name;
  int32_t grbit = 0;
  int32_t icolumn = 0;
  std::string object;
  std::string column;
  std::string referenced_object;
  std::string referenced_column;
};

std::vector<RelationshipRecord> ReadRelationshipRecords(FileState& file) {
  std::vector<RelationshipRecord> out;
  auto e = file.FindTable("MSysRelationships");
  if (!e) return out;
  Table& t = file.TableAt(e->tdef_page(), e->name);
  const TableDef& def = t.def();
  const std::optional<RelationshipSlots> slots = FindRelationshipSlots(def);
  if (!slots) throw JetError(kErrCorrupt);
  const int name = slots->name, grbit = slots->grbit, icolumn = slots->icolumn,
            object = slots->object, column = slots->column, ref_object = slots->ref_object,
            ref_column = slots->ref_column;
  std::vector<Value> v;
  Table::Scan scan(t);
  while (scan.Next()) {
    t.DecodeRow(scan.bytes(), v);
    auto text = [&](int i) {
      const Value& x = v[static_cast<size_t>(i)];
      return x.is_null() ? std::string() : x.as<std::string>();
    };
    auto number = [&](int i) {
      const Value& x = v[static_cast<size_t>(i)];
      return x.is_null() ? 0 : x.as<int32_t>();
    };
    out.push_back({scan.row_id(), text(name), number(grbit), number(icolumn), text(object),
                   text(column), text(ref_object), text(ref_column)});
  }
  return out;
}

std::vector<Value> RowByName(const TableDef& def,
                             const std::vector<std::pair<std::string, Value>>& values) {
  std::vector<Value> row(def.columns.size());
  for (const auto& [name, v] : values) {
    const ColumnDef* c = def.FindColumn(name);
    if (!c) throw JetError(kErrCorrupt);
    row[static_cast<size_t>(c - def.columns.data())] = v;
  }
  return row;
}

std::string TableNameAt(FileState& file, uint32_t page) {
  for (const auto& e : file.TableEntries()) {
    if (e.tdef_page() == page) return e.name;
  }
  return {};
}

// Frees a page in the global map when it still belongs to `tdef_page`.
void FreeOwnedPage(Pager& pager, uint32_t page, uint32_t tdef_page) {
  if (page == 0 || page >= pager.page_count()) return;
  ByteView b = pager.Read(page);
  uint8_t type = b[0];
  bool owned_type = type == static_cast<uint8_t>(PageType::kData) ||
                    type == static_cast<uint8_t>(PageType::kIndexNode) ||
                    type == static_cast<uint8_t>(PageType::kIndexLeaf);
  if (!owned_type || Get32(b, 4) != tdef_page) return;
  MarkPageFreed(pager, page);
}

void FreeIndexPages(Pager& pager, const RealIndexDef& ri, uint32_t tdef_page) {
  if (ri.used_pages == 0) return;
  for (uint32_t p : ReadUsageMap(pager, RowId::FromPacked(ri.used_pages))) {
    FreeOwnedPage(pager, p, tdef_page);
  }
}

}  // namespace

bool RelationLink::cascade_updates() const { return (grbit & catalog::kRelUpdateCascade) != 0; }
bool RelationLink::cascade_deletes() const { return (grbit & catalog::kRelDeleteCascade) != 0; }

int FindRealIndex(const TableDef& def, const std::vector<uint16_t>& columns, bool unique_only) {
  std::vector<uint16_t> want = columns;
  std::sort(want.begin(), want.end());
  for (size_t i = 0; i < def.real_indexes.size(); ++i) {
    const RealIndexDef& ri = def.real_indexes[i];
    if (unique_only && !(ri.flags & kIdxUnique)) continue;
    std::vector<uint16_t> have;
    bool ascending = true;
    for (const auto& ic : ri.columns) {
      have.push_back(ic.column_number);
      ascending &= ic.ascending;
    }
    std::sort(have.begin(), have.end());
    if (ascending && have == want) return static_cast<int>(i);
  }
  return -1;
}

std::string ReferencedIndexName(const TableDef& def) {
  auto taken = [&](const std::string& n) {
    return std::any_of(def.indexes.begin(), def.indexes.end(),
                       [&](const LogicalIndexDef& li) { return NamesEqual(li.name, n); });
  };
  // The letter follows the new entry's index number: "A" for 0, "B" for 1...
  // then lower case; a taken name moves on to the next letter.
  static const std::string kLetters = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz";
  size_t n = def.indexes.size();
  for (size_t k = 0; k < kLetters.size(); ++k) {
    std::string name = std::string(".r") + kLetters[(n + k) % kLetters.size()];
    // ".rA" and ".ra" fold to the same name; skip both spellings when taken.
    if (!taken(name)) return name;
  }
  for (size_t k = 0;; ++k) {
    std::string name = ".r" + std::to_string(k);
    if (!taken(name)) return name;
  }
}

void InsertLogicalIndex(TableDef& def, LogicalIndexDef index) {
  auto pos = std::find_if(def.indexes.begin(), def.indexes.end(), [&](const LogicalIndexDef& li) {
    return CompareNames(li.name, index.name) > 0;
  });
  def.indexes.insert(pos, std::move(index));
}

std::vector<RelationLink> LoadRelationLinks(FileState& file) {
  std::vector<RelationLink> out;
  // Nothing below changes MSysRelationships.
  for (const auto& r : file.CurrentRelations()) {
    if (r.attributes & catalog::kRelDontEnforce) continue;
    auto pe = file.FindTable(r.table);
    auto ce = file.FindTable(r.foreign_table);
    if (!pe || !ce) continue;
    Table& parent = file.TableAt(pe->tdef_page(), pe->name);
    Table& child = file.TableAt(ce->tdef_page(), ce->name);
    RelationLink link;
    link.name = r.name;
    link.grbit = r.attributes;
    link.parent_page = pe->tdef_page();
    link.parent_name = pe->name;
    link.child_page = ce->tdef_page();
    link.child_name = ce->name;
    bool complete = !r.fields.empty();
    for (const auto& [field, foreign] : r.fields) {
      const ColumnDef* pc = parent.def().FindColumn(field);
      const ColumnDef* cc = child.def().FindColumn(foreign);
      if (!pc || !cc) {
        complete = false;
        break;
      }
      link.parent_columns.push_back(pc->number);
      link.child_columns.push_back(cc->number);
    }
    if (!complete) continue;
    link.parent_index = FindRealIndex(parent.def(), link.parent_columns, true);
    link.child_index = FindRealIndex(child.def(), link.child_columns, false);
    out.push_back(std::move(link));
  }
  return out;
}

// ---- FileState: relations ----

std::vector<FileState::RelationInfo> FileState::Relations() { return CurrentRelations(); }

const std::vector<FileState::RelationInfo>& FileState::CurrentRelations() {
  // Read again only when MSysRelationships changed: every schema change
  // asks, and a database under construction makes hundreds of them.
  auto e = FindTable("MSysRelationships");
  if (!e) {
    relations_.emplace();
    relations_stamp_ = 0;
    return *relations_;
  }
  const uint64_t stamp = TableAt(e->tdef_page(), e->name).stamp();
  if (relations_ && relations_stamp_ == stamp) return *relations_;

  std::vector<RelationshipRecord> rows = ReadRelationshipRecords(*this);
  std::stable_sort(rows.begin(), rows.end(), [](const auto& a, const auto& b) {
    return a.icolumn < b.icolumn;
  });
  std::vector<RelationInfo> found;
  // By folded name, which is also the order the catalogue lists them in.
  std::map<std::u16string, size_t> by_name;
  for (const auto& r : rows) {
    auto [it, added] = by_name.emplace(FoldName(r.name), found.size());
    if (added) {
      RelationInfo info;
      info.name = r.name;
      info.table = r.referenced_object;
      info.foreign_table = r.object;
      // DAO's attribute values are the stored bits.
      info.attributes = r.grbit;
      found.push_back(std::move(info));
    }
    found[it->second].fields.push_back({r.referenced_column, r.column});
  }
  std::vector<RelationInfo> out;
  out.reserve(found.size());
  for (const auto& [folded, i] : by_name) out.push_back(std::move(found[i]));
  relations_ = std::move(out);
  relations_stamp_ = stamp;
  return *relations_;
}

void FileState::CreateRelation(const NewRelation& relation) {
  if (!pager_->writable()) throw JetError(kErrReadOnly);
  WriteAllHeld();
  if (relation.name.empty() || relation.name.size() > 64) {
    throw JetError(kErrNameInvalid, relation.name);
  }
  for (const auto& e : catalog_) {
    if (e.parent_id == catalog::kRelationshipsContainerId && NamesEqual(e.name, relation.name)) {
      throw JetError(kErrObjectExists, relation.name);
    }
  }
  for (const auto& r : Relations()) {
    if (NamesEqual(r.name, relation.name)) throw JetError(kErrObjectExists, relation.name);
  }
  auto pe = FindTable(relation.table);
  if (!pe) throw JetError(kErrObjectNotFound, relation.table);
  auto ce = FindTable(relation.foreign_table);
  if (!ce) throw JetError(kErrObjectNotFound, relation.foreign_table);
  if (relation.fields.empty() || relation.fields.size() > 10) throw JetError(kErrInvalidArgument);
  Table& parent = TableAt(pe->tdef_page(), pe->name);
  Table& child = TableAt(ce->tdef_page(), ce->name);

  std::vector<std::string> parent_names, child_names;
  std::vector<uint16_t> parent_cols, child_cols;
  for (const auto& [field, foreign] : relation.fields) {
    const ColumnDef* pc = parent.def().FindColumn(field);
    if (!pc) throw JetError(kErrItemNotFound, field);
    const ColumnDef* cc = child.def().FindColumn(foreign);
    if (!cc) throw JetError(kErrItemNotFound, foreign);
    if (pc->type != cc->type) throw JetError(kErrRelationFieldsMismatch);
    parent_names.push_back(pc->name);
    child_names.push_back(cc->name);
    parent_cols.push_back(pc->number);
    child_cols.push_back(cc->number);
  }

  const bool enforce = !(relation.attributes & catalog::kRelDontEnforce);
  int parent_index = -1;
  if (enforce) {
    parent_index = FindRealIndex(parent.def(), parent_cols, true);
    if (parent_index < 0) throw JetError(kErrNoUniqueIndex);
    for (const auto& li : child.def().indexes) {
      if (NamesEqual(li.name, relation.name)) throw JetError(kErrIndexExists, relation.name);
    }
    // Every referencing row already there needs its referenced row.
    RelationLink link;
    link.parent_page = parent.def().page;
    link.parent_name = parent.name();
    link.parent_columns = parent_cols;
    link.child_columns = child_cols;
    link.parent_index = parent_index;
    const RealIndexDef& ri = parent.def().real_indexes[static_cast<size_t>(parent_index)];
    // Only the referencing columns are decoded.
    std::vector<Value> row(child.def().columns.size());
    std::vector<size_t> child_slots;
    for (uint16_t number : child_cols) child_slots.push_back(child.def().SlotOf(number));
    Bytes raw;
    std::vector<ColumnSlice> slices;
    Table::Scan scan(child);
    while (scan.Next()) {
      raw.assign(scan.bytes().begin(), scan.bytes().end());
      CrackRow(child.format(), child.def(), raw, slices);
      for (size_t slot : child_slots) child.DecodeColumnInto(child.def().columns[slot], slices[slot], row[slot]);
      bool has_null = false;
      Bytes key;
      for (const auto& ic : ri.columns) {
        size_t pair = static_cast<size_t>(
            std::find(parent_cols.begin(), parent_cols.end(), ic.column_number) - parent_cols.begin());
        const ColumnDef* cc = child.def().ColumnByNumber(child_cols[pair]);
        const Value& v = row[static_cast<size_t>(cc - child.def().columns.data())];
        has_null |= v.is_null();
        AppendKeyColumn(key, v, *parent.def().ColumnByNumber(ic.column_number), ic.ascending);
      }
      if (has_null) continue;
      if (SeekIndex(*pager_, ri.first_page, key, 1).empty()) {
        throw JetError(kErrRelationDataViolation, child.name());
      }
    }
  }

  // The MSysRelationships rows, then the catalogue object with its ACEs.
  Table& rels = GetTable("MSysRelationships");
  // Relations() as read before these rows takes them in without reading
  // the table again, as it would list them.
  const bool listed = relations_ && relations_stamp_ == rels.stamp();
  const auto rows = catalog::RelationshipRows(relation.name, relation.attributes, child.name(),
                                              child_names, parent.name(), parent_names);
  for (const auto& r : rows) {
    WriteInsert(rels, RowByName(rels.def(), {{"szRelationship", Value(r.relationship)},
                                            {"grbit", Value(r.grbit)},
                                            {"ccolumn", Value(r.column_count)},
                                            {"icolumn", Value(r.column_index)},
                                            {"szObject", Value(r.object)},
                                            {"szColumn", Value(r.column)},
                                            {"szReferencedObject", Value(r.referenced_object)},
                                            {"szReferencedColumn", Value(r.referenced_column)}}));
  }
  if (listed) {
    RelationInfo info;
    info.name = rows.front().relationship;
    info.table = rows.front().referenced_object;
    info.foreign_table = rows.front().object;
    info.attributes = rows.front().grbit;
    for (const auto& r : rows) info.fields.push_back({r.referenced_column, r.column});
    const std::u16string key = FoldName(info.name);
    auto at = std::find_if(relations_->begin(), relations_->end(),
                           [&](const RelationInfo& r) { return FoldName(r.name) > key; });
    relations_->insert(at, std::move(info));
    relations_stamp_ = rels.stamp();
  }
  AddCatalogRows(relation.name, NextNonTableId(), catalog::kObjectRelationship, Bytes{});

  if (enforce) {
    const uint8_t cascade_updates = (relation.attributes & catalog::kRelUpdateCascade) ? 1 : 0;
    const uint8_t cascade_deletes = (relation.attributes & catalog::kRelDeleteCascade) ? 1 : 0;
    const bool self = &parent == &child;
    const auto parent_number = static_cast<uint32_t>(parent.def().indexes.size());
    const auto child_number =
        self ? parent_number + 1 : static_cast<uint32_t>(child.def().indexes.size());

    LogicalIndexDef referenced;
    referenced.name = ReferencedIndexName(parent.def());
    referenced.index_number = parent_number;
    referenced.real_index = static_cast<uint32_t>(parent_index);
    referenced.type = kIdxForeign;
    referenced.rel_table_type = kOtherIsReferencing;
    referenced.rel_index_number = static_cast<int32_t>(child_number);
    referenced.rel_table_page = child.def().page;
    referenced.cascade_updates = cascade_updates;
    referenced.cascade_deletes = cascade_deletes;
    InsertLogicalIndex(parent.mutable_def(), referenced);

    LogicalIndexDef referencing;
    referencing.name = relation.name;
    referencing.index_number = child_number;
    referencing.type = kIdxForeign;
    referencing.rel_table_type = kOtherIsReferenced;
    referencing.rel_index_number = static_cast<int32_t>(parent_number);
    referencing.rel_table_page = parent.def().page;
    referencing.cascade_updates = cascade_updates;
    referencing.cascade_deletes = cascade_deletes;
    int child_index = FindRealIndex(child.def(), child_cols, false);
    if (child_index < 0) {
      // A new non-unique real index over the referencing fields; the plain
      // logical entry the builder adds makes way for the foreign-key one.
      NewIndex ni;
      ni.name = relation.name;
      ni.columns = child_names;
      CreateIndexOn(child, ni);
      TableDef& cd = child.mutable_def();
      child_index = static_cast<int>(cd.indexes.back().real_index);
      cd.indexes.pop_back();
    }
    referencing.real_index = static_cast<uint32_t>(child_index);
    InsertLogicalIndex(child.mutable_def(), referencing);

    parent.RewriteDefinition();
    if (!self) child.RewriteDefinition();
  }
  integrity().Invalidate();
  Flush();
}

// ---- FileState: dropping ----

void FileState::DropIndex(const std::string& table, const std::string& index) {
  if (!pager_->writable()) throw JetError(kErrReadOnly);
  WriteAllHeld();
  Table& t = GetTable(table);
  const TableDef& def = t.def();
  size_t pos = def.indexes.size();
  for (size_t i = 0; i < def.indexes.size(); ++i) {
    if (NamesEqual(def.indexes[i].name, index)) pos = i;
  }
  if (pos == def.indexes.size()) throw JetError(kErrItemNotFound, index);
  const LogicalIndexDef& li = def.indexes[pos];
  // A relationship's own index, or the unique index a relationship uses.
  for (const auto& other : def.indexes) {
    if (other.type == kIdxForeign && other.real_index == li.real_index) {
      throw JetError(kErrIndexInRelation);
    }
  }
  RelationStore::RemoveLogicalIndex(*this, t, pos, 0);
  t.RewriteDefinition();
  integrity().Invalidate();
  Flush();
}

void FileState::DropTable(const std::string& name) {
  if (!pager_->writable()) throw JetError(kErrReadOnly);
  WriteAllHeld();
  auto e = FindTable(name);
  if (!e) throw JetError(kErrItemNotFound, name);
  if (e->is_system()) throw JetError(kErrInvalidOperation);
  Table& t = TableAt(e->tdef_page(), e->name);
  const uint32_t page = e->tdef_page();

  for (const auto& r : Relations()) {
    if (NamesEqual(r.table, e->name) || NamesEqual(r.foreign_table, e->name)) {
      RelationStore::RemoveRelation(*this, r.name, page);
    }
  }
  RelationStore::RemoveCatalogObject(*this, e->id);

  // The table's pages go back to the global map: data and long-value pages,
  // index pages, then the definition chain.
  for (uint32_t p : t.OwnedPages()) FreeOwnedPage(*pager_, p, page);
  for (const auto& ri : t.def().real_indexes) FreeIndexPages(*pager_, ri, page);
  std::set<uint32_t> seen;
  for (uint32_t p = page; p != 0 && p < pager_->page_count() && seen.insert(p).second;) {
    ByteView b = pager_->Read(p);
    if (b[0] != static_cast<uint8_t>(PageType::kTableDef)) break;
    uint32_t next = Get32(b, 4);
    MarkPageFreed(*pager_, p);
    p = next;
  }
  held_.erase(&t);  // whatever it held went with it
  ForgetHeldAtHand();
  tables_.erase(page);
  integrity().Invalidate();
  Flush();
}

// ---- RelationStore ----

void RelationStore::RemoveLogicalIndex(FileState& file, Table& t, size_t pos, uint32_t skip_page) {
  TableDef& def = t.mutable_def();
  const LogicalIndexDef gone = def.indexes.at(pos);
  const uint32_t number = gone.index_number;
  std::set<uint32_t> partners;
  for (const auto& li : def.indexes) {
    if (li.type == kIdxForeign && li.rel_table_page != def.page) partners.insert(li.rel_table_page);
  }
  def.indexes.erase(def.indexes.begin() + static_cast<ptrdiff_t>(pos));
  for (auto& li : def.indexes) {
    if (li.index_number > number) --li.index_number;
    if (li.type == kIdxForeign && li.rel_table_page == def.page && li.rel_index_number >= 0 &&
        static_cast<uint32_t>(li.rel_index_number) > number) {
      --li.rel_index_number;
    }
  }
  for (uint32_t p : partners) {
    if (p == skip_page) continue;
    std::string name = TableNameAt(file, p);
    if (name.empty()) continue;
    Table& other = file.TableAt(p, name);
    bool changed = false;
    for (auto& li : other.mutable_def().indexes) {
      if (li.type == kIdxForeign && li.rel_table_page == def.page && li.rel_index_number >= 0 &&
          static_cast<uint32_t>(li.rel_index_number) > number) {
        --li.rel_index_number;
        changed = true;
      }
    }
    if (changed) other.RewriteDefinition();
  }

  const uint32_t real = gone.real_index;
  bool used = std::any_of(def.indexes.begin(), def.indexes.end(),
                          [&](const LogicalIndexDef& li) { return li.real_index == real; });
  if (used) return;
  FreeIndexPages(file.pager(), def.real_indexes.at(real), def.page);
  def.real_indexes.erase(def.real_indexes.begin() + static_cast<ptrdiff_t>(real));
  for (auto& li : def.indexes) {
    if (li.real_index > real) --li.real_index;
  }
}

void RelationStore::RemoveRelation(FileState& file, const std::string& name, uint32_t skip_page) {
  auto rows = ReadRelationshipRecords(file);
  Table& rels = file.GetTable("MSysRelationships");
  std::string parent_name, child_name;
  for (const auto& r : rows) {
    if (!NamesEqual(r.name, name)) continue;
    parent_name = r.referenced_object;
    child_name = r.object;
    file.WriteDelete(rels, r.row, rels.ReadRow(r.row));
  }
  int32_t object_id = 0;
  for (const auto& e : file.catalog_) {
    if (e.parent_id == catalog::kRelationshipsContainerId && NamesEqual(e.name, name)) object_id = e.id;
  }
  if (object_id != 0) RemoveCatalogObject(file, object_id);
  // The foreign-key indexes: the referencing side is named like the
  // relationship; the referenced side's entry is the one it points back to.
  auto pe = file.FindTable(parent_name);
  auto ce = file.FindTable(child_name);
  if (!pe || !ce) return;
  Table& child = file.TableAt(ce->tdef_page(), ce->name);
  Table& parent = file.TableAt(pe->tdef_page(), pe->name);
  std::string referencing, referenced;
  for (const auto& li : child.def().indexes) {
    if (li.type != kIdxForeign || !NamesEqual(li.name, name) ||
        li.rel_table_page != parent.def().page || li.rel_table_type != kOtherIsReferenced) {
      continue;
    }
    referencing = li.name;
    for (const auto& pl : parent.def().indexes) {
      if (pl.type == kIdxForeign && pl.rel_table_type == kOtherIsReferencing &&
          pl.rel_table_page == child.def().page && pl.rel_index_number >= 0 &&
          static_cast<uint32_t>(pl.rel_index_number) == li.index_number &&
          pl.index_number == static_cast<uint32_t>(li.rel_index_number)) {
        referenced = pl.name;
      }
    }
  }
  auto remove = [&](Table& t, const std::string& index) {
    if (index.empty() || t.def().page == skip_page) return;
    const auto& idx = t.def().indexes;
    for (size_t i = 0; i < idx.size(); ++i) {
      if (!NamesEqual(idx[i].name, index)) continue;
      RemoveLogicalIndex(file, t, i, skip_page);
      t.RewriteDefinition();
      return;
    }
  };
  remove(child, referencing);
  remove(parent, referenced);
}

void RelationStore::RemoveCatalogObject(FileState& file, int32_t id) {
  Table& objects = file.GetTable("MSysObjects");
  Table& aces = file.GetTable("MSysACEs");
  for (auto it = file.catalog_.begin(); it != file.catalog_.end(); ++it) {
    if (it->id != id) continue;
    file.WriteDelete(objects, it->row, objects.ReadRow(it->row));
    file.catalog_.erase(it);
    break;
  }
  const ColumnDef* object_id = aces.def().FindColumn("ObjectId");
  if (!object_id) throw JetError(kErrCorrupt);
  const size_t slot = static_cast<size_t>(object_id - aces.def().columns.data());
  std::vector<std::pair<RowId, std::vector<Value>>> doomed;
  std::vector<Value> v;
  Table::Scan scan(aces);
  while (scan.Next()) {
    aces.DecodeRow(scan.bytes(), v);
    if (!v[slot].is_null() && v[slot].as<int32_t>() == id) doomed.push_back({scan.row_id(), v});
  }
  for (const auto& [row, values] : doomed) file.WriteDelete(aces, row, values);
}

std::optional<RelationshipSlots> FindRelationshipSlots(const TableDef& def) {
  auto slot = [&](const char* name) -> int {
    const ColumnDef* c = def.FindColumn(name);
    return c ? static_cast<int>(c - def.columns.data()) : -1;
  };
  const RelationshipSlots s{slot("szRelationship"), slot("grbit"),
                            slot("icolumn"),        slot("szObject"),
                            slot("szColumn"),       slot("szReferencedObject"),
                            slot("szReferencedColumn")};
  for (int at : {s.name, s.grbit, s.icolumn, s.object, s.column, s.ref_object, s.ref_column}) {
    if (at < 0) return std::nullopt;
  }
  return s;
}

}  // namespace jet
