// `maquetor sql` run as a program: statements from the command line and from
// standard input, the CSV it prints, errors that do not stop the run, the
// database password, and a file another process writes.
#include <gtest/gtest.h>

#include <filesystem>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "jet/dao.h"
#include "support/fixtures.h"
#include "support/maquetor_program.h"
#include "support/oracles.h"

namespace {

namespace dao = jet::dao;
namespace fs = std::filesystem;
namespace ts = testing_support;

dao::Database Create(const std::string& path, const std::string& password) {
  std::string locale = ";LANGID=0x0409;CP=1252;COUNTRY=0";
  if (!password.empty()) locale += ";pwd=" + password;
  return dao::DBEngine::Instance().Workspaces(0).CreateDatabase(path, locale);
}

dao::Database Open(const std::string& path, const std::string& password) {
  return dao::DBEngine::Instance().Workspaces(0).OpenDatabase(path, false, true,
                                                              password.empty() ? "" : ";pwd=" + password);
}

const char* kSchema =
    "CREATE TABLE Expedientes (Id LONG PRIMARY KEY, Cliente TEXT(60) NOT NULL, "
    "Importe CURRENCY, Alta DATETIME, Cerrado YESNO)\n";

TEST(SqlCommandTest, CreatesAndRunsStatementsFromStandardInput) {
  ts::TempDir dir;
  const std::string path = dir.File("nueva.mdb");
  const std::string input = "\xEF\xBB\xBF" + std::string(kSchema) +
                            "\n"
                            "-- two clients; the first one pays\n"
                            "   -- indented comments are skipped too\n"
                            "INSERT INTO Expedientes VALUES (1, 'Peña', 12.5, #2001-02-03 04:05:06#, True);\r\n"
                            "INSERT INTO Expedientes (Id, Cliente) VALUES (2, 'Ruiz')\n"
                            "UPDATE Expedientes SET Cerrado = False WHERE Cerrado IS NULL OR Id > 0\n"
                            "SELECT Id, Cliente, Importe, Alta, Cerrado FROM Expedientes ORDER BY Id\n";
  auto r = ts::RunMaquetor({"sql", path, "--create", "-v"}, input);
  ASSERT_EQ(r.exit_code, 0) << r.err;
  EXPECT_EQ(r.out,
            "Id,Cliente,Importe,Alta,Cerrado\n"
            "1,Peña,12.5000,2001-02-03 04:05:06,False\n"
            "2,Ruiz,,,False\n");
  EXPECT_EQ(r.err, "0 filas afectadas\n1 fila afectada\n1 fila afectada\n2 filas afectadas\n");

  // Without -v only data reaches the terminal; the file was created with the
  // program's password in Jet 4.
  auto quiet = ts::RunMaquetor({"sql", path, "DELETE FROM Expedientes WHERE Id = 2"});
  EXPECT_EQ(quiet.exit_code, 0) << quiet.err;
  EXPECT_TRUE(quiet.out.empty() && quiet.err.empty()) << quiet.out << quiet.err;
  auto db = Open(path, "KTRW_BLM");
  EXPECT_EQ(db.JetVersion(), 4);
  EXPECT_TRUE(db.HasPassword());
  EXPECT_EQ(db.GetTableDef("Expedientes").RecordCount(), 1);
  db.Close();

  // --create leaves an existing file as it is.
  auto again = ts::RunMaquetor({"sql", path, "--create", "SELECT Cliente FROM Expedientes"});
  EXPECT_EQ(again.exit_code, 0) << again.err;
  EXPECT_EQ(again.out, "Cliente\nPeña\n");
}

// Every kind of value in one row, against the exact text the CSV must hold.
TEST(SqlCommandTest, PrintsValuesAsCsv) {
  ts::TempDir dir;
  const std::string path = dir.File("valores.mdb");
  {
    auto db = Create(path, "");
    auto t = db.CreateTableDef("V");
    t.AppendField(t.CreateField("N", dao::dbLong));
    t.AppendField(t.CreateField("Texto", dao::dbText, 100));
    auto memo = t.CreateField("Nota", dao::dbMemo);
    memo.SetAllowZeroLength(true);
    t.AppendField(memo);
    t.AppendField(t.CreateField("Tasa", dao::dbSingle));
    t.AppendField(t.CreateField("Doble", dao::dbDouble));
    t.AppendField(t.CreateField("Fecha", dao::dbDate));
    t.AppendField(t.CreateField("Si", dao::dbBoolean));
    t.AppendField(t.CreateField("Bin", dao::dbLongBinary));
    db.AppendTableDef(t);
    auto rs = db.OpenRecordset("V");
    rs.AddNew();
    rs.SetValue("N", jet::Value(int32_t{-7}));
    rs.SetValue("Texto", jet::Value("Pérez, \"el Viejo\""));
    rs.SetValue("Nota", jet::Value("línea 1\r\nlínea 2"));
    rs.SetValue("Tasa", jet::Value(1.1f));
    rs.SetValue("Doble", jet::Value(-0.25));
    rs.SetValue("Fecha", jet::Value(jet::Date{36526.75}));
    rs.SetValue("Si", jet::Value(true));
    rs.SetValue("Bin", jet::Value(jet::Binary{0x00, 0xAB, 0xFF}));
    rs.Update();
    rs.AddNew();
    rs.SetValue("N", jet::Value(int32_t{8}));
    rs.SetValue("Texto", jet::Value("sin comas"));
    rs.SetValue("Nota", jet::Value(""));
    rs.Update();
    rs.Close();
    db.Close();
  }
  auto r = ts::RunMaquetor({"sql", path, "--password", "", "SELECT * FROM V ORDER BY N"});
  ASSERT_EQ(r.exit_code, 0) << r.err;
  EXPECT_EQ(r.out,
            "N,Texto,Nota,Tasa,Doble,Fecha,Si,Bin\n"
            "-7,\"Pérez, \"\"el Viejo\"\"\",\"línea 1\r\nlínea 2\",1.1,-0.25,2000-01-01 18:00:00,True,00ABFF\n"
            "8,sin comas,\"\",,,,False,\n");

  // An empty result still names its columns.
  auto none = ts::RunMaquetor({"sql", path, "--password", "", "SELECT N, Texto FROM V WHERE N > 100"});
  EXPECT_EQ(none.exit_code, 0) << none.err;
  EXPECT_EQ(none.out, "N,Texto\n");

  // JSON: the values inspect --json gives, Null told from empty text.
  auto json = ts::RunMaquetor({"sql", path, "--password", "", "--format", "json", "SELECT * FROM V ORDER BY N DESC"});
  ASSERT_EQ(json.exit_code, 0) << json.err;
  const auto rows = nlohmann::json::parse(json.out);
  ASSERT_EQ(rows.size(), 2u);
  EXPECT_EQ(rows[0], nlohmann::json::parse(R"({"N": 8, "Texto": "sin comas", "Nota": "", "Tasa": null,
      "Doble": null, "Fecha": null, "Si": false, "Bin": null})"));
  EXPECT_EQ(rows[1]["Texto"], "Pérez, \"el Viejo\"");
  EXPECT_EQ(rows[1]["Nota"], "línea 1\r\nlínea 2");
  EXPECT_EQ(rows[1]["Fecha"], "2000-01-01 18:00:00");
  EXPECT_EQ(rows[1]["Bin"], "00ABFF");
  auto counted = ts::RunMaquetor({"sql", path, "--password", "", "--format", "json",
                         "SELECT COUNT(*) AS Filas, SUM(N) FROM V WHERE Si = True OR N > 0"});
  EXPECT_EQ(counted.exit_code, 0) << counted.err;
  EXPECT_EQ(nlohmann::json::parse(counted.out), nlohmann::json::parse(R"([{"Filas": 2, "Expr1000": 1.0}])"));
  EXPECT_EQ(ts::RunMaquetor({"sql", path, "--format", "xml", "SELECT * FROM V"}).exit_code, 2);
}

TEST(SqlCommandTest, AFailingStatementDoesNotStopTheRest) {
  ts::TempDir dir;
  const std::string path = dir.File("errores.mdb");
  const std::string input = std::string(kSchema) +
                            "INSERT INTO Expedientes (Id, Cliente) VALUES (1, 'A')\n"
                            "INSERT INTO Expedientes (Id, Cliente) VALUES (2, 'B')\n"
                            "INSERT INTO Expedientes (Id, Cliente) VALUES (12, 'C')\n"
                            "INSERT INTO Inexistente VALUES (1)\n"
                            "INSERT INTO Expedientes (Id) VALUES (3)\n"
                            "UPDATE Expedientes SET Id = Id + 10\n"
                            "esto no es SQL\n"
                            "SELECT Id FROM Expedientes ORDER BY Id\n";
  auto r = ts::RunMaquetor({"sql", path, "--create"}, input);
  EXPECT_EQ(r.exit_code, 1);
  // The UPDATE moves 1 to 11, then 2 collides with 12: the whole statement
  // is undone, so no row changed.
  EXPECT_EQ(r.out, "Id\n1\n2\n12\n");
  std::vector<std::string> lines;
  for (size_t b = 0, e; (e = r.err.find('\n', b)) != std::string::npos; b = e + 1) {
    lines.push_back(r.err.substr(b, e - b));
  }
  ASSERT_EQ(lines.size(), 4u) << r.err;
  EXPECT_EQ(lines[0].rfind("Error 3078: ", 0), 0u) << lines[0];
  EXPECT_EQ(lines[1].rfind("Error 3314: ", 0), 0u) << lines[1];
  EXPECT_EQ(lines[2].rfind("Error 3022: ", 0), 0u) << lines[2];
  EXPECT_EQ(lines[3].rfind("Error ", 0), 0u) << lines[3];

  // One statement on the command line fails the same way.
  auto one = ts::RunMaquetor({"sql", path, "SELECT Nada FROM Inexistente"});
  EXPECT_EQ(one.exit_code, 1);
  EXPECT_TRUE(one.out.empty());
  EXPECT_EQ(one.err.rfind("Error 3078: ", 0), 0u) << one.err;
}

TEST(SqlCommandTest, MissingFilesAndPasswords) {
  ts::TempDir dir;
  const std::string missing = dir.File("nada.mdb");
  auto r = ts::RunMaquetor({"sql", missing, "SELECT 1"});
  EXPECT_EQ(r.exit_code, 1);
  EXPECT_TRUE(r.out.empty());
  EXPECT_EQ(r.err.rfind("Error 3024: ", 0), 0u) << r.err;
  EXPECT_FALSE(fs::exists(missing)) << "only --create makes a file";

  // A database of the office's own is opened with the program's password.
  const std::string own = dir.File("propia.mdb");
  Create(own, "KTRW_BLM").Close();
  EXPECT_EQ(ts::RunMaquetor({"sql", own, kSchema}).exit_code, 0);
  auto bad = ts::RunMaquetor({"sql", own, "--password", "", "SELECT * FROM Expedientes"});
  EXPECT_EQ(bad.exit_code, 1);
  EXPECT_EQ(bad.err.rfind("Error 3031: ", 0), 0u) << bad.err;

  // Another password: refused without it, accepted with it, and --create
  // protects a new file with it.
  const std::string other = dir.File("otra.mdb");
  auto created = ts::RunMaquetor({"sql", other, "--create", "--password", "secreto", kSchema});
  ASSERT_EQ(created.exit_code, 0) << created.err;
  auto without = ts::RunMaquetor({"sql", other, "SELECT * FROM Expedientes"});
  EXPECT_EQ(without.exit_code, 1);
  EXPECT_EQ(without.err.rfind("Error 3031: ", 0), 0u) << without.err;
  EXPECT_TRUE(without.out.empty());
  auto with = ts::RunMaquetor({"sql", other, "--password", "secreto", "SELECT Id FROM Expedientes"});
  EXPECT_EQ(with.exit_code, 0) << with.err;
  EXPECT_EQ(with.out, "Id\n");

  // --password "" creates a file without one.
  const std::string open = dir.File("abierta.mdb");
  ASSERT_EQ(ts::RunMaquetor({"sql", open, "--create", "--password", "", kSchema}).exit_code, 0);
  auto db = Open(open, "");
  EXPECT_FALSE(db.HasPassword());
  db.Close();
}

// Two programs writing one file lose rows: one's pages overwrite the
// other's. While this process writes the database, `maquetor sql` is
// refused and writes nothing, though `inspect` may read; afterwards its
// statements land.
TEST(SqlCommandTest, RefusesADatabaseAnotherProcessWrites) {
  ts::TempDir dir;
  const std::string path = dir.File("ocupada.mdb");
  ASSERT_EQ(ts::RunMaquetor({"sql", path, "--create"}, kSchema).exit_code, 0);
  {
    auto db = dao::DBEngine::Instance().Workspaces(0).OpenDatabase(path, false, false,
                                                                   ";pwd=KTRW_BLM");
    db.Execute("INSERT INTO Expedientes (Id, Cliente) VALUES (1, 'Peña')");
    const std::string before = ts::FileContents(path);
    auto refused = ts::RunMaquetor({"sql", path, "INSERT INTO Expedientes (Id, Cliente) VALUES (2, 'Ruiz')"});
    EXPECT_EQ(refused.exit_code, 1);
    EXPECT_NE(refused.err.find("Error 3045"), std::string::npos) << refused.err;
    EXPECT_TRUE(ts::FileContents(path) == before) << "the refused run wrote";
    auto inspect = ts::RunProcess({MAQUETOR_EXE, "inspect", path});
    EXPECT_EQ(inspect.exit_code, 0) << inspect.err;
    db.Close();
  }
  auto later = ts::RunMaquetor({"sql", path, "INSERT INTO Expedientes (Id, Cliente) VALUES (3, 'Gil')"});
  EXPECT_EQ(later.exit_code, 0) << later.err;
  EXPECT_EQ(ts::RunMaquetor({"sql", path, "SELECT Id, Cliente FROM Expedientes ORDER BY Id"}).out,
            "Id,Cliente\n1,Peña\n3,Gil\n");
  if (ts::UseMdbtools()) {
    EXPECT_EQ(ts::MdbCount(path, "Expedientes"), 2);
  }
}

}  // namespace
