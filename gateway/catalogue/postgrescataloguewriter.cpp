#include "catalogue/postgrescataloguewriter.h"

#include "catalogue/postgrescatalogue.h"
#include "catalogue/sharedsql.h"

#include <libpq-fe.h>

PostgresTransaction::~PostgresTransaction()
{
    m_catalogue.release(m_connection);
}

bool PostgresTransaction::begin()
{
    if (!m_connection && !(m_connection = m_catalogue.acquire(&m_error)))
        return false;
    return run(QStringLiteral("BEGIN"), {});
}

bool PostgresTransaction::run(const QString &sql, const QVariantList &values, SqlRows *rows)
{
    PostgresCatalogue::Rows got;
    if (!PostgresCatalogue::run(m_connection, sql, values, rows ? &got : nullptr, &m_error, &m_sqlState))
        return false;
    if (rows)
        *rows = PostgresCatalogue::valuesOf(got);
    return true;
}

bool PostgresTransaction::commit()
{
    return run(QStringLiteral("COMMIT"), {});
}

void PostgresTransaction::rollback()
{
    if (!m_connection)
        return;
    QString ignored;
    PostgresCatalogue::run(m_connection, QStringLiteral("ROLLBACK"), {}, nullptr, &ignored);
}

void PostgresTransaction::runAfterCommit(const QString &sql, const QVariantList &values)
{
    QString ignored;
    PostgresCatalogue::run(m_connection, sql, values, nullptr, &ignored);
}

bool PostgresTransaction::mayRetry() const
{
    // Chosen as a deadlock's victim, or a serialisation failure: the same
    // transaction again may well succeed.
    return m_sqlState == "40P01" || m_sqlState == "40001";
}

PostgresCatalogueWriter::PostgresCatalogueWriter(const PostgresCatalogue &catalogue, const QString &source)
    : SqlCatalogueWriter(std::make_unique<PostgresTransaction>(catalogue), source)
{
}

bool PostgresCatalogueWriter::holdOtherBulkWritesOff()
{
    // A lock of the transaction's: let go at its commit or rollback.
    return run(QStringLiteral("SELECT pg_advisory_xact_lock(%1)").arg(PostgresCatalogue::BulkWriteLock), {});
}

bool PostgresCatalogueWriter::write(const EventRow &row)
{
    constexpr std::size_t Batch = 1000;
    QVariantList values = { row.publicId, qlonglong(row.originTimeUs), SharedSql::orNull(row.latitude),
                            SharedSql::orNull(SharedSql::storedLongitude(row.longitude)), SharedSql::orNull(row.depthKm),
                            SharedSql::orNull(row.magnitude), SharedSql::orNull(row.magnitudeType),
                            SharedSql::orNull(row.magnitudeStationCount), SharedSql::orNull(row.eventType),
                            SharedSql::orNull(row.evaluationMode), SharedSql::orNull(row.evaluationStatus),
                            m_source, qlonglong(m_stamp) };
    // An id written again before its batch went replaces the row waiting:
    // to the catalogue, the second write is an update.
    if (const auto waiting = m_waitingAt.constFind(row.publicId); waiting != m_waitingAt.constEnd()) {
        if (m_waiting[*waiting] != values)
            ++m_updated;
        m_waiting[*waiting] = std::move(values);
        return true;
    }
    m_waitingAt.insert(row.publicId, m_waiting.size());
    m_waiting.push_back(std::move(values));
    return m_waiting.size() < Batch || flushRows();
}

bool PostgresCatalogueWriter::flushRows()
{
    if (m_waiting.empty())
        return true;
    // One upsert for the batch; xmax is 0 for a row that is new. A row
    // whose values are all the same is not updated, only marked as written
    // again after it, and is not counted. The trigger event_claim_kept keeps
    // the claim of a source written over.
    static const QString row = QStringLiteral("(?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?)");
    QStringList rows;
    QVariantList values;
    values.reserve(qsizetype(m_waiting.size()) * 13);
    for (const QVariantList &waiting : m_waiting) {
        rows << row;
        values << waiting;
    }
    const std::vector<QVariantList> batch = std::move(m_waiting);
    const QHash<QString, std::size_t> batchAt = std::move(m_waitingAt);
    m_waiting.clear();
    m_waitingAt.clear();
    SqlRows inserted;
    if (!transaction().run(
            QStringLiteral("INSERT INTO event (public_id, origin_time, latitude, longitude, depth, magnitude, magnitude_type,"
                           " magnitude_station_count, event_type, evaluation_mode, evaluation_status, source, modified)"
                           " VALUES %1 ON CONFLICT (public_id) DO UPDATE SET"
                           " origin_time = excluded.origin_time, latitude = excluded.latitude,"
                           " longitude = excluded.longitude, depth = excluded.depth, magnitude = excluded.magnitude,"
                           " magnitude_type = excluded.magnitude_type,"
                           " magnitude_station_count = excluded.magnitude_station_count,"
                           " event_type = excluded.event_type, evaluation_mode = excluded.evaluation_mode,"
                           " evaluation_status = excluded.evaluation_status, source = excluded.source,"
                           " modified = excluded.modified WHERE (event.origin_time, event.latitude, event.longitude,"
                           " event.depth, event.magnitude, event.magnitude_type, event.magnitude_station_count,"
                           " event.event_type, event.evaluation_mode, event.evaluation_status, event.source)"
                           " IS DISTINCT FROM (excluded.origin_time, excluded.latitude, excluded.longitude,"
                           " excluded.depth, excluded.magnitude, excluded.magnitude_type,"
                           " excluded.magnitude_station_count, excluded.event_type, excluded.evaluation_mode,"
                           " excluded.evaluation_status, excluded.source) RETURNING xmax = 0, public_id")
                .arg(rows.join(QStringLiteral(", "))),
            values, &inserted))
        return fail();
    for (const QVariantList &result : inserted.rows)
        ++(result[0].toString() == QLatin1String("t") ? m_added : m_updated);
    if (inserted.rows.size() == batch.size())
        return true;
    // The rows not returned were the same as before.
    std::vector<bool> returned(batch.size(), false);
    for (const QVariantList &result : inserted.rows)
        returned[batchAt.value(result[1].toString())] = true;
    QVariantList touched { qlonglong(m_stamp) };
    for (std::size_t i = 0; i < batch.size(); ++i) {
        if (!returned[i])
            touched << batch[i][0];
    }
    return transaction().run(QStringLiteral("UPDATE event SET modified = ? WHERE public_id IN (%1)")
                                 .arg(QStringList(touched.size() - 1, QStringLiteral("?")).join(QStringLiteral(", "))),
                             touched)
        || fail();
}

void PostgresCatalogueWriter::endRows()
{
    m_waiting.clear();
    m_waitingAt.clear();
}

bool PostgresCatalogueWriter::beforeCommit()
{
    // Every listening gateway hears of it when it commits.
    return run(QStringLiteral("NOTIFY %1").arg(QLatin1String(PostgresCatalogue::Channel)), {});
}
