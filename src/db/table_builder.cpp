#include "db/table_builder.h"

#include "db/engine.h"
#include "db/program_state.h"

namespace maquetor::db {

using jet::dao::Database;
using jet::dao::Field;
using jet::dao::Index;
using jet::dao::Relation;
using jet::dao::TableDef;

namespace {

void SetFlag(Flag flag, auto&& setter) {
  if (flag != Flag::kUnset) setter(flag == Flag::kYes);
}

Index MakeIndex(TableDef& def, const IndexSpec& index_def) {
  Index index = def.CreateIndex(index_def.name);
  SetFlag(index_def.primary, [&](bool v) { index.SetPrimary(v); });
  SetFlag(index_def.unique, [&](bool v) { index.SetUnique(v); });
  SetFlag(index_def.required, [&](bool v) { index.SetRequired(v); });
  for (const auto& name : index_def.fields) {
    Field f = index.CreateField(name);
    if (index_def.field_required) f.SetRequired(true);
    if (index_def.field_attributes != 0) f.SetAttributes(index_def.field_attributes);
    index.AppendField(f);
  }
  return index;
}

}  // namespace

TableBuilder::TableBuilder(const std::string& BDatosTrabajo, std::optional<std::string> base_name) {
  if (base_name) ProgramState::Instance().NombreBase = std::move(*base_name);
  db_ = OpenExclusive(BDatosTrabajo);
}

void TableBuilder::Build(const TableSpec& table) { BuildTable(db_, table); }

void BuildTable(Database& db, const TableSpec& table_data) {
  TableDef def = db.CreateTableDef(table_data.name);

  // Every field exists before any property is set, and every property is
  // set before any field is appended.
  std::vector<Field> fields;
  fields.reserve(table_data.fields.size());
  for (const auto& f : table_data.fields) {
    fields.push_back(f.size > 0 ? def.CreateField(f.name, f.type, f.size)
                                : def.CreateField(f.name, f.type));
  }
  for (size_t i = 0; i < fields.size(); ++i) {
    const FieldSpec& f = table_data.fields[i];
    if (f.attributes != 0) fields[i].SetAttributes(f.attributes);
    SetFlag(f.required, [&](bool v) { fields[i].SetRequired(v); });
    SetFlag(f.allow_zero_length, [&](bool v) { fields[i].SetAllowZeroLength(v); });
    if (f.default_value) fields[i].SetDefaultValue(f.default_value);
  }
  for (const auto& f : fields) def.AppendField(f);

  if (table_data.index_timing == IndexTiming::kWithTable) {
    for (const auto& i : table_data.indexes) def.AppendIndex(MakeIndex(def, i));
    db.AppendTableDef(def);
  } else {
    db.AppendTableDef(def);
    for (const auto& i : table_data.indexes) def.AppendIndex(MakeIndex(def, i));
  }

  for (const auto& r : table_data.relations) {
    Relation rel = db.CreateRelation(r.name);
    rel.SetTable(r.table);
    rel.SetForeignTable(r.foreign_table);
    rel.SetAttributes(r.attributes);
    for (const auto& [field, foreign] : r.fields) {
      Field f = rel.CreateField(field);
      f.SetForeignName(foreign);
      rel.AppendField(f);
    }
    db.AppendRelation(rel);
  }
}

}  // namespace maquetor::db
