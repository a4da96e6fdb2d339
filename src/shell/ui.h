// What the operations need from the desktop: message boxes, the file-open
// dialog, the busy pointer and a turn of the event loop. The desktop run of
// each view installs its toolkit's; without a window (installer runs, the
// command line) the console one answers: messages go to stderr, no file is
// ever chosen.
#pragma once

#include <string>

namespace maquetor::shell {

// The title of a message box that has none of its own.
inline constexpr const char* kProgramTitle = "Maquetor - Corvanta";

enum class Icon { kNone, kInformation, kCritical, kExclamation };

class Ui {
 public:
  virtual ~Ui() = default;
  // A modal message box with an OK button. An empty title shows the
  // program's title.
  virtual void Message(const std::string& text, const std::string& title, Icon icon) = 0;
  // The file-open dialog: `title` may be empty, `filter` is written as
  // "Bases de datos (*.mdb)|*.mdb". Returns the chosen path or empty.
  virtual std::string ChooseFile(const std::string& title, const std::string& filter) = 0;
  // The hourglass pointer on (true) or the default one back (false).
  virtual void SetBusy(bool busy) = 0;
  // Lets pending window events run.
  virtual void ProcessEvents() = 0;
};

// The interface in use; the console one until another is installed.
Ui& CurrentUi();
// Installs `ui` (not owned) and returns the one it replaces; nullptr puts the
// console one back.
Ui* InstallUi(Ui* ui);

// Installs a Ui for the life of the object and puts back the one before.
class UiInstallation {
 public:
  explicit UiInstallation(Ui* ui) : previous_(InstallUi(ui)) {}
  ~UiInstallation() { InstallUi(previous_); }
  UiInstallation(const UiInstallation&) = delete;
  UiInstallation& operator=(const UiInstallation&) = delete;

 private:
  Ui* previous_;
};

// Shows the hourglass for the life of the object.
class BusyPointer {
 public:
  BusyPointer() { CurrentUi().SetBusy(true); }
  ~BusyPointer() { CurrentUi().SetBusy(false); }
  BusyPointer(const BusyPointer&) = delete;
  BusyPointer& operator=(const BusyPointer&) = delete;
};

// Thrown where an operation ends the program (a finished whole-database
// creation, migration or document attachment, a refused conversion). The
// entry point catches it and leaves with `status`; tests catch it to see
// that the program would have ended.
struct EndOfProgram {
  int status = 0;
};

}  // namespace maquetor::shell
