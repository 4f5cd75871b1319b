#include "replaceengine.h"

#include "arguments/pairchecks.h"
#include "patternsearch.h"

#include "commit/temporaryfile.h"
#include "files/filesystem.h"
#include "files/openedfile.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <functional>
#include <limits>
#include <new>
#include <unistd.h>

namespace perrox {

namespace {

// Output is written once this much has gathered; it does not change where
// the blocks end.
constexpr qint64 kFlushThreshold = 1 << 20;

struct ReadResult
{
    qint64 got = 0;
    int error = 0;
};

// Reads up to len bytes from offset on, fewer only at the end of the file or
// on an error.
ReadResult readFully(int fd, uchar *into, qint64 len, qint64 offset)
{
    ReadResult r;
    while (r.got < len) {
        const ssize_t n = ::pread(fd, into + r.got, size_t(len - r.got), off_t(offset + r.got));
        if (n < 0) {
            if (errno == EINTR)
                continue;
            r.error = errno;
            break;
        }
        if (n == 0)
            break;
        r.got += n;
    }
    return r;
}

// One call of ReplaceInFile. Positions named "source" are offsets in the
// source file; the buffer holds the source bytes [m_bufferStart, m_dataEnd).
class Replacer
{
public:
    // found, when given, hears of every occurrence as it is replaced.
    Replacer(
        const ArgumentTables &arguments, ReplaceOutput &output, EngineState::Buffers &buffers, const std::function<void(const Occurrence &)> *found = nullptr)
        : m_arguments(arguments)
        , m_output(output)
        , m_discard(output.discards())
        , m_buffer(buffers.read)
        , m_out(buffers.out)
        , m_perPair(size_t(arguments.pairCount()), 0)
        , m_found(found)
    {
        m_out.clear();
        if (arguments.patterns)
            m_context = arguments.patterns->context();
    }

    // Opens the output before the first read instead of at the first
    // occurrence.
    bool openNow();
    bool run(int sourceFd, qint64 sourceLength, EngineState &state, ReplaceObserver &observer, ReplaceOutcome::Status &status);

    qint64 count() const { return m_count; }
    std::vector<qint64> takePerPair() { return std::move(m_perPair); }
    int readError() const { return m_readError; }
    // The cancel stopped the file while the output was being opened.
    bool cancelled() const { return m_cancelled; }
    // Why the patterns could not be searched; empty otherwise.
    const QString &patternError() const { return m_patternError; }
    bool outputOpened() const { return m_opened; }

private:
    // Scans every position before threshold that no earlier match has
    // consumed. finalScan: the end of the source has been read, so a find
    // sequence counts only where it fits before it.
    bool scanUntil(qint64 threshold, bool finalScan);
    // The same for a run with patterns: replaces every match whose decision
    // the source bytes before end settle, and copies what is settled to hold
    // none. finalScan: end is the end of the source.
    bool scanPatterns(qint64 end, bool finalScan);
    bool replaceMatch(qint64 start, qint64 end, int pair, const QByteArray &replacement, bool fromTemplate = false);
    void reportFound(qint64 start, qint64 end, int pair, const QByteArray *made);
    bool scan(qint64 blockEnd, qint64 maxLength, bool finalScan)
    {
        return m_scanner ? scanPatterns(blockEnd, finalScan) : scanUntil(finalScan ? blockEnd : blockEnd - maxLength + 1, finalScan);
    }
    bool emitSource(qint64 from, qint64 to) { return !m_opened || append(m_buffer.data() + (from - m_bufferStart), to - from); }
    bool append(const void *data, qint64 len);
    // Opens the output at the first occurrence and writes the source bytes
    // before m_cursor into it.
    bool openLate();
    bool flush();
    void compact();

    const ArgumentTables &m_arguments;
    ReplaceOutput &m_output;
    const bool m_discard;
    bool m_opened = false;
    int m_sourceFd = -1;

    std::vector<uchar> &m_buffer;
    qint64 m_bufferStart = 0;
    qint64 m_dataEnd = 0;
    // First source position not scanned yet: the start of the carry.
    qint64 m_cursor = 0;
    // No match starts in [m_cursor, m_cleanUntil) except m_pending.
    qint64 m_cleanUntil = 0;
    Matcher::Match m_pending; // source position, or -1
    qint64 m_count = 0;
    std::vector<char> &m_out;
    std::vector<qint64> m_perPair;
    const std::function<void(const Occurrence &)> *m_found;
    int m_readError = 0;
    bool m_writeFailed = false;
    ReplaceObserver *m_observer = nullptr; // during run()
    bool m_cancelled = false; // a cancel stopped openLate()
    // Runs with patterns: the search, and the source bytes before the cursor
    // that the buffer keeps for it.
    std::unique_ptr<PatternScanner> m_scanner;
    qint64 m_context = 0;
    QString m_patternError;
};

bool Replacer::append(const void *data, qint64 len)
{
    if (m_discard || len == 0)
        return true;
    const auto *bytes = static_cast<const char *>(data);
    m_out.insert(m_out.end(), bytes, bytes + len);
    // Long replace sequences must not pile up without bound inside one block.
    if (qint64(m_out.size()) >= 4 * kFlushThreshold)
        return flush();
    return true;
}

bool Replacer::openNow()
{
    if (m_discard)
        return true;
    m_opened = m_output.open();
    return m_opened;
}

bool Replacer::openLate()
{
    if (!openNow())
        return false;
    // What went by before the buffer's start is read again from the file;
    // should the file have changed meanwhile, the check before the result is
    // put in place sees it.
    for (qint64 at = 0; at < m_bufferStart;) {
        m_out.resize(size_t(std::min<qint64>(kFlushThreshold, m_bufferStart - at)));
        const ReadResult r = readFully(m_sourceFd, reinterpret_cast<uchar *>(m_out.data()), qint64(m_out.size()), at);
        m_out.resize(size_t(r.got));
        if (r.error != 0) {
            m_readError = r.error;
            return false;
        }
        if (r.got == 0)
            break;
        at += r.got;
        if (!flush())
            return false;
        // A first occurrence near the end of a large file copies nearly all
        // of it here: the window answers, and a cancel stops the copy.
        if (m_observer) {
            m_observer->pumpEvents();
            if (m_observer->cancelRequested()) {
                m_cancelled = true;
                return false;
            }
        }
    }
    return append(m_buffer.data(), m_cursor - m_bufferStart);
}

bool Replacer::flush()
{
    if (m_out.empty())
        return true;
    const bool ok = m_output.write(m_out.data(), qint64(m_out.size()));
    m_out.clear();
    if (!ok)
        m_writeFailed = true;
    return ok;
}

void Replacer::compact()
{
    const qint64 from = std::max(m_bufferStart, m_cursor - m_context);
    const qint64 keep = m_dataEnd - from;
    if (from > m_bufferStart && keep > 0)
        std::memmove(m_buffer.data(), m_buffer.data() + (from - m_bufferStart), size_t(keep));
    m_bufferStart = from;
}

bool Replacer::scanUntil(qint64 threshold, bool finalScan)
{
    const Matcher &finds = m_arguments.finds;
    const uchar *base = m_buffer.data();
    while (m_cursor < threshold) {
        if (m_pending.position < m_cursor && m_cleanUntil < threshold) {
            // Search as far as the data allows at once. Away from the end of
            // the source every sequence fits at a position before
            // m_dataEnd - maxLength + 1, so the decision there is final.
            const qint64 limit = finalScan ? m_dataEnd : m_dataEnd - finds.maxLength() + 1;
            const qint64 from = std::max(m_cursor, m_cleanUntil);
            const Matcher::Match m = finds.findFirst(base, from - m_bufferStart, limit - m_bufferStart, m_dataEnd - m_bufferStart);
            if (m.position >= 0) {
                m_pending = {m.position + m_bufferStart, m.index};
                m_cleanUntil = m_pending.position;
            } else {
                m_pending = {};
                m_cleanUntil = limit;
            }
        }
        if (m_pending.position >= m_cursor && m_pending.position < threshold) {
            const qint64 end = m_pending.position + finds.length(m_pending.index);
            if (!replaceMatch(m_pending.position, end, m_pending.index, m_arguments.replaces[size_t(m_pending.index)]))
                return false;
            m_pending = {};
        } else {
            if (!emitSource(m_cursor, threshold))
                return false;
            m_cursor = threshold;
        }
    }
    return true;
}

// On every match of a Count or Replace: kept small, so that it goes inline;
// what only the list of occurrences needs is out of line.
inline bool Replacer::replaceMatch(qint64 start, qint64 end, int pair, const QByteArray &replacement, bool fromTemplate)
{
    if (!m_opened && !m_discard && !openLate())
        return false;
    if (!emitSource(m_cursor, start) || !append(replacement.constData(), replacement.size()))
        return false;
    ++m_count;
    ++m_perPair[size_t(pair)];
    if (m_found) [[unlikely]]
        reportFound(start, end, pair, fromTemplate ? &replacement : nullptr);
    m_cursor = end;
    return true;
}

void Replacer::reportFound(qint64 start, qint64 end, int pair, const QByteArray *made)
{
    (*m_found)({start, pair, end - start, made ? std::optional<QByteArray>(*made) : std::nullopt});
}

bool Replacer::scanPatterns(qint64 end, bool finalScan)
{
    const PatternSet &set = *m_arguments.patterns;
    for (;;) {
        const PatternScanner::Window window {m_buffer.data(), m_bufferStart, end, finalScan};
        PatternScanner::Step step = m_scanner->next(window, m_cursor);
        if (step.kind == PatternScanner::Step::Kind::Fail) {
            m_patternError = step.error;
            return false;
        }
        if (step.kind == PatternScanner::Step::Kind::Advance) {
            // Settled without a match up to until: the searches that stopped
            // before it may go on from there, until none can.
            if (step.until == m_cursor)
                return true;
            if (!emitSource(m_cursor, step.until))
                return false;
            m_cursor = step.until;
            continue;
        }
        const PatternMatch &match = step.match;
        const std::vector<TemplatePart> *parts = set.replacementTemplate(match.pair);
        const QByteArray expanded = parts ? ExpandTemplate(*parts, match, m_buffer.data(), m_bufferStart) : QByteArray();
        const QByteArray &replacement = parts ? expanded : m_arguments.replaces[size_t(match.pair)];
        if (!replaceMatch(match.start, match.end, match.pair, replacement, parts != nullptr))
            return false;
    }
}

bool Replacer::run(int sourceFd, qint64 sourceLength, EngineState &state, ReplaceObserver &observer, ReplaceOutcome::Status &status)
{
    const qint64 blockSize = state.lngBlockSize;
    const qint64 maxLength = m_arguments.literalMaxLength();
    if (m_arguments.patterns)
        m_scanner = std::make_unique<PatternScanner>(*m_arguments.patterns, state.maxMatchSize);
    const qint64 chunk = std::max<qint64>(1, state.ioChunk / blockSize) * blockSize;
    if (m_buffer.size() < size_t(chunk + maxLength))
        m_buffer.resize(size_t(chunk + maxLength));
    m_sourceFd = sourceFd;
    m_observer = &observer;

    qint64 unread = sourceLength; // not yet read from the source
    qint64 remaining = sourceLength; // not yet taken into a block
    qint64 blockEnd = 0; // source position where the last block ended
    qint64 reported = 0; // scanned bytes already added to dblActVal

    while (remaining > 0) {
        compact();
        const qint64 want = std::min(chunk, unread);
        // A match of a pattern can hold the cursor back for up to the
        // longest a match may be; the buffer grows to keep it.
        if (m_buffer.size() < size_t(m_dataEnd - m_bufferStart + want))
            m_buffer.resize(size_t(m_dataEnd - m_bufferStart + want));
        const ReadResult r = readFully(sourceFd, m_buffer.data() + (m_dataEnd - m_bufferStart), want, m_dataEnd);
        m_dataEnd += r.got;
        unread -= r.got;
        if (r.got < want && r.error == 0) {
            // The end came before the length said: the file became shorter
            // while we read it, or it has no length of its own. What is
            // there is all.
            unread = 0;
            remaining = m_dataEnd - blockEnd;
        }
        while (remaining > 0) {
            const qint64 blockLength = std::min(blockSize, remaining);
            if (blockEnd + blockLength > m_dataEnd)
                break; // the rest of this block is in the next chunk, or unreadable
            blockEnd += blockLength;
            remaining -= blockLength;

            // Every position with maxLength bytes ahead of it is scanned; the
            // rest is carried into the next block.
            if (!scan(blockEnd, maxLength, false))
                return false;
            if (qint64(m_out.size()) >= kFlushThreshold && !flush())
                return false;

            state.dblActVal += double(m_cursor - reported);
            reported = m_cursor;
            observer.progress(state.dblActVal);
            if (observer.cancelRequested()) {
                flush(); // what the finished blocks produced; the carry is dropped
                status = ReplaceOutcome::Status::Cancelled;
                return true;
            }
            observer.pumpEvents();
        }
        if (r.error != 0) {
            m_readError = r.error;
            return false;
        }
    }

    // The carry, where a sequence only counts if it fits before the end.
    if (!scan(m_dataEnd, maxLength, true) || !flush())
        return false;
    state.dblActVal += double(m_dataEnd - reported);
    observer.progress(state.dblActVal);
    status = ReplaceOutcome::Status::Done;
    return true;
}

} // namespace

ArgumentTables::ArgumentTables(std::vector<QByteArray> findSequences, std::vector<QByteArray> replaceSequences)
    : finds(std::move(findSequences))
    , replaces(std::move(replaceSequences))
{
    Q_ASSERT(replaces.size() == size_t(finds.size()));
}

std::vector<QByteArray> ArgumentTables::findBytes() const
{
    return patterns ? patterns->findBytes() : finds.finds();
}

qint64 ArgumentTables::literalMaxLength() const
{
    return patterns ? patterns->literalMaxLength() : finds.maxLength();
}

PatternTables BuildPatternTables(const std::vector<FindPattern> &finds, const std::vector<Replacement> &replaces)
{
    PatternTables result;
    result.refusals = RefusePatterns(finds, replaces);
    if (!result.refusals.empty())
        return result;
    std::vector<QByteArray> findBytes;
    std::vector<QByteArray> replaceBytes;
    bool literal = true;
    for (size_t i = 0; i < finds.size(); ++i) {
        findBytes.push_back(finds[i].bytes);
        replaceBytes.push_back(i < replaces.size() ? replaces[i].bytes : QByteArray());
        literal = literal && finds[i].isLiteral() && (i >= replaces.size() || replaces[i].kind == Replacement::Kind::Bytes);
    }
    if (literal) {
        result.tables = ArgumentTables(std::move(findBytes), std::move(replaceBytes));
        return result;
    }
    result.tables.replaces = std::move(replaceBytes);
    result.tables.patterns = std::make_shared<const PatternSet>(finds, replaces);
    return result;
}

void UpdateBlockSize(EngineState &state, qint64 maxLength)
{
    if (double(state.lngBlockSize) / 2.0 < double(maxLength))
        state.lngBlockSize = std::max(state.lngBlockSize, 1024 * ((2 * maxLength) / 1024));
}

namespace {

ReplaceOutcome ReplaceInFile(const OpenedFile &source, ReplaceOutput &output, const ArgumentTables &arguments, EngineState &state, ReplaceObserver &observer,
    const std::function<void(const Occurrence &)> *found)
{
    const auto failed = [](const QString &error) { return ReplaceOutcome {0, ReplaceOutcome::Status::Failed, error, {}}; };
    UpdateBlockSize(state, arguments.literalMaxLength());

    // A regular file that reports no size at all (the files of /proc and
    // /sys) is read to its end like one of unknown length.
    const qint64 size = qint64(source.status().st_size);
    const qint64 length = size > 0 ? size : std::numeric_limits<qint64>::max();
    if (size > state.ioChunk)
        ::posix_fadvise(source.fd(), 0, 0, POSIX_FADV_SEQUENTIAL);

    Replacer replacer(arguments, output, state.buffers, found);
    if (size == 0 && !replacer.openNow())
        return failed(FileErrorMessage(output.errorString(), output.path()));
    ReplaceOutcome::Status status = ReplaceOutcome::Status::Done;
    bool ok = false;
    try {
        ok = replacer.run(source.fd(), length, state, observer, status);
    } catch (const std::bad_alloc &) {
        // No memory for the buffers (a limit on the address space): this
        // file fails, its output is dropped, the run goes on.
        if (replacer.outputOpened())
            output.close();
        return failed(FileErrorMessage(ENOMEM, source.path()));
    }
    // An output that was never opened has nothing to close.
    const auto closeOutput = [&] { return !replacer.outputOpened() || output.close(); };
    if (!ok && replacer.cancelled()) {
        ok = true;
        status = ReplaceOutcome::Status::Cancelled;
    }
    if (!ok) {
        // The output's reason is taken before closing it can change it.
        const QString error = replacer.readError() != 0 ? FileErrorMessage(replacer.readError(), source.path())
            : !replacer.patternError().isEmpty()        ? FileErrorMessage(replacer.patternError(), source.path())
                                                        : FileErrorMessage(output.errorString(), output.path());
        closeOutput();
        return failed(error);
    }
    if (status == ReplaceOutcome::Status::Cancelled) {
        closeOutput();
        return {0, status, {}, {}};
    }
    if (!closeOutput())
        return failed(FileErrorMessage(output.errorString(), output.path()));
    return {replacer.count(), ReplaceOutcome::Status::Done, {}, replacer.takePerPair()};
}

// Observes nothing and never stops.
class QuietObserver : public ReplaceObserver
{
public:
    void progress(double) override { }
    bool cancelRequested() override { return false; }
    void pumpEvents() override { }
};

} // namespace

ReplaceOutcome ReplaceInFile(const OpenedFile &source, ReplaceOutput &output, const ArgumentTables &arguments, EngineState &state, ReplaceObserver &observer)
{
    return ReplaceInFile(source, output, arguments, state, observer, nullptr);
}

ReplaceOutcome ReplaceInFile(const QString &sourcePath, ReplaceOutput &output, const ArgumentTables &arguments, EngineState &state, ReplaceObserver &observer)
{
    OpenedFile source;
    const QString reason = source.open(sourcePath);
    if (!reason.isEmpty())
        return {0, ReplaceOutcome::Status::Failed, FileErrorMessage(reason, sourcePath), {}};
    return ReplaceInFile(source, output, arguments, state, observer);
}

OccurrenceScan ScanOccurrences(const QString &path, const ArgumentTables &arguments, qint64 limit)
{
    OpenedFile source;
    const QString reason = source.open(path);
    if (!reason.isEmpty()) {
        OccurrenceScan scan;
        scan.outcome = {0, ReplaceOutcome::Status::Failed, FileErrorMessage(reason, path), {}};
        return scan;
    }
    return ScanOccurrences(source, arguments, limit);
}

OccurrenceScan ScanOccurrences(const OpenedFile &source, const ArgumentTables &arguments, qint64 limit, qint64 maxMatchSize)
{
    OccurrenceScan scan;
    scan.status = source.status();
    const std::function<void(const Occurrence &)> found = [&](const Occurrence &o) {
        if (qint64(scan.first.size()) < limit)
            scan.first.push_back(o);
    };
    EngineState state;
    state.maxMatchSize = maxMatchSize;
    DiscardedOutput discarded;
    QuietObserver quiet;
    scan.outcome = ReplaceInFile(source, discarded, arguments, state, quiet, &found);
    return scan;
}

} // namespace perrox
