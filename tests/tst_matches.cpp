// The occurrences of one file with the bytes around them, as the Matches window lists them, without a window.

#include "engine/matchcontext.h"
#include "files/filesystem.h"
#include "support/testsupport.h"

#include <QTemporaryDir>
#include <QTest>

#include <cerrno>

using namespace perrox;
using namespace perrox::test;
using namespace Qt::StringLiterals;

namespace {

using Bytes = QList<QByteArray>;

// One occurrence as "offset pair: hex before => hex after | characters before => characters after".
QString Described(const MatchContext &c)
{
    return u"%1 %2: %3 => %4 | %5 => %6"_s.arg(OffsetText(c.offset))
        .arg(c.pair)
        .arg(ContextHex(c, false), ContextHex(c, true), ContextCharacters(c, false), ContextCharacters(c, true));
}

} // namespace

class TestMatches : public QObject
{
    Q_OBJECT

private slots:
    void contexts_data()
    {
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<Bytes>("finds");
        QTest::addColumn<Bytes>("replaces");
        QTest::addColumn<int>("context");
        QTest::addColumn<qint64>("limit");
        QTest::addColumn<QStringList>("expected");
        QTest::addColumn<qint64>("count");

        QTest::newRow("at the file's start") << QByteArray("abcdef") << Bytes {"ab"} << Bytes {"X"} << 2 << qint64(10)
                                             << QStringList {u"0 (0x0) 0: [61 62] 63 64 => [58] 63 64 | [ab]cd => [X]cd"_s} << qint64(1);
        QTest::newRow("at the file's end, empty replacement") << QByteArray("abcdef") << Bytes {"ef"} << Bytes {""} << 2 << qint64(10)
                                                              << QStringList {u"4 (0x4) 0: 63 64 [65 66] => 63 64 [] | cd[ef] => cd[]"_s} << qint64(1);
        // A neighbour inside the context is shown as the file holds it.
        QTest::newRow("overlapping neighbours") << QByteArray("xaxax") << Bytes {"a"} << Bytes {"b"} << 2 << qint64(10)
                                                << QStringList {u"1 (0x1) 0: 78 [61] 78 61 => 78 [62] 78 61 | x[a]xa => x[b]xa"_s,
                                                       u"3 (0x3) 0: 61 78 [61] 78 => 61 78 [62] 78 | ax[a]x => ax[b]x"_s}
                                                << qint64(2);
        // Controls, the unassigned 81 and the soft hyphen AD have no visible character; 80 is the euro sign.
        QTest::newRow("binary bytes")
            << QByteArray("\x00\x01\x80\xff\x81\xad\x7f", 7) << Bytes {"\xff"} << Bytes {"\r\n"} << 3 << qint64(10)
            << QStringList {u"3 (0x3) 0: 00 01 80 [FF] 81 AD 7F => 00 01 80 [0D 0A] 81 AD 7F | ..\u20ac[\u00ff]... => ..\u20ac[..]..."_s} << qint64(1);
        // The first pair in list order wins where both match; the scan goes on behind the match.
        QTest::newRow("two pairs") << QByteArray("abcab") << Bytes {"ab", "c", "b"} << Bytes {"1", "2", "3"} << 1 << qint64(10)
                                   << QStringList {u"0 (0x0) 0: [61 62] 63 => [31] 63 | [ab]c => [1]c"_s,
                                          u"2 (0x2) 1: 62 [63] 61 => 62 [32] 61 | b[c]a => b[2]a"_s, u"3 (0x3) 0: 63 [61 62] => 63 [31] | c[ab] => c[1]"_s}
                                   << qint64(3);
        QTest::newRow("the limit keeps the first, counts all")
            << QByteArray("aaaaa") << Bytes {"a"} << Bytes {"b"} << 0 << qint64(2)
            << QStringList {u"0 (0x0) 0: [61] => [62] | [a] => [b]"_s, u"1 (0x1) 0: [61] => [62] | [a] => [b]"_s} << qint64(5);
        QTest::newRow("empty file") << QByteArray() << Bytes {"a"} << Bytes {"b"} << 8 << qint64(10) << QStringList() << qint64(0);
    }

    void contexts()
    {
        QFETCH(QByteArray, bytes);
        QFETCH(Bytes, finds);
        QFETCH(Bytes, replaces);
        QFETCH(int, context);
        QFETCH(qint64, limit);
        QFETCH(QStringList, expected);
        QFETCH(qint64, count);
        QTemporaryDir dir;
        const QString path = WriteFileIn(dir.path(), u"f"_s, bytes);
        const MatchList list = ListMatches(path, ArgumentTables({finds.begin(), finds.end()}, {replaces.begin(), replaces.end()}), limit, context);
        QVERIFY2(list.ok(), qPrintable(list.error()));
        QStringList described;
        for (const MatchContext &c : list.rows)
            described << Described(c);
        QCOMPARE(described, expected);
        QCOMPARE(list.scan.outcome.count, count);
        QCOMPARE(list.scan.status.st_size, bytes.size());
    }

    void offsets_data()
    {
        QTest::addColumn<qint64>("offset");
        QTest::addColumn<QString>("text");
        QTest::newRow("zero") << qint64(0) << u"0 (0x0)"_s;
        QTest::newRow("upper-case digits") << qint64(1234) << u"1234 (0x4D2)"_s;
        QTest::newRow("beyond 4 GiB") << (qint64(1) << 32) + 255 << u"4294967551 (0x1000000FF)"_s;
    }

    void offsets()
    {
        QFETCH(qint64, offset);
        QFETCH(QString, text);
        QCOMPARE(OffsetText(offset), text);
    }

    void failures()
    {
        QTemporaryDir dir;
        const ArgumentTables pairs({"a"}, {"b"});
        const QString gone = dir.filePath(u"gone"_s);
        MatchList list = ListMatches(gone, pairs, 10, 8);
        QVERIFY(!list.ok() && list.rows.empty());
        QCOMPARE(list.error(), FileErrorMessage(ENOENT, gone));
        list = ListMatches(dir.path(), pairs, 10, 8);
        QCOMPARE(list.error(), FileErrorMessage(EISDIR, dir.path()));
        MatchContext context;
        QCOMPARE(ReadMatchContext(-1, {0, 0}, "a", "b", 8, context), EBADF);
    }
};

QTEST_APPLESS_MAIN(TestMatches)
#include "tst_matches.moc"
