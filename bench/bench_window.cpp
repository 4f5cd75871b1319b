// Times a Count through the main window (progress window, event rounds during
// the run) against perrox-batch --count on the same files, one generated
// 256 MiB file and a generated tree of 9,600 small files, and prints the
// window's overhead.
// Run on demand: cmake --build build --target run-bench-window
#include "app/mainwindow.h"
#include "benchsupport.h"
#include "files/filelistview.h"
#include "files/filesystem.h"
#include "silentsink.h"

#include <QApplication>
#include <QDir>
#include <QDirIterator>
#include <QElapsedTimer>
#include <QFile>
#include <QLineEdit>
#include <QProcess>
#include <QTemporaryDir>

#include <algorithm>
#include <cstdio>

namespace {

constexpr qint64 kMiB = 1 << 20;

void generate(const QString &path, qint64 size)
{
    QFile f(path);
    if (!f.open(QIODevice::WriteOnly | QIODevice::Truncate))
        std::exit(1);
    QByteArray chunk;
    for (int i = 0; chunk.size() < kMiB; ++i)
        chunk += (i % 50 == 0) ? QByteArray("needle ") : QByteArray("hay") + QByteArray::number(i % 97) + ' ';
    chunk.truncate(kMiB);
    for (qint64 written = 0; written < size; written += chunk.size())
        f.write(chunk);
}

template<typename F> double best(F run)
{
    double t = 1e9;
    for (int i = 0; i < 3; ++i)
        t = std::min(t, run());
    return t;
}

} // namespace

int main(int argc, char **argv)
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    const qint64 size = (argc > 1 ? QByteArray(argv[1]).toLongLong() : 256) * kMiB;
    QTemporaryDir dir(QDir::currentPath() + QLatin1String("/perrox-bench-XXXXXX"));
    if (!dir.isValid())
        return 1;
    qputenv("TEMP", perrox::NativePath(dir.path()));
    const QString file = dir.filePath(QStringLiteral("data.txt"));
    std::printf("generating %lld MiB in %s\n", size / kMiB, qPrintable(dir.path()));
    generate(file, size);

    const double batch = best([&] {
        QElapsedTimer t;
        t.start();
        QProcess p;
        p.setStandardOutputFile(QProcess::nullDevice());
        p.start(QStringLiteral(PERROX_BATCH_BINARY),
            {QStringLiteral("--count"), QStringLiteral("--find"), QStringLiteral("needle"), QStringLiteral("--with"), QStringLiteral("pin"), file});
        p.waitForFinished(-1);
        return t.elapsed() / 1000.0;
    });

    SilentSink sink;
    // Preferences of its own, so the developer's are never read.
    perrox::MainWindow window(&sink, dir.filePath(QStringLiteral("prefs.conf")));
    window.show();
    auto *files = window.findChild<perrox::FileListView *>(QStringLiteral("lvwFiles"));
    auto *edSearch = window.findChild<QLineEdit *>(QStringLiteral("edSearch"));
    window.AddFileToList(file);
    window.UpdateCommands();
    edSearch->setText(QStringLiteral("needle"));
    const auto runWindow = [&](int interval) {
        window.setEventPumpInterval(interval);
        return best([&] {
            QElapsedTimer t;
            t.start();
            window.ProcessFiles(perrox::RunMode::Count);
            return t.elapsed() / 1000.0;
        });
    };
    const double throttled = runWindow(10);
    const double everyBlock = runWindow(0);

    // The same for a tree of small files, where the window's work per file
    // counts rather than its work per block.
    const QString tree = dir.filePath(QStringLiteral("tree"));
    bench::generateTree(tree);
    QStringList treeFiles;
    for (QDirIterator it(tree, QDir::Files, QDirIterator::Subdirectories); it.hasNext();)
        treeFiles << it.next();
    treeFiles.sort();
    const double batchTree = best([&] {
        QElapsedTimer t;
        t.start();
        QProcess p;
        p.setStandardOutputFile(QProcess::nullDevice());
        p.start(QStringLiteral(PERROX_BATCH_BINARY),
            QStringList {
                QStringLiteral("--count"), QStringLiteral("--find"), QStringLiteral("namespace"), QStringLiteral("--with"), QStringLiteral("NAMESPACE")}
                + treeFiles);
        p.waitForFinished(-1);
        return t.elapsed() / 1000.0;
    });
    files->clear();
    for (const QString &f : treeFiles)
        window.AddFileToList(f);
    window.UpdateCommands();
    edSearch->setText(QStringLiteral("namespace"));
    const double windowTree = runWindow(10);

    std::printf("perrox-batch --count, 256 MiB        %7.3f s\n", batch);
    std::printf("window Count (events every 10 ms)    %7.3f s   overhead %+.1f %%\n", throttled, 100.0 * (throttled / batch - 1));
    std::printf("window Count (events every block)    %7.3f s   overhead %+.1f %%\n", everyBlock, 100.0 * (everyBlock / batch - 1));
    std::printf("perrox-batch --count, %5lld files    %7.3f s\n", qint64(treeFiles.size()), batchTree);
    std::printf("window Count (events every 10 ms)    %7.3f s   overhead %+.1f %%\n", windowTree, 100.0 * (windowTree / batchTree - 1));
    bench::report("window overhead, 256 MiB file, %", 100.0 * (throttled / batch - 1), 20.0);
    bench::report("window overhead, tree, %", 100.0 * (windowTree / batchTree - 1), 20.0);
    return 0;
}
