#include "table_rows.h"

#include <algorithm>

#include "jet/catalog_layout.h"
#include "jet/error.h"

namespace maquetor {

ReadOnlyDatabase::ReadOnlyDatabase(const std::string& path, const std::string& password) {
  const std::string connect = password.empty() ? "" : ";pwd=" + password;
  // Through DAO first: its errors name the file.
  db_ = jet::dao::DBEngine::Instance().Workspaces(0).OpenDatabase(path, false, true, connect);
  file_ = jet::FileState::Open(path, false, true, password);
}

ReadOnlyDatabase::~ReadOnlyDatabase() {
  file_.reset();
  try {
    db_.Close();
  } catch (...) {
    // Nothing was written: closing a reader cannot lose anything.
  }
}

std::vector<jet::CatalogEntry> ReadOnlyDatabase::Catalog() {
  // In stored order, as mdbtools reads it; the engine's own list keeps a
  // moved row at its old place.
  jet::Table& objects = file_->GetTable("MSysObjects");
  const jet::TableDef& def = objects.def();
  auto slot = [&](const char* name) {
    const jet::ColumnDef* c = def.FindColumn(name);
    if (!c) throw jet::JetError(jet::kErrCorrupt);
    return static_cast<size_t>(c - def.columns.data());
  };
  const size_t id = slot("Id"), parent = slot("ParentId"), name = slot("Name"), type = slot("Type"),
               flags = slot("Flags");
  std::vector<jet::CatalogEntry> out;
  std::vector<jet::ColumnSlice> slices;
  jet::Table::Scan scan(objects, jet::Table::MovedRows::kWhereStored);
  while (scan.Next()) {
    jet::CrackRow(objects.format(), def, scan.bytes(), slices);
    auto number = [&](size_t s) {
      const jet::Value v = objects.DecodeColumn(def.columns[s], slices[s]);
      return v.is<int32_t>() ? v.as<int32_t>() : 0;
    };
    jet::CatalogEntry e;
    e.id = number(id);
    e.parent_id = number(parent);
    e.type = static_cast<int16_t>(number(type));
    e.flags = number(flags);
    const jet::Value n = objects.DecodeColumn(def.columns[name], slices[name]);
    if (n.is<std::string>()) e.name = n.as<std::string>();
    e.row = scan.row_id();
    out.push_back(std::move(e));
  }
  return out;
}

std::vector<std::string> ReadOnlyDatabase::TableNames(bool system) {
  std::vector<std::string> names;
  for (const auto& e : Catalog()) {
    if (e.parent_id == jet::catalog::kTablesContainerId && e.type == jet::catalog::kObjectTable &&
        (system || !e.is_system())) {
      names.push_back(e.name);
    }
  }
  return names;
}

jet::Properties ReadOnlyDatabase::TableProperties(const std::string& table) {
  auto entry = file_->FindTable(table);
  if (!entry) return {};
  jet::Table& objects = file_->GetTable("MSysObjects");
  const jet::ColumnDef* lvprop = objects.def().FindColumn("LvProp");
  if (!lvprop) return {};
  const auto row = objects.ReadRow(entry->row);
  const jet::Value& blob = row[static_cast<size_t>(lvprop - objects.def().columns.data())];
  if (!blob.is<jet::Binary>()) return {};
  try {
    return jet::ParseProperties(blob.as<jet::Binary>(), version());
  } catch (const jet::JetError&) {
    return {};
  }
}

RowCursor::RowCursor(ReadOnlyDatabase& db, const std::string& table)
    : table_(db.file().GetTable(table)), scan_(table_, jet::Table::MovedRows::kWhereStored) {
  const auto& cols = table_.def().columns;
  for (size_t i = 0; i < cols.size(); ++i) slot_.push_back(i);
  std::stable_sort(slot_.begin(), slot_.end(),
                   [&](size_t a, size_t b) { return cols[a].number < cols[b].number; });
  for (size_t s : slot_) columns_.push_back(&cols[s]);
  values_.resize(cols.size());
  for (const auto& c : cols) has_long_values_ |= jet::IsLongValue(c.type);
}

bool RowCursor::Next() {
  if (!scan_.Next()) return false;
  // Long values are read from other pages, which may move the row's page
  // out of the cache: a row that may hold them is kept apart first.
  jet::ByteView bytes = scan_.bytes();
  if (has_long_values_) {
    raw_.assign(bytes.begin(), bytes.end());
    bytes = raw_;
  }
  jet::CrackRow(table_.format(), table_.def(), bytes, slices_);
  decoded_.assign(slices_.size(), 0);
  return true;
}

const jet::Value& RowCursor::Get(size_t i) {
  const size_t s = slot_[i];
  if (!decoded_[s]) {
    table_.DecodeColumnInto(table_.def().columns[s], slices_[s], values_[s]);
    decoded_[s] = 1;
  }
  return values_[s];
}

}  // namespace maquetor
