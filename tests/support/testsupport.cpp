#include "testsupport.h"

#include "commit/rewritejournal.h"
#include "files/filedescriptor.h"
#include "files/filesystem.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QRandomGenerator>

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <grp.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

namespace perrox::test {

MessageSink::Answer RecordingSink::show(const QString &text, Icon icon, Buttons buttons, const QString &title)
{
    if (onShow)
        onShow();
    shown.append({text, icon, buttons, title, {}, false});
    if (buttons == Buttons::Ok)
        return Answer::Ok;
    return answers.isEmpty() ? Answer::No : answers.takeFirst();
}

void RecordingSink::setBusy(bool busy)
{
    busyDepth += busy ? 1 : -1;
    if (busy)
        ++busyOnCount;
}

QStringList RecordingSink::texts() const
{
    QStringList list;
    for (const Shown &s : shown)
        list.append(s.text);
    return list;
}

bool ScriptedHost::chooseReplaceAsTarget(ReplaceAsSettings &settings)
{
    log.append(QStringLiteral("save dialog"));
    if (targetChosen && chosenSettings)
        settings = *chosenSettings;
    return targetChosen;
}

namespace {

// In a child as root: becomes nobody, or ends the child.
void dropToNobody()
{
    if (::geteuid() == 0 && (::setgroups(0, nullptr) != 0 || ::setgid(65534) != 0 || ::setuid(65534) != 0))
        ::_exit(97);
}

int runChild(const std::function<int()> &body, bool dropPrivileges)
{
    std::fflush(stdout);
    std::fflush(stderr);
    const pid_t pid = ::fork();
    if (pid < 0)
        return -1;
    if (pid == 0) {
        if (dropPrivileges)
            dropToNobody();
        const int rc = body();
        std::fflush(stdout);
        std::fflush(stderr);
        ::_exit(rc);
    }
    int status = 0;
    while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) { }
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

} // namespace

int RunUnprivileged(const std::function<int()> &body)
{
    return runChild(body, true);
}

int RunSelfUnprivileged(const QString &caseName, const QStringList &arguments)
{
    // Qt wants a runtime folder that belongs to the user: without one it
    // makes TMPDIR/runtime-nobody and leaves it there.
    QTemporaryDir runtime;
    if (!runtime.isValid() || (::geteuid() == 0 && ::chown(QFile::encodeName(runtime.path()).constData(), 65534, 65534) != 0))
        return -1;
    QProcess child;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("XDG_RUNTIME_DIR"), runtime.path());
    env.insert(QStringLiteral("PERROX_CHILD_CASE"), caseName);
    env.insert(QStringLiteral("PERROX_CHILD_ARGS"), arguments.join(QLatin1Char('\n')));
    child.setProcessEnvironment(env);
    child.setProcessChannelMode(QProcess::ForwardedChannels);
    child.setChildProcessModifier(dropToNobody);
    child.start(QCoreApplication::applicationFilePath(), {});
    if (!child.waitForFinished(120000)) {
        child.kill();
        child.waitForFinished();
        return -1;
    }
    return child.exitStatus() == QProcess::NormalExit ? child.exitCode() : -1;
}

QStringList ChildArguments()
{
    return qEnvironmentVariable("PERROX_CHILD_ARGS").split(QLatin1Char('\n'));
}

int RunInChild(const std::function<int()> &body)
{
    return runChild(body, false);
}

bool InterruptRewriteInPlace(const QString &path, const QByteArray &find, const QByteArray &replace, qint64 chunk)
{
    return RunInChild([&]() -> int {
        ScriptedHost host({path});
        bool committing = false;
        host.onBeforeCommit = [&](int) { committing = true; };
        host.onPump = [&] {
            if (committing)
                ::raise(SIGKILL);
        };
        host.state.ioChunk = chunk;
        host.run(RunMode::Replace, QString::fromLatin1(find), QString::fromLatin1(replace));
        return 0; // the rewrite ended before the kill: not what was asked for
    }) == -1;
}

bool LeaveInterruptedRewrite(const QString &path, const QByteArray &result)
{
    const QString folder = QFileInfo(path).path(), kept = folder + QStringLiteral("/result.bin");
    if (!WriteFile(kept, result))
        return false;
    const FileDescriptor folderFd(::open(NativePath(folder).constData(), O_PATH | O_DIRECTORY | O_CLOEXEC));
    const FileDescriptor in(::open(NativePath(kept).constData(), O_RDONLY | O_CLOEXEC));
    const FileDescriptor old(::open(NativePath(path).constData(), O_RDONLY | O_CLOEXEC));
    struct stat st;
    if (::fstat(old.get(), &st) != 0)
        return false;
    RewriteRecord record; // dies with this scope: the record stays
    return record.begin(st, NativePath(QFileInfo(path).canonicalFilePath()), old.get(), in.get(), folderFd.get(), "result.bin") == 0;
}

bool MakeSocket(const QString &path)
{
    struct sockaddr_un address = {};
    address.sun_family = AF_UNIX;
    const QByteArray native = NativePath(path);
    if (size_t(native.size()) >= sizeof address.sun_path)
        return false;
    std::memcpy(address.sun_path, native.constData(), size_t(native.size()));
    const int sock = ::socket(AF_UNIX, SOCK_STREAM, 0);
    const bool bound = sock >= 0 && ::bind(sock, reinterpret_cast<const sockaddr *>(&address), sizeof address) == 0;
    if (sock >= 0)
        ::close(sock);
    return bound;
}

bool AgeFile(const QString &path)
{
    const struct timespec past[2] = {{981173106, 123456789}, {1000000000, 123456789}}; // accessed 2001-02-03, changed 2001-09-09
    return ::utimensat(AT_FDCWD, NativePath(path).constData(), past, AT_SYMLINK_NOFOLLOW) == 0;
}

struct stat StatOf(const QString &path)
{
    struct stat st = {};
    ::stat(NativePath(path).constData(), &st);
    return st;
}

QByteArray RandomBytes(quint32 seed, qsizetype size, const QByteArray &alphabet)
{
    QRandomGenerator rng(seed);
    QByteArray bytes(size, Qt::Uninitialized);
    for (qsizetype i = 0; i < size; ++i)
        bytes[i] = alphabet.isEmpty() ? char(rng.bounded(256)) : alphabet.at(rng.bounded(int(alphabet.size())));
    return bytes;
}

QByteArray ReadFile(const QString &path)
{
    const FileDescriptor fd(::open(NativePath(path).constData(), O_RDONLY | O_CLOEXEC));
    QByteArray bytes;
    char buffer[65536];
    for (ssize_t n; fd.get() >= 0 && (n = ::read(fd.get(), buffer, sizeof buffer)) > 0;)
        bytes.append(buffer, n);
    return bytes;
}

bool WriteFile(const QString &path, const QByteArray &bytes)
{
    FileDescriptor fd(::open(NativePath(path).constData(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666));
    return fd.get() >= 0 && ::write(fd.get(), bytes.constData(), size_t(bytes.size())) == ssize_t(bytes.size()) && fd.closeChecked() == 0;
}

QString WriteFileIn(const QString &folder, const QString &name, const QByteArray &bytes)
{
    const QString path = folder + QLatin1Char('/') + name;
    WriteFile(path, bytes);
    return path;
}

QStringList TemporaryFilesIn(const QString &folder)
{
    const QDir dir(folder);
    QStringList found = dir.entryList({QStringLiteral("~PX*.tmp")}, QDir::Files | QDir::Hidden | QDir::System);
    for (const QString &run : dir.entryList({QStringLiteral("perrox-*")}, QDir::Dirs | QDir::Hidden | QDir::System)) {
        found.append(run);
        for (const QString &name : QDir(dir.filePath(run)).entryList({QStringLiteral("~PX*.tmp")}, QDir::Files | QDir::Hidden | QDir::System))
            found.append(run + QLatin1Char('/') + name);
    }
    return found;
}

EnvironmentGuard::EnvironmentGuard(const char *name, const std::optional<QByteArray> &value)
    : m_name(name)
    , m_old(qEnvironmentVariableIsSet(name) ? std::optional(qgetenv(name)) : std::nullopt)
{
    set(value);
}

void EnvironmentGuard::set(const std::optional<QByteArray> &value)
{
    if (value)
        qputenv(m_name, *value);
    else
        qunsetenv(m_name);
}

StateFolderGuard::StateFolderGuard()
{
    ::chmod(QFile::encodeName(m_dir.path()).constData(), 0777);
    m_variable.emplace("XDG_STATE_HOME", QFile::encodeName(m_dir.path()));
}

QString StateFolderGuard::recordFolder() const
{
    return m_dir.path() + QLatin1String("/perrox");
}

QStringList StateFolderGuard::records() const
{
    return QDir(recordFolder()).entryList(QDir::Files | QDir::Hidden | QDir::System, QDir::Name);
}

} // namespace perrox::test
