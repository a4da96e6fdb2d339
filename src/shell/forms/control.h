// A window's controls written down once, as data, so that every view builds
// the same window from them: what each control is called, what kind it is,
// its caption, the frame it sits in and how it starts out. Geometry is left
// to each view.
#pragma once

#include <span>
#include <string>
#include <string_view>

namespace maquetor::shell::forms {

// A control's position in its form's description; views and handlers name
// controls by it. Stable for the life of the program.
using ControlId = int;
inline constexpr ControlId kNoControl = -1;

enum class ControlKind {
  kFrame,         // a captioned group box; the controls naming it sit inside it
  kButton,        // a push button
  kOptionButton,  // a radio button: one of a frame's options is checked at a time
  kCheckBox,
  kLabel,         // text the user cannot change; "&" in it is shown as it is
  kTextBox,       // a one-line edit box
  kLine,          // a horizontal decorative line
};

struct Control {
  std::string_view name = {};      // as the window calls it: "Check1", "Opcion"
  int index = -1;                  // within a control array (Opcion(3)); -1 outside one
  ControlKind kind = ControlKind::kButton;
  std::string_view caption = {};   // "&" marks the access key ("&Salir"); a text box's first text
  std::string_view tool_tip = {};  // empty: none
  std::string_view frame = {};     // the name of the frame it sits in; empty: the window itself
  int column = 0;                  // the column of its frame, where a frame holds two
  bool visible = true;
  bool enabled = true;
  bool checked = false;            // option buttons and check boxes
};

struct FormDescription {
  std::string_view name;     // "MaquetorAbog", "frmInserta"
  std::string_view caption;  // the window's title
  // In tab order; a frame comes before the controls it holds. Frames,
  // labels and lines take no focus.
  std::span<const Control> controls;
};

// What a control shows now. It starts as its description says and changes
// only through its form.
struct ControlState {
  std::string text;  // the caption, or a text box's contents
  bool visible = true;
  bool enabled = true;
  bool checked = false;
};

// "Opcion(3)" for a control array's member, the bare name otherwise: the
// name views give the control's widget.
std::string ControlName(const Control& control);

}  // namespace maquetor::shell::forms
