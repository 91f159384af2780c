#pragma once

// Maps and plots of events as inline SVG for the gateway's pages: Natural
// Earth's land, and events sized by magnitude and coloured by depth on
// Harvix's fixed scales, with their legends. No script and no tiles. Where
// events fall on the same few pixels they are drawn once, as the largest
// of them, so that a map of any number of events stays small.

#include "geo/projection.h"

#include <QRectF>

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

struct SvgEvent
{
    GeoPoint at;
    std::optional<double> magnitude;
    std::optional<double> depthKm;
    std::int64_t timeUs = 0;
};

namespace SvgMap {

// A map of the events within the area, in kilometres from the projection's
// centre; the marked event, if any, is ringed. cell: the pixels that hold
// one event at most.
std::string map(const Projection &projection, const QRectF &areaKm, const std::vector<SvgEvent> &events,
                const SvgEvent *marked, int cell = 1);
// The legends of both scales.
std::string legend();
// Magnitude against time, one dot a cell.
std::string magnitudeTimePlot(const std::vector<SvgEvent> &events);

} // namespace SvgMap
