#include "shell/forms/form.h"

#include <exception>
#include <stdexcept>
#include <utility>

#include "shell/forms/error_report.h"
#include "shell/ui.h"

namespace maquetor::shell::forms {

Form::Form(const FormDescription& description) : description_(description) {
  state_.reserve(description.controls.size());
  for (const Control& c : description.controls) {
    state_.push_back({std::string(c.caption), c.visible, c.enabled, c.checked});
  }
}

ControlId Form::Find(std::string_view name, int index) const {
  const auto& controls = description_.controls;
  for (size_t i = 0; i < controls.size(); ++i) {
    if (controls[i].name == name && controls[i].index == index) return static_cast<ControlId>(i);
  }
  return kNoControl;
}

const Control& Form::Design(ControlId id) const {
  if (id < 0 || static_cast<size_t>(id) >= description_.controls.size()) {
    throw std::out_of_range("no control " + std::to_string(id) + " in " +
                            std::string(description_.name));
  }
  return description_.controls[static_cast<size_t>(id)];
}

const ControlState& Form::State(ControlId id) const { return state_.at(static_cast<size_t>(id)); }

ControlState& Form::Mutable(ControlId id) {
  Design(id);
  return state_[static_cast<size_t>(id)];
}

bool Form::Reachable(ControlId id) const {
  if (id < 0 || static_cast<size_t>(id) >= state_.size()) return false;
  const ControlState& s = State(id);
  return s.visible && s.enabled;
}

template <typename Handler>
void Form::Guarded(const Handler& handler) {
  try {
    handler();
  } catch (const EndOfProgram& end) {
    ended_with_ = end.status;
    Close();
  } catch (const std::exception& failure) {
    ReportError(failure);
  }
}

void Form::Click(ControlId id) {
  if (Reachable(id)) Guarded([&] { Press(id); });
}

void Form::TextEdited(ControlId id, std::string text) { Mutable(id).text = std::move(text); }

void Form::Enter(ControlId id) {
  if (Reachable(id)) Guarded([&] { OnEnter(id); });
}

void Form::CloseBox() {
  Guarded([&] { Close(); });
}

void Form::SetText(ControlId id, std::string text) {
  Mutable(id).text = text;
  // The view gets its own copy: an edit box may report the change back
  // through TextEdited while it is being set.
  if (view_) view_->SetText(id, text);
}

void Form::SetVisible(ControlId id, bool visible) {
  Mutable(id).visible = visible;
  if (view_) view_->SetVisible(id, visible);
}

void Form::SetEnabled(ControlId id, bool enabled) {
  Mutable(id).enabled = enabled;
  if (view_) view_->SetEnabled(id, enabled);
}

void Form::SetChecked(ControlId id, bool checked) {
  Mutable(id).checked = checked;
  if (view_) view_->SetChecked(id, checked);
  const Control& option = Design(id);
  if (!checked || option.kind != ControlKind::kOptionButton) return;
  for (size_t i = 0; i < state_.size(); ++i) {
    const Control& other = description_.controls[i];
    const auto other_id = static_cast<ControlId>(i);
    if (other_id != id && other.kind == ControlKind::kOptionButton &&
        other.frame == option.frame && state_[i].checked) {
      state_[i].checked = false;
      if (view_) view_->SetChecked(other_id, false);
    }
  }
}

void Form::Focus(ControlId id) {
  Mutable(id);
  if (view_) view_->Focus(id);
}

void Form::Press(ControlId id) {
  const ControlKind kind = Design(id).kind;
  if (kind == ControlKind::kOptionButton) SetChecked(id, true);
  if (kind == ControlKind::kCheckBox) SetChecked(id, !State(id).checked);
  OnClick(id);
}

void Form::Close() {
  OnClose();
  shown_ = false;
  if (view_) view_->Close();
}

void Form::ShowForm(bool visible) {
  shown_ = visible;
  if (view_) view_->ShowForm(visible);
}

void Form::Repaint() {
  if (view_) view_->Repaint();
}

}  // namespace maquetor::shell::forms
