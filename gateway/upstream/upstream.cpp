#include "upstream/upstream.h"

#include "catalogue/catalogue.h"
#include "quakeml/text.h"
#include "upstream/fdsneventclient.h"
#include "upstream/quakesearchclient.h"

#include <QDateTime>
#include <QRegularExpression>
#include <QTemporaryFile>

#include <httplib.h>

#include <algorithm>
#include <cmath>

namespace {

// An event that the upstream has withdrawn.
bool isWithdrawn(const EventRow &row)
{
    return row.eventType.compare(QLatin1String("not existing"), Qt::CaseInsensitive) == 0
        || row.evaluationStatus.compare(QLatin1String("deleted"), Qt::CaseInsensitive) == 0;
}

// The upstream is asked a little wider than the window (its bounds may be
// strict where ours are inclusive); what is kept is exactly the window.
bool inWindow(const EventRow &row, const UpstreamWindow &window)
{
    if (row.originTimeUs < window.startUs || row.originTimeUs >= window.endUs)
        return false;
    if (isWithdrawn(row))
        return true;
    if (window.minMagnitude && (!row.magnitude || *row.magnitude < *window.minMagnitude))
        return false;
    if (window.maxMagnitude && row.magnitude && *row.magnitude > *window.maxMagnitude)
        return false;
    return window.region.contains(row.latitude, row.longitude, row.depthKm);
}

} // namespace

namespace UpstreamTime {

QString text(std::int64_t microseconds)
{
    std::string out;
    Text::appendTime(out, microseconds);
    return QString::fromStdString(out);
}

} // namespace UpstreamTime

std::unique_ptr<Upstream> Upstream::forUrl(const QString &text, const Options &options, QString *error)
{
    QUrl url(text.trimmed(), QUrl::StrictMode);
    if (!url.isValid() || url.host().isEmpty()
        || (url.scheme() != QLatin1String("http") && url.scheme() != QLatin1String("https"))) {
        *error = QStringLiteral("the upstream must be an http or https URL, not '%1'").arg(text);
        return nullptr;
    }
    if (!url.path().endsWith(u'/'))
        url.setPath(url.path() + u'/');
    url.setQuery(QString());
    if (url.path().endsWith(QLatin1String("fdsnws/event/1/")))
        return std::unique_ptr<Upstream>(new FdsnEventClient(url, options));
    return std::unique_ptr<Upstream>(new QuakeSearchClient(url, options));
}

QString Upstream::name() const
{
    return Catalogue::agencyOf(m_url.toString());
}

bool Upstream::isUnreachable() const
{
    return QDateTime::currentMSecsSinceEpoch() < m_unreachableUntilMs;
}

FetchReport Upstream::fetch(const Catalogue &catalogue, const UpstreamWindow &window, const FetchPlan &plan)
{
    FetchReport report;
    if (isUnreachable()) {
        report.error = QStringLiteral("could not establish connection (a moment ago; asked again within a minute)");
        return report;
    }
    // The pieces form a tree of halves. A piece is recorded as fetched with
    // the last of its halves, so that a later fetch skips a whole subtree
    // and asks again only for the pieces on the way to what is missing.
    struct Piece
    {
        UpstreamWindow window;
        int parent;
        int halvesLeft;
    };
    std::vector<Piece> pieces = { { window, -1, 0 } };
    std::vector<int> pending = { 0 };
    // The larger pieces that a piece completes: those of which it is the
    // last half left, up the tree. done() counts it as stored.
    const auto completed = [&pieces](int index) {
        std::vector<UpstreamWindow> whole;
        for (int parent = pieces[std::size_t(index)].parent; parent >= 0; parent = pieces[std::size_t(parent)].parent) {
            if (pieces[std::size_t(parent)].halvesLeft > 1)
                break;
            whole.push_back(pieces[std::size_t(parent)].window);
        }
        return whole;
    };
    const auto done = [&pieces](int index) {
        for (int parent = pieces[std::size_t(index)].parent; parent >= 0; parent = pieces[std::size_t(parent)].parent) {
            if (--pieces[std::size_t(parent)].halvesLeft > 0)
                break;
        }
    };
    while (!pending.empty()) {
        const int index = pending.back();
        const UpstreamWindow piece = pieces[std::size_t(index)].window;
        if (plan.keepPiecesSinceUs && catalogue.isFetched(key(), piece, *plan.keepPiecesSinceUs)) {
            pending.pop_back();
            ++report.piecesDone;
            const std::vector<UpstreamWindow> whole = completed(index);
            if (!whole.empty() && store(catalogue, std::nullopt, nullptr, std::nullopt, whole, true, report) == Stored::Failed)
                return report;
            done(index);
            continue;
        }
        // Each fetch stores at least one piece, so that every one makes progress.
        if (plan.stopStartingAt && Clock::now() >= *plan.stopStartingAt && report.piecesStored > 0) {
            report.complete = false;
            return report;
        }
        pending.pop_back();

        std::vector<Unseen> unseen;
        const Answer answer = fetchWindow(catalogue, piece, completed(index), true, report, unseen);
        if (answer == Answer::Failed)
            return report;
        if (answer == Answer::TooBig) {
            if (piece.endUs - piece.startUs <= 2 * std::int64_t(1000000)) {
                report.error = QStringLiteral("%1, even within two seconds").arg(report.error);
                report.refusedAsTooBig = true;
                return report;
            }
            report.error.clear();
            UpstreamWindow early = piece, late = piece;
            early.endUs = late.startUs = piece.startUs + (piece.endUs - piece.startUs) / 2;
            pieces[std::size_t(index)].halvesLeft = 2;
            pieces.push_back({ late, index, 0 });
            pending.push_back(int(pieces.size()) - 1);
            pieces.push_back({ early, index, 0 });
            pending.push_back(int(pieces.size()) - 1);
            continue;
        }
        done(index);
        if (!unseen.empty() && !confirmGone(catalogue, piece, std::move(unseen), report))
            return report;
    }
    return report;
}

Upstream::Stored Upstream::store(const Catalogue &catalogue, const std::optional<UpstreamWindow> &stored,
                                 QIODevice *body, std::optional<qint64> expected,
                                 const std::vector<UpstreamWindow> &whole, bool record, FetchReport &report,
                                 std::vector<Unseen> *unseen)
{
    const std::unique_ptr<Catalogue::Writer> made = catalogue.writer(key());
    Catalogue::Writer &writer = *made;
    if (!writer.begin()) {
        report.error = QStringLiteral("the catalogue cannot be written: %1").arg(writer.error());
        return Stored::Failed;
    }
    QString writeError;
    const UpstreamWindow piece = stored.value_or(UpstreamWindow());
    if (body) {
        const ReadOutcome outcome = read(*body, [&](const EventRow &row) {
            if (!writeError.isEmpty() || !inWindow(row, piece))
                return;
            if (!(isWithdrawn(row) ? writer.remove(row.publicId) : writer.write(row)))
                writeError = writer.error();
        });
        if (outcome.failed()) {
            report.error = QStringLiteral("the reply is not %1 (line %2: %3)")
                               .arg(format()).arg(outcome.errorLine).arg(outcome.error);
            return Stored::Failed;
        }
        if (outcome.format != format()) {
            report.error = QStringLiteral("the reply is %1, not %2").arg(outcome.format, format());
            return Stored::Failed;
        }
        // A reply with fewer rows than the service announced was cut short.
        const qint64 rows = outcome.rows + outcome.skippedRows();
        if (expected && rows < *expected) {
            report.error = QStringLiteral("the reply holds %1 of the %2 events that the service counted")
                               .arg(rows).arg(*expected);
            return Stored::Failed;
        }
        // One that holds as many as a reply may was cut there, most likely.
        if (rows >= m_options.quakeSearchLimit) {
            report.error = QStringLiteral("the reply holds %1 events, as many as one reply may").arg(rows);
            return Stored::Capped;
        }
        report.skipped += outcome.skippedRows();
    }
    // What the upstream no longer holds in the box may be gone there too;
    // a window of what changed after a time says nothing of the rest.
    if (stored && unseen && writeError.isEmpty() && !piece.updatedAfterUs && !writer.unseen(piece, unseen))
        writeError = writer.error();
    bool recorded = !stored || !record || writer.recordFetched(key(), piece);
    for (const UpstreamWindow &window : whole)
        recorded = recorded && writer.recordFetched(key(), window);
    if (!writeError.isEmpty() || !recorded || !writer.commit()) {
        report.error = QStringLiteral("the catalogue cannot be written: %1")
                           .arg(writeError.isEmpty() ? writer.error() : writeError);
        return Stored::Failed;
    }
    report.added += writer.added();
    report.updated += writer.updated();
    report.removed += writer.removed();
    report.piecesStored += stored && record ? 1 : 0;
    return Stored::Done;
}

bool Upstream::confirmGone(const Catalogue &catalogue, const UpstreamWindow &window, std::vector<Unseen> missing,
                           FetchReport &report)
{
    constexpr std::int64_t secondUs = 1000000;
    // A revision may move an event's time out of the window (past its end,
    // into the next day): it is looked for this far either side of the
    // time it had.
    constexpr std::int64_t revisedUs = 60 * secondUs;
    // A few events, or a window too short to halve: each is asked for in
    // the two minutes around it, which no cap cuts.
    if (missing.size() <= 2 || window.endUs - window.startUs <= 2 * secondUs) {
        for (const Unseen &event : missing) {
            // Anywhere: an event moved out of the region is not gone.
            UpstreamWindow own = window;
            own.startUs = event.originTimeUs - revisedUs;
            own.endUs = event.originTimeUs + revisedUs;
            own.region = SearchRegion();
            std::vector<Unseen> unseen;
            const Answer answer = fetchWindow(catalogue, own, {}, false, report, unseen);
            if (answer == Answer::Failed || answer == Answer::TooBig)
                return false;
            const bool gone = std::any_of(unseen.begin(), unseen.end(),
                                          [&](const Unseen &other) { return other.publicId == event.publicId; });
            if (gone && !letGo(catalogue, { event }, report))
                return false;
        }
        return true;
    }
    UpstreamWindow early = window, late = window;
    early.endUs = late.startUs = window.startUs + (window.endUs - window.startUs) / 2;
    for (const UpstreamWindow &half : { early, late }) {
        std::vector<Unseen> inHalf;
        for (const Unseen &event : missing) {
            if (event.originTimeUs >= half.startUs && event.originTimeUs < half.endUs)
                inHalf.push_back(event);
        }
        if (inHalf.empty())
            continue;
        std::vector<Unseen> unseen;
        const Answer answer = fetchWindow(catalogue, half, {}, false, report, unseen);
        if (answer == Answer::Failed)
            return false;
        report.error.clear();
        if (answer == Answer::Nothing) {
            if (!letGo(catalogue, inHalf, report))
                return false;
            continue;
        }
        // Still missing from the half's reply, or the half too big to say.
        std::vector<Unseen> still;
        for (Unseen &event : inHalf) {
            if (answer == Answer::TooBig
                || std::any_of(unseen.begin(), unseen.end(),
                               [&](const Unseen &other) { return other.publicId == event.publicId; }))
                still.push_back(std::move(event));
        }
        if (!still.empty() && !confirmGone(catalogue, half, std::move(still), report))
            return false;
    }
    return true;
}

Upstream::Answer Upstream::fetchWindow(const Catalogue &catalogue, const UpstreamWindow &window,
                                       const std::vector<UpstreamWindow> &whole, bool record, FetchReport &report,
                                       std::vector<Unseen> &unseen)
{
    QTemporaryFile body;
    std::optional<qint64> expected;
    const Answer answer = ask(window, body, expected, report);
    if (answer == Answer::Failed || answer == Answer::TooBig)
        return answer;
    if (answer == Answer::Events)
        body.seek(0);
    switch (store(catalogue, window, answer == Answer::Events ? &body : nullptr, expected, whole, record, report,
                  &unseen)) {
    case Stored::Failed:
        return Answer::Failed;
    case Stored::Capped:
        return Answer::TooBig;
    case Stored::Done:
        break;
    }
    return answer;
}

bool Upstream::letGo(const Catalogue &catalogue, const std::vector<Unseen> &gone, FetchReport &report)
{
    const std::unique_ptr<Catalogue::Writer> made = catalogue.writer(key());
    Catalogue::Writer &writer = *made;
    bool written = writer.begin();
    for (std::size_t i = 0; written && i < gone.size(); ++i)
        written = writer.remove(gone[i].publicId);
    if (!written || !writer.commit()) {
        report.error = QStringLiteral("the catalogue cannot be written: %1").arg(writer.error());
        return false;
    }
    report.removed += writer.removed();
    report.confirmed += int(gone.size());
    return true;
}

Upstream::Answer Upstream::answerOf(int status, QTemporaryFile &body, const QString &endpoint, FetchReport &report)
{
    if (status == 200)
        return Answer::Events;
    if (status == 204)
        return Answer::Nothing;
    // The service's own words: FDSN's error text puts them after a line
    // "Error 400: Bad Request"; others answer them alone, or HTML.
    body.seek(0);
    QString words;
    for (int lines = 0; lines < 8 && words.isEmpty() && !body.atEnd(); ++lines) {
        const QString line = QString::fromUtf8(body.readLine(4096)).simplified();
        if (!line.startsWith(QLatin1String("Error ")) && !line.startsWith(u'<'))
            words = line.left(300);
    }
    static const QRegularExpression tooMany(QStringLiteral("\\b(exceeds?|too many|too large|too much)\\b"),
                                            QRegularExpression::CaseInsensitiveOption);
    if (status == 413 || (status == 400 && tooMany.match(words).hasMatch())) {
        report.error = words.isEmpty() ? QStringLiteral("the service refuses the events (HTTP %1)").arg(status)
                                       : QStringLiteral("the service refuses the events (HTTP %1: %2)").arg(status).arg(words);
        return Answer::TooBig;
    }
    report.error = words.isEmpty() ? QStringLiteral("%1 answered HTTP %2").arg(endpoint).arg(status)
                                   : QStringLiteral("%1 answered HTTP %2: %3").arg(endpoint).arg(status).arg(words);
    return Answer::Failed;
}

Upstream::Response Upstream::get(const QString &pathAndQuery, QIODevice &body)
{
    Response response;
    {
        std::unique_lock<std::mutex> lock(m_gateMutex);
        if (!m_gateFree.wait_for(lock, std::chrono::seconds(m_options.timeoutSeconds),
                                 [this] { return m_active < m_options.maxConcurrentRequests; })) {
            response.error = QStringLiteral("no answer within %1 s").arg(m_options.timeoutSeconds);
            return response;
        }
        ++m_active;
    }

    const std::string origin = m_url.toString(QUrl::RemovePath | QUrl::RemoveQuery | QUrl::RemoveFragment
                                              | QUrl::StripTrailingSlash).toStdString();
    httplib::Client client(origin);
    // A connection is quick or not at all; after that, a request may take
    // as long as it keeps making progress.
    client.set_connection_timeout(m_options.connectSeconds, 0);
    client.set_read_timeout(m_options.timeoutSeconds, 0);
    client.set_follow_location(true);
#ifdef CPPHTTPLIB_OPENSSL_SUPPORT
    client.enable_server_certificate_verification(true);
#endif
    const httplib::Headers headers = { { "User-Agent", "Harvix/" HARVIX_VERSION " (harvix-gateway)" } };
    bool tooLong = false;
    const std::string path = (m_url.path(QUrl::FullyEncoded) + pathAndQuery).toStdString();
    const httplib::Result result = client.Get(
        path, headers,
        [&response](const httplib::Response &reply) {
            response.status = reply.status;
            return true;
        },
        [&](const char *data, std::size_t length) {
            if (body.size() + qint64(length) > m_options.maxReplyBytes) {
                tooLong = true;
                return false;
            }
            return body.write(data, qint64(length)) == qint64(length);
        });
    if (result)
        response.status = result->status;   // also where there was no body to receive
    if (!result) {
        switch (result.error()) {
        case httplib::Error::Connection:
            response.error = QStringLiteral("could not establish connection");
            m_unreachableUntilMs = QDateTime::currentMSecsSinceEpoch() + qint64(m_options.unreachableSeconds) * 1000;
            break;
        case httplib::Error::SSLConnection:
            response.error = QStringLiteral("the TLS connection failed");
            break;
        case httplib::Error::SSLServerVerification:
            response.error = QStringLiteral("the server's certificate was not accepted");
            break;
        case httplib::Error::Read:
            response.error = QStringLiteral("no progress for %1 s, or the connection broke").arg(m_options.timeoutSeconds);
            break;
        case httplib::Error::Canceled:
            response.error = tooLong ? QStringLiteral("the reply is larger than %1 MiB, more than is kept")
                                           .arg(m_options.maxReplyBytes >> 20)
                                     : QStringLiteral("the reply could not be kept (%1)").arg(body.errorString());
            break;
        default:
            response.error = QStringLiteral("the transfer failed (%1)")
                                 .arg(QString::fromStdString(httplib::to_string(result.error())));
        }
    }

    {
        std::lock_guard<std::mutex> lock(m_gateMutex);
        --m_active;
    }
    m_gateFree.notify_one();
    return response;
}

// A region's parameters, asked a little wider than the region.
QString Upstream::regionQuery(const SearchRegion &region, QueryKeys::Region style)
{
    constexpr double degreesMargin = 0.01, kmMargin = 0.1;
    const auto number = [](double value) { return QString::number(value, 'g', 10); };
    QString query;
    if (region.minDepthKm)
        query += QStringLiteral("&mindepth=") + number(*region.minDepthKm - kmMargin);
    if (region.maxDepthKm)
        query += QStringLiteral("&maxdepth=") + number(*region.maxDepthKm + kmMargin);
    if (style == QueryKeys::Region::Fdsn && region.circle) {
        // FDSN services measure circles themselves, right across 180.
        const double degrees = region.circle->radiusKm / Projection::EarthRadiusKm * 180 / M_PI;
        return query + QStringLiteral("&latitude=%1&longitude=%2&maxradius=%3")
                           .arg(number(region.circle->centre.latitude),
                                number(Geo::periodicLongitude(region.circle->centre.longitude)),
                                number(std::min(180.0, degrees + degreesMargin)));
    }
    const std::vector<SearchRegion::Box> envelopes = region.envelopes();
    if (envelopes.empty())
        return query;
    const SearchRegion::Box &box = envelopes.front();   // the box, or the circle's
    const double south = std::max(-90.0, box.south - degreesMargin), north = std::min(90.0, box.north + degreesMargin);
    const double width = box.width() + 2 * degreesMargin;
    const double west = width >= 360 ? -180 : Geo::periodicLongitude(box.west - degreesMargin);
    const double east = width >= 360 ? 180 : west + width;
    if (style == QueryKeys::Region::QuakeSearch)
        return query + QStringLiteral("&bbox=%1,%2,%3,%4").arg(number(west), number(south), number(east), number(north));
    // Not every FDSN service takes a box across 180: that one is asked by
    // its latitudes alone.
    query += QStringLiteral("&minlatitude=%1&maxlatitude=%2").arg(number(south), number(north));
    if (east <= 180)
        query += QStringLiteral("&minlongitude=%1&maxlongitude=%2").arg(number(west), number(east));
    return query;
}

QString Upstream::windowQuery(const UpstreamWindow &window, const QueryKeys &keys)
{
    constexpr std::int64_t secondUs = 1000000;
    constexpr double magnitudeMargin = 0.05;
    QString query = QStringLiteral("%1=%2&%3=%4")
                        .arg(QLatin1String(keys.start), UpstreamTime::text(window.startUs - secondUs),
                             QLatin1String(keys.end), UpstreamTime::text(window.endUs + secondUs));
    if (window.minMagnitude)
        query += QStringLiteral("&%1=%2").arg(QLatin1String(keys.minMagnitude)).arg(*window.minMagnitude - magnitudeMargin);
    if (window.maxMagnitude)
        query += QStringLiteral("&%1=%2").arg(QLatin1String(keys.maxMagnitude)).arg(*window.maxMagnitude + magnitudeMargin);
    if (window.updatedAfterUs)
        query += QStringLiteral("&%1=%2").arg(QLatin1String(keys.updatedAfter), UpstreamTime::text(*window.updatedAfterUs));
    return query + regionQuery(window.region, keys.region);
}

bool Upstream::fetchInto(QTemporaryFile &body, const QString &pathAndQuery, Response &response,
                         FetchReport &report)
{
    if (!body.open()) {
        report.error = QStringLiteral("no temporary file for the reply");
        return false;
    }
    ++report.requests;
    response = get(pathAndQuery, body);
    report.error = response.error;
    return response.error.isEmpty();
}

bool Upstream::endsInsideLine(QTemporaryFile &body)
{
    return body.size() > 0 && (!body.seek(body.size() - 1) || body.read(1) != "\n");
}
