#pragma once

#include <QtGlobal>

namespace perrox {

// How many runs and how many bytes of old contents the journal keeps.
struct UndoSettings
{
    bool keep = true; // false: runs are not recorded and cannot be undone
    int maxRuns = 20;
    qint64 maxBytes = qint64(1) << 30;
};

// The journal of runs as the user sets it: on or off, and its two limits in
// the units the window shows, runs and mebibytes.
struct UndoOptions
{
    static constexpr int MaxRunsLimit = 1000;
    static constexpr int MaxMegabytesLimit = 1 << 20; // 1 TiB
    static constexpr qint64 BytesPerMegabyte = qint64(1) << 20;

    bool keepJournal = true;
    int maxRuns = UndoSettings().maxRuns;
    int maxMegabytes = int(UndoSettings().maxBytes / BytesPerMegabyte);

    // What a run is given: keep is false while the journal is off.
    UndoSettings settings() const { return {keepJournal, maxRuns, maxMegabytes * BytesPerMegabyte}; }

    friend bool operator==(const UndoOptions &, const UndoOptions &) = default;
};

} // namespace perrox
