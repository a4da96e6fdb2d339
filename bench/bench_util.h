// What every benchmark needs: a scratch file path and the process's peak
// memory.
#pragma once

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
