#pragma once

#include "app/help.h"

#include <QDialog>

class QLabel;
class QPushButton;

namespace perrox {

// AboutBox, "About Perrox": the program's name, version, description,
// copyright and web address. A click on the address or on the icon opens the
// address; OK closes the box. Modal use: construct, exec().
class AboutBox : public QDialog
{
    Q_OBJECT

public:
    explicit AboutBox(QWidget *owner);
    ~AboutBox() override;

    QLabel *Image1() const { return m_image1; }
    QLabel *Label1() const { return m_label1; }
    QLabel *lblVersion() const { return m_lblVersion; }
    QLabel *lblDescription() const { return m_lblDescription; }
    QLabel *lblCopyright() const { return m_lblCopyright; }
    QLabel *Label4() const { return m_label4; }
    QLabel *lblWWW() const { return m_lblWWW; }
    QPushButton *Command1() const { return m_command1; }

    // Opens the address of lblWWW through this, or the desktop when unset (tests record).
    UrlOpener openUrlHook;
    void OpenLink();

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    void Form_Load();

    QLabel *m_image1 = nullptr;
    QLabel *m_label1 = nullptr;
    QLabel *m_lblVersion = nullptr;
    QLabel *m_lblDescription = nullptr;
    QLabel *m_lblCopyright = nullptr;
    QLabel *m_label4 = nullptr;
    QLabel *m_lblWWW = nullptr;
    QPushButton *m_command1 = nullptr;
};

// The texts of the box after loading.
QString AboutVersionText(); // "Version 1.2"
QString AboutDescriptionText();
QString AboutCopyrightText();
QString AboutWebAddress();

} // namespace perrox
