#include "workers.h"

#include <algorithm>
#include <system_error>

namespace perrox {

Workers::Workers(int threads)
{
    for (int i = 0; i < threads; ++i) {
        try {
            m_threads.emplace_back([this] { work(); });
        } catch (const std::system_error &) {
            break; // the threads made so far do the work
        }
    }
}

Workers::~Workers()
{
    {
        const std::lock_guard lock(m_mutex);
        m_stopping = true;
    }
    m_wake.notify_all();
    for (std::thread &t : m_threads)
        t.join();
}

void Workers::run(std::function<void()> job)
{
    if (m_threads.empty()) {
        job();
        return;
    }
    {
        const std::lock_guard lock(m_mutex);
        m_jobs.push_back(std::move(job));
    }
    m_wake.notify_one();
}

void Workers::work()
{
    for (;;) {
        std::function<void()> job;
        {
            std::unique_lock lock(m_mutex);
            m_wake.wait(lock, [this] { return m_stopping || !m_jobs.empty(); });
            if (m_jobs.empty())
                return;
            job = std::move(m_jobs.front());
            m_jobs.pop_front();
        }
        job();
    }
}

int Workers::spareThreads()
{
    return std::max(1, int(std::thread::hardware_concurrency()) - 1);
}

std::thread StartOrRun(std::function<void()> body)
{
    try {
        return std::thread(body);
    } catch (const std::system_error &) {
        body();
        return std::thread();
    }
}

} // namespace perrox
