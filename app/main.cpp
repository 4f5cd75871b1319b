#include "app/commandline.h"
#include "app/mainwindow.h"

#include "base/version.h"

#include <QApplication>

int main(int argc, char *argv[])
{
    // --help and --version are answered before QApplication exists: it needs a
    // display, and aborts without one.
    perrox::StartArguments arguments(argc, argv);
    if (const std::optional<int> status = arguments.answerWithoutWindow())
        return *status;
    QApplication app(arguments.qtArgumentCount(), argv);
    QApplication::setApplicationName(QStringLiteral("Perrox"));
    QApplication::setApplicationVersion(QStringLiteral(PERROX_VERSION));
    // Lets the desktop match the window with its menu entry and icon.
    QGuiApplication::setDesktopFileName(QStringLiteral(PERROX_APP_ID));
    if (const std::optional<int> status = arguments.readWhatQtLeft(argv))
        return *status;
    perrox::MainWindow window;
    window.show();
    window.FinishInterruptedRewrites();
    window.AddStartPaths(arguments.paths());
    return app.exec();
}
