#include "runreport.h"

#include "arguments/pairchecks.h"
#include "commit/safereplace.h"
#include "files/filenames.h"
#include "files/filesystem.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLocale>

#include <algorithm>
#include <cerrno>

namespace perrox {

namespace {

QByteArray CsvField(const QByteArray &field)
{
    const bool quote = field.contains(',') || field.contains('"') || field.contains('\n') || field.contains('\r');
    if (!quote)
        return field;
    QByteArray quoted = field;
    quoted.replace('"', "\"\"");
    return '"' + quoted + '"';
}

QJsonArray CountsArray(const std::vector<qint64> &counts)
{
    QJsonArray array;
    for (qint64 n : counts)
        array.append(double(n));
    return array;
}

// One row per path, each with a count for every pair: a path beyond the
// rows given was not processed.
std::vector<RowResult> RowsOf(const RunReport &report)
{
    const size_t paths = size_t(report.paths.size());
    std::vector<RowResult> rows(report.rows.begin(), report.rows.begin() + qsizetype(std::min(paths, report.rows.size())));
    rows.resize(paths);
    for (RowResult &row : rows)
        row.perPair.resize(report.finds.size(), 0);
    return rows;
}

} // namespace

QString NotSelectedReason()
{
    return QStringLiteral("the file was not selected.");
}

RunTotals TotalsOf(const std::vector<RowResult> &rows)
{
    RunTotals totals;
    for (const RowResult &row : rows) {
        // A run over the selected rows speaks of those alone.
        if (row.state == RowState::NotProcessed && row.error == NotSelectedReason())
            continue;
        ++totals.files;
        totals.occurrences += row.count;
        if (row.count > 0)
            ++totals.filesWithOccurrences;
        if (row.state == RowState::Failed)
            ++totals.failed;
        else if (row.state == RowState::NotProcessed)
            ++totals.notProcessed;
    }
    return totals;
}

QString RowStateWord(RowState state)
{
    switch (state) {
    case RowState::Counted:
        return QStringLiteral("counted");
    case RowState::Replaced:
        return QStringLiteral("replaced");
    case RowState::Unchanged:
        return QStringLiteral("unchanged");
    case RowState::Failed:
        return QStringLiteral("failed");
    case RowState::NotProcessed:
        break;
    }
    return QStringLiteral("not processed");
}

QString RunEndWord(RunResult::End end)
{
    using End = RunResult::End;
    switch (end) {
    case End::Cancelled:
    case End::TargetCancelled:
        return QStringLiteral("cancelled");
    case End::StoppedAtNo:
        return QStringLiteral("stopped at No");
    case End::CopyFailed:
        return QStringLiteral("commit failed");
    case End::SetupFailed:
    case End::TargetsCollide:
    case End::ArgumentError:
        return QStringLiteral("setup failed");
    case End::NothingToDo:
    case End::Completed:
        break;
    }
    return QStringLiteral("completed");
}

QString RunModeWord(RunMode mode)
{
    switch (mode) {
    case RunMode::Replace:
        return QStringLiteral("replace");
    case RunMode::ReplaceAs:
        return QStringLiteral("replace-as");
    case RunMode::Count:
        break;
    }
    return QStringLiteral("count");
}

QString RunTotalsText(const RunTotals &totals)
{
    const QLocale c = QLocale::c();
    QString text = (totals.occurrences == 1 ? QStringLiteral("1 occurrence") : c.toString(totals.occurrences) + QLatin1String(" occurrences"))
        + QLatin1String(" in ") + c.toString(totals.filesWithOccurrences) + QLatin1String(" of ") + c.toString(totals.files)
        + (totals.files == 1 ? QLatin1String(" file") : QLatin1String(" files"));
    if (totals.failed > 0)
        text += QLatin1String(", ") + c.toString(totals.failed) + QLatin1String(" failed");
    if (totals.notProcessed > 0)
        text += QLatin1String(", ") + c.toString(totals.notProcessed) + QLatin1String(" not processed");
    return text;
}

QString RowResultText(const RowResult &row)
{
    const QLocale c = QLocale::c();
    QString occurrences = row.count == 0 ? QStringLiteral("no occurrence")
        : row.count == 1                 ? QStringLiteral("1 occurrence")
                                         : c.toString(row.count) + QLatin1String(" occurrences");
    if (row.count > 0 && row.perPair.size() > 1) {
        QStringList pairs;
        for (size_t p = 0; p < row.perPair.size(); ++p)
            if (row.perPair[p] > 0)
                pairs << QStringLiteral("pair %1: %2").arg(c.toString(qulonglong(p + 1)), c.toString(row.perPair[p]));
        occurrences += QLatin1String(" (") + pairs.join(QLatin1String(", ")) + QLatin1Char(')');
    }
    switch (row.state) {
    case RowState::Failed:
        return row.error.isEmpty() ? QStringLiteral("Failed.") : QLatin1String("Failed: ") + row.error;
    case RowState::Counted:
        return QLatin1String("Counted: ") + occurrences;
    case RowState::Replaced:
        return QLatin1String("Replaced: ") + occurrences;
    case RowState::Unchanged:
        return QLatin1String("Unchanged: ") + occurrences;
    case RowState::NotProcessed:
        break;
    }
    if (row.sameAs >= 0)
        return QStringLiteral("Not processed: the same file as row %1.").arg(row.sameAs + 1);
    if (!row.error.isEmpty())
        return QLatin1String("Not processed: ") + row.error;
    return QStringLiteral("Not processed: the run ended before this file was done.");
}

QByteArray ReportCsv(const RunReport &report)
{
    QByteArray csv = "path,count,result";
    for (size_t p = 1; p <= report.finds.size(); ++p)
        csv += ",pair" + QByteArray::number(qulonglong(p));
    csv += "\r\n";
    const std::vector<RowResult> rows = RowsOf(report);
    for (qsizetype i = 0; i < report.paths.size(); ++i) {
        const RowResult &row = rows[size_t(i)];
        csv += CsvField(NativePath(report.paths[i])) + ',' + QByteArray::number(row.count) + ',' + CsvField(RowStateWord(row.state).toUtf8());
        for (size_t p = 0; p < report.finds.size(); ++p)
            csv += ',' + QByteArray::number(row.perPair[p]);
        csv += "\r\n";
    }
    return csv;
}

QByteArray ReportJson(const RunReport &report)
{
    const std::vector<PairWarning> warnings = report.tables ? CheckTables(*report.tables) : CheckPairs(report.finds, report.replaces);
    std::vector<qint64> pairTotals(report.finds.size(), 0);
    const std::vector<RowResult> rows = RowsOf(report);
    QJsonArray files;
    for (qsizetype i = 0; i < report.paths.size(); ++i) {
        const RowResult &row = rows[size_t(i)];
        for (size_t p = 0; p < row.perPair.size(); ++p)
            pairTotals[p] += row.perPair[p];
        files.append(QJsonObject {
            {QStringLiteral("path"), report.paths[i]},
            {QStringLiteral("count"), double(row.count)},
            {QStringLiteral("per_pair"), CountsArray(row.perPair)},
            {QStringLiteral("result"), RowStateWord(row.state)},
            {QStringLiteral("error"), row.error.isEmpty() ? QJsonValue() : QJsonValue(row.error)},
            {QStringLiteral("same_as"), row.sameAs < 0 ? QJsonValue() : QJsonValue(row.sameAs + 1)},
        });
    }
    QJsonArray pairs;
    for (size_t p = 0; p < report.finds.size(); ++p) {
        const int shadow = warnings[p].shadowedBy;
        pairs.append(QJsonObject {
            {QStringLiteral("find"), QString::fromLatin1(report.finds[p].toHex())},
            {QStringLiteral("replace"), QString::fromLatin1(report.replaces[p].toHex())},
            {QStringLiteral("count"), double(pairTotals[p])},
            {QStringLiteral("never_matches_because_of"), shadow < 0 ? QJsonValue() : QJsonValue(shadow + 1)},
        });
    }
    const RunTotals totals = TotalsOf(rows);
    const QJsonObject object {
        {QStringLiteral("mode"), RunModeWord(report.mode)},
        {QStringLiteral("pairs"), pairs},
        {QStringLiteral("files"), files},
        {QStringLiteral("totals"),
            QJsonObject {
                {QStringLiteral("files"), totals.files},
                {QStringLiteral("files_with_occurrences"), totals.filesWithOccurrences},
                {QStringLiteral("occurrences"), double(totals.occurrences)},
                {QStringLiteral("failed"), totals.failed},
            }},
        {QStringLiteral("end"), RunEndWord(report.end)},
    };
    return QJsonDocument(object).toJson(QJsonDocument::Compact) + '\n';
}

QString WriteReportFile(const QString &path, const QByteArray &content)
{
    if (IsFolder(path))
        return FileErrorMessage(EISDIR, path);
    return SaveContents(path, content);
}

} // namespace perrox
