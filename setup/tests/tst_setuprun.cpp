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

// A folder with setup in it, and fakes of the services that log everything a
// run does, in order: "box question|warning TITLE", "splash PATH",
// "query CODE", "run PROGRAM|ARG|...", "start PATH", "open PATH".
struct Fixture : SetupMessages, InstalledProducts, ProgramStarter, SplashScreen
{
    struct Opener : FileOpener
    {
        explicit Opener(QStringList &log)
            : events(log)
        { }
        int open(const QString &path) override
        {
            events.append(u"open "_s + path);
            return error;
        }
        QStringList &events;
        int error = 0;
    };

    // An installer that exists, so messages carry no note unless a test says so.
    Fixture() { services.installerPath = write(u"dpkg"_s, {}); }

    Answer show(const QString &text, Icon icon, Buttons buttons, const QString &title) override
    {
        const bool question = icon == Icon::Question && buttons == Buttons::YesNoCancel;
        const bool warning = icon == Icon::Warning && buttons == Buttons::Ok;
        events.append(u"box "_s + (question ? u"question"_s : warning ? u"warning"_s : u"odd"_s) + u' ' + title);
        boxes.append(text);
        return question ? answer : Answer::Ok;
    }
    std::optional<InstalledProduct> open(const QString &productCode) override
    {
        events.append(u"query "_s + productCode);
        const auto it = installed.constFind(productCode);
        return it == installed.constEnd() ? std::nullopt : std::optional<InstalledProduct>(*it);
    }
    int runAndWait(const QString &program, const QStringList &arguments) override
    {
        events.append(u"run "_s + QStringList(QStringList {program} + arguments).join(u'|'));
        return runErrors.value(program);
    }
    int start(const QString &program) override
    {
        events.append(u"start "_s + program);
        return startError;
    }
    void show(const QString &bitmapPath) override { events.append(u"splash "_s + bitmapPath); }

    QString write(const QString &name, const QByteArray &content)
    {
        QFile file(folder + name);
        if (!file.open(QIODevice::WriteOnly) || file.write(content) != content.size())
            qFatal("cannot write %s", qPrintable(file.fileName()));
        return file.fileName();
    }
    // Writes setup.INI and an empty setup.deb, installs product<n> for each
    // n, and returns the package's path.
    QString prepare(const QByteArray &ini, const QList<int> &products = {})
    {
        write(u"setup.INI"_s, ini);
        for (int n : products)
            install(n);
        return write(u"setup.deb"_s, {});
    }
    int run() { return RunSetup(folder + u"setup"_s, services); }
    static QString product(int n) { return u"product"_s + QString::number(n); }
    void install(int n) { installed.insert(product(n), {u"Product %1 1.0"_s.arg(n), u"remove %1"_s.arg(n)}); }

    QTemporaryDir dir;
    QString folder = dir.path() + u'/';
    QStringList events;
    QStringList boxes; // the texts shown
    Answer answer = Answer::Yes;
    QHash<QString, InstalledProduct> installed;
    QHash<QString, int> runErrors;
    int startError = 0;
    Opener opener {events};
    SetupServices services {*this, *this, *this, opener, *this};
};

const QString Warning = u"box warning Tarvel Setup"_s;
const QString Question = u"box question Tarvel Setup"_s;
const QString Url = u"https://perrox.example.org/download"_s;

QString ErrorText(int code)
{
    return QString::fromLocal8Bit(std::strerror(code));
}

QString QuestionText(const QString &list)
{
    return u"Setup has found a previous version of the application on your computer:\n"_s + list + u"\nDo you want to uninstall the previous version?"_s;
}

} // namespace

class TestSetupRun : public QObject
{
    Q_OBJECT

private slots:
    void ownNames_data()
    {
        QTest::addColumn<QString>("path");
        QTest::addColumn<QString>("folder");
        QTest::addColumn<QString>("baseName");
        QTest::addRow("last extension only") << u"/dist/setup.v2.bin"_s << u"/dist/"_s << u"setup.v2"_s;
        QTest::addRow("dot in a folder") << u"/my.dist/setup"_s << u"/my.dist/"_s << u"setup"_s;
    }

    void ownNames()
    {
        QFETCH(QString, path);
        QFETCH(QString, folder);
        QFETCH(QString, baseName);
        const OwnNames names = OwnNamesOf(path);
        QCOMPARE(names.folder, folder);
        QCOMPARE(names.baseName, baseName);
    }

    void missingFiles_data()
    {
        QTest::addColumn<QByteArray>("ini"); // null: only a lower-case setup.ini, and the package
        QTest::addColumn<QString>("message"); // "<folder>" stands for setup's folder
        const auto missingPackage = [](const QString &path, const QString &url) {
            return u"Setup cannot find the file \"<folder>"_s + path + u"\" to install.\n\nDownload a complete installation package from "_s + url
                + u" and run Setup again."_s;
        };
        const QByteArray url200 = "https://example.org/" + QByteArray(180, 'x');
        QTest::addRow("no INI") << QByteArray()
                                << u"Setup cannot find the file <folder>setup.INI.\n\nDownload a complete installation package from "_s + Url
                + u" and run Setup again."_s;
        QTest::addRow("default name") << QByteArray("[Install]\n") << missingPackage(u"setup.deb"_s, Url);
        QTest::addRow("name of a folder") << QByteArray("[Install]\nFileName=sub\n") << missingPackage(u"sub"_s, Url);
        QTest::addRow("empty name is the folder") << QByteArray("[Install]\nFileName=\n") << missingPackage(QString(), Url);
        QTest::addRow("percent sign in the name") << QByteArray("[Install]\nFileName=100%s.deb\n") << missingPackage(u"100%s.deb"_s, Url);
        QTest::addRow("download address of 200 characters")
            << QByteArray("[Install]\nDownloadURL=" + url200 + "\n") << missingPackage(u"setup.deb"_s, QString::fromLatin1(url200.left(127)));
    }

    void missingFiles()
    {
        QFETCH(QByteArray, ini);
        QFETCH(QString, message);
        Fixture f;
        QVERIFY(QDir(f.folder).mkdir(u"sub"_s));
        const QString bitmap = f.write(u"setup.BMP"_s, "BM");
        f.install(0);
        if (ini.isNull()) {
            f.write(u"setup.ini"_s, "[Install]\n"); // the name is looked up with an upper-case extension
            f.write(u"setup.deb"_s, "!<arch>\n");
        } else {
            f.write(u"setup.INI"_s, ini + "[Uninstall]\nProductCode0=product0\n");
        }
        QCOMPARE(f.run(), 1);
        // Without the INI nothing else is looked at, not even the splash picture.
        QCOMPARE(f.events, ini.isNull() ? QStringList {Warning} : QStringList({u"splash "_s + bitmap, Warning}));
        QCOMPARE(f.boxes, QStringList {message.replace(u"<folder>"_s, f.folder)});
    }

    void previousVersions_data()
    {
        QTest::addColumn<QList<int>>("codes"); // ProductCode0, 1, ... name product<n>; -1 writes an empty value
        QTest::addColumn<QList<int>>("installed");
        QTest::addColumn<QList<int>>("queried");
        QTest::addColumn<QList<int>>("found");

        QList<int> twenty;
        for (int n = 0; n < 20; ++n)
            twenty.append(n);
        QTest::addRow("no product") << QList<int> {} << QList<int> {0} << QList<int> {} << QList<int> {};
        QTest::addRow("missing ones skipped") << QList<int> {0, 1, 2, 3} << QList<int> {1, 3} << QList<int> {0, 1, 2, 3} << QList<int> {1, 3};
        QTest::addRow("empty code ends the list") << QList<int> {0, -1, 2} << QList<int> {0, 2} << QList<int> {0} << QList<int> {0};
        QTest::addRow("twenty installed") << twenty << twenty << twenty.mid(0, 16) << twenty.mid(0, 16);
    }

    void previousVersions()
    {
        QFETCH(QList<int>, codes);
        QFETCH(QList<int>, installed);
        QFETCH(QList<int>, queried);
        QFETCH(QList<int>, found);
        QByteArray ini = "[Uninstall]\n";
        for (int i = 0; i < codes.size(); ++i)
            ini += "ProductCode" + QByteArray::number(i) + "=" + (codes.at(i) < 0 ? QByteArray() : Fixture::product(codes.at(i)).toUtf8()) + "\n";
        // A code after an absent one, rather than an empty one, stops the list too.
        ini += "ProductCode" + QByteArray::number(codes.size() + 1) + "=product99\n";
        Fixture f;
        const QString package = f.prepare(ini, installed + QList<int> {99});

        QCOMPARE(f.run(), 0);
        QStringList expected;
        QString list;
        for (int n : queried)
            expected.append(u"query "_s + f.product(n));
        if (!found.isEmpty())
            expected.append(Question);
        for (int n : found) {
            expected.append(u"run remove|"_s + QString::number(n));
            list += u"Product %1 1.0\n"_s.arg(n);
        }
        expected.append(u"open "_s + package);
        QCOMPARE(f.events, expected);
        QCOMPARE(f.boxes, found.isEmpty() ? QStringList() : QStringList {QuestionText(list)});
    }

    void answers_data()
    {
        QTest::addColumn<SetupMessages::Answer>("answer");
        QTest::addColumn<bool>("uninstalled");
        QTest::addColumn<bool>("installed");
        QTest::addColumn<int>("exitCode");
        QTest::addRow("yes") << SetupMessages::Answer::Yes << true << true << 0;
        QTest::addRow("no") << SetupMessages::Answer::No << false << true << 0;
        QTest::addRow("cancel") << SetupMessages::Answer::Cancel << false << false << 1;
    }

    void answers()
    {
        QFETCH(SetupMessages::Answer, answer);
        QFETCH(bool, uninstalled);
        QFETCH(bool, installed);
        QFETCH(int, exitCode);
        Fixture f;
        const QString package = f.prepare("[Uninstall]\nProductCode0=product0\nProductCode1=product1\nProductCode2=product2\n", {0});
        // Entries lacking one of the values are not previous versions.
        f.installed.insert(u"product1"_s, {u"Product 1 1.0"_s, QString()});
        f.installed.insert(u"product2"_s, {QString(), u"remove 2"_s});
        f.answer = answer;

        QCOMPARE(f.run(), exitCode);
        QCOMPARE(f.boxes, QStringList {QuestionText(u"Product 0 1.0\n"_s)});
        QCOMPARE(f.events.contains(u"run remove|0"_s), uninstalled);
        QCOMPARE(f.events.filter(u"run "_s).size(), uninstalled ? 1 : 0);
        QCOMPARE(f.events.last() == u"open "_s + package, installed);
    }

    void uninstallCommands_data()
    {
        QTest::addColumn<QString>("uninstallString");
        QTest::addColumn<QByteArray>("uiLevel"); // the UILevel line, if any
        QTest::addColumn<QString>("started"); // program|argument|...
        QTest::addRow("/I rewritten") << u"MsiExec.exe /I{5E3C}"_s << QByteArray() << u"MsiExec.exe|/qr|/x{5E3C}"_s;
        QTest::addRow("level from the file, cut at 15")
            << u"MsiExec.exe /I{5E3C}"_s << QByteArray("UILevel=abcdefghijklmnopqrst") << u"MsiExec.exe|/abcdefghijklmno|/x{5E3C}"_s;
        QTest::addRow("first /I only") << u"x /Ia /Ib"_s << QByteArray() << u"x|/qr|/xa|/Ib"_s;
        QTest::addRow("lower-case /i left alone") << u"MsiExec.exe /i{5E3C}"_s << QByteArray() << u"MsiExec.exe|/i{5E3C}"_s;
        QTest::addRow("/I without a blank left alone") << u"MsiExec.exe/I{5E3C}"_s << QByteArray() << u"MsiExec.exe/I{5E3C}"_s;
        QTest::addRow("no shell: separators are words")
            << u"dpkg --remove \"old perrox\"; rm -rf /"_s << QByteArray() << u"dpkg|--remove|old perrox;|rm|-rf|/"_s;
    }

    void uninstallCommands()
    {
        QFETCH(QString, uninstallString);
        QFETCH(QByteArray, uiLevel);
        QFETCH(QString, started);
        Fixture f;
        f.prepare("[Uninstall]\nProductCode0=old\n" + uiLevel + "\n");
        f.installed.insert(u"old"_s, {u"Old"_s, uninstallString});
        QCOMPARE(f.run(), 0);
        QCOMPARE(f.events.filter(u"run "_s), QStringList {u"run "_s + started});
    }

    void uninstallThatCannotStart_data()
    {
        QTest::addColumn<bool>("installerPresent");
        QTest::addRow("installer present: no note") << true;
        QTest::addRow("installer missing: note") << false;
    }

    void uninstallThatCannotStart()
    {
        QFETCH(bool, installerPresent);
        Fixture f;
        const QString package = f.prepare("[Uninstall]\nProductCode0=product0\nProductCode1=product1\nProductCode2=product2\n", {0, 2});
        f.installed.insert(u"product1"_s, {u"Product 1 1.0"_s, u"   "_s}); // splits into no words
        f.runErrors.insert(u"remove"_s, ENOENT);
        if (!installerPresent)
            f.services.installerPath = f.folder + u"bin/dpkg"_s;

        QCOMPARE(f.run(), 0);
        QCOMPARE(f.events,
            QStringList({u"query product0"_s, u"query product1"_s, u"query product2"_s, Question, u"run remove|0"_s, Warning, Warning, u"run remove|2"_s,
                Warning, u"open "_s + package}));
        const QString note = installerPresent ? QString()
                                              : u"\nNote: Setup cannot find the Windows Installer executable file \""_s + f.services.installerPath
                + u"\".\nDownload Windows Installer from "_s + Url + u", install it, and run Setup again."_s;
        QCOMPARE(f.boxes.mid(1), QStringList({ErrorText(ENOENT) + note, ErrorText(ENOENT) + note, ErrorText(ENOENT) + note}));
    }

    void startingThePackage_data()
    {
        QTest::addColumn<QByteArray>("modeLine");
        QTest::addColumn<bool>("asProgram"); // else through the desktop
        QTest::addColumn<int>("error"); // what starting or opening gives
        QTest::addRow("absent") << QByteArray() << false << 0;
        QTest::addRow("leading blank") << QByteArray("Mode=\" 2\"") << true << 0;
        QTest::addRow("digit then text") << QByteArray("Mode=2x") << true << 0;
        QTest::addRow("minus two") << QByteArray("Mode=-2") << false << 0;
        QTest::addRow("22") << QByteArray("Mode=22") << false << 0;
        QTest::addRow("overflow") << QByteArray("Mode=99999999999999999992") << false << 0;
        QTest::addRow("no digits") << QByteArray("Mode=abc") << false << 0;
        QTest::addRow("program that cannot start") << QByteArray("Mode=2") << true << EACCES;
        QTest::addRow("desktop that cannot open") << QByteArray("Mode=1") << false << EOPNOTSUPP;
    }

    void startingThePackage()
    {
        QFETCH(QByteArray, modeLine);
        QFETCH(bool, asProgram);
        QFETCH(int, error);
        Fixture f;
        const QString package = f.prepare("[Install]\n" + modeLine + "\n");
        f.startError = error;
        f.opener.error = error;
        QCOMPARE(f.run(), 0); // a package that cannot start still ends setup normally
        QStringList expected {(asProgram ? u"start "_s : u"open "_s) + package};
        if (error != 0)
            expected.append(Warning);
        QCOMPARE(f.events, expected);
        QCOMPARE(f.boxes, error != 0 ? QStringList {ErrorText(error)} : QStringList());
    }

    void longPaths()
    {
        // Over 260 characters in the folder and in the package path, which may name a subfolder.
        Fixture f;
        const QString segment(60, u'd');
        for (int i = 0; i < 5; ++i)
            f.folder += segment + u'/';
        QVERIFY(QDir().mkpath(f.folder + u"packages/"_s + segment));
        QVERIFY(f.folder.size() > 300);
        const QString name = u"packages/"_s + segment + u"/perrox_1.2.0_amd64.deb"_s;
        f.write(u"setup.INI"_s, "[Install]\nFileName=" + name.toUtf8() + "\n");
        const QString bitmap = f.write(u"setup.BMP"_s, "BM");
        const QString package = f.write(name, {});
        QCOMPARE(f.run(), 0);
        QCOMPARE(f.events, QStringList({u"splash "_s + bitmap, u"open "_s + package}));
        QVERIFY(package.size() > 400);
    }
};

QTEST_APPLESS_MAIN(TestSetupRun)
#include "tst_setuprun.moc"
