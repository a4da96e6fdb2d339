// The Qt answers to the operations' needs: the filter translation, message
// boxes and the file dialog as they really come up (answered from a timer),
// and the wait cursor's nesting.
#include <QFileDialog>
#include <QGuiApplication>
#include <QMessageBox>
#include <QTimer>

#include "shell/qt/qt_ui.h"
#include "support/fixtures.h"
#include "qt_support.h"

namespace {

using maquetor::shell::Icon;
using maquetor::shell::QtUi;

// Runs `answer` on the modal widget the next call brings up.
template <typename Widget>
void AnswerNextModal(std::function<void(Widget&)> answer) {
  QTimer::singleShot(0, [answer] {
    QWidget* modal = QApplication::activeModalWidget();
    if (auto* widget = qobject_cast<Widget*>(modal)) return answer(*widget);
    ADD_FAILURE() << "no modal widget of the expected kind";
    if (modal) modal->close();
  });
}

TEST(QtUi, FilterInQtFormMatchingExtensionsInAnyCase) {
  EXPECT_EQ(maquetor::shell::QtFileFilter("Bases de datos (*.mdb)|*.mdb"),
            "Bases de datos (*.[mM][dD][bB])");
  EXPECT_EQ(maquetor::shell::QtFileFilter("Bases|*.mdb;*.mde|Todos|*.*"),
            "Bases (*.[mM][dD][bB] *.[mM][dD][eE]);;Todos (*.*)");
}

TEST(QtUi, MessageBoxShowsTheProgramTitleWhenGivenNone) {
  QtUi ui;
  for (const auto& [title, shown] : {std::pair{"", "Maquetor - Corvanta"}, {"MENSAJE", "MENSAJE"}}) {
    QString shown_title, text;
    AnswerNextModal<QMessageBox>([&](QMessageBox& box) {
      shown_title = box.windowTitle();
      text = box.text();
      EXPECT_EQ(box.icon(), QMessageBox::Critical);
      box.accept();
    });
    ui.Message("No se ha realizado ninguna selección.", title, Icon::kCritical);
    EXPECT_EQ(shown_title, shown);
    EXPECT_EQ(text, "No se ha realizado ninguna selección.");
  }
}

TEST(QtUi, FileDialogTakesANameNotYetOnDiskAndNothingWhenCancelled) {
  testing_support::TempDir dir;
  QtUi ui;
  const std::string fresh = dir.File("Nueva.mdb");
  AnswerNextModal<QFileDialog>([&](QFileDialog& dialog) {
    EXPECT_EQ(dialog.windowTitle(), "Crear");
    dialog.selectFile(QString::fromStdString(fresh));
    static_cast<QDialog&>(dialog).accept();  // as its Open button does
  });
  EXPECT_EQ(ui.ChooseFile("Crear", "Bases de datos (*.mdb)|*.mdb"), fresh);

  AnswerNextModal<QFileDialog>([](QFileDialog& dialog) { dialog.reject(); });
  EXPECT_EQ(ui.ChooseFile("Abrir", "Bases de datos (*.mdb)|*.mdb"), "");
}

TEST(QtUi, WaitCursorNestsAndAStrayRestoreIsHarmless) {
  QtUi ui;
  ui.SetBusy(false);
  ui.SetBusy(true);
  ui.SetBusy(true);
  ui.SetBusy(false);
  ASSERT_NE(QGuiApplication::overrideCursor(), nullptr);
  EXPECT_EQ(QGuiApplication::overrideCursor()->shape(), Qt::WaitCursor);
  ui.SetBusy(false);
  EXPECT_EQ(QGuiApplication::overrideCursor(), nullptr);
}

}  // namespace
