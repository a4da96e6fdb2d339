#include "jet/row.h"

#include <cstring>

#include <algorithm>

#include "jet/error.h"

namespace jet {
namespace {

// A row's variable-column offsets: n + 1 of them, the last where the data
// ends. Jet 4 rows hold them as two-byte entries read where they lie; a Jet
// 3 row's one-byte offsets need its jump table and are worked out here, at
// most 256 of them (its count is one byte). Kept on the stack: rows are
// cracked by the million, on any thread.
class VarTable {
 public:
  // Jet 4. `tail` is the index of the first null-mask byte.
  void Read4(ByteView row, size_t tail) {
    if (tail < 2) throw JetError(kErrCorrupt);
    const uint32_t n = Get16(row, tail - 2);
    const size_t need = 2 + 2 * (size_t{n} + 1);
    if (need > tail) throw JetError(kErrCorrupt);
    row_ = row;
    last_ = tail - 4;
    count_ = n + 1;
    jet4_ = true;
  }

  // Jet 3: one-byte offsets; the jump table, between them and the column
  // count, lists per 256-byte boundary the first variable column whose
  // offset passes it. Its size follows the row length, so the last entry
  // may be a dummy that only takes room.
  void Read3(ByteView row, size_t tail) {
    if (tail < 1) throw JetError(kErrCorrupt);
    const uint32_t n = Get8(row, tail - 1);
    size_t num_jumps = (row.size() - 1) / 256;
    if (tail < num_jumps + 2) throw JetError(kErrCorrupt);
    const size_t first = tail - num_jumps - 2;  // offset of variable column 0
    if (first < n) throw JetError(kErrCorrupt);
    if (num_jumps > 0 && (first - n) / 256 < num_jumps) --num_jumps;
    size_t jumps_used = 0;
    for (uint32_t i = 0; i <= n; ++i) {
      while (jumps_used < num_jumps && i == Get8(row, tail - 2 - jumps_used)) ++jumps_used;
      jet3_[i] = static_cast<uint32_t>(Get8(row, first - i) + jumps_used * 256);
    }
    count_ = n + 1;
    jet4_ = false;
  }

  size_t size() const { return count_; }
  uint32_t operator[](size_t i) const { return jet4_ ? Get16(row_, last_ - 2 * i) : jet3_[i]; }

 private:
  ByteView row_;
  size_t last_ = 0;  // Jet 4: where offset 0 lies
  size_t count_ = 0;
  bool jet4_ = false;
  uint32_t jet3_[256];
};

}  // namespace

void CrackRow(const Format& f, const TableDef& def, ByteView row, std::vector<ColumnSlice>& out) {
  out.assign(def.columns.size(), ColumnSlice{});
  const size_t count_size = f.row_column_count_size;
  if (row.size() < count_size) throw JetError(kErrCorrupt);
  uint32_t ncols = count_size == 1 ? Get8(row, 0) : Get16(row, 0);
  size_t mask_size = (size_t{ncols} + 7) / 8;
  if (mask_size + count_size > row.size()) throw JetError(kErrCorrupt);
  size_t tail = row.size() - mask_size;
  ByteView mask = row.subspan(tail, mask_size);

  VarTable vt;
  if (def.var_column_count > 0) {
    if (f.version >= 4) {
      vt.Read4(row, tail);
    } else {
      vt.Read3(row, tail);
    }
  }

  for (size_t i = 0; i < def.columns.size(); ++i) {
    const ColumnDef& c = def.columns[i];
    if (c.number >= ncols) continue;  // column added after the row was written
    bool bit = (mask[c.number / 8] >> (c.number % 8)) & 1;
    ColumnSlice& s = out[i];
    if (c.type == ColumnType::kBoolean) {
      s.present = bit;
      continue;
    }
    if (!bit) continue;
    if (c.fixed()) {
      size_t start = count_size + c.fixed_offset;
      CheckRange(row, start, c.length);
      s.present = true;
      s.data = row.subspan(start, c.length);
    } else {
      if (c.var_index + 1u >= vt.size()) continue;
      uint32_t start = vt[c.var_index];
      uint32_t end = vt[c.var_index + 1];
      if (start > end || end > tail) throw JetError(kErrCorrupt);
      s.present = true;
      s.data = row.subspan(start, end - start);
    }
  }
}

Bytes PackRow(const TableDef& def, const std::vector<PackedColumn>& cols, size_t min_size) {
  Bytes out;
  PackRowInto(def, cols, min_size, out);
  return out;
}

void PackRowInto(const TableDef& def, const std::vector<PackedColumn>& cols, size_t min_size,
                 Bytes& out) {
  if (cols.size() != def.columns.size()) throw JetError(kErrInvalidArgument);
  uint16_t ncols = def.max_columns;
  uint16_t nvar = 0;
  // The end of the fixed area, as TableDef::fixed_area_size gives it.
  uint16_t fixed_area = 0;
  for (const auto& c : def.columns) {
    ncols = std::max<uint16_t>(ncols, static_cast<uint16_t>(c.number + 1));
    if (!c.fixed()) {
      nvar = std::max<uint16_t>(nvar, static_cast<uint16_t>(c.var_index + 1));
    } else if (c.type != ColumnType::kBoolean) {
      fixed_area = std::max<uint16_t>(fixed_area, static_cast<uint16_t>(c.fixed_offset + c.length));
    }
  }
  const size_t mask_size = (size_t{ncols} + 7) / 8;
  if (mask_size > 32) throw JetError(kErrFieldCountExceeded);
  if (nvar > 256) throw JetError(kErrFieldCountExceeded);

  // Variable columns go in their table order; slots of deleted columns take
  // the offset of the next value, so they read as empty.
  const PackedColumn* var_small[256];
  std::fill(var_small, var_small + nvar, nullptr);
  const size_t fixed_start = 2;
  size_t var_bytes = 0;
  for (size_t i = 0; i < def.columns.size(); ++i) {
    const ColumnDef& c = def.columns[i];
    const PackedColumn& v = cols[i];
    if (c.type == ColumnType::kBoolean) continue;
    if (c.fixed()) {
      if (v.present && v.data.size() != c.length) throw JetError(kErrInvalidArgument);
    } else {
      var_small[c.var_index] = &v;
      if (v.present) var_bytes += v.data.size();
    }
  }

  // The row is sized once and written in place: zeros where nothing goes
  // (absent fixed values, padding up to min_size).
  const bool has_var = def.var_column_count > 0;
  const size_t trailer = mask_size + (has_var ? 4 + 2 * size_t{nvar} : 0);
  const size_t data_end = fixed_start + fixed_area + (has_var ? var_bytes : 0);
  const size_t body = std::max(data_end, min_size > trailer ? min_size - trailer : 0);
  out.assign(body + trailer, 0);
  uint8_t* row = out.data();
  row[0] = static_cast<uint8_t>(ncols);
  row[1] = static_cast<uint8_t>(ncols >> 8);
  uint8_t* mask = row + body + trailer - mask_size;
  for (size_t i = 0; i < def.columns.size(); ++i) {
    const ColumnDef& c = def.columns[i];
    const PackedColumn& v = cols[i];
    if (!v.present) continue;
    mask[c.number / 8] = static_cast<uint8_t>(mask[c.number / 8] | (1u << (c.number % 8)));
    if (c.type != ColumnType::kBoolean && c.fixed() && !v.data.empty()) {
      std::memcpy(row + fixed_start + c.fixed_offset, v.data.data(), v.data.size());
    }
  }
  if (has_var) {
    auto put16 = [](uint8_t* at, size_t v) {
      at[0] = static_cast<uint8_t>(v);
      at[1] = static_cast<uint8_t>(v >> 8);
    };
    size_t at = fixed_start + fixed_area;
    // After the padding: the end of the data, the offsets last to first,
    // their count.
    uint8_t* offsets = row + body + 2;
    for (uint16_t i = 0; i < nvar; ++i) {
      put16(offsets + 2 * (size_t{nvar} - 1 - i), at);
      const PackedColumn* v = var_small[i];
      if (v && v->present && !v->data.empty()) {
        std::memcpy(row + at, v->data.data(), v->data.size());
        at += v->data.size();
      }
    }
    put16(row + body, at);
    put16(offsets + 2 * size_t{nvar}, nvar);
  }
}

}  // namespace jet
