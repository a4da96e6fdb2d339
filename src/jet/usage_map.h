// Usage maps: which pages belong to something. A map is a row on a data page
// (found by a packed row pointer, page << 8 | row) in one of two forms:
//
//   inline     0x00, 4-byte start page, bitmap: bit i (LSB first) = page
//              start + i
//   reference  0x01, then 4-byte numbers of usage-map pages (type 0x05:
//              05 01 00 00, bitmap from offset 4); map page k covers pages
//              [k * (page_size - 4) * 8, (k + 1) * (page_size - 4) * 8),
//              a zero number means none of them
//
// Every table has two: the pages it owns (TDEF owned_pages) and the pages
// with free space for rows (TDEF free_pages). The engine writes both for a
// new table as inline rows of 5 + usage_map_inline_bytes bytes (Jet 4: 69
// bytes, 64 of bitmap, 512 pages; Jet 3: 133 bytes, 128 of bitmap) with
// start page 0, on a data page whose owner field is 0 (page 6 of a new Jet 4
// file holds them; NewInlineMapRow builds one). An inline map that cannot
// cover a new page moves its start (a multiple of 8) if the pages then fit,
// otherwise it becomes a reference map keeping the row's size.
//
// The database's global map is row 0 of page 1 (page 1's owner field is 1).
// Its bits mark FREE pages: pages the file does not use, including every
// page from the end of the file to the end of the map. Pages in use, and
// pages beyond the map, are clear / not covered. A writer that appends a
// page calls MarkPageAllocated; one that releases a page, MarkPageFreed.
//
// Functions read and write through the pager (the caller holds it
// writable for changes); malformed maps are JetError 3049.
#pragma once

#include <cstdint>
#include <vector>

#include "jet/bytes.h"
#include "jet/format.h"
#include "jet/pager.h"

namespace jet {

enum UsageMapType : uint8_t {
  kUsageMapInline = 0,
  kUsageMapReference = 1,
};

// The pages whose bit is set, ascending.
std::vector<uint32_t> ReadUsageMap(Pager& pager, RowId map);

// Sets or clears one page's bit and writes the row (and any map page) back.
// Adding may move an inline map's start or turn it into a reference map,
// allocating usage-map pages as needed (recorded in the global map).
// Removing a page outside the map does nothing. 3035 when a reference map
// cannot cover the page.
void AddPageToUsageMap(Pager& pager, RowId map, uint32_t page);
void RemovePageFromUsageMap(Pager& pager, RowId map, uint32_t page);

// A new table's inline map row: type 0, start page 0, empty bitmap.
Bytes NewInlineMapRow(const Format& f);

// A new database's global map row covering the first
// usage_map_inline_bytes * 8 pages, with pages >= page_count marked free.
Bytes NewGlobalMapRow(const Format& f, uint32_t page_count);

// Keep the global map right: `page` is now in use / no longer in use. An
// inline global map grows by 32 bytes at a time to cover a new page while
// page 1 has room (as the engine's larger files show), and otherwise turns
// into a reference map.
void MarkPageAllocated(Pager& pager, uint32_t page);
void MarkPageFreed(Pager& pager, uint32_t page);

// Pages one usage-map page covers: (page_size - 4) * 8.
inline uint32_t PagesPerMapPage(const Format& f) {
  return (f.page_size - f.usage_map_page_bitmap_offset) * 8;
}

}  // namespace jet
