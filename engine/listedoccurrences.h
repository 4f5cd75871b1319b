#pragma once

#include "replaceengine.h"

#include <QByteArray>
#include <QString>

#include <sys/stat.h>
#include <vector>

namespace perrox {

class OpenedFile;

// A file as it was when its occurrences were listed (by the Matches window,
// or in a plan of perrox-batch), and the occurrences to replace in it: only
// these, never any found by a new search.
struct ListedFile
{
    qint64 size = -1;
    qint64 mtimeNs = 0; // modification time, nanoseconds since the epoch
    QByteArray hash; // HashContents() of its content
    // In the file's order; each names the pair that matches there and its
    // length (the replacement is worked out when they are checked).
    std::vector<Occurrence> occurrences;
};

qint64 ModificationTimeNs(const struct stat &st);

// The size, modification time and content hash of an open file; the hash
// stays empty when the file cannot be read.
ListedFile IdentityOf(int fd, const struct stat &st);

// What a check of listed occurrences against their file found.
struct ListedCheck
{
    enum class Kind
    {
        Ok, // the file is the one listed and every occurrence matches its pair
        Changed, // the file is no longer the one listed (or cannot be read)
        Invalid, // the list does not fit the file: it must not be applied
    };
    Kind kind = Kind::Ok;
    QString error; // why, for Changed and Invalid
    // For each occurrence, in order, the bytes put in its place.
    std::vector<QByteArray> replacements;
};

// Checks that the file is the one listed (size, modification time, content
// hash), then that the occurrences are in order without overlapping, lie
// inside the file, name a pair of pairs, and that each is a match of its
// pair at exactly that place and length: a literal holds its bytes (folding
// case as the pair does), a pattern matches from there with exactly that
// length. The file is only read.
ListedCheck CheckListedFile(const OpenedFile &file, const ListedFile &listed, const ArgumentTables &pairs, qint64 maxMatchSize);

// The text of a file that changed since its occurrences were listed.
QString ChangedSinceListedMessage(const QString &path);

// Writes the content of source to output with exactly the listed
// occurrences replaced, once CheckListedFile found them right; the refusal
// is a failure of the file with the check's text, and nothing is written.
// Progress, cancel and events as ReplaceInFile. No occurrence listed: the
// output is never opened.
ReplaceOutcome ApplyListedOccurrences(
    const OpenedFile &source, ReplaceOutput &output, const ArgumentTables &pairs, const ListedFile &listed, EngineState &state, ReplaceObserver &observer);

} // namespace perrox
