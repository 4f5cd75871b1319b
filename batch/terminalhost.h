#pragma once

#include "base/messagesink.h"
#include "engine/processfiles.h"

#include <QStringList>

#include <csignal>

namespace perrox {

// The progress bar's line for a terminal width columns wide: the bar, the
// percentage and as much of file as fits, cut at the front to "..." + its
// end. A character outside the BMP is never cut in half.
QString ProgressBarLine(int percent, const QString &file, int width);

// A file name as the text output shows it: its own bytes, unless it holds
// a control character (a newline, an escape sequence): then it is quoted
// as ls quotes it on a terminal, 'a'$'\n''b', so that nothing in a name can
// split a line or reach the terminal as a command.
QByteArray TerminalName(const QString &path);

// Messages on standard error with the program's own texts; the overwrite
// question is asked on the terminal when standard input is one, and answered
// No otherwise.
class TerminalSink : public MessageSink
{
public:
    Answer show(const QString &text, Icon icon, Buttons buttons, const QString &title) override;
    void beep() override;
    void setBusy(bool) override { }

    // Called before anything is written to standard error (clears a progress bar).
    void (*beforeOutput)(void *) = nullptr;
    void *beforeOutputContext = nullptr;
};

// perrox-batch's file list (the paths given), counts on standard output
// unless countLines is false, and an optional progress bar on standard error.
class TerminalHost : public RunHost
{
public:
    TerminalHost(const QStringList &paths, bool progressBar, bool countLines = true);

    // Set from the SIGINT/SIGTERM handler; cancels like the progress window.
    static volatile std::sig_atomic_t interrupted;
    static void installInterruptHandler();

    MessageSink &messages() override { return m_sink; }
    int rowCount() const override { return int(m_paths.size()); }
    QString rowPath(int row) const override { return m_paths.at(row); }
    void setRowCount(int row, const QString &cell) override;
    void setStatusText(const QString &) override { }
    QString fileListStatusText() const override { return QString(); }
    bool chooseReplaceAsTarget(ReplaceAsSettings &) override { return true; }
    void beginRun(const QString &caption, double total) override;
    void showFile(const QString &status1, const QString &status2) override;
    void endRun() override;

    void progress(double position) override;
    bool cancelRequested() override { return interrupted != 0; }
    void pumpEvents() override { }

private:
    void drawBar();
    void clearBar();
    static void clearBarCallback(void *self) { static_cast<TerminalHost *>(self)->clearBar(); }

    QStringList m_paths;
    TerminalSink m_sink;
    bool m_bar = false;
    bool m_countLines = true;
    bool m_barShown = false;
    double m_total = 0;
    int m_percent = -1;
    QString m_file;
};

} // namespace perrox
