// Where the Win32 view puts each control of the two forms, in dialog units:
// across, a quarter of the message font's average character width; down,
// an eighth of its height. The window is sized from the same units, so it
// grows with the font the user chose.
//
// A Win32 group box is a sibling of the controls it frames, so a frame's
// controls get rectangles inside the frame's own. Every control gets a
// place, hidden or not, and keeps it: showing one never moves another.
#pragma once

#include <vector>

#include "shell/forms/form.h"

namespace maquetor::shell::win32 {

struct DluRect {
  int x = 0, y = 0, width = 0, height = 0;
};

struct FormLayout {
  std::vector<DluRect> controls;  // one per control, by ControlId
  int width = 0, height = 0;      // the client area
};

// The main window: the options, auxiliary buttons and Check1 down the left,
// the table buttons in two columns on the right, the database labels below.
FormLayout LayOutMaquetorAbog(const forms::Form& form);

// The selection dialog: the instruction across the top, each path box with
// its button beside it, Terminar under them. With Text2 hidden (one
// database) the dialog ends below Text1.
FormLayout LayOutFrmInserta(const forms::Form& form);

}  // namespace maquetor::shell::win32
