#pragma once

#include "arguments/findreplaceargument.h"
#include "arguments/pairchecks.h"
#include "commit/runjournal.h"
#include "files/openedfile.h"
#include "replaceengine.h"
#include "targetplan.h"

#include <QString>

#include <memory>
#include <optional>
#include <sys/stat.h>
#include <vector>

namespace perrox {

class MessageSink;
struct ListedFile;

// The three processing commands. The numbers are the modes of the menu
// commands and buttons.
enum class RunMode : qint16
{
    Replace = 0, // the result replaces the source file
    ReplaceAs = 1, // the result goes to a new file named by OutputPath
    Count = 2, // only the counts are shown
};

// Where Replace As puts its results; set by the Save As dialog.
struct ReplaceAsSettings
{
    QString outpath; // target folder
    QString outprefix;
    QString outsuffix;
    qint16 outoverwrite = 0; // 1: overwrite existing targets without asking
    // Each result goes below outpath at its source's path relative to the
    // sources' common folder (CommonFolder), not straight into outpath.
    bool keepFolders = false;
};

// What a run needs from its front end: the file list, the status bar, the
// Save As dialog, the progress window (through the observer) and the messages.
class RunHost : public ReplaceObserver
{
public:
    virtual MessageSink &messages() = 0;

    virtual int rowCount() const = 0;
    virtual QString rowPath(int row) const = 0;
    // Whether the run processes the row; the others are left as they are
    // (not processed, their cells untouched) and add nothing to the total.
    virtual bool rowIncluded(int row) const
    {
        Q_UNUSED(row);
        return true;
    }
    // A row's file could not be read, or its result not put in place: the
    // message for it, which the run goes on after.
    // By default it shows the message and waits for OK.
    virtual void fileFailed(int row, const QString &message);
    // Writes the row's "Count" cell.
    virtual void setRowCount(int row, const QString &cell) = 0;

    virtual void setStatusText(const QString &text) = 0;
    // The file list's own status text ("12 files"), shown again after a pause.
    virtual QString fileListStatusText() const = 0;

    // Replace As: asks for the target (the Save As dialog). False when the user
    // cancelled; true with settings holding the choice.
    virtual bool chooseReplaceAsTarget(ReplaceAsSettings &settings) = 0;

    // Disables the main window and shows the progress window, initialised with
    // the run's total in bytes and captioned "Counting..." or "Replacing...".
    virtual void beginRun(const QString &caption, double total) = 0;
    // The progress window's two status lines for the current file.
    virtual void showFile(const QString &status1, const QString &status2) = 0;
    // Closes the progress window and enables the main window again.
    virtual void endRun() = 0;

    // The row's result is complete and about to take its target's place
    // (Replace and Replace As, files with occurrences). Whatever happens to
    // the file from here on is checked before the result is put in place.
    virtual void beforeCommit(int row) { Q_UNUSED(row); }
    // The results of these rows are on the disk, and none of them is in its
    // place yet; they are put in place next, in this order.
    virtual void resultsFlushed(const std::vector<int> &rows) { Q_UNUSED(rows); }
    // The occurrences to replace in the row's file, listed before (the
    // Matches window's checked ones, a plan's), or null: the file is then
    // searched. Listed occurrences are replaced only if the file is the one
    // listed and each is still a match of its pair (ApplyListedOccurrences).
    virtual const ListedFile *listedOccurrences(int row) const
    {
        Q_UNUSED(row);
        return nullptr;
    }
    // The run reaches the row (counted from 0), before its showFile().
    virtual void startRow(int row) { Q_UNUSED(row); }
    // The row's result is in place at path.
    virtual void resultPlaced(int row, const QString &path)
    {
        Q_UNUSED(row);
        Q_UNUSED(path);
    }
};

// What a run did with one row's file.
enum class RowState
{
    NotProcessed, // the run ended before it, or before its result was put in place
    Counted, // Count read it, with or without occurrences
    Replaced, // Replace or Replace As put its result in place
    Unchanged, // Replace or Replace As found no occurrence
    Failed, // it could not be read, or its result was not put in place
};

struct RowResult
{
    RowState state = RowState::NotProcessed;
    // Occurrences found, in total and by each pair in pair order; 0 for a
    // row that failed in the engine or was not processed.
    qint64 count = 0;
    std::vector<qint64> perPair;
    // Failed: the message shown for it.
    QString error;
    // NotProcessed: the earlier row (from 0) naming the same file, which the
    // run processed in its place; -1 for any other row.
    int sameAs = -1;
    // The file as the run left it (the result of Replace, the source of Count
    // and Replace As); all zero where it could not be read.
    FileStatus status;
};

struct RunResult
{
    enum class End
    {
        NothingToDo, // no rows
        ArgumentError, // no arguments, or one failed its check; nothing touched
        TargetCancelled, // the Save As dialog was cancelled, or No to the question before a run
        SetupFailed, // the run's temporary folder or the Replace As folder could not be made or opened; nothing touched
        TargetsCollide, // two Replace As results, or a result and a source, would have the same path; nothing touched
        Completed, // every row processed
        StoppedAtNo, // No to the overwrite question
        Cancelled, // the user cancelled in the progress window
        CopyFailed, // a result could not be put in place
    };
    End end = End::NothingToDo;
    // Rows whose file could not be opened, read or written, results that
    // were not put in place (the file changed meanwhile, a target that is no
    // regular file), plus a failed copy.
    int failedFiles = 0;
    // The run as the journal recorded it, for Undo; empty when it changed
    // nothing or kept no journal.
    QString journalRun;
    // One per row once the run got as far as its files, each with as many
    // pair counts as there are pairs; empty before.
    std::vector<RowResult> rows;
    // The pairs as bytes, in order, once they passed their checks (a
    // pattern as its text), and as the run searched them.
    std::vector<QByteArray> finds;
    std::vector<QByteArray> replaces;
    std::shared_ptr<const ArgumentTables> tables;
};

// n in decimal digits with blanks at its left up to fldWidth characters; a
// longer number is not cut.
QString AdjustRight(qint64 n, int fldWidth);

// The folder for temporary files, without a final "/": the first entry of
// TEMP (TMPDIR where TEMP is not set) when it names an existing folder, else
// GetDefaultTempFolder().
QString GetTempFolder();
// "/tmp", created when it is missing.
QString GetDefaultTempFolder();

// Sets right what runs that were stopped before their end (a kill, a
// crash) left behind, as both front ends do when they start: rewrites in
// place are finished (RecoverInterruptedRewrites), the journal's records of
// such runs are tidied (RecoverInterruptedRuns), and their folders in the
// temporary folder are removed (RemoveDeadRunFolders). Returns what is to be
// shown, empty when all went without a word.
QString FinishStoppedRuns();

// What stood at each row's path just before a run, looked up once.
struct RowLookup
{
    // Per row: the file it names, links followed.
    std::vector<FileId> ids;
    // Per included row: a regular file stood at the path itself (no link),
    // which is then opened at once as the file ids names.
    std::vector<bool> regular;
    // The sum of the lengths of the included rows' files (unreadable ones
    // and folders add nothing).
    double total = 0;
};

// Looks up every row's path, on up to threads threads, with the status text
// "Calculating the number of bytes to process." and the busy pointer
// meanwhile; the host is only asked on the calling thread.
RowLookup LookUpRows(RunHost &host, int threads);

// Checks every argument side and turns it into bytes, in order. The first side
// that fails shows its message and gives nothing; no file is touched.
std::optional<ArgumentTables> BuildArgumentTables(const FindReplaceArguments &arguments, MessageSink &messages);

// The warnings of the pairs (CheckPairs) as the tables search them: the
// literal finds take part, patterns do not.
std::vector<PairWarning> CheckTables(const ArgumentTables &tables);

// Runs Count, Replace or Replace As over every row of the host's file list.
// A row naming a file an earlier row names (the same path, a link to it, a
// hard link) is not processed: its result is NotProcessed with sameAs set.
// Replace As refuses, before anything is written, results that would have
// the same path or take the place of a listed file (TargetPlan), with a
// message naming both; with settings.keepFolders the results go below the
// target folder at their sources' relative paths, the folders made as
// needed and never reached through a link (TargetFolders). Count only reads. Replace and Replace As send each file with occurrences
// through the engine into a temporary file of its own, inside a folder of
// the run's own in the temporary folder (made at the run's first
// occurrence); the results of many files are flushed to the disk together
// and then put in place in row order, with the cells and messages in the
// order of the rows as if each had been put in place at once. A row whose file fails in
// the engine gets the count 0 and the run goes on; so does a row whose result
// is not put in place because the file was changed by another program or the
// Replace As target is no regular file (its count stays shown, with the
// message). A result that cannot be put in place for any other reason ends
// the run. state keeps the block size between runs; settings are the Replace
// As target, updated by the Save As dialog. With undo.keep, every file is
// kept in the journal before it is touched, so that the run can be undone;
// a file that cannot be kept is left as it is and ends the run. With
// keepTimes, every result takes the access and modification times its
// source had when it was opened (see CommitContext::keepTimes).
RunResult ProcessFiles(RunMode mode, const ArgumentTables &pairs, ReplaceAsSettings &settings, EngineState &state, RunHost &host,
    const UndoSettings &undo = UndoSettings {false}, bool keepTimes = false);

// The same from the pairs as typed: with no rows nothing is done (the pairs
// are not even checked); a pair that fails its check shows its message and
// ends with ArgumentError, before anything else; else they are turned into
// bytes once and ProcessFiles runs.
RunResult ProcessArguments(RunMode mode, const FindReplaceArguments &arguments, ReplaceAsSettings &settings, EngineState &state, RunHost &host,
    const UndoSettings &undo = UndoSettings {false}, bool keepTimes = false);

} // namespace perrox

Q_DECLARE_METATYPE(perrox::RowResult)
