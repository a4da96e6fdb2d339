// What every benchmark needs: a scratch file path, a fresh copy of a
// prepared file, the process's peak memory, a child process timed as a
// whole (Linux), and the office-sized origin the migration, compaction and
// atomic-replace benchmarks share.
#pragma once

#include <benchmark/benchmark.h>

#include <fcntl.h>
#include <sched.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <stdexcept>
#include <string>
#include <vector>

#include "../tests/migrate/origin_filler.h"
#include "schema/buttons.h"

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

struct Child {
  double seconds = 0;
  double cpu_seconds = 0;  // user and system: what a busy machine does not inflate
  long peak_kb = 0;
};

// Runs `args` with standard output to `out` (or /dev/null), on the first
// `cpus` processors when that is above 0, and returns its wall time, CPU
// time and peak resident memory; throws when it fails. The peak counts the
// forking process's at the fork, so the caller keeps its own memory small.
inline Child RunProcess(const std::vector<std::string>& args, const std::string& out = "/dev/null",
                        int cpus = 0) {
  const auto start = std::chrono::steady_clock::now();
  const pid_t pid = fork();
  if (pid < 0) throw std::runtime_error("fork failed");
  if (pid == 0) {
    if (cpus > 0) {
      cpu_set_t set;
      CPU_ZERO(&set);
      for (int c = 0; c < cpus; ++c) CPU_SET(c, &set);
      if (sched_setaffinity(0, sizeof set, &set) != 0) _exit(125);
    }
    const int fd = open(out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if (fd < 0) _exit(126);
    dup2(fd, 1);
    close(fd);
    std::vector<char*> argv;
    for (const auto& a : args) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    execvp(argv[0], argv.data());
    _exit(127);
  }
  int status = 0;
  rusage usage{};
  wait4(pid, &status, 0, &usage);
  const auto end = std::chrono::steady_clock::now();
  if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) {
    throw std::runtime_error(args[0] + " failed");
  }
  auto secs = [](const timeval& t) {
    return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_usec) / 1e6;
  };
  return {std::chrono::duration<double>(end - start).count(),
          secs(usage.ru_utime) + secs(usage.ru_stime), usage.ru_maxrss};
}

// A filled origin of the current layout (`rows_per_table` linked rows in
// every table) and an empty law-office database, under
// maquetor-bench/migrate/rows-N/ (Origen.mdb, Vacia/Destino.mdb). Built
// once and kept between runs (delete the folder to build them again), in a
// child process, so that this one stays small: a forked child's peak
// memory starts from its parent's.
struct MigrationFiles {
  std::string origin;
  std::string empty;
};
inline MigrationFiles PreparedMigration(int64_t rows_per_table) {
  namespace fs = std::filesystem;
  const fs::path dir = fs::path(BenchPath("migrate")) / ("rows-" + std::to_string(rows_per_table));
  MigrationFiles f{(dir / "Origen.mdb").string(), (dir / "Vacia" / "Destino.mdb").string()};
  if (fs::exists(f.origin) && fs::exists(f.empty)) return f;
  const pid_t pid = fork();
  if (pid == 0) {
    fs::remove_all(dir);
    fs::create_directories(dir / "Vacia");
    migrate_testing::BuildOrigin(f.origin, rows_per_table);
    maquetor::schema::CrearBaseCompleta(f.empty);
    _exit(0);
  }
  int status = 1;
  if (pid < 0 || waitpid(pid, &status, 0) != pid || status != 0) {
    throw std::runtime_error("building the origin failed");
  }
  return f;
}

// The one-minute load average, or -1.
inline double LoadAverage() {
  double load = -1;
  std::ifstream("/proc/loadavg") >> load;
  return load;
}

}  // namespace bench
