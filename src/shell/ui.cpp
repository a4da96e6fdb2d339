#include "shell/ui.h"

#include <iostream>

namespace maquetor::shell {
namespace {

class ConsoleUi final : public Ui {
 public:
  void Message(const std::string& text, const std::string& title, Icon) override {
    std::cerr << (title.empty() ? kProgramTitle : title) << ": " << text << '\n';
  }
  std::string ChooseFile(const std::string&, const std::string&) override { return {}; }
  void SetBusy(bool) override {}
  void ProcessEvents() override {}
};

ConsoleUi& Console() {
  static ConsoleUi console;
  return console;
}

Ui*& Installed() {
  static Ui* ui = nullptr;
  return ui;
}

}  // namespace

Ui& CurrentUi() {
  Ui* ui = Installed();
  return ui ? *ui : Console();
}

Ui* InstallUi(Ui* ui) {
  Ui* previous = Installed();
  Installed() = ui;
  return previous;
}

}  // namespace maquetor::shell
