#include "catalogue/sqlcataloguewriter.h"

#include "catalogue/sharedsql.h"
#include "catalogue/windows.h"

#include <QDateTime>

SqlCatalogueWriter::SqlCatalogueWriter(std::unique_ptr<SqlTransaction> transaction, const QString &source)
    : m_source(source)
    , m_transaction(std::move(transaction))
{
}

SqlCatalogueWriter::~SqlCatalogueWriter()
{
    if (m_inTransaction)
        rollback();
}

bool SqlCatalogueWriter::fail()
{
    m_error = m_transaction->error();
    return false;
}

bool SqlCatalogueWriter::run(const QString &sql, const QVariantList &values, SqlRows *rows)
{
    if (!flushRows())
        return false;
    return m_transaction->run(sql, values, rows) || fail();
}

bool SqlCatalogueWriter::begin()
{
    m_stamp = SharedSql::nextStamp();
    if (!m_transaction->begin())
        return fail();
    m_inTransaction = true;
    // Becomes visible with the rows; commit() notes when that was.
    if (!run(SharedSql::openChange, { qlonglong(m_stamp) })) {
        rollback();
        return false;
    }
    return true;
}

bool SqlCatalogueWriter::remove(const QString &publicId)
{
    // One that it wrote last passes to the source that claimed it most
    // recently, if any (which moves this source's claim to event_claim,
    // whence it is then removed); one that no other source holds goes.
    SqlRows gone;
    if (!run(SharedSql::handOver(), { qlonglong(m_stamp), publicId, m_source })
        || !run(SharedSql::deleteUnclaimedEvent, { publicId, m_source }, &gone))
        return false;
    m_removed += gone.affected > 0 ? 1 : 0;
    return run(SharedSql::deleteClaim, { publicId, m_source });
}

bool SqlCatalogueWriter::unseen(const UpstreamWindow &window, std::vector<Unseen> *events)
{
    const SharedSql::Statement statement = SharedSql::unseen(window, m_source, m_stamp);
    SqlRows found;
    if (!run(statement.sql, statement.values, &found))
        return false;
    // Only what lies in the region was asked for.
    const auto number = [](const QVariant &value) {
        return value.isNull() ? std::optional<double>() : std::optional<double>(value.toDouble());
    };
    for (const QVariantList &row : found.rows) {
        if (window.region.contains(number(row[2]), number(row[3]), number(row[4])))
            events->push_back({ row[0].toString(), row[1].toLongLong() });
    }
    return true;
}

bool SqlCatalogueWriter::removeSource(qint64 *count)
{
    // Events that other sources hold too pass to them; the rest go.
    SqlRows gone;
    if (!run(SharedSql::handOverAll(), { qlonglong(m_stamp), m_source })
        || !run(SharedSql::deleteSourceEvents, { m_source }, &gone))
        return false;
    *count = gone.affected;
    return run(SharedSql::deleteSourceClaims, { m_source });
}

bool SqlCatalogueWriter::recordFetched(const QString &upstream, const UpstreamWindow &window)
{
    const SharedSql::Statement statement
        = SharedSql::recordFetched(upstream, window, QDateTime::currentMSecsSinceEpoch() * 1000);
    return run(statement.sql, statement.values);
}

bool SqlCatalogueWriter::insertRow(const QString &table, const QStringList &columns, const QVariantList &values)
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

bool SqlCatalogueWriter::commit()
{
    const bool ready = flushRows() && beforeCommit();
    endRows();
    m_inTransaction = false;
    if (!ready || !m_transaction->commit()) {
        if (m_error.isEmpty())
            m_error = m_transaction->error();
        m_transaction->rollback();
        return false;
    }
    // The rows are visible from now on: a poll that did not see them was
    // answered before this time.
    m_transaction->runAfterCommit(SharedSql::closeChange,
                                  { qlonglong(QDateTime::currentMSecsSinceEpoch() * 1000 + 1), qlonglong(m_stamp) });
    return true;
}

void SqlCatalogueWriter::rollback()
{
    endRows();
    m_inTransaction = false;
    m_transaction->rollback();
}
