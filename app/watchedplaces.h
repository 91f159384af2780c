#pragma once

// The places a user watches while following a search live: a name, a
// point, a radius and a lowest magnitude each, kept in QSettings as the
// array "watch". A new event inside one, at or above its magnitude, is
// told as a desktop notification (app/desktopnotifier.h).

#include "geo/projection.h"
#include "quakeml/quakeeventrecord.h"

#include <QList>
#include <QString>

struct WatchedPlace
{
    QString name;
    GeoPoint point;
    double radiusKm = 50;
    double minMagnitude = 4;

    // Within the radius (great-circle, bound included) and at or above the
    // magnitude; an event without a position or a magnitude is not.
    bool holds(const QuakeLocation &event) const;

    static QList<WatchedPlace> load();
    static void save(const QList<WatchedPlace> &places);
};
