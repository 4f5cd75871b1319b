// The limit perrox-batch --count is measured against: reads a file in 1 MiB
// pieces and counts non-overlapping occurrences of one byte string with memmem.
#include <algorithm>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <unistd.h>
#include <vector>

int main(int argc, char **argv)
{
    if (argc != 3)
        return 2;
    const char *needle = argv[2];
    const size_t len = std::strlen(needle);
    const int fd = ::open(argv[1], O_RDONLY);
    if (fd < 0 || len == 0)
        return 2;
    constexpr size_t piece = 1 << 20;
    std::vector<char> buffer(piece + len);
    long long count = 0;
    size_t kept = 0;
    for (;;) {
        const ssize_t got = ::read(fd, buffer.data() + kept, piece);
        if (got <= 0)
            break;
        const size_t end = kept + size_t(got);
        size_t pos = 0;
        while (const void *hit = ::memmem(buffer.data() + pos, end - pos, needle, len)) {
            ++count;
            pos = size_t(static_cast<const char *>(hit) - buffer.data()) + len;
        }
        const size_t keepFrom = std::max(pos, end - std::min(end, len - 1));
        kept = end - keepFrom;
        std::memmove(buffer.data(), buffer.data() + keepFrom, kept);
    }
    std::printf("%lld\n", count);
    return 0;
}
