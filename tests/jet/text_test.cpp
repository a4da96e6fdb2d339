#include "jet/text.h"

#include <gtest/gtest.h>

#include <random>

namespace jet {
namespace {

Bytes B(std::initializer_list<int> v) {
  Bytes b;
  for (int x : v) b.push_back(static_cast<uint8_t>(x));
  return b;
}

TEST(TextTest, Utf8AndUtf16) {
  EXPECT_EQ(Utf8ToUtf16("Año €"), u"Año €");
  EXPECT_EQ(Utf16ToUtf8(u"Año €"), "Año €");
  // Outside the BMP: two units, and back to the same four UTF-8 bytes.
  const std::string clef = "\xF0\x9D\x84\x9E";
  EXPECT_EQ(Utf8ToUtf16(clef), std::u16string({0xD834, 0xDD1E}));
  EXPECT_EQ(Utf16ToUtf8(Utf8ToUtf16(clef)), clef);
  // Nothing is rejected: bad bytes and lone surrogates become U+FFFD.
  EXPECT_EQ(Utf8ToUtf16("a\xFF" "b"), u"a\uFFFDb");
  EXPECT_EQ(Utf8ToUtf16("\xC3"), u"\uFFFD");              // truncated
  EXPECT_EQ(Utf8ToUtf16("\xC0\xAF"), u"\uFFFD\uFFFD");    // overlong
  EXPECT_EQ(Utf8ToUtf16("\xED\xA0\x80"), u"\uFFFD\uFFFD\uFFFD");  // encoded surrogate
  EXPECT_EQ(Utf16ToUtf8(std::u16string({u'x', 0xD800})), "x\xEF\xBF\xBD");
  EXPECT_EQ(Ucs2ToUtf8(B({'h', 0, 'i', 0, 'x'})), "hi\xEF\xBF\xBD");
  EXPECT_EQ(Utf8ToUcs2("hé"), B({'h', 0, 0xE9, 0}));
}

// The row encoder's UTF-16 paths (widening ASCII eight bytes at a time)
// agree with the general conversion on every mix of ASCII runs, accents,
// characters outside the basic plane and malformed bytes, wherever the
// runs start and end.
TEST(TextTest, RowEncodingAgreesWithTheGeneralConversion) {
  const std::vector<std::string> pieces = {"a",    "abcdefgh", "Nombre de prueba ", "\xC3\xA1",
                                           "\xE2\x82\xAC", "\xF0\x9D\x84\x9E", "\xFF", "\xC3",
                                           "\xED\xA0\x80", "0123456789", " "};
  std::mt19937 rng(4);
  for (int n = 0; n < 3000; ++n) {
    std::string s;
    for (size_t k = rng() % 8; k > 0; --k) s += pieces[rng() % pieces.size()];
    std::u16string wide = Utf8ToUtf16(s);
    EXPECT_EQ(Utf16Length(s), wide.size()) << s;
    Bytes out = {0x55};  // appends after what is there
    AppendUcs2(s, out);
    Bytes expected = {0x55};
    Bytes ucs2 = Utf8ToUcs2(s);
    expected.insert(expected.end(), ucs2.begin(), ucs2.end());
    EXPECT_EQ(out, expected) << s;
  }
}

// Stored UCS-2 read back as UTF-8 (ASCII four characters at a time) agrees
// with a plain character-by-character decoding on every mix of ASCII runs,
// accents, pairs and lone surrogates, wherever the runs start and end.
TEST(TextTest, StoredTextDecodingAgreesWithTheGeneralConversion) {
  auto reference = [](const std::u16string& u) {
    std::string out;
    for (size_t i = 0; i < u.size(); ++i) {
      char32_t c = u[i];
      const bool high = c >= 0xD800 && c <= 0xDBFF, low = c >= 0xDC00 && c <= 0xDFFF;
      if (high && i + 1 < u.size() && u[i + 1] >= 0xDC00 && u[i + 1] <= 0xDFFF) {
        c = 0x10000 + ((c - 0xD800) << 10) + (u[++i] - 0xDC00);
      } else if (high || low) {
        c = 0xFFFD;
      }
      if (c < 0x80) {
        out += static_cast<char>(c);
      } else if (c < 0x800) {
        out += {static_cast<char>(0xC0 | (c >> 6)), static_cast<char>(0x80 | (c & 0x3F))};
      } else if (c < 0x10000) {
        out += {static_cast<char>(0xE0 | (c >> 12)), static_cast<char>(0x80 | ((c >> 6) & 0x3F)),
                static_cast<char>(0x80 | (c & 0x3F))};
      } else {
        out += {static_cast<char>(0xF0 | (c >> 18)), static_cast<char>(0x80 | ((c >> 12) & 0x3F)),
                static_cast<char>(0x80 | ((c >> 6) & 0x3F)), static_cast<char>(0x80 | (c & 0x3F))};
      }
    }
    return out;
  };
  const std::vector<std::u16string> pieces = {u"a", u"abcdefgh", u"Nombre de prueba ", u"\u00E1",
                                              u"\u20AC", std::u16string({0xD834, 0xDD1E}),
                                              std::u16string(1, char16_t{0xD800}),
                                              std::u16string(1, char16_t{0xDC00}), u"\u0100",
                                              u"0123456789", u" "};
  std::mt19937 rng(7);
  for (int n = 0; n < 3000; ++n) {
    std::u16string u;
    for (size_t k = rng() % 8; k > 0; --k) u += pieces[rng() % pieces.size()];
    Bytes stored;
    for (char16_t c : u) stored.insert(stored.end(), {static_cast<uint8_t>(c), static_cast<uint8_t>(c >> 8)});
    const std::string want = reference(u);
    EXPECT_EQ(Utf16ToUtf8(u), want);
    EXPECT_EQ(Ucs2ToUtf8(stored), want);
    std::string into = "previous contents";
    DecodeJet4TextInto(stored, into);
    EXPECT_EQ(into, want);
  }
}

TEST(TextTest, Windows1252) {
  EXPECT_EQ(Cp1252ToUtf8(B({'C', 0xF3, 'd', 0x80, 0x9F})), "Cód€Ÿ");
  EXPECT_EQ(Utf8ToCp1252("Cód€Ÿ"), B({'C', 0xF3, 'd', 0x80, 0x9F}));
  EXPECT_EQ(Utf8ToCp1252("日x"), B({'?', 'x'}));
  // Every byte survives a round trip, the five undefined ones included.
  Bytes all;
  for (int c = 0; c < 256; ++c) all.push_back(static_cast<uint8_t>(c));
  EXPECT_EQ(Utf8ToCp1252(Cp1252ToUtf8(all)), all);
  EXPECT_EQ(DecodeText(B({'a', 0xF1}), 3), "añ");
  EXPECT_EQ(EncodeText("añ", 3, true), B({'a', 0xF1}));
}

TEST(TextTest, Jet4CompressedUnicode) {
  // Compressed only when shorter: three or more characters, all 1..255.
  EXPECT_EQ(EncodeJet4Text("abç", true), B({0xFF, 0xFE, 'a', 'b', 0xE7}));
  EXPECT_EQ(EncodeJet4Text("ab", true), B({'a', 0, 'b', 0}));
  EXPECT_EQ(EncodeJet4Text("a€c", true), B({'a', 0, 0xAC, 0x20, 'c', 0}));
  EXPECT_EQ(EncodeJet4Text("abc", false), B({'a', 0, 'b', 0, 'c', 0}));
  EXPECT_EQ(EncodeJet4Text(std::string("a\0c", 3), true), B({'a', 0, 0, 0, 'c', 0}));
  EXPECT_EQ(EncodeJet4Text(std::string(kMaxCompressedChars, 'x'), true).size(),
            kMaxCompressedChars + 2);
  EXPECT_EQ(EncodeJet4Text(std::string(kMaxCompressedChars + 1, 'x'), true).size(),
            2 * (kMaxCompressedChars + 1));

  EXPECT_EQ(DecodeJet4Text(B({0xFF, 0xFE, 'a', 'b', 0xE7})), "abç");
  // 00 switches to two bytes per character and back.
  EXPECT_EQ(DecodeJet4Text(B({0xFF, 0xFE, 'a', 0, 0xAC, 0x20, 0, 'b'})), "a€b");
  EXPECT_EQ(DecodeJet4Text(B({0xFF, 0xFE})), "");
  EXPECT_EQ(DecodeJet4Text(B({0xFF, 0xFE, 0, 'x'})), "\xEF\xBF\xBD");  // odd tail
  EXPECT_EQ(DecodeJet4Text(B({'O', 0, 'K', 0})), "OK");
  for (const char* s : {"", "x", "Ñandú", "a€c", "long enough text", "\xF0\x9D\x84\x9E!!"}) {
    EXPECT_EQ(DecodeText(EncodeText(s, 4, true), 4), s);
    EXPECT_EQ(DecodeText(EncodeText(s, 4, false), 4), s);
  }
}

TEST(TextTest, NameComparisonIgnoresCaseNotAccents) {
  EXPECT_TRUE(NamesEqual("Tintasu", "TIntAsu"));
  EXPECT_TRUE(NamesEqual("año", "AÑO"));
  EXPECT_TRUE(NamesEqual("ÿ", "Ÿ"));
  EXPECT_TRUE(NamesEqual("Łódź", "ŁÓDŹ"));
  EXPECT_TRUE(NamesEqual("Σοφία", "ΣΟΦΊΑ"));
  EXPECT_TRUE(NamesEqual("дом", "ДОМ"));
  EXPECT_FALSE(NamesEqual("e", "é"));
  EXPECT_FALSE(NamesEqual("÷", "×"));
  EXPECT_FALSE(NamesEqual("Clientes", "Cliente"));
  EXPECT_EQ(CompareNames("abc", "ABD"), -1);
  EXPECT_EQ(CompareNames("b", "A"), 1);
  EXPECT_EQ(CompareNames("Expedientes", "EXPEDIENTES"), 0);
}

}  // namespace
}  // namespace jet
