#include "arguments/pairchecks.h"
#include "batch/terminalhost.h"
#include "engine/runreport.h"
#include "files/filesystem.h"
#include "support/scenario.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QRandomGenerator>
#include <QRegularExpression>
#include <QTest>

#include <cerrno>
#include <csignal>
#include <numeric>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

using namespace perrox;
using namespace perrox::test;
using namespace Qt::StringLiterals;

namespace {

// What perrox-batch writes to stderr for a command line it refuses.
QByteArray usage(const char *error)
{
    return "perrox-batch: " + QByteArray(error) + "\nTry 'perrox-batch --help' for more information.\n";
}

QByteArray noFile(int error, const char *name)
{
    return NativePath(SystemErrorText(error)) + " - " + name + '\n';
}

const QByteArray InvalidHex = "An invalid value found in the hexadecimal 'GG' argument.\n\nValid hexadecimal values are between '00' and 'FF'.\n";
const QByteArray NoPair = "Cannot find any Find&Replace arguments.\n\nEnter Find&Replace arguments and try again.\n";

// The folder every run starts from, names as bytes.
const QByteArray Fixture
    = "a.txt=aGG|bad.args=<FIND TYPE=ASC>a</FIND><REPLACE TYPE=ASC>b</REPLACE><FIND TYPE=HEX>GG</FIND><REPLACE TYPE=ASC>x</REPLACE>|"
      "n.txt=AB\r\nAB\r\nx|data.txt=abcde|"
      "one.args=<FIND TYPE=ASC>b</FIND><REPLACE TYPE=ASC>2</REPLACE>\r\n<FIND TYPE=HEX>63</FIND><REPLACE TYPE=ASC>3</REPLACE>\r\n|"
      "two.args=<FIND TYPE=DEC>100</FIND><REPLACE TYPE=ASC>4</REPLACE>\r\n|"
      "a\xff.args=<FIND TYPE=ASC>cat</FIND><REPLACE TYPE=ASC>cow</REPLACE>\r\n|dir/cafe.txt=cat|dir/caf\xe9.txt=cat|out\xe9/caf\xe9.txt=keep|"
      "shared/a.txt=a|shared/pipe:pipe|shared/socket:socket|empty/|tree/top.txt=cat|tree/.hidden.txt=cat|tree/skip.bak=cat|"
      "tree/single.bak=cat cat|tree/Backup/old.txt=cat|tree/src/a.txt=cat|tree/src/Backup/deep.txt=cat|tree/src/lib/b.TXT=cat|"
      "u8.txt=un caf\xc3\xa9, deux caf\xc3\xa9s|links/real.txt=cat|links/gone->nowhere|p.txt=Cat cat catalog caf\xc3\xa9 cat\xc3\xa9 CAT_x tomcat|"
      "flags.args=<FIND TYPE=ASC CASE=IGNORE WORD=YES>cat</FIND><REPLACE TYPE=ASC>dog</REPLACE>\r\n|twice/a.txt=cat|twice/hard&twice/a.txt|"
      "twice/link->a.txt";

// A run from Fixture: every entry not named in changes stays as it was, and no other entry appears.
struct BatchCase
{
    const char *name;
    const char *command; // arguments separated by blanks, or by "|" where one holds a blank
    const char *out = ""; // "<count> <name> ...": one line per file
    QByteArray changes = {}; // "<name>=<content>|...": the entries that differ afterwards
    int exitCode = 0;
    QByteArray err = {};
};

const BatchCase Runs[] = {
    // Text as a Linux shell gives it: utf8: finds the UTF-8 bytes, characters their Windows-1252 bytes.
    {"utf8 count", "--find utf8:caf\xc3\xa9 --with x --find caf\xc3\xa9 --with y u8.txt", "2 u8.txt"},
    {"utf8 replace", "--replace --no-undo --find utf8:caf\xc3\xa9 --with utf8:th\xc3\xa9\xe2\x86\x92 u8.txt", "2 u8.txt",
        "u8.txt=un th\xc3\xa9\xe2\x86\x92, deux th\xc3\xa9\xe2\x86\x92s"},
    {"utf8 sides saved", "--find utf8:\xc3\xa9 --with UTF8:\xd0\x96 --save-arguments bad.args", "",
        "bad.args=<FIND TYPE=UTF8>\xc3\xa9</FIND><REPLACE TYPE=UTF8>\xd0\x96</REPLACE>\r\n"},
    {"a character windows-1252 lacks", "--find asc:\xd0\x96 --with x u8.txt", "", "", 2,
        "An invalid value found in the characters '\xd0\x96' argument.\n\nCharacters are the 256 characters of Windows-1252; choose the UTF-8 notation for any "
        "other character.\n"},
    {"utf8 that is not", "--find x --with utf8:a\xe9 u8.txt", "", "", 2,
        "An invalid value found in the UTF-8 'a\xe9' argument.\n\nA UTF-8 text holds whole characters only; choose the Hex notation for single bytes.\n"},
    // Refused command lines touch nothing.
    {"no pair", "a.txt", "", "", 2, usage("no --find/--with pair given")},
    {"find without with", "--find a a.txt", "", "", 2, usage("--find 'a' is not followed by --with")},
    {"with without find", "--with a a.txt", "", "", 2, usage("--with must follow a --find")},
    {"two modes", "--count --replace --find a --with b a.txt", "", "", 2, usage("only one of --count, --replace and --replace-as may be given")},
    {"a plan and a path", "--replace --apply-plan p.json a.txt", "", "", 2,
        usage("--apply-plan takes no --find/--with pair, argument file or PATH: the plan holds them")},
    {"a plan and a pair", "--replace --find a --with b --apply-plan p.json", "", "", 2,
        usage("--apply-plan takes no --find/--with pair, argument file or PATH: the plan holds them")},
    {"a plan counted", "--apply-plan p.json", "", "", 2, usage("--apply-plan needs --replace or --replace-as")},
    {"a plan with -i", "--replace -i --apply-plan p.json", "", "", 2,
        usage("--apply-plan takes no --ignore-case or --word-regexp: the plan's pairs carry them")},
    {"a plan made by replace", "--replace --plan p.json --find a --with b a.txt", "", "", 2,
        usage("--plan is made by --count; --replace and --replace-as take --apply-plan")},
    {"no file", "--find a --with b", "", "", 2, usage("no file given")},
    {"unknown option with a value", "--frobnicate=1 a.txt", "", "", 2, usage("unrecognized option '--frobnicate=1'")},
    {"missing value", "a.txt --find", "", "", 2, usage("option '--find' requires an argument")},
    {"save twice", "--find a --with b --save-arguments x --save-arguments=y", "", "", 2, usage("--save-arguments may be given only once")},
    {"arguments inside a pair", "--find a --arguments f.txt --with b a.txt", "", "", 2, usage("--find 'a' is not followed by --with")},
    {"arguments without a name", "--arguments= a.txt", "", "", 2, usage("--arguments needs a file name")},
    {"not a folder", "--replace-as no\xe9 --find cat --with dog dir", "", "", 2, usage("'no\xe9' is not a folder")},
    // Every pair is checked before any file is, even when the paths hold no file.
    {"invalid pair given", "--replace --find a --with b --find hex:GG --with x a.txt", "", "", 2, InvalidHex},
    {"missing argument file", "--arguments nope.args a.txt", "", "", 2, noFile(ENOENT, "nope.args")},
    {"no pair in the file", "--arguments a.txt a.txt", "", "", 2, NoPair},
    {"invalid pair, empty folder", "--find dec:256 --with x empty", "", "", 2,
        "An invalid value found in the decimal '256' argument.\n\nValid decimal values are between '0' and '255'.\n"},
    {"invalid pair not saved over a file", "--arguments bad.args --save-arguments bad.args a.txt", "", "", 2, InvalidHex},
    {"nothing to save", "--arguments a.txt --save-arguments out.args", "", "", 2,
        "Cannot read Find&Replace arguments:\n" + NativePath(SystemErrorText(ERANGE)) + '\n'},
    {"save into a missing folder", "--find a --with b --save-arguments no/out.args a.txt", "", "", 1, noFile(ENOENT, "no/out.args")},
    // Without a path the arguments are only saved, over a longer file; with one they are saved before the run, in pair
    // order, with the notations as given.
    {"argument files",
        "--replace --find a --with 1 --arguments one.args --find=e --with=hex:35 --find=x --with= --arguments=two.args --save-arguments all.args data.txt",
        "5 data.txt",
        "data.txt=12345|all.args=<FIND TYPE=ASC>a</FIND><REPLACE TYPE=ASC>1</REPLACE>\r\n<FIND TYPE=ASC>b</FIND><REPLACE TYPE=ASC>2</REPLACE>\r\n"
        "<FIND TYPE=HEX>63</FIND><REPLACE TYPE=ASC>3</REPLACE>\r\n<FIND TYPE=ASC>e</FIND><REPLACE TYPE=HEX>35</REPLACE>\r\n"
        "<FIND TYPE=ASC>x</FIND><REPLACE TYPE=ASC></REPLACE>\r\n<FIND TYPE=DEC>100</FIND><REPLACE TYPE=ASC>4</REPLACE>\r\n"},
    // Every file under a folder, hidden ones included, a folder's own files before its subfolders; a file given by name
    // is taken whatever the masks.
    {"folder", "--find cat --with dog --exclude-files *.bak tree tree/single.bak",
        "1 tree/.hidden.txt 1 tree/top.txt 1 tree/Backup/old.txt 1 tree/src/a.txt 1 tree/src/Backup/deep.txt 1 tree/src/lib/b.TXT 2 tree/single.bak"},
    {"folder masks", "--replace --find cat --with dog --exclude-folders=backup --include-files *.txt --include-folders src;lib tree/",
        "1 tree/.hidden.txt 1 tree/top.txt 1 tree/src/a.txt 1 tree/src/lib/b.TXT",
        "tree/.hidden.txt=dog|tree/top.txt=dog|tree/src/a.txt=dog|tree/src/lib/b.TXT=dog"},
    // Mask lists lose their blanks as in the options dialog: blanks alone are no list.
    {"blanks around masks", "--find|cat|--with|dog|--include-files|  |--exclude-folders| backup |tree",
        "1 tree/.hidden.txt 2 tree/single.bak 1 tree/skip.bak 1 tree/top.txt 1 tree/src/a.txt 1 tree/src/lib/b.TXT"},
    // After "--" every argument is a path; "-" always is.
    {"paths after --", "--find a --with b -- --odd-name -", "0 --odd-name 0 -", "", 1, noFile(ENOENT, "--odd-name") + noFile(ENOENT, "-")},
    // Names that are no UTF-8 pass through as bytes.
    {"found in a folder", "--replace --find cat --with dog dir", "1 dir/cafe.txt 1 dir/caf\xe9.txt", "dir/cafe.txt=dog|dir/caf\xe9.txt=dog"},
    {"missing", "--find cat --with dog miss\xe9", "0 miss\xe9", "", 1, noFile(ENOENT, "miss\xe9")},
    {"file mask", "--include-files *\xe9.txt --find cat --with dog dir", "1 dir/caf\xe9.txt"},
    {"argument file", "--replace --arguments a\xff.args dir/caf\xe9.txt", "1 dir/caf\xe9.txt", "dir/caf\xe9.txt=cow"},
    // A notation's prefix in any case, only the first one taken; without one, characters.
    {"saved argument file", "--find asc:dec:1 --with HEX:48 --find plain:text --with dec: --save-arguments s\xe9.args", "",
        "s\xe9.args=<FIND TYPE=ASC>dec:1</FIND><REPLACE TYPE=HEX>48</REPLACE>\r\n<FIND TYPE=ASC>plain:text</FIND><REPLACE TYPE=DEC></REPLACE>\r\n"},
    // Replace As: a prefix or suffix cannot lead out of the folder.
    {"replace as", "--replace-as out\xe9 --suffix _\xe9 --find cat --with dog dir/caf\xe9.txt", "1 dir/caf\xe9.txt", "out\xe9/caf\xe9_\xe9.txt=dog"},
    {"replace as, prefix", "--replace-as out\xe9 --prefix ../ --suffix -v:2 --find cat --with dog dir/cafe.txt", "1 dir/cafe.txt", "out\xe9/..cafe-v2.txt=dog"},
    {"overwrite", "--replace-as out\xe9 --overwrite --find cat --with dog dir/caf\xe9.txt", "1 dir/caf\xe9.txt", "out\xe9/caf\xe9.txt=dog"},
    // Pipes and sockets never block a run (one that does fails after a minute).
    {"a scanned folder", "--replace --find a --with b shared", "1 shared/a.txt 0 shared/pipe 0 shared/socket", "shared/a.txt=b", 1,
        "Is a named pipe, not a regular file - shared/pipe\nIs a socket, not a regular file - shared/socket\n"},
    // A link to nothing found in a folder is no file, so no failure; named, it is one.
    {"a dangling link in a folder", "--count --find cat --with dog links", "1 links/real.txt"},
    {"a dangling link named", "--count --find cat --with dog links/gone", "0 links/gone", "", 1, noFile(ENOENT, "links/gone")},
    // A file listed again (a hard link, a link, its own path) is processed at its first place only.
    {"a file listed twice", "--replace --no-undo --quiet --find cat --with catcat twice twice/a.txt", "1 twice/a.txt", "twice/a.txt=catcat|twice/hard=catcat",
        0,
        "perrox-batch: twice/hard: not processed: the same file as row 1 (twice/a.txt)\nperrox-batch: twice/link: not processed: the same file as row 1 "
        "(twice/a.txt)\nperrox-batch: twice/a.txt: not processed: the same file as row 1 (twice/a.txt)\n"},
    // Replace As: results that would collide are refused before anything is written; kept folders keep them apart.
    {"replace as, two files of one name", "--replace-as out\xe9 --find a --with b a.txt shared/a.txt", "", "", 2,
        "Replace As would write the results of both a.txt and shared/a.txt to out\xe9/a.txt.\n\nNothing was written. Keep the folder structure, or choose "
        "another prefix or suffix, and try again.\n"},
    {"replace as onto its source", "--replace-as dir --find cat --with dog dir/cafe.txt", "", "", 2,
        "Replace As would write the result of dir/cafe.txt over that file itself.\n\nNothing was written. Choose another folder, prefix or suffix, and try "
        "again.\n"},
    {"replace as, a file listed twice", "--replace-as out\xe9 --find cat --with dog dir/cafe.txt dir/cafe.txt", "1 dir/cafe.txt", "out\xe9/cafe.txt=dog", 0,
        "perrox-batch: dir/cafe.txt: not processed: the same file as row 1 (dir/cafe.txt)\n"},
    {"replace as, folders kept", "--replace-as out\xe9 --keep-folders --find a --with b a.txt shared/a.txt", "1 a.txt 1 shared/a.txt",
        "out\xe9/a.txt=bGG|out\xe9/shared=<folder>|out\xe9/shared/a.txt=b"},
    {"replace as, the folders under a folder kept", "--replace-as out\xe9 --keep-folders --find cat --with dog tree/src",
        "1 tree/src/a.txt 1 tree/src/Backup/deep.txt 1 tree/src/lib/b.TXT",
        "out\xe9/a.txt=dog|out\xe9/Backup=<folder>|out\xe9/Backup/deep.txt=dog|out\xe9/lib=<folder>|out\xe9/lib/b.TXT=dog"},
    // --fail-none: 4 only for a completed run without an occurrence and without a failed file.
    {"fail-none, no file", "--fail-none --find cat --with dog empty", "", "", 4},
    {"fail-none, a failed file", "--fail-none --find zzz --with y a.txt missing.txt", "0 a.txt 0 missing.txt", "", 1, noFile(ENOENT, "missing.txt")},
    {"unknown format", "--format=xml a.txt", "", "", 2, usage("--format needs text, csv or json, not 'xml'")},
    // Pairs that never match, or whose replacement holds a find, are warned about before anything else, numbered over the
    // argument files too; a later shorter find is no such pair, and --quiet silences the warnings alone.
    {"warnings, equal finds", "--find a --with xa --find a --with a --find GG --with x --find G --with y a.txt missing.txt", "2 a.txt 0 missing.txt", "", 1,
        "perrox-batch: warning: The replace sequence of pair 1 contains its own find sequence: a second run would replace again.\n"
        "perrox-batch: warning: Pair 2 can never match: the find sequence of pair 1 is the same or its beginning, and is searched first.\n"
        "perrox-batch: warning: The replace sequence of pair 2 contains the find sequence of pair 1: a second run would replace again.\n"
            + noFile(ENOENT, "missing.txt")},
    {"quiet", "--quiet --find a --with b --find a --with c --find a --with a a.txt missing.txt", "1 a.txt 0 missing.txt", "", 1, noFile(ENOENT, "missing.txt")},
    {"warning, argument file, only saved", "--arguments one.args --find hex:62,0a --with a --save-arguments s.args", "",
        "s.args=<FIND TYPE=ASC>b</FIND><REPLACE TYPE=ASC>2</REPLACE>\r\n<FIND TYPE=HEX>63</FIND><REPLACE TYPE=ASC>3</REPLACE>\r\n"
        "<FIND TYPE=HEX>62,0a</FIND><REPLACE TYPE=ASC>a</REPLACE>\r\n",
        0, "perrox-batch: warning: Pair 3 can never match: the find sequence of pair 1 is the same or its beginning, and is searched first.\n"},
    {"keep times", "--replace --keep-times --find b --with B data.txt", "1 data.txt", "data.txt=aBcde"},
    // Patterns: -i and -w for every pair, argument files per pair; a wildcard is a find's only; regex: finds, with
    // templates; a match longer than the bound fails its file.
    {"ignore case, whole words", "-i -w --find cat --with dog p.txt", "2 p.txt"},
    {"matching from an argument file, -i saved where it folds", "-i --arguments flags.args --find hex:41 --with x --save-arguments s.args p.txt", "3 p.txt",
        "s.args=<FIND TYPE=ASC CASE=IGNORE WORD=YES>cat</FIND><REPLACE TYPE=ASC>dog</REPLACE>\r\n<FIND TYPE=HEX>41</FIND><REPLACE TYPE=ASC>x</REPLACE>\r\n"},
    {"wildcards", "--find hex:63,??,74 --with x --find dec:?,97 --with y p.txt", "6 p.txt"},
    {"regular expressions and templates", "--replace --no-undo --find regex:c(a)t --with d$1g --find regex:(?<x>o)m --with ${x}${x} p.txt", "5 p.txt",
        "p.txt=Cat dag dagalog caf\xc3\xa9 dag\xc3\xa9 CAT_x toodag"},
    {"threads of none", "--threads 0 --find a --with b a.txt", "", "", 2, usage("--threads needs a whole number from 1 to 1024, not '0'")},
    {"a match longer than the bound", "--max-match-size 4 --find regex:c.+g --with x p.txt", "0 p.txt", "", 1,
        "A match at byte 4 is longer than 4 bytes, the longest a match may be - p.txt\n"},
    {"regex: on a replacement", "--find a --with regex:b p.txt", "", "", 2, usage("--with 'regex:b': regex: is for --find only")},
    {"a wildcard in a replacement", "--find a --with hex:?? p.txt", "", "", 2,
        "An invalid value found in the hexadecimal '?"
        "?' argument.\n\nValid hexadecimal values are between '00' and 'FF'.\n"},
    {"an invalid regular expression", "--find regex:a(b --with x p.txt", "", "", 2,
        "An invalid value found in the regular expression 'a(b' argument: missing closing parenthesis at character 4.\n\nA regular expression is "
        "matched against the bytes of the files; the help says what it may hold.\n"},
    {"a pattern that matches nothing at all", "--find regex:x* --with y p.txt", "", "", 2,
        "A regular expression that can match an empty sequence found: its replacement would go in at every position.\n\nChange it so that every "
        "match takes at least one byte.\n"},
};

// --format json on every way a row and a run can end; the report read back must agree with itself.
struct ReportCase
{
    const char *name;
    const char *command; // as in BatchCase
    QByteArray pairs; // "<find hex>:<replace hex>:<count>[:<the pair it never matches because of>] ..."
    QByteArray files; // "<path>=<result>:<count>:<counts per pair>|..."
    const char *end;
    int exitCode;
    QByteArray err = {}; // a final "*" stands for any text
    const char *modes = nullptr; // a layout made after Fixture; run as nobody
};

const ReportCase Reports[] = {
    {"counted", "--fail-none --find a --with b --find GG --with x --find a --with c a.txt data.txt", "61:62:2 4747:78:1 61:63:0:1",
        "a.txt=counted:2:1,1,0|data.txt=counted:1:1,0,0", "completed", 0,
        "perrox-batch: warning: Pair 3 can never match: the find sequence of pair 1 is the same or its beginning, and is searched first.\n"},
    {"replaced, unchanged, failed", "--replace --find cat --with dog --find=hex:0d --with= dir/cafe.txt n.txt a.txt missing.txt", "636174:646f67:1 0d::2",
        "dir/cafe.txt=replaced:1:1,0|n.txt=replaced:2:0,2|a.txt=unchanged:0:0,0|missing.txt=failed:0:0,0", "completed", 1, noFile(ENOENT, "missing.txt")},
    {"not processed after a No", "--replace-as out\xe9 --find cat --with dog dir/cafe.txt dir/caf\xe9.txt tree/top.txt", "636174:646f67:1",
        "dir/cafe.txt=replaced:1:1|dir/caf\xe9.txt=not processed:0:0|tree/top.txt=not processed:0:0", "stopped at No", 3,
        "The file out\xe9/caf\xe9.txt already exists.\n\nDo you want to overwrite it? [y/N] n\n"},
    // The read-only file's result is not put in place, which ends the run: the waiting result after it is dropped.
    {"unprivileged, a read-only file", "--replace --no-undo --find a --with bb a.txt data.txt", "61:6262:1", "a.txt=failed:1:1|data.txt=not processed:0:0",
        "commit failed", 1, "Permission denied - a.txt\n", "+.:0777|+TEMP:0777|+a.txt:0444"},
    // The run ends before a.txt: what failed is the run's temporary folder, not the file.
    {"unprivileged, no temporary folder", "--replace --no-undo --find G --with x data.txt a.txt", "47:78:0", "data.txt=unchanged:0:0|a.txt=not processed:0:0",
        "setup failed", 1, "Permission denied - *", "+.:0755|+TEMP:0755"},
    {"a file listed twice", "--replace --no-undo --find cat --with dog dir/cafe.txt dir", "636174:646f67:2",
        "dir/cafe.txt=replaced:1:1|dir/cafe.txt=not processed@1:0:0|dir/caf\xe9.txt=replaced:1:1", "completed", 0,
        "perrox-batch: dir/cafe.txt: not processed: the same file as row 1 (dir/cafe.txt)\n"},
};

// A plan made by a Count, maybe edited ("key/0/key=value", a value that is a number set as one, nothing after "=" removes
// the entry; "raw:TEXT" the whole plan), its files maybe changed (a layout), then applied: exit code, entries that
// differ, stderr (a final "*" stands for any text).
struct PlanCase
{
    const char *name;
    const char *count;
    const char *edit;
    QByteArray meddle;
    const char *mode;
    int exitCode;
    QByteArray changes;
    QByteArray err = {};
};

const QByteArray DogP = "p.txt=dog dog dogalog caf\xc3\xa9 dog\xc3\xa9 dog_x tomdog";
const QByteArray ChangedP = "The file p.txt has changed since its occurrences were listed; it was left as it is. Count again to list its occurrences afresh.\n";
const PlanCase Plans[] = {
    {"exact", "-i --find cat --with dog p.txt dir/cafe.txt n.txt", "", "", "--replace", 0, DogP + "|dir/cafe.txt=dog"},
    {"replace as", "-i --find cat --with dog p.txt dir/cafe.txt", "", "", "--replace-as empty", 0,
        "empty/p.txt=dog dog dogalog caf\xc3\xa9 dog\xc3\xa9 dog_x tomdog|empty/cafe.txt=dog"},
    {"a regex with a template", "--find regex:(?i)(c)(a)t --with $2$1 --find o --with 0 p.txt", "", "", "--replace", 0,
        "p.txt=aC ac acal0g caf\xc3\xa9 ac\xc3\xa9 AC_x t0mac"},
    {"whole words", "-w --find Cat --with X --find regex:(c)(a)t --with $2$1 p.txt", "", "", "--replace", 0,
        "p.txt=X ac catalog caf\xc3\xa9 cat\xc3\xa9 CAT_x tomcat"},
    {"a deleted entry is left alone", "-i --find cat --with dog p.txt dir/cafe.txt", "files/0/occurrences/1=", "", "--replace", 0,
        "p.txt=dog cat dogalog caf\xc3\xa9 dog\xc3\xa9 dog_x tomdog|dir/cafe.txt=dog"},
    {"a deleted file is left alone", "-i --find cat --with dog p.txt dir/cafe.txt", "files/0=", "", "--replace", 0, "dir/cafe.txt=dog"},
    // The same size and time: only the hash tells.
    {"changed file", "-i --find cat --with dog p.txt dir/cafe.txt", "", "p.txt=Dog cat catalog caf\xc3\xa9 cat\xc3\xa9 CAT_x tomcat", "--replace", 1,
        "p.txt=Dog cat catalog caf\xc3\xa9 cat\xc3\xa9 CAT_x tomcat|dir/cafe.txt=dog", ChangedP},
    {"vanished file", "--find cat --with dog p.txt dir/cafe.txt", "", "p.txt!", "--replace", 1, "dir/cafe.txt=dog", noFile(ENOENT, "p.txt")},
    {"invalid json", "--find cat --with dog p.txt", "raw:{\"pairs\": [", "", "--replace", 2, "", "perrox-batch: plan.json: not valid JSON*"},
    {"no pairs", "--find cat --with dog p.txt", "raw:{\"pairs\": [], \"files\": []}", "", "--replace", 2, "",
        "perrox-batch: plan.json: the plan: pairs is empty\n"},
    // Every file is checked before any is written.
    {"offset outside", "--find cat --with dog dir/cafe.txt p.txt", "files/1/occurrences/0/offset=40", "", "--replace", 2, "",
        "perrox-batch: plan.json: The occurrence at offset 40 of p.txt (3 bytes) lies outside the file, which holds 40 bytes.\n"},
    {"overlap", "--find cat --with dog dir/cafe.txt p.txt", "files/1/occurrences/0/offset=7", "", "--replace", 2, "",
        "perrox-batch: plan.json: The occurrence at offset 8 of p.txt overlaps the one before it, or comes before it.\n"},
    {"not a match", "--find cat --with dog dir/cafe.txt p.txt", "files/1/occurrences/0/offset=1", "", "--replace", 2, "",
        "perrox-batch: plan.json: The bytes at offset 1 of p.txt (3 bytes) are no match of pair 0.\n"},
    {"not a match by length", "--find regex:cat\\w* --with x p.txt", "files/0/occurrences/1/length=3", "", "--replace", 2, "",
        "perrox-batch: plan.json: The bytes at offset 8 of p.txt (3 bytes) are no match of pair 0.\n"},
    {"not a match in case", "--find cat --with dog p.txt", "files/0/occurrences/0/offset=0", "", "--replace", 2, "",
        "perrox-batch: plan.json: The bytes at offset 0 of p.txt (3 bytes) are no match of pair 0.\n"},
    {"a match folding case", "--find cat --with dog -i p.txt", "files/0/occurrences/0=", "", "--replace", 0,
        "p.txt=Cat dog dogalog caf\xc3\xa9 dog\xc3\xa9 dog_x tomdog"},
    {"pair out of range", "--find cat --with dog p.txt", "files/0/occurrences/0/pair=1", "", "--replace", 2, "",
        "perrox-batch: plan.json: The occurrence at offset 4 of p.txt names pair 1, which does not exist.\n"},
    {"path missing", "--find cat --with dog p.txt", "files/0/path=", "", "--replace", 2, "",
        "perrox-batch: plan.json: files[0]: path is missing or not a text\n"},
    {"a file twice", "--find cat --with dog p.txt", "files/1=", "", "--replace", 2, "", "perrox-batch: plan.json: files[1]: names p.txt a second time\n"},
    {"pair bytes that disagree", "--find cat --with dog p.txt", "pairs/0/replace_text=cow", "", "--replace", 2, "",
        "perrox-batch: plan.json: pairs[0]: find and replace do not hold the bytes of find_text and replace_text\n"},
};

QJsonValue Edited(const QJsonValue &at, QStringList path, const QJsonValue &value)
{
    if (path.isEmpty())
        return value;
    const QString key = path.takeFirst();
    const bool remove = path.isEmpty() && value.isUndefined();
    if (at.isArray()) {
        QJsonArray a = at.toArray();
        // Past the end: the entry before it, once more.
        const qsizetype i = key.toInt();
        i < a.size() ? (remove ? a.removeAt(i) : void(a[i] = Edited(a[i], path, value))) : a.append(a.last());
        return a;
    }
    QJsonObject o = at.toObject();
    remove ? o.remove(key) : void(o[key] = Edited(o[key], path, value));
    return o;
}

} // namespace

// perrox-batch end to end on real files: output lines, exit codes, messages; and the report and warnings it gives.
class TestBatch : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase() { qputenv("LC_ALL", "C.UTF-8"); }
    void init()
    {
        m_scene.emplace();
        m_scene->batchProgram = PERROX_BATCH_BINARY;
    }
    void cleanup()
    {
        QCOMPARE(TemporaryFilesIn(m_scene->temp()), QStringList());
        m_scene.reset();
    }

    void runs_data() { AddRows(Runs); }
    void runs()
    {
        QFETCH(int, row);
        const BatchCase &run = Runs[row];
        m_scene->make(Fixture);
        QMap<QByteArray, QByteArray> expected = m_scene->entries();
        for (const QByteArray &change : run.changes.split('|'))
            if (!change.isEmpty())
                expected[change.left(change.indexOf('='))] = change.mid(change.indexOf('=') + 1);
        const QByteArray command(run.command);
        QByteArray out;
        const QByteArrayList counts = QByteArray(run.out).split(' ');
        for (qsizetype i = 0; i + 1 < counts.size(); i += 2)
            out += counts.at(i).rightJustified(8) + "  " + counts.at(i + 1) + '\n';
        QCOMPARE(m_scene->batch(command.split(command.contains('|') ? '|' : ' ')), Batch(run.exitCode, out, run.err));
        const QMap<QByteArray, QByteArray> after = m_scene->entries();
        QCOMPARE(after.keys(), expected.keys());
        QCOMPARE(after.values(), expected.values());
        for (const QByteArray &entry : m_scene->entries(command.contains("--keep-times"))) // with its source's time, the one make() gave every file
            if (entry.startsWith('['))
                QCOMPARE(entry.split(' ').value(3), "1000000000.123456789"_ba);
    }

    // A plan applied replaces what it lists and nothing else, or is refused before anything is written; unedited, it
    // does what a plain run does; and its run is undone as any other.
    void plans_data() { AddRows(Plans); }
    void plans()
    {
        QFETCH(int, row);
        const PlanCase &c = Plans[row];
        m_scene->make(Fixture);
        QCOMPARE(std::get<0>(m_scene->batch(("--count --plan plan.json " + QByteArray(c.count)).split(' '))), 0);
        const QByteArray edit(c.edit);
        QByteArray plan = ReadFile(m_scene->at("plan.json"));
        if (edit.startsWith("raw:")) {
            plan = edit.mid(4);
        } else if (!edit.isEmpty()) {
            const QByteArray value = edit.mid(edit.indexOf('=') + 1);
            bool number = false;
            const qint64 n = value.toLongLong(&number);
            const QJsonValue v = value.isEmpty() ? QJsonValue(QJsonValue::Undefined) : number ? QJsonValue(n) : QJsonValue(QString::fromUtf8(value));
            plan = QJsonDocument(Edited(QJsonDocument::fromJson(plan).object(), QString::fromUtf8(edit.left(edit.indexOf('='))).split(u'/'), v).toObject())
                       .toJson();
        }
        QVERIFY(WriteFile(m_scene->at("plan.json"), plan));
        m_scene->make(c.meddle);
        QMap<QByteArray, QByteArray> expected = m_scene->entries();
        const QMap<QByteArray, QByteArray> before = expected;
        for (const QByteArray &change : c.changes.split('|'))
            if (!change.isEmpty())
                expected[change.left(change.indexOf('='))] = change.mid(change.indexOf('=') + 1);
        const QByteArrayList mode = QByteArray(c.mode).split(' ');
        const auto [code, out, err] = m_scene->batch(mode + QByteArrayList {"--apply-plan", "plan.json"});
        QVERIFY2(c.err.endsWith('*') ? err.startsWith(c.err.chopped(1)) : err == c.err, err.constData());
        QCOMPARE(code, c.exitCode);
        QCOMPARE(m_scene->entries(), expected);
        if (code != 0)
            return;
        if (edit.isEmpty()) {
            Scene plain;
            plain.batchProgram = PERROX_BATCH_BINARY;
            plain.make(Fixture);
            QCOMPARE(std::get<0>(plain.batch(mode + QByteArrayList {"--no-undo"} + QByteArray(c.count).split(' '))), 0);
            expected.remove("plan.json");
            QCOMPARE(plain.entries(), expected);
        }
        QCOMPARE(std::get<0>(m_scene->batch({"--undo"})), 0);
        QCOMPARE(m_scene->entries(), before);
    }

    void reports_data() { AddRows(Reports); }
    void reports()
    {
        QFETCH(int, row);
        const ReportCase &c = Reports[row];
        if (c.modes && ::geteuid() != 0)
            QSKIP("needs root to run as nobody");
        m_scene->make(Fixture);
        m_scene->make(c.modes);
        const auto [code, out, err] = m_scene->batch(("--format json " + QByteArray(c.command)).split(' '), {.unprivileged = c.modes != nullptr});
        QCOMPARE(code, c.exitCode);
        QVERIFY2(c.err.endsWith('*') ? err.startsWith(c.err.chopped(1)) : err == c.err, err.constData());
        // Read back: each file's counts per pair add up to its count; the pairs' counts and the totals add up the files.
        const QJsonObject report = QJsonDocument::fromJson(out).object(), t = report[u"totals"].toObject();
        QStringList files, pairs;
        std::vector<qint64> byPair(size_t(report[u"pairs"].toArray().size())), pairCounts, totals(4); // files, with occurrences, occurrences, failed
        for (const QJsonValue &f : report[u"files"].toArray()) {
            QStringList perPair;
            const qint64 count = f[u"count"].toInteger(-1), failed = f[u"result"] == u"failed"_s;
            for (const QJsonValue n : f[u"per_pair"].toArray())
                perPair << QString::number(n.toInteger()), byPair.at(size_t(perPair.size() - 1)) += n.toInteger();
            QCOMPARE(f[u"error"].isNull(), !failed);
            if (failed)
                QVERIFY(err.contains(NativePath(f[u"error"].toString())));
            QCOMPARE(std::accumulate(perPair.begin(), perPair.end(), qint64(0), [](qint64 sum, const QString &n) { return sum + n.toLongLong(); }), count);
            totals = {totals[0] + 1, totals[1] + (count > 0), totals[2] + count, totals[3] + failed};
            const QString sameAs = f[u"same_as"].isNull() ? QString() : u'@' + QString::number(f[u"same_as"].toInt());
            QCOMPARE(sameAs.isEmpty(), f[u"result"] != u"not processed"_s || report[u"end"] != u"completed"_s);
            files << f[u"path"].toString() + u'=' + f[u"result"].toString() + sameAs + u':' + QString::number(count) + u':' + perPair.join(u',');
        }
        for (const QJsonValue &p : report[u"pairs"].toArray()) {
            pairCounts.push_back(p[u"count"].toInteger());
            pairs << QStringList {p[u"find"].toString(), p[u"replace"].toString(), QString::number(pairCounts.back())}.join(u':')
                    + (p[u"never_matches_because_of"].isNull() ? QString() : u':' + QString::number(p[u"never_matches_because_of"].toInt()));
        }
        QCOMPARE(std::tuple(files.join(u'|'), pairs.join(u' '), report[u"end"].toString(), out.right(2), pairCounts),
            std::tuple(DecodeNativePath(c.files), QString::fromLatin1(c.pairs), QString::fromLatin1(c.end), QByteArray("}\n"), byPair));
        QCOMPARE(
            std::vector<qint64>({t[u"files"].toInteger(), t[u"files_with_occurrences"].toInteger(), t[u"occurrences"].toInteger(), t[u"failed"].toInteger()}),
            totals);
    }

    // CSV quotes what needs it: read back as RFC 4180 says, every path comes back as its bytes.
    void csvReport()
    {
        QByteArrayList command {"--format=csv", "--replace", "--find", "x", "--with", "y", "--find", "q", "--with", "z"};
        QList<QByteArrayList> expected {{"path", "count", "result", "pair1", "pair2"}};
        for (const QByteArray name : {"plain.txt", "com,ma", "q\"uo\"te\"", "new\nline", "cr\r\nlf\r", "cr\ralone", "caf\xe9,\"", "missing"}) {
            const bool missing = name == "missing";
            const qsizetype x = missing ? 0 : name.count('x') + 2, q = missing ? 0 : name.count('q');
            if (!missing)
                QVERIFY(WriteFile(m_scene->at(name), name + "xx"));
            command << name;
            expected << QByteArrayList {name, QByteArray::number(x + q), missing ? "failed" : "replaced", QByteArray::number(x), QByteArray::number(q)};
        }
        const auto [code, out, err] = m_scene->batch(command);
        QCOMPARE(std::pair(code, err), std::pair(1, noFile(ENOENT, "missing")));
        QCOMPARE(readCsv(out), expected);
        QCOMPARE(RunTotalsText({1, 0, 0, 0, 0}), u"0 occurrences in 0 of 1 file"_s);
        // Paths the run never reached are not processed.
        QCOMPARE(ReportCsv({RunMode::Count, {"x"}, {"y"}, {u"a,b"_s}, {}, RunResult::End::SetupFailed}),
            QByteArray("path,count,result,pair1\r\n\"a,b\",0,not processed,0\r\n"));
    }

    void helpAndVersion()
    {
        const Batch help = m_scene->batch({"--help"}), version = m_scene->batch({"--version"});
        QCOMPARE(std::pair(std::get<0>(help), std::get<1>(help).left(20)), std::pair(0, "Usage: perrox-batch "_ba));
        QCOMPARE(std::pair(std::get<0>(version), std::get<1>(version).left(28)), std::pair(0, "perrox-batch (Perrox) 1.2.0\n"_ba));
    }

    void progressBarLine_data()
    {
        QTest::addColumn<QString>("call"); // percent width file
        QTest::addColumn<QString>("line");
        const QString half = u"[###############...............]  50%  "_s; // 39 characters: 10 left of 50 columns
        QTest::newRow("fits") << u"50 80 a.txt"_s << half + u"a.txt"_s;
        QTest::newRow("fits exactly") << u"50 50 0123456789"_s << half + u"0123456789"_s;
        QTest::newRow("cut at the front") << u"50 50 0123456789a"_s << half + u"...456789a"_s;
        QTest::newRow("a pair is not cut") << u"50 50 012345678\U0001F600abcdef"_s << half + u"...abcdef"_s;
        QTest::newRow("no room") << u"0 21 a"_s << u"[..............................]   0%  ..."_s;
        QTest::newRow("full") << u"100 80 x"_s << u"[##############################] 100%  x"_s;
    }
    void progressBarLine()
    {
        QFETCH(QString, call);
        QFETCH(QString, line);
        const QStringList in = call.split(u' ');
        QCOMPARE(ProgressBarLine(in.at(0).toInt(), in.at(2), in.at(1).toInt()), line);
    }

    void interruptLeavesFileAndNoTemporary_data()
    {
        QTest::addColumn<QByteArray>("format");
        QTest::addColumn<int>("signal");
        QTest::addColumn<QByteArray>("out"); // %1 the path
        QTest::newRow("text") << QByteArray("text") << int(SIGINT) << QByteArray();
        QTest::newRow("text, terminated") << QByteArray("text") << int(SIGTERM) << QByteArray();
        QTest::newRow("text, hung up") << QByteArray("text") << int(SIGHUP) << QByteArray();
        QTest::newRow("json")
            << QByteArray("json") << int(SIGINT)
            << QByteArray("{\"end\":\"cancelled\",\"files\":[{\"count\":0,\"error\":null,\"path\":\"big.bin\",\"per_pair\":[0],\"result\":"
                          "\"not processed\",\"same_as\":null}],\"mode\":\"replace\",\"pairs\":[{\"count\":0,\"find\":\"505258\",\"never_matches_because_of\":"
                          "null,\"replace\":\"78\"}],\"totals\":{\"failed\":0,\"files\":1,\"files_with_occurrences\":0,\"occurrences\":0}}\n");
    }
    void interruptLeavesFileAndNoTemporary()
    {
        QFETCH(QByteArray, format);
        QFETCH(int, signal);
        QFETCH(QByteArray, out);
        // A large sparse file keeps the run busy long enough to interrupt it.
        const QString path = m_scene->make("big.bin=PRX").value(0);
        QCOMPARE(::truncate(NativePath(path).constData(), qint64(8) << 30), 0);
        const struct stat before = StatOf(path);
        const pid_t pid = m_scene->start({"--format", format, "--replace", "--find", "PRX", "--with", "x", "big.bin"});
        QTRY_VERIFY_WITH_TIMEOUT(!TemporaryFilesIn(m_scene->temp()).isEmpty(), 20000);
        ::kill(pid, signal);
        const auto [code, stdOut, err] = m_scene->finish(pid);
        QCOMPARE(std::pair(code, stdOut), std::pair(130, out)); // the row was not finished
        QCOMPARE(std::pair(StatOf(path).st_ino, StatOf(path).st_size), std::pair(before.st_ino, before.st_size));
        QFile big(path);
        QVERIFY(big.open(QIODevice::ReadOnly));
        QCOMPARE(big.read(3), QByteArray("PRX"));
    }

    // A Count's files are opened and counted ahead on threads, yet what it
    // writes and how it ends is byte for byte what one thread gives: over
    // files that cannot be read (a pipe, a socket, a link to nowhere, a
    // missing file), files listed twice (a hard link, a link, the same path),
    // a file the run counts itself (over 4 MiB), in every format.
    void threadsAsOne_data()
    {
        QTest::addColumn<QByteArray>("command");
        QTest::addColumn<int>("exitCode");
        QTest::newRow("text") << "--find|cat|--with|dog|.|twice/a.txt|gone.txt"_ba << 1;
        QTest::newRow("json, patterns") << "--format|json|-i|--find|regex:ca[tf]|--with|x|--find|a|--with|b|big|twice|tree"_ba << 0;
        QTest::newRow("csv, nothing found") << "--format|csv|--fail-none|--find|zzz|--with|y|tree|links|shared|big"_ba << 1;
        QTest::newRow("text, nothing found") << "--fail-none|--find|zzz|--with|y|tree|big|twice"_ba << 4;
    }
    void threadsAsOne()
    {
        QFETCH(QByteArray, command);
        QFETCH(int, exitCode);
        m_scene->make(Fixture + "|big/x.bin=a*4500000|big/y.txt=cat a");
        const Batch one = m_scene->batch(QByteArrayList {"--threads", "1"} + command.split('|'));
        QCOMPARE(std::get<0>(one), exitCode);
        QVERIFY(std::get<1>(one).size() >= 60);
        for (const char *threads : {"2", "7"})
            QCOMPARE(m_scene->batch(QByteArrayList {"--threads", threads} + command.split('|')), one);
        QCOMPARE(m_scene->batch(command.split('|')), one);
    }

    // Under tight limits a run never hangs or aborts: where the system gives
    // no thread it works on its own, with few file descriptors it flushes
    // its results one by one, and what it cannot do it reports (exit 1),
    // every file whole.
    void limits_data()
    {
        QTest::addColumn<int>("resource");
        QTest::addColumn<int>("value");
        QTest::addColumn<bool>("unprivileged");
        QTest::addColumn<bool>("mayFail"); // exit 1 with a message is right too
        QTest::newRow("no thread beside the run") << int(RLIMIT_NPROC) << 1 << true << false;
        QTest::newRow("sixteen file descriptors") << int(RLIMIT_NOFILE) << 16 << false << false;
        QTest::newRow("ten file descriptors") << int(RLIMIT_NOFILE) << 10 << false << true;
        QTest::newRow("a small address space") << int(RLIMIT_AS) << 60000 * 1024 << false << true;
    }
    void limits()
    {
        QFETCH(int, resource);
        QFETCH(int, value);
        QFETCH(bool, unprivileged);
        QFETCH(bool, mayFail);
#ifdef PERROX_SANITIZE
        if (resource != RLIMIT_NOFILE)
            QSKIP("the sanitizers' runtime needs threads and address space of its own");
#endif
        const QByteArray files = "f1.txt=hello f1.txt|+f1.txt:0666|f2.txt=hello f2.txt|+f2.txt:0666|f3.txt=hello f3.txt|+f3.txt:0666";
        m_scene->make(files + "|+.:0777|+TEMP:01777");
        const auto [code, out, error] = m_scene->batch({"--replace", "--find", "hello", "--with", "HI", "f1.txt", "f2.txt", "f3.txt"},
            {.unprivileged = unprivileged, .resource = resource, .limit = rlim_t(value)});
        QCOMPARE(error.isEmpty(), code == 0);
        if (code != 0) {
            QVERIFY2(mayFail, error.constData());
            QCOMPARE(code, 1);
        }
        for (const char *name : {"f1.txt", "f2.txt", "f3.txt"}) {
            const QByteArray now = ReadFile(m_scene->at(name)), old = "hello " + QByteArray(name);
            QCOMPARE(now, code == 0 || now != old ? "HI " + QByteArray(name) : old);
        }
    }

    // Without HOME and XDG_STATE_HOME, the home the password database names
    // holds the journal; an account without one (nobody's is /nonexistent)
    // replaces without a journal, and says so.
    void noHome()
    {
        m_scene->make("h.txt=hello|+h.txt:0666|+.:0777|+TEMP:01777");
        QCOMPARE(m_scene->batch({"--replace", "--find", "hello", "--with", "HI", "h.txt"}, {.unprivileged = true, .unset = {"HOME", "XDG_STATE_HOME"}}),
            Batch(0, "       1  h.txt\n",
                "Cannot keep a copy for Undo: neither XDG_STATE_HOME nor HOME is set, and your account has no home folder to keep it in. The files are "
                "replaced all the same; this run cannot be undone.\n"));
        m_scene->check("h.txt=HI");
    }

    // A name that holds a control character cannot split a line of the text
    // output or reach the terminal as a command: it is quoted as ls quotes it.
    void terminalNames_data()
    {
        QTest::addColumn<QByteArray>("name");
        QTest::addColumn<QByteArray>("shown");
        QTest::newRow("blanks, bytes of another encoding") << "a b\xe9.txt"_ba
                                                           << "a b\xe9.txt"_ba;
        QTest::newRow("a newline") << "a\nb"_ba
                                   << "'a'$'\\n''b'"_ba;
        QTest::newRow("an escape sequence") << "x\x1b[31my"_ba
                                            << "'x'$'\\033''[31my'"_ba;
        QTest::newRow("an apostrophe and a tab at the end") << "it's\t"_ba
                                                            << "'it'\\''s'$'\\t'"_ba;
        QTest::newRow("delete and carriage return first") << "\x7f\rz"_ba
                                                          << "$'\\177'$'\\r''z'"_ba;
    }
    void terminalNames()
    {
        QFETCH(QByteArray, name);
        QFETCH(QByteArray, shown);
        QCOMPARE(TerminalName(DecodeNativePath(name)), shown);
    }

    // Any run first finishes a rewrite in place that was stopped, and says
    // so, and removes what the killed run left in TEMP without a word.
    void finishesAnInterruptedRewriteFirst()
    {
        const QByteArray original = RandomBytes(3, 3 * 4096 + 10, "ab"), expected = QByteArray(original).replace('a', 'A');
        const QString path = m_scene->make("linked.txt=" + original + "|+other.txt&linked.txt|c.txt=x").value(0);
        QVERIFY(InterruptRewriteInPlace(path, "a", "A", 4096));
        QVERIFY(ReadFile(path) != expected);
        QCOMPARE(TemporaryFilesIn(m_scene->temp()).size(), 2); // the killed run's folder and its temporary file
        const QByteArrayList count {"--count", "--find", "x", "--with", "y", "c.txt"};
        QCOMPARE(m_scene->batch(count),
            Batch(0, "       1  c.txt\n",
                "Perrox was stopped while it rewrote the file " + NativePath(QFileInfo(path).canonicalFilePath()) + " and has now finished it.\n"));
        m_scene->check("linked.txt=" + expected + "|other.txt=" + expected);
        QCOMPARE(m_scene->state.records(), QStringList());
        QCOMPARE(TemporaryFilesIn(m_scene->temp()), QStringList());
        QCOMPARE(m_scene->batch(count), Batch(0, "       1  c.txt\n", {}));
    }

    // The indexed pair checks give what checking every pair against every
    // other gives, over many pairs of few letters, where finds are often
    // equal, prefixes of each other and parts of replacements: a later find
    // that an earlier one equals or starts never matches, and a replacement
    // that holds a find would be replaced again; empty finds take no part.
    void checkPairsAgainstOracle_data()
    {
        QTest::addColumn<int>("seed");
        QTest::addColumn<QByteArray>("alphabet");
        QTest::addColumn<int>("maxLength");
        QTest::newRow("two letters, short") << 1 << "ab"_ba << 3;
        QTest::newRow("three letters, longer") << 2 << "abc"_ba << 6;
        QTest::newRow("any byte, with empty finds") << 3 << QByteArray() << 2;
    }
    void checkPairsAgainstOracle()
    {
        QFETCH(int, seed);
        QFETCH(QByteArray, alphabet);
        QFETCH(int, maxLength);
        QRandomGenerator rng {quint32(seed)};
        const auto word = [&](int minLength) {
            QByteArray w;
            for (int n = minLength + int(rng.bounded(maxLength - minLength + 1)); n > 0; --n)
                w.append(alphabet.isEmpty() ? char(rng.bounded(256)) : alphabet.at(rng.bounded(int(alphabet.size()))));
            return w;
        };
        std::vector<QByteArray> finds, replaces;
        for (int i = 0; i < 300; ++i) {
            finds.push_back(word(alphabet.isEmpty() ? 0 : 1));
            replaces.push_back(word(0) + word(0));
        }
        const std::vector<PairWarning> warnings = CheckPairs(finds, replaces);
        for (size_t i = 0; i < finds.size(); ++i) {
            int shadowedBy = -1, replacementFinds = -1;
            for (size_t j = 0; j < i && shadowedBy < 0 && !finds[i].isEmpty(); ++j)
                if (!finds[j].isEmpty() && finds[i].startsWith(finds[j]))
                    shadowedBy = int(j);
            for (size_t j = 0; j < finds.size() && replacementFinds < 0; ++j)
                if (!finds[j].isEmpty() && replaces[i].contains(finds[j]))
                    replacementFinds = int(j);
            QCOMPARE(warnings[i].shadowedBy, shadowedBy);
            QCOMPARE(warnings[i].replacementFinds, replacementFinds);
            QCOMPARE(warnings[i].any(), shadowedBy >= 0 || replacementFinds >= 0);
        }
    }

private:
    // Records by RFC 4180, each ended by CR LF: a field is quoted, "" in it standing for one quote, or holds no quote, CR,
    // LF or comma. What does not read so ends the list with a mark.
    static QList<QByteArrayList> readCsv(const QByteArray &csv)
    {
        static const QRegularExpression field(u"(?:\"((?:[^\"]|\"\")*)\"|([^\",\r\n]*))(,|\r\n)"_s);
        const QString text = QString::fromLatin1(csv);
        QList<QByteArrayList> records {{}};
        for (qsizetype at = 0; at < text.size();) {
            const QRegularExpressionMatch m = field.match(text, at, QRegularExpression::NormalMatch, QRegularExpression::AnchorAtOffsetMatchOption);
            if (!m.hasMatch())
                return records << QByteArrayList {"not RFC 4180", csv.mid(at)};
            records.last() << (m.capturedStart(1) >= 0 ? m.captured(1).replace(u"\"\""_s, u"\""_s) : m.captured(2)).toLatin1();
            if ((at = m.capturedEnd()) < text.size() && m.captured(3) == u"\r\n"_s)
                records.append(QByteArrayList());
        }
        return records;
    }

    std::optional<Scene> m_scene;
};

QTEST_GUILESS_MAIN(TestBatch)
#include "tst_batch.moc"
