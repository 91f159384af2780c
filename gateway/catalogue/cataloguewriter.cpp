#include "catalogue/cataloguewriter.h"

#include "catalogue/catalogue.h"
#include "catalogue/windows.h"

#include <QDateTime>
#include <QSqlError>
#include <QVariant>

#include <algorithm>
#include <atomic>

namespace {

template <typename T>
QVariant variantOf(const std::optional<T> &value)
{
    return value ? QVariant::fromValue(*value) : QVariant();
}

QVariant textOf(const QString &text)
{
    return text.isEmpty() ? QVariant() : QVariant(text);
}

} // namespace

CatalogueWriter::CatalogueWriter(const Catalogue &catalogue, const QString &source)
    : m_db(catalogue.connection())
    , m_source(source)
    , m_update(m_db)
    , m_insert(m_db)
    , m_remove(m_db)
{
}

CatalogueWriter::~CatalogueWriter()
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

bool CatalogueWriter::fail(const QSqlQuery &query)
{
    m_error = wordsOf(query.lastError());
    return false;
}

bool CatalogueWriter::begin()
{
    // Portable upsert: an UPDATE that finds nothing is followed by an INSERT.
    if (!m_update.prepare(QStringLiteral(
            "UPDATE event SET origin_time = ?, latitude = ?, longitude = ?, depth = ?, magnitude = ?,"
            " magnitude_type = ?, magnitude_station_count = ?, event_type = ?, evaluation_mode = ?,"
            " evaluation_status = ?, source = ?, modified = ? WHERE public_id = ?")))
        return fail(m_update);
    if (!m_insert.prepare(QStringLiteral(
            "INSERT INTO event (origin_time, latitude, longitude, depth, magnitude, magnitude_type,"
            " magnitude_station_count, event_type, evaluation_mode, evaluation_status, source, modified,"
            " public_id) VALUES (?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?)")))
        return fail(m_insert);
    if (!m_remove.prepare(QStringLiteral("DELETE FROM event WHERE public_id = ?")))
        return fail(m_remove);
    if (!m_db.transaction()) {
        m_error = wordsOf(m_db.lastError());
        return false;
    }
    m_inTransaction = true;
    // Every transaction marks its rows with a time of its own, so that
    // removeUnseen tells them apart from all others.
    static std::atomic<qint64> lastStamp { 0 };
    qint64 stamp = QDateTime::currentMSecsSinceEpoch() * 1000;
    qint64 last = lastStamp.load();
    while (!lastStamp.compare_exchange_weak(last, std::max(stamp, last + 1))) {
    }
    m_modifiedUs = std::max(stamp, last + 1);
    return true;
}

void CatalogueWriter::bindRow(QSqlQuery &query, const EventRow &row)
{
    query.bindValue(0, qlonglong(row.originTimeUs));
    query.bindValue(1, variantOf(row.latitude));
    query.bindValue(2, variantOf(row.longitude));
    query.bindValue(3, variantOf(row.depthKm));
    query.bindValue(4, variantOf(row.magnitude));
    query.bindValue(5, textOf(row.magnitudeType));
    query.bindValue(6, variantOf(row.magnitudeStationCount));
    query.bindValue(7, textOf(row.eventType));
    query.bindValue(8, textOf(row.evaluationMode));
    query.bindValue(9, textOf(row.evaluationStatus));
    query.bindValue(12, row.publicId);
}

bool CatalogueWriter::write(const EventRow &row)
{
    bindRow(m_update, row);
    m_update.bindValue(10, m_source);
    m_update.bindValue(11, qlonglong(m_modifiedUs));
    if (!m_update.exec())
        return fail(m_update);
    if (m_update.numRowsAffected() > 0) {
        ++m_updated;
        return true;
    }
    bindRow(m_insert, row);
    m_insert.bindValue(10, m_source);
    m_insert.bindValue(11, qlonglong(m_modifiedUs));
    if (!m_insert.exec())
        return fail(m_insert);
    ++m_added;
    return true;
}

bool CatalogueWriter::remove(const QString &publicId)
{
    m_remove.bindValue(0, publicId);
    if (!m_remove.exec())
        return fail(m_remove);
    m_removed += m_remove.numRowsAffected() > 0 ? 1 : 0;
    return true;
}

bool CatalogueWriter::removeUnseen(const UpstreamWindow &window)
{
    QString sql = QStringLiteral("DELETE FROM event WHERE origin_time >= ? AND origin_time < ? AND source = ?"
                                 " AND modified <> ?");
    QVariantList values = { qlonglong(window.startUs), qlonglong(window.endUs), m_source, qlonglong(m_modifiedUs) };
    if (window.minMagnitude) {
        sql += QStringLiteral(" AND magnitude >= ?");
        values << *window.minMagnitude;
    }
    if (window.maxMagnitude) {
        sql += QStringLiteral(" AND magnitude <= ?");
        values << *window.maxMagnitude;
    }
    QSqlQuery query(m_db);
    query.prepare(sql);
    for (const QVariant &value : values)
        query.addBindValue(value);
    if (!query.exec())
        return fail(query);
    m_removed += query.numRowsAffected();
    return true;
}

bool CatalogueWriter::removeSource(qint64 *count)
{
    QSqlQuery query(m_db);
    query.prepare(QStringLiteral("DELETE FROM event WHERE source = ?"));
    query.addBindValue(m_source);
    if (!query.exec())
        return fail(query);
    *count = query.numRowsAffected();
    return true;
}

bool CatalogueWriter::recordFetched(const QString &upstream, const UpstreamWindow &window)
{
    QSqlQuery record(m_db);
    record.prepare(QStringLiteral("INSERT INTO fetched_window (upstream, start_time, end_time, min_magnitude,"
                                  " max_magnitude, updated_after, fetched) VALUES (?, ?, ?, ?, ?, ?, ?)"));
    record.addBindValue(upstream);
    record.addBindValue(qlonglong(window.startUs));
    record.addBindValue(qlonglong(window.endUs));
    record.addBindValue(variantOf(window.minMagnitude));
    record.addBindValue(variantOf(window.maxMagnitude));
    record.addBindValue(window.updatedAfterUs ? QVariant(qlonglong(*window.updatedAfterUs)) : QVariant());
    record.addBindValue(qlonglong(QDateTime::currentMSecsSinceEpoch() * 1000));
    return record.exec() || fail(record);
}

bool CatalogueWriter::commit()
{
    m_update.finish();
    m_insert.finish();
    m_remove.finish();
    m_inTransaction = false;
    if (m_db.commit())
        return true;
    m_error = wordsOf(m_db.lastError());
    m_db.rollback();
    return false;
}

void CatalogueWriter::rollback()
{
    m_update.finish();
    m_insert.finish();
    m_remove.finish();
    m_inTransaction = false;
    m_db.rollback();
}
