#include "windowdialogs.h"

#include "app/savedialog.h"

#include <QDesktopServices>
#include <QFileDialog>
#include <QFileInfo>
#include <QUrl>

namespace perrox {

QStringList WidgetDialogs::openFiles(const QString &startFolder)
{
    QFileDialog dialog(m_parent);
    dialog.setFileMode(QFileDialog::ExistingFiles);
    dialog.setAcceptMode(QFileDialog::AcceptOpen);
    // "*" rather than "*.*": here a name needs no dot.
    dialog.setNameFilter(QStringLiteral("All Files (*)"));
    dialog.setDirectory(startFolder);
    return dialog.exec() == QDialog::Accepted ? dialog.selectedFiles() : QStringList();
}

QString WidgetDialogs::chooseFolder(const QString &startFolder)
{
    return QFileDialog::getExistingDirectory(m_parent, QStringLiteral("Add Folder"), startFolder);
}

QString WidgetDialogs::argumentFile(bool save)
{
    // The dialog starts with no name and no folder of its own.
    QFileDialog dialog(m_parent);
    dialog.setNameFilter(QStringLiteral("All Files (*)"));
    dialog.setAcceptMode(save ? QFileDialog::AcceptSave : QFileDialog::AcceptOpen);
    dialog.setFileMode(save ? QFileDialog::AnyFile : QFileDialog::ExistingFile);
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty())
        return QString();
    return dialog.selectedFiles().first();
}

QString WidgetDialogs::saveFile(const QString &caption, const QString &defaultName, const QString &filter)
{
    QFileDialog dialog(m_parent, caption);
    dialog.setNameFilter(filter);
    dialog.setAcceptMode(QFileDialog::AcceptSave);
    dialog.setFileMode(QFileDialog::AnyFile);
    // A name typed without an extension gets the default name's.
    dialog.setDefaultSuffix(QFileInfo(defaultName).suffix());
    dialog.selectFile(defaultName);
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty())
        return QString();
    return dialog.selectedFiles().first();
}

bool WidgetDialogs::chooseReplaceAsTarget(ReplaceAsSettings &settings, const QStringList &paths)
{
    SaveDialog dialog(m_parent, m_messages, settings, paths);
    dialog.exec();
    return dialog.g_rv() == 1;
}

bool WidgetDialogs::openUrl(const QUrl &url)
{
    return QDesktopServices::openUrl(url);
}

} // namespace perrox
