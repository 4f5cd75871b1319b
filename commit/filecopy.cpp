#include "filecopy.h"

#include "commit/systemcalls.h"

#include <algorithm>
#include <cerrno>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace perrox {

int CopyContents(int in, int out)
{
    off_t inOffset = 0;
    off_t outOffset = 0;
    for (;;) {
        const ssize_t n = sys::copy_file_range(in, &inOffset, out, &outOffset, size_t(1) << 30);
        if (n == 0)
            return 0;
        if (n > 0)
            continue;
        if (errno == EINTR)
            continue;
        if (errno != EXDEV && errno != ENOSYS && errno != EINVAL && errno != EOPNOTSUPP)
            return errno;
        break; // not supported here: plain reads and writes from where it stopped
    }
    std::vector<char> buffer(size_t(1) << 20);
    for (;;) {
        const ssize_t got = ::pread(in, buffer.data(), buffer.size(), inOffset);
        if (got < 0) {
            if (errno == EINTR)
                continue;
            return errno;
        }
        if (got == 0)
            return 0;
        if (const int r = WriteAllAt(out, buffer.data(), got, outOffset))
            return r;
        inOffset += got;
        outOffset += got;
    }
}

QByteArray ReadFromStart(int fd, qint64 limit)
{
    QByteArray text;
    struct stat st;
    if (::fstat(fd, &st) == 0 && st.st_size > 0)
        text.reserve(qsizetype(std::min<qint64>(st.st_size, limit)));
    char chunk[65536];
    for (;;) {
        const ssize_t n = ::pread(fd, chunk, sizeof chunk, off_t(text.size()));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0 || text.size() + n > limit)
            break;
        text.append(chunk, n);
    }
    return text;
}

int WriteAllAt(int fd, const char *data, qint64 len, qint64 offset)
{
    while (len > 0) {
        const ssize_t n = sys::pwrite(fd, data, size_t(len), off_t(offset));
        if (n < 0) {
            if (errno == EINTR)
                continue;
            return errno;
        }
        data += n;
        len -= n;
        offset += n;
    }
    return 0;
}

} // namespace perrox
