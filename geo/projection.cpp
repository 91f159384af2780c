#include "geo/projection.h"

#include <algorithm>
#include <cmath>

namespace {

constexpr double Pi = 3.14159265358979323846;
constexpr double Radians = Pi / 180.0;

double wrapped(double longitude)
{
    double turned = std::fmod(longitude + 180.0, 360.0);
    if (turned < 0)
        turned += 360.0;
    return turned - 180.0;
}

} // namespace

Projection::Projection(double centreLatitude, double centreLongitude)
    : m_latitude(std::clamp(centreLatitude, -85.0, 85.0))
    , m_longitude(wrapped(centreLongitude))
    , m_cosine(std::cos(m_latitude * Radians))
{
}

Projection Projection::centredOn(const std::vector<GeoPoint> &points)
{
    if (points.empty())
        return Projection(-41.0, 174.0);
    // The middle of the longitudes is taken across the widest gap between
    // them, so that points on both sides of 180° stay together.
    std::vector<double> longitudes;
    longitudes.reserve(points.size());
    double south = 90, north = -90;
    for (const GeoPoint &point : points) {
        longitudes.push_back(wrapped(point.longitude));
        south = std::min(south, point.latitude);
        north = std::max(north, point.latitude);
    }
    std::sort(longitudes.begin(), longitudes.end());
    double widestGap = longitudes.front() + 360.0 - longitudes.back();
    double west = longitudes.front();   // the first longitude east of the widest gap
    for (std::size_t i = 1; i < longitudes.size(); ++i) {
        const double gap = longitudes[i] - longitudes[i - 1];
        if (gap > widestGap) {
            widestGap = gap;
            west = longitudes[i];
        }
    }
    const double span = 360.0 - widestGap;
    return Projection((south + north) / 2, west + span / 2);
}

double Projection::unwrap(double longitude) const
{
    return m_longitude + wrapped(longitude - m_longitude);
}

QPointF Projection::project(const GeoPoint &point) const
{
    return projectAsIs(point.latitude, unwrap(point.longitude));
}

QPointF Projection::projectAsIs(double latitude, double longitude) const
{
    return QPointF(EarthRadiusKm * (longitude - m_longitude) * Radians * m_cosine,
                   -EarthRadiusKm * (latitude - m_latitude) * Radians);
}

GeoPoint Projection::unproject(const QPointF &km) const
{
    return { m_latitude - km.y() / EarthRadiusKm / Radians,
             m_longitude + km.x() / (EarthRadiusKm * Radians * m_cosine) };
}

QRectF Projection::bounds(const std::vector<GeoPoint> &points) const
{
    if (points.empty())
        return QRectF();
    double left = 1e300, right = -1e300, top = 1e300, bottom = -1e300;
    for (const GeoPoint &point : points) {
        const QPointF at = project(point);
        left = std::min(left, at.x());
        right = std::max(right, at.x());
        top = std::min(top, at.y());
        bottom = std::max(bottom, at.y());
    }
    return QRectF(QPointF(left, top), QPointF(right, bottom));
}

namespace Geo {

double periodicLongitude(double longitude)
{
    double turned = std::fmod(longitude, 360.0);
    if (turned <= -180)
        turned += 360;
    else if (turned > 180)
        turned -= 360;
    return turned;
}

double distanceKm(const GeoPoint &from, const GeoPoint &to)
{
    // Haversine: exact enough on a sphere at every distance.
    const double dLatitude = (to.latitude - from.latitude) * Radians;
    const double dLongitude = (to.longitude - from.longitude) * Radians;
    const double a = std::pow(std::sin(dLatitude / 2), 2)
        + std::cos(from.latitude * Radians) * std::cos(to.latitude * Radians) * std::pow(std::sin(dLongitude / 2), 2);
    return 2 * Projection::EarthRadiusKm * std::asin(std::min(1.0, std::sqrt(a)));
}

GeoPoint destination(const GeoPoint &from, double bearing, double km)
{
    const double delta = km / Projection::EarthRadiusKm, theta = bearing * Radians, phi = from.latitude * Radians;
    const double phi2 = std::asin(std::clamp(std::sin(phi) * std::cos(delta)
                                                 + std::cos(phi) * std::sin(delta) * std::cos(theta), -1.0, 1.0));
    const double turn = std::atan2(std::sin(theta) * std::sin(delta) * std::cos(phi),
                                   std::cos(delta) - std::sin(phi) * std::sin(phi2));
    return { phi2 / Radians, from.longitude + turn / Radians };
}

std::array<double, 3> unitVector(const GeoPoint &point)
{
    const double latitude = point.latitude * Radians, longitude = point.longitude * Radians;
    return { std::cos(latitude) * std::cos(longitude), std::cos(latitude) * std::sin(longitude), std::sin(latitude) };
}

double bearingDegrees(const GeoPoint &from, const GeoPoint &to)
{
    const double phi1 = from.latitude * Radians, phi2 = to.latitude * Radians;
    const double dLongitude = (to.longitude - from.longitude) * Radians;
    const double y = std::sin(dLongitude) * std::cos(phi2);
    const double x = std::cos(phi1) * std::sin(phi2) - std::sin(phi1) * std::cos(phi2) * std::cos(dLongitude);
    const double bearing = std::atan2(y, x) / Radians;
    return bearing < 0 ? bearing + 360 : bearing;
}

} // namespace Geo
