#pragma once

#include <QString>

#include <random>

namespace perrox {

// Where the engine writes the replaced content of one file.
class ReplaceOutput
{
public:
    virtual ~ReplaceOutput() = default;

    // Creates the output, empty. On false errorString() says why.
    virtual bool open() = 0;
    // Appends len bytes; on false errorString() says why.
    virtual bool write(const char *data, qint64 len) = 0;
    // Finishes the output (every byte on its way to the disk); on false
    // errorString() says why. Closing twice is harmless.
    virtual bool close() = 0;
    // True when the bytes are not wanted (Count): the engine then skips
    // building the output and never calls write().
    virtual bool discards() const { return false; }
    virtual QString path() const = 0;
    virtual QString errorString() const = 0;
};

// A file that this program creates itself, exclusively (O_CREAT | O_EXCL, mode
// 0600) and locked with flock(LOCK_EX) while it is open. It never opens or
// deletes a file it did not create: when the name is taken, it draws another.
// The destructor deletes the file unless it was released.
class TemporaryFile : public ReplaceOutput
{
public:
    // A temporary "~PX" + 10000..99999 + ".tmp" in folder, numbers drawn from rng.
    TemporaryFile(const QString &folder, std::mt19937 &rng);
    // Exactly this path, which must not exist yet.
    explicit TemporaryFile(const QString &exactPath);
    ~TemporaryFile() override;
    TemporaryFile(const TemporaryFile &) = delete;
    TemporaryFile &operator=(const TemporaryFile &) = delete;

    bool open() override;
    bool write(const char *data, qint64 len) override;
    bool close() override;
    bool discards() const override { return m_discard; }
    QString path() const override { return m_path; }
    QString errorString() const override;
    // The errno value of the last failure.
    int error() const { return m_error; }

    // Count needs only the counts: the file is still created (so the messages
    // of a run do not change), but nothing is written into it.
    void setDiscard(bool discard) { m_discard = discard; }

    // True while the file at path() is ours to delete.
    bool owned() const { return m_owned; }
    // The file is somebody else's now (renamed into place): never delete it.
    void release() { m_owned = false; }
    // Deletes the file if we created it and still own it.
    void remove();

    // How many names are tried before giving up on a folder full of clashes.
    static constexpr int kMaxDraws = 1000;

private:
    QString drawName();

    QString m_folder;
    std::mt19937 *m_rng = nullptr;
    QString m_path;
    int m_fd = -1;
    int m_error = 0;
    bool m_owned = false;
    bool m_discard = false;
};

// "~PX" + number + ".tmp" in folder: the name of every temporary file here.
QString TemporaryFileName(const QString &folder, int number);

} // namespace perrox
