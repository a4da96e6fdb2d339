#include "jet/column_writer.h"

#include <algorithm>
#include <cstring>

#include "jet/data_page.h"
#include "jet/database.h"
#include "jet/error.h"
#include "jet/integrity.h"
#include "jet/value_codec.h"

namespace jet {
namespace {

// Jet 4 rows open with a two-byte column count.
constexpr size_t kColumnCountSize = 2;
// Undo records go in blocks of about this size: a statement over a million
// rows neither copies them as they grow nor holds one large allocation.
constexpr size_t kUndoBlockSize = size_t{64} << 10;

// Fixed-size values are 1, 2, 4, 8 or 16 bytes: copies of those sizes
// compile to plain moves.
void CopyValue(uint8_t* to, const uint8_t* from, size_t n) {
  switch (n) {
    case 1: *to = *from; break;
    case 2: std::memcpy(to, from, 2); break;
    case 4: std::memcpy(to, from, 4); break;
    case 8: std::memcpy(to, from, 8); break;
    case 16: std::memcpy(to, from, 16); break;
    default: std::memcpy(to, from, n); break;
  }
}

bool Referenced(const std::vector<uint16_t>& columns, uint16_t number) {
  return std::find(columns.begin(), columns.end(), number) != columns.end();
}

}  // namespace

ColumnWriter::FixedPlace ColumnWriter::Locate(const TableDef& def, const ColumnDef& c, ByteView row) {
  if (row.size() < kColumnCountSize) throw JetError(kErrCorrupt);
  const size_t ncols = Get16(row, 0);
  const size_t mask_size = (ncols + 7) / 8;
  if (mask_size + kColumnCountSize > row.size()) throw JetError(kErrCorrupt);
  FixedPlace p;
  if (c.number >= ncols) return p;
  const size_t tail = row.size() - mask_size;
  p.held = true;
  p.at = kColumnCountSize + c.fixed_offset;
  p.mask_at = tail + c.number / 8;
  p.bit = static_cast<uint8_t>(1u << (c.number % 8));
  // The first variable offset (or the end of data when there is none) sits
  // just below the count of variable columns.
  p.fixed_end = def.var_column_count > 0 && tail >= 4 ? Get16(row, tail - 4) : tail;
  return p;
}

bool ColumnWriter::Applies(FileState& db, Table& t, const std::vector<size_t>& slots) {
  const TableDef& def = t.def();
  if (t.format().version < 4) return false;
  for (size_t i = 0; i < slots.size(); ++i) {
    if (slots[i] >= def.columns.size()) return false;
    if (std::find(slots.begin(), slots.begin() + static_cast<ptrdiff_t>(i), slots[i]) !=
        slots.begin() + static_cast<ptrdiff_t>(i)) {
      return false;
    }
    const ColumnDef& c = def.columns[slots[i]];
    if (!c.fixed() || c.type == ColumnType::kBoolean || IsLongValue(c.type) || c.auto_number()) {
      return false;
    }
    for (const auto& ri : def.real_indexes) {
      for (const auto& ic : ri.columns) {
        if (ic.column_number == c.number) return false;
      }
    }
    for (const auto& link : db.integrity().Links()) {
      if (link.child_page == def.page && Referenced(link.child_columns, c.number)) return false;
      if (link.parent_page == def.page && Referenced(link.parent_columns, c.number)) return false;
    }
  }
  for (size_t slot : PlanRules(db, t).decoded) {
    if (IsLongValue(def.columns[slot].type)) return false;
  }
  return true;
}

ColumnWriter::RulePlan ColumnWriter::PlanRules(FileState& db, Table& t) {
  const TableDef& def = t.def();
  const auto& rules = db.integrity().Rules(t);
  RulePlan plan;
  for (size_t i = 0; i < def.columns.size(); ++i) {
    const ColumnType type = def.columns[i].type;
    const bool text = type == ColumnType::kText || type == ColumnType::kMemo;
    const bool no_empty = text && !rules[i].allow_zero_length;
    if (rules[i].required || no_empty) plan.columns.push_back({i, rules[i].required, no_empty});
    if (!def.columns[i].fixed() && type != ColumnType::kBoolean && (rules[i].required || no_empty)) {
      plan.decoded.push_back(i);
    }
  }
  for (const auto& ri : def.real_indexes) {
    if (!(ri.flags & kIdxRequired)) continue;
    auto& slots = plan.required_indexes.emplace_back();
    for (const auto& ic : ri.columns) {
      const size_t slot = def.SlotOf(ic.column_number);
      slots.push_back(slot);
      if (!def.columns[slot].fixed() && def.columns[slot].type != ColumnType::kBoolean) {
        plan.decoded.push_back(slot);
      }
    }
  }
  std::sort(plan.decoded.begin(), plan.decoded.end());
  plan.decoded.erase(std::unique(plan.decoded.begin(), plan.decoded.end()), plan.decoded.end());
  return plan;
}

ColumnWriter::ColumnWriter(FileState& db, Table& t, std::vector<size_t> slots)
    : db_(db), t_(t), slots_(std::move(slots)), rules_(PlanRules(db, t)), scan_(t) {
  const TableDef& def = t.def();
  record_size_ = 4;
  written_.assign(def.columns.size(), false);
  for (size_t slot : slots_) {
    record_size_ += 1 + def.columns[slot].length;
    written_[slot] = true;
  }
  per_block_ = std::max<size_t>(1, kUndoBlockSize / record_size_);
  // The columns a Null would break, where the common row is checked at once.
  std::vector<bool> not_null(def.columns.size(), false);
  for (const auto& r : rules_.columns) not_null[r.slot] = not_null[r.slot] || r.required;
  for (const auto& slots : rules_.required_indexes) {
    for (size_t slot : slots) not_null[slot] = true;
  }
  for (size_t i = 0; i < not_null.size(); ++i) {
    const ColumnDef& c = def.columns[i];
    if (!not_null[i] || c.type == ColumnType::kBoolean) continue;
    if (written_[i] || !c.fixed()) {
      valued_.push_back(i);
      continue;
    }
    held_columns_ = std::max<size_t>(held_columns_, size_t{c.number} + 1);
    const size_t byte = c.number / 8;
    auto it = std::find_if(present_bits_.begin(), present_bits_.end(),
                           [&](const auto& b) { return b.first == byte; });
    if (it == present_bits_.end()) it = present_bits_.insert(present_bits_.end(), {byte, 0});
    it->second = static_cast<uint8_t>(it->second | (1u << (c.number % 8)));
  }
}

bool ColumnWriter::Next() {
  cracked_ = false;
  return scan_.Next();
}

void ColumnWriter::Decode(size_t slot, Value& out) {
  const TableDef& def = t_.def();
  const ColumnDef& c = def.columns[slot];
  const ByteView row = scan_.bytes();
  ColumnSlice slice;
  if (c.fixed() || c.type == ColumnType::kBoolean) {
    const FixedPlace p = Locate(def, c, row);
    if (p.held) {
      slice.present = (row[p.mask_at] & p.bit) != 0;
      if (slice.present && c.type != ColumnType::kBoolean) {
        CheckRange(row, p.at, c.length);
        slice.data = row.subspan(p.at, c.length);
      }
    }
  } else {
    if (!cracked_) {
      CrackRow(t_.format(), def, row, slices_);
      cracked_ = true;
    }
    slice = slices_[slot];
  }
  t_.DecodeColumnInto(c, slice, out);
}

bool ColumnWriter::IsNull(const std::vector<Value>& row, size_t slot) {
  const TableDef& def = t_.def();
  const ColumnDef& c = def.columns[slot];
  if (c.type == ColumnType::kBoolean) return false;
  if (written_[slot] || !c.fixed()) return row[slot].is_null();
  const ByteView stored = scan_.bytes();
  const FixedPlace p = Locate(def, c, stored);
  return !p.held || !(stored[p.mask_at] & p.bit);
}

bool ColumnWriter::NoNulls(const std::vector<Value>& row) {
  for (size_t slot : valued_) {
    if (row[slot].is_null()) return false;
  }
  if (present_bits_.empty()) return true;
  const ByteView stored = scan_.bytes();
  if (stored.size() < kColumnCountSize) return false;
  const size_t ncols = Get16(stored, 0);
  const size_t mask_size = (ncols + 7) / 8;
  if (ncols < held_columns_ || mask_size + kColumnCountSize > stored.size()) return false;
  const uint8_t* mask = stored.data() + stored.size() - mask_size;
  for (const auto& [byte, bits] : present_bits_) {
    if ((mask[byte] & bits) != bits) return false;
  }
  return true;
}

void ColumnWriter::CheckRules(const std::vector<Value>& row) {
  if (rules_.decoded.empty() && NoNulls(row)) return;
  // Integrity::CheckValues in the same order, reading the stored row's
  // null-mask bits where the column is fixed-size and not written.
  const TableDef& def = t_.def();
  for (const auto& r : rules_.columns) {
    if (r.required && IsNull(row, r.slot)) throw JetError(kErrRequired, def.columns[r.slot].name);
    const Value& v = row[r.slot];
    if (r.no_empty_text && v.is<std::string>() && v.as<std::string>().empty()) {
      throw JetError(kErrZeroLength, def.columns[r.slot].name);
    }
  }
  for (const auto& slots : rules_.required_indexes) {
    for (size_t slot : slots) {
      if (IsNull(row, slot)) throw JetError(kErrIndexNull);
    }
  }
}

bool ColumnWriter::Write(const std::vector<Value>& row) {
  CheckRules(row);
  const TableDef& def = t_.def();
  encoded_.clear();
  for (size_t slot : slots_) {
    const ColumnDef& c = def.columns[slot];
    if (row[slot].is_null()) continue;
    const size_t start = encoded_.size();
    AppendEncodedValue(c, row[slot], 4, encoded_);
    if (encoded_.size() - start != c.length) throw JetError(kErrInvalidArgument);
  }

  const Format& f = t_.format();
  RowId home = scan_.row_id();
  const auto seen = reinterpret_cast<uintptr_t>(scan_.bytes().data());
  std::span<uint8_t> page = t_.pager().Modify(home.page);
  std::span<uint8_t> stored;
  const auto image = reinterpret_cast<uintptr_t>(page.data());
  if (seen >= image && seen + scan_.bytes().size() <= image + page.size()) {
    // The row the scan read lies in this image: it has not moved.
    stored = page.subspan(seen - image, scan_.bytes().size());
  } else {
    RowBounds rb = GetRowBounds(f, page, home.row);
    if (rb.lookup()) {
      home = ReadOverflowPointer(f, page, home.row);
      page = t_.pager().Modify(home.page);
      rb = GetRowBounds(f, page, home.row);
    }
    stored = page.subspan(rb.start, rb.size());
  }
  places_.clear();
  for (size_t slot : slots_) {
    const ColumnDef& c = def.columns[slot];
    const FixedPlace p = Locate(def, c, stored);
    if (!p.held || p.at + c.length > p.fixed_end) return false;
    places_.push_back(p);
  }

  if (records_ == blocks_.size() * per_block_) {
    blocks_.push_back(std::make_unique_for_overwrite<uint8_t[]>(per_block_ * record_size_));
  }
  uint8_t* out = Record(records_++);
  // The row as the scan met it: undo follows its pointer again when it moved.
  Put32(std::span<uint8_t>(out, 4), 0, scan_.row_id().Packed());
  out += 4;
  size_t from = 0;
  for (size_t i = 0; i < slots_.size(); ++i) {
    const size_t slot = slots_[i];
    const ColumnDef& c = def.columns[slot];
    const FixedPlace& p = places_[i];
    uint8_t* value = stored.data() + p.at;
    *out++ = (stored[p.mask_at] & p.bit) ? 1 : 0;
    CopyValue(out, value, c.length);
    out += c.length;
    if (row[slot].is_null()) {
      stored[p.mask_at] = static_cast<uint8_t>(stored[p.mask_at] & ~p.bit);
      std::memset(value, 0, c.length);
    } else {
      stored[p.mask_at] = static_cast<uint8_t>(stored[p.mask_at] | p.bit);
      CopyValue(value, encoded_.data() + from, c.length);
      from += c.length;
    }
  }
  return true;
}

void ColumnWriter::Undo(size_t keep) {
  const TableDef& def = t_.def();
  const Format& f = t_.format();
  while (written() > keep) {
    const uint8_t* in = Record(records_ - 1);
    RowId home = RowId::FromPacked(Get32(ByteView(in, 4), 0));
    in += 4;
    std::span<uint8_t> page = t_.pager().Modify(home.page);
    RowBounds rb = GetRowBounds(f, page, home.row);
    if (rb.lookup()) {
      home = ReadOverflowPointer(f, page, home.row);
      page = t_.pager().Modify(home.page);
      rb = GetRowBounds(f, page, home.row);
    }
    std::span<uint8_t> stored = page.subspan(rb.start, rb.size());
    for (size_t slot : slots_) {
      const ColumnDef& c = def.columns[slot];
      const FixedPlace p = Locate(def, c, stored);
      if (!p.held) throw JetError(kErrCorrupt);
      stored[p.mask_at] = static_cast<uint8_t>(*in++ ? stored[p.mask_at] | p.bit
                                                     : stored[p.mask_at] & ~p.bit);
      CopyValue(stored.data() + p.at, in, c.length);
      in += c.length;
    }
    --records_;
  }
}

}  // namespace jet
