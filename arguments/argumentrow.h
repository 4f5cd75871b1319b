#pragma once

#include "findreplaceargument.h"

#include <QList>
#include <QString>

#include <optional>

namespace perrox {

// One row of the argument list as it shows: the type code and text of each
// side, texts exactly as typed.
struct ArgumentRow
{
    // A type code of kNotations (anything else counts as Characters), then
    // " i" when the find ignores case and " w" when it matches whole words.
    QString findType;
    QString findText;
    QString replaceType;
    QString replaceText;

    friend bool operator==(const ArgumentRow &, const ArgumentRow &) = default;
};

// The find type a row shows: the notation's code and the matching flags.
QString FindTypeText(Notation notation, bool ignoreCase, bool wholeWord);
// The row the list shows for an argument.
ArgumentRow RowFromArgument(const FindReplaceArgument &argument);
// The argument a row stands for; an unknown type code is Characters.
FindReplaceArgument ArgumentFromRow(const ArgumentRow &row);

// Every argument of a command or a saved file, in order: the pending argument
// of the edit fields first when its find text is not empty, then the rows.
FindReplaceArguments CollectArguments(const FindReplaceArgument &pending, const QList<ArgumentRow> &rows);

} // namespace perrox
