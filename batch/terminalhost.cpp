#include "terminalhost.h"

#include "files/filesystem.h"

#include <QTextStream>

#include <algorithm>
#include <cstdio>
#include <string>
#include <sys/ioctl.h>
#include <unistd.h>

namespace perrox {

namespace {

// Every "\r\n" or lone "\r" becomes a line break. The text is encoded as a
// path is, so the paths in it come out as their own bytes.
QByteArray terminalText(const QString &text)
{
    QString t = text;
    t.replace(QLatin1String("\r\n"), QLatin1String("\n"));
    t.replace(QLatin1Char('\r'), QLatin1Char('\n'));
    return NativePath(t);
}

int terminalWidth()
{
    struct winsize ws;
    if (::ioctl(STDERR_FILENO, TIOCGWINSZ, &ws) == 0 && ws.ws_col > 20)
        return ws.ws_col;
    return 80;
}

} // namespace

QByteArray TerminalName(const QString &path)
{
    const QByteArray bytes = NativePath(path);
    const auto control = [](char c) { return uchar(c) < 0x20 || uchar(c) == 0x7f; };
    if (std::none_of(bytes.begin(), bytes.end(), control))
        return bytes;
    QByteArray quoted;
    bool inQuotes = false;
    for (const char c : bytes) {
        if (control(c)) {
            if (inQuotes)
                quoted += '\'';
            inQuotes = false;
            static const char letters[] = "abtnvfr"; // \a (7) to \r (13)
            char escape[8];
            if (c >= 7 && c <= 13)
                std::snprintf(escape, sizeof escape, "\\%c", letters[c - 7]);
            else
                std::snprintf(escape, sizeof escape, "\\%03o", uchar(c));
            quoted += "$'" + QByteArray(escape) + '\'';
            continue;
        }
        if (!inQuotes)
            quoted += '\'';
        inQuotes = true;
        if (c == '\'')
            quoted += "'\\''";
        else
            quoted += c;
    }
    if (inQuotes)
        quoted += '\'';
    return quoted;
}

QString ProgressBarLine(int percent, const QString &file, int width)
{
    constexpr int barWidth = 30;
    const int filled = percent * barWidth / 100;
    QString line = QLatin1Char('[') + QString(filled, QLatin1Char('#')) + QString(barWidth - filled, QLatin1Char('.')) + QLatin1String("] ")
        + QString::number(percent).rightJustified(3) + QLatin1String("%  ");
    const int room = width - 1 - int(line.size());
    if (file.size() <= room)
        return line + file;
    qsizetype cut = file.size() - std::max(0, room - 3);
    if (cut < file.size() && file.at(cut).isLowSurrogate() && file.at(cut - 1).isHighSurrogate())
        ++cut;
    return line + QLatin1String("...") + file.mid(cut);
}

MessageSink::Answer TerminalSink::show(const QString &text, Icon, Buttons buttons, const QString &)
{
    if (beforeOutput)
        beforeOutput(beforeOutputContext);
    std::fflush(stdout);
    std::fputs(terminalText(text).constData(), stderr);
    if (buttons == Buttons::Ok) {
        std::fputc('\n', stderr);
        std::fflush(stderr);
        return Answer::Ok;
    }
    std::fputs(" [y/N] ", stderr);
    std::fflush(stderr);
    if (!::isatty(STDIN_FILENO)) {
        std::fputs("n\n", stderr);
        return Answer::No;
    }
    std::string line;
    for (int c; (c = std::fgetc(stdin)) != EOF && c != '\n';)
        line.push_back(char(c));
    const QString answer = QString::fromLocal8Bit(line.c_str()).trimmed().toLower();
    if (answer == QLatin1String("y") || answer == QLatin1String("yes"))
        return Answer::Yes;
    return Answer::No;
}

void TerminalSink::beep()
{
    if (::isatty(STDERR_FILENO)) {
        std::fputc('\a', stderr);
        std::fflush(stderr);
    }
}

volatile std::sig_atomic_t TerminalHost::interrupted = 0;

void TerminalHost::installInterruptHandler()
{
    struct sigaction action = {};
    action.sa_handler = [](int) { interrupted = 1; };
    sigemptyset(&action.sa_mask);
    action.sa_flags = 0; // no SA_RESTART: a prompt waiting for input gives up
    for (const int signal : {SIGINT, SIGTERM, SIGHUP})
        ::sigaction(signal, &action, nullptr);
}

TerminalHost::TerminalHost(const QStringList &paths, bool progressBar, bool countLines)
    : m_paths(paths)
    , m_bar(progressBar && ::isatty(STDERR_FILENO))
    , m_countLines(countLines)
{
    m_sink.beforeOutput = &TerminalHost::clearBarCallback;
    m_sink.beforeOutputContext = this;
}

void TerminalHost::setRowCount(int row, const QString &cell)
{
    if (!m_countLines)
        return;
    clearBar();
    const QByteArray line = NativePath(cell + QLatin1String("  ")) + TerminalName(m_paths.at(row)) + '\n';
    // Buffered: a terminal sees each line at its end, a pipe or file in
    // large writes; every message flushes it first.
    std::fwrite(line.constData(), 1, size_t(line.size()), stdout);
}

void TerminalHost::beginRun(const QString &, double total)
{
    m_total = total;
    m_percent = -1;
}

void TerminalHost::showFile(const QString &status1, const QString &status2)
{
    m_file = status2.isEmpty() ? status1 : status1 + QLatin1Char(' ') + status2;
    if (!m_bar)
        return;
    m_percent = std::max(m_percent, 0);
    drawBar();
}

void TerminalHost::progress(double position)
{
    if (!m_bar)
        return;
    const int percent = m_total > 0 ? std::min(100, int(position * 100.0 / m_total)) : 0;
    if (percent == m_percent)
        return;
    m_percent = percent;
    drawBar();
}

void TerminalHost::drawBar()
{
    std::fputs(("\r\033[K" + NativePath(ProgressBarLine(m_percent, m_file, terminalWidth()))).constData(), stderr);
    std::fflush(stderr);
    m_barShown = true;
}

void TerminalHost::clearBar()
{
    if (!m_barShown)
        return;
    std::fputs("\r\033[K", stderr);
    std::fflush(stderr);
    m_barShown = false;
}

void TerminalHost::endRun()
{
    clearBar();
}

} // namespace perrox
