#include "mainwindow.h"

#include "app/aboutbox.h"
#include "app/argumenteditor.h"
#include "app/argumentsplitter.h"
#include "app/help.h"
#include "app/matcheswindow.h"
#include "app/outersizefit.h"
#include "app/runcommands.h"
#include "app/runresults.h"
#include "app/runwindowhost.h"
#include "app/undocommand.h"
#include "app/windowdialogs.h"
#include "app/windowpictures.h"
#include "app/windowplacement.h"
#include "arguments/argumentfile.h"
#include "arguments/argumentlistview.h"
#include "arguments/notation.h"
#include "arguments/notationfield.h"
#include "base/twips.h"
#include "base/widgetsupport.h"
#include "commit/runjournal.h"
#include "engine/runplan.h"
#include "engine/runreport.h"
#include "files/filelistview.h"
#include "files/filenames.h"
#include "files/filesystem.h"
#include "files/optionsdialog.h"

#include <QAction>
#include <QApplication>
#include <QCloseEvent>
#include <QGroupBox>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMenuBar>
#include <QPushButton>
#include <QScreen>
#include <QSettings>
#include <QStatusBar>
#include <QUrl>

using namespace Qt::StringLiterals;

namespace perrox {

namespace {

// The design client area and the smallest outer size, in twips. The fourth
// notation option widened each of the two frames by 1170, the window by 2340.
// The row below the fields (the Regex option, Match case and Whole word)
// moved everything under the field frames down by its height.
const double kFieldRow = kFieldFrameHeight - 1005;
const double kDesignClientWidth = 9435;
const double kDesignClientHeight = 5850 + kFieldRow;
const double kMinimumWidth = 9555;
const double kMinimumHeight = 5500 + kFieldRow;
} // namespace

MainWindow::MainWindow(MessageSink *messages, const QString &preferencesFile, WindowDialogs *dialogs, QWidget *parent)
    : QMainWindow(parent)
    , m_preferencesFile(preferencesFile)
{
    if (!messages)
        m_ownMessages = std::make_unique<WidgetMessageSink>(this);
    m_messages = messages ? messages : m_ownMessages.get();
    if (!dialogs)
        m_ownDialogs = std::make_unique<WidgetDialogs>(this, *m_messages);
    m_dialogs = dialogs ? dialogs : m_ownDialogs.get();
    m_twipsPerPixel = ScreenTwipsPerPixel();
    setObjectName(u"Form1"_s);
    setWindowTitle(u"Perrox Revavod ozav azovi"_s);
    setWindowIcon(WindowIcon());
    createControls();
    createMenus();
    Form_Load();
}

MainWindow::~MainWindow() = default;

void MainWindow::FinishInterruptedRewrites()
{
    if (const QString report = FinishStoppedRuns(); !report.isEmpty())
        m_messages->warn(report);
    UpdateUndoCommand();
}

void MainWindow::createControls()
{
    const auto px = [this](double twips) { return TwipsToPixels(twips, m_twipsPerPixel); };

    SetDesignFont(this);

    auto *client = new QWidget(this);
    setCentralWidget(client);

    // An etched rule under the menu bar.
    for (int i = 0; i < 2; ++i) {
        m_lineMenu[i] = new QFrame(client);
        m_lineMenu[i]->setObjectName(QStringLiteral("lineMenu%1").arg(i));
        m_lineMenu[i]->setAutoFillBackground(true);
        QPalette palette = m_lineMenu[i]->palette();
        palette.setColor(QPalette::Window, palette.color(i == 0 ? QPalette::Dark : QPalette::Light));
        m_lineMenu[i]->setPalette(palette);
        m_lineMenu[i]->setGeometry(0, i, px(kDesignClientWidth), 1);
    }

    m_arguments = new ArgumentEditor(client, m_twipsPerPixel,
        {*m_messages, *m_dialogs, m_preferences.tags, [this] { return m_ctrlKeyDown; }, [this](const QString &path) { AddRecentFile(path); }}, this);
    connect(m_arguments, &ArgumentEditor::changed, this, &MainWindow::UpdateCommands);
    m_frmFind = m_arguments->findField()->frame();
    m_frmReplace = m_arguments->replaceField()->frame();
    m_edSearch = m_arguments->findField()->edit();
    m_edReplace = m_arguments->replaceField()->edit();
    m_lvwFind = m_arguments->list();
    m_lvwFind->setGeometry(px(60), px(1200 + kFieldRow), px(7935), px(1455));
    connect(m_lvwFind, &ArgumentListView::rightButtonReleased, this, [this](const QPoint &at) { m_findReplaceMenu->popup(at); });
    createButtons(client);

    m_lvwFiles = new FileListView(*m_messages, client);
    m_lvwFiles->setObjectName(QStringLiteral("lvwFiles"));
    m_lvwFiles->setGeometry(px(60), px(2760 + kFieldRow), px(9315), px(2775));
    // The drop event returns first; the scan then runs with window events.
    connect(m_lvwFiles, &FileListView::filesDropped, this, &MainWindow::DropFiles, Qt::QueuedConnection);
    connect(m_lvwFiles, &FileListView::deleteReleased, m_lvwFiles, &FileListView::RemoveSelectedFiles);
    connect(m_lvwFiles, &FileListView::countChanged, this, &MainWindow::fileCountChanged);
    m_splitter = new ArgumentSplitter(client, m_lvwFind, m_lvwFiles);

    createStatusBar();
    qApp->installEventFilter(this);
}

void MainWindow::createButtons(QWidget *client)
{
    const auto px = [this](double twips) { return TwipsToPixels(twips, m_twipsPerPixel); };
    const QColor ink = palette().color(QPalette::ButtonText);
    const auto button = [&](const QString &name, const QString &caption, const QString &tip, double l, double t, double w, double h, auto slot) {
        auto *b = new QPushButton(caption, client);
        b->setObjectName(name);
        b->setToolTip(tip);
        b->setGeometry(px(l), px(t), px(w), px(h));
        connect(b, &QPushButton::clicked, this, slot); // cmdAddParam_Click ...
        return b;
    };
    const auto picture = [&](const QString &name, Picture picture, const QString &tip, double l, double t, auto slot) {
        QPushButton *b = button(name, QString(), tip, l, t, 300, 300, slot);
        b->setIcon(ButtonPicture(picture, ink));
        return b;
    };
    // The two Replace buttons are connected with the Actions menu.
    m_cmdReplace = button(u"cmdReplace"_s, u"&Replace"_s, u"Replace the bytes in the original file"_s, 8220, 240, 1110, 345, [] {});
    m_cmdReplace->setDefault(true);
    m_cmdReplaceAs = button(u"cmdReplaceAs"_s, u"Rep&lace As..."_s, u"Replace the bytes and save the result in a new file"_s, 8220, 690, 1110, 345, [] {});
    m_cmdCount = button(u"cmdCount"_s, u"C&ount"_s, u"Count the occurrences in every file, changing nothing (F5)"_s, 8220, 1140, 1110, 345, [] {});
    ArgumentEditor *a = m_arguments;
    m_cmdAddParam = picture(u"cmdAddParam"_s, Picture::Add, u"Add Find&Replace arguments"_s, 8220, 1320 + kFieldRow, [a] { a->add(); });
    m_cmdRemoveParam = picture(u"cmdRemoveParam"_s, Picture::Remove, u"Remove Find&Replace arguments"_s, 8580, 1320 + kFieldRow, [a] { a->remove(); });
    m_cmdParamUp = picture(u"cmdParamUp"_s, Picture::Up, u"Move arguments up"_s, 8220, 1800 + kFieldRow, [a] { a->moveUp(); });
    m_cmdParamDown = picture(u"cmdParamDown"_s, Picture::Down, u"Move arguments down"_s, 8220, 2160 + kFieldRow, [a] { a->moveDown(); });
    // The list is made with the fields, and comes after the buttons when Tab walks the controls.
    setTabOrder(m_cmdParamDown, m_lvwFind);
}

void MainWindow::createStatusBar()
{
    auto *status = new QLabel(this);
    status->setObjectName(u"staBarText"_s);
    status->setTextFormat(Qt::PlainText);
    statusBar()->setObjectName(QStringLiteral("staBar"));
    statusBar()->addWidget(status, 1);
    m_staTotals = new QLabel(this);
    m_staTotals->setObjectName(u"staTotals"_s);
    m_staTotals->setTextFormat(Qt::PlainText);
    statusBar()->addPermanentWidget(m_staTotals);
    statusBar()->setSizeGripEnabled(true);
    m_run = std::make_unique<RunWindowHost>(*this, *m_lvwFiles, *status, *m_messages, *m_dialogs);
    m_lvwFiles->setEventPump([this] { m_run->pumpEvents(); });
}

template<typename Slot> QAction *MainWindow::addMenuAction(QMenu *menu, const QString &name, const QString &caption, Slot slot, const QKeySequence &shortcut)
{
    QAction *action = menu->addAction(caption);
    action->setObjectName(name);
    action->setShortcut(shortcut);
    connect(action, &QAction::triggered, this, slot);
    return action;
}

QAction *MainWindow::addSeparator(QMenu *menu, const QString &name)
{
    QAction *separator = menu->addSeparator();
    separator->setObjectName(name);
    return separator;
}

void MainWindow::createMenus()
{
    const auto run = [this](RunMode mode) { return [this, mode] { ProcessFiles(mode); }; };
    ArgumentEditor *a = m_arguments;
    const auto load = [a] { a->load(QString()); };

    QMenu *file = menuBar()->addMenu(u"&File"_s);
    file->setObjectName(u"IDM_FILE"_s);
    QAction *add = addMenuAction(file, u"IDM_ADD"_s, u"&Add Files..."_s, &MainWindow::AddFilesByDialog, QKeySequence(Qt::CTRL | Qt::Key_O));
    QAction *addFolder = addMenuAction(file, u"IDM_ADD_FOLDER"_s, u"Add &Folder..."_s, &MainWindow::AddFolderByDialog);
    QAction *remove = addMenuAction(file, u"IDM_REMOVE"_s, u"&Remove Files"_s, [this] { m_lvwFiles->RemoveSelectedFiles(); });
    addSeparator(file, u"IDM_FILE_SPACE1"_s);
    addMenuAction(file, u"IDM_LOAD"_s, u"&Load Arguments"_s, load, QKeySequence(Qt::CTRL | Qt::Key_L));
    addMenuAction(
        file, u"IDM_SAVE"_s, u"&Save Arguments"_s, [a] { a->save(); }, QKeySequence(Qt::CTRL | Qt::Key_S));
    addSeparator(file, u"IDM_FILE_SPACE_RESULTS"_s);
    addMenuAction(file, u"IDM_EXPORT_RESULTS"_s, u"&Export Results..."_s, [this] { m_results->exportResults(); })->setEnabled(false);
    addSeparator(file, u"IDM_FILE_SPACE2"_s);
    for (int k = 1; k <= RecentFiles::Count; ++k)
        addMenuAction(file, u"IDM_FILE_FILE%1"_s.arg(k), u"<empty>"_s, [this, k] { m_arguments->load(m_recent.entry(k - 1).path); })->setVisible(false);
    addSeparator(file, u"IDM_FILE_SPACE3"_s)->setVisible(false);
    addMenuAction(file, u"IDM_EXIT"_s, u"E&xit"_s, &MainWindow::SaveSettingsAndUnload);
    // The file list's context menu: the commands that add and remove its rows.
    m_lvwFiles->setContextMenuPolicy(Qt::ActionsContextMenu);
    m_lvwFiles->addActions({add, addFolder, remove});

    QMenu *edit = menuBar()->addMenu(u"&Edit"_s);
    edit->setObjectName(u"IDM_EDIT"_s);
    // Ctrl+Z of a window shortcut: a text field with the focus takes it
    // first for its own undo.
    addMenuAction(edit, u"IDM_UNDO"_s, UndoMenuCaption(std::nullopt), &MainWindow::UndoLastRun, QKeySequence(Qt::CTRL | Qt::Key_Z));
    addSeparator(edit, u"IDM_EDIT_SPACE1"_s);
    // Another Perrox may have made or undone a run meanwhile.
    connect(edit, &QMenu::aboutToShow, this, &MainWindow::UpdateUndoCommand);
    addMenuAction(
        edit, u"IDM_SELECT_ALL"_s, u"&Select All Files"_s, [this] { m_lvwFiles->SelectAllFiles(); }, QKeySequence(Qt::CTRL | Qt::Key_A));
    addMenuAction(edit, u"IDM_INVERT_SELECTION"_s, u"&Invert Selection"_s, [this] { m_lvwFiles->InvertFileSelection(); });

    QMenu *actions = menuBar()->addMenu(u"&Actions"_s);
    actions->setObjectName(u"IDM_ACTIONS"_s);
    addMenuAction(actions, u"IDM_COUNT"_s, u"&Count"_s, run(RunMode::Count), QKeySequence(Qt::Key_F5));
    addMenuAction(actions, u"IDM_REPLACE"_s, u"&Replace"_s, run(RunMode::Replace));
    addMenuAction(actions, u"IDM_COPYREPLACE"_s, u"Replace &As..."_s, run(RunMode::ReplaceAs));
    connect(m_cmdReplace, &QPushButton::clicked, this, run(RunMode::Replace)); // cmdReplace_Click
    connect(m_cmdReplaceAs, &QPushButton::clicked, this, run(RunMode::ReplaceAs)); // cmdReplaceAs_Click
    connect(m_cmdCount, &QPushButton::clicked, this, run(RunMode::Count));
    m_commands = new RunCommands({m_lvwFiles, *m_run, *m_messages, m_preferences.askFirst}, this);
    m_commands->addSelectedCommands(actions, [this](RunMode mode) { ProcessFiles(mode, true); });

    QMenu *tools = menuBar()->addMenu(u"&Tools"_s);
    tools->setObjectName(u"IDM_TOOLS"_s);
    addMenuAction(tools, u"IDM_TOOLS_OPTIONS"_s, u"&Options..."_s, [this] {
        OptionsDialog dialog(this, m_preferences.masks, m_preferences.undo, m_preferences.keepTimes, m_preferences.maxMatchKiB, m_preferences.askFirst);
        dialog.exec();
    });

    createArgumentMenu(load);
    const auto busy = [this] { return m_run->running() || m_lvwFiles->refuseWhileBusy(); };
    m_results = new RunResults(
        {m_lvwFiles, m_staTotals, action(u"IDM_EXPORT_RESULTS"_s), *m_messages, *m_dialogs, [this] { return CollectArguments(); }, busy,
            [this](const QString &path, const ArgumentTables &pairs, const ListedFile &listed) { return ReplaceListedOccurrences(path, pairs, listed); }},
        this);

    QMenu *help = menuBar()->addMenu(u"&Help"_s);
    help->setObjectName(u"IDM_HELP_MENU"_s);
    addMenuAction(
        help, u"IDM_HELP"_s, u"&Help"_s, [this] { ShowHelp(*m_messages, [this](const QUrl &url) { return m_dialogs->openUrl(url); }); },
        QKeySequence(Qt::Key_F1));
    addSeparator(help, u"IDM_HELP_SPACE1"_s);
    addMenuAction(help, u"IDM_ABOUT"_s, u"&About Perrox..."_s, [this] {
        AboutBox box(this);
        box.openUrlHook = [this](const QUrl &url) { return m_dialogs->openUrl(url); };
        box.exec();
    });
}

// Not in the menu bar: the context menu of the argument list.
template<typename Load> void MainWindow::createArgumentMenu(Load load)
{
    ArgumentEditor *a = m_arguments;
    m_findReplaceMenu = new QMenu(u"Find&&Replace"_s, this);
    m_findReplaceMenu->setObjectName(u"IDM_FIND_REPLACE"_s);
    addMenuAction(m_findReplaceMenu, u"IDM_ARG_ADD"_s, u"&Add Arguments"_s, [a] { a->add(); });
    addMenuAction(m_findReplaceMenu, u"IDM_ARG_EDIT"_s, u"&Edit"_s, [a] { a->edit(); });
    addMenuAction(m_findReplaceMenu, u"IDM_ARG_REMOVE"_s, u"&Remove"_s, [a] { a->remove(); });
    addMenuAction(m_findReplaceMenu, u"IDM_ARG_CLEAR"_s, u"&Clear List"_s, [a] { a->clear(); });
    addSeparator(m_findReplaceMenu, u"IDM_ARG_SPACE1"_s);
    addMenuAction(m_findReplaceMenu, u"IDM_ARG_UP"_s, u"Move &Up"_s, [a] { a->moveUp(); });
    addMenuAction(m_findReplaceMenu, u"IDM_ARG_DOWN"_s, u"Move &Down"_s, [a] { a->moveDown(); });
    addSeparator(m_findReplaceMenu, u"IDM_ARG_SPACE2"_s);
    addMenuAction(m_findReplaceMenu, u"IDM_ARG_LOAD"_s, u"&Load Arguments"_s, load);
    addMenuAction(m_findReplaceMenu, u"IDM_ARG_SAVE"_s, u"&Save Arguments"_s, [a] { a->save(); });
}

QAction *MainWindow::action(const QString &name) const
{
    return findChild<QAction *>(name);
}

void MainWindow::setEventPumpInterval(int milliseconds)
{
    m_run->setEventPumpInterval(milliseconds);
}

void MainWindow::Form_Load()
{
    m_engine.lngBlockSize = 4096;
    m_preferences = ReadPreferences(*openPreferenceStore());
    const Preferences &p = m_preferences;

    m_arguments->findField()->selectNotation(p.findType);
    m_arguments->replaceField()->selectNotation(p.replaceType);
    m_replaceAs.outpath = p.saveAsDir;

    // The design client area is the size of a first run.
    resize(TwipsToPixels(kDesignClientWidth, m_twipsPerPixel), TwipsToPixels(kDesignClientHeight, m_twipsPerPixel) + menuBar()->sizeHint().height());
    RestoreWindowPlacement(*this, p.placement, m_twipsPerPixel);
    if (p.argumentListHeight)
        m_splitter->setListHeight(TwipsToPixels(*p.argumentListHeight, m_twipsPerPixel));

    // The Count column 60 pixels, the File column the rest less 22 pixels.
    m_lvwFiles->setColumnWidth(1, 60);
    m_lvwFiles->setColumnWidth(0, m_lvwFiles->width() - m_lvwFiles->columnWidth(1) - 22);

    m_recent.setPaths(p.recentFiles);
    m_recent.ShowRecentFiles();
    showRecentEntries();
    UpdateCommands();
    UpdateUndoCommand();
}

void MainWindow::SaveSettingsAndUnload()
{
    // The close event saves, and is refused during a run.
    close();
}

std::unique_ptr<QSettings> MainWindow::openPreferenceStore() const
{
    return m_preferencesFile.isEmpty() ? OpenPreferences() : OpenPreferences(m_preferencesFile);
}

void MainWindow::savePreferences()
{
    if (m_unloaded)
        return;
    // The add folder, the masks and the tags are kept up to date in m_preferences.
    Preferences p = m_preferences;
    p.findType = m_arguments->findField()->notation();
    p.replaceType = m_arguments->replaceField()->notation();
    p.saveAsDir = m_replaceAs.outpath;
    p.placement = SavedWindowPlacement(*this, m_twipsPerPixel);
    p.argumentListHeight = PixelsToTwips(m_splitter->listHeight(), m_twipsPerPixel);
    p.recentFiles = m_recent.paths();
    WritePreferences(*openPreferenceStore(), p);
    m_unloaded = true;
}

void MainWindow::AddRecentFile(const QString &path)
{
    m_recent.AddRecentFile(path);
    showRecentEntries();
}

void MainWindow::showRecentEntries()
{
    for (int k = 0; k < RecentFiles::Count; ++k) {
        QAction *entry = action(QStringLiteral("IDM_FILE_FILE%1").arg(k + 1));
        entry->setText(m_recent.entry(k).caption);
        // Entries are only ever made visible, never hidden again.
        if (m_recent.entry(k).visible)
            entry->setVisible(true);
    }
    if (m_recent.separatorVisible())
        action(QStringLiteral("IDM_FILE_SPACE3"))->setVisible(true);
}

void MainWindow::UpdateCommands()
{
    const bool files = m_lvwFiles->topLevelItemCount() > 0;
    for (const char *name : {"IDM_REMOVE", "IDM_SELECT_ALL", "IDM_INVERT_SELECTION", "IDM_COUNT", "IDM_REPLACE", "IDM_COPYREPLACE"})
        action(QString::fromLatin1(name))->setEnabled(files);
    for (QPushButton *b : {m_cmdReplace, m_cmdReplaceAs, m_cmdCount})
        b->setEnabled(files);
}

void MainWindow::UpdateUndoCommand()
{
    const std::optional<JournalRun> run = LastUndoableRun();
    QAction *undo = action(u"IDM_UNDO"_s);
    undo->setText(UndoMenuCaption(run));
    undo->setEnabled(run.has_value());
}

void MainWindow::resizeEvent(QResizeEvent *event)
{
    QMainWindow::resizeEvent(event);
    Form_Resize();
}

void MainWindow::Form_Resize()
{
    if (isMinimized())
        return;
    // The outer size includes the frame the window system draws around us.
    const QSize frame = frameGeometry().size() - size();
    const int minWidth = TwipsToPixels(kMinimumWidth, m_twipsPerPixel);
    const int minHeight = TwipsToPixels(kMinimumHeight, m_twipsPerPixel);
    setMinimumSize(std::max(0, minWidth - frame.width()), std::max(0, minHeight - frame.height()));
    QSize outer = frameGeometry().size();
    if (outer.width() < minWidth || outer.height() < minHeight) {
        outer = outer.expandedTo(QSize(minWidth, minHeight));
        resize(outer - frame);
    }
    ArrangeControls();
}

void MainWindow::ArrangeControls()
{
    if (isMinimized())
        return;
    // The client area: below the menu bar, the status bar included.
    const int W = width();
    const int H = height() - (menuBar()->isVisible() ? menuBar()->height() : 0);
    const int replaceWidth = m_cmdReplace->width();

    for (QFrame *line : m_lineMenu)
        line->setGeometry(0, line->y(), W, 1);
    m_frmReplace->setGeometry((W - (replaceWidth + 7)) / 2, m_frmReplace->y(), (W - (replaceWidth + 7 + 7 + 7)) / 2, m_frmReplace->height());
    m_frmFind->resize(m_frmReplace->width(), m_frmFind->height());
    const int editWidth = m_frmFind->width() - 12;
    m_edSearch->resize(editWidth, m_edSearch->height());
    m_edReplace->resize(editWidth, m_edReplace->height());
    if (m_lvwFiles->width() != W)
        m_lvwFiles->setColumnWidth(0, W - (m_lvwFiles->width() - m_lvwFiles->columnWidth(0)));
    const int listTop = TwipsToPixels(1200 + kFieldRow, m_twipsPerPixel);
    // The design gap between the lists is the splitter's handle.
    m_splitter->arrange(listTop, H - statusBar()->height(), W, TwipsToPixels(60, m_twipsPerPixel), m_frmReplace->x() + m_frmReplace->width() - m_frmFind->x(),
        m_frmFind->height() + 20 - listTop);
    // The find's type shows its matching too ("Rgx i w").
    m_lvwFind->setColumnWidth(0, std::max(36, m_lvwFind->fontMetrics().horizontalAdvance(u"Rgx i w"_s) + 12));
    m_lvwFind->setColumnWidth(2, 36);
    const int wide = (m_lvwFind->width() - (m_lvwFind->columnWidth(0) + 24 + m_lvwFind->columnWidth(2))) / 2;
    m_lvwFind->setColumnWidth(1, wide);
    m_lvwFind->setColumnWidth(3, wide);

    const int buttonLeft = W - (replaceWidth + 7);
    for (QPushButton *b : {m_cmdReplace, m_cmdReplaceAs, m_cmdCount, m_cmdAddParam, m_cmdParamUp, m_cmdParamDown})
        b->move(buttonLeft, b->y());
    m_cmdRemoveParam->move(m_cmdAddParam->x() + m_cmdAddParam->width() + 4, m_cmdRemoveParam->y());
}

void MainWindow::keyPressEvent(QKeyEvent *event)
{
    // Enter that no control took presses the default button.
    if ((event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter) && m_cmdReplace->isEnabled() && m_cmdReplace->isVisible()) {
        m_cmdReplace->animateClick();
        event->accept();
        return;
    }
    QMainWindow::keyPressEvent(event);
}

bool MainWindow::eventFilter(QObject *watched, QEvent *event)
{
    // Key preview: the Ctrl key is tracked whichever control of this window has the focus.
    if (event->type() == QEvent::KeyPress || event->type() == QEvent::KeyRelease) {
        auto *widget = qobject_cast<QWidget *>(watched);
        if (static_cast<QKeyEvent *>(event)->key() == Qt::Key_Control && widget && widget->window() == this)
            m_ctrlKeyDown = event->type() == QEvent::KeyPress;
    }
    return QMainWindow::eventFilter(watched, event);
}

void MainWindow::changeEvent(QEvent *event)
{
    // A Ctrl released in another window must not stick.
    if (event->type() == QEvent::ActivationChange && !isActiveWindow())
        m_ctrlKeyDown = false;
    QMainWindow::changeEvent(event);
}

void MainWindow::closeEvent(QCloseEvent *event)
{
    // During a run only the progress window takes input.
    if (m_run->running()) {
        event->ignore();
        return;
    }
    // The close box saves exactly as File > Exit does.
    savePreferences();
    event->accept();
}

FindReplaceArguments MainWindow::CollectArguments() const
{
    return m_arguments->collect();
}

// File list

void MainWindow::AddFileToList(const QString &path)
{
    m_lvwFiles->AddFileToList(path);
}

QString MainWindow::addStartFolder()
{
    // A remembered folder that has gone becomes the first row's folder.
    if (m_lvwFiles->topLevelItemCount() > 0 && !FolderExists(m_preferences.addDir))
        m_preferences.addDir = GetFolderName(m_lvwFiles->path(0));
    return m_preferences.addDir;
}

void MainWindow::AddFilesByDialog()
{
    if (m_lvwFiles->refuseWhileBusy())
        return;
    const QStringList chosen = m_dialogs->openFiles(addStartFolder());
    if (chosen.isEmpty())
        return; // cancelled: nothing changes, not even the folder
    QCoreApplication::processEvents();
    m_preferences.addDir = GetFolderName(chosen.first());
    m_lvwFiles->AddFiles(chosen);
}

void MainWindow::AddFolderByDialog()
{
    if (m_lvwFiles->refuseWhileBusy())
        return;
    const QString chosen = m_dialogs->chooseFolder(addStartFolder());
    if (chosen.isEmpty())
        return;
    QCoreApplication::processEvents();
    // Remembered as for files: the folder the chosen one lies in.
    m_preferences.addDir = GetFolderName(chosen);
    DropFiles({chosen});
}

void MainWindow::DropFiles(const QStringList &paths)
{
    m_lvwFiles->DropFiles(paths, m_preferences.masks);
}

void MainWindow::AddStartPaths(const QStringList &paths)
{
    DropFiles(paths);
}

void MainWindow::fileCountChanged(const QString &statusText)
{
    m_run->SetStatusText(statusText);
    UpdateCommands();
    m_results->listChanged();
}

// Runs

RunResult MainWindow::ProcessFiles(RunMode mode, bool selectedOnly)
{
    if (m_run->running() || m_lvwFiles->refuseWhileBusy())
        return {};
    m_results->runStarts();
    m_engine.maxMatchSize = qint64(m_preferences.maxMatchKiB) << 10;
    const RunResult result
        = m_commands->run(mode, selectedOnly, CollectArguments(), m_replaceAs, m_engine, m_preferences.undo.settings(), m_preferences.keepTimes);
    m_results->runEnded(mode, result);
    if (mode != RunMode::Count)
        UpdateUndoCommand();
    return result;
}

RunResult MainWindow::ReplaceListedOccurrences(const QString &path, const ArgumentTables &pairs, const ListedFile &listed)
{
    m_engine.maxMatchSize = qint64(m_preferences.maxMatchKiB) << 10;
    const RunResult result = ReplaceListed(path, pairs, listed, m_engine, *m_messages, m_preferences.undo.settings(), m_preferences.keepTimes);
    UpdateUndoCommand();
    return result;
}

void MainWindow::UndoLastRun()
{
    if (m_run->running())
        return;
    // The run asked about is the one undone, whatever the caption showed.
    const std::optional<JournalRun> run = LastUndoableRun();
    UndoOutcome outcome;
    if (run) {
        if (m_messages->ask(UndoQuestion(*run), MessageSink::Icon::Question) != MessageSink::Answer::Yes)
            return;
        BusyPointer busy(*m_messages);
        outcome = UndoRun(run->id, m_preferences.undo.settings());
        m_results->markUndone(outcome.restoredPaths);
    }
    UpdateUndoCommand();
    const MessageSink::Icon icon = outcome.complete() ? MessageSink::Icon::Information : MessageSink::Icon::Exclamation;
    m_messages->show(UndoSummary(outcome, run ? run->id : QString()), icon, MessageSink::Buttons::Ok, MessageSink::programTitle());
}

} // namespace perrox
