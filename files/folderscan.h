#pragma once

#include "foldermasks.h"

#include <QString>
#include <QStringList>

namespace perrox {

// Whether name matches at least one mask of maskList, masks separated by ";".
// Case is ignored and blanks around a mask are dropped. "*" is a wildcard only
// as a mask's first and/or last character ("*.txt", "data*", "*tmp*", "*");
// anywhere else, like every other character ("?" included), it stands for
// itself. An empty mask (";;", a trailing ";") never matches, so an empty
// list matches nothing. Every mask is tried; there is no early end.
bool MatchesMask(const QString &name, const QString &maskList);

// The decision for one name: it passes when the include list is empty or
// matches it, and the exclude list is empty or does not match it. Only the
// name is tested, never a path.
bool PassesMasks(const QString &name, const QString &includeList, const QString &excludeList);

// What a folder scan reports to its caller.
class FolderScanObserver
{
public:
    virtual ~FolderScanObserver() = default;
    // A file the file masks let through, by its full path (folder, "/",
    // name). Returning false stops the scan at once.
    virtual bool fileFound(const QString &path) = 0;
    // Called after every entry of a listing, matching or not: lets pending
    // window events run.
    virtual void pumpEvents() { }
    // Read after every pumpEvents(); true stops the scan.
    virtual bool stopRequested() { return false; }
};

struct FolderScanResult
{
    qint64 filesFound = 0; // fileFound() calls, the one that stopped the scan included
    bool stopped = false; // the observer ended the scan early
};

// ScanFolder: reports every file under path that the masks allow, at any
// depth. The folder given is always scanned; the folder masks decide which of
// the subfolders inside it are entered, the file masks which files are
// reported. A folder is listed whole, hidden and system entries included,
// sorted by name (QDir::Name: case-sensitive, by UTF-16 code unit, so a run
// gives the same order every time); all its files come before those of its
// subfolders, which are then scanned in that order. An entry is a folder when
// it (or the entry a link points to) is a directory. A symbolic link whose
// target does not exist is left out, neither file nor folder. Anything else
// counts as a file, an entry whose attributes cannot be read for another
// reason (no permission, a link that loops) included. Symbolic links are
// followed, but each real folder (device and inode) is entered at most once
// per scan, so a link back to a parent cannot make the scan loop; a link
// that MayFollowLink refuses (another user's, in a shared sticky folder) is
// not followed, and counts as a file. A folder
// that cannot be listed adds nothing; nothing here shows a message. An empty
// path scans nothing.
FolderScanResult ScanFolder(const QString &path, const FolderMasks &masks, FolderScanObserver &observer);

// A list of dropped or given paths: a folder is scanned as above, anything
// else is reported as it is, without the masks; so a path that does not
// exist, a dangling link named directly included, becomes a row whose run
// says so. Ends early when the observer stops a scan.
FolderScanResult ScanPaths(const QStringList &paths, const FolderMasks &masks, FolderScanObserver &observer);

} // namespace perrox
