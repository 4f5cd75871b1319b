// Times perrox-batch --count with 10,000 to 1,000,000 pairs from an argument
// file on a small file: loading, checking and warning about the pairs and
// building the matcher, which must grow with the number of pairs, not with
// its square.
#include "benchsupport.h"

#include <QTemporaryDir>

int main()
{
    QTemporaryDir dir;
    const QString data = dir.filePath(QStringLiteral("data.txt"));
    {
        QFile f(data);
        f.open(QIODevice::WriteOnly);
        f.write("a small file with a few words\n");
    }
    std::printf("Pairs from an argument file, then a Count of one small file (seconds, best of 3):\n");
    quint64 state = 0x9e3779b97f4a7c15ull;
    const auto next = [&] {
        state ^= state << 13;
        state ^= state >> 7;
        state ^= state << 17;
        return state;
    };
    for (const int pairs : {10000, 25000, 50000, 1000000}) {
        const QString arguments = dir.filePath(QStringLiteral("pairs-%1.txt").arg(pairs));
        QFile f(arguments);
        f.open(QIODevice::WriteOnly);
        QByteArray text;
        for (int i = 0; i < pairs; ++i) {
            QByteArray word;
            for (int n = 2 + int(next() % 4); n > 0; --n)
                word.append(char('a' + next() % 26));
            text += "<FIND TYPE=ASC>" + word + "</FIND><REPLACE TYPE=ASC>" + word.toUpper() + "</REPLACE>\r\n";
        }
        f.write(text);
        f.close();
        double best = 1e9;
        for (int run = 0; run < 3; ++run)
            best = std::min(
                best, bench::spawn({QStringLiteral(PERROX_BATCH_BINARY), QStringLiteral("--count"), QStringLiteral("--arguments"), arguments, data}).seconds);
        std::printf("  %9d pairs %8.2f\n", pairs, best);
    }
    return 0;
}
