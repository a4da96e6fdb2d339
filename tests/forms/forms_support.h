// What the forms tests share: a view that logs what a form announces and,
// as the main window's view, plays each showing of the selection dialog
// from a script; a fixture with empty program-wide paths, the recording Ui
// and a scratch folder.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <deque>
#include <fstream>
#include <functional>
#include <string>
#include <vector>

#include "db/program_state.h"
#include "shell/forms/frm_inserta.h"
#include "shell/forms/maquetor_abog.h"
#include "shell/paths.h"
#include "support/fixtures.h"
#include "support/recording_ui.h"

namespace forms_testing {

namespace forms = maquetor::shell::forms;
using Step = std::function<void(forms::frmInserta&)>;

// Logs "text Label4 /x.mdb", "visible Label2 1", "enabled Paises 0",
// "checked Opcion(1) 1", "focus Origen", "show 1", "repaint", "close".
class FakeView : public forms::MainView {
 public:
  explicit FakeView(const forms::Form& form) : form_(form) {}

  void SetText(forms::ControlId id, const std::string& text) override { Log("text", id, text); }
  void SetVisible(forms::ControlId id, bool on) override { Log("visible", id, on ? "1" : "0"); }
  void SetEnabled(forms::ControlId id, bool on) override { Log("enabled", id, on ? "1" : "0"); }
  void SetChecked(forms::ControlId id, bool on) override { Log("checked", id, on ? "1" : "0"); }
  void Focus(forms::ControlId id) override { calls.push_back("focus " + Name(id)); }
  void ShowForm(bool visible) override { calls.push_back(visible ? "show 1" : "show 0"); }
  void Repaint() override { calls.push_back("repaint"); }
  void Close() override { calls.push_back("close"); }

  // Each showing plays the next step, which must close the dialog; with
  // no step left the test fails and the dialog closes unanswered.
  void ShowModal(forms::frmInserta& dialog) override {
    shown.push_back({dialog.Modo(), dialog.State(dialog.Find("Origen")).text,
                     dialog.State(dialog.Find("Text2")).text});
    FakeView dialog_view(dialog);
    dialog.SetView(&dialog_view);
    if (steps.empty()) ADD_FAILURE() << "the dialog was shown once more than expected";
    const Step step = steps.empty() ? [](forms::frmInserta& d) { d.CloseBox(); } : steps.front();
    if (!steps.empty()) steps.pop_front();
    step(dialog);
    EXPECT_FALSE(dialog.Shown()) << "a step left the dialog open";
    dialog.SetView(nullptr);
  }

  bool Saw(const std::string& call) const {
    return std::find(calls.begin(), calls.end(), call) != calls.end();
  }

  struct Showing {
    bool modo;
    std::string origen, text2;  // the caption of Origen and the text of Text2
    bool operator==(const Showing&) const = default;
  };
  std::vector<std::string> calls;
  std::deque<Step> steps;
  std::vector<Showing> shown;

 private:
  std::string Name(forms::ControlId id) const { return forms::ControlName(form_.Design(id)); }
  void Log(const char* what, forms::ControlId id, const std::string& value) {
    calls.push_back(std::string(what) + " " + Name(id) + " " + value);
  }
  const forms::Form& form_;
};

// What a user does in the dialog.
inline Step TypeAndEnter(const std::string& box, const std::string& text) {
  return [box, text](forms::frmInserta& d) {
    d.TextEdited(d.Find(box), text);
    d.Enter(d.Find(box));
  };
}
inline Step Click(std::vector<std::string> buttons) {
  return [buttons](forms::frmInserta& d) {
    for (const auto& b : buttons) d.Click(d.Find(b));
  };
}
inline Step CloseBox() {
  return [](forms::frmInserta& d) { d.CloseBox(); };
}

class FormsTest : public testing::Test {
 protected:
  FormsTest() { state() = maquetor::db::ProgramState{}; }
  static maquetor::db::ProgramState& state() { return maquetor::db::ProgramState::Instance(); }
  // `name` in the scratch folder's `folder`, with this system's separator.
  std::string In(const std::string& folder, const std::string& name) const {
    return maquetor::shell::JoinPath(dir.File(folder), name);
  }
  std::string Touch(const std::string& name) const {
    std::ofstream(dir.File(name)) << "x";
    return dir.File(name);
  }

  testing_support::RecordingUi ui;
  testing_support::TempDir dir;
};

}  // namespace forms_testing
