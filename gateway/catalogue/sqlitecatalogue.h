#pragma once

// SqliteCatalogue is the SQLite file of events, through Qt SQL: one row per
// event keyed by its public id, an index on (origin_time, magnitude) so
// that a search is one range scan in time order, an index by degree
// cell and time for a search of a small region, and WAL so that an
// import never blocks a search. Every thread that uses a catalogue gets
// its own connection; statements are prepared, queries forward-only, and
// the SQL is kept to what PostgreSQL takes too.

#include "catalogue/sqlcatalogue.h"
#include "geo/searchregion.h"

#include <QList>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QString>

#include <memory>
#include <mutex>
#include <optional>
#include <vector>

class QSqlError;

class SqliteCatalogue : public SqlCatalogue
{
public:
    static constexpr int SchemaVersion = 4;
    // SQLite's application_id of a Harvix catalogue: "HRVX".
    static constexpr quint32 ApplicationId = 0x48525658;

    // A catalogue that does not exist yet is created empty.
    explicit SqliteCatalogue(const QString &path);
    ~SqliteCatalogue() override;

    SqliteCatalogue(const SqliteCatalogue &) = delete;
    SqliteCatalogue &operator=(const SqliteCatalogue &) = delete;

    // Creates or checks the schema; false with a one-line error otherwise.
    // A file that is not a Harvix catalogue (by its application id, or,
    // for catalogues made before the id, by its tables) is refused before
    // anything is written to it.
    bool open(QString *error);

    QString path() const { return m_path; }
    // A catalogue file that this user may not write is opened read-only: it
    // answers searches, and refuses imports with a clear message.
    bool isReadOnly() const { return m_readOnly; }

    // This thread's connection, opened on first use.
    QSqlDatabase connection() const;

    QString name() const override { return m_path; }
    std::unique_ptr<Writer> writer(const QString &source) const override;
    bool readTable(const Table &table, const std::function<bool(const QVariantList &)> &row, QString *error) const override;

    // The rows of a query that ran, and how many it changed; false when
    // reading them failed.
    static bool takeRows(QSqlQuery &query, SqlRows *rows);
    // SQLite's own words for what went wrong, without Qt's additions.
    static QString errorText(const QSqlError &error);

protected:
    bool read(const QString &sql, const QVariantList &values, SqlRows *rows) const override;
    QString outlineStatement() const override;
    std::unique_ptr<Cursor> stream(const QString &sql, const QVariantList &values) const override;
    void narrow(SqlSelection &selection, const Place &place) const override;

private:
    // The file checked before it is opened: a catalogue, an empty file or
    // none; its application id.
    bool checkFile(quint32 *applicationId, QString *why);
    // A catalogue of an older schema brought up to date; a new one made.
    bool upgrade(QSqlDatabase &db, int version, quint32 applicationId, QString *why);
    bool create(QSqlDatabase &db, QString *why);
    // "cell IN (...) AND origin_time >= ? ..." for the box and times, with
    // its values, when their cells hold few events; nothing when the time
    // index is the better way.
    struct CellTerm
    {
        QString sql;
        QVariantList values;
    };
    std::optional<CellTerm> fewInCells(const SearchRegion::Box &box, std::optional<std::int64_t> startUs,
                                        std::optional<std::int64_t> endUs) const;

    QString m_path;
    quint64 m_serial;
    bool m_readOnly = false;
    bool m_immutable = false;
    bool m_cellIndex = false;   // event_by_cell is there
    mutable std::mutex m_mutex;
    mutable QStringList m_connectionNames;
};
