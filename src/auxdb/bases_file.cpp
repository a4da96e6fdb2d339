#include "auxdb/bases_file.h"

#include "db/engine.h"
#include "db/program_state.h"
#include "shell/install_log.h"
#include "shell/paths.h"

namespace maquetor::auxdb {

std::string InBases(const std::string& name) {
  return shell::JoinPath(db::ProgramState::Instance().RutaBases, name);
}

jet::dao::Database CreateInBases(const std::string& name) {
  return db::Workspace0().CreateDatabase(shell::ResolveCase(InBases(name)),
                                         std::string(db::kLocaleGeneral) + db::kConnect,
                                         jet::dao::dbEncrypt);
}

void LogCreatedInBases(const std::string& name) {
  int tipo = shell::kLogCreatedFile;
  std::string ruta = InBases(name);
  shell::RegistrarEnLog(tipo, ruta);
}

}  // namespace maquetor::auxdb
