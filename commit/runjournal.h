#pragma once

#include "base/workers.h"
#include "files/filedescriptor.h"
#include "files/undooptions.h"

#include <QByteArray>
#include <QDateTime>
#include <QString>

#include <optional>
#include <sys/stat.h>
#include <vector>

namespace perrox {

// The journal of the runs that changed files, so that each can be undone.
// Every run has a folder of its own under RunJournalFolder(), named by its
// ID, holding a record (a text file of lines, appended to only) and the old
// contents it kept. Before a file is touched, its old content is kept and
// its entry is on the disk (see RunJournal::syncFds()); after the file was
// changed, "done" follows the entry. So a run cut short by a crash still
// names every file it changed; an entry without "done" whose file does not
// hold what the run wrote was never carried out and is skipped.

// runs/ in StateFolder(): $XDG_STATE_HOME/perrox/runs (else
// ~/.local/state/perrox/runs). It is used only while it, the state folder
// and each run's folder are the user's alone (see PrivateFolder), and each
// record and kept copy a regular file of the user's.
QString RunJournalFolder();

enum class JournalMode
{
    Replace,
    ReplaceAs,
    Undo,
};

// "Replace", "Replace As", "Undo".
QString JournalModeName(JournalMode mode);

// A file system object, by device and inode.
struct FileIdentity
{
    bool known = false;
    dev_t device = 0;
    ino_t inode = 0;
    bool operator==(const FileIdentity &) const = default;
};

FileIdentity IdentityOf(const struct stat &st);

struct JournalEntry
{
    enum class Kind : char
    {
        Replaced = 'R', // undo puts the kept content back
        Created = 'C', // undo deletes the file (nothing was kept)
        Deleted = 'D', // undo creates the file again from the kept content
    };
    enum class State
    {
        Pending, // kept; the file may or may not have been changed
        Done, // the file was changed
        Skipped, // the file was left as it was
    };
    Kind kind = Kind::Replaced;
    State state = State::Pending;
    int number = 0;
    QByteArray path; // absolute
    QByteArray kept; // name in the run's folder; empty for Created
    QByteArray hash; // HashContents() of what the run left at path (Replaced, Created) or deleted (Deleted)
    qint64 size = 0; // of that content
    // Done (Replaced, Created): the file the run left at path. Undo touches
    // only this very file; records of older versions do not name it.
    FileIdentity result;
    qint64 keptBytes = 0;
    // HashContents() of the kept content (Replaced, Deleted), so that
    // Undo never puts back a kept copy that changed since; empty in records
    // of older versions, which are checked by size only.
    QByteArray keptHash;
    // The old file's status (Replaced, Deleted).
    mode_t mode = 0;
    uid_t uid = 0;
    gid_t gid = 0;
    struct timespec atime = {};
    struct timespec mtime = {};
};

struct JournalRun
{
    QString id;
    QDateTime time; // UTC
    JournalMode mode = JournalMode::Replace;
    QString undoes; // Undo: the run it undid
    QString undoneBy; // the Undo run that undid it; empty while it stands
    bool running = false; // its process still writes it
    std::vector<JournalEntry> entries;
    // The lines of its record (counted from 1) that could not be read; what
    // they name is left alone.
    std::vector<int> damagedLines;

    int changedFiles() const;
    qint64 keptBytes() const;
};

// Writes the record of one run. The run's folder is made with the first
// file kept, so a run that changes nothing leaves nothing behind; from then
// on, the oldest runs beyond settings' limits are removed on a thread of
// their own while the run goes on.
class RunJournal
{
public:
    RunJournal(JournalMode mode, const UndoSettings &settings, const QString &undoes = QString());
    ~RunJournal();
    RunJournal(const RunJournal &) = delete;
    RunJournal &operator=(const RunJournal &) = delete;

    // Keeps the old content of the file open as fd (status st, at the
    // absolute path) before the file is replaced or deleted. linkable: the
    // file's inode is taken out of its place by a rename or an unlink, so a
    // hard link (on the journal's file system) keeps it without a copy;
    // otherwise it is cloned where the file system can, else copied. hash
    // and size describe what the file holds after the change (Replaced) or
    // what is deleted (Deleted); keptHash, where known already, that of the
    // file's content now (else it is worked out here). Returns the entry's
    // number, or -1 with the message in error().
    int keep(JournalEntry::Kind kind, int fd, const struct stat &st, const QByteArray &path, bool linkable, const QByteArray &hash, qint64 size,
        const QByteArray &keptHash = {});
    // A file about to be created at path with this content.
    int keepCreated(const QByteArray &path, const QByteArray &hash, qint64 size);
    // The entry kept its content as a hard link, and the file is about to be
    // rewritten in place after all: a copy takes the link's place, on the
    // disk when this returns 0.
    int copyInsteadOfLink(int number, int fd);
    bool keptByLink(int number) const;

    // What must reach the disk before any file of the entries kept since
    // the last call is touched: the record, the run's folder and the kept
    // copies. The descriptors stay valid until the next call. The entries
    // are written to the record here, in one write; error is the errno
    // value of its failure, else 0 (the entries are then not kept).
    std::vector<int> syncFds(int &error);
    // The file was changed; result is the file that stands at its path now
    // (not known for a deleted file).
    void done(int number, const FileIdentity &result = {});
    // The file was left as it was: its kept content goes.
    void skipped(int number);
    // The file was partly changed, and the next start finishes the change
    // (CommitResult::finishedLater): the entry stays open with its kept
    // content, so that Undo takes back the finished file.
    void finishedLater(int number);

    // The run is over: a run that changed no file is removed; otherwise the
    // oldest runs beyond the limits go (never this one). Returns the run's
    // ID, or an empty text when it was removed.
    QString finish();

    QString error() const { return m_error; }
    QString id() const { return m_id; }

private:
    bool open();
    bool append(const QByteArray &line);
    int fail(int error, const QString &path);
    QByteArray entryLine(const JournalEntry &e) const;

    JournalMode m_mode;
    UndoSettings m_settings;
    QString m_undoes;
    Thread m_pruner;
    QString m_id;
    QString m_folderPath;
    FileDescriptor m_folder;
    FileDescriptor m_record;
    // By entry (number - 1): whether it kept content ("k" + number), and
    // whether that was kept as a hard link of the file. Only this is held,
    // so that a run over many files keeps little in memory.
    std::vector<bool> m_kept;
    std::vector<bool> m_linked;
    std::vector<qint64> m_keptSizes;
    qint64 m_keptBytes = 0; // of the entries not skipped
    QByteArray m_lines; // record lines not written yet
    dev_t m_device = 0; // of the run's folder
    std::vector<FileDescriptor> m_copies; // kept since the last syncFds()
    std::vector<FileDescriptor> m_synced;
    int m_doneCount = 0; // entries done, or to be finished by the next start
    QString m_error;
};

// "Cannot keep a copy for Undo: <reason> - <path>".
QString CannotKeepMessage(int error, const QString &path);

// The runs of the journal, newest first. Reading takes no lock.
std::vector<JournalRun> ListRuns();
// One run; false when there is none with this ID.
bool LoadRun(const QString &id, JournalRun &run);
// The absolute path of a kept content of a run, for messages.
QString KeptPath(const QString &id, const QByteArray &kept);
// Opens a kept content of a run for reading (not following a link, never
// blocking), through folders that are checked as RunJournalFolder() says;
// -1 with errno set.
int OpenKept(const QString &id, const QByteArray &kept);

// Holds the record of a run locked, so that it can be undone by one process
// only; marks it undone.
class RunLock
{
public:
    // False when the run is missing or in use by another process.
    bool lock(const QString &id);
    void markUndone(const QString &byId);

private:
    FileDescriptor m_record;
};

// Tidies what a process that died while it wrote a run left behind: kept
// contents without an entry go; an entry without "done" is marked done when
// its file holds what the run wrote, else skipped; a run that then changed
// nothing is removed. Runs still being written are left alone. Returns a
// message when the journal's folder cannot be trusted, else an empty text.
QString RecoverInterruptedRuns();

// Removes the oldest runs until at most settings.maxRuns remain and their
// kept contents sum up to at most settings.maxBytes; keepId is never removed.
// keepBytes, when given, are the bytes keepId keeps, which then need not
// be read from its record.
void PruneRuns(const UndoSettings &settings, const QString &keepId, std::optional<qint64> keepBytes = std::nullopt);

// The hash of everything in fd, from its start, with its algorithm named in
// front: "xxh3-128:" and 32 hexadecimal digits; empty on a read error. size,
// when given, receives the bytes read.
QByteArray HashContents(int fd, qint64 *size = nullptr);

// The hash of everything in fd made the way recorded was made, to compare
// with it: journal records of earlier versions hold a bare SHA-256 (64
// hexadecimal digits), plans of earlier versions "sha256:" and one; anything
// else, an empty recorded included, gets HashContents().
QByteArray HashLike(int fd, const QByteArray &recorded, qint64 *size = nullptr);

// Whether text is a hash that HashLike() can make: a record's field.
bool IsContentHash(const QByteArray &text);

} // namespace perrox
