// The main window's Find and Replace fields as the user types, pastes, leaves them and switches their notations; the
// window's layout; what it keeps between starts (notations, folders, masks, recent argument files, placement); Help.

#include "base/twips.h"
#include "base/widgetsupport.h"
#include "support/windowfixture.h"

#include <QApplication>
#include <QClipboard>
#include <QGroupBox>
#include <QMenuBar>
#include <QScopeGuard>

using namespace perrox;
using namespace perrox::test;
using namespace Qt::StringLiterals;

namespace {

// What a window shows of its preferences: each side's notation (with "?" when its option is not checked), the find
// end tag, the Add and Save As folders, the masks, the five recent entries ("-" when hidden) and their separator.
QStringList Restored(const WindowFixture &g)
{
    QStringList shown;
    for (int side : {0, 1})
        shown << QString::number(Info(g.field(side)->notation()).number) + (g.option(side, g.field(side)->notation())->isChecked() ? u""_s : u"?"_s);
    const Preferences &p = g.w->preferences();
    shown << p.tags.findEndTag << p.addDir << g.w->replaceAsSettings().outpath
          << QStringList {p.masks.includeDirectories, p.masks.excludeDirectories, p.masks.includeFiles, p.masks.excludeFiles}.join(u'|');
    for (int k = 1; k <= 5; ++k)
        shown << (g.action(u"IDM_FILE_FILE%1"_s.arg(k))->isVisible() ? g.action(u"IDM_FILE_FILE%1"_s.arg(k))->text() : u"-"_s);
    return shown << (g.action(u"IDM_FILE_SPACE3"_s)->isVisible() ? u"separator"_s : u"-"_s);
}

struct SwitchCase
{
    const char *name;
    Notation from;
    QString text;
    Notation to;
    QString expected; // refused: the text stays and the option goes back
    QString refusal = {};
};
const SwitchCase kSwitches[] = {
    {"Dec to Hex", Notation::Decimal, u"10,13"_s, Notation::Hexadecimal, u"0A 0D "_s},
    {"Hex to Asc with NUL", Notation::Hexadecimal, u"41 00 42"_s, Notation::Characters, u"A"_s + QChar(0) + u"B"_s},
    {"Hex E9 to UTF-8 refused", Notation::Hexadecimal, u"E9"_s, Notation::Utf8, u"E9"_s, u"The value 'E9' at byte 1 is not valid UTF-8."_s},
    {"Asc to UTF-8 refused", Notation::Characters, u"caf\u00e9"_s, Notation::Utf8, u"caf\u00e9"_s, u"The value 'E9' at byte 4 is not valid UTF-8."_s},
};

} // namespace

class TestWindowFields : public WindowTest
{
    Q_OBJECT

private slots:
    void notationSwitches_data() { AddRows(kSwitches); }
    void notationSwitches()
    {
        QFETCH(int, row);
        const SwitchCase &c = kSwitches[row];
        f->field(0)->selectNotation(c.from);
        f->edSearch()->setText(c.text);
        f->option(0, c.to)->click(); // the focus is not in the field: no check
        const Notation now = c.refusal.isEmpty() ? c.to : c.from;
        QCOMPARE(f->edSearch()->text(), c.expected);
        QCOMPARE(f->field(0)->notation(), now);
        QVERIFY(f->option(0, now)->isChecked());
        QCOMPARE(sink().texts(), c.refusal.isEmpty() ? QStringList() : QStringList {c.refusal});
        if (!c.refusal.isEmpty())
            QCOMPARE(std::pair(sink().shown[0].icon, sink().shown[0].buttons), std::pair(MessageSink::Icon::Exclamation, MessageSink::Buttons::Ok));
        // The program's switch is never refused: bytes that are no UTF-8 text give the empty text.
        f->field(0)->selectNotation(c.from);
        f->edSearch()->setText(c.text);
        f->field(0)->selectNotation(c.to);
        QCOMPARE(f->edSearch()->text(), c.refusal.isEmpty() ? c.expected : QString());
        QCOMPARE(sink().shown.size(), c.refusal.isEmpty() ? 0 : 1);
    }

    // An option per notation in each frame in the design's order and spacing, side by side inside the frame; no two
    // mnemonics of the window's buttons, frames and menu bar are alike.
    void notationOptions()
    {
        const double tpp = ScreenTwipsPerPixel();
        QStringList captions;
        for (int side : {0, 1}) {
            QWidget *frame = f->child(side ? u"frmReplace"_s : u"frmFind"_s);
            QCOMPARE(frame->findChildren<QRadioButton *>().size(), qsizetype(kNotationCount));
            int right = -1;
            for (const NotationInfo &n : kNotations) {
                QRadioButton *o = f->option(side, n.notation);
                QCOMPARE(o->parent(), frame);
                QCOMPARE_GT(o->x(), right);
                QCOMPARE_LT(o->geometry().right(), frame->width());
                QCOMPARE_GE(o->width(), o->sizeHint().width());
                QCOMPARE(o->x(), TwipsToPixels(std::array {120, 1050, 1995, 2940}[Index(n.notation)], tpp));
                QCOMPARE(o->toolTip(), n.description);
                right = o->geometry().right();
                captions << o->text();
            }
        }
        QCOMPARE(captions, QStringList({u"Asc"_s, u"Dec"_s, u"Hex"_s, u"&UTF-8"_s, u"Asc"_s, u"Dec"_s, u"Hex"_s, u"UTF-&8"_s}));
        for (QAbstractButton *b : f->w->findChildren<QAbstractButton *>())
            captions << b->text();
        for (QGroupBox *g : f->w->findChildren<QGroupBox *>())
            captions << g->title();
        for (QAction *a : f->w->menuBar()->actions())
            captions << a->text();
        QList<QKeySequence> mnemonics;
        for (const QString &caption : captions)
            mnemonics << QKeySequence::mnemonic(caption);
        mnemonics.removeAll(QKeySequence());
        QCOMPARE(QSet(mnemonics.begin(), mnemonics.end()).size(), 11); // the Replace buttons, frames, UTF-8 options, five menus
    }

    void minimumSizeAndWidening()
    {
        const double tpp = ScreenTwipsPerPixel();
        f->w->resize(TwipsToPixels(6000, tpp), TwipsToPixels(5000, tpp));
        QCoreApplication::processEvents();
        QCOMPARE(f->w->frameGeometry().size(), QSize(TwipsToPixels(9555, tpp), TwipsToPixels(5500, tpp)));
        // Widening goes to the wide columns: the file column and half each to Find and Replace; Count stays 60 pixels.
        const auto widths = [&](int width) {
            f->w->resize(width, 450);
            QCoreApplication::processEvents();
            FileListView *files = f->files();
            ArgumentListView *args = f->args();
            return QList<int> {files->width(), files->columnWidth(0), files->columnWidth(1), args->width(), args->columnWidth(1), args->columnWidth(3)};
        };
        const QList<int> narrow = widths(650), wide = widths(800);
        const int half = (wide[3] - narrow[3]) / 2;
        QCOMPARE(narrow[2], 60);
        QCOMPARE(wide, (QList<int> {narrow[0] + 150, narrow[1] + 150, 60, wide[3], narrow[4] + half, narrow[4] + half}));
    }

    // Typed characters by notation: a character Windows-1252 lacks beeps in Characters, UTF-8 takes everything.
    void typedCharacters_data()
    {
        QTest::addColumn<Notation>("notation");
        QTest::addColumn<QString>("typed");
        QTest::addColumn<QString>("kept");
        const QString mixed = u"\u00e9\u20ac\u0416\u2192\U0001F600g!"_s; // é € Ж → emoji g !
        const std::pair<QString, QString> cases[] = {{mixed, u"\u00e9\u20acg!"_s}, {u"7\u00e9 g,"_s, u"7 ,"_s}, {u"f\u0416;Z"_s, u"f;"_s}, {mixed, mixed}};
        static_assert(std::size(cases) == kNotationCount);
        for (const NotationInfo &n : kNotations)
            QTest::newRow(qPrintable(QString(n.code))) << n.notation << cases[Index(n.notation)].first << cases[Index(n.notation)].second;
    }
    void typedCharacters()
    {
        QFETCH(Notation, notation);
        QFETCH(QString, typed);
        QFETCH(QString, kept);
        QLineEdit *ed = f->edReplace();
        f->field(1)->selectNotation(notation);
        ed->setFocus();
        for (qsizetype i = 0, n; i < typed.size(); i += n) {
            n = typed.at(i).isHighSurrogate() ? 2 : 1;
            QKeyEvent press(QEvent::KeyPress, Qt::Key_unknown, Qt::NoModifier, typed.mid(i, n));
            QApplication::sendEvent(ed, &press);
        }
        QCOMPARE(ed->text(), kept);
        QCOMPARE(sink().beeps, int(typed.toUcs4().size() - kept.toUcs4().size()));
    }

    // Keys that type no character pass the filter whatever text the platform gives them (X11 gives Delete "\x7f"), as
    // do Backspace and the clipboard keys; a paste is not filtered (the check on leaving catches it). Return beeps.
    void editingKeysPass_data()
    {
        QTest::addColumn<int>("side");
        QTest::addColumn<Notation>("notation");
        for (int side : {0, 1})
            for (const Notation notation : {Notation::Hexadecimal, Notation::Decimal})
                QTest::addRow("%s, %s", side ? "Replace" : "Find", qPrintable(QString(Info(notation).code))) << side << notation;
    }
    void editingKeysPass()
    {
        QFETCH(int, side);
        QFETCH(Notation, notation);
        QLineEdit *ed = side ? f->edReplace() : f->edSearch();
        f->field(side)->selectNotation(notation);
        ed->setFocus();
        const bool dec = notation == Notation::Decimal;
        ed->setText(dec ? u"10 11"_s : u"0A 0B"_s);
        ed->setCursorPosition(0);
        QStringList seen; // text@cursor after each key
        const auto state = [&] { seen << u"%1@%2"_s.arg(ed->text()).arg(ed->cursorPosition()); };
        QTest::keyClick(ed, Qt::Key_Delete);
        state();
        QKeyEvent x11Delete(QEvent::KeyPress, Qt::Key_Delete, Qt::NoModifier, QString(QChar(0x7f)));
        QApplication::sendEvent(ed, &x11Delete);
        state();
        for (Qt::Key key : {Qt::Key_End, Qt::Key_Backspace, Qt::Key_Left, Qt::Key_Home, Qt::Key_Right, Qt::Key_Return}) {
            QTest::keyClick(ed, key);
            state();
        }
        const QString first = dec ? u"0 11"_s : u"A 0B"_s, rest = dec ? u" 11"_s : u" 0B"_s, cut = dec ? u" 1"_s : u" 0"_s;
        QCOMPARE(
            seen, (QStringList {first + u"@0"_s, rest + u"@0"_s, rest + u"@3"_s, cut + u"@2"_s, cut + u"@1"_s, cut + u"@0"_s, cut + u"@1"_s, cut + u"@1"_s}));
        QCOMPARE(sink().beeps, 1);
        QGuiApplication::clipboard()->setText(u"xyz"_s);
        QTest::keyClick(ed, Qt::Key_V, Qt::ControlModifier);
        if (QGuiApplication::clipboard()->text() == u"xyz"_s)
            QCOMPARE(ed->text(), u" xyz"_s + cut.mid(1));
        QCOMPARE(sink().beeps, 1);
    }

    // Leaving a field whose text is invalid reports the first invalid value and selects it, the focus stays; so does a
    // click on another option. Characters outside Windows-1252 get into a Characters field by a paste.
    void leavingAnInvalidFieldKeepsTheFocus_data()
    {
        QTest::addColumn<Notation>("notation");
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("token");
        QTest::addColumn<QString>("message");
        QTest::newRow("decimal beyond 255") << Notation::Decimal << u"12 300 4"_s << u"300"_s << FieldMessage(u"Find what"_s, u"300"_s, Notation::Decimal);
        for (const QString &c : {u"\u0416"_s, u"\U0001F600"_s}) // Cyrillic; an emoji, a surrogate pair
            QTest::newRow(qPrintable(c)) << Notation::Characters << u"\u00e9"_s + c + u"b"_s + c << c
                                         << u"An invalid value found in the 'Find what' field: %1\r\n\r\nCharacters are the 256 characters of Windows-1252; "
                                            u"choose the UTF-8 notation for any other character."_s.arg(c);
    }
    void leavingAnInvalidFieldKeepsTheFocus()
    {
        QFETCH(Notation, notation);
        QFETCH(QString, text);
        QFETCH(QString, token);
        QFETCH(QString, message);
        QLineEdit *ed = f->edSearch();
        ed->setFocus();
        f->field(0)->selectNotation(notation);
        ed->insert(text); // as Ctrl+V pastes, past the key filter
        QTest::keyClick(ed, Qt::Key_Tab);
        QCOMPARE(sink().texts(), QStringList {message});
        QTRY_COMPARE(ed->selectedText(), token); // once the focus is back
        QVERIFY(ed->hasFocus());
        QCOMPARE(ed->selectionStart(), text.indexOf(token));
        f->option(0, Notation::Hexadecimal)->click();
        QCOMPARE(f->field(0)->notation(), notation);
        QVERIFY(f->option(0, notation)->isChecked());
        QCOMPARE(ed->text(), text);
        QCOMPARE(sink().shown.size(), 2);
        QCOMPARE(sink().beeps, 0);
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
        QCOMPARE(Restored(*f), QStringList({u"0"_s, u"0"_s, u"</FIND>"_s, QString(), QString(), u"|||"_s, u"-"_s, u"-"_s, u"-"_s, u"-"_s, u"-"_s, u"-"_s}));
        f->field(0)->selectNotation(Notation::Decimal);
        f->field(1)->selectNotation(Notation::Utf8);
        f->w->preferences().addDir = u"/data/in; \"quoted\", = ü"_s;
        f->w->replaceAsSettings().outpath = u"/data/out"_s;
        f->w->preferences().masks = {u"src*;lib"_s, u".git"_s, u"*.txt;*.md"_s, u"*~"_s};
        f->w->AddRecentFile(u"/args/one.txt"_s);
        f->w->AddRecentFile(u"/args/two.txt"_s);
        QVERIFY(!QFile::exists(prefs())); // nothing is written while the program runs
        if (byMenu)
            f->trigger(u"IDM_EXIT"_s);
        else
            QVERIFY(f->w->close());
        QVERIFY(!f->w->isVisible());
        QCOMPARE(QStringList({stored(u"FindType"_s), stored(u"WindowState"_s), stored(u"FindEndTag"_s), stored(u"RecentFile1"_s)}),
            QStringList({u"1"_s, u"0"_s, u"</FIND>"_s, u"/args/two.txt"_s}));
        QCOMPARE(Restored(WindowFixture(prefs(), false)),
            QStringList({u"1"_s, u"3"_s, u"</FIND>"_s, u"/data/in; \"quoted\", = ü"_s, u"/data/out"_s, u"src*;lib|.git|*.txt;*.md|*~"_s, u"two.txt"_s,
                u"one.txt"_s, u"-"_s, u"-"_s, u"-"_s, u"separator"_s}));
    }

    void placementIsRestoredAndKeptWhileMaximized()
    {
        f.reset();
        const double tpp = ScreenTwipsPerPixel();
        seed({{u"WindowLeft"_s, u"-300"_s}, {u"WindowTop"_s, u"1500"_s}, {u"WindowWidth"_s, u"9600"_s}, {u"WindowHeight"_s, u"7500"_s},
            {u"WindowState"_s, u"1"_s}, {u"RecentFile1"_s, u"/a/first.txt"_s}, {u"RecentFile2"_s, u"/b/second.txt"_s}});
        {
            WindowFixture g(prefs());
            QVERIFY(!g.w->isMinimized()); // never starts minimized
            QCOMPARE(g.w->frameGeometry().topLeft(), QPoint(0, TwipsToPixels(1500, tpp))); // a negative left becomes 0
            QTRY_COMPARE(g.w->frameGeometry().width(), TwipsToPixels(9600, tpp)); // once the frame has settled
            QCOMPARE(Restored(g).mid(6), QStringList({u"first.txt"_s, u"second.txt"_s, u"-"_s, u"-"_s, u"-"_s, u"separator"_s}));
            g.w->showMaximized();
            QTRY_VERIFY(g.w->isMaximized());
            g.w->close();
        }
        // Maximized: the state is stored, the bounds keep the last normal placement.
        QCOMPARE(QStringList({stored(u"WindowState"_s), stored(u"WindowLeft"_s), stored(u"WindowWidth"_s)}), QStringList({u"2"_s, u"-300"_s, u"9600"_s}));
        WindowFixture again(prefs());
        QTRY_VERIFY(again.w->isMaximized());
    }

    // Help opens help.txt of the program's folder through the desktop, and says so when no program opens it.
    void helpThatNoProgramOpensIsReported()
    {
        const QString help = QCoreApplication::applicationDirPath() + u"/help.txt"_s;
        const bool made = !QFile::exists(help); // unless the build copied one
        QVERIFY(!made || WriteFile(help, "help"));
        const auto removeMade = qScopeGuard([&] { made &&QFile::remove(help); });
        f->dialogs.urlOpens = false;
        f->trigger(u"IDM_HELP"_s);
        QCOMPARE(f->dialogs.asked, QStringList {u"url "_s + QUrl::fromLocalFile(help).toString()});
        QCOMPARE(sink().texts(),
            QStringList {
                u"Cannot open the help file\r"_s + help + u"\r\rThe desktop has no program to open text files. Open the file \rwith a text editor."_s});
    }
};

QTEST_MAIN(TestWindowFields)
#include "tst_window_fields.moc"
