// What the atomic replace costs: the whole `maquetor migrate --from-v8` of
// the 240,000-row origin (migrate_bench's) into a fresh copy of an empty
// law-office database, and `maquetor euros` of a fresh copy of that origin,
// each run by this build's maquetor, which writes into a copy beside the
// database and renames it into place, and by a build that writes the file
// in place (main before the atomic replace), named by MAQUETOR_BASELINE_EXE.
// Each iteration runs both, in alternating order, so that the machine's
// load falls on both alike; the counters give each one's mean seconds, the
// cost in percent of the in-place run, and the one-minute load average.
// Without MAQUETOR_BASELINE_EXE only this build's times are printed.
#include <benchmark/benchmark.h>

#include "bench_util.h"

#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

namespace {

namespace fs = std::filesystem;

constexpr int64_t kRowsPerTable = 6650;

double LoadAverage() {
  double load = -1;
  std::ifstream("/proc/loadavg") >> load;
  return load;
}

// Seconds one run of `exe` takes; a failed run fails the benchmark.
double Timed(benchmark::State& state, const std::string& exe,
             const std::vector<std::string>& args) {
  std::vector<std::string> argv = {exe};
  argv.insert(argv.end(), args.begin(), args.end());
  std::vector<char*> cargv;
  for (auto& a : argv) cargv.push_back(a.data());
  cargv.push_back(nullptr);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
  const auto start = std::chrono::steady_clock::now();
  pid_t pid = -1;
  int status = -1;
  if (posix_spawn(&pid, exe.c_str(), &actions, nullptr, cargv.data(), environ) == 0) {
    waitpid(pid, &status, 0);
  }
  const double s = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  posix_spawn_file_actions_destroy(&actions);
  if (status != 0) state.SkipWithError((exe + " failed: see its messages above").c_str());
  return s;
}

enum class Operation { kMigrate, kEuros };

void BM_AtomicCost(benchmark::State& state, Operation op) {
  const bench::MigrationFiles files = bench::PreparedMigration(kRowsPerTable);
  const std::string work = bench::BenchPath("atomic-cost.mdb");
  const char* baseline = std::getenv("MAQUETOR_BASELINE_EXE");
  std::vector<std::string> exes = {MAQUETOR_EXE};
  if (baseline && *baseline) exes.push_back(baseline);
  std::vector<double> seconds(exes.size(), 0.0);
  double load = 0;
  int64_t i = 0;
  for (auto _ : state) {
    for (size_t k = 0; k < exes.size(); ++k) {
      // Alternate which build goes first.
      const size_t which = (k + static_cast<size_t>(i)) % exes.size();
      fs::remove(work);
      fs::copy_file(op == Operation::kMigrate ? files.empty : files.origin, work);
      const std::vector<std::string> args =
          op == Operation::kMigrate
              ? std::vector<std::string>{"migrate", "--from-v8", files.origin, work}
              : std::vector<std::string>{"euros", work};
      load += LoadAverage();
      seconds[which] += Timed(state, exes[which], args);
    }
    ++i;
  }
  const double n = static_cast<double>(state.iterations());
  state.counters["atomic_s"] = seconds[0] / n;
  if (exes.size() > 1) {
    state.counters["in_place_s"] = seconds[1] / n;
    state.counters["cost_%"] = 100.0 * (seconds[0] - seconds[1]) / seconds[1];
  }
  state.counters["load1"] = load / (n * static_cast<double>(exes.size()));
  fs::remove(work);
}
BENCHMARK_CAPTURE(BM_AtomicCost, migrate, Operation::kMigrate)
    ->Unit(benchmark::kSecond)
    ->Iterations(3)
    ->UseRealTime();
BENCHMARK_CAPTURE(BM_AtomicCost, euros, Operation::kEuros)
    ->Unit(benchmark::kSecond)
    ->Iterations(3)
    ->UseRealTime();

}  // namespace
