// The Win32 view of the selection dialog: the controls of forms::frmInserta
// in a popup window owned by the main window (LayOutFrmInserta, laid out
// for the Modo the form has when the window is made). Every way of closing
// (its buttons, Enter in a box, Escape, the close box) goes through the
// form; the form's Close() ends the modal loop MaquetorAbogWindow runs, and
// the window goes when this object does.
//
// Created hidden and bound to the form for its life; the form must outlive
// it.
#pragma once

#include "shell/forms/frm_inserta.h"
#include "shell/win32/view/form_window.h"

namespace maquetor::shell::win32 {

class FrmInsertaDialog final : public forms::View {
 public:
  FrmInsertaDialog(forms::frmInserta& form, HWND owner);
  ~FrmInsertaDialog() override;

  const FormWindow& Window() const { return window_; }
  HWND Handle() const { return window_.Handle(); }
  // Shows the window and gives it the focus.
  void Show();

  // forms::View
  void SetText(forms::ControlId id, const std::string& text) override;
  void SetVisible(forms::ControlId id, bool visible) override;
  void SetEnabled(forms::ControlId id, bool enabled) override;
  void SetChecked(forms::ControlId id, bool checked) override;
  void Focus(forms::ControlId id) override;
  void ShowForm(bool visible) override;
  void Repaint() override;
  // The modal loop sees the form no longer shown; the window stays until
  // then, so that its owner is enabled again before it goes.
  void Close() override {}

 private:
  forms::frmInserta& form_;
  FormWindow window_;
};

}  // namespace maquetor::shell::win32
