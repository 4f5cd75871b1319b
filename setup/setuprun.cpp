#include "setuprun.h"

#include "inifile.h"

#include <QFileInfo>
#include <QProcess>

#include <cerrno>
#include <climits>
#include <cstring>

namespace setup {

namespace {

const QString InstallSection = QStringLiteral("Install");
const QString UninstallSection = QStringLiteral("Uninstall");

// True for an existing path that is not a folder.
bool FileExists(const QString &path)
{
    const QFileInfo info(path);
    return info.exists() && !info.isDir();
}

QString SystemErrorDescription(int errorCode)
{
    char buffer[256];
    // GNU strerror_r returns the text, which may or may not live in buffer.
    const char *text = ::strerror_r(errorCode, buffer, sizeof buffer);
    return text ? QString::fromLocal8Bit(text) : QString();
}

bool IsBlank(QChar c)
{
    return c == u' ' || c == u'\t' || c == u'\n' || c == u'\v' || c == u'\f' || c == u'\r';
}

} // namespace

OwnNames OwnNamesOf(const QString &programPath)
{
    const qsizetype slash = programPath.lastIndexOf(u'/');
    const QString fileName = programPath.mid(slash + 1);
    const qsizetype dot = fileName.lastIndexOf(u'.');
    return {programPath.left(slash + 1), dot > 0 ? fileName.left(dot) : fileName};
}

QString DefaultDownloadAddress()
{
    return QStringLiteral("https://perrox.example.org/download");
}

QString SetupString(int id)
{
    switch (id) {
    case 1:
        return QStringLiteral("Setup cannot find the file %s.\n\nDownload a complete installation package from %s and run Setup again.");
    case 2:
        return QStringLiteral("Setup cannot find the file \"%s\" to install.\n\nDownload a complete installation package from %s and run Setup again.");
    case 3:
        return QStringLiteral(
            "\nNote: Setup cannot find the Windows Installer executable file \"%s\".\nDownload Windows Installer from %s, install it, and run Setup again.");
    case 4:
        return QStringLiteral("Setup has found a previous version of the application on your computer:\n%s\nDo you want to uninstall the previous version?");
    }
    return QString();
}

QString FillString(const QString &text, const QStringList &values)
{
    QString filled;
    qsizetype next = 0;
    for (qsizetype i = 0; i < text.size(); ++i) {
        if (text.at(i) == u'%' && i + 1 < text.size() && text.at(i + 1) == u's' && next < values.size()) {
            filled += values.at(next++);
            ++i;
        } else {
            filled += text.at(i);
        }
    }
    return filled;
}

QString FixedErrorMessage()
{
    return QStringLiteral("An error occured, but Setup has not enough memory to display more information.");
}

int ModeNumber(const QString &text)
{
    qsizetype i = 0;
    while (i < text.size() && IsBlank(text.at(i)))
        ++i;
    bool negative = false;
    if (i < text.size() && (text.at(i) == u'+' || text.at(i) == u'-'))
        negative = text.at(i++) == u'-';
    qint64 number = 0;
    for (; i < text.size() && text.at(i) >= u'0' && text.at(i) <= u'9'; ++i)
        number = qMin<qint64>(number * 10 + (text.at(i).unicode() - u'0'), qint64(INT_MAX) + 1); // saturates
    if (negative)
        number = -number;
    return int(qBound(qint64(INT_MIN), number, qint64(INT_MAX)));
}

QString UninstallCommand(const QString &uninstallString, const QString &uiLevel)
{
    const QString install = QStringLiteral(" /I");
    const qsizetype at = uninstallString.indexOf(install, 0, Qt::CaseSensitive);
    if (at < 0)
        return uninstallString;
    return uninstallString.left(at) + QStringLiteral(" /") + uiLevel + QStringLiteral(" /x") + uninstallString.mid(at + install.size());
}

QList<PreviousVersion> FindPreviousVersions(const IniFile &ini, InstalledProducts &products)
{
    QList<PreviousVersion> versions;
    for (int n = 0; versions.size() < MaxPreviousVersions; ++n) {
        const QString code = ini.value(UninstallSection, QStringLiteral("ProductCode") + QString::number(n));
        if (code.isEmpty())
            break;
        const std::optional<InstalledProduct> product = products.open(code);
        // Each entry's values stand alone: one entry's name never joins another's command.
        if (product && !product->displayName.isEmpty() && !product->uninstallString.isEmpty())
            versions.append({product->displayName.left(MaxDisplayNameLength), product->uninstallString});
    }
    return versions;
}

SetupMessages::Answer AskUninstall(const QList<PreviousVersion> &versions, SetupMessages &messages)
{
    QString list;
    for (const PreviousVersion &version : versions)
        list += version.displayName + u'\n';
    return messages.show(FillString(SetupString(4), {list}), SetupMessages::Icon::Question, SetupMessages::Buttons::YesNoCancel, SetupMessages::title());
}

void UninstallPreviousVersions(const QList<PreviousVersion> &versions, const IniFile &ini, const QString &downloadAddress, SetupServices &services)
{
    const QString uiLevel = ini.value(UninstallSection, QStringLiteral("UILevel"), QStringLiteral("qr")).left(MaxUILevelLength);
    for (const PreviousVersion &version : versions) {
        // Split into a program and its arguments; no shell ever sees the text.
        QStringList words = QProcess::splitCommand(UninstallCommand(version.uninstallString, uiLevel));
        const int error = words.isEmpty() ? ENOENT : services.programs.runAndWait(words.takeFirst(), words);
        if (error != 0)
            ShowSystemError(error, downloadAddress, services);
    }
}

void StartInstaller(const QString &packagePath, int mode, const QString &downloadAddress, SetupServices &services)
{
    const int error = mode == 2 ? services.programs.start(packagePath) : services.opener.open(packagePath);
    if (error != 0)
        ShowSystemError(error, downloadAddress, services);
}

void ShowSystemError(int errorCode, const QString &downloadAddress, SetupServices &services)
{
    const QString description = SystemErrorDescription(errorCode);
    if (description.isEmpty()) {
        services.messages.warn(FixedErrorMessage());
        return;
    }
    QString note;
    if (!FileExists(services.installerPath))
        note = FillString(SetupString(3), {services.installerPath, downloadAddress});
    services.messages.warn(description + note);
}

int RunSetup(const QString &programPath, SetupServices &services)
{
    const OwnNames names = OwnNamesOf(programPath);
    const QString iniPath = names.folder + names.baseName + QStringLiteral(".INI");
    if (!FileExists(iniPath)) {
        services.messages.warn(FillString(SetupString(1), {iniPath, DefaultDownloadAddress()}));
        return 1;
    }

    const QString bitmapPath = names.folder + names.baseName + QStringLiteral(".BMP");
    if (FileExists(bitmapPath))
        services.splash.show(bitmapPath);

    const IniFile ini(iniPath);
    const QString downloadAddress = ini.value(InstallSection, QStringLiteral("DownloadURL"), DefaultDownloadAddress()).left(MaxDownloadAddressLength);
    const QString packagePath = names.folder + ini.value(InstallSection, QStringLiteral("FileName"), names.baseName + QStringLiteral(".deb"));
    if (!FileExists(packagePath)) {
        services.messages.warn(FillString(SetupString(2), {packagePath, downloadAddress}));
        return 1;
    }

    const QList<PreviousVersion> versions = FindPreviousVersions(ini, services.products);
    if (!versions.isEmpty()) {
        switch (AskUninstall(versions, services.messages)) {
        case SetupMessages::Answer::Yes:
            UninstallPreviousVersions(versions, ini, downloadAddress, services);
            break;
        case SetupMessages::Answer::Cancel:
            return 1;
        default:
            break;
        }
    }

    StartInstaller(packagePath, ModeNumber(ini.value(InstallSection, QStringLiteral("Mode"), QStringLiteral("1"))), downloadAddress, services);
    return 0;
}

} // namespace setup
