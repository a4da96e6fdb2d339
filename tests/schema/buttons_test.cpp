// Seed rows, the document folder, buttons pressed out of order or twice,
// and the cascades the application relies on.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <functional>

#include "db/file_name.h"
#include "jet/dao.h"
#include "jet/error.h"
#include "schema/buttons.h"
#include "schema/config.h"
#include "support/fixtures.h"
#include "support/fault_file_system.h"
#include "support/jet_error.h"
#include "support/oracles.h"

namespace {


using namespace jet::dao;
using testing_support::TempDir;


Database Open(const std::string& path) {
  return DBEngine::Instance().OpenDatabase(path, false, false, ";pwd=KTRW_BLM");
}

std::string Empty(const TempDir& dir, const std::string& name = "Base.mdb") {
  std::string path = dir.File(name);
  DBEngine::Instance().Workspaces(0).CreateDatabase(path, ";pwd=KTRW_BLM").Close();
  return path;
}

TEST(Seeds, CountriesAccountsAndConfigurationRowAsReadByMdbtools) {
  REQUIRE_MDBTOOLS();
  TempDir dir;
  std::string path = dir.File("Despacho.mdb");
  ASSERT_TRUE(maquetor::schema::CrearBaseCompleta(path));

  auto paises = testing_support::MdbExport(path, "TPaises");
  ASSERT_EQ(paises.rows.size(), 207u);
  for (size_t i = 0; i < paises.rows.size(); ++i) {
    EXPECT_EQ(paises.At(i, "FPa01"), std::to_string(i + 1));
    EXPECT_EQ(paises.At(i, "FPa03"), "0");
  }
  EXPECT_EQ(paises.At(0, "FPa02"), "ALBANIA");
  EXPECT_EQ(paises.At(62, "FPa02"), "ESPAÑA");
  EXPECT_EQ(paises.At(12, "FPa02"), "AUSTRALIA");
  EXPECT_EQ(paises.At(181, "FPa02"), "AUSTRALIA");
  EXPECT_EQ(paises.At(198, "FPa02"), "VIRGENES AMERICANAS ");  // cut to 20
  EXPECT_EQ(paises.At(206, "FPa02"), "ZIMBABWE");

  auto cuentas = testing_support::MdbExport(path, "TcContable");
  std::vector<std::string> codes;
  for (size_t i = 0; i < cuentas.rows.size(); ++i) codes.push_back(cuentas.At(i, "FcContable02"));
  EXPECT_EQ(codes, (std::vector<std::string>{"46", "642", "66", "63", "607", "624", "631"}));
  EXPECT_EQ(cuentas.At(1, "FcContable03"), "CUOTAS  OBLIGATORIAS S.S. TITULAR");
  EXPECT_EQ(cuentas.At(6, "FcContable01"), "7");

  auto config = testing_support::MdbExport(path, "TConfig");
  ASSERT_EQ(config.rows.size(), 1u);
  EXPECT_EQ(config.At(0, "FConfig01"), "1");
  EXPECT_EQ(config.At(0, "FConfig02"), "0");
  EXPECT_EQ(config.At(0, "FConfig03"), dir.File("Docs"));
  EXPECT_EQ(config.At(0, "FConfig04"), "V8");
  EXPECT_TRUE(std::filesystem::is_directory(dir.File("Docs")));

  // An existing file is left alone.
  auto before = std::filesystem::last_write_time(path);
  EXPECT_FALSE(maquetor::schema::CrearBaseCompleta(path));
  EXPECT_EQ(std::filesystem::last_write_time(path), before);
}

TEST(DocumentFolder, NumberedAfterTheHighestDocsDirectoryWhateverTheListingOrder) {
  TempDir dir;
  const std::string folder = dir.path().string();
  EXPECT_EQ(maquetor::schema::NewDocumentFolder(folder, '/'), folder + "/Docs");
  // Docs_4 alone does not take the plain name.
  std::filesystem::create_directory(dir.File("Docs_4"));
  EXPECT_EQ(maquetor::schema::NewDocumentFolder(folder, '/'), folder + "/Docs");
  std::filesystem::create_directory(dir.File("Docs"));
  for (const char* name : {"Docs_10", "Docs_2", "Docs_x", "Docs_", "MisDocs"}) {
    std::filesystem::create_directory(dir.File(name));
  }
  std::ofstream(dir.File("Docs_99")) << "a file, not a folder";
  EXPECT_EQ(maquetor::schema::NewDocumentFolder(folder, '/'), folder + "/Docs_11");

  TempDir only;
  std::filesystem::create_directory(only.File("Docs"));
  EXPECT_EQ(maquetor::schema::NewDocumentFolder(only.path().string(), '/'),
            only.path().string() + "/Docs_1");
}

TEST(DocumentFolder, AnApostropheInThePathKeepsTheConfigurationRow) {
  TempDir dir;
  std::filesystem::create_directory(dir.File("O'Donnell"));
  std::string path = Empty(dir, "O'Donnell/Base.mdb");
  maquetor::schema::CmdConfig(path);
  Database db = Open(path);
  Recordset rs = db.OpenRecordset("TConfig");
  ASSERT_EQ(rs.RecordCount(), 1);
  EXPECT_EQ(rs.GetValue("FConfig03").ToString(), dir.File("O'Donnell/Docs"));
  EXPECT_TRUE(std::filesystem::is_directory(dir.File("O'Donnell/Docs")));
}

TEST(Buttons, PressedTwiceFailsAtTheTableAppendAndChangesNothing) {
  TempDir dir;
  std::string path = Empty(dir);
  maquetor::schema::cContable(path);
  EXPECT_JET_ERROR(maquetor::schema::cContable(path), jet::kErrTableExists);
  maquetor::schema::Paises(path);
  maquetor::schema::Abogados(path);
  // A party button fails already in its address table.
  EXPECT_JET_ERROR(maquetor::schema::Abogados(path), jet::kErrTableExists);
  Database db = Open(path);
  EXPECT_EQ(db.GetTableDef("TcContable").RecordCount(), 7);
  EXPECT_EQ(db.Relations().size(), 2u);
  EXPECT_EQ(db.GetTableDef("TAbogados").Indexes().size(), 4u);  // three and the relation's
}

TEST(Buttons, AbogadosWithoutCountriesLeavesTheAddressTableWithItsIndexOnly) {
  TempDir dir;
  std::string path = Empty(dir);
  EXPECT_JET_ERROR(maquetor::schema::Abogados(path), jet::kErrObjectNotFound);
  Database db = Open(path);
  ASSERT_TRUE(db.HasTable("TAbogadosDir"));
  EXPECT_FALSE(db.HasTable("TAbogados"));
  auto indexes = db.GetTableDef("TAbogadosDir").Indexes();
  ASSERT_EQ(indexes.size(), 1u);
  EXPECT_EQ(indexes[0].Name(), "IAbogadosDir");
  EXPECT_TRUE(db.Relations().empty());
}

TEST(Buttons, IndexesAppendedWithTheTableLeaveNoTableWhenTheTableFails) {
  TempDir dir;
  std::string path = Empty(dir);
  maquetor::schema::Documentos(path);
  EXPECT_JET_ERROR(maquetor::schema::Documentos(path), jet::kErrTableExists);
  // Derechos before TMinuta: table and index stay, the first relation fails.
  maquetor::schema::Materias(path);
  EXPECT_JET_ERROR(maquetor::schema::Derechos(path), jet::kErrObjectNotFound);
  Database db = Open(path);
  EXPECT_EQ(db.GetTableDef("TDerecho").Indexes().size(), 1u);
}

// A whole database with a few rows: the cascades and refusals the
// application counts on.
class Cascades : public ::testing::Test {
 protected:
  void SetUp() override {
    path_ = dir_.File("Despacho.mdb");
    ASSERT_TRUE(maquetor::schema::CrearBaseCompleta(path_));
    db_ = Open(path_);
    for (const char* sql : {
             "INSERT INTO TAbogados (FAbo02, FAbo11) VALUES ('PEREZ', 'AB001')",
             "INSERT INTO TAbogadosDir (FDir02, FDir10) VALUES (1, 63)",
             "INSERT INTO TMaterias (FMateria02) VALUES ('CIVIL')",
             "INSERT INTO TAsuntos (FAsu01, FAsu02, FAsu05, FAsu07) VALUES (2024, 1, 1, 1)",
             "INSERT INTO TMinuta (FMinuta01, FMinuta02, FMinuta04, FMinuta05, FMinuta16, FMinuta18) "
             "VALUES (2024, 1, 1, 1, False, 1)",
             "INSERT INTO TDerecho (FDerecho01, FDerecho02, FDerecho03, FDerecho04, FDerecho08, "
             "FDerecho09) VALUES (2024, 1, 'Honorarios', 100, 1, #2024-01-15#)",
             "INSERT INTO THistorico (FHist01, FHist02, FHist03) VALUES (2024, 1, #2024-01-15#)",
             "INSERT INTO THistoricoSec (FHistSec01) VALUES (1)",
         }) {
      db_.Execute(sql, dbFailOnError);
    }
  }
  int64_t Count(const std::string& table) { return db_.GetTableDef(table).RecordCount(); }

  TempDir dir_;
  std::string path_;
  Database db_;
};

TEST_F(Cascades, DeletingALawyerTakesItsAddressesMattersAndTheirRows) {
  db_.Execute("DELETE FROM TAbogados", dbFailOnError);
  EXPECT_EQ(Count("TAbogadosDir"), 0);
  EXPECT_EQ(Count("TAsuntos"), 0);
  EXPECT_EQ(Count("TMinuta"), 0);
  EXPECT_EQ(Count("TDerecho"), 0);
  EXPECT_EQ(Count("THistoricoSec"), 0);
}

TEST_F(Cascades, UsedCountriesAndSubjectAreasCannotBeDeletedOnlyRenumbered) {
  EXPECT_JET_ERROR(db_.Execute("DELETE FROM TMaterias", dbFailOnError),
                   jet::kErrRelatedRecordsExist);
  // A second country seed stops at its delete and leaves the list whole.
  EXPECT_JET_ERROR(maquetor::schema::InsertarPaises(path_), jet::kErrRelatedRecordsExist);
  EXPECT_EQ(Count("TPaises"), 207);
  db_.Execute("UPDATE TPaises SET FPa01 = 500 WHERE FPa01 = 63", dbFailOnError);
  Recordset rs = db_.OpenRecordset("TAbogadosDir");
  EXPECT_EQ(rs.GetValue("FDir10").ToString(), "500");
}

TEST_F(Cascades, FeeItemsMustNameAnExistingFeeNote) {
  EXPECT_JET_ERROR(db_.Execute("INSERT INTO TDerecho (FDerecho01, FDerecho02, FDerecho03, FDerecho04, "
                          "FDerecho08, FDerecho09) VALUES (2024, 1, 'x', 1, 99, #2024-01-15#)",
                          dbFailOnError), jet::kErrNoRelatedRecord);
}

}  // namespace

namespace {

// A whole-database creation met by a power cut at any write or sync leaves
// no file at the path (the office application would otherwise open a
// database missing tables), and a second run builds it whole; a full disk
// or an I/O error gives its number and leaves nothing either.
TEST(WholeCreation, APowerCutOrAFailingDiskLeavesNoFileAndASecondRunBuildsItWhole) {
  TempDir dir;
  const std::string path = dir.File("Base.mdb");
  size_t tables = 0;
  auto user_tables = [&] {
    size_t n = 0;
    Database db = Open(path);
    for (const auto& t : db.TableDefs()) n += t.IsSystem() ? 0 : 1;
    db.Close();
    return n;
  };
  // The files in the folder; the creation also makes its DOCS folder there.
  auto files = [&] {
    size_t n = 0;
    for (const auto& e : std::filesystem::directory_iterator(dir.path())) n += e.is_regular_file();
    return n;
  };
  testing_support::FaultFileSystem faults;
  int cuts = 0;
  const int points = testing_support::PowerCutAtEveryPoint(
      faults, [&] { std::filesystem::remove(maquetor::db::FsPath(path)); },
      [&] { EXPECT_TRUE(maquetor::schema::CrearBaseCompleta(path)); },
      [&](const std::string& point) {
        SCOPED_TRACE(point);
        if (point == "none") {
          tables = user_tables();
          EXPECT_EQ(tables, 38u);
          return;
        }
        EXPECT_EQ(files(), 0u);
        // A second run builds it whole (checked at some points: each costs
        // a whole creation).
        if (++cuts % 25 == 0) {
          EXPECT_TRUE(maquetor::schema::CrearBaseCompleta(path));
          EXPECT_EQ(user_tables(), tables);
        }
      },
      /*stride=*/1);
  EXPECT_GE(points, 3);

  // Writes fail at the first, a middle and the last write of a creation
  // (pages reach the copy in runs, so they are few).
  int writes = 0;
  {
    std::filesystem::remove_all(dir.path());
    std::filesystem::create_directories(dir.path());
    testing_support::InstalledFileSystem installed(faults);
    faults.Reboot();
    EXPECT_TRUE(maquetor::schema::CrearBaseCompleta(path));
    writes = faults.writes();
    faults.Reboot();
  }
  ASSERT_GE(writes, 1);
  for (const int error : {jet::kErrDiskFull, jet::kErrDiskIo}) {
    for (const int write : {1, (writes + 1) / 2, writes}) {
      std::filesystem::remove_all(dir.path());
      std::filesystem::create_directories(dir.path());
      {
        testing_support::InstalledFileSystem installed(faults);
        faults.Reboot();
        faults.FailWrite(write, error, error == jet::kErrDiskFull);
        EXPECT_JET_ERROR(maquetor::schema::CrearBaseCompleta(path), error);
      }
      // Not even its document folder.
      EXPECT_TRUE(std::filesystem::is_empty(dir.path()));
      EXPECT_TRUE(maquetor::schema::CrearBaseCompleta(path));
      EXPECT_EQ(user_tables(), 38u);
    }
  }
  EXPECT_TRUE(jet::TakeDeferredErrors().empty());
}

}  // namespace
