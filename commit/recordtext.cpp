#include "recordtext.h"

#include <limits>

namespace perrox {

namespace {

std::optional<qint64> parseDigits(QByteArrayView text, int base, qint64 min, qint64 max)
{
    const bool negative = text.startsWith('-');
    if (negative)
        text = text.sliced(1);
    if (text.isEmpty() || text.size() > 24 || (negative && min >= 0))
        return std::nullopt;
    // Accumulated as a negative number, which reaches the smallest qint64.
    qint64 value = 0;
    for (const char c : text) {
        const int digit = c - '0';
        if (digit < 0 || digit >= base)
            return std::nullopt;
        if (value < (std::numeric_limits<qint64>::min() + digit) / base)
            return std::nullopt;
        value = value * base - digit;
    }
    if (!negative) {
        if (value == std::numeric_limits<qint64>::min())
            return std::nullopt;
        value = -value;
    }
    if (value < min || value > max)
        return std::nullopt;
    return value;
}

bool unreserved(char c)
{
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '-' || c == '.' || c == '_' || c == '~';
}

int hexValue(char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    return -1;
}

} // namespace

std::optional<qint64> ParseDecimal(QByteArrayView text, qint64 min, qint64 max)
{
    return parseDigits(text, 10, min, max);
}

std::optional<qint64> ParseOctal(QByteArrayView text, qint64 max)
{
    return parseDigits(text, 8, 0, max);
}

QByteArray RecordedPathText(const QByteArray &path)
{
    return path.toPercentEncoding("/");
}

std::optional<QByteArray> ParseRecordedPath(QByteArrayView text)
{
    QByteArray path;
    path.reserve(text.size());
    for (qsizetype i = 0; i < text.size(); ++i) {
        const char c = text.at(i);
        if (c == '/' || unreserved(c)) {
            path.append(c);
            continue;
        }
        if (c != '%' || i + 2 >= text.size() || hexValue(text.at(i + 1)) < 0 || hexValue(text.at(i + 2)) < 0)
            return std::nullopt;
        path.append(char(hexValue(text.at(i + 1)) * 16 + hexValue(text.at(i + 2))));
        i += 2;
    }
    if (!path.startsWith('/') || path.contains('\0'))
        return std::nullopt;
    return path;
}

qint64 SaturatingAdd(qint64 a, qint64 b)
{
    qint64 sum;
    if (__builtin_add_overflow(a, b, &sum))
        return b > 0 ? std::numeric_limits<qint64>::max() : std::numeric_limits<qint64>::min();
    return sum;
}

} // namespace perrox
