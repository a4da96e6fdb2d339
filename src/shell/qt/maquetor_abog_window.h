// The Qt view of the main window: the widgets of forms::MaquetorAbog laid
// out as two columns (options and auxiliary buttons on the left, the table
// buttons on the right, the labels below), and the selection dialog shown
// with QDialog::exec.
//
// Binds itself to the form for its life; the form must outlive it.
#pragma once

#include <QWidget>

#include "shell/forms/maquetor_abog.h"
#include "shell/qt/qt_controls.h"

namespace maquetor::shell {

class MaquetorAbogWindow final : public QWidget, public forms::MainView {
  Q_OBJECT

 public:
  explicit MaquetorAbogWindow(forms::MaquetorAbog& form, QWidget* parent = nullptr);
  ~MaquetorAbogWindow() override;

  const QtControls& Controls() const { return controls_; }

  // forms::MainView
  void SetText(forms::ControlId id, const std::string& text) override;
  void SetVisible(forms::ControlId id, bool visible) override;
  void SetEnabled(forms::ControlId id, bool enabled) override;
  void SetChecked(forms::ControlId id, bool checked) override;
  void Focus(forms::ControlId id) override;
  void ShowForm(bool visible) override;
  void Repaint() override;
  void Close() override;
  void ShowModal(forms::frmInserta& dialog) override;

 protected:
  // The close box asks the form, which answers with Close().
  void closeEvent(QCloseEvent* event) override;

 private:
  forms::MaquetorAbog& form_;
  QtControls controls_;
  bool closing_ = false;
  bool in_close_event_ = false;
};

}  // namespace maquetor::shell
