#include "geo/crosssection.h"

#include <algorithm>
#include <cmath>

namespace {

using Vector = std::array<double, 3>;

double dot(const Vector &u, const Vector &v)
{
    return u[0] * v[0] + u[1] * v[1] + u[2] * v[2];
}

Vector cross(const Vector &u, const Vector &v)
{
    return { u[1] * v[2] - u[2] * v[1], u[2] * v[0] - u[0] * v[2], u[0] * v[1] - u[1] * v[0] };
}

Vector normalised(const Vector &v)
{
    const double length = std::sqrt(dot(v, v));
    return length > 0 ? Vector { v[0] / length, v[1] / length, v[2] / length } : Vector { 0, 0, 1 };
}

} // namespace

CrossSection::CrossSection(const GeoPoint &a, const GeoPoint &b, double halfWidthKm)
    : m_a(a)
    , m_b(b)
    , m_halfWidthKm(halfWidthKm)
    , m_lengthKm(Geo::distanceKm(a, b))
    , m_unitA(Geo::unitVector(a))
    , m_pole(normalised(cross(Geo::unitVector(a), Geo::unitVector(b))))
{
}

CrossSection::Offset CrossSection::offsetOf(const GeoPoint &point) const
{
    const Vector p = Geo::unitVector(point);
    const double sideways = std::clamp(dot(p, m_pole), -1.0, 1.0);
    // The angle from A to the point's foot on the great circle.
    const double along = std::atan2(dot(cross(m_unitA, p), m_pole), dot(m_unitA, p));
    return { along * Projection::EarthRadiusKm, std::asin(sideways) * Projection::EarthRadiusKm };
}

bool CrossSection::holds(const Offset &offset) const
{
    constexpr double OnTheBound = 1e-9;
    return offset.alongKm >= -OnTheBound && offset.alongKm <= m_lengthKm + OnTheBound
        && std::abs(offset.acrossKm) <= m_halfWidthKm + OnTheBound;
}

std::vector<GeoPoint> CrossSection::outline() const
{
    // Points on each side at a fixed distance from the arc, a step each
    // hundredth of its length, found by going sideways from its points.
    constexpr int Steps = 100;
    const double bearing = Geo::bearingDegrees(m_a, m_b);
    std::vector<GeoPoint> left, right;
    for (int i = 0; i <= Steps; ++i) {
        const GeoPoint on = Geo::destination(m_a, bearing, m_lengthKm * i / Steps);
        // The arc's own bearing there: towards A′, or at A′ away from A.
        const double heading = i < Steps ? Geo::bearingDegrees(on, m_b) : Geo::bearingDegrees(m_b, m_a) + 180;
        left.push_back(Geo::destination(on, heading - 90, m_halfWidthKm));
        right.push_back(Geo::destination(on, heading + 90, m_halfWidthKm));
    }
    std::vector<GeoPoint> ring = left;
    ring.insert(ring.end(), right.rbegin(), right.rend());
    ring.push_back(left.front());
    // Longitudes that run on from A's.
    for (GeoPoint &point : ring)
        point.longitude = m_a.longitude + Geo::periodicLongitude(point.longitude - m_a.longitude);
    return ring;
}
