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
        explicit Opener(Fixture &fixture)
            : f(fixture)
        { }
        int open(const QString &path) override { return f.log(u"open "_s + path, error); }
        Fixture &f;
        int error = 0;
    };

    // An installer that exists, so messages carry no note unless a test says so.
    Fixture() { services.installerPath = write(u"dpkg"_s, {}); }

    template<typename T> T log(const QString &event, T result)
    {
        events.append(event);
        return result;
    }
    Answer show(const QString &text, Icon icon, Buttons buttons, const QString &title) override
    {
        const bool question = icon == Icon::Question && buttons == Buttons::YesNoCancel, warning = icon == Icon::Warning && buttons == Buttons::Ok;
        boxes.append(text);
        return log(u"box "_s + (question ? u"question"_s : warning ? u"warning"_s : u"odd"_s) + u' ' + title, question ? answer : Answer::Ok);
    }
    std::optional<InstalledProduct> open(const QString &code) override
    {
        return log(u"query "_s + code, installed.contains(code) ? std::optional(installed.value(code)) : std::nullopt);
    }
    int runAndWait(const QString &program, const QStringList &arguments) override
    {
        return log(u"run "_s + QStringList(QStringList {program} + arguments).join(u'|'), runErrors.value(program));
    }
    int start(const QString &program) override { return log(u"start "_s + program, startError); }
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
    Opener opener {*this};
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
    void ownNames()
    {
        const auto names = [](const QString &path) { return OwnNamesOf(path).folder + u'|' + OwnNamesOf(path).baseName; };
        QCOMPARE(names(u"/dist/setup.v2.bin"_s), u"/dist/|setup.v2"_s); // the last extension only
        QCOMPARE(names(u"/my.dist/setup"_s), u"/my.dist/|setup"_s);
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
        QTest::newRow("no INI") << QByteArray()
                                << u"Setup cannot find the file <folder>setup.INI.\n\nDownload a complete installation package from "_s + Url
                + u" and run Setup again."_s;
        QTest::newRow("default name") << QByteArray("[Install]\n") << missingPackage(u"setup.deb"_s, Url);
        QTest::newRow("name of a folder") << QByteArray("[Install]\nFileName=sub\n") << missingPackage(u"sub"_s, Url);
        QTest::newRow("empty name is the folder") << QByteArray("[Install]\nFileName=\n") << missingPackage(QString(), Url);
        QTest::newRow("percent sign in the name") << QByteArray("[Install]\nFileName=100%s.deb\n") << missingPackage(u"100%s.deb"_s, Url);
        QTest::newRow("download address of 200 characters")
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

    // product97 and product98 are installed but lack the uninstall command or the name: no previous versions.
    void previousVersions_data()
    {
        QTest::addColumn<QList<int>>("codes"); // ProductCode0, 1, ... name product<n>; -1 writes an empty value
        QTest::addColumn<QList<int>>("installed");
        QTest::addColumn<QList<int>>("queried");
        QTest::addColumn<QList<int>>("found");
        QTest::addColumn<SetupMessages::Answer>("answer");
        using L = QList<int>;
        L twenty;
        for (int n = 0; n < 20; ++n)
            twenty.append(n);
        const auto yes = SetupMessages::Answer::Yes;
        QTest::newRow("no product") << L {} << L {0} << L {} << L {} << yes;
        QTest::newRow("missing ones skipped") << L {0, 1, 97, 2, 98, 3} << L {1, 3} << L {0, 1, 97, 2, 98, 3} << L {1, 3} << yes;
        QTest::newRow("empty code ends the list") << L {0, -1, 2} << L {0, 2} << L {0} << L {0} << yes;
        QTest::newRow("twenty installed") << twenty << twenty << twenty.mid(0, 16) << twenty.mid(0, 16) << yes;
        QTest::newRow("answer no: installs only") << L {0, 97, 98} << L {0} << L {0, 97, 98} << L {0} << SetupMessages::Answer::No;
        QTest::newRow("cancel: neither") << L {0, 97, 98} << L {0} << L {0, 97, 98} << L {0} << SetupMessages::Answer::Cancel;
    }
    void previousVersions()
    {
        QFETCH(QList<int>, codes);
        QFETCH(QList<int>, installed);
        QFETCH(QList<int>, queried);
        QFETCH(QList<int>, found);
        QFETCH(SetupMessages::Answer, answer);
        QByteArray ini = "[Uninstall]\n";
        for (int i = 0; i < codes.size(); ++i)
            ini += "ProductCode" + QByteArray::number(i) + "=" + (codes.at(i) < 0 ? QByteArray() : Fixture::product(codes.at(i)).toUtf8()) + "\n";
        // A code after an absent one, rather than an empty one, stops the list too.
        ini += "ProductCode" + QByteArray::number(codes.size() + 1) + "=product99\n";
        Fixture f;
        const QString package = f.prepare(ini, installed + QList<int> {99});
        f.installed.insert(u"product97"_s, {u"Product 97 1.0"_s, QString()});
        f.installed.insert(u"product98"_s, {QString(), u"remove 98"_s});
        f.answer = answer;

        QCOMPARE(f.run(), answer == SetupMessages::Answer::Cancel ? 1 : 0);
        QStringList expected;
        QString list;
        for (int n : queried)
            expected.append(u"query "_s + f.product(n));
        if (!found.isEmpty())
            expected.append(Question);
        for (int n : found) {
            if (answer == SetupMessages::Answer::Yes)
                expected.append(u"run remove|"_s + QString::number(n));
            list += u"Product %1 1.0\n"_s.arg(n);
        }
        if (answer != SetupMessages::Answer::Cancel)
            expected.append(u"open "_s + package);
        QCOMPARE(f.events, expected);
        QCOMPARE(f.boxes, found.isEmpty() ? QStringList() : QStringList {QuestionText(list)});
    }

    void uninstallCommands_data()
    {
        QTest::addColumn<QString>("uninstallString");
        QTest::addColumn<QByteArray>("uiLevel"); // the UILevel line, if any
        QTest::addColumn<QString>("started"); // program|argument|...
        QTest::newRow("/I rewritten") << u"MsiExec.exe /I{5E3C}"_s << QByteArray() << u"MsiExec.exe|/qr|/x{5E3C}"_s;
        QTest::newRow("level from the file, cut at 15")
            << u"MsiExec.exe /I{5E3C}"_s << QByteArray("UILevel=abcdefghijklmnopqrst") << u"MsiExec.exe|/abcdefghijklmno|/x{5E3C}"_s;
        QTest::newRow("first /I only") << u"x /Ia /Ib"_s << QByteArray() << u"x|/qr|/xa|/Ib"_s;
        QTest::newRow("lower-case /i left alone") << u"MsiExec.exe /i{5E3C}"_s << QByteArray() << u"MsiExec.exe|/i{5E3C}"_s;
        QTest::newRow("/I without a blank left alone") << u"MsiExec.exe/I{5E3C}"_s << QByteArray() << u"MsiExec.exe/I{5E3C}"_s;
        QTest::newRow("no shell: separators are words")
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

    void uninstallThatCannotStart()
    {
        for (const bool installerPresent : {true, false}) {
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
    }

    void startingThePackage_data()
    {
        QTest::addColumn<QByteArray>("modeLine");
        QTest::addColumn<bool>("asProgram"); // else through the desktop
        QTest::addColumn<int>("error"); // what starting or opening gives
        QTest::newRow("absent") << QByteArray() << false << 0;
        QTest::newRow("leading blank") << QByteArray("Mode=\" 2\"") << true << 0;
        QTest::newRow("digit then text") << QByteArray("Mode=2x") << true << 0;
        QTest::newRow("minus two") << QByteArray("Mode=-2") << false << 0;
        QTest::newRow("22") << QByteArray("Mode=22") << false << 0;
        QTest::newRow("overflow") << QByteArray("Mode=99999999999999999992") << false << 0;
        QTest::newRow("no digits") << QByteArray("Mode=abc") << false << 0;
        QTest::newRow("program that cannot start") << QByteArray("Mode=2") << true << EACCES;
        QTest::newRow("desktop that cannot open") << QByteArray("Mode=1") << false << EOPNOTSUPP;
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
