#include "matcher.h"

#include <algorithm>
#include <cstring>

namespace perrox {

namespace {

inline uint32_t pairAt(const uchar *p)
{
    return (uint32_t(p[0]) << 8) | p[1];
}

} // namespace

Matcher::Matcher(std::vector<QByteArray> finds)
    : m_finds(std::move(finds))
{
    for (int i = 0; i < size(); ++i) {
        const QByteArray &f = m_finds[size_t(i)];
        Q_ASSERT(!f.isEmpty());
        m_maxLength = std::max<qint64>(m_maxLength, f.size());
        // An earlier sequence that is a prefix of this one (or equal to it)
        // matches wherever this one would, and wins.
        const bool shadowed = std::any_of(m_live.begin(), m_live.end(), [&](int j) { return f.startsWith(m_finds[size_t(j)]); });
        if (!shadowed)
            m_live.push_back(i);
    }
    if (m_live.empty())
        return;
    m_minLength = m_maxLength;
    for (int i : m_live)
        m_minLength = std::min<qint64>(m_minLength, length(i));

    if (m_live.size() == 1) {
        m_strategy = Strategy::Single;
        return;
    }

    const bool pairs = m_minLength >= 2;
    m_strategy = pairs ? Strategy::Pairs : Strategy::FirstByte;
    const size_t bucketCount = pairs ? 65536 : 256;
    auto bucketOf = [&](int i) -> uint32_t {
        const auto *f = reinterpret_cast<const uchar *>(m_finds[size_t(i)].constData());
        return pairs ? pairAt(f + m_minLength - 2) : f[0];
    };
    m_bucketStart.assign(bucketCount + 1, 0);
    for (int i : m_live)
        ++m_bucketStart[bucketOf(i) + 1];
    for (size_t b = 0; b < bucketCount; ++b)
        m_bucketStart[b + 1] += m_bucketStart[b];
    m_buckets.resize(m_live.size());
    std::vector<uint32_t> fill(m_bucketStart.begin(), m_bucketStart.end() - 1);
    for (int i : m_live) // m_live is in list order, so every bucket is too
        m_buckets[fill[bucketOf(i)]++] = i;

    if (pairs) {
        // Shift for the pair that ends a window of m_minLength bytes: how far
        // the window may move before that pair could line up with a pair of
        // some sequence's first m_minLength bytes.
        const auto maxShift = uint16_t(std::min<qint64>(m_minLength - 1, 65535));
        m_shift.assign(65536, maxShift);
        for (int i : m_live) {
            const auto *f = reinterpret_cast<const uchar *>(m_finds[size_t(i)].constData());
            for (qint64 j = 0; j + 1 < m_minLength; ++j) {
                const qint64 s = m_minLength - 2 - j;
                uint16_t &slot = m_shift[pairAt(f + j)];
                if (s < slot)
                    slot = uint16_t(s);
            }
        }
    }
}

Matcher::Match Matcher::matchAt(const uchar *data, qint64 pos, qint64 end, const int *candidates, const int *candidatesEnd) const
{
    for (const int *c = candidates; c != candidatesEnd; ++c) {
        const QByteArray &f = m_finds[size_t(*c)];
        if (pos + f.size() <= end && std::memcmp(data + pos, f.constData(), size_t(f.size())) == 0)
            return {pos, *c};
    }
    return {};
}

Matcher::Match Matcher::findFirst(const uchar *data, qint64 from, qint64 to, qint64 end) const
{
    // No sequence fits at or after end - m_minLength + 1.
    to = std::min(to, end - m_minLength + 1);
    if (from >= to)
        return {};
    switch (m_strategy) {
    case Strategy::None:
        return {};
    case Strategy::Single:
        return findSingle(data, from, to, end);
    case Strategy::FirstByte:
        return findByFirstByte(data, from, to, end);
    case Strategy::Pairs:
        return findByPairs(data, from, to, end);
    }
    return {};
}

Matcher::Match Matcher::findSingle(const uchar *data, qint64 from, qint64 to, qint64 end) const
{
    const int index = m_live.front();
    const QByteArray &f = m_finds[size_t(index)];
    // A match starting before to ends before to + length - 1, and to already
    // leaves room for the whole sequence before end.
    const qint64 haystackEnd = to + f.size() - 1;
    const void *hit;
    if (f.size() == 1)
        hit = std::memchr(data + from, f.at(0), size_t(to - from));
    else
        hit = ::memmem(data + from, size_t(haystackEnd - from), f.constData(), size_t(f.size()));
    Q_UNUSED(end);
    if (!hit)
        return {};
    return {qint64(static_cast<const uchar *>(hit) - data), index};
}

Matcher::Match Matcher::findByFirstByte(const uchar *data, qint64 from, qint64 to, qint64 end) const
{
    const uint32_t *starts = m_bucketStart.data();
    const int *buckets = m_buckets.data();
    for (qint64 pos = from; pos < to; ++pos) {
        const uchar b = data[pos];
        if (starts[b] == starts[b + 1])
            continue;
        const Match m = matchAt(data, pos, end, buckets + starts[b], buckets + starts[b + 1]);
        if (m.position >= 0)
            return m;
    }
    return {};
}

Matcher::Match Matcher::findByPairs(const uchar *data, qint64 from, qint64 to, qint64 end) const
{
    const uint16_t *shift = m_shift.data();
    const uint32_t *starts = m_bucketStart.data();
    const int *buckets = m_buckets.data();
    const qint64 tail = m_minLength - 2; // window start to its last pair
    qint64 pos = from;
    while (pos < to) {
        const uint32_t pair = pairAt(data + pos + tail);
        const uint16_t s = shift[pair];
        if (s != 0) {
            pos += s;
            continue;
        }
        const Match m = matchAt(data, pos, end, buckets + starts[pair], buckets + starts[pair + 1]);
        if (m.position >= 0)
            return m;
        ++pos;
    }
    return {};
}

} // namespace perrox
