#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QLatin1StringView>
#include <QString>
#include <QStringView>

#include <array>
#include <cstddef>
#include <optional>
#include <utility>

namespace perrox {

class MessageSink;

// How one side of a Find&Replace argument is typed. Everything the program
// knows of a notation is its row of kNotations; the enumerators only index
// that table, and what is stored or shown comes from the row.
enum class Notation : quint8
{
    Characters,
    Decimal,
    Hexadecimal,
    Utf8,
    Regex,
};
inline constexpr std::size_t kNotationCount = 5; // the rows of kNotations

// The place of a notation in kNotations and in arrays that follow it.
constexpr std::size_t Index(Notation notation)
{
    return std::size_t(notation);
}

// A text turned into bytes: the bytes, or the error at the first part of the
// text that the notation refuses.
struct BytesResult
{
    BytesResult(QByteArray bytes = {}, QString error = {}, QByteArray anyByte = {})
        : bytes(std::move(bytes))
        , error(std::move(error))
        , anyByte(std::move(anyByte))
    { }

    QByteArray bytes;
    QString error;
    // Empty, or one flag per byte: non-zero where the text has a wildcard,
    // which stands for any byte (its place in bytes holds 0).
    QByteArray anyByte;
    bool ok() const { return error.isEmpty(); }
    bool hasWildcard() const { return !anyByte.isEmpty(); }
};

// Where a text fails the check of its notation, for a field to select: the
// part from offset, length characters long.
struct InvalidPart
{
    qsizetype offset = -1;
    qsizetype length = 0;
};

// One row of kNotations: every fact of one notation.
struct NotationInfo
{
    Notation notation;
    // The number the preferences store for it (FindType, ReplaceType).
    qint16 number;
    // Its type code, shown in the argument list ("Asc").
    QLatin1StringView code;
    // What its start tags in argument files put for "..." ("ASC").
    QLatin1StringView fileWord;
    // perrox-batch reads a side that starts with it, in any case, in this
    // notation ("asc:").
    QLatin1StringView batchPrefix;
    // Its option in the Find frame and in the Replace frame (captions with
    // their mnemonics, the same tooltip), placed at the left edge and at least
    // as wide as given, in twips.
    // An empty caption: the notation has no option in that frame and cannot
    // be given to that side.
    QLatin1StringView findCaption;
    QLatin1StringView replaceCaption;
    QLatin1StringView description;
    int optionLeft;
    int optionTop;
    int optionWidth;
    // The characters its field takes from the keyboard (the first character
    // of a key's text counts); empty: any text that passes firstInvalid.
    QLatin1StringView keys;
    // The messages of a failed check: "An invalid value found in the
    // <messageName> '...' argument.", and the advice that ends each message.
    QLatin1StringView messageName;
    QLatin1StringView advice;
    // Argument files hold its texts as their UTF-8 bytes (a byte that is no
    // UTF-8 kept as DecodeNativePath keeps it); otherwise one byte per
    // character, in Windows-1252.
    bool utf8InFiles;
    // The order in which a scan of an argument file tries the start tags of
    // the notations, from 0; where several stand at one place (tags without
    // "..."), the last tried counts.
    int fileScanRank;
    // The bytes a text stands for.
    BytesResult (*toBytes)(const QString &text);
    // The bytes written in the notation's canonical form.
    QString (*canonicalText)(QByteArrayView bytes);
    // Why the notation cannot write these bytes; empty when it can.
    QString (*refusal)(QByteArrayView bytes);
    // The first part of a text that the notation refuses, whole, so that a
    // field can select it; nothing when the text is valid.
    std::optional<QString> (*firstInvalid)(const QString &text);
    // How a field's message shows that part.
    QString (*shownInvalid)(const QString &part);
    // The token that stands for any one byte in a find ("??"); empty when the
    // notation has none.
    QLatin1StringView wildcard;
    // A pattern, not a byte sequence: a switch to or from it keeps the text as
    // typed, and firstInvalid describes what is wrong rather than quoting it.
    bool pattern;
    // Where the part firstInvalid gave stands in the text; null: where that
    // part is first found in the text.
    InvalidPart (*invalidAt)(const QString &text);
};

// The notations, in the order of their options, each at its Index.
extern const std::array<NotationInfo, kNotationCount> kNotations;

inline const NotationInfo &Info(Notation notation)
{
    return kNotations[Index(notation)];
}

// The notation whose type code equals code exactly; nothing for other texts.
std::optional<Notation> NotationFromCode(const QString &code);
// The notation the preferences store as number; nothing for other numbers.
std::optional<Notation> NotationFromNumber(qint16 number);
// Whether a find in the notation can ignore case: text can, bytes cannot.
bool CanFoldCase(Notation notation);
// Whether the side may be given in the notation: every notation has a find
// side, those with a replace caption a replace side.
bool TakesReplaceSide(Notation notation);

// The tokens of a text of byte values, in order: "," ";" and " "
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

// The bytes a text stands for in its notation, or the error at the first part
// the notation refuses. Only a text loaded from an argument file can hold a
// byte that is no part of a UTF-8 character.
BytesResult ToByteSequence(const QString &text, Notation notation);

// The bytes written in the notation's canonical form ("65 66 7 " in Decimal),
// with the notation's wildcard where anyByte (when given) flags one.
QString CanonicalText(QByteArrayView bytes, Notation notation, QByteArrayView anyByte = {});

// The text rewritten from one notation into another, in canonical form. Never
// fails: a text that is invalid in its notation, or whose bytes the target
// notation cannot write, gives the empty text. A switch to or from a pattern
// keeps the text as it is.
QString ConvertNotation(const QString &text, Notation fromNotation, Notation toNotation);
// Why a switch of a valid text to toNotation is refused: the target cannot
// write its bytes ("The value 'E9' at byte 4 is not valid UTF-8."); empty
// when the switch may convert.
QString ConversionRefusal(const QString &text, Notation fromNotation, Notation toNotation);

// The first part of a text that the notation refuses; nothing when the text
// is valid (texts without tokens always are).
std::optional<QString> FirstInvalidToken(const QString &text, Notation notation);
// Where that part stands in the text, for a field to select it.
InvalidPart InvalidPartOf(const QString &text, Notation notation);

// The message of a field that fails its check when the focus leaves it; label
// is "Find what" or "Replace with".
QString FieldMessage(const QString &label, const QString &token, Notation notation);
// The message of an argument side that fails its check, quoting the whole text.
QString ArgumentMessage(const QString &text, Notation notation);

// True when the text is valid in its notation; otherwise shows the argument
// message and returns false.
bool ValidateArgument(const QString &text, Notation notation, MessageSink &messages);

} // namespace perrox
