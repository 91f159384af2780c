#pragma once

// The map's projection: equirectangular, centred on the events, with the
// east-west scale of the centre's latitude (x = R·Δλ·cos φ0, y = −R·Δφ),
// in kilometres. Plain, and true to distance near the centre, which is what
// a catalogue of one region needs; a worldwide one still fits.
//
// Longitudes are unwrapped around the centre: an event at −178° lies just
// east of New Zealand (at 182°), not on the far side of the world.

#include <QPointF>
#include <QRectF>

#include <array>
#include <vector>

struct GeoPoint
{
    double latitude = 0;    // degrees, north positive
    double longitude = 0;   // degrees, east positive, any turn
};

class Projection
{
public:
    static constexpr double EarthRadiusKm = 6371.0;

    Projection() = default;
    Projection(double centreLatitude, double centreLongitude);

    // The projection that centres a set of points: the middle of their
    // latitudes, and of their longitudes on the side of the globe where they
    // lie closest together. New Zealand's middle when there are none.
    static Projection centredOn(const std::vector<GeoPoint> &points);

    double centreLatitude() const { return m_latitude; }
    double centreLongitude() const { return m_longitude; }

    // The longitude within 180° of the centre's, by whole turns.
    double unwrap(double longitude) const;
    // Kilometres east and south of the centre.
    QPointF project(const GeoPoint &point) const;
    QPointF project(double latitude, double longitude) const { return project({ latitude, longitude }); }
    // The whole turns (in degrees) that move a ring of land with these
    // bounds next to the centre: a ring moves as one, never point by point.
    double turnsTowardsCentre(const QRectF &ringBounds) const
    {
        return unwrap(ringBounds.center().x()) - ringBounds.center().x();
    }
    // The same with the longitude taken as it is, for a ring that has been
    // moved by whole turns as one.
    QPointF projectAsIs(double latitude, double longitude) const;
    GeoPoint unproject(const QPointF &km) const;

    // The projected bounds of a set of points (empty for none).
    QRectF bounds(const std::vector<GeoPoint> &points) const;

private:
    double m_latitude = -41.0;
    double m_longitude = 174.0;
    double m_cosine = 0.7547;
};

namespace Geo {
// The same longitude within (-180, 180]: 181 is -179, -180 is 180.
double periodicLongitude(double longitude);
// Great-circle distance in km and initial bearing in degrees (0 north, 90 east).
double distanceKm(const GeoPoint &from, const GeoPoint &to);
double bearingDegrees(const GeoPoint &from, const GeoPoint &to);
// The point a distance along the great circle that leaves `from` at a
// bearing (degrees, 0 north, 90 east); its longitude runs on from
// from's rather than jump at 180.
GeoPoint destination(const GeoPoint &from, double bearing, double km);
// The point on the unit sphere (x towards 0° 0°, z north).
std::array<double, 3> unitVector(const GeoPoint &point);
} // namespace Geo
