#include "commit/rewritejournal.h"
#include "commit/runjournal.h"
#include "commit/safereplace.h"
#include "engine/runreport.h"
#include "engine/undorun.h"
#include "files/filenames.h"
#include "files/filesystem.h"
#include "support/scenario.h"

#include <QDir>
#include <QDirIterator>
#include <QRegularExpression>
#include <QTest>

#include <csignal>
#include <fcntl.h>
#include <filesystem>
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

// A command over the files of a layout (see Scene), its rows the entries listed.
struct Case
{
    const char *name;
    const char *files;
    // 'c' Count, 'r' Replace, 'l' Replace of a first file with a hard link, 't' Replace keeping the times, 'j' Replace with
    // the journal, 'a' Replace As,
    // 'o' Replace As overwriting without asking, 'C', 'R' and 'T' as the user nobody in a child, 'F' Replace in a child
    // that cannot write files past 100000 bytes: runs once for each.
    const char *modes;
    const char *pairs;
    End end;
    int failed;
    const char *cells; // as Scene::cells() writes them
    const char *log; // as Scene::run() gives it, joined by '\n'
    const char *result; // a layout of what must stand afterwards
    const char *meddle = ""; // the Script's
    const char *cancel = "";
    const char *answers = "";
    const char *target = "out";
};

// Replace As of a.txt and b.txt, and the message for a target it does not write through.
#define TARGET_RUN "save dialog\nbegin Replacing... 2\nfile a.txt|to out/a.txt\nfile b.txt|to out/b.txt\n"
#define TARGET_LINK "[1 .] ! Cannot write the result to out/a.txt: it is a symbolic link, and Perrox never writes through a link. It was left as it is.\nend 2"
// Another program changes s/data between the read and the commit.
#define CHANGED_FILES "s/data=one two one two|next=one|+p/secret=top secret|+p/secret:0600|+p:0700"
#define CHANGED_KEPT "next=ONE|p/secret=top secret|p/secret:0600|"
constexpr const char *kChanged = "begin Replacing... 18\nfile s/data|\nfile next|\n[2* .] ! The file s/data was changed by another "
                                 "program while Perrox was working on it; it was left as it is.\nend 18";
// A file to replace in a sticky folder open to everyone, and a file only root may write.
#define SHARED "sh/data.txt=PATTERN|+sh:01777|+victim/secret=PATTERN of root|+victim/secret:0600"

const Case kCases[] = {
    {"no rows", "", "r", "", End::NothingToDo, 0, "", "", ""},
    {"replace of separators only", "a.txt=a", "cra", "a>H:;", End::ArgumentError, 0, ".",
        "[.] ! Cannot find a valid value in the following 'Replace with' field.\r\n;\r\n\r\nCorrect the replace argument and try again.", "a.txt=a"},
    {"find of separators only", "a.txt=a", "c", "H:, ;>a", End::ArgumentError, 0, ".",
        "[.] ! Cannot find a valid value in the following 'Find what' field: \r\n, ;\r\n\r\nCorrect the find argument and try again.", "a.txt=a"},
    {"the first failing pair ends the check", "a.txt=a", "cra", "a>b | D:999> | H:G>", End::ArgumentError, 0, ".",
        "[.] ! An invalid value found in the decimal '999' argument.\r\n\r\nValid decimal values are between '0' and '255'.", "a.txt=a"},
    {"only files with occurrences are rewritten", "with.txt=line\r\nline\r\n|without.txt=nothing here", "r", "D:13 10>", End::Completed, 0, "2* 0",
        "begin Replacing... 24\nfile with.txt|\nfile without.txt|\nend 24", "with.txt=lineline|without.txt=nothing here"},
    // A file listed again, by any name, is processed once, at its first row; the others are left out of the total.
    {"the same path twice", "a.txt=a|a.txt", "rj", "a>aa", End::Completed, 0, "1* .*", "begin Replacing... 1\nfile a.txt|\nend 1", "a.txt=aa"},
    {"the same file by a relative symbolic link, which stays a link", "a.txt=a|link->a.txt|b.txt=a", "rj", "a>aa", End::Completed, 0, "1* . 1*",
        "begin Replacing... 2\nfile a.txt|\nfile b.txt|\nend 2", "a.txt=aa|link->a.txt|b.txt=aa"},
    {"the same file by a hard link", "a.txt=a|hard&a.txt", "r", "a>aa", End::Completed, 0, "1* .", "begin Replacing... 1\nfile a.txt|\nend 1",
        "a.txt=aa|hard=aa"},
    {"the same file counted once", "a.txt=aa|hard&a.txt|link->a.txt|a.txt", "c", "a>b", End::Completed, 0, "2 . . .", "begin Counting... 2\nfile a.txt|\nend 2",
        "a.txt=aa"},
    {"a link first, then the file", "link->d/a.txt|d/a.txt=a", "a", "a>aa", End::Completed, 0, "1 .",
        "save dialog\nbegin Replacing... 1\nfile link|to out/link\nend 1", "d/a.txt=a|out/link=aa|out#1"},
    // Replace As refuses, before it writes anything, two results with one path and a result in a source's place.
    {"replace as, two sources to one target", "a.txt=a|sub/a.txt=aaa", "ao", "a>aa", End::TargetsCollide, 0, ". .",
        "save dialog\n[. .] ! Replace As would write the results of both a.txt and sub/a.txt to out/a.txt.\r\n\r\nNothing was written. Keep the folder "
        "structure, or choose another prefix or suffix, and try again.",
        "out#0|a.txt=a|sub/a.txt=aaa"},
    {"replace as, a name without extension and one ending in a dot", "d/a=a|d/a.=a|d/b=a", "a", "a>aa", End::TargetsCollide, 0, ". . .",
        "save dialog\n[. . .] ! Replace As would write the results of both d/a and d/a. to out/new_a.\r\n\r\nNothing was written. Keep the folder structure, "
        "or choose another prefix or suffix, and try again.",
        "out#0", "", "", "", "out new_"},
    {"replace as, a suffix making a listed name", "out/x.txt=a|out/x_v2.txt=a", "ao", "a>b", End::TargetsCollide, 0, ". .",
        "save dialog\n[. .] ! Replace As would write the result of out/x.txt over out/x_v2.txt, which is listed too (out/x_v2.txt).\r\n\r\nNothing was "
        "written. Choose another folder, prefix or suffix, and try again.",
        "out/x.txt=a|out/x_v2.txt=a", "", "", "", "out  _v2"},
    {"replace as onto its own source", "out/a.txt=a|out/a.txt", "ao", "a>b", End::TargetsCollide, 0, ". .",
        "save dialog\n[. .] ! Replace As would write the result of out/a.txt over that file itself.\r\n\r\nNothing was written. Choose another folder, "
        "prefix or suffix, and try again.",
        "out/a.txt=a"},
    {"replace as onto a source by a link to its folder", "src/a.txt=a|+to-src->src", "a", "a>b", End::TargetsCollide, 0, ".",
        "save dialog\n[.] ! Replace As would write the result of src/a.txt over that file itself.\r\n\r\nNothing was written. Choose another folder, prefix "
        "or suffix, and try again.",
        "src/a.txt=a", "", "", "", "to-src"},
    // Kept folders: below the folder at the paths relative to the folder that holds every source, made as needed.
    {"replace as keeping folders", "s/a.txt=a|s/sub/a.txt=aaa|s/sub/deeper/b.txt=a|s/sub/none.txt=x|+out/sub/", "a", "a>aa", End::Completed, 0, "1 3 1 0",
        "save dialog\nbegin Replacing... 6\nfile s/a.txt|to out/new_a.txt\nfile s/sub/a.txt|to out/sub/new_a.txt\nfile s/sub/deeper/b.txt|to "
        "out/sub/deeper/new_b.txt\nfile s/sub/none.txt|to out/sub/new_none.txt\nend 6",
        "out/new_a.txt=aa|out/sub/new_a.txt=aaaaaa|out/sub/deeper/new_b.txt=aa|out#2|out/sub#2|s/a.txt=a", "", "", "", "out new_  keep"},
    {"replace as keeping folders, asked before overwriting", "s/a.txt=a|t/a.txt=a|+out/t/a.txt=old", "a", "a>b", End::StoppedAtNo, 0, "1 .",
        "save dialog\nbegin Replacing... 2\nfile s/a.txt|to out/s/a.txt\nfile t/a.txt|to out/t/a.txt\n[1 .] ? The file out/t/a.txt already exists.\r\n\r\nDo "
        "you want to overwrite it?\nend 1",
        "out/s/a.txt=b|out/t/a.txt=old", "", "", "", "out   keep"},
    // Never through a link, nor into what is no folder: the row fails, the others go on.
    {"replace as keeping folders, a link in the way", "s/sub/a.txt=a|s/b.txt=a|s/sub/c.txt=a|+elsewhere/|+out/sub->../elsewhere", "ao", "a>b", End::Completed,
        2, "0 1 0",
        "save dialog\nbegin Replacing... 3\nfile s/sub/a.txt|to out/sub/a.txt\n[. . .] ! The folder out/sub is a symbolic link, and Perrox never writes "
        "through a "
        "link.\nfile s/b.txt|to out/b.txt\nfile s/sub/c.txt|to out/sub/c.txt\n[0 1 .] ! The folder out/sub is a symbolic link, and Perrox never writes "
        "through a link.\nend 3",
        "elsewhere#0|out/b.txt=b|out/sub->../elsewhere", "", "", "", "out   keep"},
    // A folder made for a result is held open: renamed and replaced by a link meanwhile, the result still goes into it.
    {"replace as keeping folders, the folder swapped for a link", "s/sub/a.txt=a|s/b.txt=a|+elsewhere/", "a", "a>b", End::Completed, 0, "1 1",
        "save dialog\nbegin Replacing... 2\nfile s/sub/a.txt|to out/sub/a.txt\nfile s/b.txt|to out/b.txt\nend 2",
        "elsewhere#0|out/moved/a.txt=b|out/b.txt=b|out/sub->../elsewhere", "out/moved<out/sub|out/sub->../elsewhere", "", "", "out   keep"},
    {"replace as keeping folders, a file in the way", "s/sub/deep/a.txt=a|s/b.txt=a|+out/sub=file", "a", "a>b", End::Completed, 1, "0 1",
        "save dialog\nbegin Replacing... 2\nfile s/sub/deep/a.txt|to out/sub/deep/a.txt\n[. .] ! out/sub is not a folder, so no result can be written into "
        "it.\nfile s/b.txt|to out/b.txt\nend 2",
        "out/b.txt=b|out/sub=file", "", "", "", "out   keep"},
    // Results wait to be flushed together, but a run that ends at a row leaves exactly the files before it replaced, with
    // the cells and messages of a run that put every result in place at once.
    {"a batch cancelled", "f0.txt=x x|f1.txt=none|f2.txt=x|f3.txt=x|f4.txt=x|f5.txt=x", "r", "x>y", End::Cancelled, 0, "2* 0 1* . . .",
        "begin Replacing... 11\nfile f0.txt|\nfile f1.txt|\nfile f2.txt|\nfile f3.txt|\nend 9", "f0.txt=y y|f2.txt=y|f3.txt=x|f4.txt=x|f5.txt=x", "", "f3.txt"},
    // A cancel confirmed while the results reach the disk leaves the file being processed as it was, the ones before it
    // replaced; one confirmed as the file's result takes its place is too late for it, and says so.
    {"cancelled during the flush", "f0.txt=x|f1.txt=none|f2.txt=x x", "rj", "x>y", End::Cancelled, 0, "1* 0 .",
        "begin Replacing... 8\nfile f0.txt|\nfile f1.txt|\nfile f2.txt|\nend 8", "f0.txt=y|f2.txt=x x", "", "flushed"},
    {"replace as cancelled during the flush", "f0.txt=x|f2.txt=x x", "a", "x>y", End::Cancelled, 0, "1 .",
        "save dialog\nbegin Replacing... 4\nfile f0.txt|to out/f0.txt\nfile f2.txt|to out/f2.txt\nend 4", "out/f0.txt=y|out/f2.txt!|out#1", "", "flushed"},
    {"cancelled as the result is put in place", "f0.txt=x", "rl", "x>y", End::Cancelled, 0, "1*",
        "begin Replacing... 1\nfile f0.txt|\n[1*] ! The file f0.txt was replaced before the run could stop; the files after it are left as they are.\nend 1",
        "f0.txt=y", "", "placing"},
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
    {"replace as overwrites at Yes", "a.txt=a|b.txt=a|c.txt=a|+out/a.txt=old a|+out/b.txt=old b|+out/c.txt=old c", "a", "a>B", End::Completed, 0, "1 1 1",
        "save dialog\nbegin Replacing... 3\nfile a.txt|to out/a.txt\n[. . .] ? The file out/a.txt already exists.\r\n\r\nDo you want to overwrite it?\nfile "
        "b.txt|to out/b.txt\n[1 . .] ? The file out/b.txt already exists.\r\n\r\nDo you want to overwrite it?\nfile c.txt|to out/c.txt\n[1 1 .] ? The file "
        "out/c.txt already exists.\r\n\r\nDo you want to overwrite it?\nend 3",
        "out/a.txt=B|out/b.txt=B|out/c.txt=B", "", "", "yyy"},
    {"replace as, the Save As dialog cancelled", "a.txt=a|+out/a.txt=old a", "a", "a>D", End::TargetCancelled, 0, ".", "save dialog", "out/a.txt=old a", "", "",
        "", ""},
    {"replace as, target names", "report.txt=v1|README=v1|none.txt=nothing", "a", "v1>v2", End::Completed, 0, "1 1 0",
        "save dialog\nbegin Replacing... 11\nfile report.txt|to out/new_report_v2.txt\nfile README|to out/new_README_v2\nfile none.txt|to "
        "out/new_none_v2.txt\nend 11",
        "out/new_report_v2.txt=v2|out/new_README_v2=v2|report.txt=v1|out#2", "", "", "", "out/ new_ _v2"},
    {"cancelled in the second of three files", "1.bin=a*10000|2.bin=a*10000|3.bin=a*10000", "r", "a>b", End::Cancelled, 0, "10000* . .",
        "begin Replacing... 30000\nfile 1.bin|\nfile 2.bin|\nend 14096", "1.bin=b*10000|2.bin=a*10000|3.bin=a*10000", "", "10000"},
    // A result takes the times its source had when it was opened, replaced or rewritten in place.
    {"times kept", "plain.txt=one two one|linked.txt=one|+other.txt&linked.txt|none.txt=two", "t", "one>ONE", End::Completed, 0, "2* 1* 0",
        "begin Replacing... 17\nfile plain.txt|\nfile linked.txt|\nfile none.txt|\nend 17", "plain.txt=ONE two ONE|other.txt=ONE|none.txt=two"},
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
        "changed.txt=x, and more|first.txt=yy|last.txt=y", "changed.txt=x, and more"},
    // The look taken for the total only speeds up the open: whatever stands at the path when the run reaches it is
    // what is opened, or refused.
    {"swapped for another file after the total", "data.txt=x|+swap-in=xxx", "c", "x>y", End::Completed, 0, "3*", "begin Counting... 1\nfile data.txt|\nend 3",
        "swap-in!", "begin:data.txt<swap-in"},
    {"swapped for a pipe after the total", "data.txt=x|+swap-in:pipe", "c", "x>y", End::Completed, 1, "0",
        "begin Counting... 1\nfile data.txt|\n[.] ! Is a named pipe, not a regular file - data.txt\nend 0", "swap-in!", "begin:data.txt<swap-in"},
    // A link put where a file stood leads where whoever put it chose: not followed.
    {"swapped for a link after the total", "data.txt=x|+other.txt=xxx|+swap-in->other.txt", "c", "x>y", End::Completed, 1, "0*",
        "begin Counting... 1\nfile data.txt|\n[.*] ! Was replaced by a symbolic link while Perrox was working on it - data.txt\nend 0",
        "swap-in!|data.txt->other.txt|other.txt=xxx", "begin:data.txt<swap-in"},
    // The kernel's file has no size, yet bytes ("process" once); nothing blocks.
    {"special files, count", "pipe:pipe|socket:socket|/proc/self/comm|plain.txt=process process", "c", "process>P", End::Completed, 2, "0 0 1 2",
        "begin Counting... 15\nfile pipe|\n[. . . .] ! Is a named pipe, not a regular file - pipe\nfile socket|\n[0 . . .] ! Is a socket, not a regular file - "
        "socket\nfile /proc/self/comm|\nfile plain.txt|\nend 31",
        "plain.txt=process process"},
    {"special files, replace", "pipe:pipe|socket:socket|/proc/self/comm|plain.txt=process process", "rj", "process>P", End::Completed, 3, "0 0 1 2*",
        "begin Replacing... 15\nfile pipe|\n[. . . .] ! Is a named pipe, not a regular file - pipe\nfile socket|\n[0 . . .] ! Is a socket, not a regular file "
        "- socket\nfile /proc/self/comm|\nfile plain.txt|\n[0 0 1 .] ! The file /proc/self/comm is made by the kernel, as the files of /proc and /sys are; "
        "it was counted but left as it is.\nend 31",
        "plain.txt=P P"},
    {"special files, replace as", "pipe:pipe|socket:socket|/proc/self/comm|plain.txt=process process", "o", "process>P", End::Completed, 2, "0 0 1 2",
        "save dialog\nbegin Replacing... 15\nfile pipe|to out/pipe\n[. . . .] ! Is a named pipe, not a regular file - pipe\nfile socket|to out/socket\n[0 . . "
        ".] ! Is a socket, not a regular file - socket\nfile /proc/self/comm|to out/comm\nfile plain.txt|to out/plain.txt\nend 31",
        "plain.txt=process process|out/plain.txt=P P|out/comm=tst_Pfile\n"},
    // Replace As never writes through what stands at the target, planted before the run or between the question and
    // the commit.
    {"target a dangling link", "a.txt=a|b.txt=a|+elsewhere/|+out/a.txt->../elsewhere/x", "a", "a>A", End::Completed, 1, "1 1", TARGET_RUN TARGET_LINK,
        "out/b.txt=A|elsewhere/x!|out/a.txt->../elsewhere/x"},
    {"target a link to a file outside", "a.txt=a|b.txt=a|+elsewhere/x=outside|+out/a.txt->../elsewhere/x", "ao", "a>A", End::Completed, 1, "1 1",
        TARGET_RUN TARGET_LINK, "out/b.txt=A|elsewhere/x=outside|out/a.txt->../elsewhere/x"},
    {"target a pipe", "a.txt=a|b.txt=a|+out/a.txt:pipe", "o", "a>A", End::Completed, 1, "1 1",
        TARGET_RUN "[1 .] ! Cannot write the result to out/a.txt: is a named pipe, not a regular file. It was left as it is.\nend 2",
        "out/b.txt=A|out/a.txt:pipe"},
    {"target a folder", "a.txt=a|b.txt=a|+out/a.txt/", "o", "a>A", End::Completed, 1, "1 1",
        TARGET_RUN "[1 .] ! Cannot write the result to out/a.txt: is a directory. It was left as it is.\nend 2", "out/b.txt=A|out/a.txt/"},
    {"target a link planted after the question", "a.txt=a|b.txt=a|+elsewhere/", "a", "a>A", End::Completed, 1, "1 1", TARGET_RUN TARGET_LINK,
        "out/b.txt=A|elsewhere/x!|out/a.txt->../elsewhere/x", "out/a.txt->../elsewhere/x"},
    {"target a file planted after the question", "a.txt=a|b.txt=a", "o", "a>A", End::Completed, 1, "1 1",
        TARGET_RUN "[1 .] ! The file out/a.txt was changed by another program while Perrox was working on it; it was left as it is.\nend 2",
        "out/b.txt=A|out/a.txt=planted", "out/a.txt=planted"},
    // The name in the folder is replaced; the other name keeps its content.
    {"target a hard link to a file outside", "a.txt=a|b.txt=a|+elsewhere/x=outside|+out/a.txt&elsewhere/x", "o", "a>A", End::Completed, 0, "1 1",
        TARGET_RUN "end 2", "out/b.txt=A|elsewhere/x=outside|out/a.txt=A"},
    // Runs have the umask 027: a replaced file keeps its mode, a new one has 0666 less the umask.
    {"the mode of a replaced file", "mode.txt=a|+mode.txt:0751", "r", "a>b", End::Completed, 0, "1*", "begin Replacing... 1\nfile mode.txt|\nend 1",
        "mode.txt=b|mode.txt:0751"},
    {"the mode of a new file", "mode.txt=a|+mode.txt:0751", "a", "a>c", End::Completed, 0, "1",
        "save dialog\nbegin Replacing... 1\nfile mode.txt|to out/mode.txt\nend 1", "out/mode.txt=c|out/mode.txt:0640"},
    // What a user sees who may not replace the file (root's), or may only write into it: the file is rewritten in place,
    // with times of its own, as only the owner may set a file's times.
    {"unprivileged, a read-only file", "+.:0755|+TEMP:0777|s/file=a a a|+s/file:0444|+s:0777", "R", "a>bb", End::CopyFailed, 1, "3",
        "begin Replacing... 5\nfile s/file|\n[3] ! Permission denied - s/file\nend 5", "s/file=a a a|s/file:0444|s/file&"},
    {"unprivileged, a writable file in a read-only folder", "+.:0755|+TEMP:0777|s/file=a a a|+s/file:0666|+s:0555", "RT", "a>bb", End::Completed, 0, "3*",
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
    {"appended", CHANGED_FILES, "rl", "one>ONE", End::Completed, 1, "2* 1*", kChanged, CHANGED_KEPT "s/data=one two one two tail",
        "s/data=one two one two tail"},
    {"deleted", CHANGED_FILES, "rl", "one>ONE", End::Completed, 1, "2 1*",
        "begin Replacing... 18\nfile s/data|\nfile next|\n[2 .] ! The file s/data was changed by another program while Perrox was "
        "working on it; it was left as it is.\nend 18",
        CHANGED_KEPT "s/data!", "s/data!"},
    {"rewritten at the same size", CHANGED_FILES, "rl", "one>ONE", End::Completed, 1, "2* 1*", kChanged, CHANGED_KEPT "s/data=z*15", "s/data=z*15"},
    {"swapped for a link to a private file", CHANGED_FILES, "rl", "one>ONE", End::Completed, 1, "2* 1*", kChanged,
        CHANGED_KEPT "s/data->../p/secret|s/moved=one two one two", "s/moved<s/data|s/data->../p/secret"},
    {"changed by another Perrox run", CHANGED_FILES, "rl", "one>ONE", End::Completed, 1, "2* 1*", kChanged, CHANGED_KEPT "s/data=1 two 1 two", "s/data@one>1"},
    // In a sticky folder open to everyone, root never follows a link another user put there to a file only root may write.
    {"a link planted by another user in a shared folder", SHARED "|sh/zz-link.txt->../victim/secret|+sh/zz-link.txt:nobody", "r", "PATTERN>PWNED",
        End::Completed, 1, "1* 0",
        "begin Replacing... 22\nfile sh/data.txt|\nfile sh/zz-link.txt|\n[1* .] ! Is a link another user planted in a shared folder - sh/zz-link.txt\nend 7",
        "victim/secret=PATTERN of root|victim/secret:0600"},
    {"the user's own link in a shared folder", SHARED "|sh/zz-link.txt->../victim/secret", "r", "PATTERN>PWNED", End::Completed, 0, "1* 1",
        "begin Replacing... 22\nfile sh/data.txt|\nfile sh/zz-link.txt|\nend 22", "victim/secret=PWNED of root|victim/secret:0600"},
    {"a link swapped in by another user in a shared folder", SHARED, "r", "PATTERN>PWNED", End::Completed, 1, "0*",
        "begin Replacing... 7\nfile sh/data.txt|\n[.*] ! Was replaced by a symbolic link while Perrox was working on it - sh/data.txt\nend 0",
        "victim/secret=PATTERN of root|victim/secret:0600", "begin:sh/data.txt!|sh/data.txt->../victim/secret|sh/data.txt:nobody"},
};

} // namespace

Q_DECLARE_METATYPE(perrox::RunMode)

class TestProcessFiles : public QObject
{
    Q_OBJECT

private slots:
    void init() { m_scene.emplace(); }
    // No run may leave a temporary file behind, whatever way it ended, nor a
    // record of a rewrite in place once the rewrite is done.
    void cleanup()
    {
        QCOMPARE(TemporaryFilesIn(m_scene->temp()), QStringList());
        QCOMPARE(TemporaryFilesIn(m_scene->path()), QStringList());
        QCOMPARE(m_scene->state.records(), QStringList());
        m_scene.reset();
    }
    void run_data();
    void run();
    void interruptedRewriteInPlace_data();
    void interruptedRewriteInPlace();
    void namesTakenByAnotherUser_data();
    void namesTakenByAnotherUser();
    void deadRunFolders_data();
    void deadRunFolders();
    void tempFolder_data();
    void tempFolder();
    void threadsAsOne_data();
    void threadsAsOne();

private:
    std::optional<Scene> m_scene;
};

void TestProcessFiles::run_data()
{
    QTest::addColumn<int>("i");
    QTest::addColumn<char>("how");
    for (int i = 0; i < int(std::size(kCases)); ++i)
        for (const char *m = kCases[i].modes; *m; ++m)
            QTest::addRow("%s (%c)", kCases[i].name, *m) << i << *m;
}

void TestProcessFiles::run()
{
    QFETCH(int, i);
    QFETCH(char, how);
    const Case &c = kCases[i];
    const RunMode mode = how == 'c' || how == 'C' ? RunMode::Count : how == 'a' || how == 'o' ? RunMode::ReplaceAs : RunMode::Replace;
    const bool keepTimes = how == 't' || how == 'T';
    const QStringList rows = m_scene->make(c.files);
    if (how == 'l')
        QCOMPARE(::link(NativePath(rows.at(0)).constData(), NativePath(rows.at(0) + u".link"_s).constData()), 0);
    QVERIFY(QDir().mkpath(m_scene->at("out")));
    QVERIFY(!QTest::currentTestFailed());
    const auto body = [&] {
        ScriptedHost host(rows);
        host.keepTimes = keepTimes;
        host.undo.keep = how == 'j';
        const auto [r, log] = m_scene->run(host, mode, c.pairs, {c.target, how == 'o', c.answers, c.cancel, c.meddle});
        QList<struct stat> times; // before a read may move the access time
        for (const QString &row : rows)
            times.append(StatOf(row));
        static const QRegularExpression lineBreak(u"(?<!\r)\n"_s);
        QCOMPARE(log, QString::fromUtf8(c.log).split(lineBreak, Qt::SkipEmptyParts));
        QCOMPARE(m_scene->cells(host), QString::fromUtf8(c.cells));
        QCOMPARE(r.end, c.end);
        QCOMPARE(r.failedFiles, c.failed);
        m_scene->check(c.result);
        for (const RecordingSink::Shown &s : std::as_const(host.sink.shown)) {
            QCOMPARE(s.title, u"Perrox"_s);
            if (s.buttons != MessageSink::Buttons::Ok) {
                QCOMPARE(s.buttons, MessageSink::Buttons::YesNo);
                QCOMPARE(s.icon, MessageSink::Icon::Exclamation);
            }
        }
        // The other name sees what the file is while it is the same file, else what it was.
        if (how == 'l') {
            const auto &[inode, made] = m_scene->made.value(rows.at(0));
            const bool same = !QFileInfo(rows.at(0)).isSymLink() && StatOf(rows.at(0)).st_ino == inode;
            QCOMPARE(ReadFile(rows.at(0) + u".link"_s), same ? ReadFile(rows.at(0)) : made);
        }
        // With the times kept, every result the user may give times has those make() gave its source, to the nanosecond.
        for (size_t row = 0; keepTimes && row < r.rows.size(); ++row) {
            const struct stat &st = times.at(qsizetype(row));
            if (r.rows[row].state == RowState::Replaced && st.st_uid == ::geteuid())
                QCOMPARE((QList<qint64> {st.st_atim.tv_sec, st.st_atim.tv_nsec, st.st_mtim.tv_sec, st.st_mtim.tv_nsec}),
                    (QList<qint64> {981173106, 123456789, 1000000000, 123456789}));
        }
        for (const QString &cell : std::as_const(host.cells))
            if (cell != u"."_s)
                QCOMPARE(cell, cell.trimmed().rightJustified(8));
        const bool begun = !log.filter(QRegularExpression(u"^begin"_s)).isEmpty();
        const QStringList status {u"Calculating the number of bytes to process."_s, u"%1 files"_s.arg(rows.size())};
        // Targets are checked against what the lookup found.
        const bool lookedUp = begun || c.end == End::TargetsCollide;
        QCOMPARE(host.statusTexts, lookedUp ? status : QStringList());
        QCOMPARE(host.sink.busyDepth, 0);
        QCOMPARE(host.sink.busyOnCount > 0, lookedUp);
        if (mode == RunMode::Count)
            QVERIFY(!m_scene->tempSeen);
        if (mode == RunMode::ReplaceAs && host.targetChosen && log.contains(u"save dialog"_s))
            QCOMPARE(host.settings.outpath, host.chosenSettings->outpath);
        QCOMPARE(TemporaryFilesIn(m_scene->at("out")), QStringList());
        // Each row's result agrees with its cell: none where no cell was written, else the cell's count, split by pair.
        QCOMPARE(r.rows.size(), begun ? size_t(rows.size()) : 0);
        QCOMPARE(r.finds.size(), c.end == End::ArgumentError ? 0 : Pairs(c.pairs).size());
        int failed = 0;
        for (size_t row = 0; row < r.rows.size(); ++row) {
            const RowResult &result = r.rows[row];
            const QString cell = host.cells.at(int(row)).trimmed();
            const QByteArray where = rows.at(int(row)).toUtf8() + ' ' + RowStateWord(result.state).toUtf8();
            QVERIFY2((cell == u"."_s) == (result.state == RowState::NotProcessed), where);
            // In a run that went to its end, a row left out is a file listed before, and says which row.
            QVERIFY2((result.sameAs >= 0) == (result.state == RowState::NotProcessed && c.end == End::Completed), where);
            if (result.sameAs >= 0) {
                QVERIFY2(result.sameAs < int(row), where);
                QVERIFY2(RowResultText(result) == u"Not processed: the same file as row %1."_s.arg(result.sameAs + 1), where);
            }
            QVERIFY2(result.count == cell.toLongLong(), where);
            QVERIFY2(result.perPair.size() == r.finds.size(), where);
            QVERIFY2(std::accumulate(result.perPair.begin(), result.perPair.end(), qint64(0)) == result.count, where);
            QVERIFY2((result.state == RowState::Failed) != result.error.isEmpty(), where);
            failed += result.state == RowState::Failed;
            const RowState done = mode == RunMode::Count ? RowState::Counted : result.count > 0 ? RowState::Replaced : RowState::Unchanged;
            QVERIFY2(QList<RowState>({done, RowState::Failed, RowState::NotProcessed}).contains(result.state), where);
            if (result.state == RowState::Replaced) {
                QVERIFY2(result.status.ino != 0, where);
                QVERIFY2(m_scene->tempSeen, where); // the work goes through TEMP
            }
        }
        QCOMPARE(failed, r.failedFiles);
        // The journal keeps what was replaced, nothing else (no file the kernel makes).
        if (how == 'j')
            QCOMPARE(LastUndoableRun().value_or(JournalRun {}).changedFiles(),
                int(std::count_if(r.rows.begin(), r.rows.end(), [](const RowResult &row) { return row.state == RowState::Replaced; })));
    };
    if (!QByteArray("CRTF").contains(how))
        return body();
    const int rc = (how == 'F' ? RunInChild : RunUnprivileged)([&] {
        if (how == 'F') { // writing past 100000 bytes fails with "File too large"
            std::signal(SIGXFSZ, SIG_IGN);
            const struct rlimit limit = {100000, 100000};
            CHILD_CHECK(::setrlimit(RLIMIT_FSIZE, &limit) == 0);
        }
        body();
        return QTest::currentTestFailed() ? 1 : 0;
    });
    QCOMPARE(rc, 0);
}

void TestProcessFiles::interruptedRewriteInPlace_data()
{
    QTest::addColumn<QByteArray>("meanwhile"); // a layout made between the kill and the next start, or "lock"
    QTest::addColumn<QString>("message"); // %1 the file, %2 the kept result; empty: not finished
    const QString stopped = u"Perrox was stopped while it rewrote the file %1"_s;
    const QString kept = u"; it was left as it is. The complete result of that run is kept in %2."_s;
    QTest::newRow("nothing") << QByteArray() << stopped + u" and has now finished it."_s;
    QTest::newRow("another program appended") << "linked.txt%\\z%!"_ba << stopped + u", but another program has changed the file since"_s + kept;
    QTest::newRow("the file was deleted") << "linked.txt!"_ba << stopped + u", but the file is no longer there or is another file now"_s + kept;
    QTest::newRow("the record is in use by a running Perrox") << "lock"_ba << stopped + u" and has now finished it."_s;
}

void TestProcessFiles::interruptedRewriteInPlace()
{
    QFETCH(QByteArray, meanwhile);
    QFETCH(QString, message);
    // Four chunks of 4096 bytes and a few more; the result is longer.
    const QByteArray original = RandomBytes(7, 4 * 4096 + 100, "abc"), expected = QByteArray(original).replace("a", "AA");
    const QString path = m_scene->make("linked.txt=" + original + "|+other-name.txt&linked.txt").value(0), other = m_scene->at("other-name.txt");
    // The run is killed after the first chunk of the rewrite in place.
    QVERIFY(InterruptRewriteInPlace(path, "a", "AA", 4096));
    const QByteArray half = ReadFile(path);
    QCOMPARE(half, expected.left(4096) + original.mid(4096));
    QCOMPARE(m_scene->state.records().size(), 3); // the record, the kept result and the old bytes of the step under way
    const auto recordPath = [&](const QString &suffix) { return m_scene->state.recordFolder() + u'/' + m_scene->state.records().filter(suffix).value(0); };
    const QString kept = recordPath(u".result"_s);
    QCOMPARE(ReadFile(kept), expected);
    // The run's own folder stays behind after a kill; it is nobody else's.
    for (const QString &name : TemporaryFilesIn(m_scene->temp()))
        std::filesystem::remove_all(NativePath(m_scene->temp() + u'/' + name).toStdString());
    if (meanwhile == "lock") {
        const int fd = ::open(NativePath(recordPath(u".record"_s)).constData(), O_RDONLY);
        QCOMPARE(::flock(fd, LOCK_EX | LOCK_NB), 0);
        QCOMPARE(RecoverInterruptedRewrites(), QString()); // somebody else's: left alone
        QCOMPARE(ReadFile(path), half);
        ::close(fd);
    } else {
        m_scene->make(meanwhile, false);
    }
    const QByteArray before = ReadFile(path);
    QCOMPARE(RecoverInterruptedRewrites(), QString(message).replace(u"%1"_s, path).replace(u"%2"_s, kept));
    const bool finished = message.endsWith(u"finished it."_s);
    QCOMPARE(ReadFile(path), finished ? expected : before);
    if (finished)
        QCOMPARE(ReadFile(other), expected);
    // Unfinished, the record is gone and the result stays where the message says.
    QCOMPARE(m_scene->state.records(), finished ? QStringList() : QStringList {GetFileName(kept)});
    if (!finished)
        QVERIFY(QFile::remove(kept));
    QCOMPARE(RecoverInterruptedRewrites(), QString()); // once only
}

void TestProcessFiles::namesTakenByAnotherUser_data()
{
    QTest::addColumn<QByteArray>("taken"); // the folder where another user takes every name "~PX" + five digits
    QTest::addColumn<bool>("far"); // TEMP on another file system: a result is copied beside its file first
    QTest::newRow("in a shared TEMP") << "TEMP"_ba << false;
    QTest::newRow("beside the file, TEMP elsewhere") << "sh"_ba << true;
    QTest::newRow("none, TEMP elsewhere") << QByteArray() << true;
}

// What Perrox writes in TEMP or beside a file draws names nobody can guess,
// and goes on; a result from another file system keeps its file's mode.
void TestProcessFiles::namesTakenByAnotherUser()
{
    QFETCH(QByteArray, taken);
    QFETCH(bool, far);
    const QString path = m_scene->make("sh/x.txt=x x|+sh/x.txt:0604|+.:0755|+sh:01777|+TEMP:01777").value(0), folder = m_scene->at(taken);
    // /dev/shm is a memory file system on a device of its own on most systems.
    QTemporaryDir elsewhere(u"/dev/shm/perrox-test-XXXXXX"_s);
    if (far && (!elsewhere.isValid() || StatOf(elsewhere.path()).st_dev == StatOf(path).st_dev))
        QSKIP("no second file system for temporary files here");
    const EnvironmentGuard temp("TEMP", NativePath(far ? elsewhere.path() : m_scene->temp()));
    const int filled = taken.isEmpty() ? 0 : RunUnprivileged([&]() -> int {
        for (int n = 10000; n <= 99999; ++n) {
            const int fd = ::open(NativePath(TemporaryFileName(folder, n)).constData(), O_WRONLY | O_CREAT | O_EXCL, 0644);
            CHILD_CHECK(fd >= 0);
            ::close(fd);
        }
        return 0;
    });
    QCOMPARE(filled, 0);
    QCOMPARE(SaveContents(m_scene->at("sh/saved.txt"), "saved"), QString());
    QCOMPARE(ReadFile(m_scene->at("sh/saved.txt")), "saved"_ba);
    for (RunMode mode : {RunMode::Count, RunMode::Replace}) {
        ScriptedHost host({path});
        QCOMPARE(host.run(mode, u"x"_s, u"y"_s).end, End::Completed);
        QCOMPARE(host.sink.texts(), QStringList());
        QCOMPARE(host.cells, QStringList {u"       2"_s});
    }
    QCOMPARE(ReadFile(path), "y y"_ba);
    QCOMPARE(StatOf(path).st_mode & 07777, 0604u);
    QCOMPARE(TemporaryFilesIn(elsewhere.path()), QStringList());
    // Nothing of theirs was touched, and nothing of ours is left.
    const QStringList left = taken.isEmpty() ? QStringList() : TemporaryFilesIn(folder);
    QCOMPARE(left.size(), taken.isEmpty() ? 0 : 90000);
    QVERIFY(!left.join(u' ').contains(u"perrox-"_s));
    for (const QString &name : left)
        QFile::remove(folder + u'/' + name);
}

void TestProcessFiles::deadRunFolders_data()
{
    QTest::addColumn<QByteArray>("layout"); // in TEMP; "live" a living run's folder
    QTest::addColumn<QString>("left"); // what stays in TEMP, sorted, inside folders as "folder/name"
    QTest::newRow("a killed run's folder") << "TEMP/perrox-Ab12Cd/~PX12345.tmp=old result|TEMP/perrox-Ab12Cd/~PX54321.tmp=x|TEMP/perrox-Ab12Cd:0700"_ba
                                           << QString();
    QTest::newRow("an empty one") << "TEMP/perrox-Ab12Cd/|TEMP/perrox-Ab12Cd:0700"_ba << QString();
    QTest::newRow("a living run's folder") << "live"_ba << u"perrox-*|perrox-*/~PX*.tmp"_s;
    QTest::newRow("another user's")
        << "TEMP/perrox-Ab12Cd/~PX12345.tmp=x|TEMP/perrox-Ab12Cd:0700|TEMP/perrox-Ab12Cd:nobody|TEMP/perrox-Ab12Cd/~PX12345.tmp:nobody"_ba
        << u"perrox-Ab12Cd|perrox-Ab12Cd/~PX12345.tmp"_s;
    QTest::newRow("open to others") << "TEMP/perrox-Ab12Cd/~PX12345.tmp=x|TEMP/perrox-Ab12Cd:0755"_ba << u"perrox-Ab12Cd|perrox-Ab12Cd/~PX12345.tmp"_s;
    QTest::newRow("a file by that name") << "TEMP/perrox-Ab12Cd=not a folder"_ba << u"perrox-Ab12Cd"_s;
    QTest::newRow("a link by that name") << "TEMP/elsewhere/~PX12345.tmp=x|TEMP/elsewhere:0700|TEMP/perrox-Ab12Cd->elsewhere"_ba
                                         << u"elsewhere|elsewhere/~PX12345.tmp|perrox-Ab12Cd"_s;
    QTest::newRow("another name") << "TEMP/perrox-Ab12Cde/~PX12345.tmp=x|TEMP/perrox-Ab12Cde:0700"_ba << u"perrox-Ab12Cde|perrox-Ab12Cde/~PX12345.tmp"_s;
    QTest::newRow("what is not ours stays inside")
        << "TEMP/perrox-Ab12Cd/~PX12345.tmp=x|TEMP/perrox-Ab12Cd/notes.txt=keep|TEMP/perrox-Ab12Cd/~PX123.tmp=odd|TEMP/perrox-Ab12Cd:0700"_ba
        << u"perrox-Ab12Cd|perrox-Ab12Cd/notes.txt|perrox-Ab12Cd/~PX123.tmp"_s;
    QTest::newRow("a link by a temporary name") << "TEMP/victim=keep|TEMP/perrox-Ab12Cd/~PX12345.tmp->../victim|TEMP/perrox-Ab12Cd:0700"_ba
                                                << u"perrox-Ab12Cd|perrox-Ab12Cd/~PX12345.tmp|victim"_s;
}

// A run killed with kill -9 leaves its folder in TEMP; the next start
// removes such folders of its own user, and nothing else, without a word.
void TestProcessFiles::deadRunFolders()
{
    QFETCH(QByteArray, layout);
    QFETCH(QString, left);
    const QString temp = m_scene->temp();
    RunFolder live;
    std::mt19937 rng(1);
    std::optional<TemporaryFile> liveFile;
    if (layout == "live") {
        QVERIFY(live.create(temp));
        liveFile.emplace(live.fd(), live.path(), rng);
        QVERIFY(liveFile->open());
    } else {
        m_scene->make(layout);
    }
    QCOMPARE(RemoveDeadRunFolders(temp), QString());
    QStringList found;
    QDirIterator it(temp, QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot, QDirIterator::Subdirectories);
    while (it.hasNext())
        found.append(QDir(temp).relativeFilePath(it.next()));
    found.sort();
    static const QRegularExpression random(u"(perrox-|~PX)[A-Za-z0-9]+"_s);
    if (liveFile)
        found.replaceInStrings(random, u"\\1*"_s);
    QCOMPARE(found.join(u'|'), left);
    if (left.contains(u"victim"_s))
        m_scene->check("TEMP/victim=keep");
    liveFile.reset();
    for (const QString &name : QDir(temp).entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden | QDir::System))
        std::filesystem::remove_all(NativePath(temp + u'/' + name).toStdString());
}

void TestProcessFiles::tempFolder_data()
{
    QTest::addColumn<QString>("temp"); // "<unset>" for no TEMP
    QTest::addColumn<QString>("tmpdir"); // empty for no TMPDIR
    QTest::addColumn<QString>("expected");
    const QString a = QDir::tempPath() + u"/perrox-a"_s, b = QDir::tempPath() + u"/perrox-b"_s;
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

QTEST_APPLESS_MAIN(TestProcessFiles)
#include "tst_processfiles.moc"

// Every call of a run that shows something or asks for a cancel, in order.
class TracingHost : public ScriptedHost
{
public:
    using ScriptedHost::ScriptedHost;
    void setRowCount(int row, const QString &cell) override
    {
        trace << u"cell %1 %2"_s.arg(row).arg(cell);
        ScriptedHost::setRowCount(row, cell);
    }
    void progress(double position) override { trace << u"at %1"_s.arg(qint64(position)); }
    void showFile(const QString &status1, const QString &) override { trace << u"file "_s + status1; }
    void fileFailed(int row, const QString &message) override
    {
        trace << u"failed "_s + QString::number(row) + u' ' + message;
        ScriptedHost::fileFailed(row, message);
    }
    bool cancelRequested() override
    {
        trace << u"cancel?"_s;
        return ScriptedHost::cancelRequested();
    }
    QStringList trace;
};

void TestProcessFiles::threadsAsOne_data()
{
    QTest::addColumn<RunMode>("mode");
    QTest::addColumn<bool>("regex");
    QTest::addColumn<int>("cancelAt"); // the cancel check that is answered Yes, from 1; 0 none
    for (const RunMode mode : {RunMode::Count, RunMode::Replace}) {
        for (const bool regex : {false, true}) {
            for (const int at : {0, 1, 4, 90, 400, 1100})
                QTest::addRow("%s, %s, cancel at %d", mode == RunMode::Count ? "count" : "replace", regex ? "a pattern" : "literals", at)
                    << mode << regex << at;
        }
    }
}

// A run opens and counts its files ahead on threads (a Replace rewrites
// those with occurrences itself), yet the host sees what one thread shows,
// call for call, and a Replace leaves the same files: over files listed
// twice, files that cannot be read, an empty one, one the run reads itself
// (over 4 MiB), and a cancel at any block.
void TestProcessFiles::threadsAsOne()
{
    QFETCH(RunMode, mode);
    QFETCH(bool, regex);
    QFETCH(int, cancelAt);
    QByteArray layout = "pipe:pipe|gone!|empty=|link->f3|hard&f4|f5|big=a*4500000";
    // Enough rows that their lookup is shared out between threads as well.
    for (int i = 0; i < 150; ++i)
        layout = "f" + QByteArray::number(i) + "=a*" + QByteArray::number(i % 24 * 1531 + 1) + "|" + layout;
    QStringList rows = m_scene->make(layout + "|f9");
    const FindReplaceArguments pairs
        = regex ? FindReplaceArguments {{.findNotation = Notation::Regex, .findText = u"A{3}"_s, .replaceText = {}, .ignoreCase = true}} : Pairs("aa>b | a>c");
    struct Seen
    {
        QStringList trace, cells, shown, log; // log: the total the run began with
        End end;
        int failed;
        QStringList rows;
        qint64 blockSize;
        QMap<QByteArray, QByteArray> files; // after a Replace
    };
    const auto count = [&](int threads) {
        // Each Replace starts from the same files, in a folder of its own.
        if (mode == RunMode::Replace && threads > 1) {
            m_scene.emplace();
            rows = m_scene->make(layout + "|f9");
        }
        TracingHost host(rows);
        host.state.threads = threads;
        int checks = 0;
        host.cancelWhen = [&] { return ++checks == cancelAt; };
        const RunResult r = host.run(mode, pairs);
        const auto relative = [&](QStringList texts) {
            for (QString &text : texts)
                text = m_scene->relative(text);
            return texts;
        };
        Seen seen {relative(host.trace), relative(host.cells), relative(host.sink.texts()), host.log, r.end, r.failedFiles, {}, host.state.lngBlockSize,
            m_scene->entries()};
        for (const RowResult &row : r.rows) {
            const qint64 file = mode == RunMode::Count ? qint64(row.status.ino) : row.status.ino != 0;
            QStringList fields {QString::number(int(row.state)), m_scene->relative(row.error), QString::number(row.sameAs), QString::number(file)};
            for (const qint64 n : row.perPair)
                fields << QString::number(n);
            seen.rows << fields.join(u' ');
        }
        return seen;
    };
    const Seen one = count(1);
    QCOMPARE(one.end, cancelAt == 0 ? End::Completed : End::Cancelled);
    if (cancelAt == 0)
        QCOMPARE(one.failed, 2);
    for (const int threads : {2, 8}) {
        const Seen many = count(threads);
        QCOMPARE(many.trace, one.trace);
        QCOMPARE(many.cells, one.cells);
        QCOMPARE(many.shown, one.shown);
        QCOMPARE(many.log, one.log);
        QCOMPARE(many.end, one.end);
        QCOMPARE(many.failed, one.failed);
        QCOMPARE(many.rows, one.rows);
        QCOMPARE(many.blockSize, one.blockSize);
        QCOMPARE(many.files, one.files);
    }
}
