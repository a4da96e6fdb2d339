// Row layout on data pages. A stored row holds, in order: the column count,
// the fixed-length area, the variable-length data, then (read from the end)
// the null mask, the count of variable columns, their offset table (stored in
// reverse) and the end-of-data offset. Jet 3 uses one-byte offsets with a
// jump table for rows over 256 bytes; Jet 4 uses two-byte offsets.
//
//   Jet 4:  [ncols:2][fixed...][var data...][eod:2][var_off n-1..0:2 each][nvar:2][null mask]
//
// A null-mask bit of 1 means "has a value"; Boolean columns keep their value
// in that bit and occupy no data.
#pragma once

#include <vector>

#include "jet/bytes.h"
#include "jet/format.h"
#include "jet/tabledef.h"

namespace jet {

// One column of a cracked row. For Boolean columns `present` is the value.
struct ColumnSlice {
  bool present = false;
  ByteView data;
};

// Splits `row` into one slice per entry of `def.columns` (same order). The
// slices point into `row`. Throws JetError(kErrCorrupt) on a malformed row.
void CrackRow(const Format& f, const TableDef& def, ByteView row, std::vector<ColumnSlice>& out);

// The stored bytes of one column value to pack; `present == false` is null.
// For Boolean columns `present` is the value and `data` is ignored. For long
// values (Memo, OLE) `data` is the 12-byte long-value header.
struct PackedColumn {
  bool present = false;
  ByteView data;
};

// Builds a Jet 4 row from one entry per `def.columns` (same order). A row
// shorter than `min_size` is padded with zeros after its data, so that it
// can replace a longer row in place.
Bytes PackRow(const TableDef& def, const std::vector<PackedColumn>& cols, size_t min_size = 0);
// The same into `out`, reusing its storage.
void PackRowInto(const TableDef& def, const std::vector<PackedColumn>& cols, size_t min_size,
                 Bytes& out);

}  // namespace jet
