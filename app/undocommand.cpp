#include "app/undocommand.h"

using namespace Qt::StringLiterals;

namespace perrox {

QString UndoMenuCaption(const std::optional<JournalRun> &run)
{
    if (!run)
        return u"&Undo Replace"_s;
    // Undoing an Undo does the undone run again, undoing that takes it back
    // once more: the caption names the first run of the chain.
    JournalRun first = *run;
    bool redo = false;
    for (int depth = 0; first.mode == JournalMode::Undo && depth < 1000; ++depth) {
        JournalRun undone;
        if (!LoadRun(first.undoes, undone))
            return UndoCommandText(*run);
        first = std::move(undone);
        redo = !redo;
    }
    if (first.mode == JournalMode::Undo)
        return UndoCommandText(*run);
    return u"&%1 %2 (%3)"_s.arg(redo ? u"Redo"_s : u"Undo"_s, JournalModeName(first.mode), FilesText(run->changedFiles()));
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
