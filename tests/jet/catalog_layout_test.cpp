#include "jet/catalog_layout.h"

#include <gtest/gtest.h>

#include <fstream>
#include <iterator>
#include <sstream>
#include <type_traits>

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

// Everything a definition holds, a line per part; `with_pages` adds its
// page numbers.
std::vector<std::string> Described(const TableDef& d, bool with_pages) {
  std::vector<std::string> out;
  auto line = [&out](const auto&... parts) {
    std::ostringstream text;
    auto put = [&text](const auto& part) {
      if constexpr (std::is_integral_v<std::decay_t<decltype(part)>>) {
        text << +part << ' ';  // bytes as numbers
      } else {
        text << part << ' ';
      }
    };
    (put(parts), ...);
    out.push_back(text.str());
  };
  line("table", d.row_count, d.next_auto_number, d.table_type, d.max_columns, d.var_column_count,
       d.autonum_flag);
  for (const ColumnDef& c : d.columns) {
    // Variable columns carry leftover bytes in the fixed offset; only fixed ones mean it.
    line(c.name, static_cast<int>(c.type), c.number, c.var_index, c.fixed() ? c.fixed_offset : 0,
         c.length, c.flags, c.ext_flags, c.sort_order, c.sort_version);
  }
  for (const RealIndexDef& r : d.real_indexes) {
    line("real index", r.row_count, r.flags, with_pages ? r.used_pages : 0, with_pages ? r.first_page : 0);
    for (const auto& c : r.columns) line(" on", c.column_number, c.ascending);
  }
  for (const LogicalIndexDef& i : d.indexes) {
    line(i.name, i.index_number, i.real_index, i.rel_table_type, i.rel_index_number, i.rel_table_page,
         i.cascade_updates, i.cascade_deletes, i.type);
  }
  for (const auto& m : d.long_value_maps) {
    line("long values", m.column_number, with_pages ? m.used_pages : 0, with_pages ? m.free_pages : 0);
  }
  if (with_pages) line("pages", d.page, d.owned_pages, d.free_pages);
  return out;
}

std::vector<TableDef> PlacedDefs() {
  std::vector<TableDef> defs = {MSysObjectsDef(), MSysACEsDef(), MSysQueriesDef(),
                                MSysRelationshipsDef()};
  for (auto& d : defs) PlaceAsNewDatabase(d);
  return defs;
}

// The 19-page variant places maps and roots elsewhere; everything else is equal.
TEST(CatalogLayout, SystemDefinitionsMatchTheEngineFiles) {
  REQUIRE_FIXTURES();
  for (const auto& [name, with_pages] : {std::pair{"adox_jet4.mdb", true}, std::pair{"emptyJet4.mdb", false}}) {
    Bytes file = ReadFile(name);
    if (with_pages) {
      ASSERT_EQ(file.size(), size_t{kNewDatabasePageCount} * kPage);
    }
    for (const TableDef& want : PlacedDefs()) {
      EXPECT_EQ(Described(ParseTableDef(Jet4Format(), ReaderOf(file), want.page), with_pages),
                Described(want, with_pages)) << name;
    }
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
