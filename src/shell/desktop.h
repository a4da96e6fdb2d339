// The run with the desktop window ("/M"). Each toolkit's view implements it
// (src/shell/qt on Linux): it makes the main window over a
// forms::MaquetorAbog, installs its Ui, runs the load on the form and, when
// the load leaves the window open, its event loop until the window closes.
#pragma once

#include <string>

#include "shell/startup.h"

namespace maquetor::shell {

// Returns the program's exit status: that of an operation that ended the
// program, else 0. An engine error in the load shows a critical box and is
// then rethrown, so the caller reports it as an unattended run would.
int RunWithWindow(int& argc, char** argv, SettingsStore& settings, const std::string& RutaApp,
                  const Switches& switches);

}  // namespace maquetor::shell
