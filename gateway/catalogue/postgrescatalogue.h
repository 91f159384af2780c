#pragma once

// PostgresCatalogue is the catalogue in a PostgreSQL database with
// PostGIS, through libpq: the same tables as the SQLite file, the same
// portable SQL for searches (its "?" marks numbered for the server), and
// the same answers, in the same order and digits. Connections come from a
// pool that any thread takes from and gives back; a cursor keeps one while
// it streams, row by row (libpq's single-row mode), so a search of any
// size takes little memory. A password comes from ~/.pgpass or PGPASSWORD,
// never from what is logged: name() leaves it out.

#include "catalogue/sqlcatalogue.h"

#include <QString>
#include <QVariantList>

#include <atomic>
#include <condition_variable>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>
#include <unordered_set>
#include <utility>
#include <vector>

struct pg_conn;

class PostgresCatalogue : public SqlCatalogue
{
public:
    static constexpr int SchemaVersion = 2;

    // Whether a catalogue argument names a database: postgresql:// or postgres://.
    static bool isDatabaseUri(const QString &text);

    // readUri: a hot standby of the database (streaming replication) that
    // answers every read, while writes, fetched windows' records and the
    // sync lock go to uri; empty to read from uri too.
    explicit PostgresCatalogue(const QString &uri, const QString &readUri = QString());
    ~PostgresCatalogue() override;

    PostgresCatalogue(const PostgresCatalogue &) = delete;
    PostgresCatalogue &operator=(const PostgresCatalogue &) = delete;

    // Connects, then creates or checks the schema; false with a one-line
    // error. A database that holds another program's tables is refused
    // before anything is written to it.
    bool open(QString *error);
    // The URI without its password, for messages.
    QString name() const override;

    std::unique_ptr<Writer> writer(const QString &source) const override;
    // pg_try_advisory_lock on a connection of its own, held with the lock.
    std::unique_ptr<SyncLock> lockForSync() const override;
    bool isAvailable(QString *why) const override;
    // While listening: bumped by every change any process commits.
    std::optional<std::uint64_t> changeSerial() const override;

    // Hears of every change that any process commits (LISTEN on the
    // primary, to which every writer sends NOTIFY with its commit), on a
    // thread of its own, so that caches need not ask. On losing the server
    // it connects again, after twice as long each time, and reads the
    // change log for what it missed meanwhile. Reads from a standby, which
    // may not have a change yet when it is heard of, are never told.
    void startHearingOfChanges() override;
    void stopListening();
    static constexpr const char *Channel = "harvix_catalogue";
    // The advisory lock that bulk writes (imports) hold one at a time.
    static constexpr long long BulkWriteLock = 0x4852565833LL;
    bool readTable(const Table &table, const std::function<bool(const QVariantList &)> &row, QString *error) const override;

    // A connection to the primary from the pool (a new one when none is
    // idle), or null with the reason; give it back with release.
    pg_conn *acquire(QString *error) const { return m_primary.acquire(error); }
    // Back to the pool, or closed when it is broken.
    void release(pg_conn *connection) const { m_primary.release(connection); }
    // The same on the database that answers reads: the standby, or the
    // primary while the standby cannot be read (it is away, or was
    // promoted), said once in the log as it happens and once as it ends.
    pg_conn *acquireRead(QString *error) const;
    void releaseRead(pg_conn *connection) const;


    // One statement with its values on a connection of the pool: the rows
    // as text (null for SQL NULL), or false with the server's words.
    struct Rows
    {
        std::vector<std::vector<std::optional<QByteArray>>> rows;
        qint64 affected = 0;
    };
    // On the database that answers reads.
    bool run(const QString &sql, const QVariantList &values, Rows *rows, QString *error) const;
    // sqlState: the failure's SQLSTATE ("40P01" for a deadlock's victim).
    static bool run(pg_conn *connection, const QString &sql, const QVariantList &values, Rows *rows, QString *error,
                    QByteArray *sqlState = nullptr);

    // Rows as text made values (text, or null for NULL).
    static SqlRows valuesOf(const Rows &rows);

    // The portable SQL with its "?" marks numbered $1, $2, ...
    static QByteArray numbered(const QString &sql);

protected:
    bool read(const QString &sql, const QVariantList &values, SqlRows *rows) const override;
    QString outlineStatement() const override;

private:
    // After a connection fails, none is tried again for a while, twice as
    // long after each failure, up to two seconds: a server that is back is
    // answered within moments, well inside the Retry-After of a 503.
    static constexpr int LongestRetryMs = 2000;
    // How often a standby's connections are asked whether it still is one.
    static constexpr int StandbyCheckMs = 2000;

    // The connections to one server: idle ones kept for the next caller.
    // A standby's are checked to be in recovery when made and every
    // StandbyCheckMs; once promoted, none of them is handed out.
    class Pool
    {
    public:
        Pool(const QString &uri, const QString &name, bool mustBeStandby = false)
            : m_uri(uri), m_name(name), m_mustBeStandby(mustBeStandby) {}
        ~Pool();
        pg_conn *acquire(QString *error) const;
        void release(pg_conn *connection) const;
        bool isAvailable(QString *why) const;
        // Whether the last check found a server that is not in recovery.
        bool isNotStandby() const
        {
            const std::lock_guard<std::mutex> lock(m_mutex);
            return m_notStandby;
        }
        const QString &name() const { return m_name; }

    private:
        pg_conn *connect(QString *error) const;

        const QString m_uri;
        const QString m_name;
        const bool m_mustBeStandby;
        mutable std::mutex m_mutex;
        mutable std::vector<pg_conn *> m_idle;
        mutable qint64 m_retryAtMs = 0;   // ms since the epoch
        mutable int m_backoffMs = 0;
        mutable QString m_lastFailure;
        mutable qint64 m_checkedAtMs = 0;
        mutable bool m_notStandby = false;
    };

    // The server's notices, and errors outside a reply, to the gateway's log.
    static void notice(void *, const char *message);
    // A connection lent for reading that was closed instead of given back.
    void forgetRead(pg_conn *connection) const;
    // When what this gateway reads had reached the primary's commits of a
    // moment: a client that polls with updatedafter T is given what
    // committed after the reads of T saw, however late the standby
    // replayed it. Samples of (this gateway's time, the commit time up to
    // which its reads see), taken every second (and as queries come, at
    // most one a second), kept for two days.
    std::int64_t visibleHorizonAt(std::int64_t gatewayUs) const;
    void sampleHorizon() const;

    std::unique_ptr<Cursor> stream(const QString &sql, const QVariantList &values) const override;
    void narrow(SqlSelection &selection, const Place &place) const override;
    EventQuery answerable(const EventQuery &query) const override;
    // Connections lent to readers from the primary while the standby is away.
    mutable std::mutex m_lentMutex;
    mutable std::unordered_set<pg_conn *> m_lentFromPrimary;
    mutable std::atomic<bool> m_standbyAway { false };
    mutable std::mutex m_horizonMutex;
    mutable std::deque<std::pair<std::int64_t, std::int64_t>> m_horizons;
    // Samples the horizon every second while a standby is read, from the
    // first read on.
    void keepSampling() const;
    mutable std::once_flag m_samplerStarted;
    mutable std::thread m_sampler;
    mutable std::mutex m_samplerMutex;
    mutable std::condition_variable m_samplerWake;
    bool m_samplerStopping = false;

    void listen();

    QString m_uri;
    Pool m_primary;
    std::thread m_listener;
    std::atomic<bool> m_stopListening { false };
    std::atomic<bool> m_listening { false };
    std::atomic<std::uint64_t> m_changes { 0 };
    std::unique_ptr<Pool> m_standby;
};
