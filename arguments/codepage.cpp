#include "codepage.h"

#include "files/filesystem.h"

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
// the first bad byte.
qsizetype FirstInvalidUtf8(QByteArrayView bytes)
{
    const auto *b = reinterpret_cast<const uchar *>(bytes.data());
    for (qsizetype i = 0; i < bytes.size();) {
        const int length = Utf8SequenceLength(b + i, bytes.size() - i);
        if (length == 0)
            return i;
        i += length;
    }
    return -1;
}

} // namespace perrox
