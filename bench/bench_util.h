// What every benchmark needs: a scratch file path, a fresh copy of a
// prepared file, and the process's peak memory.
#pragma once

#include <benchmark/benchmark.h>

#include <filesystem>
#include <fstream>
#include <string>

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

}  // namespace bench
