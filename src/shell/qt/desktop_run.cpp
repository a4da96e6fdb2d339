#include <exception>

#include <QApplication>

#include "shell/desktop.h"
#include "shell/forms/error_report.h"
#include "shell/forms/maquetor_abog.h"
#include "shell/qt/maquetor_abog_window.h"
#include "shell/qt/qt_ui.h"
#include "shell/ui.h"

namespace maquetor::shell {

int RunWithWindow(int& argc, char** argv, SettingsStore& settings, const std::string& RutaApp,
                  const Switches& switches) {
  QApplication app(argc, argv);
  forms::MaquetorAbog form;
  MaquetorAbogWindow window(form);
  QtUi ui(&window);
  UiInstallation installed(&ui);
  try {
    if (Load(form, settings, RutaApp, switches) != Run::kInteractive) return 0;
  } catch (const EndOfProgram& end) {
    return end.status;
  } catch (const std::exception& failure) {
    ReportError(failure);
    throw;
  }
  // The loop ends when the last window closes: the user's close, "Salir",
  // or an operation that ended the program, whose status has the last word.
  const int status = app.exec();
  return form.EndedWith().value_or(status);
}

}  // namespace maquetor::shell
