#include "jet/tabledef.h"

#include <algorithm>

#include "jet/error.h"
#include "jet/text.h"

namespace jet {
namespace {

// Upper bounds that no real definition reaches; anything larger means the
// counts were read from a damaged page.
constexpr uint32_t kMaxColumns = 4096;
constexpr uint32_t kMaxIndexes = 1024;
constexpr size_t kMaxTableDefPages = 256;
constexpr uint16_t kNoColumn = 0xffff;
// Constants the Jet 4 engine writes at the head of column and logical index
// definitions, and of real index definitions.
constexpr uint32_t kTableMagic = 1625;
constexpr uint32_t kIndexMagic = 1923;
constexpr uint16_t kGeneralSortOrder = 0x409;

std::string ReadName(const Format& f, ByteView buf, size_t& pos) {
  size_t len = f.name_length_size == 1 ? Get8(buf, pos) : Get16(buf, pos);
  pos += f.name_length_size;
  CheckRange(buf, pos, len);
  ByteView raw = buf.subspan(pos, len);
  pos += len;
  return f.unicode_text() ? Ucs2ToUtf8(raw) : Cp1252ToUtf8(raw);
}

void WriteName(Bytes& out, const std::string& name) {
  Bytes enc = Utf8ToUcs2(name);
  Append16(out, static_cast<uint16_t>(enc.size()));
  AppendBytes(out, enc);
}

}  // namespace

const ColumnDef* TableDef::FindColumn(const std::string& name) const {
  for (const auto& c : columns) {
    if (NamesEqual(c.name, name)) return &c;
  }
  return nullptr;
}

const ColumnDef* TableDef::ColumnByNumber(uint16_t number) const {
  // Numbers are usually positions: no column has gone since the table was made.
  if (number < columns.size() && columns[number].number == number) return &columns[number];
  for (const auto& c : columns) {
    if (c.number == number) return &c;
  }
  return nullptr;
}

size_t TableDef::SlotOf(uint16_t number) const {
  if (number < columns.size() && columns[number].number == number) return number;
  for (size_t i = 0; i < columns.size(); ++i) {
    if (columns[i].number == number) return i;
  }
  throw JetError(kErrCorrupt);
}

uint16_t TableDef::fixed_area_size() const {
  uint16_t end = 0;
  for (const auto& c : columns) {
    if (c.fixed() && c.type != ColumnType::kBoolean) {
      end = std::max<uint16_t>(end, static_cast<uint16_t>(c.fixed_offset + c.length));
    }
  }
  return end;
}

TableDef ParseTableDef(const Format& f, const PageReader& read, uint32_t page) {
  // The definition is one byte block spread over a chain of pages; every page
  // after the first repeats the 8-byte page header, which is dropped here so
  // that offsets count from the start of the first page.
  Bytes buf;
  uint32_t next = page;
  for (size_t n = 0; next != 0; ++n) {
    if (n == kMaxTableDefPages) throw JetError(kErrCorrupt);
    Bytes p = read(next);
    if (p.size() != f.page_size || p[0] != static_cast<uint8_t>(PageType::kTableDef)) {
      throw JetError(kErrCorrupt);
    }
    if (n == 0) {
      buf = std::move(p);
    } else {
      buf.insert(buf.end(), p.begin() + 8, p.end());
    }
    next = Get32(ByteView(n == 0 ? buf : p), 4);
    if (next == page) throw JetError(kErrCorrupt);
  }
  ByteView b(buf);

  TableDef def;
  def.page = page;
  def.row_count = Get32(b, f.tdef_offset_num_rows);
  def.next_auto_number = Get32(b, f.tdef_offset_next_autonum);
  if (f.version >= 4) def.autonum_flag = Get8(b, f.tdef_offset_next_autonum + 4);
  def.table_type = Get8(b, f.tdef_offset_table_type);
  def.max_columns = Get16(b, f.tdef_offset_max_cols);
  def.var_column_count = Get16(b, f.tdef_offset_num_var_cols);
  uint32_t num_cols = Get16(b, f.tdef_offset_num_cols);
  uint32_t num_idx = Get32(b, f.tdef_offset_num_idx);
  uint32_t num_real = Get32(b, f.tdef_offset_num_real_idx);
  def.owned_pages = Get32(b, f.tdef_offset_owned_pages);
  def.free_pages = Get32(b, f.tdef_offset_free_pages);
  if (num_cols > kMaxColumns || num_idx > kMaxIndexes || num_real > kMaxIndexes) {
    throw JetError(kErrCorrupt);
  }

  size_t pos = f.tdef_header_size;
  def.real_indexes.resize(num_real);
  for (auto& ri : def.real_indexes) {
    ri.row_count = Get32(b, pos + 4);
    pos += f.tdef_real_idx_header_size;
  }

  def.columns.resize(num_cols);
  for (auto& c : def.columns) {
    uint8_t type = Get8(b, pos + f.col_offset_type);
    c.type = static_cast<ColumnType>(type);
    c.number = Get16(b, pos + f.col_offset_number);
    c.var_index = Get16(b, pos + f.col_offset_var_index);
    c.flags = Get8(b, pos + f.col_offset_flags);
    if (f.col_offset_ext_flags >= 0) c.ext_flags = Get8(b, pos + f.col_offset_ext_flags);
    c.fixed_offset = Get16(b, pos + f.col_offset_fixed_offset);
    c.length = Get16(b, pos + f.col_offset_length);
    if (c.type == ColumnType::kDecimal) {
      c.precision = Get8(b, pos + f.col_offset_sort_order);
      c.scale = Get8(b, pos + f.col_offset_sort_order + 1);
    } else {
      c.sort_order = Get16(b, pos + f.col_offset_sort_order);
    }
    if (f.col_offset_code_page >= 0) {
      c.code_page = Get16(b, pos + f.col_offset_code_page);
    } else {
      c.sort_version = Get16(b, pos + f.col_offset_sort_order + 2);
    }
    pos += f.column_def_size;
  }
  for (auto& c : def.columns) c.name = ReadName(f, b, pos);

  for (auto& ri : def.real_indexes) {
    size_t start = pos;
    pos += f.real_idx_skip_before;
    for (int i = 0; i < 10; ++i) {
      uint16_t col = Get16(b, pos);
      uint8_t order = Get8(b, pos + 2);
      pos += 3;
      if (col != kNoColumn) ri.columns.push_back({col, (order & 0x01) != 0});
    }
    ri.used_pages = Get32(b, pos);
    ri.first_page = Get32(b, pos + 4);
    ri.flags = Get8(b, pos + 8 + f.real_idx_skip_before_flags);
    pos = start + f.real_idx_def_size;
  }

  def.indexes.resize(num_idx);
  for (auto& li : def.indexes) {
    size_t start = pos;
    pos += f.logical_idx_skip_before;
    li.index_number = Get32(b, pos);
    li.real_index = Get32(b, pos + 4);
    li.rel_table_type = Get8(b, pos + 8);
    li.rel_index_number = static_cast<int32_t>(Get32(b, pos + 9));
    li.rel_table_page = Get32(b, pos + 13);
    li.cascade_updates = Get8(b, pos + 17);
    li.cascade_deletes = Get8(b, pos + 18);
    li.type = Get8(b, pos + 19);
    if (li.real_index >= num_real) throw JetError(kErrCorrupt);
    pos = start + f.logical_idx_def_size;
  }
  for (auto& li : def.indexes) li.name = ReadName(f, b, pos);

  while (pos + 2 <= b.size()) {
    uint16_t col = Get16(b, pos);
    if (col == kNoColumn) break;
    if (pos + 10 > b.size()) break;
    def.long_value_maps.push_back({col, Get32(b, pos + 2), Get32(b, pos + 6)});
    pos += 10;
    if (def.long_value_maps.size() > kMaxColumns) throw JetError(kErrCorrupt);
  }
  return def;
}

Bytes SerializeTableDef(const TableDef& def) {
  const Format& f = Jet4Format();
  Bytes out(f.tdef_header_size, 0);
  out[0] = static_cast<uint8_t>(PageType::kTableDef);
  out[1] = 0x01;
  Put32(out, 12, kTableMagic);
  Put32(out, f.tdef_offset_num_rows, def.row_count);
  Put32(out, f.tdef_offset_next_autonum, def.next_auto_number);
  Put8(out, f.tdef_offset_next_autonum + 4, def.autonum_flag);
  Put8(out, f.tdef_offset_table_type, def.table_type);
  Put16(out, f.tdef_offset_max_cols, def.max_columns);
  Put16(out, f.tdef_offset_num_var_cols, def.var_column_count);
  Put16(out, f.tdef_offset_num_cols, static_cast<uint16_t>(def.columns.size()));
  Put32(out, f.tdef_offset_num_idx, static_cast<uint32_t>(def.indexes.size()));
  Put32(out, f.tdef_offset_num_real_idx, static_cast<uint32_t>(def.real_indexes.size()));
  Put32(out, f.tdef_offset_owned_pages, def.owned_pages);
  Put32(out, f.tdef_offset_free_pages, def.free_pages);

  for (const auto& ri : def.real_indexes) {
    Append32(out, 0);
    Append32(out, ri.row_count);
    Append32(out, 0);
  }
  for (const auto& c : def.columns) {
    size_t at = out.size();
    out.resize(at + f.column_def_size, 0);
    std::span<uint8_t> col(out.data() + at, f.column_def_size);
    Put8(col, f.col_offset_type, static_cast<uint8_t>(c.type));
    Put32(col, 1, kTableMagic);
    Put16(col, f.col_offset_number, c.number);
    Put16(col, f.col_offset_var_index, c.var_index);
    Put16(col, f.col_offset_row_number, 0);
    if (c.type == ColumnType::kDecimal) {
      Put8(col, f.col_offset_sort_order, c.precision);
      Put8(col, f.col_offset_sort_order + 1, c.scale);
    } else {
      Put16(col, f.col_offset_sort_order, c.sort_order ? c.sort_order : kGeneralSortOrder);
      Put16(col, f.col_offset_sort_order + 2, c.sort_version);
    }
    Put8(col, f.col_offset_flags, c.flags);
    Put8(col, static_cast<size_t>(f.col_offset_ext_flags), c.ext_flags);
    Put16(col, f.col_offset_fixed_offset, c.fixed_offset);
    Put16(col, f.col_offset_length, c.length);
  }
  for (const auto& c : def.columns) WriteName(out, c.name);

  for (const auto& ri : def.real_indexes) {
    size_t start = out.size();
    Append32(out, kIndexMagic);
    for (size_t i = 0; i < 10; ++i) {
      if (i < ri.columns.size()) {
        Append16(out, ri.columns[i].column_number);
        Append8(out, ri.columns[i].ascending ? 0x01 : 0x00);
      } else {
        Append16(out, kNoColumn);
        Append8(out, 0);
      }
    }
    Append32(out, ri.used_pages);
    Append32(out, ri.first_page);
    Append32(out, 0);
    Append8(out, ri.flags);
    out.resize(start + f.real_idx_def_size, 0);
  }
  for (const auto& li : def.indexes) {
    size_t start = out.size();
    Append32(out, kTableMagic);
    Append32(out, li.index_number);
    Append32(out, li.real_index);
    Append8(out, li.rel_table_type);
    Append32(out, static_cast<uint32_t>(li.rel_index_number));
    Append32(out, li.rel_table_page);
    Append8(out, li.cascade_updates);
    Append8(out, li.cascade_deletes);
    Append8(out, li.type);
    out.resize(start + f.logical_idx_def_size, 0);
  }
  for (const auto& li : def.indexes) WriteName(out, li.name);
  for (const auto& m : def.long_value_maps) {
    Append16(out, m.column_number);
    Append32(out, m.used_pages);
    Append32(out, m.free_pages);
  }
  Append16(out, kNoColumn);
  Put32(out, 8, static_cast<uint32_t>(out.size()));
  return out;
}

size_t TableDefPagesNeeded(const Format& f, size_t block_size) {
  if (block_size <= f.page_size) return 1;
  size_t rest = block_size - f.page_size;
  size_t per_page = f.page_size - 8;
  return 1 + (rest + per_page - 1) / per_page;
}

std::vector<Bytes> SplitTableDef(const Format& f, const Bytes& block,
                                 const std::vector<uint32_t>& pages) {
  if (pages.size() != TableDefPagesNeeded(f, block.size())) throw JetError(kErrInvalidArgument);
  std::vector<Bytes> out;
  size_t pos = 0;
  for (size_t i = 0; i < pages.size(); ++i) {
    Bytes page(f.page_size, 0);
    size_t body = 0;
    if (i == 0) {
      body = std::min<size_t>(block.size(), f.page_size);
      std::copy(block.begin(), block.begin() + static_cast<ptrdiff_t>(body), page.begin());
    } else {
      page[0] = static_cast<uint8_t>(PageType::kTableDef);
      page[1] = 0x01;
      body = std::min<size_t>(block.size() - pos, f.page_size - 8);
      std::copy(block.begin() + static_cast<ptrdiff_t>(pos),
                block.begin() + static_cast<ptrdiff_t>(pos + body), page.begin() + 8);
      body += 8;
    }
    pos += (i == 0) ? body : body - 8;
    Put32(page, 4, i + 1 < pages.size() ? pages[i + 1] : 0);
    // The free-space word counts the unused bytes of the page less 8.
    Put16(page, 2, static_cast<uint16_t>(body + 8 <= f.page_size ? f.page_size - body - 8 : 0));
    out.push_back(std::move(page));
  }
  return out;
}

}  // namespace jet
