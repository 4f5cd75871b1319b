#include "regexpattern.h"

#include <QtGlobal>

#include <algorithm>
#include <cctype>
#include <utility>

namespace perrox {

namespace {

// The characters of the first `bytes` bytes of UTF-8 text, as a QString counts them.
qsizetype characterOffset(const QByteArray &text, qsizetype bytes)
{
    return QString::fromUtf8(text.left(bytes)).size();
}

QString errorMessage(int code)
{
    PCRE2_UCHAR buffer[256];
    const int length = pcre2_get_error_message(code, buffer, sizeof buffer);
    return length < 0 ? QString::number(code) : QString::fromUtf8(reinterpret_cast<const char *>(buffer), length);
}

uint32_t patternInfo(const pcre2_code *code, uint32_t what)
{
    uint32_t value = 0;
    pcre2_pattern_info(code, what, &value);
    return value;
}

} // namespace

bool RegexJitAvailable()
{
    static const bool available = [] {
        uint32_t jit = 0;
        return pcre2_config(PCRE2_CONFIG_JIT, &jit) >= 0 && jit != 0;
    }();
    return available;
}

int RegexCode::captureCount() const
{
    return int(patternInfo(code(), PCRE2_INFO_CAPTURECOUNT));
}

qint64 RegexCode::maxLookbehind() const
{
    return patternInfo(code(), PCRE2_INFO_MAXLOOKBEHIND);
}

qint64 RegexCode::minLength() const
{
    return patternInfo(code(), PCRE2_INFO_MINLENGTH);
}

bool RegexCode::utf() const
{
    return (patternInfo(code(), PCRE2_INFO_ALLOPTIONS) & PCRE2_UTF) != 0;
}

int RegexCode::groupNumber(const QByteArray &name) const
{
    PCRE2_SPTR first = nullptr;
    PCRE2_SPTR last = nullptr;
    const int rc = pcre2_substring_nametable_scan(code(), reinterpret_cast<PCRE2_SPTR>(name.constData()), &first, &last);
    if (rc < 0)
        return -1;
    // Every entry starts with its group number, high byte first.
    return first ? (int(first[0]) << 8 | int(first[1])) : rc;
}

RegexCode::Result RegexCode::compile(const QByteArray &text, uint32_t options)
{
    Result result;
    int error = 0;
    PCRE2_SIZE offset = 0;
    pcre2_code *code = pcre2_compile(reinterpret_cast<PCRE2_SPTR>(text.constData()), PCRE2_SIZE(text.size()), options, &error, &offset, nullptr);
    if (!code) {
        result.error = errorMessage(error);
        result.offset = characterOffset(text, qsizetype(offset));
        return result;
    }
    result.code.m_code.reset(code, pcre2_code_free);
    // Without a JIT, or when it cannot take this pattern, the interpreter matches.
    if (RegexJitAvailable())
        pcre2_jit_compile(code, PCRE2_JIT_COMPLETE | PCRE2_JIT_PARTIAL_HARD);
    return result;
}

namespace {

// The length of the leading "(*NAME)" items of a pattern, which must stay first.
qsizetype leadingVerbsLength(const QByteArray &text)
{
    qsizetype at = 0;
    while (text.mid(at).startsWith("(*")) {
        qsizetype i = at + 2;
        while (i < text.size() && (std::isupper(uchar(text.at(i))) || std::isdigit(uchar(text.at(i))) || text.at(i) == '_' || text.at(i) == '='))
            ++i;
        if (i == at + 2 || i >= text.size() || text.at(i) != ')')
            break;
        at = i + 1;
    }
    return at;
}

uint32_t findOptions(const FindPattern &find, bool &utf)
{
    utf = find.bytes.left(leadingVerbsLength(find.bytes)).contains("(*UTF)");
    return (find.ignoreCase ? PCRE2_CASELESS : 0) | (utf ? PCRE2_MATCH_INVALID_UTF : 0);
}

// Compiles a pattern that compiles alone with text before and after it (its
// leading items stay first). "\E" ends a quote the pattern leaves open (it
// means nothing otherwise); should the pattern end in a comment of extended
// mode, which would take in what follows, a line break ends it, and is then
// only white space.
RegexCode::Result compileAround(const QByteArray &text, const QByteArray &before, const QByteArray &after, uint32_t options)
{
    const qsizetype verbs = leadingVerbsLength(text);
    const QByteArray body = text.left(verbs) + before + text.mid(verbs) + "\\E";
    RegexCode::Result result = RegexCode::compile(body + after, options);
    if (!result.error.isEmpty())
        result = RegexCode::compile(body + '\n' + after, options);
    return result;
}

} // namespace

bool CanMatchEmpty(const FindPattern &find)
{
    // PCRE2 works out the least number of bytes a match needs from where it
    // starts, and skips positions by it, so it never overstates it. That is
    // the least length of the match itself, except that a byte a lookahead
    // asks for counts too when it is a known first or required byte: "(?=a)"
    // needs 1. Two more ways that can never match, starting with other bytes,
    // leave no such byte and take at least one byte each; the least then is
    // 0 exactly when some way through the pattern takes no byte (x*, ^, \b,
    // (?=a), (?<=a)), or when PCRE2 cannot work it out ((*ACCEPT)), which is
    // refused as well. One empty match passes: one that \K makes empty
    // after taking bytes; the engine matches with PCRE2_NOTEMPTY, so such a
    // match is simply not taken at that place.
    bool utf = false;
    const RegexCode::Result probe = compileAround(find.bytes, "(?:", "|(*F)\\x01|(*F)\\x02)", findOptions(find, utf));
    return probe.code.isNull() || probe.code.minLength() == 0;
}

RegexCode::Result CompileFindRegex(const FindPattern &find)
{
    bool utf = false;
    const uint32_t options = findOptions(find, utf);
    RegexCode::Result typed = RegexCode::compile(find.bytes, options);
    if (!typed.error.isEmpty() || !find.wholeWord)
        return typed;
    // Over UTF-8 characters every character beyond ASCII starts with a byte
    // from 0x80 on, so it counts as a word byte.
    const QByteArray word = utf ? QByteArrayLiteral("[0-9A-Za-z_]|[^\\x00-\\x7f]") : QByteArrayLiteral("[0-9A-Za-z_\\x80-\\xff]");
    return compileAround(find.bytes, "(?<!" + word + ")(?:", ")(?!" + word + ")", options);
}

TemplateParse ParseTemplate(const QByteArray &text, const RegexCode &code)
{
    TemplateParse parse;
    const auto fail = [&](const QString &message, qsizetype at) {
        parse.parts.clear();
        parse.error = message;
        parse.offset = characterOffset(text, at);
        return parse;
    };
    const auto isDigit = [&](qsizetype i) { return i < text.size() && text.at(i) >= '0' && text.at(i) <= '9'; };
    QByteArray literal;
    for (qsizetype i = 0; i < text.size(); ++i) {
        if (text.at(i) != '$') {
            literal += text.at(i);
            continue;
        }
        const qsizetype dollar = i;
        int group = -1;
        QByteArray reference;
        if (i + 1 < text.size() && text.at(i + 1) == '$') {
            literal += '$';
            ++i;
            continue;
        } else if (isDigit(i + 1)) {
            const qsizetype digits = isDigit(i + 2) ? 2 : 1;
            reference = text.mid(i, 1 + digits);
            group = text.mid(i + 1, digits).toInt();
            i += digits;
        } else if (i + 1 < text.size() && text.at(i + 1) == '{' && text.indexOf('}', i + 2) > i + 2) {
            const qsizetype close = text.indexOf('}', i + 2);
            const QByteArray name = text.mid(i + 2, close - i - 2);
            reference = text.mid(i, close - i + 1);
            bool number = false;
            group = name.toInt(&number);
            if (!number || !std::all_of(name.cbegin(), name.cend(), [](char c) { return c >= '0' && c <= '9'; }))
                group = code.groupNumber(name);
            i = close;
        } else {
            return fail(PatternText::lonelyDollar(characterOffset(text, dollar)), dollar);
        }
        if (group < 0 || group > code.captureCount())
            return fail(PatternText::unknownGroup(QString::fromUtf8(reference)), dollar);
        if (!literal.isEmpty())
            parse.parts.push_back({std::exchange(literal, {}), -1});
        parse.parts.push_back({{}, group});
    }
    if (!literal.isEmpty())
        parse.parts.push_back({literal, -1});
    return parse;
}

} // namespace perrox
