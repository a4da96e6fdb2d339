// The window's library outside Windows (maquetor-window.so): the Qt view,
// the desktop run ("/M") and the INI settings store, everything of the
// program that needs Qt. The executable links none of Qt and loads this
// library only for a run that shows the window or reads the settings, so
// that its command words start without resolving Qt's libraries.
//
// The library holds no engine, forms or shell code of its own: it uses the
// executable's (which exports its symbols), so that a process has one
// engine, one pager per file and one list of deferred errors whichever side
// opened a database. It binds calls to its own functions within itself, so
// the executable's stand-ins of the same names (window_loader.cpp) never
// take them over.
#pragma once

#include <memory>
#include <string>

#include "shell/settings.h"
#include "shell/startup.h"

namespace maquetor::shell {

// What the library hands the executable. Both sides are built together;
// `size` guards against a library left over from another build.
struct WindowModule {
  size_t size = sizeof(WindowModule);
  std::unique_ptr<SettingsStore> (*open_settings)(const std::string& application) = nullptr;
  int (*run_with_window)(int& argc, char** argv, SettingsStore& settings,
                         const std::string& RutaApp, const Switches& switches) = nullptr;
};

inline constexpr const char* kWindowModuleFile = "maquetor-window.so";
inline constexpr const char* kWindowModuleEntry = "maquetor_window_module";

}  // namespace maquetor::shell

// The library's one entry point, looked up by name (kWindowModuleEntry).
extern "C" const maquetor::shell::WindowModule* maquetor_window_module();
