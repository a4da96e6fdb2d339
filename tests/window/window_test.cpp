// The main window driven through its widgets: its controls as designed, the
// option dispatch with the selection dialog answered by a script, whole-
// database creation, deletion, and failures reported with the window left
// open.
#include <filesystem>
#include <fstream>
#include <functional>

#include <QCheckBox>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QSignalSpy>
#include <QTest>
#include <QTimer>

#include "jet/dao.h"
#include "jet/error.h"
#include "schema/buttons.h"
#include "shell/window/frm_inserta.h"
#include "shell/window/maquetor_abog.h"
#include "window_support.h"

namespace {

using maquetor::shell::frmInserta;
using maquetor::shell::Icon;
using maquetor::shell::MaquetorAbog;
using window_testing::Child;

const char* const kNotCreated = "La base de datos no ha sido creada.";

std::string Touch(const std::string& path) {
  std::ofstream(path) << "x";
  return path;
}

size_t UserTableCount(const std::string& path) {
  auto database = jet::dao::DBEngine::Instance().Workspaces(0).OpenDatabase(
      path, false, true, ";pwd=KTRW_BLM");
  size_t count = 0;
  for (const auto& table : database.TableDefs()) count += table.IsSystem() ? 0 : 1;
  database.Close();
  return count;
}

class MainWindowTest : public window_testing::WindowTest {
 protected:
  using Step = std::function<void(frmInserta&)>;

  void SetUp() override {
    WindowTest::SetUp();
    window.SetModalShow([this](frmInserta& dialog) { ShowDialog(dialog); });
    window.show();
  }

  // Each showing of the dialog plays the next step, which must close it; a
  // showing with no step left fails and leaves "Exit", so no loop runs on.
  void ShowDialog(frmInserta& dialog) {
    modo_at_show.push_back(dialog.Modo());
    origen_at_show.push_back(dialog.Origen()->text().toStdString());
    dialog.show();
    if (steps.empty()) {
      ADD_FAILURE() << "the dialog was shown once more than the test expected";
      dialog.close();
      state().BDatosTrabajo = "Exit";
      return;
    }
    Step step = steps.front();
    steps.pop_front();
    step(dialog);
    EXPECT_FALSE(dialog.isVisible()) << "a step left the dialog open";
  }

  static Step EnterInText1(const std::string& path) {
    return [path](frmInserta& dialog) {
      auto* text1 = Child<QLineEdit>(dialog, "Text1");
      text1->setText(QString::fromStdString(path));
      QTest::keyClick(text1, Qt::Key_Return);
    };
  }
  // Clicks the dialog's buttons in turn.
  static Step Press(std::vector<const char*> buttons) {
    return [buttons](frmInserta& dialog) {
      for (const char* b : buttons) QTest::mouseClick(Child<QPushButton>(dialog, b), Qt::LeftButton);
    };
  }
  static Step CloseBox() {
    return [](frmInserta& dialog) { dialog.close(); };
  }

  // A radio button takes clicks on its indicator and text only, which the
  // centre of a stretched one misses; click() is that click.
  void Select(int index) { window.Opcion(index)->click(); }
  void Click(const char* name) {
    QTest::mouseClick(Child<QPushButton>(window, name), Qt::LeftButton);
  }
  bool Ended() const { return window.EndedWith().has_value(); }

  MaquetorAbog window;
  std::deque<Step> steps;
  std::vector<bool> modo_at_show;
  std::vector<std::string> origen_at_show;
};

TEST_F(MainWindowTest, ControlsAsDesigned) {
  EXPECT_EQ(window.windowTitle(), "Maquetor de Tablas para Grupo de Despachos de Abogados");
  for (const auto& [name, caption] : {std::pair{"FrameUtilidades", "Utilidades"},
                                      {"Frame3", "Bases de Datos Complementarias"},
                                      {"Frame", "Acciones Base de Datos Principal"},
                                      {"Frame2", "Tablas existentes"}}) {
    EXPECT_EQ(Child<QGroupBox>(window, name)->title(), caption);
  }
  struct Option {
    int index;
    const char* caption;
    const char* frame;
    bool enabled;
  };
  for (const Option& o : {Option{0, "Crear", "Frame", true}, {1, "Borrar", "Frame", true},
                          {2, "Insertar Países", "Frame", false},
                          {3, "Pasar Base a Euros", "FrameUtilidades", true},
                          {6, "Pasar Base a Pesetas", "FrameUtilidades", false},
                          {8, "Pasar V8 V8", "Frame", true}, {9, "Pasar V7 V8", "Frame", true}}) {
    QRadioButton* option = window.Opcion(o.index);
    ASSERT_NE(option, nullptr) << o.index;
    EXPECT_EQ(option->text(), QString::fromUtf8(o.caption));
    EXPECT_EQ(option->parent()->objectName(), o.frame) << o.caption;
    EXPECT_EQ(option->isEnabled(), o.enabled) << o.caption;
    EXPECT_TRUE(option->isVisible()) << o.caption;
  }
  EXPECT_EQ(window.Opcion(4), nullptr);
  EXPECT_TRUE(Child<QCheckBox>(window, "Check1")->isChecked());
  EXPECT_EQ(Child<QPushButton>(window, "CmdControl")->toolTip(), "Control de Usuarios");
  EXPECT_EQ(Child<QPushButton>(window, "salir")->shortcut(), QKeySequence(Qt::ALT | Qt::Key_S));
  for (const auto& [name, visible] : {std::pair{"Label1", true}, {"Label3", true},
                                      {"Label2", false}, {"Label4", false}}) {
    EXPECT_EQ(Child<QLabel>(window, name)->isVisible(), visible) << name;
  }

  // Every button of the creation order is in "Tablas existentes", shown and
  // enabled; the address-table builder is there, hidden.
  const auto* tables = Child<QGroupBox>(window, "Frame2");
  EXPECT_EQ(tables->findChildren<QPushButton*>().size(), 31);
  for (const auto& b : maquetor::schema::CreationOrder()) {
    auto* button = Child<QPushButton>(*tables, b.name);
    ASSERT_NE(button, nullptr);
    EXPECT_TRUE(button->isVisible() && button->isEnabled()) << b.name;
  }
  EXPECT_TRUE(Child<QPushButton>(*tables, "direcciones")->isHidden());
  EXPECT_EQ(Child<QPushButton>(*tables, "GProvi")->text(), "Gestión Provisiones");
}

TEST_F(MainWindowTest, CrearDoesNothingWithCheck1ClearedOrOnAnExistingFile) {
  QTest::mouseClick(Child<QCheckBox>(window, "Check1"), Qt::LeftButton);
  Select(0);
  EXPECT_TRUE(modo_at_show.empty());

  Child<QCheckBox>(window, "Check1")->setChecked(true);
  const std::string existing = Touch(dir.File("Existe.mdb"));
  state().BDatosTrabajo = dir.File("EXISTE.MDB");
  Select(0);
  EXPECT_TRUE(modo_at_show.empty());
  EXPECT_TRUE(ui.messages.empty());
  EXPECT_EQ(std::filesystem::file_size(existing), 1u);
  EXPECT_FALSE(Ended());
}

TEST_F(MainWindowTest, CrearThroughTheDialogBuildsTheWholeDatabaseAndEndsTheProgram) {
  const std::string path = dir.File("Despacho.mdb");
  steps = {EnterInText1(path)};
  QSignalSpy ended(&window, &MaquetorAbog::ProgramEnded);
  Select(0);

  EXPECT_EQ(modo_at_show, std::vector<bool>{false});
  EXPECT_EQ(origen_at_show, std::vector<std::string>{"Base de Datos"});
  EXPECT_TRUE(ui.messages.empty());
  ASSERT_EQ(ended.count(), 1);
  EXPECT_EQ(ended.at(0).at(0).toInt(), 0);
  EXPECT_EQ(window.EndedWith(), std::optional<int>(0));
  EXPECT_FALSE(window.isVisible());
  EXPECT_GE(ui.busy_calls, 1);
  EXPECT_EQ(ui.busy_depth, 0);
  EXPECT_EQ(UserTableCount(path), 38u);
  // Each pressed button was disabled first; the hidden one was never pressed.
  for (const auto& b : maquetor::schema::CreationOrder()) {
    EXPECT_FALSE(Child<QPushButton>(window, b.name)->isEnabled()) << b.name;
  }
  EXPECT_TRUE(Child<QPushButton>(window, "direcciones")->isEnabled());
}

TEST_F(MainWindowTest, ACancelledDialogIsReportedOnceAndTheNextCrearAsksAgain) {
  steps = {CloseBox()};
  Select(0);
  ASSERT_EQ(ui.messages.size(), 1u);
  EXPECT_EQ(ui.messages[0].text, kNotCreated);
  EXPECT_EQ(ui.messages[0].title, "");
  EXPECT_EQ(ui.messages[0].icon, Icon::kInformation);
  EXPECT_EQ(state().BDatosTrabajo, "");

  steps = {CloseBox()};
  Select(0);
  EXPECT_EQ(modo_at_show.size(), 2u);
  EXPECT_EQ(ui.messages.size(), 2u);
  EXPECT_FALSE(Ended());
}

TEST_F(MainWindowTest, TheRealModalLoopEndsWhenTheDialogCloses) {
  window.SetModalShow(nullptr);
  bool seen = false;
  QTimer::singleShot(0, [&] {
    auto* dialog = qobject_cast<frmInserta*>(QApplication::activeModalWidget());
    seen = dialog != nullptr;
    if (dialog) dialog->close();
  });
  // Should the dialog stay open, close it and leave "Exit" behind.
  QTimer watchdog;
  watchdog.setSingleShot(true);
  QObject::connect(&watchdog, &QTimer::timeout, [] {
    state().BDatosTrabajo = "Exit";
    if (QWidget* modal = QApplication::activeModalWidget()) modal->close();
  });
  watchdog.start(10000);
  Select(0);
  EXPECT_TRUE(seen);
  ASSERT_EQ(ui.messages.size(), 1u);
  EXPECT_EQ(ui.messages[0].text, kNotCreated);
}

TEST_F(MainWindowTest, BorrarDeletesTheChosenFileAndKeepsItsPath) {
  Touch(dir.File("Vieja.mdb"));
  const std::string chosen = dir.File("VIEJA.mdb");  // as the user typed it
  ui.answers = {chosen};
  steps = {Press({"Origen"})};
  Select(1);
  EXPECT_EQ(origen_at_show, std::vector<std::string>{"Origen"});
  EXPECT_FALSE(std::filesystem::exists(dir.File("Vieja.mdb")));
  EXPECT_EQ(state().BDatosTrabajo, chosen);
  EXPECT_TRUE(ui.messages.empty());

  // Closed without a choice: no message, and the path is forgotten.
  state().BDatosTrabajo.clear();
  steps = {CloseBox()};
  Select(1);
  EXPECT_TRUE(ui.messages.empty());
  EXPECT_EQ(state().BDatosTrabajo, "");
}

TEST_F(MainWindowTest, MigrationWithTheDestinationChosenFirstEndsInExit) {
  const std::string working = dir.File("Trabajo.mdb");
  const std::string destination = dir.File("Destino.mdb");
  state().BDatosTrabajo = working;
  ui.answers = {destination};
  steps = {Press({"Destino"})};
  Select(8);

  EXPECT_EQ(modo_at_show, std::vector<bool>{true});
  EXPECT_TRUE(Child<QLabel>(window, "Label2")->isVisible());
  EXPECT_EQ(Child<QLabel>(window, "Label4")->text().toStdString(), working);
  ASSERT_EQ(ui.messages.size(), 1u);
  EXPECT_EQ(ui.messages[0].text, kNotCreated);
  EXPECT_EQ(state().BDatosTrabajo, "");
  EXPECT_EQ(state().BDatosDestino, destination);
  EXPECT_FALSE(std::filesystem::exists(destination));
  EXPECT_FALSE(Ended());
}

TEST_F(MainWindowTest, MigrationToAMissingDestinationOnlyCreatesItAndEndsTheProgram) {
  const std::string origin = Touch(dir.File("Origen.mdb"));
  const std::string destination = dir.File("Destino.mdb");
  ui.answers = {origin, destination};
  steps = {Press({"Origen", "Destino"})};
  Select(9);
  EXPECT_EQ(state().BDatosOrigen, origin);
  EXPECT_EQ(UserTableCount(destination), 38u);
  EXPECT_EQ(std::filesystem::file_size(origin), 1u);
  EXPECT_EQ(window.EndedWith(), std::optional<int>(0));
}

TEST_F(MainWindowTest, MigrationIntoAnExistingDestinationEndsTheProgramUnlessRefused) {
  const std::string origin = dir.File("Origen.mdb");
  const std::string destination = dir.File("Destino.mdb");
  ASSERT_TRUE(maquetor::schema::CrearBaseCompleta(origin));
  ASSERT_TRUE(maquetor::schema::CrearBaseCompleta(destination));

  ui.answers = {origin, origin};  // one file for both: refused, nothing opened
  steps = {Press({"Origen", "Destino"})};
  Select(8);
  ASSERT_EQ(ui.messages.size(), 1u);
  EXPECT_FALSE(Ended());

  ui.answers = {origin, destination};
  steps = {Press({"Origen", "Destino"})};
  Select(8);
  EXPECT_EQ(ui.messages.size(), 1u) << ui.messages.back().text;
  EXPECT_EQ(window.EndedWith(), std::optional<int>(0));
}

TEST_F(MainWindowTest, AnexarEndsTheProgramOnlyOnceAttached) {
  // Each in its own folder: two databases may not share one DOCS folder.
  std::filesystem::create_directories(dir.File("a"));
  std::filesystem::create_directories(dir.File("b"));
  const std::string origin = dir.File("a/Origen.mdb");
  const std::string destination = dir.File("b/Destino.mdb");
  ASSERT_TRUE(maquetor::schema::CrearBaseCompleta(origin));
  ASSERT_TRUE(maquetor::schema::CrearBaseCompleta(destination));

  ui.answers = {origin, origin};  // one database as both: refused
  steps = {Press({"Origen", "Destino"})};
  Click("Anexar");
  ASSERT_EQ(ui.messages.size(), 1u);
  EXPECT_EQ(ui.messages[0].title, "Error");
  EXPECT_FALSE(Ended());
  EXPECT_FALSE(Child<QLabel>(window, "Label4")->isVisible());

  ui.answers = {origin, destination};
  steps = {Press({"Origen", "Destino"})};
  Click("Anexar");
  EXPECT_EQ(ui.messages.size(), 1u);
  EXPECT_EQ(window.EndedWith(), std::optional<int>(0));
  EXPECT_EQ(state().BDatosDestino, "");
}

TEST_F(MainWindowTest, ATableButtonWithNoDatabaseReportsTheEngineErrorAndTheWindowGoesOn) {
  Click("Paises");
  ASSERT_EQ(ui.messages.size(), 1u);
  EXPECT_EQ(ui.messages[0].icon, Icon::kCritical);
  EXPECT_EQ(ui.messages[0].title, "");
  EXPECT_EQ(ui.messages[0].text.rfind("Error 3", 0), 0u) << ui.messages[0].text;
  EXPECT_TRUE(window.isVisible());
  EXPECT_FALSE(Ended());

  // Still usable: the same button fails the same way, and an option runs.
  Click("Paises");
  EXPECT_EQ(ui.messages.size(), 2u);
  Touch(dir.File("Borrame.mdb"));
  steps = {EnterInText1(dir.File("Borrame.mdb"))};
  Select(1);
  EXPECT_FALSE(std::filesystem::exists(dir.File("Borrame.mdb")));
  EXPECT_EQ(ui.messages.size(), 2u);
}

TEST_F(MainWindowTest, TheLoadsPressesHandFailuresAndTheEndToTheCaller) {
  window.ShowCreationLabels("/datos/Nueva.mdb");
  EXPECT_FALSE(Child<QLabel>(window, "Label1")->isVisible());
  EXPECT_TRUE(Child<QLabel>(window, "Label2")->isVisible());
  EXPECT_EQ(Child<QLabel>(window, "Label4")->text(), "/datos/Nueva.mdb");

  state().BDatosTrabajo = dir.File("falta/Nueva.mdb");
  EXPECT_THROW(window.SelectCrear(), jet::JetError);
  EXPECT_TRUE(ui.messages.empty());
  EXPECT_EQ(ui.busy_depth, 0);

  QSignalSpy ended(&window, &MaquetorAbog::ProgramEnded);
  state().BDatosTrabajo = dir.File("Nueva.mdb");
  EXPECT_THROW(window.SelectCrear(), maquetor::shell::EndOfProgram);
  EXPECT_TRUE(std::filesystem::exists(dir.File("Nueva.mdb")));
  EXPECT_EQ(ended.count(), 0);
}

TEST_F(MainWindowTest, SalirClosesTheWindow) {
  Click("salir");
  EXPECT_FALSE(window.isVisible());
}

TEST_F(MainWindowTest, RendersTheWindowAndTheDialogForLookingAt) {
  const auto folder = std::filesystem::path(MAQUETOR_BINARY_DIR) / "window";
  std::filesystem::create_directories(folder);
  auto save = [&](QWidget& widget, const char* name) {
    EXPECT_TRUE(widget.grab().save(QString::fromStdString((folder / name).string()))) << name;
  };
  save(window, "MaquetorAbog.png");
  for (bool modo : {false, true}) {
    frmInserta dialog;
    dialog.SetModo(modo);
    dialog.show();
    save(dialog, modo ? "frmInserta-Modo-true.png" : "frmInserta-Modo-false.png");
  }
  EXPECT_GT(std::filesystem::file_size(folder / "MaquetorAbog.png"), 1000u);
}

}  // namespace
