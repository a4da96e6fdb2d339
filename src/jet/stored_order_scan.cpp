#include "jet/stored_order_scan.h"

#include "jet/data_page.h"
#include "jet/format.h"

namespace jet {

namespace {

// A data page of this table; long values share the page type.
bool IsRowPageOf(const Format& f, ByteView page, uint32_t tdef) {
  return page[0] == static_cast<uint8_t>(PageType::kData) && !IsLongValuePage(f, page) &&
         OwnerPage(f, page) == tdef;
}

}  // namespace

StoredOrderScan::StoredOrderScan(Table& t) : t_(t), pages_(t.OwnedPages()) {}

bool StoredOrderScan::Next() {
  const Format& f = t_.format();
  while (page_index_ < pages_.size()) {
    const uint32_t pg = pages_[page_index_];
    ByteView page = t_.pager().Read(pg);
    if (row_ < 0) {
      if (!IsRowPageOf(f, page, t_.def().page)) {
        ++page_index_;
        continue;
      }
      row_count_ = RowCount(f, page);
    }
    while (++row_ < row_count_) {
      const RowBounds rb = GetRowBounds(f, page, static_cast<uint16_t>(row_));
      // kRowLookup marks both a moved row's pointer and a deleted row; a
      // moved row's new home carries kRowDeleted alone and is read here.
      if (rb.flags & kRowLookup) continue;
      id_ = RowId{pg, static_cast<uint8_t>(row_)};
      bytes_ = page.subspan(rb.start, rb.size());
      return true;
    }
    row_ = -1;
    ++page_index_;
  }
  return false;
}

}  // namespace jet
