#include "matcher.h"

#include "arguments/findindex.h"

#include <algorithm>
#include <array>
#include <atomic>
#include <climits>
#include <cmath>
#include <cstring>
#include <map>

#if defined(__x86_64__)
#include <immintrin.h>
#define PERROX_X86_VECTOR 1
#endif

namespace perrox {

namespace {

inline uint32_t pairAt(const uchar *p)
{
    return (uint32_t(p[0]) << 8) | p[1];
}

std::atomic<bool> g_vectorAllowed {true};

} // namespace

#if PERROX_X86_VECTOR

// PackedPair: the one sequence, and two of its bytes to look for at once.
// Teddy: the first `width` bytes of every live sequence are its fingerprint;
// the sequences are spread over eight buckets (equal fingerprints share one).
// For fingerprint byte j, lo[j][n] holds the buckets with a fingerprint whose
// byte j has low nibble n, hi[j][n] the same for the high nibble. A position
// is a candidate for bucket b when bit b survives the AND of the lookups of
// the bytes from there on.
struct Matcher::Vector
{
    struct Entry
    {
        const uchar *bytes;
        qint64 length;
        int index;
        uint64_t head; // the first up to 8 bytes, loaded as one word (x86: little-endian)
        uint64_t headMask;
    };

    QByteArray needle;
    int needleIndex = -1;
    qint64 offset1 = 0, offset2 = 0;
    uchar byte1 = 0, byte2 = 0;

    int width = 0;
    alignas(16) uint8_t lo[3][16] = {};
    alignas(16) uint8_t hi[3][16] = {};
    std::vector<QByteArray> sequences; // holds the bytes entries point into
    std::vector<Entry> entries; // bucket b is [bucketStart[b], bucketStart[b + 1]), in list order
    uint32_t bucketStart[9] = {};

    uint32_t bucketsAt(const uchar *p) const
    {
        uint32_t bits = 0xff;
        for (int j = 0; j < width; ++j)
            bits &= lo[j][p[j] & 15] & hi[j][p[j] >> 4];
        return bits;
    }

    // The lowest list index among the buckets in bits whose sequence matches
    // at pos and fits before end, or -1.
    int verify(const uchar *data, qint64 pos, qint64 end, uint32_t bits) const
    {
        int best = INT_MAX;
        const qint64 room = end - pos;
        uint64_t window = 0;
        if (room >= 8)
            std::memcpy(&window, data + pos, 8);
        do {
            const int b = __builtin_ctz(bits);
            bits &= bits - 1;
            for (uint32_t e = bucketStart[b]; e < bucketStart[b + 1]; ++e) {
                const Entry &entry = entries[e];
                if (entry.index >= best)
                    break;
                if (entry.length > room)
                    continue;
                if (room >= 8) {
                    if ((window & entry.headMask) != entry.head)
                        continue;
                    if (entry.length > 8 && std::memcmp(data + pos + 8, entry.bytes + 8, size_t(entry.length - 8)) != 0)
                        continue;
                } else if (std::memcmp(data + pos, entry.bytes, size_t(entry.length)) != 0) {
                    continue;
                }
                best = entry.index;
                break;
            }
        } while (bits);
        return best == INT_MAX ? -1 : best;
    }
};

namespace {

// Rough commonness of byte values in text, source code and binary files:
// 255 for the most common, lower for rarer ones.
constexpr std::array<uint8_t, 256> makeByteRank()
{
    std::array<uint8_t, 256> rank {};
    for (int b = 0; b < 256; ++b)
        rank[size_t(b)] = b >= 0x80 ? 30 : b < 0x20 || b == 0x7f ? 20 : 60;
    constexpr char common[] = " \0etaoinsrhldcumfpgwybv\n,.;_()=ESTARINOCLDPMk\t\"'-/xj{}*:0123456789q<>&z!#\xff[]+FBHGUWVYKXJQZ%|\\@$?^`~\r";
    for (size_t k = 0; k + 1 < sizeof(common); ++k) {
        uint8_t &r = rank[uchar(common[k])];
        const auto value = uint8_t(255 - k);
        if (r < value)
            r = value;
    }
    return rank;
}

constexpr std::array<uint8_t, 256> g_byteRank = makeByteRank();

// Teddy pays while few positions need verifying. On source-like text, 100
// random words of 4 to 12 letters (estimated rate 0.04, by passRate) ran at half
// the speed of Wu-Manber; 50 words (0.006) at twice its speed. The number of
// sequences bounds the time spent building the buckets.
constexpr double g_teddyMaxRate = 0.015;
constexpr size_t g_teddyMaxSequences = 256;

// The share of bytes, weighted by commonness, that pass a fingerprint byte
// whose low nibbles are in lo and high nibbles in hi (bit sets).
double passRate(uint32_t lo, uint32_t hi)
{
    static const auto weights = [] {
        std::array<double, 257> w {};
        for (int b = 0; b < 256; ++b) {
            w[size_t(b)] = std::exp2(g_byteRank[size_t(b)] / 24.0);
            w[256] += w[size_t(b)];
        }
        return w;
    }();
    double sum = 0;
    for (int h = 0; h < 16; ++h) {
        if (!(hi >> h & 1))
            continue;
        for (int l = 0; l < 16; ++l) {
            if (lo >> l & 1)
                sum += weights[size_t(h * 16 + l)];
        }
    }
    return sum / weights[256];
}

// Sequences bound for one bucket and the nibbles of their fingerprints.
struct Cluster
{
    uint32_t lo[3] = {};
    uint32_t hi[3] = {};
    std::vector<int> sequences;
    double rate = 0; // share of positions that pass, roughly

    void add(const uchar *fingerprint, int width)
    {
        for (int j = 0; j < width; ++j) {
            lo[j] |= 1u << (fingerprint[j] & 15);
            hi[j] |= 1u << (fingerprint[j] >> 4);
        }
    }
    void merge(const Cluster &other, int width)
    {
        for (int j = 0; j < width; ++j) {
            lo[j] |= other.lo[j];
            hi[j] |= other.hi[j];
        }
        sequences.insert(sequences.end(), other.sequences.begin(), other.sequences.end());
    }
    void updateRate(int width)
    {
        rate = 1;
        for (int j = 0; j < width; ++j)
            rate *= passRate(lo[j], hi[j]);
    }
};

__attribute__((target("avx2"))) inline uint32_t pairMask(const uchar *p, qint64 offset1, qint64 offset2, __m256i byte1, __m256i byte2)
{
    const __m256i a = _mm256_cmpeq_epi8(_mm256_loadu_si256(reinterpret_cast<const __m256i *>(p + offset1)), byte1);
    const __m256i b = _mm256_cmpeq_epi8(_mm256_loadu_si256(reinterpret_cast<const __m256i *>(p + offset2)), byte2);
    return uint32_t(_mm256_movemask_epi8(_mm256_and_si256(a, b)));
}

// A vector of 32 positions loads up to the last position + length - 1, below
// end as long as the vector ends at or before to (at most end - length + 1).
// The tail of the window is one more vector ending at to, or byte by byte when
// the whole window is shorter than a vector.
__attribute__((target("avx2"))) qint64 findPackedPair(const Matcher::Vector &v, const uchar *data, qint64 from, qint64 to)
{
    const auto *needle = reinterpret_cast<const uchar *>(v.needle.constData());
    const auto length = size_t(v.needle.size());
    const qint64 o1 = v.offset1, o2 = v.offset2;
    auto check = [&](qint64 base, uint32_t mask) -> qint64 {
        while (mask) {
            const qint64 p = base + __builtin_ctz(mask);
            if (std::memcmp(data + p, needle, length) == 0)
                return p;
            mask &= mask - 1;
        }
        return -1;
    };
    qint64 pos = from;
    if (to - from < 32) {
        for (; pos < to; ++pos) {
            if (data[pos + o1] == v.byte1 && data[pos + o2] == v.byte2 && std::memcmp(data + pos, needle, length) == 0)
                return pos;
        }
        return -1;
    }
    const __m256i b1 = _mm256_set1_epi8(char(v.byte1));
    const __m256i b2 = _mm256_set1_epi8(char(v.byte2));
    for (; pos + 64 <= to; pos += 64) {
        const uchar *p = data + pos;
        const __m256i a0 = _mm256_cmpeq_epi8(_mm256_loadu_si256(reinterpret_cast<const __m256i *>(p + o1)), b1);
        const __m256i c0 = _mm256_cmpeq_epi8(_mm256_loadu_si256(reinterpret_cast<const __m256i *>(p + o2)), b2);
        const __m256i a1 = _mm256_cmpeq_epi8(_mm256_loadu_si256(reinterpret_cast<const __m256i *>(p + 32 + o1)), b1);
        const __m256i c1 = _mm256_cmpeq_epi8(_mm256_loadu_si256(reinterpret_cast<const __m256i *>(p + 32 + o2)), b2);
        const __m256i m0 = _mm256_and_si256(a0, c0);
        const __m256i m1 = _mm256_and_si256(a1, c1);
        const __m256i any = _mm256_or_si256(m0, m1);
        if (_mm256_testz_si256(any, any))
            continue;
        qint64 hit = check(pos, uint32_t(_mm256_movemask_epi8(m0)));
        if (hit < 0)
            hit = check(pos + 32, uint32_t(_mm256_movemask_epi8(m1)));
        if (hit >= 0)
            return hit;
    }
    for (; pos + 32 <= to; pos += 32) {
        const qint64 hit = check(pos, pairMask(data + pos, o1, o2, b1, b2));
        if (hit >= 0)
            return hit;
    }
    if (pos < to) {
        const qint64 last = to - 32; // overlaps positions already searched
        return check(last, pairMask(data + last, o1, o2, b1, b2) & (~0u << (pos - last)));
    }
    return -1;
}

template<int Width> __attribute__((target("avx2"))) inline __m256i teddyBuckets(const uchar *p, const __m256i *lo, const __m256i *hi)
{
    const __m256i nibble = _mm256_set1_epi8(0x0f);
    __m256i r = _mm256_set1_epi8(-1);
    for (int j = 0; j < Width; ++j) {
        const __m256i v = _mm256_loadu_si256(reinterpret_cast<const __m256i *>(p + j));
        const __m256i l = _mm256_shuffle_epi8(lo[j], _mm256_and_si256(v, nibble));
        const __m256i h = _mm256_shuffle_epi8(hi[j], _mm256_and_si256(_mm256_srli_epi16(v, 4), nibble));
        r = _mm256_and_si256(r, _mm256_and_si256(l, h));
    }
    return r;
}

// The loads for the positions [pos, pos + 32) reach pos + 32 + Width - 2,
// below end as long as pos + 32 <= to, since Width is at most the shortest
// live length.
template<int Width> __attribute__((target("avx2"))) Matcher::Match findTeddy(const Matcher::Vector &v, const uchar *data, qint64 from, qint64 to, qint64 end)
{
    qint64 pos = from;
    if (to - from < 32) {
        for (; pos < to; ++pos) {
            if (const uint32_t bits = v.bucketsAt(data + pos)) {
                const int index = v.verify(data, pos, end, bits);
                if (index >= 0)
                    return {pos, index};
            }
        }
        return {};
    }
    __m256i lo[Width], hi[Width];
    for (int j = 0; j < Width; ++j) {
        lo[j] = _mm256_broadcastsi128_si256(_mm_load_si128(reinterpret_cast<const __m128i *>(v.lo[j])));
        hi[j] = _mm256_broadcastsi128_si256(_mm_load_si128(reinterpret_cast<const __m128i *>(v.hi[j])));
    }
    const __m256i zero = _mm256_setzero_si256();
    alignas(32) uint8_t buckets[32];
    auto check = [&](qint64 base, uint32_t mask) -> Matcher::Match {
        while (mask) {
            const int i = __builtin_ctz(mask);
            const int index = v.verify(data, base + i, end, buckets[i]);
            if (index >= 0)
                return {base + i, index};
            mask &= mask - 1;
        }
        return {};
    };
    for (; pos + 32 <= to; pos += 32) {
        const __m256i r = teddyBuckets<Width>(data + pos, lo, hi);
        const auto mask = ~uint32_t(_mm256_movemask_epi8(_mm256_cmpeq_epi8(r, zero)));
        if (mask) {
            _mm256_store_si256(reinterpret_cast<__m256i *>(buckets), r);
            const Matcher::Match m = check(pos, mask);
            if (m.position >= 0)
                return m;
        }
    }
    if (pos < to) {
        const qint64 last = to - 32; // overlaps positions already searched
        const __m256i r = teddyBuckets<Width>(data + last, lo, hi);
        const auto mask = ~uint32_t(_mm256_movemask_epi8(_mm256_cmpeq_epi8(r, zero))) & (~0u << (pos - last));
        if (mask) {
            _mm256_store_si256(reinterpret_cast<__m256i *>(buckets), r);
            return check(last, mask);
        }
    }
    return {};
}

} // namespace

#else

struct Matcher::Vector
{
};

#endif

Matcher::Matcher(std::vector<QByteArray> finds)
    : m_finds(std::move(finds))
{
    const FindIndex index(m_finds);
    for (int i = 0; i < size(); ++i) {
        const QByteArray &f = m_finds[size_t(i)];
        Q_ASSERT(!f.isEmpty());
        m_maxLength = std::max<qint64>(m_maxLength, f.size());
        // An earlier sequence that is a prefix of this one (or equal to it)
        // matches wherever this one would, and wins.
        if (index.firstPrefixOf(f) == i)
            m_live.push_back(i);
    }
    if (m_live.empty())
        return;
    m_minLength = m_maxLength;
    for (int i : m_live)
        m_minLength = std::min<qint64>(m_minLength, length(i));

#if PERROX_X86_VECTOR
    const bool vector = g_vectorAllowed.load(std::memory_order_relaxed) && __builtin_cpu_supports("avx2");
    if (vector && m_live.size() == 1 && m_minLength >= 2) {
        buildPackedPair();
        return;
    }
    if (vector && m_live.size() > 1 && m_live.size() <= g_teddyMaxSequences && buildTeddy())
        return;
#endif

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

void Matcher::allowVectorSearch(bool allowed)
{
    g_vectorAllowed.store(allowed, std::memory_order_relaxed);
}

#if PERROX_X86_VECTOR

void Matcher::buildPackedPair()
{
    auto v = std::make_shared<Vector>();
    v->needleIndex = m_live.front();
    v->needle = m_finds[size_t(v->needleIndex)];
    const auto *f = reinterpret_cast<const uchar *>(v->needle.constData());
    const qint64 length = v->needle.size();
    // The rarest byte, then the rarest at another offset; ties go to the
    // earlier offset.
    qint64 o1 = 0;
    for (qint64 i = 1; i < length; ++i) {
        if (g_byteRank[f[i]] < g_byteRank[f[o1]])
            o1 = i;
    }
    qint64 o2 = o1 == 0 ? 1 : 0;
    for (qint64 i = 0; i < length; ++i) {
        if (i != o1 && g_byteRank[f[i]] < g_byteRank[f[o2]])
            o2 = i;
    }
    v->offset1 = o1;
    v->offset2 = o2;
    v->byte1 = f[o1];
    v->byte2 = f[o2];
    m_vector = std::move(v);
    m_strategy = Strategy::PackedPair;
}

namespace {

// The sequences live, by index into finds, gathered in at most eight buckets
// by their first width bytes.
std::vector<Cluster> TeddyClusters(const std::vector<QByteArray> &finds, const std::vector<int> &live, int width)
{
    // One cluster per distinct fingerprint; then the two whose merge adds the
    // fewest passing positions are merged until eight are left.
    std::map<QByteArray, Cluster> byFingerprint;
    for (int i : live) {
        const QByteArray fingerprint = finds[size_t(i)].left(width);
        Cluster &c = byFingerprint[fingerprint];
        if (c.sequences.empty())
            c.add(reinterpret_cast<const uchar *>(fingerprint.constData()), width);
        c.sequences.push_back(i);
    }
    std::vector<Cluster> clusters;
    clusters.reserve(byFingerprint.size());
    for (auto &entry : byFingerprint)
        clusters.push_back(std::move(entry.second));
    // With far more fingerprints than that, neighbours in byte order (which
    // share their leading nibbles) are first gathered in runs, which keeps the
    // merging cheap.
    constexpr size_t greedyLimit = 48;
    if (clusters.size() > greedyLimit) {
        std::vector<Cluster> runs(greedyLimit);
        for (size_t k = 0; k < clusters.size(); ++k)
            runs[k * greedyLimit / clusters.size()].merge(clusters[k], width);
        clusters = std::move(runs);
    }
    for (Cluster &c : clusters)
        c.updateRate(width);
    while (clusters.size() > 8) {
        size_t bestA = 0, bestB = 1;
        double bestCost = 1e300;
        for (size_t a = 0; a < clusters.size(); ++a) {
            for (size_t b = a + 1; b < clusters.size(); ++b) {
                Cluster u;
                u.merge(clusters[a], width);
                for (int j = 0; j < width; ++j) {
                    u.lo[j] |= clusters[b].lo[j];
                    u.hi[j] |= clusters[b].hi[j];
                }
                u.updateRate(width);
                const double cost = u.rate - clusters[a].rate - clusters[b].rate;
                if (cost < bestCost) {
                    bestCost = cost;
                    bestA = a;
                    bestB = b;
                }
            }
        }
        clusters[bestA].merge(clusters[bestB], width);
        clusters[bestA].updateRate(width);
        clusters.erase(clusters.begin() + std::ptrdiff_t(bestB));
    }
    return clusters;
}

} // namespace

bool Matcher::buildTeddy()
{
    auto v = std::make_shared<Vector>();
    const int width = int(std::min<qint64>(m_minLength, 3));
    v->width = width;

    std::vector<Cluster> clusters = TeddyClusters(m_finds, m_live, width);
    double rate = 0;
    for (const Cluster &c : clusters)
        rate += c.rate;
    if (rate > g_teddyMaxRate)
        return false;

    v->sequences.reserve(m_live.size());
    for (size_t b = 0; b < clusters.size(); ++b) {
        Cluster &c = clusters[b];
        std::sort(c.sequences.begin(), c.sequences.end());
        v->bucketStart[b] = uint32_t(v->entries.size());
        for (int i : c.sequences) {
            v->sequences.push_back(m_finds[size_t(i)]);
            const QByteArray &f = v->sequences.back();
            Vector::Entry entry {reinterpret_cast<const uchar *>(f.constData()), f.size(), i, 0, 0};
            const size_t headLength = size_t(std::min<qint64>(f.size(), 8));
            std::memcpy(&entry.head, f.constData(), headLength);
            entry.headMask = headLength == 8 ? ~uint64_t(0) : (uint64_t(1) << (8 * headLength)) - 1;
            v->entries.push_back(entry);
            for (int j = 0; j < width; ++j) {
                const auto byte = uchar(f.at(j));
                v->lo[j][byte & 15] |= uint8_t(1u << b);
                v->hi[j][byte >> 4] |= uint8_t(1u << b);
            }
        }
    }
    for (size_t b = clusters.size(); b <= 8; ++b)
        v->bucketStart[b] = uint32_t(v->entries.size());
    m_vector = std::move(v);
    m_strategy = Strategy::Teddy;
    return true;
}

#endif

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
#if PERROX_X86_VECTOR
    case Strategy::PackedPair: {
        const qint64 hit = findPackedPair(*m_vector, data, from, to);
        return hit < 0 ? Match {} : Match {hit, m_vector->needleIndex};
    }
    case Strategy::Teddy:
        switch (m_vector->width) {
        case 1:
            return findTeddy<1>(*m_vector, data, from, to, end);
        case 2:
            return findTeddy<2>(*m_vector, data, from, to, end);
        default:
            return findTeddy<3>(*m_vector, data, from, to, end);
        }
#else
    case Strategy::PackedPair:
    case Strategy::Teddy:
        break;
#endif
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
