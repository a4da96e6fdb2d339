// The desktop's answers to the operations' needs (shell/ui.h): Qt message
// boxes, the Qt file-open dialog, the wait cursor and a turn of Qt's event
// loop. Installed by the desktop run for as long as its window lives.
#pragma once

#include <string>

#include <QString>

#include "shell/ui.h"

class QWidget;

namespace maquetor::shell {

class QtUi final : public Ui {
 public:
  // Boxes and dialogs open over the active modal dialog, else over `owner`
  // (not owned; may be null).
  explicit QtUi(QWidget* owner = nullptr) : owner_(owner) {}
  ~QtUi() override;

  void Message(const std::string& text, const std::string& title, Icon icon) override;
  std::string ChooseFile(const std::string& title, const std::string& filter) override;
  // Calls nest: the wait cursor stays until every "busy" has its "done", and
  // a stray "done" is harmless.
  void SetBusy(bool busy) override;
  void ProcessEvents() override;

 private:
  QWidget* Parent() const;

  QWidget* owner_;
  int busy_depth_ = 0;
};

// A filter written "Description|*.ext|Other|*.a;*.b" in the form Qt's file
// dialog takes: "Description (*.ext);;Other (*.a *.b)". Where file names
// are case-sensitive each pattern also matches its extension in any case,
// as it would on Windows ("*.mdb" finds "SETUP.MDB").
QString QtFileFilter(const std::string& filter);

}  // namespace maquetor::shell
