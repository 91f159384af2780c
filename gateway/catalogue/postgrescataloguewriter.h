#pragma once

// The PostgreSQL side of the catalogue's writer: a transaction on a
// connection of its own from the pool, and the dialect's way of putting
// rows in, a thousand at a time, each batch one upsert that says which
// rows were new; every listening gateway is told of the commit.

#include "catalogue/sqlcataloguewriter.h"

#include <QByteArray>
#include <QHash>

#include <vector>

class PostgresCatalogue;
struct pg_conn;

class PostgresTransaction : public SqlTransaction
{
public:
    explicit PostgresTransaction(const PostgresCatalogue &catalogue) : m_catalogue(catalogue) {}
    ~PostgresTransaction() override;

    bool begin() override;
    bool run(const QString &sql, const QVariantList &values, SqlRows *rows = nullptr) override;
    bool commit() override;
    void rollback() override;
    void runAfterCommit(const QString &sql, const QVariantList &values) override;
    QString error() const override { return m_error; }
    bool mayRetry() const override;

private:
    const PostgresCatalogue &m_catalogue;
    pg_conn *m_connection = nullptr;
    QString m_error;
    QByteArray m_sqlState;   // of the last failure
};

class PostgresCatalogueWriter : public SqlCatalogueWriter
{
public:
    PostgresCatalogueWriter(const PostgresCatalogue &catalogue, const QString &source);

    bool holdOtherBulkWritesOff() override;

protected:
    bool write(const EventRow &row) override;
    bool flushRows() override;
    void endRows() override;
    bool beforeCommit() override;

private:
    std::vector<QVariantList> m_waiting;      // rows not sent yet, one an id
    QHash<QString, std::size_t> m_waitingAt;  // by id
};
