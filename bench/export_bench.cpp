// `maquetor export --all` against mdb-export of every table (a loop over
// mdb-tables, one process per table, as scripts run it), on the migration
// benchmark's office-sized origin (about 240,000 rows over 38 tables), in the
// same run. Each iteration runs both; the benchmark's time is maquetor's,
// and the counters give each side's rows/s, the ratio of wall times, each
// side's CPU time (user and system, which a machine shared with other work
// inflates less) and its ratio, and the peak memory of each side's largest
// process.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "../tests/migrate/origin_filler.h"
#include "bench_util.h"
#include "jet/dao.h"

namespace {

namespace fs = std::filesystem;

std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> out;
  size_t start = 0;
  for (size_t nl; (nl = text.find('\n', start)) != std::string::npos; start = nl + 1) {
    out.push_back(text.substr(start, nl - start));
  }
  return out;
}

std::string FileText(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

struct Origin {
  std::string path;
  int64_t rows = 0;
};

Origin Prepared(int64_t rows_per_table) {
  const fs::path dir = fs::path(bench::BenchPath("export")) / ("rows-" + std::to_string(rows_per_table));
  Origin o{(dir / "Origen.mdb").string()};
  if (!fs::exists(o.path)) {
    fs::create_directories(dir);
    migrate_testing::BuildOrigin(o.path, rows_per_table);
  }
  auto db = jet::dao::DBEngine::Instance().OpenDatabase(o.path, false, true, maquetor::db::kConnect);
  for (const auto& t : db.TableDefs()) {
    if (!t.IsSystem()) o.rows += t.RecordCount();
  }
  db.Close();
  return o;
}

void BM_ExportAllVersusMdbExport(benchmark::State& state) {
  const Origin origin = Prepared(state.range(0));
  const std::string ours = bench::BenchPath("export-maquetor");
  const std::string theirs = bench::BenchPath("export-mdbtools");
  fs::create_directories(theirs);
  double our_seconds = 0, their_seconds = 0, our_cpu = 0, their_cpu = 0;
  long our_peak = 0, their_peak = 0;
  for (auto _ : state) {
    fs::remove_all(ours);
    const bench::Child a = bench::RunProcess({MAQUETOR_EXE, "export", origin.path, "--all", ours});
    state.SetIterationTime(a.seconds);
    our_seconds += a.seconds;
    our_cpu += a.cpu_seconds;
    our_peak = std::max(our_peak, a.peak_kb);

    const auto start = std::chrono::steady_clock::now();
    const std::string list = theirs + "/tables.txt";
    their_cpu += bench::RunProcess({"mdb-tables", "-1", origin.path}, list).cpu_seconds;
    for (const auto& table : Lines(FileText(list))) {
      const bench::Child b =
          bench::RunProcess({"mdb-export", origin.path, table}, theirs + "/" + table + ".csv");
      their_peak = std::max(their_peak, b.peak_kb);
      their_cpu += b.cpu_seconds;
    }
    their_seconds += std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  }
  const double n = static_cast<double>(state.iterations());
  state.counters["rows"] = static_cast<double>(origin.rows);
  state.counters["maquetor_rows/s"] = static_cast<double>(origin.rows) * n / our_seconds;
  state.counters["mdbexport_rows/s"] = static_cast<double>(origin.rows) * n / their_seconds;
  state.counters["mdbexport_ms"] = their_seconds / n * 1000.0;
  state.counters["ratio"] = their_seconds / our_seconds;
  state.counters["maquetor_cpu_ms"] = our_cpu / n * 1000.0;
  state.counters["mdbexport_cpu_ms"] = their_cpu / n * 1000.0;
  state.counters["cpu_ratio"] = their_cpu / our_cpu;
  state.counters["maquetor_peak_MiB"] = static_cast<double>(our_peak) / 1024.0;
  state.counters["mdbexport_peak_MiB"] = static_cast<double>(their_peak) / 1024.0;
}
BENCHMARK(BM_ExportAllVersusMdbExport)
    ->Arg(6650)
    ->Unit(benchmark::kMillisecond)
    ->Iterations(5)
    ->UseManualTime();

}  // namespace
