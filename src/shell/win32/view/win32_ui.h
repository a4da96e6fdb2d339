// The desktop's answers to the operations' needs (shell/ui.h) on Windows:
// MessageBoxW, the common file-open dialog, the hourglass pointer and a turn
// of the message loop. Installed by the desktop run for as long as its
// window lives.
#pragma once

#include <windows.h>

#include <string>

#include "shell/ui.h"

namespace maquetor::shell::win32 {

class Win32Ui final : public Ui {
 public:
  // Boxes and dialogs open over the modal dialog `owner` has up, else over
  // `owner` itself (not owned; may be null or destroyed later).
  explicit Win32Ui(HWND owner = nullptr) : owner_(owner) {}
  ~Win32Ui() override;
  Win32Ui(const Win32Ui&) = delete;
  Win32Ui& operator=(const Win32Ui&) = delete;

  // OK only; the icon as asked; the program's title when `title` is empty.
  void Message(const std::string& text, const std::string& title, Icon icon) override;
  // GetOpenFileNameW. A name not on disk yet may be typed: "Crear" asks for
  // one. The program's current folder is left as it was.
  std::string ChooseFile(const std::string& title, const std::string& filter) override;
  // Calls nest: the hourglass stays until every "busy" has its "done", and a
  // stray "done" is harmless.
  void SetBusy(bool busy) override;
  void ProcessEvents() override;

 private:
  HWND Parent() const;

  HWND owner_;
};

// Whether an operation has the hourglass on. The program's windows keep it
// over themselves and their controls while it is.
bool HourglassShown();

}  // namespace maquetor::shell::win32
