#pragma once

#include <QString>

namespace setup {

// Every message box of setup goes through one SetupMessages: the program
// installs one that shows QMessageBox, tests one that records and answers.
class SetupMessages
{
public:
    enum class Icon
    {
        Warning,
        Question
    };
    enum class Buttons
    {
        Ok,
        YesNoCancel
    };
    enum class Answer
    {
        Ok,
        Yes,
        No,
        Cancel
    };

    virtual ~SetupMessages() = default;

    // Shows text (lines joined by "\n") and waits for the answer.
    virtual Answer show(const QString &text, Icon icon, Buttons buttons, const QString &title) = 0;

    void warn(const QString &text) { show(text, Icon::Warning, Buttons::Ok, title()); }

    static QString title() { return QStringLiteral("Tarvel Setup"); }
};

} // namespace setup
