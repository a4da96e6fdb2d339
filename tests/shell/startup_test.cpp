// Start-up: the switch text, the run it chooses, the program folder, the
// settings seed and setup mode driven through a recording window.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <map>
#include <string>
#include <utility>
#include <vector>

#include "db/program_state.h"
#include "shell/install_log.h"
#include "shell/paths.h"
#include "shell/settings.h"
#include "shell/startup.h"
#include "support/fixtures.h"

namespace {

namespace fs = std::filesystem;
namespace ts = testing_support;
using namespace maquetor::shell;
using maquetor::db::ProgramState;

struct Case {
  const char* text;
  bool setup;
  bool mostrar;
  const char* tipo;
  const char* windows_bd;
  const char* posix_bd;
};

TEST(SwitchesTest, FoundAsCaseSensitiveSubstringsUnderBothPathRules) {
  const Case cases[] = {
      {"", false, false, "", "", ""},
      {"/Setup", true, false, "", "", ""},
      {"/setup /m", false, false, "", "", ""},
      // "/M" inside a path or a longer switch still counts.
      {"/BD:C:\\Datos\\Abogados.mdb /M", false, true, "", "C:\\Datos\\Abogados.mdb",
       "C:\\Datos\\Abogados.mdb"},
      {"/BD: /M", false, true, "", "", ""},
      {"/Tipo:Abog", false, false, "Abog", "", ""},
      {"/Tipo:", false, false, "Proc", "", ""},
      {"/Tipo:Proc /tipo:Abog", false, false, "Proc", "", ""},
      {"/tipo:Abog", false, false, "", "", ""},
      {"/Tipo:ABOG /M", false, true, "Proc", "", ""},
      // POSIX paths hold "/": the value runs to a blank followed by "/".
      {"/BD:/srv/datos/x.mdb /M", false, true, "", "", "/srv/datos/x.mdb"},
      {"/M /BD:/srv/a b.mdb  ", false, true, "", "", "/srv/a b.mdb"},
      {"/BD:  /srv/x.mdb", false, false, "", "", ""},
      {"/BD:/srv/MIS/x.mdb", false, true, "", "", "/srv/MIS/x.mdb"},
      // With no "/" after it the value runs to the end of the text.
      {"/Setup /BD:D:\\x.mdb ", true, false, "", "D:\\x.mdb", "D:\\x.mdb"},
      // First occurrence wins.
      {"/BD:a.mdb /BD:b.mdb", false, false, "", "a.mdb", "a.mdb"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.text);
    const Switches w = ParseSwitches(c.text, PathRule::kWindows);
    EXPECT_EQ(w.Setup, c.setup);
    EXPECT_EQ(w.Mostrar, c.mostrar);
    EXPECT_EQ(w.Tipo, c.tipo);
    EXPECT_EQ(w.BDatosCrear, c.windows_bd);
    EXPECT_EQ(ParseSwitches(c.text, PathRule::kPosix).BDatosCrear, c.posix_bd);
  }
}

TEST(SwitchesTest, ChooseTheRunAndTheProgramFolder) {
  auto run = [](const char* text) { return ChooseRun(ParseSwitches(text, PathRule::kPosix)); };
  EXPECT_EQ(run(""), Run::kEndAtOnce);
  EXPECT_EQ(run("/BD: "), Run::kEndAtOnce);
  EXPECT_EQ(run("/BD: /M"), Run::kInteractive);
  EXPECT_EQ(run("/M"), Run::kInteractive);
  EXPECT_EQ(run("/BD:/x.mdb"), Run::kUnattendedCreation);
  EXPECT_EQ(run("/Setup /BD:/x.mdb"), Run::kSetup);

  // The executable's path as the system gives it, written with "\\" here,
  // and the application path and RutaApp made from it.
  const struct {
    const char* executable;
    const char* application_path;
    const char* ruta_app;
  } folders[] = {
      {"C:\\Maquetor.exe", "C:\\", "C:"},
      {"C:\\Archivos de programa\\Corvanta\\Maquetor.exe", "C:\\Archivos de programa\\Corvanta",
       "C:\\Archivos de programa\\Corvanta"},
      {"\\\\servidor\\Corvanta\\Maquetor.exe", "\\\\servidor\\Corvanta", "\\\\servidor\\Corvanta"},
      {"\\maquetor", "\\", ""},
  };
  const auto native = [](std::string path) {
    for (char& c : path) {
      if (c == '\\') c = kSeparator;
    }
    return path;
  };
  for (const auto& f : folders) {
    SCOPED_TRACE(f.executable);
    const std::string app = ApplicationPath(native(f.executable));
    EXPECT_EQ(app, native(f.application_path));
    EXPECT_EQ(ProgramFolder(app), native(f.ruta_app));
  }
#ifndef _WIN32
  // Windows reads its own command line instead.
  EXPECT_EQ(CommandLineText({"/BD:/a", "/M"}), "/BD:/a /M");
#endif
  EXPECT_TRUE(HasAnySwitch("x /Tipo:"));
  EXPECT_FALSE(HasAnySwitch("--frobnicate /m"));
}

TEST(SwitchesTest, TheSwitchTextIsWhatFollowsTheProgramNameOnTheCommandLine) {
  const struct {
    const char* line;
    const char* text;
  } cases[] = {
      // As an installer writes it: the program quoted, the path not.
      {"\"C:\\Archivos de programa\\Corvanta\\Maquetor.exe\" /BD:C:\\Despachos\\Pe\xC3\xB1" "a y "
       "N\xC3\xBA\xC3\xB1" "ez\\Despacho.mdb /M",
       "/BD:C:\\Despachos\\Pe\xC3\xB1" "a y N\xC3\xBA\xC3\xB1" "ez\\Despacho.mdb /M"},
      {"C:\\Corvanta\\Maquetor.exe \t  /Setup  ", "/Setup  "},
      {"\"C:\\Corvanta\\Maquetor.exe\"/Setup", "/Setup"},
      {"C:\\Corvanta\\Maquetor.exe", ""},
      {"Maquetor.exe \"/BD:C:\\a b\\x.mdb\"", "\"/BD:C:\\a b\\x.mdb\""},
      {"\"C:\\sin cierre /Setup", ""},
      {"", ""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.line);
    EXPECT_EQ(CommandTail(c.line), c.text);
  }
  const Switches s = ParseSwitches(CommandTail(cases[0].line), PathRule::kWindows);
  EXPECT_EQ(s.BDatosCrear, "C:\\Despachos\\Pe\xC3\xB1" "a y N\xC3\xBA\xC3\xB1" "ez\\Despacho.mdb");
  EXPECT_TRUE(s.Mostrar);
}

// A settings store in memory that remembers the order of writes.
class MemorySettings final : public SettingsStore {
 public:
  std::map<std::string, std::string> values;
  std::vector<std::pair<std::string, std::string>> writes;
  std::string Read(const std::string& section, const std::string& key) override {
    auto it = values.find(section + "/" + key);
    return it == values.end() ? "" : it->second;
  }
  void Write(const std::string& section, const std::string& key,
             const std::string& value) override {
    values[section + "/" + key] = value;
    writes.emplace_back(section + "/" + key, value);
  }
};

TEST(SettingsSeedTest, WrittenOnceUnlessActivoIsExactlyTrueOrFalse) {
  MemorySettings settings;
  EXPECT_TRUE(SeedSettings(settings, "/opt/corvanta"));
  const std::vector<std::pair<std::string, std::string>> expected = {
      {"AppPrincipal/Activo", "False"}, {"AppPrincipal/Asunto", ""},
      {"AppPrincipal/Asuntos", "False"}, {"AppPrincipal/Guardar", "True"},
      {"AppPrincipal/Maximizar", "False"}, {"AppPrincipal/Ruta", "/opt/corvanta"},
      {"Avisos/Activo", "False"}, {"Avisos/Mostrar", "False"}, {"Avisos/Tiempo", ""}};
  EXPECT_EQ(settings.writes, expected);

  settings.writes.clear();
  settings.values["AppPrincipal/Activo"] = "True";
  EXPECT_FALSE(SeedSettings(settings, "/elsewhere"));
  EXPECT_TRUE(settings.writes.empty());

  settings.values["AppPrincipal/Activo"] = "true";  // neither, by case
  EXPECT_TRUE(SeedSettings(settings, "/elsewhere"));
  EXPECT_EQ(settings.values["AppPrincipal/Ruta"], "/elsewhere");
}

// Records what the load asked of the window; its buttons only leave a file.
class RecordingWindow final : public MainWindowHost {
 public:
  std::vector<std::string> calls;
  void SetVisible(bool v) override { calls.push_back(v ? "visible" : "hidden"); }
  void ShowCreationLabels(const std::string& p) override { calls.push_back("labels " + p); }
  void PressCmdControl() override { Press("CmdControl", "Setup.MDB"); }
  void PressREPORT() override { Press("REPORT", "DBRPT.MDB"); }
  void SelectCrear() override { calls.push_back("Crear " + ProgramState::Instance().BDatosTrabajo); }

 private:
  void Press(const std::string& name, const std::string& file) {
    calls.push_back(name);
    std::ofstream(ResolveCase(JoinPath(ProgramState::Instance().RutaBases, file)));
  }
};

TEST(LoadTest, SetupModeCreatesTheFolderOnceAndPressesOnlyForMissingFiles) {
  ts::TempDir dir;
  const std::string app = dir.path().string();
  std::ofstream(dir.path() / "ST6UNST.LOG") << "previo";  // found whatever its case
  MemorySettings settings;
  RecordingWindow window;
  Switches s = ParseSwitches("/Setup /BD:/x.mdb", PathRule::kPosix);
  EXPECT_EQ(Load(window, settings, app, s), Run::kSetup);
  EXPECT_EQ(window.calls, (std::vector<std::string>{"hidden", "CmdControl", "REPORT"}));
  EXPECT_TRUE(fs::is_directory(dir.path() / "Bases"));
  EXPECT_EQ(ProgramState::Instance().RutaBases, JoinPath(app, "BASES"));
  EXPECT_EQ(ts::FileContents(dir.path() / "ST6UNST.LOG"),
            "previo\r\nACTION: CreateDir: \"" + JoinPath(app, "Bases") + "\"");

  // Everything present: only the folder check, no entry.
  window.calls.clear();
  EXPECT_EQ(Load(window, settings, app, s), Run::kSetup);
  EXPECT_EQ(window.calls, (std::vector<std::string>{"hidden"}));
  EXPECT_EQ(ts::FileContents(dir.path() / "ST6UNST.LOG"),
            "previo\r\nACTION: CreateDir: \"" + JoinPath(app, "Bases") + "\"");
}

TEST(LoadTest, UnattendedCreationAndTheOtherRuns) {
  ts::TempDir dir;
  MemorySettings settings;
  auto load = [&](const char* text) {
    ProgramState::Instance().BDatosTrabajo.clear();
    RecordingWindow window;
    Load(window, settings, dir.path().string(), ParseSwitches(text, PathRule::kPosix));
    return window.calls;
  };
  EXPECT_EQ(load("/BD:/srv/x.mdb /M"),
            (std::vector<std::string>{"visible", "labels /srv/x.mdb", "Crear /srv/x.mdb"}));
  EXPECT_EQ(ProgramState::Instance().RutaBases, "");
  EXPECT_EQ(load("/BD:/srv/x.mdb"),
            (std::vector<std::string>{"hidden", "labels /srv/x.mdb", "Crear /srv/x.mdb"}));
  EXPECT_EQ(load("/M"), (std::vector<std::string>{"visible"}));
  EXPECT_EQ(load("nada"), (std::vector<std::string>{}));
  EXPECT_FALSE(fs::exists(dir.path() / "Bases"));
  EXPECT_EQ(settings.values["AppPrincipal/Ruta"], dir.path().string());
}

}  // namespace
