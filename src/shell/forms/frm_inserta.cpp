#include "shell/forms/frm_inserta.h"

#include <string_view>

#include "db/program_state.h"
#include "shell/paths.h"
#include "shell/ui.h"

namespace maquetor::shell::forms {
namespace {

using db::ProgramState;

constexpr const char* kFilter = "Bases de datos (*.mdb)|*.mdb";
constexpr const char* kNoSelection = "No se ha realizado ninguna selección.";
constexpr const char* kMustBeNew = "Debe Seleccionar una Base no existente.";
constexpr const char* kMustExist = "Debe Seleccionar una Base ya existente.";
constexpr const char* kOneDatabase =
    "Escribe el Path completo de la nueva base a crear o de la base de datos existente con la "
    "que deseas trabajar en el cuadro, o seleccionala desde el boton 'Base Datos'";
// Two line breaks between the sentences.
constexpr const char* kTwoDatabases =
    "Para seleccionar un Nuevo Origen presione Origen.\n\nSelecciona la base de destino.";

constexpr Control Box(std::string_view name, bool visible) {
  return {.name = name, .kind = ControlKind::kTextBox, .visible = visible};
}
constexpr Control Button(std::string_view name, std::string_view caption, bool visible) {
  return {.name = name, .kind = ControlKind::kButton, .caption = caption, .visible = visible};
}

constexpr Control kControls[] = {
    Button("Origen", "Origen", true),
    Button("Destino", "Destino", false),
    {.name = "LbTexto", .kind = ControlKind::kLabel, .caption = "Label1"},
    Box("Text1", true),
    Button("CmdExit", "Terminar", false),
    Box("Text2", false),
};

constexpr FormDescription kDesign{"frmInserta", "Bases de Datos", kControls};

std::string Trimmed(const std::string& text) {
  const auto first = text.find_first_not_of(' ');
  if (first == std::string::npos) return {};
  return text.substr(first, text.find_last_not_of(' ') - first + 1);
}

std::string WithoutAccessKey(std::string caption) {
  std::erase(caption, '&');
  return caption;
}

}  // namespace

frmInserta::frmInserta()
    : Form(kDesign),
      lb_texto_(Find("LbTexto")),
      text1_(Find("Text1")),
      origen_(Find("Origen")),
      text2_(Find("Text2")),
      destino_(Find("Destino")),
      cmd_exit_(Find("CmdExit")) {}

void frmInserta::SetModo(bool modo) {
  modo_ = modo;
  if (modo) {
    for (ControlId id : {origen_, text1_, destino_, text2_, cmd_exit_}) SetVisible(id, true);
    SetText(lb_texto_, kTwoDatabases);
  } else {
    SetText(lb_texto_, kOneDatabase);
    SetText(origen_, "Base de Datos");
    for (ControlId id : {destino_, text2_, cmd_exit_}) SetVisible(id, false);
  }
}

void frmInserta::OnClick(ControlId id) {
  if (id == origen_) {
    OrigenClick();
  } else if (id == destino_) {
    DestinoClick();
  } else if (id == cmd_exit_) {
    CmdExitClick();
  }
}

void frmInserta::OnClose() {
  if (Trimmed(State(text1_).text).empty()) ProgramState::Instance().BDatosTrabajo = db::kExitMarker;
}

std::string frmInserta::ChooseFile() {
  std::string chosen = CurrentUi().ChooseFile(file_title_, kFilter);
  CurrentUi().ProcessEvents();
  return chosen;
}

void frmInserta::CloseAndLetEventsRun() {
  Close();
  CurrentUi().ProcessEvents();
}

void frmInserta::OrigenClick() {
  auto& state = ProgramState::Instance();
  std::string chosen = ChooseFile();
  if (chosen.empty()) {
    CurrentUi().Message(kNoSelection, "MENSAJE", Icon::kInformation);
    Focus(origen_);
    return;
  }
  state.BDatosTrabajo = chosen;

  // Captioned "Origen", the button picks an existing database; otherwise
  // the name of one to create.
  const bool want_existing = WithoutAccessKey(State(origen_).text) == "Origen";
  file_title_ = want_existing ? "Abrir" : "Crear";
  while (ExistsAsListed(chosen) != want_existing) {
    CurrentUi().Message(want_existing ? kMustExist : kMustBeNew, "", Icon::kInformation);
    state.BDatosTrabajo.clear();
    chosen = ChooseFile();
    if (chosen.empty()) {
      state.BDatosTrabajo = db::kExitMarker;
      CloseAndLetEventsRun();
      return;
    }
  }

  state.BDatosOrigen = chosen;
  SetText(text1_, chosen);
  state.BDatosTrabajo = State(text1_).text;
  // With two databases the destination is still to come.
  if (!modo_) CloseAndLetEventsRun();
}

void frmInserta::DestinoClick() {
  const std::string chosen = ChooseFile();
  file_title_ = "Crear";
  if (chosen.empty()) {
    CurrentUi().Message(kNoSelection, "MENSAJE", Icon::kInformation);
    Focus(destino_);
    return;
  }
  ProgramState::Instance().BDatosDestino = chosen;
  SetText(text2_, chosen);
  CloseAndLetEventsRun();
}

void frmInserta::CmdExitClick() {
  if (State(text2_).text.empty()) ProgramState::Instance().BDatosDestino.clear();
  CloseAndLetEventsRun();
}

void frmInserta::OnEnter(ControlId id) {
  if (id != text1_ && id != text2_) return;
  // A typed path is taken when its folder exists; the file itself need not.
  const std::string path = Trimmed(State(id).text);
  const auto last = path.find_last_of(kSeparator);
  // Without a separator there is no folder to look for, and with nothing
  // after the last one no file is named: the key does nothing.
  if (last == std::string::npos || last + 1 == path.size()) return;
  if (!ExistsAsListed(path.substr(0, last), Listing::kWithDirectories)) return;
  ProgramState::Instance().BDatosTrabajo = path;
  CloseAndLetEventsRun();
}

}  // namespace maquetor::shell::forms
