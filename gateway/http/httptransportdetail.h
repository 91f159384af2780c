#pragma once

// What the transport's two halves share: a connection and an exchange, the
// library's callbacks, and what libmicrohttpd said last on a thread.
// Private to gateway/http/httptransport*.cpp.

#include "http/httptransport.h"

#include <microhttpd.h>

#include <sys/socket.h>

#include <atomic>
#include <chrono>
#include <cstdarg>
#include <mutex>
#include <functional>
#include <optional>
#include <string>

namespace HttpTransportDetail {

// A streamed reply is made in pieces of about this size.
constexpr std::size_t ChunkBytes = 64 * 1024;
// What libmicrohttpd may hold for one connection: its request and the
// part of the reply being written. Requests beyond it are refused by the
// library itself; those within it meet the gateway's own, smaller limits.
constexpr std::size_t ConnectionMemory = 48 * 1024;
inline const char *const textType = HttpReply::textType;

using Clock = std::chrono::steady_clock;

std::string addressOf(const sockaddr *address);

// What libmicrohttpd last said on this thread: the status of a request it
// refused itself (a request line or header fields beyond its memory), or,
// while the server starts, why it could not.
extern thread_local int refusedStatus;
extern thread_local std::uint64_t refusedBytes;
extern std::mutex startMessageMutex;
extern std::string startMessage;

} // namespace HttpTransportDetail

// One connection, from accept to close.
struct HttpTransport::Link
{
    int socket = -1;
    std::string address;
    // Since when the connection waits for a request, and whether one has
    // arrived whole; the watch answers 408 to those that take too long.
    HttpTransportDetail::Clock::time_point waitingSince = HttpTransportDetail::Clock::now();
    bool inRequest = false;
    bool timedOut = false;
    std::atomic<int> served { 0 };   // replies sent on it
};

// One request and its reply.
struct HttpTransport::Exchange
{
    Link *link = nullptr;
    std::string target;             // as sent, still percent-encoded
    std::string method;             // empty until the request has arrived whole
    std::string version;
    int status = 0;
    std::uint64_t bytes = 0;        // of the body, as written
    bool counted = false;           // counts as a reply in progress
    // A reply whose work is done on a waiting thread, to be finished.
    std::optional<HttpReply> waited;
    bool resumed = false;
};

struct HttpTransport::Callbacks
{
    static MHD_Result answer(void *server, MHD_Connection *connection, const char *path, const char *method,
                             const char *version, const char *, size_t *uploadSize, void **context);

    // The request line has arrived: the exchange begins.
    static void *begin(void *, const char *target, MHD_Connection *connection);

    static void completed(void *server, MHD_Connection *connection, void **context, MHD_RequestTerminationCode);

    static void connection(void *server, MHD_Connection *connection, void **socketContext,
                           MHD_ConnectionNotificationCode code);

    // The library's own messages: the status of a request it refused, or
    // why it could not start; nothing of it reaches the log otherwise.
    static void message(void *, const char *format, va_list arguments);

    // A streamed reply: pieces made as the connection can take them.
    struct Stream
    {
        std::function<bool(std::string &, bool &)> next;
        std::uint64_t *bytes;
        std::string piece;
        std::size_t offset = 0;
        bool last = false;
    };

    static ssize_t read(void *context, uint64_t, char *buffer, size_t room);

    static void free(void *context);

    // The body of a reply to HEAD: nothing is ever read.
    static ssize_t none(void *, uint64_t, char *, size_t);
};
