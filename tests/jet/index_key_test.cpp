// Index keys: fixed encodings tied to known values, the General sort order's
// special cases, and the self-check that matters: every entry the engine
// stored in the Jet 4 fixtures comes back byte for byte from the row's
// column values.
#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <set>

#include "jet/data_page.h"
#include "jet/error.h"
#include "jet/format.h"
#include "jet/index_builder.h"
#include "jet/index_key.h"
#include "jet/index_page.h"
#include "jet/row.h"
#include "jet/tabledef.h"
#include "jet/value_codec.h"
#include "support/fixtures.h"
#include "support/jet_error.h"
#include "support/raw_pages.h"

namespace {

using jet::Bytes;
using jet::ColumnDef;
using jet::ColumnType;
using jet::Value;

ColumnDef Col(ColumnType t, uint8_t scale = 0) {
  ColumnDef c;
  c.type = t;
  c.sort_order = 0x409;
  c.scale = scale;
  return c;
}

Bytes Key(const Value& v, ColumnType t, bool asc = true) {
  Bytes out;
  jet::AppendKeyColumn(out, v, Col(t), asc);
  return out;
}

Bytes Hex(const std::string& s) {
  Bytes b;
  for (size_t i = 0; i + 1 < s.size(); i += 2) b.push_back(static_cast<uint8_t>(std::stoi(s.substr(i, 2), nullptr, 16)));
  return b;
}

TEST(IndexKeyTest, NumbersSortAsBytes) {
  EXPECT_EQ(Key(Value(int32_t{1}), ColumnType::kLong), Hex("7f80000001"));
  EXPECT_EQ(Key(Value(int32_t{-1}), ColumnType::kLong), Hex("7f7fffffff"));
  EXPECT_EQ(Key(Value(int32_t{1}), ColumnType::kLong, false), Hex("807ffffffe"));
  EXPECT_EQ(Key(Value(int32_t{-300}), ColumnType::kInteger), Hex("7f7ed4"));
  EXPECT_EQ(Key(Value(int32_t{200}), ColumnType::kByte), Hex("7fc8"));
  EXPECT_EQ(Key(Value(int32_t{200}), ColumnType::kByte, false), Hex("8037"));
  EXPECT_EQ(Key(Value(jet::Currency{10000}), ColumnType::kCurrency), Hex("7f80000000000027" "10"));
  EXPECT_EQ(Key(Value(1.0), ColumnType::kDouble), Hex("7fbff0000000000000"));
  EXPECT_EQ(Key(Value(-1.0), ColumnType::kDouble), Hex("7f400fffffffffffff"));
  EXPECT_EQ(Key(Value(-1.0), ColumnType::kDouble, false), Hex("80bff0000000000000"));
  EXPECT_EQ(Key(Value(1.5f), ColumnType::kSingle), Hex("7fbfc00000"));
  EXPECT_EQ(Key(Value(jet::Date{2.5}), ColumnType::kDate), Hex("7fc004000000000000"));
  EXPECT_EQ(Key(Value(true), ColumnType::kBoolean), Hex("7f00"));
  EXPECT_EQ(Key(Value(), ColumnType::kBoolean), Hex("7fff"));
  EXPECT_EQ(Key(Value(true), ColumnType::kBoolean, false), Hex("80ff"));
  EXPECT_EQ(Key(Value(), ColumnType::kLong), Hex("00"));
  EXPECT_EQ(Key(Value(), ColumnType::kText, false), Hex("ff"));

  // Order over a spread of values, both directions.
  std::vector<double> values{-1e300, -2.5, -1, -1e-300, 0, 1e-300, 0.5, 1, 7, 1e300};
  for (bool asc : {true, false}) {
    for (size_t i = 1; i < values.size(); ++i) {
      int c = jet::CompareKeys(Key(Value(values[i - 1]), ColumnType::kDouble, asc),
                               Key(Value(values[i]), ColumnType::kDouble, asc));
      EXPECT_EQ(c, asc ? -1 : 1) << values[i];
    }
  }
}

TEST(IndexKeyTest, DecimalBinaryAndGuid) {
  jet::Decimal d;
  d.magnitude[0] = 125;
  d.scale = 2;  // 1.25, column scale 4 -> 12500
  Bytes out;
  jet::AppendKeyColumn(out, Value(d), Col(ColumnType::kDecimal, 4), true);
  EXPECT_EQ(out, Hex("7fff" "000000000000000000000000000030d4"));
  d.negative = true;
  out.clear();
  jet::AppendKeyColumn(out, Value(d), Col(ColumnType::kDecimal, 4), true);
  EXPECT_EQ(out, Hex("7f00" "ffffffffffffffffffffffffffffcf2b"));
  out.clear();
  jet::AppendKeyColumn(out, Value(d), Col(ColumnType::kDecimal, 4), false);
  EXPECT_EQ(out, Hex("8000" "000000000000000000000000000030d4"));

  EXPECT_EQ(Key(Value(jet::Binary{1, 2, 3}), ColumnType::kBinary), Hex("7f" "010203000000000003"));
  EXPECT_EQ(Key(Value(jet::Binary{1, 2, 3, 4, 5, 6, 7, 8, 9}), ColumnType::kBinary),
            Hex("7f" "010203040506070809" "090000000000000001"));
  EXPECT_EQ(Key(Value(jet::Binary{1, 2, 3, 4, 5, 6, 7, 8, 9}), ColumnType::kBinary, false),
            Hex("80" "fefdfcfbfaf9f8f709" "f6fffffffffffffffe"));

  jet::Guid g;
  for (int i = 0; i < 16; ++i) g.bytes[i] = static_cast<uint8_t>(i);
  EXPECT_EQ(Key(Value(g), ColumnType::kGuid),
            Hex("7f" "030201000504070609" "08090a0b0c0d0e0f08"));

  EXPECT_JET_ERROR(Key(Value("x"), ColumnType::kLong), jet::kErrDataTypeMismatch);
  EXPECT_JET_ERROR(Key(Value(jet::Binary{1}), ColumnType::kOle), jet::kErrInvalidOperation);
}

// The bytes of each text key are held by the hash below and by the fixture
// check; here, the order they give and the one sort order written.
TEST(IndexKeyTest, GeneralSortOrderText) {
  auto text = [](const std::string& s) { return Key(Value(s), ColumnType::kText); };
  EXPECT_EQ(text(""), Hex("7f0100"));  // no code unit: not in the hash
  // Orders a Spanish list the way the application shows it.
  std::vector<std::string> words{"abad", "\xc3\x81vila", "avi\xc3\xb3n", "cami\xc3\xb3n", "ca\xc3\xb1" "a",
                                 "cuna", "nada", "\xc3\xb1" "and\xc3\xba", "zeta"};
  for (size_t i = 1; i < words.size(); ++i)
    EXPECT_LT(jet::CompareKeys(text(words[i - 1]), text(words[i])), 0) << words[i];

  ColumnDef other = Col(ColumnType::kText);
  other.sort_order = 0x40a;
  Bytes out;
  EXPECT_JET_ERROR(jet::AppendKeyColumn(out, Value("a"), other, true), jet::kErrInvalidOperation);
}

// Every UTF-16 code unit, alone and between letters, in both directions and
// through UTF-8: the encoder's output hashed against the value it gave when
// the General sort table was checked against the engine's keys, so that no
// shortcut through the table changes a single key byte.
TEST(IndexKeyTest, EveryCodeUnitKeepsItsGeneralSortKey) {
  uint64_t h = 1469598103934665603ull;
  auto mix = [&h](const Bytes& b) {
    for (uint8_t x : b) h = (h ^ x) * 1099511628211ull;
    h = (h ^ b.size()) * 1099511628211ull;
  };
  Bytes out;
  for (uint32_t c = 0; c <= 0xffff; ++c) {
    const char16_t u = static_cast<char16_t>(c);
    for (bool asc : {true, false}) {
      for (std::u16string s : {std::u16string(1, u), std::u16string{u'a', u, u'b', u, u'\u00e9'}}) {
        out.clear();
        jet::AppendGeneralText(out, s, asc);
        mix(out);
      }
    }
  }
  // The UTF-8 route, for the characters outside the basic plane too.
  for (uint32_t cp : {0x41u, 0xe9u, 0x20acu, 0xfffdu, 0x1f600u, 0x10ffffu}) {
    std::string u8;
    if (cp < 0x80) {
      u8 = std::string(1, static_cast<char>(cp));
    } else if (cp < 0x800) {
      u8 = {static_cast<char>(0xc0 | (cp >> 6)), static_cast<char>(0x80 | (cp & 0x3f))};
    } else if (cp < 0x10000) {
      u8 = {static_cast<char>(0xe0 | (cp >> 12)), static_cast<char>(0x80 | ((cp >> 6) & 0x3f)),
            static_cast<char>(0x80 | (cp & 0x3f))};
    } else {
      u8 = {static_cast<char>(0xf0 | (cp >> 18)), static_cast<char>(0x80 | ((cp >> 12) & 0x3f)),
            static_cast<char>(0x80 | ((cp >> 6) & 0x3f)), static_cast<char>(0x80 | (cp & 0x3f))};
    }
    mix(Key(Value("x" + u8 + "\xc3\xb1"), ColumnType::kText));
  }
  mix(Key(Value(std::string("\xff\xc3(")), ColumnType::kText));  // malformed UTF-8
  EXPECT_EQ(h, 7742686033327141451u);
}

// Text columns are read as UTF-8 by the encoder itself: the key must be the
// one the UTF-16 text gives, where the 255-unit cut, the dropped trailing
// spaces and malformed bytes meet.
TEST(IndexKeyTest, Utf8TextKeysAreTheUtf16TextKeys) {
  const std::string x254(254, 'x');
  const std::u16string u254(254, u'x');
  const std::pair<std::string, std::u16string> cases[] = {
      {"Ana  ", u"Ana"},
      {" a  b ", u" a  b"},
      {"   ", u""},
      {"G\xc3\xb3mez \xe2\x82\xac ", u"G\u00f3mez \u20ac"},
      {x254 + " " + std::string(45, 'y'), u254},
      {x254 + "  ", u254},
      {x254 + "\xc3\xa9z", u254 + u"\u00e9"},
      // A pair cut in half by the limit keeps its first half.
      {x254 + "\xf0\x9f\x98\x80", u254 + u"\xd83d"},
      {"a\xf0\x9f\x98\x80 ", u"a\xd83d\xde00"},
      // Each byte that starts no valid sequence stands for one U+FFFD.
      {"\xc3", u"\ufffd"},
      {"\xe0\x80\x80z", u"\ufffd\ufffd\ufffdz"},
      {"\xed\xa0\x80 ", u"\ufffd\ufffd\ufffd"},
      {"\xff\xc3(", u"\ufffd\ufffd("},
  };
  for (bool asc : {true, false}) {
    for (const auto& [utf8, utf16] : cases) {
      Bytes want{static_cast<uint8_t>(asc ? 0x7f : 0x80)};
      jet::AppendGeneralText(want, utf16, asc);
      EXPECT_EQ(Key(Value(utf8), ColumnType::kText, asc), want) << utf8;
      EXPECT_EQ(Key(Value(utf8), ColumnType::kMemo, asc), want) << utf8;
    }
  }
}

// --- The fixture self-check ---------------------------------------------

using Db = testing_support::RawPages;

// The row an index entry points at, following a moved row's lookup pointer.
jet::ByteView RowAt(const Db& db, jet::RowId id, int hops = 0) {
  if (hops > 2 || id.page >= db.pages.size()) throw jet::JetError(jet::kErrCorrupt);
  const Bytes& page = db.pages[id.page];
  jet::RowBounds b = jet::GetRowBounds(*db.format, page, id.row);
  jet::ByteView bytes = jet::RowBytes(*db.format, page, id.row);
  if (b.lookup()) return RowAt(db, jet::RowId::FromPacked(jet::Get32(bytes, 0)), hops + 1);
  return bytes;
}

TEST(IndexKeyTest, FixtureEntriesComeBackFromRowValues) {
  REQUIRE_FIXTURES();
  int indexes = 0, entries = 0, matched = 0, skipped_memo = 0, unreadable = 0;
  for (const auto& path : testing_support::FixtureFiles(testing_support::Encrypted::kLeftOut, {"jet4"})) {
    const Db db = testing_support::ReadRawPages(path);
    auto read = [&](uint32_t n) { return db.Page(n); };
    std::set<uint32_t> continuation;
    for (const Bytes& p : db.pages)
      if (p[0] == static_cast<uint8_t>(jet::PageType::kTableDef)) continuation.insert(jet::Get32(p, 4));
    for (uint32_t n = 1; n < db.pages.size(); ++n) {
      if (db.pages[n][0] != static_cast<uint8_t>(jet::PageType::kTableDef) || continuation.count(n)) continue;
      // Stale pages keep a table-definition type byte; only whole definitions count.
      jet::TableDef def;
      try {
        def = jet::ParseTableDef(*db.format, read, n);
      } catch (const jet::JetError&) {
        ++unreadable;
        continue;
      }
      for (const jet::RealIndexDef& idx : def.real_indexes) try {
        bool memo = false;
        for (const auto& ic : idx.columns) {
          const ColumnDef* c = def.ColumnByNumber(ic.column_number);
          ASSERT_NE(c, nullptr);
          memo = memo || c->type == ColumnType::kMemo;
        }
        if (memo) {
          ++skipped_memo;
          continue;
        }
        ++indexes;
        for (const jet::IndexEntry& e : jet::ReadIndexEntries(*db.format, idx.first_page, read)) {
          ++entries;
          std::vector<jet::ColumnSlice> slices;
          jet::CrackRow(*db.format, def, RowAt(db, e.row), slices);
          std::vector<Value> values;
          std::vector<jet::KeyPart> parts;
          values.reserve(idx.columns.size());
          for (const auto& ic : idx.columns) {
            size_t ci = 0;
            while (def.columns[ci].number != ic.column_number) ++ci;
            const ColumnDef& c = def.columns[ci];
            values.emplace_back();
            if (c.type == ColumnType::kBoolean) values.back() = Value(slices[ci].present);
            else if (slices[ci].present) values.back() = jet::DecodeValue(c, slices[ci].data, 4);
            parts.push_back({&values.back(), &c, ic.ascending});
          }
          Bytes key = jet::EncodeIndexKey(parts);
          bool same = key == e.key;
          matched += same;
          auto hex = [](const Bytes& b) {
            std::string s;
            for (uint8_t x : b) s += "0123456789abcdef"[x >> 4], s += "0123456789abcdef"[x & 15];
            return s;
          };
          EXPECT_TRUE(same) << hex(key) << " != " << hex(e.key) << " " << path.filename() << " table page " << n << " index root "
                            << idx.first_page << " row " << e.row.page << ":" << int(e.row.row);
        }
      } catch (const jet::JetError& err) {
        ADD_FAILURE() << path.filename() << " table page " << n << " index root " << idx.first_page
                      << ": " << err.number();
      }
    }
  }
  std::cout << "fixture indexes checked: " << indexes << ", entries: " << entries
            << ", keys reproduced: " << matched << " (memo indexes skipped: " << skipped_memo
            << ", stale table pages skipped: " << unreadable << ")\n";
  EXPECT_GT(entries, 1000);
}

}  // namespace
