// Compaction: a database read whole and written again as a fresh Jet 4
// file (rebuild.h) holding the same tables, columns and their properties,
// indexes, relations, saved queries, database properties and password,
// with no deleted rows and no unused pages. Rows go in primary-key order
// (stored order for a table without one); long values are written anew,
// so nothing of an old value's pages survives. A Jet 3 origin comes out as
// Jet 4, its text columns compressed as Jet 4 offers.
//
// Auto-number counters come out as the Jet engine's own compaction leaves
// them: one more than the highest number the table keeps, 1 when it is
// empty (numbers of rows deleted from the end are handed out again).
//
// What the Jet engine does not define is not carried over: the desktop
// application's own objects (forms, reports, macros, modules and their
// storage) and linked tables; the result names them.
//
// The origin is opened exclusively and read only. A damaged origin (any
// structure that does not read, including an index tree) is 3049 naming
// it, and nothing is written.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "jet/rebuild.h"

namespace jet {

struct CompactOptions {
  std::string password;                     // the origin's; a file without one ignores it
  std::optional<std::string> new_password;  // unset: the origin's ("" for none)
  enum class Encryption { kKeep, kEncrypt, kDecrypt };
  Encryption encryption = Encryption::kKeep;
};

struct CompactResult {
  uint64_t bytes_before = 0;
  uint64_t bytes_after = 0;
  size_t tables = 0;
  size_t rows = 0;
  std::vector<std::string> left_out;  // as DescribeDatabase names them
};

// Writes the compacted `origin` to `out`, which must not exist (3204), the
// origin untouched. With `out` empty the result takes the origin's place
// in one rename, so that its path holds the old file or the whole new one
// at every moment.
CompactResult CompactDatabase(const std::string& origin, const std::string& out,
                              const CompactOptions& options = {});

// What `file` holds, as the rebuild writer takes it (its rows excepted),
// and the source of its rows for WriteDatabase. `file` must stay open
// while the source is used. What the new file will not hold is named in
// `left_out`: the desktop application's objects (forms, reports, macros,
// modules, and the system tables of another program that hold rows) and
// linked tables.
rebuild::Database DescribeDatabase(FileState& file, std::vector<std::string>* left_out = nullptr);
rebuild::StoredRowSource RowsOf(FileState& file, const rebuild::Database& description);

}  // namespace jet
