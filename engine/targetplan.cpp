#include "targetplan.h"

#include "engine/processfiles.h"
#include "files/filenames.h"
#include "files/filesystem.h"

#include <QDir>
#include <QHash>

#include <map>
#include <sys/stat.h>
#include <utility>

namespace perrox {

namespace {

const QLatin1String kCrLf("\r\n");

QString CleanPath(const QString &path)
{
    return QDir::cleanPath(AbsolutePath(path));
}

FileId IdOf(const QString &path)
{
    struct stat st;
    if (::stat(NativePath(path).constData(), &st) != 0)
        return {};
    return {st.st_dev, st.st_ino, S_ISDIR(st.st_mode) ? 0 : qint64(st.st_size)};
}

QString RowWord(int row)
{
    return QStringLiteral("row %1").arg(row + 1);
}

QString Advice(bool sameName)
{
    return kCrLf + kCrLf
        + (sameName ? QLatin1String("Nothing was written. Keep the folder structure, or choose another prefix or suffix, and try again.")
                    : QLatin1String("Nothing was written. Choose another folder, prefix or suffix, and try again."));
}

// The output name, below the source's folder relative to common when the
// folders are kept.
QString RelativeTarget(const QString &clean, const QString &common, const ReplaceAsSettings &settings)
{
    const QString name = OutputFileName(clean, settings.outprefix, settings.outsuffix);
    const QString sourceFolder = GetFolderName(clean);
    if (!settings.keepFolders || sourceFolder.size() <= common.size())
        return name;
    return sourceFolder.mid(common == QLatin1String("/") ? 1 : common.size() + 1) + QLatin1Char('/') + name;
}

} // namespace

std::vector<FileId> FileIdsOf(const QStringList &paths)
{
    std::vector<FileId> ids;
    ids.reserve(size_t(paths.size()));
    for (const QString &path : paths)
        ids.push_back(IdOf(path));
    return ids;
}

std::vector<int> SameFileRows(const std::vector<FileId> &ids)
{
    std::vector<int> same(ids.size(), -1);
    std::map<std::pair<dev_t, ino_t>, int> first;
    for (size_t row = 0; row < ids.size(); ++row) {
        if (!ids[row].known())
            continue;
        const auto [at, added] = first.emplace(std::pair(ids[row].dev, ids[row].ino), int(row));
        if (!added)
            same[row] = at->second;
    }
    return same;
}

QString CommonFolder(const QStringList &paths)
{
    QStringList common;
    bool first = true;
    for (const QString &path : paths) {
        QStringList parts = CleanPath(path).split(QLatin1Char('/'));
        parts.removeLast(); // the file's own name
        if (first) {
            common = parts;
            first = false;
            continue;
        }
        qsizetype n = 0;
        while (n < common.size() && n < parts.size() && common.at(n) == parts.at(n))
            ++n;
        common = common.mid(0, n);
    }
    if (first)
        return QString();
    const QString joined = common.join(QLatin1Char('/'));
    return joined.isEmpty() ? QStringLiteral("/") : joined;
}

TargetPlan PlanTargets(const QStringList &paths, const std::vector<FileId> &ids, const std::vector<int> &sameAs, const QString &folder,
    const ReplaceAsSettings &settings, const std::vector<bool> &included)
{
    const auto written = [&included](qsizetype row) { return included.empty() || included[size_t(row)]; };
    TargetPlan plan;
    const qsizetype rows = paths.size();
    plan.clash.assign(size_t(rows), -1);
    plan.notes.fill(QString(), rows);
    QString root = CleanPath(folder);
    if (!root.endsWith(QLatin1Char('/')))
        root += QLatin1Char('/');
    // Messages name the target as the run shows it.
    const QString shown = folder.endsWith(QLatin1Char('/')) ? folder : folder + QLatin1Char('/');
    QStringList writtenPaths;
    for (qsizetype row = 0; row < rows; ++row)
        if (written(row))
            writtenPaths.append(paths.at(row));
    const QString common = settings.keepFolders ? CommonFolder(writtenPaths) : QString();
    QHash<QString, int> sources, targets;
    std::map<std::pair<dev_t, ino_t>, int> sourceIds;
    for (qsizetype row = 0; row < rows; ++row) {
        // A source is known by its first row, as the run processes it there.
        const QString clean = CleanPath(paths.at(row));
        if (!sources.contains(clean))
            sources.insert(clean, int(row));
        if (size_t(row) < ids.size() && ids[size_t(row)].known())
            sourceIds.emplace(std::pair(ids[size_t(row)].dev, ids[size_t(row)].ino), int(row));
        plan.relative.append(written(row) ? RelativeTarget(clean, common, settings) : QString());
    }
    const auto refuse = [&plan](int row, int other, const QString &note, const QString &refusal, bool sameName) {
        plan.clash[size_t(row)] = other;
        plan.notes[row] = note;
        if (plan.refusal.isEmpty())
            plan.refusal = refusal + Advice(sameName);
    };
    for (qsizetype row = 0; row < rows; ++row) {
        if (!written(row))
            continue;
        const int same = size_t(row) < sameAs.size() ? sameAs[size_t(row)] : -1;
        if (same >= 0) {
            plan.notes[row] = QLatin1String("The same file as ") + RowWord(same) + QLatin1String("; its result is written once.");
            continue;
        }
        const QString target = root + plan.relative.at(row);
        int source = sources.value(target, -1);
        if (source < 0) {
            const FileId id = IdOf(target);
            if (const auto found = sourceIds.find(std::pair(id.dev, id.ino)); id.known() && found != sourceIds.end())
                source = found->second;
        }
        if (source >= 0) {
            const QString note = source == row ? QStringLiteral("The result would take the place of this file itself.")
                                               : QLatin1String("The result would take the place of the file of ") + RowWord(source) + QLatin1Char('.');
            const QString refusal = source == row
                ? QLatin1String("Replace As would write the result of ") + paths.at(row) + QLatin1String(" over that file itself.")
                : QLatin1String("Replace As would write the result of ") + paths.at(row) + QLatin1String(" over ") + paths.at(source)
                    + QLatin1String(", which is listed too (") + shown + plan.relative.at(row) + QLatin1String(").");
            refuse(int(row), source, note, refusal, false);
            continue;
        }
        const auto at = targets.constFind(target);
        if (at == targets.cend()) {
            targets.insert(target, int(row));
            continue;
        }
        const int earlier = at.value();
        const QString refusal = QLatin1String("Replace As would write the results of both ") + paths.at(earlier) + QLatin1String(" and ") + paths.at(row)
            + QLatin1String(" to ") + shown + plan.relative.at(row) + QLatin1Char('.');
        refuse(int(row), earlier, QLatin1String("The same name as ") + RowWord(earlier) + QLatin1Char('.'), refusal, true);
        if (plan.clash[size_t(earlier)] < 0) {
            plan.clash[size_t(earlier)] = int(row);
            plan.notes[earlier] = QLatin1String("The same name as ") + RowWord(int(row)) + QLatin1Char('.');
        }
    }
    return plan;
}

QString TargetPath(const QString &folder, const QString &relative)
{
    return folder + (folder.endsWith(QLatin1Char('/')) ? QString() : QStringLiteral("/")) + relative;
}

} // namespace perrox
