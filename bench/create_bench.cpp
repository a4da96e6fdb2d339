// Whole-database creation: the file, 38 tables with their indexes and
// relations, 207 countries, seven accounts and the configuration row. Once
// in this process (the engine alone), and once as the whole `maquetor
// create` process, start-up, final sync and all, which is what an
// administrator waits for: the median of 10 runs, their spread, CPU time
// and the child's peak memory.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "bench_util.h"
#include "schema/buttons.h"

namespace {

namespace fs = std::filesystem;

void BM_CrearBaseCompleta(benchmark::State& state) {
  auto dir = fs::temp_directory_path() / "maquetor-create-bench";
  std::string path = (dir / "Despacho.mdb").string();
  for (auto _ : state) {
    state.PauseTiming();
    fs::remove_all(dir);
    fs::create_directories(dir);
    state.ResumeTiming();
    maquetor::schema::CrearBaseCompleta(path);
  }
  fs::remove_all(dir);
}
BENCHMARK(BM_CrearBaseCompleta)->Unit(benchmark::kMillisecond);

struct Runs {
  std::vector<double> ms;
  double cpu_ms = 0;
  long peak_kb = 0;

  void Add(const bench::Child& run) {
    ms.push_back(run.seconds * 1000.0);
    cpu_ms += run.cpu_seconds * 1000.0;
    peak_kb = std::max(peak_kb, run.peak_kb);
  }
  void Report(benchmark::State& state, const std::string& prefix) {
    std::sort(ms.begin(), ms.end());
    const size_t n = ms.size();
    state.counters[prefix + "median_ms"] = n % 2 ? ms[n / 2] : (ms[n / 2 - 1] + ms[n / 2]) / 2;
    state.counters[prefix + "min_ms"] = ms.front();
    state.counters[prefix + "max_ms"] = ms.back();
    state.counters[prefix + "cpu_ms"] = cpu_ms / static_cast<double>(n);
    state.counters[prefix + "peak_MiB"] = static_cast<double>(peak_kb) / 1024.0;
  }
};

// With MAQUETOR_BASELINE_EXE naming another build's executable, that one
// runs too, alternating with this build's in every iteration (counters
// prefixed "baseline_").
void BM_CreateProcess(benchmark::State& state) {
  const fs::path dir = fs::path(bench::BenchPath("create-process"));
  const std::string path = (dir / "Despacho.mdb").string();
  const char* baseline = std::getenv("MAQUETOR_BASELINE_EXE");
  Runs ours, theirs;
  auto run = [&](const char* exe) {
    fs::remove_all(dir);
    fs::create_directories(dir);
    return bench::RunProcess({exe, "create", path});
  };
  for (auto _ : state) {
    const bench::Child a = run(MAQUETOR_EXE);
    state.SetIterationTime(a.seconds);
    ours.Add(a);
    if (baseline) theirs.Add(run(baseline));
  }
  fs::remove_all(dir);
  ours.Report(state, "");
  if (baseline) theirs.Report(state, "baseline_");
  state.counters["load1"] = bench::LoadAverage();
}
BENCHMARK(BM_CreateProcess)->Unit(benchmark::kMillisecond)->Iterations(10)->UseManualTime();

}  // namespace
