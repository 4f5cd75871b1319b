#include "temporarypool.h"

#include <chrono>

namespace perrox {

TemporaryPool::TemporaryPool(int folderFd, const QString &folderPath, size_t ahead)
    : m_folderFd(folderFd)
    , m_folderPath(folderPath)
    , m_ahead(ahead)
    , m_rng(std::mt19937::result_type(std::chrono::steady_clock::now().time_since_epoch().count()))
{
    // Without a thread, every file is made by the caller.
    m_thread.start([this] { make(); });
}

TemporaryPool::~TemporaryPool()
{
    {
        const std::lock_guard<std::mutex> hold(m_mutex);
        m_stopping = true;
    }
    m_wake.notify_all();
    m_thread.join();
}

std::unique_ptr<TemporaryFile> TemporaryPool::take()
{
    std::unique_ptr<TemporaryFile> file;
    {
        const std::lock_guard<std::mutex> hold(m_mutex);
        if (m_ready.empty())
            return nullptr;
        file = std::move(m_ready.front());
        m_ready.pop_front();
    }
    m_wake.notify_one();
    return file;
}

void TemporaryPool::make()
{
    std::unique_lock lock(m_mutex);
    for (;;) {
        m_wake.wait(lock, [this] { return m_stopping || m_ready.size() < m_ahead; });
        if (m_stopping)
            return;
        lock.unlock();
        auto file = std::make_unique<TemporaryFile>(m_folderFd, m_folderPath, m_rng);
        const bool made = file->open();
        lock.lock();
        // A failure (a full disk, no descriptor left) is the caller's to
        // meet and report when it makes its own.
        if (!made)
            return;
        m_ready.push_back(std::move(file));
    }
}

} // namespace perrox
