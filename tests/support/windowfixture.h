#pragma once

#include "app/mainwindow.h"
#include "app/windowdialogs.h"
#include "arguments/argumentlistview.h"
#include "arguments/notationfield.h"
#include "engine/progresswindow.h"
#include "files/filelistview.h"
#include "support/testsupport.h"

#include <QAction>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QUrl>

#include <optional>

namespace perrox::test {

using namespace Qt::StringLiterals;

// Answers the window's dialogs from a script and records what was asked.
class ScriptedDialogs : public WindowDialogs
{
public:
    QStringList openFiles(const QString &start) override { return asked << u"files "_s + start, files; }
    QString chooseFolder(const QString &start) override { return asked << u"folder "_s + start, folder; }
    QString argumentFile(bool save) override { return asked << (save ? u"save"_s : u"load"_s), argumentPath; }
    bool chooseReplaceAsTarget(ReplaceAsSettings &settings, const QStringList &paths) override;
    bool openUrl(const QUrl &url) override { return asked << u"url "_s + url.toString(), urlOpens; }
    void runStarted(ProgressWindow *progress) override { onRunStarted ? onRunStarted(progress) : void(); }

    QStringList files; // Add Files; empty: cancelled
    QString folder; // Add Folder; empty: cancelled
    QString argumentPath; // Save and Load Arguments; empty: cancelled
    std::optional<ReplaceAsSettings> target; // Replace As; none: cancelled
    bool urlOpens = true;
    std::function<void(ProgressWindow *)> onRunStarted;
    QStringList asked; // "files START", "folder START", "save", "load", "target N", "url URL"
};

// A main window over a recording sink and scripted dialogs, shown and active,
// with its controls found by their object names.
class WindowFixture
{
public:
    explicit WindowFixture(const QString &preferencesFile = QString(), bool show = true);

    template<typename T = QWidget> T *child(const QString &name) const
    {
        T *found = w->findChild<T *>(name);
        return found ? found : (qFatal("no control %s", qPrintable(name)), nullptr);
    }
    FileListView *files() const { return child<FileListView>(u"lvwFiles"_s); }
    ArgumentListView *args() const { return child<ArgumentListView>(u"lvwFind"_s); }
    QLineEdit *edSearch() const { return child<QLineEdit>(u"edSearch"_s); }
    QLineEdit *edReplace() const { return child<QLineEdit>(u"edReplace"_s); }
    NotationField *field(int side) const { return child<NotationField>(side ? u"replaceField"_s : u"findField"_s); }
    QRadioButton *option(int side, int notation) const; // optAsc1 ... optHex2
    QPushButton *button(const QString &name) const { return child<QPushButton>(name); }
    QAction *action(const QString &name) const { return child<QAction>(name); }
    void trigger(const QString &name) const { action(name)->trigger(); }
    QString status() const { return child<QLabel>(u"staBarText"_s)->text(); }
    ProgressWindow *progress() const { return w->findChild<ProgressWindow *>(); }

    void addFiles(const QStringList &paths); // through File > Add Files
    void drop(const QList<QUrl> &urls) const; // as the file manager drops on the file list
    void addRow(const QString &findType, const QString &find, const QString &replaceType = u"Asc"_s, const QString &replace = QString()) const;
    void setCurrentRow(int row) const;
    void pending(const QString &find, const QString &replace) const;
    QStringList paths() const;
    QStringList findTexts() const;
    QList<int> selectedFiles() const;
    QString cell(int row) const { return files()->topLevelItem(row)->text(1); }

    RecordingSink sink;
    ScriptedDialogs dialogs;
    std::unique_ptr<MainWindow> w;
};

} // namespace perrox::test
