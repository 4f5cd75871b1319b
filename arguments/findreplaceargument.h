#pragma once

#include "notation.h"

#include <QList>
#include <QString>

namespace perrox {

// One Find&Replace argument as the user typed it: each side's notation and text.
struct FindReplaceArgument
{
    Notation findNotation = Notation::Characters;
    QString findText;
    Notation replaceNotation = Notation::Characters;
    QString replaceText;

    friend bool operator==(const FindReplaceArgument &, const FindReplaceArgument &) = default;
};

using FindReplaceArguments = QList<FindReplaceArgument>;

} // namespace perrox
