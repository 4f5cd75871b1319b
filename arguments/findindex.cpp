#include "findindex.h"

#include <algorithm>
#include <cstring>
#include <limits>

namespace perrox {

namespace {

// Polynomial hash of a window, mod 2^64, rolled one byte at a time.
constexpr quint64 kBase = 0x100000001b3ull;

quint64 hashOf(QByteArrayView bytes)
{
    quint64 h = 0;
    for (const char c : bytes)
        h = h * kBase + uchar(c);
    return h;
}

} // namespace

FindIndex::FindIndex(const std::vector<QByteArray> &finds)
    : m_finds(finds)
{
    m_first.reserve(finds.size());
    for (size_t i = 0; i < finds.size(); ++i) {
        const QByteArray &f = finds[i];
        if (f.isEmpty())
            continue;
        const quint64 h = hashOf(f);
        if (lookup(f, h) >= 0)
            continue; // an earlier find with this content stands for it
        m_first.emplace(key(f.size(), h), int(i));
        m_lengths.push_back(f.size());
    }
    std::sort(m_lengths.begin(), m_lengths.end());
    m_lengths.erase(std::unique(m_lengths.begin(), m_lengths.end()), m_lengths.end());
}

int FindIndex::lookup(QByteArrayView bytes, quint64 hash) const
{
    const auto [from, to] = m_first.equal_range(key(bytes.size(), hash));
    for (auto it = from; it != to; ++it) {
        const QByteArray &f = m_finds[size_t(it->second)];
        if (f.size() == bytes.size() && std::memcmp(f.constData(), bytes.data(), size_t(bytes.size())) == 0)
            return it->second;
    }
    return -1;
}

int FindIndex::firstPrefixOf(QByteArrayView text) const
{
    int best = -1;
    quint64 h = 0;
    qsizetype done = 0;
    for (const qsizetype length : m_lengths) {
        if (length > text.size())
            break;
        for (; done < length; ++done)
            h = h * kBase + uchar(text.at(done));
        const int index = lookup(text.first(length), h);
        if (index >= 0 && (best < 0 || index < best))
            best = index;
    }
    return best;
}

int FindIndex::firstIn(QByteArrayView text) const
{
    int best = -1;
    for (const qsizetype length : m_lengths) {
        if (length > text.size())
            break;
        quint64 top = 1; // kBase^(length - 1)
        for (qsizetype k = 1; k < length; ++k)
            top *= kBase;
        quint64 h = hashOf(text.first(length));
        for (qsizetype at = 0;; ++at) {
            const int index = lookup(text.sliced(at, length), h);
            if (index >= 0 && (best < 0 || index < best))
                best = index;
            if (at + length >= text.size())
                break;
            h = (h - uchar(text.at(at)) * top) * kBase + uchar(text.at(at + length));
        }
    }
    return best;
}

} // namespace perrox
