// The General sort order of Jet 4 text indexes (locale 0x409; "General
// legacy" in later releases) as data: for each UTF-16 code unit, the bytes
// its key carries inline and the bytes it adds after the text (accents,
// case of some letters, unprintable characters). The encoder in index_key.cpp
// is the only consumer; callers need not know the layout.
#pragma once

#include <cstdint>
#include <span>

namespace jet {

enum class CharClass : uint8_t {
  kIgnored,       // contributes nothing (NUL and many symbols)
  kSimple,        // inline key bytes only
  kAccented,      // inline key bytes plus extra bytes after the text
  kUnprintable,   // no inline bytes; a positioned code after the text
  kModifier,      // no inline bytes; adds to the previous extra byte
  kAccentedCase,  // inline, optional extra, plus a two-bit case flag
};

// A run of `count` code units starting at `first`. For kSimple runs the
// inline key of code unit first+i is key+i; other classes have count 1.
// `key` holds key_len bytes big-endian, `extra` extra_len bytes the same
// way (the unprintable code or the modifier for those classes); `flag` is
// the case flag (2 or 3) of kAccentedCase.
struct CharRun {
  uint16_t first;
  uint16_t count;
  uint32_t key;
  uint16_t extra;
  CharClass cls;
  uint8_t key_len;
  uint8_t extra_len;
  uint8_t flag;
};

// Runs sorted by `first`, covering 0x0000-0xFFFF except the surrogates
// (0xD800-0xDFFF), whose keys are computed.
std::span<const CharRun> GeneralSortRuns();

}  // namespace jet
