#include "app/placement.h"
#include "app/preferences.h"
#include "app/recentfiles.h"
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

// The keys of the text preferences, in the order of the fields AllTexts fills.
const char *const TextKeys[] = {"AddDir", "SaveAsDir", "FindStartTag", "FindEndTag", "ReplaceStartTag", "ReplaceEndTag", "RecentFile1", "RecentFile2",
    "RecentFile3", "RecentFile4", "RecentFile5", "IncludeDirectories", "ExcludeDirectories", "IncludeFiles", "ExcludeFiles"};

// Every text preference set to value, each with its own suffix so that a key
// read into the wrong field shows.
Preferences AllTexts(const QString &value)
{
    Preferences p;
    QString *fields[] = {&p.addDir, &p.saveAsDir, &p.tags.findStartTag, &p.tags.findEndTag, &p.tags.replaceStartTag, &p.tags.replaceEndTag, &p.recentFiles[0],
        &p.recentFiles[1], &p.recentFiles[2], &p.recentFiles[3], &p.recentFiles[4], &p.masks.includeDirectories, &p.masks.excludeDirectories,
        &p.masks.includeFiles, &p.masks.excludeFiles};
    int n = 0;
    for (QString *field : fields)
        *field = value + QString::number(++n);
    return p;
}

using Paths = std::array<QString, RecentFiles::Count>;
const Paths Five = {u"/a/one.arg"_s, u"/a/two.arg"_s, u"/a/three.arg"_s, u"/a/four.arg"_s, u"/a/five.arg"_s};

RecentFiles Started(const Paths &paths)
{
    RecentFiles recent;
    recent.setPaths(paths);
    recent.ShowRecentFiles();
    return recent;
}

const TwipsRect Current {1000, 800, 7215, 6690};
constexpr double ScreenWidth = 15360; // 1024 pixels at 15 twips each
constexpr double ScreenHeight = 11520;

} // namespace

class TestPreferences : public QObject
{
    Q_OBJECT

    QTemporaryDir m_dir;

private slots:
    void initTestCase()
    {
        QStandardPaths::setTestModeEnabled(true);
        QVERIFY(m_dir.isValid());
    }

    // The user's file sits in the configuration folder (a test one here); a file
    // not there yet reads as the defaults.
    void firstRun()
    {
        auto settings = OpenPreferences();
        QCOMPARE(ReadPreferences(*settings), Preferences());
        QCOMPARE(settings->group(), u"Preferences"_s); // also after the section Undo was read
        QCOMPARE(settings->fileName(), QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation) + u"/Perrox Revavod ozav azovi 1.2.conf"_s);
        QVERIFY(!settings->fileName().startsWith(qEnvironmentVariable("HOME") + u"/.config/"_s));
        QCOMPARE(ReadPreferences(*OpenPreferences(m_dir.filePath(u"first.conf"_s))), Preferences());
    }

    // The whole file, byte for byte: the keys of the section Preferences as they always were, then the sections Replace and Undo. Numbers never in
    // exponent form, the top in single precision, no negative zero.
    void storedFile()
    {
        const QString file = m_dir.filePath(u"stored.conf"_s);
        Preferences p = AllTexts(u"t"_s);
        p.placement = SaveWindowPlacement(PlacementNormal, {-0.0, 1309.0909, 20000000, 0.5});
        p.undo = {false, 5, 64};
        p.keepTimes = true;
        p.maxMatchKiB = 2048;
        p.askFirst = false;
        QVERIFY(WritePreferences(*OpenPreferences(file), p));
        QCOMPARE(test::ReadFile(file),
            "[Preferences]\nAddDir=t1\nExcludeDirectories=t13\nExcludeFiles=t15\nFindEndTag=t4\nFindStartTag=t3\nFindType=0\nIncludeDirectories=t12\n"
            "IncludeFiles=t14\nRecentFile1=t7\nRecentFile2=t8\nRecentFile3=t9\nRecentFile4=t10\nRecentFile5=t11\nReplaceEndTag=t6\nReplaceStartTag=t5\n"
            "ReplaceType=0\nSaveAsDir=t2\nWindowHeight=0.5\nWindowLeft=0\nWindowState=0\nWindowTop=1309.091\nWindowWidth=20000000\n\n"
            "[Replace]\nAskFirst=0\nKeepTimes=1\nMaxMatchKilobytes=2048\n\n[Undo]\nKeepJournal=0\nMaxMegabytes=64\nMaxRuns=5\n");
        // Texts with the characters of the file's own syntax come back as they were.
        p = AllTexts(u"\"q\" 'q' C:\\a=b\\ @Variant(x) #;[S] \u00fc\r\n*.c, *.h"_s);
        p.findType = Notation::Hexadecimal;
        QVERIFY(WritePreferences(*OpenPreferences(file + u"2"_s), p));
        QCOMPARE(ReadPreferences(*OpenPreferences(file + u"2"_s)), p);
    }

    // A file edited by hand, without the quoting QSettings would write (the tags have no dialog): every key read by its name. A ";" outside quotes
    // starts a comment there, so a mask list needs its quotes. An empty or invalid tag is the default; a blank one is kept.
    void handEditedValues()
    {
        QMap<QByteArray, QByteArray> lines {{"FindType", "1"}, {"ReplaceType", "2"}, {"WindowState", "0"}, {"WindowLeft", "-1"}, {"WindowTop", "2"},
            {"WindowWidth", "  9000 "}, {"WindowHeight", "4"}};
        int n = 0;
        for (const char *key : TextKeys)
            lines.insert(key, "v" + QByteArray::number(++n));
        lines.insert({{"FindStartTag", "[F,...]"}, {"FindEndTag", "@Invalid()"}, {"ReplaceStartTag", "\" \""}, {"ReplaceEndTag", ""},
            {"IncludeFiles", "\"*.txt;*.c\""}, {"ExcludeFiles", "*.o;*.a"}});
        QByteArray content = "[Replace]\nKeepTimes= 1\nMaxMatchKilobytes=64\nAskFirst=0\n\n[Undo]\nMaxRuns= 5 \nKeepJournal=0\n\n[Preferences]\n";
        for (auto it = lines.cbegin(); it != lines.cend(); ++it)
            content += it.key() + '=' + it.value() + '\n';
        const QString file = m_dir.filePath(u"hand.conf"_s);
        QVERIFY(test::WriteFile(file, content));
        Preferences expected = AllTexts(u"v"_s);
        expected.findType = Notation::Decimal;
        expected.replaceType = Notation::Hexadecimal;
        expected.placement = {PlacementNormal, -1, 2, 9000, 4};
        expected.tags.findStartTag = u"[F,...]"_s;
        expected.tags.findEndTag = DefaultFindEndTag();
        expected.tags.replaceStartTag = u" "_s;
        expected.tags.replaceEndTag = DefaultReplaceEndTag();
        expected.masks.includeFiles = u"*.txt;*.c"_s;
        expected.masks.excludeFiles = u"*.o"_s;
        expected.undo = {false, 5, 1024};
        expected.keepTimes = true;
        expected.maxMatchKiB = 64;
        expected.askFirst = false;
        QCOMPARE(ReadPreferences(*OpenPreferences(file)), expected);
        // A number out of its range (16 or 32 bits, or the Undo limits) or with other text reads as absent, a fraction
        // rounded.
        QVERIFY(test::WriteFile(file,
            "[Preferences]\nFindType=-1\nReplaceType=1.6\nWindowState=65537\nWindowWidth=inf\nWindowHeight=600px\nWindowTop=3000000000\n\n"
            "[Undo]\nKeepJournal=2\nMaxRuns=0\nMaxMegabytes=1048577\n\n[Replace]\nKeepTimes=2\nMaxMatchKilobytes=1048577\nAskFirst=2\n"));
        Preferences odd;
        odd.replaceType = Notation::Hexadecimal;
        QCOMPARE(ReadPreferences(*OpenPreferences(file)), odd);
    }

    void failedWrite()
    {
        const QString blocker = m_dir.filePath(u"not-a-folder"_s);
        QVERIFY(test::WriteFile(blocker, "x"));
        QVERIFY(!WritePreferences(*OpenPreferences(blocker + u"/prefs.conf"_s), Preferences()));
        QCOMPARE(test::ReadFile(blocker), QByteArray("x"));
    }

    void fitting_data()
    {
        QTest::addColumn<StoredPlacement>("stored");
        QTest::addColumn<double>("screenWidth");
        QTest::addColumn<Placement>("expected");
        const auto at = [](double l, double t, double w, double h, qint16 s = PlacementNormal) { return StoredPlacement {s, l, t, w, h}; };
        QTest::newRow("one past the right edge") << at(8146, 0, 7215, 6690) << ScreenWidth << Placement {8145, 0, 7215, 6690, 0};
        QTest::newRow("taller than the screen") << at(0, 100, 7215, 12000) << ScreenWidth << Placement {0, 0, 7215, 11520, 0};
        QTest::newRow("unknown state") << at(1000, 900, 7215, 6690, 5) << ScreenWidth << Placement {1000, 900, 7215, 6690, 0};
        QTest::newRow("zero width") << at(0, 0, 0, -5) << ScreenWidth << Placement {0, 0, 7215, 6690, 0};
        QTest::newRow("near the 32-bit limit") << at(2147483647, 0, 2147483647, 6690) << ScreenWidth << Placement {0, 0, 15360, 6690, 0};
        QTest::newRow("no screen known") << at(-300, 0, 20000, 6690) << 0.0 << Placement {0, 0, 20000, 6690, 0};
    }
    void fitting()
    {
        QFETCH(StoredPlacement, stored);
        QFETCH(double, screenWidth);
        QFETCH(Placement, expected);
        QCOMPARE(RestoreWindowPlacement(stored, Current, PlacementNormal, screenWidth, ScreenHeight), expected);
    }

    void recentFileAdded_data()
    {
        QTest::addColumn<Paths>("before");
        QTest::addColumn<QString>("added");
        QTest::addColumn<Paths>("after");
        QTest::newRow("first file") << Paths() << u"/a/one.arg"_s << Paths {u"/a/one.arg"_s};
        QTest::newRow("new file drops the oldest") << Five << u"/a/six.arg"_s
                                                   << Paths {u"/a/six.arg"_s, u"/a/one.arg"_s, u"/a/two.arg"_s, u"/a/three.arg"_s, u"/a/four.arg"_s};
        QTest::newRow("entry 3 moves to the top") << Five << u"/a/three.arg"_s
                                                  << Paths {u"/a/three.arg"_s, u"/a/one.arg"_s, u"/a/two.arg"_s, u"/a/four.arg"_s, u"/a/five.arg"_s};
        QTest::newRow("entry 1 again") << Five << u"/a/one.arg"_s << Five;
        QTest::newRow("differs in case only") << Paths {u"/a/One.arg"_s} << u"/a/one.arg"_s << Paths {u"/a/one.arg"_s, u"/a/One.arg"_s};
        QTest::newRow("same name in another folder") << Paths {u"/a/x.arg"_s} << u"/b/x.arg"_s << Paths {u"/b/x.arg"_s, u"/a/x.arg"_s};
    }
    void recentFileAdded()
    {
        QFETCH(Paths, before);
        QFETCH(QString, added);
        QFETCH(Paths, after);
        RecentFiles recent = Started(before);
        recent.AddRecentFile(added);
        QCOMPARE(recent.paths(), after);
        // Captions and visibility are what a fresh start from these paths shows.
        const RecentFiles restarted = Started(after);
        for (int i = 0; i < RecentFiles::Count; ++i)
            QCOMPARE(recent.entry(i), restarted.entry(i));
        QVERIFY(recent.separatorVisible());
    }
};

QTEST_APPLESS_MAIN(TestPreferences)
#include "tst_preferences.moc"
