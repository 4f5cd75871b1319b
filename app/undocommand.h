#pragma once

#include "engine/undorun.h"

#include <QString>

#include <optional>

namespace perrox {

// The texts of Edit > Undo Replace.

// The command's caption: "&Undo Replace (12 files)" for the run it would
// undo, "&Undo Replace" when there is none, "&Redo Replace (12 files)" when
// that run is an Undo (of a Replace, here).
QString UndoMenuCaption(const std::optional<JournalRun> &run);

// "Undo the Replace of 12 files made on 2024-05-01 14:03:09?" and what Undo
// does, asked before the run is undone.
QString UndoQuestion(const JournalRun &run);

// What the Undo of the run id did: why it did nothing; or the error that
// ended it, if any, then "N of M files were restored." and the files left
// alone, one message a line.
QString UndoSummary(const UndoOutcome &outcome, const QString &id);

} // namespace perrox
