#include "failurereport.h"

#include "base/messagesink.h"

#include <QLocale>

namespace perrox {

namespace {

const QLatin1String kCrLf("\r\n");

// What went wrong, without the path the message names at its end
// ("description - path"); any other message whole, on one line.
QString ReasonOf(const QString &path, const QString &message)
{
    const QString tail = QLatin1String(" - ") + path;
    QString reason = message.endsWith(tail) ? message.chopped(tail.size()) : message;
    reason.replace(kCrLf, QLatin1String(" "));
    reason.replace(QLatin1Char('\r'), QLatin1Char(' '));
    reason.replace(QLatin1Char('\n'), QLatin1Char(' '));
    return reason.simplified();
}

} // namespace

void FailureReport::start()
{
    m_failures.clear();
    m_atEnd = false;
    m_waiting = false;
}

void FailureReport::failed(const QString &path, const QString &message)
{
    const bool first = m_failures.empty();
    m_failures.emplace_back(path, message);
    if (m_atEnd) {
        m_waiting = true;
        return;
    }
    if (!first) {
        m_messages.warn(message);
        return;
    }
    MessageSink::CheckBox box {CheckBoxText(), true};
    m_messages.showWithCheckBox(message, MessageSink::Icon::Exclamation, MessageSink::Buttons::Ok, MessageSink::programTitle(), box);
    m_atEnd = box.checked;
}

void FailureReport::finish()
{
    if (m_waiting)
        m_messages.warn(SummaryText(m_failures));
    start();
}

QString FailureReport::SummaryText(const std::vector<std::pair<QString, QString>> &failures, int maxLines)
{
    const QLocale english(QLocale::English, QLocale::UnitedStates);
    const qsizetype n = qsizetype(failures.size());
    QString text = (n == 1 ? QStringLiteral("1 file") : english.toString(n) + QLatin1String(" files")) + QLatin1String(" could not be processed:") + kCrLf;
    const qsizetype shown = std::min<qsizetype>(n, maxLines);
    for (qsizetype i = 0; i < shown; ++i)
        text += kCrLf + failures[size_t(i)].first + QLatin1String(" - ") + ReasonOf(failures[size_t(i)].first, failures[size_t(i)].second);
    if (shown < n)
        text += kCrLf + QLatin1String("... and ") + english.toString(n - shown) + QLatin1String(" more, marked in the file list.");
    return text;
}

} // namespace perrox
