#include "arguments/codepage.h"
#include "arguments/notation.h"
#include "files/filesystem.h"
#include "support/testsupport.h"

#include <QTest>

using namespace perrox;
using namespace Qt::StringLiterals;

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
        QTest::newRow("separators only") << u", ;"_s << QStringList {} << QString() << QString();
        QTest::newRow("repeated and trailing separators") << u";65,66;;67 "_s << QStringList {u"65"_s, u"66"_s, u"67"_s} << QString() << QString();
        QTest::newRow("one token, no separator") << u"7"_s << QStringList {u"7"_s} << QString() << QString();
        QTest::newRow("tab stays in the token") << u"1 12\t3 4"_s << QStringList {u"1"_s, u"12\t3"_s, u"4"_s} << u"12\t3"_s << u"12\t3"_s;
        QTest::newRow("line breaks stay in the token") << u"0D\r\n0A,1"_s << QStringList {u"0D\r\n0A"_s, u"1"_s} << u"0D\r\n0A"_s << u"0D\r\n0A"_s;
        QTest::newRow("no-break space is no separator") << u"1\u00a02"_s << QStringList {u"1\u00a02"_s} << u"1\u00a02"_s << u"1\u00a02"_s;
        QTest::newRow("leading zeros") << u"007 000"_s << QStringList {u"007"_s, u"000"_s} << QString() << u"007"_s;
        QTest::newRow("first of several invalid tokens") << u"1 300 G 400"_s << QStringList {u"1"_s, u"300"_s, u"G"_s, u"400"_s} << u"300"_s << u"300"_s;
        QTest::newRow("hex digits of either case") << u"ff,0A;b"_s << QStringList {u"ff"_s, u"0A"_s, u"b"_s} << u"ff"_s << QString();
        QTest::newRow("each notation refuses another token") << u"255 FF 1,"_s << QStringList {u"255"_s, u"FF"_s, u"1"_s} << u"FF"_s << u"255"_s;
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
            const QString error = invalid.isEmpty() ? QString()
                : notation == Decimal               ? u"The decimal value '%1' is not beetwen '0' and '255'."_s.arg(invalid)
                                                    : u"The hexadecimal value '%1' is not beetwen '00' and 'FF'."_s.arg(invalid);
            QByteArray bytes;
            for (qsizetype i = 0; invalid.isEmpty() && i < tokens.size(); ++i)
                bytes.append(char(tokens.at(i).toUInt(nullptr, notation == Decimal ? 10 : 16)));
            QCOMPARE(FirstInvalidToken(text, notation), invalid.isEmpty() ? std::nullopt : std::optional<QString>(invalid));
            const BytesResult result = ToByteSequence(text, notation);
            const CharactersResult chars = notation == Decimal ? DecimalToCharacters(text) : HexToCharacters(text);
            QCOMPARE(std::tuple(result.bytes, result.error, CharactersToBytes(chars.text), chars.error), std::tuple(bytes, error, bytes, error));
        }
    }

    void values_data()
    {
        QTest::addColumn<QString>("token");
        QTest::addColumn<bool>("decimal");
        QTest::addColumn<bool>("hex");
        const QStringList decimal {u"0"_s, u"00"_s, u"000"_s, u"007"_s, u"100"_s, u"255"_s}, hex {u"0"_s, u"00"_s, u"F"_s, u"0f"_s, u"fF"_s};
        QStringList all = decimal + hex
            + QStringList {u"256"_s, u"1000"_s, u"0255"_s, u"6x"_s, u"+5"_s, u"-1"_s, u"5."_s, u"12\t3"_s, u"\u0663"_s, QString(), u"G1"_s, u"0x"_s, u"F0F"_s};
        all.removeDuplicates();
        for (const QString &token : all)
            QTest::newRow(qPrintable(u'"' + token + u'"')) << token << decimal.contains(token) << hex.contains(token);
    }
    void values()
    {
        QFETCH(QString, token);
        QFETCH(bool, decimal);
        QFETCH(bool, hex);
        QCOMPARE(IsDecimalValue(token), decimal);
        QCOMPARE(IsHexValue(token), hex);
    }

    void convertNotation_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<int>("from");
        QTest::addColumn<int>("to");
        QTest::addColumn<QString>("result");
        QTest::newRow("AB to decimal") << u"AB"_s << int(Characters) << int(Decimal) << u"65 66 "_s;
        QTest::newRow("AB to hex") << u"AB"_s << int(Characters) << int(Hexadecimal) << u"41 42 "_s;
        QTest::newRow("decimal to itself is canonical") << u"65,66;67"_s << int(Decimal) << int(Decimal) << u"65 66 67 "_s;
        QTest::newRow("decimal 7 keeps no zeros") << u"007"_s << int(Decimal) << int(Decimal) << u"7 "_s;
        QTest::newRow("invalid decimal gives empty") << u"300"_s << int(Decimal) << int(Characters) << QString();
        QTest::newRow("invalid hex gives empty") << u"G"_s << int(Hexadecimal) << int(Decimal) << QString();
        QTest::newRow("control characters and zero") << u"0 9 13"_s << int(Decimal) << int(Characters) << u"\0\t\r"_s;
        QTest::newRow("separators only to characters") << u" , "_s << int(Hexadecimal) << int(Characters) << QString();
        QTest::newRow("characters stay as they are") << u"a\u20ac\0"_s << int(Characters) << int(Characters) << u"a\u20ac\0"_s;
        // Never a "?": a character Windows-1252 lacks makes the text invalid.
        QTest::newRow("character outside the code page") << u"\u4e2d"_s << int(Characters) << int(Hexadecimal) << QString();
        QTest::newRow("emoji outside the code page") << u"a\U0001F600"_s << int(Characters) << int(Characters) << QString();
        // UTF-8 to and from the other three, valid and invalid.
        QTest::newRow("utf8 to hex") << u"caf\u00e9 \u0416\U0001F600"_s << int(Utf8) << int(Hexadecimal) << u"63 61 66 C3 A9 20 D0 96 F0 9F 98 80 "_s;
        QTest::newRow("utf8 to decimal") << u"\u00e9"_s << int(Utf8) << int(Decimal) << u"195 169 "_s;
        QTest::newRow("utf8 to characters, byte for byte") << u"\u00e9\u20ac"_s << int(Utf8) << int(Characters) << u"\u00c3\u00a9\u00e2\u201a\u00ac"_s;
        QTest::newRow("utf8 stays as typed, controls too") << u"a\tb\r\n\0"_s << int(Utf8) << int(Utf8) << u"a\tb\r\n\0"_s;
        QTest::newRow("hex to utf8") << u"63 61 66 C3 A9"_s << int(Hexadecimal) << int(Utf8) << u"caf\u00e9"_s;
        QTest::newRow("hex of four bytes to utf8") << u"F0 9F 98 80"_s << int(Hexadecimal) << int(Utf8) << u"\U0001F600"_s;
        QTest::newRow("decimal to utf8") << u"208 150"_s << int(Decimal) << int(Utf8) << u"\u0416"_s;
        QTest::newRow("characters to utf8") << u"\u00c3\u00a9"_s << int(Characters) << int(Utf8) << u"\u00e9"_s;
        QTest::newRow("windows-1252 e acute is no utf8") << u"caf\u00e9"_s << int(Characters) << int(Utf8) << QString();
        // Every kind of malformed UTF-8 is in the table of FirstInvalidUtf8; the conversion refuses through it.
        QTest::newRow("lone continuation byte") << u"80"_s << int(Hexadecimal) << int(Utf8) << QString();
        QTest::newRow("a byte kept from an argument file") << DecodeNativePath("a\xe9") << int(Utf8) << int(Hexadecimal) << QString();
        QTest::newRow("euro sign to hex") << u"\u20ac"_s << int(Characters) << int(Hexadecimal) << u"80 "_s;
        QTest::newRow("every decimal width") << u"00 09 0a 63 64 FF"_s << int(Hexadecimal) << int(Decimal) << u"0 9 10 99 100 255 "_s;
        QTest::newRow("hex padded to two digits") << u"0,10 255"_s << int(Decimal) << int(Hexadecimal) << u"00 0A FF "_s;
    }
    void convertNotation()
    {
        QFETCH(QString, text);
        QFETCH(int, from);
        QFETCH(int, to);
        QFETCH(QString, result);
        QCOMPARE(ConvertNotation(text, qint16(from), qint16(to)), result);
    }

    // Where the bytes stop being UTF-8 is what the refusal of a switch names; -1 where they all are.
    void firstInvalidUtf8_data()
    {
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<int>("at");
        QTest::newRow("empty") << QByteArray() << -1;
        QTest::newRow("ASCII and every length") << QByteArray("a\xc3\xa9\xe2\x82\xac\xf0\x9f\x98\x80") << -1;
        QTest::newRow("the highest code point") << QByteArray("\xf4\x8f\xbf\xbf") << -1;
        QTest::newRow("U+FFFF is well formed") << QByteArray("\xef\xbf\xbf") << -1;
        QTest::newRow("lone continuation") << QByteArray("ab\x80") << 2;
        QTest::newRow("truncated at the end") << QByteArray("ab\xe2\x82") << 2;
        QTest::newRow("a lead without its continuation") << QByteArray("\xc3"
                                                                       "A")
                                                         << 0;
        QTest::newRow("overlong two bytes") << QByteArray("x\xc1\xbf") << 1;
        QTest::newRow("overlong four bytes") << QByteArray("\xf0\x8f\xbf\xbf") << 0;
        QTest::newRow("surrogate") << QByteArray("\xed\xbf\xbf") << 0;
        QTest::newRow("ED 9F is fine") << QByteArray("\xed\x9f\xbf") << -1;
        QTest::newRow("beyond U+10FFFF") << QByteArray("\xf4\x90\x80\x80") << 0;
        QTest::newRow("overlong three bytes") << QByteArray("\xe0\x80\xaf") << 0;
        QTest::newRow("F5 never leads") << QByteArray("a\xf5\x80\x80\x80") << 1;
        QTest::newRow("FF") << QByteArray("\xc3\xa9\xff") << 2;
        QTest::newRow("third byte bad") << QByteArray("\xe2\x82\x41") << 0;
    }
    void firstInvalidUtf8()
    {
        QFETCH(QByteArray, bytes);
        QFETCH(int, at);
        QCOMPARE(FirstInvalidUtf8(bytes), qsizetype(at));
        QCOMPARE(QUtf8StringView(bytes).isValidUtf8(), at < 0);
    }

    void utf8()
    {
        QCOMPARE(ToByteSequence(u"caf\u00e9"_s, Utf8).bytes, QByteArray("caf\xc3\xa9"));
        // A switch to UTF-8 is refused for bytes that are not UTF-8, naming the first of them.
        QCOMPARE(ConversionRefusal(u"41 42 E9 43"_s, Hexadecimal, Utf8), u"The value 'E9' at byte 3 is not valid UTF-8."_s);
        QCOMPARE(ConversionRefusal(u"caf\u00e9"_s, Characters, Utf8), u"The value 'E9' at byte 4 is not valid UTF-8."_s);
        QCOMPARE(ConversionRefusal(u"41 C3 A9"_s, Hexadecimal, Utf8), QString());
        QCOMPARE(ConversionRefusal(u"\u00e9"_s, Utf8, Hexadecimal), QString());
        // A byte that is not UTF-8 (from an argument file) fails the checks, named by its value.
        const QString loaded = DecodeNativePath("ab\xe9");
        QCOMPARE(FirstInvalidToken(loaded, Utf8), std::optional<QString>(QString(QChar(0xDCE9))));
        QCOMPARE(ToByteSequence(loaded, Utf8).error, u"The value 'E9' at byte 3 is not valid UTF-8."_s);
        QCOMPARE(FieldMessage(u"Find what"_s, QString(QChar(0xDCE9)), Utf8),
            u"An invalid value found in the 'Find what' field: E9\r\n\r\nA UTF-8 text holds whole characters only; choose the Hex notation for single bytes."_s);
        QCOMPARE(FirstInvalidToken(u"any \u0416\U0001F600 text"_s, Utf8), std::nullopt);
        QCOMPARE(std::tuple(TypeCode(Utf8), OptionCaption(Utf8), NotationFromTypeCode(u"Utf"_s), KnownNotation(3), KnownNotation(4)),
            std::tuple(u"Utf"_s, u"UTF-8"_s, std::optional<qint16>(Utf8), qint16(Utf8), qint16(Characters)));
        QCOMPARE(CanonicalText(QByteArray("\xd0\x96\xff"), Utf8), DecodeNativePath("\xd0\x96\xff"));
    }

    void everyByteRoundTrips()
    {
        QByteArray all;
        for (int i = 0; i < 256; ++i)
            all.append(char(i));
        const QString chars = BytesToCharacters(all);
        QCOMPARE(chars.size(), 256);
        QCOMPARE(CharactersToBytes(chars), all);
        // The unassigned bytes stand for the characters of the same code.
        for (int b : {0x81, 0x8D, 0x8F, 0x90, 0x9D})
            QCOMPARE(chars.at(b).unicode(), char16_t(b));
        QCOMPARE(chars.at(0x80), QChar(0x20AC));
        // Through both notations and back.
        const QString hex = CanonicalText(all, Hexadecimal);
        QVERIFY(hex.startsWith(u"00 01 02 "_s) && hex.endsWith(u"FE FF "_s));
        QCOMPARE(ToByteSequence(ConvertNotation(hex, Hexadecimal, Decimal), Decimal).bytes, all);
        QCOMPARE(ConvertNotation(ConvertNotation(hex, Hexadecimal, Characters), Characters, Hexadecimal), hex);
    }

    void characters()
    {
        // One byte per character; the code lost for any other notation.
        QCOMPARE(ToByteSequence(u"A\u20ac\u00e9\0"_s, Characters).bytes, QByteArray("A\x80\xe9\0", 4));
        QCOMPARE(std::pair(ToByteSequence(u"41"_s, 7).bytes, ToByteSequence(u"41"_s, 7).error), std::pair(QByteArray(), QString()));
        // One "?" per code point, also for a surrogate pair and a lone surrogate.
        QCOMPARE(CharactersToBytes(u"a\u4e2d\U0001F600b"_s), QByteArray("a??b"));
        QCOMPARE(CharactersToBytes(QString(QChar(0xD800))), QByteArray("?"));
        // A real U+001A is a byte of the code page, not a substitute.
        QCOMPARE(CharactersToBytes(u"\x1a"_s), QByteArray("\x1a"));
        // U+0080 and U+0099 have no byte (80 and 99 hex are the euro and trade mark signs).
        QCOMPARE(CharactersToBytes(u"\u0080\u0099\u2122"_s), QByteArray("??\x99"));
        QCOMPARE(FirstInvalidToken(u"anything at all"_s, Characters), std::nullopt);
        // A character Windows-1252 lacks is refused whole, never turned into "?".
        QCOMPARE(FirstInvalidToken(u"ab\U0001F600\u4e2d"_s, Characters), std::optional<QString>(u"\U0001F600"_s));
        QCOMPARE(FirstInvalidToken(u"\u0080"_s, Characters), std::optional<QString>(u"\u0080"_s));
        QCOMPARE(ToByteSequence(u"x\u0416"_s, Characters).error, u"The character '\u0416' is not one of Windows-1252."_s);
        QCOMPARE(FieldMessage(u"Replace with"_s, u"\u0416"_s, Characters),
            u"An invalid value found in the 'Replace with' field: \u0416\r\n\r\nCharacters are the 256 characters of Windows-1252; choose the UTF-8 notation for any other character."_s);
        QCOMPARE(ArgumentMessage(u"\u2192"_s, Characters),
            u"An invalid value found in the characters '\u2192' argument.\r\n\r\nCharacters are the 256 characters of Windows-1252; choose the UTF-8 notation for any other character."_s);
    }

    void messages()
    {
        QCOMPARE(FieldMessage(u"Find what"_s, u"300"_s, Decimal),
            u"An invalid value found in the 'Find what' field: 300\r\n\r\nValid decimal values are between '0' and '255'."_s);
        QCOMPARE(FieldMessage(u"Replace with"_s, u"G"_s, Hexadecimal),
            u"An invalid value found in the 'Replace with' field: G\r\n\r\nValid hexadecimal values are between '00' and 'FF'."_s);
        QCOMPARE(ArgumentMessage(u"4G"_s, Hexadecimal),
            u"An invalid value found in the hexadecimal '4G' argument.\r\n\r\nValid hexadecimal values are between '00' and 'FF'."_s);
        test::RecordingSink sink;
        QVERIFY(ValidateArgument(u"x y"_s, Characters, sink) && ValidateArgument(QString(), Decimal, sink) && ValidateArgument(u" ,; "_s, Hexadecimal, sink));
        QVERIFY(sink.shown.isEmpty() && !ValidateArgument(u"1,2,999"_s, Decimal, sink));
        QCOMPARE(
            sink.texts(), QStringList {u"An invalid value found in the decimal '1,2,999' argument.\r\n\r\nValid decimal values are between '0' and '255'."_s});
        QVERIFY(sink.shown.at(0).title == u"Perrox"_s && sink.shown.at(0).icon == MessageSink::Icon::Exclamation);
        QCOMPARE(sink.shown.at(0).buttons, MessageSink::Buttons::Ok);
    }

    void typeCodes()
    {
        // Codes are compared exactly: another spelling names no notation.
        QCOMPARE(NotationFromTypeCode(u"Hex"_s), std::optional<qint16>(Hexadecimal));
        QCOMPARE(NotationFromTypeCode(u"hex"_s), std::nullopt);
        QCOMPARE(TypeCode(NotationFromTypeCode(u"Dec"_s).value()), u"Dec"_s);
        QVERIFY(!IsCharInSet(QString(), u"abc"_s));
    }
};

QTEST_APPLESS_MAIN(TestNotation)
#include "tst_notation.moc"
