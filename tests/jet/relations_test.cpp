// Relationships written as the engine writes them: the foreign-key logical
// indexes compared with a fixture's, the MSysRelationships rows and the
// catalogue object, the refusals with their numbers, dropping indexes and
// tables. mdbtools reads the rows back in schema_tests.
#include <gtest/gtest.h>

#include <tuple>

#include "jet/catalog_layout.h"
#include "jet/dao.h"
#include "jet/database.h"
#include "jet/error.h"
#include "jet/text.h"
#include "support/fixtures.h"
#include "support/jet_error.h"
#include "support/new_tables.h"
#include "support/oracles.h"

namespace jet {
namespace {

using testing_support::ErrorOf;

using testing_support::TempDir;

NewColumn Col(const std::string& name, ColumnType type, int size = -1) {
  NewColumn c;
  c.name = name;
  c.type = type;
  c.size = size;
  return c;
}

using testing_support::Idx;

// The tables of the fixture's two relationships: Table1.otherfk1 refers to
// Table2.id (cascade deletes), Table1.otherfk2 to Table3.id (cascade updates).
void BuildIndexTestSchema(FileState& fs) {
  for (const char* name : {"Table2", "Table3"}) {
    fs.CreateTable(name, {Col("id", ColumnType::kLong), Col("data", ColumnType::kText, 50)},
                   {Idx("id", {"id"}), Idx("PrimaryKey", {"id"}, true)});
  }
  fs.CreateTable("Table1",
                 {Col("id", ColumnType::kLong), Col("otherfk1", ColumnType::kLong),
                  Col("otherfk2", ColumnType::kLong), Col("data", ColumnType::kText, 50),
                  Col("otherfk3", ColumnType::kLong)},
                 {Idx("id", {"id"}), Idx("PrimaryKey", {"id"}, true)});
  fs.CreateRelation({"Table2Table1", "Table2", "Table1", {{"id", "otherfk1"}}, 4096});
  fs.CreateRelation({"Table3Table1", "Table3", "Table1", {{"id", "otherfk2"}}, 256});
}

const TableDef& DefOf(FileState& fs, const std::string& name) { return fs.GetTable(name).def(); }

// Every foreign-key entry names a partner that names it back.
void ExpectPairedForeignKeys(FileState& fs) {
  for (const auto& e : fs.TableEntries()) {
    const TableDef& d = fs.TableAt(e.tdef_page(), e.name).def();
    for (size_t i = 0; i < d.indexes.size(); ++i) {
      EXPECT_EQ(d.indexes[i].index_number < d.indexes.size(), true) << e.name;
      const LogicalIndexDef& li = d.indexes[i];
      if (li.type != kIdxForeign) continue;
      std::string other_name;
      for (const auto& o : fs.TableEntries()) {
        if (o.tdef_page() == li.rel_table_page) other_name = o.name;
      }
      ASSERT_FALSE(other_name.empty()) << li.name;
      const TableDef& o = fs.GetTable(other_name).def();
      bool found = false;
      for (const auto& ol : o.indexes) {
        if (ol.type == kIdxForeign && ol.index_number == static_cast<uint32_t>(li.rel_index_number) &&
            ol.rel_table_page == d.page) {
          found = true;
          EXPECT_EQ(static_cast<uint32_t>(ol.rel_index_number), li.index_number) << li.name;
          EXPECT_EQ(ol.rel_table_type + li.rel_table_type, 3) << li.name;
        }
      }
      EXPECT_TRUE(found) << e.name << "." << li.name;
    }
  }
}

TEST(Relations, ForeignKeyIndexesMatchTheFixture) {
  REQUIRE_FIXTURES();
  auto ref = FileState::Open((testing_support::FixturesDir() / "jet4/indexTestV2000.mdb").string(),
                             false, true, "");
  TempDir dir;
  auto fs = FileState::Create((dir.path() / "r.mdb").string(), "", false);
  BuildIndexTestSchema(*fs);

  // Each index as the file holds it: column names rather than numbers (the
  // fixture's count from 1), the other table by name rather than page.
  auto described = [](FileState& f, const char* table) {
    const TableDef& d = DefOf(f, table);
    std::vector<std::string> out;
    for (const auto& r : d.real_indexes) {
      std::string line = "real " + std::to_string(r.flags);
      for (const auto& c : r.columns) line += " " + d.ColumnByNumber(c.column_number)->name;
      out.push_back(line);
    }
    for (const LogicalIndexDef& i : d.indexes) {
      std::string other;
      for (const auto& e : f.TableEntries()) {
        if (e.tdef_page() == i.rel_table_page) other = e.name;
      }
      out.push_back(i.name + " " + std::to_string(i.index_number) + " " + std::to_string(i.real_index) + " " +
                    std::to_string(i.type) + " " + std::to_string(i.rel_table_type) + " " +
                    std::to_string(i.rel_index_number) + " " + std::to_string(i.cascade_updates) + " " +
                    std::to_string(i.cascade_deletes) + " " + other);
    }
    return out;
  };
  for (const char* table : {"Table1", "Table2", "Table3"}) {
    EXPECT_EQ(described(*fs, table), described(*ref, table)) << table;
  }
  ExpectPairedForeignKeys(*fs);
}

TEST(Relations, StoredRowsCatalogueAndReadBack) {
  TempDir dir;
  std::string path = (dir.path() / "r.mdb").string();
  {
    auto fs = FileState::Create(path, "", false);
    BuildIndexTestSchema(*fs);
    fs->CreateTable("Orders", {Col("year", ColumnType::kInteger), Col("num", ColumnType::kLong)},
                    {Idx("PrimaryKey", {"year", "num"}, true)});
    fs->CreateTable("Lines", {Col("y", ColumnType::kInteger), Col("n", ColumnType::kLong)}, {});
    fs->CreateRelation({"OrdersLines", "Orders", "Lines", {{"year", "y"}, {"num", "n"}}, 0});
    fs->CreateRelation({"Loose", "Table2", "Table3", {{"data", "data"}}, 2});
  }
  auto fs = FileState::Open(path, false, false, "");
  // By name, each exactly as asked for.
  using Pairs = std::vector<std::pair<std::string, std::string>>;
  std::vector<std::tuple<std::string, std::string, std::string, Pairs, int>> rels;
  for (const auto& r : fs->Relations()) rels.emplace_back(r.name, r.table, r.foreign_table, r.fields, r.attributes);
  EXPECT_EQ(rels, (decltype(rels){{"Loose", "Table2", "Table3", {{"data", "data"}}, 2},
                                  {"OrdersLines", "Orders", "Lines", {{"year", "y"}, {"num", "n"}}, 0},
                                  {"Table2Table1", "Table2", "Table1", {{"id", "otherfk1"}}, 4096},
                                  {"Table3Table1", "Table3", "Table1", {{"id", "otherfk2"}}, 256}}));

  // Not enforced: no foreign-key index anywhere for "Loose".
  for (const auto& li : DefOf(*fs, "Table3").indexes) EXPECT_NE(li.name, "Loose");
  // Composite: one new real index over both referencing fields.
  const TableDef& lines = DefOf(*fs, "Lines");
  ASSERT_EQ(lines.real_indexes.size(), 1u);
  EXPECT_EQ(lines.real_indexes[0].columns.size(), 2u);
  EXPECT_EQ(lines.real_indexes[0].flags, catalog::kIdxJet4Marker);
  ExpectPairedForeignKeys(*fs);

  // Catalogue objects: type 8 under Relationships, ids counting up from
  // the first non-table id, two ACEs each.
  Table& objects = fs->GetTable("MSysObjects");
  std::vector<int32_t> ids;
  Table::Scan scan(objects);
  std::vector<Value> v;
  const auto& od = objects.def();
  auto slot = [&](const char* n) { return static_cast<size_t>(od.FindColumn(n) - od.columns.data()); };
  while (scan.Next()) {
    objects.DecodeRow(scan.bytes(), v);
    if (v[slot("Type")].as<int32_t>() != catalog::kObjectRelationship) continue;
    EXPECT_EQ(v[slot("ParentId")].as<int32_t>(), catalog::kRelationshipsContainerId);
    EXPECT_EQ(v[slot("Flags")].as<int32_t>(), 0);
    ids.push_back(v[slot("Id")].as<int32_t>());
  }
  std::sort(ids.begin(), ids.end());
  ASSERT_EQ(ids.size(), 4u);
  for (size_t i = 0; i < ids.size(); ++i) {
    EXPECT_EQ(ids[i], catalog::kFirstNonTableObjectId + static_cast<int32_t>(i));
  }
  Table& aces = fs->GetTable("MSysACEs");
  size_t rel_aces = 0;
  Table::Scan as(aces);
  while (as.Next()) {
    aces.DecodeRow(as.bytes(), v);
    const auto& ad = aces.def();
    int32_t id = v[static_cast<size_t>(ad.FindColumn("ObjectId") - ad.columns.data())].as<int32_t>();
    if (id < 0) ++rel_aces;
  }
  EXPECT_EQ(rel_aces, 2 * ids.size());
}

TEST(Relations, RefusalsCarryTheEngineNumbers) {
  TempDir dir;
  auto fs = FileState::Create((dir.path() / "r.mdb").string(), "", false);
  fs->CreateTable("P", {Col("id", ColumnType::kLong), Col("code", ColumnType::kText, 10)},
                  {Idx("PrimaryKey", {"id"}, true), Idx("code", {"code"})});
  fs->CreateTable("C", {Col("pid", ColumnType::kLong), Col("ptext", ColumnType::kText, 10)}, {});
  auto rel = [&](FileState::NewRelation r) { return ErrorOf([&] { fs->CreateRelation(r); }); };
  EXPECT_EQ(rel({"R", "Nada", "C", {{"id", "pid"}}, 0}), kErrObjectNotFound);
  EXPECT_EQ(rel({"R", "P", "Nada", {{"id", "pid"}}, 0}), kErrObjectNotFound);
  EXPECT_EQ(rel({"R", "P", "C", {{"nada", "pid"}}, 0}), kErrItemNotFound);
  EXPECT_EQ(rel({"R", "P", "C", {{"id", "nada"}}, 0}), kErrItemNotFound);
  EXPECT_EQ(rel({"R", "P", "C", {{"id", "ptext"}}, 0}), kErrRelationFieldsMismatch);
  EXPECT_EQ(rel({"R", "P", "C", {{"code", "ptext"}}, 0}), kErrNoUniqueIndex);
  // Not enforced: no unique index needed.
  EXPECT_EQ(rel({"Suelta", "P", "C", {{"code", "ptext"}}, 2}), 0);
  EXPECT_EQ(rel({"suelta", "P", "C", {{"id", "pid"}}, 0}), kErrObjectExists);

  // Existing rows must satisfy an enforced relationship; nulls need nothing.
  Table& p = fs->GetTable("P");
  Table& c = fs->GetTable("C");
  fs->InsertRow(p, {Value(int32_t{1}), Value("a")});
  fs->InsertRow(c, {Value(int32_t{1}), Value::Null()});
  fs->InsertRow(c, {Value::Null(), Value::Null()});
  RowId orphan = fs->InsertRow(c, {Value(int32_t{7}), Value::Null()});
  EXPECT_EQ(rel({"R", "P", "C", {{"id", "pid"}}, 0}), kErrRelationDataViolation);
  EXPECT_EQ(fs->Relations().size(), 1u);  // nothing of R was written
  EXPECT_TRUE(DefOf(*fs, "C").indexes.empty());
  fs->DeleteRow(c, orphan, c.ReadRow(orphan));
  EXPECT_EQ(rel({"R", "P", "C", {{"id", "pid"}}, 0}), 0);
  EXPECT_EQ(fs->Relations().size(), 2u);
}

TEST(Relations, DropIndexAndDropTableKeepForeignKeysPaired) {
  TempDir dir;
  std::string path = (dir.path() / "r.mdb").string();
  {
    auto fs = FileState::Create(path, "", false);
    BuildIndexTestSchema(*fs);
    EXPECT_JET_ERROR(fs->DropIndex("Table2", "PrimaryKey"), kErrIndexInRelation);
    EXPECT_JET_ERROR(fs->DropIndex("Table1", "Table2Table1"), kErrIndexInRelation);
    EXPECT_JET_ERROR(fs->DropIndex("Table1", "nada"), kErrItemNotFound);
    // Dropping index number 0 renumbers the rest and the partners' links.
    fs->DropIndex("Table1", "id");
    const TableDef& t1 = DefOf(*fs, "Table1");
    EXPECT_EQ(t1.indexes.size(), 3u);
    EXPECT_EQ(t1.real_indexes.size(), 3u);
    ExpectPairedForeignKeys(*fs);
  }
  {
    auto fs = FileState::Open(path, false, false, "");
    ExpectPairedForeignKeys(*fs);
    fs->DropTable("Table3");
    EXPECT_EQ(fs->Relations().size(), 1u);
    EXPECT_FALSE(fs->FindTable("Table3"));
    for (const auto& li : DefOf(*fs, "Table1").indexes) EXPECT_NE(li.name, "Table3Table1");
    ExpectPairedForeignKeys(*fs);
    fs->DropTable("Table1");
    EXPECT_TRUE(fs->Relations().empty());
    EXPECT_EQ(DefOf(*fs, "Table2").indexes.size(), 2u);  // ".rC" gone
    EXPECT_JET_ERROR(fs->DropTable("Table1"), kErrItemNotFound);
  }
  auto fs = FileState::Open(path, false, true, "");
  EXPECT_EQ(fs->TableEntries().size(), 5u);  // four system tables and Table2
  if (testing_support::UseMdbtools()) {
    EXPECT_EQ(testing_support::MdbTables(path), std::vector<std::string>{"Table2"});
    EXPECT_EQ(testing_support::MdbExport(path, "MSysRelationships").rows.size(), 0u);
  }
}

TEST(Relations, DaoAppendAndList) {
  TempDir dir;
  using namespace jet::dao;
  Database db = DBEngine::Instance().Workspaces(0).CreateDatabase(
      (dir.path() / "d.mdb").string(), ";LANGID=0x0409;CP=1252;COUNTRY=0");
  db.Execute("CREATE TABLE Padre (Id LONG CONSTRAINT PK PRIMARY KEY)");
  db.Execute("CREATE TABLE Hijo (Id LONG, PadreId LONG)");
  Relation r = db.CreateRelation("PadreHijo");
  r.SetTable("Padre");
  r.SetForeignTable("Hijo");
  r.SetAttributes(dbRelationDeleteCascade);
  Field f = r.CreateField("Id");
  f.SetForeignName("PadreId");
  r.AppendField(f);
  db.AppendRelation(r);
  EXPECT_JET_ERROR(db.AppendRelation(r), kErrObjectExists);
  std::vector<std::string> listed;
  for (const auto& rel : db.Relations()) {
    listed.push_back(rel.Name() + " " + rel.Table() + " " + rel.ForeignTable() + " " +
                     std::to_string(rel.Attributes()));
    for (const auto& field : rel.Fields()) listed.push_back(field.Name() + ">" + field.ForeignName());
  }
  EXPECT_EQ(listed, (std::vector<std::string>{"PadreHijo Padre Hijo " + std::to_string(dbRelationDeleteCascade),
                                              "Id>PadreId"}));
  db.Close();
}

}  // namespace
}  // namespace jet
