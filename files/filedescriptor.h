#pragma once

#include <cerrno>
#include <unistd.h>

namespace perrox {

// Owns an open file descriptor and closes it on every way out.
class FileDescriptor
{
public:
    explicit FileDescriptor(int fd = -1)
        : m_fd(fd)
    { }
    ~FileDescriptor() { reset(); }
    FileDescriptor(const FileDescriptor &) = delete;
    FileDescriptor &operator=(const FileDescriptor &) = delete;
    FileDescriptor(FileDescriptor &&other) noexcept
        : m_fd(other.release())
    { }
    FileDescriptor &operator=(FileDescriptor &&other) noexcept
    {
        if (this != &other) {
            reset();
            m_fd = other.release();
        }
        return *this;
    }

    int get() const { return m_fd; }

    void reset()
    {
        if (m_fd >= 0) {
            const int saved = errno; // a failed call's errno outlives the clean-up
            ::close(m_fd);
            errno = saved;
        }
        m_fd = -1;
    }

    // Gives up ownership: the caller closes the descriptor.
    int release()
    {
        const int fd = m_fd;
        m_fd = -1;
        return fd;
    }

    // Closes and returns the errno of a delayed write error, else 0.
    int closeChecked()
    {
        const int fd = m_fd;
        m_fd = -1;
        return (fd >= 0 && ::close(fd) != 0 && errno != EINTR) ? errno : 0;
    }

private:
    int m_fd;
};

} // namespace perrox
