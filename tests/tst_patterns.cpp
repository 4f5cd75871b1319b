#include "arguments/pairchecks.h"
#include "arguments/regexpattern.h"
#include "engine/patternsearch.h"
#include "engine/replaceengine.h"
#include "files/filesystem.h"
#include "support/testsupport.h"

#include <QChar>
#include <QRandomGenerator>
#include <QTemporaryDir>
#include <QTest>

#include <algorithm>
#include <memory>

using namespace perrox;
using namespace perrox::test;
using namespace Qt::StringLiterals;

namespace {

using Kind = FindPattern::Kind;
using Fold = FindPattern::Fold;

// Compact ways to write a pair's find: a Bytes find where '?' marks a
// wildcard (when wild), or a Regex.
FindPattern Bytes(const QByteArray &bytes, Fold fold = Fold::None, bool wholeWord = false, bool wild = false)
{
    FindPattern f;
    f.bytes = bytes;
    f.fold = fold;
    f.wholeWord = wholeWord;
    if (wild) {
        for (const char c : bytes)
            f.anyByte += char(c == '?' ? 1 : 0);
    }
    return f;
}
FindPattern Regex(const QByteArray &text, bool ignoreCase = false, bool wholeWord = false)
{
    FindPattern f;
    f.kind = Kind::Regex;
    f.bytes = text;
    f.ignoreCase = ignoreCase;
    f.wholeWord = wholeWord;
    return f;
}
Replacement Literal(const QByteArray &bytes)
{
    return {Replacement::Kind::Bytes, bytes};
}
Replacement Template(const QByteArray &text)
{
    return {Replacement::Kind::Template, text};
}

struct Pairs
{
    std::vector<FindPattern> finds;
    std::vector<Replacement> replaces;
};

// The valid UTF-8 character at data[at] and its length; 0 when there is none.
int DecodeCharacter(const QByteArray &data, qsizetype at, char32_t &c)
{
    for (int length = 1; length <= 4 && at + length <= data.size(); ++length) {
        const QByteArray piece = data.mid(at, length);
        const QList<uint> ucs4 = QString::fromUtf8(piece).toUcs4();
        if (ucs4.size() == 1 && QString::fromUcs4(reinterpret_cast<const char32_t *>(ucs4.constData()), 1).toUtf8() == piece) {
            c = ucs4.at(0);
            return length;
        }
    }
    return 0;
}

bool SameWindows1252Letter(uchar a, uchar b)
{
    static const QList<std::pair<int, int>> pairs = [] {
        QList<std::pair<int, int>> list {{0x8A, 0x9A}, {0x8C, 0x9C}, {0x8E, 0x9E}, {0x9F, 0xFF}};
        for (int c = 'A'; c <= 'Z'; ++c)
            list.append({c, c + 32});
        for (int c = 0xC0; c <= 0xDE; ++c) {
            if (c != 0xD7)
                list.append({c, c + 32});
        }
        return list;
    }();
    return a == b || pairs.contains({a, b}) || pairs.contains({b, a});
}

bool WordByte(const QByteArray &data, qint64 at)
{
    if (at < 0 || at >= data.size())
        return false;
    const uchar b = uchar(data.at(at));
    return QChar::isLetterOrNumber(b < 0x80 ? b : 'x') || b == '_';
}

// The whole file in memory, every position tried against every pair in list
// order: a Bytes find by a plain loop, a Regex by an anchored match over the
// whole buffer. Each match is replaced and the search goes on behind it.
class Oracle
{
public:
    explicit Oracle(const Pairs &pairs)
        : m_pairs(pairs)
    {
        for (const FindPattern &f : pairs.finds) {
            pcre2_code *code = nullptr;
            if (f.kind == Kind::Regex) {
                const bool utf = f.bytes.startsWith("(*UTF)");
                QByteArray text = f.bytes;
                if (f.wholeWord)
                    text = "(?<![0-9A-Za-z_\\x80-\\xff])(?:" + text + ")(?![0-9A-Za-z_\\x80-\\xff])";
                int error = 0;
                PCRE2_SIZE offset = 0;
                code = pcre2_compile(reinterpret_cast<PCRE2_SPTR>(text.constData()), PCRE2_SIZE(text.size()),
                    (f.ignoreCase ? PCRE2_CASELESS : 0) | (utf ? PCRE2_MATCH_INVALID_UTF : 0), &error, &offset, nullptr);
                Q_ASSERT(code);
            }
            m_codes.emplace_back(code, pcre2_code_free);
        }
    }

    struct Result
    {
        QByteArray output;
        qint64 count = 0;
        std::vector<qint64> perPair;
        QList<std::tuple<qint64, int, qint64>> at; // offset, pair, length
    };

    Result run(const QByteArray &data) const
    {
        Result r;
        r.perPair.assign(m_pairs.finds.size(), 0);
        for (qint64 pos = 0; pos < data.size();) {
            QByteArray replacement;
            qint64 length = -1;
            size_t pair = 0;
            for (; pair < m_pairs.finds.size() && length < 0; ++pair)
                length = matchAt(pair, data, pos, replacement);
            if (length < 0) {
                r.output += data.at(pos++);
                continue;
            }
            r.output += replacement;
            ++r.count;
            ++r.perPair[pair - 1];
            r.at.append({pos, int(pair - 1), length});
            pos += length;
        }
        return r;
    }

private:
    qint64 matchAt(size_t pair, const QByteArray &data, qint64 pos, QByteArray &replacement) const
    {
        const FindPattern &f = m_pairs.finds[pair];
        const Replacement &r = m_pairs.replaces[pair];
        replacement = r.bytes;
        if (f.kind == Kind::Regex)
            return regexAt(pair, data, pos, replacement);
        qint64 at = pos;
        for (qsizetype i = 0; i < f.bytes.size();) {
            char32_t want = 0, have = 0;
            int findLength = 0, dataLength = 0;
            if (at >= data.size())
                return -1;
            if (f.isWildcard(i)) {
                ++i, ++at;
            } else if (f.fold == Fold::Unicode && (findLength = DecodeCharacter(f.bytes, i, want)) > 0) {
                if ((dataLength = DecodeCharacter(data, at, have)) == 0 || QChar::toCaseFolded(want) != QChar::toCaseFolded(have))
                    return -1;
                i += findLength, at += dataLength;
            } else if (f.fold == Fold::Windows1252 ? SameWindows1252Letter(uchar(f.bytes.at(i)), uchar(data.at(at))) : f.bytes.at(i) == data.at(at)) {
                ++i, ++at;
            } else {
                return -1;
            }
        }
        if (f.wholeWord && (WordByte(data, pos - 1) || WordByte(data, at)))
            return -1;
        return at - pos;
    }

    qint64 regexAt(size_t pair, const QByteArray &data, qint64 pos, QByteArray &replacement) const
    {
        const pcre2_code *code = m_codes[pair].get();
        std::unique_ptr<pcre2_match_data, void (*)(pcre2_match_data *)> md(pcre2_match_data_create_from_pattern(code, nullptr), pcre2_match_data_free);
        const int rc = pcre2_match(
            code, reinterpret_cast<PCRE2_SPTR>(data.constData()), PCRE2_SIZE(data.size()), PCRE2_SIZE(pos), PCRE2_ANCHORED | PCRE2_NOTEMPTY, md.get(), nullptr);
        const PCRE2_SIZE *ov = pcre2_get_ovector_pointer(md.get());
        // Over UTF-8 that may be invalid, PCRE2 moves an anchored start that
        // stands on invalid bytes on to the next valid character.
        if (rc < 0 || qint64(ov[0]) != pos)
            return -1;
        if (m_pairs.replaces[pair].kind == Replacement::Kind::Template)
            replacement = expand(code, m_pairs.replaces[pair].bytes, data, md.get());
        return qint64(ov[1]) - pos;
    }

    // The template as PCRE2's own substitution expands it ($n, ${n}, ${name}, $$; a group that took no part gives
    // nothing): the same rules, from the library.
    static QByteArray expand(const pcre2_code *code, const QByteArray &text, const QByteArray &data, pcre2_match_data *md)
    {
        PCRE2_UCHAR out[4096];
        PCRE2_SIZE length = sizeof out;
        const int rc = pcre2_substitute(code, reinterpret_cast<PCRE2_SPTR>(data.constData()), PCRE2_SIZE(data.size()), 0,
            PCRE2_SUBSTITUTE_MATCHED | PCRE2_SUBSTITUTE_REPLACEMENT_ONLY | PCRE2_SUBSTITUTE_UNSET_EMPTY, md, nullptr,
            reinterpret_cast<PCRE2_SPTR>(text.constData()), PCRE2_SIZE(text.size()), out, &length);
        return rc < 0 ? QByteArray("<no substitution>") : QByteArray(reinterpret_cast<const char *>(out), qsizetype(length));
    }

    const Pairs &m_pairs;
    std::vector<std::shared_ptr<pcre2_code>> m_codes;
};

// Data made of pieces that meet the folds, the word edges and the assertions.
QByteArray RandomText(QRandomGenerator &rng, int size)
{
    static const QByteArrayList pieces {"a", "A", "b", "ab", "k", "K", "\xE2\x84\xAA", "s", "S", "\xC5\xBF", "\xC3\xA9", "\xC3\x89", "\xC3\x9F", "\xE1\xBA\x9E",
        " ", "_", "\n", "x", "y", "xy", "\x8A", "\x9A", "\xD7", "\xF7", "\xFF", "\x9F", "\xC3", "word", "Word", "1", "\x8C", "\x9C"};
    QByteArray data;
    while (data.size() < size)
        data += pieces.at(rng.bounded(int(pieces.size())));
    return data;
}

// The tables of the pairs; pairs the checks refuse are searched all the same.
ArgumentTables Tables(const Pairs &pairs)
{
    PatternTables built = BuildPatternTables(pairs.finds, pairs.replaces);
    if (built.refusals.empty())
        return built.tables;
    for (const Replacement &r : pairs.replaces)
        built.tables.replaces.push_back(r.bytes);
    built.tables.patterns = std::make_shared<const PatternSet>(pairs.finds, pairs.replaces);
    return built.tables;
}

struct Run
{
    ReplaceOutcome outcome;
    QByteArray output;
    QList<double> positions; // reported after every block, and at the end
    qint64 blockSize = 0;
};
Run RunEngine(const QString &path, const ArgumentTables &tables, qint64 blockSize, qint64 ioChunk, qint64 maxMatchSize = 1 << 20)
{
    EngineState state;
    state.lngBlockSize = blockSize;
    state.ioChunk = ioChunk;
    state.maxMatchSize = maxMatchSize;
    MemoryOutput output;
    RecordingObserver observer;
    Run run;
    run.outcome = ReplaceInFile(path, output, tables, state, observer);
    run.output = output.bytes;
    run.positions = observer.positions;
    run.blockSize = state.lngBlockSize;
    return run;
}

} // namespace

class TestPatterns : public QObject
{
    Q_OBJECT

private slots:
    void againstWholeFile_data();
    void againstWholeFile();
    void matches_data();
    void matches();
    void refusals_data();
    void refusals();
    void matchLongerThanBound_data();
    void matchLongerThanBound();
    void tablesOfPairs();
};

void TestPatterns::againstWholeFile_data()
{
    QTest::addColumn<Pairs>("pairs");
    const auto tags = [](int n) {
        std::vector<Replacement> r;
        for (int i = 0; i < n; ++i)
            r.push_back(Literal("<" + QByteArray::number(i) + ">"));
        return r;
    };
    QTest::newRow("Windows-1252 letters") << Pairs {
        {Bytes("ab", Fold::Windows1252), Bytes("a"), Bytes("\x8A\x8C", Fold::Windows1252), Bytes("\xD7", Fold::Windows1252), Bytes("\xFF", Fold::Windows1252),
            Bytes("\xC3\x89", Fold::Windows1252)},
        tags(6)};
    QTest::newRow("UTF-8 folding") << Pairs {
        {Bytes("k", Fold::Unicode), Bytes("S", Fold::Unicode), Bytes("\xC3\xA9", Fold::Unicode), Bytes("\xE1\xBA\x9E", Fold::Unicode),
            Bytes("\xE2\x84\xAA", Fold::Unicode), Bytes("\xC5\xBF\xC3", Fold::Unicode)},
        tags(6)};
    QTest::newRow("whole words") << Pairs {{Bytes("word", Fold::Windows1252, true), Bytes("a", Fold::None, true), Regex("ab|a", false, true), Bytes("b"),
                                               Bytes("\xC3\xA9", Fold::Unicode, true), Regex("xy?", false, true)},
        tags(6)};
    QTest::newRow("wildcards") << Pairs {{Bytes("a?b", Fold::None, false, true), Bytes("?x", Fold::None, false, true), Bytes("ab"),
                                             Bytes("k??", Fold::Unicode, false, true), Bytes("?s?", Fold::Windows1252, true, true)},
        tags(5)};
    QTest::newRow("assertions at block edges") << Pairs {{Regex("(?<=x)y"), Regex("a$"), Regex("\\bk\\w*"), Regex("(?m)^s"), Regex("b(?=\\n)"),
                                                             Regex("(?<=\\xC3\\xA9)[a-z]+"), Regex("[^ ]\\z"), Regex("\\Bor\\b")},
        tags(8)};
    QTest::newRow("templates") << Pairs {{Regex("(a|A)(b)?"), Regex("(?<w>k+)(s)?"), Bytes("s"), Regex("(x)(y)?(?=(\\n))")},
        {Template("<$2$1>"), Template("${w}$$${2}2"), Literal("S"), Template("[$3$2$1$0]")}};
    QTest::newRow("UTF-8 mode") << Pairs {{Regex("(*UTF)\\x{212A}|\\x{e9}+", true), Regex("(*UTF)[^\\x00-\\x7f]"), Regex("\\xC3")}, tags(3)};
    QTest::newRow("literal before pattern") << Pairs {{Bytes("a"), Regex("ab"), Bytes("A", Fold::Windows1252), Regex("a+b?"), Bytes("xy")}, tags(5)};
    QTest::newRow("pattern before literal") << Pairs {{Regex("a+b?"), Bytes("ab"), Bytes("A", Fold::Windows1252), Bytes("a"), Regex("wo|w")}, tags(5)};
    QTest::newRow("long matches across blocks") << Pairs {{Regex("x[^\\n]*\\n"), Regex("(?s)a.{20,40}b"), Bytes("word")}, tags(3)};
}

// Output, counts and occurrences are those of the whole file matched in
// memory, at every block size and read size; the progress adds up to the file.
void TestPatterns::againstWholeFile()
{
    QFETCH(Pairs, pairs);
    const ArgumentTables tables = Tables(pairs);
    QVERIFY(tables.patterns);
    const Oracle oracle(pairs);
    QTemporaryDir dir;
    const QString path = dir.filePath(u"source.bin"_s);
    QRandomGenerator rng(7);
    for (int c = 0; c < 12; ++c) {
        const QByteArray data = RandomText(rng, c == 0 ? 0 : int(rng.bounded(400)));
        QVERIFY(WriteFile(path, data));
        const Oracle::Result expected = oracle.run(data);
        for (qint64 blockSize : {1, 2, 3, 4, 5, 7, 8, 13, 16, 31, 64, 100, 1000, 4096}) {
            for (qint64 ioChunk : {qint64(1), 3 * blockSize}) {
                const Run run = RunEngine(path, tables, blockSize, ioChunk);
                const QByteArray where = u"case %1 block %2 chunk %3"_s.arg(c).arg(blockSize).arg(ioChunk).toUtf8();
                QVERIFY2(run.outcome.status == ReplaceOutcome::Status::Done, where + ' ' + run.outcome.error.toUtf8());
                QVERIFY2(run.outcome.count == expected.count, where);
                QVERIFY2(run.outcome.perPair == expected.perPair, where);
                QVERIFY2(run.output == (expected.count > 0 ? expected.output : QByteArray()), where);
                QVERIFY2(run.positions.size() == (data.size() + run.blockSize - 1) / run.blockSize + 1, where);
                QVERIFY2(std::is_sorted(run.positions.cbegin(), run.positions.cend()), where);
                QVERIFY2(run.positions.last() == double(data.size()), where);
            }
        }
        const OccurrenceScan scan = ScanOccurrences(path, tables, 1 << 20);
        QList<std::tuple<qint64, int, qint64>> at;
        for (const Occurrence &o : scan.first)
            at.append({o.offset, o.pair, o.length});
        QCOMPARE(at, expected.at);
    }
}

void TestPatterns::matches_data()
{
    QTest::addColumn<Pairs>("pairs");
    QTest::addColumn<QByteArray>("data");
    QTest::addColumn<QByteArray>("output");
    const auto add
        = [](const char *name, const Pairs &pairs, const QByteArray &data, const QByteArray &output) { QTest::newRow(name) << pairs << data << output; };
    const auto one = [](const FindPattern &find, const QByteArray &replace = "#") { return Pairs {{find}, {Literal(replace)}}; };
    const auto regex = [](const QByteArray &pattern, const QByteArray &replace) { return Pairs {{Regex(pattern)}, {Template(replace)}}; };
    // Windows-1252: its letters in both cases, × and ÷ are no letters.
    add("1252 ASCII", one(Bytes("aZ", Fold::Windows1252)), "AZ az Az aZ a", "# # # # a");
    add("1252 Š Œ Ž Ÿ", one(Bytes("\x8A\x9C\x8E\xFF", Fold::Windows1252)), "\x9A\x8C\x9E\x9F|\x8A\x9C\x8E\xFF", "#|#");
    add("1252 À Þ", one(Bytes("\xC0\xFE", Fold::Windows1252)), "\xE0\xDE \xC0\xFE", "# #");
    add("1252 × ÷ not folded", one(Bytes("\xD7", Fold::Windows1252)), "\xF7\xD7\xF7", "\xF7#\xF7");
    add("1252 ß alone", one(Bytes("\xDF", Fold::Windows1252)), "\xDF\xFF", "#\xFF");
    // UTF-8: simple folding, also between characters of other lengths.
    add("UTF-8 É é", one(Bytes("\xC3\x89", Fold::Unicode)), "\xC3\xA9\xC3\x89", "##");
    add("UTF-8 k finds Kelvin", one(Bytes("k", Fold::Unicode)), "k\xE2\x84\xAAK", "###");
    add("UTF-8 Kelvin finds k", one(Bytes("\xE2\x84\xAA", Fold::Unicode)), "kK", "##");
    add("UTF-8 s finds long s", one(Bytes("ss", Fold::Unicode)), "\xC5\xBFS", "#");
    add("UTF-8 capital sharp s", one(Bytes("\xE1\xBA\x9E", Fold::Unicode)), "\xC3\x9F", "#");
    add("UTF-8 invalid bytes", one(Bytes("\xC3\xA9", Fold::Unicode)), "\xC3\xC3\x89\x89", "\xC3#\x89");
    // Whole words: the file's edges and bytes from 0x80 on.
    add("word at file edges", one(Bytes("ab", Fold::None, true)), "ab", "#");
    add("word next to 0x80 byte", one(Bytes("xy", Fold::None, true)), "\x80xy xy\xFF -xy-", "\x80xy xy\xFF -#-");
    add("word: a shorter match of the same regex", Pairs {{Regex("abc|ab", false, true)}, {Literal("#")}}, "abcd ab", "abcd #");
    add("word: the next pair at the same place", Pairs {{Bytes("ab", Fold::None, true), Bytes("abc")}, {Literal("1"), Literal("2")}}, "abc", "2");
    add("word: regex caseless", Pairs {{Regex("k", true, true)}, {Literal("#")}}, "K kk k_", "# kk k_");
    // Wildcards take any byte, the wildcard flags only where set.
    add("wildcards", one(Bytes("q??", Fold::None, false, true)), QByteArray("q\0\xFFq?", 5), "#q?");
    add("only wildcards", one(Bytes("??", Fold::None, false, true)), "abcde", "##e");
    // Templates: two digits when there are, groups that took no part.
    add("$10 is group 10", regex("(a)(b)(c)(d)(e)(f)(g)(h)(i)(j)", "$10|${1}0|$1"), "abcdefghij", "j|a0|a");
    add("$$ and $0", regex("x+", "$$$0$$"), "axxb", "a$xx$b");
    add("named group", regex("(?<first>\\w)(?<rest>\\w*)", "${rest}${first}"), "abc de", "bca ed");
    add("group not taking part", regex("(a)|(b)", "[$1$2]"), "ab", "[a][b]");
    // List order decides at one position, also between a literal and a pattern.
    add("literal first", Pairs {{Bytes("a"), Regex("ab")}, {Literal("1"), Literal("2")}}, "ab", "1b");
    add("pattern first", Pairs {{Regex("ab"), Bytes("a")}, {Literal("1"), Literal("2")}}, "ab", "1");
    add("leftmost wins over order", Pairs {{Regex("b"), Bytes("a", Fold::Windows1252)}, {Literal("1"), Literal("2")}}, "Ab", "21");
    add("output not searched again", Pairs {{Regex("a"), Bytes("b")}, {Literal("b"), Literal("c")}}, "ab", "bc");
    // Over bytes, a character in the pattern stands for its UTF-8 bytes.
    add("regex bytes", regex("\\xFF.\\x00|\xC3\xA9", "#"), QByteArray("\xFF\n\0\xFFq\0\xC3\xA9", 8), QByteArray("\xFF\n\0##", 5));
    add("(*UTF) skips invalid UTF-8", regex("(*UTF).", "#"), "a\xC3\xA9\xFF", "##\xFF");
    // Byte finds too large for one PCRE2 expression together, each one fitting.
    const QByteArray s(1500, '\x8A'), o(1500, '\x8C'), z(1500, '\x9E');
    add("finds split over searchers",
        Pairs {{Bytes(s, Fold::Windows1252), Bytes(o, Fold::Windows1252), Bytes(z, Fold::Windows1252)}, {Literal("1"), Literal("2"), Literal("3")}},
        QByteArray(1500, '\x9C') + 'x' + s + QByteArray(1500, '\x8E'), "2x13");
}

// Each fact of the patterns, at a few block sizes.
void TestPatterns::matches()
{
    QFETCH(Pairs, pairs);
    QFETCH(QByteArray, data);
    QFETCH(QByteArray, output);
    QTemporaryDir dir;
    const QString path = WriteFileIn(dir.path(), u"source.bin"_s, data);
    const ArgumentTables tables = Tables(pairs);
    for (qint64 blockSize : {1, 2, 3, 4096}) {
        const Run run = RunEngine(path, tables, blockSize, blockSize);
        QCOMPARE(run.outcome.status, ReplaceOutcome::Status::Done);
        QCOMPARE(run.output.isEmpty() ? data : run.output, output);
    }
}

void TestPatterns::refusals_data()
{
    QTest::addColumn<Pairs>("pairs");
    QTest::addColumn<QStringList>("refusals"); // each "pair side offset message", side 0 find and 1 replace
    const QString empty
        = u"A regular expression that can match an empty sequence found: its replacement would go in at every position.\r\n\r\nChange it so that "
          u"every match takes at least one byte."_s;
    const auto invalid = [](const QString &what, int position) {
        return u"An invalid regular expression found: %1 at character %2.\r\n\r\nCorrect the find argument and try again."_s.arg(what).arg(position);
    };
    const auto unknown = [](const QString &reference) {
        return u"The replacement refers to the group %1, which its regular expression does not have.\r\n\r\nCorrect the replace argument and try again."_s.arg(
            reference);
    };
    const auto dollar = [](int position) {
        return u"An invalid '$' found in the replacement at character %1.\r\n\r\nWrite $ with a group number, ${name} for a named group, or $$ for a dollar sign."_s
            .arg(position);
    };
    const auto add = [](const QByteArray &name, const Pairs &pairs, const QStringList &refusals) { QTest::newRow(name.constData()) << pairs << refusals; };
    const auto regexOnly = [](const QByteArray &pattern) { return Pairs {{Regex(pattern)}, {Literal("")}}; };
    const auto withTemplate = [](const QByteArray &pattern, const QByteArray &replace) { return Pairs {{Regex(pattern)}, {Template(replace)}}; };
    add("missing parenthesis", regexOnly("ab(c"), {u"0 0 4 "_s + invalid(u"missing closing parenthesis"_s, 5)});
    add("position in characters", regexOnly("\xC3\xA9\xC3\xA9["), {u"0 0 3 "_s + invalid(u"missing terminating ] for character class"_s, 4)});
    for (const char *pattern : {"x*", "^", "\\b", "(?=a)", "(?<=a)", "a?|b", "(*UTF)$"})
        add("empty match " + QByteArray(pattern), regexOnly(pattern), {u"0 0 -1 "_s + empty});
    add("$2 of one group", withTemplate("(a)", "x$2"), {u"0 1 1 "_s + unknown(u"$2"_s)});
    add("$10 of nine groups", withTemplate("(a)(b)(c)(d)(e)(f)(g)(h)(i)", "$10"), {u"0 1 0 "_s + unknown(u"$10"_s)});
    add("unknown name", withTemplate("(?<a>x)", "\xC3\xA9${b}"), {u"0 1 1 "_s + unknown(u"${b}"_s)});
    add("lonely $", withTemplate("a", "a$x"), {u"0 1 1 "_s + dollar(2)});
    add("$ at the end", withTemplate("a", "ab$"), {u"0 1 2 "_s + dollar(3)});
    add("${ unclosed", withTemplate("(a)", "${1"), {u"0 1 0 "_s + dollar(1)});
    add("valid template", withTemplate("(?<n>a)", "$$ $0 $1 ${1} ${n}"), {});
    add("find too large", Pairs {{Bytes(QByteArray(40000, 'a'), Fold::Windows1252)}, {Literal("")}},
        {u"0 0 -1 A find too long to ignore case, match whole words or hold wildcards found.\r\n\r\nShorten it, or search it without these options."_s});
    add("only wildcards", Pairs {{Bytes("x"), Bytes("??", Fold::None, false, true)}, {Literal(""), Literal("")}},
        {u"1 0 -1 A find of wildcards only found: it would match any bytes.\r\n\r\nGive at least one byte that must match."_s});
    add("several pairs", Pairs {{Regex("("), Regex("a"), Regex("b")}, {Template("$1"), Template("$1"), Literal("$1")}},
        {u"0 0 1 "_s + invalid(u"missing closing parenthesis"_s, 2), u"1 1 0 "_s + unknown(u"$1"_s)});
}

// Refusals are values with their pair, side, message and offset; tables are
// not built for pairs that have any.
void TestPatterns::refusals()
{
    QFETCH(Pairs, pairs);
    QFETCH(QStringList, refusals);
    QStringList found;
    for (const PatternRefusal &r : RefusePatterns(pairs.finds, pairs.replaces))
        found << u"%1 %2 %3 %4"_s.arg(r.pair).arg(int(r.side)).arg(r.offset).arg(r.message);
    QCOMPARE(found, refusals);
    const PatternTables built = BuildPatternTables(pairs.finds, pairs.replaces);
    QCOMPARE(qsizetype(built.refusals.size()), refusals.size());
    QCOMPARE(built.tables.pairCount(), refusals.isEmpty() ? int(pairs.finds.size()) : 0);
}

void TestPatterns::matchLongerThanBound_data()
{
    QTest::addColumn<QByteArray>("pattern");
    QTest::addColumn<QByteArray>("data");
    QTest::addColumn<qint64>("failsAt"); // -1: no failure
    QTest::addColumn<QByteArray>("output");
    const QByteArray b100(98, 'b'), re = "a[^z]*z";
    QTest::newRow("complete, 100 bytes") << re << "xa" + b100 + "zx" << qint64(-1) << "x#x"_ba;
    QTest::newRow("complete, 101 bytes") << re << "xa" + b100 + "bzx" << qint64(1) << QByteArray();
    QTest::newRow("open past the bound") << re << "xa" + b100 + "bbb" << qint64(1) << QByteArray();
    QTest::newRow("open, the file ends") << re << "xa" + b100 << qint64(-1) << QByteArray();
    QTest::newRow("lookahead far away") << "a(?=[^z]*z)"_ba
                                        << "a" + QByteArray(5000, 'b') + "z" << qint64(0) << QByteArray();
}

// A match may take at most maxMatchSize bytes; one longer, or still open past
// it, fails the file with the message, at every block size.
void TestPatterns::matchLongerThanBound()
{
    QFETCH(QByteArray, pattern);
    QFETCH(QByteArray, data);
    QFETCH(qint64, failsAt);
    QFETCH(QByteArray, output);
    QTemporaryDir dir;
    const QString path = WriteFileIn(dir.path(), u"source.bin"_s, data);
    const ArgumentTables tables = Tables({{Regex(pattern)}, {Literal("#")}});
    for (qint64 blockSize : {1, 7, 64, 4096}) {
        const Run run = RunEngine(path, tables, blockSize, blockSize, 100);
        if (failsAt < 0) {
            QCOMPARE(run.outcome.status, ReplaceOutcome::Status::Done);
            QCOMPARE(run.output, output);
            continue;
        }
        QCOMPARE(run.outcome.status, ReplaceOutcome::Status::Failed);
        QCOMPARE(run.outcome.count, 0);
        QCOMPARE(run.outcome.error, u"A match at byte %1 is longer than 100 bytes, the longest a match may be - %2"_s.arg(failsAt).arg(path));
    }
}

// Literal, case-sensitive pairs with replace sequences keep the tables they
// always had; anything more makes a run with patterns. Byte finds that PCRE2
// cannot hold together are searched in groups.
void TestPatterns::tablesOfPairs()
{
    const PatternTables literal = BuildPatternTables({Bytes("ab"), Bytes("c")}, {Literal("x"), Literal("")});
    QVERIFY(!literal.tables.patterns);
    QCOMPARE(literal.tables.finds.size(), 2);
    QCOMPARE(literal.tables.replaces, (std::vector<QByteArray> {"x", ""}));
    for (const FindPattern &find :
        {Bytes("a", Fold::Windows1252), Bytes("a", Fold::Unicode), Bytes("a", Fold::None, true), Bytes("a?", Fold::None, false, true), Regex("a")}) {
        const PatternTables patterns = BuildPatternTables({Bytes("ab"), find}, {Literal("x"), Literal("y")});
        QVERIFY(patterns.tables.patterns);
        QCOMPARE(patterns.tables.finds.size(), 0);
        QCOMPARE(patterns.tables.pairCount(), 2);
        QCOMPARE(patterns.tables.findBytes(), (std::vector<QByteArray> {"ab", find.bytes}));
    }
    // Folded finds with wildcards go to PCRE2; folded alone, they are literals over folded bytes.
    const Pairs large {
        {Bytes(QByteArray(1500, '\x8A') + '?', Fold::Windows1252, false, true), Bytes(QByteArray(1500, '\x8C') + '?', Fold::Windows1252, false, true),
            Bytes("x?", Fold::Windows1252, false, true), Bytes("ab", Fold::Windows1252)},
        {Literal(""), Literal(""), Literal(""), Literal("")}};
    const ArgumentTables tables = Tables(large);
    const std::vector<PatternSet::Searcher> &searchers = tables.patterns->searchers();
    QCOMPARE(searchers.size(), size_t(3));
    QCOMPARE(std::pair(searchers[0].kind, searchers[0].pairs), std::pair(PatternSet::Searcher::Kind::FoldedLiteral, std::vector<int> {3}));
    QCOMPARE(searchers[1].pairs, std::vector<int> {0});
    QCOMPARE(searchers[2].pairs, (std::vector<int> {1, 2}));
}

QTEST_APPLESS_MAIN(TestPatterns)
#include "tst_patterns.moc"
