#pragma once

#include "engine/processfiles.h"

#include <QObject>
#include <QStringList>

#include <functional>
#include <optional>

class QAction;
class QMenu;

namespace perrox {

class FileListView;
class RunWindowHost;

// What stands between a command of the window and its run: the question
// before Replace rewrites the files (and before Replace As overwrites
// existing files without asking per file), with its "Do not ask again"; the
// last complete Count, whose occurrences the question quotes; and the runs
// over the selected rows only, with their commands in the Actions menu and
// the file list's context menu.
class RunCommands : public QObject
{
public:
    struct Window
    {
        FileListView *list;
        RunWindowHost &host;
        MessageSink &messages;
        // The preference "AskFirst", which "Do not ask again" turns off.
        bool &askFirst;
    };
    RunCommands(const Window &window, QObject *parent);

    // "Replace in Selected Files" and "Replace As in Selected Files..." at
    // the end of menu and of the file list's context menu; each calls run
    // with its mode.
    void addSelectedCommands(QMenu *menu, const std::function<void(RunMode)> &run);
    // The selected commands are enabled while a row is selected.
    void updateCommands();

    // Runs mode over every row, or over the selected ones, once the pairs
    // passed their checks and the user answered Yes where asked. No to the
    // question ends as a cancelled Save As dialog does: nothing touched.
    RunResult run(RunMode mode, bool selectedOnly, const FindReplaceArguments &pairs, ReplaceAsSettings &settings, EngineState &state, const UndoSettings &undo,
        bool keepTimes);

    // The question: "Replace in 2,543 files?", the number of pairs, the
    // occurrences of the Count just before (when known) and, for Replace As,
    // how many existing targets it overwrites in folder.
    struct Scope
    {
        RunMode mode = RunMode::Replace;
        qint64 files = 0;
        bool selected = false;
        qint64 pairs = 0;
        std::optional<qint64> counted;
        qint64 overwritten = 0;
        QString folder;
    };
    static QString Question(const Scope &scope);
    static QString DoNotAskText() { return QStringLiteral("Do not ask again"); }

private:
    // Asks the question unless the preference says not to; true for Yes.
    bool confirm(const Scope &scope);
    // The rows a run over the selection processes (all when not selectedOnly).
    std::vector<bool> includedRows(bool selectedOnly) const;
    QStringList pathsOf(const std::vector<bool> &included) const;
    std::optional<qint64> countedBefore(const FindReplaceArguments &pairs, const QStringList &paths) const;

    Window m_window;
    QList<QAction *> m_selectedCommands;
    // The last complete Count, until any other run.
    struct LastCount
    {
        FindReplaceArguments pairs;
        QStringList paths;
        qint64 occurrences = 0;
    };
    std::optional<LastCount> m_lastCount;
};

} // namespace perrox
