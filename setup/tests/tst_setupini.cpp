#include "inifile.h"

#include <QFile>
#include <QTemporaryDir>
#include <QTest>

using namespace setup;
using namespace Qt::StringLiterals;

// The INI reader on real files, with the long lines libinih cannot take whole.
class TestSetupIni : public QObject
{
    Q_OBJECT

private slots:
    void value_data();
    void value();
    void unreadableFileGivesDefaults();
};

void TestSetupIni::value_data()
{
    QTest::addColumn<QByteArray>("content");
    QTest::addColumn<QString>("section");
    QTest::addColumn<QString>("key");
    QTest::addColumn<QString>("expected"); // "<default>" when the default comes back

    const QByteArray long300(300, 'u');
    const QByteArray long600(600, 'v');
    QTest::addRow("plain") << QByteArray("[Install]\nMode=2\n") << u"Install"_s << u"Mode"_s << u"2"_s;
    QTest::addRow("absent key") << QByteArray("[Install]\nMode=2\n") << u"Install"_s << u"FileName"_s << u"<default>"_s;
    QTest::addRow("key of another section") << QByteArray("[Install]\nUILevel=qn\n") << u"Uninstall"_s << u"UILevel"_s << u"<default>"_s;
    QTest::addRow("empty value is not absent") << QByteArray("[Uninstall]\nProductCode0=\n") << u"Uninstall"_s << u"ProductCode0"_s << QString();
    QTest::addRow("names without regard to case") << QByteArray("[INSTALL]\nfilename=a.deb\n") << u"Install"_s << u"FileName"_s << u"a.deb"_s;
    QTest::addRow("first of two keys") << QByteArray("[Install]\nMode=2\nMode=3\n") << u"Install"_s << u"Mode"_s << u"2"_s;
    QTest::addRow("blanks around") << QByteArray("[Install]\n  FileName  =   my file.deb  \n") << u"Install"_s << u"FileName"_s << u"my file.deb"_s;
    QTest::addRow("windows line ends") << QByteArray("[Install]\r\nMode=2\r\n") << u"Install"_s << u"Mode"_s << u"2"_s;
    QTest::addRow("byte order mark") << QByteArray("\xEF\xBB\xBF[Install]\nMode=2\n") << u"Install"_s << u"Mode"_s << u"2"_s;
    QTest::addRow("comment after a blank") << QByteArray("[Install]\nMode=2 ; shell\n") << u"Install"_s << u"Mode"_s << u"2"_s;
    QTest::addRow("semicolon inside a value") << QByteArray("[Install]\nDownloadURL=http://x/a;b\n") << u"Install"_s << u"DownloadURL"_s << u"http://x/a;b"_s;
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
    QTest::addRow("tail of a long line is no key") << QByteArray("[Uninstall]\nUILevel=" + long300 + "ProductCode0=evil\n") << u"Uninstall"_s
                                                   << u"ProductCode0"_s << u"<default>"_s;
    QTest::addRow("long comment line") << QByteArray("[Uninstall]\n; " + long300 + "\nProductCode0=perrox\n") << u"Uninstall"_s << u"ProductCode0"_s
                                       << u"perrox"_s;
    QTest::addRow("key name too long for the line buffer")
        << QByteArray("[Uninstall]\n" + long300 + "=x\nProductCode0=perrox\n") << u"Uninstall"_s << u"ProductCode0"_s << u"perrox"_s;
    QTest::addRow("broken line skipped") << QByteArray("[Install]\nno separator here\nMode=2\n") << u"Install"_s << u"Mode"_s << u"2"_s;
}

void TestSetupIni::value()
{
    QFETCH(QByteArray, content);
    QFETCH(QString, section);
    QFETCH(QString, key);
    QFETCH(QString, expected);
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    QFile file(dir.filePath(u"setup.INI"_s));
    QVERIFY(file.open(QIODevice::WriteOnly));
    QCOMPARE(file.write(content), content.size());
    file.close();

    const IniFile ini(file.fileName());
    QCOMPARE(ini.value(section, key, u"<default>"_s), expected);
}

void TestSetupIni::unreadableFileGivesDefaults()
{
    QTemporaryDir dir;
    const IniFile missing(dir.filePath(u"missing.INI"_s));
    QCOMPARE(missing.value(u"Install"_s, u"Mode"_s, u"1"_s), u"1"_s);
    const IniFile folder(dir.path());
    QCOMPARE(folder.value(u"Install"_s, u"Mode"_s, u"1"_s), u"1"_s);
}

QTEST_APPLESS_MAIN(TestSetupIni)
#include "tst_setupini.moc"
