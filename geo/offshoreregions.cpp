#include "geo/offshoreregions.h"

#include <iterator>

namespace {

// The names are those of the Flinn–Engdahl regions of seismic region 12
// (Young, Presgrave, Aichele, Wiens and Flinn, 1996, "The Flinn-Engdahl
// regionalisation scheme: the 1995 revision", Physics of the Earth and
// Planetary Interiors 96, 223-297), worded as GeoNet words them. The boxes
// are this program's simplification of those regions, not the scheme's
// one-degree grid: drawn to cover the seas within about 1,500 km of New
// Zealand, they name only events farther than FarFromTownsKm from any
// town, where a region's exact edge matters little. The first box that
// holds a point names it. Longitudes run east from 0 to 360.
struct Region
{
    double south, north, west, east;
    const char *name;
};

const Region regions[] = {
    { -25.0, -18.0, 182.0, 188.0, "Tonga Islands region" },
    { -32.5, -25.0, 175.0, 186.0, "Kermadec Islands region" },
    { -37.0, -32.5, 177.0, 186.0, "south of the Kermadec Islands" },
    { -33.0, -25.0, 160.0, 175.0, "north of New Zealand" },
    { -42.0, -36.0, 177.5, 186.0, "off the east coast of the North Island" },
    { -46.5, -42.0, 180.5, 186.0, "Chatham Islands region" },
    { -47.5, -42.0, 173.0, 180.5, "east of the South Island" },
    { -47.5, -36.0, 160.0, 168.5, "off the west coast of the South Island" },
    { -42.0, -25.0, 150.0, 170.0, "Tasman Sea" },
    { -53.5, -48.5, 163.0, 169.5, "Auckland Islands region" },
    { -57.5, -52.5, 155.0, 162.0, "Macquarie Island region" },
    { -62.0, -46.5, 150.0, 190.0, "south of New Zealand" },
};

} // namespace

namespace OffshoreRegions {

QString nameOf(const GeoPoint &point)
{
    double east = Geo::periodicLongitude(point.longitude);
    if (east < 0)
        east += 360;
    for (const Region &region : regions) {
        if (point.latitude >= region.south && point.latitude <= region.north && east >= region.west && east <= region.east)
            return QString::fromLatin1(region.name);
    }
    return QString();
}

} // namespace OffshoreRegions
