#include "switch_run.h"

#include <exception>
#include <iostream>
#include <string>
#include <vector>

#include "commands.h"
#include "jet/error.h"
#include "shell/forms/maquetor_abog.h"
#include "shell/settings.h"
#include "shell/startup.h"
#include "shell/ui.h"

#ifdef MAQUETOR_WITH_WINDOW
#include "shell/desktop.h"
#endif

namespace maquetor {

int RunSwitches(int argc, char** argv) {
  const std::vector<std::string> args(argv + 1, argv + argc);
  const std::string text = shell::CommandLineText(args);
  const shell::Switches switches = shell::ParseSwitches(text);
  if (!text.empty() && !shell::HasAnySwitch(text)) {
    std::cerr << "maquetor: '" << text
              << "' is neither a command nor an installer switch. See 'maquetor --help'.\n";
    return kExitNotACommand;
  }
  try {
    const std::string ruta_app = shell::ProgramFolder(shell::ExecutableFolder());
    auto settings = shell::OpenProgramSettings();
    if (switches.Mostrar) {
#ifdef MAQUETOR_WITH_WINDOW
      return shell::RunWithWindow(argc, argv, *settings, ruta_app, switches);
#else
      // An installer's unattended run only shows its progress in the window:
      // it goes on without one. The interactive run has nothing to offer.
      if (shell::ChooseRun(switches) == shell::Run::kInteractive) {
        std::cerr << "maquetor: this build has no desktop window\n";
        return kExitJetError;
      }
#endif
    }
    // The same window, with nothing to draw it.
    shell::forms::MaquetorAbog window;
    shell::Load(window, *settings, ruta_app, switches);
    return kExitOk;
  } catch (const shell::EndOfProgram& end) {
    return end.status;
  } catch (const jet::JetError& e) {
    std::cerr << "Error " << e.number() << ": " << e.what() << '\n';
    return kExitJetError;
  } catch (const std::exception& e) {
    std::cerr << "Error: " << e.what() << '\n';
    return kExitJetError;
  }
}

}  // namespace maquetor
