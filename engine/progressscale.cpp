#include "progressscale.h"

#include <QLocale>

#include <algorithm>
#include <cmath>

namespace perrox {

void ProgressScale::initialize(double total)
{
    m_total = total;
    m_step = std::floor(total / kMaximum) + 1;
    m_threshold = m_step;
}

std::optional<int> ProgressScale::update(double position)
{
    if (!(position > m_threshold))
        return std::nullopt;
    // std::nearbyint rounds halves to the even neighbour in the default mode.
    double v = m_total > 0 ? std::nearbyint(kMaximum * (position / m_total)) : 0;
    if (v > kMaximum)
        v = kMaximum;
    if (v < 0)
        v = 0;
    m_threshold += m_step;
    return static_cast<int>(v);
}

} // namespace perrox

namespace perrox {

namespace {
QString DataSize(double bytes)
{
    return QLocale::c().formattedDataSize(qint64(bytes), 1, QLocale::DataSizeSIFormat);
}
} // namespace

QString ProgressCountText(int number, int files, double done, double total)
{
    const QString bytes = DataSize(std::min(done, total)) + QLatin1String(" of ") + DataSize(total);
    return number > 0 ? QStringLiteral("File %1 of %2, ").arg(number).arg(files) + bytes : bytes;
}

QString ReplacedBeforeCancelMessage(const QString &path)
{
    return QLatin1String("The file ") + path + QLatin1String(" was replaced before the run could stop; the files after it are left as they are.");
}

} // namespace perrox
