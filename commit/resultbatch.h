#pragma once

#include "commit/safereplace.h"

#include <QString>

#include <functional>
#include <memory>
#include <vector>

namespace perrox {

class RunJournal;

// One result waiting in a ResultBatch.
class BatchedResult
{
public:
    virtual ~BatchedResult() = default;
    // Called once, just before the flush: the commit that puts the result in
    // place (its prepare() follows at once), or null with refusal set where
    // the result is to be refused when its turn comes.
    virtual std::unique_ptr<ResultCommit> makeCommit(QString &refusal) = 0;
    // The journal's part of the commit (its entry is set by prepare()), or null.
    virtual CommitUndo *undo() = 0;
    // The path a failed flush of the result names.
    virtual QString messagePath() const = 0;
};

// Complete results that wait until many of them reach the disk in one
// flush, together with the journal's entries and kept copies; then they are
// put in place one by one, in the order they were added, stopping at the
// first that fails in a way that ends a run. Each journal entry gets its
// "done" or "skip" as its result's turn comes; the entries of results that
// never get their turn are skipped. Replace, Replace As and Undo all put
// their results in place through it.
class ResultBatch
{
public:
    // journal: where old contents are kept (and with which the results are
    // flushed), or null.
    explicit ResultBatch(RunJournal *journal)
        : m_journal(journal)
    { }

    void add(std::unique_ptr<BatchedResult> result) { m_results.push_back(std::move(result)); }
    bool empty() const { return m_results.empty(); }
    size_t size() const { return m_results.size(); }

    struct Steps
    {
        // Runs work (every check, copy and the flush before the first result
        // is put in place) and returns when it is done; a caller may run it
        // on another thread and let window events run meanwhile. work
        // touches nothing but the results, their files and the journal.
        std::function<void(const std::function<void()> &work)> prepare = [](const std::function<void()> &work) { work(); };
        // Every result is on the disk, none in its place yet.
        std::function<void()> flushed = [] {};
        // Asked before each result's turn: false drops it and every later
        // one, which stay as they were (the batch stops there).
        std::function<bool(size_t index)> proceed = [](size_t) { return true; };
        // The result's turn has come.
        std::function<void(size_t index)> before = [](size_t) {};
        // The result was put in place, or not (then commit says why); false
        // stops the batch there.
        std::function<bool(size_t index, BatchedResult &result, const CommitResult &commit)> placed
            = [](size_t, BatchedResult &, const CommitResult &) { return true; };
    };

    // Puts every result in place as described above and empties the batch.
    // False when it stopped at a result that failed or that placed() stopped at.
    bool place(const Steps &steps);

private:
    RunJournal *m_journal;
    std::vector<std::unique_ptr<BatchedResult>> m_results;
};

} // namespace perrox
