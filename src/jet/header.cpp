#include "jet/header.h"

#include <cmath>
#include <cstring>

#include "jet/rc4.h"
#include "jet/text.h"

namespace jet {

namespace {

// Unmasked bytes 0x18..0x2f, the same in every Jet 3 and Jet 4 file seen.
constexpr uint8_t kFixedBlock[] = {0x00, 0x01, 0x00, 0x00, 0x01, 0x01, 0x00, 0x00,
                                   0x02, 0x00, 0x00, 0x00, 0x03, 0x00, 0x00, 0x00,
                                   0x04, 0x00, 0x00, 0x00, 0x05, 0x00, 0x00, 0x00};
constexpr size_t kFixedBlockOffset = 0x18;

// Jet 4 files carry 0x654 and "4.0" right after the masked block.
constexpr uint8_t kJet4VersionTag[] = {0x54, 0x06, 0x00, 0x00, '4', '.', '0', 0x00};

// The word table that fills the end of page 0: a new file holds 0x0101 in the
// first word and 0x0100 in every other.
constexpr uint16_t kHeaderTableFirst = 0x0101;
constexpr uint16_t kHeaderTableRest = 0x0100;

// UTF-8 to UTF-16 code units; malformed input is an invalid argument.
std::u16string StrictUtf8ToUtf16(const std::string& s) {
  std::u16string out;
  size_t i = 0;
  while (i < s.size()) {
    uint8_t b = static_cast<uint8_t>(s[i]);
    int extra = b < 0x80 ? 0 : (b >> 5) == 6 ? 1 : (b >> 4) == 14 ? 2 : (b >> 3) == 30 ? 3 : -1;
    if (extra < 0 || i + extra >= s.size()) throw JetError(kErrInvalidArgument);
    char32_t c = extra == 0 ? b : b & (0x3f >> extra);
    for (int k = 1; k <= extra; ++k) {
      uint8_t n = static_cast<uint8_t>(s[i + k]);
      if ((n & 0xc0) != 0x80) throw JetError(kErrInvalidArgument);
      c = (c << 6) | (n & 0x3f);
    }
    i += extra + 1;
    if (c >= 0x10000) {
      c -= 0x10000;
      out += static_cast<char16_t>(0xd800 | (c >> 10));
      out += static_cast<char16_t>(0xdc00 | (c & 0x3ff));
    } else {
      out += static_cast<char16_t>(c);
    }
  }
  return out;
}

}  // namespace

const Format& DetectFormat(ByteView raw) {
  const Format& probe = Jet4Format();
  if (raw.size() <= probe.offset_version) throw JetError(kErrNotADatabase);
  if (raw[0] != 0) throw JetError(kErrNotADatabase);
  if (std::memcmp(raw.data() + probe.offset_signature, kJetSignature, sizeof kJetSignature) != 0)
    throw JetError(kErrNotADatabase);
  switch (raw[probe.offset_version]) {
    case 0:
      return Jet3Format();
    case 1:
      return Jet4Format();
    default:
      throw JetError(kErrNotADatabase);
  }
}

void ToggleHeaderMask(const Format& f, std::span<uint8_t> page) {
  CheckRange(page, f.masked_header_offset, f.masked_header_size);
  Rc4Xor(ByteView(kHeaderMaskKey, 4), page.subspan(f.masked_header_offset, f.masked_header_size));
}

void PasswordMask(double creation_date, uint8_t out[4]) {
  // Whole days truncated toward zero, saturating like a checked conversion.
  int32_t days = 0;
  if (std::isnan(creation_date)) {
    days = 0;
  } else if (creation_date >= 2147483647.0) {
    days = INT32_MAX;
  } else if (creation_date <= -2147483648.0) {
    days = INT32_MIN;
  } else {
    days = static_cast<int32_t>(creation_date);
  }
  uint32_t u = static_cast<uint32_t>(days);
  for (int i = 0; i < 4; ++i) out[i] = static_cast<uint8_t>(u >> (8 * i));
}

HeaderInfo ParseHeader(const Format& f, ByteView page) {
  HeaderInfo h;
  h.version = f.version;
  h.code_page = Get16(page, f.offset_code_page);
  h.sort_order = f.size_sort_order == 4 ? Get32(page, f.offset_sort_order)
                                        : Get16(page, f.offset_sort_order);
  h.db_key = Get32(page, f.offset_db_key);
  CheckRange(page, f.offset_password, f.size_password);
  Bytes pwd(page.begin() + f.offset_password, page.begin() + f.offset_password + f.size_password);
  if (f.offset_creation_date >= 0) {
    h.creation_date = BitsToDouble(Get64(page, static_cast<size_t>(f.offset_creation_date)));
    uint8_t mask[4];
    PasswordMask(h.creation_date, mask);
    for (size_t i = 0; i < pwd.size(); ++i) pwd[i] ^= mask[i % 4];
  }
  // The password runs up to its first null character.
  size_t n = 0;
  if (f.unicode_text()) {
    while (n + 1 < pwd.size() && (pwd[n] | pwd[n + 1]) != 0) n += 2;
    h.password = Ucs2ToUtf8(ByteView(pwd).first(n));
  } else {
    while (n < pwd.size() && pwd[n] != 0) ++n;
    h.password = Cp1252ToUtf8(ByteView(pwd).first(n));
  }
  return h;
}

Bytes BuildJet4Header(const HeaderInfo& h) {
  const Format& f = Jet4Format();
  if (h.version != 4) throw JetError(kErrInvalidArgument);
  std::u16string pwd = StrictUtf8ToUtf16(h.password);
  if (pwd.size() > kMaxPasswordChars) throw JetError(kErrInvalidArgument);

  Bytes page(f.page_size, 0);
  Put8(page, 0, static_cast<uint8_t>(PageType::kHeader));
  Put8(page, 1, 1);
  std::memcpy(page.data() + f.offset_signature, kJetSignature, sizeof kJetSignature);
  Put8(page, f.offset_version, 1);
  std::memcpy(page.data() + kFixedBlockOffset, kFixedBlock, sizeof kFixedBlock);
  Put16(page, f.offset_code_page, h.code_page);
  Put32(page, f.offset_db_key, h.db_key);

  uint8_t mask[4];
  PasswordMask(h.creation_date, mask);
  for (size_t i = 0; i < f.size_password; ++i) {
    uint8_t b = 0;
    if (i / 2 < pwd.size()) b = static_cast<uint8_t>(pwd[i / 2] >> (8 * (i % 2)));
    Put8(page, f.offset_password + i, b ^ mask[i % 4]);
  }
  Put16(page, f.offset_engine_build, kJet4EngineBuild);
  Put32(page, f.offset_sort_order, h.sort_order);
  Put64(page, static_cast<size_t>(f.offset_creation_date), DoubleToBits(h.creation_date));
  std::memcpy(page.data() + f.offset_version_tag, kJet4VersionTag, sizeof kJet4VersionTag);
  Put16(page, f.offset_header_table, kHeaderTableFirst);
  for (size_t off = f.offset_header_table + 2; off < f.page_size; off += 2)
    Put16(page, off, kHeaderTableRest);
  return page;
}

bool PasswordMatches(const HeaderInfo& h, const std::string& given) {
  return h.password.empty() || h.password == given;
}

void CheckPassword(const HeaderInfo& h, const std::string& given) {
  if (!PasswordMatches(h, given)) throw JetError(kErrBadPassword);
}

}  // namespace jet
