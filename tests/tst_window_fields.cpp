// The main window's Find and Replace fields as the user types, pastes, leaves them and switches their notations; the
// window's layout; what it keeps between starts (notations, folders, masks, recent argument files, state); Help.

#include "base/twips.h"
#include "base/widgetsupport.h"
#include "support/windowfixture.h"

#include <QApplication>
#include <QCheckBox>
#include <QClipboard>
#include <QSettings>
#include <QSplitter>

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

// Keys in the Replace field (Characters, Hexadecimal) or the Find field: the name, the notation, the start text (two
// values; the editing keys cut it to a blank and the second's first character), the beeps of Return (where the
// notation has no such character), what is typed and what is kept (a character the notation lacks beeps):
const QString kMixed = u"\u00e9\u20ac\u0416\u2192\U0001F600g!"_s; // é € Ж → emoji g !
const std::tuple<const char *, Notation, QString, int, QString, QString> kKeys[] = {
    {"Asc", Notation::Characters, u"ab c"_s, 0, kMixed, u"\u00e9\u20acg!"_s},
    {"Dec", Notation::Decimal, u"10 11"_s, 1, u"7\u00e9 g,"_s, u"7 ,"_s},
    {"Hex", Notation::Hexadecimal, u"0A 0B"_s, 1, u"f\u0416;Z"_s, u"f;"_s},
    {"UTF-8", Notation::Utf8, u"ab c"_s, 0, kMixed, kMixed},
};

} // namespace

class TestWindowFields : public WindowTest
{
    Q_OBJECT

private slots:
    // A click on another option converts the text; while the focus is not in the field, a switch that cannot write
    // the text's bytes is refused with a message, and the text and the option stay.
    void notationSwitches()
    {
        const std::tuple<Notation, QString, Notation, QString, QString> cases[] = {// from, text, to, text afterwards, refusal
            {Notation::Decimal, u"10,13"_s, Notation::Hexadecimal, u"0A 0D "_s, {}},
            {Notation::Hexadecimal, u"E9"_s, Notation::Utf8, u"E9"_s, u"The value 'E9' at byte 1 is not valid UTF-8."_s},
            {Notation::Characters, u"caf\u00e9"_s, Notation::Utf8, u"caf\u00e9"_s, u"The value 'E9' at byte 4 is not valid UTF-8."_s}};
        for (const auto &[from, text, to, converted, refusal] : cases) {
            sink().shown.clear();
            f->field(0)->selectNotation(from);
            f->edSearch()->setText(text);
            QTest::mouseClick(f->option(0, to), Qt::LeftButton);
            const Notation now = refusal.isEmpty() ? to : from;
            QCOMPARE(f->edSearch()->text(), converted);
            QCOMPARE(f->field(0)->notation(), now);
            QVERIFY(f->option(0, now)->isChecked());
            QCOMPARE(sink().texts(), refusal.isEmpty() ? QStringList() : QStringList {refusal});
            for (const RecordingSink::Shown &shown : sink().shown)
                QCOMPARE(std::pair(shown.icon, shown.buttons), std::pair(MessageSink::Icon::Exclamation, MessageSink::Buttons::Ok));
        }
    }

    // The window's least size, and where widening goes: to the file column and half each to Find and Replace; Count
    // stays 60 pixels. The notation options stand side by side inside their frames, none cut off.
    void layoutAndHelp()
    {
        const double tpp = ScreenTwipsPerPixel();
        f->w->resize(TwipsToPixels(6000, tpp), TwipsToPixels(5000, tpp));
        QCoreApplication::processEvents();
        QCOMPARE(f->w->frameGeometry().size(), QSize(TwipsToPixels(9555, tpp), TwipsToPixels(5815, tpp)));
        const auto widths = [&](int width) {
            f->w->resize(width, 450);
            QCoreApplication::processEvents();
            return QList<int> {f->files()->width(), f->files()->columnWidth(0), f->files()->columnWidth(1), f->args()->width(), f->args()->columnWidth(1),
                f->args()->columnWidth(3)};
        };
        const QList<int> narrow = widths(650), wide = widths(800);
        const int half = (wide[3] - narrow[3]) / 2;
        QCOMPARE(narrow[2], 60);
        QCOMPARE(wide, (QList<int> {narrow[0] + 150, narrow[1] + 150, 60, wide[3], narrow[4] + half, narrow[4] + half}));
        for (int side : {0, 1}) {
            for (int right = -1; const NotationInfo &n : kNotations) {
                if (!TakesReplaceSide(n.notation) && side == 1)
                    continue;
                QRadioButton *o = f->option(side, n.notation);
                if (n.optionTop != kNotations[0].optionTop)
                    right = -1; // the row below the field
                QCOMPARE_GT(o->x(), right);
                QCOMPARE_LT(o->geometry().right(), o->parentWidget()->width());
                QCOMPARE_GE(o->width(), o->sizeHint().width());
                right = o->geometry().right();
            }
        }
        // Help opens help.txt of the program's folder through the desktop, or says it is not there.
        f->trigger(u"IDM_HELP"_s);
        const QStringList said = f->dialogs.asked + sink().texts();
        QCOMPARE(said.size(), 1);
        QVERIFY2(said[0].contains(QCoreApplication::applicationDirPath() + u"/help.txt"_s), qPrintable(said[0]));
    }

    // Below the find field: Regex, Match case (only where a find can fold case) and Whole word, clicked; a pair shows
    // them in the list and gives them back to the fields. A pattern is checked whole, PCRE2's message naming the place
    // it selects; a switch to or from Regex keeps the text; a wildcard is a find's only.
    void matchingAndPatterns()
    {
        QCheckBox *matchCase = f->child<QCheckBox>(u"chkMatchCase"_s), *wholeWord = f->child<QCheckBox>(u"chkWholeWord"_s);
        const auto click = [](QAbstractButton *b) { QTest::mouseClick(b, Qt::LeftButton, {}, QPoint(4, b->height() / 2)); };
        QCOMPARE(std::tuple(matchCase->isChecked(), wholeWord->isChecked(), f->w->findChild<QRadioButton *>(u"optRgx2"_s)),
            std::tuple(true, false, static_cast<QRadioButton *>(nullptr)));
        QStringList enabled;
        for (Notation n : {Notation::Characters, Notation::Decimal, Notation::Hexadecimal, Notation::Utf8}) {
            click(f->option(0, n));
            enabled << QString::number(matchCase->isEnabled());
        }
        QCOMPARE(enabled.join(u' '), u"1 0 0 1"_s);
        f->edSearch()->setText(u"41 ??"_s);
        click(f->option(0, Notation::Regex));
        QCOMPARE(std::pair(f->edSearch()->text(), f->field(0)->notation()), std::pair(u"41 ??"_s, Notation::Regex));
        f->edSearch()->setText(u"c(a)t"_s);
        f->edReplace()->setText(u"d$1g"_s);
        const auto toggle = [&] { click(matchCase), click(wholeWord); };
        toggle();
        f->click(u"cmdAddParam"_s);
        QCOMPARE(f->args()->rows(), (QList<ArgumentRow> {{u"Rgx i w"_s, u"c(a)t"_s, u"Asc"_s, u"d$1g"_s}}));
        toggle();
        f->setCurrentRow(0);
        f->trigger(u"IDM_ARG_EDIT"_s);
        QCOMPARE(std::tuple(f->edSearch()->text(), f->field(0)->notation(), matchCase->isChecked(), wholeWord->isChecked()),
            std::tuple(u"c(a)t"_s, Notation::Regex, false, true));
        // Invalid texts: the part PCRE2 points at, and a wildcard in the replacement.
        f->edSearch()->setFocus();
        f->edSearch()->setText(u"a)b"_s);
        QTest::keyClick(f->edSearch(), Qt::Key_Tab);
        QTRY_COMPARE(f->edSearch()->selectionStart(), 1);
        QCOMPARE(sink().texts().value(0), FieldMessage(u"Find what"_s, u"unmatched closing parenthesis at character 2"_s, Notation::Regex));
        f->edSearch()->setText(u"ab"_s);
        f->edReplace()->clear();
        f->field(1)->selectNotation(Notation::Hexadecimal);
        f->edReplace()->setFocus();
        QTest::keyClicks(f->edReplace(), u"41 ?"_s);
        f->edReplace()->insert(u"??"_s); // as a paste does
        QCOMPARE(std::pair(f->edReplace()->text(), sink().beeps), std::pair(u"41 ??"_s, 1));
        QTest::keyClick(f->edReplace(), Qt::Key_Tab);
        QTRY_COMPARE(f->edReplace()->selectedText(), u"??"_s);
        QCOMPARE(sink().texts().value(1), FieldMessage(u"Replace with"_s, u"??"_s, Notation::Hexadecimal));
    }

    // Keys that type no character pass the filter whatever text the platform gives them (X11 gives Delete "\x7f"), as
    // do Backspace and the clipboard keys: a paste is not filtered (the check on leaving catches it).
    void keysByNotation_data() { AddRows(kKeys); }
    void keysByNotation()
    {
        QFETCH(int, row);
        const auto &[name, notation, start, returnBeeps, typed, kept] = kKeys[row];
        const int side = 1 - row % 2;
        f->field(side)->selectNotation(notation);
        QLineEdit *ed = side ? f->edReplace() : f->edSearch();
        ed->setFocus();
        ed->setText(start);
        ed->setCursorPosition(0);
        QStringList seen, expected; // text@cursor after each key
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
        const QString rest = start.mid(2), cut = rest.chopped(1);
        for (const auto &[text, at] : {std::pair {start.mid(1), 0}, {rest, 0}, {rest, int(rest.size())}, {cut, int(cut.size())}, {cut, int(cut.size()) - 1},
                 {cut, 0}, {cut, 1}, {cut, 1}})
            expected << u"%1@%2"_s.arg(text).arg(at);
        QCOMPARE(seen, expected);
        QCOMPARE(sink().beeps, returnBeeps);
        QGuiApplication::clipboard()->setText(u"xyz"_s);
        QTest::keyClick(ed, Qt::Key_V, Qt::ControlModifier);
        if (QGuiApplication::clipboard()->text() == u"xyz"_s)
            QCOMPARE(ed->text(), cut.left(1) + u"xyz"_s + cut.mid(1));
        ed->clear();
        for (qsizetype i = 0, n; i < typed.size(); i += n) {
            n = typed.at(i).isHighSurrogate() ? 2 : 1;
            QKeyEvent press(QEvent::KeyPress, Qt::Key_unknown, Qt::NoModifier, typed.mid(i, n));
            QApplication::sendEvent(ed, &press);
        }
        QCOMPARE(ed->text(), kept);
        QCOMPARE(sink().beeps, int(returnBeeps + typed.toUcs4().size() - kept.toUcs4().size()));
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
        QTest::mouseClick(f->option(0, Notation::Hexadecimal), Qt::LeftButton); // its release is not taken as a click either
        QCOMPARE(std::tuple(f->field(0)->notation(), f->option(0, notation)->isChecked(), ed->text(), sink().shown.size(), sink().beeps),
            std::tuple(notation, true, text, qsizetype(2), 0));
    }

    // Everything is stored when the window closes, by File > Exit or the close box, and nothing before; maximized, the
    // state is stored and the bounds are not (they keep the last normal placement, none yet here).
    void roundTripThroughExitAndCloseBox_data()
    {
        QTest::addColumn<bool>("byMenu");
        QTest::newRow("File > Exit") << true;
        QTest::newRow("close box, maximized") << false;
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
        const QString width = QString::number(f->w->frameGeometry().width() * ScreenTwipsPerPixel());
        if (!byMenu)
            f->w->showMaximized();
        QTRY_COMPARE(f->w->isMaximized(), !byMenu);
        QVERIFY(!QFile::exists(prefs()));
        if (byMenu)
            f->trigger(u"IDM_EXIT"_s);
        else
            QVERIFY(f->w->close());
        QVERIFY(!f->w->isVisible());
        QCOMPARE(QStringList({stored(u"FindType"_s), stored(u"WindowState"_s), stored(u"WindowWidth"_s), stored(u"FindEndTag"_s), stored(u"RecentFile1"_s)}),
            QStringList({u"1"_s, byMenu ? u"0"_s : u"2"_s, byMenu ? width : QString(), u"</FIND>"_s, u"/args/two.txt"_s}));
        WindowFixture again(prefs());
        QCOMPARE(Restored(again),
            QStringList({u"1"_s, u"3"_s, u"</FIND>"_s, u"/data/in; \"quoted\", = ü"_s, u"/data/out"_s, u"src*;lib|.git|*.txt;*.md|*~"_s, u"two.txt"_s,
                u"one.txt"_s, u"-"_s, u"-"_s, u"-"_s, u"separator"_s}));
        QTRY_COMPARE(again.w->isMaximized(), !byMenu);
    }

    // The boundary between the argument list and the file list is dragged with the mouse: the argument list grows by
    // as much (never below its design height, nor so far that the file list goes), the file list keeps to the gap
    // below it and to the status bar, and the next start has it where it was left. Drag in pixels, then the growth.
    void splitterDraggedAndRemembered_data()
    {
        QTest::addColumn<int>("drag");
        QTest::addColumn<int>("growth"); // -1: as far as the file list allows
        QTest::newRow("down") << 60 << 60;
        QTest::newRow("up, stops at the design height") << -40 << 0;
        QTest::newRow("far down") << 2000 << -1;
    }
    void splitterDraggedAndRemembered()
    {
        QFETCH(int, drag);
        QFETCH(int, growth);
        auto *splitter = f->child<QSplitter>(u"splArguments"_s);
        const int design = f->args()->height(), gap = f->files()->mapTo(f->w.get(), QPoint()).y() - f->args()->mapTo(f->w.get(), QPoint(0, design)).y();
        const int filesBottom = f->files()->mapTo(f->w.get(), QPoint(0, f->files()->height())).y();
        QCOMPARE(design, TwipsToPixels(1455, ScreenTwipsPerPixel()));
        QSplitterHandle *handle = splitter->handle(1);
        const QPoint at = handle->rect().center();
        QTest::mousePress(handle, Qt::LeftButton, {}, at);
        QTest::mouseMove(handle, at + QPoint(0, drag));
        QTest::mouseRelease(handle, Qt::LeftButton, {}, at + QPoint(0, drag));
        const int grown = f->args()->height() - design;
        if (growth >= 0) {
            QCOMPARE(grown, growth);
        } else {
            QCOMPARE_GT(grown, 0);
            QCOMPARE(f->files()->height(), f->files()->minimumSizeHint().height());
        }
        QCOMPARE(f->files()->mapTo(f->w.get(), QPoint()).y() - f->args()->mapTo(f->w.get(), QPoint(0, f->args()->height())).y(), gap);
        QCOMPARE(f->files()->mapTo(f->w.get(), QPoint(0, f->files()->height())).y(), filesBottom);
        QCOMPARE(f->args()->width(), f->child<QWidget>(u"frmReplace"_s)->geometry().right() + 1 - f->child<QWidget>(u"frmFind"_s)->x());
        QVERIFY(f->w->close());
        QCOMPARE(
            QSettings(prefs(), QSettings::NativeFormat).value(u"Window/ArgumentListHeight"_s).toDouble(), PixelsToTwips(design + grown, ScreenTwipsPerPixel()));
        WindowFixture again(prefs());
        QCOMPARE(again.args()->height(), design + grown);
        QCOMPARE(again.files()->mapTo(again.w.get(), QPoint()).y() - again.args()->mapTo(again.w.get(), QPoint(0, design + grown)).y(), gap);
    }
};

QTEST_MAIN(TestWindowFields)
#include "tst_window_fields.moc"
