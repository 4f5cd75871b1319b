#include "app/recentfiles.h"

#include <QTest>

using namespace perrox;
using namespace Qt::StringLiterals;

using Paths = std::array<QString, RecentFiles::Count>;

namespace {

RecentFiles Started(const Paths &paths)
{
    RecentFiles recent;
    recent.setPaths(paths);
    recent.ShowRecentFiles();
    return recent;
}

QStringList Captions(const RecentFiles &recent)
{
    QStringList captions;
    for (int i = 0; i < RecentFiles::Count; ++i)
        captions.append(recent.entry(i).caption);
    return captions;
}

QList<bool> Visible(const RecentFiles &recent)
{
    QList<bool> visible;
    for (int i = 0; i < RecentFiles::Count; ++i)
        visible.append(recent.entry(i).visible);
    return visible;
}

const Paths Five = {u"/a/one.arg"_s, u"/a/two.arg"_s, u"/a/three.arg"_s, u"/a/four.arg"_s, u"/a/five.arg"_s};

} // namespace

class TestRecentFiles : public QObject
{
    Q_OBJECT

private slots:
    void start_data();
    void start();
    void add_data();
    void add();
};

void TestRecentFiles::start_data()
{
    QTest::addColumn<Paths>("paths");
    QTest::addColumn<QStringList>("captions");
    QTest::addColumn<QList<bool>>("visible");
    QTest::addColumn<bool>("separator");

    const QString empty = u"<empty>"_s;
    QTest::addRow("none") << Paths() << QStringList {empty, empty, empty, empty, empty} << QList<bool> {false, false, false, false, false} << false;
    QTest::addRow("two") << Paths {u"/home/ann/args/fix.arg"_s, u"/tmp/crlf"_s} << QStringList {u"fix.arg"_s, u"crlf"_s, empty, empty, empty}
                         << QList<bool> {true, true, false, false, false} << true;
    QTest::addRow("gap left by a hand edit") << Paths {QString(), u"/b/two.arg"_s} << QStringList {empty, u"two.arg"_s, empty, empty, empty}
                                             << QList<bool> {false, true, false, false, false} << true;
}

void TestRecentFiles::start()
{
    QFETCH(Paths, paths);
    QFETCH(QStringList, captions);
    QFETCH(QList<bool>, visible);
    QFETCH(bool, separator);

    const RecentFiles recent = Started(paths);
    QCOMPARE(Captions(recent), captions);
    QCOMPARE(Visible(recent), visible);
    QCOMPARE(recent.separatorVisible(), separator);
    QCOMPARE(recent.paths(), paths);
}

void TestRecentFiles::add_data()
{
    QTest::addColumn<Paths>("before");
    QTest::addColumn<QString>("added");
    QTest::addColumn<Paths>("after");

    QTest::addRow("first file") << Paths() << u"/a/one.arg"_s << Paths {u"/a/one.arg"_s};
    QTest::addRow("new file drops the oldest") << Five << u"/a/six.arg"_s
                                               << Paths {u"/a/six.arg"_s, u"/a/one.arg"_s, u"/a/two.arg"_s, u"/a/three.arg"_s, u"/a/four.arg"_s};
    QTest::addRow("entry 3 moves to the top") << Five << u"/a/three.arg"_s
                                              << Paths {u"/a/three.arg"_s, u"/a/one.arg"_s, u"/a/two.arg"_s, u"/a/four.arg"_s, u"/a/five.arg"_s};
    QTest::addRow("entry 1 again") << Five << u"/a/one.arg"_s << Five;
    QTest::addRow("differs in case only") << Paths {u"/a/One.arg"_s} << u"/a/one.arg"_s << Paths {u"/a/one.arg"_s, u"/a/One.arg"_s};
    QTest::addRow("same name in another folder") << Paths {u"/a/x.arg"_s} << u"/b/x.arg"_s << Paths {u"/b/x.arg"_s, u"/a/x.arg"_s};
}

void TestRecentFiles::add()
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

QTEST_APPLESS_MAIN(TestRecentFiles)
#include "tst_recentfiles.moc"
