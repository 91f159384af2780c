#include "http/sequenceservice.h"

#include "catalogue/eventrow.h"
#include "catalogue/windows.h"
#include "geo/decluster.h"
#include "geo/sequencestudy.h"
#include "geo/sequencewindow.h"
#include "http/fdsnquery.h"
#include "http/querystring.h"

#include <QDateTime>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QUrl>

#include <algorithm>
#include <cmath>
#include <iterator>
#include <memory>
#include <optional>

namespace {

constexpr double Microseconds = 1e6;

QString isoTime(double seconds)
{
    return QDateTime::fromMSecsSinceEpoch(qint64(std::llround(seconds * 1000)), Qt::UTC).toString(Qt::ISODateWithMs);
}

QuakePoint pointOf(const EventRow &row)
{
    return { row.originTimeUs / Microseconds, row.latitude.value_or(std::nan("")), row.longitude.value_or(std::nan("")),
             row.magnitude.value_or(std::nan("")), row.publicId.toStdString() };
}

QJsonValue number(double value)
{
    return std::isfinite(value) ? QJsonValue(value) : QJsonValue();
}

// The study as /sequence gives it, in JSON.
void writeStudy(const SequenceStudy::Study &study, const EventRow &event, HttpReply &reply)
{
    const QuakePoint &mainshock = study.mainshock;
    QJsonObject json;
    json[QStringLiteral("mainshock")] = QJsonObject { { QStringLiteral("id"), event.publicId },
                                                      { QStringLiteral("time"), isoTime(mainshock.time) },
                                                      { QStringLiteral("latitude"), mainshock.latitude },
                                                      { QStringLiteral("longitude"), mainshock.longitude },
                                                      { QStringLiteral("depth"), event.depthKm ? QJsonValue(*event.depthKm) : QJsonValue() },
                                                      { QStringLiteral("magnitude"), mainshock.magnitude } };
    json[QStringLiteral("window")] = QJsonObject { { QStringLiteral("radiusKm"), study.radiusKm },
                                                   { QStringLiteral("start"), isoTime(study.start) },
                                                   { QStringLiteral("end"), isoTime(study.end) } };
    json[QStringLiteral("count")] = int(study.events.size());
    QJsonObject magnitudes;
    magnitudes[QStringLiteral("mc")] = study.mc ? QJsonValue(*study.mc) : QJsonValue();
    magnitudes[QStringLiteral("b")] = study.b ? QJsonValue(study.b->b) : QJsonValue();
    magnitudes[QStringLiteral("bSigma")] = study.b ? QJsonValue(study.b->sigma) : QJsonValue();
    magnitudes[QStringLiteral("a")] = study.b ? QJsonValue(study.b->a) : QJsonValue();
    magnitudes[QStringLiteral("n")] = study.aboveMc;
    // Why there is no b, in the Sequence tab's words.
    magnitudes[QStringLiteral("whyNoB")] = study.b ? QJsonValue() : QJsonValue(study.whyNoB);
    json[QStringLiteral("magnitudes")] = magnitudes;
    if (study.omori) {
        const Omori::Fit &fit = *study.omori;
        json[QStringLiteral("omori")] = QJsonObject { { QStringLiteral("K"), number(fit.K) },
                                                      { QStringLiteral("c"), number(fit.c) },
                                                      { QStringLiteral("p"), number(fit.p) },
                                                      { QStringLiteral("sigmaK"), number(fit.sigmaK) },
                                                      { QStringLiteral("sigmaC"), number(fit.sigmaC) },
                                                      { QStringLiteral("sigmaP"), number(fit.sigmaP) },
                                                      { QStringLiteral("n"), fit.n },
                                                      { QStringLiteral("logLikelihood"), number(fit.logLikelihood) } };
    } else {
        json[QStringLiteral("omori")] = QJsonValue();
    }
    QJsonArray forecast;
    for (const Omori::Forecast &f : study.forecast) {
        forecast.append(QJsonObject { { QStringLiteral("from"), isoTime(study.start + f.from * SequenceStudy::SecondsPerDay) },
                                      { QStringLiteral("to"), isoTime(study.start + f.to * SequenceStudy::SecondsPerDay) },
                                      { QStringLiteral("magnitude"), f.magnitude },
                                      { QStringLiteral("expected"), number(f.expected) },
                                      { QStringLiteral("probability"), number(f.probability) } });
    }
    json[QStringLiteral("forecast")] = forecast;
    QJsonArray bTime;
    for (const SequenceStudy::Study::BTime &point : study.bTime)
        bTime.append(QJsonObject { { QStringLiteral("end"), isoTime(point.end) },
                                   { QStringLiteral("b"), point.value.b },
                                   { QStringLiteral("bSigma"), point.value.sigma } });
    json[QStringLiteral("bTime")] = bTime;
    QJsonArray mcTime;
    for (const SequenceStudy::Study::McTime &point : study.mcTime)
        mcTime.append(QJsonObject { { QStringLiteral("end"), isoTime(point.end) },
                                    { QStringLiteral("mc"), point.mc },
                                    { QStringLiteral("mcSigma"), point.sigma } });
    json[QStringLiteral("mcTime")] = mcTime;
    reply.status = 200;
    reply.type = "application/json";
    reply.body = QJsonDocument(json).toJson(QJsonDocument::Compact).toStdString() + '\n';
}


} // namespace

void SequenceService::sequence(std::string_view query, HttpReply &reply) const
{
    QString eventId;
    std::optional<double> days;
    std::optional<double> at;
    for (const auto &[key, value] : QueryString::pairs(query)) {
        bool ok = true;
        if (key == "eventid") {
            eventId = QString::fromStdString(value);
        } else if (key == "days") {
            days = QString::fromStdString(value).toDouble(&ok);
            ok = ok && *days > 0 && *days <= 36500;
        } else if (key == "at") {
            const QDateTime time = QDateTime::fromString(QString::fromStdString(value), Qt::ISODateWithMs);
            ok = time.isValid();
            if (ok)
                at = (time.timeSpec() == Qt::LocalTime ? QDateTime(time.date(), time.time(), Qt::UTC) : time)
                         .toMSecsSinceEpoch() / 1000.0;
        } else {
            return reply.text(400, QStringLiteral("unknown parameter %1: /sequence takes eventid, days and at")
                                       .arg(QueryString::quoted(key)));
        }
        if (!ok)
            return reply.text(400, QStringLiteral("%1 is not a valid %2").arg(QueryString::quoted(value), QString::fromStdString(key)));
    }
    if (eventId.isEmpty())
        return reply.text(400, QStringLiteral("eventid is needed: /sequence?eventid=2016p858000"));
    const Read<EventRow> found = m_catalogue.find(eventId);
    if (found.failed())
        return reply.text(503, QStringLiteral("the catalogue could not be read"));
    if (!found)
        return reply.text(404, QStringLiteral("no event %1 in the catalogue").arg(QueryString::quoted(eventId.toStdString())));
    // A forecast looks forward from the mainshock: before it, the decay
    // would be summed over times that have not begun.
    if (at && *at < found->originTimeUs / Microseconds)
        return reply.text(400, QStringLiteral("at must be at or after the event's time, %1")
                                   .arg(isoTime(found->originTimeUs / Microseconds)));
    if (!found->magnitude || !found->latitude || !found->longitude)
        return reply.text(400, QStringLiteral("event %1 has no %2: its sequence cannot be studied")
                                   .arg(eventId, !found->magnitude ? QStringLiteral("magnitude") : QStringLiteral("position")));
    // The study reads the catalogue and fits a model: it is done where long
    // work waits, so that the threads serving requests stay free.
    struct Work
    {
        bool done = false;
        std::optional<SequenceStudy::Study> study;
        QString error;
    };
    auto work = std::make_shared<Work>();
    const EventRow event = *found;
    reply.defer([this, event, days, at, work] {
                    work->study = study(m_catalogue, event, days, at, &work->error);
                    work->done = true;
                },
                [event, work](HttpReply &later) {
                    if (!work->done)
                        return later.text(503, QStringLiteral("the gateway is stopping"));
                    if (!work->study)
                        return later.text(503, QStringLiteral("the catalogue could not be read: %1").arg(work->error));
                    writeStudy(*work->study, event, later);
                });
}

std::optional<SequenceStudy::Study> SequenceService::study(const Catalogue &catalogue, const EventRow &event,
                                                          std::optional<double> days, std::optional<double> at, QString *error,
                                                          std::size_t maxEvents)
{
    const QuakePoint mainshock = pointOf(event);
    const Read<Catalogue::TimeRange> held = catalogue.timeRange();
    if (held.failed()) {
        *error = QStringLiteral("its time range could not be read");
        return std::nullopt;
    }
    const double latest = held ? held->lastUs / Microseconds : mainshock.time;
    // The window's events: after the mainshock, within its circle.
    const double windowDays = days.value_or(SequenceWindow::days(mainshock.magnitude));
    EventFilter filter;
    filter.startUs = event.originTimeUs;
    filter.endUs = event.originTimeUs + std::int64_t(windowDays * SequenceStudy::SecondsPerDay * Microseconds) + 1;
    filter.magnitudeUpper = 100;
    filter.region.circle = SearchRegion::Circle { { mainshock.latitude, mainshock.longitude },
                                                  SequenceWindow::radiusKm(mainshock.magnitude) };
    std::vector<QuakePoint> candidates;
    const std::unique_ptr<Catalogue::Cursor> cursor = catalogue.search(filter);
    EventRow row;
    while (cursor->next(row)) {
        if (row.latitude && row.longitude)
            candidates.push_back(pointOf(row));
        if (candidates.size() > maxEvents) {
            *error = QStringLiteral("more than %1 events in its window").arg(maxEvents);
            return std::nullopt;
        }
    }
    if (!cursor->error().isEmpty()) {
        *error = cursor->error();
        return std::nullopt;
    }
    return SequenceStudy::study(mainshock, candidates, days, at, latest);
}

void SequenceService::decluster(std::string_view query, HttpReply &reply) const
{
    // The method and threshold are this route's; the rest is an FDSN query.
    std::string method, rest;
    std::optional<double> threshold;
    // FDSN's keys that shape a reply rather than choose its events do
    // nothing here; they are refused rather than ignored.
    static const std::string shapingKeys[] = { "limit", "offset", "orderby", "format", "nodata", "includeallorigins",
                                               "includeallmagnitudes", "includearrivals" };
    for (const auto &[key, value] : QueryString::pairs(query)) {
        if (std::find(std::begin(shapingKeys), std::end(shapingKeys), key) != std::end(shapingKeys))
            return reply.text(400, QStringLiteral("unknown parameter %1: /decluster takes method, threshold and FDSN's keys "
                                                  "that choose events (starttime, endtime, minmagnitude, a box or a circle, "
                                                  "depths, eventtype, ...)").arg(QueryString::quoted(key)));
        if (key == "method") {
            method = value;
        } else if (key == "threshold") {
            bool ok = false;
            threshold = QString::fromStdString(value).toDouble(&ok);
            if (!ok || !(*threshold >= -20 && *threshold <= 20))
                return reply.text(400, QStringLiteral("%1 is not a valid threshold (log10 of eta, -20 to 20, e.g. -5)")
                                           .arg(QueryString::quoted(value)));
        } else {
            rest += (rest.empty() ? "" : "&") + QUrl::toPercentEncoding(QString::fromStdString(key)).toStdString() + '='
                + QUrl::toPercentEncoding(QString::fromStdString(value)).toStdString();
        }
    }
    if (method.empty())
        return reply.text(400, QStringLiteral("method is needed: gardner-knopoff or nearest-neighbour"));
    const bool nearest = method == "nearest-neighbour";
    if (!nearest && method != "gardner-knopoff")
        return reply.text(400, QStringLiteral("%1 is not a method: gardner-knopoff or nearest-neighbour").arg(QueryString::quoted(method)));
    if (threshold && !nearest)
        return reply.text(400, QStringLiteral("threshold is for the nearest-neighbour method"));
    const Parsed<FdsnQuery> parsed = FdsnQuery::parse(rest);
    if (!parsed.error.isEmpty())
        return reply.text(400, parsed.error);
    // Reading the catalogue and declustering it is long work: it is done
    // where long work waits, and the reply made from what it found.
    auto done = std::make_shared<HttpReply>();
    done->text(503, QStringLiteral("the gateway is stopping"));
    reply.defer([this, fdsn = *parsed.value, nearest, threshold, done] { declustered(fdsn, nearest, threshold, *done); },
                [done](HttpReply &later) {
                    later.status = done->status;
                    later.type = done->type;
                    later.body = std::move(done->body);
                });
}

void SequenceService::declustered(const FdsnQuery &fdsn, bool nearest, std::optional<double> threshold,
                                  HttpReply &reply) const
{
    std::vector<QuakePoint> events;
    const std::unique_ptr<Catalogue::Cursor> cursor = m_catalogue.select(fdsn.selection);
    EventRow row;
    while (cursor->next(row)) {
        if (row.magnitude && row.latitude && row.longitude && fdsn.matches(row))
            events.push_back(pointOf(row));
    }
    if (!cursor->error().isEmpty())
        return reply.text(503, QStringLiteral("the catalogue could not be read: %1").arg(cursor->error()));
    SequenceStudy::sortByTime(events);
    std::string &out = reply.body;
    out.clear();
    std::vector<Decluster::Membership> memberships;
    if (nearest) {
        Decluster::NearestNeighbours found = Decluster::nearestNeighbours(events, threshold);
        memberships = std::move(found.memberships);
        out = found.threshold ? "#threshold=" + QString::number(*found.threshold, 'f', 4).toStdString() + '\n'
                              : std::string("#threshold=none: too few events to fit one, so none is linked\n");
    } else {
        memberships = Decluster::gardnerKnopoff(events);
    }
    out += "#EventID|Time|Magnitude|Cluster|Mainshock|Parent|LogEta\n";
    for (std::size_t i = 0; i < events.size(); ++i) {
        const Decluster::Membership &m = memberships[i];
        out += events[i].id + '|' + isoTime(events[i].time).toStdString() + '|'
            + QString::number(events[i].magnitude, 'g', 6).toStdString() + '|' + std::to_string(m.cluster) + '|'
            + events[std::size_t(m.mainshock)].id + '|' + (m.parent >= 0 ? events[std::size_t(m.parent)].id : std::string())
            + '|' + (std::isfinite(m.logEta) ? QString::number(m.logEta, 'f', 4).toStdString() : std::string()) + '\n';
    }
    reply.status = 200;
    reply.type = HttpReply::textType;
}
