#include "shell/forms/maquetor_abog.h"

#include <filesystem>
#include <stdexcept>
#include <string_view>
#include <system_error>

#include "auxdb/report_catalog.h"
#include "auxdb/user_control.h"
#include "currency/moneda.h"
#include "db/engine.h"
#include "db/file_name.h"
#include "db/program_state.h"
#include "documents/anexar.h"
#include "migrate/migration.h"
#include "schema/buttons.h"
#include "shell/forms/frm_inserta.h"
#include "shell/paths.h"
#include "shell/ui.h"

namespace maquetor::shell::forms {
namespace {

using db::ProgramState;
namespace fs = std::filesystem;

constexpr const char* kNotCreated = "La base de datos no ha sido creada.";
constexpr const char* kNoOrigin = "No hay Base de Datos Origen";
constexpr std::string_view kTables = "Frame2";

constexpr Control Frame(std::string_view name, std::string_view caption) {
  return {.name = name, .kind = ControlKind::kFrame, .caption = caption};
}
constexpr Control Option(int index, std::string_view caption, std::string_view frame,
                         bool enabled = true) {
  return {.name = "Opcion", .index = index, .kind = ControlKind::kOptionButton,
          .caption = caption, .frame = frame, .enabled = enabled};
}
constexpr Control Button(std::string_view name, std::string_view caption, std::string_view frame) {
  return {.name = name, .kind = ControlKind::kButton, .caption = caption, .frame = frame};
}
constexpr Control Table(std::string_view name, std::string_view caption, int column,
                        bool visible = true) {
  return {.name = name, .kind = ControlKind::kButton, .caption = caption, .frame = kTables,
          .column = column, .visible = visible};
}
constexpr Control Label(std::string_view name, std::string_view caption, bool visible) {
  return {.name = name, .kind = ControlKind::kLabel, .caption = caption, .visible = visible};
}
constexpr Control Line(std::string_view name) {
  return {.name = name, .kind = ControlKind::kLine, .frame = "Frame"};
}

constexpr Control kControls[] = {
    Frame("FrameUtilidades", "Utilidades"),
    // There is no conversion towards pesetas: shown, never selectable.
    Option(6, "Pasar Base a Pesetas", "FrameUtilidades", false),
    Option(3, "Pasar Base a Euros", "FrameUtilidades"),
    Frame("Frame3", "Bases de Datos Complementarias"),
    Button("REPORT", "Crea Base de Rpt", "Frame3"),
    {.name = "CmdControl", .kind = ControlKind::kButton, .caption = "Crear Control de Usuarios",
     .tool_tip = "Control de Usuarios", .frame = "Frame3"},
    {.name = "Check1", .kind = ControlKind::kCheckBox, .caption = "Seleccionar todas las tablas",
     .checked = true},
    Frame("Frame", "Acciones Base de Datos Principal"),
    Option(0, "Crear", "Frame"),
    Option(1, "Borrar", "Frame"),
    Option(2, "Insertar Países", "Frame", false),
    Line("Line1"),
    Option(8, "Pasar V8 V8", "Frame"),
    Option(9, "Pasar V7 V8", "Frame"),
    Line("Line2"),
    Button("Anexar", "Anexar Documentos", "Frame"),
    Button("salir", "&Salir", "Frame"),
    Frame(kTables, "Tablas existentes"),
    Table("Laboral", "Laboral", 0),
    Table("EProcesales", "E.Procesales", 0),
    Table("SubMaterias", "SubMaterias", 0),
    Table("Materias", "Materias", 0),
    Table("GProvi", "Gestión Provisiones", 0),
    Table("CmdConfig", "Configuración", 0),
    Table("cContable", "Cuenta Contable", 0),
    Table("Gastos", "Gastos", 0),
    Table("CmdDocAsun", "DocAsuntos", 0),
    Table("GNoJudicial", "Gestión No Judicial", 0),
    Table("GCobros", "Gestión de Cobros", 0),
    Table("GNJudiciales", "Gastos No Judiciales", 0),
    Table("Derechos", "Derechos", 0),
    Table("Minuta", "Minuta", 0),
    Table("contable", "Gastos. Judiciales", 0),
    Table("historico", "Historico", 0),
    Table("CLIENTEPODER", "CLIENTEPODER", 1),
    Table("Paises", "Paises", 1),
    Table("Clientes", "Clientes", 1),
    Table("Contrarios", "Contrarios", 1),
    Table("Intervinientes", "Interviniente", 1),
    Table("clienteAsunto", "ClienteAsunto", 1),
    Table("ContrarioAsunto", "ContrarioAsunto", 1),
    Table("IntervinienteAsunto", "IntervinienteAsunto", 1),
    Table("Poder", "Poder", 1),
    Table("Abogados", "Abogados", 1),
    Table("Juzgados", "Juzgados", 1),
    Table("Asuntos", "Asuntos", 1),
    Table("Procuradores", "Procuradores", 1),
    Table("Documentos", "Documentos", 1),
    // The party buttons build the address tables through it; never shown.
    Table("direcciones", "T_Dir", 1, false),
    Label("Label1", "Base de Datos Origen", true),
    Label("Label3", kNoOrigin, true),
    Label("Label2", "Base de Datos Destino", false),
    Label("Label4", "No hay Base de Datos Destino", false),
};

constexpr FormDescription kDesign{
    "MaquetorAbog", "Maquetor de Tablas para Grupo de Despachos de Abogados", kControls};

}  // namespace

MaquetorAbog::MaquetorAbog()
    : Form(kDesign),
      check1_(Find("Check1")),
      label1_(Find("Label1")),
      label2_(Find("Label2")),
      label3_(Find("Label3")),
      label4_(Find("Label4")),
      cmd_control_(Find("CmdControl")),
      report_(Find("REPORT")),
      anexar_(Find("Anexar")),
      salir_(Find("salir")) {}

void MaquetorAbog::SetView(MainView* view) {
  main_view_ = view;
  Bind(view);
}

ControlId MaquetorAbog::Opcion(int index) const { return Find("Opcion", index); }

void MaquetorAbog::SetVisible(bool visible) {
  ShowForm(visible);
  Repaint();
}

void MaquetorAbog::ShowCreationLabels(const std::string& path) {
  SetVisible(label1_, false);
  SetVisible(label3_, false);
  SetText(label4_, path);
  SetVisible(label2_, true);
  SetVisible(label4_, true);
  if (Shown()) Repaint();
}

void MaquetorAbog::PressCmdControl() { Press(cmd_control_); }

void MaquetorAbog::PressREPORT() { Press(report_); }

void MaquetorAbog::SelectCrear() { Press(Opcion(0)); }

void MaquetorAbog::OnClick(ControlId id) {
  const Control& control = Design(id);
  if (control.name == "Opcion") {
    OpcionClick(control.index);
  } else if (control.frame == kTables) {
    schema::FindButton(std::string(control.name))(ProgramState::Instance().BDatosTrabajo);
  } else if (id == cmd_control_) {
    auxdb::CmdControl();
  } else if (id == report_) {
    auxdb::REPORT();
  } else if (id == anexar_) {
    AnexarClick();
  } else if (id == salir_) {
    Close();
  }
}

void MaquetorAbog::OpcionClick(int index) {
  switch (index) {
    case 0:
      Crear();
      break;
    case 1:
      Borrar();
      break;
    case 2:
      schema::InsertarPaises(ProgramState::Instance().BDatosTrabajo);
      break;
    case 3:
      currency::CambiarMoneda();
      break;
    case 8:
    case 9:
      Migrar(index);
      break;
    default:
      break;  // "Pasar Base a Pesetas" and the unused indexes do nothing
  }
}

void MaquetorAbog::ShowModal(frmInserta& dialog) {
  dialog.Opened();
  if (main_view_) main_view_->ShowModal(dialog);
  // Nobody to answer (no window, or a view that returned early): it closes
  // unanswered, so the caller's loop ends.
  if (dialog.Shown()) dialog.Close();
  if (const auto status = dialog.EndedWith()) throw EndOfProgram{*status};
}

void MaquetorAbog::Crear() {
  if (!State(check1_).checked) return;
  auto& state = ProgramState::Instance();
  frmInserta dialog;
  while (state.BDatosTrabajo.empty()) {
    dialog.SetModo(false);
    ShowModal(dialog);
  }
  if (state.BDatosTrabajo != db::kExitMarker) {
    CrearBaseCompleta();
  } else {
    CurrentUi().Message(kNotCreated, "", Icon::kInformation);
    state.BDatosTrabajo.clear();
  }
}

void MaquetorAbog::Borrar() {
  auto& state = ProgramState::Instance();
  frmInserta dialog;
  while (state.BDatosTrabajo.empty()) {
    dialog.SetModo(false);
    dialog.SetText(dialog.Find("Origen"), "Origen");
    ShowModal(dialog);
  }
  // The path stays chosen: a later "Crear" makes that same file again.
  if (state.BDatosTrabajo != db::kExitMarker) {
    BorrarBase();
  } else {
    state.BDatosTrabajo.clear();
  }
}

void MaquetorAbog::Migrar(int index) {
  auto& state = ProgramState::Instance();
  SetVisible(label2_, true);
  SetVisible(label4_, true);
  AskOriginAndDestination();
  if (state.BDatosTrabajo == db::kExitMarker) {
    CurrentUi().Message(kNotCreated, "", Icon::kInformation);
    state.BDatosTrabajo.clear();
    return;
  }
  // A destination still to be made is only created; the copy waits for a
  // later run, when it exists.
  if (!ExistsAsListed(state.BDatosDestino)) {
    state.BDatosTrabajo = state.BDatosDestino;
    CrearBaseCompleta();
  }
  const migrate::MigrationReport report =
      index == 8 ? migrate::MigrarV8V8() : migrate::MigrarV7V8();
  // A run refused before anything was opened has told the user why; the
  // window stays for another choice.
  if (report.refused) return;
  throw EndOfProgram{0};
}

void MaquetorAbog::AskOriginAndDestination() {
  auto& state = ProgramState::Instance();
  frmInserta dialog;
  // The working database, if one is chosen, is offered as the destination.
  if (!state.BDatosTrabajo.empty()) state.BDatosDestino = state.BDatosTrabajo;
  state.BDatosTrabajo.clear();
  dialog.SetText(dialog.Find("Text2"), state.BDatosDestino);
  SetText(label4_, state.BDatosDestino);
  SetText(label3_, kNoOrigin);
  while (state.BDatosTrabajo.empty()) {
    dialog.SetModo(true);
    ShowModal(dialog);
  }
}

void MaquetorAbog::AnexarClick() {
  auto& state = ProgramState::Instance();
  AskOriginAndDestination();
  if (state.BDatosTrabajo == db::kExitMarker) state.BDatosTrabajo.clear();
  if (documents::AnexarDocumentos().outcome == documents::Outcome::kAttached) {
    throw EndOfProgram{0};
  }
}

void MaquetorAbog::CrearBaseCompleta() {
  auto& state = ProgramState::Instance();
  if (ExistsAsListed(state.BDatosTrabajo)) return;
  // The configuration row records the document folder beside the database
  // by its full path, so a path typed relative is made whole first.
  std::error_code ec;
  const fs::path whole = fs::absolute(db::FsPath(state.BDatosTrabajo), ec);
  if (!ec && !state.BDatosTrabajo.empty()) state.BDatosTrabajo = db::Utf8Name(whole);
  const std::string path = state.BDatosTrabajo;
  {
    BusyPointer busy;
    // Ours stays open while the buttons open the file again, so that the
    // database appears at its path once, whole; a failure leaves nothing there.
    const schema::FoldersBeside folders(path);
    jet::dao::Database db = db::CreateMainDatabase(path);
    try {
      for (const schema::NamedButton& b : schema::CreationOrder()) {
        const ControlId button = Find(b.name);
        SetEnabled(button, false);
        Press(button);
      }
    } catch (...) {
      db.Discard();
      folders.RemoveNewEmpty();
      throw;
    }
    try {
      db.Close();
    } catch (...) {
      folders.RemoveNewEmpty();
      throw;
    }
  }
  throw EndOfProgram{0};
}

void MaquetorAbog::BorrarBase() {
  const std::string& path = ProgramState::Instance().BDatosTrabajo;
  if (path.empty()) return;
  // The path may name the file in another case, as the selection accepts.
  const fs::path file = db::FsPath(ResolveCase(path));
  std::error_code ec;
  if (!fs::is_regular_file(file, ec)) {
    throw std::runtime_error("No se encuentra el archivo '" + path + "'.");
  }
  if (!fs::remove(file, ec)) {
    throw std::runtime_error("No se puede borrar el archivo '" + path + "': " + ec.message());
  }
}

}  // namespace maquetor::shell::forms
