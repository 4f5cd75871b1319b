// Times a drop of a folder tree of 100,000 files on the file list, through
// the same drop event a file manager sends, against `find` over the tree.
// Run on demand: cmake --build build --target run-bench-drop
#include "app/mainwindow.h"
#include "files/filelistview.h"
#include "silentsink.h"

#include <QApplication>
#include <QDir>
#include <QDropEvent>
#include <QElapsedTimer>
#include <QFile>
#include <QLabel>
#include <QMimeData>
#include <QProcess>
#include <QTemporaryDir>
#include <QUrl>

#include <cstdio>

int main(int argc, char **argv)
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    const int files = argc > 1 ? QByteArray(argv[1]).toInt() : 100000;
    if (files < 1) {
        std::fprintf(stderr, "usage: bench_drop [NUMBER OF FILES, at least 1]\n");
        return 2;
    }
    QTemporaryDir dir(QDir::currentPath() + QLatin1String("/perrox-bench-XXXXXX"));
    if (!dir.isValid())
        return 1;
    const QString root = dir.filePath(QStringLiteral("tree"));
    std::printf("generating %d files under %s\n", files, qPrintable(root));
    const int perFolder = 1000;
    for (int i = 0; i < files; ++i) {
        const QString folder = root + QStringLiteral("/d%1/sub").arg(i / perFolder, 3, 10, QLatin1Char('0'));
        if (i % perFolder == 0)
            QDir().mkpath(folder);
        QFile f(folder + QStringLiteral("/file%1.txt").arg(i, 6, 10, QLatin1Char('0')));
        f.open(QIODevice::WriteOnly);
    }

    QElapsedTimer t;
    t.start();
    QProcess find;
    find.setStandardOutputFile(QProcess::nullDevice());
    find.start(QStringLiteral("find"), {root, QStringLiteral("-type"), QStringLiteral("f")});
    find.waitForFinished(-1);
    const double tFind = t.elapsed() / 1000.0;

    SilentSink sink;
    // Preferences of its own, so the developer's are never read.
    perrox::MainWindow window(&sink, dir.filePath(QStringLiteral("prefs.conf")));
    window.show();
    QCoreApplication::processEvents();
    QMimeData data;
    data.setUrls({QUrl::fromLocalFile(root)});
    const auto *list = window.findChild<perrox::FileListView *>(QStringLiteral("lvwFiles"));
    QWidget *target = list->viewport();
    const QPointF at(20, 20);
    t.restart();
    QDragEnterEvent enter(at.toPoint(), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
    QCoreApplication::sendEvent(target, &enter);
    QDropEvent drop(at, Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
    QCoreApplication::sendEvent(target, &drop);
    // The scan starts once the drop event has returned.
    QElapsedTimer waited;
    waited.start();
    do
        QCoreApplication::processEvents();
    while ((list->busy() || list->topLevelItemCount() == 0) && waited.elapsed() < 600000);
    if (list->topLevelItemCount() != files) {
        std::fprintf(stderr, "the drop gave %d rows instead of %d\n", list->topLevelItemCount(), files);
        return 1;
    }
    const double tDrop = t.elapsed() / 1000.0;

    std::printf("find -type f            %7.3f s\n", tFind);
    std::printf("drop on the file list   %7.3f s   (%d rows, %.1f x find)\n", tDrop, list->topLevelItemCount(), tDrop / tFind);
    std::printf("status text: %s\n", qPrintable(window.findChild<QLabel *>(QStringLiteral("staBarText"))->text()));
    return 0;
}
