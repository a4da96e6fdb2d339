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

Index MakeIndex(TableDef& def, const IndexSpec& spec) {
  Index index = def.CreateIndex(spec.name);
  SetFlag(spec.primary, [&](bool v) { index.SetPrimary(v); });
  SetFlag(spec.unique, [&](bool v) { index.SetUnique(v); });
  SetFlag(spec.required, [&](bool v) { index.SetRequired(v); });
  for (const auto& name : spec.fields) {
    Field f = index.CreateField(name);
    if (spec.field_required) f.SetRequired(true);
    if (spec.field_attributes != 0) f.SetAttributes(spec.field_attributes);
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

void BuildTable(Database& db, const TableSpec& spec) {
  TableDef def = db.CreateTableDef(spec.name);

  // Every field exists before any property is set, and every property is
  // set before any field is appended.
  std::vector<Field> fields;
  fields.reserve(spec.fields.size());
  for (const auto& f : spec.fields) {
    fields.push_back(f.size > 0 ? def.CreateField(f.name, f.type, f.size)
                                : def.CreateField(f.name, f.type));
  }
  for (size_t i = 0; i < fields.size(); ++i) {
    const FieldSpec& f = spec.fields[i];
    if (f.attributes != 0) fields[i].SetAttributes(f.attributes);
    SetFlag(f.required, [&](bool v) { fields[i].SetRequired(v); });
    SetFlag(f.allow_zero_length, [&](bool v) { fields[i].SetAllowZeroLength(v); });
    if (f.default_value) fields[i].SetDefaultValue(f.default_value);
  }
  for (const auto& f : fields) def.AppendField(f);

  if (spec.index_timing == IndexTiming::kWithTable) {
    for (const auto& i : spec.indexes) def.AppendIndex(MakeIndex(def, i));
    db.AppendTableDef(def);
  } else {
    db.AppendTableDef(def);
    for (const auto& i : spec.indexes) def.AppendIndex(MakeIndex(def, i));
  }

  for (const auto& r : spec.relations) {
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
