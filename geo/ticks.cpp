#include "geo/ticks.h"

#include <cmath>
#include <initializer_list>

namespace Ticks {

double stepAtLeast(double rough)
{
    const double power = std::pow(10, std::floor(std::log10(rough)));
    for (const double factor : { 1.0, 2.0, 2.5, 5.0, 10.0 }) {
        if (factor * power >= rough)
            return factor * power;
    }
    return 10 * power;
}

double lengthAtMost(double rough)
{
    const double power = std::pow(10.0, std::floor(std::log10(rough)));
    return rough >= 5 * power ? 5 * power : rough >= 2 * power ? 2 * power : power;
}

} // namespace Ticks
