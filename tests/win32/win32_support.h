// What the Win32 view tests share: a fixture with empty program-wide paths,
// the recording Ui and a scratch folder; reading a native window back; a
// picture of a window saved under the build folder; and answers given to a
// window a modal loop brings up, from a timer that loop dispatches.
#pragma once

#include <gtest/gtest.h>

#include <windows.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <functional>
#include <string>
#include <vector>

#include "db/program_state.h"
#include "shell/win32/utf16.h"
#include "support/fixtures.h"
#include "support/recording_ui.h"

namespace win32_testing {

inline std::string TextOf(HWND window) {
  std::wstring text(static_cast<size_t>(GetWindowTextLengthW(window)) + 1, L'\0');
  const int length = GetWindowTextW(window, text.data(), static_cast<int>(text.size()));
  text.resize(static_cast<size_t>(length));
  return maquetor::shell::win32::Narrow(text);
}

inline std::wstring ClassOf(HWND window) {
  wchar_t name[64] = {};
  GetClassNameW(window, name, 64);
  return name;
}

// The client area of `window` as it is on the display, saved as
// <build>/screenshots/<name>.bmp (32 bits, opaque).
inline void SaveScreenshot(HWND window, const std::string& name) {
  RedrawWindow(window, nullptr, nullptr, RDW_UPDATENOW | RDW_ALLCHILDREN);
  RECT client{};
  GetClientRect(window, &client);
  BITMAPINFOHEADER header{};
  header.biSize = sizeof(header);
  header.biWidth = client.right;
  header.biHeight = client.bottom;
  header.biPlanes = 1;
  header.biBitCount = 32;
  header.biCompression = BI_RGB;
  void* bits = nullptr;
  HBITMAP picture = CreateDIBSection(nullptr, reinterpret_cast<BITMAPINFO*>(&header),
                                     DIB_RGB_COLORS, &bits, nullptr, 0);
  ASSERT_NE(picture, nullptr);
  HDC memory = CreateCompatibleDC(nullptr);
  HGDIOBJ before = SelectObject(memory, picture);
  HDC screen = GetDC(window);
  EXPECT_TRUE(BitBlt(memory, 0, 0, client.right, client.bottom, screen, 0, 0, SRCCOPY));
  ReleaseDC(window, screen);
  GdiFlush();
  const size_t size = static_cast<size_t>(client.right) * static_cast<size_t>(client.bottom) * 4;
  auto* bytes = static_cast<unsigned char*>(bits);
  // BitBlt leaves the fourth byte 0, which viewers read as transparent.
  for (size_t i = 3; i < size; i += 4) bytes[i] = 0xFF;
  BITMAPFILEHEADER file{};
  file.bfType = 0x4D42;  // "BM"
  file.bfOffBits = sizeof(file) + sizeof(header);
  file.bfSize = static_cast<DWORD>(file.bfOffBits + size);
  const auto folder = std::filesystem::path(MAQUETOR_BINARY_DIR) / "screenshots";
  std::filesystem::create_directories(folder);
  std::ofstream out(folder / (name + ".bmp"), std::ios::binary);
  out.write(reinterpret_cast<const char*>(&file), sizeof(file));
  out.write(reinterpret_cast<const char*>(&header), sizeof(header));
  out.write(static_cast<const char*>(bits), static_cast<std::streamsize>(size));
  EXPECT_TRUE(out.good()) << name;
  SelectObject(memory, before);
  DeleteDC(memory);
  DeleteObject(picture);
}

// Runs `answer` on the first shown top-level window of this thread whose
// class is `window_class` (L"frmInserta", L"#32770" for the system's
// dialogs), from a timer the modal loop that shows it dispatches. A window
// still up ten seconds later fails the test and is closed with its boxes
// emptied (so the selection dialog answers "Exit" and its caller's loop
// ends): a broken answer fails the suite instead of hanging it.
class WhenShown {
 public:
  WhenShown(const wchar_t* window_class, std::function<void(HWND)> answer)
      : window_class_(window_class), answer_(std::move(answer)),
        deadline_(std::chrono::steady_clock::now() + std::chrono::seconds(10)) {
    Current() = this;
    timer_ = SetTimer(nullptr, 0, 50, &WhenShown::Tick);
  }
  ~WhenShown() {
    KillTimer(nullptr, timer_);
    Current() = nullptr;
  }
  WhenShown(const WhenShown&) = delete;
  WhenShown& operator=(const WhenShown&) = delete;

  bool answered() const { return answered_; }

 private:
  static WhenShown*& Current() {
    static WhenShown* current = nullptr;
    return current;
  }

  static BOOL CALLBACK Visit(HWND window, LPARAM found) {
    auto* self = Current();
    if (IsWindowVisible(window) && ClassOf(window) == self->window_class_) {
      *reinterpret_cast<HWND*>(found) = window;
      return FALSE;
    }
    return TRUE;
  }

  static void CALLBACK Tick(HWND, UINT, UINT_PTR, DWORD) {
    WhenShown* self = Current();
    if (!self) return;
    HWND found = nullptr;
    EnumThreadWindows(GetCurrentThreadId(), &WhenShown::Visit, reinterpret_cast<LPARAM>(&found));
    if (!found) return;
    if (!self->answered_) {
      self->answered_ = true;
      self->answer_(found);
    } else if (std::chrono::steady_clock::now() > self->deadline_) {
      ADD_FAILURE() << "a window was left open";
      for (HWND box = FindWindowExW(found, nullptr, L"Edit", nullptr); box;
           box = FindWindowExW(found, box, L"Edit", nullptr)) {
        SetWindowTextW(box, L"");
      }
      PostMessageW(found, WM_CLOSE, 0, 0);
    }
  }

  std::wstring window_class_;
  std::function<void(HWND)> answer_;
  std::chrono::steady_clock::time_point deadline_;
  UINT_PTR timer_ = 0;
  bool answered_ = false;
};

class Win32Test : public testing::Test {
 protected:
  Win32Test() { maquetor::db::ProgramState::Instance() = {}; }

  testing_support::RecordingUi ui;
  testing_support::TempDir dir;
};

}  // namespace win32_testing
