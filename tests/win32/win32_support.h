// What the Win32 view tests share: a fixture with empty program-wide paths,
// the recording Ui and a scratch folder; reading a native window back; a
// picture of a window; and answers to a window a modal loop brings up.
#pragma once

#include <gtest/gtest.h>

#include <windows.h>

#include <chrono>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <set>
#include <string>

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

// The client area as the display shows it, in <build>/screenshots/NAME.bmp.
inline void SaveScreenshot(HWND window, const std::string& name) {
  RedrawWindow(window, nullptr, nullptr, RDW_UPDATENOW | RDW_ALLCHILDREN);
  RECT client{};
  GetClientRect(window, &client);
  BITMAPINFOHEADER header{sizeof(header), client.right, client.bottom, 1, 32, BI_RGB, 0, 0, 0, 0,
                          0};
  void* bits = nullptr;
  HBITMAP picture = CreateDIBSection(nullptr, reinterpret_cast<BITMAPINFO*>(&header),
                                     DIB_RGB_COLORS, &bits, nullptr, 0);
  HDC memory = CreateCompatibleDC(nullptr);
  HGDIOBJ before = SelectObject(memory, picture);
  HDC screen = GetDC(window);
  EXPECT_TRUE(BitBlt(memory, 0, 0, client.right, client.bottom, screen, 0, 0, SRCCOPY));
  ReleaseDC(window, screen);
  GdiFlush();
  const size_t size = static_cast<size_t>(client.right) * static_cast<size_t>(client.bottom) * 4;
  // BitBlt leaves the fourth byte 0, which viewers take for transparent.
  for (size_t i = 3; i < size; i += 4) static_cast<unsigned char*>(bits)[i] = 0xFF;
  // Something was drawn: frames, captions and boxes give the picture many
  // colours, an empty window one or two.
  EXPECT_GT(client.right, 0);
  EXPECT_GT(client.bottom, 0);
  std::set<uint32_t> colours;
  for (size_t i = 0; i + 4 <= size; i += 4) {
    uint32_t pixel = 0;
    std::memcpy(&pixel, static_cast<unsigned char*>(bits) + i, 4);
    colours.insert(pixel);
  }
  EXPECT_GE(colours.size(), 4u) << name;
  BITMAPFILEHEADER file{0x4D42, 0, 0, 0, sizeof(file) + sizeof(header)};  // "BM"
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

// Runs `answer` on the first shown window of this thread whose class is
// `window_class` (L"frmInserta"; L"#32770" for the system's dialogs), from a
// timer the modal loop showing it dispatches. One still up ten seconds
// later fails the test and is closed with its boxes emptied, so that the
// selection dialog answers "Exit": a broken answer fails instead of hanging.
class WhenShown {
 public:
  WhenShown(const wchar_t* window_class, std::function<void(HWND)> answer)
      : window_class_(window_class), answer_(std::move(answer)) {
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

  static void CALLBACK Tick(HWND, UINT, UINT_PTR, DWORD) {
    WhenShown* self = Current();
    if (!self) return;
    HWND found = nullptr;
    EnumThreadWindows(GetCurrentThreadId(), [](HWND window, LPARAM out) -> BOOL {
      if (!IsWindowVisible(window) || ClassOf(window) != Current()->window_class_) return TRUE;
      *reinterpret_cast<HWND*>(out) = window;
      return FALSE;
    }, reinterpret_cast<LPARAM>(&found));
    if (!found) return;
    if (!self->answered_) {
      self->answered_ = true;
      self->deadline_ = std::chrono::steady_clock::now() + std::chrono::seconds(10);
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
