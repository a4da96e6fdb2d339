// The main window's behaviour without a toolkit: the option dispatch with
// the selection dialog answered by a script, whole-database creation,
// deletion, migration and attachment, failures reported with the window
// left open, and what the load's presses hand to their caller.
#include <filesystem>
#include <optional>
#include <set>

#include "forms_support.h"
#include "jet/dao.h"
#include "jet/error.h"
#include "schema/buttons.h"
#include "support/fault_file_system.h"
#include "support/jet_error.h"

namespace {

using namespace forms_testing;
using maquetor::shell::Icon;
using testing_support::Shown;
namespace fs = std::filesystem;

const Shown kNotCreated{"La base de datos no ha sido creada.", "", Icon::kInformation};

size_t UserTableCount(const std::string& path) {
  auto database = jet::dao::DBEngine::Instance().Workspaces(0).OpenDatabase(
      path, false, true, ";pwd=KTRW_BLM");
  size_t count = 0;
  for (const auto& table : database.TableDefs()) count += table.IsSystem() ? 0 : 1;
  database.Close();
  return count;
}

class MainWindowTest : public FormsTest {
 protected:
  MainWindowTest() {
    window.SetView(&view);
    window.SetVisible(true);
  }
  ~MainWindowTest() override { window.SetView(nullptr); }

  void Select(int index) { window.Click(window.Opcion(index)); }
  void ClickOn(const char* name) { window.Click(window.Find(name)); }
  const forms::ControlState& Control(const std::string& name) const {
    return window.State(window.Find(name));
  }
  bool Ended() const { return window.EndedWith().has_value(); }

  forms::MaquetorAbog window;
  FakeView view{window};
};

TEST_F(MainWindowTest, TheDescriptionHoldsWhatTheHandlersAndTheLoadUse) {
  std::set<std::string> names, frames;
  for (const auto& c : window.Description().controls) {
    EXPECT_TRUE(names.insert(forms::ControlName(c)).second) << forms::ControlName(c);
    if (c.kind == forms::ControlKind::kFrame) frames.insert(std::string(c.name));
    EXPECT_TRUE(c.frame.empty() || frames.contains(std::string(c.frame))) << c.name;
    // A table button runs the operation of its name.
    EXPECT_TRUE(c.frame != "Frame2" || maquetor::schema::FindButton(std::string(c.name))) << c.name;
  }
  for (int index = 0; index < 10; ++index) {
    EXPECT_EQ(window.Opcion(index) == forms::kNoControl, index == 4 || index == 5 || index == 7);
  }
  for (const auto& b : maquetor::schema::CreationOrder()) {
    const forms::ControlId id = window.Find(b.name);
    ASSERT_NE(id, forms::kNoControl) << b.name;
    EXPECT_TRUE(window.State(id).visible && window.State(id).enabled) << b.name;
  }
  EXPECT_FALSE(Control("direcciones").visible);
  // Unattended creation counts on it.
  EXPECT_TRUE(Control("Check1").checked);
}

TEST_F(MainWindowTest, WhatDoesNothing) {
  const std::string existing = Touch("Existe.mdb");
  const std::pair<const char*, std::function<void()>> cases[] = {
      {"Crear with Check1 cleared",
       [&] {
         ClickOn("Check1");
         Select(0);
         ClickOn("Check1");
       }},
      {"Crear on a file that exists, named in another case",
       [&] {
         state().BDatosTrabajo = dir.File("EXISTE.MDB");
         Select(0);
         state().BDatosTrabajo.clear();
       }},
      // Each would fail, with no database chosen, if it ran.
      {"a click on the disabled Insertar Países", [&] { Select(2); }},
      {"a click on the hidden direcciones", [&] { ClickOn("direcciones"); }},
      {"Pasar Base a Pesetas and the unused indexes",
       [&] {
         for (int index : {4, 5, 6, 7}) window.OpcionClick(index);
       }},
  };
  for (const auto& [what, act] : cases) {
    act();
    EXPECT_TRUE(view.shown.empty() && ui.messages.empty() && !Ended()) << what;
    EXPECT_EQ(fs::file_size(existing), 1u) << what;
  }
}

TEST_F(MainWindowTest, CrearThroughTheDialogBuildsTheWholeDatabaseAndEndsTheProgram) {
  const std::string path = dir.File("Despacho.mdb");
  view.steps = {TypeAndEnter("Text1", path)};
  Select(0);
  EXPECT_EQ(view.shown, (std::vector<FakeView::Showing>{{false, "Base de Datos", ""}}));
  EXPECT_TRUE(ui.messages.empty());
  EXPECT_EQ(window.EndedWith(), std::optional<int>(0));
  EXPECT_FALSE(window.Shown());
  EXPECT_EQ(view.calls.back(), "close");
  EXPECT_EQ(ui.pointer, (std::vector<bool>{true, false}));
  EXPECT_EQ(UserTableCount(path), 38u);
  // Each pressed button was disabled first, and the view told.
  for (const auto& b : maquetor::schema::CreationOrder()) {
    EXPECT_TRUE(!Control(b.name).enabled && view.Saw(std::string("enabled ") + b.name + " 0"))
        << b.name;
  }
  EXPECT_TRUE(Control("direcciones").enabled);
}

// A creation that fails, in its buttons or in putting the file in place,
// leaves neither the file nor its document folder: the next one makes and
// records the same folder.
TEST_F(MainWindowTest, AFailedCrearLeavesNeitherTheFileNorItsDocumentFolder) {
  const std::string path = dir.File("Despacho.mdb");
  testing_support::FaultFileSystem faults;
  int writes = 0;
  {
    testing_support::InstalledFileSystem installed(faults);
    ASSERT_TRUE(maquetor::schema::CrearBaseCompleta(path));
    writes = faults.writes();
    faults.Reboot();
  }
  fs::remove_all(dir.path());
  fs::create_directories(dir.path());
  for (const int write : {1, writes}) {
    SCOPED_TRACE(write);
    {
      testing_support::InstalledFileSystem installed(faults);
      faults.FailWrite(write, jet::kErrDiskFull, true);
      view.steps = {TypeAndEnter("Text1", path)};
      Select(0);
      faults.Reboot();
    }
    ASSERT_FALSE(ui.messages.empty());
    EXPECT_EQ(ui.messages.back().text.rfind("Error 3026", 0), 0u) << ui.messages.back().text;
    EXPECT_FALSE(Ended());
    EXPECT_TRUE(fs::is_empty(dir.path()));
  }
}

TEST_F(MainWindowTest, ACancelledCrearIsReportedOnceEachTimeAndAsksAgain) {
  for (size_t times : {1u, 2u}) {
    view.steps = {CloseBox()};
    Select(0);
    EXPECT_EQ(view.shown.size(), times);
    EXPECT_EQ(ui.messages, std::vector<Shown>(times, kNotCreated));
    EXPECT_EQ(state().BDatosTrabajo, "");
  }
  // With no view nobody can answer: the dialog closes unanswered rather
  // than being asked for ever.
  window.SetView(nullptr);
  Select(0);
  EXPECT_EQ(ui.messages.size(), 3u);
  EXPECT_FALSE(Ended());
}

TEST_F(MainWindowTest, BorrarDeletesTheChosenFileAndKeepsItsPath) {
  Touch("Vieja.mdb");
  const std::string chosen = dir.File("VIEJA.mdb");  // as the user typed it
  ui.answers = {chosen};
  view.steps = {Click({"Origen"}), CloseBox()};
  Select(1);
  EXPECT_EQ(view.shown[0].origen, "Origen");
  EXPECT_FALSE(fs::exists(dir.File("Vieja.mdb")));
  EXPECT_EQ(state().BDatosTrabajo, chosen);

  // Closed without a choice: no message, and the path is forgotten.
  state().BDatosTrabajo.clear();
  Select(1);
  EXPECT_TRUE(ui.messages.empty());
  EXPECT_EQ(state().BDatosTrabajo, "");
}

TEST_F(MainWindowTest, MigrationWithTheDestinationChosenFirstEndsInExit) {
  const std::string working = dir.File("Trabajo.mdb");
  const std::string destination = dir.File("Destino.mdb");
  state().BDatosTrabajo = working;
  ui.answers = {destination};
  view.steps = {Click({"Destino"})};
  Select(8);
  // The working database is offered as the destination.
  EXPECT_EQ(view.shown, (std::vector<FakeView::Showing>{{true, "Origen", working}}));
  EXPECT_TRUE(Control("Label2").visible && view.Saw("visible Label4 1"));
  EXPECT_TRUE(view.Saw("text Label4 " + working));
  EXPECT_EQ(ui.messages, std::vector<Shown>{kNotCreated});
  EXPECT_EQ(state().BDatosTrabajo, "");
  EXPECT_EQ(state().BDatosDestino, destination);
  EXPECT_FALSE(fs::exists(destination));
  EXPECT_FALSE(Ended());
}

TEST_F(MainWindowTest, MigrationToAMissingDestinationOnlyCreatesItAndEndsTheProgram) {
  const std::string origin = Touch("Origen.mdb");
  const std::string destination = dir.File("Destino.mdb");
  ui.answers = {origin, destination};
  view.steps = {Click({"Origen", "Destino"})};
  Select(9);
  EXPECT_EQ(state().BDatosOrigen, origin);
  EXPECT_EQ(UserTableCount(destination), 38u);
  EXPECT_EQ(fs::file_size(origin), 1u);
  EXPECT_EQ(window.EndedWith(), std::optional<int>(0));
}

// Migration and attachment into an existing destination: one database as
// both is refused and the window stays; two end the program once done.
TEST_F(MainWindowTest, MigrationAndAttachmentEndTheProgramUnlessRefused) {
  // Each in its own folder: two databases may not share one DOCS folder.
  fs::create_directories(dir.File("a"));
  fs::create_directories(dir.File("b"));
  const std::string origin = In("a", "Origen.mdb");
  const std::string destination = In("b", "Destino.mdb");
  ASSERT_TRUE(maquetor::schema::CrearBaseCompleta(origin));
  ASSERT_TRUE(maquetor::schema::CrearBaseCompleta(destination));
  struct Case {
    const char* button;
    int index;
    bool labels_shown;        // migration shows the destination labels
    const char* destination;  // BDatosDestino once done
  };
  for (const Case& c : {Case{"Opcion", 8, true, "destination"}, Case{"Anexar", -1, false, ""}}) {
    SCOPED_TRACE(c.button);
    forms::MaquetorAbog other;
    FakeView other_view(other);
    other.SetView(&other_view);
    ui.messages.clear();
    other_view.steps = {Click({"Origen", "Destino"}), Click({"Origen", "Destino"})};
    ui.answers = {origin, origin, origin, destination};
    const forms::ControlId id = other.Find(c.button, c.index);
    other.Click(id);
    ASSERT_EQ(ui.messages.size(), 1u);
    EXPECT_FALSE(other.EndedWith().has_value());
    other.Click(id);
    EXPECT_EQ(ui.messages.size(), 1u) << ui.messages.back().text;
    EXPECT_EQ(other.EndedWith(), std::optional<int>(0));
    EXPECT_EQ(other.State(other.Find("Label4")).visible, c.labels_shown);
    EXPECT_EQ(state().BDatosDestino, *c.destination ? destination : "");
    other.SetView(nullptr);
  }
}

TEST_F(MainWindowTest, AFailedClickIsReportedAndTheWindowGoesOn) {
  for (size_t times : {1u, 2u}) {
    ClickOn("Paises");  // no database chosen: the engine refuses the empty path
    ASSERT_EQ(ui.messages.size(), times);
    EXPECT_EQ(ui.messages.back().icon, Icon::kCritical);
    EXPECT_EQ(ui.messages.back().title, "");
    EXPECT_EQ(ui.messages.back().text.rfind("Error 3", 0), 0u) << ui.messages.back().text;
  }
  EXPECT_TRUE(window.Shown() && !view.Saw("close") && !Ended());
  // Still usable: an option runs.
  Touch("Borrame.mdb");
  view.steps = {TypeAndEnter("Text1", dir.File("Borrame.mdb"))};
  Select(1);
  EXPECT_FALSE(fs::exists(dir.File("Borrame.mdb")));
  EXPECT_EQ(ui.messages.size(), 2u);
}

TEST_F(MainWindowTest, TheLoadsPressesHandFailuresAndTheEndToTheCaller) {
  window.ShowCreationLabels("/datos/Nueva.mdb");
  EXPECT_FALSE(Control("Label1").visible || Control("Label3").visible);
  EXPECT_TRUE(Control("Label2").visible && Control("Label4").visible);
  EXPECT_EQ(Control("Label4").text, "/datos/Nueva.mdb");
  EXPECT_EQ(view.calls.back(), "repaint");

  state().BDatosTrabajo = In("falta", "Nueva.mdb");
  EXPECT_JET_ERROR(window.SelectCrear(), jet::kErrPathNotFound);
  EXPECT_TRUE(ui.messages.empty());
  EXPECT_EQ(ui.pointer, (std::vector<bool>{true, false}));
  EXPECT_TRUE(window.State(window.Opcion(0)).checked);

  state().BDatosTrabajo = dir.File("Nueva.mdb");
  EXPECT_THROW(window.SelectCrear(), maquetor::shell::EndOfProgram);
  EXPECT_TRUE(fs::exists(dir.File("Nueva.mdb")));
  EXPECT_FALSE(Ended() || view.Saw("close"));
}

TEST_F(MainWindowTest, OptionsAreExclusiveWithinTheirFrameAndClosingEndsNothing) {
  window.SetChecked(window.Opcion(3), true);
  window.SetChecked(window.Opcion(1), true);
  window.SetChecked(window.Opcion(0), true);
  EXPECT_FALSE(window.State(window.Opcion(1)).checked);
  EXPECT_TRUE(window.State(window.Opcion(3)).checked);
  // The new option is checked before the old one is cleared.
  const auto on = std::find(view.calls.begin(), view.calls.end(), "checked Opcion(0) 1");
  EXPECT_NE(std::find(on, view.calls.end(), "checked Opcion(1) 0"), view.calls.end());

  // Salir and the close box close the window with no status of their own.
  ClickOn("salir");
  window.CloseBox();
  EXPECT_EQ(std::count(view.calls.begin(), view.calls.end(), "close"), 2);
  EXPECT_FALSE(window.Shown() || Ended());
}

}  // namespace
