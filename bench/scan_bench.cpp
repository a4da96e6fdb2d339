// A full scan: every value of every table of the migration benchmark's
// office-sized origin (about 240,000 rows over 38 tables, memos included)
// read from the file and decoded, rows in the order their bytes lie in the
// file as the export reads them. Prints values/s over all tables and the
// peak memory of the scan.
#include <benchmark/benchmark.h>

#include <filesystem>
#include <string>
#include <vector>

#include "../tests/migrate/origin_filler.h"
#include "bench_util.h"
#include "db/engine.h"
#include "jet/database.h"

namespace {

namespace fs = std::filesystem;

const std::string kPassword =
    std::string(maquetor::db::kConnect).substr(std::string(maquetor::db::kConnect).find('=') + 1);

// The export benchmark's origin, built on first use and kept.
std::string Origin(int64_t rows_per_table) {
  const fs::path dir =
      fs::path(bench::BenchPath("export")) / ("rows-" + std::to_string(rows_per_table));
  const std::string path = (dir / "Origen.mdb").string();
  if (!fs::exists(path)) {
    fs::create_directories(dir);
    migrate_testing::BuildOrigin(path, rows_per_table);
  }
  return path;
}

void BM_ScanEveryValue(benchmark::State& state) {
  const std::string path = Origin(state.range(0));
  int64_t values = 0, rows = 0, text_bytes = 0;
  bench::ResetPeakRss();
  for (auto _ : state) {
    // The database password is what follows "pwd=" in the program's connect string.
    auto file = jet::FileState::Open(path, false, true, kPassword);
    std::vector<jet::Value> row;
    for (const auto& entry : file->TableEntries()) {
      if (entry.is_system()) continue;
      jet::Table& t = file->TableAt(entry.tdef_page(), entry.name);
      jet::Table::Scan scan(t, jet::Table::MovedRows::kWhereStored);
      while (scan.Next()) {
        t.DecodeRow(scan.bytes(), row);
        values += static_cast<int64_t>(row.size());
        ++rows;
        for (const auto& v : row) {
          if (v.is<std::string>()) text_bytes += static_cast<int64_t>(v.as<std::string>().size());
        }
      }
    }
  }
  const double n = static_cast<double>(state.iterations());
  state.counters["values/s"] = benchmark::Counter(static_cast<double>(values), benchmark::Counter::kIsRate);
  state.counters["rows/s"] = benchmark::Counter(static_cast<double>(rows), benchmark::Counter::kIsRate);
  state.counters["values"] = static_cast<double>(values) / n;
  state.counters["text_MiB"] = static_cast<double>(text_bytes) / n / (1 << 20);
  state.counters["file_MiB"] = static_cast<double>(fs::file_size(path)) / (1 << 20);
  state.counters["peak_rss_MiB"] = static_cast<double>(bench::PeakRssKb()) / 1024.0;
  state.counters["load1"] = bench::LoadAverage();
}
BENCHMARK(BM_ScanEveryValue)->Arg(6650)->Unit(benchmark::kMillisecond)->Iterations(5)->UseRealTime();

}  // namespace
