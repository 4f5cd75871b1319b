#pragma once

#include "app/placement.h"
#include "app/preferences.h"
#include "app/recentfiles.h"
#include "app/runresults.h"
#include "engine/processfiles.h"
#include "engine/replaceengine.h"

#include <QMainWindow>

#include <array>
#include <memory>
#include <optional>

class QAction;
class QFrame;
class QGroupBox;
class QLabel;
class QLineEdit;
class QMenu;
class QPushButton;
class QRadioButton;
class QSettings;

namespace perrox {

class ArgumentEditor;
class ArgumentSplitter;
class ArgumentListView;
class FileListView;
class MatchesWindow;
class MessageSink;
class RunCommands;
class RunWindowHost;
class WindowDialogs;

// Form1, the main window: the argument list lvwFind above, the file list
// lvwFiles below, the two edit frames for a new argument, the command buttons,
// the menus and the status bar. Each control hands its event to the operation
// that owns it: the lists their own commands, a run to RunWindowHost. Tests
// find the controls by their object names.
class MainWindow : public QMainWindow
{
    Q_OBJECT

public:
    // messages: the message layer every box, beep and busy pointer goes
    // through; the window's own QMessageBox layer when null. preferencesFile:
    // the preferences store; the user's own when empty. dialogs: the file
    // dialogs, the folder chooser, the Save As dialog and the desktop's
    // handler of files and addresses; the real ones when null.
    explicit MainWindow(
        MessageSink *messages = nullptr, const QString &preferencesFile = QString(), WindowDialogs *dialogs = nullptr, QWidget *parent = nullptr);
    ~MainWindow() override;

    // Finishes the rewrites in place that a run left unfinished when the
    // program died, and says so in one message, then tidies the runs of the
    // journal such a program left; called once the window shows.
    void FinishInterruptedRewrites();

    // The files and folders of the command line, added as a drop of them from
    // the file manager is: a folder scanned under the folder masks, anything
    // else a row; nothing changes when there are none.
    void AddStartPaths(const QStringList &paths);

    // The menu entry or separator of that name (IDM_ADD, IDM_FILE_SPACE3 ...).
    QAction *action(const QString &name) const;

    // The preferences as read at start. The add folder, the folder masks and
    // the argument-file tags are used and changed here; the rest is taken
    // from the window when it closes.
    Preferences &preferences() { return m_preferences; }
    ReplaceAsSettings &replaceAsSettings() { return m_replaceAs; }
    // The shortest pause between two rounds of window events while files are
    // added or processed, in milliseconds (0: after every block or row).
    void setEventPumpInterval(int milliseconds);

    FindReplaceArguments CollectArguments() const;
    // Appends a row without the status text and UpdateCommands that a
    // command adds afterwards.
    void AddFileToList(const QString &path);
    void AddRecentFile(const QString &path);
    void UpdateCommands();
    // Edit > Undo Replace: enabled, with its caption, for the last run that
    // can be undone.
    void UpdateUndoCommand();

    // Count, Replace, Replace As, over every row or the selected ones;
    // nothing while a run or a list change is under way.
    RunResult ProcessFiles(RunMode mode, bool selectedOnly = false);
    // Replace Checked of a Matches window: the Replace of the listed occurrences of one file.
    RunResult ReplaceListedOccurrences(const QString &path, const ArgumentTables &pairs, const ListedFile &listed);
    // What the runs left: each row's result, the last run's mode and pairs,
    // File > Export Results and Show Matches (see RunResults).
    RunResults &results() { return *m_results; }
    std::optional<RowResult> rowResult(int row) const { return m_results->rowResult(row); }
    MatchesWindow *ShowMatches(int row) { return m_results->showMatches(row); }
    // File > Exit and the close box: every preference is written, then the window closes.
    void SaveSettingsAndUnload();
    // Edit > Undo Replace: asks, undoes the last run that can be undone and
    // says what it did.
    void UndoLastRun();

protected:
    void resizeEvent(QResizeEvent *event) override;
    void keyPressEvent(QKeyEvent *event) override;
    void closeEvent(QCloseEvent *event) override;
    bool eventFilter(QObject *watched, QEvent *event) override;
    void changeEvent(QEvent *event) override;

private:
    void createControls();
    void createButtons(QWidget *client);
    void createStatusBar();
    void createMenus();
    template<typename Load> void createArgumentMenu(Load load);
    template<typename Slot> QAction *addMenuAction(QMenu *menu, const QString &name, const QString &caption, Slot slot, const QKeySequence &shortcut = {});
    QAction *addSeparator(QMenu *menu, const QString &name);
    void Form_Load();
    void Form_Resize();
    void ArrangeControls();
    void showRecentEntries();
    std::unique_ptr<QSettings> openPreferenceStore() const;
    void savePreferences();

    // File list.
    QString addStartFolder();
    void AddFilesByDialog();
    void AddFolderByDialog();
    void DropFiles(const QStringList &paths);
    void fileCountChanged(const QString &statusText);

    std::unique_ptr<MessageSink> m_ownMessages;
    MessageSink *m_messages;
    std::unique_ptr<WindowDialogs> m_ownDialogs;
    WindowDialogs *m_dialogs;

    std::array<QFrame *, 2> m_lineMenu {};
    QGroupBox *m_frmFind = nullptr;
    QGroupBox *m_frmReplace = nullptr;
    QLineEdit *m_edSearch = nullptr;
    QLineEdit *m_edReplace = nullptr;
    QPushButton *m_cmdReplace = nullptr;
    QPushButton *m_cmdReplaceAs = nullptr;
    QPushButton *m_cmdCount = nullptr;
    QPushButton *m_cmdAddParam = nullptr;
    QPushButton *m_cmdRemoveParam = nullptr;
    QPushButton *m_cmdParamUp = nullptr;
    QPushButton *m_cmdParamDown = nullptr;
    ArgumentListView *m_lvwFind = nullptr;
    FileListView *m_lvwFiles = nullptr;
    QLabel *m_staTotals = nullptr;
    QMenu *m_findReplaceMenu = nullptr;
    ArgumentEditor *m_arguments = nullptr;
    std::unique_ptr<RunWindowHost> m_run;
    RunResults *m_results = nullptr;
    RunCommands *m_commands = nullptr;
    ArgumentSplitter *m_splitter = nullptr;

    bool m_ctrlKeyDown = false; // CtrlKeyDown
    double m_twipsPerPixel = 15;

    EngineState m_engine;
    ReplaceAsSettings m_replaceAs;
    RecentFiles m_recent;
    QString m_preferencesFile;
    Preferences m_preferences;
    bool m_unloaded = false;
};

} // namespace perrox
