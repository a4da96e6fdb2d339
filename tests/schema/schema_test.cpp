// A created law-office database read back by mdbtools, mdb-reader and our
// own engine, against the golden description of its schema.
#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <set>
#include <sstream>

#include "golden_schema.h"
#include "jet/dao.h"
#include "jet/error.h"
#include "schema/buttons.h"
#include "support/fixtures.h"
#include "support/jet_error.h"
#include "support/oracles.h"

namespace {

using namespace jet::dao;
using testing_support::TempDir;

struct GField {
  std::string name, type;
  int size = 0;
  std::string required;  // "yes", "no" or "" (not stored)
  bool azl = false, autoinc = false, has_default = false;
  std::string default_value;
};
struct GIndex {
  std::string name;
  std::vector<std::string> fields;
  bool primary = false, unique = false, required = false;
};
struct GTable {
  std::string name;
  std::vector<GField> fields;
  std::vector<GIndex> indexes;
};
struct GRelation {
  std::string name, table, foreign;
  std::vector<std::pair<std::string, std::string>> fields;
  int attributes = 0;
};
struct Golden {
  std::vector<GTable> tables;
  std::vector<GRelation> relations;
};

std::vector<std::string> Split(const std::string& s, char sep) {
  std::vector<std::string> out;
  std::stringstream in(s);
  for (std::string part; std::getline(in, part, sep);) out.push_back(part);
  return out;
}

GField ParseField(std::istringstream& in, const std::string& name) {
  GField f;
  f.name = name;
  std::string type;
  in >> type;
  f.type = type.substr(0, type.find('('));
  if (f.type == "Text") f.size = type.size() > 4 ? std::stoi(type.substr(5)) : 255;
  for (std::string w; in >> w;) {
    if (w == "req") f.required = "yes";
    else if (w == "notreq") f.required = "no";
    else if (w == "azl") f.azl = true;
    else if (w == "auto") f.autoinc = true;
    else if (w[0] == '=') f.has_default = true, f.default_value = w.substr(1);
  }
  return f;
}

void AddFields(GTable& t, const char* text) {
  std::istringstream lines(text);
  for (std::string line; std::getline(lines, line);) {
    std::istringstream in(line);
    std::string name;
    if (in >> name) t.fields.push_back(ParseField(in, name));
  }
}

const Golden& TheGolden() {
  static const Golden golden = [] {
    Golden g;
    std::istringstream lines(kGoldenSchema);
    for (std::string line; std::getline(lines, line);) {
      std::istringstream in(line);
      std::string word;
      if (!(in >> word)) continue;
      if (word == "table") {
        GTable t;
        std::string layout, extra;
        in >> t.name >> layout >> extra;
        if (layout == "@dir") {
          AddFields(t, kGoldenAddressFields);
          t.indexes.push_back({"I" + t.name.substr(1), {"FDir01"}, true, true, true});
        } else if (layout == "@expense") {
          AddFields(t, kGoldenExpenseFields);
          if (!extra.empty()) t.fields[9].has_default = true, t.fields[9].default_value = extra.substr(1);
        }
        g.tables.push_back(t);
      } else if (word == "index") {
        GIndex i;
        std::string fields;
        in >> i.name >> fields;
        i.fields = Split(fields, ',');
        for (std::string flag; in >> flag;) {
          if (flag == "primary") i.primary = i.unique = i.required = true;
          if (flag == "unique") i.unique = true;
          if (flag == "required") i.required = true;
        }
        g.tables.back().indexes.push_back(i);
      } else if (word == "rel") {
        GRelation r;
        std::string pairs;
        in >> r.name >> r.table >> r.foreign >> pairs >> r.attributes;
        for (const auto& p : Split(pairs, ',')) {
          auto parts = Split(p, '>');
          r.fields.emplace_back(parts[0], parts[1]);
        }
        g.relations.push_back(r);
      } else {
        g.tables.back().fields.push_back(ParseField(in, word));
      }
    }
    return g;
  }();
  return golden;
}

std::string Lower(std::string s) {
  for (auto& c : s) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return s;
}

// One database created for the whole suite: creation is what is tested.
class CreatedDatabase : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    dir_ = new TempDir();
    path_ = dir_->File("Despacho.mdb");
    ASSERT_TRUE(maquetor::schema::CrearBaseCompleta(path_));
  }
  static void TearDownTestSuite() {
    delete dir_;
    dir_ = nullptr;
  }
  static TempDir* dir_;
  static std::string path_;
};
TempDir* CreatedDatabase::dir_ = nullptr;
std::string CreatedDatabase::path_;

TEST_F(CreatedDatabase, MdbtoolsListsTheTablesInCreationOrder) {
  REQUIRE_MDBTOOLS();
  std::vector<std::string> expected;
  for (const auto& t : TheGolden().tables) expected.push_back(t.name);
  EXPECT_EQ(testing_support::MdbTables(path_), expected);
}

// mdb-schema's PostgreSQL DDL: column types, NOT NULL, serials, and the
// primary, unique and plain indexes by their fields.
TEST_F(CreatedDatabase, MdbSchemaShowsEveryColumnAndIndex) {
  REQUIRE_MDBTOOLS();
  const std::string ddl = testing_support::MdbSchema(path_, "postgres");
  const std::map<std::string, std::string> pg = {
      {"Boolean", "BOOLEAN"}, {"Byte", "SMALLINT"}, {"Integer", "INTEGER"},
      {"Long", "INTEGER"},    {"Single", "REAL"},   {"Double", "DOUBLE PRECISION"},
      {"Date", "TIMESTAMP WITHOUT TIME ZONE"},      {"Memo", "TEXT"}};
  for (const auto& t : TheGolden().tables) {
    SCOPED_TRACE(t.name);
    const std::string table = Lower(t.name);
    size_t begin = ddl.find("CREATE TABLE IF NOT EXISTS \"" + table + "\"\n");
    ASSERT_NE(begin, std::string::npos);
    size_t end = ddl.find(");", begin);
    std::string block = ddl.substr(begin, end - begin);
    for (const auto& f : t.fields) {
      std::string type = f.autoinc ? "SERIAL"
                         : f.type == "Text" ? "VARCHAR (" + std::to_string(f.size) + ")"
                                            : pg.at(f.type);
      if (f.required == "yes" || f.type == "Boolean") type += " NOT NULL";
      std::string line = "\t\"" + Lower(f.name) + "\"\t\t\t" + type;
      size_t at = block.find(line);
      ASSERT_NE(at, std::string::npos) << line;
      char after = block[at + line.size()];
      EXPECT_TRUE(after == ',' || after == '\n') << line;
    }
    for (const auto& i : t.indexes) {
      std::string cols;
      for (const auto& c : i.fields) cols += (cols.empty() ? "\"" : ", \"") + Lower(c) + "\"";
      std::string stmt = i.primary ? "ALTER TABLE \"" + table + "\" ADD CONSTRAINT \"" + table +
                                         "_pkey\" PRIMARY KEY (" + cols + ");"
                         : std::string(i.unique ? "CREATE UNIQUE INDEX \"" : "CREATE INDEX \"") +
                               table + "_" + Lower(i.name) + "_idx\" ON \"" + table + "\" (" +
                               cols + ");";
      EXPECT_NE(ddl.find(stmt), std::string::npos) << stmt;
    }
  }
}

// mdb-prop: Required, AllowZeroLength and DefaultValue exactly as set.
TEST_F(CreatedDatabase, MdbPropShowsTheFieldProperties) {
  REQUIRE_MDBTOOLS();
  for (const auto& t : TheGolden().tables) {
    auto props = testing_support::MdbProps(path_, t.name);
    for (const auto& f : t.fields) {
      SCOPED_TRACE(t.name + "." + f.name);
      const auto& p = props[f.name];
      auto get = [&](const char* key) {
        auto it = p.find(key);
        return it == p.end() ? std::string("(absent)") : it->second;
      };
      EXPECT_EQ(get("Required"), f.required.empty() ? "(absent)" : f.required);
      bool text = f.type == "Text" || f.type == "Memo";
      EXPECT_EQ(get("AllowZeroLength"), text ? (f.azl ? "yes" : "no") : "(absent)");
      EXPECT_EQ(get("DefaultValue"), f.has_default ? f.default_value : "(absent)");
    }
  }
}

// mdb-reader: the column types, sizes (two bytes a character) and counters.
TEST_F(CreatedDatabase, MdbReaderReadsEveryColumn) {
  REQUIRE_MDB_READER();
  const std::map<std::string, std::string> js = {
      {"Boolean", "boolean"}, {"Byte", "byte"},     {"Integer", "integer"}, {"Long", "long"},
      {"Single", "float"},    {"Double", "double"}, {"Date", "datetime"},   {"Text", "text"},
      {"Memo", "memo"}};
  auto dump = testing_support::MdbReaderDump(path_, std::string("KTRW_BLM"), false, false);
  ASSERT_EQ(dump["tables"].size(), TheGolden().tables.size());
  for (const auto& t : TheGolden().tables) {
    SCOPED_TRACE(t.name);
    auto it = std::find_if(dump["tables"].begin(), dump["tables"].end(),
                           [&](const auto& j) { return j["name"] == t.name; });
    ASSERT_NE(it, dump["tables"].end());
    const auto& cols = (*it)["columns"];
    ASSERT_EQ(cols.size(), t.fields.size());
    for (size_t i = 0; i < cols.size(); ++i) {
      EXPECT_EQ(cols[i]["name"], t.fields[i].name);
      EXPECT_EQ(cols[i]["type"], js.at(t.fields[i].type)) << t.fields[i].name;
      EXPECT_EQ(cols[i]["autoLong"], t.fields[i].autoinc) << t.fields[i].name;
      if (t.fields[i].type == "Text") {
        EXPECT_EQ(cols[i]["size"], 2 * t.fields[i].size);
      }
    }
  }
}

std::set<std::vector<std::string>> RelationRows(const std::vector<GRelation>& relations) {
  std::set<std::vector<std::string>> rows;
  for (const auto& r : relations) {
    for (size_t i = 0; i < r.fields.size(); ++i) {
      rows.insert({r.name, std::to_string(r.attributes), std::to_string(r.fields.size()),
                   std::to_string(i), r.foreign, r.fields[i].second, r.table, r.fields[i].first});
    }
  }
  return rows;
}

// The relationships as mdbtools reads them from MSysRelationships: one row
// per field pair. Names of tables as written by the program (Tintasu).
TEST_F(CreatedDatabase, MsysRelationshipsHoldsEveryRelation) {
  REQUIRE_MDBTOOLS();
  auto csv = testing_support::MdbExport(path_, "MSysRelationships");
  std::set<std::vector<std::string>> seen;
  for (size_t i = 0; i < csv.rows.size(); ++i) {
    std::vector<std::string> row;
    for (const char* c : {"szRelationship", "grbit", "ccolumn", "icolumn", "szObject", "szColumn",
                          "szReferencedObject", "szReferencedColumn"}) {
      row.push_back(csv.At(i, c));
    }
    seen.insert(row);
  }
  auto expected = RelationRows(TheGolden().relations);
  // The engine resolves the foreign table by name without regard to case.
  auto fixed = expected;
  fixed.clear();
  for (auto row : expected) {
    if (row[4] == "Tintasu") row[4] = "TIntAsu";
    fixed.insert(row);
  }
  EXPECT_EQ(seen, fixed);
}

// Our own engine: index flags (which mdbtools does not show) and relations.
TEST_F(CreatedDatabase, EngineReadsIndexFlagsAndRelations) {
  Database db = DBEngine::Instance().OpenDatabase(path_, false, true, ";pwd=KTRW_BLM");
  for (const auto& t : TheGolden().tables) {
    std::vector<std::tuple<std::string, std::vector<std::string>, bool, bool, bool>> seen, want;
    for (const auto& i : db.GetTableDef(t.name).Indexes()) {
      if (i.Foreign()) continue;
      std::vector<std::string> fields;
      for (const auto& f : i.Fields()) fields.push_back(f.Name());
      seen.emplace_back(i.Name(), fields, i.Primary(), i.Unique(), i.Required());
    }
    for (const auto& i : t.indexes) want.emplace_back(i.name, i.fields, i.primary, i.unique, i.required);
    EXPECT_EQ(seen, want) << t.name;
  }
  std::map<std::string, int> attributes;
  for (const auto& r : db.Relations()) attributes[r.Name()] = r.Attributes();
  ASSERT_EQ(attributes.size(), TheGolden().relations.size());
  for (const auto& r : TheGolden().relations) EXPECT_EQ(attributes[r.name], r.attributes) << r.name;
  db.Close();
}

TEST_F(CreatedDatabase, OpensOnlyWithThePassword) {
  Database db = DBEngine::Instance().OpenDatabase(path_, false, true, ";pwd=KTRW_BLM");
  EXPECT_TRUE(db.HasPassword());
  EXPECT_TRUE(db.HasTable(TheGolden().tables.back().name));
  db.Close();
  EXPECT_JET_ERROR(DBEngine::Instance().OpenDatabase(path_, false, true, ""), jet::kErrBadPassword);
}

}  // namespace
