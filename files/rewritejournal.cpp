#include "rewritejournal.h"

#include "files/filecopy.h"
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
#include <optional>
#include <sys/file.h>
#include <unistd.h>
#include <vector>

namespace perrox {

namespace {

const QByteArray kMagic = "perrox-rewrite 1\n";
const QByteArray kRecordSuffix = ".record";
const QByteArray kResultSuffix = ".result";
constexpr qint64 kMaxRecordSize = 65536;
const QLatin1String kParagraph("\r\n\r\n");

// The last line of a record, rewritten in place at every step: the change
// time the file had after our last step, and the step under way.
QByteArray stateLine(const timespec &ctime, char flight, qint64 from, qint64 to)
{
    char line[128];
    const int n = std::snprintf(line, sizeof line, "state %020lld %09ld %c %020lld %020lld\n", static_cast<long long>(ctime.tv_sec),
        static_cast<long>(ctime.tv_nsec), flight, static_cast<long long>(from), static_cast<long long>(to));
    return QByteArray(line, n);
}

int openFolderForSync(const QString &path)
{
    return ::open(NativePath(path).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
}

QByteArray randomStem()
{
    const quint64 n = QRandomGenerator::system()->generate64();
    return "rewrite-" + QByteArray::number(n, 16).rightJustified(16, '0');
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
    qint64 stateOffset = 0;
};

std::optional<Record> parseRecord(const QByteArray &text)
{
    if (!text.startsWith(kMagic))
        return std::nullopt;
    Record r;
    bool haveState = false;
    qint64 offset = 0;
    const QList<QByteArray> lines = text.split('\n');
    for (const QByteArray &line : lines) {
        const qint64 lineOffset = offset;
        offset += line.size() + 1;
        const qsizetype space = line.indexOf(' ');
        if (space < 0)
            continue;
        const QByteArray key = line.left(space);
        const QByteArray value = line.mid(space + 1);
        bool ok = true;
        if (key == "device") {
            r.device = dev_t(value.toULongLong(&ok));
        } else if (key == "inode") {
            r.inode = ino_t(value.toULongLong(&ok));
        } else if (key == "size") {
            r.size = value.toLongLong(&ok);
        } else if (key == "result") {
            r.resultName = value;
            ok = !value.isEmpty() && !value.contains('/') && value.endsWith(kResultSuffix);
        } else if (key == "path") {
            r.path = QByteArray::fromPercentEncoding(value);
            ok = r.path.startsWith('/');
        } else if (key == "state") {
            const QList<QByteArray> f = value.split(' ');
            ok = f.size() == 5 && f.at(2).size() == 1;
            if (ok) {
                bool a = false, b = false, c = false, d = false;
                r.ctime.tv_sec = time_t(f.at(0).toLongLong(&a));
                r.ctime.tv_nsec = long(f.at(1).toLong(&b));
                r.flight = f.at(2).at(0);
                r.from = f.at(3).toLongLong(&c);
                r.to = f.at(4).toLongLong(&d);
                ok = a && b && c && d;
                r.stateOffset = lineOffset;
                haveState = true;
            }
        }
        if (!ok)
            return std::nullopt;
    }
    if (!haveState || r.resultName.isEmpty() || r.path.isEmpty() || r.size < 0)
        return std::nullopt;
    return r;
}

// Whether bytes [from, to) of a and b are equal.
bool sameBytes(int a, int b, qint64 from, qint64 to)
{
    std::vector<char> x(size_t(1) << 16);
    std::vector<char> y(x.size());
    while (from < to) {
        const size_t want = size_t(std::min<qint64>(qint64(x.size()), to - from));
        const ssize_t n = ::pread(a, x.data(), want, off_t(from));
        const ssize_t m = ::pread(b, y.data(), want, off_t(from));
        if (n != ssize_t(want) || m != ssize_t(want) || std::memcmp(x.data(), y.data(), want) != 0)
            return false;
        from += qint64(want);
    }
    return true;
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
    QString base = qEnvironmentVariable("XDG_STATE_HOME");
    if (!base.startsWith(QLatin1Char('/')))
        base = qEnvironmentVariable("HOME") + QLatin1String("/.local/state");
    return base + QLatin1String("/perrox");
}

QString RewriteRecord::keptResultPath() const
{
    return m_folderPath + QLatin1Char('/') + DecodeNativePath(m_resultName);
}

int RewriteRecord::begin(const struct stat &file, const QByteArray &filePath, int resultFd, int resultFolderFd, const QByteArray &resultName)
{
    m_folderPath = RewriteRecordFolder();
    m_failedPath = m_folderPath;
    const bool made = MakePrivateFolder(m_folderPath);
    m_folder = FileDescriptor(openFolderForSync(m_folderPath));
    if (!made || m_folder.get() < 0)
        return errno ? errno : EACCES;

    struct stat result;
    if (::fstat(resultFd, &result) != 0)
        return errno;

    const QByteArray stem = randomStem();
    m_resultName = stem + kResultSuffix;
    m_recordName = stem + kRecordSuffix;
    m_failedPath = keptResultPath();

    // The result itself, under a second name where the file system allows
    // it, else a copy; either way on disk before the record names it.
    if (::linkat(resultFolderFd, resultName.constData(), m_folder.get(), m_resultName.constData(), 0) == 0) {
        if (::fsync(resultFd) != 0) {
            const int error = errno;
            ::unlinkat(m_folder.get(), m_resultName.constData(), 0);
            return error;
        }
    } else {
        FileDescriptor kept(::openat(m_folder.get(), m_resultName.constData(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600));
        if (kept.get() < 0)
            return errno;
        int error = CopyContents(resultFd, kept.get());
        if (!error && ::fsync(kept.get()) != 0)
            error = errno;
        if (!error)
            error = kept.closeChecked();
        if (error) {
            ::unlinkat(m_folder.get(), m_resultName.constData(), 0);
            return error;
        }
    }

    m_failedPath = m_folderPath + QLatin1Char('/') + DecodeNativePath(m_recordName);
    m_record = FileDescriptor(::openat(m_folder.get(), m_recordName.constData(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, 0600));
    if (m_record.get() < 0) {
        const int error = errno;
        ::unlinkat(m_folder.get(), m_resultName.constData(), 0);
        return error;
    }
    ::flock(m_record.get(), LOCK_EX | LOCK_NB);
    QByteArray text = kMagic;
    text += "device " + QByteArray::number(quint64(file.st_dev)) + '\n';
    text += "inode " + QByteArray::number(quint64(file.st_ino)) + '\n';
    text += "size " + QByteArray::number(qint64(result.st_size)) + '\n';
    text += "result " + m_resultName + '\n';
    text += "path " + filePath.toPercentEncoding("/") + '\n';
    m_stateOffset = text.size();
    m_ctime = file.st_ctim;
    text += stateLine(m_ctime, m_flight, 0, 0);
    int error = WriteAllAt(m_record.get(), text.constData(), text.size(), 0);
    if (!error && ::fsync(m_record.get()) != 0)
        error = errno;
    if (!error && ::fsync(m_folder.get()) != 0)
        error = errno;
    if (error) {
        ::unlinkat(m_folder.get(), m_recordName.constData(), 0);
        ::unlinkat(m_folder.get(), m_resultName.constData(), 0);
        m_record.reset();
        return error;
    }
    m_active = true;
    return 0;
}

void RewriteRecord::writeState()
{
    // Not synced: the record only has to outlive this process, which the
    // page cache does; after a crash of the whole system the change time
    // tells that the file can no longer be trusted.
    const QByteArray line = stateLine(m_ctime, m_flight, m_from, m_to);
    WriteAllAt(m_record.get(), line.constData(), line.size(), m_stateOffset);
}

void RewriteRecord::aboutToWrite(qint64 from, qint64 to)
{
    if (!m_active)
        return;
    m_flight = from == to ? 't' : 'w';
    m_from = from;
    m_to = to;
    writeState();
}

void RewriteRecord::written(const struct stat &file)
{
    if (!m_active)
        return;
    m_ctime = file.st_ctim;
    m_flight = 'n';
    m_from = m_to = 0;
    writeState();
}

void RewriteRecord::finish()
{
    if (!m_active)
        return;
    m_active = false;
    ::unlinkat(m_folder.get(), m_recordName.constData(), 0);
    ::unlinkat(m_folder.get(), m_resultName.constData(), 0);
    ::fsync(m_folder.get());
    m_record.reset();
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
        record.aboutToWrite(offset, offset + got);
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
        record.aboutToWrite(resultSize, resultSize);
        if (::ftruncate(file, off_t(resultSize)) != 0)
            return errno;
        if (::fstat(file, &st) != 0)
            return errno;
        record.written(st);
    }
    if (::fsync(file) != 0)
        return errno;
    return 0;
}

// One unfinished rewrite found at start.
class RewriteRecovery
{
public:
    RewriteRecovery(const QString &folderPath, int folder, const QByteArray &recordName)
    {
        m_record.m_folderPath = folderPath;
        m_record.m_folder = FileDescriptor(::dup(folder));
        m_record.m_recordName = recordName;
    }

    // The message for this record, or an empty text when it is not ours to
    // handle now (in use by a running Perrox, or not a record at all).
    QString run()
    {
        RewriteRecord &rec = m_record;
        rec.m_record = FileDescriptor(::openat(rec.m_folder.get(), rec.m_recordName.constData(), O_RDWR | O_NOFOLLOW | O_CLOEXEC));
        if (rec.m_record.get() < 0 || ::flock(rec.m_record.get(), LOCK_EX | LOCK_NB) != 0)
            return QString();
        const std::optional<Record> parsed = parseRecord(ReadFromStart(rec.m_record.get(), kMaxRecordSize));
        if (!parsed)
            return QString();
        const Record &r = *parsed;
        rec.m_resultName = r.resultName;
        rec.m_stateOffset = r.stateOffset;
        rec.m_ctime = r.ctime;
        rec.m_active = true;
        const QString path = DecodeNativePath(r.path);
        const QString kept = rec.keptResultPath();

        const FileDescriptor result(::openat(rec.m_folder.get(), r.resultName.constData(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC));
        struct stat resultStat;
        if (result.get() < 0 || ::fstat(result.get(), &resultStat) != 0 || resultStat.st_size != r.size) {
            // Without its result the record can do nothing more.
            ::unlinkat(rec.m_folder.get(), rec.m_recordName.constData(), 0);
            return stoppedWhileRewriting(path) + QLatin1String(", and the complete result it kept for it is gone. Check the file before you use it.");
        }

        const FileDescriptor file(::open(r.path.constData(), O_RDWR | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC));
        struct stat st;
        const bool same = file.get() >= 0 && ::fstat(file.get(), &st) == 0 && S_ISREG(st.st_mode) && st.st_dev == r.device && st.st_ino == r.inode;
        if (!same) {
            if (file.get() < 0 && errno != ENOENT && errno != ELOOP)
                return failedMessage(path, errno, kept);
            return abandon(path, QStringLiteral("the file is no longer there or is another file now"), kept);
        }

        const bool complete = st.st_size == r.size && sameBytes(file.get(), result.get(), 0, r.size);
        if (!complete) {
            const bool untouchedSince = st.st_ctim.tv_sec == r.ctime.tv_sec && st.st_ctim.tv_nsec == r.ctime.tv_nsec;
            // Stopped between a step and its note in the record: that step
            // must have left exactly its own bytes.
            const bool stepLanded = r.flight == 'w' && r.from < r.to && r.to <= r.size && sameBytes(file.get(), result.get(), r.from, r.to);
            if (!untouchedSince && !stepLanded)
                return abandon(path, QStringLiteral("another program has changed the file since"), kept);
            if (const int error = RewriteFromResult(file.get(), result.get(), r.size, rec, qint64(1) << 20, {}))
                return failedMessage(path, error, kept);
        } else if (::fsync(file.get()) != 0) {
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
        ::unlinkat(m_record.m_folder.get(), m_record.m_recordName.constData(), 0);
        m_record.m_active = false;
        return leftMessage(path, reason, kept);
    }

    RewriteRecord m_record;
};

QString RecoverInterruptedRewrites()
{
    const QString folderPath = RewriteRecordFolder();
    const FileDescriptor folder(openFolderForSync(folderPath));
    if (folder.get() < 0)
        return QString();
    std::vector<QByteArray> names;
    if (DIR *dir = ::fdopendir(::dup(folder.get()))) {
        while (const dirent *entry = ::readdir(dir)) {
            const QByteArray name(entry->d_name);
            if (name.startsWith("rewrite-") && name.endsWith(kRecordSuffix))
                names.push_back(name);
        }
        ::closedir(dir);
    }
    std::sort(names.begin(), names.end());
    QStringList messages;
    for (const QByteArray &name : names) {
        RewriteRecovery recovery(folderPath, folder.get(), name);
        if (const QString message = recovery.run(); !message.isEmpty())
            messages.append(message);
    }
    return messages.join(kParagraph);
}

} // namespace perrox
