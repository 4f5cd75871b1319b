#include "desktopservices.h"
#include "dpkgproducts.h"
#include "setuprun.h"
#include "spawnstarter.h"

#include <QApplication>

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Tarvel Setup"));
    setup::BoxMessages messages;
    setup::DpkgProducts products;
    setup::SpawnStarter programs;
    setup::DesktopOpener opener;
    setup::SplashWindow splash;
    setup::SetupServices services {messages, products, programs, opener, splash};
    return setup::RunSetup(QCoreApplication::applicationFilePath(), services);
}
