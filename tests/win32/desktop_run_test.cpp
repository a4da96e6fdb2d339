// The real maquetor.exe with "/M": its window opens, and closing it ends
// the program with status 0; with "/BD:" as well, the window is up while
// the database is built and the program then ends by itself.
#include <windows.h>

#include <chrono>
#include <functional>

#include "db/engine.h"
#include "win32_support.h"

namespace {

constexpr const wchar_t* kCaption = L"Maquetor de Tablas para Grupo de Despachos de Abogados";

// maquetor.exe run with `switches` as an installer runs it: the line as
// written, unquoted.
class Maquetor {
 public:
  explicit Maquetor(const std::string& switches) {
    std::wstring line = L"\"" + maquetor::shell::win32::Widen(MAQUETOR_EXE) + L"\" " +
                        maquetor::shell::win32::Widen(switches);
    STARTUPINFOW startup{};
    startup.cb = sizeof(startup);
    started_ = CreateProcessW(nullptr, line.data(), nullptr, nullptr, FALSE, 0, nullptr,
                              nullptr, &startup, &process_);
  }
  ~Maquetor() {
    if (!started_) return;
    if (WaitForSingleObject(process_.hProcess, 0) == WAIT_TIMEOUT) {
      TerminateProcess(process_.hProcess, 99);
    }
    CloseHandle(process_.hThread);
    CloseHandle(process_.hProcess);
  }

  bool started() const { return started_; }

  // Waits up to `limit` for the program to end, asking `enough` every
  // 50 ms whether to stop waiting; its exit status, or -1 while it runs.
  int Wait(std::chrono::seconds limit, const std::function<bool()>& enough = {}) {
    const auto end = std::chrono::steady_clock::now() + limit;
    while (WaitForSingleObject(process_.hProcess, 50) == WAIT_TIMEOUT) {
      if (std::chrono::steady_clock::now() > end || (enough && enough())) return -1;
    }
    DWORD status = 0;
    GetExitCodeProcess(process_.hProcess, &status);
    return static_cast<int>(status);
  }

 private:
  PROCESS_INFORMATION process_{};
  bool started_ = false;
};

HWND ShownWindow() {
  HWND window = FindWindowW(L"MaquetorAbog", kCaption);
  return window && IsWindowVisible(window) ? window : nullptr;
}

class DesktopRunTest : public win32_testing::Win32Test {};

TEST_F(DesktopRunTest, SlashMOpensTheWindowAndClosingItEndsWithStatus0) {
  Maquetor run("/M");
  ASSERT_TRUE(run.started()) << GetLastError();
  HWND window = nullptr;
  const auto opened = [&] { return (window = ShownWindow()) != nullptr; };
  EXPECT_EQ(run.Wait(std::chrono::seconds(60), opened), -1) << "ended before anyone closed it";
  ASSERT_NE(window, nullptr) << "the window never opened";
  PostMessageW(window, WM_CLOSE, 0, 0);
  EXPECT_EQ(run.Wait(std::chrono::seconds(60)), 0);
}

TEST_F(DesktopRunTest, SlashBDWithSlashMShowsTheWindowWhileBuildingAndEnds) {
  const std::string path = dir.File("Despacho.mdb");
  Maquetor run("/BD:" + path + " /M");
  ASSERT_TRUE(run.started()) << GetLastError();
  bool seen = false;
  EXPECT_EQ(run.Wait(std::chrono::seconds(600), [&] {
    seen = seen || ShownWindow();
    return false;
  }), 0);
  EXPECT_TRUE(seen);
  auto db = maquetor::db::OpenShared(path);
  EXPECT_EQ(db.GetTableDef("TPaises").RecordCount(), 207);
  EXPECT_TRUE(db.HasTable("TLaboral"));
}

}  // namespace
