#pragma once

// What the gateway's services and upstreams ask of a catalogue of events,
// whatever database holds it. Readers stream rows through a cursor; a
// writer puts the rows of one file or one fetched window in as one
// transaction, claimed by its source.
//
// Every row written is claimed by the writer's source, as are the rows
// that other sources wrote and this one holds too. Removing is always a
// source letting go of its claim: the event itself goes only when no
// source holds it any more, so that an upstream never removes what a file
// holds, nor one file what another holds.

#include "catalogue/eventrow.h"
#include "geo/projection.h"

#include <QList>
#include <QStringList>
#include <QVariantList>
#include <QString>

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <vector>

struct EventFilter;
struct EventQuery;

// What a read of the catalogue found: a value, or none, or a failure to
// read, which a reply tells apart (404 or 204 against 503).
template <typename T>
class Read
{
public:
    Read() = default;
    Read(T value) : m_value(std::move(value)) {}
    static Read failure()
    {
        Read failed;
        failed.m_failed = true;
        return failed;
    }
    bool failed() const { return m_failed; }
    explicit operator bool() const { return m_value.has_value(); }
    const T &operator*() const { return *m_value; }
    const T *operator->() const { return &*m_value; }
    // The value, or an empty one for none or a failure.
    T valueOrEmpty() const { return m_value.value_or(T()); }

private:
    std::optional<T> m_value;
    bool m_failed = false;
};
struct UpstreamWindow;

class Catalogue
{
public:
    virtual ~Catalogue() = default;

    // Every call returns false on failure, with the reason in error().
    class Writer
    {
    public:
        virtual ~Writer() = default;

        virtual bool begin() = 0;
        // For a bulk write (a file's import) into a catalogue that several
        // processes write: waits until no other bulk write holds it, and
        // keeps the others off until this transaction ends, so that two
        // imports of shared events never deadlock. After begin().
        virtual bool holdOtherBulkWritesOff() { return true; }
        // A later row for an id replaces the earlier one's values.
        virtual bool write(const EventRow &row) = 0;
        // For an event that the source no longer holds (withdrawn, or
        // confirmed gone): its claim goes, and the event with its last claim.
        virtual bool remove(const QString &publicId) = 0;

        // An event that this writer's source holds and has not written in
        // this transaction.
        struct Unseen
        {
            QString publicId;
            std::int64_t originTimeUs = 0;
        };
        // The source's events inside the window's box that this transaction
        // has not written, in time order. Events without a magnitude are in
        // the box only when it has no magnitude bound, as a service leaves
        // them out of a bounded search.
        virtual bool unseen(const UpstreamWindow &window, std::vector<Unseen> *events) = 0;
        // Lets go of every claim of this writer's source; count is how many
        // events went with them.
        virtual bool removeSource(qint64 *count) = 0;
        // Records, in the same transaction, that a window of an upstream is here.
        virtual bool recordFetched(const QString &upstream, const UpstreamWindow &window) = 0;
        // A row of one of the catalogue's tables as another catalogue held
        // it, for moving a whole catalogue (Catalogue::tables()).
        virtual bool insertRow(const QString &table, const QStringList &columns, const QVariantList &values) = 0;
        // All of it is there after commit or, after a failure or a crash, none.
        virtual bool commit() = 0;
        virtual void rollback() = 0;

        virtual qint64 added() const = 0;
        virtual qint64 updated() const = 0;
        virtual qint64 removed() const = 0;
        virtual QString error() const = 0;
        // Whether the transaction that failed may succeed if made again
        // from its start (the database chose it as a deadlock's victim).
        virtual bool mayRetry() const { return false; }
    };

    // Streams events one row at a time.
    class Cursor
    {
    public:
        virtual ~Cursor() = default;
        // False at the end, or on failure with the reason in error().
        virtual bool next(EventRow &row) = 0;
        virtual QString error() const = 0;
        // Whether the transaction that failed may succeed if made again
        // from its start (the database chose it as a deadlock's victim).
        virtual bool mayRetry() const { return false; }
    };

    struct SourceSummary
    {
        QString source;
        qint64 events = 0;
        std::int64_t firstUs = 0;
        std::int64_t lastUs = 0;
    };
    // The origin times of the first and the last event.
    struct TimeRange
    {
        std::int64_t firstUs = 0;
        std::int64_t lastUs = 0;
    };

    // The agency of a source: "GeoNet" for GeoNet's files and services, the
    // host of another service, or nothing for a file of unknown origin.
    static QString agencyOf(const QString &source);

    // What the catalogue is, for messages: its file, or its database's
    // URI without a password.
    virtual QString name() const = 0;
    // Reads say that they failed: nothing when the database cannot be read.
    virtual std::optional<qint64> eventCount() const = 0;
    // When the catalogue last changed (microseconds), 0 for never.
    virtual std::optional<qint64> lastModified() const = 0;
    virtual Read<EventRow> find(const QString &publicId) const = 0;
    virtual Read<QList<SourceSummary>> summary() const = 0;
    // None for a catalogue without events.
    virtual Read<TimeRange> timeRange() const = 0;
    // Points around the events that have a position, without reading them
    // all: for each degree of longitude that holds some, its southern- and
    // northernmost latitude at both of the degree's edges.
    virtual Read<std::vector<GeoPoint>> outline() const = 0;
    // Whether the upstream's window was fetched at or after sinceUs (UTC
    // microseconds), by one record that covers it.
    virtual bool isFetched(const QString &upstream, const UpstreamWindow &window, std::int64_t sinceUs) const = 0;
    // When a window was last copied from the upstream (UTC microseconds),
    // or nothing when none was.
    virtual std::optional<std::int64_t> lastFetched(const QString &upstream) const = 0;

    // The events of a search, in time order, inside its region.
    virtual std::unique_ptr<Cursor> search(const EventFilter &filter) const = 0;
    // The events that a query selects, in its order.
    virtual std::unique_ptr<Cursor> select(const EventQuery &query) const = 0;

    // A writer for the source (a file's name, an upstream's key).
    virtual std::unique_ptr<Writer> writer(const QString &source) const = 0;

    // A database that several gateways share tells each of every change as
    // it commits, from now on; a file has nothing to tell.
    virtual void startHearingOfChanges() {}
    // A number that grows with every change the catalogue hears of, for
    // caches; nothing when it does not hear of them and must be asked.
    virtual std::optional<std::uint64_t> changeSerial() const { return std::nullopt; }

    // Whether the catalogue can be read now; false with the reason when its
    // database cannot be reached (a file is always there once open).
    virtual bool isAvailable(QString *why) const
    {
        Q_UNUSED(why);
        return true;
    }

    // The tables that hold a catalogue, with the columns that a copy moves.
    struct Table
    {
        QString name;
        QStringList columns;
    };
    static QList<Table> tables();
    // Calls row with each row of a table, its values in the columns' order
    // (numbers as numbers); false with the reason, or when row returns false.
    virtual bool readTable(const Table &table, const std::function<bool(const QVariantList &)> &row,
                           QString *error) const = 0;

    // Held by the one process that copies from upstreams into a catalogue
    // that several share; let go when destroyed.
    class SyncLock
    {
    public:
        virtual ~SyncLock() = default;
    };
    // The lock, or null when another process holds it. A catalogue file is
    // one process's (SQLite itself keeps writers apart): always granted.
    virtual std::unique_ptr<SyncLock> lockForSync() const { return std::make_unique<SyncLock>(); }

protected:
    // The rows of a cursor that lie inside a search's region, for a
    // database that narrows the search to the region's envelopes.
    static std::unique_ptr<Cursor> keepInside(const EventFilter &filter, std::unique_ptr<Cursor> cursor);
};
