#include "engine/matcher.h"
#include "support/testsupport.h"

#include <QRandomGenerator>
#include <QTest>

#include <memory>
#include <numeric>

using namespace perrox;
using namespace perrox::test;

namespace {

// For every position, the sequences matching there (ignoring end), in list
// order. The oracle then takes the first that fits before end.
struct Oracle
{
    Oracle(const std::vector<QByteArray> &finds, const QByteArray &data)
        : finds(finds)
        , matches(size_t(data.size()))
    {
        for (qsizetype p = 0; p < data.size(); ++p)
            for (size_t i = 0; i < finds.size(); ++i)
                if (QByteArrayView(data).sliced(p).startsWith(finds[i]))
                    matches[size_t(p)].push_back(int(i));
    }
    Matcher::Match findFirst(qint64 from, qint64 to, qint64 end) const
    {
        for (qint64 p = from; p < to; ++p)
            for (int i : matches[size_t(p)])
                if (p + finds[size_t(i)].size() <= end)
                    return {p, i};
        return {};
    }

    std::vector<QByteArray> finds;
    std::vector<std::vector<int>> matches;
};

// The first end bytes of data in a block of exactly that size, so that a read
// at or past end is a heap overflow for AddressSanitizer.
std::unique_ptr<uchar[]> exactCopy(const QByteArray &data, qint64 end)
{
    std::unique_ptr<uchar[]> copy(new uchar[size_t(std::max<qint64>(end, 1))]);
    if (end > 0)
        std::memcpy(copy.get(), data.constData(), size_t(end));
    return copy;
}

// Finds of lengths [minLength, maxLength] over alphabet, with duplicates, sequences that extend an earlier one, prefixes of earlier ones and groups
// sharing their first bytes mixed in.
std::vector<QByteArray> randomFinds(QRandomGenerator &rng, const QByteArray &alphabet, int count, int minLength, int maxLength)
{
    const auto text = [&](int length) { return RandomBytes(rng.generate(), length, alphabet); };
    std::vector<QByteArray> finds;
    while (int(finds.size()) < count) {
        const int length = minLength + rng.bounded(maxLength - minLength + 1);
        QByteArray f = text(length);
        if (!finds.empty()) {
            const QByteArray &earlier = finds[size_t(rng.bounded(int(finds.size())))];
            const int kind = rng.bounded(12);
            if (kind == 0)
                f = earlier;
            else if (kind == 1)
                f = earlier + text(1 + rng.bounded(3));
            else if (kind == 2 && earlier.size() > minLength)
                f = earlier.left(minLength + rng.bounded(int(earlier.size()) - minLength));
            else if (kind == 3 || kind == 4)
                f = earlier.left(std::min<int>(3, length)) + f.mid(std::min<int>(3, length));
        }
        finds.push_back(f);
    }
    return finds;
}

QByteArray randomData(QRandomGenerator &rng, const QByteArray &alphabet, const std::vector<QByteArray> &finds, int size)
{
    QByteArray data;
    while (data.size() < size) {
        const QByteArray &f = finds[size_t(rng.bounded(int(finds.size())))];
        data += rng.bounded(4) ? RandomBytes(rng.generate(), 1 + rng.bounded(40), alphabet)
            : rng.bounded(4)   ? f
                               : f.left(rng.bounded(int(f.size()))); // a find whole, or cut short
    }
    data.truncate(size);
    return data;
}

} // namespace

class TestMatcher : public QObject
{
    Q_OBJECT

private slots:
    void cleanup() { Matcher::allowVectorSearch(true); }

    void againstOracle_data()
    {

        QTest::addColumn<QByteArray>("alphabet");
        QTest::addColumn<int>("count");
        QTest::addColumn<int>("minLength");
        QTest::addColumn<int>("maxLength");
        QTest::addColumn<bool>("portable");
        QTest::addColumn<quint32>("seed");

        // Letters are common bytes, so many finds over them are left to the portable strategies; finds over rare bytes stay with the vector ones even
        // when they are candidates everywhere.
        QByteArray allBytes(256, '\0');
        std::iota(allBytes.begin(), allBytes.end(), char(0));
        const std::pair<const char *, QByteArray> alphabets[]
            = {{"ab", "ab"}, {"abcd", "abcd"}, {"2 rare bytes", "\x01\x81"}, {"4 rare bytes", "\x01\x02\x81\x92"}, {"all bytes", allBytes}};
        const std::pair<int, int> lengths[] = {{1, 1}, {1, 40}, {2, 2}, {3, 3}, {2, 12}, {5, 40}};
        quint32 seed = 1;
        for (const bool portable : {false, true}) {
            for (const auto &[name, bytes] : alphabets) {
                for (const int count : {1, 2, 8, 9, 33, 100, 300}) {
                    for (const auto &[min, max] : lengths) {
                        // Long finds over two letters are nearly all shadowed by
                        // shorter ones; the other alphabets cover them.
                        if (bytes.size() == 2 && count >= 100 && min < 5)
                            continue;
                        QTest::addRow("%s, %d finds of %d-%d bytes%s", name, count, min, max, portable ? ", portable" : "")
                            << bytes << count << min << max << portable << seed++;
                    }
                }
            }
        }
    }

    // Every window and end near the vector boundaries of small data, and windows near both ends of larger data, searched the way the engine does:
    // from each match to the next.
    void againstOracle()
    {
        QFETCH(QByteArray, alphabet);
        QFETCH(int, count);
        QFETCH(int, minLength);
        QFETCH(int, maxLength);
        QFETCH(bool, portable);
        QFETCH(quint32, seed);
        Matcher::allowVectorSearch(!portable); // cleanup() allows it again

        QRandomGenerator rng(seed);
        const std::vector<QByteArray> finds = randomFinds(rng, alphabet, count, minLength, maxLength);
        const Matcher matcher(finds);
        QCOMPARE(matcher.size(), count);

        auto check = [&](const Oracle &oracle, const uchar *data, qint64 from, qint64 to, qint64 end) {
            const Matcher::Match got = matcher.findFirst(data, from, to, end);
            const Matcher::Match want = oracle.findFirst(from, to, end);
            if (got.position != want.position || got.index != want.index) {
                qWarning("from %lld to %lld end %lld: got (%lld, %d), want (%lld, %d)", from, to, end, got.position, got.index, want.position, want.index);
                return false;
            }
            return true;
        };
        auto searchFrom = [&](const Oracle &oracle, const uchar *data, qint64 from, qint64 end) {
            for (qint64 pos = from; pos <= end;) {
                const Matcher::Match m = matcher.findFirst(data, pos, end, end);
                if (!check(oracle, data, pos, end, end))
                    return false;
                if (m.position < 0)
                    break;
                pos = m.position + finds[size_t(m.index)].size();
            }
            return true;
        };

        const int sizes[] = {100, 161, 2000 + rng.bounded(3000), 6000 + rng.bounded(4000)};
        for (const int size : sizes) {
            const QByteArray data = randomData(rng, alphabet, finds, size);
            const Oracle oracle(finds, data);
            const bool small = size <= 161;
            // Every end for small data, the last 71 for larger.
            for (qint64 end = size; end >= (small ? 0 : size - 70); --end) {
                const auto copy = exactCopy(data, end);
                const uchar *d = copy.get();
                if (small) {
                    for (qint64 from = 0; from <= end; ++from)
                        QVERIFY(searchFrom(oracle, d, from, end));
                } else if (end == size || end == size - 33) {
                    QVERIFY(searchFrom(oracle, d, rng.bounded(64), end));
                }
                for (qint64 t = 0; t <= std::min<qint64>(end, 70); ++t) {
                    QVERIFY(check(oracle, d, end - t, end, end));
                    QVERIFY(check(oracle, d, end - 70 - t < 0 ? 0 : end - 70 - t, end - t, end));
                    QVERIFY(check(oracle, d, std::min(t, end - t), end - t, end));
                }
                if (!small) {
                    for (int k = 0; k < 20; ++k) {
                        const qint64 to = rng.bounded(end + 1);
                        QVERIFY(check(oracle, d, rng.bounded(to + 1), to, end));
                    }
                }
            }
        }
    }
};

QTEST_GUILESS_MAIN(TestMatcher)
#include "tst_matcher.moc"
