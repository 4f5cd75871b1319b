#pragma once

#include "arguments/findreplaceargument.h"
#include "listedoccurrences.h"
#include "processfiles.h"

#include <QByteArray>
#include <QString>

#include <vector>

namespace perrox {

// A plan: the pairs as typed, and for each file its identity when it was
// read and the occurrences to replace in it. As JSON (see the README's
// "Plans"):
//   {"pairs": [{"find", "replace", "find_notation", "find_text",
//               "replace_notation", "replace_text", "ignore_case",
//               "whole_word"}],
//    "files": [{"path", "size", "mtime_ns", "hash",
//               "occurrences": [{"offset", "length", "pair"}]}]}
// "find" and "replace" are the bytes (a pattern's text) in hexadecimal, as
// the JSON report writes them; "path" is written as the report writes it.
struct RunPlan
{
    FindReplaceArguments pairs;
    std::vector<QByteArray> finds; // "find" of each pair, the bytes
    std::vector<QByteArray> replaces; // "replace" of each pair
    struct File
    {
        QString path;
        ListedFile listed;
    };
    std::vector<File> files;
};

QByteArray PlanJson(const RunPlan &plan);

// The plan in json, or the first reason it is none ("files[2].occurrences[0]:
// offset is missing"). The occurrences of each file come out in the file's
// order; a file named twice is refused.
struct PlanParse
{
    RunPlan plan;
    QString error;
    bool ok() const { return error.isEmpty(); }
};
PlanParse ParsePlan(const QByteArray &json);

// The identity of the file at path and every occurrence a Replace would
// replace in it, read from one opening; error set ("reason - path") when it
// could not be read or changed while it was read.
struct PlannedFile
{
    ListedFile listed;
    QString error;
};
PlannedFile PlanFile(const QString &path, const ArgumentTables &pairs, qint64 maxMatchSize);

// Replace of the listed occurrences of the one file at path, as a run of
// Replace: its temporary file, the checks before it is put in place, the
// journal for Undo when undo.keep. Messages (a file changed since it was
// listed, a failure) go to messages; the busy pointer is shown meanwhile.
RunResult ReplaceListed(const QString &path, const ArgumentTables &pairs, const ListedFile &listed, EngineState &state, MessageSink &messages,
    const UndoSettings &undo, bool keepTimes);

} // namespace perrox
