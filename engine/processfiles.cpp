#include "processfiles.h"

#include "base/blanks.h"
#include "app/filenames.h"
#include "base/messagesink.h"
#include "arguments/notation.h"
#include "files/filedescriptor.h"
#include "files/filesystem.h"
#include "files/openedfile.h"
#include "files/temporaryfile.h"
#include "files/safereplace.h"

#include <QDir>

#include <cerrno>
#include <chrono>
#include <fcntl.h>
#include <random>
#include <sys/stat.h>

namespace perrox {

namespace {

const QLatin1String kCrLf("\r\n");

// A regular file that reports a length of 0 yet gave bytes is made by the
// kernel (/proc, /sys): writing to it changes no file, so it is counted but
// never rewritten.
QString NoSizeMessage(const QString &path)
{
    return QLatin1String("The file ") + path
        + QLatin1String(" does not report its size, as the files of /proc and /sys do; it was counted but left as it is.");
}

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

double GetTotalBytes(RunHost &host)
{
    host.setStatusText(QStringLiteral("Calculating the number of bytes to process."));
    double total = 0;
    {
        BusyPointer busy(host.messages());
        const int rows = host.rowCount();
        for (int row = 0; row < rows; ++row) {
            struct stat st;
            if (::stat(NativePath(host.rowPath(row)).constData(), &st) == 0 && !S_ISDIR(st.st_mode))
                total += double(st.st_size);
            host.pumpEvents();
        }
    }
    host.setStatusText(host.fileListStatusText());
    return total;
}

std::optional<ArgumentTables> BuildArgumentTables(const FindReplaceArguments &arguments, MessageSink &messages)
{
    if (arguments.isEmpty()) {
        messages.warn(QLatin1String("Cannot find any Find&Replace arguments.") + kCrLf + kCrLf + QLatin1String("Enter Find&Replace arguments and try again."));
        return std::nullopt;
    }
    std::vector<QByteArray> finds;
    std::vector<QByteArray> replaces;
    for (const FindReplaceArgument &a : arguments) {
        if (!ValidateArgument(a.findText, a.findNotation, messages))
            return std::nullopt;
        const BytesResult find = ToByteSequence(a.findText, a.findNotation);
        if (!find.ok()) {
            messages.warn(find.error);
            return std::nullopt;
        }
        if (find.bytes.isEmpty()) {
            messages.warn(QLatin1String("Cannot find a valid value in the following 'Find what' field: ") + kCrLf + a.findText + kCrLf + kCrLf
                + QLatin1String("Correct the find argument and try again."));
            return std::nullopt;
        }
        if (!ValidateArgument(a.replaceText, a.replaceNotation, messages))
            return std::nullopt;
        QByteArray replace;
        if (!a.replaceText.isEmpty()) {
            const BytesResult converted = ToByteSequence(a.replaceText, a.replaceNotation);
            if (!converted.ok()) {
                messages.warn(converted.error);
                return std::nullopt;
            }
            if (converted.bytes.isEmpty()) {
                messages.warn(QLatin1String("Cannot find a valid value in the following 'Replace with' field.") + kCrLf + a.replaceText + kCrLf + kCrLf
                    + QLatin1String("Correct the replace argument and try again."));
                return std::nullopt;
            }
            replace = converted.bytes;
        }
        finds.push_back(find.bytes);
        replaces.push_back(replace);
    }
    return ArgumentTables(std::move(finds), std::move(replaces));
}

RunResult ProcessFiles(RunMode mode, const FindReplaceArguments &arguments, ReplaceAsSettings &settings, EngineState &state, RunHost &host)
{
    using End = RunResult::End;
    RunResult result;
    MessageSink &messages = host.messages();

    if (host.rowCount() == 0)
        return result;

    const std::optional<ArgumentTables> tables = BuildArgumentTables(arguments, messages);
    if (!tables) {
        result.end = End::ArgumentError;
        return result;
    }

    if (mode == RunMode::ReplaceAs) {
        const bool chosen = host.chooseReplaceAsTarget(settings);
        host.pumpEvents();
        if (!chosen) {
            result.end = End::TargetCancelled;
            return result;
        }
    }

    // Every temporary file of the run lives in a folder of the run's own.
    RunFolder runFolder;
    if (!runFolder.create(GetTempFolder())) {
        messages.warn(FileErrorMessage(runFolder.error(), runFolder.path()));
        result.end = End::SetupFailed;
        return result;
    }
    // Replace As writes into this one folder, whatever happens to its path.
    FileDescriptor outFolder;
    if (mode == RunMode::ReplaceAs) {
        outFolder = FileDescriptor(::open(NativePath(settings.outpath).constData(), O_PATH | O_DIRECTORY | O_CLOEXEC));
        if (outFolder.get() < 0) {
            messages.warn(FileErrorMessage(errno, settings.outpath));
            result.end = End::SetupFailed;
            return result;
        }
    }
    const double total = GetTotalBytes(host);

    host.beginRun(mode == RunMode::Count ? QStringLiteral("Counting...") : QStringLiteral("Replacing..."), total);
    host.pumpEvents();

    state.dblActVal = 0;
    std::mt19937 rng(std::mt19937::result_type(std::chrono::system_clock::now().time_since_epoch().count()));
    CommitContext commitContext {rng, [&host] { host.pumpEvents(); }, state.ioChunk};

    result.end = End::Completed;
    const int rows = host.rowCount();
    for (int row = 0; row < rows; ++row) {
        const QString source = host.rowPath(row);
        const QString targetName = OutputFileName(source, settings.outprefix, settings.outsuffix);
        const QString target = mode == RunMode::Replace ? source : OutputPath(source, settings.outpath, settings.outprefix, settings.outsuffix);

        TemporaryFile temp(runFolder.fd(), runFolder.path(), rng);
        temp.setDiscard(mode == RunMode::Count);

        host.showFile(source, mode == RunMode::ReplaceAs ? QLatin1String("to ") + target : QString());

        // What stands at the target now, links not followed: only a regular
        // file is a file that exists here, and only it can be overwritten.
        ReplaceAsTarget slot;
        if (mode == RunMode::ReplaceAs) {
            slot = InspectTarget(outFolder.get(), NativePath(targetName), target);
            if (settings.outoverwrite != 1 && slot.kind == ReplaceAsTarget::Kind::Regular) {
                const QString question
                    = QLatin1String("The file ") + target + QLatin1String(" already exists.") + kCrLf + kCrLf + QLatin1String("Do you want to overwrite it?");
                if (messages.show(question, MessageSink::Icon::Exclamation, MessageSink::Buttons::YesNo, MessageSink::programTitle())
                    != MessageSink::Answer::Yes) {
                    host.pumpEvents();
                    result.end = End::StoppedAtNo;
                    break;
                }
            }
        }

        OpenedFile file;
        ReplaceOutcome outcome {0, ReplaceOutcome::Status::Failed};
        if (OpenSource(file, source, messages))
            outcome = ReplaceInFile(file, temp, *tables, state, host, messages);
        if (host.cancelRequested()) {
            result.end = End::Cancelled;
            break;
        }
        if (outcome.status == ReplaceOutcome::Status::Failed)
            ++result.failedFiles;

        host.setRowCount(row, AdjustRight(outcome.count, 8));
        host.pumpEvents();

        if (mode == RunMode::Count || outcome.count < 1)
            continue; // temp deletes its file
        host.beforeCommit(row);
        CommitResult commit;
        if (mode == RunMode::Replace && file.status().st_size == 0)
            commit = {CommitResult::Status::Refused, NoSizeMessage(source)};
        else if (mode == RunMode::Replace)
            commit = CommitReplace(temp, file, commitContext);
        else if (file.unchanged())
            commit = CommitReplaceAs(temp, slot, commitContext);
        else // the result was built from bytes the source no longer holds
            commit = {CommitResult::Status::Refused, ChangedByAnotherProgramMessage(source)};
        if (!commit.ok()) {
            messages.warn(commit.message);
            ++result.failedFiles;
            if (commit.status == CommitResult::Status::Failed) {
                result.end = End::CopyFailed;
                break;
            }
        }
        // temp deletes its file here unless it was put in place
    }

    host.endRun();
    return result;
}

} // namespace perrox
