// Compaction of the migration benchmark's office-sized origin (about
// 240,000 linked rows, 6,650 per table; built on first run under
// maquetor-bench/migrate/ and kept) against a migration of the same origin
// as `maquetor migrate` runs it into a new destination (the database built
// whole, `build_s`, then filled, `migrate_s`), the two alternating in every
// iteration so that both meet the same load. The time is the compaction's;
// the counters give each side's seconds, `ratio` (compaction over the whole
// migration; `ratio_fill_only` over the filling alone), each
// side's CPU seconds (steadier than wall time on a busy machine), each
// side's peak memory, the sizes and the one-minute load average.
#include <benchmark/benchmark.h>
#include <sys/resource.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <string>

#include "../tests/migrate/origin_filler.h"
#include "bench_util.h"
#include "db/engine.h"
#include "jet/compact.h"
#include "jet/dao.h"
#include "migrate/migration.h"
#include "schema/buttons.h"

namespace {

namespace fs = std::filesystem;
namespace mig = maquetor::migrate;

struct Files {
  std::string origin;
  std::string pristine;
};

// The same files, at the same place, as migrate_bench's.
Files Prepared(int64_t rows_per_table) {
  const fs::path dir =
      fs::path(bench::BenchPath("migrate")) / ("rows-" + std::to_string(rows_per_table));
  Files f{(dir / "Origen.mdb").string(), (dir / "Vacia" / "Destino.mdb").string()};
  if (!fs::exists(f.origin) || !fs::exists(f.pristine)) {
    fs::remove_all(dir);
    fs::create_directories(dir / "Vacia");
    migrate_testing::BuildOrigin(f.origin, rows_per_table);
    maquetor::schema::CrearBaseCompleta(f.pristine);
  }
  return f;
}

double CpuSeconds() {
  rusage u{};
  getrusage(RUSAGE_SELF, &u);
  auto s = [](const timeval& t) { return static_cast<double>(t.tv_sec) + t.tv_usec / 1e6; };
  return s(u.ru_utime) + s(u.ru_stime);
}

// Wall and CPU seconds (both threads of either side counted) of one run.
template <typename F>
double Seconds(F&& f, double& cpu) {
  const double cpu_start = CpuSeconds();
  const auto start = std::chrono::steady_clock::now();
  f();
  cpu += CpuSeconds() - cpu_start;
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

double Load1() {
  std::ifstream in("/proc/loadavg");
  double load = -1;
  in >> load;
  return load;
}

void BM_CompactAgainstMigration(benchmark::State& state) {
  const Files files = Prepared(state.range(0));
  const std::string dest = bench::BenchPath("compact-migrated.mdb");
  const std::string out = bench::BenchPath("compact-out.mdb");
  double compact_s = 0, migrate_s = 0, compact_cpu = 0, migrate_cpu = 0;
  long compact_peak = 0, migrate_peak = 0;
  double build_s = 0, build_cpu = 0;
  for (auto _ : state) {
    fs::remove(dest);
    fs::remove(out);
    bench::ResetPeakRss();
    // As `maquetor migrate` does for a new destination: built whole, then filled.
    build_s += Seconds([&] { maquetor::schema::CrearBaseCompleta(dest); }, build_cpu);
    migrate_s +=
        Seconds([&] { mig::Migrar(mig::Variante::kV8V8, files.origin, dest); }, migrate_cpu);
    migrate_peak = std::max(migrate_peak, bench::PeakRssKb());
    bench::ResetPeakRss();
    jet::CompactOptions options;
    options.password = jet::dao::PasswordFromConnect(maquetor::db::kConnect);
    const double s =
        Seconds([&] { jet::CompactDatabase(files.origin, out, options); }, compact_cpu);
    compact_peak = std::max(compact_peak, bench::PeakRssKb());
    compact_s += s;
    state.SetIterationTime(s);
  }
  const double n = static_cast<double>(state.iterations());
  state.counters["compact_s"] = compact_s / n;
  state.counters["migrate_s"] = migrate_s / n;
  state.counters["build_s"] = build_s / n;
  state.counters["ratio"] = compact_s / (build_s + migrate_s);
  state.counters["ratio_fill_only"] = compact_s / migrate_s;
  state.counters["compact_cpu_s"] = compact_cpu / n;
  state.counters["migrate_cpu_s"] = (build_cpu + migrate_cpu) / n;
  state.counters["load1"] = Load1();
  state.counters["compact_peak_MiB"] = static_cast<double>(compact_peak) / 1024.0;
  state.counters["migrate_peak_MiB"] = static_cast<double>(migrate_peak) / 1024.0;
  state.counters["origin_MiB"] = static_cast<double>(fs::file_size(files.origin)) / (1 << 20);
  state.counters["out_MiB"] = static_cast<double>(fs::file_size(out)) / (1 << 20);
  fs::remove(dest);
  fs::remove(out);
}
BENCHMARK(BM_CompactAgainstMigration)
    ->Arg(6650)
    ->Unit(benchmark::kMillisecond)
    ->Iterations(5)
    ->UseManualTime();

}  // namespace
