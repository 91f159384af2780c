#pragma once

// GatewayServer answers Harvix's search protocol, the page of one event and
// a home page, from one catalogue, on cpp-httplib's worker threads. Search
// replies stream from a forward-only query in pieces, so that memory does
// not grow with the number of events. Each request is logged to standard
// error in the Common Log Format.

#include <QString>

#include <atomic>
#include <memory>

class Catalogue;
class Upstream;
struct SearchQuery;

namespace httplib {
class Server;
class TaskQueue;
struct Request;
struct Response;
}

class GatewayServer
{
public:
    struct Limits
    {
        // A keep-alive connection holds its worker while it lasts: enough
        // of them that a few browsers and Harvix windows rarely queue.
        int workers = 32;
        int readTimeoutSeconds = 10;
        int writeTimeoutSeconds = 30;
        int keepAliveSeconds = 5;
        int keepAliveRequests = 1000;
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

    // Starts the workers; false with a reason when the system will not give
    // them (a thread limit). Before run(), or run() starts them itself.
    bool startWorkers(QString *error);
    // Serves until stop() or halt().
    bool run();
    // Answers new requests with 503 while the ones in progress finish (for
    // at most drainSeconds), then ends run(). Safe from any thread.
    void stop(int drainSeconds = 60);
    // The two halves of stop(): new requests get 503 from here on...
    void beginStopping();
    int repliesInProgress() const { return m_inFlight; }
    // ...and run() ends now, cutting the replies still in progress.
    void halt();

    // Each search first brings the catalogue up to date from the upstream
    // for its window, unless that window was fetched in the last minutes;
    // it starts no new piece of the window after the seconds given.
    void setUpstream(Upstream *upstream, int refreshAfterMinutes, int seconds = 20);

private:
    void addRoutes();
    // The handlers, one a route, and the steps around every request.
    // True when it has answered the request itself.
    bool admit(const httplib::Request &req, httplib::Response &res);
    void closeWhileOthersWait(const httplib::Request &req, httplib::Response &res);
    void replied(const httplib::Request &req, const httplib::Response &res);
    static bool errorPage(const httplib::Request &req, httplib::Response &res);
    void search(const httplib::Request &req, httplib::Response &res);
    void eventPage(const httplib::Request &req, httplib::Response &res);
    void homePage(const httplib::Request &req, httplib::Response &res);
    struct Refresh
    {
        QString failure;        // why the upstream failed, if it did
        bool partial = false;   // the time ran out before the window was whole
    };
    Refresh refreshFromUpstream(const SearchQuery &query);
    // On an empty answer to a search beyond what the catalogue holds: the
    // days it holds (Harvix-Catalogue-Range: 2003-08-21/2026-06-30, UTC),
    // and the upstream that could not be asked (Harvix-Upstream-Failed).
    void describeCoverage(const SearchQuery &query, httplib::Response &res) const;

    const Catalogue &m_catalogue;
    std::unique_ptr<httplib::Server> m_server;
    QString m_host;
    int m_port = 0;
    Upstream *m_upstream = nullptr;
    int m_refreshAfterMinutes = 5;
    int m_upstreamSeconds = 20;
    std::atomic<bool> m_draining { false };
    std::atomic<bool> m_started { false };
    std::atomic<bool> m_finished { false };
    std::atomic<int> m_inFlight { 0 };
    std::atomic<int> m_waiting { 0 };   // connections that no worker has taken yet
    int m_workers = 32;
    httplib::TaskQueue *m_pool = nullptr;   // made by startWorkers, handed to the server
};
