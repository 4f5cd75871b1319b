#include "desktopservices.h"

#include <QApplication>
#include <QDesktopServices>
#include <QGuiApplication>
#include <QLabel>
#include <QMessageBox>
#include <QPixmap>
#include <QScreen>
#include <QThread>
#include <QUrl>

#include <cerrno>

namespace setup {

SetupMessages::Answer BoxMessages::show(const QString &text, Icon icon, Buttons buttons, const QString &title)
{
    QMessageBox box(icon == Icon::Question ? QMessageBox::Question : QMessageBox::Warning, title, text,
        buttons == Buttons::YesNoCancel ? QMessageBox::Yes | QMessageBox::No | QMessageBox::Cancel : QMessageBox::Ok);
    switch (box.exec()) {
    case QMessageBox::Yes:
        return Answer::Yes;
    case QMessageBox::No:
        return Answer::No;
    case QMessageBox::Cancel:
        return Answer::Cancel;
    default:
        return Answer::Ok;
    }
}

int DesktopOpener::open(const QString &path)
{
    return QDesktopServices::openUrl(QUrl::fromLocalFile(path)) ? 0 : EOPNOTSUPP;
}

QPoint CentredPosition(const QSize &screen, const QSize &window)
{
    return {(screen.width() - window.width()) / 2, (screen.height() - window.height()) / 2};
}

std::unique_ptr<QLabel> CreateSplashWindow(const QString &bitmapPath)
{
    auto window = std::make_unique<QLabel>(nullptr, Qt::SplashScreen | Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint);
    window->setWindowTitle(SetupMessages::title());
    window->setContentsMargins(0, 0, 0, 0);
    const QPixmap bitmap(bitmapPath);
    if (!bitmap.isNull())
        window->setPixmap(bitmap);
    window->setFixedSize(bitmap.size());
    if (const QScreen *screen = QGuiApplication::primaryScreen())
        window->move(screen->geometry().topLeft() + CentredPosition(screen->geometry().size(), window->size()));
    return window;
}

void SplashWindow::show(const QString &bitmapPath)
{
    const std::unique_ptr<QLabel> window = CreateSplashWindow(bitmapPath);
    window->show();
    window->repaint();
    QCoreApplication::processEvents();
    QThread::msleep(static_cast<unsigned long>(m_milliseconds));
    window->hide();
}

} // namespace setup
