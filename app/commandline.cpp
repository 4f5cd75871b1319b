#include "commandline.h"

#include "base/version.h"
#include "files/filenames.h"
#include "files/filesystem.h"

#include <QDir>

#include <cstdio>

namespace perrox {

namespace {

const QLatin1String kEndOfOptions("--");

QStringList decoded(int argc, const char *const argv[])
{
    QStringList arguments;
    for (int i = 1; i < argc; ++i)
        arguments.append(DecodeNativePath(QByteArray(argv[i])));
    return arguments;
}

} // namespace

CommandLine ParseCommandLine(const QStringList &arguments)
{
    CommandLine line;
    bool optionsEnded = false;
    for (const QString &arg : arguments) {
        if (optionsEnded || !arg.startsWith(QLatin1Char('-')) || arg == QLatin1String("-")) {
            if (!arg.isEmpty())
                line.paths.append(QDir::cleanPath(AbsolutePath(arg)));
        } else if (arg == kEndOfOptions) {
            optionsEnded = true;
        } else if (arg == QLatin1String("--help") || arg == QLatin1String("-h")) {
            line.help = true;
        } else if (arg == QLatin1String("--version") || arg == QLatin1String("-v")) {
            line.version = true;
        } else if (line.error.isEmpty()) {
            line.error = QStringLiteral("unknown option '%1'").arg(arg);
        }
    }
    return line;
}

QString CommandLineUsage()
{
    return QStringLiteral("Usage: perrox [OPTION]... [FILE_OR_FOLDER]...\n" PERROX_DESCRIPTION "\n"
                          "\n"
                          "Opens the Perrox window with the files and folders in its file list, in the\n"
                          "order given. A folder adds the files under it, chosen by the folder masks of\n"
                          "Tools > Options, as a folder dropped on the list does.\n"
                          "\n"
                          "Options:\n"
                          "  -h, --help     display this help and exit\n"
                          "  -v, --version  output version information and exit\n"
                          "  --             end the options: what follows is a file or folder\n"
                          "\n"
                          "The options of Qt (-platform NAME, -style NAME ...) are understood as well.\n"
                          "perrox-batch runs the same commands without a window.\n");
}

QString CommandLineVersion()
{
    return QStringLiteral("perrox " PERROX_VERSION "\n");
}

// A scan of argv of its own, without QCommandLineParser: that one needs a
// QCoreApplication, reads the arguments through a decoding that loses the
// bytes of a name that is no valid UTF-8, and would turn Qt's own options away
// as unknown.
StartArguments::StartArguments(int argc, const char *const argv[])
    : m_arguments(decoded(argc, argv))
    , m_end(m_arguments.indexOf(kEndOfOptions))
{
    if (m_end < 0)
        m_end = m_arguments.size();
    m_qtCount = int(m_end) + 1;
}

std::optional<int> StartArguments::answerWithoutWindow() const
{
    const CommandLine line = ParseCommandLine(m_arguments);
    if (!line.help && !line.version)
        return std::nullopt;
    std::fputs(NativePath(line.help ? CommandLineUsage() : CommandLineVersion()).constData(), stdout);
    return 0;
}

std::optional<int> StartArguments::readWhatQtLeft(const char *const argv[])
{
    m_commandLine = ParseCommandLine(decoded(m_qtCount, argv) + m_arguments.mid(m_end));
    if (m_commandLine.error.isEmpty())
        return std::nullopt;
    std::fprintf(stderr, "perrox: %s\nTry 'perrox --help' for more information.\n", NativePath(m_commandLine.error).constData());
    return 2;
}

} // namespace perrox
