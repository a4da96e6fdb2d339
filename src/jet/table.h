// A table's rows on its data pages: full scans in stored order, reading a
// row's values (long values resolved), and the raw row operations (insert,
// update, delete) on which integrity checks and index maintenance are built.
//
// A Table keeps its definition in memory; row count and auto-number changes
// reach the TDEF page when SaveDefinition runs (the owner calls it before
// the pager flushes). Callers serialise access, as for the pager.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "jet/bytes.h"
#include "jet/pager.h"
#include "jet/row.h"
#include "jet/tabledef.h"
#include "jet/value.h"

namespace jet {

// What Table::EncodeAhead reuses from row to row, kept by whoever encodes
// (one thread at a time). The engine keeps no thread_local objects: MinGW-w64
// frees a thread's emulated TLS block before it runs their destructors,
// which then free through freed memory, corrupting the heap of the threads
// that go on.
struct EncodeScratch {
  Bytes arena, payload;
  std::vector<std::pair<size_t, size_t>> spans;
  std::vector<PackedColumn> packed;
  std::vector<ColumnSlice> slices;
};

class Table {
 public:
  Table(std::shared_ptr<Pager> pager, TableDef def, std::string name);

  const std::string& name() const { return name_; }
  const TableDef& def() const { return def_; }
  TableDef& mutable_def() { return def_; }
  Pager& pager() { return *pager_; }
  const Format& format() const { return *format_; }

  // Where a scan lists a row that an update moved because it no longer
  // fitted: at its pointer's slot (the row keeps its place and its RowId),
  // or where its bytes now lie (the order other readers, mdbtools, list a
  // table in).
  enum class MovedRows { kAtPointer, kWhereStored };

  // Walks the live rows in stored order: owned data pages ascending, rows in
  // page order.
  class Scan {
   public:
    explicit Scan(Table& t, MovedRows moved = MovedRows::kAtPointer);
    // Advances to the next live row; false at the end.
    bool Next();
    RowId row_id() const { return id_; }
    // The current row's bytes; valid until the next call on the table.
    ByteView bytes() const { return bytes_; }

   private:
    Table& t_;
    MovedRows moved_;
    std::vector<uint32_t> pages_;
    size_t page_index_ = 0;
    int row_ = -1;
    uint16_t row_count_ = 0;
    RowId id_;
    ByteView bytes_;
  };

  // The bytes of a live row (following a lookup row to its new home);
  // 3021 when the row is deleted or does not exist.
  ByteView RowData(RowId id);
  // One value per definition column (same order), long values read.
  std::vector<Value> ReadRow(RowId id);
  void DecodeRow(ByteView row, std::vector<Value>& out);
  // The value of one column of a cracked row.
  Value DecodeColumn(const ColumnDef& col, const ColumnSlice& slice);
  // The same into `out`, reusing the storage it holds.
  void DecodeColumnInto(const ColumnDef& col, const ColumnSlice& slice, Value& out);

  // Appends to `out` what the row holds for a present column, in this
  // table's own format: the stored bytes, or for Memo and OLE the whole
  // long-value payload. `slice` is from a cracked row of this table.
  void ReadStored(const ColumnDef& col, const ColumnSlice& slice, Bytes& out);
  // Whether a Memo or OLE column's bytes in a row (a present slice) hold
  // its whole value, so that reading it reads no other page.
  static bool LongValueInRow(ByteView slice);

  // A column's bytes in the form ReadStored gives them, to be stored as
  // they are instead of encoded from a value.
  struct StoredColumn {
    bool set = false;
    Bytes bytes;
  };
  // Gives the next Insert, and only that one, stored bytes for the columns
  // whose entry is set (one entry per definition column); their entries in
  // the values must still be null exactly when absent. nullptr withdraws
  // them. `stored` must outlive the Insert.
  void StageStored(const std::vector<StoredColumn>* stored) { staged_ = stored; }

  // A new row encoded away from the table, on another thread if need be:
  // the bytes Insert would store for the same values, but that long values
  // too large to stay in the row wait here for their pages (their 12-byte
  // headers zero in the row), and so do auto-numbers not yet given (zeros,
  // their null-mask bit clear). A waiting long value's payload is a view of
  // the stored bytes it was encoded from, or of `payloads`.
  struct EncodedRow {
    Bytes row;
    struct Outside {
      size_t column;
      size_t header_at;  // in `row`
      ByteView payload;
      size_t kept;       // where in `payloads`, or SIZE_MAX
      size_t kept_size;
    };
    std::vector<Outside> outside;
    Bytes payloads;
    struct Number {
      size_t column;
      size_t value_at;
      size_t mask_at;
      uint8_t bit;
    };
    std::vector<Number> numbers;
  };
  // Encodes `values` (and `stored`, as StageStored takes them) for a table
  // of `def` into `out`. Reads nothing but its arguments. The errors
  // Insert's encoding would throw.
  static void EncodeAhead(const Format& f, const TableDef& def, const std::vector<Value>& values,
                          const std::vector<StoredColumn>* stored, EncodedRow& out,
                          EncodeScratch& scratch);
  // Gives the next Insert, and only that one, its row ready made: the
  // values it is given must be those `row` was encoded from, but for the
  // auto-numbers it left waiting. nullptr withdraws it; `row`, and the
  // stored bytes it was encoded from, must outlive the Insert.
  void StageEncoded(EncodedRow* row) { staged_row_ = row; }

  // Stores a row of one value per definition column (values already of the
  // column types; nulls allowed) and returns where it went. No checks beyond
  // the row's size: integrity lives above.
  RowId Insert(const std::vector<Value>& values);
  // Rewrites a row in place, or moves it and leaves a lookup row behind.
  void Update(RowId id, const std::vector<Value>& values);
  void Delete(RowId id);

  // A stamp that changes with every Insert, Update and Delete and that no
  // other Table of the process ever had: a cache of what the rows say is
  // current while the stamp it was read at still holds.
  uint64_t stamp() const { return stamp_; }

  // Hands out the next auto-number value.
  int32_t NextAutoNumber();
  // Moves the counter past a value given explicitly.
  void SeeAutoNumber(int32_t used);

  // Writes row count and auto-number back to the TDEF page when changed.
  void SaveDefinition();
  // Rewrites the whole definition (after indexes or columns change); the
  // TDEF keeps its pages, growing the chain when it needs more.
  void RewriteDefinition();

  // Pages the table owns (data pages, and any others recorded there).
  std::vector<uint32_t> OwnedPages();

  // Whether CheckBeforeWriting (structure_check.h) passed for this table.
  bool checked_for_writing() const { return checked_for_writing_; }
  void set_checked_for_writing() { checked_for_writing_ = true; }

 private:
  Bytes WriteLongValue(ByteView payload, size_t row_room);
  Bytes ReadLongValue(ByteView header);
  void ReadLongValueInto(ByteView header, Bytes& out);
  RowId PlaceRow(ByteView row, uint16_t flags);
  uint32_t NewDataPage();
  uint32_t PlaceLongValueRow(ByteView row, RowId& where);

  std::shared_ptr<Pager> pager_;
  const Format* format_;  // the pager's, fixed for the file's life
  TableDef def_;
  std::string name_;
  bool def_dirty_ = false;
  bool checked_for_writing_ = false;
  uint64_t stamp_;
  uint32_t last_page_ = 0;        // data page that took the last insert
  uint32_t last_lval_page_ = 0;   // long-value page with room
  // Encodes `values` into packed_ (views into arena_) and the row into row_.
  void EncodeRow(const std::vector<Value>& values, size_t min_size,
                 const std::vector<StoredColumn>* stored = nullptr);
  const std::vector<StoredColumn>* staged_ = nullptr;
  EncodedRow* staged_row_ = nullptr;

  std::vector<ColumnSlice> slices_;
  Bytes scratch_;
  Bytes payload_;  // a long value's, while EncodeRow writes it
  Bytes arena_;
  std::vector<std::pair<size_t, size_t>> spans_;
  std::vector<PackedColumn> packed_;
  Bytes row_;
};

}  // namespace jet
