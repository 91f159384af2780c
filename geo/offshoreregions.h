#pragma once

// The seas and islands around New Zealand by name, for an event far from
// any town, as GeoNet and USGS name such events after the Flinn–Engdahl
// regions ("Kermadec Islands region", "off the east coast of the North
// Island", "south of New Zealand") rather than by a distance of hundreds
// of kilometres from a town.

#include "geo/projection.h"

#include <QString>

namespace OffshoreRegions {

// Farther than this from the nearest town, an event is named by its region.
constexpr double FarFromTownsKm = 300;

// The region that holds the point, or nothing outside the table's reach.
QString nameOf(const GeoPoint &point);

} // namespace OffshoreRegions
