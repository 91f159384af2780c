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

bool Places::read(const QString &path, std::vector<Place> &places, QString *error)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly | QIODevice::Text)) {
        *error = QStringLiteral("%1: %2").arg(path, file.errorString());
        return false;
    }
    file.readLine();   // the header
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
        places.push_back(place);
    }
    return true;
}

bool Places::load(const QString &path, QString *error)
{
    // A file missing, or broken part way, leaves no places rather than
    // some of them, or the ones before.
    *this = Places();
    std::vector<Place> places;
    if (!read(path, places, error))
        return false;
    m_places = std::move(places);
    std::stable_sort(m_places.begin(), m_places.end(),
                     [](const Place &a, const Place &b) { return a.point.latitude < b.point.latitude; });
    m_units.clear();
    m_units.reserve(m_places.size());
    for (const Place &place : m_places)
        m_units.push_back(Geo::unitVector(place.point));
    index();
    return true;
}

bool Places::loadTypedOnly(const QString &path, QString *error)
{
    std::vector<Place> places;
    if (!read(path, places, error))
        return false;
    m_typedOnly = std::move(places);
    return true;
}

QString Places::folded(const QString &name)
{
    // Kaikōura as Kaikoura, Arthur’s Pass as Arthur's Pass, any case.
    QString plain;
    plain.reserve(name.size());
    for (const QChar c : name.normalized(QString::NormalizationForm_D)) {
        if (c.category() == QChar::Mark_NonSpacing)
            continue;
        plain += c == u'\u2019' ? QChar(u'\'') : c.toCaseFolded();
    }
    return plain;
}

int Places::latitudeCell(double latitude)
{
    return std::clamp(int(std::floor((latitude + 90) / CellDegrees)), 0, LatitudeCells - 1);
}

int Places::longitudeCell(double longitude)
{
    const int cell = int(std::floor((Geo::periodicLongitude(longitude) + 180) / CellDegrees));
    return ((cell % LongitudeCells) + LongitudeCells) % LongitudeCells;
}

void Places::index()
{
    const auto cellOf = [](const GeoPoint &point) {
        return latitudeCell(point.latitude) * LongitudeCells + longitudeCell(point.longitude);
    };
    m_cellStart.assign(std::size_t(LatitudeCells * LongitudeCells + 1), 0);
    for (const Place &place : m_places)
        ++m_cellStart[std::size_t(cellOf(place.point) + 1)];
    for (std::size_t c = 1; c < m_cellStart.size(); ++c)
        m_cellStart[c] += m_cellStart[c - 1];
    m_cellPlaces.assign(m_places.size(), 0);
    std::vector<std::int32_t> next(m_cellStart.begin(), m_cellStart.end() - 1);
    for (std::size_t i = 0; i < m_places.size(); ++i)
        m_cellPlaces[std::size_t(next[std::size_t(cellOf(m_places[i].point))]++)] = std::int32_t(i);
}

void Places::add(const Place &place)
{
    const auto at = std::upper_bound(m_places.begin(), m_places.end(), place.point.latitude,
                                     [](double latitude, const Place &p) { return latitude < p.point.latitude; });
    m_units.insert(m_units.begin() + (at - m_places.begin()), Geo::unitVector(place.point));
    m_places.insert(at, place);
    index();
}

const Places::Place *Places::nearest(const GeoPoint &event, double *distanceKm) const
{
    // The cells around the event's, ring by ring outwards, until no place
    // beyond the ring can be nearer than the best found. Places are
    // compared by the chord between unit vectors, which orders them as the
    // great-circle distance does, without a trigonometric call.
    constexpr double kmPerDegree = Projection::EarthRadiusKm * M_PI / 180;
    const auto chordOf = [](double km) { return 2 * std::sin(km / Projection::EarthRadiusKm / 2); };
    const double smallReach = chordOf(SmallReachKm);
    if (m_places.empty()) {
        if (distanceKm)
            *distanceKm = 0;
        return nullptr;
    }
    const Unit e = Geo::unitVector(event);
    std::size_t best = m_places.size();
    double bestChord = 0, bestKm = 0;
    const auto consider = [&](int latitudeIndex, int longitudeIndex) {
        const int cell = latitudeIndex * LongitudeCells + longitudeIndex;
        for (std::int32_t p = m_cellStart[std::size_t(cell)]; p < m_cellStart[std::size_t(cell) + 1]; ++p) {
            const std::size_t index = std::size_t(m_cellPlaces[std::size_t(p)]);
            const Unit &u = m_units[index];
            const double chord = std::sqrt((u[0] - e[0]) * (u[0] - e[0]) + (u[1] - e[1]) * (u[1] - e[1])
                                           + (u[2] - e[2]) * (u[2] - e[2]));
            if (m_places[index].population < SmallPopulation && chord > smallReach)
                continue;
            if (best == m_places.size() || chord < bestChord || (chord == bestChord && index < best)) {
                best = index;
                bestChord = chord;
                bestKm = 2 * std::asin(std::min(1.0, chord / 2)) * Projection::EarthRadiusKm;
            }
        }
    };
    const int row = latitudeCell(event.latitude), column = longitudeCell(event.longitude);
    for (int ring = 0; ring <= std::max(LatitudeCells, LongitudeCells / 2); ++ring) {
        const int wide = std::min(ring, LongitudeCells / 2);
        for (int r = std::max(0, row - ring); r <= std::min(LatitudeCells - 1, row + ring); ++r) {
            const bool edgeRow = std::abs(r - row) == ring;
            for (int dc = -wide; dc <= wide; ++dc) {
                // The ring's cells only: its edge rows whole, the others at its sides.
                if (!edgeRow && std::abs(dc) != ring)
                    continue;
                if (dc == wide && wide == LongitudeCells / 2 && wide != 0)
                    continue;   // the same column as -wide, all the way round
                consider(r, ((column + dc) % LongitudeCells + LongitudeCells) % LongitudeCells);
            }
        }
        if (best == m_places.size())
            continue;
        // Beyond this ring a place is ring cells of latitude away, or ring
        // cells of longitude: across a meridian that far from the event,
        // asin(cos(latitude) sin(longitudes)) of the sphere away.
        const bool allAround = wide == LongitudeCells / 2;
        const double latitudeKm = ring * CellDegrees * kmPerDegree;
        const double longitudeKm = allAround ? HUGE_VAL
            : Projection::EarthRadiusKm * std::asin(std::cos(event.latitude * M_PI / 180)
                                                    * std::sin(std::min(90.0, double(ring * CellDegrees)) * M_PI / 180));
        if (std::min(latitudeKm, longitudeKm) >= bestKm || (allAround && ring >= LatitudeCells))
            break;
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
    const QString town = folded(comma < 0 ? wanted : wanted.left(comma).trimmed());
    const Place *best = nullptr;
    const auto rank = [](const Place &place) { return std::make_pair(place.country == u"NZ", place.population); };
    for (const std::vector<Place> *places : { &m_places, &m_typedOnly }) {
        for (const Place &place : *places) {
            // Folding keeps a precomposed name's length: most names are
            // passed over before they are folded.
            if (place.name.size() != town.size() || folded(place.name) != town)
                continue;
            if (!country.isEmpty() && place.country.compare(country, Qt::CaseInsensitive) != 0)
                continue;
            if (!best || rank(place) > rank(*best))
                best = &place;
        }
    }
    return best;
}

QStringList Places::names() const
{
    // New Zealand's first, then the world's, each in order of name.
    QStringList home, world;
    for (const std::vector<Place> *places : { &m_places, &m_typedOnly }) {
        for (const Place &place : *places)
            (place.country == u"NZ" ? home : world) << place.name + QStringLiteral(", ") + place.country;
    }
    home.sort(Qt::CaseInsensitive);
    world.sort(Qt::CaseInsensitive);
    return home + world;
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
