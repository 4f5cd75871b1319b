#pragma once

#include "findreplaceargument.h"
#include "notation.h"

#include <QByteArray>
#include <QString>

#include <array>
#include <optional>

namespace perrox {

class MessageSink;

// Argument files: one entry per Find&Replace argument, each a line of the
// expanded find start tag of the find side's notation and matching, the find text, the
// find end tag, the expanded replace start tag, the replace text, the replace
// end tag and "\r\n". One byte per character in Windows-1252, except the
// texts of a notation kept as UTF-8 in files (kNotations); texts are written
// verbatim, nothing is escaped or checked.

// The tags a file is written and read with unless the preferences say
// otherwise; "..." stands for the notation word.
QString DefaultFindStartTag(); // "<FIND TYPE=...>"
QString DefaultFindEndTag(); // "</FIND>"
QString DefaultReplaceStartTag(); // "<REPLACE TYPE=...>"
QString DefaultReplaceEndTag(); // "</REPLACE>"

// The four tags as the preferences hold them. In a start tag every "..."
// stands for the notation word. An empty tag counts as its default: an empty
// tag would stand at every position of a file.
struct ArgumentTags
{
    QString findStartTag; // "<FIND TYPE=...>"
    QString findEndTag; // "</FIND>"
    QString replaceStartTag; // "<REPLACE TYPE=...>"
    QString replaceEndTag; // "</REPLACE>"

    // The defaults, as the preferences define them.
    static ArgumentTags defaults();

    friend bool operator==(const ArgumentTags &, const ArgumentTags &) = default;
};

// How a find matches, as the index of its find start tag among a notation's:
// plain, ignoring case, whole words, both.
constexpr std::size_t MatchingIndex(bool ignoreCase, bool wholeWord)
{
    return (ignoreCase ? 1 : 0) + (wholeWord ? 2 : 0);
}
inline constexpr std::size_t kMatchingCount = 4;

// The tags ready for use: start tags by notation (at its Index), a find start
// tag for each way of matching (at its MatchingIndex), empty tags replaced by
// their defaults. The notation word of a find that ignores case is followed
// by " CASE=IGNORE", of one that matches whole words by " WORD=YES"; a start
// tag without "..." has no such variants (they are empty). A notation
// without a replace side has an empty replace start tag.
struct ExpandedTags
{
    std::array<std::array<QString, kMatchingCount>, kNotationCount> findStart;
    std::array<QString, kNotationCount> replaceStart;
    QString findEnd;
    QString replaceEnd;
};

// Every "..." of a start tag replaced, left to right, by the notation's
// file word (kNotations).
ExpandedTags ExpandTags(const ArgumentTags &tags);

// The content of a file holding the arguments in order, each side's text in
// the bytes its notation keeps in files; in Windows-1252 a character the code
// page lacks becomes "?" (the checks of a Characters side let none through).
QByteArray ArgumentFileContent(const FindReplaceArguments &arguments, const ArgumentTags &tags);

// The entries of a file's content, in file order. Every byte is one
// character, so any content can be scanned. The scan visits every position;
// at each one the start tags of the notations are tried in the order of their
// file scan ranks (a find start tag before the replace start tag of the same
// notation; the last one found counts), then the find end tag, else the
// replace end tag, which ends an entry. The entry is taken when its find text
// has at least one character and its replace part lies after the find text;
// the replace text may be empty. Otherwise it is dropped and the positions
// found so far are kept. A tag matches exactly, case included; a tag with a
// character the code page lacks never matches. Texts are taken verbatim, line
// breaks included, from the bytes as their notation keeps them in files (so a
// UTF-8 side with a byte that is not UTF-8 fails its check, and nothing is lost).
FindReplaceArguments ParseArgumentFile(const QByteArray &content, const ArgumentTags &tags);

// Argument files larger than this (64 MiB) are refused with the memory
// message. Loading one and turning its pairs into bytes takes a few times its
// size: the bytes read, their text at two bytes per character, the converted
// bytes.
inline constexpr qint64 MaxArgumentFileSize = qint64(64) << 20;

// Saves arguments (as CollectArguments gives them) to path, once the caller
// has a name from its dialog; true when the whole file was written, and the
// caller then adds path to the recent files. No arguments: the collection
// message, nothing written. The content is written to a temporary file in
// path's folder (a folder that takes no new file fails the save) and put in
// place as Replace puts its results (CommitToPath): a link stays a
// link, the permissions are kept. On a failure the open, write or commit
// message is shown and an existing file keeps its old content. An empty path
// does nothing and gives false.
bool SaveArgumentFile(const QString &path, const FindReplaceArguments &arguments, const ArgumentTags &tags, MessageSink &messages);

// Reads path and gives its entries in file order (possibly none: a file
// without a complete entry still counts as loaded, and the caller then adds
// path to the recent files). On failure the open, memory, read or scan
// message has been shown and nothing is given. An empty path gives nothing
// without a message. The file is read whole, up to maxSize bytes: a regular
// file larger than that is refused by its size before anything is read, any
// other source (a pipe, a device) once it gives more, and the buffer never
// takes more than maxSize bytes.
std::optional<FindReplaceArguments> LoadArgumentFile(
    const QString &path, const ArgumentTags &tags, MessageSink &messages, qint64 maxSize = MaxArgumentFileSize);

// The messages of argument files; name is the file's path, description the
// system's text of the error.
// Why a file of more than maxSize bytes (or a source that gives more) is refused.
QString TooLargeArgumentFileDescription(qint64 maxSize);
QString CollectArgumentsErrorMessage(const QString &description);
QString WriteArgumentsErrorMessage(const QString &name, const QString &description);
QString AllocateArgumentsErrorMessage(const QString &name, const QString &description);
QString ReadArgumentsErrorMessage(const QString &name, const QString &description);
QString ScanArgumentsErrorMessage(const QString &name, const QString &description);
// The description that goes with the collection message when there is no
// argument at all: the system's text for a value out of range.
QString NoArgumentsDescription();

} // namespace perrox
