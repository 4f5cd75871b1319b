#include "bytepattern.h"

#include <QByteArrayList>
#include <QChar>
#include <QList>

#include <algorithm>
#include <unordered_map>

namespace perrox {

namespace {

// The characters of every folding that more than one character has, by the
// folded character, built once.
const std::unordered_map<char32_t, std::vector<char32_t>> &foldingClasses()
{
    static const std::unordered_map<char32_t, std::vector<char32_t>> classes = [] {
        std::unordered_map<char32_t, std::vector<char32_t>> map;
        for (char32_t c = 0; c <= 0x10FFFF; ++c) {
            if (c >= 0xD800 && c <= 0xDFFF)
                continue;
            const char32_t folded = QChar::toCaseFolded(c);
            if (folded != c)
                map[folded].push_back(c);
        }
        for (auto &[folded, members] : map) {
            members.push_back(folded);
            std::sort(members.begin(), members.end());
        }
        return map;
    }();
    return classes;
}

QByteArray utf8(char32_t c)
{
    return QString::fromUcs4(&c, 1).toUtf8();
}

// The length of the valid UTF-8 character at bytes[at], none of whose bytes
// is a wildcard, and the character; 0 when there is none.
int decodeCharacter(const FindPattern &find, qsizetype at, char32_t &c)
{
    const QByteArray &b = find.bytes;
    const uchar lead = uchar(b.at(at));
    const int length = lead < 0x80 ? 1 : lead >= 0xC2 && lead <= 0xDF ? 2 : lead >= 0xE0 && lead <= 0xEF ? 3 : lead >= 0xF0 && lead <= 0xF4 ? 4 : 0;
    if (length == 0 || at + length > b.size())
        return 0;
    for (qsizetype i = at; i < at + length; ++i) {
        if (find.isWildcard(i) || (i > at && (uchar(b.at(i)) & 0xC0) != 0x80))
            return 0;
    }
    const QString decoded = QString::fromUtf8(b.mid(at, length));
    const QList<uint> ucs4 = decoded.toUcs4();
    // Overlong forms and surrogates decode to the replacement character.
    if (ucs4.size() != 1 || utf8(ucs4.at(0)) != b.mid(at, length))
        return 0;
    c = ucs4.at(0);
    return length;
}

QByteArray escaped(const QByteArray &bytes)
{
    QByteArray text;
    for (const char b : bytes)
        text += ByteEscape(uchar(b));
    return text;
}

} // namespace

QByteArray ByteEscape(uchar byte)
{
    static const char digits[] = "0123456789abcdef";
    return QByteArray("\\x") + digits[byte >> 4] + digits[byte & 15];
}

const std::array<uchar, 256> kWindows1252Folded = [] {
    std::array<uchar, 256> table {};
    for (int b = 0; b < 256; ++b)
        table[size_t(b)] = std::min(uchar(b), Windows1252OtherCase(uchar(b)));
    return table;
}();

uchar Windows1252OtherCase(uchar b)
{
    if ((b >= 'A' && b <= 'Z') || (b >= 0xC0 && b <= 0xDE && b != 0xD7))
        return uchar(b + 0x20);
    if ((b >= 'a' && b <= 'z') || (b >= 0xE0 && b <= 0xFE && b != 0xF7))
        return uchar(b - 0x20);
    switch (b) {
    case 0x8A:
    case 0x8C:
    case 0x8E:
        return uchar(b + 0x10);
    case 0x9A:
    case 0x9C:
    case 0x9E:
        return uchar(b - 0x10);
    case 0x9F:
        return 0xFF;
    case 0xFF:
        return 0x9F;
    default:
        return b;
    }
}

std::vector<char32_t> SameFolding(char32_t c)
{
    const auto &classes = foldingClasses();
    const auto it = classes.find(QChar::toCaseFolded(c));
    return it == classes.end() ? std::vector<char32_t> {c} : it->second;
}

QByteArray BytesFindRegex(const FindPattern &find)
{
    QByteArray text;
    for (qsizetype i = 0; i < find.bytes.size();) {
        const uchar b = uchar(find.bytes.at(i));
        char32_t c = 0;
        int length = 0;
        if (find.isWildcard(i)) {
            text += "[\\x00-\\xff]";
        } else if (find.fold == FindPattern::Fold::Windows1252 && Windows1252OtherCase(b) != b) {
            text += '[' + ByteEscape(b) + ByteEscape(Windows1252OtherCase(b)) + ']';
        } else if (find.fold == FindPattern::Fold::Unicode && (length = decodeCharacter(find, i, c)) > 0 && SameFolding(c).size() > 1) {
            QByteArrayList alternatives;
            for (const char32_t other : SameFolding(c))
                alternatives << escaped(utf8(other));
            text += "(?:" + alternatives.join('|') + ')';
            i += length;
            continue;
        } else {
            text += ByteEscape(b);
        }
        ++i;
    }
    return find.wholeWord ? QByteArray("(?<![0-9A-Za-z_\\x80-\\xff])" + text + "(?![0-9A-Za-z_\\x80-\\xff])") : text;
}

} // namespace perrox
