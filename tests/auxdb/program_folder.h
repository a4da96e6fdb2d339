// A program folder for the auxiliary-database buttons: a temporary RutaApp
// holding the BASES folder as setup mode makes it ("Bases" on disk, named
// "BASES" in RutaBases), with or without the installer's log.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "db/program_state.h"
#include "jet/dao.h"
#include "jet/error.h"
#include "shell/paths.h"
#include "support/fixtures.h"

namespace auxdb_test {

class ProgramFolder : public ::testing::Test {
 protected:
  void SetUp() override {
    saved_ = maquetor::db::ProgramState::Instance();
    UseProgramFolder("Corvanta");
  }
  void TearDown() override { maquetor::db::ProgramState::Instance() = saved_; }

  // Makes dir/name/Bases and points RutaApp and RutaBases at it.
  void UseProgramFolder(const std::string& name) {
    app_ = dir_.path() / name;
    std::filesystem::create_directories(app_ / "Bases");
    auto& state = maquetor::db::ProgramState::Instance();
    state.RutaApp = app_.string();
    state.RutaBases = maquetor::shell::JoinPath(state.RutaApp, "BASES");
  }

  // The path as RutaBases spells it, and where the file really is.
  std::string Named(const std::string& name) const {
    return maquetor::shell::JoinPath(maquetor::db::ProgramState::Instance().RutaBases, name);
  }
  std::string OnDisk(const std::string& name) const { return (app_ / "Bases" / name).string(); }

  std::string LogPath() const { return (app_ / "St6unst.log").string(); }
  void WriteLog(const std::string& text) const {
    std::ofstream(LogPath(), std::ios::binary) << text;
  }
  static std::string Contents(const std::string& path) {
    return testing_support::FileContents(path);
  }

  // The second line of a file entry.
#ifdef _WIN32
  static constexpr const char* kVersion = "versi\xF3n";
#else
  static constexpr const char* kVersion = "versi\xC3\xB3n";
#endif
  static std::string FileEntry(const std::string& path) {
    return "\r\nACTION: PrivateFile: \"" + path +
           "\"\r\n(No se puede encontrar el archivo o es de una " + kVersion +
           " antigua; se ha copiado el archivo nuevo)";
  }

  static jet::dao::Database Open(const std::string& path,
                                 const std::string& connect = ";pwd=KTRW_BLM") {
    return jet::dao::DBEngine::Instance().OpenDatabase(path, false, false, connect);
  }

  // True when `text` appears in the file's bytes as one-byte characters or as
  // UTF-16LE, the two ways a Jet 4 page holds text.
  static bool Readable(const std::string& path, const std::string& text) {
    const std::string bytes = Contents(path);
    std::string wide;
    for (char c : text) {
      wide += c;
      wide += '\0';
    }
    return bytes.find(text) != std::string::npos || bytes.find(wide) != std::string::npos;
  }

  testing_support::TempDir dir_;
  std::filesystem::path app_;

 private:
  maquetor::db::ProgramState saved_;
};

// The names in a folder, sorted.
inline std::vector<std::string> Listing(const std::filesystem::path& folder) {
  std::vector<std::string> names;
  for (const auto& entry : std::filesystem::directory_iterator(folder)) {
    names.push_back(entry.path().filename().string());
  }
  std::sort(names.begin(), names.end());
  return names;
}

}  // namespace auxdb_test
