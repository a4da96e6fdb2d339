// The native window of one form: a top-level window holding one standard
// control (BUTTON, STATIC, EDIT) per entry of the form's description,
// created in description order so that the tab order follows it, in the
// form's current state and the system's message font, placed by a
// FormLayout. Its window procedure turns the user's actions into the form's
// events; the methods below apply the changes the form announces, and the
// two views (MaquetorAbogWindow, FrmInsertaDialog) forward their View calls
// to them.
//
// The form must outlive the window. Everything runs on the thread that made
// the window; Tab, the arrows and Alt+letter work when its messages pass
// through DispatchMessageOf (message_loop.h).
#pragma once

#include <windows.h>

#include <string>
#include <string_view>
#include <vector>

#include "shell/forms/form.h"
#include "shell/win32/view/layout.h"

namespace maquetor::shell::win32 {

enum class WindowRole {
  // Its destruction ends the message loop with the form's EndedWith().
  kMainWindow,
  // Owned by the main window; Escape is its close box.
  kModalDialog,
};

class FormWindow {
 public:
  // The window class is named after the form ("MaquetorAbog"). Created
  // hidden; `owner` may be null.
  FormWindow(forms::Form& form, const FormLayout& layout, WindowRole role, HWND owner = nullptr);
  ~FormWindow();
  FormWindow(const FormWindow&) = delete;
  FormWindow& operator=(const FormWindow&) = delete;

  // Null once the window is destroyed.
  HWND Handle() const { return hwnd_; }
  // The control's window; its id in the parent is kFirstControlId + id.
  HWND Control(forms::ControlId id) const;
  // The tool-tip window of the controls that have one, or null.
  HWND ToolTips() const { return tool_tips_; }

  void SetText(forms::ControlId id, const std::string& text);
  void SetVisible(forms::ControlId id, bool visible);
  void SetEnabled(forms::ControlId id, bool enabled);
  void SetChecked(forms::ControlId id, bool checked);
  void Focus(forms::ControlId id);
  void Show(bool visible);
  // Paints the window and its controls now.
  void Repaint();
  // Takes the window down because its form closed: for the main window,
  // the message loop ends too. The destructor takes it down silently.
  void Destroy();

  static constexpr int kFirstControlId = 1000;

 private:
  static LRESULT CALLBACK Procedure(HWND hwnd, UINT message, WPARAM wparam, LPARAM lparam);
  static LRESULT CALLBACK ControlProcedure(HWND control, UINT message, WPARAM wparam,
                                           LPARAM lparam, UINT_PTR subclass, DWORD_PTR self);
  LRESULT OnMessage(UINT message, WPARAM wparam, LPARAM lparam);
  void OnCommand(int command, int notification);
  void OnActivate(bool active);
  void OnDestroy();
  bool OnSetCursor(LPARAM lparam);
  void RestoreFocus();

  void CreateControls(const FormLayout& layout);
  void CreateToolTip(HWND control, std::string_view text);

  forms::Form& form_;
  const WindowRole role_;
  HWND hwnd_ = nullptr;
  HFONT font_ = nullptr;
  SIZE base_{};  // pixels for 4 dialog units across and 8 down
  HWND tool_tips_ = nullptr;
  std::vector<HWND> controls_;
  // The control that had the focus when the window was last deactivated.
  HWND last_focus_ = nullptr;
  // Set while an option button takes the focus: a radio button reports a
  // click when the keyboard focuses it, and that must not select it.
  int focus_arriving_ = 0;
  bool closing_ = false;
};

}  // namespace maquetor::shell::win32
