// Engine throughput: inserting and scanning a million rows of two Long, two
// Text, a Double and a Date (no index), and the peak memory of the process.
#include <benchmark/benchmark.h>

#include "bench_util.h"

#include <filesystem>
#include <fstream>
#include <string>

#include "jet/dao.h"
#include "jet/database.h"
#include "jet/value_codec.h"

namespace {

using bench::BenchPath;
using bench::PeakRssKb;

using namespace jet::dao;

constexpr int kRows = 1000000;

void CreateTable(Database& db) {
  TableDef t = db.CreateTableDef("TFilas");
  t.AppendField(t.CreateField("FUno", dbLong));
  t.AppendField(t.CreateField("FDos", dbLong));
  t.AppendField(t.CreateField("FNombre", dbText, 50));
  t.AppendField(t.CreateField("FCiudad", dbText, 30));
  t.AppendField(t.CreateField("FImporte", dbDouble));
  t.AppendField(t.CreateField("FFecha", dbDate));
  db.AppendTableDef(t);
}

std::string Fill(const char* name) {
  std::string path = BenchPath(name);
  std::filesystem::remove(path);
  Database db = DBEngine::Instance().Workspaces(0).CreateDatabase(
      path, ";LANGID=0x0409;CP=1252;COUNTRY=0;pwd=KTRW_BLM");
  CreateTable(db);
  Recordset rs = db.OpenRecordset("TFilas");
  jet::Date base = jet::PartsToDate({2001, 1, 1, 0, 0, 0});
  for (int i = 0; i < kRows; ++i) {
    rs.AddNew();
    rs.SetValue(0, Value(int32_t{i}));
    rs.SetValue(1, Value(int32_t{i % 97}));
    rs.SetValue(2, Value("Nombre de prueba " + std::to_string(i)));
    rs.SetValue(3, Value("Málaga"));
    rs.SetValue(4, Value(i * 0.25));
    rs.SetValue(5, Value(jet::Date{base.days + i % 3650}));
    rs.Update();
  }
  rs.Close();
  db.Close();
  return path;
}

void BM_Insert(benchmark::State& state) {
  for (auto _ : state) Fill("insert.mdb");
  state.counters["rows/s"] =
      benchmark::Counter(static_cast<double>(kRows) * state.iterations(), benchmark::Counter::kIsRate);
  state.counters["peak_rss_MiB"] = static_cast<double>(PeakRssKb()) / 1024.0;
}
BENCHMARK(BM_Insert)->Unit(benchmark::kMillisecond)->Iterations(1)->UseRealTime();

void BM_Scan(benchmark::State& state) {
  std::string path = BenchPath("insert.mdb");
  if (!std::filesystem::exists(path)) Fill("insert.mdb");
  int64_t seen = 0;
  for (auto _ : state) {
    Database db = DBEngine::Instance().Workspaces(0).OpenDatabase(path, false, true, ";pwd=KTRW_BLM");
    Recordset rs = db.OpenRecordset("TFilas");
    int64_t sum = 0;
    while (!rs.IsEOF()) {
      sum += rs.GetValue(0).as<int32_t>();
      rs.MoveNext();
      ++seen;
    }
    benchmark::DoNotOptimize(sum);
    db.Close();
  }
  state.counters["rows/s"] = benchmark::Counter(static_cast<double>(seen), benchmark::Counter::kIsRate);
  state.counters["peak_rss_MiB"] = static_cast<double>(PeakRssKb()) / 1024.0;
}
BENCHMARK(BM_Scan)->Unit(benchmark::kMillisecond)->Iterations(3)->UseRealTime();

// The raw scan beneath the recordset: every row cracked and every value decoded.
void BM_ScanDecode(benchmark::State& state) {
  std::string path = BenchPath("insert.mdb");
  if (!std::filesystem::exists(path)) Fill("insert.mdb");
  int64_t seen = 0;
  for (auto _ : state) {
    auto file = jet::FileState::Open(path, false, true, "KTRW_BLM");
    jet::Table& t = file->GetTable("TFilas");
    std::vector<jet::Value> values;
    jet::Table::Scan scan(t);
    while (scan.Next()) {
      t.DecodeRow(scan.bytes(), values);
      ++seen;
    }
  }
  state.counters["rows/s"] = benchmark::Counter(static_cast<double>(seen), benchmark::Counter::kIsRate);
  state.counters["peak_rss_MiB"] = static_cast<double>(PeakRssKb()) / 1024.0;
}
BENCHMARK(BM_ScanDecode)->Unit(benchmark::kMillisecond)->Iterations(3)->UseRealTime();

}  // namespace
