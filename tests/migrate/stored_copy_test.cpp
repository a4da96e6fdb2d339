// Copies through stored bytes against the same copies with every field
// assigned as a value and every row encoded where it is inserted
// (jet::dao::UseStoredCopies(false)): both destinations must report the
// same rows, read the same to both independent readers, and hold in every
// index exactly what their rows say. Origins of both versions of the
// office's layout, a Jet 3 file, and fields whose types or sizes differ.
#include <gtest/gtest.h>

#include <filesystem>
#include <functional>
#include <sstream>

#include "db/engine.h"
#include "jet/dao.h"
#include "jet/database.h"
#include "migrate/copier.h"
#include "migrate/migration.h"
#include "migrate/origin_filler.h"
#include "schema/buttons.h"
#include "support/fixtures.h"
#include "support/index_check.h"
#include "support/oracles.h"

namespace {

namespace mig = maquetor::migrate;
namespace ts = testing_support;
namespace fs = std::filesystem;
namespace dao = jet::dao;

// What a run reported, row counts and the stop included.
std::string ReportText(const mig::MigrationReport& r) {
  std::ostringstream out;
  for (const auto& t : r.tables) {
    out << t.table << ' ' << static_cast<int>(t.outcome) << ' ' << t.copied << ' ' << t.skipped
        << ' ' << t.fields_defaulted << '\n';
  }
  if (r.failure) out << r.failure->table << ' ' << r.failure->row << ' ' << r.failure->number;
  return out.str();
}

dao::Database Create(const std::string& path, const std::vector<std::string>& statements) {
  dao::Database db = dao::DBEngine::Instance().Workspaces(0).CreateDatabase(
      path, ";LANGID=0x0409;CP=1252;COUNTRY=0");
  for (const auto& s : statements) db.Execute(s);
  return db;
}

mig::TableCopy Copy(const std::string& table, const std::vector<std::string>& fields,
                    mig::Loop loop) {
  mig::TableCopy c{"Pasar" + table, table, {}, loop};
  for (const auto& f : fields) c.fields.push_back({f});
  return c;
}

// A copy into `dest` (absent before); returns its report.
using CopyRun = std::function<mig::MigrationReport(const std::string& dest)>;

struct Case {
  const char* name;
  std::string password;
  // Makes the origin in `dir` and returns the run.
  std::function<CopyRun(const ts::TempDir& dir)> prepare;
};

mig::MigrationReport Whole(mig::Variante v, const std::string& origin, const std::string& pristine,
                           const std::string& dest) {
  fs::copy_file(pristine, dest);
  try {
    return mig::Migrar(v, origin, dest);
  } catch (const mig::MigrationStopped& e) {
    return e.report();
  }
}

CopyRun Office(const ts::TempDir& dir, migrate_testing::Layout layout) {
  const std::string origin = dir.File("Origen.mdb");
  const std::string pristine = dir.File("Vacia.mdb");
  migrate_testing::BuildOrigin(origin, 60, layout);
  maquetor::schema::CrearBaseCompleta(pristine);
  const auto v = layout == migrate_testing::Layout::kV7 ? mig::Variante::kV7V8
                                                        : mig::Variante::kV8V8;
  return [=](const std::string& dest) { return Whole(v, origin, pristine, dest); };
}

// Table copies: one table's fields in both loops, into a destination whose
// fields differ from the origin's in type or size where `destination`
// says so, and that may have fields of its own (an auto-number).
CopyRun Tables(const std::string& origin, const std::string& destination, const std::string& table,
           const std::vector<std::string>& fields) {
  return [=](const std::string& dest) {
    dao::Database o = dao::DBEngine::Instance().OpenDatabase(origin, false, true, "");
    dao::Database d = Create(dest, {destination});
    mig::MigrationReport report;
    try {
      mig::CopyTable(o, d, Copy(table, fields, mig::Loop::kGuarded), report);
      d.Execute("DELETE FROM " + table);
      mig::CopyTable(o, d, Copy(table, fields, mig::Loop::kUnguarded), report);
    } catch (const mig::MigrationStopped& e) {
      report = e.report();
    }
    d.Close();
    o.Close();
    return report;
  };
}

CopyRun Jet4Tables(const ts::TempDir& dir) {
  const std::string origin = dir.File("o.mdb");
  dao::Database o = Create(origin, {
      "CREATE TABLE TPartes (Id LONG PRIMARY KEY, Nombre TEXT(20), Monto LONG, Nota MEMO, "
      "Codigo TEXT(10), Fecha DATETIME, Huella BINARY(8))",
      "CREATE INDEX Nom ON TPartes (Nombre)",
  });
  std::string memo;
  while (memo.size() < 5000) memo += "Diligencia de ordenación — ";
  auto rs = o.OpenRecordset("TPartes");
  for (int i = 1; i <= 120; ++i) {
    rs.AddNew();
    rs.SetValue("Id", jet::Value(i));
    // Every seventh name repeats an earlier one: the destination's unique
    // index refuses it.
    rs.SetValue("Nombre", jet::Value("Peña " + std::to_string(i % 7 == 0 ? i - 1 : i)));
    rs.SetValue("Monto", i % 5 == 0 ? jet::Value() : jet::Value(i * 1000));
    rs.SetValue("Nota", i % 3 == 0 ? jet::Value(memo.substr(0, static_cast<size_t>(i) * 40))
                                   : jet::Value("nota"));
    // Longer than the destination's five characters on every fourth row.
    rs.SetValue("Codigo", jet::Value((i % 4 == 0 ? "CODIGO-" : "C") + std::to_string(i)));
    rs.SetValue("Fecha", jet::Value(jet::Date{40000.5 + i}));
    rs.SetValue("Huella", jet::Value(jet::Binary(8, static_cast<uint8_t>(i))));
    rs.Update();
  }
  rs.Close();
  o.Close();
  return Tables(origin,
                "CREATE TABLE TPartes (Id LONG PRIMARY KEY, Nombre TEXT(40) UNIQUE, Monto DOUBLE, "
                "Nota MEMO, Codigo TEXT(5), Fecha DATETIME, Huella BINARY(8), Orden COUNTER)",
                "TPartes", {"Id", "Nombre", "Monto", "Nota", "Codigo", "Fecha", "Huella"});
}

CopyRun Jet3Tables(const ts::TempDir& dir) {
  const std::string origin = dir.File("o97.mdb");
  fs::copy_file(ts::FixturesDir() / "jet3" / "testV1997.mdb", origin);
  return Tables(origin,
                "CREATE TABLE Table1 (A TEXT(50), B MEMO, C LONG, D SHORT, E DOUBLE, F DOUBLE, "
                "G DATETIME, H CURRENCY, I BIT)",
                "Table1", {"A", "B", "C", "D", "E", "F", "G", "H", "I"});
}

void PrintTo(const Case& c, std::ostream* os) { *os << c.name; }

class StoredCopy : public ::testing::TestWithParam<Case> {
 protected:
  void TearDown() override { dao::UseStoredCopies(true); }
};

TEST_P(StoredCopy, AgreesWithTheValuePath) {
  if (std::string(GetParam().name) == "Jet3") REQUIRE_FIXTURES();
  ts::TempDir dir;
  const CopyRun run = GetParam().prepare(dir);
  const std::string by_value = dir.File("valores.mdb");
  const std::string dest = dir.File("Destino.mdb");

  // The same path for both runs: the configuration row names it.
  dao::UseStoredCopies(false);
  const std::string want = ReportText(run(dest));
  fs::rename(dest, by_value);
  dao::UseStoredCopies(true);
  EXPECT_EQ(ReportText(run(dest)), want);

  auto file = jet::FileState::Open(dest, false, true, GetParam().password);
  std::vector<std::string> tables;
  for (const auto& entry : file->TableEntries()) {
    if (!entry.is_system()) tables.push_back(entry.name);
  }
  for (const auto& t : tables) EXPECT_EQ(ts::IndexFaults(*file, t), "") << t;
  file.reset();
  if (ts::UseMdbtools()) {
    EXPECT_EQ(ts::MdbTables(dest), ts::MdbTables(by_value));
    EXPECT_EQ(ts::MdbSchema(dest), ts::MdbSchema(by_value));
    for (const auto& t : tables) {
      EXPECT_EQ(ts::MdbExportRaw(dest, t), ts::MdbExportRaw(by_value, t)) << t;
    }
  }
  if (ts::UseMdbReader()) {
    EXPECT_EQ(ts::MdbReaderDump(dest, GetParam().password),
              ts::MdbReaderDump(by_value, GetParam().password));
  }
}

const std::string kOfficePassword = "KTRW_BLM";

INSTANTIATE_TEST_SUITE_P(
    Origins, StoredCopy,
    ::testing::Values(
        Case{"V8", kOfficePassword,
             [](const ts::TempDir& d) { return Office(d, migrate_testing::Layout::kV8); }},
        Case{"V7", kOfficePassword,
             [](const ts::TempDir& d) { return Office(d, migrate_testing::Layout::kV7); }},
        Case{"Jet4", "", Jet4Tables}, Case{"Jet3", "", Jet3Tables}),
    [](const auto& info) { return std::string(info.param.name); });

}  // namespace
