#pragma once

// The SQLite side of the catalogue's writer: a transaction over Qt SQL,
// each statement prepared once per transaction, and the dialect's way of
// putting a row in (an UPDATE of a row whose values differ, else one that
// only marks the row as written again, else an INSERT). Each source's
// claims sit in event_claim beside the row's own source (its last writer),
// kept by a trigger when one source overwrites another's row, so that a
// catalogue of one source pays nothing for them.

#include "catalogue/sqlcataloguewriter.h"

#include <QHash>
#include <QSqlDatabase>
#include <QSqlQuery>

#include <memory>

class SqliteCatalogue;

class SqliteTransaction : public SqlTransaction
{
public:
    explicit SqliteTransaction(const QSqlDatabase &db) : m_db(db) {}
    ~SqliteTransaction() override;

    bool begin() override;
    bool run(const QString &sql, const QVariantList &values, SqlRows *rows = nullptr) override;
    bool commit() override;
    void rollback() override;
    void runAfterCommit(const QString &sql, const QVariantList &values) override;
    QString error() const override { return m_error; }

    // The statement of this text, prepared once in the transaction and
    // kept until its end; null, with the reason, when it cannot be.
    QSqlQuery *statement(const QString &sql);
    bool failed(const QSqlQuery &query);

private:
    void finishStatements();

    QSqlDatabase m_db;
    QHash<QString, std::shared_ptr<QSqlQuery>> m_statements;
    QString m_error;
};

class SqliteCatalogueWriter : public SqlCatalogueWriter
{
public:
    SqliteCatalogueWriter(const SqliteCatalogue &catalogue, const QString &source);

protected:
    bool write(const EventRow &row) override;
    void endRows() override;

private:
    // Owns the transaction, and keeps it at hand as SQLite's.
    SqliteCatalogueWriter(SqliteTransaction *transaction, const QString &source);
    // The statement kept in slot, prepared at its first use in the
    // transaction.
    QSqlQuery *rowStatement(QSqlQuery *&slot, const QString &sql);

    SqliteTransaction *m_sqlite;
    QSqlQuery *m_update = nullptr;
    QSqlQuery *m_touch = nullptr;
    QSqlQuery *m_insert = nullptr;
};
