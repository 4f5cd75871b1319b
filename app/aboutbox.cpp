#include "aboutbox.h"

#include "base/twips.h"
#include "base/version.h"
#include "base/widgetsupport.h"

#include <QApplication>
#include <QFrame>
#include <QLabel>
#include <QMouseEvent>
#include <QPushButton>
#include <QUrl>

#include <algorithm>

namespace perrox {

namespace {

// A label at its design place, sized to its text.
QLabel *AutoSizeLabel(QWidget *parent, const QString &name, const QString &text, double left, double top, double width, double height)
{
    auto *label = new QLabel(text, parent);
    label->setObjectName(name);
    label->setTextFormat(Qt::PlainText);
    SetGeometryTwips(label, left, top, width, height);
    label->adjustSize();
    return label;
}

} // namespace

QString AboutVersionText()
{
    return QStringLiteral("Version %1.%2").arg(PERROX_VERSION_MAJOR).arg(PERROX_VERSION_MINOR);
}

QString AboutDescriptionText()
{
    return QString::fromUtf8(PERROX_DESCRIPTION);
}

QString AboutCopyrightText()
{
    return QStringLiteral("Copyright © 2026 The Perrox developers, GNU GPL 3 or later");
}

QString AboutWebAddress()
{
    return QStringLiteral("https://perrox.example.org");
}

AboutBox::AboutBox(QWidget *owner)
    : QDialog(owner, FixedDialogFlags())
{
    SetUpFixedDialog(this, QStringLiteral("AboutBox"), QStringLiteral("About Perrox"), 4230, 2460);

    m_image1 = new QLabel(this);
    m_image1->setObjectName(QStringLiteral("Image1"));
    const QIcon icon = owner ? owner->windowIcon() : QApplication::windowIcon();
    SetGeometryTwips(m_image1, 240, 135, 480, 480);
    m_image1->setPixmap(icon.pixmap(m_image1->size()));
    m_image1->setCursor(Qt::PointingHandCursor);
    m_image1->installEventFilter(this);

    m_label1 = AutoSizeLabel(this, QStringLiteral("Label1"), QStringLiteral("Perrox Revavod ozav azovi"), 840, 135, 1860, 195);
    QFont bold = m_label1->font();
    bold.setBold(true);
    m_label1->setFont(bold);
    m_label1->adjustSize();
    m_lblVersion = AutoSizeLabel(this, QStringLiteral("lblVersion"), QStringLiteral("Version x.x"), 840, 375, 765, 195);
    m_lblDescription = AutoSizeLabel(this, QStringLiteral("lblDescription"), QStringLiteral("Description"), 840, 630, 795, 195);
    m_lblCopyright = AutoSizeLabel(this, QStringLiteral("lblCopyright"), QStringLiteral("Copyright"), 840, 1050, 840, 195);
    m_label4 = AutoSizeLabel(this, QStringLiteral("Label4"), QStringLiteral("Worldwide Web: "), 840, 1470, 1230, 195);

    m_lblWWW = AutoSizeLabel(this, QStringLiteral("lblWWW"), QString(), 2070, 1455, 1740, 195);
    QPalette link = m_lblWWW->palette();
    link.setColor(QPalette::WindowText, Qt::blue);
    m_lblWWW->setPalette(link);
    m_lblWWW->setCursor(Qt::PointingHandCursor);
    m_lblWWW->installEventFilter(this);

    // Line1 and Line2: the etched separator above the button.
    auto *line = new QFrame(this);
    line->setObjectName(QStringLiteral("Line1"));
    line->setFrameShape(QFrame::HLine);
    line->setFrameShadow(QFrame::Sunken);
    SetGeometryTwips(line, 120, 1860, 3990, 30);

    m_command1 = new QPushButton(QStringLiteral("OK"), this);
    m_command1->setObjectName(QStringLiteral("Command1"));
    SetGeometryTwips(m_command1, 3045, 1995, 1095, 375);
    m_command1->setDefault(true);
    connect(m_command1, &QPushButton::clicked, this, &QDialog::accept);

    Form_Load();

    // The link follows its caption, which may be wider than drawn.
    m_lblWWW->move(std::max(m_lblWWW->x(), m_label4->geometry().right() + 1), m_lblWWW->y());
    // The design width was measured for a narrower interface font: grow the
    // box until every label fits, keeping the right margin of the design.
    const int margin = TwipsToPixels(4230 - (2070 + 1740), ScreenTwipsPerPixel());
    int needed = width();
    for (const QLabel *label : {m_label1, m_lblVersion, m_lblDescription, m_lblCopyright, m_label4, m_lblWWW})
        needed = std::max(needed, label->geometry().right() + 1 + margin);
    if (needed > width()) {
        const int grow = needed - width();
        setFixedSize(needed, height());
        line->resize(line->width() + grow, line->height());
        m_command1->move(m_command1->x() + grow, m_command1->y());
    }
}

AboutBox::~AboutBox() = default;

void AboutBox::Form_Load()
{
    m_lblVersion->setText(AboutVersionText());
    m_lblVersion->adjustSize();
    m_lblDescription->setText(AboutDescriptionText());
    m_lblDescription->adjustSize();
    m_lblCopyright->setText(AboutCopyrightText());
    m_lblCopyright->adjustSize();
    m_lblWWW->setText(AboutWebAddress());
    m_lblWWW->adjustSize();
}

void AboutBox::OpenLink()
{
    OpenUrl(openUrlHook, QUrl(m_lblWWW->text()));
}

bool AboutBox::eventFilter(QObject *watched, QEvent *event)
{
    if ((watched == m_lblWWW || watched == m_image1) && event->type() == QEvent::MouseButtonRelease) {
        const auto *mouse = static_cast<QMouseEvent *>(event);
        const auto *label = static_cast<QWidget *>(watched);
        // A click: pressed and released over the control.
        if (mouse->button() == Qt::LeftButton && label->rect().contains(mouse->position().toPoint())) {
            OpenLink();
            return true;
        }
    }
    return QDialog::eventFilter(watched, event);
}

} // namespace perrox
