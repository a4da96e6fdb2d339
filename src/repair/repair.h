// Repair: a new database holding everything that can be read from a
// damaged one. The damaged file is opened read-only and never changed; the
// new one is built under a temporary name and appears at its path whole
// (Pager::Create's rule: 3204 when something is already there), or not at
// all when the repair fails or finds nothing to recover.
//
// What the new file holds: every user table whose definition reads (or,
// where it does not, whose layout `layouts` knows), with the columns'
// Required, AllowZeroLength and DefaultValue, its indexes rebuilt from the
// recovered rows, the rows the salvager found (salvage.h), the relations
// and the database password and encryption. A recovered row the table's
// rules refuse (a duplicate key, a required field left null by a lost memo)
// goes to a table of its own beside it, "<table>_SetAside", with the same
// columns and no rules. A relation the recovered rows break is kept without
// enforcement: the rows stay in the tables the application reads, the
// relation stays visible, and the report names it so that the office can
// mend the rows and enforce it again.
#pragma once

#include <cstddef>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "jet/salvage.h"
#include "jet/tabledef.h"

namespace maquetor::repair {

// A table's row layout by name, for tables whose own definition is lost.
using LayoutSource = std::function<std::optional<jet::TableDef>(const std::string& table)>;

struct TableOutcome {
  std::string name;
  size_t recovered = 0;          // rows written to the table
  size_t lost = 0;               // rows known to be lost
  size_t set_aside = 0;          // recovered rows written to `set_aside_table` instead
  std::string set_aside_table;
  bool layout_used = false;      // the definition was lost; a known layout read the rows
  bool definition_lost = false;  // lost and no layout: no row could be read
  bool not_written = false;      // the new file refused the table (its rows are lost)
  std::vector<jet::Damage> damage;
};

struct RelationOutcome {
  std::string name;
  std::string table, foreign_table;
  bool enforced = true;
  bool lost = false;  // could not be made at all (a table is missing)
};

struct Report {
  std::vector<jet::Damage> catalogue_damage;
  // Damage met reading MSysRelationships: relations may be missing
  // without a line of their own.
  std::vector<jet::Damage> relations_damage;
  std::vector<TableOutcome> tables;
  std::vector<RelationOutcome> relations;
  bool unreadable = false;  // the header does not read as a Jet file (3343, 3049)
  bool written = false;     // OUT was written

  // Nothing damaged, nothing lost, nothing set aside, every relation kept.
  bool clean() const;
  // Not one table could be read.
  bool hopeless() const;
};

// Repairs `db` (read-only; `password` as the file needs it) into `out`.
// A header that does not read is reported as `unreadable`; other errors of
// the origin's open (3024, 3031, ...) and those of writing `out` (3204,
// 3026, ...) are thrown, leaving nothing at `out`.
Report Repair(const std::string& db, const std::string& password, const std::string& out,
              const LayoutSource& layouts = {});

}  // namespace maquetor::repair
