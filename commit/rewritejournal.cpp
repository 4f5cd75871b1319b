#include "rewritejournal.h"

#include "commit/filecopy.h"
#include "commit/recordtext.h"
#include "commit/statefolder.h"
#include "commit/systemcalls.h"
#include "files/filesystem.h"
#include "files/openedfile.h"

#include <QList>
#include <QRandomGenerator>
#include <QStringList>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <limits>
#include <optional>
#include <sys/file.h>
#include <unistd.h>
#include <vector>

namespace perrox {

namespace {

const QByteArray kMagic = "perrox-rewrite 1\n";
const QByteArray kRecordSuffix = ".record";
const QByteArray kResultSuffix = ".result";
const QByteArray kStepSuffix = ".step";
const QByteArray kStemPrefix = "rewrite-";
constexpr qint64 kMaxRecordSize = 65536;
constexpr qint64 kMaxSize = std::numeric_limits<qint64>::max() / 2;
const QLatin1String kParagraph("\r\n\r\n");

// The last line of a record, rewritten in place at every step: the change
// time the file had after our last step, the step under way, and the
// file's size before it.
QByteArray stateLine(const timespec &ctime, char flight, qint64 from, qint64 to, qint64 size)
{
    char line[160];
    const int n = std::snprintf(line, sizeof line, "state %020lld %09ld %c %020lld %020lld %020lld\n", static_cast<long long>(ctime.tv_sec),
        static_cast<long>(ctime.tv_nsec), flight, static_cast<long long>(from), static_cast<long long>(to), static_cast<long long>(size));
    return QByteArray(line, n);
}

QByteArray randomStem()
{
    const quint64 n = QRandomGenerator::system()->generate64();
    return kStemPrefix + QByteArray::number(n, 16).rightJustified(16, '0');
}

// What a record holds.
struct Record
{
    dev_t device = 0;
    ino_t inode = 0;
    qint64 size = 0;
    QByteArray resultName;
    QByteArray path;
    timespec ctime = {};
    char flight = 'n';
    qint64 from = 0;
    qint64 to = 0;
    qint64 sizeBefore = -1; // the file's size before the step; -1 in records that do not tell
    qint64 stateOffset = 0;
};

bool parseState(const QByteArray &value, Record &r)
{
    const QList<QByteArray> f = value.split(' ');
    if ((f.size() != 5 && f.size() != 6) || f.at(2).size() != 1 || !QByteArrayView("nwtf").contains(f.at(2).at(0)))
        return false;
    const auto sec = ParseDecimal(f.at(0), std::numeric_limits<time_t>::min(), std::numeric_limits<time_t>::max());
    const auto nsec = ParseDecimal(f.at(1), 0, 999999999);
    const auto from = ParseDecimal(f.at(3), 0, kMaxSize);
    const auto to = ParseDecimal(f.at(4), 0, kMaxSize);
    const auto size = f.size() == 6 ? ParseDecimal(f.at(5), -1, kMaxSize) : std::optional<qint64>(-1);
    if (!sec || !nsec || !from || !to || !size || *from > *to)
        return false;
    r.ctime = {time_t(*sec), long(*nsec)};
    r.flight = f.at(2).at(0);
    r.from = *from;
    r.to = *to;
    r.sizeBefore = *size;
    return true;
}

std::optional<Record> parseRecord(const QByteArray &text)
{
    if (!text.startsWith(kMagic))
        return std::nullopt;
    Record r;
    bool haveState = false;
    qint64 offset = 0;
    QList<QByteArray> lines = text.split('\n');
    lines.removeLast(); // after the last "\n"
    for (const QByteArray &line : std::as_const(lines)) {
        const qint64 lineOffset = offset;
        offset += line.size() + 1;
        if (lineOffset == 0)
            continue; // the magic line
        const qsizetype space = line.indexOf(' ');
        if (space < 0)
            return std::nullopt;
        const QByteArray key = line.left(space);
        const QByteArray value = line.mid(space + 1);
        bool ok = true;
        if (key == "device") {
            const auto n = ParseDecimal(value, 0, std::numeric_limits<qint64>::max());
            ok = n.has_value();
            r.device = dev_t(n.value_or(0));
        } else if (key == "inode") {
            const auto n = ParseDecimal(value, 0, std::numeric_limits<qint64>::max());
            ok = n.has_value();
            r.inode = ino_t(n.value_or(0));
        } else if (key == "size") {
            const auto n = ParseDecimal(value, 0, kMaxSize);
            ok = n.has_value();
            r.size = n.value_or(0);
        } else if (key == "result") {
            r.resultName = value;
            ok = value.startsWith(kStemPrefix) && !value.contains('/') && value.endsWith(kResultSuffix);
        } else if (key == "path") {
            const std::optional<QByteArray> path = ParseRecordedPath(value);
            ok = path.has_value();
            r.path = path.value_or(QByteArray());
        } else if (key == "state") {
            ok = parseState(value, r);
            r.stateOffset = lineOffset;
            haveState = true;
        } else {
            ok = false;
        }
        if (!ok)
            return std::nullopt;
    }
    if (!haveState || r.resultName.isEmpty() || r.path.isEmpty())
        return std::nullopt;
    return r;
}

// Reads want bytes at offset, all of them; false on a short or failed read.
bool readAll(int fd, char *data, size_t want, qint64 offset)
{
    while (want > 0) {
        const ssize_t n = ::pread(fd, data, want, off_t(offset));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        data += n;
        want -= size_t(n);
        offset += n;
    }
    return true;
}

constexpr size_t kCompareChunk = size_t(1) << 16;

// How many bytes from offset from on, up to to, a and b (read from bOffset
// on) have in common; -1 on a read error.
qint64 commonBytes(int a, int b, qint64 from, qint64 to, qint64 bOffset)
{
    std::vector<char> x(kCompareChunk);
    std::vector<char> y(kCompareChunk);
    for (qint64 done = 0; from + done < to;) {
        const size_t want = size_t(std::min<qint64>(qint64(kCompareChunk), to - from - done));
        if (!readAll(a, x.data(), want, from + done) || !readAll(b, y.data(), want, bOffset + done))
            return -1;
        const auto differ = std::mismatch(x.begin(), x.begin() + qsizetype(want), y.begin());
        done += differ.first - x.begin();
        if (differ.first != x.begin() + qsizetype(want))
            return done;
    }
    return to - from;
}

// Whether bytes [from, to) of a and b are equal.
bool sameBytes(int a, int b, qint64 from, qint64 to)
{
    return commonBytes(a, b, from, to, from) == to - from;
}

// Whether the file shows the step under way (writing [from, to) of the
// result over a file of sizeBefore bytes, whose old bytes of that range
// step holds), cut short anywhere by a kill, and nothing else: the
// result's bytes from "from" up to some point, the old bytes after it, and
// the size such a write leaves.
bool onlyTheStepLanded(int file, int result, int step, const Record &r, qint64 size)
{
    if (r.flight != 'w' || r.from >= r.to || r.to > r.size || r.sizeBefore < r.from)
        return false;
    if (size > r.sizeBefore) // the write went past the old end: it wrote up to the size
        return size <= r.to && sameBytes(file, result, r.from, size);
    if (size < r.sizeBefore)
        return false;
    const qint64 end = std::min(r.to, size);
    const qint64 landed = commonBytes(file, result, r.from, end, r.from);
    return landed >= 0 && commonBytes(file, step, r.from + landed, end, landed) == end - r.from - landed;
}

// Every message of a recovery starts the same way.
QString stoppedWhileRewriting(const QString &path)
{
    return QLatin1String("Perrox was stopped while it rewrote the file ") + path;
}

QString finishedMessage(const QString &path)
{
    return stoppedWhileRewriting(path) + QLatin1String(" and has now finished it.");
}

QString leftMessage(const QString &path, const QString &reason, const QString &kept)
{
    return stoppedWhileRewriting(path) + QLatin1String(", but ") + reason + QLatin1String("; it was left as it is. ")
        + QLatin1String("The complete result of that run is kept in ") + kept + QLatin1Char('.');
}

QString failedMessage(const QString &path, int error, const QString &kept)
{
    return stoppedWhileRewriting(path) + QLatin1String(" and could not finish it now: ") + SystemErrorText(error)
        + QLatin1String(". The complete result is kept in ") + kept + QLatin1String("; Perrox tries again when it starts next.");
}

} // namespace

QString RewriteRecordFolder()
{
    return StateFolder();
}

QString RewriteRecord::failureMessage(int error) const
{
    return FileErrorMessage(m_failedReason.isEmpty() ? SystemErrorText(error) : m_failedReason, m_failedPath);
}

QString RewriteRecord::keptResultPath() const
{
    return m_folderPath + QLatin1Char('/') + DecodeNativePath(m_stem + kResultSuffix);
}

// The record goes last, so that nothing of a rewrite is ever left without it:
// where another file cannot be removed, the record stays, emptied, and the
// next start removes what is left without a word.
void RewriteRecord::removeFiles(bool keepResult)
{
    bool left = false;
    for (const QByteArray &suffix : {kStepSuffix, kResultSuffix})
        if ((!keepResult || suffix != kResultSuffix) && sys::unlinkat(m_folder.get(), (m_stem + suffix).constData(), 0) != 0 && errno != ENOENT)
            left = true;
    if (left && !keepResult && sys::ftruncate(m_record.get(), 0) == 0)
        return;
    sys::unlinkat(m_folder.get(), (m_stem + kRecordSuffix).constData(), 0);
}

// The record comes first, locked, so that every file of a rewrite stands
// beside a record: one whose writing was cut short tells the next start to
// remove them. Another start may take a record that is not locked yet for
// such a one and remove it; then another name is drawn.
int RewriteRecord::createRecord()
{
    for (int attempt = 0; attempt < 100; ++attempt) {
        m_stem = randomStem();
        m_record = FileDescriptor(sys::openat(m_folder.get(), (m_stem + kRecordSuffix).constData(), O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600));
        if (m_record.get() < 0) {
            if (errno == EEXIST)
                continue;
            return errno;
        }
        struct stat st;
        if (::flock(m_record.get(), LOCK_EX | LOCK_NB) == 0 && ::fstat(m_record.get(), &st) == 0 && st.st_nlink > 0)
            return 0;
        m_record.reset();
    }
    return EEXIST;
}

int RewriteRecord::begin(const struct stat &file, const QByteArray &filePath, int fileFd, int resultFd, int resultFolderFd, const QByteArray &resultName)
{
    PrivateFolder folder;
    const bool opened = folder.open(RewriteRecordFolder(), true);
    m_folderPath = folder.path();
    m_failedPath = m_folderPath;
    if (!opened) {
        m_failedReason = folder.reason();
        return EACCES;
    }
    m_folder = folder.take();

    struct stat result;
    if (::fstat(resultFd, &result) != 0)
        return errno;
    if (const int error = createRecord())
        return error;
    m_file = fileFd;
    const auto failed = [this](int error) {
        removeFiles(false);
        m_record.reset();
        m_step.reset();
        return error;
    };
    m_failedPath = keptResultPath();

    // The result itself, under a second name where the file system allows
    // it, else a copy; either way on disk before the record names it.
    const QByteArray kept = m_stem + kResultSuffix;
    if (sys::linkat(resultFolderFd, resultName.constData(), m_folder.get(), kept.constData(), 0) == 0) {
        if (sys::fsync(resultFd) != 0)
            return failed(errno);
    } else {
        FileDescriptor copy(sys::openat(m_folder.get(), kept.constData(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600));
        if (copy.get() < 0)
            return failed(errno);
        int error = CopyContents(resultFd, copy.get());
        if (!error && sys::fsync(copy.get()) != 0)
            error = errno;
        if (!error)
            error = copy.closeChecked();
        if (error)
            return failed(error);
    }

    m_failedPath = m_folderPath + QLatin1Char('/') + DecodeNativePath(m_stem + kStepSuffix);
    m_step = FileDescriptor(sys::openat(m_folder.get(), (m_stem + kStepSuffix).constData(), O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600));
    if (m_step.get() < 0)
        return failed(errno);

    m_failedPath = m_folderPath + QLatin1Char('/') + DecodeNativePath(m_stem + kRecordSuffix);
    QByteArray text = kMagic;
    text += "device " + QByteArray::number(quint64(file.st_dev)) + '\n';
    text += "inode " + QByteArray::number(quint64(file.st_ino)) + '\n';
    text += "size " + QByteArray::number(qint64(result.st_size)) + '\n';
    text += "result " + kept + '\n';
    text += "path " + RecordedPathText(filePath) + '\n';
    m_stateOffset = text.size();
    m_ctime = file.st_ctim;
    m_flight = 'n';
    m_size = file.st_size;
    text += stateLine(m_ctime, m_flight, 0, 0, m_size);
    int error = WriteAllAt(m_record.get(), text.constData(), text.size(), 0);
    if (!error && sys::fsync(m_record.get()) != 0)
        error = errno;
    if (!error && sys::fsync(m_folder.get()) != 0)
        error = errno;
    if (error)
        return failed(error);
    m_active = true;
    return 0;
}

int RewriteRecord::writeState()
{
    // Not synced: the record only has to outlive this process, which the
    // page cache does; after a crash of the whole system the change time
    // tells that the file can no longer be trusted.
    const QByteArray line = stateLine(m_ctime, m_flight, m_from, m_to, m_size);
    return WriteAllAt(m_record.get(), line.constData(), line.size(), m_stateOffset);
}

int RewriteRecord::aboutToWrite(qint64 from, qint64 to)
{
    if (!m_active)
        return 0;
    if (from < to) {
        // The old bytes the step overwrites, kept before the state names
        // the step: like the state, they only have to outlive this process.
        struct stat st;
        if (::fstat(m_file, &st) != 0)
            return errno;
        const qint64 end = std::min<qint64>(to, st.st_size);
        if (end > from) {
            std::vector<char> old(size_t(end - from));
            if (!readAll(m_file, old.data(), old.size(), from))
                return errno ? errno : EIO;
            if (const int error = WriteAllAt(m_step.get(), old.data(), qint64(old.size()), 0))
                return error;
        }
        m_size = st.st_size;
    }
    m_flight = from == to ? 't' : 'w';
    m_from = from;
    m_to = to;
    return writeState();
}

void RewriteRecord::written(const struct stat &file)
{
    if (!m_active)
        return;
    m_ctime = file.st_ctim;
    m_size = file.st_size;
    m_flight = 'n';
    m_from = m_to = 0;
    writeState();
}

void RewriteRecord::finish()
{
    if (!m_active)
        return;
    m_active = false;
    // A record found in this state names a file that is complete: what is
    // left of it only goes.
    m_flight = 'f';
    writeState();
    removeFiles(false);
    sys::fsync(m_folder.get());
    m_record.reset();
    m_step.reset();
}

int RewriteFromResult(int file, int result, qint64 resultSize, RewriteRecord &record, qint64 chunk, const std::function<void()> &pump)
{
    std::vector<char> buffer(size_t(std::max<qint64>(chunk, 1)));
    struct stat st;
    for (qint64 offset = 0; offset < resultSize;) {
        const ssize_t got = ::pread(result, buffer.data(), size_t(std::min<qint64>(qint64(buffer.size()), resultSize - offset)), off_t(offset));
        if (got < 0 && errno == EINTR)
            continue;
        if (got <= 0)
            return got < 0 ? errno : EIO;
        if (const int r = record.aboutToWrite(offset, offset + got))
            return r;
        if (const int r = WriteAllAt(file, buffer.data(), got, offset))
            return r;
        if (::fstat(file, &st) != 0)
            return errno;
        record.written(st);
        offset += got;
        if (pump)
            pump();
    }
    if (::fstat(file, &st) != 0)
        return errno;
    if (st.st_size != resultSize) {
        if (const int r = record.aboutToWrite(resultSize, resultSize))
            return r;
        if (sys::ftruncate(file, off_t(resultSize)) != 0)
            return errno;
        if (::fstat(file, &st) != 0)
            return errno;
        record.written(st);
    }
    if (sys::fsync(file) != 0)
        return errno;
    return 0;
}

// One unfinished rewrite found at start.
class RewriteRecovery
{
public:
    RewriteRecovery(const QString &folderPath, int folder, const QByteArray &stem)
    {
        m_record.m_folderPath = folderPath;
        m_record.m_folder = FileDescriptor(::dup(folder));
        m_record.m_stem = stem;
    }

    // The message for this record, or an empty text when it is not ours to
    // handle now (in use by a running Perrox, or not a record at all).
    QString run()
    {
        RewriteRecord &rec = m_record;
        rec.m_record = FileDescriptor(::openat(rec.m_folder.get(), (rec.m_stem + kRecordSuffix).constData(), O_RDWR | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC));
        struct stat recordStat;
        if (rec.m_record.get() < 0 || ::fstat(rec.m_record.get(), &recordStat) != 0 || !S_ISREG(recordStat.st_mode) || recordStat.st_uid != ::geteuid()
            || ::flock(rec.m_record.get(), LOCK_EX | LOCK_NB) != 0)
            return QString();
        const QByteArray text = ReadFromStart(rec.m_record.get(), kMaxRecordSize);
        const std::optional<Record> parsed = parseRecord(text);
        if (!parsed) {
            // A record whose writing was cut short: the file was not touched
            // yet, as its first byte is written only once the whole record is
            // on the disk. What was made for it goes, without a word.
            if (!text.contains("\nstate ") && kMagic.startsWith(text.left(kMagic.size())))
                rec.removeFiles(false);
            return QString();
        }
        const Record &r = *parsed;
        if (r.flight == 'f') {
            rec.removeFiles(false); // stopped while it tidied up after a complete rewrite
            return QString();
        }
        rec.m_stateOffset = r.stateOffset;
        rec.m_ctime = r.ctime;
        rec.m_active = true;
        const QString path = DecodeNativePath(r.path);
        const QString kept = m_record.m_folderPath + QLatin1Char('/') + DecodeNativePath(r.resultName);

        const FileDescriptor result(::openat(rec.m_folder.get(), r.resultName.constData(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC));
        struct stat resultStat;
        if (result.get() < 0 || ::fstat(result.get(), &resultStat) != 0 || !S_ISREG(resultStat.st_mode) || resultStat.st_uid != ::geteuid()
            || resultStat.st_size != r.size) {
            // Without its result the record can do nothing more.
            rec.removeFiles(true);
            rec.m_active = false;
            return stoppedWhileRewriting(path) + QLatin1String(", and the complete result it kept for it is gone. Check the file before you use it.");
        }
        // Records that name no size before the step have no old bytes kept
        // either; finishing the rewrite needs a place for them all the same.
        rec.m_step = FileDescriptor(
            sys::openat(rec.m_folder.get(), (rec.m_stem + kStepSuffix).constData(), O_RDWR | O_CREAT | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC, 0600));
        struct stat stepStat;
        if (rec.m_step.get() >= 0 && (::fstat(rec.m_step.get(), &stepStat) != 0 || !S_ISREG(stepStat.st_mode)))
            rec.m_step.reset();

        const FileDescriptor file(::open(r.path.constData(), O_RDWR | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC));
        struct stat st;
        const bool same = file.get() >= 0 && ::fstat(file.get(), &st) == 0 && S_ISREG(st.st_mode) && st.st_dev == r.device && st.st_ino == r.inode;
        if (!same) {
            if (file.get() < 0 && errno != ENOENT && errno != ELOOP)
                return failedMessage(path, errno, kept);
            return abandon(path, QStringLiteral("the file is no longer there or is another file now"), kept);
        }
        if (rec.m_step.get() < 0)
            return failedMessage(path, errno ? errno : EIO, kept);
        rec.m_file = file.get();
        rec.m_size = st.st_size;

        const bool complete = st.st_size == r.size && sameBytes(file.get(), result.get(), 0, r.size);
        if (!complete) {
            const bool untouchedSince = st.st_ctim.tv_sec == r.ctime.tv_sec && st.st_ctim.tv_nsec == r.ctime.tv_nsec;
            // Stopped between a step and its note in the record, or in the
            // middle of the step's write: the file must show that step's
            // bytes and nothing else.
            const bool stepLanded = r.sizeBefore < 0 ? r.flight == 'w' && r.from < r.to && r.to <= r.size && sameBytes(file.get(), result.get(), r.from, r.to)
                                                     : rec.m_step.get() >= 0 && onlyTheStepLanded(file.get(), result.get(), rec.m_step.get(), r, st.st_size);
            if (!untouchedSince && !stepLanded)
                return abandon(path, QStringLiteral("another program has changed the file since"), kept);
            if (const int error = RewriteFromResult(file.get(), result.get(), r.size, rec, qint64(1) << 20, {}))
                return failedMessage(path, error, kept);
        } else if (sys::fsync(file.get()) != 0) {
            return failedMessage(path, errno, kept);
        }
        rec.finish();
        return finishedMessage(path);
    }

private:
    // The file is not ours to finish: the record goes, the result stays
    // where the message says.
    QString abandon(const QString &path, const QString &reason, const QString &kept)
    {
        m_record.removeFiles(true);
        m_record.m_active = false;
        return leftMessage(path, reason, kept);
    }

    RewriteRecord m_record;
};

QString RecoverInterruptedRewrites()
{
    PrivateFolder state;
    if (!state.open(RewriteRecordFolder(), false))
        return state.reason().isEmpty() ? QString() : UntrustedStateFolderMessage(state);
    const QString folderPath = state.path();
    const FileDescriptor folder = state.take();
    std::vector<QByteArray> names = NamesIn(folder.get(), [](const QByteArray &n) { return n.startsWith(kStemPrefix) && n.endsWith(kRecordSuffix); });
    std::sort(names.begin(), names.end());
    QStringList messages;
    for (const QByteArray &name : names) {
        RewriteRecovery recovery(folderPath, folder.get(), name.chopped(kRecordSuffix.size()));
        if (const QString message = recovery.run(); !message.isEmpty())
            messages.append(message);
    }
    return messages.join(kParagraph);
}

} // namespace perrox
