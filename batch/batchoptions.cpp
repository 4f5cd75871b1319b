#include "batchoptions.h"

#include "arguments/argumentfile.h"
#include "arguments/notation.h"
#include "base/blanks.h"
#include "files/filenames.h"
#include "files/filesystem.h"

#include <optional>

namespace perrox {

namespace {

const QLatin1String kFind("--find");
const QLatin1String kWith("--with");
const QLatin1String kArguments("--arguments");
const QLatin1String kSaveArguments("--save-arguments");

// The folder-scan mask options and the mask each one sets.
const struct
{
    QLatin1String name;
    QString FolderMasks::*mask;
} kMaskOptions[] = {
    {QLatin1String("--include-folders"), &FolderMasks::includeDirectories},
    {QLatin1String("--exclude-folders"), &FolderMasks::excludeDirectories},
    {QLatin1String("--include-files"), &FolderMasks::includeFiles},
    {QLatin1String("--exclude-files"), &FolderMasks::excludeFiles},
};

QString FolderMasks::*maskOption(const QString &name)
{
    for (const auto &option : kMaskOptions)
        if (name == option.name)
            return option.mask;
    return nullptr;
}

// Options that take a value.
bool takesValue(const QString &name)
{
    static const QStringList names {QStringLiteral("--replace-as"), QStringLiteral("--prefix"), QStringLiteral("--suffix"), kFind, kWith, kArguments,
        kSaveArguments, QStringLiteral("--format"), QStringLiteral("--undo-run"), QStringLiteral("--undo-max-runs"), QStringLiteral("--undo-max-size")};
    return names.contains(name) || maskOption(name);
}

} // namespace

void ParseSide(const QString &side, Notation &notation, QString &text)
{
    for (const NotationInfo &n : kNotations) {
        if (side.startsWith(n.batchPrefix, Qt::CaseInsensitive)) {
            notation = n.notation;
            text = side.mid(n.batchPrefix.size());
            return;
        }
    }
    notation = Notation::Characters;
    text = side;
}

QStringList DecodeArguments(int argc, const char *const argv[])
{
    QStringList arguments;
    for (int i = 1; i < argc; ++i)
        arguments.append(DecodeNativePath(QByteArray(argv[i])));
    return arguments;
}

BatchParse ParseBatchArguments(const QStringList &arguments)
{
    BatchParse parse;
    BatchOptions &o = parse.options;
    std::optional<RunMode> mode;
    std::optional<FindReplaceArgument> pendingFind;

    const auto unpairedFind = [&] { return QStringLiteral("--find '%1' is not followed by --with").arg(pendingFind->findText); };
    auto setMode = [&](RunMode m) {
        if (mode && *mode != m) {
            parse.error = QStringLiteral("only one of --count, --replace and --replace-as may be given");
            return false;
        }
        mode = m;
        return true;
    };

    auto setJournalCommand = [&](BatchOptions::JournalCommand command) {
        if (o.journalCommand != BatchOptions::JournalCommand::None && o.journalCommand != command) {
            parse.error = QStringLiteral("only one of --undo, --undo-run and --history may be given");
            return false;
        }
        o.journalCommand = command;
        return true;
    };
    // A limit: a whole number from 1 up.
    auto positive = [&](const QString &name, const QString &value, qint64 max) -> std::optional<qint64> {
        bool ok = false;
        const qint64 n = value.toLongLong(&ok);
        if (ok && n >= 1 && n <= max)
            return n;
        parse.error = QStringLiteral("%1 needs a whole number from 1 to %2, not '%3'").arg(name).arg(max).arg(value);
        return std::nullopt;
    };

    bool optionsEnded = false;
    for (qsizetype i = 0; i < arguments.size() && parse.ok(); ++i) {
        const QString &arg = arguments.at(i);
        if (optionsEnded || !arg.startsWith(QLatin1Char('-')) || arg == QLatin1String("-")) {
            o.paths.append(arg);
            continue;
        }
        if (arg == QLatin1String("--")) {
            optionsEnded = true;
            continue;
        }
        QString name = arg;
        QString value;
        bool hasValue = false;
        if (const qsizetype eq = arg.indexOf(QLatin1Char('=')); arg.startsWith(QLatin1String("--")) && eq > 2) {
            name = arg.left(eq);
            value = arg.mid(eq + 1);
            hasValue = true;
        }
        if (takesValue(name)) {
            if (!hasValue) {
                if (i + 1 >= arguments.size()) {
                    parse.error = QStringLiteral("option '%1' requires an argument").arg(name);
                    break;
                }
                value = arguments.at(++i);
            }
        } else if (hasValue) {
            parse.error = QStringLiteral("option '%1' doesn't allow an argument").arg(name);
            break;
        }

        if (name == QLatin1String("--count")) {
            setMode(RunMode::Count);
        } else if (name == QLatin1String("--replace")) {
            setMode(RunMode::Replace);
        } else if (name == QLatin1String("--replace-as")) {
            if (setMode(RunMode::ReplaceAs))
                o.settings.outpath = value;
        } else if (name == QLatin1String("--prefix")) {
            o.settings.outprefix = value;
            RemoveInvalidChars(o.settings.outprefix);
        } else if (name == QLatin1String("--suffix")) {
            o.settings.outsuffix = value;
            RemoveInvalidChars(o.settings.outsuffix);
        } else if (name == QLatin1String("--overwrite")) {
            o.settings.outoverwrite = 1;
        } else if (name == kFind) {
            if (pendingFind) {
                parse.error = unpairedFind();
                break;
            }
            FindReplaceArgument a;
            ParseSide(value, a.findNotation, a.findText);
            pendingFind = a;
        } else if (name == kWith) {
            if (!pendingFind) {
                parse.error = QStringLiteral("--with must follow a --find");
                break;
            }
            ParseSide(value, pendingFind->replaceNotation, pendingFind->replaceText);
            o.arguments.append(*pendingFind);
            pendingFind.reset();
        } else if (name == kArguments) {
            if (pendingFind) {
                parse.error = unpairedFind();
                break;
            }
            if (value.isEmpty()) {
                parse.error = QStringLiteral("--arguments needs a file name");
                break;
            }
            o.argumentFiles.append({o.arguments.size(), value});
        } else if (name == kSaveArguments) {
            if (value.isEmpty()) {
                parse.error = QStringLiteral("--save-arguments needs a file name");
                break;
            }
            if (!o.saveArguments.isEmpty()) {
                parse.error = QStringLiteral("--save-arguments may be given only once");
                break;
            }
            o.saveArguments = value;
        } else if (QString FolderMasks::*mask = maskOption(name)) {
            // Trimmed as the options dialog does: a list of blanks is no list.
            o.masks.*mask = TrimBlanks(value);
        } else if (name == QLatin1String("--undo")) {
            setJournalCommand(BatchOptions::JournalCommand::Undo);
        } else if (name == QLatin1String("--undo-run")) {
            if (setJournalCommand(BatchOptions::JournalCommand::Undo))
                o.undoRun = value;
            if (value.isEmpty())
                parse.error = QStringLiteral("--undo-run needs a run ID (see --history)");
        } else if (name == QLatin1String("--history")) {
            setJournalCommand(BatchOptions::JournalCommand::History);
        } else if (name == QLatin1String("--no-undo")) {
            o.undo.keep = false;
        } else if (name == QLatin1String("--undo-max-runs")) {
            if (const std::optional<qint64> n = positive(name, value, 1000000))
                o.undo.maxRuns = int(*n);
        } else if (name == QLatin1String("--undo-max-size")) {
            if (const std::optional<qint64> n = positive(name, value, qint64(1) << 30))
                o.undo.maxBytes = *n << 20;
        } else if (name == QLatin1String("--progress")) {
            o.progress = true;
        } else if (name == QLatin1String("--format")) {
            if (value == QLatin1String("text"))
                o.format = BatchOptions::Format::Text;
            else if (value == QLatin1String("csv"))
                o.format = BatchOptions::Format::Csv;
            else if (value == QLatin1String("json"))
                o.format = BatchOptions::Format::Json;
            else
                parse.error = QStringLiteral("--format needs text, csv or json, not '%1'").arg(value);
        } else if (name == QLatin1String("--fail-none")) {
            o.failNone = true;
        } else if (name == QLatin1String("--quiet")) {
            o.quiet = true;
        } else if (name == QLatin1String("--keep-times")) {
            o.keepTimes = true;
        } else if (name == QLatin1String("--help")) {
            o.help = true;
        } else if (name == QLatin1String("--version")) {
            o.version = true;
        } else {
            parse.error = QStringLiteral("unrecognized option '%1'").arg(arg);
        }
    }
    if (!parse.ok() || o.help || o.version)
        return parse;
    if (o.journalCommand != BatchOptions::JournalCommand::None) {
        if (mode || pendingFind || !o.arguments.isEmpty() || !o.argumentFiles.isEmpty() || !o.paths.isEmpty() || !o.saveArguments.isEmpty())
            parse.error = QStringLiteral("--undo, --undo-run and --history take no mode, pair or PATH");
        return parse;
    }
    if (pendingFind) {
        parse.error = unpairedFind();
    } else if (o.arguments.isEmpty() && o.argumentFiles.isEmpty()) {
        parse.error = QStringLiteral("no --find/--with pair given");
    } else if (o.paths.isEmpty() && o.saveArguments.isEmpty()) {
        parse.error = QStringLiteral("no file given");
    }
    o.mode = mode.value_or(RunMode::Count);
    return parse;
}

QString BatchUsage()
{
    return QStringLiteral("Usage: perrox-batch [--count | --replace | --replace-as FOLDER] [--prefix TEXT] [--suffix TEXT]\n"
                          "                    [--overwrite] (--find BYTES --with BYTES | --arguments FILE)...\n"
                          "                    [--save-arguments FILE] [--include-folders MASKS] [--exclude-folders MASKS]\n"
                          "                    [--include-files MASKS] [--exclude-files MASKS] [--progress]\n"
                          "                    [--format FORMAT] [--fail-none] [--quiet] [--keep-times]\n"
                          "                    [--no-undo] [--undo-max-runs N] [--undo-max-size MIB] [--] PATH...\n"
                          "   or: perrox-batch --undo | --undo-run ID | --history\n"
                          "Replace characters or any bytes in your files.\n"
                          "\n"
                          "Modes:\n"
                          "  --count              show per file how many occurrences would be replaced (default)\n"
                          "  --replace            rewrite every file that has occurrences\n"
                          "  --replace-as FOLDER  write the results to new files in FOLDER, named\n"
                          "                       PREFIX + base name + SUFFIX + extension\n"
                          "\n"
                          "Options:\n"
                          "  --find BYTES         bytes to find; each --find is followed by one --with\n"
                          "  --with BYTES         bytes to put in their place (empty deletes them)\n"
                          "  --arguments FILE     load the pairs of an argument file (at most %1 MiB) at\n"
                          "                       this place of the pair order\n"
                          "  --save-arguments FILE  write every pair, in order, to FILE as an argument\n"
                          "                       file (replacing it); with no PATH nothing else is done\n"
                          "  --prefix TEXT        text in front of each base name (Replace As)\n"
                          "  --suffix TEXT        text after each base name (Replace As)\n"
                          "  --overwrite          overwrite existing Replace As targets without asking\n"
                          "  --keep-times         give each result the modification and access times of\n"
                          "                       the file it was made from\n"
                          "  --include-folders MASKS  enter only the subfolders whose names match\n"
                          "  --exclude-folders MASKS  do not enter the subfolders whose names match\n"
                          "  --include-files MASKS    take only the files whose names match\n"
                          "  --exclude-files MASKS    leave out the files whose names match\n"
                          "  --progress           draw a progress bar on standard error (a terminal)\n"
                          "  --format FORMAT      what standard output shows: text (default), csv or json\n"
                          "  --fail-none          exit with status 4 when no file holds an occurrence\n"
                          "  --quiet              do not warn about pairs before the run\n"
                          "  --help               display this help and exit\n"
                          "  --version            output version information and exit\n"
                          "\n"
                          "Undo:\n"
                          "  --undo               undo the most recent Replace, Replace As or Undo not\n"
                          "                       undone yet\n"
                          "  --undo-run ID        undo the run ID (see --history)\n"
                          "  --history            list the runs in the journal, newest first\n"
                          "  --no-undo            keep no copies of the files this run changes; it\n"
                          "                       cannot be undone\n"
                          "  --undo-max-runs N    keep at most N runs in the journal (default 20)\n"
                          "  --undo-max-size MIB  keep at most MIB MiB of old contents (default 1024)\n"
                          "\n"
                          "BYTES is asc:TEXT (characters, Windows-1252), dec:TEXT (decimal values 0-255),\n"
                          "hex:TEXT (hexadecimal values 00-FF) or utf8:TEXT (the UTF-8 bytes of TEXT,\n"
                          "any character); without a prefix TEXT is characters. Values are separated by\n"
                          "spaces, commas or semicolons, e.g. hex:0D,0A. A character Windows-1252 lacks\n"
                          "is refused in characters (give it as utf8:), and an argument that is not\n"
                          "valid UTF-8 is refused in utf8:; both are usage errors.\n"
                          "Pairs are tried in the order given; at each position the first pair whose\n"
                          "find bytes match wins. Pairs loaded from a file are checked like the others\n"
                          "before any file is touched.\n"
                          "\n"
                          "An argument file holds one pair per line, in Windows-1252:\n"
                          "  <FIND TYPE=ASC>hello</FIND><REPLACE TYPE=HEX>48 49</REPLACE>\n"
                          "where ASC, DEC, HEX or UTF8 names the notation of each side; a UTF8 side is\n"
                          "written as its UTF-8 bytes.\n"
                          "\n"
                          "A PATH that is a folder stands for the files under it, at any depth, hidden\n"
                          "ones included: its own files first, sorted by name, then each subfolder in\n"
                          "turn. The folder given is always scanned; the masks decide which subfolders\n"
                          "are entered and which files are taken, by name only. MASKS is a list of\n"
                          "names separated by \";\", case ignored, where \"*\" may stand first and/or last:\n"
                          "\"*.txt;*.doc\", \"data*\", \"*tmp*\".\n"
                          "\n"
                          "For every processed file a line shows the count, right-aligned in 8\n"
                          "characters, two blanks and the path.\n"
                          "\n"
                          "With --format csv or json standard output shows instead a report of the run,\n"
                          "once it has ended, also when it ended early: csv a header line\n"
                          "\"path,count,result,pair1,pair2,...\" and a row per file, quoted as RFC 4180\n"
                          "says; json one object with the mode, the pairs, every file with its counts per\n"
                          "pair, result and error, the totals and how the run ended. A result is\n"
                          "\"counted\", \"replaced\", \"unchanged\", \"failed\" or \"not processed\".\n"
                          "Messages go to standard error in every format.\n"
                          "\n"
                          "Before anything else a pair that can never match, as an earlier pair's find\n"
                          "bytes are the same or its beginning, is warned about on standard error, and\n"
                          "so is a pair whose replacement holds find bytes; the run goes on. --quiet\n"
                          "leaves these warnings out.\n"
                          "\n"
                          "A file that cannot be read, or that another program changes while it is\n"
                          "worked on, is reported and the run goes on; a result that cannot be put in\n"
                          "place for another reason ends the run.\n"
                          "\n"
                          "Replace and Replace As keep what they change in a journal, in\n"
                          "$XDG_STATE_HOME/perrox/runs (~/.local/state/perrox/runs), before they touch a\n"
                          "file; a file whose old content cannot be kept is left as it is and ends the\n"
                          "run. Undo restores a file only if it still holds what the run wrote; a file\n"
                          "changed since, or gone, is reported and left as it is. An Undo is a run of\n"
                          "its own and can be undone in turn. The journal keeps the last 20 runs and at\n"
                          "most 1 GiB of old contents; older runs go first.\n"
                          "\n"
                          "Exit status: 0 every file processed, 1 a file failed, 2 usage or argument\n"
                          "error (no file touched), 3 stopped at a No to the overwrite question,\n"
                          "4 every file processed and none holds an occurrence (with --fail-none),\n"
                          "130 interrupted. --undo: 0 every file restored, 1 a file not restored,\n"
                          "2 nothing to undo, an unknown ID or a run already undone.\n")
        .arg(MaxArgumentFileSize >> 20);
}

} // namespace perrox
