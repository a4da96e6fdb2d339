// Index keys: the bytes a Jet 4 index entry carries for its column values,
// byte for byte as the engine writes them, so that entries we insert sort
// where the engine looks for them. Entries compare by plain byte order
// (CompareKeys), a shorter key first when one is a prefix of the other.
//
// Each column contributes a flag byte (0x7f value / 0x00 null ascending,
// 0x80 / 0xff descending) followed, for a value, by its encoding. Text and
// Memo use the General sort order (sort_general.h); other sort orders are
// refused with JetError 3219. OLE columns cannot be indexed (3219); a value
// of the wrong kind for its column is JetError 3464.
#pragma once

#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "jet/bytes.h"
#include "jet/index_page.h"
#include "jet/tabledef.h"
#include "jet/value.h"

namespace jet {

// One column of a key. The pointers must stay valid during the call.
struct KeyPart {
  const Value* value;
  const ColumnDef* column;
  bool ascending = true;
};

// The whole key of one entry (without the row pointer).
Bytes EncodeIndexKey(std::span<const KeyPart> parts);

// Appends one column's flag byte and encoding to `out`.
void AppendKeyColumn(Bytes& out, const Value& value, const ColumnDef& column, bool ascending);

// The encoding of a non-null text value after its flag byte: General sort
// order codes, the 0x01 terminator, the extra codes and the closing 0x00.
// Only the first 255 code units count, and trailing spaces are dropped.
void AppendGeneralText(Bytes& out, std::u16string_view text, bool ascending);

// True when the column's text sorts in the order AppendGeneralText
// reproduces: locale 0x409 (or 0, read as the same) with sort version 0.
bool IsGeneralSortOrder(const ColumnDef& column);

// The key of a row (one value per definition column) in a real index of
// that table. 3049 when the index names a column the table lacks.
Bytes RowIndexKey(const TableDef& def, const RealIndexDef& index, const std::vector<Value>& values);
// The same appended to `out`.
void AppendRowIndexKey(Bytes& out, const TableDef& def, const RealIndexDef& index,
                       const std::vector<Value>& values);

// A row's key in every real index of its table, built once per row change
// for both the integrity checks and index maintenance, and where the unique
// checks found each key would go. Reused from row to row, so inserts
// allocate nothing for keys once warm.
class RowKeys {
 public:
  void Build(const TableDef& def, const std::vector<Value>& values);
  // By position in def.real_indexes.
  ByteView operator[](size_t index) const { return keys_[index]; }
  size_t size() const { return count_; }
  // Empty unless a search of that index since Build left one.
  const IndexSpot& spot(size_t index) const { return spots_[index]; }
  IndexSpot& spot(size_t index) { return spots_[index]; }

 private:
  std::vector<Bytes> keys_;
  std::vector<IndexSpot> spots_;
  size_t count_ = 0;
};

// Byte order of two keys: <0, 0, >0.
int CompareKeys(ByteView a, ByteView b);

}  // namespace jet
