#include "export_format.h"

#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <ctime>

#include <nlohmann/json.hpp>

#include "database_report.h"
#include "jet/error.h"
#include "jet/value_codec.h"

namespace maquetor {

std::string UnescapeOption(const std::string& text) {
  std::string out;
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '\\' && i + 1 < text.size()) {
      const char c = text[i + 1];
      if (c == 'n' || c == 't' || c == 'r') {
        out.push_back(c == 'n' ? '\n' : c == 't' ? '\t' : '\r');
        ++i;
        continue;
      }
    }
    out.push_back(text[i]);
  }
  return out;
}

void OutputBuffer::Flush() {
  if (text_.empty()) return;
  out_.write(text_.data(), static_cast<std::streamsize>(text_.size()));
  text_.clear();
}

namespace {

void AppendDigits2(std::string& out, int v) {
  out.push_back(static_cast<char>('0' + v / 10 % 10));
  out.push_back(static_cast<char>('0' + v % 10));
}

template <typename T>
void AppendInteger(std::string& out, T v) {
  char buf[24];
  auto r = std::to_chars(buf, buf + sizeof buf, v);
  out.append(buf, r.ptr);
}

// mdb-export prints a Single with 8 significant digits and a Double with
// 16 (printf's %g), which leaves some values unreadable back (0.1 + 0.2
// prints as 0.3); one more digit is used exactly when it is needed.
template <typename T>
void AppendFloating(std::string& out, T v, int digits) {
  char buf[48];
  auto r = std::to_chars(buf, buf + sizeof buf, v, std::chars_format::general, digits);
  if (std::isfinite(v)) {
    T back{};
    std::from_chars(buf, r.ptr, back);
    if (back != v) r = std::to_chars(buf, buf + sizeof buf, v, std::chars_format::general, digits + 1);
  }
  out.append(buf, r.ptr);
}

void AppendSingle(std::string& out, float f) { AppendFloating(out, f, 8); }
void AppendDouble(std::string& out, double d) { AppendFloating(out, d, 16); }

// Four decimals, as stored; the whole range, the most negative included.
void AppendCurrency(std::string& out, int64_t scaled) {
  uint64_t magnitude = scaled < 0 ? 0 - static_cast<uint64_t>(scaled) : static_cast<uint64_t>(scaled);
  if (scaled < 0) out.push_back('-');
  AppendInteger(out, magnitude / 10000);
  out.push_back('.');
  const unsigned frac = static_cast<unsigned>(magnitude % 10000);
  AppendDigits2(out, static_cast<int>(frac / 100));
  AppendDigits2(out, static_cast<int>(frac % 100));
}

bool IsDefaultDateTime(const std::string& format) { return format == "%m/%d/%y %H:%M:%S"; }

// Dates outside the engine's range (years 100 to 9999) print as the
// stored number.
void AppendDate(std::string& out, double days, const std::string& format) {
  jet::DateParts p;
  try {
    p = jet::DateToParts(jet::Date{days});
  } catch (const jet::JetError&) {
    AppendDouble(out, days);
    return;
  }
  if (IsDefaultDateTime(format)) {
    AppendDigits2(out, p.month);
    out.push_back('/');
    AppendDigits2(out, p.day);
    out.push_back('/');
    AppendDigits2(out, p.year % 100);
    out.push_back(' ');
    AppendDigits2(out, p.hour);
    out.push_back(':');
    AppendDigits2(out, p.minute);
    out.push_back(':');
    AppendDigits2(out, p.second);
    return;
  }
  std::tm t{};
  t.tm_year = p.year - 1900;
  t.tm_mon = p.month - 1;
  t.tm_mday = p.day;
  t.tm_hour = p.hour;
  t.tm_min = p.minute;
  t.tm_sec = p.second;
  const auto day = [](int y, int m, int d) {
    return static_cast<int64_t>(std::floor(jet::PartsToDate({y, m, d, 0, 0, 0}).days));
  };
  const int64_t serial = day(p.year, p.month, p.day);
  t.tm_wday = static_cast<int>(((serial % 7) + 7 + 6) % 7);  // day 0 was a Saturday
  t.tm_yday = static_cast<int>(serial - day(p.year, 1, 1));
  t.tm_isdst = -1;
  if (format.empty()) return;
  char buf[512];
  const size_t n = std::strftime(buf, sizeof buf, format.c_str(), &t);
  out.append(buf, n);
}

bool StartsWith(const char* p, const char* end, const std::string& s) {
  return !s.empty() && static_cast<size_t>(end - p) >= s.size() && std::memcmp(p, s.data(), s.size()) == 0;
}

// A field between quotes: the quote is doubled, or preceded by the escape
// (which is then itself doubled); with `octal` every byte is written as
// \ooo, quotes too.
void AppendQuoted(std::string& out, const char* p, size_t n, const CsvOptions& o, bool octal) {
  out += o.quote;
  const char* end = p + n;
  const std::string& escape = o.escape.empty() ? o.quote : o.escape;
  if (o.quote.size() == 1 && o.escape.empty() && !o.escape_invisible && !octal) {
    const char q = o.quote[0];
    while (p < end) {
      const void* hit = std::memchr(p, q, static_cast<size_t>(end - p));
      const char* stop = hit ? static_cast<const char*>(hit) : end;
      out.append(p, stop);
      if (!hit) break;
      out.push_back(q);
      out.push_back(q);
      p = stop + 1;
    }
    out += o.quote;
    return;
  }
  while (p < end) {
    if (octal) {
      char buf[8];
      std::snprintf(buf, sizeof buf, "\\%03o", static_cast<unsigned char>(*p));
      out += buf;
      ++p;
    } else if (StartsWith(p, end, o.quote)) {
      out += escape;
      out += o.quote;
      p += o.quote.size();
    } else if (StartsWith(p, end, o.escape)) {
      // The escape itself is doubled, or "\\" before a quote would be
      // read back as an escaped quote.
      out += o.escape;
      out += o.escape;
      p += o.escape.size();
    } else if (o.escape_invisible && (*p == '\r' || *p == '\n' || *p == '\t' || *p == '\\')) {
      out.push_back('\\');
      out.push_back(*p == '\r' ? 'r' : *p == '\n' ? 'n' : *p == '\t' ? 't' : '\\');
      ++p;
    } else {
      out.push_back(*p++);
    }
  }
  out += o.quote;
}

void AppendText(std::string& out, const std::string& text, const CsvOptions& o) {
  if (o.quote_text) {
    AppendQuoted(out, text.data(), text.size(), o, false);
  } else if (o.escape_invisible) {
    CsvOptions bare = o;
    bare.quote.clear();
    AppendQuoted(out, text.data(), text.size(), bare, false);
  } else {
    out += text;
  }
}

void AppendBinary(std::string& out, const jet::Binary& bytes, const CsvOptions& o) {
  const char* p = reinterpret_cast<const char*>(bytes.data());
  switch (o.binary) {
    case BinaryMode::kStrip:
      if (o.quote_text) out += o.quote + o.quote;
      return;
    case BinaryMode::kHex: {
      static const char* kDigits = "0123456789ABCDEF";
      std::string hex;
      hex.reserve(bytes.size() * 2);
      for (uint8_t b : bytes) {
        hex.push_back(kDigits[b >> 4]);
        hex.push_back(kDigits[b & 15]);
      }
      if (o.quote_text) {
        out += o.quote + hex + o.quote;
      } else {
        out += hex;
      }
      return;
    }
    case BinaryMode::kOctal:
    case BinaryMode::kRaw:
      if (o.quote_text) {
        AppendQuoted(out, p, bytes.size(), o, o.binary == BinaryMode::kOctal);
      } else {
        out.append(p, bytes.size());
      }
      return;
  }
}

}  // namespace

void AppendCsvValue(std::string& out, const jet::Value& v, jet::ColumnType type, bool short_date,
                    const CsvOptions& o) {
  using jet::ColumnType;
  switch (type) {
    case ColumnType::kBoolean:
      out += v.as<bool>() ? (o.boolean_words ? "TRUE" : "1") : (o.boolean_words ? "FALSE" : "0");
      return;
    case ColumnType::kByte:
    case ColumnType::kInteger:
    case ColumnType::kLong:
      AppendInteger(out, v.as<int32_t>());
      return;
    case ColumnType::kSingle:
      AppendSingle(out, v.as<float>());
      return;
    case ColumnType::kDouble:
      AppendDouble(out, v.as<double>());
      return;
    case ColumnType::kCurrency:
      AppendCurrency(out, v.as<jet::Currency>().scaled);
      return;
    case ColumnType::kDate: {
      std::string text;
      AppendDate(text, v.as<jet::Date>().days, short_date ? o.date_format : o.datetime_format);
      if (o.quote_text) {
        AppendQuoted(out, text.data(), text.size(), o, false);
      } else {
        out += text;
      }
      return;
    }
    case ColumnType::kText:
    case ColumnType::kMemo:
      AppendText(out, v.as<std::string>(), o);
      return;
    case ColumnType::kBinary:
    case ColumnType::kOle:
      AppendBinary(out, v.as<jet::Binary>(), o);
      return;
    case ColumnType::kGuid:
      AppendText(out, v.ToString(), o);
      return;
    case ColumnType::kDecimal:
      out += v.ToString();
      return;
  }
  out += v.ToString();
}

namespace {

void AppendHeaderName(std::string& out, const std::string& name, const CsvOptions& o) {
  // mdb-export writes names bare; one holding the delimiter, a quote or a
  // line break would shift every column after it, so that one is quoted.
  const bool unsafe = name.find(o.delimiter) != std::string::npos ||
                      (!o.quote.empty() && name.find(o.quote) != std::string::npos) ||
                      name.find(o.row_delimiter) != std::string::npos;
  if (unsafe && !o.quote.empty()) {
    AppendQuoted(out, name.data(), name.size(), o, false);
  } else {
    out += name;
  }
}

}  // namespace

int64_t WriteCsv(RowCursor& rows, const std::vector<bool>& short_date, const CsvOptions& o,
                 OutputBuffer& out) {
  const auto& cols = rows.columns();
  std::string& text = out.text();
  if (o.header) {
    for (size_t i = 0; i < cols.size(); ++i) {
      if (i) text += o.delimiter;
      AppendHeaderName(text, cols[i]->name, o);
    }
    text += o.row_delimiter;
  }
  int64_t n = 0;
  while (rows.Next()) {
    for (size_t i = 0; i < cols.size(); ++i) {
      if (i) text += o.delimiter;
      const jet::Value& v = rows.Get(i);
      if (v.is_null()) {
        text += o.null_text;
      } else {
        AppendCsvValue(text, v, cols[i]->type, short_date[i], o);
      }
    }
    text += o.row_delimiter;
    out.MaybeFlush();
    ++n;
  }
  return n;
}

int64_t WriteJson(RowCursor& rows, bool lines, OutputBuffer& out) {
  const auto& cols = rows.columns();
  std::string& text = out.text();
  if (!lines) text += "[";
  int64_t n = 0;
  while (rows.Next()) {
    nlohmann::ordered_json row = nlohmann::ordered_json::object();
    for (size_t i = 0; i < cols.size(); ++i) row[cols[i]->name] = ValueToJson(rows.Get(i));
    if (!lines) text += n ? ",\n  " : "\n  ";
    // Text the engine could not decode must not abort the whole table.
    text += row.dump(-1, ' ', false, nlohmann::ordered_json::error_handler_t::replace);
    if (lines) text += '\n';
    out.MaybeFlush();
    ++n;
  }
  if (!lines) text += n ? "\n]\n" : "]\n";
  return n;
}

}  // namespace maquetor
