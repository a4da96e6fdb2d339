// The Win32 view over the forms: native controls built from the description
// in the form's state and tab order, laid out without overlap or clipping;
// the keyboard; clicks reaching the form and its changes reaching the
// controls; and the selection dialog run modally.
#include <windows.h>
#include <commctrl.h>

#include <algorithm>
#include <filesystem>
#include <fstream>

#include "db/engine.h"
#include "shell/win32/view/frm_inserta_dialog.h"
#include "shell/win32/view/maquetor_abog_window.h"
#include "shell/win32/view/message_loop.h"
#include "win32_support.h"

namespace {

namespace forms = maquetor::shell::forms;
using maquetor::shell::win32::FormWindow;
using maquetor::shell::win32::FrmInsertaDialog;
using maquetor::shell::win32::MaquetorAbogWindow;
using win32_testing::TextOf;
using win32_testing::WhenShown;

struct Native {
  const wchar_t* window_class;
  LONG style, mask;  // the style bits under `mask` must equal `style`
};

Native NativeFor(forms::ControlKind kind) {
  switch (kind) {
    case forms::ControlKind::kFrame:
      return {L"Button", BS_GROUPBOX, BS_TYPEMASK};
    case forms::ControlKind::kButton:
      return {L"Button", BS_PUSHBUTTON, BS_TYPEMASK};
    case forms::ControlKind::kOptionButton:
      return {L"Button", BS_RADIOBUTTON, BS_TYPEMASK};
    case forms::ControlKind::kCheckBox:
      return {L"Button", BS_CHECKBOX, BS_TYPEMASK};
    case forms::ControlKind::kLabel:
      // A path's "&" shows as itself.
      return {L"Static", SS_LEFT | SS_NOPREFIX, SS_TYPEMASK | SS_NOPREFIX};
    case forms::ControlKind::kTextBox:
      return {L"Edit", 0, 0};
    case forms::ControlKind::kLine:
      return {L"Static", SS_ETCHEDHORZ, SS_TYPEMASK};
  }
  return {L"", 0, 0};
}

bool TakesFocus(forms::ControlKind kind) {
  return kind != forms::ControlKind::kFrame && kind != forms::ControlKind::kLabel &&
         kind != forms::ControlKind::kLine;
}

RECT PlaceOf(HWND control) {
  RECT r{};
  GetWindowRect(control, &r);
  MapWindowPoints(nullptr, GetParent(control), reinterpret_cast<POINT*>(&r), 2);
  return r;
}

bool Inside(const RECT& inner, const RECT& outer) {
  return inner.left >= outer.left && inner.top >= outer.top && inner.right <= outer.right &&
         inner.bottom <= outer.bottom;
}

// The room the control's text needs beyond what the control itself draws
// around it, checked against the control's size.
void ExpectTextFits(HWND control, forms::ControlKind kind, const std::string& text) {
  if (text.empty() || kind == forms::ControlKind::kTextBox) return;
  const RECT place = PlaceOf(control);
  const LONG width = place.right - place.left, height = place.bottom - place.top;
  LONG room = width;
  UINT format = DT_CALCRECT | DT_SINGLELINE;
  if (kind == forms::ControlKind::kLabel) format = DT_CALCRECT | DT_NOPREFIX | DT_WORDBREAK;
  if (kind == forms::ControlKind::kButton) room -= 2 * GetSystemMetrics(SM_CXEDGE) + 4;
  if (kind == forms::ControlKind::kOptionButton || kind == forms::ControlKind::kCheckBox) {
    room -= GetSystemMetrics(SM_CXMENUCHECK) + 4;
  }
  if (kind == forms::ControlKind::kFrame) room -= 16;
  HDC dc = GetDC(control);
  const auto font = reinterpret_cast<HFONT>(SendMessageW(control, WM_GETFONT, 0, 0));
  HGDIOBJ before = SelectObject(dc, font);
  RECT needed{0, 0, room, 0};
  const std::wstring wide = maquetor::shell::win32::Widen(text);
  DrawTextW(dc, wide.c_str(), static_cast<int>(wide.size()), &needed, format);
  SelectObject(dc, before);
  ReleaseDC(control, dc);
  EXPECT_LE(needed.right, room) << "clipped across";
  if (kind != forms::ControlKind::kFrame) {
    EXPECT_LE(needed.bottom, height) << "clipped down";
  }
}

// One native control per control, of its kind, in the form's state, inside
// the window and its frame, overlapping no other, its text unclipped; the
// focusable ones in the description's tab order. Saves a picture.
void ExpectBuiltFrom(const forms::Form& form, const FormWindow& window,
                     const std::string& picture) {
  const auto& design = form.Description();
  HWND hwnd = window.Handle();
  ASSERT_NE(hwnd, nullptr);
  ShowWindow(hwnd, SW_SHOW);
  EXPECT_EQ(TextOf(hwnd), design.caption);
  RECT client{};
  GetClientRect(hwnd, &client);
  std::vector<HWND> focusable;
  for (size_t i = 0; i < design.controls.size(); ++i) {
    const auto id = static_cast<forms::ControlId>(i);
    const forms::Control& c = design.controls[i];
    const forms::ControlState& s = form.State(id);
    SCOPED_TRACE(forms::ControlName(c));
    HWND control = window.Control(id);
    ASSERT_NE(control, nullptr);
    const Native native = NativeFor(c.kind);
    EXPECT_EQ(lstrcmpiW(win32_testing::ClassOf(control).c_str(), native.window_class), 0);
    EXPECT_EQ(GetWindowLongW(control, GWL_STYLE) & native.mask, native.style);
    EXPECT_EQ(TextOf(control), s.text);
    EXPECT_EQ((GetWindowLongW(control, GWL_STYLE) & WS_VISIBLE) != 0, s.visible);
    EXPECT_EQ(IsWindowEnabled(control) != FALSE, s.enabled);
    if (c.kind == forms::ControlKind::kOptionButton || c.kind == forms::ControlKind::kCheckBox) {
      EXPECT_EQ(SendMessageW(control, BM_GETCHECK, 0, 0) == BST_CHECKED, s.checked);
    }
    std::wstring tip(256, L'\0');
    TTTOOLINFOW tool{};
    tool.cbSize = TTTOOLINFOW_V2_SIZE;
    tool.hwnd = hwnd;
    tool.uId = reinterpret_cast<UINT_PTR>(control);
    tool.lpszText = tip.data();
    if (window.ToolTips()) {
      SendMessageW(window.ToolTips(), TTM_GETTEXTW, tip.size(), reinterpret_cast<LPARAM>(&tool));
    }
    EXPECT_EQ(maquetor::shell::win32::Narrow(tip.c_str()), c.tool_tip);

    const RECT place = PlaceOf(control);
    // Hidden ones may lie outside: the one-database dialog is shorter.
    if (s.visible) {
      EXPECT_TRUE(Inside(place, client));
    }
    const forms::ControlId frame = c.frame.empty() ? forms::kNoControl : form.Find(c.frame);
    if (frame != forms::kNoControl) {
      EXPECT_TRUE(Inside(place, PlaceOf(window.Control(frame))));
    }
    for (size_t j = i + 1; j < design.controls.size(); ++j) {
      const forms::Control& other = design.controls[j];
      if (other.frame == c.name) continue;  // a frame holds what names it
      RECT both{};
      const RECT other_place = PlaceOf(window.Control(static_cast<forms::ControlId>(j)));
      EXPECT_FALSE(IntersectRect(&both, &place, &other_place)) << "overlaps " << ControlName(other);
    }
    ExpectTextFits(control, c.kind, s.text);
    if (TakesFocus(c.kind) && s.visible && s.enabled) focusable.push_back(control);
  }
  std::vector<HWND> chain;
  for (HWND at = GetNextDlgTabItem(hwnd, nullptr, FALSE); at && chain.size() <= focusable.size();
       at = GetNextDlgTabItem(hwnd, at, FALSE)) {
    if (!chain.empty() && at == chain.front()) break;
    chain.push_back(at);
  }
  EXPECT_EQ(chain, focusable);
  win32_testing::SaveScreenshot(hwnd, picture);
}

class Win32ViewTest : public win32_testing::Win32Test {
 protected:
  Win32ViewTest() { form.SetVisible(true); }

  HWND Control(const char* name, int index = -1) const {
    return window.Window().Control(form.Find(name, index));
  }

  forms::MaquetorAbog form;
  MaquetorAbogWindow window{form};
};

TEST_F(Win32ViewTest, ControlsAreBuiltFromTheDescriptionInTabOrderWithoutOverlapOrClipping) {
  ExpectBuiltFrom(form, window.Window(), "MaquetorAbog");
  for (const bool modo : {false, true}) {
    SCOPED_TRACE(modo ? "Modo true" : "Modo false");
    forms::frmInserta dialog;
    dialog.SetModo(modo);
    if (modo) dialog.SetText(dialog.Find("Text2"), "C:\\Datos\\Peña & Núñez\\Destino.mdb");
    FrmInsertaDialog dialog_window(dialog, window.Handle());
    ExpectBuiltFrom(dialog, dialog_window.Window(),
                    modo ? "frmInserta-Modo-true" : "frmInserta-Modo-false");
  }
}

TEST_F(Win32ViewTest, TabGoesRoundSelectingNothingAndAltSLeavesTheLoopWithStatus0) {
  SetForegroundWindow(window.Handle());
  // Tab round the whole window: focus passes over every option unselected.
  std::vector<HWND> visited;
  for (int i = 0; i < 60; ++i) {
    HWND focus = GetFocus();
    ASSERT_TRUE(focus && IsChild(window.Handle(), focus));
    if (std::find(visited.begin(), visited.end(), focus) != visited.end()) break;
    visited.push_back(focus);
    MSG tab{focus, WM_KEYDOWN, VK_TAB, 0, 0, {}};
    maquetor::shell::win32::DispatchMessageOf(tab);
  }
  EXPECT_GE(visited.size(), 30u);
  for (int index : {0, 1, 3, 8, 9}) {
    EXPECT_FALSE(form.State(form.Opcion(index)).checked) << index;
  }
  EXPECT_TRUE(ui.messages.empty());

  // "&Salir": Alt+S closes the window, which ends the loop.
  PostMessageW(GetFocus(), WM_SYSKEYDOWN, 'S', 1 << 29);
  PostMessageW(GetFocus(), WM_SYSCHAR, 's', 1 << 29);
  const UINT_PTR give_up =
      SetTimer(nullptr, 0, 10000, [](HWND, UINT, UINT_PTR, DWORD) { PostQuitMessage(99); });
  EXPECT_EQ(maquetor::shell::win32::RunMessageLoop(), 0);
  KillTimer(nullptr, give_up);
  EXPECT_EQ(window.Handle(), nullptr);
}

TEST_F(Win32ViewTest, TheFormsChangesReachTheNativeControls) {
  form.ShowCreationLabels("C:\\Datos\\Peña & Núñez.mdb");
  EXPECT_FALSE(IsWindowVisible(Control("Label1")));
  EXPECT_TRUE(IsWindowVisible(Control("Label4")));
  EXPECT_EQ(TextOf(Control("Label4")), "C:\\Datos\\Peña & Núñez.mdb");
  form.SetChecked(form.Opcion(8), true);
  form.SetChecked(form.Opcion(1), true);
  EXPECT_EQ(SendMessageW(Control("Opcion", 8), BM_GETCHECK, 0, 0), BST_UNCHECKED);
  EXPECT_EQ(SendMessageW(Control("Opcion", 1), BM_GETCHECK, 0, 0), BST_CHECKED);
  form.SetEnabled(form.Find("Paises"), false);
  EXPECT_FALSE(IsWindowEnabled(Control("Paises")));
  // The check box is the form's: a click flips its state and the control.
  SendMessageW(Control("Check1"), BM_CLICK, 0, 0);
  EXPECT_FALSE(form.State(form.Find("Check1")).checked);
  EXPECT_EQ(SendMessageW(Control("Check1"), BM_GETCHECK, 0, 0), BST_UNCHECKED);
}

TEST_F(Win32ViewTest, AClickMessageOnATableButtonBuildsItsTable) {
  const std::string path = dir.File("Nueva.mdb");
  maquetor::db::CreateMainDatabase(path).Close();
  maquetor::db::ProgramState::Instance().BDatosTrabajo = path;
  SendMessageW(Control("Paises"), BM_CLICK, 0, 0);
  EXPECT_TRUE(ui.messages.empty()) << ui.messages[0].text;
  auto db = maquetor::db::OpenShared(path);
  EXPECT_EQ(db.GetTableDef("TPaises").RecordCount(), 207);
}

TEST_F(Win32ViewTest, TheDialogRunsModallyInBothLayoutsAndClosesThroughItsForm) {
  const std::string old = dir.File("Vieja.mdb");
  std::ofstream(old) << "x";
  HWND main = window.Handle();
  struct Case {
    int option;
    bool modo;  // Text2, Destino and CmdExit shown
    std::function<void(HWND)> answer;
  };
  auto control = [](HWND dialog, const char* name) {
    return GetDlgItem(dialog, FormWindow::kFirstControlId + forms::frmInserta().Find(name));
  };
  const Case cases[] = {
      // Crear, closed by the close box and by Escape: not created.
      {0, false, [](HWND d) { PostMessageW(d, WM_CLOSE, 0, 0); }},
      {0, false, [&](HWND d) {
         PostMessageW(control(d, "Text1"), WM_KEYDOWN, VK_ESCAPE, 0);
       }},
      // Borrar: a path typed and Enter pressed deletes the file.
      {1, false, [&](HWND d) {
         SetWindowTextW(control(d, "Text1"), maquetor::shell::win32::Widen(old).c_str());
         PostMessageW(control(d, "Text1"), WM_KEYDOWN, VK_RETURN, 0);
       }},
      // A migration, Terminar with no origin chosen: not created.
      {8, true, [&](HWND d) { PostMessageW(control(d, "CmdExit"), BM_CLICK, 0, 0); }},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.option);
    maquetor::db::ProgramState::Instance().BDatosTrabajo.clear();
    WhenShown shown(L"frmInserta", [&](HWND dialog) {
      EXPECT_FALSE(IsWindowEnabled(main));
      EXPECT_EQ(GetWindow(dialog, GW_OWNER), main);
      for (const char* name : {"Text2", "Destino", "CmdExit"}) {
        EXPECT_EQ(IsWindowVisible(control(dialog, name)) != FALSE, c.modo) << name;
      }
      c.answer(dialog);
    });
    form.Click(form.Opcion(c.option));
    EXPECT_TRUE(shown.answered());
    EXPECT_TRUE(IsWindowEnabled(main));
  }
  EXPECT_FALSE(std::filesystem::exists(old));
  ASSERT_EQ(ui.messages.size(), 3u);
  for (const auto& shown : ui.messages) {
    EXPECT_EQ(shown.text, "La base de datos no ha sido creada.");
  }
}

}  // namespace
