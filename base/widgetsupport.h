#pragma once

#include "base/messagesink.h"

#include <Qt>

class QDialog;
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
    { }
    void setOwner(QWidget *owner) { m_owner = owner; }

    Answer show(const QString &text, Icon icon, Buttons buttons, const QString &title) override;
    Answer showWithCheckBox(const QString &text, Icon icon, Buttons buttons, const QString &title, CheckBox &check) override;
    void beep() override;
    void setBusy(bool busy) override;

private:
    Answer showBox(const QString &text, Icon icon, Buttons buttons, const QString &title, CheckBox *check);
    QWidget *m_owner;
};

// Turns the "\r\n" and "\r" line breaks of a message into "\n".
QString DisplayText(const QString &text);

// Twips per pixel of the primary screen.
double ScreenTwipsPerPixel();

// A rectangle given in twips, in pixels of the primary screen.
void SetGeometryTwips(QWidget *widget, double left, double top, double width, double height);

// The layouts were drawn for an 8 point interface font.
void SetDesignFont(QWidget *widget);

// The flags of a dialog of fixed size with a title bar and a close box.
Qt::WindowFlags FixedDialogFlags();

// Names a fixed-size dialog, gives it its caption and the design font, and
// sizes it from its design size in twips.
void SetUpFixedDialog(QDialog *dialog, const QString &name, const QString &caption, double widthTwips, double heightTwips);

} // namespace perrox
