#pragma once

// HTTP on GNU libmicrohttpd, knowing nothing of what it serves: a few
// threads each watch many connections, so that a client still sending its
// request, or idling between requests, holds none of them. Every request
// has limits (its request line, its header fields in number and size, the
// time it takes to arrive), each answered with its status and a one-line
// reason; the rest go to the handler. Streamed replies go out as the
// client takes them; a reply that must wait (on the network) waits on a
// thread of its own with its connection suspended. Each reply, rejected
// ones included, is logged to standard error in the Common Log Format.

#include "http/httpreply.h"

#include <QString>

#include <atomic>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <thread>
#include <unordered_set>

class JobQueue;
struct MHD_Connection;
struct MHD_Daemon;

// A request that passed the limits: GET or HEAD.
struct HttpRequest
{
    std::string_view path;      // decoded
    std::string_view query;     // as sent, still percent-encoded
    std::string_view target;    // path and query as sent
    QString host;               // the host the client asked for, or the one served on

    // The request as the client asked it: http://host/target.
    QString url() const;
};

class HttpHandler
{
public:
    virtual ~HttpHandler() = default;
    // Called on the server's threads, several at once. An exception is
    // answered with 500 and its text logged.
    virtual void answer(const HttpRequest &request, HttpReply &reply) = 0;
};

class HttpTransport
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
    };

    HttpTransport(const Limits &limits, HttpHandler &handler);
    ~HttpTransport();

    // Binds to the address; port 0 takes a free one. False with a reason.
    bool bind(const QString &host, int port, QString *error);
    // Serves on a listening socket that it is given, as systemd passes one.
    bool adopt(int socket, QString *error);
    int port() const { return m_port; }
    QString host() const { return m_host; }

    // Threads on which replies wait (HttpReply::defer); with none, a
    // deferred reply is made at once without waiting. Before startWorkers().
    void setWaitingThreads(int count) { m_waitingThreads = count; }

    // Starts serving on the threads; false with a reason when the system
    // will not give them (a thread limit). Before run(), or run() does it.
    bool startWorkers(QString *error);
    // Serves until halt().
    bool run();
    // Stopping is two halves, each safe from any thread (serve drains the
    // replies in progress between them): new requests get 503 from here on...
    void beginStopping() { m_draining = true; }
    int repliesInProgress() const { return m_inFlight; }
    // ...and run() ends now, cutting the replies still in progress.
    void halt();

private:
    struct Exchange;
    struct Link;

    // libmicrohttpd's callbacks, each handing over to the transport.
    struct Callbacks;
    friend struct Callbacks;

    // The steps of one request: its first call, the handler, and the
    // reply going out.
    int answer(MHD_Connection *connection, Exchange &exchange, const char *path);
    bool admit(MHD_Connection *connection, Exchange &exchange, HttpReply &reply);
    // Runs a part of the handler, answering 500 if it throws.
    template<typename Step>
    void guarded(const Exchange &exchange, HttpReply &reply, Step step);
    // Suspends the connection while the reply waits; false when nothing
    // waits (stopping, or no threads to wait on).
    bool wait(MHD_Connection *connection, Exchange &exchange, HttpReply &reply);
    // Completes a deferred reply, its work done or not.
    void finish(const Exchange &exchange, HttpReply &reply);
    int send(MHD_Connection *connection, Exchange &exchange, HttpReply &reply);
    // Called once every reply is done, however it ended.
    void replied(Exchange &exchange, Link *link);
    // Answers 408 on connections whose request has not arrived in time.
    void watch();

    const Limits m_limits;
    HttpHandler &m_handler;
    MHD_Daemon *m_daemon = nullptr;
    int m_listening = -1;
    QString m_host;
    int m_port = 0;
    int m_waitingThreads = 0;
    std::unique_ptr<JobQueue> m_waiting;
    std::atomic<bool> m_draining { false };
    std::atomic<int> m_inFlight { 0 };

    // Open connections, for the watch on requests that are slow to arrive.
    std::mutex m_linksMutex;
    std::unordered_set<Link *> m_links;
    std::unique_ptr<std::thread> m_watcher;

    // run() waits here until halt().
    std::mutex m_haltMutex;
    std::condition_variable m_haltedChanged;
    bool m_halted = false;
};
