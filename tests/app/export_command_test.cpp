// `maquetor export` run as a program: byte for byte what mdb-export writes,
// on every fixture and on the databases the program makes, except where
// mdb-export is wrong (each such cell is checked against a value worked out
// here from mdb-reader's or from the stored number); the values it gets
// wrong; its options; --all and the JSON forms.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <map>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "../migrate/origin_filler.h"
#include "jet/dao.h"
#include "jet/value_codec.h"
#include "support/fixtures.h"
#include "support/maquetor_program.h"
#include "support/oracles.h"

namespace {

namespace dao = jet::dao;
namespace fs = std::filesystem;
namespace ts = testing_support;

std::string ExportText(const std::vector<std::string>& args) {
  std::vector<std::string> argv = {"export"};
  argv.insert(argv.end(), args.begin(), args.end());
  auto r = ts::RunMaquetor(argv);
  EXPECT_EQ(r.exit_code, 0) << r.err;
  return r.out;
}

// mdb-export with its own defaults (the helper's defaults are the tests'
// usual -T and -b hex).
std::string MdbExportDefault(const std::string& path, const std::string& table,
                             std::vector<std::string> extra = {}) {
  ts::ExportOptions o;
  o.datetime_format.clear();
  o.bin.clear();
  o.extra = std::move(extra);
  return ts::MdbExportRaw(path, table, o);
}

// What the program makes: the law-office database, setup mode's two files,
// and a small migrated office.
std::vector<std::string> OwnDatabases(const ts::TempDir& dir) {
  const std::string law = dir.File("law.mdb");
  const std::string origin = dir.File("origen.mdb");
  const std::string migrated = dir.File("migrada.mdb");
  EXPECT_TRUE(ts::RunMaquetor({"create", law}).ok());
  fs::create_directories(dir.path() / "prog");
  EXPECT_TRUE(ts::RunMaquetor({"setup", "--dir", dir.File("prog")}).ok());
  migrate_testing::BuildOrigin(origin, 12);
  auto m = ts::RunMaquetor({"migrate", "--from-v8", origin, migrated});
  EXPECT_TRUE(m.ok()) << m.err;
  return {law, dir.File("prog/Bases/Setup.MDB"), dir.File("prog/Bases/DBRPT.MDB"), migrated};
}

bool IsUndefinedCp1252(char32_t c) { return c == 0x81 || c == 0x8D || c == 0x8F || c == 0x90 || c == 0x9D; }

// mdbtools' iconv writes '?' for the five bytes code page 1252 leaves
// undefined; Windows (and we) keep them as U+0081... .
std::string UndefinedAsQuestionMarks(const std::string& s) {
  std::string out;
  for (size_t i = 0; i < s.size(); ++i) {
    const unsigned char c = static_cast<unsigned char>(s[i]);
    if (c == 0xC2 && i + 1 < s.size() && IsUndefinedCp1252(static_cast<unsigned char>(s[i + 1]))) {
      out.push_back('?');
      ++i;
    } else {
      out.push_back(s[i]);
    }
  }
  return out;
}

// mdbtools leaves out the GUID's fourth dash.
std::string WithoutFourthDash(const std::string& guid) {
  return guid.size() == 38 && guid[24] == '-' ? guid.substr(0, 24) + guid.substr(25) : guid;
}

// A stored date as the engine prints it by default, from mdb-reader's
// reading of the same number as plain days since 1899-12-30 (ISO, UTC): the
// whole part is the day and the fraction the time, also before day 0.
std::string DateFromReader(const std::string& iso) {
  int y, mo, d, h, mi, s, ms = 0;
  if (std::sscanf(iso.c_str(), "%d-%d-%dT%d:%d:%d.%dZ", &y, &mo, &d, &h, &mi, &s, &ms) < 6) return "?";
  auto days_from_civil = [](int64_t yy, int64_t m, int64_t dd) {
    yy -= m <= 2;
    const int64_t era = (yy >= 0 ? yy : yy - 399) / 400;
    const int64_t yoe = yy - era * 400;
    const int64_t doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + dd - 1;
    return era * 146097 + yoe * 365 + yoe / 4 - yoe / 100 + doy;
  };
  const double stored = static_cast<double>(days_from_civil(y, mo, d) - days_from_civil(1899, 12, 30)) +
                        ((h * 3600 + mi * 60 + s) * 1000.0 + ms) / 86400000.0;
  const double whole = std::trunc(stored);
  int64_t day = static_cast<int64_t>(whole);
  int64_t secs = std::llround(std::fabs(stored - whole) * 86400.0);
  if (secs >= 86400) ++day, secs -= 86400;
  const int64_t serial = day + days_from_civil(1899, 12, 30);
  int yy = 100, mm = 1;
  while (days_from_civil(yy + 1, 1, 1) <= serial) ++yy;
  while (mm < 12 && days_from_civil(yy, mm + 1, 1) <= serial) ++mm;
  const int dd = static_cast<int>(serial - days_from_civil(yy, mm, 1)) + 1;
  char buf[40];
  std::snprintf(buf, sizeof buf, "%02d/%02d/%02d %02d:%02d:%02d", mm, dd, yy % 100,
                static_cast<int>(secs / 3600), static_cast<int>(secs / 60 % 60), static_cast<int>(secs % 60));
  return buf;
}

TEST(ExportCommandTest, WritesWhatMdbExportWritesOnEveryDatabase) {
  REQUIRE_MDBTOOLS();
  REQUIRE_MDB_READER();
  REQUIRE_FIXTURES();
  ts::TempDir dir;
  std::vector<std::string> files;
  for (const auto& f : ts::FixtureFiles(ts::Encrypted::kIncluded)) files.push_back(f.string());
  for (const auto& own : OwnDatabases(dir)) files.push_back(own);
  int tables = 0, explained = 0;
  for (const auto& path : files) {
    SCOPED_TRACE(path);
    nlohmann::json reader;
    for (const auto& table : ts::MdbTables(path)) {
      SCOPED_TRACE(table);
      ++tables;
      const std::string theirs = MdbExportDefault(path, table);
      const std::string ours = ExportText({path, table});
      if (ours == theirs) continue;
      // Where they differ, cell by cell, only in the ways mdb-export is wrong.
      const ts::CsvTable a = ts::ParseCsv(theirs), b = ts::ParseCsv(ours);
      ASSERT_EQ(a.header, b.header);
      ASSERT_EQ(a.rows.size(), b.rows.size());
      if (reader.is_null()) reader = ts::MdbReaderDump(path);
      const nlohmann::json* rows = nullptr;
      for (const auto& t : reader["tables"]) {
        if (t["name"] == table) rows = &t["rows"];
      }
      ASSERT_NE(rows, nullptr);
      for (size_t r = 0; r < a.rows.size(); ++r) {
        for (size_t c = 0; c < a.header.size(); ++c) {
          const std::string& want = a.rows[r][c];
          const std::string& got = b.rows[r][c];
          if (want == got && a.quoted[r][c] == b.quoted[r][c]) continue;
          ++explained;
          const nlohmann::json& value = (*rows)[r][a.header[c]];
          if (want.empty() && !a.quoted[r][c] && got.empty() && b.quoted[r][c]) {
            EXPECT_EQ(value, "") << "an empty text, which mdb-export prints as NULL";
          } else if (want == "01/00/00 00:00:00") {
            EXPECT_EQ(got, DateFromReader(value.get<std::string>())) << "a date mdbtools cannot convert";
          } else if (want == WithoutFourthDash(got)) {
            EXPECT_EQ(got.size(), 38u) << "a GUID";
          } else {
            EXPECT_EQ(want, UndefinedAsQuestionMarks(got)) << "row " << r << ", column " << a.header[c];
          }
        }
      }
    }
  }
  EXPECT_GT(tables, 100);
  // The fixtures hold GUIDs, undefined code-page bytes and old dates; the
  // own databases empty texts.
  EXPECT_GT(explained, 0);
}

dao::Database CreateDb(const std::string& path) {
  return dao::DBEngine::Instance().Workspaces(0).CreateDatabase(path, ";LANGID=0x0409;CP=1252;COUNTRY=0");
}

// Values whose mdb-export text is wrong, each with the text written instead.
TEST(ExportCommandTest, WritesRightWhatMdbExportGetsWrong) {
  ts::TempDir dir;
  const std::string path = dir.File("valores.mdb");
  auto db = CreateDb(path);
  auto t = db.CreateTableDef("V");
  t.AppendField(t.CreateField("Doble", dao::dbDouble));
  t.AppendField(t.CreateField("Fecha", dao::dbDate));
  t.AppendField(t.CreateField("Bin", dao::dbBinary, 8));
  t.AppendField(t.CreateField("Nota, con coma", dao::dbMemo));
  t.AppendField(t.CreateField("Texto", dao::dbText, 20));
  auto allow = t.Fields().back();
  allow.SetAllowZeroLength(true);
  db.AppendTableDef(t);
  auto rs = db.OpenRecordset("V");
  const std::string big(200010, 'x');
  struct Row {
    jet::Value doble, fecha, bin, nota, texto;
  };
  const std::vector<Row> rows = {
      {0.1 + 0.2, jet::PartsToDate({1850, 6, 1, 10, 0, 0}), jet::Binary{0, 'a', 0}, "l\xC3\xADnea 1\r\nl\xC3\xADnea 2", ""},
      {1e15, jet::Date{-1.25}, jet::Binary{'a', 0, 'b'}, big, jet::Value::Null()},
      {-0.0, jet::Date{1.9999999999}, jet::Value::Null(), jet::Value::Null(), "\"x\""},
  };
  for (const auto& r : rows) {
    rs.AddNew();
    rs.SetValue(0, r.doble);
    rs.SetValue(1, r.fecha);
    rs.SetValue(2, r.bin);
    rs.SetValue(3, r.nota);
    rs.SetValue(4, r.texto);
    rs.Update();
  }
  rs.Close();
  db.Close();
  const std::string out = ExportText({path, "V", "--password", ""});
  EXPECT_EQ(out,
            "Doble,Fecha,Bin,\"Nota, con coma\",Texto\n"
            "0.30000000000000004,\"06/01/50 10:00:00\",\"" + std::string("\0a\0", 3) +
                "\",\"l\xC3\xADnea 1\r\nl\xC3\xADnea 2\",\"\"\n"
                "1000000000000000,\"12/29/99 06:00:00\",\"" + std::string("a\0b", 3) + "\",\"" + big +
                "\",\n"
                "-0,\"01/01/00 00:00:00\",,,\"\"\"x\"\"\"\n");
  // mdb-export reads -X '\\' as no escape at all and leaves the quotes bare.
  const std::string escaped = ExportText({path, "V", "--password", "", "-X", "\\", "-H"});
  EXPECT_NE(escaped.find(",\"\\\"x\\\"\"\n"), std::string::npos) << escaped.substr(escaped.size() - 60);
}

// Each option against mdb-export with the same option, on files holding
// every type (OLE, binary, memo, dates, Yes/No, NULL).
TEST(ExportCommandTest, OptionsMeanWhatMdbExportsMean) {
  REQUIRE_MDBTOOLS();
  REQUIRE_FIXTURES();
  const std::vector<std::vector<std::string>> options = {
      {"-H"}, {"-d", ";"}, {"-d", "\\t"}, {"-R", "\\r\\n"}, {"-Q"}, {"-q", "'"}, {"-X", "ab"},
      {"-e"}, {"-b", "hex"}, {"-b", "octal"}, {"-b", "strip"}, {"-b", "raw"}, {"-B"},
      {"-0", "NULL"}, {"-T", "%Y-%m-%d %H:%M:%S"}, {"-D", "%d/%m/%Y"}, {"-Q", "-b", "hex", "-H"}};
  for (const char* file : {"jet4/test2V2000.mdb", "jet4/testV2000.mdb", "jet3/test2V1997.mdb"}) {
    const std::string path = (ts::FixturesDir() / file).string();
    for (const auto& table : ts::MdbTables(path)) {
      for (const auto& o : options) {
        SCOPED_TRACE(std::string(file) + " " + table + " " + o[0] + (o.size() > 1 ? " " + o[1] : ""));
        std::vector<std::string> args = o;
        args.push_back(path);
        args.push_back(table);
        // Binary columns make the text unprintable: the first difference.
        const std::string ours = ExportText(args), theirs = MdbExportDefault(path, table, o);
        size_t at = 0;
        while (at < ours.size() && at < theirs.size() && ours[at] == theirs[at]) ++at;
        EXPECT_EQ(at, theirs.size()) << "differs at byte " << at << " of " << theirs.size();
        EXPECT_EQ(ours.size(), theirs.size());
      }
    }
  }
}

TEST(ExportCommandTest, AllWritesEachTableInsideTheFolder) {
  ts::TempDir dir;
  const std::string path = dir.File("nombres.mdb");
  auto db = CreateDb(path);
  // Names that are no safe file names, and two that come out alike.
  const std::vector<std::string> names = {"a/b", "a_b", "CON", "x:y*z", "\\\\srv", "Pe\xC3\xB1" "a"};
  for (const auto& name : names) {
    auto t = db.CreateTableDef(name);
    t.AppendField(t.CreateField("Id", dao::dbLong));
    t.AppendField(t.CreateField("Nombre", dao::dbText, 20));
    db.AppendTableDef(t);
    auto rs = db.OpenRecordset(name);
    rs.AddNew();
    rs.SetValue(0, jet::Value(int32_t{7}));
    rs.SetValue(1, jet::Value(name));
    rs.Update();
    rs.Close();
  }
  db.Close();
  const std::map<std::string, std::string> expected_files = {
      {"a/b", "a_b.csv"},     {"a_b", "a_b~2.csv"},  {"CON", "_CON.csv"},
      {"x:y*z", "x_y_z.csv"}, {"\\\\srv", "__srv.csv"}, {"Pe\xC3\xB1" "a", "Pe\xC3\xB1" "a.csv"}};
  const std::string out = dir.File("salida");
  auto r = ts::RunMaquetor({"export", path, "--password", "", "--all", out});
  ASSERT_EQ(r.exit_code, 0) << r.err;
  size_t made = 0;
  for (const auto& e : fs::recursive_directory_iterator(dir.path())) {
    if (e.path().extension() != ".csv") continue;
    ++made;
    EXPECT_EQ(e.path().parent_path().filename(), "salida") << "outside the folder: " << e.path();
  }
  EXPECT_EQ(made, names.size());
  for (const auto& [table, file] : expected_files) {
    const fs::path p = fs::path(std::u8string(out.begin(), out.end())) / fs::path(std::u8string(file.begin(), file.end()));
    EXPECT_EQ(ts::FileContents(p), ExportText({path, table, "--password", ""})) << file;
  }

  // JSON lines: one object per row with inspect's value forms.
  auto j = ts::RunMaquetor({"export", path, "--password", "", "--all", out, "--format", "jsonl"});
  ASSERT_EQ(j.exit_code, 0) << j.err;
  EXPECT_EQ(ts::FileContents(fs::path(out) / "_CON.jsonl"), "{\"Id\":7,\"Nombre\":\"CON\"}\n");
}

// On every fixture, whose rows the CSV above holds to mdb-export's, inspect
// --rows reads what the JSON forms write. A row that overflowed to another
// page may come in another order.
TEST(ExportCommandTest, JsonHasInspectsValues) {
  REQUIRE_FIXTURES();
  auto sorted = [](nlohmann::json rows) {
    std::sort(rows.begin(), rows.end(), [](const auto& a, const auto& b) { return a.dump() < b.dump(); });
    return rows;
  };
  int tables = 0;
  for (const auto& file : ts::FixtureFiles(ts::Encrypted::kIncluded)) {
    const std::string path = file.string();
    auto inspect = ts::RunMaquetor({"inspect", path, "--json", "--rows"});
    ASSERT_EQ(inspect.exit_code, 0) << path << inspect.err;
    const auto doc = nlohmann::json::parse(inspect.out);
    for (const auto& t : doc["tables"]) {
      ++tables;
      SCOPED_TRACE(path + " " + t["name"].get<std::string>());
      const std::string name = t["name"];
      const auto want = sorted(t["data"]);
      EXPECT_EQ(sorted(nlohmann::json::parse(ExportText({path, name, "--format", "json"}))), want);
      nlohmann::json lines = nlohmann::json::array();
      const std::string text = ExportText({path, name, "--format", "jsonl"});
      for (size_t start = 0, nl; (nl = text.find('\n', start)) != std::string::npos; start = nl + 1) {
        lines.push_back(nlohmann::json::parse(text.substr(start, nl - start)));
      }
      EXPECT_EQ(sorted(lines), want);
    }
  }
  EXPECT_GT(tables, 40);
}

TEST(ExportCommandTest, RefusesWhatItCannotDo) {
  ts::TempDir dir;
  const std::string path = dir.File("vacia.mdb");
  CreateDb(path).Close();
  const struct {
    std::vector<std::string> args;
    int status;
    std::string err;
  } cases[] = {
      {{"export", path, "--password", "", "NoEsta"}, 1, "Error 3078"},
      {{"export", path, "--password", ""}, 2, "TABLE or --all"},
      {{"export", path, "--password", "", "-b", "base64", "T"}, 2, "base64"},
      {{"export", dir.File("falta.mdb"), "T"}, 1, "Error 3024"},
  };
  for (const auto& c : cases) {
    auto r = ts::RunMaquetor(c.args);
    EXPECT_EQ(r.exit_code, c.status) << c.args[1] << r.err;
    EXPECT_NE(r.err.find(c.err), std::string::npos) << r.err;
    EXPECT_EQ(r.out, "");
  }
}

// A page of the table's that holds no known page kind is damage: the export
// stops with 3049 rather than leave out the rows that page held.
TEST(ExportCommandTest, ADamagedRowPageIs3049NotFewerRows) {
  ts::TempDir dir;
  const std::string path = dir.File("danada.mdb");
  auto db = CreateDb(path);
  db.Execute("CREATE TABLE T (N LONG, S TEXT(200))");
  for (int i = 0; i < 300; ++i) {
    db.Execute("INSERT INTO T VALUES (" + std::to_string(i) + ", '" + std::string(150, 'a') + "')");
  }
  db.Close();
  const std::string whole = ExportText({path, "--password", "", "T"});
  EXPECT_EQ(std::count(whole.begin(), whole.end(), '\n'), 301);

  // The file's last data page is one of T's, written last.
  std::string all = ts::FileContents(path);
  size_t last = 0;
  for (size_t at = 4096; at < all.size(); at += 4096) {
    if (all[at] == 1) last = at;
  }
  ASSERT_NE(last, 0u);
  all[last] = '\xa5';
  std::ofstream(path, std::ios::binary | std::ios::trunc) << all;
  auto r = ts::RunMaquetor({"export", path, "--password", "", "T"});
  EXPECT_EQ(r.exit_code, 1);
  EXPECT_NE(r.err.find("Error 3049"), std::string::npos) << r.err;
}

}  // namespace
