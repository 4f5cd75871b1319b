#pragma once

#include "findpattern.h"

#include <QByteArray>

#include <array>
#include <vector>

namespace perrox {

// The byte written as a PCRE2 escape, "\x41"; it matches that byte in a
// pattern that does not work on UTF-8 characters.
QByteArray ByteEscape(uchar byte);

// The Windows-1252 letter of the other case: ASCII letters, À..Þ and à..þ
// (not × and ÷), Š/š, Œ/œ, Ž/ž, Ÿ/ÿ. Other bytes give themselves.
uchar Windows1252OtherCase(uchar byte);

// Each byte with its Windows-1252 case folded: of the two cases of a letter,
// the lower byte. Folding keeps every byte one byte.
extern const std::array<uchar, 256> kWindows1252Folded;
inline uchar Windows1252Folded(uchar byte)
{
    return kWindows1252Folded[byte];
}

// Every character with the same simple case folding as c, c among them, in
// increasing order ("k": k, K and the Kelvin sign).
std::vector<char32_t> SameFolding(char32_t c);

// The PCRE2 expression, over bytes and without groups, that matches exactly
// what a Bytes find matches: its bytes, its wildcards as any byte, its
// letters in either case as its fold says, and, for wholeWord, only between
// bytes that are no word bytes.
QByteArray BytesFindRegex(const FindPattern &find);

} // namespace perrox
