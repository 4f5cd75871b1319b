#include "filenames.h"

#include "filesystem.h"

#include <QDir>

#include <cstdlib>
#include <memory>
#include <unistd.h>

namespace perrox {

namespace {
const QChar kSeparator = QLatin1Char('/');
const QChar kDot = QLatin1Char('.');
} // namespace

QString GetExtension(const QString &path)
{
    const QString name = path.mid(path.lastIndexOf(kSeparator) + 1);
    const qsizetype dot = name.lastIndexOf(kDot);
    if (dot < 0)
        return QString();
    return name.mid(dot + 1);
}

QString StripExtension(const QString &name)
{
    const qsizetype dot = name.lastIndexOf(kDot);
    if (dot < 0)
        return name;
    return name.left(dot);
}

QString GetFileName(const QString &path)
{
    const qsizetype slash = path.lastIndexOf(kSeparator);
    if (slash < 0 || slash == path.size() - 1)
        return path;
    return path.mid(slash + 1);
}

QString GetBaseName(const QString &path)
{
    return StripExtension(GetFileName(path));
}

QString GetFolderName(const QString &path)
{
    const qsizetype k = path.lastIndexOf(kSeparator) + 1; // position from 1, 0 when absent
    if (k <= 1)
        return QString();
    if (k == path.size())
        return path;
    return path.left(k - 1);
}

int RemoveInvalidChars(QString &text)
{
    static const QString invalid = QStringLiteral("\\?:*\"<>|/") + QChar(0);
    const qsizetype before = text.size();
    text.removeIf([](QChar c) { return invalid.contains(c); });
    return int(before - text.size());
}

QString OutputFileName(const QString &sourcePath, const QString &prefix, const QString &suffix)
{
    QString name = prefix + GetBaseName(sourcePath) + suffix;
    const QString extension = GetExtension(sourcePath);
    // A name ending in "." would keep that dot here, so a source without an
    // extension gives a target without one.
    if (!extension.isEmpty())
        name += kDot + extension;
    return name;
}

QString OutputPath(const QString &sourcePath, const QString &folder, const QString &prefix, const QString &suffix)
{
    QString path = folder;
    if (!path.endsWith(kSeparator))
        path += kSeparator;
    return path + OutputFileName(sourcePath, prefix, suffix);
}

QString ShortenPath(QString path, const std::function<bool(const QString &)> &fits)
{
    static const QString kEllipsis = QStringLiteral("...");
    while (!fits(path)) {
        const qsizetype p1 = path.indexOf(kSeparator);
        const qsizetype p2 = p1 < 0 ? -1 : path.indexOf(kSeparator, p1 + 1);
        if (p2 < 0)
            break;
        path = path.left(p1 + 1) + kEllipsis + path.mid(p2 + 1);
    }
    return path;
}

QString AbsolutePath(const QString &path)
{
    if (path.startsWith(kSeparator))
        return path;
    // The current folder's bytes as they are: Qt's QDir::currentPath() turns
    // bytes that are no valid UTF-8 into U+FFFD, and the path would name
    // another file.
    const std::unique_ptr<char, decltype(&std::free)> current(::getcwd(nullptr, 0), &std::free);
    if (!current)
        return QDir::current().absoluteFilePath(path);
    const QString folder = DecodeNativePath(QByteArray(current.get()));
    if (path.isEmpty())
        return folder;
    return folder.endsWith(kSeparator) ? folder + path : folder + kSeparator + path;
}

} // namespace perrox
