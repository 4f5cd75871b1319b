#include "batchplan.h"

#include "base/messagesink.h"
#include "engine/runreport.h"
#include "files/filesystem.h"
#include "files/openedfile.h"

#include <QFile>

using namespace Qt::StringLiterals;

namespace perrox {

namespace {

// A plan larger than this is refused before it is read.
constexpr qint64 kMaxPlanSize = qint64(1) << 30;

// The pairs of the plan as the run uses them, if they give the bytes it names.
std::optional<ArgumentTables> PlanTables(const RunPlan &plan, MessageSink &messages, QString &error)
{
    std::optional<ArgumentTables> tables = BuildArgumentTables(plan.pairs, messages);
    if (!tables)
        return std::nullopt;
    const std::vector<QByteArray> finds = tables->findBytes();
    for (size_t i = 0; i < finds.size(); ++i) {
        if (finds[i] != plan.finds[i] || tables->replaces[i] != plan.replaces[i]) {
            error = u"pairs[%1]: find and replace do not hold the bytes of find_text and replace_text"_s.arg(i);
            return std::nullopt;
        }
    }
    return tables;
}

} // namespace

std::optional<LoadedPlan> LoadPlan(const QString &path, qint64 maxMatchSize, MessageSink &messages)
{
    const auto refuse = [&](const QString &why) {
        messages.warn(u"perrox-batch: %1: %2"_s.arg(path, why));
        return std::nullopt;
    };
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return refuse(file.errorString());
    if (file.size() > kMaxPlanSize)
        return refuse(u"larger than 1 GiB"_s);
    PlanParse parse = ParsePlan(file.readAll());
    if (!parse.ok())
        return refuse(parse.error);
    LoadedPlan loaded;
    QString error;
    std::optional<ArgumentTables> tables = PlanTables(parse.plan, messages, error);
    if (!tables)
        return error.isEmpty() ? std::nullopt : refuse(error);
    loaded.plan = std::move(parse.plan);
    loaded.tables = std::move(*tables);
    // Every file is checked before any is written.
    for (const RunPlan::File &planned : loaded.plan.files) {
        loaded.paths << planned.path;
        OpenedFile opened;
        if (!opened.open(planned.path).isEmpty())
            continue; // the run reports it
        const ListedCheck check = CheckListedFile(opened, planned.listed, loaded.tables, maxMatchSize);
        if (check.kind == ListedCheck::Kind::Invalid)
            return refuse(check.error);
    }
    return loaded;
}

bool WritePlan(const QString &path, const FindReplaceArguments &arguments, const ArgumentTables &tables, const QStringList &files, const RunResult &result,
    qint64 maxMatchSize, MessageSink &messages)
{
    RunPlan plan {arguments, tables.findBytes(), tables.replaces, {}};
    bool complete = true;
    for (qsizetype i = 0; i < files.size() && size_t(i) < result.rows.size(); ++i) {
        const RowResult &row = result.rows[size_t(i)];
        if (row.state != RowState::Counted || row.count == 0)
            continue;
        PlannedFile planned = PlanFile(files[i], tables, maxMatchSize);
        if (!planned.error.isEmpty()) {
            messages.warn(planned.error);
            complete = false;
            continue;
        }
        plan.files.push_back({files[i], std::move(planned.listed)});
    }
    if (const QString error = WriteReportFile(path, PlanJson(plan)); !error.isEmpty()) {
        messages.warn(error);
        return false;
    }
    return complete;
}

} // namespace perrox
