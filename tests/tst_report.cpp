#include "arguments/pairchecks.h"
#include "engine/runreport.h"

#include <QRandomGenerator>
#include <QTest>

using namespace perrox;
using namespace Qt::StringLiterals;

namespace {

std::vector<QByteArray> Split(const char *list)
{
    std::vector<QByteArray> bytes;
    for (const QByteArray &b : QByteArray(list).split('|'))
        bytes.push_back(b);
    return bytes;
}

RowResult Row(RowState state, std::vector<qint64> perPair, const char *error = "")
{
    RowResult r;
    r.state = state;
    r.perPair = std::move(perPair);
    for (qint64 n : r.perPair)
        r.count += n;
    r.error = QString::fromUtf8(error);
    return r;
}

} // namespace

class TestReport : public QObject
{
    Q_OBJECT

private slots:
    void checkPairs_data();
    void checkPairs();
    void totalsText_data();
    void totalsText();
    void checkPairsAgainstOracle_data();
    void checkPairsAgainstOracle();
};

void TestReport::checkPairs_data()
{
    QTest::addColumn<QString>("finds");
    QTest::addColumn<QString>("replaces");
    QTest::addColumn<QString>("expected"); // per pair: shadowedBy/replacementFinds, '.' for none
    QTest::newRow("equal finds: the later never matches") << u"a|a"_s << u"x|y"_s << u"./. 0/."_s;
    QTest::newRow("an earlier find starts the later one") << u"ab|abc"_s << u"x|y"_s << u"./. 0/."_s;
    QTest::newRow("a later shorter find can still match") << u"abc|ab"_s << u"x|y"_s << u"./. ./."_s;
    QTest::newRow("the first earlier find in list order") << u"b|a|ab|abc"_s << u"x|x|x|x"_s << u"./. ./. 1/. 1/."_s;
    QTest::newRow("unrelated finds") << u"ab|ba|b"_s << u"1|2|3"_s << u"./. ./. ./."_s;
    QTest::newRow("a replacement holds another find") << u"a|b"_s << u"xbx|y"_s << u"./1 ./."_s;
    QTest::newRow("a replacement holds its own find") << u"a"_s << u"aa"_s << u"./0"_s;
    QTest::newRow("the first find in a replacement, in list order") << u"c|b|a"_s << u"abc||"_s << u"./0 ./. ./."_s;
    QTest::newRow("both at once") << u"a|a"_s << u"|ya"_s << u"./. 0/0"_s;
    QTest::newRow("empty finds, still being typed, take no part") << u"|a|"_s << u"a||"_s << u"./1 ./. ./."_s;
}

void TestReport::checkPairs()
{
    QFETCH(QString, finds);
    QFETCH(QString, replaces);
    QFETCH(QString, expected);
    const std::vector<PairWarning> warnings = CheckPairs(Split(finds.toLatin1()), Split(replaces.toLatin1()));
    QStringList got;
    for (const PairWarning &w : warnings) {
        const auto n = [](int i) { return i < 0 ? u"."_s : QString::number(i); };
        got.append(n(w.shadowedBy) + u'/' + n(w.replacementFinds));
        QCOMPARE(w.any(), w.shadowedBy >= 0 || w.replacementFinds >= 0);
    }
    QCOMPARE(got.join(u' '), expected);
}

// The indexed checks give what checking every pair against every other
// gives, over many pairs of few letters, where finds are often equal,
// prefixes of each other and parts of replacements.
void TestReport::checkPairsAgainstOracle_data()
{
    QTest::addColumn<int>("seed");
    QTest::addColumn<QByteArray>("alphabet");
    QTest::addColumn<int>("maxLength");
    QTest::newRow("two letters, short") << 1 << "ab"_ba << 3;
    QTest::newRow("three letters, longer") << 2 << "abc"_ba << 6;
    QTest::newRow("any byte, with empty finds") << 3 << QByteArray() << 2;
}

void TestReport::checkPairsAgainstOracle()
{
    QFETCH(int, seed);
    QFETCH(QByteArray, alphabet);
    QFETCH(int, maxLength);
    QRandomGenerator rng {quint32(seed)};
    const auto word = [&](int minLength) {
        QByteArray w;
        for (int n = minLength + int(rng.bounded(maxLength - minLength + 1)); n > 0; --n)
            w.append(alphabet.isEmpty() ? char(rng.bounded(256)) : alphabet.at(rng.bounded(int(alphabet.size()))));
        return w;
    };
    std::vector<QByteArray> finds, replaces;
    for (int i = 0; i < 300; ++i) {
        finds.push_back(word(alphabet.isEmpty() ? 0 : 1));
        replaces.push_back(word(0) + word(0));
    }
    const std::vector<PairWarning> warnings = CheckPairs(finds, replaces);
    for (size_t i = 0; i < finds.size(); ++i) {
        int shadowedBy = -1, replacementFinds = -1;
        for (size_t j = 0; j < i && shadowedBy < 0 && !finds[i].isEmpty(); ++j)
            if (!finds[j].isEmpty() && finds[i].startsWith(finds[j]))
                shadowedBy = int(j);
        for (size_t j = 0; j < finds.size() && replacementFinds < 0; ++j)
            if (!finds[j].isEmpty() && replaces[i].contains(finds[j]))
                replacementFinds = int(j);
        QCOMPARE(warnings[i].shadowedBy, shadowedBy);
        QCOMPARE(warnings[i].replacementFinds, replacementFinds);
    }
}

void TestReport::totalsText_data()
{
    QTest::addColumn<QList<int>>("rows"); // per row: the count, -1 failed, -2 not processed
    QTest::addColumn<QString>("text");
    QTest::newRow("no files") << QList<int> {} << u"0 occurrences in 0 of 0 files"_s;
    QTest::newRow("one occurrence, one file") << QList<int> {1} << u"1 occurrence in 1 of 1 file"_s;
    QTest::newRow("some files without") << QList<int> {3, 0, 1200, 0} << u"1203 occurrences in 2 of 4 files"_s;
    QTest::newRow("failed and not processed") << QList<int> {2, -1, -2, -2} << u"2 occurrences in 1 of 4 files, 1 failed, 2 not processed"_s;
}

void TestReport::totalsText()
{
    QFETCH(QList<int>, rows);
    QFETCH(QString, text);
    std::vector<RowResult> results;
    for (int n : rows)
        results.push_back(n == -1 ? Row(RowState::Failed, {}, "x") : n == -2 ? Row(RowState::NotProcessed, {}) : Row(RowState::Counted, {n}));
    QCOMPARE(RunTotalsText(TotalsOf(results)), text);
}

QTEST_GUILESS_MAIN(TestReport)

#include "tst_report.moc"
