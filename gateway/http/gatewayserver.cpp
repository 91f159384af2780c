#include "http/gatewayserver.h"

#include "catalogue/catalogue.h"
#include "formats/fieldparsing.h"
#include "formats/quakeml10writer.h"
#include "catalogue/eventquery.h"
#include "geo/places.h"
#include "geo/shippeddata.h"
#include "http/accesslog.h"
#include "http/fdsnservice.h"
#include "http/httpreply.h"
#include "http/jobqueue.h"
#include "http/pages.h"
#include "http/searchquery.h"
#include "upstream/upstream.h"

#include <QDateTime>

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

namespace {

// A search reply is made in pieces of about this size.
constexpr std::size_t ChunkBytes = 64 * 1024;
// What libmicrohttpd may hold for one connection: its request and the
// part of the reply being written. Requests beyond it are refused by the
// library itself; those within it meet the gateway's own, smaller limits.
constexpr std::size_t ConnectionMemory = 48 * 1024;
// Threads that wait for the upstream on behalf of searches.
constexpr int FetcherCount = 4;

const char *const xmlType = HttpReply::xmlType;
const char *const htmlType = HttpReply::htmlType;
const char *const textType = HttpReply::textType;

using Clock = std::chrono::steady_clock;

std::string addressOf(const sockaddr *address)
{
    char text[INET6_ADDRSTRLEN] = {};
    if (address && address->sa_family == AF_INET6)
        inet_ntop(AF_INET6, &reinterpret_cast<const sockaddr_in6 *>(address)->sin6_addr, text, sizeof text);
    else if (address && address->sa_family == AF_INET)
        inet_ntop(AF_INET, &reinterpret_cast<const sockaddr_in *>(address)->sin_addr, text, sizeof text);
    return text[0] ? std::string(text) : std::string("-");
}

// What libmicrohttpd last said on this thread: the status of a request it
// refused itself (a request line or header fields beyond its memory), or,
// while the server starts, why it could not.
thread_local int refusedStatus = 0;
thread_local std::uint64_t refusedBytes = 0;
std::mutex startMessageMutex;
std::string startMessage;

} // namespace

// One connection, from accept to close.
struct GatewayServer::Link
{
    int socket = -1;
    std::string address;
    // Since when the connection waits for a request, and whether one has
    // arrived whole; the watch answers 408 to those that take too long.
    Clock::time_point waitingSince = Clock::now();
    bool inRequest = false;
    bool timedOut = false;
    std::atomic<int> served { 0 };   // replies sent on it
};

// One request and its reply.
struct GatewayServer::Exchange
{
    Link *link = nullptr;
    std::string target;             // as sent, still percent-encoded
    std::string method;             // empty until the request has arrived whole
    std::string version;
    int status = 0;
    std::uint64_t bytes = 0;        // of the body, as written
    bool counted = false;           // counts as a reply in progress
    // A search that waits for the upstream, and what the upstream said.
    std::optional<SearchQuery> waiting;
    Refresh refresh;
    bool fetched = false;
};

struct GatewayServer::Callbacks
{
    static MHD_Result answer(void *server, MHD_Connection *connection, const char *path, const char *method,
                             const char *version, const char *, size_t *uploadSize, void **context)
    {
        auto *exchange = static_cast<Exchange *>(*context);
        auto *self = static_cast<GatewayServer *>(server);
        if (exchange->method.empty()) {
            // The header fields have arrived. The library keeps a connection
            // open only for a reply given once the request is read whole, so
            // GET and HEAD are answered on the next call; other methods now,
            // with their bodies left unread and the connection closed.
            exchange->method = method;
            exchange->version = version;
            if (exchange->method == "GET" || exchange->method == "HEAD")
                return MHD_YES;
        } else if (*uploadSize != 0) {
            // A body, which no route takes, is read and dropped.
            *uploadSize = 0;
            return MHD_YES;
        }
        return MHD_Result(self->answer(connection, *exchange, path));
    }

    // The request line has arrived: the exchange begins.
    static void *begin(void *, const char *target, MHD_Connection *connection)
    {
        auto *exchange = new Exchange;
        exchange->target = target;
        if (const MHD_ConnectionInfo *info = MHD_get_connection_info(connection, MHD_CONNECTION_INFO_SOCKET_CONTEXT))
            exchange->link = static_cast<Link *>(info->socket_context);
        return exchange;
    }

    static void completed(void *server, MHD_Connection *connection, void **context, MHD_RequestTerminationCode)
    {
        auto *exchange = static_cast<Exchange *>(*context);
        *context = nullptr;
        if (!exchange)
            return;
        auto *self = static_cast<GatewayServer *>(server);
        if (exchange->status == 0 && refusedStatus != 0) {
            // Refused by the library before the gateway saw the request.
            exchange->status = refusedStatus;
            exchange->bytes = refusedBytes;
            exchange->method.clear();
            refusedStatus = 0;
        }
        self->replied(*exchange, exchange->link);
        MHD_set_connection_option(connection, MHD_CONNECTION_OPTION_TIMEOUT,
                                  unsigned(self->m_limits.keepAliveSeconds));
        delete exchange;
    }

    static void connection(void *server, MHD_Connection *connection, void **socketContext,
                           MHD_ConnectionNotificationCode code)
    {
        auto *self = static_cast<GatewayServer *>(server);
        if (code == MHD_CONNECTION_NOTIFY_STARTED) {
            auto *link = new Link;
            if (const MHD_ConnectionInfo *info = MHD_get_connection_info(connection, MHD_CONNECTION_INFO_CONNECTION_FD))
                link->socket = info->connect_fd;
            if (const MHD_ConnectionInfo *info = MHD_get_connection_info(connection, MHD_CONNECTION_INFO_CLIENT_ADDRESS))
                link->address = addressOf(info->client_addr);
            std::lock_guard<std::mutex> lock(self->m_linksMutex);
            self->m_links.insert(link);
            *socketContext = link;
            return;
        }
        auto *link = static_cast<Link *>(*socketContext);
        if (!link)
            return;
        if (refusedStatus != 0 && !link->timedOut) {
            // A request line too long for the library: it never began.
            AccessLog::write(link->address, "-", refusedStatus, refusedBytes);
            refusedStatus = 0;
        }
        {
            std::lock_guard<std::mutex> lock(self->m_linksMutex);
            self->m_links.erase(link);
        }
        delete link;
        *socketContext = nullptr;
    }

    // The library's own messages: the status of a request it refused, or
    // why it could not start; nothing of it reaches the log otherwise.
    static void message(void *, const char *format, va_list arguments)
    {
        char text[512];
        std::vsnprintf(text, sizeof text, format, arguments);
        unsigned status = 0;
        if (const char *mark = std::strstr(text, "HTTP response code is ");
            mark && std::sscanf(mark, "HTTP response code is %u", &status) == 1) {
            refusedStatus = int(status);
            // The library's refusal is a fixed page: its length follows the
            // status, within ('...').
            const char *open = std::strstr(mark, "('");
            const char *close = std::strstr(mark, "')");
            refusedBytes = open && close && close > open ? std::uint64_t(close - open - 2) : 0;
            return;
        }
        std::lock_guard<std::mutex> lock(startMessageMutex);
        startMessage = text;
        while (!startMessage.empty() && (startMessage.back() == '\n' || startMessage.back() == '.'))
            startMessage.pop_back();
    }

    // A streamed reply: pieces made as the connection can take them.
    struct Stream
    {
        std::function<bool(std::string &, bool &)> next;
        std::uint64_t *bytes;
        std::string piece;
        std::size_t offset = 0;
        bool last = false;
    };

    static ssize_t read(void *context, uint64_t, char *buffer, size_t room)
    {
        auto *stream = static_cast<Stream *>(context);
        while (stream->offset == stream->piece.size()) {
            if (stream->last)
                return MHD_CONTENT_READER_END_OF_STREAM;
            stream->piece.clear();
            stream->offset = 0;
            // A read that fails half-way ends the transfer unfinished, so
            // that the client sees a broken reply rather than a short result.
            if (!stream->next(stream->piece, stream->last))
                return MHD_CONTENT_READER_END_WITH_ERROR;
            *stream->bytes += stream->piece.size();
        }
        const std::size_t n = std::min(room, stream->piece.size() - stream->offset);
        std::memcpy(buffer, stream->piece.data() + stream->offset, n);
        stream->offset += n;
        return ssize_t(n);
    }

    static void free(void *context) { delete static_cast<Stream *>(context); }

    // The body of a reply to HEAD: nothing is ever read.
    static ssize_t none(void *, uint64_t, char *, size_t) { return MHD_CONTENT_READER_END_OF_STREAM; }
};

GatewayServer::GatewayServer(const Catalogue &catalogue)
    : GatewayServer(catalogue, Limits())
{
}

GatewayServer::GatewayServer(const Catalogue &catalogue, const Limits &limits)
    : m_catalogue(catalogue)
    , m_limits(limits)
    , m_fdsn(catalogue, limits.maxEvents)
{
}

GatewayServer::~GatewayServer()
{
    halt();
    if (m_listening >= 0)
        ::close(m_listening);
}

int GatewayServer::answer(MHD_Connection *connection, Exchange &exchange, const char *path)
{
    HttpReply reply;
    try {
        if (exchange.fetched) {
            // Back from the upstream.
            exchange.fetched = false;
            searchReply(*exchange.waiting, exchange, reply);
            return send(connection, exchange, reply);
        }
        if (admit(connection, exchange, reply)) {
            if (exchange.method != "GET" && exchange.method != "HEAD")
                reply.headers.emplace_back("Connection", "close");
            return send(connection, exchange, reply);
        }
        // The query as sent, still percent-encoded.
        const std::size_t mark = exchange.target.find('?');
        const std::string_view query = mark == std::string::npos
            ? std::string_view() : std::string_view(exchange.target).substr(mark + 1);
        if (std::strcmp(path, "/services/quake/search") == 0) {
            if (!search(connection, exchange, query, reply))
                return MHD_YES;
        } else if (constexpr std::string_view ref = "/services/quake/quakeml/1.0.1/ref/";
                   std::string_view(path).substr(0, ref.size()) == ref) {
            eventPage(std::string(path + ref.size()), reply);
        } else if (std::string_view(path).substr(0, std::strlen(FdsnService::root)) == FdsnService::root) {
            m_fdsn.answer(std::string_view(path).substr(std::strlen(FdsnService::root)), query,
                          requestUrl(connection, exchange), reply);
        } else if (std::strcmp(path, "/") == 0) {
            homePage(connection, reply);
        } else {
            reply.status = 404;
            reply.type = htmlType;
            reply.body = Pages::notFound(QStringLiteral("Nothing is at %1.").arg(QString::fromUtf8(path)));
        }
    } catch (const std::exception &failure) {
        std::fprintf(stderr, "harvix-gateway: %s %s failed: %s\n", AccessLog::escaped(exchange.method).c_str(),
                     AccessLog::escaped(exchange.target).c_str(), failure.what());
        reply = HttpReply();
        reply.text(500, QStringLiteral("the gateway failed on this request"));
    }
    return send(connection, exchange, reply);
}

// The first call of every request: it counts as in progress, or is turned
// away with the limit it broke.
bool GatewayServer::admit(MHD_Connection *connection, Exchange &exchange, HttpReply &reply)
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

int GatewayServer::send(MHD_Connection *connection, Exchange &exchange, HttpReply &reply)
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

void GatewayServer::replied(Exchange &exchange, Link *link)
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

void GatewayServer::watch()
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

bool GatewayServer::search(MHD_Connection *connection, Exchange &exchange, std::string_view query, HttpReply &reply)
{
    // Web pages may use the search too.
    reply.headers.emplace_back("Access-Control-Allow-Origin", "*");
    SearchQuery::Parsed parsed = SearchQuery::parse(query);
    if (!parsed.query) {
        reply.text(400, parsed.error);
        return true;
    }
    if (m_upstream && m_fetchers
        && !m_catalogue.isFetched(m_upstream->key(), UpstreamWindow::of(*parsed.query), freshSinceUs())) {
        // The connection sleeps while a fetcher waits for the upstream;
        // the library calls answer() again once it is resumed.
        exchange.waiting = std::move(parsed.query);
        MHD_suspend_connection(connection);
        const bool queued = m_fetchers->enqueue([this, connection, &exchange] {
            exchange.refresh = refreshFromUpstream(*exchange.waiting);
            exchange.fetched = true;
            MHD_resume_connection(connection);
        });
        if (!queued) {
            // Stopping: the answer comes from the catalogue alone.
            exchange.fetched = true;
            MHD_resume_connection(connection);
        }
        return false;
    }
    searchReply(*parsed.query, exchange, reply);
    return true;
}

void GatewayServer::searchReply(const SearchQuery &query, Exchange &exchange, HttpReply &reply)
{
    const Refresh &refresh = exchange.refresh;
    std::shared_ptr<Catalogue::Cursor> cursor = m_catalogue.search(query);
    // The first row is read before the reply starts, so that an empty
    // answer can say what the catalogue holds.
    std::optional<EventRow> first = EventRow();
    if (!cursor->next(*first))
        first.reset();
    if (!cursor->error().isEmpty()) {
        reply.text(500, QStringLiteral("the catalogue cannot be read: %1").arg(cursor->error()));
        return;
    }
    if (!first && (!m_upstream || !refresh.failure.isEmpty()))
        describeCoverage(query, reply);
    QString comment;
    if (!refresh.failure.isEmpty())
        comment = QStringLiteral("The upstream failed (%1): this answer comes from the catalogue alone.")
                      .arg(refresh.failure);
    else if (refresh.partial)
        comment = QStringLiteral("The copy of this window from the upstream is not complete yet: this answer "
                                 "comes from the catalogue, and the next search of it goes on copying.");
    reply.type = xmlType;
    reply.stream = [cursor, first, comment, started = false](std::string &chunk, bool &last) mutable {
        chunk.reserve(ChunkBytes + 4096);
        if (!started) {
            chunk = QuakeML10Writer::documentStart(comment);
            started = true;
            if (first)
                QuakeML10Writer::appendEvent(chunk, *first);
        }
        EventRow row;
        bool more = bool(first);
        while (more && chunk.size() < ChunkBytes && (more = cursor->next(row)))
            QuakeML10Writer::appendEvent(chunk, row);
        if (!more && !cursor->error().isEmpty())
            return false;
        if (!more)
            chunk += QuakeML10Writer::documentEnd();
        last = !more;
        return true;
    };
}

void GatewayServer::eventPage(const std::string &id, HttpReply &reply)
{
    const QString text = QString::fromStdString(id);
    reply.type = htmlType;
    const std::optional<EventRow> row = m_catalogue.find(text);
    if (!row) {
        reply.status = 404;
        reply.body = Pages::notFound(QStringLiteral("The catalogue holds no event with the id %1.").arg(text));
        return;
    }
    QString place;
    std::vector<SvgEvent> neighbours;
    if (row->latitude && row->longitude) {
        const GeoPoint at { *row->latitude, *row->longitude };
        place = ShippedData::places().describe(at);
        // The events within 100 km in the 30 days before it.
        EventQuery before;
        before.startUs = row->originTimeUs - std::int64_t(30) * 86400 * 1000000;
        before.endUs = row->originTimeUs;
        before.minLatitude = *row->latitude - 1;
        before.maxLatitude = *row->latitude + 1;
        before.order = EventQuery::Order::TimeAscending;
        const std::unique_ptr<Catalogue::Cursor> cursor = m_catalogue.select(before);
        EventRow other;
        while (cursor->next(other)) {
            if (other.publicId == row->publicId || !other.longitude)
                continue;
            const GeoPoint there { *other.latitude, *other.longitude };
            if (Geo::distanceKm(at, there) <= 100)
                neighbours.push_back({ there, other.magnitude, other.depthKm, other.originTimeUs });
        }
    }
    reply.body = Pages::event(*row, place, neighbours);
}

QString GatewayServer::hostOf(MHD_Connection *connection) const
{
    const char *host = MHD_lookup_connection_value(connection, MHD_HEADER_KIND, MHD_HTTP_HEADER_HOST);
    return host && *host ? QString::fromLatin1(host) : QStringLiteral("%1:%2").arg(m_host).arg(m_port);
}

QString GatewayServer::requestUrl(MHD_Connection *connection, const Exchange &exchange) const
{
    return QStringLiteral("http://%1%2").arg(hostOf(connection),
                                             QString::fromUtf8(exchange.target.data(), qsizetype(exchange.target.size())));
}

void GatewayServer::homePage(MHD_Connection *connection, HttpReply &reply)
{
    const QString searchUrl = QStringLiteral("http://%1/services/quake/search?").arg(hostOf(connection));
    reply.type = htmlType;
    reply.body = Pages::home(m_catalogue.summary(), searchUrl, *homePictures());
}

std::shared_ptr<const std::string> GatewayServer::homePictures()
{
    // Made again only when the catalogue has changed.
    const std::pair<qint64, qint64> version { m_catalogue.eventCount(), m_catalogue.lastModified() };
    {
        std::lock_guard<std::mutex> lock(m_picturesMutex);
        if (m_pictures && m_picturesVersion == version)
            return m_pictures;
    }
    // The catalogue is gone through a few times, never held whole.
    const SvgMap::EventSource events = [this](const std::function<void(const SvgEvent &)> &take) {
        EventQuery all;
        all.order = EventQuery::Order::TimeAscending;
        const std::unique_ptr<Catalogue::Cursor> cursor = m_catalogue.select(all);
        EventRow row;
        while (cursor->next(row)) {
            if (row.latitude && row.longitude)
                take({ { *row.latitude, *row.longitude }, row.magnitude, row.depthKm, row.originTimeUs });
        }
    };
    auto pictures = std::make_shared<const std::string>(
        Pages::homePictures(m_catalogue.outline(), version.first, events));
    std::lock_guard<std::mutex> lock(m_picturesMutex);
    m_pictures = pictures;
    m_picturesVersion = version;
    return pictures;
}

void GatewayServer::setUpstream(Upstream *upstream, int refreshAfterMinutes, int seconds)
{
    m_upstream = upstream;
    m_refreshAfterMinutes = refreshAfterMinutes;
    m_upstreamSeconds = seconds;
}

std::int64_t GatewayServer::freshSinceUs() const
{
    return (QDateTime::currentMSecsSinceEpoch() - qint64(m_refreshAfterMinutes) * 60000) * 1000;
}

GatewayServer::Refresh GatewayServer::refreshFromUpstream(const SearchQuery &query)
{
    const UpstreamWindow window = UpstreamWindow::of(query);
    const std::int64_t since = freshSinceUs();
    Refresh refresh;
    if (m_catalogue.isFetched(m_upstream->key(), window, since))
        return refresh;
    // A window too big for one search is copied over several: each piece
    // stored stays, and the next search goes on from there.
    FetchPlan plan;
    plan.keepPiecesSinceUs = since;
    plan.stopStartingAt = Upstream::Clock::now() + std::chrono::seconds(m_upstreamSeconds);
    const FetchReport report = m_upstream->fetch(m_catalogue, window, plan);
    if (report.failed()) {
        std::fprintf(stderr, "harvix-gateway: the upstream %s failed (%s); answering from the catalogue alone\n",
                     qPrintable(m_upstream->key()), qPrintable(report.error));
        refresh.failure = report.error;
    } else if (!report.complete) {
        std::fprintf(stderr, "harvix-gateway: %d pieces of the window %s to %s copied from %s in %d requests (%d "
                             "done before); the next search of it goes on\n", report.piecesStored,
                     qPrintable(UpstreamTime::text(window.startUs)), qPrintable(UpstreamTime::text(window.endUs)),
                     qPrintable(m_upstream->key()), report.requests, report.piecesDone);
        refresh.partial = true;
    }
    return refresh;
}

void GatewayServer::describeCoverage(const SearchQuery &query, HttpReply &reply) const
{
    const std::optional<Catalogue::TimeRange> held = m_catalogue.timeRange();
    if (!held)
        return;
    constexpr std::int64_t dayUs = std::int64_t(86400) * 1000000;
    const auto day = [](std::int64_t us) { return us >= 0 ? us / dayUs : (us - dayUs + 1) / dayUs; };
    const std::int64_t firstDay = day(held->firstUs), lastDay = day(held->lastUs);
    if (query.startUs >= firstDay * dayUs && query.endUs <= (lastDay + 1) * dayUs)
        return;
    const auto date = [](std::int64_t days) {
        int year = 0, month = 0, dayOfMonth = 0;
        FieldParsing::civilFromDays(days, year, month, dayOfMonth);
        return QStringLiteral("%1-%2-%3").arg(year, 4, 10, QLatin1Char('0')).arg(month, 2, 10, QLatin1Char('0'))
            .arg(dayOfMonth, 2, 10, QLatin1Char('0'));
    };
    reply.headers.emplace_back("Harvix-Catalogue-Range", (date(firstDay) + u'/' + date(lastDay)).toStdString());
    if (m_upstream)
        reply.headers.emplace_back("Harvix-Upstream-Failed", m_upstream->name().toStdString());
}

bool GatewayServer::bind(const QString &host, int port, QString *error)
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

bool GatewayServer::adopt(int socket, QString *error)
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

bool GatewayServer::startWorkers(QString *error)
{
    if (m_daemon)
        return true;
    const auto refuse = [&](const QString &why) {
        *error = QStringLiteral("cannot start %1 workers: %2 (try fewer with --workers)").arg(m_limits.workers).arg(why);
        return false;
    };
    try {
        if (m_upstream)
            m_fetchers = std::make_unique<JobQueue>(FetcherCount);
        m_watcher = std::make_unique<std::thread>(&GatewayServer::watch, this);
    } catch (const std::system_error &failure) {
        m_fetchers.reset();
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

bool GatewayServer::run()
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

void GatewayServer::beginStopping()
{
    m_draining = true;
}

void GatewayServer::halt()
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
    // The fetchers finish first, and take no more: the searches they hold
    // are resumed (the library may not stop with a connection suspended),
    // and a search from now on answers from the catalogue alone. They are
    // freed once the library, whose threads ask them, has stopped.
    if (m_fetchers)
        m_fetchers->shutdown();
    if (m_daemon) {
        MHD_stop_daemon(m_daemon);
        m_daemon = nullptr;
        // The library closed the socket it was given.
        m_listening = -1;
    }
    m_fetchers.reset();
}
