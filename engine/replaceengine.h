#pragma once

#include "arguments/findpattern.h"
#include "matcher.h"

#include <QByteArray>
#include <QString>

#include <memory>
#include <optional>
#include <sys/stat.h>
#include <vector>

namespace perrox {

class OpenedFile;
class ReplaceOutput;

// State the engine keeps for the whole life of the program.
struct EngineState
{
    // Bytes per block. Starts at 4096 and only ever grows, when a find sequence
    // is longer than half of it; it then stays for every later file and run.
    qint64 lngBlockSize = 4096;
    // Bytes of the run processed so far; the run sets it to 0, the engine only
    // adds to it.
    double dblActVal = 0;
    // Bytes read and written at once, rounded to whole blocks. It changes only
    // speed and memory, never the blocks, the output or the progress.
    qint64 ioChunk = 1 << 20;
    // The most bytes one match of a pattern may take. A match that would be
    // longer, or one still open after so many bytes, fails the file: it is
    // never cut short or passed over.
    qint64 maxMatchSize = 1 << 20;
    // The threads that open and count the files of a Count, each with
    // buffers of its own: 0 one per processor, 1 none beside the run's own.
    int threads = 0;
    // The engine's buffers, kept from file to file: they grow to the largest
    // size needed and are reused, so a file costs no allocation.
    struct Buffers
    {
        std::vector<uchar> read;
        std::vector<char> out;
    } buffers;
};

// The engine reports to its observer after every block, like a sink that may
// answer "stop": the progress window, perrox-batch and tests implement it.
class ReplaceObserver
{
public:
    virtual ~ReplaceObserver() = default;
    // The run's position in bytes, after every block and once at the end of a file.
    virtual void progress(double position) = 0;
    // Read after every block; true stops the file at once.
    virtual bool cancelRequested() = 0;
    // Let pending window events run; called after every block, after the
    // cancel check.
    virtual void pumpEvents() = 0;
};

class PatternSet;

// The find sequences (at least one byte each) and their replace sequences
// (possibly empty), index for index, in the order the arguments were collected.
struct ArgumentTables
{
    // The finds of a run whose finds are all case-sensitive literals; empty
    // when the run has patterns.
    Matcher finds;
    // The replace side of every pair: its bytes, or the text of its template.
    std::vector<QByteArray> replaces;
    // Set when a pair is more than a case-sensitive literal with a replace
    // sequence: every pair of the run is then searched through it.
    std::shared_ptr<const PatternSet> patterns;

    ArgumentTables() = default;
    ArgumentTables(std::vector<QByteArray> findSequences, std::vector<QByteArray> replaceSequences);

    int pairCount() const { return int(replaces.size()); }
    // The find side of every pair: its bytes, or the text of its pattern.
    std::vector<QByteArray> findBytes() const;
    // The longest literal find, which the blocks must hold.
    qint64 literalMaxLength() const;
};

// The tables of pairs with patterns, or why they cannot be made. A run whose
// finds are all case-sensitive literals with replace sequences gets the
// tables of the literals, searched as always. Every find holds at least one
// byte, as the literal tables need.
struct PatternTables
{
    ArgumentTables tables;
    std::vector<PatternRefusal> refusals; // empty when tables holds the pairs
};
PatternTables BuildPatternTables(const std::vector<FindPattern> &finds, const std::vector<Replacement> &replaces);

struct ReplaceOutcome
{
    enum class Status
    {
        Done,
        Failed,
        Cancelled
    };
    // Replacements made; 0 after a failure or a cancel.
    qint64 count = 0;
    Status status = Status::Done;
    // Failed: what went wrong, as "description - path"; empty otherwise.
    QString error;
    // Done: the replacements made by each pair, in pair order (they add up to
    // count); empty after a failure or a cancel.
    std::vector<qint64> perPair;
};

// Grows state.lngBlockSize for find sequences of maxLength bytes: when half the
// block is shorter than maxLength it becomes 2 * maxLength rounded down to a
// multiple of 1024. It never shrinks.
void UpdateBlockSize(EngineState &state, qint64 maxLength);

// Writes the content of source to output with every occurrence of a find
// sequence replaced, scanning left to right; at each position the first
// sequence in list order that matches wins, and the scan goes on behind it.
// The source is read in blocks of state.lngBlockSize bytes, up to the length
// it had when it was opened (to its end when it reported none); after each
// block the bytes scanned so far are added to state.dblActVal and reported,
// the cancel request is read and events are pumped. Over one file the amounts
// added add up to the bytes read. A failed read or write gives Failed with
// count 0 and the error "description - path"; the engine shows nothing
// itself. The source is never changed. The output is opened only when the
// first occurrence is found (the bytes before it are copied then), so a file
// without occurrences, or any file when the output discards, creates no
// output at all; an opened output is closed on every way out. A file that
// reports no length is the exception: its bytes can differ from one read to
// the next, so its output is opened before the first read.
ReplaceOutcome ReplaceInFile(const OpenedFile &source, ReplaceOutput &output, const ArgumentTables &arguments, EngineState &state, ReplaceObserver &observer);
// The same for the file at sourcePath; a file that cannot be opened, or is
// no regular file, gives Failed with the error "reason - path".
ReplaceOutcome ReplaceInFile(const QString &sourcePath, ReplaceOutput &output, const ArgumentTables &arguments, EngineState &state, ReplaceObserver &observer);

// One occurrence the engine replaces: where it starts in the source, the
// index of the pair that found it, its length in bytes, and, for a pair whose
// replacement is a template, what the template made of it.
struct Occurrence
{
    qint64 offset = 0;
    int pair = 0;
    qint64 length = 0;
    std::optional<QByteArray> replacement = std::nullopt;
};

struct OccurrenceScan
{
    ReplaceOutcome outcome; // count and perPair over the whole file
    std::vector<Occurrence> first; // the first up to limit occurrences, in order
    // The file as it was read, to tell later whether it changed.
    struct stat status = {};
};

// Reads the file at path as ReplaceInFile does, without writing anything, and
// lists the occurrences a Replace would replace, in order.
OccurrenceScan ScanOccurrences(const QString &path, const ArgumentTables &arguments, qint64 limit);
// The same for a file already open, which stays open for further reads; a
// pattern's match may take up to maxMatchSize bytes (see EngineState).
OccurrenceScan ScanOccurrences(const OpenedFile &source, const ArgumentTables &arguments, qint64 limit, qint64 maxMatchSize = EngineState().maxMatchSize);

} // namespace perrox
