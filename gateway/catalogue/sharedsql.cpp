#include "catalogue/sharedsql.h"

#include "catalogue/catalogue.h"
#include "catalogue/eventcolumns.h"
#include "catalogue/windows.h"
#include "geo/projection.h"

#include <QDateTime>

#include <algorithm>
#include <atomic>
#include <cmath>

QList<Catalogue::Table> Catalogue::tables()
{
    QStringList values;
    for (const EventColumns::Column &column : EventColumns::all())
        values << QLatin1String(column.name);
    return { { QStringLiteral("event"), QStringList { "public_id" } + values + QStringList { "source", "modified" } },
             { QStringLiteral("event_claim"), QStringList { "public_id", "source", "claimed" } + values },
             { QStringLiteral("fetched_window"),
               { "upstream", "start_time", "end_time", "min_magnitude", "max_magnitude", "updated_after", "fetched",
                 "region" } },
             { QStringLiteral("change_log"), { "stamp", "committed" } } };
}

const QString SharedSql::sourceSummary = QStringLiteral("SELECT source, COUNT(*), MIN(origin_time), MAX(origin_time) FROM event GROUP BY source ORDER BY source");
const QString SharedSql::deleteUnclaimedEvent = QStringLiteral("DELETE FROM event WHERE public_id = ? AND source = ?");
const QString SharedSql::deleteSourceEvents = QStringLiteral("DELETE FROM event WHERE source = ?");
const QString SharedSql::deleteClaim = QStringLiteral("DELETE FROM event_claim WHERE public_id = ? AND source = ?");
const QString SharedSql::deleteSourceClaims = QStringLiteral("DELETE FROM event_claim WHERE source = ?");
const QString SharedSql::insertSchemaVersion = QStringLiteral("INSERT INTO catalogue_info (name, value) VALUES ('schema_version', ?)");
const QString SharedSql::selectSchemaVersion = QStringLiteral("SELECT value FROM catalogue_info WHERE name = 'schema_version'");
const QString SharedSql::openChange = QStringLiteral("INSERT INTO change_log (stamp, committed) VALUES (?, NULL)");
const QString SharedSql::closeChange = QStringLiteral("UPDATE change_log SET committed = ? WHERE stamp = ?");
const QString SharedSql::lastModified = QStringLiteral("SELECT (SELECT MAX(modified) FROM event), (SELECT MAX(committed) FROM change_log)");
const QString SharedSql::countEvents = QStringLiteral("SELECT COUNT(*) FROM event");
const QString SharedSql::lastFetched = QStringLiteral("SELECT MAX(fetched) FROM fetched_window WHERE upstream = ?");
const QString SharedSql::timeRange = QStringLiteral("SELECT MIN(origin_time), MAX(origin_time) FROM event");
const QString SharedSql::searchOrder = QStringLiteral(" ORDER BY origin_time, magnitude NULLS FIRST, public_id");
const QString SharedSql::eventColumns = QStringLiteral("public_id, %1, source").arg(EventColumns::names());

QString SharedSql::findEvent()
{
    return QStringLiteral("SELECT %1 FROM event WHERE public_id = ?").arg(eventColumns);
}

namespace SharedSql {

// The event's values and source as the source that claimed it most
// recently wrote them (its time, for a claim of before claims kept values,
// the event's own).
QString latestClaim()
{
    return QStringLiteral("(%1, source) = (SELECT %2, c.source FROM event_claim c WHERE c.public_id = event.public_id"
                          " ORDER BY c.claimed DESC, c.source LIMIT 1)")
        .arg(EventColumns::names(), EventColumns::names("c.").replace(QStringLiteral("c.origin_time"),
                                                                        QStringLiteral("COALESCE(c.origin_time, event.origin_time)")));
}

const QLatin1String anyClaim("EXISTS (SELECT 1 FROM event_claim c WHERE c.public_id = event.public_id)");

QString handOver()
{
    return QStringLiteral("UPDATE event SET %1, modified = ? WHERE public_id = ? AND source = ? AND %2")
        .arg(latestClaim(), anyClaim);
}

QString handOverAll()
{
    return QStringLiteral("UPDATE event SET %1, modified = ? WHERE source = ? AND %2").arg(latestClaim(), anyClaim);
}

QByteArray claimKeptStatements()
{
    return QStringLiteral("INSERT INTO event_claim (public_id, source, claimed, %1)"
                          " VALUES (OLD.public_id, OLD.source, OLD.modified, %2)"
                          " ON CONFLICT (public_id, source) DO UPDATE SET claimed = excluded.claimed, %3;"
                          " DELETE FROM event_claim WHERE public_id = NEW.public_id AND source = NEW.source;")
        .arg(EventColumns::names(), EventColumns::names("OLD."), EventColumns::assignedFrom("excluded."))
        .toLatin1();
}

QString claimsTakeTheirEventsValues()
{
    return QStringLiteral("UPDATE event_claim SET (%1) = (SELECT %2 FROM event e WHERE e.public_id = event_claim.public_id)"
                          " WHERE origin_time IS NULL")
        .arg(EventColumns::names(), EventColumns::names("e."));
}

Statement unseen(const UpstreamWindow &window, const QString &source, std::int64_t stamp)
{
    // Through the events' time index: the rows this source wrote last, and
    // the claims it keeps on rows that others wrote since.
    Statement statement { QStringLiteral("SELECT public_id, origin_time, latitude, longitude, depth FROM event"
                                         " WHERE origin_time >= ? AND origin_time < ?"),
                          { qlonglong(window.startUs), qlonglong(window.endUs) } };
    const RegionTerms where = RegionTerms::of(window.region);
    if (!where.sql.isEmpty()) {
        statement.sql += QStringLiteral(" AND ") + where.sql;
        statement.values << where.values;
    }
    if (window.minMagnitude) {
        statement.sql += QStringLiteral(" AND magnitude >= ?");
        statement.values << *window.minMagnitude;
    }
    if (window.maxMagnitude) {
        statement.sql += QStringLiteral(" AND magnitude <= ?");
        statement.values << *window.maxMagnitude;
    }
    statement.sql += QStringLiteral(" AND ((source = ? AND modified <> ?) OR EXISTS (SELECT 1 FROM event_claim c"
                                    " WHERE c.public_id = event.public_id AND c.source = ? AND c.claimed <> ?))"
                                    " ORDER BY origin_time, public_id");
    statement.values << source << qlonglong(stamp) << source << qlonglong(stamp);
    return statement;
}

Statement recordFetched(const QString &upstream, const UpstreamWindow &window, std::int64_t nowUs)
{
    const auto optional = [](const std::optional<double> &value) { return value ? QVariant(*value) : QVariant(); };
    return { QStringLiteral("INSERT INTO fetched_window (upstream, start_time, end_time, min_magnitude, max_magnitude,"
                            " updated_after, fetched, region) VALUES (?, ?, ?, ?, ?, ?, ?, ?)"),
             { upstream, qlonglong(window.startUs), qlonglong(window.endUs), optional(window.minMagnitude),
               optional(window.maxMagnitude),
               window.updatedAfterUs ? QVariant(qlonglong(*window.updatedAfterUs)) : QVariant(), qlonglong(nowUs),
               window.region.isWhole() ? QVariant() : QVariant(window.region.queryKeys()) } };
}

Statement countFetched(const QString &upstream, const UpstreamWindow &window, std::int64_t sinceUs)
{
    // A record covers the window when its time range holds it, its
    // magnitude range is at least as wide, and its region is the window's
    // or the whole world.
    Statement statement { QStringLiteral("SELECT COUNT(*) FROM fetched_window WHERE upstream = ? AND start_time <= ?"
                                         " AND end_time >= ? AND fetched >= ?"),
                          { upstream, qlonglong(window.startUs), qlonglong(window.endUs), qlonglong(sinceUs) } };
    if (window.minMagnitude) {
        statement.sql += QStringLiteral(" AND (min_magnitude IS NULL OR min_magnitude <= ?)");
        statement.values << *window.minMagnitude;
    } else {
        statement.sql += QStringLiteral(" AND min_magnitude IS NULL");
    }
    if (window.maxMagnitude) {
        statement.sql += QStringLiteral(" AND (max_magnitude IS NULL OR max_magnitude >= ?)");
        statement.values << *window.maxMagnitude;
    } else {
        statement.sql += QStringLiteral(" AND max_magnitude IS NULL");
    }
    if (window.updatedAfterUs) {
        statement.sql += QStringLiteral(" AND (updated_after IS NULL OR updated_after <= ?)");
        statement.values << qlonglong(*window.updatedAfterUs);
    } else {
        statement.sql += QStringLiteral(" AND updated_after IS NULL");
    }
    if (window.region.isWhole()) {
        statement.sql += QStringLiteral(" AND region IS NULL");
    } else {
        statement.sql += QStringLiteral(" AND (region IS NULL OR region = ?)");
        statement.values << window.region.queryKeys();
    }
    return statement;
}

std::optional<double> storedLongitude(std::optional<double> longitude)
{
    if (!longitude || !std::isfinite(*longitude))
        return longitude;
    return Geo::periodicLongitude(*longitude);
}

std::int64_t nextStamp()
{
    static std::atomic<std::int64_t> lastStamp { 0 };
    const std::int64_t now = QDateTime::currentMSecsSinceEpoch() * 1000;
    std::int64_t last = lastStamp.load();
    while (!lastStamp.compare_exchange_weak(last, std::max(now, last + 1))) {
    }
    return std::max(now, last + 1);
}

QString insertRow(const QString &table, const QStringList &columns)
{
    return QStringLiteral("INSERT INTO %1 (%2) VALUES (%3)")
        .arg(table, columns.join(QStringLiteral(", ")), QStringList(columns.size(), QStringLiteral("?")).join(QStringLiteral(", ")));
}

QString selectTable(const QString &table, const QStringList &columns)
{
    return QStringLiteral("SELECT %1 FROM %2 ORDER BY %3").arg(columns.join(QStringLiteral(", ")), table, columns.join(QStringLiteral(", ")));
}

} // namespace SharedSql
