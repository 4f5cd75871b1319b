#include "readahead.h"

#include "commit/temporaryfile.h"

#include <algorithm>
#include <chrono>

namespace perrox {

namespace {

// The block size and limits of state, with buffers of its own.
EngineState WithoutBuffers(const EngineState &state)
{
    EngineState copy = state;
    copy.buffers = {};
    copy.dblActVal = 0;
    return copy;
}

} // namespace

void ObserverLog::progress(double position)
{
    m_events.push_back(qint64(position - m_reported));
    m_reported = position;
}

bool ObserverLog::cancelRequested()
{
    m_events.push_back(kCancel);
    return m_stop.load(std::memory_order_relaxed);
}

void ObserverLog::pumpEvents()
{
    m_events.push_back(kPump);
}

ReplaceOutcome ObserverLog::replay(const ReplaceOutcome &counted, EngineState &state, ReplaceObserver &observer) const
{
    for (const qint64 event : m_events) {
        if (event == kCancel) {
            if (observer.cancelRequested())
                return {0, ReplaceOutcome::Status::Cancelled, {}, {}};
        } else if (event == kPump) {
            observer.pumpEvents();
        } else {
            state.dblActVal += double(event);
            observer.progress(state.dblActVal);
        }
    }
    return counted;
}

ReadAhead::ReadAhead(
    int threads, size_t window, const ArgumentTables &pairs, const EngineState &state, std::function<std::optional<File>()> next, bool keepFound)
    : m_pairs(pairs)
    , m_settings(WithoutBuffers(state))
    , m_next(std::move(next))
    , m_window(std::max<size_t>(window, 1))
    , m_keepFound(keepFound)
    , m_ownState(m_settings)
{
    fill();
    m_threads.reserve(size_t(std::max(threads, 0)));
    for (int i = 0; i < threads; ++i) {
        Thread t;
        if (!t.start([this] { work(); }))
            break; // the run reads what no thread takes
        m_threads.push_back(std::move(t));
    }
}

ReadAhead::~ReadAhead()
{
    {
        const std::lock_guard lock(m_mutex);
        m_stop = true;
    }
    m_wake.notify_all();
    for (Thread &t : m_threads)
        t.join();
}

bool ReadAhead::holds(int row) const
{
    const std::lock_guard lock(m_mutex);
    return !m_slots.empty() && m_slots.front()->file.row == row;
}

void ReadAhead::fill()
{
    // Refilled once half of the window is taken, so that the threads find
    // several files at each wake rather than one.
    {
        const std::lock_guard lock(m_mutex);
        if (m_exhausted || m_slots.size() > m_window / 2)
            return;
    }
    std::vector<std::unique_ptr<Slot>> added;
    for (size_t have =
             [this] {
                 const std::lock_guard lock(m_mutex);
                 return m_slots.size();
             }();
         have + added.size() < m_window;) {
        std::optional<File> file = m_next();
        if (!file) {
            m_exhausted = true;
            break;
        }
        added.push_back(std::make_unique<Slot>());
        added.back()->file = std::move(*file);
    }
    if (added.empty())
        return;
    {
        const std::lock_guard lock(m_mutex);
        for (std::unique_ptr<Slot> &slot : added)
            m_slots.push_back(std::move(slot));
    }
    m_wake.notify_all();
}

ReadAhead::Slot *ReadAhead::unclaimed()
{
    for (const std::unique_ptr<Slot> &slot : m_slots)
        if (!slot->claimed)
            return slot.get();
    return nullptr;
}

ReadAhead::Read ReadAhead::take(const std::function<void()> &meanwhile, int intervalMs)
{
    std::unique_ptr<Slot> slot;
    {
        std::unique_lock lock(m_mutex);
        Slot &front = *m_slots.front();
        // While the file is not read, the run reads those no thread has
        // taken yet, the file first.
        while (!front.done) {
            Slot *own = unclaimed();
            if (!own)
                break;
            own->claimed = true;
            lock.unlock();
            read(*own, m_ownState, m_ownFolders);
            lock.lock();
            own->done = true;
        }
        while (!m_done.wait_for(lock, std::chrono::milliseconds(intervalMs), [&] { return front.done; })) {
            lock.unlock();
            meanwhile();
            lock.lock();
        }
        slot = std::move(m_slots.front());
        m_slots.pop_front();
    }
    fill();
    return std::move(slot->read);
}

void ReadAhead::work()
{
    EngineState state = m_settings;
    FolderCache folders;
    for (;;) {
        Slot *slot = nullptr;
        {
            std::unique_lock lock(m_mutex);
            m_wake.wait(lock, [&] { return m_stop || (slot = unclaimed()) != nullptr; });
            if (m_stop)
                return;
            slot->claimed = true;
        }
        read(*slot, state, folders);
        {
            const std::lock_guard lock(m_mutex);
            slot->done = true;
        }
        m_done.notify_all();
    }
}

void ReadAhead::read(Slot &slot, EngineState &state, FolderCache &folders)
{
    auto file = std::make_unique<OpenedFile>();
    slot.read.reason = file->open(slot.file.path, folders, &slot.file.seen);
    const qint64 size = qint64(file->status().st_size);
    // A file without a size (those of /proc) may never end: the run reads
    // it as it goes, as it does a large one.
    if (slot.read.reason.isEmpty() && size > 0 && size <= kMaxBytes) {
        auto log = std::make_unique<ObserverLog>(m_stop);
        state.dblActVal = 0;
        DiscardedOutput discarded;
        slot.read.outcome = ReplaceInFile(*file, discarded, m_pairs, state, *log);
        slot.read.log = std::move(log);
        // A Count keeps only its status.
        if (!m_keepFound || slot.read.outcome->count == 0)
            file->close();
    }
    slot.read.file = std::move(file);
}

} // namespace perrox
