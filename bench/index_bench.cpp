// Index maintenance and lookups: a million rows inserted through the DAO
// recordset with a two-Long primary key (keys ascending), the same with a
// unique index on a name column too (keys in no particular order), the
// same again with its text formatted before the clock starts, and a
// million primary-key seeks. Prints rows or seeks per second of wall-clock
// and of CPU time (the machine is shared) and the peak memory of each run.
#include <benchmark/benchmark.h>

#include "bench_util.h"

#include <algorithm>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <numeric>
#include <random>
#include <string>
#include <string_view>
#include <vector>

#include "jet/dao.h"
#include "jet/database.h"
#include "jet/index_builder.h"
#include "jet/index_key.h"
#include "jet/integrity.h"
#include "jet/value_codec.h"

namespace {

using bench::BenchPath;
using bench::PeakRssKb;
using bench::ResetPeakRss;

using namespace jet::dao;

constexpr int kLinesPerCase = 10;  // second key column: line within a case

// MAQUETOR_BENCH_ROWS overrides the row count (for profiling short runs).
const int kRows = [] {
  const char* v = std::getenv("MAQUETOR_BENCH_ROWS");
  return v ? std::max(kLinesPerCase, std::atoi(v)) : 1000000;
}();

double CpuSeconds() {
  timespec ts{};
  clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &ts);
  return static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec) * 1e-9;
}

// `n` (not negative) in decimal, zero-padded to `width` digits. The values
// are made as they are inserted, so their making should cost little next
// to the insert: no format string parsed per row.
void AppendDigits(std::string& out, int n, int width) {
  char digits[12];
  int len = 0;
  do {
    digits[len++] = static_cast<char>('0' + n % 10);
    n /= 10;
  } while (n > 0);
  for (int k = len; k < width; ++k) out.push_back('0');
  while (len > 0) out.push_back(digits[--len]);
}

// "Fernández Gómez, María José 000123": distinct for distinct numbers, and
// in an order unrelated to the number.
std::string SpanishName(int i) {
  static const char* const kGiven[] = {
      "María José", "Antonio", "Carmen", "José Luis", "Ana Isabel", "Francisco Javier", "Lucía",
      "Manuel",     "Pilar",   "Jesús",  "Dolores",   "Alejandro",  "Inmaculada",       "Raúl",
      "Begoña",     "Íñigo",   "Rocío",  "Álvaro",    "Montserrat", "Ángel"};
  static const char* const kSurname[] = {
      "Fernández", "Gómez",    "García", "Martínez", "López",  "Sánchez", "Pérez",
      "Martín",    "Jiménez",  "Ruiz",   "Hernández", "Díaz",   "Moreno",  "Muñoz",
      "Álvarez",   "Romero",   "Alonso", "Gutiérrez", "Navarro", "Torres", "Domínguez",
      "Vázquez",   "Ramos",    "Gil",    "Ramírez",  "Serrano", "Blanco",  "Suárez",
      "Molina",    "Castro",   "Ortega", "Rubio",    "Núñez",   "Iglesias", "Peña"};
  constexpr uint32_t kG = sizeof kGiven / sizeof *kGiven;
  constexpr uint32_t kS = sizeof kSurname / sizeof *kSurname;
  uint32_t h = static_cast<uint32_t>(i) * 2654435761u;
  h ^= h >> 15;
  std::string out;
  out.reserve(48);
  out.append(kSurname[h % kS]).append(" ").append(kSurname[(h / kS) % kS]).append(", ");
  out.append(kGiven[(h / kS / kS) % kG]).append(" ");
  AppendDigits(out, i, 6);
  return out;
}

void CreateTable(Database& db, bool name_index) {
  TableDef t = db.CreateTableDef("TActuaciones");
  t.AppendField(t.CreateField("IdExpediente", dbLong));
  t.AppendField(t.CreateField("Linea", dbLong));
  t.AppendField(t.CreateField("Codigo", dbText, 12));
  t.AppendField(t.CreateField("Cliente", dbText, 50));
  t.AppendField(t.CreateField("Importe", dbDouble));
  t.AppendField(t.CreateField("Fecha", dbDate));
  Index pk = t.CreateIndex("PrimaryKey");
  pk.SetPrimary(true);
  pk.AppendField(pk.CreateField("IdExpediente"));
  pk.AppendField(pk.CreateField("Linea"));
  t.AppendIndex(pk);
  if (name_index) {
    Index byname = t.CreateIndex("Cliente");
    byname.SetUnique(true);
    byname.AppendField(byname.CreateField("Cliente"));
    t.AppendIndex(byname);
  }
  db.AppendTableDef(t);
}

// Strings made before the clock starts, so that a run can be timed without
// the benchmark's own formatting; one buffer, to keep peak memory close to
// that of the runs that format as they go.
class StringList {
 public:
  template <typename Make>
  StringList(int n, const Make& make) {
    for (int i = 0; i < n; ++i) {
      chars_ += make(i);
      ends_.push_back(static_cast<uint32_t>(chars_.size()));
    }
  }
  std::string_view operator[](int i) const {
    const size_t from = i == 0 ? 0 : ends_[static_cast<size_t>(i) - 1];
    return std::string_view(chars_).substr(from, ends_[static_cast<size_t>(i)] - from);
  }

 private:
  std::string chars_;
  std::vector<uint32_t> ends_;
};

std::string Code(int i) {
  std::string code = "EXP-";
  AppendDigits(code, i / kLinesPerCase, 7);
  return code;
}

struct Preformatted {
  StringList codes{kRows, Code};
  StringList names{kRows, SpanishName};
};

// `pre`: take the text columns from there instead of formatting them.
std::string Fill(const char* name, bool name_index, const Preformatted* pre = nullptr) {
  std::string path = BenchPath(name);
  std::filesystem::remove(path);
  Database db = DBEngine::Instance().Workspaces(0).CreateDatabase(
      path, ";LANGID=0x0409;CP=1252;COUNTRY=0");
  CreateTable(db, name_index);
  Recordset rs = db.OpenRecordset("TActuaciones");
  jet::Date base = jet::PartsToDate({2001, 1, 1, 0, 0, 0});
  for (int i = 0; i < kRows; ++i) {
    rs.AddNew();
    rs.SetValue(0, Value(int32_t{i / kLinesPerCase}));
    rs.SetValue(1, Value(int32_t{i % kLinesPerCase}));
    rs.SetValue(2, Value(pre ? std::string(pre->codes[i]) : Code(i)));
    rs.SetValue(3, Value(pre ? std::string(pre->names[i]) : SpanishName(i)));
    rs.SetValue(4, Value(i * 0.25));
    rs.SetValue(5, Value(jet::Date{base.days + i % 3650}));
    rs.Update();
  }
  rs.Close();
  db.Close();
  return path;
}

void Report(benchmark::State& state, double items, double cpu, const char* what) {
  state.counters[what] = benchmark::Counter(items, benchmark::Counter::kIsRate);
  state.counters[std::string(what) + "_cpu"] = items / cpu;
  state.counters["peak_rss_MiB"] = static_cast<double>(PeakRssKb()) / 1024.0;
}

void BM_InsertPrimaryKey(benchmark::State& state) {
  ResetPeakRss();
  double cpu = 0;
  for (auto _ : state) {
    double c0 = CpuSeconds();
    Fill("index_pk.mdb", false);
    cpu += CpuSeconds() - c0;
  }
  Report(state, static_cast<double>(kRows) * static_cast<double>(state.iterations()), cpu, "rows/s");
}
BENCHMARK(BM_InsertPrimaryKey)->Unit(benchmark::kMillisecond)->Iterations(1)->UseRealTime();

void BM_InsertPrimaryKeyAndUniqueName(benchmark::State& state) {
  ResetPeakRss();
  double cpu = 0;
  for (auto _ : state) {
    double c0 = CpuSeconds();
    Fill("index_pk_name.mdb", true);
    cpu += CpuSeconds() - c0;
  }
  Report(state, static_cast<double>(kRows) * static_cast<double>(state.iterations()), cpu, "rows/s");
}
BENCHMARK(BM_InsertPrimaryKeyAndUniqueName)->Unit(benchmark::kMillisecond)->Iterations(1)->UseRealTime();

// Every primary key looked up once, in random order.
template <typename Seek>
void SeekEveryKey(benchmark::State& state, const Seek& seek) {
  std::string path = BenchPath("index_pk.mdb");
  if (!std::filesystem::exists(path)) Fill("index_pk.mdb", false);
  ResetPeakRss();
  auto file = jet::FileState::Open(path, false, true, "");
  jet::Table& t = file->GetTable("TActuaciones");
  const jet::TableDef& def = t.def();
  const jet::RealIndexDef& pk = def.real_indexes.at(0);
  std::vector<jet::Bytes> keys(static_cast<size_t>(kRows));
  for (int i = 0; i < kRows; ++i) {
    jet::Bytes& k = keys[static_cast<size_t>(i)];
    jet::AppendKeyColumn(k, Value(int32_t{i / kLinesPerCase}), def.columns[0], true);
    jet::AppendKeyColumn(k, Value(int32_t{i % kLinesPerCase}), def.columns[1], true);
  }
  std::shuffle(keys.begin(), keys.end(), std::mt19937(42));
  int64_t seeks = 0, found = 0;
  double cpu = 0;
  for (auto _ : state) {
    double c0 = CpuSeconds();
    for (const jet::Bytes& k : keys) found += seek(t.pager(), pk.first_page, k) ? 1 : 0;
    cpu += CpuSeconds() - c0;
    seeks += kRows;
  }
  if (found != seeks) state.SkipWithError("a key was not found");
  Report(state, static_cast<double>(seeks), cpu, "seeks/s");
}

// The seek the integrity checks use (unique keys, related rows).
void BM_SeekPrimaryKey(benchmark::State& state) {
  SeekEveryKey(state, [](jet::Pager& p, uint32_t root, const jet::Bytes& k) {
    return !jet::SeekIndex(p, root, k, 1).empty();
  });
}
BENCHMARK(BM_SeekPrimaryKey)->Unit(benchmark::kMillisecond)->Iterations(2)->UseRealTime();

// The index module's seek, which searches pages without decoding them.
void BM_FindIndexRowsPrimaryKey(benchmark::State& state) {
  SeekEveryKey(state, [](jet::Pager& p, uint32_t root, const jet::Bytes& k) {
    return !jet::FindIndexRows(p, root, k, 1).empty();
  });
}
BENCHMARK(BM_FindIndexRowsPrimaryKey)->Unit(benchmark::kMillisecond)->Iterations(2)->UseRealTime();

// The unique-name insert with its text formatted beforehand: the engine's
// share of that run. Its peak memory counts the strings and what the runs
// before it left with the allocator; it runs last so that no other figure
// counts the strings.
void BM_InsertPrimaryKeyAndUniqueNamePreformatted(benchmark::State& state) {
  ResetPeakRss();
  const Preformatted pre;
  double cpu = 0;
  for (auto _ : state) {
    double c0 = CpuSeconds();
    Fill("index_pk_name.mdb", true, &pre);
    cpu += CpuSeconds() - c0;
  }
  Report(state, static_cast<double>(kRows) * static_cast<double>(state.iterations()), cpu, "rows/s");
}
BENCHMARK(BM_InsertPrimaryKeyAndUniqueNamePreformatted)
    ->Unit(benchmark::kMillisecond)
    ->Iterations(1)
    ->UseRealTime();

}  // namespace
