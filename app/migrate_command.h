// migrate (--from-v8 | --from-v7) ORIGIN DEST: copies an office's rows from
// ORIGIN into DEST, building DEST whole first when it does not exist.
#pragma once

#include <iosfwd>

#include "migrate/report.h"

namespace maquetor {

// The per-table summary: rows copied and rows the guarded routines left
// out, what was skipped and why, and the totals.
void PrintMigrationReport(const migrate::MigrationReport& report, std::ostream& out);

// Where and why an unguarded failure stopped the run, ending with
// "Error NNNN: message".
void PrintMigrationFailure(const migrate::Failure& failure, std::ostream& out);

}  // namespace maquetor
