// Migration of an office-sized origin: about 240,000 linked rows over the 36
// copied tables (6,650 per table), "Pasar V8 V8" into a newly built
// destination; then twice that origin. Prints rows/s for the whole run
// (configuration row and the seeded accounts' refusals included) and the
// peak memory. Memory is bounded by the two page caches and the budget for
// index entries held while a table fills, not by the origin's size: within
// those bounds it follows the largest table, so it grows a little when the
// origin doubles.
#include <benchmark/benchmark.h>

#include "bench_util.h"

#include <filesystem>
#include <string>

#include "../tests/migrate/origin_filler.h"
#include "migrate/migration.h"
#include "schema/buttons.h"

namespace {

namespace fs = std::filesystem;
namespace mig = maquetor::migrate;

// The origin and an empty destination, built once and kept between runs of
// the benchmark (delete the folder to build them again).
struct Files {
  std::string origin;
  std::string pristine;
};

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

void BM_MigrarV8V8(benchmark::State& state) {
  const Files files = Prepared(state.range(0));
  const std::string dest = bench::BenchPath("migrate-destino.mdb");
  int64_t rows = 0;
  bench::ResetPeakRss();
  for (auto _ : state) {
    bench::FreshCopy(state, files.pristine, dest);
    auto report = mig::Migrar(mig::Variante::kV8V8, files.origin, dest);
    // Rows offered to the destination: copied and refused alike.
    rows += report.TotalCopied() + report.TotalSkipped();
  }
  state.counters["rows/s"] =
      benchmark::Counter(static_cast<double>(rows), benchmark::Counter::kIsRate);
  state.counters["rows"] = static_cast<double>(rows) / static_cast<double>(state.iterations());
  state.counters["origin_MiB"] = static_cast<double>(fs::file_size(files.origin)) / (1 << 20);
  state.counters["dest_MiB"] = static_cast<double>(fs::file_size(dest)) / (1 << 20);
  state.counters["peak_rss_MiB"] = static_cast<double>(bench::PeakRssKb()) / 1024.0;
  fs::remove(dest);
}
BENCHMARK(BM_MigrarV8V8)
    ->Arg(6650)
    ->Arg(13300)
    ->Unit(benchmark::kMillisecond)
    ->Iterations(3)
    ->UseRealTime();

}  // namespace
