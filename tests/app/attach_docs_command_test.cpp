// `maquetor attach-docs` run as a program: what it prints after an
// attachment, and the refusals and failures that end with status 1.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "db/engine.h"
#include "jet/dao.h"
#include "schema/buttons.h"
#include "support/fixtures.h"
#include "support/maquetor_program.h"
#include "support/oracles.h"

namespace {

namespace fs = std::filesystem;
namespace ts = testing_support;

jet::dao::Database Create(const std::string& path) {
  return jet::dao::DBEngine::Instance().Workspaces(0).CreateDatabase(
      path, std::string(maquetor::db::kLocaleGeneral) + maquetor::db::kConnect);
}

// folder/Base.mdb with TDocu holding `inserts` ("number, 'name', 'class'")
// and folder/DOCS with the files given.
std::string Catalogue(const fs::path& folder, const std::vector<std::string>& inserts,
                      const std::vector<std::string>& files) {
  fs::create_directories(folder / "DOCS");
  const std::string path = (folder / "Base.mdb").string();
  Create(path).Close();
  maquetor::schema::Documentos(path);
  auto db = maquetor::db::OpenShared(path);
  for (const auto& values : inserts) {
    db.Execute("INSERT INTO TDocu (FDoc01, FDoc02, FDoc03) VALUES (" + values + ")",
               jet::dao::dbFailOnError);
  }
  db.Close();
  for (const auto& name : files) std::ofstream(folder / "DOCS" / name) << name;
  return path;
}

TEST(AttachDocsCommandTest, PrintsWhatWasKeptRemovedCopiedAndSkipped) {
  ts::TempDir dir;
  const std::string origin = Catalogue(dir.path() / "origen",
                                       {"7, 'Escrito', 'GENERAL'", "8, 'Contrato', 'GENERAL'"},
                                       {"Doc000007.TXM"});
  const std::string dest = Catalogue(dir.path() / "destino",
                                     {"1, 'Contrato', 'PROPIOS'", "14, 'Poder', 'OTROS'"},
                                     {"Doc000001.TXM", "Doc000014.TXM"});
  auto r = ts::RunMaquetor({"attach-docs", origin, dest});
  ASSERT_EQ(r.exit_code, 0) << r.err;
  const std::string skipped = "Omitido: 8 Contrato (GENERAL): Error 3022: ";
  ASSERT_NE(r.out.find(skipped), std::string::npos) << r.out;
  EXPECT_EQ(r.out.substr(0, r.out.find(skipped)),
            "Conservado: 1 Contrato (PROPIOS)\n"
            "Eliminado: 14 Poder (OTROS), plantilla Doc000014.TXM borrada\n"
            "Copiado: 7 Escrito (GENERAL) -> 15, plantilla Doc000007.TXM -> Doc000015.TXM\n");
  EXPECT_NE(r.out.find("\n1 conservados, 1 eliminados, 1 copiados, 1 omitidos\n"), std::string::npos)
      << r.out;
  EXPECT_TRUE(r.err.empty()) << r.err;
  EXPECT_TRUE(fs::exists(dir.path() / "destino" / "DOCS" / "Doc000015.TXM"));
  EXPECT_FALSE(fs::exists(dir.path() / "destino" / "DOCS" / "Doc000014.TXM"));
}

TEST(AttachDocsCommandTest, RefusalsAndFailuresEndWithStatusOne) {
  ts::TempDir dir;
  const std::string base = Catalogue(dir.path() / "base", {"2, 'Poder', 'OTROS'"}, {"Doc000002.TXM"});

  auto same = ts::RunMaquetor({"attach-docs", base, base});
  EXPECT_EQ(same.exit_code, 1);
  EXPECT_EQ(same.err,
            "Error: La base de origen y destino de los documentos no puede ser la misma\n");
  EXPECT_TRUE(fs::exists(dir.path() / "base" / "DOCS" / "Doc000002.TXM"));

  auto missing = ts::RunMaquetor({"attach-docs", dir.File("nada.mdb"), base});
  EXPECT_EQ(missing.exit_code, 1);
  EXPECT_EQ(missing.err.rfind("Error 3024: ", 0), 0u) << missing.err;

  const std::string bare = dir.File("SinCatalogo.mdb");
  Create(bare).Close();
  auto without = ts::RunMaquetor({"attach-docs", bare, base});
  EXPECT_EQ(without.exit_code, 1);
  EXPECT_NE(without.err.find("TDocu"), std::string::npos) << without.err;
  EXPECT_TRUE(fs::exists(dir.path() / "base" / "DOCS" / "Doc000002.TXM"));

  auto usage = ts::RunMaquetor({"attach-docs", base});
  EXPECT_EQ(usage.exit_code, 2);
}

}  // namespace
