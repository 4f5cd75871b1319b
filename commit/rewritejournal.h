#pragma once

#include "files/filedescriptor.h"

#include <QByteArray>
#include <QString>

#include <functional>
#include <sys/stat.h>

namespace perrox {

// A file that cannot simply be replaced (it has several hard links, or its
// folder takes no new name) is rewritten in place. So that it never ends
// half written, the complete result is kept on disk first, with a small
// record of which file (device, inode, path) is being rewritten from it.
// The record follows the rewrite step by step, and keeps the old bytes of
// the step under way, so that a write the kernel cut short when the
// program was killed can be told from a change by another program; if the
// program dies during the rewrite, the next start finishes it
// (RecoverInterruptedRewrites).

// Where records and kept results live: StateFolder(), used only while it
// is a folder of the user's alone (see PrivateFolder).
QString RewriteRecordFolder();

class RewriteRecord
{
public:
    RewriteRecord() = default;
    // Leaves the record and the kept result unless finish() was called.
    ~RewriteRecord() = default;
    RewriteRecord(const RewriteRecord &) = delete;
    RewriteRecord &operator=(const RewriteRecord &) = delete;

    // Keeps the complete result (the file open as resultFd, named resultName
    // in the folder open as resultFolderFd) and writes a record naming the
    // file (its status before the rewrite and its absolute path; fileFd is
    // the file open for reading); both have reached the disk when this
    // returns 0. Otherwise returns the errno value and failedPath() names
    // what failed; nothing is left behind.
    int begin(const struct stat &file, const QByteArray &filePath, int fileFd, int resultFd, int resultFolderFd, const QByteArray &resultName);

    // Before bytes [from, to) of the file are written (their old bytes are
    // kept first); from == to: before the file is cut to the length from.
    // Returns 0, or the errno value of a failure to keep the old bytes, and
    // then the step must not be made.
    int aboutToWrite(qint64 from, qint64 to);
    // After a step, with the file's status then.
    void written(const struct stat &file);
    // The rewrite is complete and on disk: the record and the kept result
    // are removed.
    void finish();

    QString keptResultPath() const;
    QString failedPath() const { return m_failedPath; }
    // "reason - path" for a failed begin() that returned error.
    QString failureMessage(int error) const;

private:
    friend class RewriteRecovery;
    int writeState();
    int createRecord();
    void removeFiles(bool keepResult);

    QString m_folderPath;
    FileDescriptor m_folder; // read-only, so that it can be synced
    QByteArray m_stem; // the names of the record, the result and the step's old bytes
    FileDescriptor m_record; // locked while the rewrite runs
    FileDescriptor m_step; // the old bytes of the step under way
    int m_file = -1; // the file being rewritten, for reading; not owned
    qint64 m_stateOffset = 0;
    struct timespec m_ctime = {};
    char m_flight = 'n'; // 'n' nothing, 'w' writing [m_from, m_to), 't' cutting to m_from, 'f' finished
    qint64 m_from = 0;
    qint64 m_to = 0;
    qint64 m_size = -1; // the file's size before the step under way
    QString m_failedPath;
    QString m_failedReason; // where the folder cannot be trusted
    bool m_active = false;
};

// Writes resultSize bytes of result over file from offset 0, in chunks of
// chunk bytes, cuts the file to resultSize and syncs it; the record follows
// every step and pump() runs after every chunk. Returns 0 or the errno value
// of the first failure (the file is then partly rewritten, and the record
// and the kept result stay for the next start).
int RewriteFromResult(int file, int result, qint64 resultSize, RewriteRecord &record, qint64 chunk, const std::function<void()> &pump);

// Finishes every rewrite in place that a run left unfinished when it died,
// after checking that each file is still the same one and that nobody
// changed it since; records of rewrites that are still running in another
// process are left alone. Returns one message telling what was done (files
// finished, files left as they are with the place of their kept result), or
// an empty text when there was nothing to do.
QString RecoverInterruptedRewrites();

} // namespace perrox
