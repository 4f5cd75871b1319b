#include "runjournal.h"

#include "base/workers.h"
#include "commit/filecopy.h"
#include "commit/recordtext.h"
#include "commit/statefolder.h"
#include "commit/systemcalls.h"
#include "files/filesystem.h"
#include "files/openedfile.h"

#include <algorithm>
#include <cerrno>
#include <dirent.h>
#include <fcntl.h>
#include <limits>
#include <linux/fs.h>
#include <malloc.h>
#include <map>
#include <memory>
#include <mutex>
#include <openssl/evp.h>
#include <optional>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <unistd.h>
#include <xxhash.h>

namespace perrox {

namespace {

const QByteArray kMagic = "perrox-run 1";
const QByteArray kRecordName = "record";
constexpr qint64 kMaxRecordSize = qint64(64) << 20;
constexpr size_t kHashChunk = size_t(256) << 10;

QByteArray modeWord(JournalMode mode)
{
    switch (mode) {
    case JournalMode::Replace:
        return "Replace";
    case JournalMode::ReplaceAs:
        return "ReplaceAs";
    case JournalMode::Undo:
        return "Undo";
    }
    return {};
}

QByteArray timeFields(const struct timespec &t)
{
    return QByteArray::number(qint64(t.tv_sec)) + ' ' + QByteArray::number(qint64(t.tv_nsec));
}

// "done N", with the device and inode of the file the run left where known.
QByteArray doneLine(int number, const FileIdentity &result)
{
    QByteArray line = "done " + QByteArray::number(number);
    if (result.known)
        line += ' ' + QByteArray::number(quint64(result.device)) + ' ' + QByteArray::number(quint64(result.inode));
    return line + '\n';
}

// The journal's folder, made where missing with create; opened only when it
// and the state folder that holds it can be trusted (see PrivateFolder).
PrivateFolder openRuns(bool create)
{
    PrivateFolder state;
    if (!state.open(StateFolder(), create))
        return state;
    PrivateFolder runs;
    runs.openAt(state.fd(), state.path(), "runs", create);
    return runs;
}

// A run's folder in the journal's: ours, not a link, private; -1 otherwise.
int openRunFolder(int runs, const QByteArray &id)
{
    FileDescriptor folder(::openat(runs, id.constData(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
    struct stat st;
    if (folder.get() < 0 || ::fstat(folder.get(), &st) != 0)
        return -1;
    if (st.st_uid != ::geteuid() || (st.st_mode & (S_IWGRP | S_IWOTH))) {
        errno = EACCES;
        return -1;
    }
    return folder.release();
}

// Held while a run's folder is made and its record started, and while
// runs left by a stopped process are tidied: so the tidying never takes a
// run being born for the leftover of a crash.
class JournalFolderLock
{
public:
    explicit JournalFolderLock(int runs)
        : m_fd(sys::openat(runs, ".lock", O_RDWR | O_CREAT | O_NOFOLLOW | O_CLOEXEC, 0600))
    {
        if (m_fd.get() >= 0)
            while (::flock(m_fd.get(), LOCK_EX) != 0 && errno == EINTR) { }
    }

private:
    FileDescriptor m_fd;
};

// The largest size a record may name: sums of many stay far from overflow.
constexpr qint64 kMaxSize = qint64(1) << 56;

std::optional<timespec> parseTime(const QByteArray &sec, const QByteArray &nsec)
{
    const auto s = ParseDecimal(sec, std::numeric_limits<time_t>::min(), std::numeric_limits<time_t>::max());
    const auto n = ParseDecimal(nsec, 0, 999999999);
    if (!s || !n)
        return std::nullopt;
    return timespec {time_t(*s), long(*n)};
}

bool parseEntry(const QList<QByteArray> &f, JournalEntry &e)
{
    // entry N KIND KEPT HASH SIZE MODE UID GID ASEC ANSEC MSEC MNSEC KEPTBYTES KEPTHASH PATH;
    // records of older versions have no KEPTHASH.
    if ((f.size() != 15 && f.size() != 16) || f.at(2).size() != 1)
        return false;
    const QByteArray keptHash = f.size() == 16 && f.at(14) != "-" ? f.at(14) : QByteArray();
    const auto number = ParseDecimal(f.at(1), 1, std::numeric_limits<int>::max());
    const auto size = ParseDecimal(f.at(5), 0, kMaxSize);
    const auto mode = ParseOctal(f.at(6), 07777);
    const auto uid = ParseDecimal(f.at(7), 0, std::numeric_limits<uid_t>::max());
    const auto gid = ParseDecimal(f.at(8), 0, std::numeric_limits<gid_t>::max());
    const auto atime = parseTime(f.at(9), f.at(10));
    const auto mtime = parseTime(f.at(11), f.at(12));
    const auto keptBytes = ParseDecimal(f.at(13), 0, kMaxSize);
    const auto path = ParseRecordedPath(f.last());
    if (!number || !size || !mode || !uid || !gid || !atime || !mtime || !keptBytes || !path)
        return false;
    e.number = int(*number);
    e.kind = JournalEntry::Kind(f.at(2).at(0));
    e.kept = f.at(3) == "-" ? QByteArray() : f.at(3);
    e.hash = f.at(4) == "-" ? QByteArray() : f.at(4);
    e.size = *size;
    e.mode = mode_t(*mode);
    e.uid = uid_t(*uid);
    e.gid = gid_t(*gid);
    e.atime = *atime;
    e.mtime = *mtime;
    e.keptBytes = *keptBytes;
    e.keptHash = keptHash;
    e.path = *path;
    const bool kindKnown = e.kind == JournalEntry::Kind::Replaced || e.kind == JournalEntry::Kind::Created || e.kind == JournalEntry::Kind::Deleted;
    // The kept content is always named after its entry.
    const bool keptNamed = e.kind == JournalEntry::Kind::Created ? e.kept.isEmpty() : e.kept == 'k' + QByteArray::number(e.number);
    return kindKnown && keptNamed && (e.hash.isEmpty() || IsContentHash(e.hash)) && (e.keptHash.isEmpty() || IsContentHash(e.keptHash));
}

// "done N" or "done N DEVICE INODE", "skip N": the entry's number and the
// identity, into e; false for any other text.
bool parseOutcome(const QList<QByteArray> &f, const std::map<int, size_t> &byNumber, size_t &index, FileIdentity &result)
{
    if (f.size() != 2 && !(f.size() == 4 && f.first() == "done"))
        return false;
    const auto number = ParseDecimal(f.at(1), 1, std::numeric_limits<int>::max());
    const auto it = number ? byNumber.find(int(*number)) : byNumber.end();
    if (it == byNumber.end())
        return false;
    index = it->second;
    if (f.size() == 4) {
        const auto device = ParseDecimal(f.at(2), 0, std::numeric_limits<qint64>::max());
        const auto inode = ParseDecimal(f.at(3), 0, std::numeric_limits<qint64>::max());
        if (!device || !inode)
            return false;
        result = {true, dev_t(*device), ino_t(*inode)};
    }
    return true;
}

bool validId(const QString &id)
{
    return !id.isEmpty() && !id.startsWith(QLatin1Char('.')) && !id.contains(QLatin1Char('/'));
}

// Reads a record; a last line cut short by a crash is ignored. Every line
// is taken byte for byte; one that is not as this program writes it is
// counted in run.damagedLines and what it names is never acted on.
bool parseRecord(const QByteArray &text, JournalRun &run, bool *complete = nullptr)
{
    // Lines are looked at in place; what follows the last "\n" is a line
    // never finished.
    const qsizetype firstEnd = text.indexOf('\n');
    if (firstEnd < 0 || QByteArrayView(text.constData(), firstEnd) != kMagic)
        return false;
    run.entries.reserve(size_t(text.count("\nentry ")));
    std::map<int, size_t> byNumber;
    bool ended = false;
    qsizetype n = 1;
    for (qsizetype start = firstEnd + 1, end; (end = text.indexOf('\n', start)) >= 0; start = end + 1, ++n) {
        const QList<QByteArray> f = QByteArray::fromRawData(text.constData() + start, end - start).split(' ');
        const QByteArray &key = f.first();
        const QByteArray value = f.size() == 2 ? f.at(1) : QByteArray();
        bool ok = true;
        if (key == "mode" && f.size() == 2) {
            ok = value == "Replace" || value == "ReplaceAs" || value == "Undo";
            run.mode = value == "ReplaceAs" ? JournalMode::ReplaceAs : value == "Undo" ? JournalMode::Undo : JournalMode::Replace;
        } else if (key == "time" && f.size() == 2) {
            run.time = QDateTime::fromString(QString::fromLatin1(value), Qt::ISODateWithMs);
            ok = run.time.isValid();
        } else if ((key == "undoes" || key == "undone") && f.size() == 2) {
            const QString id = QString::fromLatin1(value);
            ok = validId(id);
            (key == "undoes" ? run.undoes : run.undoneBy) = id;
        } else if (key == "entry") {
            JournalEntry e;
            ok = parseEntry(f, e) && !byNumber.count(e.number);
            if (ok) {
                byNumber[e.number] = run.entries.size();
                run.entries.push_back(std::move(e));
            }
        } else if (key == "done" || key == "skip") {
            size_t index = 0;
            FileIdentity result;
            ok = parseOutcome(f, byNumber, index, result);
            if (ok) {
                run.entries[index].state = key == "done" ? JournalEntry::State::Done : JournalEntry::State::Skipped;
                run.entries[index].result = result;
            }
        } else if (key == "end" && f.size() == 1) {
            ended = true;
        } else {
            ok = false;
        }
        if (!ok)
            run.damagedLines.push_back(int(n + 1));
    }
    if (complete)
        *complete = ended;
    return true;
}

// Opens a file of the journal for reading (and writing where flags say so),
// only if it is a regular file: a link is not followed, and a pipe or a
// device put in its place can make nothing wait. -1 with errno set.
int openJournalFile(int folder, const char *name, int flags)
{
    FileDescriptor fd(::openat(folder, name, flags | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC));
    struct stat st;
    if (fd.get() < 0 || ::fstat(fd.get(), &st) != 0)
        return -1;
    if (!S_ISREG(st.st_mode) || st.st_uid != ::geteuid()) {
        errno = S_ISDIR(st.st_mode) ? EISDIR : EACCES;
        return -1;
    }
    return fd.release();
}

QString runFolderPath(const QString &id)
{
    return RunJournalFolder() + QLatin1Char('/') + id;
}

// Deletes a run's folder with what this program put in it.
void removeRunFolder(int runs, const QByteArray &name)
{
    const FileDescriptor folder(::openat(runs, name.constData(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
    if (folder.get() < 0)
        return;
    for (const QByteArray &n : NamesIn(folder.get(), [](const QByteArray &n) { return n == kRecordName || (n.startsWith('k') && n.size() > 1); }))
        sys::unlinkat(folder.get(), n.constData(), 0);
    sys::unlinkat(runs, name.constData(), AT_REMOVEDIR);
}

std::vector<QByteArray> runNames(int runs)
{
    std::vector<QByteArray> names = NamesIn(runs, [](const QByteArray &n) { return !n.startsWith('.'); });
    std::sort(names.begin(), names.end(), std::greater<>());
    return names;
}

} // namespace

FileIdentity IdentityOf(const struct stat &st)
{
    return {true, st.st_dev, st.st_ino};
}

QString RunJournalFolder()
{
    return StateFolder() + QLatin1String("/runs");
}

QString JournalModeName(JournalMode mode)
{
    return mode == JournalMode::ReplaceAs ? QStringLiteral("Replace As") : QString::fromLatin1(modeWord(mode));
}

QString CannotKeepMessage(int error, const QString &path)
{
    return QLatin1String("Cannot keep a copy for Undo: ") + FileErrorMessage(error, path);
}

int JournalRun::changedFiles() const
{
    return int(std::count_if(entries.begin(), entries.end(), [](const JournalEntry &e) { return e.state != JournalEntry::State::Skipped; }));
}

qint64 JournalRun::keptBytes() const
{
    qint64 sum = 0;
    for (const JournalEntry &e : entries)
        if (e.state != JournalEntry::State::Skipped)
            sum = SaturatingAdd(sum, e.keptBytes);
    return sum;
}

namespace {

constexpr char kXxh3Name[] = "xxh3-128:";
constexpr char kSha256Name[] = "sha256:";

bool IsHex(const QByteArray &text, qsizetype from, qsizetype digits)
{
    return text.size() == from + digits
        && std::all_of(text.begin() + from, text.end(), [](char c) { return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f'); });
}

// Reads fd from its start in chunks into update; false on a read error.
template<typename Update> bool ReadAll(int fd, qint64 *size, Update update)
{
    // One buffer per thread, not cleared: hashing runs once per file.
    thread_local std::unique_ptr<char[]> buffer(new char[kHashChunk]);
    qint64 offset = 0;
    for (;;) {
        const ssize_t n = ::pread(fd, buffer.get(), kHashChunk, off_t(offset));
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0)
            return false;
        if (n == 0)
            break;
        if (!update(buffer.get(), size_t(n)))
            return false;
        offset += n;
    }
    if (size)
        *size = offset;
    return true;
}

// The SHA-256 of fd in hexadecimal, as earlier versions recorded it.
QByteArray Sha256Contents(int fd, qint64 *size)
{
    const std::unique_ptr<EVP_MD_CTX, decltype(&EVP_MD_CTX_free)> context(EVP_MD_CTX_new(), &EVP_MD_CTX_free);
    if (!context || EVP_DigestInit_ex(context.get(), EVP_sha256(), nullptr) != 1)
        return QByteArray();
    if (!ReadAll(fd, size, [&](const char *data, size_t n) { return EVP_DigestUpdate(context.get(), data, n) == 1; }))
        return QByteArray();
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned int length = 0;
    if (EVP_DigestFinal_ex(context.get(), digest, &length) != 1)
        return QByteArray();
    return QByteArray(reinterpret_cast<const char *>(digest), int(length)).toHex();
}

} // namespace

QByteArray HashContents(int fd, qint64 *size)
{
    // XXH3-128 reads at memory speed (many GB/s with the vector unit), about
    // ten times as fast as SHA-256 even with the processor's SHA
    // instructions, and its 128 bits tell a changed file as surely for
    // Undo and plans, which guard against accidents, not attackers.
    const std::unique_ptr<XXH3_state_t, decltype(&XXH3_freeState)> state(XXH3_createState(), &XXH3_freeState);
    if (!state || XXH3_128bits_reset(state.get()) != XXH_OK)
        return QByteArray();
    if (!ReadAll(fd, size, [&](const char *data, size_t n) { return XXH3_128bits_update(state.get(), data, n) == XXH_OK; }))
        return QByteArray();
    XXH128_canonical_t canonical;
    XXH128_canonicalFromHash(&canonical, XXH3_128bits_digest(state.get()));
    return kXxh3Name + QByteArray(reinterpret_cast<const char *>(canonical.digest), int(sizeof canonical.digest)).toHex();
}

QByteArray HashLike(int fd, const QByteArray &recorded, qint64 *size)
{
    if (IsHex(recorded, 0, 64))
        return Sha256Contents(fd, size);
    if (recorded.startsWith(kSha256Name)) {
        const QByteArray hash = Sha256Contents(fd, size);
        return hash.isEmpty() ? hash : kSha256Name + hash;
    }
    return HashContents(fd, size);
}

bool IsContentHash(const QByteArray &text)
{
    return IsHex(text, 0, 64) || (text.startsWith(kXxh3Name) && IsHex(text, qsizetype(sizeof kXxh3Name) - 1, 32));
}

RunJournal::RunJournal(JournalMode mode, const UndoSettings &settings, const QString &undoes)
    : m_mode(mode)
    , m_settings(settings)
    , m_undoes(undoes)
{ }

RunJournal::~RunJournal()
{
    if (m_record.get() >= 0)
        finish();
    if (m_pruner.joinable())
        m_pruner.join();
}

int RunJournal::fail(int error, const QString &path)
{
    m_error = CannotKeepMessage(error, path);
    return -1;
}

bool RunJournal::open()
{
    if (m_record.get() >= 0)
        return true;
    PrivateFolder runsFolder = openRuns(true);
    if (runsFolder.fd() < 0) {
        m_error = QLatin1String("Cannot keep a copy for Undo: ")
            + FileErrorMessage(runsFolder.reason().isEmpty() ? SystemErrorText(ENOENT) : runsFolder.reason(), runsFolder.path());
        return false;
    }
    const FileDescriptor runs = runsFolder.take();
    const JournalFolderLock folderLock(runs.get());
    // The ID tells when the run started; a second run in the same
    // millisecond, in this process or another, takes the next free suffix.
    const QDateTime now = QDateTime::currentDateTimeUtc();
    const QString stem = now.toString(QStringLiteral("yyyyMMdd-HHmmss-zzz"));
    for (int n = 1;; ++n) {
        const QString id = n == 1 ? stem : stem + QLatin1Char('-') + QString::number(n);
        if (sys::mkdirat(runs.get(), id.toLatin1().constData(), 0700) == 0) {
            m_id = id;
            break;
        }
        if (errno != EEXIST || n > 1000) {
            fail(errno, RunJournalFolder());
            return false;
        }
    }
    m_folderPath = runFolderPath(m_id);
    m_folder = FileDescriptor(::openat(runs.get(), m_id.toLatin1().constData(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
    struct stat folder;
    if (m_folder.get() >= 0 && ::fstat(m_folder.get(), &folder) == 0)
        m_device = folder.st_dev;
    if (m_folder.get() >= 0)
        m_record = FileDescriptor(sys::openat(m_folder.get(), kRecordName.constData(), O_RDWR | O_APPEND | O_CREAT | O_EXCL | O_CLOEXEC, 0600));
    if (m_record.get() < 0) {
        fail(errno, m_folderPath);
        sys::unlinkat(runs.get(), m_id.toLatin1().constData(), AT_REMOVEDIR);
        m_folder.reset();
        return false;
    }
    // Held while the run lasts: nobody undoes or tidies a run being written.
    ::flock(m_record.get(), LOCK_EX | LOCK_NB);
    QByteArray header = kMagic + "\nmode " + modeWord(m_mode) + "\ntime " + now.toString(Qt::ISODateWithMs).toLatin1() + '\n';
    if (!m_undoes.isEmpty())
        header += "undoes " + m_undoes.toLatin1() + '\n';
    if (!append(header)) {
        const int error = errno;
        m_record.reset();
        removeRunFolder(runs.get(), m_id.toLatin1());
        m_folder.reset();
        fail(error, m_folderPath);
        return false;
    }
    // Deleting old runs frees what they kept, which takes a while: it is
    // done beside the run, keeping a place for this one, which is not
    // counted while it is written.
    UndoSettings early = m_settings;
    early.maxRuns = std::max(0, m_settings.maxRuns - 1);
    m_pruner = StartOrRun([early, id = m_id] {
        PruneRuns(early, id);
        // The records read here leave free memory in this thread's own
        // heap, which nothing else would use: it goes back to the system.
        ::malloc_trim(0);
    });
    return true;
}

bool RunJournal::append(const QByteArray &line)
{
    // One write per line, to a file opened for appending: a crash can cut
    // only the last line short, which the reader ignores.
    const ssize_t n = sys::write(m_record.get(), line.constData(), size_t(line.size()));
    if (n == line.size())
        return true;
    if (n >= 0)
        errno = ENOSPC;
    return false;
}

QByteArray RunJournal::entryLine(const JournalEntry &e) const
{
    return "entry " + QByteArray::number(e.number) + ' ' + char(e.kind) + ' ' + (e.kept.isEmpty() ? QByteArray("-") : e.kept) + ' '
        + (e.hash.isEmpty() ? QByteArray("-") : e.hash) + ' ' + QByteArray::number(e.size) + ' ' + QByteArray::number(uint(e.mode), 8) + ' '
        + QByteArray::number(uint(e.uid)) + ' ' + QByteArray::number(uint(e.gid)) + ' ' + timeFields(e.atime) + ' ' + timeFields(e.mtime) + ' '
        + QByteArray::number(e.keptBytes) + ' ' + (e.keptHash.isEmpty() ? QByteArray("-") : e.keptHash) + ' ' + RecordedPathText(e.path) + '\n';
}

int RunJournal::keep(JournalEntry::Kind kind, int fd, const struct stat &st, const QByteArray &path, bool linkable, const QByteArray &hash, qint64 size,
    const QByteArray &keptHash)
{
    if (!open())
        return -1;
    JournalEntry e;
    e.kind = kind;
    e.number = int(m_kept.size()) + 1;
    e.path = path;
    e.kept = 'k' + QByteArray::number(e.number);
    e.hash = hash;
    e.size = size;
    e.keptBytes = st.st_size;
    e.keptHash = keptHash.isEmpty() ? HashContents(fd) : keptHash;
    e.mode = st.st_mode & 07777;
    e.uid = st.st_uid;
    e.gid = st.st_gid;
    e.atime = st.st_atim;
    e.mtime = st.st_mtim;
    const QString keptPath = KeptPath(m_id, e.kept);

    bool linked = false;
    // Only a file of the user's own is kept as itself: every kept copy
    // belongs to the user running Perrox.
    if (linkable && m_device == st.st_dev && st.st_uid == ::geteuid()) {
        // The file's own inode, under a second name: it lives on when the
        // result takes its place, at no cost.
        const QByteArray self = "/proc/self/fd/" + QByteArray::number(fd);
        linked = sys::linkat(AT_FDCWD, self.constData(), m_folder.get(), e.kept.constData(), AT_SYMLINK_FOLLOW) == 0;
    }
    if (!linked) {
        FileDescriptor copy(sys::openat(m_folder.get(), e.kept.constData(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, 0600));
        if (copy.get() < 0)
            return fail(errno, keptPath);
        const int error = sys::ficlone(copy.get(), fd) == 0 ? 0 : CopyContents(fd, copy.get());
        if (error) {
            sys::unlinkat(m_folder.get(), e.kept.constData(), 0);
            return fail(error, keptPath);
        }
        m_copies.push_back(std::move(copy));
    }
    m_lines += entryLine(e);
    m_keptBytes += e.keptBytes;
    m_keptSizes.push_back(e.keptBytes);
    m_kept.push_back(true);
    m_linked.push_back(linked);
    return e.number;
}

int RunJournal::keepCreated(const QByteArray &path, const QByteArray &hash, qint64 size)
{
    if (!open())
        return -1;
    JournalEntry e;
    e.kind = JournalEntry::Kind::Created;
    e.number = int(m_kept.size()) + 1;
    e.path = path;
    e.hash = hash;
    e.size = size;
    m_lines += entryLine(e);
    m_keptSizes.push_back(0);
    m_kept.push_back(false);
    m_linked.push_back(false);
    return e.number;
}

bool RunJournal::keptByLink(int number) const
{
    return number > 0 && size_t(number) <= m_linked.size() && m_linked[size_t(number - 1)];
}

int RunJournal::copyInsteadOfLink(int number, int fd)
{
    if (!keptByLink(number))
        return 0;
    const QByteArray kept = 'k' + QByteArray::number(number);
    const QByteArray part = kept + ".part";
    FileDescriptor copy(sys::openat(m_folder.get(), part.constData(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, 0600));
    if (copy.get() < 0)
        return errno;
    int error = sys::ficlone(copy.get(), fd) == 0 ? 0 : CopyContents(fd, copy.get());
    if (!error && sys::fsync(copy.get()) != 0)
        error = errno;
    if (!error && sys::renameat(m_folder.get(), part.constData(), m_folder.get(), kept.constData()) != 0)
        error = errno;
    if (!error && sys::fsync(m_folder.get()) != 0)
        error = errno;
    if (error) {
        sys::unlinkat(m_folder.get(), part.constData(), 0);
        return error;
    }
    m_linked[size_t(number - 1)] = false;
    return 0;
}

std::vector<int> RunJournal::syncFds(int &error)
{
    m_synced = std::move(m_copies);
    m_copies.clear();
    error = 0;
    if (m_record.get() < 0)
        return {};
    // The lines gathered since the last call, in one write.
    if (!m_lines.isEmpty() && !append(m_lines))
        error = errno;
    m_lines.clear();
    std::vector<int> fds {m_record.get(), m_folder.get()};
    for (const FileDescriptor &copy : m_synced)
        fds.push_back(copy.get());
    return fds;
}

void RunJournal::done(int number, const FileIdentity &result)
{
    if (number <= 0 || m_record.get() < 0)
        return;
    m_lines += doneLine(number, result);
    ++m_doneCount;
}

void RunJournal::skipped(int number)
{
    if (number <= 0 || m_record.get() < 0)
        return;
    m_lines += "skip " + QByteArray::number(number) + '\n';
    m_keptBytes -= m_keptSizes[size_t(number - 1)];
    if (m_kept[size_t(number - 1)])
        sys::unlinkat(m_folder.get(), ('k' + QByteArray::number(number)).constData(), 0);
    m_linked[size_t(number - 1)] = false;
}

void RunJournal::finishedLater(int number)
{
    if (number > 0 && m_record.get() >= 0)
        ++m_doneCount;
}

QString RunJournal::finish()
{
    if (m_pruner.joinable())
        m_pruner.join();
    if (m_record.get() < 0)
        return QString();
    m_synced.clear();
    m_copies.clear();
    if (m_doneCount == 0) {
        m_record.reset();
        m_folder.reset();
        const PrivateFolder runs = openRuns(false);
        if (runs.fd() >= 0)
            removeRunFolder(runs.fd(), m_id.toLatin1());
        return QString();
    }
    append(m_lines + "end\n");
    m_lines.clear();
    m_record.reset();
    m_folder.reset();
    PruneRuns(m_settings, m_id, m_keptBytes);
    return m_id;
}

QString KeptPath(const QString &id, const QByteArray &kept)
{
    return runFolderPath(id) + QLatin1Char('/') + QString::fromLatin1(kept);
}

namespace {

// The record of the run id, through the journal's folder and the run's,
// each checked; -1 when there is none that can be trusted.
int openRecord(int runs, const QString &id, int flags)
{
    if (!validId(id))
        return -1;
    const FileDescriptor folder(openRunFolder(runs, id.toLatin1()));
    return folder.get() < 0 ? -1 : openJournalFile(folder.get(), kRecordName.constData(), flags);
}

bool loadRun(int runs, const QString &givenId, JournalRun &run)
{
    const QString id = givenId; // may be run.id itself
    const FileDescriptor record(openRecord(runs, id, O_RDONLY));
    if (record.get() < 0)
        return false;
    run = JournalRun();
    run.id = id;
    if (!parseRecord(ReadFromStart(record.get(), kMaxRecordSize), run))
        return false;
    // A run still being written holds its record locked.
    run.running = ::flock(record.get(), LOCK_SH | LOCK_NB) != 0;
    return true;
}

} // namespace

bool LoadRun(const QString &id, JournalRun &run)
{
    const PrivateFolder runs = openRuns(false);
    return runs.fd() >= 0 && loadRun(runs.fd(), id, run);
}

std::vector<JournalRun> ListRuns()
{
    std::vector<JournalRun> list;
    const PrivateFolder runs = openRuns(false);
    if (runs.fd() < 0)
        return list;
    for (const QByteArray &name : runNames(runs.fd())) {
        JournalRun run;
        if (loadRun(runs.fd(), QString::fromLatin1(name), run))
            list.push_back(std::move(run));
    }
    return list;
}

int OpenKept(const QString &id, const QByteArray &kept)
{
    const PrivateFolder runs = openRuns(false);
    if (runs.fd() < 0 || !validId(id)) {
        errno = ENOENT;
        return -1;
    }
    const FileDescriptor folder(openRunFolder(runs.fd(), id.toLatin1()));
    return folder.get() < 0 ? -1 : ::openat(folder.get(), kept.constData(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
}

bool RunLock::lock(const QString &id)
{
    const PrivateFolder runs = openRuns(false);
    m_record = FileDescriptor(runs.fd() < 0 ? -1 : openRecord(runs.fd(), id, O_WRONLY | O_APPEND));
    if (m_record.get() < 0 || ::flock(m_record.get(), LOCK_EX | LOCK_NB) != 0) {
        m_record.reset();
        return false;
    }
    return true;
}

void RunLock::markUndone(const QString &byId)
{
    const QByteArray line = "undone " + byId.toLatin1() + '\n';
    if (sys::write(m_record.get(), line.constData(), size_t(line.size())) == line.size())
        sys::fsync(m_record.get());
}

QString RecoverInterruptedRuns()
{
    PrivateFolder runsFolder = openRuns(false);
    if (runsFolder.fd() < 0)
        return runsFolder.reason().isEmpty() ? QString() : UntrustedStateFolderMessage(runsFolder);
    const FileDescriptor runs = runsFolder.take();
    const JournalFolderLock folderLock(runs.get());
    for (const QByteArray &name : runNames(runs.get())) {
        const FileDescriptor folder(openRunFolder(runs.get(), name));
        if (folder.get() < 0)
            continue;
        const FileDescriptor record(openJournalFile(folder.get(), kRecordName.constData(), O_RDWR | O_APPEND));
        if (record.get() < 0) {
            // Stopped between making the folder and its record.
            if (errno == ENOENT)
                removeRunFolder(runs.get(), name);
            continue;
        }
        if (::flock(record.get(), LOCK_EX | LOCK_NB) != 0)
            continue; // still being written
        JournalRun run;
        bool complete = false;
        const QByteArray text = ReadFromStart(record.get(), kMaxRecordSize);
        // A finished run's record has its "end" line: nothing to read further.
        if (text.startsWith(kMagic + '\n') && text.contains("\nend\n"))
            continue;
        if (!parseRecord(text, run, &complete)) {
            // Stopped before the record's first line was written.
            if (text.size() < kMagic.size() + 1)
                removeRunFolder(runs.get(), name);
            continue;
        }
        if (complete)
            continue;
        // A last line cut short goes, so that the lines added here start
        // lines of their own.
        if (!text.endsWith('\n') && sys::ftruncate(record.get(), off_t(text.lastIndexOf('\n') + 1)) != 0)
            continue;
        // Kept contents whose entry never got written.
        const auto orphan = [&](const QByteArray &n) {
            return n.startsWith('k') && std::none_of(run.entries.begin(), run.entries.end(), [&](const JournalEntry &e) { return e.kept == n; });
        };
        for (const QByteArray &n : NamesIn(folder.get(), orphan))
            sys::unlinkat(folder.get(), n.constData(), 0);
        int changed = 0;
        for (const JournalEntry &e : run.entries) {
            bool happened = e.state == JournalEntry::State::Done;
            if (e.state == JournalEntry::State::Pending) {
                const FileDescriptor file(::open(e.path.constData(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC));
                FileIdentity result;
                if (e.kind == JournalEntry::Kind::Deleted) {
                    happened = file.get() < 0 && errno == ENOENT;
                } else {
                    qint64 size = -1;
                    struct stat st;
                    happened = file.get() >= 0 && ::fstat(file.get(), &st) == 0 && S_ISREG(st.st_mode) && st.st_size == e.size
                        && HashLike(file.get(), e.hash, &size) == e.hash && size == e.size;
                    if (happened)
                        result = IdentityOf(st);
                }
                const QByteArray line = happened ? doneLine(e.number, result) : "skip " + QByteArray::number(e.number) + '\n';
                (void)!sys::write(record.get(), line.constData(), size_t(line.size()));
                if (!happened && !e.kept.isEmpty())
                    sys::unlinkat(folder.get(), e.kept.constData(), 0);
            }
            changed += happened ? 1 : 0;
        }
        if (changed == 0) {
            removeRunFolder(runs.get(), name);
        } else {
            (void)!sys::write(record.get(), "end\n", 4);
            sys::fsync(record.get());
        }
    }
    return QString();
}

namespace {

// The bytes a finished run keeps, as pruning needs them; nothing for a run
// still being written or one without a readable record. A record is read
// once per process for as long as it stays as it was, so the prunes before
// and after a run read the history once.
std::optional<qint64> finishedRunBytes(int runs, const QByteArray &name)
{
    struct Known
    {
        FileStatus status; // of the record file when it was read
        qint64 kept;
    };
    static std::mutex mutex;
    static std::map<QByteArray, Known> known;
    const FileDescriptor record(openRecord(runs, QString::fromLatin1(name), O_RDONLY));
    struct stat st;
    if (record.get() < 0 || ::fstat(record.get(), &st) != 0 || ::flock(record.get(), LOCK_SH | LOCK_NB) != 0)
        return std::nullopt;
    const std::lock_guard<std::mutex> hold(mutex);
    const auto at = known.find(name);
    if (at != known.end() && SameContent(at->second.status.record(), st))
        return at->second.kept;
    JournalRun run;
    if (!parseRecord(ReadFromStart(record.get(), kMaxRecordSize), run))
        return std::nullopt;
    known[name] = {st, run.keptBytes()};
    return run.keptBytes();
}

} // namespace

void PruneRuns(const UndoSettings &settings, const QString &keepId, std::optional<qint64> keepBytes)
{
    const PrivateFolder runsFolder = openRuns(false);
    if (runsFolder.fd() < 0)
        return;
    const int runs = runsFolder.fd();
    int count = 0;
    qint64 bytes = 0;
    bool dropping = false;
    for (const QByteArray &name : runNames(runs)) {
        const bool own = QString::fromLatin1(name) == keepId;
        const std::optional<qint64> finished = own && keepBytes ? keepBytes : finishedRunBytes(runs, name);
        if (!finished)
            continue;
        const qint64 kept = *finished;
        if (!own) {
            dropping = dropping || count + 1 > settings.maxRuns || SaturatingAdd(bytes, kept) > settings.maxBytes;
            if (dropping) {
                RunLock lock;
                if (lock.lock(QString::fromLatin1(name)))
                    removeRunFolder(runs, name);
                continue;
            }
        }
        ++count;
        bytes = SaturatingAdd(bytes, kept);
    }
}

} // namespace perrox
