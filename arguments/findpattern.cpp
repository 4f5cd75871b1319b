#include "findpattern.h"

#include <algorithm>

namespace perrox {

bool FindPattern::hasWildcard() const
{
    return std::any_of(anyByte.cbegin(), anyByte.cend(), [](char c) { return c != 0; });
}

namespace PatternText {

QString invalidRegex(const QString &pcreMessage, qsizetype offset)
{
    return QStringLiteral("An invalid regular expression found in the 'Find' field: %1 at position %2.").arg(pcreMessage).arg(offset + 1);
}

QString emptyMatch()
{
    return QStringLiteral("The regular expression in the 'Find' field can match an empty sequence. Make sure that every match takes at least one byte.");
}

QString unknownGroup(const QString &reference)
{
    return QStringLiteral("The 'Replace' field refers to the group %1, which the regular expression in the 'Find' field does not have.").arg(reference);
}

QString lonelyDollar(qsizetype offset)
{
    return QStringLiteral(
        "An invalid '$' found in the 'Replace' field at position %1. Write '$' followed by a group number, '${name}' for a named group, or '$$' for a "
        "dollar sign.")
        .arg(offset + 1);
}

QString onlyWildcards()
{
    return QStringLiteral("The 'Find' field holds only wildcards. Give at least one byte that must match.");
}

QString findTooLarge()
{
    return QStringLiteral("The 'Find' field is too long to ignore case, match whole words or hold wildcards. Shorten it, or search it without these options.");
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
