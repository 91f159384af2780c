#include "catalogue/sqlitecataloguewriter.h"

#include "catalogue/sharedsql.h"
#include "catalogue/sqlitecatalogue.h"
#include "catalogue/windows.h"

#include <QDateTime>
#include <QSqlError>
#include <QVariant>


SqliteCatalogueWriter::SqliteCatalogueWriter(const SqliteCatalogue &catalogue, const QString &source)
    : m_db(catalogue.connection())
    , m_source(source)
    , m_update(m_db)
    , m_touch(m_db)
    , m_insert(m_db)
    , m_unclaim(m_db)
    , m_removeUnclaimed(m_db)
    , m_handOver(m_db)
{
}

SqliteCatalogueWriter::~SqliteCatalogueWriter()
{
    if (m_inTransaction)
        rollback();
}

namespace {

// SQLite's own words ("database or disk is full"), without Qt's additions.
QString wordsOf(const QSqlError &error)
{
    const QString text = error.databaseText().simplified();
    return text.isEmpty() ? error.text().simplified() : text;
}

} // namespace

bool SqliteCatalogueWriter::fail(const QSqlQuery &query)
{
    m_error = wordsOf(query.lastError());
    return false;
}

bool SqliteCatalogueWriter::exec(QSqlQuery &query, const QVariantList &values)
{
    for (int i = 0; i < values.size(); ++i)
        query.bindValue(i, values[i]);
    return query.exec() || fail(query);
}

bool SqliteCatalogueWriter::begin()
{
    // Portable upsert: an UPDATE of a row whose values differ, else one that
    // only marks the row as written again, else an INSERT. Only the first
    // counts as updated.
    if (!m_update.prepare(QStringLiteral(
            "UPDATE event SET origin_time = ?, latitude = ?, longitude = ?, depth = ?, magnitude = ?,"
            " magnitude_type = ?, magnitude_station_count = ?, event_type = ?, evaluation_mode = ?,"
            " evaluation_status = ?, source = ?, modified = ? WHERE public_id = ? AND (origin_time IS NOT ?"
            " OR latitude IS NOT ? OR longitude IS NOT ? OR depth IS NOT ? OR magnitude IS NOT ?"
            " OR magnitude_type IS NOT ? OR magnitude_station_count IS NOT ? OR event_type IS NOT ?"
            " OR evaluation_mode IS NOT ? OR evaluation_status IS NOT ? OR source IS NOT ?)")))
        return fail(m_update);
    if (!m_touch.prepare(QStringLiteral("UPDATE event SET modified = ? WHERE public_id = ?")))
        return fail(m_touch);
    if (!m_insert.prepare(QStringLiteral(
            "INSERT INTO event (origin_time, latitude, longitude, depth, magnitude, magnitude_type,"
            " magnitude_station_count, event_type, evaluation_mode, evaluation_status, source, modified,"
            " public_id) VALUES (?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?)")))
        return fail(m_insert);
    // A source lets go of an event: one that it wrote last passes to the
    // source that claimed it most recently, if any (which moves this
    // source's claim to event_claim, whence it is then removed); one that
    // no other source holds goes.
    if (!m_handOver.prepare(SharedSql::handOver()))
        return fail(m_handOver);
    if (!m_removeUnclaimed.prepare(SharedSql::deleteUnclaimedEvent))
        return fail(m_removeUnclaimed);
    if (!m_unclaim.prepare(SharedSql::deleteClaim))
        return fail(m_unclaim);
    // Every transaction marks its rows with a time of its own, so that
    // unseen() tells them apart from all others.
    m_modifiedUs = SharedSql::nextStamp();
    if (!m_db.transaction()) {
        m_error = wordsOf(m_db.lastError());
        return false;
    }
    m_inTransaction = true;
    // Becomes visible with the rows; commit() notes when that was.
    QSqlQuery log(m_db);
    log.prepare(SharedSql::openChange);
    if (!exec(log, { qlonglong(m_modifiedUs) })) {
        rollback();
        return false;
    }
    return true;
}

void SqliteCatalogueWriter::bindRow(QSqlQuery &query, const EventRow &row)
{
    query.bindValue(0, qlonglong(row.originTimeUs));
    query.bindValue(1, SharedSql::orNull(row.latitude));
    query.bindValue(2, SharedSql::orNull(SharedSql::storedLongitude(row.longitude)));
    query.bindValue(3, SharedSql::orNull(row.depthKm));
    query.bindValue(4, SharedSql::orNull(row.magnitude));
    query.bindValue(5, SharedSql::orNull(row.magnitudeType));
    query.bindValue(6, SharedSql::orNull(row.magnitudeStationCount));
    query.bindValue(7, SharedSql::orNull(row.eventType));
    query.bindValue(8, SharedSql::orNull(row.evaluationMode));
    query.bindValue(9, SharedSql::orNull(row.evaluationStatus));
    query.bindValue(12, row.publicId);
}

bool SqliteCatalogueWriter::write(const EventRow &row)
{
    // The row is this source's now; the trigger event_claim_kept keeps the
    // claim of the source that wrote it before.
    bindRow(m_update, row);
    m_update.bindValue(10, m_source);
    m_update.bindValue(11, qlonglong(m_modifiedUs));
    // The values again, each compared with the row's.
    for (int i = 0; i <= 10; ++i)
        m_update.bindValue(13 + i, m_update.boundValue(i));
    if (!m_update.exec())
        return fail(m_update);
    if (m_update.numRowsAffected() > 0) {
        ++m_updated;
        return true;
    }
    if (!exec(m_touch, { qlonglong(m_modifiedUs), row.publicId }))
        return false;
    if (m_touch.numRowsAffected() > 0)
        return true;
    bindRow(m_insert, row);
    m_insert.bindValue(10, m_source);
    m_insert.bindValue(11, qlonglong(m_modifiedUs));
    if (!m_insert.exec())
        return fail(m_insert);
    ++m_added;
    return true;
}

bool SqliteCatalogueWriter::remove(const QString &publicId)
{
    if (!exec(m_handOver, { qlonglong(m_modifiedUs), publicId, m_source })
        || !exec(m_removeUnclaimed, { publicId, m_source }))
        return false;
    m_removed += m_removeUnclaimed.numRowsAffected() > 0 ? 1 : 0;
    return exec(m_unclaim, { publicId, m_source });
}

bool SqliteCatalogueWriter::unseen(const UpstreamWindow &window, std::vector<Unseen> *events)
{
    const SharedSql::Statement statement = SharedSql::unseen(window, m_source, m_modifiedUs);
    QSqlQuery query(m_db);
    query.setForwardOnly(true);
    query.prepare(statement.sql);
    if (!exec(query, statement.values))
        return false;
    // Only what lies in the region was asked for.
    const auto number = [&query](int column) {
        const QVariant value = query.value(column);
        return value.isNull() ? std::optional<double>() : std::optional<double>(value.toDouble());
    };
    while (query.next()) {
        if (window.region.contains(number(2), number(3), number(4)))
            events->push_back({ query.value(0).toString(), query.value(1).toLongLong() });
    }
    return true;
}

bool SqliteCatalogueWriter::removeSource(qint64 *count)
{
    QSqlQuery query(m_db);
    // Events that other sources hold too pass to them; the rest go.
    query.prepare(SharedSql::handOverAll());
    if (!exec(query, { qlonglong(m_modifiedUs), m_source }))
        return false;
    query.prepare(SharedSql::deleteSourceEvents);
    if (!exec(query, { m_source }))
        return false;
    *count = query.numRowsAffected();
    query.prepare(SharedSql::deleteSourceClaims);
    return exec(query, { m_source });
}

bool SqliteCatalogueWriter::recordFetched(const QString &upstream, const UpstreamWindow &window)
{
    const SharedSql::Statement statement
        = SharedSql::recordFetched(upstream, window, QDateTime::currentMSecsSinceEpoch() * 1000);
    QSqlQuery record(m_db);
    record.prepare(statement.sql);
    return exec(record, statement.values);
}

bool SqliteCatalogueWriter::insertRow(const QString &table, const QStringList &columns, const QVariantList &values)
{
    auto insert = m_inserts.find(table);
    if (insert == m_inserts.end()) {
        insert = m_inserts.insert(table, QSqlQuery(m_db));
        if (!insert->prepare(SharedSql::insertRow(table, columns)))
            return fail(*insert);
    }
    // A copied event is a change of this catalogue, seen by updatedafter
    // from this commit on: it takes this transaction's stamp.
    QVariantList copied = values;
    if (const qsizetype modified = columns.indexOf(QStringLiteral("modified")); table == QLatin1String("event") && modified >= 0)
        copied[modified] = qlonglong(m_modifiedUs);
    if (!exec(*insert, copied))
        return false;
    m_added += table == QLatin1String("event") ? 1 : 0;
    return true;
}

void SqliteCatalogueWriter::finishStatements()
{
    for (QSqlQuery &insert : m_inserts)
        insert.finish();
    for (QSqlQuery *query : { &m_update, &m_touch, &m_insert, &m_unclaim, &m_removeUnclaimed, &m_handOver })
        query->finish();
    m_inTransaction = false;
}

bool SqliteCatalogueWriter::commit()
{
    finishStatements();
    if (!m_db.commit()) {
        m_error = wordsOf(m_db.lastError());
        m_db.rollback();
        return false;
    }
    // The rows are visible from now on: a poll that did not see them was
    // answered before this time. The note is not waited for on disk: should
    // it be lost, the catalogue's next opening notes the transaction as
    // committed then.
    QSqlQuery note(m_db);
    note.exec(QStringLiteral("PRAGMA synchronous = NORMAL"));
    note.prepare(SharedSql::closeChange);
    note.addBindValue(qlonglong(QDateTime::currentMSecsSinceEpoch() * 1000 + 1));
    note.addBindValue(qlonglong(m_modifiedUs));
    note.exec();
    note.exec(QStringLiteral("PRAGMA synchronous = FULL"));
    return true;
}

void SqliteCatalogueWriter::rollback()
{
    finishStatements();
    m_db.rollback();
}
