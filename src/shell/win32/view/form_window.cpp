#include "shell/win32/view/form_window.h"

#include <commctrl.h>

#include <algorithm>
#include <stdexcept>

#include "shell/win32/utf16.h"
#include "shell/win32/view/win32_ui.h"

namespace maquetor::shell::win32 {
namespace {

using forms::ControlId;
using forms::ControlKind;

// Subclass ids: what a subclassed control needs from its window.
constexpr UINT_PTR kOptionSubclass = 1;   // focus arriving is not a click
constexpr UINT_PTR kTextBoxSubclass = 2;  // Enter belongs to the box

HINSTANCE Instance() { return GetModuleHandleW(nullptr); }

std::runtime_error SystemFailure(const char* what) {
  return std::runtime_error(std::string(what) + " failed (error " +
                            std::to_string(GetLastError()) + ")");
}

void RegisterWindowClass(const std::wstring& name, WNDPROC procedure) {
  WNDCLASSEXW window_class{};
  window_class.cbSize = sizeof(window_class);
  window_class.lpfnWndProc = procedure;
  window_class.hInstance = Instance();
  window_class.hIcon = LoadIconW(nullptr, IDI_APPLICATION);
  window_class.hCursor = LoadCursorW(nullptr, IDC_ARROW);
  window_class.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1);
  window_class.lpszClassName = name.c_str();
  if (!RegisterClassExW(&window_class) && GetLastError() != ERROR_CLASS_ALREADY_EXISTS) {
    throw SystemFailure("RegisterClassExW");
  }
}

void InitCommonControlsOnce() {
  static const bool done = [] {
    INITCOMMONCONTROLSEX classes{sizeof(classes), ICC_WIN95_CLASSES};
    return InitCommonControlsEx(&classes) != FALSE;
  }();
  (void)done;
}

// The font message boxes use, which the user may have enlarged.
HFONT MessageFont() {
  NONCLIENTMETRICSW metrics{};
  metrics.cbSize = sizeof(metrics);
  if (SystemParametersInfoW(SPI_GETNONCLIENTMETRICS, sizeof(metrics), &metrics, 0)) {
    return CreateFontIndirectW(&metrics.lfMessageFont);
  }
  LOGFONTW fallback{};
  GetObjectW(GetStockObject(DEFAULT_GUI_FONT), sizeof(fallback), &fallback);
  return CreateFontIndirectW(&fallback);
}

// Pixels per dialog unit, times 4 across and 8 down: the font's average
// character width, taken over the alphabet, and its height.
SIZE BaseUnits(HFONT font) {
  static constexpr wchar_t kAlphabet[] = L"ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz";
  HDC dc = GetDC(nullptr);
  HGDIOBJ previous = SelectObject(dc, font);
  TEXTMETRICW metrics{};
  GetTextMetricsW(dc, &metrics);
  SIZE alphabet{};
  GetTextExtentPoint32W(dc, kAlphabet, 52, &alphabet);
  SelectObject(dc, previous);
  ReleaseDC(nullptr, dc);
  return {(alphabet.cx / 26 + 1) / 2, metrics.tmHeight};
}

RECT ToPixels(const DluRect& r, SIZE base) {
  const LONG left = MulDiv(r.x, base.cx, 4);
  const LONG top = MulDiv(r.y, base.cy, 8);
  return {left, top, left + MulDiv(r.width, base.cx, 4), top + MulDiv(r.height, base.cy, 8)};
}

struct NativeKind {
  const wchar_t* window_class;
  DWORD style;
  DWORD ex_style = 0;
};

NativeKind NativeOf(ControlKind kind, const DluRect& place) {
  switch (kind) {
    case ControlKind::kFrame:
      return {L"BUTTON", BS_GROUPBOX};
    case ControlKind::kButton:
      return {L"BUTTON", BS_PUSHBUTTON | WS_TABSTOP};
    case ControlKind::kOptionButton:
      // Not BS_AUTORADIOBUTTON: the form checks and unchecks its options.
      return {L"BUTTON", BS_RADIOBUTTON | WS_TABSTOP};
    case ControlKind::kCheckBox:
      return {L"BUTTON", BS_CHECKBOX | WS_TABSTOP};
    case ControlKind::kLabel:
      // A label one line high shows a long path shortened in its middle.
      return {L"STATIC",
              DWORD{SS_LEFT | SS_NOPREFIX} | (place.height > 8 ? 0u : DWORD{SS_PATHELLIPSIS})};
    case ControlKind::kTextBox:
      return {L"EDIT", ES_LEFT | ES_AUTOHSCROLL | WS_TABSTOP, WS_EX_CLIENTEDGE};
    case ControlKind::kLine:
      return {L"STATIC", SS_ETCHEDHORZ};
  }
  return {L"STATIC", 0};
}

std::string TextOf(HWND window) {
  std::wstring text(static_cast<size_t>(GetWindowTextLengthW(window)) + 1, L'\0');
  const int length = GetWindowTextW(window, text.data(), static_cast<int>(text.size()));
  text.resize(static_cast<size_t>(length));
  return Narrow(text);
}

// Centred over `owner` when it is shown, else in the work area.
POINT CentredOrigin(HWND owner, SIZE size) {
  RECT area{};
  SystemParametersInfoW(SPI_GETWORKAREA, 0, &area, 0);
  RECT over = area;
  if (owner && IsWindowVisible(owner)) GetWindowRect(owner, &over);
  POINT origin{over.left + (over.right - over.left - size.cx) / 2,
               over.top + (over.bottom - over.top - size.cy) / 2};
  origin.x = std::max(area.left, origin.x);
  origin.y = std::max(area.top, origin.y);
  return origin;
}

}  // namespace

FormWindow::FormWindow(forms::Form& form, const FormLayout& layout, WindowRole role, HWND owner)
    : form_(form), role_(role) {
  InitCommonControlsOnce();
  const auto& design = form.Description();
  const std::wstring class_name = Widen(std::string(design.name));
  RegisterWindowClass(class_name, &FormWindow::Procedure);

  font_ = MessageFont();
  base_ = BaseUnits(font_);
  const DWORD style = role == WindowRole::kMainWindow
                          ? WS_OVERLAPPED | WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX
                          : WS_POPUP | WS_CAPTION | WS_SYSMENU;
  const DWORD ex_style =
      WS_EX_CONTROLPARENT | (role == WindowRole::kModalDialog ? WS_EX_DLGMODALFRAME : 0);
  RECT frame = ToPixels({0, 0, layout.width, layout.height}, base_);
  AdjustWindowRectEx(&frame, style, FALSE, ex_style);
  const SIZE size{frame.right - frame.left, frame.bottom - frame.top};
  const POINT origin = CentredOrigin(owner, size);
  // WM_NCCREATE sets hwnd_.
  CreateWindowExW(ex_style, class_name.c_str(), Widen(std::string(design.caption)).c_str(), style,
                  origin.x, origin.y, size.cx, size.cy, owner, nullptr, Instance(), this);
  if (!hwnd_) {
    DeleteObject(font_);
    throw SystemFailure("CreateWindowExW");
  }
  try {
    CreateControls(layout);
  } catch (...) {
    // No destructor runs for a constructor that throws.
    DestroyWindow(hwnd_);
    DeleteObject(font_);
    throw;
  }
}

FormWindow::~FormWindow() {
  // Taken down by its owner, not by its form: the loop goes on.
  if (hwnd_) DestroyWindow(hwnd_);
  DeleteObject(font_);
}

void FormWindow::CreateControls(const FormLayout& layout) {
  const auto& controls = form_.Description().controls;
  controls_.resize(controls.size(), nullptr);
  for (size_t i = 0; i < controls.size(); ++i) {
    const auto id = static_cast<ControlId>(i);
    const forms::Control& control = controls[i];
    const forms::ControlState& state = form_.State(id);
    const NativeKind native = NativeOf(control.kind, layout.controls[i]);
    DWORD style = WS_CHILD | native.style;
    if (state.visible) style |= WS_VISIBLE;
    if (!state.enabled) style |= WS_DISABLED;
    // Each frame's controls, and the window's own between frames, are a
    // group: the arrow keys move within it.
    if (i == 0 || controls[i - 1].frame != control.frame) style |= WS_GROUP;
    const RECT place = ToPixels(layout.controls[i], base_);
    HWND window = CreateWindowExW(
        native.ex_style, native.window_class, Widen(state.text).c_str(), style, place.left,
        place.top, place.right - place.left, place.bottom - place.top, hwnd_,
        reinterpret_cast<HMENU>(static_cast<INT_PTR>(kFirstControlId + id)), Instance(), nullptr);
    if (!window) throw SystemFailure("CreateWindowExW");
    controls_[i] = window;
    SendMessageW(window, WM_SETFONT, reinterpret_cast<WPARAM>(font_), FALSE);
    if (state.checked) SendMessageW(window, BM_SETCHECK, BST_CHECKED, 0);
    if (control.kind == ControlKind::kOptionButton) {
      SetWindowSubclass(window, &FormWindow::ControlProcedure, kOptionSubclass,
                        reinterpret_cast<DWORD_PTR>(this));
    } else if (control.kind == ControlKind::kTextBox) {
      SetWindowSubclass(window, &FormWindow::ControlProcedure, kTextBoxSubclass,
                        reinterpret_cast<DWORD_PTR>(this));
    }
    if (!control.tool_tip.empty()) CreateToolTip(window, control.tool_tip);
  }
}

void FormWindow::CreateToolTip(HWND control, std::string_view text) {
  if (!tool_tips_) {
    tool_tips_ = CreateWindowExW(WS_EX_TOPMOST, TOOLTIPS_CLASSW, nullptr,
                                 WS_POPUP | TTS_ALWAYSTIP | TTS_NOPREFIX, CW_USEDEFAULT,
                                 CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT, hwnd_, nullptr,
                                 Instance(), nullptr);
    if (!tool_tips_) throw SystemFailure("CreateWindowExW (tool tips)");
  }
  std::wstring wide = Widen(std::string(text));
  TTTOOLINFOW tool{};
  // The size every version of the common controls accepts.
  tool.cbSize = TTTOOLINFOW_V2_SIZE;
  tool.uFlags = TTF_IDISHWND | TTF_SUBCLASS;
  tool.hwnd = hwnd_;
  tool.uId = reinterpret_cast<UINT_PTR>(control);
  tool.lpszText = wide.data();
  SendMessageW(tool_tips_, TTM_ADDTOOLW, 0, reinterpret_cast<LPARAM>(&tool));
}

HWND FormWindow::Control(ControlId id) const {
  if (!hwnd_) return nullptr;
  return controls_.at(static_cast<size_t>(id));
}

void FormWindow::SetText(ControlId id, const std::string& text) {
  if (HWND control = Control(id)) SetWindowTextW(control, Widen(text).c_str());
}

void FormWindow::SetVisible(ControlId id, bool visible) {
  if (HWND control = Control(id)) ShowWindow(control, visible ? SW_SHOW : SW_HIDE);
}

void FormWindow::SetEnabled(ControlId id, bool enabled) {
  if (HWND control = Control(id)) EnableWindow(control, enabled);
}

void FormWindow::SetChecked(ControlId id, bool checked) {
  if (HWND control = Control(id)) {
    SendMessageW(control, BM_SETCHECK, checked ? BST_CHECKED : BST_UNCHECKED, 0);
  }
}

void FormWindow::Focus(ControlId id) {
  if (HWND control = Control(id)) SetFocus(control);
}

void FormWindow::Show(bool visible) {
  if (hwnd_) ShowWindow(hwnd_, visible ? SW_SHOW : SW_HIDE);
}

void FormWindow::Repaint() {
  // UpdateWindow alone would leave the controls, windows of their own.
  if (hwnd_ && IsWindowVisible(hwnd_)) {
    RedrawWindow(hwnd_, nullptr, nullptr, RDW_UPDATENOW | RDW_ALLCHILDREN);
  }
}

void FormWindow::Destroy() {
  if (!hwnd_) return;
  closing_ = true;
  DestroyWindow(hwnd_);
}

LRESULT CALLBACK FormWindow::Procedure(HWND hwnd, UINT message, WPARAM wparam, LPARAM lparam) {
  if (message == WM_NCCREATE) {
    auto* created = reinterpret_cast<CREATESTRUCTW*>(lparam);
    auto* self = static_cast<FormWindow*>(created->lpCreateParams);
    self->hwnd_ = hwnd;
    SetWindowLongPtrW(hwnd, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(self));
  }
  auto* self = reinterpret_cast<FormWindow*>(GetWindowLongPtrW(hwnd, GWLP_USERDATA));
  if (!self) return DefWindowProcW(hwnd, message, wparam, lparam);
  if (message == WM_NCDESTROY) {
    SetWindowLongPtrW(hwnd, GWLP_USERDATA, 0);
    self->hwnd_ = nullptr;
    self->tool_tips_ = nullptr;
    return DefWindowProcW(hwnd, message, wparam, lparam);
  }
  return self->OnMessage(message, wparam, lparam);
}

LRESULT FormWindow::OnMessage(UINT message, WPARAM wparam, LPARAM lparam) {
  switch (message) {
    case WM_COMMAND:
      OnCommand(LOWORD(wparam), HIWORD(wparam));
      return 0;
    case WM_CLOSE:
      // A window under a modal dialog or box does not close.
      if (IsWindowEnabled(hwnd_)) form_.CloseBox();
      return 0;
    case WM_ACTIVATE:
      OnActivate(LOWORD(wparam) != WA_INACTIVE);
      return 0;
    case WM_SETFOCUS:
      RestoreFocus();
      return 0;
    case WM_NEXTDLGCTL: {
      // What IsDialogMessageW asks of a window that is not a dialog.
      HWND next = LOWORD(lparam) ? reinterpret_cast<HWND>(wparam)
                                 : GetNextDlgTabItem(hwnd_, GetFocus(), wparam != 0);
      if (next) SetFocus(next);
      return 0;
    }
    case WM_SETCURSOR:
      if (OnSetCursor(lparam)) return TRUE;
      break;
    case WM_DESTROY:
      OnDestroy();
      return 0;
    default:
      break;
  }
  return DefWindowProcW(hwnd_, message, wparam, lparam);
}

void FormWindow::OnCommand(int command, int notification) {
  // Escape, as IsDialogMessageW reports it.
  if (command == IDCANCEL && role_ == WindowRole::kModalDialog) {
    form_.CloseBox();
    return;
  }
  const int index = command - kFirstControlId;
  if (index < 0 || static_cast<size_t>(index) >= controls_.size()) return;
  const auto id = static_cast<ControlId>(index);
  switch (form_.Design(id).kind) {
    case ControlKind::kTextBox:
      if (notification == EN_CHANGE) form_.TextEdited(id, TextOf(controls_[index]));
      break;
    case ControlKind::kOptionButton:
      if (notification == BN_CLICKED && focus_arriving_ == 0) form_.Click(id);
      break;
    case ControlKind::kButton:
    case ControlKind::kCheckBox:
      if (notification == BN_CLICKED) form_.Click(id);
      break;
    default:
      break;
  }
}

void FormWindow::OnActivate(bool active) {
  if (active) {
    RestoreFocus();
    return;
  }
  HWND focus = GetFocus();
  if (focus && IsChild(hwnd_, focus)) last_focus_ = focus;
}

void FormWindow::RestoreFocus() {
  HWND target = last_focus_;
  if (!target || !IsChild(hwnd_, target) || !IsWindowVisible(target) || !IsWindowEnabled(target)) {
    target = GetNextDlgTabItem(hwnd_, nullptr, FALSE);
  }
  if (target) SetFocus(target);
}

bool FormWindow::OnSetCursor(LPARAM lparam) {
  if (LOWORD(lparam) != HTCLIENT || !HourglassShown()) return false;
  SetCursor(LoadCursorW(nullptr, IDC_WAIT));
  return true;
}

void FormWindow::OnDestroy() {
  if (role_ == WindowRole::kMainWindow && closing_) {
    PostQuitMessage(form_.EndedWith().value_or(0));
  }
}

LRESULT CALLBACK FormWindow::ControlProcedure(HWND control, UINT message, WPARAM wparam,
                                              LPARAM lparam, UINT_PTR subclass, DWORD_PTR data) {
  auto* self = reinterpret_cast<FormWindow*>(data);
  switch (message) {
    case WM_SETFOCUS:
      if (subclass == kOptionSubclass) {
        ++self->focus_arriving_;
        const LRESULT result = DefSubclassProc(control, message, wparam, lparam);
        --self->focus_arriving_;
        return result;
      }
      break;
    case WM_GETDLGCODE: {
      // Without this IsDialogMessageW takes Enter for the window.
      const auto* key = reinterpret_cast<const MSG*>(lparam);
      if (subclass == kTextBoxSubclass && key && key->message == WM_KEYDOWN &&
          key->wParam == VK_RETURN) {
        return DefSubclassProc(control, message, wparam, lparam) | DLGC_WANTALLKEYS;
      }
      break;
    }
    case WM_KEYDOWN:
      if (subclass == kTextBoxSubclass && wparam == VK_RETURN) {
        self->form_.Enter(static_cast<ControlId>(GetDlgCtrlID(control) - kFirstControlId));
        return 0;
      }
      break;
    case WM_CHAR:
      // The Enter just handled would otherwise beep.
      if (subclass == kTextBoxSubclass && wparam == L'\r') return 0;
      break;
    case WM_NCDESTROY:
      RemoveWindowSubclass(control, &FormWindow::ControlProcedure, subclass);
      break;
    default:
      break;
  }
  return DefSubclassProc(control, message, wparam, lparam);
}

}  // namespace maquetor::shell::win32
