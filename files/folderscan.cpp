#include "folderscan.h"

#include "files/openedfile.h"

#include "filesystem.h"

#include "base/blanks.h"

#include <QStringList>

#include <algorithm>
#include <cerrno>
#include <dirent.h>
#include <memory>
#include <set>
#include <sys/stat.h>
#include <utility>
#include <vector>

namespace perrox {

namespace {

bool matchesOne(const QString &lowerName, const QString &mask)
{
    // Blanks only, as the masks are typed; a tab stays part of the mask.
    const QString m = TrimBlanks(mask).toLower();
    if (m.isEmpty())
        return false;
    const QChar star = QLatin1Char('*');
    const bool leading = m.startsWith(star);
    const bool trailing = m.endsWith(star);
    if (leading && trailing) // "*" and "**" leave nothing, which every name contains
        return m.size() <= 2 || lowerName.contains(QStringView(m).sliced(1, m.size() - 2));
    if (leading)
        return lowerName.endsWith(QStringView(m).sliced(1));
    if (trailing)
        return lowerName.startsWith(QStringView(m).chopped(1));
    return lowerName == m;
}

using FolderId = std::pair<dev_t, ino_t>;

// The real folder a path names, following links, with its status; false
// when it has none.
bool folderId(const QString &path, FolderId &id, struct stat &st)
{
    if (::stat(NativePath(path).constData(), &st) != 0 || !S_ISDIR(st.st_mode))
        return false;
    id = {st.st_dev, st.st_ino};
    return true;
}

struct Entry
{
    QString name;
    unsigned char type = DT_UNKNOWN; // as readdir gives it
};

// Every entry of folder (a path ending in "/") but "." and "..", sorted by
// name (case-sensitive, by UTF-16 code unit); empty when it cannot be listed.
// The listing is closed before this returns.
std::vector<Entry> listFolder(const QString &folder)
{
    std::vector<Entry> entries;
    const std::unique_ptr<DIR, int (*)(DIR *)> dir(::opendir(NativePath(folder).constData()), &::closedir);
    if (!dir)
        return entries;
    // A read error ends the listing with the entries read so far.
    while (const dirent *d = ::readdir(dir.get())) {
        const char *name = d->d_name;
        if (name[0] == '.' && (name[1] == '\0' || (name[1] == '.' && name[2] == '\0')))
            continue;
        entries.push_back({DecodeNativePath(QByteArray(name)), d->d_type});
    }
    std::sort(entries.begin(), entries.end(), [](const Entry &a, const Entry &b) { return a.name < b.name; });
    return entries;
}

enum class EntryKind
{
    File,
    Folder,
    DanglingLink
};

// What an entry is, links followed. A type from readdir that is neither a
// folder, a link nor unknown settles it without the entry's attributes; the
// others need them. A link whose target does not exist is a dangling link;
// any other entry without attributes (a folder we may list but not search,
// say, or a link that loops) is a file.
// A link that another user planted in a shared folder (see MayFollowLink)
// is not followed: it is a file, which the run then reports.
EntryKind kindOf(const Entry &entry, const QString &path, const struct stat &folder)
{
    if (entry.type != DT_DIR && entry.type != DT_LNK && entry.type != DT_UNKNOWN)
        return EntryKind::File;
    const QByteArray native = NativePath(path);
    struct stat st;
    const bool shared = (folder.st_mode & S_ISVTX) && (folder.st_mode & S_IWOTH);
    if (shared && entry.type != DT_DIR && ::lstat(native.constData(), &st) == 0 && S_ISLNK(st.st_mode) && !MayFollowLink(folder, st))
        return EntryKind::File;
    if (::stat(native.constData(), &st) == 0)
        return S_ISDIR(st.st_mode) ? EntryKind::Folder : EntryKind::File;
    if (errno != ENOENT && errno != ENOTDIR)
        return EntryKind::File;
    // The entry itself may be what is missing (removed since the listing):
    // only a link that is still there points nowhere.
    return ::lstat(native.constData(), &st) == 0 && S_ISLNK(st.st_mode) ? EntryKind::DanglingLink : EntryKind::File;
}

} // namespace

bool MatchesMask(const QString &name, const QString &maskList)
{
    const QString lowerName = name.toLower();
    bool result = false;
    for (const QString &mask : maskList.split(QLatin1Char(';')))
        result = matchesOne(lowerName, mask) || result;
    return result;
}

bool PassesMasks(const QString &name, const QString &includeList, const QString &excludeList)
{
    if (!includeList.isEmpty() && !MatchesMask(name, includeList))
        return false;
    return excludeList.isEmpty() || !MatchesMask(name, excludeList);
}

FolderScanResult ScanFolder(const QString &path, const FolderMasks &masks, FolderScanObserver &observer)
{
    FolderScanResult result;
    if (path.isEmpty())
        return result;

    std::set<FolderId> entered;
    // Folders still to scan, the next one last: popping from the back gives
    // the order of a recursive scan that takes each folder's subfolders in
    // the order collected.
    std::vector<QString> pending {path.endsWith(QLatin1Char('/')) ? path : path + QLatin1Char('/')};

    while (!pending.empty()) {
        const QString folder = std::move(pending.back());
        pending.pop_back();
        FolderId id;
        struct stat folderStatus;
        if (!folderId(folder, id, folderStatus) || !entered.insert(id).second)
            continue;

        // The listing is complete before any subfolder is entered, so only one
        // directory is open at a time.
        const std::vector<Entry> entries = listFolder(folder);
        QStringList subfolders;
        for (const Entry &entry : entries) {
            const QString &name = entry.name;
            const QString full = folder + name;
            const EntryKind kind = kindOf(entry, full, folderStatus);
            if (kind == EntryKind::Folder) {
                if (PassesMasks(name, masks.includeDirectories, masks.excludeDirectories))
                    subfolders.append(full + QLatin1Char('/'));
            } else if (kind == EntryKind::File && PassesMasks(name, masks.includeFiles, masks.excludeFiles)) {
                ++result.filesFound;
                if (!observer.fileFound(full)) {
                    result.stopped = true;
                    return result;
                }
            }
            observer.pumpEvents();
            if (observer.stopRequested()) {
                result.stopped = true;
                return result;
            }
        }
        for (qsizetype i = subfolders.size(); i-- > 0;)
            pending.push_back(subfolders.at(i));
    }
    return result;
}

FolderScanResult ScanPaths(const QStringList &paths, const FolderMasks &masks, FolderScanObserver &observer)
{
    FolderScanResult total;
    for (const QString &path : paths) {
        FolderScanResult one;
        if (FolderExists(path)) {
            one = ScanFolder(path, masks, observer);
        } else {
            one.filesFound = 1;
            one.stopped = !observer.fileFound(path);
        }
        total.filesFound += one.filesFound;
        if (one.stopped) {
            total.stopped = true;
            break;
        }
    }
    return total;
}

} // namespace perrox
