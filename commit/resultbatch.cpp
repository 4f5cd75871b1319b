#include "resultbatch.h"

#include "commit/runjournal.h"
#include "files/filesystem.h"

#include <algorithm>

namespace perrox {

namespace {

struct Turn
{
    std::unique_ptr<ResultCommit> commit;
    QString refusal;
    QString keepError; // the journal could not be brought to the disk
    int flushError = 0;
};

// Every check and copy before the flush, and one flush for all, the
// journal's entries and kept contents with them; the journal's error, if any.
int PrepareAndFlush(const std::vector<std::unique_ptr<BatchedResult>> &results, std::vector<Turn> &turns, RunJournal *journal)
{
    std::vector<int> fds;
    int journalError = 0;
    std::vector<size_t> flushed;
    for (size_t i = 0; i < results.size(); ++i) {
        turns[i].commit = results[i]->makeCommit(turns[i].refusal);
        if (!turns[i].commit)
            continue;
        if (const int fd = turns[i].commit->prepare(); fd >= 0) {
            fds.push_back(fd);
            flushed.push_back(i);
        }
    }
    const std::vector<int> journalFds = journal ? journal->syncFds(journalError) : std::vector<int>();
    const size_t own = fds.size();
    fds.insert(fds.end(), journalFds.begin(), journalFds.end());
    if (!fds.empty()) {
        const std::vector<int> errors = FlushTogether(fds);
        for (size_t i = 0; i < own; ++i)
            turns[flushed[i]].flushError = errors[i];
        const auto failed = std::find_if(errors.begin() + qsizetype(own), errors.end(), [](int e) { return e != 0; });
        if (!journalError && failed != errors.end())
            journalError = *failed;
    }
    return journalError;
}

} // namespace

bool ResultBatch::place(const Steps &steps)
{
    const std::vector<std::unique_ptr<BatchedResult>> results = std::move(m_results);
    m_results.clear();
    std::vector<Turn> turns(results.size());

    // Every check, copy and the flush ...
    int journalError = 0;
    steps.prepare([&] { journalError = PrepareAndFlush(results, turns, m_journal); });
    // No file may be touched whose old content is not safely kept.
    if (journalError)
        for (size_t i = 0; i < results.size(); ++i)
            if (results[i]->undo() && results[i]->undo()->entry > 0)
                turns[i].keepError = CannotKeepMessage(journalError, RunJournalFolder());
    steps.flushed();

    // ... and each put in place in its turn.
    const auto record = [&](size_t i, bool done, const CommitResult &result) {
        const CommitUndo *undo = results[i]->undo();
        if (!m_journal || !undo || undo->entry <= 0)
            return;
        if (done)
            m_journal->done(undo->entry, result.result);
        else if (result.finishedLater)
            m_journal->finishedLater(undo->entry);
        else
            m_journal->skipped(undo->entry);
    };
    // The later results never get their turn: what was kept for them goes.
    const auto drop = [&](size_t from) {
        for (size_t j = from; j < results.size(); ++j)
            record(j, false, {});
    };
    for (size_t i = 0; i < results.size(); ++i) {
        if (!steps.proceed(i)) {
            drop(i);
            return false;
        }
        steps.before(i);
        const Turn &turn = turns[i];
        CommitResult result;
        if (!turn.refusal.isEmpty())
            result = {CommitResult::Status::Refused, turn.refusal};
        else if (!turn.keepError.isEmpty())
            result = {CommitResult::Status::Failed, turn.keepError};
        else if (turn.flushError != 0)
            result = {CommitResult::Status::Failed, FileErrorMessage(turn.flushError, results[i]->messagePath()), turn.flushError};
        else
            result = turn.commit->finish(true);
        record(i, result.ok(), result);
        if (!steps.placed(i, *results[i], result) || result.status == CommitResult::Status::Failed) {
            drop(i + 1);
            return false;
        }
    }
    return true;
}

} // namespace perrox
