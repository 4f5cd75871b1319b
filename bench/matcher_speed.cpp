// Times Matcher::findFirst counting over 256 MiB of source-like text held in
// memory, with the vector searches and with the portable strategies alone.
#include "engine/matcher.h"

#include <chrono>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

using perrox::Matcher;

namespace {

struct Random
{
    uint64_t state = 0x9e3779b97f4a7c15ull;
    uint64_t next()
    {
        state ^= state << 13;
        state ^= state >> 7;
        state ^= state << 17;
        return state;
    }
    int below(int n) { return int(next() % uint64_t(n)); }
};

QByteArray randomWord(Random &rng, int minLength, int maxLength)
{
    static const char letters[] = "abcdefghijklmnopqrstuvwxyz";
    QByteArray w;
    for (int n = minLength + rng.below(maxLength - minLength + 1); n > 0; --n)
        w.append(letters[rng.below(26)]);
    return w;
}

// Lines of indented words, identifiers, numbers and punctuation.
std::vector<uchar> makeText(size_t size)
{
    Random rng;
    std::vector<QByteArray> words;
    for (int i = 0; i < 4000; ++i)
        words.push_back(randomWord(rng, 1, 10));
    for (const char *k :
        {"int", "return", "if", "else", "for", "while", "const", "auto", "void", "struct", "class", "namespace", "std", "size_t", "the", "and", "of", "to"}) {
        for (int r = 0; r < 40; ++r)
            words.push_back(k);
    }
    static const char punct[] = "(){};,.=+-*/<>&|!:[]\"'_#";
    std::vector<uchar> text;
    text.reserve(size + 256);
    while (text.size() < size) {
        for (int indent = 4 * rng.below(4); indent > 0; --indent)
            text.push_back(' ');
        for (int n = 1 + rng.below(12); n > 0; --n) {
            const int kind = rng.below(10);
            if (kind < 7) {
                const QByteArray &w = words[size_t(rng.below(int(words.size())))];
                text.insert(text.end(), w.begin(), w.end());
            } else if (kind == 7) {
                for (int d = 1 + rng.below(4); d > 0; --d)
                    text.push_back(uchar('0' + rng.below(10)));
            } else {
                text.push_back(uchar(punct[rng.below(int(sizeof(punct) - 1))]));
            }
            text.push_back(rng.below(4) ? ' ' : uchar(punct[rng.below(int(sizeof(punct) - 1))]));
        }
        text.push_back('\n');
    }
    text.resize(size);
    return text;
}

double seconds(std::chrono::steady_clock::duration d)
{
    return std::chrono::duration<double>(d).count();
}

struct Result
{
    long long count = 0;
    double mbPerSecond = 0;
};

Result countMatches(const Matcher &matcher, const std::vector<uchar> &text)
{
    const uchar *data = text.data();
    const auto n = qint64(text.size());
    Result best;
    for (int round = 0; round < 2; ++round) {
        const auto start = std::chrono::steady_clock::now();
        long long count = 0;
        for (qint64 pos = 0;;) {
            const Matcher::Match m = matcher.findFirst(data, pos, n, n);
            if (m.position < 0)
                break;
            ++count;
            pos = m.position + matcher.length(m.index);
        }
        const double mb = double(n) / 1e6 / seconds(std::chrono::steady_clock::now() - start);
        best.count = count;
        best.mbPerSecond = std::max(best.mbPerSecond, mb);
    }
    return best;
}

Result countMemmem(const QByteArray &needle, const std::vector<uchar> &text)
{
    Result best;
    for (int round = 0; round < 2; ++round) {
        const auto start = std::chrono::steady_clock::now();
        long long count = 0;
        const uchar *p = text.data();
        const uchar *end = p + text.size();
        while (const void *hit = ::memmem(p, size_t(end - p), needle.constData(), size_t(needle.size()))) {
            ++count;
            p = static_cast<const uchar *>(hit) + needle.size();
        }
        // memmem is pure: keep its calls from moving past the clock.
        asm volatile("" : "+r"(count) : : "memory");
        const double mb = double(text.size()) / 1e6 / seconds(std::chrono::steady_clock::now() - start);
        best.count = count;
        best.mbPerSecond = std::max(best.mbPerSecond, mb);
    }
    return best;
}

} // namespace

int main()
{
    const std::vector<uchar> text = makeText(size_t(256) << 20);
    Random rng;
    rng.state = 12345;

    struct Case
    {
        std::string name;
        std::vector<QByteArray> finds;
    };
    std::vector<Case> cases;
    cases.push_back({"one find \"namespace\"", {"namespace"}});
    cases.push_back({"one find \"q042z\"", {"q042z"}});
    Case qs {"100 finds q000z..q099z", {}};
    for (int i = 0; i < 100; ++i)
        qs.finds.push_back("q0" + QByteArray::number(i).rightJustified(2, '0') + 'z');
    cases.push_back(qs);
    Case words {"100 random words of 4-12 bytes", {}};
    for (int i = 0; i < 100; ++i)
        words.finds.push_back(randomWord(rng, 4, 12));
    cases.push_back(words);
    for (const int count : {8, 16, 30, 50}) {
        Case c {std::to_string(count) + " random words of 4-12 bytes", {}};
        for (int i = 0; i < count; ++i)
            c.finds.push_back(randomWord(rng, 4, 12));
        cases.push_back(c);
    }

    std::printf("%-34s %12s %12s %12s %10s\n", "case", "memmem MB/s", "old MB/s", "new MB/s", "matches");
    for (const Case &c : cases) {
        Matcher::allowVectorSearch(false);
        const Matcher oldMatcher(c.finds);
        Matcher::allowVectorSearch(true);
        const Matcher newMatcher(c.finds);
        const Result o = countMatches(oldMatcher, text);
        const Result v = countMatches(newMatcher, text);
        std::string mem = "-";
        if (c.finds.size() == 1) {
            const Result m = countMemmem(c.finds.front(), text);
            mem = std::to_string(long(m.mbPerSecond));
        }
        std::printf("%-34s %12s %12ld %12ld %10lld%s\n", c.name.c_str(), mem.c_str(), long(o.mbPerSecond), long(v.mbPerSecond), v.count,
            o.count == v.count ? "" : "  COUNTS DIFFER");
    }
    return 0;
}
