// `maquetor euros` run as a program: one database, every database of the
// program folder's Setup.mdb, and failures.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "auxdb/user_control.h"
#include "db/engine.h"
#include "db/program_state.h"
#include "jet/dao.h"
#include "schema/buttons.h"
#include "support/fixtures.h"
#include "support/maquetor_program.h"

namespace {

namespace fs = std::filesystem;
namespace ts = testing_support;

// A whole database with one matter whose FAsu16 is 1000 pesetas.
std::string Office(const std::string& path) {
  EXPECT_TRUE(maquetor::schema::CrearBaseCompleta(path));
  auto db = maquetor::db::OpenShared(path);
  db.Execute("INSERT INTO TAsuntos (FAsu01, FAsu02, FAsu16) VALUES (1, 1, 1000)",
             jet::dao::dbFailOnError);
  db.Close();
  return path;
}

double Amount(const std::string& path) {
  auto db = maquetor::db::OpenShared(path);
  auto rs = db.OpenRecordset("TAsuntos");
  const double v = rs.GetValue("FAsu16").as<double>();
  db.Close();
  return v;
}

TEST(EurosCommandTest, ConvertsOneDatabaseAndListsWhatItRan) {
  ts::TempDir dir;
  const std::string path = Office(dir.File("Despacho.mdb"));
  auto r = ts::RunMaquetor({"euros", path});
  ASSERT_EQ(r.exit_code, 0) << r.err;
  EXPECT_EQ(r.out,
            "Base convertida: " + path +
                "\n"
                "  Sin filas: TMinuta\n"
                "  1 fila afectada: UPDATE TAsuntos SET FAsu16 = FAsu16 /166.386 WHERE FAsu16 <> 0\n"
                "  0 filas afectadas: UPDATE TAsuntos SET FAsu17 = FAsu17 /166.386 WHERE FAsu17 <> 0\n"
                "  0 filas afectadas: UPDATE TAsuntos SET FAsu21 = FAsu21 /166.386 WHERE FAsu21 <> 0\n"
                "  0 filas afectadas: UPDATE TAsuntos SET FAsu22 = FAsu22 /166.386 WHERE FAsu22 <> 0\n"
                "  Sin filas: TContable\n"
                "  Sin filas: TDerecho\n"
                "  Sin filas: TGCobros\n"
                "  Sin filas: TGastosNo\n");
  // A working database ends without the final message.
  EXPECT_TRUE(r.err.empty()) << r.err;
  EXPECT_EQ(Amount(path), 1000 / 166.386);
}

TEST(EurosCommandTest, WithoutADatabaseConvertsThoseTheProgramFoldersSetupLists) {
  ts::TempDir dir;
  const fs::path app = dir.path() / "Corvanta";
  fs::create_directories(app / "Demo");
  // Setup.MDB as the program makes it, with its row for Demo/Demo.mdb.
  auto& state = maquetor::db::ProgramState::Instance();
  const auto saved = state;
  state.RutaBases = app.string();
  maquetor::auxdb::CmdControl();
  state = saved;
  const std::string demo = Office((app / "Demo" / "Demo.mdb").string());

  auto r = ts::RunMaquetor({"euros", "--program-dir", app.string()});
  ASSERT_EQ(r.exit_code, 0) << r.err;
  // Named as on disk, or on Windows, whose file system ignores case, as asked.
#ifdef _WIN32
  const std::string setup = (app / "Setup.mdb").string();
#else
  const std::string setup = (app / "Setup.MDB").string();
#endif
  EXPECT_EQ(r.out.rfind("Bases de TSetup en " + setup +
                            "\nBase convertida: " + demo + "\n",
                        0),
            0u)
      << r.out;
  EXPECT_EQ(r.err, "Cambio a Euros: Proceso finalizado\n");
  EXPECT_EQ(Amount(demo), 1000 / 166.386);

  // A folder without Setup.mdb.
  auto missing = ts::RunMaquetor({"euros", "--program-dir", dir.path().string()});
  EXPECT_EQ(missing.exit_code, 1);
  EXPECT_EQ(missing.err.rfind("Error 3024: ", 0), 0u) << missing.err;
}

}  // namespace
