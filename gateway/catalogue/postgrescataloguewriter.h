#pragma once

// The PostgreSQL catalogue's writer: one transaction per file or fetched
// window on a connection of its own from the pool, with the SQLite
// writer's rules of claims and stamps (catalogue/sharedsql.h). A row is
// put in with one upsert that says whether it was new.

#include "catalogue/catalogue.h"

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

private:
    // Runs one statement of the transaction; the rows it gave, if asked.
    bool run(const QString &sql, const QVariantList &values, qint64 *affected = nullptr);

    const PostgresCatalogue &m_catalogue;
    pg_conn *m_connection = nullptr;
    QString m_source;
    std::int64_t m_stamp = 0;
    qint64 m_added = 0;
    qint64 m_updated = 0;
    qint64 m_removed = 0;
    bool m_inTransaction = false;
    QString m_error;
};
