// The installer's switches run as the installer runs them: a copy of the
// program in a fresh program folder, no display, its own settings store.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "db/file_name.h"
#include "jet/dao.h"
#include "shell/paths.h"
#include "shell/settings.h"
#include "support/fixtures.h"
#include "support/oracles.h"

#ifdef _WIN32
#include <windows.h>
#endif

namespace {

namespace dao = jet::dao;
namespace fs = std::filesystem;
namespace ts = testing_support;
using maquetor::db::FsPath;
using maquetor::db::Utf8Name;
using maquetor::shell::JoinPath;

#ifdef _WIN32
constexpr const char* kProgram = "maquetor.exe";
const std::string kVersion = "versi\xF3n";  // the log is in the ANSI code page
#else
constexpr const char* kProgram = "maquetor";
const std::string kVersion = "versi\xC3\xB3n";
#endif

// A program folder holding the program, its name accented, and a settings
// store of its own: a settings folder beside it on Linux; on Windows the
// user's registry key, emptied first, which only a throwaway Wine prefix
// may have done to it.
class InstallerRun : public ::testing::Test {
 protected:
  void SetUp() override {
#ifdef _WIN32
    if (!std::getenv("WINEPREFIX")) GTEST_SKIP() << "would change this user's real settings";
    RegDeleteTreeW(HKEY_CURRENT_USER, L"Software\\VB and VBA Program Settings\\Corvanta");
#endif
    app_ = dir_.path() / FsPath("Corvanta N\xC3\xBA\xC3\xB1" "ez");
    config_ = dir_.path() / "config";
    fs::create_directories(app_);
    std::error_code ec;
    fs::create_hard_link(MAQUETOR_EXE, app_ / kProgram, ec);
    if (ec) fs::copy_file(MAQUETOR_EXE, app_ / kProgram);
  }

  std::string Program(bool installed_copy = true) const {
    return installed_copy ? Utf8Name(app_ / kProgram) : MAQUETOR_EXE;
  }

  ts::ProcessResult Run(const std::vector<std::string>& args, bool installed_copy = true) {
#ifdef _WIN32
    std::vector<std::string> argv = {Program(installed_copy)};
#else
    std::vector<std::string> argv = {"env", "-u", "DISPLAY", "-u", "WAYLAND_DISPLAY",
                                     "XDG_CONFIG_HOME=" + config_.string(),
                                     Program(installed_copy)};
#endif
    argv.insert(argv.end(), args.begin(), args.end());
    return ts::RunProcess(argv);
  }

  // An AppPrincipal value.
  std::string Setting(const std::string& key) {
#ifdef _WIN32
    return maquetor::shell::OpenProgramSettings()->Read("AppPrincipal", key);
#else
    const std::string ini = ts::FileContents(config_ / "Corvanta" / "Corvanta.ini");
    const auto at = ini.find("\n" + key + "=");
    if (at == std::string::npos) return "<absent>";
    const auto start = at + key.size() + 2;
    return ini.substr(start, ini.find('\n', start) - start);
#endif
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
  std::ofstream(app_ / "St6unst.log", std::ios::binary) << "log del instalador\r\n";
  auto r = Run({"/Setup"});
  ASSERT_EQ(r.exit_code, 0) << r.err;
  EXPECT_EQ(r.out, "");
  const std::string app = Utf8Name(app_);
  ASSERT_TRUE(fs::is_regular_file(app_ / "Bases" / "Setup.MDB"));
  ASSERT_TRUE(fs::is_regular_file(app_ / "Bases" / "DBRPT.MDB"));
  EXPECT_EQ(RowCount(Utf8Name(app_ / "Bases" / "Setup.MDB"), "TSetup"), 1);
  EXPECT_EQ(RowCount(Utf8Name(app_ / "Bases" / "DBRPT.MDB"), "TList"), 42);
  const std::string tail = "\r\n(No se puede encontrar el archivo o es de una " + kVersion +
                           " antigua; se ha copiado el archivo nuevo)";
  // The log holds the program folder in its own encoding.
  std::string logged = Utf8Name(app_.parent_path());
#ifdef _WIN32
  logged += "\\Corvanta N\xFA\xF1" "ez";
#else
  logged += "/Corvanta N\xC3\xBA\xC3\xB1" "ez";
#endif
  const std::string bases = JoinPath(logged, "BASES");
  const std::string expected = "log del instalador\r\n"
                               "\r\nACTION: CreateDir: \"" + JoinPath(logged, "Bases") + "\"" +
                               "\r\nACTION: PrivateFile: \"" + JoinPath(bases, "Setup.Mdb") + "\"" + tail +
                               "\r\nACTION: PrivateFile: \"" + JoinPath(bases, "DBRPT.MDB") + "\"" + tail;
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
  auto r = Run({"setup", "--dir", Utf8Name(app_)}, false);
  ASSERT_EQ(r.exit_code, 0) << r.err;
  EXPECT_FALSE(fs::exists(app_ / "St6unst.log"));
  std::vector<std::string> names;
  for (const auto& entry : fs::directory_iterator(app_)) {
    names.push_back(Utf8Name(entry.path().filename()));
  }
  std::sort(names.begin(), names.end());
  EXPECT_EQ(names, (std::vector<std::string>{"bases", kProgram}));
  EXPECT_TRUE(fs::is_regular_file(app_ / "bases" / "Setup.MDB"));
  EXPECT_TRUE(fs::is_regular_file(app_ / "bases" / "DBRPT.MDB"));
#ifdef _WIN32
  // The file system finds the folder itself; the name is shown as asked for.
  const std::string created = JoinPath(JoinPath(Utf8Name(app_), "BASES"), "DBRPT.Mdb");
#else
  const std::string created = Utf8Name(app_ / "bases" / "DBRPT.MDB");
#endif
  EXPECT_NE(r.out.find("Creado: " + created), std::string::npos) << r.out;
  r = Run({"setup", "--dir", Utf8Name(app_)}, false);
  ASSERT_EQ(r.exit_code, 0) << r.err;
  EXPECT_EQ(r.out, "Nada que crear en " + Utf8Name(app_) + "\n");
}

TEST_F(InstallerRun, UnattendedCreationReportsFailureByStatus) {
  auto r = Run({"/BD:" + (dir_.path() / "no-such-folder" / "datos.mdb").string()});
  EXPECT_EQ(r.exit_code, 1);
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

// The whole database from the installer's line, in a folder whose name has
// accents and blanks; its Docs folder goes beside it.
TEST_F(InstallerRun, TheInstallersLineBuildsTheDatabaseInAFolderWithAccentsAndBlanks) {
  const fs::path folder = dir_.path() / FsPath("Despachos") / FsPath("Pe\xC3\xB1" "a y N\xC3\xBA\xC3\xB1" "ez");
  fs::create_directories(folder);
  const std::string db = JoinPath(Utf8Name(folder), "Despacho.mdb");
#ifdef _WIN32
  // The path unquoted, as the installer writes it.
  auto r = ts::RunCommandLine(Program(), "Maquetor.exe /BD:" + db + " /Tipo:Abog");
#else
  auto r = Run({"/BD:" + db, "/Tipo:Abog"});
#endif
  ASSERT_EQ(r.exit_code, 0) << r.err;
  EXPECT_TRUE(fs::is_regular_file(FsPath(db)));
  EXPECT_TRUE(fs::is_directory(folder / "Docs"));
  EXPECT_EQ(RowCount(db, "TPaises"), 207);
  auto base = dao::DBEngine::Instance().Workspaces(0).OpenDatabase(db, false, true, ";pwd=KTRW_BLM");
  auto config = base.OpenRecordset("TConfig");
  EXPECT_EQ(config.GetValue("FConfig03").ToString(), JoinPath(Utf8Name(folder), "Docs"));
  config.Close();
  base.Close();

  // A command word's path comes through the arguments; the second database
  // there gets the next document folder.
  const std::string otra = JoinPath(Utf8Name(folder), "Otra base.mdb");
  r = Run({"create", otra});
  ASSERT_EQ(r.exit_code, 0) << r.err;
  EXPECT_EQ(RowCount(otra, "TConfig"), 1);
  EXPECT_TRUE(fs::is_directory(folder / "Docs_1"));
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
