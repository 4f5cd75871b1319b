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
        QTest::addColumn<QByteArray>("content"); // null: no file; "<folder>": a folder in its place
        QTest::addColumn<QString>("key"); // section/key
        QTest::addColumn<QString>("expected"); // "<default>" when the default comes back
        const QByteArray long300(300, 'u'), long600(600, 'v');
        QTest::newRow("no file") << QByteArray() << u"Install/Mode"_s << u"<default>"_s;
        QTest::newRow("a folder") << QByteArray("<folder>") << u"Install/Mode"_s << u"<default>"_s;
        QTest::newRow("absent key") << QByteArray("[Install]\nMode=2\n") << u"Install/FileName"_s << u"<default>"_s;
        QTest::newRow("key of another section") << QByteArray("[Install]\nUILevel=qn\n") << u"Uninstall/UILevel"_s << u"<default>"_s;
        QTest::newRow("empty value is not absent") << QByteArray("[Uninstall]\nProductCode0=\n") << u"Uninstall/ProductCode0"_s << QString();
        QTest::newRow("names without regard to case") << QByteArray("[INSTALL]\nfilename=a.deb\n") << u"Install/FileName"_s << u"a.deb"_s;
        QTest::newRow("first of two keys") << QByteArray("[Install]\nMode=2\nMode=3\n") << u"Install/Mode"_s << u"2"_s;
        QTest::newRow("quotes removed") << QByteArray("[Install]\nFileName=\" my file.deb \"\n") << u"Install/FileName"_s << u" my file.deb "_s;
        QTest::newRow("single quotes removed") << QByteArray("[Install]\nMode=' 2'\n") << u"Install/Mode"_s << u" 2"_s;
        QTest::newRow("unmatched quote kept") << QByteArray("[Install]\nFileName=\"a.deb\n") << u"Install/FileName"_s << u"\"a.deb"_s;
        QTest::newRow("utf-8") << QByteArray("[Install]\nFileName=caf\xC3\xA9.deb\n") << u"Install/FileName"_s << u"café.deb"_s;
        QTest::newRow("long line arrives whole") << "[Install]\nFileName=" + long300 + "\nMode=2\n" << u"Install/FileName"_s << QString::fromLatin1(long300);
        QTest::newRow("key after a long line") << "[Install]\nFileName=" + long300 + "\nMode=2\n" << u"Install/Mode"_s << u"2"_s;
        QTest::newRow("value cut at 511") << "[Install]\nFileName=" + long600 + "\n" << u"Install/FileName"_s << QString::fromLatin1(long600.left(511));
        QTest::newRow("long line trimmed like a short one") << "[Install]\nFileName =  " + long300 + "  ; comment\n"
                                                            << u"Install/FileName"_s << QString::fromLatin1(long300);
        QTest::newRow("tail of a long line is no key") << "[Uninstall]\nUILevel=" + long300 + "ProductCode0=evil\n"
                                                       << u"Uninstall/ProductCode0"_s << u"<default>"_s;
        QTest::newRow("long comment line") << "[Uninstall]\n; " + long300 + "\nProductCode0=perrox\n" << u"Uninstall/ProductCode0"_s << u"perrox"_s;
        QTest::newRow("key name too long for the line buffer") << "[Uninstall]\n" + long300 + "=x\nProductCode0=perrox\n"
                                                               << u"Uninstall/ProductCode0"_s << u"perrox"_s;
    }
    void value()
    {
        QFETCH(QByteArray, content);
        QFETCH(QString, key);
        QFETCH(QString, expected);
        QTemporaryDir dir;
        const QString path = content == "<folder>" ? dir.path() : dir.filePath(u"setup.INI"_s);
        QFile file(path);
        QVERIFY(content.isNull() || content == "<folder>" || (file.open(QIODevice::WriteOnly) && file.write(content) == content.size()));
        file.close();
        QCOMPARE(IniFile(path).value(key.section(u'/', 0, 0), key.section(u'/', 1), u"<default>"_s), expected);
    }
};

QTEST_APPLESS_MAIN(TestSetupIni)
#include "tst_setupini.moc"
