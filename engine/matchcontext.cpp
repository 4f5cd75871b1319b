#include "matchcontext.h"

#include "arguments/notation.h"
#include "files/filesystem.h"
#include "files/openedfile.h"

#include <QStringList>

#include <algorithm>
#include <cerrno>
#include <unistd.h>

using namespace Qt::StringLiterals;

namespace perrox {

namespace {

QString visibleCharacters(QByteArrayView bytes)
{
    QString text = CanonicalText(bytes, Notation::Characters);
    for (QChar &c : text) {
        if (!c.isPrint())
            c = u'.';
    }
    return text;
}

// The hexadecimal text of bytes without its final blank.
QString hexWords(QByteArrayView bytes)
{
    return CanonicalText(bytes, Notation::Hexadecimal).chopped(bytes.isEmpty() ? 0 : 1);
}

} // namespace

int ReadMatchContext(int fd, const Occurrence &occurrence, QByteArrayView find, QByteArrayView replacement, int contextBytes, MatchContext &context)
{
    const qint64 start = std::max<qint64>(0, occurrence.offset - contextBytes);
    const qint64 lead = occurrence.offset - start;
    // A pattern's match has its own length; a literal's is its find's.
    const qint64 length = find.isEmpty() ? occurrence.length : find.size();
    QByteArray bytes(lead + length + contextBytes, Qt::Uninitialized);
    qint64 got = 0;
    while (got < bytes.size()) {
        const ssize_t n = ::pread(fd, bytes.data() + got, size_t(bytes.size() - got), start + got);
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0)
            return errno;
        if (n == 0)
            break; // the end of the file
        got += n;
    }
    bytes.truncate(got);
    context.offset = occurrence.offset;
    context.pair = occurrence.pair;
    context.before = bytes.left(lead);
    context.found = bytes.mid(lead, length);
    context.after = bytes.mid(lead + length);
    context.replacement = replacement.toByteArray();
    return 0;
}

MatchList ListMatches(const QString &path, const ArgumentTables &arguments, qint64 limit, int contextBytes)
{
    MatchList list;
    OpenedFile source;
    if (const QString reason = source.open(path); !reason.isEmpty()) {
        list.scan.outcome = {0, ReplaceOutcome::Status::Failed, FileErrorMessage(reason, path), {}};
        return list;
    }
    list.scan = ScanOccurrences(source, arguments, limit);
    if (!list.ok())
        return list;
    list.identity = IdentityOf(source.fd(), source.status());
    list.rows.resize(list.scan.first.size());
    for (size_t i = 0; i < list.rows.size(); ++i) {
        const Occurrence &o = list.scan.first[i];
        const QByteArray &replacement = o.replacement ? *o.replacement : arguments.replaces[size_t(o.pair)];
        if (const int error
            = ReadMatchContext(source.fd(), o, arguments.patterns ? QByteArrayView() : arguments.finds.find(o.pair), replacement, contextBytes, list.rows[i])) {
            list.scan.outcome = {0, ReplaceOutcome::Status::Failed, FileErrorMessage(error, path), {}};
            list.rows.clear();
            return list;
        }
    }
    return list;
}

QString OffsetText(qint64 offset)
{
    return u"%1 (0x%2)"_s.arg(offset).arg(QString::number(offset, 16).toUpper());
}

QString ContextHex(const MatchContext &context, bool replaced)
{
    QStringList words;
    if (!context.before.isEmpty())
        words << hexWords(context.before);
    words << u'[' + hexWords(replaced ? context.replacement : context.found) + u']';
    if (!context.after.isEmpty())
        words << hexWords(context.after);
    return words.join(u' ');
}

QString ContextCharacters(const MatchContext &context, bool replaced)
{
    return visibleCharacters(context.before) + u'[' + visibleCharacters(replaced ? context.replacement : context.found) + u']'
        + visibleCharacters(context.after);
}

} // namespace perrox
