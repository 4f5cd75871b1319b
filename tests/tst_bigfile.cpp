#include "engine/replaceengine.h"
#include "files/filedescriptor.h"
#include "files/filesystem.h"
#include "support/testsupport.h"

#include <QTemporaryDir>
#include <QTest>

#include <fcntl.h>
#include <sys/statvfs.h>
#include <unistd.h>

using namespace perrox;
using namespace perrox::test;
using namespace Qt::StringLiterals;

// A sparse file of more than 4 GiB: sizes, positions and counts are 64-bit.
class TestBigFile : public QObject
{
    Q_OBJECT

private slots:
    void countsPastFourGiB();
};

void TestBigFile::countsPastFourGiB()
{
    QTemporaryDir dir;
    struct statvfs vfs;
    QCOMPARE(::statvfs(NativePath(dir.path()).constData(), &vfs), 0);
    if (double(vfs.f_bavail) * double(vfs.f_frsize) < 64.0 * 1024 * 1024)
        QSKIP("less than 64 MiB free for a sparse file");
    const QString path = dir.filePath(u"big.bin"_s);
    const qint64 size = (qint64(1) << 32) + 5000;
    const qint64 offsets[] = {0, (qint64(1) << 31) - 2, (qint64(1) << 32) - 2, (qint64(1) << 32) + 4000, size - 4}; // across the 2 and 4 GiB marks too
    const FileDescriptor fd(::open(NativePath(path).constData(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600));
    QVERIFY(fd.get() >= 0);
    if (::ftruncate(fd.get(), size) != 0)
        QSKIP("the file system takes no file of this size");
    for (qint64 offset : offsets)
        QCOMPARE(::pwrite(fd.get(), "PRX!", 4, offset), ssize_t(4));
    RecordingObserver observer;
    EngineState state;
    DiscardedOutput output;
    const ReplaceOutcome r = ReplaceInFile(path, output, ArgumentTables({"PRX!", QByteArray("\x01")}, {"", ""}), state, observer);
    QCOMPARE(r.status, ReplaceOutcome::Status::Done);
    QCOMPARE(r.error, QString());
    QCOMPARE(r.count, qint64(std::size(offsets)));
    QCOMPARE(state.dblActVal, double(size));
    QCOMPARE(qint64(observer.positions.size()), (size + 4095) / 4096 + 1);

    // Patterns see the file through windows too: a match past 4 GiB has its
    // own offset.
    FindPattern folded {FindPattern::Kind::Bytes, "prx!", {}, FindPattern::Fold::Windows1252, false, false};
    FindPattern regex {FindPattern::Kind::Regex, "\\x01+", {}, FindPattern::Fold::None, false, false};
    const PatternTables patterns = BuildPatternTables({folded, regex}, {{}, {}});
    QVERIFY(patterns.tables.patterns);
    const OccurrenceScan scan = ScanOccurrences(path, patterns.tables, 100);
    QCOMPARE(scan.outcome.status, ReplaceOutcome::Status::Done);
    QCOMPARE(scan.outcome.count, qint64(std::size(offsets)));
    QList<std::pair<qint64, qint64>> found, expected;
    for (const Occurrence &o : scan.first)
        found << std::pair(o.offset, o.length);
    for (const qint64 offset : offsets)
        expected << std::pair(offset, qint64(4));
    QCOMPARE(found, expected);
}

QTEST_APPLESS_MAIN(TestBigFile)
#include "tst_bigfile.moc"
