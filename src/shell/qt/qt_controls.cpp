#include "shell/qt/qt_controls.h"

#include <QAbstractButton>
#include <QCheckBox>
#include <QFrame>
#include <QGridLayout>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QSignalBlocker>
#include <QVBoxLayout>

namespace maquetor::shell {
namespace {

using forms::Control;
using forms::ControlId;
using forms::ControlKind;

QString Text(std::string_view utf8) {
  return QString::fromUtf8(utf8.data(), static_cast<qsizetype>(utf8.size()));
}

}  // namespace

QtControls::QtControls(forms::Form& form, QWidget& window) : form_(form) {
  const auto& controls = form.Description().controls;
  widgets_.resize(controls.size(), nullptr);
  // Frames come before what they hold, so each parent exists when needed.
  for (size_t i = 0; i < controls.size(); ++i) {
    const auto id = static_cast<ControlId>(i);
    QWidget* parent = &window;
    if (!controls[i].frame.empty()) parent = Widget(controls[i].frame);
    widgets_[i] = Create(id, parent);
  }
  LayOutFrames();
  QWidget* previous = nullptr;
  for (size_t i = 0; i < controls.size(); ++i) {
    QWidget* widget = widgets_[i];
    if (widget->focusPolicy() == Qt::NoFocus) continue;
    if (previous) QWidget::setTabOrder(previous, widget);
    previous = widget;
  }
}

QWidget* QtControls::Widget(std::string_view name, int index) const {
  const ControlId id = form_.Find(name, index);
  return id == forms::kNoControl ? nullptr : Widget(id);
}

QWidget* QtControls::Create(ControlId id, QWidget* parent) {
  const Control& control = form_.Design(id);
  const forms::ControlState& state = form_.State(id);
  const QString text = Text(state.text);
  QWidget* widget = nullptr;
  switch (control.kind) {
    case ControlKind::kFrame:
      widget = new QGroupBox(text, parent);
      break;
    case ControlKind::kButton: {
      auto* button = new QPushButton(text, parent);
      // Enter in a text box belongs to the box, never to a default button.
      button->setAutoDefault(false);
      button->setDefault(false);
      widget = button;
      break;
    }
    case ControlKind::kOptionButton:
      widget = new QRadioButton(text, parent);
      break;
    case ControlKind::kCheckBox:
      widget = new QCheckBox(text, parent);
      break;
    case ControlKind::kLabel: {
      auto* label = new QLabel(text, parent);
      label->setTextFormat(Qt::PlainText);
      widget = label;
      break;
    }
    case ControlKind::kTextBox: {
      auto* box = new QLineEdit(text, parent);
      QObject::connect(box, &QLineEdit::textChanged, box, [this, id](const QString& typed) {
        form_.TextEdited(id, typed.toStdString());
      });
      QObject::connect(box, &QLineEdit::returnPressed, box, [this, id] { form_.Enter(id); });
      widget = box;
      break;
    }
    case ControlKind::kLine: {
      auto* line = new QFrame(parent);
      line->setFrameShape(QFrame::HLine);
      line->setFrameShadow(QFrame::Sunken);
      widget = line;
      break;
    }
  }
  if (auto* button = qobject_cast<QAbstractButton*>(widget)) {
    button->setChecked(state.checked);
    // A click on an option already selected runs it again.
    QObject::connect(button, &QAbstractButton::clicked, button, [this, id] { form_.Click(id); });
  }
  widget->setObjectName(Text(forms::ControlName(control)));
  if (!control.tool_tip.empty()) widget->setToolTip(Text(control.tool_tip));
  widget->setEnabled(state.enabled);
  if (!state.visible) widget->hide();
  return widget;
}

void QtControls::LayOutFrames() {
  const auto& controls = form_.Description().controls;
  for (size_t f = 0; f < controls.size(); ++f) {
    if (controls[f].kind != ControlKind::kFrame) continue;
    std::vector<size_t> held;
    bool columns = false;
    for (size_t i = 0; i < controls.size(); ++i) {
      if (controls[i].frame != controls[f].name) continue;
      held.push_back(i);
      columns = columns || controls[i].column > 0;
    }
    if (!columns) {
      auto* layout = new QVBoxLayout(widgets_[f]);
      for (size_t i : held) layout->addWidget(widgets_[i]);
      continue;
    }
    auto* grid = new QGridLayout(widgets_[f]);
    std::vector<int> rows;
    for (size_t i : held) {
      const int column = controls[i].column;
      if (rows.size() <= static_cast<size_t>(column)) rows.resize(column + 1, 0);
      grid->addWidget(widgets_[i], rows[column]++, column);
    }
  }
}

void QtControls::SetText(ControlId id, const std::string& text) {
  QWidget* widget = Widget(id);
  const QString value = QString::fromStdString(text);
  if (auto* button = qobject_cast<QAbstractButton*>(widget)) {
    button->setText(value);
  } else if (auto* label = qobject_cast<QLabel*>(widget)) {
    label->setText(value);
  } else if (auto* box = qobject_cast<QLineEdit*>(widget)) {
    // The form knows the text already; telling it again would call back
    // into it while it changes the box.
    const QSignalBlocker quiet(box);
    box->setText(value);
  } else if (auto* frame = qobject_cast<QGroupBox*>(widget)) {
    frame->setTitle(value);
  }
}

void QtControls::SetVisible(ControlId id, bool visible) { Widget(id)->setVisible(visible); }

void QtControls::SetEnabled(ControlId id, bool enabled) { Widget(id)->setEnabled(enabled); }

void QtControls::SetChecked(ControlId id, bool checked) {
  if (auto* button = qobject_cast<QAbstractButton*>(Widget(id))) button->setChecked(checked);
}

void QtControls::Focus(ControlId id) { Widget(id)->setFocus(); }

}  // namespace maquetor::shell
