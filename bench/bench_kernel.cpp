// Times perrox-batch on a generated tree the size of a kernel source tree
// (50,500 files, about 1.3 GB, in 3,200 folders up to 6 deep) against the
// pipelines people use instead: Count against "rg --count-matches" with
// ripgrep's default threads and with one, Replace (journal on, as by
// default) against "rg -l | xargs sd -s" and "rg -l | xargs sed -i" on fresh
// copies, whose results must be byte for byte sed's. Beside each figure it
// prints the time the benchmark's own reader takes to read every file once
// on as many threads, the limit a tool that reads them cannot beat; then the
// peak memory of perrox-batch, and the main window's Count and Replace of
// the same tree against perrox-batch's.
// Run on demand: cmake --build build --target run-bench-kernel;
// "bench_kernel --scale 0.05" tries it on a smaller tree, "--runs N" times
// each command N times (default 3), "--no-window" leaves the window out.
#include "app/mainwindow.h"
#include "benchsupport.h"
#include "files/filelistview.h"
#include "silentsink.h"

#include <QApplication>
#include <QDir>
#include <QLineEdit>
#include <QTemporaryDir>

#include <cmath>
#include <cstdio>
#include <cstring>
#include <optional>

using namespace bench;

namespace {

const QString kFind = QStringLiteral("namespace");
const QString kWith = QStringLiteral("NAMESPACE");
constexpr qint64 kKiB = 1024;
constexpr qint64 kMiB = 1024 * kKiB;

struct Options
{
    double scale = 1.0;
    int runs = 3;
    bool window = true;
};

// What the generated tree holds.
struct TreeShape
{
    int files = 0;
    int folders = 0;
    int binary = 0;
    int holding = 0; // text files with the find word
    qint64 bytes = 0;
    qint64 median = 0;
    qint64 largest = 0;
    int depth = 0;
};

double uniform(XorShift &next)
{
    return double(next() >> 11) * 0x1.0p-53;
}

// C-like lines of ASCII text, each at least 12 bytes before its line end,
// without the find word.
QByteArray textPool(XorShift &next, qint64 size)
{
    static const char *words[] = {"int", "struct", "const", "return", "static", "inline", "if", "else", "for", "unsigned", "long", "char", "void", "sizeof",
        "NULL", "u32", "err", "dev", "ret", "goto", "out", "case", "break", "switch", "(", ")", "=", "->", "0x1f", "priv"};
    QByteArray pool;
    pool.reserve(size + 256);
    while (pool.size() < size) {
        const qsizetype start = pool.size();
        pool.append(int(next() % 4), '\t');
        for (int w = 2 + int(next() % 9); w > 0 || pool.size() - start < 12; --w) {
            pool += words[next() % (sizeof words / sizeof *words)];
            if (next() % 5 == 0)
                pool += "_" + QByteArray::number(next() % 100);
            pool += ' ';
        }
        pool += next() % 3 == 0 ? "{\n" : ";\n";
    }
    return pool;
}

// Bytes of every value, as object files and pictures hold.
QByteArray binaryPool(XorShift &next, qint64 size)
{
    QByteArray pool(size, Qt::Uninitialized);
    for (qint64 i = 0; i + 8 <= size; i += 8) {
        const quint64 v = next();
        std::memcpy(pool.data() + i, &v, 8);
    }
    return pool;
}

// Folders below root: a few top ones named as a kernel's, the rest placed
// below a folder drawn at random, at most six deep.
std::vector<QString> makeFolders(XorShift &next, const QString &root, int count, int &deepest)
{
    static const char *top[] = {"arch", "drivers", "fs", "include", "kernel", "mm", "net", "sound", "tools", "lib", "crypto", "block", "security", "scripts",
        "Documentation", "samples", "virt", "init", "ipc", "usr"};
    std::vector<QString> folders;
    std::vector<int> depth;
    for (const char *name : top) {
        folders.push_back(root + QLatin1Char('/') + QLatin1String(name));
        depth.push_back(1);
    }
    while (int(folders.size()) < count) {
        const size_t parent = next() % folders.size();
        if (depth[parent] >= 6)
            continue;
        folders.push_back(folders[parent] + QStringLiteral("/d%1").arg(folders.size()));
        depth.push_back(depth[parent] + 1);
    }
    deepest = *std::max_element(depth.begin(), depth.end());
    for (const QString &f : folders)
        QDir().mkpath(f);
    return folders;
}

// A file's size: most a few KiB (median 10 KiB), one in 250 between 512 KiB
// and 4 MiB.
qint64 drawSize(XorShift &next, int index, double scale)
{
    double size;
    if (index % 250 == 125) {
        size = double(512 * kKiB + qint64(next() % quint64(3584 * kKiB)));
    } else {
        const double z = std::sqrt(-2.0 * std::log(1.0 - uniform(next))) * std::cos(2 * M_PI * uniform(next));
        size = std::clamp(std::exp(std::log(10240.0) + z), 64.0, double(kMiB));
    }
    return std::max<qint64>(64, qint64(size * scale));
}

void writeFile(const QString &path, const char *data, qint64 size)
{
    const int fd = ::open(perrox::NativePath(path).constData(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd < 0 || ::write(fd, data, size_t(size)) != size || ::close(fd) != 0) {
        std::fprintf(stderr, "cannot write %s\n", qPrintable(path));
        std::exit(1);
    }
}

// A slice of the text pool from a line start, with the find word written
// over the start of a few of its lines.
QByteArray textFile(XorShift &next, const QByteArray &pool, qint64 size, bool holds)
{
    qint64 from = qint64(next() % quint64(pool.size() - size - 1));
    while (from > 0 && pool[from - 1] != '\n')
        --from;
    QByteArray text = pool.mid(from, size);
    for (int k = holds ? 1 + int(next() % 6) : 0; k > 0; --k) {
        const qsizetype line = text.indexOf('\n', qsizetype(next() % quint64(size))) + 1;
        if (line > 0 && line + 12 < text.size())
            std::memcpy(text.data() + line, "namespace", 9);
    }
    return text;
}

// The tree, the same on every run: 50,500 files times scale, one in 170 of
// them binary (without the find word, so that "rg -l", which passes over
// binary files, lists every file that holds it), a third of the text files
// holding the word a few times.
TreeShape generateKernelTree(const QString &root, double scale)
{
    XorShift next(0x9E3779B97F4A7C15ULL);
    TreeShape shape;
    const std::vector<QString> folders = makeFolders(next, root, std::max(20, int(3200 * scale)), shape.depth);
    shape.folders = int(folders.size());
    const qint64 largest = std::max<qint64>(64, qint64(4 * kMiB * scale));
    const QByteArray text = textPool(next, largest + kMiB);
    const QByteArray binary = binaryPool(next, largest + kMiB);
    std::vector<qint64> sizes;
    for (int i = 0; i < std::max(100, int(50500 * scale)); ++i) {
        const QString dir = folders[next() % folders.size()];
        const qint64 size = drawSize(next, i, scale);
        sizes.push_back(size);
        if (i % 170 == 7) {
            writeFile(dir + QStringLiteral("/blob%1.bin").arg(i), binary.constData() + next() % quint64(kMiB), size);
            ++shape.binary;
            continue;
        }
        const bool holds = next() % 3 == 0;
        shape.holding += holds ? 1 : 0;
        writeFile(dir + QStringLiteral("/f%1.%2").arg(i).arg(next() % 3 == 0 ? 'h' : 'c'), textFile(next, text, size, holds).constData(), size);
    }
    shape.files = int(sizes.size());
    for (qint64 s : sizes)
        shape.bytes += s;
    std::sort(sizes.begin(), sizes.end());
    shape.median = sizes[sizes.size() / 2];
    shape.largest = sizes.back();
    return shape;
}

void copyTree(const QString &from, const QString &to)
{
    QDir(to).removeRecursively();
    shell(QStringLiteral("cp -a %1 %2 && sync").arg(quoted(from), quoted(to)));
}

bool sameTrees(const QString &a, const QString &b)
{
    return std::system(perrox::NativePath(QStringLiteral("diff -r --no-dereference -q %1 %2 >/dev/null").arg(quoted(a), quoted(b))).constData()) == 0;
}

void printLine(const char *what, const Samples &s)
{
    std::printf("  %-44s %8.3f %8.3f\n", what, s.best(), s.median());
}

void printLine(const char *what, const Samples &s, const Samples &limit, int threads)
{
    std::printf("  %-44s %8.3f %8.3f   reader %6.3f s on %d thread%s\n", what, s.best(), s.median(), limit.best(), threads, threads == 1 ? "" : "s");
}

Options parseOptions(int argc, char **argv)
{
    Options o;
    for (int i = 1; i < argc; ++i) {
        const QByteArray a = argv[i];
        if (a == "--scale" && i + 1 < argc)
            o.scale = std::clamp(QByteArray(argv[++i]).toDouble(), 0.001, 1.0);
        else if (a == "--runs" && i + 1 < argc)
            o.runs = std::max(1, QByteArray(argv[++i]).toInt());
        else if (a == "--no-window")
            o.window = false;
        else {
            std::fprintf(stderr, "usage: bench_kernel [--scale F] [--runs N] [--no-window]\n");
            std::exit(2);
        }
    }
    return o;
}

} // namespace

namespace {

struct Trees
{
    QString pristine, tree, bySd, bySed;
};

struct CountFigures
{
    Samples batch, rg, batchOne, rgOne, reader, readerOne;
    long peakKiB = 0;
};

QStringList countCommand(const QString &folder)
{
    return {QStringLiteral(PERROX_BATCH_BINARY), QStringLiteral("--count"), QStringLiteral("--find"), kFind, QStringLiteral("--with"), kWith, folder};
}

QStringList replaceCommand(const QString &folder)
{
    return {QStringLiteral(PERROX_BATCH_BINARY), QStringLiteral("--replace"), QStringLiteral("--find"), kFind, QStringLiteral("--with"), kWith, folder};
}

// Count: a warm-up run of each, then the runs in turns.
CountFigures timeCounts(const QString &pristine, const std::vector<QByteArray> &paths, int runs, const QString &tmpFolder)
{
    const QStringList count = countCommand(pristine);
    const QStringList countOne = QStringList {count.first(), QStringLiteral("--threads"), QStringLiteral("1")} + count.mid(1);
    const QString rg = QStringLiteral("rg -c -F -a --count-matches %1 %2").arg(kFind, quoted(pristine));
    const QString rgOne = QStringLiteral("rg -j1 -c -F -a --count-matches %1 %2").arg(kFind, quoted(pristine));
    CountFigures f;
    for (int i = -1; i < runs; ++i) {
        const Measure m = spawn(count);
        const double tRg = shell(rg).seconds;
        const Measure one = spawn(countOne);
        const double tRgOne = shell(rgOne).seconds;
        const double reader = timeReader(paths, processors());
        const double readerOne = timeReader(paths, 1);
        if (i < 0)
            continue;
        f.batch.add(m.seconds);
        f.rg.add(tRg);
        f.batchOne.add(one.seconds);
        f.rgOne.add(tRgOne);
        f.reader.add(reader);
        f.readerOne.add(readerOne);
    }
    f.peakKiB = std::max(peakKiB(count, tmpFolder), peakKiB(countOne, tmpFolder));
    return f;
}

struct ReplaceFigures
{
    Samples batch, sd, sed, reader;
    long peakKiB = 0;
    bool identical = true;
};

// Replace: each tool on a fresh synced copy made before its run and not
// timed; the first round warms up and checks that Perrox's result is sed's.
ReplaceFigures timeReplaces(const Trees &t, const std::vector<QByteArray> &paths, int runs, const QString &tmpFolder)
{
    const QString pipe = QStringLiteral("rg -l -0 -F %1 %2 | xargs -0 -r ").arg(kFind);
    const QString sdLine = pipe.arg(quoted(t.bySd)) + QStringLiteral("sd -s %1 %2").arg(kFind, kWith);
    const QString sedLine = pipe.arg(quoted(t.bySed)) + QStringLiteral("sed -i s/%1/%2/g").arg(kFind, kWith);
    ReplaceFigures f;
    for (int i = -1; i < runs; ++i) {
        copyTree(t.pristine, t.tree);
        const Measure m = spawn(replaceCommand(t.tree));
        copyTree(t.pristine, t.bySd);
        const double tSd = shell(sdLine).seconds;
        copyTree(t.pristine, t.bySed);
        const double tSed = shell(sedLine).seconds;
        // Replace reads ahead on as many threads as Count.
        const double reader = timeReader(paths, processors());
        if (i < 0) {
            f.identical = sameTrees(t.tree, t.bySed);
            continue;
        }
        f.batch.add(m.seconds);
        f.sd.add(tSd);
        f.sed.add(tSed);
        f.reader.add(reader);
    }
    // The peak in a run of its own, on a fresh copy too.
    copyTree(t.pristine, t.tree);
    f.peakKiB = peakKiB(replaceCommand(t.tree), tmpFolder);
    return f;
}

struct WindowFigures
{
    Samples count, batchCount, replace, batchReplace;
    double fill = 0;
    int rows = 0;
    bool completed = true;
    bool identical = true;
};

double timeRun(perrox::MainWindow &window, perrox::RunMode mode, bool &completed)
{
    const double start = now();
    const perrox::RunResult r = window.ProcessFiles(mode);
    const double seconds = now() - start;
    completed = completed && r.end == perrox::RunResult::End::Completed && r.failedFiles == 0;
    return seconds;
}

// The main window, offscreen and answering through a silent message layer,
// with preferences of its own: Count of the tree and Replace of fresh
// copies, in turns with perrox-batch doing the same; the rows are added
// (a drop of the folder) before the runs and not timed.
WindowFigures timeWindow(const Trees &t, const QString &preferences, int runs)
{
    WindowFigures f;
    SilentSink sink;
    perrox::MainWindow window(&sink, preferences);
    window.preferences().askFirst = false;
    window.show();
    auto *files = window.findChild<perrox::FileListView *>(QStringLiteral("lvwFiles"));
    window.findChild<QLineEdit *>(QStringLiteral("edSearch"))->setText(kFind);
    window.findChild<QLineEdit *>(QStringLiteral("edReplace"))->setText(kWith);
    const double start = now();
    window.AddStartPaths({t.pristine});
    f.fill = now() - start;
    f.rows = files->topLevelItemCount();
    for (int i = -1; i < runs; ++i) {
        const double batch = spawn(countCommand(t.pristine)).seconds;
        const double own = timeRun(window, perrox::RunMode::Count, f.completed);
        if (i >= 0)
            f.batchCount.add(batch), f.count.add(own);
    }
    files->clear();
    copyTree(t.pristine, t.tree);
    window.AddStartPaths({t.tree});
    for (int i = -1; i < runs; ++i) {
        copyTree(t.pristine, t.tree);
        const double batch = spawn(replaceCommand(t.tree)).seconds;
        copyTree(t.pristine, t.tree);
        const double own = timeRun(window, perrox::RunMode::Replace, f.completed);
        if (i < 0)
            f.identical = sameTrees(t.tree, t.bySed);
        else
            f.batchReplace.add(batch), f.replace.add(own);
    }
    window.close();
    return f;
}

void printShape(const TreeShape &s, double seconds)
{
    std::printf("tree: %d files (%d binary, %d holding \"%s\"), %d folders up to %d deep, %.2f GB (%.0f MiB), median %lld bytes, largest %.1f MiB; "
                "generated in %.1f s\n",
        s.files, s.binary, s.holding, qPrintable(kFind), s.folders, s.depth, double(s.bytes) / 1e9, double(s.bytes) / double(kMiB), s.median,
        double(s.largest) / double(kMiB), seconds);
    if (s.files < 50000 || s.bytes < 1000000000)
        std::printf("  (smaller than a kernel source tree: a trial at a reduced scale)\n");
}

void printCounts(const CountFigures &c, const ReplaceFigures &r)
{
    const int cores = processors();
    std::printf("\nseconds, after a warm-up run, of the runs taken in turns   best   median\n");
    printLine("perrox-batch --count", c.batch, c.reader, cores);
    printLine("rg -c -F -a --count-matches", c.rg, c.reader, cores);
    printLine("perrox-batch --count --threads 1", c.batchOne, c.readerOne, 1);
    printLine("rg -j1 -c -F -a --count-matches", c.rgOne, c.readerOne, 1);
    printLine("perrox-batch --replace (journal on)", r.batch, r.reader, processors());
    printLine("rg -l -0 -F | xargs -0 -r sd -s", r.sd);
    printLine("rg -l -0 -F | xargs -0 -r sed -i", r.sed);
    std::printf("  peak memory of perrox-batch: --count %.1f MiB, --replace %.1f MiB\n", mebibytes(c.peakKiB), mebibytes(r.peakKiB));
    std::printf("  results of perrox-batch --replace and sed -i: %s\n", r.identical ? "byte-identical" : "DIFFERENT");
}

void printWindow(const WindowFigures &w)
{
    std::printf("\nthe window (%d rows, added in %.2f s before the runs)        best   median\n", w.rows, w.fill);
    printLine("perrox-batch --count", w.batchCount);
    printLine("window Count", w.count);
    printLine("perrox-batch --replace", w.batchReplace);
    printLine("window Replace", w.replace);
    std::printf("  every window run completed without a failed file: %s\n", w.completed ? "yes" : "NO");
    std::printf("  results of the window's Replace and sed -i: %s\n", w.identical ? "byte-identical" : "DIFFERENT");
}

} // namespace

int main(int argc, char **argv)
{
    const Options o = parseOptions(argc, argv);
    for (const char *peer : {"rg", "sd", "sed", "xargs", "cp", "diff"}) {
        if (!have(peer)) {
            std::fprintf(stderr, "%s is missing: tools/dev bench installs it\n", peer);
            return 1;
        }
    }
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QTemporaryDir dir(QDir::currentPath() + QLatin1String("/perrox-bench-XXXXXX"));
    if (!dir.isValid()) {
        std::fprintf(stderr, "cannot create a folder here\n");
        return 1;
    }
    // Temporary files and the journal on the tree's file system; nothing of
    // the user's read or written.
    qputenv("TEMP", perrox::NativePath(dir.path()));
    for (const char *name : {"XDG_STATE_HOME", "XDG_CONFIG_HOME", "XDG_CACHE_HOME", "XDG_DATA_HOME"})
        qputenv(name, perrox::NativePath(dir.filePath(QString::fromLatin1(name).toLower())));
    const QString runtime = dir.filePath(QStringLiteral("runtime"));
    QDir().mkpath(runtime);
    QFile::setPermissions(runtime, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    qputenv("XDG_RUNTIME_DIR", perrox::NativePath(runtime));
    int qtArgc = 1;
    QApplication app(qtArgc, argv);

    const Trees t {dir.filePath(QStringLiteral("pristine")), dir.filePath(QStringLiteral("tree")), dir.filePath(QStringLiteral("sd")),
        dir.filePath(QStringLiteral("sed"))};
    const double start = now();
    const TreeShape shape = generateKernelTree(t.pristine, o.scale);
    shell(QStringLiteral("sync"));
    printShape(shape, now() - start);
    const std::vector<QByteArray> paths = listFiles(t.pristine);
    std::printf("%d runs of each command; the reader reads every file once (256 KiB reads) on as many threads as the tool beside it\n", o.runs);
    std::fflush(stdout);

    const CountFigures c = timeCounts(t.pristine, paths, o.runs, dir.path());
    const ReplaceFigures r = timeReplaces(t, paths, o.runs, dir.path());
    printCounts(c, r);
    std::optional<WindowFigures> w;
    if (o.window) {
        std::fflush(stdout);
        w = timeWindow(t, dir.filePath(QStringLiteral("prefs.conf")), o.runs);
        printWindow(*w);
    }

    std::printf("\nratios of the best times (and of the medians)\n");
    const auto ratio = [](const char *what, const Samples &a, const Samples &b, double goal) {
        const double value = a.best() / b.best();
        std::printf("  %-58s %6.2f  (goal <= %.2f) %-6s  median %.2f\n", what, value, goal, value <= goal ? "met" : "MISSED", a.median() / b.median());
    };
    ratio("Tree Count / rg --count-matches", c.batch, c.rg, 1.0);
    ratio("Tree Count --threads 1 / rg -j1 --count-matches", c.batchOne, c.rgOne, 0.8);
    ratio("Tree Replace / rg -l | xargs sd -s", r.batch, r.sd, 0.8);
    std::printf("  distance to the limit, best against the reader's best:\n");
    std::printf("  %-58s %6.2f\n", "Tree Count / reader", c.batch.best() / c.reader.best());
    std::printf("  %-58s %6.2f\n", "Tree Count --threads 1 / reader on 1 thread", c.batchOne.best() / c.readerOne.best());
    std::printf("  %-58s %6.2f\n", "Tree Replace / reader", r.batch.best() / r.reader.best());
    report("peak memory, perrox-batch --count, MiB", mebibytes(c.peakKiB), 64);
    report("peak memory, perrox-batch --replace, MiB", mebibytes(r.peakKiB), 64);
    if (w) {
        report("window overhead, Count, %", 100.0 * (w->count.best() / w->batchCount.best() - 1), 20.0);
        report("window overhead, Replace, %", 100.0 * (w->replace.best() / w->batchReplace.best() - 1), 20.0);
    }
    const bool sound = r.identical && (!w || (w->identical && w->completed));
    if (!sound)
        std::printf("\nFAILED: a result differs from sed's or a window run failed\n");
    return sound ? 0 : 1;
}
