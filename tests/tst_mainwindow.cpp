// The main window under the offscreen platform, found by its controls' names:
// the enabling rule, the layout, the notation fields, both lists, the
// preferences it reads and writes, its dialogs and help, and Count, Replace
// and Replace As end to end on real files.

#include "arguments/argumentfile.h"
#include "arguments/notation.h"
#include "base/twips.h"
#include "base/widgetsupport.h"
#include "engine/progressscale.h"
#include "files/filedescriptor.h"
#include "files/filesystem.h"
#include "files/rewritejournal.h"
#include "support/windowfixture.h"

#include <QApplication>
#include <QClipboard>
#include <QHeaderView>
#include <QMimeData>
#include <QProgressBar>
#include <QScopeGuard>
#include <QSettings>
#include <QTemporaryDir>
#include <QTest>

#include <fcntl.h>
#include <sys/stat.h>

using namespace perrox;
using namespace perrox::test;
using namespace Qt::StringLiterals;

class TestMainWindow : public QObject
{
    Q_OBJECT

    std::unique_ptr<QTemporaryDir> dir, temp;
    std::unique_ptr<WindowFixture> f;
    QString file(const QString &name, const QByteArray &bytes = "x") const { return WriteFileIn(dir->path(), name, bytes); }
    QString prefs() const { return dir->filePath(u"prefs.conf"_s); }
    QString stored(const QString &key) const { return QSettings(prefs(), QSettings::NativeFormat).value(u"Preferences/"_s + key).toString(); }
    void seed(const QList<std::pair<QString, QString>> &values) const
    {
        QSettings settings(prefs(), QSettings::NativeFormat);
        for (const auto &[key, value] : values)
            settings.setValue(u"Preferences/"_s + key, value);
    }
    RecordingSink &sink() const { return f->sink; }

private slots:
    void init()
    {
        dir = std::make_unique<QTemporaryDir>();
        temp = std::make_unique<QTemporaryDir>();
        qputenv("TEMP", NativePath(temp->path()));
        f = std::make_unique<WindowFixture>(prefs());
        f->w->setEventPumpInterval(0);
    }
    void cleanup()
    {
        f.reset();
        QVERIFY(TemporaryFilesIn(temp->path()).isEmpty());
        qunsetenv("TEMP");
    }

    // ---- Controls ----

    void enablingRuleFollowsTheFileCount()
    {
        const auto enabled = [&](bool on) {
            for (const char *name : {"IDM_REMOVE", "IDM_SELECT_ALL", "IDM_INVERT_SELECTION", "IDM_COUNT", "IDM_REPLACE", "IDM_COPYREPLACE"})
                if (f->action(QString::fromLatin1(name))->isEnabled() != on)
                    return false;
            return f->button(u"cmdReplace"_s)->isEnabled() == on && f->button(u"cmdReplaceAs"_s)->isEnabled() == on;
        };
        QVERIFY(enabled(false));
        QVERIFY(f->action(u"IDM_ARG_ADD"_s)->isEnabled()); // empty arguments leave the commands alone
        f->addFiles({u"/tmp/a"_s});
        QVERIFY(enabled(true));
        f->files()->selectAll();
        f->files()->setFocus();
        f->trigger(u"IDM_REMOVE"_s);
        QVERIFY(enabled(false));
    }

    void minimumSizeAndWidening()
    {
        const double tpp = ScreenTwipsPerPixel();
        f->w->resize(TwipsToPixels(6000, tpp), TwipsToPixels(5000, tpp));
        QCoreApplication::processEvents();
        QCOMPARE(f->w->frameGeometry().size(), QSize(TwipsToPixels(7215, tpp), TwipsToPixels(5500, tpp)));
        // Widening goes to the wide columns; the Count column stays 60 pixels.
        FileListView *files = f->files();
        ArgumentListView *args = f->args();
        f->w->resize(600, 450);
        QCoreApplication::processEvents();
        const int width = files->width(), fileColumn = files->columnWidth(0), find = args->width(), wide = args->columnWidth(1);
        QCOMPARE(files->columnWidth(1), 60);
        f->w->resize(750, 450);
        QCoreApplication::processEvents();
        QCOMPARE(files->width(), width + 150);
        QCOMPARE(files->columnWidth(0), fileColumn + 150);
        QCOMPARE(files->columnWidth(1), 60);
        QCOMPARE(args->columnWidth(1) - wide, (args->width() - find) / 2);
        QCOMPARE(args->columnWidth(3), args->columnWidth(1));
    }

    void notationSwitches_data()
    {
        QTest::addColumn<int>("from");
        QTest::addColumn<QString>("text");
        QTest::addColumn<int>("to");
        QTest::addColumn<QString>("expected");
        QTest::newRow("Dec to Hex") << 1 << "10,13" << 2 << "0A 0D ";
        QTest::newRow("Hex to Asc with NUL") << 2 << "41 00 42" << 0 << u"A"_s + QChar(0) + u"B"_s;
        QTest::newRow("invalid text loaded from a row empties") << 1 << "300" << 2 << "";
    }
    void notationSwitches()
    {
        QFETCH(int, from);
        QFETCH(QString, text);
        QFETCH(int, to);
        QFETCH(QString, expected);
        f->field(0)->selectNotation(from);
        f->edSearch()->setText(text);
        f->option(0, to)->click(); // the focus is not in the field: no check
        QCOMPARE(f->edSearch()->text(), expected);
        QCOMPARE(int(f->field(0)->notation()), to);
        QVERIFY(sink().shown.isEmpty());
    }

    void keyFilter()
    {
        QLineEdit *ed = f->edSearch();
        ed->setFocus();
        f->field(0)->selectNotation(Notation::Hexadecimal);
        QTest::keyClicks(ed, u"a0 g;Z,f"_s);
        QCOMPARE(ed->text(), u"a0 ;,f"_s);
        QCOMPARE(sink().beeps, 2);
        QTest::keyClick(ed, Qt::Key_Return);
        QCOMPARE(sink().beeps, 3);
        QTest::keyClick(ed, Qt::Key_Backspace);
        QCOMPARE(ed->text(), u"a0 ;,"_s);
        f->field(0)->selectNotation(Notation::Characters);
        ed->clear();
        f->field(0)->selectNotation(Notation::Decimal);
        QTest::keyClicks(ed, u"12a 3"_s);
        QCOMPARE(ed->text(), u"12 3"_s);
        // Paste is not filtered; the check on leaving catches it.
        QGuiApplication::clipboard()->setText(u"xyz"_s);
        QTest::keyClick(ed, Qt::Key_V, Qt::ControlModifier);
        if (QGuiApplication::clipboard()->text() == u"xyz"_s)
            QCOMPARE(ed->text(), u"12 3xyz"_s);
        f->edReplace()->setFocus(); // Characters takes everything
        QTest::keyClicks(f->edReplace(), u"g!"_s);
        QCOMPARE(f->edReplace()->text(), u"g!"_s);
    }

    void leavingAnInvalidFieldKeepsTheFocus()
    {
        QLineEdit *ed = f->edSearch();
        ed->setFocus();
        f->field(0)->selectNotation(Notation::Decimal);
        ed->setText(u"12 300 4"_s);
        QTest::keyClick(ed, Qt::Key_Tab);
        QCoreApplication::processEvents();
        QCOMPARE(sink().texts(), QStringList {FieldMessage(u"Find what"_s, u"300"_s, Notation::Decimal)});
        QCOMPARE(ed->selectionStart(), 3);
        QCOMPARE(ed->selectedText(), u"300"_s);
        QTRY_VERIFY(ed->hasFocus());
        // A click on another option while in the field is refused the same way.
        f->option(0, Notation::Hexadecimal)->click();
        QCOMPARE(int(f->field(0)->notation()), int(Notation::Decimal));
        QVERIFY(f->option(0, Notation::Decimal)->isChecked());
        QCOMPARE(ed->text(), u"12 300 4"_s);
        QCOMPARE(sink().shown.size(), 2);
    }

    // ---- Argument list ----

    void addArgument()
    {
        f->field(0)->selectNotation(Notation::Decimal);
        f->edSearch()->setText(u"65,66"_s);
        f->button(u"cmdAddParam"_s)->click();
        QCOMPARE(f->args()->rows(), QList<ArgumentRow>({{u"Dec"_s, u"65,66"_s, u"Asc"_s, u""_s}}));
        QCOMPARE(f->edSearch()->text(), QString());
        QCOMPARE(int(f->field(0)->notation()), int(Notation::Decimal)); // notations stay
        f->trigger(u"IDM_ARG_ADD"_s); // empty find: only the beep
        QCOMPARE(sink().beeps, 1);
        QCOMPARE(f->args()->topLevelItemCount(), 1);
        // Both sides checked, two messages, then the beep.
        f->field(1)->selectNotation(Notation::Hexadecimal);
        f->pending(u"1,2,999"_s, u"G1"_s);
        f->trigger(u"IDM_ARG_ADD"_s);
        QCOMPARE(sink().texts(), QStringList({ArgumentMessage(u"1,2,999"_s, Notation::Decimal), ArgumentMessage(u"G1"_s, Notation::Hexadecimal)}));
        QCOMPARE(sink().beeps, 2);
        QCOMPARE(f->edSearch()->text(), u"1,2,999"_s);
        // With Ctrl held the fields keep their texts; releasing it restores the emptying.
        f->pending(u"1"_s, u"0A"_s);
        QTest::keyPress(f->edSearch(), Qt::Key_Control, Qt::ControlModifier);
        f->trigger(u"IDM_ARG_ADD"_s);
        f->trigger(u"IDM_ARG_ADD"_s);
        QCOMPARE(f->edSearch()->text(), u"1"_s);
        QTest::keyRelease(f->edSearch(), Qt::Key_Control);
        f->trigger(u"IDM_ARG_ADD"_s);
        QCOMPARE(f->edSearch()->text(), QString());
        QCOMPARE(f->args()->topLevelItemCount(), 4);
        QCOMPARE(f->args()->row(1), f->args()->row(2)); // duplicates allowed
    }

    void editArgument()
    {
        f->trigger(u"IDM_ARG_EDIT"_s);
        QCOMPARE(sink().beeps, 1);
        f->addRow(u"Dec"_s, u"10 13"_s, u"Hex"_s, u"0A"_s);
        f->addRow(u"Asc"_s, u"x"_s, u"Asc"_s, u"y"_s);
        f->pending(u"old"_s, u"older"_s);
        f->setCurrentRow(0);
        f->trigger(u"IDM_ARG_EDIT"_s);
        QCOMPARE(f->edSearch()->text(), u"10 13"_s);
        QCOMPARE(f->edReplace()->text(), u"0A"_s);
        QVERIFY(f->option(0, Notation::Decimal)->isChecked() && f->option(1, Notation::Hexadecimal)->isChecked());
        QCOMPARE(f->findTexts(), QStringList {u"x"_s});
        // An unknown type code changes no option.
        f->addRow(u"Zzz"_s, u"q"_s, u"Zzz"_s, u"r"_s);
        f->setCurrentRow(1);
        f->trigger(u"IDM_ARG_EDIT"_s);
        QVERIFY(f->option(0, Notation::Decimal)->isChecked());
        QCOMPARE(f->edSearch()->text(), u"q"_s);
    }

    void removeClearAndMove()
    {
        for (const QString &t : {u"1"_s, u"2"_s, u"3"_s, u"4"_s, u"5"_s})
            f->addRow(u"Asc"_s, t);
        f->args()->topLevelItem(1)->setSelected(true);
        f->args()->topLevelItem(3)->setSelected(true);
        f->button(u"cmdRemoveParam"_s)->click();
        QCOMPARE(f->findTexts(), QStringList({u"1"_s, u"3"_s, u"5"_s}));
        QCOMPARE(sink().busyDepth, 0);
        f->setCurrentRow(1);
        f->button(u"cmdParamUp"_s)->click();
        QCOMPARE(f->findTexts(), QStringList({u"3"_s, u"1"_s, u"5"_s}));
        QVERIFY(f->args()->topLevelItem(0)->isSelected());
        f->trigger(u"IDM_ARG_UP"_s); // already first
        QCOMPARE(sink().beeps, 1);
        f->setCurrentRow(1);
        f->button(u"cmdParamDown"_s)->click();
        QCOMPARE(f->findTexts(), QStringList({u"3"_s, u"5"_s, u"1"_s}));
        f->trigger(u"IDM_ARG_DOWN"_s); // already last
        QCOMPARE(sink().beeps, 2);
        f->trigger(u"IDM_ARG_CLEAR"_s);
        QCOMPARE(f->args()->topLevelItemCount(), 0);
        f->trigger(u"IDM_ARG_UP"_s);
        f->trigger(u"IDM_ARG_DOWN"_s);
        QCOMPARE(sink().beeps, 4);
    }

    void dragInsideTheListMoves_data()
    {
        QTest::addColumn<int>("dragIndex");
        QTest::addColumn<int>("under");
        QTest::addColumn<QStringList>("expected");
        QTest::newRow("first onto last") << 1 << 2 << QStringList({u"B"_s, u"C"_s, u"A"_s});
        QTest::newRow("last onto first") << 3 << 0 << QStringList({u"C"_s, u"A"_s, u"B"_s});
        QTest::newRow("onto itself") << 2 << 1 << QStringList({u"A"_s, u"B"_s, u"C"_s});
    }
    void dragInsideTheListMoves()
    {
        QFETCH(int, dragIndex);
        QFETCH(int, under);
        QFETCH(QStringList, expected);
        for (const QString &t : {u"A"_s, u"B"_s, u"C"_s})
            f->addRow(u"Asc"_s, t);
        f->args()->DropDraggedRow(dragIndex, under);
        QCOMPARE(f->findTexts(), expected);
        QCOMPARE(f->args()->currentItem()->text(1), QStringList({u"A"_s, u"B"_s, u"C"_s}).at(dragIndex - 1));
    }

    void collectArguments()
    {
        QVERIFY(f->w->CollectArguments().isEmpty());
        f->field(0)->selectNotation(Notation::Hexadecimal);
        f->edSearch()->setText(u"41"_s);
        QCOMPARE(f->w->CollectArguments(), FindReplaceArguments({{2, u"41"_s, 0, u""_s}}));
        f->addRow(u"Dec"_s, u"1"_s, u"Hex"_s, u"02"_s);
        f->addRow(u"bad"_s, u"x"_s, u"Hex"_s);
        QCOMPARE(f->w->CollectArguments(), FindReplaceArguments({{2, u"41"_s, 0, u""_s}, {1, u"1"_s, 2, u"02"_s}, {0, u"x"_s, 2, u""_s}}));
        // Separators only are not empty: the record comes first.
        f->field(0)->selectNotation(Notation::Decimal);
        f->edSearch()->setText(u" ,"_s);
        QCOMPARE(f->w->CollectArguments().first(), FindReplaceArgument({1, u" ,"_s, 0, u""_s}));
    }

    // ---- Progress window ----

    void progressScale_data()
    {
        QTest::addColumn<double>("total");
        QTest::addColumn<double>("step");
        QTest::addColumn<QList<double>>("positions");
        QTest::addColumn<QList<int>>("percents"); // -1: no change
        QTest::newRow("10000") << 10000.0 << 101.0 << QList<double> {4096, 8192, 10000} << QList<int> {41, 82, 100};
        QTest::newRow("equal to the step is not enough") << 250.0 << 3.0 << QList<double> {3, 250} << QList<int> {-1, 100};
        QTest::newRow("empty") << 0.0 << 1.0 << QList<double> {0} << QList<int> {-1};
        QTest::newRow("halves go to the even neighbour") << 800.0 << 9.0 << QList<double> {100} << QList<int> {12};
    }
    void progressScale()
    {
        QFETCH(double, total);
        QFETCH(double, step);
        QFETCH(QList<double>, positions);
        QFETCH(QList<int>, percents);
        ProgressScale scale;
        scale.initialize(total);
        if (total > 0)
            QCOMPARE(scale.step(), step);
        for (int i = 0; i < positions.size(); ++i)
            QCOMPARE(scale.update(positions[i]), percents[i] < 0 ? std::nullopt : std::optional<int>(percents[i]));
    }

    void progressWindowCancelAndLabels()
    {
        ProgressWindow progress(f->w.get(), sink());
        progress.Initialize(10000);
        progress.show();
        progress.Update(4096);
        QCOMPARE(progress.progressBar()->value(), 41);
        sink().answers = {MessageSink::Answer::No};
        progress.cancelButton()->click();
        QVERIFY(!progress.cancelFlag());
        QCOMPARE(sink().shown.last().text, CancelQuestion());
        QCOMPARE(sink().shown.last().icon, MessageSink::Icon::Question);
        QCOMPARE(sink().shown.last().buttons, MessageSink::Buttons::YesNo);
        sink().answers = {MessageSink::Answer::Yes};
        QVERIFY(!progress.close());
        QVERIFY(progress.isVisible() && progress.cancelFlag());
        QTest::keyClick(&progress, Qt::Key_Escape);
        QVERIFY(progress.isVisible());
        QCOMPARE(sink().shown.size(), 3);
        progress.unload();
        QVERIFY(!progress.isVisible());
        // A long path keeps its start and end; one with a single "/" stays whole.
        const QString longPath = u"/data/"_s + QString(60, u'p') + u"/old/"_s + QString(40, u'q') + u"/file.bin"_s;
        progress.setStatus1(longPath);
        const QString shown = progress.status1()->text();
        QVERIFY(shown.startsWith(u"/..."_s) && shown.endsWith(u"file.bin"_s) && shown.size() < longPath.size());
        const QString single = u"/"_s + QString(300, u'x');
        progress.setStatus2(single);
        QCOMPARE(progress.status2()->text(), single);
        progress.setStatus1(u"/a/b"_s);
        QCOMPARE(progress.status1()->text(), u"/a/b"_s);
    }

    // ---- File list ----

    void addingFilesAndFolders()
    {
        f->w->preferences().addDir = u"/nowhere"_s;
        f->addFiles({}); // cancelled: nothing changes, not even the folder
        QCOMPARE(f->w->preferences().addDir, u"/nowhere"_s);
        QVERIFY(f->paths().isEmpty() && f->status().isEmpty());
        f->addFiles({u"/data/a.txt"_s, u"/data/b.txt"_s, u"/data/a.txt"_s});
        QCOMPARE(f->paths(), QStringList({u"/data/a.txt"_s, u"/data/b.txt"_s, u"/data/a.txt"_s}));
        QCOMPARE(f->w->preferences().addDir, u"/data"_s);
        QCOMPARE(f->status(), u"3 files"_s);
        QVERIFY(f->action(u"IDM_COUNT"_s)->isEnabled());
        QCOMPARE(f->files()->currentItem(), f->files()->topLevelItem(2)); // the last row current, none selected
        QVERIFY(f->selectedFiles().isEmpty());
        QCOMPARE(f->cell(0), QString());
        QCOMPARE(sink().busyOnCount, 1);
        // A remembered folder that has gone becomes the first row's folder; Add
        // Folder starts where Add Files does and remembers its folder alike.
        f->w->preferences().addDir = u"/no/such/folder"_s;
        f->addFiles({});
        f->trigger(u"IDM_ADD_FOLDER"_s);
        QCOMPARE(f->dialogs.asked, QStringList({u"files /nowhere"_s, u"files /nowhere"_s, u"files /data"_s, u"folder /data"_s}));
        QVERIFY(f->files()->actions().contains(f->action(u"IDM_ADD_FOLDER"_s)));
        QCOMPARE(f->files()->contextMenuPolicy(), Qt::ActionsContextMenu);

        // A folder chosen there is scanned under the masks, as a drop is.
        QDir(dir->path()).mkpath(u"tree/sub"_s);
        file(u"tree/one.txt"_s);
        file(u"tree/sub/two.bin"_s);
        file(u"tree/sub/three.txt"_s);
        f->w->preferences().masks.includeFiles = u"*.txt"_s;
        f->dialogs.folder = dir->filePath(u"tree"_s);
        f->trigger(u"IDM_ADD_FOLDER"_s);
        QCOMPARE(f->paths().mid(3), QStringList({dir->filePath(u"tree/one.txt"_s), dir->filePath(u"tree/sub/three.txt"_s)}));
        QCOMPARE(f->w->preferences().addDir, dir->path());
        QCOMPARE(f->status(), u"5 files"_s);
        QCOMPARE(f->files()->currentItem(), f->files()->topLevelItem(4));
        QVERIFY(!f->files()->busy());
        QCOMPARE(sink().busyDepth, 0);
    }

    void dropsOfFilesAndFolders()
    {
        QDir(dir->path()).mkpath(u"tree/sub"_s);
        const QString one = file(u"tree/one.txt"_s), two = file(u"tree/sub/two.bin"_s), loose = file(u"loose.txt"_s);
        f->drop({QUrl::fromLocalFile(dir->filePath(u"tree"_s)), QUrl::fromLocalFile(loose), QUrl::fromLocalFile(u"/not/there"_s),
            QUrl(u"https://example.org/x"_s)});
        QVERIFY(f->paths().isEmpty()); // the scan starts once the drop event has returned
        QTRY_COMPARE(f->paths(), QStringList({one, two, loose, u"/not/there"_s}));
        QCOMPARE(f->status(), u"4 files"_s);
        QVERIFY(!f->files()->busy());
        QCOMPARE(sink().busyDepth, 0);
        QMimeData text; // text is no file list
        text.setText(u"hello"_s);
        QVERIFY(FileListView::droppedPaths(&text).isEmpty());
    }

    void droppedUrlsKeepTheirBytes_data()
    {
        QTest::addColumn<QUrl>("url");
        QTest::addColumn<QString>("path");
        QTest::addRow("plain") << QUrl::fromLocalFile(u"/tmp/a b.txt"_s) << u"/tmp/a b.txt"_s;
        QTest::addRow("UTF-8") << QUrl(u"file:///tmp/caf%C3%A9"_s) << u"/tmp/caf\u00e9"_s;
        QTest::addRow("byte that is no UTF-8") << QUrl(u"file:///tmp/caf%E9.txt"_s) << DecodeNativePath("/tmp/caf\xe9.txt");
        QTest::addRow("escaped delimiters") << QUrl(u"file:///tmp/a%23b%3Fc%25d%20e"_s) << u"/tmp/a#b?c%d e"_s;
        QTest::addRow("host") << QUrl(u"file://server/share/x"_s) << u"//server/share/x"_s;
    }
    void droppedUrlsKeepTheirBytes()
    {
        QFETCH(QUrl, url);
        QFETCH(QString, path);
        QMimeData data;
        data.setUrls({url});
        QCOMPARE(FileListView::droppedPaths(&data), QStringList {path});
        if (NativePath(path) == path.toUtf8()) // where Qt's decoding keeps the bytes, the path is the one it gives
            QCOMPARE(path, url.toLocalFile());
    }

    void aSecondChangeDuringAScanIsRefused()
    {
        for (int i = 0; i < 50; ++i)
            file(u"f%1"_s.arg(i, 3, 10, QLatin1Char('0')));
        bool refused = false;
        // Window events run during the scan of a drop; a run, Add Files, Add Folder and a second drop arriving then are turned away with a beep.
        f->drop({QUrl::fromLocalFile(dir->path())});
        QMetaObject::invokeMethod(
            f->w.get(),
            [&] {
                f->w->ProcessFiles(RunMode::Count);
                f->trigger(u"IDM_ADD"_s);
                f->trigger(u"IDM_ADD_FOLDER"_s);
                f->drop({QUrl::fromLocalFile(dir->path())});
                refused = f->files()->busy() && sink().beeps == 3 && f->dialogs.asked.isEmpty();
            },
            Qt::QueuedConnection);
        QTRY_VERIFY(refused);
        QTRY_COMPARE(sink().beeps, 4);
        QTRY_VERIFY(!f->files()->busy());
        QCOMPARE(f->files()->topLevelItemCount(), 50);
    }

    void selectRemoveAndSort()
    {
        f->addFiles({u"/1"_s, u"/2"_s, u"/3"_s, u"/4"_s, u"/5"_s});
        f->files()->topLevelItem(1)->setSelected(true);
        f->trigger(u"IDM_INVERT_SELECTION"_s);
        QCOMPARE(f->selectedFiles(), QList<int>({0, 2, 3, 4}));
        QCOMPARE(f->w->focusWidget(), f->files());
        f->trigger(u"IDM_INVERT_SELECTION"_s);
        QCOMPARE(f->selectedFiles(), QList<int>({1}));
        f->trigger(u"IDM_SELECT_ALL"_s);
        QCOMPARE(f->selectedFiles(), QList<int>({0, 1, 2, 3, 4}));
        QCOMPARE(sink().busyDepth, 0);
        // Removal acts only while the list has the focus.
        f->trigger(u"IDM_INVERT_SELECTION"_s);
        f->files()->topLevelItem(1)->setSelected(true);
        f->files()->topLevelItem(3)->setSelected(true);
        f->edSearch()->setFocus();
        f->trigger(u"IDM_REMOVE"_s);
        QCOMPARE(f->paths().size(), 5);
        f->files()->setFocus();
        QTest::keyClick(f->files(), Qt::Key_Delete);
        QCOMPARE(f->paths(), QStringList({u"/1"_s, u"/3"_s, u"/5"_s}));
        QCOMPARE(f->status(), u"3 files"_s);
        // Sorted once by a column click, ascending first, then toggled.
        f->files()->topLevelItem(0)->setText(0, u"/b"_s);
        f->files()->topLevelItem(2)->setText(0, u"/a"_s);
        const auto click = [&](int column) { Q_EMIT f->files()->header()->sectionClicked(column); };
        click(0);
        QCOMPARE(f->paths(), QStringList({u"/3"_s, u"/a"_s, u"/b"_s}));
        click(0);
        QCOMPARE(f->paths(), QStringList({u"/b"_s, u"/a"_s, u"/3"_s}));
        click(1);
        click(0);
        QCOMPARE(f->paths(), QStringList({u"/3"_s, u"/a"_s, u"/b"_s}));
        click(0);
        f->addFiles({u"/0"_s}); // added after a sort: at the end, and the next click sorts ascending
        QCOMPARE(f->paths().last(), u"/0"_s);
        click(0);
        QCOMPARE(f->paths().first(), u"/0"_s);
        f->trigger(u"IDM_SELECT_ALL"_s);
        f->trigger(u"IDM_REMOVE"_s);
        QVERIFY(f->paths().isEmpty() && f->status().isEmpty());
        QVERIFY(!f->action(u"IDM_COUNT"_s)->isEnabled() && !f->button(u"cmdReplace"_s)->isEnabled());
    }

    // ---- Preferences ----

    void defaultsWhenNothingUsableIsStored_data()
    {
        QTest::addColumn<bool>("seeded");
        QTest::newRow("first run") << false;
        QTest::newRow("stored values that are no notation, empty end tag") << true;
    }
    void defaultsWhenNothingUsableIsStored()
    {
        QFETCH(bool, seeded);
        if (seeded)
            seed({{u"FindType"_s, u"7"_s}, {u"ReplaceType"_s, u"two"_s}, {u"FindEndTag"_s, QString()}});
        WindowFixture g(prefs(), false);
        QCOMPARE(int(g.field(0)->notation()), 0);
        QCOMPARE(int(g.field(1)->notation()), 0);
        QCOMPARE(g.w->preferences().tags.findEndTag, u"</FIND>"_s);
        QCOMPARE(g.w->preferences().addDir, QString());
        QCOMPARE(g.w->replaceAsSettings().outpath, QString());
        QCOMPARE(g.w->preferences().masks, FolderMasks());
        for (int k = 1; k <= 5; ++k)
            QVERIFY(!g.action(u"IDM_FILE_FILE%1"_s.arg(k))->isVisible());
        QVERIFY(!g.action(u"IDM_FILE_SPACE3"_s)->isVisible());
        if (!seeded) // nothing is written while the program runs
            QVERIFY(!QFile::exists(prefs()));
    }

    void roundTripThroughExitAndCloseBox_data()
    {
        QTest::addColumn<bool>("byMenu");
        QTest::newRow("File > Exit") << true;
        QTest::newRow("close box") << false;
    }
    void roundTripThroughExitAndCloseBox()
    {
        QFETCH(bool, byMenu);
        f->field(0)->selectNotation(Notation::Decimal);
        f->field(1)->selectNotation(Notation::Hexadecimal);
        f->w->preferences().addDir = u"/data/in; \"quoted\", = ü"_s;
        f->w->replaceAsSettings().outpath = u"/data/out"_s;
        f->w->preferences().masks = {u"src*;lib"_s, u".git"_s, u"*.txt;*.md"_s, u"*~"_s};
        f->w->AddRecentFile(u"/args/one.txt"_s);
        f->w->AddRecentFile(u"/args/two.txt"_s);
        if (byMenu)
            f->trigger(u"IDM_EXIT"_s);
        else
            QVERIFY(f->w->close());
        QVERIFY(!f->w->isVisible());
        QCOMPARE(stored(u"FindType"_s), u"1"_s);
        QCOMPARE(stored(u"WindowState"_s), u"0"_s);
        QCOMPARE(stored(u"FindEndTag"_s), u"</FIND>"_s);
        QCOMPARE(stored(u"RecentFile1"_s), u"/args/two.txt"_s);
        WindowFixture g(prefs(), false);
        QCOMPARE(int(g.field(0)->notation()), int(Notation::Decimal));
        QVERIFY(g.option(0, Notation::Decimal)->isChecked());
        QCOMPARE(int(g.field(1)->notation()), int(Notation::Hexadecimal));
        QCOMPARE(g.w->preferences().addDir, u"/data/in; \"quoted\", = ü"_s);
        QCOMPARE(g.w->replaceAsSettings().outpath, u"/data/out"_s);
        QCOMPARE(g.w->preferences().masks, FolderMasks({u"src*;lib"_s, u".git"_s, u"*.txt;*.md"_s, u"*~"_s}));
        QCOMPARE(g.action(u"IDM_FILE_FILE1"_s)->text(), u"two.txt"_s);
        QCOMPARE(g.action(u"IDM_FILE_FILE2"_s)->text(), u"one.txt"_s);
        QVERIFY(g.action(u"IDM_FILE_FILE2"_s)->isVisible() && !g.action(u"IDM_FILE_FILE3"_s)->isVisible());
        QVERIFY(g.action(u"IDM_FILE_SPACE3"_s)->isVisible());
    }

    void placementIsRestoredAndKeptWhileMaximized()
    {
        f.reset();
        const double tpp = ScreenTwipsPerPixel();
        seed({{u"WindowLeft"_s, u"-300"_s}, {u"WindowTop"_s, u"1500"_s}, {u"WindowWidth"_s, u"9000"_s}, {u"WindowHeight"_s, u"7500"_s},
            {u"WindowState"_s, u"1"_s}, {u"RecentFile1"_s, u"/a/first.txt"_s}, {u"RecentFile2"_s, u"/b/second.txt"_s}});
        {
            WindowFixture g(prefs());
            QVERIFY(!g.w->isMinimized()); // never starts minimized
            QCOMPARE(g.w->frameGeometry().topLeft(), QPoint(0, TwipsToPixels(1500, tpp))); // a negative left becomes 0
            QTRY_COMPARE(g.w->frameGeometry().width(), TwipsToPixels(9000, tpp)); // once the frame has settled
            QCOMPARE(g.action(u"IDM_FILE_FILE1"_s)->text(), u"first.txt"_s);
            QCOMPARE(g.action(u"IDM_FILE_FILE2"_s)->text(), u"second.txt"_s);
            QVERIFY(g.action(u"IDM_FILE_SPACE3"_s)->isVisible());
            g.w->showMaximized();
            QTRY_VERIFY(g.w->isMaximized());
            g.w->close();
        }
        // Maximized: the state is stored, the bounds keep the last normal placement.
        QCOMPARE(stored(u"WindowState"_s), u"2"_s);
        QCOMPARE(stored(u"WindowLeft"_s), u"-300"_s);
        QCOMPARE(stored(u"WindowWidth"_s), u"9000"_s);
        WindowFixture again(prefs());
        QTRY_VERIFY(again.w->isMaximized());
    }

    void argumentFilesThroughTheMenus()
    {
        const QString path = dir->filePath(u"pairs.txt"_s);
        f->dialogs.argumentPath = path;
        f->trigger(u"IDM_SAVE"_s); // nothing to save: the collection message, no file, no recent entry
        QCOMPARE(sink().texts(), QStringList {CollectArgumentsErrorMessage(NoArgumentsDescription())});
        QVERIFY(!QFile::exists(path) && !f->action(u"IDM_FILE_FILE1"_s)->isVisible());
        // The worked example: the pending fields first, then the row.
        sink().shown.clear();
        f->field(1)->selectNotation(Notation::Hexadecimal);
        f->pending(u"hello"_s, u"48 49"_s);
        f->addRow(u"Dec"_s, u"13,10"_s);
        f->trigger(u"IDM_SAVE"_s);
        QVERIFY(sink().shown.isEmpty());
        QCOMPARE(ReadFile(path).size(), 119);
        QCOMPARE(f->action(u"IDM_FILE_FILE1"_s)->text(), u"pairs.txt"_s);
        QVERIFY(f->action(u"IDM_FILE_FILE1"_s)->isVisible());
        // Loading appends; cancelling the dialog does nothing.
        f->trigger(u"IDM_ARG_CLEAR"_s);
        f->dialogs.argumentPath.clear();
        f->trigger(u"IDM_ARG_LOAD"_s);
        QCOMPARE(f->args()->topLevelItemCount(), 0);
        f->dialogs.argumentPath = path;
        f->trigger(u"IDM_LOAD"_s);
        f->trigger(u"IDM_ARG_LOAD"_s); // loaded twice
        QCOMPARE(f->args()->topLevelItemCount(), 4);
        QCOMPARE(f->args()->row(0), ArgumentRow({u"Asc"_s, u"hello"_s, u"Hex"_s, u"48 49"_s}));
        QCOMPARE(f->args()->row(3), ArgumentRow({u"Dec"_s, u"13,10"_s, u"Asc"_s, u""_s}));
        QCOMPARE(f->dialogs.asked, QStringList({u"save"_s, u"save"_s, u"load"_s, u"load"_s, u"load"_s}));
        // A recent entry whose file has gone fails with the open message and stays.
        QVERIFY(QFile::remove(path));
        f->trigger(u"IDM_FILE_FILE1"_s);
        QCOMPARE(sink().texts(), QStringList {u"No such file or directory - "_s + path});
        QCOMPARE(f->action(u"IDM_FILE_FILE1"_s)->text(), u"pairs.txt"_s);
        QCOMPARE(f->args()->topLevelItemCount(), 4);
    }

    // ---- Help ----

    void helpThatNoProgramOpensIsReported()
    {
        // The program folder of the test holds no help.txt unless the build copied one.
        const QString help = QCoreApplication::applicationDirPath() + u"/help.txt"_s;
        const bool made = !QFile::exists(help);
        QVERIFY(!made || WriteFile(help, "help"));
        const auto removeMade = qScopeGuard([&] { made &&QFile::remove(help); });
        f->trigger(u"IDM_HELP"_s);
        QCOMPARE(f->dialogs.asked, QStringList {u"url "_s + QUrl::fromLocalFile(help).toString()});
        QVERIFY(sink().shown.isEmpty());
        f->dialogs.urlOpens = false;
        f->trigger(u"IDM_HELP"_s);
        QCOMPARE(sink().texts(),
            QStringList {
                u"Cannot open the help file\r"_s + help + u"\r\rThe desktop has no program to open text files. Open the file \rwith a text editor."_s});
        QCOMPARE(sink().shown.first().icon, MessageSink::Icon::Exclamation);
    }

    // ---- Runs ----

    // A rewrite in place whose program died right after it kept the result
    // and wrote its record: the window's start finishes it and says so once.
    void finishesAnInterruptedRewriteAtStart()
    {
        StateFolderGuard state;
        const QString path = file(u"linked.txt"_s, "old content");
        file(u"result.bin"_s, "new");
        {
            const FileDescriptor folder(::open(NativePath(dir->path()).constData(), O_PATH | O_DIRECTORY));
            const FileDescriptor in(::open(NativePath(dir->filePath(u"result.bin"_s)).constData(), O_RDONLY));
            struct stat st;
            QVERIFY(::stat(NativePath(path).constData(), &st) == 0);
            RewriteRecord record;
            QCOMPARE(record.begin(st, NativePath(QFileInfo(path).canonicalFilePath()), in.get(), folder.get(), "result.bin"), 0);
        } // dies here: the record stays
        QCOMPARE(state.records().size(), 2);
        f->w->FinishInterruptedRewrites();
        QCOMPARE(sink().texts(),
            QStringList {u"Perrox was stopped while it rewrote the file %1 and has now finished it."_s.arg(QFileInfo(path).canonicalFilePath())});
        QCOMPARE(ReadFile(path), QByteArray("new"));
        QCOMPARE(state.records(), QStringList());
        f->w->FinishInterruptedRewrites();
        QCOMPARE(sink().shown.size(), 1);
    }

    // The window puts what a run shows on screen once per event round; a
    // message still comes after the cells of the rows before it, with its
    // own file in the progress window.
    void aMessageComesAfterWhatTheRunShowed()
    {
        f->w->setEventPumpInterval(60000);
        const QString a = file(u"a"_s, "aaa"), folder = dir->filePath(u"folder"_s);
        QVERIFY(QDir().mkpath(folder));
        f->addFiles({a, folder, a});
        f->pending(u"a"_s, u"b"_s);
        QStringList seen;
        sink().onShow = [&] { seen << f->cell(0) << f->cell(1) << f->progress()->status1()->text(); };
        f->trigger(u"IDM_COUNT"_s);
        QCOMPARE(sink().texts(), QStringList {FileErrorMessage(EISDIR, folder)});
        QCOMPARE(seen.size(), 3);
        QCOMPARE(seen.mid(0, 2), (QStringList {u"       3"_s, QString()}));
        QVERIFY(seen.at(2).endsWith(u"folder"_s));
        QCOMPARE(f->cell(1), u"       0"_s);
        QCOMPARE(f->cell(2), u"       3"_s);
    }

    void countThenReplace()
    {
        const QString a = file(u"a"_s, "abcabc"), none = file(u"none"_s, "zzz"), c = file(u"c.txt"_s, QByteArray(10000, 'a'));
        struct stat before, after;
        ::stat(NativePath(none).constData(), &before);
        f->addFiles({a, none, c, a}); // the same path twice: processed twice
        f->field(0)->selectNotation(Notation::Hexadecimal);
        f->pending(u"61"_s, u"XY"_s);
        QString caption;
        f->dialogs.onRunStarted = [&](ProgressWindow *p) { caption = f->w->isEnabled() || !p->isEnabled() ? u"enabled"_s : p->windowTitle(); };
        f->trigger(u"IDM_COUNT"_s); // counting changes no file
        QCOMPARE(caption, u"Counting..."_s);
        QCOMPARE(QStringList({f->cell(0), f->cell(1), f->cell(2), f->cell(3)}), QStringList({u"       2"_s, u"       0"_s, u"   10000"_s, u"       2"_s}));
        QCOMPARE(ReadFile(a), QByteArray("abcabc"));
        QCOMPARE(ReadFile(c), QByteArray(10000, 'a'));
        QVERIFY(f->w->isEnabled());
        QTRY_VERIFY(!f->progress());
        // An empty replacement deletes; a file without occurrences is not rewritten.
        f->pending(u"61"_s, QString());
        f->button(u"cmdReplace"_s)->click();
        QCOMPARE(caption, u"Replacing..."_s);
        QCOMPARE(ReadFile(a), QByteArray("bcbc"));
        QCOMPARE(ReadFile(c), QByteArray());
        QCOMPARE(QStringList({f->cell(0), f->cell(1), f->cell(2), f->cell(3)}), QStringList({u"       2"_s, u"       0"_s, u"   10000"_s, u"       0"_s}));
        ::stat(NativePath(none).constData(), &after);
        QCOMPARE(after.st_ino, before.st_ino);
        QVERIFY(sink().shown.isEmpty());
    }

    void replaceAsStopsAtNo()
    {
        const QString a = file(u"a.txt"_s, "xx"), b = file(u"b.txt"_s), c = file(u"c.txt"_s);
        QTemporaryDir out;
        WriteFileIn(out.path(), u"new_b.txt"_s, "keep");
        f->addFiles({a, b, c});
        f->pending(u"x"_s, u"y"_s);
        f->dialogs.target = ReplaceAsSettings {out.path(), u"new_"_s, QString(), 0};
        sink().answers = {MessageSink::Answer::No};
        QCOMPARE(f->w->ProcessFiles(RunMode::ReplaceAs).end, RunResult::End::StoppedAtNo);
        const QString existing = out.path() + u"/new_b.txt"_s;
        QCOMPARE(sink().texts(), QStringList {u"The file "_s + existing + u" already exists.\r\n\r\nDo you want to overwrite it?"_s});
        QCOMPARE(sink().shown.first().buttons, MessageSink::Buttons::YesNo);
        QCOMPARE(ReadFile(out.path() + u"/new_a.txt"_s), QByteArray("yy"));
        QCOMPARE(ReadFile(existing), QByteArray("keep"));
        QVERIFY(!QFile::exists(out.path() + u"/new_c.txt"_s));
        QCOMPARE(f->cell(0), u"       2"_s);
        QCOMPARE(f->cell(1), QString());
        // A cancelled Save As dialog ends the command before anything happens.
        f->dialogs.target.reset();
        sink().shown.clear();
        f->button(u"cmdReplaceAs"_s)->click();
        QVERIFY(sink().shown.isEmpty());
        QCOMPARE(f->dialogs.asked.last(), u"target 3"_s);
    }

    void cancelDuringTheSecondOfThreeFiles()
    {
        const QString a = file(u"a"_s, QByteArray(9000, 'q')), b = file(u"b"_s, QByteArray(20000, 'q')), c = file(u"c"_s, QByteArray(9000, 'q'));
        f->addFiles({a, b, c});
        f->files()->topLevelItem(1)->setText(1, u"earlier"_s);
        f->pending(u"q"_s, u"r"_s);
        // Cancelled as soon as the progress window shows the second file.
        f->dialogs.onRunStarted = [&](ProgressWindow *p) {
            connect(p->progressBar(), &QProgressBar::valueChanged, p, [p, b] {
                if (p->status1()->text() == b && !p->cancelFlag())
                    p->askCancel();
            });
        };
        sink().answers = {MessageSink::Answer::Yes};
        QCOMPARE(f->w->ProcessFiles(RunMode::Replace).end, RunResult::End::Cancelled);
        QCOMPARE(sink().texts(), QStringList {CancelQuestion()});
        QCOMPARE(ReadFile(a), QByteArray(9000, 'r'));
        QCOMPARE(ReadFile(b), QByteArray(20000, 'q'));
        QCOMPARE(ReadFile(c), QByteArray(9000, 'q'));
        QCOMPARE(QStringList({f->cell(0), f->cell(1), f->cell(2)}), QStringList({u"    9000"_s, u"earlier"_s, QString()}));
        QVERIFY(f->w->isEnabled());
        QTRY_VERIFY(!f->progress());
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
        QTest::newRow("invalid decimal") << 1 << "1,2,999" << ArgumentMessage(u"1,2,999"_s, Notation::Decimal);
    }
    void argumentMessagesBeforeAnyFile()
    {
        QFETCH(int, findNotation);
        QFETCH(QString, find);
        QFETCH(QString, message);
        f->addFiles({file(u"a"_s, "1,2")});
        f->field(0)->selectNotation(qint16(findNotation));
        f->pending(find, QString());
        f->dialogs.onRunStarted = [](ProgressWindow *) { QFAIL("a run started"); };
        f->button(u"cmdReplace"_s)->click();
        QCOMPARE(sink().texts(), QStringList {message});
        QCOMPARE(f->cell(0), QString());
        QVERIFY(f->w->isEnabled());
    }

    void readOnlyFileEndsTheRun()
    {
        QVERIFY(::chmod(NativePath(dir->path()).constData(), 0777) == 0 && ::chmod(NativePath(temp->path()).constData(), 0777) == 0);
        const QString locked = file(u"locked"_s, "a"), after = file(u"after"_s, "a");
        QVERIFY(::chmod(NativePath(locked).constData(), 0444) == 0 && ::chmod(NativePath(after).constData(), 0666) == 0);
        // The window runs in a program of its own that is not root, so the permission bits count.
        QCOMPARE(RunSelfUnprivileged(u"readonly"_s, {locked, after}), 0);
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
    WindowFixture f(QString(), false);
    f.w->setEventPumpInterval(0);
    f.addFiles(paths);
    f.pending(u"a"_s, u"b"_s);
    CHILD_CHECK(f.w->ProcessFiles(RunMode::Replace).end == RunResult::End::CopyFailed);
    CHILD_CHECK(f.sink.texts() == QStringList {SystemErrorText(EACCES) + u" - "_s + paths[0]});
    CHILD_CHECK(f.w->isEnabled());
    CHILD_CHECK(f.cell(0) == u"       1"_s && f.cell(1).isEmpty());
    return 0;
}

} // namespace

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    if (qEnvironmentVariable("PERROX_CHILD_CASE") == u"readonly"_s)
        return ReadOnlyChild();
    TestMainWindow test;
    QTEST_SET_MAIN_SOURCE_PATH
    return QTest::qExec(&test, argc, argv);
}
#include "tst_mainwindow.moc"
