#include "catalogue/sqlitecataloguewriter.h"

#include "catalogue/eventcolumns.h"
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
// The event's values, then the source, the stamp and the id.
const int Values = int(EventColumns::all().size());
const QString updateChanged = QStringLiteral("UPDATE event SET %1, source = ?, modified = ? WHERE public_id = ? AND (%2"
                                             " OR source IS NOT ?)")
                                  .arg(EventColumns::assignedMarks(), EventColumns::differFromMarks());
const QString touch = QStringLiteral("UPDATE event SET modified = ? WHERE public_id = ?");
const QString insert = QStringLiteral("INSERT INTO event (%1, source, modified, public_id) VALUES (%2)")
                           .arg(EventColumns::names(), QStringList(Values + 3, QStringLiteral("?")).join(QStringLiteral(", ")));

void bindRow(QSqlQuery &query, const EventRow &row, const QString &source, qint64 stamp)
{
    QVariantList values;
    values.reserve(Values + 3);
    EventColumns::bind(row, values);
    values << source << qlonglong(stamp) << row.publicId;
    for (int i = 0; i < values.size(); ++i)
        query.bindValue(i, values[i]);
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
    // The values and the source again, each compared with the row's.
    for (int i = 0; i <= Values; ++i)
        update->bindValue(Values + 3 + i, update->boundValue(i));
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
