// Page 0, the header page: which Jet version wrote the file, the locale,
// the page-encryption key and the database password. Bytes
// [0x18, 0x18 + 126 or 128) are masked with RC4 under a fixed key; the Jet 4
// password is additionally XOR-masked with the creation date's whole days.
//
// The functions here work on page images in memory; the pager reads and
// writes them. Callers pass a buffer of at least one page.
#pragma once

#include <cstdint>
#include <span>
#include <string>

#include "jet/bytes.h"
#include "jet/format.h"
#include "jet/pager.h"

namespace jet {

// The fixed key of the header mask: 0x6b39dac7, little-endian.
inline constexpr uint8_t kHeaderMaskKey[4] = {0xc7, 0xda, 0x39, 0x6b};

// Every Jet file starts "\0\1\0\0Standard Jet DB\0".
inline constexpr char kJetSignature[] = "Standard Jet DB";

// Locale of the files the application uses: code page 1252, General sort
// order (LCID 0x409, sort version 0).
inline constexpr uint16_t kCodePageWestern = 1252;
inline constexpr uint32_t kSortGeneral = 0x409;

// Build number the engine stamps at offset_engine_build; 9756 is the build
// that wrote adox_jet4.mdb, the newest Jet 4 engine among our samples.
inline constexpr uint16_t kJet4EngineBuild = 9756;

// Longest password the engine accepts: 20 characters on Jet 4 (40 bytes of
// UCS-2), 20 bytes on Jet 3.
inline constexpr size_t kMaxPasswordChars = 20;

// The format named by the version byte of a raw page 0 prefix; JetError 3343
// when the buffer is too short, lacks the signature or names an unknown
// version.
const Format& DetectFormat(ByteView raw_prefix);

// XORs the header mask over page 0 in place (masking and unmasking are the
// same operation). `page` holds at least the masked block.
void ToggleHeaderMask(const Format& f, std::span<uint8_t> page);

// Reads an unmasked page 0.
HeaderInfo ParseHeader(const Format& f, ByteView page);

// Writes a Jet 4 page 0, unmasked, exactly as the engine lays it out when it
// creates a database. `h.creation_date` must be set (the pager does it);
// JetError 3001 for a password longer than 20 characters or a version other
// than 4.
Bytes BuildJet4Header(const HeaderInfo& h);

// Whether `given` opens a file with this header. A file without a password
// opens with any; otherwise the match is exact and case-sensitive, as the
// engine compares database passwords.
bool PasswordMatches(const HeaderInfo& h, const std::string& given);

// Throws JetError 3031 when PasswordMatches is false.
void CheckPassword(const HeaderInfo& h, const std::string& given);

// The 4 bytes the Jet 4 password is XORed with: the creation date truncated
// toward zero to a 32-bit integer, little-endian.
void PasswordMask(double creation_date, uint8_t out[4]);

}  // namespace jet
