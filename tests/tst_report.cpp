#include "arguments/pairchecks.h"
#include "engine/runreport.h"

#include <QRandomGenerator>
#include <QTest>

using namespace perrox;
using namespace Qt::StringLiterals;

namespace {

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
    void totalsText_data();
    void totalsText();
    void checkPairsAgainstOracle_data();
    void checkPairsAgainstOracle();
};

// The indexed checks give what checking every pair against every other
// gives, over many pairs of few letters, where finds are often equal,
// prefixes of each other and parts of replacements: a later find that an
// earlier one equals or starts never matches, and a replacement that holds
// a find would be replaced again; empty finds take no part.
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
        QCOMPARE(warnings[i].any(), shadowedBy >= 0 || replacementFinds >= 0);
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
