#include "arguments/codepage.h"
#include "arguments/notation.h"
#include "files/filesystem.h"
#include "support/testsupport.h"

#include <QTest>

using namespace perrox;
using namespace Qt::StringLiterals;
using enum Notation;

// What a notation makes of a valid text, of the bytes D0 96 FF, and of a text it refuses.
struct NotationCase
{
    QString valid;
    QByteArray bytes; // of the valid text
    QString canonical; // of D0 96 FF
    QString invalid, part, shown, name, bytesError, advice;
};

class TestNotation : public QObject
{
    Q_OBJECT

private slots:
    // The tokens are those of the plain split (separators turned into blanks, empty pieces dropped); the first token a
    // notation refuses (empty: none) is the one every check and message quotes.
    void tokens_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QStringList>("tokens");
        QTest::addColumn<QString>("invalidDecimal");
        QTest::addColumn<QString>("invalidHex");
        QTest::newRow("empty text") << QString() << QStringList {} << QString() << QString();
        QTest::newRow("tab stays in the token") << u"1 12\t3 4"_s << QStringList {u"1"_s, u"12\t3"_s, u"4"_s} << u"12\t3"_s << u"12\t3"_s;
        QTest::newRow("leading zeros") << u"007 000"_s << QStringList {u"007"_s, u"000"_s} << QString() << u"007"_s;
        QTest::newRow("first of several invalid tokens") << u"1 300 G 400"_s << QStringList {u"1"_s, u"300"_s, u"G"_s, u"400"_s} << u"300"_s << u"300"_s;
        QTest::newRow("hex digits of either case") << u"ff,0A;b"_s << QStringList {u"ff"_s, u"0A"_s, u"b"_s} << u"ff"_s << QString();
        QTest::newRow("each notation refuses another token") << u"255 FF 1,"_s << QStringList {u"255"_s, u"FF"_s, u"1"_s} << u"FF"_s << u"255"_s;
        // Single tokens: the values of each notation, and tokens neither takes.
        const QStringList decimal {u"0"_s, u"00"_s, u"000"_s, u"007"_s, u"100"_s, u"255"_s}, hex {u"0"_s, u"00"_s, u"F"_s, u"0f"_s, u"fF"_s};
        QStringList all = decimal + hex
            + QStringList {u"256"_s, u"1000"_s, u"0255"_s, u"6x"_s, u"+5"_s, u"-1"_s, u"5."_s, u"12\t3"_s, u"\u0663"_s, u"G1"_s, u"0x"_s, u"F0F"_s};
        all.removeDuplicates();
        for (const QString &t : all)
            QTest::newRow(qPrintable(u'"' + t + u'"')) << t << QStringList {t} << (decimal.contains(t) ? QString() : t) << (hex.contains(t) ? QString() : t);
    }
    void tokens()
    {
        QFETCH(QString, text);
        QFETCH(QStringList, tokens);
        QFETCH(QString, invalidDecimal);
        QFETCH(QString, invalidHex);
        QStringList walked;
        TokenWalker walker(text);
        while (const std::optional<QStringView> token = walker.next())
            walked.append(token->toString());
        QVERIFY(!walker.next()); // stays at the end
        QCOMPARE(walked, tokens);
        QCOMPARE(walked, QString(text).replace(u',', u' ').replace(u';', u' ').split(u' ', Qt::SkipEmptyParts));
        for (const Notation notation : {Decimal, Hexadecimal}) {
            const QString invalid = notation == Decimal ? invalidDecimal : invalidHex;
            QByteArray bytes;
            for (qsizetype i = 0; invalid.isEmpty() && i < tokens.size(); ++i)
                bytes.append(char(tokens.at(i).toUInt(nullptr, notation == Decimal ? 10 : 16)));
            QCOMPARE(FirstInvalidToken(text, notation), invalid.isEmpty() ? std::nullopt : std::optional<QString>(invalid));
            const BytesResult result = ToByteSequence(text, notation);
            QCOMPARE(result.bytes, bytes);
            QCOMPARE(result.error, invalid.isEmpty() ? QString() : ToByteSequence(invalid, notation).error); // quoting the first invalid token
        }
    }

    // A switch converts through the bytes; it is refused (with the refusal's text) where the target cannot write them.
    void convertNotation_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<Notation>("from");
        QTest::addColumn<Notation>("to");
        QTest::addColumn<QString>("result");
        QTest::addColumn<QString>("refusal");
        const auto row = [](const char *name, const QString &text, Notation from, Notation to, const QString &result, const QString &refusal = {}) {
            QTest::newRow(name) << text << from << to << result << refusal;
        };
        row("AB to hex", u"AB"_s, Characters, Hexadecimal, u"41 42 "_s);
        row("invalid decimal gives empty", u"300"_s, Decimal, Characters, QString());
        row("invalid hex gives empty", u"G"_s, Hexadecimal, Decimal, QString());
        // Never a "?": a character Windows-1252 lacks makes the text invalid.
        row("character outside the code page", u"\u4e2d"_s, Characters, Hexadecimal, QString());
        // UTF-8 to and from the other notations, valid and invalid.
        row("utf8 to hex", u"caf\u00e9 \u0416\U0001F600"_s, Utf8, Hexadecimal, u"63 61 66 C3 A9 20 D0 96 F0 9F 98 80 "_s);
        row("utf8 stays as typed, controls too", u"a\tb\r\n\0"_s, Utf8, Utf8, u"a\tb\r\n\0"_s);
        row("hex to utf8", u"63 61 66 C3 A9"_s, Hexadecimal, Utf8, u"caf\u00e9"_s);
        row("windows-1252 e acute is no utf8", u"caf\u00e9"_s, Characters, Utf8, QString(), u"The value 'E9' at byte 4 is not valid UTF-8."_s);
        row("a byte kept from an argument file", DecodeNativePath("a\xe9"), Utf8, Hexadecimal, QString());
        // The first byte that is no UTF-8, at the edges of what UTF-8 allows.
        const QString notUtf8 = u"The value '%1' at byte %2 is not valid UTF-8."_s;
        row("the highest code point", u"F4 8F BF BF"_s, Hexadecimal, Utf8, u"\U0010FFFF"_s);
        row("beyond U+10FFFF", u"F4 90 80 80"_s, Hexadecimal, Utf8, QString(), notUtf8.arg(u"F4"_s).arg(1));
        row("ED 9F is fine", u"ED 9F BF"_s, Hexadecimal, Utf8, u"\uD7FF"_s);
        row("surrogate", u"61 ED BF BF"_s, Hexadecimal, Utf8, QString(), notUtf8.arg(u"ED"_s).arg(2));
        row("overlong three bytes", u"E0 80 AF"_s, Hexadecimal, Utf8, QString(), notUtf8.arg(u"E0"_s).arg(1));
        row("overlong four bytes", u"F0 8F BF BF"_s, Hexadecimal, Utf8, QString(), notUtf8.arg(u"F0"_s).arg(1));
        row("F5 never leads", u"61 F5 80 80 80"_s, Hexadecimal, Utf8, QString(), notUtf8.arg(u"F5"_s).arg(2));
        row("truncated at the end", u"61 62 E2 82"_s, Hexadecimal, Utf8, QString(), notUtf8.arg(u"E2"_s).arg(3));
        row("every decimal width", u"00 09 0a 63 64 FF"_s, Hexadecimal, Decimal, u"0 9 10 99 100 255 "_s);
        // A wildcard is a token of the byte values; only they can write it.
        row("hex wildcards to decimal", u"48 ?? 90,??"_s, Hexadecimal, Decimal, u"72 ? 144 ? "_s);
        row("decimal wildcard to hex", u"?;0"_s, Decimal, Hexadecimal, u"?? 00 "_s);
        row("a wildcard is no character", u"41 ?? 42"_s, Hexadecimal, Utf8, QString(),
            u"The wildcard at byte 2 stands for any byte; only the Dec and Hex notations can write it."_s);
        row("one question mark is no hex", u"41 ?"_s, Hexadecimal, Decimal, QString());
        // A pattern is no byte sequence: a switch keeps the text, valid or not.
        row("bytes to a pattern as typed", u"41 ??"_s, Hexadecimal, Regex, u"41 ??"_s);
        row("a pattern to bytes as typed", u"a(b"_s, Regex, Characters, u"a(b"_s);
    }
    void convertNotation()
    {
        QFETCH(QString, text);
        QFETCH(Notation, from);
        QFETCH(Notation, to);
        QFETCH(QString, result);
        QFETCH(QString, refusal);
        QCOMPARE(ConvertNotation(text, from, to), result);
        QCOMPARE(ConversionRefusal(text, from, to), refusal);
    }

    // One row per notation: found by its code (exactly, case included) and by its stored number; a valid text and its bytes; the canonical text of D0
    // 96 FF; a text it refuses, with the part every check quotes (as the field's message shows it), its name in the argument's message and the advice
    // both messages end with. A byte that is not UTF-8 comes only from an argument file.
    void eachNotation_data()
    {
        const NotationCase cases[] = {
            {u"A\u20ac\u00e9\0"_s, QByteArray("A\x80\xe9\0", 4), u"\u00d0\u2013\u00ff"_s, u"a\U0001F600\u4e2d"_s, u"\U0001F600"_s, u"\U0001F600"_s,
                u"characters"_s, u"The character '\U0001F600' is not one of Windows-1252."_s,
                u"Characters are the 256 characters of Windows-1252; choose the UTF-8 notation for any other character."_s},
            {QString(), QByteArray(), u"208 150 255 "_s, u"1,300,999"_s, u"300"_s, u"300"_s, u"decimal"_s,
                u"The decimal value '300' is not beetwen '0' and '255'."_s, u"Valid decimal values are between '0' and '255'."_s},
            {u" ,; "_s, QByteArray(), u"D0 96 FF "_s, u"4 G"_s, u"G"_s, u"G"_s, u"hexadecimal"_s, u"The hexadecimal value 'G' is not beetwen '00' and 'FF'."_s,
                u"Valid hexadecimal values are between '00' and 'FF'."_s},
            {u"caf\u00e9 \u0416\U0001F600"_s, QByteArray("caf\xc3\xa9 \xd0\x96\xf0\x9f\x98\x80"), DecodeNativePath("\xd0\x96\xff"), DecodeNativePath("ab\xe9"),
                QString(QChar(0xDCE9)), u"E9"_s, u"UTF-8"_s, u"The value 'E9' at byte 3 is not valid UTF-8."_s,
                u"A UTF-8 text holds whole characters only; choose the Hex notation for single bytes."_s},
            // A pattern is kept as the bytes of its text; PCRE2 says what is wrong, counting characters from 1.
            {u"\u00e9(t|ts)\\x00"_s, QByteArray("\xc3\xa9(t|ts)\\x00"), DecodeNativePath("\xd0\x96\xff"), u"\u00e9(a|b"_s,
                u"missing closing parenthesis at character 6"_s, u"missing closing parenthesis at character 6"_s, u"regular expression"_s, QString(),
                u"A regular expression is matched against the bytes of the files; the help says what it may hold."_s},
        };
        static_assert(std::size(cases) == kNotationCount);
        QTest::addColumn<Notation>("notation");
        QTest::addColumn<NotationCase>("c");
        for (const NotationInfo &n : kNotations)
            QTest::newRow(qPrintable(QString(n.code))) << n.notation << cases[Index(n.notation)];
    }
    void eachNotation()
    {
        QFETCH(Notation, notation);
        QFETCH(NotationCase, c);
        const NotationInfo &n = Info(notation);
        QCOMPARE(NotationFromCode(n.code), std::optional(notation));
        QCOMPARE(NotationFromCode(QString(n.code).toLower()), std::nullopt);
        QCOMPARE(NotationFromNumber(n.number), std::optional(notation));
        test::RecordingSink sink;
        QCOMPARE(FirstInvalidToken(c.valid, notation), std::nullopt);
        QCOMPARE(ToByteSequence(c.valid, notation).bytes, c.bytes);
        QVERIFY(ValidateArgument(c.valid, notation, sink));
        QCOMPARE(sink.shown.size(), 0);
        QCOMPARE(CanonicalText(QByteArray("\xd0\x96\xff"), notation), c.canonical);
        QCOMPARE(FirstInvalidToken(c.invalid, notation), std::optional(c.part));
        QCOMPARE(ToByteSequence(c.invalid, notation).error, c.bytesError);
        for (const QString &label : {u"Find what"_s, u"Replace with"_s})
            QCOMPARE(FieldMessage(label, c.part, notation), u"An invalid value found in the '%1' field: %2\r\n\r\n%3"_s.arg(label, c.shown, c.advice));
        QVERIFY(!ValidateArgument(c.invalid, notation, sink));
        const QString what = n.pattern ? u": "_s + c.part + u'.' : u"."_s;
        QCOMPARE(sink.texts(), QStringList {u"An invalid value found in the %1 '%2' argument%3\r\n\r\n%4"_s.arg(c.name, c.invalid, what, c.advice)});
        QCOMPARE(sink.shown.at(0).title, u"Perrox"_s);
        QCOMPARE(sink.shown.at(0).icon, MessageSink::Icon::Exclamation);
        QCOMPARE(sink.shown.at(0).buttons, MessageSink::Buttons::Ok);
    }

    // Every byte is one character; the unassigned bytes stand for the characters of the same code.
    void codePage()
    {
        QByteArray all;
        for (int i = 0; i < 256; ++i)
            all.append(char(i));
        const QString chars = BytesToCharacters(all);
        QCOMPARE(chars.size(), 256);
        QCOMPARE(CharactersToBytes(chars), all);
        for (int b : {0x81, 0x8D, 0x8F, 0x90, 0x9D})
            QCOMPARE(chars.at(b).unicode(), char16_t(b));
        QCOMPARE(chars.at(0x80), QChar(0x20AC));
        // Through both notations and back.
        const QString hex = CanonicalText(all, Hexadecimal);
        QCOMPARE(hex.left(9), u"00 01 02 "_s);
        QCOMPARE(hex.right(6), u"FE FF "_s);
        QCOMPARE(ToByteSequence(ConvertNotation(hex, Hexadecimal, Decimal), Decimal).bytes, all);
        QCOMPARE(ConvertNotation(ConvertNotation(hex, Hexadecimal, Characters), Characters, Hexadecimal), hex);
        // One "?" per code point, also for a surrogate pair and a lone surrogate.
        QCOMPARE(CharactersToBytes(u"a\u4e2d\U0001F600b"_s), QByteArray("a??b"));
        QCOMPARE(CharactersToBytes(QString(QChar(0xD800))), QByteArray("?"));
        // A real U+001A is a byte of the code page, not a substitute.
        QCOMPARE(CharactersToBytes(u"\x1a"_s), QByteArray("\x1a"));
        // U+0080 and U+0099 have no byte (80 and 99 hex are the euro and trade mark signs).
        QCOMPARE(CharactersToBytes(u"\u0080\u0099\u2122"_s), QByteArray("??\x99"));
        QCOMPARE(FirstInvalidToken(u"\u0080"_s, Characters), std::optional<QString>(u"\u0080"_s));
    }
};

QTEST_APPLESS_MAIN(TestNotation)
#include "tst_notation.moc"
