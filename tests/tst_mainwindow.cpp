// The main window under the offscreen platform, found by its controls' names: the enabling rule, the layout, the
// notation fields, both lists, the preferences, its dialogs and help, Count, Replace and Replace As on real files, Undo,
// and the Matches window.

#include "app/matcheswindow.h"
#include "arguments/argumentfile.h"
#include "arguments/notation.h"
#include "base/twips.h"
#include "base/widgetsupport.h"
#include "commit/rewritejournal.h"
#include "engine/progressscale.h"
#include "engine/undorun.h"
#include "files/filedescriptor.h"
#include "files/filesystem.h"
#include "support/windowfixture.h"

#include <QApplication>
#include <QClipboard>
#include <QGroupBox>
#include <QHeaderView>
#include <QMenu>
#include <QMenuBar>
#include <QMimeData>
#include <QPointer>
#include <QProgressBar>
#include <QScopeGuard>
#include <QSettings>
#include <QTemporaryDir>
#include <QTest>
#include <QTreeWidget>

#include <fcntl.h>
#include <sys/stat.h>

using namespace perrox;
using namespace perrox::test;
using namespace Qt::StringLiterals;

namespace {

// One row per case, by its name; the test fetches the case's index as "row".
template<typename Case, std::size_t N> void AddRows(const Case (&cases)[N])
{
    QTest::addColumn<int>("row");
    for (std::size_t i = 0; i < N; ++i)
        QTest::newRow(cases[i].name) << int(i);
}

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

struct ScaleCase
{
    const char *name;
    double total, step;
    QList<double> positions;
    QList<int> percents; // -1: no change
};
const ScaleCase kScales[] = {
    {"10000", 10000, 101, {4096, 8192, 10000}, {41, 82, 100}},
    {"equal to the step is not enough", 250, 3, {3, 250}, {-1, 100}},
    {"empty", 0, 1, {0}, {-1}},
    {"halves go to the even neighbour", 800, 9, {100}, {12}},
};

struct UrlCase
{
    const char *name;
    QUrl url;
    QString path;
};
const UrlCase kUrls[] = {
    {"plain", QUrl::fromLocalFile(u"/tmp/a b.txt"_s), u"/tmp/a b.txt"_s},
    {"UTF-8", QUrl(u"file:///tmp/caf%C3%A9"_s), u"/tmp/caf\u00e9"_s},
    {"byte that is no UTF-8", QUrl(u"file:///tmp/caf%E9.txt"_s), DecodeNativePath("/tmp/caf\xe9.txt")},
    {"escaped delimiters", QUrl(u"file:///tmp/a%23b%3Fc%25d%20e"_s), u"/tmp/a#b?c%d e"_s},
    {"host", QUrl(u"file://server/share/x"_s), u"//server/share/x"_s},
};

struct RefusedCase
{
    const char *name;
    Notation notation;
    QString find, message;
};
const RefusedCase kRefused[] = {
    {"no arguments", Notation::Characters, QString(), u"Cannot find any Find&Replace arguments.\r\n\r\nEnter Find&Replace arguments and try again."_s},
    {"separators only", Notation::Decimal, u" ,"_s,
        u"Cannot find a valid value in the following 'Find what' field: \r\n ,\r\n\r\nCorrect the find argument and try again."_s},
    {"invalid decimal", Notation::Decimal, u"1,2,999"_s,
        u"An invalid value found in the decimal '1,2,999' argument.\r\n\r\nValid decimal values are between '0' and '255'."_s},
};

using Answer = MessageSink::Answer;
struct UndoCase
{
    const char *name;
    bool keep; // the preferences keep a journal
    Answer answer;
    QByteArray bAfterReplace; // written to b after the Replace when not empty
    QString summary; // %1: b's path
    QByteArray a, b; // afterwards
    QString caption; // afterwards
};
const UndoCase kUndos[] = {
    {"Yes restores every file", true, Answer::Yes, {}, u"2 of 2 files were restored."_s, "one a", "two a", u"&Undo Undo (2 files)"_s},
    {"No changes nothing", true, Answer::No, {}, {}, "one XY", "two XY", u"&Undo Replace (2 files)"_s},
    {"a file changed since is left alone", true, Answer::Yes, "mine",
        u"1 of 2 files were restored.\r\n\r\nThese files were left as they are:\r\nThe file %1 was changed after the run; it was left as it is."_s, "one a",
        "mine", u"&Undo Undo (1 file)"_s},
    {"journal off", false, Answer::Yes, {}, {}, "one XY", "two XY", u"&Undo Replace"_s},
};

// The Matches window on "abcabc" with the pair find -> X (the current pair changes to b -> Y after the run).
struct MatchesCase
{
    const char *name;
    QString find;
    std::optional<RunMode> run;
    QByteArray afterRun; // written to the file after the run; "gone": removed
    bool doubleClick; // else the file list's Show Matches command
    QString message; // %1: the file's path; the window does not open
    QString pairsLine, pairsRow; // the pairs row: number|find|replace|run|now
    bool changedNote;
    QString showing;
};
const MatchesCase kMatches[] = {
    {"no run: the current pairs", u"a"_s, std::nullopt, {}, true, {}, u"Current pairs; no run has reached this file yet."_s, u"1|61|58||2"_s, false,
        u"2 occurrences."_s},
    {"unchanged since Count", u"a"_s, RunMode::Count, {}, false, {}, u"Pairs of the last run (Count)."_s, u"1|61|58|2|2"_s, false, u"2 occurrences."_s},
    {"changed since Count", u"a"_s, RunMode::Count, "xa", true, {}, u"Pairs of the last run (Count)."_s, u"1|61|58|2|1"_s, true, u"1 occurrence."_s},
    {"Replace leaves what it wrote", u"a"_s, RunMode::Replace, {}, false, {}, u"Pairs of the last run (Replace)."_s, u"1|61|58|2|0"_s, false,
        u"No occurrences."_s},
    {"gone since Count", u"a"_s, RunMode::Count, "gone", true, FileErrorMessage(ENOENT, u"%1"_s), {}, {}, false, {}},
    {"no current pair", QString(), std::nullopt, {}, false, u"Cannot find any Find&Replace arguments.\r\n\r\nEnter Find&Replace arguments and try again."_s, {},
        {}, false, {}},
};

} // namespace

class TestMainWindow : public WindowTest
{
    Q_OBJECT

    QString file(const QString &name, const QByteArray &bytes = "x") const { return WriteFileIn(dir->path(), name, bytes); }
    QString stored(const QString &key) const { return QSettings(prefs(), QSettings::NativeFormat).value(u"Preferences/"_s + key).toString(); }
    void seed(const QList<std::pair<QString, QString>> &values) const
    {
        QSettings settings(prefs(), QSettings::NativeFormat);
        for (const auto &[key, value] : values)
            settings.setValue(u"Preferences/"_s + key, value);
    }
    RecordingSink &sink() const { return f->sink; }

private slots:
    void init() { startWindow(); }
    void cleanup() { QVERIFY(stopWindow()); }

    void enablingRuleFollowsTheFileCount()
    {
        // The file commands, then Add Argument, which empty arguments leave alone.
        const auto enabled = [&] {
            QList<bool> on;
            for (const char *name : {"IDM_REMOVE", "IDM_SELECT_ALL", "IDM_INVERT_SELECTION", "IDM_COUNT", "IDM_REPLACE", "IDM_COPYREPLACE"})
                on << f->action(QString::fromLatin1(name))->isEnabled();
            return on << f->button(u"cmdReplace"_s)->isEnabled() << f->button(u"cmdReplaceAs"_s)->isEnabled() << f->action(u"IDM_ARG_ADD"_s)->isEnabled();
        };
        const QList<bool> none = {false, false, false, false, false, false, false, false, true};
        QCOMPARE(enabled(), none);
        f->addFiles({u"/tmp/a"_s});
        QCOMPARE(enabled(), QList<bool>(9, true));
        f->files()->selectAll();
        f->files()->setFocus();
        f->trigger(u"IDM_REMOVE"_s);
        QCOMPARE(enabled(), none);
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

    void notationSwitches_data() { AddRows(kSwitches); }
    void notationSwitches()
    {
        QFETCH(int, row);
        const SwitchCase &c = kSwitches[row];
        f->field(0)->selectNotation(c.from);
        f->edSearch()->setText(c.text);
        f->option(0, c.to)->click(); // the focus is not in the field: no check
        const Notation now = c.refusal.isEmpty() ? c.to : c.from;
        QVERIFY(f->edSearch()->text() == c.expected && f->field(0)->notation() == now && f->option(0, now)->isChecked());
        QCOMPARE(sink().texts(), c.refusal.isEmpty() ? QStringList() : QStringList {c.refusal});
        QVERIFY(c.refusal.isEmpty() || (sink().shown[0].icon == MessageSink::Icon::Exclamation && sink().shown[0].buttons == MessageSink::Buttons::Ok));
        // The program's switch is never refused: bytes that are no UTF-8 text give the empty text.
        f->field(0)->selectNotation(c.from);
        f->edSearch()->setText(c.text);
        f->field(0)->selectNotation(c.to);
        QVERIFY(f->edSearch()->text() == (c.refusal.isEmpty() ? c.expected : QString()) && sink().shown.size() == (c.refusal.isEmpty() ? 0 : 1));
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

    // Typed characters by notation: a character Windows-1252 lacks beeps in Characters, UTF-8 takes everything.
    void typedCharacters_data()
    {
        QTest::addColumn<Notation>("notation");
        QTest::addColumn<QString>("typed");
        QTest::addColumn<QString>("kept");
        const QString mixed = u"\u00e9\u20ac\u0416\u2192\U0001F600g"_s; // é € Ж → emoji g
        const std::pair<QString, QString> cases[] = {{mixed, u"\u00e9\u20acg"_s}, {u"7\u00e9 g"_s, u"7 "_s}, {u"f\u0416"_s, u"f"_s}, {mixed, mixed}};
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
        QVERIFY(ed->text() == kept && sink().beeps == typed.toUcs4().size() - kept.toUcs4().size());
    }

    // Pasted into a Characters field, the character is reported on leaving and selected whole.
    void pastedCharacterOutsideTheCodePage_data()
    {
        QTest::addColumn<QString>("character");
        QTest::newRow("Cyrillic") << u"\u0416"_s;
        QTest::newRow("emoji, a surrogate pair") << u"\U0001F600"_s;
    }
    void pastedCharacterOutsideTheCodePage()
    {
        QFETCH(QString, character);
        QLineEdit *ed = f->edSearch();
        ed->setFocus();
        ed->insert(u"\u00e9"_s + character + u"b"_s + character); // as Ctrl+V pastes, past the key filter
        QTest::keyClick(ed, Qt::Key_Tab);
        QCOMPARE(sink().texts(),
            QStringList {u"An invalid value found in the 'Find what' field: %1\r\n\r\nCharacters are the 256 characters of Windows-1252; choose the UTF-8 "
                         u"notation for any other character."_s.arg(character)});
        QTRY_COMPARE(ed->selectedText(), character); // once the focus is back
        QVERIFY(ed->hasFocus() && ed->selectionStart() == 1 && sink().beeps == 0);
    }

    void keyFilter()
    {
        QLineEdit *ed = f->edSearch();
        ed->setFocus();
        f->field(0)->selectNotation(Notation::Hexadecimal);
        QTest::keyClicks(ed, u"a0 g;Z,f"_s);
        QTest::keyClick(ed, Qt::Key_Return); // refused, Backspace is not
        QTest::keyClick(ed, Qt::Key_Backspace);
        QCOMPARE(ed->text(), u"a0 ;,"_s);
        QCOMPARE(sink().beeps, 3);
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
        QCOMPARE(sink().beeps, 4);
    }

    // Keys that type no character pass the filter whatever text the platform gives them: X11 gives Delete "\x7f".
    void keysThatTypeNothingPass_data()
    {
        QTest::addColumn<int>("side");
        QTest::addColumn<Notation>("notation");
        for (int side : {0, 1})
            for (const Notation notation : {Notation::Hexadecimal, Notation::Decimal})
                QTest::addRow("%s, %s", side ? "Replace" : "Find", qPrintable(QString(Info(notation).code))) << side << notation;
    }
    void keysThatTypeNothingPass()
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
        for (Qt::Key key : {Qt::Key_End, Qt::Key_Left, Qt::Key_Home, Qt::Key_Right}) {
            QTest::keyClick(ed, key);
            state();
        }
        QCOMPARE(sink().beeps, 0);
        QTest::keyClicks(ed, u"g"_s);
        state();
        const QString first = dec ? u"0 11"_s : u"A 0B"_s, rest = dec ? u" 11"_s : u" 0B"_s;
        QCOMPARE(seen, (QStringList {first + u"@0"_s, rest + u"@0"_s, rest + u"@3"_s, rest + u"@2"_s, rest + u"@0"_s, rest + u"@1"_s, rest + u"@1"_s}));
        QCOMPARE(sink().beeps, 1);
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
        QCOMPARE(f->field(0)->notation(), Notation::Decimal);
        QVERIFY(f->option(0, Notation::Decimal)->isChecked());
        QCOMPARE(ed->text(), u"12 300 4"_s);
        QCOMPARE(sink().shown.size(), 2);
    }

    void addArgument()
    {
        f->field(0)->selectNotation(Notation::Decimal);
        f->edSearch()->setText(u"65,66"_s);
        f->button(u"cmdAddParam"_s)->click();
        QCOMPARE(f->args()->rows(), QList<ArgumentRow>({{u"Dec"_s, u"65,66"_s, u"Asc"_s, u""_s}}));
        QVERIFY(f->edSearch()->text().isEmpty() && f->field(0)->notation() == Notation::Decimal); // notations stay
        f->trigger(u"IDM_ARG_ADD"_s); // empty find: only the beep
        QVERIFY(sink().beeps == 1 && f->args()->topLevelItemCount() == 1);
        // Both sides checked, two messages, then the beep.
        f->field(1)->selectNotation(Notation::Hexadecimal);
        f->pending(u"1,2,999"_s, u"G1"_s);
        f->trigger(u"IDM_ARG_ADD"_s);
        QCOMPARE(sink().texts(), QStringList({ArgumentMessage(u"1,2,999"_s, Notation::Decimal), ArgumentMessage(u"G1"_s, Notation::Hexadecimal)}));
        QVERIFY(sink().beeps == 2 && f->edSearch()->text() == u"1,2,999"_s);
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
        QCOMPARE(QStringList({f->edSearch()->text(), f->edReplace()->text()}), QStringList({u"10 13"_s, u"0A"_s}));
        QVERIFY(f->option(0, Notation::Decimal)->isChecked() && f->option(1, Notation::Hexadecimal)->isChecked());
        QCOMPARE(f->findTexts(), QStringList {u"x"_s});
        // An unknown type code changes no option.
        f->addRow(u"Zzz"_s, u"q"_s, u"Zzz"_s, u"r"_s);
        f->setCurrentRow(1);
        f->trigger(u"IDM_ARG_EDIT"_s);
        QVERIFY(f->option(0, Notation::Decimal)->isChecked());
        QCOMPARE(f->edSearch()->text(), u"q"_s);
        // Whatever is dropped onto the find field loads the current row too.
        QMimeData data;
        data.setText(u"dropped"_s);
        QDragEnterEvent enter(QPoint(5, 5), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
        QDropEvent drop(QPointF(5, 5), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
        QVERIFY(QCoreApplication::sendEvent(f->edSearch(), &enter) && enter.isAccepted());
        QVERIFY(QCoreApplication::sendEvent(f->edSearch(), &drop) && drop.isAccepted());
        QCOMPARE(QStringList({f->edSearch()->text(), f->edReplace()->text(), f->findTexts().join(u' ')}), QStringList({u"x"_s, u"y"_s, QString()}));
        // UTF-8 sides: the options switch silently, also from bytes that are no UTF-8 text, then the texts come.
        f->field(0)->selectNotation(Notation::Hexadecimal);
        f->pending(u"E9"_s, u"\u00e9"_s);
        f->addRow(u"Utf"_s, u"caf\u00e9"_s, u"Utf"_s, u"\u0416"_s);
        f->setCurrentRow(0);
        f->trigger(u"IDM_ARG_EDIT"_s);
        QCOMPARE(QStringList({f->edSearch()->text(), f->edReplace()->text()}), QStringList({u"caf\u00e9"_s, u"\u0416"_s}));
        QVERIFY(f->option(0, Notation::Utf8)->isChecked() && f->field(1)->notation() == Notation::Utf8 && sink().shown.isEmpty());
    }

    void removeClearAndMove()
    {
        const auto state = [&] { return f->findTexts().join(u' ') + u", %1 beeps"_s.arg(sink().beeps); };
        for (const QString &t : {u"1"_s, u"2"_s, u"3"_s, u"4"_s, u"5"_s})
            f->addRow(u"Asc"_s, t);
        f->args()->topLevelItem(1)->setSelected(true);
        f->args()->topLevelItem(3)->setSelected(true);
        f->button(u"cmdRemoveParam"_s)->click();
        QCOMPARE(state(), u"1 3 5, 0 beeps"_s);
        QCOMPARE(sink().busyDepth, 0);
        f->setCurrentRow(1);
        f->button(u"cmdParamUp"_s)->click();
        QVERIFY(f->args()->topLevelItem(0)->isSelected());
        f->trigger(u"IDM_ARG_UP"_s); // already first
        QCOMPARE(state(), u"3 1 5, 1 beeps"_s);
        f->setCurrentRow(1);
        f->button(u"cmdParamDown"_s)->click();
        f->trigger(u"IDM_ARG_DOWN"_s); // already last
        QCOMPARE(state(), u"3 5 1, 2 beeps"_s);
        f->trigger(u"IDM_ARG_CLEAR"_s);
        f->trigger(u"IDM_ARG_UP"_s);
        f->trigger(u"IDM_ARG_DOWN"_s);
        QCOMPARE(state(), u", 4 beeps"_s);
    }

    void dragInsideTheListMoves_data()
    {
        QTest::addColumn<int>("dragIndex");
        QTest::addColumn<int>("under");
        QTest::addColumn<QString>("expected");
        QTest::newRow("first onto last") << 1 << 2 << u"B C A"_s;
        QTest::newRow("last onto first") << 3 << 0 << u"C A B"_s;
        QTest::newRow("onto itself") << 2 << 1 << u"A B C"_s;
    }
    void dragInsideTheListMoves()
    {
        QFETCH(int, dragIndex);
        QFETCH(int, under);
        QFETCH(QString, expected);
        for (const QString &t : {u"A"_s, u"B"_s, u"C"_s})
            f->addRow(u"Asc"_s, t);
        f->args()->DropDraggedRow(dragIndex, under);
        QCOMPARE(f->findTexts().join(u' '), expected);
        QCOMPARE(f->args()->currentItem()->text(1), QString(QChar(u'A' + dragIndex - 1)));
    }

    void collectArguments()
    {
        QVERIFY(f->w->CollectArguments().isEmpty());
        f->field(0)->selectNotation(Notation::Hexadecimal);
        f->edSearch()->setText(u"41"_s);
        QCOMPARE(f->w->CollectArguments(), FindReplaceArguments({{Hex, u"41"_s, Asc, u""_s}}));
        f->addRow(u"Dec"_s, u"1"_s, u"Hex"_s, u"02"_s);
        f->addRow(u"bad"_s, u"x"_s, u"Hex"_s);
        QCOMPARE(f->w->CollectArguments(), FindReplaceArguments({{Hex, u"41"_s, Asc, u""_s}, {Dec, u"1"_s, Hex, u"02"_s}, {Asc, u"x"_s, Hex, u""_s}}));
        // Separators only are not empty: the record comes first.
        f->field(0)->selectNotation(Notation::Decimal);
        f->edSearch()->setText(u" ,"_s);
        QCOMPARE(f->w->CollectArguments().first(), FindReplaceArgument({Dec, u" ,"_s, Asc, u""_s}));
    }

    void progressScale_data() { AddRows(kScales); }
    void progressScale()
    {
        QFETCH(int, row);
        const ScaleCase &c = kScales[row];
        ProgressScale scale;
        scale.initialize(c.total);
        if (c.total > 0)
            QCOMPARE(scale.step(), c.step);
        for (int i = 0; i < c.positions.size(); ++i)
            QCOMPARE(scale.update(c.positions[i]), c.percents[i] < 0 ? std::nullopt : std::optional<int>(c.percents[i]));
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
        const RecordingSink::Shown &question = sink().shown.last();
        QVERIFY(question.text == CancelQuestion() && question.icon == MessageSink::Icon::Question && question.buttons == MessageSink::Buttons::YesNo);
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

    void addingFilesAndFolders()
    {
        f->w->preferences().addDir = u"/nowhere"_s;
        f->addFiles({}); // cancelled: nothing changes, not even the folder
        QCOMPARE(f->w->preferences().addDir, u"/nowhere"_s);
        QVERIFY(f->paths().isEmpty() && f->status().isEmpty());
        f->addFiles({u"/data/a.txt"_s, u"/data/b.txt"_s, u"/data/a.txt"_s});
        QCOMPARE(f->paths(), QStringList({u"/data/a.txt"_s, u"/data/b.txt"_s, u"/data/a.txt"_s}));
        QCOMPARE(QStringList({f->w->preferences().addDir, f->status(), f->cells()}), QStringList({u"/data"_s, u"3 files"_s, u"||"_s}));
        QVERIFY(f->action(u"IDM_COUNT"_s)->isEnabled());
        // The last row current, none selected.
        QVERIFY(f->files()->currentItem() == f->files()->topLevelItem(2) && f->selectedFiles().isEmpty() && sink().busyOnCount == 1);
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
        const QString one = file(u"tree/one.txt"_s), three = file(u"tree/sub/three.txt"_s);
        file(u"tree/sub/two.bin"_s);
        f->w->preferences().masks.includeFiles = u"*.txt"_s;
        f->dialogs.folder = dir->filePath(u"tree"_s);
        f->trigger(u"IDM_ADD_FOLDER"_s);
        QCOMPARE(f->paths().mid(3), QStringList({one, three}));
        QCOMPARE(QStringList({f->w->preferences().addDir, f->status()}), QStringList({dir->path(), u"5 files"_s}));
        QVERIFY(f->files()->currentItem() == f->files()->topLevelItem(4) && !f->files()->busy() && sink().busyDepth == 0);
    }

    void dropsOfFilesAndFolders()
    {
        QDir(dir->path()).mkpath(u"tree/sub"_s);
        const QString one = file(u"tree/one.txt"_s), two = file(u"tree/sub/two.bin"_s), loose = file(u"loose.txt"_s);
        f->drop({QUrl::fromLocalFile(dir->filePath(u"tree"_s)), QUrl::fromLocalFile(loose), QUrl::fromLocalFile(u"/not/there"_s),
            QUrl(u"https://example.org/x"_s)});
        QVERIFY(f->paths().isEmpty()); // the scan starts once the drop event has returned
        QTRY_COMPARE(f->paths(), QStringList({one, two, loose, u"/not/there"_s}));
        QVERIFY(f->status() == u"4 files"_s && !f->files()->busy() && sink().busyDepth == 0);
        QMimeData text; // text is no file list
        text.setText(u"hello"_s);
        QVERIFY(FileListView::droppedPaths(&text).isEmpty());
    }

    void startPathsAreAddedAsADrop_data()
    {
        QTest::addColumn<QStringList>("start"); // in the test folder, but "/..."
        QTest::addColumn<QStringList>("rows");
        QTest::addColumn<QString>("status");
        const QStringList scanned {u"tree/a.txt"_s, u"tree/b.txt"_s, u"tree/sub/c.txt"_s};
        QTest::newRow("two files, then a folder") << QStringList {u"one.txt"_s, u"two.bak"_s, u"tree"_s} << QStringList {u"one.txt"_s, u"two.bak"_s} + scanned
                                                  << u"5 files"_s;
        QTest::newRow("a folder, then a file") << QStringList {u"tree"_s, u"one.txt"_s} << scanned + QStringList {u"one.txt"_s} << u"4 files"_s;
        const QStringList missing {u"/not/there"_s, DecodeNativePath("/not/caf\xe9"), u"one.txt"_s};
        QTest::newRow("missing files are rows") << missing << missing << u"3 files"_s;
        QTest::newRow("an empty folder") << QStringList {u"empty"_s} << QStringList() << u"0 files"_s;
        QTest::newRow("none: nothing changes") << QStringList() << QStringList() << QString();
    }
    void startPathsAreAddedAsADrop()
    {
        QFETCH(QStringList, start);
        QFETCH(QStringList, rows);
        QFETCH(QString, status);
        for (const QString &folder : {u"tree/sub"_s, u"tree/Backup"_s, u"empty"_s})
            QVERIFY(QDir(dir->path()).mkpath(folder));
        for (const QString &name : {u"one.txt"_s, u"two.bak"_s, u"tree/b.txt"_s, u"tree/a.txt"_s, u"tree/skip.bak"_s, u"tree/Backup/old.txt"_s,
                 u"tree/sub/c.txt"_s, u"tree/sub/d.bak"_s})
            file(name);
        // The masks come from the stored preferences, as at a start; they leave out
        // a subfolder and the folder's *.bak files, never a file given itself.
        f.reset();
        seed({{u"ExcludeDirectories"_s, u"Backup"_s}, {u"ExcludeFiles"_s, u"*.bak"_s}});
        f = std::make_unique<WindowFixture>(prefs());
        f->w->setEventPumpInterval(0);
        const auto inDir = [&](QStringList paths) {
            for (QString &path : paths)
                path = path.startsWith(u'/') ? path : dir->filePath(path);
            return paths;
        };
        f->w->AddStartPaths(inDir(start));
        QCOMPARE(f->paths(), inDir(rows));
        QCOMPARE(f->status(), status);
        // What a drop's end does: the file commands follow the count, the last row is
        // current and none selected, the busy pointer came once and went.
        for (const char *name : {"IDM_REMOVE", "IDM_SELECT_ALL", "IDM_INVERT_SELECTION", "IDM_COUNT", "IDM_REPLACE", "IDM_COPYREPLACE"})
            QCOMPARE(f->action(QString::fromLatin1(name))->isEnabled(), !rows.isEmpty());
        QCOMPARE(f->button(u"cmdReplaceAs"_s)->isEnabled(), !rows.isEmpty());
        QCOMPARE(f->files()->currentItem(), rows.isEmpty() ? nullptr : f->files()->topLevelItem(int(rows.size()) - 1));
        QVERIFY(f->selectedFiles().isEmpty() && !f->files()->busy() && sink().busyDepth == 0 && sink().beeps == 0 && sink().shown.isEmpty());
        QCOMPARE(sink().busyOnCount, start.isEmpty() ? 0 : 1);
    }

    void droppedUrlsKeepTheirBytes_data() { AddRows(kUrls); }
    void droppedUrlsKeepTheirBytes()
    {
        QFETCH(int, row);
        const UrlCase &c = kUrls[row];
        QMimeData data;
        data.setUrls({c.url});
        QCOMPARE(FileListView::droppedPaths(&data), QStringList {c.path});
        if (NativePath(c.path) == c.path.toUtf8()) // where Qt's decoding keeps the bytes, the path is the one it gives
            QCOMPARE(c.path, c.url.toLocalFile());
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
        QCOMPARE(f->selectedFiles(), u"0 2 3 4"_s);
        QCOMPARE(f->w->focusWidget(), f->files());
        f->trigger(u"IDM_INVERT_SELECTION"_s);
        QCOMPARE(f->selectedFiles(), u"1"_s);
        f->trigger(u"IDM_SELECT_ALL"_s);
        QCOMPARE(f->selectedFiles(), u"0 1 2 3 4"_s);
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
        // Sorted once by a column click, ascending first, then toggled; a file added after a sort goes to the end, and the
        // next click sorts ascending.
        f->files()->topLevelItem(0)->setText(0, u"/b"_s);
        f->files()->topLevelItem(2)->setText(0, u"/a"_s);
        const auto click = [&](int column) {
            Q_EMIT f->files()->header()->sectionClicked(column);
            return f->paths().join(u' ');
        };
        QCOMPARE(click(0), u"/3 /a /b"_s);
        QCOMPARE(click(0), u"/b /a /3"_s);
        click(1);
        QCOMPARE(click(0), u"/3 /a /b"_s);
        click(0);
        f->addFiles({u"/0"_s});
        QCOMPARE(f->paths().last(), u"/0"_s);
        QCOMPARE(click(0), u"/0 /3 /a /b"_s);
        f->trigger(u"IDM_SELECT_ALL"_s);
        f->trigger(u"IDM_REMOVE"_s);
        QVERIFY(f->paths().isEmpty() && f->status().isEmpty());
        QVERIFY(!f->action(u"IDM_COUNT"_s)->isEnabled() && !f->button(u"cmdReplace"_s)->isEnabled());
    }

    void defaultsWhenNothingUsableIsStored()
    {
        const QStringList defaults = {u"0"_s, u"0"_s, u"</FIND>"_s, QString(), QString(), u"|||"_s, u"-"_s, u"-"_s, u"-"_s, u"-"_s, u"-"_s, u"-"_s};
        QCOMPARE(Restored(WindowFixture(prefs(), false)), defaults);
        QVERIFY(!QFile::exists(prefs())); // nothing is written while the program runs
        // Stored values that are no notation, and an empty end tag.
        seed({{u"FindType"_s, u"7"_s}, {u"ReplaceType"_s, u"two"_s}, {u"FindEndTag"_s, QString()}});
        QCOMPARE(Restored(WindowFixture(prefs(), false)), defaults);
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
        f->field(1)->selectNotation(Notation::Utf8);
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
        QCOMPARE(Restored(*f)[6], u"pairs.txt"_s);
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
        QCOMPARE(sink().texts(), QStringList {u"No such file or directory - "_s + path});
        QVERIFY(f->action(u"IDM_FILE_FILE1"_s)->text() == u"pairs.txt"_s && f->args()->topLevelItemCount() == 4);
    }

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

    // A rewrite in place whose program died right after it kept the result
    // and wrote its record: the window's start finishes it and says so once,
    // and removes the killed run's folder in TEMP without a word.
    void finishesAnInterruptedRewriteAtStart()
    {
        StateFolderGuard state;
        const QString dead = temp->filePath(u"perrox-Dead01"_s);
        QVERIFY(QDir().mkpath(dead));
        QCOMPARE(::chmod(NativePath(dead).constData(), 0700), 0);
        WriteFileIn(dead, u"~PX12345.tmp"_s, "a result never put in place");
        const QString path = file(u"linked.txt"_s, "old content");
        QVERIFY(LeaveInterruptedRewrite(path, "new"));
        QCOMPARE(state.records().size(), 3); // the record, the result and the place for a step's old bytes
        f->w->FinishInterruptedRewrites();
        QCOMPARE(sink().texts(),
            QStringList {u"Perrox was stopped while it rewrote the file %1 and has now finished it."_s.arg(QFileInfo(path).canonicalFilePath())});
        QCOMPARE(ReadFile(path), "new"_ba);
        QCOMPARE(state.records(), QStringList());
        QCOMPARE(TemporaryFilesIn(temp->path()), QStringList());
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
        sink().onShow = [&] { seen << f->cells() << f->progress()->status1()->text(); };
        f->trigger(u"IDM_COUNT"_s);
        QCOMPARE(sink().texts(), QStringList {FileErrorMessage(EISDIR, folder)});
        QCOMPARE(seen.size(), 2);
        QCOMPARE(seen[0], u"       3||"_s);
        QVERIFY(seen[1].endsWith(u"folder"_s));
        QCOMPARE(f->cells(), u"       3|       0|       3"_s);
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
        QCOMPARE(f->cells(), u"       2|       0|   10000|       2"_s);
        QVERIFY(ReadFile(a) == "abcabc" && ReadFile(c) == QByteArray(10000, 'a') && f->w->isEnabled());
        QTRY_VERIFY(!f->progress());
        // An empty replacement deletes; a file without occurrences is not rewritten.
        f->pending(u"61"_s, QString());
        f->button(u"cmdReplace"_s)->click();
        QCOMPARE(caption, u"Replacing..."_s);
        QVERIFY(ReadFile(a) == "bcbc" && ReadFile(c).isEmpty());
        QCOMPARE(f->cells(), u"       2|       0|   10000|       0"_s);
        ::stat(NativePath(none).constData(), &after);
        QCOMPARE(after.st_ino, before.st_ino);
        QVERIFY(sink().shown.isEmpty());
    }

    // A UTF-8 file holding "café": the UTF-8 find matches its bytes, the Characters find (é the byte E9) does not.
    void countsUtf8Text()
    {
        f->addFiles({file(u"utf8.txt"_s, "caf\xc3\xa9")});
        QStringList cells;
        for (const Notation notation : {Notation::Utf8, Notation::Characters}) {
            f->field(0)->selectNotation(notation);
            f->pending(u"caf\u00e9"_s, QString());
            f->trigger(u"IDM_COUNT"_s);
            cells << f->cells();
            QTRY_VERIFY(!f->progress());
        }
        QCOMPARE(cells, QStringList({u"       1"_s, u"       0"_s}));
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
        QVERIFY(ReadFile(out.path() + u"/new_a.txt"_s) == "yy" && ReadFile(existing) == "keep" && !QFile::exists(out.path() + u"/new_c.txt"_s));
        QCOMPARE(f->cells(), u"       2||"_s);
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
        QVERIFY(ReadFile(a) == QByteArray(9000, 'r') && ReadFile(b) == QByteArray(20000, 'q') && ReadFile(c) == QByteArray(9000, 'q'));
        QCOMPARE(f->cells(), u"    9000|earlier|"_s);
        QVERIFY(f->w->isEnabled());
        QTRY_VERIFY(!f->progress());
    }

    void undoReplace_data() { AddRows(kUndos); }
    void undoReplace()
    {
        QFETCH(int, row);
        const UndoCase &c = kUndos[row];
        f->w->preferences().undo.keepJournal = c.keep;
        const QString a = file(u"a"_s, "one a"), b = file(u"b"_s, "two a");
        f->addFiles({a, b});
        f->pending(u"a"_s, u"XY"_s);
        f->button(u"cmdReplace"_s)->click();
        QAction *undo = f->action(u"IDM_UNDO"_s);
        const std::vector<JournalRun> runs = ListRuns();
        QCOMPARE(runs.size(), size_t(c.keep));
        QCOMPARE(undo->text(), c.keep ? u"&Undo Replace (2 files)"_s : u"&Undo Replace"_s);
        QCOMPARE(undo->isEnabled(), c.keep);
        QVERIFY(c.bAfterReplace.isEmpty() || WriteFile(b, c.bAfterReplace));
        sink().answers = {c.answer};
        const int busy = sink().busyOnCount;
        undo->trigger();
        QCOMPARE(QList<QByteArray>({ReadFile(a), ReadFile(b)}), QList<QByteArray>({c.a, c.b}));
        QCOMPARE(undo->text(), c.caption);
        QCOMPARE(undo->isEnabled(), c.keep);
        QCOMPARE(sink().shown.size(), int(c.keep) + !c.summary.isEmpty());
        QCOMPARE(sink().busyOnCount > busy, !c.summary.isEmpty());
        QCOMPARE(sink().busyDepth, 0);
        if (!c.keep)
            return;
        const QString made = runs[0].time.toLocalTime().toString(u"yyyy-MM-dd HH:mm:ss"_s);
        QCOMPARE(sink().texts()[0],
            u"Undo the Replace of 2 files made on %1?\r\n\r\nEach file gets back what it held before, if nothing changed it since."_s.arg(made));
        QVERIFY(sink().shown[0].icon == MessageSink::Icon::Question && sink().shown[0].buttons == MessageSink::Buttons::YesNo);
        if (c.summary.isEmpty())
            return;
        QCOMPARE(sink().shown[1].text, c.summary.arg(b));
        QCOMPARE(sink().shown[1].icon, c.bAfterReplace.isEmpty() ? MessageSink::Icon::Information : MessageSink::Icon::Exclamation);
    }

    // Another program's run shows when the Edit menu opens. Ctrl+Z in a text
    // field is the field's own undo; elsewhere it is Undo Replace.
    void undoCommandFollowsTheJournal()
    {
        const QString a = file(u"a"_s, "abc");
        ScriptedHost host({a});
        QVERIFY(!ProcessArguments(RunMode::Replace, {{Asc, u"b"_s, Asc, u"x"_s}}, host.settings, host.state, host, UndoSettings()).journalRun.isEmpty());
        QAction *undo = f->action(u"IDM_UNDO"_s);
        QVERIFY(!undo->isEnabled());
        Q_EMIT f->child<QMenu>(u"IDM_EDIT"_s)->aboutToShow();
        QVERIFY(undo->isEnabled() && undo->text() == u"&Undo Replace (1 file)"_s);
        QCOMPARE(f->child<QMenu>(u"IDM_EDIT"_s)->actions().mid(0, 2), QList<QAction *>({undo, f->action(u"IDM_EDIT_SPACE1"_s)}));
        f->edSearch()->setFocus();
        QTest::keyClicks(f->edSearch(), u"q"_s);
        QTest::keyClick(f->edSearch(), Qt::Key_Z, Qt::ControlModifier);
        QVERIFY(f->edSearch()->text().isEmpty() && sink().shown.isEmpty());
        f->files()->setFocus();
        sink().answers = {MessageSink::Answer::Yes};
        QTest::keyClick(f->files(), Qt::Key_Z, Qt::ControlModifier);
        QCOMPARE(sink().shown.size(), 2);
        QCOMPARE(ReadFile(a), QByteArray("abc"));
    }

    void argumentMessagesBeforeAnyFile_data() { AddRows(kRefused); }
    void argumentMessagesBeforeAnyFile()
    {
        QFETCH(int, row);
        const RefusedCase &c = kRefused[row];
        f->addFiles({file(u"a"_s, "1,2")});
        f->field(0)->selectNotation(c.notation);
        f->pending(c.find, QString());
        f->dialogs.onRunStarted = [](ProgressWindow *) { QFAIL("a run started"); };
        f->button(u"cmdReplace"_s)->click();
        QCOMPARE(sink().texts(), QStringList {c.message});
        QCOMPARE(f->cells(), QString());
        QVERIFY(f->w->isEnabled());
    }

    void matchesWindow_data() { AddRows(kMatches); }
    void matchesWindow()
    {
        QFETCH(int, row);
        const MatchesCase &c = kMatches[row];
        const QString a = file(u"a.txt"_s, "abcabc");
        f->addFiles({a, file(u"other"_s)});
        f->pending(c.find, u"X"_s);
        if (c.run) {
            f->w->ProcessFiles(*c.run);
            f->pending(u"b"_s, u"Y"_s);
        }
        if (c.afterRun == "gone")
            QVERIFY(QFile::remove(a));
        else if (!c.afterRun.isEmpty())
            WriteFileIn(dir->path(), u"a.txt"_s, c.afterRun);
        if (c.doubleClick) {
            // As the system delivers it: a click, then the double-click.
            const QPoint at = f->files()->visualItemRect(f->files()->topLevelItem(0)).center();
            QTest::mouseClick(f->files()->viewport(), Qt::LeftButton, {}, at);
            QTest::mouseDClick(f->files()->viewport(), Qt::LeftButton, {}, at);
        } else {
            f->files()->setCurrentItem(f->files()->topLevelItem(0));
            f->trigger(u"IDM_SHOW_MATCHES"_s);
        }
        auto *window = f->w->findChild<MatchesWindow *>();
        QCOMPARE(sink().texts(), c.message.isEmpty() ? QStringList() : QStringList {QString(c.message).replace(u"%1"_s, a)});
        QCOMPARE(window != nullptr, c.message.isEmpty());
        QCOMPARE(sink().busyDepth, 0);
        if (!window)
            return;
        QVERIFY(window->isVisible() && window->parent() == f->w.get() && !window->isModal());
        QCOMPARE(window->windowTitle(), u"Matches - a.txt"_s);
        const auto child = [&](const QString &name) { return window->findChild<QWidget *>(name); };
        QCOMPARE(static_cast<QLabel *>(child(u"lblPairs"_s))->text(), c.pairsLine);
        const QTreeWidgetItem *pair = static_cast<QTreeWidget *>(child(u"lvwPairs"_s))->topLevelItem(0);
        QCOMPARE(QStringList({pair->text(0), pair->text(1), pair->text(2), pair->text(3), pair->text(4)}).join(u'|'), c.pairsRow);
        QCOMPARE(child(u"lblChanged"_s)->isVisible(), c.changedNote);
        QCOMPARE(static_cast<QLabel *>(child(u"lblShowing"_s))->text(), c.showing);
        QVERIFY(!child(u"cmdMore"_s)->isVisible());
        const auto *matches = static_cast<QTreeWidget *>(child(u"lvwMatches"_s));
        QCOMPARE(matches->topLevelItemCount(), c.pairsRow.section(u'|', 4).toInt());
        if (const QTreeWidgetItem *last = matches->topLevelItem(matches->topLevelItemCount() - 1); last && !c.changedNote) {
            QCOMPARE(QStringList({last->text(0), last->text(1), last->text(2), last->text(3)}),
                QStringList({u"3 (0x3)"_s, u"1"_s, u"61 62 63 [61] 62 63\nabc[a]bc"_s, u"61 62 63 [58] 62 63\nabc[X]bc"_s}));
        }
    }

    void matchesWindowShowsMore()
    {
        f->addFiles({file(u"big"_s, QByteArray(MatchesWindow::Page + 5, 'a')), file(u"small"_s)});
        f->pending(u"a"_s, QString());
        // The command takes the one selected row, or the current row when none is selected.
        QVERIFY(f->action(u"IDM_SHOW_MATCHES"_s)->isEnabled());
        f->trigger(u"IDM_SELECT_ALL"_s);
        QVERIFY(!f->action(u"IDM_SHOW_MATCHES"_s)->isEnabled());
        f->files()->clearSelection();
        f->files()->topLevelItem(0)->setSelected(true);
        QCOMPARE(f->files()->actions().last(), f->action(u"IDM_SHOW_MATCHES"_s)); // in the right-click menu
        sink().busyOnCount = 0;
        f->trigger(u"IDM_SHOW_MATCHES"_s);
        QPointer<MatchesWindow> window = f->w->findChild<MatchesWindow *>();
        QVERIFY(window);
        const auto *matches = window->findChild<QTreeWidget *>(u"lvwMatches"_s);
        auto *more = window->findChild<QPushButton *>(u"cmdMore"_s);
        const auto *showing = window->findChild<QLabel *>(u"lblShowing"_s);
        QCOMPARE(matches->topLevelItemCount(), 10000);
        QCOMPARE(showing->text(), u"Showing 10000 of 10005 occurrences."_s);
        QVERIFY(more->isVisible());
        more->click();
        QCOMPARE(matches->topLevelItemCount(), 10005);
        QCOMPARE(showing->text(), u"10005 occurrences."_s);
        QVERIFY(!more->isVisible());
        QCOMPARE(matches->currentItem()->text(0), u"10000 (0x2710)"_s);
        QCOMPARE(matches->currentItem()->text(3), u"61 61 61 61 61 61 61 61 [] 61 61 61 61\naaaaaaaa[]aaaa"_s);
        QVERIFY(sink().shown.isEmpty() && sink().busyOnCount == 2 && sink().busyDepth == 0);
        QTest::keyClick(window, Qt::Key_Escape);
        QTRY_VERIFY(!window);
    }

    void readOnlyFileEndsTheRun()
    {
        QVERIFY(::chmod(NativePath(dir->path()).constData(), 0777) == 0 && ::chmod(NativePath(temp->path()).constData(), 0777) == 0);
        const QString locked = file(u"locked"_s, "a"), after = file(u"after"_s, "a");
        QVERIFY(::chmod(NativePath(locked).constData(), 0444) == 0 && ::chmod(NativePath(after).constData(), 0666) == 0);
        // The window runs in a program of its own that is not root, so the permission bits count.
        QCOMPARE(RunSelfUnprivileged(u"readonly"_s, {locked, after}), 0);
        QVERIFY(ReadFile(locked) == "a" && ReadFile(after) == "a");
    }
};

// The read-only case, run as an unprivileged user in a program of its own.
static int ReadOnlyChild()
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
    CHILD_CHECK(f.cells() == u"       1|"_s);
    return 0;
}

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
