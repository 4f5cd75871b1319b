#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QString>
#include <QStringView>

#include <optional>

namespace perrox {

class MessageSink;

// How one side of a Find&Replace argument is typed. The number is what the
// preferences and argument records hold; the type code is what the argument
// list shows.
enum Notation : qint16
{
    Characters = 0, // one byte per character
    Decimal = 1, // tokens 0-255
    Hexadecimal = 2, // tokens 00-FF
    Utf8 = 3, // the UTF-8 bytes of any text
};
constexpr qint16 kNotationCount = 4;

// The notation itself when it is one of the four, else Characters.
qint16 KnownNotation(qint16 notation);
// sTypeCode: "Asc", "Dec", "Hex", "Utf"; empty for any other value.
QString TypeCode(qint16 notation);
// The caption of the notation's option: its type code, "UTF-8" for UTF-8.
QString OptionCaption(qint16 notation);
// The notation whose type code equals code exactly; nothing for other texts.
std::optional<qint16> NotationFromTypeCode(const QString &code);
// The long name shown as the option's tooltip ("Decimal values (0-255)").
QString NotationDescription(qint16 notation);

// The tokens of a Decimal or Hexadecimal text, in order: "," ";" and " "
// separate, empty pieces are skipped. A tab or line break is part of a token.
// Each token is a view into the text, which must outlive the walk; nothing is
// copied, so a text of any length is walked in constant memory.
class TokenWalker
{
public:
    explicit TokenWalker(QStringView text)
        : m_text(text)
    { }

    // The next token (never empty), or nothing once the text is used up.
    std::optional<QStringView> next();

private:
    QStringView m_text;
    qsizetype m_pos = 0;
};

// At most 3 characters, all decimal digits, value 0-255 ("007" is 7).
bool IsDecimalValue(QStringView token);
// 1 or 2 hexadecimal digits of either case, nothing else.
bool IsHexValue(QStringView token);

// A conversion out of Decimal or Hexadecimal: the result, or the error text
// quoting the first invalid token.
struct CharactersResult
{
    QString text;
    QString error;
    bool ok() const { return error.isEmpty(); }
};

struct BytesResult
{
    QByteArray bytes;
    QString error;
    bool ok() const { return error.isEmpty(); }
};

CharactersResult DecimalToCharacters(const QString &text);
CharactersResult HexToCharacters(const QString &text);

// The bytes a text stands for in its notation. Characters: one byte per
// character (Windows-1252); Decimal and Hexadecimal: one byte per token;
// UTF-8: the text's UTF-8 bytes; any other notation: no bytes. Fails like
// DecimalToCharacters/HexToCharacters, for a character Windows-1252 lacks in
// Characters, and for a byte that is no part of a character in UTF-8 (only a
// text loaded from an argument file can hold one).
BytesResult ToByteSequence(const QString &text, qint16 notation);

// The bytes written in a notation's canonical form: Decimal "65 66 7 ",
// Hexadecimal "41 0A ", Characters one character per byte, UTF-8 the text
// they encode (bytes that are not UTF-8 kept as in DecodeNativePath).
QString CanonicalText(QByteArrayView bytes, qint16 notation);

// The text rewritten from one notation into another, in canonical form. Never
// fails: a text that is invalid in its notation, or whose bytes are not UTF-8
// text when UTF-8 is the target, gives the empty text.
QString ConvertNotation(const QString &text, qint16 fromNotation, qint16 toNotation);
// Why a switch of a valid text to toNotation is refused: its bytes are not
// UTF-8 text ("The value 'E9' at byte 4 is not valid UTF-8."); empty when
// the switch may convert.
QString ConversionRefusal(const QString &text, qint16 fromNotation, qint16 toNotation);

// The first token that the notation refuses; nothing when the text is valid
// (texts without tokens always are). In Characters, the first character that
// Windows-1252 lacks; in UTF-8, the first byte that is no part of a character
// (as DecodeNativePath keeps it). Tokens are whole, so a field can select one.
std::optional<QString> FirstInvalidToken(const QString &text, qint16 notation);

// The message of a field that fails its check when the focus leaves it; label
// is "Find what" or "Replace with".
QString FieldMessage(const QString &label, const QString &token, qint16 notation);
// The message of an argument side that fails its check, quoting the whole text.
QString ArgumentMessage(const QString &text, qint16 notation);

// True when the text is valid in its notation; otherwise shows the argument
// message and returns false.
bool ValidateArgument(const QString &text, qint16 notation, MessageSink &messages);

// True when the first character of ch occurs in set.
bool IsCharInSet(const QString &ch, const QString &set);

} // namespace perrox
