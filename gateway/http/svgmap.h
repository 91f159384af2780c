#pragma once

// Maps and plots of events as inline SVG for the gateway's pages: Natural
// Earth's land, and events sized by magnitude and coloured by depth on
// Harvix's fixed scales, with their legends. No script and no tiles. Where
// events fall on the same few pixels they are drawn once, as the largest
// of them, so that a map of any number of events stays small.

#include "geo/projection.h"

#include <QRectF>

#include <cstdint>
#include <functional>
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

// Events given one at a time to the function it is called with, as often
// as a picture needs to go through them: from a list, or from a query of
// the catalogue that is never held whole.
using EventSource = std::function<void(const std::function<void(const SvgEvent &)> &)>;
EventSource eventsOf(const std::vector<SvgEvent> &events);

// A map of the events within the area, in kilometres from the projection's
// centre; the marked event, if any, is ringed. cell: the pixels that hold
// one event at most.
std::string map(const Projection &projection, const QRectF &areaKm, const EventSource &events,
                const SvgEvent *marked, int cell = 1);
// The legends of both scales.
std::string legend();
// Magnitude against time, one dot a cell (two passes over the events).
std::string magnitudeTimePlot(const EventSource &events);

} // namespace SvgMap
