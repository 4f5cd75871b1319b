#include "widgetsupport.h"

#include "base/twips.h"

#include <QApplication>
#include <QCheckBox>
#include <QDialog>
#include <QMessageBox>
#include <QScreen>
#include <QWidget>

namespace perrox {

QString DisplayText(const QString &text)
{
    QString display = text;
    display.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
    display.replace(QLatin1Char('\r'), QLatin1Char('\n'));
    return display;
}

MessageSink::Answer WidgetMessageSink::show(const QString &text, Icon icon, Buttons buttons, const QString &title)
{
    return showBox(text, icon, buttons, title, nullptr);
}

MessageSink::Answer WidgetMessageSink::showWithCheckBox(const QString &text, Icon icon, Buttons buttons, const QString &title, CheckBox &check)
{
    return showBox(text, icon, buttons, title, &check);
}

MessageSink::Answer WidgetMessageSink::showBox(const QString &text, Icon icon, Buttons buttons, const QString &title, CheckBox *check)
{
    QMessageBox box(m_owner);
    // The box owns the check box and deletes it with itself.
    QCheckBox *checkBox = check ? new QCheckBox(check->text) : nullptr;
    if (checkBox) {
        checkBox->setChecked(check->checked);
        box.setCheckBox(checkBox);
    }
    box.setWindowTitle(title);
    box.setText(DisplayText(text));
    switch (icon) {
    case Icon::Exclamation:
        box.setIcon(QMessageBox::Warning);
        break;
    case Icon::Question:
        box.setIcon(QMessageBox::Question);
        break;
    case Icon::Information:
        box.setIcon(QMessageBox::Information);
        break;
    }
    switch (buttons) {
    case Buttons::Ok:
        box.setStandardButtons(QMessageBox::Ok);
        break;
    case Buttons::YesNo:
        box.setStandardButtons(QMessageBox::Yes | QMessageBox::No);
        // A question one may silence asks before something is written: a
        // stray Enter must not answer it.
        if (checkBox)
            box.setDefaultButton(QMessageBox::No);
        break;
    case Buttons::YesNoCancel:
        box.setStandardButtons(QMessageBox::Yes | QMessageBox::No | QMessageBox::Cancel);
        break;
    }
    // The wait cursor of a busy operation must not hide the pointer over the box.
    const bool busy = QApplication::overrideCursor() != nullptr;
    if (busy)
        QApplication::setOverrideCursor(Qt::ArrowCursor);
    const int result = box.exec();
    if (busy)
        QApplication::restoreOverrideCursor();
    if (checkBox)
        check->checked = checkBox->isChecked();
    switch (result) {
    case QMessageBox::Yes:
        return Answer::Yes;
    case QMessageBox::No:
        return Answer::No;
    case QMessageBox::Cancel:
        return Answer::Cancel;
    default:
        // A box closed by Escape or its close box counts as its safest answer.
        return buttons == Buttons::Ok ? Answer::Ok : buttons == Buttons::YesNo ? Answer::No : Answer::Cancel;
    }
}

void WidgetMessageSink::beep()
{
    QApplication::beep();
}

void WidgetMessageSink::setBusy(bool busy)
{
    if (busy)
        QApplication::setOverrideCursor(Qt::WaitCursor);
    else
        QApplication::restoreOverrideCursor();
}

double ScreenTwipsPerPixel()
{
    const QScreen *screen = QGuiApplication::primaryScreen();
    return TwipsPerPixel(screen ? screen->logicalDotsPerInch() : 96.0);
}

void SetGeometryTwips(QWidget *widget, double left, double top, double width, double height)
{
    const double tpp = ScreenTwipsPerPixel();
    widget->setGeometry(TwipsToPixels(left, tpp), TwipsToPixels(top, tpp), TwipsToPixels(width, tpp), TwipsToPixels(height, tpp));
}

void SetDesignFont(QWidget *widget)
{
    QFont small = widget->font();
    small.setPointSize(8);
    widget->setFont(small);
}

Qt::WindowFlags FixedDialogFlags()
{
    return Qt::Dialog | Qt::WindowTitleHint | Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint | Qt::MSWindowsFixedSizeDialogHint;
}

void SetUpFixedDialog(QDialog *dialog, const QString &name, const QString &caption, double widthTwips, double heightTwips)
{
    dialog->setObjectName(name);
    dialog->setWindowTitle(caption);
    SetDesignFont(dialog);
    const double tpp = ScreenTwipsPerPixel();
    dialog->setFixedSize(TwipsToPixels(widthTwips, tpp), TwipsToPixels(heightTwips, tpp));
}

} // namespace perrox
