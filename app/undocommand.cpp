#include "app/undocommand.h"

using namespace Qt::StringLiterals;

namespace perrox {

QString UndoMenuCaption(const std::optional<JournalRun> &run)
{
    return run ? UndoCommandText(*run) : u"&Undo Replace"_s;
}

QString UndoQuestion(const JournalRun &run)
{
    return u"Undo the %1 of %2 made on %3?\r\n\r\nEach file gets back what it held before, if nothing changed it since."_s.arg(
        JournalModeName(run.mode), FilesText(run.changedFiles()), run.time.toLocalTime().toString(u"yyyy-MM-dd HH:mm:ss"_s));
}

QString UndoSummary(const UndoOutcome &outcome, const QString &id)
{
    if (const QString refusal = UndoRefusalText(outcome, id); !refusal.isEmpty())
        return refusal;
    QString text = UndoSummaryText(outcome);
    if (outcome.end == UndoOutcome::End::Failed)
        text = outcome.error + u"\r\n\r\n"_s + text;
    if (!outcome.leftAlone.isEmpty())
        text += u"\r\n\r\nThese files were left as they are:\r\n"_s + outcome.leftAlone.join(u"\r\n"_s);
    return text;
}

} // namespace perrox
