#include "jet/tabledef.h"

#include <gtest/gtest.h>

#include "jet/row.h"
#include "support/jet_error.h"

namespace jet {
namespace {

TEST(TableDefTest, SerialisedDefinitionParsesBackAndSplitsOverPages) {
  TableDef def;
  def.table_type = 0x4e;
  for (int i = 0; i < 120; ++i) {
    ColumnDef c;
    c.name = "Campo número " + std::to_string(i);
    c.number = static_cast<uint16_t>(i);
    c.type = i % 2 ? ColumnType::kLong : ColumnType::kText;
    c.flags = i % 2 ? (kColFixed | kColNullable) : kColNullable;
    c.length = i % 2 ? 4 : 100;
    c.var_index = static_cast<uint16_t>(i / 2);
    c.fixed_offset = static_cast<uint16_t>(4 * (i / 2));
    def.columns.push_back(c);
  }
  def.max_columns = 120;
  def.var_column_count = 60;
  RealIndexDef ri;
  ri.columns = {{1, true}, {3, true}};
  ri.flags = kIdxUnique;
  ri.first_page = 77;
  def.real_indexes.push_back(ri);
  LogicalIndexDef li;
  li.name = "ÍndicePrincipal";
  li.type = kIdxPrimary;
  def.indexes.push_back(li);
  def.long_value_maps.push_back({5, 0x1200, 0x1201});

  Bytes block = SerializeTableDef(def);
  const Format& f = Jet4Format();
  size_t n = TableDefPagesNeeded(f, block.size());
  ASSERT_GT(n, 1u);
  std::vector<uint32_t> numbers;
  for (size_t i = 0; i < n; ++i) numbers.push_back(static_cast<uint32_t>(10 + 3 * i));
  std::vector<Bytes> pages = SplitTableDef(f, block, numbers);
  auto reader = [&](uint32_t p) {
    for (size_t i = 0; i < numbers.size(); ++i)
      if (numbers[i] == p) return pages[i];
    throw JetError(kErrCorrupt);
  };
  TableDef back = ParseTableDef(f, reader, 10);
  ASSERT_EQ(back.columns.size(), 120u);
  EXPECT_EQ(back.columns[119].name, "Campo número 119");
  EXPECT_EQ(back.columns[7].var_index, 3);
  EXPECT_EQ(back.indexes.at(0).name, "ÍndicePrincipal");
  EXPECT_EQ(back.real_indexes.at(0).columns.size(), 2u);
  EXPECT_EQ(back.real_indexes[0].first_page, 77u);
  ASSERT_EQ(back.long_value_maps.size(), 1u);
  EXPECT_EQ(back.long_value_maps[0].free_pages, 0x1201u);
}

TEST(TableDefTest, DamagedDefinitionIsAnErrorNotACrash) {
  const Format& f = Jet4Format();
  Bytes page(f.page_size, 0);
  page[0] = 2;
  Put16(page, f.tdef_offset_num_cols, 3000);  // names run past the page
  auto reader = [&](uint32_t) { return page; };
  EXPECT_JET_ERROR(ParseTableDef(f, reader, 1), jet::kErrCorrupt);
  Put32(page, 4, 1);  // the chain points at itself
  EXPECT_JET_ERROR(ParseTableDef(f, reader, 1), jet::kErrCorrupt);
}

TEST(RowTest, PackThenCrackKeepsFixedVariableAndNullColumns) {
  TableDef def;
  auto add = [&](ColumnType t, uint8_t flags, uint16_t len, uint16_t var, uint16_t fixed) {
    ColumnDef c;
    c.type = t;
    c.flags = flags;
    c.length = len;
    c.var_index = var;
    c.fixed_offset = fixed;
    c.number = static_cast<uint16_t>(def.columns.size());
    def.columns.push_back(c);
  };
  add(ColumnType::kLong, kColFixed | kColNullable, 4, 0, 0);
  add(ColumnType::kText, kColNullable, 20, 0, 0);
  add(ColumnType::kBoolean, kColFixed | kColNullable, 0, 0, 0);
  add(ColumnType::kDouble, kColFixed | kColNullable, 8, 0, 4);
  add(ColumnType::kText, kColNullable, 20, 1, 0);
  add(ColumnType::kText, kColNullable, 20, 2, 0);
  def.max_columns = 6;
  def.var_column_count = 3;

  const Bytes long_value = {1, 2, 3, 4};
  const Bytes text = {'a', 0, 'b', 0};
  std::vector<PackedColumn> cols(6);
  cols[0] = {true, long_value};
  cols[1] = {false, {}};
  cols[2] = {true, {}};
  cols[3] = {false, {}};
  cols[4] = {true, text};
  cols[5] = {true, {}};  // empty but present: zero-length text
  Bytes row = PackRow(def, cols);
  // Count, fixed area, variable data, end of data, offsets last to first,
  // their count, null mask; padding goes between the data and the offsets.
  const Bytes head = {6, 0, 1, 2, 3, 4, 0, 0, 0, 0, 0, 0, 0, 0, 'a', 0, 'b', 0};
  const Bytes tail = {18, 0, 18, 0, 14, 0, 14, 0, 3, 0, 0x35};
  Bytes want = head;
  want.insert(want.end(), tail.begin(), tail.end());
  EXPECT_EQ(row, want);
  want = head;
  want.resize(want.size() + 11, 0);
  want.insert(want.end(), tail.begin(), tail.end());
  EXPECT_EQ(PackRow(def, cols, 40), want);
  std::vector<ColumnSlice> out;
  CrackRow(Jet4Format(), def, row, out);
  EXPECT_TRUE(out[0].present);
  EXPECT_EQ(Bytes(out[0].data.begin(), out[0].data.end()), (Bytes{1, 2, 3, 4}));
  EXPECT_FALSE(out[1].present);
  EXPECT_TRUE(out[2].present);
  EXPECT_FALSE(out[3].present);
  EXPECT_EQ(out[4].data.size(), 4u);
  EXPECT_TRUE(out[5].present);
  EXPECT_EQ(out[5].data.size(), 0u);

  // A truncated row never reads outside its bytes.
  for (size_t n = 0; n < row.size(); ++n) {
    try {
      CrackRow(Jet4Format(), def, ByteView(row.data(), n), out);
    } catch (const JetError&) {
    }
  }
}

}  // namespace
}  // namespace jet
