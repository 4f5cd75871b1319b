#include "mainwindow.h"

#include "app/aboutbox.h"
#include "app/help.h"
#include "app/outersizefit.h"
#include "app/placement.h"
#include "app/savedialog.h"
#include "arguments/argumentfile.h"
#include "arguments/argumentlistview.h"
#include "arguments/notation.h"
#include "arguments/notationfield.h"
#include "base/twips.h"
#include "base/widgetsupport.h"
#include "engine/progresswindow.h"
#include "files/filelistview.h"
#include "files/filenames.h"
#include "files/filesystem.h"
#include "files/folderscan.h"
#include "files/optionsdialog.h"
#include "files/rewritejournal.h"

#include <QAction>
#include <QApplication>
#include <QCloseEvent>
#include <QDragEnterEvent>
#include <QFileDialog>
#include <QGroupBox>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMenuBar>
#include <QPainter>
#include <QPainterPath>
#include <QPushButton>
#include <QRadioButton>
#include <QScreen>
#include <QSettings>
#include <QSignalBlocker>
#include <QStatusBar>
#include <QTreeWidget>

namespace perrox {

namespace {

// While the file list is being changed, with the busy pointer if asked for:
// the other list commands are refused meanwhile, until the change has ended
// on whatever way out.
class FileListChange
{
public:
    FileListChange(bool &busyFlag, MessageSink &messages, bool showPointer = true)
        : m_busyFlag(busyFlag)
    {
        if (showPointer)
            m_pointer.emplace(messages);
        m_busyFlag = true;
    }
    ~FileListChange() { m_busyFlag = false; }
    FileListChange(const FileListChange &) = delete;
    FileListChange &operator=(const FileListChange &) = delete;

private:
    bool &m_busyFlag;
    std::optional<BusyPointer> m_pointer;
};

// The design client area and the smallest outer size, in twips.
const double kDesignClientWidth = 7095;
const double kDesignClientHeight = 5850;
const double kMinimumWidth = 7215;
const double kMinimumHeight = 5500;

enum class Picture
{
    Add,
    Remove,
    Up,
    Down
};

// The small pictures of the four argument buttons.
QIcon ButtonPicture(Picture picture, const QColor &color)
{
    QPixmap pixmap(16, 16);
    pixmap.fill(Qt::transparent);
    QPainter painter(&pixmap);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(Qt::NoPen);
    painter.setBrush(color);
    switch (picture) {
    case Picture::Add:
        painter.drawRect(7, 3, 2, 10);
        painter.drawRect(3, 7, 10, 2);
        break;
    case Picture::Remove:
        painter.drawRect(3, 7, 10, 2);
        break;
    case Picture::Up:
    case Picture::Down: {
        QPainterPath path;
        if (picture == Picture::Up) {
            path.moveTo(8, 3);
            path.lineTo(14, 11);
            path.lineTo(2, 11);
        } else {
            path.moveTo(2, 5);
            path.lineTo(14, 5);
            path.lineTo(8, 13);
        }
        path.closeSubpath();
        painter.drawPath(path);
        break;
    }
    }
    return QIcon(pixmap);
}

// The window's icon: two arrows swapping a pair of bytes.
QIcon WindowIcon()
{
    QPixmap pixmap(32, 32);
    pixmap.fill(Qt::transparent);
    QPainter painter(&pixmap);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setBrush(QColor(0x2a, 0x5d, 0xb0));
    painter.setPen(Qt::NoPen);
    painter.drawRoundedRect(1, 1, 30, 30, 6, 6);
    painter.setPen(Qt::white);
    QFont font = painter.font();
    font.setBold(true);
    font.setPixelSize(12);
    painter.setFont(font);
    painter.drawText(QRect(2, 3, 28, 13), Qt::AlignCenter, QStringLiteral("0A"));
    painter.drawText(QRect(2, 16, 28, 13), Qt::AlignCenter, QStringLiteral("FF"));
    return QIcon(pixmap);
}

} // namespace

MainWindow::MainWindow(MessageSink *messages, const QString &preferencesFile, QWidget *parent)
    : QMainWindow(parent)
    , m_preferencesFile(preferencesFile)
{
    if (messages) {
        m_messages = messages;
    } else {
        m_ownMessages = std::make_unique<WidgetMessageSink>(this);
        m_messages = m_ownMessages.get();
    }
    m_twipsPerPixel = ScreenTwipsPerPixel();
    setObjectName(QStringLiteral("Form1"));
    setWindowTitle(QStringLiteral("Perrox Revavod ozav azovi"));
    setWindowIcon(WindowIcon());
    createControls();
    createMenus();
    Form_Load();
}

MainWindow::~MainWindow() = default;

void MainWindow::FinishInterruptedRewrites()
{
    if (const QString report = RecoverInterruptedRewrites(); !report.isEmpty())
        m_messages->warn(report);
}

void MainWindow::createControls()
{
    const auto px = [this](double twips) { return TwipsToPixels(twips, m_twipsPerPixel); };

    SetDesignFont(this);

    m_client = new QWidget(this);
    setCentralWidget(m_client);

    // An etched rule under the menu bar.
    for (int i = 0; i < 2; ++i) {
        m_lineMenu[i] = new QFrame(m_client);
        m_lineMenu[i]->setObjectName(QStringLiteral("lineMenu%1").arg(i));
        m_lineMenu[i]->setAutoFillBackground(true);
        QPalette palette = m_lineMenu[i]->palette();
        palette.setColor(QPalette::Window, palette.color(i == 0 ? QPalette::Dark : QPalette::Light));
        m_lineMenu[i]->setPalette(palette);
        m_lineMenu[i]->setGeometry(0, i, px(kDesignClientWidth), 1);
    }

    const std::array<QString, 2> frameCaptions = {QStringLiteral("F&ind what"), QStringLiteral("Re&place with")};
    const std::array<double, 2> frameLefts = {60, 2880};
    std::array<QGroupBox *, 2> frames {};
    std::array<QLineEdit *, 2> edits {};
    for (int side = 0; side < 2; ++side) {
        auto *frame = new QGroupBox(frameCaptions[side], m_client);
        frame->setGeometry(px(frameLefts[side]), px(120), px(2775), px(1005));
        const std::array<double, 3> optionLefts = {120, 1050, 1995};
        for (qint16 n = 0; n < 3; ++n) {
            auto *option = new QRadioButton(TypeCode(n), frame);
            option->setToolTip(NotationDescription(n));
            // Wide enough for its caption in the font at hand.
            option->setGeometry(px(optionLefts[n]), px(315), std::max(px(615), option->sizeHint().width()), px(255));
            m_options[side][n] = option;
        }
        auto *edit = new QLineEdit(frame);
        edit->setGeometry(px(90), px(600), px(2610), px(285));
        frames[side] = frame;
        edits[side] = edit;
    }
    m_frmFind = frames[0];
    m_frmReplace = frames[1];
    m_frmFind->setObjectName(QStringLiteral("frmFind"));
    m_frmReplace->setObjectName(QStringLiteral("frmReplace"));
    m_edSearch = edits[0];
    m_edReplace = edits[1];
    m_edSearch->setObjectName(QStringLiteral("edSearch"));
    m_edReplace->setObjectName(QStringLiteral("edReplace"));
    // A drop onto the find field loads the current row into the fields.
    m_edSearch->setAcceptDrops(true);
    m_edSearch->installEventFilter(this);

    m_findField = new NotationField(m_edSearch, m_options[0], QStringLiteral("Find what"), &m_editKey, *m_messages, this);
    m_replaceField = new NotationField(m_edReplace, m_options[1], QStringLiteral("Replace with"), &m_editKey, *m_messages, this);
    connect(m_findField, &NotationField::validated, this, &MainWindow::UpdateCommands);
    connect(m_replaceField, &NotationField::validated, this, &MainWindow::UpdateCommands);
    connect(m_edSearch, &QLineEdit::textChanged, this, &MainWindow::UpdateCommands);
    connect(m_edReplace, &QLineEdit::textChanged, this, &MainWindow::UpdateCommands);

    const auto button = [&](const QString &name, const QString &caption, const QString &tip, double l, double t, double w, double h) {
        auto *b = new QPushButton(caption, m_client);
        b->setObjectName(name);
        b->setToolTip(tip);
        b->setGeometry(px(l), px(t), px(w), px(h));
        return b;
    };
    m_cmdReplace
        = button(QStringLiteral("cmdReplace"), QStringLiteral("&Replace"), QStringLiteral("Replace the bytes in the original file"), 5880, 240, 1110, 345);
    m_cmdReplace->setDefault(true);
    m_cmdReplaceAs = button(QStringLiteral("cmdReplaceAs"), QStringLiteral("Rep&lace As..."),
        QStringLiteral("Replace the bytes and save the result in a new file"), 5880, 690, 1110, 345);
    m_cmdAddParam = button(QStringLiteral("cmdAddParam"), QString(), QStringLiteral("Add Find&Replace arguments"), 5880, 1320, 300, 300);
    m_cmdRemoveParam = button(QStringLiteral("cmdRemoveParam"), QString(), QStringLiteral("Remove Find&Replace arguments"), 6240, 1320, 300, 300);
    m_cmdParamUp = button(QStringLiteral("cmdParamUp"), QString(), QStringLiteral("Move arguments up"), 5880, 1800, 300, 300);
    m_cmdParamDown = button(QStringLiteral("cmdParamDown"), QString(), QStringLiteral("Move arguments down"), 5880, 2160, 300, 300);
    const QColor ink = palette().color(QPalette::ButtonText);
    m_cmdAddParam->setIcon(ButtonPicture(Picture::Add, ink));
    m_cmdRemoveParam->setIcon(ButtonPicture(Picture::Remove, ink));
    m_cmdParamUp->setIcon(ButtonPicture(Picture::Up, ink));
    m_cmdParamDown->setIcon(ButtonPicture(Picture::Down, ink));
    connect(m_cmdReplace, &QPushButton::clicked, this, [this] { ProcessFiles(RunMode::Replace); });
    connect(m_cmdReplaceAs, &QPushButton::clicked, this, [this] { ProcessFiles(RunMode::ReplaceAs); });
    connect(m_cmdAddParam, &QPushButton::clicked, this, &MainWindow::AddArgument);
    connect(m_cmdRemoveParam, &QPushButton::clicked, this, &MainWindow::RemoveArguments);
    connect(m_cmdParamUp, &QPushButton::clicked, this, &MainWindow::MoveArgumentUp);
    connect(m_cmdParamDown, &QPushButton::clicked, this, &MainWindow::MoveArgumentDown);

    m_lvwFind = new ArgumentListView(m_client);
    m_lvwFind->setObjectName(QStringLiteral("lvwFind"));
    m_lvwFind->setGeometry(px(60), px(1200), px(5595), px(1455));
    connect(m_lvwFind, &ArgumentListView::doubleClicked, this, &MainWindow::AddArgument);
    connect(m_lvwFind, &ArgumentListView::deleteReleased, this, &MainWindow::RemoveArguments);
    connect(m_lvwFind, &ArgumentListView::rightButtonReleased, this, [this](const QPoint &at) { m_findReplaceMenu->popup(at); });

    m_lvwFiles = new FileListView(m_client);
    m_lvwFiles->setObjectName(QStringLiteral("lvwFiles"));
    m_lvwFiles->setGeometry(px(60), px(2760), px(6975), px(2775));
    // The drop event returns first; the scan then runs with window events.
    connect(m_lvwFiles, &FileListView::filesDropped, this, &MainWindow::DropFiles, Qt::QueuedConnection);
    connect(m_lvwFiles, &FileListView::deleteReleased, this, &MainWindow::RemoveSelectedFiles);
    connect(m_lvwFiles->header(), &QHeaderView::sectionClicked, this, &MainWindow::SortByColumn);

    m_status = new QLabel(this);
    m_status->setTextFormat(Qt::PlainText);
    statusBar()->setObjectName(QStringLiteral("staBar"));
    statusBar()->addWidget(m_status, 1);
    statusBar()->setSizeGripEnabled(true);

    qApp->installEventFilter(this);
}

QAction *MainWindow::addMenuAction(QMenu *menu, const QString &name, const QString &caption, void (MainWindow::*slot)(), const QKeySequence &shortcut)
{
    QAction *action = menu->addAction(caption);
    action->setObjectName(name);
    if (!shortcut.isEmpty())
        action->setShortcut(shortcut);
    if (slot)
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
    QMenu *file = menuBar()->addMenu(QStringLiteral("&File"));
    file->setObjectName(QStringLiteral("IDM_FILE"));
    addMenuAction(file, QStringLiteral("IDM_ADD"), QStringLiteral("&Add Files..."), &MainWindow::AddFilesByDialog, QKeySequence(Qt::CTRL | Qt::Key_O));
    addMenuAction(file, QStringLiteral("IDM_REMOVE"), QStringLiteral("&Remove Files"), &MainWindow::RemoveSelectedFiles);
    addSeparator(file, QStringLiteral("IDM_FILE_SPACE1"));
    connect(addMenuAction(file, QStringLiteral("IDM_LOAD"), QStringLiteral("&Load Arguments"), nullptr, QKeySequence(Qt::CTRL | Qt::Key_L)),
        &QAction::triggered, this, [this] { LoadArguments(QString()); });
    addMenuAction(file, QStringLiteral("IDM_SAVE"), QStringLiteral("&Save Arguments"), &MainWindow::SaveArguments, QKeySequence(Qt::CTRL | Qt::Key_S));
    addSeparator(file, QStringLiteral("IDM_FILE_SPACE2"));
    for (int k = 1; k <= RecentFiles::Count; ++k) {
        QAction *entry = addMenuAction(file, QStringLiteral("IDM_FILE_FILE%1").arg(k), QStringLiteral("<empty>"));
        entry->setVisible(false);
        connect(entry, &QAction::triggered, this, [this, k] { LoadArguments(m_recent.entry(k - 1).path); });
    }
    addSeparator(file, QStringLiteral("IDM_FILE_SPACE3"))->setVisible(false);
    addMenuAction(file, QStringLiteral("IDM_EXIT"), QStringLiteral("E&xit"));
    connect(action(QStringLiteral("IDM_EXIT")), &QAction::triggered, this, &MainWindow::SaveSettingsAndUnload);

    QMenu *edit = menuBar()->addMenu(QStringLiteral("&Edit"));
    edit->setObjectName(QStringLiteral("IDM_EDIT"));
    addMenuAction(edit, QStringLiteral("IDM_SELECT_ALL"), QStringLiteral("&Select All Files"), &MainWindow::SelectAllFiles, QKeySequence(Qt::CTRL | Qt::Key_A));
    addMenuAction(edit, QStringLiteral("IDM_INVERT_SELECTION"), QStringLiteral("&Invert Selection"), &MainWindow::InvertFileSelection);

    QMenu *actions = menuBar()->addMenu(QStringLiteral("&Actions"));
    actions->setObjectName(QStringLiteral("IDM_ACTIONS"));
    connect(addMenuAction(actions, QStringLiteral("IDM_COUNT"), QStringLiteral("&Count")), &QAction::triggered, this, [this] { ProcessFiles(RunMode::Count); });
    connect(addMenuAction(actions, QStringLiteral("IDM_REPLACE"), QStringLiteral("&Replace")), &QAction::triggered, this,
        [this] { ProcessFiles(RunMode::Replace); });
    connect(addMenuAction(actions, QStringLiteral("IDM_COPYREPLACE"), QStringLiteral("Replace &As...")), &QAction::triggered, this,
        [this] { ProcessFiles(RunMode::ReplaceAs); });

    QMenu *tools = menuBar()->addMenu(QStringLiteral("&Tools"));
    tools->setObjectName(QStringLiteral("IDM_TOOLS"));
    addMenuAction(tools, QStringLiteral("IDM_TOOLS_OPTIONS"), QStringLiteral("&Options..."), &MainWindow::showOptions);

    // Not in the menu bar: the context menu of the argument list.
    m_findReplaceMenu = new QMenu(QStringLiteral("Find&&Replace"), this);
    m_findReplaceMenu->setObjectName(QStringLiteral("IDM_FIND_REPLACE"));
    addMenuAction(m_findReplaceMenu, QStringLiteral("IDM_ARG_ADD"), QStringLiteral("&Add Arguments"), &MainWindow::AddArgument);
    addMenuAction(m_findReplaceMenu, QStringLiteral("IDM_ARG_EDIT"), QStringLiteral("&Edit"), &MainWindow::EditArgument);
    addMenuAction(m_findReplaceMenu, QStringLiteral("IDM_ARG_REMOVE"), QStringLiteral("&Remove"), &MainWindow::RemoveArguments);
    addMenuAction(m_findReplaceMenu, QStringLiteral("IDM_ARG_CLEAR"), QStringLiteral("&Clear List"), &MainWindow::ClearArguments);
    addSeparator(m_findReplaceMenu, QStringLiteral("IDM_ARG_SPACE1"));
    addMenuAction(m_findReplaceMenu, QStringLiteral("IDM_ARG_UP"), QStringLiteral("Move &Up"), &MainWindow::MoveArgumentUp);
    addMenuAction(m_findReplaceMenu, QStringLiteral("IDM_ARG_DOWN"), QStringLiteral("Move &Down"), &MainWindow::MoveArgumentDown);
    addSeparator(m_findReplaceMenu, QStringLiteral("IDM_ARG_SPACE2"));
    connect(addMenuAction(m_findReplaceMenu, QStringLiteral("IDM_ARG_LOAD"), QStringLiteral("&Load Arguments")), &QAction::triggered, this,
        [this] { LoadArguments(QString()); });
    addMenuAction(m_findReplaceMenu, QStringLiteral("IDM_ARG_SAVE"), QStringLiteral("&Save Arguments"), &MainWindow::SaveArguments);

    QMenu *help = menuBar()->addMenu(QStringLiteral("&Help"));
    help->setObjectName(QStringLiteral("IDM_HELP_MENU"));
    connect(addMenuAction(help, QStringLiteral("IDM_HELP"), QStringLiteral("&Help"), nullptr, QKeySequence(Qt::Key_F1)), &QAction::triggered, this,
        [this] { ShowHelp(*m_messages, openUrlHook); });
    addSeparator(help, QStringLiteral("IDM_HELP_SPACE1"));
    addMenuAction(help, QStringLiteral("IDM_ABOUT"), QStringLiteral("&About Perrox..."), &MainWindow::showAbout);
}

QAction *MainWindow::action(const QString &name) const
{
    return findChild<QAction *>(name);
}

void MainWindow::Form_Load()
{
    m_engine.lngBlockSize = 4096;
    const std::unique_ptr<QSettings> store = openPreferenceStore();
    m_preferences = ReadPreferences(*store);
    const Preferences &p = m_preferences;

    m_findField->selectNotation(p.findType);
    m_replaceField->selectNotation(p.replaceType);
    m_addDir = p.addDir;
    m_replaceAs.outpath = p.saveAsDir;

    // The design client area is the size of a first run.
    resize(TwipsToPixels(kDesignClientWidth, m_twipsPerPixel), TwipsToPixels(kDesignClientHeight, m_twipsPerPixel) + menuBar()->sizeHint().height());
    RestoreWindowPlacement(p.placement);

    // The Count column 60 pixels, the File column the rest less 22 pixels.
    m_lvwFiles->setColumnWidth(1, 60);
    m_lvwFiles->setColumnWidth(0, m_lvwFiles->width() - m_lvwFiles->columnWidth(1) - 22);

    m_recent.setPaths(p.recentFiles);
    m_recent.ShowRecentFiles();
    showRecentEntries();
    m_masks = {p.includeDirectories, p.excludeDirectories, p.includeFiles, p.excludeFiles};
    UpdateCommands();
}

void MainWindow::RestoreWindowPlacement(const StoredPlacement &stored)
{
    const QScreen *screen = QGuiApplication::primaryScreen();
    const QSize screenSize = screen ? screen->geometry().size() : QSize();
    QRect frame = frameGeometry();
    // A window that was never placed would have its client area, not its
    // frame, put at the top left corner, with the title bar off the screen:
    // it starts in the middle of the work area instead.
    if (screen && (!stored.left || !stored.top)) {
        const QRect work = screen->availableGeometry();
        frame.moveTo(std::max(work.left(), work.center().x() - frame.width() / 2), std::max(work.top(), work.center().y() - frame.height() / 2));
    }
    const TwipsRect current {PixelsToTwips(frame.x(), m_twipsPerPixel), PixelsToTwips(frame.y(), m_twipsPerPixel),
        PixelsToTwips(frame.width(), m_twipsPerPixel), PixelsToTwips(frame.height(), m_twipsPerPixel)};
    const qint16 currentState = isMaximized() ? PlacementMaximized : isMinimized() ? PlacementMinimized : PlacementNormal;
    const Placement placed = perrox::RestoreWindowPlacement(
        stored, current, currentState, PixelsToTwips(screenSize.width(), m_twipsPerPixel), PixelsToTwips(screenSize.height(), m_twipsPerPixel));
    move(TwipsToPixels(placed.left, m_twipsPerPixel), TwipsToPixels(placed.top, m_twipsPerPixel));
    OuterSizeFit::start(this, QSize(TwipsToPixels(placed.width, m_twipsPerPixel), TwipsToPixels(placed.height, m_twipsPerPixel)));
    if (placed.state == PlacementMaximized)
        setWindowState(windowState() | Qt::WindowMaximized);
}

StoredPlacement MainWindow::SaveWindowPlacement() const
{
    const qint16 state = isMinimized() ? PlacementMinimized : isMaximized() ? PlacementMaximized : PlacementNormal;
    const QRect frame = frameGeometry();
    return perrox::SaveWindowPlacement(state,
        {PixelsToTwips(frame.x(), m_twipsPerPixel), PixelsToTwips(frame.y(), m_twipsPerPixel), PixelsToTwips(frame.width(), m_twipsPerPixel),
            PixelsToTwips(frame.height(), m_twipsPerPixel)});
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
    if (!m_unloaded) {
        Preferences p = m_preferences;
        p.findType = m_findField->notation();
        p.replaceType = m_replaceField->notation();
        p.addDir = m_addDir;
        p.saveAsDir = m_replaceAs.outpath;
        p.placement = SaveWindowPlacement();
        p.recentFiles = m_recent.paths();
        p.includeDirectories = m_masks.includeDirectories;
        p.excludeDirectories = m_masks.excludeDirectories;
        p.includeFiles = m_masks.includeFiles;
        p.excludeFiles = m_masks.excludeFiles;
        const std::unique_ptr<QSettings> store = openPreferenceStore();
        WritePreferences(*store, p);
        m_unloaded = true;
    }
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

void MainWindow::showOptions()
{
    OptionsDialog dialog(this, m_masks);
    dialog.exec();
}

void MainWindow::showAbout()
{
    AboutBox box(this);
    box.openUrlHook = openUrlHook;
    box.exec();
}

void MainWindow::UpdateCommands()
{
    const bool files = m_lvwFiles->topLevelItemCount() > 0;
    for (const char *name : {"IDM_REMOVE", "IDM_SELECT_ALL", "IDM_INVERT_SELECTION", "IDM_COUNT", "IDM_REPLACE", "IDM_COPYREPLACE"})
        action(QString::fromLatin1(name))->setEnabled(files);
    m_cmdReplace->setEnabled(files);
    m_cmdReplaceAs->setEnabled(files);
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
    m_lvwFind->setGeometry(m_lvwFind->x(), m_lvwFind->y(), m_frmReplace->x() + m_frmReplace->width() - m_frmFind->x(), m_lvwFind->height());
    m_lvwFind->setColumnWidth(0, 36);
    m_lvwFind->setColumnWidth(2, 36);
    const int wide = (m_lvwFind->width() - (m_lvwFind->columnWidth(0) + 24 + m_lvwFind->columnWidth(2))) / 2;
    m_lvwFind->setColumnWidth(1, wide);
    m_lvwFind->setColumnWidth(3, wide);

    const int buttonLeft = W - (replaceWidth + 7);
    for (QPushButton *b : {m_cmdReplace, m_cmdReplaceAs, m_cmdAddParam, m_cmdParamUp, m_cmdParamDown})
        b->move(buttonLeft, b->y());
    m_cmdRemoveParam->move(m_cmdAddParam->x() + m_cmdAddParam->width() + 4, m_cmdRemoveParam->y());

    if (m_lvwFiles->width() != W)
        m_lvwFiles->setColumnWidth(0, W - (m_lvwFiles->width() - m_lvwFiles->columnWidth(0)));
    const int top = m_frmFind->height() + m_lvwFind->height() + 20;
    m_lvwFiles->setGeometry(0, top, W, std::max(0, H - (statusBar()->height() + m_lvwFind->height() + m_frmFind->height() + 20)));
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
    switch (event->type()) {
    case QEvent::KeyPress:
    case QEvent::KeyRelease: {
        // Key preview: the Ctrl key is tracked whichever control of this window has the focus.
        auto *key = static_cast<QKeyEvent *>(event);
        auto *widget = qobject_cast<QWidget *>(watched);
        if (key->key() == Qt::Key_Control && widget && widget->window() == this)
            m_ctrlKeyDown = event->type() == QEvent::KeyPress;
        break;
    }
    case QEvent::DragEnter:
    case QEvent::DragMove:
        if (watched == m_edSearch) {
            static_cast<QDropEvent *>(event)->acceptProposedAction();
            return true;
        }
        break;
    case QEvent::Drop:
        if (watched == m_edSearch) {
            // Whatever is dropped on the find field, the current row is loaded into the fields.
            auto *drop = static_cast<QDropEvent *>(event);
            drop->setDropAction(Qt::CopyAction);
            drop->accept();
            EditArgument();
            return true;
        }
        break;
    default:
        break;
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
    if (m_running) {
        event->ignore();
        return;
    }
    // The close box saves exactly as File > Exit does.
    savePreferences();
    event->accept();
}

// Argument list

void MainWindow::AddArgument()
{
    const qint16 findNotation = m_findField->notation();
    const qint16 replaceNotation = m_replaceField->notation();
    const QString findText = m_edSearch->text();
    const QString replaceText = m_edReplace->text();
    const bool findValid = ValidateArgument(findText, findNotation, *m_messages);
    const bool replaceValid = ValidateArgument(replaceText, replaceNotation, *m_messages);
    if (!findValid || findText.isEmpty() || !replaceValid) {
        m_messages->beep();
        return;
    }
    m_lvwFind->appendRow({TypeCode(findNotation), findText, TypeCode(replaceNotation), replaceText});
    m_lvwFind->scrollToItem(m_lvwFind->topLevelItem(m_lvwFind->topLevelItemCount() - 1));
    if (!m_ctrlKeyDown) {
        m_edSearch->clear();
        m_edReplace->clear();
    }
}

void MainWindow::EditArgument()
{
    const int current = m_lvwFind->currentPosition();
    if (current < 0) {
        m_messages->beep();
        return;
    }
    const ArgumentRow row = m_lvwFind->row(current);
    // An unknown type code changes no option.
    if (const std::optional<qint16> n = NotationFromTypeCode(row.findType))
        m_findField->selectNotation(*n);
    if (const std::optional<qint16> n = NotationFromTypeCode(row.replaceType))
        m_replaceField->selectNotation(*n);
    m_edSearch->setText(row.findText);
    m_edReplace->setText(row.replaceText);
    delete m_lvwFind->takeTopLevelItem(current);
    UpdateCommands();
}

void MainWindow::RemoveArguments()
{
    {
        BusyPointer busy(*m_messages);
        for (int i = m_lvwFind->topLevelItemCount() - 1; i >= 0; --i) {
            // Events run between removals and may have changed the list.
            if (i >= m_lvwFind->topLevelItemCount())
                continue;
            QTreeWidgetItem *item = m_lvwFind->topLevelItem(i);
            if (!item->isSelected())
                continue;
            delete m_lvwFind->takeTopLevelItem(i);
            QCoreApplication::processEvents();
        }
        if (QTreeWidgetItem *current = m_lvwFind->currentItem())
            current->setSelected(true);
    }
    UpdateCommands();
}

void MainWindow::ClearArguments()
{
    {
        BusyPointer busy(*m_messages);
        m_lvwFind->clear();
    }
    UpdateCommands();
}

void MainWindow::MoveArgumentUp()
{
    const int p = m_lvwFind->currentPosition();
    if (p <= 0) {
        m_messages->beep();
        return;
    }
    m_lvwFind->MoveArgument(p, p - 1);
}

void MainWindow::MoveArgumentDown()
{
    const int p = m_lvwFind->currentPosition();
    if (p < 0 || p == m_lvwFind->topLevelItemCount() - 1) {
        m_messages->beep();
        return;
    }
    m_lvwFind->MoveArgument(p, p + 2);
}

FindReplaceArguments MainWindow::CollectArguments() const
{
    const FindReplaceArgument pending {m_findField->notation(), m_edSearch->text(), m_replaceField->notation(), m_edReplace->text()};
    return perrox::CollectArguments(pending, m_lvwFind->rows());
}

// File list

bool MainWindow::refuseWhileFileListBusy()
{
    // A drop, scan or removal lets window events run; a second one, or a
    // command on the list, would work on a list that is still changing.
    if (!m_fileListBusy)
        return false;
    m_messages->beep();
    return true;
}

void MainWindow::AddFileToList(const QString &path)
{
    m_lvwFiles->appendPath(path);
    // The list repaints while many files are added; rounds of events every
    // few milliseconds keep a drop of many thousand files fast.
    pumpEvents();
}

void MainWindow::AddFilesByDialog()
{
    if (refuseWhileFileListBusy())
        return;
    if (m_lvwFiles->topLevelItemCount() > 0 && !FolderExists(m_addDir))
        m_addDir = GetFolderName(m_lvwFiles->path(0));
    QStringList chosen;
    if (openFilesHook) {
        chosen = openFilesHook(m_addDir);
    } else {
        QFileDialog dialog(this);
        dialog.setFileMode(QFileDialog::ExistingFiles);
        dialog.setAcceptMode(QFileDialog::AcceptOpen);
        // "*" rather than "*.*": here a name needs no dot.
        dialog.setNameFilter(QStringLiteral("All Files (*)"));
        dialog.setDirectory(m_addDir);
        if (dialog.exec() == QDialog::Accepted)
            chosen = dialog.selectedFiles();
    }
    if (chosen.isEmpty())
        return; // cancelled: nothing changes, not even the folder
    QCoreApplication::processEvents();
    m_addDir = GetFolderName(chosen.first());
    {
        const FileListChange change(m_fileListBusy, *m_messages, chosen.size() > 1);
        for (const QString &path : chosen)
            AddFileToList(path);
    }
    finishAdding(true);
}

void MainWindow::finishAdding(bool selectLast)
{
    if (selectLast && m_lvwFiles->topLevelItemCount() > 0) {
        if (QTreeWidgetItem *current = m_lvwFiles->currentItem())
            current->setSelected(false);
        QTreeWidgetItem *last = m_lvwFiles->topLevelItem(m_lvwFiles->topLevelItemCount() - 1);
        m_lvwFiles->setCurrentItem(last, 0, QItemSelectionModel::NoUpdate);
        last->setSelected(false);
        m_lvwFiles->scrollToItem(last);
    }
    // The next column click sorts ascending.
    m_sortOrder = Qt::DescendingOrder;
    SetStatusText(QStringLiteral("%1 files").arg(m_lvwFiles->topLevelItemCount()));
    UpdateCommands();
}

void MainWindow::DropFiles(const QStringList &paths)
{
    if (paths.isEmpty() || refuseWhileFileListBusy())
        return;
    class Observer : public FolderScanObserver
    {
    public:
        explicit Observer(MainWindow &window)
            : m_window(window)
        { }
        bool fileFound(const QString &path) override
        {
            m_window.AddFileToList(path);
            return true;
        }
        void pumpEvents() override { m_window.pumpEvents(); }

    private:
        MainWindow &m_window;
    } observer(*this);
    {
        const FileListChange change(m_fileListBusy, *m_messages);
        ScanPaths(paths, m_masks, observer);
    }
    finishAdding(m_lvwFiles->topLevelItemCount() > 0);
}

void MainWindow::RemoveSelectedFiles()
{
    // The menu command and the key act only while the file list has the focus.
    if (focusWidget() != m_lvwFiles || refuseWhileFileListBusy())
        return;
    {
        const FileListChange change(m_fileListBusy, *m_messages);
        // From the last row to the first, one run of selected rows at a time,
        // so removing never moves a row that is still to be visited.
        int row = m_lvwFiles->topLevelItemCount() - 1;
        while (row >= 0) {
            row = std::min(row, m_lvwFiles->topLevelItemCount() - 1);
            if (row < 0)
                break;
            if (!m_lvwFiles->topLevelItem(row)->isSelected()) {
                --row;
                continue;
            }
            int first = row;
            while (first > 0 && m_lvwFiles->topLevelItem(first - 1)->isSelected())
                --first;
            m_lvwFiles->model()->removeRows(first, row - first + 1);
            row = first - 1;
            pumpEvents();
        }
    }
    m_sortOrder = Qt::DescendingOrder;
    SetStatusText(fileListStatusText());
    UpdateCommands();
}

void MainWindow::SelectAllFiles()
{
    {
        BusyPointer busy(*m_messages);
        m_lvwFiles->selectAll();
        if (const int n = m_lvwFiles->topLevelItemCount())
            m_lvwFiles->setCurrentItem(m_lvwFiles->topLevelItem(n - 1), 0, QItemSelectionModel::NoUpdate);
    }
    m_lvwFiles->setFocus();
}

void MainWindow::InvertFileSelection()
{
    {
        BusyPointer busy(*m_messages);
        const int n = m_lvwFiles->topLevelItemCount();
        QTreeWidgetItem *lastNewlySelected = nullptr;
        for (int i = 0; i < n; ++i) {
            QTreeWidgetItem *item = m_lvwFiles->topLevelItem(i);
            if (!item->isSelected())
                lastNewlySelected = item;
        }
        if (n > 0) {
            const QItemSelection all(m_lvwFiles->model()->index(0, 0), m_lvwFiles->model()->index(n - 1, 1));
            m_lvwFiles->selectionModel()->select(all, QItemSelectionModel::Toggle);
        }
        if (lastNewlySelected)
            m_lvwFiles->setCurrentItem(lastNewlySelected, 0, QItemSelectionModel::NoUpdate);
    }
    m_lvwFiles->setFocus();
}

void MainWindow::SortByColumn(int column)
{
    if (refuseWhileFileListBusy())
        return;
    if (column == m_lastSortedColumn && m_sortOrder == Qt::AscendingOrder)
        m_sortOrder = Qt::DescendingOrder;
    else
        m_sortOrder = Qt::AscendingOrder;
    // Sorted once; rows added later go to the end.
    m_lvwFiles->sortItems(column, m_sortOrder);
    m_lastSortedColumn = column;
}

QString MainWindow::statusText() const
{
    return m_status->text();
}

void MainWindow::SetStatusText(const QString &text)
{
    if (m_status->text() == text)
        return;
    m_status->setText(text);
    QCoreApplication::processEvents();
}

QString MainWindow::fileListStatusText() const
{
    const int n = m_lvwFiles->topLevelItemCount();
    return n > 0 ? QStringLiteral("%1 files").arg(n) : QString();
}

int MainWindow::rowCount() const
{
    return m_lvwFiles->topLevelItemCount();
}

QString MainWindow::rowPath(int row) const
{
    return m_lvwFiles->path(row);
}

void MainWindow::setRowCount(int row, const QString &cell)
{
    if (m_running) {
        m_pendingCells.emplace_back(row, cell);
        return;
    }
    if (QTreeWidgetItem *item = m_lvwFiles->topLevelItem(row))
        item->setText(1, cell);
}

// A message during a run comes after everything the run has shown so far.
class MainWindow::PendingFirstSink : public MessageSink
{
public:
    explicit PendingFirstSink(MainWindow &window)
        : m_window(window)
    { }
    Answer show(const QString &text, Icon icon, Buttons buttons, const QString &title) override
    {
        m_window.showPending();
        return m_window.m_messages->show(text, icon, buttons, title);
    }
    void beep() override { m_window.m_messages->beep(); }
    void setBusy(bool busy) override { m_window.m_messages->setBusy(busy); }

private:
    MainWindow &m_window;
};

MessageSink &MainWindow::messages()
{
    if (!m_runMessages)
        m_runMessages = std::make_unique<PendingFirstSink>(*this);
    return *m_runMessages;
}

void MainWindow::showPending()
{
    if (m_statusPending && m_progress) {
        m_progress->setStatus1(m_pendingStatus1);
        m_progress->setStatus2(m_pendingStatus2);
    }
    m_statusPending = false;
    if (m_pendingCells.empty())
        return;
    // One change for the whole range instead of one per cell, which would
    // have the list measure and lay out its rows again each time.
    QAbstractItemModel *model = m_lvwFiles->model();
    int first = m_pendingCells.front().first;
    int last = first;
    {
        const QSignalBlocker quiet(model);
        for (const auto &[row, cell] : m_pendingCells) {
            if (QTreeWidgetItem *item = m_lvwFiles->topLevelItem(row)) {
                item->setText(1, cell);
                first = std::min(first, row);
                last = std::max(last, row);
            }
        }
    }
    m_pendingCells.clear();
    emit model->dataChanged(model->index(first, 1), model->index(last, 1));
}

// Runs

RunResult MainWindow::ProcessFiles(RunMode mode)
{
    if (m_running || refuseWhileFileListBusy())
        return {};
    return perrox::ProcessFiles(mode, CollectArguments(), m_replaceAs, m_engine, *this);
}

ProgressWindow *MainWindow::progressWindow() const
{
    return m_progress;
}

bool MainWindow::chooseReplaceAsTarget(ReplaceAsSettings &settings)
{
    if (chooseTargetHook)
        return chooseTargetHook(settings);
    QStringList paths;
    for (int i = 0; i < rowCount(); ++i)
        paths.append(rowPath(i));
    SaveDialog dialog(this, *m_messages, settings, paths);
    dialog.exec();
    return dialog.g_rv() == 1;
}

void MainWindow::beginRun(const QString &caption, double total)
{
    m_running = true;
    setEnabled(false);
    m_progress = new ProgressWindow(this, *m_messages);
    m_progress->setAttribute(Qt::WA_DeleteOnClose);
    m_progress->Initialize(total);
    m_progress->setWindowTitle(caption);
    // A window of its own takes input while its owner is disabled.
    m_progress->setEnabled(true);
    m_progress->show();
    QCoreApplication::processEvents();
    m_sincePump.start();
    if (onRunStarted)
        onRunStarted(m_progress);
}

void MainWindow::showFile(const QString &status1, const QString &status2)
{
    m_pendingStatus1 = status1;
    m_pendingStatus2 = status2;
    m_statusPending = true;
}

void MainWindow::endRun()
{
    showPending();
    if (m_progress)
        m_progress->unload();
    QCoreApplication::processEvents();
    setEnabled(true);
    m_running = false;
}

void MainWindow::progress(double position)
{
    if (m_progress)
        m_progress->Update(position);
}

bool MainWindow::cancelRequested()
{
    return m_progress && m_progress->cancelFlag();
}

void MainWindow::pumpEvents()
{
    // Window events run at most every few milliseconds; the engine still
    // reads the cancel flag after every block.
    if (m_pumpInterval > 0 && m_sincePump.isValid() && m_sincePump.elapsed() < m_pumpInterval)
        return;
    showPending();
    QCoreApplication::processEvents();
    m_sincePump.start();
}

ArgumentTags MainWindow::argumentTags() const
{
    return {m_preferences.findStartTag, m_preferences.findEndTag, m_preferences.replaceStartTag, m_preferences.replaceEndTag};
}

QString MainWindow::askArgumentFile(bool save)
{
    if (argumentFileDialogHook)
        return argumentFileDialogHook(save);
    // The dialog starts with no name and no folder of its own.
    QFileDialog dialog(this);
    dialog.setNameFilter(QStringLiteral("All Files (*)"));
    if (save) {
        dialog.setAcceptMode(QFileDialog::AcceptSave);
        dialog.setFileMode(QFileDialog::AnyFile);
    } else {
        dialog.setAcceptMode(QFileDialog::AcceptOpen);
        dialog.setFileMode(QFileDialog::ExistingFile);
    }
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty())
        return QString();
    return dialog.selectedFiles().first();
}

void MainWindow::SaveArguments()
{
    const QString path = askArgumentFile(true);
    QCoreApplication::processEvents();
    if (path.isEmpty())
        return;
    if (SaveArgumentFile(path, CollectArguments(), argumentTags(), *m_messages))
        AddRecentFile(path);
}

void MainWindow::LoadArguments(const QString &chosen)
{
    QString path = chosen;
    if (path.isEmpty()) {
        path = askArgumentFile(false);
        QCoreApplication::processEvents();
        if (path.isEmpty())
            return;
    }
    const std::optional<FindReplaceArguments> loaded = LoadArgumentFile(path, argumentTags(), *m_messages);
    if (!loaded)
        return;
    for (const FindReplaceArgument &argument : *loaded)
        m_lvwFind->appendRow(RowFromArgument(argument));
    AddRecentFile(path);
    UpdateCommands();
}

} // namespace perrox
