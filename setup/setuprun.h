#pragma once

#include "setupmessages.h"
#include "setupplatform.h"

#include <QList>
#include <QString>
#include <QStringList>

namespace setup {

class IniFile;

// The services one run of setup uses; tests hand in their own.
struct SetupServices
{
    SetupMessages &messages;
    InstalledProducts &products;
    ProgramStarter &programs;
    FileOpener &opener;
    SplashScreen &splash;
    // The package installer; when no file exists here, error messages add a note.
    QString installerPath = QStringLiteral("/usr/bin/dpkg");
};

// An earlier installed version of the product: both fields are non-empty.
struct PreviousVersion
{
    QString displayName;
    QString uninstallString;
};

constexpr int MaxPreviousVersions = 16;
constexpr int MaxDisplayNameLength = 63;
constexpr int MaxDownloadAddressLength = 127;
constexpr int MaxUILevelLength = 15;

// The folder of the running program (ending with "/") and its file name
// without the extension.
struct OwnNames
{
    QString folder;
    QString baseName;
};
OwnNames OwnNamesOf(const QString &programPath);

QString DefaultDownloadAddress();
// The string table: the text with id 1 to 4, its "%s" not yet filled.
QString SetupString(int id);
// Replaces each "%s" of text, in order, by the next of values.
QString FillString(const QString &text, const QStringList &values);
QString FixedErrorMessage();

// The number at the start of text the way C's atoi reads it: leading blanks
// skipped, an optional sign, the digits up to the first non-digit; 0 without digits.
int ModeNumber(const QString &text);

// The command that uninstalls a version: U's first " /I" (case-sensitive)
// becomes " /" + uiLevel + " /x"; without " /I" U is returned unchanged.
QString UninstallCommand(const QString &uninstallString, const QString &uiLevel);

// The whole sequence; returns the program's exit code.
int RunSetup(const QString &programPath, SetupServices &services);

QList<PreviousVersion> FindPreviousVersions(const IniFile &ini, InstalledProducts &products);
SetupMessages::Answer AskUninstall(const QList<PreviousVersion> &versions, SetupMessages &messages);
void UninstallPreviousVersions(const QList<PreviousVersion> &versions, const IniFile &ini, const QString &downloadAddress, SetupServices &services);
void StartInstaller(const QString &packagePath, int mode, const QString &downloadAddress, SetupServices &services);
void ShowSystemError(int errorCode, const QString &downloadAddress, SetupServices &services);

} // namespace setup
