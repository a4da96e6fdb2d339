// The database selection dialog. The user names one database (the working
// database of "Crear" or "Borrar") or two (the origin and destination of a
// migration or a document attachment). It answers only through
// ProgramState's BDatosTrabajo, BDatosOrigen and BDatosDestino: whenever it
// closes with a blank Text1, BDatosTrabajo holds "Exit".
//
// The caller makes one for each use, sets Modo and shows it modally (the
// main window's ShowModal), in a loop, until BDatosTrabajo is no longer
// empty. File choices go through the current shell::Ui.
#pragma once

#include <string>

#include "shell/forms/form.h"

namespace maquetor::shell::forms {

class frmInserta final : public Form {
 public:
  frmInserta();

  // Binds the dialog's window while it is shown (not owned; nullptr unbinds).
  void SetView(View* view) { Bind(view); }

  // false: one database; Origen is captioned "Base de Datos" and asks for a
  // new database unless the caller captions it "Origen" again. true: origin
  // and destination, with Destino, Text2 and CmdExit shown.
  void SetModo(bool modo);
  bool Modo() const { return modo_; }

  // Marks the dialog shown; the main window calls it as a showing starts.
  void Opened() { MarkShown(); }

 private:
  void OnClick(ControlId id) override;
  void OnEnter(ControlId id) override;
  void OnClose() override;

  void OrigenClick();
  void DestinoClick();
  void CmdExitClick();
  // The file-open dialog with the current title; empty when cancelled.
  std::string ChooseFile();
  void CloseAndLetEventsRun();

  const ControlId lb_texto_, text1_, origen_, text2_, destino_, cmd_exit_;
  bool modo_ = false;
  // The file dialog's title. Each choice sets it for the next showing, so
  // the first showing has none.
  std::string file_title_;
};

}  // namespace maquetor::shell::forms
