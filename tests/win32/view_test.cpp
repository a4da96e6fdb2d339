// The Win32 view over the forms: native controls built from the description
// in the form's state and tab order, without overlap or clipping; Alt+letter
// through the message loop; clicks and changes crossing both ways; and the
// selection dialog run modally.
#include <windows.h>
#include <commctrl.h>

#include <filesystem>
#include <fstream>
#include <functional>
#include <tuple>

#include "db/engine.h"
#include "shell/win32/view/frm_inserta_dialog.h"
#include "shell/win32/view/maquetor_abog_window.h"
#include "shell/win32/view/message_loop.h"
#include "win32_support.h"

namespace {

namespace forms = maquetor::shell::forms;
using forms::ControlKind;
using maquetor::shell::win32::FormWindow;
using maquetor::shell::win32::Widen;
using win32_testing::TextOf;

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

// The text fits in what the control leaves it: a button's edges, the box
// of an option, a frame's corners.
void ExpectTextFits(HWND control, ControlKind kind, const std::string& text) {
  if (text.empty() || kind == ControlKind::kTextBox) return;
  const RECT place = PlaceOf(control);
  LONG room = place.right - place.left;
  if (kind == ControlKind::kButton) room -= 2 * GetSystemMetrics(SM_CXEDGE) + 4;
  if (kind == ControlKind::kOptionButton || kind == ControlKind::kCheckBox) {
    room -= GetSystemMetrics(SM_CXMENUCHECK) + 4;
  }
  if (kind == ControlKind::kFrame) room -= 16;
  HDC dc = GetDC(control);
  const LRESULT font = SendMessageW(control, WM_GETFONT, 0, 0);
  HGDIOBJ before = SelectObject(dc, reinterpret_cast<HGDIOBJ>(font));
  RECT needed{0, 0, room, 0};
  const std::wstring wide = Widen(text);
  DrawTextW(dc, wide.c_str(), static_cast<int>(wide.size()), &needed,
            kind == ControlKind::kLabel ? DT_CALCRECT | DT_NOPREFIX | DT_WORDBREAK
                                        : DT_CALCRECT | DT_SINGLELINE);
  SelectObject(dc, before);
  ReleaseDC(control, dc);
  EXPECT_LE(needed.right, room) << "clipped across";
  const bool on_border = kind == ControlKind::kFrame;  // a frame's caption
  EXPECT_TRUE(on_border || needed.bottom <= place.bottom - place.top) << "clipped down";
}

// One native control per control, of its class, in the form's state,
// inside the window and its frame, overlapping no other, its text
// unclipped; the focusable ones in the description's tab order.
void ExpectBuiltFrom(const forms::Form& form, const FormWindow& window, const std::string& name) {
  const auto& design = form.Description();
  HWND hwnd = window.Handle();
  ShowWindow(hwnd, SW_SHOW);
  EXPECT_EQ(TextOf(hwnd), design.caption);
  RECT client{};
  GetClientRect(hwnd, &client);
  std::vector<HWND> focusable;
  for (size_t i = 0; i < design.controls.size(); ++i) {
    const forms::Control& c = design.controls[i];
    const forms::ControlState& s = form.State(static_cast<forms::ControlId>(i));
    SCOPED_TRACE(forms::ControlName(c));
    HWND control = window.Control(static_cast<forms::ControlId>(i));
    const LONG style = GetWindowLongW(control, GWL_STYLE);
    const bool is_static = c.kind == ControlKind::kLabel || c.kind == ControlKind::kLine;
    const wchar_t* window_class = c.kind == ControlKind::kTextBox ? L"Edit"
                                  : is_static                     ? L"Static"
                                                                  : L"Button";
    EXPECT_EQ(lstrcmpiW(win32_testing::ClassOf(control).c_str(), window_class), 0);
    // A path's "&" shows as itself.
    EXPECT_TRUE(c.kind != ControlKind::kLabel || (style & SS_NOPREFIX));
    EXPECT_EQ(TextOf(control), s.text);
    EXPECT_EQ((style & WS_VISIBLE) != 0, s.visible);
    EXPECT_EQ(IsWindowEnabled(control) != FALSE, s.enabled);
    EXPECT_EQ(SendMessageW(control, BM_GETCHECK, 0, 0) == BST_CHECKED, s.checked);
    wchar_t tip[256] = {};
    TTTOOLINFOW tool{};
    tool.cbSize = TTTOOLINFOW_V2_SIZE;
    tool.hwnd = hwnd;
    tool.uId = reinterpret_cast<UINT_PTR>(control);
    tool.lpszText = tip;
    SendMessageW(window.ToolTips(), TTM_GETTEXTW, 256, reinterpret_cast<LPARAM>(&tool));
    EXPECT_EQ(maquetor::shell::win32::Narrow(tip), c.tool_tip);

    // Hidden ones may lie outside: the one-database dialog is shorter.
    const RECT place = PlaceOf(control);
    EXPECT_TRUE(!s.visible || Inside(place, client));
    EXPECT_TRUE(c.frame.empty() || Inside(place, PlaceOf(window.Control(form.Find(c.frame)))));
    for (size_t j = i + 1; j < design.controls.size(); ++j) {
      if (design.controls[j].frame == c.name) continue;  // a frame holds what names it
      RECT both{}, other = PlaceOf(window.Control(static_cast<forms::ControlId>(j)));
      EXPECT_FALSE(IntersectRect(&both, &place, &other)) << ControlName(design.controls[j]);
    }
    ExpectTextFits(control, c.kind, s.text);
    const bool takes_focus = !is_static && c.kind != ControlKind::kFrame;
    if (takes_focus && s.visible && s.enabled) focusable.push_back(control);
  }
  std::vector<HWND> chain{GetNextDlgTabItem(hwnd, nullptr, FALSE)};
  while (chain.size() <= focusable.size()) {
    HWND next = GetNextDlgTabItem(hwnd, chain.back(), FALSE);
    if (next == chain.front()) break;
    chain.push_back(next);
  }
  EXPECT_EQ(chain, focusable);
  win32_testing::SaveScreenshot(hwnd, name);
}

class Win32ViewTest : public win32_testing::Win32Test {
 protected:
  Win32ViewTest() { form.SetVisible(true); }

  HWND Control(const char* name, int index = -1) const {
    return window.Window().Control(form.Find(name, index));
  }

  forms::MaquetorAbog form;
  maquetor::shell::win32::MaquetorAbogWindow window{form};
};

TEST_F(Win32ViewTest, ControlsAreBuiltFromTheDescriptionInTabOrderWithoutOverlapOrClipping) {
  ExpectBuiltFrom(form, window.Window(), "MaquetorAbog");
  for (const bool modo : {false, true}) {
    SCOPED_TRACE(modo);
    forms::frmInserta dialog;
    dialog.SetModo(modo);
    if (modo) dialog.SetText(dialog.Find("Text2"), "C:\\Datos\\Peña & Núñez\\Destino.mdb");
    maquetor::shell::win32::FrmInsertaDialog dialog_window(dialog, window.Handle());
    ExpectBuiltFrom(dialog, dialog_window.Window(), modo ? "frmInserta-Modo-true"
                                                         : "frmInserta-Modo-false");
  }
}

TEST_F(Win32ViewTest, AltSThroughTheLoopClosesTheWindowAndTheLoopEndsWith0) {
  SetForegroundWindow(window.Handle());
  PostMessageW(GetFocus(), WM_SYSKEYDOWN, 'S', 1 << 29);
  PostMessageW(GetFocus(), WM_SYSCHAR, 's', 1 << 29);
  const UINT_PTR give_up =
      SetTimer(nullptr, 0, 10000, [](HWND, UINT, UINT_PTR, DWORD) { PostQuitMessage(99); });
  EXPECT_EQ(maquetor::shell::win32::RunMessageLoop(), 0);
  KillTimer(nullptr, give_up);
  EXPECT_EQ(window.Handle(), nullptr);
}

TEST_F(Win32ViewTest, ClicksReachTheFormAndItsChangesReachTheControls) {
  const std::string path = dir.File("Nueva.mdb");
  maquetor::db::CreateMainDatabase(path).Close();
  maquetor::db::ProgramState::Instance().BDatosTrabajo = path;
  SendMessageW(Control("Paises"), BM_CLICK, 0, 0);
  EXPECT_TRUE(ui.messages.empty()) << ui.messages[0].text;
  EXPECT_EQ(maquetor::db::OpenShared(path).GetTableDef("TPaises").RecordCount(), 207);
  // The check box is the form's: a click flips its state and the control.
  SendMessageW(Control("Check1"), BM_CLICK, 0, 0);
  EXPECT_FALSE(form.State(form.Find("Check1")).checked);
  EXPECT_EQ(SendMessageW(Control("Check1"), BM_GETCHECK, 0, 0), BST_UNCHECKED);

  form.ShowCreationLabels("C:\\Datos\\Peña & Núñez.mdb");
  EXPECT_FALSE(IsWindowVisible(Control("Label1")));
  EXPECT_EQ(TextOf(Control("Label4")), "C:\\Datos\\Peña & Núñez.mdb");
  form.SetChecked(form.Opcion(8), true);
  form.SetChecked(form.Opcion(1), true);
  EXPECT_EQ(SendMessageW(Control("Opcion", 8), BM_GETCHECK, 0, 0), BST_UNCHECKED);
  EXPECT_EQ(SendMessageW(Control("Opcion", 1), BM_GETCHECK, 0, 0), BST_CHECKED);
  form.SetEnabled(form.Find("Paises"), false);
  EXPECT_FALSE(IsWindowEnabled(Control("Paises")));
}

TEST_F(Win32ViewTest, TheDialogRunsModallyInBothLayoutsAndClosesThroughItsForm) {
  const std::string old = dir.File("Vieja.mdb");
  std::ofstream(old) << "x";
  auto control = [](HWND dialog, const char* name) {
    return GetDlgItem(dialog, FormWindow::kFirstControlId + forms::frmInserta().Find(name));
  };
  const std::tuple<int, bool, std::function<void(HWND)>> cases[] = {
      // Crear, closed by the close box and by Escape: not created.
      {0, false, [](HWND d) { PostMessageW(d, WM_CLOSE, 0, 0); }},
      {0, false, [&](HWND d) { PostMessageW(control(d, "Text1"), WM_KEYDOWN, VK_ESCAPE, 0); }},
      // Borrar: a path typed and Enter pressed deletes the file.
      {1, false, [&](HWND d) {
         SetWindowTextW(control(d, "Text1"), Widen(old).c_str());
         PostMessageW(control(d, "Text1"), WM_KEYDOWN, VK_RETURN, 0);
       }},
      // A migration, Terminar with no origin chosen: not created.
      {8, true, [&](HWND d) { PostMessageW(control(d, "CmdExit"), BM_CLICK, 0, 0); }},
  };
  for (const auto& [option, two_databases, answer] : cases) {
    SCOPED_TRACE(option);
    maquetor::db::ProgramState::Instance().BDatosTrabajo.clear();
    win32_testing::WhenShown shown(L"frmInserta", [&](HWND dialog) {
      EXPECT_FALSE(IsWindowEnabled(window.Handle()));
      EXPECT_EQ(GetWindow(dialog, GW_OWNER), window.Handle());
      // The main window does not close under its dialog.
      SendMessageW(window.Handle(), WM_CLOSE, 0, 0);
      EXPECT_TRUE(IsWindowVisible(dialog));
      EXPECT_EQ(IsWindowVisible(control(dialog, "Text2")) != FALSE, two_databases);
      EXPECT_EQ(IsWindowVisible(control(dialog, "CmdExit")) != FALSE, two_databases);
      answer(dialog);
    });
    form.Click(form.Opcion(option));
    EXPECT_TRUE(shown.answered());
    EXPECT_TRUE(IsWindow(window.Handle()) && IsWindowEnabled(window.Handle()));
  }
  EXPECT_FALSE(std::filesystem::exists(old));
  ASSERT_EQ(ui.messages.size(), 3u);
  for (const auto& message : ui.messages) {
    EXPECT_EQ(message.text, "La base de datos no ha sido creada.");
  }
}

}  // namespace
