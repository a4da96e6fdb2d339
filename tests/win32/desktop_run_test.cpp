// The real maquetor.exe with "/M": its window opens, and closing it ends the
// program with status 0; with "/BD:" too, the window is up while the
// database is built, and the program then ends by itself with status 0.
#include <windows.h>

#include <chrono>
#include <functional>

#include "db/engine.h"
#include "win32_support.h"

namespace {

// Runs maquetor.exe with `switches` after its name, as an installer writes
// them, calling `watch` every 50 ms while it runs; returns its exit status,
// or -1 when it was still running after five minutes (and was then ended).
int RunMaquetor(const std::string& switches, const std::function<void()>& watch) {
  std::wstring line = maquetor::shell::win32::Widen("\"" MAQUETOR_EXE "\" " + switches);
  STARTUPINFOW startup{};
  startup.cb = sizeof(startup);
  PROCESS_INFORMATION process{};
  if (!CreateProcessW(nullptr, line.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                      &startup, &process)) {
    ADD_FAILURE() << "CreateProcessW: " << GetLastError();
    return -1;
  }
  const auto end = std::chrono::steady_clock::now() + std::chrono::minutes(5);
  while (WaitForSingleObject(process.hProcess, 50) == WAIT_TIMEOUT &&
         std::chrono::steady_clock::now() < end) {
    watch();
  }
  DWORD status = 0;
  GetExitCodeProcess(process.hProcess, &status);
  if (status == STILL_ACTIVE) TerminateProcess(process.hProcess, 99);
  CloseHandle(process.hThread);
  CloseHandle(process.hProcess);
  return status == STILL_ACTIVE ? -1 : static_cast<int>(status);
}

HWND ShownWindow() {
  HWND window =
      FindWindowW(L"MaquetorAbog", L"Maquetor de Tablas para Grupo de Despachos de Abogados");
  return window && IsWindowVisible(window) ? window : nullptr;
}

class DesktopRunTest : public win32_testing::Win32Test {};

TEST_F(DesktopRunTest, TheWindowOpensWithSlashMAndTheRunsEndWithStatus0) {
  HWND window = nullptr;
  EXPECT_EQ(RunMaquetor("/M", [&] {
              // Closed as by its close box once it is up.
              if (!window && (window = ShownWindow())) PostMessageW(window, WM_CLOSE, 0, 0);
            }), 0);
  EXPECT_NE(window, nullptr) << "the window never opened";

  const std::string path = dir.File("Despacho.mdb");
  bool seen = false;
  EXPECT_EQ(RunMaquetor("/BD:" + path + " /M", [&] { seen = seen || ShownWindow(); }), 0);
  EXPECT_TRUE(seen) << "no window while the database was built";
  auto db = maquetor::db::OpenShared(path);
  EXPECT_EQ(db.GetTableDef("TPaises").RecordCount(), 207);
  EXPECT_TRUE(db.HasTable("TLaboral"));  // the last table built
}

}  // namespace
