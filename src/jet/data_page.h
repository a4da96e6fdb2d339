// The layout of a data page (type 0x01), shared by table rows, usage-map
// rows and long-value rows:
//
//   0  type 0x01, then 0x01
//   2  free space: bytes between the end of the row offset table and the
//      lowest row (kept exactly so by the engine)
//   4  owning TDEF page, or "LVAL" on a long-value page
//   8  Jet 4 only: 4 bytes the engine stamps; new pages carry zeros
//   8 / 12  row count
//   10 / 14 row offset table, 2 bytes per row, growing toward the rows
//
// Rows are packed from the end of the page toward the header: row N spans
// [offset N, offset N-1), row 0 ends at the page end, whatever the flags.
// A deleted row keeps its entry (row numbers never move); the engine
// marks it kRowDeleted | kRowLookup and may later reclaim its bytes, leaving
// a zero-length row. A lookup row holds a 4-byte row pointer to where the row
// moved; the row it points to is flagged kRowDeleted alone so that scans skip
// it.
//
// Functions take the page image and its Format; reads of malformed pages
// throw JetError 3049, never touch memory outside the page.
#pragma once

#include <cstdint>
#include <span>

#include "jet/bytes.h"
#include "jet/format.h"

namespace jet {

inline constexpr uint16_t kRowDeleted = 0x8000;
inline constexpr uint16_t kRowLookup = 0x4000;
inline constexpr uint16_t kRowOffsetMask = 0x1fff;
// Owner field of a long-value page.
inline constexpr uint8_t kLongValueTag[4] = {'L', 'V', 'A', 'L'};
// Size of the lookup row a moved row leaves behind: its packed row pointer.
inline constexpr uint16_t kRowPointerSize = 4;

struct RowBounds {
  uint16_t start = 0;  // first byte of the row
  uint16_t end = 0;    // one past its last byte
  uint16_t flags = 0;  // kRowDeleted, kRowLookup
  uint16_t size() const { return static_cast<uint16_t>(end - start); }
  bool deleted() const { return flags & kRowDeleted; }
  // A live row that moved: its bytes are a row pointer.
  bool lookup() const { return (flags & (kRowDeleted | kRowLookup)) == kRowLookup; }
};

// Header fields. RowCount checks that the offset table fits in the page.
uint16_t RowCount(const Format& f, ByteView page);
uint16_t FreeSpace(const Format& f, ByteView page);
uint32_t OwnerPage(const Format& f, ByteView page);
bool IsLongValuePage(const Format& f, ByteView page);

// Where row `row` lies, as readers compute it. 3049 when the row does not
// exist or its bounds fall outside the row area.
RowBounds GetRowBounds(const Format& f, ByteView page, uint16_t row);
ByteView RowBytes(const Format& f, ByteView page, uint16_t row);

// The free space a page with this offset table and lowest row would have.
uint16_t ComputeFreeSpace(const Format& f, ByteView page);

// Bytes a new row of `size` takes: the row plus its offset entry.
inline uint32_t RowSpaceUsage(const Format& f, size_t size) { return size + f.row_offset_size; }

// Clears `page` (one page long) to an empty data page owned by `tdef_page`.
// A page known to hold zeros only (a page just allocated) is not cleared
// again when `zeroed` says so.
void InitDataPage(const Format& f, std::span<uint8_t> page, uint32_t tdef_page,
                  bool zeroed = false);
// Clears `page` to an empty long-value page (`zeroed` as above).
void InitLongValuePage(const Format& f, std::span<uint8_t> page, bool zeroed = false);

// Whether a row of `size` bytes fits: free space and the 255-row limit.
bool RowFits(const Format& f, ByteView page, size_t size);

// Appends a row below the lowest one and returns its number, or -1 when it
// does not fit. `flags` is kRowDeleted for the new home of a moved row.
int AppendRow(const Format& f, std::span<uint8_t> page, ByteView row, uint16_t flags = 0);

// Flags a row deleted (kRowDeleted | kRowLookup, as the engine does); its
// bytes stay until CompactPage.
void MarkRowDeleted(const Format& f, std::span<uint8_t> page, uint16_t row);

// Overwrites a row in place. A row is read as its whole slot, so the new
// bytes must be exactly the slot's size (the row encoder pads a shorter
// row); returns false, leaving the page untouched, when they are larger.
// A shorter image is JetError 3001.
bool ReplaceRow(const Format& f, std::span<uint8_t> page, uint16_t row, ByteView bytes);

// Turns a live row into a lookup row pointing at `target`: the first 4 bytes
// of its slot take the packed pointer (the rest keep their old bytes, as the
// engine leaves them) and its offset gains kRowLookup. False when the slot
// is shorter than 4 bytes.
bool WriteOverflowPointer(const Format& f, std::span<uint8_t> page, uint16_t row, RowId target);

// Reads a lookup row's pointer.
RowId ReadOverflowPointer(const Format& f, ByteView page, uint16_t row);

// Reclaims the bytes of deleted rows (kRowDeleted | kRowLookup), sliding the
// other rows toward the page end; deleted rows become zero-length, as the
// engine leaves them. Overflow targets (kRowDeleted alone) keep their bytes.
void CompactPage(const Format& f, std::span<uint8_t> page);

}  // namespace jet
