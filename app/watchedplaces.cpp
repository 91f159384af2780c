#include "app/watchedplaces.h"

#include <QSettings>

#include <cmath>

bool WatchedPlace::holds(const QuakeLocation &event) const
{
    if (!std::isfinite(event.latitude) || !std::isfinite(event.longitude) || !std::isfinite(event.magnitude))
        return false;
    return event.magnitude >= minMagnitude - 1e-9
        && Geo::distanceKm(point, { event.latitude, event.longitude }) <= radiusKm + 1e-9;
}

QList<WatchedPlace> WatchedPlace::load()
{
    QSettings settings;
    QList<WatchedPlace> places;
    const int count = settings.beginReadArray(QStringLiteral("watch"));
    for (int i = 0; i < count; ++i) {
        settings.setArrayIndex(i);
        WatchedPlace place;
        place.name = settings.value(QStringLiteral("name")).toString();
        place.point = { settings.value(QStringLiteral("latitude")).toDouble(),
                        settings.value(QStringLiteral("longitude")).toDouble() };
        place.radiusKm = settings.value(QStringLiteral("radiusKm"), 50).toDouble();
        place.minMagnitude = settings.value(QStringLiteral("minMagnitude"), 4).toDouble();
        places << place;
    }
    settings.endArray();
    return places;
}

void WatchedPlace::save(const QList<WatchedPlace> &places)
{
    QSettings settings;
    settings.remove(QStringLiteral("watch"));
    settings.beginWriteArray(QStringLiteral("watch"), int(places.size()));
    for (int i = 0; i < places.size(); ++i) {
        settings.setArrayIndex(i);
        settings.setValue(QStringLiteral("name"), places[i].name);
        settings.setValue(QStringLiteral("latitude"), places[i].point.latitude);
        settings.setValue(QStringLiteral("longitude"), places[i].point.longitude);
        settings.setValue(QStringLiteral("radiusKm"), places[i].radiusKm);
        settings.setValue(QStringLiteral("minMagnitude"), places[i].minMagnitude);
    }
    settings.endArray();
}
