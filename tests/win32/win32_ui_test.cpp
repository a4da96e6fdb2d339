// The Windows answers to the operations' needs: message boxes and the file
// dialog as they really come up (answered from a timer), and the
// hourglass's nesting.
#include <windows.h>
#include <commdlg.h>
#include <dlgs.h>

#include "shell/forms/frm_inserta.h"
#include "shell/forms/maquetor_abog.h"
#include "shell/win32/view/frm_inserta_dialog.h"
#include "shell/win32/view/maquetor_abog_window.h"
#include "shell/win32/view/win32_ui.h"
#include "win32_support.h"

namespace {

using maquetor::shell::Icon;
using maquetor::shell::win32::Win32Ui;
using win32_testing::TextOf;
using win32_testing::WhenShown;

// The icon a message box shows (null for none), when it shows `text`.
HICON IconShownWith(HWND box, const std::string& text) {
  HICON icon = nullptr;
  bool shown = false;
  for (HWND child = GetWindow(box, GW_CHILD); child; child = GetWindow(child, GW_HWNDNEXT)) {
    shown = shown || TextOf(child) == text;
    if (IsWindowVisible(child) && (GetWindowLongW(child, GWL_STYLE) & SS_TYPEMASK) == SS_ICON) {
      icon = reinterpret_cast<HICON>(SendMessageW(child, STM_GETICON, 0, 0));
    }
  }
  EXPECT_TRUE(shown) << text;
  return icon;
}

class Win32UiTest : public win32_testing::Win32Test {};

TEST_F(Win32UiTest, MessageBoxShowsTheIconAndTitleAskedForOverTheModalDialog) {
  maquetor::shell::forms::MaquetorAbog form;
  maquetor::shell::win32::MaquetorAbogWindow window(form);
  form.SetVisible(true);
  Win32Ui ui(window.Handle());
  const std::tuple<Icon, const wchar_t*, std::string, std::string> cases[] = {
      {Icon::kInformation, IDI_INFORMATION, "", "Maquetor - Corvanta"},
      {Icon::kCritical, IDI_ERROR, "MENSAJE", "MENSAJE"},
      {Icon::kExclamation, IDI_WARNING, "", "Maquetor - Corvanta"},
      {Icon::kNone, nullptr, "", "Maquetor - Corvanta"},
  };
  for (const auto& [icon, system_icon, title, shown_title] : cases) {
    WhenShown shown(L"#32770", [&](HWND box) {
      EXPECT_EQ(TextOf(box), shown_title);
      EXPECT_EQ(IconShownWith(box, "No se ha realizado ninguna selección."),
                system_icon ? LoadIconW(nullptr, system_icon) : nullptr);
      EXPECT_EQ(GetWindow(box, GW_OWNER), window.Handle());
      PostMessageW(box, WM_COMMAND, IDOK, 0);
    });
    ui.Message("No se ha realizado ninguna selección.", title, icon);
    EXPECT_TRUE(shown.answered()) << shown_title;
  }

  // With the selection dialog up, the box is the dialog's: the dialog
  // cannot be used while the box waits.
  maquetor::shell::forms::frmInserta dialog;
  maquetor::shell::win32::FrmInsertaDialog dialog_window(dialog, window.Handle());
  EnableWindow(window.Handle(), FALSE);
  dialog_window.Show();
  WhenShown shown(L"#32770", [&](HWND box) {
    EXPECT_EQ(GetWindow(box, GW_OWNER), dialog_window.Handle());
    PostMessageW(box, WM_COMMAND, IDOK, 0);
  });
  ui.Message("Debe Seleccionar una Base no existente.", "", Icon::kInformation);
  EXPECT_TRUE(shown.answered());
  EnableWindow(window.Handle(), TRUE);
}

TEST_F(Win32UiTest, FileDialogTakesANameNotYetOnDiskAndGivesNothingWhenCancelled) {
  Win32Ui ui;
  const std::string fresh = dir.File("Nueva Peña.mdb");
  WhenShown shown(L"#32770", [&](HWND file_dialog) {
    EXPECT_EQ(TextOf(file_dialog), "Crear");
    HWND types = GetDlgItem(file_dialog, cmb1);
    EXPECT_EQ(SendMessageW(types, CB_GETCOUNT, 0, 0), 1);
    EXPECT_EQ(TextOf(types), "Bases de datos (*.mdb)");
    const std::wstring name = maquetor::shell::win32::Widen(fresh);
    SendMessageW(file_dialog, CDM_SETCONTROLTEXT, cmb13, reinterpret_cast<LPARAM>(name.c_str()));
    PostMessageW(file_dialog, WM_COMMAND, IDOK, 0);
  });
  EXPECT_EQ(ui.ChooseFile("Crear", "Bases de datos (*.mdb)|*.mdb"), fresh);
  EXPECT_TRUE(shown.answered());

  WhenShown cancelled(L"#32770", [](HWND file_dialog) {
    PostMessageW(file_dialog, WM_COMMAND, IDCANCEL, 0);
  });
  EXPECT_EQ(ui.ChooseFile("", "Bases de datos (*.mdb)|*.mdb"), "");
  EXPECT_TRUE(cancelled.answered());
}

TEST(Win32Ui, HourglassNestsAndAStrayRestoreIsHarmless) {
  Win32Ui ui;
  ui.SetBusy(false);
  ui.SetBusy(true);
  ui.SetBusy(true);
  ui.SetBusy(false);
  EXPECT_EQ(GetCursor(), LoadCursorW(nullptr, IDC_WAIT));
  ui.SetBusy(false);
  EXPECT_EQ(GetCursor(), LoadCursorW(nullptr, IDC_ARROW));
}

}  // namespace
