// The main window under the offscreen platform: the enabling rule, resizing,
// the notation fields, the argument list, the progress window, and a Count
// run through the window.

#include "app/mainwindow.h"
#include "arguments/argumentlistview.h"
#include "arguments/notation.h"
#include "arguments/notationfield.h"
#include "base/twips.h"
#include "base/widgetsupport.h"
#include "engine/progressscale.h"
#include "engine/progresswindow.h"
#include "files/filelistview.h"
#include "support/testsupport.h"

#include <QAction>
#include <QApplication>
#include <QClipboard>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QTemporaryDir>
#include <QTest>
#include <QTreeWidget>

using namespace perrox;
using namespace Qt::StringLiterals;
using perrox::test::RecordingSink;

class TestMainWindow : public QObject
{
    Q_OBJECT

private:
    std::unique_ptr<RecordingSink> sink;
    std::unique_ptr<MainWindow> w;

    void addRow(const QString &findType, const QString &find, const QString &replaceType, const QString &replace)
    {
        w->lvwFind()->appendRow({findType, find, replaceType, replace});
    }
    QStringList findTexts() const
    {
        QStringList texts;
        for (const ArgumentRow &row : w->lvwFind()->rows())
            texts << row.findText;
        return texts;
    }
    void setCurrent(int row)
    {
        w->lvwFind()->clearSelection();
        w->lvwFind()->setCurrentItem(w->lvwFind()->topLevelItem(row));
    }

private Q_SLOTS:
    void init()
    {
        sink = std::make_unique<RecordingSink>();
        w = std::make_unique<MainWindow>(sink.get());
        w->show();
        QVERIFY(QTest::qWaitForWindowExposed(w.get()));
        w->activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(w.get()));
    }
    void cleanup()
    {
        w.reset();
        sink.reset();
    }

    void enablingRuleFollowsTheFileCount()
    {
        const QStringList names = {u"IDM_REMOVE"_s, u"IDM_SELECT_ALL"_s, u"IDM_INVERT_SELECTION"_s, u"IDM_COUNT"_s, u"IDM_REPLACE"_s, u"IDM_COPYREPLACE"_s};
        const auto enabled = [&](bool on) {
            for (const QString &name : names)
                if (w->action(name)->isEnabled() != on)
                    return false;
            return w->cmdReplace()->isEnabled() == on && w->cmdReplaceAs()->isEnabled() == on;
        };
        QVERIFY(enabled(false));
        // Empty arguments leave the commands alone.
        QVERIFY(w->action(QStringLiteral("IDM_ARG_ADD"))->isEnabled());
        w->AddFileToList(QStringLiteral("/tmp/a"));
        w->UpdateCommands();
        QVERIFY(enabled(true));
        w->lvwFiles()->clear();
        w->UpdateCommands();
        QVERIFY(enabled(false));
    }

    void minimumSizeAndWidening()
    {
        // The window never gets smaller than its minimum outer size.
        const double tpp = ScreenTwipsPerPixel();
        w->resize(TwipsToPixels(6000, tpp), TwipsToPixels(5000, tpp));
        QCoreApplication::processEvents();
        QCOMPARE(w->frameGeometry().width(), TwipsToPixels(7215, tpp));
        QCOMPARE(w->frameGeometry().height(), TwipsToPixels(5500, tpp));

        // Widening goes to the wide columns; the Count column stays 60 pixels.
        w->resize(600, 450);
        QCoreApplication::processEvents();
        const int files = w->lvwFiles()->width();
        const int fileColumn = w->lvwFiles()->columnWidth(0);
        const int find = w->lvwFind()->width();
        const int wide = w->lvwFind()->columnWidth(1);
        QCOMPARE(w->lvwFiles()->columnWidth(1), 60);
        w->resize(750, 450);
        QCoreApplication::processEvents();
        QCOMPARE(w->lvwFiles()->width(), files + 150);
        QCOMPARE(w->lvwFiles()->columnWidth(0), fileColumn + 150);
        QCOMPARE(w->lvwFiles()->columnWidth(1), 60);
        QCOMPARE(w->lvwFind()->columnWidth(1) - wide, (w->lvwFind()->width() - find) / 2);
        QCOMPARE(w->lvwFind()->columnWidth(3), w->lvwFind()->columnWidth(1));
    }

    void notationSwitches_data()
    {
        QTest::addColumn<int>("from");
        QTest::addColumn<QString>("text");
        QTest::addColumn<int>("to");
        QTest::addColumn<QString>("expected");
        QTest::newRow("Dec to Hex") << 1 << "10,13" << 2 << "0A 0D ";
        QTest::newRow("Hex to Asc with NUL") << 2 << "41 00 42" << 0 << QString(QStringLiteral("A") + QChar(0) + QStringLiteral("B"));
        QTest::newRow("invalid text loaded from a row empties") << 1 << "300" << 2 << "";
    }
    void notationSwitches()
    {
        QFETCH(int, from);
        QFETCH(QString, text);
        QFETCH(int, to);
        QFETCH(QString, expected);
        w->findField()->selectNotation(from);
        w->edSearch()->setText(text);
        w->option(0, to)->click(); // the focus is not in the field: no check
        QCOMPARE(w->edSearch()->text(), expected);
        QCOMPARE(int(w->findField()->notation()), to);
        QVERIFY(sink->shown.isEmpty());
    }

    void keyFilter()
    {
        w->edSearch()->setFocus();
        w->findField()->selectNotation(Notation::Hexadecimal);
        QTest::keyClicks(w->edSearch(), QStringLiteral("a0 g;Z,f"));
        QCOMPARE(w->edSearch()->text(), QStringLiteral("a0 ;,f"));
        QCOMPARE(sink->beeps, 2);
        QTest::keyClick(w->edSearch(), Qt::Key_Return);
        QCOMPARE(sink->beeps, 3);
        QTest::keyClick(w->edSearch(), Qt::Key_Backspace);
        QCOMPARE(w->edSearch()->text(), QStringLiteral("a0 ;,"));

        w->findField()->selectNotation(Notation::Characters);
        w->edSearch()->clear();
        w->findField()->selectNotation(Notation::Decimal);
        QTest::keyClicks(w->edSearch(), QStringLiteral("12a 3"));
        QCOMPARE(w->edSearch()->text(), QStringLiteral("12 3"));
        // Paste is not filtered; the check on leaving catches it.
        QGuiApplication::clipboard()->setText(QStringLiteral("xyz"));
        QTest::keyClick(w->edSearch(), Qt::Key_V, Qt::ControlModifier);
        if (QGuiApplication::clipboard()->text() == QStringLiteral("xyz"))
            QCOMPARE(w->edSearch()->text(), QStringLiteral("12 3xyz"));

        // Characters takes everything.
        w->edReplace()->setFocus();
        QTest::keyClicks(w->edReplace(), QStringLiteral("g!"));
        QCOMPARE(w->edReplace()->text(), QStringLiteral("g!"));
    }

    void leavingAnInvalidFieldKeepsTheFocus()
    {
        w->activateWindow();
        w->edSearch()->setFocus();
        w->findField()->selectNotation(Notation::Decimal);
        w->edSearch()->setText(QStringLiteral("12 300 4"));
        QTest::keyClick(w->edSearch(), Qt::Key_Tab);
        QCoreApplication::processEvents();
        QCOMPARE(sink->texts(), QStringList {FieldMessage(QStringLiteral("Find what"), QStringLiteral("300"), Notation::Decimal)});
        QCOMPARE(w->edSearch()->selectionStart(), 3);
        QCOMPARE(w->edSearch()->selectedText(), QStringLiteral("300"));
        QTRY_VERIFY(w->edSearch()->hasFocus());

        // A click on another option while in the field is refused the same way.
        sink->shown.clear();
        w->option(0, Notation::Hexadecimal)->click();
        QCOMPARE(int(w->findField()->notation()), int(Notation::Decimal));
        QVERIFY(w->option(0, Notation::Decimal)->isChecked());
        QCOMPARE(w->edSearch()->text(), QStringLiteral("12 300 4"));
        QCOMPARE(sink->shown.size(), 1);
    }

    void addArgument()
    {
        w->findField()->selectNotation(Notation::Decimal);
        w->edSearch()->setText(QStringLiteral("65,66"));
        w->AddArgument();
        QCOMPARE(w->lvwFind()->rows(), QList<ArgumentRow>({{u"Dec"_s, u"65,66"_s, u"Asc"_s, u""_s}}));
        QCOMPARE(w->edSearch()->text(), QString());
        QCOMPARE(int(w->findField()->notation()), int(Notation::Decimal)); // notations stay

        // Empty find: only the beep.
        w->AddArgument();
        QCOMPARE(sink->beeps, 1);
        QCOMPARE(w->lvwFind()->topLevelItemCount(), 1);

        // Both sides checked, two messages, then the beep.
        w->replaceField()->selectNotation(Notation::Hexadecimal);
        w->edSearch()->setText(QStringLiteral("1,2,999"));
        w->edReplace()->setText(QStringLiteral("G1"));
        w->AddArgument();
        QCOMPARE(sink->texts(),
            QStringList({ArgumentMessage(QStringLiteral("1,2,999"), Notation::Decimal), ArgumentMessage(QStringLiteral("G1"), Notation::Hexadecimal)}));
        QCOMPARE(sink->beeps, 2);
        QCOMPARE(w->edSearch()->text(), QStringLiteral("1,2,999"));

        // With Ctrl held the fields keep their texts; releasing it restores the emptying.
        w->edSearch()->setText(QStringLiteral("1"));
        w->edReplace()->setText(QStringLiteral("0A"));
        QTest::keyPress(w->edSearch(), Qt::Key_Control, Qt::ControlModifier);
        QVERIFY(w->ctrlKeyDown());
        w->AddArgument();
        w->AddArgument();
        QCOMPARE(w->edSearch()->text(), QStringLiteral("1"));
        QTest::keyRelease(w->edSearch(), Qt::Key_Control);
        QVERIFY(!w->ctrlKeyDown());
        w->AddArgument();
        QCOMPARE(w->edSearch()->text(), QString());
        QCOMPARE(w->lvwFind()->topLevelItemCount(), 4);
        QCOMPARE(w->lvwFind()->row(1), w->lvwFind()->row(2)); // duplicates allowed
    }

    void editArgument()
    {
        w->EditArgument();
        QCOMPARE(sink->beeps, 1);
        addRow(u"Dec"_s, u"10 13"_s, u"Hex"_s, u"0A"_s);
        addRow(u"Asc"_s, u"x"_s, u"Asc"_s, u"y"_s);
        w->edSearch()->setText(QStringLiteral("old"));
        w->edReplace()->setText(QStringLiteral("older"));
        setCurrent(0);
        w->EditArgument();
        QCOMPARE(w->edSearch()->text(), QStringLiteral("10 13"));
        QCOMPARE(w->edReplace()->text(), QStringLiteral("0A"));
        QVERIFY(w->option(0, Notation::Decimal)->isChecked());
        QVERIFY(w->option(1, Notation::Hexadecimal)->isChecked());
        QCOMPARE(findTexts(), QStringList {u"x"_s});

        // An unknown type code changes no option.
        addRow(u"Zzz"_s, u"q"_s, u"Zzz"_s, u"r"_s);
        setCurrent(1);
        w->EditArgument();
        QVERIFY(w->option(0, Notation::Decimal)->isChecked());
        QCOMPARE(w->edSearch()->text(), QStringLiteral("q"));
    }

    void removeClearAndMove()
    {
        for (const char *t : {"1", "2", "3", "4", "5"})
            addRow(u"Asc"_s, QString::fromLatin1(t), u"Asc"_s, u""_s);
        w->lvwFind()->topLevelItem(1)->setSelected(true);
        w->lvwFind()->topLevelItem(3)->setSelected(true);
        w->RemoveArguments();
        QCOMPARE(findTexts(), QStringList({u"1"_s, u"3"_s, u"5"_s}));
        QCOMPARE(sink->busyDepth, 0);

        setCurrent(1);
        w->MoveArgumentUp();
        QCOMPARE(findTexts(), QStringList({u"3"_s, u"1"_s, u"5"_s}));
        QVERIFY(w->lvwFind()->topLevelItem(0)->isSelected());
        w->MoveArgumentUp(); // already first
        QCOMPARE(sink->beeps, 1);
        setCurrent(1);
        w->MoveArgumentDown();
        QCOMPARE(findTexts(), QStringList({u"3"_s, u"5"_s, u"1"_s}));
        w->MoveArgumentDown(); // already last
        QCOMPARE(sink->beeps, 2);

        w->ClearArguments();
        QCOMPARE(w->lvwFind()->topLevelItemCount(), 0);
        w->MoveArgumentUp();
        w->MoveArgumentDown();
        QCOMPARE(sink->beeps, 4);
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
        for (const char *t : {"A", "B", "C"})
            addRow(u"Asc"_s, QString::fromLatin1(t), u"Asc"_s, u""_s);
        const QString dragged = findTexts().at(dragIndex - 1);
        w->lvwFind()->DropDraggedRow(dragIndex, under);
        QCOMPARE(findTexts(), expected);
        QCOMPARE(w->lvwFind()->currentItem()->text(1), dragged);
    }

    void collectArguments()
    {
        QVERIFY(w->CollectArguments().isEmpty());
        w->findField()->selectNotation(Notation::Hexadecimal);
        w->edSearch()->setText(QStringLiteral("41"));
        QCOMPARE(w->CollectArguments(), FindReplaceArguments({{2, u"41"_s, 0, u""_s}}));
        addRow(u"Dec"_s, u"1"_s, u"Hex"_s, u"02"_s);
        addRow(u"bad"_s, u"x"_s, u"Hex"_s, u""_s);
        QCOMPARE(w->CollectArguments(), FindReplaceArguments({{2, u"41"_s, 0, u""_s}, {1, u"1"_s, 2, u"02"_s}, {0, u"x"_s, 2, u""_s}}));
        // Separators only are not empty: the record comes first.
        w->findField()->selectNotation(Notation::Decimal);
        w->edSearch()->setText(QStringLiteral(" ,"));
        QCOMPARE(w->CollectArguments().first(), FindReplaceArgument({1, u" ,"_s, 0, u""_s}));
    }

    void progressScale()
    {
        ProgressScale scale;
        scale.initialize(10000);
        QCOMPARE(scale.step(), 101.0);
        QCOMPARE(scale.update(4096), std::optional<int>(41));
        QCOMPARE(scale.update(8192), std::optional<int>(82));
        QCOMPARE(scale.update(10000), std::optional<int>(100));

        scale.initialize(250);
        QCOMPARE(scale.step(), 3.0);
        QCOMPARE(scale.update(3), std::nullopt); // equal is not enough
        QCOMPARE(scale.update(250), std::optional<int>(100));

        scale.initialize(0);
        QCOMPARE(scale.update(0), std::nullopt);

        // Halves go to the even neighbour: 200 * 0.125 -> 12.5 -> 12.
        scale.initialize(800);
        QCOMPARE(scale.update(100), std::optional<int>(12));
    }

    void progressWindowCancelAndClose()
    {
        ProgressWindow progress(w.get(), *sink);
        progress.Initialize(10000);
        progress.show();
        progress.Update(4096);
        QCOMPARE(progress.progressBar()->value(), 41);

        sink->answers = {MessageSink::Answer::No};
        progress.cancelButton()->click();
        QVERIFY(!progress.cancelFlag());
        QCOMPARE(sink->shown.last().text, CancelQuestion());
        QCOMPARE(sink->shown.last().icon, MessageSink::Icon::Question);
        QCOMPARE(sink->shown.last().buttons, MessageSink::Buttons::YesNo);

        sink->answers = {MessageSink::Answer::Yes};
        QVERIFY(!progress.close());
        QVERIFY(progress.isVisible());
        QVERIFY(progress.cancelFlag());
        QTest::keyClick(&progress, Qt::Key_Escape);
        QVERIFY(progress.isVisible());
        QCOMPARE(sink->shown.size(), 3);

        progress.unload();
        QVERIFY(!progress.isVisible());
    }

    void progressLabelFitting()
    {
        ProgressWindow progress(w.get(), *sink);
        const QString longPath
            = QStringLiteral("/data/") + QString(60, QLatin1Char('p')) + QStringLiteral("/old/") + QString(40, QLatin1Char('q')) + QStringLiteral("/file.bin");
        progress.setStatus1(longPath);
        const QString shown = progress.status1()->text();
        QVERIFY(shown.startsWith(QStringLiteral("/...")));
        QVERIFY(shown.endsWith(QStringLiteral("file.bin")));
        QVERIFY(shown.size() < longPath.size());
        const QString single = QStringLiteral("/") + QString(300, QLatin1Char('x'));
        progress.setStatus2(single);
        QCOMPARE(progress.status2()->text(), single); // one "/" only: unchanged
        progress.setStatus1(QStringLiteral("/a/b"));
        QCOMPARE(progress.status1()->text(), QStringLiteral("/a/b"));
    }

    void countThroughTheWindow()
    {
        QTemporaryDir dir;
        const QString a = perrox::test::WriteFileIn(dir.path(), QStringLiteral("a.txt"), "xx-xx-x");
        const QString b = perrox::test::WriteFileIn(dir.path(), QStringLiteral("b.txt"), "none");
        w->AddFileToList(a);
        w->AddFileToList(b);
        w->UpdateCommands();
        w->edSearch()->setText(QStringLiteral("x"));
        bool disabledDuringRun = false;
        QString caption;
        w->onRunStarted = [&](ProgressWindow *p) {
            disabledDuringRun = !w->isEnabled() && p->isEnabled();
            caption = p->windowTitle();
        };
        const RunResult result = w->ProcessFiles(RunMode::Count);
        QCOMPARE(result.end, RunResult::End::Completed);
        QVERIFY(disabledDuringRun);
        QCOMPARE(caption, QStringLiteral("Counting..."));
        QCOMPARE(w->lvwFiles()->topLevelItem(0)->text(1), QStringLiteral("       5"));
        QCOMPARE(w->lvwFiles()->topLevelItem(1)->text(1), QStringLiteral("       0"));
        QVERIFY(w->isEnabled());
        QTRY_VERIFY(!w->progressWindow());
        QCOMPARE(perrox::test::ReadFile(a), QByteArray("xx-xx-x"));
        QCOMPARE(QDir(dir.path()).entryList(QDir::Files).size(), 2);

        // A cancel confirmed from the progress window stops the run.
        sink->answers = {MessageSink::Answer::Yes};
        w->setEventPumpInterval(0);
        w->lvwFiles()->topLevelItem(0)->setText(1, QStringLiteral("old"));
        w->onRunStarted = [](ProgressWindow *p) { p->askCancel(); };
        QCOMPARE(w->ProcessFiles(RunMode::Count).end, RunResult::End::Cancelled);
        QCOMPARE(w->lvwFiles()->topLevelItem(0)->text(1), QStringLiteral("old"));
        QVERIFY(w->isEnabled());
    }
};

QTEST_MAIN(TestMainWindow)
#include "tst_mainwindow.moc"
