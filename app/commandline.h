#pragma once

#include <QStringList>

#include <optional>

namespace perrox {

// What the window's command line asks for: perrox [OPTION]... [FILE_OR_FOLDER]...
struct CommandLine
{
    bool help = false; // --help, -h
    bool version = false; // --version, -v
    QString error; // the first unknown option, "unknown option '-x'"; empty when none
    QStringList paths; // the files and folders, in the order given, absolute and clean

    friend bool operator==(const CommandLine &, const CommandLine &) = default;
};

// Reads the arguments after the program name. "--" ends the options; any
// other argument that starts with "-" (but "-" alone) is an option. A path is
// made absolute against the current folder and cleaned ("." and ".." and
// doubled "/" go, links are not resolved), as the file manager drops paths;
// an empty argument names nothing. After an unknown option the rest is still
// read, so --help and --version are found wherever they stand.
CommandLine ParseCommandLine(const QStringList &arguments);

// The --help and --version texts, each ending with a line end.
QString CommandLineUsage();
QString CommandLineVersion();

// main's command line, read in two steps around QApplication, which needs a
// display and takes its own options (-platform NAME, -style NAME ...) out of
// argv. argv's arguments are decoded like paths (DecodeNativePath), so a name
// that is no valid UTF-8 keeps its bytes.
class StartArguments
{
public:
    StartArguments(int argc, const char *const argv[]);

    // Before QApplication: --help or --version before "--" is answered on
    // standard output, exit status 0. Nothing else is decided yet: Qt's
    // options are still in argv, and they are no unknown options.
    std::optional<int> answerWithoutWindow() const;
    // The argument count QApplication gets and changes: the program and what
    // stands before "--", so that after it even "-style" is a file name.
    int &qtArgumentCount() { return m_qtCount; }
    // After QApplication: what it left of argv, then "--" and what follows.
    // An unknown option is reported on standard error, exit status 2.
    std::optional<int> readWhatQtLeft(const char *const argv[]);
    // The files and folders for the file list, once read.
    const QStringList &paths() const { return m_commandLine.paths; }

private:
    QStringList m_arguments; // all of them, after the program name
    qsizetype m_end; // the index of "--" in m_arguments, or its size
    int m_qtCount;
    CommandLine m_commandLine;
};

} // namespace perrox
