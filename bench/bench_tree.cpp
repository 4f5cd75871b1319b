// Times perrox-batch on a source tree against the pipelines people use
// instead: Replace against "rg -l | xargs sed -i" and "rg -l | xargs sd",
// Count with its default threads against "rg --count-matches" with ripgrep's
// and with one thread against "rg -j1 --count-matches", on fresh copies of /usr/include (or
// of a generated tree of the same shape where it is missing), and checks that
// Perrox's result is byte for byte sed's. Replace keeps its journal for Undo
// on the tree's file system, and is timed without it too. Beside each figure
// stands the time the benchmark's own reader takes to read every file once
// on as many threads, the limit no tool that reads
// them can beat.
// Run on demand: cmake --build build --target run-bench-tree; "bench_tree
// FOLDER count" times Count only.
#include "benchsupport.h"

#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QTemporaryDir>

#include <algorithm>
#include <cstdio>
#include <vector>

using namespace bench;

namespace {

const QString kFind = QStringLiteral("namespace");
const QString kWith = QStringLiteral("NAMESPACE");

int countFiles(const QString &root)
{
    int n = 0;
    for (QDirIterator it(root, QDir::Files | QDir::Hidden | QDir::System, QDirIterator::Subdirectories); it.hasNext(); it.next())
        ++n;
    return n;
}

void copyTree(const QString &from, const QString &to)
{
    QDir(to).removeRecursively();
    shell(QStringLiteral("cp -a %1 %2 && sync").arg(quoted(from), quoted(to)));
}

} // namespace

int main(int argc, char **argv)
{
    const QString batch = QStringLiteral(PERROX_BATCH_BINARY);
    for (const char *peer : {"rg", "sd", "sed", "xargs"}) {
        if (!have(peer)) {
            std::fprintf(stderr, "%s is missing: tools/dev bench installs it\n", peer);
            return 1;
        }
    }
    QTemporaryDir dir(QDir::currentPath() + QLatin1String("/perrox-bench-XXXXXX"));
    if (!dir.isValid()) {
        std::fprintf(stderr, "cannot create a folder here\n");
        return 1;
    }
    qputenv("TEMP", perrox::NativePath(dir.path())); // temporary files on the same file system as the tree
    qputenv("XDG_STATE_HOME", perrox::NativePath(dir.filePath(QStringLiteral("state")))); // and the journal

    QString source = argc > 1 ? QString::fromLocal8Bit(argv[1]) : QStringLiteral("/usr/include");
    int files = QDir(source).exists() ? countFiles(source) : 0;
    if (files < 5000) {
        std::printf("%s holds %d files; generating a tree of the same shape\n", qPrintable(source), files);
        source = dir.filePath(QStringLiteral("generated"));
        generateTree(source);
        files = countFiles(source);
    }
    const QString pristine = dir.filePath(QStringLiteral("pristine"));
    copyTree(source, pristine);
    const QString tree = dir.filePath(QStringLiteral("tree"));
    const QString bySed = dir.filePath(QStringLiteral("sed"));
    const QString bySd = dir.filePath(QStringLiteral("sd"));
    const QString noJournal = dir.filePath(QStringLiteral("nojournal"));
    std::printf("tree: %s, %d files\n", qPrintable(source), files);
    const std::vector<QByteArray> paths = listFiles(pristine);
    const int cores = processors();

    const QStringList countCommand {batch, QStringLiteral("--count"), QStringLiteral("--find"), kFind, QStringLiteral("--with"), kWith, pristine};
    const QStringList countOneCommand = QStringList {batch, QStringLiteral("--threads"), QStringLiteral("1")} + countCommand.mid(1);
    // At most two runs kept: from the third round on, each run also drops
    // the oldest, as every run does once the journal is full.
    const QStringList replaceCommand {batch, QStringLiteral("--replace"), QStringLiteral("--undo-max-runs"), QStringLiteral("2"), QStringLiteral("--find"),
        kFind, QStringLiteral("--with"), kWith, tree};
    const QStringList noJournalCommand {
        batch, QStringLiteral("--replace"), QStringLiteral("--no-undo"), QStringLiteral("--find"), kFind, QStringLiteral("--with"), kWith, noJournal};
    const QString rgCount = QStringLiteral("rg -c -F -a --count-matches %1 %2").arg(kFind, quoted(pristine));
    const QString rgCountOne = QStringLiteral("rg -j1 -c -F -a --count-matches %1 %2").arg(kFind, quoted(pristine));
    const QString sedLine = QStringLiteral("rg -l -0 -F %1 %2 | xargs -0 sed -i s/%1/%3/g").arg(kFind, quoted(bySed), kWith);
    const QString sdLine = QStringLiteral("rg -l -0 -F %1 %2 | xargs -0 sd -s %1 %3").arg(kFind, quoted(bySd), kWith);

    // Count: the tree in the page cache, runs taken in turns, the best of each.
    spawn(countCommand);
    double tCount = 1e9, tRg = 1e9, tCountOne = 1e9, tRgOne = 1e9, tReader = 1e9, tReaderOne = 1e9;
    for (int i = 0; i < 7; ++i) {
        const Measure m = spawn(countCommand);
        tCount = std::min(tCount, m.seconds);
        tRg = std::min(tRg, shell(rgCount).seconds);
        tCountOne = std::min(tCountOne, spawn(countOneCommand).seconds);
        tRgOne = std::min(tRgOne, shell(rgCountOne).seconds);
        tReader = std::min(tReader, timeReader(paths, cores));
        tReaderOne = std::min(tReaderOne, timeReader(paths, 1));
    }

    const bool countOnly = argc > 2 && QByteArray(argv[2]) == "count";
    // Replace: fresh copies, synced so that no earlier write is left for a
    // flush to wait on; the three tools in turns, the best of each.
    double tReplace = 1e9, tNoJournal = 1e9, tSed = 1e9, tSd = 1e9;
    bool identical = true;
    std::vector<double> journalRatios; // each round's, for the median
    for (int round = 0; round < (countOnly ? 0 : 7); ++round) {
        copyTree(pristine, tree);
        copyTree(pristine, noJournal);
        copyTree(pristine, bySed);
        copyTree(pristine, bySd);
        const Measure m = spawn(replaceCommand);
        tReplace = std::min(tReplace, m.seconds);
        const double plain = spawn(noJournalCommand).seconds;
        tNoJournal = std::min(tNoJournal, plain);
        journalRatios.push_back(m.seconds / plain);
        tSed = std::min(tSed, shell(sedLine).seconds);
        tSd = std::min(tSd, shell(sdLine).seconds);
        if (round == 0) {
            identical
                = std::system(perrox::NativePath(QStringLiteral("diff -r --no-dereference -q %1 %2 >/dev/null").arg(quoted(tree), quoted(bySed))).constData())
                == 0;
        }
    }

    // Peak memory in runs of their own (a fresh copy for Replace).
    const long countRss = std::max(peakKiB(countCommand, dir.path()), peakKiB(countOneCommand, dir.path()));
    long replaceRss = 0;
    if (!countOnly) {
        copyTree(pristine, tree);
        replaceRss = peakKiB(replaceCommand, dir.path());
    }

    std::printf("\ntimes are the best of several runs, taken in turns\n");
    const auto limit = [](double reader, int threads) { std::printf("   reader %6.3f s on %d thread%s\n", reader, threads, threads == 1 ? "" : "s"); };
    std::printf("  %-58s %8.3f s", "perrox-batch --count", tCount);
    limit(tReader, cores);
    std::printf("  %-58s %8.3f s", "rg -c -F -a --count-matches", tRg);
    limit(tReader, cores);
    std::printf("  %-58s %8.3f s", "perrox-batch --count --threads 1", tCountOne);
    limit(tReaderOne, 1);
    std::printf("  %-58s %8.3f s", "rg -j1 -c -F -a --count-matches", tRgOne);
    limit(tReaderOne, 1);
    std::printf("  peak memory: --count %ld KiB\n", countRss);
    if (!countOnly) {
        std::printf("  %-58s %8.3f s", "perrox-batch --replace", tReplace);
        limit(tReader, cores);
        std::printf("  %-58s %8.3f s", "perrox-batch --replace --no-undo", tNoJournal);
        limit(tReader, cores);
        std::printf("  %-58s %8.3f s\n", "rg -l | xargs sed -i", tSed);
        std::printf("  %-58s %8.3f s\n", "rg -l | xargs sd -s", tSd);
        std::printf("  peak memory: --replace %ld KiB\n", replaceRss);
        std::printf("  results of perrox-batch --replace and sed -i: %s\n", identical ? "byte-identical" : "DIFFERENT");
    }

    std::printf("\nratios\n");
    report("Tree Count / rg --count-matches", tCount / tRg, 1.0);
    report("Tree Count --threads 1 / rg -j1 --count-matches", tCountOne / tRgOne, 0.8);
    if (countOnly)
        return 0;
    report("Tree Replace / rg -l | xargs sed -i", tReplace / tSed, 1.0);
    report("Tree Replace / rg -l | xargs sd -s", tReplace / tSd, 0.8);
    report("Tree Replace with journal / --no-undo", tReplace / tNoJournal, 1.10);
    std::sort(journalRatios.begin(), journalRatios.end());
    std::printf("  (the same, median of the rounds' own ratios: %.2f)\n", journalRatios[journalRatios.size() / 2]);
    return identical ? 0 : 1;
}
