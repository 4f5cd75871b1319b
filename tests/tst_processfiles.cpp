#include "arguments/notation.h"
#include "commit/rewritejournal.h"
#include "commit/safereplace.h"
#include "engine/processfiles.h"
#include "engine/runreport.h"
#include "files/filenames.h"
#include "files/filesystem.h"
#include "support/testsupport.h"

#include <QDir>
#include <QDirIterator>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>

#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <list>
#include <numeric>
#include <sys/file.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

using namespace perrox;
using namespace perrox::test;
using namespace Qt::StringLiterals;
using End = perrox::RunResult::End;

namespace {

struct stat statOf(const QString &path)
{
    struct stat st = {};
    ::stat(NativePath(path).constData(), &st);
    return st;
}

bool setMode(const QString &path, mode_t mode)
{
    return ::chmod(NativePath(path).constData(), mode) == 0;
}

bool hardLink(const QString &from, const QString &to)
{
    return ::link(NativePath(from).constData(), NativePath(to).constData()) == 0;
}

// "c*N": N times c; else the text itself.
QByteArray content(const QString &text)
{
    static const QRegularExpression repeated(u"^(.)\\*(\\d+)$"_s);
    const QRegularExpressionMatch m = repeated.match(text);
    return m.hasMatch() ? QByteArray(m.captured(2).toInt(), char(m.captured(1).at(0).unicode())) : text.toUtf8();
}

// "find>replace" pairs joined by " | "; a side starting "D:" or "H:" is decimal or hexadecimal.
FindReplaceArguments pairs(const char *joined)
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

// A command over files made from a text of entries joined by '|' (names in the test's folder, "TEMP/..." in TEMP):
// "name=text" a file (see content()), "name/" a folder, "name->target" a symbolic link, "name&other" a hard link,
// "name:pipe", "name:socket", "name:program" a running copy of sleep, "name:0640" a mode, "name<other" other renamed to
// name, "name@find>replace" another Replace run, "name!" nothing there; a bare name or absolute path is only listed.
// Entries starting with '+' are not on the file list. The result uses the same text, with "name&" the very file made,
// "name:pipe" a pipe and "name#3" a folder of 3 entries.
struct Case
{
    const char *name;
    const char *files;
    // 'c' Count, 'r' Replace, 'l' Replace of a first file with a hard link, 'a' Replace As, 'C' and 'R' as the user nobody in
    // a child, 'F' Replace in a child that cannot write files past 100000 bytes: runs once for each.
    const char *modes;
    const char *pairs;
    End end;
    int failed;
    const char *cells; // "." a cell never written, "#" a running program's, '*' where the file differs from what was made
    // The host's log joined by '\n', the last position after "end"; each message as "[cells] ! text", a question with '?';
    // the test's folder left out of paths, TEMP as "TEMP" and the names of temporary files as "perrox-*" and "~PX*".
    const char *log;
    const char *result;
    const char *target = "out"; // the Save As dialog's choice: "folder[!] [prefix suffix]", '!' to overwrite; "" cancelled
    const char *answers = ""; // 'y' and 'n' to the questions, No when they run out
    const char *cancel = ""; // from the position past this number on, or from the log line holding this text on
    const char *meddle = ""; // entries made before the first result is put in place, or "begin:..." right after the total
};

constexpr const char *kChanged = "begin Replacing... 18\nfile s/data|\nfile next|\n[2* .] ! The file s/data was changed by another "
                                 "program while Perrox was working on it; it was left as it is.\nend 18";

const Case kCases[] = {
    {"no rows", "", "r", "", End::NothingToDo, 0, "", "", ""},
    {"no arguments", "a.txt=a , ; b", "cra", "", End::ArgumentError, 0, ".",
        "[.] ! Cannot find any Find&Replace arguments.\r\n\r\nEnter Find&Replace arguments and try again.", "a.txt=a , ; b"},
    {"invalid find", "a.txt=a", "cra", "D:1 300>", End::ArgumentError, 0, ".",
        "[.] ! An invalid value found in the decimal '1 300' argument.\r\n\r\nValid decimal values are between '0' and '255'.", "a.txt=a"},
    {"find of separators only", "a.txt=a", "cra", "D: , >x", End::ArgumentError, 0, ".",
        "[.] ! Cannot find a valid value in the following 'Find what' field: \r\n , \r\n\r\nCorrect the find argument and try again.", "a.txt=a"},
    {"invalid replace", "a.txt=a", "cra", "a>H:GG", End::ArgumentError, 0, ".",
        "[.] ! An invalid value found in the hexadecimal 'GG' argument.\r\n\r\nValid hexadecimal values are between '00' and 'FF'.", "a.txt=a"},
    {"replace of separators only", "a.txt=a", "cra", "a>H:;", End::ArgumentError, 0, ".",
        "[.] ! Cannot find a valid value in the following 'Replace with' field.\r\n;\r\n\r\nCorrect the replace argument and try again.", "a.txt=a"},
    {"the first failing pair ends the check", "a.txt=a", "cra", "a>b | D:999> | H:G>", End::ArgumentError, 0, ".",
        "[.] ! An invalid value found in the decimal '999' argument.\r\n\r\nValid decimal values are between '0' and '255'.", "a.txt=a"},
    {"count three files", "1.txt=aaa|2.txt=b|3.txt=a*20000", "c", "H:61>x", End::Completed, 0, "3 0 20000",
        "begin Counting... 20004\nfile 1.txt|\nfile 2.txt|\nfile 3.txt|\nend 20004", "1.txt=aaa|3.txt=a*20000"},
    {"only files with occurrences are rewritten", "with.txt=line\r\nline\r\n|without.txt=nothing here", "r", "D:13 10>", End::Completed, 0, "2* 0",
        "begin Replacing... 24\nfile with.txt|\nfile without.txt|\nend 24", "with.txt=lineline|without.txt=nothing here"},
    {"the same path twice", "a.txt=a|a.txt", "r", "a>aa", End::Completed, 0, "1* 2*", "begin Replacing... 2\nfile a.txt|\nfile a.txt|\nend 3", "a.txt=aaaa"},
    {"the same file by a relative symbolic link, which stays a link", "a.txt=a|link->a.txt", "r", "a>aa", End::Completed, 0, "1* 2",
        "begin Replacing... 2\nfile a.txt|\nfile link|\nend 3", "a.txt=aaaa|link->a.txt"},
    {"the same file by a hard link", "a.txt=a|hard&a.txt", "r", "a>aa", End::Completed, 0, "1* 2", "begin Replacing... 2\nfile a.txt|\nfile hard|\nend 3",
        "a.txt=aaaa|hard=aaaa"},
    // The second source goes to the name the first one has just taken.
    {"replace as, two sources to one target", "a.txt=a|sub/a.txt=aaa", "a", "a>aa", End::Completed, 0, "1 3",
        "save dialog\nbegin Replacing... 4\nfile a.txt|to out/a.txt\nfile sub/a.txt|to out/a.txt\n[1 .] ? The file out/a.txt already exists.\r\n\r\nDo you "
        "want to overwrite it?\nend 4",
        "out/a.txt=aaaaaa|a.txt=a", "out", "y"},
    // Results wait to be flushed together, but a run that ends at a row leaves exactly the files before it replaced, with
    // the cells and messages of a run that put every result in place at once.
    {"a batch cancelled", "f0.txt=x x|f1.txt=none|f2.txt=x|f3.txt=x|f4.txt=x|f5.txt=x", "r", "x>y", End::Cancelled, 0, "2* 0 1* . . .",
        "begin Replacing... 11\nfile f0.txt|\nfile f1.txt|\nfile f2.txt|\nfile f3.txt|\nend 9", "f0.txt=y y|f2.txt=y|f3.txt=x|f4.txt=x|f5.txt=x", "out", "",
        "f3.txt"},
    {"a batch stopped by No", "f0.txt=x x|f1.txt=none|f2.txt=x|f3.txt=x|f4.txt=x|f5.txt=x|+out/f3.txt=theirs", "a", "x>y", End::StoppedAtNo, 0, "2 0 1 . . .",
        "save dialog\nbegin Replacing... 11\nfile f0.txt|to out/f0.txt\nfile f1.txt|to out/f1.txt\nfile f2.txt|to out/f2.txt\nfile f3.txt|to out/f3.txt\n[2 0 "
        "1 . . .] ? The file out/f3.txt already exists.\r\n\r\nDo you want to overwrite it?\nend 8",
        "out/f0.txt=y y|out/f2.txt=y|out/f3.txt=theirs|out/f4.txt!|f3.txt=x"},
    // A running program cannot be written (ETXTBSY), even by root; its count is shown.
    {"a batch ended by a result that cannot be put in place", "f0.txt=x x|f1.txt=none|f2.txt=x|f3.txt:program|f4.txt=x|f5.txt=x", "r", "x>y", End::CopyFailed,
        1, "2* 0 1* # . .",
        "begin Replacing... 100010\nfile f0.txt|\nfile f1.txt|\nfile f2.txt|\nfile f3.txt|\nfile f4.txt|\nfile f5.txt|\n[2* 0 1* # . .] ! Text file busy - "
        "f3.txt\nend 100010",
        "f0.txt=y y|f2.txt=y|f4.txt=x|f5.txt=x"},
    {"replace as stops at No", "a.txt=a|b.txt=a|c.txt=a|+out/b.txt=old b|+out/c.txt=old c", "a", "a>A", End::StoppedAtNo, 0, "1 . .",
        "save dialog\nbegin Replacing... 3\nfile a.txt|to out/a.txt\nfile b.txt|to out/b.txt\n[1 . .] ? The file out/b.txt already exists.\r\n\r\nDo you want "
        "to overwrite it?\nend 1",
        "out/a.txt=A|out/b.txt=old b|out/c.txt=old c|a.txt=a"},
    {"replace as overwrites at Yes", "a.txt=a|b.txt=a|c.txt=a|+out/a.txt=old a|+out/b.txt=old b|+out/c.txt=old c", "a", "a>B", End::Completed, 0, "1 1 1",
        "save dialog\nbegin Replacing... 3\nfile a.txt|to out/a.txt\n[. . .] ? The file out/a.txt already exists.\r\n\r\nDo you want to overwrite it?\nfile "
        "b.txt|to out/b.txt\n[1 . .] ? The file out/b.txt already exists.\r\n\r\nDo you want to overwrite it?\nfile c.txt|to out/c.txt\n[1 1 .] ? The file "
        "out/c.txt already exists.\r\n\r\nDo you want to overwrite it?\nend 3",
        "out/a.txt=B|out/b.txt=B|out/c.txt=B", "out", "yyy"},
    {"replace as overwriting without asking", "a.txt=a|b.txt=a|+out/b.txt=old b", "a", "a>C", End::Completed, 0, "1 1",
        "save dialog\nbegin Replacing... 2\nfile a.txt|to out/a.txt\nfile b.txt|to out/b.txt\nend 2", "out/a.txt=C|out/b.txt=C", "out!"},
    {"replace as, the Save As dialog cancelled", "a.txt=a|+out/a.txt=old a", "a", "a>D", End::TargetCancelled, 0, ".", "save dialog", "out/a.txt=old a", ""},
    {"replace as, target names", "report.txt=v1|README=v1|none.txt=nothing", "a", "v1>v2", End::Completed, 0, "1 1 0",
        "save dialog\nbegin Replacing... 11\nfile report.txt|to out/new_report_v2.txt\nfile README|to out/new_README_v2\nfile none.txt|to "
        "out/new_none_v2.txt\nend 11",
        "out/new_report_v2.txt=v2|out/new_README_v2=v2|report.txt=v1|out#2", "out/ new_ _v2"},
    {"cancelled in the second of three files", "1.bin=a*10000|2.bin=a*10000|3.bin=a*10000", "r", "a>b", End::Cancelled, 0, "10000* . .",
        "begin Replacing... 30000\nfile 1.bin|\nfile 2.bin|\nend 14096", "1.bin=b*10000|2.bin=a*10000|3.bin=a*10000", "out", "", "10000"},
    {"hard links all see a longer result", "first.txt=abc abc abc|+second.txt&first.txt", "r", "abc>a much longer text", End::Completed, 0, "3*",
        "begin Replacing... 11\nfile first.txt|\nend 11",
        "first.txt=a much longer text a much longer text a much longer text|second.txt=a much longer text a much longer text a much longer text"},
    {"hard links all see a shorter result", "first.txt=abc abc abc|+second.txt&first.txt", "r", "abc>", End::Completed, 0, "3*",
        "begin Replacing... 11\nfile first.txt|\nend 11", "first.txt=  |second.txt=  "},
    // A message of a later row, from the run or from the engine, waits for the results before it, and theirs; a row
    // that fails gives 0 and the run goes on.
    {"messages in row order", "changed.txt=x|folder/|first.txt=xx|gone.txt|last.txt=x", "r", "x>y", End::Completed, 3, "1* 0 2* 0 1*",
        "begin Replacing... 4\nfile changed.txt|\nfile folder|\n[1* . . . .] ! The file changed.txt was changed by another program while Perrox was working on "
        "it; it was left as it is.\n[1* . . . .] ! Is a directory - folder\nfile first.txt|\nfile gone.txt|\n[1* 0 2* . .] ! No such file or directory - "
        "gone.txt\nfile last.txt|\nend 4",
        "changed.txt=x, and more|first.txt=yy|last.txt=y", "out", "", "", "changed.txt=x, and more"},
    // The look taken for the total only speeds up the open: whatever stands at the path when the run reaches it is
    // what is opened, or refused.
    {"swapped for another file after the total", "data.txt=x|+swap-in=xxx", "c", "x>y", End::Completed, 0, "3*", "begin Counting... 1\nfile data.txt|\nend 3",
        "swap-in!", "out", "", "", "begin:data.txt<swap-in"},
    {"swapped for a pipe after the total", "data.txt=x|+swap-in:pipe", "c", "x>y", End::Completed, 1, "0",
        "begin Counting... 1\nfile data.txt|\n[.] ! Is a named pipe, not a regular file - data.txt\nend 0", "swap-in!", "out", "", "",
        "begin:data.txt<swap-in"},
    // A link put where a file stood leads where whoever put it chose: not followed.
    {"swapped for a link after the total", "data.txt=x|+other.txt=xxx|+swap-in->other.txt", "c", "x>y", End::Completed, 1, "0*",
        "begin Counting... 1\nfile data.txt|\n[.*] ! Was replaced by a symbolic link while Perrox was working on it - data.txt\nend 0",
        "swap-in!|data.txt->other.txt|other.txt=xxx", "out", "", "", "begin:data.txt<swap-in"},
    // The kernel's file has no size, yet bytes ("process" once); nothing blocks.
    {"special files, count", "pipe:pipe|socket:socket|/proc/self/comm|plain.txt=process process", "c", "process>P", End::Completed, 2, "0 0 1 2",
        "begin Counting... 15\nfile pipe|\n[. . . .] ! Is a named pipe, not a regular file - pipe\nfile socket|\n[0 . . .] ! Is a socket, not a regular file - "
        "socket\nfile /proc/self/comm|\nfile plain.txt|\nend 31",
        "plain.txt=process process"},
    {"special files, replace", "pipe:pipe|socket:socket|/proc/self/comm|plain.txt=process process", "r", "process>P", End::Completed, 3, "0 0 1 2*",
        "begin Replacing... 15\nfile pipe|\n[. . . .] ! Is a named pipe, not a regular file - pipe\nfile socket|\n[0 . . .] ! Is a socket, not a regular file "
        "- socket\nfile /proc/self/comm|\nfile plain.txt|\n[0 0 1 .] ! The file /proc/self/comm is made by the kernel, as the files of /proc and /sys are; "
        "it was counted but left as it is.\nend 31",
        "plain.txt=P P"},
    {"special files, replace as", "pipe:pipe|socket:socket|/proc/self/comm|plain.txt=process process", "a", "process>P", End::Completed, 2, "0 0 1 2",
        "save dialog\nbegin Replacing... 15\nfile pipe|to out/pipe\n[. . . .] ! Is a named pipe, not a regular file - pipe\nfile socket|to out/socket\n[0 . . "
        ".] ! Is a socket, not a regular file - socket\nfile /proc/self/comm|to out/comm\nfile plain.txt|to out/plain.txt\nend 31",
        "plain.txt=process process|out/plain.txt=P P|out/comm=tst_Pfile\n", "out!"},
    // Replace As never writes through what stands at the target, planted before the run or between the question and
    // the commit.
    {"target a dangling link", "a.txt=a|b.txt=a|+elsewhere/|+out/a.txt->../elsewhere/x", "a", "a>A", End::Completed, 1, "1 1",
        "save dialog\nbegin Replacing... 2\nfile a.txt|to out/a.txt\nfile b.txt|to out/b.txt\n[1 .] ! Cannot write the result to out/a.txt: it is a symbolic "
        "link, and Perrox never writes through a link. It was left as it is.\nend 2",
        "out/b.txt=A|elsewhere/x!|out/a.txt->../elsewhere/x"},
    {"target a link to a file outside, overwriting", "a.txt=a|b.txt=a|+elsewhere/x=outside|+out/a.txt->../elsewhere/x", "a", "a>A", End::Completed, 1, "1 1",
        "save dialog\nbegin Replacing... 2\nfile a.txt|to out/a.txt\nfile b.txt|to out/b.txt\n[1 .] ! Cannot write the result to out/a.txt: it is a symbolic "
        "link, and Perrox never writes through a link. It was left as it is.\nend 2",
        "out/b.txt=A|elsewhere/x=outside|out/a.txt->../elsewhere/x", "out!"},
    {"target a link to a file outside, asking", "a.txt=a|b.txt=a|+elsewhere/x=outside|+out/a.txt->../elsewhere/x", "a", "a>A", End::Completed, 1, "1 1",
        "save dialog\nbegin Replacing... 2\nfile a.txt|to out/a.txt\nfile b.txt|to out/b.txt\n[1 .] ! Cannot write the result to out/a.txt: it is a symbolic "
        "link, and Perrox never writes through a link. It was left as it is.\nend 2",
        "out/b.txt=A|elsewhere/x=outside|out/a.txt->../elsewhere/x"},
    {"target a pipe", "a.txt=a|b.txt=a|+out/a.txt:pipe", "a", "a>A", End::Completed, 1, "1 1",
        "save dialog\nbegin Replacing... 2\nfile a.txt|to out/a.txt\nfile b.txt|to out/b.txt\n[1 .] ! Cannot write the result to out/a.txt: is a named pipe, "
        "not a regular file. It was left as it is.\nend 2",
        "out/b.txt=A|out/a.txt:pipe", "out!"},
    {"target a folder", "a.txt=a|b.txt=a|+out/a.txt/", "a", "a>A", End::Completed, 1, "1 1",
        "save dialog\nbegin Replacing... 2\nfile a.txt|to out/a.txt\nfile b.txt|to out/b.txt\n[1 .] ! Cannot write the result to out/a.txt: is a directory. It "
        "was left as it is.\nend 2",
        "out/b.txt=A|out/a.txt/", "out!"},
    {"target a link planted after the question", "a.txt=a|b.txt=a|+elsewhere/", "a", "a>A", End::Completed, 1, "1 1",
        "save dialog\nbegin Replacing... 2\nfile a.txt|to out/a.txt\nfile b.txt|to out/b.txt\n[1 .] ! Cannot write the result to out/a.txt: it is a symbolic "
        "link, and Perrox never writes through a link. It was left as it is.\nend 2",
        "out/b.txt=A|elsewhere/x!|out/a.txt->../elsewhere/x", "out", "", "", "out/a.txt->../elsewhere/x"},
    {"target a file planted after the question", "a.txt=a|b.txt=a", "a", "a>A", End::Completed, 1, "1 1",
        "save dialog\nbegin Replacing... 2\nfile a.txt|to out/a.txt\nfile b.txt|to out/b.txt\n[1 .] ! The file out/a.txt was changed by another program while "
        "Perrox was working on it; it was left as it is.\nend 2",
        "out/b.txt=A|out/a.txt=planted", "out!", "", "", "out/a.txt=planted"},
    // The name in the folder is replaced; the other name keeps its content.
    {"target a hard link to a file outside", "a.txt=a|b.txt=a|+elsewhere/x=outside|+out/a.txt&elsewhere/x", "a", "a>A", End::Completed, 0, "1 1",
        "save dialog\nbegin Replacing... 2\nfile a.txt|to out/a.txt\nfile b.txt|to out/b.txt\nend 2", "out/b.txt=A|elsewhere/x=outside|out/a.txt=A", "out!"},
    // Runs have the umask 027: a replaced file keeps its mode, a new one has 0666 less the umask.
    {"the mode of a replaced file", "mode.txt=a|+mode.txt:0751", "r", "a>b", End::Completed, 0, "1*", "begin Replacing... 1\nfile mode.txt|\nend 1",
        "mode.txt=b|mode.txt:0751"},
    {"the mode of a new file", "mode.txt=a|+mode.txt:0751", "a", "a>c", End::Completed, 0, "1",
        "save dialog\nbegin Replacing... 1\nfile mode.txt|to out/mode.txt\nend 1", "out/mode.txt=c|out/mode.txt:0640"},
    // What a user sees who may not replace the file (root's), or may only write into it: the file is rewritten in place.
    {"unprivileged, a read-only file", "+.:0755|+TEMP:0777|s/file=a a a|+s/file:0444|+s:0777", "R", "a>bb", End::CopyFailed, 1, "3",
        "begin Replacing... 5\nfile s/file|\n[3] ! Permission denied - s/file\nend 5", "s/file=a a a|s/file:0444|s/file&"},
    {"unprivileged, a writable file in a read-only folder", "+.:0755|+TEMP:0777|s/file=a a a|+s/file:0666|+s:0555", "R", "a>bb", End::Completed, 0, "3*",
        "begin Replacing... 5\nfile s/file|\nend 5", "s/file=bb bb bb|s/file:0666|s/file&"},
    {"unprivileged, a writable file in a sticky folder like /tmp", "+.:0755|+TEMP:0777|s/file=a a a|+s/file:0666|+s:01777", "R", "a>bb", End::Completed, 0,
        "3*", "begin Replacing... 5\nfile s/file|\nend 5", "s/file=bb bb bb|s/file:0666|s/file&"},
    // Reading needs no temporary file: Count, and a file without occurrences, work without a writable TEMP; the first
    // occurrence of a Replace ends the run, touching nothing.
    {"TEMP not writable, count", "+.:0777|+TEMP:0755|none.txt=n|x.txt=x|+x.txt:0666", "C", "x>y", End::Completed, 0, "0 1",
        "begin Counting... 2\nfile none.txt|\nfile x.txt|\nend 2", "x.txt=x"},
    {"TEMP not writable, replace", "+.:0777|+TEMP:0755|none.txt=n|x.txt=x|+x.txt:0666", "R", "x>y", End::SetupFailed, 0, "0 .",
        "begin Replacing... 2\nfile none.txt|\nfile x.txt|\n[0 .] ! Permission denied - TEMP/perrox-*\nend 1", "x.txt=x"},
    // The engine's message comes after the result of the row before it is in place.
    {"a write fails midway", "before.bin=a|grow.bin=a*60000|after.bin=a", "F", "a>aaaa", End::Completed, 1, "1* 0 1*",
        "begin Replacing... 60002\nfile before.bin|\nfile grow.bin|\n[1* . .] ! File too large - TEMP/perrox-*/~PX*\nfile after.bin|\nend 60002",
        "before.bin=aaaa|grow.bin=a*60000|after.bin=aaaa"},
    // Another program changes the file between the read and the commit: reported, counted as failed, left as the other
    // program left it, nothing written elsewhere, and the run goes on. Hard-linked, the file is rewritten in place instead.
    {"appended", "s/data=one two one two|next=one|+p/secret=top secret|+p/secret:0600|+p:0700", "rl", "one>ONE", End::Completed, 1, "2* 1*", kChanged,
        "next=ONE|p/secret=top secret|p/secret:0600|s/data=one two one two tail", "out", "", "", "s/data=one two one two tail"},
    {"truncated", "s/data=one two one two|next=one|+p/secret=top secret|+p/secret:0600|+p:0700", "rl", "one>ONE", End::Completed, 1, "2* 1*", kChanged,
        "next=ONE|p/secret=top secret|p/secret:0600|s/data=one t", "out", "", "", "s/data=one t"},
    {"deleted", "s/data=one two one two|next=one|+p/secret=top secret|+p/secret:0600|+p:0700", "rl", "one>ONE", End::Completed, 1, "2 1*",
        "begin Replacing... 18\nfile s/data|\nfile next|\n[2 .] ! The file s/data was changed by another program while Perrox was "
        "working on it; it was left as it is.\nend 18",
        "next=ONE|p/secret=top secret|p/secret:0600|s/data!", "out", "", "", "s/data!"},
    {"rewritten at the same size", "s/data=one two one two|next=one|+p/secret=top secret|+p/secret:0600|+p:0700", "rl", "one>ONE", End::Completed, 1, "2* 1*",
        kChanged, "next=ONE|p/secret=top secret|p/secret:0600|s/data=z*15", "out", "", "", "s/data=z*15"},
    {"replaced by a new file", "s/data=one two one two|next=one|+p/secret=top secret|+p/secret:0600|+p:0700", "rl", "one>ONE", End::Completed, 1, "2* 1*",
        kChanged, "next=ONE|p/secret=top secret|p/secret:0600|s/data=theirs", "out", "", "", "s/new=theirs|s/data<s/new"},
    {"swapped for a link to a private file", "s/data=one two one two|next=one|+p/secret=top secret|+p/secret:0600|+p:0700", "rl", "one>ONE", End::Completed, 1,
        "2* 1*", kChanged, "next=ONE|p/secret=top secret|p/secret:0600|s/data->../p/secret|s/moved=one two one two", "out", "", "",
        "s/moved<s/data|s/data->../p/secret"},
    {"changed by another Perrox run", "s/data=one two one two|next=one|+p/secret=top secret|+p/secret:0600|+p:0700", "rl", "one>ONE", End::Completed, 1,
        "2* 1*", kChanged, "next=ONE|p/secret=top secret|p/secret:0600|s/data=1 two 1 two", "out", "", "", "s/data@one>1"},
};

} // namespace

Q_DECLARE_METATYPE(perrox::RunMode)

class TestProcessFiles : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();
    void run_data();
    void run();
    void resultsReachTheDiskBeforeTheirPlace();
    void killedDuringABatch_data();
    void killedDuringABatch();
    void resultFromAnotherFileSystem();
    void interruptedRewriteInPlace_data();
    void interruptedRewriteInPlace();
    void keepTimes_data();
    void keepTimes();
    void tempFolderFilledByAnotherUser();
    void namesBesideTakenByAnotherUser();
    void deadRunFolders_data();
    void deadRunFolders();
    void kernelFiles_data();
    void kernelFiles();
    void linksInASharedFolder_data();
    void linksInASharedFolder();
    void tempFolder_data();
    void tempFolder();
    void adjustRight();

private:
    QString at(const QString &name) const
    {
        return name.startsWith(u'/') ? name : name.startsWith(u"TEMP"_s) ? m_temp->path() + name.mid(4) : m_dir->filePath(name);
    }
    QString file(const QString &name, const QByteArray &bytes) { return WriteFileIn(m_dir->path(), name, bytes); }
    struct Entry
    {
        bool listed;
        QString path, how, what;
    };
    Entry parse(const QString &entry) const
    {
        static const QRegularExpression form(u"^(\\+?)(.+?)(->|/$|=|&|:|<|@|#|!$|$)(.*)$"_s, QRegularExpression::DotMatchesEverythingOption);
        const QRegularExpressionMatch m = form.match(entry);
        return {m.captured(1).isEmpty(), at(m.captured(2)), m.captured(3), m.captured(4)};
    }
    void make(const char *layout, QStringList *rows = nullptr);
    void check(const char *layout);

    std::unique_ptr<QTemporaryDir> m_dir;
    std::unique_ptr<QTemporaryDir> m_temp;
    std::unique_ptr<EnvironmentGuard> m_tempVariable;
    std::unique_ptr<StateFolderGuard> m_state;
    QHash<QString, std::pair<ino_t, QByteArray>> m_made; // the files make() wrote
    std::list<QProcess> m_programs;
};

void TestProcessFiles::init()
{
    m_dir = std::make_unique<QTemporaryDir>();
    m_temp = std::make_unique<QTemporaryDir>();
    QVERIFY(m_dir->isValid() && m_temp->isValid());
    m_tempVariable = std::make_unique<EnvironmentGuard>("TEMP", NativePath(m_temp->path()));
    m_state = std::make_unique<StateFolderGuard>();
}

// No run may leave a temporary file behind, whatever way it ended, nor a
// record of a rewrite in place once the rewrite is done.
void TestProcessFiles::cleanup()
{
    for (QProcess &program : m_programs) {
        program.kill();
        program.waitForFinished();
    }
    m_programs.clear();
    m_made.clear();
    QCOMPARE(TemporaryFilesIn(m_temp->path()), QStringList());
    QCOMPARE(TemporaryFilesIn(m_dir->path()), QStringList());
    QCOMPARE(m_state->records(), QStringList());
    m_state.reset();
    m_tempVariable.reset();
    m_temp.reset();
    m_dir.reset();
}

void TestProcessFiles::make(const char *layout, QStringList *rows)
{
    for (const QString &entry : QString::fromUtf8(layout).split(u'|', Qt::SkipEmptyParts)) {
        const auto [listed, path, how, what] = parse(entry);
        QVERIFY(QDir().mkpath(QFileInfo(path).path()));
        if (how == u"="_s) {
            QVERIFY(WriteFile(path, content(what)) && AgeFile(path));
            if (rows) // the set-up, not what another program does
                m_made.insert(path, {statOf(path).st_ino, content(what)});
        } else if (how == u"/"_s) {
            QVERIFY(QDir().mkpath(path));
        } else if (how == u"->"_s) {
            QVERIFY(::symlink(NativePath(what).constData(), NativePath(path).constData()) == 0);
        } else if (how == u"&"_s) {
            QVERIFY(hardLink(at(what), path));
        } else if (how == u"<"_s) {
            QVERIFY(::rename(NativePath(at(what)).constData(), NativePath(path).constData()) == 0);
        } else if (how == u"@"_s) {
            ScriptedHost other({path});
            QCOMPARE(other.run(RunMode::Replace, pairs(qPrintable(what))).end, End::Completed);
            QVERIFY(other.sink.shown.isEmpty());
        } else if (what == u"pipe"_s) {
            QVERIFY(::mkfifo(NativePath(path).constData(), 0600) == 0);
        } else if (what == u"socket"_s) {
            QVERIFY(MakeSocket(path));
        } else if (what == u"program"_s) {
            QVERIFY(QFile::copy(u"/bin/sleep"_s, path) && QFile::resize(path, 100000) && setMode(path, 0700)); // one size everywhere
            m_programs.emplace_back().start(path, {u"30"_s});
            QVERIFY(m_programs.back().waitForStarted());
            m_made.insert(path, {statOf(path).st_ino, ReadFile(path)});
        } else if (how == u":"_s) {
            QVERIFY(setMode(path, mode_t(what.toUInt(nullptr, 8))));
        } else if (how == u"!"_s) {
            QVERIFY(!QFileInfo::exists(path) || QFile::remove(path));
        }
        if (rows && listed)
            rows->append(path);
    }
}

void TestProcessFiles::check(const char *layout)
{
    for (const QString &entry : QString::fromUtf8(layout).split(u'|', Qt::SkipEmptyParts)) {
        const auto [listed, path, how, what] = parse(entry);
        const QFileInfo info(path);
        char target[4096] = {};
        if (how == u"!"_s) {
            QVERIFY2(!info.exists() && !info.isSymLink(), qPrintable(entry));
        } else if (how == u"/"_s) {
            QVERIFY2(info.isDir() && !info.isSymLink(), qPrintable(entry));
        } else if (how == u"->"_s) {
            QVERIFY2(info.isSymLink() && ::readlink(NativePath(path).constData(), target, sizeof target - 1) > 0, qPrintable(entry));
            QCOMPARE(QString::fromUtf8(target), what);
        } else if (how == u":"_s) {
            QCOMPARE(statOf(path).st_mode & (what == u"pipe"_s ? S_IFMT : 07777), what == u"pipe"_s ? S_IFIFO : what.toUInt(nullptr, 8));
        } else if (how == u"#"_s) {
            QCOMPARE(QDir(path).entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden | QDir::System).size(), what.toInt());
        } else if (how == u"&"_s) { // the very file that was made
            QCOMPARE(statOf(path).st_ino, m_made.value(path).first);
        } else {
            QVERIFY2(!info.isSymLink(), qPrintable(entry));
            QCOMPARE(ReadFile(path), content(what));
            // What the run had no reason to touch is the very file it was.
            if (m_made.value(path).second == content(what))
                QCOMPARE(statOf(path).st_ino, m_made.value(path).first);
        }
    }
}

void TestProcessFiles::run_data()
{
    QTest::addColumn<int>("i");
    QTest::addColumn<RunMode>("mode");
    QTest::addColumn<bool>("linked");
    QTest::addColumn<int>("child");
    for (int i = 0; i < int(std::size(kCases)); ++i) {
        for (const char *m = kCases[i].modes; *m; ++m) {
            const RunMode mode = *m == 'c' || *m == 'C' ? RunMode::Count : *m == 'a' ? RunMode::ReplaceAs : RunMode::Replace;
            const int child = *m == 'C' || *m == 'R' ? 'n' : *m == 'F' ? 'f' : 0;
            QTest::addRow("%s (%c)", kCases[i].name, *m) << i << mode << (*m == 'l') << child;
        }
    }
}

void TestProcessFiles::run()
{
    QFETCH(int, i);
    QFETCH(RunMode, mode);
    QFETCH(bool, linked);
    QFETCH(int, child);
    const Case &c = kCases[i];
    QStringList rows;
    make(c.files, &rows);
    QVERIFY(!linked || hardLink(rows.at(0), rows.at(0) + u".link"_s));
    QVERIFY(!QTest::currentTestFailed());
    QVERIFY(QDir().mkpath(at(u"out"_s)));
    const auto body = [&] {
        ScriptedHost host(rows);
        host.cells.fill(u"."_s);
        const QStringList target = QString::fromUtf8(c.target).split(u' ');
        host.targetChosen = !target.at(0).isEmpty();
        const bool overwrite = target.at(0).endsWith(u'!');
        host.chosenSettings = ReplaceAsSettings {at(overwrite ? target.at(0).chopped(1) : target.at(0)), target.value(1), target.value(2), qint16(overwrite)};
        for (const char *a = c.answers; *a; ++a)
            host.sink.answers.append(*a == 'y' ? MessageSink::Answer::Yes : MessageSink::Answer::No);
        const QString cancel = QString::fromUtf8(c.cancel);
        bool ok = false;
        const double cancelPast = cancel.toDouble(&ok);
        host.cancelWhen = [&] {
            if (ok)
                return !host.positions.isEmpty() && host.positions.last() > cancelPast;
            return !cancel.isEmpty() && !host.log.isEmpty() && host.log.last().contains(cancel);
        };
        // Each cell as it stands, "#" for a program's, '*' where the file is no longer what was made.
        const auto cells = [&] {
            QStringList list;
            for (int row = 0; row < rows.size(); ++row) {
                const QString cell = host.cells.at(row).trimmed();
                const bool changed
                    = m_made.contains(rows.at(row)) && QFileInfo(rows.at(row)).isFile() && ReadFile(rows.at(row)) != m_made.value(rows.at(row)).second;
                const bool program = std::any_of(m_programs.begin(), m_programs.end(), [&](const QProcess &p) { return p.program() == rows.at(row); });
                list.append((program && cell != u"."_s ? u"#"_s : cell) + (changed ? u"*"_s : QString()));
            }
            return list.join(u' ');
        };
        host.sink.onShow = [&] { host.log.append(u"[%1]"_s.arg(cells())); };
        QString meddle = QString::fromUtf8(c.meddle);
        const bool atBegin = meddle.startsWith(u"begin:"_s);
        host.onBeforeCommit = [&](int) {
            if (!atBegin)
                make(qPrintable(std::exchange(meddle, QString())));
        };
        bool tempSeen = false;
        host.onPump = [&] {
            tempSeen = tempSeen || !TemporaryFilesIn(m_temp->path()).isEmpty();
            if (atBegin && !host.log.isEmpty() && host.log.last().startsWith(u"begin"_s))
                make(qPrintable(std::exchange(meddle, QString()).mid(6)));
        };
        const mode_t umask = ::umask(027);
        ::alarm(30); // a run that blocks ends the test
        const RunResult r = host.run(mode, pairs(c.pairs));
        ::alarm(0);
        ::umask(umask);
        QStringList log;
        qsizetype shown = 0;
        for (const QString &line : std::as_const(host.log)) {
            if (!line.startsWith(u'['))
                log.append(line == u"end"_s ? u"end %1"_s.arg(host.positions.value(host.positions.size() - 1)) : line);
            else {
                const RecordingSink::Shown &s = host.sink.shown.at(shown++);
                log.append(u"%1 %2 %3"_s.arg(line, s.buttons == MessageSink::Buttons::Ok ? u"!"_s : u"?"_s, s.text));
                QCOMPARE(s.title, u"Perrox"_s);
                QVERIFY(s.buttons == MessageSink::Buttons::Ok || (s.buttons == MessageSink::Buttons::YesNo && s.icon == MessageSink::Icon::Exclamation));
            }
            static const QRegularExpression temporaryName(u"(perrox-|~PX)[^/ ]+"_s);
            log.last().replace(m_dir->path() + u'/', QString()).replace(m_temp->path(), u"TEMP"_s).replace(temporaryName, u"\\1*"_s);
        }
        static const QRegularExpression lineBreak(u"(?<!\r)\n"_s);
        if (qEnvironmentVariableIsSet("DUMP"))
            qWarning("DUMP %s\t%s\t%s", c.name, qPrintable(cells()), qPrintable(log.join(u"\\n"_s).replace(u"\r"_s, u"\\r"_s).replace(u"\n"_s, u"\\n"_s)));
        QCOMPARE(log, QString::fromUtf8(c.log).split(lineBreak, Qt::SkipEmptyParts));
        QCOMPARE(shown, host.sink.shown.size());
        QCOMPARE(cells(), QString::fromUtf8(c.cells));
        QCOMPARE(r.end, c.end);
        QCOMPARE(r.failedFiles, c.failed);
        check(c.result);
        // The other name sees what the file is while it is the same file, else what it was.
        const bool same = !QFileInfo(rows.value(0)).isSymLink() && statOf(rows.value(0)).st_ino == m_made.value(rows.value(0)).first;
        QVERIFY(!linked || ReadFile(rows.at(0) + u".link"_s) == (same ? ReadFile(rows.at(0)) : m_made.value(rows.at(0)).second));
        for (const QString &cell : std::as_const(host.cells))
            QVERIFY2(cell == u"."_s || cell == cell.trimmed().rightJustified(8), qPrintable(cell));
        const bool begun = !log.filter(QRegularExpression(u"^begin"_s)).isEmpty();
        const QStringList status {u"Calculating the number of bytes to process."_s, u"%1 files"_s.arg(rows.size())};
        QCOMPARE(host.statusTexts, begun ? status : QStringList());
        QVERIFY(host.sink.busyDepth == 0 && (host.sink.busyOnCount > 0) == begun);
        QVERIFY(mode != RunMode::Count || !tempSeen);
        QVERIFY(mode != RunMode::ReplaceAs || !log.contains(u"save dialog"_s) || !host.targetChosen || host.settings.outpath == host.chosenSettings->outpath);
        QVERIFY(mode != RunMode::Replace || !cells().contains(u'*') || tempSeen); // the work goes through TEMP
        QCOMPARE(TemporaryFilesIn(at(u"out"_s)), QStringList());
        // Each row's result agrees with its cell: none where no cell was written, else the cell's count, split by pair.
        QCOMPARE(r.rows.size(), begun ? size_t(rows.size()) : 0);
        QCOMPARE(r.finds.size(), c.end == End::ArgumentError ? 0 : pairs(c.pairs).size());
        int failed = 0;
        for (size_t row = 0; row < r.rows.size(); ++row) {
            const RowResult &result = r.rows[row];
            const QString cell = host.cells.at(int(row)).trimmed();
            const QByteArray where = rows.at(int(row)).toUtf8() + ' ' + RowStateWord(result.state).toUtf8();
            QVERIFY2((cell == u"."_s) == (result.state == RowState::NotProcessed), where);
            QVERIFY2(result.count == cell.toLongLong() && result.perPair.size() == r.finds.size(), where);
            QVERIFY2(std::accumulate(result.perPair.begin(), result.perPair.end(), qint64(0)) == result.count, where);
            QVERIFY2((result.state == RowState::Failed) != result.error.isEmpty(), where);
            failed += result.state == RowState::Failed;
            const RowState done = mode == RunMode::Count ? RowState::Counted : result.count > 0 ? RowState::Replaced : RowState::Unchanged;
            QVERIFY2(result.state == done || result.state == RowState::Failed || result.state == RowState::NotProcessed, where);
            QVERIFY2(result.state != RowState::Replaced || result.status.st_ino != 0, where);
        }
        QCOMPARE(failed, r.failedFiles);
    };
    if (child == 0)
        return body();
    const int rc = (child == 'f' ? RunInChild : RunUnprivileged)([&] {
        if (child == 'f') { // writing past 100000 bytes fails with "File too large"
            std::signal(SIGXFSZ, SIG_IGN);
            const struct rlimit limit = {100000, 100000};
            CHILD_CHECK(::setrlimit(RLIMIT_FSIZE, &limit) == 0);
        }
        body();
        return QTest::currentTestFailed() ? 1 : 0;
    });
    QCOMPARE(rc, 0);
}

// The order that makes a result safe at a crash or power loss: its data is
// on the disk before its name takes the old file's place.
void TestProcessFiles::resultsReachTheDiskBeforeTheirPlace()
{
    QStringList paths;
    QList<int> withOccurrences;
    for (int i = 0; i < 40; ++i) {
        paths << file(u"%1.txt"_s.arg(i), i % 3 ? "x" : "none");
        if (i % 3)
            withOccurrences << i;
    }
    ScriptedHost host(paths);
    QList<int> flushed;
    QList<int> committed;
    QStringList replacedTooEarly;
    host.onResultsFlushed = [&](const std::vector<int> &rows) {
        for (int row : rows) {
            if (ReadFile(paths.at(row)) != "x")
                replacedTooEarly << paths.at(row);
            flushed << row;
        }
    };
    host.onBeforeCommit = [&](int row) {
        QVERIFY(flushed.contains(row));
        committed << row;
    };
    QCOMPARE(host.run(RunMode::Replace, u"x"_s, u"y"_s).end, End::Completed);
    QCOMPARE(replacedTooEarly, QStringList());
    for (int i : withOccurrences)
        QCOMPARE(ReadFile(paths.at(i)), "y"_ba);
    QCOMPARE(committed, withOccurrences); // in row order
    QCOMPARE(flushed, withOccurrences);
}

void TestProcessFiles::killedDuringABatch_data()
{
    QTest::addColumn<QString>("when");
    QTest::newRow("reading a later file") << u"reading"_s;
    QTest::newRow("right after the flush") << u"flushed"_s;
    QTest::newRow("halfway through putting results in place") << u"placing"_s;
}

// A kill -9 at any point leaves each file wholly old or wholly new, and
// nothing that stops the next run from finishing the work.
void TestProcessFiles::killedDuringABatch()
{
    QFETCH(QString, when);
    const QByteArray before(5000, 'x');
    const QByteArray after(10000, 'y');
    QStringList paths;
    for (int i = 0; i < 30; ++i)
        paths << file(u"%1.txt"_s.arg(i), before);
    const int rc = RunInChild([&]() -> int {
        ScriptedHost host(paths);
        int placed = 0;
        host.onPump = [&] {
            if (when == u"reading"_s && !host.log.isEmpty() && host.log.last().contains(u"/20.txt"_s))
                ::raise(SIGKILL);
        };
        host.onResultsFlushed = [&](const std::vector<int> &) {
            if (when == u"flushed"_s)
                ::raise(SIGKILL);
        };
        host.onBeforeCommit = [&](int) {
            if (when == u"placing"_s && ++placed == 10)
                ::raise(SIGKILL);
        };
        host.run(RunMode::Replace, u"x"_s, u"yy"_s);
        return 0;
    });
    QCOMPARE(rc, -1);
    for (const QString &path : paths)
        QVERIFY2(ReadFile(path) == before || ReadFile(path) == after, qPrintable(path));
    // What the killed run left is in its own folder only ...
    const QStringList left = TemporaryFilesIn(m_temp->path());
    QCOMPARE(TemporaryFilesIn(m_dir->path()), QStringList());
    QVERIFY(!left.isEmpty() && left.at(0).startsWith(u"perrox-"_s));
    // ... and the next run finishes the work.
    ScriptedHost host(paths);
    QCOMPARE(host.run(RunMode::Replace, u"x"_s, u"yy"_s).end, End::Completed);
    QCOMPARE(host.sink.texts(), QStringList());
    for (const QString &path : paths)
        QCOMPARE(ReadFile(path), after);
    QVERIFY(QDir(m_temp->filePath(left.at(0))).removeRecursively());
}

void TestProcessFiles::resultFromAnotherFileSystem()
{
    // /dev/shm is a memory file system on a device of its own on most systems.
    if (!FolderExists(u"/dev/shm"_s) || statOf(u"/dev/shm"_s).st_dev == statOf(m_dir->path()).st_dev)
        QSKIP("no second file system for temporary files here");
    QTemporaryDir temp(u"/dev/shm/perrox-test-XXXXXX"_s);
    QVERIFY(temp.isValid());
    EnvironmentGuard guard("TEMP", NativePath(temp.path()));
    const QString path = file(u"far.txt"_s, "far far");
    QVERIFY(setMode(path, 0604));
    ScriptedHost host({path});
    host.run(RunMode::Replace, u"far"_s, u"near"_s);
    QVERIFY(host.sink.shown.isEmpty());
    QCOMPARE(ReadFile(path), "near near"_ba);
    QCOMPARE(statOf(path).st_mode & 07777, 0604u);
    QCOMPARE(TemporaryFilesIn(temp.path()), QStringList());
}

void TestProcessFiles::interruptedRewriteInPlace_data()
{
    QTest::addColumn<QString>("meanwhile"); // what happens between the kill and the next start
    QTest::addColumn<QString>("message"); // %1 the file, %2 the kept result; empty: not finished
    const QString stopped = u"Perrox was stopped while it rewrote the file %1"_s;
    const QString kept = u"; it was left as it is. The complete result of that run is kept in %2."_s;
    QTest::newRow("nothing") << QString() << stopped + u" and has now finished it."_s;
    QTest::newRow("another program appended") << u"append"_s << stopped + u", but another program has changed the file since"_s + kept;
    QTest::newRow("the file was deleted") << u"delete"_s << stopped + u", but the file is no longer there or is another file now"_s + kept;
    QTest::newRow("the record is in use by a running Perrox") << u"lock"_s << stopped + u" and has now finished it."_s;
}

void TestProcessFiles::interruptedRewriteInPlace()
{
    QFETCH(QString, meanwhile);
    QFETCH(QString, message);
    const bool finished = message.endsWith(u"finished it."_s);
    // Four chunks of 4096 bytes and a few more; the result is longer.
    const QByteArray original = RandomBytes(7, 4 * 4096 + 100, "abc");
    const QByteArray expected = QByteArray(original).replace("a", "AA");
    const QString path = file(u"linked.txt"_s, original);
    const QString other = m_dir->filePath(u"other-name.txt"_s);
    QVERIFY(hardLink(path, other));

    // The run is killed after the first chunk of the rewrite in place.
    QVERIFY(InterruptRewriteInPlace(path, "a", "AA", 4096));
    const QByteArray half = ReadFile(path);
    QCOMPARE(half, expected.left(4096) + original.mid(4096));
    QCOMPARE(m_state->records().size(), 3); // the record, the kept result and the old bytes of the step under way
    const auto recordPath = [&](const QString &suffix) { return m_state->recordFolder() + u'/' + m_state->records().filter(suffix).value(0); };
    const QString kept = recordPath(u".result"_s);
    QCOMPARE(ReadFile(kept), expected);
    // The run's own folder stays behind after a kill; it is nobody else's.
    for (const QString &name : TemporaryFilesIn(m_temp->path()))
        QDir(m_temp->filePath(name)).removeRecursively() || QFile::remove(m_temp->filePath(name));

    if (meanwhile == u"append"_s) {
        QFile f(path);
        QVERIFY(f.open(QIODevice::Append) && f.write("!") == 1);
    } else if (meanwhile == u"delete"_s) {
        QVERIFY(QFile::remove(path));
    } else if (meanwhile == u"lock"_s) {
        const int fd = ::open(NativePath(recordPath(u".record"_s)).constData(), O_RDONLY);
        QVERIFY(fd >= 0 && ::flock(fd, LOCK_EX | LOCK_NB) == 0);
        QCOMPARE(RecoverInterruptedRewrites(), QString()); // somebody else's: left alone
        QCOMPARE(ReadFile(path), half);
        ::close(fd);
    }
    const QByteArray before = ReadFile(path);

    QCOMPARE(RecoverInterruptedRewrites(), QString(message).replace(u"%1"_s, path).replace(u"%2"_s, kept));
    if (finished) {
        QCOMPARE(ReadFile(path), expected);
        QCOMPARE(ReadFile(other), expected);
        QCOMPARE(m_state->records(), QStringList());
    } else {
        QCOMPARE(ReadFile(path), before);
        // The record is gone, the result stays where the message says.
        QCOMPARE(m_state->records(), QStringList {GetFileName(kept)});
        QCOMPARE(ReadFile(kept), expected);
        QVERIFY(QFile::remove(kept));
    }
    QCOMPARE(RecoverInterruptedRewrites(), QString()); // once only
}

void TestProcessFiles::keepTimes_data()
{
    QTest::addColumn<RunMode>("mode");
    QTest::addColumn<QString>("shape"); // "linked": rewritten in place; "target": over a file; "foreign": rewritten in place by nobody
    QTest::addColumn<bool>("keep");
    QTest::addColumn<bool>("journal");
    QTest::addColumn<bool>("kept"); // the result has the source's old times
    QTest::newRow("replace") << RunMode::Replace << u"plain"_s << true << false << true;
    QTest::newRow("replace, with the journal") << RunMode::Replace << u"plain"_s << true << true << true;
    QTest::newRow("replace, off") << RunMode::Replace << u"plain"_s << false << false << false;
    QTest::newRow("rewritten in place") << RunMode::Replace << u"linked"_s << true << false << true;
    QTest::newRow("replace as over a file, with the journal") << RunMode::ReplaceAs << u"target"_s << true << true << true;
    QTest::newRow("replace as, off") << RunMode::ReplaceAs << u"plain"_s << false << false << false;
    // Only the owner may set a file's times: the content is written all the same, without a message.
    QTest::newRow("another user's file rewritten in place") << RunMode::Replace << u"foreign"_s << true << false << false;
}

// With the option a result takes the times its source had when it was opened, to the nanosecond; without, the time it was written.
void TestProcessFiles::keepTimes()
{
    QFETCH(RunMode, mode);
    QFETCH(QString, shape);
    QFETCH(bool, keep);
    QFETCH(bool, journal);
    QFETCH(bool, kept);
    const bool foreign = shape == u"foreign"_s, inPlace = foreign || shape == u"linked"_s;
    if (foreign && ::geteuid() != 0)
        QSKIP("The file must belong to another user than the one who runs Replace.");
    const QString data = file(u"data.txt"_s, "one two one"), out = at(u"out"_s), result = mode == RunMode::Replace ? data : out + u"/data.txt"_s;
    QVERIFY(QDir().mkpath(out) && (!inPlace || hardLink(data, data + u".link"_s)) && (shape != u"target"_s || WriteFile(result, "older")));
    const timespec old[2] = {{981173106, 123456789}, {1015218367, 987654321}}; // 2001-02-03 04:05:06.123456789, 2002-03-04 05:06:07.987654321
    QCOMPARE(::utimensat(AT_FDCWD, NativePath(data).constData(), old, 0), 0);
    const auto times = [](const struct stat &st) { return QList<qint64> {st.st_atim.tv_sec, st.st_atim.tv_nsec, st.st_mtim.tv_sec, st.st_mtim.tv_nsec}; };
    const ino_t inode = statOf(data).st_ino;
    const time_t start = ::time(nullptr);
    const auto body = [&] {
        ScriptedHost host({data});
        host.undo.keep = journal;
        host.keepTimes = keep;
        host.chosenSettings = ReplaceAsSettings {out, {}, {}, 1};
        const RunResult r = host.run(mode, u"one"_s, u"ONE"_s);
        return r.end == End::Completed && r.failedFiles == 0 && host.sink.shown.isEmpty() ? 0 : 1;
    };
    if (foreign)
        QVERIFY(setMode(m_dir->path(), 0755) && setMode(m_temp->path(), 0777) && setMode(data, 0666));
    QCOMPARE(foreign ? RunUnprivileged(body) : body(), 0);
    const struct stat st = statOf(result); // before a read may move the access time
    if (kept)
        QCOMPARE(times(st), (QList<qint64> {old[0].tv_sec, old[0].tv_nsec, old[1].tv_sec, old[1].tv_nsec}));
    QVERIFY(kept || st.st_mtim.tv_sec >= start - 1);
    QCOMPARE(ReadFile(result), "ONE two ONE"_ba);
    QVERIFY(mode == RunMode::ReplaceAs ? ReadFile(data) == "one two one" : (st.st_ino == inode) == inPlace);
}

void TestProcessFiles::tempFolderFilledByAnotherUser()
{
    // Another user takes every temporary name there is in a shared TEMP.
    const QString tempFolder = m_temp->path();
    QVERIFY(setMode(tempFolder, 01777));
    const int filled = RunUnprivileged([&]() -> int {
        for (int n = 10000; n <= 99999; ++n) {
            const int fd = ::open(NativePath(TemporaryFileName(tempFolder, n)).constData(), O_WRONLY | O_CREAT | O_EXCL, 0644);
            CHILD_CHECK(fd >= 0);
            ::close(fd);
        }
        return 0;
    });
    QCOMPARE(filled, 0);
    const QString path = file(u"x.txt"_s, "x x");
    for (RunMode mode : {RunMode::Count, RunMode::Replace}) {
        ScriptedHost host({path});
        QCOMPARE(host.run(mode, u"x"_s, u"y"_s).end, End::Completed);
        QVERIFY(host.sink.shown.isEmpty());
        QCOMPARE(host.cells, QStringList {u"       2"_s});
    }
    QCOMPARE(ReadFile(path), "y y"_ba);
    // Nothing of theirs was touched, and nothing of ours is left.
    const QStringList left = TemporaryFilesIn(tempFolder);
    QCOMPARE(left.size(), 90000);
    QVERIFY(!left.join(u' ').contains(u"perrox-"_s));
    for (const QString &name : left)
        QFile::remove(m_temp->filePath(name));
}

// Another user takes every name of the form "~PX" + five digits in a shared
// folder: what Perrox writes beside a file there (a save, a result from
// another file system) draws names nobody can guess, and goes on.
void TestProcessFiles::namesBesideTakenByAnotherUser()
{
    const QString shared = m_dir->filePath(u"shared"_s);
    QVERIFY(QDir().mkpath(shared));
    QVERIFY(setMode(m_dir->path(), 0755));
    QVERIFY(setMode(shared, 01777));
    const int filled = RunUnprivileged([&]() -> int {
        for (int n = 10000; n <= 99999; ++n) {
            const int fd = ::open(NativePath(TemporaryFileName(shared, n)).constData(), O_WRONLY | O_CREAT | O_EXCL, 0644);
            CHILD_CHECK(fd >= 0);
            ::close(fd);
        }
        return 0;
    });
    QCOMPARE(filled, 0);
    QCOMPARE(SaveContents(shared + u"/saved.txt"_s, "saved"), QString());
    QCOMPARE(ReadFile(shared + u"/saved.txt"_s), "saved"_ba);
    // A result made in a TEMP of another file system is copied beside its file first.
    QTemporaryDir elsewhere(u"/dev/shm/perrox-test-XXXXXX"_s);
    if (elsewhere.isValid() && statOf(elsewhere.path()).st_dev != statOf(shared).st_dev) {
        EnvironmentGuard temp("TEMP", NativePath(elsewhere.path()));
        const QString path = file(u"shared/x.txt"_s, "x x");
        ScriptedHost host({path});
        QCOMPARE(host.run(RunMode::Replace, u"x"_s, u"y"_s).end, End::Completed);
        QCOMPARE(host.sink.texts(), QStringList());
        QCOMPARE(ReadFile(path), "y y"_ba);
    }
    const QStringList left = TemporaryFilesIn(shared);
    QCOMPARE(left.size(), 90000);
    for (const QString &name : left)
        QFile::remove(shared + u'/' + name);
}

void TestProcessFiles::deadRunFolders_data()
{
    QTest::addColumn<QString>("layout"); // in TEMP, as make() takes it
    QTest::addColumn<QString>("left"); // what stays in TEMP, sorted, inside folders as "folder/name"
    QTest::newRow("a killed run's folder") << u"TEMP/perrox-Ab12Cd/~PX12345.tmp=old result|TEMP/perrox-Ab12Cd/~PX54321.tmp=x"_s << QString();
    QTest::newRow("an empty one") << u"TEMP/perrox-Ab12Cd/"_s << QString();
    QTest::newRow("a living run's folder") << u"live"_s << u"perrox-*|perrox-*/~PX*.tmp"_s;
    QTest::newRow("another user's") << u"TEMP/perrox-Ab12Cd/~PX12345.tmp=x|TEMP/perrox-Ab12Cd:0700|nobody"_s << u"perrox-Ab12Cd|perrox-Ab12Cd/~PX12345.tmp"_s;
    QTest::newRow("open to others") << u"TEMP/perrox-Ab12Cd/~PX12345.tmp=x|TEMP/perrox-Ab12Cd:0755"_s << u"perrox-Ab12Cd|perrox-Ab12Cd/~PX12345.tmp"_s;
    QTest::newRow("a file by that name") << u"TEMP/perrox-Ab12Cd=not a folder"_s << u"perrox-Ab12Cd"_s;
    QTest::newRow("a link by that name") << u"TEMP/elsewhere/~PX12345.tmp=x|TEMP/elsewhere:0700|TEMP/perrox-Ab12Cd->elsewhere"_s
                                         << u"elsewhere|elsewhere/~PX12345.tmp|perrox-Ab12Cd"_s;
    QTest::newRow("another name") << u"TEMP/perrox-Ab12Cde/~PX12345.tmp=x|TEMP/perrox-Ab12Cde:0700"_s << u"perrox-Ab12Cde|perrox-Ab12Cde/~PX12345.tmp"_s;
    QTest::newRow("what is not ours stays inside") << u"TEMP/perrox-Ab12Cd/~PX12345.tmp=x|TEMP/perrox-Ab12Cd/notes.txt=keep|TEMP/perrox-Ab12Cd/~PX123.tmp=odd"_s
                                                   << u"perrox-Ab12Cd|perrox-Ab12Cd/notes.txt|perrox-Ab12Cd/~PX123.tmp"_s;
    QTest::newRow("a link by a temporary name") << u"TEMP/victim=keep|TEMP/perrox-Ab12Cd/~PX12345.tmp->../victim"_s
                                                << u"perrox-Ab12Cd|perrox-Ab12Cd/~PX12345.tmp|victim"_s;
}

// A run killed with kill -9 leaves its folder in TEMP; the next start
// removes such folders of its own user, and nothing else, without a word.
void TestProcessFiles::deadRunFolders()
{
    QFETCH(QString, layout);
    QFETCH(QString, left);
    std::optional<RunFolder> live;
    std::optional<TemporaryFile> liveFile;
    std::mt19937 rng(1);
    if (layout == u"live"_s) {
        live.emplace();
        QVERIFY(live->create(m_temp->path()));
        liveFile.emplace(live->fd(), live->path(), rng);
        QVERIFY(liveFile->open());
    } else {
        make(qPrintable(QString(layout).remove(u"|nobody"_s)));
        if (layout.endsWith(u"|nobody"_s)) {
            const QByteArray folder = NativePath(m_temp->filePath(u"perrox-Ab12Cd"_s));
            QCOMPARE(::chown(folder.constData(), 65534, 65534), 0);
            QCOMPARE(::chown((folder + "/~PX12345.tmp").constData(), 65534, 65534), 0);
        }
        // A folder made here is private, as a run's own.
        const QString folder = m_temp->filePath(u"perrox-Ab12Cd"_s);
        if (!layout.contains(u"perrox-Ab12Cd:"_s) && QFileInfo(folder).isDir() && !QFileInfo(folder).isSymLink())
            QVERIFY(setMode(folder, 0700));
    }
    QCOMPARE(RemoveDeadRunFolders(m_temp->path()), QString());
    QStringList found;
    QDirIterator it(m_temp->path(), QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot, QDirIterator::Subdirectories);
    while (it.hasNext())
        found.append(QDir(m_temp->path()).relativeFilePath(it.next()));
    found.sort();
    static const QRegularExpression random(u"(perrox-|~PX)[A-Za-z0-9]+"_s);
    if (live)
        found.replaceInStrings(random, u"\\1*"_s);
    QCOMPARE(found.join(u'|'), left);
    QCOMPARE(ReadFile(m_temp->filePath(u"victim"_s)), layout.contains(u"victim"_s) ? "keep"_ba : QByteArray());
    for (const QString &name : QDir(m_temp->path()).entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden | QDir::System)) {
        const QString path = m_temp->filePath(name);
        QVERIFY(QFileInfo(path).isSymLink() || !QFileInfo(path).isDir() ? QFile::remove(path) : QDir(path).removeRecursively());
    }
}

void TestProcessFiles::kernelFiles_data()
{
    QTest::addColumn<QString>("path");
    QTest::newRow("proc, no size") << u"/proc/self/comm"_s;
    QTest::newRow("sysfs, a size of 4096") << u"/sys/kernel/uevent_seqnum"_s;
}

// A file the kernel makes is told by its file system, not by its size: it
// is counted, never written, and nothing is recorded for it.
void TestProcessFiles::kernelFiles()
{
    QFETCH(QString, path);
    if (!QFileInfo(path).isReadable())
        QSKIP("the kernel's file is not there (no /sys mounted)");
    ScriptedHost host({path});
    host.undo = {true, 20, qint64(1) << 30};
    const RunResult result = host.run(RunMode::Replace, {{Notation::Hexadecimal, u"0A"_s, Notation::Characters, u"x"_s}});
    QCOMPARE(host.sink.texts(),
        QStringList {u"The file %1 is made by the kernel, as the files of /proc and /sys are; it was counted but left as it is."_s.arg(path)});
    QCOMPARE(host.cells, QStringList {u"       1"_s});
    QCOMPARE(result.journalRun, QString());
    QCOMPARE(ListRuns().size(), size_t(0));
    QCOMPARE(m_state->records(), QStringList());
}

void TestProcessFiles::linksInASharedFolder_data()
{
    QTest::addColumn<bool>("byNobody"); // the link belongs to nobody, not to the user running Perrox
    QTest::addColumn<bool>("swapped"); // it takes the place of a file between the total and the open
    QTest::addColumn<QString>("message"); // %1 the link's path; empty: followed
    QTest::newRow("planted by another user") << true << false << u"Is a link another user planted in a shared folder - %1"_s;
    QTest::newRow("the user's own") << false << false << QString();
    QTest::newRow("swapped in by another user") << true << true << u"Was replaced by a symbolic link while Perrox was working on it - %1"_s;
}

// In a sticky folder open to everyone, root never follows a link another
// user put there, to a file only root may write.
void TestProcessFiles::linksInASharedFolder()
{
    QFETCH(bool, byNobody);
    QFETCH(bool, swapped);
    QFETCH(QString, message);
    const QString shared = m_dir->filePath(u"sh"_s);
    QVERIFY(QDir().mkpath(shared));
    QVERIFY(QDir().mkpath(m_dir->filePath(u"victim"_s)));
    const QString victim = file(u"victim/secret"_s, "PATTERN of root");
    QVERIFY(setMode(m_dir->path(), 0755));
    QVERIFY(setMode(shared, 01777));
    QVERIFY(setMode(victim, 0600));
    const QString data = file(u"sh/data.txt"_s, "PATTERN"), link = shared + u"/zz-link.txt"_s;
    const auto plant = [&](const QString &at) {
        CHILD_CHECK(::symlink(NativePath(victim).constData(), NativePath(at).constData()) == 0);
        return 0;
    };
    if (!swapped)
        QCOMPARE(byNobody ? RunUnprivileged([&] { return plant(link); }) : plant(link), 0);
    ScriptedHost host(swapped ? QStringList {data} : QStringList {data, link});
    host.onPump = [&] {
        if (swapped && host.log.size() == 1) { // right after the total, before the first open
            QFile::remove(data);
            RunUnprivileged([&] { return plant(data); });
        }
    };
    host.run(RunMode::Replace, u"PATTERN"_s, u"PWNED"_s);
    const QString at = swapped ? data : link;
    QCOMPARE(host.sink.texts(), message.isEmpty() ? QStringList() : QStringList(message.arg(at)));
    QCOMPARE(ReadFile(victim), message.isEmpty() ? "PWNED of root"_ba : "PATTERN of root"_ba);
    QCOMPARE(statOf(victim).st_mode & 07777, 0600u);
}

void TestProcessFiles::tempFolder_data()
{
    QTest::addColumn<QString>("temp"); // "<unset>" for no TEMP
    QTest::addColumn<QString>("tmpdir"); // empty for no TMPDIR
    QTest::addColumn<QString>("expected");
    const QString a = QDir::tempPath() + u"/perrox-a"_s;
    const QString b = QDir::tempPath() + u"/perrox-b"_s;
    QTest::newRow("two folders, the first with a final slash") << a + u"/;"_s + b << QString() << a;
    QTest::newRow("blanks around the first entry") << u"  "_s + a + u"  ;x"_s << QString() << a;
    QTest::newRow("TEMP unset, TMPDIR used") << u"<unset>"_s << b << b;
    QTest::newRow("TEMP set wins over TMPDIR") << a << b << a;
    QTest::newRow("at most 2 characters") << u"/x"_s << b << u"/tmp"_s;
    QTest::newRow("missing folder") << QDir::tempPath() + u"/perrox-missing"_s << QString() << u"/tmp"_s;
    QTest::newRow("TEMP and TMPDIR unset") << u"<unset>"_s << QString() << u"/tmp"_s;
}

void TestProcessFiles::tempFolder()
{
    QFETCH(QString, temp);
    QFETCH(QString, tmpdir);
    QFETCH(QString, expected);
    QDir().mkpath(QDir::tempPath() + u"/perrox-a"_s);
    QDir().mkpath(QDir::tempPath() + u"/perrox-b"_s);
    {
        EnvironmentGuard t("TEMP", temp == u"<unset>"_s ? std::nullopt : std::optional(NativePath(temp)));
        EnvironmentGuard d("TMPDIR", tmpdir.isEmpty() ? std::nullopt : std::optional(NativePath(tmpdir)));
        QCOMPARE(GetTempFolder(), expected);
    }
    QDir().rmdir(QDir::tempPath() + u"/perrox-a"_s);
    QDir().rmdir(QDir::tempPath() + u"/perrox-b"_s);
}

void TestProcessFiles::adjustRight()
{
    QCOMPARE(AdjustRight(5, 8), u"       5"_s);
    QCOMPARE(AdjustRight(-12, 8), u"     -12"_s);
    QCOMPARE(AdjustRight(123456789012LL, 8), u"123456789012"_s);
    QCOMPARE(AdjustRight(0, 0), u"0"_s);
}

QTEST_APPLESS_MAIN(TestProcessFiles)
#include "tst_processfiles.moc"
