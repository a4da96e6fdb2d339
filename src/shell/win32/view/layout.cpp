#include "shell/win32/view/layout.h"

#include <algorithm>
#include <string_view>
#include <utility>

namespace maquetor::shell::win32 {
namespace {

using forms::Control;
using forms::ControlId;
using forms::ControlKind;

// The usual spacing of Windows dialogs, in dialog units.
constexpr int kMargin = 7;      // from the window's edge
constexpr int kFrameTop = 11;   // from a group box's top to its first control, below the caption
constexpr int kFrameSide = 7;   // from a group box's sides and bottom to what it holds
constexpr int kGap = 3;         // between controls stacked in a frame
constexpr int kFrameGap = 5;    // between the frames of a column
constexpr int kColumnGap = 6;   // between two columns

int HeightOf(ControlKind kind) {
  switch (kind) {
    case ControlKind::kButton:
    case ControlKind::kTextBox:
      return 14;
    case ControlKind::kOptionButton:
    case ControlKind::kCheckBox:
      return 10;
    case ControlKind::kLabel:
      return 8;
    case ControlKind::kLine:
      return 2;
    case ControlKind::kFrame:
      break;
  }
  return 0;
}

class Placer {
 public:
  explicit Placer(const forms::Form& form) : form_(form) {
    layout_.controls.resize(form.Description().controls.size());
  }

  DluRect& At(std::string_view name) { return layout_.controls.at(Id(name)); }

  void Place(std::string_view name, DluRect rect) { At(name) = rect; }

  // Places the frame at x, y and stacks what it holds down its columns, in
  // the order of the description; returns the frame's height.
  int Frame(std::string_view name, int x, int y, int width) {
    const auto& controls = form_.Description().controls;
    int columns = 1;
    for (const Control& c : controls) {
      if (c.frame == name) columns = std::max(columns, c.column + 1);
    }
    const int inner = width - 2 * kFrameSide;
    const int column_width = (inner - (columns - 1) * kColumnGap) / columns;
    std::vector<int> next(static_cast<size_t>(columns), y + kFrameTop);
    int bottom = y + kFrameTop;
    for (size_t i = 0; i < controls.size(); ++i) {
      const Control& c = controls[i];
      if (c.frame != name) continue;
      int& top = next[static_cast<size_t>(c.column)];
      const int height = HeightOf(c.kind);
      layout_.controls[i] = {x + kFrameSide + c.column * (column_width + kColumnGap), top,
                             column_width, height};
      bottom = std::max(bottom, top + height);
      top += height + kGap;
    }
    const int height = bottom + kFrameSide - y;
    layout_.controls[Id(name)] = {x, y, width, height};
    return height;
  }

  FormLayout Done(int width, int height) {
    layout_.width = width;
    layout_.height = height;
    return std::move(layout_);
  }

 private:
  size_t Id(std::string_view name) const {
    const ControlId id = form_.Find(name);
    form_.Design(id);  // throws for a name the form lacks
    return static_cast<size_t>(id);
  }

  const forms::Form& form_;
  FormLayout layout_;
};

}  // namespace

FormLayout LayOutMaquetorAbog(const forms::Form& form) {
  constexpr int kLeftWidth = 160;
  constexpr int kTablesWidth = 2 * kFrameSide + 2 * 96 + kColumnGap;
  constexpr int kTablesX = kMargin + kLeftWidth + kColumnGap;
  constexpr int kWidth = kTablesX + kTablesWidth + kMargin;
  Placer placer(form);

  // The table buttons fix the height; the left column spreads what it
  // leaves over the gaps between its four parts.
  const int tables = placer.Frame("Frame2", kTablesX, kMargin, kTablesWidth);
  const int bottom = kMargin + tables;
  const int parts = placer.Frame("FrameUtilidades", kMargin, 0, kLeftWidth) +
                    placer.Frame("Frame3", kMargin, 0, kLeftWidth) + 10 +
                    placer.Frame("Frame", kMargin, 0, kLeftWidth);
  const int gap = std::max(kFrameGap, (tables - parts) / 3);
  int y = kMargin;
  y += placer.Frame("FrameUtilidades", kMargin, y, kLeftWidth) + gap;
  y += placer.Frame("Frame3", kMargin, y, kLeftWidth) + gap;
  placer.Place("Check1", {kMargin + kFrameSide, y, kLeftWidth - kFrameSide, 10});
  y += 10 + gap;
  const int actions = placer.Frame("Frame", kMargin, y, kLeftWidth);
  placer.At("Frame").height = std::max(actions, bottom - y);

  // Each database's title with its path, or its absence, beside it.
  constexpr int kTitleWidth = 90;
  constexpr int kPathX = kMargin + kTitleWidth + 4;
  constexpr int kPathWidth = kWidth - kPathX - kMargin;
  y = std::max(bottom, y + actions) + kFrameGap + 2;
  placer.Place("Label1", {kMargin, y, kTitleWidth, 8});
  placer.Place("Label3", {kPathX, y, kPathWidth, 8});
  y += 8 + kGap + 1;
  placer.Place("Label2", {kMargin, y, kTitleWidth, 8});
  placer.Place("Label4", {kPathX, y, kPathWidth, 8});
  return placer.Done(kWidth, y + 8 + kMargin);
}

FormLayout LayOutFrmInserta(const forms::Form& form) {
  constexpr int kBoxWidth = 240;
  constexpr int kButtonWidth = 60;
  constexpr int kButtonX = kMargin + kBoxWidth + 4;
  constexpr int kWidth = kButtonX + kButtonWidth + kMargin;
  Placer placer(form);
  // Four lines: the longest instruction wraps to three at this width.
  placer.Place("LbTexto", {kMargin, kMargin, kWidth - 2 * kMargin, 32});
  int y = kMargin + 32 + 6;
  placer.Place("Text1", {kMargin, y, kBoxWidth, 14});
  placer.Place("Origen", {kButtonX, y, kButtonWidth, 14});
  int bottom = y + 14;
  y += 14 + 5;
  placer.Place("Text2", {kMargin, y, kBoxWidth, 14});
  placer.Place("Destino", {kButtonX, y, kButtonWidth, 14});
  y += 14 + 7;
  placer.Place("CmdExit", {kButtonX, y, kButtonWidth, 14});
  if (form.State(form.Find("Text2")).visible) bottom = y + 14;
  return placer.Done(kWidth, bottom + kMargin);
}

}  // namespace maquetor::shell::win32
