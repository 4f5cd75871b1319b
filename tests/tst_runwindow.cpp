// Count, Replace and Replace As started from the main window, end to end on
// real files, with the message layer answering every question.

#include "app/mainwindow.h"
#include "arguments/notation.h"
#include "arguments/notationfield.h"
#include "engine/progresswindow.h"
#include "files/filedescriptor.h"
#include "files/filelistview.h"
#include "files/filesystem.h"
#include "files/rewritejournal.h"
#include "support/testsupport.h"

#include <QAction>
#include <QApplication>
#include <QDir>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>

#include <fcntl.h>
#include <sys/stat.h>

using namespace perrox;
using namespace perrox::test;

namespace {

// Cancels the run when the progress window shows the file given.
class CancellingWindow : public MainWindow
{
public:
    using MainWindow::MainWindow;
    QString cancelAt;
    void showFile(const QString &status1, const QString &status2) override
    {
        MainWindow::showFile(status1, status2);
        if (status1 == cancelAt && progressWindow())
            progressWindow()->askCancel();
    }
};

} // namespace

class TestRunWindow : public QObject
{
    Q_OBJECT

private:
    std::unique_ptr<QTemporaryDir> dir;
    std::unique_ptr<QTemporaryDir> temp;
    std::unique_ptr<RecordingSink> sink;
    std::unique_ptr<CancellingWindow> w;

    QString file(const QString &name, const QByteArray &bytes) { return WriteFileIn(dir->path(), name, bytes); }
    QString cell(int row) const { return w->lvwFiles()->topLevelItem(row)->text(1); }
    void addFiles(const QStringList &paths)
    {
        for (const QString &p : paths)
            w->AddFileToList(p);
        w->UpdateCommands();
    }
    void pending(const QString &find, const QString &replace)
    {
        w->edSearch()->setText(find);
        w->edReplace()->setText(replace);
    }

private Q_SLOTS:
    void init()
    {
        dir = std::make_unique<QTemporaryDir>();
        temp = std::make_unique<QTemporaryDir>();
        qputenv("TEMP", NativePath(temp->path()));
        sink = std::make_unique<RecordingSink>();
        w = std::make_unique<CancellingWindow>(sink.get());
        w->setEventPumpInterval(0);
        w->show();
    }
    void cleanup()
    {
        w.reset();
        QVERIFY(TemporaryFilesIn(temp->path()).isEmpty());
        qunsetenv("TEMP");
    }

    // A rewrite in place whose program died right after it kept the result
    // and wrote its record: the window's start finishes it and says so once.
    void finishesAnInterruptedRewriteAtStart()
    {
        StateFolderGuard state;
        const QString path = file(QStringLiteral("linked.txt"), "old content");
        const QString result = file(QStringLiteral("result.bin"), "new");
        {
            const FileDescriptor folder(::open(NativePath(dir->path()).constData(), O_PATH | O_DIRECTORY));
            const FileDescriptor in(::open(NativePath(result).constData(), O_RDONLY));
            struct stat st;
            QVERIFY(::stat(NativePath(path).constData(), &st) == 0);
            RewriteRecord record;
            QCOMPARE(record.begin(st, NativePath(QFileInfo(path).canonicalFilePath()), in.get(), folder.get(), "result.bin"), 0);
        } // dies here: the record stays
        QCOMPARE(state.records().size(), 2);
        w->FinishInterruptedRewrites();
        QCOMPARE(sink->texts(),
            QStringList {QStringLiteral("Perrox was stopped while it rewrote the file %1 and has now finished it.").arg(QFileInfo(path).canonicalFilePath())});
        QCOMPARE(ReadFile(path), QByteArray("new"));
        QCOMPARE(state.records(), QStringList());
        w->FinishInterruptedRewrites();
        QCOMPARE(sink->shown.size(), 1);
    }

    // The window puts what a run shows on screen once per event round; a
    // message still comes after the cells of the rows before it, with its
    // own file in the progress window.
    void aMessageComesAfterWhatTheRunShowed()
    {
        w->setEventPumpInterval(60000);
        const QString a = file(QStringLiteral("a"), "aaa");
        const QString folder = dir->filePath(QStringLiteral("folder"));
        QVERIFY(QDir().mkpath(folder));
        addFiles({a, folder, a});
        pending(QStringLiteral("a"), QStringLiteral("b"));
        QStringList seen;
        sink->onShow = [&] { seen << cell(0) << cell(1) << w->progressWindow()->status1()->text(); };
        w->action(QStringLiteral("IDM_COUNT"))->trigger();
        QCOMPARE(sink->texts(), QStringList {FileErrorMessage(EISDIR, folder)});
        QCOMPARE(seen.size(), 3);
        QCOMPARE(seen.mid(0, 2), (QStringList {QStringLiteral("       3"), QString()}));
        QVERIFY(seen.at(2).endsWith(QLatin1String("folder")));
        QCOMPARE(cell(1), QStringLiteral("       0"));
        QCOMPARE(cell(2), QStringLiteral("       3"));
    }

    void countThenReplace()
    {
        const QString a = file(QStringLiteral("a"), "abcabc");
        const QString none = file(QStringLiteral("none"), "zzz");
        const QString c = file(QStringLiteral("c.txt"), QByteArray(10000, 'a'));
        struct stat before;
        ::stat(NativePath(none).constData(), &before);
        addFiles({a, none, c, a}); // the same path twice: processed twice
        w->findField()->selectNotation(Notation::Hexadecimal);
        pending(QStringLiteral("61"), QStringLiteral("XY"));

        // Counting changes no file.
        w->action(QStringLiteral("IDM_COUNT"))->trigger();
        QCOMPARE(cell(0), QStringLiteral("       2"));
        QCOMPARE(cell(1), QStringLiteral("       0"));
        QCOMPARE(cell(2), QStringLiteral("   10000"));
        QCOMPARE(cell(3), QStringLiteral("       2"));
        QCOMPARE(ReadFile(a), QByteArray("abcabc"));
        QCOMPARE(ReadFile(c), QByteArray(10000, 'a'));
        QVERIFY(w->isEnabled());
        QVERIFY(sink->shown.isEmpty());

        // An empty replacement deletes; a file without occurrences is not rewritten.
        pending(QStringLiteral("61"), QString());
        w->cmdReplace()->click();
        QCOMPARE(ReadFile(a), QByteArray("bcbc"));
        QCOMPARE(ReadFile(c), QByteArray());
        QCOMPARE(cell(0), QStringLiteral("       2"));
        QCOMPARE(cell(1), QStringLiteral("       0"));
        QCOMPARE(cell(2), QStringLiteral("   10000"));
        QCOMPARE(cell(3), QStringLiteral("       0"));
        struct stat after;
        ::stat(NativePath(none).constData(), &after);
        QCOMPARE(after.st_ino, before.st_ino);
        QVERIFY(sink->shown.isEmpty());
    }

    void replaceAsStopsAtNo()
    {
        const QString a = file(QStringLiteral("a.txt"), "xx");
        const QString b = file(QStringLiteral("b.txt"), "x");
        const QString c = file(QStringLiteral("c.txt"), "x");
        QTemporaryDir out;
        WriteFileIn(out.path(), QStringLiteral("new_b.txt"), "keep");
        addFiles({a, b, c});
        pending(QStringLiteral("x"), QStringLiteral("y"));
        w->chooseTargetHook = [&](ReplaceAsSettings &s) {
            s.outpath = out.path();
            s.outprefix = QStringLiteral("new_");
            s.outoverwrite = 0;
            return true;
        };
        sink->answers = {MessageSink::Answer::No};
        QCOMPARE(w->ProcessFiles(RunMode::ReplaceAs).end, RunResult::End::StoppedAtNo);
        const QString existing = out.path() + QStringLiteral("/new_b.txt");
        QCOMPARE(sink->texts(), QStringList {QStringLiteral("The file ") + existing + QStringLiteral(" already exists.\r\n\r\nDo you want to overwrite it?")});
        QCOMPARE(sink->shown.first().buttons, MessageSink::Buttons::YesNo);
        QCOMPARE(ReadFile(out.path() + QStringLiteral("/new_a.txt")), QByteArray("yy"));
        QCOMPARE(ReadFile(existing), QByteArray("keep"));
        QVERIFY(!QFile::exists(out.path() + QStringLiteral("/new_c.txt")));
        QCOMPARE(cell(0), QStringLiteral("       2"));
        QCOMPARE(cell(1), QString());

        // A cancelled Save As dialog ends the command before anything happens.
        w->chooseTargetHook = [](ReplaceAsSettings &) { return false; };
        sink->shown.clear();
        QCOMPARE(w->ProcessFiles(RunMode::ReplaceAs).end, RunResult::End::TargetCancelled);
        QVERIFY(sink->shown.isEmpty());
    }

    void cancelDuringTheSecondOfThreeFiles()
    {
        const QString a = file(QStringLiteral("a"), QByteArray(9000, 'q'));
        const QString b = file(QStringLiteral("b"), QByteArray(20000, 'q'));
        const QString c = file(QStringLiteral("c"), QByteArray(9000, 'q'));
        addFiles({a, b, c});
        w->lvwFiles()->topLevelItem(1)->setText(1, QStringLiteral("earlier"));
        pending(QStringLiteral("q"), QStringLiteral("r"));
        w->cancelAt = b;
        sink->answers = {MessageSink::Answer::Yes};
        QCOMPARE(w->ProcessFiles(RunMode::Replace).end, RunResult::End::Cancelled);
        QCOMPARE(sink->texts(), QStringList {CancelQuestion()});
        QCOMPARE(ReadFile(a), QByteArray(9000, 'r'));
        QCOMPARE(ReadFile(b), QByteArray(20000, 'q'));
        QCOMPARE(ReadFile(c), QByteArray(9000, 'q'));
        QCOMPARE(cell(0), QStringLiteral("    9000"));
        QCOMPARE(cell(1), QStringLiteral("earlier"));
        QCOMPARE(cell(2), QString());
        QVERIFY(w->isEnabled());
        QTRY_VERIFY(!w->progressWindow());
    }

    void argumentMessagesBeforeAnyFile_data()
    {
        QTest::addColumn<int>("findNotation");
        QTest::addColumn<QString>("find");
        QTest::addColumn<QString>("message");
        QTest::newRow("no arguments") << 0 << ""
                                      << "Cannot find any Find&Replace arguments.\r\n\r\nEnter Find&Replace arguments and try again.";
        QTest::newRow("separators only")
            << 1 << " ,"
            << "Cannot find a valid value in the following 'Find what' field: \r\n ,\r\n\r\nCorrect the find argument and try again.";
        QTest::newRow("invalid decimal") << 1 << "1,2,999" << ArgumentMessage(QStringLiteral("1,2,999"), Notation::Decimal);
    }
    void argumentMessagesBeforeAnyFile()
    {
        QFETCH(int, findNotation);
        QFETCH(QString, find);
        QFETCH(QString, message);
        const QString a = file(QStringLiteral("a"), "1,2");
        addFiles({a});
        w->findField()->selectNotation(qint16(findNotation));
        pending(find, QString());
        bool started = false;
        w->onRunStarted = [&](ProgressWindow *) { started = true; };
        w->ProcessFiles(RunMode::Replace);
        QCOMPARE(sink->texts(), QStringList {message});
        QVERIFY(!started);
        QCOMPARE(cell(0), QString());
        QVERIFY(w->isEnabled());
    }

    void readOnlyFileEndsTheRun()
    {
        QVERIFY(::chmod(NativePath(dir->path()).constData(), 0777) == 0);
        QVERIFY(::chmod(NativePath(temp->path()).constData(), 0777) == 0);
        const QString locked = file(QStringLiteral("locked"), "a");
        const QString after = file(QStringLiteral("after"), "a");
        QVERIFY(::chmod(NativePath(locked).constData(), 0444) == 0);
        QVERIFY(::chmod(NativePath(after).constData(), 0666) == 0);
        // The window runs in a program of its own that is not root, so the permission bits count.
        QCOMPARE(RunSelfUnprivileged(QStringLiteral("readonly"), {locked, after}), 0);
        QCOMPARE(ReadFile(locked), QByteArray("a"));
        QCOMPARE(ReadFile(after), QByteArray("a"));
    }
};

namespace {

// The read-only case, run as an unprivileged user in a program of its own.
int ReadOnlyChild()
{
    const QStringList paths = ChildArguments();
    CHILD_CHECK(paths.size() == 2);
    RecordingSink sink;
    MainWindow window(&sink);
    window.setEventPumpInterval(0);
    window.AddFileToList(paths[0]);
    window.AddFileToList(paths[1]);
    window.edSearch()->setText(QStringLiteral("a"));
    window.edReplace()->setText(QStringLiteral("b"));
    const RunResult r = window.ProcessFiles(RunMode::Replace);
    CHILD_CHECK(r.end == RunResult::End::CopyFailed);
    CHILD_CHECK(sink.texts() == QStringList {SystemErrorText(EACCES) + QStringLiteral(" - ") + paths[0]});
    CHILD_CHECK(window.isEnabled());
    CHILD_CHECK(window.lvwFiles()->topLevelItem(0)->text(1) == QStringLiteral("       1"));
    CHILD_CHECK(window.lvwFiles()->topLevelItem(1)->text(1).isEmpty());
    return 0;
}

} // namespace

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    if (qEnvironmentVariable("PERROX_CHILD_CASE") == QStringLiteral("readonly"))
        return ReadOnlyChild();
    TestRunWindow test;
    QTEST_SET_MAIN_SOURCE_PATH
    return QTest::qExec(&test, argc, argv);
}
#include "tst_runwindow.moc"
