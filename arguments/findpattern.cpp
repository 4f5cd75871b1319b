#include "findpattern.h"

#include "findreplaceargument.h"
#include "notation.h"

#include <algorithm>

namespace perrox {

bool FindPattern::hasWildcard() const
{
    return std::any_of(anyByte.cbegin(), anyByte.cend(), [](char c) { return c != 0; });
}

FindPattern FindPatternOf(const FindReplaceArgument &a, const BytesResult &bytes)
{
    FindPattern find;
    find.bytes = bytes.bytes;
    find.wholeWord = a.wholeWord;
    if (Info(a.findNotation).pattern) {
        find.kind = FindPattern::Kind::Regex;
        find.ignoreCase = a.ignoreCase;
        return find;
    }
    find.anyByte = bytes.anyByte;
    if (a.ignoreCase && a.findNotation == Notation::Characters)
        find.fold = FindPattern::Fold::Windows1252;
    else if (a.ignoreCase && a.findNotation == Notation::Utf8)
        find.fold = FindPattern::Fold::Unicode;
    return find;
}

namespace PatternText {

// The refusals end, as the other messages of the pairs, with what to do.
QString invalidRegex(const QString &pcreMessage, qsizetype offset)
{
    return QStringLiteral("An invalid regular expression found: %1 at character %2.\r\n\r\nCorrect the find argument and try again.")
        .arg(pcreMessage)
        .arg(offset + 1);
}

QString emptyMatch()
{
    return QStringLiteral(
        "A regular expression that can match an empty sequence found: its replacement would go in at every position.\r\n\r\nChange it so that "
        "every match takes at least one byte.");
}

QString unknownGroup(const QString &reference)
{
    return QStringLiteral("The replacement refers to the group %1, which its regular expression does not have.\r\n\r\nCorrect the replace argument "
                          "and try again.")
        .arg(reference);
}

QString lonelyDollar(qsizetype offset)
{
    return QStringLiteral("An invalid '$' found in the replacement at character %1.\r\n\r\nWrite $ with a group number, ${name} for a named group, "
                          "or $$ for a dollar sign.")
        .arg(offset + 1);
}

QString onlyWildcards()
{
    return QStringLiteral("A find of wildcards only found: it would match any bytes.\r\n\r\nGive at least one byte that must match.");
}

QString findTooLarge()
{
    return QStringLiteral("A find too long to ignore case, match whole words or hold wildcards found.\r\n\r\nShorten it, or search it without these "
                          "options.");
}

QString matchTooLong(qint64 offset, qint64 maxMatchSize)
{
    return QStringLiteral("A match at byte %1 is longer than %2 bytes, the longest a match may be").arg(offset).arg(maxMatchSize);
}

QString matchError(const QString &pcreMessage, qint64 offset)
{
    return QStringLiteral("The regular expression failed at byte %1: %2").arg(offset).arg(pcreMessage);
}

} // namespace PatternText

} // namespace perrox
