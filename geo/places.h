#pragma once

// Names where an event is, as GeoNet words its locality: "12 km NE of
// Taupo", "Within 5 km of Taupo". The places are GeoNames' (data/places/):
// towns of New Zealand and cities of the world.
//
// The place is the nearest one of a suitable size: a place of fewer than
// SmallPopulation people names only events within SmallReachKm of it, so
// that a village does not name an event far offshore. The distance is
// rounded to 5 km, the direction (from the place to the event) to one of
// eight compass points.

#include "geo/projection.h"

#include <QString>
#include <QStringList>

#include <array>
#include <cstdint>
#include <optional>
#include <vector>

class Places
{
public:
    static constexpr int SmallPopulation = 15000;
    static constexpr double SmallReachKm = 50;

    struct Place
    {
        QString name;
        QString country;
        GeoPoint point;
        int population = 0;
    };

    // Reads name,country,latitude,longitude,population; false with a
    // reason, and then no places at all.
    bool load(const QString &path, QString *error);
    // Places, in the same form, that a user may type and find, but that
    // name no event (villages beside the towns that do).
    bool loadTypedOnly(const QString &path, QString *error);
    void add(const Place &place);
    int size() const { return int(m_places.size()); }
    // Every place, in order of latitude.
    const std::vector<Place> &all() const { return m_places; }

    // The place that names an event, or null when there are none.
    const Place *nearest(const GeoPoint &event, double *distanceKm = nullptr) const;
    // "12 km NE of Taupo"; empty when there are no places.
    QString describe(const GeoPoint &event) const;
    // As a catalogue names an event: as describe does near a town; far
    // from every town, by the sea or islands around New Zealand that hold
    // it ("Kermadec Islands region", geo/offshoreregions.h), else still as
    // describe does.
    QString catalogueName(const GeoPoint &event) const;

    // The place a user names: "Christchurch, NZ", or "Christchurch" for
    // the New Zealand one, else the largest of the name (any case, with or
    // without macrons and accents); null when none is called so.
    const Place *find(const QString &name) const;
    // The point a user types: "-41.29, 174.78" as itself, or a place as
    // find() takes it; its name for the user, or nothing.
    std::optional<GeoPoint> pointNamed(const QString &text, QString *name) const;
    // "Christchurch, NZ" for each place, for completing what a user types:
    // New Zealand's first.
    QStringList names() const;
    // A name as it is compared: without marks, in one case ("Kaikōura" is
    // "kaikoura").
    static QString folded(const QString &name);

    // "N", "NE", ... for a bearing in degrees.
    static QString compassPoint(double bearing);

private:
    // The cells of 2 degrees by 2 that find the places near a point.
    static constexpr int CellDegrees = 2;
    static constexpr int LatitudeCells = 180 / CellDegrees;
    static constexpr int LongitudeCells = 360 / CellDegrees;
    static bool read(const QString &path, std::vector<Place> &places, QString *error);
    static int latitudeCell(double latitude);
    static int longitudeCell(double longitude);
    void index();

    // A place as a point on the unit sphere, for quick comparisons.
    using Unit = std::array<double, 3>;   // Geo::unitVector

    std::vector<Place> m_places;   // in order of latitude
    std::vector<Place> m_typedOnly;
    std::vector<Unit> m_units;     // one a place, in the same order
    // The places of each cell, row of latitude by row: those of cell c are
    // m_cellPlaces[m_cellStart[c]] to m_cellPlaces[m_cellStart[c + 1] - 1].
    std::vector<std::int32_t> m_cellStart;
    std::vector<std::int32_t> m_cellPlaces;
};
