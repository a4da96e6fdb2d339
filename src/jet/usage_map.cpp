#include "jet/usage_map.h"

#include <algorithm>
#include <cstring>

#include "jet/data_page.h"

namespace jet {

namespace {

// Bytes the global map grows by when a new page falls past its end.
constexpr size_t kGlobalGrowBytes = 32;

// Where a map row lies on its page, checked. Maps change with every page a
// table takes, so rows are read and edited where the cache holds them; a
// view lasts until the next call to the pager.
RowBounds MapRowBounds(const Format& f, ByteView page, RowId at) {
  if (page[0] != static_cast<uint8_t>(PageType::kData)) throw JetError(kErrCorrupt);
  RowBounds bounds = GetRowBounds(f, page, at.row);
  if (bounds.size() < 1) throw JetError(kErrCorrupt);
  uint8_t type = page[bounds.start];
  if (type == kUsageMapInline && bounds.size() < f.usage_map_row_header_size)
    throw JetError(kErrCorrupt);
  if (type != kUsageMapInline && type != kUsageMapReference) throw JetError(kErrCorrupt);
  return bounds;
}

ByteView ReadRow(Pager& pager, RowId at) {
  ByteView page = pager.Read(at.page);
  RowBounds b = MapRowBounds(pager.format(), page, at);
  return page.subspan(b.start, b.size());
}

std::span<uint8_t> ModifyRow(Pager& pager, RowId at) {
  std::span<uint8_t> page = pager.Modify(at.page);
  RowBounds b = MapRowBounds(pager.format(), page, at);
  return page.subspan(b.start, b.size());
}

bool GetBit(ByteView bits, size_t i) { return bits[i / 8] & (1u << (i % 8)); }
void SetBit(std::span<uint8_t> bits, size_t i, bool on) {
  uint8_t mask = static_cast<uint8_t>(1u << (i % 8));
  bits[i / 8] = on ? (bits[i / 8] | mask) : (bits[i / 8] & ~mask);
}

size_t ReferenceSlots(ByteView row) { return (row.size() - 1) / 4; }

// A slot's map page, or 0 for none. The engine's global reference maps carry
// 0xffffff80 in their last slot; numbers with the top bit set name no page.
uint32_t SlotPage(ByteView row, size_t slot) {
  uint32_t page = Get32(row, 1 + 4 * slot);
  return page & 0x80000000u ? 0 : page;
}

// A usage-map page whose bits are all `fill`, except that none is set for a
// page the file already uses (below its page count at the time).
uint32_t NewMapPage(Pager& pager, uint32_t index, bool free_semantics) {
  const Format& f = pager.format();
  uint32_t page = pager.Allocate();
  Bytes b(f.page_size, 0);
  b[0] = static_cast<uint8_t>(PageType::kUsageMap);
  b[1] = 1;
  if (free_semantics) {
    uint32_t per = PagesPerMapPage(f);
    uint32_t first = index * per;
    std::span<uint8_t> bits = std::span<uint8_t>(b).subspan(f.usage_map_page_bitmap_offset);
    for (uint32_t i = 0; i < per; ++i) SetBit(bits, i, first + i >= pager.page_count());
  }
  pager.Write(page, b);
  return page;
}

void SetInReferencePage(Pager& pager, uint32_t map_page, uint32_t bit, bool on) {
  const Format& f = pager.format();
  if (pager.Read(map_page)[0] != static_cast<uint8_t>(PageType::kUsageMap)) throw JetError(kErrCorrupt);
  SetBit(pager.Modify(map_page).subspan(f.usage_map_page_bitmap_offset), bit, on);
}

// Sets a bit of a reference map. Map pages it creates are returned in
// `created` for the caller to record once the row is written.
void SetInReference(Pager& pager, RowId at, uint32_t page, bool on, bool free_semantics,
                    std::vector<uint32_t>* created) {
  const Format& f = pager.format();
  uint32_t per = PagesPerMapPage(f);
  ByteView row = ReadRow(pager, at);
  uint32_t index = page / per;
  if (index >= ReferenceSlots(row)) {
    if (!on || free_semantics) return;
    throw JetError(kErrDatabaseFull);
  }
  uint32_t map_page = SlotPage(row, index);
  if (map_page == 0) {
    if (!on && !free_semantics) return;
    map_page = NewMapPage(pager, index, free_semantics);
    Put32(ModifyRow(pager, at), 1 + 4 * index, map_page);
    if (created) created->push_back(map_page);
  }
  SetInReferencePage(pager, map_page, page - index * per, on);
}

// Rewrites an inline map as a reference map of the same row size holding
// `pages`.
void Promote(Pager& pager, RowId at, const std::vector<uint32_t>& pages, bool free_semantics,
             std::vector<uint32_t>* created) {
  std::span<uint8_t> row = ModifyRow(pager, at);
  std::fill(row.begin(), row.end(), 0);
  row[0] = kUsageMapReference;
  for (uint32_t p : pages) SetInReference(pager, at, p, true, free_semantics, created);
}

void RecordCreated(Pager& pager, const std::vector<uint32_t>& created) {
  for (uint32_t p : created) MarkPageAllocated(pager, p);
}

void SetPage(Pager& pager, RowId at, uint32_t page, bool on) {
  const Format& f = pager.format();
  ByteView row = ReadRow(pager, at);
  std::vector<uint32_t> created;
  if (row[0] == kUsageMapReference) {
    SetInReference(pager, at, page, on, false, &created);
    RecordCreated(pager, created);
    return;
  }
  uint32_t start = Get32(row, 1);
  size_t capacity = (row.size() - f.usage_map_row_header_size) * 8;
  if (page >= start && page - start < capacity) {
    SetBit(ModifyRow(pager, at).subspan(f.usage_map_row_header_size), page - start, on);
    return;
  }
  if (!on) return;
  std::vector<uint32_t> pages = ReadUsageMap(pager, at);
  pages.push_back(page);
  std::sort(pages.begin(), pages.end());
  uint32_t first = pages.front() / 8 * 8;
  if (pages.back() - first < capacity) {
    std::span<uint8_t> edit = ModifyRow(pager, at);
    std::span<uint8_t> bits = edit.subspan(f.usage_map_row_header_size);
    std::fill(bits.begin(), bits.end(), 0);
    Put32(edit, 1, first);
    for (uint32_t p : pages) SetBit(bits, p - first, true);
    return;
  }
  Promote(pager, at, pages, false, &created);
  RecordCreated(pager, created);
}

RowId GlobalMap(const Format& f) { return RowId{f.global_usage_map_page, 0}; }

// Rebuilds page 1 with row 0 replaced by `row`; false when it does not fit.
bool ReplaceGlobalRow(Pager& pager, const Bytes& row) {
  const Format& f = pager.format();
  Bytes old = pager.Copy(f.global_usage_map_page);
  Bytes page(f.page_size);
  InitDataPage(f, page, OwnerPage(f, old));
  std::copy(old.begin() + f.data_tdef_offset + 4, old.begin() + f.data_row_count_offset,
            page.begin() + f.data_tdef_offset + 4);
  uint16_t n = RowCount(f, old);
  for (uint16_t r = 0; r < n; ++r) {
    RowBounds b = GetRowBounds(f, old, r);
    ByteView bytes = r == 0 ? ByteView(row) : RowBytes(f, old, r);
    if (AppendRow(f, page, bytes, b.flags) < 0) return false;
  }
  pager.Write(f.global_usage_map_page, page);
  return true;
}

}  // namespace

std::vector<uint32_t> ReadUsageMap(Pager& pager, RowId at) {
  const Format& f = pager.format();
  // A copy: reading the map pages may end the view of the row's page.
  const ByteView view = ReadRow(pager, at);
  const Bytes copy(view.begin(), view.end());
  const ByteView row(copy);
  std::vector<uint32_t> pages;
  if (row[0] == kUsageMapInline) {
    uint32_t start = Get32(row, 1);
    ByteView bits = row.subspan(f.usage_map_row_header_size);
    // Page numbers past 2^32 would wrap round to pages the map never meant.
    if (uint64_t{start} + bits.size() * 8 > uint64_t{UINT32_MAX} + 1) throw JetError(kErrCorrupt);
    for (size_t i = 0; i < bits.size() * 8; ++i)
      if (GetBit(bits, i)) pages.push_back(static_cast<uint32_t>(start + i));
    return pages;
  }
  uint32_t per = PagesPerMapPage(f);
  for (size_t k = 0; k < ReferenceSlots(row); ++k) {
    uint32_t map_page = SlotPage(row, k);
    if (map_page == 0) continue;
    ByteView b = pager.Read(map_page);
    if (b[0] != static_cast<uint8_t>(PageType::kUsageMap)) throw JetError(kErrCorrupt);
    ByteView bits = b.subspan(f.usage_map_page_bitmap_offset);
    for (uint32_t i = 0; i < per; ++i)
      if (GetBit(bits, i)) pages.push_back(static_cast<uint32_t>(k * per + i));
  }
  return pages;
}

void AddPageToUsageMap(Pager& pager, RowId map, uint32_t page) { SetPage(pager, map, page, true); }

void RemovePageFromUsageMap(Pager& pager, RowId map, uint32_t page) {
  SetPage(pager, map, page, false);
}

Bytes NewInlineMapRow(const Format& f) {
  return Bytes(f.usage_map_row_header_size + f.usage_map_inline_bytes, 0);
}

Bytes NewGlobalMapRow(const Format& f, uint32_t page_count) {
  Bytes row = NewInlineMapRow(f);
  std::span<uint8_t> bits = std::span<uint8_t>(row).subspan(f.usage_map_row_header_size);
  for (uint32_t i = 0; i < bits.size() * 8; ++i) SetBit(bits, i, i >= page_count);
  return row;
}

void MarkPageAllocated(Pager& pager, uint32_t page) {
  const Format& f = pager.format();
  RowId at = GlobalMap(f);
  ByteView row = ReadRow(pager, at);
  if (row[0] == kUsageMapReference) {
    SetInReference(pager, at, page, false, true, nullptr);
    return;
  }
  uint32_t start = Get32(row, 1);
  size_t capacity = (row.size() - f.usage_map_row_header_size) * 8;
  if (page < start) return;
  if (page - start < capacity) {
    SetBit(ModifyRow(pager, at).subspan(f.usage_map_row_header_size), page - start, false);
    return;
  }
  // Grow: the new stretch marks free only what lies past the file's end.
  size_t need = (page - start) / 8 + 1;
  size_t bytes = row.size() - f.usage_map_row_header_size;
  while (bytes < need) bytes += kGlobalGrowBytes;
  Bytes grown(row.begin(), row.end());
  grown.resize(f.usage_map_row_header_size + bytes, 0);
  std::span<uint8_t> bits = std::span<uint8_t>(grown).subspan(f.usage_map_row_header_size);
  for (size_t i = capacity; i < bytes * 8; ++i) SetBit(bits, i, start + i >= pager.page_count());
  SetBit(bits, page - start, false);
  if (ReplaceGlobalRow(pager, grown)) return;

  // Page 1 is full: a reference map of the old row's size.
  std::vector<uint32_t> free_pages = ReadUsageMap(pager, at);
  uint32_t end = static_cast<uint32_t>(start + capacity);
  Promote(pager, at, {}, true, nullptr);
  for (uint32_t p : free_pages) SetInReference(pager, at, p, true, true, nullptr);
  // Pages allocated while out of range were never recorded: clear them.
  for (uint32_t p = end; p < pager.page_count(); ++p) SetInReference(pager, at, p, false, true, nullptr);
}

void MarkPageFreed(Pager& pager, uint32_t page) {
  const Format& f = pager.format();
  RowId at = GlobalMap(f);
  ByteView row = ReadRow(pager, at);
  if (row[0] == kUsageMapReference) {
    SetInReference(pager, at, page, true, true, nullptr);
    return;
  }
  uint32_t start = Get32(row, 1);
  size_t capacity = (row.size() - f.usage_map_row_header_size) * 8;
  if (page < start || page - start >= capacity) return;
  SetBit(ModifyRow(pager, at).subspan(f.usage_map_row_header_size), page - start, true);
}

}  // namespace jet
