// Times perrox-batch on one generated 256 MiB file against ripgrep counting
// the same strings, sed -i replacing them, and the limits of the hardware: a
// plain memmem count (reading the file the same way) and cp.
// Run on demand: cmake --build build --target run-bench
#include "benchsupport.h"
#include "files/filesystem.h"

#include <QByteArray>
#include <QDir>
#include <QFile>
#include <QList>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <functional>
#include <vector>

using namespace bench;

namespace {

constexpr qint64 kMiB = 1 << 20;

// Best of several runs, the file being in the page cache already.
double best(const std::function<double()> &run, int times = 3)
{
    double t = run();
    for (int i = 1; i < times; ++i)
        t = std::min(t, run());
    return t;
}

// The scan as first described: at every position every pair in turn. The
// count goes to a volatile, so the compiler cannot drop the loop.
volatile qint64 g_naiveCount = 0;

void naiveCount(const QString &path, const QList<QByteArray> &finds, qint64 limit)
{
    QFile f(path);
    f.open(QIODevice::ReadOnly);
    const QByteArray data = f.read(limit);
    const char *p = data.constData();
    const qint64 n = data.size();
    qint64 count = 0;
    qint64 pos = 0;
    while (pos < n) {
        bool matched = false;
        for (const QByteArray &find : finds) {
            if (pos + find.size() <= n && std::memcmp(p + pos, find.constData(), size_t(find.size())) == 0) {
                ++count;
                pos += find.size();
                matched = true;
                break;
            }
        }
        if (!matched)
            ++pos;
    }
    g_naiveCount = count;
}

// Random lower-case words with the find words planted about every 4 KiB.
void generate(const QString &path, qint64 size, const QList<QByteArray> &words)
{
    QFile f(path);
    f.open(QIODevice::WriteOnly | QIODevice::Truncate);
    XorShift next(0x9E3779B97F4A7C15ULL);
    QByteArray chunk;
    chunk.reserve(kMiB + 64);
    qint64 written = 0;
    while (written < size) {
        chunk.clear();
        while (chunk.size() < kMiB) {
            const quint64 r = next();
            if (r % 600 == 0) {
                chunk += words.at(int((r >> 20) % quint64(words.size())));
            } else {
                const int len = 2 + int((r >> 8) % 9);
                for (int i = 0; i < len; ++i)
                    chunk += char('a' + (next() % 26));
            }
            chunk += (next() % 12 == 0) ? '\n' : ' ';
        }
        const qint64 n = std::min<qint64>(chunk.size(), size - written);
        f.write(chunk.constData(), n);
        written += n;
    }
}

QStringList pairs(const QList<QByteArray> &words)
{
    QStringList args;
    for (const QByteArray &w : words)
        args << QStringLiteral("--find") << QString::fromLatin1(w) << QStringLiteral("--with") << QString::fromLatin1(w.toLower());
    return args;
}

// The five-byte words q000z ... q099z, which the filler text never holds.
QList<QByteArray> qWords()
{
    QList<QByteArray> words;
    for (int i = 0; i < 100; ++i)
        words.append(QByteArray("q") + QByteArray::number(i).rightJustified(3, '0') + 'z');
    return words;
}

} // namespace

double timeOf(const std::function<void()> &work)
{
    const double start = now();
    work();
    return now() - start;
}

int main(int argc, char **argv)
{
    const QString batch = QStringLiteral(PERROX_BATCH_BINARY);
    const QString memmem = QStringLiteral(MEMMEM_COUNT_BINARY);
    for (const char *peer : {"rg", "sed"}) {
        if (!have(peer)) {
            std::fprintf(stderr, "%s is missing: tools/dev bench installs it\n", peer);
            return 1;
        }
    }
    const qint64 size = (argc > 1 ? QByteArray(argv[1]).toLongLong() : 256) * kMiB;
    QTemporaryDir dir(QDir::currentPath() + QLatin1String("/perrox-bench-XXXXXX"));
    if (!dir.isValid()) {
        std::fprintf(stderr, "cannot create a folder here\n");
        return 1;
    }
    qputenv("TEMP", perrox::NativePath(dir.path())); // temporary files on the same file system as the results
    qputenv("XDG_STATE_HOME", perrox::NativePath(dir.filePath(QStringLiteral("state")))); // and the journal
    const QString file = dir.filePath(QStringLiteral("data.txt"));
    const QString copy = dir.filePath(QStringLiteral("copy.txt"));
    const QString out = dir.filePath(QStringLiteral("out"));
    const QString target = out + QLatin1String("/data.txt");
    QDir().mkpath(out);
    const QList<QByteArray> words = qWords();
    const QList<QByteArray> one = words.mid(0, 1);
    auto command = [&](const QString &mode, const QList<QByteArray> &finds, const QString &path) {
        QStringList c {batch, mode};
        if (mode == QLatin1String("--replace-as"))
            c << out << QStringLiteral("--overwrite");
        return c + pairs(finds) + QStringList {path};
    };
    auto rg = [&](const QList<QByteArray> &finds) {
        QStringList c {QStringLiteral("rg"), QStringLiteral("-c"), QStringLiteral("-F"), QStringLiteral("-a"), QStringLiteral("--count-matches")};
        for (const QByteArray &f : finds)
            c << QStringLiteral("-e") << QString::fromLatin1(f);
        return c << file;
    };

    // Peak memory first, while this process is small: a child's peak counts
    // the memory of its parent at the moment it was forked.
    const QString small = dir.filePath(QStringLiteral("small.txt"));
    const QString large = dir.filePath(QStringLiteral("large.txt"));
    std::printf("generating 1 MiB and 1 GiB files for the memory check\n");
    generate(small, kMiB, words);
    generate(large, 1024 * kMiB, words);
    const long smallCount = spawn(command(QStringLiteral("--count"), words, small)).maxRssKiB;
    const long largeCount = spawn(command(QStringLiteral("--count"), words, large)).maxRssKiB;
    const long smallAs = spawn(command(QStringLiteral("--replace-as"), words, small)).maxRssKiB;
    const long largeAs = spawn(command(QStringLiteral("--replace-as"), words, large)).maxRssKiB;
    QFile::remove(large);
    QFile::remove(out + QLatin1String("/large.txt"));

    std::printf("generating %lld MiB in %s\n", size / kMiB, qPrintable(dir.path()));
    generate(file, size, words);
    spawn({QStringLiteral("cat"), file}); // into the page cache

    const double tMemmem = best([&] { return spawn({memmem, file, QString::fromLatin1(one.at(0))}).seconds; });
    const double tCp = best([&] {
        QFile::remove(target);
        return spawn({QStringLiteral("cp"), file, target}).seconds;
    });
    // Counting, in turns with ripgrep.
    double tCount1 = 1e9, tRg1 = 1e9, tCount100 = 1e9, tRg100 = 1e9;
    for (int i = 0; i < 5; ++i) {
        tCount1 = std::min(tCount1, spawn(command(QStringLiteral("--count"), one, file)).seconds);
        tRg1 = std::min(tRg1, spawn(rg(one)).seconds);
        tCount100 = std::min(tCount100, spawn(command(QStringLiteral("--count"), words, file)).seconds);
        tRg100 = std::min(tRg100, spawn(rg(words)).seconds);
    }
    // Replace in place, in turns with sed -i, each on a fresh synced copy.
    double tReplace = 1e9, tSed = 1e9;
    for (int i = 0; i < 3; ++i) {
        shell(QStringLiteral("cp %1 %2 && sync").arg(quoted(file), quoted(copy)));
        tReplace = std::min(tReplace, spawn(command(QStringLiteral("--replace"), one, copy)).seconds);
        shell(QStringLiteral("cp %1 %2 && sync").arg(quoted(file), quoted(copy)));
        tSed = std::min(tSed,
            shell(QStringLiteral("sed -i s/%1/%2/g %3").arg(QString::fromLatin1(one.at(0)), QString::fromLatin1(one.at(0).toUpper()), quoted(copy))).seconds);
    }
    QFile::remove(copy);
    // A new target, as on a first Replace As ...
    const double tAs1 = best([&] {
        QFile::remove(target);
        return spawn(command(QStringLiteral("--replace-as"), one, file)).seconds;
    });
    const double tAs100 = best([&] {
        QFile::remove(target);
        return spawn(command(QStringLiteral("--replace-as"), words, file)).seconds;
    });

    // The journal on one big file: Replace, and Replace As over the target
    // the runs above left, with and without it, in turns.
    const auto noUndo = [](QStringList c) {
        c.insert(c.size() - 1, QStringLiteral("--no-undo"));
        return c;
    };
    double tJournal = 1e9, tNoJournal = 1e9, tAsJournal = 1e9, tAsNoJournal = 1e9;
    for (int i = 0; i < 3; ++i) {
        shell(QStringLiteral("cp %1 %2 && sync").arg(quoted(file), quoted(copy)));
        tJournal = std::min(tJournal, spawn(command(QStringLiteral("--replace"), one, copy)).seconds);
        shell(QStringLiteral("cp %1 %2 && sync").arg(quoted(file), quoted(copy)));
        tNoJournal = std::min(tNoJournal, spawn(noUndo(command(QStringLiteral("--replace"), one, copy))).seconds);
        tAsJournal = std::min(tAsJournal, spawn(command(QStringLiteral("--replace-as"), one, file)).seconds);
        tAsNoJournal = std::min(tAsNoJournal, spawn(noUndo(command(QStringLiteral("--replace-as"), one, file))).seconds);
    }
    QFile::remove(copy);

    const double tNaive1 = timeOf([&] { naiveCount(file, one, size); });
    const qint64 naiveSlice = std::min<qint64>(size, 8 * kMiB);
    const double tNaive100 = timeOf([&] { naiveCount(file, words, naiveSlice); }) * double(size) / double(naiveSlice);

    std::printf("\n%lld MiB file, times are the best of several runs from the page cache\n", size / kMiB);
    std::printf("  %-58s %8.3f s\n", "memmem count (limit)", tMemmem);
    std::printf("  %-58s %8.3f s\n", "cp to a new file (limit)", tCp);
    std::printf("  %-58s %8.3f s\n", "perrox-batch --count, 1 pair", tCount1);
    std::printf("  %-58s %8.3f s\n", "rg --count-matches, 1 string", tRg1);
    std::printf("  %-58s %8.3f s\n", "perrox-batch --count, 100 pairs", tCount100);
    std::printf("  %-58s %8.3f s\n", "rg --count-matches, 100 strings", tRg100);
    std::printf("  %-58s %8.3f s\n", "perrox-batch --replace, 1 pair", tReplace);
    std::printf("  %-58s %8.3f s\n", "sed -i, 1 string", tSed);
    std::printf("  %-58s %8.3f s\n", "perrox-batch --replace-as, new target, 1 pair", tAs1);
    std::printf("  %-58s %8.3f s\n", "perrox-batch --replace-as, new target, 100 pairs", tAs100);
    std::printf("  %-58s %8.3f s\n", "perrox-batch --replace, journal", tJournal);
    std::printf("  %-58s %8.3f s\n", "perrox-batch --replace --no-undo", tNoJournal);
    std::printf("  %-58s %8.3f s\n", "perrox-batch --replace-as over a target, journal", tAsJournal);
    std::printf("  %-58s %8.3f s\n", "perrox-batch --replace-as over a target, --no-undo", tAsNoJournal);
    std::printf("  %-58s %8.3f s\n", "naive scan, 1 pair (baseline)", tNaive1);
    std::printf("  %-58s %8.3f s (from %lld MiB)\n", "naive scan, 100 pairs (baseline)", tNaive100, naiveSlice / kMiB);
    std::printf("\npeak memory, 100 pairs: --count %ld KiB (1 MiB file) / %ld KiB (1 GiB file); --replace-as %ld / %ld KiB\n", smallCount, largeCount, smallAs,
        largeAs);

    std::printf("\nratios\n");
    report("Count 1 pair / rg, 1 string", tCount1 / tRg1, 1.0);
    report("Count 100 pairs / rg, 100 strings", tCount100 / tRg100, 1.0);
    report("Count 100 pairs / Count 1 pair", tCount100 / tCount1, 3.0);
    report("Replace in place 1 pair / sed -i", tReplace / tSed, 1.0);
    report("Replace with journal / --no-undo", tJournal / tNoJournal, 1.10);
    report("Replace As over a target with journal / --no-undo", tAsJournal / tAsNoJournal, 1.10);
    report("peak memory, 1 GiB less 1 MiB file, MiB (count)", double(largeCount - smallCount) / 1024.0, 8.0);
    report("peak memory, 1 GiB less 1 MiB file, MiB (replace as)", double(largeAs - smallAs) / 1024.0, 8.0);
    std::printf("  %-58s %6.2f\n", "Count 1 pair / memmem count", tCount1 / tMemmem);
    std::printf("  %-58s %6.2f\n", "Replace As 1 pair / (cp + memmem count)", tAs1 / (tCp + tMemmem));
    std::printf("  %-58s %6.1f x\n", "naive scan / Count, 1 pair", tNaive1 / tCount1);
    std::printf("  %-58s %6.1f x\n", "naive scan / Count, 100 pairs", tNaive100 / tCount100);
    return 0;
}
