// What the shell asks of the operating system: the process's command line
// and arguments, the running executable's path, console output, and the
// encoding of the installer's log. src/shell/win32/ answers on Windows and
// src/shell/posix/ elsewhere; the rest of the shell calls no system API.
#pragma once

#include <optional>
#include <string>
#include <vector>

namespace maquetor::shell::platform {

// The process's command line as the system holds it, program name included,
// in UTF-8: on Windows GetCommandLineW. Elsewhere there is no such text, only
// the argument vector, and this is empty.
std::optional<std::string> ProcessCommandLine();

// The program's arguments in UTF-8, argv[0] included. On Windows `argv` is
// in the ANSI code page, so they are taken from the wide command line
// instead; elsewhere they are `argv` as given.
std::vector<std::string> Arguments(int argc, char** argv);

// Full path of the running executable, UTF-8.
std::string ExecutablePath();

// The standard streams carry the program's bytes unchanged: UTF-8 text with
// "\n" line ends, and data (a CSV value's own CR LF) as it is. On Windows
// that means binary mode, where text mode would turn every "\n" into CR LF,
// and a console that reads and shows UTF-8; elsewhere nothing is needed.
void SetUpStandardStreams();

// The bytes the installer's uninstaller reads for `utf8`: its text in the
// ANSI code page on Windows (a character the code page lacks becomes "?"),
// UTF-8 unchanged elsewhere.
std::string InstallerLogText(const std::string& utf8);

}  // namespace maquetor::shell::platform
