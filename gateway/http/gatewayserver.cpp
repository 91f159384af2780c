#include "http/gatewayserver.h"

#include "catalogue/catalogue.h"
#include "formats/fieldparsing.h"
#include "formats/quakeml10writer.h"
#include "http/pages.h"
#include "http/searchquery.h"
#include "upstream/upstream.h"

#include <QDateTime>

#include <httplib.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <condition_variable>
#include <deque>
#include <mutex>
#include <system_error>
#include <vector>
#include <functional>
#include <thread>

namespace {

// A search reply goes out in pieces of about this size.
constexpr std::size_t ChunkBytes = 64 * 1024;

// Bytes of the streamed reply that this worker is writing, and whether its
// request counts as in progress; the logger runs on the same worker right
// after the reply is written.
thread_local std::uint64_t streamedBytes = 0;
thread_local bool counted = false;

const char *const xmlType = "application/xml; charset=utf-8";
const char *const htmlType = "text/html; charset=utf-8";
const char *const textType = "text/plain; charset=utf-8";

// The request line as the log shows it: quotes, backslashes and control
// characters escaped, so that a request cannot forge a line of its own.
std::string loggable(const std::string &text)
{
    std::string out;
    for (const unsigned char c : text) {
        if (c < 0x20 || c == 0x7F || c == '"' || c == '\\') {
            char escaped[8];
            std::snprintf(escaped, sizeof escaped, "\\x%02X", c);
            out += escaped;
        } else {
            out += char(c);
        }
    }
    return out;
}

void logRequest(const httplib::Request &req, const httplib::Response &res)
{
    static const char *const months[] = { "Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                          "Jul", "Aug", "Sep", "Oct", "Nov", "Dec" };
    const std::time_t now = std::time(nullptr);
    std::tm utc {};
    gmtime_r(&now, &utc);
    const std::uint64_t bytes = req.method == "HEAD" ? 0 : res.body.size() + streamedBytes;
    const std::string bytesText = bytes ? std::to_string(bytes) : std::string("-");
    std::fprintf(stderr, "%s - - [%02d/%s/%04d:%02d:%02d:%02d +0000] \"%s %s %s\" %d %s\n",
                 req.remote_addr.c_str(), utc.tm_mday, months[utc.tm_mon], utc.tm_year + 1900,
                 utc.tm_hour, utc.tm_min, utc.tm_sec, loggable(req.method).c_str(),
                 loggable(req.target).c_str(), loggable(req.version).c_str(), res.status,
                 bytesText.c_str());
}

void setText(httplib::Response &res, int status, const QString &text)
{
    res.status = status;
    res.set_content(text.toStdString() + '\n', textType);
}

// Runs each connection on one of a fixed number of workers, counting the
// connections that wait for one. Its threads are all started by the
// constructor, which throws std::system_error, with none left running,
// when the system will not start them all.
class WorkerPool : public httplib::TaskQueue
{
public:
    WorkerPool(std::size_t workers, std::atomic<int> &waiting)
        : m_waiting(waiting)
    {
        try {
            for (std::size_t i = 0; i < workers; ++i)
                m_threads.emplace_back([this] { work(); });
        } catch (...) {
            shutdown();
            throw;
        }
    }
    ~WorkerPool() override { shutdown(); }

    void enqueue(std::function<void()> connection) override
    {
        ++m_waiting;
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            m_jobs.push_back(std::move(connection));
        }
        m_ready.notify_one();
    }

    void shutdown() override
    {
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            m_stopping = true;
        }
        m_ready.notify_all();
        for (std::thread &thread : m_threads) {
            if (thread.joinable())
                thread.join();
        }
    }

private:
    // Takes connections until shut down and none is left.
    void work()
    {
        for (;;) {
            std::function<void()> job;
            {
                std::unique_lock<std::mutex> lock(m_mutex);
                m_ready.wait(lock, [this] { return m_stopping || !m_jobs.empty(); });
                if (m_jobs.empty())
                    return;
                job = std::move(m_jobs.front());
                m_jobs.pop_front();
            }
            --m_waiting;
            job();
        }
    }

    std::atomic<int> &m_waiting;
    std::vector<std::thread> m_threads;
    std::deque<std::function<void()>> m_jobs;
    std::mutex m_mutex;
    std::condition_variable m_ready;
    bool m_stopping = false;
};

// The library binds its own socket; this takes one that was bound for it.
class AdoptingServer : public httplib::Server
{
public:
    void adopt(socket_t socket) { svr_sock_ = socket; }
};

} // namespace

GatewayServer::GatewayServer(const Catalogue &catalogue)
    : GatewayServer(catalogue, Limits())
{
}

GatewayServer::GatewayServer(const Catalogue &catalogue, const Limits &limits)
    : m_catalogue(catalogue)
    , m_server(std::make_unique<AdoptingServer>())
{
    m_workers = limits.workers;
    m_server->new_task_queue = [this] {
        // The pool made ahead by startWorkers, or one made now.
        httplib::TaskQueue *pool = m_pool ? m_pool : new WorkerPool(std::size_t(m_workers), m_waiting);
        m_pool = nullptr;
        return pool;
    };
    m_server->set_tcp_nodelay(true);
    m_server->set_read_timeout(limits.readTimeoutSeconds);
    m_server->set_write_timeout(limits.writeTimeoutSeconds);
    m_server->set_keep_alive_timeout(limits.keepAliveSeconds);
    m_server->set_keep_alive_max_count(std::size_t(limits.keepAliveRequests));
    m_server->set_payload_max_length(64 * 1024);
    // SO_REUSEADDR only: the library's default adds SO_REUSEPORT, which would
    // let a second gateway share the port instead of being told it is taken.
    m_server->set_socket_options([](socket_t sock) {
        const int yes = 1;
        setsockopt(sock, SOL_SOCKET, SO_REUSEADDR, &yes, sizeof yes);
    });
    addRoutes();
}

GatewayServer::~GatewayServer()
{
    delete m_pool;   // made but never handed to the server
}

void GatewayServer::addRoutes()
{
    using namespace std::placeholders;
    using Handled = httplib::Server::HandlerResponse;
    m_server->set_pre_routing_handler([this](const httplib::Request &req, httplib::Response &res) {
        return admit(req, res) ? Handled::Handled : Handled::Unhandled;
    });
    m_server->set_post_routing_handler(std::bind(&GatewayServer::closeWhileOthersWait, this, _1, _2));
    m_server->set_logger(std::bind(&GatewayServer::replied, this, _1, _2));
    m_server->set_error_handler(httplib::Server::HandlerWithResponse(
        [](const httplib::Request &req, httplib::Response &res) {
            return errorPage(req, res) ? Handled::Handled : Handled::Unhandled;
        }));
    m_server->set_exception_handler([](const httplib::Request &, httplib::Response &res, std::exception_ptr) {
        setText(res, 500, QStringLiteral("the gateway failed on this request"));
    });
    m_server->Get("/services/quake/search", std::bind(&GatewayServer::search, this, _1, _2));
    m_server->Get(R"(/services/quake/quakeml/1\.0\.1/ref/(.*))", std::bind(&GatewayServer::eventPage, this, _1, _2));
    m_server->Get("/", std::bind(&GatewayServer::homePage, this, _1, _2));
}

// Before routing: every request is counted as in progress, or turned away.
bool GatewayServer::admit(const httplib::Request &req, httplib::Response &res)
{
    streamedBytes = 0;
    // Every reply is generated: a Range is ignored, and the whole body
    // sent with 200, as HTTP allows.
    auto &request = const_cast<httplib::Request &>(req);
    request.ranges.clear();
    request.headers.erase("Range");
    if (m_draining) {
        res.set_header("Connection", "close");
        setText(res, 503, QStringLiteral("the gateway is stopping"));
        return true;
    }
    ++m_inFlight;
    counted = true;
    if (req.method == "GET" || req.method == "HEAD")
        return false;
    res.set_header("Allow", "GET, HEAD");
    setText(res, 405, QStringLiteral("method %1 is not allowed: use GET or HEAD")
                          .arg(QString::fromStdString(loggable(req.method))));
    return true;
}

// A keep-alive connection holds its worker between requests. While others
// wait for one, each reply closes its connection, so that the wait lasts a
// request rather than as long as a busy client stays.
void GatewayServer::closeWhileOthersWait(const httplib::Request &req, httplib::Response &res)
{
    // A request that asks to close gets the library's own header already.
    if (m_waiting > 0 && req.get_header_value("Connection") != "close")
        res.set_header("Connection", "close");
}

// Called once every reply is written, however it ended.
void GatewayServer::replied(const httplib::Request &req, const httplib::Response &res)
{
    logRequest(req, res);
    // A request turned away before routing streams nothing of its own.
    streamedBytes = 0;
    if (counted) {
        counted = false;
        --m_inFlight;
    }
}

bool GatewayServer::errorPage(const httplib::Request &req, httplib::Response &res)
{
    if (!res.body.empty() || res.content_provider_)
        return false;
    if (res.status == 404) {
        res.set_content(Pages::notFound(QStringLiteral("Nothing is at %1.").arg(QString::fromStdString(req.path))),
                        htmlType);
    } else {
        setText(res, res.status, QStringLiteral("the request cannot be served (HTTP %1)").arg(res.status));
    }
    return true;
}

void GatewayServer::search(const httplib::Request &req, httplib::Response &res)
{
    const std::size_t mark = req.target.find('?');
    const std::string_view query = mark == std::string::npos
        ? std::string_view()
        : std::string_view(req.target).substr(mark + 1);
    const SearchQuery::Parsed parsed = SearchQuery::parse(query);
    if (!parsed.query) {
        setText(res, 400, parsed.error);
        return;
    }
    const Refresh refresh = m_upstream ? refreshFromUpstream(*parsed.query) : Refresh();
    std::shared_ptr<Catalogue::Cursor> cursor = m_catalogue.search(*parsed.query);
    // The first row is read before the reply starts, so that an empty
    // answer can say what the catalogue holds.
    auto first = std::make_shared<std::optional<EventRow>>(EventRow());
    if (!cursor->next(**first))
        first->reset();
    if (!cursor->error().isEmpty()) {
        setText(res, 500, QStringLiteral("the catalogue cannot be read: %1").arg(cursor->error()));
        return;
    }
    if (!*first && (!m_upstream || !refresh.failure.isEmpty()))
        describeCoverage(*parsed.query, res);
    auto started = std::make_shared<bool>(false);
    QString comment;
    if (!refresh.failure.isEmpty())
        comment = QStringLiteral("The upstream failed (%1): this answer comes from the catalogue alone.")
                      .arg(refresh.failure);
    else if (refresh.partial)
        comment = QStringLiteral("The copy of this window from the upstream is not complete yet: this answer "
                                 "comes from the catalogue, and the next search of it goes on copying.");
    res.set_chunked_content_provider(xmlType, [cursor, first, started, comment](std::size_t, httplib::DataSink &sink) {
        std::string chunk;
        chunk.reserve(ChunkBytes + 4096);
        if (!*started) {
            chunk = QuakeML10Writer::documentStart(comment);
            *started = true;
            if (*first)
                QuakeML10Writer::appendEvent(chunk, **first);
        }
        EventRow row;
        bool more = bool(*first);
        while (more && chunk.size() < ChunkBytes && (more = cursor->next(row)))
            QuakeML10Writer::appendEvent(chunk, row);
        // A read that fails half-way ends the transfer unfinished, so that
        // the client sees a broken reply rather than a short result.
        if (!more && !cursor->error().isEmpty())
            return false;
        if (!more)
            chunk += QuakeML10Writer::documentEnd();
        streamedBytes += chunk.size();
        if (!sink.write(chunk.data(), chunk.size()))
            return false;
        if (!more)
            sink.done();
        return true;
    });
}

void GatewayServer::eventPage(const httplib::Request &req, httplib::Response &res)
{
    const QString id = QString::fromStdString(req.matches[1].str());
    const std::optional<EventRow> row = m_catalogue.find(id);
    if (!row) {
        res.status = 404;
        res.set_content(Pages::notFound(QStringLiteral("The catalogue holds no event with the id %1.").arg(id)),
                        htmlType);
        return;
    }
    res.set_content(Pages::event(*row), htmlType);
}

void GatewayServer::homePage(const httplib::Request &req, httplib::Response &res)
{
    const std::string host = req.get_header_value("Host");
    const QString searchUrl = QStringLiteral("http://%1/services/quake/search?")
                                  .arg(host.empty() ? QStringLiteral("%1:%2").arg(m_host).arg(m_port)
                                                    : QString::fromStdString(host));
    res.set_content(Pages::home(m_catalogue.summary(), searchUrl), htmlType);
}

void GatewayServer::setUpstream(Upstream *upstream, int refreshAfterMinutes, int seconds)
{
    m_upstream = upstream;
    m_refreshAfterMinutes = refreshAfterMinutes;
    m_upstreamSeconds = seconds;
}

GatewayServer::Refresh GatewayServer::refreshFromUpstream(const SearchQuery &query)
{
    UpstreamWindow window;
    window.startUs = query.startUs;
    window.endUs = query.endUs;
    window.minMagnitude = query.magnitudeLower;
    window.maxMagnitude = query.magnitudeUpper;
    const std::int64_t since = (QDateTime::currentMSecsSinceEpoch() - qint64(m_refreshAfterMinutes) * 60000) * 1000;
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

void GatewayServer::describeCoverage(const SearchQuery &query, httplib::Response &res) const
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
    res.set_header("Harvix-Catalogue-Range", (date(firstDay) + u'/' + date(lastDay)).toStdString());
    if (m_upstream)
        res.set_header("Harvix-Upstream-Failed", m_upstream->name().toStdString());
}

bool GatewayServer::bind(const QString &host, int port, QString *error)
{
    m_host = host;
    errno = 0;
    if (port == 0) {
        m_port = m_server->bind_to_any_port(host.toStdString());
        if (m_port > 0)
            return true;
    } else if (m_server->bind_to_port(host.toStdString(), port)) {
        m_port = port;
        return true;
    }
    *error = QStringLiteral("cannot listen on %1:%2: %3")
                 .arg(host)
                 .arg(port)
                 .arg(errno ? QString::fromLocal8Bit(std::strerror(errno))
                            : QStringLiteral("the address is not usable"));
    return false;
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
    char text[INET6_ADDRSTRLEN] = {};
    if (address.ss_family == AF_INET6) {
        const auto *ip6 = reinterpret_cast<const sockaddr_in6 *>(&address);
        inet_ntop(AF_INET6, &ip6->sin6_addr, text, sizeof text);
        m_port = ntohs(ip6->sin6_port);
    } else {
        const auto *ip4 = reinterpret_cast<const sockaddr_in *>(&address);
        inet_ntop(AF_INET, &ip4->sin_addr, text, sizeof text);
        m_port = ntohs(ip4->sin_port);
    }
    m_host = QString::fromLatin1(text);
    static_cast<AdoptingServer &>(*m_server).adopt(socket);
    return true;
}

bool GatewayServer::run()
{
    m_started = true;
    const bool served = m_draining || m_server->listen_after_bind();
    m_finished = true;
    return served;
}

bool GatewayServer::startWorkers(QString *error)
{
    try {
        m_pool = new WorkerPool(std::size_t(m_workers), m_waiting);
    } catch (const std::system_error &failure) {
        *error = QStringLiteral("cannot start %1 workers: %2 (try fewer with --workers)")
                     .arg(m_workers).arg(QString::fromLocal8Bit(failure.code().message().c_str()));
        return false;
    }
    return true;
}

void GatewayServer::beginStopping()
{
    m_draining = true;
    // The library's stop() does nothing before its loop runs.
    while (m_started && !m_finished && !m_server->is_running())
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
}

void GatewayServer::halt()
{
    m_server->stop();
}

void GatewayServer::stop(int drainSeconds)
{
    // The library's own stop ends streamed replies where they stand, so it
    // waits until none is left.
    beginStopping();
    for (int waited = 0; m_inFlight > 0 && waited < drainSeconds * 100; ++waited)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    halt();
}
