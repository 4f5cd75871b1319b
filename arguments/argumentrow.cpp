#include "argumentrow.h"

#include "notation.h"

namespace perrox {

ArgumentRow RowFromArgument(const FindReplaceArgument &argument)
{
    return {TypeCode(argument.findNotation), argument.findText, TypeCode(argument.replaceNotation), argument.replaceText};
}

FindReplaceArgument ArgumentFromRow(const ArgumentRow &row)
{
    return {NotationFromTypeCode(row.findType).value_or(0), row.findText, NotationFromTypeCode(row.replaceType).value_or(0), row.replaceText};
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
