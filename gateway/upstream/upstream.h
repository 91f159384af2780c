#pragma once

// An upstream is a live catalogue service that the gateway copies from:
// GeoNet's quake search service, or the FDSN event service of any agency.
// fetch() brings one window of time and magnitude into the catalogue, in
// as many pieces as the service's cap on a reply asks for, each stored and
// recorded as fetched in a transaction of its own.

#include "catalogue/catalogue.h"
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
    int confirmed = 0;       // events missing from a reply that narrower requests confirmed gone
    bool complete = true;    // false when the time allowed ran out first
    QString error;           // empty on success
    // The upstream refuses even the smallest piece as too big: asking the
    // same again will not help, so a sync goes on past the window.
    bool refusedAsTooBig = false;

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
        // Events in one reply: a quake search window that counts more is
        // split, and a reply that holds this many is taken as cut short.
        int quakeSearchLimit = 20000;
        qint64 maxReplyBytes = qint64(1) << 30;
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
    // holds exactly what the upstream holds in its box (unless the window
    // asks only for what changed after a time): but a service may cut a
    // reply short without saying so, so an event of this upstream that a
    // reply lacks is let go only once a narrower request that must hold it
    // (its half of the piece, down to its own second) lacks it too. On a
    // failure the pieces stored before it stay, and nothing of the failed
    // one is stored.
    FetchReport fetch(const Catalogue &catalogue, const UpstreamWindow &window, const FetchPlan &plan = FetchPlan());

    int timeoutSeconds() const { return m_options.timeoutSeconds; }
    // Whether a connection failed lately, so that it is not asked now.
    bool isUnreachable() const;

protected:
    Upstream(const QUrl &url, const Options &options) : m_url(url), m_options(options) {}

    enum class Answer { Events, Nothing, TooBig, Failed };
    // What a reply's status says: 200 events, 204 nothing, 413 (or a 400
    // whose words say the query matches too many events) too big; anything
    // else fails with the service's own words.
    Answer answerOf(int status, QTemporaryFile &body, const QString &endpoint, FetchReport &report);
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
        // A region as GeoNet's quake search asks (bbox, its east beyond 180
        // across it; mindepth, maxdepth), or as an FDSN service does.
        enum class Region { QuakeSearch, Fdsn } region;
    };
    static QString windowQuery(const UpstreamWindow &window, const QueryKeys &keys);
    static QString regionQuery(const SearchRegion &region, QueryKeys::Region style);

    // Opens a temporary file for the body, counts the request and fetches
    // it; false, with report.error, when the transfer itself failed.
    bool fetchInto(QTemporaryFile &body, const QString &pathAndQuery, Response &response, FetchReport &report);

    // A text reply cut short ends inside a line.
    static bool endsInsideLine(QTemporaryFile &body);

    QUrl m_url;
    Options m_options;

private:
    using Unseen = Catalogue::Writer::Unseen;
    enum class Stored { Done, Capped, Failed };
    // Stores one piece (body null: the upstream holds nothing there), and,
    // when record is set, records it and the larger pieces that it
    // completes as fetched. unseen gets this upstream's events in the
    // piece's box that the reply lacks.
    Stored store(const Catalogue &catalogue, const std::optional<UpstreamWindow> &piece, QIODevice *body,
                 std::optional<qint64> expected, const std::vector<UpstreamWindow> &whole, bool record,
                 FetchReport &report, std::vector<Unseen> *unseen = nullptr);
    // Asks for a window and stores what comes back (see store): Failed when
    // either failed, TooBig when the service refuses the window or its reply
    // was cut at the limit (nothing stored), else Events or Nothing.
    Answer fetchWindow(const Catalogue &catalogue, const UpstreamWindow &window,
                       const std::vector<UpstreamWindow> &whole, bool record, FetchReport &report,
                       std::vector<Unseen> &unseen);
    // Asks narrower windows inside this one for the events that a reply of
    // it lacked, and lets go of those that they lack too.
    bool confirmGone(const Catalogue &catalogue, const UpstreamWindow &window, std::vector<Unseen> missing,
                     FetchReport &report);
    bool letGo(const Catalogue &catalogue, const std::vector<Unseen> &gone, FetchReport &report);

    std::mutex m_gateMutex;
    std::condition_variable m_gateFree;
    int m_active = 0;
    std::atomic<qint64> m_unreachableUntilMs { 0 };
};

namespace UpstreamTime {
// "2024-01-01T00:00:00", UTC, whole seconds (rounded down).
QString text(std::int64_t microseconds);
}
