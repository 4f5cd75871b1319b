#include "setuprun.h"

#include <QDir>
#include <QFile>
#include <QHash>
#include <QTemporaryDir>
#include <QTest>

#include <cerrno>
#include <cstring>

using namespace setup;
using namespace Qt::StringLiterals;

namespace {

// One log of everything the run does, in order: "box ...", "splash PATH",
// "query CODE", "run PROGRAM|ARG|ARG", "start PATH", "open PATH".
struct Log
{
    QStringList events;
    QStringList boxes; // the texts shown
};

class FakeMessages : public SetupMessages
{
public:
    explicit FakeMessages(Log &log)
        : m_log(log)
    { }
    Answer show(const QString &text, Icon icon, Buttons buttons, const QString &title) override
    {
        const bool question = icon == Icon::Question && buttons == Buttons::YesNoCancel;
        const bool warning = icon == Icon::Warning && buttons == Buttons::Ok;
        m_log.events.append(u"box "_s + (question ? u"question"_s : warning ? u"warning"_s : u"odd"_s) + u' ' + title);
        m_log.boxes.append(text);
        return question ? answer : Answer::Ok;
    }
    Answer answer = Answer::Yes;

private:
    Log &m_log;
};

class FakeProducts : public InstalledProducts
{
public:
    explicit FakeProducts(Log &log)
        : m_log(log)
    { }
    std::optional<InstalledProduct> open(const QString &productCode) override
    {
        m_log.events.append(u"query "_s + productCode);
        const auto it = installed.constFind(productCode);
        return it == installed.constEnd() ? std::nullopt : std::optional<InstalledProduct>(*it);
    }
    QHash<QString, InstalledProduct> installed;

private:
    Log &m_log;
};

class FakePrograms : public ProgramStarter
{
public:
    explicit FakePrograms(Log &log)
        : m_log(log)
    { }
    int runAndWait(const QString &program, const QStringList &arguments) override
    {
        m_log.events.append(u"run "_s + QStringList(QStringList {program} + arguments).join(u'|'));
        return runErrors.value(program);
    }
    int start(const QString &program) override
    {
        m_log.events.append(u"start "_s + program);
        return startError;
    }
    QHash<QString, int> runErrors;
    int startError = 0;

private:
    Log &m_log;
};

class FakeOpener : public FileOpener
{
public:
    explicit FakeOpener(Log &log)
        : m_log(log)
    { }
    int open(const QString &path) override
    {
        m_log.events.append(u"open "_s + path);
        return error;
    }
    int error = 0;

private:
    Log &m_log;
};

class FakeSplash : public SplashScreen
{
public:
    explicit FakeSplash(Log &log)
        : m_log(log)
    { }
    void show(const QString &bitmapPath) override { m_log.events.append(u"splash "_s + bitmapPath); }

private:
    Log &m_log;
};

// A folder with setup in it and the fakes of one run.
struct Fixture
{
    Fixture()
        : messages(log)
        , products(log)
        , programs(log)
        , opener(log)
        , splash(log)
        , services {messages, products, programs, opener, splash}
    {
        folder = dir.path() + u'/';
        // An installer that exists, so messages carry no note unless a test says so.
        services.installerPath = write(u"dpkg"_s, {});
    }

    QString write(const QString &name, const QByteArray &content)
    {
        QFile file(folder + name);
        if (!file.open(QIODevice::WriteOnly) || file.write(content) != content.size())
            qFatal("cannot write %s", qPrintable(file.fileName()));
        return file.fileName();
    }
    int run() { return RunSetup(folder + u"setup"_s, services); }
    QString product(int n) const { return u"product"_s + QString::number(n); }
    void install(int n) { products.installed.insert(product(n), {u"Product %1 1.0"_s.arg(n), u"remove %1"_s.arg(n)}); }

    QTemporaryDir dir;
    QString folder;
    Log log;
    FakeMessages messages;
    FakeProducts products;
    FakePrograms programs;
    FakeOpener opener;
    FakeSplash splash;
    SetupServices services;
};

QString Url()
{
    return u"https://perrox.example.org/download"_s;
}

QString ErrorText(int code)
{
    return QString::fromLocal8Bit(std::strerror(code));
}

} // namespace

class TestSetupRun : public QObject
{
    Q_OBJECT

private slots:
    void ownNames_data();
    void ownNames();
    void missingIni();
    void missingPackage_data();
    void missingPackage();
    void previousVersions_data();
    void previousVersions();
    void answers_data();
    void answers();
    void uninstallCommands_data();
    void uninstallCommands();
    void uninstallThatCannotStart_data();
    void uninstallThatCannotStart();
    void mode_data();
    void mode();
    void packageThatCannotStart_data();
    void packageThatCannotStart();
    void longPaths();
};

void TestSetupRun::ownNames_data()
{
    QTest::addColumn<QString>("path");
    QTest::addColumn<QString>("folder");
    QTest::addColumn<QString>("baseName");
    QTest::addRow("no extension") << u"/dist/setup"_s << u"/dist/"_s << u"setup"_s;
    QTest::addRow("extension dropped") << u"/dist/Setup.exe"_s << u"/dist/"_s << u"Setup"_s;
    QTest::addRow("last extension only") << u"/dist/setup.v2.bin"_s << u"/dist/"_s << u"setup.v2"_s;
    QTest::addRow("dot in a folder") << u"/my.dist/setup"_s << u"/my.dist/"_s << u"setup"_s;
    QTest::addRow("in the root") << u"/setup"_s << u"/"_s << u"setup"_s;
}

void TestSetupRun::ownNames()
{
    QFETCH(QString, path);
    QFETCH(QString, folder);
    QFETCH(QString, baseName);
    const OwnNames names = OwnNamesOf(path);
    QCOMPARE(names.folder, folder);
    QCOMPARE(names.baseName, baseName);
}

void TestSetupRun::missingIni()
{
    Fixture f;
    f.write(u"setup.BMP"_s, "BM");
    f.write(u"setup.deb"_s, "!<arch>\n");
    f.write(u"setup.ini"_s, "[Install]\n"); // the name is looked up with an upper-case extension
    QCOMPARE(f.run(), 1);
    QCOMPARE(f.log.events, QStringList {u"box warning Tarvel Setup"_s});
    QCOMPARE(f.log.boxes.first(),
        u"Setup cannot find the file "_s + f.folder + u"setup.INI.\n\nDownload a complete installation package from "_s + Url() + u" and run Setup again."_s);
}

void TestSetupRun::missingPackage_data()
{
    QTest::addColumn<QByteArray>("ini");
    QTest::addColumn<QString>("shownPath"); // relative to the folder
    QTest::addColumn<QString>("shownUrl");
    const QByteArray url200 = "https://example.org/" + QByteArray(180, 'x');
    QTest::addRow("default name") << QByteArray("[Install]\n") << u"setup.deb"_s << Url();
    QTest::addRow("named package") << QByteArray("[Install]\nFileName=perrox_1.2.0_amd64.deb\n") << u"perrox_1.2.0_amd64.deb"_s << Url();
    QTest::addRow("name of a folder") << QByteArray("[Install]\nFileName=sub\n") << u"sub"_s << Url();
    QTest::addRow("empty name is the folder") << QByteArray("[Install]\nFileName=\n") << QString() << Url();
    QTest::addRow("percent sign in the name") << QByteArray("[Install]\nFileName=100%s.deb\n") << u"100%s.deb"_s << Url();
    QTest::addRow("download address of 200 characters")
        << QByteArray("[Install]\nDownloadURL=" + url200 + "\n") << u"setup.deb"_s << QString::fromLatin1(url200.left(127));
}

void TestSetupRun::missingPackage()
{
    QFETCH(QByteArray, ini);
    QFETCH(QString, shownPath);
    QFETCH(QString, shownUrl);
    Fixture f;
    QVERIFY(QDir(f.folder).mkdir(u"sub"_s));
    f.write(u"setup.INI"_s, ini + "[Uninstall]\nProductCode0=product0\n");
    const QString bitmap = f.write(u"setup.BMP"_s, "BM");
    f.install(0);
    QCOMPARE(f.run(), 1);
    QCOMPARE(f.log.events, QStringList({u"splash "_s + bitmap, u"box warning Tarvel Setup"_s}));
    QCOMPARE(f.log.boxes.first(),
        u"Setup cannot find the file \""_s + f.folder + shownPath + u"\" to install.\n\nDownload a complete installation package from "_s + shownUrl
            + u" and run Setup again."_s);
}

void TestSetupRun::previousVersions_data()
{
    QTest::addColumn<QList<int>>("codes"); // ProductCode0, 1, ... name product<n>; -1 writes an empty value
    QTest::addColumn<QList<int>>("installed");
    QTest::addColumn<QList<int>>("queried");
    QTest::addColumn<QList<int>>("found");

    QList<int> twenty;
    for (int n = 0; n < 20; ++n)
        twenty.append(n);
    QTest::addRow("none named") << QList<int> {} << QList<int> {0} << QList<int> {} << QList<int> {};
    QTest::addRow("none installed") << QList<int> {0, 1} << QList<int> {} << QList<int> {0, 1} << QList<int> {};
    QTest::addRow("missing ones skipped") << QList<int> {0, 1, 2, 3} << QList<int> {1, 3} << QList<int> {0, 1, 2, 3} << QList<int> {1, 3};
    QTest::addRow("empty code ends the list") << QList<int> {0, -1, 2} << QList<int> {0, 2} << QList<int> {0} << QList<int> {0};
    QTest::addRow("twenty installed") << twenty << twenty << twenty.mid(0, 16) << twenty.mid(0, 16);
}

void TestSetupRun::previousVersions()
{
    QFETCH(QList<int>, codes);
    QFETCH(QList<int>, installed);
    QFETCH(QList<int>, queried);
    QFETCH(QList<int>, found);
    Fixture f;
    QByteArray ini = "[Uninstall]\n";
    for (int i = 0; i < codes.size(); ++i)
        ini += "ProductCode" + QByteArray::number(i) + "=" + (codes.at(i) < 0 ? QByteArray() : f.product(codes.at(i)).toUtf8()) + "\n";
    // ProductCode2 with ProductCode1 absent, rather than empty, stops the list too.
    ini += "ProductCode" + QByteArray::number(codes.size() + 1) + "=product99\n";
    f.write(u"setup.INI"_s, ini);
    const QString package = f.write(u"setup.deb"_s, {});
    for (int n : installed)
        f.install(n);
    f.install(99);

    QCOMPARE(f.run(), 0);
    QStringList expected;
    QString list;
    for (int n : queried)
        expected.append(u"query "_s + f.product(n));
    if (!found.isEmpty())
        expected.append(u"box question Tarvel Setup"_s);
    for (int n : found) {
        expected.append(u"run remove|"_s + QString::number(n));
        list += u"Product %1 1.0\n"_s.arg(n);
    }
    expected.append(u"open "_s + package);
    QCOMPARE(f.log.events, expected);
    if (!found.isEmpty())
        QCOMPARE(f.log.boxes.first(),
            u"Setup has found a previous version of the application on your computer:\n"_s + list + u"\nDo you want to uninstall the previous version?"_s);
}

void TestSetupRun::answers_data()
{
    QTest::addColumn<SetupMessages::Answer>("answer");
    QTest::addColumn<bool>("uninstalled");
    QTest::addColumn<bool>("installed");
    QTest::addColumn<int>("exitCode");
    QTest::addRow("yes") << SetupMessages::Answer::Yes << true << true << 0;
    QTest::addRow("no") << SetupMessages::Answer::No << false << true << 0;
    QTest::addRow("cancel") << SetupMessages::Answer::Cancel << false << false << 1;
}

void TestSetupRun::answers()
{
    QFETCH(SetupMessages::Answer, answer);
    QFETCH(bool, uninstalled);
    QFETCH(bool, installed);
    QFETCH(int, exitCode);
    Fixture f;
    f.write(u"setup.INI"_s, "[Uninstall]\nProductCode0=product0\nProductCode1=product1\nProductCode2=product2\n");
    const QString package = f.write(u"setup.deb"_s, {});
    f.install(0);
    f.install(2);
    // Entries lacking one of the values are not previous versions.
    f.products.installed.insert(u"product1"_s, {u"Product 1 1.0"_s, QString()});
    f.products.installed.insert(u"product2"_s, {QString(), u"remove 2"_s});
    f.messages.answer = answer;

    QCOMPARE(f.run(), exitCode);
    QCOMPARE(f.log.boxes,
        QStringList {
            u"Setup has found a previous version of the application on your computer:\nProduct 0 1.0\n\nDo you want to uninstall the previous version?"_s});
    QCOMPARE(f.log.events.contains(u"run remove|0"_s), uninstalled);
    QCOMPARE(f.log.events.filter(u"run "_s).size(), uninstalled ? 1 : 0);
    QCOMPARE(f.log.events.last() == u"open "_s + package, installed);
}

void TestSetupRun::uninstallCommands_data()
{
    QTest::addColumn<QString>("uninstallString");
    QTest::addColumn<QByteArray>("uiLevel"); // the UILevel line, if any
    QTest::addColumn<QString>("started"); // program|argument|...
    QTest::addRow("/I rewritten") << u"MsiExec.exe /I{5E3C}"_s << QByteArray() << u"MsiExec.exe|/qr|/x{5E3C}"_s;
    QTest::addRow("level from the file") << u"MsiExec.exe /I{5E3C}"_s << QByteArray("UILevel=qn") << u"MsiExec.exe|/qn|/x{5E3C}"_s;
    QTest::addRow("level cut at 15") << u"MsiExec.exe /I{5E3C}"_s << QByteArray("UILevel=abcdefghijklmnopqrst") << u"MsiExec.exe|/abcdefghijklmno|/x{5E3C}"_s;
    QTest::addRow("first /I only") << u"x /Ia /Ib"_s << QByteArray() << u"x|/qr|/xa|/Ib"_s;
    QTest::addRow("/I at the end") << u"x /I"_s << QByteArray() << u"x|/qr|/x"_s;
    QTest::addRow("lower-case /i left alone") << u"MsiExec.exe /i{5E3C}"_s << QByteArray() << u"MsiExec.exe|/i{5E3C}"_s;
    QTest::addRow("/I without a blank left alone") << u"MsiExec.exe/I{5E3C}"_s << QByteArray() << u"MsiExec.exe/I{5E3C}"_s;
    QTest::addRow("dpkg command as it is") << u"pkexec dpkg --remove perrox"_s << QByteArray() << u"pkexec|dpkg|--remove|perrox"_s;
    QTest::addRow("no shell: separators are words") << u"dpkg --remove \"old perrox\"; rm -rf /"_s << QByteArray() << u"dpkg|--remove|old perrox;|rm|-rf|/"_s;
}

void TestSetupRun::uninstallCommands()
{
    QFETCH(QString, uninstallString);
    QFETCH(QByteArray, uiLevel);
    QFETCH(QString, started);
    Fixture f;
    f.write(u"setup.INI"_s, "[Uninstall]\nProductCode0=old\n" + uiLevel + "\n");
    f.write(u"setup.deb"_s, {});
    f.products.installed.insert(u"old"_s, {u"Old"_s, uninstallString});
    QCOMPARE(f.run(), 0);
    QCOMPARE(f.log.events.filter(u"run "_s), QStringList {u"run "_s + started});
}

void TestSetupRun::uninstallThatCannotStart_data()
{
    QTest::addColumn<bool>("installerPresent");
    QTest::addRow("installer present: no note") << true;
    QTest::addRow("installer missing: note") << false;
}

void TestSetupRun::uninstallThatCannotStart()
{
    QFETCH(bool, installerPresent);
    Fixture f;
    f.write(u"setup.INI"_s, "[Uninstall]\nProductCode0=product0\nProductCode1=product1\nProductCode2=product2\n");
    const QString package = f.write(u"setup.deb"_s, {});
    f.install(0);
    f.install(2);
    f.products.installed.insert(u"product1"_s, {u"Product 1 1.0"_s, u"   "_s}); // splits into no words
    f.programs.runErrors.insert(u"remove"_s, ENOENT);
    if (!installerPresent)
        f.services.installerPath = f.folder + u"bin/dpkg"_s;

    QCOMPARE(f.run(), 0);
    const QString warning = u"box warning Tarvel Setup"_s;
    QCOMPARE(f.log.events,
        QStringList({u"query product0"_s, u"query product1"_s, u"query product2"_s, u"box question Tarvel Setup"_s, u"run remove|0"_s, warning, warning,
            u"run remove|2"_s, warning, u"open "_s + package}));
    const QString note = installerPresent ? QString()
                                          : u"\nNote: Setup cannot find the Windows Installer executable file \""_s + f.services.installerPath
            + u"\".\nDownload Windows Installer from "_s + Url() + u", install it, and run Setup again."_s;
    QCOMPARE(f.log.boxes.mid(1), QStringList({ErrorText(ENOENT) + note, ErrorText(ENOENT) + note, ErrorText(ENOENT) + note}));
}

void TestSetupRun::mode_data()
{
    QTest::addColumn<QByteArray>("modeLine");
    QTest::addColumn<bool>("asProgram");
    QTest::addRow("absent") << QByteArray() << false;
    QTest::addRow("1") << QByteArray("Mode=1") << false;
    QTest::addRow("2") << QByteArray("Mode=2") << true;
    QTest::addRow("leading blank") << QByteArray("Mode=\" 2\"") << true;
    QTest::addRow("digit then text") << QByteArray("Mode=2x") << true;
    QTest::addRow("plus sign") << QByteArray("Mode=+2") << true;
    QTest::addRow("leading zero") << QByteArray("Mode=02") << true;
    QTest::addRow("minus two") << QByteArray("Mode=-2") << false;
    QTest::addRow("22") << QByteArray("Mode=22") << false;
    QTest::addRow("overflow") << QByteArray("Mode=99999999999999999992") << false;
    QTest::addRow("no digits") << QByteArray("Mode=abc") << false;
    QTest::addRow("empty") << QByteArray("Mode=") << false;
}

void TestSetupRun::mode()
{
    QFETCH(QByteArray, modeLine);
    QFETCH(bool, asProgram);
    Fixture f;
    f.write(u"setup.INI"_s, "[Install]\n" + modeLine + "\n");
    const QString package = f.write(u"setup.deb"_s, {});
    QCOMPARE(f.run(), 0);
    QCOMPARE(f.log.events, QStringList {(asProgram ? u"start "_s : u"open "_s) + package});
}

void TestSetupRun::packageThatCannotStart_data()
{
    QTest::addColumn<int>("mode");
    QTest::addColumn<int>("error");
    QTest::addRow("as a program") << 2 << EACCES;
    QTest::addRow("through the desktop") << 1 << EOPNOTSUPP;
}

void TestSetupRun::packageThatCannotStart()
{
    QFETCH(int, mode);
    QFETCH(int, error);
    Fixture f;
    f.write(u"setup.INI"_s, "[Install]\nMode=" + QByteArray::number(mode) + "\n");
    f.write(u"setup.deb"_s, {});
    f.programs.startError = error;
    f.opener.error = error;
    QCOMPARE(f.run(), 0);
    QCOMPARE(f.log.boxes, QStringList {ErrorText(error)});
}

void TestSetupRun::longPaths()
{
    // Over 260 characters in the folder and in the package path, which may name a subfolder.
    Fixture f;
    const QString segment(60, u'd');
    QString folder = f.folder;
    for (int i = 0; i < 5; ++i)
        folder += segment + u'/';
    QVERIFY(QDir().mkpath(folder + u"packages/"_s + segment));
    f.folder = folder;
    QVERIFY(folder.size() > 300);
    const QString name = u"packages/"_s + segment + u"/perrox_1.2.0_amd64.deb"_s;
    f.write(u"setup.INI"_s, "[Install]\nFileName=" + name.toUtf8() + "\n");
    const QString bitmap = f.write(u"setup.BMP"_s, "BM");
    const QString package = f.write(name, {});
    QCOMPARE(f.run(), 0);
    QCOMPARE(f.log.events, QStringList({u"splash "_s + bitmap, u"open "_s + package}));
    QVERIFY(package.size() > 400);
}

QTEST_APPLESS_MAIN(TestSetupRun)
#include "tst_setuprun.moc"
