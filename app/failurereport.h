#pragma once

#include <QString>

#include <utility>
#include <vector>

namespace perrox {

class MessageSink;

// The files of one run in the window that could not be read or whose result
// was not put in place. The first gets its message with the check box
// "Report further failures at the end", checked at first; while it is left
// checked, the later ones show no box of their own and the end of the run
// shows one summary of them all. Unchecked, each shows its own box as
// before.
class FailureReport
{
public:
    explicit FailureReport(MessageSink &messages)
        : m_messages(messages)
    { }

    // A new run: nothing failed yet.
    void start();
    // The message of a failed file (its path and the message of the run).
    void failed(const QString &path, const QString &message);
    // The end of the run: the summary, when a failure waits for it.
    void finish();

    // "N files could not be processed:" and a "path - reason" line for each,
    // at most maxLines of them and then how many more.
    static QString SummaryText(const std::vector<std::pair<QString, QString>> &failures, int maxLines = kMaxLines);
    static QString CheckBoxText() { return QStringLiteral("Report further failures at the end"); }

    static constexpr int kMaxLines = 20;

private:
    MessageSink &m_messages;
    std::vector<std::pair<QString, QString>> m_failures; // path, message
    bool m_atEnd = false;
    bool m_waiting = false; // a failure not shown yet
};

} // namespace perrox
