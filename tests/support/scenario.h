#pragma once

#include "testsupport.h"

#include <QHash>
#include <QMap>
#include <QProcess>

#include <list>
#include <sys/resource.h>
#include <sys/types.h>
#include <tuple>

namespace perrox::test {

// "c*N": N times the byte c; else the bytes themselves.
QByteArray Content(const QByteArray &text);
// "find>replace" pairs joined by " | "; a side starting "D:" or "H:" is decimal or hexadecimal.
FindReplaceArguments Pairs(const QByteArray &joined);

// What perrox-batch gave: exit code, stdout, stderr.
using Batch = std::tuple<int, QByteArray, QByteArray>;

// How a run of a table row goes.
struct Script
{
    QByteArray target = "out"; // the Save As dialog's choice, "folder [prefix suffix [keep]]" (keep: the folders kept); "" cancelled
    bool overwrite = false;
    QByteArray answers = {}; // 'y' and 'n' to the questions, No when they run out
    // From the position past this number on, from the log line holding this text on, or from the first flush
    // ("flushed") or the first result's turn ("placing") on.
    QByteArray cancel = {};
    QByteArray meddle = {}; // a layout made before the first result is put in place, or "begin:..." right after the total
};

// How perrox-batch is started: as the user nobody, under a limit (setrlimit), without some variables.
struct BatchOptions
{
    bool unprivileged = false;
    int resource = -1;
    rlim_t limit = 0;
    QByteArrayList unset = {};
};

// A test's own folder, with a TEMP and a state folder of its own for the scope: the files a layout describes, runs of
// the core over them and perrox-batch started in it.
//
// A layout is entries joined by '|', in bytes (names need not be UTF-8): a name relative to the folder, absolute, or
// below a root ("TEMP/x"; a test may add roots). "name=text" a file (see Content()) with a time long past, "name/" a
// folder, "name->target" a symbolic link, "name&other" a hard link, "name<other" other renamed to name, "name:pipe",
// "name:socket", "name:program" a running copy of sleep, "name:0640" a mode, "name:nobody" the owner (of a link, the
// link), "name@find>replace" another Replace run, "name%regex%text" an edit of the file, "name!" nothing there; a bare
// name is only listed. Entries starting with '+' are not listed. check() takes the same text for what must stand, with
// "name&" the very file made and "name#3" a folder of 3 entries, hidden ones left out; a file that holds what the
// set-up made must be the very file made.
class Scene
{
public:
    Scene();
    ~Scene();
    QString path() const { return m_dir.path(); }
    QString temp() const { return m_temp.path(); }
    QString at(const QByteArray &name) const;
    // Makes the entries and returns the paths listed; a set-up also remembers each file it made.
    QStringList make(const QByteArray &layout, bool setUp = true);
    void check(const QByteArray &layout) const;
    // The folder left out of paths, TEMP as "TEMP", the names of temporary files as "perrox-*" and "~PX*".
    QString relative(QString text) const;
    // Every entry below the folder by name: a file's bytes, "-> target", "<folder>" or "<other>"; with status, a
    // file's mode, owner, modification time and links first, as "[0644 0 0 1000000000.123456789 1] ".
    QMap<QByteArray, QByteArray> entries(bool status = false) const;

    // Runs mode with the pairs over the host's rows as the script says, with the umask 027, and checks that each result
    // is flushed before it is put in place, in row order. Returns the result and the host's log as tables write it:
    // each message as "[cells] ! text" (a question "?"), "end" with the last position, paths relative.
    std::pair<RunResult, QStringList> run(ScriptedHost &host, RunMode mode, const QByteArray &pairs, const Script &script = {});
    // The host's cells as they stand: "." never written, "#" a running program's, '*' where the file is no longer what was made.
    QString cells(const ScriptedHost &host) const;
    bool tempSeen = false; // a temporary file stood in TEMP during the last run()

    // perrox-batch in the folder, each argument exactly these bytes; finish() waits a minute at most.
    pid_t start(const QByteArrayList &arguments, const BatchOptions &options = {});
    Batch finish(pid_t pid);
    Batch batch(const QByteArrayList &arguments, const BatchOptions &options = {}) { return finish(start(arguments, options)); }

    QMap<QByteArray, QString> roots;
    QHash<QString, std::pair<ino_t, QByteArray>> made; // the files a set-up made
    std::list<QProcess> programs;
    QByteArray batchProgram;

private:
    QTemporaryDir m_dir, m_temp;
    EnvironmentGuard m_tempVariable;
    QHash<pid_t, int> m_outputs; // the number of each perrox-batch's output files

public:
    StateFolderGuard state;
};

} // namespace perrox::test
