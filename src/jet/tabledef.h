// A table definition as stored on its TDEF page chain: header block, real
// (physical) index slots, columns, column names, real index definitions,
// logical index definitions and names, and the usage maps of long-value
// columns. Parsing covers Jet 3 and Jet 4; serialising writes Jet 4.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "jet/bytes.h"
#include "jet/format.h"
#include "jet/value.h"

namespace jet {

// Column flag bits (the column definition's bitmask byte).
enum ColumnFlags : uint8_t {
  kColFixed = 0x01,
  kColNullable = 0x02,  // "can be null"; set on every column the engine writes
  kColAutoLong = 0x04,
  kColReplication = 0x10,
  kColAutoGuid = 0x40,
  kColHyperlink = 0x80,
};

// Extended flag bits (Jet 4).
enum ColumnExtFlags : uint8_t {
  kColCompressedUnicode = 0x01,
};

// Real index flag bits.
enum IndexFlags : uint8_t {
  kIdxUnique = 0x01,
  kIdxIgnoreNulls = 0x02,
  kIdxRequired = 0x08,
};

// Logical index type byte.
enum IndexType : uint8_t {
  kIdxNormal = 0x00,
  kIdxPrimary = 0x01,
  kIdxForeign = 0x02,
};

struct ColumnDef {
  std::string name;            // UTF-8
  ColumnType type = ColumnType::kText;
  uint16_t number = 0;         // column number, counting deleted ones
  uint16_t var_index = 0;      // slot in the row's variable-offset table
  uint16_t fixed_offset = 0;   // offset in the row's fixed area
  uint16_t length = 0;         // bytes (Text on Jet 4: 2 per character)
  uint8_t flags = kColNullable;
  uint8_t ext_flags = 0;
  uint16_t sort_order = 0;     // text columns: 0x409 General
  uint8_t precision = 0;       // Decimal
  uint8_t scale = 0;
  uint16_t code_page = 0;      // Jet 3 text columns
  uint16_t sort_version = 0;   // Jet 4: misc_ext word

  bool fixed() const { return flags & kColFixed; }
  bool auto_number() const { return flags & kColAutoLong; }
};

struct IndexColumn {
  uint16_t column_number = 0;  // ColumnDef::number
  bool ascending = true;
};

// A physical index: a B-tree of entries.
struct RealIndexDef {
  uint32_t row_count = 0;        // header slot: distinct keys the engine counted
  std::vector<IndexColumn> columns;
  uint32_t used_pages = 0;       // packed RowId of the index's usage map
  uint32_t first_page = 0;       // root page of the B-tree
  uint8_t flags = 0;             // IndexFlags
};

// A named index as DAO sees it; several may share one real index.
struct LogicalIndexDef {
  std::string name;
  uint32_t index_number = 0;
  uint32_t real_index = 0;       // slot in TableDef::real_indexes
  uint8_t rel_table_type = 0;    // foreign keys: type of the other side
  int32_t rel_index_number = -1; // foreign keys: index number on the other table
  uint32_t rel_table_page = 0;   // foreign keys: other table's TDEF page
  uint8_t cascade_updates = 0;
  uint8_t cascade_deletes = 0;
  uint8_t type = kIdxNormal;     // IndexType
};

// Usage maps of a long-value column (listed after the index names).
struct LongValueMaps {
  uint16_t column_number = 0;
  uint32_t used_pages = 0;
  uint32_t free_pages = 0;
};

struct TableDef {
  uint32_t page = 0;              // first TDEF page
  uint32_t row_count = 0;
  uint32_t next_auto_number = 0;  // value the next auto-number will take, minus one
  uint8_t table_type = 0x4e;      // 0x4e user, 0x53 system
  uint16_t max_columns = 0;
  uint16_t var_column_count = 0;
  uint32_t owned_pages = 0;       // packed RowId of the usage map of owned pages
  uint32_t free_pages = 0;        // packed RowId of the usage map of pages with room
  std::vector<ColumnDef> columns; // in stored order
  std::vector<RealIndexDef> real_indexes;
  std::vector<LogicalIndexDef> indexes;
  std::vector<LongValueMaps> long_value_maps;
  // Jet 4 header bytes the engine keeps but that carry no known meaning for
  // us; written back unchanged when a definition is rewritten.
  uint8_t autonum_flag = 0x01;

  const ColumnDef* FindColumn(const std::string& name) const;  // case-insensitive
  const ColumnDef* ColumnByNumber(uint16_t number) const;
  // Position in `columns` of a column number; 3049 when there is none.
  size_t SlotOf(uint16_t number) const;
  uint16_t fixed_area_size() const;  // bytes of the row's fixed area
};

// Reads the bytes of one page (decrypted). Throws JetError on a bad number.
using PageReader = std::function<Bytes(uint32_t page)>;

// Parses the TDEF chain starting at `page`. Throws JetError(kErrCorrupt) on
// malformed input; never reads outside the pages.
TableDef ParseTableDef(const Format& f, const PageReader& read, uint32_t page);

// Serialises a Jet 4 definition into its byte block (without the 8-byte page
// header); the caller splits it over pages with SplitTableDef.
Bytes SerializeTableDef(const TableDef& def);

// Splits a serialised definition into TDEF pages. `pages` gives the page
// numbers to use, in order; returns the page images. The caller provides as
// many page numbers as TableDefPagesNeeded says.
size_t TableDefPagesNeeded(const Format& f, size_t block_size);
std::vector<Bytes> SplitTableDef(const Format& f, const Bytes& block,
                                 const std::vector<uint32_t>& pages);

}  // namespace jet
