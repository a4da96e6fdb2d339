// What every benchmark needs: a scratch file path, a fresh copy of a
// prepared file, the process's peak memory, and a child process timed.
#pragma once

#include <benchmark/benchmark.h>

#include <fcntl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <stdexcept>
#include <string>
#include <vector>

namespace bench {

// A file under the system's temporary folder, in maquetor-bench/.
inline std::string BenchPath(const char* name) {
  auto dir = std::filesystem::temp_directory_path() / "maquetor-bench";
  std::filesystem::create_directories(dir);
  return (dir / name).string();
}

// Replaces `work` with a copy of `pristine`, off the clock: runs that change
// a file each start from the same one.
inline void FreshCopy(benchmark::State& state, const std::string& pristine,
                      const std::string& work) {
  state.PauseTiming();
  std::filesystem::remove(work);
  std::filesystem::copy_file(pristine, work);
  state.ResumeTiming();
}

// Peak resident memory (VmHWM) in KiB, or -1 where /proc is missing.
inline long PeakRssKb() {
  std::ifstream in("/proc/self/status");
  std::string line;
  while (std::getline(in, line)) {
    if (line.rfind("VmHWM:", 0) == 0) return std::stol(line.substr(6));
  }
  return -1;
}

// Starts the peak over, so each benchmark reports its own.
inline void ResetPeakRss() { std::ofstream("/proc/self/clear_refs") << "5"; }

// The one-minute load average, or -1: figures taken on a busy machine say so.
inline double LoadAverage() {
  double load[1];
  return getloadavg(load, 1) == 1 ? load[0] : -1;
}

struct ChildRun {
  double seconds = 0;      // wall time, fork to reaping
  double cpu_seconds = 0;  // user and system
  long peak_kb = 0;        // the child's peak resident memory
};

// Runs `args` (argv[0] found on PATH) with its standard output to
// /dev/null; throws when it cannot start or does not end with status 0.
inline ChildRun RunChild(const std::vector<std::string>& args) {
  std::vector<char*> argv;
  for (const auto& a : args) argv.push_back(const_cast<char*>(a.c_str()));
  argv.push_back(nullptr);
  const auto start = std::chrono::steady_clock::now();
  const pid_t pid = fork();
  if (pid < 0) throw std::runtime_error("fork failed");
  if (pid == 0) {
    const int fd = open("/dev/null", O_WRONLY);
    if (fd >= 0) dup2(fd, 1);
    execvp(argv[0], argv.data());
    _exit(127);
  }
  int status = 0;
  rusage usage{};
  if (wait4(pid, &status, 0, &usage) != pid) throw std::runtime_error("wait4 failed");
  const auto end = std::chrono::steady_clock::now();
  if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) throw std::runtime_error(args[0] + " failed");
  auto secs = [](const timeval& t) { return static_cast<double>(t.tv_sec) + t.tv_usec / 1e6; };
  return {std::chrono::duration<double>(end - start).count(),
          secs(usage.ru_utime) + secs(usage.ru_stime), usage.ru_maxrss};
}

}  // namespace bench
