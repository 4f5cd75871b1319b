// Times perrox-batch's patterns against ripgrep, best of three each, side by
// side: on a generated 256 MiB text file a Count of one literal that ignores
// case, of the regular expression [0-9]{3}-[0-9]{4}, and of 100 literals that
// ignore case; on copies of /usr/include (or a generated tree of its shape) a
// Replace by a regular expression against "rg -l | xargs sed -i -E", whose
// results must be byte for byte sed's.
// Run on demand: cmake --build build --target run-bench-patterns
#include "benchsupport.h"

#include <QTemporaryDir>

#include <algorithm>
#include <cstdio>
#include <functional>

using namespace bench;

namespace {

double best(const std::function<Measure()> &run)
{
    double seconds = 1e9;
    for (int i = 0; i < 3; ++i)
        seconds = std::min(seconds, run().seconds);
    return seconds;
}

// Words of several cases, numbers and phone-like numbers, in lines.
void generateText(const QString &path, qint64 size)
{
    XorShift next(0x9E3779B97F4A7C15ULL);
    static const char *words[] = {"alpha", "Namespace", "beta", "NAMESPACE", "gamma", "namespace", "delta", "Epsilon", "zeta", "eta", "theta", "iota"};
    QFile out(path);
    out.open(QIODevice::WriteOnly);
    QByteArray chunk;
    for (qint64 written = 0; written < size;) {
        chunk.clear();
        while (chunk.size() < (1 << 20)) {
            const quint64 r = next();
            if (r % 50 == 0)
                chunk += QByteArray::number(100 + r % 900) + '-' + QByteArray::number(1000 + (r >> 12) % 9000);
            else
                chunk += words[r % 12];
            chunk += r % 11 == 0 ? '\n' : ' ';
        }
        written += out.write(chunk);
    }
}

} // namespace

int main(int argc, char **argv)
{
    const QString batch = QStringLiteral(PERROX_BATCH_BINARY);
    for (const char *peer : {"rg", "sed", "xargs"}) {
        if (!have(peer)) {
            std::fprintf(stderr, "%s is missing: tools/dev bench installs it\n", peer);
            return 1;
        }
    }
    QTemporaryDir dir(QDir::currentPath() + QLatin1String("/perrox-bench-XXXXXX"));
    if (!dir.isValid())
        return 1;
    qputenv("TEMP", perrox::NativePath(dir.path()));
    qputenv("XDG_STATE_HOME", perrox::NativePath(dir.filePath(QStringLiteral("state"))));
    const QString text = dir.filePath(QStringLiteral("text.txt")), words = dir.filePath(QStringLiteral("words.txt"));
    const QString arguments = dir.filePath(QStringLiteral("words.args"));
    generateText(text, qint64(256) << 20);
    QByteArray list, pairs;
    XorShift next(42);
    for (int i = 0; i < 100; ++i) {
        QByteArray word;
        for (int n = 5 + int(next() % 4); n > 0; --n)
            word.append(char('a' + next() % 26));
        word = i == 0 ? QByteArray("namespace") : word;
        list += word + '\n';
        pairs += "<FIND TYPE=ASC CASE=IGNORE>" + word + "</FIND><REPLACE TYPE=ASC>x</REPLACE>\r\n";
    }
    {
        QFile f(words);
        f.open(QIODevice::WriteOnly);
        f.write(list);
        QFile a(arguments);
        a.open(QIODevice::WriteOnly);
        a.write(pairs);
    }
    std::printf("256 MiB of text, best of 3 (seconds):\n");
    const auto row = [&](const char *what, const QStringList &perrox, const QString &peer, double goal) {
        const double mine = best([&] { return spawn(QStringList {batch, QStringLiteral("--count"), QStringLiteral("--quiet")} + perrox); });
        const double theirs = best([&] { return shell(peer); });
        std::printf("  %-40s perrox %6.2f  peer %6.2f\n", what, mine, theirs);
        report(what, mine / theirs, goal);
    };
    row("one literal, ignore case / rg -i -F",
        {QStringLiteral("-i"), QStringLiteral("--find"), QStringLiteral("namespace"), QStringLiteral("--with"), QStringLiteral("x"), text},
        QStringLiteral("rg -i -F -c --count-matches namespace %1").arg(quoted(text)), 1.2);
    row("[0-9]{3}-[0-9]{4} / rg", {QStringLiteral("--find"), QStringLiteral("regex:[0-9]{3}-[0-9]{4}"), QStringLiteral("--with"), QStringLiteral("x"), text},
        QStringLiteral("rg -c --count-matches '[0-9]{3}-[0-9]{4}' %1").arg(quoted(text)), 1.5);
    row("100 literals, ignore case / rg -i -F -f", {QStringLiteral("--arguments"), arguments, text},
        QStringLiteral("rg -i -F -c --count-matches -f %1 %2").arg(quoted(words), quoted(text)), 1.2);
    QFile::remove(text);

    // A tree: a Replace by a regular expression, each side on a fresh copy.
    const QString source = argc > 1 ? QString::fromLocal8Bit(argv[1]) : QStringLiteral("/usr/include");
    const QString origin = QDir(source).exists() ? source : dir.filePath(QStringLiteral("generated"));
    if (origin != source)
        generateTree(origin);
    const QString mine = dir.filePath(QStringLiteral("mine")), theirs = dir.filePath(QStringLiteral("theirs"));
    const QString expression = QStringLiteral("(name)space");
    double mineBest = 1e9, theirsBest = 1e9;
    for (int i = 0; i < 3; ++i) {
        shell(QStringLiteral("rm -rf %1 %2 && cp -a %3 %1 && cp -a %3 %2 && sync").arg(quoted(mine), quoted(theirs), quoted(origin)));
        mineBest = std::min(mineBest,
            spawn({batch, QStringLiteral("--replace"), QStringLiteral("--quiet"), QStringLiteral("--find"), QStringLiteral("regex:") + expression,
                      QStringLiteral("--with"), QStringLiteral("${1}SPACE"), mine})
                .seconds);
        theirsBest = std::min(
            theirsBest, shell(QStringLiteral("cd %1 && rg -l -0 '%2' . | xargs -0 -r sed -i -E 's/%2/\\1SPACE/g'").arg(quoted(theirs), expression)).seconds);
    }
    const bool same = std::system(QStringLiteral("diff -r --no-dereference %1 %2 >/dev/null").arg(quoted(mine), quoted(theirs)).toLocal8Bit().constData()) == 0;
    std::printf("Tree %s, regular-expression Replace (seconds): perrox %6.2f  rg | xargs sed -i -E %6.2f  results %s\n", qPrintable(origin), mineBest,
        theirsBest, same ? "byte-identical" : "DIFFER");
    report("tree regex Replace / rg -l | xargs sed -i -E", mineBest / theirsBest, 1.0);
    return same ? 0 : 1;
}
