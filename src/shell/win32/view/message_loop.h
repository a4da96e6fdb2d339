// The message loops of the Win32 view. Each message goes through
// IsDialogMessageW of the top-level window it belongs to, so that Tab, the
// arrows, Enter, Escape and Alt+letter work in the program's windows as in
// any Windows dialog.
#pragma once

#include <windows.h>

#include <functional>

namespace maquetor::shell::win32 {

// Hands one message to its window.
void DispatchMessageOf(MSG& message);

// Runs until WM_QUIT and returns the status it carries.
int RunMessageLoop();

// Runs while `keep_going()` holds. A WM_QUIT met on the way is posted again,
// for the loop below this one, and ends this one: it returns false then.
bool RunMessageLoopWhile(const std::function<bool()>& keep_going);

// Runs the messages already waiting and returns; a WM_QUIT among them is
// posted again.
void ProcessPendingMessages();

}  // namespace maquetor::shell::win32
