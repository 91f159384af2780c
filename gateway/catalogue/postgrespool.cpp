// The connections to the servers: a pool to each, the standby's checked to
// be one, and reads moved to the primary while the standby cannot answer.

#include "catalogue/pgstatement.h"
#include "catalogue/postgrescatalogue.h"

#include <QDateTime>

#include <algorithm>
#include <cstdio>

using namespace PgStatement;

QString PgStatement::shown(const QString &uri)
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

void PgStatement::say(const QString &line)
{
    std::fprintf(stderr, "harvix-gateway: %s\n", line.toLocal8Bit().constData());
}

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
        const Result owned(PQexec(connection, "SELECT pg_is_in_recovery(), pg_last_wal_receive_lsn() = pg_last_wal_replay_lsn(),"
                                          " (extract(epoch FROM pg_last_xact_replay_timestamp()) * 1000000)::bigint"));
        PGresult *result = owned.get();
        if (PQresultStatus(result) == PGRES_TUPLES_OK && PQntuples(result) == 1
            && QByteArray(PQgetvalue(result, 0, 0)) == "t" && QByteArray(PQgetvalue(result, 0, 1)) != "t")
            horizonUs = PQgetisnull(result, 0, 2) ? 0 : QByteArray(PQgetvalue(result, 0, 2)).toLongLong();
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

PostgresCatalogue::Pool::~Pool()
{
    for (PGconn *connection : m_idle)
        PQfinish(connection);
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
        const Result owned(PQexec(connection, "SELECT pg_is_in_recovery()"));
        PGresult *result = owned.get();
        const bool answered = PQresultStatus(result) == PGRES_TUPLES_OK && PQntuples(result) == 1;
        const bool standby = answered && QByteArray(PQgetvalue(result, 0, 0)) == "t";
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
    Result(PQexec(connection, "SET extra_float_digits = 1; SET TIME ZONE 'UTC'"));
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
    Result(PQexec(connection, ""));
    const bool alive = PQstatus(connection) == CONNECTION_OK;
    release(connection);
    return alive || isAvailable(why);
}

bool PostgresCatalogue::isAvailable(QString *why) const
{
    // Reads go to the primary while the standby is away.
    return (m_standby && m_standby->isAvailable(why)) || m_primary.isAvailable(why);
}
