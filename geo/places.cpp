#include "geo/places.h"

#include <QFile>
#include <QStringList>

#include <cmath>

namespace {

// One CSV line, with double quotes around fields that hold commas.
QStringList fieldsOf(const QString &line)
{
    QStringList fields;
    QString current;
    bool quoted = false;
    for (qsizetype i = 0; i < line.size(); ++i) {
        const QChar c = line[i];
        if (c == u'"') {
            if (quoted && i + 1 < line.size() && line[i + 1] == u'"') {
                current += u'"';
                ++i;
            } else {
                quoted = !quoted;
            }
        } else if (c == u',' && !quoted) {
            fields << current;
            current.clear();
        } else {
            current += c;
        }
    }
    fields << current;
    return fields;
}

} // namespace

bool Places::load(const QString &path, QString *error)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly | QIODevice::Text)) {
        *error = QStringLiteral("%1: %2").arg(path, file.errorString());
        return false;
    }
    file.readLine();   // the header
    m_places.clear();
    int line = 1;
    while (!file.atEnd()) {
        ++line;
        const QStringList fields = fieldsOf(QString::fromUtf8(file.readLine()).trimmed());
        bool latitudeOk = false, longitudeOk = false, populationOk = false;
        Place place;
        if (fields.size() == 5) {
            place.name = fields.at(0);
            place.country = fields.at(1);
            place.point.latitude = fields.at(2).toDouble(&latitudeOk);
            place.point.longitude = fields.at(3).toDouble(&longitudeOk);
            place.population = fields.at(4).toInt(&populationOk);
        }
        if (!latitudeOk || !longitudeOk || !populationOk || place.name.isEmpty()) {
            *error = QStringLiteral("%1:%2: not a place (name,country,latitude,longitude,population)").arg(path).arg(line);
            return false;
        }
        m_places.push_back(place);
    }
    return true;
}

const Places::Place *Places::nearest(const GeoPoint &event, double *distanceKm) const
{
    const Place *best = nullptr;
    double bestKm = 0;
    for (const Place &place : m_places) {
        const double km = Geo::distanceKm(place.point, event);
        if (place.population < SmallPopulation && km > SmallReachKm)
            continue;
        if (!best || km < bestKm) {
            best = &place;
            bestKm = km;
        }
    }
    if (distanceKm)
        *distanceKm = bestKm;
    return best;
}

QString Places::compassPoint(double bearing)
{
    static const char *const points[] = { "N", "NE", "E", "SE", "S", "SW", "W", "NW" };
    const int sector = int(std::floor(std::fmod(bearing + 22.5 + 360.0, 360.0) / 45.0)) % 8;
    return QLatin1String(points[sector]);
}

QString Places::describe(const GeoPoint &event) const
{
    double km = 0;
    const Place *place = nearest(event, &km);
    if (!place)
        return QString();
    const long rounded = std::lround(km / 5.0) * 5;
    if (rounded == 0)
        return QStringLiteral("Within 5 km of %1").arg(place->name);
    return QStringLiteral("%1 km %2 of %3")
        .arg(rounded)
        .arg(compassPoint(Geo::bearingDegrees(place->point, event)), place->name);
}
