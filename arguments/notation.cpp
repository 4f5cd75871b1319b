#include "notation.h"

#include "base/messagesink.h"
#include "codepage.h"
#include "files/filesystem.h"
#include "regexpattern.h"

using namespace Qt::StringLiterals;

namespace perrox {

namespace {

const QLatin1String kCrLf("\r\n");

// The value of a digit in base 10 or 16 (either case), or -1.
int digitValue(QChar c, int base)
{
    const char16_t u = c.unicode();
    if (u >= u'0' && u <= u'9')
        return u - u'0';
    if (base == 16 && u >= u'a' && u <= u'f')
        return u - u'a' + 10;
    if (base == 16 && u >= u'A' && u <= u'F')
        return u - u'A' + 10;
    return -1;
}

constexpr int kWildcard = -2;

// The byte a token stands for in base 10 (at most 3 digits, 0-255) or 16 (1
// or 2 digits), kWildcard for the base's wildcard ("?" or "??"), or -1 when
// the base refuses it.
int tokenValue(QStringView token, int base)
{
    if (token == (base == 10 ? u"?" : u"??"))
        return kWildcard;
    if (token.isEmpty() || token.size() > (base == 10 ? 3 : 2))
        return -1;
    int value = 0;
    for (QChar c : token) {
        const int digit = digitValue(c, base);
        if (digit < 0)
            return -1;
        value = value * base + digit;
    }
    return value <= 255 ? value : -1;
}

QString tokenError(QStringView token, int base)
{
    return base == 10 ? "The decimal value '"_L1 + token.toString() + "' is not beetwen '0' and '255'."_L1
                      : "The hexadecimal value '"_L1 + token.toString() + "' is not beetwen '00' and 'FF'."_L1;
}

// The token values of a text, or the error at its first invalid token. The
// tokens are counted first, so the bytes are allocated once at their final
// size.
BytesResult tokenBytes(QStringView text, int base)
{
    qsizetype count = 0;
    for (TokenWalker tokens(text); tokens.next();)
        ++count;
    QByteArray bytes(count, Qt::Uninitialized), anyByte;
    qsizetype i = 0;
    TokenWalker tokens(text);
    while (const std::optional<QStringView> token = tokens.next()) {
        const int value = tokenValue(*token, base);
        if (value == kWildcard) {
            if (anyByte.isEmpty())
                anyByte = QByteArray(count, '\0');
            anyByte[i] = 1;
        } else if (value < 0) {
            return {QByteArray(), tokenError(*token, base)};
        }
        bytes[i++] = char(std::max(value, 0));
    }
    return {bytes, QString(), anyByte};
}

std::optional<QString> firstInvalidTokenIn(const QString &text, int base)
{
    TokenWalker tokens(text);
    while (const std::optional<QStringView> token = tokens.next()) {
        if (tokenValue(*token, base) == -1)
            return token->toString();
    }
    return std::nullopt;
}

// The bytes as tokens of base 10 or 16, each followed by a blank, a wildcard
// where anyByte flags one. The digits go straight into a text of its final
// length: the bytes may be those of an argument file, millions of them.
QString tokenText(QByteArrayView bytes, int base, QByteArrayView anyByte = {})
{
    const auto any = [&](qsizetype i) { return i < anyByte.size() && anyByte[i] != 0; };
    const auto width = [&](qsizetype i) -> qsizetype {
        const uchar b = uchar(bytes[i]);
        return any(i) || base == 16 ? 2 - (base == 10) : b >= 100 ? 3 : b >= 10 ? 2 : 1;
    };
    qsizetype length = 0;
    for (qsizetype i = 0; i < bytes.size(); ++i)
        length += width(i) + 1;
    QString text(length, Qt::Uninitialized);
    QChar *out = text.data();
    for (qsizetype at = 0; at < bytes.size(); ++at) {
        const qsizetype w = width(at);
        for (qsizetype i = w - 1, v = uchar(bytes[at]); i >= 0; --i, v /= base)
            out[i] = any(at) ? QLatin1Char('?') : QLatin1Char("0123456789ABCDEF"[v % base]);
        out += w;
        *out++ = u' ';
    }
    return text;
}

// The lone surrogates DC80-DCFF stand for bytes that are not UTF-8 (see
// DecodeNativePath); other lone surrogates cannot be encoded at all.
qsizetype firstLoneSurrogate(QStringView text)
{
    for (qsizetype i = 0; i < text.size(); ++i) {
        const QChar c = text.at(i);
        if (c.isHighSurrogate() && i + 1 < text.size() && text.at(i + 1).isLowSurrogate())
            ++i;
        else if (c.isSurrogate())
            return i;
    }
    return -1;
}

// The whole character at i (a pair of surrogates counts as one).
QString characterAt(const QString &text, qsizetype i)
{
    const bool pair = text.at(i).isHighSurrogate() && i + 1 < text.size() && text.at(i + 1).isLowSurrogate();
    return text.mid(i, pair ? 2 : 1);
}

QString utf8ValueError(QByteArrayView bytes, qsizetype at)
{
    return "The value '"_L1 + tokenText(bytes.sliced(at, 1), 16).trimmed() + "' at byte "_L1 + QString::number(at + 1) + " is not valid UTF-8."_L1;
}

QString anyBytes(QByteArrayView)
{
    return QString();
}

QString asTyped(const QString &part)
{
    return part;
}

// The functions of the rows of kNotations, a row's after another's.

BytesResult charactersBytes(const QString &text)
{
    if (const qsizetype at = FirstOutsideCodePage(text); at >= 0)
        return {QByteArray(), "The character '"_L1 + characterAt(text, at) + "' is not one of Windows-1252."_L1};
    return {CharactersToBytes(text), QString()};
}

std::optional<QString> firstOutsideCodePage(const QString &text)
{
    const qsizetype at = FirstOutsideCodePage(text);
    return at < 0 ? std::nullopt : std::optional<QString>(characterAt(text, at));
}

BytesResult decimalBytes(const QString &text)
{
    return tokenBytes(text, 10);
}

QString decimalText(QByteArrayView bytes)
{
    return tokenText(bytes, 10);
}

std::optional<QString> firstInvalidDecimal(const QString &text)
{
    return firstInvalidTokenIn(text, 10);
}

BytesResult hexBytes(const QString &text)
{
    return tokenBytes(text, 16);
}

QString hexText(QByteArrayView bytes)
{
    return tokenText(bytes, 16);
}

std::optional<QString> firstInvalidHex(const QString &text)
{
    return firstInvalidTokenIn(text, 16);
}

BytesResult utf8Bytes(const QString &text)
{
    if (firstLoneSurrogate(text) >= 0) {
        const QByteArray bytes = NativePath(text);
        return {QByteArray(), utf8ValueError(bytes, FirstInvalidUtf8(bytes))};
    }
    return {text.toUtf8(), QString()};
}

QString utf8Text(QByteArrayView bytes)
{
    return DecodeNativePath(bytes.toByteArray());
}

QString utf8Refusal(QByteArrayView bytes)
{
    const qsizetype at = FirstInvalidUtf8(bytes);
    return at < 0 ? QString() : utf8ValueError(bytes, at);
}

std::optional<QString> firstLoneSurrogateIn(const QString &text)
{
    const qsizetype at = firstLoneSurrogate(text);
    return at < 0 ? std::nullopt : std::optional<QString>(text.mid(at, 1));
}

// A lone surrogate as the byte it stands for, in hexadecimal ("E9").
QString byteOfSurrogate(const QString &part)
{
    const char16_t c = part.at(0).unicode();
    const int byte = c >= 0xDC80 && c <= 0xDCFF ? c - 0xDC00 : '?';
    return QString::number(byte, 16).toUpper().rightJustified(2, u'0');
}

// A regular expression is kept as the bytes of its text: a character that
// stands for a byte of an argument file (see DecodeNativePath) is that byte.
BytesResult regexBytes(const QString &text)
{
    return {NativePath(text), QString()};
}

RegexCode::Result compileRegex(const QString &text)
{
    FindPattern find;
    find.kind = FindPattern::Kind::Regex;
    find.bytes = NativePath(text);
    return CompileFindRegex(find);
}

// PCRE2's own message, and the character it points at, counted from 1.
std::optional<QString> regexError(const QString &text)
{
    const RegexCode::Result r = compileRegex(text);
    if (r.error.isEmpty())
        return std::nullopt;
    return r.error + " at character "_L1 + QString::number(r.offset + 1);
}

InvalidPart regexErrorAt(const QString &text)
{
    const RegexCode::Result r = compileRegex(text);
    const qsizetype at = std::clamp<qsizetype>(r.offset, 0, text.size());
    return {at, at < text.size() ? 1 : 0};
}

} // namespace

// Every notation, in the order of its options. The options keep the design's
// spacing; the last is wider for its longer caption. The UTF-8 options of the
// two frames need mnemonics of their own: T and F belong to the Tools and
// File menus. Where start tags without "..." are alike for every notation, an
// argument file's sides are Hexadecimal, the last tried, as in files from
// before UTF-8.
constexpr std::array<NotationInfo, kNotationCount> kNotations {{
    {
        .notation = Notation::Characters,
        .number = 0,
        .code = "Asc"_L1,
        .fileWord = "ASC"_L1,
        .batchPrefix = "asc:"_L1,
        .findCaption = "Asc"_L1,
        .replaceCaption = "Asc"_L1,
        .description = "Characters"_L1,
        .optionLeft = 120,
        .optionTop = 315,
        .optionWidth = 615,
        .keys = {},
        .messageName = "characters"_L1,
        .advice = "Characters are the 256 characters of Windows-1252; choose the UTF-8 notation for any other character."_L1,
        .utf8InFiles = false,
        .fileScanRank = 2,
        .toBytes = charactersBytes,
        .canonicalText = BytesToCharacters,
        .refusal = anyBytes,
        .firstInvalid = firstOutsideCodePage,
        .shownInvalid = asTyped,
        .wildcard = {},
        .pattern = false,
        .invalidAt = nullptr,
    },
    {
        .notation = Notation::Decimal,
        .number = 1,
        .code = "Dec"_L1,
        .fileWord = "DEC"_L1,
        .batchPrefix = "dec:"_L1,
        .findCaption = "Dec"_L1,
        .replaceCaption = "Dec"_L1,
        .description = "Decimal values (0-255)"_L1,
        .optionLeft = 1050,
        .optionTop = 315,
        .optionWidth = 615,
        .keys = "0123456789,; ?"_L1,
        .messageName = "decimal"_L1,
        .advice = "Valid decimal values are between '0' and '255'."_L1,
        .utf8InFiles = false,
        .fileScanRank = 3,
        .toBytes = decimalBytes,
        .canonicalText = decimalText,
        .refusal = anyBytes,
        .firstInvalid = firstInvalidDecimal,
        .shownInvalid = asTyped,
        .wildcard = "?"_L1,
        .pattern = false,
        .invalidAt = nullptr,
    },
    {
        .notation = Notation::Hexadecimal,
        .number = 2,
        .code = "Hex"_L1,
        .fileWord = "HEX"_L1,
        .batchPrefix = "hex:"_L1,
        .findCaption = "Hex"_L1,
        .replaceCaption = "Hex"_L1,
        .description = "Hexadecimal values (00-FF)"_L1,
        .optionLeft = 1995,
        .optionTop = 315,
        .optionWidth = 615,
        .keys = "0123456789ABCDEFabcdef,; ?"_L1,
        .messageName = "hexadecimal"_L1,
        .advice = "Valid hexadecimal values are between '00' and 'FF'."_L1,
        .utf8InFiles = false,
        .fileScanRank = 4,
        .toBytes = hexBytes,
        .canonicalText = hexText,
        .refusal = anyBytes,
        .firstInvalid = firstInvalidHex,
        .shownInvalid = asTyped,
        .wildcard = "??"_L1,
        .pattern = false,
        .invalidAt = nullptr,
    },
    {
        .notation = Notation::Utf8,
        .number = 3,
        .code = "Utf"_L1,
        .fileWord = "UTF8"_L1,
        .batchPrefix = "utf8:"_L1,
        .findCaption = "&UTF-8"_L1,
        .replaceCaption = "UTF-&8"_L1,
        .description = "UTF-8 text (any character)"_L1,
        .optionLeft = 2940,
        .optionTop = 315,
        .optionWidth = 840,
        .keys = {},
        .messageName = "UTF-8"_L1,
        .advice = "A UTF-8 text holds whole characters only; choose the Hex notation for single bytes."_L1,
        .utf8InFiles = true,
        .fileScanRank = 1,
        .toBytes = utf8Bytes,
        .canonicalText = utf8Text,
        .refusal = utf8Refusal,
        .firstInvalid = firstLoneSurrogateIn,
        .shownInvalid = byteOfSurrogate,
        .wildcard = {},
        .pattern = false,
        .invalidAt = nullptr,
    },
    {
        .notation = Notation::Regex,
        .number = 4,
        .code = "Rgx"_L1,
        .fileWord = "REGEX"_L1,
        .batchPrefix = "regex:"_L1,
        .findCaption = "Re&gex"_L1,
        .replaceCaption = {},
        .description = "Regular expression over the bytes (PCRE2)"_L1,
        .optionLeft = 120,
        .optionTop = 945,
        .optionWidth = 840,
        .keys = {},
        .messageName = "regular expression"_L1,
        .advice = "A regular expression is matched against the bytes of the files; the help says what it may hold."_L1,
        .utf8InFiles = true,
        .fileScanRank = 0,
        .toBytes = regexBytes,
        .canonicalText = utf8Text,
        .refusal = anyBytes,
        .firstInvalid = regexError,
        .shownInvalid = asTyped,
        .wildcard = {},
        .pattern = true,
        .invalidAt = regexErrorAt,
    },
}};

namespace {

// Every row filled, at its Index, with a scan rank of its own.
constexpr bool wellFormed(const std::array<NotationInfo, kNotationCount> &rows)
{
    std::array<bool, kNotationCount> ranked {};
    for (std::size_t i = 0; i < rows.size(); ++i) {
        const NotationInfo &n = rows[i];
        if (Index(n.notation) != i || n.code.isEmpty() || !n.toBytes || !n.canonicalText || !n.refusal || !n.firstInvalid || !n.shownInvalid)
            return false;
        if (n.fileScanRank < 0 || std::size_t(n.fileScanRank) >= rows.size() || ranked[std::size_t(n.fileScanRank)])
            return false;
        ranked[std::size_t(n.fileScanRank)] = true;
    }
    return true;
}
// UndefinedBehaviorSanitizer checks the function pointers at run time,
// which no constant expression may do.
#ifndef PERROX_SANITIZE
static_assert(wellFormed(kNotations));
#endif

} // namespace

std::optional<Notation> NotationFromCode(const QString &code)
{
    for (const NotationInfo &n : kNotations) {
        if (code == n.code)
            return n.notation;
    }
    return std::nullopt;
}

std::optional<Notation> NotationFromNumber(qint16 number)
{
    for (const NotationInfo &n : kNotations) {
        if (number == n.number)
            return n.notation;
    }
    return std::nullopt;
}

bool CanFoldCase(Notation notation)
{
    return notation == Notation::Characters || notation == Notation::Utf8 || notation == Notation::Regex;
}

bool TakesReplaceSide(Notation notation)
{
    return !Info(notation).replaceCaption.isEmpty();
}

std::optional<QStringView> TokenWalker::next()
{
    const auto separates = [](QChar c) { return c == u' ' || c == u',' || c == u';'; };
    while (m_pos < m_text.size() && separates(m_text[m_pos]))
        ++m_pos;
    if (m_pos == m_text.size())
        return std::nullopt;
    const qsizetype start = m_pos;
    while (m_pos < m_text.size() && !separates(m_text[m_pos]))
        ++m_pos;
    return m_text.sliced(start, m_pos - start);
}

BytesResult ToByteSequence(const QString &text, Notation notation)
{
    return Info(notation).toBytes(text);
}

QString CanonicalText(QByteArrayView bytes, Notation notation, QByteArrayView anyByte)
{
    const NotationInfo &n = Info(notation);
    if (!anyByte.isEmpty() && !n.wildcard.isEmpty())
        return tokenText(bytes, n.wildcard.size() == 1 ? 10 : 16, anyByte);
    return n.canonicalText(bytes);
}

QString ConvertNotation(const QString &text, Notation fromNotation, Notation toNotation)
{
    if (Info(fromNotation).pattern || Info(toNotation).pattern)
        return text;
    const BytesResult bytes = ToByteSequence(text, fromNotation);
    if (!bytes.ok() || !ConversionRefusal(text, fromNotation, toNotation).isEmpty())
        return QString();
    return CanonicalText(bytes.bytes, toNotation, bytes.anyByte);
}

QString ConversionRefusal(const QString &text, Notation fromNotation, Notation toNotation)
{
    if (Info(fromNotation).pattern || Info(toNotation).pattern)
        return QString();
    const BytesResult bytes = ToByteSequence(text, fromNotation);
    if (!bytes.ok())
        return QString();
    if (bytes.hasWildcard() && Info(toNotation).wildcard.isEmpty())
        return "The wildcard at byte "_L1 + QString::number(bytes.anyByte.indexOf('\1') + 1)
            + " stands for any byte; only the Dec and Hex notations can write it."_L1;
    return Info(toNotation).refusal(bytes.bytes);
}

std::optional<QString> FirstInvalidToken(const QString &text, Notation notation)
{
    return Info(notation).firstInvalid(text);
}

InvalidPart InvalidPartOf(const QString &text, Notation notation)
{
    const NotationInfo &n = Info(notation);
    if (n.invalidAt)
        return n.invalidAt(text);
    const std::optional<QString> part = n.firstInvalid(text);
    return part ? InvalidPart {text.indexOf(*part), part->size()} : InvalidPart {};
}

QString FieldMessage(const QString &label, const QString &token, Notation notation)
{
    const NotationInfo &n = Info(notation);
    return "An invalid value found in the '"_L1 + label + "' field: "_L1 + n.shownInvalid(token) + kCrLf + kCrLf + n.advice;
}

QString ArgumentMessage(const QString &text, Notation notation)
{
    const NotationInfo &n = Info(notation);
    // A pattern's message says what is wrong in it, as the library found it.
    const QString what = n.pattern ? ": "_L1 + n.firstInvalid(text).value_or(QString()) + u'.' : "."_L1;
    return "An invalid value found in the "_L1 + n.messageName + " '"_L1 + text + "' argument"_L1 + what + kCrLf + kCrLf + n.advice;
}

bool ValidateArgument(const QString &text, Notation notation, MessageSink &messages)
{
    if (!FirstInvalidToken(text, notation))
        return true;
    messages.warn(ArgumentMessage(text, notation));
    return false;
}

} // namespace perrox
