#include "jet/data_page.h"

#include <algorithm>
#include <cstring>
#include <vector>

namespace jet {

namespace {

size_t EntryOffset(const Format& f, uint16_t row) {
  return f.data_row_table_offset + size_t{row} * f.row_offset_size;
}

// End of the offset table for `count` rows.
size_t TableEnd(const Format& f, uint16_t count) { return EntryOffset(f, count); }

void CheckPage(const Format& f, ByteView page) {
  if (page.size() != f.page_size) throw JetError(kErrCorrupt);
}

// Rows are packed downward in row order, so the last row starts lowest.
uint16_t LowestStart(const Format& f, ByteView page, uint16_t count) {
  if (count == 0) return static_cast<uint16_t>(f.page_size);
  return Get16(page, EntryOffset(f, count - 1)) & kRowOffsetMask;
}

void StoreFreeSpace(const Format& f, std::span<uint8_t> page) {
  Put16(page, f.data_free_space_offset, ComputeFreeSpace(f, page));
}

}  // namespace

uint16_t RowCount(const Format& f, ByteView page) {
  CheckPage(f, page);
  uint16_t n = Get16(page, f.data_row_count_offset);
  if (TableEnd(f, n) > f.page_size) throw JetError(kErrCorrupt);
  return n;
}

uint16_t FreeSpace(const Format& f, ByteView page) { return Get16(page, f.data_free_space_offset); }

uint32_t OwnerPage(const Format& f, ByteView page) { return Get32(page, f.data_tdef_offset); }

bool IsLongValuePage(const Format& f, ByteView page) {
  CheckRange(page, f.data_tdef_offset, 4);
  return Get8(page, 0) == static_cast<uint8_t>(PageType::kData) &&
         std::memcmp(page.data() + f.data_tdef_offset, kLongValueTag, 4) == 0;
}

RowBounds GetRowBounds(const Format& f, ByteView page, uint16_t row) {
  uint16_t count = RowCount(f, page);
  if (row >= count) throw JetError(kErrCorrupt);
  uint16_t raw = Get16(page, EntryOffset(f, row));
  RowBounds b;
  b.flags = raw & static_cast<uint16_t>(~kRowOffsetMask);
  b.start = raw & kRowOffsetMask;
  b.end = row == 0 ? static_cast<uint16_t>(f.page_size)
                   : static_cast<uint16_t>(Get16(page, EntryOffset(f, row - 1)) & kRowOffsetMask);
  if (b.start < TableEnd(f, count) || b.start > b.end || b.end > f.page_size)
    throw JetError(kErrCorrupt);
  return b;
}

ByteView RowBytes(const Format& f, ByteView page, uint16_t row) {
  RowBounds b = GetRowBounds(f, page, row);
  return page.subspan(b.start, b.size());
}

uint16_t ComputeFreeSpace(const Format& f, ByteView page) {
  uint16_t count = RowCount(f, page);
  uint16_t lowest = LowestStart(f, page, count);
  size_t table_end = TableEnd(f, count);
  if (lowest < table_end) throw JetError(kErrCorrupt);
  return static_cast<uint16_t>(lowest - table_end);
}

void InitDataPage(const Format& f, std::span<uint8_t> page, uint32_t tdef_page, bool zeroed) {
  CheckPage(f, page);
  if (!zeroed) std::fill(page.begin(), page.end(), 0);
  Put8(page, 0, static_cast<uint8_t>(PageType::kData));
  Put8(page, 1, 1);
  Put32(page, f.data_tdef_offset, tdef_page);
  StoreFreeSpace(f, page);
}

void InitLongValuePage(const Format& f, std::span<uint8_t> page, bool zeroed) {
  InitDataPage(f, page, 0, zeroed);
  std::memcpy(page.data() + f.data_tdef_offset, kLongValueTag, 4);
}

bool RowFits(const Format& f, ByteView page, size_t size) {
  uint16_t count = RowCount(f, page);
  if (count >= f.max_rows_per_data_page) return false;
  return RowSpaceUsage(f, size) <= ComputeFreeSpace(f, page);
}

int AppendRow(const Format& f, std::span<uint8_t> page, ByteView row, uint16_t flags) {
  // RowFits, the last row's bounds and the new free space, from one look at
  // the row table: every row placed goes through here.
  const uint16_t count = RowCount(f, page);
  if (count >= f.max_rows_per_data_page) return -1;
  const uint16_t lowest = LowestStart(f, page, count);
  if (lowest < TableEnd(f, count)) throw JetError(kErrCorrupt);
  if (RowSpaceUsage(f, row.size()) > lowest - TableEnd(f, count)) return -1;
  // The new row ends where the last one starts. Valid bounds for every row
  // make the last row the lowest, so nothing lies below it.
  if (count > 0) {
    const size_t end = count == 1 ? f.page_size : LowestStart(f, page, count - 1);
    if (lowest > end || end > f.page_size) throw JetError(kErrCorrupt);
  }
  const uint16_t start = static_cast<uint16_t>(lowest - row.size());
  std::memcpy(page.data() + start, row.data(), row.size());
  Put16(page, EntryOffset(f, count), static_cast<uint16_t>(start | (flags & ~kRowOffsetMask)));
  Put16(page, f.data_row_count_offset, static_cast<uint16_t>(count + 1));
  Put16(page, f.data_free_space_offset, static_cast<uint16_t>(start - TableEnd(f, count + 1)));
  return count;
}

void MarkRowDeleted(const Format& f, std::span<uint8_t> page, uint16_t row) {
  GetRowBounds(f, page, row);
  size_t at = EntryOffset(f, row);
  Put16(page, at, Get16(page, at) | kRowDeleted | kRowLookup);
}

bool ReplaceRow(const Format& f, std::span<uint8_t> page, uint16_t row, ByteView bytes) {
  RowBounds b = GetRowBounds(f, page, row);
  if (bytes.size() > b.size()) return false;
  if (bytes.size() < b.size()) throw JetError(kErrInvalidArgument);
  std::memmove(page.data() + b.start, bytes.data(), bytes.size());
  return true;
}

bool WriteOverflowPointer(const Format& f, std::span<uint8_t> page, uint16_t row, RowId target) {
  RowBounds b = GetRowBounds(f, page, row);
  if (b.size() < kRowPointerSize) return false;
  Put32(page, b.start, target.Packed());
  size_t at = EntryOffset(f, row);
  Put16(page, at, static_cast<uint16_t>((Get16(page, at) & ~kRowDeleted) | kRowLookup));
  return true;
}

RowId ReadOverflowPointer(const Format& f, ByteView page, uint16_t row) {
  RowBounds b = GetRowBounds(f, page, row);
  if (b.size() < kRowPointerSize) throw JetError(kErrCorrupt);
  return RowId::FromPacked(Get32(page, b.start));
}

void CompactPage(const Format& f, std::span<uint8_t> page) {
  uint16_t count = RowCount(f, page);
  std::vector<RowBounds> rows(count);
  for (uint16_t r = 0; r < count; ++r) rows[r] = GetRowBounds(f, page, r);
  Bytes copy(page.begin(), page.end());
  size_t end = f.page_size;
  for (uint16_t r = 0; r < count; ++r) {
    const RowBounds& b = rows[r];
    bool reclaim = (b.flags & (kRowDeleted | kRowLookup)) == (kRowDeleted | kRowLookup);
    size_t size = reclaim ? 0 : b.size();
    end -= size;
    std::memcpy(page.data() + end, copy.data() + b.start, size);
    Put16(page, EntryOffset(f, r), static_cast<uint16_t>(end | b.flags));
  }
  std::fill(page.begin() + static_cast<ptrdiff_t>(TableEnd(f, count)),
            page.begin() + static_cast<ptrdiff_t>(end), 0);
  StoreFreeSpace(f, page);
}

}  // namespace jet
