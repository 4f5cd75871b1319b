#include "notation.h"

#include "base/messagesink.h"
#include "codepage.h"
#include "files/filesystem.h"

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

// The byte a Decimal (at most 3 digits, 0-255) or Hexadecimal (1 or 2
// digits) token stands for, or -1 when the notation refuses it.
int tokenValue(QStringView token, bool decimal)
{
    if (token.isEmpty() || token.size() > (decimal ? 3 : 2))
        return -1;
    const int base = decimal ? 10 : 16;
    int value = 0;
    for (QChar c : token) {
        const int digit = digitValue(c, base);
        if (digit < 0)
            return -1;
        value = value * base + digit;
    }
    return value <= 255 ? value : -1;
}

QString decimalValueError(QStringView token)
{
    return QLatin1String("The decimal value '") + token.toString() + QLatin1String("' is not beetwen '0' and '255'.");
}

QString hexValueError(QStringView token)
{
    return QLatin1String("The hexadecimal value '") + token.toString() + QLatin1String("' is not beetwen '00' and 'FF'.");
}

// Token values of a Decimal or Hexadecimal text, or the error at the first
// invalid token. The tokens are counted first, so the bytes are allocated
// once at their final size.
BytesResult tokenValues(QStringView text, qint16 notation)
{
    const bool decimal = notation == Decimal;
    qsizetype count = 0;
    for (TokenWalker tokens(text); tokens.next();)
        ++count;
    QByteArray bytes(count, Qt::Uninitialized);
    char *out = bytes.data();
    TokenWalker tokens(text);
    while (const std::optional<QStringView> token = tokens.next()) {
        const int value = tokenValue(*token, decimal);
        if (value < 0)
            return {QByteArray(), decimal ? decimalValueError(*token) : hexValueError(*token)};
        *out++ = char(value);
    }
    return {bytes, QString()};
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

// A lone surrogate as the byte it stands for, in hexadecimal ("E9").
QString byteOfSurrogate(QChar c)
{
    const int byte = c.unicode() >= 0xDC80 && c.unicode() <= 0xDCFF ? c.unicode() - 0xDC00 : '?';
    return QString::number(byte, 16).toUpper().rightJustified(2, u'0');
}

// The whole character at i (a pair of surrogates counts as one).
QString characterAt(const QString &text, qsizetype i)
{
    const bool pair = text.at(i).isHighSurrogate() && i + 1 < text.size() && text.at(i + 1).isLowSurrogate();
    return text.mid(i, pair ? 2 : 1);
}

QString utf8ValueError(QByteArrayView bytes, qsizetype at)
{
    return QLatin1String("The value '") + CanonicalText(bytes.sliced(at, 1), Hexadecimal).trimmed() + QLatin1String("' at byte ") + QString::number(at + 1)
        + QLatin1String(" is not valid UTF-8.");
}

const QLatin1String kCharactersAdvice("Characters are the 256 characters of Windows-1252; choose the UTF-8 notation for any other character.");
const QLatin1String kUtf8Advice("A UTF-8 text holds whole characters only; choose the Hex notation for single bytes.");

CharactersResult toCharacters(const QString &text, qint16 notation)
{
    const BytesResult values = tokenValues(text, notation);
    if (!values.ok())
        return {QString(), values.error};
    return {BytesToCharacters(values.bytes), QString()};
}

} // namespace

qint16 KnownNotation(qint16 notation)
{
    return notation >= Characters && notation < kNotationCount ? notation : qint16(Characters);
}

QString TypeCode(qint16 notation)
{
    switch (notation) {
    case Characters:
        return QStringLiteral("Asc");
    case Decimal:
        return QStringLiteral("Dec");
    case Hexadecimal:
        return QStringLiteral("Hex");
    case Utf8:
        return QStringLiteral("Utf");
    }
    return QString();
}

QString OptionCaption(qint16 notation)
{
    return notation == Utf8 ? QStringLiteral("UTF-8") : TypeCode(notation);
}

std::optional<qint16> NotationFromTypeCode(const QString &code)
{
    for (qint16 n : {Characters, Decimal, Hexadecimal, Utf8}) {
        if (code == TypeCode(n))
            return n;
    }
    return std::nullopt;
}

QString NotationDescription(qint16 notation)
{
    switch (notation) {
    case Characters:
        return QStringLiteral("Characters");
    case Decimal:
        return QStringLiteral("Decimal values (0-255)");
    case Hexadecimal:
        return QStringLiteral("Hexadecimal values (00-FF)");
    case Utf8:
        return QStringLiteral("UTF-8 text (any character)");
    }
    return QString();
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

bool IsDecimalValue(QStringView token)
{
    return tokenValue(token, true) >= 0;
}

bool IsHexValue(QStringView token)
{
    return tokenValue(token, false) >= 0;
}

CharactersResult DecimalToCharacters(const QString &text)
{
    return toCharacters(text, Decimal);
}

CharactersResult HexToCharacters(const QString &text)
{
    return toCharacters(text, Hexadecimal);
}

BytesResult ToByteSequence(const QString &text, qint16 notation)
{
    switch (notation) {
    case Characters:
        if (const qsizetype at = FirstOutsideCodePage(text); at >= 0)
            return {QByteArray(), QLatin1String("The character '") + characterAt(text, at) + QLatin1String("' is not one of Windows-1252.")};
        return {CharactersToBytes(text), QString()};
    case Decimal:
    case Hexadecimal:
        return tokenValues(text, notation);
    case Utf8:
        if (firstLoneSurrogate(text) >= 0) {
            const QByteArray bytes = NativePath(text);
            return {QByteArray(), utf8ValueError(bytes, FirstInvalidUtf8(bytes))};
        }
        return {text.toUtf8(), QString()};
    }
    return {};
}

QString CanonicalText(QByteArrayView bytes, qint16 notation)
{
    if (notation == Characters)
        return BytesToCharacters(bytes);
    if (notation == Utf8)
        return DecodeNativePath(bytes.toByteArray());
    if (notation != Decimal && notation != Hexadecimal)
        return QString();
    // The digits go straight into a text of its final length: the bytes may
    // be those of an argument file, millions of them.
    const int base = notation == Hexadecimal ? 16 : 10;
    const auto width = [base](uchar b) -> qsizetype { return base == 16 ? 2 : b >= 100 ? 3 : b >= 10 ? 2 : 1; };
    qsizetype length = 0;
    for (char b : bytes)
        length += width(uchar(b)) + 1;
    QString text(length, Qt::Uninitialized);
    QChar *out = text.data();
    for (char b : bytes) {
        const qsizetype w = width(uchar(b));
        for (qsizetype i = w - 1, v = uchar(b); i >= 0; --i, v /= base)
            out[i] = QLatin1Char("0123456789ABCDEF"[v % base]);
        out += w;
        *out++ = u' ';
    }
    return text;
}

QString ConvertNotation(const QString &text, qint16 fromNotation, qint16 toNotation)
{
    if (fromNotation == toNotation && (fromNotation == Characters || fromNotation == Utf8))
        return FirstInvalidToken(text, fromNotation) ? QString() : text; // taken as it is
    const BytesResult bytes = ToByteSequence(text, fromNotation);
    if (!bytes.ok() || (fromNotation < Characters || fromNotation >= kNotationCount))
        return QString();
    if (toNotation == Utf8 && FirstInvalidUtf8(bytes.bytes) >= 0)
        return QString();
    return CanonicalText(bytes.bytes, toNotation);
}

QString ConversionRefusal(const QString &text, qint16 fromNotation, qint16 toNotation)
{
    if (toNotation != Utf8 || fromNotation == Utf8)
        return QString();
    const BytesResult bytes = ToByteSequence(text, fromNotation);
    const qsizetype at = bytes.ok() ? FirstInvalidUtf8(bytes.bytes) : -1;
    return at < 0 ? QString() : utf8ValueError(bytes.bytes, at);
}

std::optional<QString> FirstInvalidToken(const QString &text, qint16 notation)
{
    if (notation == Characters) {
        const qsizetype at = FirstOutsideCodePage(text);
        return at < 0 ? std::nullopt : std::optional<QString>(characterAt(text, at));
    }
    if (notation == Utf8) {
        const qsizetype at = firstLoneSurrogate(text);
        return at < 0 ? std::nullopt : std::optional<QString>(text.mid(at, 1));
    }
    if (notation != Decimal && notation != Hexadecimal)
        return std::nullopt;
    TokenWalker tokens(text);
    while (const std::optional<QStringView> token = tokens.next()) {
        if (tokenValue(*token, notation == Decimal) < 0)
            return token->toString();
    }
    return std::nullopt;
}

QString FieldMessage(const QString &label, const QString &token, qint16 notation)
{
    QString shown = token;
    QString advice;
    switch (notation) {
    case Decimal:
        advice = QStringLiteral("Valid decimal values are between '0' and '255'.");
        break;
    case Hexadecimal:
        advice = QStringLiteral("Valid hexadecimal values are between '00' and 'FF'.");
        break;
    case Characters:
        advice = kCharactersAdvice;
        break;
    default:
        shown = byteOfSurrogate(token.at(0));
        advice = kUtf8Advice;
        break;
    }
    return QLatin1String("An invalid value found in the '") + label + QLatin1String("' field: ") + shown + kCrLf + kCrLf + advice;
}

QString ArgumentMessage(const QString &text, qint16 notation)
{
    if (notation == Decimal)
        return QLatin1String("An invalid value found in the decimal '") + text + QLatin1String("' argument.") + kCrLf + kCrLf
            + QLatin1String("Valid decimal values are between '0' and '255'.");
    if (notation == Characters)
        return QLatin1String("An invalid value found in the characters '") + text + QLatin1String("' argument.") + kCrLf + kCrLf + kCharactersAdvice;
    if (notation == Utf8)
        return QLatin1String("An invalid value found in the UTF-8 '") + text + QLatin1String("' argument.") + kCrLf + kCrLf + kUtf8Advice;
    return QLatin1String("An invalid value found in the hexadecimal '") + text + QLatin1String("' argument.") + kCrLf + kCrLf
        + QLatin1String("Valid hexadecimal values are between '00' and 'FF'.");
}

bool ValidateArgument(const QString &text, qint16 notation, MessageSink &messages)
{
    if (!FirstInvalidToken(text, notation))
        return true;
    messages.warn(ArgumentMessage(text, notation));
    return false;
}

bool IsCharInSet(const QString &ch, const QString &set)
{
    return !ch.isEmpty() && set.contains(ch.at(0));
}

} // namespace perrox
