#include "runplan.h"

#include "base/messagesink.h"
#include "files/filesystem.h"
#include "files/openedfile.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSet>

#include <algorithm>
#include <limits>

using namespace Qt::StringLiterals;

namespace perrox {

namespace {

QJsonObject PairObject(const RunPlan &plan, size_t i)
{
    const FindReplaceArgument &a = plan.pairs[qsizetype(i)];
    return QJsonObject {
        {u"find"_s, QString::fromLatin1(plan.finds[i].toHex())},
        {u"replace"_s, QString::fromLatin1(plan.replaces[i].toHex())},
        {u"find_notation"_s, QString(Info(a.findNotation).code)},
        {u"find_text"_s, a.findText},
        {u"replace_notation"_s, QString(Info(a.replaceNotation).code)},
        {u"replace_text"_s, a.replaceText},
        {u"ignore_case"_s, a.ignoreCase},
        {u"whole_word"_s, a.wholeWord},
    };
}

QJsonObject FileObject(const RunPlan::File &file)
{
    QJsonArray occurrences;
    for (const Occurrence &o : file.listed.occurrences)
        occurrences.append(QJsonObject {{u"offset"_s, o.offset}, {u"length"_s, o.length}, {u"pair"_s, o.pair}});
    return QJsonObject {
        {u"path"_s, file.path},
        {u"size"_s, file.listed.size},
        {u"mtime_ns"_s, file.listed.mtimeNs},
        {u"hash"_s, QString::fromLatin1(file.listed.hash)},
        {u"occurrences"_s, occurrences},
    };
}

// Reads the members of one object of the plan; the first fault is kept
// with the place it was found at.
class Reader
{
public:
    explicit Reader(QString &error)
        : m_error(error)
    { }

    QJsonObject object(const QJsonValue &value, const QString &where)
    {
        if (!value.isObject())
            fail(where, u"is not an object"_s);
        return value.toObject();
    }
    QJsonArray array(const QJsonObject &o, const QString &key, const QString &where)
    {
        if (!o.value(key).isArray())
            fail(where, key + u" is missing or not an array"_s);
        return o.value(key).toArray();
    }
    QString text(const QJsonObject &o, const QString &key, const QString &where)
    {
        if (!o.value(key).isString())
            fail(where, key + u" is missing or not a text"_s);
        return o.value(key).toString();
    }
    bool flag(const QJsonObject &o, const QString &key, const QString &where)
    {
        const QJsonValue v = o.value(key);
        if (!v.isUndefined() && !v.isBool())
            fail(where, key + u" is not true or false"_s);
        return v.toBool();
    }
    // A whole number, exactly as written; min bounds it below.
    qint64 number(const QJsonObject &o, const QString &key, const QString &where, qint64 min)
    {
        const QJsonValue v = o.value(key);
        const qint64 n = v.toInteger(std::numeric_limits<qint64>::min());
        if (!v.isDouble() || n == std::numeric_limits<qint64>::min() || n < min)
            fail(where, key + (min == 0 ? u" is missing or not a whole number of at least 0"_s : u" is missing or not a whole number"_s));
        return n;
    }
    Notation notation(const QJsonObject &o, const QString &key, const QString &where)
    {
        const std::optional<Notation> n = NotationFromCode(text(o, key, where));
        if (!n)
            fail(where, key + u" is no notation (Asc, Dec, Hex, Utf or Regex)"_s);
        return n.value_or(Notation::Characters);
    }
    QByteArray hex(const QJsonObject &o, const QString &key, const QString &where)
    {
        const QString t = text(o, key, where);
        const QByteArray bytes = QByteArray::fromHex(t.toLatin1());
        if (bytes.toHex() != t.toLatin1().toLower())
            fail(where, key + u" is not hexadecimal"_s);
        return bytes;
    }
    bool ok() const { return m_error.isEmpty(); }
    void fail(const QString &where, const QString &what)
    {
        if (m_error.isEmpty())
            m_error = where + u": "_s + what;
    }

private:
    QString &m_error;
};

void ReadPairs(Reader &r, const QJsonArray &pairs, RunPlan &plan)
{
    for (qsizetype i = 0; i < pairs.size() && r.ok(); ++i) {
        const QString where = u"pairs[%1]"_s.arg(i);
        const QJsonObject o = r.object(pairs.at(i), where);
        FindReplaceArgument a;
        a.findNotation = r.notation(o, u"find_notation"_s, where);
        a.findText = r.text(o, u"find_text"_s, where);
        a.replaceNotation = r.notation(o, u"replace_notation"_s, where);
        a.replaceText = r.text(o, u"replace_text"_s, where);
        a.ignoreCase = r.flag(o, u"ignore_case"_s, where);
        a.wholeWord = r.flag(o, u"whole_word"_s, where);
        plan.pairs.append(a);
        plan.finds.push_back(r.hex(o, u"find"_s, where));
        plan.replaces.push_back(r.hex(o, u"replace"_s, where));
    }
}

void ReadFiles(Reader &r, const QJsonArray &files, RunPlan &plan)
{
    QSet<QString> paths;
    for (qsizetype i = 0; i < files.size() && r.ok(); ++i) {
        const QString where = u"files[%1]"_s.arg(i);
        const QJsonObject o = r.object(files.at(i), where);
        RunPlan::File file;
        file.path = r.text(o, u"path"_s, where);
        if (r.ok() && file.path.isEmpty())
            r.fail(where, u"path is empty"_s);
        if (r.ok() && paths.contains(file.path))
            r.fail(where, u"names %1 a second time"_s.arg(file.path));
        paths.insert(file.path);
        file.listed.size = r.number(o, u"size"_s, where, 0);
        file.listed.mtimeNs = r.number(o, u"mtime_ns"_s, where, std::numeric_limits<qint64>::min() + 1);
        file.listed.hash = r.text(o, u"hash"_s, where).toLatin1();
        const QJsonArray occurrences = r.array(o, u"occurrences"_s, where);
        for (qsizetype k = 0; k < occurrences.size() && r.ok(); ++k) {
            const QString at = where + u".occurrences[%1]"_s.arg(k);
            const QJsonObject oo = r.object(occurrences.at(k), at);
            Occurrence occurrence;
            occurrence.offset = r.number(oo, u"offset"_s, at, 0);
            occurrence.length = r.number(oo, u"length"_s, at, 0);
            occurrence.pair = int(std::min<qint64>(r.number(oo, u"pair"_s, at, 0), std::numeric_limits<int>::max()));
            file.listed.occurrences.push_back(occurrence);
        }
        // Entries may be reordered by whoever edited the plan; overlaps are
        // found once they are in order.
        std::stable_sort(
            file.listed.occurrences.begin(), file.listed.occurrences.end(), [](const Occurrence &a, const Occurrence &b) { return a.offset < b.offset; });
        plan.files.push_back(std::move(file));
    }
}

} // namespace

QByteArray PlanJson(const RunPlan &plan)
{
    QJsonArray pairs;
    for (size_t i = 0; i < size_t(plan.pairs.size()); ++i)
        pairs.append(PairObject(plan, i));
    QJsonArray files;
    for (const RunPlan::File &file : plan.files)
        files.append(FileObject(file));
    return QJsonDocument(QJsonObject {{u"pairs"_s, pairs}, {u"files"_s, files}}).toJson(QJsonDocument::Indented);
}

PlanParse ParsePlan(const QByteArray &json)
{
    PlanParse parse;
    QJsonParseError jsonError;
    const QJsonDocument document = QJsonDocument::fromJson(json, &jsonError);
    if (jsonError.error != QJsonParseError::NoError) {
        parse.error = u"not valid JSON at byte %1: %2"_s.arg(jsonError.offset).arg(jsonError.errorString());
        return parse;
    }
    Reader r(parse.error);
    const QJsonObject top = r.object(document.isObject() ? QJsonValue(document.object()) : QJsonValue(), u"the plan"_s);
    const QJsonArray pairs = r.array(top, u"pairs"_s, u"the plan"_s);
    if (r.ok() && pairs.isEmpty())
        r.fail(u"the plan"_s, u"pairs is empty"_s);
    ReadPairs(r, pairs, parse.plan);
    const QJsonArray files = r.array(top, u"files"_s, u"the plan"_s);
    ReadFiles(r, files, parse.plan);
    if (!r.ok())
        parse.plan = RunPlan();
    return parse;
}

PlannedFile PlanFile(const QString &path, const ArgumentTables &pairs, qint64 maxMatchSize)
{
    PlannedFile planned;
    OpenedFile source;
    if (const QString reason = source.open(path); !reason.isEmpty()) {
        planned.error = FileErrorMessage(reason, path);
        return planned;
    }
    OccurrenceScan scan = ScanOccurrences(source, pairs, std::numeric_limits<qint64>::max(), maxMatchSize);
    if (scan.outcome.status != ReplaceOutcome::Status::Done) {
        planned.error = scan.outcome.error;
        return planned;
    }
    planned.listed = IdentityOf(source.fd(), source.status());
    if (planned.listed.hash.isEmpty() || !source.unchanged()) {
        planned.error = u"The file %1 changed while it was read; it is left out of the plan."_s.arg(path);
        return planned;
    }
    planned.listed.occurrences = std::move(scan.first);
    return planned;
}

namespace {

// The one file of ReplaceListed.
class ListedHost : public RunHost
{
public:
    ListedHost(const QString &path, const ListedFile &listed, MessageSink &messages)
        : m_path(path)
        , m_listed(listed)
        , m_messages(messages)
    { }
    MessageSink &messages() override { return m_messages; }
    int rowCount() const override { return 1; }
    QString rowPath(int) const override { return m_path; }
    void setRowCount(int, const QString &) override { }
    void setStatusText(const QString &) override { }
    QString fileListStatusText() const override { return QString(); }
    bool chooseReplaceAsTarget(ReplaceAsSettings &) override { return false; }
    void beginRun(const QString &, double) override { }
    void showFile(const QString &, const QString &) override { }
    void endRun() override { }
    void progress(double) override { }
    bool cancelRequested() override { return false; }
    void pumpEvents() override { }
    const ListedFile *listedOccurrences(int) const override { return &m_listed; }

private:
    const QString m_path;
    const ListedFile &m_listed;
    MessageSink &m_messages;
};

} // namespace

RunResult ReplaceListed(const QString &path, const ArgumentTables &pairs, const ListedFile &listed, EngineState &state, MessageSink &messages,
    const UndoSettings &undo, bool keepTimes)
{
    ListedHost host(path, listed, messages);
    ReplaceAsSettings unused;
    BusyPointer busy(messages);
    return ProcessFiles(RunMode::Replace, pairs, unused, state, host, undo, keepTimes);
}

} // namespace perrox
