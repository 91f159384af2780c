// libmicrohttpd's callbacks: each hands over to the transport.

#include "http/httptransportdetail.h"

#include "http/accesslog.h"

#include <arpa/inet.h>
#include <netinet/in.h>

#include <cstdio>
#include <cstring>

using namespace HttpTransportDetail;

std::string HttpTransportDetail::addressOf(const sockaddr *address)
{
    char text[INET6_ADDRSTRLEN] = {};
    if (address && address->sa_family == AF_INET6)
        inet_ntop(AF_INET6, &reinterpret_cast<const sockaddr_in6 *>(address)->sin6_addr, text, sizeof text);
    else if (address && address->sa_family == AF_INET)
        inet_ntop(AF_INET, &reinterpret_cast<const sockaddr_in *>(address)->sin_addr, text, sizeof text);
    return text[0] ? std::string(text) : std::string("-");
}

thread_local int HttpTransportDetail::refusedStatus = 0;
thread_local std::uint64_t HttpTransportDetail::refusedBytes = 0;
std::mutex HttpTransportDetail::startMessageMutex;
std::string HttpTransportDetail::startMessage;

MHD_Result HttpTransport::Callbacks::answer(void *server, MHD_Connection *connection, const char *path,
                                            const char *method, const char *version, const char *, size_t *uploadSize, void **context)
{
    auto *exchange = static_cast<Exchange *>(*context);
    auto *self = static_cast<HttpTransport *>(server);
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
void *HttpTransport::Callbacks::begin(void *, const char *target, MHD_Connection *connection)
{
    auto *exchange = new Exchange;
    exchange->target = target;
    if (const MHD_ConnectionInfo *info = MHD_get_connection_info(connection, MHD_CONNECTION_INFO_SOCKET_CONTEXT))
        exchange->link = static_cast<Link *>(info->socket_context);
    return exchange;
}

void HttpTransport::Callbacks::completed(void *server, MHD_Connection *connection, void **context, MHD_RequestTerminationCode)
{
    auto *exchange = static_cast<Exchange *>(*context);
    *context = nullptr;
    if (!exchange)
        return;
    auto *self = static_cast<HttpTransport *>(server);
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

void HttpTransport::Callbacks::connection(void *server, MHD_Connection *connection, void **socketContext,
                                         MHD_ConnectionNotificationCode code)
{
    auto *self = static_cast<HttpTransport *>(server);
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
void HttpTransport::Callbacks::message(void *, const char *format, va_list arguments)
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

ssize_t HttpTransport::Callbacks::read(void *context, uint64_t, char *buffer, size_t room)
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

void HttpTransport::Callbacks::free(void *context)
{
    delete static_cast<Stream *>(context);
}

// The body of a reply to HEAD: nothing is ever read.
ssize_t HttpTransport::Callbacks::none(void *, uint64_t, char *, size_t)
{
    return MHD_CONTENT_READER_END_OF_STREAM;
}
