#include "catalogue/sqlitecataloguewriter.h"

#include "catalogue/sharedsql.h"
#include "catalogue/sqlitecatalogue.h"

#include <QSqlError>

SqliteTransaction::~SqliteTransaction()
{
    finishStatements();
}

QSqlQuery *SqliteTransaction::statement(const QString &sql)
{
    auto found = m_statements.find(sql);
    if (found == m_statements.end()) {
        auto query = std::make_shared<QSqlQuery>(m_db);
        query->setForwardOnly(true);
        if (!query->prepare(sql)) {
            failed(*query);
            return nullptr;
        }
        found = m_statements.insert(sql, std::move(query));
    }
    return found->get();
}

bool SqliteTransaction::failed(const QSqlQuery &query)
{
    m_error = SqliteCatalogue::errorText(query.lastError());
    return false;
}

bool SqliteTransaction::begin()
{
    if (m_db.transaction())
        return true;
    m_error = SqliteCatalogue::errorText(m_db.lastError());
    return false;
}

bool SqliteTransaction::run(const QString &sql, const QVariantList &values, SqlRows *rows)
{
    QSqlQuery *query = statement(sql);
    if (!query)
        return false;
    for (int i = 0; i < values.size(); ++i)
        query->bindValue(i, values[i]);
    if (!query->exec())
        return failed(*query);
    return !rows || SqliteCatalogue::takeRows(*query, rows) || failed(*query);
}

void SqliteTransaction::finishStatements()
{
    for (const std::shared_ptr<QSqlQuery> &query : std::as_const(m_statements))
        query->finish();
    m_statements.clear();
}

bool SqliteTransaction::commit()
{
    finishStatements();
    if (m_db.commit())
        return true;
    m_error = SqliteCatalogue::errorText(m_db.lastError());
    return false;
}

void SqliteTransaction::rollback()
{
    finishStatements();
    m_db.rollback();
}

void SqliteTransaction::runAfterCommit(const QString &sql, const QVariantList &values)
{
    // Not waited for on disk: should it be lost, the catalogue's next
    // opening notes the transaction as committed then.
    QSqlQuery note(m_db);
    note.exec(QStringLiteral("PRAGMA synchronous = NORMAL"));
    note.prepare(sql);
    for (const QVariant &value : values)
        note.addBindValue(value);
    note.exec();
    note.exec(QStringLiteral("PRAGMA synchronous = FULL"));
}

namespace {

// Portable upsert: an UPDATE of a row whose values differ, else one that
// only marks the row as written again, else an INSERT. Only the first
// counts as updated.
const QString updateChanged = QStringLiteral(
    "UPDATE event SET origin_time = ?, latitude = ?, longitude = ?, depth = ?, magnitude = ?,"
    " magnitude_type = ?, magnitude_station_count = ?, event_type = ?, evaluation_mode = ?,"
    " evaluation_status = ?, source = ?, modified = ? WHERE public_id = ? AND (origin_time IS NOT ?"
    " OR latitude IS NOT ? OR longitude IS NOT ? OR depth IS NOT ? OR magnitude IS NOT ?"
    " OR magnitude_type IS NOT ? OR magnitude_station_count IS NOT ? OR event_type IS NOT ?"
    " OR evaluation_mode IS NOT ? OR evaluation_status IS NOT ? OR source IS NOT ?)");
const QString touch = QStringLiteral("UPDATE event SET modified = ? WHERE public_id = ?");
const QString insert = QStringLiteral(
    "INSERT INTO event (origin_time, latitude, longitude, depth, magnitude, magnitude_type,"
    " magnitude_station_count, event_type, evaluation_mode, evaluation_status, source, modified,"
    " public_id) VALUES (?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?)");

void bindRow(QSqlQuery &query, const EventRow &row, const QString &source, qint64 stamp)
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
    query.bindValue(10, source);
    query.bindValue(11, qlonglong(stamp));
    query.bindValue(12, row.publicId);
}

} // namespace

SqliteCatalogueWriter::SqliteCatalogueWriter(const SqliteCatalogue &catalogue, const QString &source)
    : SqliteCatalogueWriter(new SqliteTransaction(catalogue.connection()), source)
{
}

SqliteCatalogueWriter::SqliteCatalogueWriter(SqliteTransaction *transaction, const QString &source)
    : SqlCatalogueWriter(std::unique_ptr<SqlTransaction>(transaction), source)
    , m_sqlite(transaction)
{
}

QSqlQuery *SqliteCatalogueWriter::rowStatement(QSqlQuery *&slot, const QString &sql)
{
    if (!slot)
        slot = m_sqlite->statement(sql);
    return slot;
}

void SqliteCatalogueWriter::endRows()
{
    m_update = m_touch = m_insert = nullptr;
}

bool SqliteCatalogueWriter::write(const EventRow &row)
{
    QSqlQuery *update = rowStatement(m_update, updateChanged);
    if (!update)
        return fail();
    bindRow(*update, row, m_source, m_stamp);
    // The values again, each compared with the row's.
    for (int i = 0; i <= 10; ++i)
        update->bindValue(13 + i, update->boundValue(i));
    if (!update->exec())
        return m_sqlite->failed(*update) || fail();
    if (update->numRowsAffected() > 0) {
        ++m_updated;
        return true;
    }
    QSqlQuery *touched = rowStatement(m_touch, touch);
    if (!touched)
        return fail();
    touched->bindValue(0, qlonglong(m_stamp));
    touched->bindValue(1, row.publicId);
    if (!touched->exec())
        return m_sqlite->failed(*touched) || fail();
    if (touched->numRowsAffected() > 0)
        return true;
    QSqlQuery *inserted = rowStatement(m_insert, insert);
    if (!inserted)
        return fail();
    bindRow(*inserted, row, m_source, m_stamp);
    if (!inserted->exec())
        return m_sqlite->failed(*inserted) || fail();
    ++m_added;
    return true;
}
