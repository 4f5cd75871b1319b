#pragma once

#include "commit/runjournal.h"

#include <QStringList>

#include <optional>
#include <vector>

namespace perrox {

struct UndoOutcome
{
    enum class End
    {
        Completed, // every file looked at; leftAlone names those not restored
        NothingToUndo, // no run left to undo
        UnknownRun, // no run with the ID given
        AlreadyUndone, // the run given was undone before
        InUse, // another Perrox is writing or undoing the run
        Failed, // a file could not be restored for a reason that ends the undo (error)
    };
    End end = End::NothingToUndo;
    JournalRun run; // the run undone
    QString undoRunId; // the Undo's own run, empty when it changed nothing
    int restored = 0;
    // The absolute paths (as the journal holds them) of the files restored
    // or removed, in the order they were.
    std::vector<QByteArray> restoredPaths;
    QStringList leftAlone; // one message per file that was not restored
    QString error;

    bool complete() const { return end == End::Completed && leftAlone.isEmpty(); }
};

// The most recent run that changed files and is not undone yet.
std::optional<JournalRun> LastUndoableRun();

// Undoes the run id (the most recent one that can be undone when id is
// empty): each file is given back what it held before the run, only where it
// still holds what the run wrote; a file created by Replace As is deleted on
// the same condition, and a file an Undo deleted is created again where
// nothing stands. The Undo is a run of the journal itself (when settings
// keep one), so it can be undone in turn.
UndoOutcome UndoRun(const QString &id, const UndoSettings &settings);

// "1 file", "12 files".
QString FilesText(int n);

// The caption of the window's command for the run: "&Undo Replace (12 files)".
QString UndoCommandText(const JournalRun &run);

// Why an undo did nothing (NothingToUndo, UnknownRun with id, AlreadyUndone,
// InUse); empty for the other ends.
QString UndoRefusalText(const UndoOutcome &outcome, const QString &id);
// "3 of 4 files were restored."
QString UndoSummaryText(const UndoOutcome &outcome);
// One line of the run history: ID, local date and time, mode, files, bytes
// kept, and whether it was undone.
QString HistoryLine(const JournalRun &run);

} // namespace perrox
