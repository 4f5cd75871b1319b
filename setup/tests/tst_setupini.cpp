#include "inifile.h"

#include <QFile>
#include <QTemporaryDir>
#include <QTest>

using namespace setup;
using namespace Qt::StringLiterals;

// The INI reader on real files: what it adds to libinih (case, first key,
// quotes, empty versus absent) and the long lines libinih cannot take whole.
class TestSetupIni : public QObject
{
    Q_OBJECT

private slots:
    void value_data()
    {
        QTest::addColumn<QByteArray>("content");
        QTest::addColumn<QString>("section");
        QTest::addColumn<QString>("key");
        QTest::addColumn<QString>("expected"); // "<default>" when the default comes back

        const QByteArray long300(300, 'u');
        const QByteArray long600(600, 'v');
        QTest::addRow("absent key") << QByteArray("[Install]\nMode=2\n") << u"Install"_s << u"FileName"_s << u"<default>"_s;
        QTest::addRow("key of another section") << QByteArray("[Install]\nUILevel=qn\n") << u"Uninstall"_s << u"UILevel"_s << u"<default>"_s;
        QTest::addRow("empty value is not absent") << QByteArray("[Uninstall]\nProductCode0=\n") << u"Uninstall"_s << u"ProductCode0"_s << QString();
        QTest::addRow("names without regard to case") << QByteArray("[INSTALL]\nfilename=a.deb\n") << u"Install"_s << u"FileName"_s << u"a.deb"_s;
        QTest::addRow("first of two keys") << QByteArray("[Install]\nMode=2\nMode=3\n") << u"Install"_s << u"Mode"_s << u"2"_s;
        QTest::addRow("quotes removed") << QByteArray("[Install]\nFileName=\" my file.deb \"\n") << u"Install"_s << u"FileName"_s << u" my file.deb "_s;
        QTest::addRow("single quotes removed") << QByteArray("[Install]\nMode=' 2'\n") << u"Install"_s << u"Mode"_s << u" 2"_s;
        QTest::addRow("unmatched quote kept") << QByteArray("[Install]\nFileName=\"a.deb\n") << u"Install"_s << u"FileName"_s << u"\"a.deb"_s;
        QTest::addRow("utf-8") << QByteArray("[Install]\nFileName=caf\xC3\xA9.deb\n") << u"Install"_s << u"FileName"_s << QString::fromUtf8("caf\xC3\xA9.deb");
        QTest::addRow("long line arrives whole") << QByteArray("[Install]\nFileName=" + long300 + "\nMode=2\n") << u"Install"_s << u"FileName"_s
                                                 << QString::fromLatin1(long300);
        QTest::addRow("key after a long line") << QByteArray("[Install]\nFileName=" + long300 + "\nMode=2\n") << u"Install"_s << u"Mode"_s << u"2"_s;
        QTest::addRow("value cut at 511") << QByteArray("[Install]\nFileName=" + long600 + "\n") << u"Install"_s << u"FileName"_s
                                          << QString::fromLatin1(long600.left(511));
        QTest::addRow("long line trimmed like a short one")
            << QByteArray("[Install]\nFileName =  " + long300 + "  ; comment\n") << u"Install"_s << u"FileName"_s << QString::fromLatin1(long300);
        QTest::addRow("tail of a long line is no key")
            << QByteArray("[Uninstall]\nUILevel=" + long300 + "ProductCode0=evil\n") << u"Uninstall"_s << u"ProductCode0"_s << u"<default>"_s;
        QTest::addRow("long comment line") << QByteArray("[Uninstall]\n; " + long300 + "\nProductCode0=perrox\n") << u"Uninstall"_s << u"ProductCode0"_s
                                           << u"perrox"_s;
        QTest::addRow("key name too long for the line buffer")
            << QByteArray("[Uninstall]\n" + long300 + "=x\nProductCode0=perrox\n") << u"Uninstall"_s << u"ProductCode0"_s << u"perrox"_s;
    }

    void value()
    {
        QFETCH(QByteArray, content);
        QFETCH(QString, section);
        QFETCH(QString, key);
        QFETCH(QString, expected);
        QTemporaryDir dir;
        QFile file(dir.filePath(u"setup.INI"_s));
        QVERIFY(file.open(QIODevice::WriteOnly) && file.write(content) == content.size());
        file.close();
        QCOMPARE(IniFile(file.fileName()).value(section, key, u"<default>"_s), expected);
    }

    void unreadableFileGivesDefaults()
    {
        QTemporaryDir dir;
        QCOMPARE(IniFile(dir.filePath(u"missing.INI"_s)).value(u"Install"_s, u"Mode"_s, u"1"_s), u"1"_s);
        QCOMPARE(IniFile(dir.path()).value(u"Install"_s, u"Mode"_s, u"1"_s), u"1"_s);
    }
};

QTEST_APPLESS_MAIN(TestSetupIni)
#include "tst_setupini.moc"
