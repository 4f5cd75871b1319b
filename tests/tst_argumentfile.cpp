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
using namespace Qt::StringLiterals;

namespace {

const FindReplaceArguments kExample {{Asc, u"hello"_s, Hex, u"48 49"_s}, {Dec, u"13,10"_s, Asc, QString()}};
const QByteArray kExampleFile("<FIND TYPE=ASC>hello</FIND><REPLACE TYPE=HEX>48 49</REPLACE>\r\n"
                              "<FIND TYPE=DEC>13,10</FIND><REPLACE TYPE=ASC></REPLACE>\r\n");
const ArgumentTags kTags = ArgumentTags::defaults();
// Without dots every notation gives the same tag.
const ArgumentTags kPlainTags {u"<F>"_s, u"</F>"_s, u"<R>"_s, u"</R>"_s};
const QByteArray kPlainFile("<F>a</F><R>1</R>\r\n<F>2</F><R>b</R>\r\n");

} // namespace

Q_DECLARE_METATYPE(ArgumentTags)

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
        // How a find matches follows its notation word; a tag without "..." has no such variants, and a pattern no
        // replace side.
        const auto expanded = [](const QString &startTag, std::size_t matching) {
            const ExpandedTags t = ExpandTags({startTag, QString(), startTag, QString()});
            QStringList tags;
            for (std::size_t n = 0; n < kNotationCount; ++n)
                tags << t.findStart[n][matching] + u'|' + t.replaceStart[n];
            return tags;
        };
        QCOMPARE(expanded(u"[...|...]"_s, 0),
            QStringList({u"[ASC|ASC]|[ASC|ASC]"_s, u"[DEC|DEC]|[DEC|DEC]"_s, u"[HEX|HEX]|[HEX|HEX]"_s, u"[UTF8|UTF8]|[UTF8|UTF8]"_s, u"[REGEX|REGEX]|"_s}));
        QCOMPARE(expanded(u"<....>"_s, 3).value(0), u"<ASC CASE=IGNORE WORD=YES.>|<ASC.>"_s);
        QCOMPARE(expanded(u"<F>"_s, 1).value(1), u"|<F>"_s);
        QCOMPARE(ArgumentFileContent({{Utf, u"é"_s, Asc, u"x"_s, true, false}, {Hex, u"41"_s, Asc, u"x"_s, true, true}, {Rgx, u"a+"_s, Utf, u"$0"_s}}, kTags),
            "<FIND TYPE=UTF8 CASE=IGNORE>\xc3\xa9</FIND><REPLACE TYPE=ASC>x</REPLACE>\r\n<FIND TYPE=HEX WORD=YES>41</FIND><REPLACE TYPE=ASC>x</REPLACE>\r\n"
            "<FIND TYPE=REGEX>a+</FIND><REPLACE TYPE=UTF8>$0</REPLACE>\r\n"_ba);
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
        row("no replace start tag skipped", "<FIND TYPE=ASC>a</FIND>x</REPLACE>", {});
        row("a skipped entry keeps its find side", "<FIND TYPE=ASC>a</FIND>x</REPLACE><REPLACE TYPE=DEC>1</REPLACE>", {{Asc, u"a"_s, Dec, u"1"_s}});
        row("last start tag wins", "<FIND TYPE=ASC>x<FIND TYPE=HEX>41</FIND><REPLACE TYPE=DEC>y<REPLACE TYPE=ASC>z</REPLACE>", {{Hex, u"41"_s, Asc, u"z"_s}});
        row("text outside tags, texts over lines", "junk\r\n<FIND TYPE=DEC>13\r\n10</FIND>\r\n\r\n<REPLACE TYPE=HEX>0A\n</REPLACE>tail\r\n",
            {{Dec, u"13\r\n10"_s, Hex, u"0A\n"_s}});
        row("bytes one per character", QByteArray(highAndNul, sizeof highAndNul - 1), {{Asc, u"\u20ac\u0081\u00ff"_s, Asc, QString(QChar(0))}});
        row("a byte that is no utf8 is kept", "<FIND TYPE=UTF8>a\xe9</FIND><REPLACE TYPE=ASC>\xe9</REPLACE>",
            {{Utf, DecodeNativePath("a\xe9"), Asc, u"\u00e9"_s}});
        row("matching after the notation word",
            "<FIND TYPE=ASC WORD=YES>a</FIND><REPLACE TYPE=ASC>b</REPLACE><FIND TYPE=REGEX CASE=IGNORE>\xc3\xa9+</FIND>"
            "<REPLACE TYPE=DEC>1</REPLACE>",
            {{Asc, u"a"_s, Asc, u"b"_s, false, true}, {Rgx, u"\u00e9+"_s, Dec, u"1"_s, true, false}});
        row("other orders and words are no tag",
            "<FIND TYPE=ASC WORD=YES CASE=IGNORE>a</FIND><REPLACE TYPE=ASC>b</REPLACE>"
            "<FIND TYPE=ASC CASE=yes>a</FIND><REPLACE TYPE=ASC>b</REPLACE>",
            {});
        row("a pattern has no replace side", "<FIND TYPE=ASC>a</FIND><REPLACE TYPE=REGEX>b</REPLACE>", {});
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
            tags << QStringList(t.findStart[n].begin(), t.findStart[n].end()) << t.replaceStart[n];
        tags.removeAll(QString());
        QRandomGenerator rng(4);
        const auto side = [&](Notation notation, int least) {
            const QByteArray bytes = RandomBytes(rng.generate(), least + rng.bounded(40), alphabet);
            return Info(notation).utf8InFiles ? DecodeNativePath(bytes) : BytesToCharacters(bytes);
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
                const bool ignoreCase = CanFoldCase(notation) && rng.bounded(2), wholeWord = rng.bounded(2);
                if (!holdsTag(find) && !holdsTag(replace) && TakesReplaceSide(replaceNotation))
                    arguments.append({notation, find, replaceNotation, replace, ignoreCase, wholeWord});
            }
            RecordingSink sink;
            QVERIFY(SaveArgumentFile(path, arguments, kTags, sink));
            QCOMPARE(LoadArgumentFile(path, kTags, sink), std::optional(arguments));
            QCOMPARE(sink.texts(), QStringList());
        }
    }

    // Failures name the file, and a file that stands is left as it was, with nothing beside it: a folder, a file or a source without a size (a
    // device) over the limit, nothing to save, a folder the user may not write to (the save fails rather than write over the file in place), the file
    // size limit. A FIFO nobody writes to gives nothing, at once; a save through a link reaches the file.
    void failures()
    {
        QTemporaryDir dir;
        const QString folder = dir.filePath(u"f"_s), fifo = dir.filePath(u"fifo"_s), link = folder + u"/link.txt"_s;
        QVERIFY(QDir().mkpath(folder));
        const QString file = WriteFileIn(folder, u"args.txt"_s, kExampleFile);
        QVERIFY(QFile::link(u"args.txt"_s, link));
        QCOMPARE(::mkfifo(NativePath(fifo).constData(), 0600), 0);
        const auto tooLarge = [](const QString &path, const QString &limit) {
            return u"Cannot allocate memory for the data of file "_s + path + u":\r\nThe file is larger than "_s + limit
                + u", the most an argument file may hold"_s;
        };
        const qint64 size = kExampleFile.size();
        const std::tuple<QString, qint64, QString> refused[] = {{folder, 100, FileErrorMessage(EISDIR, folder)},
            {file, size - 1, tooLarge(file, u"%1 bytes"_s.arg(size - 1))}, {u"/dev/zero"_s, 1 << 20, tooLarge(u"/dev/zero"_s, u"1 MiB"_s)}};
        for (const auto &[path, maxSize, message] : refused) {
            RecordingSink sink;
            QCOMPARE(LoadArgumentFile(path, kTags, sink, maxSize), std::nullopt);
            QCOMPARE(sink.texts(), QStringList {message});
        }
        RecordingSink sink;
        QCOMPARE(LoadArgumentFile(link, kTags, sink, size), std::optional(kExample));
        QCOMPARE(LoadArgumentFile(fifo, kTags, sink), std::optional(FindReplaceArguments()));
        QCOMPARE(LoadArgumentFile(QString(), kTags, sink), std::nullopt);
        QVERIFY(!SaveArgumentFile(folder, kExample, kTags, sink));
        QVERIFY(!SaveArgumentFile(file, {}, kTags, sink));
        QVERIFY(!SaveArgumentFile(QString(), kExample, kTags, sink)); // a cancelled dialog
        QCOMPARE(sink.texts(), QStringList({FileErrorMessage(EISDIR, folder), u"Cannot read Find&Replace arguments:\r\n"_s + SystemErrorText(ERANGE)}));
        QVERIFY(SaveArgumentFile(link, {{Asc, u"a"_s, Dec, u"1"_s}}, kTags, sink));
        QVERIFY(QFileInfo(link).isSymLink());
        const QByteArray saved = ReadFile(file);
        QCOMPARE(saved, "<FIND TYPE=ASC>a</FIND><REPLACE TYPE=DEC>1</REPLACE>\r\n"_ba);
        QCOMPARE(::chmod(NativePath(dir.path()).constData(), 0755), 0);
        QCOMPARE(::chmod(NativePath(folder).constData(), 0555), 0);
        QCOMPARE(::chmod(NativePath(file).constData(), 0666), 0);
        const auto failedSave = [&](const QString &message) {
            RecordingSink s;
            CHILD_CHECK(!SaveArgumentFile(file, kExample, kTags, s));
            CHILD_CHECK(s.texts() == QStringList {message});
            return 0;
        };
        QCOMPARE(RunUnprivileged([&] { return failedSave(SystemErrorText(EACCES) + u" - "_s + file); }), 0);
        QCOMPARE(::chmod(NativePath(folder).constData(), 0755), 0);
        QCOMPARE(RunInChild([&] {
            std::signal(SIGXFSZ, SIG_IGN); // the limit applies to root too
            const struct rlimit limit = {50, 50};
            CHILD_CHECK(::setrlimit(RLIMIT_FSIZE, &limit) == 0);
            return failedSave(u"Cannot write the Find&Replace arguments to file "_s + file + u" :\r\n"_s + SystemErrorText(EFBIG));
        }),
            0);
        QCOMPARE(ReadFile(file), saved);
        QCOMPARE(QDir(folder).entryList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot), QStringList({u"args.txt"_s, u"link.txt"_s}));
    }
};

QTEST_APPLESS_MAIN(TestArgumentFile)
#include "tst_argumentfile.moc"
