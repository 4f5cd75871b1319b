#include "workers.h"

#include <algorithm>
#include <chrono>
#include <memory>
#include <sched.h>
#include <semaphore>
#include <thread>
#include <utility>

namespace perrox {

Thread::Thread(Thread &&other) noexcept
    : m_id(other.m_id)
    , m_running(std::exchange(other.m_running, false))
{ }

Thread &Thread::operator=(Thread &&other) noexcept
{
    if (this != &other) {
        join();
        m_id = other.m_id;
        m_running = std::exchange(other.m_running, false);
    }
    return *this;
}

bool Thread::start(std::function<void()> body)
{
    join();
    auto owned = std::make_unique<std::function<void()>>(std::move(body));
    const auto run = [](void *arg) -> void * {
        const std::unique_ptr<std::function<void()>> f(static_cast<std::function<void()> *>(arg));
        (*f)();
        return nullptr;
    };
    if (::pthread_create(&m_id, nullptr, run, owned.get()) != 0)
        return false;
    owned.release(); // the thread's now
    m_running = true;
    return true;
}

void Thread::join()
{
    if (m_running)
        ::pthread_join(m_id, nullptr);
    m_running = false;
}

Workers::Workers(int threads)
{
    m_threads.reserve(size_t(std::max(threads, 0)));
    for (int i = 0; i < threads; ++i) {
        Thread t;
        if (!t.start([this] { work(); }))
            break; // the threads made so far do the work
        m_threads.push_back(std::move(t));
    }
}

Workers::~Workers()
{
    {
        const std::lock_guard lock(m_mutex);
        m_stopping = true;
    }
    m_wake.notify_all();
    for (Thread &t : m_threads)
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

int Workers::processors()
{
    cpu_set_t set;
    if (::sched_getaffinity(0, sizeof set, &set) == 0 && CPU_COUNT(&set) > 0)
        return CPU_COUNT(&set);
    return std::max(1, int(std::thread::hardware_concurrency()));
}

int Workers::spareThreads()
{
    return std::max(1, processors() - 1);
}

Thread StartOrRun(std::function<void()> body)
{
    Thread thread;
    if (!thread.start(body))
        body();
    return thread;
}

void RunWhileWaiting(const std::function<void()> &work, const std::function<void()> &meanwhile, int intervalMs)
{
    auto done = std::make_shared<std::binary_semaphore>(0);
    Thread thread;
    if (!thread.start([&work, done] {
            work();
            done->release();
        })) {
        work();
        return;
    }
    while (!done->try_acquire_for(std::chrono::milliseconds(intervalMs)))
        meanwhile();
    thread.join();
}

} // namespace perrox
