#include "http/httptransport.h"
#include "http/httptransportdetail.h"

#include "http/accesslog.h"
#include "http/jobqueue.h"

#include <microhttpd.h>

#include <arpa/inet.h>
#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <functional>
#include <optional>
#include <system_error>
#include <vector>

using namespace HttpTransportDetail;

HttpTransport::HttpTransport(const Limits &limits, HttpHandler &handler)
    : m_limits(limits)
    , m_handler(handler)
{
}

QString HttpRequest::url() const
{
    return QStringLiteral("http://%1%2").arg(host, QString::fromUtf8(target.data(), qsizetype(target.size())));
}

HttpTransport::~HttpTransport()
{
    halt();
    if (m_listening >= 0)
        ::close(m_listening);
}

int HttpTransport::answer(MHD_Connection *connection, Exchange &exchange, const char *path)
{
    HttpReply reply;
    if (exchange.resumed) {
        // Back from waiting: the rest of the reply.
        exchange.resumed = false;
        reply = std::move(*exchange.waited);
        exchange.waited.reset();
        finish(exchange, reply);
        return send(connection, exchange, reply);
    }
    if (admit(connection, exchange, reply)) {
        if (exchange.method != "GET" && exchange.method != "HEAD")
            reply.headers.emplace_back("Connection", "close");
        return send(connection, exchange, reply);
    }
    // The library hands the path on decoded, as a C string: one that
    // holds a NUL would be cut at it and read as another.
    const std::string_view rawPath = std::string_view(exchange.target).substr(0, exchange.target.find('?'));
    for (std::size_t at = rawPath.find('%'); at != std::string_view::npos; at = rawPath.find('%', at + 1)) {
        if (rawPath.substr(at + 1, 2) == "00") {
            reply.text(400, QStringLiteral("a path holds no NUL (%00)"));
            return send(connection, exchange, reply);
        }
    }
    HttpRequest request;
    request.path = path;
    request.target = exchange.target;
    if (const std::size_t mark = exchange.target.find('?'); mark != std::string::npos)
        request.query = request.target.substr(mark + 1);
    const char *host = MHD_lookup_connection_value(connection, MHD_HEADER_KIND, MHD_HTTP_HEADER_HOST);
    request.host = host && *host ? QString::fromLatin1(host) : QStringLiteral("%1:%2").arg(m_host).arg(m_port);
    guarded(exchange, reply, [&] { m_handler.answer(request, reply); });
    if (reply.finish) {
        if (wait(connection, exchange, reply))
            return MHD_YES;
        finish(exchange, reply);
    }
    return send(connection, exchange, reply);
}

void HttpTransport::finish(const Exchange &exchange, HttpReply &reply)
{
    const std::function<void(HttpReply &)> then = std::move(reply.finish);
    reply.finish = nullptr;
    reply.work = nullptr;
    guarded(exchange, reply, [&] { then(reply); });
}

template<typename Step>
void HttpTransport::guarded(const Exchange &exchange, HttpReply &reply, Step step)
{
    try {
        step();
    } catch (const std::exception &failure) {
        std::fprintf(stderr, "harvix-gateway: %s %s failed: %s\n", AccessLog::escaped(exchange.method).c_str(),
                     AccessLog::escaped(exchange.target).c_str(), failure.what());
        reply = HttpReply();
        reply.text(500, QStringLiteral("the gateway failed on this request"));
    }
}

bool HttpTransport::wait(MHD_Connection *connection, Exchange &exchange, HttpReply &reply)
{
    if (!m_waiting)
        return false;
    // The connection sleeps while a waiting thread does the work; the
    // library calls answer() again once it is resumed.
    std::function<void()> work = std::move(reply.work);
    reply.work = nullptr;
    exchange.waited = std::move(reply);
    MHD_suspend_connection(connection);
    const bool queued = m_waiting->enqueue([connection, &exchange, work = std::move(work)] {
        if (work)
            work();
        exchange.resumed = true;
        MHD_resume_connection(connection);
    });
    if (!queued) {
        // Stopping: the reply is finished without its work.
        exchange.resumed = true;
        MHD_resume_connection(connection);
    }
    return true;
}

// The first call of every request: it counts as in progress, or is turned
// away with the limit it broke.
bool HttpTransport::admit(MHD_Connection *connection, Exchange &exchange, HttpReply &reply)
{
    Link *link = exchange.link;
    if (link) {
        std::lock_guard<std::mutex> lock(m_linksMutex);
        if (link->timedOut) {
            // Answered 408 by the watch while the last bytes came in.
            reply.status = HttpReply::Unanswered;
            return true;
        }
        link->inRequest = true;
    }
    ++m_inFlight;
    exchange.counted = true;
    if (m_draining) {
        reply.headers.emplace_back("Connection", "close");
        reply.text(503, QStringLiteral("the gateway is stopping"));
        return true;
    }
    if (exchange.target.size() > std::size_t(m_limits.requestLineBytes)) {
        reply.headers.emplace_back("Connection", "close");
        reply.text(414, QStringLiteral("the request target is %1 bytes long; the gateway takes at most %2")
                            .arg(exchange.target.size()).arg(m_limits.requestLineBytes));
        return true;
    }
    struct Count { int fields = 0; std::size_t bytes = 0; } count;
    MHD_get_connection_values(connection, MHD_HEADER_KIND,
        [](void *context, MHD_ValueKind, const char *key, const char *value) {
            auto *count = static_cast<Count *>(context);
            ++count->fields;
            count->bytes += std::strlen(key) + (value ? std::strlen(value) : 0) + 4;
            return MHD_YES;
        }, &count);
    if (count.fields > m_limits.headerFields || count.bytes > std::size_t(m_limits.headerBytes)) {
        reply.headers.emplace_back("Connection", "close");
        reply.text(431, QStringLiteral("the request has %1 header fields in %2 bytes; the gateway takes at most %3 "
                                       "fields in %4 bytes")
                            .arg(count.fields).arg(count.bytes).arg(m_limits.headerFields).arg(m_limits.headerBytes));
        return true;
    }
    if (exchange.method == "GET" || exchange.method == "HEAD")
        return false;
    reply.headers.emplace_back("Allow", "GET, HEAD");
    reply.text(405, QStringLiteral("method %1 is not allowed: use GET or HEAD")
                        .arg(QString::fromStdString(AccessLog::escaped(exchange.method))));
    return true;
}

int HttpTransport::send(MHD_Connection *connection, Exchange &exchange, HttpReply &reply)
{
    if (reply.status == HttpReply::Unanswered)
        return MHD_NO;
    MHD_Response *response = nullptr;
    if (reply.stream && exchange.method == "HEAD") {
        // The headers of the reply that GET would stream, with its length:
        // the body is made and counted, never sent (libmicrohttpd would end
        // a chunked reply to HEAD with a last chunk that the client takes
        // for the start of its next reply).
        std::uint64_t length = 0;
        std::string piece;
        for (bool last = false; !last;) {
            piece.clear();
            if (!reply.stream(piece, last))
                break;
            length += piece.size();
        }
        response = MHD_create_response_from_callback(length, ChunkBytes, &Callbacks::none, nullptr, nullptr);
    } else if (reply.stream) {
        auto *stream = new Callbacks::Stream { std::move(reply.stream), &exchange.bytes, {}, 0, false };
        response = MHD_create_response_from_callback(MHD_SIZE_UNKNOWN, ChunkBytes, &Callbacks::read, stream,
                                                     &Callbacks::free);
    } else {
        if (exchange.method != "HEAD")
            exchange.bytes = reply.body.size();
        response = MHD_create_response_from_buffer(reply.body.size(), reply.body.data(), MHD_RESPMEM_MUST_COPY);
    }
    if (!response)
        return MHD_NO;
    if (reply.status != 204)   // no content, and so no type
        MHD_add_response_header(response, MHD_HTTP_HEADER_CONTENT_TYPE, reply.type);
    for (const auto &[name, value] : reply.headers)
        MHD_add_response_header(response, name.c_str(), value.c_str());
    // A connection serves so many requests, then is closed.
    if (exchange.link && ++exchange.link->served >= m_limits.keepAliveRequests)
        MHD_add_response_header(response, MHD_HTTP_HEADER_CONNECTION, "close");
    exchange.status = reply.status;
    MHD_set_connection_option(connection, MHD_CONNECTION_OPTION_TIMEOUT, unsigned(m_limits.writeTimeoutSeconds));
    const MHD_Result queued = MHD_queue_response(connection, unsigned(reply.status), response);
    MHD_destroy_response(response);
    return queued;
}

void HttpTransport::replied(Exchange &exchange, Link *link)
{
    if (link) {
        std::lock_guard<std::mutex> lock(m_linksMutex);
        link->inRequest = false;
        link->waitingSince = Clock::now();
    }
    if (exchange.counted) {
        exchange.counted = false;
        --m_inFlight;
    }
    if (exchange.status == 0 || (link && link->timedOut))
        return;   // a request cut before any reply, or answered by the watch
    const std::string request = exchange.method.empty()
        ? std::string("-")
        : AccessLog::escaped(exchange.method) + ' ' + AccessLog::escaped(exchange.target) + ' ' + AccessLog::escaped(exchange.version);
    AccessLog::write(link ? link->address : std::string("-"), request, exchange.status,
            exchange.method == "HEAD" ? 0 : exchange.bytes);
}

void HttpTransport::watch()
{
    const std::string body = QStringLiteral("the request did not arrive whole within %1 seconds\n")
                                 .arg(m_limits.requestSeconds).toStdString();
    const std::string reply = "HTTP/1.1 408 Request Timeout\r\nConnection: close\r\nContent-Type: "
        + std::string(textType) + "\r\nContent-Length: " + std::to_string(body.size()) + "\r\n\r\n" + body;
    std::unique_lock<std::mutex> halted(m_haltMutex);
    while (!m_haltedChanged.wait_for(halted, std::chrono::milliseconds(250), [this] { return m_halted; })) {
        // A new connection has its seconds from accept; one kept alive
        // after a reply may first idle (and is closed quietly by the
        // library if it only idles), then has its seconds as well.
        const Clock::time_point now = Clock::now();
        const Clock::time_point due = now - std::chrono::seconds(m_limits.requestSeconds);
        const Clock::time_point keptDue = due - std::chrono::seconds(m_limits.keepAliveSeconds);
        std::lock_guard<std::mutex> lock(m_linksMutex);
        for (Link *link : m_links) {
            if (link->inRequest || link->timedOut || link->socket < 0
                || link->waitingSince > (link->served > 0 ? keptDue : due))
                continue;
            // The library reads nothing more once the socket is shut; it
            // then closes the connection as the client's end.
            link->timedOut = true;
            ::send(link->socket, reply.data(), reply.size(), MSG_NOSIGNAL | MSG_DONTWAIT);
            ::shutdown(link->socket, SHUT_RDWR);
            AccessLog::write(link->address, "-", 408, body.size());
        }
    }
}

bool HttpTransport::bind(const QString &host, int port, QString *error)
{
    m_host = host;
    addrinfo hints {};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    hints.ai_flags = AI_PASSIVE | AI_NUMERICSERV;
    addrinfo *found = nullptr;
    const std::string service = std::to_string(port);
    const int looked = getaddrinfo(host.toStdString().c_str(), service.c_str(), &hints, &found);
    const auto fail = [&](const QString &why) {
        *error = QStringLiteral("cannot listen on %1:%2: %3").arg(host).arg(port).arg(why);
        return false;
    };
    if (looked != 0)
        return fail(QString::fromLocal8Bit(gai_strerror(looked)));
    int socket = -1;
    int failure = 0;
    for (addrinfo *address = found; address && socket < 0; address = address->ai_next) {
        socket = ::socket(address->ai_family, address->ai_socktype | SOCK_CLOEXEC, address->ai_protocol);
        if (socket < 0) {
            failure = errno;
            continue;
        }
        // SO_REUSEADDR only, not SO_REUSEPORT, so that a second gateway is
        // told that the port is taken rather than sharing it.
        const int yes = 1;
        setsockopt(socket, SOL_SOCKET, SO_REUSEADDR, &yes, sizeof yes);
        if (::bind(socket, address->ai_addr, address->ai_addrlen) != 0 || ::listen(socket, 128) != 0) {
            failure = errno;
            ::close(socket);
            socket = -1;
        }
    }
    freeaddrinfo(found);
    if (socket < 0)
        return fail(QString::fromLocal8Bit(std::strerror(failure)));
    QString ignored;
    const QString named = m_host;
    if (!adopt(socket, &ignored))
        return fail(ignored);
    m_host = named;
    return true;
}

bool HttpTransport::adopt(int socket, QString *error)
{
    int listening = 0;
    socklen_t length = sizeof listening;
    sockaddr_storage address {};
    socklen_t addressLength = sizeof address;
    if (getsockopt(socket, SOL_SOCKET, SO_ACCEPTCONN, &listening, &length) != 0 || !listening
        || getsockname(socket, reinterpret_cast<sockaddr *>(&address), &addressLength) != 0) {
        *error = QStringLiteral("the socket passed as file descriptor %1 is not a listening socket").arg(socket);
        return false;
    }
    m_host = QString::fromStdString(addressOf(reinterpret_cast<const sockaddr *>(&address)));
    m_port = ntohs(address.ss_family == AF_INET6 ? reinterpret_cast<const sockaddr_in6 *>(&address)->sin6_port
                                                 : reinterpret_cast<const sockaddr_in *>(&address)->sin_port);
    // Every thread waits on it, and only one takes each connection.
    fcntl(socket, F_SETFL, fcntl(socket, F_GETFL) | O_NONBLOCK);
    m_listening = socket;
    return true;
}

bool HttpTransport::startWorkers(QString *error)
{
    if (m_daemon)
        return true;
    const auto refuse = [&](const QString &why) {
        *error = QStringLiteral("cannot start %1 workers: %2 (try fewer with --workers)").arg(m_limits.workers).arg(why);
        return false;
    };
    try {
        if (m_waitingThreads > 0)
            m_waiting = std::make_unique<JobQueue>(m_waitingThreads);
        m_watcher = std::make_unique<std::thread>(&HttpTransport::watch, this);
    } catch (const std::system_error &failure) {
        m_waiting.reset();
        return refuse(QString::fromLocal8Bit(failure.code().message().c_str()));
    }
    {
        std::lock_guard<std::mutex> lock(startMessageMutex);
        startMessage.clear();
    }
    const unsigned flags = MHD_USE_EPOLL_INTERNAL_THREAD | MHD_ALLOW_SUSPEND_RESUME | MHD_USE_ERROR_LOG;
    m_daemon = MHD_start_daemon(
        flags, 0, nullptr, nullptr, &Callbacks::answer, this,
        MHD_OPTION_LISTEN_SOCKET, MHD_socket(m_listening),
        MHD_OPTION_THREAD_POOL_SIZE, unsigned(m_limits.workers),
        MHD_OPTION_CONNECTION_MEMORY_LIMIT, ConnectionMemory,
        MHD_OPTION_CONNECTION_TIMEOUT, unsigned(m_limits.keepAliveSeconds),
        MHD_OPTION_URI_LOG_CALLBACK, &Callbacks::begin, this,
        MHD_OPTION_NOTIFY_COMPLETED, &Callbacks::completed, this,
        MHD_OPTION_NOTIFY_CONNECTION, &Callbacks::connection, this,
        MHD_OPTION_EXTERNAL_LOGGER, &Callbacks::message, this,
        MHD_OPTION_END);
    if (!m_daemon) {
        std::string why;
        {
            std::lock_guard<std::mutex> lock(startMessageMutex);
            why = startMessage;
        }
        halt();
        return refuse(why.empty() ? QStringLiteral("the system refused") : QString::fromLocal8Bit(why.c_str()));
    }
    return true;
}

bool HttpTransport::run()
{
    QString error;
    if (!m_daemon && !startWorkers(&error)) {
        std::fprintf(stderr, "harvix-gateway: %s\n", qPrintable(error));
        return false;
    }
    std::unique_lock<std::mutex> lock(m_haltMutex);
    m_haltedChanged.wait(lock, [this] { return m_halted; });
    return true;
}

void HttpTransport::halt()
{
    m_draining = true;
    {
        std::lock_guard<std::mutex> lock(m_haltMutex);
        m_halted = true;
    }
    m_haltedChanged.notify_all();
    if (m_watcher) {
        m_watcher->join();
        m_watcher.reset();
    }
    // The waiting threads finish first, and take no more: the replies they
    // hold are resumed (the library may not stop with a connection
    // suspended), and a reply from now on is finished without its work.
    // They are freed once the library, whose threads ask them, has stopped.
    if (m_waiting)
        m_waiting->shutdown();
    if (m_daemon) {
        MHD_stop_daemon(m_daemon);
        m_daemon = nullptr;
        // The library closed the socket it was given.
        m_listening = -1;
    }
    m_waiting.reset();
}
