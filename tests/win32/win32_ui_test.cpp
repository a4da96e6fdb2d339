// The Windows answers to the operations' needs: the filter in the form
// GetOpenFileNameW takes, message boxes and the file dialog as they really
// come up (answered from a timer), and the hourglass's nesting.
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
using maquetor::shell::win32::Widen;
using win32_testing::ClassOf;
using win32_testing::TextOf;
using win32_testing::WhenShown;

TEST(Win32Ui, FilterPartsEndInANulAndTheListInAnother) {
  using namespace std::string_literals;
  const std::pair<std::string, std::wstring> cases[] = {
      {"Bases de datos (*.mdb)|*.mdb", L"Bases de datos (*.mdb)\0*.mdb\0\0"s},
      {"Bases|*.mdb;*.mde|Todos|*.*", L"Bases\0*.mdb;*.mde\0Todos\0*.*\0\0"s},
      {"Años|*.año", L"Años\0*.año\0\0"s},
      {"", L""s},
  };
  for (const auto& [filter, expected] : cases) {
    EXPECT_EQ(maquetor::shell::win32::Win32FileFilter(filter), expected) << filter;
  }
}

// The icon a message box shows, or null for none.
HICON IconOf(HWND box) {
  for (HWND child = GetWindow(box, GW_CHILD); child; child = GetWindow(child, GW_HWNDNEXT)) {
    if (IsWindowVisible(child) && (GetWindowLongW(child, GWL_STYLE) & SS_TYPEMASK) == SS_ICON &&
        lstrcmpiW(ClassOf(child).c_str(), L"Static") == 0) {
      return reinterpret_cast<HICON>(SendMessageW(child, STM_GETICON, 0, 0));
    }
  }
  return nullptr;
}

bool ShowsText(HWND box, const std::string& text) {
  for (HWND child = GetWindow(box, GW_CHILD); child; child = GetWindow(child, GW_HWNDNEXT)) {
    if (TextOf(child) == text) return true;
  }
  return false;
}

class Win32UiTest : public win32_testing::Win32Test {};

TEST_F(Win32UiTest, MessageBoxShowsTheIconAndTitleAskedForOverTheModalDialog) {
  maquetor::shell::forms::MaquetorAbog form;
  maquetor::shell::win32::MaquetorAbogWindow window(form);
  form.SetVisible(true);
  Win32Ui ui(window.Handle());
  struct Case {
    Icon icon;
    const wchar_t* system_icon;  // null: none
    std::string title, shown_title;
  };
  const Case cases[] = {
      {Icon::kInformation, IDI_INFORMATION, "", "Maquetor - Corvanta"},
      {Icon::kCritical, IDI_ERROR, "MENSAJE", "MENSAJE"},
      {Icon::kExclamation, IDI_WARNING, "", "Maquetor - Corvanta"},
      {Icon::kNone, nullptr, "", "Maquetor - Corvanta"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.shown_title);
    WhenShown shown(L"#32770", [&](HWND box) {
      EXPECT_EQ(TextOf(box), c.shown_title);
      EXPECT_TRUE(ShowsText(box, "No se ha realizado ninguna selección."));
      EXPECT_EQ(IconOf(box), c.system_icon ? LoadIconW(nullptr, c.system_icon) : nullptr);
      EXPECT_EQ(GetWindow(box, GW_OWNER), window.Handle());
      PostMessageW(box, WM_COMMAND, IDOK, 0);
    });
    ui.Message("No se ha realizado ninguna selección.", c.title, c.icon);
    EXPECT_TRUE(shown.answered());
  }

  // With the selection dialog up the box belongs to it, so that the dialog
  // waits for the box.
  maquetor::shell::forms::frmInserta dialog;
  maquetor::shell::win32::FrmInsertaDialog dialog_window(dialog, window.Handle());
  EnableWindow(window.Handle(), FALSE);
  dialog_window.Show();
  WhenShown shown(L"#32770", [&](HWND box) {
    EXPECT_EQ(GetWindow(box, GW_OWNER), dialog_window.Handle());
    EXPECT_FALSE(IsWindowEnabled(dialog_window.Handle()));
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
    const std::wstring name = Widen(fresh);
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
  EXPECT_TRUE(maquetor::shell::win32::HourglassShown());
  EXPECT_EQ(GetCursor(), LoadCursorW(nullptr, IDC_WAIT));
  ui.SetBusy(false);
  EXPECT_FALSE(maquetor::shell::win32::HourglassShown());
  EXPECT_EQ(GetCursor(), LoadCursorW(nullptr, IDC_ARROW));
}

}  // namespace
