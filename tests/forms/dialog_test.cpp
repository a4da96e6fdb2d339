// The selection dialog without a toolkit: both layouts, the Enter key, the
// file choices of Origen and Destino, and what each way of closing leaves
// in the program-wide paths.
#include <filesystem>

#include "forms_support.h"

namespace {

using namespace forms_testing;
using maquetor::shell::Icon;
using testing_support::Shown;

class DialogTest : public FormsTest {
 protected:
  DialogTest() {
    dialog.SetView(&view);
    dialog.SetModo(true);
    dialog.Opened();
  }
  ~DialogTest() override { dialog.SetView(nullptr); }

  const forms::ControlState& Control(const char* name) const {
    return dialog.State(dialog.Find(name));
  }

  forms::frmInserta dialog;
  FakeView view{dialog};
};

TEST_F(DialogTest, BothLayouts) {
  for (bool modo : {true, false}) {
    dialog.SetModo(modo);
    for (const char* name : {"Text2", "Destino", "CmdExit"}) {
      EXPECT_EQ(Control(name).visible, modo) << name;
      EXPECT_TRUE(view.Saw(std::string("visible ") + name + (modo ? " 1" : " 0"))) << name;
    }
    EXPECT_TRUE(Control("Text1").visible && Control("Origen").visible);
  }
  // With one database, Origen asks for a new one.
  EXPECT_EQ(Control("Origen").text, "Base de Datos");
  forms::frmInserta fresh;
  EXPECT_FALSE(fresh.State(fresh.Find("Destino")).visible);
}

TEST_F(DialogTest, EnterAcceptsOnlyAPathWhoseFolderExists) {
  // No separator, nothing after the last one, a missing folder: nothing.
  for (const std::string& text : {std::string("Nueva.mdb"), dir.File("sub") + maquetor::shell::kSeparator,
                                  In("falta", "Nueva.mdb")}) {
    TypeAndEnter("Text1", text)(dialog);
    EXPECT_TRUE(dialog.Shown()) << text;
    EXPECT_EQ(state().BDatosTrabajo, "") << text;
  }
  // The folder is found whatever its case; the file need not exist.
  std::filesystem::create_directory(dir.File("Datos"));
  TypeAndEnter("Text1", "  " + In("DATOS", "Nueva.mdb") + " ")(dialog);
  EXPECT_FALSE(dialog.Shown());
  EXPECT_EQ(view.calls.back(), "close");
  EXPECT_EQ(state().BDatosTrabajo, In("DATOS", "Nueva.mdb"));
}

TEST_F(DialogTest, OrigenForANewDatabaseRefusesAnExistingFileAndAsksAgainAsCrear) {
  Touch("Vieja.mdb");
  const std::string fresh = dir.File("Nueva.mdb");
  dialog.SetModo(false);
  Click({"Origen"})(dialog);  // cancelled
  EXPECT_TRUE(dialog.Shown());
  EXPECT_EQ(view.calls.back(), "focus Origen");

  ui.answers = {dir.File("VIEJA.MDB"), fresh};  // the existing file, in another case
  Click({"Origen"})(dialog);
  EXPECT_EQ(ui.messages,
            (std::vector<Shown>{{"No se ha realizado ninguna selección.", "MENSAJE", Icon::kInformation},
                                {"Debe Seleccionar una Base no existente.", "", Icon::kInformation}}));
  EXPECT_EQ(ui.titles, (std::vector<std::string>{"", "", "Crear"}));
  EXPECT_EQ(ui.filters.back(), "Bases de datos (*.mdb)|*.mdb");
  EXPECT_GE(ui.events, 3);  // after each file dialog, and after closing
  EXPECT_FALSE(dialog.Shown());
  EXPECT_EQ(state().BDatosTrabajo, fresh);
  EXPECT_EQ(state().BDatosOrigen, fresh);
  EXPECT_EQ(Control("Text1").text, fresh);
  EXPECT_TRUE(view.Saw("text Text1 " + fresh));
}

TEST_F(DialogTest, OrigenForAnExistingDatabaseGivesExitWhenTheSecondChoiceIsCancelled) {
  dialog.SetModo(false);
  dialog.SetText(dialog.Find("Origen"), "&Origen");  // an access key changes nothing
  ui.answers = {dir.File("Falta.mdb")};
  Click({"Origen"})(dialog);
  EXPECT_EQ(ui.messages, (std::vector<Shown>{{"Debe Seleccionar una Base ya existente.", "",
                                              Icon::kInformation}}));
  EXPECT_EQ(ui.titles, (std::vector<std::string>{"", "Abrir"}));
  EXPECT_FALSE(dialog.Shown());
  EXPECT_EQ(state().BDatosTrabajo, "Exit");
}

TEST_F(DialogTest, ClosingLeavesExitOnlyWhenText1IsBlank) {
  const std::string destination = dir.File("Destino.mdb");
  struct Case {
    const char* how;
    std::string text1, text2;
    Step close;
    const char *trabajo, *destino;
  };
  const Case cases[] = {
      // Text2 empty: the destination is forgotten too.
      {"CmdExit", "", "", Click({"CmdExit"}), "Exit", ""},
      {"CmdExit with Text2", "", "otra.mdb", Click({"CmdExit"}), "Exit", "antes.mdb"},
      {"Escape, a path typed but not entered", "escrito", "otra.mdb", CloseBox(), "", "antes.mdb"},
      {"Escape, blanks only", "   ", "", CloseBox(), "Exit", "antes.mdb"},
      // Enter in Text2 answers in BDatosTrabajo, which the blank Text1 then
      // turns into "Exit".
      {"Enter in Text2", "", destination, TypeAndEnter("Text2", destination), "Exit", "antes.mdb"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.how);
    state() = {};
    state().BDatosDestino = "antes.mdb";
    forms::frmInserta d;
    d.SetModo(true);
    d.Opened();
    d.TextEdited(d.Find("Text1"), c.text1);
    d.TextEdited(d.Find("Text2"), c.text2);
    c.close(d);
    EXPECT_FALSE(d.Shown());
    EXPECT_EQ(state().BDatosTrabajo, c.trabajo);
    EXPECT_EQ(state().BDatosDestino, c.destino);
  }
}

}  // namespace
