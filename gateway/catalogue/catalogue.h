#pragma once

// Catalogue is the SQLite file of events, through Qt SQL: one row per
// event keyed by its public id, an index on (origin_time, magnitude) so
// that a search is one range scan in time order, and WAL so that an
// import never blocks a search. Every thread that uses a catalogue gets
// its own connection; statements are prepared, queries forward-only, and
// the SQL is kept to what PostgreSQL takes too.

#include "catalogue/eventrow.h"
#include "geo/projection.h"

#include <QList>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QString>

#include <memory>
#include <mutex>
#include <optional>
#include <vector>

struct EventFilter;
struct EventQuery;
struct UpstreamWindow;

class Catalogue
{
public:
    static constexpr int SchemaVersion = 2;
    // SQLite's application_id of a Harvix catalogue: "HRVX".
    static constexpr quint32 ApplicationId = 0x48525658;

    // A catalogue that does not exist yet is created empty.
    explicit Catalogue(const QString &path);
    ~Catalogue();

    Catalogue(const Catalogue &) = delete;
    Catalogue &operator=(const Catalogue &) = delete;

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

    qint64 eventCount() const;
    // When the catalogue last changed (microseconds), 0 for never.
    qint64 lastModified() const;
    std::optional<EventRow> find(const QString &publicId) const;

    struct SourceSummary
    {
        QString source;
        qint64 events = 0;
        std::int64_t firstUs = 0;
        std::int64_t lastUs = 0;
    };
    QList<SourceSummary> summary() const;
    // The agency of a source: "GeoNet" for GeoNet's files and services, the
    // host of another service, or nothing for a file of unknown origin.
    static QString agencyOf(const QString &source);

    // The origin times of the first and the last event, when there is one.
    struct TimeRange
    {
        std::int64_t firstUs = 0;
        std::int64_t lastUs = 0;
    };
    std::optional<TimeRange> timeRange() const;

    // Points around the events that have a position, without reading them
    // all: for each degree of longitude that holds some, its southern- and
    // northernmost latitude at both of the degree's edges.
    std::vector<GeoPoint> outline() const;

    // Whether the upstream's window was fetched at or after sinceUs (UTC
    // microseconds), by one record that covers it.
    bool isFetched(const QString &upstream, const UpstreamWindow &window, std::int64_t sinceUs) const;

    // Streams the events of a search in time order, one row at a time.
    class Cursor
    {
    public:
        bool next(EventRow &row);
        QString error() const;

    private:
        friend class Catalogue;
        explicit Cursor(QSqlQuery query) : m_query(std::move(query)) {}
        QSqlQuery m_query;
    };
    std::unique_ptr<Cursor> search(const EventFilter &filter) const;
    // Streams the events that a query selects, in its order.
    std::unique_ptr<Cursor> select(const EventQuery &query) const;

    // The columns in the order that rowFrom reads them.
    static QString eventColumns();
    static EventRow rowFrom(const QSqlQuery &query);

private:
    QString m_path;
    quint64 m_serial;
    bool m_readOnly = false;
    bool m_immutable = false;
    mutable std::mutex m_mutex;
    mutable QStringList m_connectionNames;
};
