#pragma once

#include "arguments/findreplaceargument.h"
#include "batchoptions.h"

#include <QStringList>

#include <functional>
#include <optional>

namespace perrox {

class MessageSink;

// Every pair of the command line in order, each argument file's pairs (read
// with the default tags) in its place. When a file cannot be loaded its
// message has been shown and nothing is given. The pairs are not checked
// here; BuildArgumentTables does that before anything is saved or run.
std::optional<FindReplaceArguments> CollectBatchArguments(const BatchOptions &options, MessageSink &messages);

// The file list of a run: each path as given, except that a folder gives the
// files the folder scan finds under it with masks. stopRequested is read
// after every entry of a listing; once it answers true the list ends there.
QStringList ExpandPaths(const QStringList &paths, const FolderMasks &masks, const std::function<bool()> &stopRequested = {});

} // namespace perrox
