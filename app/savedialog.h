#pragma once

#include <QDialog>
#include <QPoint>
#include <QStringList>

#include "engine/targetplan.h"

#include <functional>
#include <vector>

class QCheckBox;
class QComboBox;
class QFileSystemModel;
class QLabel;
class QLineEdit;
class QListWidget;
class QModelIndex;
class QPushButton;
class QTreeView;

namespace perrox {

class MessageSink;
struct ReplaceAsSettings;

// Save, the "Save As" dialog of Replace As: the target folder (Drive1 over the
// mounted volumes, Dir1 over the folder tree), a prefix, a suffix, the
// overwrite box and whether the sources' folders are kept, with the names the
// file list's rows would get; a row whose result would collide with another
// row's, or take a source's place, is marked, with the reason as its tooltip.
//
// Modal use: construct, exec(), then read g_rv(). Save (1) has written the
// four Replace As settings; Cancel, Escape and the close box (2) leave them as
// they were. Every message and beep goes through messages.
class SaveDialog : public QDialog
{
    Q_OBJECT

public:
    SaveDialog(QWidget *owner, MessageSink &messages, ReplaceAsSettings &settings, const QStringList &rowPaths);
    ~SaveDialog() override;

    // 1 after "&Save", 2 otherwise.
    int g_rv() const { return result() == QDialog::Accepted ? 1 : 2; }
    // The folder Dir1 has open: the target folder, without a final "/" unless it is "/".
    QString folder() const { return m_folder; }

    QLineEdit *edPrefix() const { return m_edPrefix; }
    QLineEdit *edSuffix() const { return m_edSuffix; }
    QListWidget *List1() const { return m_list1; }
    QCheckBox *chkOverwrite() const { return m_chkOverwrite; }
    QCheckBox *chkKeepFolders() const { return m_chkKeepFolders; }
    // The open folder; a path typed there and Enter opens it.
    QLineEdit *edFolder() const { return m_edFolder; }
    QTreeView *Dir1() const { return m_dir1; }
    QFileSystemModel *folderModel() const { return m_model; }
    QComboBox *Drive1() const { return m_drive1; }
    QPushButton *Command1() const { return m_command1; }
    QPushButton *Command2() const { return m_command2; }
    QPushButton *Command3() const { return m_command3; }

    // The text-input box of "&New Folder...": prompt, title, default text and
    // the box's top-left corner in screen pixels; returns the answer, empty
    // when cancelled. A QInputDialog unless set (tests answer it).
    std::function<QString(const QString &prompt, const QString &title, const QString &defaultText, const QPoint &position)> inputBoxHook;

    // Opens a folder in Dir1, as a double-click on it does; false (and nothing
    // changes) when it cannot be opened.
    bool OpenFolder(const QString &path);

    void UpdateExampleList();
    void Command1_Click(); // "&Save"
    void Command2_Click(); // "&Cancel"
    void Command3_Click(); // "&New Folder..."

protected:
    // Enter in Dir1 saves to the highlighted folder; Enter in edFolder opens the folder typed.
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    // The folder typed in edFolder, absolute ("~" the home folder, a relative
    // path from the open folder); empty when nothing is typed.
    QString typedFolder() const;
    // Opens the folder typed; false, with a message, when it cannot.
    bool goToTypedFolder();
    void createControls();
    void createFolderTree();
    void Form_Load();
    void fieldChanged(QLineEdit *field);
    void Dir1_DblClick(const QModelIndex &index);
    void Drive1_Change();
    void showDriveOf(const QString &folder);
    void setActFolderCaption(const QString &folder);
    QString askForText(const QString &prompt, const QString &title, const QString &defaultText);

    MessageSink &m_messages;
    ReplaceAsSettings &m_settings;
    QStringList m_rowPaths;
    QString m_folder;
    bool m_settingDrive = false;

    QLineEdit *m_edPrefix = nullptr;
    QLineEdit *m_edSuffix = nullptr;
    QListWidget *m_list1 = nullptr;
    QCheckBox *m_chkOverwrite = nullptr;
    QCheckBox *m_chkKeepFolders = nullptr;
    // The file each row names, read once for the marks of the name list.
    std::vector<FileId> m_ids;
    std::vector<int> m_sameAs;
    QLineEdit *m_edFolder = nullptr;
    QTreeView *m_dir1 = nullptr;
    QFileSystemModel *m_model = nullptr;
    QComboBox *m_drive1 = nullptr;
    QPushButton *m_command1 = nullptr;
    QPushButton *m_command2 = nullptr;
    QPushButton *m_command3 = nullptr;
};

} // namespace perrox
