// What a form asks of the toolkit that draws it. A view creates one native
// control per entry of the form's description, binds itself (the form's
// SetView), reports the user's actions through the form's event entry
// points (form.h), and applies here every change the form announces. A
// form works the same with no view at all: runs without a window use it
// that way.
//
// Calls come on the window's thread, from inside the form's handlers, so a
// view must not call back into the form while applying a change; the one
// exception is TextEdited for a box whose text is being set, which edit
// controls report on their own and the form takes quietly.
#pragma once

#include <string>

#include "shell/forms/control.h"

namespace maquetor::shell::forms {

class frmInserta;

class View {
 public:
  virtual ~View() = default;

  // The caption of a frame, button, option, check box or label, or the
  // contents of a text box.
  virtual void SetText(ControlId id, const std::string& text) = 0;
  virtual void SetVisible(ControlId id, bool visible) = 0;
  virtual void SetEnabled(ControlId id, bool enabled) = 0;
  // Option buttons and check boxes. Checking an option comes before
  // unchecking the one it replaces.
  virtual void SetChecked(ControlId id, bool checked) = 0;
  virtual void Focus(ControlId id) = 0;
  // The window itself shown or hidden.
  virtual void ShowForm(bool visible) = 0;
  // Paints the window now, without waiting for the event loop.
  virtual void Repaint() = 0;
  // The form is closing: take the window down. For a modal dialog this
  // ends its modal loop; for the main window, the program's event loop,
  // which leaves with the form's EndedWith() status, or 0 without one.
  virtual void Close() = 0;
};

// The main window's view can also show the selection dialog.
class MainView : public View {
 public:
  // Builds a window for `dialog` from its description and state, binds it
  // (dialog.SetView), runs a modal loop until the dialog calls Close() on
  // it (dialog.Shown() is false from then on), unbinds it, and returns. Failures of the dialog's handlers are
  // reported by the dialog itself.
  virtual void ShowModal(frmInserta& dialog) = 0;
};

}  // namespace maquetor::shell::forms
