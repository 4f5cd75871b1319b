#include "replaceoutput.h"

#include "files/filesystem.h"

#include <cerrno>
#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

namespace perrox {

QString TemporaryFileName(const QString &folder, int number)
{
    return folder + QLatin1String("/~PX") + QString::number(number) + QLatin1String(".tmp");
}

TemporaryFile::TemporaryFile(const QString &folder, std::mt19937 &rng)
    : m_folder(folder)
    , m_rng(&rng)
{ }

TemporaryFile::TemporaryFile(const QString &exactPath)
    : m_path(exactPath)
{ }

TemporaryFile::~TemporaryFile()
{
    close();
    remove();
}

QString TemporaryFile::drawName()
{
    // The whole part of r * 90000 + 10000 for a uniform r in [0, 1).
    std::uniform_int_distribution<int> number(10000, 99999);
    return TemporaryFileName(m_folder, number(*m_rng));
}

bool TemporaryFile::open()
{
    close();
    remove();
    for (int attempt = 0; attempt < kMaxDraws; ++attempt) {
        if (m_rng)
            m_path = drawName();
        m_fd = ::open(NativePath(m_path).constData(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
        if (m_fd >= 0) {
            m_owned = true;
            m_error = 0;
            // Advisory: keeps out other programs that honour locks. Never waits.
            ::flock(m_fd, LOCK_EX | LOCK_NB);
            return true;
        }
        m_error = errno;
        if (m_error != EEXIST || !m_rng)
            break;
    }
    return false;
}

bool TemporaryFile::write(const char *data, qint64 len)
{
    if (m_discard)
        return true;
    while (len > 0) {
        const ssize_t n = ::write(m_fd, data, size_t(len));
        if (n < 0) {
            if (errno == EINTR)
                continue;
            m_error = errno;
            return false;
        }
        data += n;
        len -= n;
    }
    return true;
}

bool TemporaryFile::close()
{
    if (m_fd < 0)
        return true;
    const int fd = m_fd;
    m_fd = -1;
    // A delayed write error (full disk, quota, network file system) shows up here.
    if (::close(fd) != 0 && errno != EINTR) {
        m_error = errno;
        return false;
    }
    return true;
}

QString TemporaryFile::errorString() const
{
    return SystemErrorText(m_error);
}

void TemporaryFile::remove()
{
    if (!m_owned)
        return;
    m_owned = false;
    ::unlink(NativePath(m_path).constData());
}

} // namespace perrox
