// RunProcess on Linux: fork and exec, the three pipes polled until the
// program ends or its time is up.
#include "support/process.h"

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <sstream>

#include <fcntl.h>
#include <poll.h>
#include <sys/types.h>
#include <sys/wait.h>
#include <unistd.h>

namespace testing_support {
namespace {

// A pipe whose ends close themselves.
struct Pipe {
  int fd[2] = {-1, -1};
  Pipe() {
    if (::pipe2(fd, O_CLOEXEC) != 0) throw OracleError(std::string("pipe: ") + std::strerror(errno));
  }
  ~Pipe() {
    CloseRead();
    CloseWrite();
  }
  Pipe(const Pipe&) = delete;
  Pipe& operator=(const Pipe&) = delete;
  void CloseRead() {
    if (fd[0] >= 0) ::close(fd[0]);
    fd[0] = -1;
  }
  void CloseWrite() {
    if (fd[1] >= 0) ::close(fd[1]);
    fd[1] = -1;
  }
};

}  // namespace

std::string FindOnPath(const std::string& program) {
  if (program.find('/') != std::string::npos) {
    return ::access(program.c_str(), X_OK) == 0 ? program : std::string();
  }
  const char* env = std::getenv("PATH");
  std::string path = env ? env : "/usr/local/bin:/usr/bin:/bin";
  std::istringstream in(path);
  std::string dir;
  while (std::getline(in, dir, ':')) {
    if (dir.empty()) dir = ".";
    std::string candidate = dir + "/" + program;
    std::error_code ec;
    if (::access(candidate.c_str(), X_OK) == 0 && !std::filesystem::is_directory(candidate, ec)) {
      return candidate;
    }
  }
  return {};
}

ProcessResult RunProcess(const std::vector<std::string>& argv, const std::string& input,
                         std::chrono::seconds timeout) {
  ProcessResult result;
  if (argv.empty()) throw OracleError("RunProcess: empty argument list");
  std::string exe = FindOnPath(argv[0]);
  if (exe.empty()) {
    result.err = argv[0] + ": not found";
    return result;
  }
  // Everything the child needs is prepared before fork.
  std::vector<char*> args;
  for (const auto& a : argv) args.push_back(const_cast<char*>(a.c_str()));
  args.push_back(nullptr);

  Pipe in, out, err;
  // A child that stops reading must not kill us with SIGPIPE.
  if (!input.empty()) std::signal(SIGPIPE, SIG_IGN);

  pid_t pid = ::fork();
  if (pid < 0) throw OracleError(std::string("fork: ") + std::strerror(errno));
  if (pid == 0) {
    std::signal(SIGPIPE, SIG_DFL);
    if (::dup2(in.fd[0], 0) < 0 || ::dup2(out.fd[1], 1) < 0 || ::dup2(err.fd[1], 2) < 0) _exit(126);
    ::execv(exe.c_str(), args.data());
    _exit(127);
  }
  in.CloseRead();
  out.CloseWrite();
  err.CloseWrite();
  if (input.empty()) {
    in.CloseWrite();
  } else {
    // Write only what the pipe takes, so a child blocked on a full stdout
    // pipe is drained before we write more.
    ::fcntl(in.fd[1], F_SETFL, ::fcntl(in.fd[1], F_GETFL) | O_NONBLOCK);
  }

  auto deadline = std::chrono::steady_clock::now() + timeout;
  size_t written = 0;
  char buffer[65536];
  while (out.fd[0] >= 0 || err.fd[0] >= 0 || in.fd[1] >= 0) {
    pollfd fds[3];
    nfds_t n = 0;
    if (out.fd[0] >= 0) fds[n++] = {out.fd[0], POLLIN, 0};
    if (err.fd[0] >= 0) fds[n++] = {err.fd[0], POLLIN, 0};
    if (in.fd[1] >= 0) fds[n++] = {in.fd[1], POLLOUT, 0};
    auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline -
                                                                      std::chrono::steady_clock::now());
    if (left.count() <= 0) {
      result.timed_out = true;
      ::kill(pid, SIGKILL);
      break;
    }
    int ready = ::poll(fds, n, static_cast<int>(std::min<long long>(left.count(), 1000)));
    if (ready < 0) {
      if (errno == EINTR) continue;
      ::kill(pid, SIGKILL);
      ::waitpid(pid, nullptr, 0);
      throw OracleError(std::string("poll: ") + std::strerror(errno));
    }
    for (nfds_t i = 0; i < n; ++i) {
      if (fds[i].revents == 0) continue;
      if (fds[i].fd == in.fd[1]) {
        ssize_t w = ::write(in.fd[1], input.data() + written, input.size() - written);
        if (w < 0 && errno != EINTR && errno != EAGAIN) {
          in.CloseWrite();  // the child closed its stdin
        } else if (w > 0) {
          written += static_cast<size_t>(w);
          if (written == input.size()) in.CloseWrite();
        }
        continue;
      }
      ssize_t r = ::read(fds[i].fd, buffer, sizeof buffer);
      if (r < 0 && (errno == EINTR || errno == EAGAIN)) continue;
      std::string& sink = fds[i].fd == out.fd[0] ? result.out : result.err;
      if (r <= 0) {
        if (fds[i].fd == out.fd[0]) {
          out.CloseRead();
        } else {
          err.CloseRead();
        }
      } else {
        sink.append(buffer, static_cast<size_t>(r));
      }
    }
  }

  int status = 0;
  while (::waitpid(pid, &status, 0) < 0) {
    if (errno != EINTR) throw OracleError(std::string("waitpid: ") + std::strerror(errno));
  }
  if (WIFEXITED(status)) {
    result.exit_code = WEXITSTATUS(status);
  } else if (WIFSIGNALED(status)) {
    result.signal = WTERMSIG(status);
  }
  if (result.exit_code == 127 && result.out.empty() && result.err.empty()) {
    result.err = exe + ": could not be started";
  }
  return result;
}

}  // namespace testing_support
