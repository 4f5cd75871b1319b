#include "testsupport.h"

#include "files/filesystem.h"

#include <QCoreApplication>
#include <QProcess>

#include <QDir>
#include <QFile>
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
    shown.append({text, icon, buttons, title});
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

NaiveResult NaiveReplace(const QByteArray &source, const std::vector<QByteArray> &finds, const std::vector<QByteArray> &replaces, qint64 blockSize)
{
    NaiveResult r;
    qint64 maxLen = 0;
    for (const QByteArray &f : finds)
        maxLen = std::max<qint64>(maxLen, f.size());
    if (double(blockSize) / 2.0 < double(maxLen))
        blockSize = std::max(blockSize, 1024 * ((2 * maxLen) / 1024)); // max() only matters for test block sizes below 1024
    r.blockSize = blockSize;

    auto scan = [&](const QByteArray &buffer, qint64 limit, bool fitRule) {
        qint64 pos = 0;
        while (pos < limit) {
            bool matched = false;
            for (size_t i = 0; i < finds.size(); ++i) {
                const QByteArray &f = finds[i];
                if (fitRule && pos + f.size() > buffer.size())
                    continue;
                if (pos + f.size() <= buffer.size() && std::memcmp(buffer.constData() + pos, f.constData(), size_t(f.size())) == 0) {
                    r.output += replaces[i];
                    ++r.count;
                    pos += f.size();
                    matched = true;
                    break;
                }
            }
            if (!matched)
                r.output += buffer.at(pos++);
        }
        return pos;
    };

    QByteArray carry;
    qint64 remaining = source.size();
    qint64 readPos = 0;
    while (remaining >= 1) {
        const qint64 n = remaining <= blockSize ? remaining : blockSize;
        remaining -= n;
        const QByteArray buffer = carry + source.mid(readPos, n);
        readPos += n;
        const qint64 pos = scan(buffer, buffer.size() - maxLen + 1, false);
        carry = buffer.mid(pos);
        r.amounts.append(buffer.size() - carry.size());
    }
    scan(carry, carry.size(), true);
    r.amounts.append(carry.size());
    return r;
}

bool MemoryOutput::open()
{
    ++opens;
    bytes.clear();
    m_error = openError;
    return openError == 0;
}

bool MemoryOutput::write(const char *data, qint64 len)
{
    ++writes;
    if (failAfter >= 0 && bytes.size() + len > failAfter) {
        m_error = writeError;
        return false;
    }
    bytes.append(data, len);
    return true;
}

QString MemoryOutput::errorString() const
{
    return QString::fromLocal8Bit(std::strerror(m_error));
}

QList<qint64> RecordingObserver::amounts(double start) const
{
    QList<qint64> list;
    double previous = start;
    for (double p : positions) {
        list.append(qint64(p - previous));
        previous = p;
    }
    return list;
}

ScriptedHost::ScriptedHost(const QStringList &paths)
    : paths(paths)
{
    for (qsizetype i = 0; i < paths.size(); ++i)
        cells.append(QString());
}

bool ScriptedHost::chooseReplaceAsTarget(ReplaceAsSettings &settings)
{
    log.append(QStringLiteral("save dialog"));
    if (targetChosen && chosenSettings)
        settings = *chosenSettings;
    return targetChosen;
}

void ScriptedHost::beginRun(const QString &caption, double total)
{
    log.append(QStringLiteral("begin %1 %2").arg(caption).arg(qint64(total)));
}

void ScriptedHost::showFile(const QString &status1, const QString &status2)
{
    log.append(QStringLiteral("file %1|%2").arg(status1, status2));
}

namespace {

int runChild(const std::function<int()> &body, bool dropPrivileges)
{
    std::fflush(stdout);
    std::fflush(stderr);
    const pid_t pid = ::fork();
    if (pid < 0)
        return -1;
    if (pid == 0) {
        if (dropPrivileges && ::geteuid() == 0) {
            const gid_t nogroup = 65534;
            if (::setgroups(0, nullptr) != 0 || ::setgid(nogroup) != 0 || ::setuid(65534) != 0)
                ::_exit(97);
        }
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
    QProcess child;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("PERROX_CHILD_CASE"), caseName);
    env.insert(QStringLiteral("PERROX_CHILD_ARGS"), arguments.join(QLatin1Char('\n')));
    child.setProcessEnvironment(env);
    child.setProcessChannelMode(QProcess::ForwardedChannels);
    child.setChildProcessModifier([] {
        if (::geteuid() == 0) {
            const gid_t nogroup = 65534;
            if (::setgroups(0, nullptr) != 0 || ::setgid(nogroup) != 0 || ::setuid(65534) != 0)
                ::_exit(97);
        }
    });
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
    const int rc = RunInChild([&]() -> int {
        ScriptedHost host({path});
        bool committing = false;
        host.onBeforeCommit = [&](int) { committing = true; };
        host.onPump = [&] {
            if (committing)
                ::raise(SIGKILL);
        };
        ReplaceAsSettings settings;
        EngineState state;
        state.ioChunk = chunk;
        const FindReplaceArgument pair {0, QString::fromLatin1(find), 0, QString::fromLatin1(replace)};
        ProcessFiles(RunMode::Replace, {pair}, settings, state, host);
        return 0; // the rewrite ended before the kill: not what was asked for
    });
    return rc == -1;
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
    const struct timespec past[2] = {{1000000000, 0}, {1000000000, 0}};
    return ::utimensat(AT_FDCWD, NativePath(path).constData(), past, AT_SYMLINK_NOFOLLOW) == 0;
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
    QFile f;
    const int fd = ::open(NativePath(path).constData(), O_RDONLY | O_CLOEXEC);
    if (fd < 0 || !f.open(fd, QIODevice::ReadOnly, QFileDevice::AutoCloseHandle)) {
        if (fd >= 0)
            ::close(fd);
        return QByteArray();
    }
    return f.readAll();
}

bool WriteFile(const QString &path, const QByteArray &bytes)
{
    QFile f;
    const int fd = ::open(NativePath(path).constData(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
    if (fd < 0 || !f.open(fd, QIODevice::WriteOnly, QFileDevice::AutoCloseHandle)) {
        if (fd >= 0)
            ::close(fd);
        return false;
    }
    return f.write(bytes) == bytes.size() && f.flush();
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

StateFolderGuard::StateFolderGuard()
    : m_wasSet(qEnvironmentVariableIsSet("XDG_STATE_HOME"))
    , m_old(qgetenv("XDG_STATE_HOME"))
{
    ::chmod(QFile::encodeName(m_dir.path()).constData(), 0777);
    qputenv("XDG_STATE_HOME", QFile::encodeName(m_dir.path()));
}

StateFolderGuard::~StateFolderGuard()
{
    if (m_wasSet)
        qputenv("XDG_STATE_HOME", m_old);
    else
        qunsetenv("XDG_STATE_HOME");
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
