#include "shell/win32/view/frm_inserta_dialog.h"

namespace maquetor::shell::win32 {

FrmInsertaDialog::FrmInsertaDialog(forms::frmInserta& form, HWND owner)
    : form_(form), window_(form, LayOutFrmInserta(form), WindowRole::kModalDialog, owner) {
  form_.SetView(this);
}

FrmInsertaDialog::~FrmInsertaDialog() { form_.SetView(nullptr); }

void FrmInsertaDialog::Show() {
  window_.Show(true);
  SetForegroundWindow(window_.Handle());
}

void FrmInsertaDialog::SetText(forms::ControlId id, const std::string& text) {
  window_.SetText(id, text);
}
void FrmInsertaDialog::SetVisible(forms::ControlId id, bool visible) {
  window_.SetVisible(id, visible);
}
void FrmInsertaDialog::SetEnabled(forms::ControlId id, bool enabled) {
  window_.SetEnabled(id, enabled);
}
void FrmInsertaDialog::SetChecked(forms::ControlId id, bool checked) {
  window_.SetChecked(id, checked);
}
void FrmInsertaDialog::Focus(forms::ControlId id) { window_.Focus(id); }
void FrmInsertaDialog::ShowForm(bool visible) { window_.Show(visible); }
void FrmInsertaDialog::Repaint() { window_.Repaint(); }

}  // namespace maquetor::shell::win32
