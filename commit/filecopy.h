#pragma once

#include <QByteArray>

namespace perrox {

// Copies everything of in from its start to out at offset 0, through the
// kernel where it can (copy_file_range) and plain reads and writes
// elsewhere. Neither descriptor's offset is used or moved. Returns 0 or the
// errno value of the first failure.
int CopyContents(int in, int out);

// Everything in fd from offset 0, as long as it stays within limit bytes
// (what lies beyond is left out); a read error ends it where it happened.
QByteArray ReadFromStart(int fd, qint64 limit);

// Writes len bytes at offset, all of them or fails; EINTR is retried.
// Returns 0 or the errno value.
int WriteAllAt(int fd, const char *data, qint64 len, qint64 offset);

} // namespace perrox
