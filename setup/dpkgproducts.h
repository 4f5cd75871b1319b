#pragma once

#include "setupplatform.h"

namespace setup {

// The installed products are the packages in dpkg's database. A product code
// is a package name (an architecture may follow after ":"); an installed
// package gives DisplayName = name + " " + version and UninstallString =
// "dpkg --remove " + name, with "pkexec " before it when setup is not root.
// Anything that is not a plain package name, such as a pattern, names no product.
class DpkgProducts : public InstalledProducts
{
public:
    DpkgProducts();
    explicit DpkgProducts(bool runningAsRoot)
        : m_root(runningAsRoot)
    { }

    std::optional<InstalledProduct> open(const QString &productCode) override;

    static bool IsPackageName(const QString &productCode);

private:
    bool m_root;
};

} // namespace setup
