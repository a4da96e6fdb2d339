// Pesetas to euros on whole law-office databases: which amounts are divided
// and which are not, the statements and their order, tables without rows,
// a second run, a refused direction, and the run over every database the
// user-control table lists.
#include <gtest/gtest.h>

#include <filesystem>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "auxdb/user_control.h"
#include "currency/moneda.h"
#include "db/engine.h"
#include "db/program_state.h"
#include "db/file_name.h"
#include "jet/dao.h"
#include "jet/error.h"
#include "schema/buttons.h"
#include "shell/paths.h"
#include "shell/ui.h"
#include "support/fixtures.h"
#include "support/fault_file_system.h"
#include "support/jet_error.h"
#include "support/oracles.h"
#include "support/recording_ui.h"

namespace {

namespace fs = std::filesystem;
using jet::Value;
using jet::dao::Database;
using jet::dao::DBEngine;
using maquetor::db::ProgramState;
using maquetor::shell::Icon;
namespace currency = maquetor::currency;

using testing_support::RecordingUi;
using testing_support::Shown;

// The statements of the conversion to euros, as the office application's
// books expect them, in the order they run.
const std::vector<std::string> kToEuros = {
    "UPDATE TMinuta SET FMinuta07 = FMinuta07 /166.386 WHERE FMinuta07 <> 0",
    "UPDATE TMinuta SET FMinuta08 = FMinuta08 /166.386 WHERE FMinuta07 <> 0",
    "UPDATE TMinuta SET FMinuta09 = FMinuta09 /166.386 WHERE FMinuta07 <> 0",
    "UPDATE TMinuta SET FMinuta12 = FMinuta12 /166.386 WHERE FMinuta07 <> 0",
    "UPDATE TMinuta SET FMinuta13 = FMinuta13 /166.386 WHERE FMinuta07 <> 0",
    "UPDATE TMinuta SET FMinuta14 = FMinuta14 /166.386 WHERE FMinuta07 <> 0",
    "UPDATE TAsuntos SET FAsu16 = FAsu16 /166.386 WHERE FAsu16 <> 0",
    "UPDATE TAsuntos SET FAsu17 = FAsu17 /166.386 WHERE FAsu17 <> 0",
    "UPDATE TAsuntos SET FAsu21 = FAsu21 /166.386 WHERE FAsu21 <> 0",
    "UPDATE TAsuntos SET FAsu22 = FAsu22 /166.386 WHERE FAsu22 <> 0",
    "UPDATE TContable SET FContable05 = FContable05 /166.386 WHERE FContable05 <> 0",
    "UPDATE TDerecho SET FDerecho04 = FDerecho04 /166.386 WHERE FDerecho04 <> 0",
    "UPDATE TGCobros SET FGCobros05 = FGCobros05 /166.386 WHERE FGCobros05 <> 0",
    "UPDATE TGastosNo SET FContable05 = FContable05 /166.386 WHERE FContable05 <> 0",
};

// Every row of every user table, by table name.
using Contents = std::map<std::string, std::vector<std::map<std::string, Value>>>;

Contents ReadAll(const std::string& path) {
  Contents all;
  auto db = maquetor::db::OpenShared(path);
  for (const auto& t : db.TableDefs()) {
    if (t.IsSystem()) continue;
    auto& rows = all[t.Name()];
    auto rs = db.OpenRecordset(t.Name());
    for (; !rs.IsEOF(); rs.MoveNext()) {
      auto& row = rows.emplace_back();
      for (int i = 0; i < rs.FieldCount(); ++i) row[rs.FieldName(i)] = rs.GetValue(i);
    }
  }
  db.Close();
  return all;
}

// What a conversion to euros must leave: each statement's field divided
// where its condition's field is neither zero nor null, in their order.
Contents Converted(Contents c) {
  for (const auto& sql : kToEuros) {
    // UPDATE table SET field = field /166.386 WHERE condition <> 0
    std::istringstream words(sql);
    std::string update, table, set, field, rest, where, condition;
    words >> update >> table >> set >> field >> rest >> rest >> rest >> where >> condition;
    for (auto& row : c[table]) {
      const Value& cond = row.at(condition);
      Value& v = row.at(field);
      if (cond.is_null() || cond.as<double>() == 0 || v.is_null()) continue;
      v = Value(v.as<double>() / 166.386);
    }
  }
  return c;
}

void RunAll(Database& db, const std::vector<std::string>& statements) {
  for (const auto& s : statements) db.Execute(s, jet::dao::dbFailOnError);
}

// A whole law-office database with amounts in every money field: zeros,
// nulls, negatives, fee notes whose FMinuta07 is zero or null while their
// other amounts are not, a billing table that is not converted, and no
// non-judicial expenses at all.
std::string MoneyDatabase(const testing_support::TempDir& dir, const std::string& name) {
  const std::string path = dir.File(name);
  EXPECT_TRUE(maquetor::schema::CrearBaseCompleta(path));
  auto db = maquetor::db::OpenShared(path);
  RunAll(db, {
      "INSERT INTO TAsuntos (FAsu01, FAsu02, FAsu03, FAsu16, FAsu17, FAsu21, FAsu22) "
      "VALUES (1, 1, 'A/1', 1000, 0, NULL, -500)",
      "INSERT INTO TAsuntos (FAsu01, FAsu02, FAsu03, FAsu16, FAsu17, FAsu21, FAsu22) "
      "VALUES (1, 2, 'A/2', 0, 166.386, 2.5, 0.01)",
      "INSERT INTO TMinuta (FMinuta01, FMinuta02, FMinuta04, FMinuta05, FMinuta18, FMinuta07, "
      "FMinuta08, FMinuta09, FMinuta10, FMinuta12, FMinuta13, FMinuta14) "
      "VALUES (1, 1, 1, 1, 1, 1000, 200, -50, 1.5, 0, NULL, 3.5)",
      "INSERT INTO TMinuta (FMinuta01, FMinuta02, FMinuta04, FMinuta05, FMinuta18, FMinuta07, "
      "FMinuta08, FMinuta09, FMinuta10, FMinuta12, FMinuta13, FMinuta14) "
      "VALUES (1, 1, 2, 1, 1, 0, 300, 40, 2.5, 5, 6, 7)",
      "INSERT INTO TMinuta (FMinuta01, FMinuta02, FMinuta04, FMinuta05, FMinuta18, FMinuta07, "
      "FMinuta08, FMinuta09, FMinuta12, FMinuta13, FMinuta14) "
      "VALUES (1, 2, 3, 1, 1, NULL, 300, 40, 5, 6, 7)",
      "INSERT INTO TMinuta (FMinuta01, FMinuta02, FMinuta04, FMinuta05, FMinuta18, FMinuta07, "
      "FMinuta08, FMinuta09, FMinuta12, FMinuta13, FMinuta14) "
      "VALUES (1, 2, 4, 1, 1, -166.386, NULL, 0, 1E+300, -0.125, 12345678.9)",
      "INSERT INTO TContable (FContable01, FContable02, FContable03, FContable04, FContable05, "
      "FContable08, FContable12) VALUES (1, 1, #2001-12-31#, 'Tasas', 100, 4, 1)",
      "INSERT INTO TContable (FContable01, FContable02, FContable03, FContable04, FContable05) "
      "VALUES (1, 1, #2001-12-31#, 'Copias', 0)",
      "INSERT INTO TContable (FContable01, FContable02, FContable03, FContable04, FContable05) "
      "VALUES (1, 2, #2002-01-01#, 'Sin importe', NULL)",
      "INSERT INTO TContable (FContable01, FContable02, FContable03, FContable04, FContable05) "
      "VALUES (1, 2, #2002-01-01#, 'Abono', -3.3)",
      "INSERT INTO TDerecho (FDerecho01, FDerecho02, FDerecho03, FDerecho04, FDerecho09) "
      "VALUES (1, 1, 'Honorarios', 500, #2001-06-01#)",
      "INSERT INTO TDerecho (FDerecho01, FDerecho02, FDerecho03, FDerecho04, FDerecho09) "
      "VALUES (1, 1, 'Nada', 0, #2001-06-01#)",
      "INSERT INTO TDerecho (FDerecho01, FDerecho02, FDerecho03, FDerecho04, FDerecho09) "
      "VALUES (1, 2, 'Descuento', -1, #2001-06-02#)",
      "INSERT INTO TGCobros (FGCobros01, FGCobros02, FGCobros03, FGCobros05, FGCobros06) "
      "VALUES (1, 1, #2001-01-01#, 250, 7)",
      "INSERT INTO TGCobros (FGCobros01, FGCobros02, FGCobros03, FGCobros05) "
      "VALUES (1, 1, #2001-01-02#, 0)",
      "INSERT INTO TGCobros (FGCobros01, FGCobros02, FGCobros03, FGCobros05) "
      "VALUES (1, 1, #2001-01-03#, NULL)",
      // Provisions hold amounts too, but they are not among the converted.
      "INSERT INTO TGprovi (FGprovi01, FGprovi02, FGprovi03, FGprovi05, FGprovi06) "
      "VALUES (1, 1, #2001-01-01#, 1000, 2000)",
  });
  db.Close();
  return path;
}

class Conversion : public ::testing::Test {
 protected:
  void SetUp() override { saved_ = ProgramState::Instance(); }
  void TearDown() override { ProgramState::Instance() = saved_; }

  testing_support::TempDir dir_;
  RecordingUi ui_;

 private:
  ProgramState saved_;
};

TEST_F(Conversion, DividesEachAmountWhereItsConditionHoldsAndNothingElse) {
  const std::string path = MoneyDatabase(dir_, "Despacho.mdb");
  const Contents before = ReadAll(path);
  ProgramState::Instance().BDatosTrabajo = path;

  const auto report = currency::CambiarMoneda();

  EXPECT_EQ(ReadAll(path), Converted(before));

  EXPECT_FALSE(report.from_setup);
  ASSERT_EQ(report.converted.size(), 1u);
  const auto& done = report.converted[0];
  EXPECT_EQ(done.path, path);
  // No non-judicial expense: that table gets no statement.
  std::vector<std::string> texts, empty;
  std::vector<int64_t> rows;
  for (const auto& t : done.tables) {
    if (!t.had_rows) empty.push_back(t.table);
    for (const auto& s : t.statements) {
      texts.push_back(s.sql);
      rows.push_back(s.rows);
    }
  }
  EXPECT_EQ(empty, std::vector<std::string>{"TGastosNo"});
  EXPECT_EQ(texts, std::vector<std::string>(kToEuros.begin(), kToEuros.end() - 1));
  EXPECT_EQ(rows, (std::vector<int64_t>{2, 2, 2, 2, 2, 2, 1, 1, 1, 2, 2, 2, 1}));

  // A working database converts alone, silently, under the hourglass.
  EXPECT_TRUE(ui_.messages.empty());
  EXPECT_EQ(ui_.pointer, (std::vector<bool>{true, false}));
  EXPECT_EQ(ProgramState::Instance().BDatosTrabajo, path);
}

TEST_F(Conversion, ASecondRunDividesAgain) {
  const std::string path = MoneyDatabase(dir_, "Despacho.mdb");
  {
    auto db = maquetor::db::OpenShared(path);
    RunAll(db, {"INSERT INTO TGastosNo (FContable01, FContable02, FContable03, FContable04, "
                "FContable05) VALUES (1, 1, #2002-02-02#, 'Viaje', 80)"});
    db.Close();
  }
  const Contents before = ReadAll(path);
  std::string ruta = path;
  int sentido = currency::kAEuros;
  currency::ConvertirBase(ruta, sentido);
  currency::ConvertirBase(ruta, sentido);
  EXPECT_EQ(ReadAll(path), Converted(Converted(before)));
}

TEST_F(Conversion, AnUnknownDirectionIsRefusedBeforeAnythingIsOpened) {
  std::string ruta = dir_.File("no-existe.mdb");
  for (int sentido : {2, -1}) {
    ui_.messages.clear();
    EXPECT_THROW(currency::ConvertirBase(ruta, sentido), maquetor::shell::EndOfProgram);
    EXPECT_EQ(ui_.messages,
              (std::vector<Shown>{{"Tipo de moneda incorrecto", "Cambiar Moneda", Icon::kNone}}));
  }
  EXPECT_FALSE(fs::exists(ruta));
}

// Nothing is trapped and nothing undone: the tables converted before a
// missing one stay converted.
TEST_F(Conversion, AMissingTableStopsTheConversionAfterTheTablesBeforeIt) {
  const std::string path = dir_.File("Parcial.mdb");
  auto db = DBEngine::Instance().Workspaces(0).CreateDatabase(
      path, std::string(maquetor::db::kLocaleGeneral) + maquetor::db::kConnect);
  RunAll(db, {"CREATE TABLE TMinuta (FMinuta07 DOUBLE, FMinuta08 DOUBLE, FMinuta09 DOUBLE, "
           "FMinuta12 DOUBLE, FMinuta13 DOUBLE, FMinuta14 DOUBLE)",
           "INSERT INTO TMinuta VALUES (166.386, 332.772, 0, 0, 0, 0)"});
  db.Close();
  std::string ruta = path;
  int sentido = currency::kAEuros;
  EXPECT_JET_ERROR(currency::ConvertirBase(ruta, sentido), jet::kErrNoSuchTable);
  const auto notes = ReadAll(path).at("TMinuta");
  EXPECT_EQ(notes[0].at("FMinuta07"), Value(166.386 / 166.386));
  EXPECT_EQ(notes[0].at("FMinuta08"), Value(332.772 / 166.386));
}

// A program folder whose Setup.mdb lists the office's databases.
class SetupConversion : public Conversion {
 protected:
  void SetUp() override {
    Conversion::SetUp();
    app_ = dir_.path() / "Corvanta";
    fs::create_directories(app_ / "Demo");
    auto& state = ProgramState::Instance();
    state.RutaApp = app_.string();
    state.BDatosTrabajo.clear();
  }
  void AddToSetup(Database& setup, const std::string& path) {
    setup.Execute("INSERT INTO TSetup (FSetup01, FSetup02, FSetup03, FSetup04, FSetup06) VALUES ('" +
                      path + "', 'U', 'U', 1, 1)",
                  jet::dao::dbFailOnError);
  }
  static double Amount(const std::string& path) {
    return ReadAll(path).at("TAsuntos").at(0).at("FAsu16").as<double>();
  }
  fs::path app_;
};

TEST_F(SetupConversion, ConvertsEveryListedDatabaseOnceThenShowsTheMessageOnce) {
  // The user-control database as the program builds it: encrypted, with the
  // password, its first row naming Demo/Demo.mdb.
  ProgramState::Instance().RutaBases = app_.string();
  maquetor::auxdb::CmdControl();
  const std::string demo =
      MoneyDatabase(dir_, (fs::path("Corvanta") / "Demo" / "Demo.mdb").string());
  const std::string otra = MoneyDatabase(dir_, "Otra.mdb");
  const std::string capitals = (app_ / "DEMO" / "DEMO.MDB").string();
  {
    auto setup = DBEngine::Instance().OpenDatabase((app_ / "Setup.MDB").string(), false, false,
                                                   maquetor::db::kConnect);
    AddToSetup(setup, otra);
    // Two users of the same database, the second spelling it in capitals
    // as Windows allows.
    AddToSetup(setup, capitals);
    setup.Close();
  }

  const auto report = currency::CambiarMoneda();

  EXPECT_EQ(Amount(demo), 1000 / 166.386);
  EXPECT_EQ(Amount(otra), 1000 / 166.386);
  EXPECT_TRUE(report.from_setup);
  // Paths as found on disk; on Windows, whose file system ignores case, as
  // the program or TSetup names them.
#ifdef _WIN32
  EXPECT_EQ(report.setup_path, (app_ / "Setup.mdb").string());
  const std::string repeated = capitals;
#else
  EXPECT_EQ(report.setup_path, (app_ / "Setup.MDB").string());
  const std::string repeated = demo;
#endif
  ASSERT_EQ(report.converted.size(), 2u);
  EXPECT_EQ(report.converted[0].path, demo);
  EXPECT_EQ(report.converted[1].path, otra);
  EXPECT_EQ(report.converted[1].tables.at(0).statements.size(), 6u);
  EXPECT_EQ(report.repeated, std::vector<std::string>{repeated});
  EXPECT_EQ(ui_.messages, (std::vector<Shown>{{"Proceso finalizado", "Cambio a Euros", Icon::kNone}}));
  EXPECT_EQ(ui_.pointer, (std::vector<bool>{true, false}));
}

TEST_F(SetupConversion, AnEmptyListConvertsNothingAndStillFinishes) {
  // Without a password, named in another case than the program asks for.
  auto setup = DBEngine::Instance().Workspaces(0).CreateDatabase((app_ / "SETUP.MDB").string(),
                                                                 maquetor::db::kLocaleGeneral);
  RunAll(setup, {"CREATE TABLE TSetup (FSetup01 TEXT(255), FSetup02 TEXT(255), FSetup03 TEXT(255), "
              "FSetup04 SHORT, FSetup05 COUNTER, FSetup06 SHORT)"});
  setup.Close();

  const auto report = currency::ConvertirBasesSetup();

  EXPECT_TRUE(report.converted.empty());
  EXPECT_EQ(ui_.messages, (std::vector<Shown>{{"Proceso finalizado", "Cambio a Euros", Icon::kNone}}));
}

}  // namespace

namespace {

// A power cut at every write and sync of one conversion: the database is
// then wholly in pesetas or wholly in euros, never divided in part (which
// a second run would divide again), and the readers open it.
TEST_F(Conversion, APowerCutAnywhereLeavesEveryAmountConvertedOrNone) {
  const std::string built = MoneyDatabase(dir_, "Built.mdb");
  const std::string path = dir_.File("Despacho.mdb");
  const std::string old = testing_support::FileContents(maquetor::db::FsPath(built));
  const Contents before = ReadAll(built);
  const Contents after = Converted(before);
  ProgramState::Instance().BDatosTrabajo = path;
  testing_support::FaultFileSystem faults;
  int converted = 0;
  const int points = testing_support::PowerCutAtEveryPoint(
      faults,
      [&] {
        fs::remove(maquetor::db::FsPath(path));
        fs::copy_file(maquetor::db::FsPath(built), maquetor::db::FsPath(path));
      },
      [&] { currency::CambiarMoneda(); },
      [&](const std::string& point) {
        SCOPED_TRACE(point);
        if (testing_support::FileContents(maquetor::db::FsPath(path)) == old) return;
        EXPECT_EQ(ReadAll(path), after);
        ++converted;
        if (testing_support::UseMdbtools()) {
          EXPECT_EQ(testing_support::MdbCount(path, "TMinuta"), 4);
        }
        if (testing_support::UseMdbReader()) {
          const auto dump = testing_support::MdbReaderDump(path, std::string("KTRW_BLM"));
          for (const auto& t : dump["tables"]) {
            if (t["name"] == "TMinuta") {
              EXPECT_EQ(t["rows"].size(), 4u);
            }
          }
        }
      });
  EXPECT_GE(points, 3);
  EXPECT_EQ(converted, 1);  // the untouched run only
}

}  // namespace
