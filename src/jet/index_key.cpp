#include "jet/index_key.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstring>

#include "jet/error.h"
#include "jet/sort_general.h"

namespace jet {
namespace {

constexpr uint8_t kAscValue = 0x7f;
constexpr uint8_t kAscNull = 0x00;
constexpr uint8_t kDescValue = 0x80;
constexpr uint8_t kDescNull = 0xff;

// Text keys cover at most the 255 characters a Text column can hold, even
// for Memo.
constexpr size_t kMaxTextKeyChars = 255;
constexpr uint8_t kTextEnd = 0x01;
constexpr uint8_t kExtraEnd = 0x00;
constexpr uint8_t kExtraPlaceholder = 0x02;  // "no accent" for an earlier char
constexpr uint8_t kUnprintableMid = 0x06;
constexpr uint8_t kCaseFlagsStart = 0x80;
constexpr uint8_t kCaseFlagDefault = 0x03;
constexpr uint8_t kCaseFlagsSuffix[] = {0xff, 0x02, 0x80, 0xff, 0x80};
constexpr uint8_t kCaseThenUnprintable = 0xff;
constexpr uint8_t kSurrogateExtra = 0x3f;

void Flip(Bytes& b, size_t from) {
  for (size_t i = from; i < b.size(); ++i) b[i] = static_cast<uint8_t>(~b[i]);
}

// Bytes held inside the object, up to a capacity a text key cannot pass:
// the scratch of a key's accent, case and unprintable parts, built for
// every row written, on the stack of whichever thread builds it.
template <size_t N>
class TextScratch {
 public:
  void push_back(uint8_t b) {
    if (size_ == N) throw JetError(kErrInvalidArgument);
    bytes_[size_++] = b;
  }
  void pop_back() { --size_; }
  uint8_t& back() { return bytes_[size_ - 1]; }
  bool empty() const { return size_ == 0; }
  size_t size() const { return size_; }
  uint8_t operator[](size_t i) const { return bytes_[i]; }
  ByteView view() const { return ByteView(bytes_, size_); }

 private:
  size_t size_ = 0;
  uint8_t bytes_[N];
};

template <typename Out>
void AppendBigEndian(Out& out, uint64_t v, int len) {
  // Keys are built a few bytes at a time for every row written: no
  // zero-filling resize.
  for (int i = len - 1; i >= 0; --i) out.push_back(static_cast<uint8_t>(v >> (8 * i)));
}

struct Code {
  CharClass cls = CharClass::kIgnored;
  uint32_t key = 0;
  uint8_t key_len = 0;
  uint16_t extra = 0;
  uint8_t extra_len = 0;
  uint8_t flag = 0;
};

Code FindCode(char16_t c) {
  Code code;
  if (c >= 0xd800 && c <= 0xdbff) {
    // High surrogates: a fixed offset from the code unit.
    code.cls = CharClass::kAccented;
    code.key = static_cast<uint32_t>(c - 10238) & 0xffff;
    code.key_len = 2;
    code.extra = kSurrogateExtra;
    code.extra_len = 1;
    return code;
  }
  if (c >= 0xdc00 && c <= 0xdfff) {
    // Low surrogates: the offset steps down across each 1024-unit block.
    int pos = (c - 0xdc00) % 1024;
    int offset = pos < 8 ? 9992 : pos < 262 ? 9990 : pos < 516 ? 9988 : pos < 770 ? 9986 : 9984;
    code.cls = CharClass::kAccented;
    code.key = static_cast<uint32_t>(c - offset) & 0xffff;
    code.key_len = 2;
    code.extra = kSurrogateExtra;
    code.extra_len = 1;
    return code;
  }
  auto runs = GeneralSortRuns();
  auto it = std::upper_bound(runs.begin(), runs.end(), c,
                             [](char16_t v, const CharRun& r) { return v < r.first; });
  if (it == runs.begin()) return code;
  const CharRun& r = *(it - 1);
  if (c >= r.first + r.count) return code;
  code.cls = r.cls;
  code.key = r.key + (c - r.first);
  code.key_len = r.key_len;
  code.extra = r.extra;
  code.extra_len = r.extra_len;
  code.flag = r.flag;
  return code;
}

// Latin-1 and Latin Extended-A, which nearly all text here is made of,
// looked up directly instead of searching the runs.
constexpr size_t kDirectCodes = 0x180;

// Filled before main, so that a lookup needs no check that it was.
const std::array<Code, kDirectCodes> kDirect = [] {
  std::array<Code, kDirectCodes> t{};
  for (size_t i = 0; i < t.size(); ++i) t[i] = FindCode(static_cast<char16_t>(i));
  return t;
}();

inline Code Lookup(char16_t c) { return c < kDirectCodes ? kDirect[c] : FindCode(c); }

// The accent bytes that follow the text: one byte (or two) per character
// up to the last accented one, 0x02 standing for an unaccented character.
struct ExtraCodes {
  // At most two bytes for each of kMaxTextKeyChars characters, and a
  // leading modifier.
  TextScratch<2 * kMaxTextKeyChars + 1> bytes;
  size_t chars = 0;         // characters accounted for in `bytes`
  size_t modifier_lead = 0; // a modifier seen before any character
};

void AddExtra(ExtraCodes& x, size_t char_pos, const Code& code) {
  if (x.chars < char_pos) {
    for (size_t i = x.chars; i < char_pos; ++i) x.bytes.push_back(kExtraPlaceholder);
    x.chars = char_pos;
  }
  if (code.cls == CharClass::kModifier) {
    // A combining mark changes the accent byte of what precedes it.
    uint8_t mod = static_cast<uint8_t>(code.extra);
    if (!x.bytes.empty()) {
      x.bytes.back() = static_cast<uint8_t>(x.bytes.back() + mod);
    } else {
      x.bytes.push_back(mod);
      x.modifier_lead = 1;
    }
    return;
  }
  AppendBigEndian(x.bytes, code.extra, code.extra_len);
  ++x.chars;
}

// UTF-8 read as UTF-16 code units, one at a time, without converting the
// whole string first; malformed sequences read as U+FFFD.
class Utf8Units {
 public:
  explicit Utf8Units(std::string_view s) : s_(s) {}

  // False at the end.
  bool operator()(char16_t& c) {
    if (low_ != 0) {
      c = low_;
      low_ = 0;
      return true;
    }
    if (i_ >= s_.size()) return false;
    const uint8_t b = static_cast<uint8_t>(s_[i_]);
    if (b < 0x80) {
      c = b;
      ++i_;
      return true;
    }
    uint32_t cp;
    size_t n;
    if ((b & 0xe0) == 0xc0) {
      cp = b & 0x1f;
      n = 2;
    } else if ((b & 0xf0) == 0xe0) {
      cp = b & 0x0f;
      n = 3;
    } else if ((b & 0xf8) == 0xf0) {
      cp = b & 0x07;
      n = 4;
    } else {
      return Replacement(c);
    }
    if (i_ + n > s_.size()) return Replacement(c);
    for (size_t k = 1; k < n; ++k) {
      const uint8_t x = static_cast<uint8_t>(s_[i_ + k]);
      if ((x & 0xc0) != 0x80) return Replacement(c);
      cp = (cp << 6) | (x & 0x3f);
    }
    static constexpr uint32_t kMin[] = {0, 0, 0x80, 0x800, 0x10000};
    if (cp < kMin[n] || cp > 0x10ffff || (cp >= 0xd800 && cp <= 0xdfff)) return Replacement(c);
    i_ += n;
    if (cp >= 0x10000) {
      cp -= 0x10000;
      c = static_cast<char16_t>(0xd800 + (cp >> 10));
      low_ = static_cast<char16_t>(0xdc00 + (cp & 0x3ff));
    } else {
      c = static_cast<char16_t>(cp);
    }
    return true;
  }

 private:
  bool Replacement(char16_t& c) {
    c = u'\ufffd';
    ++i_;
    return true;
  }

  std::string_view s_;
  size_t i_ = 0;
  char16_t low_ = 0;  // second half of a pair still to come
};

// AppendGeneralText over code units drawn from `next` (false at the end).
// Spaces are held back until something follows them, which drops the
// trailing ones without knowing where the text ends.
template <typename Next>
void EncodeGeneralText(Bytes& out, Next& next, bool ascending) {
  const size_t start = out.size();

  ExtraCodes extra;
  TextScratch<4 * kMaxTextKeyChars> unprintable;  // four bytes per character
  TextScratch<kMaxTextKeyChars> case_flags;        // one flag per character
  bool have_extra = false;
  size_t char_pos = 0;  // counts characters with inline bytes only
  auto add = [&](char16_t c) {
    const Code code = Lookup(c);
    const size_t pos = char_pos;
    if (code.key_len > 0) {
      AppendBigEndian(out, code.key, code.key_len);
      ++char_pos;
    }
    switch (code.cls) {
      case CharClass::kIgnored:
      case CharClass::kSimple:
        break;
      case CharClass::kAccented:
      case CharClass::kModifier:
        have_extra = true;
        AddExtra(extra, pos, code);
        break;
      case CharClass::kAccentedCase:
        if (code.extra_len > 0) {
          have_extra = true;
          AddExtra(extra, pos, code);
        }
        case_flags.push_back(code.flag);
        break;
      case CharClass::kUnprintable: {
        // The position counts the accent bytes as they stand, plus the
        // characters not yet given one, less a leading modifier.
        size_t at = pos;
        if (have_extra) at = extra.bytes.size() + (pos - extra.chars) - extra.modifier_lead;
        uint16_t mark = static_cast<uint16_t>((7 + 4 * at) | 0x8000);
        AppendBigEndian(unprintable, mark, 2);
        unprintable.push_back(kUnprintableMid);
        unprintable.push_back(static_cast<uint8_t>(code.extra));
        break;
      }
    }
  };
  size_t spaces = 0;
  char16_t c;
  for (size_t units = 0; units < kMaxTextKeyChars && next(c); ++units) {
    if (c == u' ') {
      ++spaces;
      continue;
    }
    for (; spaces > 0; --spaces) add(u' ');
    add(c);
  }
  out.push_back(kTextEnd);

  // Trailing "no accent" bytes carry nothing.
  while (!extra.bytes.empty() && extra.bytes.back() <= kExtraPlaceholder) extra.bytes.pop_back();
  AppendBytes(out, extra.bytes.view());

  if (!case_flags.empty() || !unprintable.empty()) {
    out.push_back(kTextEnd);
    out.push_back(kTextEnd);
    if (!case_flags.empty()) {
      while (!case_flags.empty() && case_flags.back() == kCaseFlagDefault) case_flags.pop_back();
      // Three two-bit flags per byte, under a 0x80 marker.
      for (size_t i = 0; i < case_flags.size(); i += 3) {
        uint8_t b = kCaseFlagsStart;
        for (size_t k = 0; k < 3 && i + k < case_flags.size(); ++k)
          b |= static_cast<uint8_t>(case_flags[i + k] << ((2 - k) * 2));
        out.push_back(b);
      }
      out.insert(out.end(), std::begin(kCaseFlagsSuffix), std::end(kCaseFlagsSuffix));
      if (!unprintable.empty()) out.push_back(kCaseThenUnprintable);
    }
    if (!unprintable.empty()) {
      out.push_back(kTextEnd);
      AppendBytes(out, unprintable.view());
    }
  }

  if (!ascending) {
    out.push_back(kExtraEnd);
    Flip(out, start);
  }
  out.push_back(kExtraEnd);
}

}  // namespace

void AppendGeneralText(Bytes& out, std::u16string_view text, bool ascending) {
  size_t i = 0;
  auto next = [&](char16_t& c) {
    if (i == text.size()) return false;
    c = text[i++];
    return true;
  };
  EncodeGeneralText(out, next, ascending);
}

bool IsGeneralSortOrder(const ColumnDef& column) {
  return (column.sort_order == 0x409 || column.sort_order == 0) && column.sort_version == 0;
}

int CompareKeys(ByteView a, ByteView b) {
  size_t n = std::min(a.size(), b.size());
  if (n > 0) {
    int c = std::memcmp(a.data(), b.data(), n);
    if (c != 0) return c < 0 ? -1 : 1;
  }
  return a.size() < b.size() ? -1 : a.size() > b.size() ? 1 : 0;
}

namespace {

[[noreturn]] void Mismatch() { throw JetError(kErrDataTypeMismatch); }

int64_t IntegerOf(const Value& v) {
  if (v.is<int32_t>()) return v.as<int32_t>();
  if (v.is<bool>()) return v.as<bool>() ? -1 : 0;
  if (v.is<double>() || v.is<float>()) {
    double d = v.ToDouble();
    if (!std::isfinite(d)) Mismatch();
    return static_cast<int64_t>(std::llround(d));
  }
  Mismatch();
}

double FloatOf(const Value& v) {
  if (v.is<double>()) return v.as<double>();
  if (v.is<float>()) return v.as<float>();
  if (v.is<Date>()) return v.as<Date>().days;
  if (v.is<int32_t>()) return v.as<int32_t>();
  if (v.is<Currency>()) return static_cast<double>(v.as<Currency>().scaled) / 10000.0;
  if (v.is<bool>()) return v.as<bool>() ? -1.0 : 0.0;
  Mismatch();
}

// Two's complement integers: big-endian with the sign bit flipped.
void AppendSigned(Bytes& out, int64_t v, int len, bool ascending) {
  size_t at = out.size();
  AppendBigEndian(out, static_cast<uint64_t>(v), len);
  out[at] ^= 0x80;
  if (!ascending) Flip(out, at);
}

// IEEE numbers: positives get the sign bit flipped, negatives every bit, so
// that byte order is numeric order.
void AppendFloat(Bytes& out, uint64_t bits, int len, bool ascending) {
  size_t at = out.size();
  AppendBigEndian(out, bits, len);
  bool negative = out[at] & 0x80;
  if (!negative) out[at] ^= 0x80;
  if (negative == ascending) Flip(out, at);
}

// Binary and GUID: 8-byte segments, each followed by 9 when more follow or
// by the count of bytes used in the last one (zero padded).
void AppendSegmented(Bytes& out, ByteView data, bool ascending) {
  size_t pos = 0;
  while (data.size() - pos > 8) {
    size_t at = out.size();
    out.insert(out.end(), data.begin() + pos, data.begin() + pos + 8);
    if (!ascending) Flip(out, at);
    out.push_back(9);
    pos += 8;
  }
  size_t rest = data.size() - pos;
  if (rest == 0) return;
  size_t at = out.size();
  out.insert(out.end(), data.begin() + pos, data.end());
  out.insert(out.end(), 8 - rest, 0);
  out.push_back(static_cast<uint8_t>(rest));
  if (!ascending) Flip(out, at);
}

// 128-bit magnitude, most significant word first.
using Words = std::array<uint32_t, 4>;

bool MulSmall(Words& w, uint32_t m) {
  uint64_t carry = 0;
  for (int i = 3; i >= 0; --i) {
    uint64_t t = uint64_t{w[i]} * m + carry;
    w[i] = static_cast<uint32_t>(t);
    carry = t >> 32;
  }
  return carry == 0;
}

void DivSmall(Words& w, uint32_t d) {
  uint64_t rem = 0;
  for (int i = 0; i < 4; ++i) {
    uint64_t t = (rem << 32) | w[i];
    w[i] = static_cast<uint32_t>(t / d);
    rem = t % d;
  }
}

// Decimal: sign byte and 16-byte magnitude at the column's scale; Jet 4
// orders them with its old rule, where the sign byte ends up 0xff for
// positives and 0x00 for negatives whatever the direction.
void AppendDecimal(Bytes& out, const Decimal& d, const ColumnDef& col, bool ascending) {
  Words w{0, d.magnitude[2], d.magnitude[1], d.magnitude[0]};
  for (int s = d.scale; s < col.scale; ++s)
    if (!MulSmall(w, 10)) throw JetError(kErrOverflow);
  for (int s = d.scale; s > col.scale; --s) DivSmall(w, 10);
  bool zero = w[0] == 0 && w[1] == 0 && w[2] == 0 && w[3] == 0;
  bool negative = d.negative && !zero;
  size_t at = out.size();
  out.push_back(negative ? 0x80 : 0x00);
  for (uint32_t word : w) AppendBigEndian(out, word, 4);
  if (negative == ascending) Flip(out, at);
  out[at] = negative ? 0x00 : 0xff;
}

// GUIDs are stored with their first three groups little-endian; keys use
// the text order of the groups.
void AppendGuid(Bytes& out, const Guid& g, bool ascending) {
  std::array<uint8_t, 16> b = g.bytes;
  std::reverse(b.begin(), b.begin() + 4);
  std::reverse(b.begin() + 4, b.begin() + 6);
  std::reverse(b.begin() + 6, b.begin() + 8);
  AppendSegmented(out, ByteView(b.data(), b.size()), ascending);
}

}  // namespace

void AppendKeyColumn(Bytes& out, const Value& value, const ColumnDef& column, bool ascending) {
  const ColumnType type = column.type;
  if (type == ColumnType::kOle) throw JetError(kErrInvalidOperation);
  if (type == ColumnType::kBoolean) {
    // Yes/No columns are never null; a missing value sorts as No.
    bool yes = false;
    if (value.is<bool>()) yes = value.as<bool>();
    else if (!value.is_null()) yes = IntegerOf(value) != 0;
    out.push_back(ascending ? kAscValue : kDescValue);
    out.push_back((yes == ascending) ? 0x00 : 0xff);
    return;
  }
  if (value.is_null()) {
    out.push_back(ascending ? kAscNull : kDescNull);
    return;
  }
  const size_t flag_at = out.size();
  out.push_back(ascending ? kAscValue : kDescValue);
  switch (type) {
    case ColumnType::kByte: {
      out.push_back(static_cast<uint8_t>(IntegerOf(value)));
      if (!ascending) Flip(out, flag_at + 1);
      break;
    }
    case ColumnType::kInteger:
      AppendSigned(out, IntegerOf(value), 2, ascending);
      break;
    case ColumnType::kLong:
      AppendSigned(out, IntegerOf(value), 4, ascending);
      break;
    case ColumnType::kCurrency: {
      int64_t scaled;
      if (value.is<Currency>()) scaled = value.as<Currency>().scaled;
      else scaled = static_cast<int64_t>(std::llround(FloatOf(value) * 10000.0));
      AppendSigned(out, scaled, 8, ascending);
      break;
    }
    case ColumnType::kSingle: {
      float f = value.is<float>() ? value.as<float>() : static_cast<float>(FloatOf(value));
      uint32_t bits;
      std::memcpy(&bits, &f, sizeof bits);
      AppendFloat(out, bits, 4, ascending);
      break;
    }
    case ColumnType::kDouble:
    case ColumnType::kDate:
      AppendFloat(out, DoubleToBits(FloatOf(value)), 8, ascending);
      break;
    case ColumnType::kText:
    case ColumnType::kMemo:
      if (!IsGeneralSortOrder(column)) throw JetError(kErrInvalidOperation);
      if (!value.is<std::string>()) Mismatch();
    {
      Utf8Units units(value.as<std::string>());
      EncodeGeneralText(out, units, ascending);
    }
      break;
    case ColumnType::kBinary:
      if (!value.is<Binary>()) Mismatch();
      AppendSegmented(out, value.as<Binary>(), ascending);
      break;
    case ColumnType::kGuid:
      if (value.is<Guid>()) AppendGuid(out, value.as<Guid>(), ascending);
      else Mismatch();
      break;
    case ColumnType::kDecimal: {
      Decimal d;
      if (value.is<Decimal>()) {
        d = value.as<Decimal>();
      } else if (value.is<int32_t>()) {
        int64_t v = value.as<int32_t>();
        d.negative = v < 0;
        d.magnitude[0] = static_cast<uint32_t>(v < 0 ? -v : v);
      } else {
        Mismatch();
      }
      AppendDecimal(out, d, column, ascending);
      break;
    }
    default:
      throw JetError(kErrInvalidOperation);
  }
}

Bytes EncodeIndexKey(std::span<const KeyPart> parts) {
  Bytes out;
  for (const KeyPart& p : parts) AppendKeyColumn(out, *p.value, *p.column, p.ascending);
  return out;
}

Bytes RowIndexKey(const TableDef& def, const RealIndexDef& index, const std::vector<Value>& values) {
  Bytes key;
  AppendRowIndexKey(key, def, index, values);
  return key;
}

void AppendRowIndexKey(Bytes& out, const TableDef& def, const RealIndexDef& index,
                       const std::vector<Value>& values) {
  for (const auto& ic : index.columns) {
    const ColumnDef* c = def.ColumnByNumber(ic.column_number);
    if (!c) throw JetError(kErrCorrupt);
    size_t i = static_cast<size_t>(c - def.columns.data());
    if (i >= values.size()) throw JetError(kErrCorrupt);
    AppendKeyColumn(out, values[i], *c, ic.ascending);
  }
}

void RowKeys::Build(const TableDef& def, const std::vector<Value>& values) {
  count_ = 0;
  if (keys_.size() < def.real_indexes.size()) keys_.resize(def.real_indexes.size());
  spots_.assign(def.real_indexes.size(), IndexSpot{});
  for (const RealIndexDef& ri : def.real_indexes) {
    Bytes& k = keys_[count_];
    k.clear();
    AppendRowIndexKey(k, def, ri, values);
    ++count_;
  }
}

}  // namespace jet
