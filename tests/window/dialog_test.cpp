// The selection dialog driven through its own widgets: both layouts, the
// Enter key, the file choices of Origen and Destino, and what each way of
// closing leaves in the program-wide paths.
#include <filesystem>
#include <fstream>

#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>

#include "shell/window/frm_inserta.h"
#include "support/fixtures.h"
#include "window_support.h"

namespace {

using maquetor::shell::frmInserta;
using window_testing::Child;

class DialogTest : public window_testing::WindowTest {
 protected:
  void Show(bool modo) {
    dialog.SetModo(modo);
    dialog.show();
  }
  void TypeAndEnter(const char* box, const std::string& text) {
    auto* edit = Child<QLineEdit>(dialog, box);
    edit->setText(QString::fromStdString(text));
    QTest::keyClick(edit, Qt::Key_Return);
  }
  void Click(const char* button) {
    QTest::mouseClick(Child<QPushButton>(dialog, button), Qt::LeftButton);
  }
  bool Hidden(const char* name) { return Child<QWidget>(dialog, name)->isHidden(); }

  frmInserta dialog;
};

TEST_F(DialogTest, BothLayouts) {
  EXPECT_EQ(dialog.windowTitle(), "Bases de Datos");
  EXPECT_EQ(Child<QLabel>(dialog, "LbTexto")->text(), "Label1");
  EXPECT_TRUE(Hidden("Text2") && Hidden("Destino") && Hidden("CmdExit"));

  dialog.SetModo(true);
  EXPECT_FALSE(Hidden("Text2") || Hidden("Destino") || Hidden("CmdExit") || Hidden("Text1"));
  EXPECT_EQ(Child<QLabel>(dialog, "LbTexto")->text(),
            "Para seleccionar un Nuevo Origen presione Origen.\n\nSelecciona la base de destino.");
  EXPECT_EQ(Child<QPushButton>(dialog, "Origen")->text(), "Origen");

  dialog.SetModo(false);
  EXPECT_TRUE(Hidden("Text2") && Hidden("Destino") && Hidden("CmdExit"));
  EXPECT_TRUE(Child<QLabel>(dialog, "LbTexto")->text().startsWith("Escribe el Path completo"));
  EXPECT_EQ(Child<QPushButton>(dialog, "Origen")->text(), "Base de Datos");
}

TEST_F(DialogTest, EnterAcceptsOnlyAPathWhoseFolderExists) {
  Show(true);
  // No separator, nothing after the last one, a missing folder: nothing.
  for (const std::string& text :
       {std::string("Nueva.mdb"), dir.File("sub") + "/", dir.File("falta/Nueva.mdb")}) {
    TypeAndEnter("Text1", text);
    EXPECT_TRUE(dialog.isVisible()) << text;
    EXPECT_EQ(state().BDatosTrabajo, "") << text;
  }
  // The folder is found whatever its case; the file need not exist.
  std::filesystem::create_directory(dir.File("Datos"));
  TypeAndEnter("Text1", "  " + dir.File("DATOS/Nueva.mdb") + " ");
  EXPECT_FALSE(dialog.isVisible());
  EXPECT_EQ(state().BDatosTrabajo, dir.File("DATOS/Nueva.mdb"));

  // Enter in Text2 also answers in BDatosTrabajo, which a blank Text1 turns
  // into "Exit" as the dialog closes.
  frmInserta second;
  second.SetModo(true);
  second.show();
  auto* text2 = Child<QLineEdit>(second, "Text2");
  text2->setText(QString::fromStdString(dir.File("Destino.mdb")));
  QTest::keyClick(text2, Qt::Key_Enter);
  EXPECT_FALSE(second.isVisible());
  EXPECT_EQ(state().BDatosTrabajo, "Exit");
  EXPECT_EQ(state().BDatosDestino, "");
}

TEST_F(DialogTest, OrigenForANewDatabaseRefusesAnExistingFileAndAsksAgainAsCrear) {
  std::ofstream(dir.File("Vieja.mdb")) << "x";
  const std::string fresh = dir.File("Nueva.mdb");
  Show(false);
  Click("Origen");  // cancelled
  EXPECT_TRUE(dialog.isVisible());

  ui.answers = {dir.File("VIEJA.MDB"), fresh};  // the existing file, in another case
  Click("Origen");
  ASSERT_EQ(ui.messages.size(), 2u);
  EXPECT_EQ(ui.messages[0].text, "No se ha realizado ninguna selección.");
  EXPECT_EQ(ui.messages[0].title, "MENSAJE");
  EXPECT_EQ(ui.messages[1].text, "Debe Seleccionar una Base no existente.");
  EXPECT_EQ(ui.messages[1].title, "");
  EXPECT_EQ(ui.titles, (std::vector<std::string>{"", "", "Crear"}));
  EXPECT_EQ(ui.filters.back(), "Bases de datos (*.mdb)|*.mdb");

  EXPECT_FALSE(dialog.isVisible());
  EXPECT_EQ(state().BDatosTrabajo, fresh);
  EXPECT_EQ(state().BDatosOrigen, fresh);
  EXPECT_EQ(Child<QLineEdit>(dialog, "Text1")->text().toStdString(), fresh);
}

TEST_F(DialogTest, OrigenForAnExistingDatabaseGivesExitWhenTheSecondChoiceIsCancelled) {
  Show(false);
  Child<QPushButton>(dialog, "Origen")->setText("Origen");
  ui.answers = {dir.File("Falta.mdb")};
  Click("Origen");
  ASSERT_EQ(ui.messages.size(), 1u);
  EXPECT_EQ(ui.messages[0].text, "Debe Seleccionar una Base ya existente.");
  EXPECT_EQ(ui.titles, (std::vector<std::string>{"", "Abrir"}));
  EXPECT_FALSE(dialog.isVisible());
  EXPECT_EQ(state().BDatosTrabajo, "Exit");
}

TEST_F(DialogTest, ClosingLeavesExitOnlyWhenText1IsBlank) {
  state().BDatosDestino = "antes.mdb";
  Show(true);
  Click("CmdExit");  // Text2 empty: the destination is forgotten too
  EXPECT_FALSE(dialog.isVisible());
  EXPECT_EQ(state().BDatosTrabajo, "Exit");
  EXPECT_EQ(state().BDatosDestino, "");

  state() = {};
  state().BDatosDestino = "antes.mdb";
  frmInserta second;
  second.SetModo(true);
  second.show();
  Child<QLineEdit>(second, "Text1")->setText("escrito sin Enter");
  Child<QLineEdit>(second, "Text2")->setText("otra.mdb");
  QTest::keyClick(&second, Qt::Key_Escape);
  EXPECT_FALSE(second.isVisible());
  EXPECT_EQ(state().BDatosTrabajo, "");
  EXPECT_EQ(state().BDatosDestino, "antes.mdb");
}

}  // namespace
