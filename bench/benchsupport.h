#pragma once

// What the benchmarks share: running a command and timing it, picking the
// best of several runs, printing a ratio against its goal, and the plain
// reader that reads every file of a tree once, the limit a tool that reads
// them cannot beat.
#include "files/filesystem.h"

#include <QByteArray>
#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QString>
#include <QStringList>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <sched.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <thread>
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

// The times of one command's runs: the best and the median.
class Samples
{
public:
    void add(double seconds) { m_seconds.push_back(seconds); }
    double best() const { return m_seconds.empty() ? 0 : *std::min_element(m_seconds.begin(), m_seconds.end()); }
    double median() const
    {
        if (m_seconds.empty())
            return 0;
        std::vector<double> sorted = m_seconds;
        std::sort(sorted.begin(), sorted.end());
        return sorted[sorted.size() / 2];
    }

private:
    std::vector<double> m_seconds;
};

// The processors this process may run on: the threads ripgrep and
// perrox-batch start when told none.
inline int processors()
{
    cpu_set_t set;
    CPU_ZERO(&set);
    if (sched_getaffinity(0, sizeof set, &set) == 0)
        return std::max(1, CPU_COUNT(&set));
    return std::max(1, int(std::thread::hardware_concurrency()));
}

// Every regular file below root, in the file system's encoding, sorted.
inline std::vector<QByteArray> listFiles(const QString &root)
{
    std::vector<QByteArray> paths;
    for (QDirIterator it(root, QDir::Files | QDir::Hidden | QDir::System, QDirIterator::Subdirectories); it.hasNext();)
        paths.push_back(perrox::NativePath(it.next()));
    std::sort(paths.begin(), paths.end());
    return paths;
}

// Reads every file once, on threads threads that take the next path from
// the shared list: open, read into a 256 KiB buffer until the end, close.
// Returns the bytes read.
inline qint64 readFiles(const std::vector<QByteArray> &paths, int threads)
{
    std::atomic<size_t> next {0};
    std::atomic<qint64> total {0};
    const auto work = [&] {
        std::vector<char> buffer(size_t(256) << 10);
        qint64 bytes = 0;
        for (size_t i = next++; i < paths.size(); i = next++) {
            const int fd = ::open(paths[i].constData(), O_RDONLY | O_CLOEXEC);
            if (fd < 0)
                continue;
            for (ssize_t n; (n = ::read(fd, buffer.data(), buffer.size())) > 0;)
                bytes += n;
            ::close(fd);
        }
        total += bytes;
    };
    std::vector<std::thread> others;
    for (int t = 1; t < threads; ++t)
        others.emplace_back(work);
    work();
    for (std::thread &t : others)
        t.join();
    return total;
}

// The wall time of one readFiles.
inline double timeReader(const std::vector<QByteArray> &paths, int threads)
{
    const double start = now();
    readFiles(paths, threads);
    return now() - start;
}

// The peak resident set of one run of a command, in KiB. The peak wait4
// gives for a child of this process is at least this process's own size
// when it forked (Linux keeps the peak across exec), so the command runs
// below GNU time, a small process that forks it and reports its peak;
// without GNU time, that bound is all there is. tmpFolder: where time writes.
inline long peakKiB(const QStringList &command, const QString &tmpFolder)
{
    static const QString time = QStringLiteral("/usr/bin/time");
    if (!QFile::exists(time))
        return spawn(command).maxRssKiB;
    const QString out = tmpFolder + QStringLiteral("/peak.txt");
    spawn(QStringList {time, QStringLiteral("-f"), QStringLiteral("%M"), QStringLiteral("-o"), out} + command);
    QFile f(out);
    if (!f.open(QIODevice::ReadOnly))
        return -1;
    // A command that exits with a status other than 0 makes time write that first.
    const QList<QByteArray> lines = f.readAll().trimmed().split('\n');
    f.remove();
    return lines.last().trimmed().toLong();
}

inline double mebibytes(long kibibytes)
{
    return double(kibibytes) / 1024.0;
}

// A fast, fixed sequence of pseudo-random numbers (xorshift64), so that every
// run generates the same data.
class XorShift
{
public:
    explicit XorShift(quint64 seed)
        : m_state(seed)
    { }
    quint64 operator()()
    {
        m_state ^= m_state << 13;
        m_state ^= m_state >> 7;
        m_state ^= m_state << 17;
        return m_state;
    }

private:
    quint64 m_state;
};

// About 9,600 header-like files in 1,700 folders, a quarter of them holding
// the find word a few times: the shape of /usr/include.
inline void generateTree(const QString &root)
{
    XorShift next(0x2545F4914F6CDD1DULL);
    static const char *words[] = {"int", "struct", "const", "return", "static", "inline", "typedef", "unsigned", "char", "void", "define", "include"};
    int files = 0;
    for (int folder = 0; folder < 1700; ++folder) {
        const QString dir = root + QStringLiteral("/d%1/s%2").arg(folder % 40).arg(folder);
        QDir().mkpath(dir);
        const int inFolder = folder < 1600 ? 5 + int(next() % 2) : 6;
        for (int f = 0; f < inFolder && files < 9600; ++f, ++files) {
            QByteArray text;
            const int size = 600 + int(next() % 24000);
            const bool holds = next() % 4 == 0;
            while (text.size() < size) {
                if (holds && next() % 200 == 0)
                    text += "namespace ";
                text += words[next() % 12];
                text += next() % 8 == 0 ? ";\n" : " ";
            }
            QFile out(dir + QStringLiteral("/h%1.h").arg(f));
            out.open(QIODevice::WriteOnly);
            out.write(text);
        }
    }
}

} // namespace bench
