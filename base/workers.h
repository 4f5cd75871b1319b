#pragma once

#include <condition_variable>
#include <deque>
#include <functional>
#include <mutex>
#include <thread>
#include <vector>

namespace perrox {

// A few threads that run jobs in the order given. They are plain threads:
// no event loop, so none needs a file descriptor of its own. Where the
// system gives no thread (a limit on processes or memory), the jobs run at
// once on the thread that hands them over, so nothing ever waits for a
// thread that was never made. The destructor runs what is queued and joins.
class Workers
{
public:
    explicit Workers(int threads);
    ~Workers();
    Workers(const Workers &) = delete;
    Workers &operator=(const Workers &) = delete;

    void run(std::function<void()> job);
    int threads() const { return int(m_threads.size()); }

    // The threads to use beside the one handing over the work: one less than
    // the processor's, at least one.
    static int spareThreads();

private:
    void work();

    std::mutex m_mutex;
    std::condition_variable m_wake;
    std::deque<std::function<void()>> m_jobs;
    bool m_stopping = false;
    std::vector<std::thread> m_threads;
};

// Starts body on a thread of its own; where no thread can be made, runs it
// at once. The thread (empty in that case) is the caller's to join.
std::thread StartOrRun(std::function<void()> body);

} // namespace perrox
