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

// A file, its pairs, the bytes of context and the most occurrences listed; each occurrence listed as "offset pair:
// hex before => hex after | characters before => characters after", and how many the scan counted.
struct ContextCase
{
    const char *name;
    QByteArray bytes;
    QList<QByteArray> finds, replaces;
    int context;
    qint64 limit;
    QStringList listed;
    qint64 count;
};
const ContextCase kContexts[] = {
    {"at the file's start", "abcdef", {"ab"}, {"X"}, 2, 10, {u"0 (0x0) 0: [61 62] 63 64 => [58] 63 64 | [ab]cd => [X]cd"_s}, 1},
    {"at the file's end, empty replacement", "abcdef", {"ef"}, {""}, 2, 10, {u"4 (0x4) 0: 63 64 [65 66] => 63 64 [] | cd[ef] => cd[]"_s}, 1},
    // A neighbour inside the context is shown as the file holds it.
    {"overlapping neighbours", "xaxax", {"a"}, {"b"}, 2, 10,
        {u"1 (0x1) 0: 78 [61] 78 61 => 78 [62] 78 61 | x[a]xa => x[b]xa"_s, u"3 (0x3) 0: 61 78 [61] 78 => 61 78 [62] 78 | ax[a]x => ax[b]x"_s}, 2},
    // Controls, the unassigned 81 and the soft hyphen AD have no visible character; 80 is the euro sign.
    {"binary bytes", QByteArray("\x00\x01\x80\xff\x81\xad\x7f", 7), {"\xff"}, {"\r\n"}, 3, 10,
        {u"3 (0x3) 0: 00 01 80 [FF] 81 AD 7F => 00 01 80 [0D 0A] 81 AD 7F | ..\u20ac[\u00ff]... => ..\u20ac[..]..."_s}, 1},
    // The first pair in list order wins where both match; the scan goes on behind the match.
    {"two pairs", "abcab", {"ab", "c", "b"}, {"1", "2", "3"}, 1, 10,
        {u"0 (0x0) 0: [61 62] 63 => [31] 63 | [ab]c => [1]c"_s, u"2 (0x2) 1: 62 [63] 61 => 62 [32] 61 | b[c]a => b[2]a"_s,
            u"3 (0x3) 0: 63 [61 62] => 63 [31] | c[ab] => c[1]"_s},
        3},
    {"the limit keeps the first, counts all", "aaaaa", {"a"}, {"b"}, 0, 2,
        {u"0 (0x0) 0: [61] => [62] | [a] => [b]"_s, u"1 (0x1) 0: [61] => [62] | [a] => [b]"_s}, 5},
    {"empty file", "", {"a"}, {"b"}, 8, 10, {}, 0},
};

} // namespace

class TestMatches : public QObject
{
    Q_OBJECT

private slots:
    void contexts_data() { AddRows(kContexts); }
    void contexts()
    {
        QFETCH(int, row);
        const ContextCase &c = kContexts[row];
        QTemporaryDir dir;
        const MatchList list = ListMatches(WriteFileIn(dir.path(), u"f"_s, c.bytes),
            ArgumentTables({c.finds.begin(), c.finds.end()}, {c.replaces.begin(), c.replaces.end()}), c.limit, c.context);
        QVERIFY2(list.ok(), qPrintable(list.error()));
        QStringList listed;
        for (const MatchContext &m : list.rows)
            listed << u"%1 %2: %3 => %4 | %5 => %6"_s.arg(OffsetText(m.offset))
                          .arg(m.pair)
                          .arg(ContextHex(m, false), ContextHex(m, true), ContextCharacters(m, false), ContextCharacters(m, true));
        QCOMPARE(listed, c.listed);
        QCOMPARE(list.scan.outcome.count, c.count);
        QCOMPARE(list.scan.status.st_size, c.bytes.size());
    }

    // A pattern's occurrence has its own length, and a template's replacement
    // is what it made of that occurrence.
    void patterns()
    {
        QTemporaryDir dir;
        FindPattern word {FindPattern::Kind::Regex, "(\\w)(\\w*)", {}, FindPattern::Fold::None, false, false};
        FindPattern folded {FindPattern::Kind::Bytes, "AB", {}, FindPattern::Fold::Windows1252, false, false};
        const PatternTables tables = BuildPatternTables({folded, word}, {{Replacement::Kind::Bytes, "-"}, {Replacement::Kind::Template, "$2$1"}});
        const MatchList list = ListMatches(WriteFileIn(dir.path(), u"f"_s, "xyz ab"), tables.tables, 10, 1);
        QVERIFY2(list.ok(), qPrintable(list.error()));
        QStringList listed;
        for (const MatchContext &m : list.rows)
            listed << u"%1 %2: %3"_s.arg(m.offset).arg(m.pair).arg(ContextCharacters(m, false) + u" => "_s + ContextCharacters(m, true));
        QCOMPARE(listed, (QStringList {u"0 1: [xyz]  => [yzx] "_s, u"4 0:  [ab] =>  [-]"_s}));
    }

    void failures()
    {
        QTemporaryDir dir;
        const ArgumentTables pairs({"a"}, {"b"});
        const QString gone = dir.filePath(u"gone"_s);
        MatchList list = ListMatches(gone, pairs, 10, 8);
        QCOMPARE(std::tuple(list.ok(), list.rows.size(), list.error()), std::tuple(false, size_t(0), FileErrorMessage(ENOENT, gone)));
        list = ListMatches(dir.path(), pairs, 10, 8);
        QCOMPARE(list.error(), FileErrorMessage(EISDIR, dir.path()));
        MatchContext context;
        QCOMPARE(ReadMatchContext(-1, {0, 0}, "a", "b", 8, context), EBADF);
        QCOMPARE(OffsetText((qint64(1) << 32) + 255), u"4294967551 (0x1000000FF)"_s); // beyond 32 bits, upper-case digits
    }
};

QTEST_APPLESS_MAIN(TestMatches)
#include "tst_matches.moc"
