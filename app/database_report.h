// inspect: what a database holds, as one JSON document or as aligned text.
//
// The JSON document is the stable form scripts and tests read:
//   {"format": "Jet3"|"Jet4", "encrypted": bool, "password": bool,
//    "tables": [{"name", "rows", "columns": [{"name", "type", "size",
//                "autoNumber", "required", "allowZeroLength", "defaultValue"}],
//                "indexes": [{"name", "columns", "primary", "unique",
//                             "required", "ignoreNulls", "foreignKey"}],
//                "data": [{column: value}]  (only with rows)}],
//    "relations": [{"name", "table", "foreignTable", "fields": [[from, to]],
//                   "attributes"}]}
// Tables come in catalogue order, system tables left out; columns in column
// order. Row values: see ValueToJson.
#pragma once

#include <iosfwd>
#include <string>

#include <nlohmann/json.hpp>

#include "jet/dao.h"
#include "jet/value.h"

namespace maquetor {

// The DAO name of a type code ("Long", "Memo", "GUID", ...); "Type N" for
// codes the engine does not know.
std::string DaoTypeName(int type);

// One value as JSON: null, true/false, Byte/Integer/Long/Single/Double as
// numbers, Currency as a string with four decimals ("12.3400") and Decimal as
// its exact decimal text (a double would round them), dates as
// "YYYY-MM-DD HH:MM:SS", Binary and OLE as upper-case hex, GUIDs as
// "{XXXXXXXX-...}", text as UTF-8.
nlohmann::ordered_json ValueToJson(const jet::Value& v);

// The document described above; `rows` adds each table's "data".
nlohmann::ordered_json InspectDatabase(jet::dao::Database db, bool rows);

// The same document as text for people: a summary, then each table with its
// columns and indexes in aligned columns (and its rows when present).
void PrintInspection(std::ostream& out, const nlohmann::ordered_json& doc);

}  // namespace maquetor
