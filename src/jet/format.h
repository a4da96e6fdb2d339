// One descriptor per file format version. Every offset and size the engine
// uses to read or write a Jet 3 (2048-byte pages) or Jet 4 (4096-byte pages)
// file lives here, so the code that walks pages is written once.
#pragma once

#include <cstddef>
#include <cstdint>

namespace jet {

enum class PageType : uint8_t {
  kHeader = 0x00,
  kData = 0x01,
  kTableDef = 0x02,
  kIndexNode = 0x03,
  kIndexLeaf = 0x04,
  kUsageMap = 0x05,
};

struct Format {
  int version;  // 3 or 4
  uint32_t page_size;

  // Header page (page 0). Bytes [masked_header_offset, +masked_header_size)
  // are RC4-masked with a fixed key.
  uint16_t masked_header_offset;  // 0x18
  uint16_t masked_header_size;    // 126 / 128
  uint16_t offset_sort_order;     // 0x3a (2 bytes) / 0x6e (4 bytes)
  uint16_t size_sort_order;
  uint16_t offset_code_page;      // 0x3c
  uint16_t offset_db_key;         // 0x3e
  uint16_t offset_password;       // 0x42
  uint16_t size_password;         // 20 / 40 bytes
  int16_t offset_creation_date;   // Jet 4 only: 0x72, -1 otherwise
  uint16_t offset_signature;      // 4: "Standard Jet DB\0"
  uint16_t offset_version;        // 0x14: 0 Jet 3, 1 Jet 4
  uint16_t offset_engine_build;   // 0x56 / 0x6a (masked): build of the engine that created it
  int16_t offset_version_tag;     // Jet 4 only: 0x98 (unmasked), -1 otherwise
  uint16_t offset_header_table;   // 0x600 / 0xe00: 16-bit words up to the page end

  // Data pages: type, 1, free space, owning tdef page, [4 unknown on Jet 4],
  // row count, row offset table.
  uint16_t data_free_space_offset;    // 2
  uint16_t data_tdef_offset;          // 4
  uint16_t data_row_count_offset;     // 8 / 12
  uint16_t data_row_table_offset;     // 10 / 14
  uint16_t max_rows_per_data_page;    // 255
  uint16_t max_row_size;              // 2012 / 4060
  uint16_t row_offset_size;           // 2 per entry of the row offset table

  // Row layout
  uint16_t row_column_count_size;  // 1 / 2
  uint16_t row_var_offset_size;    // 1 / 2

  // Table definition
  uint16_t tdef_offset_num_rows;        // 12 / 16
  uint16_t tdef_offset_next_autonum;    // 20
  uint16_t tdef_offset_table_type;      // 20 / 40
  uint16_t tdef_offset_max_cols;        // 21 / 41
  uint16_t tdef_offset_num_var_cols;    // 23 / 43
  uint16_t tdef_offset_num_cols;        // 25 / 45
  uint16_t tdef_offset_num_idx;         // 27 / 47  (logical indexes)
  uint16_t tdef_offset_num_real_idx;    // 31 / 51
  uint16_t tdef_offset_owned_pages;     // 35 / 55  (row pointer)
  uint16_t tdef_offset_free_pages;      // 39 / 59
  uint16_t tdef_header_size;            // 43 / 63
  uint16_t tdef_real_idx_header_size;   // 8 / 12 per real index (row counts)
  uint16_t column_def_size;             // 18 / 25
  uint16_t col_offset_type;             // 0
  uint16_t col_offset_number;           // 1 / 5
  uint16_t col_offset_var_index;        // 3 / 7
  uint16_t col_offset_row_number;       // 5 / 9 (column number again)
  uint16_t col_offset_sort_order;       // 9 / 11 (text: sort order; numeric: prec, scale)
  int16_t col_offset_code_page;         // 11 / -1
  uint16_t col_offset_flags;            // 13 / 15
  int16_t col_offset_ext_flags;         // -1 / 16
  uint16_t col_offset_fixed_offset;     // 14 / 21
  uint16_t col_offset_length;           // 16 / 23
  uint16_t name_length_size;            // 1 / 2  (Jet 4 names are UCS-2)
  uint16_t real_idx_def_size;           // 39 / 52
  uint16_t real_idx_skip_before;        // 0 / 4
  uint16_t real_idx_skip_after;         // 0 / 5  (after the flags byte)
  uint16_t real_idx_skip_before_flags;  // 0 / 4  (between root page and flags)
  uint16_t logical_idx_def_size;        // 20 / 28
  uint16_t logical_idx_skip_before;     // 0 / 4

  // Index pages
  uint16_t index_offset_free_space;    // 2
  uint16_t index_offset_tdef_page;     // 4
  uint16_t index_offset_prev_page;     // 8 / 12
  uint16_t index_offset_next_page;     // 12 / 16
  uint16_t index_offset_tail_page;     // 16 / 20
  uint16_t index_offset_prefix_len;    // 20 / 24
  uint16_t index_prefix_len_size;      // 1 / 2
  uint16_t index_offset_node_flag;     // 21 / 26: 1 on intermediate pages
  uint16_t index_offset_entry_mask;    // 22 / 27
  uint16_t index_entry_mask_size;      // 226 / 453
  uint16_t index_first_entry_offset;   // 0xf8 / 0x1e0

  // Usage maps
  uint16_t usage_map_inline_bytes;  // 128 / 64 (table maps); see usage_map.h
  uint16_t usage_map_row_header_size;   // 5: map type byte + 4-byte start page
  uint16_t usage_map_page_bitmap_offset;  // 4 on a type 0x05 page
  uint16_t global_usage_map_page;       // 1: row 0 of page 1 is the database's map

  // Long values
  uint16_t long_value_header_size;     // 12
  uint16_t max_inline_long_value;      // 64
  uint16_t max_long_value_row_size;    // 2032 / 4076

  bool unicode_text() const { return version >= 4; }
};

const Format& Jet3Format();
const Format& Jet4Format();

// Stored forms of values that are the same in both versions.
struct ValueLayout {
  // Decimal (17 bytes): sign byte (0x80 negative), then the 128-bit
  // magnitude as four little-endian 32-bit words, most significant first.
  static constexpr size_t kDecimalSize = 17;
  static constexpr size_t kDecimalSignOffset = 0;
  static constexpr uint8_t kDecimalNegative = 0x80;
  static constexpr size_t kDecimalWordsOffset = 1;
  static constexpr size_t kGuidSize = 16;
};

// Property blobs (MSysObjects.LvProp): a 4-byte magic, then chunks.
struct PropertyLayout {
  static constexpr uint8_t kMagicJet3[4] = {'K', 'K', 'D', 0};
  static constexpr uint8_t kMagicJet4[4] = {'M', 'R', '2', 0};
  static constexpr size_t kMagicSize = 4;
  // Chunk: u32 length (header included), u16 chunk type.
  static constexpr size_t kChunkHeaderSize = 6;
  static constexpr uint16_t kChunkNames = 0x80;   // u16 length + name, repeated
  static constexpr uint16_t kChunkObject = 0x00;  // the object's own values
  static constexpr uint16_t kChunkColumn = 0x01;  // one column's values
  // Value chunk: u32 length of the name block (itself included), u16 name
  // length, name; then the values.
  static constexpr size_t kMapNameBlockHeaderSize = 6;
  // Value: u16 length (header included), u8 DDL flag, u8 data type, u16 name
  // index, u16 data size, data.
  static constexpr size_t kValueHeaderSize = 8;
  static constexpr size_t kValueDdlOffset = 2;
  static constexpr size_t kValueTypeOffset = 3;
  static constexpr size_t kValueNameIndexOffset = 4;
  static constexpr size_t kValueSizeOffset = 6;
};

}  // namespace jet
