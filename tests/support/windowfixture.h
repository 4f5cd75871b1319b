#pragma once

#include "app/mainwindow.h"
#include "app/windowdialogs.h"
#include "arguments/argumentlistview.h"
#include "arguments/notation.h"
#include "arguments/notationfield.h"
#include "engine/progresswindow.h"
#include "files/filelistview.h"
#include "support/testsupport.h"

#include <QAction>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QSettings>
#include <QTemporaryDir>
#include <QTest>
#include <QUrl>

#include <memory>
#include <optional>

namespace perrox::test {

using namespace Qt::StringLiterals;

// Answers the window's dialogs from a script and records what was asked: "files START", "folder START", "save",
// "load", "target N", "url URL", "CAPTION NAME FILTER".
class ScriptedDialogs : public WindowDialogs
{
public:
    QStringList openFiles(const QString &start) override { return asked << u"files "_s + start, files; }
    QString chooseFolder(const QString &start) override { return asked << u"folder "_s + start, folder; }
    QString argumentFile(bool save) override { return asked << (save ? u"save"_s : u"load"_s), argumentPath; }
    QString saveFile(const QString &caption, const QString &name, const QString &filter) override
    {
        return asked << u"%1 %2 %3"_s.arg(caption, name, filter), savePath;
    }
    bool chooseReplaceAsTarget(ReplaceAsSettings &settings, const QStringList &paths) override
    {
        return asked << u"target %1"_s.arg(paths.size()), target ? (settings = *target, true) : false;
    }
    bool openUrl(const QUrl &url) override { return asked << u"url "_s + url.toString(), urlOpens; }
    void runStarted(ProgressWindow *progress) override { onRunStarted ? onRunStarted(progress) : void(); }

    // The answers; an empty one (none for the target) cancels the dialog.
    QStringList files; // Add Files
    QString folder, argumentPath, savePath; // Add Folder, Save and Load Arguments, saveFile
    std::optional<ReplaceAsSettings> target; // Replace As
    bool urlOpens = true;
    std::function<void(ProgressWindow *)> onRunStarted;
    QStringList asked;
};

// A main window over a recording sink and scripted dialogs, shown and active, its controls found by their names.
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
    QRadioButton *option(int side, Notation notation) const { return child<QRadioButton>(u"opt"_s + Info(notation).code + QString::number(side + 1)); }
    QAction *action(const QString &name) const { return child<QAction>(name); }
    void trigger(const QString &name) const { action(name)->trigger(); }
    void click(const QString &button) const { QTest::mouseClick(child<QPushButton>(button), Qt::LeftButton); }
    QString status() const { return child<QLabel>(u"staBarText"_s)->text(); }
    ProgressWindow *progress() const { return w->findChild<ProgressWindow *>(); }

    void addFiles(const QStringList &paths) { dialogs.files = paths, trigger(u"IDM_ADD"_s); } // through File > Add Files
    void drop(const QList<QUrl> &urls) const; // as the file manager drops on the file list
    void addRow(const QString &findType, const QString &find, const QString &replaceType = u"Asc"_s, const QString &replace = QString()) const
    {
        args()->appendRow({findType, find, replaceType, replace});
    }
    void setCurrentRow(int row) const { args()->clearSelection(), args()->setCurrentItem(args()->topLevelItem(row)); }
    void pending(const QString &find, const QString &replace) const { edSearch()->setText(find), edReplace()->setText(replace); }
    template<typename F> QStringList eachFile(F cell) const
    {
        QStringList list;
        for (int i = 0; i < files()->topLevelItemCount(); ++i)
            list << cell(i);
        return list;
    }
    QStringList paths() const
    {
        return eachFile([&](int i) { return files()->path(i); });
    }
    QString cells() const // the Count cells joined by "|"
    {
        return eachFile([&](int i) { return files()->topLevelItem(i)->text(1); }).join(u'|');
    }
    // The file list at a glance: "paths | status text | current row | selected rows", and " | busy" while the list or
    // the busy pointer is.
    QString listState() const
    {
        const QString selected = eachFile([&](int i) { return files()->topLevelItem(i)->isSelected() ? QString::number(i) : QString(); }).join(u' ');
        return u"%1 | %2 | %3 | %4"_s.arg(paths().join(u' '), status()).arg(files()->indexOfTopLevelItem(files()->currentItem())).arg(selected.simplified())
            + (files()->busy() || sink.busyDepth ? u" | busy"_s : QString());
    }
    QString findTexts() const // the argument list's, joined by blanks
    {
        QStringList texts;
        for (const ArgumentRow &row : args()->rows())
            texts << row.findText;
        return texts.join(u' ');
    }

    RecordingSink sink;
    ScriptedDialogs dialogs;
    std::unique_ptr<MainWindow> w;
};

// A test of the main window: each test function gets a window of its own, with its preferences in dir, TEMP in temp
// and the journal's state folder, all removed afterwards; no temporary file of the program may be left in either.
class WindowTest : public QObject
{
    Q_OBJECT

protected:
    QString prefs() const { return dir->filePath(u"prefs.conf"_s); }
    QString file(const QString &name, const QByteArray &bytes = "x") const { return WriteFileIn(dir->path(), name, bytes); }
    RecordingSink &sink() const { return f->sink; }
    // Preferences: seed() stores values for the next start, stored() reads one the window wrote.
    void seed(const QList<std::pair<QString, QString>> &values) const;
    QString stored(const QString &key) const { return QSettings(prefs(), QSettings::NativeFormat).value(u"Preferences/"_s + key).toString(); }
    // A new window on prefs(), after the old one closed without saving.
    void restart();

    std::unique_ptr<QTemporaryDir> dir, temp;
    std::unique_ptr<StateFolderGuard> state; // the journal of runs too
    std::unique_ptr<WindowFixture> f;

private slots:
    void init();
    void cleanup();
};

} // namespace perrox::test
