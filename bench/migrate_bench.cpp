// The whole `maquetor migrate --from-v8` process on an office-sized origin:
// about 240,000 linked rows over the 36 copied tables (6,650 per table),
// then twice that, each into a fresh copy of an empty law-office database
// (made off the clock), on two processors and on one. Prints rows/s for the
// whole run (start-up, configuration row, the seeded accounts' refusals and
// the final sync included), the child's CPU time and peak memory, and the
// load average. Memory is bounded by the two page caches and the budget for
// index entries held while a table fills, not by the origin's size: within
// those bounds it follows the largest table, so it grows a little when the
// origin doubles. The origin is read on a second thread, so one processor
// shows what that thread's overlap is worth.
#include <benchmark/benchmark.h>

#include "bench_util.h"

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

namespace {

namespace fs = std::filesystem;

// Rows offered to the destination, copied and refused alike: the report's
// "Total" line.
int64_t ReportedRows(const std::string& report) {
  std::ifstream in(report);
  std::string line;
  while (std::getline(in, line)) {
    if (line.rfind("Total", 0) != 0) continue;
    std::istringstream fields(line.substr(5));
    int64_t copied = 0, skipped = 0;
    fields >> copied >> skipped;
    return copied + skipped;
  }
  return 0;
}

// What the runs of one executable added up to.
struct Totals {
  int64_t rows = 0;
  double seconds = 0;
  double cpu = 0;
  long peak_kb = 0;
};

// Arguments: rows per origin table, processors (1 or 2).
void BM_MigrateProcess(benchmark::State& state) {
  const bench::MigrationFiles files = bench::PreparedMigration(state.range(0));
  const int cpus = static_cast<int>(state.range(1));
  const std::string dest = bench::BenchPath("migrate-destino.mdb");
  const std::string report = bench::BenchPath("migrate-report.txt");
  std::vector<std::string> exes = {MAQUETOR_EXE};
  if (const char* base = std::getenv("MAQUETOR_BASELINE_EXE"); base && *base) exes.push_back(base);
  std::vector<Totals> totals(exes.size());
  double load = 0;
  int64_t i = 0;
  for (auto _ : state) {
    for (size_t k = 0; k < exes.size(); ++k) {
      const size_t which = (k + static_cast<size_t>(i)) % exes.size();
      fs::remove(dest);
      fs::copy_file(files.empty, dest);
      load += bench::LoadAverage();
      bench::Child c;
      try {
        c = bench::RunProcess({exes[which], "migrate", "--from-v8", files.origin, dest}, report,
                              cpus);
      } catch (const std::exception& e) {
        state.SkipWithError(e.what());
        return;
      }
      Totals& t = totals[which];
      if (which == 0) state.SetIterationTime(c.seconds);
      t.seconds += c.seconds;
      t.cpu += c.cpu_seconds;
      t.peak_kb = std::max(t.peak_kb, c.peak_kb);
      t.rows += ReportedRows(report);
    }
    ++i;
  }
  const double n = static_cast<double>(state.iterations());
  const Totals& t = totals[0];
  state.counters["rows"] = static_cast<double>(t.rows) / n;
  state.counters["rows/s"] = static_cast<double>(t.rows) / t.seconds;
  state.counters["cpu_ms"] = t.cpu / n * 1000.0;
  state.counters["peak_rss_MiB"] = static_cast<double>(t.peak_kb) / 1024.0;
  if (totals.size() > 1) {
    const Totals& b = totals[1];
    state.counters["base_rows/s"] = static_cast<double>(b.rows) / b.seconds;
    state.counters["base_cpu_ms"] = b.cpu / n * 1000.0;
    state.counters["base_peak_MiB"] = static_cast<double>(b.peak_kb) / 1024.0;
  }
  state.counters["origin_MiB"] = static_cast<double>(fs::file_size(files.origin)) / (1 << 20);
  state.counters["load1"] = load / (n * static_cast<double>(exes.size()));
  fs::remove(dest);
}
BENCHMARK(BM_MigrateProcess)
    ->ArgNames({"rows_per_table", "cpus"})
    ->Args({6650, 2})
    ->Args({6650, 1})
    ->Args({13300, 2})
    ->Args({13300, 1})
    ->Unit(benchmark::kMillisecond)
    ->Iterations(5)
    ->UseManualTime();

}  // namespace
