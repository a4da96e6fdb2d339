// `maquetor compact`: every fixture, the law-office and auxiliary databases
// and a migrated database with half its rows deleted come out holding the
// same definitions, properties, queries and rows, as our reader, mdbtools
// and mdb-reader see them, with sound indexes and rows in primary-key
// order; in place, a power cut leaves the old file or the whole new one.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <nlohmann/json.hpp>
#include <sstream>
#include <string>
#include <vector>

#include "db/engine.h"
#include "db/file_name.h"
#include "jet/compact.h"
#include "jet/dao.h"
#include "jet/data_page.h"
#include "jet/database.h"
#include "jet/format.h"
#include "jet/index_key.h"
#include "migrate/origin_filler.h"
#include "support/fault_file_system.h"
#include "support/fixtures.h"
#include "support/index_check.h"
#include "support/maquetor_program.h"
#include "support/oracles.h"

namespace {

namespace fs = std::filesystem;
namespace ts = testing_support;
using json = nlohmann::json;

constexpr const char* kPassword = "KTRW_BLM";

fs::path P(const std::string& path) { return maquetor::db::FsPath(path); }

uint64_t SizeOf(const std::string& path) { return fs::file_size(P(path)); }

template <typename Rows>
std::vector<std::string> Sorted(const Rows& rows) {
  std::vector<std::string> out;
  for (const auto& r : rows) out.push_back(json(r).dump());
  std::sort(out.begin(), out.end());
  return out;
}

// inspect --json --rows without what compaction changes: the format, the
// rows' order, and relations among system tables.
json Inspected(const std::string& path, const std::string& password) {
  auto r = ts::RunMaquetor({"inspect", path, "--json", "--rows", "--password", password});
  EXPECT_EQ(r.exit_code, 0) << r.err;
  json doc = json::parse(r.out);
  doc.erase("format");
  for (auto& t : doc["tables"]) t["data"] = Sorted(t["data"]);
  // DAO lists a moved catalogue row where it was; the new file follows
  // mdbtools' order, where its bytes lie.
  std::sort(doc["tables"].begin(), doc["tables"].end(),
            [](const json& a, const json& b) { return a["name"] < b["name"]; });
  json relations = json::array();
  for (const auto& rel : doc["relations"]) {
    if (rel["table"].get<std::string>().rfind("MSys", 0) != 0) relations.push_back(rel);
  }
  doc["relations"] = relations;
  return doc;
}

// Saved queries as mdbtools reads them: each query's MSysQueries rows by
// its name (ids differ between files).
std::map<std::string, std::vector<std::string>> Queries(const std::string& path) {
  std::map<std::string, std::string> name_of;
  const ts::CsvTable objects = ts::MdbExport(path, "MSysObjects");
  for (size_t i = 0; i < objects.rows.size(); ++i) {
    if (objects.At(i, "Type") == "5") name_of[objects.At(i, "Id")] = objects.At(i, "Name");
  }
  std::map<std::string, std::vector<std::string>> out;
  const ts::CsvTable rows = ts::MdbExport(path, "MSysQueries");
  // By column name, empty cells left out: a Jet 3 MSysQueries has no LvExtra.
  for (size_t i = 0; i < rows.rows.size(); ++i) {
    json row = json::object();
    for (size_t c = 0; c < rows.header.size(); ++c) {
      if (rows.header[c] != "ObjectId" && !rows.rows[i][c].empty())
        row[rows.header[c]] = rows.rows[i][c];
    }
    out[name_of[rows.At(i, "ObjectId")]].push_back(row.dump());
  }
  for (auto& [name, list] : out) std::sort(list.begin(), list.end());
  return out;
}

// Our own look at the result: index entries match the rows, and the rows of
// a table with a primary key lie in its order.
void ExpectSoundAndInKeyOrder(const std::string& path, const std::string& password) {
  auto file = jet::FileState::Open(path, false, true, password);
  for (const auto& e : file->TableEntries()) {
    if (e.is_system()) continue;
    SCOPED_TRACE(e.name);
    EXPECT_EQ(ts::IndexFaults(*file, e.name), "");
    jet::Table& t = file->GetTable(e.name);
    const jet::TableDef& def = t.def();
    for (const auto& li : def.indexes) {
      if (li.type != jet::kIdxPrimary) continue;
      const jet::RealIndexDef& ri = def.real_indexes[li.real_index];
      jet::Bytes last;
      std::vector<jet::Value> values;
      jet::Table::Scan scan(t);
      while (scan.Next()) {
        t.DecodeRow(scan.bytes(), values);
        jet::Bytes key = jet::RowIndexKey(def, ri, values);
        EXPECT_LE(jet::CompareKeys(last, key), 0) << "row at page " << scan.row_id().page;
        last = std::move(key);
      }
    }
  }
}

// The indexes as mdbtools reads them (its PostgreSQL DDL), by name. For
// some indexes of files other programs wrote it lists no columns (and no
// UNIQUE): those are compared by name alone.
std::map<std::string, std::string> MdbIndexes(const std::string& path) {
  std::map<std::string, std::string> out;
  std::istringstream in(ts::MdbSchema(path, "postgres"));
  for (std::string line; std::getline(in, line);) {
    if (line.find(" INDEX \"") == std::string::npos &&
        line.find("PRIMARY KEY") == std::string::npos) {
      continue;
    }
    size_t at = line.find("INDEX \"");
    at = at == std::string::npos ? line.find("CONSTRAINT \"") : at;
    at = line.find('"', at) + 1;
    out[line.substr(at, line.find('"', at) - at)] = line;
  }
  return out;
}

// What the readers see of origin and result alike. Jet 3 text reads
// differently in them (byte sizes, the five undefined code-page bytes),
// so a Jet 3 origin is held to its rows' counts there.
void ExpectReadersAgree(const std::string& origin, const std::string& out,
                        const std::string& password, bool jet3) {
  if (ts::UseMdbtools()) {
    EXPECT_EQ(ts::MdbVer(out), "JET4");
    EXPECT_EQ(ts::MdbTables(out), ts::MdbTables(origin));
    EXPECT_EQ(ts::MdbSchema(out), ts::MdbSchema(origin));
    const auto indexes = MdbIndexes(out);
    for (const auto& [name, line] : MdbIndexes(origin)) {
      ASSERT_TRUE(indexes.count(name)) << line;
      if (line.find("()") == std::string::npos) {
        EXPECT_EQ(indexes.at(name), line);
      }
    }
    for (const auto& table : ts::MdbTables(origin)) {
      SCOPED_TRACE(table);
      EXPECT_EQ(ts::MdbProp(out, table), ts::MdbProp(origin, table));
      if (jet3) {
        EXPECT_EQ(ts::MdbCount(out, table), ts::MdbCount(origin, table));
      } else {
        EXPECT_EQ(Sorted(ts::MdbExport(out, table).rows),
                  Sorted(ts::MdbExport(origin, table).rows));
      }
    }
    // The database's own properties, where the origin has any: for an
    // object without them mdb-prop may print another object's.
    std::vector<std::string> with_properties;
    {
      auto file = jet::FileState::Open(origin, false, true, password);
      const jet::rebuild::Database d = jet::DescribeDatabase(*file);
      if (!d.database_properties.maps.empty()) with_properties.push_back("MSysDb");
      for (const auto& doc : d.documents) {
        if (!doc.properties.maps.empty()) with_properties.push_back(doc.name);
      }
    }
    for (const auto& object : with_properties) {
      EXPECT_EQ(ts::MdbProp(out, object), ts::MdbProp(origin, object)) << object;
    }
    EXPECT_EQ(Queries(out), Queries(origin));
  }
  if (ts::UseMdbReader()) {
    const std::optional<std::string> pwd =
        password.empty() ? std::nullopt : std::optional<std::string>(password);
    json a = ts::MdbReaderDump(origin, pwd), b = ts::MdbReaderDump(out, pwd);
    ASSERT_EQ(a["tables"].size(), b["tables"].size());
    for (size_t i = 0; i < a["tables"].size(); ++i) {
      const json& ta = a["tables"][i];
      const json& tb = b["tables"][i];
      SCOPED_TRACE(ta["name"].get<std::string>());
      EXPECT_EQ(ta["name"], tb["name"]);
      if (jet3) {
        EXPECT_EQ(ta["rows"].size(), tb["rows"].size());
      } else {
        EXPECT_EQ(ta["columns"], tb["columns"]);
        EXPECT_EQ(Sorted(ta["rows"]), Sorted(tb["rows"]));
      }
    }
  }
}

struct Origin {
  std::string path;
  std::string password;
};

void ExpectCompactKeepsEverything(const Origin& o, const std::string& out) {
  SCOPED_TRACE(o.path);
  const std::string before = ts::FileContents(P(o.path));
  auto r = ts::RunMaquetor({"compact", o.path, out, "--origin-password", o.password});
  ASSERT_EQ(r.exit_code, 0) << r.err;
  // Our own databases hold nothing that is left behind.
  if (o.password == kPassword) {
    EXPECT_EQ(r.err, "");
  }
  EXPECT_EQ(ts::FileContents(P(o.path)), before) << "the origin changed";
  const bool jet3 = before.size() > 0x14 && before[0x14] == 0;
  EXPECT_EQ(Inspected(out, o.password), Inspected(o.path, o.password));
  ExpectSoundAndInKeyOrder(out, o.password);
  ExpectReadersAgree(o.path, out, o.password, jet3);
  // Jet 3 pages are half the size of Jet 4's: a small Jet 3 file can grow.
  if (!jet3) {
    EXPECT_LE(SizeOf(out), SizeOf(o.path));
  }
}

// Rows stored out of key order, with holes, and a relation on a text
// column no index of its own lists (its bytes move as stored, its value
// still makes the relation's keys).
std::string Unordered(const std::string& path) {
  auto d = jet::dao::DBEngine::Instance().Workspaces(0).CreateDatabase(
      path, ";LANGID=0x0409;CP=1252;COUNTRY=0");
  d.Execute("CREATE TABLE P (Code TEXT(10) PRIMARY KEY, N LONG)");
  d.Execute(
      "CREATE TABLE C (Id LONG PRIMARY KEY, Code TEXT(10), Nota MEMO, "
      "CONSTRAINT FK FOREIGN KEY (Code) REFERENCES P (Code))");
  for (int i = 0; i < 40; ++i) {
    const std::string code = "'c" + std::to_string((i * 7) % 40) + "'";
    d.Execute("INSERT INTO P VALUES (" + code + ", " + std::to_string(i) + ")");
    d.Execute("INSERT INTO C VALUES (" + std::to_string((i * 13) % 40) + ", " + code + ", '" +
              std::string(static_cast<size_t>(10 + i * 50), 'n') + "')");
  }
  d.Execute("DELETE FROM C WHERE Id < 10");
  d.Close();
  return path;
}

TEST(CompactCommandTest, KeepsEveryFixtureAndOurOwnDatabasesWhole) {
  REQUIRE_FIXTURES();
  ts::TempDir dir;
  std::vector<Origin> origins = {{Unordered(dir.File("unordered.mdb")), ""}};
  for (const auto& f : ts::FixtureFiles(ts::Encrypted::kIncluded))
    origins.push_back({f.string(), ""});
  const std::string law = dir.File("law.mdb");
  ASSERT_TRUE(ts::RunMaquetor({"create", law}).ok());
  origins.push_back({law, kPassword});
  fs::create_directories(dir.path() / "prog");
  ASSERT_TRUE(ts::RunMaquetor({"setup", "--dir", (dir.path() / "prog").string()}).ok());
  for (const auto& e : fs::directory_iterator(dir.path() / "prog" / "Bases")) {
    origins.push_back({e.path().string(), kPassword});
  }
  int n = 0;
  for (const auto& o : origins)
    ExpectCompactKeepsEverything(o, dir.File("out" + std::to_string(n++) + ".mdb"));
}

// Every other row of every filled table gone, children before parents so
// that each relation still finds its rows.
void DeleteHalf(const std::string& path) {
  auto db = jet::dao::DBEngine::Instance().OpenDatabase(path, false, false, maquetor::db::kConnect);
  auto order = migrate_testing::FillOrder();
  std::reverse(order.begin(), order.end());
  for (const auto& fill : order) {
    auto rs = db.OpenRecordset(fill.table);
    for (bool drop = false; !rs.IsEOF(); rs.MoveNext(), drop = !drop) {
      if (drop) rs.Delete();
    }
    rs.Close();
  }
  db.Close();
}

TEST(CompactCommandTest, AHalfEmptiedMigrationShrinksToAFreshFill) {
  ts::TempDir dir;
  const std::string origin = dir.File("origin.mdb"), migrated = dir.File("migrated.mdb"),
                    fresh = dir.File("fresh.mdb"), out = dir.File("out.mdb");
  migrate_testing::BuildOrigin(origin, 400);
  ASSERT_TRUE(ts::RunMaquetor({"migrate", "--from-v8", origin, migrated}).ok());
  DeleteHalf(migrated);
  ASSERT_TRUE(ts::RunMaquetor({"migrate", "--from-v8", migrated, fresh}).ok());
  ExpectCompactKeepsEverything({migrated, kPassword}, out);
  EXPECT_LE(SizeOf(out), SizeOf(fresh) * 11 / 10)
      << "compacted " << SizeOf(out) << ", fresh " << SizeOf(fresh);
  EXPECT_LT(SizeOf(out), SizeOf(migrated));
}

int64_t Counted(const std::string& path, const std::string& sql, const std::string& password) {
  auto r = ts::RunMaquetor({"sql", path, sql, "--password", password});
  EXPECT_EQ(r.exit_code, 0) << r.err;
  return std::stoll(r.out.substr(r.out.find('\n') + 1));
}

TEST(CompactCommandTest, OptionsCountersAndRefusals) {
  ts::TempDir dir;
  const std::string base = dir.File("a.mdb");
  for (const char* sql :
       {"CREATE TABLE T (Id COUNTER PRIMARY KEY, Nombre TEXT(20))",
        "CREATE TABLE V (Id COUNTER, X LONG)", "INSERT INTO T (Nombre) VALUES ('a')",
        "INSERT INTO T (Nombre) VALUES ('b')", "INSERT INTO T (Nombre) VALUES ('c')",
        "INSERT INTO T (Nombre) VALUES ('d')", "INSERT INTO V (X) VALUES (1)",
        "DELETE FROM T WHERE Id >= 3", "DELETE FROM V"}) {
    ASSERT_TRUE(ts::RunMaquetor({"sql", base, sql, "--create", "--password", ""}).ok()) << sql;
  }
  // In place, with a new password: the counters go on from the highest
  // number kept (1 in an empty table), as the engine's compaction leaves them.
  auto r = ts::RunMaquetor(
      {"compact", base, "--origin-password", "", "--password", "nueva", "--encrypt"});
  ASSERT_EQ(r.exit_code, 0) << r.err;
  EXPECT_EQ(ts::RunMaquetor({"sql", base, "SELECT * FROM T", "--password", "otra"}).exit_code, 1);
  for (const char* sql : {"INSERT INTO T (Nombre) VALUES ('e')", "INSERT INTO V (X) VALUES (2)"}) {
    ASSERT_TRUE(ts::RunMaquetor({"sql", base, sql, "--password", "nueva"}).ok());
  }
  EXPECT_EQ(Counted(base, "SELECT MAX(Id) FROM T", "nueva"), 3);
  EXPECT_EQ(Counted(base, "SELECT MAX(Id) FROM V", "nueva"), 1);
  auto inspected =
      json::parse(ts::RunMaquetor({"inspect", base, "--json", "--password", "nueva"}).out);
  EXPECT_TRUE(inspected["encrypted"].get<bool>());
  if (ts::UseMdbReader()) {
    EXPECT_EQ(ts::MdbReaderDump(base, "nueva")["tables"].size(), 2u);
  }

  const std::string copy = dir.File("b.mdb");
  ASSERT_TRUE(ts::RunMaquetor({"compact", base, copy, "--origin-password", "nueva", "--password",
                               "", "--decrypt"})
                  .ok());
  inspected = json::parse(ts::RunMaquetor({"inspect", copy, "--json", "--password", ""}).out);
  EXPECT_FALSE(inspected["encrypted"].get<bool>());
  EXPECT_FALSE(inspected["password"].get<bool>());

  // An OUT that exists is refused (3204); a damaged file is 3049 naming it,
  // in place or not. Every file stays as it was.
  const std::string a = ts::FileContents(P(base)), b = ts::FileContents(P(copy));
  r = ts::RunMaquetor({"compact", base, copy, "--origin-password", "nueva"});
  EXPECT_EQ(r.exit_code, 1);
  EXPECT_NE(r.err.find("Error 3204"), std::string::npos) << r.err;
  const std::string damaged = dir.File("d.mdb");
  const std::vector<std::pair<const char*, std::function<void()>>> damages = {
      {"cut short", [&] { fs::resize_file(P(damaged), b.size() / 2); }},
      {"a usage map that lost its pages",
       [&] {
         // T's map of owned pages: its bitmap zeroed, its rows still counted.
         jet::RowId map;
         {
           auto file = jet::FileState::Open(damaged, false, true, "");
           map = jet::RowId::FromPacked(file->GetTable("T").def().owned_pages);
         }
         std::string bytes = ts::FileContents(P(damaged));
         const jet::Format& f = jet::Jet4Format();
         const jet::ByteView page(
             reinterpret_cast<const uint8_t*>(bytes.data()) + size_t{map.page} * f.page_size,
             f.page_size);
         const jet::RowBounds row = jet::GetRowBounds(f, page, map.row);
         const size_t at = size_t{map.page} * f.page_size + row.start + 5;
         std::fill(bytes.begin() + static_cast<std::ptrdiff_t>(at),
                   bytes.begin() + static_cast<std::ptrdiff_t>(at + row.size() - 5), '\0');
         std::ofstream(P(damaged), std::ios::binary | std::ios::trunc) << bytes;
       }},
  };
  for (const auto& [what, damage] : damages) {
    SCOPED_TRACE(what);
    fs::remove(P(damaged));  // MinGW's copy_file cannot overwrite
    fs::copy_file(P(copy), P(damaged));
    damage();
    const std::string before = ts::FileContents(P(damaged));
    for (const std::string& target : {std::string(), dir.File("c.mdb")}) {
      std::vector<std::string> args = {"compact", damaged, "--origin-password", ""};
      if (!target.empty()) args.push_back(target);
      r = ts::RunMaquetor(args);
      EXPECT_EQ(r.exit_code, 1);
      EXPECT_NE(r.err.find("Error 3049"), std::string::npos) << r.err;
      EXPECT_NE(r.err.find("d.mdb"), std::string::npos) << r.err;
      EXPECT_FALSE(fs::exists(P(dir.File("c.mdb"))));
    }
    EXPECT_EQ(ts::FileContents(P(damaged)), before);
  }
  EXPECT_EQ(ts::FileContents(P(base)), a);
  EXPECT_EQ(ts::FileContents(P(copy)), b);
  std::vector<std::string> names;
  for (const auto& e : fs::directory_iterator(dir.path()))
    names.push_back(e.path().filename().string());
  std::sort(names.begin(), names.end());
  EXPECT_EQ(names, (std::vector<std::string>{"a.mdb", "b.mdb", "d.mdb"}));
}

int64_t RowsIn(const std::string& path) {
  auto base = jet::dao::DBEngine::Instance().OpenDatabase(path, false, true);
  int64_t n = base.GetTableDef("T").RecordCount();
  base.Close();
  return n;
}

// Damage in a table filled after another: the reading thread meets it while
// the writer may still be storing the earlier table's rows. The run ends with
// 3049 naming the origin and writes nothing.
TEST(CompactCommandTest, DamageInALaterTableEndsTheRunWithoutAFile) {
  ts::TempDir dir;
  const std::string origin = Unordered(dir.File("u.mdb"));
  uint32_t child = 0;
  {
    auto file = jet::FileState::Open(origin, false, true, "");
    child = file->GetTable("C").def().page;
  }
  std::string bytes = ts::FileContents(P(origin));
  const size_t page_size = jet::Jet4Format().page_size;
  bool zeroed = false;
  for (size_t at = page_size; at + page_size <= bytes.size() && !zeroed; at += page_size) {
    const auto* page = reinterpret_cast<const uint8_t*>(bytes.data()) + at;
    const uint32_t owner = page[4] | page[5] << 8 | page[6] << 16 | uint32_t{page[7]} << 24;
    if (page[0] == 0x01 && owner == child) {
      std::fill_n(bytes.begin() + static_cast<std::ptrdiff_t>(at), page_size, '\0');
      zeroed = true;
    }
  }
  ASSERT_TRUE(zeroed);
  std::ofstream(P(origin), std::ios::binary | std::ios::trunc) << bytes;
  const std::string out = dir.File("out.mdb");
  const auto r = ts::RunMaquetor({"compact", origin, out});
  EXPECT_EQ(r.exit_code, 1);
  EXPECT_NE(r.err.find("Error 3049"), std::string::npos) << r.err;
  EXPECT_NE(r.err.find("u.mdb"), std::string::npos) << r.err;
  EXPECT_FALSE(fs::exists(P(out)));
  EXPECT_EQ(ts::FileContents(P(origin)), bytes);
}

TEST(CompactCommandTest, APowerCutLeavesTheOldFileOrTheWholeNewOne) {
  ts::TempDir dir;
  const std::string base = dir.File("a.mdb"), out = dir.File("b.mdb");
  {
    auto d = jet::dao::DBEngine::Instance().Workspaces(0).CreateDatabase(
        base, ";LANGID=0x0409;CP=1252;COUNTRY=0");
    d.Execute("CREATE TABLE T (Id LONG PRIMARY KEY, Texto MEMO)");
    for (int i = 0; i < 300; ++i) {
      d.Execute("INSERT INTO T VALUES (" + std::to_string((i * 37) % 300) + ", '" +
                std::string(static_cast<size_t>(50 + i % 400), 'x') + "')");
    }
    d.Execute("DELETE FROM T WHERE Id < 150");
    d.Close();
  }
  const std::string old = ts::FileContents(P(base));
  for (bool in_place : {true, false}) {
    SCOPED_TRACE(in_place ? "in place" : "to OUT");
    ts::FaultFileSystem faults;
    bool saw_new = false;
    const int points = ts::PowerCutAtEveryPoint(
        faults,
        [&] {
          fs::remove(P(out));
          for (const auto& e : fs::directory_iterator(dir.path())) {
            if (e.path().filename().string().find(".~mq") != std::string::npos)
              fs::remove(e.path());
          }
          std::ofstream(P(base), std::ios::binary | std::ios::trunc) << old;
        },
        [&] { jet::CompactDatabase(base, in_place ? "" : out, {}); },
        [&](const std::string& point) {
          SCOPED_TRACE(point);
          const std::string now = ts::FileContents(P(base));
          const std::string result = in_place ? base : out;
          if (in_place && now == old) return;
          if (!in_place) {
            EXPECT_EQ(now, old);
          }
          if (!in_place && !fs::exists(P(out))) return;
          EXPECT_EQ(RowsIn(result), 150);
          saw_new = true;
        });
    // At least the new file's pages (kept in the cache until the commit,
    // so written as one run), the copy's sync and the folder's.
    EXPECT_GE(points, 3);
    EXPECT_TRUE(saw_new);
  }
}

}  // namespace
