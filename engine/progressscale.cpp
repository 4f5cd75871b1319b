#include "progressscale.h"

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
