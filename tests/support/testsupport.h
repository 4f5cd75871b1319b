#pragma once

#include "base/messagesink.h"
#include "commit/temporaryfile.h"
#include "engine/processfiles.h"
#include "engine/replaceengine.h"
#include "files/filesystem.h"

#include <QByteArray>
#include <QList>
#include <QStringList>
#include <QTemporaryDir>
#include <QTest>

#include <cerrno>
#include <cstdio>
#include <functional>
#include <optional>
#include <sys/stat.h>
#include <vector>

// A check inside a child process (RunUnprivileged, RunInChild): prints the
// failed condition and ends the child with a code naming its line.
#define CHILD_CHECK(cond)                                                                                                                                      \
    do {                                                                                                                                                       \
        if (!(cond)) {                                                                                                                                         \
            std::fprintf(stderr, "child check failed at line %d: %s\n", __LINE__, #cond);                                                                      \
            return 1 + __LINE__ % 250;                                                                                                                         \
        }                                                                                                                                                      \
    } while (0)

namespace perrox::test {

// The notations by their type codes, for short argument lists.
inline constexpr Notation Asc = Notation::Characters, Dec = Notation::Decimal, Hex = Notation::Hexadecimal, Utf = Notation::Utf8, Rgx = Notation::Regex;

// Records every message and answers questions from a script (No when the
// script has run out), so no test ever waits on a dialog.
class RecordingSink : public MessageSink
{
public:
    struct Shown
    {
        QString text;
        Icon icon;
        Buttons buttons;
        QString title;
        QString checkBox; // a check box's text, empty without one, and its state as shown
        bool checkedBefore = false;
    };

    Answer show(const QString &text, Icon icon, Buttons buttons, const QString &title) override;
    // The box is left as the next of checkAnswers says (as shown when none is left).
    Answer showWithCheckBox(const QString &text, Icon icon, Buttons buttons, const QString &title, CheckBox &box) override
    {
        const Answer answer = show(text, icon, buttons, title);
        shown.last().checkBox = box.text, shown.last().checkedBefore = box.checked;
        box.checked = checkAnswers.isEmpty() ? box.checked : checkAnswers.takeFirst();
        return answer;
    }
    void beep() override { ++beeps; }
    void setBusy(bool busy) override;

    QStringList texts() const;

    QList<Shown> shown;
    QList<Answer> answers;
    QList<bool> checkAnswers;
    std::function<void()> onShow; // called as each message is shown
    int beeps = 0;
    int busyDepth = 0;
    int busyOnCount = 0;
};

// Collects the output in memory; can fail to open, or to write past failAfter bytes.
class MemoryOutput : public ReplaceOutput
{
public:
    bool open() override
    {
        ++opens;
        m_error = openError;
        return openError == 0;
    }
    bool write(const char *data, qint64 len) override
    {
        if (failAfter >= 0 && bytes.size() + len > failAfter) {
            m_error = ENOSPC;
            return false;
        }
        bytes.append(data, len);
        return true;
    }
    bool close() override { return true; }
    bool discards() const override { return discard; }
    QString path() const override { return QStringLiteral("memory"); }
    QString errorString() const override { return SystemErrorText(m_error); }

    QByteArray bytes;
    bool discard = false;
    int openError = 0;
    qint64 failAfter = -1;
    int opens = 0;

private:
    int m_error = 0;
};

// Records the positions.
class RecordingObserver : public ReplaceObserver
{
public:
    void progress(double position) override { positions.append(position); }
    bool cancelRequested() override { return cancelWhen && cancelWhen(); }
    void pumpEvents() override { ++pumps; }

    QList<double> positions;
    std::function<bool()> cancelWhen;
    int pumps = 0;
};

// A run host with an in-memory file list that records what the run shows.
class ScriptedHost : public RunHost
{
public:
    explicit ScriptedHost(const QStringList &paths = {})
        : paths(paths)
        , cells(paths.size())
    { }

    // Runs a command with the host's settings and engine state.
    RunResult run(RunMode mode, const FindReplaceArguments &arguments) { return ProcessArguments(mode, arguments, settings, state, *this, undo, keepTimes); }
    RunResult run(RunMode mode, const QString &find, const QString &replace) { return run(mode, {{.findText = find, .replaceText = replace}}); }

    MessageSink &messages() override { return sink; }
    int rowCount() const override { return int(paths.size()); }
    QString rowPath(int row) const override { return paths.at(row); }
    void setRowCount(int row, const QString &cell) override { cells[row] = cell; }
    void setStatusText(const QString &text) override { statusTexts.append(text); }
    QString fileListStatusText() const override { return QString::number(paths.size()) + QLatin1String(" files"); }
    bool chooseReplaceAsTarget(ReplaceAsSettings &settings) override;
    void beginRun(const QString &caption, double total) override { log.append(QStringLiteral("begin %1 %2").arg(caption).arg(qint64(total))); }
    void showFile(const QString &status1, const QString &status2) override { log.append(QStringLiteral("file %1|%2").arg(status1, status2)); }
    void endRun() override { log.append(QStringLiteral("end")); }
    void progress(double position) override { positions.append(position); }
    bool cancelRequested() override { return cancelled || (cancelWhen && (cancelled = cancelWhen())); }
    void pumpEvents() override { onPump(); }
    // Where a test plays another process: between the read and the commit.
    void beforeCommit(int row) override { onBeforeCommit(row); }
    void resultsFlushed(const std::vector<int> &rows) override { onResultsFlushed(rows); }

    RecordingSink sink;
    QStringList paths;
    QStringList cells; // "Count" cells, "" until written
    QStringList statusTexts;
    QStringList log; // "save dialog", "begin <caption> <total>", "file <status1>|<status2>", "end"
    QList<double> positions;
    bool cancelled = false;
    std::function<bool()> cancelWhen;
    std::function<void(int)> onBeforeCommit = [](int) {};
    std::function<void(const std::vector<int> &)> onResultsFlushed = [](const std::vector<int> &) {};
    std::function<void()> onPump = [] {};
    // Replace As: what the Save As dialog answers.
    bool targetChosen = true;
    std::optional<ReplaceAsSettings> chosenSettings;
    // What run() passes to ProcessFiles.
    ReplaceAsSettings settings;
    EngineState state;
    UndoSettings undo {false};
    bool keepTimes = false;
};

// Runs body in a child process. As root the child first drops to the user
// nobody, so permission bits apply as for any user. Returns the child's exit
// code, or -1 when it did not exit normally.
int RunUnprivileged(const std::function<int()> &body);
// Runs this test program again as `nobody`, with PERROX_CHILD_CASE set to
// caseName, the arguments in PERROX_CHILD_ARGS (joined by newlines) and a
// runtime folder of its own, and returns its exit code. For code that needs
// a window: a forked child of a process with windows can hang on locks held
// by threads that did not follow.
int RunSelfUnprivileged(const QString &caseName, const QStringList &arguments);
// The arguments a child started by RunSelfUnprivileged was given.
QStringList ChildArguments();
// Runs body in a child process as the current user.
int RunInChild(const std::function<int()> &body);

// Runs Replace of find by replace on path in a child process that is killed
// after the first chunk (chunk bytes) of a rewrite in place, as if the
// program had died there; path must have several hard links. True when the
// child died as planned.
bool InterruptRewriteInPlace(const QString &path, const QByteArray &find, const QByteArray &replace, qint64 chunk);

// Leaves what a rewrite in place leaves when its program dies right after
// it kept the result and wrote its record: path is to become result, the
// record says so, and nothing is written to path yet. False on a failure.
bool LeaveInterruptedRewrite(const QString &path, const QByteArray &result);

// A Unix socket at path that nobody listens on: it lives as long as its name.
bool MakeSocket(const QString &path);
// Gives a file (not a link's end) a modification time long past, so that
// any later write shows in it, however close it follows.
bool AgeFile(const QString &path);

// One row per case of a table, by its name (a member "name", or a tuple's first column); the test fetches the case's
// index as "row".
template<typename Case, std::size_t N> void AddRows(const Case (&cases)[N])
{
    QTest::addColumn<int>("row");
    for (std::size_t i = 0; i < N; ++i) {
        if constexpr (requires { cases[i].name; })
            QTest::newRow(cases[i].name) << int(i);
        else
            QTest::newRow(std::get<0>(cases[i])) << int(i);
    }
}

// What stat() says of path; all zero when it fails.
struct stat StatOf(const QString &path);

// Deterministic test data.
QByteArray RandomBytes(quint32 seed, qsizetype size, const QByteArray &alphabet = {});

// Paths are encoded with NativePath, so a name that is no valid UTF-8 works.
QByteArray ReadFile(const QString &path);
bool WriteFile(const QString &path, const QByteArray &bytes);
// Writes folder/name and returns its path.
QString WriteFileIn(const QString &folder, const QString &name, const QByteArray &bytes);
// Names in folder that look like the program's temporary files ("~PX*.tmp")
// or the folder of a run ("perrox-*"), with the temporary files inside such
// a folder as "perrox-.../~PX*.tmp".
QStringList TemporaryFilesIn(const QString &folder);

// Sets an environment variable (unsets it for nullopt) for one scope.
class EnvironmentGuard
{
public:
    EnvironmentGuard(const char *name, const std::optional<QByteArray> &value);
    ~EnvironmentGuard() { set(m_old); }
    EnvironmentGuard(const EnvironmentGuard &) = delete;
    EnvironmentGuard &operator=(const EnvironmentGuard &) = delete;

private:
    void set(const std::optional<QByteArray> &value);
    const char *m_name;
    std::optional<QByteArray> m_old;
};

// Points XDG_STATE_HOME, where records of rewrites in place are kept, at a
// folder of its own for one scope, open to every user so that unprivileged
// children can keep their records there too.
class StateFolderGuard
{
public:
    StateFolderGuard();
    StateFolderGuard(const StateFolderGuard &) = delete;
    StateFolderGuard &operator=(const StateFolderGuard &) = delete;
    // The folder of the records (XDG_STATE_HOME/perrox) and what is in it.
    QString recordFolder() const;
    QStringList records() const;

private:
    QTemporaryDir m_dir;
    std::optional<EnvironmentGuard> m_variable;
};

} // namespace perrox::test
