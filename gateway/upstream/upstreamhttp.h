#pragma once

// UpstreamHttp: the HTTP side of an upstream. GETs below its URL, each
// body into a temporary file, at most a few at a time; an upstream that
// refused a connection is not asked again for a while. Also what every
// protocol asks alike: the window and region as a query, and what a
// reply's status means.

#include "catalogue/windows.h"
#include "upstream/upstreamclient.h"

#include <QString>
#include <QUrl>

#include <atomic>
#include <condition_variable>
#include <mutex>

class QIODevice;
class QTemporaryFile;

struct UpstreamOptions
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

class UpstreamHttp
{
public:
    using Answer = UpstreamClient::Answer;

    UpstreamHttp(const QUrl &url, const UpstreamOptions &options);

    struct Response
    {
        int status = 0;
        QString error;   // a failure of the transfer itself
    };
    // GET of path and query below the upstream's URL into the body.
    Response get(const QString &pathAndQuery, QIODevice &body);
    // Opens the temporary file, counts the request and fetches into it;
    // Events for a 200, or what answerOf says of another status.
    UpstreamClient::Asked fetch(QTemporaryFile &body, const QString &endpoint, const QString &query, int &requests);

    bool isUnreachable() const;
    const UpstreamOptions &options() const { return m_options; }

    // What a reply's status says: 200 events, 204 nothing, 413 (or a 400
    // whose words say the query matches too many events) too big; anything
    // else fails with the service's own words.
    static UpstreamClient::Asked answerOf(int status, QTemporaryFile &body, const QString &endpoint);

    // The window's bounds as the query of a service with these key names,
    // asked a second and a twentieth of a magnitude wider (a service's
    // bounds may be strict where ours are inclusive); the mirror keeps
    // exactly the window of what comes back.
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

    // A text reply cut short ends inside a line.
    static bool endsInsideLine(QTemporaryFile &body);

private:
    const QUrl m_url;
    const UpstreamOptions m_options;
    std::mutex m_gateMutex;
    std::condition_variable m_gateFree;
    int m_active = 0;
    std::atomic<qint64> m_unreachableUntilMs { 0 };
};

namespace UpstreamTime {
// "2024-01-01T00:00:00", UTC, whole seconds (rounded down).
QString text(std::int64_t microseconds);
}
