// Column values as a row stores them: the fixed-size types in the row's fixed
// area, Text and Binary in its variable area, Memo and OLE as long-value
// payloads (the caller assembles the payload first), Boolean as the column's
// bit in the null mask. Also the conversions the engine applies when a value
// of one kind is assigned to a column of another, and calendar helpers for
// dates.
//
// Decoding never reads outside `stored`: bytes too short for the type give
// JetError(kErrCorrupt). Null is the caller's business (the null mask);
// these functions only see present values.
#pragma once

#include <string>
#include <string_view>

#include "jet/bytes.h"
#include "jet/format.h"
#include "jet/tabledef.h"
#include "jet/value.h"

namespace jet {

constexpr size_t kGuidSize = ValueLayout::kGuidSize;
constexpr size_t kDecimalSize = ValueLayout::kDecimalSize;

// Decodes the stored bytes of column `col` (not Boolean). `version` is 3 or
// 4 and decides how text is stored. Decimal values take the column's scale.
// Types the engine does not know decode as Binary holding the raw bytes.
Value DecodeValue(const ColumnDef& col, ByteView stored, int version);

// Coerces `v` to the column's type and encodes it for storage. Null and
// Boolean columns are the caller's business (the null mask). Throws
// kErrFieldTooSmall when text or binary exceeds the column's length,
// kErrOverflow when a number does not fit the column (Decimal: more digits
// than its precision), kErrDataTypeMismatch when no conversion exists.
Bytes EncodeValue(const ColumnDef& col, const Value& v, int version);

// EncodeValue appending to `out`, without temporaries when `v` already has
// the column's type.
void AppendEncodedValue(const ColumnDef& col, const Value& v, int version, Bytes& out);

// Boolean columns: set bit means True.
inline Value BooleanFromBit(bool bit) { return Value(bit); }
bool BooleanBit(const Value& v);  // coerces; Null reads as False

// The value the engine stores when `v` is assigned to a column of type `t`:
// integers round half to even and must fit the type (else kErrOverflow),
// Currency rounds to four decimals the same way, True counts as -1, text
// that reads as a number or a date converts, anything converts to text.
// Null stays Null. Impossible conversions throw kErrDataTypeMismatch.
Value Coerce(const Value& v, ColumnType t);

// The value a column's DefaultValue expression gives it: numbers, True,
// False, Yes, No, Null, and quoted ("..." or '...') or bare text.
Value EvaluateDefault(const std::string& expr, ColumnType type);

// Calendar form of a date, to the second.
struct DateParts {
  int year = 1899, month = 12, day = 30;
  int hour = 0, minute = 0, second = 0;
  bool operator==(const DateParts&) const = default;
};

// The engine's dates run from 1 January 100 to 31 December 9999. The integer
// part counts days from 30 December 1899 and the fraction is the time of day
// whatever the sign: -1.25 is 29 December 1899 at 06:00. Rounds to the
// nearest second. Throws kErrOverflow for dates outside the range or NaN.
DateParts DateToParts(Date d);
// Throws kErrOverflow for a year outside 100..9999 and kErrInvalidArgument
// for a month, day or time that does not exist.
Date PartsToDate(const DateParts& p);
// "YYYY-MM-DD HH:MM:SS", or the bare number when the date is out of range.
std::string FormatDate(Date d);
// ISO ("2024-03-01", "2024-03-01 10:20[:30]", a 'T' also separates), the
// Spanish day-first form ("1/3/2024 10:20"), or a time alone ("10:20:30").
// Throws kErrDataTypeMismatch for anything else.
Date ParseDate(std::string_view s);

// Decimal helpers. Arithmetic is exact on the 96-bit magnitude; scales run
// from 0 to 28.
constexpr int kMaxDecimalScale = 28;
std::string DecimalToString(const Decimal& d);
// Plain or exponent notation. Digits beyond scale 28 round half to even.
// Throws kErrOverflow past 96 bits, kErrDataTypeMismatch for non-numbers.
Decimal ParseDecimal(std::string_view s);
double DecimalToDouble(const Decimal& d);
Decimal DoubleToDecimal(double x);  // shortest exact form of x
// Changes the scale, rounding half to even. Throws kErrOverflow.
Decimal RescaleDecimal(const Decimal& d, int scale);
int DecimalDigits(const Decimal& d);  // significant digits of the magnitude

// GUIDs print as the system does: "{XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX}",
// the first three groups little-endian on disk.
std::string GuidToString(const Guid& g);
Guid ParseGuid(std::string_view s);  // braces optional; throws kErrDataTypeMismatch

}  // namespace jet
