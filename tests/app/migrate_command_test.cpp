// `maquetor migrate` run as a program: a missing destination built and
// filled in one run, the per-table summary, a run that stops with the origin
// row and the engine's error, and the arguments it refuses.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "migrate/origin_filler.h"
#include "support/fixtures.h"
#include "support/maquetor_program.h"
#include "support/oracles.h"

namespace {

namespace fs = std::filesystem;
namespace ts = testing_support;
using namespace migrate_testing;

int64_t Count(const std::string& path, const std::string& table) {
  auto db = dao::DBEngine::Instance().OpenDatabase(path, false, true, maquetor::db::kConnect);
  const int64_t n = db.GetTableDef(table).RecordCount();
  db.Close();
  return n;
}

// The summary line of a table: name, rows copied, rows skipped.
std::string Line(const std::string& out, const std::string& table) {
  const auto at = out.find("\n" + table + " ");
  if (at == std::string::npos) return "";
  return out.substr(at + 1, out.find('\n', at + 1) - at - 1);
}

std::string Squeezed(std::string s) {
  std::string out;
  for (char c : s) {
    if (c == ' ' && !out.empty() && out.back() == ' ') continue;
    out.push_back(c);
  }
  return out;
}

TEST(MigrateCommand, BuildsAMissingDestinationAndFillsItInOneRun) {
  ts::TempDir dir;
  const std::string origin = dir.File("Origen.mdb");
  const std::string dest = dir.File("Nueva.mdb");
  BuildOrigin(origin, 4, Layout::kV8, {{"TDocAsu", 0}});
  {
    auto db = dao::DBEngine::Instance().OpenDatabase(origin, false, false, maquetor::db::kConnect);
    db.Execute("DROP TABLE TInterDir");
    db.Close();
  }

  auto r = ts::RunMaquetor({"migrate", "--from-v8", origin, dest});
  ASSERT_EQ(r.exit_code, 0) << r.err;
  EXPECT_NE(r.err.find("Creada la base de datos de destino"), std::string::npos) << r.err;
  // Not a terminal: no progress line.
  EXPECT_EQ(r.err.find('\r'), std::string::npos);
  EXPECT_EQ(r.out.rfind("Tabla", 0), 0u) << r.out;
  EXPECT_EQ(Squeezed(Line(r.out, "TConfig")), "TConfig 1 0");
  EXPECT_EQ(Squeezed(Line(r.out, "TAsuntos")), "TAsuntos 4 0");
  EXPECT_EQ(Squeezed(Line(r.out, "TcContable")), "TcContable 4 7");
  EXPECT_EQ(Squeezed(Line(r.out, "Total")), "Total " + std::to_string(1 + 34 * 4) + " 7");
  // Skipped tables say why.
  EXPECT_EQ(Squeezed(Line(r.out, "TDocAsu")), "TDocAsu 0 0 vacía en el origen");
  EXPECT_EQ(Squeezed(Line(r.out, "TInterDir"))
                .rfind("TInterDir 0 0 no se pudo abrir en el origen (Error 3078: ", 0),
            0u)
      << r.out;
  EXPECT_EQ(Count(dest, "TAsuntos"), 4);
  EXPECT_EQ(Count(dest, "TPaises"), 207);
  // The destination was built with its document folder beside it.
  EXPECT_TRUE(fs::is_directory(dir.File("Docs")));

  // The previous version's driver leaves out the four newer tables.
  const std::string v7_origin = dir.File("V7.mdb");
  const std::string other = dir.File("Otra.mdb");
  BuildOrigin(v7_origin, 4, Layout::kV7);
  auto v7 = ts::RunMaquetor({"migrate", "--from-v7", v7_origin, other});
  ASSERT_EQ(v7.exit_code, 0) << v7.err;
  EXPECT_EQ(Line(v7.out, "TLaboral"), "");
  EXPECT_EQ(Squeezed(Line(v7.out, "THistoricoSec")), "THistoricoSec 4 0");
  EXPECT_EQ(Count(other, "TLaboral"), 0);
}

TEST(MigrateCommand, SecondRunStopsWithTheTableTheRowAndTheError) {
  ts::TempDir dir;
  const std::string origin = dir.File("Origen.mdb");
  const std::string dest = dir.File("Destino.mdb");
  BuildOrigin(origin, 2, Layout::kV8, {{"TDocAsu", 0}});
  ASSERT_EQ(ts::RunMaquetor({"migrate", "--from-v8", origin, dest}).exit_code, 0);
  auto first = ts::RunMaquetor({"migrate", "--from-v8", origin, dest});
  EXPECT_EQ(first.exit_code, 1);
  EXPECT_NE(
      first.err.find("Migración detenida en la tabla TAbogados, fila 1 del origen (FAbo01=1)"),
      std::string::npos)
      << first.err;
  EXPECT_NE(first.err.find("\nError 3022: "), std::string::npos) << first.err;
  // What ran before the stop is still summarised.
  EXPECT_EQ(Squeezed(Line(first.out, "TConfig")), "TConfig 1 0");
  EXPECT_EQ(Squeezed(Line(first.out, "TAbogados")), "TAbogados 0 0 detenida");
  EXPECT_EQ(Count(dest, "TAbogados"), 2);
}

TEST(MigrateCommand, RefusesBadArgumentsWithoutTouchingAnything) {
  ts::TempDir dir;
  const std::string origin = dir.File("Origen.mdb");
  const std::string dest = dir.File("Destino.mdb");

  EXPECT_EQ(ts::RunMaquetor({"migrate", origin, dest}).exit_code, 2);
  EXPECT_EQ(ts::RunMaquetor({"migrate", "--from-v8", "--from-v7", origin, dest}).exit_code, 2);
  EXPECT_EQ(ts::RunMaquetor({"migrate", "--from-v8", origin}).exit_code, 2);

  // A mistyped origin leaves no new destination behind.
  auto missing = ts::RunMaquetor({"migrate", "--from-v8", origin, dest});
  EXPECT_EQ(missing.exit_code, 1);
  EXPECT_NE(missing.err.find("Error 3024: "), std::string::npos) << missing.err;
  EXPECT_FALSE(fs::exists(dest));

  BuildOrigin(origin, 1);
  auto same = ts::RunMaquetor({"migrate", "--from-v8", origin, origin});
  EXPECT_EQ(same.exit_code, 2);
  EXPECT_NE(same.err.find("mismo archivo"), std::string::npos) << same.err;
  auto empty = ts::RunMaquetor({"migrate", "--from-v7", "", origin});
  EXPECT_EQ(empty.exit_code, 2);
  EXPECT_NE(empty.err.find("origen"), std::string::npos) << empty.err;
}

}  // namespace
