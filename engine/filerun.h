#pragma once

#include "engine/processfiles.h"

namespace perrox {

// The run of ProcessFiles, once its pairs are checked: a type with one
// member per phase of a row (open, match, queue) and of the waiting results
// (commit: the flush and the putting in place), and one for the end
// (report). What the host sees comes as one ordered sequence of events: the
// Count cells, the messages and questions, each result put in place. A
// message or question comes after every result waiting before it is in
// place (the run commits first); showing it changes no file.
RunResult RunFiles(
    RunMode mode, const ArgumentTables &pairs, ReplaceAsSettings &settings, EngineState &state, RunHost &host, const UndoSettings &undo, bool keepTimes);

} // namespace perrox
