// Where the INI settings store of an application lives outside Windows:
// $XDG_CONFIG_HOME/<application>/<application>.ini, ~/.config when the
// variable is unset. Kept apart from the store itself (ini_settings.cpp),
// which needs Qt, so that the program finds the path without loading Qt.
#pragma once

#include <string>

namespace maquetor::shell {

// The INI file of `application`, as a UTF-8 path.
std::string SettingsFilePath(const std::string& application);

}  // namespace maquetor::shell
