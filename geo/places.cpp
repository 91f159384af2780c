#include "geo/places.h"

#include <QFile>
#include <QStringList>

#include <algorithm>
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
    std::stable_sort(m_places.begin(), m_places.end(),
                     [](const Place &a, const Place &b) { return a.point.latitude < b.point.latitude; });
    return true;
}

void Places::add(const Place &place)
{
    const auto at = std::upper_bound(m_places.begin(), m_places.end(), place.point.latitude,
                                     [](double latitude, const Place &p) { return latitude < p.point.latitude; });
    m_places.insert(at, place);
}

const Places::Place *Places::nearest(const GeoPoint &event, double *distanceKm) const
{
    // The places lie in order of latitude: the walk goes outward from the
    // event's, nearest latitude first, and ends where the difference in
    // latitude alone is farther than the best place found.
    constexpr double kmPerDegree = Projection::EarthRadiusKm * M_PI / 180;
    const Place *best = nullptr;
    double bestKm = 0;
    const auto start = std::lower_bound(m_places.begin(), m_places.end(), event.latitude,
                                        [](const Place &p, double latitude) { return p.point.latitude < latitude; });
    std::ptrdiff_t below = start - m_places.begin() - 1;
    std::size_t above = std::size_t(start - m_places.begin());
    while (below >= 0 || above < m_places.size()) {
        const double belowGap = below >= 0 ? event.latitude - m_places[std::size_t(below)].point.latitude : HUGE_VAL;
        const double aboveGap = above < m_places.size() ? m_places[above].point.latitude - event.latitude : HUGE_VAL;
        const bool takeBelow = belowGap < aboveGap;
        if (best && std::min(belowGap, aboveGap) * kmPerDegree > bestKm)
            break;
        const Place &place = takeBelow ? m_places[std::size_t(below--)] : m_places[above++];
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
