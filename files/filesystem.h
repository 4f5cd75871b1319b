#pragma once

#include <QString>

namespace perrox {

// Path tests shared by the commands, the folder scan and the dialogs. Each one
// reads the path's attributes (following symbolic links) and answers false on
// any failure: a missing path, an empty or invalid name, an unreadable folder.
bool FolderExists(const QString &path);
bool IsFolder(const QString &path);
bool FileExists(const QString &path);

// The C library's description of an errno value ("Permission denied").
QString SystemErrorText(int errnum);

// The text of a failed file operation: description + " - " + path.
QString FileErrorMessage(const QString &description, const QString &path);
QString FileErrorMessage(int errnum, const QString &path);

// The path as the C library wants it (the file system's own encoding).
QByteArray NativePath(const QString &path);
// A path as the C library gives it, as text.
QString DecodeNativePath(const QByteArray &path);

} // namespace perrox
