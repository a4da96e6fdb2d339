// Whole runs of both drivers between databases built by our engine: every
// row arrives with its keys, the configuration row, the seeded accounts and
// the countries are treated as an office expects, the V7 seventh fields are
// renumbered, and runs that must stop stop where they must.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <sstream>

#include "db/program_state.h"
#include "jet/error.h"
#include "migrate/migration.h"
#include "migrate/origin_filler.h"
#include "support/fixtures.h"
#include "support/jet_error.h"
#include "support/oracles.h"
#include "support/recording_ui.h"

namespace jet {
inline void PrintTo(const Value& v, std::ostream* os) {
  *os << (v.is_null() ? "Null" : v.ToString());
}
}  // namespace jet

namespace {

namespace mig = maquetor::migrate;
namespace ts = testing_support;
using namespace migrate_testing;

using Table = std::vector<std::vector<Value>>;

dao::Database OpenRead(const std::string& path) {
  return dao::DBEngine::Instance().OpenDatabase(path, false, true, maquetor::db::kConnect);
}

dao::Database OpenWrite(const std::string& path) {
  return dao::DBEngine::Instance().OpenDatabase(path, false, false, maquetor::db::kConnect);
}

// Equal rows, or the first difference named by row and field.
::testing::AssertionResult SameRows(const Table& got, const Table& want) {
  if (got.size() != want.size()) {
    return ::testing::AssertionFailure() << got.size() << " rows, expected " << want.size();
  }
  for (size_t r = 0; r < got.size(); ++r) {
    for (size_t c = 0; c < want[r].size(); ++c) {
      if (c >= got[r].size() || !(got[r][c] == want[r][c])) {
        return ::testing::AssertionFailure()
               << "row " << r << " field " << c << ": got '"
               << (c < got[r].size() ? got[r][c].ToString() : "(none)") << "', expected '"
               << want[r][c].ToString() << "'";
      }
    }
  }
  return ::testing::AssertionSuccess();
}

// The seventh field of a table's rows.
std::vector<Value> Seventh(const Table& rows) {
  std::vector<Value> out;
  for (const auto& r : rows) out.push_back(r.at(6));
  return out;
}

mig::MigrationStopped StoppedRun(mig::Variante v, const std::string& origen,
                                 const std::string& destino) {
  try {
    mig::Migrar(v, origen, destino);
  } catch (const mig::MigrationStopped& e) {
    return e;
  }
  ADD_FAILURE() << "the run did not stop";
  return mig::MigrationStopped(jet::JetError(0), {});
}

constexpr int64_t kRows = 12;

// One "Pasar V8 V8" run through the window's driver, shared by the checks
// below: an origin with kRows linked rows in every table and a destination
// the program built.
class V8Run : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    dir_ = std::make_unique<ts::TempDir>();
    origin_ = dir_->File("Origen.mdb");
    dest_ = dir_->File("Destino.mdb");
    BuildOrigin(origin_, kRows);
    {
      auto db = OpenWrite(origin_);
      db.Execute(
          "UPDATE TcContable SET FcContable03 = 'GASTOS DEL DESPACHO' WHERE FcContable02 = '66'");
      db.Close();
    }
    ASSERT_TRUE(maquetor::schema::CrearBaseCompleta(dest_));
    {
      auto db = OpenRead(dest_);
      seeded_accounts_ = Rows(db, "TcContable");
      seeded_countries_ = Rows(db, "TPaises");
      db.Close();
    }
    origin_bytes_ = ts::FileContents(origin_);
    auto& state = maquetor::db::ProgramState::Instance();
    state.BDatosOrigen = origin_;
    state.BDatosDestino = dest_;
    report_ = mig::MigrarV8V8([](const mig::TableResult& step, bool finished) {
      (finished ? finished_ : started_).push_back(step.routine);
    });
  }
  static void TearDownTestSuite() { dir_.reset(); }

  static inline std::unique_ptr<ts::TempDir> dir_;
  static inline std::string origin_, dest_, origin_bytes_;
  static inline Table seeded_accounts_, seeded_countries_;
  static inline mig::MigrationReport report_;
  static inline std::vector<std::string> started_, finished_;
};

TEST_F(V8Run, EveryTableHoldsTheOriginsRowsWithTheirKeys) {
  ASSERT_FALSE(report_.failure);
  ASSERT_FALSE(report_.refused);
  auto origin = OpenRead(origin_);
  auto dest = OpenRead(dest_);
  const auto sequence = mig::Secuencia(mig::Variante::kV8V8);
  EXPECT_EQ(sequence.size(), 36u);
  for (const mig::Rutina* r : sequence) {
    SCOPED_TRACE(r->name);
    if (std::string(r->table) == "TcContable") continue;
    EXPECT_TRUE(SameRows(Rows(dest, r->table), Rows(origin, r->table)));
    const auto* step = report_.Find(r->table);
    ASSERT_NE(step, nullptr);
    EXPECT_EQ(step->outcome, mig::Outcome::kCopied);
    EXPECT_EQ(step->copied, kRows);
    EXPECT_EQ(step->skipped, 0);
    EXPECT_EQ(step->fields_defaulted, 0);
  }
  // The seeded accounts stay as they were, "66" with its own description;
  // the origin's other codes follow them.
  Table accounts = seeded_accounts_;
  Table from_origin = Rows(origin, "TcContable");
  accounts.insert(accounts.end(), from_origin.begin() + 7, from_origin.end());
  EXPECT_TRUE(SameRows(Rows(dest, "TcContable"), accounts));
  EXPECT_EQ(Rows(dest, "TcContable")[2][2], Value("GASTOS FINANCIEROS"));
  EXPECT_EQ(report_.Find("TcContable")->copied, kRows);
  EXPECT_EQ(report_.Find("TcContable")->skipped, 7);

  // One configuration row with the origin's first row's values.
  EXPECT_TRUE(
      SameRows(Rows(dest, "TConfig"),
               {{Value(false), Value(5), Value("C:\\Despacho\\Documentos"), Value("V8 origen")}}));
  EXPECT_TRUE(SameRows(Rows(dest, "TPaises"), seeded_countries_));
  EXPECT_EQ(report_.TotalCopied(), 1 + 36 * kRows);
  EXPECT_EQ(report_.TotalSkipped(), 7);
  dest.Close();
  origin.Close();

  EXPECT_TRUE(ts::FileContents(origin_) == origin_bytes_);
  ASSERT_EQ(started_.size(), 37u);
  EXPECT_EQ(started_, finished_);
  // Procedural events follow the matters they name.
  const auto matters = std::find(started_.begin(), started_.end(), "PasarTAsuntos");
  ASSERT_NE(matters, started_.end());
  EXPECT_EQ(*(matters + 1), "PasarTProcesales");
}

TEST_F(V8Run, DestinationReadsCleanlyWithMdbtoolsAndMdbReader) {
  REQUIRE_MDBTOOLS();
  REQUIRE_MDB_READER();
  for (const mig::Rutina* r : mig::Secuencia(mig::Variante::kV8V8)) {
    const bool accounts = std::string(r->table) == "TcContable";
    EXPECT_EQ(ts::MdbCount(dest_, r->table), accounts ? 7 + kRows : kRows) << r->table;
  }
  auto csv = ts::MdbExport(dest_, "THistoricoSec");
  ASSERT_EQ(csv.rows.size(), static_cast<size_t>(kRows));
  // A memo longer than a page arrives whole (row 10 of the generator).
  EXPECT_GT(csv.At(9, "FHistSec03").size(), 6000u);

  auto dump = ts::MdbReaderDump(dest_, std::string("KTRW_BLM"));
  size_t tables = 0;
  for (const auto& t : dump["tables"]) {
    if (t["name"] == "TAsuntos") {
      ASSERT_EQ(t["rows"].size(), static_cast<size_t>(kRows));
      EXPECT_EQ(t["rows"][2]["FAsu01"], 3);
      EXPECT_EQ(t["rows"][2]["FAsu02"], 2003);
    }
    ++tables;
  }
  EXPECT_EQ(tables, 38u);
}

TEST(MigrarV7V8, RenumbersTheSeventhFieldsAndLeavesTheNewTablesAlone) {
  ts::TempDir dir;
  const std::string origin = dir.File("V7.mdb");
  const std::string dest = dir.File("V8.mdb");
  BuildOrigin(origin, kRows, Layout::kV7);
  {
    // A matter whose subject the destination does not have is refused;
    // nothing else points at it.
    auto db = OpenWrite(origin);
    FillTable(db, FillOf("TAsuntos"), 1,
              {{"FAsu05", Gen::kNull},
               {"FAsu06", Gen::kNull},
               {"FAsu07", Gen::kRow},
               {"FAsu08", Gen::kNull},
               {"FAsu09", Gen::kNull},
               {"FAsu15", Gen::kNull}},
              500);
    db.Close();
  }
  ASSERT_TRUE(maquetor::schema::CrearBaseCompleta(dest));
  {
    // The destination's own classifications stay as they are.
    auto db = OpenWrite(dest);
    FillTable(db, FillOf("TMaterias"), 2, {}, 300);
    db.Close();
  }
  auto& state = maquetor::db::ProgramState::Instance();
  state.BDatosOrigen = origin;
  state.BDatosDestino = dest;
  auto report = mig::MigrarV7V8();
  ASSERT_FALSE(report.failure);

  auto o = OpenRead(origin);
  auto d = OpenRead(dest);
  for (const char* t : {"TLaboral", "TMaterias", "TSubMaterias", "TProcesales"}) {
    EXPECT_EQ(report.Find(t), nullptr) << t;
  }
  for (const char* t : {"TLaboral", "TSubMaterias", "TProcesales"}) {
    EXPECT_TRUE(Rows(d, t).empty()) << t;
  }
  EXPECT_EQ(Rows(d, "TMaterias").size(), 2u);

  // 0, 1, 2, 3, 7, Null become 1, 2, 3, 0, 0, Null; the other six fields
  // and the entry tables arrive unchanged.
  const std::vector<Value> renumbered = {Value(1), Value(2), Value(3), Value(0), Value(0), Value(),
                                         Value(1), Value(2), Value(3), Value(0), Value(0), Value()};
  for (const char* t : {"THistoricoSec", "TGesNoJudicialSec"}) {
    SCOPED_TRACE(t);
    Table got = Rows(d, t);
    Table want = Rows(o, t);
    EXPECT_EQ(Seventh(want)[3], Value(3));
    EXPECT_EQ(Seventh(got), renumbered);
    for (auto& r : got) r[6] = Value();
    for (auto& r : want) r[6] = Value();
    EXPECT_TRUE(SameRows(got, want));
  }
  EXPECT_TRUE(SameRows(Rows(d, "THistorico"), Rows(o, "THistorico")));
  EXPECT_TRUE(SameRows(Rows(d, "TGesNoJudicial"), Rows(o, "TGesNoJudicial")));

  Table matters = Rows(o, "TAsuntos");
  matters.pop_back();
  EXPECT_TRUE(SameRows(Rows(d, "TAsuntos"), matters));
  EXPECT_EQ(report.Find("TAsuntos")->skipped, 1);
  EXPECT_TRUE(SameRows(Rows(d, "TCliAsu"), Rows(o, "TCliAsu")));

  // The origin's TConfig has no FConfig04: the destination keeps its "V8".
  Table config = Rows(d, "TConfig");
  ASSERT_EQ(config.size(), 1u);
  EXPECT_EQ(config[0][2], Value("C:\\Despacho V7\\Docs"));
  EXPECT_EQ(config[0][3], Value("V8"));
  EXPECT_EQ(report.Find("TConfig")->fields_defaulted, 1);
  d.Close();
  o.Close();
}

TEST(Failures, GuardedRoutinesSkipRefusedRowsAndMissingTablesAreSkipped) {
  ts::TempDir dir;
  const std::string origin = dir.File("Origen.mdb");
  const std::string dest = dir.File("Destino.mdb");
  BuildOrigin(origin, 5, Layout::kV8, {{"TDocAsu", 0}});
  {
    auto db = OpenWrite(origin);
    db.Execute("DROP TABLE TInterDir");
    // Document kinds without the field that says whose they are.
    db.Execute("DROP TABLE TDocu");
    db.Execute("CREATE TABLE TDocu (FDoc01 LONG, FDoc02 TEXT(50))");
    db.Execute("INSERT INTO TDocu VALUES (1, 'Demanda')");
    db.Execute("INSERT INTO TDocu VALUES (2, 'Recurso de apelación')");
    db.Close();
  }
  ASSERT_TRUE(maquetor::schema::CrearBaseCompleta(dest));
  {
    // The destination already has client 2 (same number, another name).
    auto db = OpenWrite(dest);
    FillTable(db, FillOf("TClientes"), 1, {{"FCli02", Gen::kCode, "Ya estaba "}}, 2);
    db.Close();
  }
  auto report = mig::Migrar(mig::Variante::kV8V8, origin, dest);
  ASSERT_FALSE(report.failure);

  const auto* clients = report.Find("TClientes");
  EXPECT_EQ(clients->copied, 4);
  EXPECT_EQ(clients->skipped, 1);
  auto d = OpenRead(dest);
  Table rows = Rows(d, "TClientes");
  ASSERT_EQ(rows.size(), 5u);
  EXPECT_EQ(rows[0][1], Value("Ya estaba 2"));

  const auto* kinds = report.Find("TDocu");
  EXPECT_EQ(kinds->copied, 2);
  EXPECT_EQ(kinds->fields_defaulted, 2);
  Table docs = Rows(d, "TDocu");
  ASSERT_EQ(docs.size(), 2u);
  EXPECT_EQ(docs[1][1], Value("Recurso de apelación"));
  EXPECT_EQ(docs[1][2], Value("PROPIOS"));

  const auto* addresses = report.Find("TInterDir");
  EXPECT_EQ(addresses->outcome, mig::Outcome::kNotOpened);
  ASSERT_TRUE(addresses->not_opened);
  EXPECT_TRUE(addresses->not_opened->in_origin);
  EXPECT_EQ(report.Find("TDocAsu")->outcome, mig::Outcome::kEmptyOrigin);
  EXPECT_EQ(report.Find("TGesNoJudicialSec")->copied, 5);
  d.Close();
}

TEST(Failures, UnguardedRefusalStopsTheRunKeepingTheRowsBeforeIt) {
  ts::TempDir dir;
  const std::string origin = dir.File("Origen.mdb");
  const std::string dest = dir.File("Destino.mdb");
  BuildOrigin(origin, 5);
  ASSERT_TRUE(maquetor::schema::CrearBaseCompleta(dest));
  {
    // Lawyer 900 already holds the code of the origin's third lawyer.
    auto db = OpenWrite(dest);
    FillTable(db, FillOf("TAbogados"), 1, {{"FAbo11", Gen::kCode, "A"}, {"FAbo01", Gen::kRow}},
              900);
    db.Execute("UPDATE TAbogados SET FAbo11 = 'A3'");
    db.Close();
  }
  auto stopped = StoppedRun(mig::Variante::kV8V8, origin, dest);
  EXPECT_EQ(stopped.number(), jet::kErrDuplicateKey);
  const auto& report = stopped.report();
  ASSERT_TRUE(report.failure);
  EXPECT_EQ(report.failure->table, "TAbogados");
  EXPECT_EQ(report.failure->key, "FAbo01=3");
  EXPECT_EQ(report.failure->row, 3);
  EXPECT_EQ(report.failure->message, stopped.what());
  ASSERT_EQ(report.tables.size(), 2u);
  EXPECT_EQ(report.tables[1].outcome, mig::Outcome::kStopped);
  EXPECT_EQ(report.tables[1].copied, 2);

  auto d = OpenRead(dest);
  Table lawyers = Rows(d, "TAbogados");
  ASSERT_EQ(lawyers.size(), 3u);
  EXPECT_EQ(lawyers[2][0], Value(2));
  EXPECT_TRUE(Rows(d, "TAbogadosDir").empty());
  d.Close();
}

TEST(Refusals, EmptyPathsAndOneFileForBothOpenNothing) {
  ts::TempDir dir;
  const std::string dest = dir.File("Destino.mdb");
  ASSERT_TRUE(maquetor::schema::CrearBaseCompleta(dest));
  const std::string before = ts::FileContents(dest);
  ts::RecordingUi ui;

  auto no_origin = mig::Migrar(mig::Variante::kV8V8, "", dest);
  ASSERT_TRUE(no_origin.refused);
  EXPECT_NE(no_origin.refused->find("origen"), std::string::npos);
  EXPECT_TRUE(no_origin.tables.empty());

  auto& state = maquetor::db::ProgramState::Instance();
  state.BDatosOrigen = dest;
  state.BDatosDestino = "";
  auto no_dest = mig::MigrarV7V8();
  ASSERT_TRUE(no_dest.refused);
  EXPECT_NE(no_dest.refused->find("destino"), std::string::npos);

  // Both names for one file, the second through another spelling.
  auto same = mig::Migrar(mig::Variante::kV8V8, dest, (dir.path() / "." / "Destino.mdb").string());
  ASSERT_TRUE(same.refused);
  std::vector<std::string> shown;
  for (const auto& m : ui.messages) shown.push_back(m.text);
  EXPECT_EQ(shown, (std::vector<std::string>{*no_origin.refused, *no_dest.refused, *same.refused}));
  EXPECT_FALSE(mig::AbrirBasesMigracion("", dest));

  // A missing origin is the engine's failure, before anything is written.
  EXPECT_JET_ERROR(mig::Migrar(mig::Variante::kV8V8, dir.File("NoExiste.mdb"), dest),
                   jet::kErrFileNotFound);
  EXPECT_TRUE(ts::FileContents(dest) == before);
}

}  // namespace
