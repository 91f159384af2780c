#include "catalogue/postgrescatalogue.h"

#include "catalogue/eventquery.h"
#include "catalogue/postgrescataloguewriter.h"
#include "catalogue/sharedsql.h"
#include "catalogue/windows.h"

#include <QDateTime>
#include <QUrl>

#include <libpq-fe.h>

#include <poll.h>

#include <cerrno>
#include <chrono>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <iterator>
#include <string_view>

namespace {

// The tables as SQLite has them, in PostgreSQL's words: text compared
// byte by byte (COLLATE "C"), as SQLite compares it, so that both order
// alike; a geography point of each event with a position, for PostGIS.
// The values of its event that each claim keeps, as its source wrote them
// (schema 2; a claim of schema 1 takes its event's).
const char claimValues[] =
    "ALTER TABLE event_claim ADD COLUMN IF NOT EXISTS origin_time BIGINT,"
    " ADD COLUMN IF NOT EXISTS latitude DOUBLE PRECISION, ADD COLUMN IF NOT EXISTS longitude DOUBLE PRECISION,"
    " ADD COLUMN IF NOT EXISTS depth DOUBLE PRECISION, ADD COLUMN IF NOT EXISTS magnitude DOUBLE PRECISION,"
    " ADD COLUMN IF NOT EXISTS magnitude_type TEXT COLLATE \"C\","
    " ADD COLUMN IF NOT EXISTS magnitude_station_count INTEGER, ADD COLUMN IF NOT EXISTS event_type TEXT COLLATE \"C\","
    " ADD COLUMN IF NOT EXISTS evaluation_mode TEXT COLLATE \"C\","
    " ADD COLUMN IF NOT EXISTS evaluation_status TEXT COLLATE \"C\"";
// A source that writes an event over another's takes the row; the other
// keeps its claim, with its values, in event_claim.
const QByteArray claimKept = "CREATE OR REPLACE FUNCTION event_claim_kept() RETURNS trigger LANGUAGE plpgsql AS $$ BEGIN"
                              " IF OLD.source <> NEW.source THEN " + SharedSql::claimKeptStatements()
    + " END IF; RETURN NEW; END $$";

const char *const schema[] = {
    "CREATE EXTENSION IF NOT EXISTS postgis",
    "CREATE TABLE catalogue_info ("
    " name TEXT COLLATE \"C\" PRIMARY KEY,"
    " value TEXT NOT NULL)",
    "CREATE TABLE event ("
    " public_id TEXT COLLATE \"C\" PRIMARY KEY,"
    " origin_time BIGINT NOT NULL,"
    " latitude DOUBLE PRECISION,"
    " longitude DOUBLE PRECISION,"
    " depth DOUBLE PRECISION,"
    " magnitude DOUBLE PRECISION,"
    " magnitude_type TEXT COLLATE \"C\","
    " magnitude_station_count INTEGER,"
    " event_type TEXT COLLATE \"C\","
    " evaluation_mode TEXT COLLATE \"C\","
    " evaluation_status TEXT COLLATE \"C\","
    " source TEXT COLLATE \"C\" NOT NULL,"
    " modified BIGINT NOT NULL,"
    " place geography(Point, 4326) GENERATED ALWAYS AS (CASE WHEN latitude IS NOT NULL AND longitude IS NOT NULL"
    " THEN ST_SetSRID(ST_MakePoint(longitude, latitude), 4326)::geography END) STORED)",
    "CREATE INDEX event_by_time ON event (origin_time, magnitude)",
    "CREATE INDEX event_by_place ON event USING GIST (place)",
    "CREATE INDEX event_by_magnitude ON event (magnitude)",
    "CREATE INDEX event_by_modified ON event (modified)",
    "CREATE INDEX event_by_source ON event (source)",
    "CREATE TABLE fetched_window ("
    " upstream TEXT COLLATE \"C\" NOT NULL,"
    " start_time BIGINT NOT NULL,"
    " end_time BIGINT NOT NULL,"
    " min_magnitude DOUBLE PRECISION,"
    " max_magnitude DOUBLE PRECISION,"
    " updated_after BIGINT,"
    " fetched BIGINT NOT NULL,"
    " region TEXT COLLATE \"C\")",
    "CREATE INDEX fetched_window_by_time ON fetched_window (upstream, start_time)",
    "CREATE TABLE event_claim ("
    " public_id TEXT COLLATE \"C\" NOT NULL,"
    " source TEXT COLLATE \"C\" NOT NULL,"
    " claimed BIGINT NOT NULL,"
    " PRIMARY KEY (public_id, source))",
    "CREATE INDEX event_claim_by_source ON event_claim (source)",
    claimValues,
    claimKept.constData(),
    "CREATE TRIGGER event_claim_kept BEFORE UPDATE OF source ON event FOR EACH ROW EXECUTE FUNCTION event_claim_kept()",
    "CREATE TABLE change_log ("
    " stamp BIGINT PRIMARY KEY,"
    " committed BIGINT)",
};

// Keys of the advisory locks that make one gateway at a time create the
// schema, and copy from upstreams.
constexpr long long SchemaLock = 0x4852565831LL;
constexpr long long SyncLockKey = 0x4852565832LL;

QString serverWords(const PGconn *connection)
{
    return QString::fromUtf8(PQerrorMessage(connection)).simplified();
}

QByteArray textOf(const QVariant &value)
{
    switch (value.typeId()) {
    case QMetaType::Double:
        return QByteArray::number(value.toDouble(), 'g', 17);
    case QMetaType::Float:
        return QByteArray::number(double(value.toFloat()), 'g', 17);
    case QMetaType::LongLong:
    case QMetaType::Int:
    case QMetaType::UInt:
    case QMetaType::ULongLong:
        return value.toByteArray();
    default:
        return value.toString().toUtf8();
    }
}

// A statement's values as libpq takes them: text, or null for NULL.
class Parameters
{
public:
    explicit Parameters(const QVariantList &values)
    {
        m_texts.reserve(std::size_t(values.size()));
        for (const QVariant &value : values) {
            m_texts.push_back(value.isNull() ? QByteArray() : textOf(value));
            m_pointers.push_back(value.isNull() ? nullptr : m_texts.back().constData());
        }
    }
    int count() const { return int(m_pointers.size()); }
    const char *const *values() const { return m_pointers.data(); }

private:
    std::vector<QByteArray> m_texts;
    std::vector<const char *> m_pointers;
};

// A row of a result as text, nothing for NULL.
std::vector<std::optional<QByteArray>> rowOf(const PGresult *result, int row)
{
    std::vector<std::optional<QByteArray>> values(std::size_t(PQnfields(result)));
    for (int column = 0; column < PQnfields(result); ++column) {
        if (!PQgetisnull(result, row, column))
            values[std::size_t(column)] = QByteArray(PQgetvalue(result, row, column), PQgetlength(result, row, column));
    }
    return values;
}

std::optional<double> numberOf(const std::optional<QByteArray> &text)
{
    return text ? std::optional<double>(text->toDouble()) : std::nullopt;
}

// Streams the rows of one statement, holding a connection of the pool
// until the last row or its end.
class PgCursor : public Catalogue::Cursor
{
public:
    PgCursor(const PostgresCatalogue &catalogue, PGconn *connection, QString error)
        : m_catalogue(catalogue)
        , m_connection(connection)
        , m_error(std::move(error))
    {
    }
    ~PgCursor() override
    {
        if (!m_connection)
            return;
        if (!m_done) {
            // Stop the server sending the rest, then read what is on its way.
            if (PGcancel *cancel = PQgetCancel(m_connection)) {
                char words[256];
                PQcancel(cancel, words, sizeof words);
                PQfreeCancel(cancel);
            }
            while (PGresult *rest = PQgetResult(m_connection))
                PQclear(rest);
        }
        m_catalogue.releaseRead(m_connection);
    }

    bool next(EventRow &row) override
    {
        if (m_done || !m_connection)
            return false;
        PGresult *result = PQgetResult(m_connection);
        const ExecStatusType status = result ? PQresultStatus(result) : PGRES_TUPLES_OK;
        if (status == PGRES_SINGLE_TUPLE) {
            row = PostgresCatalogue::rowFrom(rowOf(result, 0));
            PQclear(result);
            return true;
        }
        if (status != PGRES_TUPLES_OK)
            m_error = QString::fromUtf8(PQresultErrorMessage(result)).simplified();
        PQclear(result);
        while (PGresult *rest = PQgetResult(m_connection))
            PQclear(rest);
        m_done = true;
        return false;
    }
    QString error() const override { return m_error; }

private:
    const PostgresCatalogue &m_catalogue;
    PGconn *m_connection;
    QString m_error;
    bool m_done = false;
};

} // namespace

bool PostgresCatalogue::isDatabaseUri(const QString &text)
{
    return text.startsWith(QLatin1String("postgresql://")) || text.startsWith(QLatin1String("postgres://"));
}

namespace {

// What a message may say of a database: its user, hosts and ports, and
// name, read as libpq reads the URI; never a password, nor any other
// parameter, whatever the URI's form.
QString shown(const QString &uri)
{
    char *why = nullptr;
    PQconninfoOption *const options = PQconninfoParse(uri.toUtf8().constData(), &why);
    if (!options) {
        PQfreemem(why);
        return QStringLiteral("postgresql://(a URI that libpq cannot read)");
    }
    QString user, hosts, ports, database;
    for (const PQconninfoOption *option = options; option->keyword; ++option) {
        const QString value = option->val ? QString::fromUtf8(option->val) : QString();
        const std::string_view keyword = option->keyword;
        if (keyword == "user")
            user = value;
        else if (keyword == "host" || (keyword == "hostaddr" && hosts.isEmpty()))
            hosts = value;
        else if (keyword == "port")
            ports = value;
        else if (keyword == "dbname")
            database = value;
    }
    PQconninfoFree(options);
    // Each host with its own port, or the one port for all after the last.
    const QStringList hostList = hosts.split(u',');
    const QStringList portList = ports.split(u',');
    QStringList places;
    for (qsizetype i = 0; i < hostList.size(); ++i) {
        const QString port = portList.size() == hostList.size() ? portList[i]
            : portList.size() == 1 && i == hostList.size() - 1 ? portList[0]
                                                                 : QString();
        places << (port.isEmpty() ? hostList[i] : hostList[i] + u':' + port);
    }
    return QStringLiteral("postgresql://%1%2/%3")
        .arg(user.isEmpty() ? QString() : user + u'@', places.join(u','), database);
}

} // namespace

PostgresCatalogue::PostgresCatalogue(const QString &uri, const QString &readUri)
    : m_uri(uri)
    , m_primary(uri, shown(uri))
    , m_standby(readUri.isEmpty() ? nullptr : std::make_unique<Pool>(readUri, shown(readUri), true))
{
}

namespace {

// A line of the gateway's log, as its commands write them.
void say(const QString &line)
{
    std::fprintf(stderr, "harvix-gateway: %s\n", line.toLocal8Bit().constData());
}

} // namespace

void PostgresCatalogue::notice(void *, const char *message)
{
    say(QStringLiteral("the database says: %1").arg(QString::fromUtf8(message).simplified()));
}

PGconn *PostgresCatalogue::acquireRead(QString *error) const
{
    if (!m_standby)
        return m_primary.acquire(error);
    QString why;
    if (PGconn *connection = m_standby->acquire(&why)) {
        if (m_standbyAway.exchange(false))
            say(QStringLiteral("reading from the standby %1 again").arg(m_standby->name()));
        return connection;
    }
    if (!m_standbyAway.exchange(true))
        say(QStringLiteral("reading from the primary while the standby cannot be read: %1").arg(why));
    PGconn *connection = m_primary.acquire(error);
    if (connection) {
        const std::lock_guard<std::mutex> lock(m_lentMutex);
        m_lentFromPrimary.insert(connection);
    }
    return connection;
}

void PostgresCatalogue::releaseRead(PGconn *connection) const
{
    if (!connection)
        return;
    if (m_standby) {
        std::unique_lock<std::mutex> lock(m_lentMutex);
        if (!m_lentFromPrimary.erase(connection)) {
            lock.unlock();
            m_standby->release(connection);
            return;
        }
    }
    m_primary.release(connection);
}

void PostgresCatalogue::forgetRead(PGconn *connection) const
{
    const std::lock_guard<std::mutex> lock(m_lentMutex);
    m_lentFromPrimary.erase(connection);
}

void PostgresCatalogue::sampleHorizon() const
{
    const std::int64_t nowUs = QDateTime::currentMSecsSinceEpoch() * 1000;
    {
        const std::lock_guard<std::mutex> lock(m_horizonMutex);
        if (!m_horizons.empty() && nowUs - m_horizons.back().first < 1000000)
            return;
    }
    // A standby that has replayed all it received sees the primary as of
    // now; one that lags (paused, delayed, busy), as of its last replayed
    // commit. The primary sees all it committed.
    std::int64_t horizonUs = nowUs;
    if (m_standby) {
        QString why;
        PGconn *connection = acquireRead(&why);
        if (!connection)
            return;
        PGresult *result = PQexec(connection, "SELECT pg_is_in_recovery(), pg_last_wal_receive_lsn() = pg_last_wal_replay_lsn(),"
                                              " (extract(epoch FROM pg_last_xact_replay_timestamp()) * 1000000)::bigint");
        if (PQresultStatus(result) == PGRES_TUPLES_OK && PQntuples(result) == 1
            && QByteArray(PQgetvalue(result, 0, 0)) == "t" && QByteArray(PQgetvalue(result, 0, 1)) != "t")
            horizonUs = PQgetisnull(result, 0, 2) ? 0 : QByteArray(PQgetvalue(result, 0, 2)).toLongLong();
        PQclear(result);
        releaseRead(connection);
    }
    const std::lock_guard<std::mutex> lock(m_horizonMutex);
    m_horizons.emplace_back(nowUs, horizonUs);
    // Two days back is more than any client waits between polls.
    while (m_horizons.size() > 1 && m_horizons.front().first < nowUs - std::int64_t(2) * 86400 * 1000000)
        m_horizons.pop_front();
}

std::int64_t PostgresCatalogue::visibleHorizonAt(std::int64_t gatewayUs) const
{
    const std::lock_guard<std::mutex> lock(m_horizonMutex);
    const auto after = std::upper_bound(m_horizons.begin(), m_horizons.end(), gatewayUs,
                                        [](std::int64_t at, const std::pair<std::int64_t, std::int64_t> &sample) {
                                            return at < sample.first;
                                        });
    // Before the first sample this gateway cannot say: no later than what
    // its first reads saw.
    if (after == m_horizons.begin())
        return m_horizons.empty() ? gatewayUs : std::min(gatewayUs, m_horizons.front().second);
    return std::prev(after)->second;
}

PostgresCatalogue::~PostgresCatalogue()
{
    stopListening();
}

void PostgresCatalogue::startHearingOfChanges()
{
    if (!m_standby && !m_listener.joinable())
        m_listener = std::thread([this] { listen(); });
}

void PostgresCatalogue::stopListening()
{
    m_stopListening = true;
    if (m_listener.joinable())
        m_listener.join();
}

std::optional<std::uint64_t> PostgresCatalogue::changeSerial() const
{
    return m_listening ? std::optional<std::uint64_t>(m_changes.load()) : std::nullopt;
}

void PostgresCatalogue::listen()
{
    QString lastLogged;   // the change log's latest entry when last heard
    int backoffMs = 250;
    while (!m_stopListening) {
        QString error;
        PGconn *connection = m_primary.acquire(&error);
        Rows latest;
        if (!connection || !run(connection, QStringLiteral("LISTEN %1").arg(QLatin1String(Channel)), {}, nullptr, &error)
            || !run(connection, QStringLiteral("SELECT MAX(stamp), MAX(committed) FROM change_log"), {}, &latest, &error)) {
            if (connection)
                PQfinish(connection);
            // Not heard of while away: callers ask.
            m_listening = false;
            for (int waited = 0; waited < backoffMs && !m_stopListening; waited += 50)
                std::this_thread::sleep_for(std::chrono::milliseconds(50));
            backoffMs = std::min(backoffMs * 2, LongestRetryMs);
            continue;
        }
        backoffMs = 250;
        // What was committed while no one listened.
        const QString logged = latest.rows.empty() ? QString()
                                                   : QString::fromUtf8(latest.rows[0][0].value_or(QByteArray()) + '/'
                                                                       + latest.rows[0][1].value_or(QByteArray()));
        if (logged != lastLogged)
            ++m_changes;
        lastLogged = logged;
        m_listening = true;
        pollfd socket { PQsocket(connection), POLLIN, 0 };
        while (!m_stopListening && PQstatus(connection) == CONNECTION_OK) {
            if (poll(&socket, 1, 200) < 0 && errno != EINTR)
                break;
            if (!PQconsumeInput(connection))
                break;
            bool heard = false;
            while (PGnotify *notice = PQnotifies(connection)) {
                heard = true;
                PQfreemem(notice);
            }
            if (heard)
                ++m_changes;
        }
        m_listening = false;
        PQfinish(connection);
    }
}

PostgresCatalogue::Pool::~Pool()
{
    for (PGconn *connection : m_idle)
        PQfinish(connection);
}

QString PostgresCatalogue::name() const
{
    return m_standby ? QStringLiteral("%1 (reading %2)").arg(shown(m_uri), m_standby->name()) : shown(m_uri);
}

PGconn *PostgresCatalogue::Pool::acquire(QString *error) const
{
    // A pooled connection that fails the standby's check because it broke
    // is replaced once.
    for (int attempt = 0; attempt < 2; ++attempt) {
        PGconn *connection = nullptr;
        bool check = false;
        const qint64 nowMs = QDateTime::currentMSecsSinceEpoch();
        {
            const std::lock_guard<std::mutex> lock(m_mutex);
            if (!m_idle.empty()) {
                connection = m_idle.back();
                m_idle.pop_back();
                check = m_mustBeStandby && nowMs >= m_checkedAtMs + StandbyCheckMs;
            } else if (nowMs < m_retryAtMs) {
                // A database that is away is not asked again at once.
                *error = m_lastFailure;
                return nullptr;
            }
        }
        if (!connection) {
            connection = connect(error);
            if (!connection)
                return nullptr;
            check = m_mustBeStandby;
        }
        if (!check)
            return connection;
        PGresult *result = PQexec(connection, "SELECT pg_is_in_recovery()");
        const bool answered = PQresultStatus(result) == PGRES_TUPLES_OK && PQntuples(result) == 1;
        const bool standby = answered && QByteArray(PQgetvalue(result, 0, 0)) == "t";
        PQclear(result);
        if (standby) {
            const std::lock_guard<std::mutex> lock(m_mutex);
            m_checkedAtMs = nowMs;
            m_notStandby = false;
            return connection;
        }
        PQfinish(connection);
        if (!answered)
            continue;
        // Promoted (or never a standby): none of its connections is read.
        *error = QStringLiteral("%1 is not a standby (pg_is_in_recovery() is false): it was promoted, or is a primary")
                     .arg(m_name);
        const std::lock_guard<std::mutex> lock(m_mutex);
        for (PGconn *idle : m_idle)
            PQfinish(idle);
        m_idle.clear();
        m_notStandby = true;
        m_retryAtMs = nowMs + LongestRetryMs;
        m_lastFailure = *error;
        return nullptr;
    }
    *error = QStringLiteral("cannot read from %1 (its connections broke)").arg(m_name);
    return nullptr;
}

PGconn *PostgresCatalogue::Pool::connect(QString *error) const
{
    const QByteArray uri = m_uri.toUtf8();
    const char *const keys[] = { "dbname", "connect_timeout", "application_name", nullptr };
    const char *const values[] = { uri.constData(), "5", "harvix-gateway", nullptr };
    PGconn *connection = PQconnectdbParams(keys, values, 1);
    const std::lock_guard<std::mutex> lock(m_mutex);
    if (PQstatus(connection) != CONNECTION_OK) {
        *error = QStringLiteral("cannot connect to %1 (%2)").arg(m_name, serverWords(connection));
        PQfinish(connection);
        m_backoffMs = std::clamp(m_backoffMs * 2, 250, LongestRetryMs);
        m_retryAtMs = QDateTime::currentMSecsSinceEpoch() + m_backoffMs;
        m_lastFailure = *error;
        return nullptr;
    }
    m_backoffMs = 0;
    // What the server says outside a reply ("terminating connection due to
    // administrator command") goes to the gateway's log.
    PQsetNoticeProcessor(connection, &PostgresCatalogue::notice, nullptr);
    // Numbers as the shortest text that reads back exactly, times in UTC.
    PQclear(PQexec(connection, "SET extra_float_digits = 1; SET TIME ZONE 'UTC'"));
    return connection;
}

void PostgresCatalogue::Pool::release(PGconn *connection) const
{
    if (!connection)
        return;
    if (PQstatus(connection) != CONNECTION_OK || PQtransactionStatus(connection) != PQTRANS_IDLE) {
        PQfinish(connection);
        return;
    }
    const std::lock_guard<std::mutex> lock(m_mutex);
    m_idle.push_back(connection);
}

bool PostgresCatalogue::Pool::isAvailable(QString *why) const
{
    PGconn *connection = acquire(why);
    if (!connection)
        return false;
    // A pooled connection may have outlived its server.
    PQclear(PQexec(connection, ""));
    const bool alive = PQstatus(connection) == CONNECTION_OK;
    release(connection);
    return alive || isAvailable(why);
}

QByteArray PostgresCatalogue::numbered(const QString &sql)
{
    // Marks outside quotes; the portable SQL has no "?" in its literals.
    QByteArray out;
    const QByteArray in = sql.toUtf8();
    out.reserve(in.size() + 16);
    int mark = 0;
    bool quoted = false;
    for (const char c : in) {
        if (c == '\'')
            quoted = !quoted;
        if (c == '?' && !quoted)
            out += '$' + QByteArray::number(++mark);
        else
            out += c;
    }
    return out;
}

bool PostgresCatalogue::run(PGconn *connection, const QString &sql, const QVariantList &values, Rows *rows, QString *error,
                            QByteArray *sqlState)
{
    const Parameters parameters(values);
    PGresult *result = PQexecParams(connection, numbered(sql).constData(), parameters.count(), nullptr,
                                    parameters.values(), nullptr, nullptr, 0);
    const ExecStatusType status = PQresultStatus(result);
    if (status != PGRES_TUPLES_OK && status != PGRES_COMMAND_OK) {
        if (sqlState)
            *sqlState = QByteArray(PQresultErrorField(result, PG_DIAG_SQLSTATE));
        *error = QString::fromUtf8(PQresultErrorMessage(result)).simplified();
        if (error->isEmpty())
            *error = serverWords(connection);
        PQclear(result);
        return false;
    }
    if (rows) {
        rows->affected = QByteArray(PQcmdTuples(result)).toLongLong();
        rows->rows.clear();
        for (int r = 0; r < PQntuples(result); ++r)
            rows->rows.push_back(rowOf(result, r));
    }
    PQclear(result);
    return true;
}

bool PostgresCatalogue::run(const QString &sql, const QVariantList &values, Rows *rows, QString *error) const
{
    // A pooled connection that the server dropped (it restarted) is
    // replaced once.
    for (int attempt = 0; attempt < 2; ++attempt) {
        PGconn *connection = acquireRead(error);
        if (!connection)
            return false;
        const bool ran = run(connection, sql, values, rows, error);
        const bool broken = PQstatus(connection) != CONNECTION_OK;
        releaseRead(connection);
        if (ran || !broken)
            return ran;
    }
    return false;
}

std::optional<PostgresCatalogue::Rows> PostgresCatalogue::read(const QString &sql, const QVariantList &values) const
{
    Rows rows;
    QString error;
    if (!run(sql, values, &rows, &error))
        return std::nullopt;
    return rows;
}

bool PostgresCatalogue::isAvailable(QString *why) const
{
    // Reads go to the primary while the standby is away.
    return (m_standby && m_standby->isAvailable(why)) || m_primary.isAvailable(why);
}

bool PostgresCatalogue::open(QString *error)
{
    auto fail = [&](const QString &what) {
        *error = QStringLiteral("%1: %2").arg(name(), what);
        return false;
    };
    // A read server that is no standby would be read while writes go
    // elsewhere: refused. One that is away is read once it is back.
    if (m_standby) {
        QString why;
        if (PGconn *standby = m_standby->acquire(&why))
            m_standby->release(standby);
        else if (m_standby->isNotStandby())
            return fail(why);
    }
    PGconn *connection = acquire(error);
    if (!connection)
        return false;
    struct Give
    {
        const PostgresCatalogue *catalogue;
        PGconn *connection;
        ~Give() { catalogue->release(connection); }
    } give { this, connection };
    QString why;
    Rows rows;
    // One gateway at a time looks and, for an empty database, creates.
    if (!run(connection, QStringLiteral("BEGIN"), {}, nullptr, &why)
        || !run(connection, QStringLiteral("SELECT pg_advisory_xact_lock(%1)").arg(SchemaLock), {}, nullptr, &why)
        // The tables and views of the schema but an extension's own (PostGIS
        // puts spatial_ref_sys and two views there, made by a superuser).
        || !run(connection, QStringLiteral("SELECT c.relname FROM pg_class c JOIN pg_namespace n ON n.oid = c.relnamespace"
                                           " WHERE n.nspname = current_schema() AND c.relkind IN ('r', 'p', 'v', 'm', 'f')"
                                           " AND NOT EXISTS (SELECT 1 FROM pg_depend d WHERE d.classid = 'pg_class'::regclass"
                                           " AND d.objid = c.oid AND d.deptype = 'e') ORDER BY c.relname"),
                {}, &rows, &why)) {
        run(connection, QStringLiteral("ROLLBACK"), {}, nullptr, &why);
        return fail(why);
    }
    QStringList tables;
    for (const auto &row : rows.rows)
        tables << QString::fromUtf8(row[0].value_or(QByteArray()));
    if (tables.contains(QLatin1String("catalogue_info"))) {
        Rows version;
        if (!run(connection, SharedSql::selectSchemaVersion, {},
                 &version, &why)
            || version.rows.empty()) {
            run(connection, QStringLiteral("ROLLBACK"), {}, nullptr, &why);
            return fail(QStringLiteral("not a Harvix catalogue: it has no schema version"));
        }
        const int found = version.rows[0][0].value_or(QByteArray()).toInt();
        if (found > SchemaVersion) {
            run(connection, QStringLiteral("ROLLBACK"), {}, nullptr, &why);
            return fail(QStringLiteral("written by a newer harvix-gateway (schema %1; this one reads schema %2)")
                            .arg(found).arg(SchemaVersion));
        }
        // What came later, under the same lock.
        if (found < 2
            && (!run(connection, QLatin1String(claimValues), {}, nullptr, &why)
                || !run(connection, SharedSql::claimsTakeTheirEventsValues(), {}, nullptr, &why)
                || !run(connection, QString::fromLatin1(claimKept), {}, nullptr, &why)
                || !run(connection, QStringLiteral("UPDATE catalogue_info SET value = ? WHERE name = 'schema_version'"),
                        { QString::number(SchemaVersion) }, nullptr, &why))) {
            QString ignored;
            run(connection, QStringLiteral("ROLLBACK"), {}, nullptr, &ignored);
            return fail(QStringLiteral("cannot be brought up to date (%1)").arg(why));
        }
        // A writer that stopped between its commit and noting it: its
        // changes are visible (another's in progress are not), so they
        // are noted as committed now.
        run(connection, QStringLiteral("UPDATE change_log SET committed = ? WHERE committed IS NULL"),
            { qlonglong(QDateTime::currentMSecsSinceEpoch() * 1000) }, nullptr, &why);
        run(connection, QStringLiteral("COMMIT"), {}, nullptr, &why);
        return true;
    }
    if (!tables.isEmpty()) {
        run(connection, QStringLiteral("ROLLBACK"), {}, nullptr, &why);
        return fail(QStringLiteral("not a Harvix catalogue: a database of another program (tables %1); it was left "
                                   "as it is").arg(tables.mid(0, 5).join(QStringLiteral(", "))));
    }
    for (const char *statement : schema) {
        if (!run(connection, QLatin1String(statement), {}, nullptr, &why)) {
            QString ignored;
            run(connection, QStringLiteral("ROLLBACK"), {}, nullptr, &ignored);
            return fail(QStringLiteral("cannot be written (%1)").arg(why));
        }
    }
    if (!run(connection, SharedSql::insertSchemaVersion,
             { QString::number(SchemaVersion) }, nullptr, &why)
        || !run(connection, QStringLiteral("COMMIT"), {}, nullptr, &why)) {
        QString ignored;
        run(connection, QStringLiteral("ROLLBACK"), {}, nullptr, &ignored);
        return fail(QStringLiteral("cannot be written (%1)").arg(why));
    }
    return true;
}

EventRow PostgresCatalogue::rowFrom(const std::vector<std::optional<QByteArray>> &values)
{
    const auto text = [&](std::size_t i) { return QString::fromUtf8(values[i].value_or(QByteArray())); };
    EventRow row;
    row.publicId = text(0);
    row.originTimeUs = values[1].value_or(QByteArray("0")).toLongLong();
    row.latitude = numberOf(values[2]);
    row.longitude = numberOf(values[3]);
    row.depthKm = numberOf(values[4]);
    row.magnitude = numberOf(values[5]);
    row.magnitudeType = text(6);
    if (values[7])
        row.magnitudeStationCount = values[7]->toInt();
    row.eventType = text(8);
    row.evaluationMode = text(9);
    row.evaluationStatus = text(10);
    row.source = text(11);
    return row;
}

std::unique_ptr<Catalogue::Cursor> PostgresCatalogue::stream(const QString &sql, const QVariantList &values) const
{
    QString error;
    PGconn *connection = acquireRead(&error);
    if (!connection)
        return std::make_unique<PgCursor>(*this, nullptr, error);
    const Parameters parameters(values);
    if (!PQsendQueryParams(connection, numbered(sql).constData(), parameters.count(), nullptr,
                           parameters.values(), nullptr, nullptr, 0)
        || !PQsetSingleRowMode(connection)) {
        error = serverWords(connection);
        PQfinish(connection);
        forgetRead(connection);
        return std::make_unique<PgCursor>(*this, nullptr, error);
    }
    return std::make_unique<PgCursor>(*this, connection, QString());
}

std::unique_ptr<Catalogue::Cursor> PostgresCatalogue::search(const EventFilter &filter) const
{
    QString where = filter.whereClause();
    QVariantList values = filter.bindings();
    // A circle through the places' GiST index: great-circle on PostGIS's
    // sphere, a little wider than ours, which decides.
    if (const std::optional<SearchRegion::Circle> &circle = filter.region.circle) {
        where += QStringLiteral(" AND ST_DWithin(place, ST_SetSRID(ST_MakePoint(?, ?), 4326)::geography, ?, false)");
        values << circle->centre.longitude << circle->centre.latitude << circle->radiusKm * 1000 * 1.001 + 100;
    }
    // As the SQLite catalogue orders: by time, then magnitude (none first),
    // then id.
    return keepInside(filter, stream(QStringLiteral("SELECT %1 FROM event WHERE %2 ORDER BY origin_time,"
                                                    " magnitude NULLS FIRST, public_id")
                                         .arg(SharedSql::eventColumns, where),
                                     values));
}

std::unique_ptr<Catalogue::Cursor> PostgresCatalogue::select(const EventQuery &query) const
{
    EventQuery asked = query;
    if (m_standby) {
        // What a standby replays late committed before a poll that could
        // not see it yet: a poll for what changed after T is given all
        // that committed after what this gateway's reads of T saw, a
        // second to spare for clocks.
        sampleHorizon();
        if (asked.updatedAfterUs) {
            constexpr std::int64_t spare = 1000000;
            asked.updatedAfterUs = std::min(*asked.updatedAfterUs, visibleHorizonAt(*asked.updatedAfterUs - spare) - spare);
        }
    }
    return stream(QStringLiteral("SELECT %1 FROM event%2%3").arg(SharedSql::eventColumns, asked.whereClause(), asked.orderClause()),
                  asked.bindings());
}

std::unique_ptr<Catalogue::Writer> PostgresCatalogue::writer(const QString &source) const
{
    return std::make_unique<PostgresCatalogueWriter>(*this, source);
}

bool PostgresCatalogue::readTable(const Table &table, const std::function<bool(const QVariantList &)> &row,
                                  QString *error) const
{
    PGconn *connection = acquireRead(error);
    if (!connection)
        return false;
    bool read = true;
    if (!PQsendQuery(connection, SharedSql::selectTable(table.name, table.columns).toUtf8().constData())
        || !PQsetSingleRowMode(connection)) {
        *error = serverWords(connection);
        read = false;
    }
    QVariantList values;
    while (PGresult *result = read ? PQgetResult(connection) : nullptr) {
        const ExecStatusType status = PQresultStatus(result);
        if (status == PGRES_SINGLE_TUPLE) {
            values.clear();
            for (int column = 0; column < PQnfields(result); ++column) {
                const QByteArray text(PQgetvalue(result, 0, column), PQgetlength(result, 0, column));
                // Numbers as numbers: a copy keeps every digit.
                switch (PQgetisnull(result, 0, column) ? 0 : PQftype(result, column)) {
                case 0: values << QVariant(); break;
                case 20: case 21: case 23: values << QVariant(text.toLongLong()); break;
                case 700: case 701: values << QVariant(text.toDouble()); break;
                default: values << QVariant(QString::fromUtf8(text)); break;
                }
            }
            if (!row(values))
                read = false;
        } else if (status != PGRES_TUPLES_OK) {
            *error = QString::fromUtf8(PQresultErrorMessage(result)).simplified();
            read = false;
        }
        PQclear(result);
    }
    while (PGresult *rest = PQgetResult(connection))
        PQclear(rest);
    releaseRead(connection);
    return read;
}

std::unique_ptr<Catalogue::SyncLock> PostgresCatalogue::lockForSync() const
{
    class Held : public SyncLock
    {
    public:
        Held(const PostgresCatalogue &catalogue, PGconn *connection) : m_catalogue(catalogue), m_connection(connection) {}
        ~Held() override
        {
            // The session's lock goes with it, or with the connection.
            QString ignored;
            PostgresCatalogue::run(m_connection, QStringLiteral("SELECT pg_advisory_unlock(%1)").arg(SyncLockKey), {},
                                   nullptr, &ignored);
            m_catalogue.release(m_connection);
        }

    private:
        const PostgresCatalogue &m_catalogue;
        PGconn *m_connection;
    };
    QString error;
    PGconn *connection = acquire(&error);
    Rows rows;
    if (!connection
        || !run(connection, QStringLiteral("SELECT pg_try_advisory_lock(%1)").arg(SyncLockKey), {}, &rows, &error)
        || rows.rows.empty() || rows.rows[0][0] != QByteArray("t")) {
        release(connection);
        return nullptr;
    }
    return std::make_unique<Held>(*this, connection);
}

qint64 PostgresCatalogue::eventCount() const
{
    const std::optional<Rows> rows = read(SharedSql::countEvents);
    return rows && !rows->rows.empty() ? rows->rows[0][0].value_or("0").toLongLong() : 0;
}

qint64 PostgresCatalogue::lastModified() const
{
    const std::optional<Rows> rows
        = read(SharedSql::lastModified);
    if (!rows || rows->rows.empty())
        return 0;
    return std::max(rows->rows[0][0].value_or("0").toLongLong(), rows->rows[0][1].value_or("0").toLongLong());
}

std::optional<EventRow> PostgresCatalogue::find(const QString &publicId) const
{
    const std::optional<Rows> rows = read(SharedSql::findEvent(),
                                          { publicId });
    if (!rows || rows->rows.empty())
        return std::nullopt;
    return rowFrom(rows->rows[0]);
}

QList<Catalogue::SourceSummary> PostgresCatalogue::summary() const
{
    QList<SourceSummary> sources;
    const std::optional<Rows> rows = read(SharedSql::sourceSummary);
    for (const auto &row : rows ? rows->rows : decltype(rows->rows)()) {
        sources.append({ QString::fromUtf8(row[0].value_or(QByteArray())), row[1].value_or("0").toLongLong(),
                         row[2].value_or("0").toLongLong(), row[3].value_or("0").toLongLong() });
    }
    return sources;
}

std::optional<Catalogue::TimeRange> PostgresCatalogue::timeRange() const
{
    const std::optional<Rows> rows = read(SharedSql::timeRange);
    if (!rows || rows->rows.empty() || !rows->rows[0][0])
        return std::nullopt;
    return TimeRange { rows->rows[0][0]->toLongLong(), rows->rows[0][1].value_or("0").toLongLong() };
}

std::vector<GeoPoint> PostgresCatalogue::outline() const
{
    std::vector<GeoPoint> points;
    const std::optional<Rows> rows = read(QStringLiteral("SELECT FLOOR(longitude + 180), MIN(latitude), MAX(latitude)"
                                                         " FROM event WHERE latitude IS NOT NULL AND longitude IS NOT NULL"
                                                         " GROUP BY 1 ORDER BY 1"));
    for (const auto &row : rows ? rows->rows : decltype(rows->rows)()) {
        const double west = row[0].value_or("0").toDouble() - 180;
        for (const double longitude : { west, std::min(west + 1, 180.0) }) {
            points.push_back({ row[1].value_or("0").toDouble(), longitude });
            points.push_back({ row[2].value_or("0").toDouble(), longitude });
        }
    }
    return points;
}

std::optional<std::int64_t> PostgresCatalogue::lastFetched(const QString &upstream) const
{
    const std::optional<Rows> rows
        = read(SharedSql::lastFetched, { upstream });
    if (!rows || rows->rows.empty() || !rows->rows[0][0])
        return std::nullopt;
    return rows->rows[0][0]->toLongLong();
}

bool PostgresCatalogue::isFetched(const QString &upstream, const UpstreamWindow &window, std::int64_t sinceUs) const
{
    const SharedSql::Statement statement = SharedSql::countFetched(upstream, window, sinceUs);
    const std::optional<Rows> rows = read(statement.sql, statement.values);
    return rows && !rows->rows.empty() && rows->rows[0][0].value_or("0").toLongLong() > 0;
}
