#pragma once

#include "commit/runjournal.h"

#include <QByteArray>
#include <QString>

#include <functional>
#include <memory>
#include <random>
#include <sys/stat.h>
#include <vector>

namespace perrox {

class OpenedFile;
class TemporaryFile;

struct CommitResult
{
    enum class Status
    {
        Done,
        // Left alone for a reason that concerns this file only (changed by
        // another program, a target that is no regular file): the run goes on.
        Refused,
        // The result could not be put in place: the run ends here.
        Failed,
    };
    Status status = Status::Done;
    // Refused or Failed: the message to show.
    QString message;
    // Failed with "reason - target": the errno value of the reason; else 0.
    int error = 0;
    // Done: the file that now stands at the target, for the journal.
    FileIdentity result = {};
    // Failed: the file was partly rewritten in place, and the next start
    // finishes it from the complete result kept for it (see RewriteRecord).
    bool finishedLater = false;
    bool ok() const { return status == Status::Done; }
};

// What putting a result in place needs besides the result and its target.
struct CommitContext
{
    std::function<void()> pump = {}; // called after every chunk of a rewrite in place
    qint64 chunk = qint64(1) << 20; // bytes per write of a rewrite in place
    // The result takes the access and modification times of the file it was
    // made from (Replace: the file it replaces, as it was opened; Replace
    // As: the source given to MakeReplaceAsCommit) instead of the time it
    // was written. A file whose times cannot be set (one of another owner,
    // rewritten in place) keeps its new content with the time of the write.
    bool keepTimes = false;
};

// What a commit keeps for Undo, and what a commit that undoes gives the file.
struct CommitUndo
{
    // Where the old content is kept before the file is touched; null: nothing is kept.
    RunJournal *journal = nullptr;
    // HashContents() and size of the result.
    QByteArray hash;
    qint64 size = 0;
    // Set by prepare(): the journal's entry for the file, or -1.
    int entry = -1;
    // An Undo: the permission bits, owner and times the result takes,
    // instead of those of the file it replaces.
    const JournalEntry *restore = nullptr;
    // HashContents() of the file's content before the change, where known already
    // (else the journal works it out).
    QByteArray keptHash = {};
};

// Replace: puts the complete content of temp (closed, descriptor still open)
// in the place of source, the file that was read, so that the file is either
// left as it was or holds the whole new content, never a part of it:
//  - the user must be allowed to write the file itself, exactly as when
//    copying over it; a writable folder alone is not enough;
//  - just before the result takes the file's place, the name must still
//    refer to the file that was read and the file must be unchanged since
//    it was opened (size, modification and change times); otherwise it is
//    left exactly as the other program left it (Refused);
//  - normally temp is given the file's permission bits (and owner, where
//    allowed), synced, and swapped with the file in one step
//    (renameat2 RENAME_EXCHANGE), after which the file taken out is checked
//    once more and the swap undone if it is not the one that was read; from
//    another file system temp is first copied to a temporary file beside it;
//  - a file with several hard links, or one whose folder takes no new name
//    or refuses the rename (a sticky folder), is rewritten in place, so every
//    name keeps seeing it: space for a longer content is reserved first, and
//    the complete result and a record of the rewrite are kept on disk until
//    it is done (see RewriteRecord), so a rewrite cut short is finished at
//    the next start;
//  - with undo->journal, the old content is kept there before anything
//    else happens to the file; where it cannot be, the commit fails and the
//    file stays as it was.
CommitResult CommitReplace(TemporaryFile &temp, OpenedFile &source, CommitContext &context);

// A Replace As target: a name in the target folder and what stands there.
struct ReplaceAsTarget
{
    enum class Kind
    {
        Missing,
        Regular,
        Other, // a symbolic link, a folder, a pipe, a device...
        Unknown, // its status could not be read (error)
    };
    int folderFd = -1; // not owned
    QByteArray name; // in the folder, no "/"
    QString path; // for messages
    Kind kind = Kind::Unknown;
    struct stat status = {};
    int error = 0;
};

// What stands at name in the folder, links not followed.
ReplaceAsTarget InspectTarget(int folderFd, const QByteArray &name, const QString &path);

// Replace As: puts the complete content of temp at the target, never
// following or writing through what stands there. A target that is no
// regular file is refused; a regular file that was there when it was
// inspected is replaced only if it is still that file (swapped with the
// result and checked, as for Replace); where nothing stood, the result is
// renamed there only if nothing has appeared meanwhile. A new target gets
// the permissions of any new file; a replaced one keeps its permission bits
// (and owner, where allowed). With undo->journal, a target that stands is
// kept and a new one is recorded as created, before the rename.
CommitResult CommitReplaceAs(TemporaryFile &temp, const ReplaceAsTarget &target, CommitContext &context);

// Puts temp at path as a save does: a file that is there (links followed) is
// replaced as by CommitReplace; where nothing stands, the file is created
// as by CommitReplaceAs.
CommitResult CommitToPath(TemporaryFile &temp, const QString &path, CommitContext &context);

// Saves content at path: it goes to a temporary file beside it and takes its
// place through CommitToPath only once complete, so a failed save leaves what
// stood there as it was. Without the folder's permission to create that file
// the save fails rather than writing over the old file in place. Empty on
// success; else "reason - path" where the new file could not be made, and
// writeError(reason) where it could not be written or put in place (by
// default "reason - path" as well), or the commit's own message.
QString SaveContents(const QString &path, const QByteArray &content, const std::function<QString(const QString &reason)> &writeError = {});

// Putting a result in place in two steps, so that the results of many files
// can reach the disk in one flush before any of them is renamed: prepare()
// makes every check and copy that comes before the flush and returns the
// descriptor of the file that must be on the disk before its rename (-1 when
// nothing is to be renamed: the outcome is decided, or the file is rewritten
// in place with its own record); finish() makes the last checks and puts the
// result in place, exactly as CommitReplace or CommitReplaceAs. flushed: the
// file prepare() named is on the disk already; otherwise finish() syncs it.
// The objects given must outlive the commit.
class ResultCommit
{
public:
    virtual ~ResultCommit() = default;
    virtual int prepare() = 0;
    virtual CommitResult finish(bool flushed) = 0;
};

// undo, when given, must outlive the commit.
std::unique_ptr<ResultCommit> MakeReplaceCommit(TemporaryFile &temp, OpenedFile &source, CommitContext &context, CommitUndo *undo = nullptr);
// source, when given, is the file the result was made from (its status as
// opened), for context.keepTimes.
std::unique_ptr<ResultCommit> MakeReplaceAsCommit(
    TemporaryFile &temp, const ReplaceAsTarget &target, CommitContext &context, CommitUndo *undo = nullptr, const OpenedFile *source = nullptr);

// Brings the data and status of every file in fds to the disk, at a lower
// cost than one fsync each; returns for each file 0 or the errno value of its
// failure.
std::vector<int> FlushTogether(const std::vector<int> &fds);

// "The file ... was changed by another program while Perrox was working on
// it; it was left as it is."
QString ChangedByAnotherProgramMessage(const QString &path);

} // namespace perrox
