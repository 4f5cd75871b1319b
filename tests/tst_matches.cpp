// The occurrences of one file with the bytes around them, as the Matches window lists them, without a window.

#include "batch/batchoptions.h"
#include "engine/matchcontext.h"
#include "engine/runplan.h"
#include "files/filesystem.h"
#include "files/openedfile.h"
#include "support/testsupport.h"

#include <QTemporaryDir>
#include <QTest>

#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>

using namespace perrox;
using namespace perrox::test;
using namespace Qt::StringLiterals;

namespace {

// A file, its pairs, the bytes of context and the most occurrences listed; each occurrence listed as "offset pair:
// hex before => hex after | characters before => characters after", and how many the scan counted.
struct ContextCase
{
    const char *name;
    QByteArray bytes;
    QList<QByteArray> finds, replaces;
    int context;
    qint64 limit;
    QStringList listed;
    qint64 count;
};
const ContextCase kContexts[] = {
    {"at the file's start", "abcdef", {"ab"}, {"X"}, 2, 10, {u"0 (0x0) 0: [61 62] 63 64 => [58] 63 64 | [ab]cd => [X]cd"_s}, 1},
    {"at the file's end, empty replacement", "abcdef", {"ef"}, {""}, 2, 10, {u"4 (0x4) 0: 63 64 [65 66] => 63 64 [] | cd[ef] => cd[]"_s}, 1},
    // A neighbour inside the context is shown as the file holds it.
    {"overlapping neighbours", "xaxax", {"a"}, {"b"}, 2, 10,
        {u"1 (0x1) 0: 78 [61] 78 61 => 78 [62] 78 61 | x[a]xa => x[b]xa"_s, u"3 (0x3) 0: 61 78 [61] 78 => 61 78 [62] 78 | ax[a]x => ax[b]x"_s}, 2},
    // Controls, the unassigned 81 and the soft hyphen AD have no visible character; 80 is the euro sign.
    {"binary bytes", QByteArray("\x00\x01\x80\xff\x81\xad\x7f", 7), {"\xff"}, {"\r\n"}, 3, 10,
        {u"3 (0x3) 0: 00 01 80 [FF] 81 AD 7F => 00 01 80 [0D 0A] 81 AD 7F | ..\u20ac[\u00ff]... => ..\u20ac[..]..."_s}, 1},
    // The first pair in list order wins where both match; the scan goes on behind the match.
    {"two pairs", "abcab", {"ab", "c", "b"}, {"1", "2", "3"}, 1, 10,
        {u"0 (0x0) 0: [61 62] 63 => [31] 63 | [ab]c => [1]c"_s, u"2 (0x2) 1: 62 [63] 61 => 62 [32] 61 | b[c]a => b[2]a"_s,
            u"3 (0x3) 0: 63 [61 62] => 63 [31] | c[ab] => c[1]"_s},
        3},
    {"the limit keeps the first, counts all", "aaaaa", {"a"}, {"b"}, 0, 2,
        {u"0 (0x0) 0: [61] => [62] | [a] => [b]"_s, u"1 (0x1) 0: [61] => [62] | [a] => [b]"_s}, 5},
    {"empty file", "", {"a"}, {"b"}, 8, 10, {}, 0},
};

// Listed occurrences applied to "Cat cat, tomcat.\x00" (17 bytes): the pairs ("find>replace", then "i" ignore case,
// "w" whole word; "regex:" and "hex:" sides), the occurrences "offset:length:pair", what the file gets after it was
// listed ("" nothing), the output (with its counts per pair) or the message (%1 the path), and the last position.
const std::tuple<const char *, const char *, const char *, QByteArray, QString, double> kListed[] = {
    {"a literal, one left out", "cat>dog", "12:3:0", {}, u"Cat cat, tomdog.\\x00 1"_s, 17},
    {"none listed: no output", "cat>dog", "", {}, u" 0"_s, 17},
    {"folded case", "cat>X i", "0:3:0 4:3:0", {}, u"X X, tomcat.\\x00 2"_s, 17},
    {"whole word, two pairs", "cat>1 w|hex:00>hex:0A", "4:3:0 16:1:1", {}, u"Cat 1, tomcat.\\n 1,1"_s, 17},
    {"a template from the match", "regex:(?<=m)(c)at>$1A|t>T", "2:1:1 12:3:0", {}, u"CaT cat, tomcA.\\x00 1,1"_s, 17},
    {"a regex cut short", "regex:c\\w+>x", "4:2:0", {}, u"The bytes at offset 4 of %1 (2 bytes) are no match of pair 0."_s, 0},
    {"a word that is not whole", "cat>1 w", "12:3:0", {}, u"The bytes at offset 12 of %1 (3 bytes) are no match of pair 0."_s, 0},
    {"case where it counts", "cat>dog", "0:3:0", {}, u"The bytes at offset 0 of %1 (3 bytes) are no match of pair 0."_s, 0},
    {"out of order", "cat>dog", "12:3:0 4:3:0", {}, u"The occurrence at offset 4 of %1 overlaps the one before it, or comes before it."_s, 0},
    {"past the end", "cat>dog", "15:3:0", {}, u"The occurrence at offset 15 of %1 (3 bytes) lies outside the file, which holds 17 bytes."_s, 0},
    {"empty", "cat>dog", "4:0:0", {}, u"The occurrence at offset 4 of %1 (0 bytes) lies outside the file, which holds 17 bytes."_s, 0},
    {"no such pair", "cat>dog", "4:3:-1", {}, u"The occurrence at offset 4 of %1 names pair -1, which does not exist."_s, 0},
    {"changed, same size", "cat>dog", "4:3:0", "Cat cat, tomcat!!", ChangedSinceListedMessage(u"%1"_s), 0},
    {"grown", "cat>dog", "4:3:0", "Cat cat, tomcat.!!", ChangedSinceListedMessage(u"%1"_s), 0},
};

} // namespace

class TestMatches : public QObject
{
    Q_OBJECT

private slots:
    void contexts_data() { AddRows(kContexts); }
    void contexts()
    {
        QFETCH(int, row);
        const ContextCase &c = kContexts[row];
        QTemporaryDir dir;
        const MatchList list = ListMatches(WriteFileIn(dir.path(), u"f"_s, c.bytes),
            ArgumentTables({c.finds.begin(), c.finds.end()}, {c.replaces.begin(), c.replaces.end()}), c.limit, c.context);
        QVERIFY2(list.ok(), qPrintable(list.error()));
        QStringList listed;
        for (const MatchContext &m : list.rows)
            listed << u"%1 %2: %3 => %4 | %5 => %6"_s.arg(OffsetText(m.offset))
                          .arg(m.pair)
                          .arg(ContextHex(m, false), ContextHex(m, true), ContextCharacters(m, false), ContextCharacters(m, true));
        QCOMPARE(listed, c.listed);
        QCOMPARE(list.scan.outcome.count, c.count);
        QCOMPARE(list.scan.status.st_size, c.bytes.size());
    }

    // A pattern's occurrence has its own length, and a template's replacement
    // is what it made of that occurrence.
    void patterns()
    {
        QTemporaryDir dir;
        FindPattern word {FindPattern::Kind::Regex, "(\\w)(\\w*)", {}, FindPattern::Fold::None, false, false};
        FindPattern folded {FindPattern::Kind::Bytes, "AB", {}, FindPattern::Fold::Windows1252, false, false};
        const PatternTables tables = BuildPatternTables({folded, word}, {{Replacement::Kind::Bytes, "-"}, {Replacement::Kind::Template, "$2$1"}});
        const MatchList list = ListMatches(WriteFileIn(dir.path(), u"f"_s, "xyz ab"), tables.tables, 10, 1);
        QVERIFY2(list.ok(), qPrintable(list.error()));
        QStringList listed;
        for (const MatchContext &m : list.rows)
            listed << u"%1 %2: %3"_s.arg(m.offset).arg(m.pair).arg(ContextCharacters(m, false) + u" => "_s + ContextCharacters(m, true));
        QCOMPARE(listed, (QStringList {u"0 1: [xyz]  => [yzx] "_s, u"4 0:  [ab] =>  [-]"_s}));
    }

    // Only listed occurrences are replaced, once the file is the one listed and each is a match of its pair there.
    void listedOccurrences_data() { AddRows(kListed); }
    void listedOccurrences()
    {
        QFETCH(int, row);
        const auto &[name, pairs, occurrences, meddle, result, position] = kListed[row];
        QTemporaryDir dir;
        const QString path = WriteFileIn(dir.path(), u"f"_s, QByteArray("Cat cat, tomcat.\0", 17));
        FindReplaceArguments arguments;
        for (const QString &pair : QString::fromLatin1(pairs).split(u'|')) {
            FindReplaceArgument a;
            ParseSide(pair.section(u'>', 0, 0), a.findNotation, a.findText);
            ParseSide(pair.section(u'>', 1).section(u' ', 0, 0), a.replaceNotation, a.replaceText);
            a.ignoreCase = pair.section(u' ', 1).contains(u'i');
            a.wholeWord = pair.section(u' ', 1).contains(u'w');
            arguments << a;
        }
        RecordingSink sink;
        const std::optional<ArgumentTables> tables = BuildArgumentTables(arguments, sink);
        QVERIFY(tables);
        OpenedFile file;
        QCOMPARE(file.open(path), QString());
        ListedFile listed = IdentityOf(file.fd(), file.status());
        for (const QString &o : QString::fromLatin1(occurrences).split(u' ', Qt::SkipEmptyParts))
            listed.occurrences.push_back({o.section(u':', 0, 0).toLongLong(), o.section(u':', 2).toInt(), o.section(u':', 1, 1).toLongLong()});
        OpenedFile now;
        if (!meddle.isEmpty()) {
            // The modification time as listed: the size or the hash tells.
            QVERIFY(WriteFile(path, meddle));
            const struct timespec times[2] = {file.status().st_atim, file.status().st_mtim};
            QCOMPARE(::utimensat(AT_FDCWD, NativePath(path).constData(), times, 0), 0);
        }
        QCOMPARE(now.open(path), QString());
        MemoryOutput out;
        EngineState state;
        state.ioChunk = 4; // copies in many steps
        RecordingObserver observer;
        const ReplaceOutcome outcome = ApplyListedOccurrences(now, out, *tables, listed, state, observer);
        QStringList perPair;
        for (const qint64 n : outcome.perPair)
            perPair << QString::number(n);
        QCOMPARE(outcome.status == ReplaceOutcome::Status::Done
                ? QString::fromLatin1(out.bytes.toPercentEncoding(" ,.!")).replace(u"%00"_s, u"\\x00"_s).replace(u"%0A"_s, u"\\n"_s) + u' ' + perPair.join(u',')
                : outcome.error,
            QString(result).replace(u"%1"_s, path));
        QCOMPARE(out.opens, int(!outcome.perPair.empty() && outcome.count > 0));
        QCOMPARE(state.dblActVal, position);
        QCOMPARE(now.status().st_size, qint64(meddle.isEmpty() ? 17 : meddle.size())); // the source is only read
        QCOMPARE(sink.shown.size(), 0);
    }

    // A plan goes through JSON and back unchanged, whole numbers beyond 2^53 too; what is not a plan says where.
    void planJson()
    {
        RunPlan plan {{{Notation::Regex, u"c(a)t"_s, Notation::Utf8, u"\u00e9$1"_s, true, true}}, {"c(a)t"}, {"\xc3\xa9$1"}, {}};
        plan.files.push_back({u"a\nb"_s, {17, (qint64(1) << 62) + 1, "sha256:00", {{4, 0, 3}, {12, 0, 3}}}});
        const PlanParse back = ParsePlan(PlanJson(plan));
        QVERIFY2(back.ok(), qPrintable(back.error));
        QCOMPARE(std::tuple(back.plan.pairs, back.plan.finds, back.plan.replaces, back.plan.files.size()),
            std::tuple(plan.pairs, plan.finds, plan.replaces, size_t(1)));
        const ListedFile &f = back.plan.files[0].listed;
        QCOMPARE(std::tuple(back.plan.files[0].path, f.size, f.mtimeNs, f.hash, f.occurrences.size(), f.occurrences[1].offset, f.occurrences[1].length),
            std::tuple(u"a\nb"_s, qint64(17), (qint64(1) << 62) + 1, "sha256:00"_ba, size_t(2), qint64(12), qint64(3)));
        const QByteArray pair = R"({"find":"61","replace":"","find_notation":"Asc","find_text":"a","replace_notation":"Asc","replace_text":""})";
        const std::pair<QByteArray, QString> refused[] = {
            {"[]", u"the plan: is not an object"_s},
            {"{\"pairs\": [" + pair + "]}", u"the plan: files is missing or not an array"_s},
            {"{\"pairs\": [" + QByteArray(pair).replace("Asc\",\"find_text", "Bin\",\"find_text") + "], \"files\": []}",
                u"pairs[0]: find_notation is no notation (Asc, Dec, Hex, Utf or Regex)"_s},
            {"{\"pairs\": [" + QByteArray(pair).replace("\"61\"", "\"6g\"") + "], \"files\": []}", u"pairs[0]: find is not hexadecimal"_s},
            {"{\"pairs\": [" + pair + "], \"files\": [{\"path\": \"a\", \"size\": 1.5}]}", u"files[0]: size is missing or not a whole number of at least 0"_s},
            {"{\"pairs\": [" + pair + "], \"files\": [{\"path\": \"a\", \"size\": 1, \"mtime_ns\": 1, \"hash\": \"\", \"occurrences\": [{\"offset\": -1}]}]}",
                u"files[0].occurrences[0]: offset is missing or not a whole number of at least 0"_s},
        };
        for (const auto &[json, error] : refused)
            QCOMPARE(ParsePlan(json).error, error);
    }

    void failures()
    {
        QTemporaryDir dir;
        const ArgumentTables pairs({"a"}, {"b"});
        const QString gone = dir.filePath(u"gone"_s);
        MatchList list = ListMatches(gone, pairs, 10, 8);
        QCOMPARE(std::tuple(list.ok(), list.rows.size(), list.error()), std::tuple(false, size_t(0), FileErrorMessage(ENOENT, gone)));
        list = ListMatches(dir.path(), pairs, 10, 8);
        QCOMPARE(list.error(), FileErrorMessage(EISDIR, dir.path()));
        MatchContext context;
        QCOMPARE(ReadMatchContext(-1, {0, 0}, "a", "b", 8, context), EBADF);
        QCOMPARE(OffsetText((qint64(1) << 32) + 255), u"4294967551 (0x1000000FF)"_s); // beyond 32 bits, upper-case digits
    }
};

QTEST_APPLESS_MAIN(TestMatches)
#include "tst_matches.moc"
