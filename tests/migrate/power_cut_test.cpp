// A power cut at sampled writes of a 20,000-row migration into an existing
// destination, every other one tearing the page it met, and at every sync.
// After each, as the disk holds it: the destination byte for byte as before
// the run or the whole result, read by both readers; the origin untouched;
// no copy of ours left beside the destination after its next open.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "db/engine.h"
#include "jet/dao.h"
#include "jet/error.h"
#include "migrate/migration.h"
#include "migrate/origin_filler.h"
#include "schema/buttons.h"
#include "support/fault_file_system.h"
#include "support/fixtures.h"
#include "support/oracles.h"

namespace {

namespace fs = std::filesystem;
namespace ts = testing_support;
namespace mig = maquetor::migrate;

// 36 copied tables of 556 rows: 20,016 rows. The sanitizer builds, many
// times slower, cut a tenth of it at every write, up to as many points.
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
constexpr int kRowsPerTable = 56;
#else
constexpr int kRowsPerTable = 556;
#endif
constexpr int kSampledWrites = 50;

// What both readers see of a database's user tables.
struct Reading {
  std::map<std::string, std::string> exports;  // table -> mdb-export
  nlohmann::json dump;

  static Reading Of(const std::string& path) {
    Reading r;
    for (const auto& t : ts::MdbTables(path)) r.exports[t] = ts::MdbExportRaw(path, t);
    r.dump = ts::MdbReaderDump(path, std::string("KTRW_BLM"));
    return r;
  }
  bool operator==(const Reading&) const = default;
};

TEST(PowerCutTest, SampledWritesOfALargeMigrationLeaveTheDestinationAsItWasOrWhole) {
  REQUIRE_MDBTOOLS();
  REQUIRE_MDB_READER();
  ts::TempDir dir;
  fs::create_directories(dir.path() / "origen");
  fs::create_directories(dir.path() / "destino");
  const std::string origin = (dir.path() / "origen" / "Origen.mdb").string();
  const std::string empty = (dir.path() / "origen" / "Vacia.mdb").string();
  const std::string dest = (dir.path() / "destino" / "Destino.mdb").string();
  migrate_testing::BuildOrigin(origin, kRowsPerTable);
  ASSERT_TRUE(maquetor::schema::CrearBaseCompleta(empty));
  const std::string origin_bytes = ts::FileContents(origin);
  const std::string before = ts::FileContents(empty);

  ts::FaultFileSystem faults;
  // Runs the migration from the empty destination, the power cutting where
  // `arm` says; false when the run ended before any cut.
  const auto run = [&](const std::function<void()>& arm) {
    fs::copy_file(empty, dest, fs::copy_options::overwrite_existing);
    ts::InstalledFileSystem installed(faults);
    arm();
    try {
      mig::Migrar(mig::Variante::kV8V8, origin, dest);
    } catch (const std::exception&) {
    }
    jet::TakeDeferredErrors();
    const bool cut = faults.cut();
    faults.Reboot();
    return cut;
  };
  int writes = 0, syncs = 0;
  {
    // The untouched run's counts (Reboot starts them afresh).
    ts::InstalledFileSystem installed(faults);
    fs::copy_file(empty, dest, fs::copy_options::overwrite_existing);
    mig::Migrar(mig::Variante::kV8V8, origin, dest);
    writes = faults.writes();
    syncs = faults.syncs();
    faults.Reboot();
  }
  ASSERT_GT(writes, 0);
  const Reading after = Reading::Of(dest);

  // The destination as before or whole, the origin untouched, no copy left
  // once the destination has been opened again.
  int whole = 0;
  const auto check = [&](const std::string& point) {
    SCOPED_TRACE(point);
    ASSERT_TRUE(fs::exists(dest));
    if (ts::FileContents(dest) != before) {
      ++whole;
      EXPECT_TRUE(Reading::Of(dest) == after) << "neither the destination before nor after";
    }
    EXPECT_TRUE(ts::FileContents(origin) == origin_bytes) << "the origin changed";
    jet::dao::DBEngine::Instance().OpenDatabase(dest, false, true, maquetor::db::kConnect).Close();
    for (const auto& e : fs::directory_iterator(dir.path() / "destino")) {
      EXPECT_EQ(e.path().filename().string().find(".~mq"), std::string::npos)
          << e.path().filename();
    }
  };

  // The number of writes varies by a few between runs (the origin is read on
  // a second thread): a run that ends before its point is checked as whole.
  const int stride = std::max(1, writes / kSampledWrites);
  int tried = 0, cut = 0;
  for (int n = 1; n <= writes; n += stride, ++tried) {
    cut += run([&] { faults.PowerCutAtWrite(n, n % 2 == 0); }) ? 1 : 0;
    check("write " + std::to_string(n));
  }
  for (int n = 1; n <= syncs; ++n, ++tried) {
    cut += run([&] { faults.PowerCutAtSync(n); }) ? 1 : 0;
    check("sync " + std::to_string(n));
  }
  EXPECT_GE(cut, std::min(writes, kSampledWrites));
  std::cout << tried << " runs, " << cut << " cut by the power, over " << writes << " writes and "
            << syncs << " syncs; " << whole << " left the whole result\n";
}

}  // namespace
