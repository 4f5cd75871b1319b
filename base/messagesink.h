#pragma once

#include <QString>

namespace perrox {

// Every message box, question, beep and busy pointer of the program goes
// through one MessageSink. The window installs one that shows QMessageBox,
// perrox-batch one that writes to the terminal, tests one that records and
// answers. Logic never opens a dialog itself.
class MessageSink
{
public:
    enum class Icon
    {
        Exclamation,
        Question,
        Information
    };
    enum class Buttons
    {
        Ok,
        YesNo,
        YesNoCancel
    };
    enum class Answer
    {
        Ok,
        Yes,
        No,
        Cancel
    };

    virtual ~MessageSink() = default;

    // Shows text (lines joined by "\r\n" or "\r") and waits for the answer.
    virtual Answer show(const QString &text, Icon icon, Buttons buttons, const QString &title) = 0;
    // A check box under the text, such as "Do not ask again": shown with
    // its text and checked as given; the state the user left it in is
    // written back. A sink that cannot show one leaves it as it was. A
    // Yes/No question with a check box has No as its default answer.
    struct CheckBox
    {
        QString text;
        bool checked = false;
    };
    virtual Answer showWithCheckBox(const QString &text, Icon icon, Buttons buttons, const QString &title, CheckBox &box)
    {
        Q_UNUSED(box);
        return show(text, icon, buttons, title);
    }
    virtual void beep() = 0;
    // Busy pointer on or off; calls nest (BusyPointer pairs them).
    virtual void setBusy(bool busy) = 0;

    // The common kinds of box, with the program's title.
    void warn(const QString &text) { show(text, Icon::Exclamation, Buttons::Ok, programTitle()); }
    Answer ask(const QString &text, Icon icon) { return show(text, icon, Buttons::YesNo, programTitle()); }

    static QString programTitle() { return QStringLiteral("Perrox"); }
};

// Shows the busy pointer for the lifetime of the guard, on every way out.
class BusyPointer
{
public:
    explicit BusyPointer(MessageSink &sink)
        : m_sink(sink)
    {
        m_sink.setBusy(true);
    }
    ~BusyPointer() { m_sink.setBusy(false); }
    BusyPointer(const BusyPointer &) = delete;
    BusyPointer &operator=(const BusyPointer &) = delete;

private:
    MessageSink &m_sink;
};

} // namespace perrox
