// Document attachment between real databases with real template files:
// what the destination keeps, loses and receives, byte for byte; the
// refusals that change nothing; rows the engine refuses; file names from
// numbers only.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <string>
#include <vector>

#include "db/engine.h"
#include "db/program_state.h"
#include "documents/anexar.h"
#include "jet/dao.h"
#include "jet/error.h"
#include "schema/buttons.h"
#include "shell/paths.h"
#include "shell/ui.h"
#include "support/fixtures.h"
#include "support/fault_file_system.h"
#include "support/recording_ui.h"

namespace {

namespace fs = std::filesystem;
using jet::dao::Database;
using jet::dao::DBEngine;
using maquetor::db::ProgramState;
using maquetor::shell::Icon;
namespace documents = maquetor::documents;

using testing_support::RecordingUi;
using testing_support::Shown;

// A document kind as a test writes it: its number, name and class, and the
// template's contents (none: no file).
struct Kind {
  int number;
  std::string name, owner;
  std::string file;
};

void Write(const fs::path& path, const std::string& bytes) {
  std::ofstream(path, std::ios::binary) << bytes;
}

// Every file beneath a folder with its contents, by path relative to it.
std::map<std::string, std::string> Files(const fs::path& folder) {
  std::map<std::string, std::string> out;
  for (const auto& e : fs::recursive_directory_iterator(folder)) {
    if (e.is_regular_file()) {
      out[fs::relative(e.path(), folder).string()] = testing_support::FileContents(e.path());
    }
  }
  return out;
}

Database Open(const std::string& path) {
  return DBEngine::Instance().OpenDatabase(path, false, false, maquetor::db::kConnect);
}

Database Create(const std::string& path) {
  return DBEngine::Instance().Workspaces(0).CreateDatabase(
      path, std::string(maquetor::db::kLocaleGeneral) + maquetor::db::kConnect);
}

// Number, name and class of every row of TDocu, in stored order.
std::vector<std::string> Rows(const std::string& path) {
  std::vector<std::string> out;
  auto db = Open(path);
  auto rs = db.OpenRecordset("TDocu");
  for (; !rs.IsEOF(); rs.MoveNext()) {
    out.push_back(rs.GetValue("FDoc01").ToString() + " " + rs.GetValue("FDoc02").ToString() + " " +
                  rs.GetValue("FDoc03").ToString());
  }
  db.Close();
  return out;
}

class Attachment : public ::testing::Test {
 protected:
  void SetUp() override { saved_ = ProgramState::Instance(); }
  void TearDown() override { ProgramState::Instance() = saved_; }

  // A database in its own folder with TDocu as the Documentos button builds
  // it, the kinds under their numbers, and a document folder spelt `docs`
  // on disk holding each kind's template.
  std::string Catalogue(const std::string& folder, const std::string& name,
                        const std::vector<Kind>& kinds, const std::string& docs = "DOCS") {
    fs::create_directories(dir_.path() / folder / docs);
    const std::string path = (dir_.path() / folder / name).string();
    Create(path).Close();
    maquetor::schema::Documentos(path);
    auto db = Open(path);
    for (const auto& k : kinds) {
      db.Execute("INSERT INTO TDocu (FDoc01, FDoc02, FDoc03) VALUES (" + std::to_string(k.number) +
                     ", '" + k.name + "', '" + k.owner + "')",
                 jet::dao::dbFailOnError);
      if (!k.file.empty()) {
        Write(dir_.path() / folder / docs / documents::NombreDocumento(k.number), k.file);
      }
    }
    db.Close();
    return path;
  }

  void Choose(const std::string& origen, const std::string& destino) {
    ProgramState::Instance().BDatosOrigen = origen;
    ProgramState::Instance().BDatosDestino = destino;
  }

  testing_support::TempDir dir_;
  RecordingUi ui_;

 private:
  ProgramState saved_;
};

TEST(DocumentNames, SixDigitsOrAllOfThem) {
  EXPECT_EQ(documents::NombreDocumento(42), "Doc000042.TXM");
  EXPECT_EQ(documents::NombreDocumento(0), "Doc000000.TXM");
  EXPECT_EQ(documents::NombreDocumento(999999), "Doc999999.TXM");
  EXPECT_EQ(documents::NombreDocumento(1000000), "Doc1000000.TXM");
  EXPECT_EQ(documents::NombreDocumento(2147483647), "Doc2147483647.TXM");

  const std::string sep(1, maquetor::shell::kSeparator);
  EXPECT_EQ(documents::CarpetaDocumentos(sep + "a" + sep + "b.mdb"), sep + "a" + sep + "DOCS");
  EXPECT_EQ(documents::CarpetaDocumentos(sep + "b.mdb"), sep + "DOCS");
  EXPECT_EQ(documents::CarpetaDocumentos("b.mdb"), "DOCS");
}

TEST_F(Attachment, KeepsOwnKindsDropsTheOthersAndAppendsTheOriginsUnderNewNumbers) {
  const std::string origen = Catalogue("origen", "Origen.mdb",
                                       {{7, "Escrito", "GENERAL", std::string("escrito\0\r\n\xff", 11)},
                                        {9, "Contrato", "GENERAL", "contrato del origen"},
                                        {12, "Minuta", "PROPIOS", "minuta"},
                                        {13, "Sin plantilla", "GENERAL", ""}});
  // The folder as the configuration button makes it: "Docs".
  const std::string destino = Catalogue("destino", "Destino.mdb",
                                        {{1, "Contrato", "PROPIOS", "contrato propio"},
                                         {2, "Poder", "OTROS", "poder"},
                                         {3, "Demanda", "propios", "demanda"},
                                         {14, "Recurso", "PROPIOS", "recurso"}},
                                        "Docs");
  const fs::path docs = dir_.path() / "destino" / "Docs";
  Write(docs / "Notas.txt", "notas");
  const auto origin_rows = Rows(origen);
  const auto origin_files = Files(dir_.path() / "origen");
  Choose(origen, destino);

  const auto report = documents::AnexarDocumentos();

  EXPECT_EQ(report.outcome, documents::Outcome::kAttached);
  EXPECT_TRUE(report.passes_run);
  // "propios" is not "PROPIOS": that kind goes too. The origin's "Contrato"
  // clashes with the destination's under the unique name and is skipped.
  const auto rows = Rows(destino);
  ASSERT_EQ(rows.size(), 5u);
  EXPECT_EQ(rows[0], "1 Contrato PROPIOS");
  EXPECT_EQ(rows[1], "14 Recurso PROPIOS");
  EXPECT_EQ(rows[2], "15 Escrito GENERAL");
  ASSERT_EQ(report.copied.size(), 3u);
  const int minuta = *report.copied[1].new_number;
  const int sin_plantilla = *report.copied[2].new_number;
  EXPECT_EQ(rows[3], std::to_string(minuta) + " Minuta PROPIOS");
  EXPECT_EQ(rows[4], std::to_string(sin_plantilla) + " Sin plantilla GENERAL");
  EXPECT_GT(minuta, 15);
  EXPECT_GT(sin_plantilla, minuta);

  // Doc000007 arrives as Doc000015, byte for byte; the removed kinds' files
  // are gone; the refused row left no file; other files are untouched.
  EXPECT_EQ(Files(docs), (std::map<std::string, std::string>{
                             {"Doc000001.TXM", "contrato propio"},
                             {"Doc000014.TXM", "recurso"},
                             {"Doc000015.TXM", std::string("escrito\0\r\n\xff", 11)},
                             {documents::NombreDocumento(minuta), "minuta"},
                             {"Notas.txt", "notas"},
                         }));
  EXPECT_EQ(Rows(origen), origin_rows);
  EXPECT_EQ(Files(dir_.path() / "origen"), origin_files);

  ASSERT_EQ(report.not_copied.size(), 1u);
  EXPECT_EQ(report.not_copied[0].error, jet::kErrDuplicateKey);

  // One turn per row of each pass, the hourglass on and off each time.
  EXPECT_EQ(ui_.events, 8);
  EXPECT_EQ(ui_.pointer.size(), 16u);
  for (size_t i = 0; i < ui_.pointer.size(); ++i) EXPECT_EQ(ui_.pointer[i], i % 2 == 0);
  EXPECT_TRUE(ui_.messages.empty());
  EXPECT_TRUE(ProgramState::Instance().BDatosOrigen.empty());
  EXPECT_TRUE(ProgramState::Instance().BDatosDestino.empty());
}

TEST_F(Attachment, OneDatabaseTwiceIsRefusedAndNothingChanges) {
  const std::string path = Catalogue("base", "Base.mdb",
                                     {{1, "Propio", "PROPIOS", "p"}, {2, "Ajeno", "OTROS", "a"}});
  const auto rows = Rows(path);
  const auto files = Files(dir_.path() / "base");
  const std::string other_spelling = (dir_.path() / "base" / "." / "Base.mdb").string();
  for (const auto& second : {path, other_spelling}) {
    ui_.messages.clear();
    Choose(path, second);
    EXPECT_EQ(documents::AnexarDocumentos().outcome, documents::Outcome::kSameDatabase);
    EXPECT_EQ(ui_.messages, (std::vector<Shown>{{documents::kMismaBase, "Error", Icon::kCritical}}));
    EXPECT_EQ(Rows(path), rows);
    EXPECT_EQ(Files(dir_.path() / "base"), files);
    // The window stays open with both paths still chosen.
    EXPECT_EQ(ProgramState::Instance().BDatosOrigen, path);
    EXPECT_EQ(ProgramState::Instance().BDatosDestino, second);
  }
}

// Two databases of one folder share its DOCS: the destination's removals
// would delete the origin's templates and the copies overwrite them.
TEST_F(Attachment, DatabasesSharingTheirDocumentFolderAreRefused) {
  const std::string origen = Catalogue("comun", "Origen.mdb", {{2, "Escrito", "GENERAL", "e"}});
  const std::string destino = Catalogue("comun", "Destino.mdb", {{2, "Ajeno", "OTROS", "a"}});
  const auto files = Files(dir_.path() / "comun" / "DOCS");
  Choose(origen, destino);
  EXPECT_EQ(documents::AnexarDocumentos().outcome, documents::Outcome::kSameFolder);
  EXPECT_EQ(ui_.messages, (std::vector<Shown>{{documents::kMismaCarpeta, "Error", Icon::kCritical}}));
  EXPECT_EQ(Rows(destino), std::vector<std::string>{"2 Ajeno OTROS"});
  EXPECT_EQ(Files(dir_.path() / "comun" / "DOCS"), files);
}

// A database from elsewhere whose FDoc01 holds text: its rows are handled,
// but no file is named after them.
TEST_F(Attachment, NoFileOutsideTheDocumentFoldersIsTouched) {
  auto hostile = [&](const std::string& folder, const std::string& key, const std::string& name) {
    fs::create_directories(dir_.path() / folder / "DOCS" / "Doc");
    const std::string path = (dir_.path() / folder / "Base.mdb").string();
    auto db = Create(path);
    db.Execute("CREATE TABLE TDocu (FDoc01 TEXT(100), FDoc02 TEXT(50), FDoc03 TEXT(10))");
    db.Execute("INSERT INTO TDocu VALUES ('" + key + "', '" + name + "', 'OTROS')");
    db.Close();
    return path;
  };
  // Pasted after "Doc", these would reach the folder holding each database.
  const std::string origen = hostile("origen", "/../../secreto", "Robado");
  const std::string destino = hostile("destino", "/../../victima", "Ajeno");
  Write(dir_.path() / "origen" / "secreto.TXM", "secreto");
  Write(dir_.path() / "destino" / "victima.TXM", "victima");
  Choose(origen, destino);

  const auto report = documents::AnexarDocumentos();

  EXPECT_EQ(Rows(destino), std::vector<std::string>{" Robado OTROS"});
  EXPECT_EQ(testing_support::FileContents(dir_.path() / "destino" / "victima.TXM"), "victima");
  EXPECT_TRUE(fs::is_empty(dir_.path() / "destino" / "DOCS" / "Doc"));
  ASSERT_EQ(report.removed.size(), 1u);
  EXPECT_FALSE(report.removed[0].kind.number.has_value());
  EXPECT_FALSE(report.removed[0].file_deleted);
  ASSERT_EQ(report.copied.size(), 1u);
  EXPECT_FALSE(report.copied[0].file_copied);
}

TEST_F(Attachment, WithoutBothDatabasesNothingHappens) {
  Choose("", dir_.File("no-existe.mdb"));
  EXPECT_EQ(documents::AnexarDocumentos().outcome, documents::Outcome::kNothingChosen);
  Choose(dir_.File("no-existe.mdb"), "");
  EXPECT_EQ(documents::AnexarDocumentos().outcome, documents::Outcome::kNothingChosen);
  EXPECT_TRUE(ui_.messages.empty());
  EXPECT_EQ(ui_.events, 0);
}

}  // namespace

namespace {

// A power cut at every write and sync of an attachment: the destination's
// rows are as before or as after, and every row's template is in its DOCS.
TEST_F(Attachment, APowerCutAnywhereLeavesNoRowWithoutItsFile) {
  const std::string built_origen = Catalogue("o", "Origen.mdb",
                                             {{7, "Escrito", "GENERAL", "escrito"},
                                              {9, "Contrato", "GENERAL", "contrato"}});
  const std::string built_destino = Catalogue("d", "Destino.mdb",
                                              {{1, "Propio", "PROPIOS", "propio"},
                                               {2, "Poder", "OTROS", "poder"}});
  const std::string origen = (dir_.path() / "origen" / "Origen.mdb").string();
  const std::string destino = (dir_.path() / "destino" / "Destino.mdb").string();
  const std::string origin_bytes = testing_support::FileContents(built_origen);
  const std::vector<std::string> before = Rows(built_destino);
  std::vector<std::string> after;
  testing_support::FaultFileSystem faults;
  int points_after = 0;
  testing_support::PowerCutAtEveryPoint(
      faults,
      [&] {
        for (const char* f : {"origen", "destino"}) fs::remove_all(dir_.path() / f);
        fs::copy(dir_.path() / "o", dir_.path() / "origen", fs::copy_options::recursive);
        fs::copy(dir_.path() / "d", dir_.path() / "destino", fs::copy_options::recursive);
        Choose(origen, destino);
      },
      [&] { documents::AnexarDocumentos(); },
      [&](const std::string& point) {
        SCOPED_TRACE(point);
        const std::vector<std::string> rows = Rows(destino);
        if (point == "none") {
          after = rows;
          ASSERT_EQ(after.size(), 3u);
        } else if (rows != before) {
          EXPECT_EQ(rows, after);
          ++points_after;
        }
        for (const std::string& row : rows) {
          const std::string file =
              documents::NombreDocumento(std::stoi(row.substr(0, row.find(' '))));
          EXPECT_TRUE(fs::exists(dir_.path() / "destino" / "DOCS" / file)) << row;
        }
        EXPECT_EQ(testing_support::FileContents(origen), origin_bytes);
      });
  EXPECT_EQ(points_after, 0);
}

}  // namespace
