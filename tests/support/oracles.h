// The independent readers the tests check our files against: the mdbtools
// command-line programs (mdb-ver, mdb-tables, mdb-export, mdb-prop,
// mdb-schema, mdb-count) and mdb-reader, through tools/mdbreader/dump.js.
//
// Every helper runs the program directly (RunProcess: an argument vector, no
// shell) and throws OracleError when it cannot be started, is killed, times
// out or exits non-zero; the message carries the command line and stderr.
// The readers are Linux programs: on Windows the Linux suite checks the files
// and the tests that need them are skipped.
#pragma once

#include <chrono>
#include <map>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "support/fixtures.h"
#include "support/process.h"

namespace testing_support {

// True when every mdbtools program the tests use is installed.
bool HaveMdbtools();
// True when node and tools/mdbreader's installed mdb-reader are present.
bool HaveMdbReader();

// mdb-ver: "JET3", "JET4", ...
std::string MdbVer(const std::string& path);
// mdb-tables -1: user tables, one name each (system tables with `system`).
std::vector<std::string> MdbTables(const std::string& path, bool system = false);
// mdb-count: the number of rows mdbtools sees in a table.
long long MdbCount(const std::string& path, const std::string& table);
// mdb-schema: the DDL mdbtools derives (backend "access" unless given).
std::string MdbSchema(const std::string& path, const std::string& backend = {});

// A parsed mdb-export: the header row, then every data row. `quoted` mirrors
// `rows` and tells a quoted field from a bare one, which is how mdb-export
// tells an empty text ("") from NULL (nothing) by default.
struct CsvTable {
  std::vector<std::string> header;
  std::vector<std::vector<std::string>> rows;
  std::vector<std::vector<bool>> quoted;

  // The index of a column by name, or -1.
  int Column(const std::string& name) const;
  // One cell by row and column name; throws OracleError for an unknown name.
  const std::string& At(size_t row, const std::string& column) const;
  // True when the cell is bare and empty: NULL under mdb-export's defaults.
  bool IsNull(size_t row, const std::string& column) const;
};

// Parses CSV as mdb-export writes it: comma-separated, fields optionally in
// double quotes with doubled quotes inside, newlines allowed in quoted fields,
// rows ending in "\n" or "\r\n". The first row is the header.
CsvTable ParseCsv(const std::string& text);

struct ExportOptions {
  // -T: how date/time values are written; empty leaves mdbtools' default.
  std::string datetime_format = "%Y-%m-%d %H:%M:%S";
  // -D: how date-only values are written; empty leaves the default.
  std::string date_format;
  // -b: binary and OLE columns (strip, raw, octal, hex); empty for default.
  std::string bin = "hex";
  // -B: TRUE/FALSE instead of 1/0 for Yes/No columns.
  bool boolean_words = false;
  // Further arguments passed before the file name.
  std::vector<std::string> extra;
};

// mdb-export of one table, raw and parsed.
std::string MdbExportRaw(const std::string& path, const std::string& table,
                         const ExportOptions& options = {});
CsvTable MdbExport(const std::string& path, const std::string& table,
                   const ExportOptions& options = {});

// column -> property -> value. Properties of the table itself (mdb-prop's
// "name: (none)" block) are under the empty column name "".
using PropertyMap = std::map<std::string, std::map<std::string, std::string>>;

// mdb-prop of a table, raw and parsed.
std::string MdbProp(const std::string& path, const std::string& table);
PropertyMap ParseMdbProp(const std::string& text);
PropertyMap MdbProps(const std::string& path, const std::string& table);

// tools/mdbreader/dump.js: the whole database as mdb-reader reads it (see
// that script for the layout). `system` includes the system tables, `rows`
// false leaves the rows out.
nlohmann::json MdbReaderDump(const std::string& path,
                             const std::optional<std::string>& password = std::nullopt,
                             bool system = false, bool rows = true);

// Whether a test that also does other checks should ask the reader too: on
// Linux when it is installed, and always under CI, where a missing reader
// then fails the call; never on Windows, where the Linux side checks.
bool UseMdbtools();
bool UseMdbReader();

}  // namespace testing_support

// Skip the test when an oracle is not installed; under CI (CI=true) fail.
// On Windows the readers cannot run: skipped always.
#ifdef _WIN32
#define REQUIRE_MDBTOOLS()                                                          \
  GTEST_SKIP() << "mdbtools is a Linux program: the Linux suite checks these files"
#define REQUIRE_MDB_READER()                                                        \
  GTEST_SKIP() << "mdb-reader runs on the Linux side: the Linux suite checks these files"
#else
#define REQUIRE_MDBTOOLS()                                                         \
  do {                                                                             \
    if (!::testing_support::HaveMdbtools()) {                                      \
      if (::testing_support::UnderCi()) FAIL() << "mdbtools missing under CI";     \
      GTEST_SKIP() << "mdbtools is not installed (apt-get install mdbtools)";      \
    }                                                                              \
  } while (0)

#define REQUIRE_MDB_READER()                                                       \
  do {                                                                             \
    if (!::testing_support::HaveMdbReader()) {                                     \
      if (::testing_support::UnderCi()) FAIL() << "mdb-reader missing under CI";   \
      GTEST_SKIP() << "node or mdb-reader is not installed (run tools/setup.sh)";  \
    }                                                                              \
  } while (0)
#endif
