#include "help.h"

#include "base/messagesink.h"
#include "files/filesystem.h"

#include <QCoreApplication>
#include <QDesktopServices>
#include <QUrl>

namespace perrox {

bool OpenUrl(const UrlOpener &open, const QUrl &url)
{
    return open ? open(url) : QDesktopServices::openUrl(url);
}

QString HelpFilePath(const QString &programFolder)
{
    QString folder = programFolder.isEmpty() ? QCoreApplication::applicationDirPath() : programFolder;
    // A root folder keeps its "/" and gets no second one.
    if (!folder.endsWith(QLatin1Char('/')))
        folder += QLatin1Char('/');
    return folder + QLatin1String("help.txt");
}

QString MissingHelpFileMessage(const QString &path)
{
    return QLatin1String("Cannot find the help file\r") + path + QLatin1String("\r\rThe file shipped with the application and should be \r")
        + QLatin1String("located in the same directory as the program file.");
}

QString UnopenedHelpFileMessage(const QString &path)
{
    return QLatin1String("Cannot open the help file\r") + path + QLatin1String("\r\rThe desktop has no program to open text files. Open the file \r")
        + QLatin1String("with a text editor.");
}

void ShowHelp(MessageSink &messages, const UrlOpener &open, const QString &programFolder)
{
    const QString path = HelpFilePath(programFolder);
    if (!FileExists(path)) {
        messages.warn(MissingHelpFileMessage(path));
        return;
    }
    if (!OpenUrl(open, QUrl::fromLocalFile(path)))
        messages.warn(UnopenedHelpFileMessage(path));
}

} // namespace perrox
