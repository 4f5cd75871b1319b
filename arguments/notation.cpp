#include "notation.h"

#include "app/messagesink.h"
#include "codepage.h"

namespace perrox {

namespace {

const QLatin1String kCrLf("\r\n");

bool isAsciiDigit(QChar c)
{
    return c >= QLatin1Char('0') && c <= QLatin1Char('9');
}

bool isHexDigit(QChar c)
{
    return isAsciiDigit(c) || (c >= QLatin1Char('a') && c <= QLatin1Char('f')) || (c >= QLatin1Char('A') && c <= QLatin1Char('F'));
}

QString decimalValueError(const QString &token)
{
    return QLatin1String("The decimal value '") + token + QLatin1String("' is not beetwen '0' and '255'.");
}

QString hexValueError(const QString &token)
{
    return QLatin1String("The hexadecimal value '") + token + QLatin1String("' is not beetwen '00' and 'FF'.");
}

// Token values of a Decimal or Hexadecimal text, or the error at the first
// invalid token.
BytesResult tokenValues(const QString &text, qint16 notation)
{
    BytesResult result;
    const bool decimal = notation == Decimal;
    for (const QString &token : Tokenize(text)) {
        if (decimal ? !IsDecimalValue(token) : !IsHexValue(token)) {
            result.bytes.clear();
            result.error = decimal ? decimalValueError(token) : hexValueError(token);
            return result;
        }
        result.bytes.append(char(token.toUInt(nullptr, decimal ? 10 : 16)));
    }
    return result;
}

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
    return notation >= Characters && notation <= Hexadecimal ? notation : qint16(Characters);
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
    }
    return QString();
}

std::optional<qint16> NotationFromTypeCode(const QString &code)
{
    for (qint16 n : {Characters, Decimal, Hexadecimal}) {
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
    }
    return QString();
}

QStringList Tokenize(const QString &text)
{
    QString spaced = text;
    spaced.replace(QLatin1Char(','), QLatin1Char(' '));
    spaced.replace(QLatin1Char(';'), QLatin1Char(' '));
    return spaced.split(QLatin1Char(' '), Qt::SkipEmptyParts);
}

bool IsDecimalValue(const QString &token)
{
    if (token.isEmpty() || token.size() > 3)
        return false;
    for (QChar c : token) {
        if (!isAsciiDigit(c))
            return false;
    }
    return token.toUInt() <= 255;
}

bool IsHexValue(const QString &token)
{
    if (token.isEmpty() || token.size() > 2)
        return false;
    for (QChar c : token) {
        if (!isHexDigit(c))
            return false;
    }
    return true;
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
        return {CharactersToBytes(text), QString()};
    case Decimal:
    case Hexadecimal:
        return tokenValues(text, notation);
    }
    return {};
}

QString CanonicalText(const QByteArray &bytes, qint16 notation)
{
    if (notation == Characters)
        return BytesToCharacters(bytes);
    if (notation != Decimal && notation != Hexadecimal)
        return QString();
    QString text;
    text.reserve(bytes.size() * 4);
    for (char b : bytes) {
        if (notation == Decimal)
            text += QString::number(uchar(b));
        else
            text += QString::number(uchar(b), 16).toUpper().rightJustified(2, QLatin1Char('0'));
        text += QLatin1Char(' ');
    }
    return text;
}

QString ConvertNotation(const QString &text, qint16 fromNotation, qint16 toNotation)
{
    QByteArray bytes;
    if (fromNotation == Characters) {
        bytes = CharactersToBytes(text);
    } else if (fromNotation == Decimal || fromNotation == Hexadecimal) {
        const BytesResult values = tokenValues(text, fromNotation);
        if (!values.ok())
            return QString();
        bytes = values.bytes;
    } else {
        return QString();
    }
    if (toNotation == Characters && fromNotation == Characters)
        return text; // taken as it is, characters outside the code page included
    return CanonicalText(bytes, toNotation);
}

std::optional<QString> FirstInvalidToken(const QString &text, qint16 notation)
{
    if (notation != Decimal && notation != Hexadecimal)
        return std::nullopt;
    for (const QString &token : Tokenize(text)) {
        if (notation == Decimal ? !IsDecimalValue(token) : !IsHexValue(token))
            return token;
    }
    return std::nullopt;
}

QString FieldMessage(const QString &label, const QString &token, qint16 notation)
{
    const QString advice = notation == Decimal ? QStringLiteral("Valid decimal values are between '0' and '255'.")
                                               : QStringLiteral("Valid hexadecimal values are between '00' and 'FF'.");
    return QLatin1String("An invalid value found in the '") + label + QLatin1String("' field: ") + token + kCrLf + kCrLf + advice;
}

QString ArgumentMessage(const QString &text, qint16 notation)
{
    if (notation == Decimal)
        return QLatin1String("An invalid value found in the decimal '") + text + QLatin1String("' argument.") + kCrLf + kCrLf
            + QLatin1String("Valid decimal values are between '0' and '255'.");
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
