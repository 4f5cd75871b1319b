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
// a lone surrogate included, becomes "?" (3F hex).
QByteArray CharactersToBytes(QStringView text);

} // namespace perrox
