// The SQL the program and the `sql` command run: INSERT, UPDATE, DELETE,
// SELECT and the DDL statements (CREATE TABLE, CREATE INDEX, ALTER TABLE ...
// ADD CONSTRAINT ... FOREIGN KEY, DROP TABLE, DROP INDEX), executed on a
// FileState with the engine's rules.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "jet/value.h"

namespace jet {
class FileState;
}

namespace jet::sql {

// Option bit: a failing row undoes the statement and raises its error.
inline constexpr int kFailOnError = 128;

// Runs one statement that is not a SELECT and returns the rows it affected.
int64_t Execute(FileState& db, const std::string& statement, int options);

// A SELECT's result, materialised.
struct ResultSet {
  std::vector<std::string> columns;
  std::vector<std::vector<Value>> rows;
};
ResultSet Query(FileState& db, const std::string& statement);

// True when the text is a SELECT statement (leading blanks and case ignored).
bool IsSelect(const std::string& statement);

}  // namespace jet::sql
