#include "http/pages.h"

#include "quakeml/text.h"
#include "http/svgmap.h"

#include <QDateTime>
#include <QLocale>
#include <QTimeZone>
#include <QUrl>

#include <algorithm>
#include <cmath>

namespace Pages {

const char *const acknowledgement =
    "We acknowledge the New Zealand GeoNet project and its sponsors EQC, GNS Science and LINZ, "
    "for providing data/images used in this study.";
const char *const licence =
    "GeoNet's data are licensed under the Creative Commons Attribution 3.0 New Zealand licence "
    "(https://creativecommons.org/licenses/by/3.0/nz/).";

const char *const mapCredits =
    "Land: Natural Earth (public domain), as the world-atlas package ships it. "
    "Place names: GeoNames (geonames.org), licensed under Creative Commons Attribution 4.0.";

namespace {

using Text::appendEscaped;

void appendLink(std::string &out, const QString &href, const QString &text)
{
    out += "<a href=\"";
    appendEscaped(out, href);
    out += "\">";
    appendEscaped(out, text);
    out += "</a>";
}

void appendPageStart(std::string &out, const QString &title)
{
    out += "<!DOCTYPE html>\n<html lang=\"en\"><head><meta charset=\"utf-8\">"
           "<meta name=\"viewport\" content=\"width=device-width, initial-scale=1\">"
           "<link rel=\"icon\" href=\"data:,\"><title>";
    appendEscaped(out, title);
    out += "</title><style>body{font-family:sans-serif;max-width:50em;margin:1em auto;padding:0 1em}"
           "th{text-align:left;padding-right:2em}td{padding-right:2em}table{display:block;overflow-x:auto}"
           "svg{display:block;width:100%;height:auto}h1{font-size:1.5em}</style></head><body><h1>";
    appendEscaped(out, title);
    out += "</h1>\n";
}

void appendPageEnd(std::string &out)
{
    out += "<footer><p><small>";
    appendEscaped(out, QString::fromLatin1(acknowledgement));
    out += " ";
    appendEscaped(out, QString::fromLatin1(licence));
    out += "</small></p><p><small>";
    appendEscaped(out, QString::fromLatin1(mapCredits));
    out += "</small></p></footer></body></html>\n";
}

void appendRow(std::string &out, const char *label, const QString &value)
{
    if (value.isEmpty())
        return;
    out += "<tr><th>";
    out += label;
    out += "</th><td>";
    appendEscaped(out, value);
    out += "</td></tr>\n";
}

QString numberText(const std::optional<double> &value, const char *unit)
{
    if (!value)
        return QString();
    std::string text;
    Text::appendNumber(text, *value);
    return QString::fromLatin1(text) + QString::fromUtf8(unit);
}

QString timeText(std::int64_t microseconds, const QTimeZone &zone, const char *format)
{
    const QDateTime time = QDateTime::fromMSecsSinceEpoch(microseconds / 1000, zone);
    return QLocale::c().toString(time, QLatin1String(format));
}

} // namespace

QString utcText(std::int64_t microseconds)
{
    return timeText(microseconds, QTimeZone::utc(), "yyyy-MM-dd HH:mm:ss.zzz 'UTC'");
}

QString newZealandText(std::int64_t microseconds)
{
    static const QTimeZone auckland(QByteArrayLiteral("Pacific/Auckland"));
    if (!auckland.isValid())
        return QString();
    return timeText(microseconds, auckland, "yyyy-MM-dd HH:mm:ss.zzz t");
}

std::string homePictures(const std::vector<GeoPoint> &outline, std::int64_t count, const SvgMap::EventSource &events)
{
    if (outline.empty())
        return std::string();
    const Projection projection = Projection::centredOn(outline);
    QRectF area = projection.bounds(outline);
    area.adjust(-100, -100, 100, 100);
    // Drawn one by one up to a few thousand, else one a 7-pixel cell.
    return "<h2>Where</h2>\n" + SvgMap::map(projection, area, events, nullptr, count > 5000 ? 7 : 1)
        + SvgMap::legend() + "\n<h2>Magnitude and time</h2>\n" + SvgMap::magnitudeTimePlot(events) + "\n";
}

std::string home(const QList<Catalogue::SourceSummary> &sources, const QString &searchUrl,
                 const std::string &pictures, const QString &heard)
{
    std::string out;
    appendPageStart(out, QStringLiteral("harvix-gateway"));
    out += "<p>A quake search service for Harvix. Put this search URL into Harvix:</p>\n<p><code>";
    appendEscaped(out, searchUrl);
    out += "</code></p>\n<p>FDSN clients (ObsPy, seisplotjs) find the same events at ";
    appendLink(out, QStringLiteral("/fdsnws/event/1/"), QStringLiteral("/fdsnws/event/1/"));
    out += ".</p>\n<h2>What the catalogue holds</h2>\n"
           "<table><tr><th>Source</th><th>Events</th><th>First</th><th>Last</th></tr>\n";
    qint64 total = 0;
    for (const Catalogue::SourceSummary &source : sources) {
        out += "<tr><td>";
        appendEscaped(out, source.source);
        out += "</td><td>" + std::to_string(source.events) + "</td><td>";
        appendEscaped(out, utcText(source.firstUs));
        out += "</td><td>";
        appendEscaped(out, utcText(source.lastUs));
        out += "</td></tr>\n";
        total += source.events;
    }
    out += "<tr><th>All</th><th>" + std::to_string(total) + "</th><td></td><td></td></tr></table>\n";
    if (!heard.isEmpty()) {
        out += "<p>";
        appendEscaped(out, heard);
        out += "</p>\n";
    }
    out += pictures;
    appendPageEnd(out);
    return out;
}

QString expectedText(double mean, double magnitude)
{
    // The 2.5% and 97.5% quantiles of a Poisson count of this mean.
    const auto [low, high] = Statistics::poissonRange(mean);
    const QString of = QStringLiteral(" of M%1 or more").arg(magnitude);
    if (high == 0)
        return QStringLiteral("no events%1 are expected").arg(of);
    if (low == high)
        return QStringLiteral("%1 %2%3 %4 expected").arg(low).arg(low == 1 ? "event" : "events", of, low == 1 ? "is" : "are");
    if (low == 0)
        return QStringLiteral("up to %1 %2%3 %4 expected").arg(high).arg(high == 1 ? "event" : "events", of, high == 1 ? "is" : "are");
    return QStringLiteral("%1 to %2 events%3 are expected").arg(low).arg(high).arg(of);
}

namespace {

// An event's sequence in words: how many, how complete, how fast it
// decays, and what the next week is likely to bring.
void appendSequence(std::string &out, const SequenceStudy::Study &study)
{
    out += "<h2>Its sequence</h2>\n<p>";
    appendEscaped(out, QStringLiteral("%1 events followed it within %2 km up to %3 (Gardner and Knopoff's window).")
                           .arg(study.events.size()).arg(std::lround(study.radiusKm))
                           .arg(utcText(std::int64_t(study.end * 1e6))));
    if (study.mc && study.b)
        appendEscaped(out, QStringLiteral(" The catalogue is complete from M%1; b is %2.")
                               .arg(QString::number(*study.mc, 'f', 1), QString::number(study.b->b, 'f', 2)));
    else if (study.mc)
        appendEscaped(out, QStringLiteral(" The catalogue is complete from M%1; there is no b-value: %2.")
                               .arg(QString::number(*study.mc, 'f', 1), study.whyNoB));
    if (study.omori)
        appendEscaped(out, QStringLiteral(" The aftershocks die away as t to the power -%1 (Omori and Utsu's law).")
                               .arg(QString::number(study.omori->p, 'f', 2)));
    out += "</p>\n";
    if (study.forecast.empty())
        return;
    out += "<table><tr><th>From the window's end</th><th>Expected</th><th>Chance of one of M5 or more</th></tr>\n";
    const char *const horizons[] = { "Within the next day", "Within the next 7 days", "Within the next 30 days",
                                     "Within the next year" };
    for (std::size_t row = 0; row < std::size(SequenceStudy::ForecastDays); ++row) {
        const Omori::Forecast &m4 = study.forecast.at(row, 0);
        const Omori::Forecast &m5 = study.forecast.at(row, 1);
        out += "<tr><td>";
        out += horizons[row];
        out += "</td><td>";
        appendEscaped(out, expectedText(m4.expected, m4.magnitude));
        out += "</td><td>";
        appendEscaped(out, QStringLiteral("%1%").arg(std::lround(100 * m5.probability)));
        out += "</td></tr>\n";
    }
    out += "</table>\n";
}

} // namespace

std::string event(const EventRow &row, const QString &place, const Neighbours &neighbours)
{
    std::string out;
    appendPageStart(out, place.isEmpty() ? QStringLiteral("Event %1").arg(row.publicId)
                                         : QStringLiteral("Event %1: %2").arg(row.publicId, place));
    out += "<table>\n";
    appendRow(out, "Event id", row.publicId);
    appendRow(out, "Place", place);
    appendRow(out, "Event type", row.eventType);
    appendRow(out, "Origin time (UTC)", utcText(row.originTimeUs));
    appendRow(out, "Origin time (New Zealand)", newZealandText(row.originTimeUs));
    appendRow(out, "Latitude", numberText(row.latitude, "\xC2\xB0"));
    appendRow(out, "Longitude", numberText(row.longitude, "\xC2\xB0"));
    appendRow(out, "Depth", numberText(row.depthKm, " km"));
    appendRow(out, "Magnitude", numberText(row.magnitude, ""));
    appendRow(out, "Magnitude type", row.magnitudeType);
    // GeoNet writes -1 for a count it does not know.
    if (row.magnitudeStationCount)
        appendRow(out, "Stations (magnitude)",
                  *row.magnitudeStationCount >= 0 ? QString::number(*row.magnitudeStationCount) : QStringLiteral("unknown"));
    appendRow(out, "Evaluation mode", row.evaluationMode);
    appendRow(out, "Evaluation status", row.evaluationStatus);
    appendRow(out, "Source", row.source);
    out += "</table>\n";
    if (row.latitude && row.longitude) {
        const SvgEvent self { { *row.latitude, *row.longitude }, row.magnitude, row.depthKm, row.originTimeUs };
        // Centred on the event, which lies off the projection's centre only
        // near a pole, where the centre stops at 85°.
        const Projection projection(*row.latitude, *row.longitude);
        const QPointF at = projection.project(self.at);
        out += "<h2>The events within 100 km in the 30 days before it and after it</h2>\n";
        out += SvgMap::map(projection, QRectF(at.x() - 130, at.y() - 130, 260, 260), neighbours.events, &self);
        out += SvgMap::legend();
        const auto events = [](std::int64_t count) {
            return std::to_string(count) + (count == 1 ? " event" : " events");
        };
        out += "\n<p>" + events(neighbours.before) + " before this one, " + events(neighbours.after) + " after it.</p>\n";
        // The largest after it, so that a sequence's biggest aftershocks lead.
        if (!neighbours.largestAfter.empty()) {
            out += neighbours.after > std::int64_t(Neighbours::MostListed) ? "<h3>The 20 largest after it</h3>\n"
                                                                           : "<h3>After it</h3>\n";
            out += "<table><tr><th>Event</th><th>Origin time (UTC)</th><th>Magnitude</th><th>Distance</th></tr>\n";
            for (const Neighbours::Listed &listed : neighbours.largestAfter) {
                out += "<tr><td>";
                appendLink(out, QString::fromLatin1(QUrl::toPercentEncoding(listed.publicId)), listed.publicId);
                out += "</td><td>";
                appendEscaped(out, utcText(listed.timeUs));
                out += "</td><td>";
                appendEscaped(out, numberText(listed.magnitude, ""));
                out += "</td><td>";
                appendEscaped(out, QStringLiteral("%1 km").arg(std::lround(listed.km)));
                out += "</td></tr>\n";
            }
            out += "</table>\n";
        }
    }
    if (neighbours.sequence && neighbours.sequence->events.size() >= Neighbours::SequenceEvents)
        appendSequence(out, *neighbours.sequence);
    const QString id = QString::fromLatin1(QUrl::toPercentEncoding(row.publicId));
    out += "<ul><li>";
    appendLink(out, QStringLiteral("/fdsnws/event/1/query?eventid=") + id, QStringLiteral("This event as QuakeML 1.2"));
    out += "</li><li>";
    appendLink(out, QStringLiteral("/fdsnws/event/1/query?format=text&eventid=") + id,
               QStringLiteral("This event as FDSN text"));
    out += "</li>";
    const QString agency = Catalogue::agencyOf(row.source);
    if (agency == QLatin1String("GeoNet")) {
        out += "<li>";
        appendLink(out, QStringLiteral("https://www.geonet.org.nz/earthquake/") + id,
                   QStringLiteral("This event at GeoNet"));
        out += "</li>";
    }
    out += "<li>";
    appendLink(out, QStringLiteral("/"), QStringLiteral("What this gateway holds"));
    out += "</li></ul>\n";
    appendPageEnd(out);
    return out;
}

std::string notFound(const QString &what)
{
    std::string out;
    appendPageStart(out, QStringLiteral("Not found"));
    out += "<p>";
    appendEscaped(out, what);
    out += "</p>\n<p><a href=\"/\">What this gateway holds</a></p>\n";
    appendPageEnd(out);
    return out;
}

} // namespace Pages
