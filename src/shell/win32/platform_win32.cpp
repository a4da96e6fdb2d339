#include <windows.h>
#include <shellapi.h>
#include <fcntl.h>
#include <io.h>

#include <cstdio>
#include <memory>

#include "shell/platform.h"
#include "shell/win32/utf16.h"

namespace maquetor::shell {
namespace win32 {

std::wstring Widen(const std::string& utf8) {
  if (utf8.empty()) return {};
  const int size = static_cast<int>(utf8.size());
  const int n = MultiByteToWideChar(CP_UTF8, 0, utf8.data(), size, nullptr, 0);
  std::wstring wide(static_cast<size_t>(n), L'\0');
  MultiByteToWideChar(CP_UTF8, 0, utf8.data(), size, wide.data(), n);
  return wide;
}

namespace {

std::string ToCodePage(UINT code_page, const std::wstring& wide) {
  if (wide.empty()) return {};
  const int size = static_cast<int>(wide.size());
  const int n = WideCharToMultiByte(code_page, 0, wide.data(), size, nullptr, 0, nullptr, nullptr);
  std::string text(static_cast<size_t>(n), '\0');
  WideCharToMultiByte(code_page, 0, wide.data(), size, text.data(), n, nullptr, nullptr);
  return text;
}

}  // namespace

std::string Narrow(const std::wstring& wide) { return ToCodePage(CP_UTF8, wide); }

}  // namespace win32

namespace platform {

std::optional<std::string> ProcessCommandLine() { return win32::Narrow(GetCommandLineW()); }

std::vector<std::string> Arguments(int, char**) {
  int count = 0;
  std::unique_ptr<LPWSTR, decltype(&LocalFree)> wide(CommandLineToArgvW(GetCommandLineW(), &count),
                                                      &LocalFree);
  std::vector<std::string> args;
  for (int i = 0; wide && i < count; ++i) args.push_back(win32::Narrow(wide.get()[i]));
  return args;
}

std::string ExecutablePath() {
  // Long paths may exceed MAX_PATH; the buffer grows until the name fits.
  std::wstring path(MAX_PATH, L'\0');
  for (;;) {
    const DWORD size = GetModuleFileNameW(nullptr, path.data(), static_cast<DWORD>(path.size()));
    if (size == 0) return {};
    if (size < path.size()) {
      path.resize(size);
      return win32::Narrow(path);
    }
    path.resize(path.size() * 2);
  }
}

void SetUpStandardStreams() {
  SetConsoleOutputCP(CP_UTF8);
  SetConsoleCP(CP_UTF8);
  for (FILE* stream : {stdin, stdout, stderr}) _setmode(_fileno(stream), _O_BINARY);
}

std::string InstallerLogText(const std::string& utf8) {
  return win32::ToCodePage(CP_ACP, win32::Widen(utf8));
}

}  // namespace platform
}  // namespace maquetor::shell
