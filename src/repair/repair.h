// Repair: a new database holding everything that can be read from a
// damaged one. The damaged file is opened read-only and never changed; the
// new one is written by jet::rebuild::WriteDatabase under a temporary name
// and appears at its path whole (3204 when something is already there), or
// not at all when the repair fails or finds nothing to recover.
//
// What the new file holds: every user table whose definition reads (or,
// where it does not, whose layout `layouts` knows), with its columns, its
// properties (LvProp) as the catalogue kept them, its indexes rebuilt from
// the recovered rows, the rows the salvager found (salvage.h); the
// relations; the saved queries; the database's properties and the
// Databases container's documents; the password and encryption. Each
// catalogue object comes only where its row, long values included, still
// reads; one that does not is left out and named in the report. A
// recovered row the table's rules refuse (a duplicate key, a required
// field left null by a lost memo) goes to a table of its own beside it,
// "<table>_SetAside", with the same columns and no rules. A relation the
// recovered rows break is kept without enforcement: the rows stay in the
// tables the application reads, the relation stays visible, and the report
// names it so that the office can mend the rows and enforce it again.
//
// A table whose catalogue row is lost is found by its definition page
// (salvage.h names it "Table<page>"); when its columns (names and types)
// are exactly those of one law-office layout no other table has, it takes
// that layout's name.
//
// A header page that does not read (zeroed, a wrong signature or version)
// is replaced by a default one: the format told by the pages after it
// (GuessVersion), General sort order, no password, no encryption. An
// encrypted file cannot be read without its header, which held the key.
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
// The names of every table a LayoutSource knows, for naming tables whose
// catalogue row is lost.
using LayoutNames = std::function<std::vector<std::string>()>;

struct TableOutcome {
  std::string name;
  size_t recovered = 0;          // rows written to the table
  size_t lost = 0;               // rows known to be lost
  size_t set_aside = 0;          // recovered rows written to `set_aside_table` instead
  std::string set_aside_table;
  bool layout_used = false;      // the definition was lost; a known layout read the rows
  bool definition_lost = false;  // lost and no layout: no row could be read
  bool not_written = false;      // the new file refused the table (its rows are lost)
  bool catalogue_row_lost = false;  // found by its definition page alone
  bool named_by_layout = false;     // ... and named after the layout its columns match
  uint32_t definition_page = 0;
  std::vector<jet::Damage> damage;
};

struct RelationOutcome {
  std::string name;
  std::string table, foreign_table;
  bool enforced = true;
  bool lost = false;  // could not be made at all (a table is missing)
};

// A catalogue object other than a table that the new file does not carry.
struct SkippedObject {
  std::string name;
  std::string kind;    // "query", "document", "database properties"
  std::string reason;  // why, in a few words
};

struct Report {
  bool header_damaged = false;  // page 0 did not read (password, encryption unknown)
  std::vector<jet::Damage> catalogue_damage;
  // Damage met reading MSysQueries: a query whose rows may have been on a
  // damaged page is in `skipped` when it lacks its first or last row.
  std::vector<jet::Damage> queries_damage;
  std::vector<SkippedObject> skipped;
  size_t queries = 0;  // saved queries written
  // Damage met reading MSysRelationships: relations may be missing
  // without a line of their own.
  std::vector<jet::Damage> relations_damage;
  // The catalogue is damaged and MSysRelationships itself was not found
  // (its catalogue row and its definition lost): relations may be missing.
  bool relations_unread = false;
  std::vector<TableOutcome> tables;
  std::vector<RelationOutcome> relations;
  // Nothing reads as a Jet file: the header does not (3343, 3049) and,
  // when header_damaged, neither do the pages after it.
  bool unreadable = false;
  bool written = false;     // OUT was written

  // Nothing damaged, nothing lost, nothing set aside, every relation kept.
  bool clean() const;
  // Not one table could be read.
  bool hopeless() const;
};

// Repairs `db` (read-only; `password` as the file needs it) into `out`.
// A file that does not read at all is reported as `unreadable`; other errors of
// the origin's open (3024, 3031, ...) and those of writing `out` (3204,
// 3026, ...) are thrown, leaving nothing at `out`.
Report Repair(const std::string& db, const std::string& password, const std::string& out,
              const LayoutSource& layouts = {}, const LayoutNames& layout_names = {});

}  // namespace maquetor::repair
