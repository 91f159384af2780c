#include "geo/places.h"

#include "geo/offshoreregions.h"

#include <QFile>
#include <QRegularExpression>
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
    m_units.clear();
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
    m_units.clear();
    m_units.reserve(m_places.size());
    for (const Place &place : m_places)
        m_units.push_back(Geo::unitVector(place.point));
    return true;
}

void Places::add(const Place &place)
{
    const auto at = std::upper_bound(m_places.begin(), m_places.end(), place.point.latitude,
                                     [](double latitude, const Place &p) { return latitude < p.point.latitude; });
    m_units.insert(m_units.begin() + (at - m_places.begin()), Geo::unitVector(place.point));
    m_places.insert(at, place);
}

const Places::Place *Places::nearest(const GeoPoint &event, double *distanceKm) const
{
    // The places lie in order of latitude: the walk goes outward from the
    // event's, nearest latitude first, and ends where the difference in
    // latitude alone is farther than the best place found. Places are
    // compared by the chord between unit vectors, which orders them as
    // the great-circle distance does, without a trigonometric call.
    constexpr double kmPerDegree = Projection::EarthRadiusKm * M_PI / 180;
    const auto chordOf = [](double km) { return 2 * std::sin(km / Projection::EarthRadiusKm / 2); };
    const double smallReach = chordOf(SmallReachKm);
    const Unit e = Geo::unitVector(event);
    std::size_t best = m_places.size();
    double bestChord = 0, bestKm = 0;
    const auto start = std::lower_bound(m_places.begin(), m_places.end(), event.latitude,
                                        [](const Place &p, double latitude) { return p.point.latitude < latitude; });
    std::ptrdiff_t below = start - m_places.begin() - 1;
    std::size_t above = std::size_t(start - m_places.begin());
    while (below >= 0 || above < m_places.size()) {
        const double belowGap = below >= 0 ? event.latitude - m_places[std::size_t(below)].point.latitude : HUGE_VAL;
        const double aboveGap = above < m_places.size() ? m_places[above].point.latitude - event.latitude : HUGE_VAL;
        if (best < m_places.size() && std::min(belowGap, aboveGap) * kmPerDegree > bestKm)
            break;
        const std::size_t index = belowGap < aboveGap ? std::size_t(below--) : above++;
        const Unit &u = m_units[index];
        const double chord = std::sqrt((u[0] - e[0]) * (u[0] - e[0]) + (u[1] - e[1]) * (u[1] - e[1])
                                       + (u[2] - e[2]) * (u[2] - e[2]));
        if (m_places[index].population < SmallPopulation && chord > smallReach)
            continue;
        if (best == m_places.size() || chord < bestChord) {
            best = index;
            bestChord = chord;
            bestKm = 2 * std::asin(std::min(1.0, chord / 2)) * Projection::EarthRadiusKm;
        }
    }
    if (best == m_places.size()) {
        if (distanceKm)
            *distanceKm = 0;
        return nullptr;
    }
    if (distanceKm)
        *distanceKm = Geo::distanceKm(m_places[best].point, event);
    return &m_places[best];
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

QString Places::catalogueName(const GeoPoint &event) const
{
    double km = 0;
    if (nearest(event, &km) && km > OffshoreRegions::FarFromTownsKm) {
        if (const QString region = OffshoreRegions::nameOf(event); !region.isEmpty())
            return region;
    }
    return describe(event);
}

const Places::Place *Places::find(const QString &name) const
{
    const QString wanted = name.trimmed();
    const qsizetype comma = wanted.lastIndexOf(u',');
    const QString country = comma < 0 ? QString() : wanted.mid(comma + 1).trimmed();
    const QString town = comma < 0 ? wanted : wanted.left(comma).trimmed();
    const Place *best = nullptr;
    const auto rank = [](const Place &place) { return std::make_pair(place.country == u"NZ", place.population); };
    for (const Place &place : m_places) {
        if (place.name.compare(town, Qt::CaseInsensitive) != 0)
            continue;
        if (!country.isEmpty() && place.country.compare(country, Qt::CaseInsensitive) != 0)
            continue;
        if (!best || rank(place) > rank(*best))
            best = &place;
    }
    return best;
}

QStringList Places::names() const
{
    QStringList names;
    names.reserve(qsizetype(m_places.size()));
    for (const Place &place : m_places)
        names << place.name + QStringLiteral(", ") + place.country;
    names.sort(Qt::CaseInsensitive);
    return names;
}

std::optional<GeoPoint> Places::pointNamed(const QString &text, QString *name) const
{
    static const QRegularExpression coordinates(QStringLiteral(R"(^\s*(-?\d+(?:\.\d+)?)\s*,\s*(-?\d+(?:\.\d+)?)\s*$)"));
    const QRegularExpressionMatch match = coordinates.match(text);
    if (match.hasMatch()) {
        const double latitude = match.captured(1).toDouble(), longitude = match.captured(2).toDouble();
        if (std::abs(latitude) > 90 || std::abs(longitude) > 360)
            return std::nullopt;
        *name = text.trimmed();
        return GeoPoint { latitude, longitude };
    }
    const Place *place = find(text);
    if (!place)
        return std::nullopt;
    *name = place->name;
    return place->point;
}
