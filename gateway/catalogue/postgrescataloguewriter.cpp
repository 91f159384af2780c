#include "catalogue/postgrescataloguewriter.h"

#include "catalogue/postgrescatalogue.h"
#include "catalogue/sharedsql.h"
#include "catalogue/windows.h"

#include <QDateTime>

PostgresCatalogueWriter::PostgresCatalogueWriter(const PostgresCatalogue &catalogue, const QString &source)
    : m_catalogue(catalogue)
    , m_source(source)
{
}

PostgresCatalogueWriter::~PostgresCatalogueWriter()
{
    if (m_inTransaction)
        rollback();
    m_catalogue.release(m_connection);
}

bool PostgresCatalogueWriter::run(const QString &sql, const QVariantList &values, qint64 *affected)
{
    if (!flush())
        return false;
    PostgresCatalogue::Rows rows;
    if (!PostgresCatalogue::run(m_connection, sql, values, &rows, &m_error, &m_sqlState))
        return false;
    if (affected)
        *affected = rows.affected;
    return true;
}

bool PostgresCatalogueWriter::flush()
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
    PostgresCatalogue::Rows inserted;
    if (!PostgresCatalogue::run(
            m_connection,
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
            values, &inserted, &m_error, &m_sqlState))
        return false;
    for (const auto &result : inserted.rows)
        ++(result[0] == QByteArray("t") ? m_added : m_updated);
    if (inserted.rows.size() == batch.size())
        return true;
    // The rows not returned were the same as before.
    std::vector<bool> returned(batch.size(), false);
    for (const auto &result : inserted.rows)
        returned[batchAt.value(QString::fromUtf8(result[1].value_or(QByteArray())))] = true;
    QVariantList touched { qlonglong(m_stamp) };
    for (std::size_t i = 0; i < batch.size(); ++i) {
        if (!returned[i])
            touched << batch[i][0];
    }
    return PostgresCatalogue::run(m_connection,
                                  QStringLiteral("UPDATE event SET modified = ? WHERE public_id IN (%1)")
                                      .arg(QStringList(touched.size() - 1, QStringLiteral("?")).join(QStringLiteral(", "))),
                                  touched, nullptr, &m_error, &m_sqlState);
}

bool PostgresCatalogueWriter::begin()
{
    if (!m_connection && !(m_connection = m_catalogue.acquire(&m_error)))
        return false;
    m_stamp = SharedSql::nextStamp();
    if (!run(QStringLiteral("BEGIN"), {}))
        return false;
    m_inTransaction = true;
    // Becomes visible with the rows; commit() notes when that was.
    if (!run(SharedSql::openChange, { qlonglong(m_stamp) })) {
        rollback();
        return false;
    }
    return true;
}

bool PostgresCatalogueWriter::write(const EventRow &row)
{
    constexpr std::size_t Batch = 1000;
    QVariantList values = { row.publicId, qlonglong(row.originTimeUs), SharedSql::orNull(row.latitude),
                            SharedSql::orNull(SharedSql::storedLongitude(row.longitude)), SharedSql::orNull(row.depthKm),
                            SharedSql::orNull(row.magnitude), SharedSql::orNull(row.magnitudeType), SharedSql::orNull(row.magnitudeStationCount),
                            SharedSql::orNull(row.eventType), SharedSql::orNull(row.evaluationMode), SharedSql::orNull(row.evaluationStatus),
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
    return m_waiting.size() < Batch || flush();
}

bool PostgresCatalogueWriter::remove(const QString &publicId)
{
    qint64 gone = 0;
    if (!run(SharedSql::handOver(), { qlonglong(m_stamp), publicId, m_source })
        || !run(SharedSql::deleteUnclaimedEvent, { publicId, m_source }, &gone))
        return false;
    m_removed += gone > 0 ? 1 : 0;
    return run(SharedSql::deleteClaim, { publicId, m_source });
}

bool PostgresCatalogueWriter::unseen(const UpstreamWindow &window, std::vector<Unseen> *events)
{
    const SharedSql::Statement statement = SharedSql::unseen(window, m_source, m_stamp);
    PostgresCatalogue::Rows rows;
    if (!flush() || !PostgresCatalogue::run(m_connection, statement.sql, statement.values, &rows, &m_error))
        return false;
    const auto number = [](const std::optional<QByteArray> &text) {
        return text ? std::optional<double>(text->toDouble()) : std::nullopt;
    };
    for (const auto &row : rows.rows) {
        if (window.region.contains(number(row[2]), number(row[3]), number(row[4])))
            events->push_back({ QString::fromUtf8(row[0].value_or(QByteArray())), row[1].value_or("0").toLongLong() });
    }
    return true;
}

bool PostgresCatalogueWriter::removeSource(qint64 *count)
{
    return run(SharedSql::handOverAll(), { qlonglong(m_stamp), m_source })
        && run(SharedSql::deleteSourceEvents, { m_source }, count)
        && run(SharedSql::deleteSourceClaims, { m_source });
}

bool PostgresCatalogueWriter::recordFetched(const QString &upstream, const UpstreamWindow &window)
{
    const SharedSql::Statement statement
        = SharedSql::recordFetched(upstream, window, QDateTime::currentMSecsSinceEpoch() * 1000);
    return run(statement.sql, statement.values);
}

bool PostgresCatalogueWriter::holdOtherBulkWritesOff()
{
    // A lock of the transaction's: let go at its commit or rollback.
    return run(QStringLiteral("SELECT pg_advisory_xact_lock(%1)").arg(PostgresCatalogue::BulkWriteLock), {});
}

bool PostgresCatalogueWriter::mayRetry() const
{
    // Chosen as a deadlock's victim, or a serialisation failure: the same
    // transaction again may well succeed.
    return m_sqlState == "40P01" || m_sqlState == "40001";
}

bool PostgresCatalogueWriter::insertRow(const QString &table, const QStringList &columns, const QVariantList &values)
{
    // A copied event is a change of this catalogue, seen by updatedafter
    // from this commit on: it takes this transaction's stamp.
    QVariantList copied = values;
    if (const qsizetype modified = columns.indexOf(QStringLiteral("modified")); table == QLatin1String("event") && modified >= 0)
        copied[modified] = qlonglong(m_stamp);
    if (!run(SharedSql::insertRow(table, columns), copied))
        return false;
    m_added += table == QLatin1String("event") ? 1 : 0;
    return true;
}

bool PostgresCatalogueWriter::commit()
{
    m_inTransaction = false;
    // Every listening gateway hears of it when it commits.
    if (!flush() || !run(QStringLiteral("NOTIFY %1").arg(QLatin1String(PostgresCatalogue::Channel)), {})
        || !run(QStringLiteral("COMMIT"), {})) {
        QString ignored;
        PostgresCatalogue::run(m_connection, QStringLiteral("ROLLBACK"), {}, nullptr, &ignored);
        return false;
    }
    // Visible from now on; should the note be lost, nothing waits on it.
    QString ignored;
    PostgresCatalogue::run(m_connection, SharedSql::closeChange,
                           { qlonglong(QDateTime::currentMSecsSinceEpoch() * 1000 + 1), qlonglong(m_stamp) }, nullptr,
                           &ignored);
    return true;
}

void PostgresCatalogueWriter::rollback()
{
    m_inTransaction = false;
    m_waiting.clear();
    m_waitingAt.clear();
    if (m_connection) {
        QString ignored;
        PostgresCatalogue::run(m_connection, QStringLiteral("ROLLBACK"), {}, nullptr, &ignored);
    }
}
