#include "pairchecks.h"

#include "arguments/bytepattern.h"
#include "arguments/findindex.h"
#include "arguments/regexpattern.h"

#include <QStringList>

#include <algorithm>
#include <optional>

namespace perrox {

std::vector<PairWarning> CheckPairs(const std::vector<QByteArray> &finds, const std::vector<QByteArray> &replaces)
{
    std::vector<PairWarning> warnings(finds.size());
    const FindIndex index(finds);
    for (size_t i = 0; i < finds.size(); ++i) {
        PairWarning &w = warnings[i];
        if (!finds[i].isEmpty()) {
            const int first = index.firstPrefixOf(finds[i]);
            w.shadowedBy = first < int(i) ? first : -1;
        }
        if (i < replaces.size() && !replaces[i].isEmpty())
            w.replacementFinds = index.firstIn(replaces[i]);
    }
    return warnings;
}

namespace {

// Whether text starts with what a find that ignores case finds.
bool StartsFolded(const QByteArray &text, const FindPattern &find)
{
    if (find.fold == FindPattern::Fold::Unicode)
        return QString::fromUtf8(text).toCaseFolded().startsWith(QString::fromUtf8(find.bytes).toCaseFolded());
    if (text.size() < find.bytes.size())
        return false;
    for (qsizetype i = 0; i < find.bytes.size(); ++i)
        if (Windows1252Folded(uchar(text[i])) != Windows1252Folded(uchar(find.bytes[i])))
            return false;
    return true;
}

} // namespace

void AddFoldedShadows(const std::vector<FindPattern> &finds, std::vector<PairWarning> &warnings)
{
    for (size_t i = 0; i < finds.size(); ++i) {
        const FindPattern &find = finds[i];
        if (find.kind != FindPattern::Kind::Bytes || find.fold == FindPattern::Fold::None || find.wholeWord || find.hasWildcard())
            continue;
        for (size_t j = i + 1; j < finds.size(); ++j)
            if (finds[j].isLiteral() && (warnings[j].shadowedBy < 0 || warnings[j].shadowedBy > int(i)) && StartsFolded(finds[j].bytes, find))
                warnings[j].shadowedBy = int(i);
    }
}

QString PairWarningText(int pair, const PairWarning &warning)
{
    QStringList lines;
    if (warning.shadowedBy >= 0)
        lines << QStringLiteral("Pair %1 can never match: the find sequence of pair %2 is the same or its beginning, and is searched first.")
                     .arg(pair + 1)
                     .arg(warning.shadowedBy + 1);
    if (warning.replacementFinds >= 0) {
        lines << (warning.replacementFinds == pair
                ? QStringLiteral("The replace sequence of pair %1 contains its own find sequence: a second run would replace again.").arg(pair + 1)
                : QStringLiteral("The replace sequence of pair %1 contains the find sequence of pair %2: a second run would replace again.")
                      .arg(pair + 1)
                      .arg(warning.replacementFinds + 1));
    }
    return lines.join(QLatin1Char('\n'));
}

namespace {

// The refusal of one find, if it has one.
std::optional<PatternRefusal> refuseFind(int pair, const FindPattern &find, RegexCode &code)
{
    using Side = PatternRefusal::Side;
    if (find.kind == FindPattern::Kind::Bytes) {
        const bool onlyWildcards = !find.bytes.isEmpty() && find.anyByte.size() >= find.bytes.size()
            && std::all_of(find.anyByte.cbegin(), find.anyByte.cbegin() + find.bytes.size(), [](char c) { return c != 0; });
        if (onlyWildcards)
            return PatternRefusal {pair, Side::Find, PatternText::onlyWildcards(), -1};
        // Such a find is searched as an expression, which PCRE2 holds only up
        // to a size.
        if (!find.isLiteral() && !find.bytes.isEmpty() && RegexCode::compile(BytesFindRegex(find), 0).code.isNull())
            return PatternRefusal {pair, Side::Find, PatternText::findTooLarge(), -1};
        return std::nullopt;
    }
    const RegexCode::Result compiled = CompileFindRegex(find);
    if (!compiled.error.isEmpty())
        return PatternRefusal {pair, Side::Find, PatternText::invalidRegex(compiled.error, compiled.offset), compiled.offset};
    code = compiled.code;
    if (CanMatchEmpty(find))
        return PatternRefusal {pair, Side::Find, PatternText::emptyMatch(), -1};
    return std::nullopt;
}

} // namespace

std::vector<PatternRefusal> RefusePatterns(const std::vector<FindPattern> &finds, const std::vector<Replacement> &replaces)
{
    std::vector<PatternRefusal> refusals;
    for (size_t i = 0; i < finds.size(); ++i) {
        RegexCode code;
        if (std::optional<PatternRefusal> refusal = refuseFind(int(i), finds[i], code))
            refusals.push_back(std::move(*refusal));
        if (i >= replaces.size() || replaces[i].kind != Replacement::Kind::Template || code.isNull())
            continue;
        const TemplateParse parse = ParseTemplate(replaces[i].bytes, code);
        if (!parse.error.isEmpty())
            refusals.push_back({int(i), PatternRefusal::Side::Replace, parse.error, parse.offset});
    }
    return refusals;
}

} // namespace perrox
