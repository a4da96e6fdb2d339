// The Qt view of the selection dialog: the widgets of forms::frmInserta in
// a grid (each box with its button beside it), shown modally by exec().
// Every way of closing (the buttons, Enter, Escape, the close box) goes
// through the form, which ends exec() by calling Close().
//
// Binds itself to the form for its life; the form must outlive it.
#pragma once

#include <QDialog>

#include "shell/forms/frm_inserta.h"
#include "shell/qt/qt_controls.h"

namespace maquetor::shell {

class FrmInsertaDialog final : public QDialog, public forms::View {
  Q_OBJECT

 public:
  explicit FrmInsertaDialog(forms::frmInserta& form, QWidget* parent = nullptr);
  ~FrmInsertaDialog() override;

  const QtControls& Controls() const { return controls_; }

  // forms::View
  void SetText(forms::ControlId id, const std::string& text) override;
  void SetVisible(forms::ControlId id, bool visible) override;
  void SetEnabled(forms::ControlId id, bool enabled) override;
  void SetChecked(forms::ControlId id, bool checked) override;
  void Focus(forms::ControlId id) override;
  void ShowForm(bool visible) override;
  void Repaint() override;
  void Close() override;

  // Escape and the close box arrive here; they ask the form.
  void done(int result) override;

 private:
  forms::frmInserta& form_;
  QtControls controls_;
};

}  // namespace maquetor::shell
