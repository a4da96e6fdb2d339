// Whole-database creation: the file, 38 tables with their indexes and
// relations, 207 countries, seven accounts and the configuration row.
#include <benchmark/benchmark.h>

#include <filesystem>
#include <string>

#include "schema/buttons.h"

namespace {

void BM_CrearBaseCompleta(benchmark::State& state) {
  auto dir = std::filesystem::temp_directory_path() / "maquetor-create-bench";
  std::string path = (dir / "Despacho.mdb").string();
  for (auto _ : state) {
    state.PauseTiming();
    std::filesystem::remove_all(dir);
    std::filesystem::create_directories(dir);
    state.ResumeTiming();
    maquetor::schema::CrearBaseCompleta(path);
  }
  std::filesystem::remove_all(dir);
}
BENCHMARK(BM_CrearBaseCompleta)->Unit(benchmark::kMillisecond);

}  // namespace
