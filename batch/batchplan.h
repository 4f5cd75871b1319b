#pragma once

#include "engine/runplan.h"
#include "terminalhost.h"

#include <optional>

namespace perrox {

// A plan read for --apply-plan, with its pairs checked and turned into bytes.
struct LoadedPlan
{
    RunPlan plan;
    ArgumentTables tables;
    QStringList paths;
};

// Reads and checks the plan at path: valid JSON with every field, pairs that
// pass their checks and give the bytes the plan names, and occurrences that
// fit their files, each a match of its pair. A file changed since the plan
// was made passes here (its run reports it and leaves it alone). Nothing
// when the plan is refused: messages said why ("perrox-batch: PLAN: ...").
std::optional<LoadedPlan> LoadPlan(const QString &path, qint64 maxMatchSize, MessageSink &messages);

// --count --plan FILE: the plan of the Count run that ended with result,
// written to path as a save does. Files that could not be listed are left
// out, each with its message. False when the plan could not be written, or
// a file was left out.
bool WritePlan(const QString &path, const FindReplaceArguments &arguments, const ArgumentTables &tables, const QStringList &files, const RunResult &result,
    qint64 maxMatchSize, MessageSink &messages);

// perrox-batch's file list for a plan: the plan's files, each with the
// occurrences it lists.
class PlanHost : public TerminalHost
{
public:
    PlanHost(const LoadedPlan &plan, bool progress, bool countLines)
        : TerminalHost(plan.paths, progress, countLines)
        , m_plan(plan)
    { }
    const ListedFile *listedOccurrences(int row) const override { return &m_plan.plan.files[size_t(row)].listed; }

private:
    const LoadedPlan &m_plan;
};

} // namespace perrox
