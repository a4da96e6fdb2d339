// Stand-in until the engine's own benchmarks land: times the pager reading a
// database page by page, on a fixture when one is there. Prints figures only.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <filesystem>
#include <memory>
#include <string>

#include "jet/pager.h"

namespace {

std::string FixtureOrEmpty(const char* relative) {
  auto path = std::filesystem::path(MAQUETOR_SOURCE_DIR).parent_path() / "shared" / "fixtures" / relative;
  return std::filesystem::exists(path) ? path.string() : std::string();
}

void BM_ReadEveryPage(benchmark::State& state) {
  const std::string path = FixtureOrEmpty("jet4/testV2000.mdb");
  if (path.empty()) {
    state.SkipWithError("../shared/fixtures is absent");
    return;
  }
  uint64_t bytes = 0;
  for (auto _ : state) {
    auto pager = jet::Pager::Open(path, jet::OpenMode::kReadOnly, false);
    for (uint32_t i = 0; i < pager->page_count(); ++i) {
      benchmark::DoNotOptimize(pager->Read(i).data());
      bytes += pager->format().page_size;
    }
  }
  state.SetBytesProcessed(static_cast<int64_t>(bytes));
}
BENCHMARK(BM_ReadEveryPage)->Unit(benchmark::kMillisecond);

}  // namespace
