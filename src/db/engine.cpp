#include "db/engine.h"

namespace maquetor::db {

using jet::dao::Database;
using jet::dao::DBEngine;

jet::dao::Workspace& Workspace0() { return DBEngine::Instance().Workspaces(0); }

Database OpenExclusive(const std::string& path) {
  return Workspace0().OpenDatabase(path, true, false, kConnect);
}

Database OpenShared(const std::string& path) {
  return Workspace0().OpenDatabase(path, false, false, kConnectUpper);
}

Database CreateMainDatabase(const std::string& path) {
  return Workspace0().CreateDatabase(path, std::string(kLocaleGeneral) + kConnect);
}

}  // namespace maquetor::db
