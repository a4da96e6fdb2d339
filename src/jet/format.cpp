#include "jet/format.h"

namespace jet {

const Format& Jet3Format() {
  static const Format f = [] {
    Format x{};
    x.version = 3;
    x.page_size = 2048;
    x.masked_header_offset = 0x18;
    x.masked_header_size = 126;
    x.offset_sort_order = 0x3a;
    x.size_sort_order = 2;
    x.offset_code_page = 0x3c;
    x.offset_db_key = 0x3e;
    x.offset_password = 0x42;
    x.size_password = 20;
    x.offset_creation_date = -1;
    x.data_free_space_offset = 2;
    x.data_tdef_offset = 4;
    x.data_row_count_offset = 8;
    x.data_row_table_offset = 10;
    x.max_rows_per_data_page = 255;
    x.max_row_size = 2012;
    x.row_column_count_size = 1;
    x.row_var_offset_size = 1;
    x.tdef_offset_num_rows = 12;
    x.tdef_offset_next_autonum = 16;
    x.tdef_offset_table_type = 20;
    x.tdef_offset_max_cols = 21;
    x.tdef_offset_num_var_cols = 23;
    x.tdef_offset_num_cols = 25;
    x.tdef_offset_num_idx = 27;
    x.tdef_offset_num_real_idx = 31;
    x.tdef_offset_owned_pages = 35;
    x.tdef_offset_free_pages = 39;
    x.tdef_header_size = 43;
    x.tdef_real_idx_header_size = 8;
    x.column_def_size = 18;
    x.col_offset_type = 0;
    x.col_offset_number = 1;
    x.col_offset_var_index = 3;
    x.col_offset_row_number = 5;
    x.col_offset_sort_order = 9;
    x.col_offset_code_page = 11;
    x.col_offset_flags = 13;
    x.col_offset_ext_flags = -1;
    x.col_offset_fixed_offset = 14;
    x.col_offset_length = 16;
    x.name_length_size = 1;
    x.real_idx_def_size = 39;
    x.real_idx_skip_before = 0;
    x.real_idx_skip_after = 0;
    x.logical_idx_def_size = 20;
    x.logical_idx_skip_before = 0;
    x.index_offset_prev_page = 8;
    x.index_offset_next_page = 12;
    x.index_offset_tail_page = 16;
    x.index_offset_prefix_len = 20;
    x.index_offset_entry_mask = 22;
    x.index_entry_mask_size = 226;
    x.index_first_entry_offset = 0xf8;
    x.usage_map_inline_bytes = 128;
    x.long_value_header_size = 12;
    x.max_inline_long_value = 64;
    x.max_long_value_row_size = 2032;
    return x;
  }();
  return f;
}

const Format& Jet4Format() {
  static const Format f = [] {
    Format x{};
    x.version = 4;
    x.page_size = 4096;
    x.masked_header_offset = 0x18;
    x.masked_header_size = 128;
    x.offset_sort_order = 0x6e;
    x.size_sort_order = 4;
    x.offset_code_page = 0x3c;
    x.offset_db_key = 0x3e;
    x.offset_password = 0x42;
    x.size_password = 40;
    x.offset_creation_date = 0x72;
    x.data_free_space_offset = 2;
    x.data_tdef_offset = 4;
    x.data_row_count_offset = 12;
    x.data_row_table_offset = 14;
    x.max_rows_per_data_page = 255;
    x.max_row_size = 4060;
    x.row_column_count_size = 2;
    x.row_var_offset_size = 2;
    x.tdef_offset_num_rows = 16;
    x.tdef_offset_next_autonum = 20;
    x.tdef_offset_table_type = 40;
    x.tdef_offset_max_cols = 41;
    x.tdef_offset_num_var_cols = 43;
    x.tdef_offset_num_cols = 45;
    x.tdef_offset_num_idx = 47;
    x.tdef_offset_num_real_idx = 51;
    x.tdef_offset_owned_pages = 55;
    x.tdef_offset_free_pages = 59;
    x.tdef_header_size = 63;
    x.tdef_real_idx_header_size = 12;
    x.column_def_size = 25;
    x.col_offset_type = 0;
    x.col_offset_number = 5;
    x.col_offset_var_index = 7;
    x.col_offset_row_number = 9;
    x.col_offset_sort_order = 11;
    x.col_offset_code_page = -1;
    x.col_offset_flags = 15;
    x.col_offset_ext_flags = 16;
    x.col_offset_fixed_offset = 21;
    x.col_offset_length = 23;
    x.name_length_size = 2;
    x.real_idx_def_size = 52;
    x.real_idx_skip_before = 4;
    x.real_idx_skip_after = 5;
    x.logical_idx_def_size = 28;
    x.logical_idx_skip_before = 4;
    x.index_offset_prev_page = 12;
    x.index_offset_next_page = 16;
    x.index_offset_tail_page = 20;
    x.index_offset_prefix_len = 24;
    x.index_offset_entry_mask = 27;
    x.index_entry_mask_size = 453;
    x.index_first_entry_offset = 0x1e0;
    x.usage_map_inline_bytes = 64;
    x.long_value_header_size = 12;
    x.max_inline_long_value = 64;
    x.max_long_value_row_size = 4076;
    return x;
  }();
  return f;
}

}  // namespace jet
