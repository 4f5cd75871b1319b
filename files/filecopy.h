#pragma once

#include <QtGlobal>

namespace perrox {

// Copies everything of in from its start to out at offset 0, through the
// kernel where it can (copy_file_range) and plain reads and writes
// elsewhere. Neither descriptor's offset is used or moved. Returns 0 or the
// errno value of the first failure.
int CopyContents(int in, int out);

// Writes len bytes at offset, all of them or fails; EINTR is retried.
// Returns 0 or the errno value.
int WriteAllAt(int fd, const char *data, qint64 len, qint64 offset);

} // namespace perrox
