// Column types and the values the engine reads and writes.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <variant>
#include <vector>

#include "jet/error.h"

namespace jet {

enum class ColumnType : uint8_t {
  kBoolean = 1,
  kByte = 2,
  kInteger = 3,
  kLong = 4,
  kCurrency = 5,
  kSingle = 6,
  kDouble = 7,
  kDate = 8,
  kBinary = 9,
  kText = 10,
  kOle = 11,
  kMemo = 12,
  kGuid = 15,
  kDecimal = 16,
};

// The DAO type name of a column type ("Long", "Text", ...).
const char* TypeName(ColumnType t);
bool IsKnownType(uint8_t code);
// Size in bytes of a fixed-length type; 0 for variable-length ones.
uint16_t FixedSize(ColumnType t);
bool IsLongValue(ColumnType t);  // Memo and OLE

// Currency: a 64-bit integer holding the amount times 10,000.
struct Currency {
  int64_t scaled = 0;
  bool operator==(const Currency&) const = default;
};

// Date: days since 30 December 1899 with the time as the fraction, as the
// engine stores it.
struct Date {
  double days = 0;
  bool operator==(const Date&) const = default;
};

struct Guid {
  std::array<uint8_t, 16> bytes{};
  bool operator==(const Guid&) const = default;
};

// Decimal (Jet 4): 96-bit unsigned magnitude, sign, scale and precision.
struct Decimal {
  bool negative = false;
  uint8_t scale = 0;
  std::array<uint32_t, 3> magnitude{};  // least significant word first
  bool operator==(const Decimal&) const = default;
};

using Binary = std::vector<uint8_t>;

// A column value. Text and Memo are UTF-8; Byte, Integer and Long are held
// as int32_t; Single as float.
class Value {
 public:
  using Storage = std::variant<std::monostate, bool, int32_t, Currency, float, double, Date,
                               std::string, Binary, Guid, Decimal>;

  Value() = default;
  Value(bool v) : v_(v) {}
  Value(int32_t v) : v_(v) {}
  Value(Currency v) : v_(v) {}
  Value(float v) : v_(v) {}
  Value(double v) : v_(v) {}
  Value(Date v) : v_(v) {}
  Value(std::string v) : v_(std::move(v)) {}
  Value(const char* v) : v_(std::string(v)) {}
  Value(Binary v) : v_(std::move(v)) {}
  Value(Guid v) : v_(v) {}
  Value(Decimal v) : v_(v) {}

  static Value Null() { return Value(); }

  bool is_null() const { return std::holds_alternative<std::monostate>(v_); }
  template <typename T>
  bool is() const { return std::holds_alternative<T>(v_); }
  // The value as T; a value of another kind is a type mismatch (3464), so a
  // damaged file that gives a column an unexpected type fails cleanly.
  template <typename T>
  const T& as() const {
    if (const T* p = std::get_if<T>(&v_)) return *p;
    throw JetError(kErrDataTypeMismatch);
  }
  const Storage& storage() const { return v_; }
  // Makes this a text value and returns its storage, reusing the string
  // already held so that decoding row after row allocates nothing.
  std::string& EmplaceString() {
    if (!is<std::string>()) v_.emplace<std::string>();
    return std::get<std::string>(v_);
  }

  // Conversions used by callers that print or compare values.
  // Text form: numbers in C locale, dates as "YYYY-MM-DD HH:MM:SS",
  // currency with four decimals, binary as hex, null as "".
  std::string ToString() const;
  // Numeric value of numbers, currency, dates and booleans (True = -1).
  double ToDouble() const;

  bool operator==(const Value&) const = default;

 private:
  Storage v_;
};

// Whether two values are the same to the last bit (0.0 and -0.0 compare
// equal yet are stored apart): any stored form or index key built from one
// is then that of the other.
bool SameBits(const Value& a, const Value& b);

}  // namespace jet
