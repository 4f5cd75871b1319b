#pragma once

#include "app/preferences.h"
#include "app/recentfiles.h"
#include "engine/processfiles.h"
#include "engine/replaceengine.h"
#include "files/foldermasks.h"

#include <QElapsedTimer>
#include <QMainWindow>
#include <QPointer>

#include <array>
#include <functional>
#include <memory>

class QAction;
class QFrame;
class QGroupBox;
class QLabel;
class QLineEdit;
class QMenu;
class QPushButton;
class QRadioButton;
class QSettings;
class QTreeWidget;

namespace perrox {

struct ArgumentTags;
class ArgumentListView;
class FileListView;
class MessageSink;
class NotationField;
class ProgressWindow;

// Form1, the main window: the argument list above, the file list below, the
// two edit frames for a new argument, the command buttons, the menus and the
// status bar. Each control hands its event to the operation that owns it.
class MainWindow : public QMainWindow, public RunHost
{
    Q_OBJECT

public:
    // messages: the message layer every box, beep and busy pointer goes
    // through; the window's own QMessageBox layer when null. preferencesFile:
    // the preferences store; the user's own when empty.
    explicit MainWindow(MessageSink *messages = nullptr, const QString &preferencesFile = QString(), QWidget *parent = nullptr);
    ~MainWindow() override;

    // Finishes the rewrites in place that a run left unfinished when the
    // program died, and says so in one message; called once the window shows.
    void FinishInterruptedRewrites();

    // The menu entry or separator of that name (IDM_ADD, IDM_FILE_SPACE3 ...).
    QAction *action(const QString &name) const;
    QMenu *findReplaceMenu() const { return m_findReplaceMenu; }

    ArgumentListView *lvwFind() const { return m_lvwFind; }
    FileListView *lvwFiles() const { return m_lvwFiles; }
    QLineEdit *edSearch() const { return m_edSearch; }
    QLineEdit *edReplace() const { return m_edReplace; }
    QRadioButton *option(int side, int notation) const { return m_options[side][notation]; }
    NotationField *findField() const { return m_findField; }
    NotationField *replaceField() const { return m_replaceField; }
    QPushButton *cmdReplace() const { return m_cmdReplace; }
    QPushButton *cmdReplaceAs() const { return m_cmdReplaceAs; }
    QPushButton *cmdAddParam() const { return m_cmdAddParam; }
    QPushButton *cmdRemoveParam() const { return m_cmdRemoveParam; }
    QPushButton *cmdParamUp() const { return m_cmdParamUp; }
    QPushButton *cmdParamDown() const { return m_cmdParamDown; }
    QGroupBox *frmFind() const { return m_frmFind; }
    QGroupBox *frmReplace() const { return m_frmReplace; }
    QString statusText() const;
    bool ctrlKeyDown() const { return m_ctrlKeyDown; }
    ProgressWindow *progressWindow() const;
    EngineState &engineState() { return m_engine; }
    ReplaceAsSettings &replaceAsSettings() { return m_replaceAs; }

    // Argument list operations.
    void AddArgument();
    void EditArgument();
    void RemoveArguments();
    void ClearArguments();
    void MoveArgumentUp();
    void MoveArgumentDown();
    FindReplaceArguments CollectArguments() const;

    // File list.
    void AddFilesByDialog();
    void AddFileToList(const QString &path);
    // A drop from the file manager: folders are scanned, other paths added.
    void DropFiles(const QStringList &paths);
    void RemoveSelectedFiles();
    void SelectAllFiles();
    void InvertFileSelection();
    void SortByColumn(int column);
    QString addFolder() const { return m_addDir; }
    void setAddFolder(const QString &folder) { m_addDir = folder; }
    // True while a drop, a folder scan or a removal is under way.
    bool fileListBusy() const { return m_fileListBusy; }
    // Replaces the file dialog of Add Files: start folder in, chosen full paths out (tests).
    std::function<QStringList(const QString &startFolder)> openFilesHook;

    // Count, Replace, Replace As.
    RunResult ProcessFiles(RunMode mode);

    FolderMasks &folderMasks() { return m_masks; }
    const RecentFiles &recentFiles() const { return m_recent; }
    const Preferences &preferences() const { return m_preferences; }
    void AddRecentFile(const QString &path);
    // File > Exit and the close box: every preference is written, then the window closes.
    void SaveSettingsAndUnload();

    void UpdateCommands();
    void ArrangeControls();
    void SetStatusText(const QString &text);

    // The shortest pause between two rounds of window events during a run,
    // in milliseconds (0: after every block).
    void setEventPumpInterval(int milliseconds) { m_pumpInterval = milliseconds; }
    // Called once the progress window of a run is shown (tests answer it).
    std::function<void(ProgressWindow *)> onRunStarted;
    // Opens the help file and web addresses; the desktop's handler when empty (tests record).
    std::function<void(const QUrl &)> openUrlHook;
    // Argument files.
    void SaveArguments();
    void LoadArguments(const QString &path);
    // Replaces the file dialog of Save and Load Arguments: true for a save
    // dialog; the chosen path out, empty when cancelled (tests).
    std::function<QString(bool save)> argumentFileDialogHook;
    // Replaces the Save As dialog of Replace As (tests).
    std::function<bool(ReplaceAsSettings &)> chooseTargetHook;

    // RunHost
    MessageSink &messages() override;
    int rowCount() const override;
    QString rowPath(int row) const override;
    void setRowCount(int row, const QString &cell) override;
    void setStatusText(const QString &text) override { SetStatusText(text); }
    QString fileListStatusText() const override;
    bool chooseReplaceAsTarget(ReplaceAsSettings &settings) override;
    void beginRun(const QString &caption, double total) override;
    void showFile(const QString &status1, const QString &status2) override;
    void endRun() override;
    void progress(double position) override;
    bool cancelRequested() override;
    void pumpEvents() override;

protected:
    void resizeEvent(QResizeEvent *event) override;
    void keyPressEvent(QKeyEvent *event) override;
    void closeEvent(QCloseEvent *event) override;
    bool eventFilter(QObject *watched, QEvent *event) override;
    void changeEvent(QEvent *event) override;

private:
    void createControls();
    void createMenus();
    QAction *addMenuAction(
        QMenu *menu, const QString &name, const QString &caption, void (MainWindow::*slot)() = nullptr, const QKeySequence &shortcut = QKeySequence());
    QAction *addSeparator(QMenu *menu, const QString &name);
    void Form_Load();
    void RestoreWindowPlacement(const StoredPlacement &stored);
    StoredPlacement SaveWindowPlacement() const;
    void showRecentEntries();
    ArgumentTags argumentTags() const;
    QString askArgumentFile(bool save);
    std::unique_ptr<QSettings> openPreferenceStore() const;
    void savePreferences();
    void showOptions();
    void showAbout();
    void finishAdding(bool selectLast);
    bool refuseWhileFileListBusy();
    void Form_Resize();

    std::unique_ptr<MessageSink> m_ownMessages;
    MessageSink *m_messages;

    QWidget *m_client = nullptr;
    std::array<QFrame *, 2> m_lineMenu {};
    QGroupBox *m_frmFind = nullptr;
    QGroupBox *m_frmReplace = nullptr;
    std::array<std::array<QRadioButton *, 3>, 2> m_options {};
    QLineEdit *m_edSearch = nullptr;
    QLineEdit *m_edReplace = nullptr;
    QPushButton *m_cmdReplace = nullptr;
    QPushButton *m_cmdReplaceAs = nullptr;
    QPushButton *m_cmdAddParam = nullptr;
    QPushButton *m_cmdRemoveParam = nullptr;
    QPushButton *m_cmdParamUp = nullptr;
    QPushButton *m_cmdParamDown = nullptr;
    ArgumentListView *m_lvwFind = nullptr;
    FileListView *m_lvwFiles = nullptr;
    QLabel *m_status = nullptr;
    QMenu *m_findReplaceMenu = nullptr;
    NotationField *m_findField = nullptr;
    NotationField *m_replaceField = nullptr;

    bool m_editKey = false; // bEditKey
    bool m_ctrlKeyDown = false; // CtrlKeyDown
    double m_twipsPerPixel = 15;

    EngineState m_engine;
    ReplaceAsSettings m_replaceAs;
    bool m_running = false;
    bool m_fileListBusy = false;
    QString m_addDir; // the folder the Add Files dialog opens in
    FolderMasks m_masks;
    RecentFiles m_recent;
    QString m_preferencesFile;
    Preferences m_preferences; // as read at start; the tags are used from here
    bool m_unloaded = false;
    Qt::SortOrder m_sortOrder = Qt::DescendingOrder;
    int m_lastSortedColumn = 0;
    QPointer<ProgressWindow> m_progress;
    QElapsedTimer m_sincePump;
    int m_pumpInterval = 10;

    // What a run shows is gathered between event rounds and put on screen
    // at once just before the next round, a message or the end of the run:
    // a file's name and its Count cell cost nothing until they can be seen.
    void showPending();
    class PendingFirstSink;
    std::unique_ptr<PendingFirstSink> m_runMessages;
    QString m_pendingStatus1;
    QString m_pendingStatus2;
    bool m_statusPending = false;
    std::vector<std::pair<int, QString>> m_pendingCells;
};

} // namespace perrox
