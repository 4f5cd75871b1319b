#include "windowfixture.h"

#include <QDragEnterEvent>
#include <QMimeData>
#include <QTest>

namespace perrox::test {

WindowFixture::WindowFixture(const QString &preferencesFile, bool show)
    : w(std::make_unique<MainWindow>(&sink, preferencesFile, &dialogs))
{
    if (show) {
        w->show();
        if (QTest::qWaitForWindowExposed(w.get()))
            w->activateWindow(), (void)QTest::qWaitForWindowActive(w.get());
    }
}

void WindowFixture::drop(const QList<QUrl> &urls) const
{
    QMimeData data;
    data.setUrls(urls);
    QDragEnterEvent enter(QPoint(20, 20), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
    QCoreApplication::sendEvent(files()->viewport(), &enter);
    QDropEvent drop(QPointF(20, 20), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
    QCoreApplication::sendEvent(files()->viewport(), &drop);
}

} // namespace perrox::test
