#pragma once

#include <QByteArray>
#include <QString>

#include <functional>
#include <vector>

namespace perrox {

// Path tests shared by the commands, the folder scan and the dialogs. Each one
// reads the path's attributes (following symbolic links) and answers false on
// any failure: a missing path, an empty or invalid name, an unreadable folder.
bool FolderExists(const QString &path);
bool IsFolder(const QString &path);
bool FileExists(const QString &path);

// Creates the folder path and any missing parents for the user alone (mode
// 0700, whatever the umask); true when it exists afterwards.
bool MakePrivateFolder(const QString &path);

// The names in the folder open as fd ("." and ".." left out) for which
// wanted(name) is true, in the order the folder lists them; empty when it
// cannot be listed. fd stays open and unmoved.
std::vector<QByteArray> NamesIn(int fd, const std::function<bool(const QByteArray &name)> &wanted);

// The C library's description of an errno value ("Permission denied").
QString SystemErrorText(int errnum);

// The text of a failed file operation: description + " - " + path.
QString FileErrorMessage(const QString &description, const QString &path);
QString FileErrorMessage(int errnum, const QString &path);

// A path crosses between the file system's bytes and QString only through
// this lossless pair. A name may be any bytes but "/" and NUL, and Qt's own
// decoding (UTF-8) turns what is no valid UTF-8 into U+FFFD, which cannot be
// encoded back; here each such byte b (0x80-0xFF) becomes the lone surrogate
// U+DC00 + b instead, which no valid UTF-8 can give ("surrogateescape").
//
// DecodeNativePath: valid UTF-8 decodes as QString::fromUtf8 decodes it,
// except that a leading byte-order mark is kept as U+FEFF. Validity is strict:
// an overlong form, an encoded surrogate (ED A0-BF ..), a code point above
// U+10FFFF, a sequence cut short or a stray continuation byte is not valid,
// and each of its bytes decodes on its own, to its escape.
//
// NativePath: an escape U+DC80-U+DCFF becomes its byte again; everything else
// is encoded as UTF-8, a surrogate pair as its code point and any other lone
// surrogate as U+FFFD (EF BF BD).
//
// So NativePath(DecodeNativePath(b)) == b for every byte string b, and text
// without lone surrogates survives the way back. A QChar(0) becomes a NUL
// byte, which ends the path for the C library.
QByteArray NativePath(const QString &path);
QString DecodeNativePath(const QByteArray &native);

// The length of the well-formed UTF-8 sequence at the start of bytes, at
// most available bytes long (strict, as above): 1 for ASCII, 2-4 for the
// rest, 0 where none starts.
int Utf8SequenceLength(const uchar *bytes, qsizetype available);

} // namespace perrox
