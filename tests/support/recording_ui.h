// A desktop interface for tests: it records every message box, file dialog
// and pointer change, and answers file dialogs from a script (none left:
// cancelled), so an operation that would ask the user runs to its end
// without blocking. Installed for the life of the object.
#pragma once

#include <deque>
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
  std::string ChooseFile(const std::string& title, const std::string& filter) override {
    titles.push_back(title);
    filters.push_back(filter);
    if (answers.empty()) return {};
    std::string answer = answers.front();
    answers.pop_front();
    return answer;
  }
  void SetBusy(bool busy) override { pointer.push_back(busy); }
  void ProcessEvents() override { ++events; }

  std::vector<Shown> messages;
  std::deque<std::string> answers;          // the names the file dialogs return, in turn
  std::vector<std::string> titles, filters;  // what each file dialog was shown with
  std::vector<bool> pointer;                 // true: hourglass on
  int events = 0;                            // turns of the event loop asked for

 private:
  maquetor::shell::Ui* previous_;
};

}  // namespace testing_support
