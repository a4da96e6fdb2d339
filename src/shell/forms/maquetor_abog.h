// The main window: one button per table group of the office database, the
// auxiliary databases, document attachment, and the options that create,
// delete, migrate or convert a whole database. It is also what the load
// (shell/startup.h) shows, hides and presses.
//
// Clicks run their operation at once, on the window's thread (form.h says
// how failures and the end of the program travel). Whole-database creation,
// a finished migration and a finished attachment end the program.
#pragma once

#include <string>

#include "shell/forms/form.h"
#include "shell/startup.h"

namespace maquetor::shell::forms {

class frmInserta;

class MaquetorAbog final : public Form, public MainWindowHost {
 public:
  MaquetorAbog();

  // Binds the window (not owned; nullptr unbinds). Without one the form
  // still runs every operation; a selection dialog it would show closes
  // unanswered.
  void SetView(MainView* view);

  // MainWindowHost: what the load does to the window.
  using Form::SetVisible;
  void SetVisible(bool visible) override;
  void ShowCreationLabels(const std::string& path) override;
  void PressCmdControl() override;
  void PressREPORT() override;
  void SelectCrear() override;

  // The option button of that index, or kNoControl for the indexes the
  // window has none for (4, 5 and 7).
  ControlId Opcion(int index) const;
  // The option dispatch, on indexes 0 to 9.
  void OpcionClick(int index);
  // Creates BDatosTrabajo unless it exists, presses the 30 table buttons in
  // creation order (each disabled first), then ends the program (throws
  // EndOfProgram{0}).
  void CrearBaseCompleta();
  // Deletes the file BDatosTrabajo names, if it names one.
  void BorrarBase();

 private:
  void OnClick(ControlId id) override;

  // Shows the dialog through the view until it closes.
  void ShowModal(frmInserta& dialog);
  void Crear();
  void Borrar();
  void Migrar(int index);
  // The two-database dialog, shown until it answers in BDatosTrabajo.
  void AskOriginAndDestination();
  void AnexarClick();

  MainView* main_view_ = nullptr;
  const ControlId check1_, label1_, label2_, label3_, label4_;
  const ControlId cmd_control_, report_, anexar_, salir_;
};

}  // namespace maquetor::shell::forms
