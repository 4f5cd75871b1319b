#pragma once

#include "files/filedescriptor.h"

#include <QByteArray>
#include <QString>

#include <random>

namespace perrox {

// Where the engine writes the replaced content of one file.
class ReplaceOutput
{
public:
    virtual ~ReplaceOutput() = default;

    // Creates the output, empty; the engine calls it at most once, when the
    // first byte is due. On false errorString() says why.
    virtual bool open() = 0;
    // Appends len bytes; on false errorString() says why.
    virtual bool write(const char *data, qint64 len) = 0;
    // Finishes the output (every byte on its way to the disk); on false
    // errorString() says why. Closing twice is harmless.
    virtual bool close() = 0;
    // True when the bytes are not wanted (Count): the engine then skips
    // building the output and never calls open() or write().
    virtual bool discards() const { return false; }
    virtual QString path() const = 0;
    virtual QString errorString() const = 0;
};

// The output of a Count: only the number of occurrences is wanted.
class DiscardedOutput : public ReplaceOutput
{
public:
    bool open() override { return true; }
    bool write(const char *, qint64) override { return true; }
    bool close() override { return true; }
    bool discards() const override { return true; }
    QString path() const override { return {}; }
    QString errorString() const override { return {}; }
};

// A file that this program creates itself, exclusively (O_CREAT | O_EXCL, mode
// 0600) and locked with flock(LOCK_EX) while it is open. It never opens or
// deletes a file it did not create: when the name is taken, it draws another.
// The descriptor stays open after close(), for the step that puts the
// content in place. The destructor deletes the file unless it was released.
class TemporaryFile : public ReplaceOutput
{
public:
    // A temporary "~PX" + 10000..99999 + ".tmp" in the folder open as
    // folderFd (not owned, it must outlive this object), whose path is
    // folderPath; numbers drawn from rng.
    TemporaryFile(int folderFd, const QString &folderPath, std::mt19937 &rng);
    // The same in the folder at folderPath.
    TemporaryFile(const QString &folderPath, std::mt19937 &rng);
    // A temporary file beside a user's file, in a folder others may share:
    // "~PX" + ten random letters or digits + ".tmp", drawn from the system's
    // random source, so that nobody can take the names beforehand.
    struct Unpredictable
    {
    };
    TemporaryFile(int folderFd, const QString &folderPath, Unpredictable);
    TemporaryFile(const QString &folderPath, Unpredictable);
    // Exactly this path, which must not exist yet.
    explicit TemporaryFile(const QString &exactPath);
    ~TemporaryFile() override;
    TemporaryFile(const TemporaryFile &) = delete;
    TemporaryFile &operator=(const TemporaryFile &) = delete;

    bool open() override;
    bool write(const char *data, qint64 len) override;
    // The content is complete: its write-back to the disk is started (not
    // waited for), and the descriptor stays open for fd().
    bool close() override;
    QString path() const override { return m_path; }
    QString errorString() const override;
    // The errno value of the last failure.
    int error() const { return m_error; }

    // The open file (read and write), -1 before open(); the folder that holds
    // it and its name there.
    int fd() const { return m_fd.get(); }
    int folderFd() const;
    QByteArray name() const;

    // True while the file at path() is ours to delete.
    bool owned() const { return m_owned; }
    // The name is somebody else's now (renamed into place, or swapped with
    // the file it replaced): never delete it.
    void release() { m_owned = false; }
    // Deletes the file if we created it and still own it.
    void remove();

    // How many names are tried before giving up on a folder full of clashes.
    static constexpr int kMaxDraws = 1000;

private:
    QString drawName();

    int m_folderFd = -1; // not owned
    FileDescriptor m_ownFolder; // when the folder was given by its path
    QString m_folder;
    std::mt19937 *m_rng = nullptr;
    bool m_unpredictable = false;
    QString m_path;
    FileDescriptor m_fd;
    int m_error = 0;
    bool m_owned = false;
};

// "~PX" + number + ".tmp" in folder: the name of every temporary file here.
QString TemporaryFileName(const QString &folder, int number);

// A folder of its own for one run's temporary files, created inside the
// temporary folder under a fresh random name with mode 0700: nobody else can
// take, plant or read names in it, so files that other users leave in the
// temporary folder cannot stop a run. It is held locked (flock) while the
// run lives. The destructor removes it again when it is empty.
class RunFolder
{
public:
    RunFolder() = default;
    ~RunFolder();
    RunFolder(const RunFolder &) = delete;
    RunFolder &operator=(const RunFolder &) = delete;

    // Creates "perrox-" + six random letters or digits in parent. On false
    // error() holds the errno value and path() the name that failed.
    bool create(const QString &parent);
    int fd() const { return m_fd.get(); }
    QString path() const { return m_path; }
    int error() const { return m_error; }

private:
    FileDescriptor m_parent;
    FileDescriptor m_fd;
    QByteArray m_name;
    QString m_path;
    int m_error = 0;
};

// Removes from parent the run folders that runs of this user left when they
// were killed: a folder named as RunFolder names them, not a link, owned by
// this user with mode 0700, that no living process holds locked; in it only
// the temporary files ("~PX" + five digits + ".tmp", regular files) go, and
// the folder with them when nothing else is in it. Everything else is left
// alone. Returns a message for each removal that failed, empty when none did.
QString RemoveDeadRunFolders(const QString &parent);

} // namespace perrox
