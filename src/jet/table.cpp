#include "jet/table.h"

#include <algorithm>
#include <atomic>

#include "jet/data_page.h"
#include "jet/error.h"
#include "jet/text.h"
#include "jet/usage_map.h"
#include "jet/value_codec.h"

namespace jet {
namespace {

// Long-value header flags (top bits of the 32-bit length word).
constexpr uint32_t kLongValueInline = 0x80000000u;
constexpr uint32_t kLongValueSingleRow = 0x40000000u;
constexpr uint32_t kLongValueLengthMask = 0x3fffffffu;
// A long value is never larger than a Jet 4 file.
constexpr uint32_t kMaxLongValue = 1u << 30;

bool IsDataPageOf(const Format& f, ByteView page, uint32_t tdef) {
  return page[0] == static_cast<uint8_t>(PageType::kData) && !IsLongValuePage(f, page) &&
         OwnerPage(f, page) == tdef;
}

// Whether a long value of `len` bytes stays inside a row that has `room`
// bytes left for it, after its header.
bool StaysInRow(const Format& f, size_t len, size_t room) {
  return len <= f.max_inline_long_value && f.long_value_header_size + len <= room;
}

// A long value's payload: Memo as stored text, OLE as its bytes.
void AppendLongValuePayload(const ColumnDef& col, const Value& v, Bytes& out) {
  Value c = Coerce(v, col.type);
  if (col.type == ColumnType::kMemo) {
    const bool compressed = (col.ext_flags & kColCompressedUnicode) != 0;
    AppendBytes(out, EncodeText(c.as<std::string>(), 4, compressed));
  } else {
    AppendBytes(out, c.as<Binary>());
  }
}

// The work EncodeRow and EncodeAhead share: every column's stored bytes
// into `packed`, short columns first, so that long values know how much
// room the row has left. Stored bytes are packed where they lie; encoded
// values go to `arena` (spans by column). `long_value(i, payload, room)`
// appends column i's long-value header (and any inline payload) to `arena`.
template <typename LongValue>
void EncodeColumns(const Format& f, const TableDef& def, const std::vector<Value>& values,
                   const std::vector<Table::StoredColumn>* stored, Bytes& arena,
                   std::vector<std::pair<size_t, size_t>>& spans,
                   std::vector<PackedColumn>& packed, Bytes& scratch,
                   const LongValue& long_value) {
  if (values.size() != def.columns.size()) throw JetError(kErrInvalidArgument);
  if (stored && stored->size() != values.size()) throw JetError(kErrInvalidArgument);
  auto taken = [&](size_t i) { return stored && (*stored)[i].set && !values[i].is_null(); };
  // A span of this length marks bytes packed where they lie.
  constexpr size_t kInPlace = SIZE_MAX;
  const size_t n = def.columns.size();
  arena.clear();
  spans.assign(n, {0, 0});
  packed.assign(n, PackedColumn{});
  size_t used = 2 + def.fixed_area_size() + (def.max_columns + 7) / 8 + 4 +
                2 * size_t{def.var_column_count};
  for (size_t i = 0; i < n; ++i) {
    const ColumnDef& c = def.columns[i];
    const Value& v = values[i];
    if (c.type == ColumnType::kBoolean) {
      packed[i].present = BooleanBit(v);
      continue;
    }
    if (v.is_null() || IsLongValue(c.type)) continue;
    size_t size;
    if (taken(i)) {
      const Bytes& b = (*stored)[i].bytes;
      packed[i].data = b;
      spans[i] = {0, kInPlace};
      size = b.size();
    } else {
      const size_t start = arena.size();
      AppendEncodedValue(c, v, 4, arena);
      size = arena.size() - start;
      spans[i] = {start, size};
    }
    if (c.fixed() && size != c.length) throw JetError(kErrInvalidArgument);
    packed[i].present = true;
    if (!c.fixed()) used += size;
  }
  for (size_t i = 0; i < n; ++i) {
    const ColumnDef& c = def.columns[i];
    if (!IsLongValue(c.type) || values[i].is_null()) continue;
    size_t room = used < f.max_row_size ? f.max_row_size - used : 0;
    ByteView payload;
    if (taken(i)) {
      payload = (*stored)[i].bytes;
    } else {
      scratch.clear();
      AppendLongValuePayload(c, values[i], scratch);
      payload = scratch;
    }
    const size_t start = arena.size();
    long_value(i, payload, room);
    spans[i] = {start, arena.size() - start};
    packed[i].present = true;
    used += arena.size() - start;
  }
  for (size_t i = 0; i < n; ++i) {
    if (packed[i].present && spans[i].second != kInPlace) {
      packed[i].data = ByteView(arena.data() + spans[i].first, spans[i].second);
    }
  }
}

}  // namespace

namespace {

uint64_t NextStamp() {
  static std::atomic<uint64_t> last{0};
  return last.fetch_add(1, std::memory_order_relaxed) + 1;
}

}  // namespace

Table::Table(std::shared_ptr<Pager> pager, TableDef def, std::string name)
    : pager_(std::move(pager)),
      format_(&pager_->format()),
      def_(std::move(def)),
      name_(std::move(name)),
      stamp_(NextStamp()) {}

std::vector<uint32_t> Table::OwnedPages() {
  if (def_.owned_pages == 0) return {};
  return ReadUsageMap(*pager_, RowId::FromPacked(def_.owned_pages));
}

// ---- scanning ----

Table::Scan::Scan(Table& t, MovedRows moved) : t_(t), moved_(moved), pages_(t.OwnedPages()) {}

bool Table::Scan::Next() {
  const Format& f = t_.format();
  Pager& pager = *t_.pager_;
  while (page_index_ < pages_.size()) {
    uint32_t pg = pages_[page_index_];
    ByteView page = pager.Read(pg);
    if (row_ < 0) {
      // The map may list the table's other pages, but never a page of no
      // known type: that is damage, not a page to pass over.
      if (page[0] > static_cast<uint8_t>(PageType::kUsageMap)) throw JetError(kErrCorrupt);
      if (!IsDataPageOf(f, page, t_.def_.page)) {
        ++page_index_;
        continue;
      }
      row_count_ = RowCount(f, page);
    }
    while (++row_ < row_count_) {
      RowBounds rb = GetRowBounds(f, page, static_cast<uint16_t>(row_));
      if (moved_ == MovedRows::kWhereStored) {
        // kRowLookup marks both a moved row's pointer and a deleted row; a
        // moved row's new home carries kRowDeleted alone and is read here.
        if (rb.flags & kRowLookup) continue;
      } else if (rb.deleted()) {
        continue;
      }
      id_ = RowId{pg, static_cast<uint8_t>(row_)};
      if (moved_ == MovedRows::kAtPointer && rb.lookup()) {
        bytes_ = t_.RowData(id_);
      } else {
        bytes_ = page.subspan(rb.start, rb.size());
      }
      return true;
    }
    row_ = -1;
    ++page_index_;
  }
  return false;
}

ByteView Table::RowData(RowId id) {
  const Format& f = format();
  // A moved row leaves a pointer; the engine never chains them, but a
  // damaged file might, so the walk is bounded.
  for (int hop = 0; hop < 2; ++hop) {
    if (id.page == 0 || id.page >= pager_->page_count()) throw JetError(kErrCorrupt);
    ByteView page = pager_->Read(id.page);
    if (page[0] != static_cast<uint8_t>(PageType::kData)) throw JetError(kErrCorrupt);
    if (id.row >= RowCount(f, page)) throw JetError(kErrNoCurrentRecord);
    RowBounds rb = GetRowBounds(f, page, id.row);
    if (hop == 0 && rb.deleted()) throw JetError(kErrNoCurrentRecord);
    if (hop == 0 && rb.lookup()) {
      id = ReadOverflowPointer(f, page, id.row);
      continue;
    }
    return page.subspan(rb.start, rb.size());
  }
  throw JetError(kErrCorrupt);
}

std::vector<Value> Table::ReadRow(RowId id) {
  std::vector<Value> out;
  DecodeRow(RowData(id), out);
  return out;
}

void Table::DecodeRow(ByteView row, std::vector<Value>& out) {
  // Long values read other pages, which may recycle the page `row` points
  // into: decode from a copy.
  scratch_.assign(row.begin(), row.end());
  CrackRow(format(), def_, scratch_, slices_);
  out.resize(def_.columns.size());
  for (size_t i = 0; i < def_.columns.size(); ++i) DecodeColumnInto(def_.columns[i], slices_[i], out[i]);
}

void Table::DecodeColumnInto(const ColumnDef& c, const ColumnSlice& sl, Value& out) {
  // The common types decode in place; the rest go through the codec.
  if (c.type == ColumnType::kBoolean) {
    out = Value(sl.present);
  } else if (!sl.present) {
    out = Value::Null();
  } else if (c.type == ColumnType::kLong) {
    out = Value(static_cast<int32_t>(Get32(sl.data, 0)));
  } else if (c.type == ColumnType::kDouble) {
    out = Value(BitsToDouble(Get64(sl.data, 0)));
  } else if (c.type == ColumnType::kDate) {
    out = Value(Date{BitsToDouble(Get64(sl.data, 0))});
  } else if (c.type == ColumnType::kText && format().version >= 4) {
    DecodeJet4TextInto(sl.data, out.EmplaceString());
  } else {
    out = DecodeColumn(c, sl);
  }
}

Value Table::DecodeColumn(const ColumnDef& col, const ColumnSlice& slice) {
  if (col.type == ColumnType::kBoolean) return Value(slice.present);
  if (!slice.present) return Value::Null();
  if (IsLongValue(col.type)) {
    Bytes payload = ReadLongValue(slice.data);
    if (col.type == ColumnType::kMemo) return Value(DecodeText(payload, format().version));
    return Value(std::move(payload));
  }
  return DecodeValue(col, slice.data, format().version);
}

Bytes Table::ReadLongValue(ByteView header) {
  Bytes out;
  ReadLongValueInto(header, out);
  return out;
}

void Table::ReadStored(const ColumnDef& col, const ColumnSlice& slice, Bytes& out) {
  if (IsLongValue(col.type)) return ReadLongValueInto(slice.data, out);
  out.insert(out.end(), slice.data.begin(), slice.data.end());
}

void Table::ReadLongValueInto(ByteView header, Bytes& out) {
  const Format& f = format();
  if (header.size() < f.long_value_header_size) throw JetError(kErrCorrupt);
  uint32_t word = Get32(header, 0);
  uint32_t len = word & kLongValueLengthMask;
  if (len > kMaxLongValue) throw JetError(kErrCorrupt);
  if (word & kLongValueInline) {
    CheckRange(header, f.long_value_header_size, len);
    auto begin = header.begin() + f.long_value_header_size;
    out.insert(out.end(), begin, begin + len);
    return;
  }
  RowId at = RowId::FromPacked(Get32(header, 4));
  // Long values live on pages of their own, named as such.
  auto long_value_page = [&](uint32_t pg) {
    ByteView page = pager_->Read(pg);
    if (!IsLongValuePage(f, page)) throw JetError(kErrCorrupt);
    return page;
  };
  if (word & kLongValueSingleRow) {
    ByteView page = long_value_page(at.page);
    ByteView row = RowBytes(f, page, at.row);
    if (row.size() < len) throw JetError(kErrCorrupt);
    out.insert(out.end(), row.begin(), row.begin() + len);
    return;
  }
  // Chained rows: each starts with the pointer to the next one. The stated
  // length is only trusted as far as the file could hold it.
  const size_t base = out.size();
  out.reserve(base + std::min<size_t>(len, size_t{pager_->page_count()} * f.page_size));
  size_t hops = 0;
  while (out.size() - base < len) {
    if (at.page == 0 || ++hops > len / 4 + 2) throw JetError(kErrCorrupt);
    ByteView page = long_value_page(at.page);
    ByteView row = RowBytes(f, page, at.row);
    if (row.size() < 4) throw JetError(kErrCorrupt);
    RowId next = RowId::FromPacked(Get32(row, 0));
    size_t take = std::min<size_t>(row.size() - 4, len - (out.size() - base));
    out.insert(out.end(), row.begin() + 4, row.begin() + 4 + static_cast<ptrdiff_t>(take));
    at = next;
  }
}

// ---- writing ----

int32_t Table::NextAutoNumber() {
  def_dirty_ = true;
  return static_cast<int32_t>(++def_.next_auto_number);
}

void Table::SeeAutoNumber(int32_t used) {
  if (used > 0 && static_cast<uint32_t>(used) > def_.next_auto_number) {
    def_.next_auto_number = static_cast<uint32_t>(used);
    def_dirty_ = true;
  }
}

uint32_t Table::NewDataPage() {
  const Format& f = format();
  uint32_t pg = pager_->Allocate();
  InitDataPage(f, pager_->Modify(pg), def_.page, true);
  MarkPageAllocated(*pager_, pg);
  if (def_.owned_pages) AddPageToUsageMap(*pager_, RowId::FromPacked(def_.owned_pages), pg);
  if (def_.free_pages) AddPageToUsageMap(*pager_, RowId::FromPacked(def_.free_pages), pg);
  return pg;
}

RowId Table::PlaceRow(ByteView row, uint16_t flags) {
  const Format& f = format();
  if (row.size() > f.max_row_size) throw JetError(kErrRecordTooLarge);
  if (last_page_ == 0) {
    // Continue on the table's last data page, as the engine fills pages in
    // order; fall back to a new page.
    std::vector<uint32_t> owned = OwnedPages();
    for (auto it = owned.rbegin(); it != owned.rend(); ++it) {
      if (IsDataPageOf(f, pager_->Read(*it), def_.page)) {
        last_page_ = *it;
        break;
      }
    }
  }
  if (last_page_ != 0 && RowFits(f, pager_->Read(last_page_), row.size())) {
    int n = AppendRow(f, pager_->Modify(last_page_), row, flags);
    if (n >= 0) return RowId{last_page_, static_cast<uint8_t>(n)};
  }
  if (last_page_ != 0) pager_->Retire(last_page_);
  uint32_t pg = NewDataPage();
  int n = AppendRow(f, pager_->Modify(pg), row, flags);
  if (n < 0) throw JetError(kErrRecordTooLarge);
  last_page_ = pg;
  return RowId{pg, static_cast<uint8_t>(n)};
}

uint32_t Table::PlaceLongValueRow(ByteView row, RowId& where) {
  const Format& f = format();
  if (last_lval_page_ == 0 || !RowFits(f, pager_->Read(last_lval_page_), row.size())) {
    if (last_lval_page_ != 0) pager_->Retire(last_lval_page_);
    last_lval_page_ = pager_->Allocate();
    InitLongValuePage(f, pager_->Modify(last_lval_page_), true);
    MarkPageAllocated(*pager_, last_lval_page_);
  }
  int n = AppendRow(f, pager_->Modify(last_lval_page_), row);
  if (n < 0) throw JetError(kErrRecordTooLarge);
  where = RowId{last_lval_page_, static_cast<uint8_t>(n)};
  return last_lval_page_;
}

Bytes Table::WriteLongValue(ByteView payload, size_t row_room) {
  const Format& f = format();
  if (payload.size() > kMaxLongValue) throw JetError(kErrRecordTooLarge);
  uint32_t len = static_cast<uint32_t>(payload.size());
  Bytes header(f.long_value_header_size, 0);
  if (StaysInRow(f, len, row_room)) {
    Put32(header, 0, len | kLongValueInline);
    AppendBytes(header, payload);
    return header;
  }
  RowId where;
  if (len <= f.max_long_value_row_size) {
    PlaceLongValueRow(payload, where);
    Put32(header, 0, len | kLongValueSingleRow);
    Put32(header, 4, where.Packed());
    return header;
  }
  // Longer values go in chained rows, one per page, each naming the next;
  // pages are taken first so every row can be written once.
  size_t chunk = f.max_long_value_row_size - 4;
  size_t count = (payload.size() + chunk - 1) / chunk;
  std::vector<uint32_t> pages(count);
  for (auto& p : pages) {
    p = pager_->Allocate();
    MarkPageAllocated(*pager_, p);
  }
  Bytes row;
  for (size_t i = 0; i < count; ++i) {
    // Allocated pages come zero-filled: each is written where it lies.
    std::span<uint8_t> page = pager_->Modify(pages[i]);
    InitLongValuePage(f, page, true);
    row.clear();
    Append32(row, i + 1 < count ? RowId{pages[i + 1], 0}.Packed() : 0);
    size_t from = i * chunk;
    size_t to = std::min(payload.size(), from + chunk);
    row.insert(row.end(), payload.begin() + static_cast<ptrdiff_t>(from),
               payload.begin() + static_cast<ptrdiff_t>(to));
    if (AppendRow(f, page, row) != 0) throw JetError(kErrRecordTooLarge);
    pager_->Retire(pages[i]);
  }
  Put32(header, 0, len);
  Put32(header, 4, RowId{pages[0], 0}.Packed());
  return header;
}

void Table::EncodeRow(const std::vector<Value>& values, size_t min_size,
                      const std::vector<StoredColumn>* stored) {
  EncodeColumns(format(), def_, values, stored, arena_, spans_, packed_, payload_,
                [&](size_t, ByteView payload, size_t room) {
                  AppendBytes(arena_, WriteLongValue(payload, room));
                });
  PackRowInto(def_, packed_, min_size, row_);
}

bool Table::LongValueInRow(ByteView slice) {
  return slice.size() >= 4 && (Get32(slice, 0) & kLongValueInline) != 0;
}

void Table::EncodeAhead(const Format& f, const TableDef& def, const std::vector<Value>& values,
                        const std::vector<StoredColumn>* stored, EncodedRow& out,
                        EncodeScratch& reused) {
  Bytes& arena = reused.arena;
  Bytes& scratch = reused.payload;
  out.outside.clear();
  out.payloads.clear();
  out.numbers.clear();
  EncodeColumns(f, def, values, stored, arena, reused.spans, reused.packed, scratch,
                [&](size_t i, ByteView payload, size_t room) {
                  if (payload.size() > kMaxLongValue) throw JetError(kErrRecordTooLarge);
                  const auto len = static_cast<uint32_t>(payload.size());
                  const size_t at = arena.size();
                  arena.resize(at + f.long_value_header_size, 0);
                  if (StaysInRow(f, len, room)) {
                    Put32(std::span<uint8_t>(arena), at, len | kLongValueInline);
                    AppendBytes(arena, payload);
                    return;
                  }
                  // Stored bytes stay where they are until the insert; a
                  // value's payload is kept here.
                  if (payload.data() != scratch.data()) {
                    out.outside.push_back({i, 0, payload, SIZE_MAX, 0});
                    return;
                  }
                  out.outside.push_back({i, 0, {}, out.payloads.size(), payload.size()});
                  AppendBytes(out.payloads, payload);
                });
  for (auto& o : out.outside) {
    if (o.kept != SIZE_MAX) o.payload = ByteView(out.payloads).subspan(o.kept, o.kept_size);
  }
  PackRowInto(def, reused.packed, 0, out.row);
  if (!out.outside.empty()) {
    // Each waiting header's place in the packed row.
    std::vector<ColumnSlice>& slices = reused.slices;
    CrackRow(f, def, out.row, slices);
    for (auto& o : out.outside) {
      o.header_at = static_cast<size_t>(slices[o.column].data.data() - out.row.data());
    }
  }
  const size_t ncols = Get16(out.row, 0);
  const size_t mask_at = out.row.size() - (ncols + 7) / 8;
  for (size_t i = 0; i < def.columns.size(); ++i) {
    const ColumnDef& c = def.columns[i];
    if (!c.auto_number() || !values[i].is_null()) continue;
    out.numbers.push_back({i, 2 + size_t{c.fixed_offset}, mask_at + c.number / 8,
                           static_cast<uint8_t>(1u << (c.number % 8))});
  }
}

RowId Table::Insert(const std::vector<Value>& values) {
  const std::vector<StoredColumn>* stored = staged_;
  EncodedRow* ready = staged_row_;
  staged_ = nullptr;
  staged_row_ = nullptr;
  stamp_ = NextStamp();
  ByteView row;
  if (ready) {
    if (values.size() != def_.columns.size()) throw JetError(kErrInvalidArgument);
    std::span<uint8_t> bytes(ready->row);
    for (const auto& n : ready->numbers) {
      const Value& v = values[n.column];
      if (v.is_null()) continue;
      Put32(bytes, n.value_at, static_cast<uint32_t>(v.as<int32_t>()));
      bytes[n.mask_at] = static_cast<uint8_t>(bytes[n.mask_at] | n.bit);
    }
    // Long values take their pages in column order, before the row, as
    // EncodeRow writes them.
    for (const auto& o : ready->outside) {
      const Bytes header = WriteLongValue(o.payload, 0);
      std::copy(header.begin(), header.end(),
                bytes.begin() + static_cast<ptrdiff_t>(o.header_at));
    }
    row = ready->row;
  } else {
    EncodeRow(values, 0, stored);
    row = row_;
  }
  RowId id = PlaceRow(row, 0);
  ++def_.row_count;
  def_dirty_ = true;
  return id;
}

void Table::Update(RowId id, const std::vector<Value>& values) {
  stamp_ = NextStamp();
  const Format& f = format();
  ByteView page = pager_->Read(id.page);
  RowBounds head = GetRowBounds(f, page, id.row);
  if (head.deleted()) throw JetError(kErrNoCurrentRecord);
  RowId home = head.lookup() ? ReadOverflowPointer(f, page, id.row) : id;
  size_t slot = GetRowBounds(f, pager_->Read(home.page), home.row).size();

  EncodeRow(values, slot);
  if (row_.size() == slot) {
    if (ReplaceRow(f, pager_->Modify(home.page), home.row, row_)) return;
  }
  // No room in place: store the row elsewhere, hidden from scans, and turn
  // the original slot into a pointer to it.
  last_page_ = 0;
  RowId moved = PlaceRow(row_, kRowDeleted);
  if (home.page != id.page || home.row != id.row) MarkRowDeleted(f, pager_->Modify(home.page), home.row);
  if (!WriteOverflowPointer(f, pager_->Modify(id.page), id.row, moved)) {
    throw JetError(kErrRecordTooLarge);
  }
}

void Table::Delete(RowId id) {
  stamp_ = NextStamp();
  const Format& f = format();
  Bytes page = pager_->Copy(id.page);
  RowBounds rb = GetRowBounds(f, page, id.row);
  if (rb.deleted()) throw JetError(kErrNoCurrentRecord);
  if (rb.lookup()) {
    RowId home = ReadOverflowPointer(f, page, id.row);
    if (home.page != id.page) {
      Bytes other = pager_->Copy(home.page);
      MarkRowDeleted(f, other, home.row);
      pager_->Write(home.page, other);
    } else {
      MarkRowDeleted(f, page, home.row);
    }
  }
  MarkRowDeleted(f, page, id.row);
  pager_->Write(id.page, page);
  if (def_.row_count > 0) --def_.row_count;
  def_dirty_ = true;
}

void Table::SaveDefinition() {
  if (!def_dirty_) return;
  const Format& f = format();
  Bytes page = pager_->Copy(def_.page);
  Put32(page, f.tdef_offset_num_rows, def_.row_count);
  Put32(page, f.tdef_offset_next_autonum, def_.next_auto_number);
  pager_->Write(def_.page, page);
  def_dirty_ = false;
}

void Table::RewriteDefinition() {
  const Format& f = format();
  Bytes block = SerializeTableDef(def_);
  std::vector<uint32_t> pages;
  uint32_t next = def_.page;
  while (next != 0 && pages.size() < TableDefPagesNeeded(f, block.size())) {
    pages.push_back(next);
    next = Get32(pager_->Read(next), 4);
  }
  while (pages.size() < TableDefPagesNeeded(f, block.size())) {
    uint32_t p = pager_->Allocate();
    MarkPageAllocated(*pager_, p);
    pages.push_back(p);
  }
  std::vector<Bytes> images = SplitTableDef(f, block, pages);
  for (size_t i = 0; i < pages.size(); ++i) pager_->Write(pages[i], images[i]);
  def_dirty_ = false;
}

}  // namespace jet
