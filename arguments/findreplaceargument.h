#pragma once

#include "notation.h"

#include <QList>
#include <QString>

namespace perrox {

// One Find&Replace argument as the user typed it: each side's notation and
// text, and how the find matches.
struct FindReplaceArgument
{
    Notation findNotation = Notation::Characters;
    QString findText;
    Notation replaceNotation = Notation::Characters;
    QString replaceText;
    // Letters match in either case; only a find typed as text folds case.
    bool ignoreCase = false;
    // A match counts only between bytes that are no word bytes.
    bool wholeWord = false;

    friend bool operator==(const FindReplaceArgument &, const FindReplaceArgument &) = default;
};

using FindReplaceArguments = QList<FindReplaceArgument>;

} // namespace perrox
