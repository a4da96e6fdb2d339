#include "shell/qt/maquetor_abog_window.h"

#include <QCloseEvent>
#include <QHBoxLayout>
#include <QVBoxLayout>

#include "shell/qt/frm_inserta_dialog.h"

namespace maquetor::shell {

MaquetorAbogWindow::MaquetorAbogWindow(forms::MaquetorAbog& form, QWidget* parent)
    : QWidget(parent), form_(form), controls_(form, *this) {
  const auto& design = form.Description();
  setObjectName(QString::fromUtf8(design.name.data(), qsizetype(design.name.size())));
  setWindowTitle(QString::fromUtf8(design.caption.data(), qsizetype(design.caption.size())));

  auto* left = new QVBoxLayout;
  for (const char* name : {"FrameUtilidades", "Frame3", "Check1", "Frame"}) {
    left->addWidget(controls_.Widget(name));
  }
  left->addStretch();
  auto* top = new QHBoxLayout;
  top->addLayout(left);
  top->addWidget(controls_.Widget("Frame2"), 1);
  auto* whole = new QVBoxLayout(this);
  whole->addLayout(top);
  for (const char* name : {"Label1", "Label3", "Label2", "Label4"}) {
    whole->addWidget(controls_.Widget(name));
  }
  form_.SetView(this);
}

MaquetorAbogWindow::~MaquetorAbogWindow() { form_.SetView(nullptr); }

void MaquetorAbogWindow::SetText(forms::ControlId id, const std::string& text) {
  controls_.SetText(id, text);
}
void MaquetorAbogWindow::SetVisible(forms::ControlId id, bool visible) {
  controls_.SetVisible(id, visible);
}
void MaquetorAbogWindow::SetEnabled(forms::ControlId id, bool enabled) {
  controls_.SetEnabled(id, enabled);
}
void MaquetorAbogWindow::SetChecked(forms::ControlId id, bool checked) {
  controls_.SetChecked(id, checked);
}
void MaquetorAbogWindow::Focus(forms::ControlId id) { controls_.Focus(id); }

void MaquetorAbogWindow::ShowForm(bool visible) { setVisible(visible); }

void MaquetorAbogWindow::Repaint() {
  if (isVisible()) repaint();
}

void MaquetorAbogWindow::Close() {
  closing_ = true;
  // Inside closeEvent the close under way takes the window down.
  if (!in_close_event_) close();
}

void MaquetorAbogWindow::closeEvent(QCloseEvent* event) {
  if (!closing_) {
    in_close_event_ = true;
    form_.CloseBox();
    in_close_event_ = false;
  }
  if (closing_) {
    closing_ = false;
    event->accept();
  } else {
    event->ignore();
  }
}

void MaquetorAbogWindow::ShowModal(forms::frmInserta& dialog) {
  FrmInsertaDialog window(dialog, this);
  window.exec();
}

}  // namespace maquetor::shell
