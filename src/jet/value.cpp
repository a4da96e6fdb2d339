#include "jet/value.h"

#include <bit>
#include <charconv>

#include "jet/error.h"
#include "jet/value_codec.h"

namespace jet {

const char* TypeName(ColumnType t) {
  switch (t) {
    case ColumnType::kBoolean: return "Boolean";
    case ColumnType::kByte: return "Byte";
    case ColumnType::kInteger: return "Integer";
    case ColumnType::kLong: return "Long";
    case ColumnType::kCurrency: return "Currency";
    case ColumnType::kSingle: return "Single";
    case ColumnType::kDouble: return "Double";
    case ColumnType::kDate: return "Date";
    case ColumnType::kBinary: return "Binary";
    case ColumnType::kText: return "Text";
    case ColumnType::kOle: return "LongBinary";
    case ColumnType::kMemo: return "Memo";
    case ColumnType::kGuid: return "GUID";
    case ColumnType::kDecimal: return "Decimal";
  }
  return "Unknown";
}

bool IsKnownType(uint8_t code) {
  return (code >= 1 && code <= 12) || code == 15 || code == 16;
}

uint16_t FixedSize(ColumnType t) {
  switch (t) {
    case ColumnType::kByte: return 1;
    case ColumnType::kInteger: return 2;
    case ColumnType::kLong: return 4;
    case ColumnType::kCurrency: return 8;
    case ColumnType::kSingle: return 4;
    case ColumnType::kDouble: return 8;
    case ColumnType::kDate: return 8;
    case ColumnType::kGuid: return kGuidSize;
    case ColumnType::kDecimal: return kDecimalSize;
    default: return 0;  // Boolean lives in the null mask; the rest vary
  }
}

bool IsLongValue(ColumnType t) { return t == ColumnType::kMemo || t == ColumnType::kOle; }

bool SameBits(const Value& a, const Value& b) {
  if (a.storage().index() != b.storage().index()) return false;
  if (a.is<double>()) return std::bit_cast<uint64_t>(a.as<double>()) == std::bit_cast<uint64_t>(b.as<double>());
  if (a.is<float>()) return std::bit_cast<uint32_t>(a.as<float>()) == std::bit_cast<uint32_t>(b.as<float>());
  if (a.is<Date>()) {
    return std::bit_cast<uint64_t>(a.as<Date>().days) == std::bit_cast<uint64_t>(b.as<Date>().days);
  }
  return a == b;
}

namespace {

template <typename T>
std::string ShortestNumber(T x) {
  char buf[64];
  auto r = std::to_chars(buf, buf + sizeof buf, x);
  return std::string(buf, r.ptr);
}

std::string FormatCurrency(Currency c) {
  // Magnitude in unsigned arithmetic: INT64_MIN has no positive twin.
  const bool neg = c.scaled < 0;
  const uint64_t mag = neg ? 0 - static_cast<uint64_t>(c.scaled) : static_cast<uint64_t>(c.scaled);
  std::string frac = std::to_string(mag % 10000);
  frac.insert(0, 4 - frac.size(), '0');
  return (neg ? "-" : "") + std::to_string(mag / 10000) + "." + frac;
}

}  // namespace

std::string Value::ToString() const {
  struct Visitor {
    std::string operator()(std::monostate) const { return ""; }
    std::string operator()(bool b) const { return b ? "True" : "False"; }
    std::string operator()(int32_t i) const { return std::to_string(i); }
    std::string operator()(Currency c) const { return FormatCurrency(c); }
    std::string operator()(float f) const { return ShortestNumber(f); }
    std::string operator()(double d) const { return ShortestNumber(d); }
    std::string operator()(Date d) const { return FormatDate(d); }
    std::string operator()(const std::string& s) const { return s; }
    std::string operator()(const Binary& b) const {
      static const char kHex[] = "0123456789ABCDEF";
      std::string out;
      out.reserve(b.size() * 2);
      for (uint8_t c : b) {
        out.push_back(kHex[c >> 4]);
        out.push_back(kHex[c & 15]);
      }
      return out;
    }
    std::string operator()(const Guid& g) const { return GuidToString(g); }
    std::string operator()(const Decimal& d) const { return DecimalToString(d); }
  };
  return std::visit(Visitor{}, v_);
}

namespace {

struct NumberOf {
  double operator()(bool b) const { return b ? -1.0 : 0.0; }
  double operator()(int32_t i) const { return i; }
  double operator()(Currency c) const { return static_cast<double>(c.scaled) / 10000.0; }
  double operator()(float f) const { return f; }
  double operator()(double d) const { return d; }
  double operator()(Date d) const { return d.days; }
  double operator()(const Decimal& d) const { return DecimalToDouble(d); }
  double operator()(const auto&) const { throw JetError(kErrDataTypeMismatch); }
};

}  // namespace

double Value::ToDouble() const { return std::visit(NumberOf{}, v_); }

}  // namespace jet
