// The main window: one button per table group of the office database, the
// auxiliary databases, document attachment, and the options that create,
// delete, migrate or convert a whole database.
//
// Clicks run their operation at once, on the window's thread. A failure
// ends the operation with a critical box and the window stays open; an
// operation that ends the program (whole-database creation, a finished
// migration or attachment) closes the window and leaves the event loop with
// its status. Pressed from code (the load, whole-database creation) the same
// operations let their failures and their end of program go to the caller.
#pragma once

#include <functional>
#include <map>
#include <optional>
#include <string>

#include <QWidget>

#include "shell/startup.h"

class QAbstractButton;
class QCheckBox;
class QLabel;
class QPushButton;
class QRadioButton;

namespace maquetor::shell {

class frmInserta;

class MaquetorAbog final : public QWidget, public MainWindowHost {
  Q_OBJECT

 public:
  explicit MaquetorAbog(QWidget* parent = nullptr);

  // MainWindowHost: what the load does to the window.
  void SetVisible(bool visible) override;
  void ShowCreationLabels(const std::string& path) override;
  void PressCmdControl() override;
  void PressREPORT() override;
  void SelectCrear() override;

  // The option button of that index (0 to 9), or null for the indexes the
  // window has no option for (4, 5 and 7).
  QRadioButton* Opcion(int index) const;

  // The option dispatch; a click on Opcion(index) runs it guarded.
  void OpcionClick(int index);
  // Creates BDatosTrabajo unless it exists, presses the 30 table buttons in
  // creation order, then ends the program (throws EndOfProgram{0}).
  void CrearBaseCompleta();
  // Deletes the file BDatosTrabajo names, if it names one.
  void BorrarBase();

  // How the selection dialog is shown modally; exec() unless replaced.
  using ModalShow = std::function<void(frmInserta&)>;
  void SetModalShow(ModalShow show) { modal_show_ = std::move(show); }

  // The status an operation ended the program with, once one has.
  std::optional<int> EndedWith() const { return ended_with_; }

 signals:
  // An operation ended the program; the window has closed. The desktop run
  // leaves its event loop with `status`.
  void ProgramEnded(int status);

 private:
  QPushButton* AddButton(QWidget* parent, const char* name, const char* caption,
                         std::function<void()> handler);
  QRadioButton* AddOption(QWidget* parent, int index, const char* caption);
  // Runs a button's handler as a press from code does: synchronously,
  // disabled or not, failures to the caller.
  void Press(QAbstractButton* button);
  // Runs a click: a failure is reported, the end of the program honoured.
  void RunClick(const std::function<void()>& operation);
  void EndProgram(int status);
  void ShowModal(frmInserta& dialog);

  void Crear();
  void Borrar();
  void Migrar(int index);
  // The two-database dialog, shown until it answers in BDatosTrabajo.
  void AskOriginAndDestination();
  void AnexarClick();

  QCheckBox* check1_ = nullptr;
  QLabel* label1_ = nullptr;
  QLabel* label2_ = nullptr;
  QLabel* label3_ = nullptr;
  QLabel* label4_ = nullptr;
  QPushButton* cmd_control_ = nullptr;
  QPushButton* report_ = nullptr;
  QRadioButton* opcion_[10] = {};
  std::map<std::string, QPushButton*> table_buttons_;
  std::map<QAbstractButton*, std::function<void()>> handlers_;

  ModalShow modal_show_;
  std::optional<int> ended_with_;
};

}  // namespace maquetor::shell
