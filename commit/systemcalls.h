#pragma once

#include <cstddef>
#include <sys/types.h>

namespace perrox {

// Every system call by which Perrox creates, writes, syncs, renames, links
// or deletes a file goes through the wrappers in perrox::sys, so that a test
// can make the k-th of them fail, or stop the process right there, and then
// check what a real failure or a kill -9 at that point would leave. Without
// a hook each wrapper is the call itself.
enum class SystemStep
{
    Create, // openat with O_CREAT, mkdirat
    Write,
    Sync, // fsync, syncfs
    Rename,
    Link,
    Unlink,
    Truncate, // ftruncate, fallocate
    Copy, // copy_file_range, FICLONE
};

struct StepCall
{
    SystemStep step;
    int fd = -1; // Write, Sync, Truncate, Copy: the descriptor written or synced
    const void *data = nullptr; // Write: the bytes
    size_t length = 0; // Write: their number
    off_t offset = -1; // Write: where they go; -1 for an append
};

// Called before each step: 0 lets it happen; an errno value makes the
// wrapper fail with it, without making the call. A hook may also write a
// part of a Write's bytes itself and end the process, as a kill -9 during
// the write would.
using StepHook = int (*)(const StepCall &call);

// Installs hook for the whole process (null removes it). For tests.
void SetStepHook(StepHook hook);

namespace sys {

int openat(int folder, const char *name, int flags, mode_t mode = 0);
int mkdirat(int folder, const char *name, mode_t mode);
ssize_t write(int fd, const void *data, size_t length);
ssize_t pwrite(int fd, const void *data, size_t length, off_t offset);
int fsync(int fd);
int syncfs(int fd);
int renameat(int fromFolder, const char *from, int toFolder, const char *to);
int renameat2(int fromFolder, const char *from, int toFolder, const char *to, unsigned flags);
int linkat(int fromFolder, const char *from, int toFolder, const char *to, int flags);
int unlinkat(int folder, const char *name, int flags);
int ftruncate(int fd, off_t length);
int fallocate(int fd, int mode, off_t offset, off_t length);
ssize_t copy_file_range(int in, off_t *inOffset, int out, off_t *outOffset, size_t length);
// ioctl FICLONE: out becomes a clone of in.
int ficlone(int out, int in);

} // namespace sys

} // namespace perrox
