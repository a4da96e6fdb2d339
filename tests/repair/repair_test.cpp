// Repair of damaged copies of the fixtures and of a migrated law-office
// database, one kind of damage per case: the new file must pass both
// readers and our own checks, every row stored outside the damaged pages
// must come back field for field, the report must name the damage, and the
// damaged file must be left as it was.
#include "repair/repair.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <map>
#include <memory>
#include <set>

#include "../migrate/origin_filler.h"
#include "db/engine.h"
#include "db/program_state.h"
#include "jet/catalog_layout.h"
#include "jet/compact.h"
#include "jet/dao.h"
#include "jet/data_page.h"
#include "jet/database.h"
#include "jet/structure_check.h"
#include "migrate/migration.h"
#include "repair/law_office_layouts.h"
#include "support/fixtures.h"
#include "support/index_check.h"
#include "support/oracles.h"

namespace {

namespace fs = std::filesystem;
namespace ts = testing_support;
using jet::DamageKind;

enum class Harm {
  kDataPageBytes,
  kDataPageZeroed,
  kIndexPage,
  kUsageMap,
  kTableDefinition,
  kCutShort,
  kHeaderZeroed,
  kCatalogueRow  // the MSysObjects page holding the table's row zeroed
};

struct StoredRow {
  jet::RowId at;
  std::vector<std::pair<std::string, jet::Value>> fields;  // by column name
};

// A database's user tables as it stores them.
struct Original {
  std::map<std::string, jet::TableDef> defs;
  std::map<std::string, std::vector<StoredRow>> rows;
  std::map<std::string, int> relations;  // name -> attributes
  std::map<std::string, uint32_t> catalogue_page;  // the page of each table's MSysObjects row
  uint32_t pages = 0;
  uint32_t page_size = 0;
};

Original ReadOriginal(const std::string& path, const std::string& password) {
  Original o;
  auto file = jet::FileState::Open(path, false, true, password);
  o.pages = file->pager().page_count();
  o.page_size = file->pager().format().page_size;
  for (const auto& e : file->TableEntries()) {
    if (e.is_system()) continue;
    jet::Table& t = file->TableAt(e.tdef_page(), e.name);
    o.defs[e.name] = t.def();
    std::vector<jet::Value> v;
    for (jet::Table::Scan scan(t, jet::Table::MovedRows::kWhereStored); scan.Next();) {
      t.DecodeRow(scan.bytes(), v);
      StoredRow row{scan.row_id(), {}};
      for (size_t i = 0; i < v.size(); ++i) row.fields.emplace_back(t.def().columns[i].name, v[i]);
      o.rows[e.name].push_back(std::move(row));
    }
  }
  jet::Table& objects = file->GetTable("MSysObjects");
  std::vector<jet::Value> v;
  for (jet::Table::Scan scan(objects); scan.Next();) {
    objects.DecodeRow(scan.bytes(), v);
    const jet::Value& name = v[static_cast<size_t>(objects.def().FindColumn("Name") -
                                                   objects.def().columns.data())];
    if (name.is<std::string>() && o.defs.count(name.as<std::string>()))
      o.catalogue_page[name.as<std::string>()] = scan.row_id().page;
  }
  for (const auto& r : file->Relations()) {
    if (o.defs.count(r.table) && o.defs.count(r.foreign_table)) o.relations[r.name] = r.attributes;
  }
  return o;
}

// A row's fields as one comparable text, in column-name order; `nulled`
// columns read as null.
std::string RowText(std::vector<std::pair<std::string, jet::Value>> fields,
                    const std::set<std::string>& nulled = {}) {
  std::sort(fields.begin(), fields.end(),
            [](const auto& a, const auto& b) { return a.first < b.first; });
  std::string s;
  for (const auto& [name, v] : fields) {
    const bool null = v.is_null() || nulled.count(name);
    s += name + (null ? "=<null>" : "=" + v.ToString()) + "\x1f";
  }
  return s;
}

// The table with most rows, as the one to harm.
std::string Busiest(const Original& o) {
  std::string best;
  size_t most = 0;
  for (const auto& [name, rows] : o.rows) {
    if (rows.size() > most) best = name, most = rows.size();
  }
  return best;
}

struct Harmed {
  std::string table;
  std::set<uint32_t> pages;  // pages whose rows may be lost
  uint32_t page = 0;         // the page the report must name (not for a cut)
};

// Harms the file at `path` (a copy of the original). False when the
// database has nothing to harm that way.
bool Apply(Harm harm, const Original& o, const std::string& path, Harmed& h) {
  std::string bytes = ts::FileContents(path);
  const uint32_t ps = o.page_size;
  auto zero_page = [&](uint32_t p) { std::fill_n(bytes.begin() + size_t{p} * ps, ps, '\0'); };
  h.table = Busiest(o);
  if (h.table.empty()) return false;
  const jet::TableDef& def = o.defs.at(h.table);
  const jet::Format& f = ps == 4096 ? jet::Jet4Format() : jet::Jet3Format();
  switch (harm) {
    case Harm::kDataPageBytes: {
      h.page = o.rows.at(h.table).front().at.page;
      h.pages = {h.page};
      // The row count and offset table take other bytes.
      for (size_t i = 0; i < 24; ++i)
        bytes[size_t{h.page} * ps + f.data_row_count_offset + i] = '\xa5';
      break;
    }
    case Harm::kDataPageZeroed:
      h.page = o.rows.at(h.table).back().at.page;
      h.pages = {h.page};
      zero_page(h.page);
      break;
    case Harm::kIndexPage: {
      auto it = std::find_if(def.real_indexes.begin(), def.real_indexes.end(),
                             [](const jet::RealIndexDef& ri) { return ri.first_page != 0; });
      if (it == def.real_indexes.end()) return false;
      h.page = it->first_page;
      zero_page(h.page);
      break;
    }
    case Harm::kUsageMap: {
      // The map row's bytes, left in place as zeros: an empty inline map.
      const jet::RowId map = jet::RowId::FromPacked(def.owned_pages);
      const std::string page = bytes.substr(size_t{map.page} * ps, ps);
      const jet::ByteView view(reinterpret_cast<const uint8_t*>(page.data()), page.size());
      const jet::RowBounds rb = jet::GetRowBounds(f, view, map.row);
      std::fill_n(bytes.begin() + size_t{map.page} * ps + rb.start, rb.size(), '\0');
      h.page = map.page;
      break;
    }
    case Harm::kTableDefinition:
      h.page = def.page;
      zero_page(h.page);
      break;
    case Harm::kHeaderZeroed:
      zero_page(0);
      break;
    case Harm::kCatalogueRow:
      h.page = o.catalogue_page.at(h.table);
      zero_page(h.page);
      break;
    case Harm::kCutShort: {
      const uint32_t keep = o.pages * 2 / 3;
      for (uint32_t p = keep; p < o.pages; ++p) h.pages.insert(p);
      bytes.resize(size_t{keep} * ps + ps / 3);
      break;
    }
  }
  std::ofstream(path, std::ios::binary | std::ios::trunc) << bytes;
  return true;
}

bool Names(const std::vector<jet::Damage>& list, DamageKind kind, uint32_t page) {
  return std::any_of(list.begin(), list.end(),
                     [&](const jet::Damage& d) { return d.kind == kind && d.page == page; });
}

// The law-office layouts, built once for the whole run.
maquetor::repair::LawOfficeLayouts& LawOffice() {
  static maquetor::repair::LawOfficeLayouts layouts;
  return layouts;
}
maquetor::repair::LayoutSource Layouts() {
  return [](const std::string& t) { return LawOffice().Find(t); };
}

void CheckRepair(const std::string& origin, const std::string& password, Harm harm,
                 const ts::TempDir& dir) {
  SCOPED_TRACE(origin);
  const Original o = ReadOriginal(origin, password);
  const std::string damaged = dir.File("damaged.mdb"), out = dir.File("out.mdb");
  fs::remove(damaged);
  fs::remove(out);
  // A copy of the bytes, not of the file: the fixtures are read-only, and
  // Windows keeps that on a copy.
  std::ofstream(damaged, std::ios::binary) << ts::FileContents(origin);
  Harmed h;
  if (!Apply(harm, o, damaged, h)) return;
  const std::string before = ts::FileContents(damaged);
  const auto report = maquetor::repair::Repair(damaged, password, out, Layouts(),
                                               [] { return LawOffice().Names(); });
  EXPECT_EQ(ts::FileContents(damaged), before) << "the damaged file changed";
  EXPECT_FALSE(report.clean());
  EXPECT_EQ(report.written, !report.hopeless());
  if (report.hopeless()) {
    // Only when the harm took the one table there was.
    EXPECT_EQ(o.defs.size(), 1u);
    EXPECT_FALSE(fs::exists(out));
    return;
  }

  // A table whose catalogue row was lost keeps its page in its name,
  // unless a single law-office layout gave it back its own.
  auto table_named = [&](const std::string& table) {
    auto t = std::find_if(report.tables.begin(), report.tables.end(),
                          [&](const auto& x) { return x.name == table; });
    if (t != report.tables.end()) return t;
    return std::find_if(report.tables.begin(), report.tables.end(), [&](const auto& x) {
      return x.catalogue_row_lost && x.definition_page == o.defs.at(table).page;
    });
  };
  auto outcome = table_named(h.table);
  ASSERT_NE(outcome, report.tables.end());
  const bool law_office = static_cast<bool>(Layouts()(h.table));
  EXPECT_EQ(report.header_damaged, harm == Harm::kHeaderZeroed);
  switch (harm) {
    case Harm::kDataPageBytes:
    case Harm::kDataPageZeroed:
      EXPECT_TRUE(Names(outcome->damage, DamageKind::kDataPage, h.page));
      EXPECT_GT(outcome->lost, 0u);
      break;
    case Harm::kIndexPage:
      EXPECT_TRUE(Names(outcome->damage, DamageKind::kIndexPage, h.page));
      break;
    case Harm::kUsageMap:
      EXPECT_TRUE(Names(outcome->damage, DamageKind::kUsageMap, h.page));
      break;
    case Harm::kTableDefinition:
      EXPECT_TRUE(Names(outcome->damage, DamageKind::kTableDefinition, h.page));
      EXPECT_EQ(outcome->layout_used, law_office);
      EXPECT_EQ(outcome->definition_lost, !law_office);
      break;
    case Harm::kHeaderZeroed:
      break;
    case Harm::kCatalogueRow:
      EXPECT_TRUE(Names(report.catalogue_damage, DamageKind::kDataPage, h.page));
      EXPECT_TRUE(outcome->catalogue_row_lost);
      EXPECT_EQ(outcome->named_by_layout, law_office);
      EXPECT_EQ(outcome->name == h.table, law_office);
      break;
    case Harm::kCutShort:
      for (const auto& [table, rows] : o.rows) {
        if (std::none_of(rows.begin(), rows.end(),
                         [&](const StoredRow& r) { return h.pages.count(r.at.page); })) {
          continue;
        }
        auto t = table_named(table);
        ASSERT_NE(t, report.tables.end());
        EXPECT_TRUE(t->lost > 0 || t->definition_lost ||
                    std::any_of(t->damage.begin(), t->damage.end(),
                                [](const auto& d) { return d.kind == DamageKind::kMissingPage; }))
            << table;
      }
      break;
  }

  // Every row outside the harmed pages, field for field (a long value the
  // report names as lost reads as null).
  auto file = jet::FileState::Open(out, false, true, password);
  for (const auto& [table, rows] : o.rows) {
    SCOPED_TRACE(table);
    auto t = table_named(table);
    ASSERT_NE(t, report.tables.end());
    if (t->definition_lost) continue;
    std::multiset<std::string> found;
    for (const std::string& name : {t->name, t->set_aside_table}) {
      if (name.empty()) continue;
      jet::Table& rt = file->GetTable(name);
      std::vector<jet::Value> v;
      for (jet::Table::Scan scan(rt); scan.Next();) {
        rt.DecodeRow(scan.bytes(), v);
        std::vector<std::pair<std::string, jet::Value>> fields;
        for (size_t i = 0; i < v.size(); ++i) fields.emplace_back(rt.def().columns[i].name, v[i]);
        found.insert(RowText(fields));
      }
    }
    EXPECT_EQ(found.size(), t->recovered + t->set_aside);
    for (const StoredRow& r : rows) {
      if (h.pages.count(r.at.page)) continue;
      std::set<std::string> nulled;
      for (const auto& d : t->damage) {
        if (d.kind == DamageKind::kLongValue && d.page == r.at.page && d.row == r.at.row)
          nulled.insert(d.column);
      }
      auto it = found.find(RowText(r.fields, nulled));
      EXPECT_NE(it, found.end()) << "row " << r.at.page << "/" << int{r.at.row} << " not recovered";
      if (it != found.end()) found.erase(it);
    }
  }

  // Relations: each kept as it was, unless the report says it is kept
  // without enforcement or lost with a table.
  std::map<std::string, int> kept;
  for (const auto& r : file->Relations()) kept[r.name] = r.attributes;
  for (const auto& [name, attributes] : o.relations) {
    SCOPED_TRACE(name);
    auto said = std::find_if(report.relations.begin(), report.relations.end(),
                             [&](const auto& x) { return x.name == name; });
    if ((said != report.relations.end() && said->lost) ||
        (!kept.count(name) && (!report.relations_damage.empty() || report.relations_unread))) {
      EXPECT_EQ(kept.count(name), 0u);
    } else if (said != report.relations.end()) {
      EXPECT_EQ(kept[name], attributes | jet::catalog::kRelDontEnforce);
    } else {
      EXPECT_EQ(kept[name], attributes);
    }
  }
  if (law_office && harm == Harm::kDataPageBytes) {
    // The lost clients leave matters pointing at nobody.
    EXPECT_FALSE(report.relations.empty());
  }

  // Our own checks, then both readers.
  for (const auto& e : file->TableEntries()) {
    if (e.is_system()) continue;
    jet::Table& t = file->GetTable(e.name);
    EXPECT_NO_THROW(jet::CheckBeforeWriting(t)) << e.name;
    EXPECT_EQ(ts::IndexFaults(*file, e.name), "") << e.name;
  }
  file.reset();
  if (ts::UseMdbtools()) {
    for (const auto& table : ts::MdbTables(out))
      EXPECT_NO_THROW(ts::MdbExport(out, table)) << table;
  }
  if (ts::UseMdbReader()) {
    EXPECT_NO_THROW(
        ts::MdbReaderDump(out, password.empty() ? std::nullopt : std::optional(password)));
  }
}

// A small office, migrated: a few hundred clients over several pages.
class RepairTest : public ::testing::TestWithParam<Harm> {
 protected:
  static void SetUpTestSuite() {
    dir_ = std::make_unique<ts::TempDir>();
    migrated_ = dir_->File("Migrada.mdb");
    const std::string origin = dir_->File("Origen.mdb");
    migrate_testing::BuildOrigin(origin, 12, migrate_testing::Layout::kV8, {{"TClientes", 400}});
    ASSERT_TRUE(maquetor::schema::CrearBaseCompleta(migrated_));
    auto& state = maquetor::db::ProgramState::Instance();
    state.BDatosOrigen = origin;
    state.BDatosDestino = migrated_;
    auto report = maquetor::migrate::MigrarV8V8([](const auto&, bool) {});
    ASSERT_FALSE(report.failure);
  }
  static void TearDownTestSuite() { dir_.reset(); }

  static inline std::unique_ptr<ts::TempDir> dir_;
  static inline std::string migrated_;
};

TEST_P(RepairTest, MigratedLawOfficeDatabase) {
  ts::TempDir dir;
  CheckRepair(migrated_, std::string(maquetor::db::kConnect).substr(5), GetParam(), dir);
}

TEST_P(RepairTest, Fixtures) {
  REQUIRE_FIXTURES();
  ts::TempDir dir;
  for (const auto& fixture : ts::FixtureFiles(ts::Encrypted::kLeftOut)) {
    CheckRepair(fixture.string(), "", GetParam(), dir);
  }
}

// A memo the rows require, stored on a long-value page that is then lost:
// the rows keep their other fields and, breaking the rule, go to the
// set-aside table; the rows whose memo was short enough to stay in the row
// keep their place.
TEST(RepairSetAsideTest, RowsARuleRefusesGoToATableOfTheirOwn) {
  ts::TempDir dir;
  const std::string db = dir.File("memo.mdb"), out = dir.File("out.mdb");
  {
    auto d = jet::dao::DBEngine::Instance().Workspaces(0).CreateDatabase(
        db, maquetor::db::kLocaleGeneral);
    d.Execute("CREATE TABLE Notas (Id LONG CONSTRAINT pk PRIMARY KEY, Texto MEMO NOT NULL)");
    for (int i = 1; i <= 6; ++i) {
      const std::string text = i % 2 ? "corta" : std::string(3000, static_cast<char>('a' + i));
      d.Execute("INSERT INTO Notas VALUES (" + std::to_string(i) + ", '" + text + "')");
    }
    d.Close();
  }
  std::string bytes = ts::FileContents(db);
  size_t lost_pages = 0;
  for (size_t at = 4096; at < bytes.size(); at += 4096) {
    if (bytes[at] != 1 || bytes.compare(at + 4, 4, "LVAL") != 0) continue;
    std::fill_n(bytes.begin() + static_cast<ptrdiff_t>(at), 4096, '\0');
    ++lost_pages;
  }
  ASSERT_GT(lost_pages, 0u);
  std::ofstream(db, std::ios::binary | std::ios::trunc) << bytes;

  const auto report = maquetor::repair::Repair(db, "", out);
  ASSERT_EQ(report.tables.size(), 1u);
  const auto& t = report.tables[0];
  EXPECT_EQ(t.recovered, 3u);
  EXPECT_EQ(t.set_aside, 3u);
  EXPECT_EQ(t.lost, 0u);
  EXPECT_TRUE(std::any_of(t.damage.begin(), t.damage.end(), [](const jet::Damage& d) {
    return d.kind == DamageKind::kLongValue && d.column == "Texto";
  }));
  auto file = jet::FileState::Open(out, false, true, "");
  EXPECT_EQ(t.set_aside_table, "Notas_SetAside");
  for (const auto& [table, odd] : {std::pair{"Notas", 1}, std::pair{"Notas_SetAside", 0}}) {
    jet::Table& rt = file->GetTable(table);
    std::vector<jet::Value> v;
    size_t n = 0;
    for (jet::Table::Scan scan(rt); scan.Next(); ++n) {
      rt.DecodeRow(scan.bytes(), v);
      EXPECT_EQ(v[0].as<int32_t>() % 2, odd) << table;
      EXPECT_EQ(v[1].is_null(), odd == 0) << table;
    }
    EXPECT_EQ(n, 3u) << table;
  }
}

// A counter the damage set back (here below the numbers the rows hold)
// must not hand out a number a recovered row already has.
TEST(RepairAutoNumberTest, TheCounterGoesOnPastEveryRecoveredNumber) {
  ts::TempDir dir;
  const std::string db = dir.File("cuentas.mdb"), out = dir.File("out.mdb");
  {
    auto d = jet::dao::DBEngine::Instance().Workspaces(0).CreateDatabase(
        db, maquetor::db::kLocaleGeneral);
    d.Execute("CREATE TABLE Cuentas (Id COUNTER CONSTRAINT pk PRIMARY KEY, Nombre TEXT(20))");
    for (int i = 1; i <= 5; ++i) d.Execute("INSERT INTO Cuentas (Nombre) VALUES ('c" + std::to_string(i) + "')");
    d.Close();
  }
  size_t at = 0;
  {
    auto file = jet::FileState::Open(db, false, true, "");
    const auto entry = file->FindTable("Cuentas");
    ASSERT_TRUE(entry.has_value());
    const jet::Format& f = file->GetTable("Cuentas").format();
    at = size_t{entry->tdef_page()} * f.page_size + f.tdef_offset_next_autonum;
  }
  std::string bytes = ts::FileContents(db);
  bytes[at] = 1;  // the counter as if one number had been handed out
  for (size_t i = 1; i < 4; ++i) bytes[at + i] = 0;
  std::ofstream(db, std::ios::binary | std::ios::trunc) << bytes;

  const auto report = maquetor::repair::Repair(db, "", out);
  ASSERT_EQ(report.tables.size(), 1u);
  EXPECT_EQ(report.tables[0].recovered, 5u);
  auto d = jet::dao::DBEngine::Instance().Workspaces(0).OpenDatabase(out);
  d.Execute("INSERT INTO Cuentas (Nombre) VALUES ('nueva')");
  std::map<std::string, int32_t> ids;
  for (auto rs = d.OpenRecordset("Cuentas"); !rs.IsEOF(); rs.MoveNext())
    ids[rs.GetValue("Nombre").as<std::string>()] = rs.GetValue("Id").as<int32_t>();
  EXPECT_EQ(ids.size(), 6u);
  EXPECT_EQ(ids["nueva"], 6);
}

// What the catalogue holds beside the tables comes through a repair whose
// damage spares its rows: saved queries, the tables' and columns' own
// properties (descriptions, formats), the database's properties and its
// documents; from a Jet 3 file as a Jet 4 one.
TEST(RepairCatalogueTest, QueriesAndPropertiesComeThrough) {
  REQUIRE_FIXTURES();
  size_t queries = 0, column_maps = 0;  // what the fixtures hold, lest the test prove nothing
  for (const char* fixture :
       {"jet4/queryTestV2000.mdb", "jet3/queryTestV1997.mdb", "jet4/testV2000.mdb"}) {
    SCOPED_TRACE(fixture);
    ts::TempDir dir;
    const std::string origin = (ts::FixturesDir() / fixture).string();
    const std::string damaged = dir.File("damaged.mdb"), out = dir.File("out.mdb");
    std::ofstream(damaged, std::ios::binary) << ts::FileContents(origin);
    // Tables without rows leave nothing to harm: the copy stays whole.
    Harmed h;
    Apply(Harm::kDataPageZeroed, ReadOriginal(origin, ""), damaged, h);
    const auto report = maquetor::repair::Repair(damaged, "", out);
    EXPECT_TRUE(report.skipped.empty());

    auto before = jet::FileState::Open(origin, false, true, "");
    auto after = jet::FileState::Open(out, false, true, "");
    const jet::rebuild::Database a = jet::DescribeDatabase(*before);
    const jet::rebuild::Database b = jet::DescribeDatabase(*after);
    EXPECT_EQ(b.database_properties, a.database_properties);
    ASSERT_EQ(b.documents.size(), a.documents.size());
    for (size_t i = 0; i < a.documents.size(); ++i) {
      EXPECT_EQ(b.documents[i].name, a.documents[i].name);
      EXPECT_EQ(b.documents[i].properties, a.documents[i].properties) << a.documents[i].name;
    }
    for (const auto& t : a.tables) {
      auto it = std::find_if(b.tables.begin(), b.tables.end(),
                             [&](const auto& x) { return x.name == t.name; });
      ASSERT_NE(it, b.tables.end()) << t.name;
      EXPECT_EQ(it->properties, t.properties) << t.name;
      column_maps += t.properties.maps.size();
    }
    queries += a.queries.size();
    // A query's rows in the columns both formats' MSysQueries share.
    auto rows = [](const jet::rebuild::Query& q) {
      std::multiset<std::string> out;
      for (const auto& cells : q.rows) {
        std::string text;
        for (const auto& [name, v] : cells) {
          if (name == "Attribute" || name == "Expression" || name == "Name1" || name == "Name2")
            text += name + "=" + (v.is_null() ? "<null>" : v.ToString()) + ";";
        }
        out.insert(text);
      }
      return out;
    };
    ASSERT_EQ(b.queries.size(), a.queries.size());
    EXPECT_EQ(report.queries, a.queries.size());
    for (const auto& q : a.queries) {
      auto it = std::find_if(b.queries.begin(), b.queries.end(),
                             [&](const auto& x) { return x.name == q.name; });
      ASSERT_NE(it, b.queries.end()) << q.name;
      EXPECT_EQ(it->flags, q.flags) << q.name;
      EXPECT_EQ(it->properties, q.properties) << q.name;
      EXPECT_EQ(it->lv_extra, q.lv_extra) << q.name;
      EXPECT_EQ(rows(*it), rows(q)) << q.name;
    }
    after.reset();
    if (ts::UseMdbReader()) {
      EXPECT_NO_THROW(ts::MdbReaderDump(out, std::nullopt));
    }
  }
  EXPECT_GT(queries, 10u);
  EXPECT_GT(column_maps, 10u);
}

// With the catalogue's definition lost, MSysRelationships is known by its
// columns and the relations come back; with its own definition lost too,
// the report says relations may be missing.
TEST(RepairCatalogueTest, RelationsWithoutTheCatalogue) {
  REQUIRE_FIXTURES();
  const fs::path origin = ts::FixturesDir() / "jet4" / "indexTestV2000.mdb";
  uint32_t relationships = 0;
  size_t relations = 0;
  {
    auto file = jet::FileState::Open(origin.string(), false, true, "");
    for (const auto& e : file->TableEntries()) {
      if (e.name == "MSysRelationships") relationships = e.tdef_page();
    }
    relations = file->Relations().size();
  }
  ASSERT_GT(relationships, 0u);
  ASSERT_GT(relations, 0u);
  for (const bool lost : {false, true}) {
    SCOPED_TRACE(lost ? "MSysRelationships lost too" : "catalogue lost");
    ts::TempDir dir;
    const std::string db = dir.File("in.mdb"), out = dir.File("out.mdb");
    std::string bytes = ts::FileContents(origin);
    for (uint32_t p : {2u, lost ? relationships : 2u})
      std::fill_n(bytes.begin() + size_t{p} * 4096, 4096, '\0');
    std::ofstream(db, std::ios::binary) << bytes;
    const auto report = maquetor::repair::Repair(db, "", out);
    EXPECT_EQ(report.relations_unread, lost);
    auto file = jet::FileState::Open(out, false, true, "");
    // The tables keep their names only through their catalogue rows: the
    // relations naming them are reported lost, never silently gone.
    EXPECT_EQ(report.relations.size(), lost ? 0u : relations);
  }
}

// Without its header an encrypted file cannot be read: the page key was
// there. Nothing is written.
TEST(RepairHeaderTest, EncryptedFileWithoutItsHeaderIsHopeless) {
  REQUIRE_FIXTURES();
  ts::TempDir dir;
  const std::string db = dir.File("in.mdb"), out = dir.File("out.mdb");
  std::string bytes = ts::FileContents(ts::FixturesDir() / "jet3" / "encrypted97.mdb");
  std::fill_n(bytes.begin(), 2048, '\0');
  std::ofstream(db, std::ios::binary) << bytes;
  const auto report = maquetor::repair::Repair(db, "", out);
  EXPECT_TRUE(report.header_damaged);
  EXPECT_TRUE(report.unreadable);
  EXPECT_TRUE(report.hopeless());
  EXPECT_FALSE(fs::exists(out));
}

std::string HarmName(const ::testing::TestParamInfo<Harm>& info) {
  static const char* const kNames[] = {"DataPageBytes",   "DataPageZeroed", "IndexPage",
                                       "UsageMap",        "TableDefinition", "CutShort",
                                       "HeaderZeroed",    "CatalogueRow"};
  return kNames[static_cast<int>(info.param)];
}

INSTANTIATE_TEST_SUITE_P(Harms, RepairTest,
                         ::testing::Values(Harm::kDataPageBytes, Harm::kDataPageZeroed,
                                           Harm::kIndexPage, Harm::kUsageMap,
                                           Harm::kTableDefinition, Harm::kCutShort,
                                           Harm::kHeaderZeroed, Harm::kCatalogueRow),
                         HarmName);

}  // namespace
