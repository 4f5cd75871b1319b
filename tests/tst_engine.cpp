#include "engine/matcher.h"
#include "engine/replaceengine.h"
#include "files/filenames.h"
#include "files/filesystem.h"
#include "files/temporaryfile.h"
#include "support/testsupport.h"

#include <QRandomGenerator>
#include <QTemporaryDir>
#include <QTest>

#include <cerrno>
#include <sys/stat.h>

using namespace perrox;
using namespace perrox::test;

namespace {

struct EngineRun
{
    ReplaceOutcome outcome;
    QByteArray output;
    QList<qint64> amounts;
    int opens = 0; // times the output was opened
    qint64 blockSize = 0;
};

// Runs the engine on bytes held in a file of dir.
void runEngine(EngineRun &run, const QTemporaryDir &dir, const QByteArray &source, const std::vector<QByteArray> &finds,
    const std::vector<QByteArray> &replaces, EngineState &state, int cancelAt = 0, bool discard = false)
{
    const QString path = dir.filePath(QStringLiteral("source.bin"));
    QVERIFY(WriteFile(path, source));
    MemoryOutput output;
    output.discard = discard;
    RecordingObserver observer;
    observer.cancelAt = cancelAt;
    const double start = state.dblActVal;
    run.outcome = ReplaceInFile(path, output, ArgumentTables(finds, replaces), state, observer);
    run.output = output.bytes;
    run.opens = output.opens;
    run.amounts = observer.amounts(start);
    run.blockSize = state.lngBlockSize;
}

// Random pair lists and data that hit the hard cases often: a small alphabet,
// finds that are prefixes or duplicates of others, empty replacements,
// replacements holding their own find, and occurrences planted anywhere.
struct Scenario
{
    std::vector<QByteArray> finds;
    std::vector<QByteArray> replaces;
    QByteArray data;
};

Scenario makeScenario(quint32 seed, const QList<int> &longLengths, int maxData)
{
    QRandomGenerator rng(seed);
    const QByteArray alphabet = rng.bounded(2) ? QByteArray("ab") : QByteArray("abc\0", 4);
    auto randomText = [&](int len) {
        QByteArray t;
        for (int i = 0; i < len; ++i)
            t.append(alphabet.at(rng.bounded(int(alphabet.size()))));
        return t;
    };
    Scenario s;
    const int pairs = 1 + rng.bounded(8);
    for (int i = 0; i < pairs; ++i) {
        QByteArray f;
        const int kind = rng.bounded(10);
        if (!s.finds.empty() && kind == 0)
            f = s.finds[size_t(rng.bounded(int(s.finds.size())))]; // duplicate
        else if (!s.finds.empty() && kind == 1)
            f = s.finds[size_t(rng.bounded(int(s.finds.size())))] + randomText(1 + rng.bounded(3)); // an earlier find is its prefix
        else if (!s.finds.empty() && kind == 2 && s.finds.back().size() > 1)
            f = s.finds.back().left(s.finds.back().size() - 1); // prefix of the one before
        else if (!longLengths.isEmpty() && kind >= 7)
            f = randomText(longLengths.at(rng.bounded(int(longLengths.size()))));
        else
            f = randomText(1 + rng.bounded(6));
        s.finds.push_back(f);
        const int r = rng.bounded(5);
        s.replaces.push_back(r == 0 ? QByteArray() : r == 1 ? f + f : randomText(rng.bounded(6)));
    }
    const int size = rng.bounded(maxData);
    while (s.data.size() < size) {
        if (rng.bounded(3) == 0) {
            const QByteArray &f = s.finds[size_t(rng.bounded(int(s.finds.size())))];
            s.data += rng.bounded(4) ? f : f.left(rng.bounded(int(f.size()))); // whole, or cut short
        } else {
            s.data += randomText(1 + rng.bounded(40));
        }
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
    void cases_data();
    void cases();
    void emptySource();
    void blocksOfTenThousandBytes();
    void blockSizeGrowsAndStays();
    void cancelAfterFirstOfThreeBlocks();
    void failures();
    void writesOutputFile();
    void temporaryFileNeverTakesAForeignFile();
};

void TestEngine::againstNaiveScan_data()
{
    QTest::addColumn<quint32>("seed");
    QTest::addColumn<QList<int>>("longLengths");
    QTest::addColumn<int>("maxData");
    QTest::addColumn<int>("cases");
    QTest::addRow("short finds") << 1u << QList<int> {} << 3000 << 150;
    QTest::addRow("short finds, data across many blocks") << 2u << QList<int> {} << 20000 << 30;
    QTest::addRow("long finds 2049 3000 5000") << 3u << QList<int> {2049, 3000, 5000} << 30000 << 30;
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
    QVERIFY(dir.isValid());
    for (int c = 0; c < cases; ++c) {
        const Scenario s = makeScenario(seed * 100000 + quint32(c), longLengths, maxData);
        for (qint64 blockSize : {qint64(4096), qint64(1), qint64(2), qint64(3), qint64(7), qint64(64), qint64(1000)}) {
            const NaiveResult expected = NaiveReplace(s.data, s.finds, s.replaces, blockSize);
            for (qint64 ioChunk : {qint64(1), 3 * blockSize, qint64(1) << 20}) {
                for (bool discard : {false, true}) {
                    EngineState state;
                    state.lngBlockSize = blockSize;
                    state.ioChunk = ioChunk;
                    EngineRun run;
                    runEngine(run, dir, s.data, s.finds, s.replaces, state, 0, discard);
                    const QByteArray where = QStringLiteral("case %1 block %2 chunk %3 discard %4").arg(c).arg(blockSize).arg(ioChunk).arg(discard).toUtf8();
                    QVERIFY2(run.outcome.status == ReplaceOutcome::Status::Done, where);
                    QVERIFY2(run.outcome.count == expected.count, where);
                    QVERIFY2(run.amounts == expected.amounts, where);
                    QVERIFY2(run.blockSize == expected.blockSize, where);
                    // The output exists only where something was replaced.
                    const bool written = !discard && expected.count > 0;
                    QVERIFY2(run.opens == (written ? 1 : 0), where);
                    QVERIFY2(written ? run.output == expected.output : run.output.isEmpty(), where);
                    QVERIFY2(run.outcome.error.isEmpty(), where);
                }
            }
        }
    }
}

void TestEngine::cases_data()
{
    QTest::addColumn<QByteArray>("source");
    QTest::addColumn<QList<QByteArray>>("finds");
    QTest::addColumn<QList<QByteArray>>("replaces");
    QTest::addColumn<QByteArray>("output");
    QTest::addColumn<qint64>("count");

    QTest::addRow("source shorter than the longest find")
        << QByteArray("ABC") << QList<QByteArray> {"12345678", "B"} << QList<QByteArray> {"x", "_"} << QByteArray("A_C") << qint64(1);
    QTest::addRow("no overlap: AA over AAA") << QByteArray("AAA") << QList<QByteArray> {"AA"} << QList<QByteArray> {"Z"} << QByteArray("ZA") << qint64(1);
    QTest::addRow("replacement holds its own find") << QByteArray("A") << QList<QByteArray> {"A"} << QList<QByteArray> {"AA"} << QByteArray("AA") << qint64(1);
    QTest::addRow("list order, not length") << QByteArray("ABC") << QList<QByteArray> {"AB", "ABC"} << QList<QByteArray> {"1", "2"} << QByteArray("1C")
                                            << qint64(1);
    QTest::addRow("leftmost position first") << QByteArray("xABCD") << QList<QByteArray> {"BC", "ABCD"} << QList<QByteArray> {"1", "2"} << QByteArray("x2")
                                             << qint64(1);
    QTest::addRow("duplicate find: only the first applies")
        << QByteArray("aXa") << QList<QByteArray> {"a", "a"} << QList<QByteArray> {"1", "2"} << QByteArray("1X1") << qint64(2);
    QTest::addRow("one pass, outputs are not rescanned")
        << QByteArray("ab") << QList<QByteArray> {"a", "b"} << QList<QByteArray> {"b", "a"} << QByteArray("ba") << qint64(2);
    QTest::addRow("empty replacement deletes") << QByteArray("x\r\ny\r\n") << QList<QByteArray> {"\r\n"} << QList<QByteArray> {""} << QByteArray("xy")
                                               << qint64(2);
    QTest::addRow("every byte value") << QByteArray("\x00\xff\x80\x00", 4) << QList<QByteArray> {QByteArray(1, '\0')} << QList<QByteArray> {"\xff"}
                                      << QByteArray("\xff\xff\x80\xff") << qint64(2);
    const QByteArray straddle = QByteArray(4094, 'x') + "ABCD" + QByteArray(100, 'y');
    QTest::addRow("occurrence across byte 4096") << straddle << QList<QByteArray> {"ABCD"} << QList<QByteArray> {"-"}
                                                 << QByteArray(4094, 'x') + "-" + QByteArray(100, 'y') << qint64(1);
    const QByteArray atEnd = QByteArray(8190, 'x') + "AB";
    QTest::addRow("occurrence in the final carry") << atEnd << QList<QByteArray> {"ABC", "AB"} << QList<QByteArray> {"1", "2"} << QByteArray(8190, 'x') + "2"
                                                   << qint64(1);
}

void TestEngine::cases()
{
    QFETCH(QByteArray, source);
    QFETCH(QList<QByteArray>, finds);
    QFETCH(QList<QByteArray>, replaces);
    QFETCH(QByteArray, output);
    QFETCH(qint64, count);
    QTemporaryDir dir;
    EngineState state;
    EngineRun run;
    runEngine(run, dir, source, {finds.begin(), finds.end()}, {replaces.begin(), replaces.end()}, state);
    QCOMPARE(run.output, output);
    QCOMPARE(run.outcome.count, count);
    qint64 total = 0;
    for (qint64 a : run.amounts)
        total += a;
    QCOMPARE(total, qint64(source.size()));
}

void TestEngine::emptySource()
{
    QTemporaryDir dir;
    EngineState state;
    state.dblActVal = 123;
    EngineRun run;
    runEngine(run, dir, QByteArray(), {"a"}, {"b"}, state);
    QCOMPARE(run.outcome.count, 0);
    QCOMPARE(run.outcome.status, ReplaceOutcome::Status::Done);
    QCOMPARE(run.output, QByteArray());
    QCOMPARE(run.amounts, QList<qint64> {0}); // the final update only
    QCOMPARE(state.dblActVal, 123.0);
}

void TestEngine::blocksOfTenThousandBytes()
{
    QTemporaryDir dir;
    EngineState state;
    EngineRun run;
    const QByteArray source = RandomBytes(7, 10000, "abcdef");
    runEngine(run, dir, source, {"z"}, {"y"}, state);
    QCOMPARE(run.amounts, (QList<qint64> {4096, 4096, 1808, 0}));
    QCOMPARE(run.opens, 0); // nothing to replace, nothing written
    QCOMPARE(state.dblActVal, 10000.0);
}

void TestEngine::blockSizeGrowsAndStays()
{
    QTemporaryDir dir;
    EngineState state;
    EngineRun run;
    runEngine(run, dir, QByteArray(10, 'a'), {QByteArray(2048, 'q')}, {""}, state);
    QCOMPARE(state.lngBlockSize, 4096); // 4096 / 2 is not below 2048
    runEngine(run, dir, QByteArray(10, 'a'), {QByteArray(2049, 'q')}, {""}, state);
    QCOMPARE(state.lngBlockSize, 4096); // 2 * 2049 rounds down to 4096
    runEngine(run, dir, QByteArray(10, 'a'), {QByteArray(3000, 'q')}, {""}, state);
    QCOMPARE(state.lngBlockSize, 5120);
    // A later file with a short find keeps the larger block.
    EngineRun later;
    runEngine(later, dir, QByteArray(12000, 'a'), {"b"}, {""}, state);
    QCOMPARE(state.lngBlockSize, 5120);
    QCOMPARE(later.amounts, (QList<qint64> {5120, 5120, 1760, 0}));
    UpdateBlockSize(state, 100);
    QCOMPARE(state.lngBlockSize, 5120);
}

void TestEngine::cancelAfterFirstOfThreeBlocks()
{
    QTemporaryDir dir;
    EngineState state;
    EngineRun run;
    const QByteArray source = "x" + QByteArray(4096 * 3 - 1, 'a');
    // The cancel arrives while events run after the first block: the second
    // block is still written and reported, then the file stops.
    runEngine(run, dir, source, {"aa"}, {"b"}, state, 2);
    QCOMPARE(run.outcome.status, ReplaceOutcome::Status::Cancelled);
    QCOMPARE(run.outcome.count, 0);
    QCOMPARE(run.amounts, (QList<qint64> {4095, 4096}));
    // Each block carries its last byte; the carry of the second is dropped.
    QCOMPARE(run.output, "x" + QByteArray(2047 + 2048, 'b'));
    QCOMPARE(state.dblActVal, 8191.0);
    QVERIFY(run.outcome.error.isEmpty());
}

void TestEngine::failures()
{
    QTemporaryDir dir;
    const ArgumentTables tables({"a"}, {"b"});
    const QString source = dir.filePath(QStringLiteral("source.bin"));
    QVERIFY(WriteFile(source, QByteArray(10000, 'a')));
    RecordingObserver observer;

    {
        EngineState state;
        MemoryOutput output;
        const QString missing = dir.filePath(QStringLiteral("missing.bin"));
        const ReplaceOutcome r = ReplaceInFile(missing, output, tables, state, observer);
        QCOMPARE(r.status, ReplaceOutcome::Status::Failed);
        QCOMPARE(r.error, SystemErrorText(ENOENT) + QLatin1String(" - ") + missing);
    }
    {
        EngineState state;
        MemoryOutput output;
        const ReplaceOutcome r = ReplaceInFile(dir.path(), output, tables, state, observer);
        QCOMPARE(r.status, ReplaceOutcome::Status::Failed);
        QCOMPARE(r.error, SystemErrorText(EISDIR) + QLatin1String(" - ") + dir.path());
    }
    {
        EngineState state;
        std::mt19937 rng(1);
        const QString folder = dir.filePath(QStringLiteral("no-such-folder"));
        TemporaryFile output(folder, rng);
        const ReplaceOutcome r = ReplaceInFile(source, output, tables, state, observer);
        QCOMPARE(r.status, ReplaceOutcome::Status::Failed);
        QVERIFY(r.error.startsWith(SystemErrorText(ENOENT) + QLatin1String(" - ") + folder + QLatin1String("/~PX")));
        QCOMPARE(state.lngBlockSize, 4096);
    }
    {
        EngineState state;
        MemoryOutput output;
        output.failAfter = 5000;
        const ReplaceOutcome r = ReplaceInFile(source, output, tables, state, observer);
        QCOMPARE(r.status, ReplaceOutcome::Status::Failed);
        QCOMPARE(r.count, 0);
        QCOMPARE(r.error, SystemErrorText(ENOSPC) + QLatin1String(" - memory"));
    }
}

void TestEngine::writesOutputFile()
{
    QTemporaryDir dir;
    const QString source = dir.filePath(QStringLiteral("in.txt"));
    const QString out = dir.filePath(QStringLiteral("out.txt"));
    QVERIFY(WriteFile(source, "one two one"));
    RecordingObserver observer;
    EngineState state;
    {
        TemporaryFile output(out);
        const ReplaceOutcome r = ReplaceInFile(source, output, ArgumentTables({"one"}, {"1"}), state, observer);
        QCOMPARE(r.count, 2);
        output.release();
    }
    QCOMPARE(ReadFile(out), QByteArray("1 two 1"));
    QCOMPARE(ReadFile(source), QByteArray("one two one"));
    struct stat st;
    QCOMPARE(::stat(NativePath(out).constData(), &st), 0);
    QCOMPARE(st.st_mode & 0777, 0600u);
}

void TestEngine::temporaryFileNeverTakesAForeignFile()
{
    QTemporaryDir dir;
    // Take the name that the generator will draw first.
    std::mt19937 probe(42);
    const int first = std::uniform_int_distribution<int>(10000, 99999)(probe);
    const QString foreign = TemporaryFileName(dir.path(), first);
    QVERIFY(WriteFile(foreign, "somebody else's"));

    std::mt19937 rng(42);
    {
        TemporaryFile temp(dir.path(), rng);
        QVERIFY(temp.open());
        QVERIFY(temp.path() != foreign);
        QVERIFY(temp.path().startsWith(dir.path() + QLatin1String("/~PX")));
        QVERIFY(temp.close());
        QVERIFY(FileExists(temp.path()));
    }
    QCOMPARE(TemporaryFilesIn(dir.path()), QStringList {GetFileName(foreign)});
    QCOMPARE(ReadFile(foreign), QByteArray("somebody else's"));

    TemporaryFile exact(foreign);
    QVERIFY(!exact.open());
    QCOMPARE(exact.error(), EEXIST);
    QCOMPARE(ReadFile(foreign), QByteArray("somebody else's"));
}

QTEST_APPLESS_MAIN(TestEngine)
#include "tst_engine.moc"
