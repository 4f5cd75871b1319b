#include "arguments/pairchecks.h"
#include "engine/runreport.h"
#include "files/filesystem.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
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

// The fields of each record of an RFC 4180 text.
QList<QList<QByteArray>> ParseCsv(const QByteArray &csv)
{
    QList<QList<QByteArray>> records;
    QList<QByteArray> record;
    QByteArray field;
    bool quoted = false;
    for (qsizetype i = 0; i < csv.size(); ++i) {
        const char c = csv.at(i);
        if (quoted) {
            if (c == '"' && csv.mid(i + 1, 1) == "\"")
                field += csv.at(++i);
            else if (c == '"')
                quoted = false;
            else
                field += c;
        } else if (c == '"') {
            quoted = true;
        } else if (c == ',') {
            record.append(std::exchange(field, {}));
        } else if (c == '\r' && csv.mid(i + 1, 1) == "\n") {
            record.append(std::exchange(field, {}));
            records.append(std::exchange(record, {}));
            ++i;
        } else {
            field += c;
        }
    }
    return records;
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

// Three pairs, the second never matching; a file per result, with paths that need quoting.
RunReport SampleReport()
{
    RunReport report;
    report.mode = RunMode::Replace;
    report.finds = Split("ab|abc|\r\n");
    report.replaces = Split("x||\n");
    report.paths = {u"/data/plain.txt"_s, u"/data/a,b.txt"_s, u"/data/say \"hi\".txt"_s, u"/data/two\nlines"_s, DecodeNativePath("/data/caf\xe9")};
    report.rows = {Row(RowState::Replaced, {3, 0, 2}), Row(RowState::Unchanged, {0, 0, 0}), Row(RowState::Failed, {1, 0, 0}, "Permission denied - /data/say"),
        Row(RowState::NotProcessed, {}), Row(RowState::Replaced, {0, 0, 7})};
    report.end = RunResult::End::CopyFailed;
    return report;
}

} // namespace

class TestReport : public QObject
{
    Q_OBJECT

private slots:
    void checkPairs_data();
    void checkPairs();
    void csv();
    void json();
    void words();
    void totalsText_data();
    void totalsText();
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

void TestReport::csv()
{
    const RunReport report = SampleReport();
    const QByteArray csv = ReportCsv(report);
    QVERIFY(csv.startsWith("path,count,result,pair1,pair2,pair3\r\n"));
    QVERIFY(csv.contains("\r\n\"/data/a,b.txt\",0,unchanged,0,0,0\r\n\"/data/say \"\"hi\"\".txt\",1,failed,1,0,0\r\n"));
    const QList<QList<QByteArray>> records = ParseCsv(csv);
    QCOMPARE(records.size(), 1 + report.paths.size());
    for (qsizetype i = 0; i < report.paths.size(); ++i) {
        const RowResult &row = report.rows[size_t(i)];
        QList<QByteArray> want {NativePath(report.paths[i]), QByteArray::number(row.count), RowStateWord(row.state).toUtf8()};
        for (size_t p = 0; p < 3; ++p)
            want.append(QByteArray::number(p < row.perPair.size() ? row.perPair[p] : 0));
        QCOMPARE(records.at(i + 1), want);
    }
    QCOMPARE(records.last().first(), QByteArray("/data/caf\xe9")); // the name's own bytes
}

void TestReport::json()
{
    const RunReport report = SampleReport();
    const QByteArray text = ReportJson(report);
    QVERIFY(text.endsWith("}\n") && text.count('\n') == 1);
    QJsonParseError error;
    const QJsonObject o = QJsonDocument::fromJson(text, &error).object();
    QCOMPARE(error.error, QJsonParseError::NoError);
    QCOMPARE(o.value(u"mode"_s).toString(), u"replace"_s);
    QCOMPARE(o.value(u"end"_s).toString(), u"commit failed"_s);
    const QJsonArray pairs = o.value(u"pairs"_s).toArray();
    const QStringList pairText {u"6162 78 4 null"_s, u"616263  0 1"_s, u"0d0a 0a 9 null"_s};
    for (qsizetype p = 0; p < pairs.size(); ++p) {
        const QJsonObject pair = pairs.at(p).toObject();
        const QJsonValue shadow = pair.value(u"never_matches_because_of"_s);
        QCOMPARE(u"%1 %2 %3 %4"_s.arg(pair.value(u"find"_s).toString(), pair.value(u"replace"_s).toString())
                     .arg(pair.value(u"count"_s).toInteger())
                     .arg(shadow.isNull() ? u"null"_s : QString::number(shadow.toInt())),
            pairText.value(p));
    }
    const QJsonArray files = o.value(u"files"_s).toArray();
    QCOMPARE(files.size(), report.paths.size());
    for (qsizetype i = 0; i < files.size(); ++i) {
        const QJsonObject f = files.at(i).toObject();
        const RowResult &row = report.rows[size_t(i)];
        QCOMPARE(f.value(u"path"_s).toString(), report.paths.at(i));
        QCOMPARE(f.value(u"count"_s).toInteger(), row.count);
        QCOMPARE(f.value(u"result"_s).toString(), RowStateWord(row.state));
        QCOMPARE(f.value(u"error"_s), row.error.isEmpty() ? QJsonValue() : QJsonValue(row.error));
        qint64 sum = 0;
        for (const QJsonValue &n : f.value(u"per_pair"_s).toArray())
            sum += n.toInteger();
        QCOMPARE(f.value(u"per_pair"_s).toArray().size(), 3);
        QCOMPARE(sum, row.count);
    }
    const QJsonObject totals = o.value(u"totals"_s).toObject();
    QCOMPARE(totals, (QJsonObject {{u"files"_s, 5}, {u"files_with_occurrences"_s, 3}, {u"occurrences"_s, 13}, {u"failed"_s, 1}}));
}

void TestReport::words()
{
    using End = RunResult::End;
    const std::pair<End, const char *> ends[] = {{End::NothingToDo, "completed"}, {End::Completed, "completed"}, {End::Cancelled, "cancelled"},
        {End::StoppedAtNo, "stopped at No"}, {End::CopyFailed, "commit failed"}, {End::SetupFailed, "setup failed"}};
    for (const auto &[end, word] : ends)
        QCOMPARE(RunEndWord(end), QString::fromUtf8(word));
    QCOMPARE(QStringList({RunModeWord(RunMode::Count), RunModeWord(RunMode::Replace), RunModeWord(RunMode::ReplaceAs)}),
        QStringList({u"count"_s, u"replace"_s, u"replace-as"_s}));
    QCOMPARE(QStringList({RowStateWord(RowState::Counted), RowStateWord(RowState::Replaced), RowStateWord(RowState::Unchanged), RowStateWord(RowState::Failed),
                 RowStateWord(RowState::NotProcessed)}),
        QStringList({u"counted"_s, u"replaced"_s, u"unchanged"_s, u"failed"_s, u"not processed"_s}));
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
