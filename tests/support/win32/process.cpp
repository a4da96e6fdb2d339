// RunProcess on Windows: CreateProcessW with the three standard handles on
// pipes, each drained (or fed) by its own thread while the program runs.
#include "support/process.h"

#include <windows.h>

#include <thread>

namespace testing_support {
namespace {

std::wstring Widen(const std::string& utf8) {
  if (utf8.empty()) return {};
  const int n = MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()),
                                    nullptr, 0);
  std::wstring wide(static_cast<size_t>(n), L'\0');
  MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), wide.data(), n);
  return wide;
}

std::string Narrow(const std::wstring& wide) {
  if (wide.empty()) return {};
  const int n = WideCharToMultiByte(CP_UTF8, 0, wide.data(), static_cast<int>(wide.size()),
                                    nullptr, 0, nullptr, nullptr);
  std::string text(static_cast<size_t>(n), '\0');
  WideCharToMultiByte(CP_UTF8, 0, wide.data(), static_cast<int>(wide.size()), text.data(), n,
                      nullptr, nullptr);
  return text;
}

struct Handle {
  HANDLE h = nullptr;
  Handle() = default;
  Handle(const Handle&) = delete;
  Handle& operator=(const Handle&) = delete;
  ~Handle() { Close(); }
  void Close() {
    if (h) CloseHandle(h);
    h = nullptr;
  }
};

// A pipe whose `child_end` (the read end when `child_reads`) is inherited.
void MakePipe(Handle& read, Handle& write, bool child_reads) {
  SECURITY_ATTRIBUTES sa{sizeof sa, nullptr, TRUE};
  if (!CreatePipe(&read.h, &write.h, &sa, 0)) {
    throw OracleError("CreatePipe failed: " + std::to_string(GetLastError()));
  }
  SetHandleInformation(child_reads ? write.h : read.h, HANDLE_FLAG_INHERIT, 0);
}

void Drain(HANDLE from, std::string& sink) {
  char buffer[65536];
  DWORD got = 0;
  while (ReadFile(from, buffer, sizeof buffer, &got, nullptr) && got > 0) sink.append(buffer, got);
}

}  // namespace

std::string QuoteCommandLine(const std::vector<std::string>& argv) {
  std::string line;
  for (const auto& arg : argv) {
    if (!line.empty()) line += ' ';
    if (!arg.empty() && arg.find_first_of(" \t\"") == std::string::npos) {
      line += arg;
      continue;
    }
    // Backslashes are literal except before a quote, where they pair up.
    line += '"';
    size_t backslashes = 0;
    for (char c : arg) {
      if (c == '\\') {
        ++backslashes;
        continue;
      }
      line.append(c == '"' ? 2 * backslashes + 1 : backslashes, '\\');
      backslashes = 0;
      line += c;
    }
    line.append(2 * backslashes, '\\');
    line += '"';
  }
  return line;
}

std::string FindOnPath(const std::string& program) {
  const std::wstring name = Widen(program);
  if (program.find_first_of("\\/:") != std::string::npos) {
    return GetFileAttributesW(name.c_str()) == INVALID_FILE_ATTRIBUTES ? std::string() : program;
  }
  std::wstring found(MAX_PATH, L'\0');
  const DWORD n = SearchPathW(nullptr, name.c_str(), L".exe", static_cast<DWORD>(found.size()),
                              found.data(), nullptr);
  if (n == 0 || n >= found.size()) return {};
  found.resize(n);
  return Narrow(found);
}

ProcessResult RunCommandLine(const std::string& program, const std::string& command_line,
                             const std::string& input, std::chrono::seconds timeout) {
  ProcessResult result;
  Handle in_read, in_write, out_read, out_write, err_read, err_write;
  MakePipe(in_read, in_write, true);
  MakePipe(out_read, out_write, false);
  MakePipe(err_read, err_write, false);

  STARTUPINFOW si{};
  si.cb = sizeof si;
  si.dwFlags = STARTF_USESTDHANDLES;
  si.hStdInput = in_read.h;
  si.hStdOutput = out_write.h;
  si.hStdError = err_write.h;
  PROCESS_INFORMATION pi{};
  std::wstring line = Widen(command_line);
  const std::wstring exe = Widen(program);
  // Under Wine on a loaded machine a new process now and then dies in Wine's
  // own start-up, before any of the program runs, and CreateProcessW fails
  // with ERROR_INTERNAL_ERROR: that start is tried again, three times in all.
  BOOL started = FALSE;
  for (int attempt = 0; attempt < 3 && !started; ++attempt) {
    started = CreateProcessW(exe.c_str(), line.data(), nullptr, nullptr, TRUE, CREATE_NO_WINDOW,
                             nullptr, nullptr, &si, &pi);
    if (!started && GetLastError() != ERROR_INTERNAL_ERROR) break;
  }
  if (!started) {
    result.err = program + ": could not be started (error " + std::to_string(GetLastError()) + ")";
    return result;
  }
  Handle process, thread;
  process.h = pi.hProcess;
  thread.h = pi.hThread;
  // Only the child holds these now, so the pipes end when it does.
  in_read.Close();
  out_write.Close();
  err_write.Close();

  std::thread out_reader(Drain, out_read.h, std::ref(result.out));
  std::thread err_reader(Drain, err_read.h, std::ref(result.err));
  std::thread writer([&] {
    DWORD put = 0;
    for (size_t done = 0; done < input.size(); done += put) {
      const DWORD chunk = static_cast<DWORD>(std::min<size_t>(input.size() - done, 1 << 16));
      if (!WriteFile(in_write.h, input.data() + done, chunk, &put, nullptr)) break;
    }
    in_write.Close();
  });

  const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(timeout).count();
  if (WaitForSingleObject(process.h, static_cast<DWORD>(ms)) == WAIT_TIMEOUT) {
    result.timed_out = true;
    TerminateProcess(process.h, 1);
    WaitForSingleObject(process.h, INFINITE);
  }
  writer.join();
  out_reader.join();
  err_reader.join();
  DWORD code = 0;
  GetExitCodeProcess(process.h, &code);
  result.exit_code = static_cast<int>(code);
  return result;
}

ProcessResult RunProcess(const std::vector<std::string>& argv, const std::string& input,
                         std::chrono::seconds timeout) {
  if (argv.empty()) throw OracleError("RunProcess: empty argument list");
  const std::string exe = FindOnPath(argv[0]);
  if (exe.empty()) {
    ProcessResult result;
    result.err = argv[0] + ": not found";
    return result;
  }
  return RunCommandLine(exe, QuoteCommandLine(argv), input, timeout);
}

}  // namespace testing_support
