// sql: runs SQL statements against a database, one given on the command line
// or one per line of standard input, and prints SELECT results as CSV or
// JSON.
#pragma once

#include <iosfwd>
#include <string>

#include "jet/dao.h"
#include "jet/value.h"

namespace maquetor {

// One value as a CSV field: null is empty, text is quoted (quotes doubled)
// when it holds a comma, quote, CR or LF, and an empty text is "" so that it
// differs from null; everything else is Value::ToString (C-locale numbers,
// "YYYY-MM-DD HH:MM:SS" dates, True/False, upper-case hex for binary).
std::string CsvField(const jet::Value& v);

// Runs one statement. A SELECT writes its header and rows to `out` as CSV,
// or with `json` an array of one object per row (values as ValueToJson
// gives them); any other statement runs with dbFailOnError and, when
// `verbose`, reports "N filas afectadas" on `log`. Jet errors propagate.
void RunStatement(jet::dao::Database& db, const std::string& statement, std::ostream& out,
                  std::ostream& log, bool verbose, bool json = false);

}  // namespace maquetor
