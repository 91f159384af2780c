#pragma once

// CatalogueWriter writes the rows of one file (or one fetched window) into
// the catalogue as one transaction: either all of them are there after
// commit, or, after a failure or a crash, none. A later row for an id
// replaces the earlier one.

#include "catalogue/eventrow.h"

#include <QSqlQuery>
#include <QString>

class Catalogue;
struct UpstreamWindow;

class CatalogueWriter
{
public:
    CatalogueWriter(const Catalogue &catalogue, const QString &source);
    ~CatalogueWriter();

    bool begin();
    bool write(const EventRow &row);
    // For an event that its source has withdrawn.
    bool remove(const QString &publicId);
    // Removes this writer's source's events inside the window's box that
    // this transaction has not written: what the upstream no longer holds.
    // Events without a magnitude are in the box only when it has no
    // magnitude bound, as a service leaves them out of a bounded search.
    bool removeUnseen(const UpstreamWindow &window);
    // Removes every event of this writer's source, counting them.
    bool removeSource(qint64 *count);
    // Records, in the same transaction, that a window of an upstream is here.
    bool recordFetched(const QString &upstream, const UpstreamWindow &window);
    bool commit();
    void rollback();

    qint64 added() const { return m_added; }
    qint64 updated() const { return m_updated; }
    qint64 removed() const { return m_removed; }
    QString error() const { return m_error; }

private:
    bool fail(const QSqlQuery &query);
    static void bindRow(QSqlQuery &query, const EventRow &row);

    QSqlDatabase m_db;
    QString m_source;
    QSqlQuery m_update;
    QSqlQuery m_insert;
    QSqlQuery m_remove;
    qint64 m_modifiedUs = 0;
    qint64 m_added = 0;
    qint64 m_updated = 0;
    qint64 m_removed = 0;
    bool m_inTransaction = false;
    QString m_error;
};
