#include "scenario.h"

#include "files/filesystem.h"

#include <QDir>
#include <QElapsedTimer>
#include <QRegularExpression>
#include <QTest>

#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <filesystem>
#include <grp.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

extern char **environ;

using namespace Qt::StringLiterals;

namespace perrox::test {

namespace {

// Records a failure and goes on, where QVERIFY cannot return.
bool verify(bool ok, const QByteArray &what, int line)
{
    return QTest::qVerify(ok, "layout entry", what.constData(), __FILE__, line);
}

// Makes a folder and those it is in; QDir cannot where a name is no UTF-8.
bool makeFolder(const QString &path)
{
    std::error_code error;
    std::filesystem::create_directories(NativePath(path).toStdString(), error);
    return !error;
}

QByteArray linkTarget(const QByteArray &native)
{
    char target[4096] = {};
    return ::readlink(native.constData(), target, sizeof target - 1) > 0 ? QByteArray(target) : QByteArray();
}

} // namespace

QByteArray Content(const QByteArray &text)
{
    static const QRegularExpression repeated(u"^(.)\\*(\\d+)$"_s);
    const QRegularExpressionMatch m = repeated.match(QString::fromLatin1(text));
    return m.hasMatch() ? QByteArray(m.captured(2).toInt(), text.at(0)) : text;
}

FindReplaceArguments Pairs(const QByteArray &joined)
{
    FindReplaceArguments list;
    const auto side = [](const QString &text, Notation &notation) {
        notation = text.startsWith(u"D:"_s) ? Notation::Decimal : text.startsWith(u"H:"_s) ? Notation::Hexadecimal : Notation::Characters;
        return notation == Notation::Characters ? text : text.mid(2);
    };
    for (const QString &pair : QString::fromUtf8(joined).split(u" | "_s, Qt::SkipEmptyParts)) {
        FindReplaceArgument a;
        a.findText = side(pair.section(u'>', 0, 0), a.findNotation);
        a.replaceText = side(pair.section(u'>', 1), a.replaceNotation);
        list.append(a);
    }
    return list;
}

Scene::Scene()
    : m_tempVariable("TEMP", NativePath(m_temp.path()))
{
    roots.insert("TEMP", m_temp.path());
}

Scene::~Scene()
{
    for (QProcess &program : programs) {
        program.kill();
        program.waitForFinished();
    }
    std::error_code error; // QTemporaryDir cannot remove what has a name that is no UTF-8
    std::filesystem::remove_all(NativePath(path()).toStdString(), error);
}

QString Scene::at(const QByteArray &name) const
{
    for (auto root = roots.begin(); root != roots.end(); ++root)
        if (name == root.key() || name.startsWith(root.key() + '/'))
            return root.value() + DecodeNativePath(name.mid(root.key().size()));
    return name.startsWith('/') ? DecodeNativePath(name) : path() + u'/' + DecodeNativePath(name);
}

namespace {

struct Entry
{
    bool listed;
    QByteArray name, how, what;
};

Entry parse(const QByteArray &entry)
{
    static const QRegularExpression form(u"^(\\+?)(.+?)(->|/$|=|&|:|<|@|%|#|!$|$)(.*)$"_s, QRegularExpression::DotMatchesEverythingOption);
    const QRegularExpressionMatch m = form.match(QString::fromLatin1(entry));
    return {m.captured(1).isEmpty(), m.captured(2).toLatin1(), m.captured(3).toLatin1(), m.captured(4).toLatin1()};
}

} // namespace

QStringList Scene::make(const QByteArray &layout, bool setUp)
{
    QStringList rows;
    for (const QByteArray &item : layout.split('|')) {
        if (item.isEmpty())
            continue;
        const auto [listed, name, how, what] = parse(item);
        const QString path = at(name);
        const QByteArray native = NativePath(path);
        struct stat st = {};
        bool ok = makeFolder(QFileInfo(path).path());
        if (how == "=") {
            ok = ok && WriteFile(path, Content(what)) && AgeFile(path);
            if (setUp && ::stat(native.constData(), &st) == 0)
                made.insert(path, {st.st_ino, Content(what)});
        } else if (how == "/") {
            ok = makeFolder(path);
        } else if (how == "->") {
            ok = ::symlink(what.constData(), native.constData()) == 0;
        } else if (how == "&" || how == "<") {
            ok = (how == "&" ? ::link : ::rename)(NativePath(at(what)).constData(), native.constData()) == 0;
        } else if (how == "@") {
            ScriptedHost other({path});
            ok = other.run(RunMode::Replace, Pairs(what)).end == RunResult::End::Completed && other.sink.shown.isEmpty();
        } else if (how == "%") {
            const QString text = QString::fromLatin1(ReadFile(path)), edit = QString::fromLatin1(what);
            const QRegularExpression find(edit.section(u'%', 0, 0), QRegularExpression::MultilineOption);
            const QString edited = QString(text).replace(find, edit.section(u'%', 1));
            ok = edited != text && WriteFile(path, edited.toLatin1());
        } else if (how == "!") {
            ok = ::unlink(native.constData()) == 0 || errno == ENOENT;
        } else if (what == "pipe" || what == "socket" || what == "nobody") {
            ok = what == "pipe"    ? ::mkfifo(native.constData(), 0600) == 0
                : what == "socket" ? MakeSocket(path)
                                   : ::lchown(native.constData(), 65534, 65534) == 0;
        } else if (what == "program") { // one size everywhere
            ok = QFile::copy(u"/bin/sleep"_s, path) && QFile::resize(path, 100000) && ::chmod(native.constData(), 0700) == 0;
            programs.emplace_back().start(path, {u"30"_s});
            ok = ok && programs.back().waitForStarted();
            ::stat(native.constData(), &st);
            made.insert(path, {st.st_ino, ReadFile(path)});
        } else if (how == ":") {
            ok = ::chmod(native.constData(), mode_t(what.toUInt(nullptr, 8))) == 0;
        }
        verify(ok, item, __LINE__);
        if (setUp && listed)
            rows.append(path);
    }
    return rows;
}

void Scene::check(const QByteArray &layout) const
{
    for (const QByteArray &item : layout.split('|')) {
        if (item.isEmpty())
            continue;
        const auto [listed, name, how, what] = parse(item);
        const QString path = at(name);
        struct stat st = {};
        const bool there = ::lstat(NativePath(path).constData(), &st) == 0;
        if (how == "!") {
            verify(!there, item, __LINE__);
        } else if (how == "/") {
            verify(S_ISDIR(st.st_mode), item, __LINE__);
        } else if (how == "->") {
            verify(S_ISLNK(st.st_mode), item, __LINE__);
            verify(linkTarget(NativePath(path)) == what, item, __LINE__);
        } else if (how == ":") {
            const bool nobody = what == "nobody", pipe = what == "pipe";
            verify(nobody ? st.st_uid == 65534 : pipe ? S_ISFIFO(st.st_mode) : (st.st_mode & 07777) == what.toUInt(nullptr, 8), item, __LINE__);
        } else if (how == "#") {
            verify(QDir(path).entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::System).size() == what.toInt(), item, __LINE__);
        } else if (how == "&") { // the very file that was made
            verify(st.st_ino == made.value(path).first, item, __LINE__);
        } else {
            verify(S_ISREG(st.st_mode), item, __LINE__);
            QTest::qCompare(ReadFile(path), Content(what), item.constData(), "expected", __FILE__, __LINE__);
            // What had no reason to change is the very file it was.
            verify(made.value(path).second != Content(what) || st.st_ino == made.value(path).first, item + " (not the file made)", __LINE__);
        }
    }
}

QString Scene::relative(QString text) const
{
    static const QRegularExpression temporaryName(u"(perrox-|~PX)[^/ ]+"_s);
    return text.replace(path() + u'/', QString()).replace(temp(), u"TEMP"_s).replace(temporaryName, u"\\1*"_s);
}

QMap<QByteArray, QByteArray> Scene::entries(bool status) const
{
    namespace fs = std::filesystem;
    QMap<QByteArray, QByteArray> list;
    const fs::path base(NativePath(path()).toStdString());
    for (const fs::directory_entry &e : fs::recursive_directory_iterator(base)) {
        struct stat st = {};
        ::lstat(e.path().c_str(), &st);
        QByteArray &value = list[QByteArray::fromStdString(e.path().lexically_relative(base).native())];
        if (S_ISREG(st.st_mode)) {
            if (status)
                value = u"[%1 %2 %3 %4.%5 %6] "_s.arg(uint(st.st_mode & 07777), 4, 8, QChar(u'0'))
                            .arg(st.st_uid)
                            .arg(st.st_gid)
                            .arg(st.st_mtim.tv_sec)
                            .arg(st.st_mtim.tv_nsec, 9, 10, QChar(u'0'))
                            .arg(st.st_nlink)
                            .toLatin1();
            value += ReadFile(DecodeNativePath(QByteArray(e.path().c_str())));
        } else {
            value = S_ISLNK(st.st_mode) ? "-> " + linkTarget(e.path().c_str()) : QByteArray(S_ISDIR(st.st_mode) ? "<folder>" : "<other>");
        }
    }
    return list;
}

std::pair<RunResult, QStringList> Scene::run(ScriptedHost &host, RunMode mode, const QByteArray &pairs, const Script &script)
{
    host.cells.fill(u"."_s);
    const QByteArrayList target = script.target.split(' ');
    host.targetChosen = !script.target.isEmpty();
    host.chosenSettings = ReplaceAsSettings {
        at(target.at(0)), DecodeNativePath(target.value(1)), DecodeNativePath(target.value(2)), qint16(script.overwrite), target.value(3) == "keep"};
    for (char answer : script.answers)
        host.sink.answers.append(answer == 'y' ? MessageSink::Answer::Yes : MessageSink::Answer::No);
    bool past = false;
    const double cancelPast = script.cancel.toDouble(&past);
    // A result is on the disk before it takes its file's place (its row is flushed), in row order.
    QList<int> flushed, placed;
    host.cancelWhen = [&] {
        if (script.cancel == "flushed" || script.cancel == "placing")
            return !(script.cancel == "flushed" ? flushed : placed).isEmpty();
        if (past)
            return !host.positions.isEmpty() && host.positions.last() > cancelPast;
        return !script.cancel.isEmpty() && !host.log.isEmpty() && host.log.last().contains(QString::fromUtf8(script.cancel));
    };
    host.sink.onShow = [&] { host.log.append(u"[%1]"_s.arg(cells(host))); };
    QByteArray meddle = script.meddle;
    const bool atBegin = meddle.startsWith("begin:");
    host.onResultsFlushed = [&](const std::vector<int> &rows) { flushed.append(QList<int>(rows.begin(), rows.end())); };
    host.onBeforeCommit = [&](int row) {
        verify(flushed.contains(row), "a result put in place before it is flushed", __LINE__);
        verify(placed.isEmpty() || placed.last() < row, "results put in place out of row order", __LINE__);
        placed.append(row);
        if (!atBegin)
            make(std::exchange(meddle, {}), false);
    };
    tempSeen = false;
    host.onPump = [&] {
        tempSeen = tempSeen || !TemporaryFilesIn(temp()).isEmpty();
        if (atBegin && !host.log.isEmpty() && host.log.last().startsWith(u"begin"_s))
            make(std::exchange(meddle, {}).mid(6), false);
    };
    const mode_t umask = ::umask(027);
    ::alarm(30); // a run that blocks ends the test
    const RunResult result = host.run(mode, Pairs(pairs));
    ::alarm(0);
    ::umask(umask);
    host.cancelWhen = {};
    host.sink.onShow = {};
    host.onBeforeCommit = [](int) {};
    host.onResultsFlushed = [](const std::vector<int> &) {};
    host.onPump = [] {};
    QStringList log;
    qsizetype shown = 0;
    for (const QString &line : std::as_const(host.log)) {
        if (line.startsWith(u'[')) {
            const RecordingSink::Shown &s = host.sink.shown.at(shown++);
            log.append(relative(u"%1 %2 %3"_s.arg(line, s.buttons == MessageSink::Buttons::Ok ? u"!"_s : u"?"_s, s.text)));
        } else {
            log.append(relative(line == u"end"_s ? u"end %1"_s.arg(host.positions.isEmpty() ? 0.0 : host.positions.last()) : line));
        }
    }
    return {result, log};
}

QString Scene::cells(const ScriptedHost &host) const
{
    QStringList list;
    for (qsizetype row = 0; row < host.paths.size(); ++row) {
        const QString &path = host.paths.at(row), cell = host.cells.at(row).trimmed();
        const bool changed = made.contains(path) && QFileInfo(path).isFile() && ReadFile(path) != made.value(path).second;
        const bool program = std::any_of(programs.begin(), programs.end(), [&](const QProcess &p) { return p.program() == path; });
        list.append((program && cell != u"."_s ? u"#"_s : cell) + (changed ? u"*"_s : QString()));
    }
    return list.join(u' ');
}

pid_t Scene::start(const QByteArrayList &arguments, const BatchOptions &options)
{
    static int started = 0;
    const QByteArray folder = NativePath(path()), out = NativePath(temp() + u"/batch%1.out"_s.arg(++started)),
                     err = NativePath(temp() + u"/batch%1.err"_s.arg(started));
    std::vector<char *> argv {batchProgram.data()};
    QByteArrayList copies = arguments;
    for (QByteArray &a : copies)
        argv.push_back(a.data());
    argv.push_back(nullptr);
    // The user nobody gets a state folder of its own: the test's is root's, which Perrox refuses to use.
    QByteArrayList environment;
    for (char **e = environ; *e; ++e) {
        const QByteArray variable(*e);
        const bool dropped = std::any_of(options.unset.begin(), options.unset.end(), [&](const QByteArray &name) { return variable.startsWith(name + '='); });
        if (!dropped && (!options.unprivileged || !variable.startsWith("XDG_STATE_HOME=")))
            environment.append(variable);
    }
    if (options.unprivileged && !options.unset.contains("XDG_STATE_HOME")) {
        const QString state = temp() + u"/nobody-state"_s;
        QDir().mkpath(state);
        if (::chown(NativePath(state).constData(), 65534, 65534) != 0 || ::chmod(NativePath(state).constData(), 0700) != 0)
            return -1;
        environment.append("XDG_STATE_HOME=" + NativePath(state));
    }
    std::vector<char *> envp;
    for (QByteArray &e : environment)
        envp.push_back(e.data());
    envp.push_back(nullptr);
    const pid_t pid = ::fork();
    if (pid == 0) { // only async-signal-safe calls until exec
        const int in = ::open("/dev/null", O_RDONLY | O_CLOEXEC), o = ::open(out.constData(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600),
                  e = ::open(err.constData(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
        const struct rlimit limit = {options.limit, options.limit};
        if (in < 0 || o < 0 || e < 0 || ::dup2(in, 0) < 0 || ::dup2(o, 1) < 0 || ::dup2(e, 2) < 0
            || (options.unprivileged && ::geteuid() == 0 && (::setgroups(0, nullptr) != 0 || ::setgid(65534) != 0 || ::setuid(65534) != 0))
            || ::chdir(folder.constData()) != 0 || (options.resource >= 0 && ::setrlimit(options.resource, &limit) != 0))
            ::_exit(126);
        ::execve(argv[0], argv.data(), envp.data());
        ::_exit(127);
    }
    m_outputs.insert(pid, started);
    return pid;
}

Batch Scene::finish(pid_t pid)
{
    int status = 0;
    QElapsedTimer timer;
    timer.start();
    while (pid > 0 && ::waitpid(pid, &status, WNOHANG) == 0) {
        if (timer.elapsed() > 60000)
            ::kill(pid, SIGKILL);
        ::usleep(2000);
    }
    const QString output = temp() + u"/batch%1."_s.arg(m_outputs.take(pid));
    // Not what perrox-batch says: what the runtime of a coverage build says when it may not write its counts (as nobody).
    static const QRegularExpression profiling(u"^profiling:.*\n"_s, QRegularExpression::MultilineOption);
    const QByteArray out = ReadFile(output + u"out"_s), err = QString::fromLatin1(ReadFile(output + u"err"_s)).remove(profiling).toLatin1();
    QFile::remove(output + u"out"_s);
    QFile::remove(output + u"err"_s);
    return {pid > 0 && WIFEXITED(status) ? WEXITSTATUS(status) : -1, out, err};
}

} // namespace perrox::test
