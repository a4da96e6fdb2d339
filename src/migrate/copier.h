// The one copier behind every copy routine: it opens a table in the origin
// and in the destination as table recordsets, and for each origin row, in
// stored order, adds a destination row whose fields it assigns one by one
// from the origin fields of the same name.
//
// Field names are matched to field positions once per table, not per row,
// and values pass from one recordset to the other without a detour through
// text, so a Jet 3 origin's values reach a Jet 4 destination converted only
// where the two fields' types differ. From a Jet 4 origin, unindexed text,
// memo and binary fields move as the origin stores them (CopyField).
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "jet/dao.h"
#include "migrate/report.h"

namespace maquetor::migrate {

enum class Loop {
  // The first failure inside the row loop stops the run.
  kUnguarded,
  // A failing assignment leaves that field at its default; a row the
  // destination refuses is left out; the loop goes on.
  kGuarded,
};

struct FieldCopy {
  std::string name;
  // Applied to the origin's value before it is assigned; nullptr copies it
  // unchanged.
  jet::Value (*convert)(const jet::Value&) = nullptr;
};

struct TableCopy {
  std::string routine;  // for the report: "PasarTAbogados"
  std::string table;    // the same name on both sides
  std::vector<FieldCopy> fields;
  Loop loop = Loop::kUnguarded;
};

// Called when a step starts (`finished` false) and when it ends.
using Progress = std::function<void(const TableResult& step, bool finished)>;

// How origin rows are read. kAhead reads and converts them on a second
// thread a few hundred rows ahead of the rows being stored, when the two
// databases are different files; kInStep reads each row as it is stored.
// The outcome is the same: rows, counts, the failing row and its error.
enum class Reading { kAhead, kInStep };

// Runs one copy and appends its step to `report`. A table that cannot be
// opened on either side, or an empty origin table, is skipped (recorded as
// such). In an unguarded copy the first failure throws MigrationStopped
// carrying `report` with the failing row; the rows saved before it stay.
// Both databases must be open; the origin may be read-only.
void CopyTable(jet::dao::Database& origen, jet::dao::Database& destino, const TableCopy& copy,
               MigrationReport& report, const Progress& progress = {},
               Reading reading = Reading::kAhead);

}  // namespace maquetor::migrate
