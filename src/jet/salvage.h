// Reading what a damaged file still holds, for repair. Where the engine's
// own reads refuse a table at its first fault (3049), the salvager goes on:
// a page that is not sound, or a row that cannot be decoded, is skipped and
// recorded, and everything else is handed over.
//
// Tables come from MSysObjects; when the catalogue itself has lost rows or
// its definition, table-definition pages that no catalogue row names are
// added, named after their page (MSysRelationships and MSysQueries, known
// by their columns, by their names). A table's rows are found through its usage
// map of owned pages; data pages that name the table (type 0x01, owner TDEF
// page at offset 4) but that the map does not list are read too, unless the
// global map says they are free; when the map cannot be read, those pages
// are all there is to go by. A page the map lists that is no page of any
// kind any more (zeroed, overwritten) is recorded as a lost data page. A
// data page is sound when its row offset table fits and its free-space
// word agrees with it, as every writer keeps it.
//
// A long value (memo, OLE) that cannot be read leaves its field null and is
// recorded; the row is kept, since its other fields (keys, names) are worth
// more than the one value.
//
// The caller opens the pager read-only and keeps it from other use while a
// Salvager reads it. Nothing here throws for damage in the file; every read
// is bounded by the file, so no input makes it crash, hang or read outside
// a page.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "jet/bytes.h"
#include "jet/database.h"
#include "jet/pager.h"
#include "jet/row.h"
#include "jet/table.h"
#include "jet/tabledef.h"
#include "jet/value.h"

namespace jet {

enum class DamageKind {
  kTableDefinition,  // a TDEF page chain that does not parse
  kUsageMap,         // a map that does not read, or that misses pages naming the table
  kDataPage,         // a data page that is not sound: all its rows are lost
  kRow,              // one row that does not decode
  kLongValue,        // a memo or OLE value that does not read: the field is left null
  kIndexPage,        // a page of an index tree that is not sound (the index is rebuilt)
  kMissingPage,      // a page named by the file that lies past its end (cut short)
};
const char* DamageKindName(DamageKind kind);

struct Damage {
  DamageKind kind = DamageKind::kDataPage;
  uint32_t page = 0;
  int row = -1;        // kRow, kLongValue: the row on `page`
  std::string column;  // kLongValue: the column
  uint32_t count = 1;  // kMissingPage: pages past the end a map names, `page` the lowest
  bool operator==(const Damage&) const = default;
};

struct SalvagedTable {
  std::string name;
  uint32_t tdef_page = 0;
  bool system = false;
  bool catalogued = true;       // false: a definition page no catalogue row names
  std::optional<TableDef> def;  // empty when the definition does not parse
  Bytes properties;             // the LvProp blob as stored; empty when none
};

// A catalogue row other than a table's: a saved query, a container, a
// document (MSysDb, the summary and user-defined properties). Only rows
// that decoded whole, long values included, are kept; the others are in
// catalogue_damage.
struct SalvagedObject {
  int32_t id = 0;
  int32_t parent_id = 0;
  std::string name;
  int16_t type = 0;
  int32_t flags = 0;
  Bytes properties;  // LvProp
  Bytes lv_extra;    // LvExtra
};

// What reading one table's rows found.
struct RowHarvest {
  size_t recovered = 0;
  size_t lost =
      0;  // rows that did not decode, plus those the definition counts beyond what was found
  std::vector<Damage> damage;
};

// The Jet version (3 or 4) of a file whose header page is lost, told by
// the pages after it: page 1 a data page and page 2 the catalogue's table
// definition at one of the two page sizes, or failing that, page headers
// (data, definition, index, usage map) found at every 2 KiB boundary (Jet 3)
// or only at the 4 KiB ones (Jet 4). None when the pages are not plain Jet
// pages: encrypted (the key was in the header), or no Jet file at all; or
// when page 0 still names a later format (ACE, or a Jet version past 4).
// Errors: the file's open (3024, 3045).
std::optional<int> GuessVersion(const std::string& path);

class Salvager {
 public:
  explicit Salvager(std::shared_ptr<Pager> pager);

  Pager& pager() { return *pager_; }
  const std::vector<SalvagedTable>& tables() const { return tables_; }
  const std::vector<SalvagedObject>& objects() const { return objects_; }
  // Damage met reading MSysObjects (its definition, pages and rows).
  const std::vector<Damage>& catalogue_damage() const { return catalogue_damage_; }

  // Every live row of the table whose data pages name `tdef_page`,
  // decoded with `def` (the table's own definition, or one of the same row
  // layout; a zero `def.owned_pages` means no map to follow). `sink` gets
  // one value per `def.columns` entry (same order) and may move them away;
  // during the call, last_row_whole() says whether every long value of the
  // row read (those that did not are null).
  // `count_check`: compare with the definition's row count (a table's own,
  // user table).
  using RowSink = std::function<void(std::vector<Value>& values)>;
  RowHarvest Rows(uint32_t tdef_page, const TableDef& def, const RowSink& sink,
                  bool count_check = true);

  bool last_row_whole() const { return last_row_whole_; }

  // Pages of the table's index trees that are missing or do not parse as
  // index pages of this table, or are reached twice.
  std::vector<Damage> IndexDamage(const TableDef& def);

  // MSysRelationships' rows as FileState::Relations gives them; rows that
  // do not decode are left out (reported through `damage`).
  std::vector<FileState::RelationInfo> Relations(std::vector<Damage>* damage = nullptr);

 private:
  void Survey();
  void ReadCatalogue();
  void AddUncataloguedDefinitions();
  void ReadPage(uint32_t page, const TableDef& def, Table& table, const RowSink& sink,
                RowHarvest& h);
  std::optional<TableDef> ParseDefinition(uint32_t page);

  std::shared_ptr<Pager> pager_;
  uint32_t page_count_ = 0;
  std::vector<uint8_t> type_;    // page type byte; 0xff for a long-value page
  std::vector<uint32_t> owner_;  // data and index pages: the owner field
  std::set<uint32_t> free_;      // pages the global map marks free
  std::vector<SalvagedTable> tables_;
  std::vector<SalvagedObject> objects_;
  bool last_row_whole_ = true;
  std::vector<Damage> catalogue_damage_;
  std::vector<Value> values_;
  std::vector<ColumnSlice> slices_;
};

}  // namespace jet
