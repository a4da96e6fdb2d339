// The main window's part in a run without "/M": nothing is shown, and the
// controls the load presses run their operations directly.
#pragma once

#include "shell/startup.h"

namespace maquetor::shell {

class HeadlessWindow final : public MainWindowHost {
 public:
  void SetVisible(bool) override {}
  void ShowCreationLabels(const std::string&) override {}
  void PressCmdControl() override;
  void PressREPORT() override;
  // "Crear" with Check1 ticked and the working database given on the
  // command line: the whole database, then the end of the program.
  void SelectCrear() override;
};

}  // namespace maquetor::shell
