#include <gtest/gtest.h>

#include <filesystem>

#include "jet/data_page.h"
#include "jet/error.h"
#include "jet/pager.h"
#include "support/fixtures.h"
#include "support/jet_error.h"

namespace {

using testing_support::ErrorOf;

using jet::Bytes;
using jet::ByteView;
using jet::Format;
namespace fs = std::filesystem;


Bytes Filled(size_t n, uint8_t v) { return Bytes(n, v); }
Bytes Row(const Format& f, ByteView page, uint16_t r) {
  ByteView v = jet::RowBytes(f, page, r);
  return Bytes(v.begin(), v.end());
}

// Every data page of every fixture, rebuilt row by row with AppendRow, has
// the engine's offsets, free space and row bytes.
TEST(DataPageTest, RebuildingFixturePagesReproducesTheEngineLayout) {
  REQUIRE_FIXTURES();
  int pages = 0, rows = 0, lval = 0;
  for (const auto& path : testing_support::FixtureFiles(testing_support::Encrypted::kIncluded)) {
    SCOPED_TRACE(path.string());
    auto pager = jet::Pager::Open(path.string(), jet::OpenMode::kReadOnly, false);
    const Format& f = pager->format();
    for (uint32_t p = 1; p < pager->page_count(); ++p) {
      Bytes page = pager->Copy(p);
      if (page[0] != 0x01) continue;
      ++pages;
      ASSERT_EQ(jet::FreeSpace(f, page), jet::ComputeFreeSpace(f, page)) << "page " << p;
      Bytes built(f.page_size);
      if (jet::IsLongValuePage(f, page)) {
        ++lval;
        jet::InitLongValuePage(f, built);
      } else {
        jet::InitDataPage(f, built, jet::OwnerPage(f, page));
      }
      uint16_t n = jet::RowCount(f, page);
      for (uint16_t r = 0; r < n; ++r) {
        jet::RowBounds b = jet::GetRowBounds(f, page, r);
        ASSERT_EQ(jet::AppendRow(f, built, jet::RowBytes(f, page, r), b.flags), r);
        ++rows;
      }
      // Jet 4's 4 stamped bytes are the engine's own business.
      for (size_t i = 8; i < f.data_row_count_offset; ++i) built[i] = page[i];
      size_t table_end = f.data_row_table_offset + 2u * n;
      size_t lowest = table_end + jet::FreeSpace(f, page);
      ASSERT_TRUE(std::equal(built.begin(), built.begin() + table_end, page.begin()))
          << "header of page " << p;
      ASSERT_TRUE(std::equal(built.begin() + lowest, built.end(), page.begin() + lowest))
          << "rows of page " << p;
    }
  }
  EXPECT_GT(pages, 1000);
  EXPECT_GT(rows, 9000);
  EXPECT_GT(lval, 0);
}

TEST(DataPageTest, AppendFillsToFreeSpaceAndRowLimit) {
  for (const Format* f : {&jet::Jet3Format(), &jet::Jet4Format()}) {
    SCOPED_TRACE(f->version);
    Bytes page(f->page_size);
    jet::InitDataPage(*f, page, 77);
    EXPECT_EQ(jet::OwnerPage(*f, page), 77u);
    EXPECT_EQ(jet::FreeSpace(*f, page), f->page_size - f->data_row_table_offset);
    EXPECT_FALSE(jet::IsLongValuePage(*f, page));

    // Big rows: limited by space. Row N sits right below row N-1.
    size_t big = 500;
    int added = 0;
    while (jet::AppendRow(*f, page, Filled(big, static_cast<uint8_t>(added + 1))) >= 0) ++added;
    EXPECT_EQ(added, static_cast<int>((f->page_size - f->data_row_table_offset) / (big + 2)));
    EXPECT_LT(jet::FreeSpace(*f, page), big + 2);
    for (int r = 0; r < added; ++r) {
      jet::RowBounds b = jet::GetRowBounds(*f, page, static_cast<uint16_t>(r));
      EXPECT_EQ(b.end, f->page_size - r * big);
      EXPECT_EQ(b.size(), big);
      EXPECT_EQ(jet::RowBytes(*f, page, static_cast<uint16_t>(r))[0], r + 1);
    }
    // An exact fit is accepted.
    size_t rest = jet::FreeSpace(*f, page) - 2;
    EXPECT_EQ(jet::AppendRow(*f, page, Filled(rest, 9)), added);
    EXPECT_EQ(jet::FreeSpace(*f, page), 0);

    // Tiny rows: limited to 255 per page.
    jet::InitLongValuePage(*f, page);
    EXPECT_TRUE(jet::IsLongValuePage(*f, page));
    for (int r = 0; r < 255; ++r) ASSERT_EQ(jet::AppendRow(*f, page, Filled(1, 1)), r);
    EXPECT_FALSE(jet::RowFits(*f, page, 1));
    EXPECT_EQ(jet::AppendRow(*f, page, Filled(1, 1)), -1);
    EXPECT_EQ(jet::RowCount(*f, page), 255);
  }
}

TEST(DataPageTest, DeleteReplaceOverflowAndCompact) {
  const Format& f = jet::Jet4Format();
  Bytes page(f.page_size);
  jet::InitDataPage(f, page, 5);
  for (int r = 0; r < 4; ++r) jet::AppendRow(f, page, Filled(10 + r, static_cast<uint8_t>(r)));
  uint16_t free_before = jet::FreeSpace(f, page);

  // Replace: same size in place; larger refused; shorter is a caller bug.
  EXPECT_TRUE(jet::ReplaceRow(f, page, 1, Filled(11, 0xee)));
  EXPECT_EQ(jet::RowBytes(f, page, 1)[10], 0xee);
  Bytes before = page;
  EXPECT_FALSE(jet::ReplaceRow(f, page, 1, Filled(12, 0xee)));
  EXPECT_EQ(page, before);
  EXPECT_JET_ERROR(jet::ReplaceRow(f, page, 1, Filled(3, 0)), jet::kErrInvalidArgument);

  // Move row 2 to a new home (flagged deleted so scans skip it).
  int home = jet::AppendRow(f, page, Filled(40, 0x22), jet::kRowDeleted);
  ASSERT_EQ(home, 4);
  ASSERT_TRUE(jet::WriteOverflowPointer(f, page, 2, {9, static_cast<uint8_t>(home)}));
  EXPECT_TRUE(jet::GetRowBounds(f, page, 2).lookup());
  EXPECT_EQ(jet::ReadOverflowPointer(f, page, 2), (jet::RowId{9, 4}));
  EXPECT_TRUE(jet::GetRowBounds(f, page, 4).deleted());
  EXPECT_FALSE(jet::GetRowBounds(f, page, 4).lookup());

  // Delete row 1 and compact: its 11 bytes come back, every other row keeps
  // its bytes and number, row 1 becomes zero-length.
  jet::MarkRowDeleted(f, page, 1);
  EXPECT_EQ(jet::GetRowBounds(f, page, 1).flags, jet::kRowDeleted | jet::kRowLookup);
  uint16_t free_deleted = jet::FreeSpace(f, page);
  EXPECT_EQ(free_deleted, free_before - 42);
  jet::CompactPage(f, page);
  EXPECT_EQ(jet::FreeSpace(f, page), free_deleted + 11);
  EXPECT_EQ(jet::GetRowBounds(f, page, 1).size(), 0);
  EXPECT_EQ(Row(f, page, 0), Filled(10, 0));
  EXPECT_EQ(Row(f, page, 3), Filled(13, 3));
  EXPECT_EQ(Row(f, page, 4), Filled(40, 0x22));
  EXPECT_EQ(jet::ReadOverflowPointer(f, page, 2), (jet::RowId{9, 4}));
  EXPECT_EQ(jet::AppendRow(f, page, Filled(3, 7)), 5);

  // A 2-byte slot cannot take a pointer.
  jet::AppendRow(f, page, Filled(2, 1));
  EXPECT_FALSE(jet::WriteOverflowPointer(f, page, 6, {1, 1}));
}

TEST(DataPageTest, MalformedPagesAreCorruptNotCrashes) {
  const Format& f = jet::Jet4Format();
  Bytes page(f.page_size);
  jet::InitDataPage(f, page, 5);
  jet::AppendRow(f, page, Filled(20, 1));
  jet::AppendRow(f, page, Filled(20, 2));

  auto corrupt = [&](const std::function<void(Bytes&)>& damage) {
    Bytes p = page;
    damage(p);
    int e1 = ErrorOf([&] { jet::GetRowBounds(f, p, 1); });
    int e2 = ErrorOf([&] { jet::AppendRow(f, p, Filled(4, 0)); });
    return e1 == jet::kErrCorrupt && e2 == jet::kErrCorrupt;
  };
  EXPECT_TRUE(corrupt([](Bytes& p) { jet::Put16(p, 12, 0xffff); }));   // row count
  EXPECT_TRUE(corrupt([](Bytes& p) { jet::Put16(p, 12, 2100); }));     // table past page
  EXPECT_TRUE(corrupt([](Bytes& p) { jet::Put16(p, 16, 4); }));        // row inside header
  EXPECT_TRUE(corrupt([](Bytes& p) { jet::Put16(p, 14, 0x1fff); }));   // row 0 past page end
  EXPECT_JET_ERROR(jet::GetRowBounds(f, page, 2), jet::kErrCorrupt);
  EXPECT_JET_ERROR(jet::RowCount(f, ByteView(page).first(100)), jet::kErrCorrupt);
}

}  // namespace
