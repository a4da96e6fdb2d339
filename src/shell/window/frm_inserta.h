// The database selection dialog. The user names one database (the working
// database of "Crear" or "Borrar") or two (the origin and destination of a
// migration or a document attachment). It answers only through
// ProgramState's BDatosTrabajo, BDatosOrigen and BDatosDestino: whenever it
// closes with an empty Text1, BDatosTrabajo holds "Exit". The caller creates
// a fresh one for each use, sets Modo and shows it modally, in a loop, until
// BDatosTrabajo is no longer empty.
#pragma once

#include <string>

#include <QDialog>

class QLabel;
class QLineEdit;
class QPushButton;

namespace maquetor::shell {

class frmInserta final : public QDialog {
  Q_OBJECT

 public:
  explicit frmInserta(QWidget* parent = nullptr);

  // false: one database, Origen captioned "Base de Datos" (a new database
  // unless the caller captions it "Origen" again); true: origin and
  // destination, with Destino, Text2 and CmdExit shown.
  void SetModo(bool modo);
  bool Modo() const { return modo_; }

  // The controls the callers fill in before showing the dialog.
  QPushButton* Origen() const { return origen_; }
  QLineEdit* Text2() const { return text2_; }

  // Every way of closing comes through here: the buttons, the Enter key,
  // Escape and the close box.
  void done(int result) override;

 private:
  void OrigenClick();
  void DestinoClick();
  void CmdExitClick();
  void EnterIn(const QLineEdit& box);
  // Shows the file-open dialog with the dialog's current title.
  std::string ChooseFile();
  void CloseAndLetEventsRun();

  QLabel* lb_texto_;
  QLineEdit* text1_;
  QPushButton* origen_;
  QLineEdit* text2_;
  QPushButton* destino_;
  QPushButton* cmd_exit_;

  bool modo_ = false;
  // The file dialog's title. Each choice sets it for the next showing, so
  // the first showing has none.
  std::string file_title_;
};

}  // namespace maquetor::shell
