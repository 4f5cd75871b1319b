#include "inifile.h"

#include <QByteArray>
#include <QFile>
#include <QList>

#include <ini.h>

#include <cctype>
#include <cstring>

namespace setup {

namespace {

// Marks a value that the reader kept aside because its line did not fit
// into libinih's line buffer; the index into Parse::longValues follows.
constexpr char LongValueMark[] = "\x01\x02";

struct Parse
{
    QByteArray data;
    qsizetype pos = 0;
    QList<QByteArray> longValues; // raw text after the separator of each long line
    QHash<QString, QString> *values = nullptr;
};

bool isBlank(char c)
{
    return std::isspace(static_cast<unsigned char>(c)) != 0;
}

QString keyOf(const char *section, const char *name)
{
    return (QString::fromUtf8(section) + QLatin1Char('\n') + QString::fromUtf8(name)).toLower();
}

// The value the way libinih trims it: an inline comment (";" after a blank)
// removed, then the blanks at both ends.
QByteArray trimmedValue(const QByteArray &raw)
{
    qsizetype end = 0;
    bool wasBlank = false;
    while (end < raw.size() && !(wasBlank && raw.at(end) == ';')) {
        wasBlank = isBlank(raw.at(end));
        ++end;
    }
    return raw.left(end).trimmed();
}

// Writes the next line into str (at most num - 1 characters and a zero).
// A line that does not fit is replaced by a short one of the same meaning:
// "name=" and a mark for a value kept aside, or a comment when it has no
// separator within reach, so no tail of a long line is ever parsed as a line
// of its own.
char *readLine(char *str, int num, void *stream)
{
    auto *parse = static_cast<Parse *>(stream);
    if (parse->pos >= parse->data.size() || num < 2)
        return nullptr;
    qsizetype end = parse->data.indexOf('\n', parse->pos);
    end = end < 0 ? parse->data.size() : end + 1;
    QByteArray line = parse->data.mid(parse->pos, end - parse->pos);
    parse->pos = end;

    if (line.size() >= num) {
        while (line.endsWith('\n') || line.endsWith('\r'))
            line.chop(1);
        const QByteArray start = line.trimmed();
        qsizetype separator = 0;
        while (separator < line.size() && line.at(separator) != '=' && line.at(separator) != ':')
            ++separator;
        QByteArray shortLine;
        if (start.startsWith('[')) {
            const qsizetype close = line.indexOf(']');
            shortLine = close >= 0 && close + 2 < num ? line.left(close + 1) : QByteArray("[\x01]"); // a section no key can name
        } else if (!start.isEmpty() && start.at(0) != ';' && start.at(0) != '#' && separator < line.size()) {
            shortLine = line.left(separator + 1) + LongValueMark + QByteArray::number(parse->longValues.size());
            parse->longValues.append(line.mid(separator + 1));
        }
        if (shortLine.isEmpty() || shortLine.size() + 2 > num)
            shortLine = "#";
        line = shortLine + '\n';
    }
    std::memcpy(str, line.constData(), size_t(line.size()));
    str[line.size()] = '\0';
    return str;
}

int storeValue(void *user, const char *section, const char *name, const char *value)
{
    auto *parse = static_cast<Parse *>(user);
    QByteArray bytes(value);
    if (bytes.startsWith(LongValueMark)) {
        bool ok = false;
        const int index = bytes.mid(int(std::strlen(LongValueMark))).toInt(&ok);
        if (ok && index >= 0 && index < parse->longValues.size())
            bytes = trimmedValue(parse->longValues.at(index));
    }
    // A value in matching quotes stands for the text between them, so it may
    // begin or end with blanks.
    if (bytes.size() >= 2 && (bytes.front() == '"' || bytes.front() == '\'') && bytes.back() == bytes.front())
        bytes = bytes.mid(1, bytes.size() - 2);
    const QString key = keyOf(section, name);
    if (!parse->values->contains(key))
        parse->values->insert(key, QString::fromUtf8(bytes).left(IniFile::MaxValueLength));
    return 1;
}

} // namespace

IniFile::IniFile(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return;
    Parse parse;
    parse.data = file.readAll();
    parse.values = &m_values;
    // Lines libinih cannot parse are left out; the rest still count.
    ini_parse_stream(readLine, &parse, storeValue, &parse);
}

QString IniFile::value(const QString &section, const QString &key, const QString &defaultValue) const
{
    const auto it = m_values.constFind((section + QLatin1Char('\n') + key).toLower());
    return it == m_values.constEnd() ? defaultValue : *it;
}

} // namespace setup
