// launch: starts a program the way an installer does, with a command line it
// wrote itself, and ends with that program's exit status.
//
//   launch.exe LINE_FILE [--windows]
//
// LINE_FILE is UTF-8. Its first line is the whole command line, program name
// included, handed to CreateProcessW unchanged: no quoting is added, so a
// program path with blanks is found by the system's own search through the
// blank-separated prefixes of the line, and a "/BD:" path with blanks and
// accents reaches the program as written. An optional second line is the
// folder the program starts in (default: the launcher's own).
//
// With --windows the launcher watches, while the program runs, for visible
// top-level windows of the program's process, and prints the caption of
// each one it sees as "window: CAPTION" (UTF-8) on standard output.
//
// The line comes from a file because Wine builds a Windows command line from
// its Unix arguments by quoting each one that holds a blank, and decodes them
// in the Unix locale. The program shares the launcher's standard streams.
// A failure of the launcher itself prints "launch: ..." and ends with 127.
#include <windows.h>
#include <fcntl.h>
#include <io.h>

#include <cstdio>
#include <fstream>
#include <iterator>
#include <set>
#include <string>

namespace {

constexpr int kLaunchFailed = 127;

int Fail(const std::string& what, DWORD error = 0) {
  std::fprintf(stderr, "launch: %s", what.c_str());
  if (error) std::fprintf(stderr, " (Windows error %lu)", static_cast<unsigned long>(error));
  std::fputc('\n', stderr);
  return kLaunchFailed;
}

bool Widen(const std::string& utf8, std::wstring& wide) {
  wide.clear();
  if (utf8.empty()) return true;
  const int size = static_cast<int>(utf8.size());
  const int n = MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, utf8.data(), size, nullptr, 0);
  if (n <= 0) return false;
  wide.resize(static_cast<size_t>(n));
  MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, utf8.data(), size, wide.data(), n);
  return true;
}

// The line at `at` without its CR LF or LF; moves `at` past it.
std::string NextLine(const std::string& text, size_t& at) {
  if (at >= text.size()) return {};
  size_t end = text.find('\n', at);
  if (end == std::string::npos) end = text.size();
  std::string line = text.substr(at, end - at);
  if (!line.empty() && line.back() == '\r') line.pop_back();
  at = end + 1;
  return line;
}

std::string Narrow(const std::wstring& wide) {
  if (wide.empty()) return {};
  const int size = static_cast<int>(wide.size());
  const int n = WideCharToMultiByte(CP_UTF8, 0, wide.data(), size, nullptr, 0, nullptr, nullptr);
  std::string utf8(static_cast<size_t>(n), '\0');
  WideCharToMultiByte(CP_UTF8, 0, wide.data(), size, utf8.data(), n, nullptr, nullptr);
  return utf8;
}

struct WindowWatch {
  DWORD process_id;
  std::set<std::wstring> seen;
};

BOOL CALLBACK NoteWindow(HWND window, LPARAM param) {
  auto& watch = *reinterpret_cast<WindowWatch*>(param);
  DWORD owner = 0;
  GetWindowThreadProcessId(window, &owner);
  if (owner != watch.process_id || !IsWindowVisible(window)) return TRUE;
  wchar_t caption[512] = {};
  GetWindowTextW(window, caption, 512);
  if (watch.seen.insert(caption).second) {
    std::printf("window: %s\n", Narrow(caption).c_str());
    std::fflush(stdout);
  }
  return TRUE;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  _setmode(_fileno(stdout), _O_BINARY);
  const bool watch_windows = argc == 3 && std::wstring(argv[2]) == L"--windows";
  if (argc != 2 && !watch_windows) return Fail("usage: launch.exe LINE_FILE [--windows]");
  std::ifstream in(argv[1], std::ios::binary);
  if (!in) return Fail("cannot read the line file");
  const std::string text{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
  size_t at = text.rfind("\xEF\xBB\xBF", 0) == 0 ? 3 : 0;
  const std::string line = NextLine(text, at);
  const std::string folder = NextLine(text, at);
  std::wstring wide_line, wide_folder;
  if (line.empty()) return Fail("the line file holds no command line");
  if (!Widen(line, wide_line) || !Widen(folder, wide_folder)) {
    return Fail("the line file is not UTF-8");
  }

  STARTUPINFOW startup{};
  startup.cb = sizeof startup;
  startup.dwFlags = STARTF_USESTDHANDLES;
  startup.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
  startup.hStdOutput = GetStdHandle(STD_OUTPUT_HANDLE);
  startup.hStdError = GetStdHandle(STD_ERROR_HANDLE);
  PROCESS_INFORMATION process{};
  // Under Wine on a loaded machine a new process now and then dies in Wine's
  // own start-up, before any of the program runs, and CreateProcessW fails
  // with ERROR_INTERNAL_ERROR: that start is tried again, three times in all.
  BOOL started = FALSE;
  for (int attempt = 0; attempt < 3 && !started; ++attempt) {
    started = CreateProcessW(nullptr, wide_line.data(), nullptr, nullptr, TRUE, 0, nullptr,
                             folder.empty() ? nullptr : wide_folder.c_str(), &startup, &process);
    if (!started && GetLastError() != ERROR_INTERNAL_ERROR) break;
  }
  if (!started) return Fail("cannot start " + line, GetLastError());
  CloseHandle(process.hThread);
  if (watch_windows) {
    WindowWatch watch{process.dwProcessId, {}};
    do {
      EnumWindows(NoteWindow, reinterpret_cast<LPARAM>(&watch));
    } while (WaitForSingleObject(process.hProcess, 10) == WAIT_TIMEOUT);
  } else {
    WaitForSingleObject(process.hProcess, INFINITE);
  }
  DWORD status = kLaunchFailed;
  if (!GetExitCodeProcess(process.hProcess, &status)) status = kLaunchFailed;
  CloseHandle(process.hProcess);
  return static_cast<int>(status);
}
