#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>

#include "runprogram.h"

using namespace Qt::StringLiterals;

// Builds the Debian package the way the "package" target does, into a
// temporary folder, and checks what it holds and what it says of itself.
class TestPackage : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase()
    {
        QVERIFY(m_dir.isValid());
        // The tools run here keep their temporary files in this test's folder,
        // which goes with everything in it: lintian leaves some behind.
        const QString temp = m_dir.filePath(u"tmp"_s);
        QVERIFY(QDir().mkpath(temp));
        qputenv("TMPDIR", QFile::encodeName(temp));
        const QString out = m_dir.filePath(u"out"_s);
        const Run cpack = RunProgram(
            QStringLiteral(PERROX_CPACK), {u"--config"_s, QStringLiteral(PERROX_PACKAGE_CONFIG), u"-B"_s, out, u"-D"_s, u"CPACK_OUTPUT_FILE_PREFIX="_s + out});
        QVERIFY2(cpack.exitCode == 0, qPrintable(cpack.out + cpack.err));
        const Run arch = RunProgram(u"dpkg"_s, {u"--print-architecture"_s});
        QCOMPARE(arch.exitCode, 0);
        const QString name = u"perrox_"_s + QStringLiteral(PERROX_PACKAGE_VERSION) + u'_' + arch.out.trimmed() + u".deb"_s;
        QCOMPARE(QDir(out).entryList({u"*.deb"_s}, QDir::Files), QStringList {name});
        m_package = out + u'/' + name;
        m_tree = m_dir.filePath(u"tree"_s);
        const Run extract = RunProgram(u"dpkg-deb"_s, {u"--extract"_s, m_package, m_tree});
        QVERIFY2(extract.exitCode == 0, qPrintable(extract.err));
    }

    void controlFields_data()
    {
        QTest::addColumn<QString>("pattern"); // the row's name is the field's
        QTest::newRow("Version") << u"^"_s + QRegularExpression::escape(QStringLiteral(PERROX_PACKAGE_VERSION)) + u'$';
        // A summary phrase without the final full stop, then the long description, each of its lines after exactly one blank.
        QTest::newRow("Description") << u"^Replace characters or any bytes in your files(\\n [^ \\n][^\\n]*)+$"_s;
        // The Qt runtime, worked out from the binaries: "libc6 (>= 2.34), libqt6core6 (>= 6.4.2), ...".
        QTest::newRow("Depends") << u"^(?=(.*, )?libqt6core6( |,|$))(?=(.*, )?libqt6gui6( |,|$))(?=(.*, )?libqt6widgets6( |,|$))(?=(.*, )?libc6( |,|$))"_s;
    }
    void controlFields()
    {
        const QString name = QString::fromLatin1(QTest::currentDataTag());
        QFETCH(QString, pattern);
        const Run run = RunProgram(u"dpkg-deb"_s, {u"--field"_s, m_package, name});
        const QString value = run.exitCode == 0 ? run.out.trimmed() : u"<dpkg-deb failed: "_s + run.err + u'>';
        QVERIFY2(QRegularExpression(pattern, QRegularExpression::DotMatchesEverythingOption).match(value).hasMatch(), qPrintable(name + u": "_s + value));
    }

    void files()
    {
        const Run list = RunProgram(u"dpkg-deb"_s, {u"--contents"_s, m_package});
        QCOMPARE(list.exitCode, 0);
        // "-rwxr-xr-x root/root 12345 2024-01-01 00:00 ./usr/bin/perrox-batch", links with " -> target".
        QStringList files;
        for (const QString &line : list.out.split(u'\n', Qt::SkipEmptyParts)) {
            const QStringList words = line.split(u' ', Qt::SkipEmptyParts);
            QVERIFY2(words.size() >= 6, qPrintable(line));
            QCOMPARE(words.at(1), u"root/root"_s);
            if (!words.at(0).startsWith(u'd'))
                files.append(words.at(0) + u' ' + words.mid(5).join(u' '));
        }
        files.sort();
        QCOMPARE(files,
            QStringList({u"-rw-r--r-- ./usr/lib/perrox/help.txt"_s, u"-rw-r--r-- ./usr/share/applications/org.example.perrox.desktop"_s,
                u"-rw-r--r-- ./usr/share/bash-completion/completions/perrox-batch"_s, u"-rw-r--r-- ./usr/share/doc/perrox/changelog.gz"_s,
                u"-rw-r--r-- ./usr/share/doc/perrox/copyright"_s, u"-rw-r--r-- ./usr/share/icons/hicolor/scalable/apps/org.example.perrox.svg"_s,
                u"-rw-r--r-- ./usr/share/lintian/overrides/perrox"_s, u"-rw-r--r-- ./usr/share/man/man1/perrox-batch.1.gz"_s,
                u"-rw-r--r-- ./usr/share/man/man1/perrox.1.gz"_s, u"-rw-r--r-- ./usr/share/metainfo/org.example.perrox.metainfo.xml"_s,
                u"-rw-r--r-- ./usr/share/zsh/vendor-completions/_perrox-batch"_s, u"-rwxr-xr-x ./usr/bin/perrox-batch"_s,
                u"-rwxr-xr-x ./usr/lib/perrox/perrox"_s, u"lrwxrwxrwx ./usr/bin/perrox -> ../lib/perrox/perrox"_s}));
        // Exec and Icon name the link in /usr/bin, which leads to the program inside the package, and the icon the package holds;
        // file managers hand the program the files to open.
        QFile entry(m_tree + u"/usr/share/applications/org.example.perrox.desktop"_s);
        QVERIFY(entry.open(QIODevice::ReadOnly | QIODevice::Text));
        const QStringList lines = QString::fromUtf8(entry.readAll()).split(u'\n');
        QCOMPARE(lines.filter(QRegularExpression(u"^(Exec|Icon)="_s)), QStringList({u"Exec=perrox %F"_s, u"Icon=org.example.perrox"_s}));
        QVERIFY(QFileInfo(m_tree + u"/usr/bin/perrox"_s).isSymLink());
        QCOMPARE(QFileInfo(m_tree + u"/usr/bin/perrox"_s).canonicalFilePath(), QFileInfo(m_tree + u"/usr/lib/perrox/perrox"_s).canonicalFilePath());
        QVERIFY(QFileInfo(m_tree + u"/usr/share/icons/hicolor/scalable/apps/org.example.perrox.svg"_s).size() > 0);
        // The stripped programs from the package still start and answer.
        const Run batch = RunProgram(m_tree + u"/usr/bin/perrox-batch"_s, {u"--help"_s});
        QCOMPARE(batch.exitCode, 0);
        QVERIFY2(batch.out.startsWith(u"Usage: perrox-batch "_s), qPrintable(batch.err));
        const Run file = RunProgram(u"file"_s, {u"--brief"_s, m_tree + u"/usr/lib/perrox/perrox"_s});
        if (file.exitCode == 0)
            QVERIFY2(file.out.startsWith(u"ELF"_s), qPrintable(file.out));
        if (file.exitCode == 0)
            QVERIFY2(file.out.contains(u", stripped"_s), qPrintable(file.out));
    }

    // The checkers a Debian or desktop user's tools run on the package and its files.
    void checkers_data()
    {
        QTest::addColumn<QString>("program");
        QTest::addColumn<QStringList>("arguments"); // "%tree" and "%package" stand for the unpacked files and the .deb
        QTest::newRow("lintian") << u"lintian"_s << QStringList {u"--fail-on"_s, u"error,warning"_s, u"--display-info"_s, u"%package"_s};
        QTest::newRow("appstreamcli") << u"appstreamcli"_s
                                      << QStringList {
                                             u"validate"_s, u"--no-net"_s, u"--pedantic"_s, u"%tree/usr/share/metainfo/org.example.perrox.metainfo.xml"_s};
        QTest::newRow("desktop-file-validate") << u"desktop-file-validate"_s << QStringList {u"%tree/usr/share/applications/org.example.perrox.desktop"_s};
    }
    void checkers()
    {
        QFETCH(QString, program);
        QFETCH(QStringList, arguments);
        QVERIFY2(!QStandardPaths::findExecutable(program).isEmpty(), qPrintable(program + u" is missing; tools/dev test installs it"_s));
        for (QString &argument : arguments)
            argument.replace(u"%tree"_s, m_tree).replace(u"%package"_s, m_package);
        const Run run = RunProgram(program, arguments);
        QVERIFY2(run.exitCode == 0, qPrintable(run.out + run.err));
        // lintian reports each finding as "E: ", "W: ", "I: "...; errors and warnings fail, overridden tags come as "O: ".
        for (const QString &line : (run.out + run.err).split(u'\n'))
            QVERIFY2(!QRegularExpression(u"^[EW]: "_s).match(line).hasMatch(), qPrintable(line));
    }

private:
    QTemporaryDir m_dir;
    QString m_package;
    QString m_tree; // the package's files, unpacked
};

QTEST_GUILESS_MAIN(TestPackage)
#include "tst_package.moc"
