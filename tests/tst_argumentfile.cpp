#include "arguments/argumentfile.h"
#include "arguments/codepage.h"
#include "files/filesystem.h"
#include "support/testsupport.h"

#include <QDir>
#include <QRandomGenerator>
#include <QTemporaryDir>
#include <QTest>

#include <cerrno>
#include <csignal>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

using namespace perrox;
using namespace perrox::test;

namespace {

FindReplaceArgument arg(qint16 findNotation, const QString &find, qint16 replaceNotation, const QString &replace)
{
    return {findNotation, find, replaceNotation, replace};
}

// The worked example: (Characters hello -> Hexadecimal 48 49) and
// (Decimal 13,10 -> Characters, empty).
const FindReplaceArguments kExample {arg(0, QStringLiteral("hello"), 2, QStringLiteral("48 49")), arg(1, QStringLiteral("13,10"), 0, QString())};
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

} // namespace

class TestArgumentFile : public QObject
{
    Q_OBJECT

private slots:
    void workedExample();
    void expandTags_data();
    void expandTags();
    void roundTripOfRandomTexts();
    void loaderRules_data();
    void loaderRules();
    void startTagWithoutDotsLosesTheNotation();
    void saveReplacesLongerFile();
    void saveWithoutArguments();
    void saveFailureKeepsOldFile_data();
    void saveFailureKeepsOldFile();
    void saveThroughLinkKeepsLink();
    void loadFailures_data();
    void loadFailures();
    void loadBinaryAndSpecialFiles();
    void messageTexts();
};

void TestArgumentFile::workedExample()
{
    const QByteArray content = ArgumentFileContent(kExample, ArgumentTags::defaults());
    QCOMPARE(content, kExampleFile);
    QCOMPARE(content.size(), 119);

    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("example.txt"));
    RecordingSink sink;
    QVERIFY(SaveArgumentFile(path, kExample, ArgumentTags::defaults(), sink));
    QCOMPARE(ReadFile(path), kExampleFile);
    const auto loaded = LoadArgumentFile(path, ArgumentTags::defaults(), sink);
    QVERIFY(loaded);
    QCOMPARE(*loaded, kExample);
    QCOMPARE(sink.texts(), QStringList());
}

void TestArgumentFile::expandTags_data()
{
    QTest::addColumn<QString>("startTag");
    QTest::addColumn<QStringList>("expanded"); // ASC, DEC, HEX
    QTest::addRow("default") << QStringLiteral("<FIND TYPE=...>")
                             << QStringList({QStringLiteral("<FIND TYPE=ASC>"), QStringLiteral("<FIND TYPE=DEC>"), QStringLiteral("<FIND TYPE=HEX>")});
    QTest::addRow("every occurrence") << QStringLiteral("[...|...]")
                                      << QStringList({QStringLiteral("[ASC|ASC]"), QStringLiteral("[DEC|DEC]"), QStringLiteral("[HEX|HEX]")});
    QTest::addRow("left to right") << QStringLiteral("<....>") << QStringList({QStringLiteral("<ASC.>"), QStringLiteral("<DEC.>"), QStringLiteral("<HEX.>")});
    QTest::addRow("no dots") << QStringLiteral("<F>") << QStringList({QStringLiteral("<F>"), QStringLiteral("<F>"), QStringLiteral("<F>")});
    QTest::addRow("empty is the default")
        << QString() << QStringList({QStringLiteral("<FIND TYPE=ASC>"), QStringLiteral("<FIND TYPE=DEC>"), QStringLiteral("<FIND TYPE=HEX>")});
}

void TestArgumentFile::expandTags()
{
    QFETCH(QString, startTag);
    QFETCH(QStringList, expanded);
    const ExpandedTags t = ExpandTags({startTag, QString(), QString(), QString()});
    QCOMPARE(QStringList(t.findStart.begin(), t.findStart.end()), expanded);
    QCOMPARE(t.findEnd, QStringLiteral("</FIND>"));
    QCOMPARE(t.replaceStart[2], QStringLiteral("<REPLACE TYPE=HEX>"));
    QCOMPARE(t.replaceEnd, QStringLiteral("</REPLACE>"));
}

void TestArgumentFile::roundTripOfRandomTexts()
{
    // Texts crowded with the tags' own characters, line breaks, NUL and
    // high bytes, but holding no whole tag.
    const QByteArray alphabet("<>/=FINDREPLACETYPASCHX \r\n\x80\x81\x9d\xff" + QByteArray(1, '\0') + "az01,");
    const ExpandedTags t = ExpandTags(ArgumentTags::defaults());
    const QStringList tags {t.findStart[0], t.findStart[1], t.findStart[2], t.replaceStart[0], t.replaceStart[1], t.replaceStart[2], t.findEnd, t.replaceEnd};
    const auto holdsTag = [&](const QString &text) {
        return std::any_of(tags.begin(), tags.end(), [&](const QString &tag) { return text.contains(tag); });
    };

    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("random.txt"));
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
    QTest::addRow("no entry") << QByteArray("hello\r\n") << none;
    QTest::addRow("empty find text skipped") << QByteArray("<FIND TYPE=ASC></FIND><REPLACE TYPE=ASC>x</REPLACE>") << none;
    QTest::addRow("empty replace text loaded")
        << QByteArray("<FIND TYPE=ASC>a</FIND><REPLACE TYPE=HEX></REPLACE>") << FindReplaceArguments {arg(0, QStringLiteral("a"), 2, QString())};
    QTest::addRow("replace part first skipped") << QByteArray("<REPLACE TYPE=ASC>x</REPLACE><FIND TYPE=ASC>a</FIND>") << none;
    QTest::addRow("no replace start tag skipped") << QByteArray("<FIND TYPE=ASC>a</FIND>x</REPLACE>") << none;
    QTest::addRow("a skipped entry keeps its find part") << QByteArray("<FIND TYPE=ASC>a</FIND>x</REPLACE><REPLACE TYPE=DEC>1</REPLACE>")
                                                         << FindReplaceArguments {arg(0, QStringLiteral("a"), 1, QStringLiteral("1"))};
    QTest::addRow("unfinished entry at the end") << QByteArray("<FIND TYPE=ASC>a</FIND><REPLACE TYPE=ASC>b") << none;
    QTest::addRow("last start tag wins") << QByteArray("<FIND TYPE=ASC>x<FIND TYPE=HEX>41</FIND><REPLACE TYPE=DEC>y<REPLACE TYPE=ASC>z</REPLACE>")
                                         << FindReplaceArguments {arg(2, QStringLiteral("41"), 0, QStringLiteral("z"))};
    QTest::addRow("later find end tag wins") << QByteArray("<FIND TYPE=ASC>a</FIND>b</FIND><REPLACE TYPE=ASC>c</REPLACE>")
                                             << FindReplaceArguments {arg(0, QStringLiteral("a</FIND>b"), 0, QStringLiteral("c"))};
    QTest::addRow("lower-case tags") << QByteArray("<find type=asc>a</find><replace type=asc>b</replace>") << none;
    QTest::addRow("lower-case word") << QByteArray("<FIND TYPE=asc>a</FIND><REPLACE TYPE=ASC>b</REPLACE>") << none;
    QTest::addRow("text outside tags, texts over lines")
        << QByteArray("junk\r\n<FIND TYPE=DEC>13\r\n10</FIND>\r\n\r\n<REPLACE TYPE=HEX>0A\n</REPLACE>tail\r\n")
        << FindReplaceArguments {arg(1, QStringLiteral("13\r\n10"), 2, QStringLiteral("0A\n"))};
    static const char highAndNul[] = "<FIND TYPE=ASC>\x80\x81\xff</FIND><REPLACE TYPE=ASC>\0</REPLACE>";
    QTest::addRow("bytes one per character") << QByteArray(highAndNul, sizeof highAndNul - 1)
                                             << FindReplaceArguments {arg(0, QStringLiteral("\u20ac\u0081\u00ff"), 0, QString(QChar(0)))};
    QTest::addRow("two entries on one line") << QByteArray("<FIND TYPE=ASC>a</FIND><REPLACE TYPE=ASC>b</REPLACE><FIND TYPE=HEX>1</FIND><REPLACE TYPE=DEC>2</REPLACE>")
                                             << FindReplaceArguments {arg(0, QStringLiteral("a"), 0, QStringLiteral("b")), arg(2, QStringLiteral("1"), 1, QStringLiteral("2"))};
}

void TestArgumentFile::loaderRules()
{
    QFETCH(QByteArray, content);
    QFETCH(FindReplaceArguments, expected);
    QCOMPARE(ParseArgumentFile(content, ArgumentTags::defaults()), expected);
}

void TestArgumentFile::startTagWithoutDotsLosesTheNotation()
{
    const ArgumentTags tags {QStringLiteral("<F>"), QStringLiteral("</F>"), QStringLiteral("<R>"), QStringLiteral("</R>")};
    const FindReplaceArguments arguments {arg(0, QStringLiteral("a"), 1, QStringLiteral("1")), arg(1, QStringLiteral("2"), 0, QStringLiteral("b"))};
    const QByteArray content = ArgumentFileContent(arguments, tags);
    QCOMPARE(content, QByteArray("<F>a</F><R>1</R>\r\n<F>2</F><R>b</R>\r\n"));
    // The three notations give the same tag, and the last one tried wins.
    QCOMPARE(ParseArgumentFile(content, tags),
        (FindReplaceArguments {arg(2, QStringLiteral("a"), 2, QStringLiteral("1")), arg(2, QStringLiteral("2"), 2, QStringLiteral("b"))}));

    // A file saved with other tags is not read back.
    QCOMPARE(ParseArgumentFile(content, ArgumentTags::defaults()), FindReplaceArguments());

    // Empty tags are the defaults.
    QCOMPARE(ArgumentFileContent(kExample, ArgumentTags()), kExampleFile);
    QCOMPARE(ParseArgumentFile(kExampleFile, ArgumentTags()), kExample);

    // A tag the code page cannot hold never matches, not even its "?" form.
    const ArgumentTags snowman {QStringLiteral("<\u2603...>"), QStringLiteral("</F>"), QStringLiteral("<R>"), QStringLiteral("</R>")};
    QCOMPARE(ParseArgumentFile("<?ASC>a</F><R>b</R>", snowman), FindReplaceArguments());
}

void TestArgumentFile::saveReplacesLongerFile()
{
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("args.txt"));
    QVERIFY(WriteFile(path, QByteArray(1000, 'x')));
    QVERIFY(::chmod(NativePath(path).constData(), 0640) == 0);
    RecordingSink sink;
    QVERIFY(SaveArgumentFile(path, kExample, ArgumentTags::defaults(), sink));
    QCOMPARE(ReadFile(path), kExampleFile);
    QCOMPARE(modeOf(path) & 07777, mode_t(0640));
    QCOMPARE(entriesOf(dir.path()), QStringList {QStringLiteral("args.txt")});
}

void TestArgumentFile::saveWithoutArguments()
{
    QTemporaryDir dir;
    const QString existing = WriteFileIn(dir.path(), QStringLiteral("old.txt"), "old");
    const QString fresh = dir.filePath(QStringLiteral("new.txt"));
    RecordingSink sink;
    QVERIFY(!SaveArgumentFile(existing, {}, ArgumentTags::defaults(), sink));
    QVERIFY(!SaveArgumentFile(fresh, {}, ArgumentTags::defaults(), sink));
    const QString message = QStringLiteral("Cannot read Find&Replace arguments:\r\n") + SystemErrorText(ERANGE);
    QCOMPARE(sink.texts(), QStringList({message, message}));
    QCOMPARE(sink.shown.at(0).icon, MessageSink::Icon::Exclamation);
    QCOMPARE(sink.shown.at(0).title, QStringLiteral("Perrox"));
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
    QTest::addRow("read-only folder") << QStringLiteral("folder") << SystemErrorText(EACCES) + QLatin1String(" - %1");
    QTest::addRow("read-only file") << QStringLiteral("file") << SystemErrorText(EACCES) + QLatin1String(" - %1");
    QTest::addRow("file size limit") << QStringLiteral("limit")
                                     << QLatin1String("Cannot write the Find&Replace arguments to file %1 :\r\n") + SystemErrorText(EFBIG);
}

void TestArgumentFile::saveFailureKeepsOldFile()
{
    QFETCH(QString, how);
    QFETCH(QString, expected);
    QTemporaryDir dir;
    const QString folder = dir.filePath(QStringLiteral("f"));
    QVERIFY(QDir().mkpath(folder));
    const QString path = WriteFileIn(folder, QStringLiteral("args.txt"), "old content");
    QVERIFY(::chmod(NativePath(dir.path()).constData(), 0755) == 0);
    QVERIFY(::chmod(NativePath(path).constData(), how == QLatin1String("file") ? 0444 : 0666) == 0);
    QVERIFY(::chmod(NativePath(folder).constData(), how == QLatin1String("folder") ? 0555 : 0777) == 0);

    const auto body = [&] {
        if (how == QLatin1String("limit")) {
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
    QCOMPARE(how == QLatin1String("limit") ? RunInChild(body) : RunUnprivileged(body), 0);
    QVERIFY(::chmod(NativePath(folder).constData(), 0755) == 0);
    QCOMPARE(ReadFile(path), QByteArray("old content"));
    QCOMPARE(entriesOf(folder), QStringList {QStringLiteral("args.txt")}); // no leftover temporary file
}

void TestArgumentFile::saveThroughLinkKeepsLink()
{
    QTemporaryDir dir;
    const QString target = WriteFileIn(dir.path(), QStringLiteral("real.txt"), "old");
    const QString link = dir.filePath(QStringLiteral("link.txt"));
    QVERIFY(QFile::link(QStringLiteral("real.txt"), link));
    RecordingSink sink;
    QVERIFY(SaveArgumentFile(link, kExample, ArgumentTags::defaults(), sink));
    QVERIFY(S_ISLNK(modeOf(link)));
    QCOMPARE(ReadFile(target), kExampleFile);

    // A missing folder and a folder as the name fail with the system's text.
    const QString missing = dir.filePath(QStringLiteral("nowhere/args.txt"));
    QVERIFY(!SaveArgumentFile(missing, kExample, ArgumentTags::defaults(), sink));
    QVERIFY(!SaveArgumentFile(dir.path(), kExample, ArgumentTags::defaults(), sink));
    QCOMPARE(sink.texts(), QStringList({FileErrorMessage(ENOENT, missing), FileErrorMessage(EISDIR, dir.path())}));
}

void TestArgumentFile::loadFailures_data()
{
    QTest::addColumn<QString>("how");
    QTest::addColumn<QString>("expected"); // %1 is the path
    QTest::addRow("missing") << QStringLiteral("missing") << SystemErrorText(ENOENT) + QLatin1String(" - %1");
    QTest::addRow("folder") << QStringLiteral("folder") << SystemErrorText(EISDIR) + QLatin1String(" - %1");
    QTest::addRow("unreadable") << QStringLiteral("unreadable") << SystemErrorText(EACCES) + QLatin1String(" - %1");
    QTest::addRow("too large") << QStringLiteral("large")
                               << QLatin1String("Cannot allocate memory for the data of file %1:\r\n") + SystemErrorText(ENOMEM);
    QTest::addRow("endless device") << QStringLiteral("device")
                                    << QLatin1String("Cannot allocate memory for the data of file %1:\r\n") + SystemErrorText(ENOMEM);
}

void TestArgumentFile::loadFailures()
{
    QFETCH(QString, how);
    QFETCH(QString, expected);
    QTemporaryDir dir;
    QString path = dir.filePath(QStringLiteral("args.txt"));
    if (how == QLatin1String("folder"))
        path = dir.path();
    else if (how == QLatin1String("device"))
        path = QStringLiteral("/dev/zero");
    else if (how != QLatin1String("missing"))
        QVERIFY(WriteFile(path, kExampleFile));
    QVERIFY(::chmod(NativePath(dir.path()).constData(), 0755) == 0);
    if (how == QLatin1String("unreadable"))
        QVERIFY(::chmod(NativePath(path).constData(), 0200) == 0);

    const auto body = [&] {
        RecordingSink sink;
        CHILD_CHECK(!LoadArgumentFile(path, ArgumentTags::defaults(), sink, 100));
        CHILD_CHECK(sink.texts() == QStringList {expected.arg(path)});
        return 0;
    };
    QCOMPARE(how == QLatin1String("unreadable") ? RunUnprivileged(body) : RunInChild(body), 0);
}

void TestArgumentFile::loadBinaryAndSpecialFiles()
{
    QTemporaryDir dir;
    RecordingSink sink;

    // Random bytes around one entry: no crash, the entry found, nothing else.
    QByteArray binary = RandomBytes(7, 1 << 20);
    binary.insert(1 << 19, "<FIND TYPE=HEX>00 FF</FIND><REPLACE TYPE=ASC>\x90</REPLACE>");
    const QString binaryPath = WriteFileIn(dir.path(), QStringLiteral("binary.bin"), binary);
    auto loaded = LoadArgumentFile(binaryPath, ArgumentTags::defaults(), sink);
    QVERIFY(loaded);
    QCOMPARE(*loaded, FindReplaceArguments {arg(2, QStringLiteral("00 FF"), 0, QStringLiteral("\u0090"))});

    // A file without a complete entry loads, with nothing in it.
    loaded = LoadArgumentFile(WriteFileIn(dir.path(), QStringLiteral("plain.txt"), "<FIND TYPE=ASC>a</FIND>"), ArgumentTags::defaults(), sink);
    QVERIFY(loaded);
    QVERIFY(loaded->isEmpty());

    // A pipe that nobody writes to reads as empty instead of waiting.
    const QString fifo = dir.filePath(QStringLiteral("fifo"));
    QVERIFY(::mkfifo(NativePath(fifo).constData(), 0600) == 0);
    loaded = LoadArgumentFile(fifo, ArgumentTags::defaults(), sink);
    QVERIFY(loaded);
    QVERIFY(loaded->isEmpty());

    // A file exactly at the limit is read.
    const QString exact = WriteFileIn(dir.path(), QStringLiteral("exact.txt"), kExampleFile);
    loaded = LoadArgumentFile(exact, ArgumentTags::defaults(), sink, kExampleFile.size());
    QVERIFY(loaded);
    QCOMPARE(*loaded, kExample);

    QVERIFY(!LoadArgumentFile(QString(), ArgumentTags::defaults(), sink));
    QCOMPARE(sink.texts(), QStringList());
}

void TestArgumentFile::messageTexts()
{
    const QString name = QStringLiteral("/a/b.txt");
    const QString d = QStringLiteral("Boom");
    QCOMPARE(SaveDialogErrorMessage(name, d), QStringLiteral("The following error occured while specifying the file /a/b.txt :\rBoom"));
    QCOMPARE(OpenDialogErrorMessage(name, d), QStringLiteral("The following error occured while opening the file /a/b.txt :\rBoom"));
    QCOMPARE(ReadArgumentsErrorMessage(name, d), QStringLiteral("Cannot read the data of file /a/b.txt:\r\nBoom"));
    QCOMPARE(ScanArgumentsErrorMessage(name, d), QStringLiteral("Cannot read Find&Replace arguments from file /a/b.txt :\r\nBoom"));
    QCOMPARE(AddArgumentRowErrorMessage(d), QStringLiteral("Cannot add item to Find&Replace arguments list:\r\nBoom"));
}

QTEST_APPLESS_MAIN(TestArgumentFile)
#include "tst_argumentfile.moc"
