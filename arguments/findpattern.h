#pragma once

#include <QByteArray>
#include <QString>

#include <vector>

namespace perrox {

// What one Find side searches for.
struct FindPattern
{
    enum class Kind
    {
        Bytes, // a sequence of bytes, maybe with wildcards, maybe ignoring case
        Regex, // a regular expression over the bytes (PCRE2)
    };
    // How a Bytes find ignores case.
    enum class Fold
    {
        None, // exact bytes
        Windows1252, // the bytes are Windows-1252 text: its letters match either case
        Unicode, // the bytes are UTF-8 text: characters match by simple case folding
    };
    Kind kind = Kind::Bytes;
    // Bytes: the sequence. Regex: the pattern text as UTF-8.
    QByteArray bytes;
    // Bytes: empty, or one flag per byte of `bytes`; a non-zero flag makes
    // that byte a wildcard that any byte matches.
    QByteArray anyByte;
    Fold fold = Fold::None; // Bytes only
    bool ignoreCase = false; // Regex only: the pattern's caseless mode
    // A match counts only where the bytes on either side of it (or the file's
    // start or end) are no word bytes (see IsWordByte).
    bool wholeWord = false;

    // True for a plain, case-sensitive sequence: the pair is searched as the
    // literal finds always were.
    bool isLiteral() const { return kind == Kind::Bytes && fold == Fold::None && !wholeWord && !hasWildcard(); }
    bool hasWildcard() const;
    bool isWildcard(qsizetype i) const { return i < anyByte.size() && anyByte.at(i) != 0; }
};

struct FindReplaceArgument;
struct BytesResult;

// What the find of a typed pair looks for, its bytes (with wildcards) given:
// a pattern matches as typed; text folds case as its characters do; bytes
// are exact.
FindPattern FindPatternOf(const FindReplaceArgument &argument, const BytesResult &bytes);

// What one Replace side puts in place of a match.
struct Replacement
{
    enum class Kind
    {
        Bytes, // these bytes
        Template, // only with a Regex find: text with $1, ${name}, $$ (see ParseTemplate)
    };
    Kind kind = Kind::Bytes;
    QByteArray bytes;
};

// Letters, digits and '_' of ASCII, and every byte from 0x80 on.
constexpr bool IsWordByte(unsigned char b)
{
    return (b >= '0' && b <= '9') || (b >= 'A' && b <= 'Z') || (b >= 'a' && b <= 'z') || b == '_' || b >= 0x80;
}

// Why a pair cannot be searched: which pair (from 0), which side, the message,
// and the character offset in that side's text it points at, or -1.
struct PatternRefusal
{
    enum class Side
    {
        Find,
        Replace,
    };
    int pair = -1;
    Side side = Side::Find;
    QString message;
    qsizetype offset = -1;
};

// The texts of the refusals and of the file failure of a too long match; each
// text of the patterns lives here once.
namespace PatternText {
// PCRE2's own message at a character position (from 0).
QString invalidRegex(const QString &pcreMessage, qsizetype offset);
QString emptyMatch();
QString unknownGroup(const QString &reference);
QString lonelyDollar(qsizetype offset);
QString onlyWildcards();
QString findTooLarge();
// The description of a file failure ("... - path").
QString matchTooLong(qint64 offset, qint64 maxMatchSize);
QString matchError(const QString &pcreMessage, qint64 offset);
} // namespace PatternText

} // namespace perrox
