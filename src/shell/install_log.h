// Entries in the installer's uninstall log, St6unst.log in the program
// folder, so that removing the application also removes what this program
// created. Without a log nothing is recorded.
#pragma once

#include <string>

namespace maquetor::shell {

// The kinds of entry.
inline constexpr int kLogCreatedFolder = 0;
inline constexpr int kLogCreatedFile = 1;
inline constexpr int kLogSettingsKey = 2;

// The log's file name in the program folder.
inline constexpr const char* kInstallLogName = "St6unst.log";

// Appends CR LF and the entry of kind `tipo` for `ruta` to the log in
// ProgramState::RutaApp, when that log exists. An empty `ruta` records the
// settings key whatever the kind; an unknown kind records `ruta` as it is.
// On return `ruta` holds the entry written, in UTF-8 (and `tipo` the kind
// used); on Windows the file receives it in the ANSI code page, which the
// uninstaller reads. Lines end in CR LF.
// Throws std::system_error when the log exists but cannot be written.
void RegistrarEnLog(int& tipo, std::string& ruta);

// The text of one entry, without the leading line break.
std::string LogEntry(int tipo, const std::string& ruta);

}  // namespace maquetor::shell
