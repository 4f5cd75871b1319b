#include "dpkgproducts.h"

#include <QProcess>
#include <QRegularExpression>

#include <unistd.h>

namespace setup {

DpkgProducts::DpkgProducts()
    : m_root(::geteuid() == 0)
{ }

bool DpkgProducts::IsPackageName(const QString &productCode)
{
    static const QRegularExpression name(QStringLiteral("^[a-z0-9][a-z0-9+.-]+(:[a-z0-9-]+)?$"));
    return name.match(productCode).hasMatch();
}

std::optional<InstalledProduct> DpkgProducts::open(const QString &productCode)
{
    if (!IsPackageName(productCode))
        return std::nullopt;
    QProcess query;
    query.setProgram(QStringLiteral("dpkg-query"));
    query.setArguments({QStringLiteral("--show"), QStringLiteral("--showformat=${db:Status-Status}\\t${binary:Package}\\t${Version}\\n"), productCode});
    query.setStandardErrorFile(QProcess::nullDevice());
    query.start(QIODevice::ReadOnly);
    if (!query.waitForFinished(60000)) {
        query.kill();
        query.waitForFinished();
        return std::nullopt;
    }
    if (query.exitStatus() != QProcess::NormalExit || query.exitCode() != 0)
        return std::nullopt;

    // One line per matching instance (a package of several architectures has more).
    const QStringList lines = QString::fromUtf8(query.readAllStandardOutput()).split(u'\n', Qt::SkipEmptyParts);
    for (const QString &line : lines) {
        const QStringList fields = line.split(u'\t');
        if (fields.size() != 3)
            continue;
        // Removed packages whose configuration files remain are not installed.
        if (fields.at(0) == QLatin1String("not-installed") || fields.at(0) == QLatin1String("config-files"))
            continue;
        const QString &package = fields.at(1);
        const QString prefix = m_root ? QString() : QStringLiteral("pkexec ");
        return InstalledProduct {package + u' ' + fields.at(2), prefix + QStringLiteral("dpkg --remove ") + package};
    }
    return std::nullopt;
}

} // namespace setup
