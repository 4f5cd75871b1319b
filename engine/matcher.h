#pragma once

#include <QByteArray>

#include <cstdint>
#include <memory>
#include <vector>

namespace perrox {

// Finds, for a list of find sequences, the leftmost position where one of them
// matches; at a position where several match, the first in list order wins
// (not the longest). This is exactly the decision of a left-to-right scan that
// tries the sequences in order at every position, made faster:
//  - one sequence: memchr, or on x86-64 with AVX2 a vector search for two of
//    its rarest bytes at once, else memmem;
//  - several, on x86-64 with AVX2, unless so many or so alike that too many
//    positions would need verifying: Teddy, a vector filter on the first one
//    to three bytes in eight buckets;
//  - several, all at least 2 bytes: Wu-Manber skipping on byte pairs;
//  - otherwise: a table of the possible first bytes.
// Sequences that can never win (a later duplicate, or one that starts with an
// earlier sequence) are left out of the search.
class Matcher
{
public:
    struct Match
    {
        qint64 position = -1; // -1: none
        int index = -1; // list index of the winning sequence
    };

    // Every sequence holds at least one byte.
    explicit Matcher(std::vector<QByteArray> finds = {});

    int size() const { return int(m_finds.size()); }
    bool isEmpty() const { return m_finds.empty(); }
    const QByteArray &find(int index) const { return m_finds[size_t(index)]; }
    const std::vector<QByteArray> &finds() const { return m_finds; }
    qint64 length(int index) const { return m_finds[size_t(index)].size(); }
    qint64 maxLength() const { return m_maxLength; }

    // The leftmost match starting in [from, to) of data, where a sequence only
    // counts when it fits before end (start + length <= end). Offsets are into
    // data; from <= to <= end.
    Match findFirst(const uchar *data, qint64 from, qint64 to, qint64 end) const;

    // For tests: whether matchers made from now on may use vector instructions
    // (they do where the processor has them, unless this turned them off).
    static void allowVectorSearch(bool allowed);

    struct Vector; // tables of the vector searches

private:
    Match matchAt(const uchar *data, qint64 pos, qint64 end, const int *candidates, const int *candidatesEnd) const;
    Match findSingle(const uchar *data, qint64 from, qint64 to, qint64 end) const;
    Match findByFirstByte(const uchar *data, qint64 from, qint64 to, qint64 end) const;
    Match findByPairs(const uchar *data, qint64 from, qint64 to, qint64 end) const;
    void buildPackedPair();
    bool buildTeddy();

    enum class Strategy
    {
        None,
        Single,
        FirstByte,
        Pairs,
        PackedPair,
        Teddy
    };

    std::vector<QByteArray> m_finds;
    qint64 m_maxLength = 0;
    qint64 m_minLength = 0; // over the sequences that can win
    Strategy m_strategy = Strategy::None;
    std::vector<int> m_live; // indices that can win, in list order

    // FirstByte: candidates by first byte. Pairs: candidates by the byte pair
    // that ends the first m_minLength bytes. Both in list order, as a flat
    // array with start offsets (bucket b is [m_bucketStart[b], m_bucketStart[b + 1])).
    std::vector<uint32_t> m_bucketStart;
    std::vector<int> m_buckets;
    std::vector<uint16_t> m_shift; // Pairs: safe skip by the pair at the window's end

    std::shared_ptr<const Vector> m_vector; // PackedPair and Teddy
};

} // namespace perrox
