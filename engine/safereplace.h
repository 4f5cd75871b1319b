#pragma once

#include <QString>

#include <random>

namespace perrox {

class TemporaryFile;

struct CommitResult
{
    // Empty on success, else "description - target".
    QString error;
    bool ok() const { return error.isEmpty(); }
};

// Puts the complete content of temp at target, so that target is either left
// as it was or holds the whole new content, never a part of it:
//  - a symbolic link stays a link; the file it points to is replaced;
//  - an existing target the user may not write fails ("Permission denied"),
//    even where a rename in its folder would be allowed;
//  - normally temp is given the target's permission bits (and owner, where
//    allowed), synced to the disk and renamed over it; from another file
//    system it is first copied to a new temporary file beside the target;
//  - a file with several hard links, a target that is not a regular file, or
//    one in a folder we may not write, is rewritten in place, so every name
//    keeps seeing it; space for a longer content is reserved first;
//  - a new target gets the permissions of any newly created file.
// temp must be closed. After a rename temp is released (no longer ours).
CommitResult CommitTemporaryFile(TemporaryFile &temp, const QString &target, std::mt19937 &rng);

} // namespace perrox
