#include "windowfixture.h"

#include "files/filesystem.h"

#include <QDragEnterEvent>
#include <QMimeData>
#include <QSettings>
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
    QDropEvent drop(QPointF(20, 20), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
    for (QEvent *event : std::initializer_list<QEvent *> {&enter, &drop})
        QCoreApplication::sendEvent(files()->viewport(), event);
}

void WindowTest::init()
{
    dir = std::make_unique<QTemporaryDir>();
    temp = std::make_unique<QTemporaryDir>();
    qputenv("TEMP", NativePath(temp->path()));
    state = std::make_unique<StateFolderGuard>();
    restart();
    // Replace runs without its question unless a test asks for it.
    f->w->preferences().askFirst = false;
}

void WindowTest::cleanup()
{
    f.reset();
    state.reset();
    qunsetenv("TEMP");
    QCOMPARE(TemporaryFilesIn(temp->path()), QStringList());
    QCOMPARE(TemporaryFilesIn(dir->path()), QStringList());
}

void WindowTest::restart()
{
    f.reset();
    f = std::make_unique<WindowFixture>(prefs());
    f->w->setEventPumpInterval(0);
}

void WindowTest::seed(const QList<std::pair<QString, QString>> &values) const
{
    QSettings settings(prefs(), QSettings::NativeFormat);
    for (const auto &[key, value] : values)
        settings.setValue(u"Preferences/"_s + key, value);
}

} // namespace perrox::test
