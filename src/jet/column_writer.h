// Updates of fixed-size columns that no index and no enforced relation uses.
// Changing such a column moves no index entry, starts no cascade and leaves
// the row's size as it was, so the new value goes straight over the old
// bytes of the stored row (and its null-mask bit) on its data page. Every
// other byte of the row stays, so does its place: lookup rows keep pointing
// at it.
//
// The writer walks the table's rows like Table::Scan, decodes the columns
// its caller asks for, checks the table's value rules (Required, zero-length
// text, required indexes) on each changed row, and keeps what it overwrote:
// per row its row pointer as the scan met it, then for each written column
// its old null-mask bit and bytes. Undo puts them back, newest first.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

#include "jet/bytes.h"
#include "jet/row.h"
#include "jet/table.h"
#include "jet/value.h"

namespace jet {

class FileState;

class ColumnWriter {
 public:
  // Whether updates that write only the columns at `slots` of `t` may go in
  // place: a Jet 4 table, each column fixed-size (not Yes/No, not an
  // auto-number) and named once, none in an index or an enforced relation,
  // and no long value among the columns the value rules read.
  static bool Applies(FileState& db, Table& t, const std::vector<size_t>& slots);

  // `slots` must satisfy Applies. `db` and `t` outlive the writer.
  ColumnWriter(FileState& db, Table& t, std::vector<size_t> slots);

  // Columns (slots) the value rules need decoded (text, where an empty
  // string is refused); a row given to Write must hold them. The rules read
  // the other columns' null-mask bits from the stored row.
  const std::vector<size_t>& rule_columns() const { return rules_.decoded; }

  // Advances to the next live row; false at the end.
  bool Next();
  RowId row_id() const { return scan_.row_id(); }
  // Column `slot` of the current row into `out`. Long values are not read:
  // callers keep to other columns. Valid until Write or another table call.
  void Decode(size_t slot, Value& out);

  // Checks `row` (one value per column; the written columns hold their new
  // values, already of the column types, and every rule column its value)
  // and writes the written columns over the current row. Throws the rules'
  // error with nothing written. False, with nothing written, when the stored
  // row predates a written column (its bytes have no room for it): the
  // caller updates that row the ordinary way.
  bool Write(const std::vector<Value>& row);

  // Rows written so far; Undo(n) puts back the rows written after the n-th,
  // newest first, leaving n.
  size_t written() const { return records_; }
  void Undo(size_t keep);

 private:
  // The value rules as the writer applies them: Integrity::CheckValues's
  // checks in its order, for the columns they concern.
  struct ColumnRule {
    size_t slot;
    bool required;
    bool no_empty_text;
  };
  struct RulePlan {
    std::vector<ColumnRule> columns;
    std::vector<std::vector<size_t>> required_indexes;  // slots of each
    std::vector<size_t> decoded;
  };
  static RulePlan PlanRules(FileState& db, Table& t);

  // Where a fixed-size or Yes/No column lies in a stored row: the offset of
  // its value, its null-mask byte and bit, and where the fixed area ends
  // (the variable data, or the trailer, starts there).
  struct FixedPlace {
    bool held = false;  // false: the row was written before the column existed
    size_t at = 0;
    size_t mask_at = 0;
    uint8_t bit = 0;
    size_t fixed_end = 0;
  };
  static FixedPlace Locate(const TableDef& def, const ColumnDef& c, ByteView row);
  // Whether column `slot` of the row being written is Null.
  bool IsNull(const std::vector<Value>& row, size_t slot);
  void CheckRules(const std::vector<Value>& row);
  // Whether no column the rules keep from Null is Null: the common case,
  // answered from the null mask in one pass.
  bool NoNulls(const std::vector<Value>& row);

  FileState& db_;
  Table& t_;
  std::vector<size_t> slots_;
  std::vector<bool> written_;  // per column
  RulePlan rules_;
  // For NoNulls: columns read from `row` (written, or variable-length), and
  // null-mask bits (byte, bits) the stored row must have set, which needs
  // a row of at least `held_columns_` columns.
  std::vector<size_t> valued_;
  std::vector<std::pair<size_t, uint8_t>> present_bits_;
  size_t held_columns_ = 0;
  Table::Scan scan_;
  bool cracked_ = false;
  std::vector<ColumnSlice> slices_;
  Bytes encoded_;
  std::vector<FixedPlace> places_;
  // Per written row: the row pointer the scan met (undo follows it when the
  // row moved), then per written column one byte (1: had a value) and its
  // `length` old bytes.
  size_t record_size_ = 0;
  size_t per_block_ = 0;  // records in one block
  size_t records_ = 0;
  std::vector<std::unique_ptr<uint8_t[]>> blocks_;
  uint8_t* Record(size_t n) {
    return blocks_[n / per_block_].get() + (n % per_block_) * record_size_;
  }
};

}  // namespace jet
