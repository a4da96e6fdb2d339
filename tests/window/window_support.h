// What the window tests share: one QApplication on the offscreen platform,
// a Ui that answers from a script and records what it was asked, and a
// fixture that starts every test from empty program-wide paths.
#pragma once

#include <gtest/gtest.h>

#include <cstdlib>
#include <deque>
#include <string>
#include <vector>

#include <QApplication>

#include "db/program_state.h"
#include "shell/ui.h"
#include "support/fixtures.h"

namespace window_testing {

// The one QApplication, made before the first test and gone after the last,
// while Qt's own globals still stand.
class QtEnvironment final : public testing::Environment {
 public:
  void SetUp() override {
    // ctest sets the platform; a direct run of the binary gets it here.
    if (!std::getenv("QT_QPA_PLATFORM")) setenv("QT_QPA_PLATFORM", "offscreen", 1);
    app_ = new QApplication(argc_, argv_);
  }
  void TearDown() override { delete app_; }

 private:
  QApplication* app_ = nullptr;
  static inline int argc_ = 1;
  static inline char name_[] = "window_tests";
  static inline char* argv_[] = {name_, nullptr};
};

inline testing::Environment* const kQtEnvironment =
    testing::AddGlobalTestEnvironment(new QtEnvironment);

struct ShownMessage {
  std::string text;
  std::string title;
  maquetor::shell::Icon icon;
};

class ScriptedUi final : public maquetor::shell::Ui {
 public:
  void Message(const std::string& text, const std::string& title,
               maquetor::shell::Icon icon) override {
    messages.push_back({text, title, icon});
  }
  // Answers with the next queued name; an empty queue cancels.
  std::string ChooseFile(const std::string& title, const std::string& filter) override {
    titles.push_back(title);
    filters.push_back(filter);
    if (answers.empty()) return {};
    std::string answer = answers.front();
    answers.pop_front();
    return answer;
  }
  void SetBusy(bool busy) override {
    busy_depth += busy ? 1 : -1;
    busy_calls += busy ? 1 : 0;
  }
  void ProcessEvents() override { QCoreApplication::processEvents(); }

  std::vector<ShownMessage> messages;
  std::deque<std::string> answers;
  std::vector<std::string> titles, filters;
  int busy_depth = 0, busy_calls = 0;
};

class WindowTest : public testing::Test {
 protected:
  void SetUp() override {
    state() = maquetor::db::ProgramState{};
    previous_ = maquetor::shell::InstallUi(&ui);
  }
  void TearDown() override { maquetor::shell::InstallUi(previous_); }

  static maquetor::db::ProgramState& state() { return maquetor::db::ProgramState::Instance(); }

  ScriptedUi ui;
  testing_support::TempDir dir;

 private:
  maquetor::shell::Ui* previous_ = nullptr;
};

// The named child of `parent` as type T; fails the test when absent.
template <typename T>
T* Child(const QObject& parent, const char* name) {
  T* child = parent.findChild<T*>(QString::fromUtf8(name));
  EXPECT_NE(child, nullptr) << "no control " << name;
  return child;
}

}  // namespace window_testing
