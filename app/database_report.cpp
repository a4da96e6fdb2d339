#include "database_report.h"

#include <charconv>
#include <cstdlib>
#include <iostream>
#include <ostream>
#include <string>
#include <vector>

#include "commands.h"
#include "jet/error.h"

namespace maquetor {

using json = nlohmann::ordered_json;

std::string DaoTypeName(int type) {
  switch (type) {
    case jet::dao::dbBoolean: return "Boolean";
    case jet::dao::dbByte: return "Byte";
    case jet::dao::dbInteger: return "Integer";
    case jet::dao::dbLong: return "Long";
    case jet::dao::dbCurrency: return "Currency";
    case jet::dao::dbSingle: return "Single";
    case jet::dao::dbDouble: return "Double";
    case jet::dao::dbDate: return "Date";
    case jet::dao::dbBinary: return "Binary";
    case jet::dao::dbText: return "Text";
    case jet::dao::dbLongBinary: return "OLE";
    case jet::dao::dbMemo: return "Memo";
    case jet::dao::dbGUID: return "GUID";
    case jet::dao::dbDecimal: return "Decimal";
  }
  return "Type " + std::to_string(type);
}

namespace {

// A float widened to double prints its binary noise (1.1f -> 1.100000023841858);
// going through its shortest text keeps the digits the user typed.
double FloatAsDouble(float f) {
  char buf[32];
  auto r = std::to_chars(buf, buf + sizeof buf, f);
  *r.ptr = '\0';
  return std::strtod(buf, nullptr);
}

}  // namespace

json ValueToJson(const jet::Value& v) {
  if (v.is_null()) return nullptr;
  if (v.is<bool>()) return v.as<bool>();
  if (v.is<int32_t>()) return v.as<int32_t>();
  if (v.is<float>()) return FloatAsDouble(v.as<float>());
  if (v.is<double>()) return v.as<double>();
  return v.ToString();
}

namespace {

json ColumnJson(const jet::dao::Field& f) {
  json defaultValue = nullptr;
  if (f.HasDefaultValue()) defaultValue = f.DefaultValue();
  return {{"name", f.Name()},
          {"type", DaoTypeName(f.Type())},
          {"size", f.Size()},
          {"autoNumber", (f.Attributes() & jet::dao::dbAutoIncrField) != 0},
          {"required", f.Required()},
          {"allowZeroLength", f.AllowZeroLength()},
          {"defaultValue", defaultValue}};
}

json IndexJson(const jet::dao::Index& i) {
  json columns = json::array();
  for (const auto& f : i.Fields()) columns.push_back(f.Name());
  return {{"name", i.Name()},          {"columns", columns},
          {"primary", i.Primary()},    {"unique", i.Unique()},
          {"required", i.Required()},  {"ignoreNulls", i.IgnoreNulls()},
          {"foreignKey", i.Foreign()}};
}

json RelationJson(const jet::dao::Relation& r) {
  json fields = json::array();
  for (const auto& f : r.Fields()) fields.push_back({f.Name(), f.ForeignName()});
  return {{"name", r.Name()},
          {"table", r.Table()},
          {"foreignTable", r.ForeignTable()},
          {"fields", fields},
          {"attributes", r.Attributes()}};
}

json TableRows(jet::dao::Database& db, const std::string& table) {
  json rows = json::array();
  auto rs = db.OpenRecordset(table);
  std::vector<std::string> names;
  for (int i = 0; i < rs.FieldCount(); ++i) names.push_back(rs.FieldName(i));
  for (; !rs.IsEOF(); rs.MoveNext()) {
    json row = json::object();
    for (int i = 0; i < static_cast<int>(names.size()); ++i) row[names[i]] = ValueToJson(rs.GetValue(i));
    rows.push_back(std::move(row));
  }
  rs.Close();
  return rows;
}

}  // namespace

json InspectDatabase(jet::dao::Database db, bool rows) {
  json tables = json::array();
  for (const auto& t : db.TableDefs()) {
    if (t.IsSystem()) continue;
    json columns = json::array();
    for (const auto& f : t.Fields()) columns.push_back(ColumnJson(f));
    json indexes = json::array();
    for (const auto& i : t.Indexes()) indexes.push_back(IndexJson(i));
    json table = {{"name", t.Name()}, {"rows", t.RecordCount()}, {"columns", columns},
                  {"indexes", indexes}};
    if (rows) table["data"] = TableRows(db, t.Name());
    tables.push_back(std::move(table));
  }
  json relations = json::array();
  for (const auto& r : db.Relations()) relations.push_back(RelationJson(r));
  return {{"format", db.JetVersion() == 3 ? "Jet3" : "Jet4"},
          {"encrypted", db.Encrypted()},
          {"password", db.HasPassword()},
          {"tables", tables},
          {"relations", relations}};
}

namespace {

// Columns are aligned by characters, not bytes: names carry accents.
size_t DisplayWidth(const std::string& s) {
  size_t n = 0;
  for (unsigned char c : s) n += (c & 0xC0) != 0x80;
  return n;
}

// Long cells (memos, OLE hex) would push every other column off the screen.
std::string Clip(const std::string& s, size_t width) {
  std::string flat;
  for (char c : s) flat.push_back(c == '\n' || c == '\r' || c == '\t' ? ' ' : c);
  if (DisplayWidth(flat) <= width) return flat;
  std::string out;
  size_t n = 0;
  for (size_t i = 0; i < flat.size(); ++i) {
    unsigned char c = static_cast<unsigned char>(flat[i]);
    if ((c & 0xC0) != 0x80 && ++n > width - 3) break;
    out.push_back(flat[i]);
  }
  return out + "...";
}

using Grid = std::vector<std::vector<std::string>>;

// Prints a header and rows left-aligned, two spaces apart, no trailing blanks.
void PrintGrid(std::ostream& out, const std::string& indent, const Grid& grid) {
  std::vector<size_t> widths;
  for (const auto& row : grid) {
    if (widths.size() < row.size()) widths.resize(row.size(), 0);
    for (size_t c = 0; c < row.size(); ++c) widths[c] = std::max(widths[c], DisplayWidth(row[c]));
  }
  for (const auto& row : grid) {
    std::string line = indent;
    for (size_t c = 0; c < row.size(); ++c) {
      line += row[c];
      if (c + 1 < row.size()) line.append(widths[c] - DisplayWidth(row[c]) + 2, ' ');
    }
    while (!line.empty() && line.back() == ' ') line.pop_back();
    out << line << '\n';
  }
}

const char* YesNo(bool b) { return b ? "yes" : "no"; }

std::string CellText(const json& v) {
  if (v.is_null()) return "Null";
  if (v.is_string()) return v.get<std::string>();
  if (v.is_boolean()) return v.get<bool>() ? "True" : "False";
  if (v.is_number_float()) {
    char buf[32];
    auto r = std::to_chars(buf, buf + sizeof buf, v.get<double>());
    return std::string(buf, r.ptr);
  }
  return v.dump();
}

std::string Plural(long long n, const char* one, const char* many) {
  return std::to_string(n) + " " + (n == 1 ? one : many);
}

void PrintTable(std::ostream& out, const json& t) {
  out << '\n' << t["name"].get<std::string>() << "  ("
      << Plural(t["rows"].get<long long>(), "row", "rows") << ")\n";
  Grid columns{{"Column", "Type", "Size", "Auto", "Required", "ZeroLength", "Default"}};
  for (const auto& c : t["columns"]) {
    columns.push_back({c["name"].get<std::string>(), c["type"].get<std::string>(),
                       std::to_string(c["size"].get<int>()), YesNo(c["autoNumber"].get<bool>()),
                       YesNo(c["required"].get<bool>()), YesNo(c["allowZeroLength"].get<bool>()),
                       c["defaultValue"].is_null() ? "" : c["defaultValue"].get<std::string>()});
  }
  PrintGrid(out, "  ", columns);
  if (!t["indexes"].empty()) {
    out << "  Indexes:\n";
    Grid indexes;
    for (const auto& i : t["indexes"]) {
      std::string cols;
      for (const auto& c : i["columns"]) cols += (cols.empty() ? "" : ", ") + c.get<std::string>();
      std::string flags;
      for (const char* key : {"primary", "unique", "required", "ignoreNulls", "foreignKey"}) {
        if (i[key].get<bool>()) flags += (flags.empty() ? "" : " ") + std::string(key);
      }
      indexes.push_back({i["name"].get<std::string>(), "(" + cols + ")", flags});
    }
    PrintGrid(out, "    ", indexes);
  }
  if (t.contains("data") && !t["data"].empty()) {
    out << "  Rows:\n";
    Grid rows(1);
    for (const auto& c : t["columns"]) rows[0].push_back(c["name"].get<std::string>());
    for (const auto& r : t["data"]) {
      std::vector<std::string> cells;
      for (const auto& c : t["columns"]) cells.push_back(Clip(CellText(r[c["name"].get<std::string>()]), 40));
      rows.push_back(std::move(cells));
    }
    PrintGrid(out, "    ", rows);
  }
}

}  // namespace

void PrintInspection(std::ostream& out, const json& doc) {
  PrintGrid(out, "", {{"Format:", doc["format"].get<std::string>()},
                      {"Encrypted:", YesNo(doc["encrypted"].get<bool>())},
                      {"Password:", YesNo(doc["password"].get<bool>())},
                      {"Tables:", std::to_string(doc["tables"].size())}});
  for (const auto& t : doc["tables"]) PrintTable(out, t);
  out << '\n';
  if (doc["relations"].empty()) {
    out << "Relations: none\n";
    return;
  }
  out << "Relations:\n";
  Grid relations;
  for (const auto& r : doc["relations"]) {
    std::string fields;
    for (const auto& p : r["fields"]) {
      fields += (fields.empty() ? "" : ", ") + p[0].get<std::string>() + " -> " + p[1].get<std::string>();
    }
    relations.push_back({r["name"].get<std::string>(),
                         r["table"].get<std::string>() + " -> " + r["foreignTable"].get<std::string>(),
                         "(" + fields + ")", "attributes " + std::to_string(r["attributes"].get<int>())});
  }
  PrintGrid(out, "  ", relations);
}

void AddInspectCommand(CLI::App& app) {
  struct Options {
    std::string path;
    std::string password = kProgramPassword;
    bool json = false;
    bool rows = false;
  };
  auto opts = std::make_shared<Options>();
  auto* cmd = app.add_subcommand("inspect", "Show a database's format, tables, columns, indexes and relations");
  cmd->add_option("DB", opts->path, "The .mdb file")->required();
  cmd->add_option("--password", opts->password,
                  "Database password (default: the program's own; \"\" for none)");
  cmd->add_flag("--json", opts->json, "Print one JSON document instead of text");
  cmd->add_flag("--rows", opts->rows, "Include every table's rows");
  cmd->footer(
      "Examples:\n"
      "  maquetor inspect datos.mdb\n"
      "  maquetor inspect datos.mdb --json --rows > datos.json\n"
      "  maquetor inspect otro.mdb --password \"\"\n"
      "With --json --rows, Currency and Decimal values are strings (\"12.3400\") so no\n"
      "digit is lost; dates are \"YYYY-MM-DD HH:MM:SS\", binary and OLE upper-case hex.");
  cmd->callback([opts] {
    const std::string connect = opts->password.empty() ? "" : ";pwd=" + opts->password;
    auto db = jet::dao::DBEngine::Instance().Workspaces(0).OpenDatabase(opts->path, false, true, connect);
    json doc = InspectDatabase(db, opts->rows);
    db.Close();
    if (opts->json) {
      // Text the engine could not decode must not abort the whole dump.
      std::cout << doc.dump(2, ' ', false, json::error_handler_t::replace) << '\n';
    } else {
      PrintInspection(std::cout, doc);
    }
  });
}

}  // namespace maquetor
