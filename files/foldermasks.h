#pragma once

#include <QString>

namespace perrox {

// The four mask lists of a folder drop (gIncludeDirectories,
// gExcludeDirectories, gIncludeFiles, gExcludeFiles): masks separated by ";",
// "" when the list takes no part in the decision.
struct FolderMasks
{
    QString includeDirectories; // subfolders to enter
    QString excludeDirectories; // subfolders not to enter
    QString includeFiles; // files to add
    QString excludeFiles; // files not to add

    friend bool operator==(const FolderMasks &, const FolderMasks &) = default;
};

} // namespace perrox
