#include "upstream/upstreamhttp.h"

#include "geo/projection.h"
#include "quakeml/text.h"

#include <QDateTime>
#include <QRegularExpression>
#include <QTemporaryFile>

#include <httplib.h>

#include <algorithm>
#include <cmath>

QString UpstreamTime::text(std::int64_t microseconds)
{
    std::string out;
    Text::appendTime(out, microseconds);
    return QString::fromStdString(out);
}

UpstreamHttp::UpstreamHttp(const QUrl &url, const UpstreamOptions &options)
    : m_url(url)
    , m_options(options)
{
}

bool UpstreamHttp::isUnreachable() const
{
    return QDateTime::currentMSecsSinceEpoch() < m_unreachableUntilMs;
}

UpstreamClient::Asked UpstreamHttp::fetch(QTemporaryFile &body, const QString &endpoint, const QString &query,
                                          int &requests)
{
    if (!body.open())
        return { Answer::Failed, QStringLiteral("no temporary file for the reply"), std::nullopt };
    ++requests;
    const Response response = get(endpoint + query, body);
    if (!response.error.isEmpty())
        return { Answer::Failed, response.error, std::nullopt };
    return answerOf(response.status, body, endpoint);
}

UpstreamClient::Asked UpstreamHttp::answerOf(int status, QTemporaryFile &body, const QString &endpoint)
{
    UpstreamClient::Asked asked;
    if (status == 200 || status == 204) {
        asked.answer = status == 200 ? Answer::Events : Answer::Nothing;
        return asked;
    }
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
        asked.error = words.isEmpty() ? QStringLiteral("the service refuses the events (HTTP %1)").arg(status)
                                       : QStringLiteral("the service refuses the events (HTTP %1: %2)").arg(status).arg(words);
        asked.answer = Answer::TooBig;
        return asked;
    }
    asked.error = words.isEmpty() ? QStringLiteral("%1 answered HTTP %2").arg(endpoint).arg(status)
                                   : QStringLiteral("%1 answered HTTP %2: %3").arg(endpoint).arg(status).arg(words);
    return asked;
}

UpstreamHttp::Response UpstreamHttp::get(const QString &pathAndQuery, QIODevice &body)
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
QString UpstreamHttp::regionQuery(const SearchRegion &region, QueryKeys::Region style)
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

QString UpstreamHttp::windowQuery(const UpstreamWindow &window, const QueryKeys &keys)
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

bool UpstreamHttp::endsInsideLine(QTemporaryFile &body)
{
    return body.size() > 0 && (!body.seek(body.size() - 1) || body.read(1) != "\n");
}
