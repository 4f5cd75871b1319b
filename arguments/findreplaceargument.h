#pragma once

#include <QList>
#include <QString>

namespace perrox {

// One Find&Replace argument as the user typed it: each side's notation
// (Characters 0, Decimal 1, Hexadecimal 2) and text.
struct FindReplaceArgument
{
    qint16 findNotation = 0;
    QString findText;
    qint16 replaceNotation = 0;
    QString replaceText;

    friend bool operator==(const FindReplaceArgument &, const FindReplaceArgument &) = default;
};

using FindReplaceArguments = QList<FindReplaceArgument>;

} // namespace perrox
