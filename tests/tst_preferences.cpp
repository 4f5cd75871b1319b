#include "app/placement.h"
#include "app/preferences.h"
#include "tests/support/testsupport.h"

#include <QFile>
#include <QMap>
#include <QSettings>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>

using namespace perrox;
using namespace Qt::StringLiterals;

namespace {

// A store in memory that records every access in order.
class RecordingStore : public PreferenceStore
{
public:
    std::optional<QString> read(const QString &key) override
    {
        reads.append(key);
        const auto it = values.constFind(key);
        return it == values.cend() ? std::nullopt : std::optional<QString>(*it);
    }
    void write(const QString &key, const QString &value) override
    {
        writes.append(key);
        values.insert(key, value);
    }

    QMap<QString, QString> values;
    QStringList reads;
    QStringList writes;
};

const QStringList FirstKeys = {u"FindType"_s, u"ReplaceType"_s, u"AddDir"_s, u"SaveAsDir"_s};
const QStringList BoundKeys = {u"WindowLeft"_s, u"WindowTop"_s, u"WindowWidth"_s, u"WindowHeight"_s};
const QStringList LastKeys = {u"FindStartTag"_s, u"FindEndTag"_s, u"ReplaceStartTag"_s, u"ReplaceEndTag"_s, u"RecentFile1"_s, u"RecentFile2"_s,
    u"RecentFile3"_s, u"RecentFile4"_s, u"RecentFile5"_s, u"IncludeDirectories"_s, u"ExcludeDirectories"_s, u"IncludeFiles"_s, u"ExcludeFiles"_s};

// Every text preference set to value, each with its own suffix so that a key
// read into the wrong field shows.
Preferences AllTexts(const QString &value)
{
    Preferences p;
    QString *fields[] = {&p.addDir, &p.saveAsDir, &p.findStartTag, &p.findEndTag, &p.replaceStartTag, &p.replaceEndTag, &p.recentFiles[0], &p.recentFiles[1],
        &p.recentFiles[2], &p.recentFiles[3], &p.recentFiles[4], &p.includeDirectories, &p.excludeDirectories, &p.includeFiles, &p.excludeFiles};
    int n = 0;
    for (QString *field : fields)
        *field = value + QString::number(++n);
    return p;
}

const TwipsRect Current {1000, 800, 7215, 6690};
constexpr double ScreenWidth = 15360; // 1024 pixels at 15 twips each
constexpr double ScreenHeight = 11520;

} // namespace

class TestPreferences : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void firstRun();
    void userStoreLocation();
    void order();
    void roundTrip_data();
    void roundTrip();
    void numbers_data();
    void numbers();
    void writtenNumbers();
    void emptyTags();
    void handEditedValues();
    void failedWrite();
    void closedMinimizedOrMaximized_data();
    void closedMinimizedOrMaximized();
    void fitting_data();
    void fitting();

private:
    QTemporaryDir m_dir;
};

void TestPreferences::initTestCase()
{
    QStandardPaths::setTestModeEnabled(true);
    QVERIFY(m_dir.isValid());
}

void TestPreferences::firstRun()
{
    auto settings = OpenPreferences(m_dir.filePath(u"first.conf"_s));
    const Preferences p = ReadPreferences(*settings);
    QCOMPARE(p, Preferences());
    QCOMPARE(p.findType, 0);
    QCOMPARE(p.findStartTag, u"<FIND TYPE=...>"_s);
    QCOMPARE(p.replaceEndTag, u"</REPLACE>"_s);
    QVERIFY(p.addDir.isEmpty() && p.recentFiles[0].isEmpty() && p.includeFiles.isEmpty());
    // The window keeps its design size and place.
    QCOMPARE(RestoreWindowPlacement(p.placement, Current, PlacementNormal, ScreenWidth, ScreenHeight), (Placement {1000, 800, 7215, 6690, PlacementNormal}));
}

void TestPreferences::userStoreLocation()
{
    auto settings = OpenPreferences();
    QCOMPARE(settings->group(), u"Preferences"_s);
    const QString folder = QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation);
    QCOMPARE(settings->fileName(), folder + u"/Perrox Revavod ozav azovi 1.2.conf"_s);
    QVERIFY(!settings->fileName().startsWith(qEnvironmentVariable("HOME") + u"/.config/"_s));
}

void TestPreferences::order()
{
    RecordingStore store;
    ReadPreferences(store);
    QCOMPARE(store.reads, FirstKeys + BoundKeys + QStringList {u"WindowState"_s} + LastKeys);

    Preferences p;
    p.placement = SaveWindowPlacement(PlacementNormal, Current);
    WritePreferences(store, p);
    QCOMPARE(store.writes, FirstKeys + QStringList {u"WindowState"_s} + BoundKeys + LastKeys);
    QCOMPARE(store.writes.size(), 22);

    store.writes.clear();
    p.placement = SaveWindowPlacement(PlacementMaximized, Current);
    WritePreferences(store, p);
    QCOMPARE(store.writes, FirstKeys + QStringList {u"WindowState"_s} + LastKeys);
}

void TestPreferences::roundTrip_data()
{
    QTest::addColumn<QString>("value");
    QTest::addRow("separators") << u"*.txt;*.c, *.h"_s;
    QTest::addRow("quotes") << u"\"quoted\" and 'single'"_s;
    QTest::addRow("backslash and equals") << u"C:\\data\\a=b\\"_s;
    QTest::addRow("non-ASCII") << u"/home/jürgen/Grüße €/日本"_s;
    QTest::addRow("blanks at both ends") << u"  padded  "_s;
    QTest::addRow("line breaks and tab") << u"one\r\ntwo\tthree\n"_s;
    QTest::addRow("looks like a variant") << u"@Variant(x)"_s;
    QTest::addRow("comment and section marks") << u"#x ;y [Other]"_s;
    QTest::addRow("tag-like") << u"<FIND TYPE=...>"_s;
}

// Through the real file: written, then read back by a fresh QSettings.
void TestPreferences::roundTrip()
{
    QFETCH(QString, value);
    const QString file = m_dir.filePath(QString::fromLatin1(QTest::currentDataTag()).replace(u' ', u'_') + u".conf"_s);

    Preferences written = AllTexts(value);
    written.findType = 2;
    written.replaceType = 1;
    written.placement = SaveWindowPlacement(PlacementNormal, {-300, 45, 7215, 6690});
    QVERIFY(WritePreferences(*OpenPreferences(file), written));

    const Preferences read = ReadPreferences(*OpenPreferences(file));
    QCOMPARE(read, written);
}

void TestPreferences::numbers_data()
{
    QTest::addColumn<QString>("key");
    QTest::addColumn<QString>("text");
    QTest::addColumn<int>("expected"); // -1: absent

    QTest::addRow("FindType 2") << u"FindType"_s << u"2"_s << 2;
    QTest::addRow("FindType 7 is Characters") << u"FindType"_s << u"7"_s << 0;
    QTest::addRow("FindType -1 is Characters") << u"FindType"_s << u"-1"_s << 0;
    QTest::addRow("FindType not a number") << u"FindType"_s << u"Hex"_s << 0;
    QTest::addRow("FindType empty") << u"FindType"_s << QString() << 0;
    QTest::addRow("ReplaceType blanks") << u"ReplaceType"_s << u" 1 "_s << 1;
    QTest::addRow("ReplaceType beyond 16 bits") << u"ReplaceType"_s << u"65537"_s << 0;
    QTest::addRow("ReplaceType fraction rounds") << u"ReplaceType"_s << u"1.6"_s << 2;
    QTest::addRow("WindowState 2") << u"WindowState"_s << u"2"_s << 2;
    QTest::addRow("WindowState not a number") << u"WindowState"_s << u"max"_s << -1;
    QTest::addRow("WindowState beyond 16 bits") << u"WindowState"_s << u"40000"_s << -1;
    QTest::addRow("WindowLeft whole") << u"WindowLeft"_s << u"7215"_s << 7215;
    QTest::addRow("WindowLeft negative") << u"WindowLeft"_s << u"-300"_s << -300;
    QTest::addRow("WindowTop rounds to nearest") << u"WindowTop"_s << u"1309.6"_s << 1310;
    QTest::addRow("WindowWidth not a number") << u"WindowWidth"_s << u"wide"_s << -1;
    QTest::addRow("WindowWidth infinite") << u"WindowWidth"_s << u"inf"_s << -1;
    QTest::addRow("WindowHeight beyond 32 bits") << u"WindowHeight"_s << u"3000000000"_s << -1;
    QTest::addRow("WindowHeight trailing text") << u"WindowHeight"_s << u"600px"_s << -1;
}

void TestPreferences::numbers()
{
    QFETCH(QString, key);
    QFETCH(QString, text);
    QFETCH(int, expected);

    RecordingStore store;
    store.values.insert(key, text);
    const Preferences p = ReadPreferences(store);

    std::optional<double> value;
    if (key == u"FindType")
        value = p.findType;
    else if (key == u"ReplaceType")
        value = p.replaceType;
    else if (key == u"WindowState")
        value = p.placement.state;
    else if (key == u"WindowLeft")
        value = p.placement.left;
    else if (key == u"WindowTop")
        value = p.placement.top;
    else if (key == u"WindowWidth")
        value = p.placement.width;
    else if (key == u"WindowHeight")
        value = p.placement.height;
    QCOMPARE(value, expected == -1 ? std::nullopt : std::optional<double>(expected));
}

void TestPreferences::writtenNumbers()
{
    RecordingStore store;
    Preferences p;
    p.findType = 2;
    p.placement = SaveWindowPlacement(PlacementNormal, {-0.0, 1309.0909, 7215, 0.5});
    WritePreferences(store, p);
    QCOMPARE(store.values.value(u"FindType"_s), u"2"_s);
    QCOMPARE(store.values.value(u"ReplaceType"_s), u"0"_s);
    QCOMPARE(store.values.value(u"WindowState"_s), u"0"_s);
    QCOMPARE(store.values.value(u"WindowLeft"_s), u"0"_s);
    QCOMPARE(store.values.value(u"WindowTop"_s), u"1309.091"_s); // single precision
    QCOMPARE(store.values.value(u"WindowWidth"_s), u"7215"_s);
    QCOMPARE(store.values.value(u"WindowHeight"_s), u"0.5"_s);
    QCOMPARE(TwipsText(20000000), u"20000000"_s); // never in exponent form
}

void TestPreferences::emptyTags()
{
    RecordingStore store;
    for (const QString &key : {u"FindStartTag"_s, u"FindEndTag"_s, u"ReplaceStartTag"_s, u"ReplaceEndTag"_s})
        store.values.insert(key, QString());
    store.values.insert(u"AddDir"_s, QString());
    store.values.insert(u"ReplaceStartTag"_s, u" "_s); // not empty: kept
    const Preferences p = ReadPreferences(store);
    QCOMPARE(p.findStartTag, DefaultFindStartTag());
    QCOMPARE(p.findEndTag, DefaultFindEndTag());
    QCOMPARE(p.replaceStartTag, u" "_s);
    QCOMPARE(p.replaceEndTag, DefaultReplaceEndTag());
    QCOMPARE(p.addDir, QString());
}

// The tags have no dialog: the file is edited by hand, without the quoting
// QSettings would write. A ";" outside quotes starts a comment there, so a
// mask list needs its quotes.
void TestPreferences::handEditedValues()
{
    const QString file = m_dir.filePath(u"hand.conf"_s);
    QVERIFY(test::WriteFile(file,
        "[Preferences]\n"
        "FindStartTag=[F,...]\n"
        "FindEndTag=@Invalid()\n"
        "IncludeFiles=\"*.txt;*.c\"\n"
        "ExcludeFiles=*.o;*.a\n"
        "WindowWidth=  9000 \n"
        "FindType=1\n"));
    const Preferences p = ReadPreferences(*OpenPreferences(file));
    QCOMPARE(p.findStartTag, u"[F,...]"_s);
    QCOMPARE(p.findEndTag, DefaultFindEndTag());
    QCOMPARE(p.includeFiles, u"*.txt;*.c"_s);
    QCOMPARE(p.excludeFiles, u"*.o"_s);
    QCOMPARE(p.placement.width, 9000.0);
    QCOMPARE(p.findType, 1);
}

void TestPreferences::failedWrite()
{
    const QString blocker = m_dir.filePath(u"not-a-folder"_s);
    QVERIFY(test::WriteFile(blocker, "x"));
    QVERIFY(!WritePreferences(*OpenPreferences(blocker + u"/prefs.conf"_s), Preferences()));
    QCOMPARE(test::ReadFile(blocker), QByteArray("x"));
}

void TestPreferences::closedMinimizedOrMaximized_data()
{
    QTest::addColumn<int>("closedState");
    QTest::addColumn<Placement>("next");
    // The last normal placement was 2000, 1500, 8000 x 6000.
    QTest::addRow("normal") << int(PlacementNormal) << Placement {300, 200, 7000, 5000, PlacementNormal};
    QTest::addRow("minimized opens normal") << int(PlacementMinimized) << Placement {2000, 1500, 8000, 6000, PlacementNormal};
    QTest::addRow("maximized keeps the normal bounds") << int(PlacementMaximized) << Placement {2000, 1500, 8000, 6000, PlacementMaximized};
}

// Close in a state, start again: through the real file both times.
void TestPreferences::closedMinimizedOrMaximized()
{
    QFETCH(int, closedState);
    QFETCH(Placement, next);
    const QString file = m_dir.filePath(u"state%1.conf"_s.arg(closedState));

    Preferences p;
    p.placement = SaveWindowPlacement(PlacementNormal, {2000, 1500, 8000, 6000});
    QVERIFY(WritePreferences(*OpenPreferences(file), p));

    // The window at exit: its normal bounds have changed meanwhile.
    p.placement = SaveWindowPlacement(qint16(closedState), {300, 200, 7000, 5000});
    QVERIFY(WritePreferences(*OpenPreferences(file), p));
    QCOMPARE(OpenPreferences(file)->value(u"WindowState"_s).toString(), QString::number(closedState));

    const Preferences read = ReadPreferences(*OpenPreferences(file));
    QCOMPARE(RestoreWindowPlacement(read.placement, Current, PlacementNormal, ScreenWidth, ScreenHeight), next);
}

void TestPreferences::fitting_data()
{
    QTest::addColumn<StoredPlacement>("stored");
    QTest::addColumn<double>("screenWidth");
    QTest::addColumn<Placement>("expected");
    const auto at = [](double l, double t, double w, double h, qint16 s = PlacementNormal) { return StoredPlacement {s, l, t, w, h}; };

    QTest::addRow("fits") << at(1000, 900, 7215, 6690) << ScreenWidth << Placement {1000, 900, 7215, 6690, 0};
    QTest::addRow("wider than the screen") << at(500, 0, 20000, 6690) << ScreenWidth << Placement {0, 0, 15360, 6690, 0};
    QTest::addRow("past the right edge") << at(12000, 0, 7215, 6690) << ScreenWidth << Placement {8145, 0, 7215, 6690, 0};
    QTest::addRow("exactly as wide") << at(0, 0, 15360, 6690) << ScreenWidth << Placement {0, 0, 15360, 6690, 0};
    QTest::addRow("ends on the right edge") << at(8145, 0, 7215, 6690) << ScreenWidth << Placement {8145, 0, 7215, 6690, 0};
    QTest::addRow("one past the right edge") << at(8146, 0, 7215, 6690) << ScreenWidth << Placement {8145, 0, 7215, 6690, 0};
    QTest::addRow("negative left") << at(-300, 100, 7215, 6690) << ScreenWidth << Placement {0, 100, 7215, 6690, 0};
    QTest::addRow("negative top") << at(10, -1, 7215, 6690) << ScreenWidth << Placement {10, 0, 7215, 6690, 0};
    QTest::addRow("taller than the screen") << at(0, 100, 7215, 12000) << ScreenWidth << Placement {0, 0, 7215, 11520, 0};
    QTest::addRow("past the bottom edge") << at(0, 9000, 7215, 6690) << ScreenWidth << Placement {0, 4830, 7215, 6690, 0};
    QTest::addRow("maximized stays") << at(1000, 900, 7215, 6690, 2) << ScreenWidth << Placement {1000, 900, 7215, 6690, 2};
    QTest::addRow("minimized starts normal") << at(1000, 900, 7215, 6690, 1) << ScreenWidth << Placement {1000, 900, 7215, 6690, 0};
    QTest::addRow("unknown state") << at(1000, 900, 7215, 6690, 5) << ScreenWidth << Placement {1000, 900, 7215, 6690, 0};
    QTest::addRow("nothing stored") << StoredPlacement() << ScreenWidth << Placement {1000, 800, 7215, 6690, 0};
    QTest::addRow("only the left stored") << StoredPlacement {std::nullopt, 14000, {}, {}, {}} << ScreenWidth << Placement {8145, 800, 7215, 6690, 0};
    QTest::addRow("zero width") << at(0, 0, 0, -5) << ScreenWidth << Placement {0, 0, 7215, 6690, 0};
    QTest::addRow("near the 32-bit limit") << at(2147483647, 0, 2147483647, 6690) << ScreenWidth << Placement {0, 0, 15360, 6690, 0};
    QTest::addRow("fractional screen") << at(3000, 0, 20000, 6690) << 15359.5 << Placement {0, 0, 15359, 6690, 0};
    QTest::addRow("no screen known") << at(-300, 0, 20000, 6690) << 0.0 << Placement {0, 0, 20000, 6690, 0};
}

void TestPreferences::fitting()
{
    QFETCH(StoredPlacement, stored);
    QFETCH(double, screenWidth);
    QFETCH(Placement, expected);
    QCOMPARE(RestoreWindowPlacement(stored, Current, PlacementNormal, screenWidth, ScreenHeight), expected);
}

QTEST_APPLESS_MAIN(TestPreferences)
#include "tst_preferences.moc"
