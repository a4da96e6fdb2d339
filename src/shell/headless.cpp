#include "shell/headless.h"

#include <filesystem>

#include "auxdb/report_catalog.h"
#include "auxdb/user_control.h"
#include "db/program_state.h"
#include "schema/buttons.h"
#include "shell/ui.h"

namespace maquetor::shell {

void HeadlessWindow::PressCmdControl() { auxdb::CmdControl(); }

void HeadlessWindow::PressREPORT() { auxdb::REPORT(); }

void HeadlessWindow::SelectCrear() {
  const std::string& path = db::ProgramState::Instance().BDatosTrabajo;
  if (path.empty() || path == db::kExitMarker) return;
  {
    BusyPointer busy;
    // The configuration row records the document folder by its full path.
    schema::CrearBaseCompleta(std::filesystem::absolute(path).string());
  }
  throw EndOfProgram{0};
}

}  // namespace maquetor::shell
