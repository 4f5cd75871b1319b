#include "systemcalls.h"

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <fcntl.h>
#include <linux/fs.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace perrox {

namespace {

std::atomic<StepHook> g_hook {nullptr};

// 0, or the errno value the step is to fail with.
int before(const StepCall &call)
{
    const StepHook hook = g_hook.load(std::memory_order_relaxed);
    return hook ? hook(call) : 0;
}

// The wrappers' common shape: the hook first, then the call.
template<typename Call> auto step(const StepCall &call, Call &&made) -> decltype(made())
{
    if (const int error = before(call)) {
        errno = error;
        return -1;
    }
    return made();
}

} // namespace

void SetStepHook(StepHook hook)
{
    g_hook.store(hook);
}

namespace sys {

int openat(int folder, const char *name, int flags, mode_t mode)
{
    if (!(flags & O_CREAT))
        return ::openat(folder, name, flags, mode);
    return step({SystemStep::Create}, [&] { return ::openat(folder, name, flags, mode); });
}

int mkdirat(int folder, const char *name, mode_t mode)
{
    return step({SystemStep::Create}, [&] { return ::mkdirat(folder, name, mode); });
}

ssize_t write(int fd, const void *data, size_t length)
{
    return step({SystemStep::Write, fd, data, length}, [&] { return ::write(fd, data, length); });
}

ssize_t pwrite(int fd, const void *data, size_t length, off_t offset)
{
    return step({SystemStep::Write, fd, data, length, offset}, [&] { return ::pwrite(fd, data, length, offset); });
}

int fsync(int fd)
{
    return step({SystemStep::Sync, fd}, [&] { return ::fsync(fd); });
}

int syncfs(int fd)
{
    return step({SystemStep::Sync, fd}, [&] { return ::syncfs(fd); });
}

int renameat(int fromFolder, const char *from, int toFolder, const char *to)
{
    return step({SystemStep::Rename}, [&] { return ::renameat(fromFolder, from, toFolder, to); });
}

int renameat2(int fromFolder, const char *from, int toFolder, const char *to, unsigned flags)
{
    return step({SystemStep::Rename}, [&] { return ::renameat2(fromFolder, from, toFolder, to, flags); });
}

int linkat(int fromFolder, const char *from, int toFolder, const char *to, int flags)
{
    return step({SystemStep::Link}, [&] { return ::linkat(fromFolder, from, toFolder, to, flags); });
}

int unlinkat(int folder, const char *name, int flags)
{
    return step({SystemStep::Unlink}, [&] { return ::unlinkat(folder, name, flags); });
}

int ftruncate(int fd, off_t length)
{
    return step({SystemStep::Truncate, fd}, [&] { return ::ftruncate(fd, length); });
}

int fallocate(int fd, int mode, off_t offset, off_t length)
{
    return step({SystemStep::Truncate, fd}, [&] { return ::fallocate(fd, mode, offset, length); });
}

ssize_t copy_file_range(int in, off_t *inOffset, int out, off_t *outOffset, size_t length)
{
    return step({SystemStep::Copy, out}, [&] { return ::copy_file_range(in, inOffset, out, outOffset, length, 0); });
}

int ficlone(int out, int in)
{
    return step({SystemStep::Copy, out}, [&] { return ::ioctl(out, FICLONE, in); });
}

} // namespace sys

} // namespace perrox
