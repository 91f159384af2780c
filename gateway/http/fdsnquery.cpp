#include "http/fdsnquery.h"

#include "catalogue/eventrow.h"

#include <QRegularExpression>
#include "quakeml/quakeml12.h"
#include "formats/fieldparsing.h"
#include "formats/quakeml12writer.h"
#include "geo/projection.h"
#include "geo/searchregion.h"
#include "http/querystring.h"
#include "quakeml/utctime.h"

#include <QStringList>

#include <algorithm>
#include <array>
#include <cmath>
#include <map>

namespace {

using QueryString::quoted;

// QuakeML 1.2 lists 44 event types; SQLite takes an expression of so many
// terms, not of thousands.
constexpr qsizetype MaximumEventTypes = 50;

struct Name
{
    const char *full;
    const char *brief;  // FDSN's short form, or null
};

constexpr std::array<Name, 28> names = { {
    { "starttime", "start" }, { "endtime", "end" },
    { "minlatitude", "minlat" }, { "maxlatitude", "maxlat" },
    { "minlongitude", "minlon" }, { "maxlongitude", "maxlon" },
    { "latitude", "lat" }, { "longitude", "lon" },
    { "minradius", nullptr }, { "maxradius", nullptr },
    { "mindepth", nullptr }, { "maxdepth", nullptr },
    { "minmagnitude", "minmag" }, { "maxmagnitude", "maxmag" },
    { "magnitudetype", "magtype" }, { "eventtype", nullptr },
    { "includeallorigins", nullptr }, { "includeallmagnitudes", nullptr }, { "includearrivals", nullptr },
    { "eventid", nullptr }, { "limit", nullptr }, { "offset", nullptr }, { "orderby", nullptr },
    { "catalog", nullptr }, { "contributor", nullptr }, { "updatedafter", nullptr },
    { "format", nullptr }, { "nodata", nullptr },
} };

Parsed<FdsnQuery> failure(const QString &reason)
{
    Parsed<FdsnQuery> parsed;
    parsed.error = reason;
    return parsed;
}

class Values
{
public:
    std::map<std::string, std::string> given;
    QString error;

    bool has(const char *name) const { return given.count(name) != 0; }

    std::optional<double> number(const char *name, double lowest, double highest)
    {
        const auto found = given.find(name);
        if (found == given.end() || !error.isEmpty())
            return std::nullopt;
        const std::optional<double> value = FieldParsing::number(QString::fromStdString(found->second));
        if (!value || *value < lowest || *value > highest) {
            error = QStringLiteral("%1 must be a number from %2 to %3, not %4")
                        .arg(QLatin1String(name)).arg(lowest).arg(highest).arg(quoted(found->second));
            return std::nullopt;
        }
        return value;
    }

    std::optional<std::int64_t> time(const char *name)
    {
        const auto found = given.find(name);
        if (found == given.end() || !error.isEmpty())
            return std::nullopt;
        const QString text = QString::fromStdString(found->second);
        std::optional<std::int64_t> value;
        if (text.size() == 10)
            value = UtcTime::fromIso(text + QStringLiteral("T00:00:00Z"));
        else if (text.size() > 10 && text[10] == u'T')
            value = UtcTime::fromIso(text);
        if (!value)
            error = QStringLiteral("%1 must be a UTC date or date-time such as 2024-01-01 or 2024-01-01T12:00:00, "
                                   "not %2").arg(QLatin1String(name), quoted(found->second));
        return value;
    }

    std::optional<std::int64_t> count(const char *name, std::int64_t lowest)
    {
        const auto found = given.find(name);
        if (found == given.end() || !error.isEmpty())
            return std::nullopt;
        bool ok = false;
        const qint64 value = QString::fromStdString(found->second).toLongLong(&ok);
        if (!ok || value < lowest) {
            error = QStringLiteral("%1 must be a whole number of at least %2, not %3")
                        .arg(QLatin1String(name)).arg(lowest).arg(quoted(found->second));
            return std::nullopt;
        }
        return value;
    }

    // One of the words allowed, or the first of them when not given.
    int choice(const char *name, const QStringList &words)
    {
        const auto found = given.find(name);
        if (found == given.end() || !error.isEmpty())
            return 0;
        const int index = int(words.indexOf(QString::fromStdString(found->second).toLower()));
        if (index < 0)
            error = QStringLiteral("%1 must be %2, not %3")
                        .arg(QLatin1String(name), words.join(QStringLiteral(", ")), quoted(found->second));
        return std::max(index, 0);
    }

    void ordered(const char *lower, const std::optional<double> &low, const char *upper,
                 const std::optional<double> &high)
    {
        if (error.isEmpty() && low && high && *low > *high)
            error = QStringLiteral("%1 %2 is above %3 %4")
                        .arg(QLatin1String(lower)).arg(*low).arg(QLatin1String(upper)).arg(*high);
    }
};

// A search by distance (latitude, longitude, minradius, maxradius), and
// the band of latitudes and longitudes that holds it, for the catalogue.
void readCircle(Values &values, FdsnQuery &query)
{
    EventQuery &selection = query.selection;
    const std::optional<double> latitude = values.number("latitude", -90, 90);
    const std::optional<double> longitude = values.number("longitude", -360, 360);
    const std::optional<double> minRadius = values.number("minradius", 0, 180);
    const std::optional<double> maxRadius = values.number("maxradius", 0, 180);
    values.ordered("minradius", minRadius, "maxradius", maxRadius);
    if (values.error.isEmpty() && (latitude || longitude || minRadius || maxRadius)) {
        if (!latitude || !longitude) {
            values.error = QStringLiteral("a search by distance needs both latitude and longitude");
        } else {
            query.circle = FdsnQuery::Circle { *latitude, *longitude, minRadius.value_or(0), maxRadius.value_or(180) };
            // The band of latitudes that holds the circle, for the catalogue.
            const double south = std::max(-90.0, *latitude - query.circle->maxRadius);
            const double north = std::min(90.0, *latitude + query.circle->maxRadius);
            selection.minLatitude = std::max(selection.minLatitude.value_or(-90), south);
            selection.maxLatitude = std::min(selection.maxLatitude.value_or(90), north);
            // And its longitudes, unless the search gives its own.
            if (!selection.minLongitude && !selection.maxLongitude) {
                const SearchRegion::Box around = SearchRegion::Circle { { *latitude, *longitude },
                                                                        query.circle->maxRadius * M_PI / 180 * Projection::EarthRadiusKm }
                                                     .envelope();
                if (around.width() < 360) {
                    selection.minLongitude = around.west;
                    selection.maxLongitude = around.east;
                }
            }
        }
    }
}

// The parameters that name things: a magnitude type, event types (as
// QuakeML spells them too) and an event's id.
void readTexts(Values &values, EventQuery &selection)
{
    // A text that names nothing would select everything, or nothing.
    for (const char *name : { "magnitudetype", "eventtype", "eventid", "catalog", "contributor" }) {
        if (values.error.isEmpty() && values.has(name) && QString::fromStdString(values.given[name]).trimmed().isEmpty())
            values.error = QStringLiteral("%1 has no value").arg(QLatin1String(name));
    }
    if (values.has("magnitudetype"))
        selection.magnitudeType = QString::fromStdString(values.given["magnitudetype"]).trimmed();
    if (values.has("eventtype")) {
        for (const QString &type : QString::fromStdString(values.given["eventtype"]).split(u','))
            selection.eventTypes << type.trimmed();
        if (values.error.isEmpty() && selection.eventTypes.contains(QString()))
            values.error = QStringLiteral("eventtype lists an empty type");
        if (values.error.isEmpty() && selection.eventTypes.size() > MaximumEventTypes)
            values.error = QStringLiteral("eventtype lists %1 types; at most %2 are taken")
                               .arg(selection.eventTypes.size()).arg(MaximumEventTypes);
        // An event is found by the type its QuakeML shows, whatever its
        // agency wrote ("quarry" is shown, and found, as "quarry blast").
        QStringList spellings;
        for (const QString &type : std::as_const(selection.eventTypes)) {
            const QRegularExpression pattern(QRegularExpression::wildcardToRegularExpression(type),
                                             QRegularExpression::CaseInsensitiveOption);
            spellings << QuakeML12::spellingsOf([&](const QString &listed) { return pattern.match(listed).hasMatch(); });
        }
        for (const QString &spelling : std::as_const(spellings)) {
            if (!selection.eventTypes.contains(spelling, Qt::CaseInsensitive))
                selection.eventTypes << spelling;
        }
    }
    if (values.has("eventid")) {
        selection.eventId = QuakeML12Writer::idOf(values.given["eventid"]);
        if (values.error.isEmpty()
            && std::any_of(selection.eventId.begin(), selection.eventId.end(),
                           [](QChar c) { return c.category() == QChar::Other_Control; }))
            values.error = QStringLiteral("eventid holds a control character: no id does");
    }
}

} // namespace

Parsed<FdsnQuery> FdsnQuery::parse(std::string_view raw)
{
    Values values;
    for (const auto &[key, value] : QueryString::pairs(raw)) {
        const std::string lower = QString::fromStdString(key).toLower().toStdString();
        const auto name = std::find_if(names.begin(), names.end(), [&lower](const Name &n) {
            return lower == n.full || (n.brief && lower == n.brief);
        });
        if (name == names.end())
            return failure(QStringLiteral("unknown parameter %1").arg(quoted(key)));
        if (!values.given.emplace(name->full, value).second)
            return failure(QStringLiteral("%1 is given more than once").arg(QLatin1String(name->full)));
    }

    FdsnQuery query;
    EventQuery &selection = query.selection;
    selection.startUs = values.time("starttime");
    selection.endUs = values.time("endtime");
    if (values.error.isEmpty() && selection.startUs && selection.endUs && *selection.startUs > *selection.endUs)
        values.error = QStringLiteral("starttime is after endtime");
    selection.minLatitude = values.number("minlatitude", -90, 90);
    selection.maxLatitude = values.number("maxlatitude", -90, 90);
    values.ordered("minlatitude", selection.minLatitude, "maxlatitude", selection.maxLatitude);
    selection.minLongitude = values.number("minlongitude", -360, 360);
    selection.maxLongitude = values.number("maxlongitude", -360, 360);

    readCircle(values, query);

    selection.minDepthKm = values.number("mindepth", -1e4, 1e4);
    selection.maxDepthKm = values.number("maxdepth", -1e4, 1e4);
    values.ordered("mindepth", selection.minDepthKm, "maxdepth", selection.maxDepthKm);
    selection.minMagnitude = values.number("minmagnitude", -20, 20);
    selection.maxMagnitude = values.number("maxmagnitude", -20, 20);
    values.ordered("minmagnitude", selection.minMagnitude, "maxmagnitude", selection.maxMagnitude);
    readTexts(values, selection);
    selection.updatedAfterUs = values.time("updatedafter");

    for (const char *name : { "includeallorigins", "includeallmagnitudes", "includearrivals" }) {
        if (values.choice(name, { QStringLiteral("false"), QStringLiteral("true") }) == 1 && values.error.isEmpty())
            values.error = QStringLiteral("%1=true is not supported: this service holds one origin and one "
                                          "magnitude an event, and no arrivals").arg(QLatin1String(name));
    }
    if (values.has("catalog"))
        query.catalog = QString::fromStdString(values.given["catalog"]).trimmed();
    if (values.has("contributor"))
        query.contributor = QString::fromStdString(values.given["contributor"]).trimmed();
    // QuakeML 1.2 has no origin without a place: an event without one is
    // left out of both formats, so that they list the same events.
    selection.withPosition = true;
    query.limit = values.count("limit", 1);
    query.offset = values.count("offset", 1).value_or(1);
    selection.order = EventQuery::Order(values.choice("orderby", { QStringLiteral("time"), QStringLiteral("time-asc"),
                                                                   QStringLiteral("magnitude"),
                                                                   QStringLiteral("magnitude-asc") }));
    query.format = Format(values.choice("format", { QStringLiteral("xml"), QStringLiteral("text") }));
    query.noDataStatus = values.choice("nodata", { QStringLiteral("204"), QStringLiteral("404") }) ? 404 : 204;

    if (!values.error.isEmpty())
        return failure(values.error);
    Parsed<FdsnQuery> parsed;
    parsed.value = query;
    return parsed;
}

bool FdsnQuery::matches(const EventRow &row) const
{
    if (!circle)
        return true;
    if (!row.latitude || !row.longitude)
        return false;
    // Bounds included, to the same hair as a Harvix search's circle.
    const double km = Geo::distanceKm({ circle->latitude, circle->longitude }, { *row.latitude, *row.longitude });
    const double kmPerDegree = Projection::EarthRadiusKm * M_PI / 180;
    return km >= circle->minRadius * kmPerDegree - Geo::OnTheBound && km <= circle->maxRadius * kmPerDegree + Geo::OnTheBound;
}
