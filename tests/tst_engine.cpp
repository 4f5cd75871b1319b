#include "commit/temporaryfile.h"
#include "engine/replaceengine.h"
#include "files/filenames.h"
#include "files/filesystem.h"
#include "support/testsupport.h"

#include <QRandomGenerator>
#include <QTemporaryDir>
#include <QTest>

#include <cerrno>
#include <cstring>
#include <sys/stat.h>
#include <utility>

using namespace perrox;
using namespace perrox::test;
using namespace Qt::StringLiterals;

namespace {

using Bytes = QList<QByteArray>;

// The literal block-by-block scan the engine is checked against: blocks of
// blockSize bytes (grown for long finds), a carry of the unscanned tail,
// every position tried against every find in order. amounts: what each block
// adds to the progress, then the final carry.
struct Naive
{
    QByteArray output;
    qint64 count = 0;
    std::vector<qint64> perPair;
    QList<std::pair<qint64, int>> at; // offset and pair of each occurrence
    QList<qint64> amounts;
    qint64 blockSize = 0;
};
Naive NaiveReplace(const QByteArray &source, const Bytes &finds, const Bytes &replaces, qint64 blockSize)
{
    Naive r;
    r.perPair.assign(size_t(finds.size()), 0);
    qint64 maxLen = 0;
    for (const QByteArray &f : finds)
        maxLen = std::max<qint64>(maxLen, f.size());
    r.blockSize = double(blockSize) / 2.0 < double(maxLen) ? std::max(blockSize, 1024 * ((2 * maxLen) / 1024)) : blockSize;
    qint64 bufferStart = 0;
    const auto scan = [&](const QByteArray &buffer, qint64 limit) {
        qint64 pos = 0;
        while (pos < limit) {
            qsizetype i = 0; // the first find that fits and matches at pos
            while (i < finds.size()
                && (pos + finds[i].size() > buffer.size() || std::memcmp(buffer.constData() + pos, finds[i].constData(), size_t(finds[i].size())) != 0))
                ++i;
            if (i < finds.size()) {
                r.output += replaces[i];
                ++r.count;
                ++r.perPair[size_t(i)];
                r.at.append({bufferStart + pos, int(i)});
                pos += finds[i].size();
            } else {
                r.output += buffer.at(pos++);
            }
        }
        return pos;
    };
    QByteArray carry;
    for (qint64 readPos = 0; readPos < source.size(); readPos += r.blockSize) {
        bufferStart = readPos - carry.size();
        const QByteArray buffer = carry + source.mid(readPos, r.blockSize);
        carry = buffer.mid(scan(buffer, buffer.size() - maxLen + 1));
        r.amounts.append(buffer.size() - carry.size());
    }
    bufferStart = source.size() - carry.size();
    scan(carry, carry.size());
    r.amounts.append(carry.size());
    return r;
}

// Random pairs and data that hit the hard cases often: a small alphabet,
// finds that are prefixes or duplicates of others, empty replacements,
// replacements holding their own find, and occurrences planted anywhere.
struct Scenario
{
    Bytes finds, replaces;
    QByteArray data;
};
Scenario makeScenario(quint32 seed, const QList<int> &longLengths, int maxData)
{
    QRandomGenerator rng(seed);
    const QByteArray alphabet = rng.bounded(2) ? QByteArray("ab") : QByteArray("a\x80\xff\0", 4); // signed or not, every byte value
    const auto text = [&](int len) { return RandomBytes(rng.generate(), len, alphabet); };
    const auto some = [&](const auto &list) { return list.at(rng.bounded(int(list.size()))); };
    Scenario s;
    for (int i = 1 + rng.bounded(8); i > 0; --i) {
        const int kind = rng.bounded(10);
        QByteArray f = text(1 + rng.bounded(6));
        if (!s.finds.empty() && kind == 0)
            f = some(s.finds); // duplicate
        else if (!s.finds.empty() && kind == 1)
            f = some(s.finds) + text(1 + rng.bounded(3)); // an earlier find is its prefix
        else if (!s.finds.empty() && kind == 2 && s.finds.back().size() > 1)
            f = s.finds.back().chopped(1); // prefix of the one before
        else if (!longLengths.isEmpty() && kind >= 7)
            f = text(some(longLengths));
        s.finds.append(f);
        const int r = rng.bounded(5);
        s.replaces.append(r == 0 ? QByteArray() : r == 1 ? f + f : text(rng.bounded(6)));
    }
    const int size = rng.bounded(maxData);
    while (s.data.size() < size) {
        const QByteArray f = some(s.finds);
        s.data += rng.bounded(3) ? text(1 + rng.bounded(40)) : rng.bounded(4) ? f : f.left(rng.bounded(int(f.size()))); // whole, or cut short
    }
    s.data.truncate(size);
    return s;
}

} // namespace

class TestEngine : public QObject
{
    Q_OBJECT

private slots:
    void againstNaiveScan_data();
    void againstNaiveScan();
    void failures_data();
    void failures();
    void lateFirstOccurrence_data();
    void lateFirstOccurrence();
    void temporaryFiles();
};

void TestEngine::againstNaiveScan_data()
{
    QTest::addColumn<quint32>("seed");
    QTest::addColumn<QList<int>>("longLengths");
    QTest::addColumn<int>("maxData");
    QTest::addColumn<int>("cases");
    QTest::newRow("short finds") << 1u << QList<int> {} << 3000 << 150;
    QTest::newRow("short finds, data across many blocks") << 2u << QList<int> {} << 20000 << 30;
    // A find of 2048 bytes keeps the block of 4096, one of 2049 too (2 * 2049 rounds down), one of 3000 grows it to 5120.
    QTest::newRow("long finds 2048 2049 3000 5000") << 3u << QList<int> {2048, 2049, 3000, 5000} << 30000 << 30;
}

// Output, count, every progress amount and the block size must be those of the
// literal block scan, for every block size and every read size.
void TestEngine::againstNaiveScan()
{
    QFETCH(quint32, seed);
    QFETCH(QList<int>, longLengths);
    QFETCH(int, maxData);
    QFETCH(int, cases);
    QTemporaryDir dir;
    const QString path = dir.filePath(u"source.bin"_s);
    for (int c = 0; c < cases; ++c) {
        const Scenario s = makeScenario(seed * 100000 + quint32(c), longLengths, maxData);
        const ArgumentTables pairs({s.finds.begin(), s.finds.end()}, {s.replaces.begin(), s.replaces.end()});
        QVERIFY(WriteFile(path, s.data));
        for (qint64 blockSize : {4096, 1, 2, 3, 7, 64, 1000}) {
            const Naive expected = NaiveReplace(s.data, s.finds, s.replaces, blockSize);
            for (qint64 ioChunk : {qint64(1), 3 * blockSize, qint64(1) << 20}) {
                for (bool discard : {false, true}) {
                    EngineState state;
                    state.dblActVal = 123; // the engine adds to what the run has done
                    state.lngBlockSize = blockSize;
                    state.ioChunk = ioChunk;
                    MemoryOutput output;
                    output.discard = discard;
                    RecordingObserver observer;
                    const ReplaceOutcome outcome = ReplaceInFile(path, output, pairs, state, observer);
                    QList<qint64> amounts; // added to the progress at each report
                    double previous = 123;
                    for (double p : observer.positions)
                        amounts.append(qint64(p - std::exchange(previous, p)));
                    const QByteArray where = u"case %1 block %2 chunk %3 discard %4"_s.arg(c).arg(blockSize).arg(ioChunk).arg(discard).toUtf8();
                    QVERIFY2(outcome.status == ReplaceOutcome::Status::Done, where);
                    QVERIFY2(outcome.error.isEmpty(), where);
                    QVERIFY2(outcome.count == expected.count, where);
                    QVERIFY2(outcome.perPair == expected.perPair, where);
                    QVERIFY2(amounts == expected.amounts, where);
                    QVERIFY2(state.dblActVal == 123.0 + double(s.data.size()), where);
                    QVERIFY2(state.lngBlockSize == expected.blockSize, where);
                    // The output exists only where something was replaced.
                    const bool written = !discard && expected.count > 0;
                    QVERIFY2(output.opens == (written ? 1 : 0), where);
                    QVERIFY2(output.bytes == (written ? expected.output : QByteArray()), where);
                }
            }
        }
        // The occurrences listed are those replaced, in order, cut at the limit.
        const Naive expected = NaiveReplace(s.data, s.finds, s.replaces, 4096);
        for (qint64 limit : {qint64(0), qint64(3), qint64(1) << 40}) {
            const OccurrenceScan scan = ScanOccurrences(path, pairs, limit);
            QList<std::pair<qint64, int>> at;
            for (const Occurrence &o : scan.first)
                at.append({o.offset, o.pair});
            QCOMPARE(at, expected.at.first(std::min<qint64>(limit, expected.at.size())));
            QCOMPARE(scan.outcome.count, expected.count);
            QCOMPARE(scan.outcome.perPair, expected.perPair);
            QCOMPARE(qint64(scan.status.st_size), s.data.size());
        }
    }
}

void TestEngine::failures_data()
{
    QTest::addColumn<QString>("source"); // in the test's folder; "" the folder itself
    QTest::addColumn<QString>("output"); // "memory", "full" (fails past 5000 bytes), "unopenable", "no folder" (a temporary file)
    QTest::addColumn<QString>("error"); // %1 the source, %2 the test's folder; a final "*" for a prefix
    QTest::newRow("missing source") << u"missing.bin"_s << u"memory"_s << SystemErrorText(ENOENT) + u" - %1"_s;
    QTest::newRow("a folder as source") << QString() << u"memory"_s << SystemErrorText(EISDIR) + u" - %1"_s;
    QTest::newRow("output folder missing") << u"source.bin"_s << u"no folder"_s << SystemErrorText(ENOENT) + u" - %2/no-such-folder/~PX*"_s;
    QTest::newRow("write fails midway") << u"source.bin"_s << u"full"_s << SystemErrorText(ENOSPC) + u" - memory"_s;
    // A file without a size has its output opened first; /proc/self/mem fails at its first read.
    QTest::newRow("no size, output unopenable") << u"/proc/self/status"_s << u"unopenable"_s << SystemErrorText(EACCES) + u" - memory"_s;
    QTest::newRow("read fails") << u"/proc/self/mem"_s << u"memory"_s << SystemErrorText(EIO) + u" - %1"_s;
}

// A failure gives its message and the count 0, and shows nothing itself.
void TestEngine::failures()
{
    QFETCH(QString, source);
    QFETCH(QString, output);
    QFETCH(QString, error);
    QTemporaryDir dir;
    QVERIFY(WriteFile(dir.filePath(u"source.bin"_s), QByteArray(10000, 'a')));
    const QString path = source.startsWith(u'/') ? source : source.isEmpty() ? dir.path() : dir.filePath(source);
    error.replace(u"%1"_s, path).replace(u"%2"_s, dir.path());
    RecordingObserver observer;
    EngineState state;
    MemoryOutput memory;
    memory.failAfter = output == u"full"_s ? 5000 : -1;
    memory.openError = output == u"unopenable"_s ? EACCES : 0;
    std::mt19937 rng(1);
    TemporaryFile temporary(dir.filePath(u"no-such-folder"_s), rng);
    const ReplaceOutcome r
        = ReplaceInFile(path, output == u"no folder"_s ? static_cast<ReplaceOutput &>(temporary) : memory, ArgumentTables({"a"}, {"b"}), state, observer);
    QCOMPARE(r.status, ReplaceOutcome::Status::Failed);
    QCOMPARE(r.count, 0);
    if (error.endsWith(u'*'))
        QVERIFY2(r.error.startsWith(error.chopped(1)), qPrintable(r.error));
    else
        QCOMPARE(r.error, error);
}

// The only occurrence at the end of a large file: what comes before it is copied to the output then, with the window
// answering and a cancel stopping the copy at once. Size and cancel in MiB written (-1 none), then what was written.
void TestEngine::lateFirstOccurrence_data()
{
    QTest::addColumn<int>("mib");
    QTest::addColumn<int>("cancelAt");
    QTest::addColumn<int>("written");
    QTest::newRow("not cancelled") << 6 << -1 << 6;
    QTest::newRow("cancelled after the first MiB") << 6 << 1 << 1;
    QTest::newRow("cancelled after the third MiB") << 6 << 3 << 3;
}

void TestEngine::lateFirstOccurrence()
{
    QFETCH(int, mib);
    QFETCH(int, cancelAt);
    QFETCH(int, written);
    QTemporaryDir dir;
    const QString path = WriteFileIn(dir.path(), u"big.bin"_s, QByteArray(mib << 20, 'a') + "X");
    RecordingObserver observer;
    EngineState state;
    MemoryOutput memory;
    observer.cancelWhen = [&] { return cancelAt >= 0 && memory.bytes.size() >= qsizetype(cancelAt) << 20; };
    const ReplaceOutcome r = ReplaceInFile(path, memory, ArgumentTables({"X"}, {"Y"}), state, observer);
    QCOMPARE(r.status, cancelAt < 0 ? ReplaceOutcome::Status::Done : ReplaceOutcome::Status::Cancelled);
    QCOMPARE(memory.bytes.size() >> 20, written);
    QCOMPARE(memory.bytes.endsWith('Y'), cancelAt < 0);
    // A pump for every block read and for every MiB copied.
    QCOMPARE_GE(observer.pumps, cancelAt < 0 ? (mib << 8) + mib - 1 : 1);
}

void TestEngine::temporaryFiles()
{
    QTemporaryDir dir;
    // An exact path: created 0600, holding the result; the source stays.
    const QString source = WriteFileIn(dir.path(), u"in.txt"_s, "one two one");
    const QString out = dir.filePath(u"out.txt"_s);
    {
        RecordingObserver observer;
        EngineState state;
        TemporaryFile output(out);
        QCOMPARE(ReplaceInFile(source, output, ArgumentTables({"one"}, {"1"}), state, observer).count, 2);
        output.release();
    }
    QCOMPARE(ReadFile(out), "1 two 1"_ba);
    QCOMPARE(ReadFile(source), "one two one"_ba);
    struct stat st;
    QCOMPARE(::stat(NativePath(out).constData(), &st), 0);
    QCOMPARE(st.st_mode & 0777, 0600u);

    // A drawn name never takes a file that exists: here the first one drawn.
    std::mt19937 probe(42);
    const QString foreign = TemporaryFileName(dir.path(), std::uniform_int_distribution<int>(10000, 99999)(probe));
    QVERIFY(WriteFile(foreign, "somebody else's"));
    std::mt19937 rng(42);
    {
        TemporaryFile temp(dir.path(), rng);
        QVERIFY(temp.open());
        QVERIFY(temp.close());
        QVERIFY(temp.path() != foreign);
        QVERIFY(temp.path().startsWith(dir.path() + u"/~PX"_s));
        QVERIFY(FileExists(temp.path()));
    }
    QCOMPARE(TemporaryFilesIn(dir.path()), QStringList {GetFileName(foreign)});
    TemporaryFile exact(foreign);
    QVERIFY(!exact.open());
    QCOMPARE(exact.error(), EEXIST);
    QCOMPARE(ReadFile(foreign), "somebody else's"_ba);
}

QTEST_APPLESS_MAIN(TestEngine)
#include "tst_engine.moc"
