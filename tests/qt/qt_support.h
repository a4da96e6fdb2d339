// What the Qt view tests share: one QApplication on the offscreen platform,
// and a fixture with empty program-wide paths, the recording Ui and a
// scratch folder.
#pragma once

#include <gtest/gtest.h>

#include <cstdlib>

#include <QApplication>

#include "db/program_state.h"
#include "support/fixtures.h"
#include "support/recording_ui.h"

namespace qt_testing {

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
  static inline char name_[] = "qt_tests";
  static inline char* argv_[] = {name_, nullptr};
};

inline testing::Environment* const kQtEnvironment =
    testing::AddGlobalTestEnvironment(new QtEnvironment);

class QtTest : public testing::Test {
 protected:
  QtTest() { maquetor::db::ProgramState::Instance() = {}; }

  testing_support::RecordingUi ui;
  testing_support::TempDir dir;
};

// The named child of `parent` as type T; fails the test when absent.
template <typename T>
T* Child(const QObject& parent, const char* name) {
  T* child = parent.findChild<T*>(QString::fromUtf8(name));
  EXPECT_NE(child, nullptr) << "no control " << name;
  return child;
}

}  // namespace qt_testing
