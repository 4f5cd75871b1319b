#pragma once

#include "arguments/findreplaceargument.h"
#include "engine/processfiles.h"
#include "files/foldermasks.h"

#include <QStringList>

#include <span>

namespace perrox {

// What perrox-batch was asked to do.
struct BatchOptions
{
    RunMode mode = RunMode::Count;
    ReplaceAsSettings settings;
    FindReplaceArguments arguments; // --find/--with pairs, in command-line order
    // --arguments FILE: the file's pairs go after the first `position` pairs
    // of arguments, in the order the files were given.
    struct ArgumentFile
    {
        qsizetype position = 0;
        QString path;
        friend bool operator==(const ArgumentFile &, const ArgumentFile &) = default;
    };
    QList<ArgumentFile> argumentFiles;
    QString saveArguments; // --save-arguments FILE; empty when not given
    QString plan; // --plan FILE (Count): where the plan of the run goes
    QString applyPlan; // --apply-plan FILE: the plan whose occurrences are replaced
    FolderMasks masks; // for every PATH that is a folder
    QStringList paths;
    bool progress = false;
    // --format: what standard output carries, the per-file lines or a report
    // of the run in the end.
    enum class Format
    {
        Text,
        Csv,
        Json,
    };
    Format format = Format::Text;
    bool failNone = false; // --fail-none: exit status 4 when nothing was found
    bool quiet = false; // --quiet: no warnings about the pairs
    bool keepTimes = false; // --keep-times: results keep their sources' times
    // -i/--ignore-case and -w/--word-regexp: for every pair of the run, those
    // of argument files too.
    bool ignoreCase = false;
    bool wholeWord = false;
    qint64 maxMatchSize = qint64(1) << 20; // --max-match-size: the longest match of a pattern
    int threads = 0; // --threads: the threads that count files; 0 one per processor
    UndoSettings undo; // --no-undo, --undo-max-runs, --undo-max-size
    // --undo (an empty ID), --undo-run ID, --history: a journal command
    // instead of a run.
    enum class JournalCommand
    {
        None,
        Undo,
        History,
    };
    JournalCommand journalCommand = JournalCommand::None;
    QString undoRun;
    bool help = false;
    bool version = false;
};

struct BatchParse
{
    BatchOptions options;
    QString error; // empty when the command line is usable
    bool ok() const { return error.isEmpty(); }
};

// A side of a pair: a notation's batch prefix (kNotations, in any case) and
// the text; anything else is a Characters text as it stands.
void ParseSide(const QString &side, Notation &notation, QString &text);

// The arguments after the program name, each decoded like a path
// (DecodeNativePath), so a file name that is no valid UTF-8 keeps its bytes.
QStringList DecodeArguments(int argc, const char *const argv[]);

// A command line being parsed (batchoptions.cpp).
struct BatchParser;

// An option of perrox-batch. The table of them is what the parser knows and
// what --help lists, in its order.
struct BatchOption
{
    const char *name; // "--replace-as"
    const char *value; // the name of its value in --help, "FOLDER"; "" for an option that takes none
    const char *group; // the heading --help lists it under
    const char *help; // its text in --help; each "\n" starts a line under the text column
    // What the option does to the command line being parsed, given its value
    // ("" for an option that takes none).
    void (*apply)(BatchParser &parser, const QString &value);
};

// Every option perrox-batch knows, in the order --help lists them.
std::span<const BatchOption> BatchOptionTable();

// The short name of an option ("-i" for "--ignore-case"); empty for none.
QString ShortOptionName(const QString &name);

// Parses the arguments after the program name. Options may be written
// "--name VALUE" or "--name=VALUE"; "--" ends the options.
BatchParse ParseBatchArguments(const QStringList &arguments);

// The --help text.
QString BatchUsage();

} // namespace perrox
