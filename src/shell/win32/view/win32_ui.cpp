#include "shell/win32/view/win32_ui.h"

#include <commdlg.h>

#include "shell/win32/utf16.h"
#include "shell/win32/view/message_loop.h"

namespace maquetor::shell::win32 {
namespace {

// The pointer is the program's, not a window's: one count for all.
int& BusyDepth() {
  static int depth = 0;
  return depth;
}

UINT IconStyle(Icon icon) {
  switch (icon) {
    case Icon::kInformation:
      return MB_ICONINFORMATION;
    case Icon::kCritical:
      return MB_ICONERROR;
    case Icon::kExclamation:
      return MB_ICONEXCLAMATION;
    case Icon::kNone:
      break;
  }
  return 0;
}

// "Bases de datos (*.mdb)|*.mdb", a description and its patterns by pairs,
// in the form OPENFILENAMEW takes: each part ends in a NUL, the list in a
// second one.
std::wstring FileFilter(const std::string& filter) {
  if (filter.empty()) return {};
  std::wstring out = Widen(filter);
  for (wchar_t& c : out) {
    if (c == L'|') c = L'\0';
  }
  // The end of the last part, then the end of the list.
  out.append(2, L'\0');
  return out;
}

}  // namespace

bool HourglassShown() { return BusyDepth() > 0; }

Win32Ui::~Win32Ui() {
  if (BusyDepth() > 0) {
    BusyDepth() = 0;
    SetCursor(LoadCursorW(nullptr, IDC_ARROW));
  }
}

HWND Win32Ui::Parent() const {
  if (!owner_ || !IsWindow(owner_)) return nullptr;
  // A disabled owner has a modal dialog up: the box goes over that one, so
  // the dialog cannot be used while the box waits.
  if (!IsWindowEnabled(owner_)) {
    HWND popup = GetLastActivePopup(owner_);
    if (popup && popup != owner_ && IsWindowEnabled(popup)) return popup;
  }
  return owner_;
}

void Win32Ui::Message(const std::string& text, const std::string& title, Icon icon) {
  const std::wstring caption = Widen(title.empty() ? std::string(kProgramTitle) : title);
  MessageBoxW(Parent(), Widen(text).c_str(), caption.c_str(), MB_OK | IconStyle(icon));
}

std::string Win32Ui::ChooseFile(const std::string& title, const std::string& filter) {
  const std::wstring filters = FileFilter(filter);
  const std::wstring caption = Widen(title);
  std::wstring file(32768, L'\0');
  OPENFILENAMEW dialog{};
  dialog.lStructSize = sizeof(dialog);
  dialog.hwndOwner = Parent();
  dialog.lpstrFilter = filters.empty() ? nullptr : filters.c_str();
  dialog.nFilterIndex = 1;
  dialog.lpstrFile = file.data();
  dialog.nMaxFile = static_cast<DWORD>(file.size());
  dialog.lpstrTitle = caption.empty() ? nullptr : caption.c_str();
  // No OFN_FILEMUSTEXIST: the caller decides whether the file must exist.
  dialog.Flags = OFN_EXPLORER | OFN_HIDEREADONLY | OFN_PATHMUSTEXIST | OFN_NOCHANGEDIR;
  if (!GetOpenFileNameW(&dialog)) return {};
  return Narrow(std::wstring(file.c_str()));
}

void Win32Ui::SetBusy(bool busy) {
  int& depth = BusyDepth();
  if (busy) {
    if (depth++ == 0) SetCursor(LoadCursorW(nullptr, IDC_WAIT));
  } else if (depth > 0 && --depth == 0) {
    SetCursor(LoadCursorW(nullptr, IDC_ARROW));
  }
}

void Win32Ui::ProcessEvents() { ProcessPendingMessages(); }


}  // namespace maquetor::shell::win32
