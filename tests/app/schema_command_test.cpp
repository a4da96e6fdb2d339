// `maquetor tables` against mdb-tables, and `maquetor schema` replayed by
// `maquetor sql --create`: the replayed database must hold the same tables,
// columns, indexes (descending columns included) and relations.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "support/fixtures.h"
#include "support/maquetor_program.h"
#include "support/oracles.h"

namespace {

namespace fs = std::filesystem;
namespace ts = testing_support;

std::string Joined(const std::vector<std::string>& lines) {
  std::string out;
  for (const auto& l : lines) out += l + "\n";
  return out;
}

TEST(TablesCommandTest, ListsWhatMdbTablesLists) {
  REQUIRE_MDBTOOLS();
  REQUIRE_FIXTURES();
  for (const auto& fixture : ts::FixtureFiles(ts::Encrypted::kIncluded)) {
    const std::string path = fixture.string();
    for (bool system : {false, true}) {
      std::vector<std::string> args = {"tables", path};
      if (system) args.push_back("--system");
      auto r = ts::RunMaquetor(args);
      ASSERT_EQ(r.exit_code, 0) << path << r.err;
      EXPECT_EQ(r.out, Joined(ts::MdbTables(path, system))) << path;
    }
  }
}

// inspect --json without what a definition cannot carry: row counts, the
// file's format and password, and relations among system tables (the
// application's own, never part of the user's schema).
nlohmann::json Definitions(const std::string& path, const std::string& password) {
  auto r = ts::RunMaquetor({"inspect", path, "--json", "--password", password});
  EXPECT_EQ(r.exit_code, 0) << r.err;
  nlohmann::json doc = nlohmann::json::parse(r.out);
  for (const char* key : {"format", "encrypted", "password"}) doc.erase(key);
  for (auto& t : doc["tables"]) t.erase("rows");
  nlohmann::json relations = nlohmann::json::array();
  for (const auto& rel : doc["relations"]) {
    if (rel["table"].get<std::string>().rfind("MSys", 0) != 0) relations.push_back(rel);
  }
  doc["relations"] = relations;
  return doc;
}

TEST(SchemaCommandTest, ReplaysIntoTheSameDefinitions) {
  REQUIRE_FIXTURES();
  ts::TempDir dir;
  std::vector<std::string> files = {dir.File("law.mdb")};
  ASSERT_TRUE(ts::RunMaquetor({"create", files[0]}).ok());
  for (const auto& f : ts::FixtureFiles(ts::Encrypted::kIncluded)) files.push_back(f.string());
  int n = 0;
  for (const auto& path : files) {
    SCOPED_TRACE(path);
    const std::string password = path == files[0] ? "KTRW_BLM" : "";
    auto schema = ts::RunMaquetor({"schema", path, "--password", password});
    ASSERT_EQ(schema.exit_code, 0) << schema.err;
    const std::string copy = dir.File("copia" + std::to_string(n++) + ".mdb");
    auto replay = ts::RunMaquetor({"sql", copy, "--create", "--password", password}, schema.out);
    ASSERT_EQ(replay.exit_code, 0) << replay.err;
    EXPECT_EQ(Definitions(copy, password), Definitions(path, password));
    // What inspect does not show (descending index columns, stored
    // AllowZeroLength, default texts) shows in the schema itself.
    auto again = ts::RunMaquetor({"schema", copy, "--password", password});
    EXPECT_EQ(again.out, schema.out);
  }
}

}  // namespace
