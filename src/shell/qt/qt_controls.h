// The Qt widgets of one form: one per control of its description, named
// after the control (objectName "Check1", "Opcion(3)"), bound both ways.
// User actions go to the form's event entry points; the per-control changes
// the form announces are applied by the methods below, which the window
// classes forward their View calls to.
//
// The form must outlive the widgets; `window` owns them.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "shell/forms/form.h"

class QLayout;
class QWidget;

namespace maquetor::shell {

class QtControls {
 public:
  // Creates the widgets inside `window` (a frame's controls inside its
  // group box, laid out there in description order, by column where a
  // frame has two), in the form's current state, with the tab order of the
  // description.
  QtControls(forms::Form& form, QWidget& window);

  QWidget* Widget(forms::ControlId id) const { return widgets_.at(static_cast<size_t>(id)); }
  QWidget* Widget(std::string_view name, int index = -1) const;

  void SetText(forms::ControlId id, const std::string& text);
  void SetVisible(forms::ControlId id, bool visible);
  void SetEnabled(forms::ControlId id, bool enabled);
  void SetChecked(forms::ControlId id, bool checked);
  void Focus(forms::ControlId id);

 private:
  QWidget* Create(forms::ControlId id, QWidget* parent);
  void LayOutFrames();

  forms::Form& form_;
  std::vector<QWidget*> widgets_;
};

}  // namespace maquetor::shell
