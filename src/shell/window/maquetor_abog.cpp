#include "shell/window/maquetor_abog.h"

#include <filesystem>
#include <stdexcept>
#include <system_error>

#include <QCheckBox>
#include <QFrame>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QVBoxLayout>

#include "auxdb/report_catalog.h"
#include "auxdb/user_control.h"
#include "currency/moneda.h"
#include "db/engine.h"
#include "db/program_state.h"
#include "documents/anexar.h"
#include "migrate/migration.h"
#include "schema/buttons.h"
#include "shell/paths.h"
#include "shell/ui.h"
#include "shell/window/error_report.h"
#include "shell/window/frm_inserta.h"

namespace maquetor::shell {
namespace {

using db::ProgramState;

constexpr const char* kNotCreated = "La base de datos no ha sido creada.";
constexpr const char* kNoOrigin = "No hay Base de Datos Origen";

struct TableButton {
  const char* name;
  const char* caption;
  schema::Button press;
};

// The two columns of "Tablas existentes", top to bottom.
constexpr TableButton kLeftColumn[] = {
    {"Laboral", "Laboral", schema::Laboral},
    {"EProcesales", "E.Procesales", schema::EProcesales},
    {"SubMaterias", "SubMaterias", schema::SubMaterias},
    {"Materias", "Materias", schema::Materias},
    {"GProvi", "Gestión Provisiones", schema::GProvi},
    {"CmdConfig", "Configuración", schema::CmdConfig},
    {"cContable", "Cuenta Contable", schema::cContable},
    {"Gastos", "Gastos", schema::Gastos},
    {"CmdDocAsun", "DocAsuntos", schema::CmdDocAsun},
    {"GNoJudicial", "Gestión No Judicial", schema::GNoJudicial},
    {"GCobros", "Gestión de Cobros", schema::GCobros},
    {"GNJudiciales", "Gastos No Judiciales", schema::GNJudiciales},
    {"Derechos", "Derechos", schema::Derechos},
    {"Minuta", "Minuta", schema::Minuta},
    {"contable", "Gastos. Judiciales", schema::contable},
    {"historico", "Historico", schema::historico},
};
constexpr TableButton kRightColumn[] = {
    {"CLIENTEPODER", "CLIENTEPODER", schema::CLIENTEPODER},
    {"Paises", "Paises", schema::Paises},
    {"Clientes", "Clientes", schema::Clientes},
    {"Contrarios", "Contrarios", schema::Contrarios},
    {"Intervinientes", "Interviniente", schema::Intervinientes},
    {"clienteAsunto", "ClienteAsunto", schema::clienteAsunto},
    {"ContrarioAsunto", "ContrarioAsunto", schema::ContrarioAsunto},
    {"IntervinienteAsunto", "IntervinienteAsunto", schema::IntervinienteAsunto},
    {"Poder", "Poder", schema::Poder},
    {"Abogados", "Abogados", schema::Abogados},
    {"Juzgados", "Juzgados", schema::Juzgados},
    {"Asuntos", "Asuntos", schema::Asuntos},
    {"Procuradores", "Procuradores", schema::Procuradores},
    {"Documentos", "Documentos", schema::Documentos},
    // The party buttons build the address tables through it; never shown.
    {"direcciones", "T_Dir", schema::direcciones},
};


QString Text(const char* utf8) { return QString::fromUtf8(utf8); }
QString Text(const std::string& utf8) { return QString::fromStdString(utf8); }

QLabel* AddLabel(QWidget* parent, const char* name, const char* caption, bool visible) {
  auto* label = new QLabel(Text(caption), parent);
  label->setObjectName(Text(name));
  label->setVisible(visible);
  return label;
}

QFrame* AddLine(QWidget* parent, const char* name) {
  auto* line = new QFrame(parent);
  line->setObjectName(Text(name));
  line->setFrameShape(QFrame::HLine);
  line->setFrameShadow(QFrame::Sunken);
  return line;
}

QGroupBox* AddFrame(QWidget* parent, const char* name, const char* caption) {
  auto* frame = new QGroupBox(Text(caption), parent);
  frame->setObjectName(Text(name));
  return frame;
}

}  // namespace

MaquetorAbog::MaquetorAbog(QWidget* parent) : QWidget(parent) {
  setObjectName(QStringLiteral("MaquetorAbog"));
  setWindowTitle(QStringLiteral("Maquetor de Tablas para Grupo de Despachos de Abogados"));

  auto* utilidades = AddFrame(this, "FrameUtilidades", "Utilidades");
  auto* utilidades_layout = new QVBoxLayout(utilidades);
  utilidades_layout->addWidget(AddOption(utilidades, 6, "Pasar Base a Pesetas"));
  utilidades_layout->addWidget(AddOption(utilidades, 3, "Pasar Base a Euros"));
  // There is no conversion towards pesetas: shown, never selectable.
  opcion_[6]->setEnabled(false);

  auto* complementarias = AddFrame(this, "Frame3", "Bases de Datos Complementarias");
  auto* complementarias_layout = new QVBoxLayout(complementarias);
  report_ = AddButton(complementarias, "REPORT", "Crea Base de Rpt", auxdb::REPORT);
  cmd_control_ = AddButton(complementarias, "CmdControl", "Crear Control de Usuarios",
                           auxdb::CmdControl);
  cmd_control_->setToolTip(QStringLiteral("Control de Usuarios"));
  complementarias_layout->addWidget(report_);
  complementarias_layout->addWidget(cmd_control_);

  check1_ = new QCheckBox(QStringLiteral("Seleccionar todas las tablas"), this);
  check1_->setObjectName(QStringLiteral("Check1"));
  check1_->setChecked(true);

  auto* acciones = AddFrame(this, "Frame", "Acciones Base de Datos Principal");
  auto* acciones_layout = new QVBoxLayout(acciones);
  acciones_layout->addWidget(AddOption(acciones, 0, "Crear"));
  acciones_layout->addWidget(AddOption(acciones, 1, "Borrar"));
  acciones_layout->addWidget(AddOption(acciones, 2, "Insertar Países"));
  opcion_[2]->setEnabled(false);
  acciones_layout->addWidget(AddLine(acciones, "Line1"));
  acciones_layout->addWidget(AddOption(acciones, 8, "Pasar V8 V8"));
  acciones_layout->addWidget(AddOption(acciones, 9, "Pasar V7 V8"));
  acciones_layout->addWidget(AddLine(acciones, "Line2"));
  acciones_layout->addWidget(AddButton(acciones, "Anexar", "Anexar Documentos",
                                       [this] { AnexarClick(); }));
  acciones_layout->addWidget(AddButton(acciones, "salir", "&Salir", [this] { close(); }));

  auto* tablas = AddFrame(this, "Frame2", "Tablas existentes");
  auto* tablas_layout = new QGridLayout(tablas);
  auto add_column = [&](const auto& column, int x) {
    int y = 0;
    for (const TableButton& t : column) {
      const schema::Button press = t.press;
      QPushButton* button = AddButton(tablas, t.name, t.caption, [press] {
        press(ProgramState::Instance().BDatosTrabajo);
      });
      table_buttons_[t.name] = button;
      tablas_layout->addWidget(button, y++, x);
    }
  };
  add_column(kLeftColumn, 0);
  add_column(kRightColumn, 1);
  table_buttons_.at("direcciones")->hide();

  label1_ = AddLabel(this, "Label1", "Base de Datos Origen", true);
  label3_ = AddLabel(this, "Label3", kNoOrigin, true);
  label2_ = AddLabel(this, "Label2", "Base de Datos Destino", false);
  label4_ = AddLabel(this, "Label4", "No hay Base de Datos Destino", false);

  auto* left = new QVBoxLayout;
  left->addWidget(utilidades);
  left->addWidget(complementarias);
  left->addWidget(check1_);
  left->addWidget(acciones);
  left->addStretch();
  auto* top = new QHBoxLayout;
  top->addLayout(left);
  top->addWidget(tablas, 1);
  auto* whole = new QVBoxLayout(this);
  whole->addLayout(top);
  whole->addWidget(label1_);
  whole->addWidget(label3_);
  whole->addWidget(label2_);
  whole->addWidget(label4_);
}

QPushButton* MaquetorAbog::AddButton(QWidget* parent, const char* name, const char* caption,
                                     std::function<void()> handler) {
  auto* button = new QPushButton(Text(caption), parent);
  button->setObjectName(Text(name));
  handlers_[button] = std::move(handler);
  connect(button, &QPushButton::clicked, this, [this, button] { RunClick(handlers_.at(button)); });
  return button;
}

QRadioButton* MaquetorAbog::AddOption(QWidget* parent, int index, const char* caption) {
  auto* option = new QRadioButton(Text(caption), parent);
  option->setObjectName(QStringLiteral("Opcion(%1)").arg(index));
  opcion_[index] = option;
  // Clicking an option already selected runs it again.
  connect(option, &QRadioButton::clicked, this, [this, index] {
    RunClick([this, index] { OpcionClick(index); });
  });
  return option;
}

QRadioButton* MaquetorAbog::Opcion(int index) const {
  return index >= 0 && index < 10 ? opcion_[index] : nullptr;
}

void MaquetorAbog::Press(QAbstractButton* button) { handlers_.at(button)(); }

void MaquetorAbog::RunClick(const std::function<void()>& operation) {
  try {
    operation();
  } catch (const EndOfProgram& end) {
    EndProgram(end.status);
  } catch (const std::exception& failure) {
    ReportError(failure);
  }
}

void MaquetorAbog::EndProgram(int status) {
  ended_with_ = status;
  close();
  emit ProgramEnded(status);
}

void MaquetorAbog::ShowModal(frmInserta& dialog) {
  if (modal_show_) {
    modal_show_(dialog);
  } else {
    dialog.exec();
  }
}

void MaquetorAbog::SetVisible(bool visible) {
  setVisible(visible);
  if (visible) repaint();
}

void MaquetorAbog::ShowCreationLabels(const std::string& path) {
  label1_->hide();
  label3_->hide();
  label4_->setText(Text(path));
  label2_->show();
  label4_->show();
  if (isVisible()) repaint();
}

void MaquetorAbog::PressCmdControl() { Press(cmd_control_); }

void MaquetorAbog::PressREPORT() { Press(report_); }

void MaquetorAbog::SelectCrear() {
  opcion_[0]->setChecked(true);
  OpcionClick(0);
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

void MaquetorAbog::Crear() {
  if (!check1_->isChecked()) return;
  auto& state = ProgramState::Instance();
  frmInserta dialog(this);
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
  frmInserta dialog(this);
  while (state.BDatosTrabajo.empty()) {
    dialog.SetModo(false);
    dialog.Origen()->setText(QStringLiteral("Origen"));
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
  label2_->show();
  label4_->show();
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
  frmInserta dialog(this);
  // The working database, if one is chosen, is offered as the destination.
  if (!state.BDatosTrabajo.empty()) state.BDatosDestino = state.BDatosTrabajo;
  state.BDatosTrabajo.clear();
  dialog.Text2()->setText(Text(state.BDatosDestino));
  label4_->setText(Text(state.BDatosDestino));
  label3_->setText(Text(kNoOrigin));
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
  const auto whole = std::filesystem::absolute(state.BDatosTrabajo, ec);
  if (!ec && !state.BDatosTrabajo.empty()) state.BDatosTrabajo = whole.string();
  const std::string path = state.BDatosTrabajo;
  {
    BusyPointer busy;
    // The buttons open the file again, exclusively; ours need not stay open.
    db::CreateMainDatabase(path).Close();
    for (const schema::NamedButton& b : schema::CreationOrder()) {
      QPushButton* button = table_buttons_.at(b.name);
      button->setEnabled(false);
      Press(button);
    }
  }
  throw EndOfProgram{0};
}

void MaquetorAbog::BorrarBase() {
  const std::string& path = ProgramState::Instance().BDatosTrabajo;
  if (path.empty()) return;
  // The path may name the file in another case, as the selection accepts.
  const std::filesystem::path file(ResolveCase(path));
  std::error_code ec;
  if (!std::filesystem::is_regular_file(file, ec)) {
    throw std::runtime_error("No se encuentra el archivo '" + path + "'.");
  }
  if (!std::filesystem::remove(file, ec)) {
    throw std::runtime_error("No se puede borrar el archivo '" + path + "': " + ec.message());
  }
}

}  // namespace maquetor::shell
