// Shorthand for the schema tables, so each reads like the table list it
// builds: a blank cell is `_`, the engine's type names stand for their codes.
#pragma once

#include <string>

#include "db/table_builder.h"
#include "jet/dao.h"

namespace maquetor::schema {

using db::FieldSpec;
using db::IndexSpec;
using db::IndexTiming;
using db::RelationSpec;
using db::TableSpec;

inline constexpr db::Flag _ = db::Flag::kUnset;
inline constexpr db::Flag Yes = db::Flag::kYes;
inline constexpr db::Flag No = db::Flag::kNo;

inline constexpr int Boolean = jet::dao::dbBoolean;
inline constexpr int Byte = jet::dao::dbByte;
inline constexpr int Integer = jet::dao::dbInteger;
inline constexpr int Long = jet::dao::dbLong;
inline constexpr int Single = jet::dao::dbSingle;
inline constexpr int Double = jet::dao::dbDouble;
inline constexpr int Date = jet::dao::dbDate;
inline constexpr int Text = jet::dao::dbText;
inline constexpr int Memo = jet::dao::dbMemo;

inline constexpr int AutoIncrement = jet::dao::dbAutoIncrField;
inline constexpr int CascadeUpdates = jet::dao::dbRelationUpdateCascade;
inline constexpr int CascadeDeletes = jet::dao::dbRelationDeleteCascade;

inline constexpr IndexTiming WithTable = IndexTiming::kWithTable;

// A button that builds one table under its base name and lets the database
// go when it ends.
inline void Press(const std::string& BDatosTrabajo, const char* base, const TableSpec& table) {
  db::TableBuilder(BDatosTrabajo, base).Build(table);
}

}  // namespace maquetor::schema
