#include "catalogue/sqlitecatalogue.h"

#include "catalogue/sqlitecataloguewriter.h"

#include "catalogue/eventquery.h"
#include "catalogue/sharedsql.h"
#include "catalogue/windows.h"

#include <QDateTime>
#include <QFile>
#include <QFileInfo>
#include <QUrl>
#include <QSqlError>
#include <QSqlRecord>
#include <QVariant>

#include <algorithm>
#include <atomic>
#include <unordered_map>

namespace {

std::atomic<quint64> nextSerial { 0 };

// A source that writes an event over another's takes the row; the other
// keeps its claim, with its values, in event_claim.
const QByteArray claimKept = "CREATE TRIGGER IF NOT EXISTS event_claim_kept BEFORE UPDATE OF source ON event"
                              " WHEN OLD.source <> NEW.source BEGIN " + SharedSql::claimKeptStatements() + " END";

// The values of its event that a claim keeps, as the event table has them.
const char *const claimValues[] = { "origin_time BIGINT", "latitude DOUBLE PRECISION", "longitude DOUBLE PRECISION",
                                    "depth DOUBLE PRECISION", "magnitude DOUBLE PRECISION", "magnitude_type VARCHAR(32)",
                                    "magnitude_station_count INTEGER", "event_type VARCHAR(64)",
                                    "evaluation_mode VARCHAR(32)", "evaluation_status VARCHAR(32)" };

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
    " fetched BIGINT NOT NULL,"
    " region VARCHAR(255))",
    "CREATE INDEX IF NOT EXISTS fetched_window_by_time ON fetched_window (upstream, start_time)",
    // Every source that holds an event: a file's name or an upstream's URL.
    // The event row's source, the one that wrote it last, holds it; the
    // others that hold it too are listed here, so that an event stays while
    // any source holds it. With one source, as nearly always, it is empty.
    // Each keeps the values that its source last wrote (claimValues), so
    // that the event shows them again when a source that wrote over them
    // lets go; the trigger claimKept keeps them.
    "CREATE TABLE IF NOT EXISTS event_claim ("
    " public_id VARCHAR(255) NOT NULL,"
    " source VARCHAR(255) NOT NULL,"
    " claimed BIGINT NOT NULL,"              // the stamp of the transaction that last wrote it
    " PRIMARY KEY (public_id, source)) WITHOUT ROWID",
    "CREATE INDEX IF NOT EXISTS event_claim_by_source ON event_claim (source)",
    // When each transaction's changes became visible. A transaction stamps
    // its rows when it begins, so a long import's rows carry a time older
    // than the polls that ran while it did; a search for what changed after
    // a time also takes the stamps of transactions committed after it.
    "CREATE TABLE IF NOT EXISTS change_log ("
    " stamp BIGINT PRIMARY KEY,"
    " committed BIGINT)",                    // nothing until the writer has noted it
    // Each event by the degree of latitude and longitude it lies in, then
    // time: a search of a small region reads the few cells it covers in
    // time order instead of every event of its times. The cell is an
    // expression of the row, so the index needs nothing but itself.
    "CREATE INDEX IF NOT EXISTS event_by_cell ON event"
    " ((CAST(latitude + 90 AS INTEGER) * 361 + CAST(longitude + 180 AS INTEGER)), origin_time)",
};

// The cell of an event's place, as event_by_cell indexes it.
const char cellOfEvent[] = "(CAST(latitude + 90 AS INTEGER) * 361 + CAST(longitude + 180 AS INTEGER))";

// A search whose cells hold at most this many events of its times is read
// through them, and sorted; a larger one scans the time index, in order,
// as a search without a region does.
constexpr int CellIndexLimit = 20000;


QString lastError(const QSqlQuery &query)
{
    return query.lastError().text().simplified();
}

QStringList columnsOf(QSqlQuery &query, const QString &table)
{
    QStringList columns;
    if (query.exec(QStringLiteral("PRAGMA table_info(%1)").arg(table))) {
        while (query.next())
            columns << query.value(1).toString();
    }
    query.finish();
    return columns;
}

// The claims' values and the trigger that keeps them, for a new catalogue
// and one made before schema 4, whose claims take their events' values as
// a hand-over gave them then.
bool keepClaimValues(QSqlQuery &query)
{
    if (columnsOf(query, QStringLiteral("event_claim")).contains(QLatin1String("origin_time")))
        return true;
    for (const char *column : claimValues) {
        if (!query.exec(QStringLiteral("ALTER TABLE event_claim ADD COLUMN %1").arg(QLatin1String(column))))
            return false;
    }
    return query.exec(SharedSql::claimsTakeTheirEventsValues()) && query.exec(QStringLiteral("DROP TRIGGER IF EXISTS event_claim_kept"))
        && query.exec(QString::fromLatin1(claimKept));
}

template <typename T>
std::optional<T> optionalOf(const QVariant &value)
{
    if (value.isNull())
        return std::nullopt;
    return value.value<T>();
}

} // namespace

SqliteCatalogue::SqliteCatalogue(const QString &path)
    : m_path(path)
    , m_serial(++nextSerial)
{
}

SqliteCatalogue::~SqliteCatalogue()
{
    for (const QString &name : std::as_const(m_connectionNames))
        QSqlDatabase::removeDatabase(name);
}

QSqlDatabase SqliteCatalogue::connection() const
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
    // A writer holds its lock for one piece of work; readers never wait in WAL.
    if (m_immutable) {
        db.setDatabaseName(QUrl::fromLocalFile(m_path).toString(QUrl::FullyEncoded) + QStringLiteral("?immutable=1"));
        db.setConnectOptions(QStringLiteral("QSQLITE_OPEN_READONLY;QSQLITE_OPEN_URI"));
    } else {
        db.setDatabaseName(m_path);
        db.setConnectOptions(m_readOnly ? QStringLiteral("QSQLITE_BUSY_TIMEOUT=30000;QSQLITE_OPEN_READONLY")
                                        : QStringLiteral("QSQLITE_BUSY_TIMEOUT=30000"));
    }
    if (db.open()) {
        // A small page cache a connection: there is one for each worker.
        QSqlQuery(db).exec(QStringLiteral("PRAGMA cache_size = -256"));
    }
    names.emplace(m_serial, name);
    std::lock_guard<std::mutex> lock(m_mutex);
    m_connectionNames.append(name);
    return db;
}

namespace {

// What the first bytes of an existing file say about it: empty, an SQLite
// database with this application id (0 for none), or something else.
enum class FileKind { Empty, SQLite, NotSQLite, Unreadable };

FileKind kindOf(const QString &path, quint32 &applicationId, QString &why)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        why = file.errorString();
        return FileKind::Unreadable;
    }
    const QByteArray header = file.read(100);
    if (header.isEmpty())
        return FileKind::Empty;
    if (header.size() < 100 || !header.startsWith(QByteArray("SQLite format 3\0", 16)))
        return FileKind::NotSQLite;
    // The header's application id, big-endian at offset 68.
    applicationId = quint32(quint8(header[68])) << 24 | quint32(quint8(header[69])) << 16
        | quint32(quint8(header[70])) << 8 | quint32(quint8(header[71]));
    return FileKind::SQLite;
}

// SQLite's own words for what went wrong, without Qt's additions.
QString sqliteText(const QSqlError &error)
{
    const QString text = error.databaseText().simplified();
    return text.isEmpty() ? error.text().simplified() : text;
}

// The tables of an SQLite file, through a connection that writes nothing.
QStringList tablesOf(const QString &path, QString *error)
{
    QStringList tables;
    const QString name = QStringLiteral("harvix-catalogue-inspect-%1").arg(++nextSerial);
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), name);
        db.setDatabaseName(path);
        db.setConnectOptions(QStringLiteral("QSQLITE_OPEN_READONLY;QSQLITE_BUSY_TIMEOUT=30000"));
        if (!db.open()) {
            *error = sqliteText(db.lastError());
        } else {
            QSqlQuery query(db);
            query.setForwardOnly(true);
            if (!query.exec(QStringLiteral("SELECT name FROM sqlite_master WHERE type = 'table'")))
                *error = sqliteText(query.lastError());
            while (query.next())
                tables << query.value(0).toString();
        }
        db.close();
    }
    QSqlDatabase::removeDatabase(name);
    return tables;
}

} // namespace

bool SqliteCatalogue::open(QString *error)
{
    auto fail = [&](const QString &what) {
        *error = QStringLiteral("%1: %2").arg(m_path, what);
        return false;
    };
    const QFileInfo file(m_path);
    quint32 applicationId = 0;
    if (file.exists()) {
        if (!file.isFile())
            return fail(QStringLiteral("not a Harvix catalogue: not a file"));
        QString why;
        switch (kindOf(m_path, applicationId, why)) {
        case FileKind::Unreadable:
            return fail(QStringLiteral("cannot be read (%1)").arg(why));
        case FileKind::NotSQLite:
            return fail(QStringLiteral("not a Harvix catalogue: the file is not an SQLite database"));
        case FileKind::SQLite:
            if (applicationId != 0 && applicationId != ApplicationId)
                return fail(QStringLiteral("not a Harvix catalogue: an SQLite database of another program "
                                           "(application id %1); it was left as it is").arg(applicationId));
            break;
        case FileKind::Empty:
            break;
        }
    } else if (!QFileInfo(file.absolutePath()).isDir()) {
        return fail(QStringLiteral("the folder %1 does not exist").arg(file.absolutePath()));
    }
    m_readOnly = file.exists() && !file.isWritable();
    // A read-only catalogue in a folder that may not be written either has
    // no room for SQLite's shared-memory file: it is read as it stands.
    m_immutable = m_readOnly && !QFileInfo(file.absolutePath()).isWritable()
        && !QFileInfo::exists(m_path + QStringLiteral("-wal"));
    // A file without our mark is looked at read-only first: opening another
    // program's database for writing would fold its WAL into it.
    if (file.exists() && applicationId != ApplicationId) {
        QString why;
        const QStringList tables = tablesOf(m_path, &why);
        if (!why.isEmpty())
            return fail(QStringLiteral("not a Harvix catalogue: the file is damaged or not an SQLite database (%1)")
                            .arg(why));
        if (!tables.isEmpty() && !tables.contains(QLatin1String("catalogue_info")))
            return fail(QStringLiteral("not a Harvix catalogue: an SQLite database of another program (tables %1); "
                                       "it was left as it is").arg(tables.mid(0, 5).join(QStringLiteral(", "))));
    }
    QSqlDatabase db = connection();
    if (!db.isOpen())
        return fail(QStringLiteral("cannot be opened (%1)").arg(sqliteText(db.lastError())));

    QSqlQuery query(db);
    query.setForwardOnly(true);
    if (!query.exec(QStringLiteral("SELECT name FROM sqlite_master WHERE type = 'table'")))
        return fail(QStringLiteral("not a Harvix catalogue: the file is damaged or not an SQLite database (%1)")
                        .arg(sqliteText(query.lastError())));
    QStringList tables;
    while (query.next())
        tables << query.value(0).toString();
    query.finish();

    if (tables.contains(QLatin1String("catalogue_info"))) {
        if (!query.exec(SharedSql::selectSchemaVersion)
            || !query.next())
            return fail(QStringLiteral("not a Harvix catalogue: it has no schema version"));
        const int version = query.value(0).toInt();
        query.finish();
        if (version > SchemaVersion)
            return fail(QStringLiteral("written by a newer harvix-gateway (schema %1; this one reads "
                                       "schema %2)").arg(version).arg(SchemaVersion));
        if (m_readOnly) {
            if (version < SchemaVersion)
                return fail(QStringLiteral("read-only, and written by an older harvix-gateway (schema %1): "
                                           "open it once with write access to bring it up to date").arg(version));
            // Written before the cell index came: searched by time alone.
            m_cellIndex = query.exec(QStringLiteral("SELECT 1 FROM sqlite_master WHERE type = 'index' AND name = "
                                                    "'event_by_cell'"))
                && query.next();
            query.finish();
            return true;
        }
        // Tables that came later, and the mark that catalogues made before
        // it lack.
        if (!db.transaction())
            return fail(QStringLiteral("cannot be written (%1)").arg(sqliteText(db.lastError())));
        bool written = true;
        for (const char *statement : schema)
            written = written && query.exec(QLatin1String(statement));
        // Schema 1's events are each held by the source that wrote them,
        // as the row says; schema 2's fetched windows are of the whole world.
        if (version < 3 && !columnsOf(query, QStringLiteral("fetched_window")).contains(QLatin1String("region")))
            written = written && query.exec(QStringLiteral("ALTER TABLE fetched_window ADD COLUMN region VARCHAR(255)"));
        written = written && keepClaimValues(query);
        if (version < SchemaVersion) {
            written = written && query.exec(QStringLiteral("UPDATE catalogue_info SET value = '%1' WHERE name = "
                                                           "'schema_version'").arg(SchemaVersion));
        }
        // A writer that stopped between its commit and noting it: its
        // changes are visible, so they are noted as committed now.
        written = written && query.exec(QStringLiteral("UPDATE change_log SET committed = %1 WHERE committed IS NULL")
                                            .arg(QDateTime::currentMSecsSinceEpoch() * 1000));
        if (!written || !db.commit()) {
            const QString why = sqliteText(written ? db.lastError() : query.lastError());
            db.rollback();
            return fail(QStringLiteral("cannot be written (%1)").arg(why));
        }
        if (applicationId == 0 && !query.exec(QStringLiteral("PRAGMA application_id = %1").arg(ApplicationId)))
            return fail(QStringLiteral("cannot be written (%1)").arg(sqliteText(query.lastError())));
        m_cellIndex = true;
        return true;
    }
    if (!tables.isEmpty())
        return fail(QStringLiteral("not a Harvix catalogue: an SQLite database of another program (tables %1); "
                                   "it was left as it is").arg(tables.mid(0, 5).join(QStringLiteral(", "))));

    // An empty database: a new catalogue.
    if (m_readOnly)
        return fail(QStringLiteral("read-only, and not a catalogue"));
    if (!query.exec(QStringLiteral("PRAGMA application_id = %1").arg(ApplicationId))
        || !query.exec(QStringLiteral("PRAGMA journal_mode=WAL")))
        return fail(QStringLiteral("cannot be written (%1)").arg(sqliteText(query.lastError())));
    if (!db.transaction())
        return fail(QStringLiteral("cannot be written (%1)").arg(sqliteText(db.lastError())));
    for (const char *statement : schema) {
        if (!query.exec(QLatin1String(statement))) {
            db.rollback();
            return fail(QStringLiteral("cannot be written (%1)").arg(sqliteText(query.lastError())));
        }
    }
    if (!keepClaimValues(query)) {
        db.rollback();
        return fail(QStringLiteral("cannot be written (%1)").arg(sqliteText(query.lastError())));
    }
    query.prepare(SharedSql::insertSchemaVersion);
    query.addBindValue(QString::number(SchemaVersion));
    if (!query.exec() || !db.commit()) {
        db.rollback();
        return fail(QStringLiteral("cannot be written (%1)").arg(sqliteText(query.lastError())));
    }
    m_cellIndex = true;
    return true;
}

qint64 SqliteCatalogue::eventCount() const
{
    QSqlQuery query(connection());
    if (query.exec(SharedSql::countEvents) && query.next())
        return query.value(0).toLongLong();
    return 0;
}

EventRow SqliteCatalogue::rowFrom(const QSqlQuery &query)
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
    row.source = query.value(11).toString();
    return row;
}

std::optional<EventRow> SqliteCatalogue::find(const QString &publicId) const
{
    QSqlQuery query(connection());
    query.setForwardOnly(true);
    query.prepare(SharedSql::findEvent());
    query.addBindValue(publicId);
    if (query.exec() && query.next())
        return rowFrom(query);
    return std::nullopt;
}

std::vector<GeoPoint> SqliteCatalogue::outline() const
{
    std::vector<GeoPoint> points;
    QSqlQuery query(connection());
    query.setForwardOnly(true);
    // Longitudes from -180 to 180 made 0 to 360 first, so that the cast
    // to a whole number, which drops the fraction, is the floor.
    if (!query.exec(QStringLiteral("SELECT CAST(longitude + 180 AS INTEGER), MIN(latitude), MAX(latitude) FROM event"
                                   " WHERE latitude IS NOT NULL AND longitude IS NOT NULL GROUP BY 1")))
        return points;
    while (query.next()) {
        const double west = query.value(0).toDouble() - 180;
        for (const double longitude : { west, std::min(west + 1, 180.0) }) {
            points.push_back({ query.value(1).toDouble(), longitude });
            points.push_back({ query.value(2).toDouble(), longitude });
        }
    }
    return points;
}

qint64 SqliteCatalogue::lastModified() const
{
    // A removal leaves no stamp on any row, and a long import's stamp is
    // older than those of the transactions that committed while it ran:
    // the log knows when each one was committed.
    QSqlQuery query(connection());
    query.setForwardOnly(true);
    if (query.exec(SharedSql::lastModified)
        && query.next())
        return std::max(query.value(0).toLongLong(), query.value(1).toLongLong());
    return 0;
}

QList<Catalogue::SourceSummary> SqliteCatalogue::summary() const
{
    QList<SourceSummary> sources;
    QSqlQuery query(connection());
    query.setForwardOnly(true);
    if (!query.exec(SharedSql::sourceSummary))
        return sources;
    while (query.next()) {
        sources.append({ query.value(0).toString(), query.value(1).toLongLong(),
                         query.value(2).toLongLong(), query.value(3).toLongLong() });
    }
    return sources;
}

std::optional<Catalogue::TimeRange> SqliteCatalogue::timeRange() const
{
    QSqlQuery query(connection());
    query.setForwardOnly(true);
    if (!query.exec(SharedSql::timeRange) || !query.next()
        || query.value(0).isNull())
        return std::nullopt;
    return TimeRange { query.value(0).toLongLong(), query.value(1).toLongLong() };
}

std::optional<std::int64_t> SqliteCatalogue::lastFetched(const QString &upstream) const
{
    QSqlQuery query(connection());
    query.setForwardOnly(true);
    query.prepare(SharedSql::lastFetched);
    query.addBindValue(upstream);
    if (!query.exec() || !query.next() || query.value(0).isNull())
        return std::nullopt;
    return query.value(0).toLongLong();
}

bool SqliteCatalogue::isFetched(const QString &upstream, const UpstreamWindow &window, std::int64_t sinceUs) const
{
    const SharedSql::Statement statement = SharedSql::countFetched(upstream, window, sinceUs);
    QSqlQuery query(connection());
    query.setForwardOnly(true);
    query.prepare(statement.sql);
    for (const QVariant &value : statement.values)
        query.addBindValue(value);
    return query.exec() && query.next() && query.value(0).toLongLong() > 0;
}

namespace {

// A forward-only query of whole rows.
class SqlCursor : public Catalogue::Cursor
{
public:
    explicit SqlCursor(QSqlQuery query) : m_query(std::move(query)) {}

    bool next(EventRow &row) override
    {
        if (!m_query.isActive() || !m_query.next())
            return false;
        row = SqliteCatalogue::rowFrom(m_query);
        return true;
    }

    QString error() const override
    {
        return m_query.lastError().isValid() ? lastError(m_query) : QString();
    }

private:
    QSqlQuery m_query;
};

} // namespace

std::optional<SqliteCatalogue::CellTerm> SqliteCatalogue::fewInCells(const SearchRegion::Box &box,
                                                                        std::optional<std::int64_t> startUs,
                                                                        std::optional<std::int64_t> endUs) const
{
    if (!m_cellIndex)
        return std::nullopt;
    // The cells that the box touches, bounds included; too many to list
    // are left to the time index.
    constexpr int MostCells = 400;
    const auto row = [](double latitude) { return int(std::floor(std::clamp(latitude, -90.0, 90.0) + 90)); };
    const auto column = [](double longitude) { return int(std::floor(std::clamp(longitude, -180.0, 180.0) + 180)); };
    QStringList cells;
    const auto ranges = Geo::longitudeRanges(box.west, box.east);
    for (int r = row(box.south); r <= row(box.north); ++r) {
        for (const auto &[from, to] : ranges) {
            for (int c = column(from); c <= column(to); ++c)
                cells << QString::number(r * 361 + c);
        }
        if (cells.size() > MostCells)
            return std::nullopt;
    }
    CellTerm term;
    term.sql = QStringLiteral("%1 IN (%2)").arg(QLatin1String(cellOfEvent), cells.join(u','));
    if (startUs) {
        term.sql += QStringLiteral(" AND origin_time >= ?");
        term.values << qlonglong(*startUs);
    }
    if (endUs) {
        term.sql += QStringLiteral(" AND origin_time <= ?");
        term.values << qlonglong(*endUs);
    }
    // Counted in the index alone.
    QSqlQuery count(connection());
    count.setForwardOnly(true);
    count.prepare(QStringLiteral("SELECT COUNT(*) FROM (SELECT 1 FROM event INDEXED BY event_by_cell WHERE %1 LIMIT %2)")
                      .arg(term.sql).arg(CellIndexLimit + 1));
    for (const QVariant &value : term.values)
        count.addBindValue(value);
    if (!count.exec() || !count.next() || count.value(0).toInt() > CellIndexLimit)
        return std::nullopt;
    return term;
}

std::unique_ptr<Catalogue::Cursor> SqliteCatalogue::search(const EventFilter &search) const
{
    // The cells of the region's smallest envelope, if they hold few events;
    // the order is the time index's either way.
    std::optional<CellTerm> place;
    std::optional<SearchRegion::Box> smallest;
    for (const SearchRegion::Box &box : search.region.envelopes()) {
        if (!smallest || box.width() * (box.north - box.south) < smallest->width() * (smallest->north - smallest->south))
            smallest = box;
    }
    if (smallest)
        place = fewInCells(*smallest, search.startUs, search.endUs);
    QSqlQuery query(connection());
    query.setForwardOnly(true);
    query.prepare(QStringLiteral("SELECT %1 FROM event%2 WHERE %3%4 ORDER BY origin_time, magnitude, public_id")
                      .arg(SharedSql::eventColumns, place ? QStringLiteral(" INDEXED BY event_by_cell") : QString(), search.whereClause(),
                           place ? QStringLiteral(" AND ") + place->sql : QString()));
    for (const QVariant &value : search.bindings())
        query.addBindValue(value);
    if (place) {
        for (const QVariant &value : place->values)
            query.addBindValue(value);
    }
    query.exec();
    return keepInside(search, std::make_unique<SqlCursor>(std::move(query)));
}

std::unique_ptr<Catalogue::Cursor> SqliteCatalogue::select(const EventQuery &selection) const
{
    std::optional<CellTerm> place;
    if (selection.minLatitude || selection.maxLatitude || selection.minLongitude || selection.maxLongitude) {
        place = fewInCells({ selection.minLongitude.value_or(-180), selection.minLatitude.value_or(-90),
                             selection.maxLongitude.value_or(180), selection.maxLatitude.value_or(90) },
                           selection.startUs, selection.endUs);
    }
    const QString where = selection.whereClause();
    QSqlQuery query(connection());
    query.setForwardOnly(true);
    query.prepare(QStringLiteral("SELECT %1 FROM event%2%3%4%5")
                      .arg(SharedSql::eventColumns, place ? QStringLiteral(" INDEXED BY event_by_cell") : QString(), where,
                           place ? (where.isEmpty() ? QStringLiteral(" WHERE ") : QStringLiteral(" AND ")) + place->sql
                                 : QString(),
                           selection.orderClause()));
    for (const QVariant &value : selection.bindings())
        query.addBindValue(value);
    if (place) {
        for (const QVariant &value : place->values)
            query.addBindValue(value);
    }
    query.exec();
    return std::make_unique<SqlCursor>(std::move(query));
}

bool SqliteCatalogue::readTable(const Table &table, const std::function<bool(const QVariantList &)> &row,
                                QString *error) const
{
    QSqlQuery query(connection());
    query.setForwardOnly(true);
    if (!query.exec(SharedSql::selectTable(table.name, table.columns))) {
        *error = sqliteText(query.lastError());
        return false;
    }
    QVariantList values;
    while (query.next()) {
        values.clear();
        for (int column = 0; column < table.columns.size(); ++column)
            values << query.value(column);
        if (!row(values))
            return false;
    }
    if (query.lastError().isValid()) {
        *error = sqliteText(query.lastError());
        return false;
    }
    return true;
}

std::unique_ptr<Catalogue::Writer> SqliteCatalogue::writer(const QString &source) const
{
    return std::make_unique<SqliteCatalogueWriter>(*this, source);
}
