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
#include <fcntl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

using namespace perrox;
using namespace perrox::test;
using namespace Qt::StringLiterals;

namespace {

const FindReplaceArguments kExample {{Asc, u"hello"_s, Hex, u"48 49"_s}, {Dec, u"13,10"_s, Asc, QString()}};
const QByteArray kExampleFile("<FIND TYPE=ASC>hello</FIND><REPLACE TYPE=HEX>48 49</REPLACE>\r\n"
                              "<FIND TYPE=DEC>13,10</FIND><REPLACE TYPE=ASC></REPLACE>\r\n");
const ArgumentTags kTags = ArgumentTags::defaults();
// Without dots every notation gives the same tag.
const ArgumentTags kPlainTags {u"<F>"_s, u"</F>"_s, u"<R>"_s, u"</R>"_s};
const QByteArray kPlainFile("<F>a</F><R>1</R>\r\n<F>2</F><R>b</R>\r\n");

// The bytes this process has read (the kernel's rchar) up to this read of them, and the bytes that read took.
std::pair<qint64, qint64> bytesRead()
{
    char text[4096];
    const int fd = ::open("/proc/self/io", O_RDONLY | O_CLOEXEC);
    const QByteArray io(text, fd < 0 ? 0 : std::max<ssize_t>(::read(fd, text, sizeof text), 0));
    ::close(fd);
    return {io.startsWith("rchar: ") ? io.mid(7, io.indexOf('\n') - 7).toLongLong() : -1, io.size()};
}

// A save of a file (none: no name) in a fresh folder, where f/args.txt (1000 bytes, mode 0640) has a second name,
// f/second.txt, and a link to it, f/link.txt; "how" it fails: a read-only "folder", a file size "limit".
// The message's %1 is the path; none with a name: saved.
struct SaveCase
{
    const char *name;
    QString file, message = {};
    const char *how = "";
    bool withArguments = true;
};

// A load from a source ("file", "unreadable", "fifo", "folder", a device, or none)
// that reads the bytes "reads"; the message's %1 is the path, none with a source: loaded.
struct LoadCase
{
    const char *name;
    QString source;
    QByteArray content = {};
    qint64 maxSize = 100, reads = 0;
    QString message = {};
    FindReplaceArguments expected = {};
};

} // namespace

Q_DECLARE_METATYPE(ArgumentTags)
Q_DECLARE_METATYPE(SaveCase)
Q_DECLARE_METATYPE(LoadCase)

class TestArgumentFile : public QObject
{
    Q_OBJECT

private slots:
    void contentAndTags()
    {
        for (const ArgumentTags &tags : {kTags, ArgumentTags()}) // empty tags are the defaults
            QCOMPARE(ArgumentFileContent(kExample, tags), kExampleFile);
        QCOMPARE(ArgumentFileContent({{Asc, u"a"_s, Dec, u"1"_s}, {Dec, u"2"_s, Asc, u"b"_s}}, kPlainTags), kPlainFile);
        // Every "..." of a start tag, left to right, becomes the notation word.
        const auto expanded = [](const QString &startTag) {
            const ExpandedTags t = ExpandTags({startTag, QString(), QString(), QString()});
            return QStringList(t.findStart.begin(), t.findStart.end());
        };
        QCOMPARE(expanded(u"[...|...]"_s), QStringList({u"[ASC|ASC]"_s, u"[DEC|DEC]"_s, u"[HEX|HEX]"_s, u"[UTF8|UTF8]"_s}));
        QCOMPARE(expanded(u"<....>"_s), QStringList({u"<ASC.>"_s, u"<DEC.>"_s, u"<HEX.>"_s, u"<UTF8.>"_s}));
        QCOMPARE(ReadArgumentsErrorMessage(u"/a/b.txt"_s, u"Boom"_s), u"Cannot read the data of file /a/b.txt:\r\nBoom"_s);
        QCOMPARE(ScanArgumentsErrorMessage(u"/a/b.txt"_s, u"Boom"_s), u"Cannot read Find&Replace arguments from file /a/b.txt :\r\nBoom"_s);
    }

    void parse_data()
    {
        QTest::addColumn<QByteArray>("content");
        QTest::addColumn<ArgumentTags>("tags");
        QTest::addColumn<FindReplaceArguments>("expected");
        const auto row = [](const char *name, const QByteArray &content, const FindReplaceArguments &expected, const ArgumentTags &tags = kTags) {
            QTest::newRow(name) << content << tags << expected;
        };
        static const char highAndNul[] = "<FIND TYPE=ASC>\x80\x81\xff</FIND><REPLACE TYPE=ASC>\0</REPLACE>";
        row("worked example", kExampleFile, kExample);
        row("no dots: the last notation tried wins", kPlainFile, {{Hex, u"a"_s, Hex, u"1"_s}, {Hex, u"2"_s, Hex, u"b"_s}}, kPlainTags);
        row("a tag the code page cannot hold, not even as ?", "<?ASC>a</F><R>b</R>", {}, {u"<\u2603...>"_s, u"</F>"_s, u"<R>"_s, u"</R>"_s});
        row("empty find text skipped", "<FIND TYPE=ASC></FIND><REPLACE TYPE=ASC>x</REPLACE>", {});
        row("empty replace text loaded", "<FIND TYPE=ASC>a</FIND><REPLACE TYPE=HEX></REPLACE>", {{Asc, u"a"_s, Hex, {}}});
        row("replace side first skipped", "<REPLACE TYPE=ASC>x</REPLACE><FIND TYPE=ASC>a</FIND>", {});
        row("no replace start tag skipped", "<FIND TYPE=ASC>a</FIND>x</REPLACE>", {});
        row("a skipped entry keeps its find side", "<FIND TYPE=ASC>a</FIND>x</REPLACE><REPLACE TYPE=DEC>1</REPLACE>", {{Asc, u"a"_s, Dec, u"1"_s}});
        row("last start tag wins", "<FIND TYPE=ASC>x<FIND TYPE=HEX>41</FIND><REPLACE TYPE=DEC>y<REPLACE TYPE=ASC>z</REPLACE>", {{Hex, u"41"_s, Asc, u"z"_s}});
        row("later find end tag wins", "<FIND TYPE=ASC>a</FIND>b</FIND><REPLACE TYPE=ASC>c</REPLACE>", {{Asc, u"a</FIND>b"_s, Asc, u"c"_s}});
        row("text outside tags, texts over lines", "junk\r\n<FIND TYPE=DEC>13\r\n10</FIND>\r\n\r\n<REPLACE TYPE=HEX>0A\n</REPLACE>tail\r\n",
            {{Dec, u"13\r\n10"_s, Hex, u"0A\n"_s}});
        row("bytes one per character", QByteArray(highAndNul, sizeof highAndNul - 1), {{Asc, u"\u20ac\u0081\u00ff"_s, Asc, QString(QChar(0))}});
        row("utf8 sides, any character", "<FIND TYPE=UTF8>caf\xc3\xa9 \xd0\x96</FIND><REPLACE TYPE=UTF8>\xe2\x86\x92</REPLACE>",
            {{Utf, u"caf\u00e9 \u0416"_s, Utf, u"\u2192"_s}});
        row("a byte that is no utf8 is kept", "<FIND TYPE=UTF8>a\xe9</FIND><REPLACE TYPE=ASC>\xe9</REPLACE>",
            {{Utf, DecodeNativePath("a\xe9"), Asc, u"\u00e9"_s}});
    }
    void parse()
    {
        QFETCH(QByteArray, content);
        QFETCH(ArgumentTags, tags);
        QFETCH(FindReplaceArguments, expected);
        QCOMPARE(ParseArgumentFile(content, tags), expected);
    }

    void roundTripOfRandomTexts()
    {
        // Texts crowded with the tags' own characters, line breaks, NUL, high bytes and UTF-8 sequences (whole, cut or
        // not UTF-8 at all on a UTF-8 side), but holding no whole tag.
        const QByteArray alphabet("<>/=FINDREPLACETYPASCHX \r\n\x80\x81\x9d\xff\xc3\xa9\xd0\x96\xf0\x9f\x98" + QByteArray(1, '\0') + "az01,");
        const ExpandedTags t = ExpandTags(kTags);
        QStringList tags {t.findEnd, t.replaceEnd};
        for (std::size_t n = 0; n < kNotationCount; ++n)
            tags << t.findStart[n] << t.replaceStart[n];
        QRandomGenerator rng(4);
        const auto side = [&](Notation notation, int least) {
            const QByteArray bytes = RandomBytes(rng.generate(), least + rng.bounded(40), alphabet);
            return notation == Utf ? DecodeNativePath(bytes) : BytesToCharacters(bytes);
        };
        const auto holdsTag
            = [&](const QString &text) { return std::any_of(tags.begin(), tags.end(), [&](const QString &tag) { return text.contains(tag); }); };
        QTemporaryDir dir;
        const QString path = dir.filePath(u"random.txt"_s);
        for (quint32 round = 0; round < 200; ++round) {
            FindReplaceArguments arguments;
            for (const int count = 1 + rng.bounded(5); arguments.size() < count;) {
                const Notation notation = kNotations[rng.bounded(int(kNotationCount))].notation;
                const Notation replaceNotation = kNotations[rng.bounded(int(kNotationCount))].notation;
                const QString find = side(notation, 1), replace = side(replaceNotation, 0);
                if (!holdsTag(find) && !holdsTag(replace))
                    arguments.append({notation, find, replaceNotation, replace});
            }
            RecordingSink sink;
            QVERIFY(SaveArgumentFile(path, arguments, kTags, sink));
            QCOMPARE(LoadArgumentFile(path, kTags, sink), std::optional(arguments));
            QCOMPARE(sink.texts(), QStringList());
        }
    }

    // A save replaces the file in place, whole; a failed one leaves it as it was; none leaves a temporary file.
    void save_data()
    {
        QTest::addColumn<SaveCase>("c");
        const QString denied = SystemErrorText(EACCES) + u" - %1"_s, nothing = u"Cannot read Find&Replace arguments:\r\n"_s + SystemErrorText(ERANGE);
        const SaveCase cases[] = {
            {"through a link", u"f/link.txt"_s},
            {"read-only folder", u"f/args.txt"_s, denied, "folder"},
            {"file size limit", u"f/args.txt"_s, u"Cannot write the Find&Replace arguments to file %1 :\r\n"_s + SystemErrorText(EFBIG), "limit"},
            {"a folder", u"f"_s, FileErrorMessage(EISDIR, u"%1"_s)},
            {"no arguments over a file", u"f/args.txt"_s, nothing, "", false},
            {"no name (a cancelled dialog)", {}},
        };
        for (const SaveCase &c : cases)
            QTest::newRow(c.name) << c;
    }
    void save()
    {
        QFETCH(SaveCase, c);
        const QByteArray how(c.how);
        QTemporaryDir dir;
        const QString folder = dir.filePath(u"f"_s), path = c.file.isEmpty() ? QString() : dir.filePath(c.file);
        QVERIFY(QDir().mkpath(folder));
        const QByteArray old(1000, 'x');
        const QString file = WriteFileIn(folder, u"args.txt"_s, old), second = folder + u"/second.txt"_s;
        QVERIFY(QFile::link(u"args.txt"_s, folder + u"/link.txt"_s));
        QCOMPARE(::link(NativePath(file).constData(), NativePath(second).constData()), 0);
        QCOMPARE(::chmod(NativePath(dir.path()).constData(), 0755), 0);
        QCOMPARE(::chmod(NativePath(folder).constData(), how == "folder" ? 0555 : 0777), 0);
        QCOMPARE(::chmod(NativePath(file).constData(), how == "folder" ? 0666 : 0640), 0);
        const bool saved = c.message.isEmpty() && !c.file.isEmpty();
        const auto body = [&] {
            if (how == "limit") {
                std::signal(SIGXFSZ, SIG_IGN);
                const struct rlimit limit = {50, 50};
                CHILD_CHECK(::setrlimit(RLIMIT_FSIZE, &limit) == 0);
            }
            RecordingSink sink;
            CHILD_CHECK(SaveArgumentFile(path, c.withArguments ? kExample : FindReplaceArguments(), kTags, sink) == saved);
            CHILD_CHECK(sink.texts() == (c.message.isEmpty() ? QStringList() : QStringList {c.message.arg(path)}));
            for (const RecordingSink::Shown &shown : sink.shown)
                CHILD_CHECK(shown.icon == MessageSink::Icon::Exclamation);
            for (const RecordingSink::Shown &shown : sink.shown)
                CHILD_CHECK(shown.title == u"Perrox"_s);
            return 0;
        };
        // The limit applies to root too; permissions need an ordinary user.
        QCOMPARE(how == "folder" ? RunUnprivileged(body) : RunInChild(body), 0);
        QCOMPARE(::chmod(NativePath(folder).constData(), 0755), 0);
        QCOMPARE(std::pair(ReadFile(file), ReadFile(second)), std::pair(saved ? kExampleFile : old, saved ? kExampleFile : old));
        QVERIFY(QFileInfo(folder + u"/link.txt"_s).isSymLink());
        struct stat st = {};
        QCOMPARE(::stat(NativePath(file).constData(), &st), 0);
        QCOMPARE(st.st_mode & 07777, how == "folder" ? 0666u : 0640u);
        QCOMPARE(QDir(folder).entryList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot),
            QStringList({u"args.txt"_s, u"link.txt"_s, u"second.txt"_s}));
    }

    // A source without a size, as a shell's <(...) gives one, that gives more than the limit is refused after one byte
    // too many; a file larger than the limit is refused unread.
    void load_data()
    {
        QTest::addColumn<LoadCase>("c");
        const auto tooLarge = [](const QString &limit) {
            return u"Cannot allocate memory for the data of file %1:\r\nThe file is larger than "_s + limit + u", the most an argument file may hold"_s;
        };
        const qint64 size = kExampleFile.size();
        const LoadCase cases[] = {
            {"folder", u"folder"_s, {}, 100, 0, FileErrorMessage(EISDIR, u"%1"_s)},
            {"unreadable", u"unreadable"_s, kExampleFile, 100, 0, FileErrorMessage(EACCES, u"%1"_s)},
            {"too large, by its size", u"file"_s, kExampleFile, size - 1, 0, tooLarge(u"%1 bytes"_s.arg(size - 1))},
            {"exactly at the limit", u"file"_s, kExampleFile, size, size, {}, kExample},
            {"pipe that nobody writes to", u"fifo"_s},
            {"endless device", u"/dev/zero"_s, {}, 100, 101, tooLarge(u"100 bytes"_s)},
            {"no name", {}},
        };
        for (const LoadCase &c : cases)
            QTest::newRow(c.name) << c;
    }
    void load()
    {
        QFETCH(LoadCase, c);
        QTemporaryDir dir;
        const QString path = c.source.isEmpty() || c.source.startsWith(u'/') ? c.source : c.source == u"folder"_s ? dir.path() : dir.filePath(u"args"_s);
        QCOMPARE(::chmod(NativePath(dir.path()).constData(), 0755), 0);
        if (c.source == u"file"_s || c.source == u"unreadable"_s)
            QVERIFY(WriteFile(path, c.content));
        if (c.source == u"file"_s || c.source == u"unreadable"_s)
            QCOMPARE(::chmod(NativePath(path).constData(), c.source == u"file"_s ? 0644 : 0200), 0);
        if (c.source == u"fifo"_s)
            QCOMPARE(::mkfifo(NativePath(path).constData(), 0600), 0);
        const auto body = [&] {
            RecordingSink sink;
            const auto [before, own] = bytesRead();
            const std::optional<FindReplaceArguments> loaded = LoadArgumentFile(path, kTags, sink, c.maxSize);
            const qint64 read = bytesRead().first - before - own;
            CHILD_CHECK(read == c.reads);
            CHILD_CHECK(sink.texts() == (c.message.isEmpty() ? QStringList() : QStringList {c.message.arg(path)}));
            const bool loads = c.message.isEmpty() && !c.source.isEmpty();
            CHILD_CHECK(loads ? loaded == c.expected : !loaded);
            return 0;
        };
        QCOMPARE(c.source == u"unreadable"_s ? RunUnprivileged(body) : RunInChild(body), 0);
    }
};

QTEST_APPLESS_MAIN(TestArgumentFile)
#include "tst_argumentfile.moc"
