#include "jet/integrity.h"

#include "jet/index_builder.h"

#include <algorithm>
#include <bit>
#include <cstring>
#include <set>
#include <utility>

#include "jet/catalog_layout.h"
#include "jet/database.h"
#include "jet/error.h"
#include "jet/format.h"
#include "jet/index_key.h"
#include "jet/props.h"
#include "jet/structure_check.h"
#include "jet/tabledef.h"
#include "jet/text.h"

namespace jet {
namespace {

bool AnyNull(const TableDef& def, const std::vector<uint16_t>& columns,
             const std::vector<Value>& values) {
  for (uint16_t c : columns) {
    if (values[def.SlotOf(c)].is_null()) return true;
  }
  return false;
}

bool IndexHasNull(const TableDef& def, const RealIndexDef& ri, const std::vector<Value>& values) {
  for (const auto& ic : ri.columns) {
    if (values[def.SlotOf(ic.column_number)].is_null()) return true;
  }
  return false;
}


// The key of `to_index` on `to` holding the values that `from_columns` have
// in a row of `from`; the two column lists pair up by position.
void AppendMappedKey(Bytes& key, const TableDef& to, const RealIndexDef& to_index,
                     const std::vector<uint16_t>& to_columns, const TableDef& from,
                     const std::vector<uint16_t>& from_columns, const std::vector<Value>& values) {
  for (const auto& ic : to_index.columns) {
    auto it = std::find(to_columns.begin(), to_columns.end(), ic.column_number);
    if (it == to_columns.end()) throw JetError(kErrCorrupt);
    size_t pair = static_cast<size_t>(it - to_columns.begin());
    const Value& v = values[from.SlotOf(from_columns[pair])];
    AppendKeyColumn(key, v, to.columns[to.SlotOf(ic.column_number)], ic.ascending);
  }
}

Bytes MappedKey(const TableDef& to, const RealIndexDef& to_index,
                const std::vector<uint16_t>& to_columns, const TableDef& from,
                const std::vector<uint16_t>& from_columns, const std::vector<Value>& values) {
  Bytes key;
  AppendMappedKey(key, to, to_index, to_columns, from, from_columns, values);
  return key;
}

// Whether two rows hold the same values in `columns`, compared as index keys.
bool SameValues(const TableDef& def, const std::vector<uint16_t>& columns,
                const std::vector<Value>& a, const std::vector<Value>& b) {
  for (uint16_t c : columns) {
    size_t i = def.SlotOf(c);
    if (SameBits(a[i], b[i])) continue;
    Bytes ka, kb;
    AppendKeyColumn(ka, a[i], def.columns[i], true);
    AppendKeyColumn(kb, b[i], def.columns[i], true);
    if (ka != kb) return false;
  }
  return true;
}


}  // namespace

std::vector<RowId> SeekIndex(Pager& pager, uint32_t root, ByteView key, size_t limit) {
  return FindIndexRows(pager, root, key, limit);
}

// ---- cached catalogue facts ----

void Integrity::Invalidate() {
  loaded_ = false;
  links_.clear();
  same_key_.clear();
  child_links_.clear();
  may_reference_.clear();
  rules_.clear();
  value_checks_.clear();
  checks_ = nullptr;
}

const std::vector<RelationLink>& Integrity::Links() {
  if (!loaded_) {
    links_ = LoadRelationLinks(file_);
    same_key_.assign(links_.size(), -1);
    child_links_.clear();
    loaded_ = true;
  }
  return links_;
}

const std::vector<size_t>& Integrity::ChildLinks(uint32_t tdef_page) {
  const std::vector<RelationLink>& links = Links();
  auto [it, added] = child_links_.try_emplace(tdef_page);
  if (added) {
    for (size_t n = 0; n < links.size(); ++n) {
      if (links[n].child_page == tdef_page) it->second.push_back(n);
    }
  }
  return it->second;
}

const std::vector<Integrity::ColumnRule>& Integrity::Rules(Table& t) {
  auto it = rules_.find(t.def().page);
  if (it != rules_.end()) return it->second;
  std::vector<ColumnRule> rules(t.def().columns.size());
  // System tables carry no field properties; their rows follow the engine.
  // A field without a stored AllowZeroLength (DDL fields) takes "" as the
  // engine does; only a stored False refuses it.
  for (auto& r : rules) r.allow_zero_length = true;
  auto entry = file_.FindTable(t.name());
  if (t.def().table_type == 0x4e && entry) {
    Table& objects = file_.GetTable("MSysObjects");
    const ColumnDef* lvprop = objects.def().FindColumn("LvProp");
    std::vector<Value> row = objects.ReadRow(entry->row);
    const Value* blob =
        lvprop ? &row[static_cast<size_t>(lvprop - objects.def().columns.data())] : nullptr;
    if (blob && !blob->is_null()) {
      Properties props = ParseProperties(blob->as<Binary>(), t.format().version);
      for (size_t i = 0; i < t.def().columns.size(); ++i) {
        const PropertyMap* m = props.Column(t.def().columns[i].name);
        if (!m) continue;
        if (const Property* p = m->Find("Required")) rules[i].required = p->AsBool();
        if (const Property* p = m->Find("AllowZeroLength")) rules[i].allow_zero_length = p->AsBool();
      }
    }
  }
  return rules_.emplace(t.def().page, std::move(rules)).first->second;
}

Table& Integrity::TableOf(uint32_t tdef_page, const std::string& name) {
  return file_.TableAt(tdef_page, name);
}

// ---- checks ----

const std::vector<Integrity::ValueCheck>& Integrity::ValueChecks(Table& t) {
  const TableDef& def = t.def();
  if (checks_ && checks_page_ == def.page) return *checks_;
  auto it = value_checks_.find(def.page);
  if (it == value_checks_.end()) {
    const auto& rules = Rules(t);
    std::vector<ValueCheck> checks;
    for (size_t i = 0; i < def.columns.size(); ++i) {
      const ColumnType type = def.columns[i].type;
      const bool not_empty = (type == ColumnType::kText || type == ColumnType::kMemo) &&
                             !rules[i].allow_zero_length;
      if (rules[i].required || not_empty) checks.push_back({i, rules[i].required, not_empty});
    }
    it = value_checks_.emplace(def.page, std::move(checks)).first;
  }
  checks_page_ = def.page;
  checks_ = &it->second;
  return it->second;
}

void Integrity::CheckValues(Table& t, const std::vector<Value>& values) {
  const TableDef& def = t.def();
  for (const ValueCheck& c : ValueChecks(t)) {
    const Value& v = values[c.column];
    if (c.required && v.is_null()) throw JetError(kErrRequired, def.columns[c.column].name);
    if (c.not_empty && v.is<std::string>() && v.as<std::string>().empty()) {
      throw JetError(kErrZeroLength, def.columns[c.column].name);
    }
  }
  CheckIndexNulls(def, values);
}

void Integrity::CheckIndexNulls(const TableDef& def, const std::vector<Value>& values) {
  for (const auto& ri : def.real_indexes) {
    if ((ri.flags & kIdxRequired) && IndexHasNull(def, ri, values)) throw JetError(kErrIndexNull);
  }
}

void Integrity::CheckUnique(Table& t, const std::vector<Value>& values,
                            const std::vector<Value>* old, RowId self, RowKeys* keys) {
  const TableDef& def = t.def();
  Bytes built;
  for (size_t i = 0; i < def.real_indexes.size(); ++i) {
    const RealIndexDef& ri = def.real_indexes[i];
    if (!(ri.flags & kIdxUnique)) continue;
    // An update that leaves the index's values as they were keeps its key.
    if (old && std::all_of(ri.columns.begin(), ri.columns.end(), [&](const IndexColumn& ic) {
          const size_t slot = def.SlotOf(ic.column_number);
          return SameBits(values[slot], (*old)[slot]);
        })) {
      continue;
    }
    // Nulls never collide: a unique index takes any number of them.
    if (IndexHasNull(def, ri, values)) continue;
    ByteView key;
    if (keys) {
      key = (*keys)[i];
    } else {
      built = RowIndexKey(def, ri, values);
      key = built;
    }
    if (old && !IndexHasNull(def, ri, *old) && CompareKeys(RowIndexKey(def, ri, *old), key) == 0)
      continue;
    std::vector<RowId>& rows = found_;
    file_.FindIndexRows(t, i, key, 2, rows, keys ? &keys->spot(i) : nullptr);
    for (RowId r : rows) {
      if (!(r == self)) throw JetError(kErrDuplicateKey);
    }
  }
}

bool Integrity::MayReference(const Table& t) {
  auto [known, added] = may_reference_.emplace(t.def().page, false);
  if (!added) return known->second;
  // A link's referencing table is the one its name finds in the catalogue.
  for (const auto& e : file_.catalog_) {
    if (e.parent_id != catalog::kTablesContainerId || e.type != catalog::kObjectTable ||
        e.tdef_page() != t.def().page) {
      continue;
    }
    for (const auto& r : file_.CurrentRelations()) {
      if (!(r.attributes & catalog::kRelDontEnforce) && NamesEqual(r.foreign_table, e.name)) {
        return known->second = true;
      }
    }
  }
  return false;
}

bool Integrity::SameKey(const RelationLink& link, const Table& child, Table& parent) {
  const size_t n = static_cast<size_t>(&link - links_.data());
  if (n >= same_key_.size()) return false;
  if (same_key_[n] >= 0) return same_key_[n] == 1;
  const TableDef& cd = child.def();
  const TableDef& pd = parent.def();
  bool same = link.child_index >= 0 && link.parent_index >= 0;
  if (same) {
    const RealIndexDef& ci = cd.real_indexes[static_cast<size_t>(link.child_index)];
    const RealIndexDef& pi = pd.real_indexes[static_cast<size_t>(link.parent_index)];
    same = ci.columns.size() == pi.columns.size();
    for (size_t k = 0; same && k < pi.columns.size(); ++k) {
      auto it = std::find(link.parent_columns.begin(), link.parent_columns.end(),
                          pi.columns[k].column_number);
      if (it == link.parent_columns.end()) {
        same = false;
        break;
      }
      const uint16_t child_number =
          link.child_columns[static_cast<size_t>(it - link.parent_columns.begin())];
      const ColumnDef* cc = cd.ColumnByNumber(child_number);
      const ColumnDef* pc = pd.ColumnByNumber(pi.columns[k].column_number);
      // The key's bytes follow the column's type, sort order and scale.
      same = ci.columns[k].column_number == child_number &&
             ci.columns[k].ascending == pi.columns[k].ascending && cc && pc &&
             cc->type == pc->type && cc->sort_order == pc->sort_order &&
             cc->sort_version == pc->sort_version && cc->precision == pc->precision &&
             cc->scale == pc->scale;
    }
  }
  same_key_[n] = same ? 1 : 0;
  return same;
}

void Integrity::CheckReferenced(Table& t, const std::vector<Value>& values,
                                const std::vector<Value>* old, const RelationLink* cascading,
                                const RowKeys* keys) {
  if (!loaded_ && !MayReference(t)) return;
  for (const size_t n : ChildLinks(t.def().page)) {
    const RelationLink& link = links_[n];
    if (&link == cascading) continue;
    // A null foreign key refers to nothing and needs no row.
    if (AnyNull(t.def(), link.child_columns, values)) continue;
    if (old && SameValues(t.def(), link.child_columns, values, *old)) continue;
    Table& parent = TableOf(link.parent_page, link.parent_name);
    bool found = false;
    if (link.parent_index >= 0) {
      const RealIndexDef& ri = parent.def().real_indexes[static_cast<size_t>(link.parent_index)];
      Bytes& key = seek_key_;
      std::vector<RowId>& rows = found_;
      ByteView seek;
      if (keys && SameKey(link, t, parent)) {
        seek = (*keys)[static_cast<size_t>(link.child_index)];
      } else {
        key.clear();
        AppendMappedKey(key, parent.def(), ri, link.parent_columns, t.def(), link.child_columns,
                        values);
        seek = key;
      }
      file_.FindIndexRows(parent, static_cast<size_t>(link.parent_index), seek, 1, rows);
      found = !rows.empty();
    }
    if (!found) throw JetError(kErrNoRelatedRecord, link.parent_name);
  }
}

std::vector<RowId> Integrity::FindReferencing(const RelationLink& link,
                                              const std::vector<Value>& parent_values,
                                              size_t limit) {
  Table& parent = TableOf(link.parent_page, link.parent_name);
  Table& child = TableOf(link.child_page, link.child_name);
  if (AnyNull(parent.def(), link.parent_columns, parent_values)) return {};
  if (link.child_index >= 0) {
    const RealIndexDef& ri = child.def().real_indexes[static_cast<size_t>(link.child_index)];
    Bytes key = MappedKey(child.def(), ri, link.child_columns, parent.def(), link.parent_columns,
                          parent_values);
    std::vector<RowId> rows;
    file_.FindIndexRows(child, static_cast<size_t>(link.child_index), key, limit, rows);
    return rows;
  }
  // No index on the referencing fields (files from elsewhere): compare rows.
  std::vector<RowId> out;
  std::vector<Value> row;
  Table::Scan scan(child);
  while (scan.Next() && out.size() < limit) {
    child.DecodeRow(scan.bytes(), row);
    bool same = true;
    for (size_t k = 0; k < link.child_columns.size() && same; ++k) {
      size_t ci = child.def().SlotOf(link.child_columns[k]);
      size_t pi = parent.def().SlotOf(link.parent_columns[k]);
      Bytes a, b;
      AppendKeyColumn(a, row[ci], child.def().columns[ci], true);
      AppendKeyColumn(b, parent_values[pi], child.def().columns[ci], true);
      same = a == b;
    }
    if (same) out.push_back(scan.row_id());
  }
  return out;
}

// ---- planning and writing ----

void Integrity::PlanDelete(Table& t, RowId id, const std::vector<Value>& old_values,
                           std::vector<Change>& plan) {
  for (const auto& c : plan) {
    if (c.table == &t && c.id == id) return;  // reached again through a cycle
  }
  plan.push_back({&t, id, old_values, {}, true});
  for (const auto& link : Links()) {
    if (link.parent_page != t.def().page) continue;
    bool cascade = link.cascade_deletes();
    auto rows = FindReferencing(link, old_values, cascade ? SIZE_MAX : 1);
    if (rows.empty()) continue;
    if (!cascade) throw JetError(kErrRelatedRecordsExist, link.child_name);
    Table& child = TableOf(link.child_page, link.child_name);
    for (RowId r : rows) PlanDelete(child, r, child.ReadRow(r), plan);
  }
}

void Integrity::PlanUpdate(Table& t, RowId id, const std::vector<Value>& old_values,
                           const std::vector<Value>& values, const RelationLink* cascading,
                           std::vector<Change>& plan) {
  for (const auto& c : plan) {
    if (c.table == &t && c.id == id) return;
  }
  CheckValues(t, values);
  CheckUnique(t, values, &old_values, id, nullptr);
  CheckReferenced(t, values, &old_values, cascading);
  plan.push_back({&t, id, old_values, values, false});
  for (const auto& link : Links()) {
    if (link.parent_page != t.def().page) continue;
    if (SameValues(t.def(), link.parent_columns, old_values, values)) continue;
    bool cascade = link.cascade_updates();
    auto rows = FindReferencing(link, old_values, cascade ? SIZE_MAX : 1);
    if (rows.empty()) continue;
    if (!cascade) throw JetError(kErrRelatedRecordsExist, link.child_name);
    Table& child = TableOf(link.child_page, link.child_name);
    for (RowId r : rows) {
      std::vector<Value> child_old = child.ReadRow(r);
      std::vector<Value> child_new = child_old;
      for (size_t k = 0; k < link.child_columns.size(); ++k) {
        child_new[child.def().SlotOf(link.child_columns[k])] =
            values[t.def().SlotOf(link.parent_columns[k])];
      }
      PlanUpdate(child, r, child_old, child_new, &link, plan);
    }
  }
}

void Integrity::Apply(const std::vector<Change>& plan) {
  // A cascade stops before its first change, not halfway, on a damaged table.
  for (const auto& c : plan) CheckBeforeWriting(*c.table);
  for (const auto& c : plan) {
    if (c.remove) {
      file_.WriteDelete(*c.table, c.id, c.old_values);
    } else {
      file_.WriteUpdate(*c.table, c.id, c.old_values, c.new_values);
    }
  }
}

void Integrity::CheckInsert(Table& t, const std::vector<Value>& values, RowKeys& keys) {
  CheckValues(t, values);
  CheckUnique(t, values, nullptr, RowId{}, &keys);
  CheckReferenced(t, values, nullptr, nullptr, &keys);
}

void Integrity::CheckKeys(Table& t, const std::vector<Value>& values, RowKeys& keys) {
  CheckIndexNulls(t.def(), values);
  CheckUnique(t, values, nullptr, RowId{}, &keys);
  CheckReferenced(t, values, nullptr, nullptr, &keys);
}

void Integrity::Update(Table& t, RowId id, const std::vector<Value>& old_values,
                       const std::vector<Value>& values) {
  std::vector<Change> plan;
  PlanUpdate(t, id, old_values, values, nullptr, plan);
  Apply(plan);
}

void Integrity::Delete(Table& t, RowId id, const std::vector<Value>& old_values) {
  std::vector<Change> plan;
  PlanDelete(t, id, old_values, plan);
  Apply(plan);
}

}  // namespace jet
