#include "shell/install_log.h"

#include <cerrno>
#include <fstream>
#include <system_error>

#include "db/file_name.h"
#include "db/program_state.h"
#include "shell/paths.h"
#include "shell/platform.h"

namespace maquetor::shell {

std::string LogEntry(int tipo, const std::string& ruta) {
  switch (tipo) {
    case kLogCreatedFolder:
      return "ACTION: CreateDir: \"" + ruta + "\"";
    case kLogCreatedFile:
      return "ACTION: PrivateFile: \"" + ruta +
             "\"\r\n(No se puede encontrar el archivo o es de una versi\xC3\xB3n antigua; se ha "
             "copiado el archivo nuevo)";
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
  // The uninstaller reads the log in the ANSI code page on Windows.
  std::ofstream out(db::FsPath(ResolveCase(log)), std::ios::binary | std::ios::app);
  if (out) out << "\r\n" << platform::InstallerLogText(ruta);
  if (out) out.flush();
  if (!out) {
    throw std::system_error(errno ? errno : EIO, std::generic_category(),
                            "No se puede escribir en " + log);
  }
}

}  // namespace maquetor::shell
