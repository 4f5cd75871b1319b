#include "filesystem.h"

#include <QFile>

#include <cstring>
#include <sys/stat.h>

namespace perrox {

namespace {

// 1 folder, 0 other entry, -1 no attributes.
int folderAttribute(const QString &path)
{
    if (path.isEmpty() || path.contains(QChar(0)))
        return -1;
    struct stat st;
    if (::stat(NativePath(path).constData(), &st) != 0)
        return -1;
    return S_ISDIR(st.st_mode) ? 1 : 0;
}

} // namespace

bool FolderExists(const QString &path)
{
    return folderAttribute(path) == 1;
}

bool IsFolder(const QString &path)
{
    return folderAttribute(path) == 1;
}

bool FileExists(const QString &path)
{
    return folderAttribute(path) == 0;
}

QString SystemErrorText(int errnum)
{
    char buffer[256];
    // GNU strerror_r returns the text, which may or may not live in buffer.
    const char *text = ::strerror_r(errnum, buffer, sizeof buffer);
    return QString::fromLocal8Bit(text);
}

QString FileErrorMessage(const QString &description, const QString &path)
{
    return description + QLatin1String(" - ") + path;
}

QString FileErrorMessage(int errnum, const QString &path)
{
    return FileErrorMessage(SystemErrorText(errnum), path);
}

QByteArray NativePath(const QString &path)
{
    return QFile::encodeName(path);
}

QString DecodeNativePath(const QByteArray &path)
{
    return QFile::decodeName(path);
}

} // namespace perrox
