// A window's behaviour without a toolkit: the state of each of its controls
// and the handlers behind them. A view (view.h) draws it and reports the
// user's actions through the event entry points below; handlers change
// controls through the setters, which keep the state and announce the
// change to the view.
//
// Events run on the window's thread and synchronously. A failure inside a
// user's event is shown in a critical box and the window stays; an
// operation that ends the program (shell::EndOfProgram) closes the window
// and leaves its status in EndedWith(). Press() runs a handler as code
// does: disabled or not, failures and the end of the program to the caller.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "shell/forms/control.h"
#include "shell/forms/view.h"

namespace maquetor::shell::forms {

class Form {
 public:
  explicit Form(const FormDescription& description);
  virtual ~Form() = default;
  Form(const Form&) = delete;
  Form& operator=(const Form&) = delete;

  const FormDescription& Description() const { return description_; }
  // The control named so (with its index for a control array), or kNoControl.
  ControlId Find(std::string_view name, int index = -1) const;
  const Control& Design(ControlId id) const;
  const ControlState& State(ControlId id) const;
  // Whether the window is shown: set by the load or by a modal showing,
  // cleared by Close().
  bool Shown() const { return shown_; }
  // The status an operation ended the program with, once one has.
  std::optional<int> EndedWith() const { return ended_with_; }

  // Events a view reports. A click or Enter on a control the user cannot
  // reach (hidden or disabled) does nothing.
  void Click(ControlId id);
  // The user changed a text box; nothing is announced back.
  void TextEdited(ControlId id, std::string text);
  void Enter(ControlId id);
  // The close box, or Escape in a dialog.
  void CloseBox();

  // What handlers (and callers setting up a dialog) do to the controls.
  void SetText(ControlId id, std::string text);
  void SetVisible(ControlId id, bool visible);
  void SetEnabled(ControlId id, bool enabled);
  // Checking an option unchecks the other options of its frame.
  void SetChecked(ControlId id, bool checked);
  void Focus(ControlId id);
  // Runs the control's click handler at once: an option is selected first,
  // a check box flips first.
  void Press(ControlId id);
  // Runs the form's closing rule, then takes the window down.
  void Close();

 protected:
  // Binds `view` (not owned; nullptr unbinds). The form must outlive it.
  void Bind(View* view) { view_ = view; }
  View* BoundView() const { return view_; }
  // The window shown or hidden, and painted at once.
  void ShowForm(bool visible);
  void Repaint();
  // For a modal showing.
  void MarkShown() { shown_ = true; }

  virtual void OnClick(ControlId id) = 0;
  virtual void OnEnter(ControlId) {}
  // Runs on every close, whatever asked for it.
  virtual void OnClose() {}

 private:
  template <typename Handler>
  void Guarded(const Handler& handler);
  bool Reachable(ControlId id) const;
  ControlState& Mutable(ControlId id);

  const FormDescription& description_;
  std::vector<ControlState> state_;
  View* view_ = nullptr;
  bool shown_ = false;
  std::optional<int> ended_with_;
};

}  // namespace maquetor::shell::forms
