#pragma once

// A cross-section: the profile A–A′ along the great-circle arc from A to
// A′, and the swath of events within a half-width of it. An event's
// distance along the profile is that of its projection on the arc's great
// circle, measured from A; its distance across is signed, positive on the
// left of the way from A to A′. Both are in kilometres on the sphere of
// Projection::EarthRadiusKm, so the profile keeps a true scale, across
// 180 as anywhere.

#include "geo/projection.h"

#include <array>
#include <vector>

class CrossSection
{
public:
    CrossSection(const GeoPoint &a, const GeoPoint &b, double halfWidthKm);

    const GeoPoint &a() const { return m_a; }
    const GeoPoint &b() const { return m_b; }
    double halfWidthKm() const { return m_halfWidthKm; }
    double lengthKm() const { return m_lengthKm; }

    struct Offset
    {
        double alongKm = 0;
        double acrossKm = 0;
    };
    Offset offsetOf(const GeoPoint &point) const;
    // Within the half-width, and from A to A′ (both ends included).
    bool holds(const Offset &offset) const;

    // The swath's edge: along the left side from A to A′, back along the
    // right, closed; longitudes run on from A's across 180.
    std::vector<GeoPoint> outline() const;

private:
    using Vector = std::array<double, 3>;

    GeoPoint m_a;
    GeoPoint m_b;
    double m_halfWidthKm;
    double m_lengthKm;
    Vector m_unitA;
    Vector m_pole;   // of the arc's great circle, on the left of A to A′
};
