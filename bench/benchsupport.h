#pragma once

// What the benchmarks share: running a command and timing it, picking the
// best of several runs, and printing a ratio against its goal.
#include "files/filesystem.h"

#include <QByteArray>
#include <QString>
#include <QStringList>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

extern char **environ;

namespace bench {

struct Measure
{
    double seconds = 0;
    long maxRssKiB = 0;
};

inline double now()
{
    return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch()).count();
}

// Runs a command with its output and messages thrown away, waits, and returns its wall
// time and peak resident memory. Exit status 0 and 1 count as success.
inline Measure spawn(const QStringList &command)
{
    std::vector<QByteArray> args;
    for (const QString &a : command)
        args.push_back(perrox::NativePath(a));
    std::vector<char *> argv;
    for (QByteArray &a : args)
        argv.push_back(a.data());
    argv.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
    const double start = now();
    pid_t pid;
    if (posix_spawnp(&pid, argv[0], &actions, nullptr, argv.data(), environ) != 0) {
        std::fprintf(stderr, "cannot start %s\n", argv[0]);
        std::exit(1);
    }
    int status = 0;
    struct rusage usage = {};
    wait4(pid, &status, 0, &usage);
    Measure m {now() - start, usage.ru_maxrss};
    posix_spawn_file_actions_destroy(&actions);
    if (!WIFEXITED(status) || (WEXITSTATUS(status) != 0 && WEXITSTATUS(status) != 1)) {
        std::fprintf(stderr, "%s failed: %s\n", argv[0], qPrintable(command.join(QLatin1Char(' '))));
        std::exit(1);
    }
    return m;
}

// A shell command line, for the pipelines of the peers.
inline Measure shell(const QString &line)
{
    return spawn({QStringLiteral("sh"), QStringLiteral("-c"), line});
}

inline QString quoted(const QString &path)
{
    return QLatin1Char('\'') + QString(path).replace(QLatin1String("'"), QLatin1String("'\\''")) + QLatin1Char('\'');
}

inline bool have(const char *program)
{
    return std::system((QByteArray("command -v ") + program + " >/dev/null 2>&1").constData()) == 0;
}

inline void report(const char *what, double value, double goal)
{
    std::printf("  %-58s %6.2f  (goal <= %.2f) %s\n", what, value, goal, value <= goal ? "met" : "MISSED");
}

} // namespace bench
