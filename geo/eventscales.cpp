#include "geo/eventscales.h"

#include <algorithm>
#include <cmath>
#include <iterator>

namespace EventScales {

double radius(double magnitude)
{
    return std::max(1.5, 2.0 * std::pow(10.0, 0.15 * magnitude));
}

double zoomFactor(double pixelsPerKm)
{
    if (!(pixelsPerKm > 0))
        return 1.0;
    const double factor = std::clamp(pixelsPerKm, 0.15, 1.0);
    return std::round(factor * 20) / 20;   // steps of 0.05
}

QColor depthColour(double depthKm)
{
    struct Stop
    {
        double depth;
        QColor colour;
    };
    static const Stop stops[] = {
        { 0, QColor(215, 25, 28) },   { 15, QColor(253, 141, 60) },  { 40, QColor(254, 217, 118) },
        { 100, QColor(65, 171, 93) }, { 200, QColor(44, 123, 182) }, { 300, QColor(106, 61, 154) },
    };
    if (depthKm <= stops[0].depth)
        return stops[0].colour;
    for (std::size_t i = 1; i < std::size(stops); ++i) {
        if (depthKm <= stops[i].depth) {
            const double t = (depthKm - stops[i - 1].depth) / (stops[i].depth - stops[i - 1].depth);
            const QColor &a = stops[i - 1].colour, &b = stops[i].colour;
            return QColor::fromRgbF(float(a.redF() + t * (b.redF() - a.redF())),
                                    float(a.greenF() + t * (b.greenF() - a.greenF())),
                                    float(a.blueF() + t * (b.blueF() - a.blueF())));
        }
    }
    return std::prev(std::end(stops))->colour;
}

QColor noDepthColour()
{
    return QColor(150, 150, 150);
}

QColor colourOf(std::optional<double> depthKm)
{
    return depthKm ? depthColour(*depthKm) : noDepthColour();
}

double radiusOf(std::optional<double> magnitude)
{
    return magnitude ? radius(*magnitude) : NoMagnitudeRadius;
}

} // namespace EventScales
