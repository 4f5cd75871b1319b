#include "patternsearch.h"

#include "arguments/bytepattern.h"

#include <QByteArrayList>

#include <algorithm>
#include <limits>

namespace perrox {

PatternSet::PatternSet(const std::vector<FindPattern> &finds, const std::vector<Replacement> &replaces)
    : m_finds(finds)
    , m_templates(finds.size())
    , m_isTemplate(finds.size(), false)
{
    std::vector<QByteArray> literals, foldedLiterals;
    Searcher literal, folded;
    folded.kind = Searcher::Kind::FoldedLiteral;
    QByteArrayList alternatives;
    std::vector<int> alternativePairs;
    std::vector<Searcher> regexes;
    for (size_t i = 0; i < finds.size(); ++i) {
        const FindPattern &find = finds[i];
        m_findBytes.push_back(find.bytes);
        if (find.isLiteral()) {
            literals.push_back(find.bytes);
            literal.pairs.push_back(int(i));
            m_literalMaxLength = std::max<qint64>(m_literalMaxLength, find.bytes.size());
        } else if (find.kind == FindPattern::Kind::Bytes && find.fold == FindPattern::Fold::Windows1252 && !find.wholeWord && !find.hasWildcard()) {
            // Folding Windows-1252 keeps every byte a byte: such finds are
            // literals over the folded bytes, searched as fast.
            QByteArray bytes = find.bytes;
            for (char &b : bytes)
                b = char(Windows1252Folded(uchar(b)));
            foldedLiterals.push_back(bytes);
            folded.pairs.push_back(int(i));
            m_literalMaxLength = std::max<qint64>(m_literalMaxLength, find.bytes.size());
        } else if (find.kind == FindPattern::Kind::Bytes) {
            alternatives << BytesFindRegex(find);
            alternativePairs.push_back(int(i));
        } else {
            Searcher regex;
            regex.kind = Searcher::Kind::Regex;
            regex.regex = CompileFindRegex(find).code;
            regex.pairs = {int(i)};
            regex.utf = regex.regex.utf();
            if (i < replaces.size() && replaces[i].kind == Replacement::Kind::Template) {
                m_templates[i] = ParseTemplate(replaces[i].bytes, regex.regex).parts;
                m_isTemplate[i] = true;
                regex.wantsGroups = true;
            }
            // A lookbehind counts characters, of up to 4 bytes, and may hold
            // lookbehinds of its own.
            m_context = std::max(m_context, 8 * regex.regex.maxLookbehind() + 16);
            regexes.push_back(std::move(regex));
        }
    }
    if (!literals.empty()) {
        literal.literal = Matcher(std::move(literals));
        m_searchers.push_back(std::move(literal));
    }
    if (!foldedLiterals.empty()) {
        folded.literal = Matcher(std::move(foldedLiterals));
        m_searchers.push_back(std::move(folded));
    }
    if (!alternatives.isEmpty())
        addAlternations(alternatives, alternativePairs);
    for (Searcher &regex : regexes)
        m_searchers.push_back(std::move(regex));
}

void PatternSet::addAlternations(const QByteArrayList &alternatives, const std::vector<int> &pairs)
{
    Searcher alternation;
    alternation.kind = Searcher::Kind::Alternation;
    alternation.pairs = pairs;
    QByteArray text = "(?:";
    for (qsizetype i = 0; i < alternatives.size(); ++i)
        text += (i > 0 ? "|" : "") + alternatives.at(i) + "(*MARK:" + QByteArray::number(i) + ')';
    alternation.regex = RegexCode::compile(text + ')', 0).code;
    // Too large for PCRE2 together: each half by itself. The search takes the
    // leftmost match of all searchers, first pair in list order, so how the
    // pairs are grouped changes nothing. One find alone always compiles (the
    // checks refuse it otherwise).
    if (alternation.regex.isNull() && alternatives.size() > 1) {
        const qsizetype half = alternatives.size() / 2;
        addAlternations(alternatives.first(half), {pairs.begin(), pairs.begin() + half});
        addAlternations(alternatives.sliced(half), {pairs.begin() + half, pairs.end()});
        return;
    }
    m_searchers.push_back(std::move(alternation));
}

const std::vector<TemplatePart> *PatternSet::replacementTemplate(int pair) const
{
    return m_isTemplate[size_t(pair)] ? &m_templates[size_t(pair)] : nullptr;
}

// A searcher's knowledge: no match of it starts in [cursor, clean) except
// match, which is set when it found one; searchedEnd and searchedFinal tell
// which window that is true for.
struct PatternScanner::Cache
{
    bool hasMatch = false;
    PatternMatch match;
    qint64 clean = 0;
    qint64 searchedEnd = -1;
    bool searchedFinal = false;
    pcre2_match_data *data = nullptr;
};

namespace {

// The JIT's stack, larger than its default so that patterns that backtrack
// deeply over long matches do not run out of it, and the match context that
// hands it over: made once per thread and kept, as making them for every
// file maps and unmaps memory each time.
struct JitResources
{
    pcre2_jit_stack *stack = nullptr;
    pcre2_match_context *context = pcre2_match_context_create(nullptr);

    JitResources()
    {
        if (RegexJitAvailable()) {
            stack = pcre2_jit_stack_create(32 * 1024, 8 * 1024 * 1024, nullptr);
            pcre2_jit_stack_assign(context, nullptr, stack);
        }
    }
    ~JitResources()
    {
        pcre2_match_context_free(context);
        pcre2_jit_stack_free(stack);
    }
};

pcre2_match_context *SharedMatchContext()
{
    thread_local JitResources resources;
    return resources.context;
}

} // namespace

PatternScanner::PatternScanner(const PatternSet &set, qint64 maxMatchSize)
    : m_set(set)
    , m_maxMatchSize(std::max(maxMatchSize, set.literalMaxLength()))
    , m_caches(set.searchers().size())
{
    for (size_t i = 0; i < m_caches.size(); ++i) {
        if (!set.searchers()[i].regex.isNull())
            m_caches[i].data = pcre2_match_data_create_from_pattern(set.searchers()[i].regex.code(), nullptr);
    }
    m_context = SharedMatchContext();
}

PatternScanner::~PatternScanner()
{
    for (Cache &cache : m_caches)
        pcre2_match_data_free(cache.data);
}

const uchar *PatternScanner::foldedWindow(const Window &window)
{
    // Bytes already folded stay as long as the window starts at the same
    // source position; the engine moves its start once per read.
    if (window.start != m_foldedStart || m_foldedEnd > window.end || m_foldedEnd < window.start)
        m_foldedStart = m_foldedEnd = window.start;
    if (m_folded.size() < size_t(window.end - window.start))
        m_folded.resize(size_t(window.end - window.start));
    for (qint64 at = m_foldedEnd; at < window.end; ++at)
        m_folded[size_t(at - window.start)] = Windows1252Folded(window.data[at - window.start]);
    m_foldedEnd = window.end;
    return m_folded.data();
}

void PatternScanner::search(size_t index, const Window &window, Cache &cache, QString &error)
{
    const PatternSet::Searcher &searcher = m_set.searchers()[index];
    cache.searchedEnd = window.end;
    cache.searchedFinal = window.final;
    if (searcher.kind != PatternSet::Searcher::Kind::Literal && searcher.kind != PatternSet::Searcher::Kind::FoldedLiteral) {
        searchRegex(index, window, cache, error);
        return;
    }
    // Away from the source's end, a position counts as searched only when
    // every literal would fit behind it.
    const Matcher &matcher = searcher.literal;
    const qint64 limit = window.final ? window.end : window.end - matcher.maxLength() + 1;
    if (limit <= cache.clean)
        return;
    const uchar *data = searcher.kind == PatternSet::Searcher::Kind::FoldedLiteral ? foldedWindow(window) : window.data;
    const Matcher::Match m = matcher.findFirst(data, cache.clean - window.start, limit - window.start, window.end - window.start);
    if (m.position < 0) {
        cache.clean = limit;
        return;
    }
    const qint64 start = window.start + m.position;
    cache.hasMatch = true;
    cache.match = {start, start + matcher.length(m.index), searcher.pairs[size_t(m.index)], {}};
    cache.clean = start;
}

namespace {

// The end of the window without a UTF-8 character that the window's end cuts
// short: matching over UTF-8 takes such a character as invalid, which it is
// not before the next bytes are seen.
qint64 wholeCharactersEnd(const uchar *data, qint64 length)
{
    for (qint64 back = 1; back <= std::min<qint64>(3, length); ++back) {
        const uchar b = data[length - back];
        if ((b & 0xC0) == 0x80)
            continue; // a continuation byte
        const qint64 needs = b >= 0xF0 ? 4 : b >= 0xE0 ? 3 : b >= 0xC0 ? 2 : 1;
        return needs > back ? length - back : length;
    }
    return length;
}

} // namespace

void PatternScanner::searchRegex(size_t index, const Window &window, Cache &cache, QString &error)
{
    const PatternSet::Searcher &searcher = m_set.searchers()[index];
    if (!cache.data) {
        // Only a find the checks refuse has no compiled expression.
        error = PatternText::matchError(PatternText::findTooLarge(), cache.clean);
        return;
    }
    // Hard partial matching away from the source's end: a match that could go
    // on, or an assertion ($, \b, a lookahead) that would look past the
    // window, stops the search at the start of that match, which then waits
    // for more bytes. Positions before the window's start are no line starts.
    uint32_t options = PCRE2_NOTEMPTY;
    if (!window.final)
        options |= PCRE2_PARTIAL_HARD;
    if (window.start > 0)
        options |= PCRE2_NOTBOL;
    qint64 length = window.end - window.start;
    if (searcher.utf && !window.final)
        length = wholeCharactersEnd(window.data, length);
    if (cache.clean - window.start > length)
        return; // nothing to search before more bytes come
    const int rc = pcre2_match(searcher.regex.code(), window.data, PCRE2_SIZE(length), PCRE2_SIZE(cache.clean - window.start), options, cache.data, m_context);
    const PCRE2_SIZE *ovector = pcre2_get_ovector_pointer(cache.data);
    if (rc == PCRE2_ERROR_NOMATCH) {
        cache.clean = window.start + length;
        return;
    }
    if (rc == PCRE2_ERROR_PARTIAL) {
        cache.clean = std::max(cache.clean, window.start + qint64(ovector[0]));
        return;
    }
    if (rc < 0) {
        PCRE2_UCHAR text[256];
        const int length = pcre2_get_error_message(rc, text, sizeof text);
        error = PatternText::matchError(QString::fromUtf8(reinterpret_cast<const char *>(text), std::max(length, 0)), cache.clean);
        return;
    }
    const qint64 start = window.start + qint64(ovector[0]);
    cache.hasMatch = true;
    if (qint64(ovector[1]) <= qint64(ovector[0])) {
        // Only \K in a lookahead could end a match before its start, and
        // PCRE2 refuses that unless asked: no match begins here.
        cache.clean = start + 1;
        cache.searchedEnd = -1;
        return;
    }
    cache.match = {start, window.start + qint64(ovector[1]), searcher.pairs.front(), {}};
    if (searcher.kind == PatternSet::Searcher::Kind::Alternation) {
        // The mark is the branch's number in decimal digits.
        size_t branch = 0;
        for (PCRE2_SPTR digit = pcre2_get_mark(cache.data); *digit; ++digit)
            branch = branch * 10 + size_t(*digit - '0');
        cache.match.pair = searcher.pairs[branch];
    } else if (searcher.wantsGroups) {
        const uint32_t pairs = pcre2_get_ovector_count(cache.data);
        cache.match.groups.resize(2 * size_t(pairs), -1);
        for (uint32_t g = 0; g < 2 * pairs; ++g) {
            if (ovector[g] != PCRE2_UNSET && (g < 2 * uint32_t(rc)))
                cache.match.groups[g] = window.start + qint64(ovector[g]);
        }
    }
    cache.clean = start;
}

PatternScanner::Step PatternScanner::next(const Window &window, qint64 cursor)
{
    Step step;
    qint64 horizon = std::numeric_limits<qint64>::max(); // the least position some searcher is unsure of
    Cache *best = nullptr;
    for (size_t i = 0; i < m_caches.size(); ++i) {
        Cache &cache = m_caches[i];
        if (cache.hasMatch && cache.match.start < cursor)
            cache.hasMatch = false; // replaced over: search again behind the replacement
        if (!cache.hasMatch && cache.clean < cursor) {
            cache.clean = cursor;
            cache.searchedEnd = -1;
        }
        if (!cache.hasMatch && (cache.searchedEnd != window.end || cache.searchedFinal != window.final))
            search(i, window, cache, step.error);
        if (!step.error.isEmpty()) {
            step.kind = Step::Kind::Fail;
            return step;
        }
        if (!cache.hasMatch)
            horizon = std::min(horizon, cache.clean);
        else if (!best || cache.match.start < best->match.start || (cache.match.start == best->match.start && cache.match.pair < best->match.pair))
            best = &cache;
    }
    if (best && best->match.start < horizon) {
        best->hasMatch = false;
        step.kind = best->match.end - best->match.start > m_maxMatchSize ? Step::Kind::Fail : Step::Kind::Match;
        if (step.kind == Step::Kind::Fail)
            step.error = PatternText::matchTooLong(best->match.start, m_maxMatchSize);
        step.match = std::move(best->match);
        return step;
    }
    step.until = std::max(cursor, std::min(horizon, window.end));
    // A match that began at until and is still open: it may not grow past the bound.
    if (!window.final && window.end - step.until > m_maxMatchSize) {
        step.kind = Step::Kind::Fail;
        step.error = PatternText::matchTooLong(step.until, m_maxMatchSize);
    }
    return step;
}

QByteArray ExpandTemplate(const std::vector<TemplatePart> &parts, const PatternMatch &match, const uchar *data, qint64 dataStart)
{
    QByteArray bytes;
    for (const TemplatePart &part : parts) {
        if (part.group < 0) {
            bytes += part.literal;
            continue;
        }
        const size_t at = 2 * size_t(part.group);
        // A group that took no part gives nothing; one that a lookbehind
        // found further back than the bytes kept could, but cannot be.
        if (at + 1 >= match.groups.size() || match.groups[at] < dataStart || match.groups[at + 1] < match.groups[at])
            continue;
        bytes.append(reinterpret_cast<const char *>(data + (match.groups[at] - dataStart)), match.groups[at + 1] - match.groups[at]);
    }
    return bytes;
}

} // namespace perrox
