#pragma once

#include <QString>

#include <functional>

namespace perrox {

// Path splitting with "/" as the separator. None of these touches the file
// system.

// The text after the last "." of the file-name part (after the last "/");
// empty when that part has no "." or ends with ".".
QString GetExtension(const QString &path);
// The text before the last "." (empty when that "." is the first character);
// the name unchanged when it has no ".".
QString StripExtension(const QString &name);
// The text after the last "/"; the path unchanged when it has no "/" or ends
// with one.
QString GetFileName(const QString &path);
// StripExtension of GetFileName.
QString GetBaseName(const QString &path);
// With k the position (from 1) of the last "/": empty when k is 0 or 1, the
// whole path when the "/" is its last character, else the text before it.
QString GetFolderName(const QString &path);

// The path itself when it starts with "/", else the current folder (the one
// step here that asks the system), "/" and the path; nothing is resolved or
// cleaned ("..", links stay as they are). The folder keeps its bytes
// (DecodeNativePath) when its name is no valid UTF-8.
QString AbsolutePath(const QString &path);

// Removes every character that may not stand in a file name here or that would
// lead out of the chosen folder: \ ? : * " < > | / and NUL. Returns how many
// characters were removed.
int RemoveInvalidChars(QString &text);

// Name of a Replace As result inside its folder: prefix, the source's base
// name, suffix, and "." with the extension when the source has one.
QString OutputFileName(const QString &sourcePath, const QString &prefix, const QString &suffix);
// Full path of a Replace As result: folder, a "/" unless it already ends with
// one, then OutputFileName.
QString OutputPath(const QString &sourcePath, const QString &folder, const QString &prefix, const QString &suffix);

// Drops folder names from the front of a path, one at a time, until fits()
// accepts it or fewer than two "/" remain: /home/ann/data/x.bin becomes
// /...ann/data/x.bin, then /...data/x.bin, then /...x.bin. Used by the labels
// that show a path in a fixed width.
QString ShortenPath(QString path, const std::function<bool(const QString &)> &fits);

} // namespace perrox
