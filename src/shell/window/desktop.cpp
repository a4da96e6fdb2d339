#include "shell/window/desktop.h"

#include <exception>

#include <QApplication>

#include "shell/ui.h"
#include "shell/window/error_report.h"
#include "shell/window/maquetor_abog.h"
#include "shell/window/qt_ui.h"

namespace maquetor::shell {

int RunWithWindow(int& argc, char** argv, SettingsStore& settings, const std::string& RutaApp,
                  const Switches& switches) {
  QApplication app(argc, argv);
  MaquetorAbog window;
  // Only here does an event loop run for the end of the program to leave.
  QObject::connect(&window, &MaquetorAbog::ProgramEnded, &app,
                   [](int status) { QCoreApplication::exit(status); });
  QtUi ui(&window);
  UiInstallation installed(&ui);
  try {
    if (Load(window, settings, RutaApp, switches) != Run::kInteractive) return 0;
  } catch (const EndOfProgram& end) {
    return end.status;
  } catch (const std::exception& failure) {
    ReportError(failure);
    throw;
  }
  const int status = app.exec();
  // An operation that ended the program has the last word over the window
  // closing with it.
  return window.EndedWith().value_or(status);
}

}  // namespace maquetor::shell
