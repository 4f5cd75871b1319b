#include "filesystem.h"

#include <QDir>

#include <cstring>
#include <dirent.h>
#include <sys/stat.h>
#include <unistd.h>

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

// Hand-written: Qt has no decoder that keeps the bytes of invalid UTF-8.

QByteArray NativePath(const QString &path)
{
    QByteArray native;
    native.reserve(path.size());
    const qsizetype size = path.size();
    for (qsizetype i = 0; i < size; ++i) {
        const char16_t unit = path.at(i).unicode();
        if (unit < 0x80) {
            native.append(char(unit));
            continue;
        }
        char32_t code = unit;
        if (QChar::isHighSurrogate(unit) && i + 1 < size && path.at(i + 1).isLowSurrogate()) {
            code = QChar::surrogateToUcs4(unit, path.at(++i).unicode());
        } else if (unit >= 0xDC80 && unit <= 0xDCFF) {
            native.append(char(unit - 0xDC00));
            continue;
        } else if (QChar::isSurrogate(unit)) {
            code = QChar::ReplacementCharacter;
        }
        if (code < 0x800) {
            native.append(char(0xC0 | (code >> 6)));
        } else if (code < 0x10000) {
            native.append(char(0xE0 | (code >> 12)));
            native.append(char(0x80 | ((code >> 6) & 0x3F)));
        } else {
            native.append(char(0xF0 | (code >> 18)));
            native.append(char(0x80 | ((code >> 12) & 0x3F)));
            native.append(char(0x80 | ((code >> 6) & 0x3F)));
        }
        native.append(char(0x80 | (code & 0x3F)));
    }
    return native;
}

int Utf8SequenceLength(const uchar *bytes, qsizetype available)
{
    if (available < 1)
        return 0;
    const uchar lead = bytes[0];
    if (lead < 0x80)
        return 1;
    // The length of a valid sequence with this lead byte, and the range its
    // second byte must lie in: the narrower ranges exclude overlong forms
    // (E0, F0), surrogates (ED) and code points above U+10FFFF (F4).
    int length = 0;
    uchar low = 0x80;
    uchar high = 0xBF;
    if (lead >= 0xC2 && lead <= 0xDF) {
        length = 2;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        length = 3;
        low = lead == 0xE0 ? 0xA0 : 0x80;
        high = lead == 0xED ? 0x9F : 0xBF;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        length = 4;
        low = lead == 0xF0 ? 0x90 : 0x80;
        high = lead == 0xF4 ? 0x8F : 0xBF;
    }
    if (length == 0 || available < length || bytes[1] < low || bytes[1] > high)
        return 0;
    for (int k = 2; k < length; ++k) {
        if ((bytes[k] & 0xC0) != 0x80)
            return 0;
    }
    return length;
}

QString DecodeNativePath(const QByteArray &native)
{
    QString text;
    text.reserve(native.size());
    const auto *bytes = reinterpret_cast<const uchar *>(native.constData());
    const qsizetype size = native.size();
    for (qsizetype i = 0; i < size;) {
        const uchar lead = bytes[i];
        if (lead < 0x80) {
            text.append(QLatin1Char(char(lead)));
            ++i;
            continue;
        }
        const int length = Utf8SequenceLength(bytes + i, size - i);
        if (length == 0) {
            text.append(QChar(char16_t(0xDC00 + lead)));
            ++i;
            continue;
        }
        char32_t code = lead & (0x7F >> length);
        for (int k = 1; k < length; ++k)
            code = (code << 6) | (bytes[i + k] & 0x3F);
        if (QChar::requiresSurrogates(code)) {
            text.append(QChar(QChar::highSurrogate(code)));
            text.append(QChar(QChar::lowSurrogate(code)));
        } else {
            text.append(QChar(char16_t(code)));
        }
        i += length;
    }
    return text;
}

std::vector<QByteArray> NamesIn(int fd, const std::function<bool(const QByteArray &name)> &wanted)
{
    std::vector<QByteArray> names;
    DIR *dir = ::fdopendir(::dup(fd));
    if (!dir)
        return names;
    ::rewinddir(dir); // the duplicate shares its position with fd
    while (const dirent *entry = ::readdir(dir)) {
        const QByteArray name(entry->d_name);
        if (name != "." && name != ".." && wanted(name))
            names.push_back(name);
    }
    ::closedir(dir);
    return names;
}

bool MakePrivateFolder(const QString &path)
{
    const mode_t oldMask = ::umask(077);
    const bool made = QDir().mkpath(path);
    ::umask(oldMask);
    return made;
}

} // namespace perrox
