// The Win32 view of the main window: the controls of forms::MaquetorAbog in
// a top-level window (LayOutMaquetorAbog), and the selection dialog shown
// modally over it. Closing the window through its form ends the message
// loop with the form's EndedWith() status, or 0.
//
// Created hidden and bound to the form for its life; the form must outlive
// it.
#pragma once

#include "shell/forms/maquetor_abog.h"
#include "shell/win32/view/form_window.h"

namespace maquetor::shell::win32 {

class MaquetorAbogWindow final : public forms::MainView {
 public:
  explicit MaquetorAbogWindow(forms::MaquetorAbog& form);
  ~MaquetorAbogWindow() override;

  const FormWindow& Window() const { return window_; }
  HWND Handle() const { return window_.Handle(); }

  // forms::MainView
  void SetText(forms::ControlId id, const std::string& text) override;
  void SetVisible(forms::ControlId id, bool visible) override;
  void SetEnabled(forms::ControlId id, bool enabled) override;
  void SetChecked(forms::ControlId id, bool checked) override;
  void Focus(forms::ControlId id) override;
  void ShowForm(bool visible) override;
  void Repaint() override;
  void Close() override;
  // Disables this window, runs the dialog's window until the dialog's form
  // closes, then enables this one again before the dialog goes, so that
  // the activation comes back here.
  void ShowModal(forms::frmInserta& dialog) override;

 private:
  forms::MaquetorAbog& form_;
  FormWindow window_;
};

}  // namespace maquetor::shell::win32
