#include "progresswindow.h"

#include "base/messagesink.h"
#include "base/twips.h"
#include "base/widgetsupport.h"
#include "files/filenames.h"

#include <QCloseEvent>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>

namespace perrox {

namespace {
const double kInnerWidth = 4830;
// The design's 1110 twips and one line for the file number and the bytes.
const double kInnerHeight = 1350;
const double kCountsTop = 600;
const double kBarTop = 930;
const double kLabelLeft = 120;
} // namespace

QString CancelQuestion()
{
    return QStringLiteral("Do you really want to cancel the process?");
}

ProgressWindow::ProgressWindow(QWidget *owner, MessageSink &messages)
    : QDialog(owner, Qt::Dialog | Qt::WindowTitleHint | Qt::WindowCloseButtonHint | Qt::CustomizeWindowHint)
    , m_messages(messages)
    , m_status1(new QLabel(this))
    , m_status2(new QLabel(this))
    , m_counts(new QLabel(this))
    , m_bar(new QProgressBar(this))
    , m_cancel(new QPushButton(QStringLiteral("Cancel"), this))
{
    setWindowTitle(QStringLiteral("Processing..."));
    setModal(false);
    const double tpp = ScreenTwipsPerPixel();
    setFixedSize(TwipsToPixels(kInnerWidth, tpp), TwipsToPixels(kInnerHeight, tpp));
    m_status1->move(TwipsToPixels(kLabelLeft, tpp), TwipsToPixels(120, tpp));
    m_status2->move(TwipsToPixels(kLabelLeft, tpp), TwipsToPixels(360, tpp));
    m_status1->setTextFormat(Qt::PlainText);
    m_status2->setTextFormat(Qt::PlainText);
    m_counts->move(TwipsToPixels(kLabelLeft, tpp), TwipsToPixels(kCountsTop, tpp));
    m_counts->setTextFormat(Qt::PlainText);
    SetGeometryTwips(m_bar, 120, kBarTop, 3375, 255);
    m_bar->setRange(0, ProgressScale::kMaximum);
    m_bar->setValue(0);
    m_bar->setTextVisible(false);
    SetGeometryTwips(m_cancel, 3640, kBarTop - 45, 1065, 345);
    m_cancel->setAutoDefault(false);
    connect(m_cancel, &QPushButton::clicked, this, &ProgressWindow::askCancel);
}

void ProgressWindow::Initialize(double dblMaxVal)
{
    m_bar->setRange(0, ProgressScale::kMaximum);
    m_bar->setValue(0);
    m_scale.initialize(dblMaxVal);
    m_position = 0;
    showCounts();
}

void ProgressWindow::Update(double dblActVal)
{
    const std::optional<int> v = m_scale.update(dblActVal);
    // Repainting only on a change keeps the bar cheap on runs of many blocks.
    if (v && *v != m_bar->value())
        m_bar->setValue(*v);
    // The bytes in steps of a thousandth of the total (as fine as they are
    // shown), and the end, which the bar's last step may not reach.
    const double total = m_scale.total();
    if (dblActVal >= m_position + total / 1000 || (dblActVal >= total && m_position < total)) {
        m_position = dblActVal;
        showCounts();
    }
}

void ProgressWindow::setFileNumber(int number, int files)
{
    m_number = number;
    m_files = files;
    m_replaced.clear();
    showCounts();
}

void ProgressWindow::showCounts()
{
    m_counts->setText(ProgressCountText(m_number, m_files, m_position, m_scale.total()));
    m_counts->adjustSize();
}

void ProgressWindow::setStatus1(const QString &text)
{
    setStatus(m_status1, text);
}

void ProgressWindow::setStatus2(const QString &text)
{
    setStatus(m_status2, text);
}

void ProgressWindow::setStatus(QLabel *label, const QString &text)
{
    const double tpp = ScreenTwipsPerPixel();
    const int room = TwipsToPixels(kInnerWidth - 2 * kLabelLeft, tpp);
    const QFontMetrics metrics(label->font());
    label->setText(ShortenPath(text, [&](const QString &candidate) { return metrics.horizontalAdvance(candidate) <= room; }));
    label->adjustSize();
}

void ProgressWindow::askCancel()
{
    // A second click while the question is open must not stack questions.
    if (m_asking)
        return;
    m_asking = true;
    if (m_messages.show(CancelQuestion(), MessageSink::Icon::Question, MessageSink::Buttons::YesNo, MessageSink::programTitle()) == MessageSink::Answer::Yes) {
        m_cancelFlag = true;
        // Too late for the file shown: say so rather than let it pass for one left as it was.
        if (!m_replaced.isEmpty())
            m_messages.show(ReplacedBeforeCancelMessage(m_replaced), MessageSink::Icon::Information, MessageSink::Buttons::Ok, MessageSink::programTitle());
    }
    m_asking = false;
}

void ProgressWindow::unload()
{
    m_unloading = true;
    close();
}

void ProgressWindow::closeEvent(QCloseEvent *event)
{
    if (m_unloading) {
        event->accept();
        return;
    }
    event->ignore();
    askCancel();
}

void ProgressWindow::reject()
{
    // Escape closes a dialog; here it asks like the close box.
    if (m_unloading)
        QDialog::reject();
    else
        askCancel();
}

} // namespace perrox
