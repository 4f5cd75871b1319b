#pragma once

#include "processfiles.h"

#include <QByteArray>
#include <QString>
#include <QStringList>

#include <vector>

namespace perrox {

// A run's results as a report: what ran, on which files, and what became of
// each. rows holds one result per path, in list order.
struct RunReport
{
    RunMode mode = RunMode::Count;
    std::vector<QByteArray> finds;
    std::vector<QByteArray> replaces;
    QStringList paths;
    std::vector<RowResult> rows;
    RunResult::End end = RunResult::End::Completed;
    // The pairs as the run searched them, for the warnings; without them the
    // finds count as literal bytes.
    std::shared_ptr<const ArgumentTables> tables = {};
};

struct RunTotals
{
    int files = 0;
    int filesWithOccurrences = 0;
    qint64 occurrences = 0;
    int failed = 0;
    int notProcessed = 0;
};

// Rows left out as not selected (see NotSelectedReason) count for nothing.
RunTotals TotalsOf(const std::vector<RowResult> &rows);
// The error of a row a run over the selected rows left out.
QString NotSelectedReason();

// "counted", "replaced", "unchanged", "failed" or "not processed".
QString RowStateWord(RowState state);
// "completed", "cancelled", "stopped at No", "commit failed", "setup failed".
QString RunEndWord(RunResult::End end);
// "count", "replace" or "replace-as".
QString RunModeWord(RunMode mode);

// "1234 occurrences in 5 of 12 files", then the failed and unprocessed files
// where there are any.
QString RunTotalsText(const RunTotals &totals);
// What the run did with one file, as a sentence: "Failed: " and the message,
// "Not processed: ...", or the state and its occurrences, with the count of
// each pair that found any where there is more than one pair ("Replaced: 12
// occurrences (pair 1: 10, pair 3: 2)").
QString RowResultText(const RowResult &row);

// A header "path,count,result,pair1,pair2,..." and a row per file, quoted as
// RFC 4180 says, lines ended by CR LF; paths are the file names' own bytes.
QByteArray ReportCsv(const RunReport &report);
// One JSON object (see the README's "Reports" section), ended by a newline.
QByteArray ReportJson(const RunReport &report);

// Writes content to path as a save does: into a temporary file beside it that
// takes its place only once complete, so that a failure leaves nothing half
// written. The message of the failure ("reason - path"), empty on success.
QString WriteReportFile(const QString &path, const QByteArray &content);

} // namespace perrox
