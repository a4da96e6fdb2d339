#include <windows.h>

#include <exception>

#include "shell/desktop.h"
#include "shell/forms/error_report.h"
#include "shell/forms/maquetor_abog.h"
#include "shell/ui.h"
#include "shell/win32/view/maquetor_abog_window.h"
#include "shell/win32/view/message_loop.h"
#include "shell/win32/view/win32_ui.h"

namespace maquetor::shell {

int RunWithWindow(int&, char**, SettingsStore& settings, const std::string& RutaApp,
                  const Switches& switches) {
  // A console made for this program alone (a shortcut, the installer) would
  // stand empty beside the window; one shared with a command prompt stays.
  DWORD processes[2];
  if (GetConsoleProcessList(processes, 2) == 1) FreeConsole();
  forms::MaquetorAbog form;
  win32::MaquetorAbogWindow window(form);
  win32::Win32Ui ui(window.Handle());
  UiInstallation installed(&ui);
  try {
    if (Load(form, settings, RutaApp, switches) != Run::kInteractive) return 0;
  } catch (const EndOfProgram& end) {
    return end.status;
  } catch (const std::exception& failure) {
    ReportError(failure);
    throw;
  }
  // The loop ends when the window closes through its form: the user's
  // close, "Salir", or an operation that ended the program, whose status
  // has the last word.
  const int status = win32::RunMessageLoop();
  return form.EndedWith().value_or(status);
}

}  // namespace maquetor::shell
