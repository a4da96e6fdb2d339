// TSetup and its seed row.
#include "auxdb/user_control.h"

#include "auxdb/bases_file.h"
#include "db/engine.h"
#include "db/program_state.h"
#include "schema/config.h"
#include "schema/layout.h"
#include "shell/paths.h"

namespace maquetor::auxdb {
namespace {

using namespace schema;

const TableSpec kTSetup = {
    "TSetup",
    {
        {"FSetup01", Text, 255, Yes, No},
        {"FSetup02", Text, 255, Yes, No},
        {"FSetup03", Text, 255, Yes, No},
        {"FSetup04", Integer},
        {"FSetup05", Long, 0, Yes, _, nullptr, AutoIncrement},
        {"FSetup06", Integer},
    },
    {{"ISetup", {"FSetup05"}, Yes, Yes, Yes, true}},
};

}  // namespace

std::string SetupSeedStatement(const std::string& RutaBases) {
  const std::string demo = shell::JoinPath(shell::JoinPath(RutaBases, "Demo"), "Demo.mdb");
  // The folder is the user's: an apostrophe in it would otherwise end the
  // literal and the statement would fail.
  return "INSERT INTO TSetup (FSetup01,FSetup02,FSetup03,FSetup04,FSetup05,FSetup06) VALUES ('" +
         SqlText(demo) + "','DEMO','DEMO',1,1,1)";
}

void CmdControl() {
  // The file reaches its path with its table and seed row, or not at all.
  jet::dao::Database base = CreateInBases("Setup.MDB");
  try {
    db::BuildTable(base, kTSetup);
    LogCreatedInBases("Setup.Mdb");
    base.Execute(SetupSeedStatement(db::ProgramState::Instance().RutaBases), db::kExecuteSeed);
  } catch (...) {
    base.Discard();
    throw;
  }
  base.Close();
}

}  // namespace maquetor::auxdb
