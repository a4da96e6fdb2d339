#include "shell/win32/view/maquetor_abog_window.h"

#include "shell/win32/view/frm_inserta_dialog.h"
#include "shell/win32/view/message_loop.h"

namespace maquetor::shell::win32 {

MaquetorAbogWindow::MaquetorAbogWindow(forms::MaquetorAbog& form)
    : form_(form), window_(form, LayOutMaquetorAbog(form), WindowRole::kMainWindow) {
  form_.SetView(this);
}

MaquetorAbogWindow::~MaquetorAbogWindow() { form_.SetView(nullptr); }

void MaquetorAbogWindow::SetText(forms::ControlId id, const std::string& text) {
  window_.SetText(id, text);
}
void MaquetorAbogWindow::SetVisible(forms::ControlId id, bool visible) {
  window_.SetVisible(id, visible);
}
void MaquetorAbogWindow::SetEnabled(forms::ControlId id, bool enabled) {
  window_.SetEnabled(id, enabled);
}
void MaquetorAbogWindow::SetChecked(forms::ControlId id, bool checked) {
  window_.SetChecked(id, checked);
}
void MaquetorAbogWindow::Focus(forms::ControlId id) { window_.Focus(id); }
void MaquetorAbogWindow::ShowForm(bool visible) { window_.Show(visible); }
void MaquetorAbogWindow::Repaint() { window_.Repaint(); }
void MaquetorAbogWindow::Close() { window_.Destroy(); }

void MaquetorAbogWindow::ShowModal(forms::frmInserta& dialog) {
  HWND owner = window_.Handle();
  FrmInsertaDialog dialog_window(dialog, owner);
  if (owner) EnableWindow(owner, FALSE);
  dialog_window.Show();
  // A WM_QUIT from elsewhere ends the program: the dialog closes as by its
  // close box.
  if (!RunMessageLoopWhile([&] { return dialog.Shown(); }) && dialog.Shown()) dialog.CloseBox();
  if (owner) EnableWindow(owner, TRUE);
}

}  // namespace maquetor::shell::win32
