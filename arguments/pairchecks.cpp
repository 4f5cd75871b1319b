#include "pairchecks.h"

#include "arguments/findindex.h"

#include <QStringList>

namespace perrox {

std::vector<PairWarning> CheckPairs(const std::vector<QByteArray> &finds, const std::vector<QByteArray> &replaces)
{
    std::vector<PairWarning> warnings(finds.size());
    const FindIndex index(finds);
    for (size_t i = 0; i < finds.size(); ++i) {
        PairWarning &w = warnings[i];
        if (!finds[i].isEmpty()) {
            const int first = index.firstPrefixOf(finds[i]);
            w.shadowedBy = first < int(i) ? first : -1;
        }
        if (i < replaces.size() && !replaces[i].isEmpty())
            w.replacementFinds = index.firstIn(replaces[i]);
    }
    return warnings;
}

QString PairWarningText(int pair, const PairWarning &warning)
{
    QStringList lines;
    if (warning.shadowedBy >= 0)
        lines << QStringLiteral("Pair %1 can never match: the find sequence of pair %2 is the same or its beginning, and is searched first.")
                     .arg(pair + 1)
                     .arg(warning.shadowedBy + 1);
    if (warning.replacementFinds >= 0) {
        lines << (warning.replacementFinds == pair
                ? QStringLiteral("The replace sequence of pair %1 contains its own find sequence: a second run would replace again.").arg(pair + 1)
                : QStringLiteral("The replace sequence of pair %1 contains the find sequence of pair %2: a second run would replace again.")
                      .arg(pair + 1)
                      .arg(warning.replacementFinds + 1));
    }
    return lines.join(QLatin1Char('\n'));
}

} // namespace perrox
