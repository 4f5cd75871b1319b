#include "arguments/codepage.h"
#include "arguments/notation.h"
#include "support/testsupport.h"

#include <QTest>

using namespace perrox;
using namespace Qt::StringLiterals;

class TestNotation : public QObject
{
    Q_OBJECT

private slots:
    void tokens_data();
    void tokens();
    void decimalTokens_data();
    void decimalTokens();
    void hexTokens_data();
    void hexTokens();
    void toByteSequence_data();
    void toByteSequence();
    void convertNotation_data();
    void convertNotation();
    void everyByteRoundTrips();
    void charactersOutsideTheCodePage();
    void messages();
    void validateArgument();
    void typeCodes();
};

// Each row is walked as a token list and converted in both notations; the
// tokens must be those of the plain split (separators turned into blanks,
// empty pieces dropped), and the first token a notation refuses is the one
// every check and message quotes.
void TestNotation::tokens_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<QStringList>("tokens");
    QTest::addColumn<QString>("invalidDecimal"); // empty: valid
    QTest::addColumn<QString>("invalidHex");
    QTest::addRow("empty text") << QString() << QStringList {} << QString() << QString();
    QTest::addRow("separators only") << QStringLiteral(", ;") << QStringList {} << QString() << QString();
    QTest::addRow("repeated and trailing separators") << QStringLiteral(";65,66;;67 ") << QStringList {u"65"_s, u"66"_s, u"67"_s} << QString() << QString();
    QTest::addRow("one token, no separator") << QStringLiteral("7") << QStringList {u"7"_s} << QString() << QString();
    QTest::addRow("tab stays in the token") << QStringLiteral("1 12\t3 4") << QStringList {u"1"_s, u"12\t3"_s, u"4"_s} << QStringLiteral("12\t3")
                                            << QStringLiteral("12\t3");
    QTest::addRow("line breaks stay in the token") << QStringLiteral("0D\r\n0A,1") << QStringList {u"0D\r\n0A"_s, u"1"_s} << QStringLiteral("0D\r\n0A")
                                                   << QStringLiteral("0D\r\n0A");
    QTest::addRow("no-break space is no separator") << QStringLiteral("1\u00a02") << QStringList {u"1\u00a02"_s} << QStringLiteral("1\u00a02")
                                                    << QStringLiteral("1\u00a02");
    QTest::addRow("leading zeros") << QStringLiteral("007 000 0255") << QStringList {u"007"_s, u"000"_s, u"0255"_s} << QStringLiteral("0255")
                                   << QStringLiteral("007");
    QTest::addRow("first of several invalid tokens") << QStringLiteral("1 300 G 400") << QStringList {u"1"_s, u"300"_s, u"G"_s, u"400"_s}
                                                     << QStringLiteral("300") << QStringLiteral("300");
    QTest::addRow("hex digits of either case") << QStringLiteral("ff,0A;b") << QStringList {u"ff"_s, u"0A"_s, u"b"_s} << QStringLiteral("ff") << QString();
    QTest::addRow("each notation refuses another token")
        << QStringLiteral("255 FF 1,") << QStringList {u"255"_s, u"FF"_s, u"1"_s} << QStringLiteral("FF") << QStringLiteral("255");
}

void TestNotation::tokens()
{
    QFETCH(QString, text);
    QFETCH(QStringList, tokens);
    QFETCH(QString, invalidDecimal);
    QFETCH(QString, invalidHex);

    QStringList walked;
    TokenWalker walker(text);
    while (const std::optional<QStringView> token = walker.next())
        walked.append(token->toString());
    QCOMPARE(walked, tokens);
    QCOMPARE(walked, QString(text).replace(u',', u' ').replace(u';', u' ').split(u' ', Qt::SkipEmptyParts));
    QVERIFY(!walker.next()); // stays at the end

    const struct
    {
        Notation notation;
        QString invalid;
        QString error;
    } sides[] = {{Decimal, invalidDecimal, QStringLiteral("The decimal value '%1' is not beetwen '0' and '255'.")},
        {Hexadecimal, invalidHex, QStringLiteral("The hexadecimal value '%1' is not beetwen '00' and 'FF'.")}};
    for (const auto &side : sides) {
        const BytesResult bytes = ToByteSequence(text, side.notation);
        if (side.invalid.isEmpty()) {
            QCOMPARE(FirstInvalidToken(text, side.notation), std::nullopt);
            QCOMPARE(bytes.error, QString());
            QCOMPARE(bytes.bytes.size(), tokens.size());
            for (qsizetype i = 0; i < tokens.size(); ++i)
                QCOMPARE(uint(uchar(bytes.bytes.at(i))), tokens.at(i).toUInt(nullptr, side.notation == Decimal ? 10 : 16));
        } else {
            QCOMPARE(FirstInvalidToken(text, side.notation), std::optional<QString>(side.invalid));
            QCOMPARE(bytes.error, side.error.arg(side.invalid));
            QCOMPARE(bytes.bytes, QByteArray());
        }
    }
}

void TestNotation::decimalTokens_data()
{
    QTest::addColumn<QString>("token");
    QTest::addColumn<bool>("valid");
    QTest::addRow("0") << QStringLiteral("0") << true;
    QTest::addRow("255") << QStringLiteral("255") << true;
    QTest::addRow("leading zeros 007") << QStringLiteral("007") << true;
    QTest::addRow("000") << QStringLiteral("000") << true;
    QTest::addRow("256") << QStringLiteral("256") << false;
    QTest::addRow("1000, four characters") << QStringLiteral("1000") << false;
    QTest::addRow("0255, four characters") << QStringLiteral("0255") << false;
    QTest::addRow("6x") << QStringLiteral("6x") << false;
    QTest::addRow("sign") << QStringLiteral("+5") << false;
    QTest::addRow("negative") << QStringLiteral("-1") << false;
    QTest::addRow("decimal point") << QStringLiteral("5.") << false;
    QTest::addRow("tab inside") << QStringLiteral("12\t3") << false;
    QTest::addRow("non-ASCII digit") << QString(QChar(0x0663)) << false;
    QTest::addRow("empty") << QString() << false;
}

void TestNotation::decimalTokens()
{
    QFETCH(QString, token);
    QFETCH(bool, valid);
    QCOMPARE(IsDecimalValue(token), valid);
}

void TestNotation::hexTokens_data()
{
    QTest::addColumn<QString>("token");
    QTest::addColumn<bool>("valid");
    QTest::addRow("F") << QStringLiteral("F") << true;
    QTest::addRow("0f") << QStringLiteral("0f") << true;
    QTest::addRow("fF") << QStringLiteral("fF") << true;
    QTest::addRow("00") << QStringLiteral("00") << true;
    QTest::addRow("100, three digits") << QStringLiteral("100") << false;
    QTest::addRow("G1") << QStringLiteral("G1") << false;
    QTest::addRow("0x prefix") << QStringLiteral("0x") << false;
    QTest::addRow("F0F") << QStringLiteral("F0F") << false;
    QTest::addRow("empty") << QString() << false;
}

void TestNotation::hexTokens()
{
    QFETCH(QString, token);
    QFETCH(bool, valid);
    QCOMPARE(IsHexValue(token), valid);
}

void TestNotation::toByteSequence_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<int>("notation");
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<QString>("error");
    QTest::addRow("decimal with mixed separators") << QStringLiteral("65,66;;67 ") << int(Decimal) << QByteArray("ABC") << QString();
    QTest::addRow("decimal separators only") << QStringLiteral(", ;") << int(Decimal) << QByteArray() << QString();
    QTest::addRow("decimal leading zeros") << QStringLiteral("007 000") << int(Decimal) << QByteArray("\x07\x00", 2) << QString();
    QTest::addRow("decimal 256") << QStringLiteral("1 256 2") << int(Decimal) << QByteArray()
                                 << QStringLiteral("The decimal value '256' is not beetwen '0' and '255'.");
    QTest::addRow("decimal token 6x") << QStringLiteral("2 5 6x") << int(Decimal) << QByteArray()
                                      << QStringLiteral("The decimal value '6x' is not beetwen '0' and '255'.");
    QTest::addRow("hex either case") << QStringLiteral("0a 0D ff") << int(Hexadecimal) << QByteArray("\n\r\xff") << QString();
    QTest::addRow("hex F0F") << QStringLiteral("F F F0F") << int(Hexadecimal) << QByteArray()
                             << QStringLiteral("The hexadecimal value 'F0F' is not beetwen '00' and 'FF'.");
    QTest::addRow("characters one byte each") << QStringLiteral("A\u20ac\u00e9") << int(Characters) << QByteArray("A\x80\xe9") << QString();
    QTest::addRow("characters keep NUL") << QString(QChar(0)) << int(Characters) << QByteArray(1, '\0') << QString();
    QTest::addRow("unknown notation") << QStringLiteral("41") << 7 << QByteArray() << QString();
}

void TestNotation::toByteSequence()
{
    QFETCH(QString, text);
    QFETCH(int, notation);
    QFETCH(QByteArray, bytes);
    QFETCH(QString, error);
    const BytesResult result = ToByteSequence(text, qint16(notation));
    QCOMPARE(result.bytes, bytes);
    QCOMPARE(result.error, error);
    if (notation == Decimal) {
        const CharactersResult chars = DecimalToCharacters(text);
        QCOMPARE(chars.error, error);
        QCOMPARE(CharactersToBytes(chars.text), bytes);
    } else if (notation == Hexadecimal) {
        const CharactersResult chars = HexToCharacters(text);
        QCOMPARE(chars.error, error);
        QCOMPARE(CharactersToBytes(chars.text), bytes);
    }
}

void TestNotation::convertNotation_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<int>("from");
    QTest::addColumn<int>("to");
    QTest::addColumn<QString>("result");
    QTest::addRow("AB to decimal") << QStringLiteral("AB") << int(Characters) << int(Decimal) << QStringLiteral("65 66 ");
    QTest::addRow("AB to hex") << QStringLiteral("AB") << int(Characters) << int(Hexadecimal) << QStringLiteral("41 42 ");
    QTest::addRow("decimal 10,13 to hex") << QStringLiteral("10,13") << int(Decimal) << int(Hexadecimal) << QStringLiteral("0A 0D ");
    QTest::addRow("hex 0a 0D to decimal") << QStringLiteral("0a 0D") << int(Hexadecimal) << int(Decimal) << QStringLiteral("10 13 ");
    QTest::addRow("decimal to itself is canonical") << QStringLiteral("65,66;67") << int(Decimal) << int(Decimal) << QStringLiteral("65 66 67 ");
    QTest::addRow("decimal 7 keeps no zeros") << QStringLiteral("007") << int(Decimal) << int(Decimal) << QStringLiteral("7 ");
    QTest::addRow("invalid decimal gives empty") << QStringLiteral("300") << int(Decimal) << int(Characters) << QString();
    QTest::addRow("invalid hex gives empty") << QStringLiteral("G") << int(Hexadecimal) << int(Decimal) << QString();
    QTest::addRow("control characters and zero") << QStringLiteral("0 9 13") << int(Decimal) << int(Characters) << QString(QChar(0)) + QChar(9) + QChar(13);
    QTest::addRow("separators only to characters") << QStringLiteral(" , ") << int(Hexadecimal) << int(Characters) << QString();
    QTest::addRow("characters stay as they are") << QStringLiteral("a\U0001F600") << int(Characters) << int(Characters) << QStringLiteral("a\U0001F600");
    QTest::addRow("character outside the code page") << QStringLiteral("\u4e2d") << int(Characters) << int(Hexadecimal) << QStringLiteral("3F ");
    QTest::addRow("euro sign to hex") << QStringLiteral("\u20ac") << int(Characters) << int(Hexadecimal) << QStringLiteral("80 ");
    QTest::addRow("every decimal width") << QStringLiteral("00 09 0A 63 64 FF") << int(Hexadecimal) << int(Decimal) << QStringLiteral("0 9 10 99 100 255 ");
    QTest::addRow("hex padded to two digits") << QStringLiteral("0 10 255") << int(Decimal) << int(Hexadecimal) << QStringLiteral("00 0A FF ");
}

void TestNotation::convertNotation()
{
    QFETCH(QString, text);
    QFETCH(int, from);
    QFETCH(int, to);
    QFETCH(QString, result);
    QCOMPARE(ConvertNotation(text, qint16(from), qint16(to)), result);
}

void TestNotation::everyByteRoundTrips()
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
    const QString dec = ConvertNotation(hex, Hexadecimal, Decimal);
    QCOMPARE(ToByteSequence(dec, Decimal).bytes, all);
    QCOMPARE(ConvertNotation(ConvertNotation(hex, Hexadecimal, Characters), Characters, Hexadecimal), hex);
    QVERIFY(hex.startsWith(QLatin1String("00 01 02 ")));
    QVERIFY(hex.endsWith(QLatin1String("FE FF ")));
}

void TestNotation::charactersOutsideTheCodePage()
{
    // One "?" per code point, also for a surrogate pair and a lone surrogate.
    QCOMPARE(CharactersToBytes(QStringLiteral("a\u4e2d\U0001F600b")), QByteArray("a??b"));
    QCOMPARE(CharactersToBytes(QString(QChar(0xD800))), QByteArray("?"));
    // A real U+001A is a byte of the code page, not a substitute.
    QCOMPARE(CharactersToBytes(QString(QChar(0x1A))), QByteArray("\x1a"));
    // U+0080 and U+0099 have no byte (80 and 99 hex are the euro and trade mark signs).
    QCOMPARE(CharactersToBytes(QStringLiteral("\u0080\u0099\u2122")), QByteArray("??\x99"));
}

void TestNotation::messages()
{
    QCOMPARE(FieldMessage(QStringLiteral("Find what"), QStringLiteral("300"), Decimal),
        QStringLiteral("An invalid value found in the 'Find what' field: 300\r\n\r\nValid decimal values are between '0' and '255'."));
    QCOMPARE(FieldMessage(QStringLiteral("Replace with"), QStringLiteral("G"), Hexadecimal),
        QStringLiteral("An invalid value found in the 'Replace with' field: G\r\n\r\nValid hexadecimal values are between '00' and 'FF'."));
    QCOMPARE(ArgumentMessage(QStringLiteral("1,2,999"), Decimal),
        QStringLiteral("An invalid value found in the decimal '1,2,999' argument.\r\n\r\nValid decimal values are between '0' and '255'."));
    QCOMPARE(ArgumentMessage(QStringLiteral("4G"), Hexadecimal),
        QStringLiteral("An invalid value found in the hexadecimal '4G' argument.\r\n\r\nValid hexadecimal values are between '00' and 'FF'."));
    QCOMPARE(FirstInvalidToken(QStringLiteral("anything at all"), Characters), std::nullopt);
}

void TestNotation::validateArgument()
{
    test::RecordingSink sink;
    QVERIFY(ValidateArgument(QStringLiteral("x y"), Characters, sink));
    QVERIFY(ValidateArgument(QString(), Decimal, sink));
    QVERIFY(ValidateArgument(QStringLiteral(" ,; "), Hexadecimal, sink));
    QVERIFY(sink.shown.isEmpty());
    QVERIFY(!ValidateArgument(QStringLiteral("1,2,999"), Decimal, sink));
    QCOMPARE(sink.shown.size(), 1);
    QCOMPARE(sink.shown.at(0).text, ArgumentMessage(QStringLiteral("1,2,999"), Decimal));
    QCOMPARE(sink.shown.at(0).title, QStringLiteral("Perrox"));
    QCOMPARE(sink.shown.at(0).icon, MessageSink::Icon::Exclamation);
    QCOMPARE(sink.shown.at(0).buttons, MessageSink::Buttons::Ok);
}

void TestNotation::typeCodes()
{
    // Codes are compared exactly: another spelling names no notation.
    QCOMPARE(NotationFromTypeCode(QStringLiteral("Hex")), std::optional<qint16>(Hexadecimal));
    QCOMPARE(NotationFromTypeCode(QStringLiteral("hex")), std::nullopt);
    QCOMPARE(TypeCode(NotationFromTypeCode(QStringLiteral("Dec")).value()), QStringLiteral("Dec"));
    QVERIFY(!IsCharInSet(QString(), QStringLiteral("abc")));
}

QTEST_APPLESS_MAIN(TestNotation)
#include "tst_notation.moc"
