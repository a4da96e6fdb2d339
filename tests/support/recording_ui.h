// A desktop interface for tests: it records every message box and pointer
// change and answers no file dialog, so an operation that would ask the user
// runs to its end without blocking. Installed for the life of the object.
#pragma once

#include <string>
#include <vector>

#include "shell/ui.h"

namespace testing_support {

struct Shown {
  std::string text, title;
  maquetor::shell::Icon icon;
  bool operator==(const Shown&) const = default;
};

class RecordingUi final : public maquetor::shell::Ui {
 public:
  RecordingUi() : previous_(maquetor::shell::InstallUi(this)) {}
  ~RecordingUi() override { maquetor::shell::InstallUi(previous_); }
  RecordingUi(const RecordingUi&) = delete;
  RecordingUi& operator=(const RecordingUi&) = delete;

  void Message(const std::string& text, const std::string& title,
               maquetor::shell::Icon icon) override {
    messages.push_back({text, title, icon});
  }
  std::string ChooseFile(const std::string&, const std::string&) override { return {}; }
  void SetBusy(bool busy) override { pointer.push_back(busy); }
  void ProcessEvents() override { ++events; }

  std::vector<Shown> messages;
  std::vector<bool> pointer;  // true: hourglass on
  int events = 0;             // turns of the event loop asked for

 private:
  maquetor::shell::Ui* previous_;
};

}  // namespace testing_support
