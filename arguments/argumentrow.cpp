#include "argumentrow.h"

#include "notation.h"

namespace perrox {

ArgumentRow RowFromArgument(const FindReplaceArgument &argument)
{
    return {Info(argument.findNotation).code, argument.findText, Info(argument.replaceNotation).code, argument.replaceText};
}

FindReplaceArgument ArgumentFromRow(const ArgumentRow &row)
{
    return {NotationFromCode(row.findType).value_or(Notation::Characters), row.findText, NotationFromCode(row.replaceType).value_or(Notation::Characters),
        row.replaceText};
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
