#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QString>
#include <QStringView>

namespace perrox {

// Characters texts hold one byte per character in Windows-1252. The five
// bytes the code page leaves unassigned (81, 8D, 8F, 90, 9D hex) stand for the
// characters with the same code, so every byte 0-255 round-trips.

// One character per byte.
QString BytesToCharacters(QByteArrayView bytes);

// One byte per character (per code point); a character the code page lacks,
// a lone surrogate included, becomes "?" (3F hex). Texts that must not lose a
// character are checked with FirstOutsideCodePage first.
QByteArray CharactersToBytes(QStringView text);

// The position of the first character (code point) the code page lacks, or -1.
qsizetype FirstOutsideCodePage(QStringView text);

// The position of the first byte that is not part of well-formed UTF-8 (no
// overlong forms, no surrogates, nothing above U+10FFFF), or -1. A sequence
// cut short at the end counts from its first byte.
qsizetype FirstInvalidUtf8(QByteArrayView bytes);

} // namespace perrox
