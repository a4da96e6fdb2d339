#include "shell/window/frm_inserta.h"

#include <QGridLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>

#include "db/program_state.h"
#include "shell/paths.h"
#include "shell/ui.h"

namespace maquetor::shell {
namespace {

using db::ProgramState;

constexpr const char* kFilter = "Bases de datos (*.mdb)|*.mdb";
constexpr const char* kNoSelection = "No se ha realizado ninguna selección.";
constexpr const char* kMustBeNew = "Debe Seleccionar una Base no existente.";
constexpr const char* kMustExist = "Debe Seleccionar una Base ya existente.";
constexpr const char* kOneDatabase =
    "Escribe el Path completo de la nueva base a crear o de la base de datos existente con la "
    "que deseas trabajar en el cuadro, o seleccionala desde el boton 'Base Datos'";
// Two line breaks between the sentences; a label breaks lines on "\n".
constexpr const char* kTwoDatabases =
    "Para seleccionar un Nuevo Origen presione Origen.\n\nSelecciona la base de destino.";

QString Text(const char* utf8) { return QString::fromUtf8(utf8); }
QString Text(const std::string& utf8) { return QString::fromStdString(utf8); }

QPushButton* Button(const char* name, const char* caption, QWidget* parent) {
  auto* button = new QPushButton(Text(caption), parent);
  button->setObjectName(Text(name));
  // Enter in a text box belongs to the box, never to a default button.
  button->setAutoDefault(false);
  button->setDefault(false);
  return button;
}

QLineEdit* Box(const char* name, QWidget* parent) {
  auto* box = new QLineEdit(parent);
  box->setObjectName(Text(name));
  box->setMinimumWidth(360);
  return box;
}

}  // namespace

frmInserta::frmInserta(QWidget* parent) : QDialog(parent) {
  setObjectName(QStringLiteral("frmInserta"));
  setWindowTitle(QStringLiteral("Bases de Datos"));
  setModal(true);

  lb_texto_ = new QLabel(QStringLiteral("Label1"), this);
  lb_texto_->setObjectName(QStringLiteral("LbTexto"));
  lb_texto_->setWordWrap(true);
  text1_ = Box("Text1", this);
  origen_ = Button("Origen", "Origen", this);
  text2_ = Box("Text2", this);
  destino_ = Button("Destino", "Destino", this);
  cmd_exit_ = Button("CmdExit", "Terminar", this);
  text2_->hide();
  destino_->hide();
  cmd_exit_->hide();

  auto* grid = new QGridLayout(this);
  grid->addWidget(lb_texto_, 0, 0, 1, 2);
  grid->addWidget(text1_, 1, 0);
  grid->addWidget(origen_, 1, 1);
  grid->addWidget(text2_, 2, 0);
  grid->addWidget(destino_, 2, 1);
  grid->addWidget(cmd_exit_, 3, 1);
  grid->setSizeConstraint(QLayout::SetFixedSize);
  lb_texto_->setMinimumWidth(480);

  setTabOrder(origen_, destino_);
  setTabOrder(destino_, text1_);
  setTabOrder(text1_, cmd_exit_);
  setTabOrder(cmd_exit_, text2_);

  connect(origen_, &QPushButton::clicked, this, [this] { OrigenClick(); });
  connect(destino_, &QPushButton::clicked, this, [this] { DestinoClick(); });
  connect(cmd_exit_, &QPushButton::clicked, this, [this] { CmdExitClick(); });
  connect(text1_, &QLineEdit::returnPressed, this, [this] { EnterIn(*text1_); });
  connect(text2_, &QLineEdit::returnPressed, this, [this] { EnterIn(*text2_); });
}

void frmInserta::SetModo(bool modo) {
  modo_ = modo;
  if (modo) {
    origen_->show();
    text1_->show();
    destino_->show();
    text2_->show();
    cmd_exit_->show();
    lb_texto_->setText(Text(kTwoDatabases));
  } else {
    lb_texto_->setText(Text(kOneDatabase));
    origen_->setText(QStringLiteral("Base de Datos"));
    destino_->hide();
    text2_->hide();
    cmd_exit_->hide();
  }
}

void frmInserta::done(int result) {
  if (text1_->text().trimmed().isEmpty()) ProgramState::Instance().BDatosTrabajo = db::kExitMarker;
  QDialog::done(result);
}

std::string frmInserta::ChooseFile() {
  std::string chosen = CurrentUi().ChooseFile(file_title_, kFilter);
  CurrentUi().ProcessEvents();
  return chosen;
}

void frmInserta::CloseAndLetEventsRun() {
  done(QDialog::Accepted);
  CurrentUi().ProcessEvents();
}

void frmInserta::OrigenClick() {
  auto& state = ProgramState::Instance();
  std::string chosen = ChooseFile();
  if (chosen.empty()) {
    CurrentUi().Message(kNoSelection, "MENSAJE", Icon::kInformation);
    origen_->setFocus();
    return;
  }
  state.BDatosTrabajo = chosen;

  // Captioned "Origen", the button picks an existing database; otherwise
  // the name of one to create.
  const bool want_existing = origen_->text().remove(QLatin1Char('&')) == QStringLiteral("Origen");
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
  text1_->setText(Text(chosen));
  state.BDatosTrabajo = text1_->text().toStdString();
  // With two databases the destination is still to come.
  if (!modo_) CloseAndLetEventsRun();
}

void frmInserta::DestinoClick() {
  const std::string chosen = ChooseFile();
  file_title_ = "Crear";
  if (chosen.empty()) {
    CurrentUi().Message(kNoSelection, "MENSAJE", Icon::kInformation);
    destino_->setFocus();
    return;
  }
  ProgramState::Instance().BDatosDestino = chosen;
  text2_->setText(Text(chosen));
  CloseAndLetEventsRun();
}

void frmInserta::CmdExitClick() {
  if (text2_->text().isEmpty()) ProgramState::Instance().BDatosDestino.clear();
  CloseAndLetEventsRun();
}

void frmInserta::EnterIn(const QLineEdit& box) {
  // A typed path is taken when its folder exists; the file itself need not.
  const std::string path = box.text().trimmed().toStdString();
  const auto last = path.find_last_of(kSeparator);
  // Without a separator there is no folder to look for, and with nothing
  // after the last one no file is named: the key does nothing.
  if (last == std::string::npos || last + 1 == path.size()) return;
  if (!ExistsAsListed(path.substr(0, last), Listing::kWithDirectories)) return;
  ProgramState::Instance().BDatosTrabajo = path;
  CloseAndLetEventsRun();
}

}  // namespace maquetor::shell
