#include "geo/searchregion.h"

#include <QLocale>
#include <QStringList>

#include <algorithm>
#include <cmath>

namespace {

constexpr double Radians = M_PI / 180;
using Geo::OnTheBound;

QString number(double value)
{
    return QString::number(value, 'g', QLocale::FloatingPointShortest);
}

// A finite decimal number, as a URL writes one.
std::optional<double> numberOf(const QString &text)
{
    bool ok = false;
    const double value = text.toDouble(&ok);
    if (!ok || !std::isfinite(value) || text.trimmed() != text || text.isEmpty())
        return std::nullopt;
    return value;
}

} // namespace

double SearchRegion::Box::width() const
{
    const double width = east - west;
    if (width >= 360)
        return 360;
    return width >= 0 ? width : std::fmod(width, 360.0) + 360;
}

bool SearchRegion::Box::contains(double latitude, double longitude) const
{
    if (latitude < south - OnTheBound || latitude > north + OnTheBound)
        return false;
    const double span = width();
    if (span >= 360)
        return true;
    // Degrees east of the west edge, 0 to 360; the west edge itself may
    // read as almost 360.
    double east = std::fmod(longitude - west, 360.0);
    if (east < 0)
        east += 360;
    return east <= span + OnTheBound || east >= 360 - OnTheBound;
}

std::vector<GeoPoint> SearchRegion::Box::outline() const
{
    // The east and west edges are meridians; the north and south ones are
    // drawn in steps of a degree or less, to follow any projection.
    const double span = width();
    const int steps = std::max(1, int(std::ceil(span)));
    std::vector<GeoPoint> points;
    points.reserve(std::size_t(2 * steps + 3));
    for (int i = 0; i <= steps; ++i)
        points.push_back({ north, west + span * i / steps });
    for (int i = steps; i >= 0; --i)
        points.push_back({ south, west + span * i / steps });
    points.push_back(points.front());
    return points;
}

std::vector<GeoPoint> SearchRegion::Circle::outline() const
{
    std::vector<GeoPoint> points;
    for (int bearing = 0; bearing <= 360; bearing += 5)
        points.push_back(Geo::destination(centre, bearing, radiusKm));
    return points;
}

bool SearchRegion::Circle::contains(double latitude, double longitude) const
{
    return Geo::distanceKm(centre, { latitude, longitude }) <= radiusKm + OnTheBound;
}

SearchRegion::Box SearchRegion::Circle::envelope() const
{
    // A little more than the circle, so that no rounding cuts it.
    const double degrees = radiusKm / Projection::EarthRadiusKm / Radians + 1e-6;
    Box box { -180, std::max(-90.0, centre.latitude - degrees), 180, std::min(90.0, centre.latitude + degrees) };
    // Towards a pole the circle may hold every longitude; elsewhere it
    // reaches no further east or west than asin(sin r / cos latitude).
    const double reach = std::sin(std::min(degrees, 90.0) * Radians) / std::cos(centre.latitude * Radians);
    if (box.south > -90 && box.north < 90 && reach < 1) {
        const double halfWidth = std::asin(reach) / Radians + 1e-6;
        box.west = centre.longitude - halfWidth;
        box.east = centre.longitude + halfWidth;
    }
    return box;
}

bool SearchRegion::contains(std::optional<double> latitude, std::optional<double> longitude,
                            std::optional<double> depthKm) const
{
    if ((minDepthKm || maxDepthKm) && !depthKm)
        return false;
    if ((minDepthKm && *depthKm < *minDepthKm) || (maxDepthKm && *depthKm > *maxDepthKm))
        return false;
    if (!box && !circle)
        return true;
    if (!latitude || !longitude)
        return false;
    return (!box || box->contains(*latitude, *longitude)) && (!circle || circle->contains(*latitude, *longitude));
}

std::vector<SearchRegion::Box> SearchRegion::envelopes() const
{
    std::vector<Box> boxes;
    if (box)
        boxes.push_back(*box);
    if (circle)
        boxes.push_back(circle->envelope());
    return boxes;
}

QString SearchRegion::queryKeys() const
{
    QString keys;
    if (box) {
        keys += QStringLiteral("&bbox=%1,%2,%3,%4")
                    .arg(number(box->west), number(box->south), number(box->east), number(box->north));
    }
    if (minDepthKm)
        keys += QStringLiteral("&minDepth=") + number(*minDepthKm);
    if (maxDepthKm)
        keys += QStringLiteral("&maxDepth=") + number(*maxDepthKm);
    if (circle) {
        keys += QStringLiteral("&latitude=%1&longitude=%2&maxRadiusKm=%3")
                    .arg(number(circle->centre.latitude), number(circle->centre.longitude), number(circle->radiusKm));
    }
    return keys;
}

Parsed<SearchRegion> SearchRegion::parse(const std::function<std::optional<QString>(const char *key)> &valueOf)
{
    Parsed<SearchRegion> parsed;
    SearchRegion region;
    const auto refuse = [&parsed](const QString &reason) {
        parsed.error = reason;
        return parsed;
    };
    const auto quoted = [](const QString &text) { return u'"' + text.left(40) + u'"'; };

    if (const std::optional<QString> text = valueOf("bbox")) {
        const QStringList parts = text->split(u',');
        double bounds[4];
        for (int i = 0; i < 4 && parts.size() == 4; ++i) {
            const std::optional<double> value = numberOf(parts[i]);
            if (!value)
                break;
            bounds[i] = *value;
            if (i == 3)
                region.box = Box { bounds[0], bounds[1], bounds[2], bounds[3] };
        }
        if (!region.box)
            return refuse(QStringLiteral("bbox must be WEST,SOUTH,EAST,NORTH in degrees, not %1").arg(quoted(*text)));
        const Box &box = *region.box;
        if (box.south < -90 || box.north > 90)
            return refuse(QStringLiteral("bbox's latitudes must lie from -90 to 90, not %1").arg(quoted(*text)));
        if (box.south > box.north)
            return refuse(QStringLiteral("bbox's SOUTH %1 is above its NORTH %2").arg(number(box.south), number(box.north)));
        if (std::abs(box.west) > 540 || std::abs(box.east) > 540)
            return refuse(QStringLiteral("bbox's longitudes must lie from -540 to 540, not %1").arg(quoted(*text)));
    }

    for (const auto &[key, bound] : { std::make_pair("minDepth", &region.minDepthKm),
                                      std::make_pair("maxDepth", &region.maxDepthKm) }) {
        if (const std::optional<QString> text = valueOf(key)) {
            *bound = numberOf(*text);
            if (!*bound)
                return refuse(QStringLiteral("%1 must be a depth in kilometres, not %2").arg(QLatin1String(key), quoted(*text)));
        }
    }
    if (region.minDepthKm && region.maxDepthKm && *region.minDepthKm > *region.maxDepthKm)
        return refuse(QStringLiteral("minDepth %1 is above maxDepth %2")
                          .arg(number(*region.minDepthKm), number(*region.maxDepthKm)));

    const std::optional<QString> latitude = valueOf("latitude");
    const std::optional<QString> longitude = valueOf("longitude");
    const std::optional<QString> radius = valueOf("maxRadiusKm");
    if (latitude || longitude || radius) {
        const char *missing = !latitude ? "latitude" : !longitude ? "longitude" : !radius ? "maxRadiusKm" : nullptr;
        if (missing)
            return refuse(QStringLiteral("%1 is missing: latitude, longitude and maxRadiusKm go together")
                              .arg(QLatin1String(missing)));
        Circle circle;
        const std::optional<double> lat = numberOf(*latitude);
        if (!lat || *lat < -90 || *lat > 90)
            return refuse(QStringLiteral("latitude must be degrees from -90 to 90, not %1").arg(quoted(*latitude)));
        const std::optional<double> lon = numberOf(*longitude);
        if (!lon || std::abs(*lon) > 540)
            return refuse(QStringLiteral("longitude must be degrees from -540 to 540, not %1").arg(quoted(*longitude)));
        const std::optional<double> km = numberOf(*radius);
        if (!km || *km < 0)
            return refuse(QStringLiteral("maxRadiusKm must be kilometres, 0 or more, not %1").arg(quoted(*radius)));
        region.circle = Circle { { *lat, *lon }, *km };
    }
    parsed.value = region;
    return parsed;
}

Parsed<SearchRegion> SearchRegion::parse(const QUrlQuery &query)
{
    return parse([&query](const char *key) -> std::optional<QString> {
        const QString name = QLatin1String(key);
        if (!query.hasQueryItem(name))
            return std::nullopt;
        return query.queryItemValue(name, QUrl::FullyDecoded);
    });
}

namespace Geo {

std::vector<std::pair<double, double>> longitudeRanges(double west, double east)
{
    const double width = SearchRegion::Box { west, 0, east, 0 }.width();
    if (width >= 360)
        return { { -180.0, 180.0 } };
    // Stored longitudes lie in (-180, 180]: a range that starts at -180
    // starts at 180.
    // Each end is the bound itself, turned into range: the start plus the
    // width may round past it.
    const double start = periodicLongitude(west);
    const double end = periodicLongitude(east);
    if (end >= start)
        return { { start, end } };
    return { { start, 180.0 }, { -180.0, end } };
}

} // namespace Geo
