// Start-up: the load step of the main window. It works out the program
// folder, seeds the application's settings, reads the installer's switches
// and chooses the run: end at once, setup mode, unattended creation of a
// database, or the interactive window.
#pragma once

#include <string>
#include <vector>

namespace maquetor::shell {

class SettingsStore;

// Where the "/BD:" value ends. On Windows it runs to the next "/"; elsewhere
// paths are made of "/", so it runs to the first blank followed by "/", or
// to the end of the text.
enum class PathRule { kWindows, kPosix };

#ifdef _WIN32
inline constexpr PathRule kPlatformPathRule = PathRule::kWindows;
#else
inline constexpr PathRule kPlatformPathRule = PathRule::kPosix;
#endif

// The switches of a command-line text. Each is found by a case-sensitive
// substring search, first occurrence.
struct Switches {
  bool Setup = false;        // "/Setup"
  bool Mostrar = false;      // "/M", also inside longer text
  std::string Tipo;          // "/Tipo:": "Abog" or "Proc"; empty without it
  std::string BDatosCrear;   // "/BD:" value, trimmed; empty without it
};

Switches ParseSwitches(const std::string& text, PathRule rule = kPlatformPathRule);

// True when the text holds at least one of the four switches.
bool HasAnySwitch(const std::string& text);

// The switch text of the run: on Windows what the process's command line
// holds after the program name, elsewhere the arguments after the program
// name (`args`) joined by single blanks.
std::string CommandLineText(const std::vector<std::string>& args);

// What a whole command line holds after the program name, quoted or not,
// and the blanks (spaces, tabs) that follow it.
std::string CommandTail(const std::string& command_line);

// The folder of the executable at `executable_path`, without a trailing
// separator except at a root: "C:\Corvanta\Maquetor.exe" gives
// "C:\Corvanta", "C:\Maquetor.exe" gives "C:\".
std::string ApplicationPath(const std::string& executable_path);

// RutaApp from the platform's application path: one trailing separator
// dropped, so a drive root "C:\" gives "C:".
std::string ProgramFolder(const std::string& application_path);

// The application path of the running executable.
std::string ExecutableFolder();

// The run the switches choose.
enum class Run { kEndAtOnce, kSetup, kUnattendedCreation, kInteractive };
Run ChooseRun(const Switches& switches);

// What the load needs from the main window (forms::MaquetorAbog, shown by a
// view or, in runs without "/M", by none).
class MainWindowHost {
 public:
  virtual ~MainWindowHost() = default;
  // Shows or hides the window and repaints it.
  virtual void SetVisible(bool visible) = 0;
  // Unattended creation: hides Label1 and Label3, shows Label2 and Label4
  // with the path in Label4, repaints.
  virtual void ShowCreationLabels(const std::string& path) = 0;
  // The buttons and the option the load presses.
  virtual void PressCmdControl() = 0;
  virtual void PressREPORT() = 0;
  virtual void SelectCrear() = 0;
};

// Settings seed: when AppPrincipal/Activo is neither "True" nor "False",
// writes the nine first values. Returns true when it wrote them.
bool SeedSettings(SettingsStore& settings, const std::string& RutaApp);

// Setup mode: ensures the BASES folder (logging its creation), sets
// RutaBases, and presses CmdControl and REPORT for the databases missing.
void RunSetupMode(MainWindowHost& window);

// The whole load after the program folder is known: seed, switches, run.
// Sets ProgramState's RutaApp, BDatosTrabajo and RutaBases as the run
// needs. Returns the run chosen; only kInteractive leaves the window open.
Run Load(MainWindowHost& window, SettingsStore& settings, const std::string& RutaApp,
         const Switches& switches);

}  // namespace maquetor::shell
