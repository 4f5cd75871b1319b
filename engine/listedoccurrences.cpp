#include "listedoccurrences.h"

#include "commit/runjournal.h"
#include "commit/temporaryfile.h"
#include "files/filesystem.h"
#include "files/openedfile.h"
#include "patternsearch.h"

#include <algorithm>
#include <cerrno>
#include <memory>
#include <unistd.h>

using namespace Qt::StringLiterals;

namespace perrox {

namespace {

// Reads [start, end) of fd into buffer; the errno of a failed read, EIO
// for a file that ends sooner.
int ReadRange(int fd, qint64 start, qint64 end, std::vector<uchar> &buffer)
{
    buffer.resize(size_t(end - start));
    qint64 done = 0;
    while (done < end - start) {
        const ssize_t n = ::pread(fd, buffer.data() + done, size_t(end - start - done), off_t(start + done));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return n < 0 ? errno : EIO;
        done += n;
    }
    return 0;
}

// Tells whether the occurrences of one file are matches of their pairs.
// A pair that is more than a case-sensitive literal is searched by a set
// of its own, made once, from the occurrence's offset on.
class OccurrenceChecker
{
public:
    OccurrenceChecker(const OpenedFile &file, const ArgumentTables &pairs, qint64 maxMatchSize)
        : m_file(file)
        , m_pairs(pairs)
        , m_maxMatchSize(maxMatchSize)
        , m_sets(size_t(pairs.pairCount()))
    { }

    // Empty when o matches its pair; replacement then holds what takes its place.
    QString check(const Occurrence &o, QByteArray &replacement)
    {
        const PatternSet *all = m_pairs.patterns.get();
        if (!all || all->finds()[size_t(o.pair)].isLiteral()) {
            replacement = m_pairs.replaces[size_t(o.pair)];
            const QByteArray find = all ? all->finds()[size_t(o.pair)].bytes : m_pairs.finds.find(o.pair);
            if (find.size() != o.length)
                return noMatch(o);
            if (const int error = ReadRange(m_file.fd(), o.offset, o.offset + o.length, m_buffer))
                return FileErrorMessage(error, m_file.path());
            return std::equal(m_buffer.begin(), m_buffer.end(), find.begin(), find.end(), [](uchar a, char b) { return a == uchar(b); }) ? QString()
                                                                                                                                         : noMatch(o);
        }
        return checkPattern(*all, o, replacement);
    }

private:
    QString noMatch(const Occurrence &o) const
    {
        return u"The bytes at offset %1 of %2 (%3 bytes) are no match of pair %4."_s.arg(o.offset).arg(m_file.path()).arg(o.length).arg(o.pair);
    }

    const PatternSet &setOf(const PatternSet &all, int pair)
    {
        std::unique_ptr<PatternSet> &set = m_sets[size_t(pair)];
        if (!set) {
            Replacement replacement {Replacement::Kind::Bytes, m_pairs.replaces[size_t(pair)]};
            if (all.replacementTemplate(pair))
                replacement.kind = Replacement::Kind::Template;
            set = std::make_unique<PatternSet>(std::vector<FindPattern> {all.finds()[size_t(pair)]}, std::vector<Replacement> {replacement});
        }
        return *set;
    }

    // The pair's search from the offset, over as many bytes behind the
    // occurrence as it needs to settle.
    QString checkPattern(const PatternSet &all, const Occurrence &o, QByteArray &replacement)
    {
        const PatternSet &set = setOf(all, o.pair);
        const qint64 size = m_file.status().st_size;
        const qint64 start = std::max<qint64>(0, o.offset - set.context());
        for (qint64 extra = 4096;; extra *= 4) {
            const qint64 end = std::min(size, o.offset + o.length + extra);
            if (const int error = ReadRange(m_file.fd(), start, end, m_buffer))
                return FileErrorMessage(error, m_file.path());
            PatternScanner scanner(set, m_maxMatchSize);
            const PatternScanner::Window window {m_buffer.data(), start, end, end == size};
            const PatternScanner::Step step = scanner.next(window, o.offset);
            if (step.kind == PatternScanner::Step::Kind::Fail)
                return step.error;
            if (step.kind == PatternScanner::Step::Kind::Match) {
                if (step.match.start != o.offset || step.match.end != o.offset + o.length)
                    return noMatch(o);
                const std::vector<TemplatePart> *parts = set.replacementTemplate(0);
                replacement = parts ? ExpandTemplate(*parts, step.match, m_buffer.data(), start) : m_pairs.replaces[size_t(o.pair)];
                return QString();
            }
            // Settled without a match at the offset, or nothing more to read.
            if (step.until > o.offset || end == size || extra > m_maxMatchSize + 4096)
                return noMatch(o);
        }
    }

    const OpenedFile &m_file;
    const ArgumentTables &m_pairs;
    const qint64 m_maxMatchSize;
    std::vector<std::unique_ptr<PatternSet>> m_sets;
    std::vector<uchar> m_buffer;
};

// Where the list does not fit a file of size bytes, before any byte is read.
QString CheckPlaces(const ListedFile &listed, const ArgumentTables &pairs, qint64 size, const QString &path)
{
    qint64 end = 0;
    for (const Occurrence &o : listed.occurrences) {
        if (o.pair < 0 || o.pair >= pairs.pairCount())
            return u"The occurrence at offset %1 of %2 names pair %3, which does not exist."_s.arg(o.offset).arg(path).arg(o.pair);
        if (o.offset < 0 || o.length < 1 || o.offset > size || o.length > size - o.offset)
            return u"The occurrence at offset %1 of %2 (%3 bytes) lies outside the file, which holds %4 bytes."_s.arg(o.offset).arg(path).arg(o.length).arg(
                size);
        if (o.offset < end)
            return u"The occurrence at offset %1 of %2 overlaps the one before it, or comes before it."_s.arg(o.offset).arg(path);
        end = o.offset + o.length;
    }
    return QString();
}

} // namespace

qint64 ModificationTimeNs(const struct stat &st)
{
    return qint64(st.st_mtim.tv_sec) * 1000000000 + st.st_mtim.tv_nsec;
}

ListedFile IdentityOf(int fd, const struct stat &st)
{
    return {qint64(st.st_size), ModificationTimeNs(st), HashContents(fd), {}};
}

QString ChangedSinceListedMessage(const QString &path)
{
    return u"The file %1 has changed since its occurrences were listed; it was left as it is. Count again to list its occurrences afresh."_s.arg(path);
}

ListedCheck CheckListedFile(const OpenedFile &file, const ListedFile &listed, const ArgumentTables &pairs, qint64 maxMatchSize)
{
    ListedCheck result;
    const struct stat &st = file.status();
    qint64 read = -1;
    if (qint64(st.st_size) != listed.size || ModificationTimeNs(st) != listed.mtimeNs || HashLike(file.fd(), listed.hash, &read) != listed.hash
        || read != listed.size) {
        return {ListedCheck::Kind::Changed, ChangedSinceListedMessage(file.path()), {}};
    }
    if (QString error = CheckPlaces(listed, pairs, listed.size, file.path()); !error.isEmpty())
        return {ListedCheck::Kind::Invalid, error, {}};
    OccurrenceChecker checker(file, pairs, maxMatchSize);
    result.replacements.resize(listed.occurrences.size());
    for (size_t i = 0; i < listed.occurrences.size(); ++i) {
        if (QString error = checker.check(listed.occurrences[i], result.replacements[i]); !error.isEmpty())
            return {ListedCheck::Kind::Invalid, error, {}};
    }
    return result;
}

namespace {

// Writes source with the occurrences replaced to output.
class ListedWriter
{
public:
    ListedWriter(const OpenedFile &source, ReplaceOutput &output, EngineState &state, ReplaceObserver &observer)
        : m_source(source)
        , m_output(output)
        , m_state(state)
        , m_observer(observer)
        , m_chunk(std::max<qint64>(4096, state.ioChunk))
    { }

    ReplaceOutcome run(const std::vector<Occurrence> &occurrences, const std::vector<QByteArray> &replacements, int pairCount)
    {
        ReplaceOutcome outcome {0, ReplaceOutcome::Status::Done, {}, std::vector<qint64>(size_t(pairCount), 0)};
        const qint64 size = m_source.status().st_size;
        if (occurrences.empty() || m_output.discards()) {
            for (const Occurrence &o : occurrences)
                ++outcome.count, ++outcome.perPair[size_t(o.pair)];
            advance(size);
            return outcome;
        }
        if (!m_output.open())
            return failed(m_output.errorString(), m_output.path());
        qint64 cursor = 0;
        for (size_t i = 0; i < occurrences.size(); ++i) {
            const Occurrence &o = occurrences[i];
            if (!copy(cursor, o.offset) || !write(replacements[i]))
                return m_status == ReplaceOutcome::Status::Cancelled ? ReplaceOutcome {0, m_status, {}, {}} : failed(m_error, m_errorPath);
            cursor = o.offset + o.length;
            ++outcome.count;
            ++outcome.perPair[size_t(o.pair)];
        }
        if (!copy(cursor, size))
            return m_status == ReplaceOutcome::Status::Cancelled ? ReplaceOutcome {0, m_status, {}, {}} : failed(m_error, m_errorPath);
        if (!m_output.close())
            return failed(m_output.errorString(), m_output.path());
        advance(size - m_reported);
        return outcome;
    }

private:
    static ReplaceOutcome failed(const QString &description, const QString &path)
    {
        return {0, ReplaceOutcome::Status::Failed, FileErrorMessage(description, path), {}};
    }

    void advance(qint64 bytes)
    {
        m_reported += bytes;
        m_state.dblActVal += double(bytes);
        m_observer.progress(m_state.dblActVal);
    }

    bool write(const QByteArray &bytes)
    {
        if (bytes.isEmpty() || m_output.write(bytes.constData(), bytes.size()))
            return true;
        m_error = m_output.errorString();
        m_errorPath = m_output.path();
        return false;
    }

    // The source's bytes [from, to), chunk by chunk, each followed by the
    // progress, the cancel check and the events.
    bool copy(qint64 from, qint64 to)
    {
        while (from < to) {
            const qint64 end = std::min(to, from + m_chunk);
            if (const int error = ReadRange(m_source.fd(), from, end, m_buffer)) {
                m_error = SystemErrorText(error);
                m_errorPath = m_source.path();
                return false;
            }
            if (!m_output.write(reinterpret_cast<const char *>(m_buffer.data()), end - from)) {
                m_error = m_output.errorString();
                m_errorPath = m_output.path();
                return false;
            }
            advance(end - from);
            from = end;
            if (m_observer.cancelRequested()) {
                m_status = ReplaceOutcome::Status::Cancelled;
                return false;
            }
            m_observer.pumpEvents();
        }
        return true;
    }

    const OpenedFile &m_source;
    ReplaceOutput &m_output;
    EngineState &m_state;
    ReplaceObserver &m_observer;
    const qint64 m_chunk;
    std::vector<uchar> m_buffer;
    qint64 m_reported = 0;
    ReplaceOutcome::Status m_status = ReplaceOutcome::Status::Done;
    QString m_error;
    QString m_errorPath;
};

} // namespace

ReplaceOutcome ApplyListedOccurrences(
    const OpenedFile &source, ReplaceOutput &output, const ArgumentTables &pairs, const ListedFile &listed, EngineState &state, ReplaceObserver &observer)
{
    const ListedCheck check = CheckListedFile(source, listed, pairs, state.maxMatchSize);
    if (check.kind != ListedCheck::Kind::Ok)
        return {0, ReplaceOutcome::Status::Failed, check.error, {}};
    return ListedWriter(source, output, state, observer).run(listed.occurrences, check.replacements, pairs.pairCount());
}

} // namespace perrox
