#include "savedialog.h"

#include "base/messagesink.h"
#include "base/twips.h"
#include "base/widgetsupport.h"
#include "engine/processfiles.h"
#include "files/filenames.h"
#include "files/filesystem.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QFileInfo>
#include <QFileSystemModel>
#include <QHeaderView>
#include <QInputDialog>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QStorageInfo>
#include <QStyle>
#include <QTreeView>

#include <algorithm>
#include <cerrno>
#include <sys/stat.h>
#include <unistd.h>

namespace perrox {

namespace {

const QChar kSeparator = QLatin1Char('/');

// A folder the dialog can open: it exists and may be entered.
bool CanOpenFolder(const QString &path)
{
    return FolderExists(path) && ::access(NativePath(path).constData(), X_OK) == 0;
}

// The absolute, clean form of a folder path: no final "/" except for "/".
QString CleanFolder(const QString &path)
{
    return QDir::cleanPath(QFileInfo(path).absoluteFilePath());
}

QStringList VolumeRoots()
{
    QStringList roots;
    for (const QStorageInfo &volume : QStorageInfo::mountedVolumes())
        if (volume.isValid())
            roots.append(volume.rootPath());
    roots.append(QStringLiteral("/"));
    roots.sort();
    roots.removeDuplicates();
    return roots;
}

// A label at its design place that is never narrower than its text.
QLabel *DesignLabel(QWidget *parent, const QString &name, const QString &text, double left, double top, double width, double height)
{
    auto *label = new QLabel(text, parent);
    label->setObjectName(name);
    SetGeometryTwips(label, left, top, width, height);
    label->resize(std::max(label->width(), label->sizeHint().width()), label->height());
    return label;
}

} // namespace

SaveDialog::SaveDialog(QWidget *owner, MessageSink &messages, ReplaceAsSettings &settings, const QStringList &rowPaths)
    : QDialog(owner, FixedDialogFlags())
    , m_messages(messages)
    , m_settings(settings)
    , m_rowPaths(rowPaths)
{
    // One row taller than the design, for the folder structure box below the others.
    SetUpFixedDialog(this, QStringLiteral("Save"), QStringLiteral("Save As"), 5955, 3480);
    createControls();
    Form_Load();
}

SaveDialog::~SaveDialog() = default;

void SaveDialog::createControls()
{
    auto *label2 = DesignLabel(this, QStringLiteral("Label2"), QStringLiteral("&Prefix"), 120, 120, 975, 195);
    m_edPrefix = new QLineEdit(this);
    m_edPrefix->setObjectName(QStringLiteral("edPrefix"));
    SetGeometryTwips(m_edPrefix, 120, 360, 975, 285);
    label2->setBuddy(m_edPrefix);

    auto *label4 = DesignLabel(this, QStringLiteral("Label4"), QStringLiteral("S&uffix"), 1200, 120, 390, 195);
    m_edSuffix = new QLineEdit(this);
    m_edSuffix->setObjectName(QStringLiteral("edSuffix"));
    SetGeometryTwips(m_edSuffix, 1200, 360, 975, 285);
    label4->setBuddy(m_edSuffix);

    m_list1 = new QListWidget(this);
    m_list1->setObjectName(QStringLiteral("List1"));
    SetGeometryTwips(m_list1, 120, 720, 2055, 1935);
    // The warning sign of a name that collides, as small as the text.
    const int side = m_list1->fontMetrics().height();
    m_list1->setIconSize(QSize(side, side));

    m_chkOverwrite = new QCheckBox(QStringLiteral("&overwrite existing files"), this);
    m_chkOverwrite->setObjectName(QStringLiteral("chkOverwrite"));
    SetGeometryTwips(m_chkOverwrite, 120, 2760, 2175, 255);

    m_chkKeepFolders = new QCheckBox(QStringLiteral("Keep the &folder structure"), this);
    m_chkKeepFolders->setObjectName(QStringLiteral("chkKeepFolders"));
    SetGeometryTwips(m_chkKeepFolders, 120, 3120, 4335, 255);

    auto *label1 = DesignLabel(this, QStringLiteral("Label1"), QStringLiteral("&Folder:"), 2400, 120, 480, 195);

    // The open folder, where a path can also be typed: Enter goes there.
    m_edFolder = new QLineEdit(this);
    m_edFolder->setObjectName(QStringLiteral("edFolder"));
    m_edFolder->setPlaceholderText(QStringLiteral("Specify a folder"));
    SetGeometryTwips(m_edFolder, 2400, 405, 2055, 285);
    m_edFolder->installEventFilter(this);

    createFolderTree();
    label1->setBuddy(m_dir1);

    auto *label3 = DesignLabel(this, QStringLiteral("Label3"), QStringLiteral("&Drive:"), 2400, 2520, 420, 195);
    m_drive1 = new QComboBox(this);
    m_drive1->setObjectName(QStringLiteral("Drive1"));
    m_drive1->addItems(VolumeRoots());
    SetGeometryTwips(m_drive1, 2400, 2760, 2055, 315);
    label3->setBuddy(m_drive1);
    connect(m_drive1, &QComboBox::currentIndexChanged, this, &SaveDialog::Drive1_Change);

    m_command1 = new QPushButton(QStringLiteral("&Save"), this);
    m_command1->setObjectName(QStringLiteral("Command1"));
    SetGeometryTwips(m_command1, 4680, 120, 1170, 345);
    m_command1->setDefault(true);
    connect(m_command1, &QPushButton::clicked, this, &SaveDialog::Command1_Click);

    m_command2 = new QPushButton(QStringLiteral("&Cancel"), this);
    m_command2->setObjectName(QStringLiteral("Command2"));
    SetGeometryTwips(m_command2, 4680, 600, 1170, 345);
    connect(m_command2, &QPushButton::clicked, this, &SaveDialog::Command2_Click);

    m_command3 = new QPushButton(QStringLiteral("&New Folder..."), this);
    m_command3->setObjectName(QStringLiteral("Command3"));
    SetGeometryTwips(m_command3, 4680, 2040, 1170, 345);
    connect(m_command3, &QPushButton::clicked, this, &SaveDialog::Command3_Click);

    // Connected last, so the set-up above does not fill the list early.
    connect(m_edPrefix, &QLineEdit::textChanged, this, [this] { fieldChanged(m_edPrefix); });
    connect(m_edSuffix, &QLineEdit::textChanged, this, [this] { fieldChanged(m_edSuffix); });
    connect(m_chkKeepFolders, &QCheckBox::toggled, this, &SaveDialog::UpdateExampleList);
}

void SaveDialog::createFolderTree()
{
    m_model = new QFileSystemModel(this);
    m_model->setObjectName(QStringLiteral("Dir1Model"));
    m_model->setFilter(QDir::AllDirs | QDir::Hidden | QDir::NoDotAndDotDot);
    m_model->setReadOnly(true);
    m_model->setRootPath(QStringLiteral("/"));

    m_dir1 = new QTreeView(this);
    m_dir1->setObjectName(QStringLiteral("Dir1"));
    m_dir1->setModel(m_model);
    for (int column = 1; column < m_model->columnCount(); ++column)
        m_dir1->hideColumn(column);
    m_dir1->setHeaderHidden(true);
    // Narrow and deep: small indentation steps, and the names fill the width
    // (a long one is cut short) instead of scrolling out of sight sideways.
    m_dir1->setIndentation(10);
    m_dir1->header()->setStretchLastSection(true);
    m_dir1->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    m_dir1->setExpandsOnDoubleClick(false);
    m_dir1->setUniformRowHeights(true);
    m_dir1->sortByColumn(0, Qt::AscendingOrder);
    m_dir1->setToolTip(QStringLiteral("Double-click to specify the target folder"));
    SetGeometryTwips(m_dir1, 2400, 720, 2055, 1665);
    connect(m_dir1, &QAbstractItemView::doubleClicked, this, &SaveDialog::Dir1_DblClick);
    m_dir1->installEventFilter(this);
}

bool SaveDialog::eventFilter(QObject *watched, QEvent *event)
{
    if (event->type() != QEvent::KeyPress)
        return QDialog::eventFilter(watched, event);
    const int key = static_cast<QKeyEvent *>(event)->key();
    if (key != Qt::Key_Return && key != Qt::Key_Enter)
        return QDialog::eventFilter(watched, event);
    if (watched == m_edFolder) {
        // Enter in the folder line goes to the folder typed; it does not save.
        goToTypedFolder();
        return true;
    }
    if (watched == m_dir1) {
        // The highlighted folder is the one chosen, not the one opened before.
        const QModelIndex current = m_dir1->currentIndex();
        if (current.isValid() && !OpenFolder(m_model->filePath(current))) {
            m_messages.beep();
            return true;
        }
        Command1_Click();
        return true;
    }
    return QDialog::eventFilter(watched, event);
}

QString SaveDialog::typedFolder() const
{
    QString typed = m_edFolder->text().trimmed();
    if (typed == QLatin1String("~") || typed.startsWith(QLatin1String("~/")))
        typed.replace(0, 1, QDir::homePath());
    // A relative path starts at the open folder.
    return typed.isEmpty() ? typed : CleanFolder(QDir(m_folder).filePath(typed));
}

bool SaveDialog::goToTypedFolder()
{
    const QString path = typedFolder();
    if (path.isEmpty() || path == m_folder) {
        setActFolderCaption(m_folder);
        return true;
    }
    if (OpenFolder(path))
        return true;
    m_messages.warn(FolderExists(path) ? QLatin1String("Cannot open the folder ") + path + QLatin1Char('.')
                                       : QLatin1String("The folder ") + path + QLatin1String(" does not exist."));
    m_edFolder->setFocus();
    return false;
}

void SaveDialog::Form_Load()
{
    // Prefix, suffix and overwrite are asked afresh each time; only the folder is remembered.
    m_edPrefix->clear();
    m_edSuffix->clear();
    m_chkOverwrite->setChecked(false);
    // Kept for the session, as the folder is.
    m_chkKeepFolders->setChecked(m_settings.keepFolders);
    m_ids = FileIdsOf(m_rowPaths);
    m_sameAs = SameFileRows(m_ids);

    QString start = QDir::currentPath();
    if (FolderExists(m_settings.outpath))
        start = m_settings.outpath;
    if (!OpenFolder(start)) {
        // Even the current folder may have gone; the root can always be shown.
        OpenFolder(QStringLiteral("/"));
    }
    UpdateExampleList();
}

void SaveDialog::UpdateExampleList()
{
    m_list1->clear();
    ReplaceAsSettings typed;
    typed.outprefix = m_edPrefix->text();
    typed.outsuffix = m_edSuffix->text();
    typed.keepFolders = m_chkKeepFolders->isChecked();
    const TargetPlan plan = PlanTargets(m_rowPaths, m_ids, m_sameAs, m_folder, typed);
    const QIcon warning = style()->standardIcon(QStyle::SP_MessageBoxWarning);
    for (qsizetype row = 0; row < m_rowPaths.size(); ++row) {
        auto *item = new QListWidgetItem(plan.relative.at(row), m_list1);
        item->setToolTip(plan.notes.at(row));
        if (plan.clash[size_t(row)] >= 0)
            item->setIcon(warning);
    }
}

void SaveDialog::fieldChanged(QLineEdit *field)
{
    QString text = field->text();
    const int caret = field->cursorPosition();
    if (RemoveInvalidChars(text) > 0) {
        m_messages.beep();
        // setText comes back here once more and finds nothing left to remove.
        field->setText(text);
        // The caret goes where the removed character was.
        field->setCursorPosition(caret > 1 ? caret - 1 : 0);
    }
    UpdateExampleList();
}

bool SaveDialog::OpenFolder(const QString &path)
{
    if (path.isEmpty() || !CanOpenFolder(path))
        return false;
    m_folder = CleanFolder(path);

    // Shown the way a folder list shows it: the folders down to the open one,
    // and the open folder's subfolders below it.
    const QModelIndex index = m_model->index(m_folder);
    m_dir1->collapseAll();
    for (QModelIndex up = index; up.isValid(); up = up.parent())
        m_dir1->expand(up);
    m_dir1->setCurrentIndex(index);
    m_dir1->scrollTo(index, QAbstractItemView::PositionAtCenter);

    showDriveOf(m_folder);
    setActFolderCaption(m_folder);
    // A result may take the place of a source in one folder and not in another.
    if (!m_ids.empty())
        UpdateExampleList();
    return true;
}

void SaveDialog::Dir1_DblClick(const QModelIndex &index)
{
    if (!OpenFolder(m_model->filePath(index)))
        m_messages.beep();
}

void SaveDialog::showDriveOf(const QString &folder)
{
    QString root = QStorageInfo(folder).rootPath();
    if (root.isEmpty())
        root = QStringLiteral("/");
    int item = m_drive1->findText(root);
    if (item < 0) {
        m_drive1->addItem(root);
        item = m_drive1->count() - 1;
    }
    m_settingDrive = true;
    m_drive1->setCurrentIndex(item);
    m_settingDrive = false;
}

void SaveDialog::Drive1_Change()
{
    if (m_settingDrive)
        return;
    const QString remembered = m_folder;
    const QString drive = m_drive1->currentText();
    if (!OpenFolder(drive)) {
        m_messages.warn(QLatin1String("Drive ") + drive + QLatin1String(" not available."));
        showDriveOf(remembered);
        OpenFolder(remembered);
    }
}

void SaveDialog::setActFolderCaption(const QString &folder)
{
    // The whole path, its end (the open folder's name) in sight.
    m_edFolder->setText(folder);
    m_edFolder->setCursorPosition(int(folder.size()));
}

QString SaveDialog::askForText(const QString &prompt, const QString &title, const QString &defaultText)
{
    const int offset = TwipsToPixels(10, ScreenTwipsPerPixel());
    const QPoint position = frameGeometry().topLeft() + QPoint(offset, offset);
    if (inputBoxHook)
        return inputBoxHook(prompt, title, defaultText, position);
    QInputDialog box(this);
    box.setWindowTitle(title);
    box.setLabelText(prompt);
    box.setTextValue(defaultText);
    box.move(position);
    if (box.exec() != QDialog::Accepted)
        return QString();
    return box.textValue();
}

void SaveDialog::Command3_Click()
{
    QString name
        = askForText(QStringLiteral("Type the name of the folder and click OK."), QStringLiteral("Perrox - Create Folder"), QStringLiteral("NewFolder"));
    RemoveInvalidChars(name);
    if (name.isEmpty())
        return;
    QString path = m_folder;
    if (path.endsWith(kSeparator))
        path.chop(1);
    path += kSeparator + name;
    if (!FolderExists(path)) {
        if (::mkdir(NativePath(path).constData(), 0777) != 0) {
            const int error = errno;
            m_messages.warn(path + QLatin1String(" - ") + SystemErrorText(error));
            return;
        }
    }
    // The model watches the open folder; asking for the new entry lists it
    // at once. The folder made is the one the user goes on with.
    m_model->index(path);
    OpenFolder(path);
}

void SaveDialog::Command1_Click()
{
    // A path typed but not gone to yet is the target, once it opens.
    if (m_edFolder->text() != m_folder && !goToTypedFolder())
        return;
    m_settings.outpath = m_folder;
    m_settings.outprefix = m_edPrefix->text();
    m_settings.outsuffix = m_edSuffix->text();
    m_settings.outoverwrite = m_chkOverwrite->isChecked() ? 1 : 0;
    m_settings.keepFolders = m_chkKeepFolders->isChecked();
    accept();
}

void SaveDialog::Command2_Click()
{
    reject();
}

} // namespace perrox
