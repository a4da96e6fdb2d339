// The whole `maquetor compact DB OUT` process on the migration benchmark's
// office-sized origin (about 240,000 linked rows, 6,650 per table) against
// the whole `maquetor migrate --from-v8 DB NEW` process of the same origin,
// which builds its destination and fills it, as an office would run either.
// Each iteration runs both, in alternating order, so that both meet the
// same load. The time is the compaction's; the counters give each side's
// mean wall and CPU seconds (user and system, which a busy machine inflates
// far less than wall time), `ratio` and `cpu_ratio` (compaction over
// migration), each side's peak memory, the sizes and the load average.
// With MAQUETOR_BASELINE_EXE naming another build's maquetor, each
// iteration runs its compaction too (`base_compact_s`, `base_cpu_s`,
// `base_peak_MiB`).
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "bench_util.h"

namespace {

namespace fs = std::filesystem;

struct Side {
  double seconds = 0;
  double cpu = 0;
  long peak_kb = 0;
  void Add(const bench::Child& c) {
    seconds += c.seconds;
    cpu += c.cpu_seconds;
    peak_kb = std::max(peak_kb, c.peak_kb);
  }
};

void BM_CompactAgainstMigration(benchmark::State& state) {
  const bench::MigrationFiles files = bench::PreparedMigration(state.range(0));
  const std::string out = bench::BenchPath("compact-out.mdb");
  // The migration builds its destination and that database's document
  // folder: both in a folder of their own, emptied before each run.
  const fs::path migrate_dir = bench::BenchPath("compact-migrate");
  const std::string migrated = (migrate_dir / "Destino.mdb").string();
  const char* base = std::getenv("MAQUETOR_BASELINE_EXE");
  const std::string baseline = base ? base : "";
  Side compact, migrate, base_compact;
  double load = 0;
  int64_t i = 0;
  for (auto _ : state) {
    // Which runs first changes from one iteration to the next.
    std::vector<int> order = {0, 1};
    if (!baseline.empty()) order.push_back(2);
    std::rotate(order.begin(), order.begin() + i % static_cast<int64_t>(order.size()), order.end());
    for (int which : order) {
      load += bench::LoadAverage();
      try {
        if (which == 1) {
          fs::remove_all(migrate_dir);
          fs::create_directories(migrate_dir);
          migrate.Add(bench::RunProcess(
              {MAQUETOR_EXE, "migrate", "--from-v8", files.origin, migrated}));
          continue;
        }
        fs::remove(out);
        const bench::Child c =
            bench::RunProcess({which == 0 ? MAQUETOR_EXE : baseline, "compact", files.origin, out});
        (which == 0 ? compact : base_compact).Add(c);
        if (which == 0) state.SetIterationTime(c.seconds);
      } catch (const std::exception& e) {
        state.SkipWithError(e.what());
        return;
      }
    }
    ++i;
  }
  const double n = static_cast<double>(state.iterations());
  state.counters["compact_s"] = compact.seconds / n;
  state.counters["migrate_s"] = migrate.seconds / n;
  state.counters["ratio"] = compact.seconds / migrate.seconds;
  state.counters["compact_cpu_s"] = compact.cpu / n;
  state.counters["migrate_cpu_s"] = migrate.cpu / n;
  state.counters["cpu_ratio"] = compact.cpu / migrate.cpu;
  state.counters["compact_peak_MiB"] = static_cast<double>(compact.peak_kb) / 1024.0;
  state.counters["migrate_peak_MiB"] = static_cast<double>(migrate.peak_kb) / 1024.0;
  if (!baseline.empty()) {
    state.counters["base_compact_s"] = base_compact.seconds / n;
    state.counters["base_cpu_s"] = base_compact.cpu / n;
    state.counters["base_peak_MiB"] = static_cast<double>(base_compact.peak_kb) / 1024.0;
  }
  state.counters["origin_MiB"] = static_cast<double>(fs::file_size(files.origin)) / (1 << 20);
  state.counters["out_MiB"] = static_cast<double>(fs::file_size(out)) / (1 << 20);
  state.counters["load1"] = load / (n * static_cast<double>(baseline.empty() ? 2 : 3));
  fs::remove(out);
  fs::remove(migrated);
}
BENCHMARK(BM_CompactAgainstMigration)
    ->Arg(6650)
    ->Unit(benchmark::kMillisecond)
    ->Iterations(5)
    ->UseManualTime();

}  // namespace
