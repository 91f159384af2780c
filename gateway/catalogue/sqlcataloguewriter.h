#pragma once

// The catalogue's writer, over a transaction of either database: each
// claim step (a source taking a row, letting go of one or of all, what it
// has not written) and the change log written once, here. How event rows
// go in is the dialect's: SQLite's three prepared statements, or
// PostgreSQL's batched upsert, which is sent before anything else the
// writer runs, so that every statement sees the rows written before it.
// A row written is the source's now; the trigger event_claim_kept keeps the
// claim of the source that wrote it before.

#include "catalogue/catalogue.h"
#include "catalogue/sqldriver.h"

#include <cstdint>
#include <memory>

class SqlCatalogueWriter : public Catalogue::Writer
{
public:
    ~SqlCatalogueWriter() override;

    bool begin() override;
    bool remove(const QString &publicId) override;
    bool unseen(const UpstreamWindow &window, std::vector<Unseen> *events) override;
    bool removeSource(qint64 *count) override;
    bool recordFetched(const QString &upstream, const UpstreamWindow &window) override;
    bool insertRow(const QString &table, const QStringList &columns, const QVariantList &values) override;
    bool commit() override;
    void rollback() override;

    qint64 added() const override { return m_added; }
    qint64 updated() const override { return m_updated; }
    qint64 removed() const override { return m_removed; }
    QString error() const override { return m_error; }
    bool mayRetry() const override { return m_transaction->mayRetry(); }

protected:
    SqlCatalogueWriter(std::unique_ptr<SqlTransaction> transaction, const QString &source);

    // Sends rows kept back, if any.
    virtual bool flushRows() { return true; }
    // The transaction ends: what the dialect kept of it goes.
    virtual void endRows() {}
    // Just before the commit.
    virtual bool beforeCommit() { return true; }

    // One statement, after the rows kept back.
    bool run(const QString &sql, const QVariantList &values, SqlRows *rows = nullptr);
    // False, with the transaction's reason.
    bool fail();

    SqlTransaction &transaction() { return *m_transaction; }
    const QString m_source;
    // Every transaction marks its rows with a time of its own, so that
    // unseen() tells them apart from all others.
    std::int64_t m_stamp = 0;
    qint64 m_added = 0;
    qint64 m_updated = 0;
    qint64 m_removed = 0;
    QString m_error;

private:
    const std::unique_ptr<SqlTransaction> m_transaction;
    bool m_inTransaction = false;
};
