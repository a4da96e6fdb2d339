#include "shell/startup.h"

#include <filesystem>
#include <system_error>

#include "db/file_name.h"
#include "db/program_state.h"
#include "shell/install_log.h"
#include "shell/paths.h"
#include "shell/platform.h"
#include "shell/settings.h"

namespace maquetor::shell {
namespace {

std::string TrimBlanks(const std::string& text) {
  const auto first = text.find_first_not_of(' ');
  if (first == std::string::npos) return {};
  const auto last = text.find_last_not_of(' ');
  return text.substr(first, last - first + 1);
}

bool Contains(const std::string& text, const char* what) {
  return text.find(what) != std::string::npos;
}

// Where the "/BD:" value that starts at `start` ends (one past its last
// character). With no end marker at all it runs to the end of the text.
size_t PathEnd(const std::string& text, size_t start, PathRule rule) {
  if (rule == PathRule::kWindows) {
    const auto slash = text.find('/', start);
    return slash == std::string::npos ? text.size() : slash;
  }
  for (size_t i = start; i + 1 < text.size(); ++i) {
    if (text[i] == ' ' && text[i + 1] == '/') return i;
  }
  return text.size();
}

}  // namespace

Switches ParseSwitches(const std::string& text, PathRule rule) {
  Switches s;
  s.Setup = Contains(text, "/Setup");
  s.Mostrar = Contains(text, "/M");
  if (Contains(text, "/Tipo:")) s.Tipo = Contains(text, "/Tipo:Abog") ? "Abog" : "Proc";
  const auto bd = text.find("/BD:");
  if (bd != std::string::npos) {
    const size_t start = bd + 4;
    s.BDatosCrear = TrimBlanks(text.substr(start, PathEnd(text, start, rule) - start));
  }
  return s;
}

bool HasAnySwitch(const std::string& text) {
  for (const char* s : {"/Setup", "/M", "/Tipo:", "/BD:"}) {
    if (Contains(text, s)) return true;
  }
  return false;
}

std::string CommandLineText(const std::vector<std::string>& args) {
  if (auto line = platform::ProcessCommandLine()) return CommandTail(*line);
  std::string text;
  for (size_t i = 0; i < args.size(); ++i) {
    if (i) text += ' ';
    text += args[i];
  }
  return text;
}

std::string CommandTail(const std::string& command_line) {
  const auto blank = [](char c) { return c == ' ' || c == '\t'; };
  size_t at = 0;
  if (!command_line.empty() && command_line[0] == '"') {
    at = command_line.find('"', 1);
    at = at == std::string::npos ? command_line.size() : at + 1;
  } else {
    while (at < command_line.size() && !blank(command_line[at])) ++at;
  }
  while (at < command_line.size() && blank(command_line[at])) ++at;
  return command_line.substr(at);
}

std::string ApplicationPath(const std::string& executable_path) {
  const auto at = executable_path.find_last_of(kSeparator);
  if (at == std::string::npos) return {};
  // A root keeps its separator: "/" alone, or a drive "C:\".
  const bool root = at == 0 || executable_path[at - 1] == ':';
  return executable_path.substr(0, root ? at + 1 : at);
}

std::string ProgramFolder(const std::string& application_path) {
  std::string folder = application_path;
  if (!folder.empty() && folder.back() == kSeparator) folder.pop_back();
  return folder;
}

std::string ExecutableFolder() {
  const std::string folder = ApplicationPath(platform::ExecutablePath());
  return folder.empty() ? db::Utf8Name(std::filesystem::current_path()) : folder;
}

Run ChooseRun(const Switches& switches) {
  if (switches.Setup) return Run::kSetup;
  if (!switches.BDatosCrear.empty()) return Run::kUnattendedCreation;
  if (switches.Mostrar) return Run::kInteractive;
  return Run::kEndAtOnce;
}

bool SeedSettings(SettingsStore& settings, const std::string& RutaApp) {
  const std::string activo = settings.Read("AppPrincipal", "Activo");
  if (activo == "True" || activo == "False") return false;
  settings.Write("AppPrincipal", "Activo", "False");
  settings.Write("AppPrincipal", "Asunto", "");
  settings.Write("AppPrincipal", "Asuntos", "False");
  settings.Write("AppPrincipal", "Guardar", "True");
  settings.Write("AppPrincipal", "Maximizar", "False");
  settings.Write("AppPrincipal", "Ruta", RutaApp);
  settings.Write("Avisos", "Activo", "False");
  settings.Write("Avisos", "Mostrar", "False");
  settings.Write("Avisos", "Tiempo", "");
  return true;
}

void RunSetupMode(MainWindowHost& window) {
  auto& state = db::ProgramState::Instance();
  const std::string bases = JoinPath(state.RutaApp, "BASES");
  if (!ExistsAsListed(bases, Listing::kWithDirectories)) {
    std::string created = JoinPath(state.RutaApp, "Bases");
    std::filesystem::create_directory(db::FsPath(ResolveCase(created)));  // throws on failure
    int tipo = kLogCreatedFolder;
    RegistrarEnLog(tipo, created);
  }
  state.RutaBases = bases;
  if (!ExistsAsListed(JoinPath(state.RutaBases, "SETUP.Mdb"))) window.PressCmdControl();
  if (!ExistsAsListed(JoinPath(state.RutaBases, "DBRPT.Mdb"))) window.PressREPORT();
}

Run Load(MainWindowHost& window, SettingsStore& settings, const std::string& RutaApp,
         const Switches& switches) {
  auto& state = db::ProgramState::Instance();
  state.RutaApp = RutaApp;
  state.RutaBases.clear();
  SeedSettings(settings, RutaApp);
  if (!switches.BDatosCrear.empty()) state.BDatosTrabajo = switches.BDatosCrear;

  const Run run = ChooseRun(switches);
  if (run == Run::kEndAtOnce) return run;
  window.SetVisible(switches.Mostrar);
  if (run == Run::kSetup) {
    RunSetupMode(window);
  } else if (run == Run::kUnattendedCreation) {
    window.ShowCreationLabels(state.BDatosTrabajo);
    window.SelectCrear();
  }
  return run;
}

}  // namespace maquetor::shell
