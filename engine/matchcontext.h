#pragma once

#include "listedoccurrences.h"
#include "replaceengine.h"

#include <QByteArray>
#include <QByteArrayView>
#include <QString>

#include <vector>

namespace perrox {

// One occurrence with the bytes around it, as the file holds them.
struct MatchContext
{
    qint64 offset = 0; // where the found bytes start in the file
    int pair = 0; // index of the pair that found them
    QByteArray before; // up to the context length of bytes before offset
    QByteArray found; // the bytes at offset, as read (fewer when the file got shorter)
    QByteArray after; // up to the context length of bytes behind them
    QByteArray replacement; // the pair's replace sequence
};

// Reads the occurrence's find sequence and up to contextBytes bytes on each
// side from fd with one pread (at the start and the end of the file there
// are fewer). Neighbouring occurrences inside the context are shown as the
// file holds them. Returns 0 and fills context, or the errno of a failed read.
int ReadMatchContext(int fd, const Occurrence &occurrence, QByteArrayView find, QByteArrayView replacement, int contextBytes, MatchContext &context);

// A file's occurrences with their context: the scan (counts over the whole
// file, its status, the error) and one context for each of its first
// occurrences, all read from one opening of the file.
struct MatchList
{
    OccurrenceScan scan;
    std::vector<MatchContext> rows;
    // The file as it was read (size, modification time, content hash), to
    // tell before its listed occurrences are replaced that it is unchanged.
    ListedFile identity;
    bool ok() const { return scan.outcome.status == ReplaceOutcome::Status::Done; }
    const QString &error() const { return scan.outcome.error; }
};

// Scans the file at path with the pairs as a Count would and reads the
// context of its first limit occurrences. A file that cannot be opened or
// read gives the error "reason - path" and no rows.
MatchList ListMatches(const QString &path, const ArgumentTables &arguments, qint64 limit, int contextBytes);

// "1234 (0x4D2)": an offset in decimal and in hexadecimal.
QString OffsetText(qint64 offset);

// The context in hexadecimal, with the found bytes (or the replacement when
// replaced is true) in brackets: "6F 20 [61 62] 63". An empty replacement
// leaves "[]".
QString ContextHex(const MatchContext &context, bool replaced);
// The same as characters (Windows-1252), one per byte with no blanks
// between; a byte without a visible character (controls, the soft hyphen,
// the unassigned ones) shows as ".", so the columns stay aligned.
QString ContextCharacters(const MatchContext &context, bool replaced);

} // namespace perrox
