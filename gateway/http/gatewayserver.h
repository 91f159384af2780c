#pragma once

// GatewayServer answers Harvix's search protocol, the page of one event, a
// home page and, through FdsnService, the FDSN event service, from one
// catalogue, on GNU libmicrohttpd. A few threads each
// watch many connections: a client that is still sending its request, or
// idles between requests, holds none of them. Every request has limits (its
// request line, its header fields in number and size, the time it takes to
// arrive), each answered with its status and a one-line reason. Search
// replies stream from a forward-only query in pieces, so that memory does
// not grow with the number of events; a search that must first copy from
// the upstream waits on a fetcher thread of its own. Each reply, rejected
// ones included, is logged to standard error in the Common Log Format.

#include "http/fdsnservice.h"

#include <QString>

#include <atomic>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <thread>
#include <utility>
#include <unordered_set>

class Catalogue;
class JobQueue;
class Upstream;
struct SearchQuery;
struct HttpReply;
struct MHD_Connection;
struct MHD_Daemon;

class GatewayServer
{
public:
    struct Limits
    {
        // Threads that answer requests, each for many connections.
        int workers = 8;
        // A request must arrive whole within this, or gets 408.
        int requestSeconds = 10;
        // A reply that the client reads nothing of for this long is cut.
        int writeTimeoutSeconds = 30;
        // An idle keep-alive connection is closed after this. It holds no
        // thread meanwhile; long enough that a client busy with the last
        // reply rarely finds its connection closing as it asks again.
        int keepAliveSeconds = 15;
        int keepAliveRequests = 1000;
        // The request line, and the header fields in number and in bytes.
        int requestLineBytes = 8192;
        int headerFields = 100;
        int headerBytes = 16384;
        // The most events that one FDSN query may give; none by default.
        std::optional<std::int64_t> maxEvents;
    };

    explicit GatewayServer(const Catalogue &catalogue);
    GatewayServer(const Catalogue &catalogue, const Limits &limits);
    ~GatewayServer();

    // Binds to the address; port 0 takes a free one. False with a reason.
    bool bind(const QString &host, int port, QString *error);
    // Serves on a listening socket that it is given, as systemd passes one.
    bool adopt(int socket, QString *error);
    int port() const { return m_port; }
    QString host() const { return m_host; }

    // Starts serving on the threads; false with a reason when the system
    // will not give them (a thread limit). Before run(), or run() does it.
    bool startWorkers(QString *error);
    // Serves until halt().
    bool run();
    // Stopping is two halves, each safe from any thread (serve drains the
    // replies in progress between them): new requests get 503 from here on...
    void beginStopping();
    int repliesInProgress() const { return m_inFlight; }
    // ...and run() ends now, cutting the replies still in progress.
    void halt();

    // Each search first brings the catalogue up to date from the upstream
    // for its window, unless that window was fetched in the last minutes;
    // it starts no new piece of the window after the seconds given.
    void setUpstream(Upstream *upstream, int refreshAfterMinutes, int seconds = 20);

private:
    struct Exchange;
    struct Link;

    // libmicrohttpd's callbacks, each handing over to the server.
    struct Callbacks;
    friend struct Callbacks;

    // The steps of one request: its first call, the handlers (one a
    // route), and the reply going out.
    int answer(MHD_Connection *connection, Exchange &exchange, const char *path);
    bool admit(MHD_Connection *connection, Exchange &exchange, HttpReply &reply);
    // True when it has answered; false when the search waits for the upstream.
    bool search(MHD_Connection *connection, Exchange &exchange, std::string_view query, HttpReply &reply);
    void searchReply(const SearchQuery &query, Exchange &exchange, HttpReply &reply);
    void eventPage(const std::string &id, HttpReply &reply);
    void homePage(MHD_Connection *connection, HttpReply &reply);
    // The home page's map and plot, kept until the catalogue changes.
    std::shared_ptr<const std::string> homePictures();
    // The host the client asked for, or the one served on.
    QString hostOf(MHD_Connection *connection) const;
    // The request as the client asked it: http://host/target.
    QString requestUrl(MHD_Connection *connection, const Exchange &exchange) const;
    int send(MHD_Connection *connection, Exchange &exchange, HttpReply &reply);
    // Called once every reply is done, however it ended.
    void replied(Exchange &exchange, Link *link);
    // Answers 408 on connections whose request has not arrived in time.
    void watch();

    struct Refresh
    {
        QString failure;        // why the upstream failed, if it did
        bool partial = false;   // the time ran out before the window was whole
    };
    Refresh refreshFromUpstream(const SearchQuery &query);
    // Windows fetched at or after this (UTC microseconds) are fresh enough.
    std::int64_t freshSinceUs() const;
    // On an empty answer to a search beyond what the catalogue holds: the
    // days it holds (Harvix-Catalogue-Range: 2003-08-21/2026-06-30, UTC),
    // and the upstream that could not be asked (Harvix-Upstream-Failed).
    void describeCoverage(const SearchQuery &query, HttpReply &reply) const;

    const Catalogue &m_catalogue;
    const Limits m_limits;
    const FdsnService m_fdsn;
    MHD_Daemon *m_daemon = nullptr;
    int m_listening = -1;
    QString m_host;
    int m_port = 0;
    Upstream *m_upstream = nullptr;
    int m_refreshAfterMinutes = 5;
    int m_upstreamSeconds = 20;
    std::unique_ptr<JobQueue> m_fetchers;
    std::atomic<bool> m_draining { false };
    std::atomic<int> m_inFlight { 0 };

    // Open connections, for the watch on requests that are slow to arrive.
    std::mutex m_linksMutex;
    std::unordered_set<Link *> m_links;
    std::unique_ptr<std::thread> m_watcher;

    std::mutex m_picturesMutex;
    std::shared_ptr<const std::string> m_pictures;
    std::pair<qint64, qint64> m_picturesVersion;

    // run() waits here until halt().
    std::mutex m_haltMutex;
    std::condition_variable m_haltedChanged;
    bool m_halted = false;
};
