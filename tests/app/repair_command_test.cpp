// `maquetor repair` as a program: its exit status tells a clean file, a
// repaired one and a hopeless one apart, --json says the same, and OUT is
// written only when something was recovered and never over a file.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <nlohmann/json.hpp>
#include <string>

#include "support/fixtures.h"
#include "support/maquetor_program.h"

namespace {

namespace fs = std::filesystem;
namespace ts = testing_support;

constexpr size_t kPage = 4096;

TEST(RepairCommandTest, StatusReportAndOutput) {
  REQUIRE_FIXTURES();
  struct Case {
    const char* name;
    const char* fixture;
    // Pages of the copy to zero from (0: none), and up to (0: the end).
    size_t zero_from, zero_to;
    bool out_exists;
    int status;
    const char* json_status;  // empty: no report (a Jet error)
    bool header_zeroed = false;
  };
  const Case cases[] = {
      {"clean", "test2V2000.mdb", 0, 0, false, 0, "clean"},
      {"clean, no user table", "emptyJet4.mdb", 0, 0, false, 0, "clean"},
      // The catalogue's definition: tables are found by their own pages.
      {"catalogue lost", "test2V2000.mdb", 2, 3, false, 3, "repaired"},
      {"every page but the header", "test2V2000.mdb", 1, 0, false, 4, "hopeless"},
      {"OUT already there", "test2V2000.mdb", 0, 0, true, 1, ""},
      {"header lost", "test2V2000.mdb", 0, 0, false, 3, "repaired", true},
      // The format is then told by the page headers alone.
      {"header and catalogue lost", "test2V2000.mdb", 2, 3, false, 3, "repaired", true},
      // The page key was in the header.
      {"encrypted, header lost", "encrypted.mdb", 0, 0, false, 4, "hopeless", true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    ts::TempDir dir;
    const std::string db = dir.File("in.mdb"), out = dir.File("out.mdb");
    std::string bytes = ts::FileContents(ts::FixturesDir() / "jet4" / c.fixture);
    if (c.zero_from) {
      const size_t to = c.zero_to ? c.zero_to * kPage : bytes.size();
      std::fill(bytes.begin() + static_cast<ptrdiff_t>(c.zero_from * kPage),
                bytes.begin() + static_cast<ptrdiff_t>(to), '\0');
    }
    if (c.header_zeroed) std::fill_n(bytes.begin(), kPage, '\0');
    std::ofstream(db, std::ios::binary) << bytes;
    if (c.out_exists) std::ofstream(out) << "kept";

    auto r = ts::RunMaquetor({"repair", db, out, "--password", "", "--json"});
    EXPECT_EQ(r.exit_code, c.status) << r.err;
    EXPECT_EQ(ts::FileContents(db), bytes) << "DB changed";
    if (std::string(c.json_status).empty()) {
      EXPECT_NE(r.err.find("Error 3204"), std::string::npos) << r.err;
      EXPECT_EQ(ts::FileContents(out), "kept");
      continue;
    }
    const auto report = nlohmann::json::parse(r.out);
    EXPECT_EQ(report["status"], c.json_status);
    EXPECT_EQ(fs::exists(out), c.status != 4);
    EXPECT_EQ(report["written"], c.status != 4);
    EXPECT_EQ(report["header_damaged"], c.header_zeroed);
    if (c.status == 3 && !c.header_zeroed) {
      EXPECT_EQ(report["catalogue_damage"][0]["kind"], "table definition");
      EXPECT_EQ(report["catalogue_damage"][0]["page"], 2);
      EXPECT_FALSE(report["tables"].empty());
    }
  }
}

}  // namespace
