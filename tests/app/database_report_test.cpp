// `maquetor inspect` run as a program and checked against mdbtools on every
// fixture: tables, row counts, indexes, column names, types and properties.
// Its --rows values meet mdb-export's through `export` (export_command_test).
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <map>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "jet/dao.h"
#include "support/fixtures.h"
#include "support/maquetor_program.h"
#include "support/oracles.h"

namespace {

namespace fs = std::filesystem;
namespace ts = testing_support;
using nlohmann::json;

// `inspect --json` of a file, or the reason it failed in `problem`.
std::optional<json> InspectJson(const std::string& path, const std::vector<std::string>& extra,
                                std::string& problem) {
  std::vector<std::string> args = {"inspect", path, "--json"};
  args.insert(args.end(), extra.begin(), extra.end());
  auto r = ts::RunMaquetor(args);
  if (!r.ok()) {
    problem = "exit " + std::to_string(r.exit_code) + ": " + r.err;
    return std::nullopt;
  }
  try {
    return json::parse(r.out);
  } catch (const json::exception& e) {
    problem = std::string("not JSON: ") + e.what();
    return std::nullopt;
  }
}

std::string Label(const fs::path& p) {
  return p.parent_path().filename().string() + "/" + p.filename().string();
}

// mdb-schema's type names (access backend) and ours.
const std::map<std::string, std::string> kMdbToolsTypes = {
    {"Boolean", "Boolean"},   {"Byte", "Byte"},          {"Integer", "Integer"},
    {"Long Integer", "Long"}, {"Currency", "Currency"},  {"Single", "Single"},
    {"Double", "Double"},     {"DateTime", "Date"},      {"Binary", "Binary"},
    {"Text", "Text"},         {"OLE", "OLE"},            {"Memo/Hyperlink", "Memo"},
    {"Replication ID", "GUID"}, {"Numeric", "Decimal"},
};

struct SchemaColumn {
  std::string name;
  std::string type;  // mdbtools' name
  std::string size;  // what the parentheses hold, if anything
};
using Schema = std::vector<std::pair<std::string, std::vector<SchemaColumn>>>;

// The tables and columns of mdb-schema's DDL:
//   CREATE TABLE [T]
//    (
//   	[col]			Text (50) NOT NULL,
Schema ParseSchema(const std::string& ddl) {
  Schema schema;
  std::istringstream in(ddl);
  std::string line;
  while (std::getline(in, line)) {
    if (line.rfind("CREATE TABLE [", 0) == 0) {
      schema.push_back({line.substr(14, line.rfind(']') - 14), {}});
    } else if (line.rfind("\t[", 0) == 0 && !schema.empty()) {
      size_t close = line.find("]\t");
      SchemaColumn c{line.substr(2, close - 2), {}, {}};
      std::string type = line.substr(line.find_first_not_of('\t', close + 1));
      while (!type.empty() && (type.back() == ',' || type.back() == ' ')) type.pop_back();
      if (type.ends_with(" NOT NULL")) type.resize(type.size() - 9);
      size_t paren = type.find(" (");
      if (paren != std::string::npos) {
        c.size = type.substr(paren + 2, type.find(')') - paren - 2);
        type.resize(paren);
      }
      c.type = type;
      schema.back().second.push_back(c);
    }
  }
  return schema;
}

// Each table's indexes as mdbtools' MySQL DDL states them, keyed by index
// name ("PRIMARY" for the primary key) with "unique (a, b)"-style values.
// Foreign-key indexes are not in it; descending order is dropped, and an empty
// column list means mdbtools could not name the columns.
//   ALTER TABLE `T` ADD [UNIQUE ]INDEX `name` (`a`, `b` DESC);
//   ALTER TABLE `T` ADD PRIMARY KEY (`a`);
std::map<std::string, std::map<std::string, std::string>> ParseMysqlIndexes(const std::string& ddl) {
  std::map<std::string, std::map<std::string, std::string>> indexes;
  std::istringstream in(ddl);
  std::string line;
  auto quoted = [](const std::string& s, size_t& pos) {
    size_t open = s.find('`', pos), close = s.find('`', open + 1);
    pos = close + 1;
    return s.substr(open + 1, close - open - 1);
  };
  while (std::getline(in, line)) {
    if (!line.starts_with("ALTER TABLE `")) continue;
    size_t pos = 0;
    std::string table = quoted(line, pos);
    bool primary = line.find(" ADD PRIMARY KEY ", pos) != std::string::npos;
    bool unique = primary || line.find(" ADD UNIQUE INDEX ", pos) != std::string::npos;
    std::string name = primary ? "PRIMARY" : quoted(line, pos);
    std::string cols;
    size_t end = line.rfind(')');
    while (line.find('`', pos) < end) cols += (cols.empty() ? "" : ", ") + quoted(line, pos);
    indexes[table][name] = std::string(unique ? "unique" : "index") + " (" + cols + ")";
  }
  return indexes;
}

std::string Names(const std::vector<std::string>& names) {
  std::string s;
  for (const auto& n : names) s += (s.empty() ? "" : ", ") + n;
  return "[" + s + "]";
}

// Compares one column's properties with what mdb-prop shows for it.
void CompareProps(const std::string& where, const json& col,
                  const std::map<std::string, std::string>& props, std::vector<std::string>& bad) {
  auto yes_no = [](bool b) { return std::string(b ? "yes" : "no"); };
  if (auto it = props.find("Required"); it != props.end() && it->second != yes_no(col["required"])) {
    bad.push_back(where + ": required " + col["required"].dump() + ", mdb-prop Required " + it->second);
  }
  if (auto it = props.find("AllowZeroLength");
      it != props.end() && it->second != yes_no(col["allowZeroLength"])) {
    bad.push_back(where + ": allowZeroLength " + col["allowZeroLength"].dump() +
                  ", mdb-prop AllowZeroLength " + it->second);
  }
  auto it = props.find("DefaultValue");
  json expected = it == props.end() ? json(nullptr) : json(it->second);
  if (col["defaultValue"] != expected) {
    bad.push_back(where + ": defaultValue " + col["defaultValue"].dump() + ", mdb-prop " +
                  expected.dump());
  }
}

// Every fixture: same user tables, row counts, indexes, column names, types,
// text sizes and column properties as mdbtools. Collects every difference so
// one run tells the whole story.
TEST(InspectTest, EveryFixtureMatchesMdbtools) {
  REQUIRE_FIXTURES();
  REQUIRE_MDBTOOLS();
  std::vector<std::string> bad;
  int files = 0, tables = 0, columns = 0, index_count = 0;
  long long rows = 0;
  for (const auto& path : ts::FixtureFiles(ts::Encrypted::kIncluded)) {
    const std::string file = Label(path);
    std::string problem;
    auto doc = InspectJson(path.string(), {}, problem);
    if (!doc) {
      bad.push_back(file + ": inspect failed: " + problem);
      continue;
    }
    ++files;
    const bool encrypted = path.filename().string().starts_with("encrypted");
    std::string ver = ts::MdbVer(path.string());
    if ((*doc)["format"] != (ver == "JET3" ? "Jet3" : "Jet4")) {
      bad.push_back(file + ": format " + (*doc)["format"].dump() + ", mdb-ver " + ver);
    }
    if ((*doc)["encrypted"] != encrypted) bad.push_back(file + ": encrypted " + (*doc)["encrypted"].dump());
    if ((*doc)["password"] != false) bad.push_back(file + ": password reported on a file without one");
    if (!(*doc)["relations"].is_array()) bad.push_back(file + ": relations is not an array");

    std::vector<std::string> ours;
    for (const auto& t : (*doc)["tables"]) ours.push_back(t["name"]);
    std::vector<std::string> theirs = ts::MdbTables(path.string());
    // mdb-tables lists catalogue rows as stored; TableDefs come sorted by
    // name as the engine's catalogue index has them. Only the set must agree.
    std::sort(ours.begin(), ours.end());
    std::sort(theirs.begin(), theirs.end());
    if (ours != theirs) {
      bad.push_back(file + ": tables " + Names(ours) + ", mdb-tables " + Names(theirs));
    }

    Schema schema = ParseSchema(ts::MdbSchema(path.string()));
    auto indexes = ParseMysqlIndexes(ts::RunProcess({"mdb-schema", "--indexes", "--no-relations",
                                                     path.string(), "mysql"}).out);
    for (const auto& t : (*doc)["tables"]) {
      const std::string name = t["name"];
      const std::string where = file + " " + name;
      auto st = std::find_if(schema.begin(), schema.end(), [&](const auto& s) { return s.first == name; });
      if (st == schema.end()) continue;  // already reported with the table list
      ++tables;
      long long count = ts::MdbCount(path.string(), name);
      rows += count;
      if (t["rows"] != count) {
        bad.push_back(where + ": rows " + t["rows"].dump() + ", mdb-count " + std::to_string(count));
      }
      auto& their_indexes = indexes[name];
      for (const auto& i : t["indexes"]) {
        if (i["foreignKey"] == true && i["primary"] == false) continue;
        std::string key = i["primary"] == true ? "PRIMARY" : i["name"].get<std::string>();
        std::string cols;
        for (const auto& c : i["columns"]) cols += (cols.empty() ? "" : ", ") + c.get<std::string>();
        std::string ours_index = std::string(i["unique"] == true ? "unique" : "index") + " (" + cols + ")";
        auto it = their_indexes.find(key);
        if (it == their_indexes.end()) {
          bad.push_back(where + ": index " + key + " " + ours_index + " not in mdb-schema");
          continue;
        }
        if (it->second != ours_index && !it->second.ends_with("()")) {
          bad.push_back(where + ": index " + key + " " + ours_index + ", mdb-schema " + it->second);
        }
        their_indexes.erase(it);
        ++index_count;
      }
      for (const auto& [key, desc] : their_indexes) {
        bad.push_back(where + ": index " + key + " " + desc + " missing (mdb-schema)");
      }
      const auto& cols = t["columns"];
      const auto& theirs_cols = st->second;
      if (cols.size() != theirs_cols.size()) {
        bad.push_back(where + ": " + std::to_string(cols.size()) + " columns, mdb-schema " +
                      std::to_string(theirs_cols.size()));
        continue;
      }
      ts::PropertyMap props = ts::MdbProps(path.string(), name);
      for (size_t i = 0; i < cols.size(); ++i) {
        const auto& c = cols[i];
        const auto& s = theirs_cols[i];
        const std::string cw = where + "." + s.name;
        ++columns;
        if (c["name"] != s.name) {
          bad.push_back(where + " column " + std::to_string(i) + ": name " + c["name"].dump() +
                        ", mdb-schema " + s.name);
          continue;
        }
        auto type = kMdbToolsTypes.find(s.type);
        if (type == kMdbToolsTypes.end() || c["type"] != type->second) {
          bad.push_back(cw + ": type " + c["type"].dump() + ", mdb-schema " + s.type);
        }
        if (s.type == "Text" && c["size"] != std::stoi(s.size)) {
          bad.push_back(cw + ": size " + c["size"].dump() + ", mdb-schema Text (" + s.size + ")");
        }
        if (auto p = props.find(s.name); p != props.end()) CompareProps(cw, c, p->second, bad);
      }
    }
  }
  std::string report;
  for (const auto& b : bad) report += "\n  " + b;
  EXPECT_TRUE(bad.empty()) << bad.size() << " differences from mdbtools:" << report;
  EXPECT_EQ(files, static_cast<int>(ts::FixtureFiles(ts::Encrypted::kIncluded).size()));
  std::cout << "[ compared ] " << files << " files, " << tables << " tables, " << columns
            << " columns, " << index_count << " indexes, " << rows << " rows counted\n";
}

TEST(InspectTest, ErrorsCarryTheJetNumber) {
  ts::TempDir dir;
  auto missing = ts::RunMaquetor({"inspect", dir.File("nada.mdb")});
  EXPECT_EQ(missing.exit_code, 1);
  EXPECT_EQ(missing.err.rfind("Error 3024: ", 0), 0u) << missing.err;

  const std::string text = dir.File("notas.mdb");
  {
    std::ofstream out(text);
    for (int i = 0; i < 400; ++i) out << "Esto no es una base de datos.\n";
  }
  auto junk = ts::RunMaquetor({"inspect", text, "--json"});
  EXPECT_EQ(junk.exit_code, 1);
  EXPECT_EQ(junk.err.rfind("Error 3343: ", 0), 0u) << junk.err;
  EXPECT_TRUE(junk.out.empty());

  const std::string locked = dir.File("clave.mdb");
  jet::dao::DBEngine::Instance()
      .Workspaces(0)
      .CreateDatabase(locked, ";LANGID=0x0409;CP=1252;COUNTRY=0;pwd=secreto")
      .Close();
  for (const std::string wrong : {"otra", ""}) {
    auto r = ts::RunMaquetor({"inspect", locked, "--password", wrong});
    EXPECT_EQ(r.exit_code, 1) << "password '" << wrong << "'";
    EXPECT_EQ(r.err.rfind("Error 3031: ", 0), 0u) << r.err;
  }
  // Without --password the program's own password is tried, not this one.
  EXPECT_EQ(ts::RunMaquetor({"inspect", locked}).err.rfind("Error 3031: ", 0), 0u);

  std::string problem;
  auto doc = InspectJson(locked, {"--password", "secreto"}, problem);
  ASSERT_TRUE(doc) << problem;
  EXPECT_EQ((*doc)["password"], true);
  EXPECT_EQ((*doc)["format"], "Jet4");
  EXPECT_EQ((*doc)["tables"], json::array());
}

// A file the program itself would write: its password, an auto-number,
// required and zero-length flags, defaults, a unique index, every value kind.
TEST(InspectTest, ReportsWhatTheEngineWrote) {
  namespace dao = jet::dao;
  ts::TempDir dir;
  const std::string path = dir.File("expedientes.mdb");
  {
    auto db = dao::DBEngine::Instance().Workspaces(0).CreateDatabase(
        path, ";LANGID=0x0409;CP=1252;COUNTRY=0;pwd=KTRW_BLM");
    auto t = db.CreateTableDef("Expedientes");
    auto id = t.CreateField("Id", dao::dbLong);
    id.SetAttributes(dao::dbFixedField | dao::dbAutoIncrField);
    t.AppendField(id);
    auto cliente = t.CreateField("Cliente", dao::dbText, 80);
    cliente.SetRequired(true);
    cliente.SetAllowZeroLength(true);
    t.AppendField(cliente);
    auto importe = t.CreateField("Importe", dao::dbCurrency);
    importe.SetDefaultValue("0");
    t.AppendField(importe);
    t.AppendField(t.CreateField("Alta", dao::dbDate));
    t.AppendField(t.CreateField("Cerrado", dao::dbBoolean));
    t.AppendField(t.CreateField("Tasa", dao::dbSingle));
    t.AppendField(t.CreateField("Firma", dao::dbLongBinary));
    auto ix = t.CreateIndex("ClienteUnico");
    ix.SetUnique(true);
    ix.AppendField(ix.CreateField("Cliente"));
    t.AppendIndex(ix);
    db.AppendTableDef(t);
    auto rs = db.OpenRecordset("Expedientes");
    rs.AddNew();
    rs.SetValue("Cliente", jet::Value("Peña & Asociados"));
    rs.SetValue("Importe", jet::Value(jet::Currency{1234567}));
    rs.SetValue("Alta", jet::Value(jet::Date{36526.5}));
    rs.SetValue("Cerrado", jet::Value(true));
    rs.SetValue("Tasa", jet::Value(1.1f));
    rs.SetValue("Firma", jet::Value(jet::Binary{0x00, 0xAB, 0xFF}));
    rs.Update();
    rs.AddNew();
    rs.SetValue("Cliente", jet::Value(""));
    rs.Update();
    rs.Close();
    db.Close();
  }
  std::string problem;
  auto doc = InspectJson(path, {"--rows"}, problem);
  ASSERT_TRUE(doc) << problem;
  // The whole report: the file, each column's properties, the index, and
  // every value kind in the JSON forms (the default filled in on the second row).
  EXPECT_EQ(*doc, json::parse(R"({"format": "Jet4", "encrypted": false, "password": true, "relations": [],
    "tables": [{"name": "Expedientes", "rows": 2, "columns": [
      {"name": "Id", "type": "Long", "size": 4, "autoNumber": true, "required": false,
       "allowZeroLength": false, "defaultValue": null},
      {"name": "Cliente", "type": "Text", "size": 80, "autoNumber": false, "required": true,
       "allowZeroLength": true, "defaultValue": null},
      {"name": "Importe", "type": "Currency", "size": 8, "autoNumber": false, "required": false,
       "allowZeroLength": false, "defaultValue": "0"},
      {"name": "Alta", "type": "Date", "size": 8, "autoNumber": false, "required": false,
       "allowZeroLength": false, "defaultValue": null},
      {"name": "Cerrado", "type": "Boolean", "size": 1, "autoNumber": false, "required": false,
       "allowZeroLength": false, "defaultValue": null},
      {"name": "Tasa", "type": "Single", "size": 4, "autoNumber": false, "required": false,
       "allowZeroLength": false, "defaultValue": null},
      {"name": "Firma", "type": "OLE", "size": 0, "autoNumber": false, "required": false,
       "allowZeroLength": false, "defaultValue": null}],
     "indexes": [{"name": "ClienteUnico", "columns": ["Cliente"], "primary": false, "unique": true,
                  "required": false, "ignoreNulls": false, "foreignKey": false}],
     "data": [{"Id": 1, "Cliente": "Peña & Asociados", "Importe": "123.4567", "Alta": "2000-01-01 12:00:00",
               "Cerrado": true, "Tasa": 1.1, "Firma": "00ABFF"},
              {"Id": 2, "Cliente": "", "Importe": "0.0000", "Alta": null, "Cerrado": false, "Tasa": null,
               "Firma": null}]}]})"));

  // Keys keep column order, so the document reads like the table.
  auto ordered = nlohmann::ordered_json::parse(ts::RunMaquetor({"inspect", path, "--json", "--rows"}).out);
  std::vector<std::string> keys;
  for (const auto& item : ordered["tables"][0]["data"][0].items()) keys.push_back(item.key());
  EXPECT_EQ(keys, (std::vector<std::string>{"Id", "Cliente", "Importe", "Alta", "Cerrado", "Tasa",
                                            "Firma"}));

  auto text = ts::RunMaquetor({"inspect", path});
  ASSERT_TRUE(text.ok()) << text.err;
  EXPECT_NE(text.out.find("Expedientes  (2 rows)"), std::string::npos) << text.out;
  EXPECT_NE(text.out.find("ClienteUnico  (Cliente)  unique"), std::string::npos) << text.out;
  EXPECT_NE(text.out.find("Password:   yes"), std::string::npos) << text.out;
}

// --help, no arguments and an unknown word are switch_run_test's, with a
// settings store of its own.
TEST(CommandLineTest, VersionAndUnknownWords) {
  auto version = ts::RunMaquetor({"--version"});
  EXPECT_EQ(version.exit_code, 0);
  EXPECT_EQ(version.out, "maquetor 0.1.0\n");

  // Neither a command word nor an installer switch.
  auto other = ts::RunMaquetor({"/S", "/D=C:\\Despacho"});
  EXPECT_EQ(other.exit_code, 2);
  EXPECT_TRUE(other.out.empty());
  EXPECT_NE(other.err.find("/S"), std::string::npos);

  auto no_file = ts::RunMaquetor({"inspect"});
  EXPECT_EQ(no_file.exit_code, 2);
  EXPECT_TRUE(no_file.out.empty());
}

}  // namespace
