#include "http/searchservice.h"

#include "catalogue/catalogue.h"
#include "formats/quakeml10writer.h"
#include "http/searchquery.h"
#include "quakeml/utctime.h"
#include "upstream/upstream.h"

#include <QDateTime>

#include <cstdio>
#include <memory>
#include <optional>

namespace {

// A reply is made in pieces of about this size.
constexpr std::size_t ChunkBytes = 64 * 1024;

} // namespace

void SearchService::answer(std::string_view query, HttpReply &reply) const
{
    // Web pages may use the search too.
    reply.headers.emplace_back("Access-Control-Allow-Origin", "*");
    Parsed<SearchQuery> parsed = SearchQuery::parse(query);
    if (!parsed.value) {
        reply.text(400, parsed.error);
        return;
    }
    auto search = std::make_shared<const SearchQuery>(std::move(*parsed.value));
    if (m_upstream && !m_catalogue.isFetched(m_upstream->key(), UpstreamWindow::of(*search), freshSinceUs())) {
        auto refresh = std::make_shared<Refresh>();
        reply.defer([this, search, refresh] { *refresh = refreshFromUpstream(*search); },
                    [this, search, refresh](HttpReply &later) { this->reply(*search, *refresh, later); });
        return;
    }
    this->reply(*search, Refresh(), reply);
}

void SearchService::reply(const SearchQuery &query, const Refresh &refresh, HttpReply &reply) const
{
    std::shared_ptr<Catalogue::Cursor> cursor = m_catalogue.search(query);
    // The first row is read before the reply starts, so that a catalogue
    // that cannot be read is answered with an error, not a short reply.
    std::optional<EventRow> first = EventRow();
    if (!cursor->next(*first))
        first.reset();
    if (!cursor->error().isEmpty()) {
        reply.text(500, QStringLiteral("the catalogue cannot be read: %1").arg(cursor->error()));
        return;
    }
    if (!m_upstream || !refresh.failure.isEmpty())
        describeCoverage(query, reply);
    QString comment;
    if (!refresh.failure.isEmpty())
        comment = QStringLiteral("The upstream failed (%1): this answer comes from the catalogue alone.")
                      .arg(refresh.failure);
    else if (refresh.partial)
        comment = QStringLiteral("The copy of this window from the upstream is not complete yet: this answer "
                                 "comes from the catalogue, and the next search of it goes on copying.");
    reply.type = HttpReply::xmlType;
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

void SearchService::setUpstream(Upstream *upstream, int refreshAfterMinutes, int seconds)
{
    m_upstream = upstream;
    m_refreshAfterMinutes = refreshAfterMinutes;
    m_upstreamSeconds = seconds;
}

std::int64_t SearchService::freshSinceUs() const
{
    return (QDateTime::currentMSecsSinceEpoch() - qint64(m_refreshAfterMinutes) * 60000) * 1000;
}

SearchService::Refresh SearchService::refreshFromUpstream(const SearchQuery &query) const
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

void SearchService::describeCoverage(const SearchQuery &query, HttpReply &reply) const
{
    const Read<Catalogue::TimeRange> held = m_catalogue.timeRange();
    if (!held)
        return;
    constexpr std::int64_t dayUs = std::int64_t(86400) * 1000000;
    const auto day = [](std::int64_t us) { return us >= 0 ? us / dayUs : (us - dayUs + 1) / dayUs; };
    const std::int64_t firstDay = day(held->firstUs), lastDay = day(held->lastUs);
    if (query.startUs >= firstDay * dayUs && query.endUs <= (lastDay + 1) * dayUs)
        return;
    const auto date = [](std::int64_t days) {
        int year = 0, month = 0, dayOfMonth = 0;
        UtcTime::civilFromDays(days, year, month, dayOfMonth);
        return QStringLiteral("%1-%2-%3").arg(year, 4, 10, QLatin1Char('0')).arg(month, 2, 10, QLatin1Char('0'))
            .arg(dayOfMonth, 2, 10, QLatin1Char('0'));
    };
    reply.headers.emplace_back("Harvix-Catalogue-Range", (date(firstDay) + u'/' + date(lastDay)).toStdString());
    if (m_upstream)
        reply.headers.emplace_back("Harvix-Upstream-Failed", m_upstream->name().toStdString());
}
