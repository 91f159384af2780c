#pragma once

// An upstream is a live catalogue service that the gateway copies from:
// GeoNet's quake search service, or the FDSN event service of any agency.
// fetch() brings one window of time and magnitude into the catalogue as
// one transaction, splitting it where the service caps a reply, and records
// the window as fetched; on any failure nothing of the window is stored.

#include "formats/readoutcome.h"

#include <QString>
#include <QIODevice>
#include <QTemporaryFile>
#include <QUrl>

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <vector>

class Catalogue;

struct UpstreamWindow
{
    std::int64_t startUs = 0;   // UTC, included
    std::int64_t endUs = 0;     // UTC, excluded
    std::optional<double> minMagnitude;
    std::optional<double> maxMagnitude;
    std::optional<std::int64_t> updatedAfterUs;
};

struct FetchReport
{
    qint64 added = 0;
    qint64 updated = 0;
    qint64 removed = 0;
    qint64 skipped = 0;
    int requests = 0;
    QString error;   // empty on success

    bool failed() const { return !error.isEmpty(); }
};

class Upstream
{
public:
    struct Options
    {
        int timeoutSeconds = 20;      // for a whole fetch
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
    FetchReport fetch(const Catalogue &catalogue, const UpstreamWindow &window);

protected:
    Upstream(const QUrl &url, const Options &options) : m_url(url), m_options(options) {}

    // Reads every event of the window, in as many requests as it takes,
    // into the sink. False with report.error set on any failure.
    virtual bool collect(const UpstreamWindow &window, Clock::time_point deadline,
                         const RowSink &sink, FetchReport &report) = 0;

public:
    struct Response
    {
        int status = 0;
        QString error;   // a failure of the transfer itself
    };

protected:
    // GET of path and query below the upstream's URL, the body into a
    // temporary file that the reader then gets; two at a time at most.
    Response get(const QString &pathAndQuery, Clock::time_point deadline, QIODevice &body);

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
    bool fetchInto(QTemporaryFile &body, const QString &pathAndQuery, Clock::time_point deadline,
                   Response &response, FetchReport &report);

    // Puts the two halves of a window that a service refused as too big on
    // the pending list; false, with report.error, when it is too short.
    static bool halve(const UpstreamWindow &window, std::vector<UpstreamWindow> &pending,
                      const QString &why, FetchReport &report);

    // A text reply cut short ends inside a line.
    static bool endsInsideLine(QTemporaryFile &body);

    // The reader's outcome as a fetch error, if it is one.
    static bool acceptOutcome(const ReadOutcome &outcome, const QString &expectedFormat,
                              FetchReport &report);

    QUrl m_url;
    Options m_options;

private:
    std::mutex m_gateMutex;
    std::condition_variable m_gateFree;
    int m_active = 0;
};

namespace UpstreamTime {
// "2024-01-01T00:00:00", UTC, whole seconds (rounded down).
QString text(std::int64_t microseconds);
}
