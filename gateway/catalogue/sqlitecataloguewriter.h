#pragma once

// The SQLite catalogue's writer: one transaction per file or fetched
// window. Each source's claims sit in event_claim beside the row's own
// source (its last writer), kept by a trigger when one source overwrites
// another's row, so that a catalogue of one source pays nothing for them.

#include "catalogue/catalogue.h"

#include <QHash>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QString>
#include <QVariantList>

#include <cstdint>
#include <vector>

class SqliteCatalogue;

class SqliteCatalogueWriter : public Catalogue::Writer
{
public:
    SqliteCatalogueWriter(const SqliteCatalogue &catalogue, const QString &source);
    ~SqliteCatalogueWriter() override;

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
    bool fail(const QSqlQuery &query);
    static void bindRow(QSqlQuery &query, const EventRow &row);
    bool exec(QSqlQuery &query, const QVariantList &values);
    void finishStatements();

    QSqlDatabase m_db;
    QString m_source;
    QSqlQuery m_update;
    QSqlQuery m_touch;
    QSqlQuery m_insert;
    QSqlQuery m_unclaim;
    QSqlQuery m_removeUnclaimed;
    QSqlQuery m_handOver;
    QHash<QString, QSqlQuery> m_inserts;   // by table, for insertRow
    qint64 m_modifiedUs = 0;
    qint64 m_added = 0;
    qint64 m_updated = 0;
    qint64 m_removed = 0;
    bool m_inTransaction = false;
    QString m_error;
};
