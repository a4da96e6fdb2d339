// The Qt view over the forms: widgets built from the description in the
// form's state and tab order, clicks reaching the form and its changes
// reaching the widgets, and the selection dialog run modally.
#include <algorithm>
#include <filesystem>
#include <fstream>
#include <functional>
#include <set>

#include <QCheckBox>
#include <QGroupBox>
#include <QImage>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QTest>
#include <QTimer>

#include "qt_support.h"
#include "shell/qt/frm_inserta_dialog.h"
#include "shell/qt/maquetor_abog_window.h"

namespace {

namespace forms = maquetor::shell::forms;
using maquetor::shell::FrmInsertaDialog;
using qt_testing::Child;

// The text a widget shows, or empty for one of no kind a control becomes.
std::string Shown(const QWidget& widget) {
  if (auto* b = qobject_cast<const QAbstractButton*>(&widget)) return b->text().toStdString();
  if (auto* l = qobject_cast<const QLabel*>(&widget)) return l->text().toStdString();
  if (auto* e = qobject_cast<const QLineEdit*>(&widget)) return e->text().toStdString();
  if (auto* g = qobject_cast<const QGroupBox*>(&widget)) return g->title().toStdString();
  return {};
}

// One widget per control, named after it, in its frame, in the form's
// state; the focusable ones in the order of the description. Saves a
// picture of the window beside the build for looking at.
void ExpectBuiltFrom(const forms::Form& form, QWidget& window) {
  const auto& design = form.Description();
  EXPECT_EQ(window.windowTitle().toStdString(), design.caption);
  std::vector<QWidget*> focusable;
  for (size_t i = 0; i < design.controls.size(); ++i) {
    const forms::Control& c = design.controls[i];
    const forms::ControlState& s = form.State(static_cast<forms::ControlId>(i));
    SCOPED_TRACE(forms::ControlName(c));
    auto* widget = window.findChild<QWidget*>(QString::fromStdString(forms::ControlName(c)));
    ASSERT_NE(widget, nullptr);
    EXPECT_EQ(Shown(*widget), s.text);
    EXPECT_EQ(widget->isHidden(), !s.visible);
    EXPECT_EQ(widget->isEnabled(), s.enabled);
    auto* button = qobject_cast<QAbstractButton*>(widget);
    EXPECT_EQ(button != nullptr && button->isChecked(), s.checked);
    EXPECT_EQ(widget->toolTip().toStdString(), c.tool_tip);
    EXPECT_EQ(widget->parentWidget()->objectName().toStdString(),
              c.frame.empty() ? design.name : c.frame);
    if (widget->focusPolicy() != Qt::NoFocus) focusable.push_back(widget);
  }
  std::vector<QWidget*> chain = {focusable.front()};
  for (QWidget* w = chain[0]->nextInFocusChain(); w != chain[0]; w = w->nextInFocusChain()) {
    if (std::find(focusable.begin(), focusable.end(), w) != focusable.end()) chain.push_back(w);
  }
  EXPECT_EQ(chain, focusable);
  window.show();
  const auto file = std::filesystem::path(MAQUETOR_BINARY_DIR) / (std::string(design.name) + ".png");
  // The picture is the whole window with something drawn in it: frames,
  // captions and boxes give it many colours, an empty one has one or two.
  const QImage picture = window.grab().toImage();
  EXPECT_EQ(picture.size(), window.size() * window.devicePixelRatio());
  std::set<QRgb> colours;
  for (int y = 0; y < picture.height(); y += 2)
    for (int x = 0; x < picture.width(); x += 2) colours.insert(picture.pixel(x, y));
  EXPECT_GE(colours.size(), 4u) << design.name;
  EXPECT_TRUE(picture.save(QString::fromStdString(file.string())));
}

class QtViewTest : public qt_testing::QtTest {
 protected:
  QtViewTest() { window.show(); }

  forms::MaquetorAbog form;
  maquetor::shell::MaquetorAbogWindow window{form};
};

TEST_F(QtViewTest, WidgetsAreBuiltFromTheDescriptionInTheFormsState) {
  ExpectBuiltFrom(form, window);
  EXPECT_EQ(Child<QPushButton>(window, "salir")->shortcut(), QKeySequence(Qt::ALT | Qt::Key_S));

  forms::frmInserta dialog;
  dialog.SetModo(true);
  dialog.SetText(dialog.Find("Text2"), "/datos/Destino & Cía.mdb");
  FrmInsertaDialog dialog_window(dialog);
  ExpectBuiltFrom(dialog, dialog_window);
}

TEST_F(QtViewTest, ClicksReachTheFormAndItsChangesReachTheWidgets) {
  // A table button with no database chosen: the form reports the failure.
  QTest::mouseClick(Child<QPushButton>(window, "Paises"), Qt::LeftButton);
  ASSERT_EQ(ui.messages.size(), 1u);
  EXPECT_EQ(ui.messages[0].icon, maquetor::shell::Icon::kCritical);
  QTest::mouseClick(Child<QCheckBox>(window, "Check1"), Qt::LeftButton);
  EXPECT_FALSE(form.State(form.Find("Check1")).checked);

  form.ShowCreationLabels("/datos/Nueva & Cía.mdb");
  EXPECT_TRUE(Child<QLabel>(window, "Label1")->isHidden());
  EXPECT_EQ(Child<QLabel>(window, "Label4")->text(), QString::fromUtf8("/datos/Nueva & Cía.mdb"));
  form.SetChecked(form.Opcion(8), true);
  form.SetChecked(form.Opcion(1), true);
  EXPECT_FALSE(Child<QRadioButton>(window, "Opcion(8)")->isChecked());
  form.SetEnabled(form.Find("Paises"), false);
  EXPECT_FALSE(Child<QPushButton>(window, "Paises")->isEnabled());

  window.close();  // the close box
  EXPECT_FALSE(form.Shown() || window.isVisible());
}

TEST_F(QtViewTest, TheDialogRunsModallyUntilTheFormClosesIt) {
  std::ofstream(dir.File("Vieja.mdb")) << "x";
  using Answer = std::function<void(FrmInsertaDialog&)>;
  const std::pair<int, Answer> cases[] = {
      // Borrar: a path typed and Enter pressed deletes the file.
      {1,
       [&](FrmInsertaDialog& d) {
         QTest::keyClicks(Child<QLineEdit>(d, "Text1"), QString::fromStdString(dir.File("Vieja.mdb")));
         QTest::keyClick(Child<QLineEdit>(d, "Text1"), Qt::Key_Return);
       }},
      // Crear, closed by Escape and by the close box: not created.
      {0, [](FrmInsertaDialog& d) { QTest::keyClick(&d, Qt::Key_Escape); }},
      {0, [](FrmInsertaDialog& d) { d.close(); }},
  };
  for (const auto& [option, answer] : cases) {
    maquetor::db::ProgramState::Instance().BDatosTrabajo.clear();
    bool seen = false;
    QTimer::singleShot(0, [&, answer = answer] {
      auto* dialog = qobject_cast<FrmInsertaDialog*>(QApplication::activeModalWidget());
      if ((seen = dialog != nullptr)) answer(*dialog);
    });
    // A dialog left open fails the test instead of hanging it.
    QTimer::singleShot(10000, [] {
      if (QWidget* modal = QApplication::activeModalWidget()) modal->close();
    });
    form.Click(form.Opcion(option));
    EXPECT_TRUE(seen) << option;
  }
  EXPECT_FALSE(std::filesystem::exists(dir.File("Vieja.mdb")));
  ASSERT_EQ(ui.messages.size(), 2u);
  EXPECT_EQ(ui.messages[1].text, "La base de datos no ha sido creada.");
  EXPECT_EQ(QApplication::activeModalWidget(), nullptr);
}

}  // namespace
