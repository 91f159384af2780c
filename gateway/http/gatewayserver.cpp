#include "http/gatewayserver.h"

#include "catalogue/catalogue.h"

#include <string_view>

namespace {

// Threads that do long work on behalf of requests: waiting for the
// upstream, studying a sequence, declustering.
constexpr int WaitingThreads = 4;

bool startsWith(std::string_view text, std::string_view start)
{
    return text.substr(0, start.size()) == start;
}

} // namespace

GatewayServer::GatewayServer(const Catalogue &catalogue, const Limits &limits)
    : m_catalogue(catalogue)
    , m_search(catalogue)
    , m_pages(catalogue)
    , m_fdsn(catalogue, limits.maxEvents)
    , m_sequences(catalogue)
    , m_transport(limits, *this)
{
    m_transport.setWaitingThreads(WaitingThreads);
}

void GatewayServer::setUpstream(Upstream *upstream, int refreshAfterMinutes, int seconds)
{
    m_search.setUpstream(upstream, refreshAfterMinutes, seconds);
    m_pages.setUpstream(upstream);

}

void GatewayServer::answer(const HttpRequest &request, HttpReply &reply)
{
    // A database that cannot be reached is said so, and asked again later;
    // where it is, and why it cannot be reached, only the log is told.
    if (QString why; !m_catalogue.isAvailable(&why)) {
        if (!m_away.exchange(true) && m_log)
            m_log(QStringLiteral("the catalogue cannot be reached: %1").arg(why));
        reply.text(503, QStringLiteral("the catalogue cannot be reached now"));
        reply.headers.emplace_back("Retry-After", "5");
        return;
    }
    if (m_away.load(std::memory_order_relaxed) && m_away.exchange(false) && m_log)
        m_log(QStringLiteral("the catalogue answers again"));
    const std::string_view path = request.path;
    if (path == SearchService::path)
        m_search.answer(request.query, reply);
    else if (startsWith(path, PageService::eventRoot))
        m_pages.event(QString::fromUtf8(path.substr(std::string_view(PageService::eventRoot).size())), reply);
    else if (startsWith(path, FdsnService::root))
        m_fdsn.answer(path.substr(std::string_view(FdsnService::root).size()), request.query, request.url(), reply);
    else if (path == SequenceService::sequencePath)
        m_sequences.sequence(request.query, reply);
    else if (path == SequenceService::declusterPath)
        m_sequences.decluster(request.query, reply);
    else if (path == "/")
        m_pages.home(QStringLiteral("http://%1/services/quake/search?").arg(request.host), reply);
    else
        m_pages.notFound(QString::fromUtf8(path), reply);
}
