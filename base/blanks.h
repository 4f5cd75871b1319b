#pragma once

#include <QString>

namespace perrox {

// The text without the blanks (spaces) at its start and end; tabs and other
// white space stay. Folder names and mask lists are trimmed this way.
inline QString TrimBlanks(const QString &text)
{
    qsizetype first = 0;
    qsizetype last = text.size();
    while (first < last && text.at(first) == QLatin1Char(' '))
        ++first;
    while (last > first && text.at(last - 1) == QLatin1Char(' '))
        --last;
    return text.mid(first, last - first);
}

} // namespace perrox
