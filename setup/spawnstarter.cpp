#include "spawnstarter.h"

#include <QByteArray>
#include <QFile>

#include <cerrno>
#include <spawn.h>
#include <sys/wait.h>
#include <vector>

extern char **environ;

namespace setup {

namespace {

int Spawn(const QString &program, const QStringList &arguments, pid_t *pid)
{
    if (program.isEmpty())
        return ENOENT;
    std::vector<QByteArray> words;
    words.push_back(QFile::encodeName(program));
    for (const QString &argument : arguments)
        words.push_back(QFile::encodeName(argument));
    std::vector<char *> argv;
    for (QByteArray &word : words)
        argv.push_back(word.data());
    argv.push_back(nullptr);
    return ::posix_spawnp(pid, argv.front(), nullptr, nullptr, argv.data(), environ);
}

} // namespace

int SpawnStarter::runAndWait(const QString &program, const QStringList &arguments)
{
    pid_t pid = 0;
    const int error = Spawn(program, arguments, &pid);
    if (error != 0)
        return error;
    int status = 0;
    while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) { }
    return 0;
}

int SpawnStarter::start(const QString &program)
{
    // Setup ends soon after; the program then belongs to init, which reaps it.
    pid_t pid = 0;
    return Spawn(program, {}, &pid);
}

} // namespace setup
