#include "catalogue/postgrescatalogue.h"

#include "catalogue/eventquery.h"
#include "catalogue/pgstatement.h"
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

using namespace PgStatement;

namespace {

// A row of a result as text, null for NULL.
struct TextFields
{
    std::vector<std::optional<QByteArray>> values;
    QString text(int i) const { return QString::fromUtf8(values[std::size_t(i)].value_or(QByteArray())); }
    qint64 whole(int i) const { return values[std::size_t(i)].value_or("0").toLongLong(); }
    std::optional<double> number(int i) const { return numberOf(values[std::size_t(i)]); }
    std::optional<int> count(int i) const
    {
        return values[std::size_t(i)] ? std::optional<int>(values[std::size_t(i)]->toInt()) : std::nullopt;
    }
};

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
            while (Result(PQgetResult(m_connection)))
                ;
        }
        m_catalogue.releaseRead(m_connection);
    }

    bool next(EventRow &row) override
    {
        if (m_done || !m_connection)
            return false;
        const Result result(PQgetResult(m_connection));
        const ExecStatusType status = result ? PQresultStatus(result.get()) : PGRES_TUPLES_OK;
        if (status == PGRES_SINGLE_TUPLE) {
            row = SqlCatalogue::eventRowOf(TextFields { rowOf(result.get(), 0) });
            return true;
        }
        if (status != PGRES_TUPLES_OK)
            m_error = QString::fromUtf8(PQresultErrorMessage(result.get())).simplified();
        while (Result(PQgetResult(m_connection)))
            ;
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

PostgresCatalogue::PostgresCatalogue(const QString &uri, const QString &readUri)
    : m_uri(uri)
    , m_primary(uri, shown(uri))
    , m_standby(readUri.isEmpty() ? nullptr : std::make_unique<Pool>(readUri, shown(readUri), true))
{
}

void PostgresCatalogue::keepSampling() const
{
    // From the first read on, the horizon is sampled every second however
    // quiet the gateway is: a poll after a quiet time is answered from a
    // sample near its time, not from the last one before the quiet.
    std::call_once(m_samplerStarted, [this] {
        m_sampler = std::thread([this] {
            std::unique_lock<std::mutex> lock(m_samplerMutex);
            while (!m_samplerStopping) {
                lock.unlock();
                sampleHorizon();
                lock.lock();
                m_samplerWake.wait_for(lock, std::chrono::seconds(1), [this] { return m_samplerStopping; });
            }
        });
    });
}

PostgresCatalogue::~PostgresCatalogue()
{
    if (m_sampler.joinable()) {
        {
            const std::lock_guard<std::mutex> lock(m_samplerMutex);
            m_samplerStopping = true;
        }
        m_samplerWake.notify_all();
        m_sampler.join();
    }
    stopListening();
}

QString PostgresCatalogue::name() const
{
    return m_standby ? QStringLiteral("%1 (reading %2)").arg(shown(m_uri), m_standby->name()) : shown(m_uri);
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

void PostgresCatalogue::narrow(SqlSelection &selection, const Place &place) const
{
    // A circle through the places' GiST index: great-circle on PostGIS's
    // sphere, a little wider than ours, which decides.
    if (place.circle) {
        selection.add(QStringLiteral("ST_DWithin(place, ST_SetSRID(ST_MakePoint(?, ?), 4326)::geography, ?, false)"),
                      { place.circle->centre.longitude, place.circle->centre.latitude,
                        place.circle->radiusKm * 1000 * 1.001 + 100 });
    }
}

EventQuery PostgresCatalogue::answerable(const EventQuery &query) const
{
    EventQuery asked = query;
    if (m_standby) {
        // What a standby replays late committed before a poll that could
        // not see it yet: a poll for what changed after T is given all
        // that committed after what this gateway's reads of T saw, a
        // second to spare for clocks.
        sampleHorizon();
        keepSampling();
        if (asked.updatedAfterUs) {
            constexpr std::int64_t spare = 1000000;
            asked.updatedAfterUs = std::min(*asked.updatedAfterUs, visibleHorizonAt(*asked.updatedAfterUs - spare) - spare);
        }
    }
    return asked;
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
    for (Result owned(read ? PQgetResult(connection) : nullptr); owned;
         owned.reset(read ? PQgetResult(connection) : nullptr)) {
        PGresult *result = owned.get();
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
    }
    while (Result(PQgetResult(connection)))
        ;
    releaseRead(connection);
    return read;
}

bool PostgresCatalogue::read(const QString &sql, const QVariantList &values, SqlRows *rows) const
{
    Rows got;
    QString error;
    if (!run(sql, values, &got, &error))
        return false;
    *rows = valuesOf(got);
    return true;
}

SqlRows PostgresCatalogue::valuesOf(const Rows &got)
{
    SqlRows rows;
    rows.affected = got.affected;
    rows.rows.reserve(got.rows.size());
    for (const auto &row : got.rows) {
        QVariantList fields;
        fields.reserve(qsizetype(row.size()));
        for (const std::optional<QByteArray> &value : row)
            fields << (value ? QVariant(QString::fromUtf8(*value)) : QVariant());
        rows.rows.push_back(std::move(fields));
    }
    return rows;
}

QString PostgresCatalogue::outlineStatement() const
{
    return QStringLiteral("SELECT FLOOR(longitude + 180), MIN(latitude), MAX(latitude)"
                          " FROM event WHERE latitude IS NOT NULL AND longitude IS NOT NULL GROUP BY 1 ORDER BY 1");
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

