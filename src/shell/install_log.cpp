#include "shell/install_log.h"

#include <cerrno>
#include <fstream>
#include <system_error>

#include "db/program_state.h"
#include "shell/paths.h"

namespace maquetor::shell {
namespace {

// The uninstaller reads its log in the system's ANSI code page on Windows;
// elsewhere text files are UTF-8.
#ifdef _WIN32
constexpr const char* kVersion = "versi\xF3n";
#else
constexpr const char* kVersion = "versi\xC3\xB3n";
#endif

}  // namespace

std::string LogEntry(int tipo, const std::string& ruta) {
  switch (tipo) {
    case kLogCreatedFolder:
      return "ACTION: CreateDir: \"" + ruta + "\"";
    case kLogCreatedFile:
      return "ACTION: PrivateFile: \"" + ruta +
             "\"\r\n(No se puede encontrar el archivo o es de una " + kVersion +
             " antigua; se ha copiado el archivo nuevo)";
    case kLogSettingsKey:
      return "ACTION: RegKey: \"HKEY_CURRENT_USER\\SOFTWARE\\VB and VBA Program Settings\", "
             "\"Corvanta\"";
    default:
      return ruta;
  }
}

void RegistrarEnLog(int& tipo, std::string& ruta) {
  const std::string log = JoinPath(db::ProgramState::Instance().RutaApp, kInstallLogName);
  if (!ExistsAsListed(log)) return;
  if (ruta.empty()) tipo = kLogSettingsKey;
  ruta = LogEntry(tipo, ruta);
  std::ofstream out(ResolveCase(log), std::ios::binary | std::ios::app);
  if (out) out << "\r\n" << ruta;
  if (out) out.flush();
  if (!out) {
    throw std::system_error(errno ? errno : EIO, std::generic_category(),
                            "No se puede escribir en " + log);
  }
}

}  // namespace maquetor::shell
