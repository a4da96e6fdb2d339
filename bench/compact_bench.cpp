// Compaction of the migration benchmark's office-sized origin (about
// 240,000 linked rows, 6,650 per table; built on first run under
// maquetor-bench/migrate/ and kept) against a migration of the same origin
// into a freshly built database, the two alternating in every iteration so
// that both meet the same load. The time is the compaction's; the counters
// give each side's seconds, `ratio` (compaction over migration), each
// side's peak memory, and the sizes.
#include <benchmark/benchmark.h>

#include "bench_util.h"

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <string>

#include "../tests/migrate/origin_filler.h"
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

template <typename F>
double Seconds(F&& f) {
  const auto start = std::chrono::steady_clock::now();
  f();
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

void BM_CompactAgainstMigration(benchmark::State& state) {
  const Files files = Prepared(state.range(0));
  const std::string dest = bench::BenchPath("compact-migrated.mdb");
  const std::string out = bench::BenchPath("compact-out.mdb");
  double compact_s = 0, migrate_s = 0;
  long compact_peak = 0, migrate_peak = 0;
  for (auto _ : state) {
    bench::FreshCopy(state, files.pristine, dest);
    fs::remove(out);
    bench::ResetPeakRss();
    migrate_s += Seconds([&] { mig::Migrar(mig::Variante::kV8V8, files.origin, dest); });
    migrate_peak = std::max(migrate_peak, bench::PeakRssKb());
    bench::ResetPeakRss();
    jet::CompactOptions options;
    options.password = jet::dao::PasswordFromConnect(maquetor::db::kConnect);
    const double s = Seconds([&] { jet::CompactDatabase(files.origin, out, options); });
    compact_peak = std::max(compact_peak, bench::PeakRssKb());
    compact_s += s;
    state.SetIterationTime(s);
  }
  const double n = static_cast<double>(state.iterations());
  state.counters["compact_s"] = compact_s / n;
  state.counters["migrate_s"] = migrate_s / n;
  state.counters["ratio"] = compact_s / migrate_s;
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
    ->Iterations(3)
    ->UseManualTime();

}  // namespace
