#include "arguments/argumentfile.h"
#include "arguments/pairchecks.h"
#include "base/version.h"
#include "batchinput.h"
#include "batchoptions.h"
#include "batchplan.h"
#include "engine/processfiles.h"
#include "engine/runreport.h"
#include "engine/undorun.h"
#include "files/filesystem.h"
#include "terminalhost.h"

#include <QCoreApplication>

#include <cstdio>

using namespace perrox;

namespace {

enum ExitCode
{
    Success = 0,
    FileFailed = 1,
    UsageError = 2,
    StoppedAtNo = 3,
    NothingFound = 4,
    Interrupted = 130
};

int usageError(const QString &text)
{
    std::fprintf(stderr, "perrox-batch: %s\nTry 'perrox-batch --help' for more information.\n", NativePath(text).constData());
    return UsageError;
}

int history()
{
    for (const JournalRun &run : ListRuns())
        if (!run.running)
            std::printf("%s\n", NativePath(HistoryLine(run)).constData());
    return Success;
}

// --undo, --undo-run ID: every file left alone is reported on stderr.
int undo(const BatchOptions &options, MessageSink &sink)
{
    const UndoOutcome outcome = UndoRun(options.undoRun, options.undo);
    if (const QString refusal = UndoRefusalText(outcome, options.undoRun); !refusal.isEmpty()) {
        sink.warn(refusal);
        return outcome.end == UndoOutcome::End::InUse ? FileFailed : UsageError;
    }
    for (const QString &message : outcome.leftAlone)
        sink.warn(message);
    if (outcome.end == UndoOutcome::End::Failed)
        sink.warn(outcome.error);
    std::printf("%s\n", NativePath(UndoSummaryText(outcome)).constData());
    return outcome.complete() ? Success : FileFailed;
}

// Every pair that can never match, or whose replacement holds find bytes:
// a line per sentence on stderr, the run goes on.
void warnAboutPairs(const ArgumentTables &tables, MessageSink &sink)
{
    const std::vector<PairWarning> warnings = CheckTables(tables);
    for (int i = 0; i < int(warnings.size()); ++i) {
        if (!warnings[size_t(i)].any())
            continue;
        QStringList lines = PairWarningText(i, warnings[size_t(i)]).split(QLatin1Char('\n'));
        for (QString &line : lines)
            line.prepend(QLatin1String("perrox-batch: warning: "));
        sink.warn(lines.join(QLatin1Char('\n')));
    }
}

// --format csv or json: the report of a run that got as far as its files.
void printReport(BatchOptions::Format format, RunMode mode, const ArgumentTables &tables, const QStringList &files, const RunResult &result)
{
    const RunReport report {mode, tables.findBytes(), tables.replaces, files, result.rows, result.end, std::make_shared<const ArgumentTables>(tables)};
    const QByteArray text = format == BatchOptions::Format::Csv ? ReportCsv(report) : ReportJson(report);
    std::fwrite(text.constData(), 1, size_t(text.size()), stdout);
    std::fflush(stdout);
}

// A word on standard error, in every format, about each file that was
// listed twice and processed at its first place only.
void noteFilesListedTwice(const QStringList &files, const RunResult &result, MessageSink &sink)
{
    for (size_t row = 0; row < result.rows.size(); ++row)
        if (const int first = result.rows[row].sameAs; first >= 0)
            sink.warn(QStringLiteral("perrox-batch: %1: not processed: the same file as row %2 (%3)")
                          .arg(files.at(qsizetype(row)))
                          .arg(first + 1)
                          .arg(files.at(first)));
}

// The exit status of a run that got as far as its files.
int exitStatus(const RunResult &result, bool failNone)
{
    if (TerminalHost::interrupted)
        return Interrupted;
    switch (result.end) {
    case RunResult::End::ArgumentError:
    case RunResult::End::TargetsCollide:
        return UsageError;
    case RunResult::End::StoppedAtNo:
        return StoppedAtNo;
    case RunResult::End::Cancelled:
        return Interrupted;
    case RunResult::End::SetupFailed:
        return FileFailed;
    default:
        break;
    }
    if (result.failedFiles > 0)
        return FileFailed;
    return failNone && TotalsOf(result.rows).occurrences == 0 ? NothingFound : Success;
}

// --replace or --replace-as with --apply-plan: a plan that does not fit its
// files is refused before anything is written.
int applyPlan(const BatchOptions &options, TerminalSink &sink)
{
    const std::optional<LoadedPlan> plan = LoadPlan(options.applyPlan, options.maxMatchSize, sink);
    if (!plan)
        return UsageError;
    if (TerminalHost::interrupted)
        return Interrupted;
    PlanHost host(*plan, options.progress, options.format == BatchOptions::Format::Text);
    ReplaceAsSettings settings = options.settings;
    EngineState state;
    state.maxMatchSize = options.maxMatchSize;
    state.threads = options.threads;
    const RunResult result = ProcessFiles(options.mode, plan->tables, settings, state, host, options.undo, options.keepTimes);
    if (options.format != BatchOptions::Format::Text)
        printReport(options.format, options.mode, plan->tables, plan->paths, result);
    return exitStatus(result, options.failNone);
}

} // namespace

int main(int argc, char *argv[])
{
    // A command line needs no GLib main loop, whose set-up aborts the
    // program where few file descriptors are left.
    qputenv("QT_NO_GLIB", "1");
    QCoreApplication app(argc, argv);
    const BatchParse parse = ParseBatchArguments(DecodeArguments(argc, argv));
    if (!parse.ok())
        return usageError(parse.error);
    const BatchOptions &options = parse.options;
    if (options.help) {
        std::fputs(BatchUsage().toLocal8Bit().constData(), stdout);
        return Success;
    }
    if (options.version) {
        std::printf("perrox-batch (Perrox) %s\n%s\n", PERROX_VERSION, PERROX_DESCRIPTION);
        return Success;
    }
    if (options.mode == RunMode::ReplaceAs && !FolderExists(options.settings.outpath))
        return usageError(QStringLiteral("'%1' is not a folder").arg(options.settings.outpath));

    TerminalHost::installInterruptHandler();
    TerminalSink sink;
    // What an earlier run left unfinished is finished first, whatever this
    // run is about.
    if (const QString report = FinishStoppedRuns(); !report.isEmpty())
        sink.warn(report);
    if (options.journalCommand == BatchOptions::JournalCommand::History)
        return history();
    if (options.journalCommand == BatchOptions::JournalCommand::Undo)
        return undo(options, sink);
    if (!options.applyPlan.isEmpty())
        return applyPlan(options, sink);
    const std::optional<FindReplaceArguments> arguments = CollectBatchArguments(options, sink);
    if (!arguments)
        return UsageError;
    // The pairs pass the run's own check before anything else, so a bad pair
    // is reported even when no file is selected, and no argument file is ever
    // written with pairs that cannot be used. No pair at all is left to the
    // save, which has its own message for it.
    std::optional<ArgumentTables> tables;
    if (options.saveArguments.isEmpty() || !arguments->isEmpty()) {
        tables = BuildArgumentTables(*arguments, sink);
        if (!tables)
            return UsageError;
        if (!options.quiet)
            warnAboutPairs(*tables, sink);
    }
    if (!options.saveArguments.isEmpty()) {
        if (!SaveArgumentFile(options.saveArguments, *arguments, ArgumentTags::defaults(), sink))
            return arguments->isEmpty() ? UsageError : FileFailed;
        if (options.paths.isEmpty())
            return Success;
    }

    const QStringList files = ExpandPaths(options.paths, options.masks, [] { return TerminalHost::interrupted != 0; });
    if (TerminalHost::interrupted)
        return Interrupted;
    TerminalHost host(files, options.progress, options.format == BatchOptions::Format::Text);
    ReplaceAsSettings settings = options.settings;
    EngineState state;
    state.maxMatchSize = options.maxMatchSize;
    state.threads = options.threads;
    const RunResult result = tables ? ProcessFiles(options.mode, *tables, settings, state, host, options.undo, options.keepTimes)
                                    : ProcessArguments(options.mode, *arguments, settings, state, host, options.undo, options.keepTimes);
    const bool ran = result.end != RunResult::End::ArgumentError && result.end != RunResult::End::TargetsCollide;
    noteFilesListedTwice(files, result, sink);
    if (options.format != BatchOptions::Format::Text && ran && tables)
        printReport(options.format, options.mode, *tables, files, result);
    const int status = exitStatus(result, options.failNone);
    if (!options.plan.isEmpty() && tables && result.end == RunResult::End::Completed && !TerminalHost::interrupted
        && !WritePlan(options.plan, *arguments, *tables, files, result, options.maxMatchSize, sink))
        return status == Success || status == NothingFound ? FileFailed : status;
    return status;
}
