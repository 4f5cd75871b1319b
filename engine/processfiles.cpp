#include "processfiles.h"

#include "engine/filerun.h"

#include "arguments/notation.h"
#include "arguments/pairchecks.h"
#include "base/blanks.h"
#include "base/messagesink.h"
#include "base/workers.h"
#include "commit/rewritejournal.h"
#include "commit/safereplace.h"
#include "commit/statefolder.h"
#include "commit/temporaryfile.h"
#include "engine/patternsearch.h"
#include "files/filedescriptor.h"
#include "files/filenames.h"
#include "files/filesystem.h"
#include "files/openedfile.h"

#include <QDir>
#include <QStringList>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <fcntl.h>
#include <functional>
#include <memory>
#include <random>
#include <semaphore>
#include <sys/resource.h>
#include <sys/stat.h>

namespace perrox {

namespace {

const QLatin1String kCrLf("\r\n");

} // namespace

QString AdjustRight(qint64 n, int fldWidth)
{
    return QString::number(n).rightJustified(fldWidth, QLatin1Char(' '));
}

QString GetDefaultTempFolder()
{
    const QString folder = QStringLiteral("/tmp");
    if (!FolderExists(folder))
        QDir().mkpath(folder);
    return folder;
}

QString GetTempFolder()
{
    const char *name = qEnvironmentVariableIsSet("TEMP") ? "TEMP" : "TMPDIR";
    const QString value = DecodeNativePath(qgetenv(name));
    if (value.size() > 2) {
        QString folder = TrimBlanks(value.section(QLatin1Char(';'), 0, 0));
        if (folder.endsWith(QLatin1Char('/')))
            folder.chop(1);
        if (FolderExists(folder))
            return folder;
    }
    return GetDefaultTempFolder();
}

QString FinishStoppedRuns()
{
    QStringList messages;
    if (const QString report = RecoverInterruptedRewrites(); !report.isEmpty())
        messages.append(report);
    // One word about a state folder that cannot be trusted is enough.
    if (const QString report = RecoverInterruptedRuns(); !report.isEmpty() && !messages.contains(report))
        messages.append(report);
    if (const QString report = RemoveDeadRunFolders(GetTempFolder()); !report.isEmpty())
        messages.append(report);
    return messages.join(kCrLf + kCrLf);
}

void RunHost::fileFailed(int row, const QString &message)
{
    Q_UNUSED(row);
    messages().warn(message);
}

namespace {

// What stands at path, into the row's slots of lookup; the size counts
// only when counted.
void LookUp(const QByteArray &path, bool counted, FolderCache &folders, RowLookup &lookup, size_t row)
{
    struct stat st;
    if (folders.stat(path, &st, false) != 0)
        return;
    if (counted && S_ISREG(st.st_mode))
        lookup.regular[row] = true;
    // The size and the identity are those of the file a link leads to.
    if (S_ISLNK(st.st_mode) && folders.stat(path, &st, true) != 0)
        return;
    const bool folder = S_ISDIR(st.st_mode);
    lookup.ids[row] = {st.st_dev, st.st_ino, folder ? 0 : qint64(st.st_size)};
}

} // namespace

RowLookup LookUpRows(RunHost &host, int threads)
{
    host.setStatusText(QStringLiteral("Calculating the number of bytes to process."));
    RowLookup lookup;
    {
        BusyPointer busy(host.messages());
        const int rows = host.rowCount();
        std::vector<QByteArray> paths;
        std::vector<bool> included;
        paths.reserve(size_t(rows));
        for (int row = 0; row < rows; ++row) {
            paths.push_back(NativePath(host.rowPath(row)));
            included.push_back(host.rowIncluded(row));
        }
        lookup.ids.assign(size_t(rows), {});
        lookup.regular.assign(size_t(rows), false);
        // Rows in runs of a block, taken in turn by every thread with a
        // folder cache of its own; the calling thread lets events run after
        // each of its blocks, and waits at most one block for the others.
        constexpr size_t kBlock = 64;
        std::atomic<size_t> next {0};
        const auto work = [&](const std::function<void()> &meanwhile) {
            FolderCache folders;
            for (size_t from; (from = next.fetch_add(kBlock)) < paths.size();) {
                for (size_t row = from; row < std::min(from + kBlock, paths.size()); ++row)
                    LookUp(paths[row], included[row], folders, lookup, row);
                meanwhile();
            }
        };
        std::vector<Thread> helpers;
        for (int n = 1; n < threads && size_t(n) * kBlock < paths.size(); ++n)
            helpers.push_back(StartOrRun([&work] { work([] {}); }));
        work([&host] { host.pumpEvents(); });
        helpers.clear();
        for (int row = 0; row < rows; ++row)
            if (included[size_t(row)])
                lookup.total += double(lookup.ids[size_t(row)].size);
    }
    host.setStatusText(host.fileListStatusText());
    return lookup;
}

namespace {

// One side of an argument as bytes, after its checks; nothing once a check
// has shown its message. An empty replace side deletes what is found; a
// wildcard stands only in a find.
std::optional<BytesResult> SideBytes(const QString &text, Notation notation, bool findSide, MessageSink &messages)
{
    if (!ValidateArgument(text, notation, messages))
        return std::nullopt;
    if (!findSide && text.isEmpty())
        return BytesResult();
    const BytesResult converted = ToByteSequence(text, notation);
    if (!converted.ok()) {
        messages.warn(converted.error);
        return std::nullopt;
    }
    if (!findSide && converted.hasWildcard()) {
        messages.warn(ArgumentMessage(text, notation));
        return std::nullopt;
    }
    if (converted.bytes.isEmpty()) {
        messages.warn(QLatin1String("Cannot find a valid value in the following ")
            + (findSide ? QLatin1String("'Find what' field: ") : QLatin1String("'Replace with' field.")) + kCrLf + text + kCrLf + kCrLf
            + QLatin1String("Correct the ") + (findSide ? QLatin1String("find") : QLatin1String("replace")) + QLatin1String(" argument and try again."));
        return std::nullopt;
    }
    return converted;
}

// With a regular expression, a replacement typed as text is a template of
// its groups; typed as byte values it is those bytes.
Replacement ReplacementOf(const FindReplaceArgument &a, const BytesResult &bytes)
{
    const bool text = a.replaceNotation == Notation::Characters || a.replaceNotation == Notation::Utf8;
    return {Info(a.findNotation).pattern && text ? Replacement::Kind::Template : Replacement::Kind::Bytes, bytes.bytes};
}

} // namespace

std::optional<ArgumentTables> BuildArgumentTables(const FindReplaceArguments &arguments, MessageSink &messages)
{
    if (arguments.isEmpty()) {
        messages.warn(QLatin1String("Cannot find any Find&Replace arguments.") + kCrLf + kCrLf + QLatin1String("Enter Find&Replace arguments and try again."));
        return std::nullopt;
    }
    std::vector<FindPattern> finds;
    std::vector<Replacement> replaces;
    for (const FindReplaceArgument &a : arguments) {
        const std::optional<BytesResult> find = SideBytes(a.findText, a.findNotation, true, messages);
        if (!find)
            return std::nullopt;
        const std::optional<BytesResult> replace = SideBytes(a.replaceText, a.replaceNotation, false, messages);
        if (!replace)
            return std::nullopt;
        finds.push_back(FindPatternOf(a, *find));
        replaces.push_back(ReplacementOf(a, *replace));
    }
    PatternTables built = BuildPatternTables(finds, replaces);
    if (!built.refusals.empty()) {
        messages.warn(built.refusals.front().message);
        return std::nullopt;
    }
    return std::move(built.tables);
}

std::vector<PairWarning> CheckTables(const ArgumentTables &tables)
{
    if (!tables.patterns)
        return CheckPairs(tables.finds.finds(), tables.replaces);
    // The literal finds take part as always; a find that ignores case (no
    // more) shadows a later literal that starts with what it finds.
    const std::vector<FindPattern> &all = tables.patterns->finds();
    std::vector<QByteArray> literals(all.size());
    for (size_t i = 0; i < all.size(); ++i)
        if (all[i].isLiteral())
            literals[i] = all[i].bytes;
    std::vector<PairWarning> warnings = CheckPairs(literals, tables.replaces);
    AddFoldedShadows(all, warnings);
    return warnings;
}

RunResult ProcessArguments(RunMode mode, const FindReplaceArguments &arguments, ReplaceAsSettings &settings, EngineState &state, RunHost &host,
    const UndoSettings &undo, bool keepTimes)
{
    if (host.rowCount() == 0)
        return {};
    const std::optional<ArgumentTables> tables = BuildArgumentTables(arguments, host.messages());
    if (!tables) {
        RunResult result;
        result.end = RunResult::End::ArgumentError;
        return result;
    }
    return ProcessFiles(mode, *tables, settings, state, host, undo, keepTimes);
}

RunResult ProcessFiles(
    RunMode mode, const ArgumentTables &pairs, ReplaceAsSettings &settings, EngineState &state, RunHost &host, const UndoSettings &undo, bool keepTimes)
{
    return RunFiles(mode, pairs, settings, state, host, undo, keepTimes);
}

} // namespace perrox
