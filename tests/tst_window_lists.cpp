// The main window's two lists as the user fills them: files added by the menus, dropped and given at the start,
// selected, removed and sorted by a click on a column; pairs added from the fields, edited, moved, saved and loaded.

#include "files/filesystem.h"
#include "support/windowfixture.h"

#include <QHeaderView>
#include <QMimeData>
#include <QTimer>

using namespace perrox;
using namespace perrox::test;
using namespace Qt::StringLiterals;

class TestWindowLists : public WindowTest
{
    Q_OBJECT

    // The argument list's find texts, the fields' texts, each side's notation ("?" when its option is not checked) and
    // the beeps so far.
    QString pairs() const
    {
        QString notations;
        for (int side : {0, 1})
            notations += QString(Info(f->field(side)->notation()).code) + (f->option(side, f->field(side)->notation())->isChecked() ? u""_s : u"?"_s);
        return u"%1 | %2 | %3 | %4 | %5 beeps"_s.arg(f->findTexts(), f->edSearch()->text(), f->edReplace()->text(), notations).arg(sink().beeps);
    }

private slots:
    // Add Files and Add Folder (in the context menu too) start in the folder last added from, or the first row's folder
    // when that has gone, and remember it; a folder is scanned under the masks. A drop is scanned once its event has
    // returned, keeps each URL's bytes and leaves out what is no local file. The last row added is current, none selected.
    void addingAndDroppingFiles()
    {
        const auto state = [&] { return f->listState() + u" | "_s + f->w->preferences().addDir; };
        QVERIFY(QDir(dir->path()).mkpath(u"empty"_s));
        f->w->AddStartPaths({dir->filePath(u"empty"_s)});
        QCOMPARE(f->listState(), u" | 0 files | -1 | "_s);
        f->w->preferences().addDir = u"/nowhere"_s;
        f->addFiles({}); // cancelled: nothing changes, not even the folder
        QCOMPARE(state(), u" | 0 files | -1 |  | /nowhere"_s);
        f->addFiles({u"/data/a.txt"_s, u"/data/b.txt"_s, u"/data/a.txt"_s}); // the last row current, none selected
        QCOMPARE(state(), u"/data/a.txt /data/b.txt /data/a.txt | 3 files | 2 |  | /data"_s);
        QCOMPARE(f->cells() + u' ' + QString::number(sink().busyOnCount), u"|| 2"_s);
        f->w->preferences().addDir = u"/no/such/folder"_s;
        f->addFiles({});
        f->trigger(u"IDM_ADD_FOLDER"_s);
        QCOMPARE(f->dialogs.asked, QStringList({u"files /nowhere"_s, u"files /nowhere"_s, u"files /data"_s, u"folder /data"_s}));
        QVERIFY(f->files()->actions().contains(f->action(u"IDM_ADD_FOLDER"_s)));
        QCOMPARE(f->files()->contextMenuPolicy(), Qt::ActionsContextMenu);
        QDir(dir->path()).mkpath(u"tree/sub"_s);
        const QString one = file(u"tree/one.txt"_s), three = file(u"tree/sub/three.txt"_s), two = file(u"tree/sub/two.bin"_s), loose = file(u"loose.txt"_s);
        f->w->preferences().masks.includeFiles = u"*.txt"_s;
        f->dialogs.folder = dir->filePath(u"tree"_s);
        f->trigger(u"IDM_ADD_FOLDER"_s);
        QCOMPARE(state(), u"/data/a.txt /data/b.txt /data/a.txt %1 %2 | 5 files | 4 |  | %3"_s.arg(one, three, dir->path()));
        f->trigger(u"IDM_SELECT_ALL"_s);
        f->trigger(u"IDM_REMOVE"_s);
        f->w->preferences().masks.includeFiles.clear();
        f->drop({QUrl::fromLocalFile(dir->filePath(u"tree"_s)), QUrl::fromLocalFile(loose), QUrl::fromLocalFile(u"/not/there"_s),
            QUrl(u"https://example.org/x"_s)});
        QCOMPARE(f->paths(), QStringList());
        QTRY_COMPARE(f->listState(), u"%1 %2 %3 %4 /not/there | 5 files | 4 | "_s.arg(one, three, two, loose));
        QVERIFY(f->action(u"IDM_COUNT"_s)->isEnabled());
        // The paths given at the start are added as a drop of them is, in their order; none change nothing.
        const QString missing = DecodeNativePath("/not/caf\xe9");
        const int busy = sink().busyOnCount;
        f->w->AddStartPaths({});
        f->w->AddStartPaths({missing, dir->filePath(u"tree/sub"_s)});
        QCOMPARE(f->listState(), u"%1 %2 %3 %4 /not/there %5 %2 %3 | 8 files | 7 | "_s.arg(one, three, two, loose, missing));
        QCOMPARE(sink().busyOnCount, busy + 1); // none for no paths
        QMimeData data, text;
        data.setUrls(
            {QUrl(u"file:///tmp/caf%C3%A9"_s), QUrl(u"file:///tmp/caf%E9.txt"_s), QUrl(u"file:///tmp/a%23b%3Fc%25d%20e"_s), QUrl(u"file://server/share/x"_s)});
        const QStringList expected {u"/tmp/caf\u00e9"_s, DecodeNativePath("/tmp/caf\xe9.txt"), u"/tmp/a#b?c%d e"_s, u"//server/share/x"_s}; // E9: no UTF-8
        QCOMPARE(FileListView::droppedPaths(&data), expected);
        text.setText(u"hello"_s); // text is no file list
        QCOMPARE(FileListView::droppedPaths(&text), QStringList());
    }

    // Window events run during the scan of a drop; a run, Add Files, Add Folder and a second drop arriving then are
    // turned away with a beep (busy, beeps and dialogs asked right after them).
    void aSecondChangeDuringAScanIsRefused()
    {
        for (int i = 0; i < 50; ++i)
            file(u"f%1"_s.arg(i, 3, 10, QLatin1Char('0')));
        QList<int> refused;
        f->drop({QUrl::fromLocalFile(dir->path())});
        QTimer::singleShot(0, f->w.get(), [&] {
            f->w->ProcessFiles(RunMode::Count);
            f->trigger(u"IDM_ADD"_s);
            f->trigger(u"IDM_ADD_FOLDER"_s);
            f->drop({QUrl::fromLocalFile(dir->path())});
            refused = {f->files()->busy(), sink().beeps, int(f->dialogs.asked.size())};
        });
        QTRY_COMPARE(refused, (QList<int> {1, 3, 0}));
        QTRY_COMPARE(sink().beeps, 4);
        QTRY_VERIFY(!f->files()->busy());
        QCOMPARE(f->files()->topLevelItemCount(), 50);
    }

    void selectRemoveAndSort()
    {
        f->addFiles({u"/1"_s, u"/2"_s, u"/3"_s, u"/4"_s, u"/5"_s});
        f->files()->topLevelItem(1)->setSelected(true);
        QStringList selected;
        for (const char *name : {"IDM_INVERT_SELECTION", "IDM_INVERT_SELECTION", "IDM_SELECT_ALL", "IDM_INVERT_SELECTION"}) {
            f->trigger(QString::fromLatin1(name));
            selected << f->listState().section(u" | "_s, 3);
        }
        QCOMPARE(selected, QStringList({u"0 2 3 4"_s, u"1"_s, u"0 1 2 3 4"_s, QString()}));
        QCOMPARE(f->w->focusWidget(), f->files());
        // Removal acts only while the list has the focus.
        f->files()->topLevelItem(1)->setSelected(true);
        f->files()->topLevelItem(3)->setSelected(true);
        f->edSearch()->setFocus();
        f->trigger(u"IDM_REMOVE"_s);
        QCOMPARE(f->paths().size(), 5);
        f->files()->setFocus();
        QTest::keyClick(f->files(), Qt::Key_Delete);
        QCOMPARE(f->paths().join(u' ') + u", "_s + f->status(), u"/1 /3 /5, 3 files"_s);
        // A click on a column header sorts the list once by it, ascending first, then toggled; a file added after a
        // sort goes to the end, and the next click sorts ascending. The header shows no sort indicator.
        f->files()->topLevelItem(0)->setText(0, u"/b"_s);
        f->files()->topLevelItem(2)->setText(0, u"/a"_s);
        QHeaderView *header = f->files()->header();
        const auto click = [&](int column) {
            const QPoint centre(header->sectionViewportPosition(column) + header->sectionSize(column) / 2, header->height() / 2);
            QTest::mouseClick(header->viewport(), Qt::LeftButton, {}, centre);
            return f->paths().join(u' ');
        };
        QStringList orders;
        for (int column : {0, 0, 1, 0, 0})
            orders << click(column);
        f->addFiles({u"/0"_s});
        orders << f->paths().join(u' ') << click(0);
        QCOMPARE(orders, QStringList({u"/3 /a /b"_s, u"/b /a /3"_s, u"/b /a /3"_s, u"/3 /a /b"_s, u"/b /a /3"_s, u"/b /a /3 /0"_s, u"/0 /3 /a /b"_s}));
        QVERIFY(!header->isSortIndicatorShown());
        f->trigger(u"IDM_SELECT_ALL"_s);
        f->trigger(u"IDM_REMOVE"_s);
        QCOMPARE(f->listState(), u" |  | -1 | "_s);
        QVERIFY(!f->action(u"IDM_COUNT"_s)->isEnabled());
        QVERIFY(!f->child<QPushButton>(u"cmdReplace"_s)->isEnabled());
    }

    void addArgument()
    {
        f->field(0)->selectNotation(Notation::Decimal);
        f->edSearch()->setText(u"65,66"_s);
        f->click(u"cmdAddParam"_s);
        QCOMPARE(f->args()->rows(), QList<ArgumentRow>({{u"Dec"_s, u"65,66"_s, u"Asc"_s, u""_s}}));
        f->trigger(u"IDM_ARG_ADD"_s); // an empty find: only the beep
        QCOMPARE(pairs(), u"65,66 |  |  | DecAsc | 1 beeps"_s); // the notations stay
        // Both sides checked, two messages, then the beep.
        f->field(1)->selectNotation(Notation::Hexadecimal);
        f->pending(u"1,2,999"_s, u"G1"_s);
        f->trigger(u"IDM_ARG_ADD"_s);
        QCOMPARE(sink().texts(), QStringList({ArgumentMessage(u"1,2,999"_s, Notation::Decimal), ArgumentMessage(u"G1"_s, Notation::Hexadecimal)}));
        QCOMPARE(pairs(), u"65,66 | 1,2,999 | G1 | DecHex | 2 beeps"_s);
        // With Ctrl held the fields keep their texts; releasing it restores the emptying. Duplicates are allowed.
        f->pending(u"1"_s, u"0A"_s);
        QTest::keyPress(f->edSearch(), Qt::Key_Control, Qt::ControlModifier);
        f->trigger(u"IDM_ARG_ADD"_s);
        f->trigger(u"IDM_ARG_ADD"_s);
        QCOMPARE(pairs(), u"65,66 1 1 | 1 | 0A | DecHex | 2 beeps"_s);
        QTest::keyRelease(f->edSearch(), Qt::Key_Control);
        f->trigger(u"IDM_ARG_ADD"_s);
        QCOMPARE(pairs(), u"65,66 1 1 1 |  |  | DecHex | 2 beeps"_s);
    }

    // Edit takes the current row out of the list into the fields, the options following its notations (an unknown
    // type code changes none); whatever is dropped onto the find field does the same.
    void editArgument()
    {
        f->trigger(u"IDM_ARG_EDIT"_s);
        f->addRow(u"Dec"_s, u"10 13"_s, u"Hex"_s, u"0A"_s);
        f->addRow(u"Asc"_s, u"x"_s, u"Asc"_s, u"y"_s);
        f->pending(u"old"_s, u"older"_s);
        f->setCurrentRow(0);
        f->trigger(u"IDM_ARG_EDIT"_s);
        QCOMPARE(pairs(), u"x | 10 13 | 0A | DecHex | 1 beeps"_s);
        f->addRow(u"Zzz"_s, u"q"_s, u"Zzz"_s, u"r"_s);
        f->setCurrentRow(1);
        f->trigger(u"IDM_ARG_EDIT"_s);
        QCOMPARE(pairs(), u"x | q | r | DecHex | 1 beeps"_s);
        QMimeData data;
        data.setText(u"dropped"_s);
        QDragEnterEvent enter(QPoint(5, 5), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
        QDropEvent drop(QPointF(5, 5), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
        QCoreApplication::sendEvent(f->edSearch(), &enter);
        QCoreApplication::sendEvent(f->edSearch(), &drop);
        QCOMPARE(std::pair(enter.isAccepted(), drop.isAccepted()), std::pair(true, true));
        QCOMPARE(pairs(), u" | x | y | AscAsc | 1 beeps"_s);
        // UTF-8 sides: the options switch silently, also from bytes that are no UTF-8 text, then the texts come.
        f->field(0)->selectNotation(Notation::Hexadecimal);
        f->pending(u"E9"_s, u"\u00e9"_s);
        f->addRow(u"Utf"_s, u"caf\u00e9"_s, u"Utf"_s, u"\u0416"_s);
        f->setCurrentRow(0);
        f->trigger(u"IDM_ARG_EDIT"_s);
        QCOMPARE(pairs(), u" | caf\u00e9 | \u0416 | UtfUtf | 1 beeps"_s);
        QCOMPARE(sink().texts(), QStringList());
    }

    void removeMoveAndDrag()
    {
        for (const QString &t : {u"1"_s, u"2"_s, u"3"_s, u"4"_s, u"5"_s})
            f->addRow(u"Asc"_s, t);
        f->args()->topLevelItem(1)->setSelected(true);
        f->args()->topLevelItem(3)->setSelected(true);
        f->click(u"cmdRemoveParam"_s);
        QCOMPARE(pairs(), u"1 3 5 |  |  | AscAsc | 0 beeps"_s);
        f->setCurrentRow(1);
        f->click(u"cmdParamUp"_s);
        QVERIFY(f->args()->topLevelItem(0)->isSelected());
        f->trigger(u"IDM_ARG_UP"_s); // already first: a beep
        QCOMPARE(pairs(), u"3 1 5 |  |  | AscAsc | 1 beeps"_s);
        f->setCurrentRow(1);
        f->click(u"cmdParamDown"_s);
        f->trigger(u"IDM_ARG_DOWN"_s); // already last
        QCOMPARE(pairs(), u"3 5 1 |  |  | AscAsc | 2 beeps"_s);
        // A row dragged (from 1) onto the row under the pointer (from 0) moves there and becomes current.
        for (const auto &[dragged, under, moved] : {std::tuple {1, 2, u"5 1 3"_s}, {3, 0, u"3 5 1"_s}, {2, 1, u"3 5 1"_s}}) {
            const QString text = f->args()->topLevelItem(dragged - 1)->text(1);
            f->args()->DropDraggedRow(dragged, under);
            QCOMPARE(f->findTexts() + u" current "_s + text, moved + u" current "_s + f->args()->currentItem()->text(1));
        }
        f->trigger(u"IDM_ARG_CLEAR"_s);
        f->trigger(u"IDM_ARG_UP"_s);
        f->trigger(u"IDM_ARG_DOWN"_s);
        QCOMPARE(pairs(), u" |  |  | AscAsc | 4 beeps"_s);
    }

    void argumentFilesThroughTheMenus()
    {
        const QString path = dir->filePath(u"pairs.txt"_s);
        const auto recent = [&] { return f->action(u"IDM_FILE_FILE1"_s)->isVisible() ? f->action(u"IDM_FILE_FILE1"_s)->text() : u"hidden"_s; };
        f->dialogs.argumentPath = path;
        f->trigger(u"IDM_SAVE"_s); // nothing to save: the collection message, no file, no recent entry
        QCOMPARE(sink().texts(), QStringList {CollectArgumentsErrorMessage(NoArgumentsDescription())});
        QCOMPARE(recent() + u' ' + QString::number(QFile::exists(path)), u"hidden 0"_s);
        // The worked example: the pending fields first, then the row.
        f->field(1)->selectNotation(Notation::Hexadecimal);
        f->pending(u"hello"_s, u"48 49"_s);
        f->addRow(u"Dec"_s, u"13,10"_s);
        f->trigger(u"IDM_SAVE"_s);
        QCOMPARE(recent() + u' ' + QString::number(ReadFile(path).size()), u"pairs.txt 119"_s);
        // Loading appends; cancelling the dialog does nothing.
        f->trigger(u"IDM_ARG_CLEAR"_s);
        f->dialogs.argumentPath.clear();
        f->trigger(u"IDM_ARG_LOAD"_s);
        QCOMPARE(f->args()->topLevelItemCount(), 0);
        f->dialogs.argumentPath = path;
        f->trigger(u"IDM_LOAD"_s);
        f->trigger(u"IDM_ARG_LOAD"_s); // loaded twice
        const ArgumentRow pending = {u"Asc"_s, u"hello"_s, u"Hex"_s, u"48 49"_s}, row = {u"Dec"_s, u"13,10"_s, u"Asc"_s, u""_s};
        QCOMPARE(f->args()->rows(), QList<ArgumentRow>({pending, row, pending, row}));
        QCOMPARE(f->dialogs.asked, QStringList({u"save"_s, u"save"_s, u"load"_s, u"load"_s, u"load"_s}));
        // A recent entry whose file has gone fails with the open message and stays.
        QVERIFY(QFile::remove(path));
        f->trigger(u"IDM_FILE_FILE1"_s);
        QCOMPARE(sink().texts().mid(1), QStringList {u"No such file or directory - "_s + path});
        QCOMPARE(recent() + u", %1 rows"_s.arg(f->args()->topLevelItemCount()), u"pairs.txt, 4 rows"_s);
    }
};

QTEST_MAIN(TestWindowLists)
#include "tst_window_lists.moc"
