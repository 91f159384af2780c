#pragma once

// Where a search looks, beside how big and when: a box of latitudes and
// longitudes, a circle around a point, a range of depths. Each part is
// optional, and an event lies in the region when it lies in every part
// given. Harvix writes a region as keys of its search and tests what comes
// back against it; the gateway reads the keys and selects by the same test.

#include "geo/parsed.h"
#include "geo/projection.h"

#include <QString>
#include <QUrlQuery>

#include <functional>
#include <optional>
#include <utility>
#include <vector>

struct SearchRegion
{
    // Degrees, bounds included. A box whose west lies east of its east, or
    // whose east lies beyond 180, crosses 180; one at least 360° wide holds
    // every longitude.
    struct Box
    {
        double west = 0;
        double south = 0;
        double east = 0;
        double north = 0;

        // Degrees from west to east, eastwards: 0 to 360.
        double width() const;
        bool contains(double latitude, double longitude) const;
        // Its edge from the north-west corner eastwards and round, with
        // longitudes that run on across 180 rather than jump.
        std::vector<GeoPoint> outline() const;
        bool operator==(const Box &other) const
        {
            return west == other.west && south == other.south && east == other.east && north == other.north;
        }
    };
    // Great-circle distance on a sphere of Projection::EarthRadiusKm, the
    // bound included.
    struct Circle
    {
        GeoPoint centre;
        double radiusKm = 0;

        bool contains(double latitude, double longitude) const;
        // The box that holds the circle, a little larger.
        Box envelope() const;
        // Its edge, with longitudes that run on across 180 from the centre's.
        std::vector<GeoPoint> outline() const;
        bool operator==(const Circle &other) const
        {
            return centre.latitude == other.centre.latitude && centre.longitude == other.centre.longitude
                && radiusKm == other.radiusKm;
        }
    };

    std::optional<Box> box;
    std::optional<Circle> circle;
    std::optional<double> minDepthKm;
    std::optional<double> maxDepthKm;

    bool isWhole() const { return !box && !circle && !minDepthKm && !maxDepthKm; }
    // An event without the value that a part tests lies outside that part.
    bool contains(std::optional<double> latitude, std::optional<double> longitude,
                  std::optional<double> depthKm) const;
    // Boxes that hold the region's box and circle, for a database to narrow
    // a search by before each event is tested.
    std::vector<Box> envelopes() const;

    // The search keys of the region, each after a '&', in the order of
    // Keys; nothing for the whole world.
    QString queryKeys() const;

    static constexpr const char *Keys[] = { "bbox", "minDepth", "maxDepth", "latitude", "longitude", "maxRadiusKm" };
    // Reads the region from the keys' values (nullopt for a key not given);
    // a bad value is refused with a one-line reason that names its key.
    static Parsed<SearchRegion> parse(const std::function<std::optional<QString>(const char *key)> &valueOf);
    // The same from a URL's query.
    static Parsed<SearchRegion> parse(const QUrlQuery &query);

    bool operator==(const SearchRegion &other) const
    {
        return box == other.box && circle == other.circle && minDepthKm == other.minDepthKm
            && maxDepthKm == other.maxDepthKm;
    }
};


namespace Geo {
// Bounds are included: a value this close to one lies on it, whatever the
// rounding of the arithmetic that tests it (a ten-thousandth of a
// millimetre, in degrees or kilometres).
constexpr double OnTheBound = 1e-9;

// The longitudes from west to east (eastwards, read modulo 360) as one or
// two ranges within -180..180; -180..180 when they go all the way round.
std::vector<std::pair<double, double>> longitudeRanges(double west, double east);
} // namespace Geo
