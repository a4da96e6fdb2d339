// The oracles themselves: a broken process runner, CSV parser or reader
// script would make every interoperability test meaningless, so they are
// checked here against known output and real fixture files.
#include "support/oracles.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <set>

#include "support/fixtures.h"

namespace testing_support {
namespace {

std::string Fixture(const std::string& relative) { return (FixturesDir() / relative).string(); }

#ifdef _WIN32

// On Windows a child of our own stands in for the shell's programs.
TEST(RunProcess, CapturesOutputAndStatus) {
  ProcessResult r = RunProcess({PROCESS_CHILD, "print", "out", "err", "3"});
  EXPECT_EQ(r.exit_code, 3);
  EXPECT_EQ(r.out, "out\n");
  EXPECT_EQ(r.err, "err\n");
  EXPECT_FALSE(r.ok());

  r = RunProcess({"maquetor-no-such-program"});
  EXPECT_FALSE(r.ok());
  EXPECT_NE(r.err.find("not found"), std::string::npos);
}

TEST(RunProcess, QuotesArgumentsSoTheChildGetsThemBack) {
  const std::vector<std::string> args = {
      "a b", "", "say \"hi\"", "C:\\Program Files\\", "tail\\\\", "\\\"", "it's; & | %PATH%", "\t"};
  std::vector<std::string> argv = {PROCESS_CHILD, "args"};
  argv.insert(argv.end(), args.begin(), args.end());
  ProcessResult r = RunProcess(argv);
  ASSERT_TRUE(r.ok()) << r.err;
  std::string expected;
  for (const auto& a : args) expected += a + "|";
  EXPECT_EQ(r.out, expected);
}

TEST(RunProcess, StreamsLargeInputAndOutputWithoutDeadlock) {
  std::string input(3 << 20, 'x');
  for (size_t i = 0; i < input.size(); i += 101) input[i] = '\n';
  ProcessResult r = RunProcess({PROCESS_CHILD, "cat"}, input);
  ASSERT_TRUE(r.ok()) << r.err;
  EXPECT_EQ(r.out, input);

  // A child that ignores its input and exits must not hang or kill us.
  r = RunProcess({PROCESS_CHILD, "print", "", "", "0"}, input);
  EXPECT_TRUE(r.ok());
}

TEST(RunProcess, KillsAProgramPastItsTimeout) {
  auto start = std::chrono::steady_clock::now();
  ProcessResult r = RunProcess({PROCESS_CHILD, "sleep", "30"}, {}, std::chrono::seconds(1));
  EXPECT_TRUE(r.timed_out);
  EXPECT_FALSE(r.ok());
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(10));
}

#else

TEST(RunProcess, CapturesOutputStatusAndSignals) {
  ProcessResult r = RunProcess({"sh", "-c", "echo out; echo err >&2; exit 3"});
  EXPECT_EQ(r.exit_code, 3);
  EXPECT_EQ(r.out, "out\n");
  EXPECT_EQ(r.err, "err\n");
  EXPECT_FALSE(r.ok());

  r = RunProcess({"sh", "-c", "kill -9 $$"});
  EXPECT_EQ(r.signal, 9);
  EXPECT_EQ(r.exit_code, -1);

  r = RunProcess({"maquetor-no-such-program"});
  EXPECT_FALSE(r.ok());
  EXPECT_NE(r.err.find("not found"), std::string::npos);
}

TEST(RunProcess, PassesArgumentsVerbatimWithoutAShell) {
  // A path with quotes, spaces and a semicolon reaches the program as one
  // argument and runs nothing.
  ProcessResult r = RunProcess({"printf", "%s|", "a b", "it's; rm -rf x", "$HOME"});
  ASSERT_TRUE(r.ok()) << r.err;
  EXPECT_EQ(r.out, "a b|it's; rm -rf x|$HOME|");
}

TEST(RunProcess, StreamsLargeInputAndOutputWithoutDeadlock) {
  std::string input(3 << 20, 'x');
  for (size_t i = 0; i < input.size(); i += 101) input[i] = '\n';
  ProcessResult r = RunProcess({"cat"}, input);
  ASSERT_TRUE(r.ok()) << r.err;
  EXPECT_EQ(r.out, input);

  // A child that ignores its input and exits must not hang or kill us.
  r = RunProcess({"true"}, input);
  EXPECT_TRUE(r.ok());
}

TEST(RunProcess, KillsAProgramPastItsTimeout) {
  auto start = std::chrono::steady_clock::now();
  ProcessResult r = RunProcess({"sleep", "30"}, {}, std::chrono::seconds(1));
  EXPECT_TRUE(r.timed_out);
  EXPECT_FALSE(r.ok());
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(10));
}

#endif

TEST(ParseCsv, HandlesQuotesEmbeddedLineBreaksAndNulls) {
  CsvTable t = ParseCsv(
      "Id,Nombre,Nota\r\n"
      "1,\"Pérez, \"\"el abogado\"\"\",\"línea 1\nlínea 2\"\r\n"
      "2,\"\",\n"
      "3,,\"\"\n");
  ASSERT_EQ(t.header, (std::vector<std::string>{"Id", "Nombre", "Nota"}));
  ASSERT_EQ(t.rows.size(), 3u);
  EXPECT_EQ(t.At(0, "Nombre"), "Pérez, \"el abogado\"");
  EXPECT_EQ(t.At(0, "Nota"), "línea 1\nlínea 2");
  EXPECT_FALSE(t.IsNull(1, "Nombre"));  // "" is an empty text
  EXPECT_TRUE(t.IsNull(1, "Nota"));     // nothing is NULL
  EXPECT_TRUE(t.IsNull(2, "Nombre"));
  EXPECT_FALSE(t.IsNull(2, "Nota"));
  EXPECT_EQ(t.Column("Nota"), 2);
  EXPECT_EQ(t.Column("Falta"), -1);
  EXPECT_THROW(t.At(0, "Falta"), OracleError);
}

TEST(ParseCsv, RejectsMalformedInput) {
  EXPECT_THROW(ParseCsv("a,b\n1,\"open\n"), OracleError);
  EXPECT_THROW(ParseCsv("a,b\n1,2,3\n"), OracleError);
  CsvTable header_only = ParseCsv("a,b\n");
  EXPECT_EQ(header_only.header.size(), 2u);
  EXPECT_TRUE(header_only.rows.empty());
  EXPECT_TRUE(ParseCsv("").header.empty());
}

TEST(ParseMdbProp, GroupsPropertiesByColumn) {
  PropertyMap p = ParseMdbProp(
      "name: (none)\n"
      "\tDefaultView: 2\n"
      "\tDescription: dos\n"
      "líneas\n"
      "\n"
      "name: Importe\n"
      "\tFormat: \n"
      "\tDecimalPlaces: 2\n"
      "\n");
  ASSERT_EQ(p.size(), 2u);
  EXPECT_EQ(p[""]["DefaultView"], "2");
  EXPECT_EQ(p[""]["Description"], "dos\nlíneas");
  EXPECT_EQ(p["Importe"]["Format"], "");
  EXPECT_EQ(p["Importe"]["DecimalPlaces"], "2");
  EXPECT_THROW(ParseMdbProp("\tOrphan: 1\n"), OracleError);
}

TEST(Mdbtools, ReadsAJet4Fixture) {
  REQUIRE_FIXTURES();
  REQUIRE_MDBTOOLS();
  const std::string db = Fixture("jet4/testV2000.mdb");
  EXPECT_EQ(MdbVer(db), "JET4");
  EXPECT_EQ(MdbVer(Fixture("jet3/testV1997.mdb")), "JET3");
  EXPECT_EQ(MdbTables(db), (std::vector<std::string>{"Table1", "Table2", "Table3", "Table4"}));
  auto system = MdbTables(db, true);
  EXPECT_NE(std::find(system.begin(), system.end(), "MSysObjects"), system.end());

  CsvTable t = MdbExport(db, "Table1");
  ASSERT_EQ(t.header, (std::vector<std::string>{"A", "B", "C", "D", "E", "F", "G", "H", "I"}));
  ASSERT_EQ(t.rows.size(), 2u);
  EXPECT_EQ(t.At(0, "A"), "abcdefg");
  EXPECT_EQ(t.At(0, "E"), "333333333");
  EXPECT_EQ(t.At(0, "G"), "1974-09-21 00:00:00");
  EXPECT_EQ(t.At(0, "H"), "3.5000");
  EXPECT_EQ(t.At(0, "I"), "1");
  EXPECT_EQ(MdbCount(db, "Table1"), 2);

  PropertyMap props = MdbProps(db, "Table1");
  EXPECT_EQ(props["A"]["Required"], "no");
  EXPECT_EQ(props["A"]["UnicodeCompression"], "yes");
  EXPECT_TRUE(props[""].count("GUID"));

  std::string schema = MdbSchema(db);
  EXPECT_NE(schema.find("CREATE TABLE [Table1]"), std::string::npos);
  EXPECT_NE(schema.find("[I]\t\t\tBoolean NOT NULL"), std::string::npos);
}

TEST(Mdbtools, ReportsFailuresWithTheCommandAndItsStderr) {
  REQUIRE_MDBTOOLS();
  try {
    MdbVer("/nonexistent/dir/missing.mdb");
    FAIL() << "mdb-ver succeeded on a missing file";
  } catch (const OracleError& e) {
    EXPECT_NE(std::string(e.what()).find("mdb-ver"), std::string::npos);
    EXPECT_NE(std::string(e.what()).find("missing.mdb"), std::string::npos);
  }
  REQUIRE_FIXTURES();
  EXPECT_THROW(MdbExport(Fixture("jet4/testV2000.mdb"), "NoSuchTable"), OracleError);
}

TEST(MdbReader, DumpsAJet4Fixture) {
  REQUIRE_FIXTURES();
  REQUIRE_MDB_READER();
  nlohmann::json d = MdbReaderDump(Fixture("jet4/testV2000.mdb"));
  ASSERT_EQ(d["tables"].size(), 4u);
  const auto& t1 = d["tables"][0];
  EXPECT_EQ(t1["name"], "Table1");
  EXPECT_EQ(t1["rowCount"], 2);
  EXPECT_EQ(t1["columns"][0]["name"], "A");
  EXPECT_EQ(t1["columns"][0]["type"], "text");
  EXPECT_EQ(t1["columns"][8]["type"], "boolean");
  const auto& row = t1["rows"][0];
  EXPECT_EQ(row["A"], "abcdefg");
  EXPECT_EQ(row["E"], 333333333);
  EXPECT_DOUBLE_EQ(row["F"].get<double>(), 444.555);
  EXPECT_EQ(row["G"], "1974-09-21T00:00:00.000Z");
  EXPECT_EQ(row["H"], "3.5000");
  EXPECT_EQ(row["I"], true);

  nlohmann::json with_system = MdbReaderDump(Fixture("jet4/testV2000.mdb"), std::nullopt, true, false);
  bool saw_objects = false;
  for (const auto& t : with_system["tables"]) {
    EXPECT_FALSE(t.contains("rows"));
    if (t["name"] == "MSysObjects") saw_objects = true;
  }
  EXPECT_TRUE(saw_objects);
  EXPECT_THROW(MdbReaderDump("/nonexistent/missing.mdb"), OracleError);
}

// Both readers agree on every unencrypted fixture: table names and row
// counts. A disagreement means one oracle (or its wrapper) is broken.
TEST(Oracles, AgreeOnEveryFixture) {
  REQUIRE_FIXTURES();
  REQUIRE_MDBTOOLS();
  REQUIRE_MDB_READER();
  int files = 0;
  for (const auto& file : FixtureFiles(Encrypted::kLeftOut)) {
    const std::string path = file.string();
    SCOPED_TRACE(path);
    ++files;
    nlohmann::json dump = MdbReaderDump(path, std::nullopt, false, false);
    std::vector<std::string> names = MdbTables(path);
    std::set<std::string> from_tools(names.begin(), names.end());
    std::set<std::string> from_reader;
    for (const auto& t : dump["tables"]) {
      from_reader.insert(t["name"].get<std::string>());
      EXPECT_EQ(t["rowCount"].get<long long>(), MdbCount(path, t["name"].get<std::string>()))
          << t["name"];
    }
    EXPECT_EQ(from_tools, from_reader);
  }
  EXPECT_GE(files, 20);
}

}  // namespace
}  // namespace testing_support
