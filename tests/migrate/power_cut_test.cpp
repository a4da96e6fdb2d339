// A power cut at sampled writes of a 20,000-row migration into an existing
// destination, every other one tearing the page it met, and at every sync.
// After each, as the disk holds it: the destination byte for byte as before
// the run or the whole result, read by both readers; the origin untouched;
// no copy of ours left beside the destination after its next open.
#include <gtest/gtest.h>

#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include "db/engine.h"
#include "jet/dao.h"
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
// times slower, cut a tenth of it at as many points.
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

  // The untouched run tells how many writes there are; the stride samples
  // them.
  ts::FaultFileSystem faults;
  int writes = 0;
  {
    fs::copy_file(empty, dest, fs::copy_options::overwrite_existing);
    ts::InstalledFileSystem installed(faults);
    faults.Reboot();
    mig::Migrar(mig::Variante::kV8V8, origin, dest);
    writes = faults.writes();
    faults.Reboot();
  }
  ASSERT_GT(writes, kSampledWrites);
  const Reading after = Reading::Of(dest);

  int whole = 0;
  const int tried = ts::PowerCutAtEveryPoint(
      faults,
      [&] {
        fs::remove(dest);
        fs::copy_file(empty, dest);
      },
      [&] { mig::Migrar(mig::Variante::kV8V8, origin, dest); },
      [&](const std::string& point) {
        SCOPED_TRACE(point);
        ASSERT_TRUE(fs::exists(dest));
        if (ts::FileContents(dest) != before) {
          if (point != "none") ++whole;
          EXPECT_TRUE(Reading::Of(dest) == after) << "neither the destination before nor after";
        }
        EXPECT_TRUE(ts::FileContents(origin) == origin_bytes) << "the origin changed";
        jet::dao::DBEngine::Instance()
            .OpenDatabase(dest, false, true, maquetor::db::kConnect)
            .Close();
        for (const auto& e : fs::directory_iterator(dir.path() / "destino")) {
          EXPECT_EQ(e.path().filename().string().find(".~mq"), std::string::npos)
              << e.path().filename();
        }
      },
      writes / kSampledWrites);
  EXPECT_GE(tried, kSampledWrites);
  std::cout << tried << " power cuts over " << writes << " writes; " << whole
            << " left the whole result\n";
}

}  // namespace
