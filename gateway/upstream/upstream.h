#pragma once

// An upstream is a live catalogue service that the gateway copies from:
// GeoNet's quake search service, or the FDSN event service of any agency.
// fetch() brings one window of time and magnitude into the catalogue, in
// as many pieces as the service's cap on a reply asks for, each stored and
// recorded as fetched in a transaction of its own.

#include "catalogue/windows.h"
#include "formats/readoutcome.h"

#include <QString>
#include <QIODevice>
#include <QTemporaryFile>
#include <QUrl>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <vector>

class Catalogue;

struct FetchReport
{
    qint64 added = 0;
    qint64 updated = 0;
    qint64 removed = 0;
    qint64 skipped = 0;
    int requests = 0;
    int piecesStored = 0;
    int piecesDone = 0;      // stored by an earlier fetch, not asked for again
    bool complete = true;    // false when the time allowed ran out first
    QString error;           // empty on success

    bool failed() const { return !error.isEmpty(); }
};

// How one fetch goes about a window.
struct FetchPlan
{
    // Pieces recorded as fetched at or after this (UTC microseconds) are
    // not asked for again; nothing, to ask for every piece.
    std::optional<std::int64_t> keepPiecesSinceUs;
    // No new piece is started after this, once one has been stored; the
    // pieces stored so far stay, and the next fetch of the window goes on
    // from there.
    std::optional<std::chrono::steady_clock::time_point> stopStartingAt;
};

class Upstream
{
public:
    struct Options
    {
        int timeoutSeconds = 20;      // a request that makes no progress for this long fails
        int connectSeconds = 2;       // an upstream that does not accept a connection in this is unreachable
        int unreachableSeconds = 60;  // and is not asked again for this long
        int quakeSearchLimit = 20000; // events in one CSV reply
        bool fdsnXml = false;         // QuakeML 1.2 instead of text
        int maxConcurrentRequests = 2;
    };

    using Clock = std::chrono::steady_clock;

    // An FDSN service when the path ends in fdsnws/event/1/, a quake search
    // service otherwise; nothing, with a reason, for a URL that is neither.
    static std::unique_ptr<Upstream> forUrl(const QString &url, const Options &options, QString *error);

    virtual ~Upstream() = default;

    QUrl url() const { return m_url; }
    // The source of the events it stores, and the key of its windows.
    QString key() const { return m_url.toString(); }
    // "GeoNet" for GeoNet's services, the host otherwise.
    QString name() const;

    // Brings one window into the catalogue in pieces: each piece is
    // downloaded whole, then stored in one transaction that also records
    // it, so that the write lock is never held while downloading. A piece
    // holds exactly what the upstream holds in its box: its events there
    // that the reply no longer has are removed (unless the window asks only
    // for what changed after a time). On a failure the pieces stored
    // before it stay, and nothing of the failed one is stored.
    FetchReport fetch(const Catalogue &catalogue, const UpstreamWindow &window, const FetchPlan &plan = FetchPlan());

    int timeoutSeconds() const { return m_options.timeoutSeconds; }
    // Whether a connection failed lately, so that it is not asked now.
    bool isUnreachable() const;

protected:
    Upstream(const QUrl &url, const Options &options) : m_url(url), m_options(options) {}

    enum class Answer { Events, Nothing, TooBig, Failed };
    // Asks for one piece; on Events the body holds the reply, and expected
    // how many rows it must hold where the service said so beforehand.
    virtual Answer ask(const UpstreamWindow &piece, QTemporaryFile &body, std::optional<qint64> &expected,
                       FetchReport &report) = 0;
    // Reads a reply that ask() brought.
    virtual ReadOutcome read(QIODevice &body, const RowSink &sink) const = 0;
    virtual QString format() const = 0;

public:
    struct Response
    {
        int status = 0;
        QString error;   // a failure of the transfer itself
    };

protected:
    // GET of path and query below the upstream's URL, the body into a
    // temporary file that the reader then gets; two at a time at most.
    Response get(const QString &pathAndQuery, QIODevice &body);

    // The window's bounds as the query of a service with these key names,
    // asked a second and a twentieth of a magnitude wider (a service's
    // bounds may be strict where ours are inclusive); fetch() keeps exactly
    // the window of what comes back.
    struct QueryKeys
    {
        const char *start;
        const char *end;
        const char *minMagnitude;
        const char *maxMagnitude;
        const char *updatedAfter;
    };
    static QString windowQuery(const UpstreamWindow &window, const QueryKeys &keys);

    // Opens a temporary file for the body, counts the request and fetches
    // it; false, with report.error, when the transfer itself failed.
    bool fetchInto(QTemporaryFile &body, const QString &pathAndQuery, Response &response, FetchReport &report);

    // A text reply cut short ends inside a line.
    static bool endsInsideLine(QTemporaryFile &body);

    QUrl m_url;
    Options m_options;

private:
    // Stores one piece (body null: the upstream holds nothing there), and
    // records it and the larger pieces that it completes as fetched.
    bool store(const Catalogue &catalogue, const std::optional<UpstreamWindow> &piece, QIODevice *body,
               std::optional<qint64> expected, const std::vector<UpstreamWindow> &whole, FetchReport &report);

    std::mutex m_gateMutex;
    std::condition_variable m_gateFree;
    int m_active = 0;
    std::atomic<qint64> m_unreachableUntilMs { 0 };
};

namespace UpstreamTime {
// "2024-01-01T00:00:00", UTC, whole seconds (rounded down).
QString text(std::int64_t microseconds);
}
