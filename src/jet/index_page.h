// Index pages: the nodes of an index B-tree, type 0x04 (leaf) and 0x03
// (intermediate). Header: free space, owning TDEF page, previous / next page
// on the same level, tail page (intermediate pages: the last child, which has
// no entry of its own), length of the prefix shared by every entry, and a
// bitmask marking where each entry ends. Entries follow, the first one whole
// and the rest without the shared prefix. An entry is the key bytes, the
// row's data page (3 bytes big-endian) and row number; on intermediate pages
// it is the last entry of a child followed by that child's page number (4
// bytes big-endian).
//
// Parsing takes Jet 3 and Jet 4 pages; a malformed page is JetError 3049.
// Writing produces Jet 4 (or Jet 3) page images the way the engine lays them
// out; the caller supplies entries in index order.
#pragma once

#include <cstdint>
#include <vector>

#include "jet/bytes.h"
#include "jet/format.h"

namespace jet {

struct IndexEntry {
  Bytes key;
  RowId row;
  uint32_t child = 0;  // intermediate pages only

  bool operator==(const IndexEntry&) const = default;
};

// A place in a leaf: the page and the offset (from the first entry) of the
// entry bound where an entry would go.
struct IndexSpot {
  uint32_t leaf = 0;  // 0: none
  uint32_t at = 0;
};

struct IndexPage {
  bool leaf = true;
  uint32_t tdef_page = 0;
  uint32_t prev_page = 0;
  uint32_t next_page = 0;
  uint32_t tail_page = 0;
  uint16_t prefix_len = 0;   // as read; WriteIndexPage takes it as given
  uint16_t free_space = 0;   // as read; WriteIndexPage computes it
  std::vector<IndexEntry> entries;
};

// The fixed header of an index page. 3049 when the page is not an index page
// of this format.
struct IndexPageHeader {
  bool leaf = true;
  uint16_t free_space = 0;
  uint32_t tdef_page = 0;
  uint32_t prev_page = 0;
  uint32_t next_page = 0;
  uint32_t tail_page = 0;
  uint16_t prefix_len = 0;
};
IndexPageHeader ReadIndexPageHeader(const Format& f, ByteView page);
// Writes the header fields over `page`, leaving the entry mask and the
// entries alone.
void WriteIndexPageHeader(const Format& f, std::span<uint8_t> page, const IndexPageHeader& h);

// Index order: key bytes, then data page, then row.
int CompareEntries(const IndexEntry& a, const IndexEntry& b);

// Bytes available for entries on one page.
size_t IndexPageCapacity(const Format& f);

// Size of an entry on the page before prefix sharing.
size_t EntrySize(const IndexEntry& e, bool leaf);

// The entry's bytes as the page stores them (before prefix sharing).
Bytes EntryBytes(const IndexEntry& e, bool leaf);

// Longest prefix common to the stored bytes of all entries.
size_t SharedPrefix(const std::vector<IndexEntry>& entries, bool leaf);

// Bytes the entries take with `prefix` bytes shared.
size_t PackedSize(const std::vector<IndexEntry>& entries, bool leaf, size_t prefix);

IndexPage ParseIndexPage(const Format& f, ByteView page);

// The rows a leaf lists, in its order, appended to `out`: ParseIndexPage's
// entries' rows without their keys. 3049 as ParseIndexPage, and for a page
// that is not a leaf.
void AppendLeafRows(const Format& f, ByteView page, std::vector<RowId>& out);

// A page image. Throws JetError 3001 when the entries do not fit or the
// prefix is longer than an entry or not shared by all of them.
Bytes WriteIndexPage(const Format& f, const IndexPage& page);

}  // namespace jet
