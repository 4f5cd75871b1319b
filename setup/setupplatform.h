#pragma once

#include <QString>
#include <QStringList>

#include <optional>

namespace setup {

// What the list of installed products says about one product code. Either
// value may be empty when the entry lacks it.
struct InstalledProduct
{
    QString displayName;
    QString uninstallString;
};

// The system's list of installed products.
class InstalledProducts
{
public:
    virtual ~InstalledProducts() = default;
    // The entry named by productCode, or nothing when there is none or it cannot be read.
    virtual std::optional<InstalledProduct> open(const QString &productCode) = 0;
};

// Starting programs, never through a shell. Both return 0 when the program
// was started, else the errno value that kept it from starting.
class ProgramStarter
{
public:
    virtual ~ProgramStarter() = default;
    // Starts program with arguments and waits, with no time limit, until it has ended.
    virtual int runAndWait(const QString &program, const QStringList &arguments) = 0;
    // Starts program without arguments and does not wait for it.
    virtual int start(const QString &program) = 0;
};

// The desktop's "open" action on a file. Returns 0 when the file was handed
// over, else an errno value.
class FileOpener
{
public:
    virtual ~FileOpener() = default;
    virtual int open(const QString &path) = 0;
};

// Shows the splash picture for two seconds and returns when it is gone.
class SplashScreen
{
public:
    virtual ~SplashScreen() = default;
    virtual void show(const QString &bitmapPath) = 0;
};

} // namespace setup
