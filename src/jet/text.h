// Text as the engine stores it, and as the rest of the program holds it
// (UTF-8). Jet 4 keeps text as UCS-2 little-endian, optionally in its
// "compressed Unicode" form; Jet 3 keeps it in the database code page
// (Windows-1252 for every file this program meets).
//
// None of these functions rejects input: invalid UTF-8 bytes, lone
// surrogates and odd trailing bytes decode to U+FFFD, so a damaged value
// still reads. Characters outside the Basic Multilingual Plane travel as two
// UTF-16 units, as the engine keeps them.
#pragma once

#include <string>
#include <string_view>

#include "jet/bytes.h"

namespace jet {

std::u16string Utf8ToUtf16(std::string_view s);
std::string Utf16ToUtf8(std::u16string_view s);

// UCS-2 little-endian bytes, uncompressed.
Bytes Utf8ToUcs2(std::string_view s);
// Appends the UCS-2 form of `s` to `out`.
void AppendUcs2(std::string_view s, Bytes& out);
// Code units the UTF-16 form of `s` takes, without building it.
size_t Utf16Length(std::string_view s);
std::string Ucs2ToUtf8(ByteView b);

// Windows-1252. Characters the code page lacks encode as '?'. The five bytes
// the code page leaves undefined decode to the C1 control of the same value,
// as the system's converter does, so they survive a round trip.
std::string Cp1252ToUtf8(ByteView b);
Bytes Utf8ToCp1252(std::string_view s);

// A Jet 4 text value: uncompressed UCS-2, or FF FE followed by segments that
// alternate, at each 00 byte, between one byte per character (high byte
// zero) and two, starting with one.
std::string DecodeJet4Text(ByteView b);
// The same into `out`, reusing its storage.
void DecodeJet4TextInto(ByteView b, std::string& out);

// Encodes a Jet 4 text value. With `compress` (the column's compressed
// Unicode flag), the value is stored compressed when that is shorter: more
// than two characters, none of them U+0000 or above U+00FF, and no more than
// kMaxCompressedChars characters.
constexpr size_t kMaxCompressedChars = 1024;
Bytes EncodeJet4Text(std::string_view s, bool compress);

// Stored text of either version; `version` is 3 or 4.
std::string DecodeText(ByteView b, int version);
Bytes EncodeText(std::string_view s, int version, bool compress);

// Object names compare without regard to case, as the engine compares them:
// ASCII, Latin-1, Latin Extended-A, Greek and Cyrillic letters fold to their
// capitals ("Tintasu" equals "TIntAsu", "año" equals "AÑO"). Accents still
// count: "e" and "é" differ.
std::u16string FoldName(std::string_view name);
bool NamesEqual(std::string_view a, std::string_view b);
int CompareNames(std::string_view a, std::string_view b);  // <0, 0, >0

}  // namespace jet
