#include "catalogue/catalogue.h"

#include "http/searchquery.h"
#include "upstream/upstream.h"

#include <QFileInfo>
#include <QSqlError>
#include <QSqlRecord>
#include <QVariant>

#include <atomic>
#include <unordered_map>

namespace {

std::atomic<quint64> nextSerial { 0 };

const char *const schema[] = {
    "CREATE TABLE IF NOT EXISTS catalogue_info ("
    " name VARCHAR(64) PRIMARY KEY,"
    " value VARCHAR(255) NOT NULL)",
    "CREATE TABLE IF NOT EXISTS event ("
    " public_id VARCHAR(255) PRIMARY KEY,"
    " origin_time BIGINT NOT NULL,"          // UTC, microseconds since 1970
    " latitude DOUBLE PRECISION,"
    " longitude DOUBLE PRECISION,"
    " depth DOUBLE PRECISION,"               // km
    " magnitude DOUBLE PRECISION,"
    " magnitude_type VARCHAR(32),"
    " magnitude_station_count INTEGER,"
    " event_type VARCHAR(64),"
    " evaluation_mode VARCHAR(32),"
    " evaluation_status VARCHAR(32),"
    " source VARCHAR(255) NOT NULL,"
    " modified BIGINT NOT NULL)",
    "CREATE INDEX IF NOT EXISTS event_by_time ON event (origin_time, magnitude)",
    // Windows copied from an upstream, so that a recent one is not asked
    // for again and an interrupted sync goes on where it stopped.
    "CREATE TABLE IF NOT EXISTS fetched_window ("
    " upstream VARCHAR(255) NOT NULL,"
    " start_time BIGINT NOT NULL,"
    " end_time BIGINT NOT NULL,"
    " min_magnitude DOUBLE PRECISION,"
    " max_magnitude DOUBLE PRECISION,"
    " updated_after BIGINT,"
    " fetched BIGINT NOT NULL)",
    "CREATE INDEX IF NOT EXISTS fetched_window_by_time ON fetched_window (upstream, start_time)",
};

QString lastError(const QSqlQuery &query)
{
    return query.lastError().text().simplified();
}

template <typename T>
std::optional<T> optionalOf(const QVariant &value)
{
    if (value.isNull())
        return std::nullopt;
    return value.value<T>();
}

} // namespace

Catalogue::Catalogue(const QString &path)
    : m_path(path)
    , m_serial(++nextSerial)
{
}

Catalogue::~Catalogue()
{
    for (const QString &name : std::as_const(m_connectionNames))
        QSqlDatabase::removeDatabase(name);
}

QSqlDatabase Catalogue::connection() const
{
    // Connections by catalogue for this thread; a serial is never reused,
    // so the entries of catalogues that are gone can do no harm.
    thread_local std::unordered_map<quint64, QString> names;
    if (const auto found = names.find(m_serial); found != names.end())
        return QSqlDatabase::database(found->second, false);

    const QString name = QStringLiteral("harvix-catalogue-%1-%2")
                             .arg(m_serial)
                             .arg(quintptr(&names), 0, 16);
    QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), name);
    db.setDatabaseName(m_path);
    // A writer holds its lock for one file or window; readers never wait in WAL.
    db.setConnectOptions(m_readOnly ? QStringLiteral("QSQLITE_BUSY_TIMEOUT=30000;QSQLITE_OPEN_READONLY")
                                    : QStringLiteral("QSQLITE_BUSY_TIMEOUT=30000"));
    if (db.open()) {
        // A small page cache a connection: there is one for each worker.
        QSqlQuery(db).exec(QStringLiteral("PRAGMA cache_size = -256"));
    }
    names.emplace(m_serial, name);
    std::lock_guard<std::mutex> lock(m_mutex);
    m_connectionNames.append(name);
    return db;
}

bool Catalogue::open(QString *error)
{
    const QFileInfo file(m_path);
    m_readOnly = file.exists() && !file.isWritable();
    QSqlDatabase db = connection();
    auto fail = [&](const QString &what) {
        *error = QStringLiteral("%1: %2").arg(m_path, what);
        return false;
    };
    if (!db.isOpen())
        return fail(db.lastError().text().simplified());

    QSqlQuery query(db);
    // Any read shows whether this is an SQLite file at all.
    if (!query.exec(QStringLiteral("SELECT COUNT(*) FROM sqlite_master")))
        return fail(QStringLiteral("not a catalogue (%1)").arg(lastError(query)));
    if (query.exec(QStringLiteral("SELECT value FROM catalogue_info WHERE name = 'schema_version'"))
        && query.next()) {
        const int version = query.value(0).toInt();
        if (version > SchemaVersion)
            return fail(QStringLiteral("written by a newer harvix-gateway (schema %1; this one reads "
                                       "schema %2)").arg(version).arg(SchemaVersion));
        // Tables that came later in the same schema version.
        if (!m_readOnly && !query.exec(QStringLiteral("SELECT COUNT(*) FROM fetched_window"))) {
            for (const char *statement : schema) {
                if (!query.exec(QLatin1String(statement)))
                    return fail(lastError(query));
            }
        }
        return true;
    }

    if (m_readOnly)
        return fail(QStringLiteral("read-only, and not a catalogue"));
    if (!query.exec(QStringLiteral("PRAGMA journal_mode=WAL")))
        return fail(lastError(query));
    if (!db.transaction())
        return fail(db.lastError().text().simplified());
    for (const char *statement : schema) {
        if (!query.exec(QLatin1String(statement))) {
            db.rollback();
            return fail(lastError(query));
        }
    }
    query.prepare(QStringLiteral("INSERT INTO catalogue_info (name, value) VALUES ('schema_version', ?)"));
    query.addBindValue(QString::number(SchemaVersion));
    if (!query.exec() || !db.commit()) {
        db.rollback();
        return fail(lastError(query));
    }
    return true;
}

qint64 Catalogue::eventCount() const
{
    QSqlQuery query(connection());
    if (query.exec(QStringLiteral("SELECT COUNT(*) FROM event")) && query.next())
        return query.value(0).toLongLong();
    return 0;
}

QString Catalogue::eventColumns()
{
    return QStringLiteral("public_id, origin_time, latitude, longitude, depth, magnitude, magnitude_type,"
                          " magnitude_station_count, event_type, evaluation_mode, evaluation_status");
}

EventRow Catalogue::rowFrom(const QSqlQuery &query)
{
    EventRow row;
    row.publicId = query.value(0).toString();
    row.originTimeUs = query.value(1).toLongLong();
    row.latitude = optionalOf<double>(query.value(2));
    row.longitude = optionalOf<double>(query.value(3));
    row.depthKm = optionalOf<double>(query.value(4));
    row.magnitude = optionalOf<double>(query.value(5));
    row.magnitudeType = query.value(6).toString();
    row.magnitudeStationCount = optionalOf<int>(query.value(7));
    row.eventType = query.value(8).toString();
    row.evaluationMode = query.value(9).toString();
    row.evaluationStatus = query.value(10).toString();
    return row;
}

std::optional<EventRow> Catalogue::find(const QString &publicId) const
{
    QSqlQuery query(connection());
    query.setForwardOnly(true);
    query.prepare(QStringLiteral("SELECT %1 FROM event WHERE public_id = ?").arg(eventColumns()));
    query.addBindValue(publicId);
    if (query.exec() && query.next())
        return rowFrom(query);
    return std::nullopt;
}

QList<Catalogue::SourceSummary> Catalogue::summary() const
{
    QList<SourceSummary> sources;
    QSqlQuery query(connection());
    query.setForwardOnly(true);
    if (!query.exec(QStringLiteral("SELECT source, COUNT(*), MIN(origin_time), MAX(origin_time)"
                                   " FROM event GROUP BY source ORDER BY source")))
        return sources;
    while (query.next()) {
        sources.append({ query.value(0).toString(), query.value(1).toLongLong(),
                         query.value(2).toLongLong(), query.value(3).toLongLong() });
    }
    return sources;
}

bool Catalogue::isFetched(const QString &upstream, const UpstreamWindow &window, std::int64_t sinceUs) const
{
    // A record covers the window when its time range holds it and its
    // magnitude range is at least as wide.
    QString sql = QStringLiteral("SELECT COUNT(*) FROM fetched_window WHERE upstream = ? AND start_time <= ?"
                                 " AND end_time >= ? AND fetched >= ?");
    QVariantList values = { upstream, qlonglong(window.startUs), qlonglong(window.endUs), qlonglong(sinceUs) };
    if (window.minMagnitude) {
        sql += QStringLiteral(" AND (min_magnitude IS NULL OR min_magnitude <= ?)");
        values << *window.minMagnitude;
    } else {
        sql += QStringLiteral(" AND min_magnitude IS NULL");
    }
    if (window.maxMagnitude) {
        sql += QStringLiteral(" AND (max_magnitude IS NULL OR max_magnitude >= ?)");
        values << *window.maxMagnitude;
    } else {
        sql += QStringLiteral(" AND max_magnitude IS NULL");
    }
    if (window.updatedAfterUs) {
        sql += QStringLiteral(" AND (updated_after IS NULL OR updated_after <= ?)");
        values << qlonglong(*window.updatedAfterUs);
    } else {
        sql += QStringLiteral(" AND updated_after IS NULL");
    }
    QSqlQuery query(connection());
    query.setForwardOnly(true);
    query.prepare(sql);
    for (const QVariant &value : values)
        query.addBindValue(value);
    return query.exec() && query.next() && query.value(0).toLongLong() > 0;
}

std::unique_ptr<Catalogue::Cursor> Catalogue::search(const SearchQuery &search) const
{
    QSqlQuery query(connection());
    query.setForwardOnly(true);
    query.prepare(QStringLiteral("SELECT %1 FROM event WHERE %2 ORDER BY origin_time")
                      .arg(eventColumns(), search.whereClause()));
    for (const QVariant &value : search.bindings())
        query.addBindValue(value);
    query.exec();
    return std::unique_ptr<Cursor>(new Cursor(std::move(query)));
}

bool Catalogue::Cursor::next(EventRow &row)
{
    if (!m_query.isActive() || !m_query.next())
        return false;
    row = rowFrom(m_query);
    return true;
}

QString Catalogue::Cursor::error() const
{
    return m_query.lastError().isValid() ? lastError(m_query) : QString();
}
