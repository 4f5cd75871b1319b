#pragma once

#include "arguments/findpattern.h"
#include "arguments/regexpattern.h"
#include "matcher.h"

#include <QByteArray>
#include <QByteArrayList>
#include <QString>

#include <memory>
#include <vector>

namespace perrox {

// One match of a pair in the source: [start, end) and, for a pair with a
// template, the source offsets of its groups (start and end of each, group 0
// first; -1 for a group that took no part).
struct PatternMatch
{
    qint64 start = -1;
    qint64 end = -1;
    int pair = -1;
    std::vector<qint64> groups;
};

// The finds of a run that has patterns, compiled once and only read from then
// on. Its pairs are searched by a few searchers, each of which knows the
// leftmost match of its pairs, first pair in list order at one position:
//  - the case-sensitive literal finds together, by a Matcher;
//  - the other Bytes finds together, as one PCRE2 alternation whose
//    (*MARK:n) names the pair that matched;
//  - each Regex find by itself.
class PatternSet
{
public:
    struct Searcher
    {
        enum class Kind
        {
            Literal,
            FoldedLiteral, // literals over the bytes with Windows-1252 case folded
            Alternation,
            Regex
        };
        Kind kind = Kind::Literal;
        Matcher literal; // Literal
        RegexCode regex; // Alternation, Regex
        std::vector<int> pairs; // the pair of each literal or mark; the pair of a Regex
        bool wantsGroups = false; // Regex with a template
        bool utf = false; // Regex over UTF-8 characters
    };

    // The finds must have passed RefusePatterns.
    PatternSet(const std::vector<FindPattern> &finds, const std::vector<Replacement> &replaces);

    const std::vector<Searcher> &searchers() const { return m_searchers; }
    const std::vector<QByteArray> &findBytes() const { return m_findBytes; }
    const std::vector<FindPattern> &finds() const { return m_finds; }
    // The template of pair, or nothing when its replacement is bytes.
    const std::vector<TemplatePart> *replacementTemplate(int pair) const;
    // The longest literal find, the least bound of a match's length.
    qint64 literalMaxLength() const { return m_literalMaxLength; }
    // Source bytes before the first unsettled position that a search must see:
    // enough for every lookbehind and for the word test.
    qint64 context() const { return m_context; }

private:
    // Adds searchers for the byte finds' alternatives (each naming its pair
    // as mark n, from 0), as few as PCRE2 can hold.
    void addAlternations(const QByteArrayList &alternatives, const std::vector<int> &pairs);

    std::vector<FindPattern> m_finds;

    std::vector<Searcher> m_searchers;
    std::vector<QByteArray> m_findBytes;
    std::vector<std::vector<TemplatePart>> m_templates;
    std::vector<bool> m_isTemplate;
    qint64 m_literalMaxLength = 0;
    qint64 m_context = 1;
};

// Where a file's search stands: each searcher's next match or how far it has
// none. The source is seen through windows of the bytes the engine holds.
class PatternScanner
{
public:
    PatternScanner(const PatternSet &set, qint64 maxMatchSize);
    ~PatternScanner();
    PatternScanner(const PatternScanner &) = delete;
    PatternScanner &operator=(const PatternScanner &) = delete;

    // The source bytes [start, end) at data; final: end is the end of the
    // source.
    struct Window
    {
        const uchar *data = nullptr;
        qint64 start = 0;
        qint64 end = 0;
        bool final = false;
    };
    struct Step
    {
        enum class Kind
        {
            Match, // replace match, go on behind it
            Advance, // no match starts in [cursor, until); more bytes are needed to go further
            Fail, // error says why the file cannot be searched
        };
        Kind kind = Kind::Advance;
        PatternMatch match;
        qint64 until = 0;
        QString error;
    };
    // The next step from cursor, which never goes back. The window holds the
    // bytes from cursor - set.context() on (or from the source's start).
    Step next(const Window &window, qint64 cursor);

private:
    struct Cache;
    void search(size_t index, const Window &window, Cache &cache, QString &error);
    void searchRegex(size_t index, const Window &window, Cache &cache, QString &error);

    const PatternSet &m_set;
    const qint64 m_maxMatchSize;
    std::vector<Cache> m_caches;
    pcre2_match_context *m_context = nullptr; // shared by the thread's scanners
    // The window's bytes [m_foldedStart, m_foldedEnd) with Windows-1252 case
    // folded, for the folded literals.
    const uchar *foldedWindow(const Window &window);
    std::vector<uchar> m_folded;
    qint64 m_foldedStart = 0;
    qint64 m_foldedEnd = 0;
};

// The bytes that a match puts in place by its pair's template, taken from the
// source bytes of window.
QByteArray ExpandTemplate(const std::vector<TemplatePart> &parts, const PatternMatch &match, const uchar *data, qint64 dataStart);

} // namespace perrox
