// The installer's switches run as the installer runs them: a copy of the
// program in a fresh program folder, no display, its own settings store.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "jet/dao.h"
#include "support/fixtures.h"
#include "support/oracles.h"

namespace {

namespace dao = jet::dao;
namespace fs = std::filesystem;
namespace ts = testing_support;

// A program folder holding the program, and a settings folder beside it.
class InstallerRun : public ::testing::Test {
 protected:
  void SetUp() override {
    app_ = dir_.path() / "Corvanta";
    config_ = dir_.path() / "config";
    fs::create_directories(app_);
    std::error_code ec;
    fs::create_hard_link(MAQUETOR_EXE, app_ / "maquetor", ec);
    if (ec) fs::copy_file(MAQUETOR_EXE, app_ / "maquetor");
  }

  ts::ProcessResult Run(const std::vector<std::string>& args, bool installed_copy = true) {
    std::vector<std::string> argv = {"env", "-u", "DISPLAY", "-u", "WAYLAND_DISPLAY",
                                     "XDG_CONFIG_HOME=" + config_.string(),
                                     installed_copy ? (app_ / "maquetor").string() : MAQUETOR_EXE};
    argv.insert(argv.end(), args.begin(), args.end());
    return ts::RunProcess(argv);
  }

  std::string Setting(const std::string& key) {
    const std::string ini = ts::FileContents(config_ / "Corvanta" / "Corvanta.ini");
    const auto at = ini.find("\n" + key + "=");
    if (at == std::string::npos) return "<absent>";
    const auto start = at + key.size() + 2;
    return ini.substr(start, ini.find('\n', start) - start);
  }

  ts::TempDir dir_;
  fs::path app_;
  fs::path config_;
};

long RowCount(const std::string& path, const std::string& table) {
  auto db = dao::DBEngine::Instance().Workspaces(0).OpenDatabase(path, false, true, ";pwd=KTRW_BLM");
  auto rs = db.OpenRecordset(table);
  long n = 0;
  for (; !rs.IsEOF(); rs.MoveNext()) ++n;
  return n;
}

TEST_F(InstallerRun, SetupModeBuildsBothDatabasesOnceAndLogsThemInOrder) {
  std::ofstream(app_ / "St6unst.log") << "log del instalador\r\n";
  auto r = Run({"/Setup"});
  ASSERT_EQ(r.exit_code, 0) << r.err;
  EXPECT_EQ(r.out, "");
  const std::string app = app_.string();
  ASSERT_TRUE(fs::is_regular_file(app_ / "Bases" / "Setup.MDB"));
  ASSERT_TRUE(fs::is_regular_file(app_ / "Bases" / "DBRPT.MDB"));
  EXPECT_EQ(RowCount((app_ / "Bases" / "Setup.MDB").string(), "TSetup"), 1);
  EXPECT_EQ(RowCount((app_ / "Bases" / "DBRPT.MDB").string(), "TList"), 42);
  const std::string tail =
      "\r\n(No se puede encontrar el archivo o es de una versi\xC3\xB3n antigua; se ha copiado el "
      "archivo nuevo)";
  const std::string expected = "log del instalador\r\n"
                               "\r\nACTION: CreateDir: \"" + app + "/Bases\"" +
                               "\r\nACTION: PrivateFile: \"" + app + "/BASES/Setup.Mdb\"" + tail +
                               "\r\nACTION: PrivateFile: \"" + app + "/BASES/DBRPT.MDB\"" + tail;
  EXPECT_EQ(ts::FileContents(app_ / "St6unst.log"), expected);
  EXPECT_EQ(Setting("Ruta"), app);
  EXPECT_EQ(Setting("Activo"), "False");

  // A second run finds everything and writes nothing.
  const auto setup_bytes = ts::FileContents(app_ / "Bases" / "Setup.MDB");
  r = Run({"/Setup", "/Tipo:Abog"});
  ASSERT_EQ(r.exit_code, 0) << r.err;
  EXPECT_EQ(ts::FileContents(app_ / "St6unst.log"), expected);
  EXPECT_EQ(ts::FileContents(app_ / "Bases" / "Setup.MDB"), setup_bytes);
  EXPECT_EQ(fs::directory_iterator(app_ / "Bases") == fs::directory_iterator(), false);
  EXPECT_EQ(std::distance(fs::directory_iterator(app_ / "Bases"), fs::directory_iterator()), 2);
}

TEST_F(InstallerRun, SetupCommandWithoutALogAndWithAFolderInAnotherCase) {
  fs::create_directory(app_ / "bases");  // found as BASES; nothing logged anyway
  auto r = Run({"setup", "--dir", app_.string()}, false);
  ASSERT_EQ(r.exit_code, 0) << r.err;
  EXPECT_FALSE(fs::exists(app_ / "St6unst.log"));
  EXPECT_FALSE(fs::exists(app_ / "Bases"));
  EXPECT_TRUE(fs::is_regular_file(app_ / "bases" / "Setup.MDB"));
  EXPECT_TRUE(fs::is_regular_file(app_ / "bases" / "DBRPT.MDB"));
  EXPECT_NE(r.out.find("Creado: " + (app_ / "bases" / "DBRPT.MDB").string()), std::string::npos)
      << r.out;
  r = Run({"setup", "--dir", app_.string()}, false);
  ASSERT_EQ(r.exit_code, 0) << r.err;
  EXPECT_EQ(r.out, "Nada que crear en " + app_.string() + "\n");
}

TEST_F(InstallerRun, UnattendedCreationReportsFailureByStatus) {
  auto r = Run({"/BD:" + (dir_.path() / "no-such-folder" / "datos.mdb").string()});
  EXPECT_NE(r.exit_code, 0);
  EXPECT_NE(r.err.find("Error 3044"), std::string::npos) << r.err;

  const fs::path db = dir_.path() / "despacho" / "datos.mdb";
  fs::create_directories(db.parent_path());
  r = Run({"/Tipo:Abog", "/BD:" + db.string()});
  ASSERT_EQ(r.exit_code, 0) << r.err;
  EXPECT_EQ(r.out, "");
  EXPECT_EQ(RowCount(db.string(), "TPaises"), 207);
  EXPECT_EQ(RowCount(db.string(), "TConfig"), 1);

  // The file exists now: nothing is done, and that is no failure.
  const auto before = ts::FileContents(db);
  r = Run({"/BD:" + db.string()});
  EXPECT_EQ(r.exit_code, 0) << r.err;
  EXPECT_EQ(ts::FileContents(db), before);
}

TEST_F(InstallerRun, NoSwitchEndsAtOnceAndUnknownTextIsAUsageError) {
  auto r = Run({});
  EXPECT_EQ(r.exit_code, 0) << r.err;
  EXPECT_EQ(r.out + r.err, "");
  EXPECT_EQ(Setting("Guardar"), "True");  // the seed still runs
  r = Run({"/BD:", "/Tipo"});  // an empty path and no "/Tipo:": nothing to do
  EXPECT_EQ(r.exit_code, 0) << r.err;
  r = Run({"frobnicate"});
  EXPECT_EQ(r.exit_code, 2);
  EXPECT_NE(r.err.find("maquetor --help"), std::string::npos);
  r = Run({"--help"});
  EXPECT_EQ(r.exit_code, 0);
  for (const char* word : {"/Setup", "/BD:", "/M", "/Tipo:Abog", "setup", "create", "inspect"}) {
    EXPECT_NE(r.out.find(word), std::string::npos) << word;
  }
}

}  // namespace
