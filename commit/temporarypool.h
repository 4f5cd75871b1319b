#pragma once

#include "base/workers.h"
#include "commit/temporaryfile.h"

#include <QString>

#include <condition_variable>
#include <deque>
#include <memory>
#include <mutex>
#include <random>

namespace perrox {

// Temporary files of one folder, made a few ahead on a thread of their own:
// the run, which writes its results one after another, then does not wait
// for the file system to make each one. The destructor deletes the files
// made and not taken.
class TemporaryPool
{
public:
    // folderFd (not owned) must outlive the pool.
    TemporaryPool(int folderFd, const QString &folderPath, size_t ahead);
    ~TemporaryPool();
    TemporaryPool(const TemporaryPool &) = delete;
    TemporaryPool &operator=(const TemporaryPool &) = delete;

    // An open, empty temporary file; null when none is ready (or the
    // thread could not make one), and the caller makes its own.
    std::unique_ptr<TemporaryFile> take();

private:
    void make();

    const int m_folderFd;
    const QString m_folderPath;
    const size_t m_ahead;
    std::mt19937 m_rng;
    std::mutex m_mutex;
    std::condition_variable m_wake;
    std::deque<std::unique_ptr<TemporaryFile>> m_ready;
    bool m_stopping = false;
    Thread m_thread;
};

} // namespace perrox
