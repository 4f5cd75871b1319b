#include "argumentfile.h"

#include "base/messagesink.h"
#include "codepage.h"
#include "commit/safereplace.h"
#include "commit/temporaryfile.h"
#include "files/filedescriptor.h"
#include "files/filenames.h"
#include "files/filesystem.h"
#include "notation.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <new>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace perrox {

namespace {

const QLatin1String kCrLf("\r\n");

QString orDefault(const QString &tag, const QString &fallback)
{
    return tag.isEmpty() ? fallback : tag;
}

QString expandStartTag(const QString &tag, Notation notation, std::size_t matching = 0)
{
    if (matching != 0 && !tag.contains(QLatin1String("...")))
        return QString();
    QString word = Info(notation).fileWord;
    if (matching & MatchingIndex(true, false))
        word += QLatin1String(" CASE=IGNORE");
    if (matching & MatchingIndex(false, true))
        word += QLatin1String(" WORD=YES");
    QString expanded = tag;
    return expanded.replace(QLatin1String("..."), word);
}

// A side's text as the characters of the bytes its notation keeps in files.
QString fileCharacters(const QString &text, Notation notation)
{
    return Info(notation).utf8InFiles ? BytesToCharacters(NativePath(text)) : text;
}

// A side's text from the bytes its notation keeps in files.
QString fileText(QByteArrayView bytes, Notation notation)
{
    return Info(notation).utf8InFiles ? DecodeNativePath(bytes.toByteArray()) : BytesToCharacters(bytes);
}

// A tag as the bytes it must meet in the file.
struct ByteTag
{
    QByteArray bytes;
    bool usable = false; // false: a character outside the code page, never matches

    explicit ByteTag(const QString &tag)
        : bytes(CharactersToBytes(tag))
        , usable(!bytes.isEmpty() && BytesToCharacters(bytes) == tag)
    { }

    bool standsAt(const QByteArray &content, qsizetype index) const
    {
        // The first byte alone settles most positions, without a call.
        return usable && content.size() - index >= bytes.size() && content.at(index) == bytes.at(0)
            && std::memcmp(content.constData() + index, bytes.constData(), size_t(bytes.size())) == 0;
    }
};

// The start tags of a notation, as the file scan tries them: the find's in
// the order of MatchingIndex, so that a longer tag found at a place counts.
struct StartTags
{
    Notation notation;
    std::vector<ByteTag> find;
    ByteTag replace;
};

// The start tags of every notation, in the order of their file scan ranks.
std::vector<StartTags> scanOrder(const ExpandedTags &tags)
{
    std::vector<StartTags> starts(kNotationCount, {Notation::Characters, {}, ByteTag(QString())});
    for (const NotationInfo &n : kNotations) {
        StartTags &start = starts[size_t(n.fileScanRank)];
        start = {n.notation, {}, ByteTag(tags.replaceStart[Index(n.notation)])};
        for (const QString &tag : tags.findStart[Index(n.notation)])
            start.find.emplace_back(tag);
    }
    return starts;
}

// Why a file cannot be replaced, found before anything is created for it.
QString saveRefusal(const QString &path)
{
    if (IsFolder(path))
        return SystemErrorText(EISDIR);
    const QByteArray native = NativePath(path);
    struct stat st;
    if (::stat(native.constData(), &st) == 0 && ::access(native.constData(), W_OK) != 0)
        return SystemErrorText(errno);
    return QString();
}

} // namespace

QString DefaultFindStartTag()
{
    return QStringLiteral("<FIND TYPE=...>");
}

QString DefaultFindEndTag()
{
    return QStringLiteral("</FIND>");
}

QString DefaultReplaceStartTag()
{
    return QStringLiteral("<REPLACE TYPE=...>");
}

QString DefaultReplaceEndTag()
{
    return QStringLiteral("</REPLACE>");
}

ArgumentTags ArgumentTags::defaults()
{
    return {DefaultFindStartTag(), DefaultFindEndTag(), DefaultReplaceStartTag(), DefaultReplaceEndTag()};
}

ExpandedTags ExpandTags(const ArgumentTags &tags)
{
    const QString findStart = orDefault(tags.findStartTag, DefaultFindStartTag());
    const QString replaceStart = orDefault(tags.replaceStartTag, DefaultReplaceStartTag());
    ExpandedTags expanded;
    for (const NotationInfo &n : kNotations) {
        for (std::size_t matching = 0; matching < kMatchingCount; ++matching)
            expanded.findStart[Index(n.notation)][matching] = expandStartTag(findStart, n.notation, matching);
        if (TakesReplaceSide(n.notation))
            expanded.replaceStart[Index(n.notation)] = expandStartTag(replaceStart, n.notation);
    }
    expanded.findEnd = orDefault(tags.findEndTag, DefaultFindEndTag());
    expanded.replaceEnd = orDefault(tags.replaceEndTag, DefaultReplaceEndTag());
    return expanded;
}

QByteArray ArgumentFileContent(const FindReplaceArguments &arguments, const ArgumentTags &tags)
{
    const ExpandedTags t = ExpandTags(tags);
    QString text;
    // Each text goes in as the characters of its bytes, so that the whole
    // content turns into bytes at once.
    for (const FindReplaceArgument &a : arguments) {
        // Case is kept only where it can fold; the plain tag where a tag has no variants.
        const QString &tag = t.findStart[Index(a.findNotation)][MatchingIndex(a.ignoreCase && CanFoldCase(a.findNotation), a.wholeWord)];
        text += (tag.isEmpty() ? t.findStart[Index(a.findNotation)][0] : tag) + fileCharacters(a.findText, a.findNotation) + t.findEnd;
        text += t.replaceStart[Index(a.replaceNotation)] + fileCharacters(a.replaceText, a.replaceNotation) + t.replaceEnd;
        text += kCrLf;
    }
    return CharactersToBytes(text);
}

FindReplaceArguments ParseArgumentFile(const QByteArray &content, const ArgumentTags &tags)
{
    const ExpandedTags t = ExpandTags(tags);
    const std::vector<StartTags> starts = scanOrder(t);
    const auto text
        = [&](qint64 start, qint64 end, Notation notation) { return fileText(QByteArrayView(content).sliced(start - 1, end - start + 1), notation); };
    const ByteTag findEnd(t.findEnd);
    const ByteTag replaceEnd(t.replaceEnd);

    // Positions count from 1, as characters of the file; 0 means not found
    // since the last accepted entry. An end position is the last character of
    // its text, so an empty text ends one before it starts.
    qint64 findTextStart = 0;
    qint64 findTextEnd = 0;
    qint64 replaceTextStart = 0;
    qint64 replaceTextEnd = 0;
    Notation findNotation = Notation::Characters;
    std::size_t findMatching = 0;
    Notation replaceNotation = Notation::Characters;

    FindReplaceArguments entries;
    for (qsizetype index = 0; index < content.size(); ++index) {
        const qint64 p = index + 1;
        for (const StartTags &start : starts) {
            bool found = false;
            for (std::size_t matching = 0; matching < start.find.size(); ++matching) {
                if (start.find[matching].standsAt(content, index)) {
                    findTextStart = p + start.find[matching].bytes.size();
                    findNotation = start.notation;
                    findMatching = matching;
                    found = true;
                }
            }
            if (found)
                continue;
            if (start.replace.standsAt(content, index)) {
                replaceTextStart = p + start.replace.bytes.size();
                replaceNotation = start.notation;
            }
        }
        if (findEnd.standsAt(content, index)) {
            findTextEnd = p - 1;
        } else if (replaceEnd.standsAt(content, index)) {
            replaceTextEnd = p - 1;
            const bool accepted
                = findTextStart >= 1 && findTextEnd >= findTextStart && replaceTextStart > findTextEnd && replaceTextEnd >= replaceTextStart - 1;
            if (accepted) {
                FindReplaceArgument entry;
                entry.findNotation = findNotation;
                entry.findText = text(findTextStart, findTextEnd, findNotation);
                entry.replaceNotation = replaceNotation;
                entry.replaceText = text(replaceTextStart, replaceTextEnd, replaceNotation);
                entry.ignoreCase = findMatching & MatchingIndex(true, false);
                entry.wholeWord = findMatching & MatchingIndex(false, true);
                entries.append(entry);
                findTextStart = findTextEnd = replaceTextStart = replaceTextEnd = 0;
            }
        }
    }
    return entries;
}

bool SaveArgumentFile(const QString &path, const FindReplaceArguments &arguments, const ArgumentTags &tags, MessageSink &messages)
{
    if (path.isEmpty())
        return false;
    if (arguments.isEmpty()) {
        messages.warn(CollectArgumentsErrorMessage(NoArgumentsDescription()));
        return false;
    }
    const QByteArray content = ArgumentFileContent(arguments, tags);

    if (const QString refusal = saveRefusal(path); !refusal.isEmpty()) {
        messages.warn(FileErrorMessage(refusal, path));
        return false;
    }
    const QString error = SaveContents(path, content, [&](const QString &reason) { return WriteArgumentsErrorMessage(path, reason); });
    if (!error.isEmpty()) {
        messages.warn(error);
        return false;
    }
    return true;
}

std::optional<FindReplaceArguments> LoadArgumentFile(const QString &path, const ArgumentTags &tags, MessageSink &messages, qint64 maxSize)
{
    if (path.isEmpty())
        return std::nullopt;

    // Without O_NONBLOCK a pipe with no writer would keep open() waiting;
    // reads block again once it is open.
    const FileDescriptor fd(::open(NativePath(path).constData(), O_RDONLY | O_CLOEXEC | O_NONBLOCK));
    if (fd.get() < 0) {
        messages.warn(FileErrorMessage(errno, path));
        return std::nullopt;
    }
    struct stat st;
    if (::fstat(fd.get(), &st) != 0 || ::fcntl(fd.get(), F_SETFL, ::fcntl(fd.get(), F_GETFL) & ~O_NONBLOCK) != 0) {
        messages.warn(FileErrorMessage(errno, path));
        return std::nullopt;
    }
    if (S_ISDIR(st.st_mode)) {
        messages.warn(FileErrorMessage(EISDIR, path));
        return std::nullopt;
    }
    const auto tooLarge = [&] {
        messages.warn(AllocateArgumentsErrorMessage(path, TooLargeArgumentFileDescription(maxSize)));
        return std::nullopt;
    };
    if (S_ISREG(st.st_mode) && st.st_size > maxSize)
        return tooLarge();

    // Read to the end rather than trusting the size, so a file that grows,
    // or one that has no size (a pipe, a device), cannot overrun the limit.
    // The buffer grows here, never by QByteArray's own doubling, and its
    // capacity stays within maxSize: an endless source is refused once it has
    // given one byte more than the limit.
    QByteArray content;
    try {
        content.reserve(S_ISREG(st.st_mode) ? qsizetype(st.st_size) : 0);
        char chunk[65536];
        for (;;) {
            const qint64 want = std::min<qint64>(sizeof chunk, maxSize - content.size() + 1);
            const ssize_t got = ::read(fd.get(), chunk, size_t(want));
            if (got < 0 && errno == EINTR)
                continue;
            if (got < 0) {
                messages.warn(ReadArgumentsErrorMessage(path, SystemErrorText(errno)));
                return std::nullopt;
            }
            if (got == 0)
                break;
            if (content.size() + got > maxSize)
                return tooLarge();
            if (content.size() + got > content.capacity())
                content.reserve(qsizetype(std::min(maxSize, std::max<qint64>(content.size() + got, 2 * qint64(content.capacity())))));
            content.append(chunk, got);
        }
    } catch (const std::bad_alloc &) {
        messages.warn(AllocateArgumentsErrorMessage(path, SystemErrorText(ENOMEM)));
        return std::nullopt;
    }

    try {
        return ParseArgumentFile(content, tags);
    } catch (const std::bad_alloc &) {
        messages.warn(ScanArgumentsErrorMessage(path, SystemErrorText(ENOMEM)));
        return std::nullopt;
    }
}

QString CollectArgumentsErrorMessage(const QString &description)
{
    return QLatin1String("Cannot read Find&Replace arguments:") + kCrLf + description;
}

QString WriteArgumentsErrorMessage(const QString &name, const QString &description)
{
    return QLatin1String("Cannot write the Find&Replace arguments to file ") + name + QLatin1String(" :") + kCrLf + description;
}

QString AllocateArgumentsErrorMessage(const QString &name, const QString &description)
{
    return QLatin1String("Cannot allocate memory for the data of file ") + name + QLatin1String(":") + kCrLf + description;
}

QString TooLargeArgumentFileDescription(qint64 maxSize)
{
    const QString limit = maxSize % (qint64(1) << 20) == 0 ? QStringLiteral("%1 MiB").arg(maxSize >> 20) : QStringLiteral("%1 bytes").arg(maxSize);
    return QLatin1String("The file is larger than ") + limit + QLatin1String(", the most an argument file may hold");
}

QString ReadArgumentsErrorMessage(const QString &name, const QString &description)
{
    return QLatin1String("Cannot read the data of file ") + name + QLatin1String(":") + kCrLf + description;
}

QString ScanArgumentsErrorMessage(const QString &name, const QString &description)
{
    return QLatin1String("Cannot read Find&Replace arguments from file ") + name + QLatin1String(" :") + kCrLf + description;
}

QString NoArgumentsDescription()
{
    return SystemErrorText(ERANGE);
}

} // namespace perrox
