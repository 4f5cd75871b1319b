#pragma once

#include <condition_variable>
#include <deque>
#include <functional>
#include <mutex>
#include <pthread.h>
#include <vector>

namespace perrox {

// A plain thread, started with pthread_create: no event loop (so it needs
// no file descriptor of its own), and a thread the system cannot give is a
// false from start(), never an exception. The destructor joins it.
class Thread
{
public:
    Thread() = default;
    ~Thread() { join(); }
    Thread(Thread &&other) noexcept;
    Thread &operator=(Thread &&other) noexcept;
    Thread(const Thread &) = delete;
    Thread &operator=(const Thread &) = delete;

    bool start(std::function<void()> body);
    bool joinable() const { return m_running; }
    void join();

private:
    pthread_t m_id = {};
    bool m_running = false;
};

// A few threads that run jobs in the order given. Where the system gives no
// thread (a limit on processes or memory), the jobs run at once on the
// thread that hands them over, so nothing ever waits for a thread that was
// never made. The destructor runs what is queued and joins.
class Workers
{
public:
    explicit Workers(int threads);
    ~Workers();
    Workers(const Workers &) = delete;
    Workers &operator=(const Workers &) = delete;

    void run(std::function<void()> job);
    int threads() const { return int(m_threads.size()); }

    // The processors this process may run on (its affinity), at least one.
    static int processors();
    // The threads to use beside the one handing over the work: one less than
    // the processors, at least one.
    static int spareThreads();

private:
    void work();

    std::mutex m_mutex;
    std::condition_variable m_wake;
    std::deque<std::function<void()>> m_jobs;
    bool m_stopping = false;
    std::vector<Thread> m_threads;
};

// Starts body on a thread of its own; where no thread can be made, runs it
// at once. The thread (not joinable in that case) is the caller's to join.
Thread StartOrRun(std::function<void()> body);

// Runs work on a thread of its own and calls meanwhile at least every
// interval on the calling thread, so that a long wait (a flush, a copy)
// leaves the caller's window answering; returns once work is done. Where
// no thread can be made, work runs at once on the calling thread.
void RunWhileWaiting(const std::function<void()> &work, const std::function<void()> &meanwhile, int intervalMs);

} // namespace perrox
