// A table's live rows in the order their bytes lie in the file: owned data
// pages ascending, rows in page order, and a row that moved (an update that
// no longer fitted) where its bytes now are, not where its pointer stayed.
// That is the order other readers (mdbtools) list a table in; Table::Scan
// lists a moved row at its old place instead.
//
// Read-only. The table must outlive the scan, and the caller serialises
// access to the table as for any other read.
#pragma once

#include <cstdint>
#include <vector>

#include "jet/bytes.h"
#include "jet/table.h"

namespace jet {

class StoredOrderScan {
 public:
  explicit StoredOrderScan(Table& t);
  // Advances to the next live row; false at the end.
  bool Next();
  // Where the current row's bytes are.
  RowId row_id() const { return id_; }
  // The current row's bytes; valid until the next call on the table.
  ByteView bytes() const { return bytes_; }

 private:
  Table& t_;
  std::vector<uint32_t> pages_;
  size_t page_index_ = 0;
  int row_ = -1;
  uint16_t row_count_ = 0;
  RowId id_;
  ByteView bytes_;
};

}  // namespace jet
