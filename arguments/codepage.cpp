#include "codepage.h"

#include <QHash>
#include <QStringDecoder>

#include <array>

namespace perrox {

namespace {

// The decoding direction comes straight from ICU through QStringDecoder. The
// encoding direction is the inverse of that table rather than QStringEncoder,
// because the encoder substitutes 1A hex (not "?") for a missing character and
// cannot tell that substitution from a real U+001A afterwards.
struct Table
{
    std::array<char16_t, 256> toUnicode {};
    QHash<char16_t, uchar> fromUnicode;

    Table()
    {
        QByteArray all(256, Qt::Uninitialized);
        for (int i = 0; i < 256; ++i)
            all[i] = char(i);
        QStringDecoder decoder("windows-1252");
        const QString decoded = decoder(all);
        Q_ASSERT(decoded.size() == 256);
        for (int i = 0; i < 256; ++i) {
            toUnicode[i] = decoded.at(i).unicode();
            fromUnicode.insert(toUnicode[i], uchar(i));
        }
    }
};

const Table &table()
{
    static const Table instance;
    return instance;
}

} // namespace

QString BytesToCharacters(QByteArrayView bytes)
{
    const Table &t = table();
    QString text(bytes.size(), Qt::Uninitialized);
    QChar *out = text.data();
    for (qsizetype i = 0; i < bytes.size(); ++i)
        out[i] = QChar(t.toUnicode[uchar(bytes.at(i))]);
    return text;
}

QByteArray CharactersToBytes(QStringView text)
{
    const Table &t = table();
    QByteArray bytes;
    bytes.reserve(text.size());
    for (qsizetype i = 0; i < text.size(); ++i) {
        const QChar c = text.at(i);
        if (c.isHighSurrogate() && i + 1 < text.size() && text.at(i + 1).isLowSurrogate()) {
            ++i; // one code point outside the code page
            bytes.append('?');
            continue;
        }
        if (c.unicode() < 256 && t.toUnicode[c.unicode()] == c.unicode()) {
            bytes.append(char(c.unicode())); // most characters stand for the byte of their own code
            continue;
        }
        const auto found = t.fromUnicode.constFind(c.unicode());
        bytes.append(found == t.fromUnicode.constEnd() ? '?' : char(found.value()));
    }
    return bytes;
}

qsizetype FirstOutsideCodePage(QStringView text)
{
    const Table &t = table();
    for (qsizetype i = 0; i < text.size(); ++i) {
        const char16_t c = text.at(i).unicode();
        if ((c < 256 && t.toUnicode[c] == c) || (!QChar::isSurrogate(c) && t.fromUnicode.contains(c)))
            continue;
        return i;
    }
    return -1;
}

// Qt decodes UTF-8 (QString::fromUtf8, QStringDecoder) by replacing what is
// malformed, and its validity check only says yes or no; the messages name
// the first bad byte, so the rules of well-formed UTF-8 are walked here.
qsizetype FirstInvalidUtf8(QByteArrayView bytes)
{
    const auto *b = reinterpret_cast<const uchar *>(bytes.data());
    const qsizetype n = bytes.size();
    for (qsizetype i = 0; i < n;) {
        const uchar lead = b[i];
        if (lead < 0x80) {
            ++i;
            continue;
        }
        // The length of the sequence, and the range its second byte must be
        // in: that range rules out overlong forms, surrogates and values
        // above U+10FFFF.
        int length = 0;
        uchar low = 0x80, high = 0xBF;
        if (lead >= 0xC2 && lead <= 0xDF)
            length = 2;
        else if (lead >= 0xE0 && lead <= 0xEF) {
            length = 3;
            low = lead == 0xE0 ? 0xA0 : 0x80;
            high = lead == 0xED ? 0x9F : 0xBF;
        } else if (lead >= 0xF0 && lead <= 0xF4) {
            length = 4;
            low = lead == 0xF0 ? 0x90 : 0x80;
            high = lead == 0xF4 ? 0x8F : 0xBF;
        } else {
            return i;
        }
        if (i + length > n || b[i + 1] < low || b[i + 1] > high)
            return i;
        for (int k = 2; k < length; ++k) {
            if (b[i + k] < 0x80 || b[i + k] > 0xBF)
                return i;
        }
        i += length;
    }
    return -1;
}

} // namespace perrox
