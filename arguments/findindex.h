#pragma once

#include <QByteArray>
#include <QByteArrayView>

#include <unordered_map>
#include <vector>

namespace perrox {

// An index of a list of find sequences by their content, so that the
// questions the pair checks and the matcher ask of every pair ("does an
// earlier find start this one?", "which find occurs in this text?") cost
// time in proportion to the bytes asked about, times the number of distinct
// find lengths, instead of the number of pairs: a million pairs are checked
// in seconds. Empty finds are left out. The finds must outlive the index.
class FindIndex
{
public:
    explicit FindIndex(const std::vector<QByteArray> &finds);

    // The smallest index whose find is the start of text (or equal to it);
    // -1 when there is none.
    int firstPrefixOf(QByteArrayView text) const;
    // The smallest index whose find occurs anywhere in text; -1 when none does.
    int firstIn(QByteArrayView text) const;

private:
    quint64 key(qsizetype length, quint64 hash) const { return hash * 0x9E3779B97F4A7C15ull + quint64(length); }
    // The smallest index of a find of this length, hash and content; -1.
    int lookup(QByteArrayView bytes, quint64 hash) const;

    const std::vector<QByteArray> &m_finds;
    std::vector<qsizetype> m_lengths; // distinct, ascending
    // Keyed by length and rolling hash; one entry per distinct content, with
    // the smallest index that has it.
    std::unordered_multimap<quint64, int> m_first;
};

} // namespace perrox
