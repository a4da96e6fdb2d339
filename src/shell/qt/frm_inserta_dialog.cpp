#include "shell/qt/frm_inserta_dialog.h"

#include <QGridLayout>
#include <QLabel>
#include <QLineEdit>

namespace maquetor::shell {

FrmInsertaDialog::FrmInsertaDialog(forms::frmInserta& form, QWidget* parent)
    : QDialog(parent), form_(form), controls_(form, *this) {
  const auto& design = form.Description();
  setObjectName(QString::fromUtf8(design.name.data(), qsizetype(design.name.size())));
  setWindowTitle(QString::fromUtf8(design.caption.data(), qsizetype(design.caption.size())));
  setModal(true);

  auto* label = static_cast<QLabel*>(controls_.Widget("LbTexto"));
  label->setWordWrap(true);
  label->setMinimumWidth(480);
  for (const char* box : {"Text1", "Text2"}) controls_.Widget(box)->setMinimumWidth(360);

  auto* grid = new QGridLayout(this);
  grid->addWidget(label, 0, 0, 1, 2);
  grid->addWidget(controls_.Widget("Text1"), 1, 0);
  grid->addWidget(controls_.Widget("Origen"), 1, 1);
  grid->addWidget(controls_.Widget("Text2"), 2, 0);
  grid->addWidget(controls_.Widget("Destino"), 2, 1);
  grid->addWidget(controls_.Widget("CmdExit"), 3, 1);
  grid->setSizeConstraint(QLayout::SetFixedSize);
  form_.SetView(this);
}

FrmInsertaDialog::~FrmInsertaDialog() { form_.SetView(nullptr); }

void FrmInsertaDialog::SetText(forms::ControlId id, const std::string& text) {
  controls_.SetText(id, text);
}
void FrmInsertaDialog::SetVisible(forms::ControlId id, bool visible) {
  controls_.SetVisible(id, visible);
}
void FrmInsertaDialog::SetEnabled(forms::ControlId id, bool enabled) {
  controls_.SetEnabled(id, enabled);
}
void FrmInsertaDialog::SetChecked(forms::ControlId id, bool checked) {
  controls_.SetChecked(id, checked);
}
void FrmInsertaDialog::Focus(forms::ControlId id) { controls_.Focus(id); }

void FrmInsertaDialog::ShowForm(bool visible) { setVisible(visible); }

void FrmInsertaDialog::Repaint() {
  if (isVisible()) repaint();
}

void FrmInsertaDialog::Close() { QDialog::done(QDialog::Accepted); }

void FrmInsertaDialog::done(int) { form_.CloseBox(); }

}  // namespace maquetor::shell
