// The run with the desktop window ("/M"): creates the Qt application and the
// main window, runs the load on it and, when the load leaves the window open,
// the event loop until the window closes.
#pragma once

#include <string>

#include "shell/startup.h"

namespace maquetor::shell {

// Returns the program's exit status. An engine error in the load shows a
// critical box and is then rethrown, so the caller reports it as an
// unattended run would.
int RunWithWindow(int& argc, char** argv, SettingsStore& settings, const std::string& RutaApp,
                  const Switches& switches);

}  // namespace maquetor::shell
