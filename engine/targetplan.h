#pragma once

#include <QString>
#include <QStringList>
#include <QtGlobal>

#include <sys/types.h>
#include <vector>

namespace perrox {

struct ReplaceAsSettings;

// The file a path names, links followed: its device and inode; both 0 where
// nothing can be read there.
struct FileId
{
    dev_t dev = 0;
    ino_t ino = 0;
    qint64 size = 0; // of a file that is no folder
    bool known() const { return dev != 0 || ino != 0; }
};

std::vector<FileId> FileIdsOf(const QStringList &paths);

// For each row, the first earlier row naming the same file (the same path,
// a symbolic link to it, a hard link), or -1; a row whose file cannot be
// read is nobody's double.
std::vector<int> SameFileRows(const std::vector<FileId> &ids);

// The deepest folder that holds every path (paths made absolute and clean),
// without a final "/" unless it is "/"; empty for no paths.
QString CommonFolder(const QStringList &paths);

// Where Replace As puts each row's result, and which rows it must refuse.
struct TargetPlan
{
    // Per row: the result's path inside the target folder: the output name,
    // below the source's folder relative to CommonFolder() when the folders
    // are kept ("sub/new_a.txt").
    QStringList relative;
    // Per row: -1, or the other row (possibly itself) whose source or
    // result the row's result would take the place of.
    std::vector<int> clash;
    // Per row: why it is marked, for the name preview; empty when fine.
    QStringList notes;
    // The first clash as the run refuses it, naming both sources and the
    // target; empty when there is none.
    QString refusal;
};

// A target's full path: folder joined with the result's relative path.
QString TargetPath(const QString &folder, const QString &relative);

// The targets of the rows in folder, as settings name them. Rows that are
// another row's file (sameAs) are written once, by the first, and clash
// with nothing. Two results to the same path clash, and so does a result
// that would take the place of a listed source (the same path, or the same
// file by identity where something stands at the target).
// Only the included rows (all when it is empty) are written: the others
// get no target and take no part in the common folder, but a result still
// may not take a listed file's place.
TargetPlan PlanTargets(const QStringList &paths, const std::vector<FileId> &ids, const std::vector<int> &sameAs, const QString &folder,
    const ReplaceAsSettings &settings, const std::vector<bool> &included = {});

} // namespace perrox
