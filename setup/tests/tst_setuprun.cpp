#include "inifile.h"
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

using Answer = SetupMessages::Answer;
const QString Warning = u"warning Tarvel Setup"_s;
const QString Question = u"question Tarvel Setup"_s;
const QString Url = u"https://perrox.example.org/download"_s;

// A folder with setup in it, and fakes of the services that log everything a run does, in order, with paths relative to the folder: "question|warning
// TITLE" for a box (its text goes to boxes), "splash PATH", "query CODE", "run PROGRAM|ARG|...", "start PATH", "open PATH".
struct Fixture : SetupMessages, InstalledProducts, ProgramStarter, SplashScreen
{
    struct Opener : FileOpener
    {
        Fixture *f = nullptr;
        int open(const QString &path) override { return f->log(u"open "_s, path); }
    } opener;

    // An installer that exists, so messages carry no note unless a test says so.
    Fixture()
    {
        opener.f = this;
        services.installerPath = write(u"dpkg"_s, {});
    }
    // Returns the error set for the event's first word.
    int log(const QString &event, const QString &path)
    {
        events.append(event + (path.startsWith(folder) ? path.mid(folder.size()) : path));
        return errors.value(event.trimmed());
    }
    Answer show(const QString &text, Icon icon, Buttons buttons, const QString &title) override
    {
        const bool question = icon == Icon::Question && buttons == Buttons::YesNoCancel, warning = icon == Icon::Warning && buttons == Buttons::Ok;
        boxes.append(text);
        log(question ? u"question "_s : warning ? u"warning "_s : u"odd "_s, title);
        return question ? answer : Answer::Ok;
    }
    std::optional<InstalledProduct> open(const QString &code) override
    {
        log(u"query "_s, code);
        return installed.contains(code) ? std::optional(installed.value(code)) : std::nullopt;
    }
    int runAndWait(const QString &program, const QStringList &arguments) override { return log(u"run "_s, (QStringList {program} + arguments).join(u'|')); }
    int start(const QString &program) override { return log(u"start "_s, program); }
    void show(const QString &bitmapPath) override { log(u"splash "_s, bitmapPath); }

    QString write(const QString &name, const QByteArray &content)
    {
        QFile file(folder + name);
        if (!file.open(QIODevice::WriteOnly) || file.write(content) != content.size())
            qFatal("cannot write %s", qPrintable(file.fileName()));
        return file.fileName();
    }
    // Writes setup.INI and an empty setup.deb, and installs product<n> for each n.
    void prepare(const QByteArray &ini, const QList<int> &products = {})
    {
        write(u"setup.INI"_s, ini);
        write(u"setup.deb"_s, {});
        for (int n : products)
            installed.insert(u"product"_s + QString::number(n), {u"Product %1 1.0"_s.arg(n), u"remove %1"_s.arg(n)});
    }
    int run() { return RunSetup(folder + u"setup"_s, services); }

    QTemporaryDir dir;
    QString folder = dir.path() + u'/';
    QStringList events;
    QStringList boxes;
    Answer answer = Answer::Yes;
    QHash<QString, InstalledProduct> installed;
    QHash<QString, int> errors; // by the first word of the event: "run", "start", "open"
    SetupServices services {*this, *this, *this, opener, *this};
};

QString QuestionText(const QString &list)
{
    return u"Setup has found a previous version of the application on your computer:\n"_s + list + u"\nDo you want to uninstall the previous version?"_s;
}

// setup.INI after "[Uninstall]\nProductCode0=old\n"; the uninstall command of the product "old", which is installed when there is one; the error
// starting or opening the package gives; the events after the query and question.
struct RunCase
{
    const char *name, *ini, *uninstall;
    int error;
    const char *events;
};
const RunCase kRuns[] = {
    {"mode with a leading blank", "[Install]\nMode=\" 2\"", nullptr, 0, "start setup.deb"},
    {"mode digit then text", "[Install]\nMode=2x", nullptr, 0, "start setup.deb"},
    {"mode minus two", "[Install]\nMode=-2", nullptr, 0, "open setup.deb"},
    // A package that cannot start still ends setup normally.
    {"program that cannot start", "[Install]\nMode=2", nullptr, EACCES, "start setup.deb; warning Tarvel Setup"},
    {"/I rewritten", "", "MsiExec.exe /I{5E3C}", 0, "run MsiExec.exe|/qr|/x{5E3C}; open setup.deb"},
    {"level from the file, cut at 15", "UILevel=abcdefghijklmnopqrst", "MsiExec.exe /I{5E3C}", 0, "run MsiExec.exe|/abcdefghijklmno|/x{5E3C}; open setup.deb"},
    {"no shell: separators are words", "", "dpkg --remove \"old perrox\"; rm -rf /", 0, "run dpkg|--remove|old perrox;|rm|-rf|/; open setup.deb"},
};

} // namespace

class TestSetupRun : public QObject
{
    Q_OBJECT

private slots:
    // The INI reader on real files: what it adds to libinih (case, first key,
    // quotes, empty versus absent) and the long lines libinih cannot take whole.
    void iniValue_data()
    {
        QTest::addColumn<QByteArray>("content"); // null: no file
        QTest::addColumn<QString>("key"); // section/key
        QTest::addColumn<QString>("expected"); // "<default>" when the default comes back
        const QByteArray long300(300, 'u'), long600(600, 'v');
        QTest::newRow("no file") << QByteArray() << u"Install/Mode"_s << u"<default>"_s;
        QTest::newRow("first of two keys") << QByteArray("[Install]\nMode=2\nMode=3\n") << u"Install/Mode"_s << u"2"_s;
        QTest::newRow("quotes removed") << QByteArray("[Install]\nFileName=\" my file.deb \"\n") << u"Install/FileName"_s << u" my file.deb "_s;
        QTest::newRow("single quotes removed") << QByteArray("[Install]\nMode=' 2'\n") << u"Install/Mode"_s << u" 2"_s;
        QTest::newRow("unmatched quote kept") << QByteArray("[Install]\nFileName=\"a.deb\n") << u"Install/FileName"_s << u"\"a.deb"_s;
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
    void iniValue()
    {
        QFETCH(QByteArray, content);
        QFETCH(QString, key);
        QFETCH(QString, expected);
        Fixture f;
        if (!content.isNull())
            f.write(u"setup.INI"_s, content);
        QCOMPARE(IniFile(f.folder + u"setup.INI"_s).value(key.section(u'/', 0, 0), key.section(u'/', 1), u"<default>"_s), expected);
    }

    void missingFiles_data()
    {
        QTest::addColumn<QByteArray>("ini"); // null: only a lower-case setup.ini, and the package
        QTest::addColumn<QString>("file"); // the file the message names, in setup's folder
        QTest::addColumn<QString>("url");
        const QByteArray url200 = "https://example.org/" + QByteArray(180, 'x');
        QTest::newRow("no INI") << QByteArray() << u"setup.INI"_s << Url;
        QTest::newRow("name of a folder") << QByteArray("[Install]\nFileName=sub\n") << u"sub"_s << Url;
        QTest::newRow("percent sign in the name") << QByteArray("[Install]\nFileName=100%s.deb\n") << u"100%s.deb"_s << Url;
        QTest::newRow("download address of 200 characters") << "[Install]\nDownloadURL=" + url200 + "\n"
                                                            << u"setup.deb"_s << QString::fromLatin1(url200.left(127));
    }
    void missingFiles()
    {
        QFETCH(QByteArray, ini);
        QFETCH(QString, file);
        QFETCH(QString, url);
        Fixture f;
        QVERIFY(QDir(f.folder).mkdir(u"sub"_s));
        f.write(u"setup.BMP"_s, "BM");
        f.installed.insert(u"product0"_s, {u"Product 0 1.0"_s, u"remove 0"_s});
        if (ini.isNull()) {
            f.write(u"setup.ini"_s, "[Install]\n"); // the name is looked up with an upper-case extension
            f.write(u"setup.deb"_s, "!<arch>\n");
        } else {
            f.write(u"setup.INI"_s, ini + "[Uninstall]\nProductCode0=product0\n");
        }
        QCOMPARE(f.run(), 1);
        // Without the INI nothing else is looked at, not even the splash picture.
        QCOMPARE(f.events, ini.isNull() ? QStringList {Warning} : QStringList({u"splash setup.BMP"_s, Warning}));
        const QString what = ini.isNull() ? f.folder + file + u"."_s : u"\""_s + f.folder + file + u"\" to install."_s;
        QCOMPARE(f.boxes,
            QStringList {u"Setup cannot find the file "_s + what + u"\n\nDownload a complete installation package from "_s + url + u" and run Setup again."_s});
    }

    // product97 and product98 are installed but lack the uninstall command or the name: no previous versions.
    void previousVersions_data()
    {
        QTest::addColumn<QList<int>>("codes"); // ProductCode0, 1, ... name product<n>; -1 writes an empty value
        QTest::addColumn<QList<int>>("installed");
        QTest::addColumn<QList<int>>("queried");
        QTest::addColumn<QList<int>>("found");
        QTest::addColumn<Answer>("answer");
        using L = QList<int>;
        L twenty;
        for (int n = 0; n < 20; ++n)
            twenty.append(n);
        QTest::newRow("missing ones skipped") << L {0, 1, 97, 2, 98, 3} << L {1, 3} << L {0, 1, 97, 2, 98, 3} << L {1, 3} << Answer::Yes;
        QTest::newRow("empty code ends the list") << L {0, -1, 2} << L {0, 2} << L {0} << L {0} << Answer::Yes;
        QTest::newRow("twenty installed") << twenty << twenty << twenty.mid(0, 16) << twenty.mid(0, 16) << Answer::Yes;
        QTest::newRow("answer no: installs only") << L {0, 97, 98} << L {0} << L {0, 97, 98} << L {0} << Answer::No;
        QTest::newRow("cancel: neither") << L {0, 97, 98} << L {0} << L {0, 97, 98} << L {0} << Answer::Cancel;
    }
    void previousVersions()
    {
        QFETCH(QList<int>, codes);
        QFETCH(QList<int>, installed);
        QFETCH(QList<int>, queried);
        QFETCH(QList<int>, found);
        QFETCH(Answer, answer);
        QByteArray ini = "[Uninstall]\n";
        for (int i = 0; i < codes.size(); ++i)
            ini += "ProductCode" + QByteArray::number(i) + "=" + (codes.at(i) < 0 ? QByteArray() : "product" + QByteArray::number(codes.at(i))) + "\n";
        // A code after an absent one, rather than an empty one, stops the list too.
        ini += "ProductCode" + QByteArray::number(codes.size() + 1) + "=product99\n";
        Fixture f;
        f.prepare(ini, installed + QList<int> {99});
        f.installed.insert(u"product97"_s, {u"Product 97 1.0"_s, QString()});
        f.installed.insert(u"product98"_s, {QString(), u"remove 98"_s});
        f.answer = answer;
        QCOMPARE(f.run(), answer == Answer::Cancel ? 1 : 0);
        QStringList expected;
        QString list;
        for (int n : queried)
            expected.append(u"query product"_s + QString::number(n));
        if (!found.isEmpty())
            expected.append(Question);
        for (int n : found) {
            if (answer == Answer::Yes)
                expected.append(u"run remove|"_s + QString::number(n));
            list += u"Product %1 1.0\n"_s.arg(n);
        }
        if (answer != Answer::Cancel)
            expected.append(u"open setup.deb"_s);
        QCOMPARE(f.events, expected);
        QCOMPARE(f.boxes, found.isEmpty() ? QStringList() : QStringList {QuestionText(list)});
    }

    void runs_data()
    {
        QTest::addColumn<int>("i");
        for (int i = 0; i < int(std::size(kRuns)); ++i)
            QTest::newRow(kRuns[i].name) << i;
    }
    void runs()
    {
        QFETCH(int, i);
        const RunCase &c = kRuns[i];
        Fixture f;
        f.prepare("[Uninstall]\nProductCode0=old\n" + QByteArray(c.ini) + "\n");
        if (c.uninstall)
            f.installed.insert(u"old"_s, {u"Old"_s, QString::fromUtf8(c.uninstall)});
        f.errors = {{u"start"_s, c.error}, {u"open"_s, c.error}};
        QCOMPARE(f.run(), 0);
        QCOMPARE(f.events.join(u"; "_s), (c.uninstall ? u"query old; question Tarvel Setup; "_s : u"query old; "_s) + QString::fromUtf8(c.events));
        QCOMPARE(f.boxes,
            (c.uninstall ? QStringList {QuestionText(u"Old\n"_s)} : QStringList())
                + (c.error ? QStringList {QString::fromLocal8Bit(std::strerror(c.error))} : QStringList()));
    }

    void uninstallThatCannotStart()
    {
        for (const bool installerPresent : {true, false}) {
            Fixture f;
            f.prepare("[Uninstall]\nProductCode0=product0\nProductCode1=product1\nProductCode2=product2\n", {0, 2});
            f.installed.insert(u"product1"_s, {u"Product 1 1.0"_s, u"   "_s}); // splits into no words
            f.errors.insert(u"run"_s, ENOENT);
            if (!installerPresent)
                f.services.installerPath = f.folder + u"bin/dpkg"_s;
            QCOMPARE(f.run(), 0);
            QCOMPARE(f.events,
                QStringList({u"query product0"_s, u"query product1"_s, u"query product2"_s, Question, u"run remove|0"_s, Warning, Warning, u"run remove|2"_s,
                    Warning, u"open setup.deb"_s}));
            const QString note = installerPresent ? QString()
                                                  : u"\nNote: Setup cannot find the Windows Installer executable file \""_s + f.services.installerPath
                    + u"\".\nDownload Windows Installer from "_s + Url + u", install it, and run Setup again."_s;
            QCOMPARE(f.boxes.mid(1), QStringList(3, QString::fromLocal8Bit(std::strerror(ENOENT)) + note));
        }
    }
};

QTEST_APPLESS_MAIN(TestSetupRun)
#include "tst_setuprun.moc"
