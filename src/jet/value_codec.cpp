#include "jet/value_codec.h"

#include <cctype>

#include <algorithm>
#include <bit>
#include <cfloat>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <limits>

#include "jet/text.h"

namespace jet {
namespace {

using Mag = std::array<uint32_t, 3>;

// Decimal arithmetic on the 96-bit magnitude, least significant word first.
bool MulAdd(Mag& m, uint32_t mul, uint32_t add) {
  uint64_t carry = add;
  for (auto& w : m) {
    const uint64_t p = uint64_t{w} * mul + carry;
    w = static_cast<uint32_t>(p);
    carry = p >> 32;
  }
  return carry == 0;
}

uint32_t DivMod(Mag& m, uint32_t div) {
  uint64_t rem = 0;
  for (int i = 2; i >= 0; --i) {
    const uint64_t cur = (rem << 32) | m[i];
    m[i] = static_cast<uint32_t>(cur / div);
    rem = cur % div;
  }
  return static_cast<uint32_t>(rem);
}

bool IsZero(const Mag& m) { return m[0] == 0 && m[1] == 0 && m[2] == 0; }

std::string_view Trim(std::string_view s) {
  while (!s.empty() && (s.front() == ' ' || s.front() == '\t')) s.remove_prefix(1);
  while (!s.empty() && (s.back() == ' ' || s.back() == '\t')) s.remove_suffix(1);
  return s;
}

// Rounds the magnitude after the digits below it were dropped: `last` is the
// first dropped digit, `sticky` whether any later one was non-zero.
void RoundHalfEven(Mag& m, uint32_t last, bool sticky) {
  if (last > 5 || (last == 5 && (sticky || (m[0] & 1)))) {
    if (!MulAdd(m, 1, 1)) throw JetError(kErrOverflow);
  }
}

// The signed magnitude of a Decimal, its scale ignored.
int64_t UnscaledInt64(const Decimal& r) {
  const Mag& m = r.magnitude;
  if (m[2] != 0) throw JetError(kErrOverflow);
  const uint64_t mag = (uint64_t{m[1]} << 32) | m[0];
  const uint64_t limit = r.negative ? uint64_t{1} << 63 : (uint64_t{1} << 63) - 1;
  if (mag > limit) throw JetError(kErrOverflow);
  return r.negative ? static_cast<int64_t>(0 - mag) : static_cast<int64_t>(mag);
}

int64_t DecimalToInt64(const Decimal& d) { return UnscaledInt64(RescaleDecimal(d, 0)); }

Decimal Int64ToDecimal(int64_t v, uint8_t scale) {
  Decimal d;
  d.negative = v < 0;
  const uint64_t mag = d.negative ? 0 - static_cast<uint64_t>(v) : static_cast<uint64_t>(v);
  d.magnitude = {static_cast<uint32_t>(mag), static_cast<uint32_t>(mag >> 32), 0};
  d.scale = scale;
  return d;
}

bool ParseDouble(std::string_view s, double& out) {
  s = Trim(s);
  if (!s.empty() && s.front() == '+') s.remove_prefix(1);
  if (s.empty()) return false;
  auto r = std::from_chars(s.data(), s.data() + s.size(), out);
  return r.ec == std::errc() && r.ptr == s.data() + s.size();
}

int64_t RoundToInt64(double x) {
  const double r = std::nearbyint(x);
  if (!std::isfinite(r) || r < -9223372036854775808.0 || r >= 9223372036854775808.0) {
    throw JetError(kErrOverflow);
  }
  return static_cast<int64_t>(r);
}

// Integer part of a value headed for a Byte, Integer or Long column.
int64_t ToWhole(const Value& v) {
  if (v.is<bool>()) return v.as<bool>() ? -1 : 0;
  if (v.is<int32_t>()) return v.as<int32_t>();
  if (v.is<Currency>()) return DecimalToInt64(Int64ToDecimal(v.as<Currency>().scaled, 4));
  if (v.is<Decimal>()) return DecimalToInt64(v.as<Decimal>());
  if (v.is<std::string>()) return DecimalToInt64(ParseDecimal(v.as<std::string>()));
  if (v.is<float>() || v.is<double>() || v.is<Date>()) return RoundToInt64(v.ToDouble());
  throw JetError(kErrDataTypeMismatch);
}

Currency ToCurrency(const Value& v) {
  if (v.is<Currency>()) return v.as<Currency>();
  if (v.is<bool>() || v.is<int32_t>()) return {static_cast<int64_t>(v.ToDouble()) * 10000};
  if (v.is<Decimal>()) return {UnscaledInt64(RescaleDecimal(v.as<Decimal>(), 4))};
  if (v.is<std::string>()) {
    return {UnscaledInt64(RescaleDecimal(ParseDecimal(v.as<std::string>()), 4))};
  }
  if (v.is<float>() || v.is<double>() || v.is<Date>()) return {RoundToInt64(v.ToDouble() * 10000.0)};
  throw JetError(kErrDataTypeMismatch);
}

Decimal ToDecimal(const Value& v) {
  if (v.is<Decimal>()) return v.as<Decimal>();
  if (v.is<bool>() || v.is<int32_t>()) return Int64ToDecimal(static_cast<int64_t>(v.ToDouble()), 0);
  if (v.is<Currency>()) return Int64ToDecimal(v.as<Currency>().scaled, 4);
  if (v.is<std::string>()) return ParseDecimal(v.as<std::string>());
  if (v.is<float>()) {
    char buf[64];
    auto r = std::to_chars(buf, buf + sizeof buf, v.as<float>());
    if (!std::isfinite(v.as<float>())) throw JetError(kErrOverflow);
    return ParseDecimal(std::string_view(buf, r.ptr - buf));
  }
  if (v.is<double>() || v.is<Date>()) return DoubleToDecimal(v.ToDouble());
  throw JetError(kErrDataTypeMismatch);
}

double ToDoubleValue(const Value& v) {
  if (v.is<std::string>()) {
    double d;
    if (!ParseDouble(v.as<std::string>(), d)) throw JetError(kErrDataTypeMismatch);
    return d;
  }
  return v.ToDouble();  // throws for Binary and Guid
}

bool ToBoolean(const Value& v) {
  if (v.is<bool>()) return v.as<bool>();
  if (v.is<std::string>()) {
    const std::u16string f = FoldName(Trim(v.as<std::string>()));
    for (const char* t : {"TRUE", "YES", "ON", "SÍ", "SI", "VERDADERO"}) {
      if (f == FoldName(t)) return true;
    }
    for (const char* t : {"FALSE", "NO", "OFF", "FALSO"}) {
      if (f == FoldName(t)) return false;
    }
  }
  return ToDoubleValue(v) != 0;
}

Value CheckedWhole(const Value& v, int64_t lo, int64_t hi) {
  const int64_t w = ToWhole(v);
  if (w < lo || w > hi) throw JetError(kErrOverflow);
  return Value(static_cast<int32_t>(w));
}

int64_t DaysFromCivil(int64_t y, int m, int d) {
  y -= m <= 2;
  const int64_t era = (y >= 0 ? y : y - 399) / 400;
  const int64_t yoe = y - era * 400;
  const int64_t doy = (153 * (m > 2 ? m - 3 : m + 9) + 2) / 5 + d - 1;
  const int64_t doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  return era * 146097 + doe - 719468;
}

void CivilFromDays(int64_t z, int& y, int& m, int& d) {
  z += 719468;
  const int64_t era = (z >= 0 ? z : z - 146096) / 146097;
  const int64_t doe = z - era * 146097;
  const int64_t yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
  const int64_t doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
  const int64_t mp = (5 * doy + 2) / 153;
  d = static_cast<int>(doy - (153 * mp + 2) / 5 + 1);
  m = static_cast<int>(mp < 10 ? mp + 3 : mp - 9);
  y = static_cast<int>(yoe + era * 400 + (m <= 2));
}

const int64_t kEpochDay = DaysFromCivil(1899, 12, 30);
constexpr int64_t kMinDay = -657434;  // 1 January 100
constexpr int64_t kMaxDay = 2958465;  // 31 December 9999

int DaysInMonth(int y, int m) {
  static const int kDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  const bool leap = (y % 4 == 0 && y % 100 != 0) || y % 400 == 0;
  return m == 2 && leap ? 29 : kDays[m - 1];
}

// Reads an unsigned decimal number at `i`; returns its digit count (0: none).
int ReadUint(std::string_view s, size_t& i, int& out) {
  int n = 0;
  out = 0;
  while (i < s.size() && s[i] >= '0' && s[i] <= '9' && n < 9) {
    out = out * 10 + (s[i] - '0');
    ++i, ++n;
  }
  return n;
}

bool ParseTime(std::string_view s, DateParts& p) {
  size_t i = 0;
  if (!ReadUint(s, i, p.hour) || i >= s.size() || s[i++] != ':') return false;
  if (!ReadUint(s, i, p.minute)) return false;
  p.second = 0;
  if (i < s.size()) {
    if (s[i++] != ':' || !ReadUint(s, i, p.second)) return false;
  }
  return i == s.size();
}

bool ParseCalendarDate(std::string_view s, DateParts& p) {
  size_t i = 0;
  int a, b, c;
  const int first = ReadUint(s, i, a);
  if (!first || i >= s.size()) return false;
  const char sep = s[i++];
  if (sep != '-' && sep != '/' && sep != '.') return false;
  if (!ReadUint(s, i, b) || i >= s.size() || s[i++] != sep) return false;
  const int last = ReadUint(s, i, c);
  if (!last || i != s.size()) return false;
  if (first == 4) {
    p.year = a, p.month = b, p.day = c;
  } else {
    p.day = a, p.month = b, p.year = c;
    if (last <= 2) p.year += c < 30 ? 2000 : 1900;
  }
  return true;
}

}  // namespace

// ---- Decimal ----

std::string DecimalToString(const Decimal& d) {
  Mag m = d.magnitude;
  std::string digits;
  do {
    digits.push_back(static_cast<char>('0' + DivMod(m, 10)));
  } while (!IsZero(m));
  while (digits.size() <= d.scale) digits.push_back('0');
  std::string out;
  if (d.negative && !IsZero(d.magnitude)) out.push_back('-');
  for (size_t k = digits.size(); k-- > 0;) {
    out.push_back(digits[k]);
    if (k == d.scale && k != 0) out.push_back('.');
  }
  return out;
}

Decimal ParseDecimal(std::string_view s) {
  s = Trim(s);
  Decimal d;
  size_t i = 0;
  if (i < s.size() && (s[i] == '-' || s[i] == '+')) d.negative = s[i++] == '-';
  std::string digits;
  int frac = 0;
  bool seen_digit = false, seen_point = false;
  for (; i < s.size(); ++i) {
    const char c = s[i];
    if (c >= '0' && c <= '9') {
      seen_digit = true;
      if (!digits.empty() || c != '0') digits.push_back(c);
      if (seen_point) ++frac;
    } else if (c == '.' && !seen_point) {
      seen_point = true;
    } else {
      break;
    }
  }
  if (!seen_digit) throw JetError(kErrDataTypeMismatch);
  int64_t exp = 0;
  if (i < s.size() && (s[i] == 'e' || s[i] == 'E')) {
    ++i;
    bool neg_exp = false;
    if (i < s.size() && (s[i] == '-' || s[i] == '+')) neg_exp = s[i++] == '-';
    int e;
    if (!ReadUint(s, i, e)) throw JetError(kErrDataTypeMismatch);
    exp = neg_exp ? -e : e;
  }
  if (i != s.size()) throw JetError(kErrDataTypeMismatch);
  int64_t scale = frac - exp;
  if (digits.empty()) {
    d.negative = false;
    d.scale = static_cast<uint8_t>(std::clamp<int64_t>(scale, 0, kMaxDecimalScale));
    return d;
  }
  if (scale < 0) {
    if (static_cast<int64_t>(digits.size()) - scale > 29) throw JetError(kErrOverflow);
    digits.append(static_cast<size_t>(-scale), '0');
    scale = 0;
  }
  uint32_t last = 0;
  bool sticky = false;
  if (scale > kMaxDecimalScale) {
    const int64_t drop = scale - kMaxDecimalScale;
    const int64_t keep = static_cast<int64_t>(digits.size()) - drop;
    if (keep >= 0) {
      last = keep < static_cast<int64_t>(digits.size()) ? digits[keep] - '0' : 0;
      for (size_t k = keep + 1; k < digits.size(); ++k) sticky |= digits[k] != '0';
      digits.resize(keep);
    } else {
      digits.clear();  // far below the smallest step: rounds to zero
    }
    scale = kMaxDecimalScale;
  }
  for (char c : digits) {
    if (!MulAdd(d.magnitude, 10, c - '0')) throw JetError(kErrOverflow);
  }
  RoundHalfEven(d.magnitude, last, sticky);
  d.scale = static_cast<uint8_t>(scale);
  if (IsZero(d.magnitude)) d.negative = false;
  return d;
}

double DecimalToDouble(const Decimal& d) {
  const std::string s = DecimalToString(d);
  double x = 0;
  std::from_chars(s.data(), s.data() + s.size(), x);
  return x;
}

Decimal DoubleToDecimal(double x) {
  if (!std::isfinite(x)) throw JetError(kErrOverflow);
  char buf[64];
  auto r = std::to_chars(buf, buf + sizeof buf, x);
  return ParseDecimal(std::string_view(buf, r.ptr - buf));
}

Decimal RescaleDecimal(const Decimal& d, int scale) {
  if (scale < 0 || scale > kMaxDecimalScale) throw JetError(kErrInvalidArgument);
  Decimal r = d;
  for (int s = d.scale; s < scale; ++s) {
    if (!MulAdd(r.magnitude, 10, 0)) throw JetError(kErrOverflow);
  }
  uint32_t last = 0;
  bool sticky = false;
  for (int s = d.scale; s > scale; --s) {
    sticky |= last != 0;
    last = DivMod(r.magnitude, 10);
  }
  RoundHalfEven(r.magnitude, last, sticky);
  r.scale = static_cast<uint8_t>(scale);
  if (IsZero(r.magnitude)) r.negative = false;
  return r;
}

int DecimalDigits(const Decimal& d) {
  Mag m = d.magnitude;
  int n = 0;
  do {
    DivMod(m, 10);
    ++n;
  } while (!IsZero(m));
  return n;
}

// ---- GUID ----

namespace {
// Byte order of the printed form: the first three groups are little-endian.
constexpr int kGuidPrintOrder[16] = {3, 2, 1, 0, 5, 4, 7, 6, 8, 9, 10, 11, 12, 13, 14, 15};
}  // namespace

std::string GuidToString(const Guid& g) {
  static const char kHex[] = "0123456789ABCDEF";
  std::string out = "{";
  for (int k = 0; k < 16; ++k) {
    if (k == 4 || k == 6 || k == 8 || k == 10) out.push_back('-');
    const uint8_t b = g.bytes[kGuidPrintOrder[k]];
    out.push_back(kHex[b >> 4]);
    out.push_back(kHex[b & 15]);
  }
  out.push_back('}');
  return out;
}

Guid ParseGuid(std::string_view s) {
  s = Trim(s);
  if (s.size() == 38 && s.front() == '{' && s.back() == '}') s = s.substr(1, 36);
  if (s.size() != 36) throw JetError(kErrDataTypeMismatch);
  auto hex = [](char c) -> int {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
  };
  Guid g;
  size_t i = 0;
  for (int k = 0; k < 16; ++k) {
    if (i == 8 || i == 13 || i == 18 || i == 23) {
      if (s[i++] != '-') throw JetError(kErrDataTypeMismatch);
    }
    const int hi = hex(s[i]), lo = hex(s[i + 1]);
    if (hi < 0 || lo < 0) throw JetError(kErrDataTypeMismatch);
    g.bytes[kGuidPrintOrder[k]] = static_cast<uint8_t>(hi * 16 + lo);
    i += 2;
  }
  return g;
}

// ---- Dates ----

DateParts DateToParts(Date d) {
  if (!std::isfinite(d.days)) throw JetError(kErrOverflow);
  const double whole = std::trunc(d.days);
  if (whole < kMinDay || whole > kMaxDay) throw JetError(kErrOverflow);
  int64_t day = static_cast<int64_t>(whole);
  int64_t secs = std::llround(std::fabs(d.days - whole) * 86400.0);
  if (secs >= 86400) {
    if (day < kMaxDay) {
      ++day;  // the time rounded up to the next midnight
      secs = 0;
    } else {
      secs = 86399;
    }
  }
  DateParts p;
  CivilFromDays(day + kEpochDay, p.year, p.month, p.day);
  p.hour = static_cast<int>(secs / 3600);
  p.minute = static_cast<int>(secs / 60 % 60);
  p.second = static_cast<int>(secs % 60);
  return p;
}

Date PartsToDate(const DateParts& p) {
  if (p.year < 100 || p.year > 9999) throw JetError(kErrOverflow);
  if (p.month < 1 || p.month > 12 || p.day < 1 || p.day > DaysInMonth(p.year, p.month) ||
      p.hour < 0 || p.hour > 23 || p.minute < 0 || p.minute > 59 || p.second < 0 ||
      p.second > 59) {
    throw JetError(kErrInvalidArgument);
  }
  const int64_t day = DaysFromCivil(p.year, p.month, p.day) - kEpochDay;
  const double t = (p.hour * 3600 + p.minute * 60 + p.second) / 86400.0;
  return Date{day >= 0 ? static_cast<double>(day) + t : static_cast<double>(day) - t};
}

std::string FormatDate(Date d) {
  DateParts p;
  try {
    p = DateToParts(d);
  } catch (const JetError&) {
    char buf[64];
    auto r = std::to_chars(buf, buf + sizeof buf, d.days);
    return std::string(buf, r.ptr);
  }
  char buf[32];
  std::snprintf(buf, sizeof buf, "%04d-%02d-%02d %02d:%02d:%02d", p.year, p.month, p.day, p.hour,
                p.minute, p.second);
  return buf;
}

Date ParseDate(std::string_view s) {
  s = Trim(s);
  DateParts p;
  bool ok;
  if (s.find_first_of("-/.") == std::string_view::npos) {
    ok = ParseTime(s, p);
  } else {
    const size_t split = s.find_first_of(" T");
    ok = ParseCalendarDate(s.substr(0, split), p);
    if (ok && split != std::string_view::npos) ok = ParseTime(Trim(s.substr(split + 1)), p);
  }
  if (!ok) throw JetError(kErrDataTypeMismatch);
  try {
    return PartsToDate(p);
  } catch (const JetError& e) {
    if (e.number() == kErrInvalidArgument) throw JetError(kErrDataTypeMismatch);
    throw;
  }
}

// ---- Coercion ----

bool BooleanBit(const Value& v) { return !v.is_null() && ToBoolean(v); }

Value Coerce(const Value& v, ColumnType t) {
  if (v.is_null()) return v;
  switch (t) {
    case ColumnType::kBoolean:
      return Value(ToBoolean(v));
    case ColumnType::kByte:
      return CheckedWhole(v, 0, 255);
    case ColumnType::kInteger:
      return CheckedWhole(v, -32768, 32767);
    case ColumnType::kLong:
      return CheckedWhole(v, std::numeric_limits<int32_t>::min(),
                          std::numeric_limits<int32_t>::max());
    case ColumnType::kCurrency:
      return Value(ToCurrency(v));
    case ColumnType::kSingle: {
      if (v.is<float>()) return v;
      const double x = ToDoubleValue(v);
      if (std::isfinite(x) && std::fabs(x) > FLT_MAX) throw JetError(kErrOverflow);
      return Value(static_cast<float>(x));
    }
    case ColumnType::kDouble:
      return Value(ToDoubleValue(v));
    case ColumnType::kDate: {
      if (v.is<Date>()) return v;
      Date d;
      if (v.is<std::string>()) {
        try {
          d = ParseDate(v.as<std::string>());
        } catch (const JetError& e) {
          if (e.number() != kErrDataTypeMismatch) throw;
          d = Date{ToDoubleValue(v)};
        }
      } else {
        d = Date{ToDoubleValue(v)};
      }
      DateToParts(d);  // range check
      return Value(d);
    }
    case ColumnType::kText:
    case ColumnType::kMemo:
      if (v.is<Binary>()) throw JetError(kErrDataTypeMismatch);
      return Value(v.ToString());
    case ColumnType::kBinary:
    case ColumnType::kOle:
      if (!v.is<Binary>()) throw JetError(kErrDataTypeMismatch);
      return v;
    case ColumnType::kGuid:
      if (v.is<Guid>()) return v;
      if (v.is<std::string>()) return Value(ParseGuid(v.as<std::string>()));
      if (v.is<Binary>() && v.as<Binary>().size() == kGuidSize) {
        Guid g;
        std::copy(v.as<Binary>().begin(), v.as<Binary>().end(), g.bytes.begin());
        return Value(g);
      }
      throw JetError(kErrDataTypeMismatch);
    case ColumnType::kDecimal:
      return Value(ToDecimal(v));
  }
  throw JetError(kErrDataTypeMismatch);
}

// ---- Storage ----

Value DecodeValue(const ColumnDef& col, ByteView b, int version) {
  switch (col.type) {
    case ColumnType::kBoolean:
      throw JetError(kErrInvalidArgument);  // the null mask holds it
    case ColumnType::kByte:
      return Value(static_cast<int32_t>(Get8(b, 0)));
    case ColumnType::kInteger:
      return Value(static_cast<int32_t>(static_cast<int16_t>(Get16(b, 0))));
    case ColumnType::kLong:
      return Value(static_cast<int32_t>(Get32(b, 0)));
    case ColumnType::kCurrency:
      return Value(Currency{static_cast<int64_t>(Get64(b, 0))});
    case ColumnType::kSingle:
      return Value(std::bit_cast<float>(Get32(b, 0)));
    case ColumnType::kDouble:
      return Value(BitsToDouble(Get64(b, 0)));
    case ColumnType::kDate:
      return Value(Date{BitsToDouble(Get64(b, 0))});
    case ColumnType::kGuid: {
      CheckRange(b, 0, kGuidSize);
      Guid g;
      std::copy(b.begin(), b.begin() + kGuidSize, g.bytes.begin());
      return Value(g);
    }
    case ColumnType::kDecimal: {
      // The engine's 28 digits never reach the top word.
      using L = ValueLayout;
      CheckRange(b, 0, kDecimalSize);
      if (Get32(b, L::kDecimalWordsOffset) != 0 || col.scale > kMaxDecimalScale) {
        throw JetError(kErrCorrupt);
      }
      Decimal d;
      for (int k = 0; k < 3; ++k) d.magnitude[k] = Get32(b, L::kDecimalWordsOffset + 4 * (3 - k));
      d.negative = (b[L::kDecimalSignOffset] & L::kDecimalNegative) && !IsZero(d.magnitude);
      d.scale = col.scale;
      return Value(d);
    }
    case ColumnType::kText:
    case ColumnType::kMemo:
      return Value(DecodeText(b, version));
    case ColumnType::kBinary:
    case ColumnType::kOle:
      break;
  }
  return Value(Binary(b.begin(), b.end()));
}

namespace {

// Values that already have the column's type, the usual case for rows the
// engine writes, are appended without a conversion or temporary copies.
bool AppendExact(const ColumnDef& col, const Value& v, int version, Bytes& out) {
  switch (col.type) {
    case ColumnType::kLong:
      if (!v.is<int32_t>()) return false;
      Append32(out, static_cast<uint32_t>(v.as<int32_t>()));
      return true;
    case ColumnType::kDouble:
      if (!v.is<double>()) return false;
      Append64(out, DoubleToBits(v.as<double>()));
      return true;
    case ColumnType::kDate:
      if (!v.is<Date>()) return false;
      Append64(out, DoubleToBits(v.as<Date>().days));
      return true;
    case ColumnType::kCurrency:
      if (!v.is<Currency>()) return false;
      Append64(out, static_cast<uint64_t>(v.as<Currency>().scaled));
      return true;
    case ColumnType::kText: {
      if (!v.is<std::string>() || version < 4 || (col.ext_flags & kColCompressedUnicode)) return false;
      const std::string& s = v.as<std::string>();
      size_t at = out.size();
      AppendUcs2(s, out);
      if (col.length != 0 && out.size() - at > col.length) throw JetError(kErrFieldTooSmall);
      return true;
    }
    default:
      return false;
  }
}

}  // namespace

void AppendEncodedValue(const ColumnDef& col, const Value& v, int version, Bytes& out) {
  if (AppendExact(col, v, version, out)) return;
  Bytes b = EncodeValue(col, v, version);
  out.insert(out.end(), b.begin(), b.end());
}

Bytes EncodeValue(const ColumnDef& col, const Value& v, int version) {
  const Value c = Coerce(v, col.type);
  if (c.is_null() || col.type == ColumnType::kBoolean) throw JetError(kErrInvalidArgument);
  Bytes out;
  switch (col.type) {
    case ColumnType::kBoolean:
      break;
    case ColumnType::kByte:
      Append8(out, static_cast<uint8_t>(c.as<int32_t>()));
      break;
    case ColumnType::kInteger:
      Append16(out, static_cast<uint16_t>(c.as<int32_t>()));
      break;
    case ColumnType::kLong:
      Append32(out, static_cast<uint32_t>(c.as<int32_t>()));
      break;
    case ColumnType::kCurrency:
      Append64(out, static_cast<uint64_t>(c.as<Currency>().scaled));
      break;
    case ColumnType::kSingle:
      Append32(out, std::bit_cast<uint32_t>(c.as<float>()));
      break;
    case ColumnType::kDouble:
      Append64(out, DoubleToBits(c.as<double>()));
      break;
    case ColumnType::kDate:
      Append64(out, DoubleToBits(c.as<Date>().days));
      break;
    case ColumnType::kGuid:
      AppendBytes(out, c.as<Guid>().bytes);
      break;
    case ColumnType::kDecimal: {
      const Decimal d = RescaleDecimal(c.as<Decimal>(), std::min<int>(col.scale, kMaxDecimalScale));
      if (col.precision != 0 && DecimalDigits(d) > col.precision) throw JetError(kErrOverflow);
      Append8(out, d.negative ? ValueLayout::kDecimalNegative : 0x00);
      Append32(out, 0);  // top word
      for (int k = 2; k >= 0; --k) Append32(out, d.magnitude[k]);
      break;
    }
    case ColumnType::kText:
    case ColumnType::kMemo: {
      const std::string& s = c.as<std::string>();
      // Fixed-length text is always stored uncompressed.
      const bool compress = (col.ext_flags & kColCompressedUnicode) && !col.fixed();
      out = EncodeText(s, version, compress);
      if (col.type == ColumnType::kText && col.length != 0) {
        const size_t units = version >= 4 ? Utf8ToUtf16(s).size() : out.size();
        const size_t limit = version >= 4 ? col.length / 2u : col.length;
        if (units > limit) throw JetError(kErrFieldTooSmall);
      }
      break;
    }
    case ColumnType::kBinary:
    case ColumnType::kOle:
    {
      const Binary& bin = c.as<Binary>();
      if (col.type == ColumnType::kBinary && col.length != 0 && bin.size() > col.length) {
        throw JetError(kErrFieldTooSmall);
      }
      return bin;
    }
  }
  return out;
}

// The value a DefaultValue expression gives for a column: numbers, True,
// False, Null, and quoted or bare text.
Value EvaluateDefault(const std::string& expr, ColumnType type) {
  std::string s = expr;
  while (!s.empty() && std::isspace(static_cast<unsigned char>(s.front()))) s.erase(s.begin());
  while (!s.empty() && std::isspace(static_cast<unsigned char>(s.back()))) s.pop_back();
  if (s.empty()) return Value::Null();
  std::string upper = s;
  for (auto& ch : upper) ch = static_cast<char>(std::toupper(static_cast<unsigned char>(ch)));
  if (upper == "NULL") return Value::Null();
  if (upper == "TRUE" || upper == "YES") return Coerce(Value(true), type);
  if (upper == "FALSE" || upper == "NO") return Coerce(Value(false), type);
  if (s.size() >= 2 && (s.front() == '"' || s.front() == '\'') && s.back() == s.front()) {
    std::string inner;
    char q = s.front();
    for (size_t i = 1; i + 1 < s.size(); ++i) {
      inner.push_back(s[i]);
      if (s[i] == q && i + 2 < s.size() && s[i + 1] == q) ++i;
    }
    return Coerce(Value(inner), type);
  }
  return Coerce(Value(s), type);
}


}  // namespace jet
