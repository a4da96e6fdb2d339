#include "support/child_process.h"

#include <cstdio>
#include <cstdlib>
#include <exception>
#include <map>

#include <gtest/gtest.h>

#ifdef _WIN32
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>
#else
#include <cerrno>
#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>
#endif

namespace testing_support {
namespace {

std::map<std::string, ChildPiece>& Pieces() {
  static std::map<std::string, ChildPiece> pieces;
  return pieces;
}

int RunPiece(const std::string& name, const std::vector<std::string>& args) {
  auto it = Pieces().find(name);
  if (it == Pieces().end()) return -1;
  try {
    return it->second(args);
  } catch (const std::exception& e) {
    std::fprintf(stderr, "child piece %s: %s\n", name.c_str(), e.what());
    return -1;
  }
}

#ifdef _WIN32

constexpr wchar_t kPieceVar[] = L"MAQUETOR_CHILD_PIECE";
constexpr wchar_t kArgsVar[] = L"MAQUETOR_CHILD_ARGS";
constexpr char kArgSeparator = '\x1f';

std::wstring Wide(const std::string& s) {
  if (s.empty()) return {};
  int n = ::MultiByteToWideChar(CP_UTF8, 0, s.data(), static_cast<int>(s.size()), nullptr, 0);
  std::wstring w(static_cast<size_t>(n), L'\0');
  ::MultiByteToWideChar(CP_UTF8, 0, s.data(), static_cast<int>(s.size()), w.data(), n);
  return w;
}

std::string Narrow(const std::wstring& w) {
  if (w.empty()) return {};
  int n = ::WideCharToMultiByte(CP_UTF8, 0, w.data(), static_cast<int>(w.size()), nullptr, 0,
                                nullptr, nullptr);
  std::string s(static_cast<size_t>(n), '\0');
  ::WideCharToMultiByte(CP_UTF8, 0, w.data(), static_cast<int>(w.size()), s.data(), n, nullptr,
                        nullptr);
  return s;
}

// An environment variable as UTF-8 (getenv would give the ANSI code page).
bool GetVar(const wchar_t* name, std::string* value) {
  DWORD n = ::GetEnvironmentVariableW(name, nullptr, 0);
  if (n == 0) return false;
  std::wstring w(n, L'\0');
  n = ::GetEnvironmentVariableW(name, w.data(), n);
  w.resize(n);
  *value = Narrow(w);
  return true;
}

// In a child, runs the piece before any test and ends the process.
class PieceRunner : public ::testing::Environment {
 public:
  void SetUp() override {
    std::string name, joined;
    if (!GetVar(kPieceVar, &name)) return;
    GetVar(kArgsVar, &joined);
    std::vector<std::string> args;
    for (size_t start = 0; start < joined.size();) {
      size_t end = joined.find(kArgSeparator, start);
      if (end == std::string::npos) end = joined.size();
      args.push_back(joined.substr(start, end - start));
      start = end + 1;
    }
    const int result = RunPiece(name, args);
    std::fflush(nullptr);
    ::ExitProcess(static_cast<UINT>(result));
  }
};

[[maybe_unused]] ::testing::Environment* const runner =
    ::testing::AddGlobalTestEnvironment(new PieceRunner);

#endif

}  // namespace

bool RegisterChildPiece(const char* name, ChildPiece piece) {
  Pieces()[name] = piece;
  return true;
}

#ifdef _WIN32

// The child runs the current test's filter, so that gtest sets up its
// environments (which it does only when some test is to run).
Child::Child(const std::string& piece, const std::vector<std::string>& args) {
  std::wstring exe(32768, L'\0');
  exe.resize(::GetModuleFileNameW(nullptr, exe.data(), static_cast<DWORD>(exe.size())));
  std::string filter = "*";
  if (const auto* test = ::testing::UnitTest::GetInstance()->current_test_info()) {
    filter = std::string(test->test_suite_name()) + "." + test->name();
  }
  std::wstring command = L"\"" + exe + L"\" --gtest_filter=" + Wide(filter);
  std::string joined;
  for (size_t i = 0; i < args.size(); ++i) {
    if (i > 0) joined += kArgSeparator;
    joined += args[i];
  }
  ::SetEnvironmentVariableW(kPieceVar, Wide(piece).c_str());
  ::SetEnvironmentVariableW(kArgsVar, Wide(joined).c_str());
  STARTUPINFOW si{};
  si.cb = sizeof si;
  PROCESS_INFORMATION pi{};
  if (::CreateProcessW(exe.c_str(), command.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                       &si, &pi)) {
    ::CloseHandle(pi.hThread);
    process_ = reinterpret_cast<long long>(pi.hProcess);
  }
  ::SetEnvironmentVariableW(kPieceVar, nullptr);
  ::SetEnvironmentVariableW(kArgsVar, nullptr);
}

int Child::Wait() {
  if (waited_) return result_;
  waited_ = true;
  if (process_ == -1) return result_;
  HANDLE h = reinterpret_cast<HANDLE>(process_);
  DWORD code = 0;
  if (::WaitForSingleObject(h, 120000) == WAIT_OBJECT_0 && ::GetExitCodeProcess(h, &code)) {
    result_ = static_cast<int>(code);
  } else {
    ::TerminateProcess(h, 1);
  }
  ::CloseHandle(h);
  return result_;
}

#else

Child::Child(const std::string& piece, const std::vector<std::string>& args) {
  int fds[2];
  if (::pipe2(fds, O_CLOEXEC) != 0) return;
  std::fflush(nullptr);
  const pid_t pid = ::fork();
  if (pid == 0) {
    ::close(fds[0]);
    const int result = RunPiece(piece, args);
    ssize_t put = ::write(fds[1], &result, sizeof result);
    ::_exit(put == sizeof result ? 0 : 1);
  }
  ::close(fds[1]);
  if (pid < 0) {
    ::close(fds[0]);
    return;
  }
  process_ = pid;
  result_pipe_ = fds[0];
}

int Child::Wait() {
  if (waited_) return result_;
  waited_ = true;
  if (process_ == -1) return result_;
  int result = 0;
  ssize_t got = 0;
  do {
    got = ::read(result_pipe_, &result, sizeof result);
  } while (got < 0 && errno == EINTR);
  ::close(result_pipe_);
  int status = 0;
  while (::waitpid(static_cast<pid_t>(process_), &status, 0) < 0 && errno == EINTR) {
  }
  if (got == sizeof result && WIFEXITED(status) && WEXITSTATUS(status) == 0) result_ = result;
  return result_;
}

#endif

Child::~Child() { Wait(); }

}  // namespace testing_support
