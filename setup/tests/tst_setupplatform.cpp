#include "desktopservices.h"
#include "dpkgproducts.h"
#include "spawnstarter.h"

#include <QAbstractButton>
#include <QApplication>
#include <QFile>
#include <QImage>
#include <QLabel>
#include <QMessageBox>
#include <QScreen>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include <cerrno>

using namespace setup;
using namespace Qt::StringLiterals;

namespace {

QString WriteFile(const QString &path, const QByteArray &content)
{
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write(content) != content.size())
        qFatal("cannot write %s", qPrintable(path));
    return path;
}

} // namespace

// The services behind setup on this system: dpkg's database, starting
// programs, the splash window and the message boxes.
class TestSetupPlatform : public QObject
{
    Q_OBJECT

private slots:
    void installedProducts_data()
    {
        QTest::addColumn<QString>("code");
        QTest::addColumn<bool>("root");
        QTest::addColumn<QString>("uninstallString"); // "none": no product
        QTest::newRow("installed, as root") << u"dpkg"_s << true << u"dpkg --remove dpkg"_s;
        QTest::newRow("installed, as a user") << u"dpkg"_s << false << u"pkexec dpkg --remove dpkg"_s;
        QTest::newRow("unknown package") << u"perrox-no-such-package"_s << true << u"none"_s;
        QTest::newRow("pattern") << u"dpk*"_s << true << u"none"_s;
        QTest::newRow("option") << u"--list"_s << true << u"none"_s;
    }
    void installedProducts()
    {
        QFETCH(QString, code);
        QFETCH(bool, root);
        QFETCH(QString, uninstallString);
        if (QStandardPaths::findExecutable(u"dpkg-query"_s).isEmpty())
            QSKIP("dpkg-query is not installed");
        const std::optional<InstalledProduct> product = DpkgProducts(root).open(code);
        QCOMPARE(product ? product->uninstallString : u"none"_s, uninstallString);
        if (product)
            QVERIFY2(product->displayName.startsWith(u"dpkg 1."_s), qPrintable(product->displayName));
    }

    // runAndWait waits for the program, start does not; a program that cannot start gives the errno value.
    void programs()
    {
        QTemporaryDir dir;
        const QString done = dir.filePath(u"done"_s);
        const QString script = WriteFile(dir.filePath(u"install"_s), "#!/bin/sh\nsleep 1\necho > \"" + QFile::encodeName(done) + "\"\n");
        QVERIFY(QFile::setPermissions(script, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner));
        SpawnStarter programs;
        QCOMPARE(programs.runAndWait(script, {}), 0);
        QVERIFY(QFile::remove(done));
        QCOMPARE(programs.start(script), 0);
        QVERIFY(!QFile::exists(done));
        QTRY_VERIFY_WITH_TIMEOUT(QFile::exists(done), 10000);
        const QString package = WriteFile(dir.filePath(u"package.deb"_s), "!<arch>\n"); // not executable
        for (const auto &[program, error] : {std::pair(u"perrox-no-such-program"_s, ENOENT), {QString(), ENOENT}, {package, EACCES}}) {
            QCOMPARE(programs.runAndWait(program, {u"--help"_s}), error);
            QCOMPARE(programs.start(program), error);
        }
    }

    void splashWindow()
    {
        QTemporaryDir dir;
        const QString bitmap = dir.filePath(u"setup.BMP"_s);
        QImage image(41, 30, QImage::Format_RGB32);
        image.fill(Qt::darkBlue);
        QVERIFY(image.save(bitmap, "BMP"));
        const QRect screen = QGuiApplication::primaryScreen()->geometry();
        const std::unique_ptr<QLabel> window = CreateSplashWindow(bitmap);
        QCOMPARE(window->size(), QSize(41, 30));
        QCOMPARE(window->pos(), screen.topLeft() + QPoint((screen.width() - 41) / 2, (screen.height() - 30) / 2));

        QCOMPARE(CreateSplashWindow(WriteFile(dir.filePath(u"broken.BMP"_s), "BM not a bitmap"))->size(), QSize(0, 0));
        // The picture that ships (8-bit, RLE compressed) loads at its full size.
        QCOMPARE(CreateSplashWindow(QStringLiteral(SETUP_SHIPPED_BITMAP))->size(), QSize(420, 160));
        SplashWindow(10).show(bitmap); // shows, waits, hides and is gone
        for (const QWidget *window : QApplication::topLevelWidgets())
            QVERIFY(!window->isVisible());
    }

    void messageBoxes_data()
    {
        QTest::addColumn<SetupMessages::Icon>("icon");
        QTest::addColumn<SetupMessages::Buttons>("buttons");
        QTest::addColumn<int>("press"); // a QMessageBox::StandardButton, or 0 for Escape
        QTest::addColumn<SetupMessages::Answer>("answer");
        using M = SetupMessages;
        QTest::newRow("warning") << M::Icon::Warning << M::Buttons::Ok << int(QMessageBox::Ok) << M::Answer::Ok;
        QTest::newRow("yes") << M::Icon::Question << M::Buttons::YesNoCancel << int(QMessageBox::Yes) << M::Answer::Yes;
        QTest::newRow("no") << M::Icon::Question << M::Buttons::YesNoCancel << int(QMessageBox::No) << M::Answer::No;
        QTest::newRow("escape is cancel") << M::Icon::Question << M::Buttons::YesNoCancel << 0 << M::Answer::Cancel;
    }
    void messageBoxes()
    {
        QFETCH(SetupMessages::Icon, icon);
        QFETCH(SetupMessages::Buttons, buttons);
        QFETCH(int, press);
        QFETCH(SetupMessages::Answer, answer);
        QString shown; // icon, title and buttons of the box
        QTimer timer; // answers the box once it is up; the test never waits on a person
        connect(&timer, &QTimer::timeout, this, [&] {
            if (auto *box = qobject_cast<QMessageBox *>(QApplication::activeModalWidget())) {
                timer.stop();
                shown = u"%1 %2 %3"_s.arg(box->icon()).arg(box->windowTitle()).arg(box->standardButtons().toInt(), 0, 16);
                press == 0 ? QTest::keyClick(box, Qt::Key_Escape) : box->button(QMessageBox::StandardButton(press))->click();
            }
        });
        timer.start(10);
        QCOMPARE(BoxMessages().show(u"text"_s, icon, buttons, SetupMessages::title()), answer);
        const bool question = icon == SetupMessages::Icon::Question;
        QCOMPARE(shown,
            u"%1 Tarvel Setup %2"_s.arg(question ? QMessageBox::Question : QMessageBox::Warning)
                .arg(int(question ? QMessageBox::Yes | QMessageBox::No | QMessageBox::Cancel : QMessageBox::Ok), 0, 16));
    }
};

QTEST_MAIN(TestSetupPlatform)
#include "tst_setupplatform.moc"
