// The rows of one table as text, for `maquetor export`: CSV in the layout of
// mdbtools' mdb-export (so that scripts written for it keep working), JSON
// and JSON lines with the value forms of `inspect --json`.
//
// mdb-export's defaults: a header row of column names; ',' between fields
// and "\n" after each row; text, memo and dates in double quotes with quotes
// doubled; Yes/No as 0 and 1; numbers bare; dates as %m/%d/%y %H:%M:%S
// (date-only columns, those whose Format is "Short Date", as %m/%d/%y);
// binary and OLE as their raw bytes in quotes; NULL as nothing. Where
// mdb-export's text is wrong, it is written right instead (see
// AppendCsvValue). Rows are streamed: nothing holds a whole table.
#pragma once

#include <cstdint>
#include <ostream>
#include <string>
#include <vector>

#include "jet/value.h"
#include "table_rows.h"

namespace maquetor {

enum class BinaryMode { kStrip, kRaw, kOctal, kHex };

struct CsvOptions {
  bool header = true;
  std::string delimiter = ",";
  std::string row_delimiter = "\n";
  bool quote_text = true;
  std::string quote = "\"";
  std::string escape;  // before a quote (or itself) inside a field; empty: doubling
  bool escape_invisible = false;  // \r \t \n and \ written C-style in text
  std::string date_format = "%m/%d/%y";
  std::string datetime_format = "%m/%d/%y %H:%M:%S";
  std::string null_text;
  BinaryMode binary = BinaryMode::kRaw;
  bool boolean_words = false;
};

// mdb-export's reading of an option's text: "\n", "\t" and "\r" become the
// characters; any other backslash stays as it is.
std::string UnescapeOption(const std::string& text);

// A buffer in front of a stream, written out in large pieces.
class OutputBuffer {
 public:
  explicit OutputBuffer(std::ostream& out) : out_(out) { text_.reserve(kSize + 4096); }
  ~OutputBuffer() { Flush(); }
  std::string& text() { return text_; }
  // Writes out the buffer once it is full; call after each row.
  void MaybeFlush() {
    if (text_.size() >= kSize) Flush();
  }
  void Flush();

 private:
  static constexpr size_t kSize = size_t{1} << 20;
  std::ostream& out_;
  std::string text_;
};

// Appends one non-null value of a column of `type` as mdb-export prints it
// (quotes included). `short_date`: the column's Format is "Short Date".
void AppendCsvValue(std::string& out, const jet::Value& v, jet::ColumnType type, bool short_date,
                    const CsvOptions& options);

// The whole table: header (unless turned off) and every row. Returns the
// number of rows.
int64_t WriteCsv(RowCursor& rows, const std::vector<bool>& short_date, const CsvOptions& options,
                 OutputBuffer& out);
// One JSON object per row: as an array (`lines` false) or one per line.
int64_t WriteJson(RowCursor& rows, bool lines, OutputBuffer& out);

}  // namespace maquetor
