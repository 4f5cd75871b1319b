#include "arguments/argumentfile.h"
#include "arguments/codepage.h"
#include "engine/processfiles.h"
#include "files/filesystem.h"
#include "support/testsupport.h"

#include <QDir>
#include <QRandomGenerator>
#include <QTemporaryDir>
#include <QTest>

#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

// AddressSanitizer reserves terabytes of address space and keeps freed blocks
// mapped, so address-space limits and figures mean nothing in that build.
#if defined(__SANITIZE_ADDRESS__)
#define PERROX_ASAN 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define PERROX_ASAN 1
#endif
#endif

using namespace perrox;
using namespace perrox::test;
using namespace Qt::StringLiterals;

namespace {

FindReplaceArgument arg(qint16 findNotation, const QString &find, qint16 replaceNotation, const QString &replace)
{
    return {findNotation, find, replaceNotation, replace};
}

// The worked example: (Characters hello -> Hexadecimal 48 49) and
// (Decimal 13,10 -> Characters, empty).
const FindReplaceArguments kExample {arg(0, u"hello"_s, 2, u"48 49"_s), arg(1, u"13,10"_s, 0, QString())};
const QByteArray kExampleFile("<FIND TYPE=ASC>hello</FIND><REPLACE TYPE=HEX>48 49</REPLACE>\r\n"
                              "<FIND TYPE=DEC>13,10</FIND><REPLACE TYPE=ASC></REPLACE>\r\n");

mode_t modeOf(const QString &path)
{
    struct stat st = {};
    ::lstat(NativePath(path).constData(), &st);
    return st.st_mode;
}

QStringList entriesOf(const QString &folder)
{
    return QDir(folder).entryList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot, QDir::Name);
}

// Bytes this process reads between construction and count(), from the
// kernel's rchar less the read that fetched the first figure: exact, so a
// test can tell how far the loader read a source.
class ReadCounter
{
public:
    ReadCounter() { m_start = sample(&m_own); }
    qint64 count() const { return sample(nullptr) - m_start - m_own; }

private:
    static qint64 sample(qint64 *own)
    {
        char text[4096];
        const int fd = ::open("/proc/self/io", O_RDONLY | O_CLOEXEC);
        const ssize_t n = fd < 0 ? -1 : ::read(fd, text, sizeof text - 1);
        if (fd >= 0)
            ::close(fd);
        if (own)
            *own = qMax<ssize_t>(n, 0);
        const QByteArray io(text, qMax<ssize_t>(n, 0));
        return io.startsWith("rchar: ") ? io.mid(7, io.indexOf('\n') - 7).toLongLong() : -1;
    }

    qint64 m_start = 0;
    qint64 m_own = 0;
};

// A field of /proc/self/status in bytes ("VmSize:", "VmPeak:"). A forked
// child starts with VmPeak at its current size.
qint64 statusBytes(const char *field)
{
    QFile status(u"/proc/self/status"_s);
    if (!status.open(QIODevice::ReadOnly))
        return -1;
    for (const QByteArray &line : status.readAll().split('\n')) {
        if (line.startsWith(field))
            return line.mid(qstrlen(field)).trimmed().split(' ').value(0).toLongLong() * 1024;
    }
    return -1;
}

// One hexadecimal find of the values 00 to FF, cycles times over, written
// value by value as Save Arguments would: "<FIND TYPE=HEX>00 01 ... FF 00 ...".
qint64 writeLongHexFind(const QString &path, qint64 cycles)
{
    QByteArray cycle;
    for (int b = 0; b < 256; ++b)
        cycle += QByteArray::number(b, 16).toUpper().rightJustified(2, '0') + ' ';
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write("<FIND TYPE=HEX>") < 0)
        return -1;
    for (qint64 i = 0; i < cycles; ++i) {
        if (file.write(cycle) != cycle.size())
            return -1;
    }
    if (file.write("</FIND><REPLACE TYPE=DEC>1 2</REPLACE>\r\n") < 0 || !file.flush())
        return -1;
    return file.size();
}

} // namespace

class TestArgumentFile : public QObject
{
    Q_OBJECT

private slots:
    void workedExample();
    void expandTags();
    void roundTripOfRandomTexts();
    void loaderRules_data();
    void loaderRules();
    void startTagWithoutDotsLosesTheNotation();
    void saveReplacesTheFile();
    void saveWithoutArguments();
    void saveFailureKeepsOldFile_data();
    void saveFailureKeepsOldFile();
    void loadFailures_data();
    void loadFailures();
    void loadBinaryFilesAndPipes();
    void sourcesWithoutSize_data();
    void sourcesWithoutSize();
    void longFindWithinMemory();
    void messageTexts();
};

// Saving through a file and loading one are checked on the same bytes below.
void TestArgumentFile::workedExample()
{
    QCOMPARE(ArgumentFileContent(kExample, ArgumentTags::defaults()), kExampleFile);
    QCOMPARE(ParseArgumentFile(kExampleFile, ArgumentTags::defaults()), kExample);
}

// Every "..." of a start tag, left to right, becomes the notation word.
void TestArgumentFile::expandTags()
{
    const auto expanded = [](const QString &startTag) {
        const ExpandedTags t = ExpandTags({startTag, QString(), QString(), QString()});
        return QStringList(t.findStart.begin(), t.findStart.end());
    };
    QCOMPARE(expanded(u"[...|...]"_s), QStringList({u"[ASC|ASC]"_s, u"[DEC|DEC]"_s, u"[HEX|HEX]"_s}));
    QCOMPARE(expanded(u"<....>"_s), QStringList({u"<ASC.>"_s, u"<DEC.>"_s, u"<HEX.>"_s}));
}

void TestArgumentFile::roundTripOfRandomTexts()
{
    // Texts crowded with the tags' own characters, line breaks, NUL and
    // high bytes, but holding no whole tag.
    const QByteArray alphabet("<>/=FINDREPLACETYPASCHX \r\n\x80\x81\x9d\xff" + QByteArray(1, '\0') + "az01,");
    const ExpandedTags t = ExpandTags(ArgumentTags::defaults());
    const QStringList tags {t.findStart[0], t.findStart[1], t.findStart[2], t.replaceStart[0], t.replaceStart[1], t.replaceStart[2], t.findEnd, t.replaceEnd};
    const auto holdsTag = [&](const QString &text) { return std::any_of(tags.begin(), tags.end(), [&](const QString &tag) { return text.contains(tag); }); };

    QTemporaryDir dir;
    const QString path = dir.filePath(u"random.txt"_s);
    QRandomGenerator rng(4);
    for (quint32 round = 0; round < 200; ++round) {
        FindReplaceArguments arguments;
        const int count = 1 + rng.bounded(5);
        while (arguments.size() < count) {
            const QString find = BytesToCharacters(RandomBytes(rng.generate(), 1 + rng.bounded(40), alphabet));
            const QString replace = BytesToCharacters(RandomBytes(rng.generate(), rng.bounded(40), alphabet));
            if (!holdsTag(find) && !holdsTag(replace))
                arguments.append(arg(qint16(rng.bounded(3)), find, qint16(rng.bounded(3)), replace));
        }
        RecordingSink sink;
        QVERIFY(SaveArgumentFile(path, arguments, ArgumentTags::defaults(), sink));
        const auto loaded = LoadArgumentFile(path, ArgumentTags::defaults(), sink);
        QVERIFY(loaded);
        QCOMPARE(*loaded, arguments);
        QCOMPARE(sink.texts(), QStringList());
    }
}

void TestArgumentFile::loaderRules_data()
{
    QTest::addColumn<QByteArray>("content");
    QTest::addColumn<FindReplaceArguments>("expected");
    const FindReplaceArguments none;
    QTest::addRow("empty file") << QByteArray() << none;
    QTest::addRow("empty find text skipped") << QByteArray("<FIND TYPE=ASC></FIND><REPLACE TYPE=ASC>x</REPLACE>") << none;
    QTest::addRow("empty replace text loaded") << QByteArray("<FIND TYPE=ASC>a</FIND><REPLACE TYPE=HEX></REPLACE>")
                                               << FindReplaceArguments {arg(0, u"a"_s, 2, QString())};
    QTest::addRow("replace side first skipped") << QByteArray("<REPLACE TYPE=ASC>x</REPLACE><FIND TYPE=ASC>a</FIND>") << none;
    QTest::addRow("no replace start tag skipped") << QByteArray("<FIND TYPE=ASC>a</FIND>x</REPLACE>") << none;
    QTest::addRow("a skipped entry keeps its find side")
        << QByteArray("<FIND TYPE=ASC>a</FIND>x</REPLACE><REPLACE TYPE=DEC>1</REPLACE>") << FindReplaceArguments {arg(0, u"a"_s, 1, u"1"_s)};
    QTest::addRow("unfinished entry at the end") << QByteArray("<FIND TYPE=ASC>a</FIND><REPLACE TYPE=ASC>b") << none;
    QTest::addRow("last start tag wins") << QByteArray("<FIND TYPE=ASC>x<FIND TYPE=HEX>41</FIND><REPLACE TYPE=DEC>y<REPLACE TYPE=ASC>z</REPLACE>")
                                         << FindReplaceArguments {arg(2, u"41"_s, 0, u"z"_s)};
    QTest::addRow("later find end tag wins") << QByteArray("<FIND TYPE=ASC>a</FIND>b</FIND><REPLACE TYPE=ASC>c</REPLACE>")
                                             << FindReplaceArguments {arg(0, u"a</FIND>b"_s, 0, u"c"_s)};
    QTest::addRow("lower-case word") << QByteArray("<FIND TYPE=asc>a</FIND><REPLACE TYPE=ASC>b</REPLACE>") << none;
    QTest::addRow("text outside tags, texts over lines") << QByteArray("junk\r\n<FIND TYPE=DEC>13\r\n10</FIND>\r\n\r\n<REPLACE TYPE=HEX>0A\n</REPLACE>tail\r\n")
                                                         << FindReplaceArguments {arg(1, u"13\r\n10"_s, 2, u"0A\n"_s)};
    static const char highAndNul[] = "<FIND TYPE=ASC>\x80\x81\xff</FIND><REPLACE TYPE=ASC>\0</REPLACE>";
    QTest::addRow("bytes one per character") << QByteArray(highAndNul, sizeof highAndNul - 1)
                                             << FindReplaceArguments {arg(0, u"\u20ac\u0081\u00ff"_s, 0, QString(QChar(0)))};
    QTest::addRow("two entries on one line") << QByteArray(
        "<FIND TYPE=ASC>a</FIND><REPLACE TYPE=ASC>b</REPLACE><FIND TYPE=HEX>1</FIND><REPLACE TYPE=DEC>2</REPLACE>")
                                             << FindReplaceArguments {arg(0, u"a"_s, 0, u"b"_s), arg(2, u"1"_s, 1, u"2"_s)};
}

void TestArgumentFile::loaderRules()
{
    QFETCH(QByteArray, content);
    QFETCH(FindReplaceArguments, expected);
    QCOMPARE(ParseArgumentFile(content, ArgumentTags::defaults()), expected);
}

void TestArgumentFile::startTagWithoutDotsLosesTheNotation()
{
    const ArgumentTags tags {u"<F>"_s, u"</F>"_s, u"<R>"_s, u"</R>"_s};
    const FindReplaceArguments arguments {arg(0, u"a"_s, 1, u"1"_s), arg(1, u"2"_s, 0, u"b"_s)};
    const QByteArray content = ArgumentFileContent(arguments, tags);
    QCOMPARE(content, QByteArray("<F>a</F><R>1</R>\r\n<F>2</F><R>b</R>\r\n"));
    // The three notations give the same tag, and the last one tried wins.
    QCOMPARE(ParseArgumentFile(content, tags), (FindReplaceArguments {arg(2, u"a"_s, 2, u"1"_s), arg(2, u"2"_s, 2, u"b"_s)}));

    // A file saved with other tags is not read back.
    QCOMPARE(ParseArgumentFile(content, ArgumentTags::defaults()), FindReplaceArguments());

    // Empty tags are the defaults.
    QCOMPARE(ArgumentFileContent(kExample, ArgumentTags()), kExampleFile);
    QCOMPARE(ParseArgumentFile(kExampleFile, ArgumentTags()), kExample);

    // A tag the code page cannot hold never matches, not even its "?" form.
    const ArgumentTags snowman {u"<\u2603...>"_s, u"</F>"_s, u"<R>"_s, u"</R>"_s};
    QCOMPARE(ParseArgumentFile("<?ASC>a</F><R>b</R>", snowman), FindReplaceArguments());
}

void TestArgumentFile::saveWithoutArguments()
{
    QTemporaryDir dir;
    const QString existing = WriteFileIn(dir.path(), u"old.txt"_s, "old");
    const QString fresh = dir.filePath(u"new.txt"_s);
    RecordingSink sink;
    QVERIFY(!SaveArgumentFile(existing, {}, ArgumentTags::defaults(), sink));
    QVERIFY(!SaveArgumentFile(fresh, {}, ArgumentTags::defaults(), sink));
    const QString message = u"Cannot read Find&Replace arguments:\r\n"_s + SystemErrorText(ERANGE);
    QCOMPARE(sink.texts(), QStringList({message, message}));
    QCOMPARE(sink.shown.at(0).icon, MessageSink::Icon::Exclamation);
    QCOMPARE(sink.shown.at(0).title, u"Perrox"_s);
    QCOMPARE(ReadFile(existing), QByteArray("old"));
    QVERIFY(!QFile::exists(fresh));

    // An empty name (a cancelled dialog) does nothing.
    QVERIFY(!SaveArgumentFile(QString(), kExample, ArgumentTags::defaults(), sink));
    QCOMPARE(sink.shown.size(), 2);
}

void TestArgumentFile::saveFailureKeepsOldFile_data()
{
    QTest::addColumn<QString>("how");
    QTest::addColumn<QString>("expected"); // %1 is the path
    QTest::addRow("read-only folder") << u"folder"_s << SystemErrorText(EACCES) + u" - %1"_s;
    QTest::addRow("read-only file") << u"file"_s << SystemErrorText(EACCES) + u" - %1"_s;
    QTest::addRow("file size limit") << u"limit"_s << u"Cannot write the Find&Replace arguments to file %1 :\r\n"_s + SystemErrorText(EFBIG);
}

void TestArgumentFile::saveFailureKeepsOldFile()
{
    QFETCH(QString, how);
    QFETCH(QString, expected);
    QTemporaryDir dir;
    const QString folder = dir.filePath(u"f"_s);
    QVERIFY(QDir().mkpath(folder));
    const QString path = WriteFileIn(folder, u"args.txt"_s, "old content");
    QVERIFY(::chmod(NativePath(dir.path()).constData(), 0755) == 0);
    QVERIFY(::chmod(NativePath(path).constData(), how == u"file"_s ? 0444 : 0666) == 0);
    QVERIFY(::chmod(NativePath(folder).constData(), how == u"folder"_s ? 0555 : 0777) == 0);

    const auto body = [&] {
        if (how == u"limit"_s) {
            std::signal(SIGXFSZ, SIG_IGN);
            const struct rlimit limit = {50, 50};
            CHILD_CHECK(::setrlimit(RLIMIT_FSIZE, &limit) == 0);
        }
        RecordingSink sink;
        CHILD_CHECK(!SaveArgumentFile(path, kExample, ArgumentTags::defaults(), sink));
        CHILD_CHECK(sink.texts() == QStringList {expected.arg(path)});
        return 0;
    };
    // The limit applies to root too; permissions need an ordinary user.
    QCOMPARE(how == u"limit"_s ? RunInChild(body) : RunUnprivileged(body), 0);
    QVERIFY(::chmod(NativePath(folder).constData(), 0755) == 0);
    QCOMPARE(ReadFile(path), QByteArray("old content"));
    QCOMPARE(entriesOf(folder), QStringList {u"args.txt"_s}); // no leftover temporary file
}

void TestArgumentFile::saveReplacesTheFile()
{
    QTemporaryDir dir;
    RecordingSink sink;
    // A longer file is replaced whole and keeps its permissions.
    const QString path = WriteFileIn(dir.path(), u"args.txt"_s, QByteArray(1000, 'x'));
    QVERIFY(::chmod(NativePath(path).constData(), 0640) == 0);
    QVERIFY(SaveArgumentFile(path, kExample, ArgumentTags::defaults(), sink));
    QCOMPARE(ReadFile(path), kExampleFile);
    QCOMPARE(modeOf(path) & 07777, mode_t(0640));

    // A link stays a link; the file it names takes the content.
    const QString target = WriteFileIn(dir.path(), u"real.txt"_s, "old");
    const QString link = dir.filePath(u"link.txt"_s);
    QVERIFY(QFile::link(u"real.txt"_s, link));
    QVERIFY(SaveArgumentFile(link, kExample, ArgumentTags::defaults(), sink));
    QVERIFY(S_ISLNK(modeOf(link)));
    QCOMPARE(ReadFile(target), kExampleFile);
    QCOMPARE(entriesOf(dir.path()), QStringList({u"args.txt"_s, u"link.txt"_s, u"real.txt"_s})); // no leftover temporary file

    // A second name of the file sees the new content too.
    const QString second = dir.filePath(u"second.txt"_s);
    QVERIFY(::link(NativePath(target).constData(), NativePath(second).constData()) == 0);
    QVERIFY(SaveArgumentFile(target, {kExample.first()}, ArgumentTags::defaults(), sink));
    QCOMPARE(ReadFile(second), ArgumentFileContent({kExample.first()}, ArgumentTags::defaults()));
    QVERIFY(::unlink(NativePath(second).constData()) == 0);

    // A missing folder and a folder as the name fail with the system's text.
    const QString missing = dir.filePath(u"nowhere/args.txt"_s);
    QVERIFY(!SaveArgumentFile(missing, kExample, ArgumentTags::defaults(), sink));
    QVERIFY(!SaveArgumentFile(dir.path(), kExample, ArgumentTags::defaults(), sink));
    QCOMPARE(sink.texts(), QStringList({FileErrorMessage(ENOENT, missing), FileErrorMessage(EISDIR, dir.path())}));
}

void TestArgumentFile::loadFailures_data()
{
    QTest::addColumn<QString>("how");
    QTest::addColumn<QString>("expected"); // %1 is the path
    QTest::addColumn<qint64>("readable"); // bytes the loader may read first; the limit is 100
    QTest::addRow("missing") << u"missing"_s << SystemErrorText(ENOENT) + u" - %1"_s << qint64(0);
    QTest::addRow("folder") << u"folder"_s << SystemErrorText(EISDIR) + u" - %1"_s << qint64(0);
    QTest::addRow("unreadable") << u"unreadable"_s << SystemErrorText(EACCES) + u" - %1"_s << qint64(0);
    QTest::addRow("too large, by its size") << u"large"_s << u"Cannot allocate memory for the data of file %1:\r\n"_s + SystemErrorText(ENOMEM) << qint64(0);
    QTest::addRow("endless device") << u"device"_s << u"Cannot allocate memory for the data of file %1:\r\n"_s + SystemErrorText(ENOMEM) << qint64(101);
}

void TestArgumentFile::loadFailures()
{
    QFETCH(QString, how);
    QFETCH(QString, expected);
    QFETCH(qint64, readable);
    QTemporaryDir dir;
    QString path = dir.filePath(u"args.txt"_s);
    if (how == u"folder"_s)
        path = dir.path();
    else if (how == u"device"_s)
        path = u"/dev/zero"_s;
    else if (how != u"missing"_s)
        QVERIFY(WriteFile(path, kExampleFile));
    QVERIFY(::chmod(NativePath(dir.path()).constData(), 0755) == 0);
    if (how == u"unreadable"_s)
        QVERIFY(::chmod(NativePath(path).constData(), 0200) == 0);

    const auto body = [&] {
        RecordingSink sink;
        const ReadCounter reads;
        CHILD_CHECK(!LoadArgumentFile(path, ArgumentTags::defaults(), sink, 100));
        CHILD_CHECK(reads.count() <= readable);
        CHILD_CHECK(sink.texts() == QStringList {expected.arg(path)});
        return 0;
    };
    QCOMPARE(how == u"unreadable"_s ? RunUnprivileged(body) : RunInChild(body), 0);
}

void TestArgumentFile::loadBinaryFilesAndPipes()
{
    QTemporaryDir dir;
    RecordingSink sink;

    // Random bytes around one entry: no crash, the entry found, nothing else.
    QByteArray binary = RandomBytes(7, 1 << 20);
    binary.insert(1 << 19, "<FIND TYPE=HEX>00 FF</FIND><REPLACE TYPE=ASC>\x90</REPLACE>");
    const QString binaryPath = WriteFileIn(dir.path(), u"binary.bin"_s, binary);
    auto loaded = LoadArgumentFile(binaryPath, ArgumentTags::defaults(), sink);
    QVERIFY(loaded);
    QCOMPARE(*loaded, FindReplaceArguments {arg(2, u"00 FF"_s, 0, u"\u0090"_s)});

    // A pipe that nobody writes to reads as empty instead of waiting.
    const QString fifo = dir.filePath(u"fifo"_s);
    QVERIFY(::mkfifo(NativePath(fifo).constData(), 0600) == 0);
    loaded = LoadArgumentFile(fifo, ArgumentTags::defaults(), sink);
    QVERIFY(loaded);
    QVERIFY(loaded->isEmpty());

    // A file exactly at the limit is read.
    const QString exact = WriteFileIn(dir.path(), u"exact.txt"_s, kExampleFile);
    loaded = LoadArgumentFile(exact, ArgumentTags::defaults(), sink, kExampleFile.size());
    QVERIFY(loaded);
    QCOMPARE(*loaded, kExample);

    QVERIFY(!LoadArgumentFile(QString(), ArgumentTags::defaults(), sink));
    QCOMPARE(sink.texts(), QStringList());
}

// Sources without a size, read through /dev/fd/N as a shell's <(...) gives
// them: a pipe fed by a thread (once, or over and over until the loader lets
// go), or a device. The buffer grows as the bytes come but never past the
// limit, and a source that gives more is refused after one byte too many.
void TestArgumentFile::sourcesWithoutSize_data()
{
    QTest::addColumn<QString>("source"); // "pipe", or a device
    QTest::addColumn<QByteArray>("content");
    QTest::addColumn<bool>("endless");
    QTest::addColumn<qint64>("maxSize");
    QTest::addColumn<int>("entries"); // -1: refused with the memory message
    const QByteArray many = kExampleFile.repeated(3000); // over 350 KB, read in many pieces
    QTest::addRow("pipe exactly at the limit, buffer grown many times") << u"pipe"_s << many << false << qint64(many.size()) << 6000;
    QTest::addRow("pipe one byte over the limit") << u"pipe"_s << many << false << qint64(many.size() - 1) << -1;
    QTest::addRow("endless pipe") << u"pipe"_s << kExampleFile << true << qint64(1 << 20) << -1;
    QTest::addRow("endless device at the default limit") << u"/dev/zero"_s << QByteArray() << true << MaxArgumentFileSize << -1;
}

void TestArgumentFile::sourcesWithoutSize()
{
    QFETCH(QString, source);
    QFETCH(QByteArray, content);
    QFETCH(bool, endless);
    QFETCH(qint64, maxSize);
    QFETCH(int, entries);
    const QString tooLarge = u"Cannot allocate memory for the data of file %1:\r\n"_s + SystemErrorText(ENOMEM);

    const auto body = [&] {
        int fds[2] = {-1, -1};
        std::thread writer;
        QString path = source;
        if (source == u"pipe"_s) {
            CHILD_CHECK(::pipe2(fds, O_CLOEXEC) == 0);
            std::signal(SIGPIPE, SIG_IGN);
            writer = std::thread([&] {
                do {
                    for (qsizetype done = 0; done < content.size();) {
                        const ssize_t n = ::write(fds[1], content.constData() + done, size_t(content.size() - done));
                        if (n <= 0) {
                            ::close(fds[1]);
                            return; // the loader has let go
                        }
                        done += n;
                    }
                } while (endless);
                ::close(fds[1]);
            });
            path = u"/dev/fd/"_s + QString::number(fds[0]);
        }
        RecordingSink sink;
        const qint64 sizeBefore = statusBytes("VmSize:");
        const ReadCounter reads;
        const std::optional<FindReplaceArguments> loaded = LoadArgumentFile(path, ArgumentTags::defaults(), sink, maxSize);
        const qint64 read = reads.count();
        [[maybe_unused]] const qint64 peakGrowth = statusBytes("VmPeak:") - sizeBefore;
        if (fds[0] >= 0)
            ::close(fds[0]); // an endless writer now fails and ends
        if (writer.joinable())
            writer.join();
#ifndef PERROX_ASAN
        // The buffer, and a little room for everything else.
        CHILD_CHECK(peakGrowth <= maxSize + (8 << 20));
#endif
        if (entries < 0) {
            CHILD_CHECK(!loaded);
            CHILD_CHECK(sink.texts() == QStringList {tooLarge.arg(path)});
            CHILD_CHECK(read == maxSize + 1);
        } else {
            CHILD_CHECK(loaded && loaded->size() == entries);
            CHILD_CHECK(sink.texts().isEmpty());
            CHILD_CHECK(read == content.size());
        }
        return 0;
    };
    QCOMPARE(RunInChild(body), 0);
}

// A 50 MB file of one hexadecimal find loads and becomes bytes within a few
// times its size: the bytes read, their text at two bytes per character and
// the converted bytes, never a piece of memory per value.
void TestArgumentFile::longFindWithinMemory()
{
#ifdef PERROX_ASAN
    QSKIP("AddressSanitizer cannot run under an address-space limit");
#endif
    QTemporaryDir dir;
    const QString path = dir.filePath(u"long.args"_s);
    const qint64 cycles = 50'000'000 / 768 + 1;
    const qint64 size = writeLongHexFind(path, cycles);
    QVERIFY(size > 50'000'000 && size < MaxArgumentFileSize);

    const auto body = [&] {
        // Loading and converting take about 3 times the file (measured) above
        // what the process holds already; 5 times leaves room, while a string
        // per value would need over 20 times.
        const qint64 sizeBefore = statusBytes("VmSize:");
        const auto limit = rlim_t(sizeBefore + 5 * size);
        const struct rlimit addressSpace = {limit, limit};
        CHILD_CHECK(sizeBefore > 0 && ::setrlimit(RLIMIT_AS, &addressSpace) == 0);
        try {
            RecordingSink sink;
            const std::optional<FindReplaceArguments> loaded = LoadArgumentFile(path, ArgumentTags::defaults(), sink);
            CHILD_CHECK(loaded && loaded->size() == 1);
            const std::optional<ArgumentTables> tables = BuildArgumentTables(*loaded, sink);
            CHILD_CHECK(sink.texts().isEmpty());
            CHILD_CHECK(tables && tables->finds.size() == 1);
            const QByteArray &find = tables->finds.find(0);
            CHILD_CHECK(find.size() == cycles * 256);
            for (qsizetype i = 0; i < find.size(); ++i)
                CHILD_CHECK(uchar(find.at(i)) == i % 256);
            CHILD_CHECK(tables->replaces.at(0) == QByteArray("\x01\x02"));
        } catch (const std::bad_alloc &) {
            std::fprintf(stderr, "out of memory under the limit\n");
            return 2;
        }
        return 0;
    };
    QCOMPARE(RunInChild(body), 0);
}

void TestArgumentFile::messageTexts()
{
    const QString name = u"/a/b.txt"_s;
    const QString d = u"Boom"_s;
    QCOMPARE(ReadArgumentsErrorMessage(name, d), u"Cannot read the data of file /a/b.txt:\r\nBoom"_s);
    QCOMPARE(ScanArgumentsErrorMessage(name, d), u"Cannot read Find&Replace arguments from file /a/b.txt :\r\nBoom"_s);
}

QTEST_APPLESS_MAIN(TestArgumentFile)
#include "tst_argumentfile.moc"
