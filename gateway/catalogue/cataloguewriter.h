#pragma once

// CatalogueWriter writes the rows of one file (or one fetched window) into
// the catalogue as one transaction: either all of them are there after
// commit, or, after a failure or a crash, none. A later row for an id
// replaces the earlier one's values.
//
// Every row written is claimed by the writer's source, as are the rows
// that other sources wrote and this one holds too. Removing is always a
// source letting go of its claim: the event itself goes only when no
// source holds it any more, so that an upstream never removes what a file
// holds, nor one file what another holds.

#include "catalogue/eventrow.h"

#include <QSqlQuery>
#include <QString>
#include <QVariantList>

#include <cstdint>
#include <vector>

class Catalogue;
struct UpstreamWindow;

class CatalogueWriter
{
public:
    CatalogueWriter(const Catalogue &catalogue, const QString &source);
    ~CatalogueWriter();

    bool begin();
    bool write(const EventRow &row);
    // For an event that the source no longer holds (withdrawn, or confirmed
    // gone): its claim goes, and the event with its last claim.
    bool remove(const QString &publicId);

    // An event that this writer's source holds and has not written in this
    // transaction.
    struct Unseen
    {
        QString publicId;
        std::int64_t originTimeUs = 0;
    };
    // The source's events inside the window's box that this transaction
    // has not written, in time order. Events without a magnitude are in the
    // box only when it has no magnitude bound, as a service leaves them out
    // of a bounded search.
    bool unseen(const UpstreamWindow &window, std::vector<Unseen> *events);
    // Lets go of every claim of this writer's source; count is how many
    // events went with them.
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
    bool exec(QSqlQuery &query, const QVariantList &values);
    void finishStatements();

    QSqlDatabase m_db;
    QString m_source;
    QSqlQuery m_update;
    QSqlQuery m_insert;
    QSqlQuery m_unclaim;
    QSqlQuery m_removeUnclaimed;
    QSqlQuery m_handOver;
    qint64 m_modifiedUs = 0;
    qint64 m_added = 0;
    qint64 m_updated = 0;
    qint64 m_removed = 0;
    bool m_inTransaction = false;
    QString m_error;
};
