// The euro conversion of a database holding 1,000,000 fee notes: the whole
// law-office schema with TMinuta filled and the other money tables empty, so
// ConvertirBase runs the six fee-note statements ("UPDATE TMinuta SET
// FMinuta07 = FMinuta07 /166.386 WHERE FMinuta07 <> 0" and the five that
// follow FMinuta07), each with options 160, then closes the file. Prints
// rows/s (rows the statements changed), the part of the CPU time spent in
// the kernel (page reads and writes) and the peak memory.
//
// The filled database is built once and kept between runs (delete the folder
// to build it again); each iteration converts a fresh copy.
#include <benchmark/benchmark.h>

#include "bench_util.h"

#include <sys/resource.h>

#include <filesystem>
#include <string>

#include "currency/moneda.h"
#include "db/engine.h"
#include "jet/dao.h"
#include "jet/value_codec.h"
#include "schema/buttons.h"

namespace {

namespace fs = std::filesystem;
using jet::Value;

constexpr int kMatters = 1000;

// Fee notes of 1,000 matters. FMinuta07 is zero on every tenth note (the
// statements leave those alone) and the other amounts are Null on every
// seventh, as notes without that item are.
void FillFeeNotes(const std::string& path, int rows) {
  maquetor::schema::CrearBaseCompleta(path);
  auto db = maquetor::db::OpenShared(path);
  auto matters = db.OpenRecordset("TAsuntos", jet::dao::dbOpenTable);
  for (int i = 0; i < kMatters; ++i) {
    matters.AddNew();
    matters.SetValue("FAsu01", Value(int32_t{i}));
    matters.SetValue("FAsu02", Value(int32_t{2000 + i % 20}));
    matters.Update();
  }
  matters.Close();
  auto notes = db.OpenRecordset("TMinuta", jet::dao::dbOpenTable);
  const jet::Date base = jet::PartsToDate({2001, 1, 1, 0, 0, 0});
  for (int i = 0; i < rows; ++i) {
    const int matter = i % kMatters;
    const double amount = 1000.0 + (i % 5000) * 25.0;
    notes.AddNew();
    notes.SetValue("FMinuta01", Value(int32_t{matter}));
    notes.SetValue("FMinuta02", Value(int32_t{2000 + matter % 20}));
    notes.SetValue("FMinuta03", Value(int32_t{i % 3}));
    notes.SetValue("FMinuta04", Value(int32_t{i / 100}));
    notes.SetValue("FMinuta05", Value(int32_t{i % 100}));
    notes.SetValue("FMinuta06", Value(jet::Date{base.days + i % 3650}));
    notes.SetValue("FMinuta07", Value(i % 10 == 0 ? 0.0 : amount));
    for (const char* f : {"FMinuta08", "FMinuta09", "FMinuta12", "FMinuta13", "FMinuta14"}) {
      notes.SetValue(f, i % 7 == 0 ? Value::Null() : Value(amount / 4));
    }
    notes.SetValue("FMinuta10", Value(16.0));
    notes.SetValue("FMinuta11", Value(15.0));
    notes.SetValue("FMinuta18", Value(int32_t{i % 4}));
    notes.Update();
  }
  notes.Close();
  db.Close();
}

std::string Prepared(int rows) {
  const fs::path dir = fs::path(bench::BenchPath("update")) / ("notes-" + std::to_string(rows));
  const std::string path = (dir / "Despacho.mdb").string();
  if (!fs::exists(path)) {
    fs::remove_all(dir);
    fs::create_directories(dir);
    FillFeeNotes(path + ".part", rows);
    fs::rename(path + ".part", path);
  }
  return path;
}

// Kernel CPU time of the process so far, in seconds: reading and writing
// pages through the file.
double SystemSeconds() {
  rusage u{};
  getrusage(RUSAGE_SELF, &u);
  return static_cast<double>(u.ru_stime.tv_sec) + static_cast<double>(u.ru_stime.tv_usec) / 1e6;
}

void BM_ConvertirBaseMinutas(benchmark::State& state) {
  const std::string pristine = Prepared(static_cast<int>(state.range(0)));
  const std::string work = bench::BenchPath("update-work.mdb");
  int64_t changed = 0;
  double system = 0;
  bench::ResetPeakRss();
  for (auto _ : state) {
    bench::FreshCopy(state, pristine, work);
    const double system_before = SystemSeconds();
    std::string ruta = work;
    int sentido = maquetor::currency::kAEuros;
    auto done = maquetor::currency::ConvertirBase(ruta, sentido);
    system += SystemSeconds() - system_before;
    for (const auto& t : done.tables) {
      for (const auto& s : t.statements) changed += s.rows;
    }
  }
  state.counters["rows/s"] =
      benchmark::Counter(static_cast<double>(changed), benchmark::Counter::kIsRate);
  state.counters["rows_changed"] = static_cast<double>(changed) / static_cast<double>(state.iterations());
  state.counters["system_ms"] = 1000 * system / static_cast<double>(state.iterations());
  state.counters["peak_rss_MiB"] = static_cast<double>(bench::PeakRssKb()) / 1024.0;
  fs::remove(work);
}
BENCHMARK(BM_ConvertirBaseMinutas)->Arg(1000000)->Unit(benchmark::kMillisecond)->Iterations(1);

// An update the rows cannot take in place: FMinuta18 belongs to index
// IMinuta1, so the 10,000 notes the WHERE picks out of the million move in
// that index, and every row is read whole to test the WHERE.
void BM_UpdateIndexedColumn(benchmark::State& state) {
  const std::string pristine = Prepared(static_cast<int>(state.range(0)));
  const std::string work = bench::BenchPath("update-work.mdb");
  int64_t changed = 0;
  bench::ResetPeakRss();
  for (auto _ : state) {
    bench::FreshCopy(state, pristine, work);
    auto db = maquetor::db::OpenShared(work);
    db.Execute("UPDATE TMinuta SET FMinuta18 = FMinuta18 + 10 WHERE FMinuta05 = 7",
               maquetor::db::kExecuteFailOnError);
    changed += db.RecordsAffected();
    db.Close();
  }
  state.counters["rows/s"] =
      benchmark::Counter(static_cast<double>(changed), benchmark::Counter::kIsRate);
  state.counters["peak_rss_MiB"] = static_cast<double>(bench::PeakRssKb()) / 1024.0;
  fs::remove(work);
}
BENCHMARK(BM_UpdateIndexedColumn)->Arg(1000000)->Unit(benchmark::kMillisecond)->Iterations(1);

}  // namespace
