#pragma once

// CatalogueWriter writes the rows of one file (or one fetched window) into
// the catalogue as one transaction: either all of them are there after
// commit, or, after a failure or a crash, none. A later row for an id
// replaces the earlier one.

#include "catalogue/eventrow.h"

#include <QSqlQuery>
#include <QString>

class Catalogue;

class CatalogueWriter
{
public:
    CatalogueWriter(const Catalogue &catalogue, const QString &source);
    ~CatalogueWriter();

    bool begin();
    bool write(const EventRow &row);
    bool commit();
    void rollback();

    qint64 added() const { return m_added; }
    qint64 updated() const { return m_updated; }
    QString error() const { return m_error; }

private:
    bool fail(const QSqlQuery &query);
    static void bindRow(QSqlQuery &query, const EventRow &row);

    QSqlDatabase m_db;
    QString m_source;
    QSqlQuery m_update;
    QSqlQuery m_insert;
    qint64 m_modifiedUs = 0;
    qint64 m_added = 0;
    qint64 m_updated = 0;
    bool m_inTransaction = false;
    QString m_error;
};
