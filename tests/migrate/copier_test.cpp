// The copier on its own: guarded and unguarded loops over rows the
// destination refuses, skipped tables, and origins of the older file format
// whose values must reach a Jet 4 destination unchanged.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>

#include "db/engine.h"
#include "jet/dao.h"
#include "jet/error.h"
#include "migrate/copier.h"
#include "migrate/migration.h"
#include "migrate/origin_filler.h"
#include "schema/buttons.h"
#include "support/fixtures.h"
#include "support/oracles.h"

namespace {

namespace mig = maquetor::migrate;
namespace ts = testing_support;
namespace fs = std::filesystem;
using jet::Value;
using migrate_testing::Rows;
using migrate_testing::dao::Database;

Database Create(const std::string& path, const std::vector<std::string>& statements) {
  Database db = jet::dao::DBEngine::Instance().Workspaces(0).CreateDatabase(
      path, ";LANGID=0x0409;CP=1252;COUNTRY=0");
  for (const auto& s : statements) db.Execute(s);
  return db;
}

mig::TableCopy Copy(const std::string& table, std::vector<std::string> fields, mig::Loop loop) {
  mig::TableCopy c;
  c.routine = "Pasar" + table;
  c.table = table;
  c.loop = loop;
  for (auto& f : fields) c.fields.push_back({std::move(f)});
  return c;
}

// A private copy of a Jet 3 fixture: a fault that wrote to the origin must
// not damage the shared file.
std::string Jet3Copy(const ts::TempDir& dir, const std::string& name) {
  const std::string path = dir.File(name);
  fs::copy_file(ts::FixturesDir() / "jet3" / name, path);
  return path;
}

std::string FileBytes(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

// Four rows: the second has a name too long for the destination, the third
// no amount where the destination requires one.
class RefusedRows : public ::testing::Test {
 protected:
  void SetUp() override {
    origen_ = Create(dir_.File("o.mdb"), {
        "CREATE TABLE TPartes (Id LONG PRIMARY KEY, Nombre TEXT(60), Importe DOUBLE)",
        "INSERT INTO TPartes VALUES (1, 'Peña', 10.5)",
        "INSERT INTO TPartes VALUES (2, 'Nombre demasiado largo', 20)",
        "INSERT INTO TPartes (Id, Nombre) VALUES (3, 'Ruiz')",
        "INSERT INTO TPartes VALUES (4, 'Sáez', 40)",
        "CREATE TABLE TLista (Id LONG)",
        "INSERT INTO TLista VALUES (1)",
        "INSERT INTO TLista VALUES (2)",
    });
    destino_ = Create(dir_.File("d.mdb"), {
        "CREATE TABLE TPartes (Id LONG PRIMARY KEY, Nombre TEXT(10), Importe DOUBLE NOT NULL)",
        "CREATE TABLE TLista (Id LONG)",
    });
  }
  ts::TempDir dir_;
  Database origen_, destino_;
};

TEST_F(RefusedRows, GuardedLoopDefaultsTheFieldAndLeavesTheRowOut) {
  mig::MigrationReport report;
  mig::CopyTable(origen_, destino_,
                 Copy("TPartes", {"Id", "Nombre", "Importe"}, mig::Loop::kGuarded), report);
  ASSERT_EQ(report.tables.size(), 1u);
  const auto& step = report.tables[0];
  EXPECT_EQ(step.copied, 3);
  EXPECT_EQ(step.skipped, 1);
  EXPECT_EQ(step.fields_defaulted, 1);
  auto rows = Rows(destino_, "TPartes");
  ASSERT_EQ(rows.size(), 3u);
  EXPECT_EQ(rows[1], (std::vector<Value>{Value(2), Value(), Value(20.0)}));
  EXPECT_EQ(rows[2][0], Value(4));
}

TEST_F(RefusedRows, UnguardedLoopStopsAtTheFieldKeepingTheRowsBefore) {
  mig::MigrationReport report;
  try {
    mig::CopyTable(origen_, destino_,
                   Copy("TPartes", {"Id", "Nombre", "Importe"}, mig::Loop::kUnguarded), report);
    FAIL() << "the copy did not stop";
  } catch (const mig::MigrationStopped& e) {
    EXPECT_EQ(e.number(), jet::kErrFieldTooSmall);
    ASSERT_TRUE(e.report().failure);
    const auto& f = *e.report().failure;
    EXPECT_EQ(f.table, "TPartes");
    EXPECT_EQ(f.key, "Id=2");
    EXPECT_EQ(f.row, 2);
    EXPECT_EQ(f.field, "Nombre");
    EXPECT_EQ(e.report().tables.at(0).copied, 1);
  }
  EXPECT_EQ(Rows(destino_, "TPartes").size(), 1u);

  // A field the destination lacks stops the copy at the first row.
  mig::MigrationReport again;
  try {
    mig::CopyTable(origen_, destino_, Copy("TPartes", {"Id", "Otro"}, mig::Loop::kUnguarded),
                   again);
    FAIL() << "the copy did not stop";
  } catch (const mig::MigrationStopped& e) {
    EXPECT_EQ(e.number(), jet::kErrItemNotFound);
    EXPECT_EQ(e.report().failure->field, "Otro");
    EXPECT_EQ(e.report().failure->key, "Id=1");
  }
}

// A destination that cannot be written fails every row alike: a guarded
// loop stops instead of counting each row as refused.
TEST_F(RefusedRows, GuardedLoopDoesNotPassOverAFileFailure) {
  destino_.Close();
  Database read_only = jet::dao::DBEngine::Instance().OpenDatabase(dir_.File("d.mdb"), false, true);
  mig::MigrationReport report;
  try {
    mig::CopyTable(origen_, read_only, Copy("TLista", {"Id"}, mig::Loop::kGuarded), report);
    FAIL() << "the copy did not stop";
  } catch (const mig::MigrationStopped& e) {
    EXPECT_EQ(e.number(), jet::kErrReadOnly);
    EXPECT_EQ(e.report().tables.at(0).skipped, 0);
  }
}

// A Jet 3 table of every scalar type, copied into a Jet 4 table of the same
// layout: each value reads back as the origin's.
TEST(Jet3Origin, EveryTypeArrivesUnchanged) {
  REQUIRE_FIXTURES();
  ts::TempDir dir;
  const std::string fixture = Jet3Copy(dir, "testV1997.mdb");
  const std::string before = FileBytes(fixture);
  Database origen = jet::dao::DBEngine::Instance().OpenDatabase(fixture, false, true, "");
  ASSERT_EQ(origen.JetVersion(), 3);
  Database destino =
      Create(dir.File("d.mdb"), {"CREATE TABLE Table1 (A TEXT(50), B TEXT(100), C BYTE, D SHORT, "
                                 "E LONG, F DOUBLE, G DATETIME, H CURRENCY, I BIT)"});
  mig::MigrationReport report;
  mig::CopyTable(
      origen, destino,
      Copy("Table1", {"A", "B", "C", "D", "E", "F", "G", "H", "I"}, mig::Loop::kUnguarded), report);
  auto want = Rows(origen, "Table1");
  ASSERT_EQ(want.size(), 2u);
  EXPECT_EQ(Rows(destino, "Table1"), want);
  EXPECT_EQ(want[1][6].ToString(), "1974-09-21 00:00:00");
  EXPECT_EQ(want[1][7], Value(jet::Currency{35000}));
  origen.Close();
  destino.Close();
  EXPECT_TRUE(FileBytes(fixture) == before);
}

// Code-page text of a Jet 3 file against an independent reader of both files.
TEST(Jet3Origin, CodePageTextReadsTheSameInTheDestination) {
  REQUIRE_FIXTURES();
  REQUIRE_MDBTOOLS();
  ts::TempDir dir;
  const std::string fixture = Jet3Copy(dir, "testIndexCodesV1997.mdb");
  const std::string dest = dir.File("d.mdb");
  Database origen = jet::dao::DBEngine::Instance().OpenDatabase(fixture, false, true, "");
  Database destino = Create(dest, {"CREATE TABLE Table1 (name TEXT(50), data TEXT(100))"});
  mig::MigrationReport report;
  mig::CopyTable(origen, destino, Copy("Table1", {"name", "data"}, mig::Loop::kUnguarded), report);
  EXPECT_EQ(report.tables.at(0).copied, 275);
  EXPECT_EQ(Rows(destino, "Table1"), Rows(origen, "Table1"));
  origen.Close();
  destino.Close();
  // mdbtools reads the five bytes the code page leaves undefined as '?' in a
  // Jet 3 file; the destination holds them as the C1 controls of the same
  // value, as the system's converter decodes them.
  std::string got = ts::MdbExportRaw(dest, "Table1");
  for (const char* c1 : {"\xC2\x81", "\xC2\x8D", "\xC2\x8F", "\xC2\x90", "\xC2\x9D"}) {
    for (size_t at; (at = got.find(c1)) != std::string::npos;) got.replace(at, 2, "?");
  }
  EXPECT_EQ(got, ts::MdbExportRaw(fixture, "Table1"));
}

// A Jet 3 file as the origin of a whole run: it opens read-only, and a run
// over a file without the office's tables stops at the configuration row.
TEST(Jet3Origin, WholeRunOpensItReadOnlyAndStopsAtTheMissingConfiguration) {
  REQUIRE_FIXTURES();
  ts::TempDir dir;
  const std::string fixture = Jet3Copy(dir, "testV1997.mdb");
  const std::string dest = dir.File("Destino.mdb");
  ASSERT_TRUE(maquetor::schema::CrearBaseCompleta(dest));
  const std::string before = FileBytes(fixture);

  auto bases = mig::AbrirBasesMigracion(fixture, dest);
  ASSERT_TRUE(bases);
  try {
    bases->DBOrigen.Execute("DELETE FROM Table1", jet::dao::dbFailOnError);
    ADD_FAILURE() << "the origin took a write";
  } catch (const jet::JetError& e) {
    EXPECT_EQ(e.number(), jet::kErrReadOnly);
  }
  bases->DBOrigen.Close();
  bases->DBDestino.Close();

  try {
    mig::Migrar(mig::Variante::kV8V8, fixture, dest);
    ADD_FAILURE() << "the run did not stop";
  } catch (const mig::MigrationStopped& e) {
    EXPECT_EQ(e.report().failure->table, "TConfig");
    EXPECT_EQ(e.number(), jet::kErrNoSuchTable);
  }
  EXPECT_TRUE(FileBytes(fixture) == before);
}

}  // namespace
