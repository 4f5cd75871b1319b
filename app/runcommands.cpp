#include "runcommands.h"

#include "app/runwindowhost.h"
#include "base/messagesink.h"
#include "engine/targetplan.h"
#include "files/filelistview.h"
#include "files/filenames.h"
#include "files/filesystem.h"

#include <QAction>
#include <QLocale>
#include <QMenu>

namespace perrox {

namespace {

const QLatin1String kCrLf("\r\n");

// n and its noun, with thousands separators: "2,543 files", "1 file".
QString Counted(qint64 n, const char *one, const char *many)
{
    return QLocale(QLocale::English, QLocale::UnitedStates).toString(n) + QLatin1Char(' ') + QLatin1String(n == 1 ? one : many);
}

} // namespace

RunCommands::RunCommands(const Window &window, QObject *parent)
    : QObject(parent)
    , m_window(window)
{
    connect(m_window.list, &QTreeWidget::itemSelectionChanged, this, &RunCommands::updateCommands);
}

void RunCommands::addSelectedCommands(QMenu *menu, const std::function<void(RunMode)> &run)
{
    const auto add = [&](const QString &name, const QString &caption, RunMode mode) {
        QAction *action = menu->addAction(caption);
        action->setObjectName(name);
        connect(action, &QAction::triggered, this, [run, mode] { run(mode); });
        m_selectedCommands.append(action);
    };
    menu->addSeparator()->setObjectName(QStringLiteral("IDM_ACTIONS_SPACE1"));
    add(QStringLiteral("IDM_REPLACE_SELECTED"), QStringLiteral("Replace in &Selected Files"), RunMode::Replace);
    add(QStringLiteral("IDM_COPYREPLACE_SELECTED"), QStringLiteral("Replace As in Selected &Files..."), RunMode::ReplaceAs);
    auto *separator = new QAction(this);
    separator->setSeparator(true);
    m_window.list->addAction(separator);
    m_window.list->addActions(m_selectedCommands);
    updateCommands();
}

void RunCommands::updateCommands()
{
    const bool selected = !m_window.list->selectedItems().isEmpty();
    for (QAction *action : std::as_const(m_selectedCommands))
        action->setEnabled(selected);
}

std::vector<bool> RunCommands::includedRows(bool selectedOnly) const
{
    std::vector<bool> rows(size_t(m_window.list->topLevelItemCount()), true);
    if (selectedOnly) {
        for (size_t row = 0; row < rows.size(); ++row)
            rows[row] = m_window.list->topLevelItem(int(row))->isSelected();
    }
    return rows;
}

QStringList RunCommands::pathsOf(const std::vector<bool> &included) const
{
    QStringList paths;
    for (size_t row = 0; row < included.size(); ++row) {
        if (included[row])
            paths.append(m_window.list->path(int(row)));
    }
    return paths;
}

std::optional<qint64> RunCommands::countedBefore(const FindReplaceArguments &pairs, const QStringList &paths) const
{
    if (m_lastCount && m_lastCount->pairs == pairs && m_lastCount->paths == paths)
        return m_lastCount->occurrences;
    return std::nullopt;
}

RunResult RunCommands::run(RunMode mode, bool selectedOnly, const FindReplaceArguments &pairs, ReplaceAsSettings &settings, EngineState &state,
    const UndoSettings &undo, bool keepTimes)
{
    RunWindowHost &host = m_window.host;
    const std::vector<bool> included = includedRows(selectedOnly);
    const QStringList paths = pathsOf(included);
    RunResult result;
    if (paths.isEmpty())
        return result;
    // The pairs are checked before anything is asked.
    const std::optional<ArgumentTables> tables = BuildArgumentTables(pairs, host.messages());
    if (!tables) {
        result.end = RunResult::End::ArgumentError;
        return result;
    }
    const Scope scope {mode, paths.size(), selectedOnly, tables->pairCount(), countedBefore(pairs, paths), 0, {}};
    if (mode == RunMode::Replace && !confirm(scope)) {
        result.end = RunResult::End::TargetCancelled;
        return result;
    }
    // Replace As asks once its target is known, where it overwrites existing
    // files without asking for each.
    host.setTargetCheck([this, scope](const ReplaceAsSettings &chosen, const QStringList &sources) {
        if (chosen.outoverwrite != 1)
            return true;
        Scope overwrite = scope;
        overwrite.folder = chosen.outpath;
        // Where the results go, as the run will put them (kept folders
        // included); a file listed twice is written once.
        const std::vector<FileId> ids = FileIdsOf(sources);
        const std::vector<int> sameAs = SameFileRows(ids);
        const TargetPlan targets = PlanTargets(sources, ids, sameAs, chosen.outpath, chosen);
        for (qsizetype i = 0; i < targets.relative.size(); ++i)
            if (sameAs[size_t(i)] < 0)
                overwrite.overwritten += FileExists(TargetPath(chosen.outpath, targets.relative[i])) ? 1 : 0;
        return overwrite.overwritten == 0 || confirm(overwrite);
    });
    host.setIncludedRows(selectedOnly ? included : std::vector<bool>());
    result = ProcessFiles(mode, *tables, settings, state, host, undo, keepTimes);
    host.setIncludedRows({});
    host.setTargetCheck({});
    m_lastCount.reset();
    if (mode == RunMode::Count && result.end == RunResult::End::Completed && result.failedFiles == 0) {
        qint64 occurrences = 0;
        for (const RowResult &row : result.rows)
            occurrences += row.count;
        m_lastCount = LastCount {pairs, paths, occurrences};
    }
    return result;
}

bool RunCommands::confirm(const Scope &scope)
{
    if (!m_window.askFirst)
        return true;
    MessageSink::CheckBox box {DoNotAskText(), false};
    const MessageSink::Answer answer
        = m_window.messages.showWithCheckBox(Question(scope), MessageSink::Icon::Question, MessageSink::Buttons::YesNo, MessageSink::programTitle(), box);
    if (answer != MessageSink::Answer::Yes)
        return false;
    // Only a Yes is a choice never to be asked again.
    if (box.checked)
        m_window.askFirst = false;
    return true;
}

QString RunCommands::Question(const Scope &scope)
{
    QString text = QLatin1String(scope.mode == RunMode::ReplaceAs ? "Replace As in " : "Replace in ")
        + Counted(scope.files, scope.selected ? "selected file?" : "file?", scope.selected ? "selected files?" : "files?");
    text += kCrLf + kCrLf + QLatin1String("with ") + Counted(scope.pairs, "Find&Replace pair.", "Find&Replace pairs.");
    if (scope.counted)
        text += kCrLf + QLatin1String("The Count just before found ") + Counted(*scope.counted, "occurrence.", "occurrences.");
    if (scope.overwritten > 0) {
        text += kCrLf + kCrLf + Counted(scope.overwritten, "file", "files") + QLatin1String(" in ") + scope.folder
            + QLatin1String(scope.overwritten == 1 ? " already exists" : " already exist") + QLatin1String(" and will be overwritten without asking.");
    }
    return text;
}

} // namespace perrox
