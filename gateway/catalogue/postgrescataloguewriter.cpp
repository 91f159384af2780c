#include "catalogue/postgrescataloguewriter.h"

#include "catalogue/postgrescatalogue.h"
#include "catalogue/eventcolumns.h"
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
    QVariantList values = { row.publicId };
    values.reserve(int(EventColumns::all().size()) + 3);
    EventColumns::bind(row, values);
    values << m_source << qlonglong(m_stamp);
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
    static const QString row = u'(' + QStringList(qsizetype(EventColumns::all().size()) + 3, QStringLiteral("?")).join(QStringLiteral(", ")) + u')';
    QStringList rows;
    QVariantList values;
    values.reserve(qsizetype(m_waiting.size() * (EventColumns::all().size() + 3)));
    for (const QVariantList &waiting : m_waiting) {
        rows << row;
        values << waiting;
    }
    const std::vector<QVariantList> batch = std::move(m_waiting);
    const QHash<QString, std::size_t> batchAt = std::move(m_waitingAt);
    m_waiting.clear();
    m_waitingAt.clear();
    static const QString upsert = QStringLiteral(
        "INSERT INTO event (public_id, %2, source, modified) VALUES %1 ON CONFLICT (public_id) DO UPDATE SET %3,"
        " source = excluded.source, modified = excluded.modified WHERE (%4, event.source) IS DISTINCT FROM (%5,"
        " excluded.source) RETURNING xmax = 0, public_id")
        .arg(QStringLiteral("%1"), EventColumns::names(), EventColumns::assignedFrom("excluded."),
             EventColumns::names("event."), EventColumns::names("excluded."));
    SqlRows inserted;
    if (!transaction().run(
            upsert.arg(rows.join(QStringLiteral(", "))),
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
