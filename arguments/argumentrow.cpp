#include "argumentrow.h"

#include "notation.h"

#include <QStringList>

namespace perrox {

QString FindTypeText(Notation notation, bool ignoreCase, bool wholeWord)
{
    return Info(notation).code + (ignoreCase ? QLatin1String(" i") : QLatin1String()) + (wholeWord ? QLatin1String(" w") : QLatin1String());
}

ArgumentRow RowFromArgument(const FindReplaceArgument &argument)
{
    return {FindTypeText(argument.findNotation, argument.ignoreCase, argument.wholeWord), argument.findText, Info(argument.replaceNotation).code,
        argument.replaceText};
}

FindReplaceArgument ArgumentFromRow(const ArgumentRow &row)
{
    const QStringList words = row.findType.split(QLatin1Char(' '));
    const Notation replaceNotation = NotationFromCode(row.replaceType).value_or(Notation::Characters);
    return {NotationFromCode(words.value(0)).value_or(Notation::Characters), row.findText,
        TakesReplaceSide(replaceNotation) ? replaceNotation : Notation::Characters, row.replaceText, words.contains(QLatin1String("i")),
        words.contains(QLatin1String("w"))};
}

FindReplaceArguments CollectArguments(const FindReplaceArgument &pending, const QList<ArgumentRow> &rows)
{
    FindReplaceArguments arguments;
    arguments.reserve(rows.size() + 1);
    if (!pending.findText.isEmpty())
        arguments.append(pending);
    for (const ArgumentRow &row : rows)
        arguments.append(ArgumentFromRow(row));
    return arguments;
}

} // namespace perrox
