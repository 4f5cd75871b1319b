#include "app/mainwindow.h"

#include "base/version.h"

#include <QApplication>

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Perrox"));
    QApplication::setApplicationVersion(QStringLiteral(PERROX_VERSION));
    perrox::MainWindow window;
    window.show();
    window.FinishInterruptedRewrites();
    return app.exec();
}
