#include "batchoptions.h"

#include "arguments/argumentfile.h"
#include "arguments/notation.h"
#include "base/blanks.h"
#include "files/filenames.h"
#include "files/filesystem.h"

#include <optional>
#include <utility>

namespace perrox {

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

// A command line being parsed: the options so far, the mode and a --find
// still waiting for its --with. The first error ends the parse.
struct BatchParser
{
    BatchParse parse;
    BatchOptions &o = parse.options;
    std::optional<RunMode> mode;
    std::optional<FindReplaceArgument> pendingFind;

    void fail(const QString &error) { parse.error = error; }
    void failUnpairedFind() { fail(QStringLiteral("--find '%1' is not followed by --with").arg(pendingFind->findText)); }

    bool setMode(RunMode m)
    {
        if (mode && *mode != m) {
            fail(QStringLiteral("only one of --count, --replace and --replace-as may be given"));
            return false;
        }
        mode = m;
        return true;
    }

    bool setJournalCommand(BatchOptions::JournalCommand command)
    {
        if (o.journalCommand != BatchOptions::JournalCommand::None && o.journalCommand != command) {
            fail(QStringLiteral("only one of --undo, --undo-run and --history may be given"));
            return false;
        }
        o.journalCommand = command;
        return true;
    }

    // A limit: a whole number from 1 up.
    std::optional<qint64> positive(const char *name, const QString &value, qint64 max)
    {
        bool ok = false;
        const qint64 n = value.toLongLong(&ok);
        if (ok && n >= 1 && n <= max)
            return n;
        fail(QStringLiteral("%1 needs a whole number from 1 to %2, not '%3'").arg(QLatin1String(name)).arg(max).arg(value));
        return std::nullopt;
    }

    void find(const QString &value)
    {
        if (pendingFind)
            return failUnpairedFind();
        FindReplaceArgument a;
        ParseSide(value, a.findNotation, a.findText);
        pendingFind = a;
    }

    void with(const QString &value)
    {
        if (!pendingFind)
            return fail(QStringLiteral("--with must follow a --find"));
        ParseSide(value, pendingFind->replaceNotation, pendingFind->replaceText);
        if (!TakesReplaceSide(pendingFind->replaceNotation))
            return fail(QStringLiteral("--with '%1': %2 is for --find only").arg(value, Info(pendingFind->replaceNotation).batchPrefix));
        o.arguments.append(*pendingFind);
        pendingFind.reset();
    }

    void argumentFile(const QString &value)
    {
        if (pendingFind)
            return failUnpairedFind();
        if (value.isEmpty())
            return fail(QStringLiteral("--arguments needs a file name"));
        o.argumentFiles.append({o.arguments.size(), value});
    }

    void saveArguments(const QString &value)
    {
        if (value.isEmpty())
            return fail(QStringLiteral("--save-arguments needs a file name"));
        if (!o.saveArguments.isEmpty())
            return fail(QStringLiteral("--save-arguments may be given only once"));
        o.saveArguments = value;
    }

    void undoRun(const QString &value)
    {
        if (setJournalCommand(BatchOptions::JournalCommand::Undo))
            o.undoRun = value;
        if (value.isEmpty())
            fail(QStringLiteral("--undo-run needs a run ID (see --history)"));
    }

    void format(const QString &value)
    {
        if (value == QLatin1String("text"))
            o.format = BatchOptions::Format::Text;
        else if (value == QLatin1String("csv"))
            o.format = BatchOptions::Format::Csv;
        else if (value == QLatin1String("json"))
            o.format = BatchOptions::Format::Json;
        else
            fail(QStringLiteral("--format needs text, csv or json, not '%1'").arg(value));
    }

    // What the options together lack or do not allow.
    BatchParse finish()
    {
        if (!parse.ok() || o.help || o.version)
            return parse;
        if (o.journalCommand != BatchOptions::JournalCommand::None) {
            if (mode || pendingFind || !o.arguments.isEmpty() || !o.argumentFiles.isEmpty() || !o.paths.isEmpty() || !o.saveArguments.isEmpty())
                fail(QStringLiteral("--undo, --undo-run and --history take no mode, pair or PATH"));
            return parse;
        }
        if (!o.applyPlan.isEmpty())
            return finishApplyPlan();
        if (pendingFind)
            failUnpairedFind();
        else if (!o.plan.isEmpty() && mode.value_or(RunMode::Count) != RunMode::Count)
            fail(QStringLiteral("--plan is made by --count; --replace and --replace-as take --apply-plan"));
        else if (o.arguments.isEmpty() && o.argumentFiles.isEmpty())
            fail(QStringLiteral("no --find/--with pair given"));
        else if (o.paths.isEmpty() && o.saveArguments.isEmpty())
            fail(QStringLiteral("no file given"));
        o.mode = mode.value_or(RunMode::Count);
        return parse;
    }

    // --apply-plan: the plan holds the pairs and the files.
    BatchParse finishApplyPlan()
    {
        if (mode != RunMode::Replace && mode != RunMode::ReplaceAs)
            fail(QStringLiteral("--apply-plan needs --replace or --replace-as"));
        else if (pendingFind || !o.arguments.isEmpty() || !o.argumentFiles.isEmpty() || !o.saveArguments.isEmpty() || !o.paths.isEmpty())
            fail(QStringLiteral("--apply-plan takes no --find/--with pair, argument file or PATH: the plan holds them"));
        else if (o.ignoreCase || o.wholeWord)
            fail(QStringLiteral("--apply-plan takes no --ignore-case or --word-regexp: the plan's pairs carry them"));
        else if (!o.plan.isEmpty())
            fail(QStringLiteral("--plan and --apply-plan cannot be given together"));
        o.mode = mode.value_or(RunMode::Replace);
        return parse;
    }

    void planFile(QString &target, const char *option, const QString &value)
    {
        if (value.isEmpty())
            return fail(QStringLiteral("%1 needs a file name").arg(QLatin1String(option)));
        target = value;
    }
};

namespace {

static_assert(MaxArgumentFileSize == qint64(64) << 20, "the help of --arguments says 64 MiB");

// The options of perrox-batch, in the order --help lists them under their
// headings.
const BatchOption kOptions[] = {
    {"--count", "", "Modes", "show per file how many occurrences would be replaced (default)",
        [](BatchParser &p, const QString &) { p.setMode(RunMode::Count); }},
    {"--replace", "", "Modes", "rewrite every file that has occurrences", [](BatchParser &p, const QString &) { p.setMode(RunMode::Replace); }},
    {"--replace-as", "FOLDER", "Modes", "write the results to new files in FOLDER, named\nPREFIX + base name + SUFFIX + extension",
        [](BatchParser &p, const QString &v) {
            if (p.setMode(RunMode::ReplaceAs))
                p.o.settings.outpath = v;
        }},
    {"--find", "BYTES", "Options", "bytes to find; each --find is followed by one --with", [](BatchParser &p, const QString &v) { p.find(v); }},
    {"--with", "BYTES", "Options", "bytes to put in their place (empty deletes them)", [](BatchParser &p, const QString &v) { p.with(v); }},
    {"--arguments", "FILE", "Options", "load the pairs of an argument file (at most 64 MiB) at\nthis place of the pair order",
        [](BatchParser &p, const QString &v) { p.argumentFile(v); }},
    {"--save-arguments", "FILE", "Options", "write every pair, in order, to FILE as an argument\nfile (replacing it); with no PATH nothing else is done",
        [](BatchParser &p, const QString &v) { p.saveArguments(v); }},
    {"--plan", "FILE", "Options", "with --count: also write the plan of the run to FILE,\nevery occurrence with its place (see --apply-plan)",
        [](BatchParser &p, const QString &v) { p.planFile(p.o.plan, "--plan", v); }},
    {"--apply-plan", "FILE", "Options",
        "with --replace or --replace-as: replace exactly the\noccurrences FILE lists, in the files it names, if\nthey are unchanged; no pair or PATH is given",
        [](BatchParser &p, const QString &v) { p.planFile(p.o.applyPlan, "--apply-plan", v); }},
    {"--prefix", "TEXT", "Options", "text in front of each base name (Replace As)",
        [](BatchParser &p, const QString &v) { RemoveInvalidChars(p.o.settings.outprefix = v); }},
    {"--suffix", "TEXT", "Options", "text after each base name (Replace As)",
        [](BatchParser &p, const QString &v) { RemoveInvalidChars(p.o.settings.outsuffix = v); }},
    {"--overwrite", "", "Options", "overwrite existing Replace As targets without asking",
        [](BatchParser &p, const QString &) { p.o.settings.outoverwrite = 1; }},
    {"--keep-folders", "", "Options", "put each Replace As result below FOLDER at its path\nrelative to the folder that holds every source",
        [](BatchParser &p, const QString &) { p.o.settings.keepFolders = true; }},
    {"--keep-times", "", "Options", "give each result the modification and access times of\nthe file it was made from",
        [](BatchParser &p, const QString &) { p.o.keepTimes = true; }},
    {"--ignore-case", "", "Options", "letters of every find typed as text (and of every\nregex:) match in either case",
        [](BatchParser &p, const QString &) { p.o.ignoreCase = true; }},
    {"--word-regexp", "", "Options", "every find matches only as a whole word", [](BatchParser &p, const QString &) { p.o.wholeWord = true; }},
    {"--max-match-size", "BYTES", "Options", "the longest match of a pattern (default 1048576); a\nfile with a longer one fails",
        [](BatchParser &p, const QString &v) {
            if (const std::optional<qint64> n = p.positive("--max-match-size", v, qint64(1) << 30))
                p.o.maxMatchSize = *n;
        }},
    {"--threads", "N", "Options", "read and count files on N threads (default: one per\nprocessor); 1 reads them one after the other",
        [](BatchParser &p, const QString &v) {
            if (const std::optional<qint64> n = p.positive("--threads", v, 1024))
                p.o.threads = int(*n);
        }},
    // The masks are trimmed as the options dialog does: a list of blanks is no list.
    {"--include-folders", "MASKS", "Options", "enter only the subfolders whose names match",
        [](BatchParser &p, const QString &v) { p.o.masks.includeDirectories = TrimBlanks(v); }},
    {"--exclude-folders", "MASKS", "Options", "do not enter the subfolders whose names match",
        [](BatchParser &p, const QString &v) { p.o.masks.excludeDirectories = TrimBlanks(v); }},
    {"--include-files", "MASKS", "Options", "take only the files whose names match",
        [](BatchParser &p, const QString &v) { p.o.masks.includeFiles = TrimBlanks(v); }},
    {"--exclude-files", "MASKS", "Options", "leave out the files whose names match",
        [](BatchParser &p, const QString &v) { p.o.masks.excludeFiles = TrimBlanks(v); }},
    {"--progress", "", "Options", "draw a progress bar on standard error (a terminal)", [](BatchParser &p, const QString &) { p.o.progress = true; }},
    {"--format", "FORMAT", "Options", "what standard output shows: text (default), csv or json", [](BatchParser &p, const QString &v) { p.format(v); }},
    {"--fail-none", "", "Options", "exit with status 4 when no file holds an occurrence", [](BatchParser &p, const QString &) { p.o.failNone = true; }},
    {"--quiet", "", "Options", "do not warn about pairs before the run", [](BatchParser &p, const QString &) { p.o.quiet = true; }},
    {"--help", "", "Options", "display this help and exit", [](BatchParser &p, const QString &) { p.o.help = true; }},
    {"--version", "", "Options", "output version information and exit", [](BatchParser &p, const QString &) { p.o.version = true; }},
    {"--undo", "", "Undo", "undo the most recent Replace, Replace As or Undo not\nundone yet",
        [](BatchParser &p, const QString &) { p.setJournalCommand(BatchOptions::JournalCommand::Undo); }},
    {"--undo-run", "ID", "Undo", "undo the run ID (see --history)", [](BatchParser &p, const QString &v) { p.undoRun(v); }},
    {"--history", "", "Undo", "list the runs in the journal, newest first",
        [](BatchParser &p, const QString &) { p.setJournalCommand(BatchOptions::JournalCommand::History); }},
    {"--no-undo", "", "Undo", "keep no copies of the files this run changes; it\ncannot be undone",
        [](BatchParser &p, const QString &) { p.o.undo.keep = false; }},
    {"--undo-max-runs", "N", "Undo", "keep at most N runs in the journal (default 20)",
        [](BatchParser &p, const QString &v) {
            if (const std::optional<qint64> n = p.positive("--undo-max-runs", v, 1000000))
                p.o.undo.maxRuns = int(*n);
        }},
    {"--undo-max-size", "MIB", "Undo", "keep at most MIB MiB of old contents (default 1024)",
        [](BatchParser &p, const QString &v) {
            if (const std::optional<qint64> n = p.positive("--undo-max-size", v, qint64(1) << 30))
                p.o.undo.maxBytes = *n << 20;
        }},
};

// The text of --help above and below the options.
const char kHelpHead[] = "Usage: perrox-batch [--count | --replace | --replace-as FOLDER] [--prefix TEXT] [--suffix TEXT]\n"
                         "                    [--overwrite] [--keep-folders] (--find BYTES --with BYTES | --arguments FILE)...\n"
                         "                    [--save-arguments FILE] [--include-folders MASKS] [--exclude-folders MASKS]\n"
                         "                    [--include-files MASKS] [--exclude-files MASKS] [--progress]\n"
                         "                    [--format FORMAT] [--fail-none] [--quiet] [--keep-times] [--plan FILE]\n"
                         "                    [--ignore-case] [--word-regexp] [--max-match-size BYTES] [--threads N]\n"
                         "                    [--no-undo] [--undo-max-runs N] [--undo-max-size MIB] [--] PATH...\n"
                         "   or: perrox-batch (--replace | --replace-as FOLDER) --apply-plan FILE [OPTION]...\n"
                         "   or: perrox-batch --undo | --undo-run ID | --history\n"
                         "Replace characters or any bytes in your files.\n";
const char kHelpTail[] = "BYTES is asc:TEXT (characters, Windows-1252), dec:TEXT (decimal values 0-255),\n"
                         "hex:TEXT (hexadecimal values 00-FF) or utf8:TEXT (the UTF-8 bytes of TEXT,\n"
                         "any character); without a prefix TEXT is characters. Values are separated by\n"
                         "spaces, commas or semicolons, e.g. hex:0D,0A. A character Windows-1252 lacks\n"
                         "is refused in characters (give it as utf8:), and an argument that is not\n"
                         "valid UTF-8 is refused in utf8:; both are usage errors.\n"
                         "In a find, ?? in hex: and ? in dec: stand for any one byte (hex:48,8B,??,90);\n"
                         "regex:PATTERN finds what a PCRE2 regular expression matches in the bytes (a\n"
                         "character beyond ASCII stands for its UTF-8 bytes; (*UTF) at its start\n"
                         "matches characters), and a --with in characters or utf8: is then a template:\n"
                         "$1 to $99, ${name} and $$ for a dollar. A pattern that can match nothing at\n"
                         "all is refused. -i folds the letters of ASCII and Windows-1252 in\n"
                         "characters, Unicode letters in utf8:, and sets regex: caseless; dec: and hex:\n"
                         "stay exact. -w matches only where no word byte (a letter, a digit, \"_\" or any\n"
                         "byte from 80 hex on) stands right before or after.\n"
                         "Pairs are tried in the order given; at each position the first pair whose\n"
                         "find bytes match wins. Pairs loaded from a file are checked like the others\n"
                         "before any file is touched.\n"
                         "\n"
                         "An argument file holds one pair per line, in Windows-1252:\n"
                         "  <FIND TYPE=ASC>hello</FIND><REPLACE TYPE=HEX>48 49</REPLACE>\n"
                         "where ASC, DEC, HEX or UTF8 names the notation of each side; a UTF8 side is\n"
                         "written as its UTF-8 bytes. A FIND tag may say TYPE=REGEX, and after the\n"
                         "notation CASE=IGNORE and WORD=YES: <FIND TYPE=ASC CASE=IGNORE WORD=YES>.\n"
                         "\n"
                         "A PATH that is a folder stands for the files under it, at any depth, hidden\n"
                         "ones included: its own files first, sorted by name, then each subfolder in\n"
                         "turn. The folder given is always scanned; the masks decide which subfolders\n"
                         "are entered and which files are taken, by name only. MASKS is a list of\n"
                         "names separated by \";\", case ignored, where \"*\" may stand first and/or last:\n"
                         "\"*.txt;*.doc\", \"data*\", \"*tmp*\".\n"
                         "\n"
                         "A plan (--plan) is JSON: the pairs, and for each file with occurrences its\n"
                         "path, size, mtime_ns, hash and occurrences (offset, length, pair from 0).\n"
                         "--apply-plan replaces exactly the occurrences it lists, never searching anew;\n"
                         "entries may be deleted from it. A file changed since is reported and left\n"
                         "alone (exit 1); a plan whose occurrences do not fit their files is refused\n"
                         "before anything is written (exit 2).\n"
                         "\n"
                         "For every processed file a line shows the count, right-aligned in 8\n"
                         "characters, two blanks and the path. A file listed twice (by the same path,\n"
                         "a link or a hard link) is processed once, at its first place; each later\n"
                         "one is not processed, and a line on standard error says so.\n"
                         "\n"
                         "Replace As refuses, before it writes anything, two sources whose results\n"
                         "would have the same path (two files of one name in different folders, say;\n"
                         "--keep-folders keeps them apart) and a result that would take the place of\n"
                         "a source.\n"
                         "\n"
                         "With --format csv or json standard output shows instead a report of the run,\n"
                         "once it has ended, also when it ended early: csv a header line\n"
                         "\"path,count,result,pair1,pair2,...\" and a row per file, quoted as RFC 4180\n"
                         "says; json one object with the mode, the pairs, every file with its counts per\n"
                         "pair, result and error, the totals and how the run ended. A result is\n"
                         "\"counted\", \"replaced\", \"unchanged\", \"failed\" or \"not processed\";\n"
                         "same_as is the number (from 1) of the file's first place when it is listed\n"
                         "twice.\n"
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
                         "error, or Replace As targets that collide (no file touched), 3 stopped at a No to the overwrite question,\n"
                         "4 every file processed and none holds an occurrence (with --fail-none),\n"
                         "130 interrupted. --undo: 0 every file restored, 1 a file not restored,\n"
                         "2 nothing to undo, an unknown ID or a run already undone.\n";

// The options that have a short name too, as grep has them.
const std::pair<const char *, const char *> kShortNames[] = {{"-i", "--ignore-case"}, {"-w", "--word-regexp"}};

const qsizetype kTextColumn = 23; // where the text of an option starts in --help

const BatchOption *FindOption(const QString &name)
{
    QString full = name;
    for (const auto &[shortName, longName] : kShortNames)
        if (name == QLatin1String(shortName))
            full = QLatin1String(longName);
    for (const BatchOption &option : kOptions)
        if (full == QLatin1String(option.name))
            return &option;
    return nullptr;
}

bool SameGroup(const BatchOption &a, const BatchOption &b)
{
    return QLatin1String(a.group) == QLatin1String(b.group);
}

// "  --replace-as FOLDER", "  -i, --ignore-case"
QString Label(const BatchOption &option)
{
    const QString shortName = ShortOptionName(QLatin1String(option.name));
    QString label = QLatin1String("  ") + (shortName.isEmpty() ? QString() : shortName + QLatin1String(", ")) + QLatin1String(option.name);
    if (*option.value)
        label += QLatin1Char(' ') + QLatin1String(option.value);
    return label;
}

// Where the text of option i starts in --help: at kTextColumn, or, after a
// label too long for that, two blanks past the longest of the too long labels
// next to it in its group, so that they line up.
qsizetype TextColumn(qsizetype i)
{
    const auto tooLong = [i](qsizetype j) {
        return j >= 0 && j < qsizetype(std::size(kOptions)) && SameGroup(kOptions[j], kOptions[i]) && Label(kOptions[j]).size() + 2 > kTextColumn;
    };
    if (!tooLong(i))
        return kTextColumn;
    qsizetype first = i;
    while (tooLong(first - 1))
        --first;
    qsizetype widest = 0;
    for (qsizetype j = first; tooLong(j); ++j)
        widest = qMax(widest, Label(kOptions[j]).size());
    return widest + 2;
}

// Each group of options under its heading, each option with its text.
QString OptionLines()
{
    QString lines;
    for (qsizetype i = 0; i < qsizetype(std::size(kOptions)); ++i) {
        const BatchOption &option = kOptions[i];
        if (i == 0 || !SameGroup(option, kOptions[i - 1]))
            lines += QLatin1Char('\n') + QLatin1String(option.group) + QLatin1String(":\n");
        QString help = QLatin1String(option.help);
        help.replace(QLatin1Char('\n'), QLatin1Char('\n') + QString(kTextColumn, QLatin1Char(' ')));
        lines += Label(option).leftJustified(TextColumn(i)) + help + QLatin1Char('\n');
    }
    return lines;
}

} // namespace

std::span<const BatchOption> BatchOptionTable()
{
    return kOptions;
}

QString ShortOptionName(const QString &name)
{
    for (const auto &[shortName, longName] : kShortNames)
        if (name == QLatin1String(longName))
            return QLatin1String(shortName);
    return QString();
}

BatchParse ParseBatchArguments(const QStringList &arguments)
{
    BatchParser parser;
    bool optionsEnded = false;
    for (qsizetype i = 0; i < arguments.size() && parser.parse.ok(); ++i) {
        const QString &arg = arguments.at(i);
        if (optionsEnded || !arg.startsWith(QLatin1Char('-')) || arg == QLatin1String("-")) {
            parser.o.paths.append(arg);
            continue;
        }
        if (arg == QLatin1String("--")) {
            optionsEnded = true;
            continue;
        }
        QString name = arg;
        std::optional<QString> value;
        if (const qsizetype eq = arg.indexOf(QLatin1Char('=')); arg.startsWith(QLatin1String("--")) && eq > 2) {
            name = arg.left(eq);
            value = arg.mid(eq + 1);
        }
        const BatchOption *option = FindOption(name);
        if (!option) {
            parser.fail(QStringLiteral("unrecognized option '%1'").arg(arg));
        } else if (!*option->value && value) {
            parser.fail(QStringLiteral("option '%1' doesn't allow an argument").arg(name));
        } else if (*option->value && !value && i + 1 >= arguments.size()) {
            parser.fail(QStringLiteral("option '%1' requires an argument").arg(name));
        } else {
            if (*option->value && !value)
                value = arguments.at(++i);
            option->apply(parser, value.value_or(QString()));
        }
    }
    return parser.finish();
}

QString BatchUsage()
{
    return QLatin1String(kHelpHead) + OptionLines() + QLatin1Char('\n') + QLatin1String(kHelpTail);
}

} // namespace perrox
