// The existence test and case-blind paths, and the uninstall log's entries.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>

#include "db/program_state.h"
#include "shell/install_log.h"
#include "shell/paths.h"
#include "support/fixtures.h"

namespace {

namespace fs = std::filesystem;
namespace ts = testing_support;
using namespace maquetor::shell;

// The uninstaller reads the log in the ANSI code page on Windows.
#ifdef _WIN32
const std::string kVersion = "versi\xF3n";
#else
const std::string kVersion = "versi\xC3\xB3n";
#endif

TEST(PathsTest, ExistenceIgnoresCaseAndTellsFilesFromFolders) {
  ts::TempDir dir;
  const std::string root = dir.path().string();
  fs::create_directory(dir.path() / "Bases");
  std::ofstream(dir.path() / "Bases" / "Setup.MDB");

  EXPECT_TRUE(ExistsAsListed(JoinPath(root, "BASES"), Listing::kWithDirectories));
  EXPECT_FALSE(ExistsAsListed(JoinPath(root, "BASES"), Listing::kFilesOnly));
  EXPECT_TRUE(ExistsAsListed(JoinPath(JoinPath(root, "BASES"), "SETUP.Mdb")));
  EXPECT_FALSE(ExistsAsListed(JoinPath(JoinPath(root, "BASES"), "DBRPT.Mdb")));
  EXPECT_FALSE(ExistsAsListed(JoinPath(root, "")));
#ifdef _WIN32
  // The file system itself ignores case: the path stays as written.
  EXPECT_EQ(ResolveCase(JoinPath(JoinPath(root, "BASES"), "setup.mdb")),
            JoinPath(JoinPath(root, "BASES"), "setup.mdb"));
#else
  EXPECT_EQ(ResolveCase(JoinPath(JoinPath(root, "BASES"), "setup.mdb")),
            (dir.path() / "Bases" / "Setup.MDB").string());
#endif
  // Past the first missing component the path stays as written.
  EXPECT_EQ(ResolveCase(JoinPath(JoinPath(root, "Nueva"), "BASES")),
            JoinPath(JoinPath(root, "Nueva"), "BASES"));
  EXPECT_EQ(UpperCase("Pe\xC3\xB1" "a.mdb"), "PE\xC3\x91" "A.MDB");
  EXPECT_EQ(LastComponent(JoinPath("a", "b.mdb")), "b.mdb");
  EXPECT_EQ(ParentOf(JoinPath("a", "b.mdb")), "a");
}

TEST(InstallLogTest, EntriesAreWrittenOnlyWhenTheLogExists) {
  ts::TempDir dir;
  maquetor::db::ProgramState::Instance().RutaApp = dir.path().string();
  int tipo = kLogCreatedFolder;
  std::string ruta = "/x/Bases";
  RegistrarEnLog(tipo, ruta);
  EXPECT_FALSE(fs::exists(dir.path() / kInstallLogName));
  EXPECT_EQ(ruta, "/x/Bases");

  std::ofstream(dir.path() / kInstallLogName, std::ios::binary) << "cabecera\r\n";
  RegistrarEnLog(tipo, ruta);
  EXPECT_EQ(ruta, "ACTION: CreateDir: \"/x/Bases\"");
  tipo = kLogCreatedFile;
  ruta = "/x/BASES/Setup.Mdb";
  RegistrarEnLog(tipo, ruta);
  tipo = kLogCreatedFolder;
  ruta.clear();
  RegistrarEnLog(tipo, ruta);  // an empty path records the settings key
  EXPECT_EQ(tipo, kLogSettingsKey);
  tipo = 7;
  ruta = "texto libre";
  RegistrarEnLog(tipo, ruta);
  EXPECT_EQ(ts::FileContents(dir.path() / kInstallLogName),
            "cabecera\r\n"
            "\r\nACTION: CreateDir: \"/x/Bases\""
            "\r\nACTION: PrivateFile: \"/x/BASES/Setup.Mdb\"\r\n"
            "(No se puede encontrar el archivo o es de una " + kVersion + " antigua; se ha copiado "
            "el archivo nuevo)"
            "\r\nACTION: RegKey: \"HKEY_CURRENT_USER\\SOFTWARE\\VB and VBA Program Settings\", "
            "\"Corvanta\""
            "\r\ntexto libre");
}

TEST(InstallLogTest, AnUnwritableLogIsAnError) {
  ts::TempDir dir;
  maquetor::db::ProgramState::Instance().RutaApp = dir.path().string();
  fs::create_directory(dir.path() / kInstallLogName);  // listed, but not a file
  int tipo = kLogCreatedFolder;
  std::string ruta = "/x";
  // A folder of that name is not the log: nothing is written into it.
  RegistrarEnLog(tipo, ruta);
  EXPECT_TRUE(fs::is_directory(dir.path() / kInstallLogName));
  EXPECT_TRUE(fs::is_empty(dir.path() / kInstallLogName));
  fs::remove(dir.path() / kInstallLogName);
  std::ofstream(dir.path() / kInstallLogName);
  fs::permissions(dir.path() / kInstallLogName, fs::perms::owner_read);
  if (std::ofstream(dir.path() / kInstallLogName, std::ios::app)) {
    GTEST_SKIP() << "running with rights that ignore file permissions";
  }
  EXPECT_THROW(RegistrarEnLog(tipo, ruta), std::system_error);
}

}  // namespace
