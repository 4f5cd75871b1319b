#include "windowfixture.h"

#include "files/filesystem.h"

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

void WindowTest::startWindow()
{
    dir = std::make_unique<QTemporaryDir>();
    temp = std::make_unique<QTemporaryDir>();
    qputenv("TEMP", NativePath(temp->path()));
    state = std::make_unique<StateFolderGuard>();
    f = std::make_unique<WindowFixture>(prefs());
    f->w->setEventPumpInterval(0);
}

bool WindowTest::stopWindow()
{
    f.reset();
    state.reset();
    qunsetenv("TEMP");
    return TemporaryFilesIn(temp->path()).isEmpty();
}

} // namespace perrox::test
