#pragma once

// The PostgreSQL catalogue's writer: one transaction per file or fetched
// window on a connection of its own from the pool, with the SQLite
// writer's rules of claims and stamps (catalogue/sharedsql.h). Rows are
// put in a thousand at a time, each batch one upsert that says which rows
// were new; a batch is sent before anything else the writer does, so that
// every statement sees the rows written before it.

#include "catalogue/catalogue.h"

#include <QHash>
#include <QString>
#include <QVariantList>

#include <cstdint>
#include <vector>

class PostgresCatalogue;
struct pg_conn;

class PostgresCatalogueWriter : public Catalogue::Writer
{
public:
    PostgresCatalogueWriter(const PostgresCatalogue &catalogue, const QString &source);
    ~PostgresCatalogueWriter() override;

    bool begin() override;
    bool holdOtherBulkWritesOff() override;
    bool write(const EventRow &row) override;
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
    bool mayRetry() const override;

private:
    // Runs one statement of the transaction (after the rows waiting); the
    // rows it changed, if asked.
    bool run(const QString &sql, const QVariantList &values, qint64 *affected = nullptr);
    // Sends the rows waiting.
    bool flush();

    const PostgresCatalogue &m_catalogue;
    pg_conn *m_connection = nullptr;
    QString m_source;
    std::int64_t m_stamp = 0;
    qint64 m_added = 0;
    qint64 m_updated = 0;
    qint64 m_removed = 0;
    bool m_inTransaction = false;
    std::vector<QVariantList> m_waiting;      // rows not sent yet, one an id
    QHash<QString, std::size_t> m_waitingAt;  // by id
    QString m_error;
    QByteArray m_sqlState;   // of the last failure
};
