#include "jet/value_codec.h"

#include <gtest/gtest.h>

#include <cmath>

#include "support/jet_error.h"

namespace jet {
namespace {

Bytes B(std::initializer_list<int> v) {
  Bytes b;
  for (int x : v) b.push_back(static_cast<uint8_t>(x));
  return b;
}

ColumnDef Col(ColumnType t, uint16_t length = 0) {
  ColumnDef c;
  c.type = t;
  c.length = length ? length : FixedSize(t);
  return c;
}


TEST(ValueCodecTest, FixedSizeTypesRoundTrip) {
  struct Case {
    ColumnType type;
    Value value;
    Bytes stored;
  };
  const Case cases[] = {
      {ColumnType::kByte, Value(200), B({200})},
      {ColumnType::kInteger, Value(-2), B({0xFE, 0xFF})},
      {ColumnType::kLong, Value(0x01020304), B({4, 3, 2, 1})},
      {ColumnType::kCurrency, Value(Currency{15000}), B({0x98, 0x3A, 0, 0, 0, 0, 0, 0})},
      {ColumnType::kSingle, Value(1.5f), B({0, 0, 0xC0, 0x3F})},
      {ColumnType::kDouble, Value(-2.0), B({0, 0, 0, 0, 0, 0, 0, 0xC0})},
      {ColumnType::kDate, Value(Date{1.5}), B({0, 0, 0, 0, 0, 0, 0xF8, 0x3F})},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(TypeName(c.type));
    EXPECT_EQ(EncodeValue(Col(c.type), c.value, 4), c.stored);
    EXPECT_EQ(DecodeValue(Col(c.type), c.stored, 4), c.value);
    EXPECT_EQ(c.stored.size(), FixedSize(c.type));
    // Too short is damage, not a crash.
    EXPECT_JET_ERROR(DecodeValue(Col(c.type), ByteView(c.stored).first(c.stored.size() - 1), 4),
                     kErrCorrupt);
  }
  Guid g;
  for (int i = 0; i < 16; ++i) g.bytes[i] = static_cast<uint8_t>(i);
  const Bytes gb(g.bytes.begin(), g.bytes.end());
  EXPECT_EQ(EncodeValue(Col(ColumnType::kGuid), Value(g), 4), gb);
  EXPECT_EQ(DecodeValue(Col(ColumnType::kGuid), gb, 4), Value(g));
  EXPECT_EQ(GuidToString(g), "{03020100-0504-0706-0809-0A0B0C0D0E0F}");
  EXPECT_EQ(ParseGuid("03020100-0504-0706-0809-0a0b0c0d0e0f"), g);
  EXPECT_JET_ERROR(ParseGuid("{03020100-0504-0706-0809-0A0B0C0D0E0}"), kErrDataTypeMismatch);
}

TEST(ValueCodecTest, DecimalLayout) {
  ColumnDef col = Col(ColumnType::kDecimal);
  col.precision = 10;
  col.scale = 4;
  // 1234.5678: magnitude 12345678 = 0x00BC614E in the last word.
  const Bytes stored = B({0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0x4E, 0x61, 0xBC, 0});
  EXPECT_EQ(EncodeValue(col, Value("1234.5678"), 4), stored);
  const Value v = DecodeValue(col, stored, 4);
  EXPECT_EQ(v.ToString(), "1234.5678");
  Bytes neg = stored;
  neg[0] = 0x80;
  EXPECT_EQ(DecodeValue(col, neg, 4).ToString(), "-1234.5678");
  EXPECT_EQ(EncodeValue(col, Value(-1234.5678), 4), neg);
  // Words in order: 2^64 lands in the second word on disk.
  ColumnDef wide = col;
  wide.precision = 28;
  wide.scale = 0;
  EXPECT_EQ(EncodeValue(wide, Value("18446744073709551616"), 4),
            B({0, 0, 0, 0, 0, 1, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0}));
  // Rounds to the column's scale; too many digits overflow.
  EXPECT_EQ(DecodeValue(col, EncodeValue(col, Value("0.00005"), 4), 4).ToString(), "0.0000");
  EXPECT_EQ(DecodeValue(col, EncodeValue(col, Value("0.00015"), 4), 4).ToString(), "0.0002");
  EXPECT_JET_ERROR(EncodeValue(col, Value(1234567.0), 4), kErrOverflow);
  // A non-zero top word is beyond anything the engine writes.
  Bytes bad = stored;
  bad[2] = 1;
  EXPECT_JET_ERROR(DecodeValue(col, bad, 4), kErrCorrupt);
}

TEST(ValueCodecTest, DecimalArithmetic) {
  EXPECT_EQ(DecimalToString(ParseDecimal("  -0012.50 ")), "-12.50");
  EXPECT_EQ(DecimalToString(ParseDecimal("1.5e3")), "1500");
  EXPECT_EQ(DecimalToString(ParseDecimal(".25")), "0.25");
  EXPECT_EQ(DecimalToString(ParseDecimal("-0")), "0");
  EXPECT_EQ(DecimalToString(ParseDecimal("79228162514264337593543950335")),
            "79228162514264337593543950335");
  EXPECT_JET_ERROR(ParseDecimal("79228162514264337593543950336"), kErrOverflow);
  EXPECT_JET_ERROR(ParseDecimal("1e40"), kErrOverflow);
  EXPECT_JET_ERROR(ParseDecimal("12abc"), kErrDataTypeMismatch);
  EXPECT_JET_ERROR(ParseDecimal(""), kErrDataTypeMismatch);
  EXPECT_EQ(DecimalToString(RescaleDecimal(ParseDecimal("2.5"), 0)), "2");
  EXPECT_EQ(DecimalToString(RescaleDecimal(ParseDecimal("3.5"), 0)), "4");
  EXPECT_EQ(DecimalToString(RescaleDecimal(ParseDecimal("2.501"), 0)), "3");
  EXPECT_EQ(DecimalToString(RescaleDecimal(ParseDecimal("-1.25"), 3)), "-1.250");
  EXPECT_EQ(DecimalDigits(ParseDecimal("0.0012")), 2);
  EXPECT_EQ(DecimalToString(DoubleToDecimal(0.1)), "0.1");
  EXPECT_DOUBLE_EQ(DecimalToDouble(ParseDecimal("-3.75")), -3.75);
}

TEST(ValueCodecTest, TextAndBinaryColumns) {
  ColumnDef text = Col(ColumnType::kText, 10);  // five characters
  text.ext_flags = kColCompressedUnicode;
  EXPECT_EQ(EncodeValue(text, Value("abcde"), 4), B({0xFF, 0xFE, 'a', 'b', 'c', 'd', 'e'}));
  EXPECT_JET_ERROR(EncodeValue(text, Value("abcdef"), 4), kErrFieldTooSmall);
  EXPECT_EQ(DecodeValue(text, B({0xFF, 0xFE, 'a', 'b', 'c'}), 4), Value("abc"));
  EXPECT_EQ(EncodeValue(text, Value(12), 4), B({'1', 0, '2', 0}));
  text.ext_flags = 0;
  EXPECT_EQ(EncodeValue(text, Value("abc"), 4), B({'a', 0, 'b', 0, 'c', 0}));
  ColumnDef text3 = Col(ColumnType::kText, 3);
  EXPECT_EQ(EncodeValue(text3, Value("año"), 3), B({'a', 0xF1, 'o'}));
  EXPECT_EQ(DecodeValue(text3, B({'a', 0xF1, 'o'}), 3), Value("año"));
  EXPECT_JET_ERROR(EncodeValue(text3, Value("años"), 3), kErrFieldTooSmall);

  ColumnDef bin = Col(ColumnType::kBinary, 4);
  EXPECT_EQ(EncodeValue(bin, Value(Binary{1, 2}), 4), B({1, 2}));
  EXPECT_JET_ERROR(EncodeValue(bin, Value(Binary{1, 2, 3, 4, 5}), 4), kErrFieldTooSmall);
  EXPECT_JET_ERROR(EncodeValue(bin, Value("x"), 4), kErrDataTypeMismatch);
  EXPECT_EQ(DecodeValue(Col(ColumnType::kOle), B({9, 8}), 4), Value(Binary{9, 8}));
  EXPECT_JET_ERROR(EncodeValue(Col(ColumnType::kBoolean), Value(true), 4), kErrInvalidArgument);
  EXPECT_TRUE(BooleanBit(Value(-1)));
  EXPECT_FALSE(BooleanBit(Value()));
}

TEST(ValueCodecTest, CoercionRules) {
  // Integers round half to even and must fit.
  EXPECT_EQ(Coerce(Value(2.5), ColumnType::kInteger), Value(2));
  EXPECT_EQ(Coerce(Value(3.5), ColumnType::kInteger), Value(4));
  EXPECT_EQ(Coerce(Value(-2.5f), ColumnType::kLong), Value(-2));
  EXPECT_EQ(Coerce(Value(" 12 "), ColumnType::kLong), Value(12));
  EXPECT_EQ(Coerce(Value(Currency{25000}), ColumnType::kByte), Value(2));
  EXPECT_EQ(Coerce(Value(true), ColumnType::kLong), Value(-1));
  EXPECT_JET_ERROR(Coerce(Value(true), ColumnType::kByte), kErrOverflow);
  EXPECT_JET_ERROR(Coerce(Value(256), ColumnType::kByte), kErrOverflow);
  EXPECT_JET_ERROR(Coerce(Value(40000), ColumnType::kInteger), kErrOverflow);
  EXPECT_JET_ERROR(Coerce(Value(3e9), ColumnType::kLong), kErrOverflow);
  EXPECT_JET_ERROR(Coerce(Value(std::nan("")), ColumnType::kLong), kErrOverflow);
  EXPECT_JET_ERROR(Coerce(Value("doce"), ColumnType::kLong), kErrDataTypeMismatch);
  EXPECT_JET_ERROR(Coerce(Value(Binary{1}), ColumnType::kLong), kErrDataTypeMismatch);

  // Currency: four decimals, half to even; text converts exactly.
  EXPECT_EQ(Coerce(Value(1.23456), ColumnType::kCurrency), Value(Currency{12346}));
  EXPECT_EQ(Coerce(Value("0.00025"), ColumnType::kCurrency), Value(Currency{2}));
  EXPECT_EQ(Coerce(Value("-922337203685477.5808"), ColumnType::kCurrency),
            Value(Currency{INT64_MIN}));
  EXPECT_JET_ERROR(Coerce(Value(1e15), ColumnType::kCurrency), kErrOverflow);
  EXPECT_EQ(Coerce(Value(7), ColumnType::kCurrency), Value(Currency{70000}));

  EXPECT_EQ(Coerce(Value(7), ColumnType::kDouble), Value(7.0));
  EXPECT_EQ(Coerce(Value(Currency{5}), ColumnType::kDouble), Value(0.0005));
  EXPECT_EQ(Coerce(Value("1e3"), ColumnType::kDouble), Value(1000.0));
  EXPECT_JET_ERROR(Coerce(Value(1e39), ColumnType::kSingle), kErrOverflow);
  EXPECT_EQ(Coerce(Value("Sí"), ColumnType::kBoolean), Value(true));
  EXPECT_EQ(Coerce(Value("falso"), ColumnType::kBoolean), Value(false));
  EXPECT_EQ(Coerce(Value(0.0), ColumnType::kBoolean), Value(false));
  EXPECT_EQ(Coerce(Value(2.5f), ColumnType::kText), Value("2.5"));
  EXPECT_EQ(Coerce(Value(0.1f), ColumnType::kDecimal).ToString(), "0.1");
  EXPECT_EQ(Coerce(Value(Currency{15}), ColumnType::kDecimal).ToString(), "0.0015");
  EXPECT_EQ(Coerce(Value("{03020100-0504-0706-0809-0A0B0C0D0E0F}"), ColumnType::kGuid)
                .as<Guid>()
                .bytes[0],
            0);
  EXPECT_EQ(Coerce(Value("2024-03-01"), ColumnType::kDate), Value(Date{45352}));
  EXPECT_EQ(Coerce(Value(45352), ColumnType::kDate), Value(Date{45352}));
  EXPECT_JET_ERROR(Coerce(Value(3e6), ColumnType::kDate), kErrOverflow);
  EXPECT_TRUE(Coerce(Value(), ColumnType::kLong).is_null());
}

TEST(ValueCodecTest, DatesAndCalendar) {
  EXPECT_EQ(DateToParts(Date{0}), (DateParts{1899, 12, 30, 0, 0, 0}));
  EXPECT_EQ(DateToParts(Date{45352.75}), (DateParts{2024, 3, 1, 18, 0, 0}));
  // Before the epoch the fraction is still the time of day.
  EXPECT_EQ(DateToParts(Date{-1.25}), (DateParts{1899, 12, 29, 6, 0, 0}));
  EXPECT_EQ(PartsToDate({1899, 12, 29, 6, 0, 0}), Date{-1.25});
  EXPECT_EQ(PartsToDate({100, 1, 1, 0, 0, 0}), Date{-657434});
  EXPECT_EQ(PartsToDate({9999, 12, 31, 0, 0, 0}), Date{2958465});
  EXPECT_EQ(PartsToDate({1900, 3, 1, 0, 0, 0}), Date{61});
  EXPECT_EQ(DateToParts(Date{1.0 - 1e-9}), (DateParts{1899, 12, 31, 0, 0, 0}));
  EXPECT_JET_ERROR(PartsToDate({2023, 2, 29, 0, 0, 0}), kErrInvalidArgument);
  EXPECT_JET_ERROR(PartsToDate({99, 12, 31, 0, 0, 0}), kErrOverflow);
  EXPECT_JET_ERROR(DateToParts(Date{-657435}), kErrOverflow);
  EXPECT_JET_ERROR(DateToParts(Date{INFINITY}), kErrOverflow);
  for (int y : {100, 1600, 1899, 1900, 2000, 2024, 9999}) {
    for (int m : {1, 2, 12}) {
      const DateParts p{y, m, m == 2 ? 28 : 31, 13, 45, 7};
      EXPECT_EQ(DateToParts(PartsToDate(p)), p) << y << "-" << m;
    }
  }
  EXPECT_EQ(ParseDate("1/3/2024 10:20"), PartsToDate({2024, 3, 1, 10, 20, 0}));
  EXPECT_EQ(ParseDate("2024-03-01T10:20:30"), PartsToDate({2024, 3, 1, 10, 20, 30}));
  EXPECT_EQ(ParseDate("12:00"), Date{0.5});
  EXPECT_EQ(ParseDate("1.3.24"), PartsToDate({2024, 3, 1, 0, 0, 0}));
  EXPECT_JET_ERROR(ParseDate("31/02/2024"), kErrDataTypeMismatch);
  EXPECT_JET_ERROR(ParseDate("ayer"), kErrDataTypeMismatch);
}

TEST(ValueCodecTest, ValueToStringAndDouble) {
  EXPECT_EQ(Value().ToString(), "");
  EXPECT_EQ(Value(true).ToString(), "True");
  EXPECT_EQ(Value(-5).ToString(), "-5");
  EXPECT_EQ(Value(0.1).ToString(), "0.1");
  EXPECT_EQ(Value(Currency{-12345}).ToString(), "-1.2345");
  EXPECT_EQ(Value(Currency{INT64_MIN}).ToString(), "-922337203685477.5808");
  EXPECT_EQ(Value(Date{45352.5}).ToString(), "2024-03-01 12:00:00");
  EXPECT_EQ(Value(Date{1e300}).ToString(), "1e+300");
  EXPECT_EQ(Value(Binary{0x0A, 0xFF}).ToString(), "0AFF");
  EXPECT_EQ(Value(true).ToDouble(), -1.0);
  EXPECT_EQ(Value(Currency{25000}).ToDouble(), 2.5);
  EXPECT_EQ(Value(Date{3.25}).ToDouble(), 3.25);
  EXPECT_JET_ERROR(Value("x").ToDouble(), kErrDataTypeMismatch);
  EXPECT_JET_ERROR(Value().ToDouble(), kErrDataTypeMismatch);
  EXPECT_TRUE(IsKnownType(16));
  EXPECT_FALSE(IsKnownType(13));
}

}  // namespace
}  // namespace jet
