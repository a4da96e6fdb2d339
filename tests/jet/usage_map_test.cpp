#include <gtest/gtest.h>

#include <filesystem>
#include <map>
#include <set>

#include "jet/data_page.h"
#include "jet/error.h"
#include "jet/pager.h"
#include "jet/usage_map.h"
#include "support/fixtures.h"
#include "support/jet_error.h"

namespace {

using jet::Bytes;
using jet::Format;
using jet::RowId;
namespace fs = std::filesystem;

std::vector<uint32_t> Range(uint32_t from, uint32_t to) {
  std::vector<uint32_t> v;
  for (uint32_t p = from; p < to; ++p) v.push_back(p);
  return v;
}

// The owned-pages map of every fixture table lists data pages of that table
// (orphans a table rebuild left behind may carry its number without being
// listed), and the global map marks free every page past the end of the file.
TEST(UsageMapTest, FixtureMapsListTheirTablesPagesAndTheFreeTail) {
  REQUIRE_FIXTURES();
  int tables = 0, listed = 0;
  for (const auto& path : testing_support::FixtureFiles(testing_support::Encrypted::kIncluded)) {
    SCOPED_TRACE(path.string());
    auto pager = jet::Pager::Open(path.string(), jet::OpenMode::kReadOnly, false);
    const Format& f = pager->format();
    std::set<uint32_t> tdefs;
    for (uint32_t p = 1; p < pager->page_count(); ++p) {
      Bytes page = pager->Copy(p);
      if (page[0] != 0x01 || jet::IsLongValuePage(f, page) || jet::RowCount(f, page) == 0) continue;
      uint32_t owner = jet::OwnerPage(f, page);
      if (owner > 1 && owner < pager->page_count() && pager->Read(owner)[0] == 0x02)
        tdefs.insert(owner);
    }
    for (uint32_t tdef : tdefs) {
      ++tables;
      Bytes def = pager->Copy(tdef);
      RowId owned = RowId::FromPacked(jet::Get32(def, f.tdef_offset_owned_pages));
      for (uint32_t p : jet::ReadUsageMap(*pager, owned)) {
        ASSERT_LT(p, pager->page_count());
        Bytes page = pager->Copy(p);
        if (page[0] != 0x01) continue;  // index pages are owned too
        EXPECT_EQ(jet::OwnerPage(f, page), tdef) << "page " << p;
        ++listed;
      }
    }
    std::vector<uint32_t> free_pages = jet::ReadUsageMap(*pager, {1, 0});
    if (free_pages.empty()) continue;  // a reference map with no pages yet
    std::set<uint32_t> free_set(free_pages.begin(), free_pages.end());
    EXPECT_TRUE(free_set.count(pager->page_count()));
    for (uint32_t p = pager->page_count(); p < free_pages.back(); ++p)
      ASSERT_TRUE(free_set.count(p)) << p;
  }
  EXPECT_GT(tables, 50);
  EXPECT_GT(listed, 200);
}

TEST(UsageMapTest, NewMapsMatchTheEnginesRows) {
  REQUIRE_FIXTURES();
  auto pager = jet::Pager::Open((testing_support::FixturesDir() / "jet4" / "adox_jet4.mdb").string(),
                                jet::OpenMode::kReadOnly, false);
  const Format& f = pager->format();
  Bytes page1 = pager->Copy(1);
  Bytes global = jet::NewGlobalMapRow(f, pager->page_count());
  ASSERT_EQ(Bytes(jet::RowBytes(f, page1, 0).begin(), jet::RowBytes(f, page1, 0).end()), global);
  Bytes empty = jet::NewInlineMapRow(f);
  ASSERT_EQ(Bytes(jet::RowBytes(f, page1, 1).begin(), jet::RowBytes(f, page1, 1).end()), empty);
  EXPECT_EQ(empty.size(), 69u);
  EXPECT_EQ(jet::NewInlineMapRow(jet::Jet3Format()).size(), 133u);
  EXPECT_EQ(jet::ReadUsageMap(*pager, {6, 0}), std::vector<uint32_t>{14});
}

// A scratch database: page 1 holds the global map and page 2 the maps of a
// table, laid out as the engine does.
struct Scratch {
  testing_support::TempDir tmp;
  std::shared_ptr<jet::Pager> pager;
  const Format& f = jet::Jet4Format();
  explicit Scratch(size_t page1_filler = 0) {
    pager = jet::Pager::Create(tmp.File("u.mdb"), jet::HeaderInfo{}, false);
    pager->Allocate();
    pager->Allocate();
    Bytes p1(f.page_size);
    jet::InitDataPage(f, p1, 1);
    jet::AppendRow(f, p1, jet::NewGlobalMapRow(f, 3));
    jet::AppendRow(f, p1, jet::NewInlineMapRow(f));
    if (page1_filler) jet::AppendRow(f, p1, Bytes(page1_filler, 0x5a));
    pager->Write(1, p1);
    Bytes p2(f.page_size);
    jet::InitDataPage(f, p2, 0);
    jet::AppendRow(f, p2, jet::NewInlineMapRow(f));
    pager->Write(2, p2);
  }
  uint32_t Grow() {
    uint32_t p = pager->Allocate();
    jet::MarkPageAllocated(*pager, p);
    return p;
  }
};

TEST(UsageMapTest, InlineMapMovesThenBecomesReference) {
  Scratch s;
  RowId map{2, 0};
  for (uint32_t p : {7u, 3u, 511u}) jet::AddPageToUsageMap(*s.pager, map, p);
  EXPECT_EQ(jet::ReadUsageMap(*s.pager, map), (std::vector<uint32_t>{3, 7, 511}));
  jet::RemovePageFromUsageMap(*s.pager, map, 3);
  jet::RemovePageFromUsageMap(*s.pager, map, 9999);  // not there: nothing to do
  // 600 is past the map, and no start covers both 7 and 600: it promotes.
  jet::AddPageToUsageMap(*s.pager, map, 600);
  Bytes p2 = s.pager->Copy(2);
  EXPECT_EQ(jet::RowBytes(s.f, p2, 0)[0], jet::kUsageMapReference);
  EXPECT_EQ(jet::RowBytes(s.f, p2, 0).size(), 69u);
  EXPECT_EQ(jet::ReadUsageMap(*s.pager, map), (std::vector<uint32_t>{7, 511, 600}));
  // The reference map's own page was taken from the free pages.
  uint32_t map_page = jet::Get32(jet::RowBytes(s.f, p2, 0), 1);
  EXPECT_EQ(s.pager->Read(map_page)[0], 0x05);
  std::vector<uint32_t> free_pages = jet::ReadUsageMap(*s.pager, {1, 0});
  EXPECT_EQ(free_pages.front(), map_page + 1);

  // Far pages land on further map pages; 17 of them cover 556,512 pages.
  jet::AddPageToUsageMap(*s.pager, map, 100000);
  EXPECT_EQ(jet::ReadUsageMap(*s.pager, map).back(), 100000u);
  jet::RemovePageFromUsageMap(*s.pager, map, 511);
  EXPECT_EQ(jet::ReadUsageMap(*s.pager, map), (std::vector<uint32_t>{7, 600, 100000}));
  EXPECT_JET_ERROR(jet::AddPageToUsageMap(*s.pager, map, 17 * jet::PagesPerMapPage(s.f)),
                   jet::kErrDatabaseFull);

  // A map whose pages stay within 512 of each other only moves its start.
  Bytes other(s.f.page_size);
  jet::InitDataPage(s.f, other, 0);
  jet::AppendRow(s.f, other, jet::NewInlineMapRow(s.f));
  uint32_t page = s.pager->Allocate();
  s.pager->Write(page, other);
  for (uint32_t p : {1000u, 1400u, 1003u}) jet::AddPageToUsageMap(*s.pager, {page, 0}, p);
  Bytes moved = s.pager->Copy(page);
  EXPECT_EQ(jet::RowBytes(s.f, moved, 0)[0], jet::kUsageMapInline);
  EXPECT_EQ(jet::Get32(jet::RowBytes(s.f, moved, 0), 1), 1000u);
  EXPECT_EQ(jet::ReadUsageMap(*s.pager, {page, 0}), (std::vector<uint32_t>{1000, 1003, 1400}));
}

TEST(UsageMapTest, GlobalMapTracksFreePagesAsTheFileGrows) {
  Scratch s;
  for (uint32_t p = 3; p < 600; ++p) ASSERT_EQ(s.Grow(), p);
  // Row 0 grew in 32-byte steps to cover page 599: 64 + 32 bytes of bitmap.
  Bytes p1 = s.pager->Copy(1);
  EXPECT_EQ(jet::RowBytes(s.f, p1, 0).size(), 5u + 96);
  EXPECT_EQ(jet::ReadUsageMap(*s.pager, {1, 0}), Range(600, 768));
  EXPECT_EQ(jet::RowBytes(s.f, p1, 1).size(), 69u);  // row 1 kept
  jet::MarkPageFreed(*s.pager, 42);
  EXPECT_EQ(jet::ReadUsageMap(*s.pager, {1, 0}).front(), 42u);
  jet::MarkPageAllocated(*s.pager, 42);
  EXPECT_EQ(jet::ReadUsageMap(*s.pager, {1, 0}).front(), 600u);
}

TEST(UsageMapTest, GlobalMapBecomesReferenceWhenPageOneIsFull) {
  // Leave page 1 no room to grow row 0.
  Scratch s(4096 - 14 - 3 * 2 - 69 - 69 - 10);
  while (s.pager->page_count() < 530) s.Grow();
  Bytes p1 = s.pager->Copy(1);
  EXPECT_EQ(jet::RowBytes(s.f, p1, 0)[0], jet::kUsageMapReference);
  std::vector<uint32_t> free_pages = jet::ReadUsageMap(*s.pager, {1, 0});
  // Free: everything after the last page, which is the map page itself.
  uint32_t last = s.pager->page_count();
  EXPECT_EQ(free_pages.front(), last);
  EXPECT_EQ(free_pages.size(), jet::PagesPerMapPage(s.f) - last);
  uint32_t map_page = jet::Get32(jet::RowBytes(s.f, p1, 0), 1);
  EXPECT_GE(map_page, 512u);
  EXPECT_EQ(s.pager->Read(map_page)[0], 0x05);
}

TEST(UsageMapTest, MalformedMapsAreCorrupt) {
  Scratch s;
  Bytes p2 = s.pager->Copy(2);
  jet::RowBounds b = jet::GetRowBounds(s.f, p2, 0);
  p2[b.start] = 7;  // unknown map type
  s.pager->Write(2, p2);
  EXPECT_JET_ERROR(jet::ReadUsageMap(*s.pager, {2, 0}), jet::kErrCorrupt);
  p2[b.start] = jet::kUsageMapReference;
  jet::Put32(p2, b.start + 1, 1);  // points at a data page
  s.pager->Write(2, p2);
  EXPECT_JET_ERROR(jet::ReadUsageMap(*s.pager, {2, 0}), jet::kErrCorrupt);
  jet::Put32(p2, b.start + 1, 99999);  // past the file
  s.pager->Write(2, p2);
  EXPECT_JET_ERROR(jet::ReadUsageMap(*s.pager, {2, 0}), jet::kErrCorrupt);
  EXPECT_JET_ERROR(jet::ReadUsageMap(*s.pager, {2, 5}), jet::kErrCorrupt);
}

}  // namespace
