#include "jet/catalog_layout.h"

#include <gtest/gtest.h>

#include <fstream>
#include <iterator>

#include "jet/format.h"
#include "jet/tabledef.h"
#include "support/fixtures.h"

namespace {

using namespace jet;
using namespace jet::catalog;

constexpr uint32_t kPage = 4096;

Bytes ReadFile(const std::string& name) {
  std::ifstream in(testing_support::FixturesDir() / "jet4" / name, std::ios::binary);
  return Bytes(std::istreambuf_iterator<char>(in), {});
}

ByteView PageOf(const Bytes& file, uint32_t page) {
  return ByteView(file).subspan(size_t{page} * kPage, kPage);
}

PageReader ReaderOf(const Bytes& file) {
  return [&file](uint32_t page) {
    ByteView p = PageOf(file, page);
    return Bytes(p.begin(), p.end());
  };
}

// Rows of a Jet 4 data page, in row-number order.
std::vector<Bytes> DataRows(ByteView page) {
  std::vector<Bytes> rows;
  uint16_t count = Get16(page, 12);
  uint32_t end = kPage;
  for (uint16_t i = 0; i < count; ++i) {
    uint32_t start = Get16(page, 14 + 2u * i) & 0x1fff;
    rows.emplace_back(page.begin() + start, page.begin() + end);
    end = start;
  }
  return rows;
}

// A decoded Jet 4 row: fixed area, variable columns by var index, null mask.
struct RawRow {
  Bytes bytes;
  uint16_t columns = 0;
  std::vector<Bytes> vars;
  bool present(uint16_t number) const {
    size_t mask = bytes.size() - (columns + 7) / 8;
    return (bytes[mask + number / 8] >> (number % 8)) & 1;
  }
  int32_t Long(uint16_t offset) const { return static_cast<int32_t>(Get32(bytes, 2 + offset)); }
  int16_t Short(uint16_t offset) const { return static_cast<int16_t>(Get16(bytes, 2 + offset)); }
};

RawRow Decode(const Bytes& row) {
  RawRow r;
  r.bytes = row;
  r.columns = Get16(row, 0);
  size_t mask = row.size() - (r.columns + 7) / 8;
  uint16_t nvar = Get16(row, mask - 2);
  auto offset = [&](size_t i) { return Get16(row, mask - 4 - 2 * i); };
  for (size_t i = 0; i < nvar; ++i) {
    r.vars.emplace_back(row.begin() + offset(i), row.begin() + offset(i + 1));
  }
  return r;
}

std::vector<uint32_t> MapPages(const Bytes& row) {
  std::vector<uint32_t> pages;
  EXPECT_EQ(row.size(), kUsageMapRowSize);
  EXPECT_EQ(row[0], 0);  // inline map
  uint32_t start = Get32(row, 1);
  for (size_t bit = 0; bit < 64 * 8; ++bit) {
    if ((row[5 + bit / 8] >> (bit % 8)) & 1) pages.push_back(start + static_cast<uint32_t>(bit));
  }
  return pages;
}

std::string Ucs2(const Bytes& b) {
  std::string s;
  for (size_t i = 0; i + 1 < b.size(); i += 2) s.push_back(static_cast<char>(b[i]));
  return s;
}

// Everything a definition holds; `with_pages` also compares page numbers.
void ExpectSameDef(const TableDef& want, const TableDef& got, bool with_pages) {
  SCOPED_TRACE(want.columns.empty() ? "" : want.columns.front().name);
  EXPECT_EQ(want.row_count, got.row_count);
  EXPECT_EQ(want.next_auto_number, got.next_auto_number);
  EXPECT_EQ(want.table_type, got.table_type);
  EXPECT_EQ(want.max_columns, got.max_columns);
  EXPECT_EQ(want.var_column_count, got.var_column_count);
  EXPECT_EQ(want.autonum_flag, got.autonum_flag);
  ASSERT_EQ(want.columns.size(), got.columns.size());
  for (size_t i = 0; i < want.columns.size(); ++i) {
    const ColumnDef& w = want.columns[i];
    const ColumnDef& g = got.columns[i];
    SCOPED_TRACE(w.name);
    EXPECT_EQ(w.name, g.name);
    EXPECT_EQ(w.type, g.type);
    EXPECT_EQ(w.number, g.number);
    EXPECT_EQ(w.var_index, g.var_index);
    // Variable columns carry leftover bytes in this word; only fixed ones mean it.
    if (w.fixed()) {
      EXPECT_EQ(w.fixed_offset, g.fixed_offset);
    }
    EXPECT_EQ(w.length, g.length);
    EXPECT_EQ(w.flags, g.flags);
    EXPECT_EQ(w.ext_flags, g.ext_flags);
    EXPECT_EQ(w.sort_order, g.sort_order);
    EXPECT_EQ(w.sort_version, g.sort_version);
  }
  ASSERT_EQ(want.real_indexes.size(), got.real_indexes.size());
  for (size_t i = 0; i < want.real_indexes.size(); ++i) {
    const RealIndexDef& w = want.real_indexes[i];
    const RealIndexDef& g = got.real_indexes[i];
    EXPECT_EQ(w.row_count, g.row_count) << "real index " << i;
    ASSERT_EQ(w.columns.size(), g.columns.size()) << "real index " << i;
    for (size_t c = 0; c < w.columns.size(); ++c) {
      EXPECT_EQ(w.columns[c].column_number, g.columns[c].column_number);
      EXPECT_EQ(w.columns[c].ascending, g.columns[c].ascending);
    }
    EXPECT_EQ(w.flags, g.flags) << "real index " << i;
    if (with_pages) {
      EXPECT_EQ(w.used_pages, g.used_pages) << "real index " << i;
      EXPECT_EQ(w.first_page, g.first_page) << "real index " << i;
    }
  }
  ASSERT_EQ(want.indexes.size(), got.indexes.size());
  for (size_t i = 0; i < want.indexes.size(); ++i) {
    const LogicalIndexDef& w = want.indexes[i];
    const LogicalIndexDef& g = got.indexes[i];
    SCOPED_TRACE(w.name);
    EXPECT_EQ(w.name, g.name);
    EXPECT_EQ(w.index_number, g.index_number);
    EXPECT_EQ(w.real_index, g.real_index);
    EXPECT_EQ(w.rel_table_type, g.rel_table_type);
    EXPECT_EQ(w.rel_index_number, g.rel_index_number);
    EXPECT_EQ(w.rel_table_page, g.rel_table_page);
    EXPECT_EQ(w.cascade_updates, g.cascade_updates);
    EXPECT_EQ(w.cascade_deletes, g.cascade_deletes);
    EXPECT_EQ(w.type, g.type);
  }
  ASSERT_EQ(want.long_value_maps.size(), got.long_value_maps.size());
  for (size_t i = 0; i < want.long_value_maps.size(); ++i) {
    EXPECT_EQ(want.long_value_maps[i].column_number, got.long_value_maps[i].column_number);
    if (with_pages) {
      EXPECT_EQ(want.long_value_maps[i].used_pages, got.long_value_maps[i].used_pages);
      EXPECT_EQ(want.long_value_maps[i].free_pages, got.long_value_maps[i].free_pages);
    }
  }
  if (with_pages) {
    EXPECT_EQ(want.page, got.page);
    EXPECT_EQ(want.owned_pages, got.owned_pages);
    EXPECT_EQ(want.free_pages, got.free_pages);
  }
}

std::vector<TableDef> PlacedDefs() {
  std::vector<TableDef> defs = {MSysObjectsDef(), MSysACEsDef(), MSysQueriesDef(),
                                MSysRelationshipsDef()};
  for (auto& d : defs) PlaceAsNewDatabase(d);
  return defs;
}

TEST(CatalogLayout, SystemDefinitionsMatchTheEngineFile) {
  REQUIRE_FIXTURES();
  Bytes file = ReadFile("adox_jet4.mdb");
  ASSERT_EQ(file.size(), size_t{kNewDatabasePageCount} * kPage);
  for (const TableDef& want : PlacedDefs()) {
    ExpectSameDef(want, ParseTableDef(Jet4Format(), ReaderOf(file), want.page), true);
  }
}

TEST(CatalogLayout, SystemDefinitionsMatchTheLooseEngineFile) {
  // The 19-page variant places maps and roots elsewhere; everything else is equal.
  REQUIRE_FIXTURES();
  Bytes file = ReadFile("emptyJet4.mdb");
  for (const TableDef& want : PlacedDefs()) {
    ExpectSameDef(want, ParseTableDef(Jet4Format(), ReaderOf(file), want.page), false);
  }
}

TEST(CatalogLayout, RealIndexFlagsSitAfterFourUnknownBytes) {
  // On Jet 4 the 52-byte real index definition is: 4 bytes, 10 column slots,
  // usage map, root page, 4 unknown bytes, flags, 5 zero bytes.
  REQUIRE_FIXTURES();
  Bytes file = ReadFile("adox_jet4.mdb");
  for (const TableDef& want : PlacedDefs()) {
    ByteView p = PageOf(file, want.page);
    size_t pos = 63 + 12 * want.real_indexes.size() + 25 * want.columns.size();
    for (const auto& c : want.columns) pos += 2 + 2 * c.name.size();
    for (const RealIndexDef& ri : want.real_indexes) {
      EXPECT_EQ(Get32(p, pos + 38), ri.first_page);
      EXPECT_EQ(Get8(p, pos + 46), ri.flags);
      for (size_t k = 47; k < 52; ++k) EXPECT_EQ(Get8(p, pos + k), 0);
      pos += 52;
    }
  }
}

TEST(CatalogLayout, ObjectRowsMatchTheEngineFile) {
  REQUIRE_FIXTURES();
  Bytes file = ReadFile("adox_jet4.mdb");
  ByteView page = PageOf(file, 14);
  EXPECT_EQ(Get32(page, 4), 2u);
  std::vector<Bytes> rows = DataRows(page);
  const auto& want = NewDatabaseObjects();
  ASSERT_EQ(rows.size(), want.size());
  TableDef def = MSysObjectsDef();
  double date = 0;
  for (size_t i = 0; i < rows.size(); ++i) {
    SCOPED_TRACE(want[i].name);
    RawRow r = Decode(rows[i]);
    ASSERT_EQ(r.columns, 17);
    EXPECT_EQ(r.Long(0), want[i].id);
    EXPECT_EQ(r.Long(4), want[i].parent_id);
    EXPECT_EQ(r.Short(8), want[i].type);
    EXPECT_EQ(r.Long(26), want[i].flags);
    double created = BitsToDouble(Get64(r.bytes, 2 + 10));
    EXPECT_EQ(created, BitsToDouble(Get64(r.bytes, 2 + 18)));
    if (i == 0) date = created;
    EXPECT_EQ(created, date);
    EXPECT_EQ(Ucs2(r.vars.at(0)), want[i].name);
    EXPECT_EQ(r.vars.at(0).size(), 2 * want[i].name.size());  // no compression
    EXPECT_EQ(r.vars.at(1), SidBytes(want[i].owner));
    for (const ColumnDef& c : def.columns) {
      bool expected = c.number <= 7;
      EXPECT_EQ(r.present(c.number), expected) << c.name;
    }
  }
  // The header's date is a moment before the rows'.
  EXPECT_LT(ReferenceHeaderCreationDate(), date);
  EXPECT_GT(ReferenceHeaderCreationDate(), date - 1.0 / 86400);
  EXPECT_EQ(Get16(page, 2), 3400);
}

TEST(CatalogLayout, AceRowsMatchTheEngineFile) {
  REQUIRE_FIXTURES();
  Bytes file = ReadFile("adox_jet4.mdb");
  ByteView page = PageOf(file, 15);
  EXPECT_EQ(Get32(page, 4), 3u);
  std::vector<Bytes> rows = DataRows(page);
  const auto& want = NewDatabaseAces();
  ASSERT_EQ(rows.size(), want.size());
  for (size_t i = 0; i < rows.size(); ++i) {
    SCOPED_TRACE(i);
    RawRow r = Decode(rows[i]);
    ASSERT_EQ(r.columns, 4);
    EXPECT_EQ(r.Long(0), want[i].object_id);
    EXPECT_EQ(r.Long(4), want[i].acm);
    EXPECT_EQ(r.vars.at(0), SidBytes(want[i].sid));
    EXPECT_EQ(r.present(3), want[i].inheritable);  // a Boolean lives in the null mask
  }
}

TEST(CatalogLayout, UsageMapsMatchTheEngineFile) {
  REQUIRE_FIXTURES();
  Bytes file = ReadFile("adox_jet4.mdb");
  std::vector<Bytes> rows = DataRows(PageOf(file, 6));
  const auto& want = UsageMapRows();
  ASSERT_EQ(rows.size(), want.size());
  for (size_t i = 0; i < rows.size(); ++i) {
    EXPECT_EQ(MapPages(rows[i]), want[i].pages) << want[i].what;
  }
  EXPECT_EQ(Get16(PageOf(file, 6), 2), 1881);

  // Every map row a definition points at names its own table.
  for (const TableDef& d : PlacedDefs()) {
    EXPECT_EQ(want.at(RowId::FromPacked(d.owned_pages).row).tdef_page, d.page);
    for (const auto& ri : d.real_indexes) {
      const UsageMapRow& m = want.at(RowId::FromPacked(ri.used_pages).row);
      EXPECT_EQ(m.pages, std::vector<uint32_t>{ri.first_page}) << m.what;
    }
  }

  // Page 1: pages from the end of the file on are free; then an empty row.
  std::vector<Bytes> global = DataRows(PageOf(file, 1));
  ASSERT_EQ(global.size(), 2u);
  std::vector<uint32_t> free_pages = MapPages(global[0]);
  ASSERT_EQ(free_pages.size(), 512u - kNewDatabasePageCount);
  EXPECT_EQ(free_pages.front(), kNewDatabasePageCount);
  EXPECT_TRUE(MapPages(global[1]).empty());
  EXPECT_EQ(Get32(PageOf(file, 1), 4), 1u);
}

TEST(CatalogLayout, IndexLeavesMatchTheEngineFile) {
  REQUIRE_FIXTURES();
  Bytes file = ReadFile("adox_jet4.mdb");
  for (const IndexLeaf& leaf : IndexLeaves()) {
    SCOPED_TRACE(leaf.index);
    ByteView p = PageOf(file, leaf.page);
    EXPECT_EQ(Get8(p, 0), 0x04);
    EXPECT_EQ(Get32(p, 4), leaf.tdef_page);
    EXPECT_EQ(Get16(p, 24), 0);  // no shared prefix
    size_t pos = 0x1e0;
    size_t entry = 0;
    for (size_t bit = 0; bit < 453 * 8; ++bit) {
      if (!((p[27 + bit / 8] >> (bit % 8)) & 1)) continue;
      size_t end = 0x1e0 + bit;
      ASSERT_LT(entry, leaf.entries.size());
      const LeafEntry& e = leaf.entries[entry++];
      ASSERT_EQ(end - pos, e.key.size() + 4);
      EXPECT_EQ(Bytes(p.begin() + pos, p.begin() + pos + e.key.size()), e.key);
      EXPECT_EQ(Get24(Bytes{p[end - 2], p[end - 3], p[end - 4]}, 0), e.page);
      EXPECT_EQ(p[end - 1], e.row);
      pos = end;
    }
    EXPECT_EQ(entry, leaf.entries.size());
    EXPECT_EQ(Get16(p, 2), kPage - pos);
  }
}

// The rows themselves, composite keys included, are read back by mdbtools in
// schema_tests (MsysRelationshipsHoldsEveryRelation).
TEST(CatalogLayout, RelationshipRowsNeedAsManyColumnsOnEachSide) {
  EXPECT_THROW(RelationshipRows("r", 0, "a", {"x"}, "b", {}), std::invalid_argument);
}

}  // namespace
