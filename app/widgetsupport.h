#pragma once

#include "app/messagesink.h"

class QWidget;

namespace perrox {

// The message layer of the windows: QMessageBox with the given title, icon and
// buttons, the system beep, and the wait cursor. Line breaks written "\r\n" or
// "\r" show as line breaks.
class WidgetMessageSink : public MessageSink
{
public:
    explicit WidgetMessageSink(QWidget *owner = nullptr)
        : m_owner(owner)
    {
    }
    void setOwner(QWidget *owner) { m_owner = owner; }

    Answer show(const QString &text, Icon icon, Buttons buttons, const QString &title) override;
    void beep() override;
    void setBusy(bool busy) override;

private:
    QWidget *m_owner;
};

// Turns the "\r\n" and "\r" line breaks of a message into "\n".
QString DisplayText(const QString &text);

// Twips per pixel of the primary screen.
double ScreenTwipsPerPixel();

// A rectangle given in twips, in pixels of the primary screen.
void SetGeometryTwips(QWidget *widget, double left, double top, double width, double height);

} // namespace perrox
