#include "jet/text.h"

#include <cctype>

#include <array>
#include <bit>
#include <cstring>

namespace jet {
namespace {

constexpr char32_t kReplacement = 0xFFFD;

bool IsHighSurrogate(char32_t c) { return c >= 0xD800 && c <= 0xDBFF; }
bool IsLowSurrogate(char32_t c) { return c >= 0xDC00 && c <= 0xDFFF; }

// Decodes one code point from `s` at `i`, advancing `i`. Malformed sequences
// (truncated, overlong, surrogates, above U+10FFFF) consume one byte and give
// U+FFFD.
char32_t NextUtf8(std::string_view s, size_t& i) {
  const auto b0 = static_cast<uint8_t>(s[i]);
  if (b0 < 0x80) {
    ++i;
    return b0;
  }
  int len;
  char32_t cp;
  char32_t min;
  if ((b0 & 0xE0) == 0xC0) {
    len = 2, cp = b0 & 0x1F, min = 0x80;
  } else if ((b0 & 0xF0) == 0xE0) {
    len = 3, cp = b0 & 0x0F, min = 0x800;
  } else if ((b0 & 0xF8) == 0xF0) {
    len = 4, cp = b0 & 0x07, min = 0x10000;
  } else {
    ++i;
    return kReplacement;
  }
  if (s.size() - i < static_cast<size_t>(len)) {
    ++i;
    return kReplacement;
  }
  for (int k = 1; k < len; ++k) {
    const auto b = static_cast<uint8_t>(s[i + k]);
    if ((b & 0xC0) != 0x80) {
      ++i;
      return kReplacement;
    }
    cp = (cp << 6) | (b & 0x3F);
  }
  if (cp < min || cp > 0x10FFFF || IsHighSurrogate(cp) || IsLowSurrogate(cp)) {
    ++i;
    return kReplacement;
  }
  i += len;
  return cp;
}

void AppendUtf8(std::string& out, char32_t cp) {
  if (cp < 0x80) {
    out.push_back(static_cast<char>(cp));
  } else if (cp < 0x800) {
    out.push_back(static_cast<char>(0xC0 | (cp >> 6)));
    out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
  } else if (cp < 0x10000) {
    out.push_back(static_cast<char>(0xE0 | (cp >> 12)));
    out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
  } else {
    out.push_back(static_cast<char>(0xF0 | (cp >> 18)));
    out.push_back(static_cast<char>(0x80 | ((cp >> 12) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
  }
}

// UTF-16 units, `unit(i)` for `from` <= i < n, appended to `out` as UTF-8; a
// lone surrogate becomes U+FFFD. Room for the longest result is made once
// (three bytes a unit at most) and trimmed after: no growth check per
// character.
template <typename Unit>
void AppendUtf16AsUtf8(size_t n, const Unit& unit, std::string& out, size_t from = 0) {
  const size_t start = out.size();
  out.resize(start + (n - from) * 3);
  char* p = out.data() + start;
  for (size_t i = from; i < n; ++i) {
    char32_t c = unit(i);
    if (c < 0x80) {
      *p++ = static_cast<char>(c);
      continue;
    }
    if (c < 0x800) {
      *p++ = static_cast<char>(0xC0 | (c >> 6));
      *p++ = static_cast<char>(0x80 | (c & 0x3F));
      continue;
    }
    if (IsHighSurrogate(c) && i + 1 < n && IsLowSurrogate(unit(i + 1))) {
      c = 0x10000 + ((c - 0xD800) << 10) + (unit(i + 1) - 0xDC00);
      ++i;
      *p++ = static_cast<char>(0xF0 | (c >> 18));
      *p++ = static_cast<char>(0x80 | ((c >> 12) & 0x3F));
      *p++ = static_cast<char>(0x80 | ((c >> 6) & 0x3F));
      *p++ = static_cast<char>(0x80 | (c & 0x3F));
      continue;
    }
    if (IsHighSurrogate(c) || IsLowSurrogate(c)) c = kReplacement;
    *p++ = static_cast<char>(0xE0 | (c >> 12));
    *p++ = static_cast<char>(0x80 | ((c >> 6) & 0x3F));
    *p++ = static_cast<char>(0x80 | (c & 0x3F));
  }
  out.resize(static_cast<size_t>(p - out.data()));
}

// Stored UCS-2 (little-endian byte pairs; an odd last byte left out)
// appended to `out` as UTF-8. Runs of ASCII go four characters at a time,
// also between the accents of text that is mostly ASCII; from the first
// surrogate on, AppendUtf16AsUtf8 pairs them.
void AppendUcs2AsUtf8(ByteView b, std::string& out) {
  const size_t n = b.size() / 2;
  const uint8_t* d = b.data();
  auto unit = [d](size_t k) { return static_cast<char32_t>(d[2 * k] | (d[2 * k + 1] << 8)); };
  const size_t start = out.size();
  out.resize(start + n * 3);
  char* p = out.data() + start;
  size_t i = 0;
  while (i < n) {
    if (std::endian::native == std::endian::little && i + 4 <= n) {
      uint64_t w;
      std::memcpy(&w, d + 2 * i, 8);
      if (!(w & 0xFF80FF80FF80FF80ull)) {
        p[0] = static_cast<char>(d[2 * i]);
        p[1] = static_cast<char>(d[2 * i + 2]);
        p[2] = static_cast<char>(d[2 * i + 4]);
        p[3] = static_cast<char>(d[2 * i + 6]);
        p += 4;
        i += 4;
        continue;
      }
    }
    const char32_t c = unit(i);
    if (c < 0x80) {
      *p++ = static_cast<char>(c);
    } else if (c < 0x800) {
      *p++ = static_cast<char>(0xC0 | (c >> 6));
      *p++ = static_cast<char>(0x80 | (c & 0x3F));
    } else if (!IsHighSurrogate(c) && !IsLowSurrogate(c)) {
      *p++ = static_cast<char>(0xE0 | (c >> 12));
      *p++ = static_cast<char>(0x80 | ((c >> 6) & 0x3F));
      *p++ = static_cast<char>(0x80 | (c & 0x3F));
    } else {
      break;
    }
    ++i;
  }
  out.resize(static_cast<size_t>(p - out.data()));
  if (i < n) AppendUtf16AsUtf8(n, unit, out, i);
}

// Windows-1252 bytes 0x80..0x9F. The undefined five map to themselves.
constexpr std::array<char16_t, 32> kCp1252High = {
    0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021,
    0x02C6, 0x2030, 0x0160, 0x2039, 0x0152, 0x008D, 0x017D, 0x008F,
    0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014,
    0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178};

int Cp1252Byte(char32_t cp) {
  if (cp < 0x80 || (cp >= 0xA0 && cp <= 0xFF)) return static_cast<int>(cp);
  for (size_t k = 0; k < kCp1252High.size(); ++k) {
    if (kCp1252High[k] == cp) return static_cast<int>(0x80 + k);
  }
  return -1;
}

char16_t FoldUnit(char16_t c) {
  if (c < 0x80) return (c >= u'a' && c <= u'z') ? static_cast<char16_t>(c - 0x20) : c;
  if (c >= 0xE0 && c <= 0xFE && c != 0xF7) return static_cast<char16_t>(c - 0x20);
  if (c == 0xFF) return 0x178;
  if (c >= 0x100 && c <= 0x17F && c != 0x130 && c != 0x131 && c != 0x138 && c != 0x149 &&
      c != 0x17F) {
    // Latin Extended-A pairs capital/small; the pairing flips parity at
    // U+0139..U+0148 and U+0179..U+017E.
    const bool odd_capital = (c >= 0x139 && c <= 0x148) || (c >= 0x179 && c <= 0x17E);
    const bool is_small = odd_capital ? (c % 2 == 0) : (c % 2 == 1);
    return is_small ? static_cast<char16_t>(c - 1) : c;
  }
  if (c >= 0x3B1 && c <= 0x3C9) return c == 0x3C2 ? char16_t{0x3A3} : static_cast<char16_t>(c - 0x20);
  if (c == 0x3AC) return 0x386;
  if (c >= 0x3AD && c <= 0x3AF) return static_cast<char16_t>(c - 0x25);
  if (c == 0x3CC) return 0x38C;
  if (c == 0x3CD || c == 0x3CE) return static_cast<char16_t>(c - 0x3F);
  if (c >= 0x430 && c <= 0x44F) return static_cast<char16_t>(c - 0x20);
  if (c >= 0x450 && c <= 0x45F) return static_cast<char16_t>(c - 0x50);
  return c;
}

bool Compressible(std::u16string_view u) {
  if (u.size() <= 2 || u.size() > kMaxCompressedChars) return false;
  for (char16_t c : u) {
    if (c == 0 || c > 0xFF) return false;
  }
  return true;
}

}  // namespace

std::u16string Utf8ToUtf16(std::string_view s) {
  std::u16string out;
  out.reserve(s.size());
  size_t ascii = 0;
  while (ascii < s.size() && static_cast<unsigned char>(s[ascii]) < 0x80) ++ascii;
  out.resize(ascii);
  for (size_t i = 0; i < ascii; ++i) out[i] = static_cast<char16_t>(s[i]);
  for (size_t i = ascii; i < s.size();) {
    char32_t cp = NextUtf8(s, i);
    if (cp >= 0x10000) {
      cp -= 0x10000;
      out.push_back(static_cast<char16_t>(0xD800 + (cp >> 10)));
      out.push_back(static_cast<char16_t>(0xDC00 + (cp & 0x3FF)));
    } else {
      out.push_back(static_cast<char16_t>(cp));
    }
  }
  return out;
}

std::string Utf16ToUtf8(std::u16string_view s) {
  std::string out;
  AppendUtf16AsUtf8(s.size(), [s](size_t i) { return static_cast<char32_t>(s[i]); }, out);
  return out;
}

namespace {

constexpr uint64_t kHighBits = 0x8080808080808080ull;

// Whether the eight bytes from s[i] on are all ASCII.
bool AsciiWord(std::string_view s, size_t i) {
  uint64_t w;
  std::memcpy(&w, s.data() + i, 8);
  return (w & kHighBits) == 0;
}

}  // namespace

void AppendUcs2(std::string_view s, Bytes& out) {
  // No character takes more UTF-16 bytes than UTF-8 ones, so the room is
  // made once and trimmed at the end. ASCII is widened eight at a time.
  const size_t at = out.size();
  out.resize(at + 2 * s.size());
  uint8_t* o = out.data() + at;
  size_t i = 0;
  while (i < s.size()) {
    if (i + 8 <= s.size() && AsciiWord(s, i)) {
      for (size_t k = 0; k < 8; ++k) {
        o[2 * k] = static_cast<uint8_t>(s[i + k]);
        o[2 * k + 1] = 0;
      }
      o += 16;
      i += 8;
      continue;
    }
    char32_t cp = static_cast<unsigned char>(s[i]);
    if (cp < 0x80) {
      ++i;
    } else {
      cp = NextUtf8(s, i);
    }
    if (cp >= 0x10000) {
      cp -= 0x10000;
      const auto hi = static_cast<uint16_t>(0xD800 + (cp >> 10));
      const auto lo = static_cast<uint16_t>(0xDC00 + (cp & 0x3FF));
      o[0] = static_cast<uint8_t>(hi);
      o[1] = static_cast<uint8_t>(hi >> 8);
      o[2] = static_cast<uint8_t>(lo);
      o[3] = static_cast<uint8_t>(lo >> 8);
      o += 4;
    } else {
      o[0] = static_cast<uint8_t>(cp);
      o[1] = static_cast<uint8_t>(cp >> 8);
      o += 2;
    }
  }
  out.resize(static_cast<size_t>(o - out.data()));
}

size_t Utf16Length(std::string_view s) {
  size_t n = 0;
  for (size_t i = 0; i < s.size();) {
    if (i + 8 <= s.size() && AsciiWord(s, i)) {
      i += 8;
      n += 8;
      continue;
    }
    if (static_cast<unsigned char>(s[i]) < 0x80) {
      ++i;
      ++n;
      continue;
    }
    n += NextUtf8(s, i) >= 0x10000 ? 2 : 1;
  }
  return n;
}

Bytes Utf8ToUcs2(std::string_view s) {
  std::u16string u = Utf8ToUtf16(s);
  Bytes out(u.size() * 2);
  for (size_t i = 0; i < u.size(); ++i) {
    out[2 * i] = static_cast<uint8_t>(u[i]);
    out[2 * i + 1] = static_cast<uint8_t>(u[i] >> 8);
  }
  return out;
}

std::string Ucs2ToUtf8(ByteView b) {
  std::string out;
  AppendUcs2AsUtf8(b, out);
  // A dangling last byte is half a character.
  if (b.size() % 2) AppendUtf8(out, kReplacement);
  return out;
}

std::string Cp1252ToUtf8(ByteView b) {
  std::string out;
  out.reserve(b.size());
  for (uint8_t c : b) {
    AppendUtf8(out, (c >= 0x80 && c < 0xA0) ? kCp1252High[c - 0x80] : char32_t{c});
  }
  return out;
}

Bytes Utf8ToCp1252(std::string_view s) {
  Bytes out;
  out.reserve(s.size());
  for (size_t i = 0; i < s.size();) {
    const int b = Cp1252Byte(NextUtf8(s, i));
    out.push_back(b < 0 ? uint8_t{'?'} : static_cast<uint8_t>(b));
  }
  return out;
}

void DecodeJet4TextInto(ByteView b, std::string& out) {
  if (b.size() % 2 == 0 && !(b.size() >= 2 && b[0] == 0xFF && b[1] == 0xFE)) {
    // Uncompressed UCS-2 straight to UTF-8, reusing `out`'s storage.
    out.clear();
    AppendUcs2AsUtf8(b, out);
    return;
  }
  out = DecodeJet4Text(b);
}

std::string DecodeJet4Text(ByteView b) {
  if (b.size() < 2 || b[0] != 0xFF || b[1] != 0xFE) return Ucs2ToUtf8(b);
  std::u16string u;
  u.reserve(b.size());
  bool compressed = true;
  size_t i = 2;
  while (i < b.size()) {
    if (b[i] == 0) {
      compressed = !compressed;
      ++i;
    } else if (compressed) {
      u.push_back(b[i++]);
    } else if (b.size() - i >= 2) {
      u.push_back(static_cast<char16_t>(Get16(b, i)));
      i += 2;
    } else {
      u.push_back(static_cast<char16_t>(kReplacement));
      break;
    }
  }
  return Utf16ToUtf8(u);
}

Bytes EncodeJet4Text(std::string_view s, bool compress) {
  const std::u16string u = Utf8ToUtf16(s);
  Bytes out;
  if (compress && Compressible(u)) {
    out.reserve(u.size() + 2);
    out.push_back(0xFF);
    out.push_back(0xFE);
    for (char16_t c : u) out.push_back(static_cast<uint8_t>(c));
    return out;
  }
  out.reserve(u.size() * 2);
  for (char16_t c : u) Append16(out, c);
  return out;
}

std::string DecodeText(ByteView b, int version) {
  return version >= 4 ? DecodeJet4Text(b) : Cp1252ToUtf8(b);
}

Bytes EncodeText(std::string_view s, int version, bool compress) {
  return version >= 4 ? EncodeJet4Text(s, compress) : Utf8ToCp1252(s);
}

std::u16string FoldName(std::string_view name) {
  std::u16string u = Utf8ToUtf16(name);
  for (char16_t& c : u) c = FoldUnit(c);
  return u;
}

bool NamesEqual(std::string_view a, std::string_view b) {
  // Most names are ASCII: compare those without building folded copies.
  if (a.size() == b.size()) {
    size_t i = 0;
    for (; i < a.size(); ++i) {
      unsigned char x = static_cast<unsigned char>(a[i]);
      unsigned char y = static_cast<unsigned char>(b[i]);
      if ((x | y) >= 0x80) break;
      if (x != y && std::tolower(x) != std::tolower(y)) return false;
    }
    if (i == a.size()) return true;
  } else {
    bool ascii = true;
    for (char c : a) ascii &= static_cast<unsigned char>(c) < 0x80;
    for (char c : b) ascii &= static_cast<unsigned char>(c) < 0x80;
    if (ascii) return false;
  }
  return FoldName(a) == FoldName(b);
}

int CompareNames(std::string_view a, std::string_view b) {
  const int c = FoldName(a).compare(FoldName(b));
  return (c > 0) - (c < 0);
}

}  // namespace jet
