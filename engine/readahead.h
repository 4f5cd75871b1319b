#pragma once

#include "base/workers.h"
#include "engine/replaceengine.h"
#include "files/openedfile.h"

#include <QString>

#include <atomic>
#include <condition_variable>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <sys/stat.h>
#include <vector>

namespace perrox {

// What a file's count told its observer, in order, to be told again on the
// run's own thread: each block's progress (the bytes it added), each cancel
// check and each pump of events.
class ObserverLog : public ReplaceObserver
{
public:
    explicit ObserverLog(const std::atomic<bool> &stop)
        : m_stop(stop)
    { }

    void progress(double position) override;
    // The worker's own stop, never the user's: the user's is asked when the
    // log is replayed.
    bool cancelRequested() override;
    void pumpEvents() override;

    // Tells the observer again what the count told this log, adding each
    // block's bytes to state.dblActVal. A cancel the observer asks for ends
    // the replay where the count would have stopped: the outcome is then
    // Cancelled, else counted as given.
    ReplaceOutcome replay(const ReplaceOutcome &counted, EngineState &state, ReplaceObserver &observer) const;

private:
    static constexpr qint64 kCancel = -1;
    static constexpr qint64 kPump = -2;
    const std::atomic<bool> &m_stop;
    std::vector<qint64> m_events; // bytes added (>= 0), kCancel or kPump
    double m_reported = 0;
};

// Opens and counts the files of a Count on worker threads, a few files
// ahead of the run, which takes them one by one in its own order. The run's
// thread alone talks to the host: it hands over the files to read and
// replays each file's log. A file that is large, reports no size, or could
// not be opened is only opened here; the run counts it itself.
class ReadAhead
{
public:
    struct File
    {
        int row = -1;
        QString path;
        struct stat seen = {}; // what stood at the path before the run
    };
    // What a worker made of a file.
    struct Read
    {
        std::unique_ptr<OpenedFile> file;
        QString reason; // why it could not be opened; empty when it was
        // Set when the file was counted: the outcome and its log.
        std::optional<ReplaceOutcome> outcome;
        std::unique_ptr<ObserverLog> log;
    };

    // next gives, on the run's thread, the next file to read ahead, or
    // nothing after the last one; at most window files wait ahead of the
    // run, each with its descriptor. state gives the block size and the
    // limits each thread uses, with buffers of its own.
    // keepFound keeps a file with occurrences open for the run to rewrite.
    ReadAhead(
        int threads, size_t window, const ArgumentTables &pairs, const EngineState &state, std::function<std::optional<File>()> next, bool keepFound = false);
    ~ReadAhead();
    ReadAhead(const ReadAhead &) = delete;
    ReadAhead &operator=(const ReadAhead &) = delete;

    // Whether row is the next file handed over.
    bool holds(int row) const;
    // Waits for that file and takes it, calling meanwhile at least every
    // interval so that the run's window answers; a file no worker has taken
    // yet the run reads itself.
    Read take(const std::function<void()> &meanwhile, int intervalMs);

    // The largest file counted ahead; a larger one is read by the run as it
    // goes, block by block, with nothing kept.
    static constexpr qint64 kMaxBytes = qint64(4) << 20;

private:
    struct Slot
    {
        File file;
        bool claimed = false;
        bool done = false;
        Read read;
    };
    void fill();
    void work();
    // The first file no thread has taken yet; null when there is none.
    Slot *unclaimed();
    void read(Slot &slot, EngineState &state, FolderCache &folders);

    const ArgumentTables &m_pairs;
    const EngineState m_settings; // its buffers stay empty
    std::function<std::optional<File>()> m_next;
    const size_t m_window;
    const bool m_keepFound;
    // The run's own, for a file no worker has taken when the run needs it.
    EngineState m_ownState;
    FolderCache m_ownFolders;
    bool m_exhausted = false;
    std::atomic<bool> m_stop {false};
    mutable std::mutex m_mutex;
    std::condition_variable m_wake; // a slot to read, or the stop
    std::condition_variable m_done; // a slot was read
    std::deque<std::unique_ptr<Slot>> m_slots; // in the run's order
    std::vector<Thread> m_threads;
};

} // namespace perrox
